// The Windows binding of PlatformStartWindowTimer; install it with SetWindowTimerFunction.
#pragma once
#include <cstdint>

uintptr_t Win32SetWindowTimer(uintptr_t window, unsigned id, unsigned ms);
