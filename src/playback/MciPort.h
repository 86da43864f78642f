// What CWaveAudio needs of the multimedia system: one call shaped like mciSendCommand, the
// wave-out device names and the recorder's progress timer. playback/win32 implements it with
// winmm; tests use a fake that records every command.
#pragma once
#include <cstdint>

// MCI commands and flags (the published values).
enum MciCommand : uint32_t {
    MCI_CMD_OPEN = 0x0803,
    MCI_CMD_CLOSE = 0x0804,
    MCI_CMD_PLAY = 0x0806,
    MCI_CMD_STOP = 0x0808,
    MCI_CMD_SET = 0x080D,
    MCI_CMD_RECORD = 0x080F,
    MCI_CMD_SAVE = 0x0813,
    MCI_CMD_DELETE = 0x0856,
};

enum MciFlag : uint32_t {
    MCI_FLAG_NOTIFY = 0x1,
    MCI_FLAG_WAIT = 0x2,
    MCI_FLAG_FROM = 0x4,
    MCI_FLAG_TO = 0x8,
    MCI_FLAG_SAVE_FILE = 0x100,
    MCI_FLAG_RECORD_OVERWRITE = 0x200,
    MCI_FLAG_OPEN_ELEMENT = 0x200,
    MCI_FLAG_OPEN_TYPE = 0x2000,
    MCI_FLAG_WAVE_INPUT = 0x400000,
    MCI_FLAG_WAVE_OUTPUT = 0x800000,
};

// MCI error codes this program produces itself.
enum MciError : uint32_t {
    MCI_ERR_FILE_NOT_SAVED = 256 + 30,
    MCI_ERR_DEVICE_NOT_INSTALLED = 256 + 50,
};

// The timer of the recorder dialog that Record starts and Stop kills.
constexpr unsigned kRecordTimerId = 1070;
constexpr unsigned kRecordTimerMs = 250;

// Everything any of our commands carries; each command reads only its own fields.
struct MciParams {
    uintptr_t callback = 0;            // window that gets MM_MCINOTIFY (MCI_FLAG_NOTIFY)
    const char* deviceType = nullptr;  // open
    const char* elementName = nullptr; // open: the file, "" for a new recording
    uint32_t from = 0;                 // play, record, delete
    uint32_t to = 0;                   // record (MCI_FLAG_TO)
    const char* fileName = nullptr;    // save
    uint32_t waveInput = 0;            // set
    uint32_t waveOutput = 0;           // set
    uint32_t deviceId = 0;             // open: the new device, written back
};

class MciPort {
  public:
    virtual ~MciPort() = default;

    // mciSendCommand: 0 on success, else an MCI error code. params may be null (close).
    virtual uint32_t SendCommand(uint32_t deviceId, uint32_t command, uint32_t flags,
                                 MciParams* params) = 0;
    // waveOutGetNumDevs.
    virtual unsigned WaveOutCount() = 0;
    // The name of wave-out device index (at most 31 characters); false when it has none.
    virtual bool WaveOutName(unsigned index, char* name, unsigned size) = 0;
    // SetTimer / KillTimer on a window.
    virtual void SetTimer(uintptr_t wnd, unsigned id, unsigned ms) = 0;
    virtual void KillTimer(uintptr_t wnd, unsigned id) = 0;
};

// The process-wide port. Until one is installed, every command fails with
// MCI_ERR_DEVICE_NOT_INSTALLED and there are no wave-out devices (machines without MCI).
MciPort& GetMciPort();
// Installs a port (null restores the silent one). Call while nothing plays.
void SetMciPort(MciPort* port);
