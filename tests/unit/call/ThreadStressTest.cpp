// The two threads under load: a real phone event thread polls while the GUI thread unplugs and
// replugs the device, resumes from sleep, rings the telephone and switches its line. Whatever the
// interleaving: no data race (the TSan build runs these), every phone released exactly once, the
// device open and polled again at the end, no deadlock, and the GUI thread gets deviceLock within
// a few passes of the loop.
#include "unit/call/CallTestSupport.h"

#include "device/KwUsb2Gateway.h"
#include "device/KwUsbPhone.h"
#include "device/SlicRegisters.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>

namespace {

constexpr int32_t kUsbPhone = 0x831C;
constexpr int32_t kGateway = 0xC39C;
constexpr unsigned WM_POWERBROADCAST_MSG = 0x218;
// Passes of the loop the GUI thread may wait through for deviceLock: the loop stands aside after
// every pass while someone waits, so it gets the lock within one or two; this leaves room for a
// busy machine.
constexpr int kMaxPassesWaited = 5;

// Virtual time, except the 1 ms steps in which the loop stands aside for a lock waiter: those are
// real, so that the waiter really gets to run, as during a real pause.
class StressClock final : public Clock {
  public:
    void Sleep(unsigned ms) override {
        now_ += ms;
        if (ms == 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        else
            std::this_thread::yield();
    }
    uint64_t NowMs() override { return now_; }
    // Time that passes while the loop runs at its full pace, which makes no pause.
    void Advance(uint64_t ms) { now_ += ms; }

  private:
    std::atomic<uint64_t> now_{0};
};

// Ends the run with a message if a scenario hangs for good (a deadlock): a gtest failure could
// never be reported from a thread stuck on a lock.
class Watchdog {
  public:
    Watchdog()
        : thread_([this] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!done_cv_.wait_for(lock, std::chrono::seconds(120), [this] { return done_; })) {
                  std::fprintf(stderr, "ThreadStressTest: no end after 120 s, a deadlock\n");
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        done_cv_.notify_all();
        thread_.join();
    }

  private:
    std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = false;
    std::thread thread_; // last: it uses the members above
};

// A real adapter class whose creations and deletions are counted.
template <class Base> class Counted : public Base {
  public:
    template <class... Args>
    explicit Counted(PhoneRecord& record, Args... args) : Base(args...), record_(record) {
        ++record_.created;
    }
    ~Counted() override { ++record_.deleted; }

  private:
    PhoneRecord& record_;
};

// Holds the phone event thread inside its release of a phone (the switch to the PSTN line, made
// under deviceLock) until the GUI thread lets it go: the GUI thread acts while the release is
// under way.
class ReleaseGate {
  public:
    void Arm() {
        std::lock_guard<std::mutex> lock(mutex_);
        armed_ = true;
        reached_ = false;
        open_ = false;
    }
    void Hold() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!armed_) return;
        armed_ = false;
        reached_ = true;
        cv_.notify_all();
        cv_.wait_for(lock, std::chrono::seconds(60), [this] { return open_; });
    }
    bool Reached() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reached_;
    }
    void Open() {
        std::lock_guard<std::mutex> lock(mutex_);
        armed_ = false;
        open_ = true;
        cv_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool armed_ = false, reached_ = false, open_ = false;
};

class ThreadStressTest : public CallTest {
  protected:
    void SetUp() override {
        CallTest::SetUp();
        SetClock(&stressClock);
        gui = std::this_thread::get_id();
        lab.SetCallLimit(2000);
        lab.SetPostHook([this](const LabPost& post) {
            std::lock_guard<std::mutex> lock(postsMutex);
            posts.push_back(post);
        });
        lab.SetCallHook([this](const LabCall& call) { OnLabCall(call); });
        DevRegisterWindow(kMainWnd);
        state.attachStatus = ATTACH_SUCCESS;
        state.bridgeReady = 1;
        state.playerIdle = 1;
    }
    void TearDown() override {
        cc.reset(); // the thread's last request comes before the hooks go
        lab.SetCallHook(nullptr);
        lab.SetPostHook(nullptr);
        EXPECT_LE(maxPassesWaited, kMaxPassesWaited);
        CallTest::TearDown();
    }

