// Runs a fuzz target's entry point over files and folders of inputs (the committed corpus and
// past crashers), so the normal build re-checks them without libFuzzer. Fails when an input
// crashes (the process dies) or when no input was found at all.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path p(argv[i]);
        std::error_code ec;
        if (fs::is_directory(p, ec)) {
            for (const auto& e : fs::recursive_directory_iterator(p, ec))
                if (e.is_regular_file() && e.path().filename().string()[0] != '.')
                    inputs.push_back(e.path());
        } else if (fs::is_regular_file(p, ec)) {
            inputs.push_back(p);
        } // a folder that does not exist yet (no crashers so far) is simply empty
    }
    std::sort(inputs.begin(), inputs.end());
    for (const fs::path& p : inputs) {
        std::ifstream f(p, std::ios::binary);
        const std::vector<uint8_t> data{std::istreambuf_iterator<char>(f), {}};
        std::printf("%s\n", p.c_str());
        std::fflush(stdout); // names the culprit if the next call dies
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    std::printf("%zu inputs replayed\n", inputs.size());
    return inputs.empty() ? 1 : 0;
}
