// phonelab: the Skype stand-in and scenario runner for trying Kestrel.exe without Skype or a
// device.
//   phonelab.exe --scenario file.scn [--transcript]   run a script; exit 0, or 1 at the first
//                                                     failure with a report
//   phonelab.exe --check file.scn                     parse only
//   phonelab.exe [--transcript]                       read steps from stdin, one per line
#include "../Script.h"
#include "Output.h"
#include "Runner.h"

#include <windows.h>

#include <cstdio>
#include <deque>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

const int kFailed = 1;
const int kUsage = 2;

bool ReadFile(const std::string& path, std::string* content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream out;
    out << in.rdbuf();
    *content = out.str();
    return true;
}

std::string BaseName(const std::string& path) {
    const size_t at = path.find_last_of("/\\");
    return at == std::string::npos ? path : path.substr(at + 1);
}

int RunScenario(const std::string& path, const std::map<std::string, long>& presets,
                bool transcript) {
    std::string content, error;
    if (!ReadFile(path, &content)) {
        std::fprintf(stderr, "phonelab: cannot read %s\n", path.c_str());
        return kUsage;
    }
    std::vector<Step> steps;
    if (!ParseScript(content, presets, &steps, &error)) {
        std::printf("FAILED: %s:%s\n", BaseName(path).c_str(), error.c_str());
        return kFailed;
    }
    Runner runner(transcript);
    if (!runner.Init(&error)) {
        std::printf("FAILED: %s\n", error.c_str());
        return kFailed;
    }
    Say("scenario " + BaseName(path) + ", " + std::to_string(steps.size()) + " steps");
    for (const Step& step : steps) {
        if (step.kind != StepKind::Say) Say(step.source);
        std::string expected, seen;
        if (!runner.Run(step, &expected, &seen)) {
            runner.PrintReport(BaseName(path) + ":" + std::to_string(step.line), step, expected,
                               seen);
            runner.Cleanup();
            return kFailed;
        }
    }
    Say("PASSED " + BaseName(path));
    runner.Cleanup();
    return 0;
}

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

int RunConsole(bool transcript) {
    Runner runner(transcript);
    std::string error;
    if (!runner.Init(&error)) {
        std::printf("phonelab: %s\n", error.c_str());
        return kUsage;
    }
    std::printf("phonelab: the Skype stand-in is up. Type steps, e.g. \"start kestrel\", "
                "\"expect ready within 10s\", \"skype ring 17 from alice\"; Ctrl+Z or Ctrl+D "
                "ends.\n");
    std::fflush(stdout);
    StdinLines input;
    ScriptParser parser;
    int lineNo = 0;
    for (;;) {
        std::string line;
        bool eof = false;
        if (!input.Take(&line, &eof)) {
            if (eof) break;
            PumpUntilEvent(input.Event(), 1000);
            continue;
        }
        ++lineNo;
        Step step;
        bool empty = false;
        if (!parser.ParseLine(line, lineNo, &step, &empty, &error)) {
            std::printf("?? %s\n", error.c_str());
            std::fflush(stdout);
            continue;
        }
        if (empty) continue;
        std::string expected, seen;
        if (runner.Run(step, &expected, &seen))
            Say("ok");
        else
            runner.PrintReport("line " + std::to_string(lineNo), step, expected, seen);
    }
    runner.Cleanup();
    return 0;
}

void Usage() {
    std::fprintf(stderr, "usage: phonelab.exe --scenario <file.scn> [--transcript] "
                         "[--set name=value ...]\n"
                         "       phonelab.exe --check <file.scn> [--set name=value ...]\n"
                         "       phonelab.exe [--transcript]   (steps from stdin)\n");
}

} // namespace

int main(int argc, char** argv) {
    std::string scenario, check;
    bool transcript = false;
    std::map<std::string, long> presets; // --set: a scenario's variables from outside
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--scenario" && i + 1 < argc) {
            scenario = argv[++i];
        } else if (arg == "--check" && i + 1 < argc) {
            check = argv[++i];
        } else if (arg == "--transcript") {
            transcript = true;
        } else if (arg == "--set" && i + 1 < argc) {
            std::string name;
            long value = 0;
            if (!ParsePreset(argv[++i], &name, &value)) {
                Usage();
                return kUsage;
            }
            presets[name] = value;
        } else {
            Usage();
            return kUsage;
        }
    }
    if (!check.empty()) {
        std::string content, error;
        std::vector<Step> steps;
        if (!ReadFile(check, &content)) {
            std::fprintf(stderr, "phonelab: cannot read %s\n", check.c_str());
            return kUsage;
        }
        if (!ParseScript(content, presets, &steps, &error)) {
            std::printf("%s:%s\n", BaseName(check).c_str(), error.c_str());
            return kFailed;
        }
        std::printf("%s: %u steps\n", BaseName(check).c_str(), static_cast<unsigned>(steps.size()));
        return 0;
    }
    if (!scenario.empty()) return RunScenario(scenario, presets, transcript);
    return RunConsole(transcript);
}
