// The span loops of the software triangle: what the row walk hands each clipped row to. A textured span steps its
// 14.18 texel position by addition and draws each texel that lies inside the source through the blits' per-pixel
// leaves; a flat span meets each pixel with the shapes' colour rule. One loop per combination of settings, chosen
// once per call. Internal to softrender/; window thread only.
#pragma once

#include "softrender/blit_rules.h"
#include "softrender/shape_rules.h"

// Every triangle x, y, u and v lies in -TRIANGLE_LIMIT..TRIANGLE_LIMIT - 1, so 14.18 values fit 32 bits; a quad's
// corners are held to the same range, as its two triangles refuse anything outside it.
#define TRIANGLE_LIMIT 8192

// What every span of one call reads besides its own row.
struct TriangleSpanContext {
    const uint8_t *sourcePixels, *blendPixels;
    ptrdiff_t sourcePitch, blendPitch;
    uint32_t du, dv;         // 14.18 texel step per pixel to the right
    uint32_t uLimit, vLimit; // the source's width and height in 14.18
    BlitLookups lookups;
    ShapeColor color; // the flat fill's
};

// `count` pixels from `destination` rightward, the first showing texel (u, v) in 14.18 (wrapped: a negative
// position fails the bounds test).
typedef void (*TriangleSpanFunction)(const TriangleSpanContext &c, uint8_t *destination, int count, uint32_t u,
                                     uint32_t v);

TriangleSpanFunction PickTexturedSpan(const BlitChoice &choice);
// The flat fill's loop for the prepared colour's depth and mode.
TriangleSpanFunction PickFlatSpan(const ShapeColor &color);
