// The lab adapter: request checking, and the line-chip behaviour the device tests build on.
#include "adapter/LabAdapter.h"
#include "core/VirtualClock.h"
#include "device/KwIpApi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <thread>

namespace {

void* Value(uintptr_t v) {
    return reinterpret_cast<void*>(v);
}

class LabAdapterTest : public ::testing::Test {
  public: // the tables of cases call the helpers too
    void SetUp() override { SetClock(&clock); }
    void TearDown() override { SetClock(nullptr); }

    // A well-formed one-byte bridge write, for the tests to spoil.
    RequestBlock WriteBlock(int reg, uint8_t* data) {
        RequestBlock b;
        std::memset(&b, 0, sizeof b);
        b.header.request = kRequestRegister;
        b.header.reg = static_cast<uint16_t>(reg);
        b.header.count = 1;
        b.header.direction = kDirectionWrite;
        b.header.marker = kWriteMarker;
        b.count = 1;
        b.buffer = data;
        return b;
    }
    int WriteBridge(int reg, uint8_t v) {
        RequestBlock b = WriteBlock(reg, &v);
        return lab.Call(VC_REGISTER_REQUEST, 0, &b);
    }
    int ReadBridge(int reg) {
        uint8_t v = 0;
        RequestBlock b = WriteBlock(reg, &v);
        b.header.direction = kDirectionRead;
        b.header.marker = 0;
        return lab.Call(VC_REGISTER_REQUEST, 0, &b) ? v : -1;
    }
    int ReadSlic(int reg) {
        uint8_t v = 0;
        return lab.Call(VC_SLIC_READ_DIRECT, reg, &v) ? v : -1;
    }
    int WriteSlic(int reg, int v) { return lab.Call(VC_SLIC_WRITE_DIRECT, reg, Value(v)); }
    int WriteIndirect(int reg, int v) { return lab.Call(VC_SLIC_WRITE_INDIRECT, reg, Value(v)); }
    int ReadIndirect(int reg) {
        uint16_t v = 0;
        return lab.Call(VC_SLIC_READ_INDIRECT, reg, &v) ? v : -1;
    }

    VirtualClock clock;
    LabAdapter lab;
};

TEST_F(LabAdapterTest, MalformedBridgeRequestsAreRefusedAndRecorded) {
    struct Case {
        const char* name;
        std::function<void(RequestBlock&)> spoil;
        LabFault fault;
    } cases[] = {
        {"count mismatch", [](RequestBlock& b) { b.count = 2; }, LabFault::CountMismatch},
        {"no marker", [](RequestBlock& b) { b.header.marker = 0; }, LabFault::MissingMarker},
        {"direction 2", [](RequestBlock& b) { b.header.direction = 2; }, LabFault::BadDirection},
        {"request 6", [](RequestBlock& b) { b.header.request = 6; }, LabFault::BadRequest},
        {"value field", [](RequestBlock& b) { b.header.value = 1; }, LabFault::BadValueField},
        {"null buffer", [](RequestBlock& b) { b.buffer = nullptr; }, LabFault::NullBuffer},
        {"past the end",
         [](RequestBlock& b) {
             b.header.reg = 255;
             b.header.count = b.count = 2;
         },
         LabFault::OutOfRange},
    };
    uint8_t data[2] = {0x5A, 0x5A};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        lab.ClearCalls();
        RequestBlock b = WriteBlock(40, data);
        c.spoil(b);
        EXPECT_EQ(0, lab.Call(VC_REGISTER_REQUEST, 0, &b));
        ASSERT_EQ(1, lab.FaultCount());
        EXPECT_EQ(c.fault, lab.Faults()[0].fault);
        EXPECT_TRUE(lab.BridgeWrites().empty());
    }
    EXPECT_EQ(0, lab.BridgeRegister(40));
    EXPECT_EQ(0, lab.Call(VC_REGISTER_REQUEST, 0, nullptr));
    EXPECT_EQ(LabFault::NullPointer, lab.Faults().back().fault);
}

TEST_F(LabAdapterTest, MalformedSlicAndUnknownCallsAreRefused) {
    uint8_t byte = 0;
    struct Case {
        int code, param;
        void* pointer;
        LabFault fault;
    } cases[] = {
        {VC_SLIC_WRITE_DIRECT, 64, Value(0x100), LabFault::BadValue},
        {VC_SLIC_WRITE_INDIRECT, 13, Value(0x10000), LabFault::BadValue},
        {VC_SLIC_WRITE_DIRECT, 256, Value(1), LabFault::OutOfRange},
        {VC_SLIC_READ_DIRECT, -1, &byte, LabFault::OutOfRange},
        {VC_SLIC_READ_DIRECT, 68, nullptr, LabFault::NullPointer},
        {VC_OPEN, 0, nullptr, LabFault::NullPointer},
        {9, 0, nullptr, LabFault::UnknownCode},
        {52, 0, nullptr, LabFault::UnknownCode},
    };
    for (const Case& c : cases) {
        lab.ClearCalls();
        EXPECT_EQ(0, lab.Call(c.code, c.param, c.pointer)) << c.code;
        ASSERT_EQ(1, lab.FaultCount()) << c.code;
        EXPECT_EQ(c.fault, lab.Faults()[0].fault) << c.code;
    }
    EXPECT_TRUE(lab.SlicDirectWrites().empty());
}

TEST_F(LabAdapterTest, InjectedFailuresFailWithoutEffectAndThenStop) {
    lab.FailNext(VC_SLIC_WRITE_DIRECT, 2);
    EXPECT_EQ(0, WriteSlic(64, 0x11));
    EXPECT_EQ(0, WriteSlic(64, 0x11));
    EXPECT_EQ(0, lab.SlicDirect(64));
    EXPECT_EQ(1, WriteSlic(64, 0x11));
    EXPECT_EQ((std::vector<LabRegWrite>{{64, 0x11}}), lab.SlicDirectWrites());
    EXPECT_EQ(0, lab.FaultCount()); // injected failures are not decoding faults

    // A block read fails when it covers a failing register.
    lab.FailReads(LabTarget::Bridge, 18, 1);
    uint8_t two[2] = {0xAA, 0xAA};
    RequestBlock b = WriteBlock(17, two);
    b.header.direction = kDirectionRead;
    b.header.count = b.count = 2;
    EXPECT_EQ(0, lab.Call(VC_REGISTER_REQUEST, 0, &b));
    EXPECT_EQ(0xAA, two[1]);
    EXPECT_EQ(1, lab.Call(VC_REGISTER_REQUEST, 0, &b));

    lab.FailReads(LabTarget::SlicDirect, 68);
    EXPECT_EQ(-1, ReadSlic(68));
    EXPECT_EQ(-1, ReadSlic(68));
    lab.ClearFailures();
    EXPECT_EQ(0, ReadSlic(68));
}

