// Slow model of the software blits and of the shapes' colour rule (see blit_check.h). Every blit pixel goes
// through one function that applies its blend mode's rule channel by channel; where the point draw's regular loops,
// its run-table walk, the stretched draw and the rotated draw differ, the rules test the draw kind. Test threads
// only.
#include "blit_check.h"

#include <math.h>
#include <string.h>

#include <algorithm>

namespace
{

// The weights in force for one pixel (blend weight f, alpha a, and p where the mode takes it): n and their product.
struct Weights {
    int count = 0;
    int64_t product = 1;
    bool alpha = false; // the source alpha is among them
};

// What the rules need of one accepted call.
struct Rules {
    BlitKind kind;
    const ModelImage &src;
    const ModelImage *blend;
    int mode, transparent;
    bool runWalk = false;
    int p = g_MemImgDrawSettings.blendParameter;
    uint32_t brightness = g_MemImgDrawSettings.brightness;
    bool depth16 = src.block.kind == 0, white = (brightness & 0xFFFFFF) == 0xFFFFFF;
    bool plain = mode == 0 && !blend && white; // the whole source pixel, unless weighted by alpha
};

// Channels 0 blue, 1 green, 2 red: bytes 0-2 of a 32-bit pixel, the RGB565 fields of a 16-bit one.
const int kShift16[3] = {0, 5, 11}, kBits16[3] = {5, 6, 5};

// Packs `rule(channel, bits, source value, destination value)` of each channel.
template <class Rule> uint32_t PerChannel(const Rules &r, uint32_t s, uint32_t d, Rule rule)
{
    uint32_t out = 0;
    for (int c = 0; c < 3; c++) {
        int shift = r.depth16 ? kShift16[c] : 8 * c, bits = r.depth16 ? kBits16[c] : 8, max = (1 << bits) - 1;
        out |= (uint32_t)rule(c, bits, (int)(s >> shift) & max, (int)(d >> shift) & max) << shift;
    }
    return out;
}

// floor(brightness byte x v / 255), or v itself at white.
int Bright(const Rules &r, int c, int v)
{
    return r.white ? v : (int)(((r.brightness >> (8 * c)) & 0xFF) * (uint32_t)v / 255);
}

// floor(v K / 256^n / 2^extra), the weighting of every rule (a negative value's shift rounds down on every target)
int Scale(int64_t v, const Weights &w, int extra = 0)
{
    return (int)(v * w.product >> (8 * w.count + extra));
}

// One channel under the mode's rule (modes 2 and 3: the value to add or take away); s and d are raw values.
int ChannelRule(const Rules &r, int c, int bits, int s, int d, const Weights &w)
{
    Weights withP = {w.count + 1, w.product * r.p, w.alpha};
    int x = Bright(r, c, r.mode == 10 ? (1 << bits) - 1 - s : s);
    switch (r.mode) {
    case 0:
        return d + Scale(x - d, w);
    case 4:
        return Scale((int64_t)x * d, w, bits);
    case 2:
    case 3:
        if (!r.depth16)
            return w.count ? Scale(x, withP) : r.p * x / 255;
        return r.p * (r.blend || r.kind == BLIT_TRIANGLE ? Scale(x, w) : Bright(r, c, Scale(s, w))) / 255;
    }
    // 1, 10 and 11: a step toward their target
    if (r.mode == 11 && r.depth16 && c == 1 && w.alpha && !r.blend && r.white && r.kind != BLIT_TRIANGLE)
        return (32 * d + Scale(s * d / 2 - 32 * d, withP)) >> 5; // the product kept in 1/32 green steps
    if (r.mode == 11)
        x = x * d >> bits;
    return w.count || !r.depth16 ? d + Scale(x - d, withP) : d + r.p * (x - d) / 255;
}

// Saturating packed add (mode 2) and subtract (mode 3): each channel with a guard bit above it.
uint32_t Saturate(const Rules &r, int mode, uint32_t d, uint32_t u, bool orTerm)
{
    uint32_t keep = r.depth16 ? 0xF7DEF7DF : 0xFEFEFF, guards = r.depth16 ? 0x08210820 : 0x1010100;
    uint32_t all = r.depth16 ? 0xFFFF : 0xFFFFFFFF, orBits = orTerm ? (r.depth16 ? 0x0820 : 0x10100) : 0;
    uint32_t t = mode == 2 ? (d & keep) + (u & keep) : (d | guards) - (u & keep), c = t & guards;
    uint32_t saturated = c - (c >> (r.depth16 ? 5 : 8));
    return (mode == 2 ? t | saturated | ((d | u) & orBits) : t & saturated) & all;
}

uint32_t General(const Rules &r, uint32_t d, uint32_t s, const Weights &w)
{
    uint32_t v =
        PerChannel(r, s, d, [&](int c, int bits, int sc, int dc) { return ChannelRule(r, c, bits, sc, dc, w); });
    if (r.mode == 2 || r.mode == 3)
        return Saturate(r, r.mode, d, v, true);
    return r.depth16 ? v : v | (d & 0xFF000000);
}

// The point draw's regular loops for a source without alpha, no blend image and white brightness.
bool FastForms(const Rules &r)
{
    return r.kind == BLIT_POINT && !r.runWalk && !r.src.block.alphaFlag && !r.blend && r.white;
}

uint32_t FastFormPixel(const Rules &r, uint32_t d, uint32_t s)
{
    if (r.mode == 1 && r.p == 128) {
        uint32_t half = r.depth16 ? 0x7BEF : 0x7F7F7F;
        return ((s >> 1) & half) + ((d >> 1) & half);
    }
    if (r.mode == 1 && r.depth16) // the 64-level mix table
        return PerChannel(r, s, d,
                          [&r](int, int, int sc, int dc) { return (r.p / 4 * sc + (63 - r.p / 4) * dc) / 63; });
    if (r.mode == 2 && r.p == 255)
        return Saturate(r, 2, d, s, false);
    return General(r, d, s, Weights());
}

bool Keyed(const Rules &r, uint32_t raw)
{
    return !r.src.block.alphaFlag && r.transparent && raw == r.src.block.transparentValue;
}

// The destination pixel `d` after drawing source pixel (x, y) onto it.
uint32_t DrawPixel(const Rules &r, uint32_t d, int x, int y)
{
    uint32_t raw = r.src.At(x, y);
    uint32_t s = r.src.block.paletteFlag ? r.src.palette[raw] : r.depth16 && r.src.block.alphaFlag ? raw & 0xFFFF : raw;
    int bytes = r.blend ? r.blend->block.format->bytesPerPixel : 1; // the triangles read any blend image bytewise
    Weights w =
        r.blend ? Weights{1, g_BlendTables.fadeRamp[r.blend->At(x / bytes, y) >> x % bytes * 8 & 0xFF]} : Weights();
    if (Keyed(r, raw))
        return d;
    if (r.src.block.alphaFlag) {
        int a = r.depth16 ? (raw >> 16) & 0xFF : raw >> 24;
        if (r.transparent == 0 && r.plain && r.kind == BLIT_POINT && !r.runWalk)
            return s;
        // the point draw's regular loops and the rotated draw apply alpha 0 as a weight in mode 4 (black); all else
        // skip it
        bool weightZero = r.mode == 4 && r.kind != BLIT_STRETCHED && !r.runWalk;
        if (r.transparent && a == 0 && !weightZero)
            return d;
        if (r.transparent == 0 || a != 255)
            w = Weights{w.count + 1, w.product * a, true};
    }
    if (r.plain && !w.alpha)
        return s;
    return FastForms(r) ? FastFormPixel(r, d, s) : General(r, d, s, w);
}

// The 16-bit full-strength add and subtract of the regular loops take two pixels from the start of each drawn row,
// the left one in the low half of a word: both unkeyed go through the word form, else each alone.
void DrawPair(const Rules &r, uint32_t &d1, uint32_t &d2, int x, int y)
{
    uint32_t raw1 = r.src.At(x, y), raw2 = r.src.At(x + 1, y);
    if (Keyed(r, raw1) || Keyed(r, raw2)) {
        d1 = DrawPixel(r, d1, x, y);
        d2 = DrawPixel(r, d2, x + 1, y);
        return;
    }
    uint32_t s = (r.src.block.paletteFlag ? r.src.palette[raw1] | r.src.palette[raw2] << 16 : raw1 | raw2 << 16);
    uint32_t d = d1 | d2 << 16, masked = s & 0xF7DEF7DF;
    uint64_t sum = (uint64_t)(d & 0xF7DEF7DF) + masked; // the add's carry out of the word stops the top red
    uint32_t t = r.mode == 2 ? (uint32_t)sum : (d | 0x08210820) - masked, c = t & 0x08210820;
    if (r.mode == 2)
        d = (c - ((c >> 5) | (uint32_t)(sum >> 32) << 27)) | t;
    else // the top red keeps its value unless the word borrows
        d = t & ((c - (c >> 5)) | ((d | 0x08210820) < masked ? 0 : 0xF8000000));
    d1 = d & 0xFFFF;
    d2 = d >> 16;
}

struct Box {
    int64_t left, top, right, bottom;
};

// The box held to the draw area, itself held to the destination; nothing is drawn when right <= left.
Box Clip(const ModelImage &dest, Box b)
{
    const RECT &area = g_MemImgDrawSettings.drawArea;
    int64_t left = std::max<LONG>(area.left, 0), top = std::max<LONG>(area.top, 0);
    int64_t right = std::min<LONG>(area.right, dest.width), bottom = std::min<LONG>(area.bottom, dest.height);
    auto clamp = [](int64_t v, int64_t low, int64_t high) { return v > high ? high : v < low ? low : v; };
    return Box{clamp(b.left, left, right), clamp(b.top, top, bottom), clamp(b.right, left, right),
               clamp(b.bottom, top, bottom)};
}

// Draws each pixel of the box from the source pixel `at` gives it (x < 0: none).
template <class At> void DrawBox(ModelImage &dest, const Rules &r, Box b, At at)
{
    for (int64_t row = b.top; row < b.bottom; row++) {
        for (int64_t col = b.left; col < b.right; col++) {
            SourcePoint p = at(col, row);
            uint32_t *d = &dest.pixels[(size_t)row * dest.width + col];
            if (p.x < 0)
                continue;
            bool pair = FastForms(r) && r.depth16 && (r.mode == 2 || r.mode == 3) && r.p == 255;
            if (pair && col + 1 < b.right) {
                DrawPair(r, d[0], d[1], p.x, p.y);
                col++;
            } else {
                *d = DrawPixel(r, *d, p.x, p.y);
            }
        }
    }
}

void DrawAtPoint(ModelImage &dest, Rules &r, int x, int y)
{
    Box b = Clip(dest, Box{x, y, (int64_t)x + r.src.width, (int64_t)y + r.src.height});
    r.runWalk = r.transparent == 1 && r.src.runTableCurrent && b.right - b.left == r.src.width &&
                b.bottom - b.top == r.src.height;
    DrawBox(dest, r, b, [x, y](int64_t col, int64_t row) { return SourcePoint{(int)(col - x), (int)(row - y)}; });
}

void DrawStretched(ModelImage &dest, Rules &r, RECT rect)
{
    bool mirrorX = rect.left > rect.right, mirrorY = rect.top > rect.bottom;
    if (mirrorX)
        std::swap(rect.left, rect.right);
    if (mirrorY)
        std::swap(rect.top, rect.bottom);
    int64_t w = (int64_t)rect.right - rect.left, h = (int64_t)rect.bottom - rect.top;
    if (w == r.src.width && h == r.src.height && !mirrorX && !mirrorY) {
        r.kind = BLIT_POINT;
        return DrawAtPoint(dest, r, rect.left, rect.top);
    }
    if (w == 0 || h == 0 || w >= 32768 || h >= 32768)
        return;
    uint32_t xStep = (uint32_t)(w * 0x10000) / (uint32_t)r.src.width;
    uint32_t yStep = (uint32_t)(h * 0x10000) / (uint32_t)r.src.height;
    if (xStep == 0 || yStep == 0 || (w - 1) * 0x10000 / xStep > r.src.width - 1 ||
        (h - 1) * 0x10000 / yStep > r.src.height - 1) {
        return;
    }
    DrawBox(dest, r, Clip(dest, Box{rect.left, rect.top, rect.right, rect.bottom}), [&](int64_t col, int64_t row) {
        int sx = (int)((col - rect.left) * 0x10000 / xStep), sy = (int)((row - rect.top) * 0x10000 / yStep);
        return SourcePoint{mirrorX ? r.src.width - 1 - sx : sx, mirrorY ? r.src.height - 1 - sy : sy};
    });
}

// sin and cos of -angle and of angle in 14.18 fixed point.
struct Rotation {
    int sN, cN, sA, cA;
};

Rotation RotationOf(float angle)
{
    float sN, cN, sA, cA;
    SinCos(-angle, &sN, &cN);
    SinCos(angle, &sA, &cA);
    return Rotation{FloatToInt(sN * 262144.0f), FloatToInt(cN * 262144.0f), FloatToInt(sA * 262144.0f),
                    FloatToInt(cA * 262144.0f)};
}

void DrawRotated(ModelImage &dest, const Rules &r, int cx, int cy, float scale, float angle)
{
    const ModelImage &src = r.src;
    if (src.width >= 8192 || src.height > 4096 || (r.blend && r.blend->height > 4096) || cx < -8192 || cx > 8191 ||
        cy < -8192 || cy > 8191 || scale == 0.0f || !isfinite(scale) || !isfinite(angle)) {
        return;
    }
    RotatedCorners c = ModelRotatedCorners(src.width, src.height, cx, cy, scale, angle);
    Box b = {INT64_MAX, INT64_MAX, INT64_MIN, INT64_MIN};
    for (int i = 0; i < 4; i++) {
        b = Box{std::min(b.left, c.x[i] / 262144 - 2), std::min(b.top, c.y[i] / 262144 - 2),
                std::max(b.right, c.x[i] / 262144 + 4), std::max(b.bottom, c.y[i] / 262144 + 4)};
    }
    b = Clip(dest, b);
    if (b.left >= b.right || b.top >= b.bottom)
        return;
    Rotation t = RotationOf(angle);
    auto sourceU = [&](int64_t X, int64_t Y) {
        return (int64_t)FloatToInt((float)((X - cx) * t.cN - (Y - cy) * t.sN) / scale) +
               (int64_t)(src.width >> 1) * 262144;
    };
    auto sourceV = [&](int64_t X, int64_t Y) {
        return (int64_t)FloatToInt((float)((Y - cy) * t.cN + (X - cx) * t.sN) / scale) +
               (int64_t)(src.height >> 1) * 262144;
    };
    int64_t du = FloatToInt((float)t.cA / scale), dv = FloatToInt((float)t.sN / scale);
    int64_t uTop = sourceU(b.left, b.top), duRow = (sourceU(b.left, b.bottom) - uTop) / (b.bottom - b.top);
    int64_t vTop = sourceV(b.left, b.top), dvRow = (sourceV(b.left, b.bottom) - vTop) / (b.bottom - b.top);
    DrawBox(dest, r, b, [&](int64_t col, int64_t row) {
        uint32_t u = (uint32_t)(uint64_t)(uTop + (row - b.top) * duRow + (col - b.left) * du);
        uint32_t v = (uint32_t)(uint64_t)(vTop + (row - b.top) * dvRow + (col - b.left) * dv);
        bool inside = u < (uint32_t)src.width * 262144u && v < (uint32_t)src.height * 262144u;
        return inside ? SourcePoint{(int)(u >> 18), (int)(v >> 18)} : SourcePoint{-1, 0};
    });
}

// Rows y(T) to y(B) - 1, each from its left edge's column to its right edge's, both included, an edge's x at a row
// by multiplication from its upper vertex's pixel centre; each texel straight from the gradients, or the `flat` fill.
void DrawTriangle(ModelImage &dest, const Rules &r, const MemImgTriangleVertex *v, const uint32_t *flat)
{
    typedef MemImgTriangleVertex V;
    int x[3] = {0, 1, 2}, y[3] = {0, 1, 2};
    std::stable_sort(x, x + 3, [v](int a, int b) { return v[a].x < v[b].x; });
    std::stable_sort(y, y + 3, [v](int a, int b) { return v[a].y < v[b].y; });
    const V &R = v[x[0]], &R1 = v[x[1]], &R2 = v[x[2]], &T = v[y[0]], &M = v[y[1]], &B = v[y[2]];
    auto cross = [&](int V::*p, int V::*q) {
        return (int64_t)(R1.*p - R.*p) * (R2.*q - R.*q) - (int64_t)(R2.*p - R.*p) * (R1.*q - R.*q);
    };
    const double det = (double)cross(&V::y, &V::x);
    if (det == 0)
        return;
    auto gradient = [&](int V::*p, int V::*q) { return (uint32_t)DoubleToInt((double)cross(p, q) * 262144.0 / det); };
    const uint32_t Ux = gradient(&V::y, &V::u), Uy = gradient(&V::u, &V::x), Vx = gradient(&V::y, &V::v),
                   Vy = gradient(&V::v, &V::x);
    auto column = [](const V &a, const V &b, int nudge, int64_t row) {
        int64_t start = (int64_t)a.x * 262144 + 0x20000 + nudge;
        return (start + ((int64_t)b.x * 262144 + 0x20000 - start) / (b.y - a.y) * (row - a.y)) >> 18;
    };
    // The side holding M goes T to M, then M to B, which starts one unit right of M on the right side.
    bool middleLeft = T.y == M.y   ? M.x < T.x
                      : M.y == B.y ? M.x <= B.x
                                   : (int64_t)(M.x - T.x) * (B.y - T.y) < (int64_t)(B.x - T.x) * (M.y - T.y);
    Box a = Clip(dest, Box{INT64_MIN, INT64_MIN, INT64_MAX, INT64_MAX});
    for (int64_t row = std::max<int64_t>(T.y, a.top); row < std::min<int64_t>(B.y, a.bottom); row++) {
        int64_t middle = row < M.y ? column(T, M, 0, row) : column(M, B, !middleLeft && T.y < M.y, row);
        int64_t along = column(T, B, 0, row), last = std::min(middleLeft ? along : middle, a.right - 1);
        for (int64_t col = std::max(middleLeft ? middle : along, a.left); col <= last; col++) {
            uint32_t &d = dest.pixels[(size_t)row * dest.width + col], across = (uint32_t)(col - R.x);
            uint32_t u = ((uint32_t)R.u << 18) + across * Ux + (uint32_t)(row - R.y) * Uy;
            uint32_t w = ((uint32_t)R.v << 18) + across * Vx + (uint32_t)(row - R.y) * Vy;
            if (flat)
                d = ModelPixel(dest.block.kind == 0, r.mode, r.p, 0xFFFFFF, *flat, d);
            else if (u < (uint32_t)r.src.width << 18 && w < (uint32_t)r.src.height << 18)
                d = DrawPixel(r, d, (int)(u >> 18), (int)(w >> 18));
        }
    }
}

} // namespace

