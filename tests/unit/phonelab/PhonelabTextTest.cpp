// The portable parts of phonelab: the scenario language and the reading of the lab log.
#include "phonelab/LogText.h"
#include "phonelab/Script.h"
#include "phonelab/SoundText.h"

#include <gtest/gtest.h>

namespace {

Step ParseOk(ScriptParser& parser, const std::string& line) {
    Step step;
    bool empty = true;
    std::string error;
    EXPECT_TRUE(parser.ParseLine(line, 7, &step, &empty, &error)) << line << ": " << error;
    EXPECT_FALSE(empty) << line;
    return step;
}

std::string ParseError(const std::string& line) {
    ScriptParser parser;
    Step step;
    bool empty = false;
    std::string error;
    EXPECT_FALSE(parser.ParseLine(line, 1, &step, &empty, &error)) << line;
    return error;
}

} // namespace

TEST(PhonelabTokenize, QuotesEscapesAndComments) {
    std::vector<Token> t;
    std::string error;
    ASSERT_TRUE(Tokenize("expect messagebox \"a \\\"b\\\"\\n# c\\\\\" within 2s", &t, &error));
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(t[2].text, "a \"b\"\n# c\\");
    EXPECT_TRUE(t[2].quoted);
    EXPECT_EQ(t[4].text, "2s");
    EXPECT_FALSE(t[4].quoted);

    // '#' is a key of the telephone; only a whole line is a comment.
    ASSERT_TRUE(Tokenize("phone dial 12# ", &t, &error));
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[2].text, "12#");
    ASSERT_TRUE(Tokenize("  # phone dial 12#", &t, &error));
    EXPECT_TRUE(t.empty());

    EXPECT_FALSE(Tokenize("lab \"phone offhook", &t, &error));
    EXPECT_FALSE(Tokenize("lab \"a\\qb\"", &t, &error));
    EXPECT_FALSE(Tokenize("lab \"ends in a backslash\\", &t, &error));
    ASSERT_TRUE(Tokenize("lab \"\"", &t, &error)); // an empty text is still a token
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[1].text, "");
}

TEST(PhonelabNumbers, DurationsAndIntegers) {
    const struct {
        const char* text;
        bool ok;
        unsigned ms;
    } durations[] = {{"8s", true, 8000}, {"500ms", true, 500},   {"1.5s", true, 1500},
                     {"0ms", true, 0},   {"5", false, 0},        {"s", false, 0},
                     {"5m", false, 0},   {"1.2.3s", false, 0},   {"-1s", false, 0},
                     {".s", false, 0},   {"99999999s", false, 0}};
    for (const auto& d : durations) {
        unsigned ms = 12345;
        EXPECT_EQ(ParseDuration(d.text, &ms), d.ok) << d.text;
        if (d.ok) {
            EXPECT_EQ(ms, d.ms) << d.text;
        }
    }
    const struct {
        const char* text;
        bool ok;
        long value;
    } integers[] = {
        {"0x831C", true, 0x831C}, {"017", true, 17}, {"-1", true, -1},
        {"32769", true, 32769},   {"0", true, 0},    {"12a", false, 0},
        {"", false, 0},           {"0x", false, 0},  {"99999999999999999999", false, 0}};
    for (const auto& i : integers) {
        long v = 0;
        EXPECT_EQ(ParseInteger(i.text, &v), i.ok) << i.text;
        if (i.ok) {
            EXPECT_EQ(v, i.value) << i.text;
        }
    }
}

