// The lab adapter's control commands (phonelab's channel into the DLL) and its configuration
// texts (the environment the DLL reads), as anyone may type them: one command per line. Each
// command is followed by a few requests of a bring-up, so the state a command leaves (unplugged,
// failing, stalled, another product) is used at once. Answers stay within what each command
// documents; nothing crashes, and a stall costs virtual time only.
#include "adapter/LabAdapter.h"
#include "device/KwIpApi.h"
#include "fuzz/FuzzFakes.h"
#include "fuzz/FuzzInput.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "lab control invariant broken: %s\n", what);
    std::abort();
}

// Queries whose answer is a yes or no.
bool IsYesNoQuery(const std::string& command) {
    for (const char* q : {"plugged?", "opened?", "sounder?", "relay?", "phone hook?",
                          "phone ringing?", "phone bell?"})
        if (command == q) return true;
    return false;
}

// A few requests as the program's bring-up makes them.
void Requests(LabAdapter& lab) {
    int product = 0;
    lab.Call(VC_OPEN, 0, &product);
    uint8_t byte = 0;
    lab.Call(VC_SLIC_READ_DIRECT, 0, &byte);
    lab.Call(VC_SLIC_WRITE_DIRECT, 64, reinterpret_cast<void*>(uintptr_t{1}));
    uint16_t word = 0;
    lab.Call(VC_SLIC_READ_INDIRECT, 20, &word);
    uint8_t pins[2] = {};
    RequestBlock block = {};
    block.header.request = kRequestRegister;
    block.header.reg = 18;
    block.header.count = 2;
    block.header.direction = kDirectionRead;
    block.count = 2;
    block.buffer = pins;
    lab.Call(VC_REGISTER_REQUEST, 0, &block);
    int event = 0;
    lab.Call(VC_READ_EVENT, 0, &event);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    UseVirtualTime();
    FuzzInput in(data, size);
    LabAdapter lab;
    lab.SetCallLimit(16);
    const uint8_t how = in.Byte();
    const std::string text = in.Rest();

    if (how % 8 == 0) {
        // The configuration texts of the environment: the whole input is one of them.
        lab.ConfigureRefusals(text);
        lab.ConfigureFailRandom(text);
        Requests(lab);
        return 0;
    }

    size_t at = 0;
    int commands = 0;
    while (at <= text.size() && ++commands <= 32) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string command = text.substr(at, end - at);
        at = end + 1;

        const int result = lab.Control(command);
        if (result == 1 && command == "unplug" && lab.Plugged()) Broken("unplug left it plugged");
        if (result == 1 && command == "plug" && !lab.Plugged()) Broken("plug left it unplugged");
        if (IsYesNoQuery(command) && result != 0 && result != 1) Broken("a yes/no query said more");
        if (command == "line?" && (result < -1 || result > 1)) Broken("line? beyond -1..1");
        if (command == "fail clear" && result == 1) {
            // Every injection is off: a plugged adapter answers a register read.
            if (lab.Plugged()) {
                uint8_t byte = 0;
                if (lab.Call(VC_SLIC_READ_DIRECT, 0, &byte) == 0)
                    Broken("fail clear left failures");
            }
        }
        if (how & 1) Requests(lab);
    }
    return 0;
}
