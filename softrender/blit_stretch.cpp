// The stretched draw of a whole software image into a rectangle: nearest-pixel sampling by 16.16 accumulators,
// mirrored on an axis whose rectangle edges are reversed, clipped to the draw area so that the visible part shows
// exactly what the unclipped draw would. A rectangle of the source's own size is the draw at a point. The column
// walk is taken once per call into a table; a plain copy repeats the row above while its source row does not
// change. Window thread only: the column table and the palette scratch are module state.
#include "softrender/blit_rules.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

// A palettised source's palette, copied whole on every call.
static uint32_t s_StretchPaletteScratch[256];

// Rectangle sides and clip offsets stay below this, so that a side times 0x10000 fits a signed 32-bit value.
#define STRETCH_MAX_SIDE 32768

// The source column of each drawn destination column, relative to the first and signed by the direction: the
// column accumulator walked once per call, so that the rows do no stepping of their own.
static int32_t s_StretchColumns[STRETCH_MAX_SIDE];

// One axis of the walk: destination pixels per source pixel in 16.16 and the accumulator of the first drawn pixel.
// Destination pixel n from the unclipped edge shows source pixel floor(n x 0x10000 / step).
struct StretchAxis {
    int step;
    int start;
    int first;     // source pixel of the first drawn destination pixel, counted along the drawn direction
    int direction; // +1, or -1 when mirrored
};

struct StretchContext {
    int w, h; // clipped size, both above 0
    StretchAxis x, y;
    const uint8_t *srcRow; // source pixel of the first drawn destination pixel
    ptrdiff_t srcRowStep;
    const uint8_t *blendRow; // null without a blend image
    ptrdiff_t blendRowStep;
    uint8_t *dstRow;
    ptrdiff_t dstPitch;
    BlitLookups lookups;
};

static void FillStretchColumns(const StretchAxis &x, int count)
{
    int accumulator = x.start, column = 0;
    for (int n = 0; n < count; n++) {
        s_StretchColumns[n] = column;
        for (accumulator -= 0x10000; accumulator <= 0; accumulator += x.step) {
            column += x.direction;
        }
    }
}

template <class Leaf>
static void DrawStretchedRow(const StretchContext &c, uint8_t *dst, const uint8_t *src, const uint8_t *blend)
{
    const int w = c.w; // a local count: the stores could otherwise alias the context
    for (int n = 0; n < w; n++) {
        const int column = s_StretchColumns[n];
        DrawBlitPixel<Leaf, false, false>(c.lookups, dst + n * Leaf::destinationStep, src + column * Leaf::sourceStep,
                                          Leaf::blend ? blend + column : NULL);
    }
}

struct StretchKind {
    typedef void (*Function)(const StretchContext &);
    static constexpr const char *name = "stretch";
    static constexpr bool specialForms = false, alwaysKeyed = false, textured = false;

    template <class Leaf> static void Run(const StretchContext &c)
    {
        CountBlitLeaf<StretchKind, Leaf>();
        // A row that depends on its source row alone repeats the row above when the source row does not change.
        constexpr bool sourceOnly = Leaf::plainCopy && Leaf::source != BLIT_ALPHA && !Leaf::keyed;
        const uint8_t *src = c.srcRow, *blend = c.blendRow;
        uint8_t *dst = c.dstRow;
        int accumulator = c.y.start;
        bool moved = true;
        for (int row = 0;;) {
            if (sourceOnly && !moved) {
                memcpy(dst, dst - c.dstPitch, (size_t)c.w * Leaf::destinationStep);
            } else {
                DrawStretchedRow<Leaf>(c, dst, src, blend);
            }
            if (++row == c.h) {
                return;
            }
            dst += c.dstPitch;
            moved = false;
            for (accumulator -= 0x10000; accumulator <= 0; accumulator += c.y.step) {
                moved = true;
                src += c.srcRowStep;
                if (Leaf::blend) {
                    blend += c.blendRowStep;
                }
            }
        }
    }
};

