// Opening the phone, device removal and arrival, the window's device and power messages, and
// the device part of shutdown, against the lab adapter.
#include "unit/call/CallTestSupport.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace {

// The library calls that open, name, switch and close the device, as "c<code>(<param>)".
std::string DeviceCalls(LabAdapter& lab) {
    std::vector<std::string> words;
    for (const LabCall& c : lab.Calls()) {
        switch (c.code) {
        case VC_OPEN:
        case VC_CLOSE:
        case VC_UNREGISTER_WINDOW:
        case VC_CLOSE_MIXER: words.push_back("c" + std::to_string(c.code)); break;
        case VC_SELECT_AUDIO_DEVICE:
        case VC_OPEN_MIXER:
            words.push_back("c" + std::to_string(c.code) + "(" + c.text + ")");
            break;
        case VC_SELECT_LINE: words.push_back("c25(" + std::to_string(c.param) + ")"); break;
        default: break;
        }
    }
    lab.ClearCalls();
    return JoinWords(words);
}

class DeviceLifecycleTest : public CallTest {
  protected:
    // Phones made by OpenPhone from now on are test phones.
    void UseTestPhones(bool polling) {
        cc->factory = [this, polling](int32_t) {
            lastPhone = new TestPhone(phones, polling);
            return lastPhone;
        };
    }
    TestPhone* lastPhone = nullptr;
};

TEST_F(DeviceLifecycleTest, OpenPhoneBringsTheCataloguePhoneUp) {
    lab.SetProductId(0x831C);
    state.callState = CALL_IN_PROGRESS;
    state.pstnActive = 1;
    state.dialedLen = 3;
    std::strcpy(state.dialed, "123");
    ASSERT_EQ(cc->OpenPhone(), 1);

    EXPECT_EQ(cc->m_nProductId.load(), 0x831C);
    EXPECT_EQ(cc->m_hThread.load(), 1);
    EXPECT_EQ(cc->m_hMixer.load(), static_cast<intptr_t>(kLabMixerHandle));
    EXPECT_EQ(state.deviceLockDeleted.load(), 0);
    EXPECT_EQ(state.offHook.load(), 0);
    EXPECT_EQ(lab.MixerName(), "USB");
    const std::vector<LabCall> mixer = lab.CallsOf(VC_OPEN_MIXER);
    ASSERT_EQ(mixer.size(), 1u);
    EXPECT_EQ(mixer[0].window, kMainWnd);
    EXPECT_EQ(lab.AudioDeviceName(), "VOZ Odozarad Uduro Ra");
    const std::vector<LabCall> calls = lab.Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front().code, VC_OPEN);
    // The resets.
    EXPECT_EQ(state.callState.load(), CALL_IDLE);
    EXPECT_EQ(state.pstnActive.load(), 0);
    EXPECT_EQ(state.dialedLen, 0);
    EXPECT_STREQ(state.dialed, "");
    EXPECT_EQ(state.devicePresent.load(), 1);
    EXPECT_EQ(state.lineCheckPending.load(), 1);

    // Open already: nothing is asked of the library and nothing is reset.
    lab.ClearCalls();
    state.callState = CALL_IN_PROGRESS;
    EXPECT_EQ(cc->OpenPhone(), 1);
    EXPECT_EQ(state.callState.load(), CALL_IN_PROGRESS);
    EXPECT_EQ(DeviceCalls(lab), "");

    // Shutdown: the thread releases the phone once (on the PSTN line), then the library's
    // window, mixer and device are given back.
    cc->ShutDownDevice();
    const std::string tail = DeviceCalls(lab);
    EXPECT_EQ(cc->m_pPhone.load(), nullptr);
    EXPECT_EQ(cc->m_hMixer.load(), 0);
    EXPECT_TRUE(tail == "c25(0) c32 c1 c17 c32 c1" || tail == "c17 c25(0) c32 c1") << tail;
    EXPECT_FALSE(lab.Opened());
}

TEST_F(DeviceLifecycleTest, UnknownProductOpensNoPhoneButResetsTheBridge) {
    lab.SetProductId(0x1234);
    state.devicePresent = 0;
    state.callState = CALL_GOING_OUT;
    EXPECT_EQ(cc->OpenPhone(), 0);
    EXPECT_EQ(cc->m_pPhone.load(), nullptr);
    EXPECT_EQ(cc->m_hThread.load(), 0);
    EXPECT_EQ(state.devicePresent.load(), 1);
    EXPECT_EQ(state.callState.load(), CALL_IDLE);
    EXPECT_EQ(DeviceCalls(lab), "c0");
    EXPECT_TRUE(lab.Opened()); // stays open until shutdown
}

