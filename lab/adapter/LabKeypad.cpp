#include "LabKeypad.h"

namespace {

constexpr uint8_t kRowPins[4] = {0x01, 0x02, 0x08, 0x10};
constexpr char kLayout[4][5] = {"123A", "456B", "789C", "*0#D"};
constexpr uint8_t kSounder = 0x20;
constexpr uint8_t kRelay = 0x08;
constexpr uint8_t kClock = 0x10;
constexpr uint8_t kDataIn = 0x40;
constexpr uint8_t kDataOut = 0x80;
constexpr uint8_t kChipSelect = 0x01;
constexpr uint8_t kNoKey = 0x0F;
constexpr int kPins = 18;
constexpr int kEnables = 19;
constexpr int kConfig = 0;

} // namespace

void LabKeypad::SetProduct(int productId) {
    active_ = IsHandsetProduct(productId);
    hasEeprom_ = productId == 0xB212;
    hasRelay_ = productId == 0xB211;
}

bool LabKeypad::KeyPosition(char key, int& row, int& column) {
    if (key >= 'a' && key <= 'd') key = static_cast<char>(key - 'a' + 'A');
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (key != '\0' && kLayout[r][c] == key) {
                row = r;
                column = c;
                return true;
            }
    return false;
}

bool LabKeypad::Press(char key, bool down) {
    int row = 0, column = 0;
    if (!KeyPosition(key, row, column)) return false;
    const uint16_t bit = static_cast<uint16_t>(1u << (row * 4 + column));
    held_ = static_cast<uint16_t>(down ? (held_ | bit) : (held_ & ~bit));
    return true;
}

bool LabKeypad::Held(char key) const {
    int row = 0, column = 0;
    return KeyPosition(key, row, column) && (held_ & (1u << (row * 4 + column)));
}

bool LabKeypad::Tap(char key) {
    int row = 0, column = 0;
    if (!KeyPosition(key, row, column)) return false;
    taps_.push_back(row * 4 + column);
    return true;
}

bool LabKeypad::Sounding() const {
    return active_ && (enables_ & kSounder) && !(pins_ & kSounder);
}

bool LabKeypad::RelayOn() const {
    return active_ && hasRelay_ && (enables_ & kRelay) && (pins_ & kRelay);
}

bool LabKeypad::RowDriven(int row) const {
    return !(pins_ & kRowPins[row]);
}

uint8_t LabKeypad::Columns() const {
    uint8_t columns = kNoKey;
    for (int k = 0; k < 16; ++k) {
        const bool down = (held_ & (1u << k)) || (!gap_ && !taps_.empty() && taps_.front() == k);
        if (down && RowDriven(k / 4)) columns = static_cast<uint8_t>(columns & ~(1u << (k % 4)));
    }
    return columns;
}

void LabKeypad::DriveEeprom() {
    if (hasEeprom_)
        eeprom_.Drive((config_ & kChipSelect) != 0, (pins_ & kClock) != 0, (pins_ & kDataIn) != 0);
}

void LabKeypad::OnBridgeWrite(int reg, uint8_t value) {
    if (!active_) return;
    switch (reg) {
    case kPins: pins_ = value; break;
    case kEnables: enables_ = value; return;
    case kConfig: config_ = value; break;
    default: return;
    }
    DriveEeprom();
}

void LabKeypad::PowerOn() {
    // Keys still held stay held; the scan of a tap starts again.
    pins_ = 0;
    enables_ = 0;
    config_ = 0;
    gap_ = false;
    eeprom_.Reset();
}

void LabKeypad::DriveInputs(int reg, uint8_t latch, uint8_t& mask, uint8_t& levels) {
    if (!active_) return;
    if (reg == kColumnRegister) {
        mask = kNoKey;
        levels = Columns();
    } else if (reg == kPins) {
        mask = kClock | kDataOut;
        const bool out = hasEeprom_ ? eeprom_.DataOut() : (latch & kDataOut) != 0;
        levels = static_cast<uint8_t>((latch & kClock) | (out ? kDataOut : 0));
    }
}

void LabKeypad::OnBridgeRead(int reg, uint8_t value) {
    if (!active_ || reg != kColumnRegister) return;
    if (gap_) {
        // This read saw the tap let go; the next one goes down now.
        gap_ = false;
        return;
    }
    if (taps_.empty()) return;
    const int k = taps_.front();
    if (RowDriven(k / 4) && !(value & (1u << (k % 4)))) {
        taps_.pop_front();
        gap_ = true;
    }
}
