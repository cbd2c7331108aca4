// Runs a fuzz target's entry function once over every input file, without libFuzzer: the corpus
// and the regression inputs replayed by ctest in every build (plain, sanitizer, Windows).
//   replay PATH...    PATH: an input file, or a folder whose files (not dot files) are inputs

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz/fuzz_check.h"

namespace {

namespace fs = std::filesystem;

bool replay(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot read %s\n", path.string().c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // An exactly sized block, so AddressSanitizer reports any read past the input's end.
    const auto exact = std::make_unique<uint8_t[]>(bytes.size() + (bytes.empty() ? 1 : 0));
    std::copy(bytes.begin(), bytes.end(), exact.get());
    LLVMFuzzerTestOneInput(exact.get(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    size_t inputs = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg(argv[i]);
        std::error_code error;
        std::vector<fs::path> files;
        if (fs::is_directory(arg, error)) {
            for (const auto& entry : fs::directory_iterator(arg, error))
                if (entry.is_regular_file() && entry.path().filename().string().rfind('.', 0) != 0)
                    files.push_back(entry.path());
        } else if (fs::is_regular_file(arg, error)) {
            files.push_back(arg);
        } else {
            std::fprintf(stderr, "replay: no such file or folder: %s\n", arg.string().c_str());
            return 2;
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            std::fprintf(stderr, "replay: %s\n", file.string().c_str());
            if (!replay(file)) return 2;
            ++inputs;
        }
    }
    std::printf("replayed %s inputs\n", std::to_string(inputs).c_str());
    return inputs == 0 ? 1 : 0;
}
