#include "SkypeStandIn.h"

#include "Output.h"

#include <cstring>
#include <sstream>

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
    if (m_apiWnd) DestroyWindow(m_apiWnd);
    if (m_mainWnd) DestroyWindow(m_mainWnd);
    if (s_instance == this) s_instance = nullptr;
}

bool SkypeStandIn::Create(std::string* error) {
    s_instance = this;
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

void SkypeStandIn::SetAttachSequence(const std::vector<long>& statuses) {
    if (statuses.empty()) return;
    m_attachSequence = statuses;
    m_discoveryCount = 0;
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
    if (c.denied) return FALSE;
    if (m_auto) AutoReply(c.text);
    return TRUE;
}

void SkypeStandIn::AutoReply(const std::string& text) {
    const std::vector<std::string> w = Words(text);
    Pending p;
    p.client = m_attached;
    if (w.size() == 2 && w[0] == "CALL") {
        p.text = "CALL " + std::to_string(m_nextCallId++) + " STATUS ROUTING";
    } else if (w.size() == 5 && w[0] == "SET" && w[1] == "CALL" && w[3] == "STATUS" &&
               (w[4] == "INPROGRESS" || w[4] == "FINISHED")) {
        // Skype reports an incoming call that is put down before it was taken as refused.
        const bool refused = w[4] == "FINISHED" && m_ringingIn.count(w[2]) != 0;
        p.text = "CALL " + w[2] + " STATUS " + (refused ? "REFUSED" : w[4]);
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
    if (m_discoveries.empty()) {
        *error = "no client has sent a discovery yet";
        return false;
    }
    return DoSendAttach(m_discoveries.back().client, status, error);
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
        m_attached = client;
        if (onAttached) onAttached(client);
    }
    return true;
}

bool SkypeStandIn::SendNotification(const std::string& text, std::string* error) {
    if (!m_attached) {
        *error = "no client is attached";
        return false;
    }
    return DoSendNotification(m_attached, text, error);
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
