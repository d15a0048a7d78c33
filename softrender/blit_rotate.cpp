// The rotated and scaled draw of a whole software image about a point: every pixel of the corners' bounding box is
// mapped back into the source in 14.18 fixed point and drawn when it lands inside, nearest pixel, no filtering. With
// the turn flag the corners go, mirrored left to right, to the quadrilateral drawer instead. All float work happens
// once per call. Window thread only: the row tables and the palette scratch are module state.
#include "core/core.h"
#include "softrender/blit_rules.h"

#include <math.h>
#include <stddef.h>
#include <stdint.h>

#define ROTATE_MAX_ROWS 4096
// Sizes and positions stay below this many pixels, so that 14.18 sizes and distances fit 32 bits.
#define ROTATE_MAX_EXTENT 8192
#define ROTATE_ONE 262144 // one pixel in 14.18

static const uint8_t *s_RotateSourceRows[ROTATE_MAX_ROWS];
static const uint8_t *s_RotateBlendRows[ROTATE_MAX_ROWS];
static uint32_t s_RotatePaletteScratch[256];

struct RotateContext {
    int w, h;                // clipped box, both above 0
    uint32_t u, v;           // 14.18 source point of the box's top-left pixel; wraps, so negatives fail the bounds
    uint32_t du, dv;         // per pixel to the right
    uint32_t duRow, dvRow;   // per row down
    uint32_t uLimit, vLimit; // source width and height in 14.18
    uint8_t *dstRow;
    ptrdiff_t dstPitch;
    BlitLookups lookups;
};

struct RotateKind {
    typedef void (*Function)(const RotateContext &);
    static constexpr const char *name = "rotate";
    static constexpr bool specialForms = false, alwaysKeyed = false, textured = false;

    template <class Leaf> static void Run(const RotateContext &c)
    {
        CountBlitLeaf<RotateKind, Leaf>();
        // Locals, so that the stores cannot be taken to change them.
        const uint32_t du = c.du, dv = c.dv, uLimit = c.uLimit, vLimit = c.vLimit;
        const int w = c.w;
        uint32_t rowU = c.u, rowV = c.v;
        uint8_t *dstRow = c.dstRow;
        for (int row = 0; row < c.h; row++) {
            uint32_t u = rowU, v = rowV;
            uint8_t *dst = dstRow;
            for (int i = 0; i < w; i++) {
                if (u < uLimit && v < vLimit) {
                    const uint8_t *pixel = s_RotateSourceRows[v >> 18] + (u >> 18) * Leaf::sourceStep;
                    const uint8_t *blend = Leaf::blend ? s_RotateBlendRows[v >> 18] + (u >> 18) : NULL;
                    DrawBlitPixel<Leaf, true, false>(c.lookups, dst, pixel, blend);
                }
                u += du;
                v += dv;
                dst += Leaf::destinationStep;
            }
            rowU += c.duRow;
            rowV += c.dvRow;
            dstRow += c.dstPitch;
        }
    }
};

// The angle's sines and cosines and the corners of the turned and scaled picture in whole pixels, toward zero.
struct RotateGeometry {
    int sinNegative, cosNegative, sinAngle, cosAngle; // 14.18
    int64_t pixelX[4], pixelY[4];                     // top-left, bottom-left, bottom-right, top-right
};

// A float offset truncated to a 64-bit integer, held far inside the range so that sums cannot overflow.
static int64_t TruncateOffset(float value)
{
    const float limit = 4611686018427387904.0f; // 2^62
    return value >= limit ? (int64_t)1 << 62 : value <= -limit ? -((int64_t)1 << 62) : (int64_t)value;
}

static int FixedTrig(float value)
{
    return FloatToInt(value * 262144.0f);
}

static void MeasureRotation(RotateGeometry *g, const MEMIMG *source, int x, int y, float scale, float angle)
{
    float sine, cosine;
    SinCos(-angle, &sine, &cosine);
    g->sinNegative = FixedTrig(sine);
    g->cosNegative = FixedTrig(cosine);
    SinCos(angle, &sine, &cosine);
    g->sinAngle = FixedTrig(sine);
    g->cosAngle = FixedTrig(cosine);
    const float hw = (float)source->width * scale * 0.5f, hh = (float)source->height * scale * 0.5f;
    const float p = hw * (float)g->cosAngle, q = hw * (float)g->sinAngle;
    const float r = hh * (float)g->cosAngle, t = hh * (float)g->sinAngle;
    const float offsetX[4] = {-p + t, -p - t, p - t, p + t};
    const float offsetY[4] = {-r - q, r - q, r + q, -r + q};
    for (int k = 0; k < 4; k++) {
        g->pixelX[k] = (TruncateOffset(offsetX[k]) + (int64_t)x * ROTATE_ONE) / ROTATE_ONE;
        g->pixelY[k] = (TruncateOffset(offsetY[k]) + (int64_t)y * ROTATE_ONE) / ROTATE_ONE;
    }
}

// The turned draw: the source's top-left corner goes to the top-right corner of the picture, so it is mirrored.
static void HandToQuadDrawer(MEMIMG *destination, MEMIMG *source, const RotateGeometry &g, int transparent,
                             MEMIMG *blendImage)
{
    static const int order[4] = {3, 0, 2, 1};
    int points[4][2];
    for (int k = 0; k < 4; k++) {
        points[k][0] = ClampToInt(g.pixelX[order[k]]);
        points[k][1] = ClampToInt(g.pixelY[order[k]]);
    }
    MemImgDrawQuadImage(destination, source, points, transparent, blendImage);
}

static int64_t ClampToRange64(int64_t value, int64_t low, int64_t high)
{
    return value < low ? low : value > high ? high : value;
}

