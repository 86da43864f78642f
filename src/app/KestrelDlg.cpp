#include "app/KestrelDlg.h"

#include "app/InfoDlg.h"
#include "app/Kestrel.h"
#include "app/res/resource.h"
#include "core/Clock.h"
#include "core/win32/Fonts.h"
#include "device/KwIpApi.h"
#include "playback/PlaybackTable.h"
#include "playback/WaveAudio.h"
#include "playback/win32/PlaybackWin32.h"

#include <cstdio>
#include <cstring>
#include <mmsystem.h>

NOTIFYICONDATAA trayIcon;

namespace {

// Timers armed from the phone event thread reach the GUI thread through these posts: a window's
// timers belong to the thread that owns it.
constexpr UINT WMU_ARM_TIMER = WM_APP + 1;
constexpr UINT WMU_KILL_TIMER = WM_APP + 2;

constexpr char kSkypeKey[] = "Software\\Skype\\Phone";
constexpr unsigned kSkypePathSize = 264;

// A tray icon that Explorer refused (not up yet at logon, or restarting) is tried again on a
// timer of its own, every 2 s for a minute; later, Explorer's "TaskbarCreated" brings it back.
constexpr UINT_PTR TIMER_TRAY_RETRY = 20; // no other main-window timer uses this id
constexpr UINT kTrayRetryMs = 2000;
constexpr int kTrayRetries = 30;

HINSTANCE Instance() {
    return GetModuleHandleA(nullptr);
}

} // namespace

CKestrelDlg::CKestrelDlg(BridgeState& state)
    : CallControl(state, *this, *this), skypeApi_(state, *this) {
    m_hIcon = LoadIconA(Instance(), MAKEINTRESOURCEA(IDI_READY));
    state_.offHook = 0;
}

CKestrelDlg::~CKestrelDlg() {
    if (m_font) DeleteObject(m_font);
}

INT_PTR CKestrelDlg::DoModal() {
    return DialogBoxParamA(Instance(), MAKEINTRESOURCEA(IDD_KESTREL_DIALOG), nullptr, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CKestrelDlg::DialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CKestrelDlg* self;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CKestrelDlg*>(lParam);
        SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->m_hWnd = wnd;
    } else {
        self = reinterpret_cast<CKestrelDlg*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
    }
    return self ? self->OnMessage(msg, wParam, lParam) : FALSE;
}

INT_PTR CKestrelDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG: return OnInitDialog();
    case WM_PAINT: OnPaint(); return TRUE;
    case WM_QUERYDRAGICON:
        SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, reinterpret_cast<LONG_PTR>(m_hIcon));
        return TRUE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            OnHide();
            return TRUE;
        }
        return FALSE;
    case WM_TIMER:
        if (wParam == TIMER_TRAY_RETRY) {
            ::KillTimer(m_hWnd, TIMER_TRAY_RETRY);
            AddTrayIcon();
            return TRUE;
        }
        OnTimer(static_cast<unsigned>(wParam));
        return TRUE;
    case WM_DESTROY: OnDestroy(); // ends the process: never returns
    case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return TRUE;
    case WMU_TRAY_NOTIFY:
        SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, OnTrayNotify(lParam));
        return TRUE;
    case MM_MCINOTIFY: OnMciNotify(state_, static_cast<uint32_t>(lParam)); return TRUE;
    case WMU_PSTN_RING: OnPstnRingNotify(); return TRUE;
    case WMU_ARM_TIMER: ::SetTimer(m_hWnd, wParam, static_cast<UINT>(lParam), nullptr); return TRUE;
    case WMU_KILL_TIMER: ::KillTimer(m_hWnd, wParam); return TRUE;
    default:
        if (msg == taskbarCreatedMsg_ && msg != 0) {
            OnTaskbarCreated();
            return TRUE;
        }
        // What the message map leaves to the default window procedure.
        if (OnWindowMessage(msg, wParam, lParam)) {
            SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, 1);
            return TRUE;
        }
        return FALSE;
    }
}