    // Every library call, on whichever thread made it.
    void OnLabCall(const LabCall& call) {
        const bool onGui = std::this_thread::get_id() == gui;
        if (recording) {
            std::lock_guard<std::mutex> lock(ownersMutex);
            owners.emplace_back(call.index, onGui);
        }
        if (call.code == VC_SELECT_LINE && call.param == kLinePstn) ++pstnLineRequests;
        if (onGui) return;
        // The PSTN watch reads the line's status once at the start of each pass.
        if (call.target == LabTarget::Bridge && !call.write && call.reg == BRIDGE_PSTN_STATUS)
            PassBegins();
        if (call.unplugged) ++failedOnThread;
        // The device goes between two requests of the thread's pass.
        if (unplugAfter.load() > 0 && unplugAfter.fetch_sub(1) == 1) lab.Unplug();
    }

    // Hands the lab's arrival and removal posts to the window, as the message loop does.
    void DeliverPosts() {
        std::vector<LabPost> now;
        {
            std::lock_guard<std::mutex> lock(postsMutex);
            now.swap(posts);
        }
        for (const LabPost& p : now)
            cc->OnWindowMessage(p.message, p.wParam, p.lParam);
    }
    void Unplug() {
        lab.Unplug();
        DeliverPosts();
    }
    void Plug() {
        lab.Plug();
        DeliverPosts();
    }

    // On the phone event thread, holding deviceLock.
    void PassBegins() {
        ++passes;
        if (DeviceLockWaiters() > 0) ++passesBegunWhileWaited;
    }

    // Takes deviceLock as a GUI handler does and notes how many passes the loop began while the
    // GUI thread waited for it.
    void GuiTakesLock() {
        const int before = passesBegunWhileWaited;
        DeviceLockGuard hold;
        maxPassesWaited = std::max(maxPassesWaited, passesBegunWhileWaited - before);
    }

    // Runs a GUI handler that makes one device operation; its requests must come as one run, with
    // none of the phone event thread's in between.
    void OneOperation(const std::function<void()>& handler, size_t minRequests = 1) {
        {
            std::lock_guard<std::mutex> lock(ownersMutex);
            owners.clear();
        }
        recording = true;
        handler();
        recording = false;
        std::lock_guard<std::mutex> lock(ownersMutex);
        std::sort(owners.begin(), owners.end());
        size_t first = owners.size(), last = 0, made = 0;
        for (size_t i = 0; i < owners.size(); ++i) {
            if (!owners[i].second) continue;
            first = std::min(first, i);
            last = i;
            ++made;
        }
        ASSERT_GE(made, minRequests);
        EXPECT_EQ(last - first + 1, made) << "the phone event thread's requests in between";
    }

    // Fires timer 2 for as long as it is armed, as the window would: it arms itself again while
    // the old thread is still releasing.
    void FinishOpening() {
        ASSERT_TRUE(Eventually([&] {
            if (window.Armed(TIMER_OPEN_PHONE)) cc->OnTimer(TIMER_OPEN_PHONE);
            return !window.Armed(TIMER_OPEN_PHONE);
        }));
    }

    // Waits for the loop to post a key; the keys posted before it are dropped.
    bool KeyPosted(PhoneKey key) {
        return Eventually([&] {
            for (int8_t k : window.TakeKeys())
                if (k == static_cast<int8_t>(key)) return true;
            return false;
        });
    }

