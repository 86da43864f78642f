#include "unit/callerid/Decoders.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

extern "C" {
#include <spandsp.h>
}

namespace {

void Collect(void* user, const uint8_t* msg, int len) {
    auto* out = static_cast<std::vector<std::string>*>(user);
    out->emplace_back(reinterpret_cast<const char*>(msg), static_cast<size_t>(len));
}

} // namespace

std::vector<std::string> SpandspMessages(int adsiStandard, const std::vector<int16_t>& pcm) {
    std::vector<std::string> messages;
    adsi_rx_state_t* rx = adsi_rx_init(nullptr, adsiStandard, Collect, &messages);
    if (!rx) return messages;
    // In blocks, as a sound device delivers them, then some silence to flush the receiver.
    std::vector<int16_t> all = pcm;
    all.insert(all.end(), 1600, 0);
    for (size_t i = 0; i < all.size(); i += 160) {
        int n = static_cast<int>(all.size() - i < 160 ? all.size() - i : 160);
        adsi_rx(rx, all.data() + i, n);
    }
    adsi_rx_free(rx);
    return messages;
}

std::vector<DecodedField> SpandspFields(int adsiStandard, const std::string& message) {
    std::vector<DecodedField> fields;
    adsi_rx_state_t* rx = adsi_rx_init(nullptr, adsiStandard, Collect, nullptr);
    const uint8_t* msg = reinterpret_cast<const uint8_t*>(message.data());
    int len = static_cast<int>(message.size());
    int pos = -1;
    for (int guard = 0; guard < 64; ++guard) {
        uint8_t type = 0;
        const uint8_t* body = nullptr;
        int bodyLen = 0;
        pos = adsi_next_field(rx, msg, len, pos, &type, &body, &bodyLen);
        if (bodyLen < 0) break;
        fields.push_back({type, body ? std::string(reinterpret_cast<const char*>(body),
                                                   static_cast<size_t>(bodyLen))
                                     : std::string()});
    }
    adsi_rx_free(rx);
    return fields;
}

std::string MultimonDecode(const std::vector<int16_t>& pcm, const std::vector<std::string>& demods,
                           bool& ok) {
    ok = false;
    char path[] = "/tmp/callerid-multimon-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return {};
    // Linear interpolation to 22050 Hz is plenty for tones below 3 kHz.
    std::vector<int16_t> out;
    size_t n = pcm.size() * 22050 / 8000;
    for (size_t i = 0; i < n; ++i) {
        double x = static_cast<double>(i) * 8000.0 / 22050.0;
        size_t k = static_cast<size_t>(x);
        double frac = x - static_cast<double>(k);
        double a = pcm[k], b = k + 1 < pcm.size() ? pcm[k + 1] : 0;
        out.push_back(static_cast<int16_t>(std::lround(a + (b - a) * frac)));
    }
    out.insert(out.end(), 22050 / 2, 0);
    bool written = write(fd, out.data(), out.size() * 2) == static_cast<ssize_t>(out.size() * 2);
    close(fd);
    std::string text;
    if (written) {
        std::string cmd = "multimon-ng -q -c";
        for (const std::string& d : demods)
            cmd += " -a " + d;
        cmd += " -t raw ";
        cmd += path;
        cmd += " 2>&1";
        if (std::FILE* p = popen(cmd.c_str(), "r")) {
            char buf[512];
            size_t got;
            while ((got = std::fread(buf, 1, sizeof buf, p)) > 0)
                text.append(buf, got);
            ok = pclose(p) == 0;
        }
    }
    std::remove(path);
    return text;
}