TEST_F(LabAdapterTest, CalibrationClearsAfterItsReads) {
    LabSlicConfig config;
    config.calibrationReads = 2;
    config.offsetStep88 = 20;
    config.offsetStep89 = 3;
    lab.ConfigureSlic(config);
    WriteSlic(97, 0x1E);
    WriteSlic(96, 0x47);
    EXPECT_EQ(0x47, ReadSlic(96));
    EXPECT_EQ(0x47, ReadSlic(96));
    EXPECT_EQ(0, ReadSlic(96));
    EXPECT_EQ(0, ReadSlic(96));

    // The offset steps: 98 stepped down from 31 reaches 0 in 88 at k = 20.
    int k88 = 0, k89 = 0;
    for (int k = 31; k >= 1 && !k88; --k)
        if (WriteSlic(98, k), ReadSlic(88) == 0) k88 = k;
    for (int k = 31; k >= 1 && !k89; --k)
        if (WriteSlic(99, k), ReadSlic(89) == 0) k89 = k;
    EXPECT_EQ(20, k88);
    EXPECT_EQ(3, k89);
}

TEST_F(LabAdapterTest, ConverterBatteryAndSettleBit) {
    struct Case {
        bool leaks;
        int settle;
        bool batteryHolds;
        bool bit7Clears;
    } cases[] = {{false, 2, true, true}, {true, 0, false, true}, {false, -1, true, false}};
    for (const Case& c : cases) {
        LabAdapter fresh;
        LabSlicConfig config;
        config.batteryRiseReads = 2;
        config.leaks = c.leaks;
        config.converterSettleReads = c.settle;
        fresh.ConfigureSlic(config);
        auto read = [&fresh](int reg) {
            uint8_t v = 0;
            fresh.Call(VC_SLIC_READ_DIRECT, reg, &v);
            return static_cast<int>(v);
        };
        EXPECT_LT(read(82), 4); // nothing before power-up
        fresh.Call(VC_SLIC_WRITE_DIRECT, 14, Value(0));
        EXPECT_LT(read(82), 0xC0);
        EXPECT_LT(read(82), 0xC0);
        EXPECT_GE(read(82), 0xC0);

        fresh.Call(VC_SLIC_WRITE_DIRECT, 93, Value(0x99));
        bool cleared = false;
        for (int i = 0; i < 1001 && !cleared; ++i)
            cleared = (read(93) & 0x80) == 0;
        EXPECT_EQ(c.bit7Clears, cleared);

        fresh.Call(VC_SLIC_WRITE_DIRECT, 14, Value(0x10));
        EXPECT_EQ(c.batteryHolds, read(82) >= 4);
    }
}

TEST_F(LabAdapterTest, HookChangeRaisesEnabledInterruptClearedByWritingItBack) {
    EXPECT_EQ(0x80, ReadBridge(18) & 0x80); // nothing pending
    lab.LiftReceiver();                     // not enabled yet: no flag
    EXPECT_EQ(0, ReadSlic(19));
    EXPECT_EQ(1, ReadSlic(68) & 1);

    WriteSlic(22, 3);
    lab.ReplaceReceiver();
    EXPECT_EQ(0, ReadBridge(18) & 0x80);
    const int flags = ReadSlic(19);
    EXPECT_EQ(0x02, flags);
    EXPECT_EQ(0, ReadSlic(68) & 1);
    WriteSlic(19, flags);
    EXPECT_EQ(0, ReadSlic(19));
    EXPECT_EQ(0x80, ReadBridge(18) & 0x80);

    // Lifted while ringing: ring trip.
    WriteSlic(64, 0x44);
    lab.LiftReceiver();
    EXPECT_EQ(0x01, ReadSlic(19));
}

TEST_F(LabAdapterTest, DtmfDigitsAndTheirCodes) {
    WriteSlic(23, 1);
    const struct {
        char key;
        int reg24;
    } cases[] = {{'1', 0x11}, {'9', 0x19}, {'0', 0x1A}, {'*', 0x1B}, {'#', 0x1C}, {'D', 0x10}};
    for (const auto& c : cases) {
        ASSERT_TRUE(lab.PressDtmf(c.key));
        EXPECT_EQ(0, ReadBridge(18) & 0x80) << c.key;
        EXPECT_EQ(c.reg24, ReadSlic(24)) << c.key;
        WriteSlic(20, ReadSlic(20));
        EXPECT_EQ(0x80, ReadBridge(18) & 0x80) << c.key;
    }
    EXPECT_FALSE(lab.PressDtmf('x'));
    EXPECT_EQ(-1, lab.Control("phone dtmf x"));
}

TEST_F(LabAdapterTest, ToneGeneratorDecodesBackToFrequencies) {
    auto coefficient = [](double f) {
        return static_cast<int>(std::cos(2 * 3.1415926535 * f / 8000) * 32768);
    };
    EXPECT_EQ(31537, coefficient(350));
    for (int f : {350, 440, 480, 620, 697, 770, 852, 941, 1209, 1336, 1477, 1633})
        EXPECT_EQ(f, LabSlic::DecodeFrequency(coefficient(f) & 0xFFFF)) << f;

    WriteIndirect(13, coefficient(350));
    WriteIndirect(16, coefficient(440));
    for (int reg : {36, 40}) { // 8.0 s on, 0 off: 64000 ticks
        WriteSlic(reg, 64000 & 0xFF);
        WriteSlic(reg + 1, 64000 >> 8);
    }
    EXPECT_EQ(0, lab.Control("phone tone?"));
    WriteSlic(32, 0x9F);
    WriteSlic(33, 0x9F);
    const LabTone t = lab.Tone();
    EXPECT_TRUE(t.on);
    EXPECT_EQ(350, t.frequency1);
    EXPECT_EQ(440, t.frequency2);
    EXPECT_EQ(8000, t.onMs1);
    EXPECT_EQ(0, t.offMs2);
    EXPECT_EQ(3500440, lab.Control("phone tone?"));
    WriteSlic(32, 0);
    WriteSlic(33, 0);
    EXPECT_EQ(0, lab.Control("phone tone?"));
}

