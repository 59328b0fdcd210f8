// Replays inputs through a fuzz target's LLVMFuzzerTestOneInput without
// libFuzzer, so that any compiler with the sanitizers can check the seed
// corpus and every input that once crashed on each test run.
//
//   replay-<target> PATH...   every regular file under each folder (in name
//                             order), and each file given directly
//
// A failing input aborts inside the target (or a sanitizer ends the run);
// the input's name is printed before it runs. Ends with "fuzz replay-<target>:
// <n> inputs ..." and fails when no input was found.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

namespace fs = std::filesystem;

int main(int argc, char **argv) {
    const std::string name = fs::path(argv[0]).filename().string();
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path p = argv[i];
        if (fs::is_directory(p)) {
            std::vector<fs::path> found;
            for (const auto &e : fs::recursive_directory_iterator(p))
                if (e.is_regular_file())
                    found.push_back(e.path());
            std::sort(found.begin(), found.end());
            inputs.insert(inputs.end(), found.begin(), found.end());
        } else if (fs::is_regular_file(p)) {
            inputs.push_back(p);
        } else {
            std::fprintf(stderr, "%s: no such file or folder: %s\n", name.c_str(), argv[i]);
            return 2;
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "%s: no inputs\n", name.c_str());
        return 1;
    }

    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    const auto start = std::chrono::steady_clock::now();
    size_t bytes = 0;
    for (const fs::path &p : inputs) {
        std::ifstream in(p, std::ios::binary);
        const std::vector<char> data{std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>()};
        if (!in.good() && !in.eof()) {
            std::fprintf(stderr, "%s: cannot read %s\n", name.c_str(), p.c_str());
            return 2;
        }
        std::fprintf(stderr, "%s: input %s\n", name.c_str(), p.c_str());
        // A heap copy of exactly the input's size (never a null pointer, also
        // for an empty input), so that ASan sees any read past its end.
        const std::unique_ptr<uint8_t[]> copy(new uint8_t[data.size()]);
        std::copy(data.begin(), data.end(), copy.get());
        LLVMFuzzerTestOneInput(copy.get(), data.size());
        bytes += data.size();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("fuzz %s: %zu inputs, %zu bytes, %.2f s, no failure\n", name.c_str(), inputs.size(),
                bytes, seconds);
    return 0;
}
