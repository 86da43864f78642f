// Raw PCM on a wave-out device, for sound the program makes itself (caller ID): one playback at
// a time, started and stopped on the GUI thread, never waited for. playback/win32 implements it
// with waveOutOpen and friends; tests use a fake that records every request.
#pragma once
#include <cstddef>
#include <cstdint>

class WaveOutPort {
  public:
    virtual ~WaveOutPort() = default;

    // Starts 8 kHz 16-bit mono samples on wave-out device number `device` and returns at once;
    // the samples must stay alive until Stop. When they have played, MM_WOM_DONE (0x3BD) with
    // the playback's handle reaches notifyWindow. False when nothing plays (no such device, a
    // refused format); a playback still running is stopped first.
    virtual bool Play(unsigned device, const int16_t* samples, size_t count,
                      uintptr_t notifyWindow) = 0;
    // Ends the playback at once and frees the device; nothing when none runs.
    virtual void Stop() = 0;
    // Whether handle (an MM_WOM_DONE's) is the running playback's: a notice of one already
    // stopped is not.
    virtual bool IsCurrent(uintptr_t handle) = 0;
};

// The window message a finished playback sends.
constexpr unsigned kWaveOutDoneMessage = 0x3BD;

// The process-wide port. Until one is installed nothing plays (machines without sound).
WaveOutPort& GetWaveOutPort();
// Installs a port (null restores the silent one). Call while nothing plays.
void SetWaveOutPort(WaveOutPort* port);
