// Samples a process's resources while a scenario runs: private bytes, handles, GDI and USER
// objects and threads, every few seconds, into samples.csv of the current directory.
#pragma once
#include "../Samples.h"

#include <windows.h>

#include <cstdint>
#include <string>

// One look at the process. A figure the system does not give stays missing, with why in *notes
// (one per figure, e.g. "GetGuiResources gave 0"), so nothing pretends to have been measured.
Sample SampleProcess(HANDLE process, DWORD pid, uint64_t atMs, std::string notes[kSampleFigures]);

class ProcessSampler {
  public:
    ProcessSampler() = default;
    ProcessSampler(const ProcessSampler&) = delete;
    ProcessSampler& operator=(const ProcessSampler&) = delete;
    ~ProcessSampler();

    // Takes the first sample now; the series starts anew.
    bool Start(DWORD pid, unsigned intervalMs, std::string* error);
    bool Active() const { return m_process != nullptr; }
    DWORD Pid() const { return m_pid; }
    // Takes a sample when one is due; cheap otherwise.
    void Tick();
    // Takes a sample now (the end of a series); false once the process has ended.
    bool SampleNow();
    // Ends the series (it stays readable).
    void Stop();
    const SampleSeries& Series() const { return m_series; }

  private:
    void Take();

    HANDLE m_process = nullptr;
    DWORD m_pid = 0;
    unsigned m_intervalMs = 0;
    uint64_t m_nextMs = 0;
    SampleSeries m_series;
};
