// Call control driven by everything around it at once, in any interleaving: a Skype client's
// notifications, its answers to our commands (inside the send or later), the telephone's keys
// and hook, the PSTN line, the adapter pulled out and plugged in again, and the main window's
// timers as they fall due. One thread, virtual time, the phone event loop run a pass at a time,
// so every input replays exactly.
//
// The Skype client is a model: calls have ids 51 upwards, each with a life a real client gives
// it (ringing in, or placed and routing; answered; held; ended), and it answers our commands as
// a client does (takes the call, hangs it up, refuses a call it no longer has, creates the call
// we dial or reports an error, now and then denies access). Beside it the model keeps, per call,
// what we did to it: answered it, placed it, hung it up.
//
// After every step:
// - every telephone object is deleted at most once (and, by the end, exactly once), and never
//   used after;
// - pstnActive implies callState 5, 6 or 0;
// - in state 4 the bell is off (ringing 0), and no SetRinging(1) ever comes while in state 4;
// - when the receiver goes down, every call still up as far as we were told (a status of it
//   reached us, no end did, we have not tried to hang it up, and we answered or placed it) gets
//   exactly one "SET CALL <id> STATUS FINISHED". A FINISHED then goes to no other call than one
//   we were told of, not told ended, and not yet hung up: the phone's call may also be one that
//   rang at the lifted receiver, or one taken at the computer.
// A broken invariant aborts with its name on stderr. KESTREL_FUZZ_TRACE=1 prints every step.
#include "adapter/LabAdapter.h"
#include "call/CallControl.h"
#include "core/VirtualClock.h"
#include "device/DeviceLock.h"
#include "device/GatewaySwitch.h"
#include "device/KwIpApi.h"
#include "device/PhoneDevice.h"
#include "device/SlicRegisters.h"
#include "fuzz/FuzzInput.h"
#include "playback/WaveAudio.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

bool Tracing() {
    static const bool on = std::getenv("KESTREL_FUZZ_TRACE") != nullptr;
    return on;
}

