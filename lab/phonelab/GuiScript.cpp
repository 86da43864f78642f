#include "GuiScript.h"

#include "TokenCursor.h"

#include <algorithm>

namespace {

const char* const kDialogStyles[] = {"sysmenu", "modalframe", "appwindow", "nominmax"};
const char* const kControlStyles[] = {"group",    "readonly", "border", "autohscroll", "right",
                                      "center",   "noprefix", "notify", "nointegral",  "vscroll",
                                      "unsorted", "noticks",  "checked"};

struct KindName {
    GuiKind kind;
    const char* name;
};
const KindName kKinds[] = {{GuiKind::Push, "push"},     {GuiKind::Radio, "radio"},
                           {GuiKind::Group, "group"},   {GuiKind::Edit, "edit"},
                           {GuiKind::Static, "static"}, {GuiKind::List, "list"},
                           {GuiKind::Slider, "slider"}};

template <size_t N> bool OneOf(const std::string& word, const char* const (&words)[N]) {
    return std::find_if(std::begin(words), std::end(words),
                        [&](const char* w) { return word == w; }) != std::end(words);
}

bool NonNegative(TokenCursor& r, long* out, const char* what) {
    if (!r.Integer(out, what)) return false;
    return *out >= 0 || r.Fail(std::string(what) + " must not be negative");
}

bool ControlId(TokenCursor& r, long* out) {
    if (!r.Integer(out, "a control id")) return false;
    return (*out >= -1 && *out <= 0xFFFF) || r.Fail("a control id is -1 to 65535");
}

bool ParseKey(TokenCursor& r, unsigned* key, bool menu) {
    if (r.Accept("escape"))
        *key = 0x1B; // VK_ESCAPE
    else if (r.Accept("enter"))
        *key = 0x0D; // VK_RETURN
    else if (menu && r.Accept("down"))
        *key = 0x28; // VK_DOWN
    else if (menu && r.Accept("up"))
        *key = 0x26; // VK_UP
    else
        return r.Fail(menu ? "expected down, up, enter or escape" : "expected escape or enter");
    return true;
}

// A screenshot lands in the current directory (the scenario's scratch folder) and nowhere else.
bool ValidShotName(const std::string& name) {
    if (name.size() < 5 || name.size() > 64 || name.compare(name.size() - 4, 4, ".png") != 0)
        return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) {
                           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                  (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
                       }) &&
           name[0] != '.';
}

bool ParseStyles(TokenCursor& r, const char* const* begin, const char* const* end,
                 std::vector<std::string>* styles) {
    while (!r.AtEnd()) {
        std::string w;
        if (!r.Word(&w, "a style word")) return false;
        if (std::find_if(begin, end, [&](const char* s) { return w == s; }) == end)
            return r.Fail("unknown style '" + w + "'");
        styles->push_back(w);
    }
    return true;
}

} // namespace

const char* GuiKindName(GuiKind kind) {
    for (const KindName& k : kKinds)
        if (k.kind == kind) return k.name;
    return "none";
}

