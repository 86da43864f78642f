// The lab adapter's vendor entry with any code, param and request block, in any order, between
// the world's events (unplug, plug, hook, keys, the PSTN line) and fault injections. The lab
// must refuse what is malformed, never read or write past what the caller handed it, and never
// crash. The caller keeps its side of the contract only: a pointer is null or points at as much
// memory as its code says (a request block whose buffer holds the block's own count of bytes, a
// terminated name, a mixer block, param bytes for the hardware id). A call that fails (result 0)
// leaves the caller's memory as it was.
#include "adapter/LabAdapter.h"
#include "device/KwIpApi.h"
#include "fuzz/FuzzFakes.h"
#include "fuzz/FuzzInput.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Broken(const char* what, int code) {
    std::fprintf(stderr, "lab invariant broken: %s (code %d)\n", what, code);
    std::abort();
}

const int kProducts[] = {1,      0x8250, 0x831C, 0x831D, 0x831E, 0xB210, 0xB211, 0xB212,
                         0xC290, 0xC291, 0xC31C, 0xC31D, 0xC39C, 0xF39C, 0xF210, 0xF310};

const int kCodes[] = {VC_OPEN,
                      VC_CLOSE,
                      VC_REGISTER_REQUEST,
                      VC_REGISTER_REQUEST,
                      VC_REGISTER_REQUEST,
                      VC_SLIC_READ_DIRECT,
                      VC_SLIC_WRITE_DIRECT,
                      VC_SLIC_READ_INDIRECT,
                      VC_SLIC_WRITE_INDIRECT,
                      VC_READ_EVENT,
                      VC_KEY_EVENT,
                      VC_REGISTER_WINDOW,
                      VC_UNREGISTER_WINDOW,
                      VC_DEVICE_CHANGE,
                      VC_SELECT_AUDIO_DEVICE,
                      VC_SWITCH_OPTION,
                      VC_SWITCH_OFF,
                      VC_SWITCH_ON,
                      VC_GATEWAY_START,
                      VC_SELECT_LINE,
                      VC_OPEN_MIXER,
                      VC_CLOSE_MIXER,
                      VC_MIXER_CHANGE,
                      VC_CALL48,
                      VC_CALL49,
                      VC_CALL50,
                      VC_HARDWARE_ID,
                      8,
                      33};

// Fault injections and queries of the control channel, to vary the state requests meet.
const char* const kCommands[] = {
    "fail 2",          "fail 3 2",          "fail 2 reg 18",
    "fail 4 reg 64 2", "fail random 0.3",   "fail random 1 seed 7",
    "fail clear",      "refuse 2 on",       "refuse 2 off",
    "stall 40 2",      "stall 1000 always", "stall 0",
    "slic reset",      "faults?",           "calls?",
    "product 0xC290",  "product 1",         "product 0xB212",
    "product 0xF210",  "phone ringing?",
};

// Parameters near the edges of what the codes take.
int Param(FuzzInput& in) {
    switch (in.Pick(4)) {
    case 0: return in.Byte();
    case 1: return static_cast<int>(in.Byte()) - 128;
    case 2: return static_cast<int>(in.U16());
    default: return static_cast<int>(in.U32());
    }
}

// Memory handed to the lab, in a block of its own so that ASan sees any step past it.
struct Memory {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
    std::vector<uint8_t> before;

    void* Make(FuzzInput& in, size_t n) {
        size = n;
        bytes.reset(new uint8_t[n ? n : 1]);
        for (size_t i = 0; i < n; ++i)
            bytes[i] = in.Byte();
        before.assign(bytes.get(), bytes.get() + n);
        return bytes.get();
    }
    bool Unchanged() const {
        return size == 0 || std::memcmp(bytes.get(), before.data(), size) == 0;
    }
};

