// The playback table: the 20 speed-dial slots are the main window's name fields, kept between
// runs in "wavefilesetup.ini" (one "%d.-->%s" line with CR LF per filled slot). GUI thread only
// (asserted).
#pragma once
#include <cstddef>

class MainWindow;
struct BridgeState;

constexpr int kPlaybackSlots = 20;
constexpr const char kPlaybackSettingsFile[] = "wavefilesetup.ini";
// Settings lines are read in pieces of at most this many characters.
constexpr size_t kSettingsLineMax = 255;

// 1 after a save of the settings file failed, until one works again: the user is told of the
// first failure only.
extern int settingsSaveFailed;
// What the user is told when the settings file could not be saved (caption "Error").
extern const char kMsgSettingsNotSaved[];

// Dialog results of the file choice.
constexpr int kDialogOk = 1;
constexpr int kDialogCancel = 2;

// The file-choice dialog as OnSelectN sees it: runs modally and returns kDialogOk or
// kDialogCancel; after kDialogOk, state.itemText holds the chosen name (empty: clear the slot).
class PlaybackChooser {
  public:
    virtual ~PlaybackChooser() = default;
    virtual int Run(BridgeState& state) = 0;
};

// Fills the name fields from the settings file and enables the Play buttons of filled slots.
void LoadPlaybackTable(MainWindow& wnd);
// Rewrites the settings file from the name fields; false (old file whole) when it failed.
bool SavePlaybackTable(MainWindow& wnd);
// Empties every slot whose file has gone from "wav".
void DropMissingPlaybacks(MainWindow& wnd, BridgeState& state);
// Plays slot n's file through promptPlayer, blocking; stops a dial tone first.
void OnPlayN(MainWindow& wnd, BridgeState& state, int n);
// Lets the user choose slot n's file, then saves the table whatever the outcome; the first
// save that fails after one that worked (or at start) is told in a message box.
void OnSelectN(MainWindow& wnd, BridgeState& state, int n, PlaybackChooser& chooser);

// The slot a dialled one- or two-digit number names, or 0 when it plays no playback (a number
// beginning with 0, above 20, of another length, or not all digits).
int SpeedDialSlot(const char* dialed);
// Plays the playback of the slot that dialed names, if it has one, blocking. Returns whether a
// playback was started.
bool PlaySpeedDialPlayback(MainWindow& wnd, BridgeState& state, const char* dialed);

// The slot whose prefix starts line (len characters, line end already removed), or 0; *name
// is then the rest of the line.
int ParsePlaybackLine(const char* line, size_t len, const char** name);
