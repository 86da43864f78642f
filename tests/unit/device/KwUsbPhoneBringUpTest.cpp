// The SLIC bring-up of the USB phone, checked as whole request sequences against the lab chip.
#include "DeviceTestSupport.h"
#include "device/KwUsbPhone.h"

#include <algorithm>
#include <cstring>

namespace {

void Add(std::vector<std::string>& to, std::initializer_list<const char*> ops) {
    to.insert(to.end(), ops.begin(), ops.end());
}
void AddRepeated(std::vector<std::string>& to, const std::string& op, int times) {
    for (int i = 0; i < times; ++i)
        to.push_back(op);
}
std::string Hex(const char* prefix, int reg, int value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%d=%0*x", prefix, reg, digits, value);
    return text;
}

// The lab chip's timing in these tests: how many reads each wait takes.
LabSlicConfig Chip(int revision = 5, int variant = 0) {
    LabSlicConfig config;
    config.revision = revision;
    config.variant = variant;
    config.calibrationReads = 3;     // register 96 reads 0 at the 4th read
    config.batteryRiseReads = 2;     // register 82 reaches 0xC0 at the 3rd read
    config.converterSettleReads = 2; // register 93 bit 7 clears at the 3rd read
    config.offsetStep88 = 17;        // register 88 reads 0 once 98 is down to 17
    config.offsetStep89 = 12;
    return config;
}

const uint16_t kIndirectValues[43] = {
    0x55C2, 0x51E6, 0x4B85, 0x4937, 0x3333, 0x0202, 0x0202, 0x0198, 0x0198, 0x0611, 0x0202,
    0x00E5, 0x0A1C, 0x7B30, 0x0063, 0x0000, 0x7870, 0x007D, 0x0000, 0x0000, 0x7EF0, 0x0185,
    0x0000, 0x2000, 0x2000, 0x0000, 0x2000, 0x4000, 0x1000, 0x3600, 0x1000, 0x0200, 0x07C0,
    0x2600, 0x1B80, 0x8000, 0x0320, 0x008C, 0x0100, 0x0010, 0x0C00, 0x0C00, 0x1000};

void AddConverter(std::vector<std::string>& e, int variant) {
    e.push_back("d0?");
    if (variant == 3)
        Add(e, {"d92=60", "d93=38"});
    else
        Add(e, {"d93=19", "d92=ff"});
    e.push_back("d14=00");
    AddRepeated(e, "d82?", 3);
    // Only the other variants start the converter calibration that sets the busy bit.
    e.push_back(variant == 3 ? "d92=e0" : "d93=99");
    AddRepeated(e, "d93?", variant == 3 ? 1 : 3);
}

// InitializeSlic on Chip(revision, variant), up to the point where it ends.
std::vector<std::string> ExpectedSlicBringUp(int pcm, int revision = 5, int variant = 0) {
    std::vector<std::string> e;
    Add(e, {"d67=17", "d34=18", "d74=34", "d48=80", "d49=3e", "d50=00", "d51=7d", "d8=00"});
    for (int i = 0; i < 43; ++i)
        e.push_back(Hex("i", i, kIndirectValues[i], 4));
    Add(e, {"i43=1000", "i99=00da", "i100=6b60", "i101=0074", "i102=79c0", "i103=1120", "i104=3be0",
            "i97=0000"});
    Add(e, {"d0?", "d0?", "d66=01"});
    if (revision <= 2) e.push_back("d73=04");
    if (variant == 1 || variant == 2) return e;
    AddConverter(e, variant);
    Add(e, {"d64=00", "d14=10", "d82?"}); // leakage check
    AddConverter(e, variant);
    // Calibration.
    Add(e, {"d21=00", "d22=00", "d23=00", "d64=00", "d97=1e", "d96=47"});
    AddRepeated(e, "d96?", 4);
    for (int r = 88; r <= 93; ++r)
        e.push_back(Hex("i", r, 0, 4));
    Add(e, {"d98=10", "d99=10"});
    for (int k = 31; k >= 17; --k) {
        e.push_back(Hex("d", 98, k, 2));
        e.push_back("d88?");
    }
    for (int k = 31; k >= 12; --k) {
        e.push_back(Hex("d", 99, k, 2));
        e.push_back("d89?");
    }
    Add(e, {"d64=11", "d64=00", "d23=04", "d97=01", "d96=40"});
    AddRepeated(e, "d96?", 4);
    Add(e, {"d21=ff", "d22=ff", "d23=ff", "d64=11", "i97=0000"});
    e.push_back(pcm ? "d1=28" : "d1=2a");
    Add(e, {"d2=00", "d3=00", "d4=00", "d5=00", "d8=00", "d18=ff", "d19=ff", "d20=ff", "d21=00",
            "d22=02", "d23=01"});
    return e;
}

// Fails the n-th library call that formats as `op` (codes 4 and 6), passing all others on.
struct FailOne {
    static std::string op;
    static int occurrence;
    static int Entry(int code, int param, void* pointer) {
        if (code == 4 || code == 6) {
            const int value = static_cast<int>(reinterpret_cast<uintptr_t>(pointer));
            const std::string text =
                code == 4 ? Hex("d", param, value, 2) : Hex("i", param, value, 4);
            if (text == op && --occurrence == 0) return 0;
        }
        return LabVaVoRarCall(code, param, pointer);
    }
};
std::string FailOne::op;
int FailOne::occurrence = 0;

} // namespace

