// The scenario steps of caller ID: who rings and how Skype answers about them, line-feed
// expectations, and the checks left for the decoder after the run.
#include "phonelab/CallerIdCheck.h"
#include "phonelab/Script.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bool Parse(const std::string& line, Step* step, std::string* error) {
    ScriptParser parser;
    bool empty = false;
    return parser.ParseLine(line, 12, step, &empty, error) && !empty;
}

TEST(CallerIdSteps, RingCarriesTheCallerAndHowSkypeAnswers) {
    const struct {
        const char* line;
        std::vector<std::string> texts; // call id, user [, name]
        PartnerReply reply;
        unsigned ms;
        const char* error;
    } cases[] = {
        {"skype ring 17 from alice", {"17", "alice"}, PartnerReply::Now, 0, ""},
        {"skype ring 17 from +4930123456 name \"Alice Example\"",
         {"17", "+4930123456", "Alice Example"},
         PartnerReply::Now,
         0,
         ""},
        {"skype ring 5 from \"\" reply after 2.5s", {"5", ""}, PartnerReply::After, 2500, ""},
        {"skype ring 5 from \"a b\" name \"\" reply never",
         {"5", "a b", ""},
         PartnerReply::Never,
         0,
         ""},
        {"skype ring 5 from bob reply error \"ERROR 7 GET: invalid WHAT\"",
         {"5", "bob"},
         PartnerReply::Error,
         0,
         "ERROR 7 GET: invalid WHAT"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        Step s;
        std::string error;
        ASSERT_TRUE(Parse(c.line, &s, &error)) << error;
        EXPECT_EQ(StepKind::SkypeSend, s.kind);
        EXPECT_EQ("CALL " + c.texts[0] + " STATUS RINGING", s.text);
        EXPECT_EQ(c.texts, s.texts);
        EXPECT_EQ(c.reply, static_cast<PartnerReply>(s.number));
        EXPECT_EQ(c.ms, s.ms);
        EXPECT_EQ(c.error, s.text2);
    }
}

TEST(CallerIdSteps, LineFeedExpectationsAskTheLab) {
    const struct {
        const char* line;
        long state;
        bool negated, stay;
    } cases[] = {
        {"expect phone linefeed onhook-transmission within 1s", 2, false, false},
        {"expect phone linefeed not onhook-transmission for 1.5s", 2, true, true},
        {"expect phone linefeed active within 0s", 1, false, false},
        {"expect phone linefeed ringing for 1s", 4, false, true},
        {"expect phone linefeed open within 1s", 0, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        Step s;
        std::string error;
        ASSERT_TRUE(Parse(c.line, &s, &error)) << error;
        EXPECT_EQ(StepKind::ExpectLab, s.kind);
        EXPECT_EQ("phone linefeed?", s.text);
        EXPECT_EQ(c.state, s.number);
        EXPECT_EQ(c.negated, s.flag);
        EXPECT_EQ(c.stay, s.stay);
    }
    // The bell expectations next to them are as before.
    Step s;
    std::string error;
    ASSERT_TRUE(Parse("expect phone ringing for 2s", &s, &error)) << error;
    EXPECT_EQ(StepKind::ExpectPhone, s.kind);
    EXPECT_TRUE(s.flag && s.stay);
}

TEST(CallerIdSteps, ExpectationsBecomeDecoderChecks) {
    const struct {
        const char* line;
        const char* check; // the check file's line
        bool during;
    } cases[] = {
        {"expect callerid fsk \"4930123456\" \"Alice Example\" within 5s",
         "12\tcallerid-12.raw\tfsk\t=4930123456\t=Alice Example\n", false},
        {"expect callerid fsk private unavailable within 5s during onhook-transmission",
         "12\tcallerid-12.raw\tfsk\tprivate\tunavailable\n", true},
        {"expect callerid fsk unavailable \"Bob\" within 1s",
         "12\tcallerid-12.raw\tfsk\tunavailable\t=Bob\n", false},
        {"expect callerid dtmf \"A4930123456C\" within 4s during onhook-transmission",
         "12\tcallerid-12.raw\tdtmf\tA4930123456C\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        Step s;
        std::string error;
        ASSERT_TRUE(Parse(c.line, &s, &error)) << error;
        EXPECT_EQ(StepKind::ExpectCallerId, s.kind);
        EXPECT_EQ(c.during, s.flag);
        EXPECT_EQ(c.check, CallerIdCheckLine(s));
    }
}

TEST(CallerIdSteps, MalformedStepsAreRefusedWithTheReason) {
    const struct {
        const char* line;
        const char* says;
    } cases[] = {
        {"skype ring 17 from alice name bob", "the display name"},
        {"skype ring 17 from alice reply soon", "after 'reply'"},
        {"skype ring 17 from alice reply after", "duration"},
        {"skype ring 17 from alice reply error bad", "the error text"},
        {"expect phone linefeed humming within 1s", "onhook-transmission"},
        {"expect phone linefeed active", "within"},
        {"expect callerid fsk \"123\" within 5s", "the name"},
        {"expect callerid fsk \"\" private within 5s", "empty"},
        {"expect callerid fsk \"12\\t3\" private within 5s", "control character"},
        {"expect callerid dtmf \"A12X\" within 5s", "digits may be"},
        {"expect callerid dtmf \"A12C\"", "within"},
        {"expect callerid dtmf \"A12C\" within 1s during ringing", "onhook-transmission"},
        {"expect callerid mf \"1\" within 1s", "fsk or dtmf"},
        {"play callerid v23 from alice", "bell202, etsi or dtmf"},
        {"play callerid etsi from alice name", "the display name"},
    };
    for (const auto& c : cases) {
        Step s;
        std::string error;
        EXPECT_FALSE(Parse(c.line, &s, &error)) << c.line;
        EXPECT_NE(std::string::npos, error.find(c.says)) << c.line << " -> " << error;
    }
}

TEST(CallerIdSteps, PlayNamesTheGeneratorsStandardAndCaller) {
    const struct {
        const char* line;
        const char* standard;
        std::vector<std::string> texts;
    } cases[] = {
        {"play callerid bell202 from \"+1 555\" name \"Bob\"", "Bell202", {"+1 555", "Bob"}},
        {"play callerid etsi from \"\"", "EtsiFsk", {""}},
        {"play callerid dtmf", "Dtmf", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        Step s;
        std::string error;
        ASSERT_TRUE(Parse(c.line, &s, &error)) << error;
        EXPECT_EQ(StepKind::PlayCallerId, s.kind);
        EXPECT_EQ(c.standard, s.text);
        EXPECT_EQ(c.texts, s.texts);
    }
}

} // namespace
