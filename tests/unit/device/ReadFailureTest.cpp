// A failed read tells nothing about the adapter. The analogue-telephone families act only on
// values they really read: a glitch on the bus during a call costs no bring-up, no false hook
// and no lost key; a line chip that refused its bring-up is not taken for a reset one on every
// pass, while a chip that really was reset is still set up again.
#include "DeviceTestSupport.h"
#include "device/KwUsb2Gateway.h"
#include "device/KwUsb2Phone.h"
#include "device/KwUsbPhone.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>

namespace {

struct Family {
    const char* name;
    std::function<std::unique_ptr<PhoneDevice>()> make;
};

// The families whose poll looks for a line chip found in its reset state.
const Family kResetWatchers[] = {
    {"KwUsbPhone", [] { return std::make_unique<KwUsbPhone>(0); }},
    {"KwUsbPhone pcm 1", [] { return std::make_unique<KwUsbPhone>(1); }},
    {"KwUsb2Phone", [] { return std::make_unique<KwUsb2Phone>(0); }},
    {"KwUsb2PhoneRelay", [] { return std::make_unique<KwUsb2PhoneRelay>(); }},
};

// Every family that reads hook changes and digits from the line chip itself.
const Family kSlicPollers[] = {
    {"KwUsbPhone", [] { return std::make_unique<KwUsbPhone>(0); }},
    {"KwUsb2Phone", [] { return std::make_unique<KwUsb2Phone>(0); }},
    {"KwUsb2Gateway", [] { return std::make_unique<KwUsb2Gateway>(); }},
};

// Bring-ups since the record was cleared, counted by their first write, which nothing else makes.
int BringUps(LabAdapter& lab) {
    int count = 0;
    for (const LabRegWrite& w : lab.SlicDirectWrites())
        if (w == LabRegWrite{67, 0x17}) ++count;
    return count;
}

int LineFeedWrites(LabAdapter& lab) {
    int count = 0;
    for (const LabRegWrite& w : lab.SlicDirectWrites())
        if (w.reg == 64) ++count;
    return count;
}

// Requests failed before they reach the lab: the next writes of one line-chip register, and a
// seeded share of every register request (codes 2 to 6).
struct Glitches {
    int writeReg = -1;
    int writes = 0;
    uint32_t threshold = 0; // out of 2^32
    std::mt19937 random;
    int failed = 0;
    // The nth write (from 1) of one line-chip register fails, once.
    int nthReg = -1;
    int nth = 0;
    int seenOfNthReg = 0;

    void FailRandom(double fraction, uint32_t seed) {
        threshold = static_cast<uint32_t>(fraction * 4294967296.0);
        random.seed(seed);
    }
};
Glitches glitches;

int GlitchyEntry(int code, int param, void* pointer) {
    Glitches& g = glitches;
    bool fail = false;
    if (code == VC_SLIC_WRITE_DIRECT && param == g.writeReg && g.writes > 0) {
        --g.writes;
        fail = true;
    }
    if (code == VC_SLIC_WRITE_DIRECT && param == g.nthReg && ++g.seenOfNthReg == g.nth) fail = true;
    if (code >= VC_REGISTER_REQUEST && code <= VC_SLIC_WRITE_INDIRECT && g.threshold &&
        g.random() < g.threshold)
        fail = true;
    if (!fail) return LabVaVoRarCall(code, param, pointer);
    ++g.failed;
    return 0;
}

// The key an event stands for: digits, '*', '#', 'H' for a hook change.
char EventChar(int32_t event) {
    if (event >= 0 && event <= 9) return static_cast<char>('0' + event);
    if (event == kEventStar) return '*';
    if (event == kEventHash) return '#';
    if (event == kEventOnHook || event == kEventOffHook) return 'H';
    return '?';
}

class ReadFailureTest : public LabDeviceTest {
  protected:
    void SetUp() override {
        LabDeviceTest::SetUp();
        glitches = Glitches();
        SetDeviceLibrary(nullptr, GlitchyEntry);
    }

