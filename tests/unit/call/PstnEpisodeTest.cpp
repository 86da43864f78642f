// The PSTN side in "Auto" mode, pass by pass against the lab adapter with a real USB gateway
// (its pin 0x10 is the line-use detector):
// the ring burst, the switch to the line, the notify prompts, the way back to VoIP, what counts
// as one ring episode, and an unplug that is noticed late.
#include "unit/call/CallTestSupport.h"

#include "device/KwUsb2Gateway.h"
#include "device/KwUsbPhone.h"
#include "device/SlicRegisters.h"

namespace {

constexpr int32_t kGateway = 0xC39C;

class PstnEpisodeTest : public CallTest {
  protected:
    void SetUp() override {
        CallTest::SetUp();
        lab.SetProductId(kGateway);
        auto* phone = new KwUsb2Gateway();
        ASSERT_NE(phone->Initialize(), 0);
        cc->m_pPhone = phone;
        state.deviceLockDeleted = 0;
        state.devicePresent = 1;
        state.bridgeReady = 1;
        state.attachStatus = ATTACH_SUCCESS;
        state.lineCheckPending = 0;
        window.Take();
        lab.ClearCalls();
    }
    void TearDown() override {
        cc->ReleasePhone();
        CallTest::TearDown();
    }
    // Runs passes; returns the window's words meanwhile.
    std::string Passes(int count) {
        for (int i = 0; i < count; ++i)
            EXPECT_TRUE(cc->PhoneEventPass());
        return window.Take();
    }
    // A ring pattern, one pass per character: 'R' the line rings, '.' it does not.
    void Rings(const std::string& pattern) {
        for (char c : pattern) {
            lab.SetPstnRinging(c == 'R');
            EXPECT_TRUE(cc->PhoneEventPass());
        }
        lab.SetPstnRinging(false);
    }
    // Whether the telephone was switched to the PSTN line since the calls were last cleared.
    bool LineTaken() {
        for (const LabCall& call : lab.CallsOf(VC_SELECT_LINE))
            if (call.param == 0) return true;
        return false;
    }
};

TEST_F(PstnEpisodeTest, IsolatedRingingPollsNeverAddUp) {
    // A ring-detect bit that flickers once in a while (line noise, a glitch), hours apart or
    // just over the longest silence of a ring cadence apart.
    for (uint64_t apart : {5100u, 60000u, 3600000u}) {
        SCOPED_TRACE(apart);
        for (int i = 0; i < 200; ++i) {
            Rings("R.");
            clock.Advance(apart);
        }
        EXPECT_EQ(window.PstnRings(), 0);
        EXPECT_FALSE(LineTaken());
        EXPECT_EQ(state.callState.load(), CALL_IDLE);
        EXPECT_EQ(state.pstnActive.load(), 0);
    }
    // The same while the phone is busy: no notify prompt either.
    state.offHook = 1;
    for (int i = 0; i < 200; ++i) {
        Rings("R.");
        clock.Advance(5100);
    }
    EXPECT_EQ(window.PstnRings(), 0);
}

TEST_F(PstnEpisodeTest, RealCadencesStillTakeTheLine) {
    struct Case {
        const char* cadence;
        std::string burst; // one ring burst as the loop sees it
        uint64_t silence;  // ms between bursts
        int bursts;        // the switch comes in this burst
    };
    const Case cases[] = {
        {"short bursts, 4 s apart", "RRR", 4000, 4},
        {"double ring, 2 s apart", "RR.RR", 2000, 3},
        {"a bit that flickers within the burst", "RR.R..RRR.RR.RRRR", 4000, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cadence);
        const int prompts = window.PstnRings();
        for (int burst = 1; burst <= c.bursts; ++burst) {
            EXPECT_FALSE(LineTaken()) << "switched before burst " << burst;
            Rings(c.burst);
            clock.Advance(c.silence);
        }
        EXPECT_TRUE(LineTaken());
        EXPECT_EQ(state.callState.load(), CALL_PSTN_IN);
        EXPECT_EQ(window.PstnRings() - prompts, 1);

        // Back to VoIP for the next case.
        cc->OnTimer(TIMER_PSTN_RING_OVER);
        Passes(2);
        cc->OnTimer(TIMER_PSTN_LINE_IDLE);
        ASSERT_EQ(state.pstnActive.load(), 0);
        lab.ClearCalls();
    }
}

TEST_F(PstnEpisodeTest, UnplugNoticedLateSwitchesNothing) {
    cc->m_nProductId = kGateway;
    lab.Unplug();
    // The removal reaches the main window up to 1.1 s later; the loop polls on meanwhile.
    const uint64_t start = clock.NowMs();
    for (int pass = 0; pass < 2000 && clock.NowMs() - start < 1100; ++pass) {
        ASSERT_TRUE(cc->PhoneEventPass());
        clock.Advance(2); // the requests of a pass on the bus
    }
    EXPECT_EQ(window.PstnRings(), 0);
    EXPECT_EQ(state.callState.load(), CALL_IDLE);
    EXPECT_EQ(state.pstnActive.load(), 0);
    EXPECT_FALSE(LineTaken());

    cc->OnWindowMessage(WMU_DEVICE_REMOVED, 0, kGateway);
    EXPECT_FALSE(cc->PhoneEventPass()); // released
    EXPECT_EQ(state.callState.load(), CALL_IDLE);
    EXPECT_EQ(window.PstnRings(), 0);
}

TEST_F(PstnEpisodeTest, UnansweredCallOnIdlePhone) {
    lab.SetPstnRinging(true);
    EXPECT_EQ(Passes(10), "");
    EXPECT_EQ(Passes(1), "pstnring"); // 11th ringing poll: the notify prompt
    EXPECT_NE(lab.SelectedLine(), 0);
    EXPECT_EQ(Passes(1), ""); // 12th: the telephone goes to the PSTN line
    EXPECT_EQ(lab.SelectedLine(), 0);
    EXPECT_EQ(state.callState.load(), CALL_PSTN_IN);
    EXPECT_EQ(state.pstnActive.load(), 1);
    EXPECT_TRUE(lab.Ringing()); // now from the line itself

    // Further ringing: no more prompts, no timer 8 while the burst is on.
    EXPECT_EQ(Passes(30), "");

    // The ring stops: timer 7 ends the episode 5 s later; only then does the idle line count.
    lab.SetPstnRinging(false);
    EXPECT_EQ(Passes(3), "arm7:5000");
    cc->OnTimer(TIMER_PSTN_RING_OVER);
    EXPECT_EQ(window.Take(), "kill7");
    EXPECT_EQ(Passes(3), "arm8:1000");
    cc->OnTimer(TIMER_PSTN_LINE_IDLE);
    EXPECT_EQ(lab.SelectedLine(), 1);
    EXPECT_EQ(state.callState.load(), CALL_IDLE);
    EXPECT_EQ(state.pstnActive.load(), 0);
}

TEST_F(PstnEpisodeTest, AnsweredCallKeepsTheLineUntilHungUp) {
    lab.SetPstnRinging(true);
    Passes(12);
    lab.LiftReceiver();
    lab.SetPstnRinging(false);
    Passes(1);
    cc->OnTimer(TIMER_PSTN_RING_OVER);
    window.Take();
    // Talking: the line is in use, nothing is armed.
    EXPECT_EQ(Passes(5), "");
    lab.ReplaceReceiver();
    EXPECT_EQ(Passes(2), "arm8:1000");
    // Picked up again before timer 8 fired: it is cancelled.
    lab.LiftReceiver();
    EXPECT_EQ(Passes(2), "kill8");
    EXPECT_EQ(state.lineIdleTimerArmed.load(), 0);
    lab.ReplaceReceiver();
    EXPECT_EQ(Passes(1), "arm8:1000");
    cc->OnTimer(TIMER_PSTN_LINE_IDLE);
    EXPECT_EQ(lab.SelectedLine(), 1);
    EXPECT_EQ(state.pstnActive.load(), 0);
}

TEST_F(PstnEpisodeTest, BusyPhoneGetsAtMostThreePromptsPerEpisode) {
    struct Case {
        const char* situation;
        int32_t callState;
        int32_t offHook;
    };
    const Case cases[] = {{"off hook", CALL_IDLE, 1},
                          {"Skype call ringing", CALL_RINGING_IN, 0},
                          {"Skype call going out", CALL_GOING_OUT, 1},
                          {"Skype call in progress", CALL_IN_PROGRESS, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.situation);
        cc->OnTimer(TIMER_PSTN_RING_OVER); // a fresh episode
        window.Take();
        const int prompts = window.PstnRings();
        state.callState = c.callState;
        state.offHook = c.offHook;
        lab.SetPstnRinging(true);
        Passes(100);
        EXPECT_EQ(window.PstnRings() - prompts, 3);
        EXPECT_NE(lab.SelectedLine(), 0);
        EXPECT_EQ(state.callState.load(), c.callState);
        EXPECT_EQ(state.pstnActive.load(), 0);

        // The next episode may prompt again.
        lab.SetPstnRinging(false);
        Passes(1);
        cc->OnTimer(TIMER_PSTN_RING_OVER);
        lab.SetPstnRinging(true);
        Passes(11);
        EXPECT_EQ(window.PstnRings() - prompts, 4);
        lab.SetPstnRinging(false);
        Passes(1);
    }
}

TEST_F(PstnEpisodeTest, VoipOnlyNeverWatchesTheLine) {
    state.voipOnly = 1;
    lab.SetPstnRinging(true);
    EXPECT_EQ(Passes(40), "");
    EXPECT_NE(lab.SelectedLine(), 0);
    for (const LabCall& call : lab.Calls())
        EXPECT_FALSE(call.target == LabTarget::Bridge && call.reg == 15) << "PSTN status read";
}

TEST_F(PstnEpisodeTest, LineTakenByHashComesBackEveryTime) {
    state.offHook = 1;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        cc->OnPhoneKey(kKeyHash);
        EXPECT_EQ(state.callState.load(), CALL_PSTN_OUT);
        EXPECT_EQ(lab.SelectedLine(), 0);
        // Hung up at once: the line stays idle, so timer 8 takes the telephone back.
        EXPECT_EQ(Passes(2), "arm8:1000");
        cc->OnTimer(TIMER_PSTN_LINE_IDLE);
        window.Take();
        EXPECT_EQ(lab.SelectedLine(), 1);
        EXPECT_EQ(state.callState.load(), CALL_IDLE);
    }
}

// The USB phone box has no line-use detector: its pin 0x10 is an output that powers the line, and
// reads back high. Taken for "line in use", the telephone would never come back from the PSTN
// line, and no key would ever be read again.
TEST_F(PstnEpisodeTest, WithoutLineUseDetectorTheLineComesBack) {
    cc->ReleasePhone();
    lab.SetProductId(0x831C);
    auto* phone = new KwUsbPhone(0);
    ASSERT_NE(phone->Initialize(), 0);
    ASSERT_NE(lab.BridgeRegister(BRIDGE_PIN_LEVEL) & 0x10, 0);
    cc->m_pPhone = phone;
    state.deviceLockDeleted = 0;
    window.Take();

    state.offHook = 1;
    cc->OnPhoneKey(kKeyHash);
    EXPECT_EQ(state.callState.load(), CALL_PSTN_OUT);
    EXPECT_EQ(Passes(2), "arm8:1000");
    cc->OnTimer(TIMER_PSTN_LINE_IDLE);
    EXPECT_EQ(lab.SelectedLine(), 1);
    EXPECT_EQ(state.callState.load(), CALL_IDLE);
    EXPECT_EQ(state.pstnActive.load(), 0);
}

} // namespace
