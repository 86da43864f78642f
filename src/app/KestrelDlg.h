// The main window: a modal dialog that lives for the whole run, mostly hidden behind its tray
// icon. It is the Win32 half of call control (CallControl holds the portable half) and
// provides the services call control, the Skype link and the playbacks need of a window.
#pragma once
#include "call/CallControl.h"
#include "skype/win32/SkypeApiWindow.h"

#include <windows.h>
#include <shellapi.h>

class CKestrelDlg final : public CallControl, public MainWindow, public SkypeCommands {
  public:
    explicit CKestrelDlg(BridgeState& state);
    ~CKestrelDlg() override;

    // Runs the dialog (template 102) modally; returns its end code.
    INT_PTR DoModal();

    // MainWindow
    void ArmTimer(unsigned id, unsigned ms) override;
    void KillTimer(unsigned id) override;
    void PostPhoneKey(int8_t key) override;
    void PostPstnRing() override;
    void SetTrayIcon(int iconId) override;
    void EnableModeButtons(bool enable) override;
    void GetSlotName(int slot, char* buffer, unsigned size) override;
    void SetSlotName(int slot, const char* name) override;
    void EnablePlayButton(int slot, bool enable) override;
    void ShowMessage(const char* text, const char* caption, bool owned) override;
    bool FocusOutsideMainWindow() override;
    bool SkypeMainWindowExists() override;
    bool LocalTime(int& month, int& day, int& hour, int& minute) override;

    // SkypeCommands
    void SendSkypeCommand() override;
    void ReplyTrue() override;

    HICON m_hIcon = nullptr;
    HFONT m_font = nullptr;

  private:
    static INT_PTR CALLBACK DialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);

    BOOL OnInitDialog();
    [[noreturn]] void OnDestroy();
    void OnPaint();
    void OnCommand(unsigned id, unsigned code);
    void OnHide();
    LRESULT OnTrayNotify(LPARAM lParam);
    // A "Caller ID" choice of the tray menu: used from now on and remembered.
    void OnCallerIdChoice(unsigned id);
    void OnHelpButton();
    void OnRecordButton();
    void StartSkypeClient();
    void AddTrayIcon();
    void StartTrayRetries();
    void OnTaskbarCreated();
    bool OnGuiThread() const { return GetCurrentThreadId() == guiThread_; }

    HWND m_hWnd = nullptr;
    DWORD guiThread_ = 0;
    bool trayAdded_ = false;
    int trayRetriesLeft_ = 0;    // further tries of a failed add, one per tray retry tick
    UINT taskbarCreatedMsg_ = 0; // "TaskbarCreated": Explorer has made its taskbar (again)
    bool painted_ = false;
    SkypeApiWindow skypeApi_;
};

// The tray icon record (the 88-byte form); only its icon changes after start-up.
extern NOTIFYICONDATAA trayIcon;
