#include "LabAdapter.h"

#include "core/Clock.h"
#include "device/KwIpApi.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

// Bridge bits the hardware drives.
constexpr int kBridgeStatus = 15;
constexpr uint8_t kPstnNotRinging = 0x20; // clear while the PSTN line rings
constexpr int kBridgePins = 18;
constexpr uint8_t kNoSlicInterrupt = 0x80; // clear while the line chip interrupts
constexpr uint8_t kLineInUse = 0x10;

std::string BoundedString(const char* text, size_t limit) {
    size_t n = 0;
    while (n < limit && text[n] != '\0')
        ++n;
    return std::string(text, n);
}

std::atomic<LabAdapter*> currentAdapter{nullptr};

} // namespace

const char* LabFaultName(LabFault fault) {
    switch (fault) {
    case LabFault::None: return "none";
    case LabFault::NullPointer: return "null pointer";
    case LabFault::NullBuffer: return "null buffer";
    case LabFault::CountMismatch: return "count mismatch";
    case LabFault::MissingMarker: return "missing write marker";
    case LabFault::BadDirection: return "bad direction";
    case LabFault::BadRequest: return "bad request byte";
    case LabFault::BadValueField: return "bad value field";
    case LabFault::OutOfRange: return "register out of range";
    case LabFault::BadValue: return "value too wide";
    case LabFault::UnknownCode: return "unknown code";
    }
    return "?";
}

LabAdapter::LabAdapter() {
    keypad_.SetProduct(productId_);
    peripherals_.push_back(&keypad_);
    panel_.SetProduct(productId_);
    peripherals_.push_back(&panel_);
    RefreshInputs();
}

LabAdapter::~LabAdapter() {
    LabAdapter* self = this;
    currentAdapter.compare_exchange_strong(self, nullptr);
}

bool LabAdapter::ReachesDevice(int code) {
    switch (code) {
    case VC_CLOSE:
    case VC_REGISTER_WINDOW:
    case VC_UNREGISTER_WINDOW:
    case VC_DEVICE_CHANGE:
    case VC_CLOSE_MIXER:
    case VC_MIXER_CHANGE: return false;
    default: return true;
    }
}

bool LabAdapter::IsGatewayProduct(int productId) {
    return productId == 0xC290 || productId == 0xC291 || productId == 0xC39C || productId == 0xF39C;
}

int LabAdapter::Call(int code, int param, void* pointer) {
    LabCall rec;
    rec.code = code;
    rec.param = param;
    rec.pointer = reinterpret_cast<uintptr_t>(pointer);
    unsigned sleepMs = 0;
    Clock* clock = nullptr;
    std::function<void(const LabCall&)> hook;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (stallCount_ != 0 && stallMs_ && present_ && ReachesDevice(code)) {
            rec.stallMs = stallMs_;
            if (stallCount_ > 0) --stallCount_;
            Clock* stallClock = latencyClock_ ? latencyClock_ : &GetClock();
            // A slow bus: the others (the control channel, the other thread) get through.
            lock.unlock();
            stallClock->Sleep(rec.stallMs);
            lock.lock();
        }
        slic_.SetTime(GetClock().NowMs());
        rec.index = totalCalls_++;
        rec.result = CallLocked(rec, pointer);
        calls_.push_back(rec);
        if (callLimit_ && calls_.size() > callLimit_) calls_.pop_front();
        if (rec.fault != LabFault::None) faults_.push_back(rec);
        if (latencyUs_ && latencyClock_) {
            latencyDebtUs_ += latencyUs_;
            sleepMs = latencyDebtUs_ / 1000;
            latencyDebtUs_ %= 1000;
            clock = latencyClock_;
        }
        hook = callHook_;
    }
    if (hook) hook(rec);
    // Outside the mutex: the bus is slow, the model's bookkeeping is not.
    if (sleepMs) clock->Sleep(sleepMs);
    return rec.result;
}

