// The GUI thread: it owns the windows, every timer, all Skype traffic and every sound. State that
// belongs to it alone (the players, the playback table) asserts it is reached from there only.
#pragma once

// True on the GUI thread. The first thread that asks is taken to be it: that is the thread
// that starts the program (or the test).
bool OnGuiThread();
