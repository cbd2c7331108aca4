#include <gtest/gtest.h>

#include <string_view>

#include "package/crc32.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

uint32_t crcOf(std::string_view text, void (*update)(const uint8_t*, uint32_t&, uint64_t)) {
    uint32_t running = 0;
    update(reinterpret_cast<const uint8_t*>(text.data()), running, text.size());
    return running;
}

TEST(Crc32, PublishedCheckValues) {
    struct Case { std::string_view input; uint32_t crc; };
    const Case cases[] = {
        {"", 0x00000000},
        {"a", 0xE8B7BE43},
        {"123456789", 0xCBF43926},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(crcOf(c.input, Crc32UpdateReference), c.crc) << c.input;
        EXPECT_EQ(crcOf(c.input, Crc32Update), c.crc) << c.input;
    }
}

TEST(Crc32, TableIsThePublishedOne) {
    EXPECT_EQ(Crc32Table[0], 0x00000000u);
    EXPECT_EQ(Crc32Table[1], 0x77073096u);
    EXPECT_EQ(Crc32Table[128], 0xEDB88320u);
    EXPECT_EQ(Crc32Table[255], 0x2D02EF8Du);
}

TEST(Crc32, ZeroLengthLeavesTheRunningValue) {
    uint32_t running = 0x12345678;
    const uint8_t byte = 0;
    Crc32Update(&byte, running, 0);
    EXPECT_EQ(running, 0x12345678u);
    Crc32UpdateReference(&byte, running, 0);
    EXPECT_EQ(running, 0x12345678u);
}

// The fast path must equal the per-byte reference on any data and at any split points.
TEST(Crc32, FastPathMatchesReferenceAcrossSplits) {
    const auto data = test::PatternBytes(3 * 1024 * 1024 + 77, 42);
    uint32_t whole = 0;
    Crc32UpdateReference(data.data(), whole, data.size());

    uint32_t fast = 0;
    Crc32Update(data.data(), fast, data.size());
    EXPECT_EQ(fast, whole);

    // Split points: single bytes, odd sizes, pieces of the 1 MiB transfer size and its neighbours.
    const size_t pieceSizes[] = {1, 3, 7, 15, 16, 17, 63, 64, 65, 4095, 1048575, 1048576, 1048577};
    for (size_t piece : pieceSizes) {
        uint32_t chained = 0;
        size_t limit = piece == 1 ? 100000 : data.size();  // one-byte steps over a prefix only
        uint32_t expected = whole;
        if (limit != data.size()) {
            expected = 0;
            Crc32UpdateReference(data.data(), expected, limit);
        }
        for (size_t at = 0; at < limit; at += piece) {
            const size_t n = std::min(piece, limit - at);
            Crc32Update(data.data() + at, chained, n);
        }
        EXPECT_EQ(chained, expected) << "piece " << piece;
    }
}

TEST(Crc32, EveryAlignmentAndLengthMatchesReference) {
    const auto data = test::PatternBytes(600, 7);
    for (size_t start = 0; start < 32; ++start) {
        for (size_t length = 0; length + start <= data.size(); length += 37) {
            uint32_t a = 0x5A5A5A5A, b = 0x5A5A5A5A;
            Crc32Update(data.data() + start, a, length);
            Crc32UpdateReference(data.data() + start, b, length);
            ASSERT_EQ(a, b) << "start " << start << " length " << length;
        }
    }
}

}  // namespace
}  // namespace tessaly