BOOL CKestrelDlg::OnInitDialog() {
    guiThread_ = GetCurrentThreadId();
    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    if (!LoadDeviceLibrary()) {
        EndDialog(m_hWnd, -1);
        return FALSE;
    }
    state_.mainWnd = reinterpret_cast<uintptr_t>(m_hWnd);
    skypeApi_.RegisterMessages();
    skypeApi_.link.SetNotificationSink([this](const char* text) { OnSkypeNotification(text); });

    m_font = CreatePointFont(100, "Arial Black");
    LoadPlaybackTable(*this);
    callerIdStandard = LoadCallerIdStandard(kCallerIdSettingsFile);
    for (int id = IDC_FONT_FIRST; id <= IDC_FONT_LAST; ++id) {
        SendDlgItemMessageA(m_hWnd, id, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), TRUE);
    }
    SendDlgItemMessageA(m_hWnd, IDOK, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), TRUE);
    SendDlgItemMessageA(m_hWnd, IDCANCEL, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), TRUE);

    ::SetTimer(m_hWnd, TIMER_STATUS_POLL, kStatusPollMs, nullptr);

    std::memset(&trayIcon, 0, sizeof trayIcon);
    trayIcon.cbSize = NOTIFYICONDATAA_V1_SIZE;
    trayIcon.hWnd = m_hWnd;
    trayIcon.uID = 0;
    trayIcon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    trayIcon.uCallbackMessage = WMU_TRAY_NOTIFY;
    trayIcon.hIcon = LoadIconA(Instance(), MAKEINTRESOURCEA(IDI_NOT_READY));
    lstrcpynA(trayIcon.szTip, kMainWindowTitle, 64);
    taskbarCreatedMsg_ = RegisterWindowMessageA("TaskbarCreated");
    // Explorer runs without elevation; let its broadcast through if we do not.
    if (taskbarCreatedMsg_ != 0) ChangeWindowMessageFilter(taskbarCreatedMsg_, MSGFLT_ADD);
    StartTrayRetries();

    // wavDir: the current directory (at most 261 characters) and "\wav".
    char current[262] = {};
    DWORD length = GetCurrentDirectoryA(sizeof current, current);
    if (length == 0 || length >= sizeof current) current[0] = '\0';
    std::snprintf(state_.wavDir, sizeof state_.wavDir, "%s\\wav", current);
    CreateDirectoryA("wav", nullptr);

    if (!SkypeMainWindowExists()) StartSkypeClient();

    if (DevRegisterWindow(reinterpret_cast<uintptr_t>(m_hWnd)) == 0) OpenPhone();

    skypeApi_.Start();

    CheckRadioButton(m_hWnd, IDC_VOIP_ONLY, IDC_AUTO, IDC_AUTO);
    return TRUE;
}

// Runs the Skype client's command line from the registry, hidden, and gives it five seconds.
void CKestrelDlg::StartSkypeClient() {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kSkypeKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
        char path[kSkypePathSize] = {};
        DWORD type = 0;
        DWORD size = sizeof path - 1; // room for a terminator the value may lack
        if (RegQueryValueExA(key, "SkypePath", nullptr, &type, reinterpret_cast<BYTE*>(path),
                             &size) == ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
            path[size] = '\0';
            if (path[0] != '\0') WinExec(path, SW_HIDE);
        }
        // A value too long for the buffer or of another type runs nothing.
        RegCloseKey(key);
    }
    Pause(5000);
}

// Adds the tray icon with the picture it has now; a refused add is tried again on the retry
// timer while tries are left.
void CKestrelDlg::AddTrayIcon() {
    trayAdded_ = Shell_NotifyIconA(NIM_ADD, &trayIcon) != FALSE;
    // An add also fails when the icon is there already: a "TaskbarCreated" that lost nothing,
    // or an add that Explorer took but answered too late. Then the picture is all it needs.
    if (!trayAdded_) trayAdded_ = Shell_NotifyIconA(NIM_MODIFY, &trayIcon) != FALSE;
    if (trayAdded_ || trayRetriesLeft_ <= 0) return;
    --trayRetriesLeft_;
    ::SetTimer(m_hWnd, TIMER_TRAY_RETRY, kTrayRetryMs, nullptr);
}

