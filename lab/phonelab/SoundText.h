// What phonelab reads from the sound Kestrel played and which files a scenario may write.
// Portable.
//
// scripts/run-scenario points ALSA's default device at a file (KESTREL_ALSA_OUT): every stream
// Kestrel plays through the wave device is appended to it as raw samples, in whatever format the
// WAV file had. Measured under Wine 8: an 8 kHz 16-bit mono waveOut stream lands as exactly those
// samples (signed 16-bit little-endian, mono, 8000 Hz), though faster than real time, so a byte
// offset orders sounds but does not time them. Digital silence is a run of 0x00 bytes (signed
// samples) or 0x80 bytes (8-bit unsigned samples); anything else is sound.
#pragma once
#include <cstddef>
#include <string>

// Bytes of a played stream that are neither 0x00 nor 0x80.
size_t CountSounding(const char* bytes, size_t size);

// How many sounding bytes make "sound was played": 25 ms of 8 kHz 16-bit mono, far less than any
// prompt, far more than a click.
constexpr size_t kSoundingBytes = 400;

// A path as Wine's programs see it: "/tmp/a b/x.raw" -> "Z:\tmp\a b\x.raw". A path that is not
// absolute in the Unix sense is returned unchanged.
std::string WinePath(const std::string& path);

// Whether path names a file inside the current directory: relative, no drive, no ".." or "."
// component, no empty component ("wav\hello.wav" and "wav/hello.wav" are fine).
bool IsScratchPath(const std::string& path);
