// The software circle, outlined or filled: the integer midpoint walk from (0, r) with d = 3 - 2r, every point
// clipped by itself, the disc drawn as spans with one flag per row of the draw area so that no row is drawn twice.
// The walk's row at each step has a closed form, so runs of steps whose points and spans all miss the draw area
// are jumped over with the pixels unchanged: a circle costs what it draws, whatever its radius. Positions and the
// walk are 64-bit. Alpha destinations are drawn on (stepping by the format's pixel size, a 16-bit rule on the low
// 16 bits), palettised ones are not. One loop per form, depth and mode, chosen once per call. Window thread only.
#include "softrender/shape_rules.h"

#include <math.h>

#include <algorithm>

// ---------------------------------------------------------------------------------------------------------------
// The walk. Each step draws with (x, y, d), then d += 4x + 6 when d < 0, else d += 4(x - y) + 10 and y -= 1; then
// x += 1, while y >= x. As d = 2((x + 1)^2 + y(y - 1) - r^2) + 1, d < 0 says that y still has
// (x + 1)^2 + y(y - 1) < r^2; by induction over the steps, y is at every step the largest y with
// x^2 + y(y - 1) < r^2 (when y drops, y - 1 is still inside unless the walk ends there). So for r >= 1 the walk
// can be resumed at any of its steps from x alone.

static const int64_t kBeyondEveryStep = INT64_MAX / 4;

static uint64_t SquareRootFloor(uint64_t value)
{
    uint64_t root = std::min<uint64_t>((uint64_t)sqrt((double)value), 0xFFFFFFFF);
    while (root * root > value) {
        root--;
    }
    while (root < 0xFFFFFFFF && (root + 1) * (root + 1) <= value) {
        root++;
    }
    return root;
}

// Where one family of points or spans can meet the draw area: at steps with x in [xLow, xHigh] and y in
// [yLow, yHigh]; `lowering`: only at the steps that lower y (the disc's spans on rows cy +- y).
struct CircleReach {
    int64_t xLow, xHigh, yLow, yHigh;
    bool lowering;
};

struct CircleWalk {
    int64_t radius, x, y, d;
    CircleReach reaches[8];
    int reachCount;
};

// y at step x: the largest y with y(y - 1) <= r^2 - 1 - x^2, that is 2y - 1 <= sqrt(4(r^2 - 1 - x^2) + 1); 0 past
// the circle.
static int64_t WalkRowAt(const CircleWalk &w, int64_t x)
{
    if (x >= w.radius) {
        return 0;
    }
    uint64_t room = (uint64_t)(w.radius - x) * (uint64_t)(w.radius + x) - 1;
    return (int64_t)((SquareRootFloor(4 * room + 1) + 1) / 2);
}

// The last x whose row is still `row` or more: the largest x with x^2 <= r^2 - 1 - row(row - 1).
static int64_t LastStepAtRow(const CircleWalk &w, int64_t row)
{
    if (row <= 1) {
        return kBeyondEveryStep;
    }
    if (row > w.radius) {
        return -1;
    }
    return (int64_t)SquareRootFloor((uint64_t)(w.radius - row) * (uint64_t)(w.radius + row) + (uint64_t)(row - 1));
}

static void JumpCircleWalk(CircleWalk &w, int64_t x)
{
    const int64_t y = WalkRowAt(w, x);
    w.x = x, w.y = y, w.d = 2 * ((x + 1) * (x + 1) - w.radius * w.radius + y * (y - 1)) + 1;
}

static bool StepMayDraw(const CircleWalk &w)
{
    for (int i = 0; i < w.reachCount; i++) {
        const CircleReach &r = w.reaches[i];
        if (w.x >= r.xLow && w.x <= r.xHigh && w.y >= r.yLow && w.y <= r.yHigh && (!r.lowering || w.d >= 0)) {
            return true;
        }
    }
    return false;
}

