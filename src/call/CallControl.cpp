#include "call/CallControl.h"

#include "call/PhoneAccess.h"
#include "core/Clock.h"
#include "device/KwIpApi.h"
#include "device/PhoneCatalogue.h"
#include "playback/WaveAudio.h"
#include "playback/WaveOut.h"

#include <cassert>
#include <cstring>
#include <system_error>

namespace {

constexpr unsigned WM_POWERBROADCAST_MSG = 0x218;
constexpr unsigned WM_DEVICECHANGE_MSG = 0x219;
constexpr unsigned MM_MIXM_CONTROL_CHANGE_MSG = 977;
constexpr uintptr_t PBT_APMRESUMECRITICAL_EVT = 6;
constexpr uintptr_t PBT_APMRESUMESUSPEND_EVT = 7;
constexpr uintptr_t PBT_APMRESUMEAUTOMATIC_EVT = 18;

constexpr unsigned kUnregisterPauseMs = 1000;
constexpr unsigned kThreadWaitStepMs = 10;

constexpr char kMixerFailedText[] =
    "Cannot open mixer device for volume control. Please make sure the device name is correct.";

} // namespace

CallControl::CallControl(BridgeState& state, MainWindow& window, SkypeCommands& skype)
    : state_(state), window_(window), skype_(skype) {}

CallControl::~CallControl() {
    // The program ends its process before this runs; tests get here with the thread still up.
    assert(!DeviceLockHeldHere() && "the thread needs deviceLock to end its pass");
    if (phoneThread_.joinable()) {
        m_bStopThread = 1;
        WakePhoneThread();
        phoneThread_.join();
    }
    DeviceLockGuard hold;
    delete m_pPhone.exchange(nullptr);
}

bool CallControl::OnGuiThread() {
    const std::thread::id self = std::this_thread::get_id();
    std::thread::id gui;
    return guiThread_.compare_exchange_strong(gui, self) || gui == self;
}

bool CallControl::GuiThreadWithPhoneThreadRunning() {
    // phoneThread_ belongs to the GUI thread: looked at only there.
    return guiThread_.load() == std::this_thread::get_id() && m_hThread != 0 &&
           phoneThread_.joinable();
}

PhoneDevice* CallControl::CreatePhone(int32_t productId) {
    return CreatePhoneDevice(productId).release();
}

void CallControl::ReleasePhone() {
    bool released = false;
    {
        // Taken out of m_pPhone under the lock: a user on the other thread holds the lock while
        // it works on the phone, so the delete waits for it and nobody sees the pointer after.
        DeviceLockGuard hold;
        PhoneDevice* phone = m_pPhone.exchange(nullptr);
        if (phone != nullptr) {
            SwitchLine(*phone, kLinePstn, state_.devicePresent != 0);
            delete phone;
            released = true;
        }
    }
    // The lock itself lives for the whole run; the flag keeps its meaning for the readers.
    if (released) state_.deviceLockDeleted = 1;
}

void CallControl::AskThreadToRelease() {
    // The request before the stop: the thread reads them the other way round, so a stop it sees
    // comes with its release request.
    m_bReleaseOnStop = 1;
    m_bStopThread = 1;
    WakePhoneThread();
}

void CallControl::ReleaseAndCloseDevice() {
    ReleasePhone();
    m_hMixer = 0;
    DevCloseMixer();
    DevClose();
}

void CallControl::ResetPstnWatch() {
    BridgeState& s = state_;
    s.ringPolls = 0;
    s.ringSeen = 0;
    s.notifyCount = 0;
    s.lineCheckPending = 1;
    s.busyRingPolls = 0;
    s.ringEndTimerArmed = 0;
    s.lineIdleTimerArmed = 0;
}

void CallControl::SwitchLine(PhoneDevice& phone, int line, bool present) {
    // A switch lost on the bus would leave the telephone on the other line while the call state
    // says otherwise: made again while the device is there (once it is gone, every attempt
    // fails and one is enough).
    const int attempts = present ? kLineSwitchAttempts : 1;
    for (int attempt = 0; attempt < attempts; ++attempt)
        if (phone.SetLineMode(line)) return;
}

