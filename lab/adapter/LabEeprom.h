// A 93C46-style serial settings memory: 64 words of 16 bits behind a select / clock / data-in /
// data-out link. The model knows nothing about where its lines are wired: the owner (a
// LabPeripheral) samples the host's pin writes, calls Drive with the three input levels
// whenever one of them may have changed, and reports DataOut on the pin it wires it to.
//
// Protocol (x16 organisation; bits are taken on the rising clock edge while select is high):
//   start bit 1, then a 2-bit opcode, then 6 address bits (bit 5 first)
//   READ  10 aaaaaa           -> data out: a dummy 0 after the last address bit, then the
//                                16 bits of the word (bit 15 first), one per following rising
//                                edge; further edges go on with the next address
//   WRITE 01 aaaaaa + 16 bits -> programmed when select falls after the 16th data bit
//   ERASE 11 aaaaaa           -> word := 0xFFFF when select falls
//   EWEN  00 11xxxx / EWDS 00 00xxxx  write enable / disable (disabled at power-on)
//   ERAL  00 10xxxx / WRAL 00 01xxxx + 16 bits   erase all / write all
// Programming is refused (nothing changes) while writes are disabled. After a programming
// command, raising select shows the ready status on data out: 0 while busy, 1 when done; a
// start bit ends the status display. Data out reads the idle level (pull-up: 1) while the
// memory does not drive it.
#pragma once
#include <cstdint>
#include <vector>

enum class LabEepromOp { Read, Write, Erase, EraseAll, WriteAll, WriteEnable, WriteDisable };

// One command as the memory decoded it.
struct LabEepromCommand {
    LabEepromOp op;
    int address = 0;      // 0-63 (0 for the commands without an address)
    uint16_t data = 0;    // WRITE / WRAL: the word clocked in
    bool refused = false; // a programming command while writes were disabled
};

class LabEeprom {
  public:
    static constexpr int kWords = 64;

    LabEeprom() {
        Erase();
        Reset();
    }
    // Power-on: writes disabled, link idle. The words are kept (the memory is non-volatile);
    // Erase clears them to 0xFFFF like a new part.
    void Reset();
    void Erase();

    // The host's line levels. Edges are found against the previous call.
    void Drive(bool select, bool clock, bool dataIn);
    // The level on the data-out line now.
    bool DataOut() const;
    // Level read while nothing drives data out (default 1).
    void SetIdleLevel(bool level) { idleLevel_ = level; }
    // Rising clock edges a programming cycle stays busy for, counted while select is high
    // (default 0: done at once).
    void SetBusyClocks(int clocks) { busyClocks_ = clocks; }

    uint16_t Word(int address) const;
    void SetWord(int address, uint16_t value);
    bool WriteEnabled() const { return writeEnabled_; }
    // Every command decoded since the last ClearCommands, in order.
    const std::vector<LabEepromCommand>& Commands() const { return commands_; }
    void ClearCommands() { commands_.clear(); }
    // Bits taken on rising edges in the current (or last) frame, start bit first; a frame
    // begins when select rises.
    const std::vector<int>& FrameBits() const { return frameBits_; }

  private:
    enum class Phase { Idle, Command, ReadOut, WriteData, Wait, Status };
    void OnRisingEdge(bool dataIn);
    void OnSelectFall();
    void Decode();

    uint16_t words_[kWords];
    bool select_ = false, clock_ = false;
    bool idleLevel_ = true;
    bool writeEnabled_ = false;
    int busyClocks_ = 0;

    Phase phase_ = Phase::Idle;
    int bitCount_ = 0;     // bits of the command (start bit, opcode, address) taken so far
    unsigned command_ = 0; // opcode and address bits as they came
    int address_ = 0;
    int op_ = 0;         // opcode bits
    uint16_t shift_ = 0; // data in / out
    int dataBits_ = 0;   // data bits taken or sent
    bool out_ = true;    // driven data-out level
    bool driving_ = false;
    bool pending_ = false; // a programming command waits for select to fall
    LabEepromCommand pendingCommand_{LabEepromOp::Write};
    int busyLeft_ = 0;
    bool statusArmed_ = false; // a programming cycle ran; the next select shows its status

    std::vector<LabEepromCommand> commands_;
    std::vector<int> frameBits_;
};