TEST_F(LabAdapterTest, SlicResetRestoresResetValues) {
    // A chip set up, ringing, with interrupts enabled and a flag raised.
    for (const auto& w : std::vector<std::pair<int, int>>{
             {8, 0}, {14, 0}, {22, 3}, {34, 0x18}, {48, 0x80}, {50, 0x40}, {64, 0x44}})
        WriteSlic(w.first, w.second);
    WriteIndirect(13, 0x7B31);
    lab.LiftReceiver();
    ASSERT_EQ(0x01, ReadSlic(19)); // ring trip
    ASSERT_TRUE(lab.Ringing());

    lab.Control("slic reset");
    EXPECT_EQ(2, ReadSlic(8));
    EXPECT_EQ(0x10, ReadSlic(14)); // converter off
    for (int reg : {19, 22, 34, 48, 50, 64})
        EXPECT_EQ(0, ReadSlic(reg)) << reg;
    EXPECT_EQ(0, ReadIndirect(13));
    EXPECT_EQ(0x80, ReadBridge(18) & 0x80); // no interrupt pending
    EXPECT_FALSE(lab.Ringing());
    EXPECT_EQ(1, ReadSlic(68) & 1); // the receiver is still lifted
    LabSlicConfig config;
    config.revision = 2;
    config.variant = 1;
    lab.ConfigureSlic(config);
    EXPECT_EQ(0x12, ReadSlic(0));
}

// What the program's pin operations see: a pin it drives as an output reads back its level,
// except the gateways' line-use pin and the line chip's interrupt line, which other chips drive.
TEST_F(LabAdapterTest, OutputPinsReadBackTheirLevelUnlessAnotherChipDrivesThem) {
    const struct {
        int product;
        bool lineUseInput;
    } products[] = {{0x831C, false}, {0x825C, false}, {0xC31C, false}, {0xC31D, false},
                    {0xC39C, true},  {0xF39C, true},  {0xC290, true},  {0xC291, true}};
    for (const auto& p : products) {
        SCOPED_TRACE(p.product);
        LabAdapter fresh;
        fresh.SetProductId(p.product);
        auto write = [&fresh](int reg, uint8_t v) {
            RequestBlock b = {};
            b.header.request = kRequestRegister;
            b.header.reg = static_cast<uint16_t>(reg);
            b.header.count = 1;
            b.header.direction = kDirectionWrite;
            b.header.marker = kWriteMarker;
            b.count = 1;
            b.buffer = &v;
            return fresh.Call(VC_REGISTER_REQUEST, 0, &b);
        };
        // As the USB phones' bring-up leaves them: 0x08 and 0x10 driven high as outputs.
        write(18, 0x18);
        write(19, 0x58);
        fresh.SetPstnLineBusy(false);
        EXPECT_EQ(p.lineUseInput ? 0x00 : 0x10, fresh.BridgeRegister(18) & 0x10);
        EXPECT_EQ(0x08, fresh.BridgeRegister(18) & 0x08);
        fresh.SetPstnLineBusy(true);
        EXPECT_EQ(0x10, fresh.BridgeRegister(18) & 0x10);
        // Driven low: the gateways still see the line, the others the level driven.
        write(18, 0x08);
        EXPECT_EQ(p.lineUseInput ? 0x10 : 0x00, fresh.BridgeRegister(18) & 0x10);
        // An input the program does not drive reads the hardware; nothing drives 0x10 on the
        // phones, so it reads back what was last written there.
        write(19, 0x48);
        EXPECT_EQ(p.lineUseInput ? 0x10 : 0x00, fresh.BridgeRegister(18) & 0x10);
        // The line chip's interrupt line wins over an output driven low.
        write(19, 0xC8);
        EXPECT_EQ(0x80, fresh.BridgeRegister(18) & 0x80);
    }
}

// Through the request layer, as the event loop's PSTN watch reads the line-use pin.
TEST_F(LabAdapterTest, LineUsePinAsTheProgramReadsIt) {
    SetCurrentLabAdapter(&lab);
    SetDeviceLibrary(nullptr, LabVaVoRarCall);
    lab.SetProductId(0x831C);
    DevSetPins(0x10, 1);
    EXPECT_EQ(0x10, DevGetPins(0x10)); // the level driven, not a line
    DevSetPins(0x10, 0);
    EXPECT_EQ(0, DevGetPins(0x10));

    // The gateway: the telephone on the PSTN line takes it when lifted.
    lab.SetProductId(0xC39C);
    lab.Call(VC_SELECT_LINE, 0, nullptr);
    EXPECT_EQ(0, DevGetPins(0x10));
    lab.LiftReceiver();
    EXPECT_EQ(0x10, DevGetPins(0x10));
    lab.Call(VC_SELECT_LINE, 1, nullptr);
    EXPECT_EQ(0, DevGetPins(0x10));
    ClearDeviceLibrary();
    SetCurrentLabAdapter(nullptr);
}

TEST_F(LabAdapterTest, PstnRingBitAndRingingFromTheLine) {
    EXPECT_EQ(0x20, ReadBridge(15) & 0x20);
    lab.Control("pstn ring on");
    EXPECT_EQ(0, ReadBridge(15) & 0x20);
    EXPECT_EQ(0, lab.Control("phone ringing?"));
    // On the PSTN side the telephone rings from the line.
    lab.Call(VC_SELECT_LINE, 0, nullptr);
    EXPECT_EQ(1, lab.Control("phone ringing?"));
    lab.Control("pstn ring off");
    EXPECT_EQ(0, lab.Control("phone ringing?"));
}

