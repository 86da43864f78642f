#include "core/Clock.h"

#include <chrono>
#include <thread>

#ifdef _WIN32
#include "core/win32/SystemSleep.h"
#endif

void WakeSignal::Set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        set_ = true;
    }
    woken_.notify_all();
}

bool WakeSignal::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool was = set_;
    set_ = false;
    return was;
}

bool WakeSignal::WaitFor(unsigned ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool woken =
        woken_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return set_; });
    set_ = false;
    return woken;
}

bool Clock::WaitForWake(WakeSignal& wake, unsigned ms) {
    if (wake.Take()) return true;
    Sleep(ms);
    return false;
}

namespace {

class RealClock final : public Clock {
  public:
    void Sleep(unsigned ms) override {
#ifdef _WIN32
        SystemSleep(ms);
#else
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
#endif
    }
    uint64_t NowMs() override {
        using namespace std::chrono;
        return static_cast<uint64_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
    // Blocks on the signal's condition variable: no wake-ups of its own while nothing comes.
    bool WaitForWake(WakeSignal& wake, unsigned ms) override {
        return wake.WaitFor(ms);
    }
};

RealClock realClock;
Clock* current = &realClock;

} // namespace

Clock& GetClock() {
    return *current;
}
void SetClock(Clock* clock) {
    current = clock ? clock : &realClock;
}
