// The wave recorder and player: a thin layer over the MCI "waveaudio" device. Two process-wide
// instances: promptPlayer (the main window's playbacks and prompts) and recorder (the
// recorder dialog). GUI thread only (asserted).
#pragma once
#include "playback/MciPort.h"

#include <cstddef>
#include <cstdint>

struct BridgeState;

// "wav\" on Windows; the native build uses its own separator so the same code runs there.
#ifdef _WIN32
#define KESTREL_WAV_PREFIX "wav\\"
#else
#define KESTREL_WAV_PREFIX "wav/"
#endif
constexpr const char kWavPrefix[] = KESTREL_WAV_PREFIX;

// The buffer Save appends ".wav" in, and so the longest name it can take.
constexpr size_t kSaveNameSize = 256;
// "wav\" and a whole save name with its terminator fit.
constexpr size_t kSavedPathSize = 264;

class CWaveAudio {
  public:
    // Opens file (empty: a new, empty recording) on the waveaudio device.
    uint32_t Open(const char* file);
    // Empties the recording and records from 0 to endMs in the background; starts timer 1070.
    uint32_t Record(uint32_t endMs);
    // Kills timer 1070 and stops recording or playing.
    uint32_t Stop();
    // Plays from 0 to the end: in the background with a notice to wnd, or blocking.
    uint32_t Play(bool notify, uintptr_t wnd);
    // Appends ".wav" to the name in buffer (size bytes), saves the take under it in the
    // current directory, closes the device and moves the file into "wav". Names that would
    // not fit, or that could leave "wav", are refused with MCI_ERR_FILE_NOT_SAVED and
    // nothing is sent.
    uint32_t Save(char* buffer, size_t size);
    // Selects wave input and output device number device.
    uint32_t SetDevice(uint32_t device);
    // Closes m_wDeviceID, once (then 0: none open); the result is not looked at.
    void Close();

    uint32_t m_wDeviceID = 0;
    uint32_t m_dwError = 0;

  private:
    // Stores code; a failure closes the device and marks it for reopening.
    uint32_t Check(uint32_t code);
};

extern CWaveAudio recorder;
extern CWaveAudio promptPlayer;
// 1: a failed command or a save closed the device; Record and Play open it again first.
extern int32_t waveDeviceClosed;
// "wav\" + the name of the recording saved last.
extern char savedPath[kSavedPathSize];
// The recorder dialog's window: gets timer 1070 and the notices of Record and Stop.
extern uintptr_t recorderWnd;

// Back to the state at process start (tests).
void ResetWaveAudio();

// Stops and closes the dial tone if it plays (any key, a prompt or the recorder ends it).
void EndDialTone(BridgeState& state);
// MM_MCINOTIFY of the main window (deviceId: the notice's lParam): the dial tone ended or was
// interrupted.
void OnMciNotify(BridgeState& state, uint32_t deviceId);
// Picks the wave-out device "error.wav" is played on: the gateway's own device wherever it
// stands, else the first USB one. Does nothing while the bridge is not ready.
void ChoosePromptDevice(BridgeState& state);

// Whether name may be saved: it fits kSaveNameSize with ".wav" and names a file directly
// inside "wav" (no separators, no drive).
bool IsSafeSaveName(const char* name);
