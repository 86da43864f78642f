#include "device/GatewaySwitch.h"

#include "device/DeviceLock.h"
#include "device/KwIpApi.h"
#include "device/PhoneDevice.h"

GatewaySwitch::~GatewaySwitch() = default;

int GatewaySwitch::SetState(int on) {
    DeviceLockGuard hold; // callers hold it already; re-entrant, so this only guards strays
    state = on;
    return on ? DevSwitchOn() : DevSwitchOff();
}

int GatewaySwitch::GetState() {
    return state;
}

int GatewaySwitch::SetOption(int value) {
    DeviceLockGuard hold;
    return DevSwitchOption(value);
}

bool HasLineUseDetector(PhoneDevice& phone) {
    return dynamic_cast<GatewaySwitch*>(&phone) != nullptr;
}
