#include "LabBridge.h"

#include <cstring>

void LabBridge::Reset() {
    std::memset(latch_, 0, sizeof latch_);
    std::memset(inputMask_, 0, sizeof inputMask_);
    std::memset(inputLevels_, 0, sizeof inputLevels_);
}

uint8_t LabBridge::Read(int reg) const {
    if (!Valid(reg)) return 0;
    return static_cast<uint8_t>((latch_[reg] & ~inputMask_[reg]) |
                                (inputLevels_[reg] & inputMask_[reg]));
}

void LabBridge::Write(int reg, uint8_t value) {
    if (Valid(reg)) latch_[reg] = value;
}

uint8_t LabBridge::Latch(int reg) const {
    return Valid(reg) ? latch_[reg] : 0;
}

void LabBridge::SetInputs(int reg, uint8_t mask, uint8_t levels) {
    if (!Valid(reg)) return;
    inputMask_[reg] = mask;
    inputLevels_[reg] = static_cast<uint8_t>(levels & mask);
}
