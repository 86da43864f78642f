// The boundary to the vendor device library (VaVoRar.dll) and the request layer over its one
// entry point. Every adapter operation ends up here as a function code, a param and a pointer.
// This layer takes no lock: callers hold deviceLock where the device protocol needs it.
#pragma once
#include <cstddef>
#include <cstdint>

// The library's calling convention, in one place.
#if defined(_WIN32)
#define VAVORAR_CALLCONV __cdecl
#else
#define VAVORAR_CALLCONV
#endif

typedef int(VAVORAR_CALLCONV* VaVoRarCallFn)(int code, int param, void* pointer);

// Vendor function codes.
enum VendorCode : int {
    VC_OPEN = 0,
    VC_CLOSE = 1,
    VC_REGISTER_REQUEST = 2,
    VC_SLIC_READ_DIRECT = 3,
    VC_SLIC_WRITE_DIRECT = 4,
    VC_SLIC_READ_INDIRECT = 5,
    VC_SLIC_WRITE_INDIRECT = 6,
    VC_READ_EVENT = 7,
    VC_KEY_EVENT = 14,
    VC_REGISTER_WINDOW = 16,
    VC_UNREGISTER_WINDOW = 17,
    VC_DEVICE_CHANGE = 18,
    VC_SELECT_AUDIO_DEVICE = 20,
    VC_SWITCH_OPTION = 21,
    VC_SWITCH_OFF = 22,
    VC_SWITCH_ON = 23,
    VC_GATEWAY_START = 24,
    VC_SELECT_LINE = 25,
    VC_OPEN_MIXER = 31,
    VC_CLOSE_MIXER = 32,
    VC_MIXER_CHANGE = 45,
    VC_CALL48 = 48,
    VC_CALL49 = 49,
    VC_CALL50 = 50,
    VC_HARDWARE_ID = 51,
};

#pragma pack(push, 1)
// The bridge chip's register request, little-endian.
struct RequestHeader {
    uint8_t request;   // 4 register access; 5 when every byte goes to the same register
    uint8_t reserved;  // not set by the layer
    uint16_t value;    // 0
    uint16_t reg;      // first register address
    uint16_t count;    // number of bytes
    uint8_t direction; // 1 read (device to host), 0 write
    uint8_t marker;    // 0x55 on writes
};
// The envelope handed to code 2. 20 bytes on 32-bit; the buffer address widens on 64-bit.
struct RequestBlock {
    RequestHeader header;
    uint8_t reserved[2];
    uint32_t count;
    void* buffer;
};
// The pointer of code 31: a device name, then the window that gets mixer notices.
struct MixerOpenBlock {
    char name[256];
    void* window;
};
#pragma pack(pop)

static_assert(sizeof(RequestHeader) == 10, "request header is 10 bytes");
static_assert(offsetof(RequestBlock, count) == 12, "count at offset 12");
static_assert(offsetof(RequestBlock, buffer) == 16, "buffer address at offset 16");
static_assert(sizeof(RequestBlock) == 16 + sizeof(void*), "20 bytes on 32-bit builds");
static_assert(sizeof(MixerOpenBlock) == 256 + sizeof(void*), "260 bytes on 32-bit builds");

constexpr uint8_t kRequestRegister = 4;
constexpr uint8_t kWriteMarker = 0x55;
constexpr uint8_t kDirectionRead = 1;
constexpr uint8_t kDirectionWrite = 0;

// Library lifecycle. The Windows build loads the DLL (device/win32); natively, tests point the
// layer at the lab adapter. While no entry is installed every function returns 0 and calls
// nothing.
int LoadDeviceLibrary();
void FreeDeviceLibrary();
void SetDeviceLibrary(void* module, VaVoRarCallFn entry);
void ClearDeviceLibrary();
bool DeviceLibraryLoaded();
void* DeviceLibraryModule();

// Register request family (code 2).
int DevVendorRequest(const RequestHeader& header, int count, void* buffer);
int DevWriteReg(int address, int value);
int DevWriteRegBlock(int address, void* buffer, int count);
int DevReadReg(int address, uint8_t* value);
int DevReadRegBlock(int address, void* buffer, int count);
int DevWriteRegs(int address, void* buffer, int count, int request, int incrementAddress);
int DevReadRegs(int address, void* buffer, int count, int request, int incrementAddress);

// General-purpose pins: levels in BRIDGE_PIN_LEVEL, output enables in BRIDGE_PIN_ENABLE.
int DevSetPins(int mask, int high);
int DevGetPins(int mask);

// Line chip (SLIC) registers.
// The register's value; a failed read gives 0, which is also a value the chip can hold.
int SlicReadDirect(int reg);
// The checked form, for decisions that must rest on a value really read: stores the byte as
// above and returns the library's result, non-zero when the read succeeded.
int SlicReadDirect(int reg, int* value);
int SlicWriteDirect(int reg, int value);
int SlicReadIndirect(int reg);
int SlicWriteIndirect(int reg, int value);

// Pass-through family.
int DevOpen(int* productId);
int DevClose();
int DevReadEvent(int* event);
int DevKeyEvent(char key, void* p);
int DevForwardKey(char key);
int DevRegisterWindow(uintptr_t window);
int DevUnregisterWindow();
int DevDeviceChange(uintptr_t wParam, intptr_t lParam);
int DevSelectAudioDevice(const char* namePrefix);
int DevSwitchOption(int value);
int DevSwitchOff();
int DevSwitchOn();
int DevCall24();
int DevSelectLine(int line);
int DevOpenMixer(MixerOpenBlock* block);
int DevCloseMixer();
int DevMixerChange(uintptr_t wParam, intptr_t lParam);
int DevCall48(int value);
int DevCall49();
int DevCall50(int value);
int DevGetHardwareId(char* buffer, int size);
// Wrapped for completeness; nothing in the program calls them.
int DevCall8();
int DevCall27();
int DevCall26(int value);
int DevCall40(int value);
int DevCall42(int value);
int DevCall44(int value);
int DevCall33(void* p);
int DevCall34(void* p);
int DevCall35(void* p);
int DevCall36(void* p);
int DevCall37(void* p);
int DevCall38(void* p);
int DevCall39(void* p);
int DevCall41(void* p);
int DevCall43(void* p);
int DevCall19(void* p, int value);
int DevCall29(void* p, int value);
int DevCall30(void* p, int value);
int DevCall47(void* p, int value);
int DevCall28(int a, int b, int c, int d);
int DevCall46(int a, int b);
