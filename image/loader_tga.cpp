// TGA loader: colour-mapped and true-colour pictures, plain or run-length (types 1, 2, 9, 10), 16, 24 or 32 bits,
// any of the four orientations, with or without the 26-byte footer. The image ID and an unused colour map are
// skipped; a colour map must fit the 256-entry table. Pixels a run-length stream does not reach stay zero.
// Runs on the loading thread.
#include "image/loader_internal.h"

#include <string.h>

#define TGA_HEADER_SIZE 18
#define TGA_FOOTER_SIZE 26
#define TGA_SIDE_LIMIT 8192
#define TGA_COLOR_MAP_ENTRIES 256

struct TgaHeader {
    int idLength;
    int colorMapType;
    int imageType;
    int colorMapFirst;
    int colorMapLength;
    int colorMapEntryBits;
    int width;
    int height;
    int pixelBits; // of the stored pixels: the map entries' size for colour-mapped images
    int indexBits;
    int descriptor;
    int hasOrigin;
};

static int HasTgaFooter(StreamRef *stream)
{
    unsigned char footer[TGA_FOOTER_SIZE];
    int found = stream->functions.seek(stream->handle, -TGA_FOOTER_SIZE, STREAM_ORIGIN_END) == 0 &&
                ReadStreamExact(stream, footer, sizeof(footer)) == 0 &&
                memcmp(footer + 8, "TRUEVISION-XFILE", 16) == 0 && ReadLE32(footer) == 0;
    if (stream->functions.seek(stream->handle, 0, STREAM_ORIGIN_START) != 0) {
        return -1;
    }
    return found;
}

static int ReadTgaHeader(StreamRef *stream, TgaHeader *header)
{
    unsigned char raw[TGA_HEADER_SIZE];
    if (ReadStreamExact(stream, raw, sizeof(raw)) != 0) {
        return -1;
    }
    header->idLength = raw[0];
    header->colorMapType = raw[1];
    header->imageType = raw[2];
    header->colorMapFirst = (int)ReadLE16(raw + 3);
    header->colorMapLength = (int)ReadLE16(raw + 5);
    header->colorMapEntryBits = raw[7];
    header->hasOrigin = ReadLE16(raw + 8) != 0 || ReadLE16(raw + 10) != 0;
    header->width = (int)ReadLE16(raw + 12);
    header->height = (int)ReadLE16(raw + 14);
    header->indexBits = raw[16];
    header->descriptor = raw[17];
    int mapped = header->imageType == 1 || header->imageType == 9;
    header->pixelBits = mapped ? header->colorMapEntryBits : header->indexBits;
    if ((header->imageType != 1 && header->imageType != 2 && header->imageType != 9 && header->imageType != 10) ||
        header->hasOrigin || header->width == 0 || header->height == 0 || header->width > TGA_SIDE_LIMIT ||
        header->height > TGA_SIDE_LIMIT) {
        return -1;
    }
    if (header->pixelBits != 16 && header->pixelBits != 24 && header->pixelBits != 32) {
        return -1;
    }
    // Colour-mapped pixels are one-byte indices into a map that must lie inside the 256-entry table.
    if (mapped && (header->indexBits != 8 || header->colorMapFirst + header->colorMapLength > TGA_COLOR_MAP_ENTRIES)) {
        return -1;
    }
    return 0;
}

