#include "WavePlay.h"

#include <windows.h>

#include <mmsystem.h>

bool PlayPcm8k(const std::vector<int16_t>& pcm,
               const std::function<bool(unsigned, const std::function<bool()>&)>& wait,
               std::string* error) {
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = 8000;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 2;
    format.nAvgBytesPerSec = 16000;
    HWAVEOUT out = nullptr;
    MMRESULT r = waveOutOpen(&out, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL);
    if (r != MMSYSERR_NOERROR) {
        *error = "waveOutOpen failed (" + std::to_string(r) + "); " +
                 std::to_string(waveOutGetNumDevs()) + " wave-out device(s)";
        return false;
    }
    std::vector<int16_t> data(pcm);
    WAVEHDR header = {};
    header.lpData = reinterpret_cast<LPSTR>(data.data());
    header.dwBufferLength = static_cast<DWORD>(data.size() * sizeof data[0]);
    r = waveOutPrepareHeader(out, &header, sizeof header);
    if (r == MMSYSERR_NOERROR) r = waveOutWrite(out, &header, sizeof header);
    bool ok = r == MMSYSERR_NOERROR;
    if (!ok) *error = "waveOutWrite failed (" + std::to_string(r) + ")";
    // Its own length and a margin: a device that never finishes is reported, not waited for.
    const unsigned ms = static_cast<unsigned>(data.size() / 8) + 5000;
    if (ok && !wait(ms, [&] { return (header.dwFlags & WHDR_DONE) != 0; })) {
        *error = "the wave device did not finish the caller ID in " + std::to_string(ms) + " ms";
        ok = false;
    }
    waveOutReset(out);
    waveOutUnprepareHeader(out, &header, sizeof header);
    waveOutClose(out);
    return ok;
}
