// The second-generation analogue-telephone adapter: the USB phone with its line chip, which is
// also told every key and hook event it reports (the key report, bridge registers 12 to 14).
#pragma once
#include "device/HandsetPanel.h"
#include "device/KwUsbPhone.h"

// Bridge registers of the key report.
enum KeyReportRegister : int {
    KEY_REPORT_LO = 12,
    KEY_REPORT_HI = 13,
    KEY_REPORT_STROBE = 14, // bits 0x18 set, then 0x08 cleared, hand the value over
};
constexpr uint16_t kReportOnHook = 0x0000;
constexpr uint16_t kReportOffHook = 0x8000;

class KwUsb2Phone : public KwUsbPhone, public HandsetPanel {
  public:
    explicit KwUsb2Phone(int pcmMode);

    int Initialize() override;       // as KwUsbPhone; the panel is not probed
    PhoneKey GetEventKey() override; // KwUsbPhone's translation plus the key report
};

class KwUsb2PhoneRelay : public KwUsb2Phone {
  public:
    KwUsb2PhoneRelay();

    int Initialize() override;
    int SetRelay(int on) override;
    int HasRelay() override;
};
