// The software blits against their slow model: a differential sweep over every setting that must reach every row
// loop, and the cases that pin the model itself (pixel values and placements, the run table's row
// codes, when the run walk is taken, the refusals, the corners the turned rotated draw hands to the quad drawer).
#include <gtest/gtest.h>

#include <limits.h>
#include <math.h>
#include <string.h>

#include "blit_check.h"
#include "softrender/softrender_test_hooks.h"

// Blend tables filled, draw settings reset to a plain draw, and every test gives back all the engine memory it
// took (the blits allocate nothing).
class BlitTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        InitMemImgTables();
        g_MemImgDrawSettings = MemImgDrawSettings{};
        g_MemImgDrawSettings.brightness = 0xFFFFFF;
        allocationsAtStart = GetAllocationCount();
    }
    void TearDown() override
    {
        EXPECT_EQ(GetAllocationCount(), allocationsAtStart) << "the test left engine blocks behind";
    }
    int allocationsAtStart = 0;
};

static void SetDrawSettings(int mode, int parameter, uint32_t brightness = 0xFFFFFF)
{
    g_MemImgDrawSettings.blendMode = mode;
    g_MemImgDrawSettings.blendParameter = parameter;
    g_MemImgDrawSettings.brightness = brightness;
}

// The sweep: every combination of depth, source form, blend mode, blend image, brightness, transparency and
// parameter, for the point draw (regular loops and run walk), the stretched draw and the rotated draw, on small
// random images and geometry.

enum SweepPath { SWEEP_POINT_REGULAR, SWEEP_POINT_RUN, SWEEP_STRETCHED, SWEEP_ROTATED, SWEEP_PATHS };

// The run path's draw lies wholly inside the area; the others land anywhere near the view.
static void RandomGeometry(std::mt19937 &rng, int path, BlitCall &call, const MEMIMG &view, int width, int height)
{
    if (path == SWEEP_POINT_REGULAR) {
        call.x = Between(rng, -width, view.width);
        call.y = Between(rng, -height, view.height);
    } else if (path == SWEEP_POINT_RUN) {
        call.x = Between(rng, 0, view.width - width);
        call.y = Between(rng, 0, view.height - height);
        g_MemImgDrawSettings.drawArea =
            RECT{Between(rng, 0, call.x), Between(rng, 0, call.y), Between(rng, call.x + width, view.width),
                 Between(rng, call.y + height, view.height)};
    } else if (path == SWEEP_STRETCHED) {
        int across = rng() % 8 == 0 ? width : Between(rng, 1, 3 * width + 2);
        int down = rng() % 8 == 0 ? height : Between(rng, 1, 3 * height + 2);
        int left = Between(rng, -across / 2 - 1, view.width - across / 2);
        int top = Between(rng, -down / 2 - 1, view.height);
        call.kind = BLIT_STRETCHED;
        call.rect = rng() % 2 ? RECT{left + across, top, left, top + down} : RECT{left, top, left + across, top + down};
        if (rng() % 2)
            std::swap(call.rect.top, call.rect.bottom);
    } else {
        uint32_t where = rng() % 10;
        call.kind = BLIT_ROTATED;
        call.x = where < 7 ? Between(rng, 0, view.width) : where < 9 ? Between(rng, -12, view.width + 12) : -300;
        call.y = where < 7 ? Between(rng, 0, view.height) : where < 9 ? Between(rng, -12, view.height + 12) : 8191;
        call.angle = std::uniform_real_distribution<float>(-7.0f, 7.0f)(rng);
        call.scale = std::uniform_real_distribution<float>(0.25f, 3.0f)(rng) * (rng() % 8 == 0 ? -1.0f : 1.0f);
        if (rng() % 16 == 0)
            call.angle = 1.57079637f * (float)Between(rng, -4, 4); // whole quarter turns
    }
}

