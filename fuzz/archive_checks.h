#pragma once
// Checks shared by the archive fuzz targets: the shape of an opened tree, the layout rule after
// relayout, and a full streaming read.

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "archive/archive_node.h"
#include "fuzz/fuzz_check.h"

namespace tessaly::fuzz {

// Trees whose serialised form is larger are not read in full: overlapping members, or many small
// ones each aligned to 2048 bytes, make a small input describe megabytes to gigabytes, and reading
// them costs time that is better spent on more inputs. Eight times the largest input still reads
// trees of hundreds of members in full.
constexpr uint32_t kMaxReadBytes = 1024 * 1024;

// Children link back, lie inside their archive, and nesting stops at the limit. In a tree just
// opened (no member replaced) every member also reads from its parent's bytes.
inline void CheckOpenedTree(const ArchiveNode& node, bool justOpened = true, uint32_t depth = 1) {
    TESSALY_FUZZ_CHECK(depth <= ArchiveNode::kMaxNestingDepth + 1);
    if (!node.IsArchive()) return;
    TESSALY_FUZZ_CHECK(node.valid);
    TESSALY_FUZZ_CHECK(depth <= ArchiveNode::kMaxNestingDepth);
    const ArchiveNode* header = node.Child(0);
    TESSALY_FUZZ_CHECK(header != nullptr && header->ownedBuffer && !header->IsArchive());
    TESSALY_FUZZ_CHECK(header->size <= ArchiveNode::kHeaderWindowBytes && header->size <= node.size);
    for (uint32_t k = 0; k <= node.memberCount; ++k) {
        const ArchiveNode* child = node.Child(k);
        TESSALY_FUZZ_CHECK(child != nullptr && child->parent == &node && child->indexInParent == k);
        if (k == 0) continue;
        // Replacements leave their ancestors' sizes stale until relayout.
        if (justOpened) TESSALY_FUZZ_CHECK(uint64_t{child->offset} + child->size <= node.size);
        if (justOpened && node.memoryData != nullptr)
            TESSALY_FUZZ_CHECK(child->memoryData == node.memoryData + child->offset);
        if (justOpened && node.memoryData == nullptr)
            TESSALY_FUZZ_CHECK(child->memoryData == nullptr && child->streamBase == uint64_t{node.streamBase} + child->offset);
        CheckOpenedTree(*child, justOpened, depth + 1);
    }
}

// After Relayout: member 1 right after the header region, every later member at the next multiple
// of 2048, the archive's size its last member's end rounded up the same way.
inline void CheckLayout(const ArchiveNode& node) {
    if (!node.IsArchive()) return;
    uint64_t end = node.Child(0)->size;
    for (uint32_t k = 1; k <= node.memberCount; ++k) {
        const ArchiveNode& member = *node.Child(k);
        TESSALY_FUZZ_CHECK(member.offset == end);
        end = (end + member.size + ArchiveNode::kAlignment - 1) / ArchiveNode::kAlignment * ArchiveNode::kAlignment;
        CheckLayout(member);
    }
    TESSALY_FUZZ_CHECK(node.size == end);
}

// Reads the whole serialised form into `out` in `chunk`-byte calls; every call delivers until the
// root's size is reached, never more. The targets keep `out` across inputs: a fresh block of a
// megabyte per input costs more in page faults than the reading it checks.
inline void ReadWhole(ArchiveNode& root, uint32_t chunk, std::vector<uint8_t>& out) {
    out.resize(root.size);
    // One buffer per chunk size, each exactly that size, so a read past `want` is caught.
    static std::map<uint32_t, std::vector<uint8_t>> buffers;
    std::vector<uint8_t>& buffer = buffers[chunk];
    if (buffer.empty()) buffer.resize(chunk);
    uint64_t total = 0;
    while (total < root.size) {
        const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(chunk, root.size - total));
        const uint32_t got = root.Read(buffer.data(), want);
        TESSALY_FUZZ_CHECK(got > 0 && got <= want);
        std::memcpy(out.data() + total, buffer.data(), got);
        total += got;
    }
    TESSALY_FUZZ_CHECK(total == root.size);
}

// Relayout and a full read in `chunk`-byte calls into `out`; false when the sizes do not fit
// 32 bits or the tree is too large to read (`out` then holds nothing of use).
inline bool RelayoutAndRead(ArchiveNode& root, uint32_t chunk, std::vector<uint8_t>& out) {
    if (!root.RelayoutAndRewind()) return false;
    CheckLayout(root);
    if (root.size > kMaxReadBytes) return false;
    ReadWhole(root, chunk, out);
    return true;
}

// Two trees (or one tree twice) that should serialise alike: both read in full with the same
// bytes, or neither read.
inline void CheckSameOutput(ArchiveNode& first, uint32_t firstChunk, ArchiveNode& second, uint32_t secondChunk) {
    static std::vector<uint8_t> firstBytes;
    static std::vector<uint8_t> secondBytes;
    const bool firstRead = RelayoutAndRead(first, firstChunk, firstBytes);
    TESSALY_FUZZ_CHECK(RelayoutAndRead(second, secondChunk, secondBytes) == firstRead);
    if (firstRead) TESSALY_FUZZ_CHECK(firstBytes == secondBytes);
}

// Chunk sizes that do not fall on member boundaries, and one that spans many members.
constexpr uint32_t kSmallChunk = 1000;
constexpr uint32_t kLargeChunk = 64 * 1024;

}  // namespace tessaly::fuzz
