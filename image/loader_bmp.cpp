// BMP loader: uncompressed 4-, 8-, 24- and 32-bit pictures and RLE4/RLE8 run-length pictures, bottom-up or
// top-down, with 40-byte and larger (V4, V5) info headers; every other variant (1, 2 and 16 bits, bit fields, other
// compressions) goes to the GDI conversion. Every size the file states is checked against the data actually present
// before it is used, and the run-length decoders write only inside the image. Runs on the loading thread.
#include "image/loader_internal.h"

#include <string.h>

#define BMP_FILE_HEADER_SIZE 14
#define BMP_INFO_HEADER_SIZE 40
#define BMP_RGB 0
#define BMP_RLE8 1
#define BMP_RLE4 2
#define BMP_BITFIELDS 3

struct BmpInfo {
    int width;
    int rows;
    int bottomUp;
    int bits;
    unsigned int compression;
    size_t rowSize; // stored bytes per row, padded to 4
    // A 40-byte info header followed by the colour table (up to 256 entries) or the three bit-field masks: the
    // block the GDI conversion is handed.
    unsigned char header[BMP_INFO_HEADER_SIZE + 256 * 4];
};

static void StoreLE32(unsigned char *p, unsigned int value)
{
    p[0] = (unsigned char)value;
    p[1] = (unsigned char)(value >> 8);
    p[2] = (unsigned char)(value >> 16);
    p[3] = (unsigned char)(value >> 24);
}

static int SeekStream(StreamRef *stream, long long offset)
{
    return stream->functions.seek(stream->handle, (int)offset, STREAM_ORIGIN_START);
}

static int IsUncompressedBmp(const BmpInfo *info)
{
    return info->compression == BMP_RGB || info->compression == BMP_BITFIELDS;
}

// Reads the headers and colour table or masks; refuses anything whose sizes cannot be right.
static int ReadBmpInfo(StreamRef *stream, long long streamSize, BmpInfo *info, unsigned int *dataOffset)
{
    unsigned char fileHeader[BMP_FILE_HEADER_SIZE];
    memset(info, 0, sizeof(*info));
    if (ReadStreamExact(stream, fileHeader, sizeof(fileHeader)) != 0 || fileHeader[0] != 'B' || fileHeader[1] != 'M' ||
        ReadStreamExact(stream, info->header, BMP_INFO_HEADER_SIZE) != 0) {
        return -1;
    }
    *dataOffset = ReadLE32(fileHeader + 10);
    unsigned int headerSize = ReadLE32(info->header);
    long long width = (int)ReadLE32(info->header + 4);
    long long height = (int)ReadLE32(info->header + 8);
    info->bits = (int)ReadLE16(info->header + 14);
    info->compression = ReadLE32(info->header + 16);
    unsigned int colorsUsed = ReadLE32(info->header + 32);
    if (headerSize < BMP_INFO_HEADER_SIZE || BMP_FILE_HEADER_SIZE + (long long)headerSize > streamSize ||
        *dataOffset > streamSize || width < 1 || width > IMAGE_SIDE_LIMIT || height == 0 ||
        height < -IMAGE_SIDE_LIMIT || height > IMAGE_SIDE_LIMIT) {
        return -1;
    }
    if (info->bits > 32) {
        return -1;
    }
    info->width = (int)width;
    info->rows = (int)(height < 0 ? -height : height);
    info->bottomUp = height > 0;
    info->rowSize = (size_t)(((long long)info->bits * width + 31) / 32 * 4);
    unsigned int entries = info->bits >= 1 && info->bits <= 8 ? 1u << info->bits : 0;
    if (colorsUsed > 0 && colorsUsed < entries) {
        entries = colorsUsed;
    }
    // What follows is handed on as a plain 40-byte header, whatever size the file's own header has, naming only
    // the colour entries that the block holds.
    StoreLE32(info->header, BMP_INFO_HEADER_SIZE);
    StoreLE32(info->header + 32, entries);
    StoreLE32(info->header + 36, 0);
    if (!IsUncompressedBmp(info)) {
        // Compressed data is read by its stated size: let that be exactly the data the file holds.
        StoreLE32(info->header + 20, (unsigned int)(streamSize - *dataOffset));
    }
    if (entries > 0) {
        // The colour table follows the info header, whose size differs between header versions.
        return SeekStream(stream, BMP_FILE_HEADER_SIZE + (long long)headerSize) != 0
                   ? -1
                   : ReadStreamExact(stream, info->header + BMP_INFO_HEADER_SIZE, entries * 4);
    }
    if (info->compression == BMP_BITFIELDS) {
        // Three masks, after a 40-byte header or inside a larger one at the same place.
        return ReadStreamExact(stream, info->header + BMP_INFO_HEADER_SIZE, 12);
    }
    return 0;
}

