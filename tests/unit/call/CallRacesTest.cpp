// Calls when Skype's answers cross what the person at the telephone does: an answer that comes
// inside our own send, a dialled call reported after the receiver went down, a second dial before
// the first is known, statuses sent before our hang-up reached Skype, and a call that rang while
// the adapter was away.
#include "unit/call/CallTestSupport.h"

#include <cstring>

namespace {

class CallRacesTest : public CallTest {
  protected:
    void SetUp() override {
        CallTest::SetUp();
        phone = InstallTestPhone();
    }
    void Key(PhoneKey key) { cc->OnPhoneKey(key); }
    void Note(const char* text) { cc->OnSkypeNotification(text); }
    void DialNumber(const char* digits) {
        for (const char* d = digits; *d != '\0'; ++d)
            Key(static_cast<PhoneKey>(*d));
        Key(kKeyHash);
    }
    TestPhone* phone = nullptr;
};

// The caller gives up just as the receiver is lifted: Skype reports the end inside our answer,
// and the answer must not bring the call back afterwards.
TEST_F(CallRacesTest, AnEndReportedInsideTheAnswerStands) {
    for (PhoneKey how : {kKeyOffHook, kKeyStar}) {
        SCOPED_TRACE(how == kKeyStar ? "star key" : "receiver lifted");
        state.offHook = how == kKeyStar ? 1 : 0;
        std::memset(state.recentCalls, 0, sizeof state.recentCalls);
        Note("CALL 31 STATUS RINGING");
        skype.onSend = [&] { Note("CALL 31 STATUS MISSED"); };
        Key(how);
        skype.onSend = nullptr;
        EXPECT_EQ(skype.Take(), "send:SET CALL 31 STATUS INPROGRESS");
        EXPECT_EQ(state.callState.load(), CALL_IDLE);
        Key(kKeyOnHook);
        EXPECT_EQ(skype.Take(), "") << "a FINISHED for a call Skype said had ended";
    }
}

// Skype reports a call ringing in while we hang up: the telephone is idle by then and rings.
TEST_F(CallRacesTest, ACallRingingInInsideOurHangUpRings) {
    state.offHook = 1;
    Note("CALL 31 STATUS INPROGRESS");
    skype.Take();
    skype.onSend = [&] { Note("CALL 32 STATUS RINGING"); };
    Key(kKeyOnHook);
    skype.onSend = nullptr;
    EXPECT_EQ(skype.Take(), "send:SET CALL 31 STATUS FINISHED");
    EXPECT_EQ(state.callState.load(), CALL_RINGING_IN);
    EXPECT_STREQ(state.callId, "32");
    EXPECT_EQ(state.ringing.load(), 1);
}

// The dialled call is known only by Skype's report of it, which names no command.
TEST_F(CallRacesTest, TheDialledCallIsTheFirstNewCallSetUpAfterTheDial) {
    struct Case {
        const char* name;
        std::vector<const char*> before; // reported between the dial and the hang-up
        bool receiverDownFirst;          // the receiver goes down before the call is reported
        std::vector<const char*> after;
        const char* commands; // what Skype receives after the dial
        int32_t finalState;
    };
    const Case cases[] = {
        {"reported, then the receiver goes down",
         {"CALL 40 STATUS UNPLACED"},
         false,
         {},
         "send:SET CALL 40 STATUS FINISHED",
         CALL_IDLE},
        {"the receiver goes down first: hung up on arrival, its later statuses move nothing",
         {},
         true,
         {"CALL 40 STATUS UNPLACED", "CALL 40 STATUS ROUTING", "CALL 40 STATUS RINGING"},
         "send:SET CALL 40 STATUS FINISHED",
         CALL_IDLE},
        {"a call answered at the star key meanwhile: the dialled one is given up",
         {"CALL 41 STATUS RINGING", "*", "CALL 40 STATUS ROUTING"},
         false,
         {},
         "send:SET CALL 41 STATUS INPROGRESS | send:SET CALL 40 STATUS FINISHED | "
         "send:SET CALL 41 STATUS FINISHED",
         CALL_IDLE},
        {"a second dial before the first is known is not made",
         {"0", "0", "#", "CALL 40 STATUS ROUTING"},
         false,
         {},
         "send:SET CALL 40 STATUS FINISHED",
         CALL_IDLE},
        {"turned down by Skype: a new dial goes out",
         {"ERROR 26 Invalid user handle", "0", "#", "CALL 42 STATUS ROUTING"},
         false,
         {},
         "reply | send:CALL 0 | send:SET CALL 42 STATUS FINISHED",
         CALL_IDLE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::memset(state.recentCalls, 0, sizeof state.recentCalls);
        state.callState = CALL_IDLE;
        state.offHook = 1;
        DialNumber("123");
        ASSERT_EQ(skype.Take(), "send:CALL +123");
        for (const char* step : c.before) {
            if (std::strlen(step) == 1)
                Key(step[0] == '*' ? kKeyStar : step[0] == '#' ? kKeyHash : step[0]);
            else
                Note(step);
        }
        if (c.receiverDownFirst) Key(kKeyOnHook);
        for (const char* text : c.after)
            Note(text);
        if (!c.receiverDownFirst) Key(kKeyOnHook);
        EXPECT_EQ(skype.Take(), c.commands);
        EXPECT_EQ(state.callState.load(), c.finalState);
        mci.calls.clear();
    }
}

// A client that never reports the dialled call does not keep the telephone from dialling.
TEST_F(CallRacesTest, ADialNeverReportedIsGivenUpAfterAWhile) {
    state.offHook = 1;
    DialNumber("123");
    DialNumber("456");
    EXPECT_EQ(skype.Take(), "send:CALL +123");
    clock.Advance(CallControl::kDialAnswerWaitMs + 1);
    DialNumber("456");
    EXPECT_EQ(skype.Take(), "send:CALL +456");
}

// The telephone hung up or turned the call away; Skype's statuses sent before that reached it
// must not make it the telephone's call again.
TEST_F(CallRacesTest, StatusesOnTheirWayBeforeOurHangUpBringNothingBack) {
    struct Case {
        const char* name;
        bool lifted;
        const char* first;
        const char* late;
    };
    const Case cases[] = {
        {"answered, hung up, then the answer's INPROGRESS", true, "CALL 50 STATUS INPROGRESS",
         "CALL 50 STATUS INPROGRESS"},
        {"rang at the lifted receiver, turned away, then a RINGING", true, "CALL 50 STATUS RINGING",
         "CALL 50 STATUS RINGING"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::memset(state.recentCalls, 0, sizeof state.recentCalls);
        state.offHook = c.lifted ? 1 : 0;
        Note(c.first);
        Key(kKeyOnHook);
        EXPECT_EQ(skype.Take(), "send:SET CALL 50 STATUS FINISHED");
        Note(c.late);
        EXPECT_EQ(state.callState.load(), CALL_IDLE);
        EXPECT_EQ(state.ringing.load(), 0);
        // Lifted and put down again: no second FINISHED.
        Key(kKeyOffHook);
        Key(kKeyOnHook);
        EXPECT_EQ(skype.Take(), "");
        mci.calls.clear();
    }
}

// A repeated RINGING of the call that rings while another call's rejection stands must not turn
// it into the rejected call: its end still stops the bell.
TEST_F(CallRacesTest, ARepeatedRingDuringARejectionKeepsTheRingingCallOurs) {
    Note("CALL 60 STATUS RINGING");
    Note("CALL 61 STATUS RINGING");
    EXPECT_EQ(skype.Take(), "reply | send:SET CALL 61 STATUS FINISHED");
    Note("CALL 60 STATUS RINGING");
    EXPECT_STREQ(state.otherCallId, "61");
    Note("CALL 60 STATUS MISSED");
    EXPECT_EQ(state.callState.load(), CALL_IDLE);
    EXPECT_EQ(state.ringing.load(), 0);
}

// A call rang (or was answered from a key still queued) while the adapter was away: the new
// phone starts idle, silent, and Skype keeps no call up that nobody can hear.
TEST_F(CallRacesTest, ReopeningEndsWhatHappenedWithoutAPhone) {
    cc->factory = [this](int32_t) { return new TestPhone(phones, false); };
    struct Case {
        const char* name;
        std::function<void()> meanwhile;
        const char* commands;
    };
    const Case cases[] = {
        {"rang", [&] { Note("CALL 70 STATUS RINGING"); }, ""},
        {"answered from a queued key",
         [&] {
             Note("CALL 71 STATUS RINGING");
             Key(kKeyOffHook);
         },
         "send:SET CALL 71 STATUS INPROGRESS | send:SET CALL 71 STATUS FINISHED"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cc->OnWindowMessage(WMU_DEVICE_REMOVED, 0, cc->m_nProductId);
        cc->ReleasePhone();
        state.offHook = 0;
        c.meanwhile();
        cc->OnWindowMessage(WMU_DEVICE_ARRIVED, 0, 0x831C);
        cc->OnTimer(TIMER_OPEN_PHONE);
        ASSERT_NE(cc->m_pPhone.load(), nullptr);
        EXPECT_EQ(skype.Take(), c.commands);
        EXPECT_EQ(state.callState.load(), CALL_IDLE);
        EXPECT_EQ(state.ringing.load(), 0);
        EXPECT_FALSE(window.Armed(TIMER_RING_OFF));
        EXPECT_FALSE(window.Armed(TIMER_RING_ON));
        mci.calls.clear();
    }
}

} // namespace

namespace {

// A line switch lost on the bus (a failed request) is made again: the telephone ends on the line
// the call state says, back on the computer after a PSTN call and on the PSTN line at exit.
TEST_F(CallRacesTest, ALineSwitchLostOnceIsMadeAgain) {
    lab.SetProductId(0x831C);
    state.pstnActive = 1;
    state.callState = CALL_PSTN_IN;
    lab.FailNext(VC_SELECT_LINE, 1);
    cc->OnTimer(TIMER_PSTN_LINE_IDLE);
    EXPECT_EQ(kLineComputer, lab.SelectedLine());
    EXPECT_EQ(0, state.pstnActive.load());

    lab.FailNext(VC_SELECT_LINE, 1);
    cc->ShutDownDevice();
    EXPECT_EQ(kLinePstn, lab.SelectedLine());
}

} // namespace
