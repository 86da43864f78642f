#include "SoundText.h"

size_t CountSounding(const char* bytes, size_t size) {
    size_t n = 0;
    for (size_t i = 0; i < size; ++i) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b != 0x00 && b != 0x80) ++n;
    }
    return n;
}

std::string WinePath(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    std::string out = "Z:";
    for (char c : path)
        out += c == '/' ? '\\' : c;
    return out;
}

bool IsScratchPath(const std::string& path) {
    if (path.empty() || path.size() > 200) return false;
    if (path.find(':') != std::string::npos) return false;
    size_t at = 0;
    for (;;) {
        const size_t end = path.find_first_of("/\\", at);
        const std::string part = path.substr(at, end == std::string::npos ? end : end - at);
        if (part.empty() || part == "." || part == "..") return false;
        if (end == std::string::npos) return true;
        at = end + 1;
    }
}