class BringUpTest : public LabDeviceTest {
  protected:
    void SetUp() override {
        LabDeviceTest::SetUp();
        lab.ConfigureSlic(Chip());
    }
};

TEST_F(BringUpTest, InitializeMakesTheWholeSequenceUnderTheLock) {
    for (int pcm : {0, 1}) {
        SCOPED_TRACE(pcm);
        LabAdapter fresh;
        SetCurrentLabAdapter(&fresh);
        fresh.ConfigureSlic(Chip());
        fresh.SetCallHook([this](const LabCall&) { lockHeld.push_back(DeviceLockHeld()); });
        const uint64_t sleptBefore = clock.TotalSlept();

        KwUsbPhone phone(pcm);
        EXPECT_EQ(1, phone.Initialize());

        std::vector<std::string> expected = {"b18=00", "b19=40", "b0=50", "b41=20", "b0=51"};
        for (const std::string& op : ExpectedSlicBringUp(pcm))
            expected.push_back(op);
        // Interrupts: hook changes and DTMF; then relay and line-power pins (read, then set;
        // the SLIC's interrupt input reads high in register 18).
        Add(expected,
            {"d22=03", "b18?", "b19?", "b18=88", "b19=48", "b18?", "b19?", "b18=98", "b19=58"});
        EXPECT_TRUE(SameOps(expected, Ops(fresh.Calls())));
        EXPECT_TRUE(AllCallsLocked());
        // 1 s leakage wait and 35 calibration steps of 40 ms, all in virtual time.
        EXPECT_EQ(2400u, clock.TotalSlept() - sleptBefore);

        EXPECT_EQ(0, fresh.SlicDirect(21));
        EXPECT_EQ(3, fresh.SlicDirect(22));
        EXPECT_EQ(1, fresh.SlicDirect(23));
        EXPECT_EQ(0x11, fresh.SlicDirect(64)); // forward active
        fresh.SetCallHook(nullptr);
        SetCurrentLabAdapter(&lab);
        lockHeld.clear();
    }
}

TEST_F(BringUpTest, OldRevisionsGetTheCommonModeFix) {
    DeviceLockGuard hold; // as Initialize, which runs these steps, holds it
    for (int revision : {0, 2, 3, 15}) {
        SCOPED_TRACE(revision);
        lab.ConfigureSlic(Chip(revision));
        lab.ResetSlic();
        lab.ClearCalls();
        KwUsbPhone phone(0);
        EXPECT_EQ(1, phone.InitializeSlic(0));
        EXPECT_TRUE(SameOps(ExpectedSlicBringUp(0, revision), Ops(lab.Calls())));
    }
}

TEST_F(BringUpTest, VariantsOneAndTwoStopBeforeTheConverter) {
    DeviceLockGuard hold; // as Initialize, which runs these steps, holds it
    for (int variant : {1, 2}) {
        SCOPED_TRACE(variant);
        lab.ConfigureSlic(Chip(5, variant));
        lab.ResetSlic();
        lab.ClearCalls();
        KwUsbPhone phone(0);
        EXPECT_EQ(0, phone.InitializeSlic(0));
        EXPECT_TRUE(SameOps(ExpectedSlicBringUp(0, 5, variant), Ops(lab.Calls())));
        EXPECT_EQ(0x10, lab.SlicDirect(14)); // converter still off
    }
}

TEST_F(BringUpTest, VariantThreeDrivesTheConverterThroughItsPwmPeriod) {
    DeviceLockGuard hold; // as Initialize, which runs these steps, holds it
    lab.ConfigureSlic(Chip(5, 3));
    KwUsbPhone phone(0);
    EXPECT_EQ(1, phone.InitializeSlic(0));
    EXPECT_TRUE(SameOps(ExpectedSlicBringUp(0, 5, 3), Ops(lab.Calls())));
}

TEST_F(BringUpTest, AFailedRequiredRequestEndsTheBringUpThere) {
    DeviceLockGuard hold; // as Initialize, which runs these steps, holds it
    struct Case {
        const char* op;
        int occurrence;
        bool required;
        bool retried = false; // a setting the line works with: made again, the bring-up goes on
    };
    const Case cases[] = {
        {"d67=17", 1, true},    // first set-up write
        {"d8=00", 1, true},     // last set-up write
        {"i0=55c2", 1, true},   // first table row
        {"i42=1000", 1, true},  // last table row
        {"i99=00da", 1, false}, // the writes after the table are not checked
        {"i97=0000", 1, false},   {"d66=01", 1, true},
        {"i97=0000", 2, true},                               // after calibration
        {"d1=2a", 1, true, true}, {"d23=01", 1, true, true}, // the very last write
    };
    const std::vector<std::string> full = ExpectedSlicBringUp(0);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.op) + " #" + std::to_string(c.occurrence));
        lab.ResetSlic();
        lab.ClearCalls();
        FailOne::op = c.op;
        FailOne::occurrence = c.occurrence;
        SetDeviceLibrary(nullptr, &FailOne::Entry);

        KwUsbPhone phone(0);
        const int result = phone.InitializeSlic(0);

        // Where the failed request sits in the full sequence (the lab never saw it).
        auto at = full.begin();
        for (int n = 0; n < c.occurrence; ++n)
            at = std::find(n ? at + 1 : at, full.end(), c.op);
        ASSERT_NE(full.end(), at);
        std::vector<std::string> expected(full.begin(), at);
        if (!c.required || c.retried)
            expected.insert(expected.end(), at + (c.retried ? 0 : 1), full.end());
        EXPECT_EQ(c.required && !c.retried ? 0 : 1, result);
        EXPECT_TRUE(SameOps(expected, Ops(lab.Calls())));
    }
    SetDeviceLibrary(nullptr, LabVaVoRarCall);
}

