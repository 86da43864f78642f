// phonelab: the Skype stand-in and scenario runner for trying Kestrel.exe without Skype or a
// device.
//   phonelab.exe --scenario file.scn [--transcript]   run a script; exit 0, or 1 at the first
//                                                     failure with a report
//   phonelab.exe --check file.scn                     parse only
//   phonelab.exe [--transcript] [--no-start]          the console: starts Kestrel, then
//                                                     reads steps from stdin (Console.h)
//   --kestrel <Kestrel.exe>   the program "start kestrel" runs (default: the current folder's)
#include "../Script.h"
#include "Console.h"
#include "KestrelProcess.h"
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

void Usage() {
    std::fprintf(stderr, "usage: phonelab.exe --scenario <file.scn> [--transcript] "
                         "[--set name=value ...]\n"
                         "       phonelab.exe --check <file.scn> [--set name=value ...]\n"
                         "       phonelab.exe [--transcript] [--no-start]   (the console)\n"
                         "       --kestrel <Kestrel.exe>   the program that start kestrel runs\n");
}

} // namespace

int main(int argc, char** argv) {
    std::string scenario, check;
    bool transcript = false, start = true;
    std::map<std::string, long> presets; // --set: a scenario's variables from outside
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--scenario" && i + 1 < argc) {
            scenario = argv[++i];
        } else if (arg == "--check" && i + 1 < argc) {
            check = argv[++i];
        } else if (arg == "--transcript") {
            transcript = true;
        } else if (arg == "--no-start") {
            start = false;
        } else if (arg == "--kestrel" && i + 1 < argc) {
            SetKestrelProgram(argv[++i]);
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
    return RunConsole(transcript, start);
}
