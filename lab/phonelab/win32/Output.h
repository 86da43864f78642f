// Timestamped, flushed console output of phonelab: every line carries the time since start so
// a run can be read against Kestrel's own timing.
#pragma once
#include <cstdint>
#include <string>

// Milliseconds since phonelab started (real time: phonelab drives a real process).
uint64_t ElapsedMs();
// Dispatches every message waiting for the calling thread's windows.
void DispatchPendingMessages();
// Waits at most `ms` for `event` (a HANDLE) while the calling thread's windows keep answering:
// Kestrel broadcasts to every top-level window, and a deaf one would hold it up.
bool PumpUntilEvent(void* event, unsigned ms);
// "[  12.345] text" on stdout, flushed.
void Say(const std::string& text);
// The same, marked as a finding (something Kestrel did wrong that is worth a look even when the
// scenario does not test it).
void Finding(const std::string& text);
// Printable form of raw bytes: control characters and non-ASCII as \xNN, \n as \n.
std::string Printable(const std::string& bytes);