static void SetTgaPixelFormat(PixelFormat *format, int bits)
{
    if (bits == 16) {
        CreatePixelFormatFromMasks(format, 16, 0x7C00, 0x3E0, 0x1F, 0);
    } else if (bits == 24) {
        CreatePixelFormatFromMasks(format, 24, 0xFF0000, 0xFF00, 0xFF, 0);
    } else {
        CreatePixelFormatFromMasks(format, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
    }
}

// Reads the colour map into `map` (256 entries of entryBytes, zero elsewhere) or skips an unused one.
static int ReadTgaColorMap(StreamRef *stream, const TgaHeader *header, unsigned char *map)
{
    if (header->colorMapType == 0) {
        return 0;
    }
    size_t entryBytes = ((size_t)header->colorMapEntryBits + 7) / 8;
    size_t mapBytes = entryBytes * (size_t)header->colorMapLength;
    if (header->imageType == 1 || header->imageType == 9) {
        return ReadStreamExact(stream, map + entryBytes * (size_t)header->colorMapFirst, mapBytes);
    }
    return GetStreamRemaining(stream) < (long long)mapBytes
               ? -1
               : stream->functions.seek(stream->handle, (int)mapBytes, STREAM_ORIGIN_CURRENT);
}

// Run-length packets of `unitBytes` units from data[0..dataSize) into out[0..unitCount units); stops at the end
// of either. Units it does not reach keep their value.
static void DecodeTgaPackets(const unsigned char *data, size_t dataSize, unsigned char *out, size_t unitCount,
                             size_t unitBytes)
{
    size_t in = 0;
    size_t written = 0;
    while (written < unitCount && in < dataSize) {
        int packet = data[in++];
        size_t count = (size_t)(packet & 0x7F) + 1;
        if (count > unitCount - written) {
            count = unitCount - written;
        }
        if (packet & 0x80) {
            if (dataSize - in < unitBytes) {
                return;
            }
            for (size_t i = 0; i < count; i++) {
                memcpy(out + (written + i) * unitBytes, data + in, unitBytes);
            }
            in += unitBytes;
        } else {
            if ((dataSize - in) / unitBytes < count) {
                return;
            }
            memcpy(out + written * unitBytes, data + in, count * unitBytes);
            in += count * unitBytes;
        }
        written += count;
    }
}

// Reads the stored units (indices or pixels) into a zeroed block: exactly unitCount of them for plain types,
// packets from the rest of the stream (less the footer) for run-length ones.
static unsigned char *ReadTgaUnits(StreamRef *stream, const TgaHeader *header, int hasFooter, size_t unitCount,
                                   size_t unitBytes)
{
    long long remaining = GetStreamRemaining(stream);
    long long blockBytes = (long long)unitCount * (long long)unitBytes;
    if (remaining < 0) {
        return NULL;
    }
    int runLength = header->imageType >= 9;
    if (!runLength && remaining < blockBytes) {
        return NULL;
    }
    unsigned char *units = (unsigned char *)ENGINE_ALLOC_ZEROED((size_t)blockBytes);
    if (units == NULL) {
        return NULL;
    }
    if (!runLength) {
        if (ReadStreamExact(stream, units, (size_t)blockBytes) != 0) {
            FreeMemory(units);
            return NULL;
        }
        return units;
    }
    if (hasFooter) {
        remaining = remaining > TGA_FOOTER_SIZE ? remaining - TGA_FOOTER_SIZE : 0;
    }
    unsigned char *packets = (unsigned char *)ENGINE_ALLOC((size_t)remaining + 1);
    if (packets == NULL || ReadStreamExact(stream, packets, (size_t)remaining) != 0) {
        FreeMemory(packets);
        FreeMemory(units);
        return NULL;
    }
    DecodeTgaPackets(packets, (size_t)remaining, units, unitCount, unitBytes);
    FreeMemory(packets);
    return units;
}

static unsigned char *ExpandTgaIndices(const unsigned char *indices, size_t count, const unsigned char *map,
                                       size_t entryBytes)
{
    unsigned char *pixels = (unsigned char *)ENGINE_ALLOC(count * entryBytes);
    if (pixels != NULL) {
        for (size_t i = 0; i < count; i++) {
            memcpy(pixels + i * entryBytes, map + indices[i] * entryBytes, entryBytes);
        }
    }
    return pixels;
}

// Rewrites the pixels top-down and left-to-right; a picture already stored so keeps its block.
static int OrientTgaPixels(BaseImage *image, int descriptor)
{
    int rightToLeft = (descriptor & 0x10) != 0;
    int bottomUp = (descriptor & 0x20) == 0;
    if (!rightToLeft && !bottomUp) {
        return 0;
    }
    size_t pitch = (size_t)image->pitch;
    size_t bytes = image->format.bytesPerPixel;
    unsigned char *oriented = (unsigned char *)ENGINE_ALLOC(pitch * (size_t)image->height);
    if (oriented == NULL) {
        return -1;
    }
    for (int y = 0; y < image->height; y++) {
        const unsigned char *from = image->pixels + (size_t)(bottomUp ? image->height - 1 - y : y) * pitch;
        unsigned char *to = oriented + (size_t)y * pitch;
        if (!rightToLeft) {
            memcpy(to, from, pitch);
            continue;
        }
        for (int x = 0; x < image->width; x++) {
            memcpy(to + (size_t)x * bytes, from + (size_t)(image->width - 1 - x) * bytes, bytes);
        }
    }
    FreeMemory(image->pixels);
    image->pixels = oriented;
    return 0;
}

int DecodeTgaImage(StreamRef *stream, BaseImage *image)
{
    TgaHeader header;
    int hasFooter = HasTgaFooter(stream);
    if (hasFooter < 0 || ReadTgaHeader(stream, &header) != 0) {
        return -1;
    }
    // The image ID field lies between the header and the colour map.
    if (header.idLength != 0 && (GetStreamRemaining(stream) < header.idLength ||
                                 stream->functions.seek(stream->handle, header.idLength, STREAM_ORIGIN_CURRENT) != 0)) {
        return -1;
    }
    unsigned char map[TGA_COLOR_MAP_ENTRIES * 4];
    memset(map, 0, sizeof(map));
    if (ReadTgaColorMap(stream, &header, map) != 0) {
        return -1;
    }
    size_t pixelBytes = (size_t)header.pixelBits / 8;
    size_t pixelCount = (size_t)header.width * (size_t)header.height;
    if (CheckedBlockSize(header.width, header.height, (long long)pixelBytes) < 0) {
        return -1;
    }
    int mapped = header.imageType == 1 || header.imageType == 9;
    unsigned char *units = ReadTgaUnits(stream, &header, hasFooter, pixelCount, mapped ? 1 : pixelBytes);
    if (units == NULL) {
        return -1;
    }
    if (mapped) {
        unsigned char *pixels = ExpandTgaIndices(units, pixelCount, map, pixelBytes);
        FreeMemory(units);
        units = pixels;
        if (units == NULL) {
            return -1;
        }
    }
    SetTgaPixelFormat(&image->format, header.pixelBits);
    image->width = header.width;
    image->height = header.height;
    image->pitch = header.width * (int)pixelBytes;
    image->pixels = units;
    if (OrientTgaPixels(image, header.descriptor) != 0) {
        FreeBaseImageData(image);
        return -1;
    }
    return 0;
}