    // The device is open, its thread polls, and nothing is left over from a release.
    void ExpectOpenAndPolled(int32_t productId) {
        EXPECT_NE(cc->m_pPhone.load(), nullptr);
        EXPECT_EQ(cc->m_hThread.load(), 1);
        EXPECT_EQ(cc->m_bReleaseOnStop.load(), 0);
        EXPECT_EQ(cc->m_nProductId.load(), productId);
        EXPECT_EQ(state.devicePresent.load(), 1);
        EXPECT_FALSE(window.Armed(TIMER_OPEN_PHONE));
        EXPECT_TRUE(lab.Opened());
        EXPECT_EQ(lab.SelectedLine(), kLineComputer);
        const int now = passes;
        EXPECT_TRUE(Eventually([&] { return passes > now + 2; })) << "not polled";
    }

    template <class Phone, class... Args> void UseCountedPhones(Args... args) {
        cc->factory = [this, args...](int32_t) { return new Counted<Phone>(phones, args...); };
    }

    Watchdog watchdog;
    StressClock stressClock;
    std::thread::id gui;
    std::mutex postsMutex;
    std::vector<LabPost> posts;
    std::atomic<int> passes{0};
    std::atomic<int> passesBegunWhileWaited{0};
    std::atomic<int> failedOnThread{0};
    std::atomic<int> pstnLineRequests{0};
    std::atomic<int> unplugAfter{0};
    std::atomic<bool> recording{false};
    std::mutex ownersMutex;
    std::vector<std::pair<int, bool>> owners; // (request index, made on the GUI thread)
    int maxPassesWaited = 0;
};

// The adapter goes between two requests of a pass, while the GUI thread goes on using the phone
// before it hears of the removal: the thread's requests fail, the removal reaches the window, and
// the old thread releases its phone. The device comes back before or after that release is done,
// or even before the window has heard of the removal.
TEST_F(ThreadStressTest, UnplugDuringAPass) {
    lab.SetProductId(kUsbPhone);
    UseCountedPhones<KwUsbPhone>(0);
    ASSERT_EQ(cc->OpenPhone(), 1);

    constexpr int kRounds = 24;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        const int call = round % 3;   // 0 none, 1 a call in progress, 2 a call ringing in
        const int replug = round % 4; // 0 after the release, 1 during it, 2 before the window
                                      // hears of the removal, 3 after the release and a resume
        const int passesBefore = passes;
        ASSERT_TRUE(Eventually([&] { return passes > passesBefore + 2; }));
        // A new call each round: one that was hung up stays ended.
        const std::string id = std::to_string(100 + round);
        if (call == 1) cc->OnSkypeNotification(("CALL " + id + " STATUS INPROGRESS").c_str());
        if (call == 2) {
            cc->OnSkypeNotification(("CALL " + id + " STATUS RINGING").c_str());
            cc->OnTimer(TIMER_RING_OFF);
        }
        skype.Take();
        const int failedBefore = failedOnThread;
        const int pstnBefore = pstnLineRequests;

        unplugAfter = 1 + round % 5;
        ASSERT_TRUE(Eventually([&] { return !lab.Plugged(); }));
        // The window has not heard yet: the GUI thread rings, checks the line and resumes the
        // phone against a device that answers nothing.
        if (call == 2) cc->OnTimer(TIMER_RING_ON);
        cc->OnTimer(TIMER_STATUS_POLL);
        cc->OnWindowMessage(WM_POWERBROADCAST_MSG, 18, 0);
        GuiTakesLock();
        ASSERT_TRUE(Eventually([&] { return failedOnThread > failedBefore; }));

        if (replug == 2) lab.Plug(); // both posts wait in the queue, the removal first
        DeliverPosts();
        EXPECT_EQ(skype.Take(), call == 1 ? "send:SET CALL " + id + " STATUS FINISHED" : "");
        EXPECT_EQ(state.callState.load(), CALL_IDLE);
        EXPECT_EQ(state.ringing.load(), 0);
        if (replug != 1) {
            ASSERT_TRUE(Eventually([&] { return cc->m_hThread.load() == 0; }));
            EXPECT_EQ(cc->m_pPhone.load(), nullptr);
            EXPECT_EQ(phones.deleted.load(), round + 1);
        }
        if (replug == 3) cc->OnWindowMessage(WM_POWERBROADCAST_MSG, 7, 0); // no phone: nothing
        if (replug != 2) Plug();
        FinishOpening();
        cc->OnTimer(TIMER_STATUS_POLL); // the line answers again: the bridge is ready

        EXPECT_EQ(phones.created.load(), round + 2);
        EXPECT_EQ(phones.deleted.load(), round + 1);
        EXPECT_EQ(pstnLineRequests - pstnBefore, 1) << "one release, one switch to the PSTN line";
        ExpectOpenAndPolled(kUsbPhone);
        GuiTakesLock();
    }

    // The last phone works: the loop reads its hook.
    window.TakeKeys();
    lab.LiftReceiver();
    EXPECT_TRUE(KeyPosted(kKeyOffHook));
    lab.ReplaceReceiver();
    EXPECT_TRUE(KeyPosted(kKeyOnHook));

    cc->ShutDownDevice();
    EXPECT_EQ(phones.deleted.load(), kRounds + 1);
}

