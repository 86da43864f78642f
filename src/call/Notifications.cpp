// Skype's call notifications: the texts that move the call state, on the GUI thread.
#include "call/CallControl.h"

#include "call/PhoneAccess.h"
#include "core/Clock.h"
#include "playback/WaveAudio.h"

#include <cassert>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

// A call's status notification, "CALL <id> STATUS <word>", and nothing else: the only form that
// moves the call state. A real client also reports other objects' statuses (SMS, FILETRANSFER,
// VOICEMAIL) and relays texts that remote people write (mood texts, full names, chat topics),
// which may contain anything.
struct CallStatus {
    char id[kCallIdSize];
    const char* word; // the status, up to the end of the text
};

// An id that does not fit (7 characters) is not cut short: a shortened id could name another
// call, so the text is ignored.
bool ParseCallStatus(const char* text, CallStatus& out) {
    static const char kCall[] = "CALL ";
    static const char kStatus[] = " STATUS ";
    if (std::strncmp(text, kCall, sizeof kCall - 1) != 0) return false;
    const char* id = text + sizeof kCall - 1;
    const size_t idLength = std::strcspn(id, " ");
    if (idLength == 0 || idLength >= kCallIdSize) return false;
    if (std::strncmp(id + idLength, kStatus, sizeof kStatus - 1) != 0) return false;
    const char* word = id + idLength + sizeof kStatus - 1;
    if (*word == '\0' || std::strchr(word, ' ') != nullptr) return false;
    std::memcpy(out.id, id, idLength);
    out.id[idLength] = '\0';
    out.word = word;
    return true;
}

// An answer about a call's partner, "CALL <id> PARTNER_HANDLE <text>" or "CALL <id>
// PARTNER_DISPNAME <text>" (the text may be empty and contain anything). Never a status: the
// word after the id is not STATUS.
struct PartnerAnswer {
    char id[kCallIdSize];
    bool isHandle;
    const char* value; // up to the end of the text
};

bool ParsePartnerAnswer(const char* text, PartnerAnswer& out) {
    static const char kCall[] = "CALL ";
    if (std::strncmp(text, kCall, sizeof kCall - 1) != 0) return false;
    const char* id = text + sizeof kCall - 1;
    const size_t idLength = std::strcspn(id, " ");
    if (idLength == 0 || idLength >= kCallIdSize || id[idLength] != ' ') return false;
    const char* property = id + idLength + 1;
    for (const auto& form :
         {std::make_pair("PARTNER_HANDLE", true), std::make_pair("PARTNER_DISPNAME", false)}) {
        const size_t length = std::strlen(form.first);
        if (std::strncmp(property, form.first, length) != 0) continue;
        const char* rest = property + length;
        if (*rest != '\0' && *rest != ' ') continue;
        std::memcpy(out.id, id, idLength);
        out.id[idLength] = '\0';
        out.isHandle = form.second;
        out.value = *rest == ' ' ? rest + 1 : rest;
        return true;
    }
    return false;
}

// The statuses with which a call is over.
bool IsEndStatus(const char* word) {
    for (const char* end : {"FINISHED", "MISSED", "REFUSED", "FAILED", "BUSY", "CANCELLED"})
        if (std::strcmp(word, end) == 0) return true;
    return false;
}

// Skype's answer to a command that failed: "ERROR <number> <text>".
bool IsErrorReply(const char* text) {
    return std::strncmp(text, "ERROR ", 6) == 0;
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Clients differ in how they capitalise their error texts ("Invalid call id").
bool ContainsNoCase(const char* text, const char* lowerWhat) {
    const size_t length = std::strlen(lowerWhat);
    for (const char* at = text; *at != '\0'; ++at) {
        size_t i = 0;
        while (i < length && AsciiLower(at[i]) == lowerWhat[i])
            ++i;
        if (i == length) return true;
    }
    return false;
}

// The call named by the last command, "SET CALL <id> ...": an error reply answers that command.
bool LastCommandNamesCall(const char* command, char (&id)[kCallIdSize]) {
    static const char kSetCall[] = "SET CALL ";
    if (std::strncmp(command, kSetCall, sizeof kSetCall - 1) != 0) return false;
    const char* at = command + sizeof kSetCall - 1;
    const size_t length = std::strcspn(at, " ");
    if (length == 0 || length >= kCallIdSize) return false;
    std::memcpy(id, at, length);
    id[length] = '\0';
    return true;
}

} // namespace