// The first x from `from` on at which some reach holds, taking every step's row from the closed form.
static int64_t NextStepThatMayDraw(const CircleWalk &w, int64_t from)
{
    int64_t best = kBeyondEveryStep;
    for (int i = 0; i < w.reachCount; i++) {
        const CircleReach &r = w.reaches[i];
        const int64_t firstLowEnough = r.yHigh >= w.radius ? 0 : LastStepAtRow(w, r.yHigh + 1) + 1;
        const int64_t last = std::min(r.xHigh, LastStepAtRow(w, r.yLow));
        int64_t first = std::max({from, r.xLow, firstLowEnough});
        if (first <= last && r.lowering) {
            first = LastStepAtRow(w, WalkRowAt(w, first)); // the step that leaves this row
        }
        if (first <= last) {
            best = std::min(best, first);
        }
    }
    return best;
}

// From a step that draws nothing, on to the next one that may; past the walk's last step, the walk ends.
static void SkipStepsThatMiss(CircleWalk &w)
{
    if (w.radius == 0 || StepMayDraw(w)) {
        return;
    }
    const int64_t next = NextStepThatMayDraw(w, w.x + 1);
    if (next >= w.radius || WalkRowAt(w, next) < next) {
        w.y = -1;
        return;
    }
    JumpCircleWalk(w, next);
}