ModelImage CaptureImage(const MEMIMG *image)
{
    ModelImage m;
    if (image == nullptr || !IsValidMemImg(image))
        return m;
    const MemImgBlock *b = image->block;
    int bytes = b->format->bytesPerPixel;
    bool whole = image->pixels == b->pixels && image->width == b->width && image->height == b->height;
    m.live = true;
    m.runTableCurrent = b->runTableValid && whole;
    m.width = image->width;
    m.height = image->height;
    m.block = *b;
    for (int y = 0; y < m.height; y++) {
        for (int x = 0; x < m.width; x++) {
            uint32_t v = 0;
            memcpy(&v, image->pixels + (ptrdiff_t)y * b->pitch + (ptrdiff_t)x * bytes, bytes);
            m.pixels.push_back(v);
        }
    }
    for (int i = 0; m.block.paletteFlag && i < 256; i++)
        m.palette[i] = m.block.kind == 0 ? ((const uint16_t *)b->palette)[i] : ((const uint32_t *)b->palette)[i];
    return m;
}

// The packed add and subtract, bit for bit as the rule gives them.
uint32_t ModelPacked(bool depth16, bool add, uint32_t d, uint32_t c)
{
    uint32_t guards = depth16 ? 0x08210820 : 0x01010100, keep = depth16 ? 0xFFFF : ~0u, s, g;
    int shift = depth16 ? 5 : 8;
    if (add) {
        s = (c & (depth16 ? 0xF7DEF7DF : 0x00FEFEFF)) + (d & (depth16 ? 0xF7DEF7DF : 0x00FEFEFF)), g = s & guards;
        return ((g - (g >> shift)) | ((d | c) & (depth16 ? 0x0820 : 0x00010100)) | s) & keep;
    }
    s = (d | guards) - (c & (depth16 ? 0xF7DEF7DF : 0xFEFEFEFF)), g = s & guards;
    return (g - (g >> shift)) & s & keep;
}

