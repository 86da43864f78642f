// The loop's pace: a slow pace while the receiver is down and nothing happens, the full pace as
// soon as anything does, and a blocking wait while there is nothing to poll, ended by whatever
// makes polling necessary again. The slow pace loses no key of a phone that keeps its events
// until polled, checked with 1000 key presses in virtual time against the lab's USB phone.
#include "unit/call/CallTestSupport.h"

#include "device/KwUsbPhone.h"
#include "device/SlicRegisters.h"

#include <condition_variable>
#include <functional>
#include <map>
#include <random>

namespace {

// A scripted phone that keeps its events until polled, as the line-chip phones do.
class LatchingPhone : public TestPhone {
  public:
    using TestPhone::TestPhone;
    bool KeepsEventsUntilPolled() override { return latching; }
    int IsPstnRinging() override {
        ++ringLooks;
        return TestPhone::IsPstnRinging();
    }
    bool latching = true;
    int ringLooks = 0;
};

// Virtual time that tells which pause ended a pass: the slow pace's is its last.
class PaceClock final : public Clock {
  public:
    void Sleep(unsigned ms) override {
        now_ += ms;
        slept_ += ms;
        lastSleepMs_ = ms;
        ++sleeps_;
    }
    uint64_t NowMs() override { return now_; }
    bool WaitForWake(WakeSignal& wake, unsigned ms) override {
        const bool woken = Clock::WaitForWake(wake, ms);
        if (woken) ++wokenWaits_;
        return woken;
    }
    void Advance(uint64_t ms) { now_ += ms; }
    uint64_t TotalSlept() const { return slept_; }
    uint64_t WokenWaits() const { return wokenWaits_; }
    unsigned LastSleepMs() const { return lastSleepMs_; }
    uint64_t Sleeps() const { return sleeps_; }

  private:
    uint64_t now_ = 0;
    uint64_t slept_ = 0;
    uint64_t wokenWaits_ = 0;
    uint64_t sleeps_ = 0;
    unsigned lastSleepMs_ = 0;
};

class IdlePaceTest : public CallTest {
  protected:
    void SetUp() override {
        CallTest::SetUp();
        SetClock(&clock);
    }

    LatchingPhone* InstallLatchingPhone() {
        auto* phone = new LatchingPhone(phones);
        cc->m_pPhone = phone;
        state.deviceLockDeleted = 0;
        state.devicePresent = 1;
        state.bridgeReady = 1;
        state.attachStatus = ATTACH_SUCCESS;
        state.playerIdle = 1;
        return phone;
    }
    // One pass: whether it ended with the slow pace's pause, how long it paused in all
    // (virtual time), and whether a wake ended a wait of it.
    struct PassWait {
        bool waited;
        uint64_t sleptMs;
        bool woken;
    };
    PassWait OnePass() {
        const uint64_t sleeps = clock.Sleeps();
        const uint64_t slept = clock.TotalSlept();
        const uint64_t woken = clock.WokenWaits();
        EXPECT_TRUE(cc->PhoneEventPass());
        const bool slowPause =
            clock.Sleeps() > sleeps && clock.LastSleepMs() == cc->pace.slowPassMs;
        return {slowPause, clock.TotalSlept() - slept, clock.WokenWaits() > woken};
    }
    PaceClock clock; // hides the fixture's: this one tells the pauses apart