bool LabAdapter::Blocked(LabCall& rec, int regs) {
    if (!present_ && ReachesDevice(rec.code)) {
        rec.unplugged = true;
        return true;
    }
    bool fail = false;
    auto next = failNext_.find(rec.code);
    if (next != failNext_.end()) {
        fail = true;
        if (--next->second <= 0) failNext_.erase(next);
    }
    if (refused_.count(rec.code)) fail = true;
    if (rec.target != LabTarget::None) {
        for (int r = rec.reg; r < rec.reg + regs; ++r) {
            auto at = failNextAt_.find({rec.code, r});
            if (at == failNextAt_.end()) continue;
            fail = true;
            if (--at->second <= 0) failNextAt_.erase(at);
            break;
        }
        if (!rec.write && ReadFails(rec.target, rec.reg, regs)) fail = true;
    }
    if (randomFraction_ > 0 && rec.code != VC_OPEN && rec.code != VC_SELECT_AUDIO_DEVICE &&
        rec.code != VC_OPEN_MIXER && ReachesDevice(rec.code) && RandomFailure())
        fail = true;
    if (fail) {
        rec.injected = true;
        ++injectedFailures_;
    }
    return fail;
}

bool LabAdapter::RandomFailure() {
    // SplitMix64: the same numbers from the same seed everywhere; 53 bits make an exact double
    // in [0, 1).
    uint64_t z = (randomState_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * (1.0 / 9007199254740992.0) < randomFraction_;
}

int LabAdapter::CallLocked(LabCall& rec, void* pointer) {
    auto malformed = [&rec](LabFault f) {
        rec.fault = f;
        return 0;
    };
    // Past the request checks: whether it fails (unplugged, injected) instead of taking effect.
    auto blocked = [this, &rec]() { return Blocked(rec, 1); };
    const uintptr_t value = rec.pointer;

    switch (rec.code) {
    case VC_OPEN:
        if (!pointer) return malformed(LabFault::NullPointer);
        if (blocked()) return 0;
        std::memcpy(pointer, &productId_, sizeof productId_);
        rec.value = productId_;
        opened_ = true;
        LabPci::OnOpen(productId_, slic_);
        return 1;
    case VC_CLOSE:
        if (blocked()) return 0;
        opened_ = false;
        return 1;
    case VC_REGISTER_REQUEST: return BridgeRequest(rec, pointer);
    case VC_SLIC_READ_DIRECT:
    case VC_SLIC_WRITE_DIRECT:
    case VC_SLIC_READ_INDIRECT:
    case VC_SLIC_WRITE_INDIRECT: {
        const bool indirect = rec.code >= VC_SLIC_READ_INDIRECT;
        rec.target = indirect ? LabTarget::SlicIndirect : LabTarget::SlicDirect;
        rec.write = rec.code == VC_SLIC_WRITE_DIRECT || rec.code == VC_SLIC_WRITE_INDIRECT;
        rec.reg = rec.param;
        if (rec.param < 0 || rec.param >= LabSlic::kRegisters)
            return malformed(LabFault::OutOfRange);
        if (rec.write) {
            if (value > (indirect ? 0xFFFFu : 0xFFu)) return malformed(LabFault::BadValue);
            rec.value = static_cast<int>(value);
            if (blocked()) return 0;
            if (indirect)
                slic_.WriteIndirect(rec.reg, static_cast<uint16_t>(value));
            else
                slic_.WriteDirect(rec.reg, static_cast<uint8_t>(value));
            return 1;
        }
        if (!pointer) return malformed(LabFault::NullPointer);
        if (blocked()) return 0;
        if (indirect) {
            const uint16_t word = slic_.ReadIndirect(rec.reg);
            std::memcpy(pointer, &word, sizeof word);
            rec.value = word;
        } else {
            const uint8_t byte = slic_.ReadDirect(rec.reg);
            std::memcpy(pointer, &byte, sizeof byte);
            rec.value = byte;
        }
        return 1;
    }
    case VC_READ_EVENT:
        if (!pointer) return malformed(LabFault::NullPointer);
        if (blocked()) return 0;
        {
            int event = 0;
            if (!pci_.Next(event)) return 0;
            std::memcpy(pointer, &event, sizeof event);
            rec.value = event;
        }
        return 1;
    case VC_KEY_EVENT: return blocked() ? 0 : 1;
    case VC_REGISTER_WINDOW:
        // The handle arrives truncated to an int; window handles keep their meaning sign-extended.
        rec.window = static_cast<uintptr_t>(static_cast<intptr_t>(rec.param));
        if (blocked()) return 0;
        window_ = rec.window;
        return present_ ? 0 : 1;
    case VC_UNREGISTER_WINDOW:
        if (blocked()) return 0;
        window_ = 0;
        return 1;
    case VC_DEVICE_CHANGE: return blocked() ? 0 : 1;
    case VC_SELECT_AUDIO_DEVICE:
        if (!pointer) return malformed(LabFault::NullPointer);
        rec.text = BoundedString(static_cast<const char*>(pointer), 255);
        if (blocked()) return 0;
        audioName_ = rec.text;
        return audioFound_ ? 1 : 0;
    case VC_SWITCH_OFF:
    case VC_SWITCH_ON:
        if (blocked()) return 0;
        switch_ = rec.code == VC_SWITCH_ON ? 1 : 0;
        return 1;
    case VC_SWITCH_OPTION:
    case VC_GATEWAY_START: return blocked() ? 0 : 1;
    case VC_SELECT_LINE:
        if (blocked()) return 0;
        line_ = rec.param;
        return 1;
    case VC_OPEN_MIXER: {
        if (!pointer) return malformed(LabFault::NullPointer);
        MixerOpenBlock block;
        std::memcpy(&block, pointer, sizeof block);
        rec.text = BoundedString(block.name, sizeof block.name - 1);
        rec.window = reinterpret_cast<uintptr_t>(block.window);
        if (blocked()) return 0;
        if (!mixerOpens_) {
            rec.injected = true;
            ++injectedFailures_;
            return 0;
        }
        mixerName_ = rec.text;
        mixerOpen_ = true;
        return static_cast<int>(kLabMixerHandle);
    }
    case VC_CLOSE_MIXER:
        if (blocked()) return 0;
        mixerOpen_ = false;
        return 1;
    case VC_MIXER_CHANGE: return blocked() ? 0 : 1;
    case VC_CALL48:
    case VC_CALL49:
    case VC_CALL50: return blocked() ? 0 : 1;
    case VC_HARDWARE_ID: {
        if (!pointer) return malformed(LabFault::NullPointer);
        if (blocked()) return 0;
        static const char kId[] = "KESTREL-LAB-0001";
        if (rec.param <= 0) return 0;
        const size_t n = std::min(sizeof kId - 1, static_cast<size_t>(rec.param) - 1);
        std::memcpy(pointer, kId, n);
        static_cast<char*>(pointer)[n] = '\0';
        return 1;
    }
    default: break;
    }
    // Codes the library has but this system never relies on: accepted, no effect.
    const int c = rec.code;
    if (c == 5 || c == 8 || c == 19 || c == 21 || (c >= 26 && c <= 30) || (c >= 33 && c <= 44) ||
        c == 46 || c == 47) {
        blocked();
        return 0;
    }
    return malformed(LabFault::UnknownCode);
}

int LabAdapter::BridgeRequest(LabCall& rec, void* pointer) {
    rec.target = LabTarget::Bridge;
    if (!pointer) {
        rec.fault = LabFault::NullPointer;
        return 0;
    }
    RequestBlock block;
    std::memcpy(&block, pointer, sizeof block);
    const RequestHeader& h = block.header;
    rec.request = h.request;
    rec.reg = h.reg;
    rec.write = h.direction == kDirectionWrite;
    const bool sameRegister = h.request == (kRequestRegister | 1);

    LabFault f = LabFault::None;
    if (h.request != kRequestRegister && !sameRegister)
        f = LabFault::BadRequest;
    else if (h.direction != kDirectionRead && h.direction != kDirectionWrite)
        f = LabFault::BadDirection;
    else if (h.value != 0)
        f = LabFault::BadValueField;
    else if (h.count != block.count)
        f = LabFault::CountMismatch;
    else if (rec.write && h.marker != kWriteMarker)
        f = LabFault::MissingMarker;
    else if (h.count > 0 && !block.buffer)
        f = LabFault::NullBuffer;
    else if (h.reg >= LabBridge::kRegisters ||
             (!sameRegister && h.reg + h.count > LabBridge::kRegisters))
        f = LabFault::OutOfRange;
    if (f != LabFault::None) {
        rec.fault = f;
        return 0;
    }
    const int count = h.count;
    uint8_t* buffer = static_cast<uint8_t*>(block.buffer);
    if (rec.write) rec.bytes.assign(buffer, buffer + count); // what was sent, even if it fails
    if (Blocked(rec, sameRegister ? 1 : std::max(count, 1))) return 0;
    if (rec.write) {
        for (int i = 0; i < count; ++i) {
            const int reg = sameRegister ? h.reg : h.reg + i;
            bridge_.Write(reg, buffer[i]);
            for (LabPeripheral* p : peripherals_)
                p->OnBridgeWrite(reg, buffer[i]);
        }
        return 1;
    }
    RefreshInputs();
    for (int i = 0; i < count; ++i)
        buffer[i] = bridge_.Read(sameRegister ? h.reg : h.reg + i);
    rec.bytes.assign(buffer, buffer + count);
    for (int i = 0; i < count; ++i)
        for (LabPeripheral* p : peripherals_)
            p->OnBridgeRead(sameRegister ? h.reg : h.reg + i, buffer[i]);
    return 1;
}

bool LabAdapter::ReadFails(LabTarget target, int reg, int count) {
    for (int r = reg; r < reg + count; ++r) {
        auto it = failReads_.find({static_cast<int>(target), r});
        if (it == failReads_.end()) continue;
        if (it->second > 0 && --it->second == 0) failReads_.erase(it);
        return true;
    }
    return false;
}

void LabAdapter::PowerOn() {
    bridge_.Reset();
    slic_.Reset();
    for (LabPeripheral* p : peripherals_)
        p->PowerOn();
    pci_.Clear();
    line_ = -1;
    switch_ = -1;
}

void LabAdapter::RefreshInputs() {
    // The line chip's interrupt output drives pin 0x80; on the gateways the line-use detector
    // drives pin 0x10 (the telephone takes the PSTN line when the line switch gives it to the
    // PSTN side). Elsewhere pin 0x10 is a plain pin of the bridge.
    uint8_t pinInputs = kNoSlicInterrupt;
    uint8_t pins = slic_.InterruptPending() ? 0 : kNoSlicInterrupt;
    if (IsGatewayProduct(productId_)) {
        pinInputs |= kLineInUse;
        if (pstnBusy_ || (line_ == 0 && offHook_)) pins |= kLineInUse;
    }
    struct Inputs {
        int reg;
        uint8_t mask;
        uint8_t levels;
    } inputs[] = {
        {kBridgePins, pinInputs, pins},
        {kBridgeStatus, kPstnNotRinging, static_cast<uint8_t>(pstnRinging_ ? 0 : kPstnNotRinging)},
        {LabKeypad::kColumnRegister, 0, 0}, // driven by the handset keypad
        {10, 0, 0},                         // the second-generation panel (LabPanel)
        {22, 0, 0},
        {26, 0, 0},
    };
    for (Inputs& in : inputs) {
        uint8_t external = in.mask;
        for (LabPeripheral* p : peripherals_) {
            uint8_t mask = 0, levels = 0;
            p->DriveInputs(in.reg, bridge_.Latch(in.reg), mask, levels);
            in.mask |= mask;
            in.levels = static_cast<uint8_t>((in.levels & ~mask) | (levels & mask));
            external = static_cast<uint8_t>(external & ~mask); // the peripheral's pins now
        }
        bridge_.SetInputs(in.reg, in.mask, in.levels, external);
    }
}

// --- configuration ---

void LabAdapter::SetProductId(int productId) {
    std::lock_guard<std::mutex> lock(mutex_);
    productId_ = productId;
    keypad_.SetProduct(productId);
    panel_.SetProduct(productId);
}
int LabAdapter::ProductId() {
    std::lock_guard<std::mutex> lock(mutex_);
    return productId_;
}
void LabAdapter::SetPresent(bool present) {
    std::lock_guard<std::mutex> lock(mutex_);
    present_ = present;
}
bool LabAdapter::Present() {
    std::lock_guard<std::mutex> lock(mutex_);
    return present_;
}
void LabAdapter::SetLatency(unsigned microseconds, Clock* clock) {
    std::lock_guard<std::mutex> lock(mutex_);
    latencyUs_ = microseconds;
    latencyClock_ = clock;
    latencyDebtUs_ = 0;
}
void LabAdapter::SetAudioDeviceFound(bool found) {
    std::lock_guard<std::mutex> lock(mutex_);
    audioFound_ = found;
}
void LabAdapter::SetMixerOpens(bool opens) {
    std::lock_guard<std::mutex> lock(mutex_);
    mixerOpens_ = opens;
}
void LabAdapter::SetPostHook(std::function<void(const LabPost&)> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    postHook_ = std::move(hook);
}
void LabAdapter::SetCallHook(std::function<void(const LabCall&)> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    callHook_ = std::move(hook);
}
void LabAdapter::AttachPeripheral(LabPeripheral* peripheral) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (peripheral) peripherals_.push_back(peripheral);
}
void LabAdapter::SetCallLimit(size_t limit) {
    std::lock_guard<std::mutex> lock(mutex_);
    callLimit_ = limit;
    while (callLimit_ && calls_.size() > callLimit_)
        calls_.pop_front();
}
void LabAdapter::ConfigureSlic(const LabSlicConfig& config) {
    std::lock_guard<std::mutex> lock(mutex_);
    slic_.Configure(config);
}
LabSlicConfig LabAdapter::SlicConfig() {
    std::lock_guard<std::mutex> lock(mutex_);
    return slic_.Config();
}

