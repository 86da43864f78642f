// The first-generation USB handsets against the lab's keypad, sounder, relay and settings memory,
// all seen through the bridge pins.
#include "DeviceTestSupport.h"
#include "device/KwUsbHandset.h"
#include "device/PhoneCatalogue.h"

#include <memory>
#include <typeinfo>

namespace {

template <typename Phone> class HandsetTest : public LabDeviceTest {
  protected:
    void Open(int productId, bool initialize = true) {
        lab.SetProductId(productId);
        int id = 0;
        DevOpen(&id);
        if (initialize) phone.Initialize();
        lab.ClearCalls();
    }
    int ColumnReads() {
        int n = 0;
        for (const LabCall& c : lab.Calls())
            n += c.target == LabTarget::Bridge && !c.write && c.reg == kHandsetColumnRegister;
        return n;
    }
    Phone phone;
};

using KeypadTest = HandsetTest<KwUsbHandset>;
using RelayTest = HandsetTest<KwUsbHandsetRelay>;
using EepromTest = HandsetTest<KwUsbHandsetEeprom>;
using BasicTest = HandsetTest<KwUsbHandsetBasic>;

} // namespace

TEST_F(KeypadTest, InitializeSilencesTheSounderThenRaisesEveryRow) {
    lab.SetProductId(0xB210);
    WatchLock();
    EXPECT_EQ(1, phone.Initialize());
    const std::vector<std::string> expected = {
        "b18?",   "b19?",   "b18=20", "b19=20", // sounder high first
        "b18?",   "b19?",   "b18=21", "b19=21", "b18?",   "b19?",  "b18=23",
        "b19=23", "b18?",   "b19?",   "b18=27", "b19=27", "b18?",  "b19?",
        "b18=2f", "b19=2f", "b18?",   "b19?",   "b18=3f", "b19=3f"};
    EXPECT_TRUE(SameOps(expected, TakeOps()));
    EXPECT_TRUE(AllCallsLocked());
    EXPECT_FALSE(lab.Sounding());
}

TEST_F(KeypadTest, AScanWithoutKeysDrivesEachRowAndLeavesTheLastOne) {
    Open(0xB210);
    WatchLock();
    EXPECT_EQ(0, phone.PollEvent());
    EXPECT_EQ(kEventNone, phone.lastEvent);
    const std::vector<std::string> expected = {"b18?",   "b18=3e", "b192?",  "b18=3d", "b192?",
                                               "b18=37", "b192?",  "b18=2f", "b192?"};
    EXPECT_TRUE(SameOps(expected, TakeOps()));
    EXPECT_TRUE(AllCallsLocked());
    EXPECT_EQ(0x2F, lab.BridgeRegister(18) & 0x3F);
}

TEST_F(KeypadTest, EveryKeyOfTheMatrixOncePerPress) {
    Open(0xB210);
    struct Case {
        char key;
        int32_t event;
        PhoneKey code;
    };
    const Case cases[] = {
        {'1', 1, '1'},       {'2', 2, '2'}, {'3', 3, '3'},       {'A', 13, 138},
        {'4', 4, '4'},       {'5', 5, '5'}, {'6', 6, '6'},       {'B', 14, 13},
        {'7', 7, '7'},       {'8', 8, '8'}, {'9', 9, '9'},       {'C', 15, 8},
        {'*', 11, kKeyStar}, {'0', 0, '0'}, {'#', 12, kKeyHash}, {'D', 16, 139},
    };
    // Typed ahead: each press is scanned once, in order.
    for (const Case& c : cases)
        ASSERT_TRUE(lab.TapKey(c.key));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        ASSERT_EQ(1, phone.PollEvent());
        EXPECT_EQ(c.event, phone.lastEvent);
        EXPECT_EQ(c.code, phone.GetEventKey());
    }
    EXPECT_EQ(0, phone.PollEvent());
}

TEST_F(KeypadTest, EventIndicesTranslateByTheHandsetTable) {
    struct Case {
        int32_t event;
        PhoneKey code;
    };
    const Case cases[] = {{0, '0'},
                          {9, '9'},
                          {10, kKeyNone},
                          {11, kKeyStar},
                          {12, kKeyHash},
                          {13, 138},
                          {14, 13},
                          {15, 8},
                          {16, 139},
                          {17, kKeyNone},
                          {256, kKeyNone},
                          {257, kKeyNone},
                          {kEventNone, kKeyNone}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.event);
        phone.lastEvent = c.event;
        EXPECT_EQ(c.code, phone.GetEventKey());
    }
    EXPECT_EQ(0, lab.CallCount()); // translation alone reaches no device
}

