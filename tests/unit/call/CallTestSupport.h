// Shared fixture of the call-control tests: call control over recording fakes of the main
// window and the Skype link, the request layer wired to a lab adapter, the fake MCI port of the
// playback tests and virtual time. Phones are either the real device classes against the lab
// or TestPhone, whose keys and PSTN ring are scripted and whose deletions are counted.
#pragma once
#include "adapter/LabAdapter.h"
#include "call/CallControl.h"
#include "core/VirtualClock.h"
#include "device/DeviceLock.h"
#include "device/GatewaySwitch.h"
#include "device/KwIpApi.h"
#include "device/PhoneDevice.h"
#include "playback/WaveAudio.h"
#include "unit/playback/PlaybackFakes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Waits, in real time, for something another thread does; false when it never happens (a hang:
// the bound is far beyond what any wait here takes, also under TSan).
template <typename F> bool Eventually(F condition) {
    for (int i = 0; i < 20000; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

// Joins words with single spaces.
inline std::string JoinWords(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words)
        out += (out.empty() ? "" : " ") + w;
    return out;
}

// Records every request of call control; safe from both threads.
class FakeWindow : public MainWindow {
  public:
    void ArmTimer(unsigned id, unsigned ms) override {
        Log("arm" + std::to_string(id) + ":" + std::to_string(ms));
        std::lock_guard<std::mutex> lock(mutex_);
        armed_[id] = ms;
        due_[id] = GetClock().NowMs() + ms;
    }
    void KillTimer(unsigned id) override {
        Log("kill" + std::to_string(id));
        std::lock_guard<std::mutex> lock(mutex_);
        armed_.erase(id);
        due_.erase(id);
    }
    void PostPhoneKey(int8_t key) override {
        Log("key" + std::to_string(key));
        std::lock_guard<std::mutex> lock(mutex_);
        keys_.push_back(key);
    }
    void PostPstnRing() override {
        Log("pstnring");
        std::lock_guard<std::mutex> lock(mutex_);
        ++pstnRings_;
    }
    void SetTrayIcon(int iconId) override { Log("icon" + std::to_string(iconId)); }
    void EnableModeButtons(bool enable) override { Log(enable ? "buttons1" : "buttons0"); }
    void GetSlotName(int slot, char* buffer, unsigned size) override {
        std::lock_guard<std::mutex> lock(mutex_);
        reads_.push_back(slot);
        std::snprintf(buffer, size, "%s", slots_[slot].c_str());
    }
    void SetSlotName(int slot, const char* name) override {
        std::lock_guard<std::mutex> lock(mutex_);
        slots_[slot] = name;
    }
    void EnablePlayButton(int, bool) override {}
    void ShowMessage(const char* text, const char* caption, bool owned) override {
        // The box is modal: whoever holds deviceLock now keeps it until the user closes it.
        lockHeldAtMessage = DeviceLockHeldElsewhere();
        Log(std::string("message:") + caption + (owned ? ":owned:" : ":") + text);
        // A real box runs a message loop until it is closed: whatever is queued is handled now.
        if (whileMessageShown) whileMessageShown();
    }
    bool FocusOutsideMainWindow() override { return focusOutside; }
    bool SkypeMainWindowExists() override { return skypeExists; }

    // The words logged since the last Take, and forgets them.
    std::string Take() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string out = JoinWords(log_);
        log_.clear();
        return out;
    }
    std::vector<int8_t> TakeKeys() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<int8_t> keys(keys_.begin(), keys_.end());
        keys_.clear();
        return keys;
    }
    bool Armed(unsigned id) {
        std::lock_guard<std::mutex> lock(mutex_);
        return armed_.count(id) != 0;
    }
    // The armed timer due first (clock time of its arming plus its period); false when none is.
    bool NextDue(unsigned& id, uint64_t& at) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (due_.empty()) return false;
        auto first = due_.begin();
        for (auto it = due_.begin(); it != due_.end(); ++it)
            if (it->second < first->second) first = it;
        id = first->first;
        at = first->second;
        return true;
    }
    int PstnRings() {
        std::lock_guard<std::mutex> lock(mutex_);
        return pstnRings_;
    }
    std::vector<int> SlotReads() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reads_;
    }
    void SetSlot(int slot, const std::string& name) { SetSlotName(slot, name.c_str()); }
    std::string Slot(int slot) {
        std::lock_guard<std::mutex> lock(mutex_);
        return slots_[slot];
    }

    bool focusOutside = false;
    bool skypeExists = true;
    bool lockHeldAtMessage = false;
    std::function<void()> whileMessageShown;

    // Whether deviceLock is held by the calling thread or another: a probe thread tries it.
    static bool DeviceLockHeldElsewhere() {
        bool taken = false;
        std::thread probe([&] {
            taken = deviceLock().try_lock();
            if (taken) deviceLock().unlock();
        });
        probe.join();
        return !taken;
    }

  private:
    void Log(const std::string& word) {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.push_back(word);
    }
    std::mutex mutex_;
    std::vector<std::string> log_;
    std::map<unsigned, unsigned> armed_;
    std::map<unsigned, uint64_t> due_;
    std::deque<int8_t> keys_;
    std::map<int, std::string> slots_;
    std::vector<int> reads_;
    int pstnRings_ = 0;
};