    // A phone of the family brought up on the lab, its receiver lifted and the lift taken: a
    // call is going on. The record is cleared, and the next poll looks for a reset chip again.
    std::unique_ptr<PhoneDevice> InCall(const Family& family, LabAdapter& adapter) {
        std::unique_ptr<PhoneDevice> phone = family.make();
        phone->Initialize();
        adapter.LiftReceiver();
        EXPECT_EQ(1, phone->PollEvent());
        EXPECT_EQ(kEventOffHook, phone->lastEvent);
        adapter.ClearCalls();
        clock.Advance(kSlicResetCheckIntervalMs);
        return phone;
    }
};

} // namespace

TEST_F(ReadFailureTest, AFailedReadDuringACallIsNoReset) {
    struct Case {
        const char* name;
        std::function<void(LabAdapter&)> fail;
    };
    const Case cases[] = {
        {"line feed once", [](LabAdapter& l) { l.FailReads(LabTarget::SlicDirect, 64, 1); }},
        // The look again 50 ms later fails as well: a short outage, not a reset.
        {"line feed at both looks",
         [](LabAdapter& l) { l.FailReads(LabTarget::SlicDirect, 64, 2); }},
        {"loopback at both looks", [](LabAdapter& l) { l.FailReads(LabTarget::SlicDirect, 8, 2); }},
        {"both registers at both looks",
         [](LabAdapter& l) {
             l.FailReads(LabTarget::SlicDirect, 8, 2);
             l.FailReads(LabTarget::SlicDirect, 64, 2);
         }},
        {"every line-chip read", [](LabAdapter& l) { l.FailNext(VC_SLIC_READ_DIRECT, 8); }},
    };
    for (const Family& family : kResetWatchers) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(family.name) + ": " + c.name);
            LabAdapter fresh;
            SetCurrentLabAdapter(&fresh);
            std::unique_ptr<PhoneDevice> phone = InCall(family, fresh);
            c.fail(fresh);

            const uint64_t before = clock.TotalSlept();
            EXPECT_EQ(0, phone->PollEvent());
            EXPECT_EQ(0u, clock.TotalSlept() - before); // not even a second look
            EXPECT_EQ(0, BringUps(fresh));
            EXPECT_EQ(0, LineFeedWrites(fresh)); // the call's loop stays fed
            EXPECT_EQ(0x11, fresh.SlicDirect(64));
            EXPECT_LE(fresh.CallCount(), 3);

            // The call goes on: the next key arrives as usual.
            fresh.ClearFailures();
            fresh.PressDtmf('4');
            EXPECT_EQ(1, phone->PollEvent());
            EXPECT_EQ(4, phone->lastEvent);
            SetCurrentLabAdapter(&lab);
        }
    }
}

TEST_F(ReadFailureTest, AChipReallyResetIsBroughtUpAgain) {
    struct Case {
        const char* name;
        std::function<void(LabAdapter&)> fail; // a failure that comes with the reset
    };
    const Case cases[] = {
        {"every read answers", [](LabAdapter&) {}},
        // Either register alone, really read, shows the reset.
        {"loopback unreadable once",
         [](LabAdapter& l) { l.FailReads(LabTarget::SlicDirect, 8, 1); }},
        {"line feed unreadable once",
         [](LabAdapter& l) { l.FailReads(LabTarget::SlicDirect, 64, 1); }},
    };
    for (const Family& family : kResetWatchers) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(family.name) + ": " + c.name);
            LabAdapter fresh;
            SetCurrentLabAdapter(&fresh);
            std::unique_ptr<PhoneDevice> phone = InCall(family, fresh);
            fresh.ResetSlic();
            c.fail(fresh);

            const uint64_t before = clock.TotalSlept();
            phone->PollEvent();
            EXPECT_EQ(1, BringUps(fresh));
            EXPECT_EQ(50u + 2400u, clock.TotalSlept() - before); // a second look, then bring-up
            EXPECT_EQ(0x11, fresh.SlicDirect(64));
            EXPECT_EQ(0, fresh.SlicDirect(8));

            // Up again: the next pass is an ordinary one.
            fresh.ClearCalls();
            EXPECT_EQ(0, phone->PollEvent());
            EXPECT_EQ(3, fresh.CallCount());
            SetCurrentLabAdapter(&lab);
        }
    }
}

