#include "Output.h"

#include <windows.h>

#include <cstdio>

namespace {
const ULONGLONG startTick = GetTickCount64();
}

uint64_t ElapsedMs() {
    return GetTickCount64() - startTick;
}

void Say(const std::string& text) {
    const uint64_t ms = ElapsedMs();
    std::printf("[%4u.%03u] %s\n", static_cast<unsigned>(ms / 1000),
                static_cast<unsigned>(ms % 1000), text.c_str());
    std::fflush(stdout);
}

void Finding(const std::string& text) {
    Say("FINDING: " + text);
}

std::string Printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void DispatchPendingMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

bool PumpUntilEvent(void* event, unsigned ms) {
    const uint64_t deadline = ElapsedMs() + ms;
    for (;;) {
        DispatchPendingMessages();
        const uint64_t now = ElapsedMs();
        if (now >= deadline) return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
        const DWORD slice = static_cast<DWORD>(deadline - now < 20 ? deadline - now : 20);
        if (MsgWaitForMultipleObjects(1, &event, FALSE, slice, QS_ALLINPUT) == WAIT_OBJECT_0)
            return true;
    }
}
