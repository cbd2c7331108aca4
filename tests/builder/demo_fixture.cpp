#include "demo_fixture.h"

#include <stdexcept>

#include "iso/iso_index.h"

namespace tessaly::test {

DemoFixture::DemoFixture(uint64_t seed) {
    demo::DemoOptions options;
    options.seed = seed;
    disc = demo::MakeDemoDisc(options);
    original = dir / "original.iso";
    package = dir / "package.bin";
    expected = dir / "expected.iso";
    output = dir / "translated.iso";
}

void DemoFixture::Write() {
    demo::WriteOriginalImage(disc, original);
    WriteFileBytes(package, demo::MakePackage(disc));
    expectedFacts = demo::WriteTranslatedImage(disc, expected);
}

size_t DemoFixture::IndexOf(const std::string& path) const {
    for (size_t i = 0; i < disc.files.size(); ++i)
        if (disc.files[i].path == path) return i;
    throw std::out_of_range("no demo file " + path);
}

uint64_t DemoFixture::FileOffsetIn(const std::filesystem::path& image, const std::string& isoPath) {
    IsoIndex index;
    index.openImage(image);
    if (!index.volume) throw std::runtime_error("cannot index " + image.string());
    const IsoFileRecord* record = index.find(isoPath);
    if (record == nullptr) throw std::runtime_error("no " + isoPath + " in " + image.string());
    return static_cast<uint64_t>(record->startSector) * kSectorBytes;
}

}  // namespace tessaly::test
