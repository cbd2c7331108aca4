#pragma once
// A demo disc in a test's folder as the two images a translation team has: ORIGINAL (the demo's
// original image, in its own order with gaps) and TRANSLATED (laid out as the patcher lays images
// out, unless a test writes it otherwise). Tests edit `disc` before WriteImages().

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "package/patch_package.h"
#include "support/temp_dir.h"
#include "tools/demo/demo_disc.h"

namespace tessaly::test {

struct CliResult {
    int code = 0;
    std::string out;
    std::string err;
};

CliResult RunCli(int (*command)(const cli::Invocation&), std::vector<std::string> args);

bool Contains(const std::string& text, const std::string& part);

class MakerFixture {
public:
    explicit MakerFixture(uint64_t seed = 1);

    void WriteImages();
    // TRANSLATED mastered in another order with gaps between the files: the same files and
    // directories, not the patcher's layout.
    void WriteTranslatedInOrder(const std::vector<size_t>& order, uint32_t gapSectors);

    CliResult MakePackage();                                   // ORIGINAL TRANSLATED -o package --report report
    CliResult Patch(const std::filesystem::path& source);      // into `output`, with the made package
    CliResult DryRun(const std::filesystem::path& source);
    CliResult Verify(const std::filesystem::path& image);

    demo::DemoFile& File(const std::string& path);
    std::string Report() const;

    TempDir dir;
    demo::DemoDisc disc;
    std::filesystem::path original, translated, package, report, output;
};

// Modes of a package's entries by path, read straight from its bytes (before the loader's
// boot-file rule changes any of them).
std::map<std::string, EntryMode> PackageModes(const std::vector<uint8_t>& package);

// An image's files (with their bytes) and directories, by its own directory through IsoIndex.
struct ImageListing {
    std::map<std::string, std::vector<uint8_t>> files;
    std::set<std::string> directories;
};
ImageListing ListImage(const std::filesystem::path& image);

// Byte offset of a file's directory record in an image, and of the file itself.
uint32_t RecordOffsetIn(const std::filesystem::path& image, const std::string& path);
uint64_t FileOffsetIn(const std::filesystem::path& image, const std::string& path);

// Flips one byte of a file in place.
void FlipByte(const std::filesystem::path& file, uint64_t offset);

}  // namespace tessaly::test