TEST_F(ReadFailureTest, AChipThatRefusedItsBringUpIsNotSetUpOnEveryPass) {
    for (const Family& family : kResetWatchers) {
        for (int variant : {1, 2}) {
            SCOPED_TRACE(std::string(family.name) + ", variant " + std::to_string(variant));
            LabAdapter fresh;
            SetCurrentLabAdapter(&fresh);
            LabSlicConfig chip;
            chip.variant = variant;
            fresh.ConfigureSlic(chip);
            std::unique_ptr<PhoneDevice> phone = family.make();
            phone->Initialize();
            ASSERT_EQ(0, fresh.SlicDirect(64)); // refused: the line feed stays open
            fresh.ClearCalls();

            const uint64_t before = clock.TotalSlept();
            for (int pass = 0; pass < 5; ++pass)
                EXPECT_EQ(0, phone->PollEvent());
            EXPECT_EQ(0u, clock.TotalSlept() - before);
            EXPECT_EQ(0, BringUps(fresh));
            // Loopback and line feed at the first poll (then not again within the check's
            // interval), the interrupt pin at each.
            EXPECT_EQ(2 + 5 * 1, fresh.CallCount());

            // The hook interrupts it did enable still report the telephone.
            fresh.LiftReceiver();
            EXPECT_EQ(1, phone->PollEvent());
            EXPECT_EQ(kEventOffHook, phone->lastEvent);

            // Reset behind our back, its loopback is back at the power-on value: set up again,
            // once.
            fresh.ResetSlic();
            fresh.ClearCalls();
            clock.Advance(kSlicResetCheckIntervalMs);
            EXPECT_EQ(0, phone->PollEvent());
            EXPECT_EQ(1, BringUps(fresh));
            EXPECT_EQ(0, fresh.SlicDirect(8));
            fresh.ClearCalls();
            EXPECT_EQ(0, phone->PollEvent());
            EXPECT_EQ(3, fresh.CallCount());
            SetCurrentLabAdapter(&lab);
        }
    }
}

TEST_F(ReadFailureTest, AnEventWhoseRegistersFailIsDelayedNeverInventedOrLost) {
    auto failRead = [](int reg) {
        return [reg](LabAdapter& l) { l.FailReads(LabTarget::SlicDirect, reg, 1); };
    };
    auto failWrite = [](int reg) {
        return [reg](LabAdapter&) {
            glitches.writeReg = reg;
            glitches.writes = 1;
        };
    };
    struct Case {
        const char* name;
        std::function<void(LabAdapter&)> stimulus;
        std::function<void(LabAdapter&)> fail;
        int32_t event;
    };
    const Case cases[] = {
        // A guess of "on hook" would end a call; the hook change is read again instead.
        {"hook read after the receiver was put down", [](LabAdapter& l) { l.ReplaceReceiver(); },
         failRead(68), kEventOnHook},
        {"hook read after a lift", [](LabAdapter& l) { l.LiftReceiver(); }, failRead(68),
         kEventOffHook},
        {"digit read", [](LabAdapter& l) { l.PressDtmf('7'); }, failRead(24), 7},
        {"hook-change flags read", [](LabAdapter& l) { l.LiftReceiver(); }, failRead(19),
         kEventOffHook},
        {"digit flags read", [](LabAdapter& l) { l.PressDtmf('7'); }, failRead(20), 7},
        {"hook-change flags write", [](LabAdapter& l) { l.LiftReceiver(); }, failWrite(19),
         kEventOffHook},
        {"digit flags write", [](LabAdapter& l) { l.PressDtmf('7'); }, failWrite(20), 7},
    };
    for (const Family& family : kSlicPollers) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(family.name) + ": " + c.name);
            LabAdapter fresh;
            SetCurrentLabAdapter(&fresh);
            std::unique_ptr<PhoneDevice> phone = family.make();
            phone->Initialize();
            if (c.event == kEventOnHook) {
                fresh.LiftReceiver();
                ASSERT_EQ(1, phone->PollEvent());
            }
            c.stimulus(fresh);
            c.fail(fresh);

            EXPECT_EQ(0, phone->PollEvent());
            EXPECT_EQ(kEventNone, phone->lastEvent);
            EXPECT_EQ(1, phone->PollEvent());
            EXPECT_EQ(c.event, phone->lastEvent);
            EXPECT_EQ(0, phone->PollEvent()); // once, not twice
            SetCurrentLabAdapter(&lab);
        }
    }
}

