// The attach handshake with any status, from any window, in any order, interleaved with
// notifications and with commands going out, through the whole link: SkypeLink in front of the
// notification dispatch, whose answers go back through the same link. A small model of the link
// says what every step must leave behind:
// - status 0 records the window and the status; 1, 2, 3 record the status and keep the window;
//   0x8001 records it and rediscovers when Skype's main window exists; any other changes nothing;
// - a failed discovery sets the status to 255 with a message; "CONNSTATUS LOGGEDOUT" sets 255;
// - a notification reaches the dispatch only from the recorded window while the bridge is ready,
//   cut at its first NUL and at kMaxNotificationSize - 1 characters;
// - a command goes to the recorded window with its terminator counted, after a discovery when
//   no window is known; a refused send is followed by a discovery and the same send once more.
#include "fuzz/FuzzFakes.h"
#include "fuzz/FuzzInput.h"
#include "skype/SkypeLink.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "attach invariant broken: %s\n", what);
    std::abort();
}

constexpr uintptr_t kApiWnd = 0x1234;
constexpr uintptr_t kSkypeA = 0x5150;
constexpr uintptr_t kSkypeB = 0x6160;

// What the link must hold, kept beside it.
struct LinkModel {
    uintptr_t skypeWnd = 0;
    int32_t attachStatus = ATTACH_NOT_CONNECTED;
};

class ModelWindow final : public QuietMainWindow {
  public:
    void ShowMessage(const char*, const char*, bool) override { ++messages; }
    bool SkypeMainWindowExists() override { return skypeExists; }
    bool skypeExists = true;
    int messages = 0;
};

// The window system as the link sees it: every result comes from the input, and every call is
// checked against the protocol.
class ModelWire final : public SkypeWire {
  public:
    ModelWire(FuzzInput& in, LinkModel& model, BridgeState& state)
        : in_(in), model_(model), state_(state) {}

    bool BroadcastDiscover(uintptr_t apiWnd, unsigned long* lastError) override {
        if (apiWnd != kApiWnd) Broken("discovery without our API window");
        ++broadcasts;
        if (!retryText_.empty()) retryDiscovered_ = true;
        // A choice past the end of the input reads 0: the ordinary answer.
        const bool ok = in_.Byte() % 8 != 7;
        if (!ok) {
            *lastError = 5;
            // A failed discovery: status 255 and a message box.
            model_.attachStatus = ATTACH_NOT_CONNECTED;
            ++expectedMessages;
        }
        return ok;
    }
    intptr_t SendCopyData(uintptr_t skypeWnd, uintptr_t apiWnd, const char* data,
                          unsigned long cbData) override {
        if (apiWnd != kApiWnd) Broken("command sent without our API window");
        if (skypeWnd != model_.skypeWnd) Broken("command sent to a window other than Skype's");
        if (data == nullptr || cbData == 0) Broken("empty command record");
        if (data[cbData - 1] != '\0' || std::strlen(data) != cbData - 1)
            Broken("cbData is not the text with its terminator");
        if (cbData > kCommandTextSize) Broken("command longer than its buffer");
        ++sends;
        if (!retryText_.empty()) {
            // The one resend after a refused send: the same text, after a discovery.
            if (!retryDiscovered_ || retryText_ != data) Broken("refused send not retried as such");
            retryText_.clear();
            retryDiscovered_ = false;
            // Then, unless the bridge is ready, the access-denied box.
            if (state_.bridgeReady == 0) ++expectedMessages;
            return (in_.Byte() & 1) == 0;
        }
        const intptr_t result = in_.Byte() % 4 != 3;
        if (result == 0) {
            retryText_ = data;
            ++refusals;
        }
        return result;
    }
    void ReplyTrue() override {}

    // Called after every step: no refused send may be left without its resend.
    void CheckSettled() const {
        if (!retryText_.empty()) Broken("refused send never retried");
    }