TEST_F(KeypadTest, TwoKeysInOneRowGiveNoMatchButLaterRowsStillCount) {
    Open(0xB210);
    lab.PressKey('1', true);
    lab.PressKey('2', true);
    EXPECT_EQ(0, phone.PollEvent());
    EXPECT_EQ(4, ColumnReads()); // every row looked at, no release wait
    lab.ClearCalls();

    lab.TapKey('5');
    EXPECT_EQ(1, phone.PollEvent());
    EXPECT_EQ(5, phone.lastEvent);
}

TEST_F(KeypadTest, AHeldKeyEndsTheReleaseWaitAndComesAgain) {
    Open(0xB210);
    lab.PressKey('8', true);
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        EXPECT_EQ(1, phone.PollEvent());
        EXPECT_EQ(8, phone.lastEvent);
        EXPECT_EQ(3 + kHandsetReleaseReads, ColumnReads()); // rows 0 to 2, then the wait
        lab.ClearCalls();
    }
    lab.PressKey('8', false);
    EXPECT_EQ(0, phone.PollEvent());
}

TEST_F(KeypadTest, AFailedRequestEndsTheScanWithoutAnEvent) {
    Open(0xB210);
    lab.TapKey('3');
    phone.lastEvent = 3;
    lab.FailReads(LabTarget::Bridge, 18, 1);
    EXPECT_EQ(0, phone.PollEvent());
    EXPECT_EQ(kEventNone, phone.lastEvent);
    EXPECT_TRUE(SameOps({"b18?!"}, TakeOps()));

    lab.FailReads(LabTarget::Bridge, kHandsetColumnRegister, 1);
    EXPECT_EQ(0, phone.PollEvent());
    EXPECT_TRUE(SameOps({"b18?", "b18=3e", "b192?!"}, TakeOps()));

    EXPECT_EQ(1, phone.PollEvent()); // the key is still there to be found
    EXPECT_EQ(3, phone.lastEvent);
}

TEST_F(KeypadTest, SounderFollowsSetRingingAndSurvivesScans) {
    Open(0xB210);
    EXPECT_EQ(1, phone.SetRinging(1));
    EXPECT_TRUE(SameOps({"b18?", "b19?", "b18=1f", "b19=3f"}, TakeOps()));
    EXPECT_TRUE(lab.Sounding());
    EXPECT_TRUE(lab.Ringing());
    EXPECT_EQ(1, lab.Control("sounder?"));
    phone.PollEvent(); // the scan keeps the sounder pin as it found it
    EXPECT_TRUE(lab.Sounding());
    EXPECT_EQ(1, phone.SetRinging(0));
    EXPECT_FALSE(lab.Sounding());
    EXPECT_EQ(0, lab.Control("sounder?"));
}

TEST_F(KeypadTest, WhatTheHandsetIsAndLacks) {
    Open(0xB210);
    uint16_t word = 0x5555;
    EXPECT_EQ(1, phone.IsOffHook()); // no hook switch the program can read
    EXPECT_EQ(1, phone.HasRinger());
    EXPECT_EQ(1, phone.NeedsPolling());
    EXPECT_EQ(0, phone.HasRelay());
    EXPECT_EQ(0, phone.SetRelay(1));
    EXPECT_EQ(0, phone.HasSlic());
    EXPECT_EQ(0, phone.PlayTone(0, 1));
    EXPECT_EQ(0, phone.ReadEeprom(0, &word));
    EXPECT_EQ(0x5555, word);
    EXPECT_EQ(0, phone.WriteEeprom(0, 1));
    EXPECT_EQ(0, phone.VendorCall49());
    EXPECT_EQ(0, lab.CallCount());
}

