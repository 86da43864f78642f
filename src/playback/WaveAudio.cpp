#include "playback/WaveAudio.h"

#include "bridge/BridgeState.h"
#include "core/GuiThread.h"
#include "playback/FileOps.h"

#include <cassert>
#include <cstdio>
#include <cstring>

namespace {

class SilentMciPort final : public MciPort {
  public:
    uint32_t SendCommand(uint32_t, uint32_t, uint32_t, MciParams*) override {
        return MCI_ERR_DEVICE_NOT_INSTALLED;
    }
    unsigned WaveOutCount() override { return 0; }
    bool WaveOutName(unsigned, char* name, unsigned size) override {
        if (size) name[0] = '\0';
        return false;
    }
    void SetTimer(uintptr_t, unsigned, unsigned) override {}
    void KillTimer(uintptr_t, unsigned) override {}
};

SilentMciPort silentPort;
MciPort* currentPort = &silentPort;

const char kGatewayDeviceName[] = "Rezadede ZuviRuraro-RAV ir";
const char kWavExtension[] = ".wav";

// Answers of a driver that has no MCI_DELETE (Wine's waveaudio among them).
constexpr uint32_t kMciErrUnrecognizedCommand = 256 + 5;
constexpr uint32_t kMciErrUnsupportedFunction = 256 + 18;

} // namespace

MciPort& GetMciPort() {
    return *currentPort;
}
void SetMciPort(MciPort* port) {
    currentPort = port ? port : &silentPort;
}

CWaveAudio recorder;
CWaveAudio promptPlayer;
int32_t waveDeviceClosed;
char savedPath[kSavedPathSize];
uintptr_t recorderWnd;

void ResetWaveAudio() {
    recorder = CWaveAudio{};
    promptPlayer = CWaveAudio{};
    waveDeviceClosed = 0;
    std::memset(savedPath, 0, sizeof savedPath);
    recorderWnd = 0;
}

uint32_t CWaveAudio::Check(uint32_t code) {
    m_dwError = code;
    if (code != 0) {
        waveDeviceClosed = 1;
        Close();
    }
    return code;
}

uint32_t CWaveAudio::Open(const char* file) {
    assert(OnGuiThread() && "CWaveAudio::Open: GUI thread only");
    MciParams p;
    p.deviceType = "waveaudio";
    p.elementName = file ? file : "";
    m_dwError =
        GetMciPort().SendCommand(0, MCI_CMD_OPEN, MCI_FLAG_OPEN_TYPE | MCI_FLAG_OPEN_ELEMENT, &p);
    if (m_dwError != 0) return m_dwError;
    m_wDeviceID = p.deviceId;
    waveDeviceClosed = 0;
    return 0;
}

uint32_t CWaveAudio::Record(uint32_t endMs) {
    assert(OnGuiThread() && "CWaveAudio::Record: GUI thread only");
    MciPort& mci = GetMciPort();
    if (waveDeviceClosed == 1 || m_wDeviceID == 0) Open("");

    MciParams del;
    del.callback = recorderWnd;
    del.from = 0;
    uint32_t emptied =
        mci.SendCommand(m_wDeviceID, MCI_CMD_DELETE, MCI_FLAG_NOTIFY | MCI_FLAG_FROM, &del);
    if (emptied == kMciErrUnrecognizedCommand || emptied == kMciErrUnsupportedFunction) {
        // The driver cannot cut the old take away; a new element is just as empty.
        Close();
        emptied = Open("");
    }
    if (uint32_t rc = Check(emptied)) return rc;

    mci.SetTimer(recorderWnd, kRecordTimerId, kRecordTimerMs);

    MciParams rec;
    rec.callback = recorderWnd;
    rec.from = 0;
    rec.to = endMs;
    return Check(mci.SendCommand(
        m_wDeviceID, MCI_CMD_RECORD,
        MCI_FLAG_NOTIFY | MCI_FLAG_FROM | MCI_FLAG_TO | MCI_FLAG_RECORD_OVERWRITE, &rec));
}

uint32_t CWaveAudio::Stop() {
    assert(OnGuiThread() && "CWaveAudio::Stop: GUI thread only");
    MciPort& mci = GetMciPort();
    mci.KillTimer(recorderWnd, kRecordTimerId);
    MciParams p;
    p.callback = recorderWnd;
    return Check(mci.SendCommand(m_wDeviceID, MCI_CMD_STOP, MCI_FLAG_NOTIFY, &p));
}

