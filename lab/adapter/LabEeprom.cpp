#include "LabEeprom.h"

void LabEeprom::Reset() {
    select_ = clock_ = false;
    writeEnabled_ = false;
    phase_ = Phase::Idle;
    bitCount_ = 0;
    command_ = 0;
    address_ = 0;
    op_ = 0;
    shift_ = 0;
    dataBits_ = 0;
    out_ = true;
    driving_ = false;
    pending_ = false;
    busyLeft_ = 0;
    statusArmed_ = false;
    frameBits_.clear();
}

void LabEeprom::Erase() {
    for (uint16_t& w : words_)
        w = 0xFFFF;
}

uint16_t LabEeprom::Word(int address) const {
    return words_[address & (kWords - 1)];
}

void LabEeprom::SetWord(int address, uint16_t value) {
    words_[address & (kWords - 1)] = value;
}

bool LabEeprom::DataOut() const {
    return driving_ ? out_ : idleLevel_;
}

void LabEeprom::Drive(bool select, bool clock, bool dataIn) {
    if (select && !select_) {
        frameBits_.clear();
        bitCount_ = 0;
        command_ = 0;
        if (statusArmed_) {
            phase_ = Phase::Status;
            driving_ = true;
            out_ = busyLeft_ == 0;
        } else {
            phase_ = Phase::Idle;
            driving_ = false;
        }
    } else if (!select && select_) {
        OnSelectFall();
    }
    if (select && clock && !clock_) OnRisingEdge(dataIn);
    select_ = select;
    clock_ = clock;
}

void LabEeprom::OnRisingEdge(bool dataIn) {
    const int d = dataIn ? 1 : 0;
    frameBits_.push_back(d);
    switch (phase_) {
    case Phase::Status:
        if (busyLeft_ > 0) {
            out_ = --busyLeft_ == 0;
            break;
        }
        if (!d) break;
        // A start bit ends the status display.
        statusArmed_ = false;
        driving_ = false;
        phase_ = Phase::Command;
        bitCount_ = 0;
        command_ = 0;
        break;
    case Phase::Idle:
        // Leading zeros are ignored; the first one is the start bit.
        if (!d) break;
        phase_ = Phase::Command;
        bitCount_ = 0;
        command_ = 0;
        break;
    case Phase::Command:
        command_ = (command_ << 1) | static_cast<unsigned>(d);
        if (++bitCount_ == 8) {
            op_ = static_cast<int>(command_ >> 6) & 3;
            address_ = static_cast<int>(command_ & 0x3F);
            Decode();
        }
        break;
    case Phase::ReadOut:
        out_ = (shift_ & 0x8000) != 0;
        shift_ = static_cast<uint16_t>(shift_ << 1);
        if (++dataBits_ == 16) {
            // Sequential read: the next word follows without a new command.
            address_ = (address_ + 1) & (kWords - 1);
            shift_ = words_[address_];
            dataBits_ = 0;
        }
        break;
    case Phase::WriteData:
        shift_ = static_cast<uint16_t>((shift_ << 1) | d);
        if (++dataBits_ == 16) {
            pendingCommand_.data = shift_;
            pending_ = true;
            phase_ = Phase::Wait;
        }
        break;
    case Phase::Wait: break;
    }
}

void LabEeprom::Decode() {
    LabEepromCommand cmd{LabEepromOp::Read};
    cmd.address = address_;
    phase_ = Phase::Wait;
    switch (op_) {
    case 2: // READ
        commands_.push_back(cmd);
        phase_ = Phase::ReadOut;
        driving_ = true;
        out_ = false; // the dummy zero
        shift_ = words_[address_];
        dataBits_ = 0;
        return;
    case 1: // WRITE
        pendingCommand_ = cmd;
        pendingCommand_.op = LabEepromOp::Write;
        phase_ = Phase::WriteData;
        shift_ = 0;
        dataBits_ = 0;
        return;
    case 3: // ERASE
        pendingCommand_ = cmd;
        pendingCommand_.op = LabEepromOp::Erase;
        pending_ = true;
        return;
    default: break;
    }
    cmd.address = 0;
    switch (address_ >> 4) {
    case 3:
        writeEnabled_ = true;
        cmd.op = LabEepromOp::WriteEnable;
        commands_.push_back(cmd);
        break;
    case 0:
        writeEnabled_ = false;
        cmd.op = LabEepromOp::WriteDisable;
        commands_.push_back(cmd);
        break;
    case 2:
        pendingCommand_ = cmd;
        pendingCommand_.op = LabEepromOp::EraseAll;
        pending_ = true;
        break;
    default:
        pendingCommand_ = cmd;
        pendingCommand_.op = LabEepromOp::WriteAll;
        phase_ = Phase::WriteData;
        shift_ = 0;
        dataBits_ = 0;
        break;
    }
}

void LabEeprom::OnSelectFall() {
    if (pending_) {
        LabEepromCommand cmd = pendingCommand_;
        cmd.refused = !writeEnabled_;
        if (!cmd.refused) {
            switch (cmd.op) {
            case LabEepromOp::Write: words_[cmd.address] = cmd.data; break;
            case LabEepromOp::Erase: words_[cmd.address] = 0xFFFF; break;
            case LabEepromOp::EraseAll:
                for (uint16_t& w : words_)
                    w = 0xFFFF;
                break;
            case LabEepromOp::WriteAll:
                for (uint16_t& w : words_)
                    w = cmd.data;
                break;
            default: break;
            }
        }
        commands_.push_back(cmd);
        pending_ = false;
        statusArmed_ = true;
        busyLeft_ = cmd.refused ? 0 : busyClocks_;
    }
    phase_ = Phase::Idle;
    driving_ = false;
}
