#include "LabLink.h"

#include "FileTail.h"

#include "../LogText.h"
#include "adapter/LabControl.h"

namespace {

struct FindLab {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindLabWindow(HWND wnd, LPARAM param) {
    FindLab* f = reinterpret_cast<FindLab*>(param);
    char cls[64] = "";
    GetClassNameA(wnd, cls, sizeof cls);
    if (std::string(cls) != LAB_CONTROL_CLASS) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    if (f->pid && pid != f->pid) return TRUE;
    f->found = wnd;
    return FALSE;
}

} // namespace

bool LabCommand(DWORD pid, const std::string& command, long* result, std::string* error) {
    FindLab f = {pid, nullptr};
    EnumWindows(FindLabWindow, reinterpret_cast<LPARAM>(&f));
    if (!f.found) {
        *error = "no lab adapter control window (is Kestrel running with the lab VaVoRar.dll?)";
        return false;
    }
    std::string text = command;
    COPYDATASTRUCT cds = {};
    cds.dwData = LAB_CONTROL_MAGIC;
    cds.cbData = static_cast<DWORD>(text.size() + 1);
    cds.lpData = &text[0];
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(f.found, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL,
                             5000, &answer)) {
        *error = "the lab adapter did not answer \"" + command + "\"";
        return false;
    }
    // The answer is an int carried in the result; keep its sign on 64-bit builds too.
    *result = static_cast<long>(static_cast<int>(answer));
    return true;
}

const std::string& LabLog::Read() const {
    ReadAppended(m_path, &m_cache);
    return m_cache;
}

std::vector<std::string> LabLog::Tail(size_t n) const {
    const std::string& log = Read();
    std::vector<std::string> lines = SplitLines(m_start < log.size() ? log.substr(m_start) : "");
    if (lines.size() > n) lines.erase(lines.begin(), lines.end() - static_cast<long>(n));
    return lines;
}
