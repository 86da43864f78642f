// The second-generation handset and its front panel against the lab's panel model: the display
// decoded back from the serial frames, the beeper, the settings memory bit by bit.
#include "DeviceTestSupport.h"
#include "device/KwUsb2Handset.h"
#include "device/PhoneCatalogue.h"

#include <memory>

namespace {

class Usb2HandsetTest : public LabDeviceTest {
  protected:
    void SetUp() override {
        LabDeviceTest::SetUp();
        lab.SetProductId(0xF210);
    }
    LabPanel& panel() { return lab.Panel(); }
    // A handset brought up, with the record of its bring-up cleared.
    std::unique_ptr<KwUsb2Handset> Ready() {
        auto handset = std::make_unique<KwUsb2Handset>();
        handset->Initialize();
        lab.ClearCalls();
        panel().Eeprom().ClearCommands();
        return handset;
    }
    std::vector<int> Shown() {
        std::vector<int> d;
        for (int i = 0; i < LabPanel::kDigits; ++i)
            d.push_back(panel().Digit(i));
        return d;
    }
};

constexpr int B = LabPanel::kBlank;

TEST_F(Usb2HandsetTest, BringUpFindsBeeperAndDisplayAndPulsesTheResetPin) {
    lab.SetLatency(0, nullptr);
    KwUsb2Handset handset;
    WatchLock();
    EXPECT_EQ(1, handset.Initialize());
    EXPECT_TRUE(AllCallsLocked());
    EXPECT_EQ(1, handset.buzzerPresent);
    EXPECT_EQ(1, handset.displayPresent);
    EXPECT_TRUE(panel().DisplayOn());
    EXPECT_EQ(std::vector<int>(LabPanel::kDigits, B), Shown());
    EXPECT_EQ(5, panel().MarkPosition());
    EXPECT_EQ(0, panel().BadFrames());

    const std::vector<std::string> ops = TakeOps();
    ASSERT_FALSE(ops.empty());
    EXPECT_EQ("b11=64", ops.front());
    // Pin 0x20 low for a moment, then both pin registers as they were (18 reads 0x80: no line
    // chip interrupt).
    const std::vector<std::string> tail(ops.end() - 6, ops.end());
    EXPECT_TRUE(SameOps({"b18?", "b19?", "b18=80", "b19=20", "b18=80", "b19=00"}, tail));
}

TEST_F(Usb2HandsetTest, BringUpWithoutPanelPeripherals) {
    DeviceLockGuard hold; // as the handset holds it around its panel
    panel().SetFitted(false, false, false);
    KwUsb2Handset handset;
    EXPECT_EQ(1, handset.Initialize());
    EXPECT_EQ(0, handset.buzzerPresent);
    EXPECT_EQ(0, handset.displayPresent);

    lab.ClearCalls();
    EXPECT_EQ(0, handset.ProbeDisplay());
    EXPECT_TRUE(SameOps({"b10=57", "b10?", "b10=00"}, TakeOps()));
    // Without a beeper nothing reaches registers 24 and 26.
    handset.SetBuzzFrequency(2400);
    handset.Buzz(1);
    EXPECT_TRUE(TakeOps().empty());
}

TEST_F(Usb2HandsetTest, FailedPinReadLeavesThePinsAlone) {
    lab.FailReads(LabTarget::Bridge, 19, 1);
    KwUsb2Handset handset;
    handset.Initialize();
    for (const LabRegWrite& w : lab.BridgeWrites()) {
        EXPECT_NE(18, w.reg);
        EXPECT_NE(19, w.reg);
    }
}

TEST_F(Usb2HandsetTest, DigitsFillTheDisplayAndTheFifteenthScrollsInOneStream) {
    DeviceLockGuard hold; // as the handset holds it around its panel
    auto handset = Ready();
    for (int i = 1; i <= 14; ++i)
        handset->KeyInput(static_cast<signed char>('0' + i % 10), 0);
    EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 1, 2, 3, 4}), Shown());
    EXPECT_EQ(14, handset->cursor);

    lab.ClearCalls();
    handset->KeyInput('7', 0);
    EXPECT_EQ((std::vector<int>{2, 3, 4, 5, 6, 7, 8, 9, 0, 1, 2, 3, 4, 7}), Shown());
    const std::vector<LabCall> calls = lab.Calls();
    ASSERT_EQ(3u, calls.size());
    EXPECT_EQ("b10=3d", Op(calls[0]));
    EXPECT_EQ(5, calls[1].request); // every byte to register 10
    EXPECT_EQ(242u, calls[1].bytes.size());
    EXPECT_EQ("b10=3f", Op(calls[2]));
    EXPECT_EQ(5, panel().MarkPosition());
}

