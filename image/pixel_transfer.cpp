// Pixel transfers built on the pixel kernel (base image into a software image, software image to software image,
// base image to base image, base image to DIB), the stretch, and the in-place operations (mirror, 180-degree turn,
// 2:1 reduction for mip levels, rectangle fill). Every write into a software image marks its block's derived data
// stale or rebuilds it. Caller-owned images; window thread in practice, no locking.
#include "image/image.h"
#include "image/pixel_access.h"

#include <string.h>

static_assert(sizeof(DibHeaderBlock) == 1068, "a DIB header block is BITMAPINFOHEADER + 256 colours + 4 bytes");

static PixelBuffer BaseImageBuffer(const BaseImage *image)
{
    PixelBuffer b = {image->pixels, image->pitch, &image->format, image->width, image->height};
    return b;
}

// A software image as a kernel buffer. A palette block keeps its colours in its own palette, not in the shared
// colour-format record, so the kernel gets a copy of the format carrying them.
static PixelBuffer MemImgBuffer(const MEMIMG *image, PixelFormat *scratch)
{
    const MemImgBlock *block = image->block;
    PixelBuffer b = {image->pixels, block->pitch, block->format, image->width, image->height};
    if (block->paletteFlag && block->palette != NULL) {
        *scratch = *block->format;
        for (int i = 0; i < 256; i++) {
            int r, g, bl;
            uint32_t entry = block->kind == MEMIMG_KIND_RGB16 ? ((const uint16_t *)block->palette)[i]
                                                               : ((const uint32_t *)block->palette)[i];
            SplitPixelComponents(GetMemImgColorFormat(block->kind, 0, 0), entry, &r, &g, &bl, NULL);
            scratch->palette[i].red = (uint8_t)r;
            scratch->palette[i].green = (uint8_t)g;
            scratch->palette[i].blue = (uint8_t)bl;
            scratch->palette[i].reserved = 0;
        }
        b.format = scratch;
    }
    return b;
}

static RECT MakeRect(int left, int top, int right, int bottom)
{
    RECT r;
    r.left = left;
    r.top = top;
    r.right = right;
    r.bottom = bottom;
    return r;
}

// The block's transparent value is a raw pixel of the block's own format; the kernel keys on 0x00RRGGBB.
static uint32_t TransparentColorOfBlock(const MemImgBlock *block)
{
    if (block->paletteFlag || block->kind > MEMIMG_KIND_RGB32) {
        return block->transparentValue;
    }
    int r, g, b;
    SplitPixelComponents(block->format, block->transparentValue, &r, &g, &b, NULL);
    return (uint32_t)r << 16 | (uint32_t)g << 8 | (uint32_t)b;
}

static void CopyPaletteIntoBlock(const PixelFormat *format, MemImgBlock *block)
{
    size_t bytes;
    if (block->kind == MEMIMG_KIND_RGB16) {
        uint16_t *out = (uint16_t *)block->palette;
        for (int i = 0; i < 256; i++) {
            const PaletteEntry *e = &format->palette[i];
            out[i] = (uint16_t)((e->red >> 3) << 11 | (e->green >> 2) << 5 | e->blue >> 3);
        }
        bytes = 512;
    } else {
        uint32_t *out = (uint32_t *)block->palette;
        for (int i = 0; i < 256; i++) {
            const PaletteEntry *e = &format->palette[i];
            out[i] = (uint32_t)e->red << 16 | (uint32_t)e->green << 8 | e->blue;
        }
        bytes = 1024;
    }
    memcpy(block->paletteCopy, block->palette, bytes);
}