TEST(HandsetCatalogue, EachProductGetsItsHandsetClass) {
    struct Case {
        int32_t id;
        const std::type_info& type;
    };
    const Case cases[] = {{0xB210, typeid(KwUsbHandset)},
                          {0xB211, typeid(KwUsbHandsetRelay)},
                          {0xB212, typeid(KwUsbHandsetEeprom)},
                          {0x8250, typeid(KwUsbHandsetBasic)}};
    for (const Case& c : cases) {
        std::unique_ptr<PhoneDevice> phone = CreatePhoneDevice(c.id);
        ASSERT_NE(nullptr, phone);
        EXPECT_TRUE(typeid(*phone) == c.type) << std::hex << c.id;
    }
}

TEST_F(RelayTest, NoSetUpYetScanningRingingAndTheRelayWork) {
    Open(0xB211, false);
    EXPECT_EQ(1, phone.Initialize());
    EXPECT_EQ(0, lab.CallCount());
    EXPECT_EQ(1, phone.HasRelay());

    lab.TapKey('7');
    EXPECT_EQ(1, phone.PollEvent());
    EXPECT_EQ('7', phone.GetEventKey());
    phone.SetRinging(1);
    EXPECT_TRUE(lab.Sounding());

    EXPECT_EQ(1, phone.SetRelay(1));
    EXPECT_TRUE(lab.RelayOn());
    EXPECT_EQ(1, phone.SetRelay(0));
    EXPECT_FALSE(lab.RelayOn());
    // The relay pin is also a keypad row: a scan leaves it high again.
    phone.PollEvent();
    EXPECT_TRUE(lab.RelayOn());
}

namespace {

// The bits the memory was sent: data-in at every rising clock while selected, up to the first
// read of the pins (the memory's answer).
std::vector<int> BitsSent(const std::vector<LabCall>& calls) {
    std::vector<int> bits;
    bool select = false, clock = false;
    for (const LabCall& c : calls) {
        if (c.target != LabTarget::Bridge) continue;
        if (!c.write && c.reg == 18 && select) break;
        if (!c.write || c.bytes.empty()) continue;
        if (c.reg == 0) select = c.bytes[0] & 1;
        if (c.reg != 18) continue;
        const bool high = c.bytes[0] & 0x10;
        if (select && high && !clock) bits.push_back((c.bytes[0] & 0x40) ? 1 : 0);
        clock = high;
    }
    return bits;
}

} // namespace

TEST_F(EepromTest, InitializePreparesTheMemoryPins) {
    Open(0xB212, false);
    EXPECT_EQ(1, phone.Initialize());
    std::vector<std::string> ops = TakeOps();
    ASSERT_EQ(27u, ops.size());
    const std::vector<std::string> tail(ops.end() - 3, ops.end());
    EXPECT_TRUE(SameOps({"b18?", "b19?", "b19=7f"}, tail));
    EXPECT_EQ(0x7F, phone.pinDirections); // clock and data in out, data out in
    EXPECT_EQ(0x3F, phone.pinImage & 0x7F);
}

TEST_F(EepromTest, AWordWrittenReadsBack) {
    Open(0xB212);
    WatchLock();
    EXPECT_EQ(1, phone.WriteEeprom(5, 0xBEEF));
    EXPECT_EQ(0xBEEF, lab.EepromWord(5));
    uint16_t word = 0;
    EXPECT_EQ(1, phone.ReadEeprom(5, &word));
    EXPECT_EQ(0xBEEF, word);
    EXPECT_TRUE(AllCallsLocked());

    const std::vector<LabEepromCommand> cmds = lab.EepromCommands();
    ASSERT_EQ(4u, cmds.size());
    EXPECT_EQ(LabEepromOp::WriteEnable, cmds[0].op);
    EXPECT_EQ(LabEepromOp::Write, cmds[1].op);
    EXPECT_EQ(5, cmds[1].address);
    EXPECT_FALSE(cmds[1].refused);
    EXPECT_EQ(LabEepromOp::WriteDisable, cmds[2].op);
    EXPECT_EQ(LabEepromOp::Read, cmds[3].op);
    EXPECT_FALSE(lab.Sounding()); // the memory's pins never touch the sounder
}

TEST_F(EepromTest, ReadOfTheLastAddressSendsItsBitsAndTakesMsbFirst) {
    Open(0xB212);
    lab.SetEepromWord(0x3F, 0x8001);
    uint16_t word = 0;
    EXPECT_EQ(1, phone.ReadEeprom(0x3F, &word));
    // Start bit, read, six address bits; the reading clocks follow with data in held low.
    std::vector<int> bits = BitsSent(lab.Calls());
    ASSERT_GE(bits.size(), 9u);
    bits.resize(9);
    EXPECT_EQ((std::vector<int>{1, 1, 0, 1, 1, 1, 1, 1, 1}), bits);
    EXPECT_EQ(0x8001, word);
    EXPECT_EQ(0, lab.BridgeRegister(0) & 1); // deselected afterwards
}

