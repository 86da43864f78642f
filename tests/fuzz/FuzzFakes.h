// Quiet stand-ins for the window and the Skype link: the fuzz targets look for crashes and
// overruns, not for what was asked.
#pragma once
#include "call/CallControl.h"
#include "call/MainWindow.h"
#include "core/VirtualClock.h"

#include <cstdlib>
#include <cstring>

class NullWindow final : public MainWindow {
  public:
    void ArmTimer(unsigned, unsigned) override {}
    void KillTimer(unsigned) override {}
    void PostPhoneKey(int8_t) override {}
    void PostPstnRing() override {}
    void SetTrayIcon(int) override {}
    void EnableModeButtons(bool) override {}
    void GetSlotName(int, char* buffer, unsigned size) override {
        if (size) buffer[0] = '\0';
    }
    void SetSlotName(int slot, const char* name) override {
        // Touch every byte up to the terminator, so an unterminated name shows under ASan.
        if (slot >= 1 && slot <= 20) lastLength = std::strlen(name);
    }
    void EnablePlayButton(int, bool) override {}
    void ShowMessage(const char*, const char*, bool) override {}
    bool FocusOutsideMainWindow() override { return true; }
    bool SkypeMainWindowExists() override { return true; }
    size_t lastLength = 0;
};

class NullSkype final : public SkypeCommands {
  public:
    explicit NullSkype(BridgeState& state) : state_(state) {}
    void SendSkypeCommand() override {
        // A command must always be a terminated text within commandText.
        if (std::memchr(state_.commandText, 0, sizeof state_.commandText) == nullptr) std::abort();
    }
    void ReplyTrue() override {}

  private:
    BridgeState& state_;
};

// Virtual time, so the prompts' pauses cost nothing.
inline void UseVirtualTime() {
    static VirtualClock clock;
    SetClock(&clock);
}
