// The hidden window that talks to the Skype client: its class, named after a fresh UUID, the
// window itself, and the window-message wire under the portable SkypeLink. The main window
// owns one of these for the whole run.
#pragma once
#include "skype/SkypeLink.h"

#include <windows.h>

constexpr unsigned kApiClassNameSize = 128;
constexpr const char* kApiClassPrefix = "Skype-API-Test-";

// How long a command may wait for Skype's answer. A client answers an API command at once (it
// reports the outcome later in notifications), so this only cuts off one that is stuck; one
// that Windows already counts as hung (nothing pumped for 5 s) is given up at once. With the
// rediscovery and the resend, a stuck client holds the GUI thread about 3 + 2 + 3 s per command.
constexpr unsigned kCommandTimeoutMs = 3000;

// Broadcast, WM_COPYDATA and ReplyMessage for real.
class Win32SkypeWire final : public SkypeWire {
  public:
    bool BroadcastDiscover(uintptr_t apiWnd, unsigned long* lastError) override;
    intptr_t SendCopyData(uintptr_t skypeWnd, uintptr_t apiWnd, const char* data,
                          unsigned long cbData) override;
    void ReplyTrue() override;

    unsigned discoverMsg = 0; // the same id as the link's, set when it is registered
    unsigned commandTimeoutMs = kCommandTimeoutMs;
};

// Whether a main window of any Skype desktop client exists (kSkypeMainWindowClasses).
bool SkypeMainWindowPresent();

class SkypeApiWindow {
  public:
    SkypeApiWindow(BridgeState& state, MainWindow& mainWindow);
    ~SkypeApiWindow();
    SkypeApiWindow(const SkypeApiWindow&) = delete;
    SkypeApiWindow& operator=(const SkypeApiWindow&) = delete;

    // Registers "SkypeControlAPIAttach" and "SkypeControlAPIDiscover".
    void RegisterMessages();
    // Registers the class and creates the window; only when both succeed, broadcasts the
    // discovery (a failure is shown owned by the main window). Registers the messages first if
    // that has not been done. Returns whether the window exists.
    bool Start();
    // Destroys the window, unregisters the class and closes the process handle. Safe to repeat.
    void Shutdown();

    bool RegisterApiClass();
    bool CreateApiWindow();
    void DestroyApiWindow();
    void UnregisterApiClass();

    static LRESULT CALLBACK ApiWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

    char apiClassName[kApiClassNameSize] = {};
    HANDLE apiInstance = nullptr; // our own process, serving as the class's instance
    // Set when Win32 refused the process handle as an instance and the module handle serves.
    bool moduleInstanceFallback = false;

    Win32SkypeWire wire; // declared before the link, which keeps a reference to it
    SkypeLink link;

  private:
    HINSTANCE classInstance_ = nullptr; // what the class was registered with
    bool classRegistered_ = false;
};
