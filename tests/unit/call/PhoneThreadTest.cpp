// The two threads: removal, re-arrival and shutdown racing the polling thread while the GUI
// thread rings, checks the line and resumes the phone. Whatever wins, every phone is released
// exactly once and never used after. Meant for the TSan build as much as the plain one.
#include "unit/call/CallTestSupport.h"

#include <chrono>
#include <thread>

namespace {

class PhoneThreadTest : public CallTest {};

TEST_F(PhoneThreadTest, EveryPhoneIsReleasedOnceWhateverWinsTheRace) {
    lab.SetCallLimit(1000);
    constexpr int kIterations = 150;
    for (int i = 0; i < kIterations; ++i) {
        SCOPED_TRACE(i);
        cc = std::make_unique<TestCallControl>(state, window, skype);
        cc->factory = [this](int32_t) { return new TestPhone(phones, true); };
        ASSERT_EQ(cc->OpenPhone(), 1);
        state.bridgeReady = 1;
        state.ringing = 1;
        // The GUI thread uses the phone while the thread polls it.
        cc->OnTimer(TIMER_RING_OFF);
        cc->OnTimer(TIMER_STATUS_POLL);

        switch (i % 4) {
        case 0: // removal, then shutdown at once: both may release
            cc->OnWindowMessage(WMU_DEVICE_REMOVED, 0, 0x831C);
            cc->OnTimer(TIMER_RING_ON);
            cc->ShutDownDevice();
            break;
        case 1: // shutdown while polling
            cc->OnWindowMessage(0x218, 7, 0);
            cc->ShutDownDevice();
            break;
        case 2: // removal and re-arrival before the old thread is done
            cc->OnWindowMessage(WMU_DEVICE_REMOVED, 0, 0x831C);
            cc->OnWindowMessage(WMU_DEVICE_ARRIVED, 0, 0x831C);
            cc->OnTimer(TIMER_OPEN_PHONE);
            cc->OnTimer(TIMER_RING_ON);
            cc->OnPhoneKey(kKeyHash);
            cc->ShutDownDevice();
            break;
        case 3: // the release on the GUI thread while the thread is mid-pass
            cc->ReleasePhone();
            cc->OnTimer(TIMER_PSTN_LINE_IDLE);
            cc->ShutDownDevice();
            break;
        }
        EXPECT_EQ(cc->m_pPhone.load(), nullptr);
        cc.reset(); // joins a thread that outlived shutdown's wait
        EXPECT_EQ(phones.deleted.load(), phones.created.load());
        EXPECT_EQ(phones.usedAfterDelete.load(), 0);
        state.callState = CALL_IDLE;
        state.pstnActive = 0;
    }
    EXPECT_GE(phones.created.load(), kIterations);
}

// A phone whose first poll makes the GUI thread wait for deviceLock, and whose second poll
// notes whether the GUI thread has had it in between.
class ContendedPhone : public TestPhone {
  public:
    using TestPhone::TestPhone;
    ~ContendedPhone() override {
        if (gui.joinable()) gui.join();
    }
    int PollEvent() override {
        DeviceLockGuard hold;
        if (++calls == 1) {
            gui = std::thread([this] {
                DeviceLockGuard guiHold;
                guiHadLock = true;
            });
            while (DeviceLockWaiters() == 0)
                std::this_thread::yield();
        } else if (calls == 2) {
            guiHadLockBeforeSecondPoll = guiHadLock.load();
        }
        return 0;
    }
    std::thread gui;
    int calls = 0;
    std::atomic<bool> guiHadLock{false};
    bool guiHadLockBeforeSecondPoll = false;
};

TEST_F(PhoneThreadTest, PollingStandsAsideForAWaitingGuiThread) {
    // Real pauses here: the point is what the other thread gets to do meanwhile.
    SetClock(nullptr);
    auto* phone = new ContendedPhone(phones);
    cc->m_pPhone = phone;
    state.devicePresent = 1;
    state.bridgeReady = 1;
    state.voipOnly = 1; // a pass is the key poll only
    ASSERT_TRUE(cc->PhoneEventPass());
    ASSERT_TRUE(cc->PhoneEventPass());
    EXPECT_TRUE(phone->guiHadLockBeforeSecondPoll);
    cc->ReleasePhone();
}

TEST_F(PhoneThreadTest, LoopPausesWhenThereIsNothingToPoll) {
    // No phone, and a phone while the bridge is not ready: each pass waits instead of spinning.
    for (bool withPhone : {false, true}) {
        SCOPED_TRACE(withPhone);
        if (withPhone) InstallTestPhone();
        state.bridgeReady = 0;
        const uint64_t before = clock.TotalSlept();
        for (int i = 0; i < 10; ++i)
            ASSERT_TRUE(cc->PhoneEventPass());
        EXPECT_GE(clock.TotalSlept() - before, 10u * CallControl::kIdlePauseMs);
    }
}

// What the debug build's thread checks take for the GUI thread: the first thread to ask, for
// good; and a pass there is amiss only while a phone event thread of ours runs.
TEST_F(PhoneThreadTest, TheGuiThreadIsTheFirstToCallAHandler) {
    auto fromOtherThread = [&](bool& gui, bool& guiBesidePhoneThread) {
        std::thread([&] {
            gui = cc->OnGuiThread();
            guiBesidePhoneThread = cc->GuiThreadWithPhoneThreadRunning();
        }).join();
    };
    bool gui = true, beside = true;
    EXPECT_FALSE(cc->GuiThreadWithPhoneThreadRunning()); // nobody has asked yet
    EXPECT_TRUE(cc->OnGuiThread());
    fromOtherThread(gui, beside);
    EXPECT_FALSE(gui);
    EXPECT_TRUE(cc->OnGuiThread());

    cc->factory = [this](int32_t) { return new TestPhone(phones, true); };
    ASSERT_EQ(cc->OpenPhone(), 1);
    EXPECT_TRUE(cc->GuiThreadWithPhoneThreadRunning());
    fromOtherThread(gui, beside);
    EXPECT_FALSE(gui);
    EXPECT_FALSE(beside);
    cc->ShutDownDevice();
    cc.reset(); // joins a thread that outlived shutdown's wait

    // Another thread asked first: this one is not the GUI thread of that object.
    cc = std::make_unique<TestCallControl>(state, window, skype);
    fromOtherThread(gui, beside);
    EXPECT_TRUE(gui);
    EXPECT_FALSE(cc->OnGuiThread());
}

TEST_F(PhoneThreadTest, StopRequestsEndTheLoop) {
    TestPhone* phone = InstallTestPhone();
    cc->m_bStopThread = 1;
    EXPECT_FALSE(cc->PhoneEventPass());
    EXPECT_EQ(cc->m_pPhone.load(), phone); // stopping alone releases nothing

    lab.ClearCalls();
    cc->m_bReleaseOnStop = 1;
    EXPECT_FALSE(cc->PhoneEventPass());
    EXPECT_EQ(cc->m_pPhone.load(), nullptr);
    EXPECT_EQ(phones.Take(), "line0");
    EXPECT_EQ(lab.CallsOf(VC_CLOSE_MIXER).size(), 1u);
    EXPECT_EQ(lab.CallsOf(VC_CLOSE).size(), 1u);
    EXPECT_EQ(state.deviceLockDeleted.load(), 1);

    // The thread body clears m_hThread when it ends.
    cc->m_hThread = 1;
    cc->PhoneEventLoop();
    EXPECT_EQ(cc->m_hThread.load(), 0);
}

} // namespace