void CallControl::FormatCommand(const char* format, const char* argument) {
    assert(OnGuiThread() && "commandText belongs to the GUI thread");
    std::snprintf(state_.commandText, sizeof state_.commandText, format, argument);
}

void CallControl::SendCommand() {
    resendAllowed_ = true;
    skype_.SendSkypeCommand();
}

void CallControl::StopRinging() {
    // Every way a ringing call stops ringing (answer, end, removal) also ends its caller ID.
    EndCallerId();
    if (state_.ringing != 1) return;
    state_.ringing = 0;
    WithPhone([](PhoneDevice& phone) { phone.SetRinging(0); });
    window_.KillTimer(TIMER_RING_OFF);
    window_.KillTimer(TIMER_RING_ON);
}

void CallControl::ReturnToIdle() {
    StopRinging();
    // The resting state: the in-call animation stops and the status poll, stopped while the call
    // was in progress, runs again.
    window_.KillTimer(TIMER_CALL_ANIMATION);
    window_.SetTrayIcon(ICON_READY);
    window_.ArmTimer(TIMER_STATUS_POLL, kStatusPollMs);
    state_.busyRejected = 0;
    state_.callState = CALL_IDLE;
}

void CallControl::RejectCall(const char* id) {
    // Answer Skype first, then hang the call up. Marked before the send: a client may answer
    // with the refusal inside our send, and that refusal must not end the call we are busy with.
    skype_.ReplyTrue();
    state_.busyRejected = 1;
    HangUp(id);
}

void CallControl::HangUp(const char* id) {
    NoteCall(id).hungUp = 1;
    FormatCommand("SET CALL %s STATUS FINISHED", id);
    SendCommand();
}

BridgeState::RecentCall* CallControl::FindRecentCall(const char* id) {
    for (auto& call : state_.recentCalls)
        if (call.id[0] != '\0' && std::strcmp(call.id, id) == 0) return &call;
    return nullptr;
}

BridgeState::RecentCall& CallControl::NoteCall(const char* id) {
    if (BridgeState::RecentCall* known = FindRecentCall(id)) return *known;
    BridgeState::RecentCall& call = state_.recentCalls[state_.recentCallsNext++ % kRecentCallsKept];
    std::snprintf(call.id, sizeof call.id, "%s", id);
    call.hungUp = 0;
    return call;
}

bool CallControl::DialAwaitingAnswer() {
    BridgeState& s = state_;
    if (s.dialPending != 0 && GetClock().NowMs() - s.dialSentMs > kDialAnswerWaitMs) {
        s.dialPending = 0;
        s.hangUpOnArrival = 0;
    }
    return s.dialPending != 0;
}

void CallControl::OnCallSetUp(const char* id, bool isNew) {
    BridgeState& s = state_;
    // Skype's answer to our "CALL" is the first new call being set up after it: the phone's own
    // call, whatever else is going on.
    const bool dialled = isNew && DialAwaitingAnswer();
    const bool hangUpAtOnce = dialled && s.hangUpOnArrival != 0;
    if (dialled) {
        s.dialPending = 0;
        s.hangUpOnArrival = 0;
    }
    if (s.pstnActive == 1) {
        std::memcpy(s.otherCallId, id, kCallIdSize);
        RejectCall(s.otherCallId);
        return;
    }
    if (hangUpAtOnce) {
        HangUp(id);
        return;
    }
    // Placed at the computer while the telephone has a call of its own: not the telephone's.
    if (!dialled && std::strcmp(id, s.callId) != 0 && s.callState != CALL_IDLE) return;
    std::memcpy(s.callId, id, kCallIdSize);
    s.callState = CALL_GOING_OUT;
}

