// The base device object: its defaults, the shared PSTN check, line switching and release.
#include "DeviceTestSupport.h"
#include "device/KwUsbPhone.h"
#include "device/PhoneCatalogue.h"
#include "device/PhoneDevice.h"

#include <memory>

namespace {

// Counts its destruction and watches the line-mode hook.
class ProbePhone : public KwUsbPhone {
  public:
    ProbePhone(int* destroyed) : KwUsbPhone(0), destroyed_(destroyed) {}
    ~ProbePhone() override { ++*destroyed_; }
    int lineSeen = -1;
    bool lockHeldInHook = false;

  protected:
    void OnLineMode(int line) override {
        lineSeen = line;
        lockHeldInHook = DeviceLockHeld();
    }

  private:
    int* destroyed_;
};

} // namespace

TEST_F(LabDeviceTest, MissingFeaturesGiveDefaultsAndTouchNothing) {
    PhoneDevice bare;
    KwUsbPhone usb(0); // has a SLIC, but no relay, EEPROM, panel or PCI extras
    char id[16] = "unchanged";
    uint16_t word = 0x1234;
    for (PhoneDevice* phone : {&bare, static_cast<PhoneDevice*>(&usb)}) {
        EXPECT_EQ(0, phone->SetRelay(1));
        EXPECT_EQ(0, phone->HasRinger());
        EXPECT_EQ(0, phone->HasRelay());
        EXPECT_EQ(0, phone->ReadEeprom(3, &word));
        EXPECT_EQ(0, phone->WriteEeprom(3, 0xBEEF));
        EXPECT_EQ(kKeyNone, phone->TranslateKey(5));
        EXPECT_EQ(0, phone->VendorCall48(1));
        EXPECT_EQ(0, phone->VendorCall49());
        EXPECT_EQ(0, phone->VendorCall50(1));
        EXPECT_EQ(0, phone->GetHardwareId(id, sizeof id));
    }
    EXPECT_EQ(1, bare.Initialize());
    EXPECT_EQ(0, bare.SetRinging(1));
    EXPECT_EQ(0, bare.PlayTone(0, 1));
    EXPECT_EQ(0u, bare.StartWindowTimer(1, 2, 3));
    EXPECT_EQ(0, bare.HasSlic());
    EXPECT_EQ(0, bare.NeedsPolling());
    bare.lastEvent = 5;
    EXPECT_EQ(0, bare.PollEvent());
    EXPECT_EQ(kEventNone, bare.lastEvent);
    EXPECT_EQ(kKeyNone, bare.GetEventKey());
    // Without hook detection the phone counts as lifted.
    EXPECT_EQ(1, bare.IsOffHook());

    EXPECT_EQ(0, lab.CallCount());
    EXPECT_EQ(0x1234, word);
    EXPECT_STREQ("unchanged", id);
    EXPECT_EQ(1, usb.HasSlic());
    EXPECT_EQ(1, usb.NeedsPolling());
}

TEST_F(LabDeviceTest, RelayVariantDrivesPinThree) {
    KwUsbPhoneRelay phone(0);
    EXPECT_EQ(1, phone.HasRelay());
    WatchLock();
    EXPECT_EQ(1, phone.SetRelay(1));
    EXPECT_EQ(0x08, lab.BridgeRegister(18) & 0x08);
    EXPECT_EQ(1, phone.SetRelay(0));
    EXPECT_EQ(0x00, lab.BridgeRegister(18) & 0x08);
    EXPECT_EQ(0x08, lab.BridgeRegister(19) & 0x08); // stays an output
    EXPECT_TRUE(AllCallsLocked());
}

TEST_F(LabDeviceTest, PstnRingingFollowsBridgeRegister15) {
    PhoneDevice phone;
    WatchLock();
    EXPECT_EQ(0, phone.IsPstnRinging());
    lab.SetPstnRinging(true);
    EXPECT_EQ(1, phone.IsPstnRinging());
    lab.SetPstnRinging(false);
    EXPECT_EQ(0, phone.IsPstnRinging());
    EXPECT_TRUE(SameOps({"b15?", "b15?", "b15?"}, TakeOps()));
    EXPECT_TRUE(AllCallsLocked());
}

TEST_F(LabDeviceTest, AnUnreadablePstnStatusIsNoRingInEveryFamily) {
    // Every product of the catalogue, whichever class serves it.
    const int32_t products[] = {kProductPci, 0x8250, 0x831C, 0x831D, 0xB210, 0xB211, 0xB212,
                                0xC290,      0xC291, 0xC31C, 0xC31D, 0xC39C, 0xF210, 0xF310};
    for (int32_t product : products) {
        SCOPED_TRACE(PhoneFamilyName(LookupPhoneProduct(product).family));
        std::unique_ptr<PhoneDevice> phone = CreatePhoneDevice(product);
        ASSERT_NE(nullptr, phone);
        lab.SetPstnRinging(true);
        ASSERT_EQ(1, phone->IsPstnRinging());
        // Quiet or ringing, a read that failed shows no ring; the next good read does.
        for (bool ringing : {false, true}) {
            lab.SetPstnRinging(ringing);
            lab.FailReads(LabTarget::Bridge, 15, 1);
            EXPECT_EQ(0, phone->IsPstnRinging());
        }
        EXPECT_EQ(1, phone->IsPstnRinging());
        // A library that refuses bridge requests altogether (the PCI card's) never rings.
        lab.FailNext(VC_REGISTER_REQUEST, 3);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(0, phone->IsPstnRinging());
        lab.ClearFailures();
    }
}

TEST_F(LabDeviceTest, SetLineModeSendsCode25UnderTheLock) {
    int destroyed = 0;
    ProbePhone phone(&destroyed);
    PhoneDevice bare;
    WatchLock();
    for (int line : {kLinePstn, kLineComputer}) {
        EXPECT_NE(0, bare.SetLineMode(line));
        EXPECT_EQ(line, lab.SelectedLine());
        phone.SetLineMode(line);
        EXPECT_EQ(line, phone.lineSeen);
        EXPECT_TRUE(phone.lockHeldInHook);
    }
    EXPECT_TRUE(SameOps({"c25(0)", "c25(0)", "c25(1)", "c25(1)"}, TakeOps()));
    EXPECT_TRUE(AllCallsLocked());
    lab.FailNext(25, 1);
    EXPECT_EQ(0, bare.SetLineMode(kLineComputer)); // the library's result
}

TEST_F(LabDeviceTest, DeletingThroughTheBaseReleasesTheWholeObject) {
    int destroyed = 0;
    std::unique_ptr<PhoneDevice> phone = std::make_unique<ProbePhone>(&destroyed);
    phone.reset();
    EXPECT_EQ(1, destroyed);
    EXPECT_EQ(0, lab.CallCount()); // construction and destruction touch no hardware
}

TEST_F(LabDeviceTest, NoFamilySetsAWindowTimer) {
    KwUsbPhone phone(0);
    PhoneDevice bare;
    EXPECT_EQ(0u, phone.StartWindowTimer(0x10, 4, 250));
    EXPECT_EQ(0u, bare.StartWindowTimer(0x10, 4, 250));
    EXPECT_EQ(0, lab.CallCount()); // and asks nothing of the library
}
