// The draw of a whole software image at a point: refusals, clipping to the draw area, the working set filled once
// per call, and the row loops of every leaf, with the fast forms for plain copies, transparent copies several
// pixels a step, and 16-bit pairs; transparent whole-image draws walk the source's run table instead
// (blit_runs.cpp). Window thread only: the palette scratch is module state.
#include "softrender/blit_point.h"

#include <stdint.h>
#include <string.h>

// A palettised source's palette, copied whole for the loops that map several indices a step.
static uint32_t s_PaletteScratch[256];

// Whole rows of a plain copy, four 32-bit pixels or two 16-bit pixels a step with their key test, four palette
// indices a step: the loops where the work per pixel is smallest.
template <class Leaf> static void RunPlainCopy(const DrawImageContext &c)
{
    const uint8_t *src = c.srcPixel;
    uint8_t *dst = c.dstPixel;
    const int bytes = Leaf::destinationStep;
    for (int row = 0; row < c.h; row++) {
        int i = 0;
        if constexpr (Leaf::source == BLIT_PALETTE) {
            const uint32_t *palette32 = (const uint32_t *)c.lookups.palette;
            const uint16_t *palette16 = (const uint16_t *)c.lookups.palette;
            for (; i + 4 <= c.w; i += 4) {
                uint32_t indices = LoadBlit32(src + i);
                if (Leaf::keyed && indices == c.transparentWord) {
                    continue;
                }
                for (int k = 0; k < 4; k++) {
                    uint32_t index = (indices >> (8 * k)) & 0xFF;
                    if (!Leaf::keyed || index != c.transparentValue) {
                        Leaf::StoreDestination(dst + (i + k) * bytes, bytes == 4 ? palette32[index] : palette16[index]);
                    }
                }
            }
        } else if constexpr (!Leaf::keyed) {
            memcpy(dst, src, (size_t)c.w * bytes);
            i = c.w;
        } else if constexpr (Leaf::depth == 32) {
            for (; i + 4 <= c.w; i += 4) {
                for (int k = 0; k < 4; k++) {
                    uint32_t pixel = LoadBlit32(src + 4 * (i + k));
                    if (pixel != c.transparentValue) {
                        StoreBlit32(dst + 4 * (i + k), pixel);
                    }
                }
            }
        } else {
            for (; i + 2 <= c.w; i += 2) {
                uint32_t pair = LoadBlit32(src + 2 * i);
                if (pair == c.transparentWord) {
                    continue;
                }
                if ((pair & 0xFFFF) != c.transparentValue) {
                    StoreBlit16(dst + 2 * i, pair);
                }
                if ((pair >> 16) != c.transparentValue) {
                    StoreBlit16(dst + 2 * i + 2, pair >> 16);
                }
            }
        }
        for (; i < c.w; i++) {
            DrawBlitPixel<Leaf, true, true>(c.lookups, dst + i * bytes, src + i * Leaf::sourceStep, NULL);
        }
        src += c.w * Leaf::sourceStep + c.srcSkip;
        dst += c.w * bytes + c.dstSkip;
    }
}

// An opaque alpha source in plain mode 0 is copied without its alpha: whole 32-bit words, or the colour word of
// each four-byte 16-bit pixel.
template <class Leaf> static void RunAlphaCopy(const DrawImageContext &c)
{
    const uint8_t *src = c.srcPixel;
    uint8_t *dst = c.dstPixel;
    for (int row = 0; row < c.h; row++) {
        if constexpr (Leaf::depth == 32) {
            memcpy(dst, src, (size_t)c.w * 4);
        } else {
            for (int i = 0; i < c.w; i++) {
                StoreBlit16(dst + 2 * i, LoadBlit16(src + 4 * i));
            }
        }
        src += c.w * 4 + c.srcSkip;
        dst += c.w * Leaf::destinationStep + c.dstSkip;
    }
}

// 16-bit add and subtract at full strength, two pixels in one 32-bit word, the left one in the low half. The upper
// pixel's lowest blue bit serves as the lower pixel's red carry or guard, so the pair form is its own rule.
static uint32_t AddPair16(uint32_t d, uint32_t s)
{
    uint32_t a = s & 0xF7DEF7DF, b = d & 0xF7DEF7DF;
    uint32_t sum = a + b, carryOut = sum < a;
    uint32_t carry = sum & 0x08210820;
    return (carry - ((carry >> 5) | (carryOut << 27))) | sum;
}

static uint32_t SubtractPair16(uint32_t d, uint32_t s)
{
    uint32_t minuend = d | 0x08210820, subtrahend = s & 0xF7DEF7DF;
    uint32_t difference = minuend - subtrahend;
    uint32_t guard = difference & 0x08210820;
    uint32_t mask = (guard - (guard >> 5)) | (minuend >= subtrahend ? 0xF8000000 : 0);
    return difference & mask;
}

