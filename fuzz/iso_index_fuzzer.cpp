// IsoIndex::build over arbitrary blocks of up to 1 MiB (the image index reads 512 KiB; the
// package's header is smaller). Every record it keeps must lie inside the block and the volume,
// the tree must be finite, and every name reachable from the root must be found by path.

#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "iso/iso_index.h"

namespace {

using tessaly::IsoFileRecord;
using tessaly::IsoIndex;
using tessaly::kSectorBytes;

constexpr size_t kMaxBlockBytes = 1024 * 1024;
// Fixed part, a one-byte identifier (or "."'s zero byte) with its padding, system-use field.
constexpr uint32_t kSmallestRecordBytes = 33 + 1 + 14;

void checkBuilt(const IsoIndex& index, size_t size) {
    const auto& v = *index.volume;
    TESSALY_FUZZ_CHECK(v.root != nullptr && !v.bySector.empty());
    TESSALY_FUZZ_CHECK(v.bySector.size() == uint64_t{v.directoryCount} + v.fileCount);
    TESSALY_FUZZ_CHECK(v.volumeSectors < (1u << 21));
    const uint64_t volumeBytes = uint64_t{v.volumeSectors} * kSectorBytes;
    for (const auto& [sector, record] : v.bySector) {
        TESSALY_FUZZ_CHECK(sector == record->startSector);
        TESSALY_FUZZ_CHECK(uint64_t{record->startSector} * kSectorBytes + record->size <= volumeBytes);
        TESSALY_FUZZ_CHECK(uint64_t{record->recordOffset} + kSmallestRecordBytes <= size);
        TESSALY_FUZZ_CHECK(record->type == IsoFileRecord::File || record->type == IsoFileRecord::Directory);
    }

    // Depth first from the root through the children maps: finite (no record is visited twice)
    // and every path found again by find.
    std::vector<std::pair<const IsoFileRecord*, std::string>> stack{{v.root, ""}};
    size_t visited = 0;
    while (!stack.empty()) {
        auto [record, path] = stack.back();
        stack.pop_back();
        TESSALY_FUZZ_CHECK(++visited <= v.bySector.size());
        TESSALY_FUZZ_CHECK(index.find(path.empty() ? "/" : path) == record);
        for (const auto& [name, child] : record->children) {
            TESSALY_FUZZ_CHECK(child->name == name && child->parent == record);
            // An empty name (identifier length 0) or one holding "/" cannot be reached by a path.
            if (!name.empty() && name.find('/') == std::string::npos) stack.emplace_back(child, path + "/" + name);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxBlockBytes) return 0;
    IsoIndex index;
    index.build(data, size);
    if (index.volume) {
        checkBuilt(index, size);
        index.clear();
        TESSALY_FUZZ_CHECK(!index.volume);
    } else {
        TESSALY_FUZZ_CHECK(index.errorText && !index.errorText->empty());
    }
    return 0;
}
