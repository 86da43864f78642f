// deviceLock keeps each device operation's requests together when two threads drive the phone.
#include "DeviceTestSupport.h"
#include "device/KwUsbPhone.h"

#include <atomic>
#include <optional>
#include <thread>

TEST(DeviceLock, IsReentrantAndCountsWaiters) {
    std::optional<DeviceLockGuard> outer, inner;
    EXPECT_FALSE(DeviceLockHeldHere());
    outer.emplace();
    inner.emplace(); // the same thread takes it again
    EXPECT_EQ(0, DeviceLockWaiters());
    EXPECT_TRUE(DeviceLockHeldHere());

    std::atomic<bool> got{false};
    std::atomic<bool> heldHereBefore{true};
    std::thread waiter([&] {
        heldHereBefore = DeviceLockHeldHere(); // another thread's hold is not this one's
        DeviceLockGuard hold;
        got = DeviceLockHeldHere();
    });
    while (DeviceLockWaiters() == 0)
        std::this_thread::yield();
    EXPECT_EQ(1, DeviceLockWaiters());

    inner.reset();
    EXPECT_TRUE(DeviceLockHeld()); // one hold left
    EXPECT_TRUE(DeviceLockHeldHere());
    EXPECT_FALSE(got);
    outer.reset();
    EXPECT_FALSE(DeviceLockHeldHere());
    waiter.join();
    EXPECT_TRUE(got);
    EXPECT_FALSE(heldHereBefore);
    EXPECT_EQ(0, DeviceLockWaiters());
    EXPECT_FALSE(DeviceLockHeld());
}

TEST_F(LabDeviceTest, TwoThreadsNeverInterleaveWithinAnOperation) {
    KwUsbPhone phone(0);
    phone.Initialize();
    lab.ClearCalls();
    // Each request yields, as a bus transfer would, so unguarded threads would interleave.
    lab.SetLatency(1000, &clock);

    // The phone event thread plays tones (16 requests each) while the GUI thread rings the
    // telephone (2 requests each).
    constexpr int kRounds = 300;
    std::thread poller([&] {
        for (int i = 0; i < kRounds; ++i)
            phone.PlayTone(i % 22, 1);
    });
    for (int i = 0; i < kRounds; ++i)
        phone.SetRinging(i & 1);
    poller.join();

    const std::vector<std::string> ops = Ops(lab.Calls());
    ASSERT_EQ(static_cast<size_t>(kRounds * 18), ops.size());
    size_t at = 0;
    int rings = 0, tones = 0;
    while (at < ops.size()) {
        if (ops[at] == "d34=18") { // ringing on: timers, then the line feed
            ASSERT_EQ(0u, ops[at + 1].rfind("d64=", 0)) << "ringing split at " << at;
            at += 2;
            ++rings;
        } else if (ops[at] == "d64=11") { // ringing off: the line feed, then the timers
            ASSERT_EQ("d34=00", ops[at + 1]) << "ringing split at " << at;
            at += 2;
            ++rings;
        } else {
            // A tone: oscillator 1 and 2 set-up, then both control registers, in one run.
            ASSERT_EQ(0u, ops[at].rfind("i13=", 0)) << "tone split at " << at;
            ASSERT_EQ(0u, ops[at + 15].rfind("d33=", 0)) << "tone split at " << at;
            for (size_t k = at; k < at + 16; ++k)
                ASSERT_TRUE(ops[k].rfind("d34=", 0) && ops[k].rfind("d64=", 0))
                    << "ringing inside a tone at " << k;
            at += 16;
            ++tones;
        }
    }
    EXPECT_EQ(kRounds, rings);
    EXPECT_EQ(kRounds, tones);
}
