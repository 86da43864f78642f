// The generated caller ID, read back by spandsp's caller-ID receiver and by multimon-ng, and
// its timing measured in the PCM.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "callerid/CallerIdSignal.h"
#include "unit/callerid/Decoders.h"
#include "unit/callerid/Goertzel.h"

namespace {

const CallTime kTime{12, 11, 13, 5};
const CallerIdStandard kFsk[] = {CallerIdStandard::Bell202, CallerIdStandard::EtsiFsk};

int AdsiStandard(CallerIdStandard s) {
    switch (s) {
    case CallerIdStandard::Bell202: return ADSI_STANDARD_CLASS;
    case CallerIdStandard::EtsiFsk: return ADSI_STANDARD_CLIP;
    default: return ADSI_STANDARD_CLIP_DTMF;
    }
}

// What a telephone would show, as spandsp decodes it.
struct Shown {
    std::string dateTime, number, name;
    char numberAbsence = 0, nameAbsence = 0;
    int messages = 0;
};

Shown DecodeFsk(CallerIdStandard s, const std::vector<int16_t>& pcm) {
    Shown shown;
    std::vector<std::string> messages = SpandspMessages(AdsiStandard(s), pcm);
    shown.messages = static_cast<int>(messages.size());
    if (messages.empty()) return shown;
    EXPECT_EQ(0x80, static_cast<uint8_t>(messages[0][0])) << "call set-up message";
    for (const DecodedField& f : SpandspFields(AdsiStandard(s), messages[0])) {
        switch (f.type) {
        case 0x01: shown.dateTime = f.body; break;
        case 0x02: shown.number = f.body; break;
        case 0x04: shown.numberAbsence = f.body.size() == 1 ? f.body[0] : '?'; break;
        case 0x07: shown.name = f.body; break;
        case 0x08: shown.nameAbsence = f.body.size() == 1 ? f.body[0] : '?'; break;
        default: break;
        }
    }
    return shown;
}

std::string DecodeDtmf(const std::vector<int16_t>& pcm) {
    std::vector<std::string> messages = SpandspMessages(ADSI_STANDARD_CLIP_DTMF, pcm);
    EXPECT_EQ(1u, messages.size());
    return messages.empty() ? std::string() : messages[0];
}

double Ms(size_t samples) {
    return samples / 8.0;
}

} // namespace

// Callers as Skype describes them, and what each standard's decoder must show.
struct CallerCase {
    const char* what;
    std::optional<std::string> handle, displayName;
    // Per standard (Bell 202, ETSI): number or absence code, name or absence code.
    std::string bellNumber, bellName, etsiNumber, etsiName;
    char numberAbsence, nameAbsence;
    std::string dtmf;
};

const std::string k25Digits = "4930123456789012345678901";
const std::string kLongName = "Maximilian Alexander von Hohenberg-Schwarzenfels III";

const CallerCase kCallers[] = {
    {"number and name", std::string("+4930123456"), std::string("Alice Example"), "4930123456",
     "Alice Example", "4930123456", "Alice Example", 0, 0, "A4930123456C"},
    {"Skype name only", std::string("alice.smith"), std::nullopt, "", "alice.smith", "",
     "alice.smith", 'O', 0, "B00C"},
    {"Skype never answered", std::nullopt, std::nullopt, "", "", "", "", 'O', 'O', "B00C"},
    {"private caller", std::string(""), std::string(""), "", "", "", "", 'P', 'P', "B10C"},
    {"long number", "+" + k25Digits, std::nullopt, k25Digits.substr(0, 15), "",
     k25Digits.substr(0, 20), "", 0, 'O', "A" + k25Digits.substr(0, 20) + "C"},
    {"long name", std::string("+1 (555) 010-9999"), kLongName, "15550109999",
     kLongName.substr(0, 15), "15550109999", kLongName.substr(0, 50), 0, 0, "A15550109999C"},
};

