// The one way call control reaches the open phone: under deviceLock, so that the release on the
// other thread either happens before (no phone) or waits until the operation is done.
#pragma once
#include "call/CallControl.h"
#include "device/DeviceLock.h"
#include "device/PhoneDevice.h"

#include <utility>

template <typename F> bool CallControl::WithPhone(F&& f) {
    DeviceLockGuard hold;
    PhoneDevice* phone = m_pPhone.load();
    if (phone == nullptr) return false;
    std::forward<F>(f)(*phone);
    return true;
}
