#include "device/KwUsbPhone.h"

#include "core/Clock.h"
#include "device/DeviceLock.h"
#include "device/KwIpApi.h"
#include "device/SlicRegisters.h"

#include <cassert>
#include <cmath>

const SlicIndirectRow kSlicIndirectTable[kSlicIndirectRows] = {
    {0, "DTMF_ROW_0_PEAK", 0x55C2},
    {1, "DTMF_ROW_1_PEAK", 0x51E6},
    {2, "DTMF_ROW2_PEAK", 0x4B85},
    {3, "DTMF_ROW3_PEAK", 0x4937},
    {4, "DTMF_COL1_PEAK", 0x3333},
    {5, "DTMF_FWD_TWIST", 0x0202},
    {6, "DTMF_RVS_TWIST", 0x0202},
    {7, "DTMF_ROW_RATIO_TRES", 0x0198},
    {8, "DTMF_COL_RATIO_TRES", 0x0198},
    {9, "DTMF_ROW_2ND_ARM", 0x0611},
    {10, "DTMF_COL_2ND_ARM", 0x0202},
    {11, "DTMF_PWR_MIN_TRES", 0x00E5},
    {12, "DTMF_OT_LIM_TRES", 0x0A1C},
    {13, "OSC1_COEF", 0x7B30},
    {14, "OSC1X", 0x0063},
    {15, "OSC1Y", 0x0000},
    {16, "OSC2_COEF", 0x7870},
    {17, "OSC2X", 0x007D},
    {18, "OSC2Y", 0x0000},
    {19, "RING_V_OFF", 0x0000},
    {20, "RING_OSC", 0x7EF0},
    {21, "RING_X", 0x0185},
    {22, "RING_Y", 0x0000},
    {23, "PULSE_ENVEL", 0x2000},
    {24, "PULSE_X", 0x2000},
    {25, "PULSE_Y", 0x0000},
    {26, "RECV_DIGITAL_GAIN", 0x2000},
    {27, "XMIT_DIGITAL_GAIN", 0x4000},
    {28, "LOOP_CLOSE_TRES", 0x1000},
    {29, "RING_TRIP_TRES", 0x3600},
    {30, "COMMON_MIN_TRES", 0x1000},
    {31, "COMMON_MAX_TRES", 0x0200},
    {32, "PWR_ALARM_Q1Q2", 0x07C0},
    {33, "PWR_ALARM_Q3Q4", 0x2600},
    {34, "PWR_ALARM_Q5Q6", 0x1B80},
    {35, "LOOP_CLOSURE_FILTER", 0x8000},
    {36, "RING_TRIP_FILTER", 0x0320},
    {37, "TERM_LP_POLE_Q1Q2", 0x008C},
    {38, "TERM_LP_POLE_Q3Q4", 0x0100},
    {39, "TERM_LP_POLE_Q5Q6", 0x0010},
    {40, "CM_BIAS_RINGING", 0x0C00},
    {41, "DCDC_MIN_V", 0x0C00},
    {42, "DCDC_XTRA", 0x1000},
};

const SlicIndirectWrite kSlicIndirectTrailer[kSlicIndirectTrailerRows] = {
    {43, 0x1000},  {99, 0x00DA},  {100, 0x6B60}, {101, 0x0074},
    {102, 0x79C0}, {103, 0x1120}, {104, 0x3BE0}, {97, 0x0000},
};

