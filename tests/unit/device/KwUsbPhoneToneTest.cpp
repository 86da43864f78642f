// Tone generation of the USB phone: the oscillator arithmetic and what the lab's line hears.
#include "DeviceTestSupport.h"
#include "device/KwUsbPhone.h"

#include <climits>
#include <cmath>
#include <cstring>

TEST(SlicToneMath, CoefficientAmplitudeAndTicks) {
    const SlicOscillator osc350 = SlicOscillatorFor(350);
    EXPECT_EQ(31537, osc350.coefficient);
    EXPECT_EQ(566, osc350.amplitude);
    const SlicOscillator osc1633 = SlicOscillatorFor(1633);
    EXPECT_EQ(9314, osc1633.coefficient);
    EXPECT_EQ(3057, osc1633.amplitude);

    EXPECT_EQ(64000, SlicTicksFor(8.0));
    EXPECT_EQ(4000, SlicTicksFor(0.5));
    EXPECT_EQ(0, SlicTicksFor(0));
    // Longer than the 16-bit timers hold: kept to 16 bits, no overflow.
    EXPECT_EQ((10 * 8000) & 0xFFFF, SlicTicksFor(10.0));
    EXPECT_EQ(0, SlicTicksFor(1e300));
}

TEST(SlicToneMath, DegenerateFrequenciesStayDefined) {
    // 4 kHz is the Nyquist limit: the amplitude's denominator is zero there.
    const SlicOscillator nyquist = SlicOscillatorFor(4000);
    EXPECT_EQ(-32768, nyquist.coefficient);
    EXPECT_EQ(0, SlicOscillatorFor(std::nan("")).coefficient);
}

class ToneTest : public LabDeviceTest {
  protected:
    void SetUp() override {
        LabDeviceTest::SetUp();
        phone.Initialize();
        lab.ClearCalls();
    }
    KwUsbPhone phone{0};
};

TEST_F(ToneTest, DialToneProgramsBothOscillatorsUnderTheLock) {
    WatchLock();
    EXPECT_EQ(1, phone.PlayTone(0, 1));
    const std::vector<std::string> expected = {
        "i13=7b31", "i14=0236", "i15=0000", "d36=00", "d37=fa", "d38=00", "d39=00", "i16=786e",
        "i17=02ca", "i18=0000", "d40=00",   "d41=fa", "d42=00", "d43=00", "d32=9f", "d33=9f"};
    EXPECT_TRUE(SameOps(expected, TakeOps()));
    EXPECT_TRUE(AllCallsLocked());
    const LabTone tone = lab.Tone();
    EXPECT_TRUE(tone.on);
    EXPECT_EQ(350, tone.frequency1);
    EXPECT_EQ(440, tone.frequency2);
    EXPECT_EQ(8000, tone.onMs1);
}

TEST_F(ToneTest, EveryToneSoundsItsPairAndCadence) {
    struct Expect {
        int f1, f2, onMs, offMs;
    };
    const Expect progress[6] = {{350, 440, 8000, 0},    {480, 620, 500, 500},
                                {440, 480, 2000, 4000}, {440, 480, 1000, 3000},
                                {480, 620, 250, 250},   {480, 620, 300, 200}};
    // Tones 6 to 21 are the DTMF keys in this order, on the standard row/column grid.
    const char* keys = "0123456789ABCD#*";
    const char* grid = "123A456B789C*0#D";
    const int rows[4] = {697, 770, 852, 941};
    const int cols[4] = {1209, 1336, 1477, 1633};
    for (int tone = 0; tone < 22; ++tone) {
        SCOPED_TRACE(tone);
        Expect want;
        if (tone < 6) {
            want = progress[tone];
        } else {
            const int at = static_cast<int>(std::strchr(grid, keys[tone - 6]) - grid);
            want = {rows[at / 4], cols[at % 4], 200, 0};
        }
        ASSERT_EQ(1, phone.PlayTone(tone, 1));
        const LabTone heard = lab.Tone();
        EXPECT_TRUE(heard.on);
        EXPECT_EQ(want.f1, heard.frequency1);
        EXPECT_EQ(want.f2, heard.frequency2);
        EXPECT_EQ(want.onMs, heard.onMs1);
        EXPECT_EQ(want.offMs, heard.offMs1);
        EXPECT_EQ(want.onMs, heard.onMs2);
        EXPECT_EQ(tone < 6 ? 0x9F : 0x97, lab.SlicDirect(32));
        EXPECT_EQ(lab.SlicDirect(32), lab.SlicDirect(33));
    }
}

TEST_F(ToneTest, StoppingWritesZeroWhateverTheToneNumber) {
    for (int tone : {0, 5, 21, 22, -1, INT_MAX}) {
        SCOPED_TRACE(tone);
        phone.PlayTone(1, 1);
        lab.ClearCalls();
        EXPECT_EQ(1, phone.PlayTone(tone, 0));
        EXPECT_TRUE(SameOps({"d32=00", "d33=00"}, TakeOps()));
        EXPECT_FALSE(lab.Tone().on);
    }
}

TEST_F(ToneTest, ANumberWithoutATableRowIsRefusedUntouched) {
    for (int tone : {22, 23, -1, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(tone);
        EXPECT_EQ(0, phone.PlayTone(tone, 1));
        EXPECT_EQ(0, lab.CallCount());
    }
}

TEST_F(ToneTest, ResultIsThatOfTheLastWrite) {
    lab.FailNext(4, 100); // every SLIC direct write fails
    EXPECT_EQ(0, phone.PlayTone(0, 1));
    EXPECT_EQ(0, phone.PlayTone(0, 0));
}
