#include "LabBridge.h"

#include <cstring>

void LabBridge::Reset() {
    std::memset(latch_, 0, sizeof latch_);
    std::memset(inputMask_, 0, sizeof inputMask_);
    std::memset(inputLevels_, 0, sizeof inputLevels_);
    std::memset(external_, 0, sizeof external_);
}

uint8_t LabBridge::Read(int reg) const {
    if (!Valid(reg)) return 0;
    const uint8_t in = static_cast<uint8_t>((latch_[reg] & ~inputMask_[reg]) |
                                            (inputLevels_[reg] & inputMask_[reg]));
    if (reg != kPinLevels) return in;
    const uint8_t outputs = static_cast<uint8_t>(latch_[kPinEnables] & ~external_[reg]);
    return static_cast<uint8_t>((latch_[reg] & outputs) | (in & ~outputs));
}

void LabBridge::Write(int reg, uint8_t value) {
    if (Valid(reg)) latch_[reg] = value;
}

uint8_t LabBridge::Latch(int reg) const {
    return Valid(reg) ? latch_[reg] : 0;
}

void LabBridge::SetInputs(int reg, uint8_t mask, uint8_t levels, uint8_t external) {
    if (!Valid(reg)) return;
    inputMask_[reg] = mask;
    inputLevels_[reg] = static_cast<uint8_t>(levels & mask);
    external_[reg] = static_cast<uint8_t>(external & mask);
}
