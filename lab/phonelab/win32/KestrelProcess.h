// The Kestrel.exe processes that phonelab starts, and the windows they show.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

struct KestrelInstance {
    std::string name;
    HANDLE process = nullptr;
    DWORD pid = 0;
};

class KestrelProcesses {
  public:
    KestrelProcesses() = default;
    KestrelProcesses(const KestrelProcesses&) = delete;
    KestrelProcesses& operator=(const KestrelProcesses&) = delete;
    ~KestrelProcesses();

    // Starts Kestrel.exe of the current directory (or the one SetKestrelProgram names) with
    // phonelab's environment. Given a shortcut, starts what it targets in its working folder,
    // as Explorer would; a launcher that starts Kestrel.exe and ends is followed to that
    // Kestrel.exe.
    bool Start(const std::string& name, const std::string& shortcut, std::string* error);
    // The last instance started under this name, or null.
    KestrelInstance* Find(const std::string& name);
    // Whether it still runs; otherwise *exitCode holds its exit code.
    static bool Running(const KestrelInstance& k, DWORD* exitCode);
    std::vector<DWORD> Pids() const;
    // "kestrel (pid 42): running; second (pid 43): exited with code 0"
    std::string Describe() const;
    // Ends every instance that still runs; returns how many had to be ended.
    int TerminateAll();

  private:
    std::vector<KestrelInstance> m_instances;
};

// The Kestrel.exe that "start kestrel" runs without a shortcut (default: the current
// directory's).
void SetKestrelProgram(const std::string& exe);

extern const char kMainTitle[];

// The main dialog ("#32770" titled kMainTitle) of process pid, or null.
HWND FindMainDialog(DWORD pid);
// Top-level "#32770" windows titled title, of any process.
int CountDialogs(const std::string& title);

struct ShownBox {
    HWND wnd = nullptr;
    DWORD pid = 0;
    std::string caption;
    std::vector<std::string> texts; // the static texts inside
};
// The dialogs other than the main one that the given processes show (message boxes).
std::vector<ShownBox> FindMessageBoxes(const std::vector<DWORD>& pids);
// Presses the box's OK (or only) button as a click would.
bool DismissBox(const ShownBox& box);

// Posts a key press (down and up) to the dialog's focused control, or the dialog itself, so it
// goes through the dialog's own keyboard handling as typed keys do.
void PostKeyPress(HWND dialog, UINT vk);