// A scripted phone whose release waits at the gate while the phone event thread makes it; its
// PSTN watch tells when a pass begins.
class GatedPhone : public TestPhone {
  public:
    GatedPhone(PhoneRecord& record, ReleaseGate& gate, std::function<void()> passBegins,
               std::thread::id gui)
        : TestPhone(record), gate_(gate), passBegins_(std::move(passBegins)), gui_(gui) {}
    int IsPstnRinging() override {
        DeviceLockGuard hold;
        passBegins_();
        return TestPhone::IsPstnRinging();
    }

  protected:
    void OnLineMode(int line) override {
        TestPhone::OnLineMode(line);
        if (line == kLinePstn && std::this_thread::get_id() != gui_) gate_.Hold();
    }

  private:
    ReleaseGate& gate_;
    const std::function<void()> passBegins_;
    const std::thread::id gui_;
};

// The device is back while the old thread is still releasing its phone: arrivals, timer 2 and
// further unplugs meet the release in every order (P plug, U unplug, T timer 2 when armed, G the
// release goes on). Rounds without the gate let the release race the replug freely.
TEST_F(ThreadStressTest, ReplugWhileReleasing) {
    ReleaseGate gate;
    TestPhone* current = nullptr;
    cc->factory = [&](int32_t) {
        current = new GatedPhone(
            phones, gate, [this] { PassBegins(); }, gui);
        return current;
    };
    lab.SetProductId(kUsbPhone);
    ASSERT_EQ(cc->OpenPhone(), 1);

    // "" is a round without the gate.
    const char* const orders[] = {"PT",   "PTT",   "PPT",  "GPT", "PGT",
                                  "PTGT", "PTUPT", "PUPT", "UPT", ""};
    constexpr int kRepeats = 6;
    int round = 0;
    for (int repeat = 0; repeat < kRepeats; ++repeat) {
        for (const char* order : orders) {
            SCOPED_TRACE(*order ? order : "free");
            const bool gated = *order != '\0';
            const int polls = current->polls;
            ASSERT_TRUE(Eventually([&] { return current->polls > polls + 2; }));
            const int pstnBefore = pstnLineRequests;
            if (gated) gate.Arm();
            Unplug();
            if (gated) {
                // The thread holds deviceLock at the gate: nothing here may take it.
                ASSERT_TRUE(Eventually([&] { return gate.Reached(); }));
                for (const char* step = order; *step != '\0'; ++step) {
                    switch (*step) {
                    case 'P': Plug(); break;
                    case 'U': Unplug(); break;
                    case 'T':
                        if (window.Armed(TIMER_OPEN_PHONE)) cc->OnTimer(TIMER_OPEN_PHONE);
                        break;
                    case 'G':
                        gate.Open();
                        ASSERT_TRUE(Eventually([&] { return cc->m_hThread.load() == 0; }));
                        break;
                    }
                }
                gate.Open();
            }
            if (!lab.Plugged()) Plug();
            FinishOpening();

            ++round;
            EXPECT_EQ(phones.created.load(), round + 1);
            EXPECT_EQ(phones.deleted.load(), round);
            EXPECT_EQ(pstnLineRequests - pstnBefore, 1)
                << "one release, one switch to the PSTN line";
            ExpectOpenAndPolled(kUsbPhone);
            GuiTakesLock();
        }
    }
    EXPECT_EQ(phones.usedAfterDelete.load(), 0);
    cc->ShutDownDevice();
    EXPECT_EQ(phones.deleted.load(), phones.created.load());
}

