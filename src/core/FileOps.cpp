#include "core/FileOps.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

bool StdFileOps::Exists(const char* path) {
    std::error_code ec;
    return fs::exists(fs::path(path), ec);
}

bool StdFileOps::Read(const char* path, std::string& out, size_t maxBytes) {
    out.clear();
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    out.resize(maxBytes + 1);
    const size_t got = std::fread(&out[0], 1, out.size(), f);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    out.resize(got);
    return ok;
}

bool StdFileOps::Move(const char* from, const char* to) {
    // MoveFile never replaces; std::rename would on POSIX.
    if (Exists(to)) return false;
    return std::rename(from, to) == 0;
}

bool StdFileOps::Remove(const char* path) {
    return std::remove(path) == 0;
}

bool StdFileOps::Replace(const char* from, const char* to) {
    std::error_code ec;
    fs::rename(fs::path(from), fs::path(to), ec);
    return !ec;
}

std::FILE* StdFileOps::OpenForWrite(const char* path) {
    return std::fopen(path, "wb");
}

bool StdFileOps::Write(std::FILE* f, const char* data, size_t size) {
    return std::fwrite(data, 1, size, f) == size;
}

bool StdFileOps::Flush(std::FILE* f) {
    return std::fflush(f) == 0;
}

bool StdFileOps::Close(std::FILE* f) {
    return std::fclose(f) == 0;
}

namespace {

bool EndsWithWav(const std::string& name) {
    static const char ext[] = ".wav";
    if (name.size() < 4) return false;
    for (size_t i = 0; i < 4; ++i) {
        unsigned char c = static_cast<unsigned char>(name[name.size() - 4 + i]);
        if (std::tolower(c) != ext[i]) return false;
    }
    return true;
}

} // namespace

std::vector<std::string> StdFileOps::ListWaveFiles(const char* dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(dir), ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (EndsWithWav(name)) names.push_back(name);
    }
    // The directory order is arbitrary here; give the list a stable one.
    std::sort(names.begin(), names.end());
    return names;
}

namespace {
StdFileOps stdFileOps;
FileOps* currentOps = &stdFileOps;
} // namespace

FileOps& GetFileOps() {
    return *currentOps;
}
void SetFileOps(FileOps* ops) {
    currentOps = ops ? ops : &stdFileOps;
}

bool WriteFileReplacing(const char* path, const std::string& bytes) {
    FileOps& ops = GetFileOps();
    std::string temp = std::string(path) + ".tmp";
    bool ok = false;
    if (std::FILE* f = ops.OpenForWrite(temp.c_str())) {
        // Only a file that has reached the disk may take the old one's place: after a power
        // cut the name must lead to the old contents or to the whole new ones.
        ok = ops.Write(f, bytes.data(), bytes.size()) && ops.Flush(f);
        ok = ops.Close(f) && ok;
        if (ok) ok = ops.Replace(temp.c_str(), path);
    }
    if (!ok) ops.Remove(temp.c_str());
    return ok;
}
