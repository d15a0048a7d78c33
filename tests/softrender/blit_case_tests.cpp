// Known cases of the software blits: worked pixel values and placements, the run table's row codes, when the
// run walk is taken, the refusals, and the corners the turned rotated draw hands to the quad drawer.
#include "blit_test_fixture.h"

#include <limits.h>
#include <math.h>
#include <string.h>

#include <functional>
#include <vector>

namespace
{

void SetDrawSettings(int mode, int parameter, uint32_t brightness, RECT area)
{
    g_MemImgDrawSettings.blendMode = mode;
    g_MemImgDrawSettings.blendParameter = parameter;
    g_MemImgDrawSettings.brightness = brightness;
    g_MemImgDrawSettings.drawArea = area;
}

void SetMode(int mode, int parameter)
{
    g_MemImgDrawSettings.blendMode = mode;
    g_MemImgDrawSettings.blendParameter = parameter;
}

BlitCall PointAt(int x, int y)
{
    BlitCall call;
    call.x = x;
    call.y = y;
    return call;
}

BlitCall Stretched(LONG left, LONG top, LONG right, LONG bottom)
{
    BlitCall call;
    call.kind = BLIT_STRETCHED;
    call.rect = RECT{left, top, right, bottom};
    return call;
}

BlitCall Rotated(int x, int y, float scale, float angle)
{
    BlitCall call;
    call.kind = BLIT_ROTATED;
    call.x = x;
    call.y = y;
    call.scale = scale;
    call.angle = angle;
    return call;
}

// One or two source pixels of one value drawn at (0, 0) of a 3x2 view of `background`.
struct WorkedPixel {
    const char *what;
    int kind, form;
    uint32_t source, background;
    int mode, parameter, transparent, blendWeight; // blendWeight: the fade weight of every blend byte, -1 none
    uint32_t brightness;
    std::vector<uint32_t> expected;
};

// clang-format off
const WorkedPixel kWorkedPixels[] = {
    {"16-bit white over black at p 128 keeps each channel's upper bits",
     0, FORM_DIRECT, 0xFFFF, 0, 1, 128, 0, -1, 0xFFFFFF, {0x7BEF}},
    {"16-bit green 63 over green 0 at p 200 takes mix layer 50",
     0, FORM_DIRECT, 0x07E0, 0, 1, 200, 0, -1, 0xFFFFFF, {50 << 5}},
    {"16-bit full-strength add of a plain pair drops the low green and red bits (and the right one's low blue)",
     0, FORM_DIRECT, 0xFFFF, 0, 2, 255, 0, -1, 0xFFFFFF, {0xF7DF, 0xF7DE}},
    {"16-bit full-strength add of an opaque alpha pixel keeps them",
     0, FORM_ALPHA, 0xFFFFFF, 0, 2, 255, 1, -1, 0xFFFFFF, {0xFFFF}},
    {"16-bit white taken from 0x1234 leaves black",
     0, FORM_DIRECT, 0xFFFF, 0x1234, 3, 255, 0, -1, 0xFFFFFF, {0}},
    {"16-bit palettised subtract at p 0 sets the low red bit and clears the low green bit",
     0, FORM_PALETTE, 5, 0x1234, 3, 0, 0, -1, 0xFFFFFF, {0x1A14}},
    {"16-bit mode 4 with blend weight 0 writes black",
     0, FORM_DIRECT, 0xFFFF, 0x1234, 4, 99, 0, 0, 0xFFFFFF, {0}},
    {"16-bit mode 10 of white at p 255 writes black",
     0, FORM_DIRECT, 0xFFFF, 0x1234, 10, 255, 0, -1, 0xFFFFFF, {0}},
    {"16-bit alpha 0 drawn transparent in mode 4 turns black in the regular loops",
     0, FORM_ALPHA, 0xFFFF, 0x1234, 4, 9, 2, -1, 0xFFFFFF, {0}},
    {"16-bit alpha 0 drawn transparent in mode 11 keeps the destination",
     0, FORM_ALPHA, 0xFFFF, 0x1234, 11, 200, 2, -1, 0xFFFFFF, {0x1234}},
    {"32-bit blend weight 255 stops one short of the source",
     1, FORM_DIRECT, 0xFFFFFF, 0, 0, 0, 0, 255, 0xFFFFFF, {0xFEFEFE}},
    {"32-bit add of blue 200 onto 100 saturates blue and carries into green",
     1, FORM_ALPHA, 0xFF0000C8, 0x64, 2, 255, 1, -1, 0xFFFFFF, {0x1FF}},
    {"32-bit add of green 1 onto 0x81 keeps 0x81",
     1, FORM_ALPHA, 0xFF000100, 0x8100, 2, 255, 1, -1, 0xFFFFFF, {0x8100}},
    {"32-bit blue 100 taken from 50 gives 0 and clears byte 3",
     1, FORM_DIRECT, 0x64, 0xAB000032, 3, 255, 0, -1, 0xFFFFFF, {0x10000}},
    {"32-bit brightness 0x00FF00 in mode 10 zeroes the inverted red and blue",
     1, FORM_DIRECT, 0, 0x808080, 10, 255, 0, -1, 0x00FF00, {0xFE00}},
    {"32-bit opaque draw of an alpha source copies its alpha byte",
     1, FORM_ALPHA, 0x40112233, 0, 0, 0, 0, -1, 0xFFFFFF, {0x40112233}},
    {"32-bit p 128 halves both words and clears byte 3",
     1, FORM_DIRECT, 0xFFFFFFFF, 0xFF000000, 1, 128, 0, -1, 0xFFFFFF, {0x7F7F7F}},
    {"32-bit p 127 mixes and keeps byte 3",
     1, FORM_DIRECT, 0xFFFFFFFF, 0xFF000000, 1, 127, 0, -1, 0xFFFFFF, {0xFF7E7E7E}},
};
// clang-format on

// Where a 32-bit source lands in mode 0 on a view of 0xEEEEEEEE, as the expected pixel at every (x, y).
struct WorkedPlacement {
    const char *what;
    int width, height;
    uint32_t (*source)(int x, int y);
    BlitCall call;
    int viewWidth, viewHeight;
    uint32_t (*expected)(int x, int y, uint32_t background);
};

uint32_t Column(int x, int y)
{
    return (uint32_t)x;
}

uint32_t Distinct(int x, int y)
{
    return (uint32_t)(x + 8 * y + 1) * 0x010101;
}

// An unscaled, unturned square of Distinct with its top-left corner at (8, 8).
uint32_t PlacedAt8(int x, int y, uint32_t background, int side)
{
    return x >= 8 && x < 8 + side && y >= 8 && y < 8 + side ? Distinct(x - 8, y - 8) : background;
}

const WorkedPlacement kWorkedPlacements[] = {
    {"200 columns drawn 100 wide show columns 0, 2, 4 ...", 200, 1, Column, Stretched(0, 0, 100, 1), 400, 1,
     [](int x, int, uint32_t b) { return x < 100 ? 2u * x : b; }},
    {"200 columns drawn 400 wide show every column twice", 200, 1, Column, Stretched(0, 0, 400, 1), 400, 1,
     [](int x, int, uint32_t) { return x / 2u; }},
    {"200 columns drawn 300 wide show columns 0, 0, 1, 2, 2, 3 ...", 200, 1, Column, Stretched(0, 0, 300, 1), 400, 1,
     [](int x, int, uint32_t b) { return x < 300 ? 2u * x / 3 : b; }},
    {"200 columns drawn 100 wide mirrored show columns 199, 197 ...", 200, 1, Column, Stretched(100, 0, 0, 1), 400, 1,
     [](int x, int, uint32_t b) { return x < 100 ? 199u - 2 * x : b; }},
    {"unturned 5x5 at (10, 10) covers columns and rows 8 to 12", 5, 5, Distinct, Rotated(10, 10, 1.0f, 0.0f), 20, 20,
     [](int x, int y, uint32_t b) { return PlacedAt8(x, y, b, 5); }},
    {"unturned 4x4 at (10, 10) covers 8 to 11 and leaves the rest of its box", 4, 4, Distinct,
     Rotated(10, 10, 1.0f, 0.0f), 20, 20, [](int x, int y, uint32_t b) { return PlacedAt8(x, y, b, 4); }},
    {"scale 2 gives every source pixel two columns and two rows", 2, 2, Distinct, Rotated(10, 10, 2.0f, 0.0f), 20, 20,
     [](int x, int y, uint32_t b) {
         return x >= 8 && x < 12 && y >= 8 && y < 12 ? Distinct((x - 8) / 2, (y - 8) / 2) : b;
     }},
    {"a quarter turn puts the top edge on the right", 3, 3, Distinct, Rotated(10, 10, 1.0f, 1.57079637f), 20, 20,
     [](int x, int y, uint32_t b) { return x >= 9 && x < 12 && y >= 9 && y < 12 ? Distinct(y - 9, 11 - x) : b; }},
};

// Draws under the current settings and compares every pixel of the view with `expected`.
void ExpectDrawn(std::mt19937 &rng, const char *what, TestImage &source, BlitCall call, int kind, int viewWidth,
                 int viewHeight, uint32_t background, const std::function<uint32_t(int x, int y)> &expected)
{
    Destination destination;
    MakeDestination(destination, rng, kind, viewWidth, viewHeight);
    FillView(destination.view, [background](int, int) { return background; });
    g_MemImgDrawSettings.drawArea = RECT{0, 0, viewWidth, viewHeight};
    call.source = &source.image;
    EXPECT_EQ(CheckBlit(destination, call), "") << what;
    ModelImage actual = CaptureImage(&destination.view);
    for (int i = 0; i < viewWidth * viewHeight; i++) {
        ASSERT_EQ(actual.pixels[i], expected(i % viewWidth, i / viewWidth)) << what << " at pixel " << i;
    }
}

TEST_F(BlitTest, WorkedValuesAndPlacements)
{
    std::mt19937 rng(7);
    for (const WorkedPixel &c : kWorkedPixels) {
        TestImage source, blend;
        int count = (int)c.expected.size();
        MakeSource(source, rng, c.kind, c.form, count, 1, false);
        FillView(source.image, [&c](int, int) { return c.source; });
        SetDrawSettings(c.mode, c.parameter, c.brightness, RECT{});
        BlitCall call = MakeBlitCall(BLIT_POINT, nullptr, nullptr, c.transparent);
        if (c.blendWeight >= 0) {
            MakeBlendImage(blend, rng, count, 1);
            memset(blend.memory, 7, count);
            g_BlendTables.fadeRamp[7] = (uint8_t)c.blendWeight;
            call.blendImage = &blend.image;
        }
        ExpectDrawn(rng, c.what, source, call, c.kind, 3, 2, c.background,
                    [&c, count](int x, int y) { return x < count && y == 0 ? c.expected[x] : c.background; });
    }
    for (const WorkedPlacement &c : kWorkedPlacements) {
        TestImage source;
        MakeSource(source, rng, 1, FORM_DIRECT, c.width, c.height, false);
        FillView(source.image, c.source);
        SetDrawSettings(0, 0, 0xFFFFFF, RECT{});
        ExpectDrawn(rng, c.what, source, c.call, 1, c.viewWidth, c.viewHeight, 0xEEEEEEEE,
                    [&c](int x, int y) { return c.expected(x, y, 0xEEEEEEEE); });
    }
}

TEST_F(BlitTest, RunTableRowCodes)
{
    const struct {
        const char *what;
        int width, form;
        uint32_t (*pixel)(int x, int y);
        std::vector<unsigned char> codes;
    } table[] = {
        {"a 3-pixel stripe in a 100-pixel row",
         100,
         FORM_DIRECT,
         [](int x, int) { return x >= 48 && x < 51 ? 0x1234u : 0u; },
         {0x2F, 0x42, 0x30, 0xC0}},
        {"130 opaque pixels", 130, FORM_DIRECT, [](int, int) { return 0x1234u; }, {0x7F, 0x7F, 0x41, 0xC0}},
        {"alpha 0, 0, 128, 255, 255",
         5,
         FORM_ALPHA,
         [](int x, int) {
             return (uint32_t)(x < 2 ? 0 : x == 2 ? 128 : 255) << 16;
         },
         {0x01, 0x80, 0x41, 0xC0}},
    };
    std::mt19937 rng(3);
    for (const auto &row : table) {
        TestImage image;
        MakeSource(image, rng, 0, row.form, row.width, 1, false);
        image.image.block->transparentValue = 0;
        FillView(image.image, row.pixel);
        RebuildMemImgDerivedData(&image.image, row.width, 1);
        EXPECT_TRUE(image.image.block->runTableValid) << row.what;
        std::vector<unsigned char> codes(image.image.block->runTable, image.image.block->runTable + row.codes.size());
        EXPECT_EQ(codes, row.codes) << row.what;
    }
}

// The run walk serves only an unclipped draw, with transparent 1, of a whole image whose table describes its
// current pixels; an alpha source in mode 4 tells the two apart (the regular loops blacken alpha 0).
enum RunVariant { RUN_WHOLE, RUN_CELL, RUN_CLIPPED, RUN_TRANSPARENT_2, RUN_PARTIAL_TRANSFER, RUN_DRAWN_INTO };

TEST_F(BlitTest, RunWalkOnlyForCurrentWholeUnclippedImages)
{
    const struct {
        const char *what;
        RunVariant variant;
        bool run;
    } table[] = {
        {"whole image, unclipped, transparent 1", RUN_WHOLE, true},
        {"cell of a sheet", RUN_CELL, false},
        {"clipped by one column", RUN_CLIPPED, false},
        {"transparent 2", RUN_TRANSPARENT_2, false},
        {"last transfer covered part of it", RUN_PARTIAL_TRANSFER, false},
        {"drawn into since its transfer", RUN_DRAWN_INTO, false},
    };
    std::mt19937 rng(11);
    for (const auto &row : table) {
        bool drawnInto = row.variant == RUN_DRAWN_INTO;
        TestImage sheet, cell, opaque;
        MakeSource(sheet, rng, 0, drawnInto ? FORM_DIRECT : FORM_ALPHA, 8, 4, false);
        if (drawnInto)
            FillView(sheet.image, [](int, int) { return 0u; }); // every pixel the key: all skip runs
        sheet.image.block->transparentValue = 0;
        RebuildMemImgDerivedData(&sheet.image, 8, row.variant == RUN_PARTIAL_TRANSFER ? 3 : 4);
        MEMIMG *source = &sheet.image;
        if (row.variant == RUN_CELL) {
            DeriveMemImg(&cell.image, &sheet.image, 1, 0, 6, 4);
            source = &cell.image;
        }
        SetDrawSettings(drawnInto ? 0 : 4, 255, 0xFFFFFF, RECT{0, 0, 16, 8});
        if (drawnInto) { // an opaque draw into the source's pixels
            MakeSource(opaque, rng, 0, FORM_DIRECT, 8, 4, false);
            FillView(opaque.image, [](int x, int y) { return (uint32_t)(x * 8 + y + 1); });
            MemImgDrawImage(source, &opaque.image, 0, 0, 0, nullptr);
        }
        Destination destination;
        MakeDestination(destination, rng, 0, 16, 8);
        if (row.variant == RUN_CLIPPED)
            g_MemImgDrawSettings.drawArea.left = 3;
        ModelImage before = CaptureImage(&destination.view), viaRuns = before, viaLoops = before;
        ModelImage model = CaptureImage(source);
        int transparent = row.variant == RUN_TRANSPARENT_2 ? 2 : 1;
        model.runTableCurrent = true;
        ModelDrawImage(viaRuns, model, 2, 1, transparent, nullptr, CaptureSettings());
        model.runTableCurrent = false;
        ModelDrawImage(viaLoops, model, 2, 1, transparent, nullptr, CaptureSettings());
        MemImgDrawImage(&destination.view, source, 2, 1, transparent, nullptr);
        EXPECT_EQ(CaptureImage(&destination.view).pixels, (row.run ? viaRuns : viaLoops).pixels) << row.what;
        if (row.variant == RUN_WHOLE || row.variant == RUN_CELL || row.variant == RUN_PARTIAL_TRANSFER) {
            EXPECT_NE(viaRuns.pixels, viaLoops.pixels) << row.what << ": the case does not tell the paths apart";
        }
    }
}

// The standard call of the refusal table: a 32-bit 4x4 source with a blend image onto a 12x12 view.
struct RefusalSetup {
    TestImage source, blend, other;
    BlitCall call;
    int destinationKind = 1, destinationAlpha = 0, destinationPalette = 0;
};

void ReplaceSource(RefusalSetup &s, std::mt19937 &rng, int kind, int width, int height)
{
    MakeSource(s.other, rng, kind, FORM_DIRECT, width, height, false);
    s.call.source = &s.other.image;
    s.call.blendImage = nullptr;
}

void ReplaceBlendImage(RefusalSetup &s, std::mt19937 &rng, int width, int height, int bytesPerPixel = 1)
{
    MakeBlendImage(s.other, rng, width, height, bytesPerPixel);
    s.call.blendImage = &s.other.image;
}

const struct {
    const char *what;
    int calls; // bit 0 point, bit 1 stretched, bit 2 rotated
    void (*change)(RefusalSetup &s, std::mt19937 &rng);
} kRefusals[] = {
    {"null source", 7, [](RefusalSetup &s, std::mt19937 &) { s.call.source = nullptr; }},
    {"released source", 7, [](RefusalSetup &s, std::mt19937 &) { ReleaseMemImg(&s.source.image); }},
    {"released blend image", 7, [](RefusalSetup &s, std::mt19937 &) { ReleaseMemImg(&s.blend.image); }},
    {"blend image one column short", 7, [](RefusalSetup &s, std::mt19937 &rng) { ReplaceBlendImage(s, rng, 3, 4); }},
    {"blend image one row short", 7, [](RefusalSetup &s, std::mt19937 &rng) { ReplaceBlendImage(s, rng, 4, 3); }},
    {"blend image of two bytes a pixel", 7,
     [](RefusalSetup &s, std::mt19937 &rng) { ReplaceBlendImage(s, rng, 4, 4, 2); }},
    {"16-bit source onto a 32-bit destination", 7,
     [](RefusalSetup &s, std::mt19937 &rng) { ReplaceSource(s, rng, 0, 4, 4); }},
    {"palettised destination", 7, [](RefusalSetup &s, std::mt19937 &) { s.destinationPalette = 1; }},
    {"destination with alpha", 7, [](RefusalSetup &s, std::mt19937 &) { s.destinationAlpha = 1; }},
    {"8-bit source onto an 8-bit destination", 7,
     [](RefusalSetup &s, std::mt19937 &rng) {
         ReplaceSource(s, rng, 2, 4, 4);
         s.destinationKind = 2;
     }},
    {"mode 5", 7, [](RefusalSetup &, std::mt19937 &) { SetMode(5, 200); }},
    {"mode 9", 7, [](RefusalSetup &, std::mt19937 &) { SetMode(9, 200); }},
    {"mode 12", 7, [](RefusalSetup &, std::mt19937 &) { SetMode(12, 200); }},
    {"mode -1", 7, [](RefusalSetup &, std::mt19937 &) { SetMode(-1, 200); }},
    {"mode 1 at p 0", 7, [](RefusalSetup &, std::mt19937 &) { SetMode(1, 0); }},
    {"mode 2 at p 0", 7, [](RefusalSetup &, std::mt19937 &) { SetMode(2, 0); }},
    {"mode 3 at p 0, direct colour", 7, [](RefusalSetup &, std::mt19937 &) { SetMode(3, 0); }},
    {"position whose right edge passes the int range", 1,
     [](RefusalSetup &s, std::mt19937 &) { s.call.x = INT_MAX - 1; }},
    {"position whose bottom edge passes the int range", 1,
     [](RefusalSetup &s, std::mt19937 &) { s.call.y = INT_MAX - 2; }},
    {"rectangle of zero width", 2, [](RefusalSetup &s, std::mt19937 &) { s.call.rect.right = s.call.rect.left; }},
    {"rectangle 32768 wide", 2,
     [](RefusalSetup &s, std::mt19937 &) {
         s.call.rect = RECT{-32760, 0, 8, 8};
     }},
    {"rectangle 32768 high, mirrored", 2,
     [](RefusalSetup &s, std::mt19937 &) {
         s.call.rect = RECT{0, 8, 8, -32760};
     }},
    {"rectangle spanning the int range", 2,
     [](RefusalSetup &s, std::mt19937 &) {
         s.call.rect = RECT{INT_MIN, INT_MIN, INT_MAX, INT_MAX};
     }},
    {"source 8192 wide", 4, [](RefusalSetup &s, std::mt19937 &rng) { ReplaceSource(s, rng, 1, 8192, 1); }},
    {"source of 4097 rows", 4, [](RefusalSetup &s, std::mt19937 &rng) { ReplaceSource(s, rng, 1, 1, 4097); }},
    {"blend image of 4097 rows", 4, [](RefusalSetup &s, std::mt19937 &rng) { ReplaceBlendImage(s, rng, 4, 4097); }},
    {"centre x 8192", 4, [](RefusalSetup &s, std::mt19937 &) { s.call.x = 8192; }},
    {"centre y -8193", 4, [](RefusalSetup &s, std::mt19937 &) { s.call.y = -8193; }},
    {"scale 0", 4, [](RefusalSetup &s, std::mt19937 &) { s.call.scale = 0.0f; }},
    {"scale NaN", 4, [](RefusalSetup &s, std::mt19937 &) { s.call.scale = NAN; }},
    {"scale infinite", 4, [](RefusalSetup &s, std::mt19937 &) { s.call.scale = INFINITY; }},
    {"angle NaN", 4, [](RefusalSetup &s, std::mt19937 &) { s.call.angle = NAN; }},
    {"angle infinite", 4, [](RefusalSetup &s, std::mt19937 &) { s.call.angle = -INFINITY; }},
};

TEST_F(BlitTest, RefusalsLeaveTheDestinationAlone)
{
    std::mt19937 rng(5);
    for (const auto &row : kRefusals) {
        for (int kind = BLIT_POINT; kind <= BLIT_ROTATED; kind++) {
            if (!(row.calls >> kind & 1))
                continue;
            RefusalSetup s;
            MakeSource(s.source, rng, 1, FORM_DIRECT, 4, 4, true);
            MakeBlendImage(s.blend, rng, 4, 4);
            memset(g_BlendTables.fadeRamp, 200, sizeof(g_BlendTables.fadeRamp)); // a blend image that shows
            SetDrawSettings(0, 200, 0xFFFFFF, RECT{0, 0, 12, 12});
            s.call = kind == BLIT_POINT       ? PointAt(2, 2)
                     : kind == BLIT_STRETCHED ? Stretched(1, 1, 9, 7)
                                              : Rotated(5, 5, 1.5f, 0.3f);
            s.call.source = &s.source.image;
            s.call.blendImage = &s.blend.image;
            row.change(s, rng);
            Destination destination;
            MakeDestination(destination, rng, s.destinationKind, 12, 12, s.destinationAlpha, s.destinationPalette);
            bool changed = true;
            EXPECT_EQ(CheckBlit(destination, s.call, &changed), "") << row.what;
            EXPECT_FALSE(changed) << row.what << ", call kind " << kind;
        }
    }
    MemImgDrawImage(nullptr, nullptr, 0, 0, 0, nullptr);
    MemImgDrawStretchedImage(nullptr, nullptr, nullptr, 0, nullptr);
    MemImgDrawRotatedImage(nullptr, nullptr, 0, 0, 1.0f, 0.0f, 0, 1, nullptr);
}

// The quad drawer of this program records what the turned rotated draw hands it.
struct QuadRecord {
    int calls;
    MEMIMG *destination, *source, *blendImage;
    int points[4][2], transparent;
} s_Quad;

} // namespace

