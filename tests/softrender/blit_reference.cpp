// Slow model of the software blits (see blit_reference.h). Every pixel goes through one function that applies the
// rule of its blend mode channel by channel; the few places where the point draw's regular loops, its run-table
// walk, the stretched draw and the rotated draw differ are switches on the draw kind. Test threads only.
#include "blit_reference.h"

#include <math.h>
#include <string.h>

#include <algorithm>

#include "softrender/softrender.h"

namespace
{

enum class DrawKind { PointRegular, PointRun, Stretched, Rotated };

// The weights in force for one pixel (blend weight f, alpha a, and p where the mode takes it): n and their product.
struct Weights {
    int count = 0;
    int64_t product = 1;
    void Add(int weight)
    {
        count++;
        product *= weight;
    }
};

// What the rules need of one call, fixed before the first pixel.
struct Rules {
    DrawKind kind;
    bool depth16, palettised, alphaSource, blend, white;
    int mode, p, transparent;
    uint32_t brightness, key;
    const uint32_t *palette;
    const uint8_t *fade;
};

// Channels 0 blue, 1 green, 2 red; 16-bit pixels are RGB565.
const int kShift16[3] = {0, 5, 11};
const int kWidth16[3] = {5, 6, 5};

int ChannelOf(const Rules &r, uint32_t pixel, int c)
{
    return r.depth16 ? (pixel >> kShift16[c]) & ((1u << kWidth16[c]) - 1) : (pixel >> (8 * c)) & 0xFF;
}

uint32_t PlaceChannel(const Rules &r, int c, int64_t value)
{
    return (uint32_t)value << (r.depth16 ? kShift16[c] : 8 * c);
}

int ChannelMax(const Rules &r, int c)
{
    return r.depth16 ? (1 << kWidth16[c]) - 1 : 255;
}

// floor(brightness byte x v / 255), or v itself at white.
int Bright(const Rules &r, int c, int v)
{
    return r.white ? v : (int)(((r.brightness >> (8 * c)) & 0xFF) * (uint32_t)v / 255);
}

// d + floor((x - d) K / 256^n)
int WeightedStep(int d, int x, const Weights &w)
{
    return (int)((((int64_t)d << (8 * w.count)) + (int64_t)(x - d) * w.product) >> (8 * w.count));
}

uint32_t Add32(uint32_t d, uint32_t u, bool orTerm)
{
    uint32_t sum = (d & 0xFEFEFF) + (u & 0xFEFEFF), carry = sum & 0x1010100;
    return sum | (carry - (carry >> 8)) | (orTerm ? (d | u) & 0x10100 : 0);
}

uint32_t Subtract32(uint32_t d, uint32_t u)
{
    uint32_t diff = (d | 0x1010100) - (u & 0xFEFEFF), guard = diff & 0x1010100;
    return diff & (guard - (guard >> 8));
}

uint32_t Add16(uint32_t d, uint32_t x, bool orTerm)
{
    uint32_t t = (d & 0xF7DEF7DF) + (x & 0xF7DEF7DF), c = t & 0x08210820;
    return ((c - (c >> 5)) | (orTerm ? (d | x) & 0x0820 : 0) | t) & 0xFFFF;
}

uint32_t Subtract16(uint32_t d, uint32_t x)
{
    uint32_t t = (d | 0x08210820) - (x & 0xF7DEF7DF), c = t & 0x08210820;
    return (c - (c >> 5)) & t & 0xFFFF;
}

// Two 16-bit pixels in one word, the left one in the low half.
uint32_t AddPair16(uint32_t d, uint32_t s)
{
    uint64_t wide = (uint64_t)(s & 0xF7DEF7DF) + (d & 0xF7DEF7DF);
    uint32_t t = (uint32_t)wide, carryOut = (uint32_t)(wide >> 32), c = t & 0x08210820;
    return (c - ((c >> 5) | (carryOut << 27))) | t;
}

uint32_t SubtractPair16(uint32_t d, uint32_t s)
{
    uint32_t left = d | 0x08210820, right = s & 0xF7DEF7DF;
    uint32_t t = left - right, c = t & 0x08210820;
    return t & ((c - (c >> 5)) | (left < right ? 0 : 0xF8000000));
}

// Modes 2 and 3: the addend of a 32-bit channel from its value b after the brightness.
int Addend32(const Rules &r, int b, const Weights &w)
{
    return w.count == 0 ? r.p * b / 255 : (int)(b * w.product * r.p >> (8 * (w.count + 1)));
}

uint32_t General32(const Rules &r, uint32_t d, uint32_t s, const Weights &w)
{
    uint32_t out = d & 0xFF000000;
    uint32_t addend = 0;
    for (int c = 0; c < 3; c++) {
        int sc = Bright(r, c, ChannelOf(r, s, c)), dc = ChannelOf(r, d, c);
        Weights withP = w;
        withP.Add(r.p);
        switch (r.mode) {
        case 0:
            out |= PlaceChannel(r, c, w.count ? WeightedStep(dc, sc, w) : sc);
            break;
        case 1:
            out |= PlaceChannel(r, c, WeightedStep(dc, sc, withP));
            break;
        case 10:
            out |= PlaceChannel(r, c, WeightedStep(dc, Bright(r, c, 255 - ChannelOf(r, s, c)), withP));
            break;
        case 11:
            out |= PlaceChannel(r, c, WeightedStep(dc, sc * dc >> 8, withP));
            break;
        case 4:
            out |= PlaceChannel(r, c, (int64_t)sc * dc * w.product >> (8 + 8 * w.count));
            break;
        default: // 2 and 3
            addend |= PlaceChannel(r, c, Addend32(r, sc, w));
        }
    }
    if (r.mode == 2)
        return Add32(d, addend, true);
    return r.mode == 3 ? Subtract32(d, addend) : out;
}

// Modes 2 and 3: the value added to or taken from a 16-bit channel, its steps in the order the rules give.
int Addend16(const Rules &r, int c, int s, const Weights &w)
{
    int y;
    if (r.blend) {
        y = (int)(Bright(r, c, s) * w.product >> (8 * w.count));
    } else if (w.count) {
        y = Bright(r, c, (int)(s * w.product >> (8 * w.count)));
    } else {
        y = Bright(r, c, s);
    }
    return r.p * y / 255;
}

uint32_t General16(const Rules &r, uint32_t d, uint32_t s, const Weights &w, bool alphaWeighted)
{
    uint32_t out = 0, addend = 0;
    for (int c = 0; c < 3; c++) {
        int sc = ChannelOf(r, s, c), dc = ChannelOf(r, d, c), x = Bright(r, c, sc), v;
        Weights withP = w;
        withP.Add(r.p);
        switch (r.mode) {
        case 0:
            v = w.count ? WeightedStep(dc, x, w) : x;
            break;
        case 4:
            v = (int)((int64_t)x * dc * w.product >> (kWidth16[c] + 8 * w.count));
            break;
        case 2:
        case 3:
            addend |= PlaceChannel(r, c, Addend16(r, c, sc, w));
            continue;
        default: // 1, 10, 11: a step toward their target
            if (r.mode == 10)
                x = Bright(r, c, ChannelMax(r, c) - sc);
            if (r.mode == 11)
                x = x * dc >> kWidth16[c];
            v = w.count ? WeightedStep(dc, x, withP) : dc + r.p * (x - dc) / 255;
            if (r.mode == 11 && c == 1 && alphaWeighted && !r.blend && r.white) {
                int64_t fine = sc * dc >> 1; // the product in 1/32 green steps
                v = (int)((32LL * dc * 65536 + (fine - 32 * dc) * withP.product) >> 21);
            }
        }
        out |= PlaceChannel(r, c, v);
    }
    if (r.mode == 2)
        return Add16(d, addend, true);
    return r.mode == 3 ? Subtract16(d, addend) : out;
}

// The point draw's regular loops for a source without alpha, no blend image and white brightness.
bool PointFastForm(const Rules &r)
{
    return r.kind == DrawKind::PointRegular && !r.alphaSource && !r.blend && r.white;
}

bool PairForm(const Rules &r)
{
    return PointFastForm(r) && r.depth16 && (r.mode == 2 || r.mode == 3) && r.p == 255;
}

uint32_t FastFormPixel(const Rules &r, uint32_t d, uint32_t s)
{
    if (r.mode == 1 && r.p == 128) {
        return r.depth16 ? ((s >> 1) & 0x7BEF) + ((d >> 1) & 0x7BEF) : ((s >> 1) & 0x7F7F7F) + ((d >> 1) & 0x7F7F7F);
    }
    if (r.mode == 1 && r.depth16) {
        int k = r.p / 4;
        uint32_t out = 0;
        for (int c = 0; c < 3; c++) {
            out |= PlaceChannel(r, c, (k * ChannelOf(r, s, c) + (63 - k) * ChannelOf(r, d, c)) / 63);
        }
        return out;
    }
    if (r.mode == 2 && r.p == 255)
        return r.depth16 ? Add16(d, s, false) : Add32(d, s, false);
    return r.depth16 ? General16(r, d, s, Weights(), false) : General32(r, d, s, Weights());
}

bool Keyed(const Rules &r, uint32_t raw)
{
    return !r.alphaSource && r.transparent && raw == r.key;
}

// The destination pixel after drawing the source value `raw` (with blend byte `blendByte`, -1 without) onto `d`.
uint32_t DrawPixel(const Rules &r, uint32_t d, uint32_t raw, int blendByte)
{
    Weights w;
    if (blendByte >= 0)
        w.Add(r.fade[blendByte]);
    bool alphaWeighted = false;
    uint32_t s = r.palettised ? r.palette[raw] : r.depth16 && r.alphaSource ? raw & 0xFFFF : raw;
    if (Keyed(r, raw))
        return d;
    if (r.alphaSource) {
        int a = r.depth16 ? (raw >> 16) & 0xFF : raw >> 24;
        if (r.transparent == 0) {
            if (r.kind == DrawKind::PointRegular && r.mode == 0 && !r.blend && r.white)
                return s;
            alphaWeighted = true;
        } else if (a == 0) {
            // the point draw and the rotated draw apply alpha 0 as a weight in mode 4 (black); all else skip it
            bool weightZero = r.mode == 4 && (r.kind == DrawKind::PointRegular || r.kind == DrawKind::Rotated);
            if (!weightZero)
                return d;
            alphaWeighted = true;
        } else {
            alphaWeighted = a != 255;
        }
        if (alphaWeighted)
            w.Add(a);
    }
    if (r.mode == 0 && !r.blend && r.white && !alphaWeighted)
        return s; // the whole pixel
    if (PointFastForm(r))
        return FastFormPixel(r, d, s);
    return r.depth16 ? General16(r, d, s, w, alphaWeighted) : General32(r, d, s, w);
}

// The 16-bit pair forms take two pixels from the start of each drawn row: both unkeyed go through the word form,
// else each pixel alone through the single form.
void DrawPair(const Rules &r, uint32_t &d1, uint32_t &d2, uint32_t raw1, uint32_t raw2)
{
    if (Keyed(r, raw1) || Keyed(r, raw2)) {
        d1 = DrawPixel(r, d1, raw1, -1);
        d2 = DrawPixel(r, d2, raw2, -1);
        return;
    }
    uint32_t s = (r.palettised ? r.palette[raw1] | r.palette[raw2] << 16 : raw1 | raw2 << 16);
    uint32_t word = r.mode == 2 ? AddPair16(d1 | d2 << 16, s) : SubtractPair16(d1 | d2 << 16, s);
    d1 = word & 0xFFFF;
    d2 = word >> 16;
}

// Refusals shared by the three calls; fills the rules of an accepted call.
bool Accept(const ModelImage &dest, const ModelImage &src, int transparent, const ModelImage *blend,
            const ModelSettings &s, DrawKind kind, Rules *r)
{
    if (!dest.live || !src.live || (blend && !blend->live))
        return false;
    if (blend && (blend->bytesPerPixel != 1 || blend->width < src.width || blend->height < src.height))
        return false;
    if (src.kind != dest.kind || dest.paletteFlag || dest.alphaFlag || src.kind > 1)
        return false;
    int mode = s.mode, p = s.parameter;
    if ((unsigned)mode > 11 || (mode >= 5 && mode <= 9))
        return false;
    if ((mode == 1 || mode == 2 || (mode == 3 && !src.paletteFlag)) && p == 0)
        return false;
    if (mode == 1 && p == 255)
        mode = 0;
    *r = Rules{kind,
               src.kind == 0,
               src.paletteFlag != 0,
               src.alphaFlag != 0,
               blend != nullptr,
               (s.brightness & 0xFFFFFF) == 0xFFFFFF,
               mode,
               p,
               transparent,
               s.brightness,
               src.transparentValue,
               src.palette,
               s.fade};
    return true;
}

// The draw area, bounded by the destination's own rectangle.
RECT DrawArea(const ModelImage &dest, const ModelSettings &s)
{
    return RECT{std::max<LONG>(s.area.left, 0), std::max<LONG>(s.area.top, 0), std::min<LONG>(s.area.right, dest.width),
                std::min<LONG>(s.area.bottom, dest.height)};
}

int64_t Clamp(int64_t v, int64_t low, int64_t high)
{
    return v > high ? high : v < low ? low : v;
}

} // namespace

