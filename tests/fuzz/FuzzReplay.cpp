// Runs a fuzz target without libFuzzer: first every file of the given corpus folders (the seeds
// kept in the repository, and any finding kept as a regression), then a fixed stream of
// pseudo-random inputs, some of them built from fragments that the parsers look for, so a plain
// build still reaches the deep paths.
//   fuzz_<name> [runs [folder ...]]     (KESTREL_FUZZ_LAST=<file>: each generated input is
//                                        written there first, so a crash leaves it behind)
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 1000;
    for (int a = 2; a < argc; ++a) {
        std::vector<std::filesystem::path> files;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(argv[a], error))
            if (entry.is_regular_file()) files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        for (const auto& file : files) {
            std::ifstream in(file, std::ios::binary);
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        }
    }
    static const char* const kFragments[] = {
        "CALL ",
        " STATUS ",
        "RINGING",
        "ROUTING",
        "FINISHED",
        "MISSED",
        "REFUSED",
        "INPROGRESS",
        "FAILED",
        "call error",
        "ERROR 101",
        "Access denied",
        "CONNSTATUS LOGGEDOUT",
        "invalid call id",
        "1.-->",
        "20.-->",
        "7.-->",
        "\r\n",
        "\n",
        "\r",
        "a.wav",
        " ",
        "0",
        "12345678",
        "\xff",
    };
    const char* last = std::getenv("KESTREL_FUZZ_LAST");
    std::mt19937 rng(12345);
    std::vector<uint8_t> input;
    for (int i = 0; i < runs; ++i) {
        input.clear();
        const int pieces = static_cast<int>(rng() % 12);
        for (int p = 0; p < pieces; ++p) {
            if (rng() % 3 == 0) {
                const int count = static_cast<int>(rng() % 300);
                for (int b = 0; b < count; ++b)
                    input.push_back(static_cast<uint8_t>(rng()));
            } else {
                const std::string frag =
                    kFragments[rng() % (sizeof kFragments / sizeof *kFragments)];
                input.insert(input.end(), frag.begin(), frag.end());
            }
        }
        // An input that aborts the run is left in this file, to be replayed alone.
        if (last != nullptr) {
            std::ofstream out(last, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(input.data()),
                      static_cast<std::streamsize>(input.size()));
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    return 0;
}
