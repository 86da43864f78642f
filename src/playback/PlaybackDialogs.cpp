#include "playback/PlaybackDialogs.h"

#include "call/BridgeState.h"
#include "playback/FileOps.h"
#include "playback/WaveAudio.h"

#include <cstdio>
#include <cstring>

const char kClearEntry[] = "----------------<CLEAR>----------------";
const char kErrorCaption[] = "Error";
const char kMsgNoFileName[] = "Please input file name!";
const char kMsgBadFileName[] = "File name cloud not include\n / \\ : * ? \" < > |";
const char kMsgFileNameTooLong[] = "File name is too long!";

void FormatRecordSeconds(double seconds, char* out, size_t size) {
    if (size == 0) return;
    std::snprintf(out, size, "%#.4g", seconds);
    // Exponent forms keep their digits; plain ones lose the trailing zeros only.
    if (std::strchr(out, 'e') || !std::strchr(out, '.')) return;
    size_t len = std::strlen(out);
    while (len > 0 && out[len - 1] == '0')
        out[--len] = '\0';
}

const char* CheckRecordName(const char* name) {
    if (!name || name[0] == '\0') return kMsgNoFileName;
    if (std::strpbrk(name, "/\\:*?\"<>|")) return kMsgBadFileName;
    if (!IsSafeSaveName(name)) return kMsgFileNameTooLong;
    return nullptr;
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

void SelectPlaybackFile(const std::vector<std::string>& items, int selected, BridgeState& state) {
    CopyItemText(state, Selected(items, selected));
}

bool DeletePlaybackFile(const std::vector<std::string>& items, int selected, BridgeState& state) {
    const std::string* text = Selected(items, selected);
    CopyItemText(state, text);
    if (state.itemText[0] == '\0') return false;
    // A listed name never holds these; refuse anything that could name a file elsewhere.
    if (std::strpbrk(state.itemText, "\\/:") || std::strcmp(state.itemText, "..") == 0 ||
        std::strcmp(state.itemText, ".") == 0 || text->size() >= sizeof state.itemText)
        return false;
    char path[kWavPathSize];
    std::snprintf(path, sizeof path, "%s%s", kWavPrefix, state.itemText);
    return GetFileOps().Remove(path);
}