bool ParseGuiStep(const std::vector<Token>& tokens, GuiStep* out, std::string* error) {
    TokenCursor r(tokens, error);
    GuiStep s;
    std::string w;

    if (r.Accept("dialog")) {
        s.op = GuiOp::Dialog;
        if (!r.Quoted(&s.title, "the dialog's title") || !r.Expect("font") ||
            !r.Quoted(&s.font, "the template font's face") ||
            !NonNegative(r, &s.points, "a point size") || !r.Expect("size") ||
            !NonNegative(r, &s.w, "a width") || !NonNegative(r, &s.h, "a height") ||
            !r.Expect("controls") || !NonNegative(r, &s.controls, "a control count") ||
            !ParseStyles(r, std::begin(kDialogStyles), std::end(kDialogStyles), &s.styles))
            return false;
    } else if (r.Accept("control")) {
        s.op = GuiOp::Control;
        if (!r.Quoted(&s.title, "the dialog's title")) return false;
        if (!r.Accept("-")) {
            long id;
            if (!ControlId(r, &id)) return false;
            s.ids.push_back(id);
        }
        if (!r.Word(&w, "a control kind")) return false;
        for (const KindName& k : kKinds)
            if (w == k.name) s.kind = k.kind;
        if (s.kind == GuiKind::None)
            return r.Fail("unknown control kind '" + w +
                          "' (push radio group edit static list slider)");
        if (!r.Quoted(&s.text, "the control's text") || !r.Integer(&s.x, "x") ||
            !r.Integer(&s.y, "y") || !NonNegative(r, &s.w, "a width") ||
            !NonNegative(r, &s.h, "a height"))
            return false;
        if (r.Accept("enabled"))
            s.enabled = 1;
        else if (r.Accept("disabled"))
            s.enabled = 0;
        if (!ParseStyles(r, std::begin(kControlStyles), std::end(kControlStyles), &s.styles))
            return false;
    } else if (r.Accept("click") || r.Accept("type") || r.Accept("choose")) {
        const std::string verb = tokens[0].text;
        s.op = verb == "click" ? GuiOp::Click : verb == "type" ? GuiOp::Type : GuiOp::Choose;
        long id;
        if (!r.Quoted(&s.title, "the dialog's title") || !ControlId(r, &id)) return false;
        s.ids.push_back(id);
        if (s.op == GuiOp::Type && !r.Quoted(&s.text, "the text to type")) return false;
        if (s.op == GuiOp::Choose && !r.Quoted(&s.text, "the list item")) return false;
    } else if (r.Accept("close")) {
        s.op = GuiOp::Close;
        if (!r.Quoted(&s.title, "the dialog's title")) return false;
    } else if (r.Accept("key")) {
        s.op = GuiOp::Key;
        if (!r.Quoted(&s.title, "the dialog's title") || !ParseKey(r, &s.key, false)) return false;
    } else if (r.Accept("tray")) {
        s.op = GuiOp::Tray;
        if (!r.Quoted(&s.title, "the main window's title")) return false;
        if (r.Accept("left"))
            s.key = 0x0201; // WM_LBUTTONDOWN
        else if (r.Accept("right"))
            s.key = 0x0204; // WM_RBUTTONDOWN
        else
            return r.Fail("expected left or right");
    } else if (r.Accept("screenshot")) {
        s.op = GuiOp::Screenshot;
        if (r.Accept("menu"))
            s.target = GuiTarget::Menu;
        else if (r.Accept("tray"))
            s.target = GuiTarget::Tray;
        else if (r.Accept("screen"))
            s.target = GuiTarget::Screen;
        else if (!r.Quoted(&s.title, "the window's title, menu, tray or screen"))
            return false;
        if (!r.Word(&s.text, "a file name")) return false;
        if (!ValidShotName(s.text))
            return r.Fail("a screenshot is a plain file name ending in .png (a-z 0-9 _ - .)");
    } else if (r.Accept("menu")) {
        s.op = GuiOp::MenuKey;
        if (!r.Expect("key") || !ParseKey(r, &s.key, true)) return false;
    } else if (r.Accept("expect")) {
        if (r.Accept("shown") || r.Accept("hidden")) {
            s.op = tokens[1].text == "shown" ? GuiOp::ExpectShown : GuiOp::ExpectHidden;
            if (!r.Quoted(&s.title, "the window's title") || !r.Within(&s.ms)) return false;
        } else if (r.Accept("text")) {
            s.op = GuiOp::ExpectText;
            long id;
            if (!r.Quoted(&s.title, "the dialog's title") || !ControlId(r, &id) ||
                !r.Quoted(&s.text, "the text") || !r.Within(&s.ms))
                return false;
            s.ids.push_back(id);
        } else if (r.Accept("enabled") || r.Accept("disabled")) {
            s.op = tokens[1].text == "enabled" ? GuiOp::ExpectEnabled : GuiOp::ExpectDisabled;
            if (!r.Quoted(&s.title, "the dialog's title")) return false;
            while (r.PeekWord() != "within" && !r.AtEnd()) {
                long id;
                if (!ControlId(r, &id)) return false;
                s.ids.push_back(id);
            }
            if (s.ids.empty()) return r.Fail("expected a control id");
            if (!r.Within(&s.ms)) return false;
        } else if (r.Accept("list")) {
            s.op = GuiOp::ExpectList;
            long id;
            if (!r.Quoted(&s.title, "the dialog's title") || !ControlId(r, &id)) return false;
            s.ids.push_back(id);
            while (r.NextIsQuoted()) {
                r.Quoted(&w, "an item");
                s.items.push_back(w);
            }
            if (r.Accept("selected")) {
                if (r.Accept("none"))
                    s.selected = -1;
                else if (!NonNegative(r, &s.selected, "an item number or none"))
                    return false;
            }
            if (!r.Within(&s.ms)) return false;
        } else if (r.Accept("menu")) {
            if (r.Accept("shown"))
                s.op = GuiOp::ExpectMenuShown;
            else if (r.Accept("closed"))
                s.op = GuiOp::ExpectMenuClosed;
            else
                return r.Fail("expected shown or closed");
            if (!r.Within(&s.ms)) return false;
        } else {
            return r.Fail("expected shown, hidden, text, enabled, disabled, list or menu after "
                          "'gui expect'");
        }
    } else {
        return r.Fail(
            "expected dialog, control, click, type, choose, close, key, tray, screenshot, "
            "menu or expect after 'gui'");
    }
    if (!r.End()) return false;
    *out = s;
    return true;
}
