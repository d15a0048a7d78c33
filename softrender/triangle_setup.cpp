// The software triangle, flat or textured: the refusals, the vertices in 14.18 fixed point at their pixels' centres,
// the texture gradients, the two sides' edge segments, and the row walk that clips each row's span to the draw area
// and hands it to the span loop chosen once per call. Positions become rows and columns by floor, so a triangle
// covers the same pixels wherever it lies; edges are carried in 64 bits, so no width overflows them. Floating point
// is used in the set-up only. Window thread only.
#include "core/core.h"
#include "softrender/triangle_spans.h"

#include <algorithm>

#define TRIANGLE_ONE 262144   // one pixel or texel in 14.18
#define TRIANGLE_HALF 0x20000 // half a pixel: a position stands at its pixel's centre

// One side's segment: its start x (14.18), its step per row and its row count.
struct TriangleEdge {
    int64_t x, step;
    int rows;
};

// The rows of one triangle: from `top`, each side's one or two segments in order.
struct TriangleWalk {
    int top;
    TriangleEdge left[2], right[2];
    int leftCount, rightCount;
};

// The texture mapping: the reference vertex's pixel and texel (14.18) and the gradients per pixel and per row.
struct TriangleTexture {
    int xr, yr;
    uint32_t u0, v0, ux, uy, vx, vy;
};

// What the walk hands each row to.
struct TriangleRows {
    uint8_t *pixels;
    ptrdiff_t pitch;
    int bytes; // per destination pixel
    RECT area;
    TriangleTexture texture;
    TriangleSpanFunction span;
    TriangleSpanContext context;
};

static bool TriangleInRange(const MemImgTriangleVertex *v)
{
    for (int i = 0; i < 3; i++) {
        for (int value : {v[i].x, v[i].y, v[i].u, v[i].v}) {
            if (value < -TRIANGLE_LIMIT || value >= TRIANGLE_LIMIT) {
                return false;
            }
        }
    }
    return true;
}

// The vertex indices ascending by key; among equal keys the lowest index comes first.
static void SortVertices(int order[3], const int key[3])
{
    order[0] = 0, order[1] = 1, order[2] = 2;
    for (int i = 0; i < 2; i++) {
        for (int j = i + 1; j < 3; j++) {
            if (key[order[i]] > key[order[j]]) {
                std::swap(order[i], order[j]);
            }
        }
    }
}

// The gradients from the leftmost vertex (the first of them in the array); false for a triangle of no area.
static bool MeasureGradients(const MemImgTriangleVertex *v, TriangleTexture *t)
{
    const int xs[3] = {v[0].x, v[1].x, v[2].x};
    int order[3];
    SortVertices(order, xs);
    const MemImgTriangleVertex &r = v[order[0]], &r1 = v[order[1]], &r2 = v[order[2]];
    const int dx1 = r1.x - r.x, dx2 = r2.x - r.x, dy1 = r1.y - r.y, dy2 = r2.y - r.y;
    const int du1 = r1.u - r.u, du2 = r2.u - r.u, dv1 = r1.v - r.v, dv2 = r2.v - r.v;
    const int det = dy1 * dx2 - dy2 * dx1;
    if (det == 0) {
        return false;
    }
    auto gradient = [det](int n) { return (uint32_t)DoubleToInt(n * (double)TRIANGLE_ONE / det); };
    t->ux = gradient(dy1 * du2 - dy2 * du1);
    t->uy = gradient(du1 * dx2 - dx1 * du2);
    t->vx = gradient(dy1 * dv2 - dy2 * dv1);
    t->vy = gradient(dv1 * dx2 - dv2 * dx1);
    t->xr = r.x;
    t->yr = r.y;
    t->u0 = (uint32_t)r.u << 18;
    t->v0 = (uint32_t)r.v << 18;
    return true;
}

static TriangleEdge Edge(int64_t startX, int64_t lowerX, int rows)
{
    return {startX, (lowerX - startX) / rows, rows};
}

