// The second-generation USB devices as the lab models them, all through bridge registers:
//   - the handsets' front panel (0xF210, 0xF250, 0xF310, 0xF350):
//       register 10  the display's three-wire link (bit 1 select, active low; bit 3 clock; bit 5
//                    data). Frames are taken bit by bit on rising clock edges while select is
//                    low, whether the bytes come one by one or in one same-register stream, and
//                    decoded back into the 14 digits shown and the mark. With the display fitted
//                    the line levels read back, clock and data pulled up; without it all reads 0.
//       registers 24, 26  the beeper: divider n (46875 / (n + 1) Hz) and state (9 sounding,
//                    1 silent, 0 off); register 26 reads back only with a beeper fitted.
//       register 22  the settings memory (LabEeprom): bit 0 path on, bit 1 select, bit 2 clock,
//                    bit 3 data in; bit 4 reads the memory's data out.
//       the handset's own keys, which only count up: nothing in the bridge reports them.
//   - the key report of the phones and gateways (0xC31C-0xC31E, 0xC25C-0xC25F, 0xC39C, 0xF39C):
//       registers 12 and 13 the value (low, high); register 14 bit 3 falling after it was set
//       hands the value over.
#pragma once
#include "LabBridge.h"
#include "LabEeprom.h"

#include <cstdint>
#include <vector>

class LabPanel : public LabPeripheral {
  public:
    static constexpr int kDigits = 14;
    static constexpr int kBlank = 10;
    static constexpr int kUnreadable = -1; // a segment pattern that is no digit

    static bool IsPanelProduct(int productId);
    static bool IsKeyReportProduct(int productId);

    void SetProduct(int productId);
    bool Active() const { return panel_ || keyReport_; }
    bool HandsetActive() const { return panel_; }
    // What is fitted (all three on a handset product by default).
    void SetFitted(bool display, bool beeper, bool eeprom);

    // --- the display ---
    bool DisplayOn() const { return systemOn_ && lcdOn_; }
    int Digit(int position) const;             // 0-9, kBlank, kUnreadable; kBlank out of range
    int MarkPosition() const { return mark_; } // -1 none
    int VisibleDigits() const;                 // positions not blank while on
    // Commands and writes decoded so far.
    const std::vector<int>& Commands() const { return commands_; }
    int WriteFrames() const { return writeFrames_; }
    int BadFrames() const { return badFrames_; }

    // --- the beeper ---
    bool Sounding() const;
    int Frequency() const; // Hz from the divider
    // The frequency each time the beeper started sounding.
    const std::vector<int>& Beeps() const { return beeps_; }

    // --- the settings memory ---
    LabEeprom& Eeprom() { return eeprom_; }

    // --- the key report ---
    const std::vector<int>& Reports() const { return reports_; }

    // --- the handset's keys ---
    bool PressKey(const char* name);
    int KeysPressed() const { return keysPressed_; }

    void OnBridgeWrite(int reg, uint8_t value) override;
    void DriveInputs(int reg, uint8_t latch, uint8_t& mask, uint8_t& levels) override;
    // Display off and blank, beeper off, the memory's link idle; what was recorded stays.
    void PowerOn() override;

  private:
    void OnLink(uint8_t value);
    void EndFrame();

    bool panel_ = false;
    bool keyReport_ = false;
    bool displayFitted_ = true, beeperFitted_ = true, eepromFitted_ = true;

    // display
    bool select_ = false; // the link's select line is low: a frame is running
    bool clock_ = false;
    std::vector<int> frame_;
    int digits_[kDigits] = {kBlank, kBlank, kBlank, kBlank, kBlank, kBlank, kBlank,
                            kBlank, kBlank, kBlank, kBlank, kBlank, kBlank, kBlank};
    int mark_ = -1;
    bool systemOn_ = false, lcdOn_ = false;
    std::vector<int> commands_;
    int writeFrames_ = 0, badFrames_ = 0;

    // beeper
    uint8_t divider_ = 0;
    uint8_t beeper_ = 0;
    std::vector<int> beeps_;

    LabEeprom eeprom_;

    uint8_t reportLo_ = 0, reportHi_ = 0, strobe_ = 0;
    std::vector<int> reports_;

    int keysPressed_ = 0;
};
