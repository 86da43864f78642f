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
