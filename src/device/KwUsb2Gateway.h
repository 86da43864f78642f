// The second-generation USB gateways: an analogue-telephone adapter that also passes a PSTN line
// through, the telephone switched between the line and the computer. The reduced class is only
// reset and has its switch set at start.
#pragma once
#include "device/GatewaySwitch.h"
#include "device/KwUsb2Phone.h"
#include "device/PhoneDevice.h"

constexpr uint8_t kPinGatewaySwitch = 0x20;

class KwUsb2GatewayBasic : public PhoneDevice, public GatewaySwitch {
  public:
    // noSwitchPin 0: the switch also drives bridge pin 0x20.
    explicit KwUsb2GatewayBasic(int noSwitchPin);

    int Initialize() override;
    int SetState(int on) override;

    const int32_t noSwitchPin;
};

class KwUsb2Gateway : public KwUsb2Phone, public GatewaySwitch {
  public:
    KwUsb2Gateway();

    int Initialize() override; // also re-applies the switch state and the last line mode
    int PollEvent() override;

    int32_t lineMode = kLineComputer; // the last value given to SetLineMode
    uint8_t hybridSetting = 0;        // SLIC register 10 as last written

  protected:
    void OnLineMode(int line) override;
};
