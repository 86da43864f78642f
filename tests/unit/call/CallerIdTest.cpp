// Caller ID in call control: the questions about the caller, where the signal goes in the ring
// cadence, what ends it, the handset's display, and Off leaving everything as it was. Virtual
// time; the main window's timers fire in the order they fall due.
#include "unit/call/CallTestSupport.h"

#include "callerid/Caller.h"
#include "callerid/CallerIdSignal.h"
#include "playback/WaveOut.h"

#include <optional>

namespace {

// What reached the telephone and the sound device, each with its clock time: "4000 ring1".
struct Timeline {
    std::vector<std::string> events;
    void Log(const std::string& what) {
        events.push_back(std::to_string(GetClock().NowMs()) + " " + what);
    }
    std::string Take() {
        std::string out = JoinWords(events);
        events.clear();
        return out;
    }
};

class FakeWaveOut : public WaveOutPort {
  public:
    explicit FakeWaveOut(Timeline& timeline) : timeline_(timeline) {}
    bool Play(unsigned device, const int16_t* samples, size_t count, uintptr_t window) override {
        timeline_.Log("play" + std::to_string(device));
        played.assign(samples, samples + count);
        notifyWindow = window;
        playing = accept;
        return accept;
    }
    void Stop() override {
        if (!playing) return;
        playing = false;
        timeline_.Log("stop");
    }
    bool IsCurrent(uintptr_t handle) override { return playing && handle == kHandle; }

    static constexpr uintptr_t kHandle = 0x77;
    bool accept = true;
    bool playing = false;
    uintptr_t notifyWindow = 0;
    std::vector<int16_t> played;

  private:
    Timeline& timeline_;
};

// A telephone as caller ID sees it: an analogue one (on-hook transmission) or one with a
// display, or neither.
class CidPhone : public TestPhone {
  public:
    CidPhone(PhoneRecord& record, Timeline& timeline, bool analogue, bool display)
        : TestPhone(record), timeline_(timeline), analogue_(analogue), display_(display) {}
    int SetRinging(int on) override {
        timeline_.Log(on ? "ring1" : "ring0");
        return TestPhone::SetRinging(on);
    }
    int HasSlic() override { return analogue_ ? 1 : 0; }
    int SetOnHookTransmission(int on) override {
        DeviceLockGuard hold;
        if (!analogue_) return 0;
        timeline_.Log(on ? "tx1" : "tx0");
        return 1;
    }
    bool ShowsCallerNumber() override { return display_; }
    int ShowCallerNumber(const char* digits) override {
        DeviceLockGuard hold;
        if (!display_) return 0;
        timeline_.Log(std::string("show:") + digits);
        return 1;
    }

  private:
    Timeline& timeline_;
    const bool analogue_, display_;
};

class CallerIdTest : public CallTest {
  protected:
    void SetUp() override {
        CallTest::SetUp();
        SetWaveOutPort(&waveOut);
    }
    void TearDown() override {
        SetWaveOutPort(nullptr);
        CallTest::TearDown();
    }
    CidPhone* Install(bool analogue = true, bool display = false) {
        auto* phone = new CidPhone(phones, timeline, analogue, display);
        cc->m_pPhone = phone;
        state.deviceLockDeleted = 0;
        state.devicePresent = 1;
        state.bridgeReady = 1;
        state.attachStatus = ATTACH_SUCCESS;
        state.promptDevice = 2; // the adapter's own sound device
        return phone;
    }
    // Fires the window's timers in the order they fall due, up to ms from now.
    void RunFor(uint64_t ms) {
        const uint64_t end = clock.NowMs() + ms;
        unsigned id;
        uint64_t at;
        while (window.NextDue(id, at) && at <= end) {
            clock.Advance(at - clock.NowMs());
            cc->OnTimer(id);
        }
        clock.Advance(end - clock.NowMs());
    }
    void Note(const std::string& text) { cc->OnSkypeNotification(text.c_str()); }
    // Skype answers both questions as soon as they are asked (inside the send).
    void AnswerAtOnce(const std::string& handle, const std::string& name,
                      const std::string& id = "12") {
        skype.onSend = [this, handle, name, id] {
            const std::string command = state.commandText;
            if (command == "GET CALL " + id + " PARTNER_HANDLE")
                Note("CALL " + id + " PARTNER_HANDLE " + handle);
            if (command == "GET CALL " + id + " PARTNER_DISPNAME")
                Note("CALL " + id + " PARTNER_DISPNAME " + name);
        };
    }
    // Kills every armed timer: a run that starts afresh.
    void KillAllTimers() {
        unsigned id;
        uint64_t at;
        while (window.NextDue(id, at))
            window.KillTimer(id);
    }
    static std::vector<int16_t> Pcm(CallerIdStandard standard,
                                    const std::optional<std::string>& handle,
                                    const std::optional<std::string>& name) {
        return MakeCallerIdSignal(standard, WhoIsCalling(handle, name), nullptr).pcm;
    }
    static unsigned DurationMs(CallerIdStandard standard, const std::optional<std::string>& handle,
                               const std::optional<std::string>& name) {
        return MakeCallerIdSignal(standard, WhoIsCalling(handle, name), nullptr).durationMs;
    }
    static std::string At(uint64_t ms, const std::string& what) {
        return std::to_string(ms) + " " + what;
    }