// Resume from sleep: the automatic resume (18) alone, followed by the user's (7), or the resume
// from a critical suspend (6), sometimes with the line chip reset by the sleep, so that the
// thread's poll sets the adapter up as well (alone, in the rounds without a resume). Each bring-up
// runs whole under deviceLock while the thread polls; afterwards the adapter reports its hook.
TEST_F(ThreadStressTest, ResumeFromSleepWhilePolling) {
    lab.SetProductId(kUsbPhone);
    UseCountedPhones<KwUsbPhone>(0);
    ASSERT_EQ(cc->OpenPhone(), 1);

    struct Round {
        bool chipReset;
        std::vector<uintptr_t> events;
    };
    const Round rounds[] = {{false, {18}},   {false, {18, 7}}, {false, {6}}, {true, {18}},
                            {true, {18, 7}}, {true, {6}},      {true, {}}};
    for (int repeat = 0; repeat < 3; ++repeat) {
        for (const Round& r : rounds) {
            std::string trace = r.chipReset ? "reset" : "";
            for (uintptr_t event : r.events)
                trace += " " + std::to_string(event);
            SCOPED_TRACE(trace);
            const int passesBefore = passes;
            ASSERT_TRUE(Eventually([&] { return passes > passesBefore + 2; }));
            if (r.chipReset) lab.ResetSlic();
            for (uintptr_t event : r.events) {
                OneOperation([&] { cc->OnWindowMessage(WM_POWERBROADCAST_MSG, event, 0); }, 100);
                GuiTakesLock();
                cc->OnTimer(TIMER_STATUS_POLL);
            }
            if (r.events.empty()) {
                // The poll finds the chip reset and sets it up again at its next look for a reset
                // (once a second of clock time while the chip was working). Not lifted before:
                // the bring-up clears the pending interrupts, so a hook change during it is never
                // reported. Its last line-chip write enables the hook interrupts.
                ASSERT_TRUE(Eventually([&] {
                    stressClock.Advance(10);
                    return lab.SlicDirect(SLIC_IRQ_ENABLE2) == 3;
                }));
            }
            window.TakeKeys();
            lab.LiftReceiver();
            EXPECT_TRUE(KeyPosted(kKeyOffHook));
            lab.ReplaceReceiver();
            EXPECT_TRUE(KeyPosted(kKeyOnHook));
        }
    }
    EXPECT_EQ(phones.created.load(), 1);
    EXPECT_EQ(phones.deleted.load(), 0);
    ExpectOpenAndPolled(kUsbPhone);
    cc->ShutDownDevice();
    EXPECT_EQ(phones.deleted.load(), 1);
}

