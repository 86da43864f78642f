#include "core/GuiThread.h"

#include <atomic>
#include <thread>

namespace {
std::atomic<std::thread::id> guiThread{};
} // namespace

bool OnGuiThread() {
    const std::thread::id self = std::this_thread::get_id();
    std::thread::id gui;
    return guiThread.compare_exchange_strong(gui, self) || gui == self;
}
