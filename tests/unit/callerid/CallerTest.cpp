// Who is calling: what Skype's partner replies become, whatever bytes they hold.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "callerid/Caller.h"

namespace {

struct WhoCase {
    const char* what;
    std::optional<std::string> handle, displayName;
    std::string number, name;
    Absence numberAbsence, nameAbsence;
};

const std::optional<std::string> kNone;
std::optional<std::string> S(const std::string& s) {
    return s;
}

} // namespace

TEST(WhoIsCalling, DecidesNumberNameAndAbsence) {
    const Absence N = Absence::None, P = Absence::Private, O = Absence::Unavailable;
    const WhoCase kCases[] = {
        {"telephone handle and name", S("+4930123456"), S("Alice"), "4930123456", "Alice", N, N},
        {"telephone handle alone", S("+4930123456"), kNone, "4930123456", "", N, O},
        {"written with separators", S(" +1 (555) 010-99.99 "), kNone, "15550109999", "", N, O},
        {"Skype name is the name", S("alice.smith"), kNone, "", "alice.smith", O, N},
        {"display name wins", S("alice.smith"), S("Alice Smith"), "", "Alice Smith", O, N},
        {"blank display name", S("alice.smith"), S("  \t "), "", "alice.smith", O, N},
        {"no reply at all", kNone, kNone, "", "", O, O},
        {"only a display name", kNone, S("Alice"), "", "Alice", O, N},
        {"withheld", S(""), S(""), "", "", P, P},
        {"withheld, display name kept", S(""), S("Alice"), "", "Alice", P, N},
        {"handle of control bytes", S("\x01\x02\x7f"), kNone, "", "", P, P},
        {"punctuation alone is nothing", S("+"), kNone, "", "", P, P},
    };
    for (const WhoCase& c : kCases) {
        SCOPED_TRACE(c.what);
        Caller caller = WhoIsCalling(c.handle, c.displayName);
        EXPECT_EQ(c.number, caller.number);
        EXPECT_EQ(c.name, caller.name);
        EXPECT_EQ(c.numberAbsence, caller.numberAbsence);
        EXPECT_EQ(c.nameAbsence, caller.nameAbsence);
    }
}

TEST(WhoIsCalling, MakesNamesPrintable) {
    const struct {
        std::string in, out;
    } kCases[] = {
        {"Jos\xc3\xa9 M\xc3\xbcller", "Jose Muller"}, // accents of Latin-1
        {"\xc3\x86sir Stra\xc3\x9f"
         "e",
         "AEsir Strasse"},                           // letters that become two
        {"Bob\tand\r\nAnn", "Bob and Ann"},          // controls become spaces
        {"  Bob   Smith  ", "Bob Smith"},            // runs of blanks
        {"Bob \xe2\x98\xba", "Bob ?"},               // other characters: '?'
        {"Bob \xff\xfe", "Bob ??"},                  // bytes that are not UTF-8
        {"Bob \xe2\x98", "Bob ??"},                  // a sequence cut short
        {"Bob \xc0\xaf", "Bob ??"},                  // an overlong '/'
        {"\xe2\x98\xba\xe2\x98\xba", ""},            // nothing readable is no name
        {std::string("Bob\0Smith", 9), "Bob Smith"}, // an embedded NUL
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(c.out, WhoIsCalling(std::nullopt, c.in).name);
    }
}

TEST(WhoIsCalling, StaysWithinItsLimitsForAnyInput) {
    std::string longName(100000, 'x'), longNumber = "+" + std::string(100000, '7');
    Caller caller = WhoIsCalling(longNumber, longName);
    EXPECT_EQ(std::string(kMaxCallerNumber, '7'), caller.number);
    EXPECT_EQ(std::string(kMaxCallerName, 'x'), caller.name);

    // Every byte value, over and over: only printable ASCII comes out, never more than allowed.
    std::string every;
    for (int round = 0; round < 3; ++round)
        for (int b = 0; b < 256; ++b)
            every += static_cast<char>(b);
    for (size_t at = 0; at < every.size(); at += 7) {
        Caller c = WhoIsCalling(every.substr(at), every.substr(0, at));
        EXPECT_LE(c.name.size(), kMaxCallerName);
        for (char ch : c.name)
            EXPECT_TRUE(ch >= 0x20 && ch < 0x7f) << int(ch);
        EXPECT_EQ(c.name.empty(), c.nameAbsence != Absence::None);
    }
}

TEST(IsTelephoneNumber, AcceptsWhatSkypeWritesForANumber) {
    for (const char* yes : {"+4930123456", "4930123456", "+1 (555) 010-9999", "030.1234", " +49 "})
        EXPECT_TRUE(IsTelephoneNumber(yes)) << yes;
    for (const char* no : {"", "+", " ", "alice", "+49a30", "++4930", "49+30", "echo123", "+-"})
        EXPECT_FALSE(IsTelephoneNumber(no)) << no;
}
