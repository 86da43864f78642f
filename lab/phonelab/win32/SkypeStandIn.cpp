#include "SkypeStandIn.h"

#include "Output.h"

#include <cstring>
#include <sstream>
#include <utility>

namespace {

const char kMainClass[] = "tSkMainForm.UnicodeClass";
const char kApiClass[] = "PhonelabSkypeApi";
const char kClientPrefix[] = "Skype-API-Test-";
// Commands are short texts; keep a bounded copy of anything larger.
const unsigned long kMaxKept = 64 * 1024;
// Kestrel answers every notification at once; a send that takes this long means it hangs.
const UINT kSendTimeoutMs = 10000;

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    std::string w;
    while (in >> w)
        words.push_back(w);
    return words;
}

} // namespace

SkypeStandIn* SkypeStandIn::s_instance = nullptr;

SkypeStandIn::~SkypeStandIn() {
    if (m_thread) {
        PostThreadMessageA(m_threadId, WM_QUIT, 0, 0);
        // A hanging stand-in ends its hang first; the process ends soon after either way.
        WaitForSingleObject(m_thread, 2000);
        CloseHandle(m_thread);
    }
    if (m_wake) CloseHandle(m_wake);
    if (s_instance == this) s_instance = nullptr;
}

bool SkypeStandIn::Create(std::string* error) {
    s_instance = this;
    m_wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!m_wake || !started) {
        *error = "cannot make the stand-in's events";
        return false;
    }
    StartData start = {this, started, false};
    m_thread = CreateThread(nullptr, 0, ThreadMain, &start, 0, &m_threadId);
    if (!m_thread) {
        CloseHandle(started);
        *error = "cannot start the stand-in's thread";
        return false;
    }
    WaitForSingleObject(started, INFINITE);
    CloseHandle(started);
    if (!start.ok) {
        *error = m_createError;
        WaitForSingleObject(m_thread, INFINITE);
        CloseHandle(m_thread);
        m_thread = nullptr;
        return false;
    }
    return true;
}

DWORD WINAPI SkypeStandIn::ThreadMain(LPVOID param) {
    StartData* start = static_cast<StartData*>(param);
    SkypeStandIn* self = start->self;
    // The thread's message queue exists before anyone posts to it.
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    const bool ok = self->MakeWindows(&self->m_createError);
    start->ok = ok;
    SetEvent(start->started); // *start is gone from here on
    if (ok) self->Loop();
    return 0;
}

bool SkypeStandIn::MakeWindows(std::string* error) {
    m_discoverMsg = RegisterWindowMessageA("SkypeControlAPIDiscover");
    m_attachMsg = RegisterWindowMessageA("SkypeControlAPIAttach");
    HINSTANCE instance = GetModuleHandleA(nullptr);

    WNDCLASSA main = {};
    main.lpfnWndProc = DefWindowProcA;
    main.hInstance = instance;
    main.lpszClassName = kMainClass;
    WNDCLASSA api = {};
    api.lpfnWndProc = ApiProc;
    api.hInstance = instance;
    api.lpszClassName = kApiClass;
    if (!m_discoverMsg || !m_attachMsg || !RegisterClassA(&main) || !RegisterClassA(&api)) {
        *error = "cannot register the Skype messages or window classes (error " +
                 std::to_string(GetLastError()) + ")";
        return false;
    }
    // Both top-level (hidden): the discovery is a broadcast to top-level windows, and Kestrel
    // looks for Skype's main window by class.
    m_mainWnd = CreateWindowExA(0, kMainClass, "Skype", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 200, 100, nullptr, nullptr, instance, nullptr);
    m_apiWnd = CreateWindowExA(0, kApiClass, "", WS_OVERLAPPED, CW_USEDEFAULT, CW_USEDEFAULT, 100,
                               100, nullptr, nullptr, instance, nullptr);
    if (!m_mainWnd || !m_apiWnd) {
        *error = "cannot create the Skype windows (error " + std::to_string(GetLastError()) +
                 "); is DISPLAY set?";
        return false;
    }
    return true;
}

