// Writes the seed corpora of the fuzz targets from the test fixtures' builders: valid packages,
// UMD headers, archives, patch records and small images, each a few tens of KB at most.
//   fuzz_make_corpus CORPUS_DIR    (files named seed-*; other files in the folders are kept)

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive_patch.h"
#include "archive/archive_writer.h"
#include "iso/disc_identity.h"
#include "iso/umd_image_writer.h"
#include "support/image_builder.h"
#include "support/package_builder.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace tessaly;
using Bytes = std::vector<uint8_t>;
using test::PatternBytes;

fs::path s_root;
size_t s_written = 0;

void put(const std::string& target, const std::string& name, const Bytes& bytes) {
    const fs::path folder = s_root / target;
    fs::create_directories(folder);
    test::WriteFileBytes(folder / ("seed-" + name), bytes);
    ++s_written;
}

// ---------------------------------------------------------------- UMD headers and packages

struct Layout {
    UmdLayout layout;
    uint32_t headerSectors = 0;
};

Layout layOut(std::vector<std::string> directories, std::vector<std::pair<std::string, uint32_t>> files) {
    Layout out;
    out.layout.directories = std::move(directories);
    for (auto& [path, size] : files) out.layout.files.push_back({path, size, 0});
    out.headerSectors = UmdHeaderSectors(out.layout);
    uint32_t next = out.headerSectors;
    for (UmdFile& f : out.layout.files) {
        f.startSector = next;
        next += SectorsFor(f.size);
    }
    out.layout.volumeSectors = next;
    return out;
}

const std::pair<std::string, uint32_t> kUmdData{"/UMD_DATA.BIN", 48};
const std::pair<std::string, uint32_t> kBoot{"/PSP_GAME/SYSDIR/BOOT.BIN", 700};
const std::pair<std::string, uint32_t> kEboot{"/PSP_GAME/SYSDIR/EBOOT.BIN", 300};

Layout minimalDisc() { return layOut({}, {kUmdData, kBoot, kEboot}); }

Layout manyFiles() {
    std::vector<std::pair<std::string, uint32_t>> files{kUmdData, kBoot, kEboot};
    // Enough names to spread USRDIR's records over two sectors.
    for (int i = 0; i < 60; ++i) files.push_back({"/PSP_GAME/USRDIR/MOVIE" + std::to_string(100 + i) + ".PMF", 0});
    return layOut({"/PSP_GAME/INSDIR"}, files);
}

Layout deepDirectories() {
    return layOut({"/PSP_GAME/USRDIR/A/B/C/D"},
                  {kUmdData, kBoot, kEboot, {"/PSP_GAME/USRDIR/A/B/C/D/LEAF.BIN", 5000}, {"/PSP_GAME/USRDIR/EMPTY.BIN", 0}});
}

struct EntrySpec {
    std::string path;
    uint32_t mode;
    Bytes stored;  // mode 0: the contents (the size); others: as given
    uint32_t size;
};

Bytes package(const Layout& layout, const std::vector<EntrySpec>& entries) {
    test::PackageSpec recipe;
    recipe.header = BuildUmdHeader(layout.layout);
    for (const EntrySpec& e : entries) {
        test::PackageEntrySpec entry;
        entry.path = e.path;
        entry.mode = e.mode;
        entry.size = e.size;
        entry.stored = e.stored;
        entry.crc = test::ReferenceCrc32(e.mode == 0 ? e.stored : PatternBytes(e.size, 7));
        recipe.entries.push_back(std::move(entry));
    }
    return test::EncodePackage(recipe).bytes;
}

void packageSeeds() {
    const Layout minimal = minimalDisc();
    put("package_load", "minimal",
        package(minimal, {{kUmdData.first, 0, PatternBytes(48, 1), 48},
                          {kBoot.first, 1, {}, 700},
                          {kEboot.first, 0, PatternBytes(300, 2), 300}}));

    const Layout withOld = layOut({}, {kUmdData, kBoot, kEboot, {"/PSP_GAME/SYSDIR/EBOOT.OLD", 200}});
    put("package_load", "eboot-old",
        package(withOld, {{kUmdData.first, 0, PatternBytes(48, 1), 48},
                          {kBoot.first, 1, {}, 700},
                          {kEboot.first, 0, PatternBytes(300, 2), 300},
                          {"/PSP_GAME/SYSDIR/EBOOT.OLD", 0, PatternBytes(200, 3), 200}}));

    const Bytes records = EncodeArchivePatchRecords({{{1}, PatternBytes(30, 4)}, {{2, 2, 1}, PatternBytes(9, 5)}});
    const Layout modes = layOut({}, {kUmdData, kBoot, kEboot, {"/PSP_GAME/INSDIR/RES.DAT", 9000},
                                     {"/PSP_GAME/USRDIR/fonts.pgf", 64}, {"/PSP_GAME/USRDIR/BGM.PHD", 4096}});
    put("package_load", "three-modes",
        package(modes, {{kUmdData.first, 0, PatternBytes(48, 1), 48},
                        {kBoot.first, 1, {}, 700},
                        {kEboot.first, 0, PatternBytes(300, 2), 300},
                        {"/PSP_GAME/INSDIR/RES.DAT", 2, records, 9000},
                        {"/PSP_GAME/USRDIR/fonts.pgf", 0, PatternBytes(64, 6), 64},
                        {"/PSP_GAME/USRDIR/BGM.PHD", 1, PatternBytes(5, 8), 4096}}));

    // The same path twice: the later entry is the one the boot-file rule remembers.
    put("package_load", "repeated-entry",
        package(minimal, {{kUmdData.first, 0, PatternBytes(48, 1), 48},
                          {kBoot.first, 1, {}, 700},
                          {kEboot.first, 0, PatternBytes(300, 2), 300},
                          {kBoot.first, 1, {}, 700}}));
}

