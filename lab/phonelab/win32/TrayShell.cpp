#include "TrayShell.h"

#include <shellapi.h>

#include <algorithm>

namespace {

// The stand-alone tray of Wine's X11 driver, and of later Wine versions where explorer keeps it
// itself: the tray window's class and its icons' class.
struct TrayClasses {
    const char* tray;
    const char* icon;
};
const TrayClasses kTrays[] = {{"__winex11_standalone_tray", "__winex11_tray_icon"},
                              {"Shell_TrayWnd", "__wine_tray_icon"}};

constexpr UINT kIdsTried = 4;

struct TopWindows {
    const std::vector<DWORD>* pids;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTop(HWND wnd, LPARAM param) {
    TopWindows* t = reinterpret_cast<TopWindows*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    if (std::find(t->pids->begin(), t->pids->end(), pid) != t->pids->end()) t->found.push_back(wnd);
    return TRUE;
}

} // namespace

TrayView LookAtTray() {
    TrayView view;
    for (const TrayClasses& c : kTrays) {
        HWND tray = nullptr;
        while ((tray = FindWindowExA(nullptr, tray, c.tray, nullptr)) != nullptr) {
            if (!IsWindowVisible(tray)) continue;
            std::vector<HWND> icons;
            for (HWND icon = FindWindowExA(tray, nullptr, c.icon, nullptr); icon;
                 icon = FindWindowExA(tray, icon, c.icon, nullptr))
                if (IsWindowVisible(icon)) icons.push_back(icon);
            if (icons.empty()) continue;
            std::sort(icons.begin(), icons.end(), [](HWND a, HWND b) {
                RECT ra, rb;
                GetWindowRect(a, &ra);
                GetWindowRect(b, &rb);
                return ra.left < rb.left;
            });
            view.tray = tray;
            view.icons = icons;
            return view;
        }
    }
    return view;
}

bool ClickTrayIcon(HWND icon, UINT buttonDown) {
    RECT r;
    if (!GetClientRect(icon, &r)) return false;
    const LPARAM middle = MAKELPARAM((r.right - r.left) / 2, (r.bottom - r.top) / 2);
    const WPARAM held = buttonDown == WM_RBUTTONDOWN ? MK_RBUTTON : MK_LBUTTON;
    return PostMessageA(icon, buttonDown, held, middle) &&
           PostMessageA(icon, buttonDown + 1, 0, middle); // the matching button-up
}

int ForgetTrayIcons(const std::vector<DWORD>& pids) {
    TopWindows top = {&pids, {}};
    EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&top));
    int removed = 0;
    for (HWND wnd : top.found)
        for (UINT id = 0; id < kIdsTried; ++id) {
            NOTIFYICONDATAA data = {};
            data.cbSize = NOTIFYICONDATAA_V1_SIZE;
            data.hWnd = wnd;
            data.uID = id;
            if (Shell_NotifyIconA(NIM_DELETE, &data)) ++removed;
        }
    return removed;
}

bool BroadcastTaskbarCreated(std::string* error) {
    const UINT message = RegisterWindowMessageA("TaskbarCreated");
    // Posted to each window's thread: a busy program takes it when it gets there, and nobody
    // waits for a hung one.
    if (!message || !SendNotifyMessageA(HWND_BROADCAST, message, 0, 0)) {
        *error =
            "cannot broadcast \"TaskbarCreated\" (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    return true;
}