// --- fault injection ---

void LabAdapter::FailNext(int code, int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count > 0)
        failNext_[code] = count;
    else
        failNext_.erase(code);
}
void LabAdapter::FailReads(LabTarget target, int reg, int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count == 0)
        failReads_.erase({static_cast<int>(target), reg});
    else
        failReads_[{static_cast<int>(target), reg}] = count < 0 ? -1 : count;
}
void LabAdapter::FailNextAt(int code, int reg, int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count > 0)
        failNextAt_[{code, reg}] = count;
    else
        failNextAt_.erase({code, reg});
}
void LabAdapter::FailRandom(double fraction, uint32_t seed) {
    std::lock_guard<std::mutex> lock(mutex_);
    randomFraction_ = fraction > 0 ? (fraction < 1 ? fraction : 1.0) : 0.0;
    randomState_ = seed;
}
void LabAdapter::RefuseCode(int code, bool refuse) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (refuse)
        refused_.insert(code);
    else
        refused_.erase(code);
}
void LabAdapter::SetStall(unsigned ms, int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    stallMs_ = ms;
    stallCount_ = ms ? (count < 0 ? -1 : count) : 0;
}
int LabAdapter::InjectedFailures() {
    std::lock_guard<std::mutex> lock(mutex_);
    return injectedFailures_;
}
void LabAdapter::ClearFailures() {
    std::lock_guard<std::mutex> lock(mutex_);
    failNext_.clear();
    failReads_.clear();
    failNextAt_.clear();
    refused_.clear();
    randomFraction_ = 0;
    stallMs_ = 0;
    stallCount_ = 0;
}

