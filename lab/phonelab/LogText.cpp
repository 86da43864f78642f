#include "LogText.h"

#include <cstdlib>
#include <sstream>

namespace {

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

bool ToNumber(const std::string& text, unsigned long* value) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *value = std::strtoul(text.c_str(), nullptr, 10);
    return true;
}

} // namespace

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

bool IsLivenessRead(const std::string& line) {
    const std::vector<std::string> w = Words(line);
    for (size_t i = 0; i + 3 < w.size(); ++i)
        if (w[i] == "3" && w[i + 1] == "64" && w[i + 2] == "R" && w[i + 3] == "slic[64]")
            return true;
    return false;
}

bool LinePid(const std::string& line, unsigned long* pid) {
    const std::vector<std::string> w = Words(line);
    for (size_t i = 0; i < w.size(); ++i) {
        if (w[i] == "pid" && i + 1 < w.size()) return ToNumber(w[i + 1], pid);
        if (w[i].compare(0, 4, "pid=") == 0 || w[i].compare(0, 4, "pid:") == 0)
            return ToNumber(w[i].substr(4), pid);
    }
    return false;
}

bool LogShowsProcess(const std::string& log, unsigned long pid, std::string* which) {
    bool havePrevious = false;
    unsigned long previous = 0;
    for (const std::string& line : SplitLines(log)) {
        if (line.empty()) continue;
        unsigned long named = 0;
        if (LinePid(line, &named)) {
            if (named == pid) {
                *which = line;
                return true;
            }
            continue;
        }
        const std::vector<std::string> w = Words(line);
        unsigned long number = 0;
        if (w.empty() || !ToNumber(w[0], &number)) continue;
        if (havePrevious && number != previous + 1) {
            *which = line;
            return true;
        }
        havePrevious = true;
        previous = number;
    }
    return false;
}

size_t CountInOrder(const std::string& log, size_t from, const std::vector<std::string>& texts) {
    if (from > log.size()) return 0;
    const std::vector<std::string> lines = SplitLines(log.substr(from));
    size_t found = 0;
    for (size_t i = 0; i < lines.size() && found < texts.size(); ++i)
        if (lines[i].find(texts[found]) != std::string::npos) ++found;
    return found;
}
