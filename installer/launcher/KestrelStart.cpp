// KestrelStart.exe: what the shortcuts run. Kestrel keeps its settings, recordings and prompts
// in its current folder, and the program folder is not writable for a standard user; so every
// user gets a data folder of their own under %APPDATA%, made and seeded here on first use, and
// Kestrel.exe is started in it.
//   KestrelStart.exe            make the data folder if needed, start Kestrel.exe in it
//   KestrelStart.exe --prepare  only make the data folder (run once per user at logon)
//   KestrelStart.exe --demo     the lab demo of Lab\ in a scratch folder of the user's own
#include <windows.h>

#include <shlobj.h>

#include <string>

namespace {

const wchar_t kTitle[] = L"DeRU Zarar Urorezu Vuzudu";
const wchar_t* const kPrompts[] = {L"tone.wav", L"notify.wav", L"error.wav"};

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH] = L"";
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return L"";
    std::wstring dir(path, n);
    const size_t at = dir.find_last_of(L'\\');
    return at == std::wstring::npos ? L"" : dir.substr(0, at);
}

std::wstring KnownFolder(int csidl) {
    wchar_t path[MAX_PATH] = L"";
    if (FAILED(SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, 0, path))) return L"";
    return path;
}

bool MakeFolder(const std::wstring& dir) {
    return CreateDirectoryW(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

// Copies the prompts that are missing or older than the installed ones (after an update);
// recordings and settings are never touched.
bool SeedPrompts(const std::wstring& from, const std::wstring& to) {
    for (const wchar_t* name : kPrompts) {
        const std::wstring source = from + L"\\" + name, target = to + L"\\" + name;
        WIN32_FILE_ATTRIBUTE_DATA s, t;
        if (!GetFileAttributesExW(source.c_str(), GetFileExInfoStandard, &s)) return false;
        if (GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &t) &&
            CompareFileTime(&t.ftLastWriteTime, &s.ftLastWriteTime) >= 0)
            continue;
        if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) return false;
    }
    return true;
}

// <base>\Kestrel\<sub> with "wav" and the prompts; empty on failure.
std::wstring PrepareFolder(int csidl, const wchar_t* sub, const std::wstring& program) {
    const std::wstring base = KnownFolder(csidl);
    if (base.empty()) return L"";
    std::wstring dir = base + L"\\Kestrel";
    if (!MakeFolder(dir)) return L"";
    if (*sub) {
        dir += L"\\";
        dir += sub;
        if (!MakeFolder(dir)) return L"";
    }
    if (!MakeFolder(dir + L"\\wav") || !SeedPrompts(program, dir)) return L"";
    return dir;
}

int Fail(const std::wstring& what) {
    const std::wstring text = what + L" (error " + std::to_wstring(GetLastError()) + L")";
    MessageBoxW(nullptr, text.c_str(), kTitle, MB_OK | MB_ICONERROR);
    return 1;
}

bool Run(const std::wstring& exe, std::wstring commandLine, const std::wstring& dir, DWORD flags) {
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, flags, nullptr,
                        dir.c_str(), &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

int StartDemo(const std::wstring& program) {
    const std::wstring lab = program + L"\\Lab";
    const std::wstring scratch = PrepareFolder(CSIDL_LOCAL_APPDATA, L"Lab", program);
    if (scratch.empty()) return Fail(L"Cannot make the lab's folder under %LOCALAPPDATA%");
    // The lab's VaVoRar.dll is found on the path of the programs started from here, after the
    // system folders: a vendor library installed there still wins.
    wchar_t path[32767] = L"";
    GetEnvironmentVariableW(L"PATH", path, 32767);
    SetEnvironmentVariableW(L"PATH", (lab + L";" + path).c_str());
    wchar_t comspec[MAX_PATH] = L"";
    if (!GetEnvironmentVariableW(L"ComSpec", comspec, MAX_PATH))
        lstrcpyW(comspec, L"C:\\Windows\\System32\\cmd.exe");
    // cmd keeps the console open at the end so that the transcript can be read.
    const std::wstring command =
        L"\"" + std::wstring(comspec) + L"\" /c \"\"" + lab + L"\\phonelab.exe\" --scenario \"" +
        lab + L"\\demo.scn\" --kestrel \"" + program + L"\\Kestrel.exe\" --transcript & pause\"";
    if (!Run(comspec, command, scratch, CREATE_NEW_CONSOLE)) return Fail(L"Cannot start the lab");
    return 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR args, int) {
    const std::wstring program = ProgramFolder();
    const std::wstring mode = args ? args : L"";
    if (program.empty()) return Fail(L"Cannot find the program's folder");
    if (mode == L"--demo") return StartDemo(program);
    const std::wstring data = PrepareFolder(CSIDL_APPDATA, L"", program);
    if (data.empty()) return Fail(L"Cannot make the data folder under %APPDATA%");
    if (mode == L"--prepare") return 0;
    const std::wstring exe = program + L"\\Kestrel.exe";
    if (!Run(exe, L"\"" + exe + L"\"", data, 0)) return Fail(L"Cannot start " + exe);
    return 0;
}
