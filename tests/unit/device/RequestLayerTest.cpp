// The request layer, byte for byte as the vendor library receives it.
#include "adapter/LabAdapter.h"
#include "device/KwIpApi.h"
#include "device/SlicRegisters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

namespace {

// One call as the library saw it, with the request block and its buffer copied out.
struct Seen {
    int code;
    int param;
    uintptr_t pointer;
    std::vector<uint8_t> block;  // the RequestBlock bytes (code 2)
    std::vector<uint8_t> buffer; // the data buffer of a code 2 write
};

std::vector<Seen> seen;
// Answers reads of code 2 (by register) and code 3/5; returns the result.
std::function<int(const Seen&, void*)> answer;

int Capture(int code, int param, void* pointer) {
    Seen s{code, param, reinterpret_cast<uintptr_t>(pointer), {}, {}};
    if (code == VC_REGISTER_REQUEST && pointer) {
        const uint8_t* p = static_cast<const uint8_t*>(pointer);
        s.block.assign(p, p + sizeof(RequestBlock));
        RequestBlock b;
        std::memcpy(&b, pointer, sizeof b);
        if (b.header.direction == kDirectionWrite && b.buffer) {
            const uint8_t* data = static_cast<const uint8_t*>(b.buffer);
            s.buffer.assign(data, data + b.count);
        }
    }
    seen.push_back(s);
    return answer ? answer(s, pointer) : 1;
}

RequestBlock BlockOf(const Seen& s) {
    RequestBlock b;
    std::memcpy(&b, s.block.data(), sizeof b);
    return b;
}

class RequestLayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        seen.clear();
        answer = nullptr;
        SetDeviceLibrary(nullptr, Capture);
    }
    void TearDown() override {
        ClearDeviceLibrary();
        answer = nullptr;
    }
};

TEST_F(RequestLayerTest, WriteRegSendsTheDocumentedBlock) {
    EXPECT_EQ(1, DevWriteReg(10, 0x3F));
    ASSERT_EQ(1u, seen.size());
    const Seen& s = seen[0];
    EXPECT_EQ(VC_REGISTER_REQUEST, s.code);
    EXPECT_EQ(0, s.param);
    ASSERT_EQ(16 + sizeof(void*), s.block.size());
    const std::vector<uint8_t> header = {0x04, s.block[1], 0x00, 0x00, 0x0A,
                                         0x00, 0x01,       0x00, 0x00, 0x55};
    EXPECT_EQ(header, std::vector<uint8_t>(s.block.begin(), s.block.begin() + 10));
    EXPECT_EQ((std::vector<uint8_t>{1, 0, 0, 0}),
              std::vector<uint8_t>(s.block.begin() + 12, s.block.begin() + 16));
    EXPECT_EQ(std::vector<uint8_t>{0x3F}, s.buffer);
}