// The pixel d after one plot of `color` in the mode: channels 0 red, 1 green, 2 blue.
uint32_t ModelPixel(bool depth16, int mode, int p, uint32_t bright, uint32_t color, uint32_t d)
{
    const int shift[3] = {depth16 ? 11 : 16, depth16 ? 5 : 8, 0},
              top[3] = {depth16 ? 31 : 255, depth16 ? 63 : 255, depth16 ? 31 : 255};
    auto at = [&](uint32_t v, int i) { return (int)(v >> shift[i]) & top[i]; };
    uint32_t c = depth16 ? color & 0xFFFF : color, out = depth16 ? 0 : d & 0xFF000000, scaled = 0;
    p = std::clamp(p, 0, 255);
    if ((bright & 0xFFFFFF) != 0xFFFFFF) {
        uint32_t b = depth16 ? 0 : c & 0xFF000000;
        for (int i = 0; i < 3; i++)
            b |= (uint32_t)(at(c, i) * (int)(bright >> (16 - 8 * i) & 0xFF) >> 8) << shift[i];
        c = b;
    }
    if (mode < 0 || mode > 11 || (mode >= 5 && mode <= 9) || (mode >= 1 && mode <= 3 && p == 0))
        return d;
    if (mode == 0 || (mode == 1 && p == 255))
        return c;
    for (int i = 0; i < 3; i++) {
        int dc = at(d, i), cc = at(c, i), product = dc * cc >> (top[i] == 63 ? 6 : top[i] == 31 ? 5 : 8);
        int target = mode == 10 ? top[i] - cc : mode == 11 ? product : cc;
        int mixed = depth16 ? dc + p * (target - dc) / 255 : (target * p + dc * (256 - p)) >> 8;
        out |= (uint32_t)(mode == 4 ? product : mixed) << shift[i];
        scaled |= (uint32_t)(p * cc / 255) << shift[i];
    }
    return mode == 2 || mode == 3 ? ModelPacked(depth16, mode == 2, d, scaled) : out;
}

