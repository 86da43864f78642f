#include "Script.h"

#include "TokenCursor.h"

#include "GuiScript.h"

#include "Samples.h"
#include "SoundText.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

bool Tokenize(const std::string& line, std::vector<Token>* tokens, std::string* error) {
    tokens->clear();
    size_t i = line.find_first_not_of(" \t\r\n");
    // Only whole lines are comments: '#' is also a telephone key ("phone dial 12#").
    if (i == std::string::npos || line[i] == '#') return true;
    const size_t n = line.size();
    while (i < n) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        Token token;
        if (c == '"') {
            token.quoted = true;
            ++i;
            bool closed = false;
            while (i < n) {
                char d = line[i++];
                if (d == '"') {
                    closed = true;
                    break;
                }
                if (d == '\\') {
                    if (i >= n) break;
                    const char e = line[i++];
                    switch (e) {
                    case 'n': d = '\n'; break;
                    case 't': d = '\t'; break;
                    case '"': d = '"'; break;
                    case '\\': d = '\\'; break;
                    default: *error = std::string("unknown escape \\") + e; return false;
                    }
                }
                token.text += d;
            }
            if (!closed) {
                *error = "unterminated quoted text";
                return false;
            }
        } else {
            while (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' &&
                   line[i] != '\n' && line[i] != '"')
                token.text += line[i++];
        }
        tokens->push_back(token);
    }
    return true;
}

bool ParseDuration(const std::string& text, unsigned* ms) {
    size_t unitAt = text.find_first_not_of("0123456789.");
    if (unitAt == 0 || unitAt == std::string::npos) return false;
    const std::string number = text.substr(0, unitAt);
    const std::string unit = text.substr(unitAt);
    if (number.find('.') != number.rfind('.') || number == ".") return false;
    const double value = std::strtod(number.c_str(), nullptr);
    double scaled;
    if (unit == "ms")
        scaled = value;
    else if (unit == "s")
        scaled = value * 1000.0;
    else
        return false;
    if (scaled > 86400000.0) return false;
    *ms = static_cast<unsigned>(scaled + 0.5);
    return true;
}

bool ParseInteger(const std::string& text, long* value) {
    if (text.empty()) return false;
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(begin, &end, 0);
    if (errno != 0 || end == begin || *end != '\0') return false;
    // strtol with base 0 reads a leading 0 as octal; a scenario means decimal.
    size_t digits = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (text.size() > digits + 1 && text[digits] == '0' && text[digits + 1] != 'x' &&
        text[digits + 1] != 'X') {
        errno = 0;
        const long d = std::strtol(begin, &end, 10);
        if (errno != 0 || *end != '\0') return false;
        *value = d;
        return true;
    }
    *value = v;
    return true;
}

namespace {

bool IsDialChar(char c) {
    return (c >= '0' && c <= '9') || c == '*' || c == '#' || (c >= 'A' && c <= 'D');
}

// Names that would make "expect <name> ..." or "<name> key ..." ambiguous.
bool IsReservedName(const std::string& name) {
    static const char* const reserved[] = {
        "product", "env",    "remove",     "attach", "deny",      "start", "expect",
        "skype",   "phone",  "pstn",       "unplug", "plug",      "lab",   "log",
        "dismiss", "wait",   "transcript", "no",     "discovery", "ready", "messagebox",
        "windows", "sound",  "write",      "copy",   "gui",       "say",   "explorer",
        "tray",    "sample", "set",        "repeat", "end",       "play",  "callerid"};
    for (const char* r : reserved)
        if (name == r) return true;
    return false;
}

// A line-feed state as the lab's "phone linefeed?" answers it; -1 for an unknown name.
long LineFeedState(const std::string& name) {
    if (name == "open") return 0;
    if (name == "active") return 1;
    if (name == "onhook-transmission") return 2;
    if (name == "ringing") return 4;
    return -1;
}

// One field of an expected FSK caller ID: a quoted text, or why it is absent.
bool CallerIdField(TokenCursor& c, const char* what, std::string* out) {
    if (c.NextIsQuoted()) {
        if (!c.Quoted(out, what)) return false;
        if (out->empty())
            return c.Fail(std::string(what) + " is empty: say private or unavailable");
        for (char ch : *out)
            if (static_cast<unsigned char>(ch) < 0x20)
                return c.Fail(std::string(what) + " holds a control character");
        *out = "=" + *out;
        return true;
    }
    if (c.Accept("private")) return *out = "private", true;
    if (c.Accept("unavailable")) return *out = "unavailable", true;
    return c.Fail(std::string("expected ") + what + " as \"<text>\", private or unavailable");
}

bool ValidName(const std::string& name) {
    if (name.empty() || name.size() > 32) return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-'))
            return false;
    return !IsReservedName(name);
}

} // namespace