    int broadcasts = 0;
    int sends = 0;
    int expectedMessages = 0;
    int refusals = 0;

  private:
    FuzzInput& in_;
    LinkModel& model_;
    BridgeState& state_;
    std::string retryText_;
    bool retryDiscovered_ = false;
};

// Call control's commands go out through the link, as in the program.
class LinkCommands final : public SkypeCommands {
  public:
    explicit LinkCommands(SkypeLink*& link) : link_(link) {}
    void SendSkypeCommand() override { link_->SendSkypeCommand(); }
    void ReplyTrue() override { link_->ReplyTrue(); }

  private:
    SkypeLink*& link_;
};

// Texts a real client sends, and a few that look like others.
const char* const kTexts[] = {
    "CALL 51 STATUS RINGING",
    "CALL 51 STATUS ROUTING",
    "CALL 51 STATUS INPROGRESS",
    "CALL 51 STATUS FINISHED",
    "CALL 52 STATUS RINGING",
    "CALL 52 STATUS REFUSED",
    "CALL 51 STATUS UNPLACED",
    "CALL 51 STATUS EARLYMEDIA",
    "CALL 51 DURATION 1",
    "USER bob MOOD_TEXT CALL 5 STATUS RINGING",
    "USER bob FULLNAME call error",
    "SMS 12 STATUS FAILED",
    "FILETRANSFER 3 STATUS FAILED",
    "ERROR 11 Invalid call id",
    "ERROR 9901 Access denied",
    "ERROR 101 call error",
    "CONNSTATUS LOGGEDOUT",
    "CONNSTATUS ONLINE",
    "CHAT #bob/$alice;1 TOPIC x",
    "PROTOCOL 8",
    "",
};