// The GUI thread rings the telephone, answers and hangs up, takes the PSTN line and gives it back,
// while the thread polls keys and watches the PSTN line of a gateway, and switches the line
// itself for a ringing PSTN call.
TEST_F(ThreadStressTest, RingingAndLineSwitchingDuringPasses) {
    lab.SetProductId(kGateway);
    UseCountedPhones<KwUsb2Gateway>();
    ASSERT_EQ(cc->OpenPhone(), 1);
    // Timers fire once the thread has gone on past arming them, as a real timer fires a second
    // later.
    auto fireWhenArmed = [&](unsigned id, const std::atomic<uint8_t>* armedFlag) {
        ASSERT_TRUE(Eventually([&] {
            return window.Armed(id) && (armedFlag == nullptr || *armedFlag == 1);
        })) << "timer "
            << id;
        cc->OnTimer(id);
    };
    auto deliverKey = [&](PhoneKey key) {
        ASSERT_TRUE(KeyPosted(key));
        cc->OnPhoneKey(key);
    };
    auto ringCadence = [&](int cycles) {
        for (int i = 0; i < cycles; ++i) {
            OneOperation([&] { cc->OnTimer(TIMER_RING_OFF); });
            GuiTakesLock();
            OneOperation([&] { cc->OnTimer(TIMER_RING_ON); });
        }
    };

    constexpr int kRounds = 24;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        const std::string id = std::to_string(100 + round);
        const std::string status = "CALL " + id + " STATUS ";
        const int passesBefore = passes;
        ASSERT_TRUE(Eventually([&] { return passes > passesBefore + 2; }));
        window.TakeKeys();
        skype.Take();
        switch (round % 4) {
        case 0: // a Skype call rings and is missed
            cc->OnSkypeNotification((status + "RINGING").c_str());
            ringCadence(3);
            cc->OnSkypeNotification((status + "MISSED").c_str());
            break;
        case 1: // a Skype call rings, is answered and hung up
            cc->OnSkypeNotification((status + "RINGING").c_str());
            ringCadence(1);
            lab.LiftReceiver();
            deliverKey(kKeyOffHook);
            cc->OnSkypeNotification((status + "INPROGRESS").c_str());
            lab.ReplaceReceiver();
            deliverKey(kKeyOnHook);
            cc->OnSkypeNotification((status + "FINISHED").c_str());
            EXPECT_EQ(skype.Take(), "send:SET CALL " + id + " STATUS INPROGRESS | send:SET CALL " +
                                        id + " STATUS FINISHED");
            break;
        case 2: // the user takes the PSTN line, calls, hangs up: back to the computer
            lab.LiftReceiver();
            deliverKey(kKeyOffHook);
            cc->OnPhoneKey(kKeyHash);
            EXPECT_EQ(state.pstnActive.load(), 1);
            EXPECT_EQ(lab.SelectedLine(), kLinePstn);
            GuiTakesLock();
            lab.ReplaceReceiver();
            fireWhenArmed(TIMER_PSTN_LINE_IDLE, &state.lineIdleTimerArmed);
            deliverKey(kKeyOnHook);
            break;
        case 3: // a PSTN call rings: the thread switches the line; a Skype call meanwhile is
                // turned away
            lab.SetPstnRinging(true);
            ASSERT_TRUE(Eventually([&] { return state.pstnActive.load() == 1; }));
            EXPECT_EQ(state.callState.load(), CALL_PSTN_IN);
            lab.LiftReceiver();
            cc->OnSkypeNotification((status + "RINGING").c_str());
            EXPECT_EQ(skype.Take(), "reply | send:SET CALL " + id + " STATUS FINISHED");
            lab.SetPstnRinging(false);
            GuiTakesLock();
            fireWhenArmed(TIMER_PSTN_RING_OVER, nullptr);
            lab.ReplaceReceiver();
            fireWhenArmed(TIMER_PSTN_LINE_IDLE, &state.lineIdleTimerArmed);
            break;
        }
        EXPECT_EQ(state.callState.load(), CALL_IDLE);
        EXPECT_EQ(state.pstnActive.load(), 0);
        EXPECT_EQ(state.ringing.load(), 0);
        EXPECT_FALSE(lab.Ringing());
        EXPECT_EQ(lab.SelectedLine(), kLineComputer);
        GuiTakesLock();
    }
    EXPECT_EQ(phones.created.load(), 1);
    ExpectOpenAndPolled(kGateway);
    cc->ShutDownDevice();
    EXPECT_EQ(phones.deleted.load(), 1);
}

} // namespace