static void CopyBmpPalette(const BmpInfo *info, PixelFormat *format, int entries)
{
    SetPalette8PixelFormat(format);
    memset(format->palette, 0, sizeof(format->palette));
    for (int i = 0; i < entries; i++) {
        const unsigned char *entry = info->header + BMP_INFO_HEADER_SIZE + i * 4;
        format->palette[i].blue = entry[0];
        format->palette[i].green = entry[1];
        format->palette[i].red = entry[2];
    }
}

struct RunLengthTarget {
    unsigned char *pixels;
    size_t pitch;
    int width;
    int rows;
    int bottomUp;
};

static void PutRunLengthPixel(const RunLengthTarget *target, long long x, long long line, int value)
{
    if (x < target->width) {
        long long row = target->bottomUp ? target->rows - 1 - line : line;
        target->pixels[(size_t)row * target->pitch + (size_t)x] = (unsigned char)value;
    }
}

static int RunLengthValue(int byte, int index, int nibbles)
{
    if (!nibbles) {
        return byte;
    }
    return (index & 1) ? byte & 0x0F : byte >> 4;
}

// RLE8 (nibbles 0) and RLE4 (nibbles 1) into one byte per pixel. A run is cut at the row's end; decoding stops
// at the end of the picture, at the end of the data, and at a move that leaves the image.
static void DecodeBmpRunLength(const unsigned char *data, size_t size, const RunLengthTarget *target, int nibbles)
{
    size_t in = 0;
    long long x = 0;
    long long line = 0;
    while (size - in >= 2) {
        int count = data[in];
        int value = data[in + 1];
        in += 2;
        if (count > 0) {
            for (int i = 0; i < count; i++) {
                PutRunLengthPixel(target, x++, line, RunLengthValue(value, i, nibbles));
            }
        } else if (value == 0) {
            x = 0;
            if (++line >= target->rows) {
                return;
            }
        } else if (value == 1) {
            return;
        } else if (value == 2) {
            // Delta: right and down (towards the last decoded line) from the current position.
            if (size - in < 2) {
                return;
            }
            x += data[in];
            line += data[in + 1];
            in += 2;
            if (x > target->width || line >= target->rows) {
                return;
            }
        } else {
            size_t bytes = nibbles ? ((size_t)value + 1) / 2 : (size_t)value;
            if (size - in < bytes) {
                return;
            }
            for (int i = 0; i < value; i++) {
                int byte = data[in + (nibbles ? i / 2 : i)];
                PutRunLengthPixel(target, x++, line, RunLengthValue(byte, i, nibbles));
            }
            in += bytes + (bytes & 1);
            if (in > size) {
                return;
            }
        }
    }
}

// The zeroed one-byte-per-pixel block that 4-bit and run-length pictures are unpacked into; rows padded to 4.
static int AllocateIndexBlock(const BmpInfo *info, BaseImage *image)
{
    long long pitch = ((long long)info->width + 3) & ~3LL;
    if (CheckedBlockSize(pitch, info->rows, 1) < 0) {
        return -1;
    }
    image->pixels = (unsigned char *)ENGINE_ALLOC_ZEROED((size_t)pitch * (size_t)info->rows);
    image->pitch = (int)pitch;
    return image->pixels == NULL ? -1 : 0;
}

static int DecodeBmpRunLengthImage(const BmpInfo *info, const unsigned char *data, size_t dataSize, BaseImage *image)
{
    if (AllocateIndexBlock(info, image) != 0) {
        return -1;
    }
    size_t pitch = (size_t)image->pitch;
    RunLengthTarget target = {image->pixels, pitch, info->width, info->rows, info->bottomUp};
    int nibbles = info->compression == BMP_RLE4;
    DecodeBmpRunLength(data, dataSize, &target, nibbles);
    CopyBmpPalette(info, &image->format, nibbles ? 16 : 256);
    return 0;
}

static const unsigned char *StoredBmpRow(const BmpInfo *info, const unsigned char *data, int y)
{
    return data + (size_t)(info->bottomUp ? info->rows - 1 - y : y) * info->rowSize;
}

