// Pixel formats: the preset formats, formats built from channel masks, and the colour <-> pixel value rules.
// Pure functions over caller-owned records; safe on any thread.
#include "image/image.h"
#include "image/pixel_access.h"

#include <string.h>

static const uint32_t ALL_ONES = 0xFFFFFFFFu;

// All bits of a pixel value of `bits` bits; pixels wider than 32 bits keep their value in 32, so all ones.
static uint32_t PixelValueMaskForBits(int bits)
{
    if (bits <= 0) {
        return 0;
    }
    return bits >= 32 ? ALL_ONES : (1u << bits) - 1u;
}

// Shift = trailing zero bits; width = consecutive ones from there (holes above are not counted).
static void ShiftAndWidthFromMask(uint32_t mask, uint8_t *shift, uint8_t *width)
{
    *shift = 0;
    *width = 0;
    if (mask == 0) {
        return;
    }
    int position = 0;
    while (((mask >> position) & 1u) == 0) {
        position++;
    }
    int count = 0;
    while (position + count < 32 && ((mask >> (position + count)) & 1u) != 0) {
        count++;
    }
    *shift = (uint8_t)position;
    *width = (uint8_t)count;
}

static void SetEightBitChannels(PixelFormat *format, int bits, int alpha)
{
    format->bitsPerPixel = (uint16_t)bits;
    format->bytesPerPixel = (uint16_t)(bits / 8);
    format->redWidth = format->greenWidth = format->blueWidth = 8;
    format->alphaWidth = alpha ? 8 : 0;
    format->redShift = 16;
    format->greenShift = 8;
    format->blueShift = 0;
    format->alphaShift = alpha ? 24 : 0;
    format->redMask = 0xFF0000;
    format->greenMask = 0xFF00;
    format->blueMask = 0xFF;
    format->alphaMask = alpha ? 0xFF000000u : 0;
    format->formatCode = PIXEL_FORMAT_PACKED;
}

int SetPalette8PixelFormat(PixelFormat *format)
{
    SetEightBitChannels(format, 8, 0);
    format->unusedMask = 0xFF000000u;
    return 0;
}

int SetXRGB8PixelFormat(PixelFormat *format)
{
    SetEightBitChannels(format, 32, 0);
    format->unusedMask = 0xFF000000u;
    format->unusedShift = 24;
    format->unusedWidth = 8;
    return 0;
}

int SetARGB8PixelFormat(PixelFormat *format)
{
    SetEightBitChannels(format, 32, 1);
    format->unusedMask = 0;
    return 0;
}

int SetRGB24PixelFormat(PixelFormat *format)
{
    SetEightBitChannels(format, 24, 0);
    format->unusedMask = 0;
    return 0;
}

int SetGrayPalette8PixelFormat(PixelFormat *format)
{
    SetPalette8PixelFormat(format);
    for (int i = 0; i < 256; i++) {
        format->palette[i].blue = format->palette[i].green = format->palette[i].red = (uint8_t)i;
        format->palette[i].reserved = 0;
    }
    return 0;
}

static uint32_t ChannelMasks(const PixelFormat *format)
{
    return format->redMask | format->greenMask | format->blueMask | format->alphaMask;
}

int CreatePixelFormatFromMasks(PixelFormat *format, int bits, uint32_t redMask, uint32_t greenMask, uint32_t blueMask,
                               uint32_t alphaMask)
{
    format->bitsPerPixel = (uint16_t)bits;
    format->bytesPerPixel = (uint16_t)(bits / 8);
    format->redMask = redMask;
    format->greenMask = greenMask;
    format->blueMask = blueMask;
    format->alphaMask = alphaMask;
    format->formatCode = PIXEL_FORMAT_PACKED;
    ShiftAndWidthFromMask(redMask, &format->redShift, &format->redWidth);
    ShiftAndWidthFromMask(greenMask, &format->greenShift, &format->greenWidth);
    ShiftAndWidthFromMask(blueMask, &format->blueShift, &format->blueWidth);
    ShiftAndWidthFromMask(alphaMask, &format->alphaShift, &format->alphaWidth);
    format->unusedMask = PixelValueMaskForBits(bits) & ~ChannelMasks(format);
    ShiftAndWidthFromMask(format->unusedMask, &format->unusedShift, &format->unusedWidth);
    return 0;
}

int ComputeUnusedBitsMask(PixelFormat *format)
{
    int channelBits = format->redWidth + format->greenWidth + format->blueWidth + format->alphaWidth;
    if (channelBits == format->bitsPerPixel) {
        format->unusedMask = 0;
    } else {
        format->unusedMask = PixelValueMaskForBits(format->bitsPerPixel) & ~ChannelMasks(format);
    }
    return 0;
}