void CallControl::OnCallStatus(const char* id, const char* word) {
    BridgeState& s = state_;
    auto is = [word](const char* status) { return std::strcmp(word, status) == 0; };
    const bool end = IsEndStatus(word);
    const bool isNew = FindRecentCall(id) == nullptr;
    // A call we hung up or turned away stays ended, whatever Skype said of it before our
    // FINISHED reached it.
    if (NoteCall(id).hungUp != 0 && !end) return;
    // The call we last turned away, while that rejection stands: it never becomes the current
    // call, and its end (the client answers a reject with REFUSED) is not ours.
    const bool turnedAway = s.busyRejected == 1 && std::strcmp(id, s.otherCallId) == 0;

    if (is("RINGING") && s.callState != CALL_GOING_OUT) {
        if (s.callState == CALL_RINGING_IN || s.callState == CALL_IN_PROGRESS) {
            // The call that rings or is in progress, said again, changes nothing.
            if (std::strcmp(id, s.callId) == 0) return;
            std::memcpy(s.otherCallId, id, kCallIdSize);
            RejectCall(s.otherCallId);
            return;
        }
        if (s.pstnActive == 1) {
            // Turned away without becoming the current call, so that its later statuses move
            // nothing.
            std::memcpy(s.otherCallId, id, kCallIdSize);
            RejectCall(s.otherCallId);
            return;
        }
        std::memcpy(s.callId, id, kCallIdSize);
        if (s.offHook == 0) {
            s.ringing = 1;
            window_.ArmTimer(TIMER_RING_OFF, kRingOffMs);
        }
        s.callState = CALL_RINGING_IN;
        CallerIdOnRinging();
    } else if (turnedAway) {
        return;
    } else if (is("ROUTING") || is("UNPLACED")) {
        // UNPLACED is a new call's first status: the call is ours to end from then on.
        OnCallSetUp(id, isNew);
    } else if (is("INPROGRESS")) {
        // Taken at the computer while the telephone is on the PSTN line or has a call of its own.
        if (s.pstnActive == 1) return;
        if (std::strcmp(id, s.callId) != 0 && s.callState != CALL_IDLE) return;
        std::memcpy(s.callId, id, kCallIdSize);
        StopRinging();
        s.callState = CALL_IN_PROGRESS;
        window_.KillTimer(TIMER_STATUS_POLL);
        window_.ArmTimer(TIMER_CALL_ANIMATION, kAnimationMs);
    } else if (end && std::strcmp(id, s.callId) == 0) {
        // Another call's end leaves ours alone.
        if (is("REFUSED") && s.callState == CALL_IDLE) return;
        ReturnToIdle();
    }
}

void CallControl::OnErrorReply(const char* text) {
    BridgeState& s = state_;
    const bool unknownCall = ContainsNoCase(text, "invalid call id");
    // Skype turned our dial down: there will be no call to wait for. (A denial is answered by
    // the resend, and an unknown call id answers a command about a call, never a dial.)
    bool dialTurnedDown = false;
    if (s.dialPending != 0 && !ContainsNoCase(text, "access denied") && !unknownCall) {
        s.dialPending = 0;
        s.hangUpOnArrival = 0;
        dialTurnedDown = true;
    }
    if (ContainsNoCase(text, "call error") || unknownCall ||
        ContainsNoCase(text, "invalid user handle")) {
        if (std::strstr(text, "ERROR 101") != nullptr) return;
        // An error names no command. What it cannot be about leaves the telephone alone: a dial
        // the telephone gave up for a call it answered; a call that Skype reported and has not
        // ended (a call that ended was reported ended first); the rejection of another call.
        char named[kCallIdSize];
        const int32_t callState = s.callState;
        const bool callReported = callState == CALL_RINGING_IN || callState == CALL_GOING_OUT ||
                                  callState == CALL_IN_PROGRESS;
        if ((dialTurnedDown && callState != CALL_IDLE) || (unknownCall && callReported) ||
            (LastCommandNamesCall(s.commandText, named) && std::strcmp(named, s.callId) != 0)) {
            skype_.ReplyTrue();
            return;
        }
        skype_.ReplyTrue();
        ReturnToIdle();
        // A dial tone still on the player would be left open underneath the prompt.
        EndDialTone(s);
        promptPlayer.Open("error.wav");
        promptPlayer.SetDevice(static_cast<uint32_t>(s.promptDevice.load()));
        promptPlayer.Play(false, 0);
        promptPlayer.Close();
    } else if (ContainsNoCase(text, "access denied")) {
        skype_.ReplyTrue();
        // Once per command of ours: Skype denying the resend as well must not make the two
        // sides answer each other for ever.
        if (!resendAllowed_) return;
        resendAllowed_ = false;
        skype_.SendSkypeCommand();
    }
}

void CallControl::OnSkypeNotification(const char* text) {
    assert(OnGuiThread() && "OnSkypeNotification: GUI thread only");
    if (text == nullptr) return;
    CallStatus call;
    PartnerAnswer partner;
    if (ParseCallStatus(text, call))
        OnCallStatus(call.id, call.word);
    else if (ParsePartnerAnswer(text, partner))
        OnPartnerAnswer(partner.id, partner.isHandle, partner.value);
    else if (IsErrorReply(text))
        OnErrorReply(text);
    else if (std::strcmp(text, "CONNSTATUS LOGGEDOUT") == 0)
        state_.attachStatus = ATTACH_NOT_CONNECTED;
}
