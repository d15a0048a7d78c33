// Software images: MEMIMG views over reference-counted MemImgBlocks, the blocks' colour formats, and the derived
// data (premultiplied copy, per-row run table) that the software renderers read. A block lives while a view holds
// it. The derived data is marked valid only when rebuilt from a write that covered the whole block, and every other
// write marks it stale. Window thread only (the shared colour formats are built on first use there).
#include "image/image.h"
#include "image/pixel_access.h"

#include <string.h>

#define PALETTE_BLOCK_SIZE 2048
#define PALETTE_COPY_OFFSET 1024

static int MemImgBytesPerPixel(int kind, int paletteFlag, int alphaFlag)
{
    if (paletteFlag) {
        return 1;
    }
    switch (kind) {
    case MEMIMG_KIND_RGB16: return alphaFlag ? 4 : 2;
    case MEMIMG_KIND_RGB32: return 4;
    case MEMIMG_KIND_CHANNEL8: return 1;
    default: return 2;
    }
}

// The shared colour formats: [kind 0 / 1][alpha][palette], then kind 2 and kind 3; built on first use.
static PixelFormat s_ColorFormats[2][2][2];
static PixelFormat s_Channel8Format;
static PixelFormat s_Channel16Format;
static int s_ColorFormatsBuilt;

const PixelFormat *GetMemImgColorFormat(int kind, int alphaFlag, int paletteFlag)
{
    if (!s_ColorFormatsBuilt) {
        static const uint32_t masks[2][4] = {{0xF800, 0x7E0, 0x1F, 0xFF0000}, {0xFF0000, 0xFF00, 0xFF, 0xFF000000u}};
        for (int k = 0; k < 2; k++) {
            for (int a = 0; a < 2; a++) {
                for (int p = 0; p < 2; p++) {
                    int bits = p ? 8 : MemImgBytesPerPixel(k, 0, a) * 8;
                    CreatePixelFormatFromMasks(&s_ColorFormats[k][a][p], bits, masks[k][0], masks[k][1], masks[k][2],
                                               a ? masks[k][3] : 0);
                }
            }
        }
        CreatePixelFormatFromMasks(&s_Channel8Format, 8, 0xFF, 0xFF, 0xFF, 0xFF);
        CreatePixelFormatFromMasks(&s_Channel16Format, 16, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF);
        s_ColorFormatsBuilt = 1;
    }
    switch (kind) {
    case MEMIMG_KIND_RGB16:
    case MEMIMG_KIND_RGB32: return &s_ColorFormats[kind][alphaFlag ? 1 : 0][paletteFlag ? 1 : 0];
    case MEMIMG_KIND_CHANNEL8: return &s_Channel8Format;
    case MEMIMG_KIND_CHANNEL16: return &s_Channel16Format;
    default: return NULL;
    }
}

// log2 of the pitch when it equals the smallest power of two not below `wanted`, else -1.
static int PitchShift(int pitch, int64_t wanted)
{
    int shift = 0;
    while (shift < 31 && ((int64_t)1 << shift) < wanted) {
        shift++;
    }
    return (int64_t)pitch == ((int64_t)1 << shift) ? shift : -1;
}

// Frees what a failed CreateMemImg allocated, leaving anything the block already had before the call.
struct CreateAllocations {
    int block, palette, pixels, premultiplied, runTable;
};

static int UndoCreateMemImg(MEMIMG *image, const CreateAllocations *made)
{
    MemImgBlock *block = image->block;
    if (made->palette) {
        FreeMemory(block->palette);
        block->palette = block->paletteCopy = NULL;
    }
    if (made->pixels) {
        FreeMemory(block->pixels);
        block->pixels = NULL;
    }
    if (made->premultiplied) {
        FreeMemory(block->premultiplied);
        block->premultiplied = NULL;
    }
    if (made->runTable) {
        FreeMemory(block->runTable);
        block->runTable = NULL;
    }
    if (made->block) {
        FreeMemory(block);
        image->block = NULL;
    }
    return -1;
}

static void *AllocateIfAbsent(void *present, int64_t size, int *made)
{
    if (present != NULL) {
        return present;
    }
    void *memory = ENGINE_ALLOC((size_t)size);
    *made = memory != NULL;
    return memory;
}

