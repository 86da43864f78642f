// The logic of the recorder and file-choice dialogs that needs no window: the seconds box,
// the name check, the progress counters and the file list. playback/win32 wires it to the
// dialog templates 135 and 136.
#pragma once
#include "playback/PlaybackTable.h"

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
extern const char kMsgFileNameEnd[];
extern const char kMsgReservedFileName[];

// The longest playback name (without ".wav") that the settings file gives back whole in every
// slot: a line is read in pieces of kSettingsLineMax characters, and the prefix "20.-->" and
// the name with its ".wav" must fit one with room for the line end as a text-mode reader sees
// it (one character).
constexpr size_t kMaxPlaybackStem =
    kSettingsLineMax - (sizeof "20.-->" - 1) - (sizeof ".wav" - 1) - 1;

// Why a playback name is refused.
enum class NameFault { None, Empty, BadCharacter, TooLong, BadEnding, PromptName, DeviceName };

// The one check of a playback's name, for the recorder's Save and the file choice's SELECT.
// stem is the name without the ".wav" the recorder appends. Refused: an empty name; a control
// character or one of / \ : * ? " < > |; more than kMaxPlaybackStem characters; a name that
// ends in a dot or a blank; the name of a prompt ("tone", "notify", "error"); a name Windows
// takes for a device (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1 to COM9, LPT1 to LPT9, with
// or without an extension). Letters match in any case.
NameFault CheckPlaybackName(const char* stem);
// The same check for a file listed in "wav": the rules above on its name without a final
// ".wav", except that the dot-or-blank rule looks at the end of the whole file name.
NameFault CheckPlaybackFile(const char* fileName);
// The message box text that refuses a name (null for NameFault::None).
const char* NameFaultMessage(NameFault fault);

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
// empty. Returns the message that refuses the selected name (itemText then empty), or null.
const char* SelectPlaybackFile(const std::vector<std::string>& items, int selected,
                               BridgeState& state);
// DELETE: deletes "wav\" + the selected name; nothing when no file is selected or the name
// would not mean that very file inside "wav". Returns whether a file was deleted.
bool DeletePlaybackFile(const std::vector<std::string>& items, int selected, BridgeState& state);