void CallControl::StartPhoneThread() {
    m_hThread = 1;
    try {
        phoneThread_ = std::thread(&CallControl::PhoneEventLoop, this);
    } catch (const std::system_error&) {
        // No thread: no key or PSTN event is read, as when the platform refuses one.
        m_hThread = 0;
    }
}

void CallControl::WaitForPhoneThread(unsigned maxMs) {
    assert(!DeviceLockHeldHere() && "the thread needs deviceLock to end its pass");
    for (unsigned waited = 0; m_hThread != 0 && waited < maxMs; waited += kThreadWaitStepMs)
        Pause(kThreadWaitStepMs);
    // Past its last use of this object once m_hThread is 0, so the join returns at once. A
    // thread stuck in the library stays unjoined; the caller goes on without it.
    if (m_hThread == 0 && phoneThread_.joinable()) phoneThread_.join();
}

int CallControl::OpenPhone() {
    assert(OnGuiThread() && "OpenPhone: GUI thread only");
    // The phone of a removed device is still being released by its thread, which closes the
    // library's device last. Try again shortly: returning for good would leave the arrival's
    // product id set, every later arrival ignored and the device dead.
    if (m_hThread != 0 && m_bReleaseOnStop == 1) {
        window_.ArmTimer(TIMER_OPEN_PHONE, kOpenPhoneRetryMs);
        return 0;
    }
    if (m_pPhone.load() != nullptr) return 1;

    // A thread from the previous phone may still be finishing its release (device close
    // included): it must be gone before the device is opened again. It has no phone left, so
    // it ends after its current pass.
    if (phoneThread_.joinable()) {
        assert(!DeviceLockHeldHere() && "the old thread needs deviceLock to end its pass");
        m_bStopThread = 1;
        WakePhoneThread();
        phoneThread_.join();
    }

    // The state starts idle below. A call that rang meanwhile must not leave its cadence running
    // (it would ring the new phone), and one answered or placed since the removal (by a key
    // still queued then) has nobody on it: Skype must not keep it up. It is hung up once the
    // state is reset, so that what Skype reports inside that send is not reset with it.
    const int32_t stateBefore = state_.callState;
    const bool hangUpPhoneless = stateBefore == CALL_GOING_OUT || stateBefore == CALL_IN_PROGRESS;
    char phonelessCall[kCallIdSize];
    std::memcpy(phonelessCall, state_.callId, kCallIdSize);
    if (hangUpPhoneless || stateBefore == CALL_RINGING_IN) ReturnToIdle();

    int productId = 0;
    DevOpen(&productId);
    m_nProductId = productId;

    PhoneDevice* phone = CreatePhone(productId);
    m_pPhone = phone;

    bool mixerFailed = false;
    if (phone != nullptr) {
        state_.deviceLockDeleted = 0;
        int offHook = 0;
        int needsPolling = 0;
        // The state below starts idle, off the PSTN line, and the telephone must agree: a release
        // that reached the box after it came back (a quick replug) left it on the PSTN line.
        WithPhone([this](PhoneDevice& p) {
            p.Initialize();
            SwitchLine(p, kLineComputer, true); // just opened: there
        });
        // Made without the lock, as the library expects for this request.
        SelectAudioDevice(productId);
        WithPhone([&](PhoneDevice& p) {
            offHook = p.IsOffHook();
            needsPolling = p.NeedsPolling();
        });
        state_.offHook = offHook;

        m_bStopThread = 0;
        // Any earlier release request has been served or concerned a phone that is gone.
        m_bReleaseOnStop = 0;
        if (needsPolling) StartPhoneThread();

        MixerOpenBlock block;
        FillMixerOpenBlock(block, productId, WindowHandle());
        {
            DeviceLockGuard hold;
            m_hMixer = DevOpenMixer(&block);
        }
        mixerFailed = m_hMixer == 0;

        ChoosePromptDevice(state_);
    }

    ResetPstnWatch();
    state_.dialedLen = 0;
    state_.devicePresent = 1;
    state_.callState = CALL_IDLE;
    state_.pstnActive = 0;
    std::memset(state_.dialed, 0, sizeof state_.dialed);
    WakePhoneThread();

    if (hangUpPhoneless) HangUp(phonelessCall);

    const int opened = m_pPhone.load() != nullptr ? 1 : 0;
    // Last, and without the lock (the phone event thread must not wait on it for as long as
    // the box stays open): the box runs a message loop, and what it handles (a call that starts
    // ringing, the device removed, even another opening) must not be undone by the resets.
    assert(!DeviceLockHeldHere() && "the message box runs without deviceLock");
    if (mixerFailed) window_.ShowMessage(kMixerFailedText, "Error", true);
    return opened;
}