int CreateMemImg(MEMIMG *image, int width, int height, int pitch, uint32_t transparentValue, int kind, int paletteFlag,
                 int alphaFlag, int extrasFlag, void *callerPixels)
{
    if (image->tag == MEMIMG_LIVE_TAG) {
        return AddLog("既に使用中のソフトウエアイメージに作成を行おうとしました\n");
    }
    if (kind < MEMIMG_KIND_RGB16 || kind > MEMIMG_KIND_CHANNEL16 || width <= 0 || height <= 0 || pitch < -1) {
        return AddLog("ソフトウエアイメージの作成パラメータが不正です\n");
    }
    if (paletteFlag) alphaFlag = 0;
    if (kind >= MEMIMG_KIND_CHANNEL8) paletteFlag = alphaFlag = 0;
    paletteFlag = paletteFlag ? 1 : 0;
    alphaFlag = alphaFlag ? 1 : 0;

    int bytesPerPixel = MemImgBytesPerPixel(kind, paletteFlag, alphaFlag);
    int64_t rowBytes = (int64_t)bytesPerPixel * width;
    int64_t actualPitch = pitch == -1 ? (rowBytes + 15) / 16 * 16 : pitch;
    int64_t pixelBytes = actualPitch * height;
    int64_t runTableBytes = ((int64_t)width + 5) * height;
    if (pixelBytes > 0x7FFFFFFF || runTableBytes > 0x7FFFFFFF || actualPitch < rowBytes) {
        return AddLog("ソフトウエアイメージの作成パラメータが不正です\n");
    }

    CreateAllocations made = {0, 0, 0, 0, 0};
    if (image->block == NULL) {
        image->block = (MemImgBlock *)ENGINE_ALLOC_ZEROED(sizeof(MemImgBlock));
        if (image->block == NULL) {
            return -1;
        }
        made.block = 1;
    }
    MemImgBlock *block = image->block;
    block->referenceCount = 1;
    block->width = width;
    block->height = height;
    block->transparentValue = transparentValue;
    block->kind = kind;
    block->paletteFlag = paletteFlag;
    block->alphaFlag = alphaFlag;
    block->premultipliedValid = 0;
    block->runTableValid = 0;
    if (paletteFlag) {
        block->palette = AllocateIfAbsent(block->palette, PALETTE_BLOCK_SIZE, &made.palette);
        if (block->palette == NULL) {
            return UndoCreateMemImg(image, &made);
        }
        block->paletteCopy = (unsigned char *)block->palette + PALETTE_COPY_OFFSET;
    }
    block->pitch = (int)actualPitch;
    block->pitchShift = PitchShift(block->pitch, pitch == -1 ? rowBytes : pitch);
    block->format = GetMemImgColorFormat(kind, alphaFlag, paletteFlag);
    block->callerMemory = callerPixels != NULL;
    if (callerPixels != NULL) {
        block->pixels = (unsigned char *)callerPixels;
    } else {
        block->pixels = (unsigned char *)ENGINE_ALLOC((size_t)pixelBytes);
        if (block->pixels == NULL) {
            return UndoCreateMemImg(image, &made);
        }
        made.pixels = 1;
    }
    if (extrasFlag) {
        if (alphaFlag) {
            block->premultiplied =
                (unsigned char *)AllocateIfAbsent(block->premultiplied, pixelBytes, &made.premultiplied);
            if (block->premultiplied == NULL) {
                return UndoCreateMemImg(image, &made);
            }
        }
        if (kind != MEMIMG_KIND_CHANNEL8) {
            block->runTable = (unsigned char *)AllocateIfAbsent(block->runTable, runTableBytes, &made.runTable);
            if (block->runTable == NULL) {
                return UndoCreateMemImg(image, &made);
            }
        }
    }
    image->tag = MEMIMG_LIVE_TAG;
    image->width = width;
    image->height = height;
    image->pixels = block->pixels;
    image->premultipliedPixels = block->premultiplied;
    return 0;
}

bool IsValidMemImg(const MEMIMG *image)
{
    return image->tag == MEMIMG_LIVE_TAG && image->block != NULL;
}

int DeriveMemImg(MEMIMG *image, const MEMIMG *source, int x, int y, int width, int height)
{
    if (!IsValidMemImg(source) || image->tag == MEMIMG_LIVE_TAG) {
        return AddLog("ソフトウエアイメージの派生元か派生先が不正です\n");
    }
    if (width <= 0 || height <= 0 || x < 0 || y < 0 || (int64_t)x + width > source->width ||
        (int64_t)y + height > source->height) {
        return AddLog("ソフトウエアイメージの派生範囲が不正です\n");
    }
    MemImgBlock *block = source->block;
    ptrdiff_t offset = (ptrdiff_t)y * block->pitch + (ptrdiff_t)x * block->format->bytesPerPixel;
    image->tag = MEMIMG_LIVE_TAG;
    image->width = width;
    image->height = height;
    image->pixels = source->pixels + offset;
    image->premultipliedPixels = block->premultiplied != NULL ? source->premultipliedPixels + offset : NULL;
    image->block = block;
    block->referenceCount++;
    return 0;
}

