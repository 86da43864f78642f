// GetProcessMemoryInfo from kernel32 itself (K32GetProcessMemoryInfo): no psapi to link.
#ifndef PSAPI_VERSION
#define PSAPI_VERSION 2
#endif
#include "ProcessSample.h"

#include "Output.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <cstddef>
#include <cstdio>
#include <vector>

namespace {

const char kCsvPath[] = "samples.csv";

void AppendCsv(const std::string& text, bool fresh) {
    if (FILE* f = std::fopen(kCsvPath, fresh ? "wb" : "ab")) {
        std::fputs(text.c_str(), f);
        std::fclose(f);
    }
}

// The handles of pid in the system's handle table (class 16 of NtQuerySystemInformation), or -1:
// for a system whose GetProcessHandleCount says 0 (Wine).
long long CountHandlesInSystemTable(DWORD pid) {
    struct Entry {
        USHORT pid;
        USHORT creatorBackTraceIndex;
        UCHAR type;
        UCHAR attributes;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    struct Table {
        ULONG count;
        Entry entries[1];
    };
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    static const Query query = reinterpret_cast<Query>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    const LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        ULONG needed = 0;
        const LONG status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == 0) break;
        if (status != kInfoLengthMismatch || buffer.size() >= (64u << 20)) return -1;
        buffer.resize(buffer.size() * 2);
    }
    const Table* table = reinterpret_cast<const Table*>(buffer.data());
    const size_t room = (buffer.size() - offsetof(Table, entries)) / sizeof(Entry);
    long long n = 0;
    for (ULONG i = 0; i < table->count && i < room; ++i)
        if (table->entries[i].pid == static_cast<USHORT>(pid)) ++n;
    return n;
}

} // namespace

Sample SampleProcess(HANDLE process, DWORD pid, uint64_t atMs, std::string notes[kSampleFigures]) {
    Sample s;
    s.atMs = atMs;
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                             sizeof memory)) {
        if (memory.PrivateUsage != 0) {
            s.value[kPrivateKB] = static_cast<long long>(memory.PrivateUsage / 1024);
            s.have[kPrivateKB] = true;
        } else if (memory.PagefileUsage != 0) {
            // The same commit charge on Windows; Wine leaves PrivateUsage 0 and gives its
            // resident anonymous memory here.
            s.value[kPrivateKB] = static_cast<long long>(memory.PagefileUsage / 1024);
            s.have[kPrivateKB] = true;
            notes[kPrivateKB] = "PagefileUsage: PrivateUsage is 0 here";
        }
    }
    if (!s.have[kPrivateKB]) notes[kPrivateKB] = "GetProcessMemoryInfo gave no usage";
    DWORD handles = 0;
    if (GetProcessHandleCount(process, &handles) && handles != 0) {
        s.value[kHandles] = handles;
        s.have[kHandles] = true;
    } else if ((s.value[kHandles] = CountHandlesInSystemTable(pid)) > 0) {
        s.have[kHandles] = true;
        notes[kHandles] = "system handle table: GetProcessHandleCount gives 0 here";
    } else {
        notes[kHandles] = "GetProcessHandleCount gives 0, no system handle table";
    }
    // A process with a dialog always owns some of both; 0 is the answer of a system that does
    // not count them (or of a failed call).
    const DWORD gdi = GetGuiResources(process, GR_GDIOBJECTS);
    const DWORD user = GetGuiResources(process, GR_USEROBJECTS);
    s.value[kGdiObjects] = gdi;
    s.have[kGdiObjects] = gdi != 0;
    if (!gdi) notes[kGdiObjects] = "GetGuiResources gives 0 here";
    s.value[kUserObjects] = user;
    s.have[kUserObjects] = user != 0;
    if (!user) notes[kUserObjects] = "GetGuiResources gives 0 here";

    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        THREADENTRY32 t = {};
        t.dwSize = sizeof t;
        long long threads = 0;
        for (BOOL more = Thread32First(snapshot, &t); more; more = Thread32Next(snapshot, &t))
            if (t.th32OwnerProcessID == pid) ++threads;
        CloseHandle(snapshot);
        s.value[kThreads] = threads;
        s.have[kThreads] = threads != 0;
    }
    if (!s.have[kThreads]) notes[kThreads] = "no threads in a Toolhelp snapshot";
    return s;
}

ProcessSampler::~ProcessSampler() {
    if (m_process) CloseHandle(m_process);
}

bool ProcessSampler::Start(DWORD pid, unsigned intervalMs, std::string* error) {
    if (m_process) CloseHandle(m_process);
    m_process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, pid);
    if (!m_process) {
        *error = "OpenProcess(" + std::to_string(pid) + ") failed with error " +
                 std::to_string(GetLastError());
        return false;
    }
    m_pid = pid;
    m_intervalMs = intervalMs;
    m_series = SampleSeries();
    AppendCsv(SampleCsvHeader(), true);
    Take();
    return true;
}

void ProcessSampler::Tick() {
    if (m_process && ElapsedMs() >= m_nextMs) Take();
}

bool ProcessSampler::SampleNow() {
    if (!m_process || WaitForSingleObject(m_process, 0) == WAIT_OBJECT_0) return false;
    Take();
    return true;
}

void ProcessSampler::Stop() {
    if (m_process) CloseHandle(m_process);
    m_process = nullptr;
}

void ProcessSampler::Take() {
    const uint64_t now = ElapsedMs();
    m_nextMs = now + m_intervalMs;
    // An ended process has no figures worth keeping; the series ends with its last sample.
    if (WaitForSingleObject(m_process, 0) == WAIT_OBJECT_0) return;
    std::string notes[kSampleFigures];
    const Sample s = SampleProcess(m_process, m_pid, now, notes);
    for (int f = 0; f < kSampleFigures; ++f)
        if (!notes[f].empty()) m_series.SetNote(f, notes[f]);
    m_series.Add(s);
    AppendCsv(SampleCsvLine(s), false);
}
