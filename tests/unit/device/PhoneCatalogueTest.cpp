// Which class each product id gets, and the names handed to the library for it.
#include "DeviceTestSupport.h"
#include "device/KwUsbPhone.h"
#include "device/PhoneCatalogue.h"

#include <cstring>

namespace {

struct ProductCase {
    int32_t id;
    const char* className; // "" for no phone object
    int argument;
    bool built; // the class exists in this build, so CreatePhoneDevice makes it
};

const ProductCase kProducts[] = {
    {1, "KwPciPhone", 0, true},
    {0x8250, "KwUsbHandsetBasic", 0, true},
    {0x831C, "KwUsbPhone", 0, true},
    {0x831E, "KwUsbPhone", 0, true},
    {0x831D, "KwUsbPhoneRelay", 0, true},
    {0x825C, "KwUsbPhone", 1, true},
    {0x825D, "KwUsbPhone", 1, true},
    {0x825E, "KwUsbPhone", 1, true},
    {0x825F, "KwUsbPhone", 1, true},
    {0xB210, "KwUsbHandset", 0, true},
    {0xB211, "KwUsbHandsetRelay", 0, true},
    {0xB212, "KwUsbHandsetEeprom", 0, true},
    {0xC290, "KwUsb2GatewayBasic", 1, true},
    {0xC291, "KwUsb2GatewayBasic", 0, true},
    {0xC31C, "KwUsb2Phone", 0, true},
    {0xC31E, "KwUsb2Phone", 0, true},
    {0xC31D, "KwUsb2PhoneRelay", 0, true},
    {0xC25C, "KwUsb2Phone", 1, true},
    {0xC25F, "KwUsb2Phone", 1, true},
    {0xC39C, "KwUsb2Gateway", 0, true},
    {0xF39C, "KwUsb2Gateway", 0, true},
    {0xF210, "KwUsb2Handset", 0, true},
    {0xF250, "KwUsb2Handset", 0, true},
    {0xF310, "KwUsb2HandsetBasic", 0, true},
    {0xF350, "KwUsb2HandsetBasic", 0, true},
    // Unknown: neighbours of the ranges and of exact ids, and nonsense.
    {0, "", 0, false},
    {-1, "", 0, false},
    {2, "", 0, false},
    {0x825B, "", 0, false},
    {0x8260, "", 0, false},
    {0x831F, "", 0, false},
    {0xC25B, "", 0, false},
    {0xC260, "", 0, false},
    {0xC39D, "", 0, false},
    {0xB213, "", 0, false},
};

} // namespace

TEST(PhoneCatalogue, EveryProductGetsItsClass) {
    for (const ProductCase& c : kProducts) {
        SCOPED_TRACE(testing::Message() << std::hex << "0x" << c.id);
        const PhoneProduct product = LookupPhoneProduct(c.id);
        EXPECT_STREQ(c.className, PhoneFamilyName(product.family));
        EXPECT_EQ(c.argument, product.argument);

        std::unique_ptr<PhoneDevice> phone = CreatePhoneDevice(c.id);
        ASSERT_EQ(c.built, phone != nullptr);
        if (!phone) continue;
        // The other families check their classes in their own tests.
        if (std::strncmp(c.className, "KwUsbPhone", 10) != 0) continue;
        auto* usb = dynamic_cast<KwUsbPhone*>(phone.get());
        ASSERT_NE(nullptr, usb);
        EXPECT_EQ(c.argument, usb->pcmMode);
        const bool relay = dynamic_cast<KwUsbPhoneRelay*>(phone.get()) != nullptr;
        EXPECT_EQ(std::strcmp(c.className, "KwUsbPhoneRelay") == 0, relay);
    }
}

