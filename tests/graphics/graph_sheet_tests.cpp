// Sheets and pictures from the program's own resources, derived graphs and restore sources, on the device and on
// the software screen: cells in row order (right to left with reverse) hold the pixels of an independent decode and
// share one restore source until the last cell goes; failures leave nothing; only a live graph's existing source
// is shared, and only into the cells made.
#include <gtest/gtest.h>

#include "graphics/graphics_test_hooks.h"
#include "graphics/log_reading.h"
#include "graphics/screen_readback.h"

#include <algorithm>
#include <functional>
#include <numeric>
#include <string.h>

struct Resource {
    void *bytes;
    int size;
};

static Resource FindTestResource(int id, const char *type)
{
    Resource found = {NULL, 0};
    FindResourceData(MAKEINTRESOURCEA(id), type, &found.bytes, &found.size);
    return found;
}

// The resource decoded by the image loader alone: what every graph made from it must show.
static BaseImage DecodeTestResource(int id, const char *type)
{
    Resource resource = FindTestResource(id, type);
    BaseImage image = {};
    EXPECT_EQ(LoadBaseImageNoAlpha(NULL, resource.bytes, resource.size, 1, &image, 0), 0);
    return image;
}

typedef std::function<uint32_t(int, int)> PixelRule;

static int CountWrongRows(const unsigned char *origin, int pitch, int gx, int gy, int width, int height,
                          const PixelRule &expected)
{
    int wrong = 0;
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            uint32_t pixel = ((const uint32_t *)(origin + (ptrdiff_t)y * pitch))[x] & 0xFFFFFF;
            wrong += pixel != (expected(gx + x, gy + y) & 0xFFFFFF);
        }
    }
    return wrong;
}

// The graph's pixels (its software view, or the texels its piece draws show) against expected(x, y).
static int CountWrongPixels(EngineHandle graph, const PixelRule &expected)
{
    const GraphRecord *record = GetGraphRecord(graph);
    if (!record->image->format.deviceTexture) {
        const MEMIMG &view = record->view;
        return CountWrongRows(view.pixels, view.block->pitch, 0, 0, view.width, view.height, expected);
    }
    int wrong = 0;
    for (int i = 0; i < record->pieceDrawCount; i++) {
        const GraphPieceDraw &draw = record->pieceDraws[i];
        IDirect3DTexture9 *texture = draw.piece->staging != NULL ? draw.piece->staging : draw.piece->texture;
        D3DLOCKED_RECT locked;
        RECT area = {draw.sx, draw.sy, draw.sx + draw.width, draw.sy + draw.height};
        if (FAILED(texture->LockRect(0, &locked, &area, D3DLOCK_READONLY))) {
            return -1;
        }
        wrong += CountWrongRows((const unsigned char *)locked.pBits, locked.Pitch, draw.gx, draw.gy, draw.width,
                                draw.height, expected);
        texture->UnlockRect(0);
    }
    return wrong;
}

template <class Suite> class Sheets : public Suite
{
};
typedef ::testing::Types<EngineScreenSuite<32, 1>, EngineScreenSuite<32, 0>> BothPaths;
TYPED_TEST_SUITE(Sheets, BothPaths);

// 280 cells of 32x32 from the 640x448 sheet, from the resource and (mirrored, right to left) from its bytes; the
// first cell's copy of the bytes serves all 280, outlives the first cell and goes with the last, image and all.
TYPED_TEST(Sheets, SheetsAreCutIntoCellsSharingOneSource)
{
    BaseImage sheet = DecodeTestResource(102, "PNG");
    Resource bytes = FindTestResource(102, "PNG");
    for (int reverse : {0, 1}) {
        SCOPED_TRACE(reverse ? "reverse" : "row order");
        const int blocks = GetAllocationCount(), graphs = GetGraphTableCount();
        EngineHandle cells[281];
        cells[280] = 77;
        ASSERT_EQ(reverse
                      ? CreateDivGraphFromMemImage(bytes.bytes, bytes.size, 280, 20, 14, 32, 32, cells, 1, 1, NULL, 0)
                      : LoadDivGraphFromResource(MAKEINTRESOURCEA(102), "PNG", 280, 20, 14, 32, 32, cells),
                  0);
        EXPECT_EQ(GetGraphTableCount() * 1000 + cells[280], (graphs + 280) * 1000 + 77);
        const GraphRestoreSource *source = GetGraphRecord(cells[0])->restoreSource;
        ASSERT_NE(source, nullptr);
        ASSERT_EQ((int)source->memImageSize, bytes.size);
        EXPECT_EQ(memcmp(source->memImage, bytes.bytes, bytes.size), 0);
        EXPECT_EQ(source->reverse * 1000 + source->referenceCount, reverse * 1000u + 280);
        for (int k = 0; k < 280; k++) {
            const GraphRecord *cell = GetGraphRecord(cells[k]);
            int column = k % 20, row = k / 20;
            EXPECT_EQ(cell->sourceX, (reverse ? 19 - column : column) * 32) << k;
            EXPECT_EQ(cell->sourceY * 100 + cell->width + cell->height * 10000, row * 3200 + 320032) << k;
            EXPECT_EQ(cell->restoreSource, source) << k;
            PixelRule rule = [&](int x, int y) {
                return GetBaseImagePixelColor(&sheet, column * 32 + (reverse ? 31 - x : x), row * 32 + y);
            };
            EXPECT_EQ(CountWrongPixels(cells[k], rule), 0) << "cell " << k;
        }
        for (int k = 0; k < 280; k++) {
            ReleaseGraphHandle(cells[k], 0);
            if (k < 279) {
                EXPECT_EQ(GetGraphRecord(cells[279])->restoreSource->referenceCount, 279 - k);
            }
        }
        EXPECT_EQ(GetAllocationCount(), blocks);
    }
    FreeBaseImageData(&sheet);
}