const SlicTone kSlicToneTable[kSlicToneCount] = {
    {350, 440, 8.0, 0, 0x9F},     // 0 dial tone
    {480, 620, 0.5, 0.5, 0x9F},   // 1 busy
    {440, 480, 2.0, 4.0, 0x9F},   // 2 ringback
    {440, 480, 1.0, 3.0, 0x9F},   // 3 ringback, shorter
    {480, 620, 0.25, 0.25, 0x9F}, // 4 fast busy
    {480, 620, 0.3, 0.2, 0x9F},   // 5 fast busy
    {941, 1336, 0.2, 0, 0x97},    // 6 key 0
    {697, 1209, 0.2, 0, 0x97},    // 7 key 1
    {697, 1336, 0.2, 0, 0x97},    // 8 key 2
    {697, 1477, 0.2, 0, 0x97},    // 9 key 3
    {770, 1209, 0.2, 0, 0x97},    // 10 key 4
    {770, 1336, 0.2, 0, 0x97},    // 11 key 5
    {770, 1477, 0.2, 0, 0x97},    // 12 key 6
    {852, 1209, 0.2, 0, 0x97},    // 13 key 7
    {852, 1336, 0.2, 0, 0x97},    // 14 key 8
    {852, 1477, 0.2, 0, 0x97},    // 15 key 9
    {697, 1633, 0.2, 0, 0x97},    // 16 key A
    {770, 1633, 0.2, 0, 0x97},    // 17 key B
    {852, 1633, 0.2, 0, 0x97},    // 18 key C
    {941, 1633, 0.2, 0, 0x97},    // 19 key D
    {941, 1477, 0.2, 0, 0x97},    // 20 hash
    {941, 1209, 0.2, 0, 0x97},    // 21 star
};

namespace {

constexpr double kPi = 3.1415926535;

// Bounded waits of the bring-up, counted in register reads.
constexpr int kBatteryExtraReads = 10;
constexpr int kBatteryReady = 0xC0;
constexpr int kConverterReads = 1001;
constexpr int kConverterBusyLimit = 1000;
constexpr int kCalibrationReads = 1001;
constexpr int kGainSteps = 31;
constexpr unsigned kGainStepMs = 40;
constexpr unsigned kLeakageWaitMs = 1000;
constexpr int kLeakageMinVoltage = 4;
constexpr unsigned kHookSettleMs = 50;
constexpr unsigned kResetRecheckMs = 50;

constexpr int kSlicResetLoopback = 2; // SLIC_LOOPBACK right after a chip reset
constexpr int kConverterBusy = 0x80;
constexpr int kHookChangeFlags = 0x03;
constexpr int kDtmfFlag = 0x01;
constexpr int kDtmfValid = 0x10;
constexpr int kDtmfCodeMask = 0x0F;
constexpr int kDtmfCodeZero = 10;

int Read(int reg) {
    return SlicReadDirect(reg);
}
int Write(int reg, int value) {
    return SlicWriteDirect(reg, value);
}

constexpr int kSettleAttempts = 3;

int Variant(int id) {
    return (id >> 4) & 0x03;
}

// Truncates toward zero; NaN and values beyond int give 0 rather than undefined behaviour.
int Truncate(double x) {
    if (!(x > -2147483648.0 && x < 2147483648.0)) return 0;
    return static_cast<int>(x);
}

// Reads a register until it reads 0, at most `reads` times.
void WaitForZero(int reg, int reads) {
    for (int i = 0; i < reads; ++i) {
        if (Read(reg) == 0) return;
    }
}

struct DirectWrite {
    int reg;
    int value;
};

// Writes in order; 0 at the first write that fails.
int WriteAll(const DirectWrite* writes, int count) {
    for (int i = 0; i < count; ++i) {
        if (!Write(writes[i].reg, writes[i].value)) return 0;
    }
    return 1;
}

} // namespace

SlicOscillator SlicOscillatorFor(double hz) {
    const double c = std::cos(2 * kPi * hz / kSlicTicksPerSecond);
    SlicOscillator osc;
    osc.coefficient = Truncate(c * 32768);
    osc.amplitude = Truncate(std::sqrt((1 - c) / (1 + c)) * 0.125 * 32767);
    return osc;
}

uint16_t SlicTicksFor(double seconds) {
    return static_cast<uint16_t>(Truncate(seconds * kSlicTicksPerSecond) & 0xFFFF);
}

int SlicWriteSettled(int reg, int value) {
    for (int i = 0; i < kSettleAttempts; ++i)
        if (Write(reg, value)) return 1;
    return 0;
}

KwUsbPhone::KwUsbPhone(int pcm) : pcmMode(pcm) {}

