// Pixel formats: presets, formats from masks, colour <-> pixel value rules and mip-level sizes.
#include "image_test_support.h"

namespace {

struct FormatExpectation {
    const char *name;
    int (*preset)(PixelFormat *);
    int bits, bytes;
    int widths[4], shifts[4];
    uint32_t masks[4], unused;
};

void ExpectFields(const PixelFormat &f, const FormatExpectation &e)
{
    SCOPED_TRACE(e.name);
    EXPECT_EQ(f.bitsPerPixel, e.bits);
    EXPECT_EQ(f.bytesPerPixel, e.bytes);
    const int widths[4] = {f.redWidth, f.greenWidth, f.blueWidth, f.alphaWidth};
    const int shifts[4] = {f.redShift, f.greenShift, f.blueShift, f.alphaShift};
    const uint32_t masks[4] = {f.redMask, f.greenMask, f.blueMask, f.alphaMask};
    for (int c = 0; c < 4; c++) {
        EXPECT_EQ(widths[c], e.widths[c]) << "channel " << c;
        EXPECT_EQ(shifts[c], e.shifts[c]) << "channel " << c;
        EXPECT_EQ(masks[c], e.masks[c]) << "channel " << c;
    }
    EXPECT_EQ(f.unusedMask, e.unused);
    EXPECT_EQ(f.formatCode, 0u);
}

TEST(PixelFormat, PresetsSetTheirFields)
{
    const FormatExpectation table[] = {
        {"palette8", SetPalette8PixelFormat, 8, 1, {8, 8, 8, 0}, {16, 8, 0, 0}, {0xFF0000, 0xFF00, 0xFF, 0}, 0xFF000000u},
        {"XRGB8", SetXRGB8PixelFormat, 32, 4, {8, 8, 8, 0}, {16, 8, 0, 0}, {0xFF0000, 0xFF00, 0xFF, 0}, 0xFF000000u},
        {"ARGB8", SetARGB8PixelFormat, 32, 4, {8, 8, 8, 8}, {16, 8, 0, 24}, {0xFF0000, 0xFF00, 0xFF, 0xFF000000u}, 0},
        {"RGB24", SetRGB24PixelFormat, 24, 3, {8, 8, 8, 0}, {16, 8, 0, 0}, {0xFF0000, 0xFF00, 0xFF, 0}, 0},
        {"gray8", SetGrayPalette8PixelFormat, 8, 1, {8, 8, 8, 0}, {16, 8, 0, 0}, {0xFF0000, 0xFF00, 0xFF, 0},
         0xFF000000u},
    };
    for (const auto &e : table) {
        PixelFormat f;
        memset(&f, 0x5A, sizeof(f)); // every field the preset names must be written
        f.formatCode = 3;
        EXPECT_EQ(e.preset(&f), 0);
        ExpectFields(f, e);
    }
    PixelFormat x;
    SetXRGB8PixelFormat(&x);
    EXPECT_EQ(x.unusedShift, 24);
    EXPECT_EQ(x.unusedWidth, 8);
    PixelFormat gray = GrayPaletteFormat();
    for (int i = 0; i < 256; i++) {
        ASSERT_EQ(gray.palette[i].red, i);
        ASSERT_EQ(gray.palette[i].green, i);
        ASSERT_EQ(gray.palette[i].blue, i);
        ASSERT_EQ(gray.palette[i].reserved, 0);
    }
}

TEST(PixelFormat, FromMasksDerivesShiftsWidthsAndUnusedBits)
{
    const struct {
        int bits;
        uint32_t masks[4];
        int widths[4], shifts[4];
        uint32_t unused;
        int unusedShift, unusedWidth;
    } table[] = {
        {16, {0xF800, 0x7E0, 0x1F, 0}, {5, 6, 5, 0}, {11, 5, 0, 0}, 0, 0, 0},
        {16, {0x7C00, 0x3E0, 0x1F, 0}, {5, 5, 5, 0}, {10, 5, 0, 0}, 0x8000, 15, 1},
        {32, {0xFF0000, 0xFF00, 0xFF, 0}, {8, 8, 8, 0}, {16, 8, 0, 0}, 0xFF000000u, 24, 8},
        {32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000u}, {8, 8, 8, 8}, {16, 8, 0, 24}, 0, 0, 0},
        {16, {0x0F0F, 0, 0, 0}, {4, 0, 0, 0}, {0, 0, 0, 0}, 0xF0F0, 4, 4}, // holes above are not counted
        {8, {0xE0, 0x1C, 0x03, 0}, {3, 3, 2, 0}, {5, 2, 0, 0}, 0, 0, 0},
        // Pixels wider than 32 bits: every bit of the 32-bit value that no channel uses is unused.
        {64, {0xFF0000, 0xFF00, 0xFF, 0}, {8, 8, 8, 0}, {16, 8, 0, 0}, 0xFF000000u, 24, 8},
        {128, {0xFFFF, 0, 0, 0}, {16, 0, 0, 0}, {0, 0, 0, 0}, 0xFFFF0000u, 16, 16},
    };
    for (const auto &e : table) {
        SCOPED_TRACE(::testing::Message() << e.bits << " bits, red mask " << e.masks[0]);
        PixelFormat f = MasksFormat(e.bits, e.masks[0], e.masks[1], e.masks[2], e.masks[3]);
        EXPECT_EQ(f.bytesPerPixel, e.bits / 8);
        const int widths[4] = {f.redWidth, f.greenWidth, f.blueWidth, f.alphaWidth};
        const int shifts[4] = {f.redShift, f.greenShift, f.blueShift, f.alphaShift};
        for (int c = 0; c < 4; c++) {
            EXPECT_EQ(widths[c], e.widths[c]);
            EXPECT_EQ(shifts[c], e.shifts[c]);
        }
        EXPECT_EQ(f.unusedMask, e.unused);
        EXPECT_EQ(f.unusedShift, e.unusedShift);
        EXPECT_EQ(f.unusedWidth, e.unusedWidth);
    }
}