    Timeline timeline;
    FakeWaveOut waveOut{timeline};
};

constexpr char kQuestions[] = "send:GET CALL 12 PARTNER_HANDLE | send:GET CALL 12 PARTNER_DISPNAME";

TEST_F(CallerIdTest, AsksAboutTheCallerOnlyWhenSomethingUsesTheAnswer) {
    const struct {
        const char* situation;
        CallerIdStandard standard;
        bool analogue, display, offHook;
        bool asks;
    } kCases[] = {
        {"analogue, Off", CallerIdStandard::Off, true, false, false, false},
        {"analogue, Bell 202", CallerIdStandard::Bell202, true, false, false, true},
        {"analogue, ETSI", CallerIdStandard::EtsiFsk, true, false, false, true},
        {"analogue, DTMF", CallerIdStandard::Dtmf, true, false, false, true},
        {"analogue, receiver up", CallerIdStandard::Bell202, true, false, true, false},
        {"neither analogue nor display", CallerIdStandard::Dtmf, false, false, false, false},
        {"handset display, Off", CallerIdStandard::Off, false, true, true, true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.situation);
        Install(c.analogue, c.display);
        cc->callerIdStandard = c.standard;
        state.offHook = c.offHook ? 1 : 0;
        skype.Take();
        Note("CALL 12 STATUS RINGING");
        EXPECT_EQ(CALL_RINGING_IN, state.callState.load());
        EXPECT_EQ(c.asks ? kQuestions : "", skype.Take());
        Note("CALL 12 STATUS FINISHED");
        cc->ReleasePhone();
        timeline.Take();
    }
}

// Off against a telephone that has no caller ID at all: the same requests, in the same order,
// at the same times, even when answers about the caller arrive.
TEST_F(CallerIdTest, OffChangesNothingOnTheWireOrAtTheDevice) {
    std::string runs[2];
    for (int run = 0; run < 2; ++run) {
        if (run == 0)
            InstallTestPhone();
        else
            Install(true, false);
        state.promptDevice = 2;
        state.iconFrame = 0;
        KillAllTimers();
        cc->callerIdStandard = CallerIdStandard::Off;
        window.Take();
        skype.Take();
        phones.Take();
        const uint64_t start = clock.NowMs();
        Note("CALL 12 STATUS RINGING");
        Note("CALL 12 PARTNER_HANDLE +4930123456");
        Note("CALL 12 PARTNER_DISPNAME Anna");
        RunFor(9500);
        cc->OnWindowMessage(WMU_PHONE_KEY, PHONE_KEY_EVENT, kKeyOffHook);
        Note("CALL 12 STATUS INPROGRESS");
        RunFor(2000);
        Note("CALL 12 STATUS FINISHED");
        runs[run] = "window: " + window.Take() + "\nskype: " + skype.Take() +
                    "\nphone: " + phones.Take() +
                    "\nsince start: " + std::to_string(clock.NowMs() - start);
        EXPECT_TRUE(waveOut.played.empty());
        EXPECT_EQ(std::string::npos, timeline.Take().find("tx")) << "line feed left alone";
        cc->ReleasePhone();
        state.offHook = 0;
    }
    EXPECT_EQ(runs[0], runs[1]);
}

TEST_F(CallerIdTest, AnswersCountOnlyForTheCallAskedAboutWhileItRings) {
    Install();
    cc->callerIdStandard = CallerIdStandard::EtsiFsk;
    Note("CALL 12 STATUS RINGING");
    for (const char* stray : {
             "CALL 13 PARTNER_HANDLE +4911111",       // another call
             "CALL 12 PARTNER_HANDLEX +4922222",      // another property
             "CALL 123456789 PARTNER_HANDLE +493333", // an id that does not fit
             "CALL 12 STATUS PARTNER_HANDLE +4944444",
         })
        Note(stray);
    EXPECT_EQ(CALL_RINGING_IN, state.callState.load());
    Note("CALL 12 PARTNER_HANDLE +49 30 1234-5");
    // A name is never a status, and a long one is bounded, then trimmed.
    const std::string name = "x STATUS FINISHED " + std::string(300, 'W');
    Note("CALL 12 PARTNER_DISPNAME " + name);
    EXPECT_EQ(CALL_RINGING_IN, state.callState.load());
    RunFor(4000);
    EXPECT_EQ(Pcm(CallerIdStandard::EtsiFsk, std::string("+49 30 1234-5"), name), waveOut.played);

    // After the call has ended, answers change nothing, also for the next call.
    Note("CALL 12 STATUS FINISHED");
    Note("CALL 12 PARTNER_HANDLE +4944444");
    waveOut.played.clear();
    cc->callerIdStandard = CallerIdStandard::Dtmf;
    AnswerAtOnce("", "", "14"); // inside the sends: withheld
    Note("CALL 14 STATUS RINGING");
    skype.onSend = nullptr;
    Note("CALL 12 PARTNER_HANDLE +4955555");
    Note("CALL 14 PARTNER_HANDLE +4966666"); // after the decision
    RunFor(4000);
    EXPECT_EQ(Pcm(CallerIdStandard::Dtmf, std::string(), std::string()), waveOut.played);
    EXPECT_NE(Pcm(CallerIdStandard::Dtmf, std::nullopt, std::nullopt), waveOut.played);
}

TEST_F(CallerIdTest, Bell202LengthensOnlyTheFirstPause) {
    Install();
    cc->callerIdStandard = CallerIdStandard::Bell202;
    const std::string handle = "+12125551234", name = "Anna Example";
    AnswerAtOnce(handle, name);
    Note("CALL 12 STATUS RINGING");
    const unsigned data = DurationMs(CallerIdStandard::Bell202, handle, name);
    const unsigned pause = data > kRingOnMs ? data : kRingOnMs;
    RunFor(7000);
    EXPECT_EQ(JoinWords({At(3000, "ring0"), At(4000, "ring1"), At(7000, "ring0"), At(7000, "tx1"),
                         At(7000, "play2")}),
              timeline.Take());
    EXPECT_EQ(Pcm(CallerIdStandard::Bell202, handle, name), waveOut.played);
    EXPECT_EQ(kMainWnd, waveOut.notifyWindow);

    // The device says it has played: the line feed goes back before the next ring.
    const uint64_t played = 7000 + data;
    RunFor(played - 1 - clock.NowMs());
    clock.Advance(1); // the notice comes before the ring tick of the same moment
    cc->OnWindowMessage(kWaveOutDoneMessage, FakeWaveOut::kHandle, 0);
    EXPECT_EQ(JoinWords({At(played, "stop"), At(played, "tx0")}), timeline.Take());
    cc->OnWindowMessage(kWaveOutDoneMessage, FakeWaveOut::kHandle, 0); // a second notice
    EXPECT_EQ("", timeline.Take());

    const uint64_t ring2 = 7000 + pause;
    RunFor(ring2 + 8000 - clock.NowMs());
    EXPECT_EQ(JoinWords({At(ring2, "ring1"), At(ring2 + 3000, "ring0"), At(ring2 + 4000, "ring1"),
                         At(ring2 + 7000, "ring0"), At(ring2 + 8000, "ring1")}),
              timeline.Take());
}

// A device may report the samples done once they sit in its buffer: the line feed goes back
// at the notice, but never before the signal's own end; a notice of another playback is none.
TEST_F(CallerIdTest, ThePlayedNoticeEndsTheDataNoEarlierThanItsLength) {
    const struct {
        const char* situation;
        unsigned beforeEnd; // ms
        uintptr_t handle;
        const char* now;    // what happens at the notice
        const char* window; // and at the window's timers
    } kCases[] = {
        {"early", 400, FakeWaveOut::kHandle, "", "arm12:400"},
        {"at the end", 0, FakeWaveOut::kHandle, "stop tx0", "kill12"},
        {"another playback's", 400, FakeWaveOut::kHandle + 1, "", ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.situation);
        Install();
        cc->callerIdStandard = CallerIdStandard::Bell202;
        Note("CALL 12 STATUS RINGING");
        RunFor(7000);
        ASSERT_TRUE(waveOut.playing);
        const unsigned data = DurationMs(CallerIdStandard::Bell202, std::nullopt, std::nullopt);
        RunFor(data - c.beforeEnd - 1);
        clock.Advance(1); // before any timer of that moment
        timeline.Take();
        window.Take();
        cc->OnWindowMessage(kWaveOutDoneMessage, c.handle, 0);
        std::string now;
        for (const std::string& e : timeline.events)
            now += (now.empty() ? "" : " ") + e.substr(e.find(' ') + 1);
        timeline.Take();
        EXPECT_EQ(c.now, now);
        EXPECT_EQ(c.window, window.Take());
        Note("CALL 12 STATUS FINISHED");
        cc->ReleasePhone();
        timeline.Take();
    }
}

TEST_F(CallerIdTest, Bell202WithoutAnyNoticeEndsAtTheNextRing) {
    Install();
    cc->callerIdStandard = CallerIdStandard::Bell202;
    Note("CALL 12 STATUS RINGING"); // Skype never answers
    RunFor(7000);
    const unsigned data = DurationMs(CallerIdStandard::Bell202, std::nullopt, std::nullopt);
    const uint64_t ring2 = 7000 + (data > kRingOnMs ? data : kRingOnMs);
    RunFor(ring2 - clock.NowMs());
    EXPECT_EQ(Pcm(CallerIdStandard::Bell202, std::nullopt, std::nullopt), waveOut.played);
    EXPECT_EQ(
        JoinWords({At(3000, "ring0"), At(4000, "ring1"), At(7000, "ring0"), At(7000, "tx1"),
                   At(7000, "play2"), At(ring2, "stop"), At(ring2, "tx0"), At(ring2, "ring1")}),
        timeline.Take());
}

TEST_F(CallerIdTest, EtsiAndDtmfEndAsTheFirstRingBeginsWhichIsNotDelayed) {
    const struct {
        CallerIdStandard standard;
        bool answered; // else Skype never answers and the wait decides
    } kCases[] = {
        {CallerIdStandard::EtsiFsk, true},
        {CallerIdStandard::EtsiFsk, false},
        {CallerIdStandard::Dtmf, true},
        {CallerIdStandard::Dtmf, false},
    };
    const std::string handle = "+4930123456789012345", name = "Zoe ~!@#$%^&*()_+{}|:<>?";
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(CallerIdStandardName(c.standard)) + (c.answered ? "" : " late"));
        Install();
        cc->callerIdStandard = c.standard;
        skype.onSend = nullptr;
        if (c.answered) AnswerAtOnce(handle, name);
        const uint64_t t0 = clock.NowMs();
        Note("CALL 12 STATUS RINGING");
        const std::optional<std::string> h =
            c.answered ? std::optional<std::string>(handle) : std::nullopt;
        const std::optional<std::string> n =
            c.answered ? std::optional<std::string>(name) : std::nullopt;
        const unsigned data = DurationMs(c.standard, h, n);
        ASSERT_LE(data + (c.answered ? 0 : CallerIdAnswerWaitMs(c.standard)), kFirstRingMs);
        const uint64_t start = t0 + kFirstRingMs - data;
        RunFor(t0 + 4100 - clock.NowMs());
        // The ring-off tick at 3 s, with no ring on, leaves the data's line feed alone; the
        // first ring comes on time, as the data ends.
        const uint64_t ring = t0 + kFirstRingMs;
        std::vector<std::string> expected = {At(start, "tx1"), At(start, "play2"), At(ring, "stop"),
                                             At(ring, "tx0"), At(ring, "ring1")};
        if (start > t0 + 3000) expected.insert(expected.begin(), At(t0 + 3000, "ring0"));
        EXPECT_EQ(JoinWords(expected), timeline.Take());
        EXPECT_EQ(Pcm(c.standard, h, n), waveOut.played);
        Note("CALL 12 STATUS FINISHED");
        cc->ReleasePhone();
        timeline.Take();
        phones.Take();
    }
}

