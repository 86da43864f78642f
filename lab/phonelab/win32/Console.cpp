#include "Console.h"

#include "../Script.h"
#include "../SoundText.h"
#include "LabLink.h"
#include "Output.h"
#include "Runner.h"
#include "SoundFile.h"

#include <windows.h>

#include <cstdio>
#include <deque>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

const char kHelp[] =
    "The telephone:\n"
    "  lift | replace            the receiver (phone offhook | phone onhook)\n"
    "  dial <keys>               keys on the telephone, e.g. dial 12345# (a Skype call goes\n"
    "                            out at #; one or two digits are speed-dial numbers)\n"
    "  status                    what the telephone hears, whether it rings, the receiver,\n"
    "                            the line it is switched to, the adapter\n"
    "Skype (the stand-in answers Kestrel's commands by itself: skype auto on):\n"
    "  incoming [<user>] [name \"<name>\"] [reply after <d>|never|error \"<text>\"]\n"
    "                            a Skype call comes in (skype ring <id> from <user> ...);\n"
    "                            Kestrel's questions about the caller get the user and name,\n"
    "                            at once, late, never or as that error\n"
    "  hangup                    the far end of the last Skype call hangs up\n"
    "  skype status <id> <STATUS>   skype send \"<text>\"   skype auto on|off\n"
    "The adapter and the PSTN line:\n"
    "  pstn ring on|off          the PSTN line rings / stops ringing (Auto mode switches\n"
    "                            the telephone to it)\n"
    "  pstn line busy|idle       unplug | plug\n"
    "  product <id>              the adapter of the next start kestrel, e.g. product 0x831C\n"
    "Caller ID:\n"
    "  write callerid.ini \"standard=Bell202\\n\"   before start kestrel (or EtsiFsk, Dtmf, Off)\n"
    "  sound mark                then, after a call came in:\n"
    "  expect callerid fsk \"<number>\" \"<name>\" within 5s   (or private / unavailable;\n"
    "                            expect callerid dtmf \"A<number>C\" within 5s): the sound is\n"
    "                            saved and decoded when phonelab ends\n"
    "  expect phone linefeed onhook-transmission within 1s   lab \"linefeed last active\"\n"
    "  play callerid bell202|etsi|dtmf from <user> [name \"<name>\"]   phonelab plays it\n"
    "Kestrel:\n"
    "  start kestrel             expect ready within 10s        kestrel key escape\n"
    "  kestrel tray left|right   expect kestrel exit any within 10s\n"
    "Any step of a scenario works too (lab/phonelab/Script.h, lab/scenarios/*.scn).\n"
    "  help                      this text\n"
    "  quit                      end Kestrel and phonelab\n";

// Lines typed by the person, read on a thread of their own so the main thread keeps answering
// Kestrel's messages while nobody types.
class StdinLines {
  public:
    StdinLines() : m_ready(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        std::thread([this] {
            std::string line;
            bool more = true;
            while (more) {
                more = static_cast<bool>(std::getline(std::cin, line));
                std::lock_guard<std::mutex> lock(m_mutex);
                if (more)
                    m_lines.push_back(line);
                else
                    m_eof = true;
                SetEvent(m_ready);
            }
        }).detach();
    }
    HANDLE Event() const { return m_ready; }
    // Takes the next line; false when none is waiting (*eof tells whether more can come).
    bool Take(std::string* line, bool* eof) {
        std::lock_guard<std::mutex> lock(m_mutex);
        *eof = m_eof && m_lines.empty();
        if (m_lines.empty()) {
            ResetEvent(m_ready);
            return false;
        }
        *line = m_lines.front();
        m_lines.pop_front();
        return true;
    }

  private:
    HANDLE m_ready;
    std::mutex m_mutex;
    std::deque<std::string> m_lines;
    bool m_eof = false;
};

class Console {
  public:
    explicit Console(bool transcript) : m_runner(transcript) {}

    bool Init() {
        std::string error;
        if (!m_runner.Init(&error)) {
            std::printf("phonelab: %s\n", error.c_str());
            return false;
        }
        m_sound.Init();
        return true;
    }

    // Runs one typed line; false once the person asked to quit.
    bool Line(const std::string& typed) {
        std::istringstream words(typed);
        std::string verb, rest;
        words >> verb;
        std::getline(words, rest);
        rest.erase(0, rest.find_first_not_of(" \t"));
        while (!rest.empty() && (rest.back() == '\r' || rest.back() == ' '))
            rest.pop_back();
        if (verb == "quit" || verb == "exit") return false;
        if (verb == "help" || verb == "?") {
            std::fputs(kHelp, stdout);
        } else if (verb == "status") {
            Status();
        } else if (verb == "lift") {
            Step("phone offhook");
        } else if (verb == "replace") {
            Step("phone onhook");
        } else if (verb == "dial" && !rest.empty()) {
            Step("phone dial " + rest);
        } else if (verb == "incoming") {
            m_lastCall = std::to_string(m_nextCall++);
            Step("skype ring " + m_lastCall + " from " + (rest.empty() ? "alice" : rest));
        } else if (verb == "hangup") {
            if (m_lastCall.empty())
                Say("no Skype call yet (incoming starts one)");
            else
                Step("skype status " + m_lastCall + " FINISHED");
        } else {
            Step(typed);
        }
        std::fflush(stdout);
        return true;
    }

