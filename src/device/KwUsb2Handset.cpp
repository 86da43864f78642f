#include "device/KwUsb2Handset.h"

#include "device/DeviceLock.h"
#include "device/KwIpApi.h"
#include "device/SlicRegisters.h"

namespace {

constexpr int kPanelControlValue = 100;
constexpr uint8_t kPanelResetPin = 0x20; // pulsed low once at bring-up
constexpr int kRingTone = 2400;

} // namespace

PhoneKey Usb2HandsetKeyCode(unsigned rawKey) {
    const unsigned key = rawKey & 0xFFFF;
    if (key >= 0xB0 && key <= 0xB9) return static_cast<PhoneKey>(kKeyDigit0 + (key - 0xB0));
    switch (key) {
    case 0xBA: return kKeyStar;
    case 0xBB: return kKeyHash;
    case 0x26: return 138;
    case 0x2A: return 8;
    case 0x2F: return 139;
    case 0x31: return 13;
    case 0x51: return 40;
    case 0x52: return 38;
    default: return kKeyNone;
    }
}

KwUsb2Handset::~KwUsb2Handset() {
    DisplayOff();
}

int KwUsb2Handset::Initialize() {
    DeviceLockGuard hold;
    DevWriteReg(PANEL_CONTROL, kPanelControlValue);
    ProbeBuzzer();
    ProbeDisplay();

    // One short low pulse on the panel's reset pin; both registers end as they were. Without a
    // good read of both there is nothing to restore them to, so the pulse is left out rather
    // than clearing every pin and output enable.
    uint8_t levels = 0, enables = 0;
    const int levelsRead = DevReadReg(BRIDGE_PIN_LEVEL, &levels);
    const int enablesRead = DevReadReg(BRIDGE_PIN_ENABLE, &enables);
    if (levelsRead && enablesRead) {
        DevWriteReg(BRIDGE_PIN_LEVEL, levels & ~kPanelResetPin);
        DevWriteReg(BRIDGE_PIN_ENABLE, enables | kPanelResetPin);
        DevWriteReg(BRIDGE_PIN_LEVEL, levels);
        DevWriteReg(BRIDGE_PIN_ENABLE, enables);
    }
    return 1;
}

int KwUsb2Handset::HasRinger() {
    return 1;
}

int KwUsb2Handset::SetRinging(int on) {
    DeviceLockGuard hold;
    SetBuzzFrequency(kRingTone);
    Buzz(on);
    return 1;
}

PhoneKey KwUsb2Handset::TranslateKey(unsigned rawKey) {
    DeviceLockGuard hold;
    const PhoneKey key = Usb2HandsetKeyCode(rawKey);
    KeyInput(static_cast<signed char>(key), 1);
    return key;
}

bool KwUsb2Handset::ShowsCallerNumber() {
    DeviceLockGuard hold;
    return displayPresent != 0;
}

int KwUsb2Handset::ShowCallerNumber(const char* number) {
    DeviceLockGuard hold;
    if (!displayPresent || number == nullptr) return 0;
    size_t length = 0;
    while (number[length] >= '0' && number[length] <= '9')
        ++length;
    const char* shown = length > kPanelDigits ? number + (length - kPanelDigits) : number;
    const size_t count = length > kPanelDigits ? kPanelDigits : length;
    for (size_t i = 0; i < kPanelDigits; ++i)
        digits[i] = i < count ? static_cast<uint8_t>(shown[i] - '0') : kPanelBlank;
    cursor = 0;
    return LcdWriteAll(digits);
}
