// Base images: create, read, write and release the decoded pictures that the loaders fill. The record belongs to
// its caller and owns its pixel block (tracked allocator). No locking: a base image belongs to one thread at a time.
#include "image/image.h"
#include "image/pixel_access.h"

#include <string.h>

static unsigned char *PixelAddress(const BaseImage *image, int x, int y)
{
    return image->pixels + (ptrdiff_t)y * image->pitch + (ptrdiff_t)x * image->format.bytesPerPixel;
}

// A channel's field placed at the top of its byte of 0xAARRGGBB (`top` = that byte's highest bit + 1); a field
// wider than 8 bits gives its top 8 bits.
static uint32_t FieldAtTopOfByte(uint32_t value, uint32_t mask, int shift, int width, int top)
{
    uint32_t field = (value & mask) >> shift;
    uint32_t byte = width <= 8 ? field << (8 - width) : field >> (width - 8);
    return byte << (top - 8);
}

uint32_t GetBaseImagePixelColor(const BaseImage *image, int x, int y)
{
    if (image->pixels == NULL) {
        return 0;
    }
    const PixelFormat *f = &image->format;
    uint32_t value = ReadPixelValue(PixelAddress(image, x, y), f->bytesPerPixel);
    if (IsPaletteFormat(f)) {
        // A palette pixel gives its entry's colour.
        const PaletteEntry *e = &f->palette[value];
        return (uint32_t)e->red << 16 | (uint32_t)e->green << 8 | e->blue;
    }
    uint32_t color = FieldAtTopOfByte(value, f->blueMask, f->blueShift, f->blueWidth, 8) +
                     FieldAtTopOfByte(value, f->greenMask, f->greenShift, f->greenWidth, 16) +
                     FieldAtTopOfByte(value, f->redMask, f->redShift, f->redWidth, 24);
    if (f->alphaWidth != 0) {
        color += FieldAtTopOfByte(value, f->alphaMask, f->alphaShift, f->alphaWidth, 32);
    }
    return color;
}

int GetBaseImagePixelComponents(BaseImage *image, int x, int y, int *red, int *green, int *blue, int *alpha)
{
    if (ConvertBaseImageToNormal(image) != 0) {
        return -1;
    }
    if ((unsigned)x >= (unsigned)image->width || (unsigned)y >= (unsigned)image->height) {
        return -1;
    }
    const PixelFormat *f = &image->format;
    uint32_t value = ReadPixelValue(PixelAddress(image, x, y), f->bytesPerPixel);
    if (IsPaletteFormat(f)) {
        const PaletteEntry *e = &f->palette[value];
        if (red) *red = e->red;
        if (green) *green = e->green;
        if (blue) *blue = e->blue;
        if (alpha) *alpha = e->reserved;
        return 0;
    }
    return SplitPixelComponents(f, value, red, green, blue, alpha);
}

int SetBaseImagePixel(BaseImage *image, int x, int y, int red, int green, int blue, int alpha)
{
    if (ConvertBaseImageToNormal(image) != 0) {
        return -1;
    }
    if ((unsigned)x >= (unsigned)image->width || (unsigned)y >= (unsigned)image->height) {
        return -1;
    }
    WritePixelValue(PixelAddress(image, x, y), image->format.bytesPerPixel,
                    ColorToPixelValue(&image->format, red, green, blue, alpha));
    return 0;
}

int GetBaseImageDataSize(const BaseImage *image)
{
    int64_t size = GetMipChainDataSize(&image->format, image->width, image->height, image->pitch, image->mipCount);
    return size > 0x7FFFFFFF ? -1 : (int)size;
}

int FreeBaseImageData(BaseImage *image)
{
    if (image->pixels != NULL) {
        FreeMemory(image->pixels);
    }
    memset(image, 0, sizeof(*image));
    return 0;
}

// Sets size and pitch (rows rounded up to 4 bytes) and allocates the uncleared pixel block.
static int AllocateBaseImagePixels(int width, int height, BaseImage *image)
{
    image->width = width;
    image->height = height;
    image->mipCount = 0;
    image->pixels = NULL;
    int64_t pitch = ((int64_t)image->format.bytesPerPixel * width + 3) / 4 * 4;
    int64_t size = pitch * height;
    image->pitch = (int)pitch;
    if (width < 0 || height < 0 || size > 0x7FFFFFFF) {
        return AddLog("画像サイズが不正です\n");
    }
    image->pixels = (unsigned char *)ENGINE_ALLOC((size_t)size);
    return image->pixels == NULL ? -1 : 0;
}

int CreateBaseImageLike(int width, int height, const BaseImage *model, BaseImage *image)
{
    image->format = model->format;
    return AllocateBaseImagePixels(width, height, image);
}

int NewARGB8BaseImage(int width, int height, BaseImage *image)
{
    SetARGB8PixelFormat(&image->format);
    return AllocateBaseImagePixels(width, height, image);
}

int NewXRGB8BaseImage(int width, int height, BaseImage *image)
{
    SetXRGB8PixelFormat(&image->format);
    return AllocateBaseImagePixels(width, height, image);
}

int ClearBaseImageRect(BaseImage *image, int x, int y, int width, int height)
{
    for (int row = 0; row < height; row++) {
        memset(PixelAddress(image, x, y + row), 0, (size_t)width * image->format.bytesPerPixel);
    }
    return 0;
}
