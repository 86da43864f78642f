#include "device/DeviceLock.h"

namespace {
std::atomic<int> waiters{0};
} // namespace

std::recursive_mutex& deviceLock() {
    // Deliberately leaked: static destruction must not end it under a running thread.
    static std::recursive_mutex* lock = new std::recursive_mutex;
    return *lock;
}

int DeviceLockWaiters() {
    return waiters.load();
}

DeviceLockGuard::DeviceLockGuard() {
    std::recursive_mutex& lock = deviceLock();
    if (lock.try_lock()) return;
    waiters.fetch_add(1);
    lock.lock();
    waiters.fetch_sub(1);
}

DeviceLockGuard::~DeviceLockGuard() {
    deviceLock().unlock();
}