// A missing resource, bytes that are no picture and cells past the sheet's edge give -1 and leave no graph, no
// block and the caller's array as it was.
TYPED_TEST(Sheets, FailedLoadsLeaveNothing)
{
    struct Row {
        const char *name;
        int id;
        const char *type;
        int xNum; // 0: one picture
    } rows[] = {{"missing id", 999, "PNG", 0}, {"missing id", 999, "PNG", 2},  {"no picture", 103, "PNG", 0},
                {"no picture", 103, "PNG", 2}, {"missing type", 102, "CG", 2}, {"past the edge", 102, "PNG", 21}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const int blocks = GetAllocationCount(), graphs = GetGraphTableCount();
        EngineHandle cells[42];
        std::fill(cells, cells + 42, 5);
        const char *name = MAKEINTRESOURCEA(row.id);
        EXPECT_EQ(row.xNum ? LoadDivGraphFromResource(name, row.type, 42, row.xNum, 2, 32, 32, cells)
                           : LoadGraphFromResource(name, row.type),
                  -1);
        EXPECT_EQ(GetGraphTableCount() * 10000 + GetAllocationCount(), graphs * 10000 + blocks);
        EXPECT_EQ(std::count(cells, cells + 42, 5), row.xNum == 21 ? 42 - 20 : 42) << "only cells made are written";
    }
    EXPECT_EQ(FirstMissingInOrder(ReadLogText(), {"グラフィックの分割に失敗しました in CreateDivGraphFromGraphImage"}),
              "");
}

// Deriving from the 96x64 picture: a rectangle starting inside is cut to fit, one of no width or height or starting
// outside gives -1 and makes nothing; a derived graph shows its part and shares the picture's source. During the
// draw-settings reset the call makes nothing and gives 0.
TYPED_TEST(Sheets, DerivedGraphsShowTheirPartAndShareTheSource)
{
    BaseImage picture = DecodeTestResource(110, "CG");
    EngineHandle parent = LoadGraphFromResource(MAKEINTRESOURCEA(110), "CG");
    ASSERT_NE(parent, -1);
    const GraphRestoreSource *source = GetGraphRecord(parent)->restoreSource;
    struct Row {
        const char *name;
        int x, y, width, height, madeWidth, madeHeight; // made 0: refused
    } rows[] = {{"x at the width - 1", 95, 0, 1, 64, 1, 64},  {"x at the width", 96, 0, 1, 1, 0, 0},
                {"past both edges", 80, 10, 40, 100, 16, 54}, {"width 0", 0, 0, 0, 5, 0, 0},
                {"negative height", 3, 3, 5, -3, 0, 0},       {"x below 0", -1, 0, 5, 5, 0, 0}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const int blocks = GetAllocationCount(), graphs = GetGraphTableCount();
        EngineHandle graph = DeriveSubGraph(row.x, row.y, row.width, row.height, parent);
        if (row.madeWidth == 0) {
            EXPECT_EQ(graph, -1);
            EXPECT_EQ(GetGraphTableCount() * 10000 + GetAllocationCount(), graphs * 10000 + blocks);
            continue;
        }
        const GraphRecord *record = GetGraphRecord(graph);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->width * 1000 + record->height, row.madeWidth * 1000 + row.madeHeight);
        EXPECT_EQ(record->restoreSource == source && source->referenceCount == 2, true);
        EXPECT_EQ(CountWrongPixels(
                      graph, [&](int x, int y) { return GetBaseImagePixelColor(&picture, row.x + x, row.y + y); }),
                  0);
        ReleaseGraphHandle(graph, 0);
    }
    const int graphs = GetGraphTableCount();
    g_DrawState.resetting = 1;
    EXPECT_EQ(DeriveSubGraph(0, 0, 8, 8, parent) * 1000 + GetGraphTableCount(), graphs);
    g_DrawState.resetting = 0;
    ReleaseGraphHandle(parent, 0);
    FreeBaseImageData(&picture);
}

