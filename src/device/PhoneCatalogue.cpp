#include "device/PhoneCatalogue.h"

#include "device/DeviceLock.h"
#include "device/KwPciPhone.h"
#include "device/KwUsb2Gateway.h"
#include "device/KwUsb2Handset.h"
#include "device/KwUsb2Phone.h"
#include "device/KwUsbHandset.h"
#include "device/KwUsbPhone.h"

#include <cassert>
#include <cstring>

namespace {

struct CatalogueRow {
    int32_t productId;
    PhoneFamily family;
    int argument;
};

const CatalogueRow kExactIds[] = {
    {kProductPci, PhoneFamily::PciPhone, 0},    {0x8250, PhoneFamily::UsbHandsetBasic, 0},
    {0x831C, PhoneFamily::UsbPhone, 0},         {0x831E, PhoneFamily::UsbPhone, 0},
    {0x831D, PhoneFamily::UsbPhoneRelay, 0},    {0xB210, PhoneFamily::UsbHandset, 0},
    {0xB211, PhoneFamily::UsbHandsetRelay, 0},  {0xB212, PhoneFamily::UsbHandsetEeprom, 0},
    {0xC290, PhoneFamily::Usb2GatewayBasic, 1}, {0xC291, PhoneFamily::Usb2GatewayBasic, 0},
    {0xC31C, PhoneFamily::Usb2Phone, 0},        {0xC31E, PhoneFamily::Usb2Phone, 0},
    {0xC31D, PhoneFamily::Usb2PhoneRelay, 0},   {0xC39C, PhoneFamily::Usb2Gateway, 0},
    {0xF39C, PhoneFamily::Usb2Gateway, 0},      {0xF210, PhoneFamily::Usb2Handset, 0},
    {0xF250, PhoneFamily::Usb2Handset, 0},      {0xF310, PhoneFamily::Usb2HandsetBasic, 0},
    {0xF350, PhoneFamily::Usb2HandsetBasic, 0},
};

// Ranges of four ids that differ only in their two lowest bits; none holds an exact id above.
constexpr int32_t kRangeMask = 0xFFFC;
const CatalogueRow kRanges[] = {
    {0x825C, PhoneFamily::UsbPhone, 1},
    {0xC25C, PhoneFamily::Usb2Phone, 1},
};

} // namespace

const char* PhoneFamilyName(PhoneFamily family) {
    switch (family) {
    case PhoneFamily::None: return "";
    case PhoneFamily::PciPhone: return "KwPciPhone";
    case PhoneFamily::UsbHandsetBasic: return "KwUsbHandsetBasic";
    case PhoneFamily::UsbPhone: return "KwUsbPhone";
    case PhoneFamily::UsbPhoneRelay: return "KwUsbPhoneRelay";
    case PhoneFamily::UsbHandset: return "KwUsbHandset";
    case PhoneFamily::UsbHandsetRelay: return "KwUsbHandsetRelay";
    case PhoneFamily::UsbHandsetEeprom: return "KwUsbHandsetEeprom";
    case PhoneFamily::Usb2GatewayBasic: return "KwUsb2GatewayBasic";
    case PhoneFamily::Usb2Phone: return "KwUsb2Phone";
    case PhoneFamily::Usb2PhoneRelay: return "KwUsb2PhoneRelay";
    case PhoneFamily::Usb2Gateway: return "KwUsb2Gateway";
    case PhoneFamily::Usb2Handset: return "KwUsb2Handset";
    case PhoneFamily::Usb2HandsetBasic: return "KwUsb2HandsetBasic";
    }
    return "";
}

PhoneProduct LookupPhoneProduct(int32_t productId) {
    for (const CatalogueRow& row : kExactIds) {
        if (row.productId == productId) return {row.family, row.argument};
    }
    for (const CatalogueRow& row : kRanges) {
        if ((productId & kRangeMask) == row.productId) return {row.family, row.argument};
    }
    return {PhoneFamily::None, 0};
}

std::unique_ptr<PhoneDevice> CreatePhoneDevice(int32_t productId) {
    const PhoneProduct product = LookupPhoneProduct(productId);
    switch (product.family) {
    case PhoneFamily::UsbPhone: return std::make_unique<KwUsbPhone>(product.argument);
    case PhoneFamily::UsbPhoneRelay: return std::make_unique<KwUsbPhoneRelay>(product.argument);
    case PhoneFamily::PciPhone: return std::make_unique<KwPciPhone>();
    case PhoneFamily::UsbHandsetBasic: return std::make_unique<KwUsbHandsetBasic>();
    case PhoneFamily::UsbHandset: return std::make_unique<KwUsbHandset>();
    case PhoneFamily::UsbHandsetRelay: return std::make_unique<KwUsbHandsetRelay>();
    case PhoneFamily::UsbHandsetEeprom: return std::make_unique<KwUsbHandsetEeprom>();
    case PhoneFamily::Usb2GatewayBasic:
        return std::make_unique<KwUsb2GatewayBasic>(product.argument);
    case PhoneFamily::Usb2Phone: return std::make_unique<KwUsb2Phone>(product.argument);
    case PhoneFamily::Usb2PhoneRelay: return std::make_unique<KwUsb2PhoneRelay>();
    case PhoneFamily::Usb2Gateway: return std::make_unique<KwUsb2Gateway>();
    case PhoneFamily::Usb2Handset: return std::make_unique<KwUsb2Handset>();
    case PhoneFamily::Usb2HandsetBasic: return std::make_unique<KwUsb2HandsetBasic>();
    case PhoneFamily::None: return nullptr;
    }
    return nullptr;
}

bool IsGatewayProduct(int32_t productId) {
    return productId == 0xC290 || productId == 0xC291;
}

// Only the first-generation id of the gateway: 0xF39C shares the class but not the sound device.
bool IsGateway2Product(int32_t productId) {
    return productId == 0xC39C;
}

const char* const kFallbackAudioName = "USB";

const char* AudioDeviceName(int32_t productId) {
    return IsGatewayProduct(productId) || IsGateway2Product(productId)
               ? "Rezadede ZuviRuraro-RAV ir"
               : "VOZ Odozarad Uduro Ra";
}

int SelectAudioDevice(int32_t productId) {
    assert(!DeviceLockHeldHere() && "made without deviceLock");
    const int found = DevSelectAudioDevice(AudioDeviceName(productId));
    if (found) return found;
    return DevSelectAudioDevice(kFallbackAudioName);
}

const char* MixerDeviceName(int32_t productId) {
    return productId == kProductPci ? "VAD Aroduvuz Aduza" : "USB";
}

void FillMixerOpenBlock(MixerOpenBlock& block, int32_t productId, uintptr_t window) {
    std::memset(block.name, 0, sizeof block.name);
    const char* name = MixerDeviceName(productId);
    size_t length = std::strlen(name);
    if (length > sizeof block.name - 1) length = sizeof block.name - 1;
    std::memcpy(block.name, name, length);
    block.window = reinterpret_cast<void*>(window);
}