TEST_F(Usb2HandsetTest, EditKeysAndTheirTones) {
    DeviceLockGuard hold; // as the handset holds it around its panel
    auto handset = Ready();
    // Backspace on an empty display: its tone, no display traffic.
    handset->KeyInput(8, 1);
    for (const LabRegWrite& w : lab.BridgeWrites())
        EXPECT_NE(10, w.reg);
    handset->KeyInput('5', 1);
    handset->KeyInput('9', 1);
    handset->KeyInput(8, 1);
    EXPECT_EQ(5, panel().Digit(0));
    EXPECT_EQ(B, panel().Digit(1));
    handset->KeyInput(13, 1);
    EXPECT_EQ(0, panel().VisibleDigits());
    handset->KeyInput(static_cast<signed char>(136), 1); // hash: some other key
    // 46875 / (divider + 1) is what the beeper plays for each requested tone.
    EXPECT_EQ(
        (std::vector<int>{46875 / (46875 / 2232), 46875 / (46875 / 1802), 46875 / (46875 / 2130),
                          46875 / (46875 / 2232), 46875 / (46875 / 2232), 46875 / (46875 / 2343)}),
        panel().Beeps());
    EXPECT_FALSE(panel().Sounding()); // every key ends silent
}

TEST_F(Usb2HandsetTest, LcdWriteDigitRejectsBadPositionAndDigit) {
    DeviceLockGuard hold; // as the handset holds it around its panel
    auto handset = Ready();
    EXPECT_EQ(0, handset->LcdWriteDigit(14, 3));
    EXPECT_EQ(0, handset->LcdWriteDigit(0, 11));
    EXPECT_EQ(0, handset->LcdWriteDigit(255, 0));
    EXPECT_EQ(0, lab.CallCount());
    EXPECT_EQ(1, handset->LcdWriteDigit(13, 10));
    EXPECT_EQ(34u, lab.Calls()[1].bytes.size());
}

TEST_F(Usb2HandsetTest, BuzzerDivider) {
    DeviceLockGuard hold; // as the handset holds it around its panel
    auto handset = Ready();
    const struct {
        int hz;
        int divider;
    } cases[] = {{2400, 18}, {183, 255}, {184, 253}, {-5, 255}, {50000, 0}, {46875, 0}, {46874, 0}};
    for (const auto& c : cases) {
        lab.ClearCalls();
        handset->SetBuzzFrequency(c.hz);
        EXPECT_TRUE(SameOps({"b24=" + std::string(1, "0123456789abcdef"[c.divider >> 4]) +
                             "0123456789abcdef"[c.divider & 15]},
                            TakeOps()))
            << c.hz;
    }
}

TEST_F(Usb2HandsetTest, RingsWithThePanelBeeper) {
    auto handset = Ready();
    EXPECT_EQ(1, handset->HasRinger());
    EXPECT_EQ(1, handset->SetRinging(1));
    EXPECT_TRUE(lab.Ringing());
    EXPECT_EQ(46875 / 19, panel().Frequency());
    handset->SetRinging(0);
    EXPECT_FALSE(lab.Ringing());
    EXPECT_EQ(0, handset->NeedsPolling());
}

