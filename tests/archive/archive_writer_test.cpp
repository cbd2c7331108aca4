#include <gtest/gtest.h>

#include <stdexcept>

#include "archive/archive_writer.h"
#include "archive_fixtures.h"

namespace tessaly {
namespace {

using test::GetU32At;
using test::PatternBytes;

// The layout rule, read back field by field from the written bytes.
TEST(ArchiveWriter, LaysMembersOutByTheRule) {
    const std::vector<ArchiveMember> members = {
        {"first", 0x101, PatternBytes(3000, 1)},
        {"empty", 0x102, {}},
        {"aligned", 0x103, PatternBytes(2048, 2)},
        {"last", 0x104, PatternBytes(5, 3)},
    };
    const auto bytes = WriteArchive(members, {0xFEEDF00D, 10});

    EXPECT_EQ(GetU32At(bytes, 0), 0x41445047u);
    EXPECT_EQ(GetU32At(bytes, 8), 0xFEEDF00Du);
    ASSERT_EQ(GetU32At(bytes, 12), 4u);
    // Header 16 + table 64 + four name records of 4 + 10 bytes: one 2048-byte region.
    const uint32_t expectedOffsets[] = {2048, 6144, 6144, 8192};
    for (uint32_t k = 1; k <= 4; ++k) {
        SCOPED_TRACE(k);
        const size_t entry = 16 * k;
        EXPECT_EQ(GetU32At(bytes, entry), expectedOffsets[k - 1]);
        EXPECT_EQ(GetU32At(bytes, entry + 4), 0x100 + k);
        EXPECT_EQ(GetU32At(bytes, entry + 8), members[k - 1].bytes.size());
        const uint32_t nameOffset = GetU32At(bytes, entry + 12);
        EXPECT_EQ(nameOffset, 80 + 14 * (k - 1));
        EXPECT_EQ(GetU32At(bytes, nameOffset), 10u);
        std::string field(bytes.begin() + nameOffset + 4, bytes.begin() + nameOffset + 14);
        EXPECT_EQ(field, (members[k - 1].name + std::string(10, ' ')).substr(0, 10));
        EXPECT_TRUE(std::equal(members[k - 1].bytes.begin(), members[k - 1].bytes.end(),
                               bytes.begin() + expectedOffsets[k - 1]));
    }
    EXPECT_EQ(GetU32At(bytes, 4), 10240u);
    ASSERT_EQ(bytes.size(), 10240u);
    // Padding after the name records, after member 1 and after the last member is zero.
    const std::pair<size_t, size_t> gaps[] = {{136, 2048}, {5048, 6144}, {8197, 10240}};
    for (const auto& [from, to] : gaps)
        EXPECT_TRUE(std::all_of(bytes.begin() + from, bytes.begin() + to, [](uint8_t b) { return b == 0; }))
            << from << ".." << to;
}

TEST(ArchiveWriter, EmptyArchiveIsOneHeaderRegion) {
    const auto bytes = WriteArchive({}, {7, 0});
    ASSERT_EQ(bytes.size(), 2048u);
    EXPECT_EQ(GetU32At(bytes, 4), 2048u);
    EXPECT_EQ(GetU32At(bytes, 8), 7u);
    EXPECT_EQ(GetU32At(bytes, 12), 0u);
}

TEST(ArchiveWriter, HeaderRegionGrowsInWholeSectorsUpToTheWindow) {
    // 2047 members with empty names fill 16 + 2047 * 20 = 40956 bytes: over the 32 KiB window.
    std::vector<ArchiveMemberSpec> many(2047);
    EXPECT_THROW(LayOutArchive(many), std::length_error);
    // 1600 members: 32016 bytes of header, rounded up to exactly 32768.
    many.resize(1600);
    const auto layout = LayOutArchive(many);
    EXPECT_EQ(layout.header.size(), 32768u);
    EXPECT_EQ(layout.memberOffsets.front(), 32768u);
    EXPECT_EQ(layout.archiveSize, 32768u);
}

TEST(ArchiveWriter, RefusesWhatTheFormatCannotHold) {
    EXPECT_THROW(LayOutArchive({{"longer than six", 0, 1}}, {0, 6}), std::length_error);
    // Positions are 32-bit: a second member past 4 GiB cannot be written.
    EXPECT_THROW(LayOutArchive({{"a", 0, 0xFFFF0000u}, {"b", 0, 0x20000u}}), std::length_error);
    EXPECT_NO_THROW(LayOutArchive({{"a", 0, 0xFFFFF000u - 2048}}));
}

}  // namespace
}  // namespace tessaly
