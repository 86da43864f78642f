#include "core/win32/FileOpsWin32.h"

#include <cstdio>
#include <io.h>

bool FileOpsWin32::Exists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool FileOpsWin32::Move(const char* from, const char* to) {
    return MoveFileA(from, to) != 0;
}

bool FileOpsWin32::Remove(const char* path) {
    return DeleteFileA(path) != 0;
}

bool FileOpsWin32::Flush(std::FILE* f) {
    if (std::fflush(f) != 0) return false;
    // fflush only hands the bytes to the system; the disk may still lack them.
    HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
    return file != INVALID_HANDLE_VALUE && FlushFileBuffers(file) != 0;
}

bool FileOpsWin32::Replace(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::vector<std::string> FileOpsWin32::ListWaveFiles(const char* dir) {
    std::vector<std::string> names;
    char pattern[MAX_PATH + 8];
    int n = std::snprintf(pattern, sizeof pattern, "%s\\*.wav", dir);
    if (n < 0 || static_cast<size_t>(n) >= sizeof pattern) return names;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(pattern, &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        found.cFileName[MAX_PATH - 1] = '\0';
        names.emplace_back(found.cFileName);
    } while (FindNextFileA(find, &found));
    FindClose(find);
    return names;
}

void InstallFileOpsWin32() {
    static FileOpsWin32 files;
    SetFileOps(&files);
}
