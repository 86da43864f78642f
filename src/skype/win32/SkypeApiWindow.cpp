#include "skype/win32/SkypeApiWindow.h"

#include <rpc.h>

#include <cstdio>

bool Win32SkypeWire::BroadcastDiscover(uintptr_t apiWnd, unsigned long* lastError) {
    DWORD_PTR result = 0;
    if (SendMessageTimeoutA(HWND_BROADCAST, discoverMsg, static_cast<WPARAM>(apiWnd), 0,
                            SMTO_ABORTIFHUNG, 2000, &result) != 0)
        return true;
    if (lastError != nullptr) *lastError = GetLastError();
    return false;
}

intptr_t Win32SkypeWire::SendCopyData(uintptr_t skypeWnd, uintptr_t apiWnd, const char* data,
                                      unsigned long cbData) {
    // No window yet: a send to handle 0 fails anyway.
    if (skypeWnd == 0) return 0;
    COPYDATASTRUCT record;
    record.dwData = 0;
    record.cbData = cbData;
    record.lpData = const_cast<char*>(data);
    // Without SMTO_BLOCK: Skype may send us notifications before it answers, and we must take
    // them meanwhile.
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutA(reinterpret_cast<HWND>(skypeWnd), WM_COPYDATA,
                            static_cast<WPARAM>(apiWnd), reinterpret_cast<LPARAM>(&record),
                            SMTO_NORMAL | SMTO_ABORTIFHUNG, commandTimeoutMs, &answer) == 0)
        return 0; // failed, hung or timed out: as a refused command
    return static_cast<intptr_t>(answer);
}

bool SkypeMainWindowPresent() {
    for (const char* className : kSkypeMainWindowClasses) {
        if (FindWindowA(className, nullptr) != nullptr) return true;
    }
    return false;
}

void Win32SkypeWire::ReplyTrue() {
    // Only a sent message from another thread has a sender waiting for the answer.
    if (InSendMessage()) ReplyMessage(TRUE);
}

SkypeApiWindow::SkypeApiWindow(BridgeState& state, MainWindow& mainWindow)
    : link(state, wire, mainWindow) {}

SkypeApiWindow::~SkypeApiWindow() {
    Shutdown();
}

void SkypeApiWindow::RegisterMessages() {
    link.attachMsg = RegisterWindowMessageA("SkypeControlAPIAttach");
    link.discoverMsg = RegisterWindowMessageA("SkypeControlAPIDiscover");
    wire.discoverMsg = link.discoverMsg;
}

bool SkypeApiWindow::Start() {
    if (link.discoverMsg == 0) RegisterMessages();
    if (!RegisterApiClass()) return false;
    if (!CreateApiWindow()) return false;
    link.Discover(true);
    return true;
}

void SkypeApiWindow::Shutdown() {
    DestroyApiWindow();
    if (classRegistered_ || apiInstance != nullptr) UnregisterApiClass();
}

bool SkypeApiWindow::RegisterApiClass() {
    if (classRegistered_) return true; // once per object; a second class would leak
    UUID uuid;
    RPC_STATUS status = UuidCreate(&uuid);
    apiInstance = OpenProcess(PROCESS_DUP_HANDLE, FALSE, GetCurrentProcessId());

    bool registered = false;
    if (apiInstance != nullptr && (status == RPC_S_OK || status == RPC_S_UUID_LOCAL_ONLY)) {
        RPC_CSTR uuidText = nullptr;
        if (UuidToStringA(&uuid, &uuidText) == RPC_S_OK && uuidText != nullptr) {
            std::snprintf(apiClassName, sizeof apiClassName, "%s%s", kApiClassPrefix,
                          reinterpret_cast<const char*>(uuidText));
            RpcStringFreeA(&uuidText);

            WNDCLASSEXA wc = {};
            wc.cbSize = sizeof wc;
            wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
            wc.lpfnWndProc = ApiWindowProc;
            wc.hInstance = static_cast<HINSTANCE>(apiInstance);
            wc.lpszClassName = apiClassName;
            registered = RegisterClassExA(&wc) != 0;
            if (!registered) {
                // A system that refuses a process handle as an instance still gets the link.
                wc.hInstance = GetModuleHandleA(nullptr);
                registered = RegisterClassExA(&wc) != 0;
                moduleInstanceFallback = registered;
            }
            if (registered) classInstance_ = wc.hInstance;
        }
    }

    if (!registered && apiInstance != nullptr) {
        CloseHandle(apiInstance);
        apiInstance = nullptr;
    }
    classRegistered_ = registered;
    return registered;
}

bool SkypeApiWindow::CreateApiWindow() {
    HWND wnd = CreateWindowExA(WS_EX_APPWINDOW | WS_EX_WINDOWEDGE, apiClassName, "",
                               WS_BORDER | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                               CW_USEDEFAULT, 128, 128, nullptr, nullptr, classInstance_, this);
    link.apiWnd = reinterpret_cast<uintptr_t>(wnd);
    return wnd != nullptr;
}

void SkypeApiWindow::DestroyApiWindow() {
    if (link.apiWnd == 0) return;
    DestroyWindow(reinterpret_cast<HWND>(link.apiWnd));
    link.apiWnd = 0;
}

void SkypeApiWindow::UnregisterApiClass() {
    if (classRegistered_) UnregisterClassA(apiClassName, classInstance_);
    classRegistered_ = false;
    classInstance_ = nullptr;
    if (apiInstance != nullptr) CloseHandle(apiInstance);
    apiInstance = nullptr;
}

LRESULT CALLBACK SkypeApiWindow::ApiWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<SkypeApiWindow*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcA(wnd, msg, wParam, lParam);

    if (msg == WM_COPYDATA) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        CopyDataRecord record;
        if (data != nullptr) {
            record.dwData = data->dwData;
            record.cbData = data->cbData;
            record.lpData = data->lpData;
        }
        return self->link.OnCopyData(static_cast<uintptr_t>(wParam),
                                     data != nullptr ? &record : nullptr);
    }
    if (msg == self->link.attachMsg && msg != 0)
        return self->link.OnAttach(static_cast<uintptr_t>(wParam), static_cast<intptr_t>(lParam));
    return DefWindowProcA(wnd, msg, wParam, lParam);
}
