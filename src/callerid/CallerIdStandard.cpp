#include "callerid/CallerIdStandard.h"

#include "core/FileOps.h"

namespace {

// The file holds one short line; anything much bigger is not ours.
constexpr size_t kMaxSettingsBytes = 4096;
constexpr const char kKey[] = "standard";

struct Named {
    CallerIdStandard standard;
    const char* name;
};
const Named kNames[] = {
    {CallerIdStandard::Off, "Off"},
    {CallerIdStandard::Bell202, "Bell202"},
    {CallerIdStandard::EtsiFsk, "EtsiFsk"},
    {CallerIdStandard::Dtmf, "Dtmf"},
};

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameText(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return i == a.size() && !b[i];
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r'))
        --e;
    return s.substr(b, e - b);
}

} // namespace

const char* CallerIdStandardName(CallerIdStandard standard) {
    for (const Named& n : kNames)
        if (n.standard == standard) return n.name;
    return "Off";
}

CallerIdStandard ParseCallerIdStandard(const std::string& name) {
    for (const Named& n : kNames)
        if (SameText(name, n.name)) return n.standard;
    return CallerIdStandard::Off;
}

CallerIdStandard LoadCallerIdStandard(const char* path) {
    std::string text;
    if (!GetFileOps().Read(path, text, kMaxSettingsBytes)) return CallerIdStandard::Off;
    if (text.size() > kMaxSettingsBytes) return CallerIdStandard::Off;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        size_t eq = line.find('=');
        if (eq == std::string::npos || !SameText(Trim(line.substr(0, eq)), kKey)) continue;
        // The first such line decides, whatever follows.
        return ParseCallerIdStandard(Trim(line.substr(eq + 1)));
    }
    return CallerIdStandard::Off;
}

bool SaveCallerIdStandard(const char* path, CallerIdStandard standard) {
    return WriteFileReplacing(path,
                              std::string(kKey) + "=" + CallerIdStandardName(standard) + "\r\n");
}
