// Skype notifications beyond the state table: what a real client sends besides the call texts
// (other objects, texts that remote people write, other calls, statuses we do not act on), error
// replies as clients spell them, ids that do not fit, the bounded resend after "Access denied",
// a second call during a call, a reply that arrives inside our own send, and the error prompt.
#include "unit/call/CallTestSupport.h"

#include <cstring>

namespace {

class NotificationsTest : public CallTest {
  protected:
    void SetUp() override {
        CallTest::SetUp();
        InstallTestPhone();
    }
    // Call 17 in the given state, as the bridge normally is there (in the idle state 17 is the
    // call just ended); the logs emptied.
    void Enter(int32_t callState) {
        state.callState = callState;
        std::strcpy(state.callId, "17");
        state.otherCallId[0] = '\0';
        state.pstnActive = callState >= CALL_PSTN_IN ? 1 : 0;
        state.ringing = callState == CALL_RINGING_IN ? 1 : 0;
        state.offHook = callState == CALL_GOING_OUT || callState == CALL_IN_PROGRESS ? 1 : 0;
        state.busyRejected = 0;
        state.attachStatus = ATTACH_SUCCESS;
        std::strcpy(state.commandText, "GET CALL 17 STATUS");
        // No call of an earlier case is remembered as hung up, no dial waits.
        std::memset(state.recentCalls, 0, sizeof state.recentCalls);
        state.dialPending = 0;
        state.hangUpOnArrival = 0;
        cc->AllowResend();
        window.Take();
        skype.Take();
        phones.Take();
        mci.calls.clear();
    }
};

constexpr int32_t kAllStates[] = {CALL_IDLE,        CALL_RINGING_IN, CALL_GOING_OUT,
                                  CALL_IN_PROGRESS, CALL_PSTN_IN,    CALL_PSTN_OUT};

TEST_F(NotificationsTest, TextsThatAreNotOurCallsStatusMoveNothing) {
    const char* texts[] = {
        // Other objects' statuses.
        "SMS 12 STATUS FAILED",
        "FILETRANSFER 3 STATUS FAILED",
        "VOICEMAIL 4 STATUS FAILED",
        "CHATMESSAGE 88 STATUS RECEIVED",
        // Texts that remote people write.
        "CHAT #bob/$alice;1 TOPIC STATUS RINGING",
        "USER bob MOOD_TEXT CALL 5 STATUS RINGING",
        "USER bob MOOD_TEXT CALL 17 STATUS FINISHED",
        "USER bob MOOD_TEXT STATUS INPROGRESS",
        "USER bob MOOD_TEXT CALL 5 STATUS ROUTING",
        "USER bob FULLNAME call error",
        "USER bob FULLNAME Invalid call id",
        "USER bob MOOD_TEXT ERROR 11 Invalid call id",
        "USER bob MOOD_TEXT Access denied",
        "USER bob MOOD_TEXT CONNSTATUS LOGGEDOUT",
        "CHATMESSAGE 90 BODY CALL 17 STATUS FINISHED",
        "CALL 17 PARTNER_DISPNAME x STATUS RINGING",
        // Other calls' ends.
        "CALL 9 STATUS FINISHED",
        "CALL 9 STATUS MISSED",
        "CALL 9 STATUS REFUSED",
        "CALL 9 STATUS FAILED",
        "CALL 9 STATUS BUSY",
        "CALL 9 STATUS CANCELLED",
        // Statuses that move nothing here, and words that only begin like ours.
        "CALL 17 STATUS EARLYMEDIA",
        "CALL 17 STATUS ONHOLD",
        "CALL 17 STATUS LOCALHOLD",
        "CALL 17 STATUS REMOTEHOLD",
        "CALL 17 STATUS VM_BUFFERING_GREETING",
        "CALL 17 STATUS VM_PLAYING_GREETING",
        "CALL 17 STATUS RINGINGX",
        "CALL 5 STATUS RINGINGX",
        "CALL 17 STATUS FINISHEDX",
        "CALL 17 STATUS FAILED TOO",
        "CALL 17 STATUS",
        "CALL  STATUS RINGING",
        "CALL 5 STATUS RINGING STATUS RINGING",
        "CALL",
        "",
        // Errors that are not for the user, and other connection states.
        "ERROR 101 Invalid call id",
        "ERROR 101 call error",
        "CONNSTATUS ONLINE",
        "CONNSTATUS LOGGEDOUTX",
        "USERSTATUS LOGGEDOUT",
    };
    for (const char* text : texts) {
        for (int32_t callState : kAllStates) {
            SCOPED_TRACE(testing::Message() << '"' << text << "\" in state " << callState);
            Enter(callState);
            const uint8_t ringing = state.ringing;

            cc->OnSkypeNotification(text);

            EXPECT_EQ(state.callState.load(), callState);
            EXPECT_EQ(state.ringing.load(), ringing);
            EXPECT_EQ(state.busyRejected.load(), 0);
            EXPECT_EQ(state.attachStatus.load(), ATTACH_SUCCESS);
            EXPECT_STREQ(state.callId, "17");
            EXPECT_EQ(skype.Take(), "");
            EXPECT_EQ(window.Take(), "");
            EXPECT_EQ(phones.Take(), "");
            EXPECT_EQ(Prompts(), "");
        }
    }
}

TEST_F(NotificationsTest, ErrorRepliesAsClientsSpellThemPlayTheErrorPrompt) {
    const char* texts[] = {
        "ERROR 11 Invalid call id",
        "ERROR 12 invalid call id",
        "ERROR 8 Invalid user handle",
        "ERROR 26 INVALID USER HANDLE",
        "ERROR 71 call error: the network is down",
        "ERROR 92 Call Error",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        Enter(CALL_IDLE); // (an unknown call id while a call is up answers an earlier command)
        cc->OnSkypeNotification(text);
        EXPECT_EQ(state.callState.load(), CALL_IDLE);
        EXPECT_EQ(skype.Take(), "reply");
        EXPECT_EQ(Prompts(), "error.wav");
    }
}

TEST_F(NotificationsTest, AccessDeniedAndLoggedOutOnlyInTheirOwnForm) {
    for (const char* text : {"ERROR 68 Access denied", "ERROR 9901 ACCESS DENIED"}) {
        SCOPED_TRACE(text);
        Enter(CALL_IN_PROGRESS);
        cc->OnSkypeNotification(text);
        EXPECT_EQ(skype.Take(), "reply | send:GET CALL 17 STATUS");
    }
    Enter(CALL_IN_PROGRESS);
    cc->OnSkypeNotification("CONNSTATUS LOGGEDOUT");
    EXPECT_EQ(state.attachStatus.load(), ATTACH_NOT_CONNECTED);
    EXPECT_EQ(state.callState.load(), CALL_IN_PROGRESS);
}

// Hanging up must still reach Skype after texts about other calls and objects arrived mid-call.
TEST_F(NotificationsTest, HangingUpAfterOtherCallsEndsStillEndsOurCall) {
    struct Case {
        const char* situation;
        std::vector<const char*> texts;
    };
    const Case cases[] = {
        {"another call's MISSED during set-up",
         {"CALL 17 STATUS UNPLACED", "CALL 17 STATUS ROUTING", "CALL 9 STATUS MISSED",
          "CALL 17 STATUS RINGING", "CALL 17 STATUS EARLYMEDIA"}},
        {"an SMS failing mid-call",
         {"CALL 17 STATUS ROUTING", "CALL 17 STATUS INPROGRESS", "SMS 12 STATUS FAILED"}},
        {"a file transfer failing and a contact's mood mid-call",
         {"CALL 17 STATUS INPROGRESS", "FILETRANSFER 3 STATUS FAILED",
          "USER bob MOOD_TEXT CALL 17 STATUS FINISHED", "CALL 17 STATUS LOCALHOLD",
          "CALL 17 STATUS INPROGRESS"}},
        {"a rejected call's end mid-call",
         {"CALL 17 STATUS INPROGRESS", "CALL 23 STATUS RINGING", "CALL 23 STATUS REFUSED",
          "CALL 23 STATUS FINISHED"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.situation);
        Enter(CALL_IDLE);
        state.offHook = 1;
        for (const char* text : c.texts)
            cc->OnSkypeNotification(text);
        skype.Take();
        cc->OnPhoneKey(kKeyOnHook);
        EXPECT_EQ(skype.Take(), "send:SET CALL 17 STATUS FINISHED");
        EXPECT_EQ(state.callState.load(), CALL_IDLE);
    }
}

TEST_F(NotificationsTest, FailedWhileRingingStopsTheRing) {
    Enter(CALL_IDLE);
    cc->OnSkypeNotification("CALL 41 STATUS RINGING");
    cc->OnTimer(TIMER_RING_OFF);
    cc->OnTimer(TIMER_RING_ON);
    window.Take();
    phones.Take();
    cc->OnSkypeNotification("CALL 41 STATUS FAILED");
    EXPECT_EQ(state.ringing.load(), 0);
    EXPECT_EQ(phones.Take(), "ring0");
    EXPECT_FALSE(window.Armed(TIMER_RING_OFF));
    EXPECT_FALSE(window.Armed(TIMER_RING_ON));
    EXPECT_TRUE(window.Armed(TIMER_STATUS_POLL));
    EXPECT_EQ(state.callState.load(), CALL_IDLE);
}

// A client may answer our reject before our send returns: the refusal of the rejected call must
// not end the call the phone is busy with.
TEST_F(NotificationsTest, RefusalDeliveredInsideOurRejectLeavesTheCallUp) {
    struct Case {
        int32_t callState;
        const char* text;
    };
    const Case cases[] = {{CALL_RINGING_IN, "CALL 23 STATUS RINGING"},
                          {CALL_IN_PROGRESS, "CALL 23 STATUS RINGING"},
                          {CALL_PSTN_IN, "CALL 23 STATUS RINGING"},
                          {CALL_PSTN_OUT, "CALL 23 STATUS ROUTING"},
                          {CALL_PSTN_IN, "CALL 17 STATUS RINGING"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.text << " in state " << c.callState);
        Enter(c.callState);
        const uint8_t ringing = state.ringing;
        int busyAtSend = -1;
        bool answered = false;
        skype.onSend = [&] {
            if (answered) return;
            answered = true;
            busyAtSend = state.busyRejected;
            // "SET CALL <id> STATUS FINISHED": the client refuses that call at once.
            const std::string sent = state.commandText;
            const std::string id = sent.substr(9, sent.find(' ', 9) - 9);
            cc->OnSkypeNotification(("CALL " + id + " STATUS REFUSED").c_str());
        };
        cc->OnSkypeNotification(c.text);
        skype.onSend = nullptr;
        EXPECT_EQ(busyAtSend, 1);
        EXPECT_EQ(state.callState.load(), c.callState);
        EXPECT_EQ(state.ringing.load(), ringing);
        EXPECT_EQ(state.busyRejected.load(), 1);
        EXPECT_STREQ(state.callId, "17");
        // Hanging up afterwards still ends the call the phone was busy with.
        if (c.callState == CALL_IN_PROGRESS) {
            skype.Take();
            cc->OnPhoneKey(kKeyOnHook);
            EXPECT_EQ(skype.Take(), "send:SET CALL 17 STATUS FINISHED");
        }
    }
}

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

    // Seven characters still fit, on the PSTN line too (rejected by that id, which does not
    // become the current call).
    state.callState = CALL_IDLE;
    state.pstnActive = 1;
    cc->OnSkypeNotification("CALL 7654321 STATUS RINGING");
    EXPECT_STREQ(state.callId, "1234567");
    EXPECT_STREQ(state.otherCallId, "7654321");
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
    // A ring of the rejected call still on its way when we turned it away changes nothing.
    skype.Take();
    cc->OnSkypeNotification("CALL 23 STATUS RINGING");
    EXPECT_EQ(skype.Take(), "");
    EXPECT_STREQ(state.callId, "17");
    EXPECT_STREQ(state.otherCallId, "23");

    cc->OnSkypeNotification("CALL 17 STATUS FINISHED");
    EXPECT_EQ(state.callState.load(), CALL_IDLE);
    EXPECT_EQ(state.busyRejected.load(), 0);
}

TEST_F(NotificationsTest, ErrorPromptEndsTheDialToneAndPlaysOnThePromptDevice) {
    state.playerIdle = 0;
    promptPlayer.Open("tone.wav"); // the dial tone is playing
    mci.calls.clear();
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