RotatedCorners ModelRotatedCorners(int width, int height, int cx, int cy, float scale, float angle)
{
    Rotation t = RotationOf(angle);
    float hw = (float)width * scale * 0.5f, hh = (float)height * scale * 0.5f;
    float P = hw * (float)t.cA, Q = hw * (float)t.sA, R = hh * (float)t.cA, T = hh * (float)t.sA;
    float ox[4] = {-P + T, -P - T, P - T, P + T}, oy[4] = {-R - Q, R - Q, R + Q, -R + Q};
    RotatedCorners c;
    for (int i = 0; i < 4; i++) {
        c.x[i] = (int64_t)ox[i] + (int64_t)cx * 262144;
        c.y[i] = (int64_t)oy[i] + (int64_t)cy * 262144;
    }
    return c;
}

// The triangle, or the quad's two sharing the diagonal from its top-right to its bottom-left corner; nothing when a
// corner or texel lies outside -8192..8191 or a blend image holds fewer rows or row bytes than the source.
static void ModelTriangles(ModelImage &dest, const BlitCall &call, const ModelImage &src, const ModelImage *blend)
{
    int mode = g_MemImgDrawSettings.blendMode, p = g_MemImgDrawSettings.blendParameter, quad = call.kind == BLIT_QUAD;
    bool flat = !quad && call.source == nullptr, depth16 = dest.block.kind == 0;
    MemImgTriangleVertex v[4];
    for (int i = 0; i < 3 + quad; i++) {
        const MemImgTriangleVertex &c = call.vertices[i];
        v[i] = quad ? MemImgTriangleVertex{c.x, c.y, i % 2 * src.width, i / 2 * src.height} : c;
        for (int value : {v[i].x, v[i].y, v[i].u, v[i].v})
            if (value < -8192 || value > 8191)
                return;
    }
    if (!dest.live || dest.block.kind > 1 || dest.block.paletteFlag || dest.block.alphaFlag || (unsigned)mode > 11 ||
        (mode >= 5 && mode <= 9) || (p == 0 && (mode == 1 || mode == 2 || (mode == 3 && !src.block.paletteFlag))) ||
        (!flat && (!src.live || src.block.kind != dest.block.kind)) ||
        (!flat && blend &&
         (blend->height < src.height || blend->width * blend->block.format->bytesPerPixel < src.width)))
        return;
    Rules r{BLIT_TRIANGLE, flat ? dest : src, blend, mode == 1 && p == 255 ? 0 : mode, call.transparent};
    uint32_t f = (depth16 ? 0 : call.color & 0xFF000000) | // the flat colour brightened once, b x v / 255
                 PerChannel(r, call.color, 0, [&r](int c, int, int v, int) { return Bright(r, c, v); });
    DrawTriangle(dest, r, v, flat ? &f : nullptr);
    if (quad)
        DrawTriangle(dest, r, v + 1, nullptr);
}

