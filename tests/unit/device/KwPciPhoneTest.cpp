// The PCI card against the lab: events from the card's driver, the card's own tone timers, the
// line chip for ringing and hook, and the pass-through functions.
#include "DeviceTestSupport.h"
#include "device/KwPciPhone.h"
#include "device/PhoneCatalogue.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <memory>

namespace {

class PciTest : public LabDeviceTest {
  protected:
    void SetUp() override {
        LabDeviceTest::SetUp();
        lab.SetProductId(kProductPci);
        int id = 0;
        DevOpen(&id);
        lab.ClearCalls();
    }
    KwPciPhone phone;
};

std::string Hex2(int v) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x", v);
    return text;
}

} // namespace

TEST(PciToneTimer, WholeEighthsTimesThousandKeptTo16Bits) {
    struct Case {
        double seconds;
        int timer;
    };
    const Case cases[] = {
        {8.0, 64000}, {0.5, 4000},
        {2.0, 16000}, {4.0, 32000},
        {1.0, 8000},  {3.0, 24000},
        {0.25, 2000}, {0.3, 2000},
        {0.2, 1000},  {0.1, 0},
        {0, 0},       {10.0, (80 * 1000) & 0xFFFF}, // beyond the register: kept to 16 bits
        {1e300, 0},                                 // nonsense gives 0, never undefined behaviour
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(c.timer, PciToneTimerFor(c.seconds));
    }
    EXPECT_EQ(0, PciToneTimerFor(std::nan("")));
}

TEST_F(PciTest, InitializeEnablesHookInterruptsOnly) {
    WatchLock();
    EXPECT_EQ(1, phone.Initialize());
    EXPECT_TRUE(SameOps({"d22=03"}, TakeOps()));
    EXPECT_TRUE(AllCallsLocked());
}

TEST_F(PciTest, Tone5ProgramsTheCardsTimers2000And1000) {
    WatchLock();
    EXPECT_EQ(1, phone.PlayTone(5, 1));
    // 480 + 620 Hz; 0.3 s -> 2000 (0x07d0), 0.2 s -> 1000 (0x03e8), not 2400 and 1600.
    const std::vector<std::string> expected = {
        "i13=7702", "i14=030d", "i15=0000", "d36=d0", "d37=07", "d38=e8", "d39=03", "i16=711f",
        "i17=03f9", "i18=0000", "d40=d0",   "d41=07", "d42=e8", "d43=03", "d32=9f", "d33=9f"};
    EXPECT_TRUE(SameOps(expected, TakeOps()));
    EXPECT_TRUE(AllCallsLocked());
    EXPECT_EQ(480, lab.Tone().frequency1);
    EXPECT_EQ(620, lab.Tone().frequency2);
}

TEST_F(PciTest, EveryToneSoundsItsPairWithTheCardsCadence) {
    // Tones 6 to 21 are the DTMF keys in this order, on the standard row/column grid.
    const char* keys = "0123456789ABCD#*";
    const char* grid = "123A456B789C*0#D";
    const int rows[4] = {697, 770, 852, 941};
    const int cols[4] = {1209, 1336, 1477, 1633};
    const int progress[6][4] = {{350, 440, 64000, 0},     {480, 620, 4000, 4000},
                                {440, 480, 16000, 32000}, {440, 480, 8000, 24000},
                                {480, 620, 2000, 2000},   {480, 620, 2000, 1000}};
    for (int tone = 0; tone < kPciToneCount; ++tone) {
        SCOPED_TRACE(tone);
        int f1, f2, active = 0, inactive = 0;
        if (tone < 6) {
            f1 = progress[tone][0];
            f2 = progress[tone][1];
            active = progress[tone][2];
            inactive = progress[tone][3];
        } else {
            const int at = static_cast<int>(std::strchr(grid, keys[tone - 6]) - grid);
            f1 = rows[at / 4];
            f2 = cols[at % 4];
        }
        ASSERT_EQ(1, phone.PlayTone(tone, 1));
        const LabTone heard = lab.Tone();
        EXPECT_TRUE(heard.on);
        EXPECT_EQ(f1, heard.frequency1);
        EXPECT_EQ(f2, heard.frequency2);
        for (int base : {36, 40}) {
            EXPECT_EQ(active, lab.SlicDirect(base) | lab.SlicDirect(base + 1) << 8);
            EXPECT_EQ(inactive, lab.SlicDirect(base + 2) | lab.SlicDirect(base + 3) << 8);
        }
        EXPECT_EQ(tone < 6 ? 0x9F : 0x97, lab.SlicDirect(32));
        EXPECT_EQ(lab.SlicDirect(32), lab.SlicDirect(33));
    }
}

TEST_F(PciTest, StoppingAndUnknownTones) {
    phone.PlayTone(0, 1);
    lab.ClearCalls();
    EXPECT_EQ(1, phone.PlayTone(9, 0));
    EXPECT_TRUE(SameOps({"d32=00", "d33=00"}, TakeOps()));
    EXPECT_FALSE(lab.Tone().on);
    // No row for these: nothing reaches the card.
    for (int tone : {22, -1, INT_MAX, INT_MIN}) {
        EXPECT_EQ(0, phone.PlayTone(tone, 1));
        EXPECT_EQ(0, lab.CallCount());
    }
}

