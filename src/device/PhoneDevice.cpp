#include "device/PhoneDevice.h"

#include "device/DeviceLock.h"
#include "device/KwIpApi.h"
#include "device/SlicRegisters.h"

PhoneDevice::~PhoneDevice() = default;

int PhoneDevice::Initialize() {
    return 1;
}

int PhoneDevice::PollEvent() {
    lastEvent = kEventNone;
    return 0;
}

PhoneKey PhoneDevice::GetEventKey() {
    return kKeyNone;
}
int PhoneDevice::SetRelay(int) {
    return 0;
}
int PhoneDevice::HasRinger() {
    return 0;
}
int PhoneDevice::HasRelay() {
    return 0;
}
int PhoneDevice::SetRinging(int) {
    return 0;
}
// Without hook detection the phone counts as lifted from the start.
int PhoneDevice::IsOffHook() {
    return 1;
}
int PhoneDevice::HasSlic() {
    return 0;
}
int PhoneDevice::ReadEeprom(int, uint16_t*) {
    return 0;
}
int PhoneDevice::WriteEeprom(int, uint16_t) {
    return 0;
}
int PhoneDevice::PlayTone(int, int) {
    return 0;
}
uintptr_t PhoneDevice::StartWindowTimer(uintptr_t, unsigned, unsigned) {
    return 0;
}
int PhoneDevice::NeedsPolling() {
    return 0;
}
PhoneKey PhoneDevice::TranslateKey(unsigned) {
    return kKeyNone;
}

int PhoneDevice::IsPstnRinging() {
    DeviceLockGuard hold;
    uint8_t status = 0;
    // Only a value really read shows a ring: the bit is active low, so a failed read (a glitch,
    // an unplugged adapter, a card whose library refuses bridge requests) would look like one.
    if (!DevReadReg(BRIDGE_PSTN_STATUS, &status)) return 0;
    return (status & kPstnNotRinging) ? 0 : 1;
}

int PhoneDevice::VendorCall48(int) {
    return 0;
}
int PhoneDevice::VendorCall49() {
    return 0;
}
int PhoneDevice::VendorCall50(int) {
    return 0;
}
int PhoneDevice::GetHardwareId(char*, int) {
    return 0;
}

int PhoneDevice::SetLineMode(int line) {
    DeviceLockGuard hold;
    OnLineMode(line);
    return DevSelectLine(line);
}

void PhoneDevice::OnLineMode(int) {}

bool PhoneDevice::KeepsEventsUntilPolled() {
    return false;
}

int PhoneDevice::SetOnHookTransmission(int) {
    return 0;
}

bool PhoneDevice::ShowsCallerNumber() {
    return false;
}

int PhoneDevice::ShowCallerNumber(const char*) {
    return 0;
}
