// The software line and line list: the end points clipped to the draw area (itself kept inside the destination) in
// double precision, then integer stepping from the start point with the error term starting at 0, the end point
// never drawn. One loop per depth, mode and major axis, chosen once per line. Lines draw on alpha destinations too
// (stepping by the format's pixel size, a 16-bit rule on the low 16 bits); palettised ones are left alone.
// Window thread only.
#include "softrender/shape_rules.h"

#include <stdlib.h>

#include <algorithm>

// End points in 64 bits, so that differences and clipped positions of any int coordinates stay exact.
struct LineEnds {
    int64_t x1, y1, x2, y2;
};

// Truncation toward zero of a clipped position; anything far outside is held where the clamp that follows sees it.
static int64_t TruncateLinePosition(double value)
{
    const double limit = 1099511627776.0; // 2^40, far beyond any int coordinate
    return (int64_t)(value < -limit ? -limit : value > limit ? limit : value);
}

static int64_t ClampLinePosition(int64_t value, int64_t low, int64_t high)
{
    return value < low ? low : value > high ? high : value;
}

// Moves the start point into the area and the end point to at most one position beyond it, along the unclipped
// line x = cx + kx y, y = cy + ky x; false when the line's bounding box misses the area.
static bool ClipLineEnds(LineEnds &e, const RECT &area)
{
    const int64_t L = area.left, T = area.top, R = area.right, B = area.bottom;
    if (std::max(e.x1, e.x2) < L || std::min(e.x1, e.x2) >= R || std::max(e.y1, e.y2) < T ||
        std::min(e.y1, e.y2) >= B) {
        return false;
    }
    const double dx = (double)(e.x2 - e.x1), dy = (double)(e.y2 - e.y1);
    const double kx = e.y2 == e.y1 ? 0 : dx / dy, ky = e.x2 == e.x1 ? 0 : dy / dx;
    const double cx = (double)e.x1 - kx * (double)e.y1, cy = (double)e.y1 - ky * (double)e.x1;
    auto yAt = [&](int64_t x) { return TruncateLinePosition(cy + ky * (double)x); };
    auto xAt = [&](int64_t y) { return TruncateLinePosition(cx + kx * (double)y); };
    if (e.x1 < L || e.x1 >= R) {
        e.x1 = e.x1 < L ? L : R - 1, e.y1 = yAt(e.x1);
    }
    if (e.x2 < L || e.x2 >= R) {
        e.x2 = e.x2 < L ? L - 1 : R, e.y2 = yAt(e.x2);
    }
    if (e.y1 < T || e.y1 >= B) {
        e.y1 = e.y1 < T ? T : B - 1, e.x1 = xAt(e.y1);
    }
    if (e.y2 < T || e.y2 >= B) {
        e.y2 = e.y2 < T ? T - 1 : B, e.x2 = xAt(e.y2);
    }
    e = {ClampLinePosition(e.x1, L, R - 1), ClampLinePosition(e.y1, T, B - 1), ClampLinePosition(e.x2, L - 1, R),
         ClampLinePosition(e.y2, T - 1, B)};
    return true;
}

// ---------------------------------------------------------------------------------------------------------------
// Step loops: one per depth, mode and major axis, each counting the calls that chose it.

// One clipped line: its first pixel, the byte steps along the major and minor axes, and the axes' lengths.
struct LineSteps {
    uint8_t *first;
    ptrdiff_t majorStep, minorStep;
    int major, minor; // major >= minor, major > 0
    bool xMajor;
};

typedef void (*LineStepFunction)(const LineSteps &steps, const ShapeColor &c);

// The major axis only names the loop (the steps carry it), so each axis counts its own calls in the blits' leaf
// table, as "line <depth> m<mode> x" or "... y".
template <int Depth, int Mode, char Axis> struct LineStepsCounter {
    static BlitLeafRegistration registration;
};

