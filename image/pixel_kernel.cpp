// The pixel kernel: copies a rectangle between two pixel buffers of any two packed formats (1 to 4 bytes a pixel),
// with an optional alpha image, colour keying, mirroring, dithering and palette handling. The rectangle is clipped
// to both buffers first, so no caller can make it read or write outside them. The cheap cases (palette remap,
// plain 8-bit copy, same-format rows, table-driven conversion loops chosen once per call, colour key to alpha) are
// shortcuts that give exactly what the general per-pixel conversion would. Pure function over caller buffers; any
// thread.
#include "image/image.h"
#include "image/pixel_access.h"
#include "image/pixel_kernel_loops.h"

#include <string.h>

static uint32_t ColorMasks(const PixelFormat *format)
{
    return format->redMask | format->greenMask | format->blueMask;
}

static uint32_t FieldMaximum(int width)
{
    return width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1u;
}

// A field of `from` bits brought to `to` bits: low bits dropped, or widened by bit replication.
static uint32_t ConvertFieldWidth(uint32_t value, int from, int to)
{
    if (from == to) {
        return value;
    }
    if (from == 0 || to == 0) {
        return 0;
    }
    if (to < from) {
        return value >> (from - to);
    }
    // value < 2^from and 2^added - 1 < 2^added, so the product stays below 2^to: 32 bits hold it.
    int added = to - from;
    return (value << added) + value * FieldMaximum(added) / FieldMaximum(from);
}

// ---------------------------------------------------------------------------------------------------------------
// Geometry: the source rectangle clipped to the source (and alpha image) and the destination.

struct KernelGeometry {
    int left, top, width, height; // source rectangle
    int destinationX, destinationY;
};