// --- the world around the adapter ---

void LabAdapter::QueuePost(unsigned message) {
    if (!window_) return;
    LabPost post{window_, message, 0, static_cast<intptr_t>(productId_)};
    posts_.push_back(post);
    pendingPosts_.push_back(post);
}

void LabAdapter::FlushPosts() {
    std::vector<LabPost> posts;
    std::function<void(const LabPost&)> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        posts.swap(pendingPosts_);
        hook = postHook_;
    }
    if (hook)
        for (const LabPost& p : posts)
            hook(p);
}

void LabAdapter::Unplug() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        present_ = false;
        opened_ = false;
        QueuePost(kLabDeviceRemoved);
    }
    FlushPosts();
}
void LabAdapter::Plug() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!present_) PowerOn();
        present_ = true;
        QueuePost(kLabDeviceArrived);
    }
    FlushPosts();
}
bool LabAdapter::Plugged() {
    std::lock_guard<std::mutex> lock(mutex_);
    return present_;
}
void LabAdapter::LiftReceiver() {
    std::lock_guard<std::mutex> lock(mutex_);
    // The PCI card's driver reports hook changes as events.
    if (!offHook_ && LabPci::IsPciProduct(productId_)) pci_.Hook(true);
    offHook_ = true;
    slic_.SetHook(true);
}
void LabAdapter::ReplaceReceiver() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (offHook_ && LabPci::IsPciProduct(productId_)) pci_.Hook(false);
    offHook_ = false;
    slic_.SetHook(false);
}
bool LabAdapter::PressDtmf(char key) {
    const int code = LabSlic::DtmfCode(key);
    if (code < 0) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    slic_.Dtmf(code);
    // The PCI card's driver reports the digit; a handset has the key on its own keypad.
    if (LabPci::IsPciProduct(productId_)) pci_.Dtmf(key);
    if (keypad_.Active()) keypad_.Tap(key);
    return true;
}
bool LabAdapter::OffHook() {
    std::lock_guard<std::mutex> lock(mutex_);
    return offHook_;
}
void LabAdapter::SetPstnRinging(bool ringing) {
    std::lock_guard<std::mutex> lock(mutex_);
    pstnRinging_ = ringing;
}
void LabAdapter::SetPstnLineBusy(bool busy) {
    std::lock_guard<std::mutex> lock(mutex_);
    pstnBusy_ = busy;
}
void LabAdapter::ResetSlic() {
    std::lock_guard<std::mutex> lock(mutex_);
    slic_.SetTime(GetClock().NowMs());
    slic_.Reset();
}
void LabAdapter::QueueEvent(int event) {
    std::lock_guard<std::mutex> lock(mutex_);
    pci_.Queue(event);
}
int LabAdapter::PendingEvents() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(pci_.Pending());
}
bool LabAdapter::PressKey(char key, bool down) {
    std::lock_guard<std::mutex> lock(mutex_);
    return keypad_.Press(key, down);
}
bool LabAdapter::TapKey(char key) {
    std::lock_guard<std::mutex> lock(mutex_);
    return keypad_.Tap(key);
}
bool LabAdapter::Sounding() {
    std::lock_guard<std::mutex> lock(mutex_);
    return keypad_.Sounding();
}
bool LabAdapter::RelayOn() {
    std::lock_guard<std::mutex> lock(mutex_);
    return keypad_.RelayOn();
}
uint16_t LabAdapter::EepromWord(int address) {
    std::lock_guard<std::mutex> lock(mutex_);
    return keypad_.Eeprom().Word(address);
}
void LabAdapter::SetEepromWord(int address, uint16_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    keypad_.Eeprom().SetWord(address, value);
}
void LabAdapter::SetEepromBusyClocks(int clocks) {
    std::lock_guard<std::mutex> lock(mutex_);
    keypad_.Eeprom().SetBusyClocks(clocks);
}
std::vector<LabEepromCommand> LabAdapter::EepromCommands() {
    std::lock_guard<std::mutex> lock(mutex_);
    return keypad_.Eeprom().Commands();
}

