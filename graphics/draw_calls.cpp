// Public drawing calls for graphs and shapes. Each runs one guard sequence (engine started, drawing not suspended,
// draw area not empty, a live handle, a blend graph at least the graph's size), brings a bound movie up to date,
// brackets the draw with masked drawing while the mask is in use and with the two inverting passes when blend mode
// 3 meets a device without blend operations, and then draws through the device drawers or the software paths.
// ClearDrawScreen clears a screen or a graph to the background colour. Window thread only; the calls wait
// (pumping messages) while the application is inactive.
#include "graphics/graphics_internal.h"
#include "media/media.h"
#include "softrender/softrender.h"

#include <math.h>

enum GraphDrawKind { GRAPH_DRAW_AT, GRAPH_DRAW_STRETCHED, GRAPH_DRAW_ROTATED, GRAPH_DRAW_QUAD };

// One graph draw as a public call describes it. Positions are kept both as integers and as floats; quad corners
// run top-left, top-right, bottom-left, bottom-right, as the drawers take them.
struct GraphDraw {
    GraphDrawKind kind;
    int x[2], y[2];
    float fx[4], fy[4];
    double scale, angle;
    int transparent, turn;
    int wholePixels; // integer positions: the device drawers may place texels on pixels exactly
};

// A pixel column or row from a float position, held within +-2^30 (a NaN counts as far left or up).
static LONG PixelEdge(float value, int offset)
{
    const double edge = floor((double)value) + offset, limit = 1073741824.0;
    return edge > limit ? (LONG)limit : edge >= -limit ? (LONG)edge : (LONG)-limit;
}

// The pixels a draw can reach, widened by one on every side: the rectangle is inverted twice or copied through
// the mask, both of which leave pixels the draw did not touch as they were, so a margin costs nothing and covers
// the half-pixel placement of the device drawers.
static RECT BoundsOfCorners(const float *xs, const float *ys, int count)
{
    float left = xs[0], right = xs[0], top = ys[0], bottom = ys[0];
    for (int i = 1; i < count; i++) {
        left = fminf(left, xs[i]), right = fmaxf(right, xs[i]);
        top = fminf(top, ys[i]), bottom = fmaxf(bottom, ys[i]);
    }
    RECT rect = {PixelEdge(left, -1), PixelEdge(top, -1), PixelEdge(right, 2), PixelEdge(bottom, 2)};
    return rect;
}

// The corners (-w/2, -h/2) and (w - w/2, h - h/2), halves rounded towards zero, scaled, rotated and moved to the
// centre.
static RECT RotatedBounds(const GraphDraw *draw, const GraphRecord *graph)
{
    const int halfWidth = graph->width / 2, halfHeight = graph->height / 2;
    const double cosine = cos(draw->angle), sine = sin(draw->angle);
    const double scaleX = draw->turn ? -draw->scale : draw->scale;
    float xs[4], ys[4];
    for (int i = 0; i < 4; i++) {
        double ex = scaleX * ((i & 1) ? graph->width - halfWidth : -halfWidth);
        double ey = draw->scale * ((i & 2) ? graph->height - halfHeight : -halfHeight);
        xs[i] = (float)(cosine * ex - sine * ey + draw->fx[0]);
        ys[i] = (float)(sine * ex + cosine * ey + draw->fy[0]);
    }
    return BoundsOfCorners(xs, ys, 4);
}

static RECT TouchedRect(const GraphDraw *draw, const GraphRecord *graph)
{
    float xs[2] = {draw->fx[0], draw->fx[0] + graph->width}, ys[2] = {draw->fy[0], draw->fy[0] + graph->height};
    switch (draw->kind) {
    case GRAPH_DRAW_AT:
        return BoundsOfCorners(xs, ys, 2);
    case GRAPH_DRAW_STRETCHED:
        return BoundsOfCorners(draw->fx, draw->fy, 2);
    case GRAPH_DRAW_ROTATED:
        return RotatedBounds(draw, graph);
    default:
        return BoundsOfCorners(draw->fx, draw->fy, 4);
    }
}

