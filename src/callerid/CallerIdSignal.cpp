#include "callerid/CallerIdSignal.h"

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr unsigned kBaud = 1200;

constexpr unsigned kSeizureBits = 300;
constexpr unsigned kMarkBits = 180;
constexpr unsigned kTrailingMarkBits = 12;

constexpr unsigned kBellQuietBeforeMs = 500, kBellQuietAfterMs = 200;
constexpr unsigned kEtsiQuietBeforeMs = 100, kEtsiAlertMs = 100, kEtsiAlertGapMs = 100;
constexpr unsigned kEtsiQuietAfterMs = 300;
constexpr double kAlertLowHz = 2130, kAlertHighHz = 2750;
constexpr unsigned kDtmfQuietBeforeMs = 100, kDtmfToneMs = 70, kDtmfPauseMs = 70;
constexpr unsigned kDtmfQuietAfterMs = 300;

// Tone edges rise and fall over 2 ms rather than click.
constexpr size_t kRampSamples = 16;

// Peak amplitude of a sine at level dBm0: +3.14 dBm0 is full scale.
double Amplitude(double dbm0) {
    return 32767.0 * std::pow(10.0, (dbm0 - 3.14) / 20.0);
}

size_t Samples(unsigned ms) {
    return static_cast<size_t>(ms) * kCallerIdSampleRate / 1000;
}

int16_t ToSample(double v) {
    if (v > 32767.0) v = 32767.0;
    if (v < -32768.0) v = -32768.0;
    return static_cast<int16_t>(std::lround(v));
}

void AppendQuiet(std::vector<int16_t>& pcm, unsigned ms) {
    pcm.insert(pcm.end(), Samples(ms), 0);
}

double Ramp(size_t i, size_t n) {
    size_t edge = i < n - 1 - i ? i : n - 1 - i;
    return edge >= kRampSamples ? 1.0 : 0.5 - 0.5 * std::cos(kPi * (edge + 0.5) / kRampSamples);
}

// Two sines together for ms, as the alert signal and every DTMF digit are.
void AppendDualTone(std::vector<int16_t>& pcm, double f1, double a1, double f2, double a2,
                    unsigned ms) {
    size_t n = Samples(ms);
    for (size_t i = 0; i < n; ++i) {
        double t = static_cast<double>(i) / kCallerIdSampleRate;
        double v = a1 * std::sin(2 * kPi * f1 * t) + a2 * std::sin(2 * kPi * f2 * t);
        pcm.push_back(ToSample(v * Ramp(i, n)));
    }
}

// One FSK burst: bit k lasts from sample k*8000/1200 to (k+1)*8000/1200, so the bit clock
// never drifts, and the phase runs on across every change of tone.
void AppendFsk(std::vector<int16_t>& pcm, double markHz, double spaceHz,
               const std::vector<bool>& bits) {
    double amplitude = Amplitude(kFskLevelDbm0);
    size_t total = bits.size() * kCallerIdSampleRate / kBaud;
    double phase = 0;
    size_t done = 0;
    for (size_t k = 0; k < bits.size(); ++k) {
        size_t end = (k + 1) * kCallerIdSampleRate / kBaud;
        double step = 2 * kPi * (bits[k] ? markHz : spaceHz) / kCallerIdSampleRate;
        for (; done < end; ++done) {
            pcm.push_back(ToSample(amplitude * std::sin(phase) * Ramp(done, total)));
            phase += step;
            if (phase > 2 * kPi) phase -= 2 * kPi;
        }
    }
}

void AppendFramedByte(std::vector<bool>& bits, uint8_t byte) {
    bits.push_back(false);
    for (int i = 0; i < 8; ++i)
        bits.push_back(((byte >> i) & 1) != 0);
    bits.push_back(true);
}

