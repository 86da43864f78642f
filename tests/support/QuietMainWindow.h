// A main window that does nothing: fakes derive from it and override only what their test
// looks at.
#pragma once
#include "bridge/MainWindow.h"

class QuietMainWindow : public MainWindow {
  public:
    void ArmTimer(unsigned, unsigned) override {}
    void KillTimer(unsigned) override {}
    void PostPhoneKey(int8_t) override {}
    void PostPstnRing() override {}
    void SetTrayIcon(int) override {}
    void EnableModeButtons(bool) override {}
    void GetSlotName(int, char* buffer, unsigned size) override {
        if (size > 0) buffer[0] = '\0';
    }
    void SetSlotName(int, const char*) override {}
    void EnablePlayButton(int, bool) override {}
    void ShowMessage(const char*, const char*, bool) override {}
    bool FocusOutsideMainWindow() override { return false; }
    bool SkypeMainWindowExists() override { return true; }
};
