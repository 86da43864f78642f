// What a soak watches of a process over time, and whether it stayed flat. Portable; the Win32
// side (win32/ProcessSample.h) takes the samples.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum SampleFigure { kPrivateKB, kHandles, kGdiObjects, kUserObjects, kThreads, kSampleFigures };

// The name a scenario uses: "private", "handles", "gdi", "user", "threads".
const char* SampleFigureName(int figure);

struct Sample {
    uint64_t atMs = 0;
    long long value[kSampleFigures] = {};
    bool have[kSampleFigures] = {}; // false: the system gave no figure
};

// samples.csv: "ms,private_kb,handles,gdi,user,threads", an empty field for a missing figure.
std::string SampleCsvHeader();
std::string SampleCsvLine(const Sample& sample);

class SampleSeries {
  public:
    void Add(const Sample& sample);
    size_t Count() const { return m_count; }
    uint64_t SpanMs() const { return m_count ? m_lastAt - m_firstAt : 0; }
    // Why a figure is missing, for the table (e.g. what the system returned instead).
    void SetNote(int figure, const std::string& note) { m_note[figure] = note; }
    bool Have(int figure) const { return m_seen[figure] > 0; }
    long long First(int figure) const { return m_first[figure]; }
    long long Last(int figure) const { return m_last[figure]; }
    long long Max(int figure) const { return m_max[figure]; }
    // Whether every figure with an allowance (allowance[f] >= 0) ended no more than that above
    // its first value. A figure missing from some samples counts as missing. *table gets the
    // figures (start, end, max, allowance, verdict) a person reads.
    bool Flat(const std::vector<long>& allowance, std::string* table) const;

  private:
    size_t m_count = 0;
    uint64_t m_firstAt = 0, m_lastAt = 0;
    size_t m_seen[kSampleFigures] = {};
    long long m_first[kSampleFigures] = {}, m_last[kSampleFigures] = {}, m_max[kSampleFigures] = {};
    std::string m_note[kSampleFigures];
};