int KwUsbPhone::Initialize() {
    DeviceLockGuard hold;
    DevWriteReg(BRIDGE_PIN_LEVEL, 0x00);     // all pins low
    DevWriteReg(BRIDGE_PIN_ENABLE, 0x40);    // drive pin 6 only
    DevWriteReg(BRIDGE_CONFIG, 0x50);        // bridge configuration, port held
    DevWriteReg(BRIDGE_SERIAL_CONFIG, 0x20); // serial link to the line chip
    DevWriteReg(BRIDGE_CONFIG, 0x51);        // release the port
    // A partial bring-up still leaves the adapter usable as far as it got; nothing to report.
    InitializeSlic(pcmMode);
    SlicWriteSettled(SLIC_IRQ_ENABLE2, 0x03); // interrupt on both hook-change flags
    DevSetPins(kPinRelay, 1);
    DevSetPins(kPinLinePower, 1);
    return 1;
}

int KwUsbPhone::InitializeSlic(int pcm) {
    assert(DeviceLockHeldHere() && "runs inside Initialize, under deviceLock");
    slicRefused = false;
    static const DirectWrite kSetup[] = {
        {SLIC_AUTO_MANUAL, 0x17},   // automatic power alarm, battery and ring-trip handling
        {SLIC_RING_OSC_CTRL, 0x18}, // ringing cadence timers on, ringing itself off
        {SLIC_VBATH, 0x34},         // high battery voltage
        {SLIC_RING_ON_LO, 0x80},    // ringing 2 s on (16000 ticks) ...
        {SLIC_RING_ON_HI, 0x3E},    {SLIC_RING_OFF_LO, 0x00}, // ... and 4 s off (32000 ticks)
        {SLIC_RING_OFF_HI, 0x7D},   {SLIC_LOOPBACK, 0x00},    // audio loopback off
    };
    if (!WriteAll(kSetup, static_cast<int>(sizeof kSetup / sizeof kSetup[0]))) return 0;
    if (!LoadIndirectRegisters()) return 0;

    // A failed read yields 0: revision 0, variant 0.
    const int revision = Read(SLIC_ID) & 0x0F;
    const int variant = Variant(Read(SLIC_ID));
    if (!Write(SLIC_BATTERY_FEED, 0x01)) return 0;      // battery feed control
    if (revision <= 2) Write(SLIC_COMMON_MODE_V, 0x04); // early revisions need a lower VCM
    // Variants 1 and 2 have no converter of ours: leave it off.
    if (variant == 1 || variant == 2) {
        slicRefused = true;
        return 0;
    }

    PowerUpConverter();
    CheckPowerLeakage();
    PowerUpConverter();
    if (!CalibrateSlic()) return 0;
    if (!SlicWriteIndirect(SLIC_IND_CAL_EXTRA, 0x0000)) return 0;

    const DirectWrite finish[] = {
        {SLIC_PCM_MODE, pcm ? 0x28 : 0x2A}, // PCM format and enable
        {SLIC_PCM_TX_START_LO, 0},          // transmit and receive in slot 0
        {SLIC_PCM_TX_START_HI, 0},
        {SLIC_PCM_RX_START_LO, 0},
        {SLIC_PCM_RX_START_HI, 0},
        {SLIC_LOOPBACK, 0},
        {SLIC_IRQ_STATUS1, 0xFF}, // clear every pending interrupt
        {SLIC_IRQ_STATUS2, 0xFF},
        {SLIC_IRQ_STATUS3, 0xFF},
        {SLIC_IRQ_ENABLE1, 0}, // no oscillator or power interrupts
        {SLIC_IRQ_ENABLE2, 2}, // loop closure
        {SLIC_IRQ_ENABLE3, 1}, // DTMF decoded
    };
    // What the line works with from now on: each write made again if the bus lost it.
    for (const DirectWrite& w : finish)
        if (!SlicWriteSettled(w.reg, w.value)) return 0;
    return 1;
}

int KwUsbPhone::LoadIndirectRegisters() {
    assert(DeviceLockHeldHere() && "runs inside Initialize, under deviceLock");
    for (const SlicIndirectRow& row : kSlicIndirectTable) {
        if (!SlicWriteIndirect(row.reg, row.value)) return 0;
    }
    for (const SlicIndirectWrite& w : kSlicIndirectTrailer)
        SlicWriteIndirect(w.reg, w.value);
    return 1;
}

