#include "callerid/CallerIdMessage.h"

namespace {

void AddParam(std::vector<uint8_t>& msg, uint8_t type, const std::string& body) {
    msg.push_back(type);
    msg.push_back(static_cast<uint8_t>(body.size()));
    msg.insert(msg.end(), body.begin(), body.end());
}

// The caller's fields again through the filters: a Caller may have been filled in by hand.
std::string DigitsOf(const std::string& number, size_t max) {
    std::string out;
    for (char c : number)
        if (c >= '0' && c <= '9' && out.size() < max) out += c;
    return out;
}

std::string PrintableOf(const std::string& name, size_t max) {
    std::string out;
    for (char c : name) {
        if (out.size() >= max) break;
        unsigned char b = static_cast<unsigned char>(c);
        out += (b >= 0x20 && b < 0x7F) ? c : '?';
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

char AbsenceCode(Absence absence) {
    return absence == Absence::Private ? 'P' : 'O';
}

bool ValidTime(const CallTime& t) {
    return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31 && t.hour >= 0 &&
           t.hour <= 23 && t.minute >= 0 && t.minute <= 59;
}

std::string TwoDigits(int v) {
    return std::string{static_cast<char>('0' + v / 10), static_cast<char>('0' + v % 10)};
}

} // namespace

std::vector<uint8_t> BuildMdmf(CallerIdStandard standard, const Caller& caller,
                               const CallTime* time) {
    if (standard != CallerIdStandard::Bell202 && standard != CallerIdStandard::EtsiFsk) return {};
    bool bell = standard == CallerIdStandard::Bell202;
    size_t maxNumber = bell ? kBellMaxNumber : kEtsiMaxNumber;
    size_t maxName = bell ? kBellMaxName : kEtsiMaxName;
    std::vector<uint8_t> msg{kMdmfCallSetup, 0};
    if (time && ValidTime(*time))
        AddParam(msg, kParamDateTime,
                 TwoDigits(time->month) + TwoDigits(time->day) + TwoDigits(time->hour) +
                     TwoDigits(time->minute));
    std::string number = DigitsOf(caller.number, maxNumber);
    if (!number.empty())
        AddParam(msg, kParamNumber, number);
    else
        AddParam(msg, kParamNumberAbsence, std::string(1, AbsenceCode(caller.numberAbsence)));
    std::string name = PrintableOf(caller.name, maxName);
    if (!name.empty())
        AddParam(msg, kParamName, name);
    else
        AddParam(msg, kParamNameAbsence, std::string(1, AbsenceCode(caller.nameAbsence)));

    msg[1] = static_cast<uint8_t>(msg.size() - 2);
    unsigned sum = 0;
    for (uint8_t b : msg)
        sum += b;
    msg.push_back(static_cast<uint8_t>(-sum & 0xFF));
    return msg;
}

std::string BuildDtmfDigits(const Caller& caller) {
    std::string number = DigitsOf(caller.number, kDtmfMaxNumber);
    if (!number.empty()) return "A" + number + "C";
    return caller.numberAbsence == Absence::Private ? "B10C" : "B00C";
}
