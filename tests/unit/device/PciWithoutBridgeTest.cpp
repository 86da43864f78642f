// The PCI card has no USB bridge chip, and a library may refuse every bridge register request
// (code 2) for it. Whatever still reaches code 2 for the card (the shared PSTN check, the line-use
// read of the PSTN watch) must fail quietly: the card keeps ringing and reporting its keys and
// hook, in the phone event loop as on its own.
#include "unit/call/CallTestSupport.h"

#include "device/KwPciPhone.h"
#include "device/PhoneCatalogue.h"

namespace {

constexpr int kRefuseAll = 1000000;

class PciWithoutBridgeTest : public CallTest {
  protected:
    void SetUp() override {
        CallTest::SetUp();
        lab.SetProductId(kProductPci);
        int id = 0;
        ASSERT_NE(0, DevOpen(&id));
        lab.FailNext(VC_REGISTER_REQUEST, kRefuseAll);
        lab.SetPstnRinging(true); // what the model's register would say, were it asked
        phone = new KwPciPhone();
        phone->Initialize();
        cc->m_pPhone = phone;
        state.deviceLockDeleted = 0;
        state.devicePresent = 1;
        state.bridgeReady = 1;
        state.attachStatus = ATTACH_SUCCESS;
        state.playerIdle = 1;
        state.voipOnly = 0; // "Auto": the PSTN line is watched
        window.Take();
    }
    void TearDown() override {
        cc->ReleasePhone();
        CallTest::TearDown();
    }
    KwPciPhone* phone = nullptr;
};

} // namespace

TEST_F(PciWithoutBridgeTest, TheCardRingsAndReportsOnItsOwn) {
    EXPECT_EQ(0, phone->IsPstnRinging());
    EXPECT_EQ(0, DevGetPins(0x10)); // the line-use bit: nothing, and nothing more
    EXPECT_EQ(1, phone->SetRinging(1));
    EXPECT_TRUE(lab.Ringing());
    EXPECT_EQ(1, phone->SetRinging(0));
    EXPECT_FALSE(lab.Ringing());
    lab.LiftReceiver();
    EXPECT_EQ(1, phone->IsOffHook());
    ASSERT_EQ(1, phone->PollEvent());
    EXPECT_EQ(kKeyOffHook, phone->GetEventKey());
    EXPECT_EQ(0, lab.FaultCount()); // refused, never malformed
}

TEST_F(PciWithoutBridgeTest, TheEventLoopKeepsPollingTheCard) {
    // Long enough for any ring count to have switched the telephone to a PSTN line.
    Pass(40);
    EXPECT_EQ("", window.Take()); // no notify prompt, no PSTN timers
    EXPECT_EQ(-1, lab.SelectedLine());
    EXPECT_EQ(CALL_IDLE, state.callState.load());
    EXPECT_EQ(0, state.pstnActive.load());

    lab.LiftReceiver();
    lab.PressDtmf('5');
    lab.PressDtmf('#');
    Pass(3);
    const std::vector<int8_t> expected = {static_cast<int8_t>(kKeyOffHook), '5',
                                          static_cast<int8_t>(kKeyHash)};
    EXPECT_EQ(expected, window.TakeKeys());
}
