// The lab's second-generation models on their own: the display decoder fed byte by byte or in
// one stream, the settings memory's protocol rules, and their control commands.
#include "adapter/LabAdapter.h"
#include "device/KwIpApi.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A display write frame for digits from `position` on: select low, then 1 0 1, the address and
// eight segment bits per digit, each bit as clock low / clock high.
std::vector<uint8_t> WriteFrame(int position, const std::vector<uint8_t>& segments) {
    std::vector<uint8_t> bits = {1, 0, 1};
    for (int i = 5; i >= 0; --i)
        bits.push_back(((position * 2) >> i) & 1);
    for (uint8_t s : segments)
        for (int i = 7; i >= 0; --i)
            bits.push_back((s >> i) & 1);
    std::vector<uint8_t> stream;
    for (uint8_t b : bits) {
        stream.push_back(b ? 0x35 : 0x15);
        stream.push_back(b ? 0x3D : 0x1D);
    }
    return stream;
}

class LabPanelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        lab.SetProductId(0xF250);
        SetCurrentLabAdapter(&lab);
        SetDeviceLibrary(nullptr, LabVaVoRarCall);
    }
    void TearDown() override {
        ClearDeviceLibrary();
        SetCurrentLabAdapter(nullptr);
    }
    LabAdapter lab;
};

TEST_F(LabPanelTest, DisplayDecodesSingleWritesAndStreamsAlike) {
    // 3 at position 2 with the mark, 7 at 3: byte by byte.
    std::vector<uint8_t> frame = WriteFrame(2, {0x4F | 0x10, 0x8E});
    DevWriteReg(10, 0x3D);
    for (uint8_t b : frame)
        DevWriteReg(10, b);
    DevWriteReg(10, 0x3F);
    EXPECT_EQ(3, lab.Panel().Digit(2));
    EXPECT_EQ(7, lab.Panel().Digit(3));
    EXPECT_EQ(2, lab.Panel().MarkPosition());

    // 9 at position 13 in one same-register stream; a pattern that is no digit reads -1.
    frame = WriteFrame(12, {0x12, 0xCF});
    DevWriteReg(10, 0x3D);
    DevWriteRegs(10, frame.data(), static_cast<int>(frame.size()), 4, 0);
    DevWriteReg(10, 0x3F);
    EXPECT_EQ(LabPanel::kUnreadable, lab.Panel().Digit(12));
    EXPECT_EQ(9, lab.Panel().Digit(13));
    EXPECT_EQ(12, lab.Panel().MarkPosition());
    EXPECT_EQ(2, lab.Panel().WriteFrames());
    EXPECT_EQ(0, lab.Control("display?")); // written, but the display was never switched on
    EXPECT_EQ(9, lab.Control("display 13"));
    EXPECT_EQ(-1, lab.Control("display 14"));
    EXPECT_EQ(12, lab.Control("display mark?"));
}

TEST_F(LabPanelTest, MemoryRefusesWritesUntilEnabled) {
    LabEeprom memory;
    auto clockIn = [&](std::vector<int> bits) {
        memory.Drive(true, false, false);
        for (int b : bits) {
            memory.Drive(true, false, b != 0);
            memory.Drive(true, true, b != 0);
        }
        memory.Drive(false, false, false);
    };
    std::vector<int> write = {1, 0, 1, 0, 0, 0, 1, 0, 1}; // WRITE address 5
    for (int i = 0; i < 16; ++i)
        write.push_back(i % 2);
    clockIn(write);
    EXPECT_EQ(0xFFFF, memory.Word(5));
    ASSERT_EQ(1u, memory.Commands().size());
    EXPECT_TRUE(memory.Commands()[0].refused);

    clockIn({1, 0, 0, 1, 1, 0, 0, 0, 0}); // EWEN
    clockIn(write);
    EXPECT_EQ(0x5555, memory.Word(5));
    clockIn({1, 1, 1, 0, 0, 0, 1, 0, 1}); // ERASE address 5
    EXPECT_EQ(0xFFFF, memory.Word(5));
}

TEST_F(LabPanelTest, ControlCommands) {
    EXPECT_EQ(-1, lab.Control("report?"));
    EXPECT_EQ(-1, lab.Control("switch?"));
    EXPECT_EQ(0, lab.Control("beeper?"));
    DevWriteReg(24, 18);
    DevWriteReg(26, 9);
    EXPECT_EQ(46875 / 19, lab.Control("beeper?"));
    EXPECT_TRUE(lab.Ringing());
    EXPECT_EQ(1, lab.Control("key 5"));
    EXPECT_EQ(1, lab.Control("key offhook"));
    EXPECT_EQ(-1, lab.Control("key volume"));
    EXPECT_EQ(2, lab.Control("panel keys?"));
    EXPECT_EQ(0xFFFF, lab.Control("panel eeprom 63"));
    EXPECT_EQ(-1, lab.Control("panel eeprom 64"));
    DevSwitchOn();
    EXPECT_EQ(1, lab.Control("switch?"));

    // The key report exists on the phones, not on the handsets.
    lab.SetProductId(0xC31C);
    DevWriteReg(12, 0x00);
    DevWriteReg(13, 0x80);
    DevWriteReg(14, 0x18);
    DevWriteReg(14, 0x10);
    EXPECT_EQ(0x8000, lab.Control("report?"));
    EXPECT_EQ(1, lab.Control("reports?"));
    EXPECT_EQ(0, lab.Control("beeper?"));
}

} // namespace
