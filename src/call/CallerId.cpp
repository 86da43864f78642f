// Caller ID of a call that rings in: the questions to Skype about the caller, the signal to an
// analogue telephone around the ring cadence, and the handset's display. GUI thread only.
#include "call/CallControl.h"

#include "call/PhoneAccess.h"
#include "callerid/Caller.h"
#include "playback/WaveOut.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

unsigned CallerIdAnswerWaitMs(CallerIdStandard standard) {
    // Made once: the longest signal is a few seconds of PCM.
    static const auto wait = [](CallerIdStandard st) {
        const unsigned longest = LongestCallerIdMs(st) + kCallerIdDecideMarginMs;
        return longest < kFirstRingMs ? kFirstRingMs - longest : 0;
    };
    static const unsigned waits[] = {0, 0, wait(CallerIdStandard::EtsiFsk),
                                     wait(CallerIdStandard::Dtmf)};
    const size_t i = static_cast<size_t>(standard);
    return i < sizeof waits / sizeof waits[0] ? waits[i] : 0;
}

void CallControl::CallerIdOnRinging() {
    BridgeState& s = state_;
    EndCallerId();
    bool analogue = false, display = false;
    WithPhone([&](PhoneDevice& phone) {
        // A telephone whose receiver is up hears no ring, and no on-hook data either.
        analogue =
            callerIdStandard != CallerIdStandard::Off && phone.HasSlic() != 0 && s.offHook == 0;
        display = phone.ShowsCallerNumber();
    });
    if (!analogue && !display) return;
    std::memcpy(cid_.callId, s.callId, kCallIdSize);
    cid_.analogue = analogue;
    cid_.display = display;
    cid_.ringingAtMs = GetClock().NowMs();
    const bool beforeRing = analogue && (callerIdStandard == CallerIdStandard::EtsiFsk ||
                                         callerIdStandard == CallerIdStandard::Dtmf);
    // Armed before the questions: a client may answer inside the send.
    if (beforeRing) window_.ArmTimer(TIMER_CALLER_ID_WAIT, CallerIdAnswerWaitMs(callerIdStandard));
    char id[kCallIdSize];
    std::memcpy(id, s.callId, kCallIdSize);
    FormatCommand("GET CALL %s PARTNER_HANDLE", id);
    SendCommand();
    // The answer to the first may have ended the call inside the send.
    if (std::strcmp(cid_.callId, id) != 0) return;
    FormatCommand("GET CALL %s PARTNER_DISPNAME", id);
    SendCommand();
}

void CallControl::OnPartnerAnswer(const char* id, bool isHandle, const char* value) {
    // Only for the call asked about while it still rings in.
    if (cid_.callId[0] == '\0' || std::strcmp(id, cid_.callId) != 0 ||
        state_.callState != CALL_RINGING_IN || std::strcmp(state_.callId, id) != 0)
        return;
    char* into = isHandle ? cid_.handle : cid_.name;
    std::snprintf(into, kPartnerTextSize, "%s", value);
    (isHandle ? cid_.haveHandle : cid_.haveName) = true;
    if (isHandle && cid_.display) {
        const Caller caller = WhoIsCalling(std::string(cid_.handle), std::nullopt);
        if (!caller.number.empty())
            WithPhone([&](PhoneDevice& phone) {
                cid_.shown = phone.ShowCallerNumber(caller.number.c_str()) != 0 || cid_.shown;
            });
    }
    if (cid_.haveHandle && cid_.haveName && cid_.analogue && !cid_.decided &&
        callerIdStandard != CallerIdStandard::Bell202)
        DecideCallerIdBeforeRing();
}

namespace {

CallerIdSignal MakeSignal(CallerIdStandard standard, MainWindow& window,
                          const std::optional<std::string>& handle,
                          const std::optional<std::string>& name) {
    const Caller caller = WhoIsCalling(handle, name);
    CallTime time;
    const bool haveTime = window.LocalTime(time.month, time.day, time.hour, time.minute);
    return MakeCallerIdSignal(standard, caller, haveTime ? &time : nullptr);
}

} // namespace

