#include "ui/hot_spot.h"

#include "ui/link_pages.h"

namespace tessaly {

// The artwork (resources/make-art.sh) draws the two areas at exactly these polygons; a window
// test compares the decoded picture with this table.
const HotSpot kHotSpots[kHotSpotCount] = {
    {{{289, 147}, {336, 152}, {355, 139}, {371, 143}, {377, 158}, {434, 171}, {434, 188}, {289, 163},
      {kHotSpotEndOfPolygon, 0}},
     TESSALY_PAGE_GENERAL_BOARD},
    {{{285, 169}, {433, 193}, {433, 204}, {284, 181}, {kHotSpotEndOfPolygon, 0}}, TESSALY_PAGE_GAME_BOARD},
    // No area: this page is never opened.
    {{{kHotSpotEndOfPolygon, kHotSpotEndOfPolygon}}, TESSALY_PAGE_FORUM},
};

namespace {

struct Offset {
    int32_t x;
    int32_t y;
};

// 0: x >= 0, y >= 0; 1: x < 0, y >= 0; 2: x < 0, y < 0; 3: x >= 0, y < 0.
int Quadrant(Offset d) {
    if (d.y >= 0) return d.x >= 0 ? 0 : 1;
    return d.x < 0 ? 2 : 3;
}

}  // namespace

bool PointInHotSpot(const HotSpot& hotSpot, int32_t x, int32_t y) {
    int n = 0;
    while (n < kHotSpotVertices && hotSpot.polygon[n].x != kHotSpotEndOfPolygon) ++n;
    if (n == 0) return false;

    auto relative = [&](int i) {
        const HotSpotVertex& v = hotSpot.polygon[i % n];  // i == n repeats the first vertex
        return Offset{v.x - x, v.y - y};
    };

    // w counts quarter turns of the polygon around the point: four times its winding number.
    int32_t w = 0;
    int previous = Quadrant(relative(0));
    for (int k = 1; k <= n; ++k) {
        const Offset prev = relative(k - 1);
        const Offset cur = relative(k);
        if (cur.x == 0 && cur.y == 0) return true;
        const int32_t cross = prev.x * cur.y - cur.x * prev.y;
        if (cross == 0 && prev.x * cur.x <= 0 && prev.y * cur.y <= 0) return true;
        const int q = Quadrant(cur);
        if (q == (previous + 1) % 4) {
            w += 1;
        } else if (q == (previous + 3) % 4) {
            w -= 1;
        } else if (q == (previous + 2) % 4) {
            // Half a turn at once: the sign of the cross product tells which way round.
            w += cross > 0 ? 2 : -2;
        }
        previous = q;
    }
    return w != 0;
}

const HotSpot* HotSpotAt(int32_t x, int32_t y) {
    for (const HotSpot& spot : kHotSpots) {
        if (PointInHotSpot(spot, x, y)) return &spot;
    }
    return nullptr;
}

}  // namespace tessaly