TEST_F(LabAdapterTest, OpenPresenceAndArrivalPosts) {
    lab.SetProductId(0xC39C);
    EXPECT_EQ(0, lab.Call(VC_REGISTER_WINDOW, 0x1234, nullptr)); // present
    int product = 0;
    lab.Call(VC_OPEN, 0x400000, &product);
    EXPECT_EQ(0xC39C, product);
    EXPECT_EQ(1, lab.Control("opened?"));

    std::vector<LabPost> hooked;
    lab.SetPostHook([&hooked](const LabPost& p) { hooked.push_back(p); });
    EXPECT_EQ(1, lab.Control("unplug"));
    EXPECT_EQ(0, lab.Control("opened?"));
    EXPECT_EQ(1, lab.Call(VC_REGISTER_WINDOW, 0x1234, nullptr)); // absent
    EXPECT_EQ(1, lab.Control("plug"));
    ASSERT_EQ(2u, hooked.size());
    EXPECT_EQ(kLabDeviceRemoved, hooked[0].message);
    EXPECT_EQ(kLabDeviceArrived, hooked[1].message);
    EXPECT_EQ(0x1234u, hooked[1].window);
    EXPECT_EQ(0xC39C, hooked[1].lParam);
    EXPECT_EQ(hooked.size(), lab.Posts().size());

    lab.Call(VC_UNREGISTER_WINDOW, 0, nullptr);
    lab.Control("unplug");
    EXPECT_EQ(2u, hooked.size()); // nobody to post to
}

TEST_F(LabAdapterTest, AudioDeviceAndMixer) {
    char name[] = "USB Audio";
    EXPECT_EQ(1, lab.Call(VC_SELECT_AUDIO_DEVICE, 0, name));
    EXPECT_EQ("USB Audio", lab.AudioDeviceName());

    MixerOpenBlock block;
    std::memset(block.name, 'M', sizeof block.name); // unterminated: read no further
    block.window = Value(0x5678);
    EXPECT_NE(0, lab.Call(VC_OPEN_MIXER, 0, &block));
    EXPECT_EQ(255u, lab.MixerName().size());
    EXPECT_EQ(0x5678u, lab.CallsOf(VC_OPEN_MIXER)[0].window);
    EXPECT_TRUE(lab.MixerOpen());
    lab.SetMixerOpens(false);
    EXPECT_EQ(0, lab.Call(VC_OPEN_MIXER, 0, &block));
}

