// What caller ID asks of the devices: the line chip's on-hook transmission on the analogue
// families, the number on the second-generation handset's display, "cannot" everywhere else.
#include "DeviceTestSupport.h"
#include "device/KwUsb2Handset.h"
#include "device/PhoneCatalogue.h"
#include "device/SlicRegisters.h"

#include <memory>

namespace {

class CallerIdDeviceTest : public LabDeviceTest {};

TEST_F(CallerIdDeviceTest, AnalogueFamiliesSwitchTheLineFeedUnderTheLock) {
    // The USB phone, its second generation, the gateway and the PCI card.
    for (int32_t product : {0x831C, 0xC31C, 0xF39C, kProductPci}) {
        SCOPED_TRACE(product);
        lab.SetProductId(product);
        std::unique_ptr<PhoneDevice> phone = CreatePhoneDevice(product);
        ASSERT_TRUE(phone);
        phone->Initialize();
        phone->SetRinging(0);
        lab.ClearCalls();
        lockHeld.clear();
        WatchLock();
        EXPECT_EQ(1, phone->SetOnHookTransmission(1));
        EXPECT_EQ((std::vector<std::string>{"d64=22"}), Ops(lab.Calls()));
        EXPECT_EQ(kLinefeedOnHookTransmission, lab.SlicDirect(SLIC_LINEFEED));
        EXPECT_EQ(1, phone->SetOnHookTransmission(0));
        EXPECT_EQ(kLinefeedForwardActive, lab.SlicDirect(SLIC_LINEFEED));
        EXPECT_TRUE(AllCallsLocked());
        lab.SetCallHook(nullptr);
        EXPECT_FALSE(phone->ShowsCallerNumber());
    }
}

TEST_F(CallerIdDeviceTest, FamiliesWithoutTheStateOrADisplaySayCannotAndTouchNothing) {
    // First-generation handsets, the reduced gateway, the reduced second-generation handset.
    for (int32_t product : {0xB210, 0x8250, 0xC290, 0xF310}) {
        SCOPED_TRACE(product);
        lab.SetProductId(product);
        std::unique_ptr<PhoneDevice> phone = CreatePhoneDevice(product);
        ASSERT_TRUE(phone);
        phone->Initialize();
        lab.ClearCalls();
        EXPECT_EQ(0, phone->SetOnHookTransmission(1));
        EXPECT_EQ(0, phone->ShowCallerNumber("4930123"));
        EXPECT_FALSE(phone->ShowsCallerNumber());
        EXPECT_EQ(0, lab.CallCount());
    }
}

class HandsetDisplayTest : public LabDeviceTest {
  protected:
    void SetUp() override {
        LabDeviceTest::SetUp();
        lab.SetProductId(0xF210);
    }
    std::vector<int> Shown() {
        std::vector<int> d;
        for (int i = 0; i < LabPanel::kDigits; ++i)
            d.push_back(lab.Panel().Digit(i));
        return d;
    }
};

constexpr int B = LabPanel::kBlank;

TEST_F(HandsetDisplayTest, ShowsTheLastFourteenDigitsFromTheLeftAndClears) {
    KwUsb2Handset handset;
    handset.Initialize();
    ASSERT_TRUE(handset.ShowsCallerNumber());
    const struct {
        const char* number;
        std::vector<int> shown;
    } kCases[] = {
        {"4930123", {4, 9, 3, 0, 1, 2, 3, B, B, B, B, B, B, B}},
        {"12345678901234", {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 1, 2, 3, 4}},
        {"004930123456789012", {3, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 1, 2}},
        {"", {B, B, B, B, B, B, B, B, B, B, B, B, B, B}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.number);
        lockHeld.clear();
        WatchLock();
        EXPECT_EQ(1, handset.ShowCallerNumber(c.number));
        EXPECT_TRUE(AllCallsLocked());
        lab.SetCallHook(nullptr);
        EXPECT_EQ(c.shown, Shown());
        EXPECT_TRUE(lab.Panel().DisplayOn());
    }
    // Typing afterwards starts at the left again.
    {
        DeviceLockGuard hold;
        handset.ShowCallerNumber("987");
        handset.KeyInput('5', 0);
    }
    EXPECT_EQ((std::vector<int>{5, 8, 7, B, B, B, B, B, B, B, B, B, B, B}), Shown());
}

TEST_F(HandsetDisplayTest, WithoutItsDisplayNothingIsSent) {
    lab.Panel().SetFitted(false, false, false);
    KwUsb2Handset handset;
    handset.Initialize();
    lab.ClearCalls();
    EXPECT_FALSE(handset.ShowsCallerNumber());
    EXPECT_EQ(0, handset.ShowCallerNumber("4930123"));
    EXPECT_EQ(0, lab.CallCount());
}

} // namespace
