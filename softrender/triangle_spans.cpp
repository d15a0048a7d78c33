// The triangle's span loops: the textured ones as a draw kind of the blits' leaves (every source form, mode, blend
// image, brightness and key), the flat ones per depth and mode on the shapes' colour rule. Each counts its calls in
// the blits' leaf table. Window thread only.
#include "softrender/triangle_spans.h"

#include <algorithm>

// The pixels i in [0, count) of a span whose 14.18 texel coordinate start + i x step lies in [0, limit), as
// [*first, *last); false when the coordinate wraps around 32 bits within the span or the limit reaches past 2^31,
// where the in-bounds pixels need not be one run.
static bool FindInsideRun(uint32_t start, uint32_t step, uint32_t limit, int count, int *first, int *last)
{
    const int64_t s = (int32_t)start, d = (int32_t)step, end = s + (int64_t)(count - 1) * d;
    if (limit > 0x80000000u || end < INT32_MIN || end > INT32_MAX) {
        return false;
    }
    // s + i d >= 0 and s + i d <= limit - 1, solved for i with floor divisions.
    auto floorDivide = [](int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); };
    int64_t low = 0, high = count - 1;
    if (d == 0) {
        high = s >= 0 && s < (int64_t)limit ? high : -1;
    } else if (d > 0) {
        low = std::max<int64_t>(low, -floorDivide(s, d));
        high = std::min<int64_t>(high, floorDivide((int64_t)limit - 1 - s, d));
    } else {
        low = std::max<int64_t>(low, -floorDivide((int64_t)limit - 1 - s, -d));
        high = std::min<int64_t>(high, floorDivide(s, -d));
    }
    *first = (int)std::max<int64_t>(*first, low);
    *last = (int)std::min<int64_t>(*last, high + 1);
    return true;
}

#define TRIANGLE_GATHER 64 // texels fetched ahead of each sequential draw

struct TriangleKind {
    typedef TriangleSpanFunction Function;
    static constexpr const char *name = "triangle";
    static constexpr bool specialForms = false, alwaysKeyed = false, textured = true;

    // Texel by texel, each tested against the source's bounds.
    template <class Leaf>
    static void RunTested(const TriangleSpanContext &c, uint8_t *destination, int count, uint32_t u, uint32_t v)
    {
        const BlitLookups lookups = c.lookups;
        for (int i = 0; i < count; i++, destination += Leaf::destinationStep, u += c.du, v += c.dv) {
            if (u < c.uLimit && v < c.vLimit) {
                const uint32_t tu = u >> 18, tv = v >> 18;
                const uint8_t *pixel = c.sourcePixels + (ptrdiff_t)tv * c.sourcePitch + tu * Leaf::sourceStep;
                const uint8_t *blendByte = Leaf::blend ? c.blendPixels + (ptrdiff_t)tv * c.blendPitch + tu : NULL;
                DrawBlitPixel<Leaf, true, false>(lookups, destination, pixel, blendByte);
            }
        }
    }

    // The run of texels inside the source, fetched a batch at a time into a row of their own and drawn from it as
    // a blit draws a row: the rule's loop then walks memory in order.
    template <class Leaf>
    static void RunGathered(const TriangleSpanContext &c, uint8_t *destination, int first, int last, uint32_t u,
                            uint32_t v)
    {
        const BlitLookups lookups = c.lookups;
        const uint8_t *source = c.sourcePixels, *blend = c.blendPixels;
        const ptrdiff_t sourcePitch = c.sourcePitch, blendPitch = c.blendPitch;
        const uint32_t du = c.du, dv = c.dv;
        uint8_t texels[TRIANGLE_GATHER * 4], blendBytes[TRIANGLE_GATHER];
        u += (uint32_t)first * du, v += (uint32_t)first * dv;
        for (int i = first; i < last; i += TRIANGLE_GATHER) {
            const int n = std::min(TRIANGLE_GATHER, last - i);
            for (int k = 0; k < n; k++, u += du, v += dv) {
                const uint32_t tu = u >> 18, tv = v >> 18;
                memcpy(texels + k * Leaf::sourceStep, source + (ptrdiff_t)tv * sourcePitch + tu * Leaf::sourceStep,
                       Leaf::sourceStep);
                if (Leaf::blend) {
                    blendBytes[k] = blend[(ptrdiff_t)tv * blendPitch + tu];
                }
            }
            uint8_t *row = destination + (ptrdiff_t)i * Leaf::destinationStep;
            for (int k = 0; k < n; k++) {
                DrawBlitPixel<Leaf, true, false>(lookups, row + k * Leaf::destinationStep,
                                                 texels + k * Leaf::sourceStep, blendBytes + k);
            }
        }
    }

    template <class Leaf>
    static void Run(const TriangleSpanContext &c, uint8_t *destination, int count, uint32_t u, uint32_t v)
    {
        CountBlitLeaf<TriangleKind, Leaf>();
        int first = 0, last = count;
        if (FindInsideRun(u, c.du, c.uLimit, count, &first, &last) &&
            FindInsideRun(v, c.dv, c.vLimit, count, &first, &last)) {
            RunGathered<Leaf>(c, destination, first, last, u, v);
        } else {
            RunTested<Leaf>(c, destination, count, u, v);
        }
    }
};

TriangleSpanFunction PickTexturedSpan(const BlitChoice &choice)
{
    return PickBlitLoop<TriangleKind>(choice);
}

// ---------------------------------------------------------------------------------------------------------------
// Flat spans, counted as "flat <depth> m<mode>".

template <int Depth, int Mode> struct FlatSpanCounter {
    static BlitLeafRegistration registration;
};

template <int Depth, int Mode> BlitLeafRegistration FlatSpanCounter<Depth, Mode>::registration("flat", Depth, Mode, 0);

template <int Depth, int Mode>
static void DrawFlatSpan(const TriangleSpanContext &c, uint8_t *destination, int count, uint32_t, uint32_t)
{
    ++*FlatSpanCounter<Depth, Mode>::registration.calls;
    DrawShapeRun<Depth, Mode>(destination, count, c.color);
}

static const struct {
    int depth, mode;
    TriangleSpanFunction run;
} kFlatSpans[] = {
    {16, 0, DrawFlatSpan<16, 0>},   {16, 1, DrawFlatSpan<16, 1>},   {16, 2, DrawFlatSpan<16, 2>},
    {16, 3, DrawFlatSpan<16, 3>},   {16, 4, DrawFlatSpan<16, 4>},   {16, 10, DrawFlatSpan<16, 10>},
    {16, 11, DrawFlatSpan<16, 11>}, {32, 0, DrawFlatSpan<32, 0>},   {32, 1, DrawFlatSpan<32, 1>},
    {32, 2, DrawFlatSpan<32, 2>},   {32, 3, DrawFlatSpan<32, 3>},   {32, 4, DrawFlatSpan<32, 4>},
    {32, 10, DrawFlatSpan<32, 10>}, {32, 11, DrawFlatSpan<32, 11>},
};

TriangleSpanFunction PickFlatSpan(const ShapeColor &color)
{
    for (const auto &span : kFlatSpans) {
        if (span.depth == color.depth && span.mode == color.mode) {
            return span.run;
        }
    }
    return NULL;
}
