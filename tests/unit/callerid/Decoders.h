// Decoders nobody here wrote, wrapped for the caller-ID tests: spandsp's caller-ID receiver
// and multimon-ng.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct DecodedField {
    int type;
    std::string body;
};

// Messages spandsp's receiver delivers from pcm (8 kHz), one entry per message, bytes as it
// delivers them. adsiStandard is one of ADSI_STANDARD_CLASS, _CLIP, _CLIP_DTMF.
std::vector<std::string> SpandspMessages(int adsiStandard, const std::vector<int16_t>& pcm);
// The fields of one FSK message, read with spandsp's own field walker.
std::vector<DecodedField> SpandspFields(int adsiStandard, const std::string& message);

// Runs multimon-ng with the given demodulators on pcm (8 kHz, resampled here to its 22050 Hz)
// and returns what it printed; false in ok when it could not be run.
std::string MultimonDecode(const std::vector<int16_t>& pcm, const std::vector<std::string>& demods,
                           bool& ok);