void CallControl::ShutDownDevice() {
    assert(OnGuiThread() && "ShutDownDevice: GUI thread only");
    // The telephone's line feed back to normal before the line is handed to the PSTN.
    EndCallerId();
    if (m_hThread != 0) AskThreadToRelease();
    // Wait for the thread to finish its pass (and the release it makes) rather than for a fixed
    // time; bounded, so that a library that hangs cannot keep the program from ending.
    WaitForPhoneThread(kThreadStopWaitMs);

    DevUnregisterWindow();
    Pause(kUnregisterPauseMs);

    ReleaseAndCloseDevice();
}

void CallControl::EndCallOfRemovedDevice() {
    BridgeState& s = state_;
    const int32_t callState = s.callState;
    // A call being set up or in progress is hung up. A call ringing in is left to ring in
    // Skype, where it can still be taken at the computer; only the telephone's part ends.
    char id[kCallIdSize];
    std::memcpy(id, s.callId, kCallIdSize);
    // Idle before the send, so that what Skype reports inside it is not undone.
    if (callState == CALL_RINGING_IN || callState == CALL_GOING_OUT ||
        callState == CALL_IN_PROGRESS)
        ReturnToIdle();
    if (callState == CALL_GOING_OUT || callState == CALL_IN_PROGRESS) HangUp(id);
    // A dial not yet reported has nobody to hear it either.
    if (DialAwaitingAnswer()) s.hangUpOnArrival = 1;
}

bool CallControl::OnWindowMessage(unsigned message, uintptr_t wParam, intptr_t lParam) {
    assert(OnGuiThread() && "OnWindowMessage: GUI thread only");
    switch (message) {
    case WM_POWERBROADCAST_MSG:
        // The automatic resume comes first, and alone when nobody touches the machine.
        if (wParam == PBT_APMRESUMECRITICAL_EVT || wParam == PBT_APMRESUMESUSPEND_EVT ||
            wParam == PBT_APMRESUMEAUTOMATIC_EVT)
            WithPhone([](PhoneDevice& phone) { phone.Initialize(); });
        return false;
    case WM_DEVICECHANGE_MSG: DevDeviceChange(wParam, lParam); return false;
    case MM_MIXM_CONTROL_CHANGE_MSG: DevMixerChange(wParam, lParam); return true;
    case WMU_PHONE_KEY:
        if (wParam == PHONE_KEY_EVENT) OnPhoneKey(static_cast<uint8_t>(lParam & 0xFF));
        return false;
    case kWaveOutDoneMessage:
        if (GetWaveOutPort().IsCurrent(wParam)) OnCallerIdPlayed();
        return false;
    case WMU_DEVICE_ARRIVED:
        if (m_nProductId == 0) {
            // A thread still running here is finishing the release that the removal asked
            // for; clearing the request now would leave the old phone open but unpolled.
            if (m_hThread == 0) m_bReleaseOnStop = 0;
            m_nProductId = static_cast<int32_t>(lParam);
            window_.ArmTimer(TIMER_OPEN_PHONE, kOpenPhoneDelayMs);
        }
        return false;
    case WMU_DEVICE_REMOVED:
        // First: the thread, woken to release, must see the device gone (a removed device's line
        // switch is not made again).
        state_.devicePresent = 0;
        if (static_cast<int32_t>(lParam) == m_nProductId) {
            // An opening still pending for this device is moot; its next arrival arms another.
            window_.KillTimer(TIMER_OPEN_PHONE);
            if (m_pPhone.load() != nullptr) {
                AskThreadToRelease();
                EndCallOfRemovedDevice();
            }
            m_nProductId = 0;
        }
        return false;
    default: return false;
    }
}
