#include "LabPci.h"

#include "LabKeypad.h"
#include "LabSlic.h"

void LabPci::OnOpen(int productId, LabSlic& slic) {
    if (IsPciProduct(productId) || LabKeypad::IsHandsetProduct(productId))
        slic.WriteDirect(64, LabSlic::kLineFeedActive);
}

bool LabPci::Dtmf(char key) {
    if (key >= '1' && key <= '9') {
        Queue(key - '0');
        return true;
    }
    switch (key) {
    case '0': Queue(kLabPciEventDigit0); return true;
    case '*': Queue(kLabPciEventStar); return true;
    case '#': Queue(kLabPciEventHash); return true;
    case 'A':
    case 'B':
    case 'C':
    case 'D': return true;
    default: return false;
    }
}

bool LabPci::Next(int& event) {
    if (events_.empty()) return false;
    event = events_.front();
    events_.pop_front();
    return true;
}
