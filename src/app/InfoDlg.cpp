#include "app/InfoDlg.h"

#include "app/res/resource.h"
#include "core/win32/Fonts.h"

namespace {

// CInfoDlg: fixed texts; its own "Arial Black" font on the headings and the OK button, made
// and destroyed with every run.
class CInfoDlg {
  public:
    INT_PTR DoModal(HWND owner) {
        return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_INFO_DIALOG), owner,
                               DialogProc, reinterpret_cast<LPARAM>(this));
    }
    ~CInfoDlg() {
        if (m_font) DeleteObject(m_font);
    }

  private:
    static INT_PTR CALLBACK DialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_INITDIALOG) {
            auto* self = reinterpret_cast<CInfoDlg*>(lParam);
            self->OnInitDialog(wnd);
            return TRUE;
        }
        if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
            EndDialog(wnd, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    }

    void OnInitDialog(HWND wnd) {
        m_font = CreatePointFont(100, "Arial Black");
        static const int kBold[] = {IDC_INFO_MODE,   IDC_INFO_VOIP,   IDC_INFO_EDIT,
                                    IDC_INFO_RECORD, IDC_INFO_SELECT, IDOK};
        SetControlFont(wnd, kBold, sizeof kBold / sizeof kBold[0], m_font);
    }

    HFONT m_font = nullptr;
};

} // namespace

void RunInfoDialog(HWND owner) {
    CInfoDlg dlg;
    dlg.DoModal(owner);
}
