// Runs the "gui" steps (../GuiScript.h) against the windows of the Kestrel processes a scenario
// started: reads their dialogs' controls from outside, clicks and types as a user would, and
// takes screenshots.
#pragma once
#include "../GuiScript.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Pumps phonelab's own messages until the condition holds or ms have passed; true if it held.
using GuiWait = std::function<bool(unsigned ms, const std::function<bool()>& condition)>;

// Runs one step; on failure fills what was expected and what was seen instead.
bool RunGuiStep(const GuiStep& step, const std::vector<DWORD>& pids, const GuiWait& wait,
                std::string* expected, std::string* seen);

// Writes the screen rectangle r as a PNG file; false with *error when it cannot.
bool SaveScreenPng(const RECT& r, const std::string& file, std::string* error);