int TransferMemImg(BaseImage *source, BaseImage *alphaImage, MEMIMG *destination, int sourceX, int sourceY, int width,
                   int height, int destinationX, int destinationY, int transparentToAlpha)
{
    if (!IsValidMemImg(destination)) {
        return AddLog("転送先のソフトウエアイメージが不正です\n");
    }
    if (ConvertBaseImageToNormal(source) != 0 || (alphaImage != NULL && ConvertBaseImageToNormal(alphaImage) != 0)) {
        return -1;
    }
    MemImgBlock *block = destination->block;
    int singleChannel = block->kind >= MEMIMG_KIND_CHANNEL8;
    PixelFormat scratch;
    PixelBuffer to = MemImgBuffer(destination, &scratch);
    PixelBuffer from = BaseImageBuffer(source);
    PixelBuffer alpha = alphaImage != NULL ? BaseImageBuffer(alphaImage) : PixelBuffer();
    RECT rect = MakeRect(sourceX, sourceY, (int)((int64_t)sourceX + width), (int)((int64_t)sourceY + height));
    PixelKernelOptions options;
    memset(&options, 0, sizeof(options));
    options.transparentToAlpha = transparentToAlpha;
    options.transparentColor = TransparentColorOfBlock(block);
    options.clearColor = options.redToAlpha = singleChannel;
    int result = PixelKernel(&to, &from, alphaImage != NULL && !singleChannel ? &alpha : NULL, destinationX,
                             destinationY, &rect, &options);
    if (result < 0) {
        return -1;
    }
    if (block->paletteFlag) {
        block->paletteEntriesUsed = result + 1;
        // Only a palette picture brings colours of its own; packed pixels were matched to the block's palette.
        if (IsPaletteFormat(&source->format)) {
            CopyPaletteIntoBlock(&source->format, block);
        }
    }
    return RebuildMemImgDerivedData(destination, width, height);
}

int MemImgRectOperation(MEMIMG *destination, const MEMIMG *source, const RECT *sourceRect, int destinationX,
                        int destinationY)
{
    if (!IsValidMemImg(destination) || !IsValidMemImg(source)) {
        return AddLog("ソフトウエアイメージが不正です\n");
    }
    PixelFormat destinationScratch, sourceScratch;
    PixelBuffer to = MemImgBuffer(destination, &destinationScratch);
    PixelBuffer from = MemImgBuffer(source, &sourceScratch);
    RECT whole = MakeRect(0, 0, source->width, source->height);
    PixelKernelOptions options;
    memset(&options, 0, sizeof(options));
    InvalidateMemImgDerivedData(destination);
    return PixelKernel(&to, &from, NULL, destinationX, destinationY, sourceRect != NULL ? sourceRect : &whole,
                       &options);
}

int BlitBaseImage(int sourceX, int sourceY, int width, int height, int destinationX, int destinationY,
                  BaseImage *source, BaseImage *destination)
{
    if (ConvertBaseImageToNormal(source) != 0 || ConvertBaseImageToNormal(destination) != 0) {
        return -1;
    }
    int64_t sx = sourceX, sy = sourceY, dx = destinationX, dy = destinationY, w = width, h = height;
    if (dx < 0) { sx -= dx; w += dx; dx = 0; }
    if (dy < 0) { sy -= dy; h += dy; dy = 0; }
    if (sx < 0) { dx -= sx; w += sx; sx = 0; }
    if (sy < 0) { dy -= sy; h += sy; sy = 0; }
    if (sx + w > source->width) w = source->width - sx;
    if (sy + h > source->height) h = source->height - sy;
    if (dx + w > destination->width) w = destination->width - dx;
    if (dy + h > destination->height) h = destination->height - dy;
    if (w < 1 || h < 1) {
        return 0;
    }
    PixelBuffer to = BaseImageBuffer(destination);
    PixelBuffer from = BaseImageBuffer(source);
    RECT rect = MakeRect((int)sx, (int)sy, (int)(sx + w), (int)(sy + h));
    PixelKernelOptions options;
    memset(&options, 0, sizeof(options));
    options.paletteRemap = 1;
    PixelKernel(&to, &from, NULL, (int)dx, (int)dy, &rect, &options);
    return 0;
}

static int RectangleInside(int x1, int y1, int x2, int y2, const BaseImage *image)
{
    return x1 < x2 && y1 < y2 && x1 >= 0 && y1 >= 0 && x1 < image->width && y1 < image->height && x2 >= 1 &&
           x2 <= image->width && y2 >= 1 && y2 <= image->height;
}