int KwUsbPhone::PowerUpConverter() {
    assert(DeviceLockHeldHere() && "runs inside Initialize, under deviceLock");
    const int variant = Variant(Read(SLIC_ID));
    if (variant == 3) {
        Write(SLIC_DCDC_PWM_PERIOD, 0x60);
        Write(SLIC_DCDC_CTRL, 0x38);
    } else {
        Write(SLIC_DCDC_CTRL, 0x19);
        Write(SLIC_DCDC_PWM_PERIOD, 0xFF);
    }
    Write(SLIC_POWERDOWN, 0x00); // converter on

    // Give the battery voltage a few reads to come up; a slow one is not an error here.
    int vbat = Read(SLIC_VBAT_SENSE);
    for (int i = 0; i < kBatteryExtraReads && vbat < kBatteryReady; ++i) {
        vbat = Read(SLIC_VBAT_SENSE);
    }

    // Start the converter's own calibration and wait for its busy bit to clear.
    if (variant == 3) {
        Write(SLIC_DCDC_PWM_PERIOD, 0xE0);
    } else {
        Write(SLIC_DCDC_CTRL, 0x99);
    }
    int busySeen = 0;
    for (int i = 0; i < kConverterReads; ++i) {
        if (!(Read(SLIC_DCDC_CTRL) & kConverterBusy)) break;
        ++busySeen;
    }
    // A converter that never finishes fails, also when it was still busy at the last read.
    return busySeen >= kConverterBusyLimit ? 0 : 1;
}

int KwUsbPhone::CheckPowerLeakage() {
    assert(DeviceLockHeldHere() && "runs inside Initialize, under deviceLock");
    Write(SLIC_LINEFEED, kLinefeedOpen);
    Write(SLIC_POWERDOWN, 0x10); // converter off
    Pause(kLeakageWaitMs);
    // The battery must hold its charge for a second without the converter.
    return Read(SLIC_VBAT_SENSE) >= kLeakageMinVoltage ? 1 : 0;
}

int KwUsbPhone::CalibrateSlic() {
    assert(DeviceLockHeldHere() && "runs inside Initialize, under deviceLock");
    Write(SLIC_IRQ_ENABLE1, 0); // interrupts off while calibrating
    Write(SLIC_IRQ_ENABLE2, 0);
    Write(SLIC_IRQ_ENABLE3, 0);
    Write(SLIC_LINEFEED, kLinefeedOpen);

    Write(SLIC_CAL_CTRL2, 0x1E); // monitor ADC calibration only
    Write(SLIC_CAL_CTRL1, 0x47); // start it
    WaitForZero(SLIC_CAL_CTRL1, kCalibrationReads);

    for (int reg = SLIC_IND_CAL_FIRST; reg <= SLIC_IND_CAL_LAST; ++reg) {
        SlicWriteIndirect(reg, 0x0000); // clear the calibration offsets
    }
    Write(SLIC_CAL_RING_GAIN, 0x10);
    Write(SLIC_CAL_TIP_GAIN, 0x10);

    // Manual gain mismatch calibration: step down until the transistor current vanishes.
    for (int k = kGainSteps; k >= 1; --k) {
        Write(SLIC_CAL_RING_GAIN, k);
        Pause(kGainStepMs);
        if (Read(SLIC_IQ1_SENSE) == 0) break;
    }
    for (int k = kGainSteps; k >= 1; --k) {
        Write(SLIC_CAL_TIP_GAIN, k);
        Pause(kGainStepMs);
        if (Read(SLIC_IQ2_SENSE) == 0) break;
    }

    Write(SLIC_LINEFEED, kLinefeedForwardActive); // pulse the line feed
    Write(SLIC_LINEFEED, kLinefeedOpen);
    Write(SLIC_IRQ_ENABLE3, 0x04);
    Write(SLIC_CAL_CTRL2, 0x01); // longitudinal balance calibration
    Write(SLIC_CAL_CTRL1, 0x40);
    WaitForZero(SLIC_CAL_CTRL1, kCalibrationReads);

    Write(SLIC_IRQ_ENABLE1, 0xFF);
    Write(SLIC_IRQ_ENABLE2, 0xFF);
    Write(SLIC_IRQ_ENABLE3, 0xFF);
    SlicWriteSettled(SLIC_LINEFEED, kLinefeedForwardActive);
    // Running out of reads above is not a failure: the chip is usable uncalibrated.
    return 1;
}

