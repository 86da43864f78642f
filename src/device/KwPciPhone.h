// The PCI card: an analogue telephone on the card's line chip (SLIC). The card has no bridge
// registers that the program touches; its driver decodes hook changes and DTMF digits itself and
// hands them over as ready-made events (library code 7). Everything else is SLIC register access
// and four pass-through library functions.
#pragma once
#include "device/PhoneDevice.h"

#include <cstdint>

// The card's tone table: the same oscillator pairs as the USB phones, but the card counts its
// cadence timers in whole eighths of a second times 1000 (PciToneTimerFor).
struct PciTone {
    double freq1; // Hz
    double freq2;
    double onSeconds;
    double offSeconds;
    uint8_t control; // oscillator control byte, written to both oscillators
};
constexpr int kPciToneCount = 22;
extern const PciTone kPciToneTable[kPciToneCount];

// A cadence time as the card's timer registers take it: whole eighths of a second, taken modulo
// 65536, times 1000, kept to 16 bits. The truncation comes first: 0.3 s gives 2000, 0.1 s 0.
uint16_t PciToneTimerFor(double seconds);

class KwPciPhone : public PhoneDevice {
  public:
    KwPciPhone() = default;

    int Initialize() override;
    int PollEvent() override;
    PhoneKey GetEventKey() override;
    int SetRinging(int on) override;
    int IsOffHook() override;
    int HasSlic() override;
    int PlayTone(int tone, int on) override;
    int NeedsPolling() override;
    bool KeepsEventsUntilPolled() override; // the driver queues the card's events
    int VendorCall48(int value) override;
    int VendorCall49() override;
    int VendorCall50(int value) override;
    int GetHardwareId(char* buffer, int length) override;
    int SetOnHookTransmission(int on) override; // the driver passes line-chip writes through

    // Programs both oscillators and their cadence; takes deviceLock itself.
    int SetToneOscillators(double freq1, double freq2, double onSeconds, double offSeconds);
};
