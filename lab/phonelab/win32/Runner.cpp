#include "Runner.h"

#include "../CallerIdCheck.h"
#include "../LogText.h"
#include "../SoundText.h"
#include "FileTail.h"
#include "GuiSteps.h"
#include "Output.h"
#include "TrayShell.h"
#include "WavePlay.h"

#include "callerid/CallerIdSignal.h"

#include <cstdint>
#include <cstdio>
#include <optional>

namespace {

std::string Quote(const std::string& text) {
    return "\"" + Printable(text) + "\"";
}

std::string Seconds(unsigned ms) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%u.%03us", ms / 1000, ms % 1000);
    return buffer;
}

// Makes the folders above a relative file path ("wav\hi.wav" -> "wav").
void MakeParents(const std::string& path) {
    for (size_t at = path.find_first_of("/\\"); at != std::string::npos;
         at = path.find_first_of("/\\", at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
}

} // namespace

Runner::Runner(bool transcript) {
    m_skype.SetTranscript(transcript);
}

bool Runner::Init(std::string* error) {
    char path[MAX_PATH] = "";
    DWORD len = GetEnvironmentVariableA("KESTREL_LAB_LOG", path, sizeof path);
    if (len == 0 || len >= sizeof path) {
        // The adapter inside Kestrel reads the same variable: set it for the children.
        char dir[MAX_PATH] = "";
        GetCurrentDirectoryA(sizeof dir, dir);
        std::string fallback = std::string(dir) + "\\lab.log";
        SetEnvironmentVariableA("KESTREL_LAB_LOG", fallback.c_str());
        m_log.SetPath(fallback);
    } else {
        m_log.SetPath(path);
    }
    // Lines left by an earlier run are not this run's.
    m_log.Begin();
    m_sound.Init();
    m_skype.soundSize = [this] { return m_sound.Size(); };
    // On the stand-in's thread: the log's size from the file itself, not from the runner's
    // cache of it.
    m_skype.onAttached = [this](HWND client) {
        m_attachLogOffset = FileSize(m_log.Path());
        m_attachedClient = client;
    };
    return m_skype.Create(error);
}

void Runner::Pump(unsigned ms) {
    WaitFor(ms, [] { return false; });
}

bool Runner::WaitFor(unsigned ms, const std::function<bool()>& condition) {
    const uint64_t deadline = ElapsedMs() + ms;
    for (;;) {
        DispatchPendingMessages();
        m_sampler.Tick();
        if (condition()) return true;
        const uint64_t now = ElapsedMs();
        if (now >= deadline) return false;
        const DWORD slice = static_cast<DWORD>(deadline - now < 20 ? deadline - now : 20);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, slice, QS_ALLINPUT);
    }
}

bool Runner::Lab(const std::string& command, long* result, std::string* error,
                 bool minusOneIsValue) {
    // The adapter of the first Kestrel while it runs; otherwise whichever adapter is there.
    DWORD pid = 0;
    if (KestrelInstance* k = m_kestrels.Find("kestrel"))
        if (KestrelProcesses::Running(*k, nullptr)) pid = k->pid;
    if (!LabCommand(pid, command, result, error)) return false;
    if (*result == -1 && !minusOneIsValue) {
        *error = "the lab adapter does not know \"" + command + "\" (answered -1)";
        return false;
    }
    return true;
}

bool Runner::ReadySeen() {
    // Only the attach of the client that discovered last counts: after a restart the earlier
    // instance's attach and log offset would make a bridge that has not attached yet look ready.
    const HWND client = m_attachedClient;
    const size_t discoveries = m_skype.DiscoveryCount();
    if (!client || discoveries == 0 || m_skype.Discovery(discoveries - 1).client != client ||
        !IsWindow(client))
        return false;
    const std::string& log = m_log.Read();
    // Behind the log mark too, so that a scenario can wait for readiness again (a device
    // plugged back in) with "log mark" before the event.
    const size_t attachedAt = m_attachLogOffset;
    const size_t from = attachedAt > m_log.MarkOffset() ? attachedAt : m_log.MarkOffset();
    if (log.size() <= from) return false;
    // Inferred from the order of Kestrel's status poll (src/call/Timers.cpp, StatusPoll), which
    // says so there. The poll reads the line chip before it sets the bridge ready, and while it
    // updates the tray icon in between, Kestrel already takes sent messages: a notification sent on
    // the first read can still find the bridge not ready. A second read comes from the phone thread
    // (which polls only a ready bridge) or from the next poll; either way the first poll is over.
    int reads = 0;
    for (const std::string& line : SplitLines(log.substr(from)))
        if (IsLivenessRead(line) && ++reads == 2) return true;
    return false;
}