ScriptParser::ScriptParser() {
    m_names.insert("kestrel");
}

bool ScriptParser::ParseLine(const std::string& line, int lineNo, Step* step, bool* empty,
                             std::string* error) {
    error->clear();
    std::vector<Token> tokens;
    if (!Tokenize(line, &tokens, error)) return false;
    *empty = tokens.empty();
    if (*empty) return true;

    Step s;
    s.line = lineNo;
    s.source = line;
    while (!s.source.empty() && (s.source.back() == '\r' || s.source.back() == ' '))
        s.source.pop_back();
    if (!tokens[0].quoted && tokens[0].text == "gui") {
        auto gui = std::make_shared<GuiStep>();
        if (!ParseGuiStep(std::vector<Token>(tokens.begin() + 1, tokens.end()), gui.get(), error))
            return false;
        s.kind = StepKind::Gui;
        s.gui = gui;
        *step = s;
        return true;
    }
    TokenCursor c(tokens, error);
    std::string w;

    if (c.Accept("product")) {
        long id;
        if (!c.Word(&w, "a product id") || !ParseInteger(w, &id))
            return c.Fail("expected a product id like 0x831C");
        s.kind = StepKind::Env;
        s.text = "KESTREL_LAB_PRODUCT";
        s.text2 = w;
    } else if (c.Accept("env")) {
        s.kind = StepKind::Env;
        if (!c.Word(&s.text, "a variable name")) return false;
        if (c.NextIsQuoted()) {
            if (!c.Quoted(&s.text2, "a value")) return false;
        } else if (!c.Word(&s.text2, "a value")) {
            return false;
        }
    } else if (c.Accept("remove")) {
        s.kind = StepKind::Remove;
        if (!c.Word(&s.text, "a file name")) return false;
        // Only files of the scratch directory: a scenario must not reach elsewhere.
        if (s.text.find_first_of("/\\:") != std::string::npos || s.text == "." || s.text == "..")
            return c.Fail("remove takes a plain file name of the current directory");
    } else if (c.Accept("write")) {
        s.kind = StepKind::FileWrite;
        if (!c.Word(&s.text, "a file name") || !c.Quoted(&s.text2, "the text")) return false;
        if (!IsScratchPath(s.text))
            return c.Fail("write takes a file of the current directory or below it");
    } else if (c.Accept("copy")) {
        s.kind = StepKind::FileCopy;
        if (!c.Word(&s.text, "a file to copy") || !c.Word(&s.text2, "where to copy it"))
            return false;
        if (!IsScratchPath(s.text) || !IsScratchPath(s.text2))
            return c.Fail("copy takes files of the current directory or below it");
    } else if (c.Accept("attach")) {
        s.kind = StepKind::Attach;
        while (!c.AtEnd()) {
            long v;
            if (!c.Integer(&v, "an attach status")) return false;
            s.numbers.push_back(v);
        }
        if (s.numbers.empty()) return c.Fail("attach needs at least one status");
    } else if (c.Accept("deny")) {
        s.kind = StepKind::Deny;
        if (!c.Integer(&s.number, "a count")) return false;
        if (s.number < 0) return c.Fail("deny needs a count of 0 or more");
    } else if (c.Accept("start")) {
        s.kind = StepKind::Start;
        if (!c.Expect("kestrel")) return false;
        s.text = "kestrel";
        if (c.Accept("as")) {
            if (!c.Word(&s.text, "an instance name")) return false;
            if (!ValidName(s.text))
                return c.Fail("'" + s.text + "' cannot name an instance (use a-z, 0-9, _ -)");
        }
        if (c.Accept("from")) {
            if (!c.Expect("shortcut") || !c.Quoted(&s.text2, "the shortcut's path")) return false;
        }
        m_names.insert(s.text);
    } else if (c.Accept("skype")) {
        if (c.Accept("ring")) {
            std::string id, user, name;
            if (!c.Word(&id, "a call id") || !c.Expect("from")) return false;
            // Quoted, a handle may be empty or hold blanks, as a withheld caller's does.
            if (c.NextIsQuoted() ? !c.Quoted(&user, "a user") : !c.Word(&user, "a user"))
                return false;
            if (id.find_first_of("\"") != std::string::npos) return c.Fail("a call id is a word");
            s.kind = StepKind::SkypeSend;
            s.text = "CALL " + id + " STATUS RINGING";
            s.texts = {id, user};
            if (c.Accept("name")) {
                if (!c.Quoted(&name, "the display name")) return false;
                s.texts.push_back(name);
            }
            s.number = static_cast<long>(PartnerReply::Now);
            if (c.Accept("reply")) {
                if (c.Accept("after")) {
                    s.number = static_cast<long>(PartnerReply::After);
                    if (!c.Duration(&s.ms)) return false;
                } else if (c.Accept("never")) {
                    s.number = static_cast<long>(PartnerReply::Never);
                } else if (c.Accept("error")) {
                    s.number = static_cast<long>(PartnerReply::Error);
                    if (!c.Quoted(&s.text2, "the error text")) return false;
                } else {
                    return c.Fail("expected after <d>, never or error \"<text>\" after 'reply'");
                }
            }
        } else if (c.Accept("status")) {
            std::string id, status;
            if (!c.Word(&id, "a call id") || !c.Word(&status, "a status")) return false;
            s.kind = StepKind::SkypeSend;
            s.text = "CALL " + id + " STATUS " + status;
        } else if (c.Accept("send")) {
            s.kind = StepKind::SkypeSend;
            if (!c.Quoted(&s.text, "the text")) return false;
        } else if (c.Accept("auto")) {
            s.kind = StepKind::SkypeAuto;
            if (c.Accept("on"))
                s.flag = true;
            else if (!c.Expect("off"))
                return false;
        } else if (c.Accept("attach")) {
            s.kind = StepKind::SkypeAttach;
            if (!c.Integer(&s.number, "an attach status")) return false;
        } else if (c.Accept("hang")) {
            s.kind = StepKind::SkypeHang;
            if (!c.Duration(&s.ms)) return false;
        } else if (c.Accept("next")) {
            s.kind = StepKind::SkypeNextCall;
            if (!c.Expect("call") || !c.Integer(&s.number, "a call id")) return false;
            if (s.number < 1 || s.number > 999999999) return c.Fail("a call id is 1 to 999999999");
        } else {
            return c.Fail("expected ring, status, send, auto, attach, hang or next after 'skype'");
        }
    } else if (c.Accept("phone")) {
        if (c.Accept("offhook") || c.Accept("onhook")) {
            s.kind = StepKind::Lab;
            s.text = "phone " + tokens[1].text;
        } else if (c.Accept("dtmf")) {
            if (!c.Word(&w, "a key") || w.size() != 1 || !IsDialChar(w[0]))
                return c.Fail("expected one of 0-9 * # A B C D");
            s.kind = StepKind::Lab;
            s.text = "phone dtmf " + w;
        } else if (c.Accept("dial")) {
            s.kind = StepKind::PhoneDial;
            if (!c.Word(&s.text, "digits")) return false;
            for (char ch : s.text)
                if (!IsDialChar(ch)) return c.Fail("digits may be 0-9 * # A B C D");
        } else {
            return c.Fail("expected offhook, onhook, dtmf or dial after 'phone'");
        }
    } else if (c.Accept("pstn")) {
        s.kind = StepKind::Lab;
        if (c.Accept("ring")) {
            if (!c.Word(&w, "on or off") || (w != "on" && w != "off"))
                return c.Fail("expected on or off");
            s.text = "pstn ring " + w;
        } else if (c.Accept("line")) {
            if (!c.Word(&w, "busy or idle") || (w != "busy" && w != "idle"))
                return c.Fail("expected busy or idle");
            s.text = "pstn line " + w;
        } else {
            return c.Fail("expected ring or line after 'pstn'");
        }
    } else if (c.Accept("unplug") || c.Accept("plug")) {
        s.kind = StepKind::Lab;
        s.text = tokens[0].text;
    } else if (c.Accept("lab")) {
        s.kind = StepKind::Lab;
        if (!c.Quoted(&s.text, "a control command")) return false;
    } else if (c.Accept("log")) {
        s.kind = StepKind::LogMark;
        if (!c.Expect("mark")) return false;
    } else if (c.Accept("sound")) {
        s.kind = StepKind::SoundMark;
        if (!c.Expect("mark")) return false;
    } else if (c.Accept("dismiss")) {
        s.kind = StepKind::DismissMessageBox;
        if (!c.Expect("messagebox")) return false;
    } else if (c.Accept("wait")) {
        s.kind = StepKind::Wait;
        if (!c.Duration(&s.ms)) return false;
    } else if (c.Accept("say")) {
        s.kind = StepKind::Say;
        if (!c.Quoted(&s.text, "the text")) return false;
    } else if (c.Accept("explorer")) {
        s.kind = StepKind::ExplorerRestart;
        if (!c.Expect("restart")) return false;
    } else if (c.Accept("tray")) {
        s.kind = StepKind::TrayClick;
        if (!c.Expect("click")) return false;
        if (c.Accept("left"))
            s.number = 0x0201; // WM_LBUTTONDOWN
        else if (c.Accept("right"))
            s.number = 0x0204; // WM_RBUTTONDOWN
        else
            return c.Fail("expected left or right");
    } else if (c.Accept("play")) {
        s.kind = StepKind::PlayCallerId;
        if (!c.Expect("callerid")) return false;
        if (c.Accept("bell202"))
            s.text = "Bell202";
        else if (c.Accept("etsi"))
            s.text = "EtsiFsk";
        else if (c.Accept("dtmf"))
            s.text = "Dtmf";
        else
            return c.Fail("expected bell202, etsi or dtmf");
        if (c.Accept("from")) {
            std::string user, name;
            if (c.NextIsQuoted() ? !c.Quoted(&user, "a user") : !c.Word(&user, "a user"))
                return false;
            s.texts = {user};
            if (c.Accept("name")) {
                if (!c.Quoted(&name, "the display name")) return false;
                s.texts.push_back(name);
            }
        }
    } else if (c.Accept("sample")) {
        s.kind = StepKind::SampleStart;
        if (!c.Word(&s.text, "an instance name")) return false;
        if (!KnowsInstance(s.text))
            return c.Fail("no instance '" + s.text + "' was started before");
        if (!c.Expect("every") || !c.Duration(&s.ms)) return false;
        if (s.ms < 100) return c.Fail("sample at most every 100ms");
    } else if (c.Accept("set") || c.Accept("repeat") || c.Accept("end")) {
        return c.Fail("'" + tokens[0].text + "' belongs to a whole scenario file");
    } else if (c.Accept("transcript")) {
        s.kind = StepKind::Transcript;
        if (c.Accept("on"))
            s.flag = true;
        else if (!c.Expect("off"))
            return false;
    } else if (c.Accept("expect")) {
        if (c.Accept("discovery")) {
            s.kind = StepKind::ExpectDiscovery;
            if (!c.Within(&s.ms)) return false;
        } else if (c.Accept("ready")) {
            s.kind = StepKind::ExpectReady;
            if (!c.Within(&s.ms)) return false;
        } else if (c.Accept("skype")) {
            s.kind = StepKind::ExpectSkype;
            if (!c.Quoted(&s.text, "the command")) return false;
            if (c.Accept("after")) {
                if (!c.Expect("sound")) return false;
                s.flag = true;
            }
            if (!c.Within(&s.ms)) return false;
        } else if (c.Accept("sound")) {
            s.kind = StepKind::ExpectSound;
            if (!c.Within(&s.ms)) return false;
        } else if (c.Accept("callerid")) {
            s.kind = StepKind::ExpectCallerId;
            if (c.Accept("fsk")) {
                s.text = "fsk";
                std::string number, name;
                if (!CallerIdField(c, "the number", &number) ||
                    !CallerIdField(c, "the name", &name))
                    return false;
                s.texts = {number, name};
            } else if (c.Accept("dtmf")) {
                s.text = "dtmf";
                if (!c.Quoted(&w, "the digits")) return false;
                if (w.empty()) return c.Fail("expected the digits heard, like \"A4930123456C\"");
                for (char ch : w)
                    if (!IsDialChar(ch)) return c.Fail("digits may be 0-9 * # A B C D");
                s.texts = {w};
            } else {
                return c.Fail("expected fsk or dtmf after 'expect callerid'");
            }
            if (!c.Within(&s.ms)) return false;
            if (c.Accept("during")) {
                if (!c.Expect("onhook-transmission")) return false;
                s.flag = true;
            }
        } else if (c.Accept("samples")) {
            s.kind = StepKind::ExpectFlat;
            if (!c.Expect("flat") || !c.Expect("allowing")) return false;
            s.numbers.assign(kSampleFigures, -1);
            while (!c.AtEnd()) {
                int f = 0;
                while (f < kSampleFigures && !c.Accept(SampleFigureName(f)))
                    ++f;
                if (f == kSampleFigures)
                    return c.Fail("expected private, handles, gdi, user or threads");
                if (s.numbers[f] >= 0)
                    return c.Fail(std::string("'") + SampleFigureName(f) + "' twice");
                if (!c.Word(&w, "an allowance")) return false;
                long n = -1;
                if (f == kPrivateKB) {
                    const size_t unit = w.size() >= 2 ? w.size() - 2 : 0;
                    const std::string suffix = w.substr(unit);
                    if ((suffix != "KB" && suffix != "MB") || !ParseInteger(w.substr(0, unit), &n))
                        return c.Fail("expected an allowance in KB or MB like 512KB, got '" + w +
                                      "'");
                    if (suffix == "MB" && n >= 0 && n <= 1024 * 1024) n *= 1024;
                } else if (!ParseInteger(w, &n)) {
                    return c.Fail("expected a count, got '" + w + "'");
                }
                if (n < 0 || n > 1024L * 1024 * 1024)
                    return c.Fail("an allowance must be 0 or more");
                s.numbers[f] = n;
            }
            bool any = false;
            for (long n : s.numbers)
                any = any || n >= 0;
            if (!any) return c.Fail("expected at least one figure and its allowance");
        } else if (c.Accept("no")) {
            if (c.Accept("skype")) {
                s.kind = StepKind::ExpectNoSkype;
                if (!c.Within(&s.ms)) return false;
            } else if (c.Accept("log")) {
                if (c.Accept("from")) {
                    s.kind = StepKind::ExpectNoLogFrom;
                    if (!c.Word(&s.text, "an instance name")) return false;
                    if (!KnowsInstance(s.text))
                        return c.Fail("no instance '" + s.text + "' was started before");
                } else {
                    s.kind = StepKind::ExpectLog;
                    s.flag = true;
                    if (!c.Quoted(&s.text, "the text")) return false;
                    if (c.Accept("for") && !c.Duration(&s.ms)) return false;
                }
            } else if (c.Accept("sound")) {
                s.kind = StepKind::ExpectSound;
                s.flag = true;
                if (!c.Expect("for") || !c.Duration(&s.ms)) return false;
            } else {
                return c.Fail("expected skype, log or sound after 'expect no'");
            }
        } else if (c.Accept("phone")) {
            if (c.Accept("linefeed")) {
                s.kind = StepKind::ExpectLab;
                s.text = "phone linefeed?";
                s.flag = c.Accept("not");
                if (!c.Word(&w, "a line-feed state")) return false;
                s.number = LineFeedState(w);
                if (s.number < 0)
                    return c.Fail("expected open, active, onhook-transmission or ringing, got '" +
                                  w + "'");
                if (!c.ForOrWithin(&s.stay, &s.ms)) return false;
            } else {
                s.kind = StepKind::ExpectPhone;
                if (c.Accept("ringing"))
                    s.flag = true;
                else if (!c.Accept("silent"))
                    return c.Fail("expected ringing, silent or linefeed");
                if (!c.ForOrWithin(&s.stay, &s.ms)) return false;
            }
        } else if (c.Accept("lab")) {
            s.kind = StepKind::ExpectLab;
            if (!c.Quoted(&s.text, "a control command")) return false;
            if (c.Accept("!="))
                s.flag = true;
            else if (c.Accept(">="))
                s.text2 = ">=";
            else if (!c.Accept("="))
                return c.Fail("expected '=', '!=' or '>='");
            if (!c.Integer(&s.number, "the value")) return false;
            if (!c.ForOrWithin(&s.stay, &s.ms)) return false;
        } else if (c.Accept("tray")) {
            s.kind = StepKind::ExpectTrayIcons;
            if (!c.Expect("icons") || !c.Integer(&s.number, "a count of icons") || !c.Within(&s.ms))
                return false;
            if (s.number < 0) return c.Fail("a count of icons must not be negative");
        } else if (c.Accept("log")) {
            if (c.Accept("order")) {
                s.kind = StepKind::ExpectLogOrder;
                while (c.NextIsQuoted()) {
                    if (!c.Quoted(&w, "a text")) return false;
                    s.texts.push_back(w);
                }
                if (s.texts.size() < 2) return c.Fail("log order needs two texts or more");
                if (!c.AtEnd() && !c.Within(&s.ms)) return false;
            } else {
                s.kind = StepKind::ExpectLog;
                if (!c.Quoted(&s.text, "the text") || !c.Within(&s.ms)) return false;
            }
        } else if (c.Accept("messagebox")) {
            s.kind = StepKind::ExpectMessageBox;
            if (!c.Quoted(&s.text, "the text") || !c.Within(&s.ms)) return false;
        } else if (c.Accept("windows")) {
            s.kind = StepKind::ExpectWindows;
            if (!c.Quoted(&s.text, "the title") || !c.Integer(&s.number, "a count")) return false;
        } else if (KnowsInstance(c.PeekWord())) {
            c.Word(&s.text, "an instance");
            if (c.Accept("running")) {
                s.kind = StepKind::ExpectRunning;
            } else if (c.Accept("exit")) {
                s.kind = StepKind::ExpectExit;
                if (c.Accept("any"))
                    s.flag = true;
                else if (!c.Integer(&s.number, "an exit code or 'any'"))
                    return false;
                if (!c.Within(&s.ms)) return false;
            } else {
                return c.Fail("expected running or exit after '" + s.text + "'");
            }
        } else {
            return c.Fail("unknown expectation '" + c.PeekWord() + "'");
        }
    } else if (KnowsInstance(c.PeekWord())) {
        c.Word(&s.text, "an instance");
        if (c.Accept("key")) {
            s.kind = StepKind::KestrelKey;
            if (c.Accept("escape"))
                s.number = 0x1B; // VK_ESCAPE
            else if (c.Accept("enter"))
                s.number = 0x0D; // VK_RETURN
            else
                return c.Fail("expected escape or enter");
        } else if (c.Accept("close")) {
            s.kind = StepKind::KestrelClose;
        } else if (c.Accept("tray")) {
            s.kind = StepKind::KestrelTray;
            if (c.Accept("left"))
                s.number = 0x0201; // WM_LBUTTONDOWN
            else if (c.Accept("right"))
                s.number = 0x0204; // WM_RBUTTONDOWN
            else
                return c.Fail("expected left or right");
        } else {
            return c.Fail("expected key, close or tray after '" + s.text + "'");
        }
    } else {
        return c.Fail("unknown step '" +
                      (tokens[0].quoted ? "\"" + tokens[0].text + "\"" : tokens[0].text) + "'");
    }
    if (!c.End()) return false;
    *step = s;
    return true;
}

