// The two-state switch of the USB gateways, whose state is handed to the vendor library. A second
// base class of the gateway device classes, with its own table of virtual operations (slot order).
#pragma once
#include <cstdint>

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
