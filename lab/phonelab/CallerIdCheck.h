// The caller-ID expectations phonelab leaves for scripts/run-scenario, which decodes the saved
// sound with multimon-ng after the run (a Unix program: simpler there than through Wine) and
// fails the run unless the decoders name the caller. Portable.
#pragma once
#include "Script.h"

#include <string>

// The check file in the scenario's folder: one line per "expect callerid" step.
constexpr const char kCallerIdChecksFile[] = "callerid.checks";

// Where an "expect callerid" step saves the sound behind the mark: callerid-<line>.raw.
std::string CallerIdSoundFile(const Step& step);

// The step's line of the check file, tab-separated, with its line feed:
//   <scenario line> <sound file> fsk <number> <name>   (a field is "=<text>", "private" or
//                                                      "unavailable")
//   <scenario line> <sound file> dtmf <digits>
std::string CallerIdCheckLine(const Step& step);
