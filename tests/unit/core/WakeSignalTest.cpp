// The clock's wait that a wake ends: in real time on a condition variable, in virtual time
// deterministically. A wake is never lost, and one wake ends one wait.
#include "core/Clock.h"
#include "core/VirtualClock.h"

#include <gtest/gtest.h>

#include <thread>

TEST(WakeSignal, AWakeSetBeforeTheWaitIsKeptAndUsedOnce) {
    WakeSignal wake;
    EXPECT_FALSE(wake.Take());
    wake.Set();
    wake.Set(); // two wakes before anyone looks are one
    EXPECT_TRUE(wake.WaitFor(60000));
    EXPECT_FALSE(wake.Take());
    EXPECT_FALSE(wake.WaitFor(0));
}

TEST(WakeSignal, AnotherThreadEndsARealWait) {
    // The bound is a minute: only the wake can end the wait before the test's own time-out.
    for (int round = 0; round < 20; ++round) {
        WakeSignal wake;
        std::thread waker([&] { wake.Set(); });
        EXPECT_TRUE(wake.WaitFor(60000));
        waker.join();
    }
}

TEST(WakeSignal, TheRealClockWaitsOnTheSignal) {
    SetClock(nullptr);
    WakeSignal wake;
    std::thread waker([&] { wake.Set(); });
    EXPECT_TRUE(PauseUntilWoken(wake, 60000));
    waker.join();
}

TEST(WakeSignal, VirtualTimeWaitsWholeOrNotAtAll) {
    VirtualClock clock;
    WakeSignal wake;
    EXPECT_FALSE(clock.WaitForWake(wake, 250));
    EXPECT_EQ(250u, clock.NowMs());
    wake.Set();
    EXPECT_TRUE(clock.WaitForWake(wake, 250));
    EXPECT_EQ(250u, clock.NowMs()); // no time passes
    EXPECT_FALSE(clock.WaitForWake(wake, 250));
    EXPECT_EQ(500u, clock.NowMs());
    EXPECT_EQ(3u, clock.Waits());
    EXPECT_EQ(1u, clock.WokenWaits());
}
