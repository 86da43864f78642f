#include "device/win32/WindowTimer.h"

#include <windows.h>

uintptr_t Win32SetWindowTimer(uintptr_t window, unsigned id, unsigned ms) {
    return static_cast<uintptr_t>(SetTimer(reinterpret_cast<HWND>(window), id, ms, nullptr));
}
