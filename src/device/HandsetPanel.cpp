#include "device/HandsetPanel.h"

#include "core/Clock.h"
#include "device/DeviceLock.h"
#include "device/KwIpApi.h"

#include <cassert>

const uint8_t kPanelSegments[11] = {0xAF, 0xA0, 0x6D, 0x4F, 0xC6, 0xCB,
                                    0xEB, 0x8E, 0xEF, 0xCF, 0x00};

namespace {

// Display link bytes: select is bit 1 (low during a frame), clock bit 3, data bit 5.
constexpr uint8_t kLinkIdle = 0x3F;
constexpr uint8_t kLinkFrameStart = 0x3D;
constexpr uint8_t kLinkBitZero = 0x15; // clock low, data low
constexpr uint8_t kLinkBitOne = 0x35;  // clock low, data high
constexpr uint8_t kLinkClockHigh = 0x08;

// Display presence test: the three lines must read back as driven, and the display's pull-ups
// must hold clock and data high once the host lets go.
constexpr uint8_t kProbeSelect = 0x57;
constexpr uint8_t kProbeClock = 0x5D;
constexpr uint8_t kProbeData = 0x75;
constexpr uint8_t kProbeRelease = 0x00;
constexpr uint8_t kSelectLine = 0x02;
constexpr uint8_t kClockLine = 0x08;
constexpr uint8_t kDataLine = 0x20;

// Display controller commands (9 bits).
constexpr uint16_t kLcdSystemOff = 0x000;
constexpr uint16_t kLcdSystemOn = 0x002;
constexpr uint16_t kLcdOff = 0x004;
constexpr uint16_t kLcdOn = 0x006;
constexpr uint16_t kLcdBias = 0x052; // 1/3 bias, four commons
constexpr int kMarkAtStart = 5;

constexpr int kFrameHeaderBits = 9; // 1, 0, 1 and six address bits
constexpr int kDigitStreamBytes = (kFrameHeaderBits + 8) * 2;
constexpr int kAllStreamBytes = (kFrameHeaderBits + 8 * kPanelDigits) * 2;

// Beeper.
constexpr int kBeeperClock = 46875;
constexpr uint8_t kBeeperOff = 0;
constexpr uint8_t kBeeperSilent = 1;
constexpr uint8_t kBeeperProbe = 3;
constexpr uint8_t kBeeperReady = 0x02; // read back while a beeper is fitted
constexpr uint8_t kBeeperSounding = 9;
constexpr uint8_t kLinkProbeBeeper = 0x55;

// Key feedback tones.
const int kDigitTones[10] = {1512, 1562, 1616, 1674, 1736, 1802, 1875, 1953, 2038, 2130};
constexpr int kEditTone = 2232;  // backspace and clear
constexpr int kOtherTone = 2343; // every other key
constexpr unsigned kKeyToneMs = 50;
constexpr signed char kKeyBackspace = 8;
constexpr signed char kKeyClear = 13;

// Settings memory (93C46 command set, 64 words of 16 bits).
constexpr int kEnableBits = 10;
const int kWriteEnable[kEnableBits] = {1, 0, 0, 1, 1, 0, 0, 0, 0, 0};
const int kWriteDisable[kEnableBits] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr int kStatusReads = 3;
constexpr int kStatusClocks = 4;
constexpr uint8_t kChecksumAddress = 10;
constexpr uint16_t kChecksumSeed = 0x1234;

// Appends one bit as its two link bytes.
int PutBit(uint8_t* stream, int at, int bit) {
    const uint8_t b = bit ? kLinkBitOne : kLinkBitZero;
    stream[at] = b;
    stream[at + 1] = static_cast<uint8_t>(b | kLinkClockHigh);
    return at + 2;
}

int PutBits(uint8_t* stream, int at, unsigned value, int count) {
    for (int i = count - 1; i >= 0; --i)
        at = PutBit(stream, at, (value >> i) & 1);
    return at;
}

// The write-frame header: 1, 0, 1 and the 6-bit address.
int PutWriteHeader(uint8_t* stream, unsigned address) {
    int at = PutBits(stream, 0, 0x5, 3);
    return PutBits(stream, at, address, 6);
}

uint8_t ReadReg(int reg) {
    uint8_t value = 0;
    DevReadReg(reg, &value);
    return value;
}

} // namespace