// Answers that come late, yet while the longest signal could still end before the first ring,
// are in the data; later ones find it decided, and it goes out without them.
TEST_F(CallerIdTest, LateAnswersCountUntilTheLongestSignalWouldNoLongerFit) {
    const std::string handle = "+4930123456", name = "Alice Example";
    for (CallerIdStandard standard : {CallerIdStandard::EtsiFsk, CallerIdStandard::Dtmf}) {
        const unsigned wait = CallerIdAnswerWaitMs(standard);
        SCOPED_TRACE(std::string(CallerIdStandardName(standard)) + " waits " +
                     std::to_string(wait) + " ms");
        ASSERT_LE(wait + LongestCallerIdMs(standard), kFirstRingMs);
        for (bool inTime : {true, false}) {
            Install();
            cc->callerIdStandard = standard;
            skype.onSend = nullptr;
            Note("CALL 12 STATUS RINGING");
            RunFor(inTime ? wait - 1 : wait);
            Note("CALL 12 PARTNER_HANDLE " + handle);
            Note("CALL 12 PARTNER_DISPNAME " + name);
            RunFor(kFirstRingMs + 100 - (inTime ? wait - 1 : wait));
            const auto h = inTime ? std::optional<std::string>(handle) : std::nullopt;
            const auto n = inTime ? std::optional<std::string>(name) : std::nullopt;
            EXPECT_EQ(Pcm(standard, h, n), waveOut.played) << (inTime ? "in time" : "too late");
            Note("CALL 12 STATUS FINISHED");
            cc->ReleasePhone();
            timeline.Take();
            phones.Take();
        }
    }
    // FSK leaves Skype most of the quiet before the first ring.
    EXPECT_GE(CallerIdAnswerWaitMs(CallerIdStandard::EtsiFsk), 2000u);
}

