// KestrelBench.exe: measures a running Kestrel.exe with the lab VaVoRar.dll from outside, as
// a Skype stand-in of its own that also drives the lab adapter's control window. Run by
// scripts/bench in a scratch directory holding Kestrel.exe and the DLL.
//
// Output, one line each, flushed at once:
//   MARK begin|end <phase>   the script samples the Kestrel process's CPU time and its threads'
//                            context switches at these (phase "background": Kestrel is not
//                            running yet, only the server is sampled)
//   MEM <label>              the script reads the Kestrel process's private memory now
//   RESULT <name> <value>    a figure
//   NOTE <text>              anything else worth reading
// The sound Kestrel plays is appended to alsa_out.raw in the current directory when the script
// points ALSA there; the dial tone is timed from it.
// Exit code 0 when every phase ran, 1 when one could not (the reason is a NOTE).
#include "adapter/LabControl.h"

#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

const char kSkypeMainClass[] = "tSkMainForm.UnicodeClass";
const char kApiClass[] = "KestrelBenchSkypeApi";
const char kKestrelTitle[] = "DeRU Zarar Urorezu Vuzudu";

// The hook path of the USB phone waits this long for the contacts to settle before it reads
// the hook; latencies are also given beyond it.
const double kHookSettleMs = 50;

struct Options {
    unsigned cpuSeconds = 10;
    int keySamples = 50;
    int hookSamples = 100; // also the calls made before the memory is read again
    int toneSamples = 30;
    int ringCycles = 3;
};

struct Command {
    double atMs;
    std::string text;
};

// --- time --------------------------------------------------------------------------------

double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// --- output ------------------------------------------------------------------------------

void Line(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Result(const std::string& name, double value) {
    Line("RESULT %s %.2f", name.c_str(), value);
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    const size_t at = static_cast<size_t>(p / 100.0 * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(at, v.size() - 1)];
}

void Distribution(const std::string& name, const std::vector<double>& v, double minus = 0) {
    if (v.empty()) {
        Line("NOTE %s: no samples", name.c_str());
        return;
    }
    Result(name + "_n", static_cast<double>(v.size()));
    Result(name + "_p50_ms", Percentile(v, 50) - minus);
    Result(name + "_p99_ms", Percentile(v, 99) - minus);
    Result(name + "_max_ms", *std::max_element(v.begin(), v.end()) - minus);
}

// --- the Skype stand-in ----------------------------------------------------------------------

UINT discoverMsg = 0;
UINT attachMsg = 0;
HWND skypeMain = nullptr;
HWND apiWnd = nullptr;
HWND client = nullptr;   // Kestrel's API window, from its discovery
long attachAnswer = 1;   // status given to discoveries: 1 (waiting for the user) keeps it unready
long pendingAttach = -1; // an attach to send from the message loop, not from inside a handler
std::vector<Command> commands;

LRESULT CALLBACK ApiProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_COPYDATA) {
        const COPYDATASTRUCT* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        Command c{NowMs(), std::string()};
        if (cds && cds->lpData && cds->cbData)
            c.text.assign(static_cast<const char*>(cds->lpData),
                          strnlen(static_cast<const char*>(cds->lpData), cds->cbData));
        commands.push_back(c);
        return TRUE;
    }
    if (msg == discoverMsg && msg != 0) {
        client = reinterpret_cast<HWND>(wParam);
        pendingAttach = attachAnswer;
        return TRUE;
    }
    return DefWindowProcA(wnd, msg, wParam, lParam);
}

bool CreateStandIn() {
    discoverMsg = RegisterWindowMessageA("SkypeControlAPIDiscover");
    attachMsg = RegisterWindowMessageA("SkypeControlAPIAttach");
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA main = {};
    main.lpfnWndProc = DefWindowProcA;
    main.hInstance = instance;
    main.lpszClassName = kSkypeMainClass;
    WNDCLASSA api = {};
    api.lpfnWndProc = ApiProc;
    api.hInstance = instance;
    api.lpszClassName = kApiClass;
    if (!discoverMsg || !attachMsg || !RegisterClassA(&main) || !RegisterClassA(&api)) return false;
    // Top-level, so that the broadcast reaches the API window and Kestrel finds the main one.
    skypeMain = CreateWindowExA(0, kSkypeMainClass, "Skype", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 200, 100, nullptr, nullptr, instance, nullptr);
    apiWnd = CreateWindowExA(0, kApiClass, "", WS_OVERLAPPED, CW_USEDEFAULT, CW_USEDEFAULT, 100,
                             100, nullptr, nullptr, instance, nullptr);
    return skypeMain && apiWnd;
}