// --- observation ---

std::vector<LabCall> LabAdapter::Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::vector<LabCall>(calls_.begin(), calls_.end());
}
std::vector<LabCall> LabAdapter::CallsOf(int code) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<LabCall> out;
    for (const LabCall& c : calls_)
        if (c.code == code) out.push_back(c);
    return out;
}
int LabAdapter::CallCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return totalCalls_;
}
void LabAdapter::ClearCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
    faults_.clear();
    posts_.clear();
    totalCalls_ = 0;
    injectedFailures_ = 0;
}
std::vector<LabCall> LabAdapter::Faults() {
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_;
}
int LabAdapter::FaultCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(faults_.size());
}

namespace {
std::vector<LabRegWrite> WritesOf(const std::deque<LabCall>& calls, LabTarget target) {
    std::vector<LabRegWrite> out;
    for (const LabCall& c : calls) {
        if (c.target != target || !c.write || c.result == 0) continue;
        if (target != LabTarget::Bridge) {
            out.push_back({c.reg, c.value});
            continue;
        }
        const bool same = c.request & 1;
        for (size_t i = 0; i < c.bytes.size(); ++i)
            out.push_back({same ? c.reg : c.reg + static_cast<int>(i), c.bytes[i]});
    }
    return out;
}
} // namespace

