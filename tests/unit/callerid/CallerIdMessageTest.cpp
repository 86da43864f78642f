// The messages byte by byte: layout, limits and checksum, and DTMF's digit string.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "callerid/CallerIdMessage.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

// Type, length, then the parameters as (type, body); the checksum checked on the way.
std::vector<std::pair<int, std::string>> Params(const std::vector<uint8_t>& msg) {
    std::vector<std::pair<int, std::string>> params;
    EXPECT_GE(msg.size(), 3u);
    if (msg.size() < 3) return params;
    EXPECT_EQ(0x80, msg[0]);
    EXPECT_EQ(msg.size() - 3, msg[1]) << "length counts the parameters only";
    unsigned sum = 0;
    for (uint8_t b : msg)
        sum += b;
    EXPECT_EQ(0u, sum % 256) << "checksum";
    for (size_t i = 2; i + 1 < msg.size() - 1;) {
        size_t len = msg[i + 1];
        EXPECT_LE(i + 2 + len, msg.size() - 1);
        params.emplace_back(msg[i], std::string(msg.begin() + i + 2, msg.begin() + i + 2 + len));
        i += 2 + len;
    }
    return params;
}

} // namespace

TEST(BuildMdmf, LaysOutTheCallSetUpMessage) {
    Caller caller;
    caller.number = "4930123";
    caller.numberAbsence = Absence::None;
    caller.name = "Bob";
    caller.nameAbsence = Absence::None;
    CallTime time{3, 7, 9, 5};
    std::vector<uint8_t> expected = {0x80, 24, 0x01, 8};
    for (uint8_t b : Bytes("03070905"))
        expected.push_back(b);
    expected.push_back(0x02);
    expected.push_back(7);
    for (uint8_t b : Bytes("4930123"))
        expected.push_back(b);
    expected.push_back(0x07);
    expected.push_back(3);
    for (uint8_t b : Bytes("Bob"))
        expected.push_back(b);
    unsigned sum = 0;
    for (uint8_t b : expected)
        sum += b;
    expected.push_back(static_cast<uint8_t>(256 - sum % 256));
    EXPECT_EQ(expected, BuildMdmf(CallerIdStandard::Bell202, caller, &time));
    EXPECT_EQ(expected, BuildMdmf(CallerIdStandard::EtsiFsk, caller, &time));
    EXPECT_TRUE(BuildMdmf(CallerIdStandard::Dtmf, caller, &time).empty());
    EXPECT_TRUE(BuildMdmf(CallerIdStandard::Off, caller, &time).empty());
}

TEST(BuildMdmf, SendsAbsencesAndLeavesOutABadTime) {
    Caller caller; // nothing known
    caller.numberAbsence = Absence::Private;
    for (CallTime bad : {CallTime{13, 1, 0, 0}, CallTime{0, 1, 0, 0}, CallTime{1, 32, 0, 0},
                         CallTime{1, 1, 24, 0}, CallTime{1, 1, 0, 60}, CallTime{1, 1, -1, 0}}) {
        auto params = Params(BuildMdmf(CallerIdStandard::EtsiFsk, caller, &bad));
        ASSERT_EQ(2u, params.size());
        EXPECT_EQ(std::make_pair(0x04, std::string("P")), params[0]);
        EXPECT_EQ(std::make_pair(0x08, std::string("O")), params[1]);
    }
}

TEST(BuildMdmf, KeepsEachStandardsLimitsAndOnlyPrintableBytes) {
    // A caller filled in by hand with anything at all.
    Caller caller;
    caller.number = std::string(300, '9') + "abc";
    caller.numberAbsence = Absence::None;
    for (int b = 255; b >= 0; --b)
        caller.name += static_cast<char>(b);
    caller.nameAbsence = Absence::None;
    const struct {
        CallerIdStandard standard;
        size_t number, name;
    } kLimits[] = {{CallerIdStandard::Bell202, 15, 15}, {CallerIdStandard::EtsiFsk, 20, 50}};
    for (const auto& l : kLimits) {
        auto params = Params(BuildMdmf(l.standard, caller, nullptr));
        ASSERT_EQ(2u, params.size());
        EXPECT_EQ(std::make_pair(0x02, std::string(l.number, '9')), params[0]);
        EXPECT_EQ(0x07, params[1].first);
        EXPECT_EQ(l.name, params[1].second.size());
        for (char c : params[1].second)
            EXPECT_TRUE(c >= 0x20 && c < 0x7f) << int(c);
    }
    // Digits nowhere in the number: its absence instead.
    caller.number = "abc";
    auto params = Params(BuildMdmf(CallerIdStandard::Bell202, caller, nullptr));
    ASSERT_FALSE(params.empty());
    EXPECT_EQ(std::make_pair(0x04, std::string("O")), params[0]);
}

TEST(BuildDtmfDigits, FramesTheNumberOrTheReason) {
    Caller caller;
    caller.numberAbsence = Absence::Private;
    EXPECT_EQ("B10C", BuildDtmfDigits(caller));
    caller.numberAbsence = Absence::Unavailable;
    EXPECT_EQ("B00C", BuildDtmfDigits(caller));
    caller.number = "0049 30-12" + std::string(40, '3');
    caller.numberAbsence = Absence::None;
    EXPECT_EQ("A00493012" + std::string(kDtmfMaxNumber - 8, '3') + "C", BuildDtmfDigits(caller));
}
