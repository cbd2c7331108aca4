// Archive patch records, as arbitrary bytes, applied to a fixed nested archive read through a
// stream (as the build job reads the image), then relayout and a full streaming read: the bytes
// delivered must equal the root's size whatever the records did, and not depend on chunk sizes.

#include <sstream>
#include <string>
#include <vector>

#include "archive/archive_patch.h"
#include "archive/archive_writer.h"
#include "fuzz/archive_checks.h"

namespace {

using tessaly::ArchiveMember;
using tessaly::WriteArchive;

std::vector<uint8_t> pattern(size_t length, uint32_t seed) {
    std::vector<uint8_t> out(length);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 24);
    }
    return out;
}

ArchiveMember leaf(const char* name, size_t length, uint32_t seed) { return {name, seed, pattern(length, seed)}; }

// Four levels: 1 alpha, 2 pack { 1 readme, 2 inner { 1 x, 2 deep { 1 d1, 2 empty, 3 d3 }, 3 y },
// 3 tail }, 3 gamma. The patch fuzz corpus addresses members by these indices.
const std::string& fixedArchive() {
    static const std::string bytes = [] {
        const auto deep = WriteArchive({leaf("d1", 100, 1), leaf("empty", 0, 2), leaf("d3", 2048, 3)});
        const auto inner = WriteArchive({leaf("x", 5000, 4), {"deep", 5, deep}, leaf("y", 7, 6)}, {0xC0DE, 16});
        const auto pack = WriteArchive({leaf("readme", 10, 7), {"inner", 8, inner}, leaf("tail", 4096, 9)});
        const auto root = WriteArchive({leaf("alpha", 3000, 10), {"pack", 11, pack}, leaf("gamma", 2048, 12)});
        return std::string(root.begin(), root.end());
    }();
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& archive = fixedArchive();
    std::istringstream stream(archive);
    tessaly::ArchiveNode root(&stream, static_cast<uint32_t>(archive.size()));
    TESSALY_FUZZ_CHECK(root.valid && root.IsArchive());

    // The job stops at the first refusal; the tree must stay usable either way.
    tessaly::ApplyArchivePatchRecords(root, data, size);
    tessaly::fuzz::CheckOpenedTree(root, false);
    tessaly::fuzz::CheckSameOutput(root, tessaly::fuzz::kLargeChunk, root, tessaly::fuzz::kSmallChunk);
    return 0;
}
