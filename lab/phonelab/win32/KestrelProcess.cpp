#include "KestrelProcess.h"

#include "Output.h"
#include "Shortcut.h"

#include <tlhelp32.h>

#include <algorithm>

const char kMainTitle[] = "DeRU Zarar Urorezu Vuzudu";

KestrelProcesses::~KestrelProcesses() {
    TerminateAll();
    for (KestrelInstance& k : m_instances)
        CloseHandle(k.process);
}

namespace {

std::string g_program;

bool IsKestrelExe(const std::string& path) {
    const size_t at = path.find_last_of("/\\");
    return lstrcmpiA(path.substr(at == std::string::npos ? 0 : at + 1).c_str(), "Kestrel.exe") == 0;
}

// The Kestrel.exe that process parent started, opened; null if there is none.
HANDLE OpenKestrelChild(DWORD parent, DWORD* pid) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return nullptr;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    HANDLE found = nullptr;
    for (BOOL more = Process32First(snap, &entry); more && !found;
         more = Process32Next(snap, &entry)) {
        if (entry.th32ParentProcessID != parent || !IsKestrelExe(entry.szExeFile)) continue;
        found = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                            entry.th32ProcessID);
        *pid = entry.th32ProcessID;
    }
    CloseHandle(snap);
    return found;
}

} // namespace

void SetKestrelProgram(const std::string& exe) {
    g_program = exe;
}

bool KestrelProcesses::Start(const std::string& name, const std::string& shortcut,
                             std::string* error) {
    std::string exe = g_program, arguments, folder;
    if (!shortcut.empty()) {
        ShortcutView view;
        if (!ReadShortcut(shortcut, &view, error)) return false;
        Say("  shortcut " + shortcut + ": target \"" + view.target + "\" " + view.arguments +
            ", working folder \"" + view.folderRaw + "\" (" + view.folder + ")");
        exe = view.target;
        arguments = view.arguments;
        folder = view.folder;
    } else if (exe.empty()) {
        char dir[MAX_PATH] = "";
        const DWORD len = GetCurrentDirectoryA(sizeof dir, dir);
        if (len == 0 || len >= sizeof dir) {
            *error = "cannot read the current directory";
            return false;
        }
        exe = std::string(dir) + "\\Kestrel.exe";
    }
    if (GetFileAttributesA(exe.c_str()) == INVALID_FILE_ATTRIBUTES) {
        *error = "no " + exe;
        return false;
    }
    std::string commandLine = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &si, &pi)) {
        *error = "CreateProcess failed (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    CloseHandle(pi.hThread);
    if (!IsKestrelExe(exe)) {
        // A launcher: it ends once it has started Kestrel.exe.
        DWORD code = 0;
        const bool ended = PumpUntilEvent(pi.hProcess, 10000);
        GetExitCodeProcess(pi.hProcess, &code);
        HANDLE child =
            ended && code == 0 ? OpenKestrelChild(pi.dwProcessId, &pi.dwProcessId) : nullptr;
        CloseHandle(pi.hProcess);
        if (!child) {
            *error = !ended      ? exe + " did not end within 10 s"
                     : code != 0 ? exe + " ended with code " + std::to_string(code)
                                 : exe + " started no Kestrel.exe";
            return false;
        }
        pi.hProcess = child;
    }
    KestrelInstance k;
    k.name = name;
    k.process = pi.hProcess;
    k.pid = pi.dwProcessId;
    m_instances.push_back(k);
    return true;
}

KestrelInstance* KestrelProcesses::Find(const std::string& name) {
    for (auto it = m_instances.rbegin(); it != m_instances.rend(); ++it)
        if (it->name == name) return &*it;
    return nullptr;
}

bool KestrelProcesses::Running(const KestrelInstance& k, DWORD* exitCode) {
    if (WaitForSingleObject(k.process, 0) == WAIT_TIMEOUT) return true;
    DWORD code = 0;
    GetExitCodeProcess(k.process, &code);
    if (exitCode) *exitCode = code;
    return false;
}

std::vector<DWORD> KestrelProcesses::Pids() const {
    std::vector<DWORD> pids;
    for (const KestrelInstance& k : m_instances)
        pids.push_back(k.pid);
    return pids;
}

