#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <istream>
#include <sstream>

#include "archive/archive_node.h"
#include "archive/archive_writer.h"
#include "archive_fixtures.h"

namespace tessaly {
namespace {

using test::Backing;
using test::FixtureTree;
using test::GetU32At;
using test::OpenedArchive;
using test::PatternBytes;
using test::SetU32At;

constexpr Backing kAllBackings[] = {Backing::Memory, Backing::File, Backing::Stream};

// Every node against the fixture it was written from, and the tree's own invariants.
void ExpectMatches(const ArchiveNode& node, const FixtureTree& fixture, const std::vector<uint8_t>& bytes) {
    ASSERT_TRUE(node.valid);
    ASSERT_EQ(node.size, bytes.size());
    ASSERT_EQ(node.IsArchive(), fixture.isArchive);
    if (!fixture.isArchive) return;
    ASSERT_EQ(node.memberCount, fixture.members.size());
    const ArchiveNode& header = *node.Child(0);
    EXPECT_FALSE(header.IsArchive());
    EXPECT_EQ(header.parent, &node);
    ASSERT_NE(header.ownedBuffer, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(header.memoryData, header.memoryData + header.size),
              std::vector<uint8_t>(bytes.begin(), bytes.begin() + GetU32At(bytes, 16 + 0)));
    for (uint32_t k = 1; k <= node.memberCount; ++k) {
        SCOPED_TRACE("member " + std::to_string(k));
        const ArchiveNode& member = *node.Child(k);
        const FixtureTree& expected = fixture.members[k - 1];
        EXPECT_EQ(member.name, expected.name);
        EXPECT_EQ(member.parent, &node);
        EXPECT_EQ(member.indexInParent, k);
        EXPECT_EQ(member.offset, GetU32At(bytes, 16 * k));
        EXPECT_EQ(member.nameOffset, GetU32At(bytes, 16 * k + 12));
        // Members refer to their archive's bytes in place: nothing is copied.
        if (node.memoryData != nullptr)
            EXPECT_EQ(member.memoryData, node.memoryData + member.offset);
        else
            EXPECT_EQ(member.streamBase, node.streamBase + member.offset);
        EXPECT_EQ(member.ownedBuffer, nullptr);
        const std::vector<uint8_t> memberBytes(bytes.begin() + member.offset,
                                               bytes.begin() + member.offset + member.size);
        ExpectMatches(member, expected, memberBytes);
    }
}

TEST(ArchiveTree, OpensNestedArchivesOverEveryBacking) {
    const FixtureTree fixture = test::StandardTree();
    for (Backing backing : kAllBackings) {
        SCOPED_TRACE(test::BackingName(backing));
        OpenedArchive opened(fixture.Build(), backing);
        ExpectMatches(opened.root(), fixture, opened.bytes());
        EXPECT_EQ(opened.root().ownsStream, backing == Backing::File);
    }
}

TEST(ArchiveTree, NamesLoseTrailingSpacesOnly) {
    const std::vector<ArchiveMember> members = {{"a b", 0, {}}, {"   ", 0, {}}, {"", 0, {}}, {" lead", 0, {}}};
    auto bytes = WriteArchive(members, {0, 8});
    ArchiveNode root(bytes.data(), static_cast<uint32_t>(bytes.size()), false);
    ASSERT_TRUE(root.IsArchive());
    EXPECT_EQ(root.Child(1)->name, "a b");
    EXPECT_EQ(root.Child(2)->name, "");
    EXPECT_EQ(root.Child(3)->name, "");
    EXPECT_EQ(root.Child(4)->name, " lead");
}

std::vector<uint8_t> GpdaBytes(size_t length, uint32_t archiveSize, uint32_t count) {
    std::vector<uint8_t> bytes(length, 0);
    const uint8_t magic[] = {'G', 'P', 'D', 'A'};
    std::copy(magic, magic + std::min<size_t>(4, length), bytes.begin());
    if (length >= 8) SetU32At(bytes, 4, archiveSize);
    if (length >= 16) SetU32At(bytes, 12, count);
    return bytes;
}

// Whether bytes are read as an archive at all, at the edges of the test.
TEST(ArchiveTree, LeafOrArchiveDecision) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        bool valid;
        bool archive;
    };
    std::vector<uint8_t> wrongMagic = GpdaBytes(2048, 2048, 0);
    wrongMagic[3] = 'B';
    const Case cases[] = {
        {"15 bytes are too few for a header", GpdaBytes(15, 15, 0), true, false},
        // 16 bytes are read as an archive; without members it needs a 2048-byte header region.
        {"16 bytes are parsed", GpdaBytes(16, 16, 0), false, false},
        {"archiveSize equal to the size", GpdaBytes(2048, 2048, 0), true, true},
        {"archiveSize one above the size", GpdaBytes(2048, 2049, 0), true, false},
        {"archiveSize below the size", GpdaBytes(4096, 2048, 0), true, true},
        {"wrong magic", wrongMagic, true, false},
        {"no bytes", {}, true, false},
    };
    for (const Case& c : cases) {
        for (Backing backing : kAllBackings) {
            SCOPED_TRACE(std::string(c.what) + ", " + test::BackingName(backing));
            OpenedArchive opened(c.bytes, backing);
            const ArchiveNode& root = opened.root();
            EXPECT_EQ(root.valid, c.valid);
            EXPECT_EQ(root.IsArchive(), c.archive);
            EXPECT_EQ(root.size, c.bytes.size());
            if (c.archive) {
                // An archive without members still has its header pseudo-member.
                EXPECT_EQ(root.memberCount, 0u);
                ASSERT_NE(root.Child(0), nullptr);
                EXPECT_EQ(root.Child(0)->size, 2048u);
            }
        }
    }
}

