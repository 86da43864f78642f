#include "FileTail.h"

#include <windows.h>

void ReadAppended(const std::string& path, std::string* cache) {
    if (path.empty()) return;
    // Shared with the writer, which appends while we read.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER size = {};
    LARGE_INTEGER at = {};
    at.QuadPart = static_cast<LONGLONG>(cache->size());
    if (!GetFileSizeEx(file, &size) || size.QuadPart < at.QuadPart) {
        cache->clear();
        at.QuadPart = 0;
    }
    if (SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) {
        char buffer[65536];
        DWORD got = 0;
        while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
            cache->append(buffer, got);
    }
    CloseHandle(file);
}

size_t FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.empty() || !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return static_cast<size_t>(data.nFileSizeLow); // logs of a run stay far below 4 GB
}
