// Which phone class serves which product id, and the names that go with the product: the audio
// device and the mixer that the vendor library is asked to open. OpenPhone in the main window
// puts these together.
#pragma once
#include "device/KwIpApi.h"
#include "device/PhoneDevice.h"

#include <cstdint>
#include <memory>

// Product id of the PCI card; every other id is a USB product.
constexpr int32_t kProductPci = 1;

// The device families, one per phone class.
enum class PhoneFamily {
    None, // no phone object for this id
    PciPhone,
    UsbHandsetBasic,
    UsbPhone,
    UsbPhoneRelay,
    UsbHandset,
    UsbHandsetRelay,
    UsbHandsetEeprom,
    Usb2GatewayBasic,
    Usb2Phone,
    Usb2PhoneRelay,
    Usb2Gateway,
    Usb2Handset,
    Usb2HandsetBasic,
};
const char* PhoneFamilyName(PhoneFamily family); // the class name, "" for None

// A catalogue entry: the class and its constructor argument (0 where the class takes none).
struct PhoneProduct {
    PhoneFamily family;
    int argument;
};

// Exact ids first; then the two ranges 0x825C..0x825F and 0xC25C..0xC25F (id & 0xFFFC).
PhoneProduct LookupPhoneProduct(int32_t productId);

// The phone object for a product id, or null when the id is not in the catalogue or its class
// is not available in this build. Construction touches no hardware.
std::unique_ptr<PhoneDevice> CreatePhoneDevice(int32_t productId);

bool IsGatewayProduct(int32_t productId);  // 0xC290, 0xC291
bool IsGateway2Product(int32_t productId); // 0xC39C only

// The sound device the library is asked for first; if it finds none, "USB" (kFallbackAudioName).
const char* AudioDeviceName(int32_t productId);
extern const char* const kFallbackAudioName;
// Asks the library for the product's sound device, falling back to "USB". Returns the result of
// the last request. Made without deviceLock, as the library expects for this request.
int SelectAudioDevice(int32_t productId);

// The mixer the library opens for volume control.
const char* MixerDeviceName(int32_t productId);
// Fills the mixer-open request: the name, zero-terminated and cut to fit, and the window that
// receives the mixer's notices. The rest of the name field is zeroed.
void FillMixerOpenBlock(MixerOpenBlock& block, int32_t productId, uintptr_t window);
