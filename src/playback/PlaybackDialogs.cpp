#include "playback/PlaybackDialogs.h"

#include "bridge/BridgeState.h"
#include "playback/FileOps.h"
#include "playback/WaveAudio.h"

#include <cstdio>
#include <cstring>

const char kClearEntry[] = "----------------<CLEAR>----------------";
const char kErrorCaption[] = "Error";
const char kMsgNoFileName[] = "Please input file name!";
const char kMsgBadFileName[] = "File name cloud not include\n / \\ : * ? \" < > |";
const char kMsgFileNameTooLong[] = "File name is too long!";
const char kMsgFileNameEnd[] = "File name cannot end with a dot or a blank!";
const char kMsgReservedFileName[] = "This file name is reserved. Please choose another name!";

void FormatRecordSeconds(double seconds, char* out, size_t size) {
    if (size == 0) return;
    std::snprintf(out, size, "%#.4g", seconds);
    // Exponent forms keep their digits; plain ones lose the trailing zeros only.
    if (std::strchr(out, 'e') || !std::strchr(out, '.')) return;
    size_t len = std::strlen(out);
    while (len > 0 && out[len - 1] == '0')
        out[--len] = '\0';
}

namespace {

char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Whether the length characters at a are b, ignoring the case of ASCII letters.
bool SameLetters(const char* a, size_t length, const char* b) {
    if (std::strlen(b) != length) return false;
    for (size_t i = 0; i < length; ++i) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    }
    return true;
}

// The recorder saves a take beside the program before moving it into "wav", so these would
// overwrite a prompt.
const char* const kPromptStems[] = {"tone", "notify", "error"};

// Windows takes these for devices whatever extension follows and however the case goes.
const char* const kDeviceNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};

bool IsDeviceName(const char* name) {
    // The part before the first dot, with the blanks Windows drops at its end.
    size_t length = std::strcspn(name, ".");
    while (length > 0 && name[length - 1] == ' ')
        --length;
    for (const char* device : kDeviceNames) {
        if (SameLetters(name, length, device)) return true;
    }
    // COM1 to COM9 and LPT1 to LPT9, also with the superscript digits 1, 2, 3 of the ANSI
    // code page.
    if (length != 4 || !(SameLetters(name, 3, "COM") || SameLetters(name, 3, "LPT"))) return false;
    unsigned char digit = static_cast<unsigned char>(name[3]);
    return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

// name holds length characters; the first stemLength of them are the name without ".wav".
NameFault CheckName(const char* name, size_t length, size_t stemLength) {
    if (stemLength == 0) return NameFault::Empty;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        // No file name holds a control character, and a line end would split the name's line
        // in the settings file.
        if (c < 0x20 || std::strchr("/\\:*?\"<>|", c) != nullptr) return NameFault::BadCharacter;
    }
    // Windows drops them, so the file would get another name than the one kept in the slot.
    if (name[length - 1] == '.' || name[length - 1] == ' ') return NameFault::BadEnding;
    for (const char* prompt : kPromptStems) {
        if (SameLetters(name, stemLength, prompt)) return NameFault::PromptName;
    }
    if (IsDeviceName(name)) return NameFault::DeviceName;
    // Last: DELETE still removes a name only too long to keep, so the faults that make a name
    // mean another file (or a device) must not hide behind this one.
    if (stemLength > kMaxPlaybackStem) return NameFault::TooLong;
    return NameFault::None;
}

} // namespace

NameFault CheckPlaybackName(const char* stem) {
    if (!stem) return NameFault::Empty;
    size_t length = std::strlen(stem);
    return CheckName(stem, length, length);
}

NameFault CheckPlaybackFile(const char* fileName) {
    if (!fileName) return NameFault::Empty;
    size_t length = std::strlen(fileName);
    size_t stemLength = length;
    if (length >= 4 && SameLetters(fileName + length - 4, 4, ".wav")) stemLength -= 4;
    return CheckName(fileName, length, stemLength);
}

const char* NameFaultMessage(NameFault fault) {
    switch (fault) {
    case NameFault::None: return nullptr;
    case NameFault::Empty: return kMsgNoFileName;
    case NameFault::BadCharacter: return kMsgBadFileName;
    case NameFault::TooLong: return kMsgFileNameTooLong;
    case NameFault::BadEnding: return kMsgFileNameEnd;
    case NameFault::PromptName:
    case NameFault::DeviceName: return kMsgReservedFileName;
    }
    return nullptr;
}

const char* CheckRecordName(const char* name) {
    return NameFaultMessage(CheckPlaybackName(name));
}

std::vector<std::string> MakeSelFileList(const char* wavDir) {
    std::vector<std::string> items = GetFileOps().ListWaveFiles(wavDir);
    items.emplace_back(kClearEntry);
    return items;
}

int InitialSelFileSelection(const std::vector<std::string>& items) {
    return items.size() > 1 ? 0 : -1;
}

namespace {

// The selected item's text, or null when nothing (or nothing valid) is selected.
const std::string* Selected(const std::vector<std::string>& items, int selected) {
    if (selected < 0 || static_cast<size_t>(selected) >= items.size()) return nullptr;
    return &items[static_cast<size_t>(selected)];
}

void CopyItemText(BridgeState& state, const std::string* text) {
    std::memset(state.itemText, 0, sizeof state.itemText);
    if (text && *text != kClearEntry)
        std::snprintf(state.itemText, sizeof state.itemText, "%s", text->c_str());
}

} // namespace

const char* SelectPlaybackFile(const std::vector<std::string>& items, int selected,
                               BridgeState& state) {
    const std::string* text = Selected(items, selected);
    if (text && *text != kClearEntry) {
        // A slot must be able to keep the name: the same check as a recording's.
        if (const char* refusal = NameFaultMessage(CheckPlaybackFile(text->c_str()))) {
            CopyItemText(state, nullptr);
            return refusal;
        }
    }
    CopyItemText(state, text);
    return nullptr;
}

bool DeletePlaybackFile(const std::vector<std::string>& items, int selected, BridgeState& state) {
    const std::string* text = Selected(items, selected);
    CopyItemText(state, text);
    if (state.itemText[0] == '\0') return false;
    // Only a name that means this very file inside "wav": a separator would leave it, Windows
    // would drop a trailing dot or blank and delete another file, and a device is no file. A
    // name that may no longer be recorded may still be cleared away.
    NameFault fault = CheckPlaybackFile(state.itemText);
    if (fault == NameFault::BadCharacter || fault == NameFault::BadEnding ||
        fault == NameFault::DeviceName || text->size() >= sizeof state.itemText)
        return false;
    char path[kWavPathSize];
    std::snprintf(path, sizeof path, "%s%s", kWavPrefix, state.itemText);
    return GetFileOps().Remove(path);
}
