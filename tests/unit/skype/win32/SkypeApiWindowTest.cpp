#include "skype/win32/SkypeApiWindow.h"
#include "support/QuietMainWindow.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

class MessageWindow final : public QuietMainWindow {
  public:
    void ShowMessage(const char* text, const char*, bool) override { messages.push_back(text); }
    bool SkypeMainWindowExists() override { return false; }

    std::vector<std::string> messages;
};

TEST(SkypeApiWindowTest, EachRegistrationGetsAFreshUuidClassName) {
    BridgeState state;
    MessageWindow mainWindow;
    SkypeApiWindow first(state, mainWindow);
    SkypeApiWindow second(state, mainWindow);

    ASSERT_TRUE(first.RegisterApiClass());
    ASSERT_TRUE(second.RegisterApiClass());
    for (const SkypeApiWindow* w : {&first, &second}) {
        EXPECT_EQ(0, std::strncmp(w->apiClassName, "Skype-API-Test-", 15)) << w->apiClassName;
        EXPECT_EQ(15u + 36u, std::strlen(w->apiClassName)) << w->apiClassName;
        EXPECT_NE(nullptr, w->apiInstance);
    }
    EXPECT_STRNE(first.apiClassName, second.apiClassName);
    if (first.moduleInstanceFallback)
        std::printf("note: the process handle was refused as a class instance\n");

    first.UnregisterApiClass();
    EXPECT_EQ(nullptr, first.apiInstance);
}

// A stand-in for Skype's API window inside this process: answers the discovery with an attach,
// records commands and answers each with a notification of its own.
struct Peer {
    HWND wnd = nullptr;
    unsigned discoverMsg = 0;
    unsigned attachMsg = 0;
    std::vector<std::string> commands;
    std::vector<DWORD> commandSizes;
    std::vector<HWND> senders;
    const char* reply = nullptr;
};
Peer* peer = nullptr;

LRESULT CALLBACK PeerProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (peer != nullptr && msg == peer->discoverMsg && msg != 0) {
        SendMessageA(reinterpret_cast<HWND>(wParam), peer->attachMsg, reinterpret_cast<WPARAM>(wnd),
                     ATTACH_SUCCESS);
        return 1;
    }
    if (peer != nullptr && msg == WM_COPYDATA) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        HWND sender = reinterpret_cast<HWND>(wParam);
        peer->senders.push_back(sender);
        peer->commandSizes.push_back(data->cbData);
        peer->commands.emplace_back(static_cast<const char*>(data->lpData),
                                    strnlen(static_cast<const char*>(data->lpData), data->cbData));
        if (peer->reply != nullptr) {
            COPYDATASTRUCT back = {0, static_cast<DWORD>(std::strlen(peer->reply) + 1),
                                   const_cast<char*>(peer->reply)};
            SendMessageA(sender, WM_COPYDATA, reinterpret_cast<WPARAM>(wnd),
                         reinterpret_cast<LPARAM>(&back));
        }
        return 1;
    }
    return DefWindowProcA(wnd, msg, wParam, lParam);
}

TEST(SkypeApiWindowTest, HandshakeCommandAndNotificationRoundTrip) {
    BridgeState state;
    MessageWindow mainWindow;
    SkypeApiWindow api(state, mainWindow);
    std::vector<std::string> received;
    api.link.SetNotificationSink([&](const char* text) { received.push_back(text); });
    api.RegisterMessages();

    Peer skype;
    skype.discoverMsg = api.link.discoverMsg;
    skype.attachMsg = api.link.attachMsg;
    peer = &skype;
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = PeerProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "KestrelTestSkypePeer";
    RegisterClassExA(&wc);
    skype.wnd = CreateWindowExA(0, wc.lpszClassName, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                nullptr, wc.hInstance, nullptr);
    if (skype.wnd == nullptr) {
        peer = nullptr;
        GTEST_SKIP() << "no windows here (no display?)";
    }

    ASSERT_TRUE(api.Start());
    EXPECT_NE(0u, api.link.apiWnd);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(skype.wnd), api.link.skypeWnd);
    EXPECT_EQ(ATTACH_SUCCESS, state.attachStatus.load());
    EXPECT_TRUE(mainWindow.messages.empty());

    // Not ready yet: the command goes out, Skype's answer is dropped.
    skype.reply = "CALL 5 STATUS ROUTING";
    std::snprintf(state.commandText, sizeof state.commandText, "CALL 1");
    api.link.SendSkypeCommand();
    EXPECT_TRUE(received.empty());

    state.bridgeReady = 1;
    api.link.SendSkypeCommand();
    ASSERT_EQ(2u, skype.commands.size());
    EXPECT_EQ("CALL 1", skype.commands[1]);
    EXPECT_EQ(7u, skype.commandSizes[1]);
    EXPECT_EQ(reinterpret_cast<HWND>(api.link.apiWnd), skype.senders[1]);
    EXPECT_EQ(std::vector<std::string>{"CALL 5 STATUS ROUTING"}, received);

    // The attach message goes through the window procedure as well.
    SendMessageA(reinterpret_cast<HWND>(api.link.apiWnd), api.link.attachMsg, 0,
                 ATTACH_PENDING_AUTHORIZATION);
    EXPECT_EQ(ATTACH_PENDING_AUTHORIZATION, state.attachStatus.load());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(skype.wnd), api.link.skypeWnd);

    api.Shutdown();
    EXPECT_EQ(0u, api.link.apiWnd);
    EXPECT_EQ(nullptr, api.apiInstance);
    DestroyWindow(skype.wnd);
    UnregisterClassA(wc.lpszClassName, wc.hInstance);
    peer = nullptr;
}