// The axis of one side: nothing to draw (-1) when the step is 0 or the last destination pixel would sample past the
// source's last pixel. offset: the clipped start's distance from the unclipped edge, below the side.
static int SetUpStretchAxis(StretchAxis *axis, int side, int sourceSize, int offset, int direction)
{
    uint32_t step = ((uint32_t)side << 16) / (uint32_t)sourceSize;
    if (step == 0 || ((int64_t)(side - 1) << 16) / step >= (int64_t)sourceSize) {
        return -1;
    }
    axis->step = (int)step;
    axis->first = (int)((offset << 16) / axis->step);
    axis->start = axis->step - (offset << 16) % axis->step;
    axis->direction = direction;
    return 0;
}

// The source column or row a walk starts at, from the drawn direction.
static int StretchStartIndex(const StretchAxis &axis, int sourceSize)
{
    return axis.direction > 0 ? axis.first : sourceSize - 1 - axis.first;
}

static void AimStretchSource(StretchContext *c, const MEMIMG *source, const MEMIMG *blendImage)
{
    const MemImgBlock *block = source->block;
    const int column = StretchStartIndex(c->x, source->width), row = StretchStartIndex(c->y, source->height);
    const int bytes = block->format->bytesPerPixel;
    c->srcRow = source->pixels + (ptrdiff_t)row * block->pitch + (ptrdiff_t)column * bytes;
    c->srcRowStep = (ptrdiff_t)c->y.direction * block->pitch;
    c->blendRow = NULL;
    if (blendImage != NULL) {
        // The blend image is read at source coordinates and mirrors with the source.
        const int pitch = blendImage->block->pitch;
        c->blendRow = blendImage->pixels + (ptrdiff_t)row * pitch + column;
        c->blendRowStep = (ptrdiff_t)c->y.direction * pitch;
    }
}

void MemImgDrawStretchedImage(MEMIMG *destination, MEMIMG *source, const RECT *rect, int transparent,
                              MEMIMG *blendImage)
{
    if (rect == NULL || !BlitImagesAcceptable(destination, source, blendImage)) {
        return;
    }
    RECT r = *rect;
    const int xDirection = r.left > r.right ? -1 : 1, yDirection = r.top > r.bottom ? -1 : 1;
    if (xDirection < 0) {
        r = {r.right, r.top, r.left, r.bottom};
    }
    if (yDirection < 0) {
        r = {r.left, r.bottom, r.right, r.top};
    }
    const int64_t w = (int64_t)r.right - r.left, h = (int64_t)r.bottom - r.top;
    if (w == 0 || h == 0 || w >= STRETCH_MAX_SIDE || h >= STRETCH_MAX_SIDE) {
        return;
    }
    if (w == source->width && h == source->height && xDirection > 0 && yDirection > 0) {
        MemImgDrawImage(destination, source, r.left, r.top, transparent, blendImage);
        return;
    }
    RECT area = BlitDrawArea(destination), clipped = r;
    ClipRect(&clipped, &area);
    StretchContext c;
    c.w = clipped.right - clipped.left;
    c.h = clipped.bottom - clipped.top;
    if (c.w == 0 || c.h == 0 || source->width <= 0 || source->height <= 0 ||
        SetUpStretchAxis(&c.x, (int)w, source->width, clipped.left - r.left, xDirection) != 0 ||
        SetUpStretchAxis(&c.y, (int)h, source->height, clipped.top - r.top, yDirection) != 0) {
        return;
    }
    const MemImgBlock *block = source->block;
    BlitChoice choice;
    if (ChooseBlitLoop(block, transparent, blendImage != NULL, false, &choice) != 0) {
        return;
    }
    InvalidateMemImgDerivedData(destination);

    AimStretchSource(&c, source, blendImage);
    const MemImgBlock *target = destination->block;
    c.dstPitch = target->pitch;
    c.dstRow = destination->pixels + (ptrdiff_t)clipped.top * target->pitch +
               (ptrdiff_t)clipped.left * target->format->bytesPerPixel;
    FillStretchColumns(c.x, c.w);
    TakeBlitLookups(&c.lookups, block, CopyBlitPalette(s_StretchPaletteScratch, block));
    PickBlitLoop<StretchKind>(choice)(c);
}