TEST_F(DeviceLifecycleTest, AudioDeviceFallsBackToUsb) {
    UseTestPhones(false);
    lab.SetAudioDeviceFound(false);
    ASSERT_EQ(cc->OpenPhone(), 1);
    EXPECT_EQ(DeviceCalls(lab), "c0 c25(1) c20(VOZ Odozarad Uduro Ra) c20(USB) c31(USB)");
    EXPECT_EQ(phones.Take(), "init line1");
    EXPECT_EQ(cc->m_hThread.load(), 0);
}

TEST_F(DeviceLifecycleTest, MixerFailureIsShownWithTheLockFree) {
    UseTestPhones(false);
    lab.SetMixerOpens(false);
    ASSERT_EQ(cc->OpenPhone(), 1);
    EXPECT_EQ(cc->m_hMixer.load(), 0);
    EXPECT_EQ(window.Take(), "message:Error:owned:Cannot open mixer device for volume control. "
                             "Please make sure the device name is correct.");
    EXPECT_FALSE(window.lockHeldAtMessage);
    EXPECT_NE(cc->m_pPhone.load(), nullptr);
}

TEST_F(DeviceLifecycleTest, RemovalReleasesThroughTheThreadAndArrivalReopens) {
    UseTestPhones(true);
    lab.SetCallLimit(4000); // the thread polls without pause in virtual time
    std::vector<LabPost> posts;
    std::mutex postsMutex;
    lab.SetPostHook([&](const LabPost& p) {
        std::lock_guard<std::mutex> lock(postsMutex);
        posts.push_back(p);
    });
    DevRegisterWindow(kMainWnd);
    auto deliverPosts = [&] {
        std::vector<LabPost> now;
        {
            std::lock_guard<std::mutex> lock(postsMutex);
            now.swap(posts);
        }
        for (const LabPost& p : now)
            cc->OnWindowMessage(p.message, p.wParam, p.lParam);
    };

    ASSERT_EQ(cc->OpenPhone(), 1);
    state.bridgeReady = 1;
    state.attachStatus = ATTACH_SUCCESS;
    TestPhone* first = lastPhone;
    // The thread reads the keys and posts them.
    first->Press('7');
    ASSERT_TRUE(Eventually([&] { return first->KeysLeft() == 0; }));
    ASSERT_TRUE(Eventually([&] { return window.Take().find("key55") != std::string::npos; }));

    lab.ClearCalls();
    lab.Unplug();
    deliverPosts();
    EXPECT_EQ(state.devicePresent.load(), 0);
    EXPECT_EQ(cc->m_nProductId.load(), 0);
    ASSERT_TRUE(Eventually([&] { return cc->m_hThread.load() == 0; }));
    EXPECT_EQ(phones.deleted.load(), 1);
    EXPECT_EQ(phones.Take(), "init line1 line0");
    EXPECT_EQ(cc->m_pPhone.load(), nullptr);
    EXPECT_EQ(DeviceCalls(lab), "c25(0) c32 c1");

    lab.Plug();
    deliverPosts();
    EXPECT_EQ(cc->m_nProductId.load(), 0x831C);
    EXPECT_EQ(cc->m_bReleaseOnStop.load(), 0);
    ASSERT_TRUE(window.Armed(TIMER_OPEN_PHONE));
    EXPECT_EQ(cc->m_pPhone.load(), nullptr); // not before timer 2
    cc->OnTimer(TIMER_OPEN_PHONE);
    EXPECT_EQ(phones.created.load(), 2);
    EXPECT_NE(cc->m_pPhone.load(), nullptr);
    EXPECT_EQ(cc->m_hThread.load(), 1);
    EXPECT_EQ(state.devicePresent.load(), 1);

    cc->ShutDownDevice();
    EXPECT_EQ(phones.deleted.load(), 2);
}

// The message box runs a message loop: whatever arrives while it is open happens after the
// opening's resets, not before them.
TEST_F(DeviceLifecycleTest, MixerMessageBoxComesAfterTheResets) {
    UseTestPhones(false);
    lab.SetMixerOpens(false);
    state.bridgeReady = 1;
    state.attachStatus = ATTACH_SUCCESS;

    // A call starts ringing while the box is open.
    window.whileMessageShown = [&] { cc->OnSkypeNotification("CALL 5 STATUS RINGING"); };
    ASSERT_EQ(cc->OpenPhone(), 1);
    EXPECT_EQ(state.callState.load(), CALL_RINGING_IN);
    EXPECT_EQ(state.ringing.load(), 1);
    EXPECT_TRUE(window.Armed(TIMER_RING_OFF));
    EXPECT_EQ(state.devicePresent.load(), 1);

    // The device is unplugged while the box is open.
    cc->ShutDownDevice();
    window.whileMessageShown = [&] { cc->OnWindowMessage(WMU_DEVICE_REMOVED, 0, 0x831C); };
    ASSERT_EQ(cc->OpenPhone(), 1);
    EXPECT_EQ(state.devicePresent.load(), 0);
    EXPECT_EQ(cc->m_nProductId.load(), 0);
}

