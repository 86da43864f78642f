// The clock seam: every wait of the device code and the loops goes through it, so native
// tests run the long pauses in virtual time.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>

// Ends a WaitForWake early. Set from any thread; a wake set while nobody waits is kept for the
// next wait, so one set between a waiter's last look and its wait is not lost.
class WakeSignal {
  public:
    void Set();
    // Takes a pending wake: true when there was one.
    bool Take();
    // Real time: until a wake is set or ms have passed; true when woken (the wake is taken).
    bool WaitFor(unsigned ms);

  private:
    std::mutex mutex_;
    std::condition_variable woken_;
    bool set_ = false;
};

class Clock {
  public:
    virtual ~Clock() = default;
    virtual void Sleep(unsigned ms) = 0;
    virtual uint64_t NowMs() = 0;
    // Waits until `wake` is set or ms have passed; true when woken. This default is the one of
    // virtual time: a pending wake ends the wait at once without time passing, otherwise the
    // wait is a Sleep of the whole time (what another thread does meanwhile cannot shorten it,
    // so a test's sequence does not depend on scheduling; a wake set meanwhile ends the next).
    virtual bool WaitForWake(WakeSignal& wake, unsigned ms);
};

// The process-wide clock; the real one unless a test installs another.
Clock& GetClock();
// Installs a clock (null restores the real one). Not thread-safe: call it while no
// other thread uses the clock.
void SetClock(Clock* clock);

inline void Pause(unsigned ms) {
    GetClock().Sleep(ms);
}
// A pause that a wake ends early; true when woken.
inline bool PauseUntilWoken(WakeSignal& wake, unsigned ms) {
    return GetClock().WaitForWake(wake, ms);
}
