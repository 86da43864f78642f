// Which caller-ID standard the analogue telephone gets, and the small file that remembers it.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>

enum class CallerIdStandard { Off, Bell202, EtsiFsk, Dtmf };

// Beside "wavefilesetup.ini", which stays as it is.
constexpr const char kCallerIdSettingsFile[] = "callerid.ini";

// The name written to the file ("Off", "Bell202", "EtsiFsk", "Dtmf").
const char* CallerIdStandardName(CallerIdStandard standard);
// The standard a name stands for, case-insensitively; anything else is Off.
CallerIdStandard ParseCallerIdStandard(const std::string& name);

// Reads the choice from the file's "standard=<name>" line. A missing, unreadable, oversized or
// malformed file, or an unknown name, is Off.
CallerIdStandard LoadCallerIdStandard(const char* path);
// Writes the file through a temporary one put in its place in one step; false (leaving any old
// file whole) when anything fails.
bool SaveCallerIdStandard(const char* path, CallerIdStandard standard);

// The file operations the two above go through, so tests can inject failures. The portable
// default uses the C and C++ libraries; Windows may install one with its own replace call.
class CallerIdFileOps {
  public:
    virtual ~CallerIdFileOps() = default;

    // Reads up to maxBytes + 1 bytes of path into out; false when it cannot be opened or read.
    virtual bool Read(const char* path, std::string& out, size_t maxBytes) = 0;
    // Opens path for writing in binary, creating or emptying it; null when it cannot.
    virtual std::FILE* OpenForWrite(const char* path) = 0;
    // Writes all of data to f; false when any of it could not be written.
    virtual bool Write(std::FILE* f, const char* data, size_t size) = 0;
    // Pushes what was written to f through to the disk.
    virtual bool Flush(std::FILE* f) = 0;
    // Closes f; false when what it still held could not be written.
    virtual bool Close(std::FILE* f) = 0;
    // Puts from in place of to in one step, replacing it; on failure to is left as it was.
    virtual bool Replace(const char* from, const char* to) = 0;
    // Deletes one file.
    virtual bool Remove(const char* path) = 0;
};

class StdCallerIdFileOps : public CallerIdFileOps {
  public:
    bool Read(const char* path, std::string& out, size_t maxBytes) override;
    std::FILE* OpenForWrite(const char* path) override;
    bool Write(std::FILE* f, const char* data, size_t size) override;
    bool Flush(std::FILE* f) override;
    bool Close(std::FILE* f) override;
    bool Replace(const char* from, const char* to) override;
    bool Remove(const char* path) override;
};

CallerIdFileOps& GetCallerIdFileOps();
// Installs file operations (null restores the portable ones).
void SetCallerIdFileOps(CallerIdFileOps* ops);
