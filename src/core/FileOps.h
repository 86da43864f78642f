// The program's file operations, behind one seam for every subsystem (playbacks, the caller-ID
// setting): the portable default uses the C and C++ libraries; core/win32 replaces it with the
// ANSI Win32 calls (so names in the system code page reach the disk unchanged and replacing a
// file is one atomic step). Tests derive from StdFileOps to inject failures.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

class FileOps {
  public:
    virtual ~FileOps() = default;

    // Whether a file or directory exists at path.
    virtual bool Exists(const char* path) = 0;
    // Reads up to maxBytes + 1 bytes of path into out (one more than allowed, so that the
    // caller sees an oversized file); false when it cannot be opened or read.
    virtual bool Read(const char* path, std::string& out, size_t maxBytes) = 0;
    // Renames from to to; fails (changing nothing) when to already exists, as MoveFile.
    virtual bool Move(const char* from, const char* to) = 0;
    // Deletes one file.
    virtual bool Remove(const char* path) = 0;
    // Puts from in place of to in one step, replacing it; on failure to is left as it was.
    virtual bool Replace(const char* from, const char* to) = 0;
    // Opens path for writing in binary, creating or emptying it; null when it cannot.
    virtual std::FILE* OpenForWrite(const char* path) = 0;
    // Writes all of data to f; false when any of it could not be written.
    virtual bool Write(std::FILE* f, const char* data, size_t size) = 0;
    // Pushes what was written to f through to the disk, not only to the system's cache.
    virtual bool Flush(std::FILE* f) = 0;
    // Closes f; false when what it still held could not be written.
    virtual bool Close(std::FILE* f) = 0;
    // Names (without directory) of the entries of dir matching "*.wav", case-insensitively.
    virtual std::vector<std::string> ListWaveFiles(const char* dir) = 0;
};

class StdFileOps : public FileOps {
  public:
    bool Exists(const char* path) override;
    bool Read(const char* path, std::string& out, size_t maxBytes) override;
    bool Move(const char* from, const char* to) override;
    bool Remove(const char* path) override;
    bool Replace(const char* from, const char* to) override;
    std::FILE* OpenForWrite(const char* path) override;
    bool Write(std::FILE* f, const char* data, size_t size) override;
    // Only as far as the C library goes: the system's cache.
    bool Flush(std::FILE* f) override;
    bool Close(std::FILE* f) override;
    std::vector<std::string> ListWaveFiles(const char* dir) override;
};

FileOps& GetFileOps();
// Installs file operations (null restores the portable ones).
void SetFileOps(FileOps* ops);

// Writes bytes to path through a temporary file beside it, flushed and then put in place of
// path in one step. Returns false, leaving any old file at path whole, when anything fails.
bool WriteFileReplacing(const char* path, const std::string& bytes);