static int DrawGraphOnDevice(const GraphDraw *d, const GraphRecord *graph)
{
    switch (d->kind) {
    case GRAPH_DRAW_AT:
        return G_D3D_DrawImage(d->x[0], d->y[0], d->fx[0], d->fy[0], graph, d->transparent, 1);
    case GRAPH_DRAW_STRETCHED:
        return G_D3D_DrawImageStretched(d->x[0], d->y[0], d->x[1], d->y[1], d->fx[0], d->fy[0], d->fx[1], d->fy[1],
                                        graph, d->transparent, d->wholePixels);
    case GRAPH_DRAW_ROTATED:
        return G_D3D_DrawImageRotated(d->fx[0], d->fy[0], d->scale, d->angle, graph, d->transparent, d->turn);
    default:
        return G_D3D_DrawImageQuadF(d->fx[0], d->fy[0], d->fx[1], d->fy[1], d->fx[2], d->fy[2], d->fx[3], d->fy[3],
                                    graph, d->transparent);
    }
}

static int DrawGraphInSoftware(const GraphDraw *d, const GraphRecord *graph)
{
    switch (d->kind) {
    case GRAPH_DRAW_AT:
        return SoftDrawGraphAt(d->transparent, d->x[0], d->y[0], graph);
    case GRAPH_DRAW_STRETCHED:
        return SoftDrawGraphStretched(d->x[0], d->y[0], d->x[1], d->y[1], graph, d->transparent);
    case GRAPH_DRAW_ROTATED:
        return SoftDrawGraphRotated(d->fx[0], d->fy[0], d->scale, d->angle, d->transparent, d->turn, graph);
    default:
        return SoftDrawGraphQuadF(d->fx[0], d->fy[0], d->fx[1], d->fy[1], d->fx[2], d->fy[2], d->fx[3], d->fy[3], graph,
                                  d->transparent);
    }
}

static int IsDrawingHeld(void)
{
    return g_DrawState.suspended || g_DrawState.emptyArea;
}

// A selected blend graph must cover the graph (equal or larger, as the draws need; the texture-piece draw info
// expects an equal size, and a larger one only leaves its far part unused); one released while selected covers
// nothing.
static int BlendGraphCovers(const GraphRecord *graph)
{
    if (g_DrawState.blendGraph == -1) {
        return 1;
    }
    const GraphRecord *blend = GetGraphRecord(g_DrawState.blendGraph);
    return blend != NULL && blend->width >= graph->width && blend->height >= graph->height;
}

static int NeedsThreePasses(int onDevice)
{
    return onDevice && g_DrawState.blendMode == 3 && !g_D3D.blendOperations;
}

// The graph of a handle that may be drawn: live and with a picture.
static GraphRecord *GetGraphWithImage(EngineHandle handle)
{
    GraphRecord *graph = GetGraphRecord(handle);
    return graph != NULL && graph->image != NULL ? graph : NULL;
}

static int RunGraphDraw(EngineHandle handle, const GraphDraw *draw)
{
    if (IsDrawingHeld()) {
        return 0;
    }
    GraphRecord *graph = GetGraphWithImage(handle);
    if (graph == NULL || !BlendGraphCovers(graph)) {
        return -1;
    }
    WaitWhileInactive();
    // The wait pumps messages and a movie writes into its graph: the record is read again after both.
    if (graph->movie != -1) {
        UpdateMovie(graph->movie, 0);
    }
    graph = GetGraphWithImage(handle);
    if (graph == NULL) {
        return -1;
    }
    const int onDevice = graph->image->format.deviceTexture, threePasses = NeedsThreePasses(onDevice);
    const int masked = g_DrawState.maskInUse;
    RECT touched = {0, 0, 0, 0};
    if (masked || threePasses) {
        touched = TouchedRect(draw, graph);
    }
    if (masked) {
        MaskDrawBegin(&touched);
    }
    if (threePasses) {
        BeginBlendModeThreePass(touched.left, touched.top, touched.right, touched.bottom);
    }
    int result = onDevice ? DrawGraphOnDevice(draw, graph) : DrawGraphInSoftware(draw, graph);
    if (threePasses) {
        EndBlendModeThreePass(touched.left, touched.top, touched.right, touched.bottom);
    }
    if (masked) {
        MaskDrawEnd(&touched);
    }
    return result;
}

