// String drawing, memory path: one cached glyph written pixel by pixel into a software image (the software draw
// target or a work image of the software screen), by the font's type and the target's pixel layout. Cell pixels
// of value 0 leave the target as it is. Window thread only.
#include "font/font_internal.h"

// How a target holds a screen colour: bytes a pixel, the colour's width (8: the value's low byte, 16: R5G6B5,
// 32: X8R8G8B8) and the shift of its alpha byte (-1: no alpha channel).
struct PixelLayout {
    int bytes, colorBits, alphaShift;
};

static PixelLayout GetPixelLayout(const MEMIMG *image)
{
    const MemImgBlock *block = image->block;
    if (block->paletteFlag || block->kind == MEMIMG_KIND_CHANNEL8) {
        return {1, 8, -1};
    }
    if (block->kind == MEMIMG_KIND_RGB32) {
        return {4, 32, block->alphaFlag ? 24 : -1};
    }
    return block->alphaFlag ? PixelLayout{4, 16, 16} : PixelLayout{2, 16, -1};
}

// E + (T - E) x t / 256 in each channel of the screen colour (8, 8, 8 bits, or 5, 6, 5 on a 16-bit screen).
static unsigned int MixTextColors(unsigned int edge, unsigned int text, int t, int colorBits)
{
    static const int s_Shifts[2][3] = {{11, 5, 0}, {16, 8, 0}};
    static const int s_Widths[2][3] = {{5, 6, 5}, {8, 8, 8}};
    const int wide = colorBits == 32;
    unsigned int mixed = 0;
    for (int channel = 0; channel < 3; channel++) {
        const int shift = s_Shifts[wide][channel], mask = (1 << s_Widths[wide][channel]) - 1;
        const int e = (int)(edge >> shift) & mask, x = (int)(text >> shift) & mask;
        mixed |= (unsigned int)(e + (x - e) * t / 256) << shift;
    }
    return mixed;
}

// The colour and alpha one cell value writes; 0 when the pixel is left alone.
static int ShadeCellValue(int type, unsigned int value, const TextColors *colors, int colorBits, unsigned int *color,
                          int *alpha)
{
    const int glyph = (int)(value & 15), edge = (int)(value >> 4);
    *alpha = 255;
    switch (type) {
    case 0:
        *color = colors->text;
        return value != 0;
    case 1:
        *color = value == 2 ? colors->edge : colors->text;
        return value == 1 || value == 2;
    case 2:
        *color = colors->text;
        *alpha = glyph * 16;
        return glyph > 0;
    default:
        if (glyph == 0) {
            *color = colors->edge;
            *alpha = edge * 16;
            return edge > 0;
        }
        if (glyph == 15 || colorBits == 8) {
            *color = colors->text;
            return 1;
        }
        *alpha = (15 - glyph) * edge + glyph * 16;
        *color = MixTextColors(colors->edge, colors->text, (glyph << 12) / *alpha, colorBits);
        return 1;
    }
}

static void WritePixel(unsigned char *pixel, const PixelLayout *layout, unsigned int color, int alpha)
{
    switch (layout->bytes) {
    case 1:
        *pixel = (unsigned char)color;
        break;
    case 2:
        *(unsigned short *)pixel = (unsigned short)color;
        break;
    default: {
        unsigned int value = layout->colorBits == 32 ? color & 0xFFFFFFu : color & 0xFFFFu;
        if (layout->alphaShift >= 0) {
            value |= (unsigned int)alpha << layout->alphaShift;
        }
        *(unsigned int *)pixel = value;
    }
    }
}

static unsigned int ReadCellValue(const FontRecord *font, const unsigned char *row, int column)
{
    if (font->memoryBits == 1) {
        return row[column >> 3] >> (7 - (column & 7)) & 1u;
    }
    return row[column];
}

void WriteGlyphToMemImg(const FontRecord *font, const GlyphCacheEntry *entry, MEMIMG *target, const RECT *clip, int x,
                        int y, int vertical, const TextColors *colors)
{
    if (font->memoryCache == NULL) {
        return; // a texture-cache font keeps no cells in memory
    }
    RECT bounds = {0, 0, target->width, target->height};
    IntersectRect(&bounds, &bounds, clip);
    const PixelLayout layout = GetPixelLayout(target);
    const int pitch = target->block->pitch, type = font->typeFlags & 3;
    int cellX, cellY;
    GetGlyphCellOrigin(font, entry->cell, &cellX, &cellY);
    for (int j = 0; j < entry->boxHeight; j++) {
        const unsigned char *row = font->memoryCache + (long long)(cellY + j) * font->memoryPitch;
        for (int i = 0; i < entry->boxWidth; i++) {
            const int px = vertical ? x - j : x + i, py = vertical ? y + i : y + j;
            if (px < bounds.left || px >= bounds.right || py < bounds.top || py >= bounds.bottom) {
                continue;
            }
            unsigned int color;
            int alpha;
            if (ShadeCellValue(type, ReadCellValue(font, row, cellX + i), colors, layout.colorBits, &color, &alpha)) {
                WritePixel(target->pixels + (long long)py * pitch + (long long)px * layout.bytes, &layout, color,
                           alpha);
            }
        }
    }
    InvalidateMemImgDerivedData(target);
}
