// Device shape drawers: filled and outlined boxes, triangles and single pixels appended to the plain screen-space
// vertex batch, and circles drawn from a local vertex array as horizontal lines (filled) or points (outline). Every
// pixel of a shape is written once, so blended shapes blend each pixel once. Window thread only.
#include "graphics/graphics_internal.h"

#define CIRCLE_LINES_PER_DRAW 10
#define CIRCLE_POINTS_PER_DRAW 40

// The vertex colour of a shape: the screen colour's bytes scaled by the draw brightness, alpha from the draw
// colour word.
static D3DCOLOR MakeShapeColor(int color)
{
    const PixelFormat *format = GetD3DFormatPixelFormat(g_D3D.backBufferFormat);
    int red = (color >> 16) & 0xFF, green = (color >> 8) & 0xFF, blue = color & 0xFF;
    if (format != NULL) {
        SplitPixelComponents(format, (uint32_t)color, &red, &green, &blue, NULL);
    }
    unsigned int word = g_DrawState.drawColorWord;
    if (word != 0xFFFFFFFFu) {
        red = red * ((word >> 16) & 0xFF) / 255;
        green = green * ((word >> 8) & 0xFF) / 255;
        blue = blue * (word & 0xFF) / 255;
    }
    return (word & 0xFF000000u) | (red << 16) | (green << 8) | blue;
}

// Common prologue of the batch drawers: scene open and the untextured 2D states applied.
static int PrepareUntexturedDraw(void)
{
    if (g_StateCache.device == NULL) {
        return -1;
    }
    BeginSceneIfNeeded();
    ApplyDrawStates(NULL, NULL, 0);
    return 0;
}

static void PutVertex(Vertex2D *vertex, float x, float y, float z, D3DCOLOR color)
{
    vertex->x = x;
    vertex->y = y;
    vertex->z = z;
    vertex->rhw = 1.0f;
    vertex->diffuse = color;
}

// Two triangles covering (x1, y1)-(x2, y2), right and bottom exclusive.
static Vertex2D *PutQuad(Vertex2D *vertex, int x1, int y1, int x2, int y2, float z, D3DCOLOR color)
{
    float left = (float)x1, top = (float)y1, right = (float)x2, bottom = (float)y2;
    PutVertex(vertex + 0, left, top, z, color);
    PutVertex(vertex + 1, right, top, z, color);
    PutVertex(vertex + 2, left, bottom, z, color);
    PutVertex(vertex + 3, right, bottom, z, color);
    PutVertex(vertex + 4, left, bottom, z, color);
    PutVertex(vertex + 5, right, top, z, color);
    return vertex + 6;
}

static void SortPair(int *low, int *high)
{
    if (*low > *high) {
        int swap = *low;
        *low = *high;
        *high = swap;
    }
}

int G_D3D_DrawBox(int x1, int y1, int x2, int y2, int color)
{
    if (g_StateCache.device == NULL) {
        return -1;
    }
    SortPair(&x1, &x2);
    SortPair(&y1, &y2);
    RECT box = {x1, y1, x2, y2};
    ClipRect(&box, &g_DrawState.drawArea);
    if (box.right <= box.left || box.bottom <= box.top) {
        return 0;
    }
    PrepareUntexturedDraw();
    Vertex2D *vertex = (Vertex2D *)ReserveBatchVertices(0, VERTEX_PLAIN, D3DPT_TRIANGLELIST, 6);
    PutQuad(vertex, box.left, box.top, box.right, box.bottom, g_DrawState.screenZ, MakeShapeColor(color));
    CommitBatchVertices(6);
    return 0;
}

// Four one-pixel bars along the inside of the box, none overlapping another: a bar that would lie on one already
// given (a box one pixel wide or high) is left empty, and an empty box draws nothing.
int G_D3D_DrawBoxOutline(int x1, int y1, int x2, int y2, int color)
{
    if (PrepareUntexturedDraw() != 0) {
        return -1;
    }
    SortPair(&x1, &x2);
    SortPair(&y1, &y2);
    if (x1 == x2 || y1 == y2) {
        return 0;
    }
    int leftRight = x2 - x1 > 1 ? x1 + 1 : x1;
    int bottomTop = y2 - y1 > 1 ? y2 - 1 : y2;
    float z = g_DrawState.screenZ;
    D3DCOLOR shapeColor = MakeShapeColor(color);
    Vertex2D *vertex = (Vertex2D *)ReserveBatchVertices(0, VERTEX_PLAIN, D3DPT_TRIANGLELIST, 24);
    vertex = PutQuad(vertex, x1, y1, x2, y1 + 1, z, shapeColor);
    vertex = PutQuad(vertex, x2 - 1, y1 + 1, x2, y2, z, shapeColor);
    vertex = PutQuad(vertex, x1, y1 + 1, leftRight, y2, z, shapeColor);
    PutQuad(vertex, x1 + 1, bottomTop, x2 - 1 > x1 ? x2 - 1 : x1 + 1, y2, z, shapeColor);
    CommitBatchVertices(24);
    return 0;
}

