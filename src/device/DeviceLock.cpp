#include "device/DeviceLock.h"

namespace {
std::atomic<int> waiters{0};
// The guards the calling thread holds now.
thread_local int heldHere = 0;
} // namespace

std::recursive_mutex& deviceLock() {
    // Deliberately leaked: static destruction must not end it under a running thread.
    static std::recursive_mutex* lock = new std::recursive_mutex;
    return *lock;
}

int DeviceLockWaiters() {
    return waiters.load();
}

bool DeviceLockHeldHere() {
    return heldHere > 0;
}

DeviceLockGuard::DeviceLockGuard() {
    std::recursive_mutex& lock = deviceLock();
    if (!lock.try_lock()) {
        waiters.fetch_add(1);
        lock.lock();
        waiters.fetch_sub(1);
    }
    ++heldHere;
}

DeviceLockGuard::~DeviceLockGuard() {
    --heldHere;
    deviceLock().unlock();
}