void SkypeStandIn::Loop() {
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                DestroyWindow(m_apiWnd);
                DestroyWindow(m_mainWnd);
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        // The client's answers to what Kestrel sent go out before the scenario's next text, as
        // a client answers at once.
        SendPending();
        RunJobs();
        const DWORD next = ReleaseDue();
        if (!m_pending.empty()) continue;
        MsgWaitForMultipleObjects(1, &m_wake, FALSE, next, QS_ALLINPUT);
    }
}

bool SkypeStandIn::OnStandInThread(std::function<void()> work, bool wait) {
    auto job = std::make_shared<Job>();
    job->work = std::move(work);
    if (wait) job->done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back(job);
    }
    SetEvent(m_wake);
    if (!wait) return true;
    return PumpUntilEvent(job->done, 120000);
}

void SkypeStandIn::RunJobs() {
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_jobs.empty()) return;
            job = m_jobs.front();
            m_jobs.pop_front();
        }
        job->work();
        SendPending(); // the answers to what Kestrel sent while the job ran
        if (job->done) SetEvent(job->done);
    }
}

void SkypeStandIn::SetAttachSequence(const std::vector<long>& statuses) {
    if (statuses.empty()) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_attachSequence = statuses;
    m_discoveryCount = 0;
}

void SkypeStandIn::Deny(long count) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_denyLeft = count;
}

void SkypeStandIn::SetAuto(bool on) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_auto = on;
}

void SkypeStandIn::SetNextCallId(long id) {
    OnStandInThread([this, id] { m_nextCallId = static_cast<int>(id); }, true);
}

void SkypeStandIn::SetPartner(const std::string& callId, const SkypePartner& partner) {
    OnStandInThread([this, callId, partner] { m_partners[callId] = partner; }, true);
}

DWORD SkypeStandIn::ReleaseDue() {
    const uint64_t now = ElapsedMs();
    uint64_t next = UINT64_MAX;
    for (size_t i = 0; i < m_late.size();) {
        if (m_late[i].dueMs <= now) {
            m_pending.push_back(m_late[i]);
            m_late.erase(m_late.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            if (m_late[i].dueMs < next) next = m_late[i].dueMs;
            ++i;
        }
    }
    return next == UINT64_MAX ? INFINITE : static_cast<DWORD>(next - now);
}

void SkypeStandIn::Hang(unsigned ms) {
    OnStandInThread([ms] { Sleep(ms); }, false);
}

std::vector<SkypeCommand> SkypeStandIn::Commands() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
}

size_t SkypeStandIn::CommandCount() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands.size();
}

bool SkypeStandIn::Claim(const std::string& text, SkypeCommand* found) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (SkypeCommand& c : m_commands)
        if (!c.matched && c.text == text) {
            c.matched = true;
            *found = c;
            return true;
        }
    return false;
}

size_t SkypeStandIn::DiscoveryCount() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_discoveries.size();
}

SkypeDiscovery SkypeStandIn::Discovery(size_t index) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return index < m_discoveries.size() ? m_discoveries[index] : SkypeDiscovery();
}

HWND SkypeStandIn::AttachedClient() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_attached;
}

LRESULT CALLBACK SkypeStandIn::ApiProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    SkypeStandIn* self = s_instance;
    if (self && wnd == self->m_apiWnd) {
        if (msg == WM_COPYDATA)
            return self->OnCopyData(reinterpret_cast<HWND>(wParam),
                                    reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        if (msg == self->m_discoverMsg && msg != 0) {
            self->OnDiscover(reinterpret_cast<HWND>(wParam));
            return TRUE;
        }
    }
    return DefWindowProcA(wnd, msg, wParam, lParam);
}

void SkypeStandIn::OnDiscover(HWND client) {
    SkypeDiscovery d;
    d.atMs = ElapsedMs();
    d.client = client;
    char name[256] = "";
    if (client && IsWindow(client)) GetClassNameA(client, name, sizeof name);
    d.className = name;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_discoveries.push_back(d);
    if (m_transcript) Say("Kestrel -> Skype: discover from " + Printable(d.className));
    if (!client || !IsWindow(client)) {
        Finding("discovery with no valid window in wParam");
        return;
    }
    if (d.className.compare(0, sizeof kClientPrefix - 1, kClientPrefix) != 0)
        Finding("discovery from a window of class \"" + Printable(d.className) +
                "\", not \"Skype-API-Test-...\"");
    const size_t at =
        m_discoveryCount < m_attachSequence.size() ? m_discoveryCount : m_attachSequence.size() - 1;
    ++m_discoveryCount;
    Pending p;
    p.attach = true;
    p.client = client;
    p.status = m_attachSequence[at];
    lock.unlock();
    m_pending.push_back(p);
}

