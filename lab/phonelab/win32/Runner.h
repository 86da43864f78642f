// Runs parsed scenario steps against Kestrel.exe: the Skype stand-in (on a thread of its own),
// the lab adapter's control channel and log, and the Kestrel processes. The runner's thread keeps
// pumping its own messages while it waits, so Kestrel's broadcasts never find it deaf.
#pragma once
#include "../Script.h"
#include "KestrelProcess.h"
#include "LabLink.h"
#include "ProcessSample.h"
#include "SkypeStandIn.h"
#include "SoundFile.h"

#include <atomic>
#include <functional>
#include <string>

class Runner {
  public:
    explicit Runner(bool transcript);
    bool Init(std::string* error);
    // Runs one step; on failure fills what was expected and what was seen instead.
    bool Run(const Step& step, std::string* expected, std::string* seen);
    // Everything worth seeing when a step fails.
    void PrintReport(const std::string& where, const Step& step, const std::string& expected,
                     const std::string& seen);
    // Ends the Kestrel processes that still run.
    void Cleanup();

  private:
    void Pump(unsigned ms);
    bool WaitFor(unsigned ms, const std::function<bool()>& condition);
    // -1 is the adapter's answer to an unknown command, but also a value of some queries
    // ("line?" before any line was chosen): expectations take it as a value.
    bool Lab(const std::string& command, long* result, std::string* error,
             bool minusOneIsValue = false);
    bool ReadySeen();
    KestrelInstance* Instance(const std::string& name, std::string* seen);
    std::string LastCommands(size_t n);
    bool SoundReady(std::string* expected, std::string* seen);
    std::string SoundSeen();
    bool PlayCallerId(const Step& step, std::string* expected, std::string* seen);
    bool ExpectCallerId(const Step& step, std::string* expected, std::string* seen);

    SkypeStandIn m_skype;
    KestrelProcesses m_kestrels;
    LabLog m_log;
    SoundFile m_sound;
    ProcessSampler m_sampler;
    size_t m_discoveriesTaken = 0;
    // Written by the stand-in's thread when a client attaches.
    // The client goes in last, so that whoever reads it finds the offset of its own attach.
    std::atomic<size_t> m_attachLogOffset{0};
    std::atomic<HWND> m_attachedClient{nullptr};
};
