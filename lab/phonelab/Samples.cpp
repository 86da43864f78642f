#include "Samples.h"

const char* SampleFigureName(int figure) {
    static const char* const names[kSampleFigures] = {"private", "handles", "gdi", "user",
                                                      "threads"};
    return figure >= 0 && figure < kSampleFigures ? names[figure] : "?";
}

std::string SampleCsvHeader() {
    return "ms,private_kb,handles,gdi,user,threads\n";
}

std::string SampleCsvLine(const Sample& sample) {
    std::string line = std::to_string(sample.atMs);
    for (int f = 0; f < kSampleFigures; ++f)
        line += "," + (sample.have[f] ? std::to_string(sample.value[f]) : std::string());
    return line + "\n";
}

void SampleSeries::Add(const Sample& sample) {
    if (m_count == 0) m_firstAt = sample.atMs;
    m_lastAt = sample.atMs;
    ++m_count;
    for (int f = 0; f < kSampleFigures; ++f) {
        if (!sample.have[f]) continue;
        const long long v = sample.value[f];
        if (m_seen[f]++ == 0) m_first[f] = m_max[f] = v;
        m_last[f] = v;
        if (v > m_max[f]) m_max[f] = v;
    }
}

namespace {

// One row of the table: the name left-aligned, the figures right-aligned in columns.
std::string Row(const std::string& name, const std::string& start, const std::string& end,
                const std::string& max, const std::string& allowed, const std::string& result) {
    auto right = [](const std::string& text, size_t width) {
        return std::string(text.size() < width ? width - text.size() : 1, ' ') + text;
    };
    std::string row = name + std::string(name.size() < 14 ? 14 - name.size() : 1, ' ');
    return row + right(start, 10) + right(end, 10) + right(max, 10) + right(allowed, 9) + "  " +
           result + "\n";
}

} // namespace

bool SampleSeries::Flat(const std::vector<long>& allowance, std::string* table) const {
    bool flat = true;
    *table = Row("figure", "start", "end", "max", "allowed", "result");
    for (int f = 0; f < kSampleFigures; ++f) {
        const long allowed = f < static_cast<int>(allowance.size()) ? allowance[f] : -1;
        const std::string name =
            std::string(SampleFigureName(f)) + (f == kPrivateKB ? " (KB)" : "");
        const std::string allowedText = allowed >= 0 ? "+" + std::to_string(allowed) : "-";
        // Seen in some samples only: a start or an end taken without it would mislead.
        if (m_count == 0 || m_seen[f] != m_count) {
            *table += Row(name, "-", "-", "-", allowedText,
                          "not reported" + (m_note[f].empty() ? "" : " (" + m_note[f] + ")"));
            continue;
        }
        const long long growth = m_last[f] - m_first[f];
        std::string verdict = "ok";
        if (allowed < 0) {
            verdict = "not checked";
        } else if (growth > allowed) {
            verdict = "GREW +" + std::to_string(growth);
            flat = false;
        }
        if (!m_note[f].empty()) verdict += " (" + m_note[f] + ")"; // where the figure came from
        *table += Row(name, std::to_string(m_first[f]), std::to_string(m_last[f]),
                      std::to_string(m_max[f]), allowedText, verdict);
    }
    *table +=
        "samples: " + std::to_string(m_count) + " over " + std::to_string(SpanMs() / 1000) + " s\n";
    return flat;
}