LRESULT SkypeStandIn::OnCopyData(HWND from, const COPYDATASTRUCT* cds) {
    SkypeCommand c;
    c.atMs = ElapsedMs();
    c.from = from;
    if (soundSize) c.soundAt = soundSize();
    if (!cds) {
        Finding("WM_COPYDATA without a COPYDATASTRUCT");
        return FALSE;
    }
    c.cbData = cds->cbData;
    if (cds->cbData && !cds->lpData) {
        Finding("WM_COPYDATA with cbData " + std::to_string(cds->cbData) + " and no data");
    } else if (cds->cbData) {
        const unsigned long kept = cds->cbData < kMaxKept ? cds->cbData : kMaxKept;
        c.bytes.assign(static_cast<const char*>(cds->lpData), kept);
    }
    c.terminated = !c.bytes.empty() && c.bytes.back() == '\0' && c.bytes.size() == c.cbData;
    c.text = c.bytes.substr(0, c.bytes.find('\0'));
    if (!c.terminated)
        Finding("command \"" + Printable(c.bytes) + "\" (" + std::to_string(c.cbData) +
                " bytes) lacks its terminating zero");
    else if (c.text.size() + 1 != c.cbData)
        Finding("command \"" + Printable(c.bytes) + "\" has " + std::to_string(c.cbData) +
                " bytes, its text " + std::to_string(c.text.size()));
    std::unique_lock<std::mutex> lock(m_mutex);
    if (from != m_attached)
        Finding("command from a window that is not the attached client (wParam " +
                std::to_string(reinterpret_cast<uintptr_t>(from)) + ")");
    if (m_denyLeft > 0) {
        --m_denyLeft;
        c.denied = true;
    }
    if (m_transcript)
        Say("Kestrel -> Skype: " + Printable(c.text) + " (" + std::to_string(c.cbData) + " bytes)" +
            (c.denied ? " -- denied" : ""));
    m_commands.push_back(c);
    const bool reply = !c.denied && m_auto;
    const HWND client = m_attached;
    lock.unlock();
    if (c.denied) return FALSE;
    if (reply) AutoReply(client, c.text);
    return TRUE;
}

void SkypeStandIn::AutoReply(HWND client, const std::string& text) {
    const std::vector<std::string> w = Words(text);
    Pending p;
    p.client = client;
    if (w.size() == 2 && w[0] == "CALL") {
        p.text = "CALL " + std::to_string(m_nextCallId++) + " STATUS ROUTING";
    } else if (w.size() == 5 && w[0] == "SET" && w[1] == "CALL" && w[3] == "STATUS" &&
               (w[4] == "INPROGRESS" || w[4] == "FINISHED")) {
        // Skype reports an incoming call that is put down before it was taken as refused.
        const bool refused = w[4] == "FINISHED" && m_ringingIn.count(w[2]) != 0;
        p.text = "CALL " + w[2] + " STATUS " + (refused ? "REFUSED" : w[4]);
    } else if (w.size() == 4 && w[0] == "GET" && w[1] == "CALL" &&
               (w[3] == "PARTNER_HANDLE" || w[3] == "PARTNER_DISPNAME")) {
        const auto it = m_partners.find(w[2]);
        if (it == m_partners.end()) {
            p.text = "ERROR 11 Invalid call id";
        } else {
            const SkypePartner& partner = it->second;
            if (partner.reply == PartnerReply::Never) return;
            if (partner.reply == PartnerReply::Error) {
                p.text = partner.error;
            } else {
                // The value follows the property's name after one blank, even when it is empty.
                p.text = "CALL " + w[2] + " " + w[3] + " " +
                         (w[3] == "PARTNER_HANDLE" ? partner.handle : partner.name);
            }
            if (partner.reply == PartnerReply::After) {
                p.dueMs = ElapsedMs() + partner.afterMs;
                m_late.push_back(p);
                return;
            }
        }
    } else {
        return;
    }
    m_pending.push_back(p);
}