std::vector<LabRegWrite> LabAdapter::BridgeWrites() {
    std::lock_guard<std::mutex> lock(mutex_);
    return WritesOf(calls_, LabTarget::Bridge);
}
std::vector<LabRegWrite> LabAdapter::SlicDirectWrites() {
    std::lock_guard<std::mutex> lock(mutex_);
    return WritesOf(calls_, LabTarget::SlicDirect);
}
std::vector<LabRegWrite> LabAdapter::SlicIndirectWrites() {
    std::lock_guard<std::mutex> lock(mutex_);
    return WritesOf(calls_, LabTarget::SlicIndirect);
}
std::vector<LabPost> LabAdapter::Posts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return posts_;
}

int LabAdapter::BridgeRegister(int reg) {
    std::lock_guard<std::mutex> lock(mutex_);
    RefreshInputs();
    return bridge_.Read(reg);
}
int LabAdapter::SlicDirect(int reg) {
    std::lock_guard<std::mutex> lock(mutex_);
    return slic_.PeekDirect(reg);
}
int LabAdapter::SlicIndirect(int reg) {
    std::lock_guard<std::mutex> lock(mutex_);
    return slic_.ReadIndirect(reg);
}
long LabAdapter::LineFeedStretchMs(uint8_t state) {
    std::lock_guard<std::mutex> lock(mutex_);
    slic_.SetTime(GetClock().NowMs());
    return slic_.LastStretchMs(state);
}
void LabAdapter::SetSoundMeter(std::function<long long()> meter) {
    std::lock_guard<std::mutex> lock(mutex_);
    slic_.SetSoundMeter(std::move(meter));
}
bool LabAdapter::LineFeedStretchSound(uint8_t state, long long* begin, long long* end) {
    std::lock_guard<std::mutex> lock(mutex_);
    return slic_.LastStretchSound(state, begin, end);
}
std::vector<LabLineFeedChange> LabAdapter::LineFeedChanges() {
    std::lock_guard<std::mutex> lock(mutex_);
    return slic_.LineFeedChanges();
}
LabTone LabAdapter::Tone() {
    std::lock_guard<std::mutex> lock(mutex_);
    return slic_.Tone();
}
bool LabAdapter::Ringing() {
    std::lock_guard<std::mutex> lock(mutex_);
    slic_.SetTime(GetClock().NowMs());
    // On the PSTN side the telephone rings from the line itself.
    return slic_.BellSounding() || (line_ == 0 && pstnRinging_) || keypad_.Sounding() ||
           panel_.Sounding();
}
int LabAdapter::SwitchState() {
    std::lock_guard<std::mutex> lock(mutex_);
    return switch_;
}
bool LabAdapter::PressPanelKey(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    return panel_.PressKey(name.c_str());
}
int LabAdapter::SelectedLine() {
    std::lock_guard<std::mutex> lock(mutex_);
    return line_;
}
bool LabAdapter::Opened() {
    std::lock_guard<std::mutex> lock(mutex_);
    return opened_;
}
uintptr_t LabAdapter::RegisteredWindow() {
    std::lock_guard<std::mutex> lock(mutex_);
    return window_;
}
std::string LabAdapter::AudioDeviceName() {
    std::lock_guard<std::mutex> lock(mutex_);
    return audioName_;
}
std::string LabAdapter::MixerName() {
    std::lock_guard<std::mutex> lock(mutex_);
    return mixerName_;
}
bool LabAdapter::MixerOpen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return mixerOpen_;
}

// --- the C entry ---

int LabVaVoRarCall(int code, int param, void* pointer) {
    LabAdapter* adapter = currentAdapter.load();
    return adapter ? adapter->Call(code, param, pointer) : 0;
}
void SetCurrentLabAdapter(LabAdapter* adapter) {
    currentAdapter.store(adapter);
}
LabAdapter* CurrentLabAdapter() {
    return currentAdapter.load();
}
