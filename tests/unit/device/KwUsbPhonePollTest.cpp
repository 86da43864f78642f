// Event polling and key translation of the USB phone against the lab's line chip.
#include "DeviceTestSupport.h"
#include "device/KwUsbPhone.h"

#include <functional>

namespace {

struct PollCase {
    const char* name;
    std::function<void(LabAdapter&)> stimulus;
    int result;
    int32_t lastEvent;
    PhoneKey key;
    unsigned pausedMs; // virtual time the poll waited
};

} // namespace

class PollTest : public LabDeviceTest {
  protected:
    // A phone brought up on the lab, with the record cleared.
    void BringUp(KwUsbPhone& phone) {
        phone.Initialize();
        lab.ClearCalls();
    }
};

TEST_F(PollTest, EventsAndTheirKeys) {
    const PollCase cases[] = {
        {"nothing pending", [](LabAdapter&) {}, 0, kEventNone, kKeyNone, 0},
        {"receiver lifted", [](LabAdapter& l) { l.LiftReceiver(); }, 1, kEventOffHook, kKeyOffHook,
         50},
        {"receiver put down",
         [](LabAdapter& l) {
             l.LiftReceiver();
             KwUsbPhone(0).PollEvent(); // takes the lift
             l.ReplaceReceiver();
         },
         1, kEventOnHook, kKeyOnHook, 50},
        {"digit 5", [](LabAdapter& l) { l.PressDtmf('5'); }, 1, 5, '5', 0},
        {"digit 9", [](LabAdapter& l) { l.PressDtmf('9'); }, 1, 9, '9', 0},
        {"digit 0 (code 10)", [](LabAdapter& l) { l.PressDtmf('0'); }, 1, 0, '0', 0},
        {"code 0 (key D)", [](LabAdapter& l) { l.PressDtmf('D'); }, 1, 0, '0', 0},
        {"star", [](LabAdapter& l) { l.PressDtmf('*'); }, 1, kEventStar, kKeyStar, 0},
        {"hash", [](LabAdapter& l) { l.PressDtmf('#'); }, 1, kEventHash, kKeyHash, 0},
        {"code 13 (key A)", [](LabAdapter& l) { l.PressDtmf('A'); }, 1, 13, kKeyNone, 0},
        {"code 15 (key C)", [](LabAdapter& l) { l.PressDtmf('C'); }, 1, 15, kKeyNone, 0},
        {"hook and digit at once",
         [](LabAdapter& l) {
             l.LiftReceiver();
             l.PressDtmf('7');
         },
         1, kEventOffHook, kKeyOffHook, 50},
        {"pin register unreadable",
         [](LabAdapter& l) {
             l.PressDtmf('5');
             l.FailReads(LabTarget::Bridge, 18, 1);
         },
         0, kEventNone, kKeyNone, 0},
        // The digit's own flag is cleared: it counts, or it would be lost.
        {"the other flag's write fails",
         [](LabAdapter& l) {
             l.PressDtmf('5');
             l.FailNext(4, 1); // the write-back of register 19
         },
         1, 5, '5', 0},
        // Its flag stays set: found again by the next poll.
        {"its own flag's write fails",
         [](LabAdapter& l) {
             l.PressDtmf('5');
             l.FailNext(4, 2); // both write-backs
         },
         0, kEventNone, kKeyNone, 0},
    };
    for (const PollCase& c : cases) {
        SCOPED_TRACE(c.name);
        LabAdapter fresh;
        SetCurrentLabAdapter(&fresh);
        KwUsbPhone phone(0);
        phone.Initialize();
        c.stimulus(fresh);
        phone.lastEvent = 99; // stale: every poll starts afresh

        const uint64_t before = clock.TotalSlept();
        EXPECT_EQ(c.result, phone.PollEvent());
        EXPECT_EQ(c.pausedMs, clock.TotalSlept() - before);
        EXPECT_EQ(c.lastEvent, phone.lastEvent);
        EXPECT_EQ(c.key, phone.GetEventKey());
        SetCurrentLabAdapter(&lab);
    }
}

TEST_F(PollTest, AHookChangeSwallowsTheDigitOfTheSamePoll) {
    KwUsbPhone phone(0);
    BringUp(phone);
    lab.LiftReceiver();
    lab.PressDtmf('7');
    ASSERT_EQ(1, phone.PollEvent());
    EXPECT_EQ(kEventOffHook, phone.lastEvent);
    // The DTMF decode register was never read, and both flags were written back.
    const std::vector<std::string> expected = {"d8?",    "d64?",   "b18?",   "d19?",   "d20?",
                                               "d64=11", "d34=00", "d19=02", "d20=01", "d68?"};
    EXPECT_TRUE(SameOps(expected, TakeOps()));
    EXPECT_EQ(0, phone.PollEvent()); // the digit is gone
}

TEST_F(PollTest, ADigitIsReadAndItsFlagCleared) {
    KwUsbPhone phone(0);
    BringUp(phone);
    lab.PressDtmf('5');
    WatchLock();
    ASSERT_EQ(1, phone.PollEvent());
    const std::vector<std::string> expected = {"d8?",  "d64?", "b18?",   "d19?",
                                               "d20?", "d24?", "d19=00", "d20=01"};
    EXPECT_TRUE(SameOps(expected, TakeOps()));
    EXPECT_TRUE(AllCallsLocked());
    EXPECT_EQ(0, phone.PollEvent());
}