void SendAttach(long status) {
    if (!client) return;
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(client, attachMsg, reinterpret_cast<WPARAM>(apiWnd), status, SMTO_NORMAL,
                        5000, &ignored);
}

// Dispatches messages for ms milliseconds (0: only what is waiting).
void Pump(double ms) {
    const double until = NowMs() + ms;
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (pendingAttach >= 0) {
            const long status = pendingAttach;
            pendingAttach = -1;
            SendAttach(status);
        }
        const double left = until - NowMs();
        if (left <= 0) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left < 1 ? 1 : left),
                                  QS_ALLINPUT);
    }
}

// Pumps until the condition holds (checked about every millisecond); false on time-out.
bool PumpUntil(const std::function<bool()>& condition, double timeoutMs) {
    const double until = NowMs() + timeoutMs;
    while (!condition()) {
        if (NowMs() > until) return false;
        Pump(1);
    }
    return true;
}

bool Notify(const std::string& text) {
    if (!client) return false;
    std::string copy = text;
    COPYDATASTRUCT cds = {};
    cds.cbData = static_cast<DWORD>(copy.size() + 1);
    cds.lpData = &copy[0];
    DWORD_PTR answer = 0;
    return SendMessageTimeoutA(client, WM_COPYDATA, reinterpret_cast<WPARAM>(apiWnd),
                               reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, 5000, &answer) != 0;
}

// Waits for a command with exactly this text arriving at or after index `from`; its arrival
// time, or a negative value on time-out.
double WaitForCommand(size_t from, const std::string& text, double timeoutMs) {
    double at = -1;
    PumpUntil(
        [&] {
            for (size_t i = from; i < commands.size(); ++i)
                if (commands[i].text == text) {
                    at = commands[i].atMs;
                    return true;
                }
            return false;
        },
        timeoutMs);
    return at;
}

// --- Kestrel and its lab adapter -----------------------------------------------------------

PROCESS_INFORMATION kestrel = {};
HWND labWnd = nullptr;

struct WindowSearch {
    DWORD pid;
    const char* className;
    const char* title;
    HWND found;
};

BOOL CALLBACK FindWindowOf(HWND wnd, LPARAM param) {
    WindowSearch* s = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    if (pid != s->pid) return TRUE;
    char text[256] = "";
    if (s->className) {
        GetClassNameA(wnd, text, sizeof text);
        if (std::string(text) != s->className) return TRUE;
    }
    if (s->title) {
        GetWindowTextA(wnd, text, sizeof text);
        if (std::string(text) != s->title) return TRUE;
    }
    s->found = wnd;
    return FALSE;
}

HWND FindKestrelWindow(const char* className, const char* title) {
    WindowSearch s = {kestrel.dwProcessId, className, title, nullptr};
    EnumWindows(FindWindowOf, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// One control command to the lab adapter inside Kestrel; false when it does not answer.
bool Lab(const std::string& command, long* result = nullptr) {
    if (!labWnd || !IsWindow(labWnd)) labWnd = FindKestrelWindow(LAB_CONTROL_CLASS, nullptr);
    if (!labWnd) return false;
    std::string text = command;
    COPYDATASTRUCT cds = {};
    cds.dwData = LAB_CONTROL_MAGIC;
    cds.cbData = static_cast<DWORD>(text.size() + 1);
    cds.lpData = &text[0];
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(labWnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL,
                             5000, &answer))
        return false;
    if (result) *result = static_cast<long>(static_cast<int>(answer));
    return true;
}

// Returns once Kestrel's GUI thread has finished what it was handling (a sent message is
// taken at its next look at the queue); false when it does not answer within 5 s.
bool GuiRoundTrip() {
    HWND dlg = FindKestrelWindow(nullptr, kKestrelTitle);
    DWORD_PTR ignored = 0;
    return dlg && SendMessageTimeoutA(dlg, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored) != 0;
}

long LabValue(const std::string& command) {
    long v = -1;
    return Lab(command, &v) ? v : -1;
}

bool StartKestrel() {
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    char commandLine[] = "Kestrel.exe";
    return CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                          &kestrel) != 0;
}

