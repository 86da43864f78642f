// The whole call state machine: every event against every call state, each cell on a fresh
// bridge. Phone events go through the phone event loop (a scripted phone) and then the key
// handler, so "not read" in the PSTN states is the loop's doing, as in the program.
#include "unit/call/CallTestSupport.h"

#include <cstring>

namespace {

constexpr int K = -1; // as before the event

struct Cell {
    int callState = K, pstnActive = K, busyRejected = K, ringing = K, offHook = K, attach = K;
    std::string window, skype, phone, prompts;
    const char* callId = nullptr; // null: not checked
    const char* dialed = nullptr;
    bool skip = false;

    Cell& Pstn(int v) { return pstnActive = v, *this; }
    Cell& Busy(int v) { return busyRejected = v, *this; }
    Cell& Ring(int v) { return ringing = v, *this; }
    Cell& Hook(int v) { return offHook = v, *this; }
    Cell& Attach(int v) { return attach = v, *this; }
    Cell& Win(const char* v) { return window = v, *this; }
    Cell& Sky(const char* v) { return skype = v, *this; }
    Cell& Ph(const char* v) { return phone = v, *this; }
    Cell& Pr(const char* v) { return prompts = v, *this; }
    Cell& Id(const char* v) { return callId = v, *this; }
    Cell& Dialed(const char* v) { return dialed = v, *this; }
};
Cell Same() {
    return Cell{};
}
Cell To(int state) {
    Cell c;
    c.callState = state;
    return c;
}
Cell NotApplicable() {
    Cell c;
    c.skip = true;
    return c;
}

constexpr int kStates[] = {0, 2, 3, 4, 5, 6};

// A gateway: the lab shows a busy PSTN line on its line-use pin.
constexpr int32_t kProduct = 0xC39C;

// One bridge per cell.
struct Bench {
    explicit Bench(LabAdapter& lab) : lab(lab) {}
    LabAdapter& lab;
    BridgeState state;
    FakeWindow window;
    FakeSkype skype{state};
    PhoneRecord phones;
    TestCallControl cc{state, window, skype};
    TestPhone* phone = nullptr;