ModelImage CaptureImage(const MEMIMG *image)
{
    ModelImage m;
    if (image == nullptr || !IsValidMemImg(image))
        return m;
    const MemImgBlock *b = image->block;
    m.live = true;
    m.width = image->width;
    m.height = image->height;
    m.kind = b->kind;
    m.paletteFlag = b->paletteFlag;
    m.alphaFlag = b->alphaFlag;
    m.bytesPerPixel = b->format->bytesPerPixel;
    m.transparentValue = b->transparentValue;
    m.runTableCurrent =
        b->runTableValid && image->pixels == b->pixels && image->width == b->width && image->height == b->height;
    for (int y = 0; y < m.height; y++) {
        for (int x = 0; x < m.width; x++) {
            const unsigned char *p = image->pixels + (ptrdiff_t)y * b->pitch + (ptrdiff_t)x * m.bytesPerPixel;
            uint32_t v = 0;
            for (int i = 0; i < m.bytesPerPixel; i++)
                v |= (uint32_t)p[i] << (8 * i);
            m.pixels.push_back(v);
        }
    }
    for (int i = 0; m.paletteFlag && i < 256; i++) {
        m.palette[i] = m.kind == 0 ? ((const uint16_t *)b->palette)[i] : ((const uint32_t *)b->palette)[i];
    }
    return m;
}