uint8_t BeeperDivider(int hz) {
    if (hz >= kBeeperClock) return 0;
    if (hz <= 183) return 255;
    return static_cast<uint8_t>(kBeeperClock / hz - 1);
}

HandsetPanel::~HandsetPanel() = default;

int HandsetPanel::ProbeDisplay() {
    assert(DeviceLockHeldHere() && "the owning device holds deviceLock");
    struct Probe {
        uint8_t drive;
        uint8_t mustRead;
    };
    static const Probe kProbes[] = {
        {kProbeSelect, kSelectLine}, {kProbeClock, kClockLine}, {kProbeData, kDataLine}};
    for (const Probe& p : kProbes) {
        DevWriteReg(PANEL_DISPLAY_LINK, p.drive);
        if (!(ReadReg(PANEL_DISPLAY_LINK) & p.mustRead)) {
            DevWriteReg(PANEL_DISPLAY_LINK, kProbeRelease);
            displayPresent = 0;
            return 0;
        }
    }
    DevWriteReg(PANEL_DISPLAY_LINK, kProbeRelease);
    const uint8_t released = ReadReg(PANEL_DISPLAY_LINK);
    displayPresent = (released & kClockLine) && (released & kDataLine) ? 1 : 0;
    if (!displayPresent) return 0;

    DevWriteReg(PANEL_DISPLAY_LINK, kLinkIdle);
    for (uint8_t& d : digits)
        d = kPanelBlank;
    cursor = 0;
    markPosition = kMarkAtStart;
    LcdWriteAll(digits);
    LcdCommand(kLcdSystemOn);
    LcdCommand(kLcdOn);
    LcdCommand(kLcdBias);
    return 1;
}

// Also run by the handset's release, which takes no lock: neither this nor the display writes it
// makes check for deviceLock.
void HandsetPanel::DisplayOff() {
    if (!displayPresent) return;
    for (uint8_t& d : digits)
        d = kPanelBlank;
    cursor = 0;
    markPosition = 0;
    LcdWriteAll(digits);
    LcdCommand(kLcdSystemOff);
    LcdCommand(kLcdOff);
}

void HandsetPanel::KeyInput(signed char key, int beep) {
    assert(DeviceLockHeldHere() && "the owning device holds deviceLock");
    if (key == 0) return;
    if (key >= '0' && key <= '9') {
        const int d = key - '0';
        if (beep) {
            SetBuzzFrequency(kDigitTones[d]);
            Buzz(1);
        }
        if (displayPresent) {
            if (cursor >= kPanelDigits) {
                // A full display scrolls left; the new digit enters at the right.
                for (int i = 0; i < kPanelDigits - 1; ++i)
                    digits[i] = digits[i + 1];
                digits[kPanelDigits - 1] = static_cast<uint8_t>(d);
                LcdWriteAll(digits);
            } else {
                const int at = cursor < 0 ? 0 : cursor;
                digits[at] = static_cast<uint8_t>(d);
                LcdWriteDigit(static_cast<uint8_t>(at), static_cast<uint8_t>(d));
                cursor = at + 1;
            }
        }
    } else if (key == kKeyBackspace || key == kKeyClear) {
        if (beep) {
            SetBuzzFrequency(kEditTone);
            Buzz(1);
            Pause(kKeyToneMs);
        }
        if (displayPresent && key == kKeyBackspace && cursor > 0) {
            cursor = (cursor > kPanelDigits ? kPanelDigits : cursor) - 1;
            digits[cursor] = kPanelBlank;
            LcdWriteDigit(static_cast<uint8_t>(cursor), kPanelBlank);
        } else if (displayPresent && key == kKeyClear) {
            for (uint8_t& d : digits)
                d = kPanelBlank;
            cursor = 0;
            LcdWriteAll(digits);
        }
    } else if (beep) {
        SetBuzzFrequency(kOtherTone);
        Buzz(1);
        Pause(kKeyToneMs);
    }
    if (beep) Buzz(0);
}

