// A WM_COPYDATA record from any window: read within cbData, never past it.
#include "fuzz/FuzzFakes.h"
#include "skype/SkypeLink.h"

#include <cstring>
#include <memory>
#include <vector>

namespace {

class NullWire final : public SkypeWire {
  public:
    bool BroadcastDiscover(uintptr_t, unsigned long*) override { return true; }
    intptr_t SendCopyData(uintptr_t, uintptr_t, const char*, unsigned long) override { return 1; }
    void ReplyTrue() override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    BridgeState state;
    state.bridgeReady = data[0] & 1;
    NullWindow window;
    NullWire wire;
    SkypeLink link(state, wire, window);
    link.OnAttach(0x1234, 0);

    // The record claims cbData bytes; the sender's buffer holds exactly size - 2 of them in a
    // block of its own, so a read past it is caught by the address sanitizer.
    const size_t length = size - 2;
    std::unique_ptr<uint8_t[]> copy(new uint8_t[length ? length : 1]);
    std::memcpy(copy.get(), data + 2, length);
    CopyDataRecord record;
    record.cbData = static_cast<uint32_t>(length);
    record.lpData = length ? copy.get() : nullptr;

    size_t seen = 0;
    link.SetNotificationSink([&](const char* text) { seen = std::strlen(text); });
    link.OnCopyData(data[1] & 1 ? 0x1234 : 0x9999, &record);
    if (seen > length) std::abort();
    return 0;
}