int CallLab(LabAdapter& lab, FuzzInput& in) {
    const uint8_t pick = in.Byte();
    const int code = pick < 0xF0 ? kCodes[pick % (sizeof kCodes / sizeof *kCodes)] : in.Byte();
    int param = Param(in);
    const bool nullPointer = in.Byte() % 16 == 0;
    Memory memory, buffer;
    void* pointer = nullptr;

    switch (code) {
    case VC_OPEN:
    case VC_READ_EVENT:
        if (!nullPointer) pointer = memory.Make(in, sizeof(int));
        break;
    case VC_SLIC_READ_DIRECT:
        if (!nullPointer) pointer = memory.Make(in, 1);
        break;
    case VC_SLIC_READ_INDIRECT:
        if (!nullPointer) pointer = memory.Make(in, 2);
        break;
    case VC_REGISTER_REQUEST: {
        if (nullPointer) break;
        RequestBlock block;
        std::memset(&block, 0, sizeof block);
        // Mostly close to well-formed, so the checks past the first are reached too.
        const uint8_t shape = in.Byte();
        block.header.request = shape & 1 ? kRequestRegister : shape & 2 ? 5 : in.Byte();
        block.header.reserved = in.Byte();
        block.header.value = shape & 4 ? 0 : in.U16();
        block.header.reg = shape & 8 ? in.Byte() : in.U16();
        block.header.count = shape & 16 ? in.Byte() % 8 : in.U16();
        block.header.direction = shape & 32 ? (in.Byte() & 1) : in.Byte();
        block.header.marker = shape & 64 ? kWriteMarker : in.Byte();
        block.count = shape & 128 ? block.header.count : in.U32();
        // The caller's buffer holds the block's own count of bytes.
        const bool nullBuffer = in.Byte() % 16 == 0;
        if (!nullBuffer && block.count <= 0xFFFF) block.buffer = buffer.Make(in, block.count);
        memory.bytes.reset(new uint8_t[sizeof block]);
        std::memcpy(memory.bytes.get(), &block, sizeof block);
        memory.size = sizeof block;
        memory.before.assign(memory.bytes.get(), memory.bytes.get() + sizeof block);
        pointer = memory.bytes.get();
        break;
    }
    case VC_SELECT_AUDIO_DEVICE: {
        if (nullPointer) break;
        std::string name = in.Bytes(300);
        name = name.c_str();
        pointer = memory.Make(in, name.size() + 1);
        std::memcpy(memory.bytes.get(), name.c_str(), name.size() + 1);
        memory.before.assign(memory.bytes.get(), memory.bytes.get() + memory.size);
        break;
    }
    case VC_OPEN_MIXER:
        // A whole block; its name need not be terminated.
        if (!nullPointer) pointer = memory.Make(in, sizeof(MixerOpenBlock));
        break;
    case VC_HARDWARE_ID:
        if (!nullPointer) {
            const size_t n = param > 0 ? static_cast<size_t>(param < 4096 ? param : 4096) : 0;
            pointer = memory.Make(in, n);
        }
        break;
    default:
        // The pointer carries a value (a SLIC value, a window message's parameters) or nothing:
        // the lab must not follow it.
        pointer = reinterpret_cast<void*>(static_cast<uintptr_t>(nullPointer ? 0 : in.U32()));
        if (code == VC_SLIC_WRITE_DIRECT || code == VC_SLIC_WRITE_INDIRECT)
            pointer = reinterpret_cast<void*>(
                static_cast<uintptr_t>(in.Byte() & 1 ? in.Byte() : in.U32()));
        break;
    }
    if (code == VC_SLIC_READ_DIRECT || code == VC_SLIC_WRITE_DIRECT ||
        code == VC_SLIC_READ_INDIRECT || code == VC_SLIC_WRITE_INDIRECT)
        if (in.Byte() & 1) param &= 0x7F; // mostly a register the chip has

    const int faultsBefore = lab.FaultCount();
    const int result = lab.Call(code, param, pointer);
    const bool refused = lab.FaultCount() != faultsBefore;
    if (refused && result != 0) Broken("a malformed request succeeded", code);
    if (result == 0 && (!memory.Unchanged() || !buffer.Unchanged()))
        Broken("a failed request wrote to the caller's memory", code);
    if (code == VC_REGISTER_REQUEST && !memory.Unchanged())
        Broken("the lab wrote into the request block", code);
    return result;
}

void WorldEvent(LabAdapter& lab, FuzzInput& in) {
    static const char kKeys[] = "0123456789*#ABCDx";
    switch (in.Pick(12)) {
    case 0: lab.Unplug(); break;
    case 1: lab.Plug(); break;
    case 2: lab.LiftReceiver(); break;
    case 3: lab.ReplaceReceiver(); break;
    case 4: lab.PressDtmf(kKeys[in.Pick(sizeof kKeys - 1)]); break;
    case 5: lab.SetPstnRinging(in.Byte() & 1); break;
    case 6: lab.SetPstnLineBusy(in.Byte() & 1); break;
    case 7: lab.ResetSlic(); break;
    case 8: lab.QueueEvent(Param(in)); break;
    case 9: lab.PressKey(kKeys[in.Pick(sizeof kKeys - 1)], in.Byte() & 1); break;
    case 10: lab.Control(in.PickFrom(kCommands)); break;
    default: lab.Ringing(); break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    UseVirtualTime();
    FuzzInput in(data, size);
    LabAdapter lab;
    lab.SetCallLimit(16);
    lab.SetProductId(in.PickFrom(kProducts));
    int steps = 0;
    while (!in.Empty() && ++steps <= 200) {
        if (in.Byte() % 4 == 0)
            WorldEvent(lab, in);
        else
            CallLab(lab, in);
    }
    // The log line of every kept call, as the DLL writes it.
    for (const LabCall& call : lab.Calls())
        LabAdapter::FormatCall(call);
    return 0;
}
