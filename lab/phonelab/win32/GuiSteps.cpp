#include "GuiSteps.h"

#include "KestrelProcess.h"
#include "Output.h"
#include "TrayShell.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

namespace {

// Kestrel's GUI thread may be busy (a blocking playback holds it for seconds): every question
// sent to its windows gives up after this long, and the waiting step simply asks again.
constexpr UINT kAnswerMs = 500;

const char kMenuClass[] = "#32768";

std::string Quote(const std::string& text) {
    return "\"" + Printable(text) + "\"";
}

bool OfPids(HWND wnd, const std::vector<DWORD>& pids) {
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    return std::find(pids.begin(), pids.end(), pid) != pids.end();
}

std::string ClassOf(HWND wnd) {
    char name[64] = "";
    GetClassNameA(wnd, name, sizeof name);
    return name;
}

struct TopSearch {
    const std::vector<DWORD>* pids;
    const std::string* title;
    HWND found;
};

BOOL CALLBACK MatchTop(HWND wnd, LPARAM lp) {
    TopSearch& s = *reinterpret_cast<TopSearch*>(lp);
    if (!OfPids(wnd, *s.pids)) return TRUE;
    char text[256] = "";
    GetWindowTextA(wnd, text, sizeof text);
    if (*s.title != text) return TRUE;
    if (!s.found || IsWindowVisible(wnd)) s.found = wnd;
    return !IsWindowVisible(wnd);
}

// The top-level window of one of the processes with this caption; a visible one if there is.
HWND FindTop(const std::vector<DWORD>& pids, const std::string& title) {
    TopSearch search{&pids, &title, nullptr};
    EnumWindows(MatchTop, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The pop-up menu one of the processes is tracking (visible), or null.
HWND FindMenu(const std::vector<DWORD>& pids) {
    HWND wnd = nullptr;
    while ((wnd = FindWindowExA(nullptr, wnd, kMenuClass, nullptr)) != nullptr)
        if (IsWindowVisible(wnd) && OfPids(wnd, pids)) return wnd;
    return nullptr;
}

// A control's text through WM_GETTEXT (marshalled across processes, unlike GetWindowText,
// which for a foreign edit control would not return what the user sees).
bool TextOf(HWND wnd, std::string* text) {
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutA(wnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kAnswerMs, &len))
        return false;
    std::vector<char> buffer(len + 2, '\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutA(wnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(&buffer[0]),
                             SMTO_ABORTIFHUNG, kAnswerMs, &got))
        return false;
    text->assign(&buffer[0], std::min<size_t>(got, buffer.size() - 1));
    return true;
}

bool ListItems(HWND list, std::vector<std::string>* items, long* selected) {
    DWORD_PTR count = 0, sel = 0;
    if (!SendMessageTimeoutA(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, kAnswerMs, &count) ||
        static_cast<LONG_PTR>(count) < 0)
        return false;
    items->clear();
    for (DWORD_PTR i = 0; i < count; ++i) {
        DWORD_PTR len = 0;
        if (!SendMessageTimeoutA(list, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, kAnswerMs, &len) ||
            static_cast<LONG_PTR>(len) < 0)
            return false;
        // The wide form: Wine's marshalling of the 8-bit LB_GETTEXT to another process
        // crashes the sender.
        std::vector<wchar_t> buffer(len + 1, L'\0');
        DWORD_PTR got = 0;
        if (!SendMessageTimeoutW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&buffer[0]),
                                 SMTO_ABORTIFHUNG, kAnswerMs, &got))
            return false;
        buffer.back() = L'\0';
        char item[1024] = "";
        WideCharToMultiByte(CP_ACP, 0, &buffer[0], -1, item, sizeof item, nullptr, nullptr);
        items->push_back(item);
    }
    if (!SendMessageTimeoutA(list, LB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, kAnswerMs, &sel))
        return false;
    *selected = static_cast<long>(static_cast<LONG_PTR>(sel)); // LB_ERR (-1): none
    return true;
}

std::string Join(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items)
        out += (out.empty() ? "" : " ") + Quote(item);
    return out.empty() ? "(no items)" : out;
}