void isoSeeds() {
    put("iso_index", "minimal", BuildUmdHeader(minimalDisc().layout));
    put("iso_index", "many-files", BuildUmdHeader(manyFiles().layout));
    put("iso_index", "deep", BuildUmdHeader(deepDirectories().layout));
    const test::BuiltImage sample = test::BuildImage(test::SampleDiscSpec(kTargetProductCode));
    put("iso_index", "sample-disc", Bytes(sample.bytes.begin(), sample.bytes.begin() + sample.headerSectors * 2048));
}

// ---------------------------------------------------------------- archives

ArchiveMember leaf(const std::string& name, size_t size, uint32_t seed) {
    return {name, seed, PatternBytes(size, seed)};
}

ArchiveMember nested(const std::string& name, const std::vector<ArchiveMember>& members,
                     ArchiveWriteOptions options = {}) {
    return {name, 0, WriteArchive(members, options)};
}

void archiveSeeds() {
    const ArchiveWriteOptions padded{0x20060001, 20};
    const auto deep = nested("deep", {leaf("d1", 100, 1), leaf("empty", 0, 2), leaf("d3", 2048, 3)});
    const auto inner = nested("inner", {leaf("x", 900, 4), deep, leaf("y", 7, 6)}, {0xC0DE, 16});
    const auto pack = nested("pack", {leaf("readme", 10, 7), inner, leaf("tail", 300, 9)}, padded);
    const std::vector<std::pair<std::string, Bytes>> archives = {
        {"nested", WriteArchive({leaf("alpha", 500, 10), pack, leaf("gamma", 2048, 12)}, padded)},
        {"empty", WriteArchive({})},
        {"one-member", WriteArchive({leaf("only", 40, 13)})},
        {"zero-sized-members", WriteArchive({leaf("a", 0, 14), leaf("b", 0, 15), leaf("c", 1, 16)})},
        {"chain", [] {
             ArchiveMember m = leaf("bottom", 20, 17);
             for (int level = 0; level < 6; ++level) m = nested("level" + std::to_string(level), {m});
             return m.bytes;
         }()},
        {"not-an-archive", PatternBytes(300, 18)},
    };
    for (const auto& [name, bytes] : archives) {
        put("archive_memory", name, bytes);
        put("archive_stream", name, bytes);
    }
}

// Records for the patch target's fixed archive:
// 1 alpha, 2 pack { 1 readme, 2 inner { 1 x, 2 deep { 1 d1, 2 empty, 3 d3 }, 3 y }, 3 tail }, 3 gamma.
void patchSeeds() {
    const Bytes small = WriteArchive({leaf("n1", 30, 20), leaf("n2", 3000, 21)});
    const std::vector<std::pair<std::string, std::vector<ArchivePatchInput>>> seeds = {
        {"leaf", {{{1}, PatternBytes(10, 22)}}},
        {"deepest", {{{2, 2, 2, 3}, PatternBytes(5000, 23)}}},
        {"every-level", {{{3}, PatternBytes(1, 24)}, {{2, 3}, {}}, {{2, 2, 1}, PatternBytes(2049, 25)},
                         {{2, 2, 2, 2}, PatternBytes(77, 26)}}},
        {"leaf-becomes-archive", {{{1}, small}, {{1, 2}, PatternBytes(12, 27)}}},
        {"whole-root", {{{}, small}}},
        {"replaced-twice", {{{2, 1}, PatternBytes(100, 28)}, {{2, 1}, PatternBytes(3, 29)}}},
        {"index-zero", {{{2, 0}, PatternBytes(4, 30)}}},
        {"index-too-large", {{{4}, PatternBytes(4, 31)}}},
        {"below-a-leaf", {{{1, 1}, PatternBytes(4, 32)}}},
    };
    for (const auto& [name, records] : seeds) put("archive_patch", name, EncodeArchivePatchRecords(records));
}

// ---------------------------------------------------------------- images for identification

void identifySeeds() {
    const std::pair<const char*, const char*> codes[] = {
        {"target", "KVXM-20417"}, {"second-disc", "KVXM-20418"}, {"earlier-game", "KVXL-00815"},
        {"earlier-bonus", "KVXL-00814"}, {"lower-case", "kvxm-20417"}};
    for (const auto& [name, code] : codes) {
        test::ImageSpec recipe = test::SampleDiscSpec(code);
        recipe.minimumBytes = 0;
        const test::BuiltImage built = test::BuildImage(recipe);
        // The header sectors and the product code's sector; the padding gives the rest.
        const size_t end = (built.file(kProductCodeFile).startSector + 1) * size_t{2048};
        const Bytes image(built.bytes.begin(), built.bytes.begin() + static_cast<ptrdiff_t>(end));
        Bytes input(1 + image.size());
        input[0] = 1;  // padded to the 512 KiB that indexing reads
        std::copy(image.begin(), image.end(), input.begin() + 1);
        put("identify", name, input);
        if (std::string(name) == "target") {
            input[0] = 0;  // the same image, not padded: too short to index
            put("identify", "target-short", input);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_corpus CORPUS_DIR\n");
        return 64;
    }
    s_root = argv[1];
    packageSeeds();
    isoSeeds();
    archiveSeeds();
    patchSeeds();
    identifySeeds();
    std::printf("wrote %s seed files under %s\n", std::to_string(s_written).c_str(), s_root.string().c_str());
    return 0;
}
