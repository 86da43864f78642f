// What the Skype link needs of the window system. skype/win32 implements it with a
// broadcast, WM_COPYDATA and ReplyMessage; tests use a fake.
#pragma once
#include <cstdint>

class SkypeWire {
  public:
    virtual ~SkypeWire() = default;

    // Sends the discovery message to every top-level window (wParam = apiWnd), aborting hung
    // ones, 2000 ms time-out. Returns false on failure and then sets *lastError.
    virtual bool BroadcastDiscover(uintptr_t apiWnd, unsigned long* lastError) = 0;
    // Sends WM_COPYDATA (dwData 0) to skypeWnd synchronously; returns Skype's answer, or 0 when
    // the send failed or Skype did not answer in time (a hung client).
    virtual intptr_t SendCopyData(uintptr_t skypeWnd, uintptr_t apiWnd, const char* data,
                                  unsigned long cbData) = 0;
    // Answers the notification being handled with TRUE at once (ReplyMessage).
    virtual void ReplyTrue() = 0;
};
