// Shared helpers of the image loaders: exact reads through a StreamRef, stream sizes, and the 64-bit size
// checks every loader runs on the sizes a file claims before it allocates or reads anything.
// Internal to image/; each helper is called only on the thread that runs the loader.
#pragma once

#include "image/image.h"

// Largest pixel block and side a loader accepts: far beyond any picture the engine shows, small enough that a
// damaged header cannot ask a 32-bit process for most of its address space.
#define IMAGE_BLOCK_LIMIT 0x4000000ULL
#define IMAGE_SIDE_LIMIT 16384

// Reads exactly `count` bytes (element size 1, so a short read is seen as short): 0, or -1 on a short read.
int ReadStreamExact(StreamRef *stream, void *buffer, size_t count);
// Total size of the stream (seek to the end, tell, seek back to where it was); -1 when it cannot be told.
long long GetStreamSize(StreamRef *stream);
// Bytes from the current position to the end; -1 when it cannot be told.
long long GetStreamRemaining(StreamRef *stream);
// a x b x c when every factor is positive and the product stays within IMAGE_BLOCK_LIMIT, else -1.
long long CheckedBlockSize(long long a, long long b, long long c);
// Sets the A8R8G8B8 fields on top of SetRGB24PixelFormat, as the raw, PNG and 32-bit loaders describe them.
void SetLoaderARGB8PixelFormat(PixelFormat *format);

static inline unsigned int ReadLE16(const unsigned char *p)
{
    return (unsigned int)p[0] | (unsigned int)p[1] << 8;
}

static inline unsigned int ReadLE32(const unsigned char *p)
{
    return (unsigned int)p[0] | (unsigned int)p[1] << 8 | (unsigned int)p[2] << 16 | (unsigned int)p[3] << 24;
}

// Which decoder a BMP of this bit count and compression goes to: run-length (RLE8 with 8 bits, RLE4 with 4), the
// 4-bit unpacker, the packed copy (uncompressed 8, 24 and 32 bits), or GDI for every other variant.
enum BmpDecoder {
    BMP_DECODER_RUN_LENGTH,
    BMP_DECODER_4BIT,
    BMP_DECODER_PACKED,
    BMP_DECODER_GDI,
};
int ChooseBmpDecoder(int bits, unsigned int compression);

// The BMP variants that the loader leaves to GDI: converted to 24-bit pixels, -1 when GDI cannot draw them.
// `header` is a BITMAPINFOHEADER followed by its colour table or masks; `data` holds every row of an uncompressed
// picture (checked), and the header's image size names the bytes of a compressed one.
int DecodeBmpThroughDib(const unsigned char *header, const unsigned char *data, int width, int height,
                        BaseImage *image);