static void StretchNearest(int sourceX1, int sourceY1, BaseImage *source, int destinationX1, int destinationY1,
                           int destinationWidth, int destinationHeight, int64_t stepX, int64_t stepY,
                           BaseImage *destination)
{
    for (int j = 0; j < destinationHeight; j++) {
        int y = (int)((((int64_t)sourceY1 << 16) + j * stepY) >> 16);
        for (int i = 0; i < destinationWidth; i++) {
            int x = (int)((((int64_t)sourceX1 << 16) + i * stepX) >> 16);
            int r = 0, g = 0, b = 0, a = 0;
            GetBaseImagePixelComponents(source, x, y, &r, &g, &b, &a);
            SetBaseImagePixel(destination, destinationX1 + i, destinationY1 + j, r, g, b, a);
        }
    }
}

// Bilinear: the four neighbours weighted by the 16-bit fractions. Neighbours past the right or bottom edge repeat
// the edge pixel.
static void StretchBilinear(int sourceX1, int sourceY1, BaseImage *source, int destinationX1, int destinationY1,
                            int destinationWidth, int destinationHeight, int64_t stepX, int64_t stepY,
                            BaseImage *destination)
{
    for (int j = 0; j < destinationHeight; j++) {
        int64_t positionY = ((int64_t)sourceY1 << 16) + j * stepY;
        int y = (int)(positionY >> 16);
        int64_t fy = positionY & 0xFFFF;
        int y1 = y + 1 < source->height ? y + 1 : y;
        for (int i = 0; i < destinationWidth; i++) {
            int64_t positionX = ((int64_t)sourceX1 << 16) + i * stepX;
            int x = (int)(positionX >> 16);
            int64_t fx = positionX & 0xFFFF;
            int x1 = x + 1 < source->width ? x + 1 : x;
            const int xs[4] = {x, x1, x, x1};
            const int ys[4] = {y, y, y1, y1};
            const int64_t weights[4] = {((65535 - fx) * (65535 - fy)) >> 16, (fx * (65535 - fy)) >> 16,
                                        ((65535 - fx) * fy) >> 16, (fx * fy) >> 16};
            int64_t sums[4] = {0, 0, 0, 0};
            for (int n = 0; n < 4; n++) {
                int c[4] = {0, 0, 0, 0};
                GetBaseImagePixelComponents(source, xs[n], ys[n], &c[0], &c[1], &c[2], &c[3]);
                for (int k = 0; k < 4; k++) {
                    sums[k] += c[k] * weights[n];
                }
            }
            SetBaseImagePixel(destination, destinationX1 + i, destinationY1 + j, (int)(sums[0] >> 16),
                              (int)(sums[1] >> 16), (int)(sums[2] >> 16), (int)(sums[3] >> 16));
        }
    }
}

int StretchBaseImageRect(int sourceX1, int sourceY1, int sourceX2, int sourceY2, BaseImage *source,
                         int destinationX1, int destinationY1, int destinationX2, int destinationY2,
                         BaseImage *destination, int mode)
{
    if (!RectangleInside(sourceX1, sourceY1, sourceX2, sourceY2, source) ||
        !RectangleInside(destinationX1, destinationY1, destinationX2, destinationY2, destination)) {
        return AddLog("拡大縮小転送の矩形が不正です\n");
    }
    int sourceWidth = sourceX2 - sourceX1, sourceHeight = sourceY2 - sourceY1;
    int destinationWidth = destinationX2 - destinationX1, destinationHeight = destinationY2 - destinationY1;
    if (sourceWidth == destinationWidth && sourceHeight == destinationHeight) {
        return BlitBaseImage(sourceX1, sourceY1, sourceWidth, sourceHeight, destinationX1, destinationY1, source,
                             destination);
    }
    if (ConvertBaseImageToNormal(source) != 0 || ConvertBaseImageToNormal(destination) != 0) {
        return -1;
    }
    int64_t stepX = ((int64_t)sourceWidth << 16) / destinationWidth;
    int64_t stepY = ((int64_t)sourceHeight << 16) / destinationHeight;
    if (mode == 1) {
        StretchBilinear(sourceX1, sourceY1, source, destinationX1, destinationY1, destinationWidth, destinationHeight,
                        stepX, stepY, destination);
    } else {
        StretchNearest(sourceX1, sourceY1, source, destinationX1, destinationY1, destinationWidth, destinationHeight,
                       stepX, stepY, destination);
    }
    return 0;
}

