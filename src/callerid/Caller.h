// Who is calling, as the telephone's display should show it: decided once from what Skype says
// about the partner, then encoded by each standard within its own limits.
#pragma once
#include <optional>
#include <string>

// Why a field is missing, with the codes the FSK standards send ('P', 'O').
enum class Absence : char {
    None = 0,
    Private = 'P',     // withheld by the caller
    Unavailable = 'O', // not known here ("out of area")
};

struct Caller {
    std::string number; // digits only, at most kMaxCallerNumber of them
    std::string name;   // printable ASCII, at most kMaxCallerName characters, trimmed
    Absence numberAbsence = Absence::Unavailable; // None exactly when number is set
    Absence nameAbsence = Absence::Unavailable;   // None exactly when name is set
};

// What Caller keeps before any standard trims it further; generous, but bounded.
constexpr size_t kMaxCallerNumber = 20;
constexpr size_t kMaxCallerName = 50;

// Decides number, name and absences from the PARTNER_HANDLE and PARTNER_DISPNAME replies.
// nullopt: Skype never answered (unavailable); an empty or unusable answer means the caller
// withheld it (private). A handle that is a telephone number ("+4930 1234-5") becomes the
// number; any other handle is the name when there is no display name. Any bytes are safe:
// UTF-8 letters of Latin-1 lose their accents, other characters become '?', controls spaces.
Caller WhoIsCalling(const std::optional<std::string>& handle,
                    const std::optional<std::string>& displayName);

// Whether text is a telephone number as Skype writes one: an optional '+', digits, and only
// spaces, '-', '.', '(' or ')' between them.
bool IsTelephoneNumber(const std::string& text);
