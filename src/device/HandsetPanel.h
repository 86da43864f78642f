// The front panel of the second-generation USB handset, driven through registers of the USB
// bridge chip: a 14-digit segment display on a three-wire serial link (register 10), a key
// beeper (registers 24 and 26) and a serial settings memory of 16-bit words (register 22).
//
// A second base class of the device classes that carry the panel, with its own table of virtual
// operations (declared in slot order; keep it so). Its operations make requests but take no lock:
// the owning device calls them with deviceLock held.
#pragma once
#include <cstdint>

constexpr int kPanelDigits = 14;
constexpr uint8_t kPanelBlank = 10; // the digit value of an empty position
constexpr int kSettingsWords = 10;
constexpr int kSettingsDataBytes = 12;

// Bridge registers of the panel.
enum PanelRegister : int {
    PANEL_DISPLAY_LINK = 10,   // bit 1 select (active low), bit 3 clock, bit 5 data
    PANEL_CONTROL = 11,        // written once at bring-up
    PANEL_BEEPER_DIVIDER = 24, // tone = 46875 / (n + 1) Hz
    PANEL_SETTINGS_LINK = 22,  // settings memory lines (bits below)
    PANEL_BEEPER_STATE = 26,   // 0 off, 1 ready and silent, 9 sounding
};

// Bits of PANEL_SETTINGS_LINK.
constexpr uint8_t kSettingsPath = 0x01;   // memory path on
constexpr uint8_t kSettingsSelect = 0x02; // chip select
constexpr uint8_t kSettingsClock = 0x04;
constexpr uint8_t kSettingsDataIn = 0x08;  // data to the memory
constexpr uint8_t kSettingsDataOut = 0x10; // data from the memory, read back

// Segment byte of each digit value (10 blank); 0x10 is the mark segment, added at markPosition.
extern const uint8_t kPanelSegments[11];
constexpr uint8_t kPanelMarkSegment = 0x10;

// The beeper's divider for a frequency: 0 at 46875 Hz and above, 255 at 183 Hz and below.
uint8_t BeeperDivider(int hz);

class HandsetPanel {
  public:
    HandsetPanel() = default;
    HandsetPanel(const HandsetPanel&) = delete;
    HandsetPanel& operator=(const HandsetPanel&) = delete;

    virtual ~HandsetPanel();                                                       // 0
    virtual int ProbeDisplay();                                                    // 1
    virtual void DisplayOff();                                                     // 2
    virtual void KeyInput(signed char key, int beep);                              // 3
    virtual int ProbeBuzzer();                                                     // 4
    virtual void Buzz(int on);                                                     // 5
    virtual void SetBuzzFrequency(int hz);                                         // 6
    virtual void WriteRecord(const uint8_t* data, uint16_t word2, uint16_t word3); // 7
    virtual int ReadRecord(uint16_t* out);                                         // 8
    virtual void EepromClockBit(int bit);                                          // 9
    virtual void EepromWriteEnable(int enable);                                    // 10
    virtual int EepromWriteWord(uint8_t address, uint16_t value);                  // 11
    virtual int EepromReadWord(uint8_t address, uint16_t* value);                  // 12
    virtual int LcdCommand(uint16_t command);                                      // 13
    virtual int LcdWriteDigit(uint8_t position, uint8_t digit);                    // 14
    virtual int LcdWriteAll(const uint8_t* digits);                                // 15

    // 0x1234 plus the low and the high byte of each of the ten words, kept to 16 bits.
    static uint16_t RecordChecksum(const uint16_t* words);

    int32_t displayPresent = 0;
    uint8_t digits[kPanelDigits] = {10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10};
    int32_t cursor = 0;       // digits typed, 0-14
    int32_t markPosition = 0; // position shown with the mark segment
    uint8_t eepromLines = 0;  // what register 22 was last given
    uint16_t settingsRecord[kSettingsWords] = {};
    int32_t buzzerPresent = 0;

  private:
    void SetLines(int lines);
    void WriteFrame(const uint8_t* stream, int length);
};
