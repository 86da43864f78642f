// What long scenarios are made of: repeated blocks with variables, and the figures sampled
// from a process over a run.
#include "phonelab/Samples.h"
#include "phonelab/Script.h"

#include <gtest/gtest.h>

namespace {

std::vector<Step> ParseOk(const std::string& script,
                          const std::map<std::string, long>& presets = {}) {
    std::vector<Step> steps;
    std::string error;
    EXPECT_TRUE(ParseScript(script, presets, &steps, &error)) << error;
    return steps;
}

const char kRounds[] = "set rounds 2\n"
                       "repeat ${rounds} as r\n"
                       "  skype ring ${r}01 from a\n"
                       "  repeat 2 as k\n"
                       "    expect skype \"SET CALL ${r}0${k} STATUS FINISHED\" within 1s\n"
                       "  end\n"
                       "end\n"
                       "wait 1s\n";

} // namespace

TEST(PhonelabRepeat, BlocksNestWithTheirCountersAndKeepTheirLines) {
    const std::vector<Step> steps = ParseOk(kRounds);
    const struct {
        StepKind kind;
        const char* text;
        int line;
    } want[] = {
        {StepKind::SkypeSend, "CALL 101 STATUS RINGING", 3},
        {StepKind::ExpectSkype, "SET CALL 101 STATUS FINISHED", 5},
        {StepKind::ExpectSkype, "SET CALL 102 STATUS FINISHED", 5},
        {StepKind::SkypeSend, "CALL 201 STATUS RINGING", 3},
        {StepKind::ExpectSkype, "SET CALL 201 STATUS FINISHED", 5},
        {StepKind::ExpectSkype, "SET CALL 202 STATUS FINISHED", 5},
        {StepKind::Wait, "", 8},
    };
    ASSERT_EQ(steps.size(), sizeof want / sizeof want[0]);
    for (size_t i = 0; i < steps.size(); ++i) {
        EXPECT_EQ(steps[i].kind, want[i].kind) << i;
        EXPECT_EQ(steps[i].text, want[i].text) << i;
        EXPECT_EQ(steps[i].line, want[i].line) << i;
    }
    // A report shows the line as it ran.
    EXPECT_EQ(steps[4].source, "    expect skype \"SET CALL 201 STATUS FINISHED\" within 1s");
}

TEST(PhonelabRepeat, PresetsWinOverTheScriptsOwnValues) {
    EXPECT_EQ(ParseOk(kRounds, {{"rounds", 5}}).size(), 5u * 3 + 1);
    EXPECT_EQ(ParseOk(kRounds, {{"rounds", 0}}).size(), 1u);
    // Without braces a '$' is text (chat names have them).
    const std::vector<Step> steps = ParseOk("skype send \"CHAT #bob/$alice;1 X\"\n");
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].text, "CHAT #bob/$alice;1 X");

    std::string name;
    long value = 0;
    EXPECT_TRUE(ParsePreset("rounds=12", &name, &value));
    EXPECT_EQ(name, "rounds");
    EXPECT_EQ(value, 12);
    for (const char* bad : {"rounds", "Rounds=1", "rounds=x", "=3", "9r=1", "rounds=1s"})
        EXPECT_FALSE(ParsePreset(bad, &name, &value)) << bad;
}

TEST(PhonelabRepeat, MalformedBlocksSayWhichLine) {
    const struct {
        const char* script;
        const char* error;
    } cases[] = {
        {"wait 1s\nrepeat 2\nwait 1s\n", "2: repeat without its end"},
        {"repeat 2\nrepeat 3\nend\n", "1: repeat without its end"},
        {"wait 1s\nend\n", "2: end without a repeat"},
        {"repeat 2\nwait 1s\nbogus\nend\n", "3: unknown step 'bogus'"},
        {"wait ${x}s\n", "1: unknown variable 'x'"},
        {"wait ${x\n", "1: unterminated ${"},
        {"repeat -1\nend\n", "1: a repeat count must be 0 to 100000"},
        {"repeat two\nend\n", "1: expected repeat <count> [as <name>]"},
        {"repeat 2 as R\nend\n", "1: 'R' cannot name a variable"},
        {"set 9x 1\n", "1: expected set <name> <integer> (name: a-z 0-9 _)"},
        {"set x 1 2\n", "1: expected set <name> <integer> (name: a-z 0-9 _)"},
        // A runaway product of counts stops at a bound instead of eating the memory.
        {"repeat 1000\nrepeat 1000\nwait 1s\nend\nend\n", "3: more than 100000 steps"},
    };
    for (const auto& c : cases) {
        std::vector<Step> steps;
        std::string error;
        EXPECT_FALSE(ParseScript(c.script, &steps, &error)) << c.script;
        EXPECT_EQ(error, c.error) << c.script;
    }
    // Line by line (the console) there is no block to close.
    ScriptParser parser;
    Step step;
    bool empty = false;
    std::string error;
    EXPECT_FALSE(parser.ParseLine("repeat 2", 1, &step, &empty, &error));
    EXPECT_EQ(error, "'repeat' belongs to a whole scenario file");
}

