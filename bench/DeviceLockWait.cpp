// How long the GUI thread waits for deviceLock while the phone event thread polls a ready
// bridge: the real loop and the real USB phone against the lab adapter at 1 ms per request, in
// real time. Prints figures; it asserts nothing.
//   DeviceLockWait [samples]
// A "RESULT <name> <value>" line per figure, for scripts/bench.
#include "adapter/LabAdapter.h"
#include "call/CallControl.h"
#include "support/QuietMainWindow.h"
#include "core/Clock.h"
#include "device/DeviceLock.h"
#include "device/KwIpApi.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;

class QuietSkype final : public SkypeCommands {
  public:
    void SendSkypeCommand() override {}
    void ReplyTrue() override {}
};

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t at = static_cast<size_t>(p / 100.0 * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(at, v.size() - 1)];
}

double MsSince(SteadyClock::time_point t) {
    return std::chrono::duration<double, std::milli>(SteadyClock::now() - t).count();
}

} // namespace

int main(int argc, char** argv) {
    const int samples = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    // A wait this long counts as starvation: the loop is then parked so the run can finish.
    constexpr double kStarvedMs = 2000;

    LabAdapter lab;
    lab.SetCallLimit(10000);
    SetCurrentLabAdapter(&lab);
    SetDeviceLibrary(nullptr, LabVaVoRarCall);

    BridgeState state;
    state.mainWnd = 0x5150;
    QuietMainWindow window; // only the lock matters here
    QuietSkype skype;
    CallControl cc(state, window, skype);

    // Bring-up without bus latency (it is not what is measured), then the 1 ms bus.
    if (cc.OpenPhone() != 1 || cc.m_hThread == 0) {
        std::fprintf(stderr, "DeviceLockWait: the lab phone did not open with a polling thread\n");
        return 1;
    }
    lab.SetLatency(1000, &GetClock());
    state.attachStatus = ATTACH_SUCCESS;
    state.bridgeReady = 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    std::atomic<bool> waiting{false};
    std::atomic<bool> done{false};
    std::atomic<SteadyClock::rep> waitStart{0};
    std::atomic<int> parked{0};
    // Takes the loop off the bus while the GUI thread has waited too long, as if the bridge
    // had gone unready, so that a starving build still ends.
    std::thread watchdog([&] {
        while (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const auto started = SteadyClock::time_point(SteadyClock::duration(waitStart.load()));
            if (waiting && MsSince(started) > kStarvedMs && state.bridgeReady == 1) {
                state.bridgeReady = 0;
                ++parked;
            }
        }
    });

    std::mt19937 random(12345);
    std::uniform_int_distribution<int> gap(2, 12);
    std::vector<double> waits;
    const int callsBefore = lab.CallCount();
    const auto runStart = SteadyClock::now();
    for (int i = 0; i < samples; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(gap(random)));
        const auto t0 = SteadyClock::now();
        waitStart = t0.time_since_epoch().count();
        waiting = true;
        {
            // What the status poll's liveness check does on the GUI thread.
            DeviceLockGuard hold;
            waiting = false;
            waits.push_back(MsSince(t0));
            SlicReadDirect(64);
        }
        state.bridgeReady = 1;
    }
    const double runMs = MsSince(runStart);
    const int calls = lab.CallCount() - callsBefore;
    done = true;
    watchdog.join();

    cc.ShutDownDevice();
    ClearDeviceLibrary();
    SetCurrentLabAdapter(nullptr);

    const double maxWait = *std::max_element(waits.begin(), waits.end());
    std::printf("deviceLock wait of the GUI thread, %d takes while the loop polls at 1 ms per "
                "request%s:\n",
                samples, kBenchSpin ? " (spinning build)" : "");
    std::printf("  p50 %.2f ms  p99 %.2f ms  max %.2f ms  starved (>= %.0f ms) %d\n",
                Percentile(waits, 50), Percentile(waits, 99), maxWait, kStarvedMs, parked.load());
    std::printf("  device requests %.0f /s\n", calls * 1000.0 / runMs);
    std::printf("RESULT lock_wait_p50_ms %.2f\n", Percentile(waits, 50));
    std::printf("RESULT lock_wait_p99_ms %.2f\n", Percentile(waits, 99));
    std::printf("RESULT lock_wait_max_ms %.2f\n", maxWait);
    std::printf("RESULT lock_starved %d\n", parked.load());
    std::printf("RESULT lock_bench_requests_per_s %.0f\n", calls * 1000.0 / runMs);
    return 0;
}
