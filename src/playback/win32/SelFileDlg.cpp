#include "playback/win32/PlaybackWin32.h"

#include "core/win32/Fonts.h"

#include "bridge/BridgeState.h"
#include "playback/PlaybackDialogs.h"
#include "playback/win32/PlaybackIds.h"

INT_PTR CSelFileDlg::DoModal() {
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SELECT_FILE_BOX),
                           reinterpret_cast<HWND>(state_.mainWnd.load()), DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CSelFileDlg::DialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CSelFileDlg* self;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CSelFileDlg*>(lParam);
        SetWindowLongPtrA(wnd, DWLP_USER, lParam);
        self->wnd_ = wnd;
        return self->OnInitDialog();
    }
    self = reinterpret_cast<CSelFileDlg*>(GetWindowLongPtrA(wnd, DWLP_USER));
    if (!self) return FALSE;
    switch (msg) {
    case WM_DESTROY:
        if (self->m_font) DeleteObject(self->m_font);
        self->m_font = nullptr;
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: self->OnOK(); return TRUE;
        case IDC_SELECT_DELETE: self->OnDelete(); return TRUE;
        case IDCANCEL: EndDialog(wnd, IDCANCEL); return TRUE;
        }
        break;
    }
    return FALSE;
}

BOOL CSelFileDlg::OnInitDialog() {
    m_font = CreatePointFont(100, "Arial Black");
    items_ = MakeSelFileList(state_.wavDir);
    HWND list = GetDlgItem(wnd_, IDC_SELECT_LIST);
    // Files first, then select the first one, then the clear entry (left unselected when alone).
    for (size_t i = 0; i + 1 < items_.size(); ++i)
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(items_[i].c_str()));
    SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(InitialSelFileSelection(items_)), 0);
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kClearEntry));
    for (int id : {IDOK, IDC_SELECT_DELETE})
        SendDlgItemMessageA(wnd_, id, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), TRUE);
    return TRUE;
}

int CSelFileDlg::Selection() const {
    LRESULT sel = SendDlgItemMessageA(wnd_, IDC_SELECT_LIST, LB_GETCURSEL, 0, 0);
    return sel == LB_ERR ? -1 : static_cast<int>(sel);
}

void CSelFileDlg::OnOK() {
    // A refused name leaves the dialog open for another choice.
    if (const char* refusal = SelectPlaybackFile(items_, Selection(), state_)) {
        MessageBoxA(wnd_, refusal, kErrorCaption, MB_OK);
        return;
    }
    EndDialog(wnd_, IDOK);
}

void CSelFileDlg::OnDelete() {
    DeletePlaybackFile(items_, Selection(), state_);
    EndDialog(wnd_, IDCANCEL);
}
