// The lab adapter's control commands and its one-line call format.
//
// Commands (text -> integer result; -1 for an unknown or malformed command):
//   phone offhook | phone onhook        -> 1   lift or replace the receiver
//   phone dtmf <0-9 * # A B C D>        -> 1   the telephone sends one DTMF digit
//   phone ringing? | phone bell?        -> 1 while the telephone's bell sounds (the line chip's
//                                          ring cadence, the PSTN line, a sounder), else 0
//   phone tone?                         -> frequency 1 * 10000 + frequency 2 (0 while off)
//   phone hook?                         -> 1 while the receiver is lifted
//   phone linefeed?                     -> the line feed's state (low nibble of register 64):
//                                          0 open, 1 forward active, 2 forward on-hook
//                                          transmission, 4 ringing
//   linefeed last <state>               -> ms the latest stretch in that state lasted (one
//                                          still going: until now), -1 none; state: open,
//                                          active, onhook-transmission, ringing or 0-15
//   linefeed sound <state> begin|end    -> the sound meter (in the lab: bytes in the capture
//                                          file) when that stretch began / ended; -2 when
//                                          there is none, it goes on, or nothing meters
//   pstn ring on|off                    -> 1
//   pstn line busy|idle                 -> 1
//   line?                               -> last line selected with code 25 (0 PSTN, 1 computer,
//                                          -1 none)
//   unplug | plug                       -> 1   the device is pulled out (every request that
//                                              reaches it fails) / plugged in (power-on values);
//                                              posts 1425 / 1424 to the window of code 16
//   plugged?                            -> 1 while the device is plugged in, else 0
//   product <id>                        -> 1   id in hex (0x...) or decimal
//   slic <reg> | bridge <reg> | indirect <reg> -> the register's value
//   slic reset                          -> 1   the line chip back to its reset values
//   fail <code> [count]                 -> 1   the next count calls of code fail (default 1)
//   fail <code> reg <reg> [count]       -> 1   the next count requests of code touching the
//                                              register fail (code 2: bridge, 3-6: line chip)
//   fail random <fraction> [seed <n>]   -> 1   each request on the bus fails with that
//                                              probability, replayable by seed (default 1);
//                                              fraction 0 turns it off
//   fail clear                          -> 1   every injection off (failures, refusals, stalls)
//   failures?                           -> requests failed on purpose so far
//   refuse <code> on|off                -> 1   every request of code fails while on
//   stall <ms> [count|always]           -> 1   the next count requests (default 1, or all)
//                                              each take ms longer; stall 0: off
//   faults?                             -> number of malformed requests recorded
//   calls?                              -> number of calls recorded
//   calls keep <n>                      -> 1   keep only the last n calls' records (1-1000000)
//   opened?                             -> 1 if code 0 was called and not followed by code 1
//   key <0-9 * # A-D> [down|up]         -> 1   a handset key: one short press, or held down /
//                                              let go (several may be down at once)
//   sounder? | relay?                   -> 1 while the handset's sounder sounds / relay is on
//   events?                             -> PCI card events (code 7) not yet collected
//   eeprom <address>                    -> the handset's settings-memory word (0-63)
//   Second-generation devices (LabPanel.h):
//   key <0-9 * # A-D offhook onhook>    -> 1   on a 0xF2xx/0xF3xx handset: a key of its own,
//                                              counted only (nothing reports it to the program)
//   panel keys?                         -> how many such keys were pressed
//   display?                            -> digits shown, not counting blanks (0 while off)
//   display <0-13>                      -> the digit at that position (10 blank, -1 no digit)
//   display mark?                       -> position shown with the mark (-1 none)
//   beeper?                             -> the beeper's frequency in Hz while it sounds, else 0
//   panel eeprom <address>              -> the panel's settings-memory word (0-63)
//   report? | reports?                  -> the last key report value (-1 none) / how many
//   switch?                             -> gateway switch: 0 off (code 22), 1 on (23), -1 never
#include "LabAdapter.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

// A whole-token integer (decimal, or hex with 0x); false for anything else.
bool ParseInt(const std::string& text, long& out) {
    if (text.empty() || text.size() > 16) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0') return false;
    out = v;
    return true;
}

