// The phone side of the bridge: the phone event thread's loop, and the key and ring handlers
// that run on the GUI thread.
#include "call/CallControl.h"

#include "call/PhoneAccess.h"
#include "core/Clock.h"
#include "device/GatewaySwitch.h"
#include "device/KwIpApi.h"
#include "device/SlicRegisters.h"
#include "playback/PlaybackTable.h"
#include "playback/WaveAudio.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>

namespace {

constexpr unsigned kShortPauseMs = 51;
constexpr unsigned kLineSwitchPauseMs = 500;
constexpr unsigned kRingNotifyPauseMs = 500;
constexpr int kRingPollsPerBurst = 10; // the switch comes at the poll after this many
// Ringing polls seen before this long a quiet stretch belong to no ring episode. Longer than the
// longest silence of common ring cadences (4 s: 2 s on 4 s off in North America, 1 s on 4 s off
// in Germany and Italy), so that short bursts still add up across their silences; the same
// stretch after which timer 7 takes an episode as over.
constexpr uint64_t kRingQuietMs = kRingOverMs;
constexpr int kMaxNotifyPrompts = 3;

} // namespace

// --- The phone event thread -----------------------------------------------------------------

void CallControl::PstnWatch() {
    BridgeState& s = state_;

    int ringing = 0;
    if (!WithPhone([&](PhoneDevice& p) { ringing = p.IsPstnRinging(); })) return;

    if (ringing) {
        // Not necessarily consecutive (the ring-detect bit may flicker within a burst), but
        // isolated ringing polls hours apart must never add up to a prompt or a line switch.
        const uint64_t now = GetClock().NowMs();
        if (now - s.lastRingPollMs > kRingQuietMs) {
            s.ringPolls = 0;
            s.busyRingPolls = 0;
        }
        s.lastRingPollMs = now;
        lastEventMs_ = now;
        sawEvent_ = true;
        if (s.ringPolls > kRingPollsPerBurst) {
            s.ringPolls = 0;
            s.ringSeen = 1;
            Pause(kShortPauseMs);
            const int32_t state = s.callState;
            if (s.offHook != 1 && s.pstnActive != 1 && state != CALL_RINGING_IN &&
                state != CALL_GOING_OUT && state != CALL_IN_PROGRESS) {
                s.callState = CALL_PSTN_IN;
                s.pstnActive = 1;
                WithPhone([this](PhoneDevice& p) {
                    SwitchLine(p, kLinePstn, state_.devicePresent != 0);
                });
                Pause(kLineSwitchPauseMs);
            }
        } else {
            ++s.ringPolls;
        }
        if (s.ringEndTimerArmed == 1) {
            s.ringEndTimerArmed = 0;
            Pause(kShortPauseMs);
            window_.KillTimer(TIMER_PSTN_RING_OVER);
        }
        if (s.pstnActive == 0) {
            ++s.busyRingPolls;
            Pause(kShortPauseMs);
            if (s.busyRingPolls > kRingPollsPerBurst) {
                if (s.notifyCount < kMaxNotifyPrompts) window_.PostPstnRing();
                ++s.notifyCount;
                s.busyRingPolls = 0;
                Pause(kShortPauseMs);
            }
        }
    } else if (s.ringEndTimerArmed == 0 && s.ringSeen == 1) {
        s.ringEndTimerArmed = 1;
        Pause(kShortPauseMs);
        window_.ArmTimer(TIMER_PSTN_RING_OVER, kRingOverMs);
    }

    if (s.pstnActive == 1 || s.lineCheckPending != 0) {
        s.lineCheckPending = 0;
        int inUse = 0;
        // Without a detector nothing shows the line in use: taken as idle, the telephone comes
        // back to VoIP instead of staying on a line we cannot watch, with its keys unread.
        if (!WithPhone([&](PhoneDevice& p) {
                inUse = HasLineUseDetector(p) ? DevGetPins(kPinLineInUse) : 0;
            }))
            return;
        if (inUse == 0) {
            if (s.lineIdleTimerArmed == 0 && s.ringSeen == 0 && s.pstnActive == 1) {
                window_.ArmTimer(TIMER_PSTN_LINE_IDLE, kLineIdleMs);
                s.lineIdleTimerArmed = 1;
                Pause(kShortPauseMs);
            }
        } else if (s.lineIdleTimerArmed == 1) {
            s.lineIdleTimerArmed = 0;
            Pause(kShortPauseMs);
            window_.KillTimer(TIMER_PSTN_LINE_IDLE);
        }
    }
}

void CallControl::StandAsideForLockWaiters() {
    assert(!DeviceLockHeldHere() && "standing aside with deviceLock held keeps the waiter waiting");
    // deviceLock is not fair: taken again at once it may never reach the GUI thread, which
    // rings, switches lines and checks the line through it.
    for (unsigned step = 0; step < kStandAsideSteps && DeviceLockWaiters() > 0; ++step)
        Pause(1);
}