static GraphDraw MakeStretchedDraw(float x1, float y1, float x2, float y2, int transparent, int wholePixels)
{
    GraphDraw draw = {};
    draw.kind = GRAPH_DRAW_STRETCHED;
    draw.x[0] = (int)x1, draw.y[0] = (int)y1, draw.x[1] = (int)x2, draw.y[1] = (int)y2;
    draw.fx[0] = x1, draw.fy[0] = y1, draw.fx[1] = x2, draw.fy[1] = y2;
    draw.transparent = transparent;
    draw.wholePixels = wholePixels;
    return draw;
}

int DrawGraphAt(int x, int y, EngineHandle graph, int transparent)
{
    if (!IsGraphicsInitialised()) {
        return -1;
    }
    GraphDraw draw = {};
    draw.kind = GRAPH_DRAW_AT;
    draw.x[0] = x, draw.y[0] = y, draw.fx[0] = (float)x, draw.fy[0] = (float)y;
    draw.transparent = transparent;
    draw.wholePixels = 1;
    return RunGraphDraw(graph, &draw);
}

int DrawGraphStretched(int x1, int y1, int x2, int y2, EngineHandle graph, int transparent)
{
    GraphDraw draw = MakeStretchedDraw((float)x1, (float)y1, (float)x2, (float)y2, transparent, 1);
    draw.x[0] = x1, draw.y[0] = y1, draw.x[1] = x2, draw.y[1] = y2; // exact beyond a float's integers
    return RunGraphDraw(graph, &draw);
}

int DrawGraphStretchedF(float x1, float y1, float x2, float y2, EngineHandle graph, int transparent)
{
    GraphDraw draw = MakeStretchedDraw(x1, y1, x2, y2, transparent, 0);
    return RunGraphDraw(graph, &draw);
}

int DrawGraphMirrored(int x, int y, EngineHandle graph, int transparent)
{
    const GraphRecord *record = GetGraphRecord(graph);
    if (record == NULL) {
        return -1;
    }
    return DrawGraphStretched(x + record->width, y, x, y + record->height, graph, transparent);
}

int DrawGraphRotated(int x, int y, double scale, double angle, EngineHandle graph, int transparent, int turn)
{
    return DrawGraphRotatedF((float)x, (float)y, scale, angle, graph, transparent, turn);
}

int DrawGraphRotatedF(float x, float y, double scale, double angle, EngineHandle graph, int transparent, int turn)
{
    GraphDraw draw = {};
    draw.kind = GRAPH_DRAW_ROTATED;
    draw.fx[0] = x, draw.fy[0] = y;
    draw.scale = scale, draw.angle = angle;
    draw.transparent = transparent, draw.turn = turn;
    return RunGraphDraw(graph, &draw);
}

// The caller's corners run top-left, top-right, bottom-right, bottom-left; the drawers take the last two the
// other way round.
int DrawGraphQuadF(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4, EngineHandle graph,
                   int transparent)
{
    GraphDraw draw = {};
    draw.kind = GRAPH_DRAW_QUAD;
    const float xs[4] = {x1, x2, x4, x3}, ys[4] = {y1, y2, y4, y3};
    for (int i = 0; i < 4; i++) {
        draw.fx[i] = xs[i], draw.fy[i] = ys[i];
    }
    draw.transparent = transparent;
    return RunGraphDraw(graph, &draw);
}