// One draw of the combination `index` (path, depth, form, mode, parameter, transparency, blend image, brightness)
// on random images, settings and geometry: CheckBlit's verdict.
static std::string RunTrial(std::mt19937 &rng, int index, bool *changed)
{
    const int modes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, -1};
    const int parameters[] = {0, 1, 127, 128, 129, 254, 255, (int)(rng() % 256)};
    auto next = [&index](int count) {
        int digit = index % count;
        index /= count;
        return digit;
    };
    int path = next(SWEEP_PATHS), kind = next(2), form = next(3), mode = modes[next(14)], p = parameters[next(8)];
    int transparent = next(3), blend = next(2), white = next(2);
    bool point = path == SWEEP_POINT_REGULAR || path == SWEEP_POINT_RUN;
    // mostly 1 to 9 pixels (pair and four-pixel tails), now and then long enough for several runs in a row
    int width = rng() % 16 ? Between(rng, 1, 9) : Between(rng, 10, point ? 70 : 20);
    int height = rng() % 16 ? Between(rng, 1, 9) : Between(rng, 10, 12);
    // the regular loops also draw cells of a sheet and images whose run table is stale
    bool cell = path == SWEEP_POINT_REGULAR && rng() % 3 == 0;
    bool current = path != SWEEP_POINT_REGULAR || rng() % 3 != 0;
    int across = cell ? Between(rng, 1, 2) : 0, down = cell ? Between(rng, 0, 1) : 0;
    TestImage source, blendImage, destination;
    MakeSource(source, rng, kind, form, width + across * 2, height + down, current);
    if (cell)
        DeriveMemImg(&source.view, &source.image, across, down, width, height);
    if (blend)
        MakeBlendImage(blendImage, rng, width + Between(rng, 0, 2), height + Between(rng, 0, 2));
    int viewWidth = point ? width + Between(rng, 2, 5) : Between(rng, 12, 24);
    MakeDestination(destination, rng, kind, viewWidth, point ? height + Between(rng, 2, 4) : Between(rng, 10, 18));
    RandomSettings(rng, mode, p, white, destination.view);
    BlitCall call{BLIT_POINT};
    call.transparent = transparent;
    call.source = cell ? &source.view : &source.image;
    call.blendImage = blend ? &blendImage.image : nullptr;
    RandomGeometry(rng, path, call, destination.view, width, height);
    return CheckBlit(destination, call, changed);
}

TEST_F(BlitTest, EveryDrawMatchesTheModelAndReachesEveryLoop)
{
    std::mt19937 rng(20261207);
    ResetBlitLeafCounts();
    int draws[SWEEP_PATHS] = {}, changed[SWEEP_PATHS] = {}, failures = 0;
    for (int index = 0; index < SWEEP_PATHS * 2 * 3 * 14 * 8 * 3 * 2 * 2 * 3; index++) { // three draws of each
        bool drawn = false;
        std::string failure = RunTrial(rng, index, &drawn);
        draws[index % SWEEP_PATHS]++;
        changed[index % SWEEP_PATHS] += drawn;
        if (!failure.empty() && ++failures <= 10)
            ADD_FAILURE() << failure;
    }
    EXPECT_EQ(failures, 0);
    for (int path = 0; path < SWEEP_PATHS; path++)
        EXPECT_GT(changed[path], draws[path] / 8) << "path " << path << " drew too little to count";
    const BlitLeafCount *leaves = nullptr;
    int count = GetBlitLeafCounts(&leaves);
    std::string unreached;
    for (int i = 0; i < count; i++)
        unreached += leaves[i].calls || IsShapeLeaf(leaves[i].name) ? "" : std::string(leaves[i].name) + "\n";
    EXPECT_EQ(unreached, "") << "row loops the sweep never reached";
}

// Known pixel values and placements.

// One or two source pixels of one value drawn at (0, 0) of a 3x2 view of `background`.
struct KnownPixel {
    const char *what;
    int kind, form;
    uint32_t source, background;
    int mode, parameter, transparent;
    std::vector<uint32_t> expected;
    int blendWeight = -1; // the fade weight of every blend byte, -1: no blend image
    uint32_t brightness = 0xFFFFFF;
};

