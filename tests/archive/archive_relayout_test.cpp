#include <gtest/gtest.h>

#include <deque>
#include <istream>

#include "archive/archive_node.h"
#include "archive/archive_writer.h"
#include "archive_fixtures.h"

namespace tessaly {
namespace {

using test::Backing;
using test::FixtureTree;
using test::OpenedArchive;
using test::PatternBytes;
using test::SetU32At;
using test::ReadAll;

constexpr uint32_t kMiB = 1024 * 1024;

TEST(ArchiveRelayout, UntouchedArchiveComesOutByteForByte) {
    const std::vector<uint8_t> inputs[] = {
        test::StandardTree().Build(),
        WriteArchive({}),
        PatternBytes(777, 4),  // not an archive: one leaf
    };
    for (const auto& bytes : inputs) {
        for (Backing backing : {Backing::Memory, Backing::File, Backing::Stream}) {
            SCOPED_TRACE(std::to_string(bytes.size()) + " bytes, " + test::BackingName(backing));
            OpenedArchive opened(bytes, backing);
            ASSERT_TRUE(opened.root().RelayoutAndRewind());
            EXPECT_EQ(opened.root().size, bytes.size());
            EXPECT_EQ(ReadAll(opened.root(), kMiB), bytes);
        }
    }
}

struct Replacement {
    std::vector<uint32_t> path;
    FixtureTree contents;
};

// Applies the replacements to a tree of the standard archive, and the same changes to the
// fixture, which the writer then lays out on its own: the relayout must agree with it.
void ExpectReplacementsMatchWriter(const std::vector<Replacement>& steps, Backing backing) {
    FixtureTree expected = test::StandardTree();
    const std::vector<uint8_t> original = expected.Build();
    OpenedArchive opened(original, backing);
    std::deque<std::vector<uint8_t>> contents;  // outlive the tree, as the package does
    for (const Replacement& step : steps) {
        contents.push_back(step.contents.Build());
        ASSERT_TRUE(opened.root().ReplaceMember(step.path.data(), step.path.data() + step.path.size(),
                                                contents.back().data(),
                                                static_cast<uint32_t>(contents.back().size())));
        // The name and reserved word live in the enclosing header, which keeps them.
        FixtureTree& target = expected.At(step.path);
        FixtureTree replaced = step.contents;
        replaced.name = target.name;
        replaced.reserved = target.reserved;
        target = replaced;
    }
    const std::vector<uint8_t> want = expected.Build();
    ASSERT_TRUE(opened.root().RelayoutAndRewind());
    EXPECT_EQ(opened.root().size, want.size());
    EXPECT_EQ(ReadAll(opened.root(), kMiB), want);
    // Relayout patches the header copies, never the bytes the tree was opened over.
    EXPECT_EQ(opened.bytes(), original);
}

TEST(ArchiveRelayout, ReplacementsMatchAnIndependentLayout) {
    using T = FixtureTree;
    struct Case {
        const char* what;
        std::vector<Replacement> steps;
    };
    const Case cases[] = {
        {"depth 0: the root becomes another archive",
         {{{}, T::Archive("", {T::Leaf("solo", PatternBytes(5000, 1))}, 0x77, 8)}}},
        {"depth 0: the root becomes a leaf", {{{}, T::Leaf("", PatternBytes(300, 2))}}},
        {"depth 1: a longer member moves every later one", {{{1}, T::Leaf("", PatternBytes(5000, 3))}}},
        {"depth 1: the last member becomes empty", {{{3}, T::Leaf("", {})}}},
        {"depth 1: a nested archive becomes a leaf", {{{2}, T::Leaf("", PatternBytes(10, 4))}}},
        {"depth 3: a shorter member", {{{2, 2, 1}, T::Leaf("", PatternBytes(10, 5))}}},
        {"depth 4: an empty member gets bytes", {{{2, 2, 2, 2}, T::Leaf("", PatternBytes(3000, 6))}}},
        {"depth 4: a sector-sized last member grows by one", {{{2, 2, 2, 3}, T::Leaf("", PatternBytes(2049, 7))}}},
        {"depth 2: the last index of its archive", {{{2, 3}, T::Leaf("", PatternBytes(1, 8))}}},
        {"contents that are an archive, then a member inside them",
         {{{1}, T::Archive("", {T::Leaf("p", PatternBytes(100, 9)), T::Leaf("q", PatternBytes(200, 10))}, 0x55)},
          {{1, 2}, T::Leaf("", PatternBytes(4500, 11))}}},
        {"an archive grown inside replaced contents, addressed three deep",
         {{{2, 2}, T::Archive("", {T::Leaf("r", PatternBytes(3, 12)),
                                   T::Archive("s", {T::Leaf("t", PatternBytes(9, 13))}, 0x66)})},
          {{2, 2, 2, 1}, T::Leaf("", PatternBytes(7000, 14))}}},
        {"the same member twice: the last wins",
         {{{2, 1}, T::Leaf("", PatternBytes(50, 15))}, {{2, 1}, T::Leaf("", PatternBytes(70, 16))}}},
    };
    for (const Case& c : cases) {
        for (Backing backing : {Backing::Memory, Backing::File}) {
            SCOPED_TRACE(std::string(c.what) + ", " + test::BackingName(backing));
            ExpectReplacementsMatchWriter(c.steps, backing);
        }
    }
}

// Every way ReplaceMember refuses; none of them may disturb the tree.
TEST(ArchiveRelayout, ReplaceMemberRefusals) {
    struct Case {
        const char* what;
        std::vector<uint32_t> path;
    };
    const Case cases[] = {
        {"index 0 at the top", {0}},
        {"index 0 below", {2, 0}},
        {"index 0 three deep", {2, 2, 0}},
        {"index past the member count", {4}},
        {"index past a nested member count", {2, 4}},
        {"through a leaf", {1, 1}},
        {"through an empty member", {2, 2, 2, 2, 1}},
        {"index 0 after a valid prefix and before a valid one", {2, 0, 1}},
    };
    const auto original = test::StandardTree().Build();
    const auto contents = PatternBytes(64, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OpenedArchive opened(original, Backing::File);
        EXPECT_FALSE(opened.root().ReplaceMember(c.path.data(), c.path.data() + c.path.size(), contents.data(),
                                                 static_cast<uint32_t>(contents.size())));
        ASSERT_TRUE(opened.root().RelayoutAndRewind());
        EXPECT_EQ(ReadAll(opened.root(), kMiB), original);
    }
    OpenedArchive opened(original, Backing::Memory);
    const uint32_t path[] = {1};
    EXPECT_FALSE(opened.root().ReplaceMember(path, path + 1, nullptr, 10));
}

// Contents with a structural error: false, the node is invalid and childless, the tree stays
// usable and the node is written out as the contents it was given.
TEST(ArchiveRelayout, MalformedContentsAreRefusedButKept) {
    auto malformed = WriteArchive({{"m", 0, PatternBytes(100, 2)}});
    SetU32At(malformed, 24, 0xFFFF);  // member 1 runs past the end
    FixtureTree expected = test::StandardTree();
    OpenedArchive opened(expected.Build(), Backing::File);

    const uint32_t path[] = {2, 2};
    EXPECT_FALSE(opened.root().ReplaceMember(path, path + 2, malformed.data(), static_cast<uint32_t>(malformed.size())));
    const ArchiveNode& inner = *opened.root().Child(2)->Child(2);
    EXPECT_FALSE(inner.valid);
    EXPECT_FALSE(inner.IsArchive());
    EXPECT_EQ(inner.name, "inner");

    expected.At({2, 2}) = FixtureTree::Leaf("inner", malformed, expected.At({2, 2}).reserved);
    ASSERT_TRUE(opened.root().RelayoutAndRewind());
    EXPECT_EQ(ReadAll(opened.root(), kMiB), expected.Build());

    EXPECT_FALSE(opened.root().ReplaceMember(nullptr, nullptr, malformed.data(), static_cast<uint32_t>(malformed.size())));
    EXPECT_FALSE(opened.root().valid);
    EXPECT_FALSE(opened.root().IsArchive());
}

// A nested archive with a structural error is written out as the bytes it was opened over,
// whether it sits in the image or inside replacement contents.
TEST(ArchiveRelayout, InvalidNestedArchivesAreWrittenAsTheirBytes) {
    auto broken = WriteArchive({{"m", 0, PatternBytes(100, 2)}});
    SetU32At(broken, 28, 0xFFFF);  // name offset past archiveSize
    const FixtureTree withBroken = FixtureTree::Archive(
        "", {FixtureTree::Leaf("ok", PatternBytes(30, 3)), FixtureTree::Leaf("broken", broken)}, 0x99);

    for (Backing backing : {Backing::Memory, Backing::File, Backing::Stream}) {
        SCOPED_TRACE(test::BackingName(backing));
        OpenedArchive opened(withBroken.Build(), backing);
        ASSERT_FALSE(opened.root().Child(2)->valid);
        ASSERT_TRUE(opened.root().RelayoutAndRewind());
        EXPECT_EQ(ReadAll(opened.root(), 1000), opened.bytes());
    }

    FixtureTree expected = test::StandardTree();
    OpenedArchive opened(expected.Build(), Backing::File);
    const auto contents = withBroken.Build();
    const uint32_t path[] = {2, 1};
    ASSERT_TRUE(opened.root().ReplaceMember(path, path + 2, contents.data(), static_cast<uint32_t>(contents.size())));
    ASSERT_FALSE(opened.root().Child(2)->Child(1)->Child(2)->valid);
    FixtureTree replaced = withBroken;
    replaced.name = "readme";
    replaced.reserved = expected.At({2, 1}).reserved;
    expected.At({2, 1}) = replaced;
    ASSERT_TRUE(opened.root().RelayoutAndRewind());
    EXPECT_EQ(ReadAll(opened.root(), kMiB), expected.Build());
}

// Any chunk size gives the same bytes, exactly the root's size, and nothing outside the range
// asked for is written.
TEST(ArchiveRelayout, ChunkSizesDoNotChangeTheOutput) {
    for (Backing backing : {Backing::Memory, Backing::File}) {
        SCOPED_TRACE(test::BackingName(backing));
        OpenedArchive opened(test::StandardTree().Build(), backing);
        const auto contents = PatternBytes(2500, 7);
        const uint32_t path[] = {2, 2, 1};
        ASSERT_TRUE(opened.root().ReplaceMember(path, path + 3, contents.data(), static_cast<uint32_t>(contents.size())));
        ASSERT_TRUE(opened.root().RelayoutAndRewind());
        const std::vector<uint8_t> whole = ReadAll(opened.root(), kMiB);
        EXPECT_EQ(whole.size(), opened.root().size);
        uint8_t after = 0;
        EXPECT_EQ(opened.root().Read(&after, 1), 0u);

        for (uint32_t chunk : {1u, 7u, 2047u, 2048u, 2049u, 65536u}) {
            SCOPED_TRACE(chunk);
            ASSERT_TRUE(opened.root().RelayoutAndRewind());
            constexpr size_t kGuard = 16;
            std::vector<uint8_t> out;
            std::vector<uint8_t> buffer(chunk + 2 * kGuard);
            for (;;) {
                std::fill(buffer.begin(), buffer.end(), 0xCC);
                const uint32_t got = opened.root().Read(buffer.data() + kGuard, chunk);
                const uint64_t left = whole.size() - out.size();
                ASSERT_EQ(got, std::min<uint64_t>(chunk, left));
                ASSERT_TRUE(std::all_of(buffer.begin(), buffer.begin() + kGuard, [](uint8_t b) { return b == 0xCC; }));
                ASSERT_TRUE(std::all_of(buffer.begin() + kGuard + got, buffer.end(), [](uint8_t b) { return b == 0xCC; }));
                out.insert(out.end(), buffer.begin() + kGuard, buffer.begin() + kGuard + got);
                if (got < chunk) break;
            }
            EXPECT_EQ(out, whole);
        }
    }
}

// An image cut short inside the archive: whatever the stream cannot deliver comes out as zeros,
// through small reads and large ones alike.
TEST(ArchiveRelayout, ShortStreamReadsBecomeZeros) {
    FixtureTree tree = test::StandardTree();
    tree.members.push_back(FixtureTree::Leaf("big", PatternBytes(300000, 17)));
    tree.members.push_back(FixtureTree::Leaf("after", PatternBytes(5000, 18)));
    const auto bytes = tree.Build();
    ArchiveNode reference(bytes.data(), static_cast<uint32_t>(bytes.size()), false);
    const ArchiveNode& pack = *reference.Child(2);
    const ArchiveNode& inner = *pack.Child(2);
    const uint64_t innerStart = uint64_t{pack.offset} + inner.offset;
    const uint64_t cuts[] = {
        100,                                         // inside the root's header
        reference.Child(1)->offset + 1500,           // inside a leaf
        innerStart + 20,                             // inside a nested member table
        innerStart + inner.Child(1)->offset + 4999,  // one byte before a leaf's end
        reference.Child(4)->offset + 200000,         // inside a leaf larger than any read-ahead
        bytes.size() - 1,
    };
    for (uint64_t cut : cuts) {
        for (uint32_t chunk : {3000u, kMiB}) {
            SCOPED_TRACE("cut at " + std::to_string(cut) + ", chunks of " + std::to_string(chunk));
            test::SparseStreamBuf buffer(cut, 0, bytes);
            std::istream stream(&buffer);
            ArchiveNode root(&stream, static_cast<uint32_t>(bytes.size()));
            ASSERT_TRUE(root.RelayoutAndRewind());
            auto expected = bytes;
            std::fill(expected.begin() + static_cast<std::ptrdiff_t>(cut), expected.end(), 0);
            EXPECT_EQ(ReadAll(root, chunk), expected);
        }
    }
}

// An archive in the middle of an image: streaming it, small members and large, asks the image for
// nothing past the archive's last byte.
TEST(ArchiveRelayout, StreamReadsStayInsideTheArchive) {
    FixtureTree tree = test::StandardTree();
    tree.members.push_back(FixtureTree::Leaf("big", PatternBytes(200000, 21)));
    tree.members.push_back(FixtureTree::Leaf("small", PatternBytes(300, 22)));
    for (const auto& bytes : {test::StandardTree().Build(), tree.Build()}) {
        for (uint32_t chunk : {1000u, kMiB}) {
            SCOPED_TRACE(std::to_string(bytes.size()) + " bytes, chunks of " + std::to_string(chunk));
            constexpr uint64_t kStart = 3 * 2048;
            test::SparseStreamBuf buffer(kStart + bytes.size() + kMiB, kStart, bytes);
            std::istream stream(&buffer);
            stream.seekg(kStart);
            ArchiveNode root(&stream, static_cast<uint32_t>(bytes.size()));
            ASSERT_TRUE(root.RelayoutAndRewind());
            EXPECT_EQ(ReadAll(root, chunk), bytes);
            EXPECT_LE(buffer.furthestRequested(), kStart + bytes.size());
        }
    }
}

// Overlapping members of nearly 4 GiB: a layout that does not fit 32 bits is refused, one that
// just fits is not.
TEST(ArchiveRelayout, SizesBeyond32BitsFail) {
    struct Case {
        uint32_t memberSize;
        bool fits;
        uint32_t size;
    };
    const Case cases[] = {{0xF0000000u, false, 0}, {0x7FFFF000u, true, 0xFFFFE800u}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.memberSize);
        auto header = WriteArchive({{"a", 0, {}}, {"b", 0, {}}});
        header.resize(2048);
        for (uint32_t k : {1u, 2u}) {
            SetU32At(header, 16 * k, 2048);
            SetU32At(header, 16 * k + 8, c.memberSize);
        }
        SetU32At(header, 4, 2048);
        const uint64_t total = 2048 + uint64_t{c.memberSize};
        test::SparseStreamBuf buffer(total, 0, header);
        std::istream stream(&buffer);
        ArchiveNode root(&stream, static_cast<uint32_t>(total));
        ASSERT_TRUE(root.IsArchive());
        EXPECT_EQ(root.RelayoutAndRewind(), c.fits);
        if (c.fits) {
            EXPECT_EQ(root.size, c.size);
        }
    }
}

}  // namespace
}  // namespace tessaly
