// What a failing read costs the USB phone's poll: requests made and time spent under deviceLock
// for one poll pass, in virtual time against the lab adapter. A pass holds the lock from start to
// end, so its time is its time under the lock. Prints figures; it asserts nothing.
//   ReadFailureCost
// A "RESULT <name> <value>" line per figure, for scripts/bench.
#include "adapter/LabAdapter.h"
#include "core/VirtualClock.h"
#include "device/KwIpApi.h"
#include "device/KwUsbPhone.h"

#include <cstdio>
#include <functional>

namespace {

struct Cost {
    int requests = 0;
    unsigned long long lockedMs = 0; // with the modelled bus latency
    unsigned long long pausedMs = 0; // the poll's own pauses (measured without bus latency)
    int lineFeedWrites = 0;          // each one cuts or changes the telephone's loop feed
};

struct Scenario {
    const char* name;
    int variant;                           // of the line chip
    bool inCall;                           // receiver lifted and the lift taken
    std::function<void(LabAdapter&)> fail; // what goes wrong before the measured pass
    int passes;                            // measured passes; the cost is their average
};

// One scenario on a fresh lab with `latencyUs` per request.
Cost Measure(const Scenario& s, unsigned latencyUs) {
    VirtualClock clock;
    SetClock(&clock);
    LabAdapter lab;
    SetCurrentLabAdapter(&lab);
    SetDeviceLibrary(nullptr, LabVaVoRarCall);
    LabSlicConfig chip;
    chip.variant = s.variant;
    lab.ConfigureSlic(chip);

    KwUsbPhone phone(0);
    phone.Initialize();
    if (s.inCall) {
        lab.LiftReceiver();
        phone.PollEvent();
    }
    phone.PollEvent(); // settled
    lab.ClearCalls();
    lab.SetLatency(latencyUs, &clock);
    s.fail(lab);

    const uint64_t start = clock.NowMs();
    const uint64_t slept = clock.TotalSlept();
    for (int i = 0; i < s.passes; ++i)
        phone.PollEvent();
    Cost cost;
    cost.requests = lab.CallCount() / s.passes;
    cost.lockedMs = (clock.NowMs() - start) / s.passes;
    cost.pausedMs = (clock.TotalSlept() - slept) / s.passes;
    for (const LabRegWrite& w : lab.SlicDirectWrites())
        if (w.reg == 64) ++cost.lineFeedWrites;
    cost.lineFeedWrites /= s.passes;

    ClearDeviceLibrary();
    SetCurrentLabAdapter(nullptr);
    SetClock(nullptr);
    return cost;
}

} // namespace

int main() {
    const Scenario scenarios[] = {
        {"call_ordinary_pass", 0, true, [](LabAdapter&) {}, 1},
        {"call_line_feed_read_fails_once", 0, true,
         [](LabAdapter& l) { l.FailReads(LabTarget::SlicDirect, 64, 1); }, 1},
        // The look again 50 ms later fails too: a short outage of the bus.
        {"call_line_feed_read_fails_twice", 0, true,
         [](LabAdapter& l) { l.FailReads(LabTarget::SlicDirect, 64, 2); }, 1},
        {"call_every_request_fails", 0, true,
         [](LabAdapter& l) {
             for (int code : {VC_REGISTER_REQUEST, VC_SLIC_READ_DIRECT, VC_SLIC_WRITE_DIRECT,
                              VC_SLIC_WRITE_INDIRECT})
                 l.FailNext(code, 100000);
         },
         10},
        {"call_chip_really_reset", 0, true, [](LabAdapter& l) { l.ResetSlic(); }, 1},
        {"refused_chip_idle_pass", 1, false, [](LabAdapter&) {}, 10},
    };
    std::printf("Cost of one USB phone poll pass, in virtual time against the lab adapter.\n");
    std::printf("%-34s %9s %12s %14s %10s\n", "scenario", "requests", "paused ms", "locked ms@1ms",
                "line feed");
    for (const Scenario& s : scenarios) {
        const Cost bare = Measure(s, 0);
        const Cost bus = Measure(s, 1000);
        std::printf("%-34s %9d %12llu %14llu %10d\n", s.name, bare.requests, bare.pausedMs,
                    bus.lockedMs, bare.lineFeedWrites);
        std::printf("RESULT %s_requests %d\n", s.name, bare.requests);
        std::printf("RESULT %s_paused_ms %llu\n", s.name, bare.pausedMs);
        std::printf("RESULT %s_locked_ms_at_1ms_per_request %llu\n", s.name, bus.lockedMs);
    }
    return 0;
}
