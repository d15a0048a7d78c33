// Image loaders: every fixture decodes to the pixels of an independent decoder, the dispatcher gives every loader
// the stream from its first byte, and damaged data of every kind is refused without a crash or a leak.
// Built for Windows (run under Wine) and for the Linux host under the sanitizers.
#include <gtest/gtest.h>

#include "image/image.h"
#include "image/image_test_hooks.h"
#include "image/loader_internal.h"
#include "core/core_test_hooks.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
#include <io.h> // dup, dup2, close (mingw-w64 keeps the POSIX names)
#else
#include <unistd.h>
#endif

#include <string>
#include <vector>

namespace
{

typedef std::vector<unsigned char> Bytes;

bool ReadWholeFile(const std::string &name, Bytes *bytes)
{
    FILE *file = fopen(name.c_str(), "rb");
    if (file == NULL) {
        return false;
    }
    unsigned char buffer[4096];
    size_t got;
    bytes->clear();
    while ((got = fread(buffer, 1, sizeof(buffer), file)) > 0) {
        bytes->insert(bytes->end(), buffer, buffer + got);
    }
    fclose(file);
    return true;
}

// Decodes a block of memory through the dispatcher; the image is left for the caller to free.
int DecodeBytes(const Bytes &bytes, BaseImage *image)
{
    StreamRef stream;
    if (OpenMemoryStreamRef(bytes.empty() ? (const void *)"" : bytes.data(), (unsigned int)bytes.size(), &stream) !=
        0) {
        return -2;
    }
    int result = DecodeImageStream(&stream, image);
    MemStreamClose(stream.handle);
    return result;
}

// A channel straight from its mask: (value & mask) >> shift, widened to 0..255 by x 255 / maximum.
int ChannelFromMask(uint32_t value, uint32_t mask, int absent)
{
    if (mask == 0) {
        return absent;
    }
    int shift = 0;
    while (((mask >> shift) & 1) == 0) {
        shift++;
    }
    uint32_t maximum = mask >> shift;
    return (int)(((value & mask) >> shift) * 255 / maximum);
}

// The reference reading of one decoded pixel as R, G, B, A.
void ReferencePixel(const BaseImage &image, int x, int y, char alphaMode, int rgba[4])
{
    const PixelFormat &format = image.format;
    const unsigned char *p = image.pixels + (size_t)y * image.pitch + (size_t)x * format.bytesPerPixel;
    uint32_t value = 0;
    for (int i = 0; i < format.bytesPerPixel; i++) {
        value |= (uint32_t)p[i] << (8 * i);
    }
    if (format.bytesPerPixel == 1 && format.redMask == 0xFF0000) {
        rgba[0] = format.palette[value].red;
        rgba[1] = format.palette[value].green;
        rgba[2] = format.palette[value].blue;
        rgba[3] = 255;
        return;
    }
    rgba[0] = ChannelFromMask(value, format.redMask, 0);
    rgba[1] = ChannelFromMask(value, format.greenMask, 0);
    rgba[2] = ChannelFromMask(value, format.blueMask, 0);
    rgba[3] = ChannelFromMask(value, alphaMode == 'u' ? format.unusedMask : format.alphaMask, 255);
}

struct Fixture {
    std::string name;
    int width, height, tolerance;
    char alpha;
    int bits;
    long rawOffset;
};

std::vector<Fixture> ReadManifest()
{
    std::vector<Fixture> fixtures;
    FILE *file = fopen("fixtures/manifest.txt", "r");
    if (file == NULL) {
        return fixtures;
    }
    char name[256];
    Fixture f;
    while (fscanf(file, "%255s %d %d %d %c %d %ld", name, &f.width, &f.height, &f.tolerance, &f.alpha, &f.bits,
                  &f.rawOffset) == 7) {
        f.name = name;
        fixtures.push_back(f);
    }
    fclose(file);
    return fixtures;
}

TEST(ImageLoaders, EveryFixtureDecodesToTheIndependentDecode)
{
    std::vector<Fixture> fixtures = ReadManifest();
    ASSERT_GT(fixtures.size(), 40u) << "fixtures/manifest.txt missing: the fixture step did not run";
    for (const Fixture &f : fixtures) {
#ifndef _WIN32
        if (f.name.compare(0, 4, "gdi_") == 0) {
            continue; // the platform's DIB conversion exists only on Windows
        }
#endif
        SCOPED_TRACE(f.name);
        Bytes file, expected;
        ASSERT_TRUE(ReadWholeFile("fixtures/" + f.name, &file));
        ASSERT_TRUE(ReadWholeFile("fixtures/" + f.name + ".rgba", &expected));
        ASSERT_EQ(expected.size(), (size_t)f.width * f.height * 4);
        int before = GetAllocationCount();
        BaseImage image;
        ASSERT_EQ(DecodeBytes(file, &image), 0);
        EXPECT_EQ(image.width, f.width);
        EXPECT_EQ(image.height, f.height);
        EXPECT_EQ(image.format.bitsPerPixel, f.bits);
        if (f.rawOffset >= 0) {
            // The whole stored block, mip levels included, must come through unchanged.
            ASSERT_EQ((long)GetBaseImageDataSize(&image), (long)file.size() - f.rawOffset);
            EXPECT_EQ(memcmp(image.pixels, file.data() + f.rawOffset, file.size() - f.rawOffset), 0);
        }
        if (image.format.formatCode != PIXEL_FORMAT_PACKED) {
            ASSERT_EQ(ConvertBaseImageToNormal(&image), 0);
        } else {
            EXPECT_GE(image.pitch, image.width * image.format.bytesPerPixel);
        }
        int worst = 0;
        for (int y = 0; y < f.height; y++) {
            for (int x = 0; x < f.width; x++) {
                int got[4];
                ReferencePixel(image, x, y, f.alpha, got);
                const unsigned char *want = &expected[((size_t)y * f.width + x) * 4];
                for (int c = 0; c < (f.alpha == 'n' ? 3 : 4); c++) {
                    int difference = abs(got[c] - want[c]);
                    if (difference > worst) {
                        worst = difference;
                    }
                    EXPECT_LE(difference, f.tolerance) << "x " << x << " y " << y << " channel " << c;
                    if (difference > f.tolerance) {
                        goto next_fixture_pixels;
                    }
                }
            }
        }
    next_fixture_pixels:
        FreeBaseImageData(&image);
        EXPECT_EQ(GetAllocationCount(), before);
    }
}

TEST(ImageLoaders, RefusedFixturesLeaveAnEmptyImage)
{
    FILE *list = fopen("fixtures/refused.txt", "r");
    ASSERT_NE(list, nullptr);
    char name[256];
    int count = 0;
    while (fscanf(list, "%255s", name) == 1) {
        SCOPED_TRACE(name);
        Bytes file;
        ASSERT_TRUE(ReadWholeFile(std::string("fixtures/") + name, &file));
        int before = GetAllocationCount();
        BaseImage image;
        memset(&image, 0x5A, sizeof(image));
        EXPECT_EQ(DecodeBytes(file, &image), -1);
        BaseImage empty;
        memset(&empty, 0, sizeof(empty));
        EXPECT_EQ(memcmp(&image, &empty, sizeof(image)), 0);
        EXPECT_EQ(GetAllocationCount(), before);
        count++;
    }
    fclose(list);
    EXPECT_EQ(count, 5);
}

// Only the variants with a decoder of their own stay out of GDI: every other bit count and compression goes to it,
// also those that it cannot draw (which then fail cleanly: the refused gdi_ fixtures).
TEST(ImageLoaders, BmpVariantsWithoutTheirOwnDecoderGoToGdi)
{
    for (int bits : {0, 1, 2, 4, 7, 8, 16, 24, 32}) {
        for (unsigned int compression = 0; compression < 8; compression++) {
            bool plain = compression == 0,
                 runLength = (compression == 1 && bits == 8) || (compression == 2 && bits == 4);
            int own = runLength                            ? BMP_DECODER_RUN_LENGTH
                      : plain && bits == 4                 ? BMP_DECODER_4BIT
                      : plain && (bits == 8 || bits >= 24) ? BMP_DECODER_PACKED
                                                           : BMP_DECODER_GDI;
            EXPECT_EQ(ChooseBmpDecoder(bits, compression), own) << bits << " bits, compression " << compression;
        }
    }
}

// Each loader's own row pitch: BMP rows padded to 4 bytes, unpacked 4-bit and run-length rows padded to 4 pixels,
// TGA, "BGRA", PNG and JPEG rows unpadded, DDS as the header gives it, block-compressed pictures 0.
TEST(ImageLoaders, RowPitchIsTheLoadersOwn)
{
    const struct {
        const char *name;
        int pitch, mipCount;
    } cases[] = {
        {"rgb24_up.bmp", 40, 0},    {"p8_down.bmp", 16, 0}, {"p4_up.bmp", 16, 0},  {"rle4.bmp", 16, 0},
        {"argb32_down.bmp", 52, 0}, {"t2_tl.tga", 44, 0},   {"t10_16.tga", 22, 0}, {"t1.tga", 33, 0},
        {"raw16.bgra", 20, 0},      {"grey.jpg", 9, 0},     {"colour.jpg", 27, 0}, {"grey_alpha.png", 18, 0},
        {"rgb.png", 27, 0},         {"m_rgb24.dds", 20, 0}, {"dxt5_m4.dds", 0, 4}, {"dxt1_m1.dds", 0, 0},
    };
    for (const auto &c : cases) {
        Bytes file;
        ASSERT_TRUE(ReadWholeFile(std::string("fixtures/") + c.name, &file)) << c.name;
        BaseImage image;
        ASSERT_EQ(DecodeBytes(file, &image), 0) << c.name;
        EXPECT_EQ(image.pitch, c.pitch) << c.name;
        EXPECT_EQ(image.mipCount, c.mipCount) << c.name;
        FreeBaseImageData(&image);
    }
}

TEST(ImageLoaders, PaletteEntriesBeyondTheFilesPaletteAreZero)
{
    Bytes file;
    ASSERT_TRUE(ReadWholeFile("fixtures/palette16.png", &file));
    BaseImage image;
    ASSERT_EQ(DecodeBytes(file, &image), 0);
    EXPECT_EQ(image.format.bytesPerPixel, 1);
    for (int i = 16; i < 256; i++) {
        const PaletteEntry &e = image.format.palette[i];
        EXPECT_EQ(e.red | e.green | e.blue | e.reserved, 0) << "entry " << i;
    }
    FreeBaseImageData(&image);
}

// What `run` writes to the process's error output (file descriptor 2, where the C library's stderr and the decoding
// libraries' default message functions write), sent meanwhile to a file in the test folder.
template <typename Run> std::string ErrorOutputDuring(Run run)
{
    fflush(stderr);
    FILE *file = fopen("error_output.txt", "w+b");
    int saved = dup(2);
    dup2(fileno(file), 2);
    run();
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    fclose(file);
    Bytes text;
    ReadWholeFile("error_output.txt", &text);
    return std::string(text.begin(), text.end());
}

int DecodeBytesWith(int (*loader)(StreamRef *, BaseImage *), const Bytes &bytes, BaseImage *image)
{
    StreamRef stream;
    memset(image, 0, sizeof(*image));
    if (OpenMemoryStreamRef(bytes.data(), (unsigned int)bytes.size(), &stream) != 0) {
        return -2;
    }
    int result = loader(&stream, image);
    MemStreamClose(stream.handle);
    return result;
}

Bytes FixtureBytes(const char *name, size_t keep = (size_t)-1)
{
    Bytes file;
    EXPECT_TRUE(ReadWholeFile(std::string("fixtures/") + name, &file)) << name;
    if (file.size() > keep) {
        file.resize(keep);
    }
    return file;
}

// rgb.png with a tEXt chunk whose CRC is wrong right after IHDR: libpng warns about it and reads on.
Bytes PngWithDamagedTextChunk()
{
    Bytes file = FixtureBytes("rgb.png");
    const unsigned char chunk[] = {0, 0, 0, 4, 't', 'E', 'X', 't', 'a', 0, 'b', 'c', 0, 0, 0, 0};
    if (file.size() > 33) {
        file.insert(file.begin() + 33, chunk, chunk + sizeof(chunk)); // after the signature and IHDR
    }
    return file;
}

// The dispatcher offers every picture to the JPEG and the PNG loader in turn, so a refusal there is an everyday
// answer: neither library may print a word of it (nor of a warning) on the error output.
TEST(ImageLoaders, RefusalsAndDamagedDataPrintNothing)
{
    const struct {
        const char *name;
        int (*loader)(StreamRef *, BaseImage *);
        Bytes data;
        int result;
    } rows[] = {
        {"a PNG to the JPEG loader", DecodeJpegImage, FixtureBytes("rgb.png"), -1},
        {"a JPEG to the PNG loader", DecodePngImage, FixtureBytes("colour.jpg"), -1},
        {"a TGA (starting 0x00 0x00) to the JPEG loader", DecodeJpegImage, FixtureBytes("t2_tl.tga"), -1},
        {"a PNG cut inside its image data", DecodePngImage, FixtureBytes("cut.png"), -1},
        {"a JPEG cut after its header (premature end warning)", DecodeJpegImage, FixtureBytes("big.jpg", 2000), 0},
        {"a PNG with a damaged ancillary chunk (CRC warning)", DecodePngImage, PngWithDamagedTextChunk(), 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_FALSE(row.data.empty()) << "fixture missing";
        int before = GetAllocationCount();
        BaseImage image;
        int result = -2;
        EXPECT_EQ(ErrorOutputDuring([&] { result = DecodeBytesWith(row.loader, row.data, &image); }), "");
        EXPECT_EQ(result, row.result);
        if (result == 0) {
            FreeBaseImageData(&image);
        }
        EXPECT_EQ(GetAllocationCount(), before);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Dispatch order and rewinding, seen through a stream that records every read.

struct ReadRecord {
    int position;
    size_t bytes;
};

struct RecordingStream {
    MemStream *memory;
    std::vector<ReadRecord> reads;
};

RecordingStream *s_Recording;

int RecordingTell(DWORD_PTR handle)
{
    return GetMemoryStreamFunctions()->tell((DWORD_PTR)s_Recording->memory);
}

int RecordingSeek(DWORD_PTR handle, int offset, int origin)
{
    return GetMemoryStreamFunctions()->seek((DWORD_PTR)s_Recording->memory, offset, origin);
}

size_t RecordingRead(void *buffer, size_t size, size_t count, DWORD_PTR handle)
{
    int position = RecordingTell(handle);
    s_Recording->reads.push_back({position, size * count});
    return GetMemoryStreamFunctions()->read(buffer, size, count, (DWORD_PTR)s_Recording->memory);
}

int RecordingEof(DWORD_PTR handle)
{
    return 0;
}

int RecordingIdle(DWORD_PTR handle)
{
    return 1;
}

int RecordingClose(DWORD_PTR handle)
{
    return 0;
}

// Reads part of the data, leaves the stream elsewhere and refuses.
int GreedyRefusingLoader(StreamRef *stream, BaseImage *image)
{
    unsigned char buffer[7];
    stream->functions.read(buffer, 1, sizeof(buffer), stream->handle);
    image->width = 99;
    return -1;
}

// Every dispatch test leaves the user loader table empty for the next test.
class ImageDispatch : public ::testing::Test
{
  protected:
    void TearDown() override
    {
        ResetUserImageLoaders();
    }
};

TEST_F(ImageDispatch, EachLoaderInTurnStartsFromTheFirstByte)
{
    ASSERT_EQ(AddUserImageLoader(GreedyRefusingLoader), 0);
    unsigned char junk[64];
    memset(junk, 'Z', sizeof(junk));
    RecordingStream recording;
    recording.memory = MemStreamOpen(junk, sizeof(junk));
    s_Recording = &recording;
    StreamRef stream = {{RecordingTell, RecordingSeek, RecordingRead, RecordingEof, RecordingIdle, RecordingClose}, 0};
    int before = GetAllocationCount();
    BaseImage image;
    EXPECT_EQ(DecodeImageStream(&stream, &image), -1);
    EXPECT_EQ(GetAllocationCount(), before);
    BaseImage empty;
    memset(&empty, 0, sizeof(empty));
    EXPECT_EQ(memcmp(&image, &empty, sizeof(image)), 0);
    // The user loader, then BMP (file header), JPEG (a buffer fill), PNG (signature), "BGRA" (header), TGA
    // (footer from the end, then the header) and DDS (magic).
    const ReadRecord expected[] = {{0, 7}, {0, 14}, {0, 64}, {0, 8}, {0, 16}, {38, 26}, {0, 18}, {0, 4}};
    ASSERT_EQ(recording.reads.size(), sizeof(expected) / sizeof(expected[0]));
    for (size_t i = 0; i < recording.reads.size(); i++) {
        EXPECT_EQ(recording.reads[i].position, expected[i].position) << "read " << i;
        EXPECT_EQ(recording.reads[i].bytes, expected[i].bytes) << "read " << i;
    }
    MemStreamClose((DWORD_PTR)recording.memory);
}

int s_CountingLoaderCalls;

int CountingLoader(StreamRef *stream, BaseImage *image)
{
    s_CountingLoaderCalls++;
    return -1;
}

// The table holds 10 loaders; a reset empties it, so that no loader of one test runs in the next.
TEST_F(ImageDispatch, ResetEmptiesTheUserLoaderTable)
{
    for (int i = 0; i < 10; i++)
        ASSERT_EQ(AddUserImageLoader(CountingLoader), 0) << i;
    EXPECT_EQ(AddUserImageLoader(CountingLoader), -1) << "the eleventh loader";
    ResetUserImageLoaders();
    s_CountingLoaderCalls = 0;
    BaseImage image;
    EXPECT_EQ(DecodeBytes(Bytes(32, 'Z'), &image), -1);
    EXPECT_EQ(s_CountingLoaderCalls, 0);
    EXPECT_EQ(AddUserImageLoader(CountingLoader), 0) << "room again after the reset";
}

// ---------------------------------------------------------------------------------------------------------------
// Damaged and hostile headers, built byte by byte.

void Put16(Bytes &b, size_t at, unsigned v)
{
    if (b.size() < at + 2) {
        b.resize(at + 2);
    }
    b[at] = (unsigned char)v;
    b[at + 1] = (unsigned char)(v >> 8);
}

void Put32(Bytes &b, size_t at, uint32_t v)
{
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

// A 40-byte-header BMP: file header, info header, `paletteEntries` colours, then `data`.
Bytes MakeBmp(int width, int height, int bits, int compression, const Bytes &data, int paletteEntries = 0)
{
    Bytes b(14 + 40 + paletteEntries * 4);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 10, (uint32_t)b.size());
    Put32(b, 14, 40);
    Put32(b, 18, (uint32_t)width);
    Put32(b, 22, (uint32_t)height);
    Put16(b, 26, 1);
    Put16(b, 28, (unsigned)bits);
    Put32(b, 30, (uint32_t)compression);
    for (int i = 0; i < paletteEntries; i++) {
        b[54 + i * 4] = (unsigned char)(i * 16); // blue of entry i
    }
    b.insert(b.end(), data.begin(), data.end());
    Put32(b, 2, (uint32_t)b.size());
    return b;
}

Bytes MakeTga(int type, int width, int height, int depth, int descriptor, const Bytes &body, int mapFirst = 0,
              int mapLength = 0, int mapBits = 0, int idLength = 0)
{
    Bytes b(18);
    b[0] = (unsigned char)idLength;
    b[1] = mapLength ? 1 : 0;
    b[2] = (unsigned char)type;
    Put16(b, 3, (unsigned)mapFirst);
    Put16(b, 5, (unsigned)mapLength);
    b[7] = (unsigned char)mapBits;
    Put16(b, 12, (unsigned)width);
    Put16(b, 14, (unsigned)height);
    b[16] = (unsigned char)depth;
    b[17] = (unsigned char)descriptor;
    b.resize(18 + idLength + (size_t)mapLength * (mapBits / 8), 0x33);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

Bytes MakeBgra(uint32_t code, uint32_t width, uint32_t height, size_t pixelBytes)
{
    Bytes b(16 + pixelBytes, 0x44);
    memcpy(b.data(), "BGRA", 4);
    Put32(b, 4, code);
    Put32(b, 8, width);
    Put32(b, 12, height);
    return b;
}

// DDS with header flags (pitch given, mip count) and an RGB or FourCC pixel format.
Bytes MakeDds(uint32_t width, uint32_t height, uint32_t pitch, uint32_t mips, uint32_t pixelFlags, const char *fourCC,
              uint32_t bits, size_t dataBytes)
{
    Bytes b(128 + dataBytes, 0x55);
    memcpy(b.data(), "DDS ", 4);
    Put32(b, 4, 124);
    Put32(b, 8, 0x1007 | (pitch ? 0x8 : 0) | (mips ? 0x20000 : 0));
    Put32(b, 12, height);
    Put32(b, 16, width);
    Put32(b, 20, pitch);
    Put32(b, 28, mips);
    Put32(b, 76, 32);
    Put32(b, 80, pixelFlags);
    memcpy(&b[84], fourCC, 4);
    Put32(b, 88, bits);
    Put32(b, 92, 0xFF0000);
    Put32(b, 96, 0xFF00);
    Put32(b, 100, 0xFF);
    Put32(b, 108, 0x1000 | (mips ? 0x400008 : 0));
    return b;
}

Bytes Truncated(Bytes b, size_t size)
{
    b.resize(size);
    return b;
}

TEST(ImageLoaders, HostileHeadersAreRefused)
{
    const Bytes rows24(4 * 3, 0x11); // three rows of a 1-pixel 24-bit picture
    const struct {
        const char *why;
        Bytes data;
    } cases[] = {
        {"bmp header cut short", Truncated(MakeBmp(1, 3, 24, 0, rows24), 30)},
        {"bmp rows missing", Truncated(MakeBmp(1, 3, 24, 0, rows24), 54 + 8)},
        {"bmp width 0", MakeBmp(0, 3, 24, 0, rows24)},
        {"bmp negative width", MakeBmp(-4, 3, 24, 0, rows24)},
        {"bmp height 0", MakeBmp(1, 0, 24, 0, rows24)},
        {"bmp height of the most negative int", MakeBmp(1, (int)0x80000000, 24, 0, rows24)},
        {"bmp rows x row size beyond 32 bits", MakeBmp(0x40000000, 0x40000000, 32, 0, rows24)},
        {"bmp bit count 7", MakeBmp(1, 3, 7, 0, rows24)},
        {"bmp run-length with the wrong bit count", MakeBmp(1, 3, 24, 1, rows24)},
        {"bmp colour table cut short", Truncated(MakeBmp(1, 1, 8, 0, Bytes(4), 256), 54 + 100)},
        {"tga colour map past entry 255", MakeTga(1, 2, 2, 8, 0x20, Bytes(4), 250, 10, 24)},
        {"tga pixels cut short", MakeTga(2, 4, 4, 24, 0x20, Bytes(40))},
        {"tga origin not 0",
         [] {
             Bytes t = MakeTga(2, 1, 1, 24, 0x20, Bytes(3));
             Put16(t, 8, 1);
             return t;
         }()},
        {"tga 8193 wide", MakeTga(2, 8193, 1, 24, 0x20, Bytes(8193 * 3))},
        {"tga grey (type 3)", MakeTga(3, 2, 2, 8, 0x20, Bytes(4))},
        {"tga 15-bit pixels", MakeTga(2, 2, 2, 15, 0x20, Bytes(8))},
        {"tga image ID longer than the file", Truncated(MakeTga(2, 1, 1, 24, 0x20, Bytes(3), 0, 0, 0, 200), 21)},
        {"bgra width 0", MakeBgra(0x08080808, 0, 4, 16)},
        {"bgra size beyond 32 bits", MakeBgra(0x08080808, 0x10000, 0x10000, 16)},
        {"bgra pixels cut short", MakeBgra(0x08080808, 4, 4, 63)},
        {"bgra 16-bit rows cut short", MakeBgra(0x10101010, 4, 4, 127)},
        {"bgra unknown channel code", MakeBgra(0x08080800, 1, 1, 4)},
        {"bgra header cut short", Truncated(MakeBgra(0x08080808, 1, 1, 4), 12)},
        {"dds pitch below width x bytes", MakeDds(8, 2, 20, 0, 0x40, "\0\0\0\0", 24, 64)},
        {"dds bit count 12", MakeDds(8, 2, 0, 0, 0x40, "\0\0\0\0", 12, 64)},
        {"dds huge dimensions", MakeDds(0x100000, 0x100000, 0, 0, 0x40, "\0\0\0\0", 32, 64)},
        {"dds data cut short", MakeDds(8, 2, 0, 0, 0x40, "\0\0\0\0", 24, 47)},
        {"dds absurd mip count", MakeDds(8, 8, 0, 40, 0x4, "DXT1", 0, 4096)},
        {"dds unknown FourCC", MakeDds(8, 8, 0, 0, 0x4, "ABCD", 0, 4096)},
        {"dds header cut short", Truncated(MakeDds(8, 2, 0, 0, 0x40, "\0\0\0\0", 24, 48), 100)},
    };
    for (const auto &c : cases) {
        int before = GetAllocationCount();
        BaseImage image;
        EXPECT_EQ(DecodeBytes(c.data, &image), -1) << c.why;
        EXPECT_EQ(image.pixels, nullptr) << c.why;
        EXPECT_EQ(GetAllocationCount(), before) << c.why;
    }
}

// Pictures that decode although their data ends early or moves outside the image: what is not written is 0.
TEST(ImageLoaders, RunLengthDataStopsInsideTheImage)
{
    const struct {
        const char *why;
        Bytes data;
        int width, height, pitch;
        Bytes pixels; // expected block, top row first
    } cases[] = {
        {"rle8: run longer than the row is cut at its end", MakeBmp(3, 2, 8, 1, Bytes{9, 5, 0, 0, 2, 7, 0, 1}, 256), 3,
         2, 4, Bytes{7, 7, 0, 0, 5, 5, 5, 0}},
        {"rle8: move below the image stops", MakeBmp(3, 2, 8, 1, Bytes{1, 5, 0, 2, 0, 9, 3, 6}, 256), 3, 2, 4,
         Bytes{0, 0, 0, 0, 5, 0, 0, 0}},
        {"rle8: move right of the image stops", MakeBmp(3, 2, 8, 1, Bytes{1, 5, 0, 2, 200, 0, 3, 6}, 256), 3, 2, 4,
         Bytes{0, 0, 0, 0, 5, 0, 0, 0}},
        {"rle8: move then run, top-down", MakeBmp(3, -2, 8, 1, Bytes{0, 2, 1, 1, 2, 4, 0, 1}, 256), 3, 2, 4,
         Bytes{0, 0, 0, 0, 0, 4, 4, 0}},
        {"rle8: literal cut by the end of the data", MakeBmp(3, 1, 8, 1, Bytes{1, 3, 0, 5, 1, 2}, 256), 3, 1, 4,
         Bytes{3, 0, 0, 0}},
        {"rle4: runs alternate nibbles, literals run high first",
         MakeBmp(5, 1, 4, 2, Bytes{3, 0x12, 0, 3, 0x45, 0x60, 0, 1}, 16), 5, 1, 8, Bytes{1, 2, 1, 4, 5, 0, 0, 0}},
        {"4-bit of width 5: one byte per pixel, pitch 8", MakeBmp(5, 1, 4, 0, Bytes{0x12, 0x34, 0x50, 0}, 16), 5, 1, 8,
         Bytes{1, 2, 3, 4, 5, 0, 0, 0}},
        {"tga rle: packets end early, the rest is 0", MakeTga(10, 3, 1, 24, 0x20, Bytes{0x81, 1, 2, 3}), 3, 1, 9,
         Bytes{1, 2, 3, 1, 2, 3, 0, 0, 0}},
        {"tga rle: the footer is not decoded as packets",
         [] {
             Bytes t = MakeTga(10, 4, 1, 24, 0x20, Bytes{0x80, 1, 2, 3});
             Bytes footer(8, 0);
             const char *signature = "TRUEVISION-XFILE.";
             footer.insert(footer.end(), signature, signature + 18);
             t.insert(t.end(), footer.begin(), footer.end());
             return t;
         }(),
         4, 1, 12, Bytes{1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"tga rle: a run longer than the image is cut", MakeTga(10, 2, 1, 24, 0x20, Bytes{0xFF, 4, 5, 6}), 2, 1, 6,
         Bytes{4, 5, 6, 4, 5, 6}},
    };
    for (const auto &c : cases) {
        int before = GetAllocationCount();
        BaseImage image;
        ASSERT_EQ(DecodeBytes(c.data, &image), 0) << c.why;
        EXPECT_EQ(image.width, c.width) << c.why;
        EXPECT_EQ(image.height, c.height) << c.why;
        ASSERT_EQ(image.pitch, c.pitch) << c.why;
        EXPECT_EQ(Bytes(image.pixels, image.pixels + c.pixels.size()), c.pixels) << c.why;
        FreeBaseImageData(&image);
        EXPECT_EQ(GetAllocationCount(), before) << c.why;
    }
}

// Every allocation a loader makes fails in turn: each time the load fails cleanly or succeeds, and nothing leaks.
TEST(ImageLoaders, AllocationFailuresAtEveryStepLeaveNothingBehind)
{
    const char *names[] = {"p8_up.bmp",   "rle4.bmp",      "t9_footer.tga",  "t2_br.tga",  "raw16.bgra",
                           "dxt5_m4.dds", "palette16.png", "interlaced.png", "colour.jpg", "cut.png"};
    for (const char *name : names) {
        Bytes file;
        ASSERT_TRUE(ReadWholeFile(std::string("fixtures/") + name, &file)) << name;
        int before = GetAllocationCount();
        for (int countdown = 0; countdown < 64; countdown++) {
            BaseImage image;
            memset(&image, 0, sizeof(image));
            SetAllocationFailureCountdown(countdown);
            int result = DecodeBytes(file, &image);
            SetAllocationFailureCountdown(-1);
            if (result == 0) {
                FreeBaseImageData(&image);
            } else {
                EXPECT_EQ(image.pixels, nullptr) << name << " failing allocation " << countdown;
            }
            EXPECT_EQ(GetAllocationCount(), before) << name << " failing allocation " << countdown;
        }
    }
}

// A stream that tells its full size but whose reads stop at a byte limit, as a failing disk or a cut network file
// would: every loader must then fail or succeed cleanly, whichever read comes up short.
struct FailingStream {
    MemStream *memory;
    unsigned int limit;
};

FailingStream *s_Failing;

int FailingTell(DWORD_PTR handle)
{
    return MemStreamTell((DWORD_PTR)s_Failing->memory);
}

int FailingSeek(DWORD_PTR handle, int offset, int origin)
{
    return MemStreamSeek((DWORD_PTR)s_Failing->memory, offset, origin);
}

size_t FailingRead(void *buffer, size_t size, size_t count, DWORD_PTR handle)
{
    unsigned int position = s_Failing->memory->position;
    if (size == 0 || position >= s_Failing->limit) {
        return 0;
    }
    size_t whole = (s_Failing->limit - position) / size;
    return MemStreamRead(buffer, size, whole < count ? whole : count, (DWORD_PTR)s_Failing->memory);
}

TEST(ImageLoaders, ReadsThatComeUpShortLeaveNothingBehind)
{
    const char *names[] = {"p4_down.bmp",    "rle8.bmp",       "argb32_up.bmp", "t1.tga",
                           "t10_footer.tga", "raw8.bgra",      "raw16.bgra",    "m_rgb24.dds",
                           "dxt1_m4.dds",    "interlaced.png", "palette16.png", "grey.jpg"};
    for (const char *name : names) {
        Bytes file;
        ASSERT_TRUE(ReadWholeFile(std::string("fixtures/") + name, &file)) << name;
        int before = GetAllocationCount();
        for (unsigned int limit = 0; limit < file.size(); limit += 1 + (unsigned int)file.size() / 97) {
            FailingStream failing = {MemStreamOpen(file.data(), (unsigned int)file.size()), limit};
            s_Failing = &failing;
            StreamRef stream = {{FailingTell, FailingSeek, FailingRead, RecordingEof, RecordingIdle, RecordingClose},
                                0};
            BaseImage image;
            if (DecodeImageStream(&stream, &image) == 0) {
                FreeBaseImageData(&image);
            } else {
                EXPECT_EQ(image.pixels, nullptr) << name << " reads end at " << limit;
            }
            MemStreamClose((DWORD_PTR)failing.memory);
            EXPECT_EQ(GetAllocationCount(), before) << name << " reads end at " << limit;
        }
    }
}

TEST(ImageLoaders, SizeChecksRefuseWhatWouldLeaveTheLimit)
{
    const struct {
        long long a, b, c, expected;
    } cases[] = {
        {16, 16, 4, 1024},
        {0, 16, 4, -1},
        {16, -1, 4, -1},
        {0x10000, 0x10000, 4, -1},           // 16 GiB
        {0x80000000LL, 0x80000000LL, 4, -1}, // the product leaves 64 bits if multiplied unchecked
        {(long long)IMAGE_BLOCK_LIMIT, 1, 1, (long long)IMAGE_BLOCK_LIMIT},
        {(long long)IMAGE_BLOCK_LIMIT + 1, 1, 1, -1},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(CheckedBlockSize(c.a, c.b, c.c), c.expected) << c.a << " x " << c.b << " x " << c.c;
    }
}

} // namespace