// A line-feed state by name or as its number (the low nibble of register 64); -1 for neither.
int ParseLineFeedState(const std::string& text) {
    if (text == "open") return LabSlic::kLineFeedOpen & 0x0F;
    if (text == "active") return LabSlic::kLineFeedActive & 0x0F;
    if (text == "onhook-transmission") return LabSlic::kLineFeedOnHookTransmission & 0x0F;
    if (text == "ringing") return LabSlic::kLineFeedRinging & 0x0F;
    long v = 0;
    return ParseInt(text, v) && v >= 0 && v <= 15 ? static_cast<int>(v) : -1;
}

bool ParseRegister(const std::string& text, int& reg) {
    long v = 0;
    if (!ParseInt(text, v) || v < 0 || v > 255) return false;
    reg = static_cast<int>(v);
    return true;
}

// A whole-token 32-bit unsigned number, decimal or hex.
bool ParseSeed(const std::string& text, uint32_t& out) {
    if (text.empty() || text.size() > 12 || text[0] == '-' || text[0] == '+') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0' || v > 0xFFFFFFFFull) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

void AppendHex(std::string& out, unsigned value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", digits, value);
    out += buf;
}

} // namespace

int LabAdapter::Control(const std::string& command) {
    std::istringstream in(command);
    std::vector<std::string> w;
    for (std::string t; in >> t;) {
        if (w.size() == 5) return -1;
        w.push_back(t);
    }
    if (w.empty()) return -1;
    const std::string& verb = w[0];
    const size_t n = w.size();
    if (int result = 0; PanelControl(w, result)) return result;
    if (int result = 0; FaultControl(w, result)) return result;

    if (verb == "phone" && n >= 2) {
        const std::string& what = w[1];
        if (n == 2 && what == "offhook") return LiftReceiver(), 1;
        if (n == 2 && what == "onhook") return ReplaceReceiver(), 1;
        if (n == 3 && what == "dtmf" && w[2].size() == 1) return PressDtmf(w[2][0]) ? 1 : -1;
        if (n == 2 && (what == "ringing?" || what == "bell?")) return Ringing() ? 1 : 0;
        if (n == 2 && what == "hook?") return OffHook() ? 1 : 0;
        if (n == 2 && what == "linefeed?") return SlicDirect(64) & 0x0F;
        if (n == 2 && what == "tone?") {
            const LabTone t = Tone();
            return t.on ? t.frequency1 * 10000 + t.frequency2 : 0;
        }
        return -1;
    }
    if (verb == "pstn" && n == 3) {
        if (w[1] == "ring" && (w[2] == "on" || w[2] == "off"))
            return SetPstnRinging(w[2] == "on"), 1;
        if (w[1] == "line" && (w[2] == "busy" || w[2] == "idle"))
            return SetPstnLineBusy(w[2] == "busy"), 1;
        return -1;
    }
    if (n == 1) {
        if (verb == "line?") return SelectedLine();
        if (verb == "unplug") return Unplug(), 1;
        if (verb == "plug") return Plug(), 1;
        if (verb == "plugged?") return Plugged() ? 1 : 0;
        if (verb == "faults?") return FaultCount();
        if (verb == "calls?") return CallCount();
        if (verb == "opened?") return Opened() ? 1 : 0;
        if (verb == "sounder?") return Sounding() ? 1 : 0;
        if (verb == "relay?") return RelayOn() ? 1 : 0;
        if (verb == "events?") return PendingEvents();
        return -1;
    }
    if (verb == "linefeed" && n == 3 && w[1] == "last") {
        const int state = ParseLineFeedState(w[2]);
        if (state < 0) return -1;
        const long ms = LineFeedStretchMs(static_cast<uint8_t>(state));
        return ms > 0x7FFFFFFFL ? 0x7FFFFFFF : static_cast<int>(ms);
    }
    if (verb == "linefeed" && n == 4 && w[1] == "sound" && (w[3] == "begin" || w[3] == "end")) {
        const int state = ParseLineFeedState(w[2]);
        long long begin = -1, end = -1;
        if (state < 0) return -1;
        if (!LineFeedStretchSound(static_cast<uint8_t>(state), &begin, &end)) return -2;
        const long long v = w[3] == "begin" ? begin : end;
        return v < 0 ? -2 : v > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(v);
    }
    if (verb == "product" && n == 2) {
        long id = 0;
        if (!ParseInt(w[1], id) || id < 0 || id > 0x7FFFFFFFL) return -1;
        SetProductId(static_cast<int>(id));
        return 1;
    }
    if (verb == "key" && n == 2 && LabPanel::IsPanelProduct(ProductId()))
        return PressPanelKey(w[1]) ? 1 : -1;
    if (verb == "key" && (n == 2 || n == 3) && w[1].size() == 1) {
        if (n == 2) return TapKey(w[1][0]) ? 1 : -1;
        if (w[2] != "down" && w[2] != "up") return -1;
        return PressKey(w[1][0], w[2] == "down") ? 1 : -1;
    }
    if (verb == "eeprom" && n == 2) {
        long address = 0;
        if (!ParseInt(w[1], address) || address < 0 || address > 63) return -1;
        return EepromWord(static_cast<int>(address));
    }
    if (verb == "slic" && n == 2 && w[1] == "reset") return ResetSlic(), 1;
    if ((verb == "slic" || verb == "bridge" || verb == "indirect") && n == 2) {
        int reg = 0;
        if (!ParseRegister(w[1], reg)) return -1;
        if (verb == "slic") return SlicDirect(reg);
        if (verb == "bridge") return BridgeRegister(reg);
        return SlicIndirect(reg);
    }
    if (verb == "fail" && (n == 2 || n == 3)) {
        long code = 0, count = 1;
        if (!ParseInt(w[1], code) || code < 0 || code > 255) return -1;
        if (n == 3 && (!ParseInt(w[2], count) || count < 1 || count > 1000000)) return -1;
        FailNext(static_cast<int>(code), static_cast<int>(count));
        return 1;
    }
    return -1;
}

