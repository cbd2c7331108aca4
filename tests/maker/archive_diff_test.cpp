// DiffArchives on archives in memory: which records it makes for each kind of change, and that
// the build job's own replacement and relayout turn the original into the translated archive
// with them, byte for byte.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>

#include "archive/archive_bytes.h"
#include "archive/archive_node.h"
#include "archive/archive_patch.h"
#include "archive_model.h"
#include "maker/archive_diff.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

using archive_bytes::GetU32;
using archive_bytes::PutU32;
using test::ArchiveModel;
using Path = std::vector<uint32_t>;

constexpr uint64_t kSeed = 7;
constexpr uint32_t kDepth = 4;
constexpr uint32_t kWidth = 5;

struct DiffCase {
    std::string name;
    std::function<void(ArchiveModel&)> edit;           // the translation, on the model
    std::function<void(std::vector<uint8_t>&)> damage;  // then on the translated bytes
    bool expressible = true;
    std::vector<Path> paths;  // the records expected, in order
    std::string reasonPart;   // not expressible: what the reason names
};

void PrintTo(const DiffCase& c, std::ostream* os) { *os << c.name; }

// What the build job makes of the original with these records.
std::vector<uint8_t> rebuild(const std::vector<uint8_t>& original, const std::vector<ArchivePatchInput>& records) {
    const std::vector<uint8_t> encoded = EncodeArchivePatchRecords(records);
    ArchiveNode root(original.data(), static_cast<uint32_t>(original.size()), false);
    EXPECT_TRUE(root.valid);
    EXPECT_TRUE(ApplyArchivePatchRecords(root, encoded.data(), encoded.size()));
    EXPECT_TRUE(root.RelayoutAndRewind());
    std::vector<uint8_t> out(root.size);
    EXPECT_EQ(root.Read(out.data(), root.size), root.size);
    return out;
}

// Byte offset of a nested member, following the member tables.
uint32_t memberOffset(const std::vector<uint8_t>& bytes, const Path& path) {
    uint32_t base = 0;
    for (uint32_t k : path) base += GetU32(bytes.data() + base + 16 * k);
    return base;
}

class ArchiveDiffCases : public ::testing::TestWithParam<DiffCase> {};

TEST_P(ArchiveDiffCases, RecordsRebuildTheTranslatedArchive) {
    const DiffCase& c = GetParam();
    const ArchiveModel before = test::RandomArchive(kSeed, kDepth, kWidth);
    ArchiveModel after = before;
    if (c.edit) c.edit(after);
    const std::vector<uint8_t> original = before.Serialise();
    std::vector<uint8_t> translated = after.Serialise();
    if (c.damage) c.damage(translated);

    const ArchiveNode a(original.data(), static_cast<uint32_t>(original.size()), false);
    const ArchiveNode b(translated.data(), static_cast<uint32_t>(translated.size()), false);
    const maker::ArchiveDiff diff = maker::DiffArchives({a}, {b});
    ASSERT_EQ(diff.expressible, c.expressible) << diff.reason;
    if (!c.expressible) {
        EXPECT_NE(diff.reason.find(c.reasonPart), std::string::npos) << diff.reason;
        EXPECT_TRUE(diff.records.empty());
        return;
    }
    std::vector<Path> paths;
    for (const auto& r : diff.records) paths.push_back(r.memberPath);
    EXPECT_EQ(paths, c.paths);
    for (const auto& r : diff.records) EXPECT_EQ(r.content, after.At(r.memberPath).Serialise());
    EXPECT_TRUE(rebuild(original, diff.records) == translated);
}

std::vector<uint8_t> bytesOf(size_t size, uint32_t seed) { return test::PatternBytes(size, seed); }

