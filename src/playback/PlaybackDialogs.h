// The logic of the recorder and file-choice dialogs that needs no window: the seconds box,
// the name check, the progress counters and the file list. playback/win32 wires it to the
// dialog templates 135 and 136.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

struct BridgeState;

// The list entry that empties a slot.
extern const char kClearEntry[];

// Message box texts of the recorder's Save (caption kErrorCaption).
extern const char kErrorCaption[];
extern const char kMsgNoFileName[];
extern const char kMsgBadFileName[];
extern const char kMsgFileNameTooLong[];

// seconds with 4 significant digits, trailing zeros cut but the point kept: "0.25", "1.".
void FormatRecordSeconds(double seconds, char* out, size_t size);

// The message that refuses name in the recorder, or null when it may be saved.
const char* CheckRecordName(const char* name);

// The recorder's progress: ticks of timer 1070 and the seconds shown.
struct RecordProgress {
    int recordTicks = 0;
    double recordSeconds = 0.0;

    // Record pressed.
    void StartRecording() {
        recordTicks = 0;
        recordSeconds = 0.0;
    }
    // Play pressed: the first tick after playing adds the quarter back.
    void StartPlaying() {
        recordTicks = 0;
        recordSeconds -= 0.25;
    }
    // Playing has ended (or failed): the next tick is the twentieth.
    void PlayingEnded() { recordTicks = 19; }
    // One tick; returns the slider position it shows.
    int Tick() {
        ++recordTicks;
        recordSeconds += 0.25;
        return recordTicks * 5;
    }
};

// Slider position at which the take is over (20 ticks, 5 seconds).
constexpr int kRecordSliderEnd = 100;

// The file-choice list: the names of "*.wav" in wavDir, then the clear entry.
std::vector<std::string> MakeSelFileList(const char* wavDir);
// The item selected when the dialog opens: the first file, or none (-1) when there is none.
int InitialSelFileSelection(const std::vector<std::string>& items);
// SELECT: puts the selected name in state.itemText; the clear entry or no selection leave it
// empty.
void SelectPlaybackFile(const std::vector<std::string>& items, int selected, BridgeState& state);
// DELETE: deletes "wav\" + the selected name; nothing when no file is selected or the name
// could reach outside "wav". Returns whether a file was deleted.
bool DeletePlaybackFile(const std::vector<std::string>& items, int selected, BridgeState& state);
