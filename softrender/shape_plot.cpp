// The software pixel plot and filled rectangle: the refusals, the clip to the draw area (itself kept inside the
// destination), the colour prepared once, and one row loop per depth and mode; the plain fill writes its first row
// and copies it down. The colour preparation and the leaf counters that later shapes share live here too.
// Window thread only.
#include "softrender/shape_rules.h"

#include <algorithm>

// Each channel (c x brightness byte) >> 8, unless the brightness is white; a 32-bit colour keeps its top byte.
static uint32_t BrightenShapeColor(bool depth16, uint32_t c, uint32_t b)
{
    if ((b & 0xFFFFFF) == 0xFFFFFF) {
        return c;
    }
    Channels16 v = depth16 ? SplitRgb565(c) : Channels16{c >> 16 & 0xFF, c >> 8 & 0xFF, c & 0xFF};
    v = {v.red * (b >> 16 & 0xFF) >> 8, v.green * (b >> 8 & 0xFF) >> 8, v.blue * (b & 0xFF) >> 8};
    return depth16 ? JoinRgb565(v) : (c & 0xFF000000) | v.red << 16 | v.green << 8 | v.blue;
}

int PrepareShapeColor(int kind, uint32_t color, ShapeColor *out)
{
    const bool depth16 = kind == MEMIMG_KIND_RGB16;
    return PrepareBrightShapeColor(
        kind, BrightenShapeColor(depth16, depth16 ? color & 0xFFFF : color, g_MemImgDrawSettings.brightness), out);
}

int PrepareBrightShapeColor(int kind, uint32_t color, ShapeColor *out)
{
    const MemImgDrawSettings &settings = g_MemImgDrawSettings;
    unsigned mode = (unsigned)settings.blendMode;
    int p = std::clamp(settings.blendParameter, 0, 255);
    if (kind > MEMIMG_KIND_RGB32 || mode > 11 || (mode >= 5 && mode <= 9) || (p == 0 && mode != 0 && mode != 4)) {
        return -1;
    }
    const bool depth16 = kind == MEMIMG_KIND_RGB16;
    uint32_t c = depth16 ? color & 0xFFFF : color;
    if (mode == 2 || mode == 3) {
        const uint32_t *row = g_BlendTables.product[p];
        c = depth16 ? JoinRgb565({row[c >> 11], row[c >> 5 & 63], row[c & 31]})
                    : row[c >> 16 & 0xFF] << 16 | row[c >> 8 & 0xFF] << 8 | row[c & 0xFF];
    } else if (mode == 10) {
        c = ~c & (depth16 ? 0xFFFF : 0xFFFFFF);
    }
    out->depth = depth16 ? 16 : 32;
    out->mode = mode == 1 && p == 255 ? 0 : (int)mode;
    out->operand = c;
    out->parameter = (uint32_t)p;
    out->diffRow = &g_BlendTables.difference[p][255];
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Row loops: one per depth and mode, each counting the calls that chose it.

// The rows of one call: the first pixel, the step from row to row, and the rectangle's size.
struct ShapeRows {
    uint8_t *first;
    ptrdiff_t pitch;
    int width, height;
};

typedef void (*ShapeRowsFunction)(const ShapeRows &rows, const ShapeColor &c);

// Each row loop counts the calls that chose it in the blits' leaf table, as "shape <depth> m<mode>".
template <int Depth, int Mode> struct ShapeRowsCounter {
    static BlitLeafRegistration registration;
};

template <int Depth, int Mode>
BlitLeafRegistration ShapeRowsCounter<Depth, Mode>::registration("shape", Depth, Mode, 0);

template <int Depth, int Mode> static void DrawShapeRows(const ShapeRows &rows, const ShapeColor &c)
{
    ++*ShapeRowsCounter<Depth, Mode>::registration.calls;
    uint8_t *row = rows.first;
    for (int y = 0; y < rows.height; y++, row += rows.pitch) {
        DrawShapeRun<Depth, Mode>(row, rows.width, c);
    }
}

// The plain fill: the first row takes the colour, every further row is a block copy of it.
template <int Depth> static void FillShapeRows(const ShapeRows &rows, const ShapeColor &c)
{
    ++*ShapeRowsCounter<Depth, 0>::registration.calls;
    DrawShapeRun<Depth, 0>(rows.first, rows.width, c);
    size_t bytes = (size_t)rows.width * (Depth / 8);
    uint8_t *row = rows.first + rows.pitch;
    for (int y = 1; y < rows.height; y++, row += rows.pitch) {
        memcpy(row, rows.first, bytes);
    }
}

static const struct {
    int depth, mode;
    ShapeRowsFunction run;
} kShapeLoops[] = {
    {16, 0, FillShapeRows<16>},      {16, 1, DrawShapeRows<16, 1>},   {16, 2, DrawShapeRows<16, 2>},
    {16, 3, DrawShapeRows<16, 3>},   {16, 4, DrawShapeRows<16, 4>},   {16, 10, DrawShapeRows<16, 10>},
    {16, 11, DrawShapeRows<16, 11>}, {32, 0, FillShapeRows<32>},      {32, 1, DrawShapeRows<32, 1>},
    {32, 2, DrawShapeRows<32, 2>},   {32, 3, DrawShapeRows<32, 3>},   {32, 4, DrawShapeRows<32, 4>},
    {32, 10, DrawShapeRows<32, 10>}, {32, 11, DrawShapeRows<32, 11>},
};

#define SHAPE_LOOP_COUNT (int)(sizeof kShapeLoops / sizeof kShapeLoops[0])

// ---------------------------------------------------------------------------------------------------------------
// The two calls.

// Draws `rect` (ordered, right and bottom exclusive) clipped to the draw area inside the destination.
static void FillClippedRect(MEMIMG *destination, RECT rect, uint32_t color)
{
    ShapeColor c;
    if (destination == NULL || !IsValidMemImg(destination) || destination->block->paletteFlag ||
        destination->block->alphaFlag || PrepareShapeColor(destination->block->kind, color, &c) != 0) {
        return;
    }
    RECT area = BlitDrawArea(destination);
    ClipRect(&rect, &area);
    if (rect.right == rect.left || rect.bottom == rect.top) {
        return;
    }
    InvalidateMemImgDerivedData(destination);
    const MemImgBlock *block = destination->block;
    ShapeRows rows = {destination->pixels + (ptrdiff_t)rect.top * block->pitch + (ptrdiff_t)rect.left * (c.depth / 8),
                      block->pitch, rect.right - rect.left, rect.bottom - rect.top};
    for (int i = 0; i < SHAPE_LOOP_COUNT; i++) {
        if (kShapeLoops[i].depth == c.depth && kShapeLoops[i].mode == c.mode) {
            kShapeLoops[i].run(rows, c);
            return;
        }
    }
}

void MemImgDrawPixel(MEMIMG *destination, int x, int y, unsigned int color)
{
    FillClippedRect(destination, RECT{x, y, ClampToInt((int64_t)x + 1), ClampToInt((int64_t)y + 1)}, color);
}

void MemImgFillBox(MEMIMG *destination, const RECT *rect, unsigned int color)
{
    if (destination == NULL || !IsValidMemImg(destination)) {
        return;
    }
    RECT box = {0, 0, destination->width, destination->height};
    if (rect != NULL) {
        box = {std::min(rect->left, rect->right), std::min(rect->top, rect->bottom), std::max(rect->left, rect->right),
               std::max(rect->top, rect->bottom)};
    }
    FillClippedRect(destination, box, color);
}
