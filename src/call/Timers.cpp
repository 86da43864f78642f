// The main window's timers, all one-shot: the handler kills the timer that fired and the
// periodic ones arm themselves again.
#include "call/CallControl.h"

#include "call/PhoneAccess.h"
#include "device/KwIpApi.h"
#include "device/SlicRegisters.h"
#include "playback/PlaybackTable.h"
#include "playback/WaveAudio.h"

#include <cassert>

namespace {

constexpr int kAnimationFrames = 5; // 130..133, then 133 held for one more tick
constexpr int kLivenessFailuresAllowed = 2;

} // namespace

void CallControl::StatusPoll() {
    BridgeState& s = state_;

    // The lab leans on this order: the line chip's linefeed read comes first and bridgeReady is
    // set after it, so phonelab's "expect ready" takes a second such read as a poll that is over
    // (lab/phonelab/win32/Runner.cpp, ReadySeen). Move the read and that test moves with it.
    if (m_pPhone.load() != nullptr && s.devicePresent == 1 && s.callState == CALL_IDLE) {
        int value = 0;
        if (WithPhone([&](PhoneDevice&) { value = SlicReadDirect(SLIC_LINEFEED); })) {
            if (value & 1) {
                s.lineCheckFailures = 0;
                s.lineAlive = 1;
            } else if (s.lineCheckFailures++ > kLivenessFailuresAllowed) {
                s.lineAlive = 0;
                s.lineCheckFailures = 0;
            }
        }
    }

    const bool phoneOpen = m_pPhone.load() != nullptr;
    if (phoneOpen && window_.SkypeMainWindowExists() && s.attachStatus == ATTACH_SUCCESS &&
        s.lineAlive == 1) {
        window_.EnableModeButtons(true);
        window_.SetTrayIcon(ICON_READY);
        // ChoosePromptDevice waits for bridgeReady, so the choice falls on the second ready poll.
        if (s.promptDeviceChosen == 0 && s.attachStatus == ATTACH_SUCCESS) ChoosePromptDevice(s);
        s.bridgeReady = 1;
        WakePhoneThread();
    } else {
        if (!phoneOpen) window_.EnableModeButtons(false);
        window_.SetTrayIcon(ICON_NOT_READY);
        s.promptDeviceChosen = 0;
        s.bridgeReady = 0;
    }

    DropMissingPlaybacks(window_, s);
    window_.ArmTimer(TIMER_STATUS_POLL, kStatusPollMs);
}

void CallControl::OnTimer(unsigned id) {
    assert(OnGuiThread() && "OnTimer: GUI thread only");
    BridgeState& s = state_;
    s.hideOnPaint = 0;
    window_.KillTimer(id);

    switch (id) {
    case TIMER_OPEN_PHONE: OpenPhone(); break;
    case TIMER_RING_OFF:
        // Without a phone the cadence ends here. Caller ID on the line before the first ring
        // keeps its line feed: no ring is on that this would end.
        if (WithPhone([&](PhoneDevice& phone) {
                s.ringing = 1;
                if (!cid_.playing) phone.SetRinging(0);
            }))
            // Bell 202 caller ID lengthens the pause after the first ring to hold its data.
            window_.ArmTimer(TIMER_RING_ON, CallerIdInFirstPause());
        break;
    case TIMER_RING_ON:
        // The ring never waits for caller ID: data still on the line ends here.
        StopCallerIdSignal();
        if (WithPhone([&](PhoneDevice& phone) {
                s.ringing = 1;
                phone.SetRinging(1);
            })) {
            ++cid_.ringsStarted;
            window_.ArmTimer(TIMER_RING_OFF, kRingOffMs);
        }
        break;
    case TIMER_CALLER_ID_WAIT: DecideCallerIdBeforeRing(); break;
    case TIMER_CALLER_ID_START:
        if (s.callState == CALL_RINGING_IN) StartCallerIdSignal();
        break;
    case TIMER_CALLER_ID_END: StopCallerIdSignal(); break;
    case TIMER_STATUS_POLL: StatusPoll(); break;
    case TIMER_PSTN_RING_OVER:
        ResetPstnWatch();
        WakePhoneThread();
        break;
    case TIMER_PSTN_LINE_IDLE:
        WithPhone([&](PhoneDevice& phone) {
            s.callState = CALL_IDLE;
            s.pstnActive = 0;
            SwitchLine(phone, kLineComputer, s.devicePresent != 0);
        });
        // It has fired: left set, the next PSTN take whose line stays idle would never arm it
        // again and the telephone would stay on the PSTN line.
        s.lineIdleTimerArmed = 0;
        break;
    case TIMER_CALL_ANIMATION: {
        int frame = ++s.iconFrame;
        if (frame < kAnimationFrames)
            window_.SetTrayIcon(ICON_NOT_READY + frame);
        else
            s.iconFrame = 0;
        window_.ArmTimer(TIMER_CALL_ANIMATION, kAnimationMs);
        break;
    }
    default: break;
    }
}