TEST(CallerIdDecode, EachStandardShowsTheCaller) {
    for (const CallerCase& c : kCallers) {
        SCOPED_TRACE(c.what);
        Caller caller = WhoIsCalling(c.handle, c.displayName);
        for (CallerIdStandard s : kFsk) {
            SCOPED_TRACE(CallerIdStandardName(s));
            bool bell = s == CallerIdStandard::Bell202;
            Shown shown = DecodeFsk(s, MakeCallerIdSignal(s, caller, &kTime).pcm);
            ASSERT_EQ(1, shown.messages);
            EXPECT_EQ("12111305", shown.dateTime);
            EXPECT_EQ(bell ? c.bellNumber : c.etsiNumber, shown.number);
            EXPECT_EQ(bell ? c.bellName : c.etsiName, shown.name);
            EXPECT_EQ(c.numberAbsence, shown.numberAbsence);
            EXPECT_EQ(c.nameAbsence, shown.nameAbsence);
        }
        EXPECT_EQ(c.dtmf,
                  DecodeDtmf(MakeCallerIdSignal(CallerIdStandard::Dtmf, caller, &kTime).pcm));
    }
}

TEST(CallerIdDecode, NamesCarryEveryPrintableCharacter) {
    // '!'..'~' with the space inside, so that no piece starts or ends with it.
    std::string all = "!";
    all += ' ';
    for (char c = '"'; c <= '~'; ++c)
        all += c;
    ASSERT_EQ(95u, all.size());
    for (CallerIdStandard s : kFsk) {
        SCOPED_TRACE(CallerIdStandardName(s));
        size_t max = s == CallerIdStandard::Bell202 ? kBellMaxName : kEtsiMaxName;
        // Each piece starts with a letter: a name of punctuation alone is no name.
        for (size_t at = 0; at < all.size(); at += max - 1) {
            std::string piece = "N" + all.substr(at, max - 1);
            Caller caller = WhoIsCalling(std::string("+15550100"), piece);
            Shown shown = DecodeFsk(s, MakeCallerIdSignal(s, caller, nullptr).pcm);
            ASSERT_EQ(1, shown.messages);
            EXPECT_EQ(piece, shown.name);
            EXPECT_EQ("", shown.dateTime) << "no time given, no date-time field";
        }
    }
}

TEST(CallerIdDecode, ReceiversRejectAMessageWithAWrongChecksum) {
    Caller caller = WhoIsCalling(std::string("+4930123"), std::string("Bob"));
    for (CallerIdStandard s : kFsk) {
        SCOPED_TRACE(CallerIdStandardName(s));
        std::vector<uint8_t> message = BuildMdmf(s, caller, &kTime);
        EXPECT_EQ(1u, SpandspMessages(AdsiStandard(s), MakeFskSignal(s, message).pcm).size());
        for (int delta : {1, 0x80}) {
            std::vector<uint8_t> bad = message;
            bad.back() = static_cast<uint8_t>(bad.back() + delta);
            EXPECT_TRUE(SpandspMessages(AdsiStandard(s), MakeFskSignal(s, bad).pcm).empty());
            bool ran = false;
            std::string out = MultimonDecode(MakeFskSignal(s, bad).pcm, {"CLIPFSK"}, ran);
            ASSERT_TRUE(ran) << "multimon-ng is missing: run scripts/setup";
            EXPECT_EQ(std::string::npos, out.find("CID=")) << out;
        }
    }
}

TEST(CallerIdDecode, MultimonReadsEveryStandard) {
    Caller known = WhoIsCalling(std::string("+4930123456"), std::string("Alice Example"));
    Caller hidden = WhoIsCalling(std::string(""), std::nullopt);
    for (CallerIdStandard s : kFsk) {
        SCOPED_TRACE(CallerIdStandardName(s));
        bool ran = false;
        std::string out =
            MultimonDecode(MakeCallerIdSignal(s, known, &kTime).pcm, {"CLIPFSK"}, ran);
        ASSERT_TRUE(ran) << "multimon-ng is missing: run scripts/setup";
        EXPECT_NE(std::string::npos, out.find("DATE=12111305 CID=4930123456 CNT=Alice Example"))
            << out;
        out = MultimonDecode(MakeCallerIdSignal(s, hidden, &kTime).pcm, {"CLIPFSK"}, ran);
        EXPECT_NE(std::string::npos, out.find("RACLI=P")) << out;
        EXPECT_NE(std::string::npos, out.find("RACNT=P")) << out;
    }
    for (const Caller& caller : {known, hidden}) {
        bool ran = false;
        std::string out = MultimonDecode(
            MakeCallerIdSignal(CallerIdStandard::Dtmf, caller, &kTime).pcm, {"DTMF"}, ran);
        ASSERT_TRUE(ran) << "multimon-ng is missing: run scripts/setup";
        std::string digits;
        for (size_t at = out.find("DTMF: "); at != std::string::npos;
             at = out.find("DTMF: ", at + 1))
            digits += out[at + 6];
        EXPECT_EQ(BuildDtmfDigits(caller), digits);
    }
}