static void AdvanceCircleWalk(CircleWalk &w)
{
    if (w.d < 0) {
        w.d += 4 * w.x + 6;
    } else {
        w.d += 4 * (w.x - w.y) + 10;
        w.y--;
    }
    w.x++;
    if (w.y >= w.x) {
        SkipStepsThatMiss(w);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Where the walk's families meet the draw area.

// One call's destination: the view's first pixel, pitch and pixel size, the draw area, the centre, and the disc's
// row flags (one byte per row of the draw area, 1 once that row is drawn).
struct CircleTarget {
    uint8_t *pixels;
    ptrdiff_t pitch;
    int bytes;
    RECT area;
    int64_t cx, cy;
    uint8_t *rowFlags;
};

struct OffsetRange {
    int64_t low, high;
};

// The offsets v >= 0 for which v or -v lies in [low, high]: two ranges, either of them possibly empty.
static void FoldOffsets(int64_t low, int64_t high, OffsetRange out[2])
{
    out[0] = {std::max<int64_t>(low, 0), high};
    out[1] = {std::max<int64_t>(-high, 0), -low};
}

static void AddReach(CircleWalk &w, OffsetRange x, OffsetRange y, bool lowering)
{
    w.reaches[w.reachCount++] = {x.low, x.high, y.low, y.high, lowering};
}

// The outline plots (cx +- y, cy +- x) and (cx +- x, cy +- y); the disc spans rows cy +- x over cx - y .. cx + y
// and, at steps that lower y, rows cy +- y over cx - x .. cx + x.
static void StartCircleWalk(CircleWalk &w, const CircleTarget &t, int64_t radius, bool fill)
{
    OffsetRange rows[2], columns[2];
    FoldOffsets(t.area.top - t.cy, t.area.bottom - 1 - t.cy, rows);
    FoldOffsets(t.area.left - t.cx, t.area.right - 1 - t.cx, columns);
    const OffsetRange reachingSpan = {std::max<int64_t>(t.area.left - t.cx, t.cx - (t.area.right - 1)),
                                      kBeyondEveryStep}; // half-widths whose span meets the columns
    w.reachCount = 0;
    for (int i = 0; i < 2; i++) {
        for (int j = 0; j < 2 && !fill; j++) {
            AddReach(w, rows[i], columns[j], false);
            AddReach(w, columns[j], rows[i], false);
        }
        if (fill) {
            AddReach(w, rows[i], reachingSpan, false);
            AddReach(w, reachingSpan, rows[i], true);
        }
    }
    w.radius = radius, w.x = 0, w.y = radius, w.d = 3 - 2 * radius;
    SkipStepsThatMiss(w);
}

// ---------------------------------------------------------------------------------------------------------------
// Walk loops: one per form, depth and mode, each counting its calls in the blits' leaf table as
// "circle <depth> m<mode> o" (outline) or "... f" (filled).

template <int Depth, int Mode, char Form> struct CircleCounter {
    static BlitLeafRegistration registration;
};

template <int Depth, int Mode, char Form>
BlitLeafRegistration CircleCounter<Depth, Mode, Form>::registration("circle", Depth, Mode, Form);

typedef void (*CircleFunction)(CircleTarget &t, CircleWalk &w, const ShapeColor &c);

template <int Depth, int Mode>
static inline void PlotCirclePoint(const CircleTarget &t, int64_t px, int64_t py, const ShapeColor &c)
{
    if (px >= t.area.left && px < t.area.right && py >= t.area.top && py < t.area.bottom) {
        DrawShapePixel<Depth, Mode>(t.pixels + (ptrdiff_t)py * t.pitch + (ptrdiff_t)px * t.bytes, c);
    }
}

// One outline step: the four points on the axes at x = 0, else the eight points of the step.
template <int Depth, int Mode>
static inline void PlotOutlineStep(const CircleTarget &t, const CircleWalk &w, const ShapeColor &c)
{
    const int64_t cx = t.cx, cy = t.cy, x = w.x, y = w.y;
    if (x == 0) {
        PlotCirclePoint<Depth, Mode>(t, cx - y, cy, c), PlotCirclePoint<Depth, Mode>(t, cx + y, cy, c);
        PlotCirclePoint<Depth, Mode>(t, cx, cy + y, c), PlotCirclePoint<Depth, Mode>(t, cx, cy - y, c);
        return;
    }
    PlotCirclePoint<Depth, Mode>(t, cx - y, cy + x, c), PlotCirclePoint<Depth, Mode>(t, cx + y, cy + x, c);
    PlotCirclePoint<Depth, Mode>(t, cx - y, cy - x, c), PlotCirclePoint<Depth, Mode>(t, cx + y, cy - x, c);
    PlotCirclePoint<Depth, Mode>(t, cx - x, cy + y, c), PlotCirclePoint<Depth, Mode>(t, cx + x, cy + y, c);
    PlotCirclePoint<Depth, Mode>(t, cx - x, cy - y, c), PlotCirclePoint<Depth, Mode>(t, cx + x, cy - y, c);
}

// Row `row` from x1 to x2, cut to the draw area; a row already drawn, or outside, is left alone and stays unflagged.
template <int Depth, int Mode>
static inline void DrawCircleSpan(CircleTarget &t, int64_t row, int64_t x1, int64_t x2, const ShapeColor &c)
{
    const RECT &a = t.area;
    if (row < a.top || row >= a.bottom || x2 < a.left || x1 >= a.right || t.rowFlags[row - a.top]) {
        return;
    }
    t.rowFlags[row - a.top] = 1;
    x1 = std::max<int64_t>(x1, a.left), x2 = std::min<int64_t>(x2, a.right - 1);
    uint8_t *pixel = t.pixels + (ptrdiff_t)row * t.pitch + (ptrdiff_t)x1 * t.bytes;
    for (int64_t n = x2 - x1; n >= 0; n--, pixel += t.bytes) {
        DrawShapePixel<Depth, Mode>(pixel, c);
    }
}

// One disc step: rows cy +- x across the half-width y, and rows cy +- y at a step that lowers y.
template <int Depth, int Mode>
static inline void DrawDiscStep(CircleTarget &t, const CircleWalk &w, const ShapeColor &c)
{
    const int64_t cx = t.cx, cy = t.cy, x = w.x, y = w.y;
    DrawCircleSpan<Depth, Mode>(t, cy + x, cx - y, cx + y, c);
    DrawCircleSpan<Depth, Mode>(t, cy - x, cx - y, cx + y, c);
    if (w.d >= 0) {
        DrawCircleSpan<Depth, Mode>(t, cy + y, cx - x, cx + x, c);
        DrawCircleSpan<Depth, Mode>(t, cy - y, cx - x, cx + x, c);
    }
}

template <int Depth, int Mode, char Form>
static void DrawCircleWalk(CircleTarget &t, CircleWalk &w, const ShapeColor &c)
{
    ++*CircleCounter<Depth, Mode, Form>::registration.calls;
    const ShapeColor local = c;
    for (; w.y >= w.x; AdvanceCircleWalk(w)) {
        if constexpr (Form == 'o') {
            PlotOutlineStep<Depth, Mode>(t, w, local);
        } else {
            DrawDiscStep<Depth, Mode>(t, w, local);
        }
    }
}

static const struct {
    int depth, mode;
    CircleFunction outline, disc;
} kCircleLoops[] = {
    {16, 0, DrawCircleWalk<16, 0, 'o'>, DrawCircleWalk<16, 0, 'f'>},
    {16, 1, DrawCircleWalk<16, 1, 'o'>, DrawCircleWalk<16, 1, 'f'>},
    {16, 2, DrawCircleWalk<16, 2, 'o'>, DrawCircleWalk<16, 2, 'f'>},
    {16, 3, DrawCircleWalk<16, 3, 'o'>, DrawCircleWalk<16, 3, 'f'>},
    {16, 4, DrawCircleWalk<16, 4, 'o'>, DrawCircleWalk<16, 4, 'f'>},
    {16, 10, DrawCircleWalk<16, 10, 'o'>, DrawCircleWalk<16, 10, 'f'>},
    {16, 11, DrawCircleWalk<16, 11, 'o'>, DrawCircleWalk<16, 11, 'f'>},
    {32, 0, DrawCircleWalk<32, 0, 'o'>, DrawCircleWalk<32, 0, 'f'>},
    {32, 1, DrawCircleWalk<32, 1, 'o'>, DrawCircleWalk<32, 1, 'f'>},
    {32, 2, DrawCircleWalk<32, 2, 'o'>, DrawCircleWalk<32, 2, 'f'>},
    {32, 3, DrawCircleWalk<32, 3, 'o'>, DrawCircleWalk<32, 3, 'f'>},
    {32, 4, DrawCircleWalk<32, 4, 'o'>, DrawCircleWalk<32, 4, 'f'>},
    {32, 10, DrawCircleWalk<32, 10, 'o'>, DrawCircleWalk<32, 10, 'f'>},
    {32, 11, DrawCircleWalk<32, 11, 'o'>, DrawCircleWalk<32, 11, 'f'>},
};

#define CIRCLE_LOOP_COUNT (int)(sizeof kCircleLoops / sizeof kCircleLoops[0])

// ---------------------------------------------------------------------------------------------------------------
// The call.

void MemImgDrawCircle(MEMIMG *destination, int centerX, int centerY, int radius, unsigned int color, int fill)
{
    ShapeColor c;
    if (destination == NULL || !IsValidMemImg(destination) || destination->block->paletteFlag || radius < 0 ||
        PrepareShapeColor(destination->block->kind, color, &c) != 0) {
        return;
    }
    const RECT area = BlitDrawArea(destination);
    const int64_t cx = centerX, cy = centerY, r = radius;
    if (area.right <= area.left || area.bottom <= area.top || cx + r < area.left || cx - r >= area.right ||
        cy + r < area.top || cy - r >= area.bottom) {
        return;
    }
    const MemImgBlock *block = destination->block;
    CircleTarget target = {destination->pixels, block->pitch, block->format->bytesPerPixel, area, cx, cy, NULL};
    if (fill) {
        target.rowFlags = (uint8_t *)AllocMemoryZeroed((size_t)(area.bottom - area.top), "", 0);
        if (target.rowFlags == NULL) {
            return;
        }
    }
    CircleWalk walk;
    StartCircleWalk(walk, target, r, fill != 0);
    InvalidateMemImgDerivedData(destination);
    for (int i = 0; i < CIRCLE_LOOP_COUNT; i++) {
        if (kCircleLoops[i].depth == c.depth && kCircleLoops[i].mode == c.mode) {
            (fill ? kCircleLoops[i].disc : kCircleLoops[i].outline)(target, walk, c);
            break;
        }
    }
    FreeMemory(target.rowFlags);
}
