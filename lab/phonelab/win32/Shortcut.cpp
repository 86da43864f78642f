#include "Shortcut.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

namespace {

std::string Narrow(const wchar_t* text) {
    char out[MAX_PATH * 4] = "";
    WideCharToMultiByte(CP_ACP, 0, text, -1, out, sizeof out, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& text) {
    wchar_t out[MAX_PATH * 4] = L"";
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out, MAX_PATH * 4);
    return out;
}

} // namespace

std::string ExpandEnvironment(const std::string& path) {
    char out[MAX_PATH * 4] = "";
    const DWORD n = ExpandEnvironmentStringsA(path.c_str(), out, sizeof out);
    return n == 0 || n > sizeof out ? path : std::string(out);
}

bool ReadShortcut(const std::string& path, ShortcutView* view, std::string* error) {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&link));
    if (SUCCEEDED(hr)) hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(hr)) hr = file->Load(Wide(ExpandEnvironment(path)).c_str(), STGM_READ);
    wchar_t target[MAX_PATH] = L"", args[1024] = L"", folder[MAX_PATH] = L"";
    if (SUCCEEDED(hr)) hr = link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
    if (SUCCEEDED(hr)) link->GetArguments(args, 1024);
    if (SUCCEEDED(hr)) link->GetWorkingDirectory(folder, MAX_PATH);
    if (file) file->Release();
    if (link) link->Release();
    if (SUCCEEDED(init)) CoUninitialize();
    if (FAILED(hr)) {
        char code[16];
        wsprintfA(code, "0x%08lX", static_cast<unsigned long>(hr));
        *error = "cannot read the shortcut " + path + " (" + code + ")";
        return false;
    }
    view->target = ExpandEnvironment(Narrow(target));
    view->arguments = Narrow(args);
    view->folderRaw = Narrow(folder);
    view->folder = ExpandEnvironment(view->folderRaw);
    return true;
}