INT_PTR CALLBACK InertDialog(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

// Dialog units of a template font to pixels, through a hidden dialog of phonelab's own made
// with that font: MapDialogRect answers only for dialogs of the calling process.
bool MapUnits(const std::string& face, long points, RECT* r) {
    static std::map<std::pair<std::string, long>, HWND> dialogs;
    HWND& dlg = dialogs[{face, points}];
    if (!dlg) {
        std::vector<WORD> t(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
        auto* head = reinterpret_cast<DLGTEMPLATE*>(&t[0]);
        head->style = WS_POPUP | DS_SETFONT;
        head->cx = 100;
        head->cy = 100;
        t.push_back(0); // no menu
        t.push_back(0); // the standard dialog class
        t.push_back(0); // no title
        t.push_back(static_cast<WORD>(points));
        for (char c : face)
            t.push_back(static_cast<WORD>(static_cast<unsigned char>(c)));
        t.push_back(0);
        dlg = CreateDialogIndirectParamA(GetModuleHandleA(nullptr),
                                         reinterpret_cast<DLGTEMPLATE*>(&t[0]), nullptr,
                                         InertDialog, 0);
        if (!dlg) return false;
    }
    return MapDialogRect(dlg, r) != FALSE;
}

// x, y, width and height in dialog units to pixels, each mapped on its own as the dialog
// manager places controls.
bool ToPixels(const std::string& face, long points, long x, long y, long w, long h, RECT* out) {
    RECT r = {x, y, w, h};
    if (!MapUnits(face, points, &r)) return false;
    *out = r; // left, top, width, height
    return true;
}

std::string Box(long x, long y, long w, long h) {
    char text[64];
    std::snprintf(text, sizeof text, "%ld,%ld %ldx%ld", x, y, w, h);
    return text;
}

// The template font of each dialog checked so far, for the control rows that follow.
std::map<std::string, std::pair<std::string, long>>& DialogFonts() {
    static std::map<std::string, std::pair<std::string, long>> fonts;
    return fonts;
}

const char* ClassForKind(GuiKind kind) {
    switch (kind) {
    case GuiKind::Push:
    case GuiKind::Radio:
    case GuiKind::Group: return "Button";
    case GuiKind::Edit: return "Edit";
    case GuiKind::Static: return "Static";
    case GuiKind::List: return "ListBox";
    case GuiKind::Slider: return "msctls_trackbar32";
    case GuiKind::None: break;
    }
    return "";
}

bool IsKind(HWND wnd, GuiKind kind) {
    if (_stricmp(ClassOf(wnd).c_str(), ClassForKind(kind)) != 0) return false;
    const LONG type = GetWindowLongA(wnd, GWL_STYLE) & BS_TYPEMASK;
    switch (kind) {
    case GuiKind::Push: return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
    case GuiKind::Radio: return type == BS_AUTORADIOBUTTON;
    case GuiKind::Group: return type == BS_GROUPBOX;
    default: return true;
    }
}

// Style words a row may name; a word listed for the control's kind in `decided` must also be
// absent when the row does not name it (a read-only name field is as wrong as an editable one).
struct StyleWord {
    const char* word;
    bool (*has)(LONG style, LONG ex);
    const char* decided; // the kinds, by name, for which absence is checked too
};
const StyleWord kStyles[] = {
    {"group", [](LONG s, LONG) { return (s & WS_GROUP) != 0; }, "radio"},
    {"readonly", [](LONG s, LONG) { return (s & ES_READONLY) != 0; }, "edit"},
    {"border", [](LONG s, LONG ex) { return (s & WS_BORDER) != 0 || (ex & WS_EX_CLIENTEDGE) != 0; },
     "edit list"},
    {"autohscroll", [](LONG s, LONG) { return (s & ES_AUTOHSCROLL) != 0; }, "edit"},
    {"right", [](LONG s, LONG) { return (s & ES_RIGHT) != 0; }, "edit"},
    {"center", [](LONG s, LONG) { return (s & SS_TYPEMASK) == SS_CENTER; }, "static"},
    {"noprefix", [](LONG s, LONG) { return (s & SS_NOPREFIX) != 0; }, "static"},
    {"notify", [](LONG s, LONG) { return (s & LBS_NOTIFY) != 0; }, "list"},
    {"nointegral", [](LONG s, LONG) { return (s & LBS_NOINTEGRALHEIGHT) != 0; }, "list"},
    {"vscroll", [](LONG s, LONG) { return (s & WS_VSCROLL) != 0; }, "list"},
    {"unsorted", [](LONG s, LONG) { return (s & LBS_SORT) == 0; }, "list"},
    {"noticks", [](LONG s, LONG) { return (s & 0x0010) != 0; }, "slider"}, // TBS_NOTICKS
};

bool DecidedFor(const char* decided, GuiKind kind) {
    const std::string list = std::string(" ") + decided + " ";
    return list.find(std::string(" ") + GuiKindName(kind) + " ") != std::string::npos;
}

bool ListFits(HWND list) {
    DWORD_PTR count = 0, height = 0;
    RECT client;
    return SendMessageTimeoutA(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, kAnswerMs, &count) &&
           SendMessageTimeoutA(list, LB_GETITEMHEIGHT, 0, 0, SMTO_ABORTIFHUNG, kAnswerMs,
                               &height) &&
           GetClientRect(list, &client) &&
           static_cast<LONG_PTR>(count * height) <= client.bottom - client.top;
}

HWND FindControl(HWND dlg, const GuiStep& step) {
    if (!step.ids.empty()) return GetDlgItem(dlg, static_cast<int>(step.ids[0]));
    for (HWND child = GetWindow(dlg, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        std::string text;
        if (IsKind(child, step.kind) && TextOf(child, &text) && text == step.text) return child;
    }
    return nullptr;
}

int CountChildren(HWND dlg) {
    int n = 0;
    for (HWND child = GetWindow(dlg, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        ++n;
    return n;
}

bool CheckDialog(const GuiStep& step, HWND dlg, std::string* expected, std::string* seen) {
    *expected = "dialog " + Quote(step.title) + ": class #32770, client " +
                Box(0, 0, step.w, step.h) + " dialog units of " + Quote(step.font) + " " +
                std::to_string(step.points) + ", " + std::to_string(step.controls) + " controls";
    for (const std::string& s : step.styles)
        *expected += ", " + s;
    if (ClassOf(dlg) != "#32770") {
        *seen = "class " + Quote(ClassOf(dlg));
        return false;
    }
    RECT want;
    if (!ToPixels(step.font, step.points, 0, 0, step.w, step.h, &want)) {
        *seen = "no dialog could be made with that font to convert the units";
        return false;
    }
    RECT client;
    GetClientRect(dlg, &client);
    if (client.right != want.right || client.bottom != want.bottom) {
        *seen = "client area " + std::to_string(client.right) + "x" +
                std::to_string(client.bottom) + " pixels; the units give " +
                std::to_string(want.right) + "x" + std::to_string(want.bottom);
        return false;
    }
    const int children = CountChildren(dlg);
    if (children != step.controls) {
        *seen = std::to_string(children) + " controls";
        return false;
    }
    const LONG style = GetWindowLongA(dlg, GWL_STYLE);
    const LONG ex = GetWindowLongA(dlg, GWL_EXSTYLE);
    if ((style & WS_CAPTION) != WS_CAPTION) {
        *seen = "no caption";
        return false;
    }
    for (const std::string& s : step.styles) {
        const bool ok = s == "sysmenu"      ? (style & WS_SYSMENU) != 0
                        : s == "modalframe" ? (ex & WS_EX_DLGMODALFRAME) != 0
                        : s == "appwindow"  ? (ex & WS_EX_APPWINDOW) != 0
                                            : (style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) == 0;
        if (!ok) {
            char text[96];
            std::snprintf(text, sizeof text, "not %s (style 0x%08lX, extended 0x%08lX)", s.c_str(),
                          static_cast<unsigned long>(style), static_cast<unsigned long>(ex));
            *seen = text;
            return false;
        }
    }
    DialogFonts()[step.title] = {step.font, step.points};
    return true;
}

bool CheckControl(const GuiStep& step, HWND dlg, std::string* expected, std::string* seen) {
    const std::string what =
        (step.ids.empty() ? std::string("the ") + GuiKindName(step.kind) + " " + Quote(step.text)
                          : "control " + std::to_string(step.ids[0])) +
        " of " + Quote(step.title);
    *expected = what + ": " + GuiKindName(step.kind) + " " + Quote(step.text) + " at " +
                Box(step.x, step.y, step.w, step.h) + " dialog units" +
                (step.enabled == 1   ? ", enabled"
                 : step.enabled == 0 ? ", disabled"
                                     : "");
    for (const std::string& s : step.styles)
        *expected += ", " + s;
    auto font = DialogFonts().find(step.title);
    if (font == DialogFonts().end()) {
        *seen = "no \"gui dialog\" step for this dialog before it (its template font is needed)";
        return false;
    }
    HWND ctl = FindControl(dlg, step);
    if (!ctl || GetParent(ctl) != dlg) {
        *seen = "no such control";
        return false;
    }
    if (!IsKind(ctl, step.kind)) {
        char text[96];
        std::snprintf(text, sizeof text, "class %s, style 0x%08lX", ClassOf(ctl).c_str(),
                      static_cast<unsigned long>(GetWindowLongA(ctl, GWL_STYLE)));
        *seen = text;
        return false;
    }
    std::string text;
    if (!TextOf(ctl, &text)) {
        *seen = "no answer to WM_GETTEXT";
        return false;
    }
    if (text != step.text) {
        *seen = "text " + Quote(text);
        return false;
    }
    if (!IsWindowVisible(ctl)) {
        *seen = "not visible";
        return false;
    }
    if (step.enabled >= 0 && (IsWindowEnabled(ctl) != FALSE) != (step.enabled == 1)) {
        *seen = IsWindowEnabled(ctl) ? "enabled" : "disabled";
        return false;
    }
    RECT want;
    if (!ToPixels(font->second.first, font->second.second, step.x, step.y, step.w, step.h, &want)) {
        *seen = "no dialog could be made with the template font to convert the units";
        return false;
    }
    RECT at;
    GetWindowRect(ctl, &at);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&at), 2);
    const long w = at.right - at.left, h = at.bottom - at.top;
    if (at.left != want.left || at.top != want.top || w != want.right || h != want.bottom) {
        *seen = "at " + Box(at.left, at.top, w, h) + " pixels; the units give " +
                Box(want.left, want.top, want.right, want.bottom);
        return false;
    }
    const LONG style = GetWindowLongA(ctl, GWL_STYLE);
    const LONG ex = GetWindowLongA(ctl, GWL_EXSTYLE);
    if (step.kind == GuiKind::Slider && (style & 0x0002) != 0) { // TBS_VERT
        *seen = "a vertical slider";
        return false;
    }
    const bool wantChecked =
        std::find(step.styles.begin(), step.styles.end(), "checked") != step.styles.end();
    if (step.kind == GuiKind::Radio) {
        DWORD_PTR check = 0;
        SendMessageTimeoutA(ctl, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kAnswerMs, &check);
        if ((check == BST_CHECKED) != wantChecked) {
            *seen = wantChecked ? "not checked" : "checked";
            return false;
        }
    }
    for (const StyleWord& sw : kStyles) {
        const bool named =
            std::find(step.styles.begin(), step.styles.end(), sw.word) != step.styles.end();
        if (!named && !DecidedFor(sw.decided, step.kind)) continue;
        if (named && step.kind == GuiKind::List && std::string(sw.word) == "vscroll" &&
            !sw.has(style, ex) && ListFits(ctl))
            continue; // the list hides its scroll bar, and drops the style, while all items fit
        if (sw.has(style, ex) != named) {
            char text[128];
            std::snprintf(text, sizeof text, "%s%s (style 0x%08lX, extended 0x%08lX)",
                          named ? "not " : "", sw.word, static_cast<unsigned long>(style),
                          static_cast<unsigned long>(ex));
            *seen = text;
            return false;
        }
    }
    return true;
}

void AppendBe32(std::vector<unsigned char>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(v >> shift));
}

uint32_t Crc32(const unsigned char* data, size_t size) {
    static uint32_t table[256];
    if (!table[1])
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void AppendChunk(std::vector<unsigned char>& png, const char* type,
                 const std::vector<unsigned char>& data) {
    AppendBe32(png, static_cast<uint32_t>(data.size()));
    const size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    AppendBe32(png, Crc32(&png[start], png.size() - start));
}

// An RGB image as PNG, its pixels in zlib's stored (uncompressed) blocks: no compressor
// needed, and screenshots of a few dialogs stay small enough.
std::vector<unsigned char> EncodePng(const std::vector<unsigned char>& rows, uint32_t width,
                                     uint32_t height) {
    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<unsigned char> ihdr;
    AppendBe32(ihdr, width);
    AppendBe32(ihdr, height);
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0}); // 8 bits, RGB, deflate, no filter, no interlace
    AppendChunk(png, "IHDR", ihdr);

    std::vector<unsigned char> z = {0x78, 0x01};
    uint32_t a = 1, b = 0;
    for (size_t at = 0; at < rows.size() || at == 0;) {
        const size_t n = std::min<size_t>(rows.size() - at, 65535);
        const bool last = at + n == rows.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<unsigned char>(n));
        z.push_back(static_cast<unsigned char>(n >> 8));
        z.push_back(static_cast<unsigned char>(~n));
        z.push_back(static_cast<unsigned char>(~n >> 8));
        z.insert(z.end(), rows.begin() + at, rows.begin() + at + n);
        for (size_t i = at; i < at + n; ++i) {
            a = (a + rows[i]) % 65521;
            b = (b + a) % 65521;
        }
        at += n;
        if (last) break;
    }
    AppendBe32(z, (b << 16) | a);
    AppendChunk(png, "IDAT", z);
    AppendChunk(png, "IEND", {});
    return png;
}

} // namespace

