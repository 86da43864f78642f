#include "callerid/CallerIdStandard.h"

#include <filesystem>
#include <system_error>

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

StdCallerIdFileOps stdOps;
CallerIdFileOps* currentOps = &stdOps;

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
    if (!GetCallerIdFileOps().Read(path, text, kMaxSettingsBytes)) return CallerIdStandard::Off;
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
    CallerIdFileOps& ops = GetCallerIdFileOps();
    std::string bytes = std::string(kKey) + "=" + CallerIdStandardName(standard) + "\r\n";
    std::string temp = std::string(path) + ".tmp";
    bool ok = false;
    if (std::FILE* f = ops.OpenForWrite(temp.c_str())) {
        // Only a file that has reached the disk may take the old one's place.
        ok = ops.Write(f, bytes.data(), bytes.size()) && ops.Flush(f);
        ok = ops.Close(f) && ok;
        if (ok) ok = ops.Replace(temp.c_str(), path);
    }
    if (!ok) ops.Remove(temp.c_str());
    return ok;
}

bool StdCallerIdFileOps::Read(const char* path, std::string& out, size_t maxBytes) {
    out.clear();
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    out.resize(maxBytes + 1);
    size_t got = std::fread(&out[0], 1, out.size(), f);
    bool ok = !std::ferror(f);
    std::fclose(f);
    out.resize(got);
    return ok;
}

std::FILE* StdCallerIdFileOps::OpenForWrite(const char* path) {
    return std::fopen(path, "wb");
}

bool StdCallerIdFileOps::Write(std::FILE* f, const char* data, size_t size) {
    return std::fwrite(data, 1, size, f) == size;
}

bool StdCallerIdFileOps::Flush(std::FILE* f) {
    return std::fflush(f) == 0;
}

bool StdCallerIdFileOps::Close(std::FILE* f) {
    return std::fclose(f) == 0;
}

bool StdCallerIdFileOps::Replace(const char* from, const char* to) {
    std::error_code ec;
    std::filesystem::rename(std::filesystem::path(from), std::filesystem::path(to), ec);
    return !ec;
}

bool StdCallerIdFileOps::Remove(const char* path) {
    return std::remove(path) == 0;
}

CallerIdFileOps& GetCallerIdFileOps() {
    return *currentOps;
}

void SetCallerIdFileOps(CallerIdFileOps* ops) {
    currentOps = ops ? ops : &stdOps;
}