// Follows the calls that this stand-in announces: a call that rings here before any other
// status is an incoming one; any later status means it was taken, ended or went elsewhere.
void SkypeStandIn::NoteStatus(const std::string& text) {
    const std::vector<std::string> w = Words(text);
    if (w.size() != 4 || w[0] != "CALL" || w[2] != "STATUS") return;
    if (w[3] == "RINGING") {
        if (!m_outgoing.count(w[1])) m_ringingIn.insert(w[1]);
    } else {
        m_ringingIn.erase(w[1]);
        if (w[3] == "ROUTING") m_outgoing.insert(w[1]);
    }
}

void SkypeStandIn::SendPending() {
    if (m_sending) return;
    m_sending = true;
    while (!m_pending.empty()) {
        Pending p = m_pending.front();
        m_pending.pop_front();
        std::string error;
        bool ok = p.attach ? DoSendAttach(p.client, p.status, &error)
                           : DoSendNotification(p.client, p.text, &error);
        if (!ok) Finding(error);
    }
    m_sending = false;
}

bool SkypeStandIn::SendAttach(long status, std::string* error) {
    const HWND client = DiscoveryCount() ? Discovery(DiscoveryCount() - 1).client : nullptr;
    if (!client) {
        *error = "no client has sent a discovery yet";
        return false;
    }
    auto result = std::make_shared<std::pair<bool, std::string>>(false, "");
    if (!OnStandInThread(
            [this, result, client, status] {
                result->first = DoSendAttach(client, status, &result->second);
            },
            true)) {
        *error = "the Skype stand-in did not get to send the attach message";
        return false;
    }
    *error = result->second;
    return result->first;
}

bool SkypeStandIn::DoSendAttach(HWND client, long status, std::string* error) {
    if (m_transcript) Say("Skype -> Kestrel: attach " + std::to_string(status));
    // Sent, not posted: when it returns the client has taken the status in, which is what
    // "expect ready" measures from.
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(client, m_attachMsg, reinterpret_cast<WPARAM>(m_apiWnd),
                             static_cast<LPARAM>(status), SMTO_NORMAL, kSendTimeoutMs, &result)) {
        *error = "attach " + std::to_string(status) + " could not be delivered (error " +
                 std::to_string(GetLastError()) + ")";
        return false;
    }
    if (status == 0) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_attached = client;
        }
        if (onAttached) onAttached(client);
    }
    return true;
}

bool SkypeStandIn::SendNotification(const std::string& text, std::string* error) {
    const HWND client = AttachedClient();
    if (!client) {
        *error = "no client is attached";
        return false;
    }
    auto result = std::make_shared<std::pair<bool, std::string>>(false, "");
    if (!OnStandInThread(
            [this, result, client, text] {
                result->first = DoSendNotification(client, text, &result->second);
            },
            true)) {
        *error = "the Skype stand-in did not get to send \"" + Printable(text) + "\"";
        return false;
    }
    *error = result->second;
    return result->first;
}

bool SkypeStandIn::DoSendNotification(HWND client, const std::string& text, std::string* error) {
    if (!client) {
        *error = "no client is attached for \"" + Printable(text) + "\"";
        return false;
    }
    if (m_transcript) Say("Skype -> Kestrel: " + Printable(text));
    NoteStatus(text);
    std::vector<char> data(text.begin(), text.end());
    data.push_back('\0');
    COPYDATASTRUCT cds = {};
    cds.dwData = 0;
    cds.cbData = static_cast<DWORD>(data.size());
    cds.lpData = data.data();
    // While this waits, commands that Kestrel sends back are handled by ApiProc (a thread
    // blocked in SendMessage still takes incoming sent messages).
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(client, WM_COPYDATA, reinterpret_cast<WPARAM>(m_apiWnd),
                             reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, kSendTimeoutMs,
                             &result)) {
        *error = "notification \"" + Printable(text) + "\" not delivered (error " +
                 std::to_string(GetLastError()) + ")";
        return false;
    }
    if (result != TRUE)
        Finding("notification \"" + Printable(text) + "\" answered " + std::to_string(result) +
                ", not TRUE");
    return true;
}