// Two members ("one" of 100 bytes at 2048, "two" of 3000 bytes at 4096): a base for damage.
std::vector<uint8_t> TwoMemberArchive(uint32_t secondSize = 3000) {
    return WriteArchive({{"one", 0, PatternBytes(100, 5)}, {"two", 0, PatternBytes(secondSize, 6)}});
}

// Bounds the header must keep; each case damages one field of a valid archive.
TEST(ArchiveTree, MalformedHeadersAreStructuralErrors) {
    struct Case {
        const char* what;
        std::function<std::vector<uint8_t>()> make;
        bool valid;
    };
    const auto damaged = [](std::function<void(std::vector<uint8_t>&)> change, uint32_t secondSize = 3000) {
        return [change, secondSize] {
            auto bytes = TwoMemberArchive(secondSize);
            change(bytes);
            return bytes;
        };
    };
    const Case cases[] = {
        {"undamaged", damaged([](auto&) {}), true},
        {"header region above 32 KiB",
         damaged([](auto& b) { SetU32At(b, 16, 34816); SetU32At(b, 24, 0); }, 40000), false},
        {"header region of exactly 32 KiB",
         damaged([](auto& b) { SetU32At(b, 16, 32768); SetU32At(b, 24, 0); }, 40000), true},
        {"empty archive smaller than 2048 bytes", [] { return GpdaBytes(2047, 2047, 0); }, false},
        {"member table past the header region", damaged([](auto& b) { SetU32At(b, 16, 47); }), false},
        {"member table ending at the header region", damaged([](auto& b) {
             SetU32At(b, 16, 48);
             SetU32At(b, 24, 0);
         }), true},
        {"member table past archiveSize", damaged([](auto& b) { SetU32At(b, 4, 47); }), false},
        {"member table ending at archiveSize", damaged([](auto& b) {
             SetU32At(b, 4, 48);
             SetU32At(b, 28, 48);
             SetU32At(b, 44, 48);
         }), true},
        {"member count near 2^32", damaged([](auto& b) { SetU32At(b, 12, 0xFFFFFFFF); }), false},
        {"member past the node's end", damaged([](auto& b) { SetU32At(b, 40, 4097); }), false},
        {"member ending at the node's end", damaged([](auto& b) { SetU32At(b, 40, 4096); }), true},
        {"member end wrapping 32 bits", damaged([](auto& b) {
             SetU32At(b, 32, 0xFFFFFF00);
             SetU32At(b, 40, 0x200);
         }), false},
        {"name offset past archiveSize inside the node", damaged([](auto& b) {
             SetU32At(b, 4, 4096);
             SetU32At(b, 44, 4097);
             SetU32At(b, 4097, 1);
         }), false},
        {"name offset at archiveSize", damaged([](auto& b) {
             SetU32At(b, 4, 4096);
             SetU32At(b, 44, 4096);
             SetU32At(b, 4096, 1);
         }), true},
        {"name length running past the node", damaged([](auto& b) { SetU32At(b, GetU32At(b, 28), 0xFFFFFFFF); }),
         false},
        {"name length field cut by the node's end", damaged([](auto& b) {
             b.resize(4096 + 2);
             SetU32At(b, 4, 4096);
             SetU32At(b, 40, 0);
             SetU32At(b, 44, 4096);
         }), false},
        // A node of 40000 bytes: the window is its first 32768, for memory and streams alike.
        {"name record ending at the window's end", damaged([](auto& b) {
             SetU32At(b, 44, 32760);
             SetU32At(b, 32760, 4);
         }, 40000), true},
        {"name record running past the window", damaged([](auto& b) {
             SetU32At(b, 44, 32760);
             SetU32At(b, 32760, 5);
         }, 40000), false},
        {"name length field past the window", damaged([](auto& b) { SetU32At(b, 44, 32766); }, 40000), false},
    };
    for (const Case& c : cases) {
        for (Backing backing : kAllBackings) {
            SCOPED_TRACE(std::string(c.what) + ", " + test::BackingName(backing));
            OpenedArchive opened(c.make(), backing);
            const ArchiveNode& root = opened.root();
            EXPECT_EQ(root.valid, c.valid);
            EXPECT_EQ(root.IsArchive(), c.valid);
        }
    }
}