bool KestrelRunning() {
    return kestrel.hProcess && WaitForSingleObject(kestrel.hProcess, 0) == WAIT_TIMEOUT;
}

void StopKestrel() {
    if (!kestrel.hProcess) return;
    // The Escape key's way out, so the device is released as in a normal end.
    if (HWND dlg = FindKestrelWindow(nullptr, kKestrelTitle))
        PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
    PumpUntil([] { return !KestrelRunning(); }, 10000);
    if (KestrelRunning()) {
        Line("NOTE Kestrel did not end within 10 s; terminated");
        TerminateProcess(kestrel.hProcess, 1);
    }
    CloseHandle(kestrel.hThread);
    CloseHandle(kestrel.hProcess);
    kestrel = {};
}

// --- phases --------------------------------------------------------------------------------

// The Kestrel process's CPU is sampled by the script between the marks; the lab counts the
// device requests meanwhile.
void IdlePhase(const char* name, const Options& o) {
    const long callsBefore = LabValue("calls?");
    const double start = NowMs();
    Line("MARK begin %s", name);
    Pump(o.cpuSeconds * 1000.0);
    Line("MARK end %s", name);
    const long calls = LabValue("calls?") - callsBefore;
    Result(std::string(name) + "_requests_per_s", calls * 1000.0 / (NowMs() - start));
}

// Until a second passes with almost no device request (the status poll makes one every 2 s);
// false on time-out.
bool Quiet(double timeoutMs) {
    const double until = NowMs() + timeoutMs;
    while (NowMs() < until) {
        const long before = LabValue("calls?");
        Pump(1000);
        if (LabValue("calls?") - before <= 2) return true;
    }
    return false;
}

// Ready once the phone event thread polls: tens of requests a second at least, against one
// every 2 s of the status poll while the bridge is not ready.
bool WaitUntilPolling(double timeoutMs) {
    const double until = NowMs() + timeoutMs;
    while (NowMs() < until) {
        const long before = LabValue("calls?");
        const double t = NowMs();
        Pump(500);
        const double rate = (LabValue("calls?") - before) * 1000.0 / (NowMs() - t);
        if (rate > 20) return true;
    }
    return false;
}

// --- the sound Kestrel plays ------------------------------------------------------------------

const char kSoundFile[] = "alsa_out.raw";

long SoundFileSize() {
    FILE* f = std::fopen(kSoundFile, "rb");
    if (!f) return -1;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fclose(f);
    return size;
}

