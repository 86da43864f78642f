// The key handler: collecting a number, placing the call (speed dial with its playback, "+"
// numbers), the bounds of the number, hook keys and function keys.
#include "unit/call/CallTestSupport.h"

#include <cstring>

namespace {

class PhoneKeysTest : public CallTest {
  protected:
    void SetUp() override {
        CallTest::SetUp();
        phone = InstallTestPhone();
        state.offHook = 1;
    }
    TestPhone* phone = nullptr;
};

TEST_F(PhoneKeysTest, HashPlacesTheCallForWhatWasDialled) {
    struct Case {
        const char* keys;
        const char* slotName; // for the slot the number names
        const char* played;   // the playback file, in "wav"
        const char* command;
    };
    const Case cases[] = {
        {"5#", "alice.wav", "alice.wav", "send:CALL 5"},
        {"17#", "bob.wav", "bob.wav", "send:CALL 17"},
        {"20#", "carol.wav", "carol.wav", "send:CALL 20"},
        {"7#", "", "", "send:CALL 7"},           // empty slot: no playback
        {"05#", "dave.wav", "", "send:CALL 05"}, // the "0" rule: no playback
        {"0#", "erin.wav", "", "send:CALL 0"},
        {"21#", "frank.wav", "", "send:CALL 21"}, // above 20: no slot
        {"99#", "gina.wav", "", "send:CALL 99"},
        {"123#", "", "", "send:CALL +123"},
        {"4930123456#", "", "", "send:CALL +4930123456"},
        {"12*#", "", "", "send:CALL +12*"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        mci.calls.clear();
        state.dialPending = 0; // Skype answered the last case's dial
        for (int slot = 1; slot <= 20; ++slot)
            window.SetSlot(slot, "");
        // Every slot the number could name holds the name; only the right one may be played.
        const int value = std::atoi(c.keys);
        if (value >= 1 && value <= 20) window.SetSlot(value, c.slotName);

        size_t promptsAtSend = 0;
        skype.onSend = [&] { promptsAtSend = mci.calls.size(); };
        Dial(phone, c.keys);

        EXPECT_EQ(skype.Take(), c.command);
        EXPECT_EQ(Prompts(), *c.played ? kWavPrefix + std::string(c.played) : "");
        // The playback has been played to its end (and closed) before the call is placed.
        EXPECT_EQ(promptsAtSend, mci.calls.size());
        if (*c.played) {
            ASSERT_EQ(mci.calls.size(), 3u);
            EXPECT_EQ(FakeMci::Name(mci.calls[1].command), std::string("PLAY"));
            EXPECT_TRUE(mci.calls[1].flags & MCI_FLAG_WAIT);
            EXPECT_EQ(FakeMci::Name(mci.calls.back().command), std::string("CLOSE"));
        }
        EXPECT_STREQ(state.dialed, "");
        EXPECT_EQ(state.dialedLen, 0);
    }
}

TEST_F(PhoneKeysTest, KeysOnHookAreNotCollected) {
    state.offHook = 0;
    Dial(phone, "12*");
    EXPECT_STREQ(state.dialed, "");
    EXPECT_EQ(state.dialedLen, 0);
    // Nothing to call: the hash key on an empty number takes the PSTN line instead.
    state.voipOnly = 1;
    Dial(phone, "#");
    EXPECT_EQ(skype.Take(), "");
    EXPECT_EQ(state.callState.load(), CALL_IDLE);
}

TEST_F(PhoneKeysTest, OverlongNumberStopsGrowingAndStillFitsWithItsPlus) {
    Dial(phone, std::string(100, '9'));
    EXPECT_EQ(state.dialedLen, CallControl::kMaxDialed);
    EXPECT_EQ(std::strlen(state.dialed), static_cast<size_t>(CallControl::kMaxDialed));
    Dial(phone, "*");
    EXPECT_EQ(state.dialedLen, CallControl::kMaxDialed);

    Dial(phone, "#");
    EXPECT_EQ(skype.Take(), "send:CALL +" + std::string(CallControl::kMaxDialed, '9'));
    EXPECT_STREQ(state.dialed, "");
}

TEST_F(PhoneKeysTest, HashOnEmptyNumberTakesThePstnLineOnlyInAutoWhenIdle) {
    struct Case {
        uint8_t voipOnly;
        int32_t callState;
        bool takes;
    };
    const Case cases[] = {{0, CALL_IDLE, true},
                          {1, CALL_IDLE, false},
                          {0, CALL_IN_PROGRESS, false},
                          {0, CALL_GOING_OUT, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "voipOnly " << int(c.voipOnly) << " state " << c.callState);
        state.voipOnly = c.voipOnly;
        state.callState = c.callState;
        state.pstnActive = 0;
        phones.Take();
        lab.ClearCalls();
        const uint64_t before = clock.TotalSlept();
        Dial(phone, "#");
        EXPECT_EQ(state.pstnActive.load(), c.takes ? 1 : 0);
        EXPECT_EQ(state.callState.load(), c.takes ? CALL_PSTN_OUT : c.callState);
        EXPECT_EQ(phones.Take(), c.takes ? "line0" : "");
        EXPECT_EQ(lab.CallsOf(VC_SELECT_LINE).size(), c.takes ? 1u : 0u);
        if (c.takes) {
            EXPECT_GE(clock.TotalSlept() - before, 500u);
        }
        EXPECT_EQ(skype.Take(), "");
    }
}

TEST_F(PhoneKeysTest, NoPhoneOpenKeysOnlyTouchTheState) {
    // A key still queued after the phone went away.
    cc->ReleasePhone();
    phones.Take();
    lab.ClearCalls();
    state.voipOnly = 0;
    cc->OnPhoneKey(kKeyHash);
    EXPECT_EQ(state.pstnActive.load(), 0); // no phone, no PSTN take
    state.ringing = 1;
    state.callState = CALL_RINGING_IN;
    std::strcpy(state.callId, "17");
    cc->OnPhoneKey(kKeyOffHook);
    EXPECT_EQ(state.ringing.load(), 0);
    EXPECT_EQ(skype.Take(), "send:SET CALL 17 STATUS INPROGRESS");
    window.focusOutside = true;
    cc->OnPhoneKey(13);
    EXPECT_EQ(lab.CallCount(), 0);
}

TEST_F(PhoneKeysTest, FunctionKeysReachTheLibraryOnlyWithFocusElsewhere) {
    for (bool outside : {false, true}) {
        SCOPED_TRACE(outside);
        window.focusOutside = outside;
        lab.ClearCalls();
        for (uint8_t key : {13, 8, 138, 139})
            cc->OnPhoneKey(key);
        std::vector<LabCall> calls = lab.CallsOf(VC_KEY_EVENT);
        ASSERT_EQ(calls.size(), outside ? 8u : 0u);
        if (outside) {
            EXPECT_EQ(calls[0].param, 13);
            EXPECT_EQ(calls[4].param, static_cast<int>(static_cast<char>(138)));
        }
    }
    // Key 0 is no key at all.
    lab.ClearCalls();
    cc->OnPhoneKey(kKeyNone);
    EXPECT_EQ(lab.CallCount(), 0);
}

TEST_F(PhoneKeysTest, HookKeysDialToneAndHangUp) {
    state.offHook = 0;
    Dial(phone, std::string(1, static_cast<char>(kKeyOffHook)));
    EXPECT_EQ(state.offHook.load(), 1);
    EXPECT_EQ(state.playerIdle.load(), 0);
    ASSERT_EQ(mci.calls.size(), 2u);
    EXPECT_EQ(mci.calls[0].element, "tone.wav");
    EXPECT_TRUE(mci.calls[1].flags & MCI_FLAG_NOTIFY);
    EXPECT_EQ(mci.calls[1].callback, kMainWnd);

    // The first digit ends the dial tone.
    mci.calls.clear();
    Dial(phone, "1");
    EXPECT_EQ(FakeMci::Name(mci.calls.at(0).command), std::string("STOP"));
    EXPECT_EQ(FakeMci::Name(mci.calls.at(1).command), std::string("CLOSE"));

    // Hanging up idle clears the number and sends nothing.
    Dial(phone, std::string(1, static_cast<char>(kKeyOnHook)));
    EXPECT_EQ(state.offHook.load(), 0);
    EXPECT_STREQ(state.dialed, "");
    EXPECT_EQ(skype.Take(), "");
    // On hook again: nothing changes.
    Dial(phone, std::string(1, static_cast<char>(kKeyOnHook)));
    EXPECT_EQ(state.callState.load(), CALL_IDLE);
    EXPECT_EQ(skype.Take(), "");
}

TEST_F(PhoneKeysTest, KeyMessagesCarryTheSignExtendedCodeAndTheirMarker) {
    state.offHook = 0;
    // Another wParam is not a key event.
    cc->OnWindowMessage(WMU_PHONE_KEY, 99, static_cast<intptr_t>(static_cast<int8_t>(0x8E)));
    EXPECT_EQ(state.offHook.load(), 0);
    cc->OnWindowMessage(WMU_PHONE_KEY, PHONE_KEY_EVENT,
                        static_cast<intptr_t>(static_cast<int8_t>(0x8E)));
    EXPECT_EQ(state.offHook.load(), 1);
}

TEST_F(PhoneKeysTest, IncomingCallWhileOffHookAnsweredByStarOrRejectedByHangingUp) {
    cc->OnSkypeNotification("CALL 31 STATUS RINGING");
    EXPECT_EQ(state.callState.load(), CALL_RINGING_IN);
    EXPECT_EQ(state.ringing.load(), 0);
    EXPECT_FALSE(window.Armed(TIMER_RING_OFF));
    Dial(phone, "*");
    EXPECT_EQ(skype.Take(), "send:SET CALL 31 STATUS INPROGRESS");
    EXPECT_EQ(state.callState.load(), CALL_IN_PROGRESS);

    state.callState = CALL_IDLE;
    cc->OnSkypeNotification("CALL 32 STATUS RINGING");
    Dial(phone, std::string(1, static_cast<char>(kKeyOnHook)));
    EXPECT_EQ(skype.Take(), "send:SET CALL 32 STATUS FINISHED");
    EXPECT_EQ(state.callState.load(), CALL_IDLE);
}

TEST_F(PhoneKeysTest, PstnRingNotifyEndsTheDialToneAndPlaysOnTheDefaultDevice) {
    state.playerIdle = 0;
    promptPlayer.Open("tone.wav"); // the dial tone is playing
    mci.calls.clear();
    const uint64_t before = clock.TotalSlept();
    cc->OnPstnRingNotify();
    EXPECT_GE(clock.TotalSlept() - before, 500u);
    std::vector<std::string> seq;
    for (const MciCall& c : mci.calls)
        seq.push_back(FakeMci::Name(c.command));
    EXPECT_EQ(JoinWords(seq), "STOP CLOSE OPEN PLAY CLOSE");
    EXPECT_EQ(mci.calls[2].element, "notify.wav");
    EXPECT_TRUE(mci.calls[3].flags & MCI_FLAG_WAIT);
}

} // namespace
