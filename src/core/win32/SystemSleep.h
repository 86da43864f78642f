// The real clock's pause on Windows.
#pragma once
#include <windows.h>

// A plain Sleep rather than the C++ library's: that one waits on an event with a time-out, which
// under Wine is a request to its server and a wake-up from it for every pause; Sleep is a host
// sleep there. On Windows both are the same kernel wait.
inline void SystemSleep(unsigned ms) {
    ::Sleep(ms);
}