TEST_F(RequestLayerTest, RequestByteDirectionAndMarkerPerOperation) {
    uint8_t buf[4] = {1, 2, 3, 4};
    struct Case {
        const char* name;
        std::function<int()> op;
        int request;
        int direction;
        bool marker;
    } cases[] = {
        {"WriteRegBlock", [&] { return DevWriteRegBlock(7, buf, 4); }, 4, 0, true},
        {"ReadRegBlock", [&] { return DevReadRegBlock(7, buf, 4); }, 4, 1, false},
        {"ReadReg", [&] { return DevReadReg(7, buf); }, 4, 1, false},
        {"WriteRegs same register", [&] { return DevWriteRegs(7, buf, 4, 4, 0); }, 5, 0, true},
        {"WriteRegs incrementing", [&] { return DevWriteRegs(7, buf, 4, 4, 1); }, 4, 0, true},
        {"ReadRegs same register", [&] { return DevReadRegs(7, buf, 4, 4, 0); }, 5, 1, false},
        {"ReadRegs incrementing", [&] { return DevReadRegs(7, buf, 4, 4, 2); }, 4, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        seen.clear();
        EXPECT_EQ(1, c.op());
        ASSERT_EQ(1u, seen.size());
        const RequestBlock b = BlockOf(seen[0]);
        EXPECT_EQ(c.request, b.header.request);
        EXPECT_EQ(c.direction, b.header.direction);
        EXPECT_EQ(c.marker, b.header.marker == kWriteMarker);
        EXPECT_EQ(0, b.header.value);
        EXPECT_EQ(7, b.header.reg);
        EXPECT_EQ(b.header.count, b.count);
        EXPECT_EQ(static_cast<void*>(buf), b.buffer);
    }
}

TEST_F(RequestLayerTest, AddressCountAndRequestKeepTheirLowEightBits) {
    uint8_t buf[8] = {};
    DevWriteRegBlock(0x10A, buf, 0x102);
    DevWriteRegs(0x3FF, buf, 0x101, 0x104, 1);
    ASSERT_EQ(2u, seen.size());
    RequestBlock b = BlockOf(seen[0]);
    EXPECT_EQ(0x0A, b.header.reg);
    EXPECT_EQ(2, b.header.count);
    EXPECT_EQ(2u, b.count);
    EXPECT_EQ(2u, seen[0].buffer.size());
    b = BlockOf(seen[1]);
    EXPECT_EQ(4, b.header.request);
    EXPECT_EQ(0xFF, b.header.reg);
    EXPECT_EQ(1u, b.count);
}

TEST_F(RequestLayerTest, SlicValuesTravelInThePointerArgument) {
    SlicWriteDirect(0x140, 0x1AB);
    SlicWriteIndirect(0x10D, 0x17B30);
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(VC_SLIC_WRITE_DIRECT, seen[0].code);
    EXPECT_EQ(0x40, seen[0].param);
    EXPECT_EQ(0xABu, seen[0].pointer);
    EXPECT_EQ(VC_SLIC_WRITE_INDIRECT, seen[1].code);
    EXPECT_EQ(0x0D, seen[1].param);
    EXPECT_EQ(0x7B30u, seen[1].pointer);
}

TEST_F(RequestLayerTest, SlicReadsReturnWhatTheLibraryWrote) {
    answer = [](const Seen& s, void* p) {
        if (s.code == VC_SLIC_READ_DIRECT) *static_cast<uint8_t*>(p) = 0x9C;
        if (s.code == VC_SLIC_READ_INDIRECT) {
            const uint16_t w = 0xBEEF;
            std::memcpy(p, &w, 2);
        }
        return 1;
    };
    EXPECT_EQ(0x9C, SlicReadDirect(0x144));
    EXPECT_EQ(0x44, seen.back().param);
    EXPECT_EQ(0xBEEF, SlicReadIndirect(13));
    // A library that leaves the byte alone yields the preset 0.
    answer = [](const Seen&, void*) { return 0; };
    EXPECT_EQ(0, SlicReadDirect(68));
}

TEST_F(RequestLayerTest, TheCheckedSlicReadTellsAFailedReadFromAZero) {
    struct Case {
        int result;  // the library's
        int written; // the byte it wrote; -1 none
    };
    const Case cases[] = {{1, 0x00}, {1, 0x9C}, {0, -1}, {0, 0x9C}, {7, 0x11}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.result << " " << c.written);
        answer = [&c](const Seen&, void* p) {
            if (c.written >= 0) *static_cast<uint8_t*>(p) = static_cast<uint8_t>(c.written);
            return c.result;
        };
        int value = -1;
        EXPECT_EQ(c.result, SlicReadDirect(0x140, &value));
        EXPECT_EQ(VC_SLIC_READ_DIRECT, seen.back().code);
        EXPECT_EQ(0x40, seen.back().param);
        const int byte = c.written < 0 ? 0 : c.written;
        EXPECT_EQ(byte, value);
        EXPECT_EQ(byte, SlicReadDirect(0x140)); // the plain form: the same byte, unchecked
        EXPECT_EQ(c.result, SlicReadDirect(0x140, nullptr));
    }
}

TEST_F(RequestLayerTest, SetPinsReadModifiesLevelsAndAlwaysEnables) {
    struct Case {
        int mask, high;
        uint8_t levels, enables;
        uint8_t wantLevels, wantEnables;
    } cases[] = {
        {0x20, 0, 0xFF, 0x00, 0xDF, 0x20},
        {0x08, 1, 0x00, 0x40, 0x08, 0x48},
        {0x10, 1, 0x10, 0x10, 0x10, 0x10},
    };
    for (const Case& c : cases) {
        seen.clear();
        answer = [&c](const Seen& s, void* p) {
            RequestBlock b;
            std::memcpy(&b, p, sizeof b);
            if (s.code == VC_REGISTER_REQUEST && b.header.direction == kDirectionRead)
                *static_cast<uint8_t*>(b.buffer) =
                    b.header.reg == BRIDGE_PIN_LEVEL ? c.levels : c.enables;
            return 1;
        };
        EXPECT_EQ(1, DevSetPins(c.mask, c.high));
        ASSERT_EQ(4u, seen.size());
        EXPECT_EQ(BRIDGE_PIN_LEVEL, BlockOf(seen[2]).header.reg);
        EXPECT_EQ(std::vector<uint8_t>{c.wantLevels}, seen[2].buffer);
        EXPECT_EQ(BRIDGE_PIN_ENABLE, BlockOf(seen[3]).header.reg);
        EXPECT_EQ(std::vector<uint8_t>{c.wantEnables}, seen[3].buffer);
    }
}

TEST_F(RequestLayerTest, ForwardKeyCallsTwiceWithPointerZeroThenOne) {
    int n = 0;
    answer = [&n](const Seen&, void*) { return ++n == 1 ? 7 : 9; };
    EXPECT_EQ(9, DevForwardKey(static_cast<char>(0x8E)));
    ASSERT_EQ(2u, seen.size());
    for (const Seen& s : seen) {
        EXPECT_EQ(VC_KEY_EVENT, s.code);
        EXPECT_EQ(-114, s.param); // sign-extended key byte
    }
    EXPECT_EQ(0u, seen[0].pointer);
    EXPECT_EQ(1u, seen[1].pointer);
}

