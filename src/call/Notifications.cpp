// Skype's call notifications: the texts that move the call state, on the GUI thread.
#include "call/CallControl.h"

#include "call/PhoneAccess.h"
#include "playback/WaveAudio.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr unsigned kRingOffMs = 3000;
constexpr unsigned kStatusPollMs = 2000;
constexpr unsigned kAnimationMs = 500;

// The id is what follows "CALL " up to the next space. An id that does not fit (7 characters)
// is not cut short: a shortened id could name another call, so the caller ignores the text.
bool CutCallId(const char* text, char (&id)[kCallIdSize]) {
    const size_t start = 5;
    if (std::strlen(text) < start) return false;
    const char* begin = text + start;
    size_t length = std::strcspn(begin, " ");
    if (length >= kCallIdSize) return false;
    std::memcpy(id, begin, length);
    id[length] = '\0';
    return true;
}

bool Contains(const char* text, const char* what) {
    return std::strstr(text, what) != nullptr;
}

} // namespace

void CallControl::FormatCommand(const char* format, const char* argument) {
    std::snprintf(state_.commandText, sizeof state_.commandText, format, argument);
}

void CallControl::SendCommand() {
    resendAllowed_ = true;
    skype_.SendSkypeCommand();
}

void CallControl::StopRinging() {
    if (state_.ringing != 1) return;
    state_.ringing = 0;
    WithPhone([](PhoneDevice& phone) { phone.SetRinging(0); });
    window_.KillTimer(TIMER_RING_OFF);
    window_.KillTimer(TIMER_RING_ON);
}

void CallControl::OnSkypeNotification(const char* text) {
    if (text == nullptr) return;
    BridgeState& s = state_;

    // A call the phone cannot take: answer Skype first, then hang the call up.
    auto reject = [&](const char* id) {
        skype_.ReplyTrue();
        FormatCommand("SET CALL %s STATUS FINISHED", id);
        SendCommand();
        s.busyRejected = 1;
    };

    if (Contains(text, "STATUS RINGING") && s.callState != CALL_GOING_OUT) {
        if (s.callState == CALL_RINGING_IN || s.callState == CALL_IN_PROGRESS) {
            char id[kCallIdSize];
            if (!CutCallId(text, id)) return;
            std::memcpy(s.otherCallId, id, sizeof id);
            if (std::strcmp(s.otherCallId, s.callId) != 0) reject(s.otherCallId);
            return;
        }
        char id[kCallIdSize];
        if (!CutCallId(text, id)) return;
        std::memcpy(s.callId, id, sizeof id);
        if (s.pstnActive == 1) {
            reject(s.callId);
            return;
        }
        if (s.offHook == 0) {
            s.ringing = 1;
            window_.ArmTimer(TIMER_RING_OFF, kRingOffMs);
        }
        s.callState = CALL_RINGING_IN;
    } else if (Contains(text, "STATUS ROUTING")) {
        char id[kCallIdSize];
        if (!CutCallId(text, id)) return;
        std::memcpy(s.callId, id, sizeof id);
        if (s.pstnActive == 1)
            reject(s.callId);
        else
            s.callState = CALL_GOING_OUT;
    } else if (Contains(text, "STATUS FINISHED") || Contains(text, "STATUS MISSED") ||
               (Contains(text, "STATUS REFUSED") && s.callState != CALL_IDLE &&
                s.busyRejected != 1)) {
        StopRinging();
        if (Contains(text, "STATUS FINISHED")) {
            window_.KillTimer(TIMER_CALL_ANIMATION);
            window_.SetTrayIcon(ICON_READY);
            window_.ArmTimer(TIMER_STATUS_POLL, kStatusPollMs);
        }
        s.busyRejected = 0;
        s.callState = CALL_IDLE;
    } else if (Contains(text, "STATUS INPROGRESS")) {
        char id[kCallIdSize];
        if (!CutCallId(text, id)) return;
        std::memcpy(s.callId, id, sizeof id);
        StopRinging();
        s.callState = CALL_IN_PROGRESS;
        window_.KillTimer(TIMER_STATUS_POLL);
        window_.ArmTimer(TIMER_CALL_ANIMATION, kAnimationMs);
    } else if (Contains(text, "call error") || Contains(text, "invalid call id") ||
               Contains(text, "invalid user handle")) {
        if (Contains(text, "ERROR 101")) return;
        skype_.ReplyTrue();
        s.callState = CALL_IDLE;
        // A dial tone still on the player would be left open underneath the prompt.
        if (s.playerIdle == 0) {
            promptPlayer.Stop();
            promptPlayer.Close();
        }
        promptPlayer.Open("error.wav");
        promptPlayer.SetDevice(static_cast<uint32_t>(s.promptDevice.load()));
        promptPlayer.Play(false, 0);
        promptPlayer.Close();
    } else if (Contains(text, "STATUS FAILED")) {
        s.callState = CALL_IDLE;
    } else if (Contains(text, "Access denied")) {
        skype_.ReplyTrue();
        // Once per command of ours: Skype denying the resend as well must not make the two
        // sides answer each other for ever.
        if (!resendAllowed_) return;
        resendAllowed_ = false;
        skype_.SendSkypeCommand();
    } else if (Contains(text, "CONNSTATUS LOGGEDOUT")) {
        s.attachStatus = ATTACH_NOT_CONNECTED;
    }
}
