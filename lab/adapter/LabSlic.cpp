#include "LabSlic.h"

#include <cmath>
#include <cstring>
#include <utility>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Battery readings while the converter ramps up, then the settled value.
constexpr uint8_t kBatteryRamp[] = {0x40, 0x80, 0xA0, 0xB0};
constexpr uint8_t kBatterySettled = 0xC8;
constexpr uint8_t kBatteryLeaked = 0x02;

} // namespace

void LabSlic::Configure(const LabSlicConfig& config) {
    config_ = config;
}

void LabSlic::Reset() {
    const uint8_t lineFeed = direct_[64];
    std::memset(direct_, 0, sizeof direct_);
    direct_[64] = lineFeed; // so that a reset from another state is recorded
    std::memset(indirect_, 0, sizeof indirect_);
    direct_[8] = 2;
    direct_[14] = 0x10;
    SetLineFeed(kLineFeedOpen);
    battery_ = 0;
    batteryReads_ = 0;
    settleReadsLeft_ = 0;
    calibrationReadsLeft_ = 0;
    ringStart_ = now_;
}

uint8_t LabSlic::PeekDirect(int reg) const {
    if (!Valid(reg)) return 0;
    switch (reg) {
    case 0: return static_cast<uint8_t>((config_.revision & 0x0F) | ((config_.variant & 3) << 4));
    case 68: return offHook_ ? 1 : 0;
    case 82: return battery_;
    case 88: return direct_[98] <= config_.offsetStep88 ? 0 : direct_[98] - config_.offsetStep88;
    case 89: return direct_[99] <= config_.offsetStep89 ? 0 : direct_[99] - config_.offsetStep89;
    default: return direct_[reg];
    }
}

uint8_t LabSlic::ReadDirect(int reg) {
    switch (reg) {
    case 82:
        if (ConverterOn()) {
            if (batteryReads_ < config_.batteryRiseReads) {
                const int n = sizeof kBatteryRamp;
                battery_ = kBatteryRamp[batteryReads_ < n ? batteryReads_ : n - 1];
                ++batteryReads_;
            } else {
                battery_ = kBatterySettled;
            }
        } else if (config_.leaks) {
            battery_ = kBatteryLeaked;
        }
        return battery_;
    case 93:
        if ((direct_[93] & 0x80) && config_.converterSettleReads >= 0) {
            if (settleReadsLeft_ > 0)
                --settleReadsLeft_;
            else
                direct_[93] &= 0x7F;
        }
        return direct_[93];
    case 96:
        if (direct_[96] != 0) {
            if (calibrationReadsLeft_ > 0)
                --calibrationReadsLeft_;
            else
                direct_[96] = 0;
        }
        return direct_[96];
    default: return PeekDirect(reg);
    }
}

void LabSlic::WriteDirect(int reg, uint8_t value) {
    if (!Valid(reg)) return;
    switch (reg) {
    case 0:
    case 68:
    case 82:
    case 88:
    case 89: return; // read-only
    case 18:
    case 19:
    case 20: direct_[reg] = static_cast<uint8_t>(direct_[reg] & ~value); return;
    case 14:
        if (!ConverterOn() && (value & 0x10) == 0) batteryReads_ = 0; // converter starts
        direct_[14] = value;
        return;
    case 93:
        direct_[93] = value;
        // The first read after the write counts as one of the settle reads.
        if (value & 0x80) settleReadsLeft_ = config_.converterSettleReads;
        return;
    case 96:
        direct_[96] = value;
        calibrationReadsLeft_ = value ? config_.calibrationReads : 0;
        return;
    case 34: {
        const uint8_t timers = kRingActiveTimer | kRingInactiveTimer;
        if (LineFeedRinging() && ((direct_[34] ^ value) & timers)) ringStart_ = now_;
        direct_[34] = value;
        return;
    }
    case 64:
        if (!LineFeedRinging() && (value & 0x0F) == (kLineFeedRinging & 0x0F)) ringStart_ = now_;
        SetLineFeed(value);
        return;
    default: direct_[reg] = value;
    }
}

void LabSlic::SetLineFeed(uint8_t value) {
    if (direct_[64] == value) return;
    direct_[64] = value;
    if (lineFeedChanges_.size() >= kLineFeedRecord) {
        lineFeedChanges_.erase(lineFeedChanges_.begin());
    }
    lineFeedChanges_.push_back({now_, value, soundMeter_ ? soundMeter_() : -1});
}