TEST_F(PciTest, EventsTranslateToKeys) {
    struct Case {
        int event;
        PhoneKey key;
        bool stopsTone;
    };
    const Case cases[] = {
        {0, '0', false},         {1, '1', false},          {9, '9', false},
        {10, '0', false}, // the card's own 0
        {11, kKeyStar, false},   {12, kKeyHash, false},    {13, kKeyNone, false},
        {255, kKeyNone, false},  {258, kKeyNone, false},   {-5, kKeyNone, false},
        {256, kKeyOnHook, true}, {257, kKeyOffHook, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.event);
        lab.QueueEvent(c.event);
        ASSERT_EQ(1, phone.PollEvent());
        EXPECT_EQ(c.event, phone.lastEvent);
        EXPECT_TRUE(SameOps({"c7(0)"}, TakeOps()));
        EXPECT_EQ(c.key, phone.GetEventKey());
        const std::vector<std::string> stop = {"d32=00", "d33=00"};
        EXPECT_TRUE(SameOps(c.stopsTone ? stop : std::vector<std::string>{}, TakeOps()));
    }
}

TEST_F(PciTest, NothingToReportLeavesNoEvent) {
    lab.QueueEvent(4);
    phone.PollEvent();
    EXPECT_EQ(0, phone.PollEvent()); // queue empty
    EXPECT_EQ(kEventNone, phone.lastEvent);
    EXPECT_EQ(kKeyNone, phone.GetEventKey());

    lab.QueueEvent(5);
    lab.FailNext(VC_READ_EVENT);
    EXPECT_EQ(0, phone.PollEvent());
    EXPECT_EQ(kEventNone, phone.lastEvent);
    EXPECT_EQ(1, phone.PollEvent()); // the event waited in the driver
    EXPECT_EQ(5, phone.lastEvent);
}

TEST_F(PciTest, TheTelephoneReachesTheProgramThroughTheDriver) {
    lab.LiftReceiver();
    lab.LiftReceiver(); // no change, no second event
    for (char key : {'5', '0', '*', '#', 'A'})
        EXPECT_TRUE(lab.PressDtmf(key));
    lab.ReplaceReceiver();
    std::vector<PhoneKey> keys;
    while (phone.PollEvent())
        keys.push_back(phone.GetEventKey());
    const std::vector<PhoneKey> expected = {kKeyOffHook, '5', '0', kKeyStar, kKeyHash, kKeyOnHook};
    EXPECT_EQ(expected, keys);
}

TEST_F(PciTest, RingingAndHookGoThroughTheLineChip) {
    WatchLock();
    EXPECT_EQ(1, phone.SetRinging(1));
    EXPECT_TRUE(lab.Ringing());
    EXPECT_EQ(1, phone.SetRinging(0));
    EXPECT_FALSE(lab.Ringing());
    EXPECT_EQ(0, phone.IsOffHook());
    lab.LiftReceiver();
    EXPECT_EQ(1, phone.IsOffHook());
    EXPECT_TRUE(SameOps({"d64=" + Hex2(0x44), "d64=" + Hex2(0x11), "d68?", "d68?"}, TakeOps()));
    EXPECT_TRUE(AllCallsLocked());
    lab.FailNext(VC_SLIC_WRITE_DIRECT);
    EXPECT_EQ(0, phone.SetRinging(1));
}

TEST_F(PciTest, OpeningTheCardFeedsTheLine) {
    // The card's driver powers the line when the library opens it, so the status poll's liveness
    // read of the line feed succeeds before the program has rung the telephone.
    EXPECT_EQ(0x11, lab.SlicDirect(64));
}

TEST_F(PciTest, PassThroughsUnderTheLock) {
    WatchLock();
    char id[32] = {};
    EXPECT_EQ(1, phone.VendorCall48(7));
    EXPECT_EQ(1, phone.VendorCall49());
    EXPECT_EQ(1, phone.VendorCall50(-2));
    EXPECT_EQ(1, phone.GetHardwareId(id, sizeof id));
    EXPECT_STREQ("KESTREL-LAB-0001", id);
    EXPECT_TRUE(SameOps({"c48(7)", "c49(0)", "c50(-2)", "c51(32)"}, TakeOps()));
    EXPECT_TRUE(AllCallsLocked());
}

TEST_F(PciTest, WhatTheCardIsAndLacks) {
    std::unique_ptr<PhoneDevice> made = CreatePhoneDevice(kProductPci);
    ASSERT_NE(nullptr, dynamic_cast<KwPciPhone*>(made.get()));
    uint16_t word = 0;
    EXPECT_EQ(1, phone.HasSlic());
    EXPECT_EQ(1, phone.NeedsPolling());
    EXPECT_EQ(0, phone.HasRinger());
    EXPECT_EQ(0, phone.HasRelay());
    EXPECT_EQ(0, phone.SetRelay(1));
    EXPECT_EQ(0, phone.ReadEeprom(1, &word));
    EXPECT_EQ(0, phone.WriteEeprom(1, 2));
    EXPECT_EQ(kKeyNone, phone.TranslateKey(0x100B5));
    EXPECT_EQ(0, lab.CallCount());
}
