// Call control: the bridge between the telephone's events, Skype's call notifications and the
// main window's timers. This is the portable half of the main window CKestrelDlg: its fields
// that call control uses and the handlers that act on them. CKestrelDlg derives from it and
// forwards window messages; tests drive it directly with fakes of the seams.
#pragma once
#include "bridge/BridgeState.h"
#include "bridge/MainWindow.h"
#include "bridge/SkypeCommands.h"
#include "callerid/CallerIdSignal.h"
#include "callerid/CallerIdStandard.h"
#include "core/Clock.h"

#include <atomic>
#include <cstdint>
#include <thread>

class PhoneDevice;

// Only for the benchmark's comparison build: a phone loop that never pauses nor yields.
#ifdef KESTREL_BENCH_SPIN
constexpr bool kBenchSpin = true;
#else
constexpr bool kBenchSpin = false;
#endif

// How long caller ID sent before the first ring (ETSI FSK, DTMF) waits for Skype's answers from
// RINGING: until the standard's longest signal would only just end before the first ring.
unsigned CallerIdAnswerWaitMs(CallerIdStandard standard);

class CallControl {
  public:
    CallControl(BridgeState& state, MainWindow& window, SkypeCommands& skype);
    virtual ~CallControl();
    CallControl(const CallControl&) = delete;
    CallControl& operator=(const CallControl&) = delete;

    // --- Fields of the main window that call control uses -------------------------------
    std::atomic<PhoneDevice*> m_pPhone{nullptr}; // the open phone; null while none
    std::atomic<intptr_t> m_hMixer{0};           // result of the mixer-open request; 0 none
    std::atomic<int32_t> m_nProductId{0};        // product of the open or announced device
    std::atomic<int32_t> m_bReleaseOnStop{0};    // the stopping thread releases the phone
    std::atomic<int32_t> m_hThread{0};           // 1 while the phone event thread runs
    std::atomic<int32_t> m_bStopThread{0};       // asks the phone event thread to stop

    // Limits chosen here (see the handlers for why).
    static constexpr int kMaxDialed = 62;               // "+" and the number fit `dialed`
    static constexpr unsigned kThreadStopWaitMs = 5000; // shutdown's wait for the thread
    // Longest wait with nothing to poll; a wake (WakePhoneThread) ends it as soon as there is.
    static constexpr unsigned kIdlePauseMs = kBenchSpin ? 0 : 1000;
    // 1 ms steps the loop yields deviceLock to a waiter.
    static constexpr unsigned kStandAsideSteps = kBenchSpin ? 0 : 20;
    // How long a dialled call waits for Skype to report the call it makes; a client answers in
    // milliseconds, and one that never does must not keep the phone from dialling again.
    static constexpr unsigned kDialAnswerWaitMs = 10000;

    // The loop's pace while it polls. Full: the next pass at once. Slow: a pause between passes,
    // taken only while the receiver is down, nothing rings, no call or PSTN episode is under way,
    // no event came within briskAfterEventMs, and the phone keeps its events until polled.
    // At the slow pace the PSTN watch looks at the line's ring every slowRingWatchMs only.
    // The slow pass stays well inside the shortest press the chip's flags must not merge: a
    // hook flash (100 ms, of which the hook read waits 50 ms to settle) and two DTMF digits
    // (80 ms apart at the fastest); what it adds to the dial tone is at most its own length.
    struct Pace {
        unsigned slowPassMs = kBenchSpin ? 0 : 30;
        unsigned slowRingWatchMs = 120;
        unsigned briskAfterEventMs = 1000;
    };
    Pace pace; // set before the thread starts

    // The caller-ID standard of an analogue telephone (GUI thread). Off: nothing is asked of
    // Skype for it and nothing sent, exactly as without caller ID.
    CallerIdStandard callerIdStandard = CallerIdStandard::Off;

    // --- Device catalogue and opening (GUI thread) ------------------------------------------
    int OpenPhone();

