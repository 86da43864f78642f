// The layers of the source tree; includes only point down the page:
//
//     app/                      Kestrel.exe, the main window (implements the seams below)
//      |
//     call/                     call control: notifications, phone event loop, timers
//      |
//     device/  playback/  skype/  callerid/
//      |
//     bridge/                   this state, the MainWindow and SkypeCommands seams, timers
//      |
//     core/                     clock
//
// Each folder's win32/ half, built for Windows only, is the only code that calls Windows.
//
// The process-wide variables of call control: one instance in the program, a fresh one per
// test. Everything the phone event thread touches is atomic; the text buffers belong to the
// GUI thread alone.
#pragma once
#include "bridge/Timers.h"

#include <atomic>
#include <cstdint>

// Call states held in callState.
enum CallStateValue : int32_t {
    CALL_IDLE = 0,
    CALL_RINGING_IN = 2,  // a Skype call rings at this phone
    CALL_GOING_OUT = 3,   // a Skype call placed from this phone is being set up
    CALL_IN_PROGRESS = 4, // a Skype call is in progress
    CALL_PSTN_IN = 5,     // the telephone was switched to a ringing PSTN line
    CALL_PSTN_OUT = 6,    // the user took the PSTN line to dial out
};

// The state's name for traces; "unknown" for a value outside CallStateValue.
inline const char* CallStateName(int32_t state) {
    switch (state) {
    case CALL_IDLE: return "idle";
    case CALL_RINGING_IN: return "ringing in";
    case CALL_GOING_OUT: return "going out";
    case CALL_IN_PROGRESS: return "in progress";
    case CALL_PSTN_IN: return "PSTN in";
    case CALL_PSTN_OUT: return "PSTN out";
    default: return "unknown";
    }
}

// Attach status values (attachStatus).
enum AttachStatusValue : int32_t {
    ATTACH_SUCCESS = 0,
    ATTACH_PENDING_AUTHORIZATION = 1,
    ATTACH_REFUSED = 2,
    ATTACH_NOT_AVAILABLE = 3,
    ATTACH_API_AVAILABLE = 0x8001,
    ATTACH_NOT_CONNECTED = 255,
};

// Window messages of the bridge.
enum BridgeMessage : unsigned {
    WMU_PSTN_RING = 1124,
    WMU_PHONE_KEY = 1225,
    WMU_DEVICE_ARRIVED = 1424,
    WMU_DEVICE_REMOVED = 1425,
    WMU_TRAY_NOTIFY = 0x1409,
    PHONE_KEY_EVENT = 100,
};

// Tray icon resources.
enum TrayIconId : int {
    ICON_READY = 128,
    ICON_NOT_READY = 129,
    ICON_CALL_FIRST = 130, // 130 to 133: the in-call animation frames
};

constexpr unsigned kDialedSize = 64;
constexpr unsigned kCallIdSize = 8;
constexpr unsigned kCommandTextSize = 128;
constexpr unsigned kMessageTextSize = 64;
constexpr unsigned kItemTextSize = 256;
constexpr unsigned kWavPathSize = 264;
constexpr unsigned kWavDirSize = 264;
constexpr unsigned kRecentCallsKept = 16;

struct BridgeState {
    std::atomic<uintptr_t> mainWnd{0};
    std::atomic<int32_t> callState{CALL_IDLE};
    std::atomic<int32_t> attachStatus{ATTACH_NOT_CONNECTED};
    std::atomic<uint8_t> bridgeReady{0};
    std::atomic<uint8_t> lineAlive{1};
    std::atomic<int32_t> lineCheckFailures{0};
    std::atomic<int32_t> offHook{0};
    std::atomic<int32_t> pstnActive{0};
    std::atomic<uint8_t> voipOnly{0};
    std::atomic<int32_t> devicePresent{0};
    std::atomic<uint8_t> ringing{0};
    std::atomic<uint8_t> busyRejected{0};
    std::atomic<uint8_t> playerIdle{0};
    std::atomic<int32_t> promptDeviceChosen{0};
    std::atomic<int32_t> promptDevice{0};
    std::atomic<int32_t> iconFrame{0};
    std::atomic<uint8_t> deviceLockDeleted{1};
    std::atomic<int32_t> hideOnPaint{1};

    // PSTN watch of the phone event loop.
    std::atomic<int32_t> ringPolls{0};
    std::atomic<int32_t> ringSeen{0};
    std::atomic<int32_t> ringEndTimerArmed{0};
    std::atomic<int32_t> busyRingPolls{0};
    std::atomic<int32_t> notifyCount{0};
    std::atomic<uint8_t> lineCheckPending{0};
    std::atomic<uint8_t> lineIdleTimerArmed{0};
    // Clock time of the last ringing poll; the phone event thread's alone.
    std::atomic<uint64_t> lastRingPollMs{0};

    // GUI thread only.
    char dialed[kDialedSize] = {};
    int32_t dialedLen = 0;
    char callId[kCallIdSize] = {};
    char otherCallId[kCallIdSize] = {};
    char commandText[kCommandTextSize] = {};
    char messageText[kMessageTextSize] = {};
    char itemText[kItemTextSize] = {};
    char wavPath[kWavPathSize] = {};
    char wavDir[kWavDirSize] = {};

    // The phone's dialled call between our "CALL" and the first status of the call it makes:
    // Skype's answer names no command, so the next new call being set up is taken as ours.
    uint8_t dialPending = 0;
    uint64_t dialSentMs = 0;
    // The receiver went down before that answer: the call is hung up as soon as it is known.
    uint8_t hangUpOnArrival = 0;
    // The calls Skype last told us of. A dial's answer is a call not among them; one we hung
    // up or turned away stays ended whatever status of it was still on its way.
    struct RecentCall {
        char id[kCallIdSize];
        uint8_t hungUp;
    };
    RecentCall recentCalls[kRecentCallsKept] = {};
    uint32_t recentCallsNext = 0;
};