namespace {

bool ValidVariable(const std::string& name) {
    if (name.empty() || name.size() > 32 || (name[0] >= '0' && name[0] <= '9')) return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
    return true;
}

// A step list larger than this is a runaway repeat, not a scenario.
const size_t kMaxSteps = 100000;

struct Line {
    int number;
    std::string text;
};

// The first bare word of a line, "" for blank lines, comments and lines that do not tokenize.
std::string FirstWord(const std::string& line) {
    std::vector<Token> tokens;
    std::string ignored;
    if (!Tokenize(line, &tokens, &ignored) || tokens.empty() || tokens[0].quoted) return "";
    return tokens[0].text;
}

class ScriptExpander {
  public:
    ScriptExpander(const std::map<std::string, long>& presets, std::vector<Step>* steps)
        : m_vars(presets), m_steps(steps) {
        for (const auto& p : presets)
            m_fixed.insert(p.first);
    }

    // Lines [from, to); on failure *error is "<line>: <message>".
    bool Expand(const std::vector<Line>& lines, size_t from, size_t to, std::string* error) {
        for (size_t i = from; i < to; ++i) {
            const Line& line = lines[i];
            std::string text, message;
            if (!Substitute(line.text, &text, &message)) return Fail(line.number, message, error);
            std::vector<Token> tokens;
            if (!Tokenize(text, &tokens, &message)) return Fail(line.number, message, error);
            const std::string first =
                tokens.empty() || tokens[0].quoted ? std::string() : tokens[0].text;
            if (first == "set") {
                long value = 0;
                if (tokens.size() != 3 || tokens[1].quoted || !ValidVariable(tokens[1].text) ||
                    tokens[2].quoted || !ParseInteger(tokens[2].text, &value))
                    return Fail(line.number, "expected set <name> <integer> (name: a-z 0-9 _)",
                                error);
                if (!m_fixed.count(tokens[1].text)) m_vars[tokens[1].text] = value;
            } else if (first == "repeat") {
                long count = 0;
                std::string name;
                const bool named = tokens.size() == 4 && !tokens[2].quoted &&
                                   tokens[2].text == "as" && !tokens[3].quoted;
                if ((tokens.size() != 2 && !named) || tokens[1].quoted ||
                    !ParseInteger(tokens[1].text, &count))
                    return Fail(line.number, "expected repeat <count> [as <name>]", error);
                if (count < 0 || count > 100000)
                    return Fail(line.number, "a repeat count must be 0 to 100000", error);
                if (named) {
                    name = tokens[3].text;
                    if (!ValidVariable(name))
                        return Fail(line.number, "'" + name + "' cannot name a variable", error);
                }
                const size_t end = MatchingEnd(lines, i + 1, to);
                if (end == to) return Fail(line.number, "repeat without its end", error);
                const bool hadOuter = !name.empty() && m_vars.count(name);
                const long outer = hadOuter ? m_vars[name] : 0;
                for (long pass = 1; pass <= count; ++pass) {
                    if (!name.empty()) m_vars[name] = pass;
                    if (!Expand(lines, i + 1, end, error)) return false;
                }
                if (hadOuter)
                    m_vars[name] = outer;
                else if (!name.empty())
                    m_vars.erase(name);
                i = end;
            } else if (first == "end") {
                return Fail(line.number, "end without a repeat", error);
            } else {
                Step step;
                bool empty = false;
                if (!m_parser.ParseLine(text, line.number, &step, &empty, &message))
                    return Fail(line.number, message, error);
                if (empty) continue;
                if (m_steps->size() >= kMaxSteps)
                    return Fail(line.number, "more than " + std::to_string(kMaxSteps) + " steps",
                                error);
                m_steps->push_back(step);
            }
        }
        return true;
    }

