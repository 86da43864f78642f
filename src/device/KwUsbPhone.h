// The USB adapters with an analogue telephone port: a USB bridge chip with a line chip (SLIC)
// behind it. The SLIC feeds and rings the line, detects the hook, decodes DTMF keys and generates
// tones. KwUsbPhone also introduces the SLIC bring-up operations (slots 21 to 26), which the
// second-generation phone and gateway classes inherit.
#pragma once
#include "device/PhoneDevice.h"

#include <cstdint>

// One row of the SLIC's indirect-register table, loaded at bring-up: row i goes to register i.
struct SlicIndirectRow {
    int reg;
    const char* name;
    uint16_t value;
};
constexpr int kSlicIndirectRows = 43;
extern const SlicIndirectRow kSlicIndirectTable[kSlicIndirectRows];

// Written after the table, in this order.
struct SlicIndirectWrite {
    int reg;
    uint16_t value;
};
constexpr int kSlicIndirectTrailerRows = 8;
extern const SlicIndirectWrite kSlicIndirectTrailer[kSlicIndirectTrailerRows];

// Call-progress tones 0..5 and the DTMF pairs 6..21 (keys 0-9, A-D, hash, star).
struct SlicTone {
    double freq1; // Hz
    double freq2;
    double onSeconds;
    double offSeconds;
    uint8_t control; // oscillator control byte, written to both oscillators
};
constexpr int kSlicToneCount = 22;
extern const SlicTone kSlicToneTable[kSlicToneCount];

// Between two looks of the poll for a line chip found in its reset state, while the chip was
// found working. A reset chip raises no interrupt until it is set up again, so a look a second
// later loses no event that an earlier one would have saved.
constexpr uint64_t kSlicResetCheckIntervalMs = 1000;

// The SLIC's sample rate: oscillator and cadence arithmetic count in its ticks.
constexpr double kSlicTicksPerSecond = 8000.0;

// Oscillator coefficient and amplitude for a frequency, as the SLIC wants them.
struct SlicOscillator {
    int coefficient;
    int amplitude;
};
SlicOscillator SlicOscillatorFor(double hz);
// A cadence time in ticks, kept to the 16 bits of the timer registers.
uint16_t SlicTicksFor(double seconds);
// Programs both tone oscillators (coefficient, amplitude, phase 0) and their active and inactive
// timers, in the order the chip wants them. The caller holds deviceLock. Returns 1.
int SlicWriteToneOscillators(double freq1, double freq2, uint16_t active, uint16_t inactive);

// The settings a telephone's line lives on at the end of a bring-up (hook and digit interrupts,
// the line feed): one lost on the bus would leave the line deaf until the next reset, so a failed
// write is made again, up to three times in all; a device really gone fails them at once.
int SlicWriteSettled(int reg, int value);

class KwUsbPhone : public PhoneDevice {
  public:
    // pcmMode selects the PCM format of the line chip (SLIC_PCM_MODE): non-zero 0x28, 0 0x2A.
    explicit KwUsbPhone(int pcmMode);

    int Initialize() override;
    int PollEvent() override;
    PhoneKey GetEventKey() override;
    int SetRinging(int on) override;
    int IsOffHook() override;
    int HasSlic() override;
    int PlayTone(int tone, int on) override;
    int NeedsPolling() override;
    bool KeepsEventsUntilPolled() override; // hook and DTMF flags stay set until cleared
    int SetOnHookTransmission(int on) override;

    // Extended interface, slots 21 to 26. Slots 22 to 26 take no lock: they run inside
    // Initialize, which holds it.
    virtual int SetToneOscillators(double freq1, double freq2, double onSeconds,
                                   double offSeconds); // 21
    virtual int LoadIndirectRegisters();               // 22
    virtual int CalibrateSlic();                       // 23
    virtual int InitializeSlic(int pcm);               // 24
    virtual int PowerUpConverter();                    // 25
    virtual int CheckPowerLeakage();                   // 26

    const int pcmMode;

  protected:
    // A hook change or digit whose flag is already cleared but whose register did not read:
    // the next poll reads it, rather than report a guess now or lose the event.
    enum class Unread { None, Hook, Digit };
    // Reads the hook or digit register of a flagged event into lastEvent: 1 with an event, 0
    // without one; a failed read leaves the event for the next poll. Called with deviceLock held.
    int ReadEvent(Unread what);
    // A DTMF decode value into lastEvent: 1 when it holds a valid digit, else 0.
    int StoreDigit(int decoded);
    Unread unread = Unread::None;

  private:
    // Whether the line chip shows its reset state, judged on values really read.
    // bothRead (optional) tells whether both registers were really read.
    bool SlicLooksReset(bool* bothRead = nullptr);
    // The chip refused its bring-up (variants 1 and 2): its line feed stays open, so an open
    // line feed is no sign of a reset; only the loopback's power-on value is.
    bool slicRefused = false;
    // The reset check is rate-limited: it reads two registers, and the poll runs many times a
    // second. Due at the first poll, and again at once while the last check saw the reset state
    // or could not read both registers.
    bool resetCheckDue = true;
    uint64_t lastResetCheckMs = 0;
};

// The variant with an auxiliary relay. The system does not set this adapter up: its Initialize
// touches nothing.
class KwUsbPhoneRelay : public KwUsbPhone {
  public:
    explicit KwUsbPhoneRelay(int pcmMode);

    int Initialize() override;
    int SetRelay(int on) override;
    int HasRelay() override;
};