void CallControl::DecideCallerIdBeforeRing() {
    window_.KillTimer(TIMER_CALLER_ID_WAIT);
    if (cid_.decided || !cid_.analogue || state_.callState != CALL_RINGING_IN) return;
    cid_.decided = true;
    const auto known = [](bool have, const char* text) {
        return have ? std::optional<std::string>(text) : std::nullopt;
    };
    cid_.signal = MakeSignal(callerIdStandard, window_, known(cid_.haveHandle, cid_.handle),
                             known(cid_.haveName, cid_.name));
    if (cid_.signal.pcm.empty()) return;
    // It ends as the first ring begins; one that cannot (started late) goes at once, and the
    // ring, which never waits for it, cuts it short.
    const uint64_t elapsed = GetClock().NowMs() - cid_.ringingAtMs;
    const uint64_t end = elapsed + cid_.signal.durationMs;
    if (end >= kFirstRingMs)
        StartCallerIdSignal();
    else
        window_.ArmTimer(TIMER_CALLER_ID_START, static_cast<unsigned>(kFirstRingMs - end));
}

unsigned CallControl::CallerIdInFirstPause() {
    if (!cid_.analogue || cid_.decided || callerIdStandard != CallerIdStandard::Bell202 ||
        cid_.ringsStarted != 1)
        return kRingOnMs;
    cid_.decided = true;
    const auto known = [](bool have, const char* text) {
        return have ? std::optional<std::string>(text) : std::nullopt;
    };
    cid_.signal = MakeSignal(callerIdStandard, window_, known(cid_.haveHandle, cid_.handle),
                             known(cid_.haveName, cid_.name));
    if (cid_.signal.pcm.empty()) return kRingOnMs;
    StartCallerIdSignal();
    if (!cid_.playing) return kRingOnMs;
    return cid_.signal.durationMs > kRingOnMs ? cid_.signal.durationMs : kRingOnMs;
}

void CallControl::StartCallerIdSignal() {
    if (cid_.playing || cid_.signal.pcm.empty()) return;
    bool onHookTransmission = false;
    WithPhone(
        [&](PhoneDevice& phone) { onHookTransmission = phone.SetOnHookTransmission(1) != 0; });
    if (!onHookTransmission) return; // nothing would reach the telephone
    const std::vector<int16_t>& pcm = cid_.signal.pcm;
    if (!GetWaveOutPort().Play(static_cast<unsigned>(state_.promptDevice.load()), pcm.data(),
                               pcm.size(), WindowHandle())) {
        WithPhone([](PhoneDevice& phone) { phone.SetOnHookTransmission(0); });
        return;
    }
    cid_.playing = true;
    cid_.startedAtMs = GetClock().NowMs();
    window_.ArmTimer(TIMER_CALLER_ID_END, cid_.signal.durationMs + kCallerIdEndMarginMs);
}

void CallControl::OnCallerIdPlayed() {
    if (!cid_.playing) return;
    const uint64_t elapsed = GetClock().NowMs() - cid_.startedAtMs;
    if (elapsed >= cid_.signal.durationMs)
        StopCallerIdSignal();
    else
        window_.ArmTimer(TIMER_CALLER_ID_END,
                         static_cast<unsigned>(cid_.signal.durationMs - elapsed));
}

void CallControl::StopCallerIdSignal() {
    if (!cid_.playing) return;
    cid_.playing = false;
    window_.KillTimer(TIMER_CALLER_ID_END);
    GetWaveOutPort().Stop();
    WithPhone([](PhoneDevice& phone) { phone.SetOnHookTransmission(0); });
}

void CallControl::EndCallerId() {
    if (cid_.callId[0] == '\0') return;
    StopCallerIdSignal();
    window_.KillTimer(TIMER_CALLER_ID_WAIT);
    window_.KillTimer(TIMER_CALLER_ID_START);
    if (cid_.shown) WithPhone([](PhoneDevice& phone) { phone.ShowCallerNumber(""); });
    cid_ = CallerIdCall{};
}
