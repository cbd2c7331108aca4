#pragma once
// The synthetic disc of the built-in demo: an "original" image of the target game's first disc
// (the layout of the real one: UMD_DATA.BIN, PSP_GAME with SYSDIR/USRDIR/INSDIR, EBOOT.BIN,
// BOOT.BIN, fonts.pgf, movies and sounds, a nested RES.DAT archive) and a patch package for it in
// all three modes. Everything is computed here, independently of the build job, including the
// translated image the package must produce.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "iso/umd_image_writer.h"

namespace tessaly::demo {

// A stretch of a composed file: held bytes, or a pattern counted from the stretch's start.
struct Segment {
    uint64_t offset = 0;
    uint32_t length = 0;
    std::shared_ptr<const std::vector<uint8_t>> bytes;  // none: the pattern of `seed`
    uint64_t seed = 0;
};

// Contents of one file: bytes held in memory, a pattern streamed on demand, or segments in
// ascending order with zeros between them (an archive too large to hold).
struct Contents {
    std::shared_ptr<const std::vector<uint8_t>> bytes;
    std::shared_ptr<const std::vector<Segment>> segments;
    uint64_t seed = 0;
    uint32_t size = 0;

    static Contents Bytes(std::vector<uint8_t> data);
    static Contents Pattern(uint64_t seed, uint32_t size);
    static Contents Composed(std::vector<Segment> segments, uint32_t size);
    void Read(uint64_t offset, uint8_t* out, uint32_t n) const;
    uint32_t Crc() const;
    std::vector<uint8_t> Materialise() const;
};

struct DemoFile {
    std::string path;
    uint32_t mode = 0;             // in the package: 0 stored, 1 copied, 2 archive rebuilt
    Contents original;             // in the original image
    Contents translated;           // in the translated image
    std::vector<uint8_t> records;  // mode 2: the archive patch records
    bool inOriginal = true;        // tests leave a file out of the original image
};

struct DemoOptions {
    uint64_t seed = 1;
    // The shape of the real disc (1.3 GB, 26 files, 1,003 archive records) instead of the small demo.
    bool fullScale = false;
};

struct DemoDisc {
    std::vector<DemoFile> files;  // in package order
    uint32_t recordCount = 0;     // archive patch records of RES.DAT
    // The original image's file order, as indexes into files; empty: the package order reversed.
    std::vector<size_t> originalOrder;
    uint32_t originalGapSectors = 5;  // the original disc leaves room between files
};

DemoDisc MakeDemoDisc(const DemoOptions& options);

// The translated image's layout: package order, back to back, the font's fixed slot.
UmdLayout TranslatedLayout(const DemoDisc& disc);

// Throws std::logic_error naming the first fact of the real disc that a full-scale disc misses.
void CheckFullScaleFacts(const DemoDisc& disc);

struct ImageFacts {
    uint64_t bytes = 0;
    uint32_t crc = 0;
};

// Writes the original image (its own layout: another order, with gaps) and returns its facts.
ImageFacts WriteOriginalImage(const DemoDisc& disc, const std::filesystem::path& path);
// The patch package bytes.
std::vector<uint8_t> MakePackage(const DemoDisc& disc);
// The translated image as the package must rebuild it; written when path is not empty.
ImageFacts WriteTranslatedImage(const DemoDisc& disc, const std::filesystem::path& path);

}  // namespace tessaly::demo