// After an unplug and a replug in any order of the window's messages, timer 2 and the old
// phone thread's release, the device ends open and polled again. The old thread is run by hand
// (R removal, A arrival, T timer 2 if armed, X the old thread's pass).
class ReplugTest : public DeviceLifecycleTest, public ::testing::WithParamInterface<const char*> {
  protected:
    void SetUp() override {
        DeviceLifecycleTest::SetUp();
        UseTestPhones(true);
        state.bridgeReady = 1;
        state.attachStatus = ATTACH_SUCCESS;
        // The first phone, open and polled by a thread that has not yet seen the removal.
        cc->m_pPhone = new TestPhone(phones, true);
        cc->m_nProductId = 0x831C;
        cc->m_hThread = 1;
        state.deviceLockDeleted = 0;
        state.devicePresent = 1;
    }
    void Do(char step) {
        switch (step) {
        case 'R': cc->OnWindowMessage(WMU_DEVICE_REMOVED, 0, 0x831C); break;
        case 'A': cc->OnWindowMessage(WMU_DEVICE_ARRIVED, 0, 0x831C); break;
        case 'T':
            if (window.Armed(TIMER_OPEN_PHONE)) cc->OnTimer(TIMER_OPEN_PHONE);
            break;
        case 'X': // it releases when asked to, and then ends
            if (oldThreadRunning && cc->m_bStopThread != 0) {
                cc->PhoneEventLoop();
                oldThreadRunning = false;
            }
            break;
        }
    }
    bool oldThreadRunning = true;
};

