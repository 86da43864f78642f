// The Skype API transport, free of Win32: the discovery and attach handshake, the framing of
// commands and the gate in front of incoming notifications. The hidden window in skype/win32
// feeds it the window messages; tests drive it with a fake wire and a fake main window.
#pragma once
#include "bridge/BridgeState.h"
#include "bridge/MainWindow.h"
#include "skype/SkypeWire.h"

#include <cstdint>
#include <functional>
#include <utility>

// The fields of a WM_COPYDATA record, kept apart from the Win32 type so that the portable code
// never relies on its layout.
struct CopyDataRecord {
    uintptr_t dwData = 0;
    uint32_t cbData = 0;
    const void* lpData = nullptr;
};

// Receives each accepted notification text (always terminated, at most
// kMaxNotificationSize - 1 characters).
using NotificationSink = std::function<void(const char* text)>;

// Notifications longer than this are cut; Skype's texts are far shorter.
constexpr uint32_t kMaxNotificationSize = 4096;

// Window classes of Skype's main window, one per generation of the desktop client: the 3.8
// series, the 4.0 clients, then 5.x and later. Its presence is what readiness, the start-up
// launch and the API-available notice ask about.
constexpr const char* kSkypeMainWindowClasses[] = {"tSkMainForm.UnicodeClass",
                                                   "TZapMainForm.UnicodeClass", "tSkMainForm"};

constexpr const char* kDiscoverFailedFormat = "Clound not connect to SKYPE!\n Error Code: %lx";
constexpr const char* kAccessDeniedText = "SKYPE API ACCUSS DENIED!";

class SkypeLink {
  public:
    SkypeLink(BridgeState& state, SkypeWire& wire, MainWindow& mainWindow);

    // Plugged in once the notification dispatch exists; without one, notifications are dropped.
    void SetNotificationSink(NotificationSink sink) { sink_ = std::move(sink); }

    // Broadcasts the discovery message. On failure reports the error in a message box (owned
    // by the main window or by nobody) and marks the link not connected.
    bool Discover(bool ownedMessage);

    // Sends the text now in commandText to Skype's API window.
    void SendSkypeCommand();

    // WM_COPYDATA received by the API window; sender is its wParam. Returns the answer (TRUE).
    intptr_t OnCopyData(uintptr_t sender, const CopyDataRecord* record);

    // The attach message received by the API window. Returns the answer (TRUE).
    intptr_t OnAttach(uintptr_t wParam, intptr_t lParam);

    // Releases Skype from the notification being handled before a command is sent back.
    void ReplyTrue() { wire_.ReplyTrue(); }

    unsigned discoverMsg = 0; // "SkypeControlAPIDiscover"
    unsigned attachMsg = 0;   // "SkypeControlAPIAttach"
    uintptr_t apiWnd = 0;     // our hidden API window
    uintptr_t skypeWnd = 0;   // Skype's API window, from the attach reply; never cleared
    CopyDataRecord commandData;

  private:
    BridgeState& state_;
    SkypeWire& wire_;
    MainWindow& mainWindow_;
    NotificationSink sink_;
};