uint32_t CWaveAudio::Play(bool notify, uintptr_t wnd) {
    assert(OnGuiThread() && "CWaveAudio::Play: GUI thread only");
    if (waveDeviceClosed == 1 || m_wDeviceID == 0) Open(savedPath);
    MciParams p;
    p.callback = wnd;
    p.from = 0;
    uint32_t flags = notify ? (MCI_FLAG_NOTIFY | MCI_FLAG_FROM) : (MCI_FLAG_WAIT | MCI_FLAG_FROM);
    return Check(GetMciPort().SendCommand(m_wDeviceID, MCI_CMD_PLAY, flags, &p));
}

bool IsSafeSaveName(const char* name) {
    if (!name) return false;
    size_t len = std::strlen(name);
    if (len + sizeof kWavExtension > kSaveNameSize) return false;
    // A separator or a drive would put the file (or the move target) outside "wav".
    return std::strpbrk(name, "\\/:") == nullptr;
}

uint32_t CWaveAudio::Save(char* buffer, size_t size) {
    assert(OnGuiThread() && "CWaveAudio::Save: GUI thread only");
    if (!buffer || size == 0 || std::memchr(buffer, '\0', size) == nullptr ||
        !IsSafeSaveName(buffer) || std::strlen(buffer) + sizeof kWavExtension > size)
        return MCI_ERR_FILE_NOT_SAVED;
    std::memcpy(buffer + std::strlen(buffer), kWavExtension, sizeof kWavExtension);

    MciParams p;
    p.fileName = buffer;
    if (uint32_t rc = Check(GetMciPort().SendCommand(m_wDeviceID, MCI_CMD_SAVE,
                                                     MCI_FLAG_WAIT | MCI_FLAG_SAVE_FILE, &p)))
        return rc;

    waveDeviceClosed = 1;
    Close();
    std::snprintf(savedPath, sizeof savedPath, "%s%s", kWavPrefix, buffer);
    GetFileOps().Move(buffer, savedPath);
    return 0;
}

uint32_t CWaveAudio::SetDevice(uint32_t device) {
    assert(OnGuiThread() && "CWaveAudio::SetDevice: GUI thread only");
    MciParams p;
    p.waveInput = device;
    p.waveOutput = device;
    return Check(GetMciPort().SendCommand(m_wDeviceID, MCI_CMD_SET,
                                          MCI_FLAG_WAVE_INPUT | MCI_FLAG_WAVE_OUTPUT, &p));
}

void CWaveAudio::Close() {
    assert(OnGuiThread() && "CWaveAudio::Close: GUI thread only");
    // Once: MCI gives a closed device's id to the next device opened, which may be the other
    // player's (a dial tone's late notice would close the recording in progress).
    if (m_wDeviceID == 0) return;
    GetMciPort().SendCommand(m_wDeviceID, MCI_CMD_CLOSE, 0, nullptr);
    m_wDeviceID = 0;
}

void EndDialTone(BridgeState& state) {
    if (state.playerIdle == 0) {
        promptPlayer.Stop();
        promptPlayer.Close();
        // Idle now: the tone's own notice, still on its way, is stale.
        state.playerIdle = 1;
    }
}

void OnMciNotify(BridgeState& state, uint32_t deviceId) {
    // The notice of a tone already ended (by a key, or by the next prompt) is stale.
    if (deviceId != promptPlayer.m_wDeviceID) return;
    state.playerIdle = 1;
    promptPlayer.Stop();
    promptPlayer.Close();
}

void ChoosePromptDevice(BridgeState& state) {
    assert(OnGuiThread() && "ChoosePromptDevice: GUI thread only");
    MciPort& mci = GetMciPort();
    unsigned count = mci.WaveOutCount();
    if (count == 0 || state.bridgeReady == 0) return;
    state.promptDeviceChosen = 1;
    bool usbSeen = false;
    for (unsigned i = 0; i < count; ++i) {
        char name[32] = {};
        if (!mci.WaveOutName(i, name, sizeof name)) continue;
        name[sizeof name - 1] = '\0';
        if (std::strstr(name, kGatewayDeviceName)) {
            state.promptDevice = static_cast<int32_t>(i);
            return;
        }
        if (!usbSeen && std::strstr(name, "USB")) {
            state.promptDevice = static_cast<int32_t>(i);
            usbSeen = true;
        }
    }
}