static int IsRgb24Layout(const PixelFormat *f)
{
    return f->bitsPerPixel == 24 && f->redMask == 0xFF0000 && f->greenMask == 0xFF00 && f->blueMask == 0xFF;
}

int BaseImageToDib(BaseImage *image, DibHeaderBlock *header, unsigned char **pixels, int copyFlag, int force24)
{
    if (ConvertBaseImageToNormal(image) != 0) {
        return -1;
    }
    int eightBit = IsPaletteFormat(&image->format) && !force24;
    int64_t rowBytes = ((int64_t)image->width * (eightBit ? 1 : 3) + 3) / 4 * 4;
    int64_t totalBytes = rowBytes * image->height;
    if (image->width <= 0 || image->height <= 0 || totalBytes > 0x7FFFFFFF) {
        return AddLog("DIB に変換する画像のサイズが不正です\n");
    }
    memset(header, 0, sizeof(*header));
    header->size = 40;
    header->width = image->width;
    header->height = -image->height;
    header->planes = 1;
    header->bitCount = eightBit ? 8 : 24;
    if (eightBit) {
        for (int i = 0; i < 256; i++) {
            header->colors[i] = image->format.palette[i];
            header->colors[i].reserved = 0;
        }
    }
    int sameRows = eightBit || IsRgb24Layout(&image->format);
    if (copyFlag != 1 && image->pitch == rowBytes && sameRows) {
        *pixels = image->pixels;
        return copyFlag;
    }
    unsigned char *out = (unsigned char *)ENGINE_ALLOC((size_t)totalBytes);
    if (out == NULL) {
        return -1;
    }
    if (sameRows) {
        for (int y = 0; y < image->height; y++) {
            memcpy(out + y * rowBytes, image->pixels + (ptrdiff_t)y * image->pitch,
                   (size_t)image->width * (eightBit ? 1 : 3));
        }
    } else {
        PixelFormat rgb24;
        memset(&rgb24, 0, sizeof(rgb24));
        SetRGB24PixelFormat(&rgb24);
        PixelBuffer to = {out, (int)rowBytes, &rgb24, image->width, image->height};
        PixelBuffer from = BaseImageBuffer(image);
        RECT rect = MakeRect(0, 0, image->width, image->height);
        PixelKernelOptions options;
        memset(&options, 0, sizeof(options));
        PixelKernel(&to, &from, NULL, 0, 0, &rect, &options);
    }
    *pixels = out;
    return 1;
}

static void SwapPixels(unsigned char *a, unsigned char *b, int bytesPerPixel)
{
    for (int i = 0; i < bytesPerPixel; i++) {
        unsigned char t = a[i];
        a[i] = b[i];
        b[i] = t;
    }
}

static void ReverseRow(unsigned char *row, int width, int bytesPerPixel)
{
    for (int i = 0, j = width - 1; i < j; i++, j--) {
        SwapPixels(row + i * bytesPerPixel, row + j * bytesPerPixel, bytesPerPixel);
    }
}

static int MovablePixels(const BaseImage *image)
{
    return image->format.formatCode == PIXEL_FORMAT_PACKED && image->format.bytesPerPixel >= 1 &&
           image->format.bytesPerPixel <= 4 && image->pixels != NULL;
}

int TransformBaseImageInPlace(BaseImage *image)
{
    if (image->width <= 0 || image->height <= 0 || image->format.formatCode != PIXEL_FORMAT_PACKED) {
        return -1;
    }
    if (!MovablePixels(image)) {
        return 0;
    }
    for (int y = 0; y < image->height; y++) {
        ReverseRow(image->pixels + (ptrdiff_t)y * image->pitch, image->width, image->format.bytesPerPixel);
    }
    return 0;
}