static void StoreDrawArea(const RECT *area)
{
    DrawState *state = &g_DrawState;
    state->drawArea = *area;
    state->drawAreaX1 = (float)area->left;
    state->drawAreaY1 = (float)area->top;
    state->drawAreaX2 = (float)area->right;
    state->drawAreaY2 = (float)area->bottom;
    SyncSoftwareDrawSettings();
}

// The whole graph drawn (or mirrored) so that the part lands at (x, y), with the draw area narrowed to the part
// for the duration.
int DrawGraphPart(int x, int y, int srcX, int srcY, int width, int height, EngineHandle graph, int transparent,
                  int turn)
{
    if (IsDrawingHeld()) {
        return 0;
    }
    const GraphRecord *record = GetGraphRecord(graph);
    if (record == NULL) {
        return -1;
    }
    const int graphWidth = record->width;
    const RECT saved = g_DrawState.drawArea;
    if (width <= 0 || height <= 0) {
        return 0;
    }
    // The far edges in 64 bits, cut to the area's (a part that starts past the area comes out reversed and empty).
    const LONGLONG right = (LONGLONG)x + width, bottom = (LONGLONG)y + height;
    RECT part = {x, y, (LONG)(right < saved.right ? right : saved.right),
                 (LONG)(bottom < saved.bottom ? bottom : saved.bottom)};
    ClipRect(&part, &saved);
    if (part.right <= part.left || part.bottom <= part.top) {
        return 0;
    }
    StoreDrawArea(&part);
    int result = turn ? DrawGraphMirrored(x - graphWidth + srcX + width, y - srcY, graph, transparent)
                      : DrawGraphAt(x - srcX, y - srcY, graph, transparent);
    StoreDrawArea(&saved);
    return result;
}

// The part as a graph of its own, sharing the graph's picture for the one draw.
int DrawGraphRectStretched(float x1, float y1, float x2, float y2, int srcX, int srcY, int width, int height,
                           EngineHandle graph, int transparent)
{
    if (IsDrawingHeld()) {
        return 0;
    }
    EngineHandle part = DeriveSubGraph(srcX, srcY, width, height, graph);
    if (part <= 0) {
        return part; // -1 for a bad handle or rectangle, 0 while the draw settings are being reset
    }
    int result = DrawGraphStretchedF(x1, y1, x2, y2, part, transparent);
    ReleaseGraphHandle(part, 0);
    return result;
}

// ---------------------------------------------------------------------------------------------------------------
// Shapes.

enum ShapeKind { SHAPE_BOX, SHAPE_OUTLINE, SHAPE_CIRCLE, SHAPE_TRIANGLE, SHAPE_POINT };

struct ShapeDraw {
    ShapeKind kind;
    int v[6]; // box: x1 y1 x2 y2; circle: x y radius; triangle: three corners; point: x y
    unsigned int color;
    int fill;
};

// In floats, so that a far position or a huge radius cannot overflow.
static RECT ShapeTouchedRect(const ShapeDraw *s)
{
    const int *v = s->v;
    if (s->kind == SHAPE_CIRCLE || s->kind == SHAPE_POINT) {
        const float r = s->kind == SHAPE_CIRCLE ? (float)v[2] : 0.0f;
        const float xs[2] = {(float)v[0] - r, (float)v[0] + r}, ys[2] = {(float)v[1] - r, (float)v[1] + r};
        return BoundsOfCorners(xs, ys, 2);
    }
    const float xs[3] = {(float)v[0], (float)v[2], (float)v[4]}, ys[3] = {(float)v[1], (float)v[3], (float)v[5]};
    return BoundsOfCorners(xs, ys, s->kind == SHAPE_TRIANGLE ? 3 : 2);
}

