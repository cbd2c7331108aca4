// The archive part of a build on a real-sized image, timed alone: open the source image's
// resource archive as a tree, apply the package's replacement records, lay it out again. Prints
// the median and the fastest of several rounds (the page cache warm after the first).
//   archive_open SOURCE.iso PACKAGE.bin [ROUNDS]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "archive/archive_node.h"
#include "archive/archive_patch.h"
#include "iso/iso_index.h"
#include "package/patch_package.h"

namespace {

using Clock = std::chrono::steady_clock;

int fail(const char* what) {
    std::fprintf(stderr, "archive_open: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) return fail("usage: archive_open SOURCE.iso PACKAGE.bin [ROUNDS]");
    const int rounds = argc == 4 ? std::max(1, std::atoi(argv[3])) : 11;
    std::ifstream in(argv[2], std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    tessaly::PatchPackage package;
    package.load(bytes.data(), bytes.size());
    if (package.corrupt) return fail("the package is corrupt");
    tessaly::IsoIndex source;
    source.openImage(argv[1]);
    if (!source.volume) return fail("the source image cannot be indexed");

    const tessaly::PatchEntry* entry = nullptr;
    for (uint32_t i = 1; i <= package.entryCount; ++i)
        if (package.entries[i].mode == static_cast<uint32_t>(tessaly::EntryMode::Archive)) entry = &package.entries[i];
    if (entry == nullptr) return fail("the package rebuilds no archive");
    const tessaly::IsoFileRecord* record = source.find(entry->path);
    if (record == nullptr) return fail("the archive is not in the source image");
    const uint32_t records = tessaly::ArchivePatchReader(entry->data, entry->dataLength).recordCount();

    std::vector<double> seconds;
    uint32_t rebuilt = 0;
    for (int round = 0; round < rounds; ++round) {
        const auto start = Clock::now();
        tessaly::ArchiveNode root(argv[1], record->startSector * tessaly::kSectorBytes, record->size);
        if (!root.valid) return fail("the archive does not open");
        if (!tessaly::ApplyArchivePatchRecords(root, entry->data, entry->dataLength))
            return fail("a record was refused");
        if (!root.RelayoutAndRewind()) return fail("the relayout does not fit 32 bits");
        seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        rebuilt = root.size;
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("archive %s: %u bytes, %u records, rebuilt to %u bytes\n", entry->path, record->size, records, rebuilt);
    std::printf("open + patch + relayout: median %.4f s, fastest %.4f s, slowest %.4f s (%d rounds)\n",
                seconds[seconds.size() / 2], seconds.front(), seconds.back(), rounds);
    return 0;
}
