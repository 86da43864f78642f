// Registers of the line chip (SLIC) and of the USB bridge chip in front of it, named once for
// every family that drives them. Direct registers are 8 bits wide, indirect ones 16 bits.
#pragma once

// SLIC direct registers.
enum SlicDirectRegister : int {
    SLIC_ID = 0,              // bits 3..0 chip revision, bits 5..4 chip variant
    SLIC_PCM_MODE = 1,        // PCM format and enable
    SLIC_PCM_TX_START_LO = 2, // PCM transmit slot
    SLIC_PCM_TX_START_HI = 3,
    SLIC_PCM_RX_START_LO = 4, // PCM receive slot
    SLIC_PCM_RX_START_HI = 5,
    SLIC_LOOPBACK = 8,     // audio loopback; reads 2 after a chip reset
    SLIC_POWERDOWN = 14,   // bit 4 switches the DC-DC converter off
    SLIC_IRQ_STATUS1 = 18, // interrupt flags; writing a flag back clears it
    SLIC_IRQ_STATUS2 = 19, // bit 0 ring trip, bit 1 loop closure (hook change)
    SLIC_IRQ_STATUS3 = 20, // bit 0 DTMF digit decoded
    SLIC_IRQ_ENABLE1 = 21,
    SLIC_IRQ_ENABLE2 = 22,
    SLIC_IRQ_ENABLE3 = 23,
    SLIC_DTMF_DECODE = 24, // bit 4 digit valid, bits 3..0 digit code
    SLIC_OSC1_CTRL = 32,   // tone oscillator 1 enable and cadence
    SLIC_OSC2_CTRL = 33,
    SLIC_RING_OSC_CTRL = 34, // ringing oscillator enable and cadence
    SLIC_OSC1_ON_LO = 36,    // oscillator 1 active and inactive timers, low byte first
    SLIC_OSC1_ON_HI = 37,
    SLIC_OSC1_OFF_LO = 38,
    SLIC_OSC1_OFF_HI = 39,
    SLIC_OSC2_ON_LO = 40, // the same for oscillator 2
    SLIC_OSC2_ON_HI = 41,
    SLIC_OSC2_OFF_LO = 42,
    SLIC_OSC2_OFF_HI = 43,
    SLIC_RING_ON_LO = 48, // ringing cadence timers
    SLIC_RING_ON_HI = 49,
    SLIC_RING_OFF_LO = 50,
    SLIC_RING_OFF_HI = 51,
    SLIC_LINEFEED = 64, // line feed state (values below)
    SLIC_BATTERY_FEED = 66,
    SLIC_AUTO_MANUAL = 67, // automatic control of power, battery and ringing
    SLIC_HOOK_STATUS = 68, // bit 0 loop closed: receiver lifted
    SLIC_COMMON_MODE_V = 73,
    SLIC_VBATH = 74,      // high battery voltage
    SLIC_VBAT_SENSE = 82, // battery voltage as measured
    SLIC_IQ1_SENSE = 88,  // transistor currents, read during gain calibration
    SLIC_IQ2_SENSE = 89,
    SLIC_DCDC_PWM_PERIOD = 92,
    SLIC_DCDC_CTRL = 93, // converter switching delay; bit 7 busy while it calibrates
    SLIC_CAL_CTRL1 = 96, // calibration start; reads 0 when calibration is done
    SLIC_CAL_CTRL2 = 97,
    SLIC_CAL_RING_GAIN = 98, // gain mismatch calibration of the RING side
    SLIC_CAL_TIP_GAIN = 99,  // and of the TIP side
};

// Values of SLIC_LINEFEED.
constexpr int kLinefeedOpen = 0x00;
constexpr int kLinefeedForwardActive = 0x11;
// Forward on-hook transmission: the loop stays fed with the receiver down, so a telephone's
// caller-ID receiver hears the line.
constexpr int kLinefeedOnHookTransmission = 0x22;
constexpr int kLinefeedRinging = 0x44;

// SLIC indirect registers used outside the bring-up table.
enum SlicIndirectRegister : int {
    SLIC_IND_OSC1_COEF = 13, // oscillator 1 frequency coefficient, amplitude, initial phase
    SLIC_IND_OSC1X = 14,
    SLIC_IND_OSC1Y = 15,
    SLIC_IND_OSC2_COEF = 16, // the same for oscillator 2
    SLIC_IND_OSC2X = 17,
    SLIC_IND_OSC2Y = 18,
    SLIC_IND_CAL_FIRST = 88, // 88..93: calibration offsets, cleared before a gain calibration
    SLIC_IND_CAL_LAST = 93,
    SLIC_IND_CAL_EXTRA = 97, // cleared once calibration is over
};

// Registers of the USB bridge chip.
enum BridgeRegister : int {
    BRIDGE_CONFIG = 0,       // bridge set-up; bit 0 last, once the rest is in place
    BRIDGE_PSTN_STATUS = 15, // bit 5 clear while the PSTN line rings
    BRIDGE_PIN_LEVEL = 18,   // general-purpose pins; bit 7 low while the SLIC interrupts
    BRIDGE_PIN_ENABLE = 19,  // general-purpose pin output enables
    BRIDGE_SERIAL_CONFIG = 41,
};

// Bridge pins (masks of BRIDGE_PIN_LEVEL).
constexpr int kPinRelay = 0x08;
constexpr int kPinLinePower = 0x10;
// The same pin on the USB gateways: an input, the PSTN line-use detector (HasLineUseDetector).
constexpr int kPinLineInUse = 0x10;
constexpr int kPinSlicIrq = 0x80; // input, active low

// BRIDGE_PSTN_STATUS bit that is set while the PSTN line is quiet.
constexpr int kPstnNotRinging = 0x20;
