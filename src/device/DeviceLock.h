// The one lock around device requests. The phone event thread and the GUI thread both reach the
// vendor library; the bridge chip and the line chip must see each operation's requests as one
// uninterrupted run, so every device operation holds this lock for its whole run.
#pragma once
#include <atomic>
#include <mutex>

// Re-entrant: an operation that holds it may call other operations that take it again. It is
// created on first use and never destroyed, so it is live whenever it is taken, also while the
// process ends with the phone event thread still running.
std::recursive_mutex& deviceLock();

// How many threads are waiting for deviceLock right now. The mutex is not fair: a polling loop
// that lets go and takes it again at once can starve the GUI thread, so the loop checks this and
// stands aside while someone waits.
int DeviceLockWaiters();

// Whether the calling thread holds deviceLock through a DeviceLockGuard (the program takes it no
// other way). For the debug checks of the rules "called with deviceLock held" and "made without
// deviceLock".
bool DeviceLockHeldHere();

// Holds deviceLock for a scope and counts the wait, so DeviceLockWaiters sees it.
class DeviceLockGuard {
  public:
    DeviceLockGuard();
    ~DeviceLockGuard();
    DeviceLockGuard(const DeviceLockGuard&) = delete;
    DeviceLockGuard& operator=(const DeviceLockGuard&) = delete;
};