TEST_F(CallerIdTest, WhatEndsTheDataEndsItAtOnce) {
    const struct {
        const char* what;
        std::function<void(TestCallControl&)> act;
        const char* sent; // to Skype afterwards: the call goes on as today
    } kCases[] = {
        {"receiver lifted",
         [](TestCallControl& c) { c.OnWindowMessage(WMU_PHONE_KEY, PHONE_KEY_EVENT, kKeyOffHook); },
         "send:SET CALL 12 STATUS INPROGRESS"},
        {"answered at the computer",
         [](TestCallControl& c) { c.OnSkypeNotification("CALL 12 STATUS INPROGRESS"); }, ""},
        {"call ended", [](TestCallControl& c) { c.OnSkypeNotification("CALL 12 STATUS MISSED"); },
         ""},
        {"device removed",
         [](TestCallControl& c) {
             c.m_nProductId = 0x831C;
             c.OnWindowMessage(WMU_DEVICE_REMOVED, 0, 0x831C);
         },
         ""},
        {"program quits", [](TestCallControl& c) { c.ShutDownDevice(); }, ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        Install();
        cc->callerIdStandard = CallerIdStandard::Bell202;
        Note("CALL 12 STATUS RINGING");
        RunFor(7500); // in the middle of the data
        ASSERT_TRUE(waveOut.playing);
        timeline.Take();
        skype.Take();
        const std::string now = std::to_string(clock.NowMs());
        c.act(*cc);
        const std::string events = timeline.Take();
        EXPECT_EQ(0u, events.find(now + " stop " + now + " tx0")) << events;
        EXPECT_EQ(c.sent, skype.Take());
        RunFor(20000);
        EXPECT_EQ("", timeline.Take()) << "no ring, no data afterwards";
        if (cc->m_pPhone.load() != nullptr) cc->ReleasePhone();
        Note("CALL 12 STATUS FINISHED");
        state.offHook = 0;
        skype.Take();
    }
}

TEST_F(CallerIdTest, SoundDeviceOrLineChipRefusingLeavesTheRingsAlone) {
    const struct {
        const char* what;
        bool analogueTx, soundPlays;
        const char* events;
    } kCases[] = {
        {"no sound device", true, false, "7000 ring0 7000 tx1 7000 play2 7000 tx0 8000 ring1"},
        {"no on-hook transmission", false, true, "7000 ring0 8000 ring1"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        Install(true, false);
        waveOut.accept = c.soundPlays;
        cc->callerIdStandard = CallerIdStandard::Bell202;
        if (!c.analogueTx) {
            // A line chip that refuses the state.
            cc->ReleasePhone();
            struct Refusing : CidPhone {
                using CidPhone::CidPhone;
                int SetOnHookTransmission(int) override { return 0; }
            };
            cc->m_pPhone = new Refusing(phones, timeline, true, false);
        }
        const uint64_t t0 = clock.NowMs();
        Note("CALL 12 STATUS RINGING");
        RunFor(4000);
        timeline.Take();
        RunFor(4000);
        // Times from the call's RINGING.
        std::string got;
        for (const std::string& e : timeline.events) {
            const size_t space = e.find(' ');
            got += (got.empty() ? "" : " ") + std::to_string(std::stoull(e.substr(0, space)) - t0) +
                   e.substr(space);
        }
        timeline.Take();
        EXPECT_EQ(c.events, got);
        Note("CALL 12 STATUS FINISHED");
        cc->ReleasePhone();
        waveOut.accept = true;
    }
}

TEST_F(CallerIdTest, HandsetDisplayShowsTheNumberWhileItRings) {
    const struct {
        const char* handle;
        const char* shown; // "" when nothing is shown
        const char* end;
    } kCases[] = {
        {"+49 30 1234-5678", "show:493012345678", "INPROGRESS"},
        {"+49 30 1234-5678", "show:493012345678", "FINISHED"},
        {"echo123", "", "FINISHED"}, // not a number: nothing to show, nothing to clear
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.handle) + " " + c.end);
        Install(false, true);
        state.offHook = 1; // as the handset is, with no hook switch of its own
        Note("CALL 12 STATUS RINGING");
        Note(std::string("CALL 12 PARTNER_HANDLE ") + c.handle);
        Note("CALL 12 PARTNER_DISPNAME Anna");
        const std::string t = std::to_string(clock.NowMs()) + " ";
        EXPECT_EQ(*c.shown ? t + c.shown : "", timeline.Take());
        Note(std::string("CALL 12 STATUS ") + c.end);
        EXPECT_EQ(*c.shown ? t + "show:" : "", timeline.Take());
        Note("CALL 12 STATUS FINISHED");
        EXPECT_EQ("", timeline.Take());
        cc->ReleasePhone();
    }
}

} // namespace
