// Sheets and pictures from the program's own resources, derived graphs and restore sources, on the device and on
// the software screen, drawn at points and read back against an independent decode of the resource. Each test
// ends with the blocks it began with.
#include <gtest/gtest.h>

#include "graphics/graphics_test_hooks.h"
#include "graphics/log_reading.h"
#include "graphics/screen_readback.h"

#include <numeric>
#include <string.h>

struct Resource {
    void *bytes;
    int size;
    BaseImage decoded; // by the image loader alone
};

static Resource LoadTestResource(int id, const char *type)
{
    Resource found = {};
    FindResourceData(MAKEINTRESOURCEA(id), type, &found.bytes, &found.size);
    EXPECT_EQ(LoadBaseImageNoAlpha(NULL, found.bytes, found.size, 1, &found.decoded, 0), 0);
    return found;
}

// Draws the graphs side by side at points from the top-left, `perRow` to a row, on a cleared screen, and counts the
// screen pixels of that area that differ from the picture's at (left, top) on, each graph's columns mirrored with
// `mirror`. The graphs are all of the first one's size.
static int CountWrongDrawn(const EngineHandle *graphs, int count, int perRow, const BaseImage &picture, int left,
                           int top, int mirror)
{
    const GraphRecord *first = GetGraphRecord(graphs[0]);
    int width = first->width, height = first->height, wrong = 0;
    ClearDrawScreen(-2, NULL);
    for (int i = 0; i < count; i++) {
        DrawGraphAt(i % perRow * width, i / perRow * height, graphs[i], 0);
    }
    FlushVertexBatch();
    ScreenPixels screen = ReadScreen();
    for (int y = 0; y < (count + perRow - 1) / perRow * height; y++) {
        for (int x = 0; x < (count < perRow ? count : perRow) * width; x++) {
            int column = x / width * width + (mirror ? width - 1 - x % width : x % width);
            wrong += screen.At(x, y) != (GetBaseImagePixelColor(&picture, left + column, top + y) & 0xFFFFFF);
        }
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
    Resource sheet = LoadTestResource(102, "PNG");
    for (int reverse : {0, 1}) {
        const int blocks = GetAllocationCount(), graphs = GetGraphTableCount();
        EngineHandle cells[281];
        cells[280] = 77;
        ASSERT_EQ(reverse ? CreateDivGraphFromMemImage(sheet.bytes, sheet.size, 280, 20, 14, 32, 32, cells, 1, 1, 0, 0)
                          : LoadDivGraphFromResource(MAKEINTRESOURCEA(102), "PNG", 280, 20, 14, 32, 32, cells),
                  0);
        EXPECT_EQ(GetGraphTableCount() * 1000 + cells[280], (graphs + 280) * 1000 + 77);
        const GraphRestoreSource *source = GetGraphRecord(cells[0])->restoreSource;
        ASSERT_EQ(source != NULL && (int)source->memImageSize == sheet.size, true);
        EXPECT_EQ(memcmp(source->memImage, sheet.bytes, sheet.size), 0);
        EXPECT_EQ(source->reverse * 1000 + source->referenceCount, reverse * 1000u + 280);
        for (int k = 0, column = 0, row = 0; k < 280; k++, column = k % 20, row = k / 20) {
            const GraphRecord *cell = GetGraphRecord(cells[k]);
            EXPECT_EQ(cell->sourceX * 1000 + cell->sourceY, (reverse ? 19 - column : column) * 32000 + row * 32) << k;
            EXPECT_EQ(cell->restoreSource == source && cell->width == 32 && cell->height == 32, true) << k;
        }
        EXPECT_EQ(CountWrongDrawn(cells, 280, 20, sheet.decoded, 0, 0, reverse), 0);
        for (int k = 0; k < 280; k++) {
            ReleaseGraphHandle(cells[k], 0);
            EXPECT_EQ(k == 279 || GetGraphRecord(cells[279])->restoreSource->referenceCount == 279 - k, true);
        }
        EXPECT_EQ(GetAllocationCount(), blocks);
    }
    FreeBaseImageData(&sheet.decoded);
}

// A missing resource, bytes that are no picture and cells past the sheet's edge (logged) give -1 and leave no graph
// and no block.
TYPED_TEST(Sheets, FailedLoadsLeaveNothing)
{
    struct Row {
        int id;
        const char *type;
        int xNum; // 0: one picture
    } rows[] = {{999, "PNG", 0}, {999, "PNG", 2}, {103, "PNG", 0}, {103, "PNG", 2}, {102, "CG", 2}, {102, "PNG", 21}};
    for (const Row &row : rows) {
        const int blocks = GetAllocationCount(), graphs = GetGraphTableCount();
        EngineHandle cells[42];
        const char *name = MAKEINTRESOURCEA(row.id);
        int result = row.xNum ? LoadDivGraphFromResource(name, row.type, 42, row.xNum, 2, 32, 32, cells)
                              : LoadGraphFromResource(name, row.type);
        EXPECT_EQ(result * 100000 + GetGraphTableCount() * 10000 + GetAllocationCount() - blocks,
                  graphs * 10000 - 100000)
            << row.id << row.type << row.xNum;
    }
    EXPECT_EQ(FirstMissingInOrder(ReadLogText(), {"グラフィックの分割に失敗しました in CreateDivGraphFromGraphImage"}),
              "");
}

// Deriving from the 96x64 picture: a rectangle starting inside is cut to fit and shows its part, sharing the
// picture's source; one of no width or height or starting outside gives -1 and makes nothing.
TYPED_TEST(Sheets, DerivedGraphsShowTheirPartAndShareTheSource)
{
    const int start = GetAllocationCount();
    Resource picture = LoadTestResource(110, "CG");
    EngineHandle parent = LoadGraphFromResource(MAKEINTRESOURCEA(110), "CG");
    const GraphRestoreSource *source = GetGraphRecord(parent)->restoreSource;
    struct Row {
        int x, y, width, height, madeWidth, madeHeight; // made 0: refused
    } rows[] = {{95, 0, 1, 64, 1, 64}, {96, 0, 1, 1, 0, 0}, {80, 10, 40, 100, 16, 54},
                {0, 0, 0, 5, 0, 0},    {3, 3, 5, -3, 0, 0}, {-1, 0, 5, 5, 0, 0}};
    for (const Row &row : rows) {
        SCOPED_TRACE(::testing::Message() << row.x << ", " << row.y << ", " << row.width << " x " << row.height);
        const int blocks = GetAllocationCount(), graphs = GetGraphTableCount();
        EngineHandle graph = DeriveSubGraph(row.x, row.y, row.width, row.height, parent);
        const GraphRecord *record = GetGraphRecord(graph);
        if (row.madeWidth == 0) {
            EXPECT_EQ(graph * 100000 + GetGraphTableCount() * 10000 + GetAllocationCount() - blocks,
                      graphs * 10000 - 100000);
            continue;
        }
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->width * 1000 + record->height, row.madeWidth * 1000 + row.madeHeight);
        EXPECT_EQ(record->restoreSource == source && source->referenceCount == 2, true);
        EXPECT_EQ(CountWrongDrawn(&graph, 1, 1, picture.decoded, row.x, row.y, 0), 0);
        ReleaseGraphHandle(graph, 0);
    }
    ReleaseGraphHandle(parent, 0);
    FreeBaseImageData(&picture.decoded);
    EXPECT_EQ(GetAllocationCount(), start);
}