TEST_F(BringUpTest, InitializeReportsSuccessEvenWhenTheSlicFails) {
    lab.FailNext(4, 1); // the very first SLIC write
    KwUsbPhone phone(0);
    EXPECT_EQ(1, phone.Initialize());
    const std::vector<std::string> ops = TakeOps();
    // The bridge set-up, the failed write, then straight to the interrupt enable and pins.
    const std::vector<std::string> expected = {"b18=00",  "b19=40", "b0=50", "b41=20", "b0=51",
                                               "d67=17!", "d22=03", "b18?",  "b19?",   "b18=88",
                                               "b19=48",  "b18?",   "b19?",  "b18=98", "b19=58"};
    EXPECT_TRUE(SameOps(expected, ops));
}

TEST_F(BringUpTest, AFailedIdReadCountsAsRevisionZeroVariantZero) {
    DeviceLockGuard hold; // as Initialize, which runs these steps, holds it
    // A variant-1 chip would stop before the converter; with its id unreadable it is taken for
    // revision 0, variant 0, and brought up fully.
    lab.ConfigureSlic(Chip(5, 1));
    lab.FailReads(LabTarget::SlicDirect, 0);
    KwUsbPhone phone(0);
    EXPECT_EQ(1, phone.InitializeSlic(0));
    std::vector<std::string> ops = Ops(lab.Calls());
    for (std::string& op : ops)
        if (op == "d0?!") op = "d0?";
    EXPECT_TRUE(SameOps(ExpectedSlicBringUp(0, 0, 0), ops));
}

TEST_F(BringUpTest, ConverterFailsOnlyWhenItStaysBusy) {
    DeviceLockGuard hold; // as Initialize, which runs these steps, holds it
    struct Case {
        int settleReads; // reads of register 93 with its busy bit still set; -1 never clears
        int result;
        int reads;
    };
    const Case cases[] = {{0, 1, 1}, {2, 1, 3}, {999, 1, 1000}, {1000, 0, 1001}, {-1, 0, 1001}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settleReads);
        LabSlicConfig config = Chip();
        config.converterSettleReads = c.settleReads;
        lab.ConfigureSlic(config);
        lab.ResetSlic();
        lab.ClearCalls();
        KwUsbPhone phone(0);
        EXPECT_EQ(c.result, phone.PowerUpConverter());
        const std::vector<std::string> ops = Ops(lab.Calls());
        EXPECT_EQ(c.reads, std::count(ops.begin(), ops.end(), "d93?"));
    }
}

TEST_F(BringUpTest, SlowBatteryIsReadElevenTimesAndIsNoFailure) {
    DeviceLockGuard hold; // as Initialize, which runs these steps, holds it
    LabSlicConfig config = Chip();
    config.batteryRiseReads = 50;
    lab.ConfigureSlic(config);
    KwUsbPhone phone(0);
    EXPECT_EQ(1, phone.PowerUpConverter());
    const std::vector<std::string> ops = Ops(lab.Calls());
    EXPECT_EQ(11, std::count(ops.begin(), ops.end(), "d82?"));
}

TEST_F(BringUpTest, LeakageCheckWaitsASecondWithTheConverterOff) {
    DeviceLockGuard hold; // as Initialize, which runs these steps, holds it
    for (bool leaks : {false, true}) {
        SCOPED_TRACE(leaks);
        LabSlicConfig config = Chip();
        config.leaks = leaks;
        lab.ConfigureSlic(config);
        KwUsbPhone phone(0);
        phone.PowerUpConverter();
        lab.ClearCalls();
        const uint64_t before = clock.TotalSlept();
        EXPECT_EQ(leaks ? 0 : 1, phone.CheckPowerLeakage());
        EXPECT_EQ(1000u, clock.TotalSlept() - before);
        EXPECT_EQ((std::vector<std::string>{"d64=00", "d14=10", "d82?"}), Ops(lab.Calls()));
    }
}

TEST_F(BringUpTest, RelayVariantIsNotSetUp) {
    KwUsbPhoneRelay phone(0);
    EXPECT_EQ(1, phone.Initialize());
    EXPECT_EQ(0, lab.CallCount());
}
