// The lab adapter: a software model of the telephone adapters behind the vendor entry point.
// Native tests install it with SetDeviceLibrary(nullptr, LabVaVoRarCall) after making an
// instance current; the lab VaVoRar.dll wraps the same model for Kestrel.exe under Wine.
//
// The model is built from parts that mirror the hardware: the USB bridge chip's register file
// and pins (LabBridge), the line chip (LabSlic), the analogue telephone on its line and the
// PSTN line. Later families (keypad matrix, EEPROM, panel display, beeper, gateway switch) attach
// as LabPeripheral objects that watch bridge writes and drive input pins.
//
// Time: the line chip is a reading-count model (calibration, battery and converter settle after
// a configurable number of reads), so it behaves the same in virtual and real time. The ring
// cadence follows the process clock (GetClock: virtual in native tests, real in the DLL). The
// modelled bus latency sleeps through the Clock given to SetLatency; stalls through that one
// too, or the process clock when none was given.
//
// Failing the way hardware fails: between Unplug and Plug every request that reaches the device
// fails (result 0, nothing written back, no register changed); only the library's housekeeping
// (codes 1, 16, 17, 18, 32, 45) still answers. Plug brings the adapter back at its power-on
// values. Fault injection fails chosen requests on purpose (recorded with `injected`).
//
// Thread safety: every public member takes the model's one mutex, so Kestrel's two threads and
// a control thread may call in at once. Hooks (posts) run outside the mutex.
#pragma once
#include "LabBridge.h"
#include "LabKeypad.h"
#include "LabPanel.h"
#include "LabPci.h"
#include "LabSlic.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class Clock;

// Which register file a recorded call touched.
enum class LabTarget { None, Bridge, SlicDirect, SlicIndirect };

// A malformed request the model refused. The call fails (result 0) and is recorded.
enum class LabFault {
    None,
    NullPointer,   // no request block / no out pointer where one is needed
    NullBuffer,    // request block without a data buffer
    CountMismatch, // header count differs from the envelope's count
    MissingMarker, // a write without the 0x55 marker
    BadDirection,  // direction neither 0 nor 1
    BadRequest,    // request byte neither 4 nor 5
    BadValueField, // header value field not 0
    OutOfRange,    // register (or register + count) beyond the register file
    BadValue,      // a SLIC value wider than the register
    UnknownCode,   // a function code the library does not have
};
const char* LabFaultName(LabFault fault);

// One library call as the model saw it.
struct LabCall {
    int index = 0; // 0-based position in the record
    int code = 0;
    int param = 0;
    uintptr_t pointer = 0; // the pointer argument as a value (codes 4, 6, 14, 18, 45 carry one)
    int result = 0;
    bool injected = false;  // failed on purpose by fault injection
    bool unplugged = false; // failed because the device was unplugged
    unsigned stallMs = 0;   // how much longer than usual it took (SetStall)
    LabFault fault = LabFault::None;

    // Decoded register operation (codes 2 to 6).
    LabTarget target = LabTarget::None;
    bool write = false;
    int reg = -1;               // first register
    int request = 0;            // bridge request byte (4 or 5)
    std::vector<uint8_t> bytes; // bridge bytes transferred (written, or read back)
    int value = 0;              // SLIC value written or read

    std::string text;     // code 20: the name prefix; code 31: the mixer device name
    uintptr_t window = 0; // code 16: window handle; code 31: the mixer notice window
};

// One register write, flattened: a multi-byte bridge block becomes one entry per byte.
struct LabRegWrite {
    int reg;
    int value;
    bool operator==(const LabRegWrite& o) const { return reg == o.reg && value == o.value; }
};

// A message the library posted to the registered window.
struct LabPost {
    uintptr_t window;
    unsigned message; // 1424 arrival, 1425 removal
    uintptr_t wParam;
    intptr_t lParam; // product id
};

constexpr unsigned kLabDeviceArrived = 1424;
constexpr unsigned kLabDeviceRemoved = 1425;
constexpr uintptr_t kLabMixerHandle = 0x4D58;

class LabAdapter {
  public:
    LabAdapter();
    ~LabAdapter();
    LabAdapter(const LabAdapter&) = delete;
    LabAdapter& operator=(const LabAdapter&) = delete;

    // The vendor entry point.
    int Call(int code, int param, void* pointer);

    // A text command of the control channel (see LabCommands.cpp for the list); -1 when unknown
    // or malformed.
    int Control(const std::string& command);

