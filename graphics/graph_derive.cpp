// Derived graphs: a rectangle of a graph as a graph of its own, sharing the source's image and restore source, and
// sprite sheets cut into such cells row by row. A derived graph keeps the image alive until the last graph that
// shares it is released. Window thread only.
#include "graphics/graphics_internal.h"

#include <limits.h>

// The rectangle is at least one pixel each way and lies inside the graph.
static int IsInsideGraph(const GraphRecord *graph, int x, int y, int width, int height)
{
    return width > 0 && height > 0 && x >= 0 && y >= 0 && (int64_t)x + width <= graph->width &&
           (int64_t)y + height <= graph->height;
}

int DeriveSubGraphCore(EngineHandle source, EngineHandle graph, int x, int y, int width, int height)
{
    GraphRecord *parent = GetGraphRecord(source), *record = GetGraphRecord(graph);
    if (parent == NULL || record == NULL || parent->image == NULL || !IsInsideGraph(parent, x, y, width, height)) {
        return -1;
    }
    AttachSharedGraphImage(record, parent->image, parent->x + x, parent->y + y, width, height);
    SetGraphRestorePath(graph, NULL, 0, source);
    record->sourceX = parent->sourceX + x;
    record->sourceY = parent->sourceY + y;
    return BuildGraphTextureDrawInfo(graph);
}

EngineHandle DeriveSubGraph(int x, int y, int width, int height, EngineHandle source)
{
    if (g_DrawState.resetting) {
        return 0;
    }
    const GraphRecord *parent = GetGraphRecord(source);
    if (parent == NULL) {
        return -1;
    }
    // A rectangle reaching past the right or bottom edge is cut to fit; one starting outside is refused below.
    if (x >= 0 && x < parent->width && width > parent->width - x) {
        width = parent->width - x;
    }
    if (y >= 0 && y < parent->height && height > parent->height - y) {
        height = parent->height - y;
    }
    if (!IsInsideGraph(parent, x, y, width, height)) {
        return -1;
    }
    EngineHandle graph = AllocGraphHandle();
    if (DeriveSubGraphCore(source, graph, x, y, width, height) != 0) {
        ReleaseGraphHandle(graph, 0);
        return -1;
    }
    return graph;
}

// ---------------------------------------------------------------------------------------------------------------
// Divided graphs.

int CountDivGraphCells(int allNum, int xNum, int yNum)
{
    if (allNum < 1 || xNum < 1 || yNum < 1) {
        return 0;
    }
    int64_t grid = (int64_t)xNum * yNum;
    return grid < allNum ? (int)grid : allNum;
}

// Where cell `index` of a row or column starts; -1 (refused by the derivation) when it lies beyond an int.
static int CellOrigin(int index, int size)
{
    int64_t origin = (int64_t)index * size;
    return origin >= 0 && origin <= INT_MAX ? (int)origin : -1;
}

static void ReleaseCells(const EngineHandle *handles, int count)
{
    for (int i = 0; i < count; i++) {
        ReleaseGraphHandle(handles[i], 0);
    }
}

int CreateDivGraphFromGraphImage(BaseImage *image, BaseImage *alphaImage, int allNum, int xNum, int yNum, int xSize,
                                 int ySize, EngineHandle *handles, int transparent, int reverse)
{
    int cells = CountDivGraphCells(allNum, xNum, yNum);
    if (cells > 0 && handles == NULL) {
        return -1;
    }
    EngineHandle sheet = CreateGraphFromImage(image, alphaImage);
    if (sheet == -1) {
        return -1;
    }
    for (int k = 0; k < cells; k++) {
        int column = reverse == 1 ? xNum - 1 - k % xNum : k % xNum;
        EngineHandle cell = DeriveSubGraph(CellOrigin(column, xSize), CellOrigin(k / xNum, ySize), xSize, ySize, sheet);
        if (cell == -1) {
            ReleaseCells(handles, k);
            ReleaseGraphHandle(sheet, 0);
            return AddLog("グラフィックの分割に失敗しました in CreateDivGraphFromGraphImage\n");
        }
        handles[k] = cell;
    }
    ReleaseGraphHandle(sheet, 0); // its image lives on in the cells
    return 0;
}
