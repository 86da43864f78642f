// Shared fixture of the device tests: the request layer wired to a fresh lab adapter, virtual
// time, and the recorded library calls in a compact form that whole sequences compare well in.
#pragma once
#include "adapter/LabAdapter.h"
#include "core/VirtualClock.h"
#include "device/DeviceLock.h"
#include "device/KwIpApi.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

// Whether deviceLock is held by some thread: another thread tries it (it is re-entrant, so the
// calling thread could always take it).
inline bool DeviceLockHeld() {
    bool taken = false;
    std::thread probe([&] {
        taken = deviceLock().try_lock();
        if (taken) deviceLock().unlock();
    });
    probe.join();
    return !taken;
}

// "b18=08" bridge write, "b18?" bridge read, "d64=11" / "d68?" SLIC direct, "i13=7b31" SLIC
// indirect; other codes "c25(1)". A failed call gets a trailing "!".
inline std::string Op(const LabCall& call) {
    char text[64];
    switch (call.target) {
    case LabTarget::Bridge:
        if (call.write) {
            std::string s = "b" + std::to_string(call.reg) + "=";
            for (uint8_t b : call.bytes) {
                std::snprintf(text, sizeof text, "%02x", b);
                s += text;
            }
            return s + (call.result ? "" : "!");
        }
        return "b" + std::to_string(call.reg) + "?" + (call.result ? "" : "!");
    case LabTarget::SlicDirect:
        if (call.write)
            std::snprintf(text, sizeof text, "d%d=%02x", call.reg, call.value);
        else
            std::snprintf(text, sizeof text, "d%d?", call.reg);
        break;
    case LabTarget::SlicIndirect:
        if (call.write)
            std::snprintf(text, sizeof text, "i%d=%04x", call.reg, call.value);
        else
            std::snprintf(text, sizeof text, "i%d?", call.reg);
        break;
    case LabTarget::None: std::snprintf(text, sizeof text, "c%d(%d)", call.code, call.param); break;
    }
    return std::string(text) + (call.result ? "" : "!");
}

inline std::vector<std::string> Ops(const std::vector<LabCall>& calls) {
    std::vector<std::string> ops;
    for (const LabCall& call : calls)
        ops.push_back(Op(call));
    return ops;
}

// Compares whole sequences and, when they differ, says where: long lists are hard to read in
// gtest's own output.
inline ::testing::AssertionResult SameOps(const std::vector<std::string>& expected,
                                          const std::vector<std::string>& actual) {
    size_t i = 0;
    while (i < expected.size() && i < actual.size() && expected[i] == actual[i])
        ++i;
    if (i == expected.size() && i == actual.size()) return ::testing::AssertionSuccess();
    auto around = [i](const std::vector<std::string>& ops) {
        std::string s;
        for (size_t k = i < 3 ? 0 : i - 3; k < ops.size() && k < i + 4; ++k)
            s += (k == i ? "[" + ops[k] + "]" : ops[k]) + " ";
        return s;
    };
    return ::testing::AssertionFailure()
           << "first difference at " << i << " of " << expected.size() << " expected / "
           << actual.size() << " made\n  expected: " << around(expected)
           << "\n  made:     " << around(actual);
}

class LabDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetClock(&clock);
        SetCurrentLabAdapter(&lab);
        SetDeviceLibrary(nullptr, LabVaVoRarCall);
    }
    void TearDown() override {
        // Every path out of an operation gives the lock back.
        EXPECT_FALSE(DeviceLockHeld());
        lab.SetCallHook(nullptr);
        ClearDeviceLibrary();
        SetCurrentLabAdapter(nullptr);
        SetClock(nullptr);
    }

    // From now on, records for every library call whether deviceLock was held.
    void WatchLock() {
        lab.SetCallHook([this](const LabCall&) { lockHeld.push_back(DeviceLockHeld()); });
    }
    bool AllCallsLocked() const {
        for (bool held : lockHeld)
            if (!held) return false;
        return !lockHeld.empty();
    }

    std::vector<std::string> TakeOps() {
        std::vector<std::string> ops = Ops(lab.Calls());
        lab.ClearCalls();
        return ops;
    }

    VirtualClock clock;
    LabAdapter lab;
    std::vector<bool> lockHeld;
};