int G_D3D_DrawTriangle(int x1, int y1, int x2, int y2, int x3, int y3, int color, int fill)
{
    if (PrepareUntexturedDraw() != 0) {
        return -1;
    }
    float z = g_DrawState.screenZ;
    D3DCOLOR shapeColor = MakeShapeColor(color);
    if (fill) {
        Vertex2D *vertex = (Vertex2D *)ReserveBatchVertices(0, VERTEX_PLAIN, D3DPT_TRIANGLELIST, 3);
        PutVertex(vertex + 0, (float)x1, (float)y1, z, shapeColor);
        PutVertex(vertex + 1, (float)x2, (float)y2, z, shapeColor);
        PutVertex(vertex + 2, (float)x3, (float)y3, z, shapeColor);
        CommitBatchVertices(3);
        return 0;
    }
    Vertex2D *vertex = (Vertex2D *)ReserveBatchVertices(0, VERTEX_PLAIN, D3DPT_LINELIST, 6);
    PutVertex(vertex + 0, (float)x1, (float)y1, z, shapeColor);
    PutVertex(vertex + 1, (float)x2, (float)y2, z, shapeColor);
    PutVertex(vertex + 2, (float)x2, (float)y2, z, shapeColor);
    PutVertex(vertex + 3, (float)x3, (float)y3, z, shapeColor);
    PutVertex(vertex + 4, (float)x3, (float)y3, z, shapeColor);
    PutVertex(vertex + 5, (float)x1, (float)y1, z, shapeColor);
    CommitBatchVertices(6);
    return 0;
}