bool SaveScreenPng(const RECT& r, const std::string& file, std::string* error) {
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0 || w > 8192 || h > 8192) {
        *error = "an empty or oversized rectangle";
        return false;
    }
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h; // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = bmp && bits;
    if (ok) {
        HGDIOBJ old = SelectObject(mem, bmp);
        ok = BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(mem, old);
    }
    std::vector<unsigned char> rows;
    if (ok) {
        rows.reserve(static_cast<size_t>(h) * (1 + 3 * w));
        const auto* px = static_cast<const unsigned char*>(bits);
        for (int y = 0; y < h; ++y) {
            rows.push_back(0); // filter: none
            for (int x = 0; x < w; ++x) {
                const unsigned char* p = px + (static_cast<size_t>(y) * w + x) * 4;
                rows.insert(rows.end(), {p[2], p[1], p[0]});
            }
        }
    }
    if (bmp) DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    if (!ok) {
        *error = "the screen could not be read";
        return false;
    }
    const std::vector<unsigned char> png =
        EncodePng(rows, static_cast<uint32_t>(w), static_cast<uint32_t>(h));
    FILE* f = std::fopen(file.c_str(), "wb");
    if (!f || std::fwrite(png.data(), 1, png.size(), f) != png.size()) {
        if (f) std::fclose(f);
        *error = "cannot write " + file;
        return false;
    }
    if (std::fclose(f) != 0) {
        *error = "cannot write " + file;
        return false;
    }
    return true;
}