// The fault-injection commands (the plain "fail <code> [count]" aside); false when `w` is none
// of them.
bool LabAdapter::FaultControl(const std::vector<std::string>& w, int& result) {
    const size_t n = w.size();
    result = -1;
    if (w[0] == "failures?" && n == 1) return result = InjectedFailures(), true;
    if (w[0] == "refuse") {
        long code = 0;
        if (n == 3 && ParseInt(w[1], code) && code >= 0 && code <= 255 &&
            (w[2] == "on" || w[2] == "off")) {
            RefuseCode(static_cast<int>(code), w[2] == "on");
            result = 1;
        }
        return true;
    }
    if (w[0] == "calls" && n == 3 && w[1] == "keep") {
        long keep = 0;
        if (ParseInt(w[2], keep) && keep >= 1 && keep <= 1000000) {
            SetCallLimit(static_cast<size_t>(keep));
            result = 1;
        }
        return true;
    }
    if (w[0] == "stall") {
        long ms = 0, count = 1;
        if (n < 2 || n > 3 || !ParseInt(w[1], ms) || ms < 0 || ms > 600000) return true;
        if (n == 3) {
            if (w[2] == "always")
                count = -1;
            else if (!ParseInt(w[2], count) || count < 1 || count > 1000000)
                return true;
        }
        SetStall(static_cast<unsigned>(ms), static_cast<int>(count));
        result = 1;
        return true;
    }
    if (w[0] != "fail" || n < 2) return false;
    if (w[1] == "clear") {
        if (n == 2) ClearFailures(), result = 1;
        return true;
    }
    if (w[1] == "random") {
        if (n != 3 && n != 5) return true;
        const std::string& text = w[2];
        char* end = nullptr;
        errno = 0;
        const double fraction = std::strtod(text.c_str(), &end);
        if (text.empty() || errno != 0 || *end != '\0' || !(fraction >= 0 && fraction <= 1))
            return true;
        uint32_t seed = 1;
        if (n == 5 && (w[3] != "seed" || !ParseSeed(w[4], seed))) return true;
        FailRandom(fraction, seed);
        result = 1;
        return true;
    }
    if (n >= 4 && w[2] == "reg") {
        long code = 0, count = 1;
        int reg = 0;
        if (n > 5 || !ParseInt(w[1], code) || code < 0 || code > 255 || !ParseRegister(w[3], reg))
            return true;
        if (n == 5 && (!ParseInt(w[4], count) || count < 1 || count > 1000000)) return true;
        FailNextAt(static_cast<int>(code), reg, static_cast<int>(count));
        result = 1;
        return true;
    }
    return false;
}

bool LabAdapter::ConfigureRefusals(const std::string& codes) {
    std::vector<int> list;
    for (size_t at = 0; at < codes.size();) {
        size_t comma = codes.find(',', at);
        if (comma == std::string::npos) comma = codes.size();
        long code = 0;
        if (!ParseInt(codes.substr(at, comma - at), code) || code < 0 || code > 255) return false;
        list.push_back(static_cast<int>(code));
        at = comma + 1;
    }
    for (int code : list)
        RefuseCode(code, true);
    return true;
}

