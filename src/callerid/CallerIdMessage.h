// The caller-ID messages themselves: the MDMF call set-up message both FSK standards share
// (with each one's field limits) and the digit string of DTMF caller ID.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "callerid/Caller.h"
#include "callerid/CallerIdStandard.h"

// Local time of the call as the date-time field carries it ("MMDDHHMM").
struct CallTime {
    int month = 1; // 1..12
    int day = 1;   // 1..31
    int hour = 0;  // 0..23
    int minute = 0;
};

// Message type and parameter types; the same values in both FSK standards.
enum : uint8_t {
    kMdmfCallSetup = 0x80,
    kParamDateTime = 0x01,
    kParamNumber = 0x02,
    kParamNumberAbsence = 0x04,
    kParamName = 0x07,
    kParamNameAbsence = 0x08,
};

// Longest number and name each FSK standard carries.
constexpr size_t kBellMaxNumber = 15, kBellMaxName = 15;
constexpr size_t kEtsiMaxNumber = 20, kEtsiMaxName = 50;
// Longest number sent as DTMF digits.
constexpr size_t kDtmfMaxNumber = 20;

// The whole message for Bell202 or EtsiFsk: type, length, date-time (left out when time is not
// a valid date), number or its absence, name or its absence, and the checksum that makes all
// bytes sum to zero modulo 256. Empty for the other standards.
std::vector<uint8_t> BuildMdmf(CallerIdStandard standard, const Caller& caller,
                               const CallTime* time);

// The DTMF digit string: "A<number>C", or "B10C" when the number is private and "B00C" when it
// is unavailable. In this C-terminated form a 'D' would start a diverting number, so the
// reason goes after 'B' as the two-digit codes of that form.
std::string BuildDtmfDigits(const Caller& caller);
