#include "skype/SkypeLink.h"
#include "support/QuietMainWindow.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct SentCommand {
    uintptr_t to;
    uintptr_t from;
    std::string bytes; // exactly cbData bytes, terminator included
};

class FakeWire final : public SkypeWire {
  public:
    bool BroadcastDiscover(uintptr_t apiWnd, unsigned long* lastError) override {
        broadcasts.push_back(apiWnd);
        if (!discoverSucceeds) *lastError = discoverError;
        return discoverSucceeds;
    }
    intptr_t SendCopyData(uintptr_t skypeWnd, uintptr_t apiWnd, const char* data,
                          unsigned long cbData) override {
        sends.push_back({skypeWnd, apiWnd, std::string(data, cbData)});
        if (sendResults.empty()) return 1;
        intptr_t result = sendResults.front();
        sendResults.pop_front();
        return result;
    }
    void ReplyTrue() override { ++replies; }

    bool discoverSucceeds = true;
    unsigned long discoverError = 0;
    std::deque<intptr_t> sendResults; // then 1 for every further send
    std::vector<uintptr_t> broadcasts;
    std::vector<SentCommand> sends;
    int replies = 0;
};

struct Message {
    std::string text;
    std::string caption;
    bool owned;
};

class FakeMainWindow final : public QuietMainWindow {
  public:
    void ShowMessage(const char* text, const char* caption, bool owned) override {
        messages.push_back({text, caption, owned});
    }
    bool SkypeMainWindowExists() override { return skypeMainWindow; }

    bool skypeMainWindow = true;
    std::vector<Message> messages;
};

constexpr uintptr_t kApiWnd = 0x1010;
constexpr uintptr_t kSkypeWnd = 0x2020;

class SkypeLinkTest : public testing::Test {
  protected:
    SkypeLinkTest() {
        link.apiWnd = kApiWnd;
        link.SetNotificationSink([this](const char* text) { received.push_back(text); });
    }

    void Attach() {
        link.skypeWnd = kSkypeWnd;
        state.attachStatus = ATTACH_SUCCESS;
        state.bridgeReady = 1;
    }
    void SetCommand(const char* text) {
        std::snprintf(state.commandText, sizeof state.commandText, "%s", text);
    }
    intptr_t Notify(uintptr_t sender, const void* data, uint32_t cbData) {
        CopyDataRecord record;
        record.cbData = cbData;
        record.lpData = data;
        return link.OnCopyData(sender, &record);
    }

    BridgeState state;
    FakeWire wire;
    FakeMainWindow mainWindow;
    SkypeLink link{state, wire, mainWindow};
    std::vector<std::string> received;
};

TEST_F(SkypeLinkTest, AttachStatusTable) {
    constexpr uintptr_t kOldSkypeWnd = 0x3030;
    struct Case {
        intptr_t status;
        bool skypeMainWindow;
        int32_t expectedStatus;
        uintptr_t expectedSkypeWnd;
        size_t expectedBroadcasts;
    };
    const Case cases[] = {
        {0, true, ATTACH_SUCCESS, kSkypeWnd, 0},
        {1, true, ATTACH_PENDING_AUTHORIZATION, kOldSkypeWnd, 0},
        {2, true, ATTACH_REFUSED, kOldSkypeWnd, 0},
        {3, true, ATTACH_NOT_AVAILABLE, kOldSkypeWnd, 0},
        {0x8001, true, ATTACH_API_AVAILABLE, kOldSkypeWnd, 1},
        {0x8001, false, ATTACH_API_AVAILABLE, kOldSkypeWnd, 0},
        {4, true, ATTACH_NOT_CONNECTED, kOldSkypeWnd, 0},
        {-1, true, ATTACH_NOT_CONNECTED, kOldSkypeWnd, 0},
        {0x8002, true, ATTACH_NOT_CONNECTED, kOldSkypeWnd, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "status " << c.status << " skype main window " << c.skypeMainWindow);
        BridgeState fresh;
        FakeWire freshWire;
        FakeMainWindow freshMain;
        freshMain.skypeMainWindow = c.skypeMainWindow;
        SkypeLink freshLink(fresh, freshWire, freshMain);
        freshLink.apiWnd = kApiWnd;
        freshLink.skypeWnd = kOldSkypeWnd;

        EXPECT_EQ(1, freshLink.OnAttach(kSkypeWnd, c.status));
        EXPECT_EQ(c.expectedStatus, fresh.attachStatus.load());
        EXPECT_EQ(c.expectedSkypeWnd, freshLink.skypeWnd);
        ASSERT_EQ(c.expectedBroadcasts, freshWire.broadcasts.size());
        if (c.expectedBroadcasts > 0) {
            EXPECT_EQ(kApiWnd, freshWire.broadcasts[0]);
        }
        EXPECT_TRUE(freshMain.messages.empty());
    }
}

