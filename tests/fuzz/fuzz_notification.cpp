// Skype's notification texts driving the call state, from any call state.
#include "fuzz/FuzzFakes.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    UseVirtualTime();
    BridgeState state;
    NullWindow window;
    NullSkype skype(state);
    CallControl control(state, window, skype);

    // The first bytes pick the state the texts arrive in.
    static const int32_t kStates[] = {0, 2, 3, 4, 5, 6};
    if (size > 0) state.callState = kStates[data[0] % 6];
    if (size > 1) state.pstnActive = data[1] & 1;
    if (size > 1) state.offHook = (data[1] >> 1) & 1;
    if (size > 1) state.busyRejected = (data[1] >> 2) & 1;
    const size_t skip = size > 2 ? 2 : size;

    // Several notifications separated by NUL, as consecutive WM_COPYDATA texts would be.
    std::string all(reinterpret_cast<const char*>(data) + skip, size - skip);
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find('\0', start);
        if (end == std::string::npos) end = all.size();
        const std::string text = all.substr(start, end - start);
        control.OnSkypeNotification(text.c_str());
        if (state.callState != 0 && state.callState != 2 && state.callState != 3 &&
            state.callState != 4 && state.callState != 5 && state.callState != 6)
            std::abort();
        start = end + 1;
    }
    return 0;
}