TEST(PixelFormat, UnusedMaskRecomputedFromWidths)
{
    const struct {
        int bits;
        uint32_t masks[4];
        uint32_t expected;
    } table[] = {
        {16, {0xF800, 0x7E0, 0x1F, 0}, 0},
        {16, {0x7C00, 0x3E0, 0x1F, 0}, 0x8000},
        {32, {0xFF0000, 0xFF00, 0xFF, 0}, 0xFF000000u},
        {24, {0xFF0000, 0xFF00, 0xFF, 0}, 0},
        {64, {0xFF0000, 0xFF00, 0xFF, 0xFF000000u}, 0}, // 32 of 64 bits named: the 32-bit value has none free
    };
    for (const auto &e : table) {
        PixelFormat f = MasksFormat(e.bits, e.masks[0], e.masks[1], e.masks[2], e.masks[3]);
        f.unusedMask = 0x12345678;
        ComputeUnusedBitsMask(&f);
        EXPECT_EQ(f.unusedMask, e.expected) << e.bits << " bits";
    }
}

// Reference: each 8-bit component keeps its top `width` bits (or moves up for a wider channel).
uint32_t ColorToPixelReference(const PixelFormat &f, int r, int g, int b, int a)
{
    auto place = [](int v, int width, int shift) -> uint64_t {
        uint64_t field = width <= 8 ? (uint64_t)v / (1u << (8 - width)) : (uint64_t)v * (1u << (width - 8));
        return field << shift;
    };
    uint64_t value = place(r, f.redWidth, f.redShift) + place(g, f.greenWidth, f.greenShift) +
                     place(b, f.blueWidth, f.blueShift) + f.unusedMask;
    if (f.alphaWidth) value += place(a, f.alphaWidth, f.alphaShift);
    return (uint32_t)value;
}

TEST(PixelFormat, ColorToPixelValueMatchesReference)
{
    PixelFormat x8 = MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0);
    PixelFormat r565 = MasksFormat(16, 0xF800, 0x7E0, 0x1F, 0);
    EXPECT_EQ(ColorToPixelValue(&x8, 1, 2, 3, 0), 0xFF010203u);
    EXPECT_EQ(ColorToPixelValue(&r565, 255, 255, 255, 0), 0xFFFFu);

    std::vector<NamedFormat> formats = PackedFormats();
    formats.push_back({"channel16", MasksFormat(16, 0xFFFF, 0, 0, 0)}); // a channel wider than 8 bits
    formats.push_back({"R3G3B2", MasksFormat(8, 0xE0, 0x1C, 0x3, 0)});  // one byte, packed: no palette search
    std::mt19937 random(7);
    for (const auto &nf : formats) {
        for (int n = 0; n < 2000; n++) {
            int r = random() & 255, g = random() & 255, b = random() & 255, a = random() & 255;
            ASSERT_EQ(ColorToPixelValue(&nf.format, r, g, b, a), ColorToPixelReference(nf.format, r, g, b, a))
                << nf.name << " " << r << "," << g << "," << b << "," << a;
        }
    }
    PixelFormat wide = MasksFormat(16, 0xFFFF, 0, 0, 0);
    EXPECT_EQ(ColorToPixelValue(&wide, 0x80, 0, 0, 0), 0x8000u) << "a 16-bit channel takes the byte at its top";
}

