#include "ui/hot_spot.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace tessaly {
namespace {

constexpr int32_t kPictureWidth = 750;
constexpr int32_t kPictureHeight = 477;

struct PointCase {
    const char* name;
    int32_t x;
    int32_t y;
    int slot;  // 1-based slot of kHotSpots that contains the point, 0 for none
};

// Rows print as their names (ctest shows the printed value in the test name).
void PrintTo(const PointCase& row, std::ostream* out) { *out << row.name; }

class HotSpotPoints : public ::testing::TestWithParam<PointCase> {};

TEST_P(HotSpotPoints, LiesInExactlyTheExpectedSlot) {
    const PointCase& c = GetParam();
    for (int slot = 1; slot <= kHotSpotCount; ++slot) {
        EXPECT_EQ(PointInHotSpot(kHotSpots[slot - 1], c.x, c.y), slot == c.slot)
            << "(" << c.x << ", " << c.y << ") in slot " << slot;
    }
    const HotSpot* first = HotSpotAt(c.x, c.y);
    if (c.slot == 0) {
        EXPECT_EQ(first, nullptr);
    } else {
        EXPECT_EQ(first, &kHotSpots[c.slot - 1]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, HotSpotPoints,
    ::testing::Values(PointCase{"InsideSlot1", 350, 160, 1}, PointCase{"InsideSlot1Right", 400, 175, 1},
                      PointCase{"InsideSlot2", 350, 185, 2}, PointCase{"InsideSlot2Right", 433, 200, 2},
                      PointCase{"BelowBoth", 300, 200, 0}, PointCase{"AboveSlot1", 400, 150, 0},
                      PointCase{"BetweenTheAreas", 290, 168, 0}, PointCase{"Slot1Vertex", 289, 147, 1},
                      PointCase{"Slot1LeftEdge", 289, 155, 1}, PointCase{"Slot2Vertex", 284, 181, 2},
                      PointCase{"LeftOfSlot1Edge", 288, 155, 0}, PointCase{"LeftOfSlot2Vertex", 283, 181, 0},
                      PointCase{"Slot1Notch", 355, 140, 1}, PointCase{"AboveSlot1Notch", 356, 139, 0},
                      PointCase{"Slot1RightEdge", 434, 180, 1}, PointCase{"RightOfSlot1Edge", 435, 180, 0}),
    [](const ::testing::TestParamInfo<PointCase>& row) { return std::string(row.param.name); });

TEST(HotSpotCoverage, CountsThePicturePixelsOfEachSlot) {
    int count[kHotSpotCount] = {};
    int overlaps = 0;
    for (int32_t y = 0; y < kPictureHeight; ++y) {
        for (int32_t x = 0; x < kPictureWidth; ++x) {
            int inside = 0;
            for (int slot = 0; slot < kHotSpotCount; ++slot) {
                if (PointInHotSpot(kHotSpots[slot], x, y)) {
                    ++count[slot];
                    ++inside;
                }
            }
            if (inside > 1) ++overlaps;
        }
    }
    EXPECT_EQ(count[0], 3146);
    EXPECT_EQ(count[1], 1729);
    EXPECT_EQ(count[2], 0);
    EXPECT_EQ(overlaps, 0);
}

// A square (0,0)-(10,10) traced through 20 vertices, plus a 21st vertex that adds a triangle to
// the left; the point (-10, 5) lies in that triangle only.
HotSpot SquareWithSpike(bool spike) {
    HotSpot spot{};
    int i = 0;
    for (int x = 0; x < 10; x += 2) spot.polygon[i++] = {x, 0};    // 5 along the top
    for (int y = 0; y < 10; y += 2) spot.polygon[i++] = {10, y};   // 5 down the right
    for (int x = 10; x > 0; x -= 2) spot.polygon[i++] = {x, 10};   // 5 along the bottom
    for (int k = 0; k < 5; ++k) spot.polygon[i++] = {0, 10 - k};   // 5 up the left, to (0, 6)
    spot.polygon[i++] = spike ? HotSpotVertex{-20, 5} : HotSpotVertex{kHotSpotEndOfPolygon, 0};
    spot.page = L"";
    return spot;
}

TEST(HotSpotPolygon, ReadsAllTwentyOnePlacesWhenNoneEndsTheList) {
    const HotSpot full = SquareWithSpike(true);
    EXPECT_TRUE(PointInHotSpot(full, -10, 5));
    EXPECT_TRUE(PointInHotSpot(full, -20, 5));  // the 21st vertex itself
    EXPECT_TRUE(PointInHotSpot(full, 5, 5));

    const HotSpot twenty = SquareWithSpike(false);
    EXPECT_FALSE(PointInHotSpot(twenty, -10, 5));
    EXPECT_TRUE(PointInHotSpot(twenty, 5, 5));
}

TEST(HotSpotPolygon, EmptyPolygonContainsNothing) {
    const HotSpot& none = kHotSpots[2];
    for (const HotSpotVertex p : {HotSpotVertex{-1, -1}, HotSpotVertex{0, 0}, HotSpotVertex{350, 160}}) {
        EXPECT_FALSE(PointInHotSpot(none, p.x, p.y)) << p.x << "," << p.y;
    }
}

TEST(HotSpotPolygon, DirectionOfTheOutlineDoesNotMatter) {
    HotSpot reversed{};
    const HotSpot& slot1 = kHotSpots[0];
    int n = 0;
    while (slot1.polygon[n].x != kHotSpotEndOfPolygon) ++n;
    for (int i = 0; i < n; ++i) reversed.polygon[i] = slot1.polygon[n - 1 - i];
    reversed.polygon[n] = {kHotSpotEndOfPolygon, 0};
    int differences = 0;
    for (int32_t y = 130; y < 200; ++y) {
        for (int32_t x = 280; x < 440; ++x) {
            if (PointInHotSpot(reversed, x, y) != PointInHotSpot(slot1, x, y)) ++differences;
        }
    }
    EXPECT_EQ(differences, 0);
}

}  // namespace
}  // namespace tessaly
