// Device requests of an idle, ready bridge per family: the real loop and each polled device class
// against the lab adapter at 1 ms per request, receiver down (as call control sees it after the
// opening), "Auto" mode, nothing happening, for a minute of virtual time. Prints figures; it
// asserts nothing.
//   IdlePassRequests [virtual seconds]
// A table, and a "RESULT <name> <value>" line per figure for scripts/bench.
#include "adapter/LabAdapter.h"
#include "call/CallControl.h"
#include "core/VirtualClock.h"
#include "device/DeviceLock.h"
#include "device/KwIpApi.h"
#include "device/PhoneCatalogue.h"
#include "device/PhoneDevice.h"
#include "support/QuietMainWindow.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

class QuietSkype final : public SkypeCommands {
  public:
    void SendSkypeCommand() override {}
    void ReplyTrue() override {}
};

struct Family {
    const char* key; // for the RESULT names
    const char* name;
    int32_t product;
};

const Family kFamilies[] = {
    {"usb_phone", "KwUsbPhone", 0x831C},
    {"usb_phone_relay", "KwUsbPhoneRelay", 0x831D},
    {"usb2_phone", "KwUsb2Phone", 0xC31C},
    {"usb2_phone_relay", "KwUsb2PhoneRelay", 0xC31D},
    {"usb2_gateway", "KwUsb2Gateway", 0xC39C},
    {"pci_phone", "KwPciPhone", 1},
    {"usb_handset", "KwUsbHandset", 0xB210},
    {"usb_handset_relay", "KwUsbHandsetRelay", 0xB211},
    {"usb_handset_eeprom", "KwUsbHandsetEeprom", 0xB212},
};

struct Figures {
    double requestsPerPass;
    double passesPerS;
    double requestsPerS;
};

Figures Measure(const Family& family, unsigned seconds) {
    VirtualClock clock;
    SetClock(&clock);
    LabAdapter lab;
    lab.SetCallLimit(64);
    lab.SetProductId(family.product);
    SetCurrentLabAdapter(&lab);
    SetDeviceLibrary(nullptr, LabVaVoRarCall);

    BridgeState state;
    state.mainWnd = 0x5150;
    QuietMainWindow window;
    QuietSkype skype;
    Figures f = {0, 0, 0};
    {
        CallControl cc(state, window, skype);
        // Opened as OpenPhone opens it, without its thread: this one makes the passes.
        PhoneDevice* phone = CreatePhoneDevice(family.product).release();
        if (phone == nullptr) return f;
        phone->Initialize();
        phone->SetLineMode(kLineComputer);
        state.offHook = phone->IsOffHook();
        cc.m_pPhone = phone;
        state.deviceLockDeleted = 0;
        state.devicePresent = 1;
        state.attachStatus = ATTACH_SUCCESS;
        state.bridgeReady = 1;
        state.playerIdle = 1;
        lab.SetLatency(1000, &clock);
        // Settle first: the first passes make the looks that come once.
        for (int i = 0; i < 50; ++i)
            cc.PhoneEventPass();

        const int callsBefore = lab.CallCount();
        const uint64_t start = clock.NowMs();
        long passes = 0;
        while (clock.NowMs() - start < seconds * 1000ull) {
            cc.PhoneEventPass();
            ++passes;
        }
        const double elapsedS = static_cast<double>(clock.NowMs() - start) / 1000.0;
        const int calls = lab.CallCount() - callsBefore;
        f.requestsPerPass = static_cast<double>(calls) / static_cast<double>(passes);
        f.passesPerS = static_cast<double>(passes) / elapsedS;
        f.requestsPerS = static_cast<double>(calls) / elapsedS;
        lab.SetLatency(0, nullptr);
    }
    ClearDeviceLibrary();
    SetCurrentLabAdapter(nullptr);
    SetClock(nullptr);
    return f;
}

} // namespace

int main(int argc, char** argv) {
    const unsigned seconds = argc > 1 ? static_cast<unsigned>(std::max(1, std::atoi(argv[1]))) : 60;
    std::printf("Idle, ready bridge, receiver down, \"Auto\" mode: device requests of the phone "
                "loop\n(lab adapter at 1 ms per request, %u s of virtual time)%s\n\n",
                seconds, kBenchSpin ? ", spinning build" : "");
    std::printf("%-20s %8s %14s %10s %12s\n", "family", "product", "requests/pass", "passes/s",
                "requests/s");
    for (const Family& family : kFamilies) {
        const Figures f = Measure(family, seconds);
        std::printf("%-20s %#8x %14.2f %10.1f %12.1f\n", family.name, family.product,
                    f.requestsPerPass, f.passesPerS, f.requestsPerS);
        std::printf("RESULT idle_%s_requests_per_pass %.2f\n", family.key, f.requestsPerPass);
        std::printf("RESULT idle_%s_requests_per_s %.1f\n", family.key, f.requestsPerS);
    }
    return 0;
}
