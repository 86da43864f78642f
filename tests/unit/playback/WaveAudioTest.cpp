#include "PlaybackFakes.h"

#include "bridge/BridgeState.h"
#include "core/GuiThread.h"

#include <filesystem>
#include <functional>
#include <thread>

namespace {

class WaveAudioTest : public PlaybackTest {
  protected:
    void SetUp() override {
        PlaybackTest::SetUp();
        recorderWnd = 0x135;
        ASSERT_EQ(0u, recorder.Open(""));
        mci.calls.clear();
    }
    uint32_t id() const { return recorder.m_wDeviceID; }
};

TEST_F(WaveAudioTest, OpenNamesTheWaveaudioDeviceAndKeepsTheOldIdOnFailure) {
    const uint32_t first = id();
    EXPECT_EQ(0u, recorder.Open("tone.wav"));
    ASSERT_EQ(1u, mci.calls.size());
    EXPECT_EQ("OPEN(0,0x2200)", mci.Sequence());
    EXPECT_EQ("tone.wav", mci.calls[0].element);
    EXPECT_NE(first, id());

    const uint32_t second = id();
    waveDeviceClosed = 1;
    mci.failures[MCI_CMD_OPEN] = 275;
    EXPECT_EQ(275u, recorder.Open("missing.wav"));
    EXPECT_EQ(275u, recorder.m_dwError);
    EXPECT_EQ(second, id());
    EXPECT_EQ(1, waveDeviceClosed);
}

TEST_F(WaveAudioTest, WithoutAnMciPortNothingOpens) {
    SetMciPort(nullptr);
    EXPECT_EQ(static_cast<uint32_t>(MCI_ERR_DEVICE_NOT_INSTALLED), promptPlayer.Open("tone.wav"));
    BridgeState state;
    state.bridgeReady = 1;
    ChoosePromptDevice(state);
    EXPECT_EQ(0, state.promptDeviceChosen);
}

TEST_F(WaveAudioTest, RecordEmptiesThenRecordsToTheEndWithNoticesToTheRecorder) {
    for (int take = 0; take < 2; ++take) {
        mci.calls.clear();
        mci.timerEvents.clear();
        EXPECT_EQ(0u, recorder.Record(5000));
        const std::string d = std::to_string(id());
        // Every take starts from an empty recording, never appended to the last one.
        EXPECT_EQ("DELETE(" + d + ",0x5) RECORD(" + d + ",0x20d)", mci.Sequence());
        EXPECT_EQ(0x135u, mci.calls[0].callback);
        EXPECT_EQ(0u, mci.calls[0].from);
        EXPECT_EQ(0x135u, mci.calls[1].callback);
        EXPECT_EQ(0u, mci.calls[1].from);
        EXPECT_EQ(5000u, mci.calls[1].to);
        EXPECT_EQ(std::vector<std::string>{"set 309 1070 250"}, mci.timerEvents);
    }
}

TEST_F(WaveAudioTest, StopKillsTheProgressTimerThenStops) {
    EXPECT_EQ(0u, promptPlayer.Stop());
    EXPECT_EQ(std::vector<std::string>{"kill 309 1070"}, mci.timerEvents);
    EXPECT_EQ("STOP(0,0x1)", mci.Sequence());
    EXPECT_EQ(0x135u, mci.calls[0].callback);
}

TEST_F(WaveAudioTest, PlayBlocksOrNotifiesTheGivenWindow) {
    EXPECT_EQ(0u, recorder.Play(false, 0x99));
    EXPECT_EQ(0u, recorder.Play(true, 0x77));
    const std::string d = std::to_string(id());
    EXPECT_EQ("PLAY(" + d + ",0x6) PLAY(" + d + ",0x5)", mci.Sequence());
    EXPECT_EQ(0x99u, mci.calls[0].callback);
    EXPECT_EQ(0x77u, mci.calls[1].callback);
    EXPECT_EQ(0u, mci.calls[1].from);
}

TEST_F(WaveAudioTest, SetDeviceSelectsInputAndOutput) {
    EXPECT_EQ(0u, recorder.SetDevice(3));
    EXPECT_EQ("SET(" + std::to_string(id()) + ",0xc00000)", mci.Sequence());
    EXPECT_EQ(3u, mci.calls[0].waveIn);
    EXPECT_EQ(3u, mci.calls[0].waveOut);
}

// Every failing command stores its code, closes the device, marks it for reopening and skips
// the rest of the operation.
TEST_F(WaveAudioTest, AFailingCommandClosesTheDeviceAndSkipsTheRest) {
    char name[kSaveNameSize] = "take";
    struct Case {
        const char* what;
        uint32_t failing;
        std::function<uint32_t()> run;
        const char* sequence; // %d: the device id
    } cases[] = {
        {"record, emptying", MCI_CMD_DELETE, [] { return recorder.Record(5000); },
         "DELETE(%d,0x5) CLOSE(%d,0x0)"},
        {"record, recording", MCI_CMD_RECORD, [] { return recorder.Record(5000); },
         "DELETE(%d,0x5) RECORD(%d,0x20d) CLOSE(%d,0x0)"},
        {"stop", MCI_CMD_STOP, [] { return recorder.Stop(); }, "STOP(%d,0x1) CLOSE(%d,0x0)"},
        {"play", MCI_CMD_PLAY, [] { return recorder.Play(false, 1); },
         "PLAY(%d,0x6) CLOSE(%d,0x0)"},
        {"save", MCI_CMD_SAVE, [&name] { return recorder.Save(name, sizeof name); },
         "SAVE(%d,0x102) CLOSE(%d,0x0)"},
        {"set", MCI_CMD_SET, [] { return recorder.SetDevice(1); },
         "SET(%d,0xc00000) CLOSE(%d,0x0)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetWaveAudio();
        recorderWnd = 0x135;
        mci.failures.clear();
        ASSERT_EQ(0u, recorder.Open(""));
        const uint32_t opened = id();
        mci.calls.clear();
        mci.timerEvents.clear();
        std::snprintf(name, sizeof name, "take");
        mci.failures[c.failing] = 263;

        EXPECT_EQ(263u, c.run());
        EXPECT_EQ(263u, recorder.m_dwError);
        EXPECT_EQ(1, waveDeviceClosed);
        EXPECT_EQ(0u, id()); // closed: nothing left to close again
        std::string expected = c.sequence;
        for (size_t at; (at = expected.find("%d")) != std::string::npos;)
            expected.replace(at, 2, std::to_string(opened));
        EXPECT_EQ(expected, mci.Sequence());
        EXPECT_FALSE(mci.calls.back().hasParams);
        EXPECT_EQ(0, savedPath[0]);
    }
}

TEST_F(WaveAudioTest, AFailedRecordingLeavesTheProgressTimerRunning) {
    mci.failures[MCI_CMD_RECORD] = 263;
    recorder.Record(5000);
    EXPECT_EQ(std::vector<std::string>{"set 309 1070 250"}, mci.timerEvents);

    // Emptying failed: the timer never starts.
    mci.timerEvents.clear();
    mci.failures = {{MCI_CMD_DELETE, 263}};
    recorder.Record(5000);
    EXPECT_TRUE(mci.timerEvents.empty());
}

// Drivers without MCI_DELETE (Wine answers 261) get a new, empty element instead, and the
// take is recorded into it; any other failure of the emptying step still ends the record.
TEST_F(WaveAudioTest, RecordWithoutDeleteOpensANewEmptyRecording) {
    for (uint32_t unsupported : {261u, 274u}) {
        SCOPED_TRACE(unsupported);
        ASSERT_EQ(0u, recorder.Open(""));
        mci.calls.clear();
        mci.timerEvents.clear();
        mci.failures = {{MCI_CMD_DELETE, unsupported}};
        const std::string old = std::to_string(id());

        EXPECT_EQ(0u, recorder.Record(5000));
        const std::string fresh = std::to_string(id());
        EXPECT_NE(old, fresh);
        EXPECT_EQ("DELETE(" + old + ",0x5) CLOSE(" + old + ",0x0) OPEN(0,0x2200) RECORD(" + fresh +
                      ",0x20d)",
                  mci.Sequence());
        EXPECT_EQ("", mci.calls[2].element);
        EXPECT_EQ(5000u, mci.calls[3].to);
        EXPECT_EQ(0x135u, mci.calls[3].callback);
        EXPECT_EQ(0u, recorder.m_dwError);
        EXPECT_EQ(0, waveDeviceClosed);
        EXPECT_EQ(std::vector<std::string>{"set 309 1070 250"}, mci.timerEvents);
    }

    // The new element cannot be opened: the usual failure, with no timer and no recording.
    ResetWaveAudio();
    recorderWnd = 0x135;
    mci.failures.clear();
    ASSERT_EQ(0u, recorder.Open(""));
    mci.calls.clear();
    mci.timerEvents.clear();
    mci.failures = {{MCI_CMD_DELETE, 261}, {MCI_CMD_OPEN, 263}};
    EXPECT_EQ(263u, recorder.Record(5000));
    EXPECT_EQ(263u, recorder.m_dwError);
    EXPECT_EQ(1, waveDeviceClosed);
    EXPECT_TRUE(mci.timerEvents.empty());
    for (const MciCall& c : mci.calls)
        EXPECT_NE(MCI_CMD_RECORD, c.command);
}

TEST_F(WaveAudioTest, AfterAFailureRecordOpensANewRecordingAndPlayTheLastSave) {
    waveDeviceClosed = 1;
    std::snprintf(savedPath, sizeof savedPath, "%s", WavPath("old.wav").c_str());

    recorder.Record(5000);
    ASSERT_FALSE(mci.calls.empty());
    EXPECT_EQ(MCI_CMD_OPEN, mci.calls[0].command);
    EXPECT_EQ("", mci.calls[0].element);
    EXPECT_EQ(0, waveDeviceClosed);

    waveDeviceClosed = 1;
    mci.calls.clear();
    recorder.Play(false, 1);
    EXPECT_EQ(MCI_CMD_OPEN, mci.calls[0].command);
    EXPECT_EQ(WavPath("old.wav"), mci.calls[0].element);
    EXPECT_EQ(MCI_CMD_PLAY, mci.calls[1].command);
    EXPECT_EQ(id(), mci.calls[1].device);
}

TEST_F(WaveAudioTest, SaveWritesTheTakeIntoWavAndPlayReopensIt) {
    char name[kSaveNameSize] = "alice";
    const uint32_t saved = id();
    ASSERT_EQ(0u, recorder.Save(name, sizeof name));

    EXPECT_STREQ("alice.wav", name);
    EXPECT_EQ("SAVE(" + std::to_string(saved) + ",0x102) CLOSE(" + std::to_string(saved) + ",0x0)",
              mci.Sequence());
    EXPECT_EQ("alice.wav", mci.calls[0].element);
    EXPECT_EQ(WavPath("alice.wav"), std::string(savedPath));
    EXPECT_EQ(1, waveDeviceClosed);
    EXPECT_TRUE(std::filesystem::exists("wav/alice.wav"));
    EXPECT_FALSE(std::filesystem::exists("alice.wav"));

    mci.calls.clear();
    recorder.Play(false, 0x135);
    ASSERT_EQ(2u, mci.calls.size());
    EXPECT_EQ(WavPath("alice.wav"), mci.calls[0].element);
    EXPECT_EQ(MCI_CMD_PLAY, mci.calls[1].command);
    EXPECT_NE(saved, mci.calls[1].device);
}

TEST_F(WaveAudioTest, SaveOverAnExistingPlaybackKeepsTheOlderFile) {
    WriteFile("wav/bob.wav", "older");
    char name[kSaveNameSize] = "bob";
    EXPECT_EQ(0u, recorder.Save(name, sizeof name));
    EXPECT_EQ("older", ReadFile("wav/bob.wav"));
    EXPECT_TRUE(std::filesystem::exists("bob.wav"));
    EXPECT_EQ(WavPath("bob.wav"), std::string(savedPath));
}

TEST_F(WaveAudioTest, SaveRefusesNamesThatDoNotFitOrLeaveWav) {
    struct Case {
        std::string name;
        size_t size;
    } refused[] = {
        {std::string(252, 'a'), kSaveNameSize}, // 252 + ".wav" needs 257 bytes
        {"abc", 7},                             // "abc.wav" needs 8
        {"..\\Kestrel", kSaveNameSize},
        {"../Kestrel", kSaveNameSize},
        {"C:evil", kSaveNameSize},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.name);
        std::vector<char> buffer(c.size + 8, 'X'); // guard bytes past the stated size
        std::memcpy(buffer.data(), c.name.c_str(), c.name.size() + 1);
        EXPECT_EQ(static_cast<uint32_t>(MCI_ERR_FILE_NOT_SAVED),
                  recorder.Save(buffer.data(), c.size));
        EXPECT_EQ(c.name, std::string(buffer.data()));
        EXPECT_EQ('X', buffer[c.size + 7]);
        EXPECT_TRUE(mci.calls.empty());
        EXPECT_EQ(0, waveDeviceClosed);
    }
    // An unterminated buffer is refused rather than read past its end.
    char raw[4] = {'a', 'b', 'c', 'd'};
    EXPECT_NE(0u, recorder.Save(raw, sizeof raw));

    // The longest name that fits is taken.
    char longest[kSaveNameSize];
    std::snprintf(longest, sizeof longest, "%s", std::string(251, 'b').c_str());
    EXPECT_EQ(0u, recorder.Save(longest, sizeof longest));
    EXPECT_EQ(255u, std::strlen(longest));
    EXPECT_EQ(WavPath(longest), std::string(savedPath));
}

TEST_F(WaveAudioTest, OnMciNotifyEndsTheDialToneEvenAfterAnInterruption) {
    BridgeState state;
    ASSERT_EQ(0u, promptPlayer.Open("tone.wav"));
    ASSERT_EQ(0u, promptPlayer.Play(true, 0x66));
    mci.calls.clear();
    mci.failures[MCI_CMD_STOP] = 262; // the tone was already stopped

    const std::string d = std::to_string(promptPlayer.m_wDeviceID);
    OnMciNotify(state, promptPlayer.m_wDeviceID);
    EXPECT_EQ(1, state.playerIdle);
    // Closed once: the failed stop closed it already.
    EXPECT_EQ("STOP(" + d + ",0x1) CLOSE(" + d + ",0x0)", mci.Sequence());
}

// MCI hands a closed device's id to the next device opened: a second close, or a dial tone's late
// notice, must not close the recording that now has it.
TEST_F(WaveAudioTest, ADeviceIsClosedOnceAndALateNoticeClosesNothingElse) {
    BridgeState state;
    ASSERT_EQ(0u, promptPlayer.Open("tone.wav"));
    ASSERT_EQ(0u, promptPlayer.Play(true, 0x66));
    const uint32_t tone = promptPlayer.m_wDeviceID;
    promptPlayer.Stop(); // a key ends the dial tone
    promptPlayer.Close();
    mci.nextDeviceId = tone; // the id is free again
    ASSERT_EQ(0u, recorder.Open(""));
    ASSERT_EQ(tone, recorder.m_wDeviceID);
    mci.calls.clear();

    promptPlayer.Close();
    OnMciNotify(state, tone); // the tone's notice, handled after the key
    promptPlayer.Stop();
    promptPlayer.Close();
    for (const auto& call : mci.calls)
        EXPECT_FALSE(call.command == MCI_CMD_CLOSE && call.device == tone) << mci.Sequence();
    EXPECT_EQ(tone, recorder.m_wDeviceID);
}

TEST_F(WaveAudioTest, ChoosePromptDevicePrefersTheGatewayThenTheFirstUsbDevice) {
    const char* gw = "Rezadede ZuviRuraro-RAV ir";
    struct Case {
        std::vector<std::string> names;
        uint8_t ready;
        int32_t device; // expected promptDevice (it starts at 9)
        int32_t chosen; // expected promptDeviceChosen
    } cases[] = {
        {{"USB Audio", std::string(gw) + " 1", "USB Phone"}, 1, 1, 1},
        {{"Speakers", "USB Audio", "USB Phone"}, 1, 1, 1},
        {{"USB A", std::string("USB ") + gw}, 1, 1, 1},
        {{"Speakers", "Line out"}, 1, 9, 1},
        {{"USB Audio"}, 0, 9, 0},
        {{}, 1, 9, 0},
        {{std::string("usb ") + "rezadede zuviruraro-rav ir"}, 1, 9, 1}, // case matters
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.names));
        BridgeState state;
        state.bridgeReady = c.ready;
        state.promptDevice = 9;
        mci.deviceNames = c.names;
        ChoosePromptDevice(state);
        EXPECT_EQ(c.device, state.promptDevice);
        EXPECT_EQ(c.chosen, state.promptDeviceChosen);
    }
}

} // namespace

#ifndef NDEBUG
// The players and the playback table belong to the GUI thread (the one that ran first here);
// the Debug builds stop a call from any other thread.
TEST(PlaybackGuiThreadDeathTest, OtherThreadsAreStopped) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ASSERT_TRUE(OnGuiThread()); // this thread first: the death test's child runs only this test
    EXPECT_DEATH(std::thread([] { promptPlayer.Stop(); }).join(), "GUI thread only");
    BridgeState state;
    EXPECT_DEATH(std::thread([&state] { ChoosePromptDevice(state); }).join(), "GUI thread only");
}
#endif