std::string KestrelProcesses::Describe() const {
    if (m_instances.empty()) return "none started";
    std::string out;
    for (const KestrelInstance& k : m_instances) {
        if (!out.empty()) out += "; ";
        DWORD code = 0;
        out += k.name + " (pid " + std::to_string(k.pid) + "): ";
        if (Running(k, &code))
            out += "running";
        else
            out += "exited with code " + std::to_string(static_cast<long>(code));
    }
    return out;
}

int KestrelProcesses::TerminateAll() {
    int ended = 0;
    for (KestrelInstance& k : m_instances) {
        if (!Running(k, nullptr)) continue;
        TerminateProcess(k.process, 255);
        WaitForSingleObject(k.process, 5000);
        ++ended;
    }
    return ended;
}

namespace {

std::string ClassOf(HWND wnd) {
    char cls[256] = "";
    GetClassNameA(wnd, cls, sizeof cls);
    return cls;
}

std::string TextOf(HWND wnd) {
    // Cross-process: GetWindowText only reads captions of other processes' windows, so ask
    // the window itself.
    char text[2048] = "";
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutA(wnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, 2000, &got))
        return "";
    text[sizeof text - 1] = '\0';
    return text;
}

struct Collect {
    std::vector<HWND> wnds;
};

BOOL CALLBACK CollectDialogs(HWND wnd, LPARAM param) {
    if (ClassOf(wnd) == "#32770") reinterpret_cast<Collect*>(param)->wnds.push_back(wnd);
    return TRUE;
}

BOOL CALLBACK CollectChildren(HWND wnd, LPARAM param) {
    reinterpret_cast<Collect*>(param)->wnds.push_back(wnd);
    return TRUE;
}

std::vector<HWND> TopDialogs() {
    Collect c;
    EnumWindows(CollectDialogs, reinterpret_cast<LPARAM>(&c));
    return c.wnds;
}

std::vector<HWND> Children(HWND wnd) {
    Collect c;
    EnumChildWindows(wnd, CollectChildren, reinterpret_cast<LPARAM>(&c));
    return c.wnds;
}

DWORD PidOf(HWND wnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    return pid;
}

} // namespace

HWND FindMainDialog(DWORD pid) {
    for (HWND wnd : TopDialogs())
        if (PidOf(wnd) == pid && TextOf(wnd) == kMainTitle) return wnd;
    return nullptr;
}

int CountDialogs(const std::string& title) {
    int n = 0;
    for (HWND wnd : TopDialogs())
        if (TextOf(wnd) == title) ++n;
    return n;
}

std::vector<ShownBox> FindMessageBoxes(const std::vector<DWORD>& pids) {
    std::vector<ShownBox> boxes;
    for (HWND wnd : TopDialogs()) {
        const DWORD pid = PidOf(wnd);
        if (std::find(pids.begin(), pids.end(), pid) == pids.end()) continue;
        if (!IsWindowVisible(wnd)) continue;
        ShownBox box;
        box.wnd = wnd;
        box.pid = pid;
        box.caption = TextOf(wnd);
        if (box.caption == kMainTitle) continue;
        for (HWND child : Children(wnd))
            if (ClassOf(child) == "Static") {
                std::string text = TextOf(child);
                if (!text.empty()) box.texts.push_back(text);
            }
        boxes.push_back(box);
    }
    return boxes;
}

bool DismissBox(const ShownBox& box) {
    HWND button = GetDlgItem(box.wnd, IDOK);
    int id = IDOK;
    if (!button) {
        for (HWND child : Children(box.wnd))
            if (ClassOf(child) == "Button") {
                button = child;
                id = GetDlgCtrlID(child);
                break;
            }
    }
    if (!button) return false;
    return PostMessageA(box.wnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                        reinterpret_cast<LPARAM>(button)) != 0;
}

void PostKeyPress(HWND dialog, UINT vk) {
    HWND target = dialog;
    GUITHREADINFO gti = {};
    gti.cbSize = sizeof gti;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gti) && gti.hwndFocus &&
        (gti.hwndFocus == dialog || IsChild(dialog, gti.hwndFocus)))
        target = gti.hwndFocus;
    const UINT scan = MapVirtualKeyA(vk, 0 /* MAPVK_VK_TO_VSC */);
    const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
    const LPARAM up = down | (static_cast<LPARAM>(3) << 30);
    PostMessageA(target, WM_KEYDOWN, vk, down);
    PostMessageA(target, WM_KEYUP, vk, up);
}