TEST(PhonelabSamples, SamplingStepsAndTheirAllowances) {
    std::vector<Step> steps =
        ParseOk("start kestrel\nsample kestrel every 2s\n"
                "expect samples flat allowing private 2MB handles 16 threads 0\n"
                "expect samples flat allowing gdi 3 private 512KB\n");
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_EQ(steps[1].kind, StepKind::SampleStart);
    EXPECT_EQ(steps[1].text, "kestrel");
    EXPECT_EQ(steps[1].ms, 2000u);
    EXPECT_EQ(steps[2].kind, StepKind::ExpectFlat);
    EXPECT_EQ(steps[2].numbers, (std::vector<long>{2048, 16, -1, -1, 0}));
    EXPECT_EQ(steps[3].numbers, (std::vector<long>{512, -1, 3, -1, -1}));

    steps = ParseOk("skype next call 1501\nexpect lab \"calls?\" >= 100000 within 180s\n");
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].kind, StepKind::SkypeNextCall);
    EXPECT_EQ(steps[0].number, 1501);
    EXPECT_EQ(steps[1].kind, StepKind::ExpectLab);
    EXPECT_EQ(steps[1].text2, ">=");
    EXPECT_EQ(steps[1].number, 100000);
    EXPECT_FALSE(steps[1].flag);

    const struct {
        const char* line;
        const char* error;
    } bad[] = {
        {"sample second every 1s", "no instance 'second' was started before"},
        {"sample kestrel every 10ms", "sample at most every 100ms"},
        {"expect samples flat allowing", "expected at least one figure and its allowance"},
        {"expect samples flat allowing private 512",
         "expected an allowance in KB or MB like 512KB, got '512'"},
        {"expect samples flat allowing handles 1 handles 2", "'handles' twice"},
        {"expect samples flat allowing handles -1", "an allowance must be 0 or more"},
        {"expect samples flat allowing files 1", "expected private, handles, gdi, user or threads"},
        {"skype next call 0", "a call id is 1 to 999999999"},
        {"expect lab \"calls?\" > 1 within 1s", "expected '=', '!=' or '>='"},
    };
    for (const auto& b : bad) {
        ScriptParser parser;
        Step step;
        bool empty = false;
        std::string error;
        EXPECT_FALSE(parser.ParseLine(b.line, 1, &step, &empty, &error)) << b.line;
        EXPECT_EQ(error, b.error) << b.line;
    }
}

TEST(PhonelabSamples, GrowthBeyondTheAllowanceFailsAndMissingFiguresAreSaidSo) {
    // private, handles, gdi (never reported), user (missing once), threads
    const long long rows[][kSampleFigures] = {
        {5000, 80, 0, 30, 9}, {5600, 95, 0, -1, 12}, {5200, 97, 0, 31, 9}};
    SampleSeries series;
    series.SetNote(kGdiObjects, "GetGuiResources gave 0");
    uint64_t at = 1000;
    for (const auto& row : rows) {
        Sample s;
        s.atMs = at;
        at += 3000;
        for (int f = 0; f < kSampleFigures; ++f) {
            s.have[f] = f != kGdiObjects && row[f] >= 0;
            s.value[f] = row[f];
        }
        series.Add(s);
    }
    EXPECT_EQ(series.Count(), 3u);
    EXPECT_EQ(series.First(kPrivateKB), 5000);
    EXPECT_EQ(series.Last(kPrivateKB), 5200);
    EXPECT_EQ(series.Max(kPrivateKB), 5600);
    EXPECT_EQ(series.Max(kThreads), 12);

    std::string table;
    // The end counts, not a peak on the way: private ended 200 KB up, threads where they began.
    EXPECT_TRUE(series.Flat({256, 17, 4, 4, 0}, &table)) << table;
    EXPECT_NE(table.find("gdi"), std::string::npos);
    EXPECT_NE(table.find("not reported (GetGuiResources gave 0)"), std::string::npos) << table;
    EXPECT_NE(table.find("samples: 3 over 6 s"), std::string::npos) << table;

    EXPECT_FALSE(series.Flat({256, 16, 4, 4, 0}, &table));
    EXPECT_NE(table.find("GREW +17"), std::string::npos) << table;
    EXPECT_FALSE(series.Flat({199, -1, -1, -1, -1}, &table));
    EXPECT_NE(table.find("not checked"), std::string::npos) << table;

    EXPECT_EQ(SampleCsvHeader(), "ms,private_kb,handles,gdi,user,threads\n");
    Sample partial;
    partial.atMs = 42;
    partial.have[kHandles] = true;
    partial.value[kHandles] = 7;
    EXPECT_EQ(SampleCsvLine(partial), "42,,7,,,\n");
}
