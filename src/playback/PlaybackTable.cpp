#include "playback/PlaybackTable.h"

#include "bridge/BridgeState.h"
#include "bridge/MainWindow.h"
#include "core/GuiThread.h"
#include "playback/FileOps.h"
#include "playback/WaveAudio.h"

#include <cassert>
#include <cstdio>
#include <cstring>
#include <string>

int settingsSaveFailed = 0;
const char kMsgSettingsNotSaved[] =
    "The playback settings could not be saved. Your last change will be lost when the program "
    "ends.";

namespace {

void ReadSlotName(MainWindow& wnd, int slot, char* buffer) {
    buffer[0] = '\0';
    wnd.GetSlotName(slot, buffer, kItemTextSize);
    buffer[kItemTextSize - 1] = '\0';
}

void MakeWavPath(BridgeState& state) {
    std::snprintf(state.wavPath, sizeof state.wavPath, "%s%s", kWavPrefix, state.itemText);
}

// Plays state.wavPath on promptPlayer to the end.
void PlayWavPath(BridgeState& state) {
    promptPlayer.Open(state.wavPath);
    promptPlayer.Play(false, state.mainWnd);
    promptPlayer.Close();
}

} // namespace

int ParsePlaybackLine(const char* line, size_t len, const char** name) {
    // Parse "<n>.-->" by hand: no leading zero, no blanks, n from 1 to 20.
    size_t i = 0;
    int slot = 0;
    while (i < len && i < 2 && line[i] >= '0' && line[i] <= '9') {
        slot = slot * 10 + (line[i] - '0');
        ++i;
    }
    if (i == 0 || line[0] == '0' || slot > kPlaybackSlots) return 0;
    static const char arrow[] = ".-->";
    if (len - i < 4 || std::memcmp(line + i, arrow, 4) != 0) return 0;
    *name = line + i + 4;
    return slot;
}

void LoadPlaybackTable(MainWindow& wnd) {
    assert(OnGuiThread() && "LoadPlaybackTable: GUI thread only");
    std::FILE* f = std::fopen(kPlaybackSettingsFile, "rb");
    if (!f) return;
    // Pieces as a text-mode fgets into 256 characters would give them: up to and including a
    // line feed, at most 255 characters; the rest of a longer line is the next piece.
    char line[kSettingsLineMax + 1];
    for (;;) {
        size_t len = 0;
        int c = EOF;
        while (len < kSettingsLineMax && (c = std::getc(f)) != EOF) {
            line[len++] = static_cast<char>(c);
            if (c == '\n') break;
        }
        if (len == 0) break;
        if (line[len - 1] == '\n') --len;
        if (len > 0 && line[len - 1] == '\r') --len;
        line[len] = '\0';
        const char* name = nullptr;
        int slot = ParsePlaybackLine(line, len, &name);
        if (slot != 0) {
            // A NUL in junk just ends the name.
            wnd.SetSlotName(slot, name);
            wnd.EnablePlayButton(slot, true);
        }
        if (c == EOF) break;
    }
    std::fclose(f);
}

bool SavePlaybackTable(MainWindow& wnd) {
    assert(OnGuiThread() && "SavePlaybackTable: GUI thread only");
    std::string bytes;
    char name[kItemTextSize];
    char entry[kItemTextSize + 16];
    for (int slot = 1; slot <= kPlaybackSlots; ++slot) {
        ReadSlotName(wnd, slot, name);
        if (name[0] == '\0') continue;
        // CR LF on every platform: the file is written in binary.
        int n = std::snprintf(entry, sizeof entry, "%d.-->%s\r\n", slot, name);
        if (n > 0) bytes.append(entry, static_cast<size_t>(n));
    }
    return WriteFileReplacing(kPlaybackSettingsFile, bytes);
}

void DropMissingPlaybacks(MainWindow& wnd, BridgeState& state) {
    assert(OnGuiThread() && "DropMissingPlaybacks: GUI thread only");
    for (int slot = 1; slot <= kPlaybackSlots; ++slot) {
        ReadSlotName(wnd, slot, state.itemText);
        MakeWavPath(state);
        if (state.itemText[0] != '\0' && !GetFileOps().Exists(state.wavPath)) {
            wnd.EnablePlayButton(slot, false);
            wnd.SetSlotName(slot, "");
        }
    }
}

void OnPlayN(MainWindow& wnd, BridgeState& state, int n) {
    assert(OnGuiThread() && "OnPlayN: GUI thread only");
    if (n < 1 || n > kPlaybackSlots) return;
    EndDialTone(state);
    ReadSlotName(wnd, n, state.itemText);
    MakeWavPath(state);
    PlayWavPath(state);
}

void OnSelectN(MainWindow& wnd, BridgeState& state, int n, PlaybackChooser& chooser) {
    assert(OnGuiThread() && "OnSelectN: GUI thread only");
    if (n < 1 || n > kPlaybackSlots) return;
    wnd.EnablePlayButton(n, false);
    int result = chooser.Run(state);
    if (result == kDialogOk) {
        state.itemText[kItemTextSize - 1] = '\0';
        wnd.SetSlotName(n, state.itemText);
        if (state.itemText[0] != '\0') wnd.EnablePlayButton(n, true);
    }
    if (SavePlaybackTable(wnd)) {
        settingsSaveFailed = 0;
    } else if (settingsSaveFailed == 0) {
        // Once per run of failures: a full disk would otherwise answer every Select with a box.
        settingsSaveFailed = 1;
        wnd.ShowMessage(kMsgSettingsNotSaved, "Error", true);
    }
}

int SpeedDialSlot(const char* dialed) {
    if (!dialed) return 0;
    size_t len = std::strlen(dialed);
    if (len < 1 || len > 2 || dialed[0] == '0') return 0;
    int value = 0;
    for (size_t i = 0; i < len; ++i) {
        if (dialed[i] < '0' || dialed[i] > '9') return 0;
        value = value * 10 + (dialed[i] - '0');
    }
    return value >= 1 && value <= kPlaybackSlots ? value : 0;
}

bool PlaySpeedDialPlayback(MainWindow& wnd, BridgeState& state, const char* dialed) {
    assert(OnGuiThread() && "PlaySpeedDialPlayback: GUI thread only");
    int slot = SpeedDialSlot(dialed);
    if (slot == 0) return false;
    ReadSlotName(wnd, slot, state.itemText);
    if (state.itemText[0] == '\0') return false;
    MakeWavPath(state);
    PlayWavPath(state);
    return true;
}
