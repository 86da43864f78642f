#include "device/KwIpApi.h"

#include "device/SlicRegisters.h"

#include <cstring>

namespace {

// Written only at start-up and at the end of shutdown, before and after the phone thread.
void* libraryModule = nullptr;
VaVoRarCallFn libraryEntry = nullptr;

int Call(int code, int param, void* pointer) {
    return libraryEntry ? libraryEntry(code, param, pointer) : 0;
}

// A plain value travelling in the pointer argument.
void* AsPointer(uintptr_t value) {
    return reinterpret_cast<void*>(value);
}

RequestHeader MakeHeader(int request, int address, int count, bool read) {
    RequestHeader h;
    std::memset(&h, 0, sizeof h);
    h.request = static_cast<uint8_t>(request & 0xFF);
    h.value = 0;
    h.reg = static_cast<uint16_t>(address & 0xFF);
    h.count = static_cast<uint16_t>(count & 0xFF);
    h.direction = read ? kDirectionRead : kDirectionWrite;
    if (!read) h.marker = kWriteMarker;
    return h;
}

// Bit 0 of the request byte asks the bridge to keep the address fixed.
int RequestByte(int request, int incrementAddress) {
    return (request & 0xFF) | (incrementAddress == 0 ? 1 : 0);
}

} // namespace

void SetDeviceLibrary(void* module, VaVoRarCallFn entry) {
    libraryModule = module;
    libraryEntry = entry;
}

void ClearDeviceLibrary() {
    libraryModule = nullptr;
    libraryEntry = nullptr;
}

bool DeviceLibraryLoaded() {
    return libraryEntry != nullptr;
}
void* DeviceLibraryModule() {
    return libraryModule;
}

#if !defined(_WIN32)
// Natively there is no DLL to load: the library counts as loaded when a test installed one.
int LoadDeviceLibrary() {
    return DeviceLibraryLoaded() ? 1 : 0;
}
void FreeDeviceLibrary() {
    ClearDeviceLibrary();
}
#endif

// --- register requests (code 2) ---

int DevVendorRequest(const RequestHeader& header, int count, void* buffer) {
    if (!libraryEntry) return 0;
    RequestBlock block;
    std::memset(&block, 0, sizeof block);
    std::memcpy(&block.header, &header, sizeof header);
    block.count = static_cast<uint32_t>(count);
    block.buffer = buffer;
    return Call(VC_REGISTER_REQUEST, 0, &block);
}

int DevWriteRegBlock(int address, void* buffer, int count) {
    return DevVendorRequest(MakeHeader(kRequestRegister, address, count, false), count & 0xFF,
                            buffer);
}

int DevWriteReg(int address, int value) {
    uint8_t byte = static_cast<uint8_t>(value & 0xFF);
    return DevWriteRegBlock(address, &byte, 1);
}

int DevReadRegBlock(int address, void* buffer, int count) {
    return DevVendorRequest(MakeHeader(kRequestRegister, address, count, true), count & 0xFF,
                            buffer);
}

int DevReadReg(int address, uint8_t* value) {
    return DevReadRegBlock(address, value, 1);
}

int DevWriteRegs(int address, void* buffer, int count, int request, int incrementAddress) {
    return DevVendorRequest(
        MakeHeader(RequestByte(request, incrementAddress), address, count, false), count & 0xFF,
        buffer);
}

int DevReadRegs(int address, void* buffer, int count, int request, int incrementAddress) {
    return DevVendorRequest(
        MakeHeader(RequestByte(request, incrementAddress), address, count, true), count & 0xFF,
        buffer);
}

// --- general-purpose pins ---

int DevSetPins(int mask, int high) {
    if (!libraryEntry) return 0;
    uint8_t levels = 0;
    uint8_t enables = 0;
    DevReadReg(BRIDGE_PIN_LEVEL, &levels);
    DevReadReg(BRIDGE_PIN_ENABLE, &enables);
    const uint8_t m = static_cast<uint8_t>(mask & 0xFF);
    levels = high ? static_cast<uint8_t>(levels | m) : static_cast<uint8_t>(levels & ~m);
    DevWriteReg(BRIDGE_PIN_LEVEL, levels);
    DevWriteReg(BRIDGE_PIN_ENABLE, enables | m);
    return 1;
}

int DevGetPins(int mask) {
    uint8_t levels = 0;
    DevReadReg(BRIDGE_PIN_LEVEL, &levels);
    return levels & mask;
}

// --- line chip ---

int SlicReadDirect(int reg, int* value) {
    uint8_t byte = 0;
    const int result = Call(VC_SLIC_READ_DIRECT, reg & 0xFF, &byte);
    if (value) *value = byte;
    return result;
}

int SlicReadDirect(int reg) {
    int value = 0;
    SlicReadDirect(reg, &value);
    return value;
}

int SlicWriteDirect(int reg, int value) {
    return Call(VC_SLIC_WRITE_DIRECT, reg & 0xFF, AsPointer(static_cast<uintptr_t>(value & 0xFF)));
}

