// The clock seam: every wait of the device code and the loops goes through it, so native
// tests run the long pauses in virtual time.
#pragma once
#include <cstdint>

class Clock {
  public:
    virtual ~Clock() = default;
    virtual void Sleep(unsigned ms) = 0;
    virtual uint64_t NowMs() = 0;
};

// The process-wide clock; the real one unless a test installs another.
Clock& GetClock();
// Installs a clock (null restores the real one). Not thread-safe: call it while no
// other thread uses the clock.
void SetClock(Clock* clock);

inline void Pause(unsigned ms) {
    GetClock().Sleep(ms);
}
