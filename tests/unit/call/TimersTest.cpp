// The main window's timers: one-shot handling, the ring cadence, the status poll with its
// liveness check, the PSTN episode timers and the in-call animation.
#include "unit/call/CallTestSupport.h"

#include "device/SlicRegisters.h"

namespace {

class TimersTest : public CallTest {
  protected:
    void SetUp() override {
        CallTest::SetUp();
        phone = InstallTestPhone();
        state.bridgeReady = 0;
        SlicWriteDirect(SLIC_LINEFEED, kLinefeedForwardActive); // a live line chip
        window.Take();
        lab.ClearCalls();
    }
    TestPhone* phone = nullptr;
};

TEST_F(TimersTest, EveryTickEndsHidingAndKillsItsTimerFirst) {
    cc->factory = [this](int32_t) { return new TestPhone(phones, false); };
    for (unsigned id : {2u, 3u, 4u, 6u, 7u, 8u, 9u, 42u}) {
        SCOPED_TRACE(id);
        state.hideOnPaint = 1;
        if (id == 2u) cc->ReleasePhone(); // timer 2 opens a phone when none is open
        window.Take();
        cc->OnTimer(id);
        EXPECT_EQ(state.hideOnPaint.load(), 0);
        const std::string words = window.Take() + " ";
        EXPECT_EQ(words.substr(0, words.find(' ')), "kill" + std::to_string(id));
        if (id == 2u) {
            cc->ReleasePhone();
            phone = InstallTestPhone();
        }
    }
}

TEST_F(TimersTest, RingCadenceEndsWhenThePhoneIsGone) {
    cc->ReleasePhone();
    phones.Take();
    state.ringing = 1;
    cc->OnTimer(TIMER_RING_OFF);
    cc->OnTimer(TIMER_RING_ON);
    EXPECT_EQ(window.Take(), "kill3 kill4");
    EXPECT_EQ(phones.Take(), "");
}

TEST_F(TimersTest, StatusPollDecidesReadiness) {
    struct Case {
        const char* situation;
        bool phoneOpen, skypeWindow;
        int32_t attach;
        uint8_t lineAlive;
        const char* words;
    };
    const Case cases[] = {
        {"ready", true, true, ATTACH_SUCCESS, 1, "buttons1 icon128 arm6:2000"},
        {"Skype closed", true, false, ATTACH_SUCCESS, 1, "icon129 arm6:2000"},
        {"not attached", true, true, ATTACH_NOT_CONNECTED, 1, "icon129 arm6:2000"},
        {"pending", true, true, ATTACH_PENDING_AUTHORIZATION, 1, "icon129 arm6:2000"},
        {"line dead", true, true, ATTACH_SUCCESS, 0, "icon129 arm6:2000"},
        {"no phone", false, true, ATTACH_SUCCESS, 1, "buttons0 icon129 arm6:2000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.situation);
        if (!c.phoneOpen) cc->ReleasePhone();
        window.skypeExists = c.skypeWindow;
        state.attachStatus = c.attach;
        state.lineAlive = c.lineAlive;
        state.devicePresent = 0; // no liveness read here
        const bool ready = std::string(c.words).find("icon128") != std::string::npos;
        state.bridgeReady = ready ? 0 : 1; // the poll must set it either way
        state.promptDeviceChosen = 1;
        window.Take();
        cc->OnTimer(TIMER_STATUS_POLL);
        EXPECT_EQ(window.Take(), std::string("kill6 ") + c.words);
        EXPECT_EQ(state.bridgeReady.load(), ready ? 1 : 0);
        EXPECT_EQ(state.promptDeviceChosen.load(), ready ? 1 : 0);
        if (!c.phoneOpen) phone = InstallTestPhone();
    }
}

TEST_F(TimersTest, PromptDeviceIsChosenAtTheSecondReadyPoll) {
    mci.deviceNames = {"Speakers", "USB Audio Device"};
    state.devicePresent = 0;
    cc->OnTimer(TIMER_STATUS_POLL);
    EXPECT_EQ(state.bridgeReady.load(), 1);
    EXPECT_EQ(state.promptDeviceChosen.load(), 0);
    cc->OnTimer(TIMER_STATUS_POLL);
    EXPECT_EQ(state.promptDeviceChosen.load(), 1);
    EXPECT_EQ(state.promptDevice.load(), 1);
}

TEST_F(TimersTest, FourFailedLivenessReadsTakeTheBridgeDown) {
    lab.FailReads(LabTarget::SlicDirect, SLIC_LINEFEED);
    for (int poll = 1; poll <= 4; ++poll) {
        SCOPED_TRACE(poll);
        cc->OnTimer(TIMER_STATUS_POLL);
        EXPECT_EQ(state.lineAlive.load(), poll < 4 ? 1 : 0);
        EXPECT_EQ(state.bridgeReady.load(), poll < 4 ? 1 : 0);
    }
    EXPECT_EQ(state.lineCheckFailures.load(), 0);
    // One good read brings it back at once.
    lab.ClearFailures();
    cc->OnTimer(TIMER_STATUS_POLL);
    EXPECT_EQ(state.lineAlive.load(), 1);
    EXPECT_EQ(state.bridgeReady.load(), 1);

    // A register value with bit 0 clear counts as a failure too; a good read in between
    // starts the count again.
    SlicWriteDirect(SLIC_LINEFEED, kLinefeedOpen);
    for (int i = 0; i < 3; ++i)
        cc->OnTimer(TIMER_STATUS_POLL);
    SlicWriteDirect(SLIC_LINEFEED, kLinefeedForwardActive);
    cc->OnTimer(TIMER_STATUS_POLL);
    SlicWriteDirect(SLIC_LINEFEED, kLinefeedOpen);
    for (int i = 0; i < 3; ++i)
        cc->OnTimer(TIMER_STATUS_POLL);
    EXPECT_EQ(state.lineAlive.load(), 1);
    cc->OnTimer(TIMER_STATUS_POLL);
    EXPECT_EQ(state.lineAlive.load(), 0);
}

TEST_F(TimersTest, NoLivenessReadDuringACallOrWithoutTheDevice) {
    lab.FailReads(LabTarget::SlicDirect, SLIC_LINEFEED);
    for (int32_t callState : {2, 3, 4, 5, 6}) {
        state.callState = callState;
        for (int i = 0; i < 5; ++i)
            cc->OnTimer(TIMER_STATUS_POLL);
    }
    state.callState = CALL_IDLE;
    state.devicePresent = 0;
    for (int i = 0; i < 5; ++i)
        cc->OnTimer(TIMER_STATUS_POLL);
    EXPECT_EQ(lab.CallsOf(VC_SLIC_READ_DIRECT).size(), 0u);
    EXPECT_EQ(state.lineAlive.load(), 1);
}

TEST_F(TimersTest, StatusPollDropsPlaybacksWhoseFileIsGone) {
    state.devicePresent = 0;
    window.SetSlot(3, "gone.wav");
    cc->OnTimer(TIMER_STATUS_POLL);
    EXPECT_EQ(window.Slot(3), "");
}

TEST_F(TimersTest, RingOverEndsTheEpisode) {
    state.ringPolls = 7;
    state.ringSeen = 1;
    state.notifyCount = 3;
    state.busyRingPolls = 4;
    state.ringEndTimerArmed = 1;
    state.lineIdleTimerArmed = 1;
    state.lineCheckPending = 0;
    cc->OnTimer(TIMER_PSTN_RING_OVER);
    EXPECT_EQ(state.ringPolls.load(), 0);
    EXPECT_EQ(state.ringSeen.load(), 0);
    EXPECT_EQ(state.notifyCount.load(), 0);
    EXPECT_EQ(state.busyRingPolls.load(), 0);
    EXPECT_EQ(state.ringEndTimerArmed.load(), 0);
    EXPECT_EQ(state.lineIdleTimerArmed.load(), 0);
    EXPECT_EQ(state.lineCheckPending.load(), 1);
}

TEST_F(TimersTest, InCallAnimationCyclesThroughItsFrames) {
    for (int tick = 0; tick < 10; ++tick)
        cc->OnTimer(TIMER_CALL_ANIMATION);
    EXPECT_EQ(window.Take(), "kill9 icon130 arm9:500 kill9 icon131 arm9:500 kill9 icon132 arm9:500 "
                             "kill9 icon133 arm9:500 kill9 arm9:500 "
                             "kill9 icon130 arm9:500 kill9 icon131 arm9:500 kill9 icon132 arm9:500 "
                             "kill9 icon133 arm9:500 kill9 arm9:500");
}

} // namespace