// A second parse that fails takes everything the first one built.
TEST(ArchiveTree, StructuralErrorReleasesEverythingBelow) {
    const auto good = test::StandardTree().Build();
    auto bad = good;
    SetU32At(bad, 16 * 3 + 8, 0xFFFF);  // member 3 runs past the end
    ArchiveNode root(good.data(), static_cast<uint32_t>(good.size()), false);
    ASSERT_TRUE(root.IsArchive());
    EXPECT_FALSE(root.OpenMemory(bad.data(), static_cast<uint32_t>(bad.size()), false));
    EXPECT_FALSE(root.valid);
    EXPECT_FALSE(root.IsArchive());
    EXPECT_EQ(root.Child(0), nullptr);
}

TEST(ArchiveTree, InvalidMemberLeavesItsArchiveValid) {
    auto broken = TwoMemberArchive();
    SetU32At(broken, 40, 4097);  // member 2 ends one byte past the node
    const auto bytes = WriteArchive({{"fine", 0, PatternBytes(50, 1)}, {"broken", 0, broken}});
    for (Backing backing : kAllBackings) {
        SCOPED_TRACE(test::BackingName(backing));
        OpenedArchive opened(bytes, backing);
        ArchiveNode& root = opened.root();
        ASSERT_TRUE(root.valid);
        ASSERT_TRUE(root.IsArchive());
        EXPECT_TRUE(root.Child(1)->valid);
        EXPECT_FALSE(root.Child(2)->valid);
        EXPECT_FALSE(root.Child(2)->IsArchive());
        EXPECT_EQ(root.Child(2)->name, "broken");
    }
}

