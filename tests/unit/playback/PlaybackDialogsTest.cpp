#include "PlaybackFakes.h"

#include "bridge/BridgeState.h"
#include "playback/PlaybackDialogs.h"

#include <filesystem>

void PrintTo(NameFault fault, std::ostream* os) {
    const char* names[] = {"None",      "Empty",      "BadCharacter", "TooLong",
                           "BadEnding", "PromptName", "DeviceName"};
    *os << names[static_cast<int>(fault)];
}

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

// One check for a name typed into the recorder (the ".wav" comes later) and, through
// CheckPlaybackFile, for a file listed in "wav".
TEST_F(PlaybackDialogsTest, PlaybackNamesThatWouldDestroyEscapeOrNotComeBackAreRefused) {
    const std::string longest(kMaxPlaybackStem, 'n');
    const struct Case {
        std::string name;
        NameFault fault;
    } cases[] = {
        {"alice", NameFault::None},
        {"alice.wav", NameFault::None}, // saved with the extension twice
        {"a b-c_1", NameFault::None},
        {"  leading blanks", NameFault::None},
        {"3.--arrow 3.-", NameFault::None},
        {"tones", NameFault::None},
        {"my tone", NameFault::None},
        {"tone.wav", NameFault::None}, // "tone.wav.wav" overwrites nothing
        {"CONSOLE", NameFault::None},
        {"COM10", NameFault::None},
        {"COM0", NameFault::None},
        {"LPT", NameFault::None},
        {"nul-and-void", NameFault::None},
        {".hidden", NameFault::None},
        {"caf\xe9", NameFault::None},
        {longest, NameFault::None},

        {"", NameFault::Empty},

        {"a/b", NameFault::BadCharacter},
        {"a\\b", NameFault::BadCharacter},
        {"c:", NameFault::BadCharacter},
        {"*", NameFault::BadCharacter},
        {"?", NameFault::BadCharacter},
        {"\"", NameFault::BadCharacter},
        {"<", NameFault::BadCharacter},
        {">", NameFault::BadCharacter},
        {"x|y", NameFault::BadCharacter},
        {"3.-->x", NameFault::BadCharacter},     // so no name holds a settings line's prefix
        {"two\nlines", NameFault::BadCharacter}, // would end the settings line
        {"cr\rin", NameFault::BadCharacter},
        {"tab\there", NameFault::BadCharacter},
        {"\x1a", NameFault::BadCharacter},

        {longest + "n", NameFault::TooLong}, // its settings line would be cut
        {std::string(251, 'n'), NameFault::TooLong},

        {"trailing.", NameFault::BadEnding},
        {"trailing ", NameFault::BadEnding},
        {"dots...", NameFault::BadEnding},
        {".", NameFault::BadEnding},
        {"..", NameFault::BadEnding},
        {" ", NameFault::BadEnding},

        {"tone", NameFault::PromptName}, // saved beside Kestrel before the move
        {"NOTIFY", NameFault::PromptName},
        {"Error", NameFault::PromptName},

        {"CON", NameFault::DeviceName},
        {"con", NameFault::DeviceName},
        {"Prn", NameFault::DeviceName},
        {"aux", NameFault::DeviceName},
        {"NUL", NameFault::DeviceName},
        {"nul.txt", NameFault::DeviceName},
        {"NUL.tar.gz", NameFault::DeviceName},
        {"con .x", NameFault::DeviceName},
        {"COM1", NameFault::DeviceName},
        {"com5.wav", NameFault::DeviceName},
        {"COM9", NameFault::DeviceName},
        {"lpt1", NameFault::DeviceName},
        {"LPT9.log", NameFault::DeviceName},
        {"COM\xb9", NameFault::DeviceName}, // superscript one in the ANSI code page
        {"lpt\xb3", NameFault::DeviceName},
        {"CONIN$", NameFault::DeviceName},
        {"conout$.x", NameFault::DeviceName},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.name << '"');
        EXPECT_EQ(c.fault, CheckPlaybackName(c.name.c_str()));
        // The same name listed in "wav", as the file-choice dialog sees it; there a dot or a
        // blank before the extension is part of a proper file name.
        const NameFault listed = c.fault == NameFault::BadEnding ? NameFault::None : c.fault;
        EXPECT_EQ(listed, CheckPlaybackFile((c.name + ".wav").c_str()));
        EXPECT_EQ(listed, CheckPlaybackFile((c.name + ".WAV").c_str()));
        EXPECT_EQ(NameFaultMessage(c.fault), CheckRecordName(c.name.c_str()));
    }
    EXPECT_EQ(NameFault::BadEnding, CheckPlaybackFile("listed.wav "));
    EXPECT_EQ(NameFault::BadEnding, CheckPlaybackFile("listed.wav."));
    EXPECT_EQ(NameFault::None, CheckPlaybackFile("listed.wave")); // matched by its short name
    EXPECT_EQ(NameFault::TooLong,
              CheckPlaybackFile(std::string(kMaxPlaybackStem + 1, 'w').c_str()));
}