void Trace(const char* format, ...) {
    if (!Tracing()) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

[[noreturn]] void Broken(const char* what, const std::string& detail = "") {
    std::fprintf(stderr, "call invariant broken: %s%s%s\n", what, detail.empty() ? "" : ": ",
                 detail.c_str());
    std::abort();
}

// --- The Skype client --------------------------------------------------------------------------

enum class Phase { RingingIn, Outgoing, InProgress, Held, Ended };

const char* PhaseName(Phase p) {
    switch (p) {
    case Phase::RingingIn: return "ringing in";
    case Phase::Outgoing: return "outgoing";
    case Phase::InProgress: return "in progress";
    case Phase::Held: return "held";
    case Phase::Ended: return "ended";
    }
    return "?";
}

struct SkypeCall {
    Phase phase = Phase::RingingIn;
    bool announced = false;    // a status of it has reached us
    bool endDelivered = false; // we have been told it ended
    bool answeredByUs = false;
    bool placedByUs = false;
    bool placedAtComputer = false;
    int finishes = 0;       // our FINISHED commands for it that Skype took
    int finishAttempts = 0; // ours sent for it, taken or denied (a resend is the same one)
};

constexpr int kFirstId = 51;
constexpr int kMaxCalls = 8;

bool IsLive(const SkypeCall& c) {
    return c.phase != Phase::Ended;
}

// What may be said of a call in each phase, and what the call becomes.
struct Move {
    const char* word;
    Phase next;
};
const Move kRingingInMoves[] = {{"RINGING", Phase::RingingIn},
                                {"INPROGRESS", Phase::InProgress}, // answered at the computer
                                {"MISSED", Phase::Ended},          // the caller gave up
                                {"REFUSED", Phase::Ended},
                                {"CANCELLED", Phase::Ended}};
const Move kOutgoingMoves[] = {{"RINGING", Phase::Outgoing},    // the far end rings
                               {"EARLYMEDIA", Phase::Outgoing}, //
                               {"ROUTING", Phase::Outgoing},    //
                               {"INPROGRESS", Phase::InProgress}, {"BUSY", Phase::Ended},
                               {"FAILED", Phase::Ended},          {"REFUSED", Phase::Ended},
                               {"MISSED", Phase::Ended},          {"CANCELLED", Phase::Ended}};
const Move kInProgressMoves[] = {{"ONHOLD", Phase::Held},
                                 {"LOCALHOLD", Phase::Held},
                                 {"REMOTEHOLD", Phase::Held},
                                 {"FINISHED", Phase::Ended},
                                 {"FAILED", Phase::Ended}};
const Move kHeldMoves[] = {{"INPROGRESS", Phase::InProgress}, {"FINISHED", Phase::Ended}};

// Texts about other things, some of which look like call texts to a careless reader.
const char* const kOtherTexts[] = {
    "USER bob MOOD_TEXT CALL 5 STATUS RINGING",
    "USER bob FULLNAME call error",
    "USER bob MOOD_TEXT invalid call id",
    "SMS 12 STATUS FAILED",
    "FILETRANSFER 3 STATUS FAILED",
    "VOICEMAIL 4 STATUS FAILED",
    "CHAT #bob/$alice;1 TOPIC x",
    "CHATMESSAGE 77 STATUS RECEIVED",
    "CONNSTATUS ONLINE",
    "USERSTATUS ONLINE",
    "CURRENTUSERHANDLE alice",
    "PROTOCOL 8",
    "CONNSTATUS LOGGEDOUT",
    "",
};

// Skype's answers to a "CALL" it cannot place.
const char* const kCallErrors[] = {"ERROR 26 Invalid user handle", "ERROR 38 CALL: call error",
                                   "ERROR 101 call error", "ERROR 92 CALL: Unrecognised identity"};

class SkypeModel;

// --- The telephone ------------------------------------------------------------------------------

class World;

class FuzzPhone : public PhoneDevice {
  public:
    FuzzPhone(World& world, int id, bool offHook);
    ~FuzzPhone() override;
    int Initialize() override;
    int PollEvent() override;
    PhoneKey GetEventKey() override;
    int SetRinging(int on) override;
    int IsOffHook() override {
        Check();
        return offHook_ ? 1 : 0;
    }
    // No thread of its own: the sequence runs the passes.
    int NeedsPolling() override { return 0; }

    std::deque<PhoneKey> keys;
    const int id;

  protected:
    void OnLineMode(int line) override;

  private:
    void Check();
    World& world_;
    const bool offHook_;
    PhoneKey key_ = kKeyNone;
    static constexpr uint32_t kAlive = 0xA11CE;
    volatile uint32_t alive_ = kAlive;
};

// A gateway, as far as the PSTN watch asks: its pin 0x10 is the line-use detector.
class FuzzGateway final : public FuzzPhone, public GatewaySwitch {
  public:
    using FuzzPhone::FuzzPhone;
};

// --- The main window ---------------------------------------------------------------------------

struct Posted {
    bool pstnRing;
    int8_t key;
};

class FuzzWindow final : public MainWindow {
  public:
    explicit FuzzWindow(VirtualClock& clock) : clock_(clock) {}
    void ArmTimer(unsigned id, unsigned ms) override { armed[id] = clock_.NowMs() + ms; }
    void KillTimer(unsigned id) override { armed.erase(id); }
    void PostPhoneKey(int8_t key) override { posted.push_back({false, key}); }
    void PostPstnRing() override { posted.push_back({true, 0}); }
    void SetTrayIcon(int) override {}
    void EnableModeButtons(bool) override {}
    void GetSlotName(int slot, char* buffer, unsigned size) override {
        if (size > 0) std::snprintf(buffer, size, "%s", slot == 1 ? "one.wav" : "");
    }
    void SetSlotName(int, const char*) override {}
    void EnablePlayButton(int, bool) override {}
    void ShowMessage(const char*, const char*, bool) override {}
    bool FocusOutsideMainWindow() override { return focusOutside; }
    bool SkypeMainWindowExists() override { return true; }

    std::map<unsigned, uint64_t> armed; // timer id -> when it falls due
    std::deque<Posted> posted;
    bool focusOutside = false;

  private:
    VirtualClock& clock_;
};

// --- Call control with our telephones ------------------------------------------------------------

class FuzzCallControl final : public CallControl {
  public:
    FuzzCallControl(BridgeState& state, MainWindow& window, SkypeCommands& skype, World& world)
        : CallControl(state, window, skype), world_(world) {}

  protected:
    PhoneDevice* CreatePhone(int32_t productId) override;

  private:
    World& world_;
};

// --- Everything together -------------------------------------------------------------------------

class World final : public SkypeCommands {
  public:
    World(const uint8_t* data, size_t size) : in(data, size), window(clock) {}

    void Run();

    // Telephones.
    struct PhoneRecord {
        int deletes = 0;
    };
    std::vector<PhoneRecord> phones;
    FuzzPhone* currentPhone = nullptr; // the one call control holds, as far as we know
    bool gateway = false;
    int productId = 0x831C;
    bool hookUp = false; // the receiver, physically
    bool plugged = true;

    void OnPhoneDeleted(int id) {
        if (++phones[static_cast<size_t>(id)].deletes > 1) Broken("a telephone released twice");
        if (currentPhone != nullptr && currentPhone->id == id) currentPhone = nullptr;
    }
    void OnSetRinging(int on) {
        if (on && state.callState == CALL_IN_PROGRESS) Broken("the bell switched on in state 4");
    }

    // SkypeCommands: every command Skype receives, answered as a client would.
    void SendSkypeCommand() override;
    void ReplyTrue() override {}

    FuzzInput in;
    VirtualClock clock;
    LabAdapter lab;
    BridgeState state;
    FuzzWindow window;
    std::unique_ptr<FuzzCallControl> cc;

  private:
    // Skype's side.
    std::map<std::string, SkypeCall> calls;
    int nextId = kFirstId;
    std::deque<std::string> outbox; // notifications sent but not yet handled, in order
    int depth = 0;                  // notifications being handled inside a send of ours
    // FINISHED commands sent at depth 0 while the receiver-down key was handled.
    bool watchingHangUp = false;
    std::map<std::string, int> hangUpFinishes;

    std::string NewCall(Phase phase);
    std::vector<std::string> LiveIds() const;
    void Deliver(const std::string& text);
    void DeliverAll();
    void SkypeEvent();
    std::string deniedText; // the command Skype just denied, which we may resend once
    // Our last "CALL" until Skype's answer reaches us. The answer names no command: Kestrel
    // takes the first new call being set up after it for the phone's. A call placed at the
    // computer in the same few milliseconds could not be told from it, so the model places
    // none while a dial waits, and lets every call placed at the computer reach us before the
    // hash key does (which takes a person far longer than a notification takes).
    bool dialOutstanding = false;
    std::string dialId; // the call Skype made for it ("" if it answered with an error)
    uint64_t dialAt = 0;
    void AnswerReached(const std::string& text);
    void ReportComputerCalls();
    void AnswerDialBefore(uint64_t time);

    // Steps.
    void Step();
    void PhoneKeyPressed(PhoneKey key);
    void Pass();
    void DispatchPosted();
    void FireTimer(unsigned id);
    void FireDue(uint64_t until);
    void Unplug();
    void Plug();
    void OpenedCheck(bool hadPhone);
    void CheckInvariants();
    void CheckHangUp(const std::map<std::string, bool>& must,
                     const std::map<std::string, bool>& allowed);
};

FuzzPhone::FuzzPhone(World& world, int id_, bool offHook)
    : id(id_), world_(world), offHook_(offHook) {}
FuzzPhone::~FuzzPhone() {
    Check();
    alive_ = 0;
    world_.OnPhoneDeleted(id);
}
void FuzzPhone::Check() {
    if (alive_ != kAlive) Broken("a telephone used after its release");
}
int FuzzPhone::Initialize() {
    Check();
    // A working line feed, as the bring-up leaves it: the status poll reads it back.
    SlicWriteDirect(SLIC_LINEFEED, 1);
    return 1;
}
int FuzzPhone::PollEvent() {
    DeviceLockGuard hold;
    Check();
    lastEvent = kEventNone;
    if (keys.empty()) return 0;
    key_ = keys.front();
    keys.pop_front();
    lastEvent = 0;
    return 1;
}
PhoneKey FuzzPhone::GetEventKey() {
    Check();
    return lastEvent == kEventNone ? kKeyNone : key_;
}
int FuzzPhone::SetRinging(int on) {
    DeviceLockGuard hold;
    Check();
    world_.OnSetRinging(on);
    return 1;
}
void FuzzPhone::OnLineMode(int) {
    Check();
}

PhoneDevice* FuzzCallControl::CreatePhone(int32_t productId) {
    // No product: the library found no device.
    if (productId == 0) return nullptr;
    const int id = static_cast<int>(world_.phones.size());
    world_.phones.push_back({});
    FuzzPhone* phone = world_.gateway
                           ? static_cast<FuzzPhone*>(new FuzzGateway(world_, id, world_.hookUp))
                           : new FuzzPhone(world_, id, world_.hookUp);
    world_.currentPhone = phone;
    return phone;
}

// --- Skype -----------------------------------------------------------------------------------

std::string World::NewCall(Phase phase) {
    if (nextId >= kFirstId + kMaxCalls) return "";
    const std::string id = std::to_string(nextId++);
    calls[id].phase = phase;
    return id;
}

std::vector<std::string> World::LiveIds() const {
    std::vector<std::string> ids;
    for (const auto& [id, call] : calls)
        if (IsLive(call)) ids.push_back(id);
    return ids;
}

void World::AnswerReached(const std::string& text) {
    if (!dialOutstanding) return;
    // Kestrel stops waiting for an answer after a while; a call made for a dial that late is
    // one it has no reason to take for the phone's.
    if (clock.NowMs() - dialAt > CallControl::kDialAnswerWaitMs) {
        dialOutstanding = false;
        if (!dialId.empty()) calls[dialId].placedByUs = false;
        return;
    }
    for (const char* error : kCallErrors)
        if (text == error) dialOutstanding = false;
    if (!dialId.empty() && text == "CALL " + dialId + " STATUS UNPLACED") dialOutstanding = false;
    if (!dialId.empty() && text == "CALL " + dialId + " STATUS ROUTING") dialOutstanding = false;
}

void World::ReportComputerCalls() {
    for (const auto& [id, call] : calls)
        if (call.placedAtComputer && !call.announced) {
            DeliverAll();
            return;
        }
}

void World::Deliver(const std::string& text) {
    Trace("  skype -> \"%s\"", text.c_str());
    AnswerReached(text);
    // What we are told of a call.
    char id[16] = {};
    char word[32] = {};
    if (std::sscanf(text.c_str(), "CALL %15s STATUS %31s", id, word) == 2) {
        auto it = calls.find(id);
        if (it != calls.end()) {
            it->second.announced = true;
            for (const char* end : {"FINISHED", "MISSED", "REFUSED", "FAILED", "BUSY", "CANCELLED"})
                if (std::strcmp(word, end) == 0) it->second.endDelivered = true;
        }
    }
    cc->OnSkypeNotification(text.c_str());
}

void World::DeliverAll() {
    while (!outbox.empty()) {
        const std::string text = outbox.front();
        outbox.pop_front();
        Deliver(text);
    }
}

void World::SkypeEvent() {
    const uint8_t what = in.Byte();
    switch (what % 8) {
    case 0: { // a call comes in
        const std::string id = NewCall(Phase::RingingIn);
        if (!id.empty()) outbox.push_back("CALL " + id + " STATUS RINGING");
        break;
    }
    case 1: { // someone places a call at the computer
        if (dialOutstanding) break;
        const std::string id = NewCall(Phase::Outgoing);
        if (id.empty()) break;
        calls[id].placedAtComputer = true;
        if (what & 8) outbox.push_back("CALL " + id + " STATUS UNPLACED");
        outbox.push_back("CALL " + id + " STATUS ROUTING");
        break;
    }
    case 2: { // a text about something else
        std::string text = in.Byte() % 4 == 0 ? in.Bytes(64) : in.PickFrom(kOtherTexts);
        text = text.c_str();
        // Skype says nothing else about calls and sends errors only as answers.
        if (text.compare(0, 5, "CALL ") == 0 || text.compare(0, 6, "ERROR ") == 0) text[0] = 'X';
        outbox.push_back(text);
        break;
    }
    case 3: { // the length of a call
        const std::vector<std::string> live = LiveIds();
        if (!live.empty()) outbox.push_back("CALL " + live[in.Pick(live.size())] + " DURATION 1");
        break;
    }
    default: { // a call moves on
        const std::vector<std::string> live = LiveIds();
        if (live.empty()) break;
        const std::string id = live[in.Pick(live.size())];
        SkypeCall& call = calls[id];
        const Move* move = nullptr;
        switch (call.phase) {
        case Phase::RingingIn: move = &in.PickFrom(kRingingInMoves); break;
        case Phase::Outgoing: move = &in.PickFrom(kOutgoingMoves); break;
        case Phase::InProgress: move = &in.PickFrom(kInProgressMoves); break;
        case Phase::Held: move = &in.PickFrom(kHeldMoves); break;
        case Phase::Ended: break;
        }
        if (move == nullptr) break;
        call.phase = move->next;
        outbox.push_back("CALL " + id + " STATUS " + move->word);
        break;
    }
    }
}

// "SET CALL <id> STATUS <word>": false for any other text.
bool ParseSetStatus(const std::string& text, std::string& id, std::string& word) {
    static const std::string kPrefix = "SET CALL ";
    if (text.compare(0, kPrefix.size(), kPrefix) != 0) return false;
    const size_t idEnd = text.find(' ', kPrefix.size());
    if (idEnd == std::string::npos || text.compare(idEnd, 8, " STATUS ") != 0) return false;
    id = text.substr(kPrefix.size(), idEnd - kPrefix.size());
    word = text.substr(idEnd + 8);
    return true;
}

void World::SendSkypeCommand() {
    const std::string text(state.commandText);
    // The resend that a denial asks for is the same command once more, not a new one.
    const bool resend = !deniedText.empty() && text == deniedText;
    deniedText.clear();
    Trace("  kestrel -> \"%s\"%s", text.c_str(), resend ? " (resent)" : "");

    std::string id, status;
    const bool setStatus = ParseSetStatus(text, id, status);
    auto it = setStatus ? calls.find(id) : calls.end();
    SkypeCall* call = it != calls.end() ? &it->second : nullptr;
    // A denied command and its resend are one.
    if (setStatus && status == "FINISHED" && !resend) {
        if (call != nullptr) ++call->finishAttempts;
        if (watchingHangUp && depth == 0) ++hangUpFinishes[id];
    }

    // Now and then Skype refuses a command outright, answering inside the send. (A choice past
    // the end of the input reads 0: the ordinary answer.)
    if (in.Byte() % 32 == 31) {
        deniedText = text;
        Deliver("ERROR 68 Access denied");
        deniedText.clear();
        return;
    }

    if (setStatus && status == "FINISHED") {
        if (call != nullptr) ++call->finishes;
        if (call != nullptr && IsLive(*call)) {
            const bool wasRinging = call->phase == Phase::RingingIn;
            call->phase = Phase::Ended;
            outbox.push_back("CALL " + id + " STATUS " + (wasRinging ? "REFUSED" : "FINISHED"));
        } else if (in.Byte() & 1) {
            outbox.push_back("ERROR 11 Invalid call id");
        }
    } else if (setStatus && status == "INPROGRESS") {
        if (call != nullptr && call->phase == Phase::RingingIn) {
            call->answeredByUs = true;
            call->phase = Phase::InProgress;
            outbox.push_back("CALL " + id + " STATUS INPROGRESS");
        } else if (call != nullptr && call->phase == Phase::Held) {
            call->phase = Phase::InProgress;
            outbox.push_back("CALL " + id + " STATUS INPROGRESS");
        } else if (call == nullptr || !IsLive(*call)) {
            outbox.push_back("ERROR 11 Invalid call id");
        }
    } else if (text.compare(0, 5, "CALL ") == 0) {
        // A number or a speed-dial number is called, unless Skype finds nothing to call.
        const std::string target = text.substr(5);
        const bool callable =
            !target.empty() && target.find_first_not_of("+0123456789") == std::string::npos;
        const uint8_t how = in.Byte();
        const std::string newId = !callable || how % 4 == 3 ? "" : NewCall(Phase::Outgoing);
        // (A denied "CALL" made nothing; its resend is the one Skype takes.)
        dialOutstanding = true;
        dialId = newId;
        if (!resend) dialAt = clock.NowMs();
        if (newId.empty()) {
            outbox.push_back(kCallErrors[(how >> 2) % (sizeof kCallErrors / sizeof *kCallErrors)]);
        } else {
            calls[newId].placedByUs = true;
            if (how & 0x10) outbox.push_back("CALL " + newId + " STATUS UNPLACED");
            outbox.push_back("CALL " + newId + " STATUS ROUTING");
        }
    }

    // Skype may answer at once, inside our send, or later.
    if (depth < 3 && (in.Byte() & 1)) {
        ++depth;
        DeliverAll();
        --depth;
    }
}

// --- Steps ---------------------------------------------------------------------------------------

std::string KeyName(uint8_t key) {
    if (key >= '0' && key <= '9') return std::string(1, static_cast<char>(key));
    switch (key) {
    case kKeyStar: return "*";
    case kKeyHash: return "#";
    case kKeyOffHook: return "off-hook";
    case kKeyOnHook: return "on-hook";
    default: return std::to_string(key);
    }
}

void World::PhoneKeyPressed(PhoneKey key) {
    // Keys reach only an open telephone; a removed one reports nothing.
    if (plugged && currentPhone != nullptr) {
        currentPhone->keys.push_back(key);
        if (key != kKeyOffHook && key != kKeyOnHook)
            Trace("  key %s pressed", KeyName(key).c_str());
    }
}

void World::Pass() {
    // The phone event thread's pass, while it runs.
    if (cc->m_hThread == 0) return;
    const bool hadPhone = cc->m_pPhone.load() != nullptr;
    if (!cc->PhoneEventPass()) {
        cc->m_hThread = 0;
        Trace("  pass: the thread ends%s", hadPhone ? ", the telephone released" : "");
    }
}

void World::DispatchPosted() {
    if (window.posted.empty()) return;
    const Posted p = window.posted.front();
    window.posted.pop_front();
    if (p.pstnRing) {
        Trace("  gui: PSTN ring notice");
        cc->OnPstnRingNotify();
        return;
    }
    const uint8_t key = static_cast<uint8_t>(p.key);
    Trace("  gui: key %s (state %s)", KeyName(key).c_str(), CallStateName(state.callState));
    if (key == kKeyHash) ReportComputerCalls();
    if (key != kKeyOnHook) {
        cc->OnWindowMessage(WMU_PHONE_KEY, PHONE_KEY_EVENT, static_cast<intptr_t>(p.key));
        return;
    }

    // The receiver goes down: which calls must end, and which may.
    std::map<std::string, bool> must, allowed;
    for (const auto& [id, call] : calls) {
        // Up as far as we were told: announced, no end reported, not hung up by us. A call we
        // tried to hang up once is not owed another FINISHED; one that Skype denied it may
        // get another.
        const bool told = call.announced && !call.endDelivered;
        if (told && call.finishAttempts == 0 && (call.answeredByUs || call.placedByUs))
            must[id] = true;
        if (told && call.finishes == 0) allowed[id] = true;
    }
    watchingHangUp = true;
    hangUpFinishes.clear();
    cc->OnWindowMessage(WMU_PHONE_KEY, PHONE_KEY_EVENT, static_cast<intptr_t>(p.key));
    watchingHangUp = false;
    CheckHangUp(must, allowed);
}

void World::CheckHangUp(const std::map<std::string, bool>& must,
                        const std::map<std::string, bool>& allowed) {
    for (const auto& [id, yes] : must) {
        (void)yes;
        auto sent = hangUpFinishes.find(id);
        const int n = sent == hangUpFinishes.end() ? 0 : sent->second;
        if (n != 1)
            Broken(n == 0 ? "a call still up got no FINISHED when the receiver went down"
                          : "a call got more than one FINISHED when the receiver went down",
                   "call " + id + " (" + PhaseName(calls[id].phase) + ")");
    }
    for (const auto& [id, n] : hangUpFinishes) {
        if (allowed.count(id) == 0)
            Broken("FINISHED for a call that was not up when the receiver went down", "call " + id);
        if (n != 1) Broken("a call got more than one FINISHED when the receiver went down", id);
    }
}

void World::FireTimer(unsigned id) {
    Trace("  timer %u at %llu (state %s)", id, static_cast<unsigned long long>(clock.NowMs()),
          CallStateName(state.callState));
    const bool hadPhone = cc->m_pPhone.load() != nullptr;
    cc->OnTimer(id);
    if (id == TIMER_OPEN_PHONE) OpenedCheck(hadPhone);
}

// Fires, in the order they fall due, the timers due by `until`, and moves time there.
void World::FireDue(uint64_t until) {
    for (;;) {
        unsigned next = 0;
        uint64_t when = 0;
        for (const auto& [id, due] : window.armed)
            if (due <= until && (next == 0 || due < when)) next = id, when = due;
        if (next == 0) break;
        AnswerDialBefore(when);
        if (when > clock.NowMs()) clock.Advance(when - clock.NowMs());
        FireTimer(next);
        CheckInvariants();
    }
    AnswerDialBefore(until);
    if (until > clock.NowMs()) clock.Advance(until - clock.NowMs());
}

void World::AnswerDialBefore(uint64_t time) {
    // A client answers in milliseconds: whatever it had to say reaches us before Kestrel stops
    // waiting for a dial's answer.
    if (dialOutstanding && time > dialAt + CallControl::kDialAnswerWaitMs) DeliverAll();
}

void World::OpenedCheck(bool hadPhone) {
    // OpenPhone started the phone event thread for a phone it opened.
    if (!hadPhone && cc->m_pPhone.load() != nullptr) {
        cc->m_hThread = 1;
        Trace("  telephone opened (%s)", hookUp ? "off hook" : "on hook");
    }
}

void World::Unplug() {
    if (!plugged) return;
    Trace("  unplug (state %s)", CallStateName(state.callState));
    plugged = false;
    lab.Unplug();
    cc->OnWindowMessage(WMU_DEVICE_REMOVED, 0, productId);
}

void World::Plug() {
    if (plugged) return;
    Trace("  plug");
    plugged = true;
    lab.Plug();
    cc->OnWindowMessage(WMU_DEVICE_ARRIVED, 0, productId);
}

void World::Step() {
    static const PhoneKey kDialKeys[] = {'0', '1', '2', '3', '5', '9', kKeyStar, kKeyHash};
    static const PhoneKey kFunctionKeys[] = {13, 8, 138, 139};
    static const unsigned kTimers[] = {
        TIMER_OPEN_PHONE,     TIMER_RING_OFF,       TIMER_RING_ON,       TIMER_STATUS_POLL,
        TIMER_PSTN_RING_OVER, TIMER_PSTN_LINE_IDLE, TIMER_CALL_ANIMATION};
    const uint8_t op = in.Byte();
    switch (op % 16) {
    case 0:
    case 1: // Skype does something; it reaches us now or later
        SkypeEvent();
        if (op & 0x10) DeliverAll();
        break;
    case 2: // Skype's next notification reaches us
        if (!outbox.empty()) {
            const std::string text = outbox.front();
            outbox.pop_front();
            Deliver(text);
        }
        break;
    case 3: { // the receiver lifted or put down
        hookUp = !hookUp;
        Trace("  receiver %s", hookUp ? "lifted" : "down");
        if (hookUp)
            lab.LiftReceiver();
        else
            lab.ReplaceReceiver();
        PhoneKeyPressed(hookUp ? kKeyOffHook : kKeyOnHook);
        Pass();
        if (op & 0x10) DispatchPosted();
        break;
    }
    case 4:
    case 5: { // a key of the telephone
        if (hookUp) PhoneKeyPressed(in.PickFrom(kDialKeys));
        Pass();
        if (op & 0x10) DispatchPosted();
        break;
    }
    case 6: // a handset function key
        PhoneKeyPressed(in.PickFrom(kFunctionKeys));
        window.focusOutside = op & 0x10;
        Pass();
        break;
    case 7: Pass(); break;
    case 8: DispatchPosted(); break;
    case 9: { // a timer falls due: the one chosen, or else the next one armed
        const unsigned id = in.PickFrom(kTimers);
        auto it = window.armed.find(id);
        if (it == window.armed.end()) {
            for (auto other = window.armed.begin(); other != window.armed.end(); ++other)
                if (it == window.armed.end() || other->second < it->second) it = other;
        }
        // Every timer due before it fires first.
        if (it != window.armed.end()) FireDue(it->second);
        break;
    }
    case 10: // the PSTN line rings or stops ringing
        lab.SetPstnRinging(op & 0x10);
        Trace("  PSTN %s", op & 0x10 ? "rings" : "quiet");
        break;
    case 11: // the PSTN line in use or idle (seen by a gateway's detector)
        lab.SetPstnLineBusy(op & 0x10);
        Trace("  PSTN line %s", op & 0x10 ? "in use" : "idle");
        break;
    case 12:
        if (op & 0x10)
            Unplug();
        else
            Plug();
        break;
    case 13: // the mode buttons
        state.voipOnly = (op & 0x10) ? 1 : 0;
        Trace("  mode %s", state.voipOnly ? "VoIP only" : "Auto");
        break;
    case 14: // Skype attaches again (after a log-out)
        state.attachStatus = ATTACH_SUCCESS;
        Trace("  attached");
        break;
    default: // resume from sleep
        Trace("  resume");
        cc->OnWindowMessage(0x218, 18, 0);
        break;
    }
}

void World::CheckInvariants() {
    const int32_t s = state.callState;
    if (s != CALL_IDLE && s != CALL_RINGING_IN && s != CALL_GOING_OUT && s != CALL_IN_PROGRESS &&
        s != CALL_PSTN_IN && s != CALL_PSTN_OUT)
        Broken("callState outside its values");
    if (state.pstnActive == 1 && s != CALL_PSTN_IN && s != CALL_PSTN_OUT && s != CALL_IDLE)
        Broken("pstnActive outside states 5, 6 and 0", "state " + std::to_string(s));
    if (s == CALL_IN_PROGRESS && state.ringing != 0) Broken("ringing in state 4");
}

void World::Run() {
    const uint8_t setup = in.Byte();
    gateway = setup & 1;
    productId = gateway ? 0xC290 : 0x831C;
    hookUp = setup & 2;

    clock.Advance(10000000); // an uptime, so no episode seems to reach back to time 0
    SetClock(&clock);
    lab.SetProductId(productId);
    lab.SetCallLimit(64);
    if (hookUp) lab.LiftReceiver();
    SetCurrentLabAdapter(&lab);
    SetDeviceLibrary(nullptr, LabVaVoRarCall);
    ResetWaveAudio();

    state.mainWnd = 0x5150;
    state.attachStatus = ATTACH_SUCCESS;
    cc = std::make_unique<FuzzCallControl>(state, window, *this, *this);
    // Start-up: the phone opened, its thread started, the status poll running.
    cc->OpenPhone();
    OpenedCheck(false);
    window.ArmTimer(TIMER_STATUS_POLL, 2000);
    FireDue(clock.NowMs() + 2000);

    int steps = 0;
    while (!in.Empty() && ++steps <= 400) {
        const int32_t before = state.callState;
        const int32_t pstnBefore = state.pstnActive;
        Step();
        if (state.callState != before || state.pstnActive != pstnBefore)
            Trace("    now state %s%s", CallStateName(state.callState),
                  state.pstnActive ? ", on the PSTN line" : "");
        CheckInvariants();
    }

    // Shutdown: the thread's last pass (it was waited for), then the device part of shutdown.
    Trace("  shutdown");
    if (cc->m_hThread != 0) {
        cc->m_bReleaseOnStop = 1;
        cc->m_bStopThread = 1;
        Pass();
    }
    cc->ShutDownDevice();
    cc.reset();
    for (const PhoneRecord& p : phones)
        if (p.deletes != 1) Broken("a telephone never released");

    ClearDeviceLibrary();
    SetCurrentLabAdapter(nullptr);
    SetClock(nullptr);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    World world(data, size);
    world.Run();
    return 0;
}