    // --- configuration ---
    void SetProductId(int productId);
    int ProductId();
    // Present: code 16 answers 0 and code 0 reports the product id.
    void SetPresent(bool present);
    bool Present();
    // Modelled bus latency per request; sleeps through `clock` (null: no sleep).
    void SetLatency(unsigned microseconds, Clock* clock);
    // Whether code 20 finds an audio device / code 31 opens a mixer.
    void SetAudioDeviceFound(bool found);
    void SetMixerOpens(bool opens);
    // Called (outside the mutex) for every arrival/removal post; the DLL posts it for real.
    void SetPostHook(std::function<void(const LabPost&)> hook);
    // Called (outside the mutex) after every call with its record; the DLL writes its log.
    void SetCallHook(std::function<void(const LabCall&)> hook);
    void AttachPeripheral(LabPeripheral* peripheral);
    // Keeps only the last `limit` call records (0: all); counts stay exact. For long runs.
    void SetCallLimit(size_t limit);

    // Line chip configuration (revision, variant, settle counts); applied at once.
    void ConfigureSlic(const LabSlicConfig& config);
    LabSlicConfig SlicConfig();

    // --- fault injection ---
    // An injected failure returns 0, writes nothing back and changes nothing. When several
    // injections match one request, each of them counts it.
    // The next `count` calls of `code` fail.
    void FailNext(int code, int count = 1);
    // Reads of a register fail: `count` times, or always with -1. Bridge reads fail when the
    // block covers the register.
    void FailReads(LabTarget target, int reg, int count = -1);
    // The next `count` requests of `code` that touch register `reg` fail: code 2 when its
    // block covers reg, codes 3-6 for that line-chip register.
    void FailNextAt(int code, int reg, int count = 1);
    // Each request on the bus (every code that reaches the device except 0, 20 and 31, which
    // find the device and its audio parts rather than talk to it) fails with probability
    // `fraction`, drawn from a generator seeded with `seed`: the same seed fails the same
    // requests of the same sequence, on every platform. 0 turns it off.
    void FailRandom(double fraction, uint32_t seed);
    // Every request of `code` fails while refused (the PCI card has no bridge registers: code 2).
    void RefuseCode(int code, bool refuse);
    // The next `count` requests that reach the device (-1: all until SetStall(0, 0)) each take
    // `ms` longer. The stall comes before the request, without the model's lock held.
    void SetStall(unsigned ms, int count);
    // Requests failed on purpose since the last ClearCalls.
    int InjectedFailures();
    // Turns every injection off (failures, refusals, random failures, stalls).
    void ClearFailures();
    // The same from configuration text (LabControl.h): "2,3" refuses codes 2 and 3;
    // "<fraction>[:<seed>]" fails at random (seed 1 when none is given). Empty text changes
    // nothing; false for malformed text, which changes nothing either.
    bool ConfigureRefusals(const std::string& codes);
    bool ConfigureFailRandom(const std::string& spec);

    // --- the world around the adapter ---
    // The device is pulled out: posts 1425 with the product id to the window of code 16; from
    // now on every request that reaches the device fails.
    void Unplug();
    // The device is plugged in: back at its power-on values (bridge registers and pins, the line
    // chip, the peripherals, no line or switch selected yet; the telephone's hook and the PSTN
    // line stay as the world has them), then posts 1424. Plugging in a device that was never
    // pulled out only posts.
    void Plug();
    bool Plugged();
    void LiftReceiver();
    void ReplaceReceiver();
    // A DTMF key of the telephone: 0-9, '*', '#', 'A'-'D'. False for any other character.
    bool PressDtmf(char key);
    bool OffHook();
    void SetPstnRinging(bool ringing);
    void SetPstnLineBusy(bool busy);
    // Resets the line chip behind the program's back (its power-on state).
    void ResetSlic();
    // PCI event queue (code 7).
    void QueueEvent(int event);
    int PendingEvents();
    // The first-generation handsets' keypad (keys '0'-'9', '*', '#', 'A'-'D'; false for another
    // character): a key held down or let go, or one short press. PressDtmf taps the key too.
    bool PressKey(char key, bool down);
    bool TapKey(char key);
    bool Sounding(); // the handset's sounder
    bool RelayOn();  // the handset's relay (0xB211)
    // The handset's settings memory (0xB212).
    uint16_t EepromWord(int address);
    void SetEepromWord(int address, uint16_t value);
    void SetEepromBusyClocks(int clocks); // how long a programming cycle stays busy
    std::vector<LabEepromCommand> EepromCommands();
    // The second-generation devices' panel and key report (LabPanel.h). Not locked: for tests
    // that call in from one thread.
    LabPanel& Panel() { return panel_; }
    // A key of the second-generation handset: "0"-"9", "*", "#", "A"-"D", "offhook", "onhook".
    bool PressPanelKey(const std::string& name);

