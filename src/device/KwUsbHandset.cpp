#include "device/KwUsbHandset.h"

#include "device/DeviceLock.h"
#include "device/KwIpApi.h"
#include "device/SlicRegisters.h"

const uint8_t kHandsetRowDrive[kHandsetRows] = {0x1E, 0x1D, 0x17, 0x0F};
const uint8_t kHandsetColumnValue[kHandsetColumns] = {0x0E, 0x0D, 0x0B, 0x07};
const int32_t kHandsetKeyEvent[kHandsetRows][kHandsetColumns] = {
    {1, 2, 3, 13},
    {4, 5, 6, 14},
    {7, 8, 9, 15},
    {kEventStar, 0, kEventHash, 16},
};

namespace {

constexpr int kPinTopBits = 0xE0; // sounder and memory pins: a scan leaves them as they are
constexpr int kChipSelect = 0x01; // bit of BRIDGE_CONFIG
constexpr int kAddressBits = 6;
constexpr int kWordBits = 16;
constexpr int kWriteDoneSamples = 100;
constexpr int kWriteTrailingClocks = 4;

// Ten-bit command sequences: start bit, operation 00, then 11 (enable) or 00 (disable).
constexpr int kCommandBits = 10;
constexpr int kEnableBits[kCommandBits] = {1, 0, 0, 1, 1, 0, 0, 0, 0, 0};
constexpr int kDisableBits[kCommandBits] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0};

int ColumnIndex(int columns) {
    for (int c = 0; c < kHandsetColumns; ++c)
        if (kHandsetColumnValue[c] == columns) return c;
    return -1; // several keys in the row
}

int ChipSelect(uint8_t r0, bool on) {
    return DevWriteReg(BRIDGE_CONFIG, on ? (r0 | kChipSelect) : (r0 & ~kChipSelect));
}

} // namespace

// --- KwUsbHandset ---

int KwUsbHandset::Initialize() {
    DeviceLockGuard hold;
    SetRinging(0);
    int result = 0;
    for (int mask : {kHandsetRow0, kHandsetRow1, kHandsetRowIdle, kHandsetRow2, kHandsetRow3})
        result = DevSetPins(mask, 1);
    return result;
}

int KwUsbHandset::PollEvent() {
    DeviceLockGuard hold;
    lastEvent = kEventNone;
    uint8_t pins = 0;
    if (!DevReadReg(BRIDGE_PIN_LEVEL, &pins)) return 0;
    const int top = pins & kPinTopBits;

    for (int row = 0; row < kHandsetRows; ++row) {
        if (!DevWriteReg(BRIDGE_PIN_LEVEL, kHandsetRowDrive[row] | top)) return 0;
        uint8_t columns = 0;
        if (!DevReadReg(kHandsetColumnRegister, &columns)) return 0;
        const int column = ColumnIndex(columns & kHandsetNoKey);
        if (column < 0) continue; // no key in this row, or several at once

        lastEvent = kHandsetKeyEvent[row][column];
        // Report a key once per press: wait (bounded) until it is let go.
        for (int i = 0; i < kHandsetReleaseReads && (columns & kHandsetNoKey) != kHandsetNoKey; ++i)
            DevReadReg(kHandsetColumnRegister, &columns);
        return 1;
    }
    return 0;
}

PhoneKey KwUsbHandset::GetEventKey() {
    const int32_t event = lastEvent;
    if (event >= 0 && event <= 9) return static_cast<PhoneKey>(kKeyDigit0 + event);
    switch (event) {
    case kEventStar: return kKeyStar;
    case kEventHash: return kKeyHash;
    case 13: return kKeyHandsetExtra1;
    case 14: return kKeyHandsetExtra2;
    case 15: return kKeyHandsetExtra3;
    case 16: return kKeyHandsetExtra4;
    default: return kKeyNone; // 10 is no key on this keypad
    }
}

int KwUsbHandset::HasRinger() {
    return 1;
}

int KwUsbHandset::SetRinging(int on) {
    DeviceLockGuard hold;
    return DevSetPins(kHandsetSounder, on ? 0 : 1);
}

int KwUsbHandset::IsOffHook() {
    return 1;
}

int KwUsbHandset::NeedsPolling() {
    return 1;
}

// --- KwUsbHandsetRelay ---

int KwUsbHandsetRelay::Initialize() {
    return 1;
}

int KwUsbHandsetRelay::SetRelay(int on) {
    DeviceLockGuard hold;
    return DevSetPins(kHandsetRelay, on);
}

int KwUsbHandsetRelay::HasRelay() {
    return 1;
}

// --- KwUsbHandsetEeprom ---

