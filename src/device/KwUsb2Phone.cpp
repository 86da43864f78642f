#include "device/KwUsb2Phone.h"

#include "device/DeviceLock.h"
#include "device/KwIpApi.h"
#include "device/SlicRegisters.h"

namespace {

constexpr uint8_t kStrobeSet = 0x18;
constexpr uint8_t kStrobeRelease = 0x08;

struct Report {
    PhoneKey key;
    uint16_t value;
};

// The key code and report value of an event; key 0 for events that are not reported.
Report ReportFor(int32_t event) {
    if (event >= 0 && event <= 9)
        return {static_cast<PhoneKey>(kKeyDigit0 + event), static_cast<uint16_t>(event + 1)};
    switch (event) {
    case kEventStar: return {kKeyStar, 11};
    case kEventHash: return {kKeyHash, 12};
    case kEventOnHook: return {kKeyOnHook, kReportOnHook};
    case kEventOffHook: return {kKeyOffHook, kReportOffHook};
    default: return {kKeyNone, 0};
    }
}

} // namespace

KwUsb2Phone::KwUsb2Phone(int pcm) : KwUsbPhone(pcm) {}

int KwUsb2Phone::Initialize() {
    return KwUsbPhone::Initialize();
}

PhoneKey KwUsb2Phone::GetEventKey() {
    DeviceLockGuard hold;
    PlayTone(0, 0);
    const int32_t event = lastEvent;
    const Report report = ReportFor(event);
    if (event == kEventOnHook || event == kEventOffHook) PlayTone(0, 0);
    if (report.key == kKeyNone) return kKeyNone; // DTMF A to C and unknown events

    DevWriteReg(KEY_REPORT_LO, report.value & 0xFF);
    DevWriteReg(KEY_REPORT_HI, report.value >> 8);
    uint8_t strobe = 0;
    DevReadReg(KEY_REPORT_STROBE, &strobe);
    DevWriteReg(KEY_REPORT_STROBE, strobe | kStrobeSet);
    strobe = 0;
    DevReadReg(KEY_REPORT_STROBE, &strobe);
    DevWriteReg(KEY_REPORT_STROBE, strobe & ~kStrobeRelease);
    return report.key;
}

KwUsb2PhoneRelay::KwUsb2PhoneRelay() : KwUsb2Phone(0) {}

int KwUsb2PhoneRelay::Initialize() {
    KwUsb2Phone::Initialize();
    return 1;
}

int KwUsb2PhoneRelay::SetRelay(int on) {
    DeviceLockGuard hold;
    return DevSetPins(kPinRelay, on);
}

int KwUsb2PhoneRelay::HasRelay() {
    return 1;
}