TEST_F(PlaybackDialogsTest, EveryRefusalHasItsMessage) {
    const std::pair<NameFault, const char*> cases[] = {
        {NameFault::None, nullptr},
        {NameFault::Empty, "Please input file name!"},
        {NameFault::BadCharacter, "File name cloud not include\n / \\ : * ? \" < > |"},
        {NameFault::TooLong, "File name is too long!"},
        {NameFault::BadEnding, kMsgFileNameEnd},
        {NameFault::PromptName, kMsgReservedFileName},
        {NameFault::DeviceName, kMsgReservedFileName},
    };
    for (auto& [fault, text] : cases) {
        if (text == nullptr)
            EXPECT_EQ(nullptr, NameFaultMessage(fault));
        else
            EXPECT_STREQ(text, NameFaultMessage(fault));
    }
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
        EXPECT_EQ(nullptr, SelectPlaybackFile(items, selected, state));
        EXPECT_STREQ(name, state.itemText) << selected;
        EXPECT_EQ('\0', state.itemText[sizeof state.itemText - 1]);
    }
}

// A listed file whose name the slot could not keep is refused with the recorder's message, and
// nothing is handed back.
TEST_F(PlaybackDialogsTest, SelectRefusesNamesTheSettingsFileCannotCarry) {
    const std::vector<std::string> items = {std::string(kMaxPlaybackStem + 1, 'w') + ".wav",
                                            "con.wav", "tone.wav", "dot.wav.", kClearEntry};
    for (int selected = 0; selected < 4; ++selected) {
        SCOPED_TRACE(items[static_cast<size_t>(selected)]);
        std::memset(state.itemText, 'Q', sizeof state.itemText);
        const char* refusal = SelectPlaybackFile(items, selected, state);
        EXPECT_EQ(NameFaultMessage(CheckPlaybackFile(items[static_cast<size_t>(selected)].c_str())),
                  refusal);
        EXPECT_NE(nullptr, refusal);
        EXPECT_STREQ("", state.itemText);
    }
}

TEST_F(PlaybackDialogsTest, DeleteRemovesOnlyTheSelectedFileInWav) {
    WriteFile("wav/a.wav", "");
    WriteFile("wav/b.wav", "");
    WriteFile("wav/tone.wav", "");
    WriteFile("wav/x.wav", "");
    WriteFile("keep.wav", "");
    const std::vector<std::string> items = {
        "a.wav",
        "b.wav",
        kClearEntry,
        "../keep.wav",
        "..\\keep.wav",
        "..",
        std::string(300, 'a'),
        // Windows drops the trailing dot or blank and would delete "x.wav" instead.
        "x.wav.",
        "x.wav ",
        // A device, not a file.
        "NUL.wav",
        // A name that may not be recorded any more, but may still be cleared away.
        "tone.wav",
    };
    for (int selected : {-1, 2, 3, 4, 5, 6, 7, 8, 9, 11}) {
        EXPECT_FALSE(DeletePlaybackFile(items, selected, state)) << selected;
    }
    EXPECT_TRUE(std::filesystem::exists("keep.wav"));
    EXPECT_TRUE(std::filesystem::exists("wav/x.wav"));
    EXPECT_TRUE(std::filesystem::exists("wav"));

    EXPECT_TRUE(DeletePlaybackFile(items, 1, state));
    EXPECT_FALSE(std::filesystem::exists("wav/b.wav"));
    EXPECT_TRUE(std::filesystem::exists("wav/a.wav"));
    EXPECT_FALSE(DeletePlaybackFile(items, 1, state)); // already gone

    EXPECT_TRUE(DeletePlaybackFile(items, 10, state));
    EXPECT_FALSE(std::filesystem::exists("wav/tone.wav"));
}

} // namespace