int SlicReadIndirect(int reg) {
    uint16_t word = 0;
    Call(VC_SLIC_READ_INDIRECT, reg & 0xFF, &word);
    return word;
}

int SlicWriteIndirect(int reg, int value) {
    return Call(VC_SLIC_WRITE_INDIRECT, reg & 0xFF,
                AsPointer(static_cast<uintptr_t>(value & 0xFFFF)));
}

// --- pass-through ---

int DevOpen(int* productId) {
    // The library expects its own module handle, truncated to the int parameter.
    return Call(VC_OPEN, static_cast<int>(reinterpret_cast<intptr_t>(libraryModule)), productId);
}
int DevClose() {
    return Call(VC_CLOSE, 0, nullptr);
}
int DevReadEvent(int* event) {
    return Call(VC_READ_EVENT, 0, event);
}
int DevKeyEvent(char key, void* p) {
    return Call(VC_KEY_EVENT, static_cast<signed char>(key), p);
}
int DevForwardKey(char key) {
    const int param = static_cast<signed char>(key);
    Call(VC_KEY_EVENT, param, AsPointer(0));
    return Call(VC_KEY_EVENT, param, AsPointer(1));
}
int DevRegisterWindow(uintptr_t window) {
    return Call(VC_REGISTER_WINDOW, static_cast<int>(static_cast<intptr_t>(window)), nullptr);
}
int DevUnregisterWindow() {
    return Call(VC_UNREGISTER_WINDOW, 0, nullptr);
}
int DevDeviceChange(uintptr_t wParam, intptr_t lParam) {
    return Call(VC_DEVICE_CHANGE, static_cast<int>(wParam),
                AsPointer(static_cast<uintptr_t>(lParam)));
}
int DevSelectAudioDevice(const char* namePrefix) {
    return Call(VC_SELECT_AUDIO_DEVICE, 0, const_cast<char*>(namePrefix));
}
int DevSwitchOption(int value) {
    return Call(VC_SWITCH_OPTION, value, nullptr);
}
int DevSwitchOff() {
    return Call(VC_SWITCH_OFF, 0, nullptr);
}
int DevSwitchOn() {
    return Call(VC_SWITCH_ON, 0, nullptr);
}
int DevCall24() {
    return Call(VC_GATEWAY_START, 0, nullptr);
}
int DevSelectLine(int line) {
    return Call(VC_SELECT_LINE, line, nullptr);
}
int DevOpenMixer(MixerOpenBlock* block) {
    return Call(VC_OPEN_MIXER, 0, block);
}
int DevCloseMixer() {
    return Call(VC_CLOSE_MIXER, 0, nullptr);
}
int DevMixerChange(uintptr_t wParam, intptr_t lParam) {
    return Call(VC_MIXER_CHANGE, static_cast<int>(wParam),
                AsPointer(static_cast<uintptr_t>(lParam)));
}
int DevCall48(int value) {
    return Call(VC_CALL48, value, nullptr);
}
int DevCall49() {
    return Call(VC_CALL49, 0, nullptr);
}
int DevCall50(int value) {
    return Call(VC_CALL50, value, nullptr);
}
int DevGetHardwareId(char* buffer, int size) {
    return Call(VC_HARDWARE_ID, size, buffer);
}

int DevCall8() {
    return Call(8, 0, nullptr);
}
int DevCall27() {
    return Call(27, 0, nullptr);
}
int DevCall26(int value) {
    return Call(26, value, nullptr);
}
int DevCall40(int value) {
    return Call(40, value, nullptr);
}
int DevCall42(int value) {
    return Call(42, value, nullptr);
}
int DevCall44(int value) {
    return Call(44, value, nullptr);
}
int DevCall33(void* p) {
    return Call(33, 0, p);
}
int DevCall34(void* p) {
    return Call(34, 0, p);
}
int DevCall35(void* p) {
    return Call(35, 0, p);
}
int DevCall36(void* p) {
    return Call(36, 0, p);
}
int DevCall37(void* p) {
    return Call(37, 0, p);
}
int DevCall38(void* p) {
    return Call(38, 0, p);
}
int DevCall39(void* p) {
    return Call(39, 0, p);
}
int DevCall41(void* p) {
    return Call(41, 0, p);
}
int DevCall43(void* p) {
    return Call(43, 0, p);
}
int DevCall19(void* p, int value) {
    return Call(19, value, p);
}
int DevCall29(void* p, int value) {
    return Call(29, value, p);
}
int DevCall30(void* p, int value) {
    return Call(30, value, p);
}
int DevCall47(void* p, int value) {
    return Call(47, value, p);
}
int DevCall28(int a, int b, int c, int d) {
    int32_t values[4] = {a, b, c, d};
    return Call(28, 0, values);
}
int DevCall46(int a, int b) {
    int32_t values[2] = {a, b};
    return Call(46, 0, values);
}