bool KwUsbPhone::SlicLooksReset(bool* bothRead) {
    int loopback = 0;
    int linefeed = 0;
    const bool loopbackRead = SlicReadDirect(SLIC_LOOPBACK, &loopback) != 0;
    const bool linefeedRead = SlicReadDirect(SLIC_LINEFEED, &linefeed) != 0;
    if (bothRead) *bothRead = loopbackRead && linefeedRead;
    if (loopbackRead && loopback == kSlicResetLoopback) return true;
    return linefeedRead && linefeed == kLinefeedOpen && !slicRefused;
}

int KwUsbPhone::PollEvent() {
    DeviceLockGuard hold;

    // A chip reset behind our back (loopback back at 2, or the line feed open): look again after
    // a moment, then set the adapter up anew. A read that failed shows nothing of the kind.
    const uint64_t now = GetClock().NowMs();
    if (resetCheckDue || now - lastResetCheckMs >= kSlicResetCheckIntervalMs) {
        lastResetCheckMs = now;
        bool bothRead = false;
        resetCheckDue = SlicLooksReset(&bothRead);
        if (resetCheckDue) {
            Pause(kResetRecheckMs);
            if (SlicLooksReset()) Initialize();
        } else {
            resetCheckDue = !bothRead;
        }
    }

    lastEvent = kEventNone;
    if (unread != Unread::None) return ReadEvent(unread);
    uint8_t pins = 0;
    if (!DevReadRegBlock(BRIDGE_PIN_LEVEL, &pins, 1) || (pins & kPinSlicIrq)) return 0;

    // Unreadable flags are no event; left uncleared, they are seen by the next poll.
    int status2 = 0;
    int status3 = 0;
    if (!SlicReadDirect(SLIC_IRQ_STATUS2, &status2)) return 0;
    if (!SlicReadDirect(SLIC_IRQ_STATUS3, &status3)) return 0;
    const bool hookChange = (status2 & kHookChangeFlags) != 0;
    const bool digit = !hookChange && (status3 & kDtmfFlag) != 0;
    int dtmf = 0;
    bool dtmfRead = false;
    if (hookChange) {
        SetRinging(0); // a lifted receiver ends the ringing at once
    } else if (digit) {
        dtmfRead = SlicReadDirect(SLIC_DTMF_DECODE, &dtmf) != 0;
    }

    // Writing the flags back clears them; a digit whose flag is cleared with a hook change is
    // dropped. An event counts once its own flag is cleared: a flag that stays set is found
    // again by the next poll, a cleared one never, so neither is reported twice or lost.
    const int cleared2 = Write(SLIC_IRQ_STATUS2, status2);
    const int cleared3 = Write(SLIC_IRQ_STATUS3, status3);
    if (hookChange) {
        if (!cleared2) return 0;
        Pause(kHookSettleMs);
        return ReadEvent(Unread::Hook);
    }
    if (!digit || !cleared3) return 0;
    if (!dtmfRead) {
        unread = Unread::Digit;
        return 0;
    }
    return StoreDigit(dtmf);
}

int KwUsbPhone::ReadEvent(Unread what) {
    assert(DeviceLockHeldHere() && "the caller holds deviceLock");
    int value = 0;
    const int reg = what == Unread::Hook ? SLIC_HOOK_STATUS : SLIC_DTMF_DECODE;
    if (!SlicReadDirect(reg, &value)) {
        unread = what;
        return 0;
    }
    unread = Unread::None;
    if (what == Unread::Digit) return StoreDigit(value);
    lastEvent = (value & 0x01) ? kEventOffHook : kEventOnHook;
    return 1;
}

int KwUsbPhone::StoreDigit(int decoded) {
    if (!(decoded & kDtmfValid)) return 0;
    const int code = decoded & kDtmfCodeMask;
    lastEvent = code == kDtmfCodeZero ? 0 : code;
    return 1;
}

PhoneKey KwUsbPhone::GetEventKey() {
    PlayTone(0, 0);
    const int32_t event = lastEvent;
    if (event >= 0 && event <= 9) return static_cast<PhoneKey>(kKeyDigit0 + event);
    switch (event) {
    case kEventStar: return kKeyStar;
    case kEventHash: return kKeyHash;
    case kEventOnHook: PlayTone(0, 0); return kKeyOnHook;
    case kEventOffHook: PlayTone(0, 0); return kKeyOffHook;
    default: return kKeyNone; // DTMF A to C and anything unknown
    }
}

