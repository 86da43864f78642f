// The one check of a playback's name, as the recorder (a typed name, saved with ".wav") and the
// file choice (a listed file name) use it. Whatever it accepts must
// - come back whole from the settings file: written by SavePlaybackTable in any slot (slot 20
//   has the longest prefix) and read by LoadPlaybackTable, in that slot and no other;
// - never name a prompt ("tone", "notify", "error" in any case) nor a device Windows reserves,
//   as Windows itself would read the file name (trailing dots and blanks dropped, the part
//   before the first dot with its trailing blanks dropped, any case);
// - be what SELECT hands back, and what DELETE removes inside "wav" and nowhere else.
// Whatever it refuses has a message for the user.
#include "fuzz/FuzzFakes.h"
#include "fuzz/FuzzInput.h"
#include "playback/FileOps.h"
#include "playback/PlaybackDialogs.h"
#include "playback/PlaybackTable.h"
#include "playback/WaveAudio.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Broken(const char* what, const std::string& name) {
    std::fprintf(stderr, "playback name invariant broken: %s (%zu characters)\n", what,
                 name.size());
    std::abort();
}

class SlotWindow final : public QuietMainWindow {
  public:
    void GetSlotName(int slot, char* buffer, unsigned size) override {
        if (size == 0) return;
        std::snprintf(buffer, size, "%s", slots[slot].c_str());
    }
    void SetSlotName(int slot, const char* name) override { slots[slot] = name; }
    std::map<int, std::string> slots;
};

// The real file operations, except that a deletion is only recorded.
class RecordingRemove final : public StdFileOps {
  public:
    bool Remove(const char* path) override {
        removed.push_back(path);
        return true;
    }
    std::vector<std::string> removed;
};

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string UpperCase(std::string s) {
    for (char& c : s)
        c = Upper(c);
    return s;
}

// The name as Windows stores it: trailing dots and blanks are dropped.
std::string AsWindowsStoresIt(std::string name) {
    while (!name.empty() && (name.back() == '.' || name.back() == ' '))
        name.pop_back();
    return name;
}

bool NamesReservedDevice(const std::string& fileName) {
    std::string base = AsWindowsStoresIt(fileName);
    base = base.substr(0, base.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    base = UpperCase(base);
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (base == device) return true;
    if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0)) {
        const unsigned char d = static_cast<unsigned char>(base[3]);
        // The digits 1 to 9, and the superscripts 1, 2, 3 of the ANSI code page.
        return (d >= '1' && d <= '9') || d == 0xB9 || d == 0xB2 || d == 0xB3;
    }
    return false;
}

bool NamesPrompt(const std::string& fileName) {
    std::string stem = UpperCase(AsWindowsStoresIt(fileName));
    if (stem.size() >= 4 && stem.compare(stem.size() - 4, 4, ".WAV") == 0)
        stem.resize(stem.size() - 4);
    return stem == "TONE" || stem == "NOTIFY" || stem == "ERROR";
}

void EnterScratch() {
    static bool inScratch = false;
    if (inScratch) return;
    const auto dir = std::filesystem::temp_directory_path() / "kestrel-fuzz-playback-name";
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    inScratch = true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    EnterScratch();
    FuzzInput in(data, size);
    const uint8_t how = in.Byte();
    const bool typed = how & 1; // the recorder's field, else a listed file
    const int slot = 1 + (how >> 1) % kPlaybackSlots;
    // A C string, as the dialogs read it; the recorder's field gives at most 255 characters.
    std::string name = in.Rest().c_str();
    if (typed && name.size() > kSaveNameSize - 1) name.resize(kSaveNameSize - 1);

    const NameFault fault =
        typed ? CheckPlaybackName(name.c_str()) : CheckPlaybackFile(name.c_str());
    if (typed && (CheckRecordName(name.c_str()) == nullptr) != (fault == NameFault::None))
        Broken("the recorder and the check disagree", name);
    if (fault != NameFault::None) {
        if (NameFaultMessage(fault) == nullptr) Broken("a refusal without a message", name);
    } else {
        const std::string fileName = typed ? name + ".wav" : name;
        if (NamesPrompt(fileName)) Broken("accepted the name of a prompt", name);
        if (NamesReservedDevice(fileName)) Broken("accepted a reserved device name", name);
        if (fileName.size() >= kItemTextSize) Broken("accepted a name no slot can hold", name);

        // Through the settings file and back, in the chosen slot and in slot 20.
        SlotWindow written;
        written.slots[slot] = fileName;
        written.slots[kPlaybackSlots] = fileName;
        if (!SavePlaybackTable(written)) return 0; // the disk, not the name
        SlotWindow read;
        LoadPlaybackTable(read);
        for (int n = 1; n <= kPlaybackSlots; ++n) {
            const bool filled = n == slot || n == kPlaybackSlots;
            auto it = read.slots.find(n);
            if (filled && (it == read.slots.end() || it->second != fileName))
                Broken("a name did not come back whole from the settings file", name);
            if (!filled && it != read.slots.end())
                Broken("a name filled another slot from the settings file", name);
        }
    }

    // No file has the clear entry's name (Windows refuses '<' and '>'), so the list never shows
    // it twice.
    if (!typed && name != kClearEntry) {
        // SELECT hands back an accepted name as it is and nothing for a refused one.
        BridgeState state;
        const std::vector<std::string> items{name, kClearEntry};
        const char* refusal = SelectPlaybackFile(items, 0, state);
        if ((refusal == nullptr) != (fault == NameFault::None))
            Broken("SELECT and the check disagree", name);
        if (refusal == nullptr && !name.empty() && name != state.itemText)
            Broken("SELECT changed the name", name);
        if (refusal != nullptr && state.itemText[0] != '\0')
            Broken("SELECT kept a refused name", name);

        // DELETE removes a file directly inside "wav", under the name Windows would keep.
        RecordingRemove files;
        SetFileOps(&files);
        DeletePlaybackFile(items, 0, state);
        SetFileOps(nullptr);
        for (const std::string& path : files.removed) {
            if (path.compare(0, std::strlen(kWavPrefix), kWavPrefix) != 0)
                Broken("DELETE outside wav", name);
            const std::string rest = path.substr(std::strlen(kWavPrefix));
            if (rest != name || rest.find_first_of("/\\:") != std::string::npos ||
                AsWindowsStoresIt(rest) != rest || NamesReservedDevice(rest) || rest.empty())
                Broken("DELETE of another file than the one listed", name);
        }
    }
    return 0;
}