template <int Depth, int Mode, char Axis>
BlitLeafRegistration LineStepsCounter<Depth, Mode, Axis>::registration("line", Depth, Mode, Axis);

template <int Depth, int Mode> static void DrawLineSteps(const LineSteps &steps, const ShapeColor &c)
{
    ++*(steps.xMajor ? LineStepsCounter<Depth, Mode, 'x'>::registration.calls
                     : LineStepsCounter<Depth, Mode, 'y'>::registration.calls);
    const ShapeColor local = c;
    uint8_t *pixel = steps.first;
    for (int i = 0, error = 0; i < steps.major; i++) {
        DrawShapePixel<Depth, Mode>(pixel, local);
        pixel += steps.majorStep;
        error += steps.minor;
        if (error >= steps.major) {
            pixel += steps.minorStep;
            error -= steps.major;
        }
    }
}

static const struct {
    int depth, mode;
    LineStepFunction run;
} kLineLoops[] = {
    {16, 0, DrawLineSteps<16, 0>},   {16, 1, DrawLineSteps<16, 1>},   {16, 2, DrawLineSteps<16, 2>},
    {16, 3, DrawLineSteps<16, 3>},   {16, 4, DrawLineSteps<16, 4>},   {16, 10, DrawLineSteps<16, 10>},
    {16, 11, DrawLineSteps<16, 11>}, {32, 0, DrawLineSteps<32, 0>},   {32, 1, DrawLineSteps<32, 1>},
    {32, 2, DrawLineSteps<32, 2>},   {32, 3, DrawLineSteps<32, 3>},   {32, 4, DrawLineSteps<32, 4>},
    {32, 10, DrawLineSteps<32, 10>}, {32, 11, DrawLineSteps<32, 11>},
};

#define LINE_LOOP_COUNT (int)(sizeof kLineLoops / sizeof kLineLoops[0])

// ---------------------------------------------------------------------------------------------------------------
// The two calls.

void MemImgDrawLine(MEMIMG *destination, int x1, int y1, int x2, int y2, unsigned int color)
{
    ShapeColor c;
    if (destination == NULL || !IsValidMemImg(destination) || destination->block->paletteFlag ||
        PrepareShapeColor(destination->block->kind, color, &c) != 0) {
        return;
    }
    const RECT area = BlitDrawArea(destination);
    LineEnds e = {x1, y1, x2, y2};
    if (area.right <= area.left || area.bottom <= area.top || !ClipLineEnds(e, area) ||
        (e.x1 == e.x2 && e.y1 == e.y2)) {
        return;
    }
    const MemImgBlock *block = destination->block;
    const int bytes = block->format->bytesPerPixel, nx = (int)(e.x2 - e.x1), ny = (int)(e.y2 - e.y1);
    const ptrdiff_t xStep = nx < 0 ? -bytes : bytes, yStep = ny < 0 ? -(ptrdiff_t)block->pitch : block->pitch;
    const bool xMajor = std::abs(nx) >= std::abs(ny);
    LineSteps steps = {destination->pixels + (ptrdiff_t)e.y1 * block->pitch + (ptrdiff_t)e.x1 * bytes,
                       xMajor ? xStep : yStep,
                       xMajor ? yStep : xStep,
                       std::max(std::abs(nx), std::abs(ny)),
                       std::min(std::abs(nx), std::abs(ny)),
                       xMajor};
    InvalidateMemImgDerivedData(destination);
    for (int i = 0; i < LINE_LOOP_COUNT; i++) {
        if (kLineLoops[i].depth == c.depth && kLineLoops[i].mode == c.mode) {
            kLineLoops[i].run(steps, c);
            return;
        }
    }
}

void MemImgDrawLines(MEMIMG *destination, const MemImgLine *lines, int count)
{
    for (int i = 0; lines != NULL && i < count; i++) {
        MemImgDrawLine(destination, lines[i].x1, lines[i].y1, lines[i].x2, lines[i].y2, (unsigned int)lines[i].color);
    }
}
