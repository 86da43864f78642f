// WaveOutPort over winmm: one header for the whole signal, the end reported to the main window
// (CALLBACK_WINDOW), so nothing ever waits for the device.
#include "playback/win32/PlaybackWin32.h"

#include <mmsystem.h>

bool WaveOutWin32::Play(unsigned device, const int16_t* samples, size_t count,
                        uintptr_t notifyWindow) {
    Stop();
    if (samples == nullptr || count == 0 || count > 0x7FFFFFFF / sizeof(int16_t)) return false;
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = 8000;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 2;
    format.nAvgBytesPerSec = 16000;
    HWAVEOUT wave = nullptr;
    if (waveOutOpen(&wave, device, &format, static_cast<DWORD_PTR>(notifyWindow), 0,
                    notifyWindow ? CALLBACK_WINDOW : CALLBACK_NULL) != MMSYSERR_NOERROR)
        return false;
    header_ = {};
    header_.lpData = reinterpret_cast<LPSTR>(const_cast<int16_t*>(samples));
    header_.dwBufferLength = static_cast<DWORD>(count * sizeof(int16_t));
    if (waveOutPrepareHeader(wave, &header_, sizeof header_) != MMSYSERR_NOERROR) {
        waveOutClose(wave);
        return false;
    }
    wave_ = wave;
    if (waveOutWrite(wave, &header_, sizeof header_) != MMSYSERR_NOERROR) {
        Stop();
        return false;
    }
    return true;
}

void WaveOutWin32::Stop() {
    HWAVEOUT wave = static_cast<HWAVEOUT>(wave_);
    if (wave == nullptr) return;
    // Cleared first: the done notice the reset posts belongs to no playback any more.
    wave_ = nullptr;
    waveOutReset(wave);
    waveOutUnprepareHeader(wave, &header_, sizeof header_);
    waveOutClose(wave);
}

bool WaveOutWin32::IsCurrent(uintptr_t handle) {
    return wave_ != nullptr && handle == reinterpret_cast<uintptr_t>(wave_);
}