// Records replies and commands in order; a command as "send:<text>".
class FakeSkype : public SkypeCommands {
  public:
    explicit FakeSkype(BridgeState& state) : state_(state) {}
    void SendSkypeCommand() override {
        log_.push_back(std::string("send:") + state_.commandText);
        if (onSend) onSend();
    }
    void ReplyTrue() override { log_.push_back("reply"); }
    std::string Take() {
        std::string out;
        for (const std::string& w : log_)
            out += (out.empty() ? "" : " | ") + w;
        log_.clear();
        return out;
    }
    std::function<void()> onSend;

  private:
    BridgeState& state_;
    std::vector<std::string> log_;
};

// What happens to the test phones, shared by all of them in one test.
struct PhoneRecord {
    std::atomic<int> created{0};
    std::atomic<int> deleted{0};
    std::atomic<int> usedAfterDelete{0};
    std::mutex mutex;
    std::vector<std::string> ops;

    void Log(const std::string& op) {
        std::lock_guard<std::mutex> lock(mutex);
        ops.push_back(op);
    }
    std::string Take() {
        std::lock_guard<std::mutex> lock(mutex);
        std::string out = JoinWords(ops);
        ops.clear();
        return out;
    }
};

// A phone whose events are scripted. Its line switching is the real one (library function 25
// to the lab); every other operation only records. A gateway as far as the PSTN watch can tell:
// the line-use pin is read from the lab.
class TestPhone : public PhoneDevice, public GatewaySwitch {
  public:
    explicit TestPhone(PhoneRecord& record, bool polling = true, bool offHook = false)
        : record_(record), polling_(polling), offHook_(offHook) {
        ++record_.created;
    }
    ~TestPhone() override {
        Check();
        alive_ = 0;
        ++record_.deleted;
    }

    int Initialize() override {
        Check();
        record_.Log("init");
        return 1;
    }
    int PollEvent() override {
        DeviceLockGuard hold;
        Check();
        ++polls;
        std::lock_guard<std::mutex> lock(keyMutex_);
        lastEvent = kEventNone;
        if (keys_.empty()) return 0;
        key_ = keys_.front();
        keys_.pop_front();
        lastEvent = 0;
        return 1;
    }
    PhoneKey GetEventKey() override {
        Check();
        return lastEvent == kEventNone ? kKeyNone : key_;
    }
    int SetRinging(int on) override {
        DeviceLockGuard hold;
        Check();
        record_.Log(on ? "ring1" : "ring0");
        return 1;
    }
    int IsOffHook() override { return offHook_ ? 1 : 0; }
    int NeedsPolling() override { return polling_ ? 1 : 0; }
    int IsPstnRinging() override {
        DeviceLockGuard hold;
        Check();
        return pstnRinging.load() ? 1 : 0;
    }

    void Press(PhoneKey key) {
        std::lock_guard<std::mutex> lock(keyMutex_);
        keys_.push_back(key);
    }
    size_t KeysLeft() {
        std::lock_guard<std::mutex> lock(keyMutex_);
        return keys_.size();
    }

