// phonelab's console: what a person types instead of a scenario. Every step of the scenario
// language works as written (lab/phonelab/Script.h), plus a few words of its own: help, status,
// lift, replace, dial, incoming, hangup, quit.
#pragma once

// Starts Kestrel.exe (unless startKestrel is false) and reads lines from stdin until quit or
// the end of the input. Returns phonelab's exit code: 0, or 1 if a line failed.
int RunConsole(bool transcript, bool startKestrel);
