#include "skype/SkypeLink.h"

#include <cstdio>
#include <cstring>

SkypeLink::SkypeLink(BridgeState& state, SkypeWire& wire, MainWindow& mainWindow)
    : state_(state), wire_(wire), mainWindow_(mainWindow) {}

bool SkypeLink::Discover(bool ownedMessage) {
    unsigned long lastError = 0;
    if (wire_.BroadcastDiscover(apiWnd, &lastError)) return true;
    std::snprintf(state_.messageText, sizeof state_.messageText, kDiscoverFailedFormat, lastError);
    mainWindow_.ShowMessage(state_.messageText, "Error", ownedMessage);
    state_.attachStatus = ATTACH_NOT_CONNECTED;
    return false;
}

void SkypeLink::SendSkypeCommand() {
    // Callers format with a bound, but an unterminated buffer must not make us read past it.
    state_.commandText[sizeof state_.commandText - 1] = '\0';

    commandData.dwData = 0;
    commandData.lpData = state_.commandText;
    commandData.cbData = static_cast<uint32_t>(std::strlen(state_.commandText) + 1);

    if (skypeWnd == 0) Discover(false);
    if (commandData.cbData == 1) return;

    const char* text = state_.commandText;
    if (wire_.SendCopyData(skypeWnd, apiWnd, text, commandData.cbData) != 0) return;

    // Skype's window refused or is gone: look for it again and try once more.
    Discover(false);
    wire_.SendCopyData(skypeWnd, apiWnd, text, commandData.cbData);
    if (state_.bridgeReady == 0) mainWindow_.ShowMessage(kAccessDeniedText, "Error", false);
}

intptr_t SkypeLink::OnCopyData(uintptr_t sender, const CopyDataRecord* record) {
    // Only Skype's API window may drive the call state, and only once the bridge is ready.
    if (skypeWnd == 0 || sender != skypeWnd) return 1;
    if (state_.bridgeReady != 1) return 1;
    // An empty record carries no text: nothing to dispatch.
    if (record == nullptr || record->lpData == nullptr || record->cbData == 0) return 1;

    // The text comes from another process: read no more than it says it sent, and terminate
    // it ourselves in case the sender did not.
    char text[kMaxNotificationSize];
    uint32_t length =
        record->cbData < kMaxNotificationSize - 1 ? record->cbData : kMaxNotificationSize - 1;
    std::memcpy(text, record->lpData, length);
    text[length] = '\0';

    if (sink_) sink_(text);
    return 1;
}

intptr_t SkypeLink::OnAttach(uintptr_t wParam, intptr_t lParam) {
    switch (lParam) {
    case ATTACH_SUCCESS:
        skypeWnd = wParam;
        state_.attachStatus = ATTACH_SUCCESS;
        break;
    case ATTACH_PENDING_AUTHORIZATION:
    case ATTACH_REFUSED:
    case ATTACH_NOT_AVAILABLE: state_.attachStatus = static_cast<int32_t>(lParam); break;
    case ATTACH_API_AVAILABLE:
        state_.attachStatus = ATTACH_API_AVAILABLE;
        // Skype has come (back) up: ask it to attach again.
        if (mainWindow_.SkypeMainWindowExists()) Discover(true);
        break;
    default: break;
    }
    return 1;
}
