// A clock for tests: Sleep advances virtual time at once and records nothing else.
#pragma once
#include "core/Clock.h"

#include <atomic>
#include <thread>

class VirtualClock final : public Clock {
  public:
    void Sleep(unsigned ms) override {
        now_ += ms;
        slept_ += ms;
        // Let another thread run, as a real pause would.
        std::this_thread::yield();
    }
    uint64_t NowMs() override { return now_; }
    // Deterministic: a pending wake ends the wait at once, else the whole time passes.
    bool WaitForWake(WakeSignal& wake, unsigned ms) override {
        ++waits_;
        const bool woken = Clock::WaitForWake(wake, ms);
        if (woken) ++wokenWaits_;
        return woken;
    }
    void Advance(uint64_t ms) { now_ += ms; }
    uint64_t TotalSlept() const { return slept_; }
    uint64_t Waits() const { return waits_; }
    uint64_t WokenWaits() const { return wokenWaits_; }

  private:
    std::atomic<uint64_t> now_{0};
    std::atomic<uint64_t> slept_{0};
    std::atomic<uint64_t> waits_{0};
    std::atomic<uint64_t> wokenWaits_{0};
};
