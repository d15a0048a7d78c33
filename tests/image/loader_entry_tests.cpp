// Image loading entries: by file name and from memory, mirrored, handed out as a DIB, with the "_a" alpha
// picture; and the alpha file naming rule. Windows only (file-function table, multi-byte rules).
#include <gtest/gtest.h>

#include "image/image.h"

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace
{

std::vector<unsigned char> ReadFixture(const char *name)
{
    std::vector<unsigned char> bytes;
    FILE *file = fopen((std::string("fixtures/") + name).c_str(), "rb");
    if (file != NULL) {
        int c;
        while ((c = fgetc(file)) != EOF) {
            bytes.push_back((unsigned char)c);
        }
        fclose(file);
    }
    return bytes;
}

TEST(ImageLoading, AlphaFileNames)
{
    const struct {
        const char *source, *expected;
    } cases[] = {
        {"chara.png", "chara_a.png"},       {"a.b.png", "a.b_a.png"},   {"noext", "noext_a"}, {"", "_a"},
        {"dir.d/pic", "dir_a.d/pic"},       {"\x81.png", "\x81.png_a"}, // the dot is the trail byte of a double-byte
                                                                        // character
        {"\x81\x40.bmp", "\x81\x40_a.bmp"},
    };
    for (const auto &c : cases) {
        char out[64];
        EXPECT_EQ(MakeAlphaImageFileName(c.source, out), 0);
        EXPECT_STREQ(out, c.expected) << c.source;
    }
}

TEST(ImageLoading, FromMemoryAndFromFileGiveTheSamePicture)
{
    std::vector<unsigned char> bytes = ReadFixture("rgb24_up.bmp");
    ASSERT_FALSE(bytes.empty());
    int before = GetAllocationCount();
    BaseImage fromMemory, fromFile, mirrored;
    ASSERT_EQ(LoadBaseImageNoAlpha(NULL, bytes.data(), (int)bytes.size(), 1, &fromMemory, 0), 0);
    ASSERT_EQ(LoadBaseImageNoAlpha("fixtures/rgb24_up.bmp", NULL, 0, 0, &fromFile, 0), 0);
    ASSERT_EQ(LoadBaseImageNoAlpha("fixtures/rgb24_up.bmp", NULL, 0, 0, &mirrored, 1), 0);
    ASSERT_EQ(fromFile.pitch, fromMemory.pitch);
    EXPECT_EQ(memcmp(fromFile.pixels, fromMemory.pixels, (size_t)fromFile.pitch * fromFile.height), 0);
    for (int y = 0; y < fromFile.height; y++) {
        for (int x = 0; x < fromFile.width; x++) {
            const unsigned char *a = fromFile.pixels + y * fromFile.pitch + x * 3;
            const unsigned char *b = mirrored.pixels + y * mirrored.pitch + (fromFile.width - 1 - x) * 3;
            ASSERT_EQ(memcmp(a, b, 3), 0) << x << "," << y;
        }
    }
    FreeBaseImageData(&fromMemory);
    FreeBaseImageData(&fromFile);
    FreeBaseImageData(&mirrored);
    EXPECT_EQ(GetAllocationCount(), before);
}

TEST(ImageLoading, FailuresLeaveNothingBehind)
{
    unsigned char junk[40];
    memset(junk, 'Q', sizeof(junk));
    const struct {
        const char *why;
        const char *name;
        const void *memory;
        int size, memoryFlag;
    } cases[] = {
        {"missing file", "fixtures/no_such_file.png", NULL, 0, 0},
        {"data no loader takes", NULL, junk, (int)sizeof(junk), 1},
        {"damaged file", "fixtures/cut.png", NULL, 0, 0},
    };
    for (const auto &c : cases) {
        int before = GetAllocationCount();
        BaseImage image;
        memset(&image, 0, sizeof(image));
        EXPECT_EQ(LoadBaseImageNoAlpha(c.name, c.memory, c.size, c.memoryFlag, &image, 0), -1) << c.why;
        EXPECT_EQ(image.pixels, nullptr) << c.why;
        EXPECT_EQ(GetAllocationCount(), before) << c.why;
    }
}

TEST(ImageLoading, AlphaPictureByNameOrFromMemory)
{
    std::vector<unsigned char> grey = ReadFixture("grey8.png");
    const struct {
        const char *name;
        int alphaMode;
        int expected;
    } cases[] = {
        {"fixtures/rgb.png", 0, 0},  // fixtures/rgb_a.png exists
        {"fixtures/rgba.png", 0, 1}, // fixtures/rgba_a.png does not
        {"fixtures/rgba.png", 1, 0}, {"fixtures/rgba.png", 2, 1}, {"fixtures/missing.png", 0, -1},
    };
    for (const auto &c : cases) {
        int before = GetAllocationCount();
        BaseImage image, alpha;
        memset(&image, 0, sizeof(image));
        memset(&alpha, 0, sizeof(alpha));
        EXPECT_EQ(
            LoadImageToBaseImage(c.name, NULL, 0, 0, grey.data(), (int)grey.size(), c.alphaMode, &image, &alpha, 0),
            c.expected)
            << c.name << " mode " << c.alphaMode;
        if (c.expected == 0) {
            EXPECT_EQ(alpha.width, 9);
            EXPECT_EQ(alpha.format.bitsPerPixel, 8);
        }
        FreeBaseImageData(&image);
        FreeBaseImageData(&alpha);
        EXPECT_EQ(GetAllocationCount(), before);
    }
}

TEST(ImageLoading, DibHandOut)
{
    const struct {
        const char *name;
        int bits;
    } cases[] = {{"p8_up.bmp", 8}, {"rgb24_down.bmp", 24}, {"rgba.png", 24}};
    for (const auto &c : cases) {
        std::vector<unsigned char> bytes = ReadFixture(c.name);
        int before = GetAllocationCount();
        BaseImage reference;
        ASSERT_EQ(LoadBaseImageNoAlpha(NULL, bytes.data(), (int)bytes.size(), 1, &reference, 0), 0) << c.name;
        DibHeaderBlock *header = NULL;
        unsigned char *pixels = NULL;
        BaseImage unused;
        ASSERT_EQ(LoadBaseImage(NULL, bytes.data(), (int)bytes.size(), 1, 1, 0, &unused, &header, &pixels), 0);
        ASSERT_NE(header, nullptr);
        ASSERT_NE(pixels, nullptr);
        EXPECT_EQ(header->bitCount, c.bits) << c.name;
        EXPECT_EQ(header->width, reference.width) << c.name;
        EXPECT_EQ(header->height, -reference.height) << c.name;
        int rowBytes = (reference.width * c.bits / 8 + 3) / 4 * 4;
        for (int y = 0; y < reference.height; y++) {
            for (int x = 0; x < reference.width; x++) {
                int r, g, b, a;
                GetBaseImagePixelComponents(&reference, x, y, &r, &g, &b, &a);
                const unsigned char *p = pixels + y * rowBytes + x * (c.bits / 8);
                if (c.bits == 8) {
                    EXPECT_EQ(header->colors[p[0]].red, r);
                } else {
                    EXPECT_EQ(p[2], r);
                    EXPECT_EQ(p[0], b);
                }
            }
        }
        FreeMemory(pixels);
        FreeMemory(header);
        FreeBaseImageData(&reference);
        EXPECT_EQ(GetAllocationCount(), before) << c.name;
    }
}

} // namespace
