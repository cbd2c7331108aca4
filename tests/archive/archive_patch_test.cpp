#include <gtest/gtest.h>

#include "archive/archive_patch.h"
#include "archive/archive_writer.h"
#include "archive_fixtures.h"

namespace tessaly {
namespace {

using test::FixtureTree;
using test::PatternBytes;
using test::SetU32At;

const std::vector<ArchivePatchInput> kSample = {
    {{2, 2, 1}, PatternBytes(300, 1)},
    {{}, {}},
    {{3}, PatternBytes(5, 2)},
};

TEST(ArchivePatch, EncodesTheDocumentedBytes) {
    const auto bytes = EncodeArchivePatchRecords({{{7, 0x01020304}, {0xAA, 0xBB}}});
    const std::vector<uint8_t> want = {1, 0, 0, 0,                         // record count
                                       2, 0, 0, 0,                         // content length
                                       2, 0, 0, 0,                         // depth
                                       7, 0, 0, 0, 4, 3, 2, 1,             // member path
                                       0xAA, 0xBB};
    EXPECT_EQ(bytes, want);
}

TEST(ArchivePatch, DecodesWhatWasEncoded) {
    const auto bytes = EncodeArchivePatchRecords(kSample);
    const auto records = DecodeArchivePatchRecords(bytes.data(), bytes.size());
    ASSERT_TRUE(records.has_value());
    ASSERT_EQ(records->size(), kSample.size());
    for (size_t i = 0; i < kSample.size(); ++i) {
        SCOPED_TRACE(i);
        const ArchivePatchRecord& r = (*records)[i];
        EXPECT_EQ(r.depth, kSample[i].memberPath.size());
        EXPECT_EQ(r.memberPath, kSample[i].memberPath);
        EXPECT_EQ(std::vector<uint8_t>(r.content, r.content + r.contentLength), kSample[i].content);
        // Contents are referred to where they stand.
        EXPECT_GE(r.content, bytes.data());
        EXPECT_LE(r.content + r.contentLength, bytes.data() + bytes.size());
    }
    // Records are counted, not measured: bytes after the last one do not matter.
    auto longer = bytes;
    longer.resize(bytes.size() + 9, 0xEE);
    EXPECT_TRUE(DecodeArchivePatchRecords(longer.data(), longer.size()).has_value());
}

// Every prefix of valid records is cut inside some field; none may decode, and none may read
// past its end (the sanitizers watch a buffer of exactly that length).
TEST(ArchivePatch, EveryTruncationFails) {
    const auto bytes = EncodeArchivePatchRecords(kSample);
    for (size_t length = 0; length < bytes.size(); ++length) {
        SCOPED_TRACE(length);
        const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(DecodeArchivePatchRecords(cut.data(), cut.size()).has_value());
    }
    EXPECT_FALSE(DecodeArchivePatchRecords(nullptr, 0).has_value());
}

TEST(ArchivePatch, LengthsThatWouldWrapFail) {
    struct Case {
        const char* what;
        uint32_t contentLength;
        uint32_t depth;
    };
    const Case cases[] = {
        {"depth whose byte count wraps 32 bits", 0, 0x40000001},
        {"content length near 2^32", 0xFFFFFFF8, 0},
        {"depth and content length summing past 2^32", 0xFFFFFFFC, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bytes(4 + 8 + 16, 0);
        SetU32At(bytes, 0, 1);
        SetU32At(bytes, 4, c.contentLength);
        SetU32At(bytes, 8, c.depth);
        EXPECT_FALSE(DecodeArchivePatchRecords(bytes.data(), bytes.size()).has_value());
    }
    // A record count far above what the bytes hold.
    std::vector<uint8_t> bytes = EncodeArchivePatchRecords(kSample);
    SetU32At(bytes, 0, 0xFFFFFFFF);
    EXPECT_FALSE(DecodeArchivePatchRecords(bytes.data(), bytes.size()).has_value());
}

TEST(ArchivePatch, AppliesInStoredOrderAndStopsAtTheFirstRefusal) {
    FixtureTree fixture = test::StandardTree();
    const auto original = fixture.Build();
    const auto nested = WriteArchive({{"n1", 0, PatternBytes(40, 5)}, {"n2", 0, PatternBytes(50, 6)}});
    const auto records = EncodeArchivePatchRecords({
        {{1}, nested},                      // contents that are an archive...
        {{1, 2}, PatternBytes(900, 7)},     // ...addressed by a later record
        {{2, 2, 2, 1}, PatternBytes(11, 8)},
        {{2, 2, 2, 1}, PatternBytes(12, 9)},  // the last replacement wins
    });
    ArchiveNode root(original.data(), static_cast<uint32_t>(original.size()), false);
    ASSERT_TRUE(ApplyArchivePatchRecords(root, records.data(), records.size()));

    FixtureTree& first = fixture.At({1});
    first = FixtureTree::Archive(first.name, {FixtureTree::Leaf("n1", PatternBytes(40, 5)),
                                              FixtureTree::Leaf("n2", PatternBytes(900, 7))},
                                 0, 0, first.reserved);
    fixture.At({2, 2, 2, 1}).bytes = PatternBytes(12, 9);
    ASSERT_TRUE(root.RelayoutAndRewind());
    EXPECT_EQ(test::ReadAll(root, 1 << 20), fixture.Build());

    // A refused record stops the walk: the record after it is not applied.
    const auto stopping = EncodeArchivePatchRecords({
        {{3}, PatternBytes(20, 10)},
        {{1, 1}, PatternBytes(20, 11)},  // member 1 is a leaf
        {{2, 1}, PatternBytes(20, 12)},
    });
    ArchiveNode other(original.data(), static_cast<uint32_t>(original.size()), false);
    const ArchiveNode* readme = other.Child(2)->Child(1);
    EXPECT_FALSE(ApplyArchivePatchRecords(other, stopping.data(), stopping.size()));
    EXPECT_EQ(other.Child(3)->size, 20u);
    EXPECT_EQ(readme->size, 10u);

    // Records cut short are refused after the complete ones before them are applied.
    auto truncated = EncodeArchivePatchRecords({{{3}, PatternBytes(20, 13)}, {{2, 1}, PatternBytes(20, 14)}});
    truncated.pop_back();
    ArchiveNode third(original.data(), static_cast<uint32_t>(original.size()), false);
    EXPECT_FALSE(ApplyArchivePatchRecords(third, truncated.data(), truncated.size()));
    EXPECT_EQ(third.Child(3)->size, 20u);
    EXPECT_EQ(third.Child(2)->Child(1)->size, 10u);
}

}  // namespace
}  // namespace tessaly
