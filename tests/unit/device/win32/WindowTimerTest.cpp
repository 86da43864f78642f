// The Windows binding of the device's window timer sets a real timer on the given window.
#include "device/KwUsbPhone.h"
#include "device/win32/WindowTimer.h"

#include <gtest/gtest.h>

#include <windows.h>

TEST(WindowTimer, SetsATimerWithoutCallbackOnTheWindow) {
    HWND wnd =
        CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, wnd);
    SetWindowTimerFunction(&Win32SetWindowTimer);
    KwUsbPhone phone(0);
    EXPECT_NE(0u, phone.StartWindowTimer(reinterpret_cast<uintptr_t>(wnd), 42, 1));
    // The timer fires as WM_TIMER with our id on that window.
    MSG msg;
    ASSERT_GT(GetMessageA(&msg, wnd, WM_TIMER, WM_TIMER), 0);
    EXPECT_EQ(42u, msg.wParam);
    EXPECT_TRUE(KillTimer(wnd, 42));
    // No such window: the platform's failure comes back as it is.
    EXPECT_EQ(0u, phone.StartWindowTimer(0x1234, 43, 1));
    SetWindowTimerFunction(nullptr);
    DestroyWindow(wnd);
}