int HandsetPanel::ProbeBuzzer() {
    assert(DeviceLockHeldHere() && "the owning device holds deviceLock");
    const uint8_t link = ReadReg(PANEL_DISPLAY_LINK);
    DevWriteReg(PANEL_DISPLAY_LINK, kLinkProbeBeeper);
    DevWriteReg(PANEL_BEEPER_STATE, kBeeperProbe);
    if (!(ReadReg(PANEL_BEEPER_STATE) & kBeeperReady)) {
        DevWriteReg(PANEL_BEEPER_STATE, kBeeperOff);
        DevWriteReg(PANEL_DISPLAY_LINK, link);
        buzzerPresent = 0;
        return 0;
    }
    buzzerPresent = 1;
    DevWriteReg(PANEL_BEEPER_DIVIDER, 0xFF);
    DevWriteReg(PANEL_BEEPER_STATE, kBeeperSilent);
    DevWriteReg(PANEL_DISPLAY_LINK, link);
    return 1;
}

void HandsetPanel::Buzz(int on) {
    assert(DeviceLockHeldHere() && "the owning device holds deviceLock");
    if (buzzerPresent) DevWriteReg(PANEL_BEEPER_STATE, on ? kBeeperSounding : kBeeperSilent);
}

void HandsetPanel::SetBuzzFrequency(int hz) {
    assert(DeviceLockHeldHere() && "the owning device holds deviceLock");
    if (buzzerPresent) DevWriteReg(PANEL_BEEPER_DIVIDER, BeeperDivider(hz));
}

uint16_t HandsetPanel::RecordChecksum(const uint16_t* words) {
    unsigned sum = kChecksumSeed;
    for (int i = 0; i < kSettingsWords; ++i)
        sum += (words[i] & 0xFFu) + (words[i] >> 8);
    return static_cast<uint16_t>(sum);
}

void HandsetPanel::WriteRecord(const uint8_t* data, uint16_t word2, uint16_t word3) {
    assert(DeviceLockHeldHere() && "the owning device holds deviceLock");
    SetLines(kSettingsPath);
    settingsRecord[2] = word2;
    settingsRecord[3] = word3;
    for (int i = 0; i < kSettingsDataBytes / 2; ++i) {
        const unsigned lo = data ? data[2 * i] : 0;
        const unsigned hi = data ? data[2 * i + 1] : 0;
        settingsRecord[4 + i] = static_cast<uint16_t>(lo | (hi << 8));
    }
    for (int i = 0; i < kSettingsWords; ++i)
        EepromWriteWord(static_cast<uint8_t>(i), settingsRecord[i]);
    EepromWriteWord(kChecksumAddress, RecordChecksum(settingsRecord));
    SetLines(0);
}

int HandsetPanel::ReadRecord(uint16_t* out) {
    assert(DeviceLockHeldHere() && "the owning device holds deviceLock");
    SetLines(kSettingsPath);
    uint16_t words[kSettingsWords] = {};
    for (int i = 0; i < kSettingsWords; ++i)
        EepromReadWord(static_cast<uint8_t>(i), &words[i]);
    uint16_t stored = 0;
    EepromReadWord(kChecksumAddress, &stored);
    if (out) {
        for (int i = 0; i < kSettingsWords; ++i)
            out[i] = words[i];
    }
    return stored == RecordChecksum(words) ? 1 : 0;
}

void HandsetPanel::SetLines(int lines) {
    eepromLines = static_cast<uint8_t>(lines);
    DevWriteReg(PANEL_SETTINGS_LINK, eepromLines);
}

void HandsetPanel::EepromClockBit(int bit) {
    assert(DeviceLockHeldHere() && "the owning device holds deviceLock");
    SetLines(eepromLines & ~kSettingsClock);
    SetLines(bit ? (eepromLines | kSettingsDataIn) : (eepromLines & ~kSettingsDataIn));
    SetLines(eepromLines | kSettingsClock);
}

void HandsetPanel::EepromWriteEnable(int enable) {
    assert(DeviceLockHeldHere() && "the owning device holds deviceLock");
    SetLines(eepromLines | kSettingsSelect);
    const int* bits = enable ? kWriteEnable : kWriteDisable;
    for (int i = 0; i < kEnableBits; ++i)
        EepromClockBit(bits[i]);
    SetLines(eepromLines & ~kSettingsSelect);
}

