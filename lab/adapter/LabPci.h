// The PCI card as the lab models it. The card's own driver watches the line chip: it turns hook
// changes and DTMF digits of the telephone into ready-made events that the program collects one
// at a time with library code 7. The program reaches the line chip only for ringing, the hook
// state and tones, through the same LabSlic as the USB phones.
#pragma once
#include <cstddef>
#include <deque>

class LabSlic;

// Events of code 7.
constexpr int kLabPciEventDigit0 = 10; // the driver reports the 0 key as 10
constexpr int kLabPciEventStar = 11;
constexpr int kLabPciEventHash = 12;
constexpr int kLabPciEventOnHook = 256;
constexpr int kLabPciEventOffHook = 257;

class LabPci {
  public:
    static bool IsPciProduct(int productId) { return productId == 1; }

    // What the library does to the line chip when it opens the device. The card's driver brings
    // its line chip up with the line fed (forward active); the first-generation handsets have no
    // line chip, and the library answers line-chip reads for them as from a fed line. Either
    // way the status poll's liveness read of the line feed sees bit 0 set.
    static void OnOpen(int productId, LabSlic& slic);

    // The telephone, as the driver reports it.
    void Hook(bool offHook) { Queue(offHook ? kLabPciEventOffHook : kLabPciEventOnHook); }
    // A DTMF key: '1'-'9' give 1-9, '0' gives 10, '*' 11, '#' 12. The driver reports no event for
    // 'A'-'D' (true: the key exists) and nothing for other characters (false).
    bool Dtmf(char key);

    void Queue(int event) { events_.push_back(event); }
    // The oldest event; false when there is none.
    bool Next(int& event);
    size_t Pending() const { return events_.size(); }
    void Clear() { events_.clear(); }

  private:
    std::deque<int> events_;
};