bool CallControl::PhoneEventPass() {
    BridgeState& s = state_;
    // One phone event loop at a time. Its pauses would also hold up the window's messages while
    // a phone event thread polls as well.
    assert(!GuiThreadWithPhoneThreadRunning() &&
           "a pass on the GUI thread beside the phone thread");
#ifndef NDEBUG
    struct OnePass {
        explicit OnePass(std::atomic<int>& running) : running_(running) {
            assert(running_.fetch_add(1) == 0 && "two passes at once");
        }
        ~OnePass() { running_.fetch_sub(1); }
        std::atomic<int>& running_;
    } onePass(passesRunning_);
#endif
    bool polled = false;

    if (m_pPhone.load() != nullptr && s.voipOnly == 0 && s.devicePresent != 0 &&
        s.bridgeReady == 1) {
        // At the slow pace the line's ring is looked at less often than the keys: a ring burst
        // lasts far longer than this, and the first ringing poll brings back the full pace, at
        // which the burst is counted as ever. A line check asked for is made at once.
        const uint64_t now = GetClock().NowMs();
        if (!slowPace_ || s.lineCheckPending != 0 || s.pstnActive != 0 ||
            now - lastRingWatchMs_ >= pace.slowRingWatchMs) {
            lastRingWatchMs_ = now;
            PstnWatch();
            polled = true;
        }
    }

    bool keepsEvents = false;
    if (s.pstnActive == 0 && s.devicePresent != 0 && s.bridgeReady == 1) {
        int found = 0;
        PhoneKey key = kKeyNone;
        polled = WithPhone([&](PhoneDevice& p) {
                     found = p.PollEvent();
                     if (found) key = p.GetEventKey();
                     keepsEvents = p.KeepsEventsUntilPolled();
                 }) ||
                 polled;
        if (found) {
            window_.PostPhoneKey(static_cast<int8_t>(key));
            lastEventMs_ = GetClock().NowMs();
            sawEvent_ = true;
        }
    }

    // The stop request is read first: the removal asks for the release before the stop, so a
    // stop seen here comes with its release request visible.
    const bool stop = m_bStopThread != 0;
    if (m_bReleaseOnStop == 1) {
        ReleaseAndCloseDevice();
        return false;
    }
    if (stop) return false;

    // Nothing to poll (no phone, bridge not ready, the PSTN line taken in "VoIP Only"): block
    // until something asks for polling again; the bound only caps a wake that never comes.
    if (!polled) {
        slowPace_ = false;
        PauseUntilWoken(phoneWake_, kIdlePauseMs);
        return true;
    }
    StandAsideForLockWaiters();
    // A plain pause: it is short, and a wait that a wake could end costs a round trip through
    // the system's scheduler objects each time (under Wine, two requests to its server).
    slowPace_ = !FullPace(keepsEvents);
    if (slowPace_) Pause(pace.slowPassMs);
    return true;
}

bool CallControl::FullPace(bool keepsEvents) {
    if (kBenchSpin) return true;
    const BridgeState& s = state_;
    // A phone that forgets what no poll saw in time is polled as often as it can be.
    if (!keepsEvents) return true;
    // Receiver up: digits and hash come next, and the answer to them must not wait.
    if (s.offHook == 1) return true;
    // A call rings or is under way, on Skype or on the PSTN line; PSTN ring bursts are counted in
    // polls, so their pace stays the one they were counted at.
    if (s.callState != CALL_IDLE || s.ringing == 1 || s.pstnActive == 1 || s.ringSeen == 1 ||
        s.ringEndTimerArmed == 1)
        return true;
    const uint64_t now = GetClock().NowMs();
    if (s.ringPolls > 0 && now - s.lastRingPollMs <= kRingQuietMs) return true;
    // An event not handled yet (the GUI thread sets offHook) or one that more follow.
    return sawEvent_ && now - lastEventMs_ < pace.briskAfterEventMs;
}

void CallControl::PhoneEventLoop() {
    while (PhoneEventPass()) {
    }
    m_hThread = 0;
}

// --- Keys and rings on the GUI thread ---------------------------------------------------------

// The key handler keeps the number short enough for its "+" form and the terminator.
static_assert(CallControl::kMaxDialed + 2 <= static_cast<int>(kDialedSize),
              "the number with its \"+\" fits dialed");

void CallControl::PlaceCall() {
    BridgeState& s = state_;
    s.dialed[sizeof s.dialed - 1] = '\0';
    const size_t length = std::strlen(s.dialed);
    assert(length <= static_cast<size_t>(kMaxDialed));
    if (length > 2) {
        // Bounded all the same: "+", the number and the terminator stay within the buffer.
        const size_t kept = std::min(length, sizeof s.dialed - 2);
        std::memmove(s.dialed + 1, s.dialed, kept);
        s.dialed[0] = '+';
        s.dialed[kept + 1] = '\0';
    } else {
        PlaySpeedDialPlayback(window_, s, s.dialed);
    }
    FormatCommand("CALL %s", s.dialed);
    s.dialedLen = 0;
    std::memset(s.dialed, 0, sizeof s.dialed);
    // Before the send: Skype may report the new call inside it.
    s.dialPending = 1;
    s.dialSentMs = GetClock().NowMs();
    s.hangUpOnArrival = 0;
    SendCommand();
}

