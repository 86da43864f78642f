#include "PlaybackFakes.h"

#include "call/BridgeState.h"
#include "playback/PlaybackDialogs.h"

#include <filesystem>

namespace {

class PlaybackDialogsTest : public PlaybackTest {
  protected:
    BridgeState state;
};

TEST_F(PlaybackDialogsTest, SecondsKeepTheirPointButNotTrailingZeros) {
    const std::pair<double, const char*> cases[] = {
        {0.25, "0.25"}, {0.5, "0.5"}, {1.0, "1."}, {1.75, "1.75"},
        {4.75, "4.75"}, {5.0, "5."},  {0.0, "0."}, {-0.25, "-0.25"},
    };
    for (auto& [seconds, text] : cases) {
        char out[32];
        FormatRecordSeconds(seconds, out, sizeof out);
        EXPECT_STREQ(text, out) << seconds;
    }
    char small[3] = {'x', 'x', 'x'};
    FormatRecordSeconds(4.75, small, sizeof small);
    EXPECT_EQ('\0', small[2]);
}

TEST_F(PlaybackDialogsTest, RecordProgressFollowsRecordingStopAndPlay) {
    RecordProgress p;
    char text[32];
    p.StartRecording();
    int slider = 0;
    for (int i = 0; i < 20; ++i)
        slider = p.Tick();
    FormatRecordSeconds(p.recordSeconds, text, sizeof text);
    EXPECT_EQ(kRecordSliderEnd, slider);
    EXPECT_STREQ("5.", text);

    // A take stopped after 7 ticks, then played: the box shows its length again and the first
    // tick after playing ends the take.
    p.StartRecording();
    for (int i = 0; i < 7; ++i)
        p.Tick();
    p.StartPlaying();
    p.PlayingEnded();
    EXPECT_EQ(kRecordSliderEnd, p.Tick());
    FormatRecordSeconds(p.recordSeconds, text, sizeof text);
    EXPECT_STREQ("1.75", text);
}

TEST_F(PlaybackDialogsTest, RecordNamesAreChecked) {
    const std::pair<std::string, const char*> cases[] = {
        {"alice", nullptr},       {"alice.wav", nullptr}, // saved with the extension twice
        {"a b-c_1", nullptr},     {std::string(251, 'n'), nullptr},
        {"", kMsgNoFileName},     {std::string(252, 'n'), kMsgFileNameTooLong},
        {"a/b", kMsgBadFileName}, {"a\\b", kMsgBadFileName},
        {"c:", kMsgBadFileName},  {"*", kMsgBadFileName},
        {"?", kMsgBadFileName},   {"\"", kMsgBadFileName},
        {"<", kMsgBadFileName},   {">", kMsgBadFileName},
        {"x|y", kMsgBadFileName},
    };
    for (auto& [name, message] : cases)
        EXPECT_EQ(message, CheckRecordName(name.c_str())) << name;
    EXPECT_STREQ("Please input file name!", kMsgNoFileName);
    EXPECT_STREQ("File name cloud not include\n / \\ : * ? \" < > |", kMsgBadFileName);
}

TEST_F(PlaybackDialogsTest, TheListHoldsTheWaveFilesThenTheClearEntry) {
    std::vector<std::string> items = MakeSelFileList("wav");
    EXPECT_EQ(std::vector<std::string>{kClearEntry}, items);
    EXPECT_EQ(-1, InitialSelFileSelection(items));
    EXPECT_EQ(std::string(16, '-') + "<CLEAR>" + std::string(16, '-'), kClearEntry);

    WriteFile("wav/b.wav", "");
    WriteFile("wav/A.WAV", "");
    WriteFile("wav/notes.txt", "");
    WriteFile("top.wav", "");
    items = MakeSelFileList("wav");
    EXPECT_EQ((std::vector<std::string>{"A.WAV", "b.wav", kClearEntry}), items);
    EXPECT_EQ(0, InitialSelFileSelection(items));
}

TEST_F(PlaybackDialogsTest, SelectReturnsTheChosenNameOrNothing) {
    const std::vector<std::string> items = {"a.wav", "b.wav", kClearEntry};
    const std::pair<int, const char*> cases[] = {
        {0, "a.wav"}, {1, "b.wav"}, {2, ""}, {-1, ""}, {3, ""},
    };
    for (auto& [selected, name] : cases) {
        std::memset(state.itemText, 'Q', sizeof state.itemText);
        SelectPlaybackFile(items, selected, state);
        EXPECT_STREQ(name, state.itemText) << selected;
        EXPECT_EQ('\0', state.itemText[sizeof state.itemText - 1]);
    }
}

TEST_F(PlaybackDialogsTest, DeleteRemovesOnlyTheSelectedFileInWav) {
    WriteFile("wav/a.wav", "");
    WriteFile("wav/b.wav", "");
    WriteFile("keep.wav", "");
    const std::vector<std::string> items = {
        "a.wav", "b.wav", kClearEntry, "../keep.wav", "..\\keep.wav", "..", std::string(300, 'a'),
    };
    for (int selected : {-1, 2, 3, 4, 5, 6, 7}) {
        EXPECT_FALSE(DeletePlaybackFile(items, selected, state)) << selected;
    }
    EXPECT_TRUE(std::filesystem::exists("keep.wav"));
    EXPECT_TRUE(std::filesystem::exists("wav"));

    EXPECT_TRUE(DeletePlaybackFile(items, 1, state));
    EXPECT_FALSE(std::filesystem::exists("wav/b.wav"));
    EXPECT_TRUE(std::filesystem::exists("wav/a.wav"));
    EXPECT_FALSE(DeletePlaybackFile(items, 1, state)); // already gone
}

} // namespace