    // --- Skype notifications (GUI thread, from the hidden API window) -------------------------
    // Only these forms act: a call's status ("CALL <id> STATUS <word>"), an error reply
    // ("ERROR <number> <text>"), "CONNSTATUS LOGGEDOUT", and the answers about a ringing call's
    // caller ("CALL <id> PARTNER_HANDLE <text>", "CALL <id> PARTNER_DISPNAME <text>"), which
    // move nothing but caller ID. Every other text is ignored.
    void OnSkypeNotification(const char* text);

    // --- Phone events ----------------------------------------------------------------------
    // One pass of the phone event loop (A: PSTN watch, B: keys, C: stop check, including the
    // release of the phone when asked for). Returns false when the loop must end.
    bool PhoneEventPass();
    // The thread body: passes until told to stop; clears m_hThread at its end.
    void PhoneEventLoop();
    void OnPhoneKey(uint8_t key);
    void OnPhoneOffHook();
    void OnPhoneOnHook();
    void OnPstnRingNotify();

    // The main window's messages that its message map leaves to the default procedure: power
    // resume, device change, mixer change, phone keys, device arrival and removal. Returns true
    // when the message was consumed without default processing (the mixer notice).
    bool OnWindowMessage(unsigned message, uintptr_t wParam, intptr_t lParam);

    // --- Timers (GUI thread) ------------------------------------------------------------------
    void OnTimer(unsigned id);

    // Ends the phone event thread's wait: polling may be needed again (the bridge became ready,
    // a line check or a stop is asked for, a phone was opened). Any thread.
    void WakePhoneThread() { phoneWake_.Set(); }

    // --- Shutdown, device part: stop the thread, withdraw the window, release the phone and
    // close the library's mixer and device, in that order.
    void ShutDownDevice();

    // The main window's handle as the vendor library and the mixer see it.
    uintptr_t WindowHandle() const { return state_.mainWnd.load(); }

  protected:
    // The phone object for a product id (the catalogue's); tests put in phones of their own.
    virtual PhoneDevice* CreatePhone(int32_t productId);

    // Runs f(PhoneDevice&) on the open phone while holding deviceLock, so that the other thread
    // cannot release it meanwhile. False (f not run) when no phone is open. Defined in
    // call/PhoneAccess.h.
    template <typename F> bool WithPhone(F&& f);

    // Switches the telephone to the PSTN line and deletes the phone; whichever thread gets
    // here first does it, the other finds nothing left.
    void ReleasePhone();
    // SetLineMode, made again (up to kLineSwitchAttempts in all) when the device is present.
    void SwitchLine(PhoneDevice& phone, int line, bool present);
    static constexpr int kLineSwitchAttempts = 3;

    // Debug checks of the thread rules (in asserts only). The GUI thread is the first thread to
    // call a GUI-thread handler of this object: in the program the main window's, which opens
    // the phone before any phone event thread exists; in tests the test's own. A test that runs
    // passes itself plays the phone event thread on that same thread, which is allowed while no
    // real one runs.
    bool OnGuiThread();
    // Whether the calling thread is the GUI thread and a phone event thread of ours runs.
    bool GuiThreadWithPhoneThreadRunning();

    BridgeState& state_;
    MainWindow& window_;
    SkypeCommands& skype_;
    // An "Access denied" answer may resend the last command once; set when we send a command.
    bool resendAllowed_ = false;