TEST_F(Usb2HandsetTest, TranslateKeyUsesTheLow16BitsAndShowsTheKey) {
    auto handset = Ready();
    const struct {
        unsigned raw;
        int key;
    } cases[] = {{0x100B5, 53}, {0xB0, 48}, {0xB9, 57},  {0xBA, 106},     {0xBB, 136},
                 {0x26, 138},   {0x2A, 8},  {0x2F, 139}, {0x31, 13},      {0x51, 40},
                 {0x52, 38},    {0x1F, 0},  {0xBC, 0},   {0xFFFF0000u, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(c.key, handset->TranslateKey(c.raw)) << std::hex << c.raw;
    // 0x100B5 and 0xB0: two digits shown; 0x2A deleted the 9, 0x31 cleared them all.
    EXPECT_EQ(0, panel().VisibleDigits());
    handset->TranslateKey(0xB5);
    EXPECT_EQ(5, panel().Digit(0));
}

TEST_F(Usb2HandsetTest, ReleasedThroughThePanelTheDisplayGoesBlankWithoutTheLock) {
    std::unique_ptr<HandsetPanel> asPanel = Ready();
    {
        DeviceLockGuard hold; // as the handset holds it around its panel
        asPanel->KeyInput('4', 0);
    }
    EXPECT_EQ(1, panel().VisibleDigits());
    deviceLock().lock(); // another thread holding the lock does not hold up the release
    std::thread releaser([&] { asPanel.reset(); });
    releaser.join();
    deviceLock().unlock();
    EXPECT_FALSE(panel().DisplayOn());
    EXPECT_EQ(0, panel().VisibleDigits());
    EXPECT_EQ(0, panel().MarkPosition());
}

TEST_F(Usb2HandsetTest, BasicHandsetIsOnlyKeptOpen) {
    std::unique_ptr<PhoneDevice> phone = CreatePhoneDevice(0xF310);
    ASSERT_TRUE(dynamic_cast<KwUsb2HandsetBasic*>(phone.get()));
    EXPECT_EQ(1, phone->Initialize());
    EXPECT_EQ(0, phone->NeedsPolling());
    EXPECT_EQ(0, phone->SetRinging(1));
    EXPECT_EQ(0, phone->TranslateKey(0xB5));
    EXPECT_EQ(0, lab.CallCount());
    HandsetPanel* asPanel = dynamic_cast<HandsetPanel*>(phone.release());
    ASSERT_NE(nullptr, asPanel);
    delete asPanel;
    EXPECT_EQ(0, lab.CallCount());
}

// --- the settings memory ---

TEST(SettingsRecord, Checksum) {
    const uint16_t zeros[10] = {};
    EXPECT_EQ(0x1234, HandsetPanel::RecordChecksum(zeros));
    const uint16_t words[10] = {0x0102, 0xFFFF, 0, 0, 0, 0, 0, 0, 0, 0x8000};
    EXPECT_EQ((0x1234 + 1 + 2 + 0xFF + 0xFF + 0x80) & 0xFFFF, HandsetPanel::RecordChecksum(words));
    uint16_t full[10];
    for (uint16_t& w : full)
        w = 0xFFFF;
    EXPECT_EQ((0x1234 + 20 * 0xFF) & 0xFFFF, HandsetPanel::RecordChecksum(full));
}

TEST_F(Usb2HandsetTest, ReadWordSendsReadCommandAndTakesSixteenBits) {
    DeviceLockGuard hold; // as the handset holds it around its panel
    auto handset = Ready();
    panel().Eeprom().SetWord(0x3F, 0xA55A);
    handset->eepromLines = kSettingsPath;
    uint16_t value = 0;
    EXPECT_EQ(1, handset->EepromReadWord(0x3F, &value));
    EXPECT_EQ(0xA55A, value);
    const std::vector<int>& bits = panel().Eeprom().FrameBits();
    ASSERT_GE(bits.size(), 9u);
    EXPECT_EQ((std::vector<int>{1, 1, 0, 1, 1, 1, 1, 1, 1}),
              std::vector<int>(bits.begin(), bits.begin() + 9));
    EXPECT_EQ(9u + 16u, bits.size());
}

TEST_F(Usb2HandsetTest, WrittenWordReadsBack) {
    DeviceLockGuard hold; // as the handset holds it around its panel
    auto handset = Ready();
    handset->eepromLines = kSettingsPath;
    EXPECT_EQ(1, handset->EepromWriteWord(7, 0x1357));
    EXPECT_EQ(0x1357, panel().Eeprom().Word(7));
    EXPECT_FALSE(panel().Eeprom().WriteEnabled()); // disabled again afterwards
    const auto& commands = panel().Eeprom().Commands();
    ASSERT_EQ(3u, commands.size());
    EXPECT_EQ(LabEepromOp::WriteEnable, commands[0].op);
    EXPECT_EQ(LabEepromOp::Write, commands[1].op);
    EXPECT_FALSE(commands[1].refused);
    EXPECT_EQ(LabEepromOp::WriteDisable, commands[2].op);
    uint16_t value = 0;
    handset->EepromReadWord(7, &value);
    EXPECT_EQ(0x1357, value);
}

TEST_F(Usb2HandsetTest, SlowMemoryStillCompletesTheWrite) {
    DeviceLockGuard hold; // as the handset holds it around its panel
    auto handset = Ready();
    handset->eepromLines = kSettingsPath;
    panel().Eeprom().SetBusyClocks(100); // never ready within the status polls
    EXPECT_EQ(1, handset->EepromWriteWord(1, 0xBEEF));
    EXPECT_EQ(0xBEEF, panel().Eeprom().Word(1));
}

TEST_F(Usb2HandsetTest, RecordRoundTripAndChecksumMismatch) {
    DeviceLockGuard hold; // as the handset holds it around its panel
    auto handset = Ready();
    const uint8_t data[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    handset->WriteRecord(data, 0x2222, 0x3333);
    EXPECT_EQ(0, handset->eepromLines);
    EXPECT_EQ(0x0201, panel().Eeprom().Word(4)); // first byte in the low half
    EXPECT_EQ(0x0C0B, panel().Eeprom().Word(9));

    uint16_t out[10] = {};
    EXPECT_EQ(1, handset->ReadRecord(out));
    EXPECT_EQ(1, handset->eepromLines);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(handset->settingsRecord[i], out[i]) << i;

    panel().Eeprom().SetWord(3, 0x3334);
    EXPECT_EQ(0, handset->ReadRecord(out));
}

TEST_F(Usb2HandsetTest, MemoryPathOffReachesNothing) {
    DeviceLockGuard hold; // as the handset holds it around its panel
    auto handset = Ready();
    handset->eepromLines = 0;
    handset->EepromWriteWord(2, 0x1111);
    EXPECT_EQ(0xFFFF, panel().Eeprom().Word(2));
    EXPECT_TRUE(panel().Eeprom().Commands().empty());
}

} // namespace
