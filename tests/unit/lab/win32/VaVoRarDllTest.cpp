// The lab's VaVoRar.dll as Kestrel.exe meets it: loaded by name, its entry found, configured
// from the environment, every call logged.
#include "adapter/LabControl.h"
#include "device/KwIpApi.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string BesideExe(const char* name) {
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of("\\/") + 1) + name;
}

TEST(VaVoRarDllTest, LoadsConfiguresAndLogsEveryCall) {
    // Without the DLL LoadDeviceLibrary would stop at its message box.
    if (GetFileAttributesA(BesideExe("VaVoRar.dll").c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "VaVoRar.dll is not built beside the tests";
    const std::string log = BesideExe("vavorar-test.log");
    DeleteFileA(log.c_str());
    SetEnvironmentVariableA("KESTREL_LAB_PRODUCT", "0xC31C");
    SetEnvironmentVariableA("KESTREL_LAB_LATENCY_US", "0");
    SetEnvironmentVariableA("KESTREL_LAB_LOG", log.c_str());
    SetEnvironmentVariableA("KESTREL_LAB_REFUSE", "48");
    SetEnvironmentVariableA("KESTREL_LAB_FAIL_RANDOM", "0:7");

    ASSERT_EQ(1, LoadDeviceLibrary());
    EXPECT_EQ(0, DevRegisterWindow(0)); // a device is present
    int product = 0;
    DevOpen(&product);
    EXPECT_EQ(0xC31C, product);
    EXPECT_EQ(1, DevWriteReg(41, 0x20));
    uint8_t value = 0;
    EXPECT_EQ(1, DevReadReg(41, &value));
    EXPECT_EQ(0x20, value);
    EXPECT_EQ(1, SlicWriteDirect(64, 0x11));
    EXPECT_EQ(0x11, SlicReadDirect(64));
    EXPECT_EQ(0, DevCall48(1)); // refused from the start
    EXPECT_EQ(1, DevCall49());
    FreeDeviceLibrary();
    EXPECT_FALSE(DeviceLibraryLoaded());
    EXPECT_EQ(0, DevWriteReg(41, 0));

    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    const std::string lines = text.str();
    EXPECT_NE(std::string::npos, lines.find("0 16 0 window 0x0 -> 0\n")) << lines;
    EXPECT_NE(std::string::npos, lines.find(" product 0xC31C -> 1\n")) << lines;
    EXPECT_NE(std::string::npos, lines.find("2 2 0 W bridge[41] 20 -> 1\n")) << lines;
    EXPECT_NE(std::string::npos, lines.find("3 2 0 R bridge[41] 20 -> 1\n")) << lines;
    EXPECT_NE(std::string::npos, lines.find("5 3 64 R slic[64] 11 -> 1\n")) << lines;
    EXPECT_NE(std::string::npos, lines.find("6 48 1 -> 0 FAILED\n")) << lines;
    in.close();
    DeleteFileA(log.c_str());
}

} // namespace