// An 8-bit component brought to `width` bits: the top bits kept (truncation), or moved up for wider channels.
static uint32_t ReduceComponent(int value, int width)
{
    uint32_t v = (uint32_t)value & 0xFF;
    return width <= 8 ? v >> (8 - width) : v << (width - 8);
}

static uint32_t NearestPaletteIndex(const PixelFormat *format, int red, int green, int blue)
{
    uint32_t best = 0;
    int bestDistance = 0xFFFFFF;
    for (int i = 0; i < 256; i++) {
        int dr = format->palette[i].red - (red & 0xFF);
        int dg = format->palette[i].green - (green & 0xFF);
        int db = format->palette[i].blue - (blue & 0xFF);
        int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = (uint32_t)i;
        }
    }
    return best;
}

uint32_t ColorToPixelValue(const PixelFormat *format, int red, int green, int blue, int alpha)
{
    if (IsPaletteFormat(format)) {
        return NearestPaletteIndex(format, red, green, blue);
    }
    uint32_t value = (ReduceComponent(red, format->redWidth) << format->redShift) +
                     (ReduceComponent(green, format->greenWidth) << format->greenShift) +
                     (ReduceComponent(blue, format->blueWidth) << format->blueShift) + format->unusedMask;
    if (format->alphaWidth != 0) {
        value += ReduceComponent(alpha, format->alphaWidth) << format->alphaShift;
    }
    return value;
}

// A channel field expanded to 0..255: field x 255 / (2^width - 1); a width of 0 gives 0.
static int ScaleField(uint32_t value, uint32_t mask, int shift, int width)
{
    if (width == 0) {
        return 0;
    }
    uint64_t maximum = (1ull << width) - 1;
    return (int)((uint64_t)((value & mask) >> shift) * 255 / maximum);
}

int SplitPixelComponents(const PixelFormat *format, uint32_t value, int *red, int *green, int *blue, int *alpha)
{
    if (format->redWidth == 8 && format->greenWidth == 8 && format->blueWidth == 8) {
        if (red) *red = (int)((value & format->redMask) >> format->redShift);
        if (green) *green = (int)((value & format->greenMask) >> format->greenShift);
        if (blue) *blue = (int)((value & format->blueMask) >> format->blueShift);
        if (alpha && format->alphaWidth != 0) {
            *alpha = ScaleField(value, format->alphaMask, format->alphaShift, format->alphaWidth);
        }
        return 0;
    }
    if (red) *red = ScaleField(value, format->redMask, format->redShift, format->redWidth);
    if (green) *green = ScaleField(value, format->greenMask, format->greenShift, format->greenWidth);
    if (blue) *blue = ScaleField(value, format->blueMask, format->blueShift, format->blueWidth);
    if (alpha) *alpha = ScaleField(value, format->alphaMask, format->alphaShift, format->alphaWidth);
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Mip-level sizes.

static int IsBlockFormat(const PixelFormat *format)
{
    return format->formatCode >= PIXEL_FORMAT_DXT1 && format->formatCode <= PIXEL_FORMAT_DXT5;
}

int64_t GetMipLevelDataSize(const PixelFormat *format, int width, int height, int pitch, int level)
{
    if (width <= 0 || height <= 0 || level < 0) {
        return 0;
    }
    int64_t levelWidth = level >= 31 ? 1 : width >> level;
    int64_t levelHeight = level >= 31 ? 1 : height >> level;
    if (levelWidth < 1) levelWidth = 1;
    if (levelHeight < 1) levelHeight = 1;
    if (IsBlockFormat(format)) {
        int64_t blockSize = format->formatCode == PIXEL_FORMAT_DXT1 ? 8 : 16;
        int64_t blocksAcross = levelWidth / 4 > 0 ? levelWidth / 4 : 1;
        int64_t blocksDown = levelHeight / 4 > 0 ? levelHeight / 4 : 1;
        return blocksAcross * blocksDown * blockSize;
    }
    int64_t rowBytes = level == 0 && pitch > 0 ? pitch : levelWidth * (format->bitsPerPixel / 8);
    return rowBytes * levelHeight;
}

int64_t GetMipChainDataSize(const PixelFormat *format, int width, int height, int pitch, int mipCount)
{
    int levels = mipCount > 1 ? mipCount : 1;
    // From level 31 on every level is 1 x 1, so a huge count from a damaged file costs no long loop.
    int walked = levels < 32 ? levels : 32;
    int64_t total = 0;
    for (int level = 0; level < walked; level++) {
        total += GetMipLevelDataSize(format, width, height, pitch, level);
    }
    total += (int64_t)(levels - walked) * GetMipLevelDataSize(format, width, height, pitch, 31);
    return total;
}
