// DXT1-5 block decoding: turns a block-compressed base image into A8R8G8B8 in place. Only whole 4x4 blocks of the
// first level are decoded; every other output pixel is zero, and the result holds exactly one level.
// Pure function over a caller-owned image; no locking.
#include "image/image.h"

#include <string.h>

struct Texel {
    int blue, green, red, alpha;
};

static Texel ExpandR5G6B5(uint32_t c)
{
    Texel t;
    t.red = (int)((c >> 11) * 255 / 31);
    t.green = (int)(((c >> 5) & 63) * 255 / 63);
    t.blue = (int)((c & 31) * 255 / 31);
    t.alpha = 255;
    return t;
}

static Texel MixTexels(const Texel &a, int weightA, const Texel &b, int weightB)
{
    int total = weightA + weightB;
    Texel t;
    t.red = (a.red * weightA + b.red * weightB) / total;
    t.green = (a.green * weightA + b.green * weightB) / total;
    t.blue = (a.blue * weightA + b.blue * weightB) / total;
    t.alpha = 255;
    return t;
}

static uint32_t ReadU16(const unsigned char *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8;
}

static uint32_t ReadU32(const unsigned char *p)
{
    return ReadU16(p) | ReadU16(p + 2) << 16;
}

// The four-entry colour table; DXT1 switches to three colours plus a transparent average when c0 <= c1.
static void BuildColorTable(const unsigned char *part, int allowTransparent, Texel table[4])
{
    uint32_t c0 = ReadU16(part);
    uint32_t c1 = ReadU16(part + 2);
    table[0] = ExpandR5G6B5(c0);
    table[1] = ExpandR5G6B5(c1);
    if (c0 > c1 || !allowTransparent) {
        table[2] = MixTexels(table[0], 2, table[1], 1);
        table[3] = MixTexels(table[0], 1, table[1], 2);
    } else {
        table[2] = MixTexels(table[0], 1, table[1], 1);
        table[3] = table[2];
        table[3].alpha = 0;
    }
}

static void DecodeColorPart(const unsigned char *part, int allowTransparent, Texel texels[16])
{
    Texel table[4];
    BuildColorTable(part, allowTransparent, table);
    uint32_t indices = ReadU32(part + 4);
    for (int i = 0; i < 16; i++) {
        texels[i] = table[(indices >> (2 * i)) & 3];
    }
}

static void ApplyExplicitAlpha(const unsigned char *part, Texel texels[16])
{
    for (int i = 0; i < 16; i++) {
        int nibble = (part[i / 2] >> (4 * (i & 1))) & 15;
        texels[i].alpha = nibble * 255 / 15;
    }
}

static void ApplyInterpolatedAlpha(const unsigned char *part, Texel texels[16])
{
    int a0 = part[0];
    int a1 = part[1];
    int table[8] = {a0, a1, 0, 0, 0, 0, 0, 255};
    if (a0 > a1) {
        for (int i = 1; i <= 6; i++) {
            table[i + 1] = ((7 - i) * a0 + i * a1) / 7;
        }
    } else {
        for (int i = 1; i <= 4; i++) {
            table[i + 1] = ((5 - i) * a0 + i * a1) / 5;
        }
    }
    for (int group = 0; group < 2; group++) {
        const unsigned char *bits = part + 2 + 3 * group;
        uint32_t indices = (uint32_t)bits[0] | (uint32_t)bits[1] << 8 | (uint32_t)bits[2] << 16;
        for (int i = 0; i < 8; i++) {
            texels[group * 8 + i].alpha = table[(indices >> (3 * i)) & 7];
        }
    }
}

// Premultiplied blocks store colour x alpha: divide it back out. Alpha 0 leaves the colour 0; a colour above its
// alpha (damaged data) saturates at 255.
static int Unpremultiply(int channel, int alpha)
{
    if (alpha == 0) {
        return 0;
    }
    int value = channel * 255 / alpha;
    return value > 255 ? 255 : value;
}

static void UnpremultiplyTexels(Texel texels[16])
{
    for (int i = 0; i < 16; i++) {
        texels[i].red = Unpremultiply(texels[i].red, texels[i].alpha);
        texels[i].green = Unpremultiply(texels[i].green, texels[i].alpha);
        texels[i].blue = Unpremultiply(texels[i].blue, texels[i].alpha);
    }
}

static void DecodeBlock(uint32_t formatCode, const unsigned char *block, Texel texels[16])
{
    if (formatCode == PIXEL_FORMAT_DXT1) {
        DecodeColorPart(block, 1, texels);
        return;
    }
    DecodeColorPart(block + 8, 0, texels);
    if (formatCode == PIXEL_FORMAT_DXT2 || formatCode == PIXEL_FORMAT_DXT3) {
        ApplyExplicitAlpha(block, texels);
    } else {
        ApplyInterpolatedAlpha(block, texels);
    }
    if (formatCode == PIXEL_FORMAT_DXT2 || formatCode == PIXEL_FORMAT_DXT4) {
        UnpremultiplyTexels(texels);
    }
}

static void DecodeBlocks(const BaseImage *image, unsigned char *output)
{
    int blockSize = image->format.formatCode == PIXEL_FORMAT_DXT1 ? 8 : 16;
    int blocksAcross = image->width / 4;
    int blocksDown = image->height / 4;
    const unsigned char *block = image->pixels;
    for (int blockRow = 0; blockRow < blocksDown; blockRow++) {
        for (int blockColumn = 0; blockColumn < blocksAcross; blockColumn++, block += blockSize) {
            Texel texels[16];
            DecodeBlock(image->format.formatCode, block, texels);
            for (int i = 0; i < 16; i++) {
                int x = blockColumn * 4 + (i & 3);
                int y = blockRow * 4 + (i >> 2);
                unsigned char *out = output + ((size_t)y * image->width + x) * 4;
                out[0] = (unsigned char)texels[i].blue;
                out[1] = (unsigned char)texels[i].green;
                out[2] = (unsigned char)texels[i].red;
                out[3] = (unsigned char)texels[i].alpha;
            }
        }
    }
}

int ConvertBaseImageToNormal(BaseImage *image)
{
    uint32_t code = image->format.formatCode;
    if (code == PIXEL_FORMAT_PACKED) {
        return 0;
    }
    int64_t size = (int64_t)image->width * image->height * 4;
    if (image->width < 0 || image->height < 0 || size > 0x7FFFFFFF) {
        return AddLog("画像サイズが不正です\n");
    }
    unsigned char *output = (unsigned char *)ENGINE_ALLOC_ZEROED(size > 0 ? (size_t)size : 1);
    if (output == NULL) {
        return -1;
    }
    if (code >= PIXEL_FORMAT_DXT1 && code <= PIXEL_FORMAT_DXT5 && image->pixels != NULL) {
        DecodeBlocks(image, output);
    }
    if (image->pixels != NULL) {
        FreeMemory(image->pixels);
    }
    image->pixels = output;
    image->pitch = image->width * 4;
    image->mipCount = 1;
    SetARGB8PixelFormat(&image->format);
    return 0;
}
