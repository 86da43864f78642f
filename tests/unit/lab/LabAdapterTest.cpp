// The lab adapter: request checking, and the line-chip behaviour the device tests build on.
#include "adapter/LabAdapter.h"
#include "device/KwIpApi.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <thread>

namespace {

void* Value(uintptr_t v) {
    return reinterpret_cast<void*>(v);
}

class LabAdapterTest : public ::testing::Test {
  protected:
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
    WriteSlic(8, 0);
    WriteSlic(64, 0x11);
    lab.Control("slic reset");
    EXPECT_EQ(2, ReadSlic(8));
    EXPECT_EQ(0, ReadSlic(64));
    LabSlicConfig config;
    config.revision = 2;
    config.variant = 1;
    lab.ConfigureSlic(config);
    EXPECT_EQ(0x12, ReadSlic(0));
}

TEST_F(LabAdapterTest, BridgePinsCombineHostLatchWithLineInputs) {
    WriteBridge(18, 0x18); // the host drives 0x08 and 0x10 high
    EXPECT_EQ(0x88, ReadBridge(18));
    lab.Control("pstn line busy");
    EXPECT_EQ(0x98, ReadBridge(18));
    lab.Control("pstn line idle");
    EXPECT_EQ(0x20, ReadBridge(15) & 0x20);
    lab.Control("pstn ring on");
    EXPECT_EQ(0, ReadBridge(15) & 0x20);
    EXPECT_EQ(0, lab.Control("phone ringing?"));

    // On the PSTN side the telephone rings from the line and its receiver takes the line.
    lab.Call(VC_SELECT_LINE, 0, nullptr);
    EXPECT_EQ(1, lab.Control("phone ringing?"));
    lab.LiftReceiver();
    EXPECT_EQ(0x10, ReadBridge(18) & 0x10);
    lab.Call(VC_SELECT_LINE, 1, nullptr);
    EXPECT_EQ(0, ReadBridge(18) & 0x10);
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

TEST_F(LabAdapterTest, LogLinesAreStable) {
    WriteBridge(18, 0);
    WriteSlic(64, 0x44);
    WriteIndirect(13, 0x7B31);
    ReadSlic(68);
    lab.Call(VC_SELECT_LINE, 1, nullptr);
    lab.Call(VC_SLIC_WRITE_DIRECT, 64, Value(0x100));
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

} // namespace