static int DrawShapeOnDevice(const ShapeDraw *s)
{
    const int *v = s->v;
    const int color = (int)s->color;
    switch (s->kind) {
    case SHAPE_BOX:
        return G_D3D_DrawBox(v[0], v[1], v[2], v[3], color);
    case SHAPE_OUTLINE:
        return G_D3D_DrawBoxOutline(v[0], v[1], v[2], v[3], color);
    case SHAPE_CIRCLE:
        return G_D3D_DrawCircle(v[0], v[1], v[2], color, s->fill);
    case SHAPE_TRIANGLE:
        return G_D3D_DrawTriangle(v[0], v[1], v[2], v[3], v[4], v[5], color, s->fill);
    default:
        return G_D3D_DrawPixel(v[0], v[1], color);
    }
}

static int DrawShapeInSoftware(const ShapeDraw *s)
{
    const int *v = s->v;
    MEMIMG *target = g_DrawState.softwareTarget;
    switch (s->kind) {
    case SHAPE_BOX:
        return SoftFillBox(v[0], v[1], v[2], v[3], s->color);
    case SHAPE_OUTLINE:
        return SoftDrawBoxOutline(v[0], v[1], v[2], v[3], s->color);
    case SHAPE_CIRCLE:
        MemImgDrawCircle(target, v[0], v[1], v[2], s->color, s->fill);
        return 0;
    case SHAPE_TRIANGLE:
        return SoftDrawTriangle(v[0], v[1], v[2], v[3], v[4], v[5], s->color, s->fill);
    default:
        MemImgDrawPixel(target, v[0], v[1], s->color);
        return 0;
    }
}

static int RunShapeDraw(const ShapeDraw *shape)
{
    if (IsDrawingHeld() || (shape->kind == SHAPE_CIRCLE && shape->v[2] < 0)) {
        return 0;
    }
    WaitWhileInactive();
    const int onDevice = IsDeviceMode(), threePasses = NeedsThreePasses(onDevice), masked = g_DrawState.maskInUse;
    RECT touched = {0, 0, 0, 0};
    if (masked || threePasses) {
        touched = ShapeTouchedRect(shape);
    }
    if (masked) {
        MaskDrawBegin(&touched);
    }
    if (threePasses) {
        BeginBlendModeThreePass(touched.left, touched.top, touched.right, touched.bottom);
    }
    int result = onDevice ? DrawShapeOnDevice(shape) : DrawShapeInSoftware(shape);
    if (threePasses) {
        EndBlendModeThreePass(touched.left, touched.top, touched.right, touched.bottom);
    }
    if (masked) {
        MaskDrawEnd(&touched);
    }
    return result;
}

int DrawFilledBox(int x1, int y1, int x2, int y2, unsigned int color)
{
    ShapeDraw shape = {SHAPE_BOX, {x1, y1, x2, y2}, color, 1};
    return RunShapeDraw(&shape);
}

int DrawBoxOutline(int x1, int y1, int x2, int y2, unsigned int color)
{
    ShapeDraw shape = {SHAPE_OUTLINE, {x1, y1, x2, y2}, color, 0};
    return RunShapeDraw(&shape);
}

int DrawBoxShape(int x1, int y1, int x2, int y2, unsigned int color, int fill)
{
    return fill ? DrawFilledBox(x1, y1, x2, y2, color) : DrawBoxOutline(x1, y1, x2, y2, color);
}

int DrawCircleShape(int x, int y, int radius, unsigned int color, int fill)
{
    ShapeDraw shape = {SHAPE_CIRCLE, {x, y, radius}, color, fill};
    return RunShapeDraw(&shape);
}

int DrawTriangleShape(int x1, int y1, int x2, int y2, int x3, int y3, unsigned int color, int fill)
{
    ShapeDraw shape = {SHAPE_TRIANGLE, {x1, y1, x2, y2, x3, y3}, color, fill};
    return RunShapeDraw(&shape);
}

int DrawPoint(int x, int y, unsigned int color)
{
    ShapeDraw shape = {SHAPE_POINT, {x, y}, color, 0};
    return RunShapeDraw(&shape);
}

// ---------------------------------------------------------------------------------------------------------------
// Clearing a screen or a graph.

static int IsScreenValue(int target)
{
    return target <= -2 && target >= -5;
}