// Archives nest at most kMaxNestingDepth levels; the member below is kept whole as a leaf.
TEST(ArchiveTree, NestingDeeperThanTheLimitIsALeaf) {
    const uint32_t levels = ArchiveNode::kMaxNestingDepth + 2;
    std::vector<std::vector<uint8_t>> wrapped = {PatternBytes(100, 9)};
    for (uint32_t i = 0; i < levels; ++i) wrapped.push_back(WriteArchive({{"level", 0, wrapped.back()}}));
    for (Backing backing : {Backing::Memory, Backing::File}) {
        SCOPED_TRACE(test::BackingName(backing));
        OpenedArchive opened(wrapped.back(), backing);
        const ArchiveNode* node = &opened.root();
        uint32_t depth = 0;
        while (node->IsArchive()) {
            node = node->Child(1);
            ++depth;
        }
        EXPECT_EQ(depth, ArchiveNode::kMaxNestingDepth);
        EXPECT_TRUE(node->valid);
        // Still an archive's bytes: the limit, not the data, made it a leaf; it is written whole.
        EXPECT_EQ(node->size, wrapped[levels - depth].size());
        ASSERT_TRUE(opened.root().RelayoutAndRewind());
        EXPECT_EQ(test::ReadAll(opened.root(), 65536), wrapped.back());
    }
}

// Members may overlap, so an archive can hold itself twice; without a budget its tree would
// double with every level down to the depth limit.
TEST(ArchiveTree, SelfContainingArchiveStopsAtTheParseBudget) {
    auto bytes = WriteArchive({{"a", 0, PatternBytes(16, 1)}, {"b", 0, {}}, {"c", 0, {}}});
    const auto whole = static_cast<uint32_t>(bytes.size());
    for (uint32_t k : {2u, 3u}) {
        SetU32At(bytes, 16 * k, 0);
        SetU32At(bytes, 16 * k + 8, whole);
    }
    ArchiveNode root(bytes.data(), whole, false);
    ASSERT_TRUE(root.valid);
    uint64_t nodes = 0;
    uint32_t deepest = 0;
    std::function<void(const ArchiveNode&, uint32_t)> walk = [&](const ArchiveNode& node, uint32_t depth) {
        ++nodes;
        deepest = std::max(deepest, depth);
        if (node.IsArchive())
            for (uint32_t j = 0; j <= node.memberCount; ++j) walk(*node.Child(j), depth + 1);
    };
    walk(root, 0);
    // The first branch reaches the depth limit before the budget runs out.
    EXPECT_EQ(deepest, ArchiveNode::kMaxNestingDepth);
    EXPECT_LT(nodes, ArchiveNode::kParseBudgetBytes / sizeof(ArchiveNode));
    EXPECT_GT(nodes, 1000u);
}

TEST(ArchiveTree, FileOpenAtAndPastTheEnd) {
    test::TempDir dir;
    const auto archive = test::StandardTree().Build();
    auto image = PatternBytes(5000, 3);
    image.insert(image.end(), archive.begin(), archive.end());
    image.resize(image.size() + 700, 0);
    const auto path = dir / "image.iso";
    test::WriteFileBytes(path, image);
    const auto length = static_cast<uint32_t>(image.size());

    ArchiveNode inside(path, 5000, static_cast<uint32_t>(archive.size()));
    EXPECT_TRUE(inside.IsArchive());
    EXPECT_EQ(inside.streamBase, 5000u);
    EXPECT_EQ(inside.size, archive.size());

    // A size past the end is cut to the end of the file.
    ArchiveNode cut(path, 5000, 0xFFFFFFFF);
    EXPECT_TRUE(cut.IsArchive());
    EXPECT_EQ(cut.size, length - 5000);

    ArchiveNode atEnd(path, length, 100);
    EXPECT_TRUE(atEnd.valid);
    EXPECT_FALSE(atEnd.IsArchive());
    EXPECT_EQ(atEnd.size, 0u);

    ArchiveNode pastEnd(path, length + 1, 100);
    EXPECT_FALSE(pastEnd.valid);
    EXPECT_EQ(pastEnd.stream, nullptr);

    ArchiveNode missing(dir / "missing.iso", 0, 100);
    EXPECT_FALSE(missing.valid);
    EXPECT_EQ(missing.stream, nullptr);

    // A structural error in a file-backed root closes the file too.
    auto broken = archive;
    SetU32At(broken, 40, 0xFFFFFF);
    test::WriteFileBytes(dir / "broken.dat", broken);
    ArchiveNode brokenRoot(dir / "broken.dat", 0, 0xFFFFFFFF);
    EXPECT_FALSE(brokenRoot.valid);
    EXPECT_EQ(brokenRoot.stream, nullptr);
    EXPECT_FALSE(brokenRoot.ownsStream);
}