static const KnownPixel kKnownPixels[] = {
    {"16-bit white over black at p 128 keeps the upper bits", 0, FORM_DIRECT, 0xFFFF, 0, 1, 128, 0, {0x7BEF}},
    {"16-bit green 63 over 0 at p 200 takes mix layer 50", 0, FORM_DIRECT, 0x07E0, 0, 1, 200, 0, {50 << 5}},
    {"16-bit pair add drops low green, red, right blue", 0, FORM_DIRECT, 0xFFFF, 0, 2, 255, 0, {0xF7DF, 0xF7DE}},
    {"16-bit add of an opaque alpha pixel keeps all bits", 0, FORM_ALPHA, 0xFFFFFF, 0, 2, 255, 1, {0xFFFF}},
    {"16-bit white taken from 0x1234 leaves black", 0, FORM_DIRECT, 0xFFFF, 0x1234, 3, 255, 0, {0}},
    {"16-bit palette subtract at p 0: low red set, green cleared", 0, FORM_PALETTE, 5, 0x1234, 3, 0, 0, {0x1A14}},
    {"16-bit mode 4 with blend weight 0 writes black", 0, FORM_DIRECT, 0xFFFF, 0x1234, 4, 99, 0, {0}, 0},
    {"16-bit mode 10 of white at p 255 writes black", 0, FORM_DIRECT, 0xFFFF, 0x1234, 10, 255, 0, {0}},
    {"16-bit alpha 0 keyed in mode 4: black in the loops", 0, FORM_ALPHA, 0xFFFF, 0x1234, 4, 9, 2, {0}},
    {"16-bit alpha 0 keyed in mode 11 keeps the destination", 0, FORM_ALPHA, 0xFFFF, 0x1234, 11, 200, 2, {0x1234}},
    {"32-bit blend weight 255 stops one short", 1, FORM_DIRECT, 0xFFFFFF, 0, 0, 0, 0, {0xFEFEFE}, 255},
    {"32-bit add of blue 200 onto 100 carries into green", 1, FORM_ALPHA, 0xFF0000C8, 0x64, 2, 255, 1, {0x1FF}},
    {"32-bit add of green 1 onto 0x81 keeps 0x81", 1, FORM_ALPHA, 0xFF000100, 0x8100, 2, 255, 1, {0x8100}},
    {"32-bit blue 100 from 50: 0, byte 3 cleared", 1, FORM_DIRECT, 0x64, 0xAB000032, 3, 255, 0, {0x10000}},
    {"32-bit mode 10 in green light: no red or blue", 1, FORM_DIRECT, 0, 0x808080, 10, 255, 0, {0xFE00}, -1, 0x00FF00},
    {"32-bit opaque alpha source copies its alpha", 1, FORM_ALPHA, 0x40112233, 0, 0, 0, 0, {0x40112233}},
    {"32-bit p 128 halves and clears byte 3", 1, FORM_DIRECT, 0xFFFFFFFF, 0xFF000000, 1, 128, 0, {0x7F7F7F}},
    {"32-bit p 127 mixes and keeps byte 3", 1, FORM_DIRECT, 0xFFFFFFFF, 0xFF000000, 1, 127, 0, {0xFF7E7E7E}},
};

static uint32_t Distinct(int x, int y)
{
    return (uint32_t)(x + 8 * y + 1) * 0x010101;
}

// (x, y) when it lies in a square of `side` at the origin, else none.
static SourcePoint Square(int x, int y, int side)
{
    return x >= 0 && x < side && y >= 0 && y < side ? SourcePoint{x, y} : SourcePoint{-1, 0};
}

// 200 columns drawn in mode 0 onto a row of 400: the column each pixel shows (-1: the background stays).
static const struct {
    const char *what;
    RECT rect;
    int (*column)(int x);
} kStretchedColumns[] = {
    {"100 wide: 0, 2, 4 ...", {0, 0, 100, 1}, [](int x) { return x < 100 ? 2 * x : -1; }},
    {"400 wide: every column twice", {0, 0, 400, 1}, [](int x) { return x / 2; }},
    {"300 wide: 0, 0, 1, 2, 2, 3 ...", {0, 0, 300, 1}, [](int x) { return x < 300 ? 2 * x / 3 : -1; }},
    {"100 wide mirrored: 199, 197 ...", {100, 0, 0, 1}, [](int x) { return x < 100 ? 199 - 2 * x : -1; }},
};