    // --- observation ---
    std::vector<LabCall> Calls();
    std::vector<LabCall> CallsOf(int code);
    int CallCount();               // every call since the last ClearCalls
    void ClearCalls();             // also clears the faults and posts
    std::vector<LabCall> Faults(); // calls refused as malformed
    int FaultCount();
    std::vector<LabRegWrite> BridgeWrites();
    std::vector<LabRegWrite> SlicDirectWrites();
    std::vector<LabRegWrite> SlicIndirectWrites();
    std::vector<LabPost> Posts();

    // Register values as the hardware holds them (no call recorded, no read side effects).
    int BridgeRegister(int reg); // as a read would show it (pins combined)
    int SlicDirect(int reg);
    int SlicIndirect(int reg);
    LabTone Tone(); // the tone generator decoded
    // The line chip's line-feed record (LabSlic::LineFeedChanges, LastStretchMs).
    std::vector<LabLineFeedChange> LineFeedChanges();
    long LineFeedStretchMs(uint8_t state);
    void SetSoundMeter(std::function<long long()> meter);
    bool LineFeedStretchSound(uint8_t state, long long* begin, long long* end);
    // The telephone's bell sounds now: the line chip's ringing (with its cadence), the telephone
    // on the PSTN line while that rings, or a handset's sounder.
    bool Ringing();
    int SelectedLine();            // last code 25 value; -1 before any
    int SwitchState();             // gateway switch: last of code 22 (0) / 23 (1); -1 before any
    bool Opened();                 // code 0 called and not followed by code 1
    uintptr_t RegisteredWindow();  // window of code 16 (0 after code 17)
    std::string AudioDeviceName(); // last name of code 20
    std::string MixerName();       // last name of code 31
    bool MixerOpen();

    // A stable one-line description of a call, as the DLL's log writes it:
    // "17 2 0 W bridge[18] 00 -> 1".
    static std::string FormatCall(const LabCall& call);

    // Whether a code reaches the device (all but the library's housekeeping).
    static bool ReachesDevice(int code);
    // The second-generation gateways, the only products whose pin 0x10 is the PSTN line-use
    // input.
    static bool IsGatewayProduct(int productId);

  private:
    int CallLocked(LabCall& rec, void* pointer);
    bool PanelControl(const std::vector<std::string>& words, int& result);
    bool FaultControl(const std::vector<std::string>& words, int& result);
    int BridgeRequest(LabCall& rec, void* pointer);
    // Whether a well-formed request fails: device unplugged, or an injection; marks the record.
    // `regs` registers from rec.reg on are touched.
    bool Blocked(LabCall& rec, int regs);
    bool ReadFails(LabTarget target, int reg, int count);
    bool RandomFailure();
    void PowerOn();
    void RefreshInputs();
    void QueuePost(unsigned message);
    void FlushPosts();

    std::mutex mutex_;
    LabBridge bridge_;
    LabSlic slic_;
    std::vector<LabPeripheral*> peripherals_;

    int productId_ = 0x831C;
    bool present_ = true;
    bool opened_ = false;
    uintptr_t window_ = 0;
    int line_ = -1;
    int switch_ = -1;
    bool offHook_ = false;
    bool pstnRinging_ = false;
    bool pstnBusy_ = false;
    bool audioFound_ = true;
    bool mixerOpens_ = true;
    bool mixerOpen_ = false;
    std::string audioName_;
    std::string mixerName_;
    LabPci pci_;
    LabKeypad keypad_;
    LabPanel panel_;

    unsigned latencyUs_ = 0;
    unsigned latencyDebtUs_ = 0;
    Clock* latencyClock_ = nullptr;

    std::map<int, int> failNext_;                   // code -> calls left to fail
    std::map<std::pair<int, int>, int> failReads_;  // (target, reg) -> reads left; -1 always
    std::map<std::pair<int, int>, int> failNextAt_; // (code, reg) -> requests left to fail
    std::set<int> refused_;                         // codes that always fail
    double randomFraction_ = 0;
    uint64_t randomState_ = 0;
    unsigned stallMs_ = 0;
    int stallCount_ = 0; // -1: every request
    int injectedFailures_ = 0;

    std::deque<LabCall> calls_;
    std::vector<LabCall> faults_;
    size_t callLimit_ = 0;
    int totalCalls_ = 0;
    std::vector<LabPost> posts_;
    std::vector<LabPost> pendingPosts_;
    std::function<void(const LabPost&)> postHook_;
    std::function<void(const LabCall&)> callHook_;
};

// The C-style entry routed to the current instance; returns 0 while none is current.
int LabVaVoRarCall(int code, int param, void* pointer);
void SetCurrentLabAdapter(LabAdapter* adapter);
LabAdapter* CurrentLabAdapter();
