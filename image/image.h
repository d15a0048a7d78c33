// Images: pixel formats, base images, the image loaders, software images, blend tables and pixel transfer.
// The public contract of the subsystem: the only header other subsystems include.
// Nothing declared here keeps a lock: base images, software images and the blend tables belong to the thread that
// made them (in practice the window thread).
#pragma once

#include "core/core.h"

#include <stdint.h>

// ---------------------------------------------------------------------------------------------------------------
// Pixel formats.

enum PixelFormatCode {
    PIXEL_FORMAT_PACKED = 0,
    PIXEL_FORMAT_DXT1 = 1,
    PIXEL_FORMAT_DXT2 = 2,
    PIXEL_FORMAT_DXT3 = 3,
    PIXEL_FORMAT_DXT4 = 4,
    PIXEL_FORMAT_DXT5 = 5,
    PIXEL_FORMAT_FLOAT16X4 = 6, // four 16-bit float channels, 64 bits
    PIXEL_FORMAT_FLOAT32X4 = 7, // four 32-bit float channels, 128 bits
};

struct PaletteEntry {
    uint8_t blue;
    uint8_t green;
    uint8_t red;
    uint8_t reserved;
};

// How one pixel lies in memory. A pixel value is a little-endian integer of bytesPerPixel bytes (3-byte pixels as
// the low 24 bits); a 1-byte pixel indexes the palette, and the channel fields then give the form of its entries.
// Copied by value.
struct PixelFormat {
    uint16_t bitsPerPixel;  // 8, 16, 24, 32, 64, 128; 4 for DXT1 and 8 for DXT2-5
    uint16_t bytesPerPixel; // 1-4 for packed pixels; 4 for block-compressed images
    uint8_t redWidth, greenWidth, blueWidth, alphaWidth;
    uint8_t redShift, greenShift, blueShift, alphaShift;
    uint32_t redMask, greenMask, blueMask, alphaMask;
    uint32_t unusedMask; // pixel bits that belong to no channel
    PaletteEntry palette[256];
    uint8_t unusedShift, unusedWidth;
    uint32_t formatCode; // PixelFormatCode
};

int SetPalette8PixelFormat(PixelFormat *format);
int SetXRGB8PixelFormat(PixelFormat *format);
int SetARGB8PixelFormat(PixelFormat *format);
int SetRGB24PixelFormat(PixelFormat *format);
int SetGrayPalette8PixelFormat(PixelFormat *format);

int CreatePixelFormatFromMasks(PixelFormat *format, int bits, uint32_t redMask, uint32_t greenMask, uint32_t blueMask,
                               uint32_t alphaMask);
int ComputeUnusedBitsMask(PixelFormat *format);
uint32_t ColorToPixelValue(const PixelFormat *format, int red, int green, int blue, int alpha);
int SplitPixelComponents(const PixelFormat *format, uint32_t value, int *red, int *green, int *blue, int *alpha);

// ---------------------------------------------------------------------------------------------------------------
// Base images: decoded pictures in main memory, filled by the loaders. An all-zero record is the empty image.

struct BaseImage {
    PixelFormat format;
    int width;
    int height;
    int pitch;             // bytes from one row to the next; 0 for block-compressed images
    unsigned char *pixels; // owned, from the tracked allocator; null when empty
    int mipCount;          // levels stored back to back in pixels; 0 or 1 means one level
};

// Size in bytes of mip level `level` of an image of the given format, level-0 size and level-0 pitch. Every level
// is measured on its own grid: level sizes are max(1, size >> level); a block-compressed level holds its whole 4x4
// blocks, at least one block each way (a level below 4x4 is still stored as one block); a packed level past level 0
// holds unpadded rows. The DDS loader and GetBaseImageDataSize both count with this, so they always agree.
int64_t GetMipLevelDataSize(const PixelFormat *format, int width, int height, int pitch, int level);
// Sum of GetMipLevelDataSize over max(1, mipCount) levels; 0 for a non-positive size.
int64_t GetMipChainDataSize(const PixelFormat *format, int width, int height, int pitch, int mipCount);

uint32_t GetBaseImagePixelColor(const BaseImage *image, int x, int y);
int GetBaseImagePixelComponents(BaseImage *image, int x, int y, int *red, int *green, int *blue, int *alpha);
int SetBaseImagePixel(BaseImage *image, int x, int y, int red, int green, int blue, int alpha);
int GetBaseImageDataSize(const BaseImage *image);
int FreeBaseImageData(BaseImage *image);
int CreateBaseImageLike(int width, int height, const BaseImage *model, BaseImage *image);
int NewARGB8BaseImage(int width, int height, BaseImage *image);
int NewXRGB8BaseImage(int width, int height, BaseImage *image);
int ClearBaseImageRect(BaseImage *image, int x, int y, int width, int height);

// Decodes a DXT1-5 image in place into A8R8G8B8 (first mip level only; the mip count becomes 1).
int ConvertBaseImageToNormal(BaseImage *image);