// The sides from the top vertex T over the middle M to the bottom B; false when a side has no rows.
static bool SetUpEdges(const MemImgTriangleVertex *v, TriangleWalk *w)
{
    const int ys[3] = {v[0].y, v[1].y, v[2].y};
    int order[3];
    SortVertices(order, ys);
    int64_t X[3];
    for (int i = 0; i < 3; i++) {
        X[i] = (int64_t)v[order[i]].x * TRIANGLE_ONE + TRIANGLE_HALF;
    }
    const int yT = ys[order[0]], yM = ys[order[1]], yB = ys[order[2]];
    w->top = yT;
    if (yB == yT) {
        return false;
    }
    w->leftCount = w->rightCount = 1;
    if (yT == yM) { // flat top: the top vertex further left (T on a tie) starts the left side
        const bool middleLeft = X[1] < X[0];
        w->left[0] = Edge(X[middleLeft ? 1 : 0], X[2], yB - yT);
        w->right[0] = Edge(X[middleLeft ? 0 : 1], X[2], yB - yT);
    } else if (yM == yB) { // flat bottom: the lower vertex further left (M on a tie) ends the left side
        const bool bottomLeft = X[2] < X[1];
        w->left[0] = Edge(X[0], X[bottomLeft ? 2 : 1], yM - yT);
        w->right[0] = Edge(X[0], X[bottomLeft ? 1 : 2], yM - yT);
    } else {
        const double middleSlope = (double)(X[1] - X[0]) / (yM - yT), longSlope = (double)(X[2] - X[0]) / (yB - yT);
        TriangleEdge *two = middleSlope < longSlope ? w->left : w->right;
        TriangleEdge *one = middleSlope < longSlope ? w->right : w->left;
        // The right side's lower segment starts one unit right of the middle vertex.
        const int64_t lowerStart = X[1] + (two == w->right ? 1 : 0);
        two[0] = Edge(X[0], X[1], yM - yT);
        two[1] = Edge(lowerStart, X[2], yB - yM);
        one[0] = Edge(X[0], X[2], yB - yT);
        (two == w->left ? w->leftCount : w->rightCount) = 2;
    }
    return true;
}

// Row y from column xl to xr, both included, clipped to the draw area.
static void DrawTriangleRow(const TriangleRows &r, int y, int64_t xl, int64_t xr)
{
    const int64_t start = std::max<int64_t>(xl, r.area.left), end = std::min<int64_t>(xr + 1, r.area.right);
    if (start >= end) {
        return;
    }
    const TriangleTexture &t = r.texture;
    const uint32_t across = (uint32_t)(start - t.xr), down = (uint32_t)(y - t.yr);
    r.span(r.context, r.pixels + (ptrdiff_t)y * r.pitch + (ptrdiff_t)start * r.bytes, (int)(end - start),
           t.u0 + across * t.ux + down * t.uy, t.v0 + across * t.vx + down * t.vy);
}

// One side during the walk: its segment in use, the last one, its x and the rows left on the segment.
struct TriangleSide {
    const TriangleEdge *edge, *last;
    int64_t x;
    int rows;
};

// After a row: steps the side's x; false once the side has run out of rows on its last segment.
static bool StepTriangleSide(TriangleSide &side)
{
    side.x += side.edge->step;
    if (--side.rows > 0) {
        return true;
    }
    if (side.edge == side.last) {
        return false;
    }
    side.edge++;
    side.x = side.edge->x;
    side.rows = side.edge->rows;
    return true;
}

// Rows top to bottom - 1 of the triangle; each side steps on to its next segment when its rows run out.
static void WalkTriangleRows(const TriangleWalk &w, const TriangleRows &r)
{
    TriangleSide left = {w.left, w.left + w.leftCount - 1, w.left->x, w.left->rows};
    TriangleSide right = {w.right, w.right + w.rightCount - 1, w.right->x, w.right->rows};
    for (int y = w.top; y < r.area.bottom; y++) {
        if (y >= r.area.top) {
            DrawTriangleRow(r, y, left.x >> 18, right.x >> 18);
        }
        if (!StepTriangleSide(left) || !StepTriangleSide(right)) {
            return;
        }
    }
}