template <class Leaf> static void RunPairs16(const DrawImageContext &c)
{
    const uint8_t *src = c.srcPixel;
    uint8_t *dst = c.dstPixel;
    const int step = Leaf::sourceStep;
    for (int row = 0; row < c.h; row++) {
        int i = 0;
        for (; i + 2 <= c.w; i += 2) {
            uint32_t raw0 = Leaf::Raw(src + i * step), raw1 = Leaf::Raw(src + (i + 1) * step);
            bool keyed0 = Leaf::keyed && raw0 == c.transparentValue;
            bool keyed1 = Leaf::keyed && raw1 == c.transparentValue;
            if (keyed0 || keyed1) {
                // A pixel beside a keyed one goes alone, by the single-pixel rule.
                if (!keyed0) {
                    Leaf::template Draw<false>(c.lookups, dst + 2 * i, src + i * step, NULL);
                }
                if (!keyed1) {
                    Leaf::template Draw<false>(c.lookups, dst + 2 * i + 2, src + (i + 1) * step, NULL);
                }
                continue;
            }
            uint32_t s = Leaf::Color(c.lookups, raw0) | Leaf::Color(c.lookups, raw1) << 16;
            uint32_t d = LoadBlit32(dst + 2 * i);
            StoreBlit32(dst + 2 * i, Leaf::mode == 2 ? AddPair16(d, s) : SubtractPair16(d, s));
        }
        if (i < c.w) {
            DrawBlitPixel<Leaf, true, true>(c.lookups, dst + 2 * i, src + i * step, NULL);
        }
        src += c.w * step + c.srcSkip;
        dst += c.w * 2 + c.dstSkip;
    }
}

template <class Leaf> static void RunPixels(const DrawImageContext &c)
{
    // Local copies: the pixel stores could otherwise alias the working set and force it to be read again.
    const BlitLookups lookups = c.lookups;
    const int w = c.w;
    const uint8_t *src = c.srcPixel, *blend = c.blendPixel;
    uint8_t *dst = c.dstPixel;
    for (int row = 0; row < c.h; row++) {
        for (int i = 0; i < w; i++) {
            DrawBlitPixel<Leaf, true, true>(lookups, dst + i * Leaf::destinationStep, src + i * Leaf::sourceStep,
                                            Leaf::blend ? blend + i : NULL);
        }
        src += w * Leaf::sourceStep + c.srcSkip;
        dst += w * Leaf::destinationStep + c.dstSkip;
        if (Leaf::blend) {
            blend += w + c.blendSkip;
        }
    }
}

struct PointKind {
    typedef void (*Function)(const DrawImageContext &);
    static constexpr const char *name = "point";
    static constexpr bool specialForms = true, alwaysKeyed = false, textured = false;

    template <class Leaf> static void Run(const DrawImageContext &c)
    {
        CountBlitLeaf<PointKind, Leaf>();
        if constexpr (Leaf::plainCopy && Leaf::source != BLIT_ALPHA) {
            RunPlainCopy<Leaf>(c);
        } else if constexpr (Leaf::plainCopy && !Leaf::keyed) {
            RunAlphaCopy<Leaf>(c);
        } else if constexpr (Leaf::form == BLIT_FULL && Leaf::depth == 16) {
            RunPairs16<Leaf>(c);
        } else {
            RunPixels<Leaf>(c);
        }
    }
};

// The run table describes the block's whole image: only a view that is that image may walk it.
static bool IsWholeBlock(const MEMIMG *image)
{
    const MemImgBlock *block = image->block;
    return image->pixels == block->pixels && image->width == block->width && image->height == block->height;
}

void MemImgDrawImage(MEMIMG *destination, MEMIMG *source, int x, int y, int transparent, MEMIMG *blendImage)
{
    if (!BlitImagesAcceptable(destination, source, blendImage)) {
        return;
    }
    RECT area = BlitDrawArea(destination);
    RECT r = {x, y, ClampToInt((int64_t)x + source->width), ClampToInt((int64_t)y + source->height)};
    ClipRect(&r, &area);
    DrawImageContext c;
    c.w = r.right - r.left;
    c.h = r.bottom - r.top;
    if (c.w == 0 || c.h == 0) {
        return;
    }
    const MemImgBlock *block = source->block;
    bool runPath = transparent == 1 && block->runTableValid && c.w == source->width && c.h == source->height &&
                   IsWholeBlock(source);
    BlitChoice choice;
    if (ChooseBlitLoop(block, transparent, blendImage != NULL, !runPath, &choice) != 0) {
        return;
    }
    InvalidateMemImgDerivedData(destination);

    const int sourceBytes = block->format->bytesPerPixel, destinationBytes = destination->block->format->bytesPerPixel;
    c.sx = r.left - x;
    c.sy = r.top - y;
    c.srcPixel = source->pixels + (ptrdiff_t)c.sy * block->pitch + (ptrdiff_t)c.sx * sourceBytes;
    c.srcSkip = block->pitch - sourceBytes * c.w;
    c.dstPixel =
        destination->pixels + (ptrdiff_t)r.top * destination->block->pitch + (ptrdiff_t)r.left * destinationBytes;
    c.dstSkip = destination->block->pitch - destinationBytes * c.w;
    c.blendPixel = NULL;
    c.blendSkip = 0;
    if (blendImage != NULL) {
        c.blendPixel = blendImage->pixels + (ptrdiff_t)c.sy * blendImage->block->pitch + c.sx;
        c.blendSkip = blendImage->block->pitch - c.w;
    }
    c.transparentValue = block->transparentValue;
    c.runTable = block->runTable;
    if (block->paletteFlag) {
        c.transparentWord = (block->transparentValue & 0xFF) * 0x01010101u;
    } else {
        c.transparentWord = block->kind == MEMIMG_KIND_RGB16 ? block->transparentValue | block->transparentValue << 16
                                                             : block->transparentValue;
    }
    TakeBlitLookups(&c.lookups, block, CopyBlitPalette(s_PaletteScratch, block));
    if (runPath) {
        WalkRunTable(choice, c);
    } else {
        PickBlitLoop<PointKind>(choice)(c);
    }
}
