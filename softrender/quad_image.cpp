// The drawer of a whole image onto a quadrilateral, which the rotated blit hands its turned pictures to: a
// quadrilateral whose corners' box (widened by 2 pixels before and 3 past them) misses the draw area is left alone,
// any other becomes two textured triangles sharing the diagonal from the source's top-right to its bottom-left.
// Window thread only.
#include "core/core.h"
#include "softrender/triangle_spans.h"

#include <algorithm>

// Whether the corners' widened box meets the draw area.
static bool QuadNearDrawArea(const MEMIMG *destination, const int (*points)[2])
{
    int64_t left = points[0][0], top = points[0][1], right = left, bottom = top;
    for (int k = 1; k < 4; k++) {
        left = std::min<int64_t>(left, points[k][0]);
        right = std::max<int64_t>(right, points[k][0]);
        top = std::min<int64_t>(top, points[k][1]);
        bottom = std::max<int64_t>(bottom, points[k][1]);
    }
    RECT box = {ClampToInt(left - 2), ClampToInt(top - 2), ClampToInt(right + 4), ClampToInt(bottom + 4)};
    const RECT area = BlitDrawArea(destination);
    ClipRect(&box, &area);
    return box.left != box.right && box.top != box.bottom;
}

// A quadrilateral is drawn whole or not at all: a corner outside the triangles' range would leave the
// other triangle drawn alone (the source's size is in both triangles, which refuse it themselves).
static bool QuadCornersInRange(const int (*points)[2])
{
    for (int k = 0; k < 8; k++) {
        if (points[k / 2][k % 2] < -TRIANGLE_LIMIT || points[k / 2][k % 2] >= TRIANGLE_LIMIT) {
            return false;
        }
    }
    return true;
}

void MemImgDrawQuadImage(MEMIMG *destination, MEMIMG *source, const int (*points)[2], int transparent,
                         MEMIMG *blendImage)
{
    if (destination == NULL || source == NULL || points == NULL || !IsValidMemImg(destination) ||
        !IsValidMemImg(source) || !QuadCornersInRange(points) || !QuadNearDrawArea(destination, points)) {
        return;
    }
    const int w = source->width, h = source->height;
    const MemImgTriangleVertex corners[4] = {{points[0][0], points[0][1], 0, 0},
                                             {points[1][0], points[1][1], w, 0},
                                             {points[2][0], points[2][1], 0, h},
                                             {points[3][0], points[3][1], w, h}};
    MemImgDrawTriangle(destination, source, corners, transparent, blendImage, 0);
    MemImgDrawTriangle(destination, source, corners + 1, transparent, blendImage, 0);
}
