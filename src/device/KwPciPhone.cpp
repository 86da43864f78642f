#include "device/KwPciPhone.h"

#include "device/DeviceLock.h"
#include "device/KwIpApi.h"
#include "device/KwUsbPhone.h"
#include "device/SlicRegisters.h"

const PciTone kPciToneTable[kPciToneCount] = {
    {350, 440, 8.0, 0, 0x9F},     // 0 dial tone
    {480, 620, 0.5, 0.5, 0x9F},   // 1 busy
    {440, 480, 2.0, 4.0, 0x9F},   // 2 ringback
    {440, 480, 1.0, 3.0, 0x9F},   // 3 ringback, shorter
    {480, 620, 0.25, 0.25, 0x9F}, // 4 reorder
    {480, 620, 0.3, 0.2, 0x9F},   // 5
    {941, 1336, 0.1, 0, 0x97},    // 6 key 0
    {697, 1209, 0.1, 0, 0x97},    // 7 key 1
    {697, 1336, 0.1, 0, 0x97},    // 8 key 2
    {697, 1477, 0.1, 0, 0x97},    // 9 key 3
    {770, 1209, 0.1, 0, 0x97},    // 10 key 4
    {770, 1336, 0.1, 0, 0x97},    // 11 key 5
    {770, 1477, 0.1, 0, 0x97},    // 12 key 6
    {852, 1209, 0.1, 0, 0x97},    // 13 key 7
    {852, 1336, 0.1, 0, 0x97},    // 14 key 8
    {852, 1477, 0.1, 0, 0x97},    // 15 key 9
    {697, 1633, 0.1, 0, 0x97},    // 16 key A
    {770, 1633, 0.1, 0, 0x97},    // 17 key B
    {852, 1633, 0.1, 0, 0x97},    // 18 key C
    {941, 1633, 0.1, 0, 0x97},    // 19 key D
    {941, 1477, 0.1, 0, 0x97},    // 20 hash
    {941, 1209, 0.1, 0, 0x97},    // 21 star
};

namespace {

constexpr int kSlicIrqEnable = 3;  // written to register 22 at start: hook change interrupts
constexpr int kEventDigitLast = 9; // events 0..9 are the digit keys

} // namespace

uint16_t PciToneTimerFor(double seconds) {
    const double eighths = seconds / 0.125;
    // NaN and values beyond the range of a 64-bit integer count as 0 rather than overflowing.
    if (!(eighths > -9.0e18 && eighths < 9.0e18)) return 0;
    const uint64_t whole = static_cast<uint64_t>(static_cast<int64_t>(eighths)) & 0xFFFF;
    return static_cast<uint16_t>((whole * 1000) & 0xFFFF);
}

int KwPciPhone::Initialize() {
    DeviceLockGuard hold;
    SlicWriteDirect(SLIC_IRQ_ENABLE2, kSlicIrqEnable);
    return 1;
}

int KwPciPhone::PollEvent() {
    DeviceLockGuard hold;
    lastEvent = kEventNone;
    // Read into a local so that a library that writes and then reports failure leaves no event.
    int event = kEventNone;
    const int found = DevReadEvent(&event);
    if (found) lastEvent = event;
    return found;
}

PhoneKey KwPciPhone::GetEventKey() {
    const int32_t event = lastEvent;
    if (event >= 0 && event <= kEventDigitLast) return static_cast<PhoneKey>(kKeyDigit0 + event);
    switch (event) {
    case kEventDigit0Alt: return kKeyDigit0;
    case kEventStar: return kKeyStar;
    case kEventHash: return kKeyHash;
    // The dial tone after lifting is the program's own prompt; make sure the card's is off.
    case kEventOnHook: PlayTone(0, 0); return kKeyOnHook;
    case kEventOffHook: PlayTone(0, 0); return kKeyOffHook;
    default: return kKeyNone;
    }
}

int KwPciPhone::SetRinging(int on) {
    DeviceLockGuard hold;
    return SlicWriteDirect(SLIC_LINEFEED, on ? kLinefeedRinging : kLinefeedForwardActive);
}

int KwPciPhone::SetOnHookTransmission(int on) {
    DeviceLockGuard hold;
    return SlicWriteDirect(SLIC_LINEFEED,
                           on ? kLinefeedOnHookTransmission : kLinefeedForwardActive);
}

int KwPciPhone::IsOffHook() {
    DeviceLockGuard hold;
    return (SlicReadDirect(SLIC_HOOK_STATUS) & 0x01) ? 1 : 0;
}

int KwPciPhone::HasSlic() {
    return 1;
}

int KwPciPhone::PlayTone(int tone, int on) {
    // No row for this number: leave the chip alone rather than read past the table.
    if (on && (tone < 0 || tone >= kPciToneCount)) return 0;
    DeviceLockGuard hold;
    if (!on) {
        SlicWriteDirect(SLIC_OSC1_CTRL, 0);
        return SlicWriteDirect(SLIC_OSC2_CTRL, 0);
    }
    const PciTone& row = kPciToneTable[tone];
    SetToneOscillators(row.freq1, row.freq2, row.onSeconds, row.offSeconds);
    SlicWriteDirect(SLIC_OSC1_CTRL, row.control);
    return SlicWriteDirect(SLIC_OSC2_CTRL, row.control);
}

int KwPciPhone::SetToneOscillators(double freq1, double freq2, double onSeconds,
                                   double offSeconds) {
    DeviceLockGuard hold;
    return SlicWriteToneOscillators(freq1, freq2, PciToneTimerFor(onSeconds),
                                    PciToneTimerFor(offSeconds));
}

int KwPciPhone::NeedsPolling() {
    return 1;
}

bool KwPciPhone::KeepsEventsUntilPolled() {
    return true;
}

int KwPciPhone::VendorCall48(int value) {
    DeviceLockGuard hold;
    return DevCall48(value);
}

int KwPciPhone::VendorCall49() {
    DeviceLockGuard hold;
    return DevCall49();
}

int KwPciPhone::VendorCall50(int value) {
    DeviceLockGuard hold;
    return DevCall50(value);
}

int KwPciPhone::GetHardwareId(char* buffer, int length) {
    DeviceLockGuard hold;
    return DevGetHardwareId(buffer, length);
}
