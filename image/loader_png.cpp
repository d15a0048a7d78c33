// PNG loader on libpng: reads through the engine stream, asks libpng for 8-bit samples in B, G, R (A) order, and
// fills a palette, grey, grey-with-alpha, RGB or ARGB base image. libpng reports errors by a long jump back here;
// that path frees the tracked blocks already made. The library's messages are not printed: the dispatcher offers
// every picture to this loader, and a refusal is an ordinary answer. Runs on the loading thread.
#include "image/loader_internal.h"

#include <png.h>
#include <stdlib.h>
#include <string.h>

#define PNG_CHUNK_SIZE_LIMIT (8 * 1024 * 1024)
#define PNG_CHUNK_COUNT_LIMIT 256

struct PngInput {
    StreamRef *stream;
    long long end; // stream position of the data's end
};

// What the error path must free: written after the jump point is saved, so volatile.
struct PngBlocks {
    unsigned char *volatile pixels;
    png_bytep *volatile rows;
};

static void PngReadCallback(png_structp png, png_bytep destination, png_size_t length)
{
    PngInput *input = (PngInput *)png_get_io_ptr(png);
    int position = input->stream->functions.tell(input->stream->handle);
    if (position < 0 || input->end - position < (long long)length ||
        ReadStreamExact(input->stream, destination, length) != 0) {
        png_error(png, "Read Error");
    }
}

// libpng's own blocks (rows, chunk buffers, inflate state) are all small for the pictures accepted; a larger
// request comes from a damaged chunk length, which libpng checks only with a warning before it allocates.
static png_voidp PngLimitedMalloc(png_structp png, png_alloc_size_t size)
{
    return size > PNG_CHUNK_SIZE_LIMIT ? NULL : malloc(size);
}

static void PngFree(png_structp png, png_voidp block)
{
    free(block);
}

// libpng's own error and warning functions write to stderr ("libpng error: Not a PNG file" for every picture of
// another format). These write nothing; the error function leaves by the long jump the default one would take.
static void PngQuietError(png_structp png, png_const_charp message)
{
    png_longjmp(png, 1);
}

static void PngQuietWarning(png_structp png, png_const_charp message)
{
}

static void SetPngStreamSource(png_structp png, PngInput *input, StreamRef *stream)
{
    input->stream = stream;
    long long remaining = GetStreamRemaining(stream);
    int position = stream->functions.tell(stream->handle);
    input->end = remaining < 0 || position < 0 ? 0 : position + remaining;
    png_set_read_fn(png, input, PngReadCallback);
}

// Grey with alpha (also grey expanded by its tRNS chunk): two bytes, the grey in the low one; the alpha byte is
// carried in the unused bits.
static void SetPngGreyAlphaFormat(PixelFormat *format)
{
    memset(format, 0, sizeof(*format));
    format->bitsPerPixel = 16;
    format->bytesPerPixel = 2;
    format->redWidth = format->greenWidth = format->blueWidth = 8;
    format->redMask = format->greenMask = format->blueMask = 0xFF;
    format->unusedMask = 0xFF00;
}

static void SetPngPixelFormat(png_structp png, png_infop info, int colorType, int expanded, BaseImage *image)
{
    if (colorType == PNG_COLOR_TYPE_PALETTE && !expanded) {
        png_colorp palette = NULL;
        int count = 0;
        SetPalette8PixelFormat(&image->format);
        memset(image->format.palette, 0, sizeof(image->format.palette));
        if (png_get_PLTE(png, info, &palette, &count) != 0) {
            for (int i = 0; i < count && i < 256; i++) {
                image->format.palette[i].blue = palette[i].blue;
                image->format.palette[i].green = palette[i].green;
                image->format.palette[i].red = palette[i].red;
            }
        }
    } else if (colorType != PNG_COLOR_TYPE_GRAY && colorType != PNG_COLOR_TYPE_GRAY_ALPHA) {
        if (png_get_channels(png, info) == 4) {
            SetLoaderARGB8PixelFormat(&image->format);
        } else {
            SetRGB24PixelFormat(&image->format);
        }
    } else if (image->pitch / 2 >= image->width) {
        SetPngGreyAlphaFormat(&image->format);
    } else {
        SetGrayPalette8PixelFormat(&image->format);
    }
}

// Everything between the jump point and the end: any libpng error leaves through png_error's long jump.
static int ReadPngImage(png_structp png, png_infop info, StreamRef *stream, PngInput *input, PngBlocks *blocks,
                        BaseImage *image)
{
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colorType = 0;
    int interlace = 0;
    SetPngStreamSource(png, input, stream);
    // A damaged length field must not make libpng keep thousands of ancillary chunks or inflate a compressed one
    // without bound.
    png_set_user_limits(png, IMAGE_SIDE_LIMIT, IMAGE_SIDE_LIMIT);
    png_set_chunk_malloc_max(png, PNG_CHUNK_SIZE_LIMIT);
    png_set_chunk_cache_max(png, PNG_CHUNK_COUNT_LIMIT);
    png_set_sig_bytes(png, 0);
    png_read_info(png, info);
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, &interlace, NULL, NULL);

    png_set_strip_16(png);
    png_set_packing(png);
    png_set_packswap(png);
    int expanded = (colorType == PNG_COLOR_TYPE_GRAY && bitDepth <= 8) || png_get_valid(png, info, PNG_INFO_tRNS);
    if (expanded) {
        png_set_expand(png);
    }
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    size_t rowBytes = png_get_rowbytes(png, info);
    long long size = CheckedBlockSize((long long)rowBytes, height, 1);
    if (size < 0 || width > IMAGE_SIDE_LIMIT || height > IMAGE_SIDE_LIMIT) {
        return -1;
    }
    blocks->rows = (png_bytep *)ENGINE_ALLOC(sizeof(png_bytep) * height);
    blocks->pixels = (unsigned char *)ENGINE_ALLOC((size_t)size);
    if (blocks->rows == NULL || blocks->pixels == NULL) {
        return -1;
    }
    for (png_uint_32 y = 0; y < height; y++) {
        blocks->rows[y] = blocks->pixels + (size_t)y * rowBytes;
    }
    png_read_image(png, blocks->rows);
    png_read_end(png, NULL);

    image->width = (int)width;
    image->height = (int)height;
    image->pitch = (int)rowBytes;
    SetPngPixelFormat(png, info, colorType, expanded, image);
    return 0;
}

int DecodePngImage(StreamRef *stream, BaseImage *image)
{
    PngInput input;
    PngBlocks blocks;
    blocks.pixels = NULL;
    blocks.rows = NULL;
    png_structp png =
        png_create_read_struct_2(PNG_LIBPNG_VER_STRING, NULL, PngQuietError, PngQuietWarning, NULL,
                                 PngLimitedMalloc, PngFree);
    if (png == NULL) {
        return -1;
    }
    png_infop info = png_create_info_struct(png);
    if (info == NULL) {
        png_destroy_read_struct(&png, NULL, NULL);
        return -1;
    }
    int result = -1;
    if (setjmp(png_jmpbuf(png)) == 0) {
        result = ReadPngImage(png, info, stream, &input, &blocks, image);
    }
    FreeMemory(blocks.rows);
    if (result == 0) {
        image->pixels = blocks.pixels;
    } else {
        FreeMemory(blocks.pixels);
        memset(image, 0, sizeof(*image));
    }
    png_destroy_read_struct(&png, &info, NULL);
    return result;
}