bool LabSlic::LastStretchSound(uint8_t state, long long* begin, long long* end) const {
    state &= 0x0F;
    long long next = -1;
    for (size_t i = lineFeedChanges_.size(); i-- > 0;) {
        const LabLineFeedChange& c = lineFeedChanges_[i];
        if ((c.value & 0x0F) == state) {
            *begin = c.soundBytes;
            *end = next;
            return true;
        }
        next = c.soundBytes;
    }
    return false;
}

long LabSlic::LastStretchMs(uint8_t state) const {
    state &= 0x0F;
    uint64_t end = now_;
    for (size_t i = lineFeedChanges_.size(); i-- > 0;) {
        const LabLineFeedChange& c = lineFeedChanges_[i];
        if ((c.value & 0x0F) == state) return static_cast<long>(end > c.ms ? end - c.ms : 0);
        end = c.ms;
    }
    return -1;
}

uint16_t LabSlic::ReadIndirect(int reg) const {
    return Valid(reg) ? indirect_[reg] : 0;
}

void LabSlic::WriteIndirect(int reg, uint16_t value) {
    if (Valid(reg)) indirect_[reg] = value;
}

void LabSlic::RaiseFlag(int flagReg, uint8_t bit) {
    // Flag registers 18-20 are enabled by 21-23.
    if (direct_[flagReg + 3] & bit) direct_[flagReg] |= bit;
}

void LabSlic::SetHook(bool offHook) {
    if (offHook == offHook_) return;
    offHook_ = offHook;
    RaiseFlag(19, offHook && LineFeedRinging() ? 0x01 : 0x02);
}

void LabSlic::Dtmf(int code) {
    direct_[24] = static_cast<uint8_t>(0x10 | (code & 0x0F));
    RaiseFlag(20, 0x01);
}

bool LabSlic::InterruptPending() const {
    return (direct_[18] | direct_[19] | direct_[20]) != 0;
}

bool LabSlic::BellSounding() const {
    if (!LineFeedRinging()) return false;
    const uint8_t control = direct_[34];
    if (!(control & kRingActiveTimer)) return true;
    const uint64_t active = direct_[48] | (direct_[49] << 8);
    const uint64_t inactive = direct_[50] | (direct_[51] << 8);
    const uint64_t ticks = (now_ >= ringStart_ ? now_ - ringStart_ : 0) * 8; // 8 kHz
    if (!(control & kRingInactiveTimer)) return ticks < active;              // one burst
    const uint64_t cycle = active + inactive;
    if (cycle == 0) return true; // timers of no length: no cadence
    return ticks % cycle < active;
}

LabTone LabSlic::Tone() const {
    LabTone t;
    t.on = ((direct_[32] | direct_[33]) & 0x04) != 0;
    t.coefficient1 = indirect_[13];
    t.coefficient2 = indirect_[16];
    t.frequency1 = DecodeFrequency(t.coefficient1);
    t.frequency2 = DecodeFrequency(t.coefficient2);
    auto ms = [this](int lo) { return (direct_[lo] | (direct_[lo + 1] << 8)) / 8; };
    t.onMs1 = ms(36);
    t.offMs1 = ms(38);
    t.onMs2 = ms(40);
    t.offMs2 = ms(42);
    return t;
}

int LabSlic::DecodeFrequency(int coefficient) {
    // The coefficient is a signed 16-bit value; the program truncates toward zero, so the
    // nearest Hz recovers its frequency.
    double c = static_cast<int16_t>(static_cast<uint16_t>(coefficient)) / 32768.0;
    if (c > 1.0) c = 1.0;
    if (c < -1.0) c = -1.0;
    return static_cast<int>(std::lround(std::acos(c) * 8000.0 / (2.0 * kPi)));
}

int LabSlic::DtmfCode(char key) {
    if (key >= '1' && key <= '9') return key - '0';
    switch (key) {
    case '0': return 10;
    case '*': return 11;
    case '#': return 12;
    case 'A': return 13;
    case 'B': return 14;
    case 'C': return 15;
    case 'D': return 0;
    default: return -1;
    }
}
