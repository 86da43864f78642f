// phonelab's side of the lab adapter: control commands to the adapter living inside a running
// Kestrel.exe, and the adapter's call log.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// Sends one control command to the lab adapter window of process pid (any process when pid is
// 0). Returns false with *error when there is no such window or it does not answer.
bool LabCommand(DWORD pid, const std::string& command, long* result, std::string* error);

class LabLog {
  public:
    // The file named by KESTREL_LAB_LOG (phonelab sets it for the processes it starts).
    void SetPath(const std::string& path) { m_path = path; }
    const std::string& Path() const { return m_path; }
    // The whole log as it is now ("" when it does not exist yet). Only what was appended
    // since the last read is read from the file: the log grows by hundreds of lines a second.
    const std::string& Read() const;
    size_t Size() const { return Read().size(); }
    // Lines before this point belong to an earlier run: reports leave them out.
    void Begin() { m_start = m_mark = Read().size(); }
    // Later searches look only behind this byte offset.
    void Mark() { m_mark = Read().size(); }
    size_t MarkOffset() const { return m_mark; }
    // Last n lines of this run, for failure reports.
    std::vector<std::string> Tail(size_t n) const;

  private:
    std::string m_path;
    mutable std::string m_cache;
    size_t m_start = 0;
    size_t m_mark = 0;
};