void MemImgDrawQuadImage(MEMIMG *destination, MEMIMG *source, const int (*points)[2], int transparent,
                         MEMIMG *blendImage)
{
    s_Quad.calls++;
    s_Quad.destination = destination;
    s_Quad.source = source;
    s_Quad.blendImage = blendImage;
    s_Quad.transparent = transparent;
    memcpy(s_Quad.points, points, sizeof(s_Quad.points));
}

namespace
{

TEST_F(BlitTest, TurnedRotationHandsTheMirroredCornersToTheQuadDrawer)
{
    const struct {
        int width, height, x, y;
        float scale, angle;
        int points[4][2]; // C3, C0, C2, C1 in whole pixels; all zero: from the model's corners
    } table[] = {
        {4, 4, 10, 10, 1.0f, 0.0f, {{12, 8}, {8, 8}, {12, 12}, {8, 12}}},
        {3, 3, 0, 0, 1.0f, 0.0f, {{1, -1}, {-1, -1}, {1, 1}, {-1, 1}}}, // -1.5 pixels truncate toward zero
        {5, 2, -7, 30, 2.5f, 0.7f, {}},
        {9, 6, 100, -40, -0.8f, -2.2f, {}},
        {1, 7, 3, 3, 3.0f, 4.0f, {}},
    };
    std::mt19937 rng(13);
    for (const auto &row : table) {
        TestImage source;
        MakeSource(source, rng, 1, FORM_DIRECT, row.width, row.height, false);
        Destination destination;
        MakeDestination(destination, rng, 1, 8, 8);
        ModelImage before = CaptureImage(&destination.view);
        s_Quad = QuadRecord{};
        MemImgDrawRotatedImage(&destination.view, &source.image, row.x, row.y, row.scale, row.angle, 2, 1, nullptr);
        RotatedCorners c = ModelRotatedCorners(row.width, row.height, row.x, row.y, row.scale, row.angle);
        const int order[4] = {3, 0, 2, 1};
        ASSERT_EQ(s_Quad.calls, 1);
        EXPECT_EQ(s_Quad.destination, &destination.view);
        EXPECT_EQ(s_Quad.source, &source.image);
        EXPECT_EQ(s_Quad.transparent, 2);
        for (int i = 0; i < 4; i++) {
            bool given = row.points[0][0] || row.points[0][1];
            EXPECT_EQ(s_Quad.points[i][0], given ? row.points[i][0] : (int)(c.x[order[i]] / 262144)) << i;
            EXPECT_EQ(s_Quad.points[i][1], given ? row.points[i][1] : (int)(c.y[order[i]] / 262144)) << i;
        }
        EXPECT_EQ(CaptureImage(&destination.view).pixels, before.pixels);
    }
}

} // namespace