// A square drawn turned about (10, 10) in mode 0 onto 20x20: the source pixel each pixel shows.
static const struct {
    const char *what;
    int side;
    float scale, angle;
    SourcePoint (*at)(int x, int y);
} kRotatedPlacements[] = {
    {"unturned 5x5: 8 to 12", 5, 1.0f, 0.0f, [](int x, int y) { return Square(x - 8, y - 8, 5); }},
    {"unturned 4x4: 8 to 11, not all its box", 4, 1.0f, 0.0f, [](int x, int y) { return Square(x - 8, y - 8, 4); }},
    {"scale 2: 2x2 pixels each", 2, 2.0f, 0.0f, [](int x, int y) { return Square(x / 2 - 4, y / 2 - 4, 2); }},
    {"quarter turn: top edge right", 3, 1.0f, 1.57079637f, [](int x, int y) { return Square(y - 9, 11 - x, 3); }},
};

// Draws under the current settings onto a view of `background` and compares every pixel with `expected`.
static void ExpectDrawn(std::mt19937 &rng, const char *what, const BlitCall &call, int kind, int viewWidth,
                        int viewHeight, uint32_t background, const std::function<uint32_t(int x, int y)> &expected)
{
    TestImage destination;
    MakeDestination(destination, rng, kind, viewWidth, viewHeight);
    FillView(destination.view, [background](int, int) { return background; });
    g_MemImgDrawSettings.drawArea = RECT{0, 0, viewWidth, viewHeight};
    EXPECT_EQ(CheckBlit(destination, call), "") << what;
    ModelImage actual = CaptureImage(&destination.view);
    for (int i = 0; i < viewWidth * viewHeight; i++)
        ASSERT_EQ(actual.pixels[i], expected(i % viewWidth, i / viewWidth)) << what << " at pixel " << i;
}

// A source of Distinct pixels drawn in mode 0 onto a 32-bit view; `at` names the source pixel each view pixel shows.
static void ExpectPlaced(std::mt19937 &rng, const char *what, BlitCall call, int width, int height, int viewWidth,
                         int viewHeight, const std::function<SourcePoint(int x, int y)> &at)
{
    TestImage source;
    MakeSource(source, rng, 1, FORM_DIRECT, width, height, false);
    FillView(source.image, Distinct);
    SetDrawSettings(0, 0);
    call.source = &source.image;
    ExpectDrawn(rng, what, call, 1, viewWidth, viewHeight, 0xEEEEEEEE, [&at](int x, int y) {
        SourcePoint p = at(x, y);
        return p.x < 0 ? 0xEEEEEEEEu : Distinct(p.x, p.y);
    });
}

TEST_F(BlitTest, KnownValuesAndPlacements)
{
    std::mt19937 rng(7);
    for (const KnownPixel &c : kKnownPixels) {
        TestImage source, blend;
        int count = (int)c.expected.size();
        MakeSource(source, rng, c.kind, c.form, count, 1, false);
        FillView(source.image, [&c](int, int) { return c.source; });
        SetDrawSettings(c.mode, c.parameter, c.brightness);
        BlitCall call{BLIT_POINT, 0, 0, {}, 1.0f, 0.0f, c.transparent, &source.image};
        if (c.blendWeight >= 0) {
            MakeBlendImage(blend, rng, count, 1);
            memset(blend.memory, 7, count);
            g_BlendTables.fadeRamp[7] = (uint8_t)c.blendWeight;
            call.blendImage = &blend.image;
        }
        ExpectDrawn(rng, c.what, call, c.kind, 3, 2, c.background,
                    [&c, count](int x, int y) { return x < count && y == 0 ? c.expected[x] : c.background; });
    }
    for (const auto &row : kStretchedColumns) {
        ExpectPlaced(rng, row.what, BlitCall{BLIT_STRETCHED, 0, 0, row.rect}, 200, 1, 400, 1, [&row](int x, int) {
            return SourcePoint{row.column(x), 0};
        });
    }
    for (const auto &row : kRotatedPlacements) {
        BlitCall call{BLIT_ROTATED, 10, 10, {}, row.scale, row.angle};
        ExpectPlaced(rng, row.what, call, row.side, row.side, 20, 20, row.at);
    }
}

// The run table and the run walk.