// Sharing takes the existing source of a live graph and nothing else (an empty slot, a graph without a source or no
// graph leave the graph its own path, or none); a sheet's source goes only into the cells made; a mirrored picture
// keeps its flag; a DIB section is kept as a copy of its pixels.
TYPED_TEST(Sheets, OnlyLiveSourcesAreSharedAndOnlyIntoCellsMade)
{
    const int blocks = GetAllocationCount();
    Resource picture = LoadTestResource(110, "CG"), sheet = LoadTestResource(102, "PNG");
    EngineHandle mirrored = CreateGraphFromMemImage(picture.bytes, picture.size, NULL, 0, 1, 1);
    EngineHandle dead = MakeEmptyGraph(8, 8), bare = MakeEmptyGraph(8, 8), graph = MakeEmptyGraph(8, 8);
    ReleaseGraphHandle(dead, 0); // its slot lies below the used end and stays empty
    GraphRestoreSource *source = GetGraphRecord(mirrored)->restoreSource;
    EXPECT_EQ(source->reverse * 1000 + CountWrongDrawn(&mirrored, 1, 1, picture.decoded, 0, 0, 1), 1000u);
    for (EngineHandle from : {dead, bare, -1, mirrored}) {
        for (const char *path : {(const char *)NULL, "keep.png"}) {
            ASSERT_EQ(SetGraphRestorePath(graph, path, 0, from), 0);
            const GraphRestoreSource *kept = GetGraphRecord(graph)->restoreSource;
            EXPECT_EQ(from == mirrored ? kept == source
                      : path           ? !strcmp(strrchr(kept->path, '\\'), "\\keep.png")
                                       : !kept,
                      true)
                << from << (path ? " with a path" : "");
        }
    }
    EngineHandle cells[6] = {0, 0, 0, 0, graph, graph};
    ASSERT_EQ(CreateDivGraphFromMemImage(sheet.bytes, sheet.size, 6, 2, 2, 32, 32, cells, 1, 0, NULL, 0), 0);
    EXPECT_EQ(source->referenceCount * 10 + GetGraphRecord(cells[3])->restoreSource->referenceCount, 24);
    EXPECT_EQ(RebuildGraphFromBaseImage(&picture.decoded, bare) * 10 + !GetGraphRecord(bare)->restoreSource, -9);
    EngineHandle ramp = MakeEmptyGraph(256, 8); // the grey ramp keeps its picture; a graph of another size fails
    ASSERT_EQ(RecreateGrayRampGraph(ramp) * 10 + RecreateGrayRampGraph(bare), ramp * 10 - 1);
    EXPECT_EQ(((const uint32_t *)GetGraphRecord(ramp)->restoreSource->image->pixels)[255] & 0xFFFFFF, 0xFFFFFFu);
    ReleaseGraphHandle(ramp, 0);
    BITMAPINFO info = {{sizeof(BITMAPINFOHEADER), 8, -4, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    uint32_t *bits = NULL;
    HBITMAP bitmap = CreateDIBSection(NULL, &info, DIB_RGB_COLORS, (void **)&bits, NULL, 0);
    std::iota(bits, bits + 32, 0x123456u);
    PixelFormat format;
    SetXRGB8PixelFormat(&format);
    ASSERT_EQ(SetGraphRestoreSource(bare, NULL, &format, bitmap, NULL, NULL, 0, NULL, 0, NULL, NULL, 0, -1), 0);
    const BaseImage *copy = GetGraphRecord(bare)->restoreSource->image;
    EXPECT_EQ(copy->width * 100 + copy->height * 10 + !memcmp(copy->pixels, bits, 128), 841);
    DeleteObject(bitmap);
    for (EngineHandle release : {mirrored, bare, graph, cells[0], cells[1], cells[2], cells[3]}) {
        ReleaseGraphHandle(release, 0);
    }
    FreeBaseImageData(&picture.decoded), FreeBaseImageData(&sheet.decoded);
    EXPECT_EQ(GetAllocationCount(), blocks);
}
