// The line chip (SLIC) of the lab adapter: 256 direct 8-bit and 256 indirect 16-bit registers,
// modelled as far as the USB phone's bring-up, polling, ringing and tones need.
//
// Direct registers with behaviour:
//   0        revision (bits 3..0) and variant (bits 5..4), read-only, from the configuration
//   8        reset value 2; the program writes 0 during set-up
//   14       converter power: 0x10 off (reset), 0 on
//   18-20    interrupt flags, write one to clear; raised only where 21-23 enable them
//   24       DTMF: bit 4 digit valid, low nibble the code (1-9, 10 for 0, 11 star, 12 hash,
//            13-15 A-C, 0 D)
//   32, 33   oscillator control (bit 2 enables the oscillator)
//   34       ringing oscillator control: bit 4 enables the active timer, bit 3 the inactive one
//   36-43    oscillator on/off times in 8 kHz ticks, low byte first
//   48-51    ring cadence: active time (48, 49), inactive time (50, 51), 8 kHz ticks, low first
//   64       line feed: 0 open (reset), 0x11 forward active, 0x22 forward on-hook transmission
//            (no bell; audio reaches a telephone whose receiver is down), 0x44 ringing. Every
//            change is recorded with its time.
//   68       hook: bit 0 set while the receiver is lifted, read-only
//   82       battery voltage: rises to >= 0xC0 some reads after the converter starts; holds when
//            it stops, or drops below 4 when configured to leak
//   88, 89   calibration offsets: read 0 once 98 (99) has been stepped down to the configured k
//   93       bit 7 (converter calibration) clears some reads after it is set (or never)
//   96       calibration: a non-zero write starts it; reads 0 after the configured reads
// Indirect 13-15 and 16-18 are the two tone oscillators (coefficient, amplitude, phase).
//
// Ringing: while the line feed is ringing, the bell sounds. With the active timer enabled it
// sounds for the active time only, counted from the moment ringing started (the line feed went
// to ringing, or the timers were switched while it rang); with the inactive timer enabled too
// it is then silent for the inactive time and the cadence repeats. Without the timers it rings
// on. Time comes from SetTime (milliseconds), given by the owner before each use.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

struct LabSlicConfig {
    int revision = 5;             // 0-15
    int variant = 0;              // 0-3; 1 and 2 are refused by the USB phone
    int calibrationReads = 3;     // reads of 96 that still show a calibration running
    int batteryRiseReads = 2;     // reads of 82 below 0xC0 after the converter starts
    int converterSettleReads = 2; // reads of 93 with bit 7 still set; -1: never clears
    bool leaks = false;           // battery drops below 4 while the converter is off
    int offsetStep88 = 17;        // 98 value at which register 88 reaches 0
    int offsetStep89 = 12;        // 99 value at which register 89 reaches 0
};

// The tone generator decoded back into what the telephone hears.
struct LabTone {
    bool on = false;      // either oscillator enabled
    int coefficient1 = 0; // indirect 13
    int coefficient2 = 0; // indirect 16
    int frequency1 = 0;   // Hz, from the coefficients
    int frequency2 = 0;
    int onMs1 = 0, offMs1 = 0; // cadence of oscillator 1 (registers 36-39)
    int onMs2 = 0, offMs2 = 0; // cadence of oscillator 2 (registers 40-43)
};

// A change of the line feed (register 64): the time (SetTime's clock) and the new value.
struct LabLineFeedChange {
    uint64_t ms = 0;
    uint8_t value = 0;
    long long soundBytes = -1; // the sound meter then (-1: none)
};

class LabSlic {
  public:
    static constexpr int kRegisters = 256;
    static constexpr uint8_t kLineFeedOpen = 0x00;
    static constexpr uint8_t kLineFeedActive = 0x11;
    static constexpr uint8_t kLineFeedOnHookTransmission = 0x22;
    static constexpr uint8_t kLineFeedRinging = 0x44;
    // The record keeps the latest changes only: a soak rings for hours.
    static constexpr size_t kLineFeedRecord = 4096;
    static constexpr uint8_t kRingActiveTimer = 0x10; // register 34
    static constexpr uint8_t kRingInactiveTimer = 0x08;