// Sharing takes the existing source of a live graph and nothing else (an empty slot, a graph without a source or no
// graph leave the graph with its own path or with none); a sheet's source goes only into the cells made; a mirrored
// picture keeps its flag; a rebuilt graph and a DIB section keep a copy of their pixels.
TYPED_TEST(Sheets, OnlyLiveSourcesAreSharedAndOnlyIntoCellsMade)
{
    const int blocks = GetAllocationCount();
    Resource picture = FindTestResource(110, "CG"), sheet = FindTestResource(102, "PNG");
    EngineHandle mirrored = CreateGraphFromMemImage(picture.bytes, picture.size, NULL, 0, 1, 1);
    EngineHandle dead = MakeEmptyGraph(8, 8), bare = MakeEmptyGraph(8, 8), graph = MakeEmptyGraph(8, 8);
    ReleaseGraphHandle(dead, 0); // its slot lies below the used end and stays empty
    GraphRestoreSource *source = GetGraphRecord(mirrored)->restoreSource;
    ASSERT_EQ(source->reverse, 1u);
    BaseImage decoded = DecodeTestResource(110, "CG");
    EXPECT_EQ(CountWrongPixels(mirrored, [&](int x, int y) { return GetBaseImagePixelColor(&decoded, 95 - x, y); }), 0);
    for (EngineHandle from : {dead, bare, -1, mirrored}) {
        for (const char *path : {(const char *)NULL, "keep.png"}) {
            ASSERT_EQ(SetGraphRestorePath(graph, path, 0, from), 0);
            const GraphRestoreSource *kept = GetGraphRecord(graph)->restoreSource;
            if (from == mirrored || path == NULL) {
                EXPECT_EQ(kept, from == mirrored ? source : NULL) << from;
            } else {
                EXPECT_STREQ(strrchr(kept->path, '\\'), "\\keep.png") << from;
            }
        }
    }
    EngineHandle cells[6] = {0, 0, 0, 0, graph, graph};
    ASSERT_EQ(CreateDivGraphFromMemImage(sheet.bytes, sheet.size, 6, 2, 2, 32, 32, cells, 1, 0, NULL, 0), 0);
    EXPECT_EQ(GetGraphRecord(graph)->restoreSource == source && source->referenceCount == 2, true);
    EXPECT_EQ(GetGraphRecord(cells[3])->restoreSource->referenceCount, 4);
    EXPECT_EQ(RebuildGraphFromBaseImage(&decoded, bare) * 10 + (GetGraphRecord(bare)->restoreSource == NULL), -9);
    EngineHandle ramp = MakeEmptyGraph(256, 8);
    RecreateGrayRampGraph(ramp);
    const BaseImage *copy = GetGraphRecord(ramp)->restoreSource->image;
    EXPECT_EQ(GetBaseImagePixelColor(copy, 200, 7) & 0xFFFFFF, 0xC8C8C8u);
    BITMAPINFO info = {{sizeof(BITMAPINFOHEADER), 8, -4, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    uint32_t *bits = NULL;
    HBITMAP bitmap = CreateDIBSection(NULL, &info, DIB_RGB_COLORS, (void **)&bits, NULL, 0);
    std::iota(bits, bits + 32, 0x123400);
    PixelFormat format;
    SetXRGB8PixelFormat(&format);
    ASSERT_EQ(SetGraphRestoreSource(bare, NULL, &format, bitmap, NULL, NULL, 0, NULL, 0, NULL, NULL, 0, -1), 0);
    copy = GetGraphRecord(bare)->restoreSource->image;
    EXPECT_EQ(copy->width * 100 + copy->height, 804);
    EXPECT_EQ(memcmp(copy->pixels, bits, 128), 0);
    DeleteObject(bitmap);
    for (EngineHandle release : {mirrored, bare, graph, ramp, cells[0], cells[1], cells[2], cells[3]}) {
        ReleaseGraphHandle(release, 0);
    }
    FreeBaseImageData(&decoded);
    EXPECT_EQ(GetAllocationCount(), blocks);
}
