// The first-generation USB handsets: telephones of their own (keypad and sounder) behind the
// same USB bridge chip as the other adapters, with no analogue line and no SLIC. The keypad is a
// matrix scanned through the bridge's general-purpose pins (rows driven on register 18, columns
// read on register 192); ringing switches the sounder pin. The program cannot read a hook
// switch, so the handsets count as permanently off-hook.
#pragma once
#include "device/PhoneDevice.h"

#include <cstdint>

// Bridge pins of the handsets (register 18).
constexpr int kHandsetRow0 = 0x01; // keypad rows, active low
constexpr int kHandsetRow1 = 0x02;
constexpr int kHandsetRowIdle = 0x04; // held high during scans
constexpr int kHandsetRow2 = 0x08;
constexpr int kHandsetRow3 = 0x10;
constexpr int kHandsetSounder = 0x20; // active low
constexpr int kHandsetRelay = 0x08;   // KwUsbHandsetRelay: shares the pin with row 2
constexpr int kHandsetHookOut = 0x02; // KwUsbHandsetBasic: active low, shares the pin with row 1
constexpr int kEepromClock = 0x10;    // KwUsbHandsetEeprom: shares the pin with row 3
constexpr int kEepromDataIn = 0x40;   // data to the memory
constexpr int kEepromDataOut = 0x80;  // data from the memory
// Column lines of the keypad, low four bits, active low.
constexpr int kHandsetColumnRegister = 192;
constexpr int kHandsetNoKey = 0x0F;

// The scan: row drive values in scan order, the column value of each column, and the event index
// of every key. The fourth column holds the four extra keys.
constexpr int kHandsetRows = 4;
constexpr int kHandsetColumns = 4;
extern const uint8_t kHandsetRowDrive[kHandsetRows];
extern const uint8_t kHandsetColumnValue[kHandsetColumns];
extern const int32_t kHandsetKeyEvent[kHandsetRows][kHandsetColumns];
// Column reads the scan makes at most while it waits for a key to be let go.
constexpr int kHandsetReleaseReads = 200;

// Extra keys of the fourth column as key codes, top to bottom.
constexpr PhoneKey kKeyHandsetExtra1 = 138;
constexpr PhoneKey kKeyHandsetExtra2 = 13;
constexpr PhoneKey kKeyHandsetExtra3 = 8;
constexpr PhoneKey kKeyHandsetExtra4 = 139;

class KwUsbHandset : public PhoneDevice {
  public:
    KwUsbHandset() = default;

    int Initialize() override;
    int PollEvent() override;
    PhoneKey GetEventKey() override;
    int HasRinger() override;
    int SetRinging(int on) override;
    int IsOffHook() override;
    int NeedsPolling() override;
};

// The handset with an auxiliary relay on pin 0x08. The program does not set this one up: its
// Initialize touches nothing. The relay pin is also a keypad row, so every scan rewrites it; a
// level set with SetRelay lasts until the next scan.
class KwUsbHandsetRelay : public KwUsbHandset {
  public:
    KwUsbHandsetRelay() = default;

    int Initialize() override;
    int SetRelay(int on) override;
    int HasRelay() override;
};

// The handset with a serial settings memory (64 words of 16 bits) on the pins: clock 0x10, data
// in 0x40, data out 0x80; chip select is bit 0 of bridge register 0.
class KwUsbHandsetEeprom : public KwUsbHandset {
  public:
    KwUsbHandsetEeprom() = default;

    int Initialize() override;
    int ReadEeprom(int address, uint16_t* value) override;
    // 0 when register 0 cannot be read, or when the memory never signals the end of the write.
    int WriteEeprom(int address, uint16_t value) override;

    // Steps of the memory protocol.
    int WritePinImage(int mask, int high); // changes pinImage and writes it to register 18
    int ClockOutPinBit(int bit);           // one bit through DevSetPins
    int ClockOutImageBit(int bit);         // one bit through pinImage
    int SendEnableCommand(int enable);     // write-enable (1) or write-disable (0)

    uint8_t pinImage = 0;      // image of register 18, read by Initialize
    uint8_t pinDirections = 0; // register 19 as Initialize prepared it
};

// The basic handset: not polled, no sounder the program drives; it only keeps a hook state,
// which starts off-hook.
class KwUsbHandsetBasic : public PhoneDevice {
  public:
    KwUsbHandsetBasic() = default;

    int IsOffHook() override;
    // Drives the hook output (pin 0x02, low when off-hook) and remembers the state. Nothing in
    // the program calls it.
    int SetHookState(int offHook);

    int32_t hookState = 1;
};