TEST(PhonelabScript, StepsBecomeWhatTheRunnerDoes) {
    ScriptParser p;
    Step s = ParseOk(p, "product 0x831C");
    EXPECT_EQ(s.kind, StepKind::Env);
    EXPECT_EQ(s.text, "KESTREL_LAB_PRODUCT");
    EXPECT_EQ(s.text2, "0x831C");
    EXPECT_EQ(s.line, 7);

    s = ParseOk(p, "skype ring 17 from alice");
    EXPECT_EQ(s.kind, StepKind::SkypeSend);
    EXPECT_EQ(s.text, "CALL 17 STATUS RINGING");
    s = ParseOk(p, "skype status 17 INPROGRESS");
    EXPECT_EQ(s.text, "CALL 17 STATUS INPROGRESS");

    s = ParseOk(p, "skype hang 6.5s");
    EXPECT_EQ(s.kind, StepKind::SkypeHang);
    EXPECT_EQ(s.ms, 6500u);

    s = ParseOk(p, "attach 1 32769 0");
    EXPECT_EQ(s.kind, StepKind::Attach);
    EXPECT_EQ(s.numbers, (std::vector<long>{1, 32769, 0}));

    s = ParseOk(p, "expect skype \"CALL +12345\" within 1s");
    EXPECT_EQ(s.kind, StepKind::ExpectSkype);
    EXPECT_EQ(s.text, "CALL +12345");
    EXPECT_EQ(s.ms, 1000u);

    s = ParseOk(p, "pstn line busy");
    EXPECT_EQ(s.kind, StepKind::Lab);
    EXPECT_EQ(s.text, "pstn line busy");
    s = ParseOk(p, "phone dtmf #");
    EXPECT_EQ(s.text, "phone dtmf #");
    s = ParseOk(p, "unplug");
    EXPECT_EQ(s.text, "unplug");

    s = ParseOk(p, "expect lab \"slic 64\" = -1 within 200ms");
    EXPECT_EQ(s.kind, StepKind::ExpectLab);
    EXPECT_EQ(s.number, -1);

    s = ParseOk(p, "expect phone silent for 3s");
    EXPECT_EQ(s.kind, StepKind::ExpectPhone);
    EXPECT_FALSE(s.flag);
    EXPECT_TRUE(s.stay);

    s = ParseOk(p, "expect log order \"17 0\" \"32 0\" \"1 0\"");
    EXPECT_EQ(s.texts.size(), 3u);
    EXPECT_EQ(s.ms, 0u);

    s = ParseOk(p, "expect no log \"FAULT\"");
    EXPECT_EQ(s.kind, StepKind::ExpectLog);
    EXPECT_TRUE(s.flag);

    s = ParseOk(p, "kestrel tray right");
    EXPECT_EQ(s.kind, StepKind::KestrelTray);
    EXPECT_EQ(s.number, 0x0204);

    // A value that must hold for a while, not just be reached.
    s = ParseOk(p, "expect lab \"line?\" = 1 for 4s");
    EXPECT_EQ(s.kind, StepKind::ExpectLab);
    EXPECT_TRUE(s.stay);
    EXPECT_EQ(s.ms, 4000u);
    EXPECT_FALSE(ParseOk(p, "expect lab \"line?\" = 1 within 4s").stay);
    s = ParseOk(p, "expect lab \"line?\" != 0 within 1s");
    EXPECT_TRUE(s.flag);
    EXPECT_EQ(s.number, 0);
    EXPECT_FALSE(ParseOk(p, "expect lab \"line?\" = 0 within 1s").flag);
}

TEST(PhonelabScript, NotificationAreaSteps) {
    ScriptParser p;
    EXPECT_EQ(ParseOk(p, "explorer restart").kind, StepKind::ExplorerRestart);
    Step s = ParseOk(p, "expect tray icons 1 within 5s");
    EXPECT_EQ(s.kind, StepKind::ExpectTrayIcons);
    EXPECT_EQ(s.number, 1);
    EXPECT_EQ(s.ms, 5000u);
    s = ParseOk(p, "tray click right");
    EXPECT_EQ(s.kind, StepKind::TrayClick);
    EXPECT_EQ(s.number, 0x0204); // WM_RBUTTONDOWN
    EXPECT_EQ(ParseOk(p, "tray click left").number, 0x0201);

    const struct {
        const char* line;
        const char* says;
    } bad[] = {
        {"explorer", "'restart'"},
        {"explorer crash", "'restart'"},
        {"expect tray icons -1 within 5s", "must not be negative"},
        {"expect tray icon 1 within 5s", "'icons'"},
        {"expect tray icons 1", "'within'"},
        {"tray click middle", "left or right"},
        {"tray left", "'click'"},
        {"expect lab \"line?\" = 1 during 4s", "'within' or 'for'"},
        {"expect lab \"line?\" == 1 within 4s", "'=', '!=' or '>='"},
        {"start kestrel as tray", "cannot name"},
    };
    for (const auto& c : bad)
        EXPECT_NE(ParseError(c.line).find(c.says), std::string::npos)
            << c.line << " -> " << ParseError(c.line);
}