// ---------------------------------------------------------------------------------------------------------------
// Software images: MEMIMG views over a shared, reference-counted MemImgBlock.

#define MEMIMG_LIVE_TAG 0x12345678u

enum MemImgKind {
    MEMIMG_KIND_RGB16 = 0,     // R5G6B5
    MEMIMG_KIND_RGB32 = 1,     // X8R8G8B8
    MEMIMG_KIND_CHANNEL8 = 2,  // one 8-bit channel
    MEMIMG_KIND_CHANNEL16 = 3, // one 16-bit channel
};

// Run-table bytes: a run of n pixels (1..64) of one class is (n - 1) | class; each row ends with RUN_TABLE_ROW_END.
#define RUN_TABLE_TRANSPARENT 0x00
#define RUN_TABLE_OPAQUE 0x40
#define RUN_TABLE_TRANSLUCENT 0x80
#define RUN_TABLE_ROW_END 0xC0
#define RUN_TABLE_MAX_RUN 64

struct MemImgBlock {
    int referenceCount;
    int width, height; // of the whole block
    int pitch;
    int pitchShift; // log2 of the pitch when it is a power of two, else -1
    const PixelFormat *format;
    uint32_t transparentValue; // raw pixel value counted as transparent
    int kind;                  // MemImgKind
    int paletteFlag;
    int paletteEntriesUsed;
    int alphaFlag;
    int premultipliedValid;
    int runTableValid;
    int callerMemory; // pixels belong to the caller
    void *palette;     // 256 entries in the kind's colour form; first half of a 2048-byte block
    void *paletteCopy; // second 1024 bytes of the palette block
    unsigned char *pixels;
    unsigned char *premultiplied; // or null
    unsigned char *runTable;      // (width + 5) x height bytes, or null
};

struct MEMIMG {
    uint32_t tag; // MEMIMG_LIVE_TAG while live
    int width, height;
    unsigned char *pixels;              // this view's first pixel inside the block
    unsigned char *premultipliedPixels; // same position in the premultiplied copy, or null
    MemImgBlock *block;
};

int CreateMemImg(MEMIMG *image, int width, int height, int pitch, uint32_t transparentValue, int kind, int paletteFlag,
                 int alphaFlag, int extrasFlag, void *callerPixels);
int CreateMemImgDefault(MEMIMG *image, int width, int height, int kind);
int DeriveMemImg(MEMIMG *image, const MEMIMG *source, int x, int y, int width, int height);
bool IsValidMemImg(const MEMIMG *image);
int ReleaseMemImg(MEMIMG *image);
const PixelFormat *GetMemImgColorFormat(int kind, int alphaFlag, int paletteFlag);
int RebuildMemImgDerivedData(MEMIMG *image, int width, int height);
// Marks the block's premultiplied copy and run table stale; every write into a block's pixels calls it.
int InvalidateMemImgDerivedData(MEMIMG *image);

// ---------------------------------------------------------------------------------------------------------------
// Blend tables: the software renderers mix pixels through these look-ups instead of per-pixel products.

struct BlendTables {
    int32_t difference[256][512]; // [p][d + 255] = p x d / 255 truncated, d in -255..255
    uint32_t product[256][256];   // [p][c] = p x c / 255
    uint8_t mix[64][64][64];      // [a][s][d] = (a x s + (63 - a) x d) / 63
    uint8_t fadeRamp[256];        // blend-graph ramp of the last BuildFadeTable
};

extern BlendTables g_BlendTables;

int InitMemImgTables(void);
int BuildFadeTable(int border, int range);

// ---------------------------------------------------------------------------------------------------------------
// Pixel transfer and conversion.

// Dither modes of PixelKernel when channel widths shrink.
#define PIXEL_DITHER_NONE 0
#define PIXEL_DITHER_ORDERED 1
#define PIXEL_DITHER_ERROR_CARRY 2

// Copies sourceRect of the source buffer to (destinationX, destinationY) of the destination buffer, converting
// between any two packed formats of 1 to 4 bytes a pixel. Buffers are named by their first pixel, pitch, format
// and size; the rectangle is clipped to the source picture (and the alpha image) and the copy to the destination
// picture, so a caller's rectangle can never reach outside either.
//   alphaImage*: alpha source when the source format has none (null when there is no alpha image)
//   mirror: rows are written right to left
//   transparentToAlpha / transparentColor (0x00RRGGBB): pixels of that colour get alpha 0
//   ditherMode: PIXEL_DITHER_*; clearColor: red, green, blue become 0; redToAlpha: alpha takes the red field
//   transparentSkip: source pixels equal to transparentColor are not written
//   paletteRemap: an 8-bit source is remapped onto a different 8-bit destination palette
// Result: -1 for an empty rectangle; for a palette destination the highest index written; else 0.
struct PixelBuffer {
    void *pixels;
    int pitch;
    const PixelFormat *format;
    int width, height;
};

struct PixelKernelOptions {
    int mirror;
    int transparentToAlpha;
    uint32_t transparentColor;
    int ditherMode;
    int clearColor;
    int redToAlpha;
    int transparentSkip;
    int paletteRemap;
};