TEST_F(RequestLayerTest, CallsWithSeveralValuesPointAtThemInOrder) {
    std::vector<int32_t> values;
    answer = [&values](const Seen& s, void* p) {
        values.assign(static_cast<int32_t*>(p), static_cast<int32_t*>(p) + (s.code == 28 ? 4 : 2));
        return 1;
    };
    DevCall28(1, -2, 3, 4);
    EXPECT_EQ((std::vector<int32_t>{1, -2, 3, 4}), values);
    EXPECT_EQ(0, seen.back().param);
    DevCall46(5, 6);
    EXPECT_EQ((std::vector<int32_t>{5, 6}), values);
}

TEST_F(RequestLayerTest, OpenPassesTheModuleHandleAsParam) {
    SetDeviceLibrary(reinterpret_cast<void*>(0x10000000), Capture);
    int product = 0;
    DevOpen(&product);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(VC_OPEN, seen[0].code);
    EXPECT_EQ(0x10000000, seen[0].param);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(&product), seen[0].pointer);
}

TEST_F(RequestLayerTest, NothingIsCalledWhileNoLibraryIsInstalled) {
    ClearDeviceLibrary();
    EXPECT_FALSE(DeviceLibraryLoaded());
    uint8_t byte = 0;
    int value = 0;
    char text[8] = "x";
    MixerOpenBlock block = {};
    const std::vector<std::function<int()>> ops = {
        [&] { return DevWriteReg(1, 2); },
        [&] { return DevReadReg(1, &byte); },
        [&] { return DevWriteRegs(1, &byte, 1, 4, 0); },
        [&] { return DevSetPins(0x10, 1); },
        [&] { return DevGetPins(0xFF); },
        [&] { return SlicReadDirect(1); },
        [&] { return SlicReadDirect(1, &value); },
        [&] { return SlicWriteDirect(1, 2); },
        [&] { return SlicWriteIndirect(1, 2); },
        [&] { return DevOpen(&value); },
        [&] { return DevClose(); },
        [&] { return DevForwardKey('1'); },
        [&] { return DevRegisterWindow(1); },
        [&] { return DevSelectAudioDevice(text); },
        [&] { return DevSelectLine(1); },
        [&] { return DevOpenMixer(&block); },
        [&] { return DevGetHardwareId(text, 8); },
        [&] { return DevCall28(1, 2, 3, 4); },
    };
    for (const auto& op : ops)
        EXPECT_EQ(0, op());
    EXPECT_TRUE(seen.empty());
}

// Through the lab model: what the bridge makes of the requests.
class RequestLayerLabTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetCurrentLabAdapter(&lab);
        SetDeviceLibrary(nullptr, LabVaVoRarCall);
    }
    void TearDown() override {
        ClearDeviceLibrary();
        SetCurrentLabAdapter(nullptr);
    }
    LabAdapter lab;
};

TEST_F(RequestLayerLabTest, SameRegisterStreamDeliversEveryByteInOrder) {
    std::vector<uint8_t> stream(242);
    for (size_t i = 0; i < stream.size(); ++i)
        stream[i] = static_cast<uint8_t>(i * 7);
    EXPECT_EQ(1, DevWriteRegs(10, stream.data(), 242, 4, 0));
    const std::vector<LabRegWrite> writes = lab.BridgeWrites();
    ASSERT_EQ(242u, writes.size());
    for (size_t i = 0; i < writes.size(); ++i) {
        EXPECT_EQ(10, writes[i].reg);
        EXPECT_EQ(stream[i], writes[i].value);
    }
    EXPECT_EQ(0, lab.FaultCount());
}

TEST_F(RequestLayerLabTest, EveryRequestFamilyIsWellFormed) {
    uint8_t block[3] = {1, 2, 3};
    uint8_t byte = 0;
    DevWriteReg(41, 0x20);
    DevWriteRegBlock(100, block, 3);
    DevReadReg(41, &byte);
    EXPECT_EQ(0x20, byte);
    DevReadRegBlock(100, block, 3);
    DevSetPins(0x08, 1); // level 18 reads back the idle interrupt line (0x80) as well
    EXPECT_EQ(0x08, DevGetPins(0x08));
    SlicWriteDirect(64, 0x11);
    EXPECT_EQ(0x11, SlicReadDirect(64));
    SlicWriteIndirect(13, 31537);
    EXPECT_EQ(31537, SlicReadIndirect(13));
    DevForwardKey('5');
    DevCall28(1, 2, 3, 4);
    EXPECT_EQ(0, lab.FaultCount());
    EXPECT_EQ((std::vector<LabRegWrite>{
                  {41, 0x20}, {100, 1}, {101, 2}, {102, 3}, {18, 0x88}, {19, 0x08}}),
              lab.BridgeWrites());
}

} // namespace