TEST_F(EepromTest, WriteWaitsForTheMemoryAndReportsOneThatNeverFinishes) {
    Open(0xB212);
    lab.SetEepromBusyClocks(4); // ready by the last trailing clock
    EXPECT_EQ(1, phone.WriteEeprom(9, 0x1234));
    EXPECT_EQ(0x1234, lab.EepromWord(9));

    lab.SetEepromBusyClocks(1000); // still busy after every sample
    lab.ClearCalls();
    EXPECT_EQ(0, phone.WriteEeprom(10, 0x4321));
    // The samples of data out are the one run of pin reads without writes in between.
    int samples = 0, run = 0;
    for (const LabCall& c : lab.Calls()) {
        if (c.target != LabTarget::Bridge) continue;
        run = (!c.write && c.reg == 18) ? run + 1 : 0;
        if (run > samples) samples = run;
    }
    EXPECT_EQ(100, samples);
    EXPECT_EQ(0, lab.BridgeRegister(0) & 1); // deselected afterwards
}

TEST_F(EepromTest, UnreadableConfigRegisterLeavesThePinsAlone) {
    Open(0xB212);
    uint16_t word = 0x77;
    lab.FailReads(LabTarget::Bridge, 0, 1);
    EXPECT_EQ(0, phone.ReadEeprom(3, &word));
    EXPECT_EQ(0x77, word);
    lab.FailReads(LabTarget::Bridge, 0, 1);
    EXPECT_EQ(0, phone.WriteEeprom(3, 1));
    EXPECT_TRUE(SameOps({"b0?!", "b0?!"}, TakeOps()));
    EXPECT_EQ(0, phone.ReadEeprom(3, nullptr));
    EXPECT_EQ(0, lab.CallCount());
}

TEST_F(BasicTest, KeepsOnlyAHookState) {
    Open(0x8250, false);
    EXPECT_EQ(1, phone.Initialize());
    EXPECT_EQ(1, phone.IsOffHook());
    EXPECT_EQ(0, phone.NeedsPolling());
    EXPECT_EQ(0, phone.PollEvent());
    EXPECT_EQ(kKeyNone, phone.GetEventKey());
    EXPECT_EQ(0, phone.HasRinger());
    EXPECT_EQ(0, phone.SetRinging(1));
    EXPECT_EQ(0u, phone.StartWindowTimer(1, 2, 3));
    EXPECT_EQ(0, lab.CallCount());

    EXPECT_EQ(1, phone.SetHookState(0));
    EXPECT_EQ(0, phone.IsOffHook());
    EXPECT_EQ(0x02, lab.BridgeRegister(18) & 0x02); // hook output high: on hook
    EXPECT_EQ(1, phone.SetHookState(1));
    EXPECT_EQ(1, phone.IsOffHook());
    EXPECT_EQ(0, lab.BridgeRegister(18) & 0x02);
}

TEST_F(KeypadTest, ScenarioCommandsDriveTheKeypad) {
    Open(0xB210);
    EXPECT_EQ(1, lab.Control("key 9 down"));
    EXPECT_EQ(1, lab.Control("key # down"));
    EXPECT_EQ(1, phone.PollEvent()); // row 2 comes before row 3
    EXPECT_EQ(9, phone.lastEvent);
    EXPECT_EQ(1, lab.Control("key 9 up"));
    EXPECT_EQ(1, phone.PollEvent());
    EXPECT_EQ(kEventHash, phone.lastEvent);
    EXPECT_EQ(1, lab.Control("key # up"));
    EXPECT_EQ(1, lab.Control("key d"));
    EXPECT_EQ(1, phone.PollEvent());
    EXPECT_EQ(16, phone.lastEvent);
    EXPECT_EQ(0, phone.PollEvent());
    for (const char* bad : {"key Z", "key 1 sideways", "key 12", "eeprom 64", "eeprom -1"})
        EXPECT_EQ(-1, lab.Control(bad)) << bad;
}
