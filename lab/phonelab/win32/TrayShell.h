// The notification area as the user sees it under Wine, and what Kestrel sees of Explorer
// restarting.
//
// With no X tray manager on the display (Xvfb, no window manager), Wine's explorer shows the
// icons that programs register with Shell_NotifyIcon in a stand-alone window, "Wine System
// Tray", with one child window per icon; a press on that child is passed on to the icon's
// owner as the callback message it registered. That window is what these functions look at.
//
// Wine's explorer also owns the desktop window: once ended it cannot be started again for the
// same desktop (a new "explorer /desktop" sees the desktop taken and quits), so a real restart
// cannot be staged. What a program sees of one is the same either way: the new notification area
// knows none of its icons, and the registered "TaskbarCreated" message arrives at its top-level
// windows. ForgetTrayIcons and BroadcastTaskbarCreated make exactly that happen.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

struct TrayView {
    HWND tray = nullptr;     // the stand-alone tray window, null when none is shown
    std::vector<HWND> icons; // its icon windows, left to right
};

// The icons the notification area shows now (none while its window is hidden).
TrayView LookAtTray();

// A press and release of the mouse button (WM_LBUTTONDOWN or WM_RBUTTONDOWN) on the icon, as
// the tray's window gets it from a click.
bool ClickTrayIcon(HWND icon, UINT buttonDown);

// Removes from the notification area every icon that a top-level window of these processes
// registered (ids 0 to 3; programs number their few icons from 0), as a freshly started Explorer
// knows none of them. Returns how many were removed.
int ForgetTrayIcons(const std::vector<DWORD>& pids);

// Sends the registered "TaskbarCreated" message to every top-level window, as Explorer does
// once its taskbar exists. False with *error when it could not be sent.
bool BroadcastTaskbarCreated(std::string* error);
