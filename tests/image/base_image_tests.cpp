// Base images: constructors, single-pixel reads and writes, release.
#include "image_test_support.h"

namespace {

using BaseImageTest = ImageTest;

TEST_F(BaseImageTest, ConstructorsSetFormatPitchAndBlock)
{
    const struct {
        const char *what;
        int which; // 0 ARGB8, 1 XRGB8, 2 like an RGB24 model
        int width, height, pitch;
    } table[] = {
        {"ARGB8 3x2", 0, 3, 2, 12}, {"XRGB8 5x1", 1, 5, 1, 20}, {"RGB24 like 3x3", 2, 3, 3, 12},
        {"RGB24 like 4x1", 2, 4, 1, 12}, {"RGB24 like 1x2", 2, 1, 2, 4},
    };
    PixelFormat rgb24;
    memset(&rgb24, 0, sizeof(rgb24));
    SetRGB24PixelFormat(&rgb24);
    BaseImage model;
    memset(&model, 0, sizeof(model));
    model.format = rgb24;
    for (const auto &e : table) {
        BaseImage image;
        memset(&image, 0x33, sizeof(image));
        int result = e.which == 0   ? NewARGB8BaseImage(e.width, e.height, &image)
                     : e.which == 1 ? NewXRGB8BaseImage(e.width, e.height, &image)
                                    : CreateBaseImageLike(e.width, e.height, &model, &image);
        ASSERT_EQ(result, 0) << e.what;
        EXPECT_EQ(image.width, e.width) << e.what;
        EXPECT_EQ(image.height, e.height) << e.what;
        EXPECT_EQ(image.pitch, e.pitch) << e.what;
        EXPECT_EQ(image.mipCount, 0) << e.what;
        EXPECT_EQ(image.format.bytesPerPixel, e.which == 2 ? 3 : 4) << e.what;
        EXPECT_EQ(image.format.alphaWidth, e.which == 0 ? 8 : 0) << e.what;
        ASSERT_NE(image.pixels, nullptr);
        memset(image.pixels, 1, (size_t)image.pitch * image.height); // the whole block is ours
        FreeBaseImageData(&image);
        BaseImage zero;
        memset(&zero, 0, sizeof(zero));
        EXPECT_EQ(memcmp(&image, &zero, sizeof(zero)), 0) << "release zeroes the record";
    }
}

TEST_F(BaseImageTest, ConstructorFailureKeepsSizesAndNoBlock)
{
    BaseImage image;
    memset(&image, 0, sizeof(image));
    SetAllocationFailureCountdown(0);
    EXPECT_EQ(NewARGB8BaseImage(7, 3, &image), -1);
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(image.width, 7);
    EXPECT_EQ(image.pitch, 28);
    EXPECT_EQ(NewXRGB8BaseImage(-1, 3, &image), -1) << "negative sizes are refused";
    EXPECT_EQ(NewXRGB8BaseImage(0x10000, 0x10000, &image), -1) << "sizes past 2 GB are refused";
    EXPECT_EQ(image.pixels, nullptr);
}

TEST_F(BaseImageTest, PixelColorPlacesFieldsAtTopOfTheirBytes)
{
    const struct {
        PixelFormat format;
        uint32_t raw, expected;
    } table[] = {
        {MasksFormat(16, 0xF800, 0x7E0, 0x1F, 0), 0xFFFF, 0x00F8FCF8},
        {MasksFormat(16, 0xF800, 0x7E0, 0x1F, 0), 0x8410, 0x00808080},
        {MasksFormat(16, 0x7C00, 0x3E0, 0x1F, 0x8000), 0x8000 | 0x7C00, 0x80F80000},
        {MasksFormat(16, 0xF00, 0xF0, 0xF, 0xF000), 0x1234, 0x10203040},
        {MasksFormat(24, 0xFF0000, 0xFF00, 0xFF, 0), 0x123456, 0x00123456},
        {MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0), 0xAB123456, 0x00123456},
        {MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u), 0xAB123456, 0xAB123456},
        {MasksFormat(32, 0xFFFF, 0, 0, 0), 0xABCD, 0x00AB0000}, // a 16-bit channel: its top byte
    };
    for (const auto &e : table) {
        BaseImage image = MakeImage(e.format, 2, 2);
        SetPixelAt(image, 1, 1, e.raw);
        EXPECT_EQ(GetBaseImagePixelColor(&image, 1, 1), e.expected) << std::hex << e.raw;
        FreeBaseImageData(&image);
    }
    BaseImage empty;
    memset(&empty, 0, sizeof(empty));
    EXPECT_EQ(GetBaseImagePixelColor(&empty, 0, 0), 0u);
}

