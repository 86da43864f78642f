// Which caller-ID standard the analogue telephone gets, and the small file that remembers it.
#pragma once
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
// file whole) when anything fails. Both go through the program's file seam (core/FileOps.h).
bool SaveCallerIdStandard(const char* path, CallerIdStandard standard);