void CKestrelDlg::StartTrayRetries() {
    ::KillTimer(m_hWnd, TIMER_TRAY_RETRY);
    trayRetriesLeft_ = kTrayRetries;
    AddTrayIcon();
}

// Explorer has made its taskbar again (it restarted) and knows no icon of ours any more.
void CKestrelDlg::OnTaskbarCreated() {
    StartTrayRetries();
}

[[noreturn]] void CKestrelDlg::OnDestroy() {
    if (DeviceLibraryLoaded()) ShutDownDevice();
    skypeApi_.Shutdown();
    // Also when the last add seemed refused: a late one may still have been taken.
    Shell_NotifyIconA(NIM_DELETE, &trayIcon);
    ::KillTimer(m_hWnd, TIMER_TRAY_RETRY);
    ::KillTimer(m_hWnd, TIMER_STATUS_POLL);
    FreeDeviceLibrary();
    ExitProcess(0);
}

void CKestrelDlg::OnPaint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hWnd, &ps);
    if (IsIconic(m_hWnd)) {
        SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        int cx = GetSystemMetrics(SM_CXICON);
        int cy = GetSystemMetrics(SM_CYICON);
        RECT rect;
        GetClientRect(m_hWnd, &rect);
        DrawIcon(dc, (rect.right - rect.left - cx + 1) / 2, (rect.bottom - rect.top - cy + 1) / 2,
                 m_hIcon);
    }
    EndPaint(m_hWnd, &ps);
    // The first paint always hides: a start-up that takes longer than the first status poll
    // (a slow device bring-up) must still end in the tray.
    if (state_.hideOnPaint || !painted_) ShowWindow(m_hWnd, SW_HIDE);
    painted_ = true;
}

void CKestrelDlg::OnCommand(unsigned id, unsigned code) {
    if (id == IDOK) return OnHide();
    if (id == IDCANCEL) {
        EndDialog(m_hWnd, IDCANCEL);
        return;
    }
    if (id == ID_TRAY_EXIT) OnDestroy();
    if (id >= ID_CALLERID_OFF && id <= ID_CALLERID_DTMF) return OnCallerIdChoice(id);
    if (code != BN_CLICKED) return;
    if (id == IDC_HELP_BUTTON) return OnHelpButton();
    if (id == IDC_RECORD_BUTTON) return OnRecordButton();
    if (id == IDC_VOIP_ONLY) state_.voipOnly = 1;
    if (id == IDC_AUTO) state_.voipOnly = 0;
    if (id > IDC_SLOT_PLAY_BASE && id <= IDC_SLOT_PLAY_BASE + 20) {
        OnPlayN(*this, state_, static_cast<int>(id - IDC_SLOT_PLAY_BASE));
    }
    if (id > IDC_SLOT_SELECT_BASE && id <= IDC_SLOT_SELECT_BASE + 20) {
        SelFileChooserWin32 chooser;
        OnSelectN(*this, state_, static_cast<int>(id - IDC_SLOT_SELECT_BASE), chooser);
    }
}

void CKestrelDlg::OnHide() {
    ShowWindow(m_hWnd, SW_HIDE);
}

LRESULT CKestrelDlg::OnTrayNotify(LPARAM lParam) {
    if (lParam == WM_RBUTTONDOWN) {
        HMENU menu = LoadMenuA(Instance(), MAKEINTRESOURCEA(IDR_TRAY_MENU));
        if (menu) {
            POINT cursor = {};
            GetCursorPos(&cursor);
            // The choice in use carries the check.
            CheckMenuRadioItem(menu, ID_CALLERID_OFF, ID_CALLERID_DTMF,
                               ID_CALLERID_OFF + static_cast<UINT>(callerIdStandard), MF_BYCOMMAND);
            // Without the foreground the menu would not close when the user clicks elsewhere.
            SetForegroundWindow(m_hWnd);
            TrackPopupMenu(GetSubMenu(menu, 0), TPM_CENTERALIGN | TPM_RIGHTBUTTON, cursor.x,
                           cursor.y, 0, m_hWnd, nullptr);
            PostMessageA(m_hWnd, WM_NULL, 0, 0);
            DestroyMenu(menu);
        }
    } else if (lParam == WM_LBUTTONDOWN) {
        ShowWindow(m_hWnd, SW_SHOW);
    }
    return 0;
}

