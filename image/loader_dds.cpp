// DDS loader: DXT1-5 block-compressed pictures, packed pictures described by bit count and channel masks, and
// packed pictures named by a Direct3D format number in the FourCC field; with their mip chains. Dimensions, bit
// count and pitch are checked before use and the data size comes from the mip-chain rule shared with the pixel
// format code. Runs on the loading thread.
#include "image/loader_internal.h"

#include <string.h>

#define DDS_HEADER_SIZE 124
#define DDS_FLAG_PITCH 0x8
#define DDS_FLAG_MIPMAP_COUNT 0x20000
#define DDS_PIXEL_FOURCC 0x4
#define DDS_PIXEL_RGB 0x40
#define DDS_CAPS_COMPLEX 0x8
#define DDS_CAPS_MIPMAP 0x400000
#define DDS_MIP_LEVEL_LIMIT 32

struct DdsFormatRow {
    int formatNumber;
    int bits;
    uint32_t redMask, greenMask, blueMask, alphaMask;
};

static const DdsFormatRow s_DdsFormatTable[] = {
    {20, 24, 0xFF0000, 0xFF00, 0xFF, 0},
    {21, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000},
    {22, 32, 0xFF0000, 0xFF00, 0xFF, 0},
    {23, 16, 0xF800, 0x7E0, 0x1F, 0},
    {24, 16, 0x7C00, 0x3E0, 0x1F, 0},
    {25, 16, 0x7C00, 0x3E0, 0x1F, 0x8000},
    {26, 16, 0xF00, 0xF0, 0xF, 0xF000},
    {27, 8, 0xE0, 0x1C, 0x3, 0},
    {29, 16, 0xE0, 0x1C, 0x3, 0xFF00},
    {30, 16, 0xF00, 0xF0, 0xF, 0},
    {31, 32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000},
    {32, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000},
    {33, 32, 0xFF, 0xFF00, 0xFF0000, 0},
    {35, 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000},
    {-1, 0, 0, 0, 0, 0},
};

static int SetDdsTableFormat(uint32_t fourCC, PixelFormat *format)
{
    for (const DdsFormatRow *row = s_DdsFormatTable; row->formatNumber != -1; row++) {
        if ((uint32_t)row->formatNumber == fourCC) {
            return CreatePixelFormatFromMasks(format, row->bits, row->redMask, row->greenMask, row->blueMask,
                                              row->alphaMask);
        }
    }
    return -1;
}

// Builds the format from the pixel-format block (header offsets 72..103); -1 for what cannot be read.
static int SetDdsPixelFormat(const unsigned char *header, PixelFormat *format)
{
    uint32_t flags = ReadLE32(header + 76);
    uint32_t fourCC = ReadLE32(header + 80);
    uint32_t bitCount = ReadLE32(header + 84);
    const unsigned char *masks = header + 88;
    int inTable = flags == DDS_PIXEL_FOURCC && SetDdsTableFormat(fourCC, format) == 0;
    if (flags & DDS_PIXEL_FOURCC) {
        const unsigned char *name = header + 80;
        if (memcmp(name, "DXT", 3) == 0 && name[3] >= '1' && name[3] <= '5') {
            int code = name[3] - '0';
            CreatePixelFormatFromMasks(format, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
            format->bitsPerPixel = code == PIXEL_FORMAT_DXT1 ? 4 : 8;
            format->formatCode = (uint32_t)code;
            return 0;
        }
        return inTable ? 0 : -1;
    }
    if ((flags & DDS_PIXEL_RGB) && (bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32)) {
        return CreatePixelFormatFromMasks(format, (int)bitCount, ReadLE32(masks), ReadLE32(masks + 4),
                                          ReadLE32(masks + 8), ReadLE32(masks + 12));
    }
    return -1;
}

int DecodeDdsImage(StreamRef *stream, BaseImage *image)
{
    unsigned char magic[4];
    unsigned char header[DDS_HEADER_SIZE];
    if (ReadStreamExact(stream, magic, sizeof(magic)) != 0 || memcmp(magic, "DDS", 3) != 0 ||
        ReadStreamExact(stream, header, sizeof(header)) != 0) {
        return -1;
    }
    uint32_t flags = ReadLE32(header + 4);
    uint32_t height = ReadLE32(header + 8);
    uint32_t width = ReadLE32(header + 12);
    uint32_t headerPitch = ReadLE32(header + 16);
    uint32_t mipCount = ReadLE32(header + 24);
    uint32_t caps = ReadLE32(header + 104);
    if (width == 0 || height == 0 || width > IMAGE_SIDE_LIMIT || height > IMAGE_SIDE_LIMIT ||
        SetDdsPixelFormat(header, &image->format) != 0) {
        return -1;
    }
    int hasMips = (flags & DDS_FLAG_MIPMAP_COUNT) && (caps & DDS_CAPS_MIPMAP) && (caps & DDS_CAPS_COMPLEX);
    if (!hasMips) {
        mipCount = 0;
    }
    long long pitch = 0;
    if (image->format.formatCode == PIXEL_FORMAT_PACKED) {
        long long rowBytes = (long long)image->format.bytesPerPixel * width;
        pitch = (flags & DDS_FLAG_PITCH) ? headerPitch : rowBytes;
        if (pitch < rowBytes || CheckedBlockSize(pitch, height, 1) < 0) {
            return -1;
        }
    }
    if (mipCount > DDS_MIP_LEVEL_LIMIT) {
        return -1;
    }
    long long size = GetMipChainDataSize(&image->format, (int)width, (int)height, (int)pitch, (int)mipCount);
    if (size <= 0 || size > (long long)IMAGE_BLOCK_LIMIT || GetStreamRemaining(stream) < size) {
        return -1;
    }
    image->pixels = (unsigned char *)ENGINE_ALLOC((size_t)size);
    if (image->pixels == NULL || ReadStreamExact(stream, image->pixels, (size_t)size) != 0) {
        FreeBaseImageData(image);
        return -1;
    }
    image->width = (int)width;
    image->height = (int)height;
    image->pitch = (int)pitch;
    image->mipCount = (int)mipCount;
    return 0;
}