int KwUsbHandsetEeprom::Initialize() {
    DeviceLockGuard hold;
    KwUsbHandset::Initialize();
    pinImage = 0;
    pinDirections = 0;
    DevReadReg(BRIDGE_PIN_LEVEL, &pinImage);
    DevReadReg(BRIDGE_PIN_ENABLE, &pinDirections);
    // Clock and data-in become outputs, data-out an input.
    pinDirections =
        static_cast<uint8_t>((pinDirections | kEepromClock | kEepromDataIn) & ~kEepromDataOut);
    DevWriteReg(BRIDGE_PIN_ENABLE, pinDirections);
    return 1;
}

int KwUsbHandsetEeprom::WritePinImage(int mask, int high) {
    DeviceLockGuard hold;
    pinImage = static_cast<uint8_t>(high ? (pinImage | mask) : (pinImage & ~mask));
    DevWriteReg(BRIDGE_PIN_LEVEL, pinImage);
    return 1;
}

int KwUsbHandsetEeprom::ClockOutPinBit(int bit) {
    DeviceLockGuard hold;
    DevSetPins(kEepromClock, 0);
    DevSetPins(kEepromDataIn, bit);
    return DevSetPins(kEepromClock, 1);
}

int KwUsbHandsetEeprom::ClockOutImageBit(int bit) {
    DeviceLockGuard hold;
    WritePinImage(kEepromClock, 0);
    WritePinImage(kEepromDataIn, bit);
    WritePinImage(kEepromClock, 1);
    return 1;
}

int KwUsbHandsetEeprom::SendEnableCommand(int enable) {
    DeviceLockGuard hold;
    uint8_t r0 = 0;
    if (!DevReadReg(BRIDGE_CONFIG, &r0)) return 0;
    ChipSelect(r0, true);
    const int* bits = enable ? kEnableBits : kDisableBits;
    for (int i = 0; i < kCommandBits; ++i)
        ClockOutImageBit(bits[i]);
    WritePinImage(kEepromClock, 0);
    ChipSelect(r0, false);
    return 1;
}

int KwUsbHandsetEeprom::ReadEeprom(int address, uint16_t* value) {
    if (!value) return 0;
    DeviceLockGuard hold;
    uint8_t r0 = 0;
    if (!DevReadReg(BRIDGE_CONFIG, &r0)) return 0;
    ChipSelect(r0, true);
    for (int bit : {1, 1, 0}) // start bit, read
        ClockOutImageBit(bit);
    for (int mask = 1 << (kAddressBits - 1); mask; mask >>= 1)
        ClockOutImageBit((address & mask) ? 1 : 0);

    uint16_t word = 0;
    WritePinImage(kEepromClock, 0);
    WritePinImage(kEepromDataIn, 0);
    for (int i = 0; i < kWordBits; ++i) {
        WritePinImage(kEepromClock, 1);
        WritePinImage(kEepromClock, 0);
        word = static_cast<uint16_t>((word << 1) | (DevGetPins(kEepromDataOut) ? 1 : 0));
    }
    ChipSelect(r0, false);
    *value = word;
    return 1;
}

int KwUsbHandsetEeprom::WriteEeprom(int address, uint16_t value) {
    DeviceLockGuard hold;
    uint8_t r0 = 0;
    if (!DevReadReg(BRIDGE_CONFIG, &r0)) return 0;
    SendEnableCommand(1);

    ChipSelect(r0, true);
    for (int bit : {1, 0, 1}) // start bit, write
        ClockOutImageBit(bit);
    for (int mask = 1 << (kAddressBits - 1); mask; mask >>= 1)
        ClockOutPinBit((address & mask) ? 1 : 0);
    for (int mask = 1 << (kWordBits - 1); mask; mask >>= 1)
        ClockOutPinBit((value & mask) ? 1 : 0);

    // Dropping the select starts the memory's own write cycle; selecting it again shows its
    // ready signal on data-out.
    WritePinImage(kEepromClock, 0);
    WritePinImage(kEepromDataIn, 0);
    ChipSelect(r0, false);
    WritePinImage(kEepromClock, 1);
    for (int i = 0; i < kWriteTrailingClocks; ++i) {
        WritePinImage(kEepromClock, 0);
        ChipSelect(r0, true);
        WritePinImage(kEepromClock, 1);
    }
    WritePinImage(kEepromClock, 0);

    int done = 0;
    for (int i = 0; i < kWriteDoneSamples && !done; ++i)
        done = DevGetPins(kEepromDataOut) ? 1 : 0;

    ChipSelect(r0, false);
    SendEnableCommand(0);
    return done;
}

// --- KwUsbHandsetBasic ---

int KwUsbHandsetBasic::IsOffHook() {
    return hookState;
}

int KwUsbHandsetBasic::SetHookState(int offHook) {
    DeviceLockGuard hold;
    hookState = offHook;
    return DevSetPins(kHandsetHookOut, offHook ? 0 : 1);
}