const DiffCase kCases[] = {
    {"Unchanged", nullptr, nullptr, true, {}, ""},
    {"OneLeafFourLevelsDown", [](ArchiveModel& m) { m.At({2, 2, 2, 1}).bytes = bytesOf(500, 1); }, nullptr, true,
     {{2, 2, 2, 1}}, ""},
    {"LeavesInSeveralArchivesInPathOrder",
     [](ArchiveModel& m) {
         m.At({5}).bytes = bytesOf(70, 2);
         m.At({2, 1}).bytes = bytesOf(80, 3);
         m.At({2, 2, 4}).bytes = bytesOf(90, 4);
     },
     nullptr, true, {{2, 1}, {2, 2, 4}, {5}}, ""},
    {"ReplacementOfAnotherLengthMovesLaterMembers",
     [](ArchiveModel& m) { m.At({2, 1}).bytes = bytesOf(20000, 5); }, nullptr, true, {{2, 1}}, ""},
    {"EmptyMemberFilled", [](ArchiveModel& m) { m.At({2, 3}).bytes = bytesOf(100, 6); }, nullptr, true, {{2, 3}}, ""},
    {"MemberEmptied", [](ArchiveModel& m) { m.At({2, 2, 1}).bytes.clear(); }, nullptr, true, {{2, 2, 1}}, ""},
    {"NestedArchiveGainsAMember",
     [](ArchiveModel& m) { m.At({2, 2}).members.push_back(ArchiveModel::Leaf("added", bytesOf(300, 7))); }, nullptr,
     true, {{2, 2}}, ""},
    {"NestedArchiveLosesAMember", [](ArchiveModel& m) { m.At({2, 2, 2}).members.pop_back(); }, nullptr, true,
     {{2, 2, 2}}, ""},
    {"RenamedMemberReplacesItsArchive", [](ArchiveModel& m) { m.At({2, 2, 1}).name = "renamed"; }, nullptr, true,
     {{2, 2}}, ""},
    {"LeafBecomesAnArchive",
     [](ArchiveModel& m) {
         m.At({2, 1}) = ArchiveModel::Archive(
             "m2_1", {ArchiveModel::Leaf("a", bytesOf(40, 8)), ArchiveModel::Leaf("b", bytesOf(3000, 9))});
     },
     nullptr, true, {{2, 1}}, ""},
    {"ArchiveBecomesALeaf", [](ArchiveModel& m) { m.At({2, 2, 2}) = ArchiveModel::Leaf("m3_2", bytesOf(64, 10)); },
     nullptr, true, {{2, 2, 2}}, ""},
    {"RootHeaderChangedReplacesTheWhole", [](ArchiveModel& m) { m.At({1}).name = "renamed"; }, nullptr, true, {{}}, ""},
    {"TrailingBytesAfterTheArchive", [](ArchiveModel& m) { m.At({1}).bytes = bytesOf(10, 11); },
     [](std::vector<uint8_t>& b) { b.resize(b.size() + 2048, 0); }, false, {}, "the relayout makes it"},
    {"BytesInAGapBetweenMembers", [](ArchiveModel& m) { m.At({1}).bytes = bytesOf(10, 12); },
     [](std::vector<uint8_t>& b) {
         const uint32_t end = GetU32(b.data() + 16) + GetU32(b.data() + 24);  // member 1's offset + size
         b[end] = 0xAA;
     },
     false, {}, "other than zero after its member 1"},
    {"MemberNotWhereTheRelayoutPutsIt", [](ArchiveModel& m) { m.At({1}).bytes = bytesOf(10, 13); },
     [](std::vector<uint8_t>& b) {
         // Member 5 moved one sector on into the archive's slack, its old place zeroed.
         const uint32_t entry = 16 * 5;
         const uint32_t at = GetU32(b.data() + entry), size = GetU32(b.data() + entry + 8);
         b.resize(b.size() + 2048, 0);
         std::copy_backward(b.begin() + at, b.begin() + at + size, b.begin() + at + size + 2048);
         std::fill(b.begin() + at, b.begin() + at + 2048, uint8_t{0});
         PutU32(b.data() + entry, at + 2048);
         PutU32(b.data() + 4, static_cast<uint32_t>(b.size()));
     },
     false, {}, "member 5 starts at byte"},
    {"NestedArchiveWithAStructuralError", [](ArchiveModel& m) { m.At({1}).bytes = bytesOf(10, 14); },
     [](std::vector<uint8_t>& b) {
         const uint32_t nested = memberOffset(b, {2});
         PutU32(b.data() + nested + 16 + 8, 0x7FFFFFFF);  // its member 1 runs past its end
     },
     false, {}, "member 2 is a GPDA archive with a structural error"},
};

INSTANTIATE_TEST_SUITE_P(Changes, ArchiveDiffCases, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<DiffCase>& row) { return row.param.name; });

TEST(ArchiveDiff, EncodedSizeCountsEveryRecord) {
    std::vector<ArchivePatchInput> records = {{{2, 1}, std::vector<uint8_t>(10)}, {{3}, std::vector<uint8_t>(7)}};
    EXPECT_EQ(maker::EncodedRecordBytes(records), EncodeArchivePatchRecords(records).size());
}

TEST(ArchiveDiff, LeafOnEitherSideIsNoArchiveDiff) {
    const std::vector<uint8_t> archive = test::RandomArchive(kSeed, 2, 3).Serialise();
    const std::vector<uint8_t> leaf = test::PatternBytes(archive.size(), 3);
    const ArchiveNode a(archive.data(), static_cast<uint32_t>(archive.size()), false);
    const ArchiveNode b(leaf.data(), static_cast<uint32_t>(leaf.size()), false);
    EXPECT_FALSE(maker::DiffArchives({a}, {b}).expressible);
    EXPECT_FALSE(maker::DiffArchives({b}, {a}).expressible);
}

}  // namespace
}  // namespace tessaly