bool LabAdapter::ConfigureFailRandom(const std::string& spec) {
    if (spec.empty()) return true;
    const size_t colon = spec.find(':');
    if (colon == spec.size() - 1) return false;
    const std::string seed = colon == std::string::npos ? "" : " seed " + spec.substr(colon + 1);
    const std::string fraction = spec.substr(0, colon);
    if (fraction.find_first_of(" \t") != std::string::npos ||
        seed.find_first_of(" \t", 6) != std::string::npos)
        return false;
    return Control("fail random " + fraction + seed) == 1;
}

// The queries of the second-generation models; false when `w` is none of them.
bool LabAdapter::PanelControl(const std::vector<std::string>& w, int& result) {
    const size_t n = w.size();
    std::lock_guard<std::mutex> lock(mutex_);
    if (n == 1) {
        if (w[0] == "display?") return result = panel_.VisibleDigits(), true;
        if (w[0] == "beeper?") return result = panel_.Sounding() ? panel_.Frequency() : 0, true;
        if (w[0] == "report?")
            return result = panel_.Reports().empty() ? -1 : panel_.Reports().back(), true;
        if (w[0] == "reports?") return result = static_cast<int>(panel_.Reports().size()), true;
        if (w[0] == "switch?") return result = switch_, true;
        return false;
    }
    if (n == 2 && w[0] == "display") {
        if (w[1] == "mark?") return result = panel_.MarkPosition(), true;
        long position = 0;
        result = ParseInt(w[1], position) && position >= 0 && position < LabPanel::kDigits
                     ? panel_.Digit(static_cast<int>(position))
                     : -1;
        return true;
    }
    if (n == 2 && w[0] == "panel" && w[1] == "keys?") return result = panel_.KeysPressed(), true;
    if (n == 3 && w[0] == "panel" && w[1] == "eeprom") {
        long address = 0;
        result = ParseInt(w[2], address) && address >= 0 && address < LabEeprom::kWords
                     ? panel_.Eeprom().Word(static_cast<int>(address))
                     : -1;
        return true;
    }
    return false;
}

std::string LabAdapter::FormatCall(const LabCall& call) {
    std::string s = std::to_string(call.index) + " " + std::to_string(call.code) + " " +
                    std::to_string(call.param);
    switch (call.target) {
    case LabTarget::Bridge:
    case LabTarget::SlicDirect:
    case LabTarget::SlicIndirect: {
        s += call.write ? " W " : " R ";
        s += call.target == LabTarget::Bridge       ? "bridge["
             : call.target == LabTarget::SlicDirect ? "slic["
                                                    : "indirect[";
        s += std::to_string(call.reg) + "]";
        if (call.target == LabTarget::Bridge && (call.request & 1)) s += " same";
        if (call.target == LabTarget::Bridge) {
            for (uint8_t b : call.bytes) {
                s += ' ';
                AppendHex(s, b, 2);
            }
        } else if (call.fault == LabFault::None && (call.write || call.result)) {
            s += ' ';
            AppendHex(s, static_cast<unsigned>(call.value),
                      call.target == LabTarget::SlicIndirect ? 4 : 2);
        }
        break;
    }
    case LabTarget::None:
        // Real addresses differ from run to run; only values are logged.
        switch (call.code) {
        case 0:
            if (call.result) {
                s += " product 0x";
                AppendHex(s, static_cast<unsigned>(call.value), 4);
            }
            break;
        case 7:
            if (call.result) s += " event " + std::to_string(call.value);
            break;
        case 14:
        case 18:
        case 45:
            s += " ptr 0x";
            AppendHex(s, static_cast<unsigned>(call.pointer), 1);
            break;
        case 16:
            s += " window 0x";
            AppendHex(s, static_cast<unsigned>(call.window), 1);
            break;
        case 20: s += " audio \"" + call.text + "\""; break;
        case 31:
            s += " mixer \"" + call.text + "\" window 0x";
            AppendHex(s, static_cast<unsigned>(call.window), 1);
            break;
        default: break;
        }
        break;
    }
    s += " -> " + std::to_string(call.result);
    if (call.fault != LabFault::None) s += std::string(" FAULT ") + LabFaultName(call.fault);
    if (call.injected) s += " FAILED";
    if (call.unplugged) s += " UNPLUGGED";
    if (call.stallMs) s += " STALLED " + std::to_string(call.stallMs) + "ms";
    return s;
}