TEST(PhoneCatalogue, OnlyPhonesThatKeepTheirEventsMayBePolledSlowly) {
    // The line chip latches hook changes and digits until they are cleared, and the PCI driver
    // queues its events; the first-generation handsets' keypad shows a key only while it is down.
    for (const ProductCase& c : kProducts) {
        SCOPED_TRACE(testing::Message() << std::hex << "0x" << c.id);
        std::unique_ptr<PhoneDevice> phone = CreatePhoneDevice(c.id);
        if (!phone || !phone->NeedsPolling()) continue;
        const bool keypad = std::strncmp(c.className, "KwUsbHandset", 12) == 0;
        EXPECT_EQ(!keypad, phone->KeepsEventsUntilPolled()) << c.className;
    }
}

TEST(PhoneCatalogue, GatewayProductTests) {
    for (int32_t id : {0xC290, 0xC291}) {
        EXPECT_TRUE(IsGatewayProduct(id));
        EXPECT_FALSE(IsGateway2Product(id));
    }
    EXPECT_TRUE(IsGateway2Product(0xC39C));
    // The same class, but not the gateway's sound device.
    EXPECT_FALSE(IsGateway2Product(0xF39C));
    EXPECT_FALSE(IsGatewayProduct(0xF39C));
    EXPECT_FALSE(IsGatewayProduct(0xC292));
}

TEST(PhoneCatalogue, AudioAndMixerNames) {
    const char* gateway = "Rezadede ZuviRuraro-RAV ir";
    const char* phone = "VOZ Odozarad Uduro Ra";
    EXPECT_STREQ(gateway, AudioDeviceName(0xC290));
    EXPECT_STREQ(gateway, AudioDeviceName(0xC291));
    EXPECT_STREQ(gateway, AudioDeviceName(0xC39C));
    EXPECT_STREQ(phone, AudioDeviceName(0xF39C));
    EXPECT_STREQ(phone, AudioDeviceName(0x831C));
    EXPECT_STREQ(phone, AudioDeviceName(1));
    EXPECT_STREQ(phone, AudioDeviceName(0x1234));

    EXPECT_STREQ("VAD Aroduvuz Aduza", MixerDeviceName(1));
    EXPECT_STREQ("USB", MixerDeviceName(0x831C));
    EXPECT_STREQ("USB", MixerDeviceName(0));
}

TEST_F(LabDeviceTest, AudioDeviceFallsBackToUsb) {
    struct Case {
        int32_t id;
        bool found;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {0x831C, true, {"VOZ Odozarad Uduro Ra"}},
        {0xC39C, true, {"Rezadede ZuviRuraro-RAV ir"}},
        {0x831C, false, {"VOZ Odozarad Uduro Ra", "USB"}},
        {0xC290, false, {"Rezadede ZuviRuraro-RAV ir", "USB"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.names.back());
        lab.ClearCalls();
        lab.SetAudioDeviceFound(c.found);
        EXPECT_EQ(c.found, SelectAudioDevice(c.id) != 0);
        std::vector<std::string> names;
        for (const LabCall& call : lab.CallsOf(20))
            names.push_back(call.text);
        EXPECT_EQ(c.names, names);
        EXPECT_EQ(static_cast<int>(c.names.size()), lab.CallCount());
    }
}

TEST_F(LabDeviceTest, MixerBlockCarriesNameAndWindow) {
    MixerOpenBlock block;
    std::memset(&block, 0x5A, sizeof block);
    FillMixerOpenBlock(block, 1, 0x1F2E);
    EXPECT_STREQ("VAD Aroduvuz Aduza", block.name);
    for (size_t i = std::strlen(block.name); i < sizeof block.name; ++i)
        ASSERT_EQ(0, block.name[i]) << i;
    EXPECT_EQ(0x1F2Eu, reinterpret_cast<uintptr_t>(block.window));

    FillMixerOpenBlock(block, 0x831C, 0x77);
    EXPECT_NE(0, DevOpenMixer(&block));
    EXPECT_EQ("USB", lab.MixerName());
    ASSERT_EQ(1u, lab.CallsOf(31).size());
    EXPECT_EQ(0x77u, lab.CallsOf(31)[0].window);
}
