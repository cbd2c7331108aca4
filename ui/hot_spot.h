#pragma once
// The clickable link areas of the background picture, in its pixel coordinates (which are the
// dialog's client coordinates: the picture is drawn unscaled at the top-left corner).

#include <cstdint>

namespace tessaly {

constexpr int kHotSpotVertices = 21;
constexpr int32_t kHotSpotEndOfPolygon = -1;  // a vertex whose x is this ends the list

struct HotSpotVertex {
    int32_t x;
    int32_t y;
};

struct HotSpot {
    HotSpotVertex polygon[kHotSpotVertices];
    const wchar_t* page;  // the web address a click opens
};

constexpr int kHotSpotCount = 3;
extern const HotSpot kHotSpots[kHotSpotCount];

// True when (x, y) lies inside the polygon or on its border. Integer quadrant counting: no
// rounding, so a point exactly on an edge or a vertex is always inside.
bool PointInHotSpot(const HotSpot& hotSpot, int32_t x, int32_t y);

// The first hot spot of the table that contains (x, y), or null.
const HotSpot* HotSpotAt(int32_t x, int32_t y);

}  // namespace tessaly
