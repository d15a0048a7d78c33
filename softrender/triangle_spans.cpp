// The triangle's span loops: the textured ones as a draw kind of the blits' leaves (every source form, mode, blend
// image, brightness and key), the flat ones per depth and mode on the shapes' colour rule. Each counts its calls in
// the blits' leaf table. Window thread only.
#include "softrender/triangle_spans.h"

struct TriangleKind {
    typedef TriangleSpanFunction Function;
    static constexpr const char *name = "triangle";
    static constexpr bool specialForms = false, alwaysKeyed = false, textured = true;

    template <class Leaf>
    static void Run(const TriangleSpanContext &c, uint8_t *destination, int count, uint32_t u, uint32_t v)
    {
        CountBlitLeaf<TriangleKind, Leaf>();
        // Locals, so that the stores cannot be taken to change them.
        const uint32_t du = c.du, dv = c.dv, uLimit = c.uLimit, vLimit = c.vLimit;
        const uint8_t *source = c.sourcePixels, *blend = c.blendPixels;
        const ptrdiff_t sourcePitch = c.sourcePitch, blendPitch = c.blendPitch;
        for (int i = 0; i < count; i++, destination += Leaf::destinationStep, u += du, v += dv) {
            if (u < uLimit && v < vLimit) {
                const uint32_t tu = u >> 18, tv = v >> 18;
                const uint8_t *pixel = source + (ptrdiff_t)tv * sourcePitch + tu * Leaf::sourceStep;
                const uint8_t *blendByte = Leaf::blend ? blend + (ptrdiff_t)tv * blendPitch + tu : NULL;
                DrawBlitPixel<Leaf, true, false>(c.lookups, destination, pixel, blendByte);
            }
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