KestrelInstance* Runner::Instance(const std::string& name, std::string* seen) {
    KestrelInstance* k = m_kestrels.Find(name);
    if (!k) *seen = "'" + name + "' was never started";
    return k;
}

std::string Runner::LastCommands(size_t n) {
    const std::vector<SkypeCommand> all = m_skype.Commands();
    std::string out;
    const size_t from = all.size() > n ? all.size() - n : 0;
    for (size_t i = from; i < all.size(); ++i) {
        const SkypeCommand& c = all[i];
        char at[32];
        std::snprintf(at, sizeof at, "[%4u.%03u] ", static_cast<unsigned>(c.atMs / 1000),
                      static_cast<unsigned>(c.atMs % 1000));
        out += "    " + std::string(at) + Quote(c.bytes) + " cbData " + std::to_string(c.cbData) +
               (c.matched ? " (matched)" : "") + (c.denied ? " (denied)" : "") + "\n";
    }
    return out.empty() ? "    (none)\n" : out;
}

bool Runner::SoundReady(std::string* expected, std::string* seen) {
    if (m_sound.Configured()) return true;
    *expected = "a sound output file";
    *seen = "KESTREL_ALSA_OUT is not set (run the scenario through scripts/run-scenario)";
    return false;
}

std::string Runner::SoundSeen() {
    return std::to_string(m_sound.SoundingSinceMark(SIZE_MAX)) +
           " sounding bytes behind the mark (" + m_sound.Path() + ", " +
           std::to_string(m_sound.Size()) + " bytes, mark at " +
           std::to_string(m_sound.MarkOffset()) + ")";
}

