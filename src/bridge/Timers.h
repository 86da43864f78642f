// The main window's timers: their ids and periods, one place for both. All are one-shot; the
// periodic ones arm themselves again.
#pragma once

enum MainTimer : unsigned {
    TIMER_OPEN_PHONE = 2,
    TIMER_RING_OFF = 3,
    TIMER_RING_ON = 4,
    TIMER_STATUS_POLL = 6,
    TIMER_PSTN_RING_OVER = 7,
    TIMER_PSTN_LINE_IDLE = 8,
    TIMER_CALL_ANIMATION = 9,
    TIMER_CALLER_ID_WAIT = 10,  // the latest moment to decide the caller ID sent before a ring
    TIMER_CALLER_ID_START = 11, // caller ID before the first ring starts
    TIMER_CALLER_ID_END = 12,   // caller ID that never reported its end is over
};

constexpr unsigned kOpenPhoneDelayMs = 2000; // after a device arrives
// While the old phone thread still releases the removed device: a release takes one pass.
constexpr unsigned kOpenPhoneRetryMs = 500;
constexpr unsigned kRingOnMs = 1000;
constexpr unsigned kRingOffMs = 3000;
constexpr unsigned kStatusPollMs = 2000;
constexpr unsigned kRingOverMs = 5000; // quiet after the last ring before a PSTN episode is over
constexpr unsigned kLineIdleMs = 1000;
constexpr unsigned kAnimationMs = 500;
// From an incoming call's RINGING to its first ring: the ring-off timer, then the ring-on one.
constexpr unsigned kFirstRingMs = kRingOffMs + kRingOnMs;
// Caller ID sent before the first ring waits for Skype's answers about the caller until its
// standard's longest signal, started then, would still end this long before the first ring.
constexpr unsigned kCallerIdDecideMarginMs = 100;
// A playback's end is reported by the sound device; if that never comes, this long after the
// signal's own length it is over all the same.
constexpr unsigned kCallerIdEndMarginMs = 1000;