static int ClipGeometry(const PixelBuffer *destination, const PixelBuffer *source, const PixelBuffer *alphaImage,
                        int destinationX, int destinationY, const RECT *rect, int mirror, KernelGeometry *g)
{
    int64_t left = rect->left, top = rect->top, right = rect->right, bottom = rect->bottom;
    int64_t dx = destinationX, dy = destinationY;
    int64_t sourceWidth = source->width, sourceHeight = source->height;
    if (alphaImage != NULL) {
        if (alphaImage->width < sourceWidth) sourceWidth = alphaImage->width;
        if (alphaImage->height < sourceHeight) sourceHeight = alphaImage->height;
    }
    // Source column c goes to dx + (c - left), or with mirror to dx + (right - 1 - c); keep that mapping while
    // cutting the source to its picture.
    int64_t cutLeft = left < 0 ? -left : 0;
    int64_t cutRight = right > sourceWidth ? right - sourceWidth : 0;
    left += cutLeft;
    right -= cutRight;
    dx += mirror ? cutRight : cutLeft;
    if (top < 0) {
        dy -= top;
        top = 0;
    }
    if (bottom > sourceHeight) bottom = sourceHeight;
    // Then cut the destination span to the destination picture.
    int64_t span = right - left;
    int64_t destinationCutLeft = dx < 0 ? -dx : 0;
    int64_t destinationCutRight = dx + span > destination->width ? dx + span - destination->width : 0;
    if (destinationCutLeft > 0 || destinationCutRight > 0) {
        left += mirror ? destinationCutRight : destinationCutLeft;
        right -= mirror ? destinationCutLeft : destinationCutRight;
        dx += destinationCutLeft;
    }
    if (dy < 0) {
        top -= dy;
        dy = 0;
    }
    if (dy + (bottom - top) > destination->height) bottom = top + (destination->height - dy);
    if (right <= left || bottom <= top) {
        return -1;
    }
    g->left = (int)left;
    g->top = (int)top;
    g->width = (int)(right - left);
    g->height = (int)(bottom - top);
    g->destinationX = (int)dx;
    g->destinationY = (int)dy;
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Nearest palette entries.

static int NearestPaletteIndex(const PixelFormat *format, uint32_t red, uint32_t green, uint32_t blue)
{
    return (int)ColorToPixelValue(format, (int)red, (int)green, (int)blue, 0);
}

// The nearest-entry search of one call: the entries ordered by red, walked outward from the wanted red until the
// red difference alone exceeds the best distance, and the results remembered by colour, since a picture repeats
// its colours. Gives exactly NearestPaletteIndex's answer: the lowest index among the nearest entries.
#define NEAREST_CACHE_SIZE 4096

struct NearestIndexSearch {
    const PaletteEntry *palette;
    uint8_t byRed[256];                 // entry indices by red, then by index
    int firstWithRed[256];              // position in byRed of the first entry whose red is at least the value
    uint32_t cache[NEAREST_CACHE_SIZE]; // 0x80000000 | colour << 8 | index; 0 when empty
};

static void PrepareNearestSearch(NearestIndexSearch *s, const PixelFormat *format)
{
    int count[256];
    memset(count, 0, sizeof(count));
    s->palette = format->palette;
    for (int i = 0; i < 256; i++) {
        count[s->palette[i].red]++;
    }
    int position = 0;
    for (int red = 0; red < 256; red++) {
        s->firstWithRed[red] = position;
        position += count[red];
    }
    int next[256];
    memcpy(next, s->firstWithRed, sizeof(next));
    for (int i = 0; i < 256; i++) {
        s->byRed[next[s->palette[i].red]++] = (uint8_t)i;
    }
    memset(s->cache, 0, sizeof(s->cache));
}

// Weighs entry `position` of the red order; 0 once its red difference alone is beyond the best distance.
static int WeighEntry(const NearestIndexSearch *s, int position, int red, int green, int blue, int *best,
                      int *bestIndex)
{
    int index = s->byRed[position];
    const PaletteEntry *e = &s->palette[index];
    int dr = e->red - red, dg = e->green - green, db = e->blue - blue;
    if (dr * dr > *best) {
        return 0;
    }
    int distance = dr * dr + dg * dg + db * db;
    if (distance < *best || (distance == *best && index < *bestIndex)) {
        *best = distance;
        *bestIndex = index;
    }
    return 1;
}

static int SearchNearestIndex(const NearestIndexSearch *s, int red, int green, int blue)
{
    int best = 0x7FFFFFFF, bestIndex = 256;
    int up = s->firstWithRed[red], down = up - 1;
    while (up < 256 || down >= 0) {
        if (up < 256) {
            up = WeighEntry(s, up, red, green, blue, &best, &bestIndex) ? up + 1 : 256;
        }
        if (down >= 0) {
            down = WeighEntry(s, down, red, green, blue, &best, &bestIndex) ? down - 1 : -1;
        }
    }
    return bestIndex;
}

static int CachedNearestPaletteIndex(NearestIndexSearch *s, uint32_t red, uint32_t green, uint32_t blue)
{
    uint32_t color = red << 16 | green << 8 | blue;
    uint32_t *entry = &s->cache[(color * 2654435761u) >> 20];
    if ((*entry >> 8) == (0x800000u | color)) {
        return (int)(*entry & 0xFF);
    }
    int index = SearchNearestIndex(s, (int)red, (int)green, (int)blue);
    *entry = 0x80000000u | color << 8 | (uint32_t)index;
    return index;
}

// ---------------------------------------------------------------------------------------------------------------
// The general per-pixel conversion.

struct Channel {
    uint32_t mask;
    int shift, width;
};

struct KernelContext {
    const PixelBuffer *destination, *source, *alphaImage;
    const PixelFormat *destinationFormat, *sourceFormat;
    const PixelKernelOptions *options;
    KernelGeometry g;
    int destinationBytes, sourceBytes;
    int destinationHasAlpha, useAlphaImage, sourceHasAlpha, transparentToAlpha, transparentSkip;
    int destinationPalette, sourcePalette;
    Channel sourceChannel[4], destinationChannel[4]; // red, green, blue, alpha
    uint32_t keyColor[3];                           // the transparent colour in source field widths
    uint32_t carry[3];                              // error-carry dither state
    // Per call, when no dithering is asked and every source colour field fits a byte: each field value's
    // destination bits, so that the colour of a pixel is three look-ups.
    int colorTablesReady;
    uint32_t colorTables[3][256];
    NearestIndexSearch *nearest; // for a palette destination
};

static Channel MakeChannel(uint32_t mask, int shift, int width)
{
    Channel c = {mask, shift, width};
    return c;
}

static void ChannelsOf(const PixelFormat *f, Channel channels[4])
{
    channels[0] = MakeChannel(f->redMask, f->redShift, f->redWidth);
    channels[1] = MakeChannel(f->greenMask, f->greenShift, f->greenWidth);
    channels[2] = MakeChannel(f->blueMask, f->blueShift, f->blueWidth);
    channels[3] = MakeChannel(f->alphaMask, f->alphaShift, f->alphaWidth);
}

static uint32_t FieldOf(uint32_t value, const Channel &c)
{
    return (value & c.mask) >> c.shift;
}

// A field read from a mask of `width` consecutive bits is below 2^width; a mask with holes is not.
static int FieldFitsByte(const Channel &c)
{
    return c.width <= 8 && (c.mask >> c.shift) == FieldMaximum(c.width);
}

static const int ORDERED_DITHER[16] = {0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5};

// A colour field narrowed with dithering of the dropped bits (x, y: destination position).
static uint32_t NarrowWithDither(KernelContext *k, int channel, uint32_t value, int from, int to, int x, int y)
{
    uint32_t result = ConvertFieldWidth(value, from, to);
    int dropped = from - to;
    if (dropped <= 0 || to == 0) {
        return result;
    }
    uint32_t droppedBits = value & ((1u << dropped) - 1u);
    int raise = 0;
    if (k->options->ditherMode == PIXEL_DITHER_ORDERED) {
        uint32_t threshold = (uint32_t)ORDERED_DITHER[(x & 3) + 4 * (y & 3)] * (1u << dropped) / 16;
        raise = droppedBits > threshold;
    } else if (k->options->ditherMode == PIXEL_DITHER_ERROR_CARRY) {
        k->carry[channel] += droppedBits;
        if (k->carry[channel] >= (1u << dropped)) {
            k->carry[channel] -= 1u << dropped;
            raise = 1;
        }
    }
    if (raise && result < FieldMaximum(to)) {
        result++;
    }
    return result;
}

// The source pixel as fields: red, green, blue at the source widths (8 for a palette source) and alpha (or -1
// when the pixel has no alpha source).
static void ReadSourceFields(const KernelContext *k, int x, int y, uint32_t fields[4], int widths[4], int *hasAlpha)
{
    const unsigned char *row = (const unsigned char *)k->source->pixels + (ptrdiff_t)y * k->source->pitch;
    uint32_t value = ReadPixelValue(row + (ptrdiff_t)x * k->sourceBytes, k->sourceBytes);
    if (k->sourcePalette) {
        const PaletteEntry *e = &k->sourceFormat->palette[value & 0xFF];
        fields[0] = e->red;
        fields[1] = e->green;
        fields[2] = e->blue;
        widths[0] = widths[1] = widths[2] = 8;
    } else {
        for (int c = 0; c < 3; c++) {
            fields[c] = FieldOf(value, k->sourceChannel[c]);
            widths[c] = k->sourceChannel[c].width;
        }
    }
    *hasAlpha = 1;
    if (k->sourceHasAlpha) {
        fields[3] = FieldOf(value, k->sourceChannel[3]);
        widths[3] = k->sourceChannel[3].width;
    } else if (k->useAlphaImage) {
        // The alpha image's alpha field, or for an alpha image without one its grey (blue) level.
        const PixelFormat *af = k->alphaImage->format;
        const unsigned char *alphaRow =
            (const unsigned char *)k->alphaImage->pixels + (ptrdiff_t)y * k->alphaImage->pitch;
        uint32_t alphaValue = ReadPixelValue(alphaRow + (ptrdiff_t)x * af->bytesPerPixel, af->bytesPerPixel);
        if (af->alphaWidth != 0) {
            fields[3] = (alphaValue & af->alphaMask) >> af->alphaShift;
            widths[3] = af->alphaWidth;
        } else if (IsPaletteFormat(af)) {
            fields[3] = af->palette[alphaValue & 0xFF].blue;
            widths[3] = 8;
        } else {
            fields[3] = (alphaValue & af->blueMask) >> af->blueShift;
            widths[3] = af->blueWidth;
        }
    } else {
        *hasAlpha = 0;
        fields[3] = 0;
        widths[3] = 0;
    }
}

static uint32_t ConvertPixel(KernelContext *k, int sourceX, int sourceY, int x, int y)
{
    uint32_t fields[4];
    int widths[4];
    int hasAlpha;
    ReadSourceFields(k, sourceX, sourceY, fields, widths, &hasAlpha);
    int keyed = k->transparentToAlpha && fields[0] == k->keyColor[0] && fields[1] == k->keyColor[1] &&
                fields[2] == k->keyColor[2];
    const Channel *d = k->destinationChannel;
    uint32_t alpha = 0;
    if (k->options->redToAlpha) {
        alpha = ConvertFieldWidth(fields[0], widths[0], d[3].width);
    } else if (keyed) {
        alpha = 0;
    } else if (hasAlpha) {
        alpha = ConvertFieldWidth(fields[3], widths[3], d[3].width);
    } else {
        alpha = FieldMaximum(d[3].width);
    }
    if (k->options->clearColor) {
        fields[0] = fields[1] = fields[2] = 0;
    }
    if (k->destinationPalette) {
        uint32_t red = ConvertFieldWidth(fields[0], widths[0], 8);
        uint32_t green = ConvertFieldWidth(fields[1], widths[1], 8);
        uint32_t blue = ConvertFieldWidth(fields[2], widths[2], 8);
        return (uint32_t)CachedNearestPaletteIndex(k->nearest, red, green, blue);
    }
    uint32_t value = 0;
    if (k->colorTablesReady) {
        value = k->colorTables[0][fields[0]] | k->colorTables[1][fields[1]] | k->colorTables[2][fields[2]];
    } else {
        for (int c = 0; c < 3; c++) {
            uint32_t field = NarrowWithDither(k, c, fields[c], widths[c], d[c].width, x, y);
            value |= (field << d[c].shift) & d[c].mask;
        }
    }
    if (d[3].width != 0) {
        value |= (alpha << d[3].shift) & d[3].mask;
    }
    return value;
}

static uint32_t RawTransparentValue(const KernelContext *k)
{
    uint32_t t = k->options->transparentColor;
    switch (k->sourceBytes) {
    case 1: return t & 0xFF;
    case 2: return t & 0xFFFF;
    case 3: return t & 0xFFFFFF;
    default: return t;
    }
}

// Destination column of the i-th source column of the rectangle; mirrored rows are written from the right end.
static int DestinationColumn(const KernelContext *k, int i)
{
    return k->options->mirror ? k->g.destinationX + k->g.width - 1 - i : k->g.destinationX + i;
}

static unsigned char *DestinationAddress(const KernelContext *k, int i, int j)
{
    return (unsigned char *)k->destination->pixels + (ptrdiff_t)(k->g.destinationY + j) * k->destination->pitch +
           (ptrdiff_t)DestinationColumn(k, i) * k->destinationBytes;
}

static const unsigned char *SourceAddress(const KernelContext *k, int i, int j)
{
    return (const unsigned char *)k->source->pixels + (ptrdiff_t)(k->g.top + j) * k->source->pitch +
           (ptrdiff_t)(k->g.left + i) * k->sourceBytes;
}

// Returns the highest value written, which for a palette destination is the highest index.
static int ConvertAll(KernelContext *k)
{
    uint32_t skipValue = RawTransparentValue(k);
    uint32_t highest = 0;
    for (int j = 0; j < k->g.height; j++) {
        for (int i = 0; i < k->g.width; i++) {
            if (k->transparentSkip && ReadPixelValue(SourceAddress(k, i, j), k->sourceBytes) == skipValue) {
                continue;
            }
            uint32_t value =
                ConvertPixel(k, k->g.left + i, k->g.top + j, DestinationColumn(k, i), k->g.destinationY + j);
            WritePixelValue(DestinationAddress(k, i, j), k->destinationBytes, value);
            if (value > highest)
                highest = value;
        }
    }
    return (int)highest;
}

// A palette destination: each pixel's colour widened to 8 bits a channel by table, then its nearest entry.
// Returns the highest index written, or -1 when a source field is too wide for the tables.
static int ConvertToPalette(KernelContext *k)
{
    uint8_t wide[3][256];
    for (int c = 0; c < 3 && !k->sourcePalette; c++) {
        if (!FieldFitsByte(k->sourceChannel[c])) {
            return -1;
        }
        for (uint32_t v = 0; v <= FieldMaximum(k->sourceChannel[c].width); v++) {
            wide[c][v] = (uint8_t)ConvertFieldWidth(v, k->sourceChannel[c].width, 8);
        }
    }
    uint32_t skipValue = RawTransparentValue(k);
    int highest = 0;
    for (int j = 0; j < k->g.height; j++) {
        for (int i = 0; i < k->g.width; i++) {
            uint32_t value = ReadPixelValue(SourceAddress(k, i, j), k->sourceBytes);
            if (k->transparentSkip && value == skipValue) {
                continue;
            }
            int index;
            if (k->sourcePalette) {
                const PaletteEntry *e = &k->sourceFormat->palette[value];
                index = CachedNearestPaletteIndex(k->nearest, e->red, e->green, e->blue);
            } else {
                index = CachedNearestPaletteIndex(k->nearest, wide[0][FieldOf(value, k->sourceChannel[0])],
                                                  wide[1][FieldOf(value, k->sourceChannel[1])],
                                                  wide[2][FieldOf(value, k->sourceChannel[2])]);
            }
            *DestinationAddress(k, i, j) = (unsigned char)index;
            if (index > highest)
                highest = index;
        }
    }
    return highest;
}

// ---------------------------------------------------------------------------------------------------------------
// Shortcuts.

static int PalettesDiffer(const PixelFormat *a, const PixelFormat *b)
{
    return memcmp(a->palette, b->palette, sizeof(a->palette)) != 0;
}

// Returns the highest index written.
static int RemapPalette(const KernelContext *k)
{
    unsigned char remap[256];
    for (int i = 0; i < 256; i++) {
        const PaletteEntry *e = &k->sourceFormat->palette[i];
        remap[i] = (unsigned char)NearestPaletteIndex(k->destinationFormat, e->red, e->green, e->blue);
    }
    int highest = 0;
    for (int j = 0; j < k->g.height; j++) {
        for (int i = 0; i < k->g.width; i++) {
            unsigned char index = remap[*SourceAddress(k, i, j)];
            *DestinationAddress(k, i, j) = index;
            if (index > highest)
                highest = index;
        }
    }
    return highest;
}

// Same-format copy: whole rows, or pixel by pixel when keying or mirroring. Returns the highest 1-byte value
// written (for palette pixels the highest index), 0 for wider pixels.
static int CopyPixels(const KernelContext *k)
{
    int highest = 0;
    uint32_t skipValue = RawTransparentValue(k);
    for (int j = 0; j < k->g.height; j++) {
        const unsigned char *row = SourceAddress(k, 0, j);
        if (!k->options->mirror && !k->transparentSkip) {
            // Both views may lie in one block (a copy within a software image), so the row spans may overlap:
            // the highest value is taken before the move.
            for (int i = 0; k->sourceBytes == 1 && i < k->g.width; i++) {
                if (row[i] > highest)
                    highest = row[i];
            }
            memmove(DestinationAddress(k, 0, j), row, (size_t)k->g.width * k->sourceBytes);
            continue;
        }
        for (int i = 0; i < k->g.width; i++) {
            uint32_t value = ReadPixelValue(SourceAddress(k, i, j), k->sourceBytes);
            if (!(k->transparentSkip && value == skipValue)) {
                WritePixelValue(DestinationAddress(k, i, j), k->destinationBytes, value);
                if (k->sourceBytes == 1 && (int)value > highest)
                    highest = (int)value;
            }
        }
    }
    return highest;
}

// Colour key to alpha between formats with the same colour layout: keyed pixels get alpha 0, the rest full alpha.
// Only for sources without alpha: a keyed picture with alpha keeps its own alpha outside the key, in a 32-bit
// destination as in every other, so that its soft edges survive whatever the destination's layout.
static void KeyToAlpha(const KernelContext *k)
{
    const PixelFormat *d = k->destinationFormat;
    uint32_t colorMask = ColorMasks(d);
    uint32_t t = ColorToPixelValue(d, (int)(k->options->transparentColor >> 16) & 0xFF,
                                   (int)(k->options->transparentColor >> 8) & 0xFF,
                                   (int)k->options->transparentColor & 0xFF, 255);
    for (int j = 0; j < k->g.height; j++) {
        for (int i = 0; i < k->g.width; i++) {
            uint32_t color = ReadPixelValue(SourceAddress(k, i, j), k->sourceBytes) & colorMask;
            uint32_t value = color == (t & colorMask) ? color : color | d->alphaMask;
            WritePixelValue(DestinationAddress(k, i, j), k->destinationBytes, value);
        }
    }
}

static int SameColorLayout(const PixelFormat *a, const PixelFormat *b)
{
    return a->bitsPerPixel == b->bitsPerPixel && a->redMask == b->redMask && a->greenMask == b->greenMask &&
           a->blueMask == b->blueMask;
}

static int SameLayout(const PixelFormat *a, const PixelFormat *b)
{
    return SameColorLayout(a, b) && a->alphaMask == b->alphaMask;
}

static int SupportedFormat(const PixelFormat *format)
{
    return format->formatCode == PIXEL_FORMAT_PACKED && format->bytesPerPixel >= 1 && format->bytesPerPixel <= 4;
}

static void PrepareColorTables(KernelContext *k)
{
    if (k->destinationPalette || k->options->clearColor || k->options->ditherMode != PIXEL_DITHER_NONE) {
        return;
    }
    for (int c = 0; c < 3; c++) {
        if (!k->sourcePalette && !FieldFitsByte(k->sourceChannel[c])) {
            return;
        }
    }
    for (int c = 0; c < 3; c++) {
        int width = k->sourcePalette ? 8 : k->sourceChannel[c].width;
        const Channel &d = k->destinationChannel[c];
        for (uint32_t v = 0; v <= FieldMaximum(width); v++) {
            k->colorTables[c][v] = (ConvertFieldWidth(v, width, d.width) << d.shift) & d.mask;
        }
    }
    k->colorTablesReady = 1;
}

static void PrepareContext(KernelContext *k)
{
    const PixelFormat *d = k->destinationFormat;
    const PixelFormat *s = k->sourceFormat;
    const PixelKernelOptions *o = k->options;
    k->destinationBytes = d->bytesPerPixel;
    k->sourceBytes = s->bytesPerPixel;
    k->destinationPalette = IsPaletteFormat(d);
    k->sourcePalette = IsPaletteFormat(s);
    k->destinationHasAlpha = d->alphaWidth != 0;
    k->sourceHasAlpha = s->alphaWidth != 0 && !k->sourcePalette;
    k->useAlphaImage = k->alphaImage != NULL;
    k->transparentToAlpha = o->transparentToAlpha && k->destinationHasAlpha && !o->redToAlpha;
    k->transparentSkip = o->transparentSkip && !o->mirror;
    ChannelsOf(s, k->sourceChannel);
    ChannelsOf(d, k->destinationChannel);
    uint32_t key[3] = {(o->transparentColor >> 16) & 0xFF, (o->transparentColor >> 8) & 0xFF,
                       o->transparentColor & 0xFF};
    for (int c = 0; c < 3; c++) {
        // The key in the source's own field widths, as ColorToPixelValue would store it there.
        int width = k->sourcePalette ? 8 : k->sourceChannel[c].width;
        k->keyColor[c] = width <= 8 ? key[c] >> (8 - width) : key[c] << (width - 8);
        k->carry[c] = 0;
    }
    PrepareColorTables(k);
}

// ---------------------------------------------------------------------------------------------------------------
// Conversion loops chosen once per call (pixel_kernel_loops.cpp): the per-pixel conversion as table look-ups, for
// every call in which a pixel's result depends on its own value alone.

static int DisjointMasks(const Channel channels[], int count)
{
    uint32_t seen = 0;
    for (int c = 0; c < count; c++) {
        if ((seen & channels[c].mask) != 0) {
            return 0;
        }
        seen |= channels[c].mask;
    }
    return 1;
}

static int ConversionLoopServes(const KernelContext *k)
{
    const PixelKernelOptions *o = k->options;
    if (!k->colorTablesReady || k->useAlphaImage || o->redToAlpha || k->destinationPalette) {
        return 0;
    }
    if (!k->sourcePalette && !FieldFitsByte(k->sourceChannel[3])) {
        return 0;
    }
    // A keyed pixel compares its colour bits as one value and loses exactly the destination's alpha bits.
    if (k->transparentToAlpha && (!DisjointMasks(k->sourceChannel, 3) ||
                                  (ColorMasks(k->destinationFormat) & k->destinationFormat->alphaMask) != 0)) {
        return 0;
    }
    return 1;
}

// The destination bits of field value v of source channel c (red, green, blue, alpha).
static uint32_t ChannelBits(const KernelContext *k, int c, uint32_t v)
{
    if (c < 3) {
        return k->colorTables[c][v];
    }
    const Channel &d = k->destinationChannel[3];
    if (!k->sourceHasAlpha || d.width == 0) {
        return 0;
    }
    return (ConvertFieldWidth(v, k->sourceChannel[3].width, d.width) << d.shift) & d.mask;
}

// The destination's alpha bits all set, for a source without alpha.
static uint32_t FullAlphaBits(const KernelContext *k)
{
    const Channel &d = k->destinationChannel[3];
    return d.width == 0 ? 0 : (FieldMaximum(d.width) << d.shift) & d.mask;
}

// A palette source: the whole conversion, key included, is one look-up by index.
static void FillPaletteTables(const KernelContext *k, ConversionTables *t)
{
    for (int i = 0; i < 256; i++) {
        const PaletteEntry *e = &k->sourceFormat->palette[i];
        int keyed = k->transparentToAlpha && e->red == k->keyColor[0] && e->green == k->keyColor[1] &&
                    e->blue == k->keyColor[2];
        t->table[0][i] = k->colorTables[0][e->red] | k->colorTables[1][e->green] | k->colorTables[2][e->blue] |
                         (keyed ? 0 : FullAlphaBits(k));
    }
    t->lookUp = LOOK_UP_BY_BYTE;
}

// When every channel keeps its bits in place or is dropped, a pixel converts to its kept bits and the fixed bits:
// R8G8B8 or X8R8G8B8 to A8R8G8B8, A8R8G8B8 to X8R8G8B8 or R8G8B8, X1R5G5B5 to A1R5G5B5.
static int KeptInPlace(const KernelContext *k, uint32_t *kept)
{
    *kept = 0;
    for (int c = 0; c < 4; c++) {
        uint32_t from = k->sourceChannel[c].mask, to = k->destinationChannel[c].mask;
        if (from != 0 && to != 0 && from != to) {
            return 0;
        }
        *kept |= from == to ? from : 0;
    }
    return 1;
}

// When every channel that reaches the destination is narrowed to its top bits or kept (contiguous fields on both
// sides), a pixel converts by shifting each field into place: X8R8G8B8 or A8R8G8B8 to R5G6B5 or A1R5G5B5,
// A8B8G8R8 to A8R8G8B8. Taken only where the vector loop serves (4-byte sources, 2- or 4-byte destinations, rows
// in order, no skipped value): one pixel at a time the table look-ups are faster.
static int FieldsMoveInPlace(const KernelContext *k, ConversionTables *t)
{
    for (int c = 0; c < 4; c++) {
        const Channel &s = k->sourceChannel[c], &d = k->destinationChannel[c];
        t->movedMask[c] = 0;
        t->movedRight[c] = t->movedLeft[c] = 0;
        if (s.mask == 0 || d.width == 0 || (c == 3 && !k->sourceHasAlpha)) {
            continue;
        }
        if (s.width < d.width || !FieldFitsByte(s) || (d.mask >> d.shift) != FieldMaximum(d.width)) {
            return 0;
        }
        int moved = s.shift + (s.width - d.width) - d.shift;
        t->movedMask[c] = d.mask;
        t->movedRight[c] = moved > 0 ? moved : 0;
        t->movedLeft[c] = moved < 0 ? -moved : 0;
    }
    return 1;
}

// The look-up tables of a packed source: by source byte when every channel lies within one byte (the 24- and
// 32-bit layouts), else by field. Bits every pixel gets ride on the first look-up.
static void FillLookUpTables(const KernelContext *k, ConversionTables *t)
{
    const Channel *s = k->sourceChannel;
    int byByte = 1;
    for (int c = 0; c < 4; c++) {
        byByte &= s[c].mask == 0 || (s[c].mask >> (s[c].shift & ~7)) <= 0xFF;
        t->fieldMask[c] = s[c].mask;
        t->fieldShift[c] = s[c].shift;
    }
    for (int b = 0; b < 4 && byByte; b++) {
        for (uint32_t x = 0; x < 256; x++) {
            for (int c = 0; c < 4; c++) {
                if (s[c].mask != 0 && s[c].shift / 8 == b) {
                    t->table[b][x] |= ChannelBits(k, c, FieldOf(x << (8 * b), s[c]));
                }
            }
        }
    }
    for (int c = 0; c < 4 && !byByte; c++) {
        for (uint32_t v = 0; v <= FieldMaximum(s[c].width); v++) {
            t->table[c][v] = ChannelBits(k, c, v);
        }
    }
    int alphaField = k->sourceHasAlpha && k->destinationChannel[3].width != 0;
    t->lookUp = byByte ? LOOK_UP_BY_BYTE : alphaField ? LOOK_UP_FOUR_FIELDS : LOOK_UP_THREE_FIELDS;
    for (int v = 0; v < 256; v++) {
        t->table[0][v] |= t->fixedBits;
    }
}

// A packed source: kept bits or moved fields where the layouts allow, else table look-ups; the tables are only
// filled when they are used.
static void FillPackedTables(const KernelContext *k, ConversionTables *t)
{
    t->fixedBits = k->sourceHasAlpha ? 0 : FullAlphaBits(k);
    if (KeptInPlace(k, &t->keptBits)) {
        t->lookUp = LOOK_UP_KEPT_BITS;
    } else if (k->sourceBytes == 4 && (k->destinationBytes == 2 || k->destinationBytes == 4) && !k->options->mirror &&
               !k->transparentSkip && FieldsMoveInPlace(k, t)) {
        t->lookUp = LOOK_UP_MOVED_FIELDS;
    } else {
        FillLookUpTables(k, t);
    }
    if (k->transparentToAlpha) {
        const Channel *s = k->sourceChannel;
        for (int c = 0; c < 3; c++) {
            t->keyMask |= s[c].mask;
            t->keyValue |= (k->keyColor[c] << s[c].shift) & s[c].mask;
        }
        t->keyClear = ~k->destinationFormat->alphaMask;
    }
}

static int RunConversionLoop(const KernelContext *k)
{
    if (!ConversionLoopServes(k)) {
        return 0;
    }
    int keyed = k->transparentToAlpha && !k->sourcePalette;
    ConversionTables t;
    memset(&t, 0, sizeof(t));
    if (k->sourcePalette) {
        FillPaletteTables(k, &t);
    } else {
        FillPackedTables(k, &t);
    }
    t.skipValue = RawTransparentValue(k);
    // A large 2-byte picture pays for converting every possible value once.
    uint32_t *whole = NULL;
    if (k->sourceBytes == 2 && (t.lookUp == LOOK_UP_THREE_FIELDS || t.lookUp == LOOK_UP_FOUR_FIELDS) &&
        (int64_t)k->g.width * k->g.height >= WHOLE_PIXEL_TABLE_SIZE &&
        (whole = (uint32_t *)ENGINE_ALLOC(WHOLE_PIXEL_TABLE_SIZE * sizeof(uint32_t))) != NULL) {
        FillWholePixelTable(&t, keyed, whole);
        t.wholePixel = whole;
        t.lookUp = LOOK_UP_WHOLE_PIXEL;
        keyed = 0;
    }
    ConversionLoop loop =
        ChooseConversionLoop(k->sourceBytes, k->destinationBytes, t.lookUp, keyed, k->transparentSkip);
    ConversionRows rows = {DestinationAddress(k, 0, 0),
                           SourceAddress(k, 0, 0),
                           k->destination->pitch,
                           k->source->pitch,
                           k->options->mirror ? -k->destinationBytes : k->destinationBytes,
                           k->g.width,
                           k->g.height};
    loop(&t, &rows);
    if (whole != NULL) {
        FreeMemory(whole);
    }
    return 1;
}

// Runs the first of the cases that serves the call; returns the highest value written by the cases that track it.
static int RunFirstCase(KernelContext *k)
{
    const PixelKernelOptions *o = k->options;
    int plainFlags = !k->useAlphaImage && !k->transparentToAlpha && !o->clearColor && !o->redToAlpha;
    int indexCopy = k->sourcePalette && k->destinationPalette && !o->mirror && !k->transparentSkip;
    if (o->paletteRemap && k->sourcePalette && k->destinationPalette && !o->mirror &&
        PalettesDiffer(k->sourceFormat, k->destinationFormat)) {
        return RemapPalette(k);
    }
    if ((indexCopy || SameLayout(k->sourceFormat, k->destinationFormat)) && plainFlags) {
        return CopyPixels(k);
    }
    if (RunConversionLoop(k)) {
        return 0;
    }
    if (k->transparentToAlpha && !k->sourceHasAlpha && !k->useAlphaImage && !o->clearColor && !k->transparentSkip &&
        !k->sourcePalette && SameColorLayout(k->sourceFormat, k->destinationFormat)) {
        KeyToAlpha(k);
        return 0;
    }
    int highest = k->destinationPalette && !o->clearColor ? ConvertToPalette(k) : -1;
    return highest >= 0 ? highest : ConvertAll(k);
}

int PixelKernel(const PixelBuffer *destination, const PixelBuffer *source, const PixelBuffer *alphaImage,
                int destinationX, int destinationY, const RECT *sourceRect, const PixelKernelOptions *options)
{
    if (sourceRect->right <= sourceRect->left || sourceRect->bottom <= sourceRect->top) {
        return -1;
    }
    if (!SupportedFormat(destination->format) || !SupportedFormat(source->format) ||
        (alphaImage != NULL && !SupportedFormat(alphaImage->format))) {
        return AddLog("転送できないピクセルフォーマットです\n");
    }
    KernelContext k;
    memset(&k, 0, sizeof(k));
    k.destination = destination;
    k.source = source;
    // An alpha image is read only when it is the alpha source: the destination has alpha and the source has none.
    // Otherwise it neither changes the pixels nor limits the rectangle.
    int sourceOwnAlpha = source->format->alphaWidth != 0 && !IsPaletteFormat(source->format);
    if (destination->format->alphaWidth != 0 && !sourceOwnAlpha) {
        k.alphaImage = alphaImage;
    }
    k.destinationFormat = destination->format;
    k.sourceFormat = source->format;
    k.options = options;
    if (ClipGeometry(destination, source, k.alphaImage, destinationX, destinationY, sourceRect, options->mirror,
                     &k.g) != 0) {
        return -1;
    }
    PrepareContext(&k);
    NearestIndexSearch nearest;
    if (k.destinationPalette) {
        PrepareNearestSearch(&nearest, k.destinationFormat);
        k.nearest = &nearest;
    }
    int highest = RunFirstCase(&k);
    // A transfer into a palette reports the highest index it wrote: the palette entries in use.
    return k.destinationPalette ? highest : 0;
}
