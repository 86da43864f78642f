// How portable code reaches the platform. Nothing outside a win32/ folder (and app/) calls
// Windows; it goes through one of these seams, each declared once with every operation
// documented where it is declared:
//
//   MainWindow      (here)                   timers, posts to the GUI thread, tray icon, buttons,
//                                            playback slots, message boxes: for call control
//                                            and playback. Passed by reference; CKestrelDlg.
//   SkypeCommands   bridge/SkypeCommands.h   commands to Skype and the reply to a notification.
//                                            Passed by reference; CKestrelDlg.
//   vendor library  device/KwIpApi.h         every adapter request goes through its one entry
//                                            (LoadDeviceLibrary; tests: SetDeviceLibrary).
//   MciPort         playback/MciPort.h       the wave recorder/player's multimedia calls
//                                            (SetMciPort).
//   FileOps         core/FileOps.h           every file the program reads or writes: playback's
//                                            and the caller-ID setting's (SetFileOps).
//   Clock           core/Clock.h             every wait and every reading of the time (SetClock).
//
// Call control takes the first two by reference in its constructor; the others are process-wide
// tables that free functions reach and that the Windows shell (or a test) installs with their
// Set... function. A new need of Windows is a new operation on the seam of the layer that has
// it, implemented in that layer's win32/ folder or in app/, never a call from portable code.
//
// MainWindow: what call control and playback need of the main window. CKestrelDlg implements
// it over Win32; tests use a fake that records every request.
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

    // The local date and time, for the caller-ID date field; false when unknown (this default),
    // and the field is left out.
    virtual bool LocalTime(int& month, int& day, int& hour, int& minute) {
        (void)month, (void)day, (void)hour, (void)minute;
        return false;
    }
};