  private:
    // --- Caller ID (call/CallerId.cpp) ---
    // What is known of the caller of the call that rings in, and where its signal stands.
    static constexpr size_t kPartnerTextSize = 128; // longer answers are cut; WhoIsCalling trims
    struct CallerIdCall {
        char callId[kCallIdSize] = {}; // the call asked about; empty while none
        bool analogue = false;         // a signal goes to the analogue telephone
        bool display = false;          // the handset's display shows the number
        bool shown = false;            // and shows it now
        bool haveHandle = false, haveName = false;
        char handle[kPartnerTextSize] = {};
        char name[kPartnerTextSize] = {};
        uint64_t ringingAtMs = 0; // clock time of the RINGING
        int ringsStarted = 0;     // rings of this call's cadence so far
        bool decided = false;     // the signal is made (or given up): answers no longer wait
        bool playing = false;     // on-hook transmission on and the PCM playing
        uint64_t startedAtMs = 0; // clock time the PCM was started
        CallerIdSignal signal;    // alive while it plays
    };
    // The RINGING that made a call ring in: asks Skype about the caller when anything will
    // use the answer.
    void CallerIdOnRinging();
    // "PARTNER_HANDLE" / "PARTNER_DISPNAME" of call id; value may be empty.
    void OnPartnerAnswer(const char* id, bool isHandle, const char* value);
    // Caller ID sent before the first ring: made from what is known, started so that it ends as
    // the first ring begins.
    void DecideCallerIdBeforeRing();
    // Bell 202 in the first pause: returns the pause to use (kRingOnMs when nothing is sent).
    unsigned CallerIdInFirstPause();
    void StartCallerIdSignal();
    // The sound device is done with the samples: the data ends now, or at the signal's own end
    // if that is still to come (a device may report samples done once they sit in its buffer).
    void OnCallerIdPlayed();
    // The data ends now: PCM stopped, line feed back to forward active. Nothing when none plays.
    void StopCallerIdSignal();
    // The call's caller ID is over (answered, ended, device gone, shutdown): signal stopped,
    // its timers killed, the display cleared.
    void EndCallerId();
    CallerIdCall cid_;

    void StopRinging();
    // Every end of a call: ring stop, the resting tray icon and timers, no rejection pending,
    // idle.
    void ReturnToIdle();
    // Turns away a call the phone cannot take ("SET CALL <id> STATUS FINISHED").
    void RejectCall(const char* id);
    // Sends "SET CALL <id> STATUS FINISHED" and remembers the call as ended by us.
    void HangUp(const char* id);
    // The call among those Skype last told us of; null for a new one.
    BridgeState::RecentCall* FindRecentCall(const char* id);
    BridgeState::RecentCall& NoteCall(const char* id);
    // Whether a "CALL" of ours still waits for the call it makes (expired waits are dropped).
    bool DialAwaitingAnswer();
    void OnCallStatus(const char* id, const char* word);
    // ROUTING or UNPLACED: a call being set up, ours or one placed at the computer.
    void OnCallSetUp(const char* id, bool isNew);
    void OnErrorReply(const char* text);
    // A device removed during a Skype call: nobody can hear the call any more.
    void EndCallOfRemovedDevice();
    // Sends commandText as a command of our own (a resend is not).
    void SendCommand();
    void FormatCommand(const char* format, const char* argument);
    void PstnWatch();
    void PlaceCall();
    void AnswerRingingCall();
    void StatusPoll();
    void StartPhoneThread();
    // The device's life, each step in one place. Asks the phone event thread to release the
    // phone and stop at the end of its pass (a thread that runs: it does the release itself).
    void AskThreadToRelease();
    // Releases the phone, then closes the library's mixer and device.
    void ReleaseAndCloseDevice();
    // The PSTN watch starts over: no ring counted, no prompt made, no watch timer armed, a line
    // check due.
    void ResetPstnWatch();
    // Waits, at most maxMs through the clock, for the thread to end; joins it once it has.
    void WaitForPhoneThread(unsigned maxMs);
    void StandAsideForLockWaiters();
    // Whether the next pass must follow at once (see Pace); the phone event thread's.
    bool FullPace(bool keepsEvents);

    std::thread phoneThread_;
    std::atomic<std::thread::id> guiThread_{};
    std::atomic<int> passesRunning_{0}; // passes under way: never more than one
    WakeSignal phoneWake_;
    // Clock time of the last key or ringing poll the loop saw; the phone event thread's alone.
    uint64_t lastEventMs_ = 0;
    bool sawEvent_ = false;
    bool slowPace_ = false;        // the last pass ended at the slow pace
    uint64_t lastRingWatchMs_ = 0; // clock time of the last PSTN watch
};
