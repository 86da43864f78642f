// Loading the vendor device library at run time.
#include "device/KwIpApi.h"

#include <windows.h>

int LoadDeviceLibrary() {
    HMODULE module = LoadLibraryA("VaVoRar.dll");
    FARPROC entry = module ? GetProcAddress(module, "VaVoRarCall") : nullptr;
    if (!entry) {
        MessageBoxA(nullptr,
                    "Can't load vavorar.dll. Please reinstall \nyour software and try again.",
                    "Error", MB_OK);
        if (module) FreeLibrary(module);
        ClearDeviceLibrary();
        return 0;
    }
    SetDeviceLibrary(module, reinterpret_cast<VaVoRarCallFn>(reinterpret_cast<void*>(entry)));
    return 1;
}

void FreeDeviceLibrary() {
    HMODULE module = static_cast<HMODULE>(DeviceLibraryModule());
    ClearDeviceLibrary();
    if (module) FreeLibrary(module);
}
