// The Skype desktop client as Kestrel sees it: a main window of Skype's class, an API window
// that answers discoveries with attach messages, records every command and sends
// notifications, and a small model of calls that answers commands the way Skype would.
//
// The windows live on a thread of their own, as a client's windows live in a process of their
// own: the scenario runner keeps going while the stand-in is busy or hangs (Hang), and Kestrel's
// sends to it are answered whatever the runner is doing. Every Skype message goes in or out on
// that thread; the runner asks for sends and reads the record through the calls below, from
// any thread.
#pragma once
#include <windows.h>

#include "../Script.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <functional>
#include <memory>
#include <mutex>
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

// What the stand-in says about an incoming call's partner when Kestrel asks "GET CALL <id>
// PARTNER_HANDLE" or "GET CALL <id> PARTNER_DISPNAME".
struct SkypePartner {
    std::string handle;
    std::string name; // "" for a partner without a display name
    PartnerReply reply = PartnerReply::Now;
    unsigned afterMs = 0; // PartnerReply::After
    std::string error;    // PartnerReply::Error: the whole reply instead of the value
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

    // Starts the stand-in's thread and makes its windows there.
    bool Create(std::string* error);

    // Answers to successive discoveries; the last one repeats.
    void SetAttachSequence(const std::vector<long>& statuses);
    void Deny(long count);
    void SetAuto(bool on);
    // The id the next outgoing call gets (CALL ... STATUS ROUTING); later ones count on.
    void SetNextCallId(long id);
    // Who rings on this call, for the replies to Kestrel's questions about it. A call without
    // one gets Skype's answer to an unknown call id.
    void SetPartner(const std::string& callId, const SkypePartner& partner);
    void SetTranscript(bool on) { m_transcript = on; }

    // Sends an attach message with this status now to the client that discovered last.
    bool SendAttach(long status, std::string* error);
    // Sends a notification to the attached client (cbData = length + 1); returns when the
    // client has answered it.
    bool SendNotification(const std::string& text, std::string* error);
    // The stand-in stops taking messages for ms, as a hung client does: whoever sends to its
    // windows waits. Returns at once.
    void Hang(unsigned ms);

    // The record, safe from any thread.
    std::vector<SkypeCommand> Commands();
    size_t CommandCount();
    // Marks the oldest command with this exact text that no step has claimed yet as claimed
    // and copies it to *found; false when there is none.
    bool Claim(const std::string& text, SkypeCommand* found);
    size_t DiscoveryCount();
    SkypeDiscovery Discovery(size_t index);
    HWND AttachedClient();

    // Called on the stand-in's thread after an attach with status 0 has been handled by the
    // client. Set before Create.
    std::function<void(HWND client)> onAttached;
    // Size of the sound output now, stamped on every command (unset: 0); called on the
    // stand-in's thread. Set before Create.
    std::function<size_t()> soundSize;

  private:
    struct Pending {
        bool attach = false;
        HWND client = nullptr;
        long status = 0;
        std::string text;
        uint64_t dueMs = 0; // a late reply: not before this moment (ElapsedMs)
    };
    struct Job {
        std::function<void()> work;
        HANDLE done = nullptr;
        ~Job() {
            if (done) CloseHandle(done);
        }
    };
    struct StartData {
        SkypeStandIn* self;
        HANDLE started;
        bool ok;
    };
    static DWORD WINAPI ThreadMain(LPVOID start);
    static LRESULT CALLBACK ApiProc(HWND, UINT, WPARAM, LPARAM);
    bool MakeWindows(std::string* error);
    void Loop();
    // Runs work on the stand-in's thread; waits (taking the caller's own messages meanwhile)
    // until it has run when wait is set.
    bool OnStandInThread(std::function<void()> work, bool wait);
    void RunJobs();
    // Sends what the handlers queued (attach answers, automatic call replies). Only from the
    // stand-in's loop and its jobs: sending from inside a handler would nest into Kestrel.
    void SendPending();
    LRESULT OnCopyData(HWND from, const COPYDATASTRUCT* cds);
    void OnDiscover(HWND client);
    void AutoReply(HWND client, const std::string& text);
    void NoteStatus(const std::string& text);
    // Moves the late replies that are due to m_pending; the ms until the next one (INFINITE
    // when none waits).
    DWORD ReleaseDue();
    bool DoSendAttach(HWND client, long status, std::string* error);
    bool DoSendNotification(HWND client, const std::string& text, std::string* error);

    static SkypeStandIn* s_instance;
    HANDLE m_thread = nullptr;
    DWORD m_threadId = 0;
    HANDLE m_wake = nullptr;
    std::string m_createError;
    std::atomic<bool> m_transcript{false};

    // Shared with the runner's thread, under m_mutex.
    std::mutex m_mutex;
    std::deque<std::shared_ptr<Job>> m_jobs;
    std::vector<SkypeCommand> m_commands;
    std::vector<SkypeDiscovery> m_discoveries;
    HWND m_attached = nullptr;
    std::vector<long> m_attachSequence{0};
    size_t m_discoveryCount = 0;
    long m_denyLeft = 0;
    bool m_auto = true;

    // The stand-in's thread only.
    UINT m_discoverMsg = 0;
    UINT m_attachMsg = 0;
    HWND m_mainWnd = nullptr;
    HWND m_apiWnd = nullptr;
    bool m_sending = false;
    int m_nextCallId = 101;
    std::set<std::string> m_ringingIn; // incoming calls announced RINGING, not yet taken
    std::set<std::string> m_outgoing; // calls that went out (ROUTING): their RINGING is the far end
    std::deque<Pending> m_pending;
    std::vector<Pending> m_late; // replies held back until their dueMs
    std::map<std::string, SkypePartner> m_partners;
};