TEST_F(BlitTest, RunTableRowCodes)
{
    const struct {
        const char *what;
        int form;
        std::vector<std::pair<int, uint32_t>> runs; // count and pixel value
        std::vector<unsigned char> codes;
    } table[] = {
        {"3 of 100 opaque", FORM_DIRECT, {{48, 0}, {3, 0x1234}, {49, 0}}, {0x2F, 0x42, 0x30, 0xC0}},
        {"130 opaque", FORM_DIRECT, {{130, 0x1234}}, {0x7F, 0x7F, 0x41, 0xC0}},
        {"alpha 0, 0, 128, 255, 255", FORM_ALPHA, {{2, 0}, {1, 0x800000}, {2, 0xFF0000}}, {0x01, 0x80, 0x41, 0xC0}},
    };
    std::mt19937 rng(3);
    for (const auto &row : table) {
        std::vector<uint32_t> pixels;
        for (auto run : row.runs)
            pixels.insert(pixels.end(), run.first, run.second);
        int width = (int)pixels.size();
        TestImage image;
        MakeSource(image, rng, 0, row.form, width, 1, false);
        image.image.block->transparentValue = 0;
        FillView(image.image, [&pixels](int x, int) { return pixels[x]; });
        RebuildMemImgDerivedData(&image.image, width, 1);
        EXPECT_TRUE(image.image.block->runTableValid) << row.what;
        std::vector<unsigned char> codes(image.image.block->runTable, image.image.block->runTable + row.codes.size());
        EXPECT_EQ(codes, row.codes) << row.what;
    }
}

// The run walk serves only a whole image whose table describes its current pixels (the sweep covers clipping and
// transparency). An alpha source in mode 4 tells the two paths apart (the regular loops blacken alpha 0); a source
// of keys only, drawn into after its transfer, shows a walk over its stale table.
enum RunVariant { RUN_WHOLE, RUN_CELL, RUN_PARTIAL_TRANSFER, RUN_DRAWN_INTO };

TEST_F(BlitTest, RunWalkOnlyForCurrentWholeUnclippedImages)
{
    const struct {
        const char *what;
        RunVariant variant;
        bool run;
    } table[] = {
        {"whole image", RUN_WHOLE, true},
        {"cell of a sheet", RUN_CELL, false},
        {"last transfer covered part of it", RUN_PARTIAL_TRANSFER, false},
        {"drawn into since its transfer", RUN_DRAWN_INTO, false},
    };
    std::mt19937 rng(11);
    for (const auto &row : table) {
        bool drawnInto = row.variant == RUN_DRAWN_INTO;
        TestImage sheet, opaque, destination;
        MakeSource(sheet, rng, 0, drawnInto ? FORM_DIRECT : FORM_ALPHA, 8, 4, false);
        if (drawnInto)
            FillView(sheet.image, [](int, int) { return 0u; }); // every pixel the key: all skip runs
        sheet.image.block->transparentValue = 0;
        RebuildMemImgDerivedData(&sheet.image, 8, row.variant == RUN_PARTIAL_TRANSFER ? 3 : 4);
        if (row.variant == RUN_CELL)
            DeriveMemImg(&sheet.view, &sheet.image, 1, 0, 6, 4);
        MEMIMG *source = row.variant == RUN_CELL ? &sheet.view : &sheet.image;
        SetDrawSettings(drawnInto ? 0 : 4, 255);
        g_MemImgDrawSettings.drawArea = RECT{0, 0, 16, 8};
        if (drawnInto) { // an opaque draw into the source's pixels
            MakeSource(opaque, rng, 0, FORM_DIRECT, 8, 4, false);
            FillView(opaque.image, [](int x, int y) { return (uint32_t)(x * 8 + y + 1); });
            MemImgDrawImage(source, &opaque.image, 0, 0, 0, nullptr);
        }
        MakeDestination(destination, rng, 0, 16, 8);
        BlitCall call{BLIT_POINT, 2, 1, {}, 1.0f, 0.0f, 1};
        ModelImage model = CaptureImage(source), viaRuns = CaptureImage(&destination.view), viaLoops = viaRuns;
        model.runTableCurrent = true;
        ModelBlit(viaRuns, call, model, nullptr);
        model.runTableCurrent = false;
        ModelBlit(viaLoops, call, model, nullptr);
        MemImgDrawImage(&destination.view, source, 2, 1, 1, nullptr);
        EXPECT_EQ(CaptureImage(&destination.view).pixels, (row.run ? viaRuns : viaLoops).pixels) << row.what;
        EXPECT_TRUE(drawnInto || viaRuns.pixels != viaLoops.pixels) << row.what << ": the paths draw alike here";
    }
}

