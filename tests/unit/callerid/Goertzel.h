// Measuring the PCM the way a receiver hears it: the power of one frequency over a short
// window, and the runs of windows where a frequency is present.
#pragma once
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

// Mean power (full-scale sine = 0.5) of freq over pcm[begin, begin + n).
inline double TonePower(const std::vector<int16_t>& pcm, size_t begin, size_t n, double freq) {
    const double pi = 3.14159265358979323846;
    double coeff = 2 * std::cos(2 * pi * freq / 8000.0), s1 = 0, s2 = 0;
    for (size_t i = begin; i < begin + n && i < pcm.size(); ++i) {
        double s = pcm[i] / 32768.0 + coeff * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    return 2 * power / (static_cast<double>(n) * n);
}

// For every hop-th sample, whether freq carries at least threshold of power in the window
// that starts there.
inline std::vector<bool> Presence(const std::vector<int16_t>& pcm, double freq, size_t window,
                                  size_t hop, double threshold) {
    std::vector<bool> on;
    for (size_t i = 0; i + window <= pcm.size(); i += hop)
        on.push_back(TonePower(pcm, i, window, freq) >= threshold);
    return on;
}

// Half-open runs [begin, end) of true, in the units of the vector's index.
struct ToneRun {
    size_t begin, end;
};
inline std::vector<ToneRun> Runs(const std::vector<bool>& on, size_t minGap = 0) {
    std::vector<ToneRun> runs;
    for (size_t i = 0; i < on.size();) {
        if (!on[i]) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < on.size() && on[j])
            ++j;
        // A gap shorter than minGap joins two runs.
        if (!runs.empty() && i - runs.back().end < minGap)
            runs.back().end = j;
        else
            runs.push_back({i, j});
        i = j;
    }
    return runs;
}

// The level of a tone of peak power p (as TonePower gives) in dBm0, full scale being +3.14.
inline double Dbm0(double p) {
    return 10 * std::log10(p / 0.5) + 3.14;
}
