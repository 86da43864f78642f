// The USB bridge chip of the lab adapter: 256 byte-wide registers reached by code 2 requests.
// Some bits are inputs driven by the hardware (the line chip's interrupt line, the PSTN ring
// and line-use signals, later keypad rows or EEPROM data). The host's latch and the inputs are
// kept apart and combined on read.
//
// The general-purpose pins: register 18 holds their levels, register 19 their output enables.
// A pin enabled as an output drives its latch onto the pad and the bridge reads the pad, so it
// reads back what the host drove, whatever a modelled input on that pin would say. Only where
// another chip actively drives the same pin (marked `external` in SetInputs: the line chip's
// interrupt output, the gateways' line-use detector) does that chip's level win: on silicon
// that is a bus fight, and the bridge's weak GPIO driver loses it.
#pragma once
#include <cstdint>

// Something wired to the bridge (panel display, EEPROM, keypad matrix): sees every byte the host
// writes and may drive input bits.
class LabPeripheral {
  public:
    virtual ~LabPeripheral() = default;
    // One byte the host wrote to a bridge register; a same-register stream arrives byte by byte.
    virtual void OnBridgeWrite(int reg, uint8_t value) {
        (void)reg;
        (void)value;
    }
    // Before a read: claim input bits of `reg` by setting them in `mask`, with their levels in
    // `levels`. `latch` is what the host last wrote there.
    virtual void DriveInputs(int reg, uint8_t latch, uint8_t& mask, uint8_t& levels) {
        (void)reg;
        (void)latch;
        (void)mask;
        (void)levels;
    }
    // One byte the host read from a bridge register, after the read.
    virtual void OnBridgeRead(int reg, uint8_t value) {
        (void)reg;
        (void)value;
    }
    // The adapter was plugged in again: back to the state at power-on. What the world holds
    // (keys held down, the contents of a non-volatile memory) stays.
    virtual void PowerOn() {}
};

class LabBridge {
  public:
    static constexpr int kRegisters = 256;
    static constexpr int kPinLevels = 18;
    static constexpr int kPinEnables = 19;

    LabBridge() { Reset(); }
    // Power-on: every latch 0 (all pins inputs), no input driven.
    void Reset();
    // What a read shows: the latch with input bits replaced by their levels; on the pins, bits
    // enabled as outputs read their latch unless another chip drives them.
    uint8_t Read(int reg) const;
    // A host write: only the latch changes.
    void Write(int reg, uint8_t value);
    uint8_t Latch(int reg) const;
    // The hardware drives the `mask` bits of `reg` to `levels`; other bits read the latch. The
    // `external` bits (within mask) are driven by another chip that wins over an output.
    void SetInputs(int reg, uint8_t mask, uint8_t levels, uint8_t external = 0);

  private:
    static bool Valid(int reg) { return reg >= 0 && reg < kRegisters; }
    uint8_t latch_[kRegisters];
    uint8_t inputMask_[kRegisters];
    uint8_t inputLevels_[kRegisters];
    uint8_t external_[kRegisters];
};