int PixelKernel(const PixelBuffer *destination, const PixelBuffer *source, const PixelBuffer *alphaImage,
                int destinationX, int destinationY, const RECT *sourceRect, const PixelKernelOptions *options);

int TransferMemImg(BaseImage *source, BaseImage *alphaImage, MEMIMG *destination, int sourceX, int sourceY, int width,
                   int height, int destinationX, int destinationY, int transparentToAlpha);
int MemImgRectOperation(MEMIMG *destination, const MEMIMG *source, const RECT *sourceRect, int destinationX,
                        int destinationY);
int BlitBaseImage(int sourceX, int sourceY, int width, int height, int destinationX, int destinationY,
                  BaseImage *source, BaseImage *destination);
int StretchBaseImageRect(int sourceX1, int sourceY1, int sourceX2, int sourceY2, BaseImage *source,
                         int destinationX1, int destinationY1, int destinationX2, int destinationY2,
                         BaseImage *destination, int mode);

// The header a Windows DIB starts with: BITMAPINFOHEADER, 256 colour entries {blue, green, red, 0}, 4 spare bytes.
struct DibHeaderBlock {
    uint32_t size;
    int32_t width;
    int32_t height; // negative: rows run top-down
    uint16_t planes;
    uint16_t bitCount;
    uint32_t compression;
    uint32_t sizeImage;
    int32_t xPelsPerMeter;
    int32_t yPelsPerMeter;
    uint32_t colorsUsed;
    uint32_t colorsImportant;
    PaletteEntry colors[256];
    uint8_t spare[4];
};

// Fills header and hands out DIB rows: the image's own pixels (returns copyFlag) or a new tracked block that the
// caller frees (returns 1); -1 on failure.
int BaseImageToDib(BaseImage *image, DibHeaderBlock *header, unsigned char **pixels, int copyFlag, int force24);
int TransformBaseImageInPlace(BaseImage *image);
int RotateBaseImage180(BaseImage *image);
int HalveImageRect(const PixelFormat *format, void *destination, int destinationPitch, const void *source,
                   int sourcePitch, int destinationX, int sourceX, int startRow, int sourceWidth, int sourceHeight);
int FillMemImgRect(MEMIMG *image, const RECT *rect, uint32_t value);

// ---------------------------------------------------------------------------------------------------------------
// Soft-image table: base images under handles of type HANDLE_TYPE_SOFT_IMAGE.

#define SOFT_IMAGE_SLOT_COUNT 8192

int DeleteSoftImage(EngineHandle handle);
int DeleteAllSoftImages(void);
int ResetSoftImages(void);

// ---------------------------------------------------------------------------------------------------------------
// Image loaders (added by the loader work below this line).

#include "file/file.h"

// A loader takes a stream positioned at the data's first byte and fills an all-zero image: 0 when it accepted the
// data, -1 when the data is not its format or is damaged (it then frees everything it allocated).
typedef int (*ImageLoader)(StreamRef *stream, BaseImage *image);

int DecodeBmpImage(StreamRef *stream, BaseImage *image);
int DecodeJpegImage(StreamRef *stream, BaseImage *image);
int DecodePngImage(StreamRef *stream, BaseImage *image);
int DecodeBgraImage(StreamRef *stream, BaseImage *image);
int DecodeTgaImage(StreamRef *stream, BaseImage *image);
int DecodeDdsImage(StreamRef *stream, BaseImage *image);

// Tries the user loaders (none in the program), then the built-in ones (BMP, JPEG, PNG, "BGRA", TGA, DDS), each
// from offset 0.
int DecodeImageStream(StreamRef *stream, BaseImage *image);

// Loads from a file (through the file-function table) or, with memoryFlag, from a memory image. mirrorFlag 1
// mirrors the picture left to right. With dibFlag the result is handed out as a DIB header block and DIB pixels
// (both tracked blocks the caller frees) instead of the BaseImage.
int LoadBaseImage(const char *fileName, const void *memory, int memorySize, int memoryFlag, int dibFlag,
                  int mirrorFlag, BaseImage *image, DibHeaderBlock **dibHeader, unsigned char **dibPixels);
int LoadBaseImageNoAlpha(const char *fileName, const void *memory, int memorySize, int memoryFlag, BaseImage *image,
                         int mirrorFlag);
// Alpha mode 0: the alpha picture is the file named by MakeAlphaImageFileName; 1: alphaMemory; other: none.
// 0 when an alpha image was loaded, 1 when none was, -1 when the main image failed.
int LoadImageToBaseImage(const char *fileName, const void *memory, int memorySize, int memoryFlag,
                         const void *alphaMemory, int alphaMemorySize, int alphaMode, BaseImage *image,
                         BaseImage *alphaImage, int mirrorFlag);
// "name.ext" -> "name_a.ext" (the last dot decides; double-byte characters are stepped over whole). The
// destination needs room for the name and 3 more bytes.
int MakeAlphaImageFileName(const char *source, char *destination);