TEST_F(BaseImageTest, SetThenGetRoundTripsEveryFormat)
{
    std::vector<NamedFormat> formats = PackedFormats();
    PixelFormat gray = GrayPaletteFormat();
    formats.push_back({"gray8", gray});
    formats.push_back({"R3G3B2", MasksFormat(8, 0xE0, 0x1C, 0x3, 0)}); // one byte, packed
    std::mt19937 random(5);
    for (const auto &nf : formats) {
        BaseImage image = MakeImage(nf.format, 5, 4);
        for (int n = 0; n < 200; n++) {
            int x = random() % 5, y = random() % 4;
            int r = random() & 255, g = random() & 255, b = random() & 255, a = random() & 255;
            bool palette = nf.format.bytesPerPixel == 1 && nf.format.redMask > 0xFF;
            if (palette)
                g = b = r; // the grey palette holds only greys
            ASSERT_EQ(SetBaseImagePixel(&image, x, y, r, g, b, a), 0);
            ASSERT_EQ(PixelAt(image, x, y), ColorToPixelValue(&nf.format, r, g, b, a)) << nf.name;
            int out[4] = {-1, -1, -1, -1};
            ASSERT_EQ(GetBaseImagePixelComponents(&image, x, y, &out[0], &out[1], &out[2], &out[3]), 0);
            const int in[4] = {r, g, b, a};
            const int widths[4] = {nf.format.redWidth, nf.format.greenWidth, nf.format.blueWidth,
                                   nf.format.alphaWidth};
            for (int c = 0; c < 4; c++) {
                if (palette) {
                    ASSERT_EQ(out[c], c == 3 ? 0 : in[c]) << nf.name;
                } else if (widths[c] != 0) {
                    ASSERT_EQ((uint32_t)out[c], ScaleFieldReference((uint32_t)in[c] >> (8 - widths[c]), widths[c], 8))
                        << nf.name << " channel " << c;
                }
            }
        }
        FreeBaseImageData(&image);
    }
}

TEST_F(BaseImageTest, PixelCallsRefuseOutsideCoordinates)
{
    PixelFormat f = MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
    BaseImage image = MakeImage(f, 3, 2);
    const int outside[][2] = {{3, 0}, {0, 2}, {-1, 0}, {0, -1}, {1000000, 1}};
    for (const auto &p : outside) {
        EXPECT_EQ(SetBaseImagePixel(&image, p[0], p[1], 1, 2, 3, 4), -1) << p[0] << "," << p[1];
        int r;
        EXPECT_EQ(GetBaseImagePixelComponents(&image, p[0], p[1], &r, NULL, NULL, NULL), -1);
    }
    for (int i = 0; i < image.pitch * image.height; i++) {
        ASSERT_EQ(image.pixels[i], 0) << "nothing was written";
    }
    FreeBaseImageData(&image);
}

TEST_F(BaseImageTest, ClearRectZeroesOnlyTheRectangle)
{
    PixelFormat f = MasksFormat(24, 0xFF0000, 0xFF00, 0xFF, 0);
    BaseImage image = MakeImage(f, 5, 4);
    memset(image.pixels, 0xEE, (size_t)image.pitch * image.height);
    ClearBaseImageRect(&image, 1, 1, 3, 2);
    for (int y = 0; y < 4; y++) {
        for (int x = 0; x < 5; x++) {
            bool inside = x >= 1 && x < 4 && y >= 1 && y < 3;
            EXPECT_EQ(PixelAt(image, x, y), inside ? 0u : 0xEEEEEEu) << x << "," << y;
        }
    }
    FreeBaseImageData(&image);
}

TEST_F(BaseImageTest, PixelReadOfBlockImageDecodesItFirst)
{
    PixelFormat f = MasksFormat(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
    f.bitsPerPixel = 4;
    f.formatCode = PIXEL_FORMAT_DXT1;
    BaseImage image;
    memset(&image, 0, sizeof(image));
    image.format = f;
    image.width = image.height = 4;
    image.pixels = (unsigned char *)ENGINE_ALLOC_ZEROED(8);
    image.pixels[0] = 0x00;
    image.pixels[1] = 0xF8; // colour 0 red, colour 1 black, indices 0
    int r = 0, g = 0, b = 0, a = 0;
    ASSERT_EQ(GetBaseImagePixelComponents(&image, 3, 3, &r, &g, &b, &a), 0);
    EXPECT_EQ(r, 255);
    EXPECT_EQ(g, 0);
    EXPECT_EQ(a, 255);
    EXPECT_EQ(image.format.formatCode, 0u);
    FreeBaseImageData(&image);
}

} // namespace
