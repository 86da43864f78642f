// Runs a fuzz target without libFuzzer: a fixed stream of pseudo-random inputs, some of them
// built from fragments that the parsers look for, so a plain build still reaches the deep paths.
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 1000;
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
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    return 0;
}
