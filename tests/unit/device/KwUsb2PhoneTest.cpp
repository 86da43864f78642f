// The second-generation phone and gateways against the lab: the key report that follows every
// event, the gateway's own poll, its switch and the line it re-applies.
#include "DeviceTestSupport.h"
#include "device/KwUsb2Gateway.h"
#include "device/KwUsb2Phone.h"
#include "device/PhoneCatalogue.h"

#include <functional>
#include <memory>

namespace {

class Usb2PhoneTest : public LabDeviceTest {
  protected:
    void SetUp() override {
        LabDeviceTest::SetUp();
        lab.SetProductId(0xC31C);
    }
    template <class T> std::unique_ptr<T> Ready(std::unique_ptr<T> phone) {
        phone->Initialize();
        lab.ClearCalls();
        return phone;
    }
};

struct ReportCase {
    const char* name;
    std::function<void(LabAdapter&)> stimulus;
    PhoneKey key;
    int report; // -1: nothing reported
};

const ReportCase kReportCases[] = {
    {"receiver lifted", [](LabAdapter& l) { l.LiftReceiver(); }, kKeyOffHook, 0x8000},
    {"receiver put down", [](LabAdapter& l) { l.ReplaceReceiver(); }, kKeyOnHook, 0x0000},
    {"digit 0", [](LabAdapter& l) { l.PressDtmf('0'); }, '0', 1},
    {"digit 9", [](LabAdapter& l) { l.PressDtmf('9'); }, '9', 10},
    {"star", [](LabAdapter& l) { l.PressDtmf('*'); }, kKeyStar, 11},
    {"hash", [](LabAdapter& l) { l.PressDtmf('#'); }, kKeyHash, 12},
    {"code 13", [](LabAdapter& l) { l.PressDtmf('A'); }, kKeyNone, -1},
    {"code 14", [](LabAdapter& l) { l.PressDtmf('B'); }, kKeyNone, -1},
    {"code 15", [](LabAdapter& l) { l.PressDtmf('C'); }, kKeyNone, -1},
};

// Runs every case on a phone of the given product: the event, its key and its report.
void CheckReports(LabAdapter& lab, PhoneDevice& phone) {
    for (const ReportCase& c : kReportCases) {
        SCOPED_TRACE(c.name);
        c.stimulus(lab);
        ASSERT_EQ(1, phone.PollEvent());
        const size_t before = lab.Panel().Reports().size();
        lab.ClearCalls();
        EXPECT_EQ(c.key, phone.GetEventKey());
        EXPECT_EQ(0, lab.Tone().on ? 1 : 0);
        const std::vector<int>& reports = lab.Panel().Reports();
        if (c.report < 0) {
            EXPECT_EQ(before, reports.size());
            for (const LabRegWrite& w : lab.BridgeWrites())
                EXPECT_TRUE(w.reg < 12 || w.reg > 14) << w.reg;
        } else {
            ASSERT_EQ(before + 1, reports.size());
            EXPECT_EQ(c.report, reports.back());
        }
    }
}

TEST_F(Usb2PhoneTest, EveryKeyAndHookEventIsReported) {
    auto phone = Ready(std::make_unique<KwUsb2Phone>(0));
    WatchLock();
    CheckReports(lab, *phone);
    EXPECT_TRUE(AllCallsLocked());
}

TEST_F(Usb2PhoneTest, ReportStrobeLeavesOtherBitsOfRegister14) {
    auto phone = Ready(std::make_unique<KwUsb2Phone>(0));
    DevWriteReg(14, 0x81);
    lab.LiftReceiver();
    phone->PollEvent();
    lab.ClearCalls();
    phone->GetEventKey();
    const std::vector<std::string> ops = TakeOps();
    const std::vector<std::string> tail(ops.end() - 6, ops.end());
    EXPECT_TRUE(SameOps({"b12=00", "b13=80", "b14?", "b14=99", "b14?", "b14=91"}, tail));
}

TEST_F(Usb2PhoneTest, BringUpIsTheUsbPhonesAndLeavesThePanelAlone) {
    KwUsb2Phone second(1);
    second.Initialize();
    const std::vector<std::string> secondOps = TakeOps();
    for (const std::string& op : secondOps)
        EXPECT_NE(0u, op.rfind("b10", 0)) << op;

    LabAdapter fresh;
    SetCurrentLabAdapter(&fresh);
    KwUsbPhone first(1);
    first.Initialize();
    EXPECT_TRUE(SameOps(Ops(fresh.Calls()), secondOps));
    SetCurrentLabAdapter(&lab);
}

TEST_F(Usb2PhoneTest, RelayVariantIsSetUpAndDrivesItsRelay) {
    std::unique_ptr<PhoneDevice> phone = CreatePhoneDevice(0xC31D);
    auto* relay = dynamic_cast<KwUsb2PhoneRelay*>(phone.get());
    ASSERT_NE(nullptr, relay);
    EXPECT_EQ(0, relay->pcmMode);
    EXPECT_EQ(1, phone->Initialize());
    EXPECT_EQ(0x11, lab.SlicDirect(64)); // the line chip is up
    EXPECT_EQ(1, phone->HasRelay());
    phone->SetRelay(0);
    EXPECT_EQ(0, lab.BridgeRegister(18) & 0x08);
    phone->SetRelay(1);
    EXPECT_EQ(0x08, lab.BridgeRegister(18) & 0x08);
    CheckReports(lab, *phone);
}

TEST_F(Usb2PhoneTest, CatalogueMakesEachClassWithItsArgument) {
    const struct {
        int32_t id;
        int pcmMode;
    } phones[] = {{0xC31C, 0}, {0xC31E, 0}, {0xC25C, 1}, {0xC25F, 1}, {0xC39C, 1}, {0xF39C, 1}};
    for (const auto& c : phones) {
        std::unique_ptr<PhoneDevice> phone = CreatePhoneDevice(c.id);
        auto* usb2 = dynamic_cast<KwUsb2Phone*>(phone.get());
        ASSERT_NE(nullptr, usb2) << std::hex << c.id;
        EXPECT_EQ(c.pcmMode, usb2->pcmMode) << std::hex << c.id;
        EXPECT_EQ(c.id == 0xC39C || c.id == 0xF39C,
                  dynamic_cast<KwUsb2Gateway*>(phone.get()) != nullptr);
    }
    for (int32_t id : {0xC290, 0xC291}) {
        std::unique_ptr<PhoneDevice> phone = CreatePhoneDevice(id);
        auto* basic = dynamic_cast<KwUsb2GatewayBasic*>(phone.get());
        ASSERT_NE(nullptr, basic);
        EXPECT_EQ(id == 0xC290 ? 1 : 0, basic->noSwitchPin);
    }
}

TEST_F(Usb2PhoneTest, ReleasedThroughEitherBase) {
    // Run under ASan, a partial release shows as a leak or a bad free.
    HandsetPanel* panel = new KwUsb2PhoneRelay();
    delete panel;
    GatewaySwitch* gatewaySwitch = new KwUsb2Gateway();
    delete gatewaySwitch;
    gatewaySwitch = new KwUsb2GatewayBasic(0);
    delete gatewaySwitch;
    HandsetPanel* gatewayPanel = new KwUsb2Gateway();
    delete gatewayPanel;
    EXPECT_EQ(0, lab.CallCount());
}

// --- the gateways ---

TEST_F(Usb2PhoneTest, BasicGatewayWithoutSwitchPin) {
    KwUsb2GatewayBasic gateway(1);
    WatchLock();
    EXPECT_EQ(1, gateway.Initialize());
    EXPECT_TRUE(AllCallsLocked());
    EXPECT_TRUE(SameOps({"b0=00", "b0=01", "c22(0)"}, TakeOps()));
    EXPECT_EQ(0, lab.SwitchState());
    gateway.SetState(1);
    EXPECT_TRUE(SameOps({"c23(0)"}, TakeOps()));
    EXPECT_EQ(1, gateway.state);
    EXPECT_EQ(0, gateway.NeedsPolling());
}

TEST_F(Usb2PhoneTest, BasicGatewayDrivesTheSwitchPin) {
    KwUsb2GatewayBasic gateway(0);
    gateway.Initialize();
    EXPECT_TRUE(
        SameOps({"b0=00", "b0=01", "b18?", "b19?", "b18=80", "b19=20", "c22(0)"}, TakeOps()));
    GatewaySwitch& asSwitch = gateway;
    EXPECT_EQ(1, asSwitch.SetState(1));
    EXPECT_EQ(0x20, lab.BridgeRegister(18) & 0x20);
    EXPECT_EQ(1, lab.SwitchState());
    asSwitch.SetState(0);
    EXPECT_EQ(0, lab.BridgeRegister(18) & 0x20);
    EXPECT_EQ(0, lab.SwitchState());
}

TEST_F(Usb2PhoneTest, GatewayBringUpAppliesSwitchAndLine) {
    KwUsb2Gateway gateway;
    EXPECT_EQ(1, gateway.pcmMode);
    EXPECT_EQ(1, gateway.lineMode);
    WatchLock();
    EXPECT_EQ(1, gateway.Initialize());
    EXPECT_TRUE(AllCallsLocked());
    const std::vector<std::string> ops = TakeOps();
    const std::vector<std::string> head(ops.begin(), ops.begin() + 9);
    EXPECT_TRUE(SameOps(
        {"b18=08", "b19=08", "b15=00", "c24(0)", "c22(0)", "c25(1)", "b0=40", "b41=20", "b0=41"},
        head));
    EXPECT_EQ(1, lab.SelectedLine());
    EXPECT_EQ(0x28, lab.SlicDirect(1)); // PCM mode 1
    EXPECT_EQ(3, lab.SlicDirect(22));
    EXPECT_EQ(5, lab.SlicDirect(10) & 0x07);
    EXPECT_EQ(lab.SlicDirect(10), gateway.hybridSetting);
    EXPECT_EQ(0x08, lab.BridgeRegister(18) & 0x08);
}

TEST_F(Usb2PhoneTest, GatewayReappliesTheLastLineMode) {
    auto gateway = Ready(std::make_unique<KwUsb2Gateway>());
    EXPECT_EQ(1, gateway->SetLineMode(0));
    EXPECT_EQ(0, gateway->lineMode);
    lab.ClearCalls();
    gateway->Initialize(); // as after a power resume
    EXPECT_EQ(1u, lab.CallsOf(25).size());
    EXPECT_EQ(0, lab.CallsOf(25)[0].param);
    EXPECT_EQ(0, lab.SelectedLine());
    // Other classes keep nothing.
    KwUsb2Phone phone(0);
    phone.SetLineMode(0);
    EXPECT_EQ(0, lab.SelectedLine());
}

TEST_F(Usb2PhoneTest, GatewayPollLeavesRingingToCallControl) {
    auto gateway = Ready(std::make_unique<KwUsb2Gateway>());
    gateway->SetRinging(1);
    lab.LiftReceiver();
    lab.ClearCalls();
    const uint64_t before = clock.NowMs();
    EXPECT_EQ(1, gateway->PollEvent());
    EXPECT_EQ(kEventOffHook, gateway->lastEvent);
    EXPECT_EQ(0x44, lab.SlicDirect(64)); // still ringing
    EXPECT_EQ(before, clock.NowMs());    // no settle wait
    // Flags cleared before the DTMF register is read.
    gateway->SetRinging(0);
    lab.PressDtmf('0');
    lab.ClearCalls();
    EXPECT_EQ(1, gateway->PollEvent());
    EXPECT_EQ(0, gateway->lastEvent);
    EXPECT_TRUE(SameOps({"b18?", "d19?", "d20?", "d19=00", "d20=01", "d24?"}, TakeOps()));
    EXPECT_EQ(0, gateway->PollEvent());
    EXPECT_EQ(kEventNone, gateway->lastEvent);
}

TEST_F(Usb2PhoneTest, GatewayPollFailures) {
    auto gateway = Ready(std::make_unique<KwUsb2Gateway>());
    lab.PressDtmf('3');
    lab.FailReads(LabTarget::Bridge, 18, 1);
    EXPECT_EQ(0, gateway->PollEvent());
    lab.FailNext(4, 2); // both flag writes: the digit waits in its flag
    EXPECT_EQ(0, gateway->PollEvent());
    EXPECT_EQ(kEventNone, gateway->lastEvent);
    lab.FailNext(4, 1); // only the hook flags' write: the digit's own flag is cleared
    EXPECT_EQ(1, gateway->PollEvent());
    EXPECT_EQ(3, gateway->lastEvent);
    EXPECT_EQ(0, gateway->PollEvent());
    // The gateway reports its events like the phone.
    CheckReports(lab, *gateway);
}

} // namespace
