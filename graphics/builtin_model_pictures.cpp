// The model system's two built-in pictures as run-length true-colour TGA files: an 8 x 8 white picture (the texture
// of a material without one) and a 256 x 8 toon ramp (four bands of grey). Encoded once on first use, row by row,
// each run of equal pixels one packet. Window thread only.
#include "graphics/model_tables.h"

#define TGA_HEADER_SIZE 18
#define TGA_RUN_LIMIT 128

struct BuiltinPicture {
    int width, height;
    unsigned char (*grey)(int x);
    unsigned char bytes[TGA_HEADER_SIZE + 8 * 256 * 4]; // room for one packet a pixel
    int size;
};

static unsigned char WhiteAt(int x)
{
    return 255;
}

static unsigned char ToonBandAt(int x)
{
    static const unsigned char s_Bands[4] = {64, 128, 192, 255};
    return s_Bands[x / 64];
}

static BuiltinPicture s_Pictures[2] = {{8, 8, WhiteAt, {}, 0}, {256, 8, ToonBandAt, {}, 0}};

// Type 10 (run-length true colour), 24 bits, rows from the top.
static int WriteTgaHeader(unsigned char *out, int width, int height)
{
    MemFill(out, 0, TGA_HEADER_SIZE);
    out[2] = 10;
    out[12] = (unsigned char)(width & 0xFF);
    out[13] = (unsigned char)(width >> 8);
    out[14] = (unsigned char)(height & 0xFF);
    out[15] = (unsigned char)(height >> 8);
    out[16] = 24;
    out[17] = 0x20;
    return TGA_HEADER_SIZE;
}

static int EncodeRow(unsigned char *out, const BuiltinPicture *picture)
{
    int written = 0;
    for (int x = 0; x < picture->width;) {
        unsigned char grey = picture->grey(x);
        int run = 1;
        while (x + run < picture->width && run < TGA_RUN_LIMIT && picture->grey(x + run) == grey) {
            run++;
        }
        out[written++] = (unsigned char)(0x80 | (run - 1));
        out[written++] = grey;
        out[written++] = grey;
        out[written++] = grey;
        x += run;
    }
    return written;
}

const unsigned char *GetBuiltinModelPicture(int index, int *size)
{
    BuiltinPicture *picture = &s_Pictures[index];
    if (picture->size == 0) {
        int written = WriteTgaHeader(picture->bytes, picture->width, picture->height);
        for (int y = 0; y < picture->height; y++) {
            written += EncodeRow(picture->bytes + written, picture);
        }
        picture->size = written;
    }
    *size = picture->size;
    return picture->bytes;
}
