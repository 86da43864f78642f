// The first-generation USB handsets as the lab models them, all on the bridge's pins:
//   - the keypad matrix: rows on register 18 (0x01, 0x02, 0x08, 0x10, active low), columns read
//     on register 192 (low four bits, active low). A pressed key pulls its column low while its
//     row is driven low, so several keys, a key held down and two keys in one row all read as
//     the hardware would. The layout is the DTMF keypad's: rows 1 2 3 A / 4 5 6 B / 7 8 9 C /
//     * 0 # D.
//   - the sounder on pin 0x20 (active low) and, on 0xB211, the relay on pin 0x08 (active high);
//     both sound or switch only while their pin is an output (register 19).
//   - on 0xB212, the serial settings memory (LabEeprom): select = bit 0 of register 0, clock =
//     pin 0x10, data in = pin 0x40, data out read on pin 0x80.
// Register 18 bit 0x80 is the line chip's interrupt on the USB phones, and 0x10 the line-use
// input on the gateways; on a handset the keypad takes both over: 0x10 reads back its latch,
// 0x80 the memory's data out (or its latch).
#pragma once
#include "LabBridge.h"
#include "LabEeprom.h"

#include <cstddef>
#include <cstdint>
#include <deque>

class LabKeypad : public LabPeripheral {
  public:
    static constexpr int kColumnRegister = 192;
    static bool IsHandsetProduct(int productId) {
        return productId == 0x8250 || (productId >= 0xB210 && productId <= 0xB212);
    }

    // Active only for the handset products; the memory only on 0xB212, the relay on 0xB211.
    void SetProduct(int productId);
    bool Active() const { return active_; }

    // Row and column (0-3) of a key: '0'-'9', '*', '#', 'A'-'D'; false for any other character.
    static bool KeyPosition(char key, int& row, int& column);
    // A key held down until released.
    bool Press(char key, bool down);
    bool Held(char key) const;
    // A short press: the key is down until a column read has shown it, and up for the read
    // after that, so each tap is scanned exactly once. Taps queue up behind each other.
    bool Tap(char key);
    size_t PendingTaps() const { return taps_.size(); }

    bool Sounding() const; // sounder pin an output and low
    bool RelayOn() const;  // 0xB211: relay pin an output and high
    LabEeprom& Eeprom() { return eeprom_; }

    void OnBridgeWrite(int reg, uint8_t value) override;
    void DriveInputs(int reg, uint8_t latch, uint8_t& mask, uint8_t& levels) override;
    void OnBridgeRead(int reg, uint8_t value) override;
    void PowerOn() override;

  private:
    uint8_t Columns() const; // the column lines as the rows are driven now
    bool RowDriven(int row) const;
    void DriveEeprom();

    bool active_ = false;
    bool hasEeprom_ = false;
    bool hasRelay_ = false;
    uint16_t held_ = 0;    // bit row * 4 + column
    std::deque<int> taps_; // row * 4 + column
    bool gap_ = false;     // a tap was just let go: no tap is down for the next column read
    uint8_t pins_ = 0;     // register 18 as the host wrote it
    uint8_t enables_ = 0;  // register 19
    uint8_t config_ = 0;   // register 0
    LabEeprom eeprom_;
};