void CallControl::OnPhoneKey(uint8_t key) {
    assert(OnGuiThread() && "OnPhoneKey: GUI thread only");
    BridgeState& s = state_;
    const bool focusOutside = window_.FocusOutsideMainWindow();
    EndDialTone(s);

    // Further keys of an over-long number are dropped: a number that long is no number.
    auto append = [&](char c) {
        if (s.dialedLen < 0 || s.dialedLen >= kMaxDialed) return;
        s.dialed[s.dialedLen] = c;
        s.dialed[s.dialedLen + 1] = '\0';
        ++s.dialedLen;
    };

    if (key == kKeyNone) return;
    if (key >= '0' && key <= '9') {
        if (s.offHook == 1) append(static_cast<char>(key));
    } else if (key == kKeyStar) {
        if (s.offHook != 1) return;
        if (s.callState == CALL_RINGING_IN) {
            AnswerRingingCall();
        } else {
            append('*');
        }
    } else if (key == kKeyHash) {
        if (s.dialedLen == 0 && m_pPhone.load() != nullptr && s.voipOnly == 0 &&
            s.callState == CALL_IDLE) {
            s.callState = CALL_PSTN_OUT;
            s.pstnActive = 1;
            WithPhone(
                [this](PhoneDevice& p) { SwitchLine(p, kLinePstn, state_.devicePresent != 0); });
            Pause(kLineSwitchPauseMs);
        } else if (s.callState == CALL_IDLE && s.dialed[0] != '\0') {
            // One dialled call at a time: until Skype reports it, its answer could not be told
            // from a second one's. The number typed meanwhile is dropped.
            if (DialAwaitingAnswer()) {
                s.dialedLen = 0;
                std::memset(s.dialed, 0, sizeof s.dialed);
            } else {
                PlaceCall();
            }
        }
    } else if (key == kKeyOffHook) {
        OnPhoneOffHook();
    } else if (key == kKeyOnHook) {
        OnPhoneOnHook();
    } else if (focusOutside) {
        WithPhone([&](PhoneDevice&) { DevForwardKey(static_cast<char>(key)); });
    }
}

void CallControl::OnPhoneOffHook() {
    assert(OnGuiThread() && "OnPhoneOffHook: GUI thread only");
    BridgeState& s = state_;
    s.offHook = 1;
    StopRinging();
    const int32_t state = s.callState;
    if (state == CALL_RINGING_IN) {
        AnswerRingingCall();
    } else if (state != CALL_GOING_OUT && state != CALL_IN_PROGRESS) {
        s.playerIdle = 0;
        promptPlayer.Open("tone.wav");
        promptPlayer.Play(true, WindowHandle());
    }
}

void CallControl::OnPhoneOnHook() {
    assert(OnGuiThread() && "OnPhoneOnHook: GUI thread only");
    BridgeState& s = state_;
    EndDialTone(s);
    const int32_t state = s.callState;
    // A call already hung up gets no second FINISHED (the receiver down twice while on hook).
    const BridgeState::RecentCall* known = FindRecentCall(s.callId);
    const bool hangUp = (state == CALL_IN_PROGRESS || state == CALL_GOING_OUT ||
                         (state == CALL_RINGING_IN && s.offHook == 1)) &&
                        (known == nullptr || known->hungUp == 0);
    char id[kCallIdSize];
    std::memcpy(id, s.callId, kCallIdSize);
    // The telephone is idle before the send: a call that Skype reports ringing inside it must
    // ring, not be reset to idle afterwards.
    if (s.offHook != 0) {
        s.dialedLen = 0;
        s.callState = CALL_IDLE;
        s.offHook = 0;
        std::memset(s.dialed, 0, sizeof s.dialed);
        // Our dial is not known yet: it goes nowhere once it is.
        if (DialAwaitingAnswer()) s.hangUpOnArrival = 1;
    }
    if (hangUp) HangUp(id);
}

void CallControl::AnswerRingingCall() {
    BridgeState& s = state_;
    // The bell is off whenever the receiver is up; a cadence that started before the phone's
    // hook state was known must end with the answer all the same.
    StopRinging();
    FormatCommand("SET CALL %s STATUS INPROGRESS", s.callId);
    // Before the send: the caller may give up inside it, and that end must stand.
    s.callState = CALL_IN_PROGRESS;
    // A dial not yet reported is given up for the call answered instead.
    if (DialAwaitingAnswer()) s.hangUpOnArrival = 1;
    SendCommand();
}

void CallControl::OnPstnRingNotify() {
    assert(OnGuiThread() && "OnPstnRingNotify: GUI thread only");
    EndDialTone(state_);
    Pause(kRingNotifyPauseMs);
    promptPlayer.Open("notify.wav");
    promptPlayer.Play(false, 0);
    promptPlayer.Close();
}
