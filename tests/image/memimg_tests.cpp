// Software images: creation rules, sharing by reference count, derived views, premultiplied copies and run tables.
#include "image_test_support.h"

namespace {

using MemImgTest = ImageTest;

MEMIMG Dead()
{
    MEMIMG image;
    memset(&image, 0, sizeof(image));
    return image;
}

TEST_F(MemImgTest, CreationRulesForPitchFormatAndFlags)
{
    const struct {
        const char *what;
        int width, pitch, kind, palette, alpha;
        int expectedPitch, expectedShift, bytes, expectedPalette, expectedAlpha;
        uint32_t alphaMask;
    } table[] = {
        {"640 wide 16-bit", 640, -1, 0, 0, 0, 1280, -1, 2, 0, 0, 0},
        {"512 wide 16-bit", 512, -1, 0, 0, 0, 1024, 10, 2, 0, 0, 0},
        {"3 wide 32-bit rounds to 16 bytes", 3, -1, 1, 0, 0, 16, 4, 4, 0, 0, 0},
        {"5 wide 32-bit: 20 bytes wanted, 32 given", 5, -1, 1, 0, 0, 32, 5, 4, 0, 0, 0},
        {"9 wide 16-bit: 18 bytes wanted, 32 given", 9, -1, 0, 0, 0, 32, 5, 2, 0, 0, 0},
        {"24 wide 32-bit: 96 bytes", 24, -1, 1, 0, 0, 96, -1, 4, 0, 0, 0},
        {"given pitch that is a power of two", 100, 512, 1, 0, 0, 512, 9, 4, 0, 0, 0},
        {"given pitch that is not", 100, 500, 1, 0, 0, 500, -1, 4, 0, 0, 0},
        {"16-bit with alpha has 4 bytes", 4, -1, 0, 0, 1, 16, 4, 4, 0, 1, 0xFF0000},
        {"32-bit with alpha", 4, -1, 1, 0, 1, 16, 4, 4, 0, 1, 0xFF000000u},
        {"palette forces alpha off", 16, -1, 1, 1, 1, 16, 4, 1, 1, 0, 0},
        {"8-bit channel has neither", 16, -1, 2, 1, 1, 16, 4, 1, 0, 0, 0xFF},
        {"16-bit channel", 8, -1, 3, 0, 1, 16, 4, 2, 0, 0, 0xFFFF},
    };
    for (const auto &e : table) {
        MEMIMG image = Dead();
        ASSERT_EQ(CreateMemImg(&image, e.width, 3, e.pitch, 0, e.kind, e.palette, e.alpha, 1, NULL), 0) << e.what;
        const MemImgBlock *b = image.block;
        EXPECT_TRUE(IsValidMemImg(&image)) << e.what;
        EXPECT_EQ(b->pitch, e.expectedPitch) << e.what;
        EXPECT_EQ(b->pitchShift, e.expectedShift) << e.what;
        EXPECT_EQ(b->format->bytesPerPixel, e.bytes) << e.what;
        EXPECT_EQ(b->format, GetMemImgColorFormat(e.kind, b->alphaFlag, b->paletteFlag)) << e.what;
        EXPECT_EQ(b->format->alphaMask, e.alphaMask) << e.what;
        EXPECT_EQ(b->paletteFlag, e.expectedPalette) << e.what;
        EXPECT_EQ(b->alphaFlag, e.expectedAlpha) << e.what;
        EXPECT_EQ(b->palette != NULL, e.expectedPalette == 1) << e.what;
        EXPECT_EQ(b->premultiplied != NULL, e.expectedAlpha == 1) << e.what;
        EXPECT_EQ(b->runTable != NULL, e.kind != 2) << e.what;
        EXPECT_EQ(image.premultipliedPixels, b->premultiplied) << e.what;
        EXPECT_EQ(b->referenceCount, 1);
        memset(b->pixels, 0xAB, (size_t)b->pitch * 3);
        EXPECT_EQ(CreateMemImg(&image, 8, 8, -1, 0, 1, 0, 0, 0, NULL), -1) << "creating over a live record";
        EXPECT_EQ(image.block, b);
        ReleaseMemImg(&image);
        EXPECT_FALSE(IsValidMemImg(&image));
        EXPECT_EQ(image.block, nullptr);
    }
    EXPECT_EQ(GetMemImgColorFormat(4, 0, 0), nullptr);
    MEMIMG bad = Dead();
    const int badArguments[][3] = {{0, 4, 1}, {4, 0, 1}, {-3, 4, 1}, {4, 4, 4}, {4, 4, -1}};
    for (const auto &a : badArguments) {
        EXPECT_EQ(CreateMemImg(&bad, a[0], a[1], -1, 0, a[2], 0, 0, 0, NULL), -1);
        EXPECT_EQ(bad.block, nullptr);
    }
}

TEST_F(MemImgTest, CallerMemoryIsNotFreed)
{
    std::vector<unsigned char> pixels(64 * 4);
    MEMIMG image = Dead();
    ASSERT_EQ(CreateMemImg(&image, 8, 8, 32, 0, 1, 0, 0, 0, pixels.data()), 0);
    EXPECT_EQ(image.pixels, pixels.data());
    EXPECT_EQ(image.block->callerMemory, 1);
    ReleaseMemImg(&image);
}

TEST_F(MemImgTest, EveryFailedAllocationLeavesNothingBehind)
{
    // kind 1 with palette: block, palette, pixels, run table. kind 1 with alpha: block, pixels, copy, run table.
    const struct {
        int palette, alpha;
        int allocations;
    } table[] = {{1, 0, 4}, {0, 1, 4}, {0, 0, 3}};
    for (const auto &e : table) {
        for (int failAt = 0; failAt < e.allocations; failAt++) {
            MEMIMG image = Dead();
            int before = GetAllocationCount();
            SetAllocationFailureCountdown(failAt);
            EXPECT_EQ(CreateMemImg(&image, 8, 8, -1, 0, 1, e.palette, e.alpha, 1, NULL), -1) << failAt;
            SetAllocationFailureCountdown(-1);
            EXPECT_EQ(GetAllocationCount(), before) << "palette " << e.palette << " alpha " << e.alpha
                                                    << " failing allocation " << failAt;
            EXPECT_FALSE(IsValidMemImg(&image));
            ASSERT_EQ(CreateMemImg(&image, 8, 8, -1, 0, 1, e.palette, e.alpha, 1, NULL), 0) << "the record is reusable";
            ReleaseMemImg(&image);
        }
    }
}

TEST_F(MemImgTest, DerivedViewsShareTheBlockUntilTheLastRelease)
{
    MEMIMG parent = Dead(), child = Dead(), grandchild = Dead();
    ASSERT_EQ(CreateMemImg(&parent, 16, 8, -1, 0, 1, 0, 1, 1, NULL), 0);
    int afterCreate = GetAllocationCount();
    ASSERT_EQ(DeriveMemImg(&child, &parent, 2, 3, 5, 4), 0);
    EXPECT_EQ(child.pixels, parent.pixels + 3 * parent.block->pitch + 2 * 4);
    EXPECT_EQ(child.premultipliedPixels, parent.premultipliedPixels + 3 * parent.block->pitch + 2 * 4);
    EXPECT_EQ(child.width, 5);
    EXPECT_EQ(child.height, 4);
    ASSERT_EQ(DeriveMemImg(&grandchild, &child, 1, 1, 4, 3), 0);
    EXPECT_EQ(grandchild.pixels, parent.pixels + 4 * parent.block->pitch + 3 * 4);
    EXPECT_EQ(parent.block->referenceCount, 3);
    EXPECT_EQ(DeriveMemImg(&child, &parent, 0, 0, 1, 1), -1) << "deriving over a live view would lose a reference";
    ReleaseMemImg(&parent);
    EXPECT_EQ(GetAllocationCount(), afterCreate) << "the block lives on in its views";
    EXPECT_EQ(grandchild.block->referenceCount, 2);
    ReleaseMemImg(&child);
    ReleaseMemImg(&grandchild);
    EXPECT_EQ(ReleaseMemImg(&grandchild), 0) << "releasing a dead record does nothing";
}

TEST_F(MemImgTest, DeriveRefusesEmptyOrOutsideRectangles)
{
    MEMIMG parent = Dead();
    ASSERT_EQ(CreateMemImg(&parent, 10, 6, -1, 0, 0, 0, 0, 0, NULL), 0);
    const int rects[][4] = {{0, 0, 0, 3},  {0, 0, 3, 0},  {0, 0, -1, 2}, {-1, 0, 2, 2},
                            {0, -1, 2, 2}, {9, 0, 2, 2},  {0, 5, 2, 2},  {0, 0, 11, 6},
                            {0, 0, 10, 7}, {5, 0, 0x7FFFFFFF, 1}};
    for (const auto &r : rects) {
        MEMIMG view = Dead();
        EXPECT_EQ(DeriveMemImg(&view, &parent, r[0], r[1], r[2], r[3]), -1)
            << r[0] << "," << r[1] << " " << r[2] << "x" << r[3];
        EXPECT_FALSE(IsValidMemImg(&view));
    }
    EXPECT_EQ(parent.block->referenceCount, 1);
    MEMIMG whole = Dead();
    EXPECT_EQ(DeriveMemImg(&whole, &parent, 0, 0, 10, 6), 0);
    MEMIMG dead = Dead();
    EXPECT_EQ(DeriveMemImg(&whole, &dead, 0, 0, 1, 1), -1) << "a dead source";
    ReleaseMemImg(&whole);
    ReleaseMemImg(&parent);
}

// Premultiplied entries straight from the rule, per kind.
uint32_t PremultipliedReference(int kind, uint32_t pixel)
{
    if (kind == 0) {
        uint32_t a = (pixel >> 16) & 0xFF;
        uint32_t r = (pixel >> 11) & 31, g = (pixel >> 5) & 63, b = pixel & 31;
        // Each field times alpha, shifted down 8 bits, keeps its own field width.
        uint32_t color = (((r << 11) * a >> 8) & 0xF800) | (((g << 5) * a >> 8) & 0x7E0) | ((b * a >> 8) & 0x1F);
        return color | a << 16;
    }
    uint32_t a = pixel >> 24;
    return ((pixel & 0xFF) * a >> 8) | (((pixel >> 8) & 0xFF) * a >> 8) << 8 | (((pixel >> 16) & 0xFF) * a >> 8) << 16 |
           a << 24;
}

void FillFromBaseImage(MEMIMG *image, const std::vector<uint32_t> &pixels)
{
    BaseImage source;
    memset(&source, 0, sizeof(source));
    source.format = *image->block->format;
    source.width = image->width;
    source.height = image->height;
    source.pitch = image->width * 4;
    source.pixels = (unsigned char *)pixels.data();
    TransferMemImg(&source, NULL, image, 0, 0, image->width, image->height, 0, 0, 0);
}

TEST_F(MemImgTest, PremultipliedCopyMatchesReference)
{
    std::mt19937 random(9);
    for (int kind = 0; kind < 2; kind++) {
        MEMIMG image = Dead();
        ASSERT_EQ(CreateMemImg(&image, 37, 9, -1, 0, kind, 0, 1, 1, NULL), 0);
        std::vector<uint32_t> pixels(37 * 9);
        for (auto &p : pixels) p = kind == 0 ? random() & 0xFFFFFF : (uint32_t)random();
        pixels[0] = kind == 0 ? 0x800000 | 0xF800 : 0x800080FF; // blue 255, green 128, red 0, alpha 128 for kind 1
        FillFromBaseImage(&image, pixels);
        ASSERT_EQ(image.block->premultipliedValid, 1);
        const uint32_t *copy = (const uint32_t *)image.premultipliedPixels;
        if (kind == 1) {
            EXPECT_EQ(copy[0], 0x8000407Fu) << "(127, 64, 0, 128)";
        }
        for (int y = 0; y < 9; y++) {
            for (int x = 0; x < 37; x++) {
                uint32_t expected = PremultipliedReference(kind, pixels[y * 37 + x]);
                ASSERT_EQ(copy[y * image.block->pitch / 4 + x], expected) << "kind " << kind << " " << x << "," << y;
            }
        }
        ReleaseMemImg(&image);
    }
}

// Decodes a run table back into per-pixel classes, checking its form as it goes.
std::vector<int> DecodeRuns(const unsigned char *table, int width, int height, bool *wellFormed)
{
    std::vector<int> classes;
    *wellFormed = true;
    int previous = -1;
    for (int y = 0; y < height; y++) {
        int x = 0, previousCount = 0;
        previous = -1;
        for (;;) {
            unsigned char byte = *table++;
            if (byte == RUN_TABLE_ROW_END) break;
            int runClass = byte & 0xC0, count = (byte & 63) + 1;
            // Runs are as long as they can be: a run of the same class may follow only a full run of 64.
            if (runClass == previous && previousCount != 64) *wellFormed = false;
            for (int i = 0; i < count; i++) classes.push_back(runClass);
            x += count;
            previous = runClass;
            previousCount = count;
            if (x > width) {
                *wellFormed = false;
                return classes;
            }
        }
        if (x != width) *wellFormed = false;
    }
    return classes;
}

TEST_F(MemImgTest, RunTableExampleRow)
{
    MEMIMG image = Dead();
    ASSERT_EQ(CreateMemImg(&image, 80, 1, -1, 0x1234, 0, 0, 0, 1, NULL), 0);
    uint16_t *row = (uint16_t *)image.pixels;
    for (int x = 0; x < 80; x++) row[x] = x < 10 ? 0x1234 : 0x0001;
    RebuildMemImgDerivedData(&image, 80, 1);
    const unsigned char expected[] = {9, 127, 69, 192};
    EXPECT_EQ(memcmp(image.block->runTable, expected, 4), 0);
    EXPECT_EQ(image.block->runTableValid, 1);
    ReleaseMemImg(&image);
}

TEST_F(MemImgTest, RunTablesClassifyEveryPixel)
{
    const struct {
        const char *what;
        int kind, palette, alpha;
    } table[] = {{"16-bit key", 0, 0, 0}, {"32-bit key", 1, 0, 0}, {"16-bit alpha", 0, 0, 1},
                 {"32-bit alpha", 1, 0, 1}, {"palette", 1, 1, 0}};
    std::mt19937 random(21);
    for (const auto &e : table) {
        const int width = 150, height = 7;
        MEMIMG image = Dead();
        ASSERT_EQ(CreateMemImg(&image, width, height, -1, 3, e.kind, e.palette, e.alpha, 1, NULL), 0);
        int bytes = image.block->format->bytesPerPixel;
        std::vector<int> expected;
        for (int y = 0; y < height; y++) {
            // Long stretches of one class with random breaks, so runs both fill 64 and stop early.
            int runClass = 0, left = 0;
            for (int x = 0; x < width; x++) {
                if (left-- <= 0) runClass = random() % (e.alpha ? 3 : 2), left = random() % 90;
                uint32_t v;
                if (e.alpha) {
                    int a = runClass == 0 ? 0 : runClass == 1 ? 255 : 1 + random() % 254;
                    v = (random() & 0xFFFF) | (uint32_t)a << (e.kind == 0 ? 16 : 24);
                } else {
                    v = runClass == 0 ? 3 : 4 + random() % 200;
                }
                WriteRawPixel(image.pixels + y * image.block->pitch + x * bytes, bytes, v);
                expected.push_back(runClass == 0 ? RUN_TABLE_TRANSPARENT
                                   : runClass == 1 ? RUN_TABLE_OPAQUE
                                                   : RUN_TABLE_TRANSLUCENT);
            }
        }
        RebuildMemImgDerivedData(&image, width, height);
        bool wellFormed;
        EXPECT_EQ(DecodeRuns(image.block->runTable, width, height, &wellFormed), expected) << e.what;
        EXPECT_TRUE(wellFormed) << e.what;
        ReleaseMemImg(&image);
    }
}

TEST_F(MemImgTest, DerivedDataIsValidOnlyAfterWholeBlockWrites)
{
    MEMIMG image = Dead();
    ASSERT_EQ(CreateMemImg(&image, 8, 8, -1, 0, 1, 0, 1, 1, NULL), 0);
    MEMIMG view = Dead();
    ASSERT_EQ(DeriveMemImg(&view, &image, 2, 2, 4, 4), 0);
    std::vector<uint32_t> pixels(64, 0xFF000000u);
    const struct {
        const char *what;
        MEMIMG *target;
        int width, height;
        int valid;
    } table[] = {
        {"whole block", &image, 8, 8, 1},
        {"part of the block", &image, 4, 8, 0},
        {"whole view that is part of the block", &view, 4, 4, 0},
    };
    for (const auto &e : table) {
        FillFromBaseImage(&image, pixels); // start valid
        ASSERT_EQ(image.block->runTableValid, 1);
        RebuildMemImgDerivedData(e.target, e.width, e.height);
        EXPECT_EQ(image.block->runTableValid, e.valid) << e.what;
        EXPECT_EQ(image.block->premultipliedValid, e.valid) << e.what;
    }
    FillFromBaseImage(&image, pixels);
    RECT box = {1, 1, 3, 3};
    FillMemImgRect(&view, &box, 0);
    EXPECT_EQ(image.block->runTableValid, 0) << "a fill marks the tables stale";
    EXPECT_EQ(image.block->premultipliedValid, 0);
    FillFromBaseImage(&image, pixels);
    MemImgRectOperation(&image, &view, NULL, 0, 0);
    EXPECT_EQ(image.block->runTableValid, 0) << "a copy into the block marks the tables stale";
    ReleaseMemImg(&view);
    ReleaseMemImg(&image);
}

} // namespace
