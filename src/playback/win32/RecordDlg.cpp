#include "playback/win32/PlaybackWin32.h"

#include "core/win32/Fonts.h"

#include "core/Clock.h"
#include "playback/PlaybackDialogs.h"
#include "playback/WaveAudio.h"
#include "playback/win32/PlaybackIds.h"

#include <commctrl.h>
#include <mmsystem.h>

namespace {

// The take's progress, shared with the next run of the dialog as one counter pair.
RecordProgress progress;

const unsigned kTakeMs = 5000;
const unsigned kSaveSettleMs = 200;

} // namespace

INT_PTR CRecordDlg::DoModal() {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_RECORD_BOX), owner_,
                           DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CRecordDlg::DialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CRecordDlg* self;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CRecordDlg*>(lParam);
        SetWindowLongPtrA(wnd, DWLP_USER, lParam);
        self->wnd_ = wnd;
        return self->OnInitDialog();
    }
    self = reinterpret_cast<CRecordDlg*>(GetWindowLongPtrA(wnd, DWLP_USER));
    if (!self) return FALSE;
    switch (msg) {
    case WM_TIMER: self->OnTimer(); return TRUE;
    case MM_MCINOTIFY: return TRUE; // notices of Record and Stop need nothing
    case WM_DESTROY: self->OnDestroy(); return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_RECORD_PLAY: self->OnPlay(); return TRUE;
        case IDC_RECORD_STOP: self->OnStop(); return TRUE;
        case IDC_RECORD_RECORD: self->OnRecord(); return TRUE;
        case IDC_RECORD_SAVE: self->OnSave(); return TRUE;
        case IDOK:
        case IDCANCEL: EndDialog(wnd, LOWORD(wParam)); return TRUE;
        }
        break;
    }
    return FALSE;
}

BOOL CRecordDlg::OnInitDialog() {
    recorderWnd = reinterpret_cast<uintptr_t>(wnd_);
    m_font = CreatePointFont(100, "Arial Black");
    for (int id : {IDC_RECORD_STOP, IDC_RECORD_SAVE, IDC_RECORD_PLAY, IDC_RECORD_RECORD})
        SendDlgItemMessageA(wnd_, id, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), TRUE);
    recorder.Open("");
    return TRUE;
}

void CRecordDlg::Enable(int id, bool enable) {
    EnableWindow(GetDlgItem(wnd_, id), enable);
}

void CRecordDlg::SetSlider(int position) {
    SendDlgItemMessageA(wnd_, IDC_RECORD_SLIDER, TBM_SETPOS, TRUE, position);
}

void CRecordDlg::OnRecord() {
    progress.StartRecording();
    SetSlider(0);
    Enable(IDC_RECORD_RECORD, false);
    Enable(IDC_RECORD_PLAY, false);
    Enable(IDC_RECORD_SAVE, false);
    Enable(IDC_RECORD_STOP, true);
    recorder.Record(kTakeMs);
}

void CRecordDlg::OnTimer() {
    SetSlider(progress.Tick());
    char text[32];
    FormatRecordSeconds(progress.recordSeconds, text, sizeof text);
    SetDlgItemTextA(wnd_, IDC_RECORD_SECONDS, text);
    if (SendDlgItemMessageA(wnd_, IDC_RECORD_SLIDER, TBM_GETPOS, 0, 0) == kRecordSliderEnd) {
        progress.recordTicks = 0;
        OnStop();
    }
}

void CRecordDlg::OnStop() {
    Enable(IDC_RECORD_RECORD, true);
    Enable(IDC_RECORD_STOP, false);
    Enable(IDC_RECORD_PLAY, true);
    Enable(IDC_RECORD_SAVE, true);
    SetSlider(kRecordSliderEnd);
    recorder.Stop();
}

void CRecordDlg::OnPlay() {
    progress.StartPlaying();
    SetSlider(0);
    ::SetTimer(wnd_, kRecordTimerId, kRecordTimerMs, nullptr);
    Enable(IDC_RECORD_RECORD, false);
    Enable(IDC_RECORD_PLAY, false);
    Enable(IDC_RECORD_STOP, true);
    recorder.Play(false, recorderWnd);
    progress.PlayingEnded();
}

void CRecordDlg::OnSave() {
    Enable(IDC_RECORD_SAVE, false);
    char name[kSaveNameSize] = {};
    GetDlgItemTextA(reinterpret_cast<HWND>(recorderWnd), IDC_RECORD_NAME, name, sizeof name);
    name[sizeof name - 1] = '\0';
    if (const char* refusal = CheckRecordName(name))
        MessageBoxA(wnd_, refusal, kErrorCaption, MB_OK);
    else
        recorder.Save(name, sizeof name);
    Pause(kSaveSettleMs);
    SetDlgItemTextA(wnd_, IDC_RECORD_NAME, "");
    Enable(IDC_RECORD_SAVE, true);
}

void CRecordDlg::OnDestroy() {
    if (waveDeviceClosed == 0) recorder.Close();
    if (m_font) DeleteObject(m_font);
    m_font = nullptr;
}