// A blend image is read one byte a texel at the source's texel positions: it must hold the source's rows and a
// byte for each of its columns.
static bool BlendImageCovers(const MEMIMG *blendImage, const MEMIMG *source)
{
    return IsValidMemImg(blendImage) && blendImage->height >= source->height &&
           (int64_t)blendImage->width * blendImage->block->format->bytesPerPixel >= source->width;
}

// The flat colour: each channel v becomes b x v / 255 for the brightness byte b of its channel.
static uint32_t BrightenFlatColor(bool depth16, uint32_t c)
{
    const uint32_t b = g_MemImgDrawSettings.brightness;
    const uint32_t *red = g_BlendTables.product[b >> 16 & 0xFF], *green = g_BlendTables.product[b >> 8 & 0xFF],
                   *blue = g_BlendTables.product[b & 0xFF];
    if (depth16) {
        return JoinRgb565({red[c >> 11 & 31], green[c >> 5 & 63], blue[c & 31]});
    }
    return (c & 0xFF000000) | red[c >> 16 & 0xFF] << 16 | green[c >> 8 & 0xFF] << 8 | blue[c & 0xFF];
}

// The loop and what it reads for a textured draw; false when the settings draw nothing.
static bool ChooseTexturedSpan(TriangleRows &r, MEMIMG *source, int transparent, MEMIMG *blendImage,
                               uint32_t palette[256])
{
    const MemImgBlock *block = source->block;
    BlitChoice choice;
    if ((blendImage != NULL && !BlendImageCovers(blendImage, source)) ||
        ChooseBlitLoop(block, transparent, blendImage != NULL, false, &choice) != 0) {
        return false;
    }
    TriangleSpanContext &c = r.context;
    c.sourcePixels = source->pixels;
    c.sourcePitch = block->pitch;
    c.blendPixels = blendImage != NULL ? blendImage->pixels : NULL;
    c.blendPitch = blendImage != NULL ? blendImage->block->pitch : 0;
    c.du = r.texture.ux;
    c.dv = r.texture.vx;
    // Sources wider or higher than 16383 texels are reached as far as 14.18 reaches.
    c.uLimit = (uint32_t)std::min<int64_t>((int64_t)source->width * TRIANGLE_ONE, UINT32_MAX);
    c.vLimit = (uint32_t)std::min<int64_t>((int64_t)source->height * TRIANGLE_ONE, UINT32_MAX);
    TakeBlitLookups(&c.lookups, block, CopyBlitPalette(palette, block));
    r.span = PickTexturedSpan(choice);
    return true;
}

void MemImgDrawTriangle(MEMIMG *destination, MEMIMG *source, const MemImgTriangleVertex *vertices, int transparent,
                        MEMIMG *blendImage, unsigned int color)
{
    if (destination == NULL || vertices == NULL || !IsValidMemImg(destination) || !TriangleInRange(vertices)) {
        return;
    }
    const MemImgBlock *target = destination->block;
    if ((source != NULL && (!IsValidMemImg(source) || source->block->kind != target->kind)) || target->paletteFlag ||
        target->alphaFlag || target->kind > MEMIMG_KIND_RGB32) {
        return;
    }
    TriangleWalk walk;
    TriangleRows r;
    uint32_t palette[256];
    if (!MeasureGradients(vertices, &r.texture) || !SetUpEdges(vertices, &walk)) {
        return;
    }
    if (source != NULL) {
        if (!ChooseTexturedSpan(r, source, transparent, blendImage, palette)) {
            return;
        }
    } else {
        const bool depth16 = target->kind == MEMIMG_KIND_RGB16;
        if (PrepareBrightShapeColor(target->kind, BrightenFlatColor(depth16, depth16 ? color & 0xFFFF : color),
                                    &r.context.color) != 0) {
            return;
        }
        r.span = PickFlatSpan(r.context.color);
    }
    r.pixels = destination->pixels;
    r.pitch = target->pitch;
    r.bytes = target->format->bytesPerPixel;
    r.area = BlitDrawArea(destination);
    InvalidateMemImgDerivedData(destination);
    WalkTriangleRows(walk, r);
}