// Skype's main window of each client generation, made here: readiness, the start-up launch and
// the API-available notice all ask whether one exists.
struct MainFormCount {
    unsigned discoverMsg = 0;
    int discoveries = 0;
};
MainFormCount* mainForms = nullptr;

LRESULT CALLBACK MainFormProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (mainForms != nullptr && msg == mainForms->discoverMsg && msg != 0) {
        ++mainForms->discoveries;
        return 1;
    }
    return DefWindowProcA(wnd, msg, wParam, lParam);
}

class FindingWindow final : public QuietMainWindow {
  public:
    bool SkypeMainWindowExists() override { return SkypeMainWindowPresent(); }
};

TEST(SkypeApiWindowTest, EveryClientGenerationsMainWindowIsFound) {
    BridgeState state;
    FindingWindow mainWindow;
    SkypeApiWindow api(state, mainWindow);
    api.RegisterMessages();
    ASSERT_TRUE(api.RegisterApiClass());
    if (!api.CreateApiWindow()) GTEST_SKIP() << "no windows here (no display?)";
    ASSERT_FALSE(SkypeMainWindowPresent());

    MainFormCount count;
    count.discoverMsg = api.link.discoverMsg;
    mainForms = &count;
    for (const char* className : kSkypeMainWindowClasses) {
        SCOPED_TRACE(className);
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = MainFormProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = className;
        ASSERT_NE(0, RegisterClassExA(&wc));
        HWND form = CreateWindowExA(0, className, "Skype", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                    nullptr, wc.hInstance, nullptr);
        ASSERT_NE(nullptr, form);

        EXPECT_TRUE(SkypeMainWindowPresent());
        // Skype's API has come up: with its main window there, the discovery goes out again.
        count.discoveries = 0;
        SendMessageA(reinterpret_cast<HWND>(api.link.apiWnd), api.link.attachMsg, 0,
                     ATTACH_API_AVAILABLE);
        EXPECT_EQ(ATTACH_API_AVAILABLE, state.attachStatus.load());
        EXPECT_EQ(1, count.discoveries);

        DestroyWindow(form);
        UnregisterClassA(className, wc.hInstance);
        EXPECT_FALSE(SkypeMainWindowPresent());
    }
    mainForms = nullptr;
}

// A Skype whose window stops answering in the middle of a command, on a thread of its own: the
// command's handler waits until the test lets it go (or, as a last resort, 10 s).
struct HungSkype {
    HANDLE release = nullptr;
    HANDLE ready = nullptr;
    HWND wnd = nullptr;
    DWORD thread = 0;
    std::vector<std::string> commands;
    std::vector<DWORD> waits; // how each command's wait ended
};
HungSkype* hung = nullptr;

LRESULT CALLBACK HungProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (hung != nullptr && msg == WM_COPYDATA) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        hung->commands.emplace_back(static_cast<const char*>(data->lpData),
                                    strnlen(static_cast<const char*>(data->lpData), data->cbData));
        hung->waits.push_back(WaitForSingleObject(hung->release, 10000));
        return 1;
    }
    return DefWindowProcA(wnd, msg, wParam, lParam);
}

DWORD WINAPI HungThread(void*) {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = HungProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "KestrelTestHungSkype";
    RegisterClassExA(&wc);
    // Message-only: the discovery broadcast does not wait on it.
    hung->wnd = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                wc.hInstance, nullptr);
    SetEvent(hung->ready);
    MSG msg;
    while (hung->wnd != nullptr && GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    if (hung->wnd != nullptr) DestroyWindow(hung->wnd);
    UnregisterClassA(wc.lpszClassName, wc.hInstance);
    return 0;
}

TEST(SkypeApiWindowTest, AHungSkypeTimesOutLikeAFailedSend) {
    for (uint8_t ready : {1, 0}) {
        SCOPED_TRACE(testing::Message() << "bridgeReady " << int(ready));
        BridgeState state;
        state.bridgeReady = ready;
        MessageWindow mainWindow;
        SkypeApiWindow api(state, mainWindow);
        api.wire.commandTimeoutMs = 100; // the real bound is seconds; the path is the same
        api.RegisterMessages();
        ASSERT_TRUE(api.RegisterApiClass());
        if (!api.CreateApiWindow()) GTEST_SKIP() << "no windows here (no display?)";

        HungSkype skype;
        skype.release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        skype.ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        hung = &skype;
        HANDLE thread = CreateThread(nullptr, 0, HungThread, nullptr, 0, &skype.thread);
        ASSERT_NE(nullptr, thread);
        WaitForSingleObject(skype.ready, INFINITE);
        ASSERT_NE(nullptr, skype.wnd);
        api.link.skypeWnd = reinterpret_cast<uintptr_t>(skype.wnd);

        std::snprintf(state.commandText, sizeof state.commandText, "SET CALL 17 STATUS FINISHED");
        api.link.SendSkypeCommand();
        // Back here while Skype still sits in the first command.
        SetEvent(skype.release);
        PostThreadMessageA(skype.thread, WM_QUIT, 0, 0);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        hung = nullptr;

        ASSERT_FALSE(skype.waits.empty());
        EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), skype.waits[0]);
        EXPECT_EQ("SET CALL 17 STATUS FINISHED", skype.commands[0]);
        // A time-out is a failed send: rediscover, resend once, and unless the bridge is ready
        // the access-denied message.
        if (ready) {
            EXPECT_TRUE(mainWindow.messages.empty());
        } else {
            EXPECT_EQ(std::vector<std::string>{kAccessDeniedText}, mainWindow.messages);
        }
        CloseHandle(skype.release);
        CloseHandle(skype.ready);
    }
}

} // namespace