TEST_F(SkypeLinkTest, FailedRediscoveryOnApiAvailableIsOwnedByMainWindow) {
    wire.discoverSucceeds = false;
    wire.discoverError = 0x5b4;
    link.OnAttach(kSkypeWnd, ATTACH_API_AVAILABLE);

    ASSERT_EQ(1u, mainWindow.messages.size());
    EXPECT_TRUE(mainWindow.messages[0].owned);
    EXPECT_EQ(ATTACH_NOT_CONNECTED, state.attachStatus.load());
}

TEST_F(SkypeLinkTest, FailedDiscoveryReportsErrorInHexAndDisconnects) {
    state.attachStatus = ATTACH_SUCCESS;
    wire.discoverSucceeds = false;
    wire.discoverError = 0x5b4;

    EXPECT_FALSE(link.Discover(true));
    EXPECT_STREQ("Clound not connect to SKYPE!\n Error Code: 5b4", state.messageText);
    ASSERT_EQ(1u, mainWindow.messages.size());
    EXPECT_EQ(state.messageText, mainWindow.messages[0].text);
    EXPECT_EQ("Error", mainWindow.messages[0].caption);
    EXPECT_TRUE(mainWindow.messages[0].owned);
    EXPECT_EQ(ATTACH_NOT_CONNECTED, state.attachStatus.load());

    // The widest error code still fits the message buffer.
    wire.discoverError = static_cast<unsigned long>(-1);
    link.Discover(false);
    EXPECT_NE(nullptr, std::memchr(state.messageText, '\0', sizeof state.messageText));
    EXPECT_NE(nullptr, std::strstr(state.messageText, "Error Code: ffffffff"));
    EXPECT_FALSE(mainWindow.messages[1].owned);
}

TEST_F(SkypeLinkTest, SuccessfulDiscoveryLeavesStatusAlone) {
    state.attachStatus = ATTACH_PENDING_AUTHORIZATION;
    EXPECT_TRUE(link.Discover(true));
    EXPECT_EQ(ATTACH_PENDING_AUTHORIZATION, state.attachStatus.load());
    EXPECT_TRUE(mainWindow.messages.empty());
    EXPECT_EQ(std::vector<uintptr_t>{kApiWnd}, wire.broadcasts);
}

TEST_F(SkypeLinkTest, CommandIsSentWithItsTerminatingZero) {
    Attach();
    SetCommand("CALL 1");
    link.SendSkypeCommand();

    EXPECT_EQ(0u, link.commandData.dwData);
    EXPECT_EQ(7u, link.commandData.cbData);
    EXPECT_EQ(static_cast<const void*>(state.commandText), link.commandData.lpData);
    ASSERT_EQ(1u, wire.sends.size());
    EXPECT_EQ(kSkypeWnd, wire.sends[0].to);
    EXPECT_EQ(kApiWnd, wire.sends[0].from);
    EXPECT_EQ(std::string("CALL 1", 7), wire.sends[0].bytes);
    EXPECT_TRUE(wire.broadcasts.empty());
    EXPECT_TRUE(mainWindow.messages.empty());
}

TEST_F(SkypeLinkTest, EmptyCommandSendsNothingButStillDiscoversWhenUnattached) {
    link.SendSkypeCommand();
    EXPECT_EQ(1u, wire.broadcasts.size());
    EXPECT_TRUE(wire.sends.empty());
    EXPECT_EQ(1u, link.commandData.cbData);

    Attach();
    link.SendSkypeCommand();
    EXPECT_EQ(1u, wire.broadcasts.size());
    EXPECT_TRUE(wire.sends.empty());
    EXPECT_TRUE(mainWindow.messages.empty());
}

// The wire reports a command Skype did not answer in time (a hung client) as a refused one.
TEST_F(SkypeLinkTest, RejectedCommandRediscoversResendsOnceAndWarnsUnlessReady) {
    for (uint8_t ready : {0, 1}) {
        SCOPED_TRACE(testing::Message() << "bridgeReady " << int(ready));
        BridgeState fresh;
        FakeWire freshWire;
        FakeMainWindow freshMain;
        SkypeLink freshLink(fresh, freshWire, freshMain);
        freshLink.skypeWnd = kSkypeWnd;
        fresh.bridgeReady = ready;
        std::snprintf(fresh.commandText, sizeof fresh.commandText, "SET CALL 17 STATUS FINISHED");
        freshWire.sendResults = {0, 0};

        freshLink.SendSkypeCommand();

        EXPECT_EQ(1u, freshWire.broadcasts.size());
        ASSERT_EQ(2u, freshWire.sends.size());
        EXPECT_EQ(freshWire.sends[0].bytes, freshWire.sends[1].bytes);
        EXPECT_EQ(kSkypeWnd, freshWire.sends[1].to);
        if (ready) {
            EXPECT_TRUE(freshMain.messages.empty());
        } else {
            ASSERT_EQ(1u, freshMain.messages.size());
            EXPECT_EQ("SKYPE API ACCUSS DENIED!", freshMain.messages[0].text);
            EXPECT_EQ("Error", freshMain.messages[0].caption);
            EXPECT_FALSE(freshMain.messages[0].owned);
        }
    }
}