    // Idle on hook, no episode of any kind under way.
    void ResetState() {
        state.offHook = 0;
        state.callState = CALL_IDLE;
        state.ringing = 0;
        state.pstnActive = 0;
        state.voipOnly = 0;
        state.ringSeen = 0;
        state.ringEndTimerArmed = 0;
        state.ringPolls = 0;
        state.busyRingPolls = 0;
        state.lineCheckPending = 0;
        state.lineIdleTimerArmed = 0;
    }
};

TEST_F(IdlePaceTest, SlowOnlyWhileNothingHappens) {
    const unsigned slow = cc->pace.slowPassMs;
    ASSERT_GT(slow, 0u);
    struct Case {
        const char* name;
        std::function<void(BridgeState&, LatchingPhone&)> set;
        bool slowPace;
    };
    const Case cases[] = {
        {"receiver down, idle", [](BridgeState&, LatchingPhone&) {}, true},
        {"receiver up", [](BridgeState& s, LatchingPhone&) { s.offHook = 1; }, false},
        {"Skype call ringing",
         [](BridgeState& s, LatchingPhone&) { s.callState = CALL_RINGING_IN; }, false},
        {"telephone ringing", [](BridgeState& s, LatchingPhone&) { s.ringing = 1; }, false},
        {"call in progress", [](BridgeState& s, LatchingPhone&) { s.callState = CALL_IN_PROGRESS; },
         false},
        {"PSTN line in use",
         [](BridgeState& s, LatchingPhone&) {
             s.callState = CALL_PSTN_OUT;
             s.pstnActive = 1;
             s.lineIdleTimerArmed = 1;
         },
         false},
        {"PSTN ring episode", [](BridgeState& s, LatchingPhone&) { s.ringSeen = 1; }, false},
        {"PSTN episode ending", [](BridgeState& s, LatchingPhone&) { s.ringEndTimerArmed = 1; },
         false},
        {"PSTN line ringing", [](BridgeState&, LatchingPhone& p) { p.pstnRinging = true; }, false},
        {"\"VoIP Only\", idle", [](BridgeState& s, LatchingPhone&) { s.voipOnly = 1; }, true},
        {"phone that forgets unpolled events",
         [](BridgeState&, LatchingPhone& p) { p.latching = false; }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cc = std::make_unique<TestCallControl>(state, window, skype);
        ResetState();
        LatchingPhone* phone = InstallLatchingPhone();
        clock.Advance(60000); // a ringing poll of an earlier case is long past
        c.set(state, *phone);
        const PassWait wait = OnePass();
        EXPECT_EQ(c.slowPace, wait.waited);
        if (c.slowPace) {
            EXPECT_EQ(slow, wait.sleptMs);
        }
        EXPECT_FALSE(wait.woken);
        cc->ReleasePhone();
    }
}

TEST_F(IdlePaceTest, FullPaceForAWhileAfterAnEvent) {
    LatchingPhone* phone = InstallLatchingPhone();
    const unsigned brisk = cc->pace.briskAfterEventMs;
    EXPECT_TRUE(OnePass().waited);
    phone->Press('5');
    EXPECT_FALSE(OnePass().waited); // the pass that found it
    EXPECT_EQ("key53", window.Take());
    clock.Advance(brisk - 1);
    EXPECT_FALSE(OnePass().waited);
    clock.Advance(1);
    EXPECT_TRUE(OnePass().waited);

    // A ringing poll of the PSTN line is an event too, and the ring count keeps the full pace
    // through the silences of the cadence, until the ringing is over for good.
    clock.Advance(cc->pace.slowRingWatchMs); // the ring is looked at again
    phone->pstnRinging = true;
    EXPECT_FALSE(OnePass().waited);
    phone->pstnRinging = false;
    clock.Advance(brisk + 1);
    EXPECT_GT(state.ringPolls.load(), 0);
    EXPECT_FALSE(OnePass().waited);
    clock.Advance(5000);
    EXPECT_TRUE(OnePass().waited);
    cc->ReleasePhone();
}

TEST_F(IdlePaceTest, AtTheSlowPaceTheRingIsWatchedLessOftenThanTheKeys) {
    LatchingPhone* phone = InstallLatchingPhone();
    const unsigned watchMs = cc->pace.slowRingWatchMs;
    ASSERT_GT(watchMs, 2 * cc->pace.slowPassMs);
    OnePass();
    const int polls = phone->polls;
    const int looks = phone->ringLooks;
    const uint64_t start = clock.NowMs();
    int passes = 0;
    while (clock.NowMs() - start < 10 * watchMs) {
        ASSERT_TRUE(OnePass().waited);
        ++passes;
    }
    EXPECT_EQ(passes, phone->polls - polls); // the keys at every pass
    EXPECT_NEAR(10, phone->ringLooks - looks, 1);

    // A line check asked for is made at the next pass; a ring is found within the watch's
    // interval, and from it on every pass watches the line.
    state.lineCheckPending = 1;
    const int before = phone->ringLooks;
    OnePass();
    EXPECT_EQ(before + 1, phone->ringLooks);
    EXPECT_EQ(0, state.lineCheckPending.load());
    phone->pstnRinging = true;
    int waited = 0;
    while (state.ringPolls.load() == 0 && waited < 100) {
        OnePass();
        ++waited;
    }
    EXPECT_EQ(1, state.ringPolls.load());
    EXPECT_LE(static_cast<unsigned>(waited) * cc->pace.slowPassMs, watchMs + cc->pace.slowPassMs);
    const int ringing = phone->ringLooks;
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(OnePass().waited);
    EXPECT_EQ(ringing + 5, phone->ringLooks);
    cc->ReleasePhone();
}

TEST_F(IdlePaceTest, WithNothingToPollTheLoopWaitsUntilWoken) {
    // Each request that makes polling necessary again ends the wait at once; without it the
    // wait lasts its whole bound.
    struct Case {
        const char* name;
        std::function<void(TestCallControl&, BridgeState&)> wake;
    };
    const Case cases[] = {
        {"nothing", [](TestCallControl&, BridgeState&) {}},
        {"the status poll finds the bridge ready",
         [](TestCallControl& c, BridgeState&) { c.OnTimer(TIMER_STATUS_POLL); }},
        {"timer 7 asks for a line check",
         [](TestCallControl& c, BridgeState&) { c.OnTimer(TIMER_PSTN_RING_OVER); }},
        {"a phone is opened",
         [](TestCallControl& c, BridgeState&) {
             c.ReleasePhone();
             ASSERT_EQ(1, c.OpenPhone());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cc = std::make_unique<TestCallControl>(state, window, skype);
        // A phone without a thread of its own, so that this test plays the phone event thread.
        cc->factory = [this](int32_t) { return new TestPhone(phones, false); };
        InstallTestPhone();
        state.bridgeReady = 0; // not ready: nothing to poll
        c.wake(*cc, state);
        // Whatever the waker changed, this pass still finds nothing to poll.
        state.bridgeReady = 0;
        const PassWait wait = OnePass();
        const bool wakes = std::string(c.name) != "nothing";
        EXPECT_EQ(wakes, wait.woken);
        EXPECT_EQ(wakes ? 0u : CallControl::kIdlePauseMs, wait.sleptMs);
        // A wake is used up: the next wait lasts its whole bound.
        EXPECT_EQ(CallControl::kIdlePauseMs, OnePass().sleptMs);
        cc->ReleasePhone();
    }
}

// Real time for the thread's wait, which here would last a minute unless woken; the GUI thread's
// wait for the thread to end is bounded (5 s), so a stop request that does not wake the thread
// leaves it running when shutdown gives up.
class WakeOnlyClock final : public Clock {
  public:
    void Sleep(unsigned ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    uint64_t NowMs() override {
        using namespace std::chrono;
        return static_cast<uint64_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
    bool WaitForWake(WakeSignal& wake, unsigned) override { return wake.WaitFor(60000); }
};

TEST_F(IdlePaceTest, AStopRequestWakesAWaitingThread) {
    WakeOnlyClock wakeOnly;
    SetClock(&wakeOnly);
    for (const char* stop : {"removal", "shutdown"}) {
        SCOPED_TRACE(stop);
        cc = std::make_unique<TestCallControl>(state, window, skype);
        cc->factory = [this](int32_t) { return new TestPhone(phones, true); };
        lab.SetProductId(0x831C);
        ASSERT_EQ(1, cc->OpenPhone());
        ASSERT_EQ(1, cc->m_hThread.load());
        // Bridge not ready: the thread waits.
        if (std::string(stop) == "removal") {
            cc->OnWindowMessage(WMU_DEVICE_REMOVED, 0, 0x831C);
            EXPECT_TRUE(Eventually([&] { return cc->m_hThread.load() == 0; }));
            cc->ShutDownDevice();
        } else {
            cc->ShutDownDevice();
            EXPECT_EQ(0, cc->m_hThread.load()); // ended within shutdown's wait
        }
        EXPECT_EQ(nullptr, cc->m_pPhone.load());
        cc.reset();
    }
    SetClock(&clock);
}

// --- 1000 key presses at the slow pace -------------------------------------------------------

// Virtual time with a timetable: what is due happens when time reaches it, also in the middle of
// a pause or of a request on the modelled bus. Counts the slow pace's pauses.
class TimetableClock final : public Clock {
  public:
    void Sleep(unsigned ms) override {
        if (ms == slowWaitMs) ++slowWaits;
        AdvanceTo(now_ + ms);
    }
    uint64_t NowMs() override { return now_; }
    void At(uint64_t ms, std::function<void()> what) { due_.emplace(ms, std::move(what)); }
    bool Done() const { return due_.empty(); }

    unsigned slowWaitMs = 0;
    int slowWaits = 0;

  private:
    void AdvanceTo(uint64_t t) {
        while (!due_.empty() && due_.begin()->first <= t) {
            now_ = std::max(now_, due_.begin()->first);
            auto what = std::move(due_.begin()->second);
            due_.erase(due_.begin());
            what();
        }
        now_ = t;
    }
    uint64_t now_ = 0;
    std::multimap<uint64_t, std::function<void()>> due_;
};

TEST_F(IdlePaceTest, NoKeyIsLostAtTheSlowPace) {
    TimetableClock timetable;
    SetClock(&timetable);
    lab.SetProductId(0x831C);
    lab.SetLatency(1000, &timetable); // 1 ms per request, as the adapter's bus
    lab.SetCallLimit(64);
    auto* phone = new KwUsbPhone(0);
    phone->Initialize();
    cc->m_pPhone = phone;
    state.deviceLockDeleted = 0;
    state.devicePresent = 1;
    state.bridgeReady = 1;
    state.attachStatus = ATTACH_SUCCESS;
    // The keys are not handed to the GUI thread, so the loop never learns that the receiver is
    // up, and no full pace after an event: every pass runs at the slow pace.
    cc->pace.briskAfterEventMs = 0;
    timetable.slowWaitMs = cc->pace.slowPassMs;

    // The receiver is up; then 1000 key presses at a person's fastest: DTMF digits of 40 ms with
    // 40 ms pauses (a digit every 80 ms at the most) and flashes of 100 ms on hook.
    lab.LiftReceiver();
    std::vector<int8_t> expected = {static_cast<int8_t>(kKeyOffHook)};
    const char digits[] = "0123456789*#";
    std::mt19937 random(20261211);
    uint64_t t = timetable.NowMs() + 500;
    for (int press = 0; press < 1000; ++press) {
        if (random() % 5 == 0) {
            timetable.At(t, [this] { lab.ReplaceReceiver(); });
            timetable.At(t + 100, [this] { lab.LiftReceiver(); });
            expected.push_back(static_cast<int8_t>(kKeyOnHook));
            expected.push_back(static_cast<int8_t>(kKeyOffHook));
            t += 100 + 150 + random() % 200; // nobody dials within 150 ms of a flash
        } else {
            const char key = digits[random() % 12];
            timetable.At(t, [this, key] { lab.PressDtmf(key); });
            expected.push_back(static_cast<int8_t>(key == '*'   ? kKeyStar
                                                   : key == '#' ? kKeyHash
                                                                : static_cast<PhoneKey>(key)));
            t += 80 + random() % 120;
        }
    }
    int passes = 0;
    while (!timetable.Done() || timetable.NowMs() < t + 1000) {
        ASSERT_TRUE(cc->PhoneEventPass());
        ++passes;
    }
    EXPECT_EQ(passes, timetable.slowWaits) << "every pass at the slow pace";
    const std::vector<int8_t> posted = window.TakeKeys();
    EXPECT_EQ(expected.size(), posted.size());
    EXPECT_TRUE(expected == posted) << "keys lost, doubled or out of order";

    lab.SetLatency(0, nullptr);
    cc->ReleasePhone();
    SetClock(&clock);
}

} // namespace
