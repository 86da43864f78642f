#include "device/KwUsb2Gateway.h"

#include "device/DeviceLock.h"
#include "device/KwIpApi.h"
#include "device/SlicRegisters.h"

namespace {

constexpr int kSlicHybrid = 10; // SLIC direct register: hybrid balance, low three bits
constexpr int kHybridGateway = 0x05;
constexpr int kHookChangeFlags = 0x03;
constexpr int kDtmfFlag = 0x01;

} // namespace

KwUsb2GatewayBasic::KwUsb2GatewayBasic(int noPin) : noSwitchPin(noPin) {}

int KwUsb2GatewayBasic::Initialize() {
    DeviceLockGuard hold;
    DevWriteReg(BRIDGE_CONFIG, 0x00); // reset the bridge port ...
    DevWriteReg(BRIDGE_CONFIG, 0x01); // ... and release it
    SetState(0);
    return 1;
}

int KwUsb2GatewayBasic::SetState(int on) {
    DeviceLockGuard hold; // re-entrant: Initialize holds it already
    state = on;
    if (noSwitchPin == 0) DevSetPins(kPinGatewaySwitch, on);
    return on ? DevSwitchOn() : DevSwitchOff();
}

// The SLIC's PCM mode is 1 on the gateway.
KwUsb2Gateway::KwUsb2Gateway() : KwUsb2Phone(1) {
    state = 0;
}

void KwUsb2Gateway::OnLineMode(int line) {
    lineMode = line;
}

int KwUsb2Gateway::Initialize() {
    DeviceLockGuard hold;
    DevWriteReg(BRIDGE_PIN_LEVEL, 0x08);
    DevWriteReg(BRIDGE_PIN_ENABLE, 0x08);
    DevWriteReg(BRIDGE_PSTN_STATUS, 0x00);
    DevCall24(); // gateway start-up
    GatewaySwitch::SetState(state);
    // After a power resume the telephone goes back to the line chosen last.
    SetLineMode(lineMode);
    DevWriteReg(BRIDGE_CONFIG, 0x40);
    DevWriteReg(BRIDGE_SERIAL_CONFIG, 0x20);
    DevWriteReg(BRIDGE_CONFIG, 0x41);
    InitializeSlic(pcmMode); // a partial bring-up leaves what works usable
    SlicWriteSettled(SLIC_IRQ_ENABLE2, 0x03);
    hybridSetting = static_cast<uint8_t>((SlicReadDirect(kSlicHybrid) & ~0x07) | kHybridGateway);
    SlicWriteDirect(kSlicHybrid, hybridSetting);
    DevSetPins(kPinRelay, 0);
    DevSetPins(kPinRelay, 1);
    return 1;
}

// Unlike the USB phone's poll it does not look for a reset SLIC and leaves the ringing to call
// control.
int KwUsb2Gateway::PollEvent() {
    DeviceLockGuard hold;
    lastEvent = kEventNone;
    if (unread != Unread::None) return ReadEvent(unread);
    uint8_t pins = 0;
    if (!DevReadRegBlock(BRIDGE_PIN_LEVEL, &pins, 1) || (pins & kPinSlicIrq)) return 0;

    // Unreadable flags are no event; left uncleared, they are seen by the next poll.
    int status2 = 0;
    int status3 = 0;
    if (!SlicReadDirect(SLIC_IRQ_STATUS2, &status2)) return 0;
    if (!SlicReadDirect(SLIC_IRQ_STATUS3, &status3)) return 0;
    // An event counts once its own flag is cleared; a flag that stays set is found again.
    const int cleared2 = SlicWriteDirect(SLIC_IRQ_STATUS2, status2);
    const int cleared3 = SlicWriteDirect(SLIC_IRQ_STATUS3, status3);
    if (status2 & kHookChangeFlags) return cleared2 ? ReadEvent(Unread::Hook) : 0;
    if (status3 & kDtmfFlag) return cleared3 ? ReadEvent(Unread::Digit) : 0;
    return 0;
}
