// The "gui" steps of the scenario language: they look at Kestrel's dialogs and work them as a
// user would. Parsed here (portable, so a typo fails before anything runs); win32/GuiSteps runs
// them.
//
//   gui dialog "<title>" font "<face>" <points> size <w> <h> controls <n> [<style> ...]
//       the dialog's client area is w x h dialog units of that template font, it has n
//       controls; styles: sysmenu modalframe appwindow nominmax
//   gui control "<title>" <id>|- <kind> "<text>" <x> <y> <w> <h> [enabled|disabled] [<style> ...]
//       one row of a dialog's expected controls (- : no id of its own, found by kind and text);
//       kinds: push radio group edit static list slider; styles: group readonly border
//       autohscroll right center noprefix notify nointegral vscroll unsorted noticks, and
//       checked (a radio button's state)
//   gui click "<title>" <id>          (a user's click: refused while the control is disabled)
//   gui type "<title>" <id> "<text>"  gui choose "<title>" <id> "<list item>"
//   gui close "<title>"               (the close box)    gui key "<title>" escape|enter
//   gui tray "<title>" left|right     (a button pressed on the tray icon of that window)
//   gui screenshot "<title>"|menu|tray|screen <name>.png   (a PNG in the current directory;
//                                    tray: the notification area's window)
//   gui menu key down|up|enter|escape (to the pop-up menu Kestrel tracks)
//   gui expect shown|hidden "<title>" within <d>
//   gui expect text "<title>" <id> "<text>" within <d>
//   gui expect enabled|disabled "<title>" <id> [<id> ...] within <d>
//   gui expect list "<title>" <id> ["<item>" ...] [selected <n>|none] within <d>
//   gui expect menu shown|closed within <d>
// "<title>" is the caption of a top-level window of a Kestrel process started by the scenario.
#pragma once
#include "Script.h"

#include <string>
#include <vector>

enum class GuiOp {
    Dialog,
    Control,
    Click,
    Type,
    Choose,
    Close,
    Key,
    Tray,
    Screenshot,
    MenuKey,
    ExpectShown,
    ExpectHidden,
    ExpectText,
    ExpectEnabled,
    ExpectDisabled,
    ExpectList,
    ExpectMenuShown,
    ExpectMenuClosed,
};

enum class GuiKind { None, Push, Radio, Group, Edit, Static, List, Slider };

enum class GuiTarget { Window, Menu, Tray, Screen }; // what a screenshot shows

struct GuiStep {
    GuiOp op = GuiOp::Click;
    std::string title;
    std::vector<long> ids;           // control ids; empty for a control row without an id
    GuiKind kind = GuiKind::None;    // control rows
    std::string text;                // control text, typed text, list item, file name
    std::vector<std::string> items;  // expect list
    long selected = -2;              // expect list: -2 not looked at, -1 no selection
    long x = 0, y = 0, w = 0, h = 0; // dialog units
    int enabled = -1;                // control rows: -1 not looked at, 0 disabled, 1 enabled
    std::vector<std::string> styles; // dialog and control rows
    std::string font;                // dialog: template font face
    long points = 0;                 // dialog: its size
    long controls = 0;               // dialog: how many controls
    unsigned key = 0;                // virtual key (key, menu key); mouse message (tray)
    GuiTarget target = GuiTarget::Window;
    unsigned ms = 0;
};

// Parses the tokens after "gui". Returns false with *error for a malformed step.
bool ParseGuiStep(const std::vector<Token>& tokens, GuiStep* step, std::string* error);

// The kind's name as written in scenarios ("push", ...).
const char* GuiKindName(GuiKind kind);