    LabSlic() { Reset(); }
    void Configure(const LabSlicConfig& config);
    const LabSlicConfig& Config() const { return config_; }
    // Power-on state: every register at its reset value. The telephone's hook stays as it is.
    void Reset();
    // The time now, in milliseconds: ringing cadences are counted in it.
    void SetTime(uint64_t ms) { now_ = ms; }

    // A read by the program: advances the settle counters.
    uint8_t ReadDirect(int reg);
    // The value without side effects.
    uint8_t PeekDirect(int reg) const;
    void WriteDirect(int reg, uint8_t value);
    uint16_t ReadIndirect(int reg) const;
    void WriteIndirect(int reg, uint16_t value);

    // The telephone: hook changes raise flag bit 1 (loop closure) of register 19, or bit 0
    // (ring trip) when the receiver is lifted while ringing.
    void SetHook(bool offHook);
    bool OffHook() const { return offHook_; }
    // A DTMF digit of the given code (register 24 low nibble); raises flag bit 0 of register 20.
    void Dtmf(int code);
    bool InterruptPending() const;
    // The line feed is in its ringing state (ring trip is detected all through it).
    bool LineFeedRinging() const { return (direct_[64] & 0x0F) == (kLineFeedRinging & 0x0F); }
    // Forward on-hook transmission: the line carries audio to a telephone whose receiver is down.
    bool OnHookTransmission() const {
        return (direct_[64] & 0x0F) == (kLineFeedOnHookTransmission & 0x0F);
    }
    // What each line-feed change records beside its time: how much sound the adapter's sound
    // device has played so far (in the lab, the size of the capture file), so that sound can be
    // placed in the line feed's states. Unset: -1.
    void SetSoundMeter(std::function<long long()> meter) { soundMeter_ = std::move(meter); }
    // The sound meter's readings when the latest stretch in a line-feed state began and ended:
    // false when there is none; *end is -1 while the stretch still goes on.
    bool LastStretchSound(uint8_t state, long long* begin, long long* end) const;
    // The line feed's changes, oldest first (at most kLineFeedRecord of them).
    const std::vector<LabLineFeedChange>& LineFeedChanges() const { return lineFeedChanges_; }
    // How long the latest stretch in a line-feed state (low nibble of register 64) lasted, in
    // ms; one still going lasts until now. -1 when the record holds no change to that state.
    long LastStretchMs(uint8_t state) const;
    // The bell sounds now, following the ring cadence.
    bool BellSounding() const;
    LabTone Tone() const;

    // Inverse of coefficient = cos(2 pi f / 8000) * 32768, to the nearest Hz.
    static int DecodeFrequency(int coefficient);
    // The DTMF code of a key ('0'-'9', '*', '#', 'A'-'D'); -1 for another character.
    static int DtmfCode(char key);

  private:
    static bool Valid(int reg) { return reg >= 0 && reg < kRegisters; }
    void RaiseFlag(int flagReg, uint8_t bit);
    bool ConverterOn() const { return (direct_[14] & 0x10) == 0; }
    void SetLineFeed(uint8_t value);

    LabSlicConfig config_;
    uint8_t direct_[kRegisters] = {};
    uint16_t indirect_[kRegisters];
    bool offHook_ = false;
    uint8_t battery_ = 0;
    int batteryReads_ = 0;
    int settleReadsLeft_ = 0;
    int calibrationReadsLeft_ = 0;
    uint64_t now_ = 0;
    uint64_t ringStart_ = 0; // when the current ring cadence started
    std::vector<LabLineFeedChange> lineFeedChanges_;
    std::function<long long()> soundMeter_;
};
