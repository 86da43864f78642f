// Caller ID as sound: 8 kHz 16-bit mono PCM for the adapter's sound device, played while the
// line chip is in forward on-hook transmission. The PCM holds the quiet the standard asks for
// around the data, so a caller only has to start it at the right ring edge and keep the next
// ring off the line until it ends.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "callerid/CallerIdMessage.h"

constexpr unsigned kCallerIdSampleRate = 8000;

// Timing, from the start of the PCM:
// - Bell 202 (after the first ring): 500 ms quiet after the ring, 300 bits of channel seizure
//   (0101...), 180 mark bits, the message, 12 mark bits to let receivers finish the last byte,
//   then 200 ms quiet before the next ring may start.
// - ETSI FSK (before the first ring): 100 ms quiet after the line changes to on-hook
//   transmission, the 100 ms dual-tone alert, 100 ms quiet (45..500 ms allowed), 300 seizure
//   bits, 180 mark bits, the message, 12 mark bits, then 300 ms quiet (200..500 ms allowed)
//   before the first ring.
// - DTMF (before the first ring): 100 ms quiet, each digit 70 ms of tone and 70 ms of pause
//   (well above the 40 ms a DTMF receiver must accept, so older sets catch every digit), then
//   300 ms quiet before the first ring.

// Levels, in dBm0 per tone (a sine of +3.14 dBm0 is digital full scale). An exchange sends
// Bell 202 caller ID at -13.5 dBm and receivers take it well below that after a long loop; FSK
// at -10 dBm0 lands near that level after the few dB of loss a line chip's receive path
// usually has, with room either way. V.23 and the alert tones use the same level. DTMF as a
// telephone sends it: the high group 2 dB above the low one, the pair's peak 5 dB below full
// scale.
constexpr double kFskLevelDbm0 = -10.0;
constexpr double kAlertLevelDbm0 = -10.0;
constexpr double kDtmfLowLevelDbm0 = -9.0;
constexpr double kDtmfHighLevelDbm0 = -7.0;

// Where the parts lie in the PCM, in samples from its start.
struct CallerIdLayout {
    size_t alertBegin = 0, alertEnd = 0; // dual-tone alert (ETSI only; else both 0)
    size_t dataBegin = 0;                // FSK: channel seizure; DTMF: first digit
    size_t marksBegin = 0;               // FSK: continuous mark (DTMF: dataBegin)
    size_t messageBegin = 0;             // FSK: first start bit (DTMF: dataBegin)
    size_t dataEnd = 0;                  // end of the last bit or digit
};

struct CallerIdSignal {
    std::vector<int16_t> pcm; // empty when the standard is Off
    unsigned durationMs = 0;  // length of pcm, rounded up
    // Bell 202: starts as the first ring ends, and the next ring waits until it has ended.
    // ETSI FSK and DTMF: starts as the call comes in; the first ring follows its end.
    bool beforeFirstRing = false;
    CallerIdLayout layout;
};

// Any message bytes in the FSK of Bell202 or EtsiFsk, with that standard's alert, seizure,
// marks and quiet around them (empty for the others).
CallerIdSignal MakeFskSignal(CallerIdStandard standard, const std::vector<uint8_t>& message);

// The signal of one call in the chosen standard (Off gives an empty one). time may be null
// (no date-time field).
CallerIdSignal MakeCallerIdSignal(CallerIdStandard standard, const Caller& caller,
                                  const CallTime* time);

// The length of the longest signal the standard can send (the longest number and name, with the
// date and time), in ms: a signal that must end by some moment can wait this long before it.
unsigned LongestCallerIdMs(CallerIdStandard standard);