// The FSK signals measured: where the alert, seizure and marks lie, their tones and level.
struct FskTiming {
    CallerIdStandard standard;
    double markHz, spaceHz, otherMarkHz, otherSpaceHz;
    double minLeadMs, minTailMs, maxTailMs;
};

// Where a tone detected in windows of w samples starts and ends, in ms: a window starts to
// pass the threshold when the tone fills about half of it.
double StartMs(const ToneRun& r, size_t w) {
    return Ms(r.begin + w / 2);
}
double EndMs(const ToneRun& r, size_t w) {
    return Ms(r.end + w / 2);
}

TEST(CallerIdTiming, FskSeizureMarksAndAlert) {
    const FskTiming kCases[] = {
        // Bell 202 starts 500 ms after the first ring and ends 200 ms before the next.
        {CallerIdStandard::Bell202, 1200, 2200, 1300, 2100, 500, 200, 10000},
        // ETSI: at least 100 ms after the line changes, 200..500 ms before the first ring.
        {CallerIdStandard::EtsiFsk, 1300, 2100, 1200, 2200, 100, 200, 500},
    };
    Caller caller = WhoIsCalling(std::string("+4930123456"), std::string("Alice Example"));
    for (const FskTiming& t : kCases) {
        SCOPED_TRACE(CallerIdStandardName(t.standard));
        bool etsi = t.standard == CallerIdStandard::EtsiFsk;
        CallerIdSignal signal = MakeCallerIdSignal(t.standard, caller, &kTime);
        const std::vector<int16_t>& pcm = signal.pcm;
        EXPECT_EQ(etsi, signal.beforeFirstRing);
        EXPECT_EQ((pcm.size() + 7) / 8, signal.durationMs);

        // The alert: both of its tones at once, in 10 ms windows (which keep FSK out).
        const size_t aw = 80;
        std::vector<bool> alert(pcm.size() - aw + 1);
        for (size_t i = 0; i < alert.size(); ++i)
            alert[i] = TonePower(pcm, i, aw, 2130) > 0.005 && TonePower(pcm, i, aw, 2750) > 0.005;
        std::vector<ToneRun> alerts = Runs(alert);
        ASSERT_EQ(etsi ? 1u : 0u, alerts.size()) << "an alert signal only before ringing";
        size_t from = alerts.empty() ? 0 : alerts[0].end + aw;

        // Seizure and marks: the space tone in 3 ms windows, one per sample, after the alert.
        const size_t w = 24;
        std::vector<int16_t> data(pcm.begin() + static_cast<std::ptrdiff_t>(from), pcm.end());
        std::vector<ToneRun> spaces = Runs(Presence(data, t.spaceHz, w, 1, 0.002), 3 * w);
        ASSERT_GE(spaces.size(), 2u);
        // 300 bits of 0101... (the last one a mark) and then 180 marks: 249.2 ms and 150.8 ms.
        EXPECT_NEAR(249.2, Ms(spaces[0].end - spaces[0].begin), 2.0);
        EXPECT_NEAR(150.8, Ms(spaces[1].begin - spaces[0].end), 2.0);

        std::vector<bool> any(pcm.size() - w + 1);
        for (size_t i = 0; i < any.size(); ++i)
            any[i] = TonePower(pcm, i, w, t.markHz) + TonePower(pcm, i, w, t.spaceHz) +
                         TonePower(pcm, i, w, 2130) + TonePower(pcm, i, w, 2750) >
                     0.002;
        std::vector<ToneRun> sound = Runs(any, 8 * 40); // the alert's gap keeps it apart
        ASSERT_EQ(etsi ? 2u : 1u, sound.size());
        EXPECT_GE(StartMs(sound.front(), w), t.minLeadMs);
        double tailMs = Ms(pcm.size()) - EndMs(sound.back(), w);
        EXPECT_GE(tailMs, t.minTailMs);
        EXPECT_LE(tailMs, t.maxTailMs);

        // The standard's own tones, told apart from the other's: the marks over 100 ms, the
        // space in the first byte's start bit and seven zero bits (6.7 ms).
        size_t marks = from + spaces[0].end + 200, space = from + spaces[1].begin + w / 2 + 4;
        EXPECT_GT(TonePower(pcm, marks, 800, t.markHz),
                  20 * TonePower(pcm, marks, 800, t.otherMarkHz));
        EXPECT_GT(TonePower(pcm, space, 40, t.spaceHz),
                  1.5 * TonePower(pcm, space, 40, t.otherSpaceHz));
        EXPECT_NEAR(kFskLevelDbm0, Dbm0(TonePower(pcm, marks, 800, t.markHz)), 0.5);

        if (!etsi) continue;
        // The dual-tone alert: 100 ms ± 10 %, at least 100 ms after the line changes, then
        // 45..500 ms of quiet before the seizure.
        EXPECT_NEAR(100, Ms(alerts[0].end - alerts[0].begin), 10);
        EXPECT_GE(StartMs(alerts[0], aw), 100);
        double gapMs = Ms(from + spaces[0].begin + w / 2) - EndMs(alerts[0], aw);
        EXPECT_GE(gapMs, 45);
        EXPECT_LE(gapMs, 500);
        size_t mid = alerts[0].begin + aw / 2 + 200;
        EXPECT_NEAR(kAlertLevelDbm0, Dbm0(TonePower(pcm, mid, 400, 2130)), 0.5);
        EXPECT_NEAR(kAlertLevelDbm0, Dbm0(TonePower(pcm, mid, 400, 2750)), 0.5);
    }
}

