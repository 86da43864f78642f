// "wavefilesetup.ini" as anyone may have left it: binary junk, long lines, no line ends.
#include "fuzz/FuzzFakes.h"
#include "playback/PlaybackTable.h"

#include <cstdio>
#include <filesystem>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool inScratch = false;
    if (!inScratch) {
        const auto dir = std::filesystem::temp_directory_path() / "kestrel-fuzz-settings";
        std::filesystem::create_directories(dir);
        std::filesystem::current_path(dir);
        inScratch = true;
    }
    std::FILE* f = std::fopen(kPlaybackSettingsFile, "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    NullWindow window;
    LoadPlaybackTable(window);
    if (window.lastLength > kSettingsLineMax) std::abort();
    return 0;
}
