// The Win32 file operations under the playback table and the file-choice list.
#include "../PlaybackFakes.h"

#include "bridge/BridgeState.h"
#include "playback/PlaybackDialogs.h"
#include "playback/PlaybackTable.h"
#include "playback/win32/PlaybackWin32.h"

#include <algorithm>

namespace {

class PlaybackWin32Test : public PlaybackTest {
  protected:
    void SetUp() override {
        PlaybackTest::SetUp();
        SetFileOps(&ops);
    }
    FileOpsWin32 ops;
    FakeSlots wnd;
    BridgeState state;
};

TEST_F(PlaybackWin32Test, SavingReplacesTheExistingFile) {
    WriteFile(kPlaybackSettingsFile, "1.-->old.wav\r\n");
    wnd.names[2] = "new.wav";
    ASSERT_TRUE(SavePlaybackTable(wnd));
    EXPECT_EQ("2.-->new.wav\r\n", ReadFile(kPlaybackSettingsFile));
    EXPECT_FALSE(ops.Exists("wavefilesetup.ini.tmp"));
}

TEST_F(PlaybackWin32Test, MoveNeverReplacesAndRemoveTakesOneFile) {
    WriteFile("a.wav", "new");
    WriteFile("wav\\a.wav", "old");
    EXPECT_FALSE(ops.Move("a.wav", "wav\\a.wav"));
    EXPECT_EQ("old", ReadFile("wav\\a.wav"));
    EXPECT_TRUE(ops.Remove("wav\\a.wav"));
    EXPECT_TRUE(ops.Move("a.wav", "wav\\a.wav"));
    EXPECT_EQ("new", ReadFile("wav\\a.wav"));
}

TEST_F(PlaybackWin32Test, TheListTakesWaveFilesOfAnyCase) {
    WriteFile("wav\\one.wav", "");
    WriteFile("wav\\TWO.WAV", "");
    WriteFile("wav\\three.txt", "");
    std::vector<std::string> items = MakeSelFileList("wav");
    std::sort(items.begin(), items.end() - 1);
    EXPECT_EQ((std::vector<std::string>{"TWO.WAV", "one.wav", kClearEntry}), items);
}

TEST_F(PlaybackWin32Test, DropMissingPlaybacksLooksInWav) {
    WriteFile("wav\\here.wav", "");
    WriteFile("gone.wav", ""); // beside wav, not in it
    wnd.names[1] = "here.wav";
    wnd.names[2] = "gone.wav";
    DropMissingPlaybacks(wnd, state);
    EXPECT_EQ("here.wav", wnd.names[1]);
    EXPECT_EQ("", wnd.names[2]);
}

} // namespace
