// The reader of one scenario line's tokens, shared by the step parsers.
#pragma once
#include "Script.h"

#include <string>
#include <vector>

// Reads the tokens of one line from left to right; every accessor records what was
// expected so a malformed line says what it wanted.
class TokenCursor {
  public:
    TokenCursor(const std::vector<Token>& tokens, std::string* error)
        : m_tokens(tokens), m_error(error) {}

    bool AtEnd() const { return m_pos >= m_tokens.size(); }
    // The next word if it is a bare (unquoted) word, else "".
    std::string PeekWord() const {
        if (AtEnd() || m_tokens[m_pos].quoted) return "";
        return m_tokens[m_pos].text;
    }
    bool Accept(const char* word) {
        if (PeekWord() == word) {
            ++m_pos;
            return true;
        }
        return false;
    }
    bool Expect(const char* word) {
        if (Accept(word)) return true;
        return Fail(std::string("expected '") + word + "'");
    }
    bool Word(std::string* out, const char* what) {
        if (AtEnd() || m_tokens[m_pos].quoted) return Fail(std::string("expected ") + what);
        *out = m_tokens[m_pos++].text;
        return true;
    }
    bool Quoted(std::string* out, const char* what) {
        if (AtEnd() || !m_tokens[m_pos].quoted)
            return Fail(std::string("expected ") + what + " in double quotes");
        *out = m_tokens[m_pos++].text;
        return true;
    }
    bool NextIsQuoted() const { return !AtEnd() && m_tokens[m_pos].quoted; }
    bool Integer(long* out, const char* what) {
        std::string w;
        if (!Word(&w, what)) return false;
        if (!ParseInteger(w, out))
            return Fail(std::string("expected ") + what + ", got '" + w + "'");
        return true;
    }
    bool Duration(unsigned* ms) {
        std::string w;
        if (!Word(&w, "a duration like 5s or 200ms")) return false;
        if (!ParseDuration(w, ms))
            return Fail("expected a duration like 5s or 200ms, got '" + w + "'");
        return true;
    }
    bool Within(unsigned* ms) { return Expect("within") && Duration(ms); }
    // "for <d>" (the condition must hold throughout: sets *stay) or "within <d>".
    bool ForOrWithin(bool* stay, unsigned* ms) {
        if (Accept("for"))
            *stay = true;
        else if (!Accept("within"))
            return Fail("expected 'within' or 'for'");
        return Duration(ms);
    }
    bool End() {
        if (AtEnd()) return true;
        return Fail("unexpected '" + m_tokens[m_pos].text + "' at the end");
    }
    bool Fail(const std::string& message) {
        if (m_error->empty()) *m_error = message;
        return false;
    }

  private:
    const std::vector<Token>& m_tokens;
    std::string* m_error;
    size_t m_pos = 0;
};