// Refusals: the standard call is a 32-bit 4x4 source with a blend image that shows onto a 12x12 view; each row
// changes one thing and the call must then leave the destination as it was.

static std::mt19937 s_RefusalRandom(5);

struct Refusal {
    TestImage source, blend, other;
    BlitCall call;
    int destinationKind = 1, destinationAlpha = 0, destinationPalette = 0;
};

static void ReplaceSource(Refusal &s, int kind, int width, int height, int destinationKind = 1)
{
    s.destinationKind = destinationKind;
    MakeSource(s.other, s_RefusalRandom, kind, FORM_DIRECT, width, height, false);
    s.call.source = &s.other.image;
    s.call.blendImage = nullptr;
}

static void ReplaceBlendImage(Refusal &s, int width, int height, int bytesPerPixel = 1)
{
    MakeBlendImage(s.other, s_RefusalRandom, width, height, bytesPerPixel);
    s.call.blendImage = &s.other.image;
}

static void SetRect(Refusal &s, LONG left, LONG top, LONG right, LONG bottom)
{
    s.call.rect = RECT{left, top, right, bottom};
}

static const struct {
    const char *what;
    int calls; // bit 0 point, bit 1 stretched, bit 2 rotated
    void (*change)(Refusal &s);
} kRefusals[] = {
    {"nothing: the standard call draws", 7, nullptr},
    {"null source", 7, [](Refusal &s) { s.call.source = nullptr; }},
    {"released source", 7, [](Refusal &s) { ReleaseMemImg(&s.source.image); }},
    {"released blend image", 7, [](Refusal &s) { ReleaseMemImg(&s.blend.image); }},
    {"blend image one column short", 7, [](Refusal &s) { ReplaceBlendImage(s, 3, 4); }},
    {"blend image one row short", 7, [](Refusal &s) { ReplaceBlendImage(s, 4, 3); }},
    {"blend image of two bytes a pixel", 7, [](Refusal &s) { ReplaceBlendImage(s, 4, 4, 2); }},
    {"16-bit source onto a 32-bit destination", 7, [](Refusal &s) { ReplaceSource(s, 0, 4, 4); }},
    {"palettised destination", 7, [](Refusal &s) { s.destinationPalette = 1; }},
    {"destination with alpha", 7, [](Refusal &s) { s.destinationAlpha = 1; }},
    {"8-bit source onto an 8-bit destination", 7, [](Refusal &s) { ReplaceSource(s, 2, 4, 4, 2); }},
    {"position whose right edge passes the int range", 1, [](Refusal &s) { s.call.x = INT_MAX - 1; }},
    {"position whose bottom edge passes the int range", 1, [](Refusal &s) { s.call.y = INT_MAX - 2; }},
    {"rectangle of zero width", 2, [](Refusal &s) { s.call.rect.right = s.call.rect.left; }},
    {"rectangle 32768 wide", 2, [](Refusal &s) { SetRect(s, -32760, 0, 8, 8); }},
    {"rectangle 32768 high, mirrored", 2, [](Refusal &s) { SetRect(s, 0, 8, 8, -32760); }},
    {"rectangle spanning the int range", 2, [](Refusal &s) { SetRect(s, INT_MIN, INT_MIN, INT_MAX, INT_MAX); }},
    {"source 8192 wide", 4, [](Refusal &s) { ReplaceSource(s, 1, 8192, 1); }},
    {"source of 4097 rows", 4, [](Refusal &s) { ReplaceSource(s, 1, 1, 4097); }},
    {"blend image of 4097 rows", 4, [](Refusal &s) { ReplaceBlendImage(s, 4, 4097); }},
    {"centre x 8192", 4, [](Refusal &s) { s.call.x = 8192; }},
    {"centre y -8193", 4, [](Refusal &s) { s.call.y = -8193; }},
    {"scale 0", 4, [](Refusal &s) { s.call.scale = 0.0f; }},
    {"scale NaN", 4, [](Refusal &s) { s.call.scale = NAN; }},
    {"scale infinite", 4, [](Refusal &s) { s.call.scale = INFINITY; }},
    {"angle NaN", 4, [](Refusal &s) { s.call.angle = NAN; }},
    {"angle infinite", 4, [](Refusal &s) { s.call.angle = -INFINITY; }},
};

