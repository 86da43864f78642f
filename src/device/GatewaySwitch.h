// The two-state switch of the USB gateways, whose state is handed to the vendor library. A second
// base class of the gateway device classes, with its own table of virtual operations (slot order).
#pragma once
#include <cstdint>

class PhoneDevice;

class GatewaySwitch {
  public:
    GatewaySwitch() = default;
    GatewaySwitch(const GatewaySwitch&) = delete;
    GatewaySwitch& operator=(const GatewaySwitch&) = delete;

    virtual ~GatewaySwitch();         // 0
    virtual int SetState(int on);     // 1: remembers the state, tells the library; its result
    virtual int GetState();           // 2
    virtual int SetOption(int value); // 3: library code 21

    int32_t state = 0;
};

// Whether the phone's pin kPinLineInUse is the PSTN line-use detector. Only the gateways have one;
// on the other adapters the pin is an output of ours (the USB phones power the line with it), so
// what it reads says nothing about the PSTN line.
bool HasLineUseDetector(PhoneDevice& phone);