ModelSettings CaptureSettings(void)
{
    ModelSettings s;
    s.mode = g_MemImgDrawSettings.blendMode;
    s.parameter = g_MemImgDrawSettings.blendParameter;
    s.brightness = g_MemImgDrawSettings.brightness;
    s.area = g_MemImgDrawSettings.drawArea;
    memcpy(s.fade, g_BlendTables.fadeRamp, sizeof(s.fade));
    return s;
}

void ModelDrawImage(ModelImage &dest, const ModelImage &src, int x, int y, int transparent, const ModelImage *blend,
                    const ModelSettings &s)
{
    Rules r;
    if (!Accept(dest, src, transparent, blend, s, DrawKind::PointRegular, &r))
        return;
    RECT area = DrawArea(dest, s);
    int64_t left = Clamp(x, area.left, area.right), right = Clamp((int64_t)x + src.width, area.left, area.right);
    int64_t top = Clamp(y, area.top, area.bottom), bottom = Clamp((int64_t)y + src.height, area.top, area.bottom);
    if (transparent == 1 && src.runTableCurrent && right - left == src.width && bottom - top == src.height) {
        r.kind = DrawKind::PointRun;
    }
    for (int64_t row = top; row < bottom; row++) {
        int sy = (int)(row - y);
        for (int64_t col = left; col < right; col++) {
            int sx = (int)(col - x);
            uint32_t &d = dest.At((int)col, (int)row);
            if (PairForm(r) && col + 1 < right) {
                DrawPair(r, d, dest.At((int)col + 1, (int)row), src.At(sx, sy), src.At(sx + 1, sy));
                col++;
                continue;
            }
            d = DrawPixel(r, d, src.At(sx, sy), blend ? (int)blend->At(sx, sy) : -1);
        }
    }
}