    std::atomic<bool> pstnRinging{false};
    std::atomic<int> polls{0};

  protected:
    void OnLineMode(int line) override {
        Check();
        record_.Log("line" + std::to_string(line));
    }

  private:
    static constexpr uint32_t kAlive = 0xA11CE;
    // A use after delete, seen without a sanitizer as long as the memory is not reused.
    void Check() {
        if (alive_ != kAlive) ++record_.usedAfterDelete;
    }

    PhoneRecord& record_;
    const bool polling_;
    const bool offHook_;
    volatile uint32_t alive_ = kAlive;
    std::mutex keyMutex_;
    std::deque<PhoneKey> keys_;
    PhoneKey key_ = kKeyNone;
};

// Call control with the phone factory open to the tests.
class TestCallControl : public CallControl {
  public:
    using CallControl::CallControl;
    using CallControl::GuiThreadWithPhoneThreadRunning;
    using CallControl::OnGuiThread;
    using CallControl::ReleasePhone;
    // Null: the catalogue's phone.
    std::function<PhoneDevice*(int32_t)> factory;
    void AllowResend() { resendAllowed_ = true; }

  protected:
    PhoneDevice* CreatePhone(int32_t productId) override {
        return factory ? factory(productId) : CallControl::CreatePhone(productId);
    }
};

constexpr uintptr_t kMainWnd = 0x5150;

class CallTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetClock(&clock);
        SetCurrentLabAdapter(&lab);
        SetDeviceLibrary(nullptr, LabVaVoRarCall);
        ResetWaveAudio();
        SetMciPort(&mci);
        state.mainWnd = kMainWnd;
        cc = std::make_unique<TestCallControl>(state, window, skype);
    }
    void TearDown() override {
        cc.reset();
        EXPECT_FALSE(FakeWindow::DeviceLockHeldElsewhere());
        EXPECT_EQ(phones.deleted.load(), phones.created.load());
        EXPECT_EQ(phones.usedAfterDelete.load(), 0);
        SetMciPort(nullptr);
        ResetWaveAudio();
        ClearDeviceLibrary();
        SetCurrentLabAdapter(nullptr);
        SetClock(nullptr);
    }

    // Puts a scripted phone in place as an opened one, without a thread, bridge ready.
    TestPhone* InstallTestPhone(bool offHook = false) {
        TestPhone* phone = new TestPhone(phones, true, offHook);
        cc->m_pPhone = phone;
        state.deviceLockDeleted = 0;
        state.devicePresent = 1;
        state.bridgeReady = 1;
        state.attachStatus = ATTACH_SUCCESS;
        state.playerIdle = 1;
        return phone;
    }

    void Pass(int count = 1) {
        for (int i = 0; i < count; ++i)
            ASSERT_TRUE(cc->PhoneEventPass());
    }
    // Hands the keys the loop posted to the key handler, as the message loop does.
    void DeliverKeys() {
        for (int8_t key : window.TakeKeys())
            cc->OnWindowMessage(WMU_PHONE_KEY, PHONE_KEY_EVENT, static_cast<intptr_t>(key));
    }
    // A key pressed on the phone: one pass of the loop, then the GUI thread's handling.
    void Key(TestPhone* phone, PhoneKey key) {
        phone->Press(key);
        Pass();
        DeliverKeys();
    }
    void Dial(TestPhone* phone, const std::string& keys) {
        for (char c : keys)
            Key(phone, c == '*' ? kKeyStar : c == '#' ? kKeyHash : static_cast<PhoneKey>(c));
    }
    // The MCI files opened so far, in order.
    std::string Prompts() {
        std::vector<std::string> names;
        for (const MciCall& c : mci.calls)
            if (c.command == MCI_CMD_OPEN) names.push_back(c.element);
        return JoinWords(names);
    }

    VirtualClock clock;
    LabAdapter lab;
    BridgeState state;
    FakeWindow window;
    FakeSkype skype{state};
    FakeMci mci;
    PhoneRecord phones;
    std::unique_ptr<TestCallControl> cc;
};