void CKestrelDlg::OnCallerIdChoice(unsigned id) {
    callerIdStandard = static_cast<CallerIdStandard>(id - ID_CALLERID_OFF);
    // A file that cannot be written leaves the choice in use until the program ends.
    SaveCallerIdStandard(kCallerIdSettingsFile, callerIdStandard);
}

void CKestrelDlg::OnHelpButton() {
    RunInfoDialog(m_hWnd);
}

void CKestrelDlg::OnRecordButton() {
    EndDialTone(state_);
    CRecordDlg(m_hWnd).DoModal();
}

// --- MainWindow ---------------------------------------------------------------------------

void CKestrelDlg::ArmTimer(unsigned id, unsigned ms) {
    if (OnGuiThread()) {
        ::SetTimer(m_hWnd, id, ms, nullptr);
    } else {
        PostMessageA(m_hWnd, WMU_ARM_TIMER, id, static_cast<LPARAM>(ms));
    }
}

void CKestrelDlg::KillTimer(unsigned id) {
    if (OnGuiThread()) {
        ::KillTimer(m_hWnd, id);
    } else {
        PostMessageA(m_hWnd, WMU_KILL_TIMER, id, 0);
    }
}

void CKestrelDlg::PostPhoneKey(int8_t key) {
    PostMessageA(m_hWnd, WMU_PHONE_KEY, PHONE_KEY_EVENT, static_cast<LPARAM>(key));
}

void CKestrelDlg::PostPstnRing() {
    PostMessageA(m_hWnd, WMU_PSTN_RING, 0, 0);
}

void CKestrelDlg::SetTrayIcon(int iconId) {
    // Kept in the record even while the icon is not in the tray: the next add shows it.
    trayIcon.hIcon = LoadIconA(Instance(), MAKEINTRESOURCEA(iconId));
    if (!trayAdded_) return;
    if (Shell_NotifyIconA(NIM_MODIFY, &trayIcon) != FALSE) return;
    // The icon has gone from the tray (Explorer ended): add it again.
    StartTrayRetries();
}

void CKestrelDlg::EnableModeButtons(bool enable) {
    EnableWindow(GetDlgItem(m_hWnd, IDC_VOIP_ONLY), enable);
    EnableWindow(GetDlgItem(m_hWnd, IDC_AUTO), enable);
}

void CKestrelDlg::GetSlotName(int slot, char* buffer, unsigned size) {
    if (size == 0) return;
    buffer[0] = '\0';
    GetDlgItemTextA(m_hWnd, IDC_SLOT_NAME_BASE + slot, buffer, static_cast<int>(size));
    buffer[size - 1] = '\0';
}

void CKestrelDlg::SetSlotName(int slot, const char* name) {
    SetDlgItemTextA(m_hWnd, IDC_SLOT_NAME_BASE + slot, name);
}

void CKestrelDlg::EnablePlayButton(int slot, bool enable) {
    EnableWindow(GetDlgItem(m_hWnd, IDC_SLOT_PLAY_BASE + slot), enable);
}

void CKestrelDlg::ShowMessage(const char* text, const char* caption, bool owned) {
    MessageBoxA(owned ? m_hWnd : nullptr, text, caption, MB_OK);
}

bool CKestrelDlg::FocusOutsideMainWindow() {
    HWND focus = GetFocus();
    return focus == nullptr || (focus != m_hWnd && GetParent(focus) != m_hWnd);
}

bool CKestrelDlg::SkypeMainWindowExists() {
    return SkypeMainWindowPresent();
}

bool CKestrelDlg::LocalTime(int& month, int& day, int& hour, int& minute) {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    month = now.wMonth;
    day = now.wDay;
    hour = now.wHour;
    minute = now.wMinute;
    return true;
}

// --- SkypeCommands --------------------------------------------------------------------------

void CKestrelDlg::SendSkypeCommand() {
    skypeApi_.link.SendSkypeCommand();
}

void CKestrelDlg::ReplyTrue() {
    skypeApi_.link.ReplyTrue();
}