TEST_P(ReplugTest, EndsOpenAndPolled) {
    for (const char* step = GetParam(); *step; ++step)
        Do(*step);
    // Whatever is still to come: the thread's pass, then timer 2 as often as it is armed.
    Do('X');
    for (int i = 0; i < 5 && window.Armed(TIMER_OPEN_PHONE); ++i)
        Do('T');

    EXPECT_FALSE(window.Armed(TIMER_OPEN_PHONE));
    EXPECT_EQ(phones.created.load(), 2);
    EXPECT_EQ(phones.deleted.load(), 1);
    // (The new phone may sit where the old one was: only the counts tell them apart.)
    EXPECT_EQ(cc->m_pPhone.load(), lastPhone);
    EXPECT_EQ(cc->m_hThread.load(), 1); // a real thread polls the new phone
    EXPECT_EQ(cc->m_bReleaseOnStop.load(), 0);
    EXPECT_EQ(cc->m_nProductId.load(), 0x831C);
    EXPECT_EQ(state.devicePresent.load(), 1);
    // A late release may have switched the box that is back to the PSTN line; the new phone
    // starts idle, on the computer.
    EXPECT_EQ(lab.SelectedLine(), kLineComputer);

    // Once more, now with that real thread releasing while timer 2 keeps firing.
    cc->OnWindowMessage(WMU_DEVICE_REMOVED, 0, 0x831C);
    cc->OnWindowMessage(WMU_DEVICE_ARRIVED, 0, 0x831C);
    for (int i = 0; i < 20000 && window.Armed(TIMER_OPEN_PHONE); ++i) {
        cc->OnTimer(TIMER_OPEN_PHONE);
        if (window.Armed(TIMER_OPEN_PHONE))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(phones.created.load(), 3);
    EXPECT_EQ(cc->m_pPhone.load(), lastPhone);
    EXPECT_EQ(phones.deleted.load(), 2);
    EXPECT_EQ(cc->m_hThread.load(), 1);

    cc->ShutDownDevice();
}

INSTANTIATE_TEST_SUITE_P(Orders, ReplugTest,
                         ::testing::Values("RXAT",    // released before the arrival
                                           "RAXT",    // arrival before the release
                                           "RATXT",   // timer 2 while the old phone is released
                                           "RATATX",  // a second arrival meanwhile
                                           "RARATX",  // unplugged and plugged twice meanwhile
                                           "RATRXAT", // unplugged again while timer 2 waits
                                           "RAXRAT"));

// A device announced but unplugged again before timer 2 opens it is not opened.
TEST_F(DeviceLifecycleTest, RemovalBeforeTimer2CancelsTheOpening) {
    UseTestPhones(true);
    cc->OnWindowMessage(WMU_DEVICE_ARRIVED, 0, 0x831C);
    ASSERT_TRUE(window.Armed(TIMER_OPEN_PHONE));
    cc->OnWindowMessage(WMU_DEVICE_REMOVED, 0, 0x831C);
    EXPECT_FALSE(window.Armed(TIMER_OPEN_PHONE));
    EXPECT_EQ(cc->m_nProductId.load(), 0);
    cc->OnWindowMessage(WMU_DEVICE_ARRIVED, 0, 0x831C);
    cc->OnTimer(TIMER_OPEN_PHONE);
    EXPECT_EQ(phones.created.load(), 1);
    EXPECT_EQ(cc->m_hThread.load(), 1);
    cc->ShutDownDevice();
}

TEST_F(DeviceLifecycleTest, ArrivalAndRemovalOfOtherDevices) {
    UseTestPhones(false);
    ASSERT_EQ(cc->OpenPhone(), 1);
    window.Take();
    // A device is known: another arrival is ignored.
    cc->OnWindowMessage(WMU_DEVICE_ARRIVED, 0, 0xB210);
    EXPECT_EQ(cc->m_nProductId.load(), 0x831C);
    EXPECT_EQ(window.Take(), "");
    // Another product's removal only marks the device absent.
    cc->OnWindowMessage(WMU_DEVICE_REMOVED, 0, 0xB210);
    EXPECT_EQ(state.devicePresent.load(), 0);
    EXPECT_EQ(cc->m_nProductId.load(), 0x831C);
    EXPECT_EQ(cc->m_bStopThread.load(), 0);
}

TEST_F(DeviceLifecycleTest, PhoneWithoutPollingSurvivesRemoval) {
    UseTestPhones(false);
    ASSERT_EQ(cc->OpenPhone(), 1);
    TestPhone* phone = lastPhone;
    cc->OnWindowMessage(WMU_DEVICE_REMOVED, 0, 0x831C);
    EXPECT_EQ(cc->m_pPhone.load(), phone);
    cc->OnWindowMessage(WMU_DEVICE_ARRIVED, 0, 0x831C);
    cc->OnTimer(TIMER_OPEN_PHONE);
    // The old object stays and is not set up again.
    EXPECT_EQ(cc->m_pPhone.load(), phone);
    EXPECT_EQ(phones.created.load(), 1);
    EXPECT_EQ(phones.Take(), "init line1");
}

TEST_F(DeviceLifecycleTest, WindowMessagesForTheLibraryAndPowerResume) {
    UseTestPhones(false);
    ASSERT_EQ(cc->OpenPhone(), 1);
    phones.Take();
    lab.ClearCalls();

    // Resume: from a critical suspend, by the user, and the automatic one that comes first (and
    // alone when nobody touches the machine).
    for (uintptr_t event : {4u, 6u, 7u, 18u, 10u})
        EXPECT_FALSE(cc->OnWindowMessage(0x218, event, 0));
    EXPECT_EQ(phones.Take(), "init init init");

    EXPECT_FALSE(cc->OnWindowMessage(0x219, 0x8000, 0x1234));
    std::vector<LabCall> change = lab.CallsOf(VC_DEVICE_CHANGE);
    ASSERT_EQ(change.size(), 1u);
    EXPECT_EQ(change[0].param, 0x8000);
    EXPECT_EQ(change[0].pointer, 0x1234u);

    EXPECT_TRUE(cc->OnWindowMessage(977, 5, 6)); // consumed
    ASSERT_EQ(lab.CallsOf(VC_MIXER_CHANGE).size(), 1u);
    EXPECT_FALSE(cc->OnWindowMessage(0x400, 0, 0));

    // Without a phone the resume touches nothing.
    cc->ShutDownDevice();
    phones.Take();
    cc->OnWindowMessage(0x218, 7, 0);
    EXPECT_EQ(phones.Take(), "");
}

TEST_F(DeviceLifecycleTest, ShutdownWithoutThreadReleasesThePhoneItself) {
    UseTestPhones(false);
    ASSERT_EQ(cc->OpenPhone(), 1);
    lab.ClearCalls();
    const uint64_t before = clock.TotalSlept();
    cc->ShutDownDevice();
    EXPECT_GE(clock.TotalSlept() - before, 1000u);
    EXPECT_EQ(DeviceCalls(lab), "c17 c25(0) c32 c1");
    EXPECT_EQ(phones.deleted.load(), 1);
    EXPECT_EQ(state.deviceLockDeleted.load(), 1);
    EXPECT_EQ(cc->m_hMixer.load(), 0);
    // A second shutdown (the library's close requests may come twice) releases nothing more.
    cc->ShutDownDevice();
    EXPECT_EQ(phones.deleted.load(), 1);
}

} // namespace
