// The Windows side of the playbacks: winmm behind MciPort, the ANSI file calls behind FileOps
// (core/win32), raw PCM behind WaveOutPort, and the two dialogs.
#pragma once
#include "core/win32/FileOpsWin32.h"
#include "playback/MciPort.h"
#include "playback/PlaybackTable.h"
#include "playback/WaveOut.h"

#include <windows.h>

#include <mmsystem.h>

struct BridgeState;

class MciPortWin32 final : public MciPort {
  public:
    uint32_t SendCommand(uint32_t deviceId, uint32_t command, uint32_t flags,
                         MciParams* params) override;
    unsigned WaveOutCount() override;
    bool WaveOutName(unsigned index, char* name, unsigned size) override;
    void SetTimer(uintptr_t wnd, unsigned id, unsigned ms) override;
    void KillTimer(uintptr_t wnd, unsigned id) override;
};

class WaveOutWin32 final : public WaveOutPort {
  public:
    bool Play(unsigned device, const int16_t* samples, size_t count,
              uintptr_t notifyWindow) override;
    void Stop() override;
    bool IsCurrent(uintptr_t handle) override;

  private:
    void* wave_ = nullptr; // the open HWAVEOUT; null while nothing plays
    WAVEHDR header_ = {};
};

// Installs MciPortWin32, WaveOutWin32 and FileOpsWin32 for the whole run; call once at start-up.
void InstallPlaybackPlatform();

// The recorder dialog (template 135), run modally from the main window's Record button.
class CRecordDlg {
  public:
    explicit CRecordDlg(HWND owner) : owner_(owner) {}
    INT_PTR DoModal();

  private:
    static INT_PTR CALLBACK DialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog();
    void OnTimer();
    void OnRecord();
    void OnStop();
    void OnPlay();
    void OnSave();
    void OnDestroy();
    void SetSlider(int position);
    void Enable(int id, bool enable);

    HWND owner_;
    HWND wnd_ = nullptr;
    HFONT m_font = nullptr;
};

// The file-choice dialog (template 136); leaves its result in state.itemText.
class CSelFileDlg {
  public:
    explicit CSelFileDlg(BridgeState& state) : state_(state) {}
    INT_PTR DoModal();

  private:
    static INT_PTR CALLBACK DialogProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog();
    void OnOK();
    void OnDelete();
    int Selection() const;

    BridgeState& state_;
    HWND wnd_ = nullptr;
    HFONT m_font = nullptr;
    std::vector<std::string> items_;
};

// OnSelectN's chooser: runs CSelFileDlg.
class SelFileChooserWin32 final : public PlaybackChooser {
  public:
    int Run(BridgeState& state) override { return static_cast<int>(CSelFileDlg(state).DoModal()); }
};