const int32_t kStatuses[] = {ATTACH_SUCCESS,
                             ATTACH_PENDING_AUTHORIZATION,
                             ATTACH_REFUSED,
                             ATTACH_NOT_AVAILABLE,
                             ATTACH_API_AVAILABLE,
                             ATTACH_NOT_CONNECTED,
                             -1,
                             4};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    UseVirtualTime();
    FuzzInput in(data, size);
    LinkModel model;
    BridgeState state;
    ModelWindow window;
    ModelWire wire(in, model, state);
    SkypeLink* linkPtr = nullptr;
    LinkCommands commands(linkPtr);
    CallControl control(state, window, commands);
    SkypeLink link(state, wire, window);
    linkPtr = &link;
    link.apiWnd = kApiWnd;

    bool delivered = false;
    std::string seen;
    link.SetNotificationSink([&](const char* text) {
        delivered = true;
        seen = text;
        control.OnSkypeNotification(text);
        if (std::strcmp(text, "CONNSTATUS LOGGEDOUT") == 0)
            model.attachStatus = ATTACH_NOT_CONNECTED;
    });

    int steps = 0;
    while (!in.Empty() && ++steps <= 64) {
        switch (in.Pick(6)) {
        case 0: { // an attach message
            const uint8_t who = in.Byte();
            const uintptr_t wParam = who % 4 == 0   ? kSkypeA
                                     : who % 4 == 1 ? kSkypeB
                                     : who % 4 == 2 ? 0
                                                    : in.U32();
            const uint8_t pick = in.Byte();
            const intptr_t lParam = pick < 0xF0
                                        ? kStatuses[pick % 8]
                                        : static_cast<intptr_t>(static_cast<int32_t>(in.U32()));
            const int broadcastsBefore = wire.broadcasts;
            const uintptr_t windowBefore = model.skypeWnd;
            // The model first, in the order the link acts: the status, then any discovery
            // (whose failure the wire's model records).
            bool rediscovers = false;
            switch (lParam) {
            case ATTACH_SUCCESS: model.skypeWnd = wParam; [[fallthrough]];
            case ATTACH_PENDING_AUTHORIZATION:
            case ATTACH_REFUSED:
            case ATTACH_NOT_AVAILABLE: model.attachStatus = static_cast<int32_t>(lParam); break;
            case ATTACH_API_AVAILABLE:
                model.attachStatus = ATTACH_API_AVAILABLE;
                rediscovers = window.skypeExists;
                break;
            default: break;
            }
            if (link.OnAttach(wParam, lParam) != 1) Broken("attach message not answered TRUE");
            if (wire.broadcasts - broadcastsBefore != (rediscovers ? 1 : 0))
                Broken("attach message made the wrong discoveries");
            if (lParam != ATTACH_SUCCESS && link.skypeWnd != windowBefore)
                Broken("a status other than 0 changed Skype's window");
            break;
        }
        case 1: { // a notification from Skype's window or another one
            const uint8_t how = in.Byte();
            std::string text = how & 0x80 ? in.Bytes(255) : in.PickFrom(kTexts);
            if (how & 0x40) text.push_back('\0'); // the terminator, as Skype sends it
            if ((how & 0x30) == 0x30) text.append(static_cast<size_t>(in.U16() % 5000), 'x');
            const uintptr_t sender = how & 1 ? kSkypeB : how & 2 ? 0 : kSkypeA;
            // The sender's buffer holds exactly cbData bytes, in a block of its own.
            std::unique_ptr<char[]> buffer(new char[text.size() ? text.size() : 1]);
            std::memcpy(buffer.get(), text.data(), text.size());
            CopyDataRecord record;
            record.cbData = static_cast<uint32_t>(text.size());
            record.lpData = text.empty() && (how & 4) ? nullptr : buffer.get();

            const bool expected = model.skypeWnd != 0 && sender == model.skypeWnd &&
                                  state.bridgeReady == 1 && record.lpData != nullptr &&
                                  record.cbData != 0;
            std::string expectedText(text.data(),
                                     std::min<size_t>(text.size(), kMaxNotificationSize - 1));
            expectedText = expectedText.c_str();
            delivered = false;
            if (link.OnCopyData(sender, &record) != 1) Broken("notification not answered TRUE");
            if (delivered != expected) Broken("notification gate let the wrong text through");
            if (delivered && seen != expectedText) Broken("notification text changed on its way");
            break;
        }
        case 2: { // a command going out, as call control sends one
            const uint8_t how = in.Byte();
            std::string text = how & 1 ? in.Bytes(200) : std::string("CALL +123");
            std::memset(state.commandText, 0, sizeof state.commandText);
            std::memcpy(state.commandText, text.data(),
                        std::min(text.size(), sizeof state.commandText));
            const bool empty = state.commandText[0] == '\0';
            const int broadcastsBefore = wire.broadcasts;
            const int sendsBefore = wire.sends;
            const int refusalsBefore = wire.refusals;
            const bool noWindow = model.skypeWnd == 0;
            link.SendSkypeCommand();
            const int sent = wire.sends - sendsBefore;
            const int refused = wire.refusals - refusalsBefore;
            if (sent != (empty ? 0 : 1 + refused)) Broken("command sent the wrong number of times");
            const int expectedBroadcasts = (noWindow ? 1 : 0) + refused;
            if (wire.broadcasts - broadcastsBefore != expectedBroadcasts)
                Broken("command made the wrong discoveries");
            break;
        }
        case 3: // the status poll: ready only when attached
            state.bridgeReady = state.attachStatus == ATTACH_SUCCESS ? 1 : 0;
            break;
        case 4: window.skypeExists = !window.skypeExists; break;
        case 5: { // a resend after "Access denied" with whatever is in the buffer
            control.OnSkypeNotification("ERROR 9901 Access denied");
            break;
        }
        }
        wire.CheckSettled();
        if (state.attachStatus != model.attachStatus)
            Broken("attach status differs from the model");
        if (link.skypeWnd != model.skypeWnd) Broken("Skype's window differs from the model");
        if (window.messages != wire.expectedMessages) Broken("message boxes differ from the model");
    }
    return 0;
}
