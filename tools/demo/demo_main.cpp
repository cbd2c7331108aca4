// tessaly-demo: writes the built-in demo's synthetic disc and its patch package.

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/text.h"
#include "tools/demo/demo_disc.h"

namespace {

constexpr const char* kUsage =
    "usage: tessaly-demo package FILE [--seed N] [--full]\n"
    "       tessaly-demo disc DIR [--seed N] [--expected] [--full]\n\n"
    "package  writes only the demo's patch package (the one the programs embed)\n"
    "disc     writes DIR/original.iso (the synthetic original disc) and DIR/package.bin;\n"
    "         with --expected also DIR/expected.iso, the translated image the package must give,\n"
    "         and DIR/expected.txt with its size and CRC-32\n"
    "--full   the real disc's shape instead of the small demo: a 1.3 GB image, a 14.3 MB package,\n"
    "         an archive of 200 MB rebuilt from 1,003 records; disc then always writes\n"
    "         DIR/expected.txt (the expected image's size and CRC-32, computed while streaming)\n";

void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + tessaly::PathToUtf8(path));
}

int run(const std::vector<std::string>& args) {
    if (args.size() < 2 || (args[0] != "package" && args[0] != "disc")) {
        std::fputs(kUsage, stderr);
        return 64;
    }
    tessaly::demo::DemoOptions options;
    bool expected = false;
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--seed" && i + 1 < args.size()) {
            options.seed = std::stoull(args[++i]);
        } else if (args[i] == "--expected") {
            expected = true;
        } else if (args[i] == "--full") {
            options.fullScale = true;
        } else {
            std::fputs(kUsage, stderr);
            return 64;
        }
    }
    const auto disc = tessaly::demo::MakeDemoDisc(options);
    if (options.fullScale) tessaly::demo::CheckFullScaleFacts(disc);
    const std::filesystem::path target = tessaly::PathFromUtf8(args[1]);
    if (args[0] == "package") {
        writeFile(target, tessaly::demo::MakePackage(disc));
        return 0;
    }
    std::filesystem::create_directories(target);
    const auto original = tessaly::demo::WriteOriginalImage(disc, target / "original.iso");
    const auto package = tessaly::demo::MakePackage(disc);
    writeFile(target / "package.bin", package);
    std::printf("original.iso  %llu bytes\npackage.bin   %zu bytes (%zu files, %u archive patch records)\n",
                static_cast<unsigned long long>(original.bytes), package.size(), disc.files.size(),
                disc.recordCount);
    if (expected || options.fullScale) {
        const auto facts = tessaly::demo::WriteTranslatedImage(disc, expected ? target / "expected.iso" : std::filesystem::path());
        std::ofstream(target / "expected.txt") << facts.bytes << " " << std::hex << facts.crc << "\n";
        std::printf("expected%s  %llu bytes, CRC-32 %08X\n", expected ? ".iso" : ".txt", static_cast<unsigned long long>(facts.bytes),
                    facts.crc);
    }
    return 0;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(tessaly::Utf8FromWide(argv[i]));
#else
int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
#endif
    try {
        return run(args);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tessaly-demo: %s\n", e.what());
        return 1;
    }
}