void ModelDrawStretchedImage(ModelImage &dest, const ModelImage &src, RECT rect, int transparent,
                             const ModelImage *blend, const ModelSettings &s)
{
    Rules r;
    if (!Accept(dest, src, transparent, blend, s, DrawKind::Stretched, &r))
        return;
    bool mirrorX = rect.left > rect.right, mirrorY = rect.top > rect.bottom;
    if (mirrorX)
        std::swap(rect.left, rect.right);
    if (mirrorY)
        std::swap(rect.top, rect.bottom);
    int64_t w = (int64_t)rect.right - rect.left, h = (int64_t)rect.bottom - rect.top;
    if (w == 0 || h == 0)
        return;
    if (w == src.width && h == src.height && !mirrorX && !mirrorY) {
        ModelDrawImage(dest, src, rect.left, rect.top, transparent, blend, s);
        return;
    }
    if (w >= 32768 || h >= 32768)
        return;
    uint32_t xStep = (uint32_t)(w * 0x10000) / (uint32_t)src.width;
    uint32_t yStep = (uint32_t)(h * 0x10000) / (uint32_t)src.height;
    if (xStep == 0 || yStep == 0 || (w - 1) * 0x10000 / xStep > src.width - 1 ||
        (h - 1) * 0x10000 / yStep > src.height - 1) {
        return;
    }
    RECT area = DrawArea(dest, s);
    for (int64_t row = std::max<int64_t>(rect.top, area.top); row < std::min<int64_t>(rect.bottom, area.bottom);
         row++) {
        int sy = (int)((row - rect.top) * 0x10000 / yStep);
        if (mirrorY)
            sy = src.height - 1 - sy;
        for (int64_t col = std::max<int64_t>(rect.left, area.left); col < std::min<int64_t>(rect.right, area.right);
             col++) {
            int sx = (int)((col - rect.left) * 0x10000 / xStep);
            if (mirrorX)
                sx = src.width - 1 - sx;
            uint32_t &d = dest.At((int)col, (int)row);
            d = DrawPixel(r, d, src.At(sx, sy), blend ? (int)blend->At(sx, sy) : -1);
        }
    }
}