TEST(CallerIdTiming, DtmfDigitsAndPauses) {
    Caller caller = WhoIsCalling(std::string("+4930123456"), std::nullopt);
    CallerIdSignal signal = MakeCallerIdSignal(CallerIdStandard::Dtmf, caller, &kTime);
    const std::vector<int16_t>& pcm = signal.pcm;
    EXPECT_TRUE(signal.beforeFirstRing);
    const size_t w = 80, hop = 8; // 10 ms windows
    std::vector<bool> on;
    for (size_t i = 0; i + w <= pcm.size(); i += hop) {
        double p = 0;
        for (double f : {697, 770, 852, 941})
            p += TonePower(pcm, i, w, f);
        on.push_back(p > 0.002);
    }
    std::vector<ToneRun> tones = Runs(on);
    ASSERT_EQ(BuildDtmfDigits(caller).size(), tones.size());
    for (size_t i = 0; i < tones.size(); ++i) {
        // A receiver must take tones and pauses of 40 ms; these are comfortably longer.
        EXPECT_GE(Ms((tones[i].end - tones[i].begin) * hop + w / 2), 60);
        if (i > 0) {
            EXPECT_GE(Ms((tones[i].begin - tones[i - 1].end) * hop), 60);
        }
    }
    EXPECT_GE(Ms(pcm.size() - tones.back().end * hop - w), 200) << "quiet before the ring";

    // Digit '4' (770 + 1209 Hz) is the second tone: the high group 2 dB above the low.
    size_t mid = tones[1].begin * hop + 80;
    double low = Dbm0(TonePower(pcm, mid, 400, 770)), high = Dbm0(TonePower(pcm, mid, 400, 1209));
    EXPECT_NEAR(kDtmfLowLevelDbm0, low, 0.5);
    EXPECT_NEAR(kDtmfHighLevelDbm0, high, 0.5);
}