TEST(PhonelabScript, SoundAndFileSteps) {
    ScriptParser p;
    Step s = ParseOk(p, "write wavefilesetup.ini \"3.-->hi.wav\\n\"");
    EXPECT_EQ(s.kind, StepKind::FileWrite);
    EXPECT_EQ(s.text, "wavefilesetup.ini");
    EXPECT_EQ(s.text2, "3.-->hi.wav\n");
    s = ParseOk(p, "copy notify.wav wav\\hi.wav");
    EXPECT_EQ(s.kind, StepKind::FileCopy);
    EXPECT_EQ(s.text2, "wav\\hi.wav");

    s = ParseOk(p, "sound mark");
    EXPECT_EQ(s.kind, StepKind::SoundMark);
    s = ParseOk(p, "expect sound within 3s");
    EXPECT_EQ(s.kind, StepKind::ExpectSound);
    EXPECT_FALSE(s.flag);
    EXPECT_EQ(s.ms, 3000u);
    s = ParseOk(p, "expect no sound for 2s");
    EXPECT_EQ(s.kind, StepKind::ExpectSound);
    EXPECT_TRUE(s.flag);

    // The plain form claims any match; "after sound" also wants the playback heard first.
    s = ParseOk(p, "expect skype \"CALL 3\" after sound within 5s");
    EXPECT_EQ(s.kind, StepKind::ExpectSkype);
    EXPECT_EQ(s.text, "CALL 3");
    EXPECT_TRUE(s.flag);
    EXPECT_FALSE(ParseOk(p, "expect skype \"CALL 3\" within 5s").flag);

    const struct {
        const char* line;
        const char* says;
    } bad[] = {
        {"write ..\\Kestrel.exe \"x\"", "current directory"},
        {"write C:\\x.ini \"x\"", "current directory"},
        {"write a.ini x", "double quotes"},
        {"copy notify.wav /tmp/x.wav", "current directory"},
        {"copy notify.wav", "where to copy"},
        {"expect no sound within 2s", "'for'"},
        {"expect skype \"CALL 3\" after noise within 5s", "'sound'"},
        {"sound check", "'mark'"},
    };
    for (const auto& c : bad)
        EXPECT_NE(ParseError(c.line).find(c.says), std::string::npos)
            << c.line << " -> " << ParseError(c.line);
}

TEST(PhonelabSound, SilenceIsZeroOrMidScaleBytes) {
    // 16-bit silence, 8-bit unsigned silence, then two 16-bit samples of a tone.
    const char bytes[] = {0, 0, 0, 0, '\x80', '\x80', 0x10, 0x27, '\xF0', '\xD8'};
    EXPECT_EQ(CountSounding(bytes, 6), 0u);
    EXPECT_EQ(CountSounding(bytes, sizeof bytes), 4u);
    EXPECT_EQ(CountSounding(bytes, 0), 0u);
}

TEST(PhonelabSound, PathsForWineAndTheScratchDirectory) {
    EXPECT_EQ(WinePath("/work/build/e2e x/alsa_out.raw"), "Z:\\work\\build\\e2e x\\alsa_out.raw");
    EXPECT_EQ(WinePath("C:\\a.raw"), "C:\\a.raw");
    EXPECT_EQ(WinePath(""), "");

    const struct {
        const char* path;
        bool ok;
    } cases[] = {{"wavefilesetup.ini", true},
                 {"wav\\hi.wav", true},
                 {"wav/hi.wav", true},
                 {"a b/c d.wav", true},
                 {"", false},
                 {"/etc/passwd", false},
                 {"\\\\server\\x", false},
                 {"C:x.wav", false},
                 {"..", false},
                 {"wav\\..\\..\\x", false},
                 {"./x", false},
                 {"wav//x", false},
                 {"wav\\", false}};
    for (const auto& c : cases)
        EXPECT_EQ(IsScratchPath(c.path), c.ok) << c.path;
}

TEST(PhonelabScript, InstanceNamesMustBeStartedFirst) {
    ScriptParser p;
    std::string error;
    Step s;
    bool empty;
    EXPECT_FALSE(p.ParseLine("expect second exit 0 within 5s", 1, &s, &empty, &error));
    ParseOk(p, "start kestrel as second");
    s = ParseOk(p, "expect second exit any within 5s");
    EXPECT_EQ(s.kind, StepKind::ExpectExit);
    EXPECT_EQ(s.text, "second");
    EXPECT_TRUE(s.flag);
    s = ParseOk(p, "second key escape");
    EXPECT_EQ(s.number, 0x1B);
    ParseOk(p, "expect no log from second");

    // A name that is also a step word would make later lines ambiguous.
    EXPECT_NE(ParseError("start kestrel as expect"), "");
    EXPECT_NE(ParseError("start kestrel as Two Words"), "");
}

