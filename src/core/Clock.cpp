#include "core/Clock.h"

#include <chrono>
#include <thread>

namespace {

class RealClock final : public Clock {
  public:
    void Sleep(unsigned ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    uint64_t NowMs() override {
        using namespace std::chrono;
        return static_cast<uint64_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
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