bool RunGuiStep(const GuiStep& step, const std::vector<DWORD>& pids, const GuiWait& wait,
                std::string* expected, std::string* seen) {
    const std::string window = Quote(step.title);
    auto visibleDialog = [&](HWND* dlg) {
        *dlg = FindTop(pids, step.title);
        if (*dlg && IsWindowVisible(*dlg)) return true;
        *expected = "a window " + window + " shown by Kestrel";
        *seen = *dlg ? "it is hidden" : "none";
        return false;
    };
    auto control = [&](HWND dlg, long id, HWND* ctl) {
        *ctl = GetDlgItem(dlg, static_cast<int>(id));
        if (*ctl) return true;
        *expected = "control " + std::to_string(id) + " in " + window;
        *seen = "no such control";
        return false;
    };
    HWND dlg = nullptr;
    HWND ctl = nullptr;

    switch (step.op) {
    case GuiOp::Dialog: return visibleDialog(&dlg) && CheckDialog(step, dlg, expected, seen);

    case GuiOp::Control: return visibleDialog(&dlg) && CheckControl(step, dlg, expected, seen);

    case GuiOp::Click:
        if (!visibleDialog(&dlg) || !control(dlg, step.ids[0], &ctl)) return false;
        if (!IsWindowVisible(ctl) || !IsWindowEnabled(ctl)) {
            // A user cannot click it, so neither may a scenario.
            *expected = "control " + std::to_string(step.ids[0]) + " of " + window +
                        " visible and enabled, to be clicked";
            *seen = IsWindowVisible(ctl) ? "disabled" : "hidden";
            return false;
        }
        PostMessageA(ctl, BM_CLICK, 0, 0);
        return true;

    case GuiOp::Type: {
        if (!visibleDialog(&dlg) || !control(dlg, step.ids[0], &ctl)) return false;
        DWORD_PTR ok = 0;
        if (!IsWindowEnabled(ctl) ||
            !SendMessageTimeoutA(ctl, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(step.text.c_str()),
                                 SMTO_ABORTIFHUNG, 2000, &ok) ||
            !ok) {
            *expected = Quote(step.text) + " typed into control " + std::to_string(step.ids[0]);
            *seen = IsWindowEnabled(ctl) ? "the control did not take it" : "it is disabled";
            return false;
        }
        return true;
    }

    case GuiOp::Choose: {
        if (!visibleDialog(&dlg) || !control(dlg, step.ids[0], &ctl)) return false;
        std::vector<std::string> items;
        long selected = -1;
        *expected = "the item " + Quote(step.text) + " in list " + std::to_string(step.ids[0]);
        if (!ListItems(ctl, &items, &selected)) {
            *seen = "the list did not answer";
            return false;
        }
        auto it = std::find(items.begin(), items.end(), step.text);
        if (it == items.end()) {
            *seen = Join(items);
            return false;
        }
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(ctl, LB_SETCURSEL, it - items.begin(), 0, SMTO_ABORTIFHUNG, 2000,
                            &ignored);
        return true;
    }

    case GuiOp::Close:
        dlg = FindTop(pids, step.title);
        if (!dlg) return visibleDialog(&dlg);
        PostMessageA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
        return true;

    case GuiOp::Key:
        dlg = FindTop(pids, step.title); // hidden windows too: keys reach them as well
        if (!dlg) return visibleDialog(&dlg);
        PostKeyPress(dlg, step.key);
        return true;

    case GuiOp::Tray:
        // Found without asking Kestrel anything, and posted: a busy GUI thread takes it later.
        dlg = FindTop(pids, step.title);
        if (!dlg) {
            *expected = "a window " + window + " to take the tray icon's notice";
            *seen = "none";
            return false;
        }
        PostMessageA(dlg, 0x1409, 0, static_cast<LPARAM>(step.key)); // the tray callback
        return true;

    case GuiOp::Screenshot: {
        RECT r = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        if (step.target == GuiTarget::Window) {
            if (!visibleDialog(&dlg)) return false;
            GetWindowRect(dlg, &r);
        } else if (step.target == GuiTarget::Menu) {
            HWND menu = FindMenu(pids);
            if (!menu) {
                *expected = "a pop-up menu of Kestrel to photograph";
                *seen = "none shown";
                return false;
            }
            GetWindowRect(menu, &r);
        } else if (step.target == GuiTarget::Tray) {
            const TrayView tray = LookAtTray();
            if (!tray.tray) {
                *expected = "the notification area's window to photograph";
                *seen = "none shown";
                return false;
            }
            // The icons' row; without a window manager the caption above it is not drawn.
            GetClientRect(tray.tray, &r);
            MapWindowPoints(tray.tray, nullptr, reinterpret_cast<POINT*>(&r), 2);
        }
        // Let the window finish painting what the last step changed.
        wait(200, [] { return false; });
        std::string error;
        if (!SaveScreenPng(r, step.text, &error)) {
            *expected = "a screenshot in " + step.text;
            *seen = error;
            return false;
        }
        return true;
    }

    case GuiOp::MenuKey: {
        HWND menu = FindMenu(pids);
        if (!menu) {
            *expected = "a pop-up menu of Kestrel to take the key";
            *seen = "none shown";
            return false;
        }
        // The menu's tracking loop reads every key message of the thread's queue.
        PostMessageA(menu, WM_KEYDOWN, step.key, 1);
        PostMessageA(menu, WM_KEYUP, step.key, 0xC0000001);
        return true;
    }

    case GuiOp::ExpectShown:
    case GuiOp::ExpectHidden: {
        const bool shown = step.op == GuiOp::ExpectShown;
        *expected = "a window " + window + (shown ? " shown" : " hidden or gone") + " within " +
                    std::to_string(step.ms) + " ms";
        if (wait(step.ms, [&] {
                HWND w = FindTop(pids, step.title);
                return (w && IsWindowVisible(w)) == shown;
            }))
            return true;
        *seen = shown ? (FindTop(pids, step.title) ? "hidden" : "no such window") : "shown";
        return false;
    }

    case GuiOp::ExpectText: {
        *expected = "control " + std::to_string(step.ids[0]) + " of " + window + " reading " +
                    Quote(step.text) + " within " + std::to_string(step.ms) + " ms";
        std::string text;
        bool answered = false;
        if (wait(step.ms, [&] {
                HWND d = FindTop(pids, step.title);
                HWND c = d ? GetDlgItem(d, static_cast<int>(step.ids[0])) : nullptr;
                answered = c && TextOf(c, &text);
                return answered && text == step.text;
            }))
            return true;
        *seen = answered ? "it reads " + Quote(text) : "no such control, or no answer";
        return false;
    }

    case GuiOp::ExpectEnabled:
    case GuiOp::ExpectDisabled: {
        const bool enabled = step.op == GuiOp::ExpectEnabled;
        std::string ids;
        for (long id : step.ids)
            ids += (ids.empty() ? "" : " ") + std::to_string(id);
        *expected = "controls " + ids + " of " + window + (enabled ? " enabled" : " disabled") +
                    " within " + std::to_string(step.ms) + " ms";
        std::string wrong;
        if (wait(step.ms, [&] {
                wrong.clear();
                HWND d = FindTop(pids, step.title);
                for (long id : step.ids) {
                    HWND c = d ? GetDlgItem(d, static_cast<int>(id)) : nullptr;
                    if (!c || (IsWindowEnabled(c) != FALSE) != enabled)
                        wrong += (wrong.empty() ? "" : ", ") + std::to_string(id) +
                                 (!c        ? " missing"
                                  : enabled ? " disabled"
                                            : " enabled");
                }
                return wrong.empty();
            }))
            return true;
        *seen = wrong;
        return false;
    }

    case GuiOp::ExpectList: {
        *expected = "list " + std::to_string(step.ids[0]) + " of " + window + " holding " +
                    Join(step.items) +
                    (step.selected == -1  ? ", nothing selected"
                     : step.selected >= 0 ? ", item " + std::to_string(step.selected) + " selected"
                                          : "") +
                    " within " + std::to_string(step.ms) + " ms";
        std::vector<std::string> items;
        long selected = -1;
        bool answered = false;
        if (wait(step.ms, [&] {
                HWND d = FindTop(pids, step.title);
                HWND c = d ? GetDlgItem(d, static_cast<int>(step.ids[0])) : nullptr;
                answered = c && ListItems(c, &items, &selected);
                return answered && items == step.items &&
                       (step.selected == -2 || selected == step.selected);
            }))
            return true;
        *seen = answered ? Join(items) + ", selected " + std::to_string(selected)
                         : "no such list, or no answer";
        return false;
    }

    case GuiOp::ExpectMenuShown:
    case GuiOp::ExpectMenuClosed: {
        const bool shown = step.op == GuiOp::ExpectMenuShown;
        *expected = std::string("Kestrel's pop-up menu ") + (shown ? "shown" : "closed") +
                    " within " + std::to_string(step.ms) + " ms";
        if (wait(step.ms, [&] { return (FindMenu(pids) != nullptr) == shown; })) return true;
        *seen = shown ? "no menu" : "still shown";
        return false;
    }
    }
    *expected = "a known gui step";
    *seen = "an unknown one";
    return false;
}
