// Plays PCM through the default wave device (in the lab: the capture file of
// scripts/run-scenario), as Kestrel plays on the adapter's sound device.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// 8 kHz 16-bit mono; returns once the device has taken all of it. wait(ms, done) waits up to ms
// until done() holds, keeping the caller's messages going.
bool PlayPcm8k(const std::vector<int16_t>& pcm,
               const std::function<bool(unsigned, const std::function<bool()>&)>& wait,
               std::string* error);