// The corners' box widened by 2 pixels left and up and 4 right and down, clipped to the draw area.
static RECT RotateBox(const RotateGeometry &g, const MEMIMG *destination)
{
    int64_t left = g.pixelX[0], top = g.pixelY[0], right = g.pixelX[0], bottom = g.pixelY[0];
    for (int k = 1; k < 4; k++) {
        left = g.pixelX[k] < left ? g.pixelX[k] : left;
        right = g.pixelX[k] > right ? g.pixelX[k] : right;
        top = g.pixelY[k] < top ? g.pixelY[k] : top;
        bottom = g.pixelY[k] > bottom ? g.pixelY[k] : bottom;
    }
    const RECT area = BlitDrawArea(destination);
    RECT box;
    box.left = (LONG)ClampToRange64(left - 2, area.left, area.right);
    box.top = (LONG)ClampToRange64(top - 2, area.top, area.bottom);
    box.right = (LONG)ClampToRange64(right + 4, area.left, area.right);
    box.bottom = (LONG)ClampToRange64(bottom + 4, area.top, area.bottom);
    return box;
}

// The 14.18 source coordinate (not wrapped) of the destination pixel at offset (ox, oy) from the centre.
static int64_t SourceCoordinate(int64_t numerator, float scale, int size)
{
    return (int64_t)FloatToInt((float)numerator / scale) + (int64_t)(size >> 1) * ROTATE_ONE;
}

static void MapRotateBox(RotateContext *c, const RotateGeometry &g, const RECT &box, const MEMIMG *source, int x, int y,
                         float scale)
{
    const int64_t ox = (int64_t)box.left - x, oyTop = (int64_t)box.top - y, oyBottom = (int64_t)box.bottom - y;
    const int64_t uTop = SourceCoordinate(ox * g.cosNegative - oyTop * g.sinNegative, scale, source->width);
    const int64_t vTop = SourceCoordinate(oyTop * g.cosNegative + ox * g.sinNegative, scale, source->height);
    const int64_t uBottom = SourceCoordinate(ox * g.cosNegative - oyBottom * g.sinNegative, scale, source->width);
    const int64_t vBottom = SourceCoordinate(oyBottom * g.cosNegative + ox * g.sinNegative, scale, source->height);
    c->u = (uint32_t)uTop;
    c->v = (uint32_t)vTop;
    c->duRow = (uint32_t)((uBottom - uTop) / c->h);
    c->dvRow = (uint32_t)((vBottom - vTop) / c->h);
    c->du = (uint32_t)FloatToInt((float)g.cosAngle / scale);
    c->dv = (uint32_t)FloatToInt((float)g.sinNegative / scale);
    c->uLimit = (uint32_t)source->width * ROTATE_ONE;
    c->vLimit = (uint32_t)source->height * ROTATE_ONE;
}

static void FillRotateRows(const uint8_t **rows, const MEMIMG *image, int count)
{
    for (int i = 0; i < count; i++) {
        rows[i] = image->pixels + (ptrdiff_t)i * image->block->pitch;
    }
}

// Sizes, positions and factors the 14.18 arithmetic holds; the row tables' limit applies to the walk only.
static bool RotationAcceptable(const MEMIMG *source, const MEMIMG *blendImage, int x, int y, float scale, float angle,
                               int turn)
{
    if (source->width >= ROTATE_MAX_EXTENT || source->height >= ROTATE_MAX_EXTENT || x < -ROTATE_MAX_EXTENT ||
        x >= ROTATE_MAX_EXTENT || y < -ROTATE_MAX_EXTENT || y >= ROTATE_MAX_EXTENT) {
        return false;
    }
    if (scale == 0.0f || !isfinite(scale) || !isfinite(angle)) {
        return false;
    }
    return turn || (source->height <= ROTATE_MAX_ROWS && (blendImage == NULL || blendImage->height <= ROTATE_MAX_ROWS));
}

void MemImgDrawRotatedImage(MEMIMG *destination, MEMIMG *source, int centerX, int centerY, float scale, float angle,
                            int transparent, int turn, MEMIMG *blendImage)
{
    if (!BlitImagesAcceptable(destination, source, blendImage) ||
        !RotationAcceptable(source, blendImage, centerX, centerY, scale, angle, turn)) {
        return;
    }
    RotateGeometry g;
    MeasureRotation(&g, source, centerX, centerY, scale, angle);
    if (turn) {
        HandToQuadDrawer(destination, source, g, transparent, blendImage);
        return;
    }
    const RECT box = RotateBox(g, destination);
    RotateContext c;
    c.w = box.right - box.left;
    c.h = box.bottom - box.top;
    const MemImgBlock *block = source->block;
    BlitChoice choice;
    if (c.w <= 0 || c.h <= 0 || ChooseBlitLoop(block, transparent, blendImage != NULL, false, &choice) != 0) {
        return;
    }
    InvalidateMemImgDerivedData(destination);

    MapRotateBox(&c, g, box, source, centerX, centerY, scale);
    const MemImgBlock *target = destination->block;
    c.dstPitch = target->pitch;
    c.dstRow =
        destination->pixels + (ptrdiff_t)box.top * target->pitch + (ptrdiff_t)box.left * target->format->bytesPerPixel;
    FillRotateRows(s_RotateSourceRows, source, source->height);
    if (blendImage != NULL) {
        FillRotateRows(s_RotateBlendRows, blendImage, source->height);
    }
    TakeBlitLookups(&c.lookups, block, CopyBlitPalette(s_RotatePaletteScratch, block));
    PickBlitLoop<RotateKind>(choice)(c);
}