// Seizure, marks, framed message and trailing marks; the layout's FSK fields are set relative
// to the sample where the burst starts.
void AppendFskData(std::vector<int16_t>& pcm, CallerIdStandard standard,
                   const std::vector<uint8_t>& message, CallerIdLayout& layout) {
    std::vector<bool> bits;
    for (unsigned i = 0; i < kSeizureBits; ++i)
        bits.push_back((i & 1) != 0);
    bits.insert(bits.end(), kMarkBits, true);
    for (uint8_t b : message)
        AppendFramedByte(bits, b);
    bits.insert(bits.end(), kTrailingMarkBits, true);

    size_t begin = pcm.size();
    auto at = [&](size_t bit) { return begin + bit * kCallerIdSampleRate / kBaud; };
    layout.dataBegin = begin;
    layout.marksBegin = at(kSeizureBits);
    layout.messageBegin = at(kSeizureBits + kMarkBits);
    bool bell = standard == CallerIdStandard::Bell202;
    layout.dataEnd = at(bits.size() - kTrailingMarkBits);
    AppendFsk(pcm, bell ? 1200 : 1300, bell ? 2200 : 2100, bits);
}

bool DtmfTones(char digit, double& low, double& high) {
    static const char keys[] = "123A456B789C*0#D";
    static const double lows[] = {697, 770, 852, 941}, highs[] = {1209, 1336, 1477, 1633};
    for (int i = 0; i < 16; ++i) {
        if (keys[i] == digit) {
            low = lows[i / 4];
            high = highs[i % 4];
            return true;
        }
    }
    return false;
}

unsigned DurationMs(size_t samples) {
    return static_cast<unsigned>((samples * 1000 + kCallerIdSampleRate - 1) / kCallerIdSampleRate);
}

} // namespace

CallerIdSignal MakeFskSignal(CallerIdStandard standard, const std::vector<uint8_t>& message) {
    CallerIdSignal signal;
    std::vector<int16_t>& pcm = signal.pcm;
    if (standard == CallerIdStandard::Bell202) {
        AppendQuiet(pcm, kBellQuietBeforeMs);
        AppendFskData(pcm, standard, message, signal.layout);
        AppendQuiet(pcm, kBellQuietAfterMs);
    } else if (standard == CallerIdStandard::EtsiFsk) {
        signal.beforeFirstRing = true;
        AppendQuiet(pcm, kEtsiQuietBeforeMs);
        signal.layout.alertBegin = pcm.size();
        double a = Amplitude(kAlertLevelDbm0);
        AppendDualTone(pcm, kAlertLowHz, a, kAlertHighHz, a, kEtsiAlertMs);
        signal.layout.alertEnd = pcm.size();
        AppendQuiet(pcm, kEtsiAlertGapMs);
        AppendFskData(pcm, standard, message, signal.layout);
        AppendQuiet(pcm, kEtsiQuietAfterMs);
    }
    signal.durationMs = DurationMs(pcm.size());
    return signal;
}

CallerIdSignal MakeCallerIdSignal(CallerIdStandard standard, const Caller& caller,
                                  const CallTime* time) {
    CallerIdSignal signal;
    std::vector<int16_t>& pcm = signal.pcm;
    CallerIdLayout& layout = signal.layout;
    switch (standard) {
    case CallerIdStandard::Bell202:
    case CallerIdStandard::EtsiFsk:
        return MakeFskSignal(standard, BuildMdmf(standard, caller, time));
    case CallerIdStandard::Dtmf: {
        signal.beforeFirstRing = true;
        AppendQuiet(pcm, kDtmfQuietBeforeMs);
        layout.dataBegin = layout.marksBegin = layout.messageBegin = pcm.size();
        double lowA = Amplitude(kDtmfLowLevelDbm0), highA = Amplitude(kDtmfHighLevelDbm0);
        std::string digits = BuildDtmfDigits(caller);
        for (size_t i = 0; i < digits.size(); ++i) {
            double low = 0, high = 0;
            if (!DtmfTones(digits[i], low, high)) continue;
            if (i > 0) AppendQuiet(pcm, kDtmfPauseMs);
            AppendDualTone(pcm, low, lowA, high, highA, kDtmfToneMs);
        }
        layout.dataEnd = pcm.size();
        AppendQuiet(pcm, kDtmfQuietAfterMs);
        break;
    }
    case CallerIdStandard::Off: break;
    }
    signal.durationMs = DurationMs(pcm.size());
    return signal;
}

unsigned LongestCallerIdMs(CallerIdStandard standard) {
    Caller longest;
    longest.number = std::string(kMaxCallerNumber, '8');
    longest.name = std::string(kMaxCallerName, 'W');
    longest.numberAbsence = longest.nameAbsence = Absence::None;
    const CallTime time{12, 31, 23, 59};
    return MakeCallerIdSignal(standard, longest, &time).durationMs;
}