int G_D3D_DrawPixel(int x, int y, int color)
{
    if (PrepareUntexturedDraw() != 0) {
        return -1;
    }
    Vertex2D *vertex = (Vertex2D *)ReserveBatchVertices(0, VERTEX_PLAIN, D3DPT_POINTLIST, 1);
    PutVertex(vertex, (float)x, (float)y, g_DrawState.screenZ, MakeShapeColor(color));
    CommitBatchVertices(1);
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Circles.

// A local vertex array drawn with DrawPrimitiveUP whenever it is full and once at the end.
struct CircleVertices {
    Vertex2D vertices[CIRCLE_POINTS_PER_DRAW];
    int count, capacity;
    D3DPRIMITIVETYPE primitive;
    int verticesPerPrimitive;
};

static void StartCircleVertices(CircleVertices *list, D3DPRIMITIVETYPE primitive, D3DCOLOR color)
{
    list->count = 0;
    list->primitive = primitive;
    list->verticesPerPrimitive = primitive == D3DPT_LINELIST ? 2 : 1;
    list->capacity = primitive == D3DPT_LINELIST ? CIRCLE_LINES_PER_DRAW * 2 : CIRCLE_POINTS_PER_DRAW;
    for (int i = 0; i < CIRCLE_POINTS_PER_DRAW; i++) {
        PutVertex(&list->vertices[i], 0.0f, 0.0f, g_DrawState.screenZ, color);
    }
}

static void DrawCircleVertices(CircleVertices *list)
{
    if (list->count > 0) {
        g_StateCache.device->DrawPrimitiveUP(list->primitive, list->count / list->verticesPerPrimitive, list->vertices,
                                             sizeof(Vertex2D));
    }
    list->count = 0;
}

static void AddCircleVertex(CircleVertices *list, int x, int y)
{
    list->vertices[list->count].x = (float)x;
    list->vertices[list->count].y = (float)y;
    list->count++;
    if (list->count == list->capacity) {
        DrawCircleVertices(list);
    }
}

// One step of the midpoint walk: the offsets (cx, cy) of the first octant, cx rising from 0 while cy >= cx.
struct MidpointWalk {
    int cx, cy;
    LONGLONG d;
};

static void StartMidpointWalk(MidpointWalk *walk, int radius)
{
    walk->cx = 0;
    walk->cy = radius;
    walk->d = 3 - 2 * (LONGLONG)radius;
}

static int StepMidpointWalk(MidpointWalk *walk)
{
    if (walk->d >= 0) {
        walk->cy--;
        walk->d -= 4 * (LONGLONG)walk->cy;
    }
    walk->d += 4 * (LONGLONG)walk->cx + 6;
    walk->cx++;
    return walk->cy >= walk->cx;
}

// The filled disc: for every row inside the draw area the widest span the walk offers, so that the disc covers
// its own outline and each row is drawn once.
static void FillCircleRows(int x, int y, int radius, CircleVertices *list)
{
    const RECT *area = &g_DrawState.drawArea;
    LONGLONG firstRow = (LONGLONG)y - radius < area->top ? area->top : (LONGLONG)y - radius;
    LONGLONG lastRow = (LONGLONG)y + radius >= area->bottom ? area->bottom - 1 : (LONGLONG)y + radius;
    if (firstRow > lastRow) {
        return;
    }
    int rows = (int)(lastRow - firstRow + 1);
    int *halfWidths = (int *)AllocMemory(sizeof(int) * rows, __FILE__, __LINE__);
    if (halfWidths == NULL) {
        FatalErrorExit("メモリの確保に失敗しました in G_D3D_DrawCircle");
        return;
    }
    for (int i = 0; i < rows; i++) {
        halfWidths[i] = -1;
    }
    MidpointWalk walk;
    StartMidpointWalk(&walk, radius);
    do {
        const LONGLONG offsets[4][2] = {
            {walk.cy, walk.cx}, {-walk.cy, walk.cx}, {walk.cx, walk.cy}, {-walk.cx, walk.cy}};
        for (int i = 0; i < 4; i++) {
            LONGLONG row = (LONGLONG)y + offsets[i][0];
            if (row >= firstRow && row <= lastRow && halfWidths[row - firstRow] < offsets[i][1]) {
                halfWidths[row - firstRow] = (int)offsets[i][1];
            }
        }
    } while (StepMidpointWalk(&walk));
    for (int i = 0; i < rows; i++) {
        LONGLONG left = (LONGLONG)x - halfWidths[i], right = (LONGLONG)x + halfWidths[i];
        if (halfWidths[i] < 0 || right < area->left || left >= area->right) {
            continue;
        }
        left = left < area->left ? area->left : left;
        right = right >= area->right ? area->right - 1 : right;
        int row = (int)firstRow + i;
        AddCircleVertex(list, (int)left, row);
        AddCircleVertex(list, (int)right + 1, row);
    }
    FreeMemory(halfWidths);
}

// The outline: the eight mirror points of each step, each point once (they meet where cx is 0 or equals cy).
static void OutlineCircle(int x, int y, int radius, CircleVertices *list)
{
    const RECT *area = &g_DrawState.drawArea;
    MidpointWalk walk;
    StartMidpointWalk(&walk, radius);
    do {
        LONGLONG px = x, py = y;
        LONGLONG points[8][2] = {{px + walk.cx, py + walk.cy}, {px - walk.cx, py + walk.cy},
                                 {px + walk.cx, py - walk.cy}, {px - walk.cx, py - walk.cy},
                                 {px + walk.cy, py + walk.cx}, {px - walk.cy, py + walk.cx},
                                 {px + walk.cy, py - walk.cx}, {px - walk.cy, py - walk.cx}};
        for (int i = 0; i < 8; i++) {
            int seen = 0;
            for (int j = 0; j < i && !seen; j++) {
                seen = points[j][0] == points[i][0] && points[j][1] == points[i][1];
            }
            if (!seen && points[i][0] >= area->left && points[i][0] < area->right && points[i][1] >= area->top &&
                points[i][1] < area->bottom) {
                AddCircleVertex(list, (int)points[i][0], (int)points[i][1]);
            }
        }
    } while (StepMidpointWalk(&walk));
}

int G_D3D_DrawCircle(int x, int y, int radius, int color, int fill)
{
    FlushVertexBatch();
    if (g_StateCache.device == NULL) {
        return -1;
    }
    if (radius < 0) {
        return 0;
    }
    BeginSceneIfNeeded();
    ApplyDrawStates(NULL, NULL, 0);
    SetDeviceFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
    CircleVertices list;
    StartCircleVertices(&list, fill ? D3DPT_LINELIST : D3DPT_POINTLIST, MakeShapeColor(color));
    if (fill) {
        FillCircleRows(x, y, radius, &list);
    } else {
        OutlineCircle(x, y, radius, &list);
    }
    DrawCircleVertices(&list);
    return 0;
}
