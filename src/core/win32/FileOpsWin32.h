// The program's file operations over the ANSI Win32 calls: names in the system code page reach
// the disk unchanged, and a replacement is one MoveFileEx that waits for the disk.
#pragma once
#include "core/FileOps.h"

#include <windows.h>

class FileOpsWin32 final : public StdFileOps {
  public:
    bool Exists(const char* path) override;
    bool Move(const char* from, const char* to) override;
    bool Remove(const char* path) override;
    bool Flush(std::FILE* f) override;
    bool Replace(const char* from, const char* to) override;
    std::vector<std::string> ListWaveFiles(const char* dir) override;
};

// Installs FileOpsWin32 for the whole run; call once at start-up.
void InstallFileOpsWin32();