TEST_F(SkypeLinkTest, CommandBeforeAnyAttachEndsInUnownedMessages) {
    wire.discoverSucceeds = false;
    wire.discoverError = 2;
    wire.sendResults = {0, 0};
    SetCommand("CALL 123");
    link.SendSkypeCommand();

    EXPECT_EQ(2u, wire.broadcasts.size());
    EXPECT_EQ(2u, wire.sends.size());
    ASSERT_EQ(3u, mainWindow.messages.size());
    EXPECT_EQ("Clound not connect to SKYPE!\n Error Code: 2", mainWindow.messages[0].text);
    EXPECT_EQ("SKYPE API ACCUSS DENIED!", mainWindow.messages[2].text);
    for (const Message& m : mainWindow.messages)
        EXPECT_FALSE(m.owned);
}

TEST_F(SkypeLinkTest, UnterminatedCommandIsCutToTheBuffer) {
    Attach();
    std::memset(state.commandText, 'A', sizeof state.commandText);
    link.SendSkypeCommand();

    ASSERT_EQ(1u, wire.sends.size());
    EXPECT_EQ(kCommandTextSize, link.commandData.cbData);
    EXPECT_EQ(std::string(kCommandTextSize - 1, 'A') + '\0', wire.sends[0].bytes);
}

TEST_F(SkypeLinkTest, NotificationsPassOnlyFromSkypeWhileReady) {
    static const char kText[] = "CALL 17 STATUS RINGING";
    struct Case {
        const char* name;
        uintptr_t skypeWnd;
        uintptr_t sender;
        uint8_t ready;
        bool dispatched;
    };
    const Case cases[] = {
        {"from skype, ready", kSkypeWnd, kSkypeWnd, 1, true},
        {"from another window", kSkypeWnd, 0x4040, 1, false},
        {"not ready", kSkypeWnd, kSkypeWnd, 0, false},
        {"never attached, sender 0", 0, 0, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        received.clear();
        link.skypeWnd = c.skypeWnd;
        state.bridgeReady = c.ready;
        EXPECT_EQ(1, Notify(c.sender, kText, sizeof kText));
        if (c.dispatched) {
            EXPECT_EQ(std::vector<std::string>{kText}, received);
        } else {
            EXPECT_TRUE(received.empty());
        }
    }
}

TEST_F(SkypeLinkTest, EmptyRecordsDispatchNothing) {
    Attach();
    static const char kText[] = "CALL 17 STATUS RINGING";
    EXPECT_EQ(1, link.OnCopyData(kSkypeWnd, nullptr));
    EXPECT_EQ(1, Notify(kSkypeWnd, nullptr, 5));
    EXPECT_EQ(1, Notify(kSkypeWnd, kText, 0));
    EXPECT_TRUE(received.empty());
}

TEST_F(SkypeLinkTest, NotificationTextIsReadOnlyWithinCbData) {
    Attach();
    struct Case {
        const char* name;
        std::vector<char> bytes;
        uint32_t cbData;
        std::string expected;
    };
    const std::string kShort = "CALL 12 STATUS RINGING";
    std::vector<char> unterminated(kShort.begin(), kShort.begin() + 7);
    std::vector<char> huge(3 * kMaxNotificationSize, 'x');
    const Case cases[] = {
        {"missing terminator", unterminated, 7, "CALL 12"},
        {"cbData shorter than text", std::vector<char>(kShort.begin(), kShort.end()), 4, "CALL"},
        {"embedded zero", {'A', 'B', '\0', 'C', 'D', '\0'}, 6, "AB"},
        {"too long", huge, static_cast<uint32_t>(huge.size()),
         std::string(kMaxNotificationSize - 1, 'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        received.clear();
        // The exact-size heap copy lets a sanitizer catch a read past cbData.
        std::vector<char> data(c.bytes.begin(), c.bytes.begin() + c.cbData);
        EXPECT_EQ(1, Notify(kSkypeWnd, data.data(), c.cbData));
        EXPECT_EQ(std::vector<std::string>{c.expected}, received);
    }
}

TEST_F(SkypeLinkTest, NotificationWithoutSinkIsAnswered) {
    Attach();
    SkypeLink bare(state, wire, mainWindow);
    bare.skypeWnd = kSkypeWnd;
    static const char kText[] = "CALL 1 STATUS FINISHED";
    CopyDataRecord record;
    record.cbData = sizeof kText;
    record.lpData = kText;
    EXPECT_EQ(1, bare.OnCopyData(kSkypeWnd, &record));
}

// Skype's main window as the public API client libraries look for it: the 3.8 series, the 4.0
// clients, then 5.x and later.
TEST(SkypeMainWindowClassesTest, EveryDesktopClientGeneration) {
    const std::vector<std::string> expected = {"tSkMainForm.UnicodeClass",
                                               "TZapMainForm.UnicodeClass", "tSkMainForm"};
    EXPECT_EQ(expected, std::vector<std::string>(std::begin(kSkypeMainWindowClasses),
                                                 std::end(kSkypeMainWindowClasses)));
}

} // namespace
