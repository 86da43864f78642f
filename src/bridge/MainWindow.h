// What call control needs of the main window. CKestrelDlg implements it over Win32; tests use
// a fake that records every request.
#pragma once
#include <cstdint>

class MainWindow {
  public:
    virtual ~MainWindow() = default;

    // One-shot timers of the main window; safe to call from the phone event thread.
    virtual void ArmTimer(unsigned id, unsigned ms) = 0;
    virtual void KillTimer(unsigned id) = 0;
    // Posted to the GUI thread; safe to call from the phone event thread.
    virtual void PostPhoneKey(int8_t key) = 0;
    virtual void PostPstnRing() = 0;

    virtual void SetTrayIcon(int iconId) = 0;
    virtual void EnableModeButtons(bool enable) = 0;

    // Playback slot n (1 to 20): its name field and Play button. GetSlotName writes at most
    // size - 1 characters and always terminates.
    virtual void GetSlotName(int slot, char* buffer, unsigned size) = 0;
    virtual void SetSlotName(int slot, const char* name) = 0;
    virtual void EnablePlayButton(int slot, bool enable) = 0;

    // A message box with an OK button; owned by the main window or by nobody.
    virtual void ShowMessage(const char* text, const char* caption, bool owned) = 0;

    // Whether the GUI thread's keyboard focus lies outside the main window and its children.
    virtual bool FocusOutsideMainWindow() = 0;
    // Whether the main window of a Skype desktop client exists.
    virtual bool SkypeMainWindowExists() = 0;
};