static int DecodeBmp4BitImage(const BmpInfo *info, const unsigned char *data, BaseImage *image)
{
    if (AllocateIndexBlock(info, image) != 0) {
        return -1;
    }
    size_t pitch = (size_t)image->pitch;
    for (int y = 0; y < info->rows; y++) {
        const unsigned char *from = StoredBmpRow(info, data, y);
        unsigned char *to = image->pixels + (size_t)y * pitch;
        for (int x = 0; x < info->width; x++) {
            to[x] = (unsigned char)RunLengthValue(from[x / 2], x, 1);
        }
    }
    CopyBmpPalette(info, &image->format, 16);
    return 0;
}

// 8, 24 and 32 bits: a top-down picture keeps the data block it was read into; a bottom-up one is turned over.
static int DecodeBmpPackedImage(const BmpInfo *info, unsigned char **data, BaseImage *image)
{
    if (!info->bottomUp) {
        image->pixels = *data;
        *data = NULL;
    } else {
        image->pixels = (unsigned char *)ENGINE_ALLOC(info->rowSize * (size_t)info->rows);
        if (image->pixels == NULL) {
            return -1;
        }
        for (int y = 0; y < info->rows; y++) {
            memcpy(image->pixels + (size_t)y * info->rowSize, StoredBmpRow(info, *data, y), info->rowSize);
        }
    }
    image->pitch = (int)info->rowSize;
    if (info->bits == 8) {
        CopyBmpPalette(info, &image->format, 256);
    } else if (info->bits == 24) {
        SetRGB24PixelFormat(&image->format);
    } else {
        SetARGB8PixelFormat(&image->format);
    }
    return 0;
}

int ChooseBmpDecoder(int bits, unsigned int compression)
{
    if ((compression == BMP_RLE8 && bits == 8) || (compression == BMP_RLE4 && bits == 4)) {
        return BMP_DECODER_RUN_LENGTH;
    }
    if (compression == BMP_RGB && bits == 4) {
        return BMP_DECODER_4BIT;
    }
    if (compression == BMP_RGB && (bits == 8 || bits == 24 || bits == 32)) {
        return BMP_DECODER_PACKED;
    }
    return BMP_DECODER_GDI;
}

static int DecodeBmpData(const BmpInfo *info, unsigned char **data, size_t dataSize, BaseImage *image)
{
    if (IsUncompressedBmp(info)) {
        // Every uncompressed row must be present in the data.
        long long needed = CheckedBlockSize((long long)info->rowSize, info->rows, 1);
        if (needed < 0 || (long long)dataSize < needed) {
            return -1;
        }
    }
    switch (ChooseBmpDecoder(info->bits, info->compression)) {
    case BMP_DECODER_RUN_LENGTH:
        return DecodeBmpRunLengthImage(info, *data, dataSize, image);
    case BMP_DECODER_4BIT:
        return DecodeBmp4BitImage(info, *data, image);
    case BMP_DECODER_PACKED:
        return DecodeBmpPackedImage(info, data, image);
    default:
        // GDI is told the size of compressed data, so it needs some.
        return dataSize == 0 ? -1
                             : DecodeBmpThroughDib(info->header, *data, info->width,
                                                   info->bottomUp ? info->rows : -info->rows, image);
    }
}

int DecodeBmpImage(StreamRef *stream, BaseImage *image)
{
    long long streamSize = GetStreamSize(stream);
    BmpInfo *info = (BmpInfo *)ENGINE_ALLOC(sizeof(BmpInfo));
    unsigned int dataOffset = 0;
    if (info == NULL) {
        return -1;
    }
    if (streamSize < 0 || ReadBmpInfo(stream, streamSize, info, &dataOffset) != 0 ||
        SeekStream(stream, dataOffset) != 0) {
        FreeMemory(info);
        return -1;
    }
    size_t dataSize = (size_t)(streamSize - dataOffset);
    unsigned char *data = (unsigned char *)ENGINE_ALLOC(dataSize + 1);
    int result = -1;
    if (data != NULL && ReadStreamExact(stream, data, dataSize) == 0) {
        result = DecodeBmpData(info, &data, dataSize, image);
    }
    if (result == 0) {
        image->width = info->width;
        image->height = info->rows;
    } else {
        FreeBaseImageData(image);
    }
    FreeMemory(data);
    FreeMemory(info);
    return result;
}
