// What the telephone's bell really does when the program rings it: the USB phone's SetRinging
// starts the line chip's own ring cadence (the ring timers its bring-up programs: 2 s on, 4 s
// off) inside call control's cadence (ringing switched on for 3 s, off for 1 s).
#include "unit/device/DeviceTestSupport.h"

#include "device/KwPciPhone.h"
#include "device/KwUsbPhone.h"

#include <string>
#include <vector>

namespace {

class RingCadenceTest : public LabDeviceTest {
  protected:
    // The bell over `ms` of virtual time, sampled every 10 ms: one character per 250 ms slot
    // ('1' when it sounded all through the slot, '0' when silent all through, '~' when mixed),
    // and the milliseconds it sounded.
    void Listen(int ms, std::string& slots, int& soundedMs) {
        int slotOn = 0, slotSamples = 0;
        for (int t = 0; t < ms; t += 10) {
            const bool on = lab.Ringing();
            soundedMs += on ? 10 : 0;
            slotOn += on ? 1 : 0;
            if (++slotSamples == 25) {
                slots += slotOn == 25 ? '1' : slotOn == 0 ? '0' : '~';
                slotOn = slotSamples = 0;
            }
            clock.Advance(10);
        }
    }
};

TEST_F(RingCadenceTest, ProgramCadenceOverTheChipsRingTimers) {
    KwUsbPhone phone(0);
    ASSERT_EQ(1, phone.Initialize());
    // The ring timers as the bring-up leaves them: 16000 and 32000 ticks of 8 kHz.
    EXPECT_EQ(0x3E80, lab.SlicDirect(48) | lab.SlicDirect(49) << 8);
    EXPECT_EQ(0x7D00, lab.SlicDirect(50) | lab.SlicDirect(51) << 8);

    for (int cycle = 0; cycle < 4; ++cycle) {
        SCOPED_TRACE(cycle);
        std::string slots;
        int soundedMs = 0;
        ASSERT_NE(0, phone.SetRinging(1));
        Listen(3000, slots, soundedMs);
        ASSERT_NE(0, phone.SetRinging(0));
        Listen(1000, slots, soundedMs);
        // Each SetRinging (1) starts the chip's cadence afresh: 2 s of bell, then the chip's
        // own silence for the last second of the "on" time, then the program's second off.
        EXPECT_EQ("1111111100000000", slots);
        EXPECT_EQ(2000, soundedMs);
    }
}

// Switching the ringing off in the chip's quiet phase: the bell stays silent at every request
// of the switch, however long each one takes (the other order rang it in between).
TEST_F(RingCadenceTest, SwitchingOffInTheQuietPhaseNeverSoundsTheBell) {
    KwUsbPhone phone(0);
    ASSERT_EQ(1, phone.Initialize());
    ASSERT_NE(0, phone.SetRinging(1));
    clock.Advance(2500); // the chip's own silence
    ASSERT_FALSE(lab.Ringing());
    std::vector<bool> heard;
    lab.SetCallHook([&](const LabCall&) { heard.push_back(lab.Ringing()); });
    ASSERT_NE(0, phone.SetRinging(0));
    lab.SetCallHook(nullptr);
    EXPECT_EQ(std::vector<bool>(heard.size(), false), heard);
    EXPECT_FALSE(heard.empty());
}

// The chip's cadence alone, rung longer than one chip cycle: the bell comes back after 4 s.
TEST_F(RingCadenceTest, ChipCadenceRepeatsWhileRinging) {
    KwUsbPhone phone(0);
    ASSERT_EQ(1, phone.Initialize());
    ASSERT_NE(0, phone.SetRinging(1));
    std::string slots;
    int soundedMs = 0;
    Listen(12000, slots, soundedMs);
    EXPECT_EQ("11111111"
              "0000000000000000"
              "11111111"
              "0000000000000000",
              slots);
    EXPECT_EQ(4000, soundedMs);
}

// The PCI card's driver leaves the ring timers alone: its telephone rings for as long as the
// program rings it. Refusing the bridge requests it never needs changes nothing of that.
TEST_F(RingCadenceTest, PciCardRingsOnWithBridgeRequestsRefused) {
    lab.SetProductId(1);
    lab.RefuseCode(VC_REGISTER_REQUEST, true);
    int product = 0;
    ASSERT_EQ(1, DevOpen(&product));
    KwPciPhone phone;
    EXPECT_EQ(1, phone.Initialize());
    EXPECT_NE(0, phone.SetRinging(1));
    std::string slots;
    int soundedMs = 0;
    Listen(7000, slots, soundedMs);
    EXPECT_EQ(std::string(28, '1'), slots);
    lab.LiftReceiver();
    EXPECT_EQ(1, phone.IsOffHook());
    EXPECT_EQ(1, phone.PollEvent());
    EXPECT_EQ(142, phone.GetEventKey());
    EXPECT_NE(0, phone.PlayTone(2, 1));
    EXPECT_EQ(440, lab.Tone().frequency1);
    EXPECT_NE(0, phone.SetRinging(0));
    EXPECT_FALSE(lab.Ringing());
    EXPECT_EQ(0, lab.InjectedFailures()); // none of it needed the bridge
}

} // namespace