int HandsetPanel::EepromWriteWord(uint8_t address, uint16_t value) {
    assert(DeviceLockHeldHere() && "the owning device holds deviceLock");
    EepromWriteEnable(1);
    SetLines(eepromLines | kSettingsSelect);
    EepromClockBit(1);
    EepromClockBit(0);
    EepromClockBit(1);
    for (int i = 5; i >= 0; --i)
        EepromClockBit((address >> i) & 1);
    for (int i = 15; i >= 0; --i)
        EepromClockBit((value >> i) & 1);
    // Select low starts the programming; select high again shows its status on data out.
    SetLines(eepromLines & ~kSettingsClock);
    SetLines(eepromLines & ~kSettingsDataIn);
    SetLines(eepromLines & ~kSettingsSelect);
    SetLines(eepromLines | kSettingsClock);
    SetLines(eepromLines & ~kSettingsClock);
    SetLines(eepromLines | kSettingsSelect);
    for (int i = 0; i < kStatusClocks; ++i) {
        SetLines(eepromLines | kSettingsClock);
        SetLines(eepromLines & ~kSettingsClock);
    }
    for (int i = 0; i < kStatusReads; ++i) {
        if (ReadReg(PANEL_SETTINGS_LINK) & kSettingsDataOut) break;
    }
    SetLines(eepromLines & ~kSettingsSelect);
    EepromWriteEnable(0);
    return 1;
}

int HandsetPanel::EepromReadWord(uint8_t address, uint16_t* value) {
    assert(DeviceLockHeldHere() && "the owning device holds deviceLock");
    SetLines(eepromLines | kSettingsSelect);
    EepromClockBit(1);
    EepromClockBit(1);
    EepromClockBit(0);
    for (int i = 5; i >= 0; --i)
        EepromClockBit((address >> i) & 1);
    unsigned word = 0;
    SetLines(eepromLines & ~kSettingsClock);
    SetLines(eepromLines & ~kSettingsDataIn);
    for (int i = 0; i < 16; ++i) {
        SetLines(eepromLines | kSettingsClock);
        SetLines(eepromLines & ~kSettingsClock);
        word = (word << 1) | ((ReadReg(PANEL_SETTINGS_LINK) & kSettingsDataOut) ? 1u : 0u);
    }
    SetLines(eepromLines & ~kSettingsSelect);
    if (value) *value = static_cast<uint16_t>(word);
    return 1;
}

void HandsetPanel::WriteFrame(const uint8_t* stream, int length) {
    DevWriteReg(PANEL_DISPLAY_LINK, kLinkFrameStart);
    DevWriteRegs(PANEL_DISPLAY_LINK, const_cast<uint8_t*>(stream), length, kRequestRegister, 0);
    DevWriteReg(PANEL_DISPLAY_LINK, kLinkIdle);
}

int HandsetPanel::LcdCommand(uint16_t command) {
    uint8_t stream[24];
    int at = PutBits(stream, 0, 0x4, 3); // 1, 0, 0
    at = PutBits(stream, at, command & 0x1FFu, 9);
    DevWriteReg(PANEL_DISPLAY_LINK, kLinkFrameStart);
    for (int i = 0; i < at; ++i)
        DevWriteReg(PANEL_DISPLAY_LINK, stream[i]);
    DevWriteReg(PANEL_DISPLAY_LINK, kLinkIdle);
    return 1;
}

int HandsetPanel::LcdWriteDigit(uint8_t position, uint8_t digit) {
    assert(DeviceLockHeldHere() && "the owning device holds deviceLock");
    if (position >= kPanelDigits || digit > kPanelBlank) return 0;
    uint8_t segments = kPanelSegments[digit];
    if (position == markPosition) segments |= kPanelMarkSegment;
    uint8_t stream[kDigitStreamBytes];
    int at = PutWriteHeader(stream, position * 2u);
    at = PutBits(stream, at, segments, 8);
    WriteFrame(stream, at);
    return 1;
}

int HandsetPanel::LcdWriteAll(const uint8_t* shown) {
    uint8_t stream[kAllStreamBytes];
    int at = PutWriteHeader(stream, 0);
    for (int i = 0; i < kPanelDigits; ++i) {
        const uint8_t d = shown && shown[i] <= kPanelBlank ? shown[i] : kPanelBlank;
        uint8_t segments = kPanelSegments[d];
        if (i == markPosition) segments |= kPanelMarkSegment;
        at = PutBits(stream, at, segments, 8);
    }
    WriteFrame(stream, at);
    return 1;
}