int RotateBaseImage180(BaseImage *image)
{
    if (image->format.formatCode != PIXEL_FORMAT_PACKED) {
        return -1;
    }
    if (!MovablePixels(image) || image->width <= 0 || image->height <= 0) {
        return 0;
    }
    int bytesPerPixel = image->format.bytesPerPixel;
    int width = image->width;
    for (int top = 0, bottom = image->height - 1; top <= bottom; top++, bottom--) {
        unsigned char *a = image->pixels + (ptrdiff_t)top * image->pitch;
        unsigned char *b = image->pixels + (ptrdiff_t)bottom * image->pitch;
        if (top == bottom) {
            ReverseRow(a, width, bytesPerPixel);
            break;
        }
        for (int i = 0; i < width; i++) {
            SwapPixels(a + i * bytesPerPixel, b + (width - 1 - i) * bytesPerPixel, bytesPerPixel);
        }
    }
    return 0;
}

int HalveImageRect(const PixelFormat *format, void *destination, int destinationPitch, const void *source,
                   int sourcePitch, int destinationX, int sourceX, int startRow, int sourceWidth, int sourceHeight)
{
    if (sourceWidth < 1 || sourceHeight < 1 || (sourceWidth != 1 && sourceWidth % 2 != 0) ||
        (sourceHeight != 1 && sourceHeight % 2 != 0)) {
        return -1;
    }
    int bytesPerPixel = format->bitsPerPixel / 8;
    if (bytesPerPixel != 2 && bytesPerPixel != 4) {
        return 0;
    }
    const uint32_t masks[4] = {format->redMask, format->greenMask, format->blueMask, format->alphaMask};
    const int shifts[4] = {format->redShift, format->greenShift, format->blueShift, format->alphaShift};
    int stepX = sourceWidth > 1 ? 2 : 1;
    int stepY = sourceHeight > 1 ? 2 : 1;
    int samples = stepX * stepY;
    int sampleShift = samples == 4 ? 2 : samples == 2 ? 1 : 0;
    unsigned char *out = (unsigned char *)destination + (ptrdiff_t)startRow * destinationPitch;
    const unsigned char *in = (const unsigned char *)source + (ptrdiff_t)startRow * sourcePitch;
    for (int y = 0; y < sourceHeight / stepY; y++) {
        for (int x = 0; x < sourceWidth / stepX; x++) {
            uint32_t sums[4] = {0, 0, 0, 0};
            for (int sy = 0; sy < stepY; sy++) {
                for (int sx = 0; sx < stepX; sx++) {
                    const unsigned char *p = in + (ptrdiff_t)(y * stepY + sy) * sourcePitch +
                                             (ptrdiff_t)(sourceX + x * stepX + sx) * bytesPerPixel;
                    uint32_t value = ReadPixelValue(p, bytesPerPixel);
                    for (int c = 0; c < 4; c++) {
                        sums[c] += (value & masks[c]) >> shifts[c];
                    }
                }
            }
            uint32_t value = 0;
            for (int c = 0; c < 4; c++) {
                value |= ((sums[c] >> sampleShift) << shifts[c]) & masks[c];
            }
            WritePixelValue(out + (ptrdiff_t)y * destinationPitch + (ptrdiff_t)(destinationX + x) * bytesPerPixel,
                       bytesPerPixel, value);
        }
    }
    return 0;
}

int FillMemImgRect(MEMIMG *image, const RECT *rect, uint32_t value)
{
    if (!IsValidMemImg(image)) {
        return AddLog("塗りつぶすソフトウエアイメージが不正です\n");
    }
    RECT area = rect != NULL ? *rect : MakeRect(0, 0, image->width, image->height);
    if (area.left < 0) area.left = 0;
    if (area.top < 0) area.top = 0;
    if (area.right > image->width) area.right = image->width;
    if (area.bottom > image->height) area.bottom = image->height;
    if (area.right <= area.left || area.bottom <= area.top) {
        return 0;
    }
    int bytesPerPixel = image->block->format->bytesPerPixel;
    if (bytesPerPixel != 1 && bytesPerPixel != 2 && bytesPerPixel != 4) {
        return 0;
    }
    InvalidateMemImgDerivedData(image);
    for (int y = area.top; y < area.bottom; y++) {
        unsigned char *row = image->pixels + (ptrdiff_t)y * image->block->pitch;
        for (int x = area.left; x < area.right; x++) {
            WritePixelValue(row + x * bytesPerPixel, bytesPerPixel, value);
        }
    }
    return 0;
}
