#include "playback/win32/PlaybackWin32.h"

#include <mmsystem.h>

#include <cstdio>

namespace {

// The wave driver is unloaded when its last device closes, yet the wave-in layer may still be
// about to call the driver's recording callback for a buffer it returned: under Wine the
// process then executes unmapped code while a take is saved. Pinned once loaded, the driver
// stays for the life of the process, as it would with any device left open.
void PinWaveDriver() {
    static bool pinned = false;
    if (pinned) return;
    HMODULE module = nullptr;
    pinned = GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, "mciwave.dll", &module) != 0;
}

} // namespace

uint32_t MciPortWin32::SendCommand(uint32_t deviceId, uint32_t command, uint32_t flags,
                                   MciParams* p) {
    MCIDEVICEID id = static_cast<MCIDEVICEID>(deviceId);
    if (!p) return mciSendCommandA(id, command, flags, 0);
    // Each command gets the structure its driver reads.
    switch (command) {
    case MCI_OPEN: {
        MCI_OPEN_PARMSA open = {};
        open.dwCallback = p->callback;
        open.lpstrDeviceType = p->deviceType;
        open.lpstrElementName = p->elementName;
        MCIERROR rc = mciSendCommandA(0, MCI_OPEN, flags, reinterpret_cast<DWORD_PTR>(&open));
        if (rc == 0) {
            p->deviceId = open.wDeviceID;
            PinWaveDriver();
        }
        return rc;
    }
    case MCI_RECORD: {
        MCI_RECORD_PARMS record = {};
        record.dwCallback = p->callback;
        record.dwFrom = p->from;
        record.dwTo = p->to;
        return mciSendCommandA(id, command, flags, reinterpret_cast<DWORD_PTR>(&record));
    }
    case MCI_DELETE: {
        MCI_WAVE_DELETE_PARMS del = {};
        del.dwCallback = p->callback;
        del.dwFrom = p->from;
        del.dwTo = p->to;
        return mciSendCommandA(id, command, flags, reinterpret_cast<DWORD_PTR>(&del));
    }
    case MCI_PLAY: {
        MCI_PLAY_PARMS play = {};
        play.dwCallback = p->callback;
        play.dwFrom = p->from;
        play.dwTo = p->to;
        return mciSendCommandA(id, command, flags, reinterpret_cast<DWORD_PTR>(&play));
    }
    case MCI_SAVE: {
        MCI_SAVE_PARMSA save = {};
        save.dwCallback = p->callback;
        save.lpfilename = p->fileName;
        return mciSendCommandA(id, command, flags, reinterpret_cast<DWORD_PTR>(&save));
    }
    case MCI_SET: {
        MCI_WAVE_SET_PARMS set = {};
        set.dwCallback = p->callback;
        set.wInput = p->waveInput;
        set.wOutput = p->waveOutput;
        return mciSendCommandA(id, command, flags, reinterpret_cast<DWORD_PTR>(&set));
    }
    default: {
        MCI_GENERIC_PARMS generic = {};
        generic.dwCallback = p->callback;
        return mciSendCommandA(id, command, flags, reinterpret_cast<DWORD_PTR>(&generic));
    }
    }
}

unsigned MciPortWin32::WaveOutCount() {
    return waveOutGetNumDevs();
}

bool MciPortWin32::WaveOutName(unsigned index, char* name, unsigned size) {
    if (size == 0) return false;
    name[0] = '\0';
    WAVEOUTCAPSA caps = {};
    if (waveOutGetDevCapsA(index, &caps, sizeof caps) != MMSYSERR_NOERROR) return false;
    caps.szPname[sizeof caps.szPname - 1] = '\0';
    std::snprintf(name, size, "%s", caps.szPname);
    return true;
}

void MciPortWin32::SetTimer(uintptr_t wnd, unsigned id, unsigned ms) {
    ::SetTimer(reinterpret_cast<HWND>(wnd), id, ms, nullptr);
}

void MciPortWin32::KillTimer(uintptr_t wnd, unsigned id) {
    ::KillTimer(reinterpret_cast<HWND>(wnd), id);
}

void InstallPlaybackPlatform() {
    static MciPortWin32 mci;
    static WaveOutWin32 waveOut;
    SetMciPort(&mci);
    SetWaveOutPort(&waveOut);
    InstallFileOpsWin32();
}