int KwUsbPhone::SetRinging(int on) {
    DeviceLockGuard hold;
    if (on) {
        Write(SLIC_RING_OSC_CTRL, 0x18); // ringing oscillator with its cadence
        return Write(SLIC_LINEFEED, kLinefeedRinging);
    }
    // Line feed first: with the ring timers cleared while the line feed still rings, the chip
    // rings on without its cadence, so the other order rang the bell in its quiet phase for as
    // long as the second request took.
    const int result = Write(SLIC_LINEFEED, kLinefeedForwardActive);
    Write(SLIC_RING_OSC_CTRL, 0x00);
    return result;
}

int KwUsbPhone::SetOnHookTransmission(int on) {
    DeviceLockGuard hold;
    return Write(SLIC_LINEFEED, on ? kLinefeedOnHookTransmission : kLinefeedForwardActive);
}

int KwUsbPhone::IsOffHook() {
    DeviceLockGuard hold;
    return Read(SLIC_HOOK_STATUS) & 0x01;
}

int KwUsbPhone::HasSlic() {
    return 1;
}

int KwUsbPhone::PlayTone(int tone, int on) {
    if (on && (tone < 0 || tone >= kSlicToneCount)) return 0; // no such tone: leave the chip
    DeviceLockGuard hold;
    if (!on) {
        Write(SLIC_OSC1_CTRL, 0);
        return Write(SLIC_OSC2_CTRL, 0);
    }
    const SlicTone& row = kSlicToneTable[tone];
    SetToneOscillators(row.freq1, row.freq2, row.onSeconds, row.offSeconds);
    Write(SLIC_OSC1_CTRL, row.control);
    return Write(SLIC_OSC2_CTRL, row.control);
}

int KwUsbPhone::SetToneOscillators(double freq1, double freq2, double onSeconds,
                                   double offSeconds) {
    DeviceLockGuard hold;
    return SlicWriteToneOscillators(freq1, freq2, SlicTicksFor(onSeconds),
                                    SlicTicksFor(offSeconds));
}

int SlicWriteToneOscillators(double freq1, double freq2, uint16_t active, uint16_t inactive) {
    assert(DeviceLockHeldHere() && "the caller holds deviceLock");
    const SlicOscillator osc1 = SlicOscillatorFor(freq1);
    const SlicOscillator osc2 = SlicOscillatorFor(freq2);
    SlicWriteIndirect(SLIC_IND_OSC1_COEF, osc1.coefficient);
    SlicWriteIndirect(SLIC_IND_OSC1X, osc1.amplitude);
    SlicWriteIndirect(SLIC_IND_OSC1Y, 0); // initial phase
    Write(SLIC_OSC1_ON_LO, active & 0xFF);
    Write(SLIC_OSC1_ON_HI, active >> 8);
    Write(SLIC_OSC1_OFF_LO, inactive & 0xFF);
    Write(SLIC_OSC1_OFF_HI, inactive >> 8);
    SlicWriteIndirect(SLIC_IND_OSC2_COEF, osc2.coefficient);
    SlicWriteIndirect(SLIC_IND_OSC2X, osc2.amplitude);
    SlicWriteIndirect(SLIC_IND_OSC2Y, 0);
    Write(SLIC_OSC2_ON_LO, active & 0xFF);
    Write(SLIC_OSC2_ON_HI, active >> 8);
    Write(SLIC_OSC2_OFF_LO, inactive & 0xFF);
    Write(SLIC_OSC2_OFF_HI, inactive >> 8);
    return 1;
}

int KwUsbPhone::NeedsPolling() {
    return 1;
}

bool KwUsbPhone::KeepsEventsUntilPolled() {
    return true;
}

KwUsbPhoneRelay::KwUsbPhoneRelay(int pcm) : KwUsbPhone(pcm) {}

int KwUsbPhoneRelay::Initialize() {
    return 1;
}

int KwUsbPhoneRelay::SetRelay(int on) {
    DeviceLockGuard hold;
    return DevSetPins(kPinRelay, on);
}

int KwUsbPhoneRelay::HasRelay() {
    return 1;
}