TEST_F(ReadFailureTest, ACallSurvivesRandomRequestFailures) {
    // Every key once and in order, then the receiver put down, with one register request in
    // ten failing.
    std::string keys;
    for (int round = 0; round < 4; ++round)
        keys += "0123456789*#5550199#";
    for (const Family& family : kSlicPollers) {
        SCOPED_TRACE(family.name);
        LabAdapter fresh;
        SetCurrentLabAdapter(&fresh);
        std::unique_ptr<PhoneDevice> phone = InCall(family, fresh);
        glitches.FailRandom(0.1, 20240611);
        glitches.failed = 0;

        std::string heard;
        auto poll = [&] {
            if (phone->PollEvent()) heard += EventChar(phone->lastEvent);
        };
        for (char key : keys) {
            fresh.PressDtmf(key);
            const size_t before = heard.size();
            for (int pass = 0; pass < 50 && heard.size() == before; ++pass)
                poll();
        }
        fresh.ReplaceReceiver();
        for (int pass = 0; pass < 50; ++pass)
            poll();

        EXPECT_EQ(keys + "H", heard);
        EXPECT_EQ(0, BringUps(fresh));
        EXPECT_GT(glitches.failed, 50); // the failures did happen
        glitches.FailRandom(0, 0);
        SetCurrentLabAdapter(&lab);
    }
}

// The registers the line lives on are written last in a bring-up; one of those writes lost on the
// bus would leave the telephone deaf to its hook or its digits, or without line feed, until the
// next reset. Each is made again.
TEST_F(ReadFailureTest, TheLastSettingsOfABringUpSurviveAFailedWrite) {
    const Family kBringUps[] = {
        {"KwUsbPhone", [] { return std::make_unique<KwUsbPhone>(0); }},
        {"KwUsb2Gateway", [] { return std::make_unique<KwUsb2Gateway>(); }},
    };
    for (const Family& family : kBringUps) {
        for (int reg : {21, 22, 23, 64}) {
            SCOPED_TRACE(std::string(family.name) + " register " + std::to_string(reg));
            // A clean bring-up: how often the register is written, and what it ends at.
            LabAdapter clean;
            clean.SetProductId(family.name[5] == '2' ? 0xC290 : 0x831C);
            SetCurrentLabAdapter(&clean);
            glitches = Glitches();
            family.make()->Initialize();
            int writes = 0;
            for (const LabRegWrite& w : clean.SlicDirectWrites())
                if (w.reg == reg) ++writes;
            const int settled = clean.SlicDirect(reg);
            ASSERT_GT(writes, 0);

            LabAdapter glitchy;
            glitchy.SetProductId(family.name[5] == '2' ? 0xC290 : 0x831C);
            SetCurrentLabAdapter(&glitchy);
            glitches = Glitches();
            glitches.nthReg = reg;
            glitches.nth = writes; // its last write
            family.make()->Initialize();
            EXPECT_EQ(1, glitches.failed);
            EXPECT_EQ(settled, glitchy.SlicDirect(reg));
            SetCurrentLabAdapter(&lab);
        }
    }
}
