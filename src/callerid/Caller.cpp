#include "callerid/Caller.h"

#include <cstdint>

namespace {

// U+00C0..U+00FF without their accents.
const char* const kLatin1Letters[64] = {
    "A", "A", "A", "A", "A", "A", "AE", "C", "E", "E", "E", "E", "I", "I", "I",  "I",
    "D", "N", "O", "O", "O", "O", "O",  "x", "O", "U", "U", "U", "U", "Y", "TH", "ss",
    "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i",  "i",
    "d", "n", "o", "o", "o", "o", "o",  "/", "o", "u", "u", "u", "u", "y", "th", "y",
};

// Reads one UTF-8 sequence at text[i]; returns its length, or 0 when it is not a valid one.
size_t DecodeUtf8(const std::string& text, size_t i, uint32_t& cp) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    size_t len;
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        cp = b & 0x07;
    } else {
        return 0;
    }
    if (text.size() - i < len) return 0;
    for (size_t k = 1; k < len; ++k) {
        unsigned char c = static_cast<unsigned char>(text[i + k]);
        if ((c & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    // Overlong forms and surrogates are not text.
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

// Printable ASCII of at most max characters, runs of blanks as one space, trimmed.
std::string CleanName(const std::string& text, size_t max) {
    std::string out;
    bool pendingSpace = false;
    auto put = [&](const char* s) {
        for (; *s; ++s) {
            if (*s == ' ') {
                pendingSpace = !out.empty();
                continue;
            }
            if (pendingSpace && out.size() < max) out += ' ';
            pendingSpace = false;
            if (out.size() < max) out += *s;
        }
    };
    for (size_t i = 0; i < text.size() && out.size() < max;) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            char c[2] = {b >= 0x20 && b < 0x7F ? static_cast<char>(b) : ' ', 0};
            put(c);
            ++i;
            continue;
        }
        uint32_t cp = 0;
        size_t len = DecodeUtf8(text, i, cp);
        if (len == 0) {
            put("?");
            ++i;
        } else {
            if (cp >= 0xC0 && cp <= 0xFF)
                put(kLatin1Letters[cp - 0xC0]);
            else if (cp == 0xA0 || cp == 0x2007 || cp == 0x202F)
                put(" ");
            else if (cp >= 0x80 && cp < 0xA0)
                put(" "); // C1 controls
            else
                put("?");
            i += len;
        }
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    // Only question marks and punctuation (a name in another script) tells the reader nothing.
    for (char c : out)
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return out;
    return std::string();
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

bool IsTelephoneNumber(const std::string& text) {
    size_t i = 0, end = text.size();
    while (i < end && IsBlank(text[i]))
        ++i;
    while (end > i && IsBlank(text[end - 1]))
        --end;
    if (i < end && text[i] == '+') ++i;
    bool digit = false;
    for (; i < end; ++i) {
        char c = text[i];
        if (c >= '0' && c <= '9')
            digit = true;
        else if (c != ' ' && c != '-' && c != '.' && c != '(' && c != ')')
            return false;
    }
    return digit;
}

Caller WhoIsCalling(const std::optional<std::string>& handle,
                    const std::optional<std::string>& displayName) {
    Caller caller;
    std::string handleName;
    bool handleWithheld = false;
    if (handle) {
        if (IsTelephoneNumber(*handle)) {
            for (char c : *handle)
                if (c >= '0' && c <= '9' && caller.number.size() < kMaxCallerNumber)
                    caller.number += c;
        } else {
            handleName = CleanName(*handle, kMaxCallerName);
            handleWithheld = handleName.empty();
        }
    }
    if (displayName) caller.name = CleanName(*displayName, kMaxCallerName);
    if (caller.name.empty()) caller.name = handleName;

    // A Skype name has no telephone number to show; only an empty answer means withheld.
    Absence missing = handleWithheld ? Absence::Private : Absence::Unavailable;
    caller.numberAbsence = caller.number.empty() ? missing : Absence::None;
    caller.nameAbsence = caller.name.empty() ? missing : Absence::None;
    return caller;
}
