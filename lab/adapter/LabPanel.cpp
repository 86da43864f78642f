#include "LabPanel.h"

#include <cstring>

namespace {

constexpr int kLink = 10;
constexpr int kSettings = 22;
constexpr int kDivider = 24;
constexpr int kBeeper = 26;
constexpr int kReportLo = 12;
constexpr int kReportHi = 13;
constexpr int kReportStrobe = 14;

constexpr uint8_t kSelect = 0x02, kClock = 0x08, kData = 0x20;
constexpr uint8_t kPullUps = kClock | kData;
constexpr uint8_t kStrobe = 0x08;
constexpr uint8_t kSounding = 9;
constexpr int kBeeperClock = 46875;
constexpr uint8_t kMarkSegment = 0x10;
const uint8_t kSegments[11] = {0xAF, 0xA0, 0x6D, 0x4F, 0xC6, 0xCB, 0xEB, 0x8E, 0xEF, 0xCF, 0x00};

// Display controller commands (the 9 bits after 1, 0, 0).
constexpr int kSystemOff = 0x000, kSystemOn = 0x002, kLcdOff = 0x004, kLcdOn = 0x006;

int DigitOf(uint8_t segments) {
    for (int d = 0; d <= 10; ++d)
        if (kSegments[d] == segments) return d;
    return LabPanel::kUnreadable;
}

int Bits(const std::vector<int>& bits, size_t at, int count) {
    int v = 0;
    for (int i = 0; i < count; ++i)
        v = (v << 1) | bits[at + i];
    return v;
}

const char* const kKeyNames[] = {"0", "1", "2", "3", "4", "5", "6",    "7",    "8",       "9",
                                 "*", "#", "A", "B", "C", "D", "star", "hash", "offhook", "onhook"};

} // namespace

bool LabPanel::IsPanelProduct(int id) {
    return id == 0xF210 || id == 0xF250 || id == 0xF310 || id == 0xF350;
}

bool LabPanel::IsKeyReportProduct(int id) {
    return (id >= 0xC31C && id <= 0xC31E) || (id & 0xFFFC) == 0xC25C || id == 0xC39C ||
           id == 0xF39C;
}

void LabPanel::SetProduct(int productId) {
    panel_ = IsPanelProduct(productId);
    keyReport_ = IsKeyReportProduct(productId);
}

void LabPanel::SetFitted(bool display, bool beeper, bool eeprom) {
    displayFitted_ = display;
    beeperFitted_ = beeper;
    eepromFitted_ = eeprom;
}

int LabPanel::Digit(int position) const {
    return position >= 0 && position < kDigits ? digits_[position] : kBlank;
}

int LabPanel::VisibleDigits() const {
    if (!DisplayOn()) return 0;
    int n = 0;
    for (int d : digits_)
        if (d != kBlank) ++n;
    return n;
}

bool LabPanel::Sounding() const {
    return panel_ && beeperFitted_ && beeper_ == kSounding;
}

int LabPanel::Frequency() const {
    return kBeeperClock / (divider_ + 1);
}

bool LabPanel::PressKey(const char* name) {
    if (!panel_ || !name) return false;
    for (const char* k : kKeyNames)
        if (std::strcmp(k, name) == 0) return ++keysPressed_, true;
    return false;
}

void LabPanel::OnBridgeWrite(int reg, uint8_t value) {
    if (panel_) {
        if (reg == kLink && displayFitted_) OnLink(value);
        if (reg == kDivider) divider_ = value;
        if (reg == kBeeper) {
            if (value == kSounding && beeper_ != kSounding && beeperFitted_)
                beeps_.push_back(Frequency());
            beeper_ = value;
        }
        if (reg == kSettings && eepromFitted_)
            eeprom_.Drive((value & 0x01) && (value & 0x02), (value & 0x04) != 0,
                          (value & 0x08) != 0);
    }
    if (keyReport_) {
        if (reg == kReportLo) reportLo_ = value;
        if (reg == kReportHi) reportHi_ = value;
        if (reg == kReportStrobe) {
            if ((strobe_ & kStrobe) && !(value & kStrobe))
                reports_.push_back(reportLo_ | reportHi_ << 8);
            strobe_ = value;
        }
    }
}

void LabPanel::PowerOn() {
    select_ = clock_ = false;
    frame_.clear();
    for (int& d : digits_)
        d = kBlank;
    mark_ = -1;
    systemOn_ = lcdOn_ = false;
    divider_ = 0;
    beeper_ = 0;
    eeprom_.Reset();
    reportLo_ = reportHi_ = strobe_ = 0;
}

void LabPanel::DriveInputs(int reg, uint8_t latch, uint8_t& mask, uint8_t& levels) {
    if (!panel_) return;
    if (reg == kLink) {
        mask = 0xFF;
        levels = displayFitted_ ? static_cast<uint8_t>(latch | kPullUps) : 0;
    } else if (reg == kBeeper) {
        mask = 0xFF;
        levels = beeperFitted_ ? latch : 0;
    } else if (reg == kSettings && eepromFitted_) {
        mask = 0x10;
        levels = (latch & 0x01) && eeprom_.DataOut() ? 0x10 : 0;
    }
}

void LabPanel::OnLink(uint8_t value) {
    const bool select = !(value & kSelect); // active low
    const bool clock = (value & kClock) != 0;
    if (select && !select_) {
        frame_.clear();
    } else if (!select && select_) {
        EndFrame();
    } else if (select && clock && !clock_) {
        frame_.push_back((value & kData) ? 1 : 0);
    }
    select_ = select;
    clock_ = clock;
}

// 1 0 0 + 9 command bits, or 1 0 1 + 6-bit address + 8 segment bits per digit.
void LabPanel::EndFrame() {
    // Shorter than any frame: the host probing or restoring the lines, not talking to us.
    if (frame_.size() < 12) return;
    if (frame_.size() == 12 && Bits(frame_, 0, 3) == 0x4) {
        const int command = Bits(frame_, 3, 9);
        commands_.push_back(command);
        if (command == kSystemOn) systemOn_ = true;
        if (command == kSystemOff) systemOn_ = false;
        if (command == kLcdOn) lcdOn_ = true;
        if (command == kLcdOff) lcdOn_ = false;
        return;
    }
    if (frame_.size() < 17 || (frame_.size() - 9) % 8 != 0 || Bits(frame_, 0, 3) != 0x5) {
        ++badFrames_;
        return;
    }
    const int address = Bits(frame_, 3, 6);
    if (address % 2 != 0) {
        ++badFrames_;
        return;
    }
    ++writeFrames_;
    const size_t count = (frame_.size() - 9) / 8;
    for (size_t i = 0; i < count; ++i) {
        const int position = address / 2 + static_cast<int>(i);
        if (position >= kDigits) break;
        const int segments = Bits(frame_, 9 + 8 * i, 8);
        if (segments & kMarkSegment)
            mark_ = position;
        else if (mark_ == position)
            mark_ = -1;
        digits_[position] = DigitOf(static_cast<uint8_t>(segments & ~kMarkSegment));
    }
}
