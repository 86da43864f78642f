// Skype notifications beyond the state table: ids that do not fit, the bounded resend after
// "Access denied", a second call during a call, and the error prompt.
#include "unit/call/CallTestSupport.h"

#include <cstring>

namespace {

class NotificationsTest : public CallTest {
  protected:
    void SetUp() override {
        CallTest::SetUp();
        InstallTestPhone();
    }
};

TEST_F(NotificationsTest, IdsTooLongToKeepAreIgnoredWithoutTouchingTheBuffers) {
    const std::string longId = "12345678";
    const std::string hugeId(3000, '7');
    struct Case {
        int32_t callState;
        std::string text;
    };
    const Case cases[] = {
        {CALL_IDLE, "CALL " + longId + " STATUS RINGING"},
        {CALL_IDLE, "CALL " + hugeId + " STATUS RINGING"},
        {CALL_RINGING_IN, "CALL " + longId + " STATUS RINGING"}, // would be rejected
        {CALL_IN_PROGRESS, "CALL " + hugeId + " STATUS RINGING"},
        {CALL_IDLE, "CALL " + longId + " STATUS ROUTING"},
        {CALL_RINGING_IN, "CALL " + longId + " STATUS INPROGRESS"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        state.callState = c.callState;
        state.pstnActive = 0;
        std::strcpy(state.callId, "1234567");
        std::strcpy(state.otherCallId, "abc");
        std::strcpy(state.commandText, "LAST");
        window.Take();

        cc->OnSkypeNotification(c.text.c_str());

        EXPECT_EQ(state.callState.load(), c.callState);
        EXPECT_STREQ(state.callId, "1234567");
        EXPECT_STREQ(state.otherCallId, "abc");
        EXPECT_STREQ(state.commandText, "LAST");
        EXPECT_EQ(skype.Take(), "");
        EXPECT_EQ(window.Take(), "");
    }

    // Seven characters still fit, on the PSTN line too (rejected by that id).
    state.callState = CALL_IDLE;
    state.pstnActive = 1;
    cc->OnSkypeNotification("CALL 7654321 STATUS RINGING");
    EXPECT_STREQ(state.callId, "7654321");
    EXPECT_EQ(skype.Take(), "reply | send:SET CALL 7654321 STATUS FINISHED");
}

TEST_F(NotificationsTest, AccessDeniedResendsEachOfOurCommandsOnlyOnce) {
    // Nothing of ours sent yet: nothing to resend.
    cc->OnSkypeNotification("ERROR 68 Access denied");
    EXPECT_EQ(skype.Take(), "reply");

    state.callState = CALL_IN_PROGRESS;
    std::strcpy(state.callId, "17");
    cc->OnSkypeNotification("CALL 23 STATUS RINGING"); // rejected: a command of ours
    EXPECT_EQ(skype.Take(), "reply | send:SET CALL 23 STATUS FINISHED");

    // Skype keeps denying: one resend, then only answers.
    for (int i = 0; i < 5; ++i)
        cc->OnSkypeNotification("ERROR 68 Access denied");
    EXPECT_EQ(skype.Take(), "reply | send:SET CALL 23 STATUS FINISHED | reply | reply | reply | "
                            "reply");

    // A new command of ours may be resent once again.
    state.offHook = 1;
    cc->OnPhoneKey(kKeyOnHook);
    EXPECT_EQ(skype.Take(), "send:SET CALL 17 STATUS FINISHED");
    cc->OnSkypeNotification("ERROR 68 Access denied");
    cc->OnSkypeNotification("ERROR 68 Access denied");
    EXPECT_EQ(skype.Take(), "reply | send:SET CALL 17 STATUS FINISHED | reply");
}

TEST_F(NotificationsTest, SecondCallIsRejectedAndItsRefusalLeavesTheFirstUp) {
    state.offHook = 1;
    cc->OnSkypeNotification("CALL 17 STATUS INPROGRESS");
    cc->OnSkypeNotification("CALL 23 STATUS RINGING");
    EXPECT_STREQ(state.otherCallId, "23");
    cc->OnSkypeNotification("CALL 23 STATUS REFUSED");
    EXPECT_EQ(state.callState.load(), CALL_IN_PROGRESS);
    EXPECT_EQ(state.busyRejected.load(), 1);
    // A repeated ring of the rejected call is rejected again, by its own id.
    skype.Take();
    cc->OnSkypeNotification("CALL 23 STATUS RINGING");
    EXPECT_EQ(skype.Take(), "reply | send:SET CALL 23 STATUS FINISHED");
    EXPECT_STREQ(state.callId, "17");

    cc->OnSkypeNotification("CALL 17 STATUS FINISHED");
    EXPECT_EQ(state.callState.load(), CALL_IDLE);
    EXPECT_EQ(state.busyRejected.load(), 0);
}

TEST_F(NotificationsTest, ErrorPromptEndsTheDialToneAndPlaysOnThePromptDevice) {
    state.playerIdle = 0;
    state.promptDevice = 3;
    state.callState = CALL_GOING_OUT;
    cc->OnSkypeNotification("ERROR 10 call error");
    EXPECT_EQ(state.callState.load(), CALL_IDLE);
    std::vector<std::string> seq;
    for (const MciCall& c : mci.calls)
        seq.push_back(FakeMci::Name(c.command));
    EXPECT_EQ(JoinWords(seq), "STOP CLOSE OPEN SET PLAY CLOSE");
    EXPECT_EQ(mci.calls[2].element, "error.wav");
    EXPECT_EQ(mci.calls[3].waveOut, 3u);
    EXPECT_TRUE(mci.calls[4].flags & MCI_FLAG_WAIT);
}

TEST_F(NotificationsTest, RingingStartsTheCadenceOnlyOnHook) {
    cc->OnSkypeNotification("CALL 41 STATUS RINGING");
    EXPECT_EQ(window.Take(), "arm3:3000");
    EXPECT_EQ(state.ringing.load(), 1);
    // The cadence: 3 s to the first ring-off step, then 1 s on, 3 s on... as timers 3 and 4.
    cc->OnTimer(TIMER_RING_OFF);
    cc->OnTimer(TIMER_RING_ON);
    cc->OnTimer(TIMER_RING_OFF);
    EXPECT_EQ(window.Take(), "kill3 arm4:1000 kill4 arm3:3000 kill3 arm4:1000");
    EXPECT_EQ(phones.Take(), "ring0 ring1 ring0");
    // Lifting the receiver stops it and answers.
    cc->OnPhoneKey(kKeyOffHook);
    EXPECT_EQ(state.ringing.load(), 0);
    EXPECT_EQ(phones.Take(), "ring0");
    EXPECT_EQ(window.Take(), "kill3 kill4");
    EXPECT_EQ(skype.Take(), "send:SET CALL 41 STATUS INPROGRESS");
}

} // namespace
