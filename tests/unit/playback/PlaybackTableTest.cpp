#include "PlaybackFakes.h"

#include "bridge/BridgeState.h"
#include "playback/PlaybackDialogs.h"
#include "playback/PlaybackTable.h"

#include <filesystem>
#include <map>
#include <random>
#include <utility>

namespace {

class PlaybackTableTest : public PlaybackTest {
  protected:
    FakeSlots wnd;
    BridgeState state;
};

std::map<int, std::string> Filled(const FakeSlots& wnd) {
    std::map<int, std::string> filled;
    for (int n = 1; n <= 20; ++n)
        if (wnd.playEnabled[n] || !wnd.names[n].empty()) filled[n] = wnd.names[n];
    return filled;
}

TEST_F(PlaybackTableTest, LoadReadsEachPrefixedLine) {
    const std::string a249(249, 'a'), n250(250, 'n');
    struct Case {
        const char* what;
        std::string file;
        std::map<int, std::string> slots; // filled slots (name set, Play enabled)
    } cases[] = {
        {"slots 1, 11, 12",
         "1.-->one.wav\r\n11.-->eleven.wav\r\n12.-->twelve a.wav\r\n",
         {{1, "one.wav"}, {11, "eleven.wav"}, {12, "twelve a.wav"}}},
        {"slots 0 and 21", "0.-->zero.wav\r\n21.-->x.wav\r\n00.-->y\r\n", {}},
        {"leading zero, blanks, mid-line prefix",
         "03.-->a\r\n 3.-->b\r\nx3.-->c\r\nsee 4.-->d\r\n\r\n3.->e\r\n",
         {}},
        {"LF only and no final line end", "4.-->d.wav\n5.-->e.wav", {{4, "d.wav"}, {5, "e.wav"}}},
        {"a later line wins", "6.-->first\r\n6.-->second\r\n", {{6, "second"}}},
        {"nothing after the prefix", "7.-->\r\n", {{7, ""}}},
        {"a full 255-character piece", "10.-->" + a249 + "\r\n", {{10, a249}}},
        {"a longer line loses its tail", "10.-->" + n250 + "\r\n", {{10, std::string(249, 'n')}}},
        {"a tail that begins with a prefix",
         "1.-->" + n250 + "2.-->tail\r\n",
         {{1, n250}, {2, "tail"}}},
        {"binary junk",
         std::string("\0\xff\x01junk\r\n8.-->ok\0rest\r\n\xfe\xff", 25),
         {{8, "ok"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        wnd = FakeSlots{};
        WriteFile(kPlaybackSettingsFile, c.file);
        LoadPlaybackTable(wnd);
        EXPECT_EQ(c.slots, Filled(wnd));
        for (auto& [slot, name] : c.slots)
            EXPECT_TRUE(wnd.playEnabled[slot]) << slot;
    }
}

TEST_F(PlaybackTableTest, LoadWithoutAFileLeavesEverySlotEmpty) {
    LoadPlaybackTable(wnd);
    EXPECT_TRUE(Filled(wnd).empty());
}

TEST_F(PlaybackTableTest, LoadSurvivesHugeFiles) {
    std::string file;
    for (int i = 0; i < 5000; ++i)
        file += "junk line " + std::to_string(i) + "\r\n";
    file += std::string(100000, '\x80') + "\n";
    file += std::string(300000, '\n');
    file += "20.-->last.wav\r\n";
    WriteFile(kPlaybackSettingsFile, file);
    LoadPlaybackTable(wnd);
    EXPECT_EQ((std::map<int, std::string>{{20, "last.wav"}}), Filled(wnd));
}

TEST_F(PlaybackTableTest, SaveWritesCrLfLinesInSlotOrder) {
    wnd.names[12] = "twelve.wav";
    wnd.names[1] = "my one.wav";
    ASSERT_TRUE(SavePlaybackTable(wnd));
    EXPECT_EQ("1.-->my one.wav\r\n12.-->twelve.wav\r\n", ReadFile(kPlaybackSettingsFile));
    EXPECT_FALSE(std::filesystem::exists(std::string(kPlaybackSettingsFile) + ".tmp"));

    wnd = FakeSlots{};
    ASSERT_TRUE(SavePlaybackTable(wnd));
    EXPECT_EQ("", ReadFile(kPlaybackSettingsFile));
}

TEST_F(PlaybackTableTest, SaveAndLoadGiveBackTheLongestNames) {
    for (int n = 1; n <= 20; ++n) {
        // The longest names whose line fits one 255-character piece, blanks included.
        std::string name = std::to_string(n) + " " + std::string(n < 10 ? 247 : 246, 'x');
        wnd.names[n] = name.substr(0, n < 10 ? 249 : 248);
    }
    ASSERT_TRUE(SavePlaybackTable(wnd));
    FakeSlots loaded;
    LoadPlaybackTable(loaded);
    for (int n = 1; n <= 20; ++n) {
        EXPECT_EQ(wnd.names[n], loaded.names[n]) << n;
        EXPECT_TRUE(loaded.playEnabled[n]) << n;
    }
}

// Saves the names in slots 1 to 20 and loads them back into an empty table.
FakeSlots RoundTrip(const FakeSlots& wnd) {
    FakeSlots saved = wnd;
    EXPECT_TRUE(SavePlaybackTable(saved));
    FakeSlots loaded;
    LoadPlaybackTable(loaded);
    return loaded;
}

// Whatever name the file choice accepts for a slot, the settings file gives back whole: the
// longest ones in every slot, every byte at the start, inside and at the end of a name, and a
// seeded crowd of awkward ones.
TEST_F(PlaybackTableTest, EveryAcceptedNameComesBackWhole) {
    std::vector<std::string> accepted;
    auto offer = [&accepted](const std::string& name) {
        if (CheckPlaybackFile(name.c_str()) == NameFault::None) accepted.push_back(name);
    };
    for (int n = 1; n <= 20; ++n) {
        offer(std::string(kMaxPlaybackStem, 'x') + ".wav");
        offer(std::to_string(n) + ".--" + std::string(kMaxPlaybackStem - 8, ' ') + "x.wav");
    }
    for (int b = 1; b < 256; ++b) {
        const std::string c(1, static_cast<char>(b));
        offer(c + "lead.wav");
        offer("in" + c + "side.wav");
        offer("trail" + c);
        offer(std::string(kMaxPlaybackStem - 1, 'y') + c + ".wav");
    }
    std::mt19937 random(20050412);
    const std::string awkward = " .-->\r\n\t\x1a\x7f\x80\xff\xb9:/\\\"*?<>|=#;[]CONULPTcom1234569";
    for (int i = 0; i < 4000; ++i) {
        size_t length = random() % 3 == 0 ? kMaxPlaybackStem - 3 + random() % 8 : 1 + random() % 12;
        std::string name;
        for (size_t k = 0; k < length; ++k)
            name += random() % 2 ? awkward[random() % awkward.size()]
                                 : static_cast<char>(1 + random() % 255);
        offer(random() % 4 ? name + ".wav" : name);
    }
    ASSERT_GT(accepted.size(), 1000u);

    for (size_t first = 0; first < accepted.size(); first += 20) {
        FakeSlots names;
        for (int n = 1; n <= 20; ++n)
            names.names[n] = accepted[(first + static_cast<size_t>(n) - 1) % accepted.size()];
        FakeSlots loaded = RoundTrip(names);
        for (int n = 1; n <= 20; ++n) {
            ASSERT_EQ(names.names[n], loaded.names[n]) << "slot " << n;
            ASSERT_TRUE(loaded.playEnabled[n]) << "slot " << n;
        }
    }
}

// Each step of a save, failing in turn: the save reports it, the old file stays whole and no
// temporary file is left behind. Only a flushed and closed file is moved into place.
class StepFailingOps : public StdFileOps {
  public:
    explicit StepFailingOps(std::string failing) : failing_(std::move(failing)) {}

    std::FILE* OpenForWrite(const char* path) override {
        return Step("open") ? StdFileOps::OpenForWrite(path) : nullptr;
    }
    bool Write(std::FILE* f, const char* data, size_t size) override {
        if (Step("write")) return StdFileOps::Write(f, data, size);
        StdFileOps::Write(f, data, size / 2); // a full disk
        return false;
    }
    bool Flush(std::FILE* f) override { return Step("flush") && StdFileOps::Flush(f); }
    bool Close(std::FILE* f) override {
        bool closed = StdFileOps::Close(f);
        return Step("close") && closed;
    }
    bool Replace(const char* from, const char* to) override {
        return Step("move") && StdFileOps::Replace(from, to);
    }
    bool Remove(const char* path) override {
        steps += "remove ";
        return StdFileOps::Remove(path);
    }

    std::string steps;

  private:
    bool Step(const char* name) {
        steps += name;
        steps += ' ';
        return failing_ != name;
    }
    std::string failing_;
};

TEST_F(PlaybackTableTest, AFailedSaveKeepsTheOldFileWhole) {
    const std::string old = "3.-->old.wav\r\n";
    wnd.names[3] = "new.wav";
    wnd.names[4] = std::string(200, 'z');
    for (const char* failing : {"open", "write", "flush", "close", "move"}) {
        SCOPED_TRACE(failing);
        WriteFile(kPlaybackSettingsFile, old);
        StepFailingOps ops(failing);
        SetFileOps(&ops);
        EXPECT_FALSE(SavePlaybackTable(wnd));
        SetFileOps(nullptr);
        EXPECT_EQ(old, ReadFile(kPlaybackSettingsFile));
        EXPECT_FALSE(std::filesystem::exists(std::string(kPlaybackSettingsFile) + ".tmp"));
        // Nothing is moved into place after a failed step.
        if (std::string(failing) != "move") {
            EXPECT_EQ(std::string::npos, (" " + ops.steps).find(" move ")) << ops.steps;
        }
    }

    StepFailingOps ops("");
    SetFileOps(&ops);
    EXPECT_TRUE(SavePlaybackTable(wnd));
    SetFileOps(nullptr);
    EXPECT_EQ("open write flush close move ", ops.steps);
    EXPECT_EQ("3.-->new.wav\r\n4.-->" + std::string(200, 'z') + "\r\n",
              ReadFile(kPlaybackSettingsFile));
}

TEST_F(PlaybackTableTest, DropMissingPlaybacksEmptiesSlotsWhoseFileWent) {
    WriteFile("wav/here.wav", "RIFF");
    std::filesystem::create_directory("wav/adir.wav");
    const std::string file = "1.-->here.wav\r\n2.-->gone.wav\r\n3.-->adir.wav\r\n7.-->\r\n";
    WriteFile(kPlaybackSettingsFile, file);
    LoadPlaybackTable(wnd);

    DropMissingPlaybacks(wnd, state);
    EXPECT_EQ((std::map<int, std::string>{{1, "here.wav"}, {3, "adir.wav"}, {7, ""}}), Filled(wnd));
    EXPECT_FALSE(wnd.playEnabled[2]);
    EXPECT_TRUE(wnd.playEnabled[7]); // empty names are skipped
    EXPECT_EQ(file, ReadFile(kPlaybackSettingsFile));
}

TEST_F(PlaybackTableTest, PlayStopsTheDialToneThenPlaysTheSlotToTheEnd) {
    state.mainWnd = 0x100;
    wnd.names[4] = "four.wav";
    for (uint8_t idle : {0, 1}) {
        SCOPED_TRACE(idle);
        ResetWaveAudio();
        mci.nextDeviceId = 6;
        if (!idle) promptPlayer.Open("tone.wav"); // the dial tone, on device 6
        mci.calls.clear();
        mci.nextDeviceId = 7;
        state.playerIdle = idle;
        OnPlayN(wnd, state, 4);
        const std::string played = "OPEN(0,0x2200) PLAY(7,0x6) CLOSE(7,0x0)";
        EXPECT_EQ(idle ? played : "STOP(6,0x1) CLOSE(6,0x0) " + played, mci.Sequence());
        EXPECT_EQ(WavPath("four.wav"), mci.calls[idle ? 0 : 2].element);
        EXPECT_EQ(0x100u, mci.calls[idle ? 1 : 3].callback);
        // Idle afterwards either way: the tone's own late notice must find nothing to close.
        EXPECT_EQ(1, state.playerIdle);
    }
}

class FakeChooser : public PlaybackChooser {
  public:
    int result = kDialogOk;
    std::string choice;
    bool playEnabledDuringRun = true;
    FakeSlots* wnd = nullptr;
    int slot = 0;
    int Run(BridgeState& st) override {
        playEnabledDuringRun = wnd->playEnabled[slot];
        std::snprintf(st.itemText, sizeof st.itemText, "%s", choice.c_str());
        return result;
    }
};

TEST_F(PlaybackTableTest, SelectAppliesTheChoiceAndAlwaysSavesTheTable) {
    struct Case {
        const char* what;
        int result;
        const char* choice;
        const char* name; // slot 5 afterwards
        bool play;
        const char* file;
    } cases[] = {
        {"a file", kDialogOk, "new.wav", "new.wav", true, "2.-->two.wav\r\n5.-->new.wav\r\n"},
        {"the clear entry", kDialogOk, "", "", false, "2.-->two.wav\r\n"},
        {"cancelled or deleted", kDialogCancel, "ignored.wav", "five.wav", false,
         "2.-->two.wav\r\n5.-->five.wav\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        wnd = FakeSlots{};
        wnd.names[2] = "two.wav";
        wnd.names[5] = "five.wav";
        wnd.playEnabled[5] = true;
        WriteFile(kPlaybackSettingsFile, "stale\r\n");
        FakeChooser chooser;
        chooser.result = c.result;
        chooser.choice = c.choice;
        chooser.wnd = &wnd;
        chooser.slot = 5;

        OnSelectN(wnd, state, 5, chooser);
        EXPECT_FALSE(chooser.playEnabledDuringRun);
        EXPECT_EQ(c.name, wnd.names[5]);
        EXPECT_EQ(c.play, wnd.playEnabled[5]);
        EXPECT_EQ(c.file, ReadFile(kPlaybackSettingsFile));
    }
}

// A save that fails is told once, in plain words, however often it goes on failing; a save
// that works again ends the streak.
TEST_F(PlaybackTableTest, AFailingSaveIsToldOncePerStreak) {
    FakeChooser chooser;
    chooser.wnd = &wnd;
    chooser.slot = 2;
    chooser.choice = "two.wav";
    StepFailingOps failing("move");
    const std::string told = std::string("Error (owned): ") + kMsgSettingsNotSaved;

    SetFileOps(&failing);
    for (int i = 0; i < 3; ++i)
        OnSelectN(wnd, state, 2, chooser);
    EXPECT_EQ(std::vector<std::string>{told}, wnd.messages);
    EXPECT_EQ("two.wav", wnd.names[2]); // the change lives on in the field

    SetFileOps(nullptr);
    OnSelectN(wnd, state, 2, chooser);
    EXPECT_EQ(1u, wnd.messages.size());
    EXPECT_EQ("2.-->two.wav\r\n", ReadFile(kPlaybackSettingsFile));

    SetFileOps(&failing);
    OnSelectN(wnd, state, 2, chooser);
    OnSelectN(wnd, state, 2, chooser);
    SetFileOps(nullptr);
    EXPECT_EQ((std::vector<std::string>{told, told}), wnd.messages);
}

TEST_F(PlaybackTableTest, SpeedDialNamesSlotsOneToTwenty) {
    const std::pair<const char*, int> cases[] = {
        {"5", 5}, {"20", 20}, {"12", 12}, {"21", 0}, {"05", 0},
        {"0", 0}, {"123", 0}, {"", 0},    {"1*", 0}, {nullptr, 0},
    };
    for (auto& [dialed, slot] : cases)
        EXPECT_EQ(slot, SpeedDialSlot(dialed)) << (dialed ? dialed : "null");
}

TEST_F(PlaybackTableTest, SpeedDialPlaysOnlyAFilledSlot) {
    wnd.names[3] = "three.wav";
    state.mainWnd = 0x100;
    EXPECT_FALSE(PlaySpeedDialPlayback(wnd, state, "4"));
    EXPECT_FALSE(PlaySpeedDialPlayback(wnd, state, "03"));
    EXPECT_TRUE(mci.calls.empty());

    EXPECT_TRUE(PlaySpeedDialPlayback(wnd, state, "3"));
    EXPECT_EQ("OPEN(0,0x2200) PLAY(7,0x6) CLOSE(7,0x0)", mci.Sequence());
    EXPECT_EQ(WavPath("three.wav"), mci.calls[0].element);
    EXPECT_EQ(WavPath("three.wav"), std::string(state.wavPath));
}

} // namespace
