// Fakes shared by the playback tests: an MCI port that records every command, a main window
// whose slot fields are plain strings, and a scratch directory that is the current one.
#pragma once
#include "bridge/MainWindow.h"
#include "playback/FileOps.h"
#include "playback/MciPort.h"
#include "playback/PlaybackTable.h"
#include "playback/WaveAudio.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

struct MciCall {
    uint32_t device;
    uint32_t command;
    uint32_t flags;
    bool hasParams;
    uintptr_t callback;
    std::string element; // open: the element name; save: the file name
    uint32_t from, to, waveIn, waveOut;
};

class FakeMci : public MciPort {
  public:
    std::vector<MciCall> calls;
    std::vector<std::string> timerEvents;  // "set wnd id ms" / "kill wnd id"
    std::map<uint32_t, uint32_t> failures; // command -> error code, every time
    std::vector<std::string> deviceNames;
    uint32_t nextDeviceId = 7;

    uint32_t SendCommand(uint32_t device, uint32_t command, uint32_t flags, MciParams* p) override {
        MciCall c{device, command, flags, p != nullptr, 0, {}, 0, 0, 0, 0};
        if (p) {
            c.callback = p->callback;
            if (command == MCI_CMD_OPEN && p->elementName) c.element = p->elementName;
            if (command == MCI_CMD_SAVE && p->fileName) c.element = p->fileName;
            c.from = p->from;
            c.to = p->to;
            c.waveIn = p->waveInput;
            c.waveOut = p->waveOutput;
        }
        calls.push_back(c);
        auto it = failures.find(command);
        if (it != failures.end()) return it->second;
        if (command == MCI_CMD_OPEN && p) p->deviceId = nextDeviceId++;
        if (command == MCI_CMD_SAVE && p && p->fileName) std::ofstream(p->fileName) << "RIFF";
        return 0;
    }
    unsigned WaveOutCount() override { return static_cast<unsigned>(deviceNames.size()); }
    bool WaveOutName(unsigned index, char* name, unsigned size) override {
        if (index >= deviceNames.size()) return false;
        std::snprintf(name, size, "%s", deviceNames[index].c_str());
        return true;
    }
    void SetTimer(uintptr_t wnd, unsigned id, unsigned ms) override {
        timerEvents.push_back("set " + std::to_string(wnd) + " " + std::to_string(id) + " " +
                              std::to_string(ms));
    }
    void KillTimer(uintptr_t wnd, unsigned id) override {
        timerEvents.push_back("kill " + std::to_string(wnd) + " " + std::to_string(id));
    }

    // The calls as "COMMAND(device,flags)" words, for comparing whole sequences.
    std::string Sequence() const {
        std::ostringstream out;
        for (const MciCall& c : calls) {
            if (out.tellp() > 0) out << ' ';
            out << Name(c.command) << '(' << c.device << ",0x" << std::hex << c.flags << std::dec
                << ')';
        }
        return out.str();
    }
    static const char* Name(uint32_t command) {
        switch (command) {
        case MCI_CMD_OPEN: return "OPEN";
        case MCI_CMD_CLOSE: return "CLOSE";
        case MCI_CMD_PLAY: return "PLAY";
        case MCI_CMD_STOP: return "STOP";
        case MCI_CMD_SET: return "SET";
        case MCI_CMD_RECORD: return "RECORD";
        case MCI_CMD_SAVE: return "SAVE";
        case MCI_CMD_DELETE: return "DELETE";
        default: return "?";
        }
    }
};

class FakeSlots : public MainWindow {
  public:
    std::string names[21];
    bool playEnabled[21] = {};

    void ArmTimer(unsigned, unsigned) override {}
    void KillTimer(unsigned) override {}
    void PostPhoneKey(int8_t) override {}
    void PostPstnRing() override {}
    void SetTrayIcon(int) override {}
    void EnableModeButtons(bool) override {}
    void GetSlotName(int slot, char* buffer, unsigned size) override {
        ASSERT_TRUE(slot >= 1 && slot <= 20) << slot;
        std::snprintf(buffer, size, "%s", names[slot].c_str());
    }
    void SetSlotName(int slot, const char* name) override {
        ASSERT_TRUE(slot >= 1 && slot <= 20) << slot;
        names[slot] = name;
    }
    void EnablePlayButton(int slot, bool enable) override {
        ASSERT_TRUE(slot >= 1 && slot <= 20) << slot;
        playEnabled[slot] = enable;
    }
    void ShowMessage(const char* text, const char* caption, bool owned) override {
        messages.push_back(std::string(caption) + (owned ? " (owned): " : ": ") + text);
    }
    bool FocusOutsideMainWindow() override { return false; }
    bool SkypeMainWindowExists() override { return true; }

    std::vector<std::string> messages; // "caption (owned): text"
};

// A fresh scratch directory (with its "wav" folder) as the current directory, a fresh wave
// audio state and the fake MCI port for every test.
class PlaybackTest : public testing::Test {
  protected:
    void SetUp() override {
        namespace fs = std::filesystem;
        const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("kestrel-pb-" + std::string(info->test_suite_name()) + "-" + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "wav");
        oldDir_ = fs::current_path();
        fs::current_path(dir_);
        ResetWaveAudio();
        settingsSaveFailed = 0;
        SetMciPort(&mci);
        SetFileOps(nullptr);
    }
    void TearDown() override {
        SetMciPort(nullptr);
        SetFileOps(nullptr);
        ResetWaveAudio();
        std::filesystem::current_path(oldDir_);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    static void WriteFile(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    static std::string WavPath(const std::string& name) { return kWavPrefix + name; }

    FakeMci mci;
    std::filesystem::path dir_;
    std::filesystem::path oldDir_;
};