TEST(PixelFormat, ColorToPaletteIndexPicksNearestLowestIndex)
{
    PixelFormat gray = GrayPaletteFormat();
    EXPECT_EQ(ColorToPixelValue(&gray, 10, 10, 10, 0), 10u);
    EXPECT_EQ(ColorToPixelValue(&gray, 200, 200, 201, 0), 200u);

    PixelFormat tie = GrayPaletteFormat();
    memset(tie.palette, 0xFF, sizeof(tie.palette));
    tie.palette[3] = {10, 10, 10, 0};
    tie.palette[7] = {30, 10, 10, 0};
    EXPECT_EQ(ColorToPixelValue(&tie, 20, 10, 10, 0), 3u) << "equally near: the lower index wins";

    // Random palettes against a brute-force search.
    std::mt19937 random(11);
    PixelFormat f = GrayPaletteFormat();
    for (int round = 0; round < 20; round++) {
        for (auto &e : f.palette) e = {(uint8_t)random(), (uint8_t)random(), (uint8_t)random(), 0};
        for (int n = 0; n < 50; n++) {
            int r = random() & 255, g = random() & 255, b = random() & 255;
            long best = -1, bestIndex = 0;
            for (int i = 0; i < 256; i++) {
                long d = (long)(f.palette[i].red - r) * (f.palette[i].red - r) +
                         (long)(f.palette[i].green - g) * (f.palette[i].green - g) +
                         (long)(f.palette[i].blue - b) * (f.palette[i].blue - b);
                if (best < 0 || d < best) best = d, bestIndex = i;
            }
            ASSERT_EQ(ColorToPixelValue(&f, r, g, b, 0), (uint32_t)bestIndex);
        }
    }
}

TEST(PixelFormat, SplitPixelComponentsMatchesReference)
{
    for (const auto &nf : PackedFormats()) {
        const PixelFormat &f = nf.format;
        int eightBit = f.redWidth == 8 && f.greenWidth == 8 && f.blueWidth == 8;
        std::mt19937 random(3);
        for (int n = 0; n < 70000; n++) {
            uint32_t value = f.bitsPerPixel == 16 ? (uint32_t)n & 0xFFFF : (uint32_t)random();
            if (f.bitsPerPixel == 24) value &= 0xFFFFFF;
            int out[4] = {-1, -1, -1, -1};
            SplitPixelComponents(&f, value, &out[0], &out[1], &out[2], &out[3]);
            const uint32_t masks[4] = {f.redMask, f.greenMask, f.blueMask, f.alphaMask};
            const int shifts[4] = {f.redShift, f.greenShift, f.blueShift, f.alphaShift};
            const int widths[4] = {f.redWidth, f.greenWidth, f.blueWidth, f.alphaWidth};
            for (int c = 0; c < 4; c++) {
                int expected;
                if (c == 3 && widths[3] == 0) {
                    expected = eightBit ? -1 : 0; // 8-8-8 formats leave an absent alpha unwritten
                } else {
                    double field = (double)((value & masks[c]) >> shifts[c]);
                    expected = (int)(field * 255.0 / ((1 << widths[c]) - 1) + 1e-9);
                }
                ASSERT_EQ(out[c], expected) << nf.name << " value " << value << " channel " << c;
            }
        }
    }
    // Null outputs are allowed.
    PixelFormat f = MasksFormat(16, 0xF800, 0x7E0, 0x1F, 0);
    EXPECT_EQ(SplitPixelComponents(&f, 0xFFFF, NULL, NULL, NULL, NULL), 0);
}

PixelFormat BlockFormat(int code)
{
    PixelFormat f = MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
    f.bitsPerPixel = code == 1 ? 4 : 8;
    f.formatCode = (uint32_t)code;
    return f;
}

TEST(PixelFormat, MipChainSizesCountEveryLevelsOwnGrid)
{
    PixelFormat x8 = MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0);
    const struct {
        const char *what;
        PixelFormat format;
        int width, height, pitch, mips;
        int64_t expected;
    } table[] = {
        {"DXT1 256x256, 9 levels", BlockFormat(1), 256, 256, 0, 9, 32768 + 8192 + 2048 + 512 + 128 + 32 + 8 + 8 + 8},
        // Levels below 4x4 still hold one 16-byte block.
        {"DXT5 256x256, 9 levels", BlockFormat(5), 256, 256, 0, 9, 65536 + 16384 + 4096 + 1024 + 256 + 64 + 16 + 16 + 16},
        {"DXT5 6x6", BlockFormat(5), 6, 6, 0, 1, 16},
        {"DXT3 8x8, no mip count", BlockFormat(3), 8, 8, 0, 0, 64},
        // Non-square: level 5 is 8x2, two blocks across, not a quarter of level 4.
        {"DXT1 256x64, 9 levels", BlockFormat(1), 256, 64, 0, 9, 8192 + 2048 + 512 + 128 + 32 + 16 + 8 + 8 + 8},
        {"XRGB 256x1, 3 levels", x8, 256, 1, 1024, 3, 1024 + 512 + 256},
        {"XRGB 4x4 padded pitch, 3 levels", x8, 4, 4, 20, 3, 80 + 16 + 4},
        {"DXT1 1x1, a million levels", BlockFormat(1), 1, 1, 0, 1000000, 8000000},
        {"empty", x8, 0, 0, 0, 1, 0},
    };
    for (const auto &e : table) {
        EXPECT_EQ(GetMipChainDataSize(&e.format, e.width, e.height, e.pitch, e.mips), e.expected) << e.what;
        BaseImage image;
        memset(&image, 0, sizeof(image));
        image.format = e.format;
        image.width = e.width;
        image.height = e.height;
        image.pitch = e.pitch;
        image.mipCount = e.mips;
        EXPECT_EQ(GetBaseImageDataSize(&image), e.expected) << e.what;
    }
}

} // namespace