TEST(PhonelabScript, MalformedLinesSayWhatWasWanted) {
    const struct {
        const char* line;
        const char* says;
    } cases[] = {
        {"expect skype CALL within 1s", "double quotes"},
        {"expect skype \"CALL 1\" within 1", "duration"},
        {"expect skype \"CALL 1\"", "within"},
        {"wait 5 s", "duration"},
        {"phone dial 12x", "digits"},
        {"phone dtmf 12", "one of"},
        {"remove ..\\Kestrel.exe", "plain file name"},
        {"remove /etc/passwd", "plain file name"},
        {"deny -1", "0 or more"},
        {"attach", "at least one"},
        {"expect log order \"a\" within 1s", "two texts"},
        {"skype auto maybe", "'off'"},
        {"skype hang", "duration"},
        {"skype hang 5", "duration"},
        {"skype sleep 5s", "hang or next after 'skype'"},
        {"pstn ring loud", "on or off"},
        {"product cafe", "product id"},
        {"frobnicate", "unknown step"},
        {"expect sunshine", "unknown expectation"},
        {"wait 1s extra", "unexpected 'extra'"},
    };
    for (const auto& c : cases)
        EXPECT_NE(ParseError(c.line).find(c.says), std::string::npos)
            << c.line << " -> " << ParseError(c.line);
}

TEST(PhonelabScript, WholeScriptReportsTheLineOfTheFirstError) {
    std::vector<Step> steps;
    std::string error;
    ASSERT_TRUE(ParseScript("# header\n\nstart kestrel\r\n  expect ready within 8s\n  # slow\n",
                            &steps, &error));
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[1].line, 4);
    EXPECT_EQ(steps[0].source, "start kestrel");

    EXPECT_FALSE(
        ParseScript("start kestrel\nwait 1s\nexpect ready in 8s\nbogus\n", &steps, &error));
    EXPECT_EQ(error.substr(0, 3), "3: ");
}

TEST(PhonelabLog, LivenessReadIsCodeThreeOfRegister64) {
    EXPECT_TRUE(IsLivenessRead("41 3 64 R slic[64] 11 -> 1"));
    EXPECT_TRUE(IsLivenessRead("pid 7 41 3 64 R slic[64] 00 -> 0 FAILED"));
    EXPECT_FALSE(IsLivenessRead("41 4 64 W slic[64] 11 -> 1")); // the line feed written
    EXPECT_FALSE(IsLivenessRead("41 3 65 R slic[65] 11 -> 1"));
    EXPECT_FALSE(IsLivenessRead("3 64 R slic[6"));
    EXPECT_FALSE(IsLivenessRead(""));
}

TEST(PhonelabLog, ASecondProcessShowsByPidOrByBrokenNumbering) {
    std::string which;
    EXPECT_FALSE(
        LogShowsProcess("1 0 0 -> 1\n2 16 0 -> 0\n3 3 64 R slic[64] 11 -> 1\n", 99, &which));
    EXPECT_TRUE(LogShowsProcess("1 0 0 -> 1\n2 16 0 -> 0\n1 0 0 -> 1\n3 3 64 -> 1\n", 99, &which));
    EXPECT_EQ(which, "1 0 0 -> 1");
    // With a pid on each line the numbering of two writers may interleave freely.
    EXPECT_FALSE(LogShowsProcess("pid 5 1 0 -> 1\npid 6 1 0 -> 1\npid 5 2 1 -> 1\n", 7, &which));
    EXPECT_TRUE(LogShowsProcess("pid 5 1 0 -> 1\npid=7 1 0 -> 1\n", 7, &which));
}

TEST(PhonelabLog, OrderCountsLineByLineBehindTheMark) {
    const std::string log = "1 17 0 -> 1\n2 32 0 -> 1\n3 1 0 -> 1\n4 32 0 -> 1\n";
    const std::vector<std::string> order = {" 17 0 ", " 32 0 ", " 1 0 "};
    EXPECT_EQ(CountInOrder(log, 0, order), 3u);
    EXPECT_EQ(CountInOrder(log, 0, {" 1 0 ", " 32 0 ", " 17 0 "}), 2u);
    // Two texts on one line do not count as an order.
    EXPECT_EQ(CountInOrder("x a b\n", 0, {"a", "b"}), 1u);
    EXPECT_EQ(CountInOrder(log, log.find("2 32"), order), 0u);
    EXPECT_EQ(CountInOrder(log, log.size() + 5, order), 0u);
}