namespace
{

struct Rotation {
    int sN, cN, sA, cA;
};

int Fixed(float value)
{
    return FloatToInt(value * 262144.0f);
}

Rotation RotationOf(float angle)
{
    float sN, cN, sA, cA;
    SinCos(-angle, &sN, &cN);
    SinCos(angle, &sA, &cA);
    return Rotation{Fixed(sN), Fixed(cN), Fixed(sA), Fixed(cA)};
}

bool RotationAccepted(const ModelImage &src, const ModelImage *blend, int cx, int cy, float scale, float angle)
{
    if (src.width >= 8192 || src.height >= 8192 || cx < -8192 || cx > 8191 || cy < -8192 || cy > 8191)
        return false;
    if (scale == 0.0f || !isfinite(scale) || !isfinite(angle))
        return false;
    return src.height <= 4096 && (blend == nullptr || blend->height <= 4096);
}

} // namespace

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

void ModelDrawRotatedImage(ModelImage &dest, const ModelImage &src, int cx, int cy, float scale, float angle,
                           int transparent, const ModelImage *blend, const ModelSettings &s)
{
    Rules r;
    if (!Accept(dest, src, transparent, blend, s, DrawKind::Rotated, &r))
        return;
    if (!RotationAccepted(src, blend, cx, cy, scale, angle))
        return;
    Rotation t = RotationOf(angle);
    RotatedCorners c = ModelRotatedCorners(src.width, src.height, cx, cy, scale, angle);
    int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
    for (int i = 0; i < 4; i++) {
        left = std::min(left, c.x[i] / 262144 - 2);
        top = std::min(top, c.y[i] / 262144 - 2);
        right = std::max(right, c.x[i] / 262144 + 4);
        bottom = std::max(bottom, c.y[i] / 262144 + 4);
    }
    RECT area = DrawArea(dest, s);
    left = Clamp(left, area.left, area.right);
    right = Clamp(right, area.left, area.right);
    top = Clamp(top, area.top, area.bottom);
    bottom = Clamp(bottom, area.top, area.bottom);
    if (left == right || top == bottom)
        return;
    auto sourceU = [&](int64_t X, int64_t Y) {
        return (int64_t)FloatToInt((float)((X - cx) * t.cN - (Y - cy) * t.sN) / scale) +
               (int64_t)(src.width >> 1) * 262144;
    };
    auto sourceV = [&](int64_t X, int64_t Y) {
        return (int64_t)FloatToInt((float)((Y - cy) * t.cN + (X - cx) * t.sN) / scale) +
               (int64_t)(src.height >> 1) * 262144;
    };
    int64_t du = FloatToInt((float)t.cA / scale), dv = FloatToInt((float)t.sN / scale);
    int64_t uTop = sourceU(left, top), vTop = sourceV(left, top);
    int64_t duRow = (sourceU(left, bottom) - uTop) / (bottom - top),
            dvRow = (sourceV(left, bottom) - vTop) / (bottom - top);
    for (int64_t row = 0; row < bottom - top; row++) {
        for (int64_t i = 0; i < right - left; i++) {
            uint32_t u = (uint32_t)(uint64_t)(uTop + row * duRow + i * du);
            uint32_t v = (uint32_t)(uint64_t)(vTop + row * dvRow + i * dv);
            if (u >= (uint32_t)src.width * 262144u || v >= (uint32_t)src.height * 262144u)
                continue;
            uint32_t &d = dest.At((int)(left + i), (int)(top + row));
            d = DrawPixel(r, d, src.At(u >> 18, v >> 18), blend ? (int)blend->At(u >> 18, v >> 18) : -1);
        }
    }
}
