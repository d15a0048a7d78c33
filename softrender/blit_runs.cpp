// The run-table walk of the draw at a point: a transparent, unclipped draw of a whole image jumps over its skip runs
// and draws its other runs pixel by pixel, with no key or alpha-0 test and none of the fast forms. Window thread
// only.
#include "softrender/blit_point.h"

#include <string.h>

// n pixels of one opaque or blend run; plain copies of direct-colour runs move whole pixels at once.
template <class Leaf>
static void DrawRun(const BlitLookups &lookups, uint8_t *dst, const uint8_t *src, const uint8_t *blend, int n,
                    bool blendRun)
{
    if constexpr (Leaf::plainCopy && Leaf::source != BLIT_PALETTE && Leaf::sourceStep == Leaf::destinationStep) {
        if (!blendRun) {
            memcpy(dst, src, (size_t)n * Leaf::destinationStep);
            return;
        }
    }
    for (int i = 0; i < n; i++) {
        if (Leaf::source == BLIT_ALPHA && blendRun) {
            Leaf::template Draw<true>(lookups, dst, src, blend);
        } else {
            Leaf::template Draw<false>(lookups, dst, src, blend);
        }
        src += Leaf::sourceStep;
        dst += Leaf::destinationStep;
        blend += Leaf::blend ? 1 : 0;
    }
}

struct RunKind {
    typedef void (*Function)(const DrawImageContext &);
    static constexpr const char *name = "runs";
    static constexpr bool specialForms = false, alwaysKeyed = true, textured = false;

    template <class Leaf> static void Run(const DrawImageContext &c)
    {
        CountBlitLeaf<RunKind, Leaf>();
        const uint8_t *code = c.runTable;
        const uint8_t *src = c.srcPixel, *blend = c.blendPixel;
        uint8_t *dst = c.dstPixel;
        for (int row = 0; row < c.h; row++) {
            int x = 0;
            for (unsigned run = *code++; run < RUN_TABLE_ROW_END; run = *code++) {
                // A row ends at its row-end code, and draws nothing past the view's width.
                int n = (int)(run & 63) + 1;
                n = n < c.w - x ? n : c.w - x;
                if ((run & 0xC0) != RUN_TABLE_TRANSPARENT && n > 0) {
                    DrawRun<Leaf>(c.lookups, dst + x * Leaf::destinationStep, src + x * Leaf::sourceStep,
                                  Leaf::blend ? blend + x : NULL, n, (run & 0xC0) == RUN_TABLE_TRANSLUCENT);
                }
                x += n;
            }
            src += c.w * Leaf::sourceStep + c.srcSkip;
            dst += c.w * Leaf::destinationStep + c.dstSkip;
            if (Leaf::blend) {
                blend += c.w + c.blendSkip;
            }
        }
    }
};

void WalkRunTable(const BlitChoice &choice, const DrawImageContext &c)
{
    PickBlitLoop<RunKind>(choice)(c);
}