bool Runner::Run(const Step& step, std::string* expected, std::string* seen) {
    std::string error;
    long value = 0;
    switch (step.kind) {
    case StepKind::Env:
        if (!SetEnvironmentVariableA(step.text.c_str(), step.text2.c_str())) {
            *expected = "the variable set";
            *seen = "error " + std::to_string(GetLastError());
            return false;
        }
        return true;

    case StepKind::Remove:
        if (!DeleteFileA(step.text.c_str())) {
            *expected = step.text + " deleted";
            *seen = "error " + std::to_string(GetLastError());
            return false;
        }
        return true;

    case StepKind::FileWrite: {
        MakeParents(step.text);
        HANDLE file = CreateFileA(step.text.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD wrote = 0;
        const bool ok = file != INVALID_HANDLE_VALUE &&
                        WriteFile(file, step.text2.data(), static_cast<DWORD>(step.text2.size()),
                                  &wrote, nullptr) &&
                        wrote == step.text2.size();
        const DWORD error = GetLastError();
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        if (!ok) {
            *expected = step.text + " written";
            *seen = "error " + std::to_string(error);
        }
        return ok;
    }

    case StepKind::FileCopy:
        MakeParents(step.text2);
        if (!CopyFileA(step.text.c_str(), step.text2.c_str(), FALSE)) {
            *expected = step.text + " copied to " + step.text2;
            *seen = "error " + std::to_string(GetLastError());
            return false;
        }
        return true;

    case StepKind::Attach: m_skype.SetAttachSequence(step.numbers); return true;

    case StepKind::SkypeAttach:
        if (!m_skype.SendAttach(step.number, &error)) {
            *expected = "attach sent";
            *seen = error;
            return false;
        }
        return true;

    case StepKind::Deny: m_skype.Deny(step.number); return true;

    case StepKind::Start:
        if (KestrelInstance* k = m_kestrels.Find(step.text))
            if (KestrelProcesses::Running(*k, nullptr)) {
                *expected = "no running instance named '" + step.text + "'";
                *seen = "pid " + std::to_string(k->pid) + " still runs";
                return false;
            }
        if (!m_kestrels.Start(step.text, step.text2, &error)) {
            *expected = "Kestrel.exe started";
            *seen = error;
            return false;
        }
        Say("started " + step.text + " (pid " + std::to_string(m_kestrels.Find(step.text)->pid) +
            ")");
        return true;

    case StepKind::ExpectDiscovery: {
        *expected =
            "a discovery from a window of class \"Skype-API-Test-...\" within " + Seconds(step.ms);
        const bool got =
            WaitFor(step.ms, [&] { return m_skype.DiscoveryCount() > m_discoveriesTaken; });
        if (!got) {
            *seen = "no discovery";
            return false;
        }
        const SkypeDiscovery d = m_skype.Discovery(m_discoveriesTaken++);
        if (d.className.compare(0, 15, "Skype-API-Test-") != 0 || d.className.size() != 51) {
            *expected = "class \"Skype-API-Test-\" + a 36-character UUID";
            *seen = "class " + Quote(d.className);
            return false;
        }
        return true;
    }

    case StepKind::ExpectReady: {
        *expected = "attached with status 0, then a status poll (two reads \"3 64 R slic[64]\" "
                    "in the lab log) within " +
                    Seconds(step.ms);
        if (!WaitFor(step.ms, [&] { return ReadySeen(); })) {
            const size_t n = m_skype.DiscoveryCount();
            const bool attached =
                n != 0 && m_attachedClient.load() == m_skype.Discovery(n - 1).client;
            *seen = attached ? "attached, but not two such reads since (and since the log mark)"
                             : "the client that discovered last has not attached with status 0";
            return false;
        }
        // A round trip to the client's thread as well, so that whatever handler it was in is
        // over before the next step talks to it.
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(m_skype.AttachedClient(), WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
        return true;
    }

    case StepKind::SkypeSend:
        if (step.texts.size() >= 2) { // a ring: who calls, for Kestrel's questions about it
            SkypePartner partner;
            partner.handle = step.texts[1];
            if (step.texts.size() >= 3) partner.name = step.texts[2];
            partner.reply = static_cast<PartnerReply>(step.number);
            partner.afterMs = step.ms;
            partner.error = step.text2;
            m_skype.SetPartner(step.texts[0], partner);
        }
        if (!m_skype.SendNotification(step.text, &error)) {
            *expected = "notification delivered";
            *seen = error;
            return false;
        }
        return true;

    case StepKind::SkypeAuto: m_skype.SetAuto(step.flag); return true;

    case StepKind::SkypeHang: m_skype.Hang(step.ms); return true;

    case StepKind::SkypeNextCall: m_skype.SetNextCallId(step.number); return true;

    case StepKind::ExpectSkype: {
        *expected = "command " + Quote(step.text) + " (" + std::to_string(step.text.size() + 1) +
                    " bytes with its terminating zero) within " + Seconds(step.ms);
        SkypeCommand claimed;
        const SkypeCommand* found = nullptr;
        if (WaitFor(step.ms, [&] { return m_skype.Claim(step.text, &claimed); })) found = &claimed;
        if (!found) {
            *seen = "no such command (see the last commands below)";
            return false;
        }
        const std::string exact = step.text + '\0';
        if (found->cbData != exact.size() || found->bytes != exact) {
            *seen = Quote(found->bytes) + " with cbData " + std::to_string(found->cbData);
            return false;
        }
        if (step.flag) {
            if (!SoundReady(expected, seen)) return false;
            const size_t before = m_sound.SoundingSinceMark(found->soundAt);
            if (before < kSoundingBytes) {
                *expected = "sound behind the mark before " + Quote(step.text);
                *seen = "the command came when " + std::to_string(before) +
                        " sounding bytes had been played; now " + SoundSeen();
                return false;
            }
        }
        return true;
    }

    case StepKind::ExpectNoSkype: {
        const size_t before = m_skype.CommandCount();
        Pump(step.ms);
        if (m_skype.CommandCount() != before) {
            *expected = "no command for " + Seconds(step.ms);
            *seen = "new command " + Quote(m_skype.Commands()[before].bytes);
            return false;
        }
        return true;
    }

    case StepKind::Lab:
        if (!Lab(step.text, &value, &error)) {
            *expected = "lab command " + Quote(step.text) + " accepted";
            *seen = error;
            return false;
        }
        Say("  lab " + Quote(step.text) + " = " + std::to_string(value));
        return true;

    case StepKind::PhoneDial:
        for (size_t i = 0; i < step.text.size(); ++i) {
            if (i) Pump(100); // a person's pace between keys
            const std::string command = std::string("phone dtmf ") + step.text[i];
            if (!Lab(command, &value, &error)) {
                *expected = "lab command " + Quote(command) + " accepted";
                *seen = error;
                return false;
            }
        }
        return true;

    case StepKind::ExpectLab: {
        const bool atLeast = step.text2 == ">=";
        *expected = Quote(step.text) +
                    (step.flag ? " != "
                     : atLeast ? " >= "
                               : " = ") +
                    std::to_string(step.number) + (step.stay ? " throughout " : " within ") +
                    Seconds(step.ms);
        long last = 0;
        bool answered = true;
        auto holds = [&] {
            answered = Lab(step.text, &last, &error, true);
            return answered && (atLeast ? last >= step.number : (last == step.number) != step.flag);
        };
        bool ok;
        if (step.stay) {
            // Asked again and again for the whole time; the first other answer ends it.
            ok = !WaitFor(step.ms, [&] { return !holds(); }) && holds();
        } else {
            ok = WaitFor(step.ms, [&] { return holds() || !answered; }) && answered;
        }
        if (!ok)
            *seen = !answered    ? error
                    : last == -1 ? "last answer -1 (also the answer to an unknown command)"
                                 : "last answer " + std::to_string(last);
        return ok;
    }

    case StepKind::ExpectPhone: {
        const long want = step.flag ? 1 : 0;
        const char* name = step.flag ? "ringing" : "silent";
        bool failed = false;
        long last = 0;
        auto read = [&] {
            if (!Lab("phone ringing?", &last, &error)) failed = true;
            return failed;
        };
        if (step.stay) {
            *expected = std::string("the phone ") + name + " for " + Seconds(step.ms);
            WaitFor(step.ms, [&] { return read() || last != want; });
            if (failed || last != want) {
                *seen = failed ? error : std::string("it was not ") + name;
                return false;
            }
            return true;
        }
        *expected = std::string("the phone ") + name + " within " + Seconds(step.ms);
        WaitFor(step.ms, [&] { return read() || last == want; });
        if (failed || last != want) {
            *seen = failed ? error : "phone ringing? = " + std::to_string(last);
            return false;
        }
        return true;
    }

    case StepKind::ExpectLog: {
        auto present = [&] {
            const std::string& log = m_log.Read();
            return log.size() > m_log.MarkOffset() &&
                   log.find(step.text, m_log.MarkOffset()) != std::string::npos;
        };
        if (step.flag) {
            *expected = "no " + Quote(step.text) + " in the lab log" +
                        (step.ms ? " for " + Seconds(step.ms) : "");
            if (WaitFor(step.ms, present)) {
                *seen = "it is there";
                return false;
            }
            return true;
        }
        *expected = Quote(step.text) + " in the lab log within " + Seconds(step.ms);
        if (!WaitFor(step.ms, present)) {
            *seen = "not there (" + m_log.Path() + ")";
            return false;
        }
        return true;
    }

    case StepKind::ExpectLogOrder: {
        *expected = "in the lab log in this order:";
        for (const std::string& t : step.texts)
            *expected += " " + Quote(t);
        size_t reached = 0;
        WaitFor(step.ms, [&] {
            const std::string& log = m_log.Read();
            reached = CountInOrder(log, m_log.MarkOffset(), step.texts);
            return reached == step.texts.size();
        });
        if (reached != step.texts.size()) {
            *seen = reached == 0 ? "not even " + Quote(step.texts[0])
                                 : "the order breaks at " + Quote(step.texts[reached]);
            return false;
        }
        return true;
    }

    case StepKind::ExpectNoLogFrom: {
        KestrelInstance* k = Instance(step.text, seen);
        *expected = "no lab log line from " + step.text;
        if (!k) return false;
        const std::string& log = m_log.Read();
        std::string line;
        if (LogShowsProcess(
                log.substr(m_log.MarkOffset() < log.size() ? m_log.MarkOffset() : log.size()),
                k->pid, &line)) {
            *seen = Quote(line) + " (" + step.text + " is pid " + std::to_string(k->pid) + ")";
            return false;
        }
        return true;
    }

    case StepKind::LogMark: m_log.Mark(); return true;

    case StepKind::SoundMark:
        if (!SoundReady(expected, seen)) return false;
        m_sound.Mark();
        return true;

    case StepKind::ExpectSound: {
        if (!SoundReady(expected, seen)) return false;
        auto heard = [&] { return m_sound.SoundingSinceMark(SIZE_MAX) >= kSoundingBytes; };
        if (step.flag) {
            *expected = "no sound behind the mark for " + Seconds(step.ms);
            if (WaitFor(step.ms, heard)) {
                *seen = SoundSeen();
                return false;
            }
            return true;
        }
        *expected = "sound (" + std::to_string(kSoundingBytes) +
                    " sounding bytes) behind the mark within " + Seconds(step.ms);
        if (!WaitFor(step.ms, heard)) {
            *seen = SoundSeen();
            return false;
        }
        return true;
    }

    case StepKind::ExpectMessageBox: {
        *expected =
            "a message box of Kestrel saying " + Quote(step.text) + " within " + Seconds(step.ms);
        std::vector<ShownBox> boxes;
        const bool got = WaitFor(step.ms, [&] {
            boxes = FindMessageBoxes(m_kestrels.Pids());
            for (const ShownBox& b : boxes)
                for (const std::string& t : b.texts)
                    if (t == step.text) return true;
            return false;
        });
        if (!got) {
            *seen = boxes.empty() ? "no message box" : "";
            for (const ShownBox& b : boxes) {
                *seen += "box " + Quote(b.caption) + ":";
                for (const std::string& t : b.texts)
                    *seen += " " + Quote(t);
                *seen += "; ";
            }
            return false;
        }
        return true;
    }

    case StepKind::DismissMessageBox: {
        std::vector<ShownBox> boxes = FindMessageBoxes(m_kestrels.Pids());
        if (boxes.empty() || !DismissBox(boxes.front())) {
            *expected = "a message box to dismiss";
            *seen = boxes.empty() ? "none shown" : "it has no button";
            return false;
        }
        return true;
    }

    case StepKind::KestrelKey:
    case StepKind::KestrelClose:
    case StepKind::KestrelTray: {
        KestrelInstance* k = Instance(step.text, seen);
        *expected = "the main dialog of " + step.text;
        if (!k) return false;
        HWND dlg = FindMainDialog(k->pid);
        if (!dlg) {
            *seen = "no dialog titled \"" + std::string(kMainTitle) + "\" in pid " +
                    std::to_string(k->pid);
            return false;
        }
        if (step.kind == StepKind::KestrelKey)
            PostKeyPress(dlg, static_cast<UINT>(step.number));
        else if (step.kind == StepKind::KestrelClose)
            PostMessageA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
        else
            PostMessageA(dlg, 0x1409, 0, static_cast<LPARAM>(step.number)); // tray callback
        return true;
    }

    case StepKind::ExpectExit: {
        KestrelInstance* k = Instance(step.text, seen);
        *expected = step.text + " exits with " +
                    (step.flag ? std::string("any code") : "code " + std::to_string(step.number)) +
                    " within " + Seconds(step.ms);
        if (!k) return false;
        DWORD code = 0;
        if (!WaitFor(step.ms, [&] { return !KestrelProcesses::Running(*k, &code); })) {
            *seen = "still running";
            return false;
        }
        if (!step.flag && static_cast<long>(static_cast<int>(code)) != step.number) {
            *seen = "exit code " + std::to_string(static_cast<int>(code));
            return false;
        }
        return true;
    }

    case StepKind::ExpectRunning: {
        KestrelInstance* k = Instance(step.text, seen);
        *expected = step.text + " running";
        if (!k) return false;
        DWORD code = 0;
        if (!KestrelProcesses::Running(*k, &code)) {
            *seen = "exited with code " + std::to_string(static_cast<int>(code));
            return false;
        }
        return true;
    }

    case StepKind::ExpectWindows: {
        const int n = CountDialogs(step.text);
        if (n != step.number) {
            *expected = std::to_string(step.number) + " dialog(s) titled " + Quote(step.text);
            *seen = std::to_string(n);
            return false;
        }
        return true;
    }

    case StepKind::Wait: Pump(step.ms); return true;

    case StepKind::Transcript: m_skype.SetTranscript(step.flag); return true;

    case StepKind::Say: Say("# " + step.text); return true;

    case StepKind::ExplorerRestart: {
        const int forgotten = ForgetTrayIcons(m_kestrels.Pids());
        Say("  the notification area forgot " + std::to_string(forgotten) + " icon(s)");
        if (!BroadcastTaskbarCreated(&error)) {
            *expected = "\"TaskbarCreated\" broadcast";
            *seen = error;
            return false;
        }
        return true;
    }

    case StepKind::ExpectTrayIcons: {
        *expected = std::to_string(step.number) + " icon(s) in the notification area within " +
                    Seconds(step.ms);
        size_t shown = 0;
        if (WaitFor(step.ms, [&] {
                shown = LookAtTray().icons.size();
                return shown == static_cast<size_t>(step.number);
            }))
            return true;
        *seen = std::to_string(shown);
        return false;
    }

    case StepKind::TrayClick: {
        const TrayView tray = LookAtTray();
        if (tray.icons.empty() || !ClickTrayIcon(tray.icons.front(), step.number)) {
            *expected = "an icon in the notification area to press";
            *seen = tray.icons.empty() ? "none shown" : "the press could not be posted";
            return false;
        }
        return true;
    }

    case StepKind::SampleStart: {
        KestrelInstance* k = Instance(step.text, seen);
        *expected = step.text + " sampled every " + Seconds(step.ms);
        if (!k) return false;
        // Already at it: a step inside a repeat starts the series once.
        if (m_sampler.Active() && m_sampler.Pid() == k->pid) return true;
        if (!m_sampler.Start(k->pid, step.ms, &error)) {
            *seen = error;
            return false;
        }
        return true;
    }

    case StepKind::ExpectFlat: {
        *expected = "the sampled figures no more than the allowance above their first sample";
        if (!m_sampler.SampleNow()) {
            *seen = m_sampler.Active() ? "the process has ended" : "no \"sample\" step before";
            return false;
        }
        // That sample ends the series: what the process does after it (an exit) is no growth.
        m_sampler.Stop();
        std::string table;
        const bool flat = m_sampler.Series().Flat(step.numbers, &table);
        // For reports made after the run, whatever the verdict.
        if (FILE* f = std::fopen("samples.txt", "wb")) {
            std::fputs(table.c_str(), f);
            std::fclose(f);
        }
        for (const std::string& line : SplitLines(table))
            Say("  " + line);
        if (!flat) *seen = "growth beyond the allowance (samples.txt, samples.csv)";
        return flat;
    }

    case StepKind::PlayCallerId: return PlayCallerId(step, expected, seen);

    case StepKind::ExpectCallerId: return ExpectCallerId(step, expected, seen);

    case StepKind::Gui:
        return RunGuiStep(
            *step.gui, m_kestrels.Pids(),
            [this](unsigned ms, const std::function<bool()>& condition) {
                return WaitFor(ms, condition);
            },
            expected, seen);
    }
    *expected = "a known step";
    *seen = "an unknown one";
    return false;
}

bool Runner::PlayCallerId(const Step& step, std::string* expected, std::string* seen) {
    // As Skype would have answered: a partner without a display name has an empty one.
    std::optional<std::string> handle, name;
    if (!step.texts.empty()) {
        handle = step.texts[0];
        name = step.texts.size() >= 2 ? step.texts[1] : std::string();
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    const CallTime time{now.wMonth, now.wDay, now.wHour, now.wMinute};
    const CallerIdSignal signal =
        MakeCallerIdSignal(ParseCallerIdStandard(step.text), WhoIsCalling(handle, name), &time);
    *expected = "the caller ID played through the wave device";
    std::string error;
    if (!PlayPcm8k(
            signal.pcm,
            [this](unsigned ms, const std::function<bool()>& done) { return WaitFor(ms, done); },
            &error)) {
        *seen = error;
        return false;
    }
    Say("  played " + std::to_string(signal.durationMs) + " ms of " + step.text);
    return true;
}

bool Runner::ExpectCallerId(const Step& step, std::string* expected, std::string* seen) {
    if (!SoundReady(expected, seen)) return false;
    *expected = "caller-ID sound behind the mark, ended, within " + Seconds(step.ms) +
                (step.flag ? ", all of it while the line feed was in on-hook transmission" : "");
    // The capture file grows in bursts and faster than real time (Wine hands the file plugin
    // whole buffers): the sound has ended when the file has stopped growing for a while.
    const unsigned kQuietMs = 600;
    const uint64_t deadline = ElapsedMs() + step.ms;
    size_t lastSize = m_sound.Size();
    uint64_t grewAt = ElapsedMs();
    const bool ended = WaitFor(step.ms, [&] {
        const size_t size = m_sound.Size();
        if (size != lastSize) {
            lastSize = size;
            grewAt = ElapsedMs();
        }
        return m_sound.SoundingSinceMark(size) >= kSoundingBytes &&
               ElapsedMs() - grewAt >= kQuietMs;
    });
    if (!ended) {
        *seen = m_sound.SoundingSinceMark(SIZE_MAX) < kSoundingBytes ? SoundSeen()
                                                                     : "the sound had not ended";
        return false;
    }
    if (step.flag) {
        // The lab adapter stamps the capture file's size on every line-feed change: the sound
        // must lie between the stamps of the latest on-hook transmission.
        const std::string bytes = m_sound.SinceMark();
        size_t first = bytes.size(), last = 0;
        for (size_t i = 0; i < bytes.size(); ++i)
            if (bytes[i] != '\0' && static_cast<unsigned char>(bytes[i]) != 0x80) {
                if (first == bytes.size()) first = i;
                last = i;
            }
        first += m_sound.MarkOffset();
        last += m_sound.MarkOffset();
        long begin = -2, end = -2;
        std::string error;
        const unsigned left =
            static_cast<unsigned>(deadline > ElapsedMs() ? deadline - ElapsedMs() : 0);
        // Back from on-hook transmission once the data's real time has passed.
        WaitFor(left, [&] {
            return !Lab("linefeed sound onhook-transmission begin", &begin, &error) ||
                   !Lab("linefeed sound onhook-transmission end", &end, &error) || end != -2;
        });
        if (!error.empty()) {
            *seen = error;
            return false;
        }
        const std::string span = "capture bytes " + std::to_string(first) + " to " +
                                 std::to_string(last) + " sound; the latest on-hook " +
                                 "transmission spans " + std::to_string(begin) + " to " +
                                 std::to_string(end) + " (-2: none, or still going)";
        if (begin < 0 || end < 0 || static_cast<size_t>(begin) > first ||
            static_cast<size_t>(end) <= last) {
            *seen = span;
            return false;
        }
        Say("  " + span);
    }
    const std::string sound = m_sound.SinceMark();
    const std::string file = CallerIdSoundFile(step);
    const std::string line = CallerIdCheckLine(step);
    bool saved = false;
    if (FILE* f = std::fopen(file.c_str(), "wb")) {
        saved = std::fwrite(sound.data(), 1, sound.size(), f) == sound.size();
        saved = std::fclose(f) == 0 && saved;
    }
    if (FILE* f = saved ? std::fopen(kCallerIdChecksFile, "ab") : nullptr) {
        saved = std::fputs(line.c_str(), f) >= 0;
        saved = std::fclose(f) == 0 && saved;
    }
    if (!saved) {
        *seen = "could not save the sound to " + file + " and its check to " + kCallerIdChecksFile;
        return false;
    }
    Say("  " + std::to_string(sound.size()) + " bytes saved to " + file +
        ", decoded after the run");
    return true;
}

void Runner::PrintReport(const std::string& where, const Step& step, const std::string& expected,
                         const std::string& seen) {
    std::string out;
    out += "FAILED at " + where + ": " + step.source + "\n";
    out += "  expected: " + expected + "\n";
    out += "  seen:     " + seen + "\n";
    out += "  last commands from Kestrel:\n" + LastCommands(8);
    out += "  lab log (" + m_log.Path() + "), last lines:\n";
    std::vector<std::string> tail = m_log.Tail(12);
    if (tail.empty()) out += "    (empty or missing)\n";
    for (const std::string& line : tail)
        out += "    " + Printable(line) + "\n";
    out += "  Kestrel: " + m_kestrels.Describe() + "\n";
    for (const ShownBox& b : FindMessageBoxes(m_kestrels.Pids())) {
        out += "  message box " + Quote(b.caption) + ":";
        for (const std::string& t : b.texts)
            out += " " + Quote(t);
        out += "\n";
    }
    std::fputs(out.c_str(), stdout);
    std::fflush(stdout);
    // The figures so far, unchecked, for a report made after a run that failed on the way.
    if (m_sampler.Active()) {
        m_sampler.Stop();
        std::string table;
        m_sampler.Series().Flat({}, &table);
        if (FILE* f = std::fopen("samples.txt", "wb")) {
            std::fputs(("(the run failed at " + where + " before its check)\n" + table).c_str(), f);
            std::fclose(f);
        }
    }
}

void Runner::Cleanup() {
    const int ended = m_kestrels.TerminateAll();
    if (ended) Say("ended " + std::to_string(ended) + " Kestrel process(es) that still ran");
}