TEST_F(LabAdapterTest, ControlCommands) {
    const struct {
        const char* command;
        int result;
    } cases[] = {
        {"line?", -1},
        {"product 0x831D", 1},
        {"product 33565", 1},
        {"product 0xZZ", -1},
        {"phone offhook", 1},
        {"phone hook?", 1},
        {"slic 68", 1},
        {"bridge 300", -1},
        {"indirect 13", 0},
        {"fail 3 2", 1},
        {"fail 3 x", -1},
        {"calls?", 0},
        {"faults?", 0},
        {"opened?", 0},
        {"pstn ring maybe", -1},
        {"dance", -1},
        {"", -1},
        {"phone dtmf 12", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.result, lab.Control(c.command)) << c.command;
    EXPECT_EQ(33565, lab.ProductId());
    EXPECT_EQ(-1, ReadSlic(0)); // "fail 3 2"
    EXPECT_EQ(-1, ReadSlic(0));
    EXPECT_EQ(5, ReadSlic(0));
    lab.Call(VC_SELECT_LINE, 1, nullptr);
    EXPECT_EQ(1, lab.Control("line?"));
    EXPECT_EQ(4, lab.Control("calls?"));
}

TEST_F(LabAdapterTest, FaultControlCommands) {
    const struct {
        const char* command;
        int result;
    } cases[] = {
        {"plugged?", 1},
        {"fail 3 reg 68", 1},
        {"fail 4 reg 64 2", 1},
        {"fail 3 reg 300", -1},
        {"fail 3 reg x", -1},
        {"fail 3 reg 68 0", -1},
        {"fail 3 reg 68 1 2", -1},
        {"fail random 0.5 seed 7", 1},
        {"fail random 0", 1},
        {"fail random 1.5", -1},
        {"fail random -0.1", -1},
        {"fail random 0.1 seed", -1},
        {"fail random 0.1 seed -1", -1},
        {"fail random 0.1 seed 4294967296", -1},
        {"fail random abc", -1},
        {"fail clear now", -1},
        {"refuse 2 on", 1},
        {"refuse 2 maybe", -1},
        {"refuse 999 on", -1},
        {"refuse 2 off", 1},
        {"stall 100", 1},
        {"stall 100 3", 1},
        {"stall 100 always", 1},
        {"stall 0", 1},
        {"stall -1", -1},
        {"stall 100 sometimes", -1},
        {"stall", -1},
        {"failures?", 0},
        {"phone bell?", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.result, lab.Control(c.command)) << c.command;

    // What they set: register 68 fails once for code 3, 64 twice for code 4.
    EXPECT_EQ(0, ReadSlic(64) < 0 ? 1 : 0);
    EXPECT_EQ(-1, ReadSlic(68));
    EXPECT_NE(-1, ReadSlic(68));
    EXPECT_EQ(0, WriteSlic(64, 0x11));
    EXPECT_EQ(0, WriteSlic(64, 0x11));
    EXPECT_EQ(1, WriteSlic(64, 0x11));
    EXPECT_EQ(3, lab.Control("failures?"));

    EXPECT_EQ(1, lab.Control("refuse 3 on"));
    EXPECT_EQ(1, lab.Control("fail random 1 seed 2"));
    EXPECT_EQ(1, lab.Control("stall 50 always"));
    EXPECT_EQ(1, lab.Control("fail clear"));
    const uint64_t before = clock.NowMs();
    EXPECT_NE(-1, ReadSlic(68));
    EXPECT_EQ(1, WriteSlic(64, 0x11));
    EXPECT_EQ(before, clock.NowMs());

    EXPECT_EQ(1, lab.Control("unplug"));
    EXPECT_EQ(0, lab.Control("plugged?"));
    EXPECT_EQ(-1, ReadSlic(68));
    EXPECT_EQ(3, lab.Control("failures?")); // an unplugged device is not an injection
    EXPECT_EQ(1, lab.Control("plug"));
    EXPECT_EQ(1, lab.Control("plugged?"));
    EXPECT_EQ(0, lab.Control("slic 64")); // power-on
}

// The DLL's configuration from the environment (KESTREL_LAB_REFUSE, KESTREL_LAB_FAIL_RANDOM).
TEST_F(LabAdapterTest, FaultConfigurationText) {
    const struct {
        const char* refuse;
        bool ok;
        std::vector<int> refused;
    } refusals[] = {
        {"", true, {}},
        {"22", true, {22}},
        {"22,23", true, {22, 23}},
        {"0x30,49", true, {48, 49}},
        {"22,", true, {22}},
        {"22,,23", false, {}},
        {"x", false, {}},
        {"256", false, {}},
        {"-1", false, {}},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.refuse);
        LabAdapter a;
        EXPECT_EQ(r.ok, a.ConfigureRefusals(r.refuse));
        for (int code : {22, 23, 48, 49}) {
            const bool refused =
                std::find(r.refused.begin(), r.refused.end(), code) != r.refused.end();
            EXPECT_EQ(refused ? 0 : 1, a.Call(code, 0, nullptr)) << code;
            EXPECT_EQ(refused, a.Calls().back().injected) << code;
        }
    }

    const struct {
        const char* spec;
        bool ok;
        int failures; // of 200 reads
    } randoms[] = {
        {"", true, 0},     {"1", true, 200},  {"1:9", true, 200},
        {"0:9", true, 0},  {"2", false, 0},   {"0.5:", false, 0},
        {"x:1", false, 0}, {"1:x", false, 0}, {"1:1 2", false, 0},
    };
    for (const auto& r : randoms) {
        SCOPED_TRACE(r.spec);
        LabAdapter a;
        EXPECT_EQ(r.ok, a.ConfigureFailRandom(r.spec));
        uint8_t v = 0;
        for (int i = 0; i < 200; ++i)
            a.Call(VC_SLIC_READ_DIRECT, 68, &v);
        EXPECT_EQ(r.failures, a.InjectedFailures());
    }
    // The seed is the one given: the same failures as FailRandom with it.
    LabAdapter configured, direct;
    configured.ConfigureFailRandom("0.3:11");
    direct.FailRandom(0.3, 11);
    uint8_t v = 0;
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(direct.Call(VC_SLIC_READ_DIRECT, 68, &v),
                  configured.Call(VC_SLIC_READ_DIRECT, 68, &v))
            << i;
}

TEST_F(LabAdapterTest, LogLinesAreStable) {
    WriteBridge(18, 0);
    WriteSlic(64, 0x44);
    WriteIndirect(13, 0x7B31);
    ReadSlic(68);
    lab.Call(VC_SELECT_LINE, 1, nullptr);
    lab.Call(VC_SLIC_WRITE_DIRECT, 64, Value(0x100));
    lab.FailNextAt(VC_SLIC_READ_DIRECT, 68);
    ReadSlic(68);
    lab.SetStall(250, 1);
    ReadSlic(68);
    lab.Unplug();
    WriteBridge(18, 0);
    std::vector<std::string> lines;
    for (const LabCall& c : lab.Calls())
        lines.push_back(LabAdapter::FormatCall(c));
    EXPECT_EQ((std::vector<std::string>{
                  "0 2 0 W bridge[18] 00 -> 1",
                  "1 4 64 W slic[64] 44 -> 1",
                  "2 6 13 W indirect[13] 7B31 -> 1",
                  "3 3 68 R slic[68] 00 -> 1",
                  "4 25 1 -> 1",
                  "5 4 64 W slic[64] -> 0 FAULT value too wide",
                  "6 3 68 R slic[68] -> 0 FAILED",
                  "7 3 68 R slic[68] 00 -> 1 STALLED 250ms",
                  "8 2 0 W bridge[18] 00 -> 0 UNPLUGGED",
              }),
              lines);
}

// Kestrel's two threads and the control thread call in at once; the record stays whole.
TEST_F(LabAdapterTest, ConcurrentCallersKeepEveryCall) {
    WriteSlic(22, 3);
    lab.ClearCalls();
    auto poller = [this] {
        for (int i = 0; i < 500; ++i) {
            ReadBridge(18);
            WriteSlic(19, ReadSlic(19));
        }
    };
    std::thread a(poller), b(poller);
    for (int i = 0; i < 500; ++i)
        lab.Control(i % 2 ? "phone offhook" : "phone onhook");
    a.join();
    b.join();
    EXPECT_EQ(3000, lab.CallCount());
    EXPECT_EQ(0, lab.FaultCount());
}

// A removed device: every request that reaches it fails and leaves the caller's memory and the
// registers alone; the library's own housekeeping still answers.
TEST_F(LabAdapterTest, UnpluggedRequestsFailAndWriteNothing) {
    lab.Call(VC_REGISTER_WINDOW, 0x1234, nullptr);
    WriteBridge(41, 0x20);
    WriteSlic(64, 0x11);
    lab.Unplug();
    EXPECT_FALSE(lab.Plugged());
    EXPECT_EQ(0, lab.Control("plugged?"));
    lab.ClearCalls();

    uint8_t bytes[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    RequestBlock read = WriteBlock(40, bytes);
    read.header.direction = kDirectionRead;
    read.header.marker = 0;
    read.header.count = read.count = 4;
    uint8_t byte = 0xAA;
    uint16_t word = 0xAAAA;
    int event = 0x5A5A5A5A, product = 0x5A5A5A5A;
    char id[8] = "AAAAAAA";
    char name[] = "VOZ";
    MixerOpenBlock mixer = {};
    const struct {
        const char* what;
        int code, param;
        void* pointer;
    } reaching[] = {
        {"bridge read", VC_REGISTER_REQUEST, 0, &read},
        {"slic read", VC_SLIC_READ_DIRECT, 64, &byte},
        {"slic write", VC_SLIC_WRITE_DIRECT, 64, Value(0x44)},
        {"indirect read", VC_SLIC_READ_INDIRECT, 13, &word},
        {"indirect write", VC_SLIC_WRITE_INDIRECT, 13, Value(0x1234)},
        {"event", VC_READ_EVENT, 0, &event},
        {"open", VC_OPEN, 0, &product},
        {"key", VC_KEY_EVENT, '5', nullptr},
        {"audio device", VC_SELECT_AUDIO_DEVICE, 0, name},
        {"switch on", VC_SWITCH_ON, 0, nullptr},
        {"select line", VC_SELECT_LINE, 0, nullptr},
        {"mixer", VC_OPEN_MIXER, 0, &mixer},
        {"hardware id", VC_HARDWARE_ID, 8, id},
        {"call 48", VC_CALL48, 1, nullptr},
    };
    lab.QueueEvent(257);
    for (const auto& c : reaching) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(0, lab.Call(c.code, c.param, c.pointer));
        const LabCall rec = lab.Calls().back();
        EXPECT_TRUE(rec.unplugged);
        EXPECT_FALSE(rec.injected);
    }
    uint8_t write = 0x33;
    RequestBlock writeBlock = WriteBlock(41, &write);
    EXPECT_EQ(0, lab.Call(VC_REGISTER_REQUEST, 0, &writeBlock));
    EXPECT_EQ((std::vector<uint8_t>{0xAA, 0xAA, 0xAA, 0xAA}),
              std::vector<uint8_t>(bytes, bytes + 4));
    EXPECT_EQ(0xAA, byte);
    EXPECT_EQ(0xAAAA, word);
    EXPECT_EQ(0x5A5A5A5A, event);
    EXPECT_EQ(0x5A5A5A5A, product);
    EXPECT_STREQ("AAAAAAA", id);
    EXPECT_EQ(0x20, lab.BridgeRegister(41));
    EXPECT_EQ(0x11, lab.SlicDirect(64));
    EXPECT_EQ(0, lab.SlicIndirect(13));
    EXPECT_EQ(-1, lab.SwitchState());
    EXPECT_FALSE(lab.Opened());
    EXPECT_FALSE(lab.MixerOpen());
    EXPECT_EQ(0, lab.InjectedFailures());

    const struct {
        int code, param, result;
    } housekeeping[] = {
        {VC_REGISTER_WINDOW, 0x1234, 1}, {VC_DEVICE_CHANGE, 7, 1}, {VC_MIXER_CHANGE, 977, 1},
        {VC_CLOSE_MIXER, 0, 1},          {VC_CLOSE, 0, 1},         {VC_UNREGISTER_WINDOW, 0, 1}};
    for (const auto& c : housekeeping) {
        EXPECT_EQ(c.result, lab.Call(c.code, c.param, nullptr)) << c.code;
        EXPECT_FALSE(lab.Calls().back().unplugged) << c.code;
    }
    EXPECT_EQ("19 1 0 -> 1", LabAdapter::FormatCall(lab.Calls()[19]));
    EXPECT_EQ("1 3 64 R slic[64] -> 0 UNPLUGGED", LabAdapter::FormatCall(lab.Calls()[1]));
}

TEST_F(LabAdapterTest, PlugBringsTheDeviceBackAtItsPowerOnValues) {
    lab.Call(VC_REGISTER_WINDOW, 0x1234, nullptr);
    WriteBridge(18, 0x18);
    WriteBridge(19, 0x58);
    WriteBridge(41, 0x20);
    for (const auto& w : std::vector<std::pair<int, int>>{
             {8, 0}, {14, 0}, {22, 3}, {34, 0x18}, {48, 0x80}, {49, 0x3E}, {64, 0x44}})
        WriteSlic(w.first, w.second);
    WriteIndirect(13, 0x7B31);
    lab.LiftReceiver();
    lab.SetPstnLineBusy(true);
    lab.Call(VC_SELECT_LINE, 1, nullptr);

    // Plugged in while plugged in: nothing happens to the device.
    lab.Plug();
    EXPECT_EQ(0x44, lab.SlicDirect(64));

    lab.Unplug();
    lab.Plug();
    EXPECT_TRUE(lab.Plugged());
    EXPECT_EQ(1, lab.Control("plugged?"));
    EXPECT_EQ(0, ReadBridge(41));
    EXPECT_EQ(0, ReadBridge(19));
    EXPECT_EQ(0x80, ReadBridge(18)); // pins are inputs again; no interrupt pending
    EXPECT_EQ(2, ReadSlic(8));
    EXPECT_EQ(0x10, ReadSlic(14));
    for (int reg : {22, 34, 48, 49, 64})
        EXPECT_EQ(0, ReadSlic(reg)) << reg;
    EXPECT_EQ(0, ReadIndirect(13));
    EXPECT_FALSE(lab.Ringing());
    EXPECT_EQ(-1, lab.SelectedLine());
    // The world stays: the receiver is still lifted.
    EXPECT_EQ(1, ReadSlic(68) & 1);
    EXPECT_TRUE(lab.OffHook());
    const std::vector<LabPost> posts = lab.Posts();
    ASSERT_EQ(3u, posts.size());
    EXPECT_EQ(kLabDeviceRemoved, posts[1].message);
    EXPECT_EQ(kLabDeviceArrived, posts[2].message);
}

TEST_F(LabAdapterTest, FailNextAtFailsOnlyRequestsTouchingThatRegister) {
    const struct {
        const char* what;
        int code, reg, count;
        std::function<int(LabAdapterTest&, int reg)> request; // 1 success, 0 failure
        int other;                                            // a register that still works
    } cases[] = {
        {"slic read", VC_SLIC_READ_DIRECT, 68, 2,
         [](LabAdapterTest& t, int reg) { return t.ReadSlic(reg) >= 0 ? 1 : 0; }, 64},
        {"slic write", VC_SLIC_WRITE_DIRECT, 64, 1,
         [](LabAdapterTest& t, int reg) { return t.WriteSlic(reg, 0x11); }, 65},
        {"indirect write", VC_SLIC_WRITE_INDIRECT, 13, 3,
         [](LabAdapterTest& t, int reg) { return t.WriteIndirect(reg, 0x1234); }, 14},
        {"bridge write", VC_REGISTER_REQUEST, 41, 1,
         [](LabAdapterTest& t, int reg) { return t.WriteBridge(reg, 0x20); }, 40},
        {"bridge block read", VC_REGISTER_REQUEST, 19, 2,
         [](LabAdapterTest& t, int reg) {
             // Two registers from reg - 1: covers reg.
             uint8_t two[2] = {0xAA, 0xAA};
             RequestBlock b = t.WriteBlock(reg - 1, two);
             b.header.direction = kDirectionRead;
             b.header.marker = 0;
             b.header.count = b.count = 2;
             const int r = t.lab.Call(VC_REGISTER_REQUEST, 0, &b);
             if (!r) {
                 EXPECT_EQ(0xAA, two[0]);
             }
             return r;
         },
         21},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        lab.ClearCalls();
        lab.FailNextAt(c.code, c.reg, c.count);
        EXPECT_EQ(1, c.request(*this, c.other));
        for (int i = 0; i < c.count; ++i) {
            EXPECT_EQ(0, c.request(*this, c.reg)) << i;
            EXPECT_TRUE(lab.Calls().back().injected);
        }
        EXPECT_EQ(1, c.request(*this, c.reg));
        EXPECT_EQ(c.count, lab.InjectedFailures());
        EXPECT_EQ(0, lab.FaultCount());
    }
    // The write that failed changed nothing.
    lab.FailNextAt(VC_SLIC_WRITE_DIRECT, 70);
    EXPECT_EQ(0, WriteSlic(70, 0x77));
    EXPECT_EQ(0, lab.SlicDirect(70));
    // Another code on the same register is not touched.
    lab.FailNextAt(VC_SLIC_WRITE_DIRECT, 66);
    EXPECT_EQ(0, ReadSlic(66));
    lab.ClearFailures();
    EXPECT_EQ(1, WriteSlic(66, 1));
}

// The random failures are a pure function of the seed and the request sequence.
TEST_F(LabAdapterTest, FailRandomReplaysBySeedAndHitsItsFraction) {
    auto pattern = [](double fraction, uint32_t seed, int n) {
        LabAdapter a;
        a.FailRandom(fraction, seed);
        std::vector<int> failed;
        uint8_t v = 0;
        for (int i = 0; i < n; ++i)
            if (!a.Call(VC_SLIC_READ_DIRECT, 64, &v)) failed.push_back(i);
        EXPECT_EQ(static_cast<int>(failed.size()), a.InjectedFailures());
        return failed;
    };
    EXPECT_EQ(pattern(0.01, 7, 3000), pattern(0.01, 7, 3000));
    EXPECT_NE(pattern(0.01, 7, 3000), pattern(0.01, 8, 3000));
    // The same on every platform and build: the first failures of seed 7 at 1 %.
    const std::vector<int> first = pattern(0.01, 7, 1000);
    EXPECT_EQ((std::vector<int>{172, 212, 398, 740, 752, 763, 798}), first);

    const struct {
        double fraction;
        int n, low, high;
    } rates[] = {
        {0.01, 20000, 140, 260}, {0.25, 4000, 900, 1100}, {0, 1000, 0, 0}, {1, 100, 100, 100}};
    for (const auto& r : rates) {
        const int hits = static_cast<int>(pattern(r.fraction, 3, r.n).size());
        EXPECT_GE(hits, r.low) << r.fraction;
        EXPECT_LE(hits, r.high) << r.fraction;
    }

    // Only requests on the bus: opening, registering and the audio parts are spared.
    lab.FailRandom(1, 1);
    int product = 0;
    EXPECT_EQ(1, lab.Call(VC_OPEN, 0, &product));
    EXPECT_EQ(0, lab.Call(VC_REGISTER_WINDOW, 0, nullptr));
    EXPECT_EQ(1, lab.Call(VC_CLOSE, 0, nullptr));
    EXPECT_EQ(0, ReadBridge(18) >= 0 ? 1 : 0);
    lab.FailRandom(0, 1);
    EXPECT_NE(-1, ReadBridge(18));
}

// The PCI card has no bridge registers: refused, while the line chip and its events work.
TEST_F(LabAdapterTest, RefusedCodeFailsWhileTheRestWorks) {
    lab.SetProductId(1);
    lab.RefuseCode(VC_REGISTER_REQUEST, true);
    int product = 0;
    EXPECT_EQ(1, lab.Call(VC_OPEN, 0, &product));
    EXPECT_EQ(1, product);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(-1, ReadBridge(15));
    EXPECT_EQ(0, WriteBridge(18, 0x10));
    EXPECT_EQ(3 + 1, lab.InjectedFailures());
    EXPECT_EQ(0x11, ReadSlic(64)); // the driver fed the line at open
    EXPECT_EQ(1, WriteSlic(64, 0x44));
    EXPECT_TRUE(lab.Ringing());
    lab.LiftReceiver();
    int event = 0;
    EXPECT_EQ(1, lab.Call(VC_READ_EVENT, 0, &event));
    EXPECT_EQ(257, event);
    lab.RefuseCode(VC_REGISTER_REQUEST, false);
    EXPECT_NE(-1, ReadBridge(15));

    EXPECT_EQ(1, lab.Control("refuse 4 on"));
    EXPECT_EQ(0, WriteSlic(64, 0x11));
    EXPECT_EQ(1, lab.Control("refuse 4 off"));
    EXPECT_EQ(1, WriteSlic(64, 0x11));
}

// A stalled request costs time on the clock and nothing else; the model stays open meanwhile.
TEST_F(LabAdapterTest, StallsTakeVirtualTimeWithoutHoldingTheModel) {
    lab.SetStall(500, 2);
    const uint64_t start = clock.NowMs();
    EXPECT_NE(-1, ReadSlic(68));
    EXPECT_EQ(500u, lab.Calls().back().stallMs);
    EXPECT_EQ(1, lab.Call(VC_DEVICE_CHANGE, 7, nullptr)); // housekeeping: not on the bus
    EXPECT_NE(-1, ReadBridge(18));
    EXPECT_NE(-1, ReadSlic(68));
    EXPECT_EQ(start + 1000, clock.NowMs());
    EXPECT_EQ(0u, lab.Calls().back().stallMs);

    lab.SetStall(2000, -1);
    for (int i = 0; i < 5; ++i)
        ReadSlic(68);
    EXPECT_EQ(start + 11000, clock.NowMs());
    lab.SetStall(0, 0);
    ReadSlic(68);
    EXPECT_EQ(start + 11000, clock.NowMs());

    // The latency clock, when there is one, takes the stall; the model is free while it sleeps.
    struct Blocking : Clock {
        LabAdapter* lab = nullptr;
        unsigned slept = 0;
        bool sawHook = false;
        void Sleep(unsigned ms) override {
            slept += ms;
            std::thread other([this] {
                lab->LiftReceiver();
                sawHook = lab->Control("phone hook?") == 1;
            });
            other.join();
        }
        uint64_t NowMs() override { return 0; }
    } blocking;
    blocking.lab = &lab;
    lab.SetLatency(0, &blocking);
    EXPECT_EQ(1, lab.Control("stall 300"));
    EXPECT_EQ(1, ReadSlic(68) & 1); // the receiver was lifted during the stall
    EXPECT_EQ(300u, blocking.slept);
    EXPECT_TRUE(blocking.sawHook);
    lab.SetLatency(0, nullptr);
}

TEST_F(LabAdapterTest, RingCadenceOfTheLineChipOverTime) {
    auto ringAt = [this](std::vector<uint64_t> times) {
        std::string bells;
        uint64_t start = clock.NowMs();
        for (uint64_t t : times) {
            clock.Advance(start + t - clock.NowMs());
            bells += lab.Ringing() ? '1' : '0';
        }
        return bells;
    };
    // 2 s active (16000 ticks), 4 s inactive (32000), as the USB phones program it.
    for (const auto& w :
         std::vector<std::pair<int, int>>{{48, 0x80}, {49, 0x3E}, {50, 0x00}, {51, 0x7D}})
        WriteSlic(w.first, w.second);
    const std::vector<uint64_t> times = {0, 1999, 2000, 5999, 6000, 7999, 8000, 12000, 13999};
    const struct {
        const char* what;
        int control; // register 34
        const char* bells;
    } cases[] = {
        {"both timers", 0x18, "110011011"},
        {"timers off", 0x00, "111111111"},
        {"active timer only", 0x10, "110000000"},
        {"inactive timer only", 0x08, "111111111"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteSlic(64, 0x11);
        WriteSlic(34, c.control);
        clock.Advance(777); // the cadence counts from the start of ringing, not the set-up
        WriteSlic(64, 0x44);
        EXPECT_EQ(c.bells, ringAt(times));
        EXPECT_EQ(lab.Ringing() ? 1 : 0, lab.Control("phone bell?"));
        EXPECT_EQ(lab.Control("phone bell?"), lab.Control("phone ringing?"));
    }
    // Ringing stops with the line feed, even in the middle of a burst.
    WriteSlic(34, 0x18);
    WriteSlic(64, 0x11);
    WriteSlic(64, 0x44);
    EXPECT_TRUE(lab.Ringing());
    WriteSlic(64, 0x11);
    EXPECT_FALSE(lab.Ringing());
    EXPECT_EQ(0, lab.Control("phone bell?"));
}

TEST_F(LabAdapterTest, OnHookTransmissionIsQuietRecordedAndStillSeesTheReceiver) {
    WriteSlic(22, 3);
    WriteSlic(48, 0x80); // ring timers as the USB phones set them
    WriteSlic(49, 0x3E);
    WriteSlic(34, 0x18);
    clock.Advance(1000);
    WriteSlic(64, 0x44);
    clock.Advance(500);
    EXPECT_TRUE(lab.Ringing());
    // Caller ID after a ring: no bell in on-hook transmission, whatever the ring timers say.
    WriteSlic(64, 0x22);
    EXPECT_FALSE(lab.Ringing());
    EXPECT_EQ(2, lab.Control("phone linefeed?"));
    clock.Advance(1800);
    EXPECT_EQ(1800, lab.Control("linefeed last onhook-transmission"));
    WriteSlic(64, 0x22); // the same value again is no change
    clock.Advance(200);
    WriteSlic(64, 0x11);
    clock.Advance(300);

    const struct {
        const char* state;
        int ms;
    } stretches[] = {
        {"open", -1},                  // the reset value is no change
        {"ringing", 500},              //
        {"onhook-transmission", 2000}, // both writes of 0x22 in one stretch
        {"active", 300},               // still going: until now
        {"1", 300},                    // the state by its number
        {"8", -1},                     // never
    };
    for (const auto& s : stretches)
        EXPECT_EQ(s.ms, lab.Control(std::string("linefeed last ") + s.state)) << s.state;
    EXPECT_EQ(-1, lab.Control("linefeed last hush"));
    EXPECT_EQ(-1, lab.Control("linefeed last 16"));

    const std::vector<LabLineFeedChange> changes = lab.LineFeedChanges();
    ASSERT_EQ(3u, changes.size());
    EXPECT_EQ(0x44, changes[0].value);
    EXPECT_EQ(0x22, changes[1].value);
    EXPECT_EQ(500u, changes[1].ms - changes[0].ms);
    EXPECT_EQ(0x11, changes[2].value);
    EXPECT_EQ(2000u, changes[2].ms - changes[1].ms);

    // The receiver lifted while the data plays: an ordinary loop closure, not a ring trip.
    WriteSlic(64, 0x22);
    WriteSlic(19, ReadSlic(19));
    lab.LiftReceiver();
    EXPECT_EQ(0x02, ReadSlic(19));
    EXPECT_EQ(1, lab.Control("phone hook?"));
}

TEST_F(LabAdapterTest, LineFeedChangesPlaceTheSoundPlayed) {
    long long played = 0;
    lab.SetSoundMeter([&played] { return played; });
    EXPECT_EQ(-2, lab.Control("linefeed sound onhook-transmission begin"));
    WriteSlic(64, 0x11);
    played = 100;
    WriteSlic(64, 0x22);
    played = 900;
    EXPECT_EQ(100, lab.Control("linefeed sound onhook-transmission begin"));
    EXPECT_EQ(-2, lab.Control("linefeed sound onhook-transmission end")); // still going
    WriteSlic(64, 0x11);
    played = 1000;
    WriteSlic(64, 0x44);
    EXPECT_EQ(100, lab.Control("linefeed sound onhook-transmission begin"));
    EXPECT_EQ(900, lab.Control("linefeed sound onhook-transmission end"));
    EXPECT_EQ(900, lab.Control("linefeed sound active begin"));
    EXPECT_EQ(1000, lab.Control("linefeed sound active end"));
    EXPECT_EQ(-1, lab.Control("linefeed sound hush begin"));
    EXPECT_EQ(-1, lab.Control("linefeed sound active middle"));
}

TEST_F(LabAdapterTest, LineFeedRecordKeepsTheLatestChanges) {
    for (size_t i = 0; i < LabSlic::kLineFeedRecord + 10; ++i) {
        clock.Advance(1);
        WriteSlic(64, i % 2 ? 0x11 : 0x22);
    }
    const std::vector<LabLineFeedChange> changes = lab.LineFeedChanges();
    ASSERT_EQ(LabSlic::kLineFeedRecord, changes.size());
    EXPECT_EQ(0x11, changes.back().value);
    EXPECT_EQ(clock.NowMs(), changes.back().ms);
    EXPECT_EQ(1, lab.Control("linefeed last onhook-transmission"));
}

} // namespace