int ReleaseMemImg(MEMIMG *image)
{
    if (image->tag != MEMIMG_LIVE_TAG) {
        return 0;
    }
    MemImgBlock *block = image->block;
    if (block != NULL && --block->referenceCount <= 0) {
        if (!block->callerMemory && block->pixels != NULL) FreeMemory(block->pixels);
        if (block->premultiplied != NULL) FreeMemory(block->premultiplied);
        if (block->runTable != NULL) FreeMemory(block->runTable);
        if (block->palette != NULL) FreeMemory(block->palette);
        FreeMemory(block);
    }
    image->block = NULL;
    image->tag = 0;
    return 0;
}

int InvalidateMemImgDerivedData(MEMIMG *image)
{
    if (!IsValidMemImg(image)) {
        return -1;
    }
    image->block->premultipliedValid = 0;
    image->block->runTableValid = 0;
    return 0;
}

static uint32_t PremultiplyPixel(int kind, uint32_t pixel)
{
    uint32_t alpha;
    if (kind == MEMIMG_KIND_RGB16) {
        uint32_t c = pixel & 0xFFFF;
        alpha = (pixel >> 16) & 0xFF;
        uint32_t color = (((c & 0xF800) * alpha & 0xF80000) | ((c & 0x7E0) * alpha & 0x7E000) |
                          ((c & 0x1F) * alpha & 0x1F00)) >> 8;
        return color | alpha << 16;
    }
    alpha = pixel >> 24;
    uint32_t blue = (pixel & 0xFF) * alpha >> 8;
    uint32_t green = ((pixel >> 8) & 0xFF) * alpha >> 8;
    uint32_t red = ((pixel >> 16) & 0xFF) * alpha >> 8;
    return blue | green << 8 | red << 16 | alpha << 24;
}

static void RebuildPremultipliedCopy(const MEMIMG *image)
{
    const MemImgBlock *block = image->block;
    for (int y = 0; y < image->height; y++) {
        const unsigned char *in = image->pixels + (ptrdiff_t)y * block->pitch;
        unsigned char *out = image->premultipliedPixels + (ptrdiff_t)y * block->pitch;
        for (int x = 0; x < image->width; x++) {
            WritePixelValue(out + 4 * x, 4, PremultiplyPixel(block->kind, ReadPixelValue(in + 4 * x, 4)));
        }
    }
}

static int PixelClass(const MemImgBlock *block, const unsigned char *pixel)
{
    if (block->alphaFlag) {
        int alpha = pixel[block->kind == MEMIMG_KIND_RGB16 ? 2 : 3];
        return alpha == 0 ? RUN_TABLE_TRANSPARENT : alpha == 255 ? RUN_TABLE_OPAQUE : RUN_TABLE_TRANSLUCENT;
    }
    uint32_t value = ReadPixelValue(pixel, block->format->bytesPerPixel);
    return value == block->transparentValue ? RUN_TABLE_TRANSPARENT : RUN_TABLE_OPAQUE;
}

static void RebuildRunTable(const MEMIMG *image)
{
    const MemImgBlock *block = image->block;
    int bytesPerPixel = block->format->bytesPerPixel;
    unsigned char *out = block->runTable;
    for (int y = 0; y < image->height; y++) {
        const unsigned char *row = image->pixels + (ptrdiff_t)y * block->pitch;
        int x = 0;
        while (x < image->width) {
            int runClass = PixelClass(block, row + x * bytesPerPixel);
            int count = 1;
            while (x + count < image->width && count < RUN_TABLE_MAX_RUN &&
                   PixelClass(block, row + (x + count) * bytesPerPixel) == runClass) {
                count++;
            }
            *out++ = (unsigned char)((count - 1) | runClass);
            x += count;
        }
        *out++ = RUN_TABLE_ROW_END;
    }
}

int RebuildMemImgDerivedData(MEMIMG *image, int width, int height)
{
    if (InvalidateMemImgDerivedData(image) != 0) {
        return -1;
    }
    MemImgBlock *block = image->block;
    // The run table and the premultiplied copy describe the whole block, so only a write over the whole block can
    // make them valid again; after a partial write they stay stale.
    int wholeBlock = image->pixels == block->pixels && image->width == block->width && image->height == block->height;
    if (!wholeBlock || width < image->width || height < image->height || block->kind > MEMIMG_KIND_RGB32 ||
        block->runTable == NULL) {
        return 0;
    }
    if (block->alphaFlag && block->premultiplied != NULL) {
        RebuildPremultipliedCopy(image);
        block->premultipliedValid = 1;
    }
    RebuildRunTable(image);
    block->runTableValid = 1;
    return 0;
}
