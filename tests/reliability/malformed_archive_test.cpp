// The archive tree against malformed GPDA archives: member tables, name records and header
// regions that break their bounds, member counts whose table size overflows, nesting past the
// depth limit and archives that contain themselves. Each row states its outcome over memory (an
// exactly sized block) and over a stream; a tree that opens is then laid out and streamed out,
// and must deliver exactly its size.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "archive/archive_node.h"
#include "support/exact_bytes.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kMagic = 0x41445047;  // "GPDA"

void put32(Bytes& b, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void putEntry(Bytes& b, uint32_t k, uint32_t offset, uint32_t size, uint32_t nameOffset) {
    put32(b, 16 * k, offset);
    put32(b, 16 * k + 8, size);
    put32(b, 16 * k + 12, nameOffset);
}

void putName(Bytes& b, size_t at, const std::string& name) {
    put32(b, at, static_cast<uint32_t>(name.size()));
    std::copy(name.begin(), name.end(), b.begin() + static_cast<ptrdiff_t>(at + 4));
}

// Written by hand from the format: header region 2048, "alpha" (100 bytes) at 2048, "beta"
// (300 bytes) at 4096, archiveSize 6144. It follows the layout rule, so relayout keeps its bytes.
Bytes twoMembers() {
    Bytes b(6144, 0);
    put32(b, 0, kMagic);
    put32(b, 4, 6144);
    put32(b, 8, 0xAAAA0001);
    put32(b, 12, 2);
    putEntry(b, 1, 2048, 100, 48);
    putEntry(b, 2, 4096, 300, 60);
    putName(b, 48, "alpha");
    putName(b, 60, "beta");
    const Bytes alpha = test::PatternBytes(100, 1), beta = test::PatternBytes(300, 2);
    std::copy(alpha.begin(), alpha.end(), b.begin() + 2048);
    std::copy(beta.begin(), beta.end(), b.begin() + 4096);
    return b;
}

// 40 KiB with the same two members: room for header fields beyond the 32 KiB header window.
Bytes largeTwoMembers() {
    Bytes b = twoMembers();
    b.resize(40960, 0);
    put32(b, 4, 40960);
    return b;
}

// `levels` archives nested in one another (each the single member of the one above), the innermost
// holding a 20-byte leaf; every level follows the layout rule.
Bytes chain(uint32_t levels) {
    Bytes inner = test::PatternBytes(20, 3);
    for (uint32_t level = 0; level < levels; ++level) {
        const uint32_t size = 2048 + static_cast<uint32_t>((inner.size() + 2047) / 2048 * 2048);
        Bytes b(size, 0);
        put32(b, 0, kMagic);
        put32(b, 4, size);
        put32(b, 12, 1);
        putEntry(b, 1, 2048, static_cast<uint32_t>(inner.size()), 32);
        putName(b, 32, "level");
        std::copy(inner.begin(), inner.end(), b.begin() + 2048);
        inner = std::move(b);
    }
    return inner;
}

// Levels of archives below (and including) a node.
uint32_t archiveDepth(const ArchiveNode& node) {
    if (!node.IsArchive()) return 0;
    uint32_t deepest = 0;
    for (uint32_t k = 1; k <= node.memberCount; ++k) deepest = std::max(deepest, archiveDepth(*node.Child(k)));
    return deepest + 1;
}

uint64_t nodeCount(const ArchiveNode& node) {
    uint64_t n = 1;
    if (node.IsArchive())
        for (uint32_t k = 0; k <= node.memberCount; ++k) n += nodeCount(*node.Child(k));
    return n;
}

Bytes readAll(ArchiveNode& root) {
    Bytes out;
    Bytes buffer(4096);
    for (uint32_t got = 0; (got = root.Read(buffer.data(), 4096)) > 0;) out.insert(out.end(), buffer.begin(), buffer.begin() + got);
    return out;
}

enum class Outcome { Invalid, Leaf, Archive };
const char* outcomeName(Outcome o) { return o == Outcome::Invalid ? "invalid" : o == Outcome::Leaf ? "leaf" : "archive"; }

struct ArchiveRow {
    const char* name;
    std::function<Bytes()> bytes;
    Outcome outcome;
    uint32_t members = 0;          // for an archive
    bool sameBytesOut = false;     // relayout and streaming give back the input unchanged
    bool streamed = true;          // laid out and read whole here (not when it would be hundreds of MB)
    std::function<void(const ArchiveNode&)> check = {};
};

Bytes damaged(Bytes b, const std::function<void(Bytes&)>& damage) {
    damage(b);
    return b;
}

TEST(MalformedArchive, EveryRowGivesItsDefinedOutcomeInMemoryAndInAStream) {
    const ArchiveRow rows[] = {
        {"valid two-member archive", twoMembers, Outcome::Archive, 2, true},

        // The member table.
        {"member count 0xFFFFFFFF: the table's size overflows 32 bits",
         [] { return damaged(twoMembers(), [](Bytes& b) { put32(b, 12, 0xFFFFFFFFu); }); }, Outcome::Invalid},
        {"member count 0x10000000: 16 x N wraps to 0 in 32 bits",
         [] { return damaged(twoMembers(), [](Bytes& b) { put32(b, 12, 0x10000000u); }); }, Outcome::Invalid},
        {"member table reaching past archiveSize",
         [] { return damaged(twoMembers(), [](Bytes& b) { put32(b, 4, 40); }); }, Outcome::Invalid},
        {"member table running into member 1 (header region smaller than the table)",
         [] { return damaged(twoMembers(), [](Bytes& b) { putEntry(b, 1, 32, 100, 48); }); }, Outcome::Invalid},

        // The header region.
        {"header region larger than the 32 KiB header window",
         [] {
             return damaged(largeTwoMembers(), [](Bytes& b) {
                 putEntry(b, 1, 34816, 100, 48);
                 putEntry(b, 2, 36864, 300, 60);
             });
         },
         Outcome::Invalid},
        {"empty archive smaller than its 2048-byte header region",
         [] {
             Bytes b(100, 0);
             put32(b, 0, kMagic);
             put32(b, 4, 100);
             return b;
         },
         Outcome::Invalid},
        {"empty archive of exactly 2048 bytes",
         [] {
             Bytes b(2048, 0);
             put32(b, 0, kMagic);
             put32(b, 4, 2048);
             return b;
         },
         Outcome::Archive, 0, true},

        // Members against the node.
        {"member running one byte past the node's end",
         [] { return damaged(twoMembers(), [](Bytes& b) { putEntry(b, 2, 4096, 2049, 60); }); }, Outcome::Invalid},
        {"member ending exactly at the node's end",
         [] { return damaged(twoMembers(), [](Bytes& b) { putEntry(b, 2, 4096, 2048, 60); }); }, Outcome::Archive, 2,
         true},
        {"member offset + size wrapping 32 bits",
         [] { return damaged(twoMembers(), [](Bytes& b) { putEntry(b, 2, 0xFFFFF800u, 0x1000, 60); }); },
         Outcome::Invalid},

        // Name records.
        {"name offset past archiveSize",
         [] { return damaged(twoMembers(), [](Bytes& b) { putEntry(b, 2, 4096, 300, 6145); }); }, Outcome::Invalid},
        {"name offset inside archiveSize but past the 32 KiB header window",
         [] { return damaged(largeTwoMembers(), [](Bytes& b) { putEntry(b, 2, 4096, 300, 36000); }); },
         Outcome::Invalid},
        {"name length 0xFFFFFFFF", [] { return damaged(twoMembers(), [](Bytes& b) { put32(b, 60, 0xFFFFFFFFu); }); },
         Outcome::Invalid},
        {"name record ending exactly at the header window's end",
         [] {
             return damaged(largeTwoMembers(), [](Bytes& b) {
                 putEntry(b, 2, 4096, 300, 32768 - 9);
                 putName(b, 32768 - 9, "omega");
             });
         },
         Outcome::Archive, 2, false, true, [](const ArchiveNode& root) { EXPECT_EQ(root.Child(2)->name, "omega"); }},

        // Not archives at all: kept whole as leaves.
        {"15 bytes",
         [] {
             Bytes b = twoMembers();
             b.resize(15);
             return b;
         },
         Outcome::Leaf, 0, true},
        {"archiveSize one more than the node",
         [] { return damaged(twoMembers(), [](Bytes& b) { put32(b, 4, 6145); }); }, Outcome::Leaf, 0, true},
        {"archiveSize 0xFFFFFFFF", [] { return damaged(twoMembers(), [](Bytes& b) { put32(b, 4, 0xFFFFFFFFu); }); },
         Outcome::Leaf, 0, true},

        // Nesting.
        {"nested archive with a structural error: its archive stays valid",
         [] {
             return damaged(twoMembers(), [](Bytes& b) {
                 put32(b, 4096, kMagic);
                 put32(b, 4096 + 4, 300);
                 put32(b, 4096 + 12, 0x7FFFFFFF);
             });
         },
         Outcome::Archive, 2, true, true, [](const ArchiveNode& root) {
             EXPECT_FALSE(root.Child(2)->valid);
             EXPECT_FALSE(root.Child(2)->IsArchive());
         }},
        {"archives nested to the depth limit", [] { return chain(ArchiveNode::kMaxNestingDepth); }, Outcome::Archive, 1,
         true, true, [](const ArchiveNode& root) { EXPECT_EQ(archiveDepth(root), ArchiveNode::kMaxNestingDepth); }},
        {"archives nested one level deeper than the limit: the deepest is kept as a leaf",
         [] { return chain(ArchiveNode::kMaxNestingDepth + 1); }, Outcome::Archive, 1, true, true,
         [](const ArchiveNode& root) { EXPECT_EQ(archiveDepth(root), ArchiveNode::kMaxNestingDepth); }},
        {"member that is the archive itself: stops at the depth limit",
         [] { return damaged(twoMembers(), [](Bytes& b) { putEntry(b, 2, 0, 6144, 60); }); }, Outcome::Archive, 2,
         false, true, [](const ArchiveNode& root) { EXPECT_EQ(archiveDepth(root), ArchiveNode::kMaxNestingDepth); }},
        // Doubling at every level: the depth limit alone would allow 2^64 nodes.
        {"two members that are the archive itself: stops at the parse budget",
         [] {
             return damaged(twoMembers(), [](Bytes& b) {
                 putEntry(b, 1, 2048, 0, 48);
                 putEntry(b, 2, 0, 6144, 60);
                 put32(b, 12, 3);
                 putEntry(b, 3, 0, 6144, 60);
             });
         },
         Outcome::Archive, 3, false, false, [](const ArchiveNode& root) {
             EXPECT_LE(archiveDepth(root), ArchiveNode::kMaxNestingDepth);
             EXPECT_LT(nodeCount(root), ArchiveNode::kParseBudgetBytes / sizeof(ArchiveNode));
         }},
    };

    for (const ArchiveRow& row : rows) {
        const Bytes input = row.bytes();
        for (const bool fromStream : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (fromStream ? ", stream" : ", memory"));
            const test::ExactBytes exact(input);
            std::istringstream stream(std::string(input.begin(), input.end()));
            ArchiveNode root;
            if (fromStream) {
                root.OpenStream(&stream, static_cast<uint32_t>(input.size()), false);
            } else {
                root.OpenMemory(exact.data(), static_cast<uint32_t>(exact.size()), false);
            }

            const Outcome got = !root.valid ? Outcome::Invalid : root.IsArchive() ? Outcome::Archive : Outcome::Leaf;
            ASSERT_EQ(got, row.outcome) << outcomeName(got) << " instead of " << outcomeName(row.outcome);
            if (row.outcome == Outcome::Invalid) {
                EXPECT_EQ(root.Child(0), nullptr);
                continue;
            }
            if (row.outcome == Outcome::Archive) {
                EXPECT_EQ(root.memberCount, row.members);
            }
            if (row.check) row.check(root);

            if (!row.streamed) continue;
            ASSERT_TRUE(root.RelayoutAndRewind());
            const Bytes out = readAll(root);
            EXPECT_EQ(out.size(), root.size);
            if (row.sameBytesOut) {
                EXPECT_TRUE(out == input);
            }
        }
    }
}

}  // namespace
}  // namespace tessaly