// Whether anything but digital silence (0x00 or 0x80 bytes) was played after offset `from`.
bool SoundSince(long from) {
    FILE* f = std::fopen(kSoundFile, "rb");
    if (!f) return false;
    std::fseek(f, from, SEEK_SET);
    unsigned char buffer[4096];
    bool sound = false;
    size_t n = 0;
    while (!sound && (n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        for (size_t i = 0; i < n && !sound; ++i)
            sound = buffer[i] != 0x00 && buffer[i] != 0x80;
    std::fclose(f);
    return sound;
}

// Lifting the receiver of an idle telephone (no call, the loop at its slow pace) until the dial
// tone sounds: Kestrel plays tone.wav through the wave device once it has read the hook.
void DialToneLatency(const Options& o) {
    if (SoundFileSize() < 0) {
        Line("NOTE no %s: the dial tone is not timed", kSoundFile);
        return;
    }
    std::vector<double> latency;
    int silent = 0;
    Lab("phone onhook");
    Pump(500);
    for (int i = 0; i < o.toneSamples; ++i) {
        // Past the full pace that follows the last hook event, and not in step with the loop.
        Pump(1300 + (i * 37) % 300);
        const long mark = SoundFileSize();
        const double t0 = NowMs();
        Lab("phone offhook");
        if (PumpUntil([mark] { return SoundSince(mark); }, 3000))
            latency.push_back(NowMs() - t0);
        else
            ++silent;
        Pump(100);
        Lab("phone onhook");
        Pump(300);
    }
    Distribution("offhook_to_dialtone", latency);
    Result("dialtone_silent", silent);
}

// Raises a DTMF digit and waits until the phone event thread has read and cleared its
// interrupt; the time that took, or a negative value when it was not read.
double PressDigit(char digit) {
    const double t0 = NowMs();
    Lab(std::string("phone dtmf ") + digit);
    if (!PumpUntil([] { return (LabValue("slic 20") & 0x01) == 0; }, 2000)) return -1;
    return NowMs() - t0;
}

// DTMF digits: from raised in the lab until the phone event thread has read the digit; and the
// hash key: from raised until "CALL +123" reaches Skype. Digits come as fast as the loop takes
// them, but the hash key only once the GUI thread has handled them, as at a person's pace.
void KeyLatency(const Options& o) {
    std::vector<double> pickup, hash;
    int lost = 0;
    Lab("phone offhook");
    Pump(500);
    // The first key also ends the dial tone on the GUI thread. Approximate: the key is posted a
    // few ms after the digit is read, so the round trip waits a little first.
    const double first = NowMs();
    if (PressDigit('0') >= 0) {
        Pump(10);
        GuiRoundTrip();
        Result("first_key_gui_done_ms", NowMs() - first);
    }
    Lab("phone onhook");
    Pump(300);
    Lab("phone offhook");
    Pump(500);
    for (int i = 0; i < o.keySamples; ++i) {
        for (char digit : std::string("123")) {
            const double ms = PressDigit(digit);
            if (ms >= 0)
                pickup.push_back(ms);
            else
                ++lost;
        }
        Pump(10);
        GuiRoundTrip();
        const size_t from = commands.size();
        const double t0 = NowMs();
        Lab("phone dtmf #");
        const double at = WaitForCommand(from, "CALL +123", 3000);
        if (at >= 0)
            hash.push_back(at - t0);
        else
            ++lost;
        // Kestrel places one dial at a time, until Skype answers it: turned down here, so the
        // next hash key dials again.
        if (at >= 0) Notify("ERROR 91 the bench places no calls");
        Pump(20 + (i * 7) % 40); // not in step with the loop's passes
    }
    Lab("phone onhook");
    Pump(300);
    Distribution("digit_pickup", pickup);
    Distribution("hash_to_call", hash);
    Result("key_lost", lost);
}

// The hook: lifting the receiver on a ringing Skype call until "SET CALL n STATUS INPROGRESS",
// and replacing it until "SET CALL n STATUS FINISHED".
void HookLatency(const Options& o) {
    std::vector<double> answer, hangUp;
    int lost = 0;
    for (int i = 0; i < o.hookSamples; ++i) {
        const std::string id = std::to_string(700 + i);
        Notify("CALL " + id + " STATUS RINGING");
        Pump(30);
        size_t from = commands.size();
        double t0 = NowMs();
        Lab("phone offhook");
        double at = WaitForCommand(from, "SET CALL " + id + " STATUS INPROGRESS", 3000);
        if (at >= 0)
            answer.push_back(at - t0);
        else
            ++lost;
        Notify("CALL " + id + " STATUS INPROGRESS");
        Pump(30 + (i * 7) % 40);
        from = commands.size();
        t0 = NowMs();
        Lab("phone onhook");
        at = WaitForCommand(from, "SET CALL " + id + " STATUS FINISHED", 3000);
        if (at >= 0)
            hangUp.push_back(at - t0);
        else
            ++lost;
        Notify("CALL " + id + " STATUS FINISHED");
        Pump(50);
    }
    Distribution("offhook_to_answer", answer);
    Distribution("onhook_to_finished", hangUp);
    // Beyond the hook settle pause the phone makes before it reads the hook.
    Result("offhook_to_answer_p99_beyond_settle_ms", Percentile(answer, 99) - kHookSettleMs);
    Result("onhook_to_finished_p99_beyond_settle_ms", Percentile(hangUp, 99) - kHookSettleMs);
    Result("hook_lost", lost);
}

// Samples "phone ringing?" every ~20 ms through a few cycles of an incoming Skype call.
void RingCadence(const Options& o) {
    struct Edge {
        double atMs;
        bool on;
    };
    std::vector<Edge> edges;
    const double start = NowMs();
    Notify("CALL 900 STATUS RINGING");
    const double span = 4000.0 * (o.ringCycles + 1) + 600;
    bool last = false;
    while (NowMs() - start < span) {
        const double t = NowMs();
        const bool on = LabValue("phone ringing?") == 1;
        if (on != last) edges.push_back({t - start, on});
        last = on;
        Pump(20);
    }
    Notify("CALL 900 STATUS MISSED");
    Pump(200);
    if (LabValue("phone ringing?") != 0) Line("NOTE the telephone still rings after MISSED");

    std::vector<double> on, off;
    for (size_t i = 1; i < edges.size(); ++i) {
        const double d = edges[i].atMs - edges[i - 1].atMs;
        (edges[i - 1].on ? on : off).push_back(d);
    }
    if (edges.empty() || !edges[0].on) {
        Line("NOTE the telephone never rang");
        return;
    }
    auto mean = [](const std::vector<double>& v) {
        double sum = 0;
        for (double d : v)
            sum += d;
        return v.empty() ? -1 : sum / static_cast<double>(v.size());
    };
    Result("ring_first_on_ms", edges[0].atMs);
    Result("ring_on_n", static_cast<double>(on.size()));
    Result("ring_on_mean_ms", mean(on));
    Result("ring_on_min_ms", on.empty() ? -1 : *std::min_element(on.begin(), on.end()));
    Result("ring_on_max_ms", on.empty() ? -1 : *std::max_element(on.begin(), on.end()));
    Result("ring_off_n", static_cast<double>(off.size()));
    Result("ring_off_mean_ms", mean(off));
    Result("ring_off_min_ms", off.empty() ? -1 : *std::min_element(off.begin(), off.end()));
    Result("ring_off_max_ms", off.empty() ? -1 : *std::max_element(off.begin(), off.end()));
}

bool Fail(const char* why) {
    Line("NOTE %s", why);
    return false;
}

bool Run(const Options& o) {
    // Before Kestrel starts: what Wine's own processes and this one cost the server meanwhile,
    // so that the phases below can be read as Kestrel's share. The prefix's services come up
    // with this process, so they are given a moment first.
    Pump(3000);
    Line("MARK begin background");
    Pump(o.cpuSeconds * 1000.0);
    Line("MARK end background");

    // First without Skype: nothing to poll, nothing to talk to.
    if (!StartKestrel()) return Fail("cannot start Kestrel.exe in the current directory");
    if (!PumpUntil([] { return LabValue("opened?") == 1; }, 30000))
        return Fail("the lab device was not opened within 30 s");
    // The line chip's bring-up takes seconds of its own; then the first status polls.
    if (!Quiet(30000)) Line("NOTE the device requests did not settle after start-up");
    Pump(2000);
    Line("MEM start");
    IdlePhase("noskype", o);

    // Skype comes up: its announcement to every window makes Kestrel look for it. Should that go
    // unheard, Kestrel is started again with Skype already there.
    if (!CreateStandIn()) return Fail("cannot create the Skype stand-in windows (DISPLAY set?)");
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(HWND_BROADCAST, attachMsg, reinterpret_cast<WPARAM>(apiWnd), 0x8001,
                        SMTO_ABORTIFHUNG, 2000, &ignored);
    if (!PumpUntil([] { return client != nullptr; }, 10000)) {
        Line("NOTE no discovery after Skype's announcement; Kestrel started again");
        StopKestrel();
        if (!StartKestrel()) return Fail("cannot start Kestrel.exe again");
        if (!PumpUntil([] { return client != nullptr; }, 30000))
            return Fail("Kestrel sent no discovery within 30 s");
        if (!PumpUntil([] { return LabValue("opened?") == 1; }, 30000))
            return Fail("the lab device was not opened within 30 s");
    }
    Pump(3000);

    // Attach status 1: Skype waits for the user, so the bridge stays not ready.
    IdlePhase("notready", o);

    attachAnswer = 0;
    SendAttach(0);
    if (!WaitUntilPolling(10000)) return Fail("the bridge did not become ready within 10 s");
    Pump(2500); // the prompt device is chosen at the second ready poll
    IdlePhase("ready", o);

    KeyLatency(o);
    DialToneLatency(o);
    HookLatency(o); // o.hookSamples calls, answered and hung up
    Pump(2500);
    Line("MEM after_calls");
    RingCadence(o);
    return KestrelRunning() ? true : Fail("Kestrel ended during the run");
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        const int v = std::atoi(argv[i + 1]);
        if (v <= 0) continue;
        if (arg == "--cpu-seconds") o.cpuSeconds = static_cast<unsigned>(v);
        if (arg == "--key-samples") o.keySamples = v;
        if (arg == "--hook-samples") o.hookSamples = v;
        if (arg == "--ring-cycles") o.ringCycles = v;
        if (arg == "--tone-samples") o.toneSamples = v;
    }
    const bool ok = Run(o);
    StopKestrel();
    return ok ? 0 : 1;
}