    // The situation each state is normally in. In the idle state "17" is the call just ended.
    void Enter(int callState) {
        phone = new TestPhone(phones);
        cc.m_pPhone = phone;
        cc.m_nProductId = kProduct;
        state.deviceLockDeleted = 0;
        state.devicePresent = 1;
        state.bridgeReady = 1;
        state.attachStatus = ATTACH_SUCCESS;
        state.playerIdle = 1;
        state.callState = callState;
        std::strcpy(state.commandText, "GET CALL 17 STATUS");
        std::strcpy(state.callId, "17");
        switch (callState) {
        case 2: state.ringing = 1; break; // rings: on hook
        case 3:
        case 4: state.offHook = 1; break;
        case 5: // the telephone rings from the line; the ring burst is over
            state.pstnActive = 1;
            state.ringSeen = 1;
            state.ringEndTimerArmed = 1;
            break;
        case 6: // the user is on the PSTN line
            state.pstnActive = 1;
            state.offHook = 1;
            lab.SetPstnLineBusy(true);
            break;
        }
    }
    void Key(PhoneKey key) {
        phone->Press(key);
        ASSERT_TRUE(cc.PhoneEventPass());
        for (int8_t k : window.TakeKeys())
            cc.OnWindowMessage(WMU_PHONE_KEY, PHONE_KEY_EVENT, static_cast<intptr_t>(k));
    }
    // The window's words without the key posts (the loop's part, tested on its own).
    std::string WindowWords() {
        std::string all = window.Take(), out, word;
        for (size_t i = 0; i <= all.size(); ++i) {
            if (i < all.size() && all[i] != ' ') {
                word += all[i];
                continue;
            }
            if (!word.empty() && word.compare(0, 3, "key") != 0)
                out += (out.empty() ? "" : " ") + word;
            word.clear();
        }
        return out;
    }
};

struct Row {
    std::string event;
    std::function<void(Bench&)> before; // a precondition of the row, after entering the state
    std::function<void(Bench&)> act;
    bool keyRow;
    Cell cells[6];
};

std::function<void(Bench&)> Note(const std::string& text) {
    return [text](Bench& b) { b.cc.OnSkypeNotification(text.c_str()); };
}
std::function<void(Bench&)> PressKey(PhoneKey key) {
    return [key](Bench& b) { b.Key(key); };
}
void Nothing(Bench&) {}
// Call 23 was rejected as busy a moment ago.
void TurnedAway(Bench& b) {
    b.state.busyRejected = 1;
    std::strcpy(b.state.otherCallId, "23");
}
// A "CALL" of ours waits for Skype to report the call it makes.
void DialSent(Bench& b) {
    b.state.dialPending = 1;
    b.state.dialSentMs = GetClock().NowMs();
}
// Call 23 was hung up by us a moment ago.
void HungUp23(Bench& b) {
    std::strcpy(b.state.recentCalls[0].id, "23");
    b.state.recentCalls[0].hungUp = 1;
    b.state.recentCallsNext = 1;
}
void LiftedNotRinging(Bench& b) {
    b.state.offHook = 1;
    b.state.ringing = 0;
}

class CallStateMachineTest : public CallTest {};

TEST_F(CallStateMachineTest, EveryEventInEveryState) {
    const char* kReject23 = "reply | send:SET CALL 23 STATUS FINISHED";
    const char* kReject17 = "reply | send:SET CALL 17 STATUS FINISHED";
    const char* kEnd = "kill9 icon128 arm6:2000";
    const char* kRingStopEnd = "kill3 kill4 kill9 icon128 arm6:2000";
    const char* kAnswer = "send:SET CALL 17 STATUS INPROGRESS";
    const char* kHangUp = "send:SET CALL 17 STATUS FINISHED";

    std::vector<Row> rows = {
        {"RINGING, new id",
         Nothing,
         Note("CALL 23 STATUS RINGING"),
         false,
         {To(2).Ring(1).Win("arm3:3000").Id("23"), Same().Busy(1).Sky(kReject23).Id("17"),
          Same().Id("17"), Same().Busy(1).Sky(kReject23).Id("17"),
          // On the PSTN line the call is turned away without becoming the current call.
          Same().Busy(1).Sky(kReject23).Id("17"), Same().Busy(1).Sky(kReject23).Id("17")}},
        {"RINGING, id = callId",
         Nothing,
         Note("CALL 17 STATUS RINGING"),
         false,
         {To(2).Ring(1).Win("arm3:3000").Id("17"), Same(), Same(), Same(),
          Same().Busy(1).Sky(kReject17), Same().Busy(1).Sky(kReject17)}},
        // A call set up at the computer becomes the telephone's only while the telephone has
        // none of its own; the answer to the phone's own dial always does.
        {"ROUTING",
         Nothing,
         Note("CALL 23 STATUS ROUTING"),
         false,
         {To(3).Id("23"), Same().Id("17"), Same().Id("17"), Same().Id("17"),
          Same().Busy(1).Sky(kReject23).Id("17"), Same().Busy(1).Sky(kReject23).Id("17")}},
        {"UNPLACED",
         Nothing,
         Note("CALL 23 STATUS UNPLACED"),
         false,
         {To(3).Id("23"), Same().Id("17"), Same().Id("17"), Same().Id("17"),
          Same().Busy(1).Sky(kReject23).Id("17"), Same().Busy(1).Sky(kReject23).Id("17")}},
        {"ROUTING, id = callId",
         Nothing,
         Note("CALL 17 STATUS ROUTING"),
         false,
         {To(3), To(3), To(3), To(3), Same().Busy(1).Sky(kReject17), Same().Busy(1).Sky(kReject17)}},
        {"ROUTING answering our dial",
         DialSent,
         Note("CALL 23 STATUS ROUTING"),
         false,
         {To(3).Id("23"), To(3).Id("23"), To(3).Id("23"), To(3).Id("23"),
          Same().Busy(1).Sky(kReject23).Id("17"), Same().Busy(1).Sky(kReject23).Id("17")}},
        // The receiver went down before Skype reported the dialled call: it goes nowhere.
        {"ROUTING answering a dial the receiver gave up",
         [](Bench& b) {
             DialSent(b);
             b.state.hangUpOnArrival = 1;
         },
         Note("CALL 23 STATUS ROUTING"),
         false,
         {Same().Sky("send:SET CALL 23 STATUS FINISHED"),
          Same().Sky("send:SET CALL 23 STATUS FINISHED"),
          Same().Sky("send:SET CALL 23 STATUS FINISHED"),
          Same().Sky("send:SET CALL 23 STATUS FINISHED"), Same().Busy(1).Sky(kReject23),
          Same().Busy(1).Sky(kReject23)}},
        // A status Skype sent before our FINISHED reached it brings nothing back.
        {"RINGING of a call we hung up",
         HungUp23,
         Note("CALL 23 STATUS RINGING"),
         false,
         {Same(), Same(), Same(), Same(), Same(), Same()}},
        {"INPROGRESS of a call we hung up",
         HungUp23,
         Note("CALL 23 STATUS INPROGRESS"),
         false,
         {Same(), Same(), Same(), Same(), Same(), Same()}},
        // A call turned away as busy never becomes the current call: none of its statuses move
        // anything, while the current call's own refusal still ends it.
        {"REFUSED of a rejected call",
         TurnedAway,
         Note("CALL 23 STATUS REFUSED"),
         false,
         {Same(), Same(), Same(), Same(), Same(), Same()}},
        {"FINISHED of a rejected call",
         TurnedAway,
         Note("CALL 23 STATUS FINISHED"),
         false,
         {Same(), Same(), Same(), Same(), Same(), Same()}},
        {"INPROGRESS of a rejected call",
         TurnedAway,
         Note("CALL 23 STATUS INPROGRESS"),
         false,
         {Same(), Same(), Same(), Same(), Same(), Same()}},
        {"ROUTING of a rejected call",
         TurnedAway,
         Note("CALL 23 STATUS ROUTING"),
         false,
         {Same(), Same(), Same(), Same(), Same(), Same()}},
        {"REFUSED of the current call while a rejection stands",
         TurnedAway,
         Note("CALL 17 STATUS REFUSED"),
         false,
         {Same(), To(0).Busy(0).Ring(0).Win(kRingStopEnd).Ph("ring0"), To(0).Busy(0).Win(kEnd),
          To(0).Busy(0).Win(kEnd), To(0).Pstn(1).Busy(0).Win(kEnd),
          To(0).Pstn(1).Busy(0).Win(kEnd)}},
        // Another call taken at the computer is not the telephone's while the telephone has a
        // call of its own or is on the PSTN line.
        {"INPROGRESS",
         Nothing,
         Note("CALL 23 STATUS INPROGRESS"),
         false,
         {To(4).Win("kill6 arm9:500").Id("23"), Same().Id("17"), Same().Id("17"), Same().Id("17"),
          Same().Id("17"), Same().Id("17")}},
        {"INPROGRESS, id = callId",
         Nothing,
         Note("CALL 17 STATUS INPROGRESS"),
         false,
         {To(4).Win("kill6 arm9:500"), To(4).Ring(0).Win("kill3 kill4 kill6 arm9:500").Ph("ring0"),
          To(4).Win("kill6 arm9:500"), To(4).Win("kill6 arm9:500"), Same(), Same()}},
        {"call error",
         Nothing,
         Note("ERROR 71 call error"),
         false,
         {To(0).Busy(0).Sky("reply").Win(kEnd).Pr("error.wav"),
          To(0).Busy(0).Ring(0).Sky("reply").Win(kRingStopEnd).Ph("ring0").Pr("error.wav"),
          To(0).Busy(0).Sky("reply").Win(kEnd).Pr("error.wav"),
          To(0).Busy(0).Sky("reply").Win(kEnd).Pr("error.wav"),
          To(0).Pstn(1).Busy(0).Sky("reply").Win(kEnd).Pr("error.wav"),
          To(0).Pstn(1).Busy(0).Sky("reply").Win(kEnd).Pr("error.wav")}},
        // A call Skype reported and has not ended is no unknown call: the error answers an
        // earlier command.
        {"invalid call id",
         Nothing,
         Note("ERROR 11 Invalid call id"),
         false,
         {To(0).Busy(0).Sky("reply").Win(kEnd).Pr("error.wav"), Same().Sky("reply"),
          Same().Sky("reply"), Same().Sky("reply"),
          To(0).Pstn(1).Busy(0).Sky("reply").Win(kEnd).Pr("error.wav"),
          To(0).Pstn(1).Busy(0).Sky("reply").Win(kEnd).Pr("error.wav")}},
        // The answer to turning away another call that had just ended.
        {"call error answering a command about another call",
         [](Bench& b) { std::strcpy(b.state.commandText, "SET CALL 23 STATUS FINISHED"); },
         Note("ERROR 11 Invalid call id"),
         false,
         {Same().Sky("reply"), Same().Sky("reply"), Same().Sky("reply"), Same().Sky("reply"),
          Same().Sky("reply"), Same().Sky("reply")}},
        {"call error with ERROR 101",
         Nothing,
         Note("ERROR 101 call error"),
         false,
         {Same(), Same(), Same(), Same(), Same(), Same()}},
        {"Access denied",
         [](Bench& b) { b.cc.AllowResend(); },
         Note("ERROR 68 Access denied"),
         false,
         {Same().Sky("reply | send:GET CALL 17 STATUS"),
          Same().Sky("reply | send:GET CALL 17 STATUS"),
          Same().Sky("reply | send:GET CALL 17 STATUS"),
          Same().Sky("reply | send:GET CALL 17 STATUS"),
          Same().Sky("reply | send:GET CALL 17 STATUS"),
          Same().Sky("reply | send:GET CALL 17 STATUS")}},
        {"LOGGEDOUT",
         Nothing,
         Note("CONNSTATUS LOGGEDOUT"),
         false,
         {Same().Attach(255), Same().Attach(255), Same().Attach(255), Same().Attach(255),
          Same().Attach(255), Same().Attach(255)}},
        {"off-hook key",
         Nothing,
         PressKey(kKeyOffHook),
         true,
         {Same().Hook(1).Pr("tone.wav"),
          To(4).Hook(1).Ring(0).Win("kill3 kill4").Ph("ring0").Sky(kAnswer), Same(), Same(),
          Same().Hook(0), Same()}},
        {"star key, off hook",
         LiftedNotRinging,
         PressKey(kKeyStar),
         true,
         {Same().Dialed("*"), To(4).Sky(kAnswer).Dialed(""), Same().Dialed("*"), Same().Dialed("*"),
          Same().Dialed(""), Same().Dialed("")}},
        {"on-hook key",
         LiftedNotRinging,
         PressKey(kKeyOnHook),
         true,
         {To(0).Hook(0), To(0).Hook(0).Sky(kHangUp), To(0).Hook(0).Sky(kHangUp),
          To(0).Hook(0).Sky(kHangUp), Same().Hook(1), Same().Hook(1)}},
        {"hash key, empty number",
         LiftedNotRinging,
         PressKey(kKeyHash),
         true,
         {To(6).Pstn(1).Ph("line0"), Same(), Same(), Same(), Same(), Same()}},
        {"hash key, number given",
         [](Bench& b) {
             LiftedNotRinging(b);
             std::strcpy(b.state.dialed, "123");
             b.state.dialedLen = 3;
         },
         PressKey(kKeyHash),
         true,
         {Same().Sky("send:CALL +123").Dialed(""), Same().Dialed("123"), Same().Dialed("123"),
          Same().Dialed("123"), Same().Dialed("123"), Same().Dialed("123")}},
        // Nobody can hear a call on a device that is gone: one being set up or in progress is
        // hung up; one ringing in is left to ring in Skype, where it can still be taken. (Timer
        // 2, the opening of an arrived device, is cancelled in any case.)
        {"device removed (1.4)",
         Nothing,
         [](Bench& b) { b.cc.OnWindowMessage(WMU_DEVICE_REMOVED, 0, kProduct); },
         false,
         {Same().Win("kill2"),
          To(0).Busy(0).Ring(0).Win("kill2 kill3 kill4 kill9 icon128 arm6:2000").Ph("ring0"),
          To(0).Busy(0).Sky(kHangUp).Win("kill2 kill9 icon128 arm6:2000"),
          To(0).Busy(0).Sky(kHangUp).Win("kill2 kill9 icon128 arm6:2000"), Same().Win("kill2"),
          Same().Win("kill2")}},
        {"PSTN line rings (12 polls)",
         Nothing,
         [](Bench& b) {
             b.phone->pstnRinging = true;
             for (int i = 0; i < 12; ++i)
                 ASSERT_TRUE(b.cc.PhoneEventPass());
         },
         false,
         {To(5).Pstn(1).Win("pstnring").Ph("line0"), Same().Win("pstnring"), Same().Win("pstnring"),
          Same().Win("pstnring"), Same().Win("kill7"), Same()}},
        // Timer 8 is armed only while the telephone is on the PSTN line.
        {"timer 8",
         Nothing,
         [](Bench& b) { b.cc.OnTimer(TIMER_PSTN_LINE_IDLE); },
         false,
         {NotApplicable(), NotApplicable(), NotApplicable(), NotApplicable(),
          To(0).Pstn(0).Win("kill8").Ph("line1"), To(0).Pstn(0).Win("kill8").Ph("line1")}},
    };

    // The ends of a call: each ends the call state and restores the resting state (tray icon,
    // animation off, status poll on), for the current call's id only.
    for (const char* end : {"FINISHED", "MISSED", "REFUSED", "FAILED", "BUSY", "CANCELLED"}) {
        const bool refused = std::strcmp(end, "REFUSED") == 0;
        const std::string current = std::string("CALL 17 STATUS ") + end;
        const std::string other = std::string("CALL 23 STATUS ") + end;
        rows.push_back({current,
                        Nothing,
                        Note(current),
                        false,
                        {refused ? Same() : To(0).Busy(0).Win(kEnd),
                         To(0).Busy(0).Ring(0).Win(kRingStopEnd).Ph("ring0"),
                         To(0).Busy(0).Win(kEnd), To(0).Busy(0).Win(kEnd),
                         To(0).Pstn(1).Busy(0).Win(kEnd), To(0).Pstn(1).Busy(0).Win(kEnd)}});
        rows.push_back(
            {other, Nothing, Note(other), false, {Same(), Same(), Same(), Same(), Same(), Same()}});
    }

    for (const Row& row : rows) {
        for (int col = 0; col < 6; ++col) {
            const Cell& want = row.cells[col];
            if (want.skip) continue;
            SCOPED_TRACE(row.event + " in state " + std::to_string(kStates[col]));

            lab.SetProductId(kProduct);
            lab.SetPstnLineBusy(false);
            lab.ClearCalls();
            ResetWaveAudio();
            mci.calls.clear();
            Bench b(lab);
            b.Enter(kStates[col]);
            row.before(b);
            const int callState = b.state.callState, pstn = b.state.pstnActive,
                      busy = b.state.busyRejected, ringing = b.state.ringing,
                      offHook = b.state.offHook, attach = b.state.attachStatus;
            b.window.Take();
            b.phones.Take();

            row.act(b);

            auto expect = [](int want, int before) { return want == K ? before : want; };
            EXPECT_EQ(b.state.callState.load(), expect(want.callState, callState));
            EXPECT_EQ(b.state.pstnActive.load(), expect(want.pstnActive, pstn));
            EXPECT_EQ(b.state.busyRejected.load(), expect(want.busyRejected, busy));
            EXPECT_EQ(b.state.ringing.load(), expect(want.ringing, ringing));
            EXPECT_EQ(b.state.offHook.load(), expect(want.offHook, offHook));
            EXPECT_EQ(b.state.attachStatus.load(), expect(want.attach, attach));
            EXPECT_EQ(b.WindowWords(), want.window);
            EXPECT_EQ(b.skype.Take(), want.skype);
            EXPECT_EQ(b.phones.Take(), want.phone);
            EXPECT_EQ(Prompts(), want.prompts);
            if (want.callId) {
                EXPECT_STREQ(b.state.callId, want.callId);
            }
            if (want.dialed) {
                EXPECT_STREQ(b.state.dialed, want.dialed);
            }
            // The PSTN states read no keys at all.
            if (row.keyRow) {
                EXPECT_EQ(b.phone->KeysLeft(), kStates[col] >= 5 ? 1u : 0u);
            }
        }
    }
}

} // namespace
