// Loader of the engine's own raw "BGRA" pictures: a 16-byte header (magic, channel-size code, width, height) and
// unpadded rows of blue, green, red, alpha channels of 8 or 16 bits. Sizes are checked against the stream before
// anything is allocated. Runs on the loading thread.
#include "image/loader_internal.h"

#include <string.h>

#define BGRA_CHANNELS_8 0x08080808u
#define BGRA_CHANNELS_16 0x10101010u

// 16-bit channels keep their high byte: each row is read whole and narrowed into its 8-bit row.
static int ReadBgra16Rows(StreamRef *stream, BaseImage *image)
{
    size_t rowBytes = (size_t)image->width * 8;
    unsigned char *row = (unsigned char *)ENGINE_ALLOC(rowBytes);
    if (row == NULL) {
        return -1;
    }
    for (int y = 0; y < image->height; y++) {
        if (ReadStreamExact(stream, row, rowBytes) != 0) {
            FreeMemory(row);
            return -1;
        }
        unsigned char *out = image->pixels + (size_t)y * image->pitch;
        for (int i = 0; i < image->width * 4; i++) {
            out[i] = row[i * 2 + 1];
        }
    }
    FreeMemory(row);
    return 0;
}

int DecodeBgraImage(StreamRef *stream, BaseImage *image)
{
    unsigned char header[16];
    if (ReadStreamExact(stream, header, sizeof(header)) != 0 || memcmp(header, "BGRA", 4) != 0) {
        return -1;
    }
    unsigned int code = ReadLE32(header + 4);
    unsigned int width = ReadLE32(header + 8);
    unsigned int height = ReadLE32(header + 12);
    if ((code != BGRA_CHANNELS_8 && code != BGRA_CHANNELS_16) || width == 0 || height == 0 ||
        width > IMAGE_SIDE_LIMIT || height > IMAGE_SIDE_LIMIT) {
        return -1;
    }
    long long size = CheckedBlockSize(width, height, 4);
    long long fileBytes = code == BGRA_CHANNELS_16 ? size * 2 : size;
    if (size < 0 || GetStreamRemaining(stream) < fileBytes) {
        return -1;
    }
    image->width = (int)width;
    image->height = (int)height;
    image->pitch = (int)width * 4;
    image->pixels = (unsigned char *)ENGINE_ALLOC((size_t)size);
    if (image->pixels == NULL) {
        return -1;
    }
    int result =
        code == BGRA_CHANNELS_8 ? ReadStreamExact(stream, image->pixels, (size_t)size) : ReadBgra16Rows(stream, image);
    if (result != 0) {
        FreeBaseImageData(image);
        return -1;
    }
    SetLoaderARGB8PixelFormat(&image->format);
    return 0;
}