  private:
    static bool Fail(int line, const std::string& message, std::string* error) {
        *error = std::to_string(line) + ": " + message;
        return false;
    }

    // The "end" closing the block that starts at from (nested blocks skipped), or to.
    static size_t MatchingEnd(const std::vector<Line>& lines, size_t from, size_t to) {
        int depth = 0;
        for (size_t i = from; i < to; ++i) {
            const std::string w = FirstWord(lines[i].text);
            if (w == "repeat") {
                ++depth;
            } else if (w == "end") {
                if (depth == 0) return i;
                --depth;
            }
        }
        return to;
    }

    // ${name} -> the variable's value; a '$' without '{' stays as it is.
    bool Substitute(const std::string& in, std::string* out, std::string* error) const {
        out->clear();
        for (size_t i = 0; i < in.size(); ++i) {
            if (in[i] != '$' || i + 1 >= in.size() || in[i + 1] != '{') {
                *out += in[i];
                continue;
            }
            const size_t close = in.find('}', i + 2);
            if (close == std::string::npos) {
                *error = "unterminated ${";
                return false;
            }
            const std::string name = in.substr(i + 2, close - i - 2);
            const auto it = m_vars.find(name);
            if (it == m_vars.end()) {
                *error = "unknown variable '" + name + "'";
                return false;
            }
            *out += std::to_string(it->second);
            i = close;
        }
        return true;
    }

    std::map<std::string, long> m_vars;
    std::set<std::string> m_fixed;
    std::vector<Step>* m_steps;
    ScriptParser m_parser;
};

} // namespace

bool ParseScript(const std::string& content, const std::map<std::string, long>& presets,
                 std::vector<Step>* steps, std::string* error) {
    steps->clear();
    std::vector<Line> lines;
    std::istringstream in(content);
    std::string text;
    while (std::getline(in, text))
        lines.push_back({static_cast<int>(lines.size()) + 1, text});
    ScriptExpander expander(presets, steps);
    return expander.Expand(lines, 0, lines.size(), error);
}

bool ParseScript(const std::string& content, std::vector<Step>* steps, std::string* error) {
    return ParseScript(content, {}, steps, error);
}

bool ParsePreset(const std::string& text, std::string* name, long* value) {
    const size_t at = text.find('=');
    if (at == std::string::npos) return false;
    *name = text.substr(0, at);
    return ValidVariable(*name) && ParseInteger(text.substr(at + 1), value);
}
