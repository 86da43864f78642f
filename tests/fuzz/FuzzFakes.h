// Quiet stand-ins for the window and the Skype link: the fuzz targets look for crashes and
// overruns, not for what was asked.
#pragma once
#include "call/CallControl.h"
#include "support/QuietMainWindow.h"
#include "core/VirtualClock.h"

#include <cstdlib>
#include <cstring>

class NullWindow final : public QuietMainWindow {
  public:
    void SetSlotName(int slot, const char* name) override {
        // Touch every byte up to the terminator, so an unterminated name shows under ASan.
        if (slot >= 1 && slot <= 20) lastLength = std::strlen(name);
    }
    bool FocusOutsideMainWindow() override { return true; }
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