static int ClearSoftwareTarget(int target, const RECT *rect)
{
    const GraphRecord *graph = GetGraphWithImage(target);
    MEMIMG *image = graph != NULL ? const_cast<MEMIMG *>(&graph->view) : GetSoftwareScreen();
    if (image == NULL || !IsValidMemImg(image)) {
        return -1;
    }
    int red, green, blue;
    GetBackgroundColor(&red, &green, &blue);
    return FillMemImgRect(image, rect, MakeColorForFormat(image->block->format, red, green, blue));
}

// The surface a target is cleared on, with the target's rectangle inside it and the surface's size for the
// viewport: a graph's render surface (a derived graph covers part of it), else the screen's surface.
static IDirect3DSurface9 *GetClearSurface(int target, RECT *bounds, int *width, int *height)
{
    const GraphRecord *graph = GetGraphWithImage(target);
    if (graph == NULL) {
        GetScreenSize(width, height);
        SetRect(bounds, 0, 0, *width, *height);
        return GetScreenSurface();
    }
    const SharedGraphImage *image = graph->image;
    if (!image->format.deviceTexture || !image->format.renderTarget || image->pieceCount < 1) {
        return NULL;
    }
    *width = image->width;
    *height = image->height;
    SetRect(bounds, graph->x, graph->y, graph->x + graph->width, graph->y + graph->height);
    return GetGraphRenderSurface(graph);
}

// Clears on the surface itself, with the viewport over all of it; the render target and viewport of the current
// draw target are put back afterwards.
static int ClearDeviceTarget(int target, const RECT *rect)
{
    IDirect3DDevice9 *device = g_StateCache.device;
    RECT bounds, area;
    int width, height;
    IDirect3DSurface9 *surface = GetClearSurface(target, &bounds, &width, &height);
    if (device == NULL || IsGraphicsDeviceLost() || surface == NULL) {
        return -1;
    }
    area = bounds;
    if (rect != NULL) {
        SetRect(&area, bounds.left + rect->left, bounds.top + rect->top, bounds.left + rect->right,
                bounds.top + rect->bottom);
        ClipRect(&area, &bounds);
    }
    FlushVertexBatch();
    EndSceneIfNeeded();
    IDirect3DSurface9 *previousTarget = g_StateCache.renderTarget;
    const D3DVIEWPORT9 previousViewport = g_StateCache.viewport;
    SetDeviceRenderTarget(surface);
    const D3DVIEWPORT9 whole = {0, 0, (DWORD)width, (DWORD)height, 0.0f, 1.0f};
    SetDeviceViewport(&whole);
    int red, green, blue;
    GetBackgroundColor(&red, &green, &blue);
    const D3DRECT cleared = {area.left, area.top, area.right, area.bottom};
    if (area.right > area.left && area.bottom > area.top) {
        device->Clear(1, &cleared, D3DCLEAR_TARGET, (D3DCOLOR)(red * 65536 + green * 256 + blue), 1.0f, 0);
        if (g_D3D.zBuffer != NULL) {
            device->Clear(1, &cleared, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        }
    }
    if (previousTarget != NULL) {
        SetDeviceRenderTarget(previousTarget);
    }
    SetDeviceViewport(&previousViewport);
    return 0;
}

// A rectangle with a negative left or top edge stands for the whole target; a reversed one is refused.
int ClearDrawScreen(int target, const RECT *rect)
{
    if (!IsGraphicsInitialised() || (!IsScreenValue(target) && GetGraphWithImage(target) == NULL)) {
        return -1;
    }
    if (rect != NULL && (rect->left < 0 || rect->top < 0)) {
        rect = NULL;
    }
    if (rect != NULL && (rect->right < rect->left || rect->bottom < rect->top)) {
        return -1;
    }
    if (g_DrawState.maskInUse) {
        CloseMaskPass();
    }
    return IsDeviceMode() ? ClearDeviceTarget(target, rect) : ClearSoftwareTarget(target, rect);
}
