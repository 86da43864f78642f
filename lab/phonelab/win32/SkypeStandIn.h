// The Skype desktop client as Kestrel sees it: a main window of Skype's class, an API window
// that answers discoveries with attach messages, records every command and sends
// notifications, and a small model of calls that answers commands the way Skype would.
#pragma once
#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

struct SkypeCommand {
    uint64_t atMs = 0;
    HWND from = nullptr;
    unsigned long cbData = 0;
    std::string bytes; // the cbData bytes exactly as received (capped)
    std::string text;  // up to the first zero byte
    bool terminated = false;
    bool denied = false;
    bool matched = false; // claimed by an "expect skype" step
    size_t soundAt = 0;   // size of the sound output when it arrived (see soundSize)
};

struct SkypeDiscovery {
    uint64_t atMs = 0;
    HWND client = nullptr;
    std::string className;
};

class SkypeStandIn {
  public:
    SkypeStandIn() = default;
    SkypeStandIn(const SkypeStandIn&) = delete;
    SkypeStandIn& operator=(const SkypeStandIn&) = delete;
    ~SkypeStandIn();

    bool Create(std::string* error);

    // Answers to successive discoveries; the last one repeats.
    void SetAttachSequence(const std::vector<long>& statuses);
    void Deny(long count) { m_denyLeft = count; }
    void SetAuto(bool on) { m_auto = on; }
    void SetTranscript(bool on) { m_transcript = on; }

    // Sends an attach message with this status now to the client that discovered last.
    bool SendAttach(long status, std::string* error);
    // Sends a notification to the attached client (cbData = length + 1).
    bool SendNotification(const std::string& text, std::string* error);
    // Sends what the handlers queued (attach answers, automatic call replies). Call it from the
    // top of the message loop only: sending from inside a handler would nest into Kestrel.
    void SendPending();
    bool HasPending() const { return !m_pending.empty(); }

    std::vector<SkypeCommand>& Commands() { return m_commands; }
    const std::vector<SkypeDiscovery>& Discoveries() const { return m_discoveries; }
    HWND AttachedClient() const { return m_attached; }
    HWND ApiWindow() const { return m_apiWnd; }

    // Called after an attach with status 0 has been handled by the client.
    std::function<void(HWND client)> onAttached;
    // Size of the sound output now, stamped on every command (unset: 0).
    std::function<size_t()> soundSize;

  private:
    struct Pending {
        bool attach = false;
        HWND client = nullptr;
        long status = 0;
        std::string text;
    };
    static LRESULT CALLBACK ApiProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT OnCopyData(HWND from, const COPYDATASTRUCT* cds);
    void OnDiscover(HWND client);
    void AutoReply(const std::string& text);
    void NoteStatus(const std::string& text);
    bool DoSendAttach(HWND client, long status, std::string* error);
    bool DoSendNotification(HWND client, const std::string& text, std::string* error);

    static SkypeStandIn* s_instance;
    UINT m_discoverMsg = 0;
    UINT m_attachMsg = 0;
    HWND m_mainWnd = nullptr;
    HWND m_apiWnd = nullptr;
    HWND m_attached = nullptr;
    std::vector<long> m_attachSequence{0};
    size_t m_discoveryCount = 0;
    long m_denyLeft = 0;
    bool m_auto = true;
    bool m_transcript = false;
    bool m_sending = false;
    int m_nextCallId = 101;
    std::set<std::string> m_ringingIn; // incoming calls announced RINGING, not yet taken
    std::set<std::string> m_outgoing; // calls that went out (ROUTING): their RINGING is the far end
    std::deque<Pending> m_pending;
    std::vector<SkypeCommand> m_commands;
    std::vector<SkypeDiscovery> m_discoveries;
};