    // A line of the scenario language.
    bool Step(const std::string& line) {
        ::Step step;
        bool empty = false;
        std::string error;
        if (!m_parser.ParseLine(line, ++m_lineNo, &step, &empty, &error)) {
            Say("?? " + error + " (help lists what works)");
            ++m_failures;
            return false;
        }
        if (empty) return true;
        std::string expected, seen;
        if (!m_runner.Run(step, &expected, &seen)) {
            m_runner.PrintReport("line " + std::to_string(m_lineNo), step, expected, seen);
            ++m_failures;
            return false;
        }
        if (step.kind == StepKind::Start) m_started = true;
        if (step.kind != StepKind::Say) Say("ok: " + line);
        return true;
    }

    // Kestrel's own way out, if it still runs: it lets go of the adapter and ends.
    int Failures() const { return m_failures; }

    void End() {
        ScriptParser parser;
        for (const char* line : {"kestrel key escape", "expect kestrel exit any within 10s"}) {
            ::Step step;
            bool empty = false;
            std::string error, expected, seen;
            if (!m_started || !parser.ParseLine(line, 0, &step, &empty, &error) ||
                !m_runner.Run(step, &expected, &seen))
                break;
        }
        m_runner.Cleanup();
    }

    void Status() {
        long hook = 0, ringing = 0, tone = 0, line = 0, plugged = 0, feed = 0;
        std::string error;
        if (!LabCommand(0, "phone hook?", &hook, &error) ||
            !LabCommand(0, "phone ringing?", &ringing, &error) ||
            !LabCommand(0, "phone tone?", &tone, &error) ||
            !LabCommand(0, "line?", &line, &error) ||
            !LabCommand(0, "plugged?", &plugged, &error) ||
            !LabCommand(0, "phone linefeed?", &feed, &error)) {
            Say("no lab adapter answers (is Kestrel running? start kestrel): " + error);
            ++m_failures;
            return;
        }
        std::string hears = "nothing";
        if (m_sound.Configured()) {
            // What Kestrel plays (dial tone, prompts, playbacks) in the next third of a second.
            m_sound.Mark();
            PumpUntilEvent(m_idle, 300);
            if (m_sound.SoundingSinceMark(m_sound.Size()) >= kSoundingBytes / 4)
                hears = "sound from the computer (dial tone, a prompt or a playback)";
        } else {
            hears = "(not measured: KESTREL_ALSA_OUT is not set)";
        }
        if (tone > 0)
            hears += "; the adapter's tone " + std::to_string(tone / 10000) + "+" +
                     std::to_string(tone % 10000) + " Hz";
        Say(std::string("telephone: receiver ") + (hook == 1 ? "lifted" : "down") + ", " +
            (ringing == 1 ? "RINGING" : "not ringing") + ", hears " + hears);
        Say(std::string("line: ") +
            (line == 0   ? "PSTN"
             : line == 1 ? "computer"
                         : "none chosen yet") +
            "; adapter " + (plugged == 1 ? "plugged in" : "UNPLUGGED") + "; line feed " +
            (feed == 0   ? "open"
             : feed == 1 ? "forward active"
             : feed == 2 ? "on-hook transmission (caller ID)"
             : feed == 4 ? "ringing"
                         : std::to_string(feed)));
    }

  private:
    Runner m_runner;
    ScriptParser m_parser;
    SoundFile m_sound;
    HANDLE m_idle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool m_started = false;
    int m_failures = 0;
    int m_lineNo = 0;
    int m_nextCall = 17;
    std::string m_lastCall;
};

} // namespace

int RunConsole(bool transcript, bool startKestrel) {
    Console console(transcript);
    if (!console.Init()) return 2;
    std::printf("phonelab: a telephone on a simulated adapter, and a stand-in for Skype.\n"
                "Type help for what you can do, quit to end.\n");
    std::fflush(stdout);
    if (startKestrel && console.Step("start kestrel") &&
        console.Step("expect discovery within 15s") && console.Step("expect ready within 15s"))
        Say("Kestrel is ready: lift the receiver and dial, or type incoming.");
    StdinLines input;
    for (;;) {
        std::string line;
        bool eof = false;
        if (!input.Take(&line, &eof)) {
            if (eof) break;
            PumpUntilEvent(input.Event(), 1000);
            continue;
        }
        if (!console.Line(line)) break;
    }
    Say("quit");
    console.End();
    // A scripted session (stdin piped) learns whether every line worked.
    return console.Failures() == 0 ? 0 : 1;
}