TEST_F(BlitTest, RefusalsLeaveTheDestinationAlone)
{
    const BlitCall calls[] = {
        {BLIT_POINT, 2, 2}, {BLIT_STRETCHED, 0, 0, {1, 1, 9, 7}}, {BLIT_ROTATED, 5, 5, {}, 1.5f, 0.3f}};
    std::mt19937 &rng = s_RefusalRandom;
    for (const auto &row : kRefusals) {
        for (int kind = BLIT_POINT; kind <= BLIT_ROTATED; kind++) {
            if (!(row.calls >> kind & 1))
                continue;
            Refusal s;
            MakeSource(s.source, rng, 1, FORM_DIRECT, 4, 4, true);
            MakeBlendImage(s.blend, rng, 4, 4);
            memset(g_BlendTables.fadeRamp, 200, sizeof(g_BlendTables.fadeRamp));
            SetDrawSettings(0, 200);
            g_MemImgDrawSettings.drawArea = RECT{0, 0, 12, 12};
            s.call = calls[kind];
            s.call.source = &s.source.image;
            s.call.blendImage = &s.blend.image;
            if (row.change)
                row.change(s);
            TestImage destination;
            MakeDestination(destination, rng, s.destinationKind, 12, 12, s.destinationAlpha, s.destinationPalette);
            bool changed = false;
            EXPECT_EQ(CheckBlit(destination, s.call, &changed), "") << row.what;
            EXPECT_EQ(changed, row.change == nullptr) << row.what << ", call kind " << kind;
        }
    }
    MemImgDrawImage(nullptr, nullptr, 0, 0, 0, nullptr);
    MemImgDrawStretchedImage(nullptr, nullptr, nullptr, 0, nullptr);
    MemImgDrawRotatedImage(nullptr, nullptr, 0, 0, 1.0f, 0.0f, 0, 1, nullptr);
}

// This program's quad drawer records every call the turned rotated draw makes of it.
static std::vector<intptr_t> s_QuadCalls;

void MemImgDrawQuadImage(MEMIMG *destination, MEMIMG *source, const int (*points)[2], int transparent, MEMIMG *)
{
    s_QuadCalls.insert(s_QuadCalls.end(), {(intptr_t)destination, (intptr_t)source, transparent});
    for (int i = 0; i < 4; i++)
        s_QuadCalls.insert(s_QuadCalls.end(), {points[i][0], points[i][1]});
}

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
    const int order[4] = {3, 0, 2, 1};
    std::mt19937 rng(13);
    for (const auto &row : table) {
        TestImage source, destination;
        MakeSource(source, rng, 1, FORM_DIRECT, row.width, row.height, false);
        MakeDestination(destination, rng, 1, 8, 8);
        ModelImage before = CaptureImage(&destination.view);
        RotatedCorners c = ModelRotatedCorners(row.width, row.height, row.x, row.y, row.scale, row.angle);
        std::vector<intptr_t> expected = {(intptr_t)&destination.view, (intptr_t)&source.image, 2};
        for (int i = 0; i < 4; i++) {
            bool given = row.points[0][0] || row.points[0][1];
            expected.push_back(given ? row.points[i][0] : (int)(c.x[order[i]] / 262144));
            expected.push_back(given ? row.points[i][1] : (int)(c.y[order[i]] / 262144));
        }
        s_QuadCalls.clear();
        MemImgDrawRotatedImage(&destination.view, &source.image, row.x, row.y, row.scale, row.angle, 2, 1, nullptr);
        EXPECT_EQ(s_QuadCalls, expected) << "destination, source, transparent and the corners of one call";
        EXPECT_EQ(CaptureImage(&destination.view).pixels, before.pixels);
    }
}