TEST_F(PollTest, LiftingAReceiverStopsTheRinging) {
    KwUsbPhone phone(0);
    BringUp(phone);
    phone.SetRinging(1);
    EXPECT_TRUE(lab.Ringing());
    lab.LiftReceiver();
    ASSERT_EQ(1, phone.PollEvent());
    EXPECT_FALSE(lab.Ringing());
    EXPECT_EQ(kKeyOffHook, phone.GetEventKey());
}

TEST_F(PollTest, HookKeysLeaveTheDialToneOff) {
    KwUsbPhone phone(0);
    BringUp(phone);
    phone.PlayTone(0, 1);
    ASSERT_TRUE(lab.Tone().on);
    lab.LiftReceiver();
    ASSERT_EQ(1, phone.PollEvent());
    EXPECT_EQ(kKeyOffHook, phone.GetEventKey());
    EXPECT_FALSE(lab.Tone().on);
}

TEST_F(PollTest, ASlicFoundInResetIsSetUpAgain) {
    KwUsbPhone phone(0);
    BringUp(phone);
    lab.ResetSlic();
    const uint64_t before = clock.TotalSlept();
    EXPECT_EQ(0, phone.PollEvent());
    // 50 ms to look again, then the whole bring-up (2.4 s of waits).
    EXPECT_EQ(50u + 2400u, clock.TotalSlept() - before);
    EXPECT_EQ(0x11, lab.SlicDirect(64));
    EXPECT_EQ(3, lab.SlicDirect(22));
    // Set up again, it reports the next key as usual.
    lab.PressDtmf('3');
    EXPECT_EQ(1, phone.PollEvent());
    EXPECT_EQ('3', phone.GetEventKey());
}

TEST_F(PollTest, TheLookForAResetChipIsRateLimited) {
    // Loopback and line feed: read at the first poll, then once a second of clock time while the
    // chip is found working; at every poll while a read fails or the chip looks reset.
    KwUsbPhone phone(0);
    auto looks = [&](int polls) {
        int reads = 0;
        for (int i = 0; i < polls; ++i) {
            lab.ClearCalls();
            phone.PollEvent();
            for (const std::string& op : TakeOps())
                if (op == "d8?") ++reads;
        }
        return reads;
    };
    BringUp(phone);
    EXPECT_EQ(1, looks(10));
    clock.Advance(kSlicResetCheckIntervalMs - 1);
    EXPECT_EQ(0, looks(1));
    clock.Advance(1);
    EXPECT_EQ(1, looks(10));

    // A failed read tells nothing: looked at again at the next poll.
    clock.Advance(kSlicResetCheckIntervalMs);
    lab.FailReads(LabTarget::SlicDirect, 64, 1);
    EXPECT_EQ(2, looks(10));

    // A reset between two looks is found at the next one and the chip set up again; the look
    // after that bring-up comes at once.
    lab.ResetSlic();
    EXPECT_EQ(0, looks(5));
    EXPECT_EQ(0, lab.SlicDirect(64));
    clock.Advance(kSlicResetCheckIntervalMs);
    lab.ClearCalls();
    phone.PollEvent();
    EXPECT_EQ(0x11, lab.SlicDirect(64));
    EXPECT_EQ(1, looks(10));
    lab.PressDtmf('3');
    EXPECT_EQ(1, phone.PollEvent());
    EXPECT_EQ('3', phone.GetEventKey());
}

TEST_F(PollTest, RelayVariantLeftInResetWaitsAndPollsOn) {
    // The lab's chip starts in its reset state, and this variant's Initialize does nothing.
    KwUsbPhoneRelay phone(0);
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        const uint64_t before = clock.TotalSlept();
        EXPECT_EQ(0, phone.PollEvent());
        EXPECT_EQ(50u, clock.TotalSlept() - before);
        const std::vector<std::string> expected = {"d8?", "d64?", "d8?", "d64?", "b18?"};
        EXPECT_TRUE(SameOps(expected, TakeOps()));
    }
}

TEST_F(PollTest, RingingSwitchesTheLineFeed) {
    KwUsbPhone phone(0);
    BringUp(phone);
    WatchLock();
    EXPECT_EQ(1, phone.SetRinging(1));
    EXPECT_EQ(1, phone.SetRinging(0));
    EXPECT_TRUE(SameOps({"d34=18", "d64=44", "d64=11", "d34=00"}, TakeOps()));
    EXPECT_TRUE(AllCallsLocked());
    lab.FailNext(4, 2);
    EXPECT_EQ(0, phone.SetRinging(1)); // the line feed write's result
    lab.FailNext(4, 1);
    EXPECT_EQ(0, phone.SetRinging(0));
}

TEST_F(PollTest, HookStateComesFromTheSlic) {
    KwUsbPhone phone(0);
    BringUp(phone);
    EXPECT_EQ(0, phone.IsOffHook());
    lab.LiftReceiver();
    EXPECT_EQ(1, phone.IsOffHook());
    lab.FailReads(LabTarget::SlicDirect, 68, 1);
    EXPECT_EQ(0, phone.IsOffHook()); // unreadable: on hook
}
