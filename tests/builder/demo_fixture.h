#pragma once
// The demo disc written into a test's folder: the original image, the package and the image the
// package must give, computed by the demo generator's own layout code (not the build job's).

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tools/demo/demo_disc.h"

namespace tessaly::test {

class DemoFixture {
public:
    // Small demo disc by default; tests change `disc` before Write().
    explicit DemoFixture(uint64_t seed = 1);

    // Writes original.iso, package.bin and expected.iso into the folder.
    void Write();

    size_t IndexOf(const std::string& path) const;
    demo::DemoFile& File(const std::string& path) { return disc.files.at(IndexOf(path)); }

    // Byte offset of a file in an image, by that image's own directory.
    static uint64_t FileOffsetIn(const std::filesystem::path& image, const std::string& isoPath);

    TempDir dir;
    demo::DemoDisc disc;
    std::filesystem::path original, package, expected, output;
    demo::ImageFacts expectedFacts;
};

}  // namespace tessaly::test
