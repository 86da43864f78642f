// Reading the lab adapter's call log: which lines matter to a scenario. Portable.
// A line looks like "17 3 64 R slic[64] 11 -> 1": the process's own call number, the vendor
// code, the param, then what the call did and its result.
#pragma once
#include <string>
#include <vector>

// Whether the line records the status poll's liveness read: vendor code 3 (line chip direct
// read) of register 64.
bool IsLivenessRead(const std::string& line);
// The pid a line names ("pid 42", "pid=42" or "pid:42"); false when it names none.
bool LinePid(const std::string& line, unsigned long* pid);
// Whether log holds a line of process pid: one that names pid, or, in a log whose lines name
// no pid, one whose call number does not follow its predecessor's (each process counts its
// calls from its own start, so a second writer breaks the sequence). *which receives the line.
bool LogShowsProcess(const std::string& log, unsigned long pid, std::string* which);
// How many of texts occur in log, each on a line after the previous one's line, looking only
// behind byte offset from. Equals texts.size() when all appear in order.
size_t CountInOrder(const std::string& log, size_t from, const std::vector<std::string>& texts);
// Splits text into lines without their line ends.
std::vector<std::string> SplitLines(const std::string& text);