// The build job holds the image open for writing while the tree reads it; names need not be ASCII.
TEST(ArchiveTree, FileStaysSharedAndNonAsciiNamesOpen) {
    test::TempDir dir;
    const auto path = dir / std::filesystem::path(u8"资源 档案.dat");
    const auto bytes = test::StandardTree().Build();
    test::WriteFileBytes(path, bytes);
    ArchiveNode root(path, 0, static_cast<uint32_t>(bytes.size()));
    ASSERT_TRUE(root.IsArchive());

    std::fstream writer(path, std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(writer.is_open());
    writer.seekp(static_cast<std::streamoff>(bytes.size()));
    writer.put('!');
    writer.flush();
    EXPECT_TRUE(writer.good());
}

TEST(ArchiveTree, ClearKeepsNameOffsetsAndSizes) {
    test::TempDir dir;
    const auto bytes = test::StandardTree().Build();
    test::WriteFileBytes(dir / "a.dat", bytes);
    ArchiveNode root(dir / "a.dat", 0, static_cast<uint32_t>(bytes.size()));
    ASSERT_TRUE(root.ownsStream);
    ArchiveNode& pack = *root.Child(2);
    const std::string name = pack.name;
    const uint32_t offset = pack.offset;
    const uint32_t size = pack.size;
    pack.Clear();
    EXPECT_FALSE(pack.valid);
    EXPECT_FALSE(pack.IsArchive());
    EXPECT_EQ(pack.name, name);
    EXPECT_EQ(pack.offset, offset);
    EXPECT_EQ(pack.size, size);
    EXPECT_EQ(pack.indexInParent, 2u);
    EXPECT_EQ(pack.parent, &root);

    root.Clear();
    EXPECT_FALSE(root.valid);
    EXPECT_FALSE(root.ownsStream);
    EXPECT_EQ(root.stream, nullptr);
    EXPECT_EQ(root.size, bytes.size());
}

// Stream positions are 32-bit: an archive near 4 GiB may reach past it, a member may not start
// past it. Reads still use the full position.
TEST(ArchiveTree, MembersStartingPast4GiBAreStructuralErrors) {
    const uint64_t base = 0xFFFFF000u;
    const auto member = PatternBytes(0x2000, 8);
    const auto fits = WriteArchive({{"spans", 0, member}});
    auto past = WriteArchive({{"spans", 0, member}, {"past", 0, PatternBytes(10, 9)}});
    for (const auto& [bytes, valid] : {std::pair{fits, true}, std::pair{past, false}}) {
        test::SparseStreamBuf buffer(base + bytes.size(), base, bytes);
        std::istream stream(&buffer);
        stream.seekg(static_cast<std::streamoff>(base));
        ArchiveNode root(&stream, static_cast<uint32_t>(bytes.size()));
        EXPECT_EQ(root.valid, valid);
        if (!valid) continue;
        ASSERT_TRUE(root.IsArchive());
        EXPECT_EQ(root.streamBase, base);
        ASSERT_TRUE(root.RelayoutAndRewind());
        EXPECT_EQ(test::ReadAll(root, 4096), bytes);
    }
}

}  // namespace
}  // namespace tessaly
