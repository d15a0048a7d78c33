// The per-pixel colour rules of the software shapes: one colour, prepared once per call (brightness, the scaled or
// inverted form a mode needs, the table row of the blend parameter), met with each destination pixel by the rule of
// its depth and mode. Each depth and mode is its own template, so no pixel loop tests the draw state. Internal to
// softrender/; window thread only, like every drawing call.
#pragma once

#include "softrender/blit_rules.h"

#include <stdint.h>

// One shape call's colour after the refusals.
struct ShapeColor {
    int depth;              // 16 or 32
    int mode;               // 0-4, 10, 11 (mode 1 at p = 255 is mode 0)
    uint32_t operand;       // what meets each pixel: the brightened colour, scaled (modes 2, 3) or inverted (mode 10)
    uint32_t parameter;     // p, 1-255 where a mode weighs by it
    const int32_t *diffRow; // diffRow[i] = trunc(p x i / 255), i in -255..255
};

// Fills `out` from the draw settings for a destination of `kind`; -1 when the call draws nothing (a kind other than
// 16 or 32 bits, mode 5-9 or outside 0-11, modes 1, 2, 3, 10 and 11 at p = 0, which leave every pixel as it is).
int PrepareShapeColor(int kind, uint32_t color, ShapeColor *out);
// The same for a colour already brightened by the caller's own rule.
int PrepareBrightShapeColor(int kind, uint32_t color, ShapeColor *out);

// ---------------------------------------------------------------------------------------------------------------
// 16-bit rules: RGB565 channels, each step d + trunc(p x (x - d) / 255) from the difference row.

static inline uint32_t DiffStep16(const ShapeColor &c, Channels16 d, Channels16 x)
{
    return JoinRgb565({d.red + c.diffRow[(int)x.red - (int)d.red], d.green + c.diffRow[(int)x.green - (int)d.green],
                       d.blue + c.diffRow[(int)x.blue - (int)d.blue]});
}

static inline Channels16 Product16(Channels16 d, Channels16 x)
{
    return {d.red * x.red >> 5, d.green * x.green >> 6, d.blue * x.blue >> 5};
}

template <int Mode> static inline uint32_t ApplyShapeRule16(const ShapeColor &c, uint32_t dWord)
{
    if constexpr (Mode == 0) {
        return c.operand;
    } else if constexpr (Mode == 2) {
        return PackedAdd16(dWord, c.operand);
    } else if constexpr (Mode == 3) {
        return PackedSubtract16(dWord, c.operand);
    } else {
        Channels16 d = SplitRgb565(dWord), x = SplitRgb565(c.operand);
        if constexpr (Mode == 4) {
            return JoinRgb565(Product16(d, x));
        } else {
            return DiffStep16(c, d, Mode == 11 ? Product16(d, x) : x); // modes 1 and 10 step toward the operand
        }
    }
}

// ---------------------------------------------------------------------------------------------------------------
// 32-bit rules: channels in bytes 0-2; byte 3 is kept except where a rule stores a whole word (modes 0, 2, 3).

static inline uint32_t Product32(uint32_t d, uint32_t x)
{
    uint32_t out = d & 0xFF000000;
    for (int channel = 0; channel < 24; channel += 8) {
        out |= (((d >> channel) & 0xFF) * ((x >> channel) & 0xFF) >> 8) << channel;
    }
    return out;
}

template <int Mode> static inline uint32_t ApplyShapeRule32(const ShapeColor &c, uint32_t d)
{
    if constexpr (Mode == 0) {
        return c.operand;
    } else if constexpr (Mode == 2) {
        return PackedAdd32(d, c.operand);
    } else if constexpr (Mode == 3) {
        return PackedSubtract32(d, c.operand);
    } else if constexpr (Mode == 4) {
        return Product32(d, c.operand);
    } else {
        // (x p + d (256 - p)) >> 8 per byte, modes 1 and 10 toward the operand, mode 11 toward the product
        return MixWord32<1>(d, Mode == 11 ? Product32(d, c.operand) : c.operand, c.parameter);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// One pixel read, met with the colour and written back.

template <int Depth, int Mode> static inline void DrawShapePixel(uint8_t *pixel, const ShapeColor &c)
{
    if constexpr (Depth == 32) {
        StoreBlit32(pixel, ApplyShapeRule32<Mode>(c, LoadBlit32(pixel)));
    } else {
        StoreBlit16(pixel, ApplyShapeRule16<Mode>(c, LoadBlit16(pixel)));
    }
}

// A run of `count` pixels from `row` rightward.
template <int Depth, int Mode> static inline void DrawShapeRun(uint8_t *row, int count, const ShapeColor &c)
{
    const ShapeColor local = c;
    for (int i = 0; i < count; i++, row += Depth / 8) {
        DrawShapePixel<Depth, Mode>(row, local);
    }
}
