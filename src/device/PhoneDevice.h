// The one device object behind every adapter. Call control holds exactly one while an adapter is
// open and never asks which family it has: each family implements what its hardware has and
// inherits harmless defaults for the rest.
#pragma once
#include <cstdint>

// Key codes a device reports and call control acts on (one byte).
typedef uint8_t PhoneKey;
constexpr PhoneKey kKeyNone = 0;
constexpr PhoneKey kKeyDigit0 = '0'; // digits 0 to 9 are the characters '0' to '9'
constexpr PhoneKey kKeyStar = 106;
constexpr PhoneKey kKeyHash = 136;
constexpr PhoneKey kKeyOffHook = 142;
constexpr PhoneKey kKeyOnHook = 143;

// Event indices held in lastEvent.
constexpr int32_t kEventNone = -1;
constexpr int32_t kEventDigit0Alt = 10; // digit 0 as some devices report it
constexpr int32_t kEventStar = 11;
constexpr int32_t kEventHash = 12;
constexpr int32_t kEventOnHook = 256;
constexpr int32_t kEventOffHook = 257;

// Line selection of SetLineMode.
constexpr int kLinePstn = 0;
constexpr int kLineComputer = 1;

// The virtual operations are declared in their slot order; keep it so.
class PhoneDevice {
  public:
    PhoneDevice() = default;
    PhoneDevice(const PhoneDevice&) = delete;
    PhoneDevice& operator=(const PhoneDevice&) = delete;

    virtual ~PhoneDevice();                               // 0: releases nothing
    virtual int Initialize();                             // 1: working state
    virtual int PollEvent();                              // 2: look once, never wait
    virtual PhoneKey GetEventKey();                       // 3: lastEvent as a key
    virtual int SetRelay(int on);                         // 4: auxiliary relay
    virtual int HasRinger();                              // 5: own sounder
    virtual int HasRelay();                               // 6
    virtual int SetRinging(int on);                       // 7
    virtual int IsOffHook();                              // 8: 1 = receiver lifted
    virtual int HasSlic();                                // 9: analogue phone port
    virtual int ReadEeprom(int address, uint16_t* value); // 10
    virtual int WriteEeprom(int address, uint16_t value); // 11
    virtual int PlayTone(int tone, int on);               // 12: tones 0..21
    // 13: kept for the slot order; sets no timer and returns 0 (call control arms its timers
    // through MainWindow).
    virtual uintptr_t StartWindowTimer(uintptr_t window, unsigned id, unsigned ms);
    virtual int NeedsPolling();                     // 14: worker thread needed
    virtual PhoneKey TranslateKey(unsigned rawKey); // 15
    // 16: one implementation for every family (bridge register 15); families leave it alone.
    virtual int IsPstnRinging();
    virtual int VendorCall48(int value);                 // 17
    virtual int VendorCall49();                          // 18
    virtual int VendorCall50(int value);                 // 19
    virtual int GetHardwareId(char* buffer, int length); // 20

    // Connects the telephone to the PSTN line (kLinePstn) or to the computer (kLineComputer);
    // returns the library's result.
    int SetLineMode(int line);

    // Whether a key or hook event stays readable until a poll takes it (the line chip latches
    // it in an interrupt flag, the PCI driver queues it): then a slower poll loses nothing. False
    // where only a poll at the right moment sees it, such as a keypad scanned through pins.
    // Declared after every slot, like OnLineMode.
    virtual bool KeepsEventsUntilPolled();

    // Caller ID, declared after every slot like the two above. The line chip in forward on-hook
    // transmission (on) carries sound to a telephone whose receiver is down; off puts the line
    // feed back to forward active. Takes deviceLock. 1 when done; 0 where the device has no such
    // state (this default).
    virtual int SetOnHookTransmission(int on);
    // Whether the device has a display of its own for a caller's number.
    virtual bool ShowsCallerNumber();
    // Shows a caller's number (digits only; "" clears it) there. Takes deviceLock. 1 when done;
    // 0 without a display (this default).
    virtual int ShowCallerNumber(const char* digits);

    // Index of the event found by the last PollEvent; kEventNone when there is none.
    int32_t lastEvent = kEventNone;

  protected:
    // Told the line inside SetLineMode, under deviceLock, before the request. Declared after
    // every slot so that the slot order above stays as it is.
    virtual void OnLineMode(int line);
};
