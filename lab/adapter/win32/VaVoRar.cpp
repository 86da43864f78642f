// The lab's VaVoRar.dll: the lab adapter model behind the vendor entry point, configured from
// the environment and driven from outside through a hidden control window (LabControl.h; the
// commands are listed in LabCommands.cpp).
#include "adapter/LabAdapter.h"
#include "adapter/LabControl.h"

#include "core/Clock.h"
#include "device/KwIpApi.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace {

// Real time for the modelled bus latency.
class SleepClock final : public Clock {
  public:
    void Sleep(unsigned ms) override { ::Sleep(ms); }
    uint64_t NowMs() override { return GetTickCount64(); }
};

// Long interactive runs poll for hours; keep the record bounded.
constexpr size_t kCallRecordLimit = 100000;

SleepClock sleepClock;
LabAdapter* lab = nullptr;
std::once_flag started;
std::mutex logMutex;
FILE* logFile = nullptr;

std::string Env(const char* name) {
    char buf[1024];
    const DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

void WriteLog(const LabCall& call) {
    std::lock_guard<std::mutex> lock(logMutex);
    if (!logFile) return;
    std::fputs((LabAdapter::FormatCall(call) + "\n").c_str(), logFile);
    std::fflush(logFile);
}

LRESULT CALLBACK ControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_COPYDATA) {
        const COPYDATASTRUCT* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (!cds || cds->dwData != LAB_CONTROL_MAGIC) return -1;
        // The text comes from another process: bounded, and terminated here whatever it holds.
        const char* data = static_cast<const char*>(cds->lpData);
        size_t n = data ? cds->cbData : 0;
        if (n > 1024) n = 1024;
        std::string text(data ? data : "", n);
        text = text.c_str();
        return lab->Control(text);
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

DWORD WINAPI ControlThread(LPVOID) {
    HINSTANCE instance = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ControlProc), &instance);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ControlProc;
    wc.hInstance = instance;
    wc.lpszClassName = LAB_CONTROL_CLASS;
    RegisterClassA(&wc);
    // Top-level (not message-only) so that FindWindow finds it.
    HWND hwnd = CreateWindowExA(0, LAB_CONTROL_CLASS, "Kestrel lab adapter", WS_OVERLAPPED, 0, 0, 0,
                                0, nullptr, nullptr, instance, nullptr);
    if (!hwnd) return 1;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}

void Start() {
    lab = new LabAdapter(); // lives as long as the process
    lab->SetCallLimit(kCallRecordLimit);

    const std::string product = Env("KESTREL_LAB_PRODUCT");
    if (!product.empty()) {
        char* end = nullptr;
        const long id = std::strtol(product.c_str(), &end, 0);
        if (end && *end == '\0' && id >= 0) lab->SetProductId(static_cast<int>(id));
    }
    lab->SetPresent(Env("KESTREL_LAB_PRESENT") != "0");
    unsigned latency = 1000;
    const std::string latencyText = Env("KESTREL_LAB_LATENCY_US");
    if (!latencyText.empty()) {
        char* end = nullptr;
        const unsigned long v = std::strtoul(latencyText.c_str(), &end, 10);
        if (end && *end == '\0' && v <= 1000000) latency = static_cast<unsigned>(v);
    }
    lab->SetLatency(latency, &sleepClock);

    // The capture file of scripts/run-scenario (a Unix path, reached through Z:): its size at
    // each line-feed change places the sound played on the adapter's device in the line feed's
    // states.
    std::string sound = Env("KESTREL_ALSA_OUT");
    if (!sound.empty() && sound[0] == '/') {
        for (char& c : sound)
            if (c == '/') c = '\\';
        sound = "Z:" + sound;
        lab->SetSoundMeter([sound]() -> long long {
            WIN32_FILE_ATTRIBUTE_DATA data;
            if (!GetFileAttributesExA(sound.c_str(), GetFileExInfoStandard, &data)) return 0;
            return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        });
    }

    lab->ConfigureRefusals(Env("KESTREL_LAB_REFUSE"));
    lab->ConfigureFailRandom(Env("KESTREL_LAB_FAIL_RANDOM"));

    const std::string logPath = Env("KESTREL_LAB_LOG");
    if (!logPath.empty()) {
        logFile = std::fopen(logPath.c_str(), "a");
        if (logFile) lab->SetCallHook(WriteLog);
    }
    lab->SetPostHook([](const LabPost& post) {
        PostMessageA(reinterpret_cast<HWND>(post.window), post.message, post.wParam, post.lParam);
    });

    // The control thread runs code of this DLL until the process ends, so the DLL must stay
    // mapped even after the program's FreeLibrary.
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&ControlProc), &self);
    HANDLE thread = CreateThread(nullptr, 0, ControlThread, nullptr, 0, nullptr);
    if (thread) CloseHandle(thread);
}

} // namespace

extern "C" int VAVORAR_CALLCONV VaVoRarCall(int code, int param, void* pointer) {
    std::call_once(started, Start);
    return lab->Call(code, param, pointer);
}
