// Reading a shell shortcut (.lnk) as Explorer does when it starts one.
#pragma once
#include <string>

struct ShortcutView {
    std::string target; // the program, environment strings expanded
    std::string arguments;
    std::string folderRaw; // the working folder as stored (it may name %APPDATA% and the like)
    std::string folder;    // the same, expanded
};

// Environment strings in path ("%APPDATA%\\Kestrel") expanded for this process.
std::string ExpandEnvironment(const std::string& path);

// False with *error when path names no readable shortcut.
bool ReadShortcut(const std::string& path, ShortcutView* view, std::string* error);