void ModelBlit(ModelImage &dest, const BlitCall &call, const ModelImage &src, const ModelImage *blend)
{
    int mode = g_MemImgDrawSettings.blendMode, p = g_MemImgDrawSettings.blendParameter;
    if (call.kind >= BLIT_TRIANGLE)
        return ModelTriangles(dest, call, src, blend);
    bool refused = !dest.live || !src.live || src.block.kind != dest.block.kind || src.block.kind > 1 ||
                   dest.block.paletteFlag || dest.block.alphaFlag || (unsigned)mode > 11 || (mode >= 5 && mode <= 9) ||
                   (p == 0 && (mode == 1 || mode == 2 || (mode == 3 && !src.block.paletteFlag)));
    if (refused || (blend && (!blend->live || blend->block.format->bytesPerPixel != 1 || blend->width < src.width ||
                              blend->height < src.height))) {
        return;
    }
    Rules r{call.kind, src, blend, mode == 1 && p == 255 ? 0 : mode, call.transparent};
    if (call.kind == BLIT_POINT)
        DrawAtPoint(dest, r, call.x, call.y);
    else if (call.kind == BLIT_STRETCHED)
        DrawStretched(dest, r, call.rect);
    else
        DrawRotated(dest, r, call.x, call.y, call.scale, call.angle);
}
