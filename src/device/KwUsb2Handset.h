// The second-generation USB handsets: a handset with a front panel (display, beeper, settings
// memory). Neither is polled: call control only opens them, rings the full one and releases them.
#pragma once
#include "device/HandsetPanel.h"
#include "device/PhoneDevice.h"

// Raw key numbers of the handset keypad (low 16 bits of TranslateKey's argument) to key codes;
// 0 for any other number.
PhoneKey Usb2HandsetKeyCode(unsigned rawKey);

// The reduced handset: kept open, nothing else.
class KwUsb2HandsetBasic : public PhoneDevice, public HandsetPanel {
  public:
    KwUsb2HandsetBasic() = default;
};

class KwUsb2Handset : public PhoneDevice, public HandsetPanel {
  public:
    KwUsb2Handset() = default;
    // Blanks the display. Runs without deviceLock, from whichever thread releases the device.
    ~KwUsb2Handset() override;

    int Initialize() override;
    int HasRinger() override;
    int SetRinging(int on) override; // the panel's beeper
    PhoneKey TranslateKey(unsigned rawKey) override;
    bool ShowsCallerNumber() override; // when the display answered its probe
    // The last kPanelDigits digits, from the left; typing starts afresh afterwards.
    int ShowCallerNumber(const char* digits) override;
};
