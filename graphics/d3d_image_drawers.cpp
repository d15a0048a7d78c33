// Device image drawers: a graph's ready-made piece quads placed, clipped, stretched, rotated or mapped onto a
// quadrilateral and appended to the textured vertex batch (two coordinate sets while a blend graph is selected).
// Texel centres land on pixel centres; the vertex colour goes into the first vertex of each triangle, which flat
// shading uses for the whole triangle. Window thread only.
#include "graphics/graphics_internal.h"

#include <math.h>

// One corner of a piece quad: screen position, texture coordinates, and the position inside the graph before any
// rotation (what the blend graph is looked up by).
struct QuadCorner {
    float x, y, u, v, graphX, graphY;
};

// Scene open and the draw states of a textured draw applied; -1 when there is nothing to draw on or with.
static int BeginImageDraw(const GraphRecord *graph, int flags)
{
    if (g_StateCache.device == NULL || IsGraphicsDeviceLost() || graph == NULL || graph->image == NULL ||
        !graph->image->format.deviceTexture || graph->pieceDrawCount < 1) {
        return -1;
    }
    BeginSceneIfNeeded();
    DrawImageInfo info = {graph->image->format.alpha, graph->image->format.oneBitAlpha};
    ApplyDrawStates(&info, graph->pieceDraws[0].piece->texture, flags);
    return 0;
}

// The piece's texture bound (the batch drawn first when it changes) and any pending stage change applied.
static void BindPieceTexture(const GraphPieceDraw *piece)
{
    SetDeviceTexture(piece->piece->texture);
    if (g_StateCache.blendDirty || g_StateCache.textureDirty) {
        ApplyBlendStageStates(0, NULL, 0);
    }
}

static int BlendGraphSelected(void)
{
    return g_StateCache.blendGraphTexture != NULL;
}

static void PutTexturedVertex(TexturedVertex2D *vertex, const QuadCorner *corner, float z)
{
    vertex->x = corner->x;
    vertex->y = corner->y;
    vertex->z = z;
    vertex->u = corner->u;
    vertex->v = corner->v;
}

static void PutBlendVertex(BlendVertex2D *vertex, const QuadCorner *corner, float z)
{
    vertex->x = corner->x;
    vertex->y = corner->y;
    vertex->z = z;
    vertex->u0 = corner->graphX * g_DrawState.blendGraphInverseWidth;
    vertex->v0 = corner->graphY * g_DrawState.blendGraphInverseHeight;
    vertex->u1 = corner->u;
    vertex->v1 = corner->v;
}

// Two triangles sharing the top-right to bottom-left diagonal, corners given top-left, top-right, bottom-left,
// bottom-right.
static void AppendQuad(const QuadCorner corners[4])
{
    static const int order[6] = {0, 1, 2, 3, 2, 1};
    float z = g_DrawState.screenZ;
    D3DCOLOR color = g_DrawState.drawColorWord;
    if (BlendGraphSelected()) {
        BlendVertex2D *vertex = (BlendVertex2D *)ReserveBatchVertices(0, VERTEX_BLEND, D3DPT_TRIANGLELIST, 6);
        for (int i = 0; i < 6; i++) {
            PutBlendVertex(vertex + i, &corners[order[i]], z);
        }
        vertex[0].diffuse = color;
        vertex[3].diffuse = color;
    } else {
        TexturedVertex2D *vertex = (TexturedVertex2D *)ReserveBatchVertices(0, VERTEX_TEXTURED, D3DPT_TRIANGLELIST, 6);
        for (int i = 0; i < 6; i++) {
            PutTexturedVertex(vertex + i, &corners[order[i]], z);
        }
        vertex[0].diffuse = color;
        vertex[3].diffuse = color;
    }
    CommitBatchVertices(6);
}

// The piece's corners scaled by (scaleX, scaleY) and moved to (originX, originY).
static void PlacePiece(QuadCorner corners[4], const GraphPieceDraw *piece, float originX, float originY, float scaleX,
                       float scaleY)
{
    for (int i = 0; i < 4; i++) {
        const GraphPieceVertex *source = &piece->vertices[i];
        corners[i] = {
            originX + source->x * scaleX, originY + source->y * scaleY, source->u, source->v, source->x, source->y};
    }
}

// How far a coordinate must move to lie in [low, high].
static float ClampDistance(float position, float low, float high)
{
    return position < low ? low - position : position > high ? high - position : 0.0f;
}

// Each corner clamped into the rectangle, its texture coordinates and graph position moved with it; a piece wholly
// outside collapses to a zero-area quad. `scaleX` and `scaleY` are screen pixels per graph pixel (negative when
// mirrored).
static void ClampCorners(QuadCorner corners[4], const TexturePiece *piece, float left, float top, float right,
                         float bottom, float scaleX, float scaleY)
{
    for (int i = 0; i < 4; i++) {
        QuadCorner *c = &corners[i];
        float movedX = ClampDistance(c->x, left, right) / scaleX;
        float movedY = ClampDistance(c->y, top, bottom) / scaleY;
        c->x += movedX * scaleX;
        c->y += movedY * scaleY;
        c->u += movedX / piece->textureWidth;
        c->v += movedY / piece->textureHeight;
        c->graphX += movedX;
        c->graphY += movedY;
    }
}

// Every piece scaled and moved to the origin, clamped into `clip` (left, top, right, bottom) unless it is null.
static void AppendPlacedPieces(const GraphRecord *graph, float originX, float originY, float scaleX, float scaleY,
                               const float *clip)
{
    for (int i = 0; i < graph->pieceDrawCount; i++) {
        const GraphPieceDraw *piece = &graph->pieceDraws[i];
        QuadCorner corners[4];
        PlacePiece(corners, piece, originX, originY, scaleX, scaleY);
        if (clip != NULL) {
            ClampCorners(corners, piece->piece, clip[0], clip[1], clip[2], clip[3], scaleX, scaleY);
        }
        BindPieceTexture(piece);
        AppendQuad(corners);
    }
}

static int IsInsideDrawArea(int x1, int y1, int x2, int y2)
{
    const RECT *area = &g_DrawState.drawArea;
    return x1 >= area->left && y1 >= area->top && x2 <= area->right && y2 <= area->bottom;
}

int G_D3D_DrawImage(int x, int y, float fx, float fy, const GraphRecord *graph, int transparent, int wholePixels)
{
    int flags = (transparent ? APPLY_USE_TRANSPARENCY : 0) | (wholePixels ? APPLY_WHOLE_PIXELS : 0);
    if (BeginImageDraw(graph, flags) != 0) {
        return -1;
    }
    const float clip[4] = {g_DrawState.drawAreaX1, g_DrawState.drawAreaY1, g_DrawState.drawAreaX2,
                           g_DrawState.drawAreaY2};
    int inside = IsInsideDrawArea(x, y, x + graph->width, y + graph->height);
    AppendPlacedPieces(graph, fx - 0.5f, fy - 0.5f, 1.0f, 1.0f, inside ? NULL : clip);
    return 0;
}

int G_D3D_DrawImageStretched(int x1, int y1, int x2, int y2, float fx1, float fy1, float fx2, float fy2,
                             const GraphRecord *graph, int transparent, int filter)
{
    if (x1 == x2 || y1 == y2) {
        return -1;
    }
    int wholePixels = filter && g_DrawState.filterMode != 1;
    int flags = (transparent ? APPLY_USE_TRANSPARENCY : 0) | (wholePixels ? APPLY_WHOLE_PIXELS : 0);
    if (BeginImageDraw(graph, flags) != 0) {
        return -1;
    }
    // The area's edges shifted by half a pixel like the origin.
    const float clip[4] = {g_DrawState.drawAreaX1 - 0.5f, g_DrawState.drawAreaY1 - 0.5f, g_DrawState.drawAreaX2 - 0.5f,
                           g_DrawState.drawAreaY2 - 0.5f};
    int inside = IsInsideDrawArea(x1 < x2 ? x1 : x2, y1 < y2 ? y1 : y2, x1 < x2 ? x2 : x1, y1 < y2 ? y2 : y1);
    AppendPlacedPieces(graph, fx1 - 0.5f, fy1 - 0.5f, (fx2 - fx1) / graph->width, (fy2 - fy1) / graph->height,
                       inside ? NULL : clip);
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Rotation

// Where the graph's centre goes and how far its edges reach, chosen so that unrotated draws at whole positions put
// texel centres on pixel centres; and which axes may be snapped off whole-pixel vertex positions.
struct RotationFrame {
    double halfWidth, halfHeight, centerX, centerY;
    int snapX, snapY;
};

static int NearRightAngle(double angle)
{
    const double tolerance = 0.0698, quarter = 1.5707963267948966;
    if (angle < -tolerance || angle > 4 * quarter + tolerance) {
        return 1;
    }
    for (int k = 0; k <= 4; k++) {
        if (angle >= k * quarter - tolerance && angle <= k * quarter + tolerance) {
            return 1;
        }
    }
    return 0;
}

static RotationFrame MakeRotationFrame(float x, float y, double scale, double angle, int width, int height)
{
    RotationFrame frame = {width / 2.0, height / 2.0, x, y, 0, 0};
    int fractional = fabs(x - truncf(x)) >= 0.00001f || fabs(y - truncf(y)) >= 0.00001f;
    int evenWidth = (width & 1) == 0, evenHeight = (height & 1) == 0;
    if (fractional) {
        frame.snapX = frame.snapY = 1;
        return frame;
    }
    if (scale != 1.0 || (evenWidth && evenHeight)) {
        frame.centerX = x - 0.5;
        frame.centerY = y - 0.5;
    } else if (evenWidth != evenHeight) {
        frame.halfWidth -= evenWidth ? 0.5 : 0.0;
        frame.halfHeight -= evenHeight ? 0.5 : 0.0;
    }
    int snapAngle = angle != 0.0 && NearRightAngle(angle);
    frame.snapX = snapAngle && !evenWidth;
    frame.snapY = snapAngle && !evenHeight;
    return frame;
}

static int IsWholeCoordinate(float value)
{
    float fraction = value - floorf(value);
    return fraction < 0.001f || fraction > 0.999f;
}

// An axis-aligned edge on whole coordinates would leave the pixels along it to rounding: move it half a pixel.
static void SnapRotatedCorners(QuadCorner corners[4], const RotationFrame *frame)
{
    int snapX = frame->snapX && IsWholeCoordinate(corners[0].x) &&
                (fabsf(corners[0].x - corners[2].x) < 0.01f || fabsf(corners[0].x - corners[1].x) < 0.01f);
    int snapY = frame->snapY && IsWholeCoordinate(corners[0].y) &&
                (fabsf(corners[0].y - corners[1].y) < 0.01f || fabsf(corners[0].y - corners[2].y) < 0.01f);
    for (int i = 0; i < 4; i++) {
        corners[i].x -= snapX ? 0.5f : 0.0f;
        corners[i].y -= snapY ? 0.5f : 0.0f;
    }
}

int G_D3D_DrawImageRotated(float x, float y, double scale, double angle, const GraphRecord *graph, int transparent,
                           int turn)
{
    if (scale == 0.0 || BeginImageDraw(graph, transparent ? APPLY_USE_TRANSPARENCY : 0) != 0) {
        return -1;
    }
    double sine = angle != 0.0 ? sin(angle) : 0.0, cosine = angle != 0.0 ? cos(angle) : 1.0;
    RotationFrame frame = MakeRotationFrame(x, y, scale, angle, graph->width, graph->height);
    double scaleX = turn == 1 ? -scale : scale;
    for (int i = 0; i < graph->pieceDrawCount; i++) {
        const GraphPieceDraw *piece = &graph->pieceDraws[i];
        QuadCorner corners[4];
        for (int c = 0; c < 4; c++) {
            const GraphPieceVertex *source = &piece->vertices[c];
            double ex = scaleX * (source->x - frame.halfWidth), ey = scale * (source->y - frame.halfHeight);
            corners[c] = {(float)(cosine * ex - sine * ey + frame.centerX),
                          (float)(sine * ex + cosine * ey + frame.centerY),
                          source->u,
                          source->v,
                          source->x,
                          source->y};
        }
        SnapRotatedCorners(corners, &frame);
        BindPieceTexture(piece);
        AppendQuad(corners);
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Quadrilaterals

// Integer quads under a blend graph: each piece drawn at once as a strip, its corners placed by one of two affine
// maps of the graph onto the quad (the top-left triangle's or the bottom-right one's), so that the blend graph
// follows the picture over both halves.
static void MapStripCorner(QuadCorner *corner, const GraphPieceVertex *source, int aboveDiagonal, const int *q,
                           int width, int height)
{
    double u = source->x, v = source->y, x, y;
    if (aboveDiagonal) {
        x = q[0] + u * (q[2] - q[0]) / width + v * (q[4] - q[0]) / height;
        y = q[1] + u * (q[3] - q[1]) / width + v * (q[5] - q[1]) / height;
    } else {
        x = q[6] - (width - u) * (q[6] - q[4]) / width - (height - v) * (q[6] - q[2]) / height;
        y = q[7] - (width - u) * (q[7] - q[5]) / width - (height - v) * (q[7] - q[3]) / height;
    }
    *corner = {(float)(x - 0.5), (float)(y - 0.5), source->u, source->v, source->x, source->y};
}

static float Cross(const QuadCorner *origin, const QuadCorner *a, const QuadCorner *b)
{
    return (a->x - origin->x) * (b->y - origin->y) - (a->y - origin->y) * (b->x - origin->x);
}

static void DrawStrip(const QuadCorner corners[4])
{
    D3DCOLOR color = g_DrawState.drawColorWord;
    float z = g_DrawState.screenZ;
    if (BlendGraphSelected()) {
        BlendVertex2D vertices[4];
        for (int i = 0; i < 4; i++) {
            PutBlendVertex(&vertices[i], &corners[i], z);
            vertices[i].rhw = 1.0f;
            vertices[i].diffuse = color;
            vertices[i].specular = 0xFFFFFFFF;
        }
        SetDeviceFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX2);
        g_StateCache.device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, vertices, sizeof(BlendVertex2D));
        return;
    }
    TexturedVertex2D vertices[4];
    for (int i = 0; i < 4; i++) {
        PutTexturedVertex(&vertices[i], &corners[i], z);
        vertices[i].rhw = 1.0f;
        vertices[i].diffuse = color;
    }
    SetDeviceFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    g_StateCache.device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, vertices, sizeof(TexturedVertex2D));
}

static int DrawQuadStrips(const int *q, const GraphRecord *graph, int transparent)
{
    FlushVertexBatch();
    int flags = (transparent ? APPLY_USE_TRANSPARENCY : 0) | APPLY_WHOLE_PIXELS;
    if (BeginImageDraw(graph, flags) != 0) {
        return -1;
    }
    for (int i = 0; i < graph->pieceDrawCount; i++) {
        const GraphPieceDraw *piece = &graph->pieceDraws[i];
        QuadCorner corners[4];
        for (int c = 0; c < 4; c++) {
            MapStripCorner(&corners[c], &piece->vertices[c], piece->aboveDiagonal[c], q, graph->width, graph->height);
        }
        float c1 = Cross(&corners[0], &corners[1], &corners[2]), c2 = Cross(&corners[3], &corners[2], &corners[1]);
        if (c1 < 0.0f || (c1 == 0.0f && c2 <= 0.0f)) {
            QuadCorner swap = corners[1];
            corners[1] = corners[2];
            corners[2] = swap;
        }
        BindPieceTexture(piece);
        if (!g_VertexBatch.suppress) {
            DrawStrip(corners);
        }
    }
    return 0;
}

int G_D3D_DrawImageQuad(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4, const GraphRecord *graph,
                        int transparent)
{
    if (x1 == x3 && x2 == x4 && y1 == y2 && y3 == y4) {
        return G_D3D_DrawImageStretched(x1, y1, x4, y4, (float)x1, (float)y1, (float)x4, (float)y4, graph, transparent,
                                        1);
    }
    if (BlendGraphSelected()) {
        const int q[8] = {x1, y1, x2, y2, x3, y3, x4, y4};
        return DrawQuadStrips(q, graph, transparent);
    }
    // Whole-pixel corners moved like every other image draw's, so that the quad lands where its strip form would.
    return G_D3D_DrawImageQuadF(x1 - 0.5f, y1 - 0.5f, x2 - 0.5f, y2 - 0.5f, x3 - 0.5f, y3 - 0.5f, x4 - 0.5f, y4 - 0.5f,
                                graph, transparent);
}

struct Point2 {
    float x, y;
};

static Point2 Lerp(Point2 a, Point2 b, float t)
{
    return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t};
}

int G_D3D_DrawImageQuadF(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4,
                         const GraphRecord *graph, int transparent)
{
    if (BlendGraphSelected()) {
        const int q[8] = {(int)x1, (int)y1, (int)x2, (int)y2, (int)x3, (int)y3, (int)x4, (int)y4};
        return G_D3D_DrawImageQuad(q[0], q[1], q[2], q[3], q[4], q[5], q[6], q[7], graph, transparent);
    }
    if (BeginImageDraw(graph, transparent ? APPLY_USE_TRANSPARENCY : 0) != 0) {
        return -1;
    }
    if (graph->pieceDrawCount == 1) {
        return G_D3D_DrawImageQuadPiece(x1, y1, x2, y2, x3, y3, x4, y4, &graph->pieceDraws[0]);
    }
    const Point2 quad[4] = {{x1, y1}, {x2, y2}, {x3, y3}, {x4, y4}};
    for (int i = 0; i < graph->pieceDrawCount; i++) {
        const GraphPieceDraw *piece = &graph->pieceDraws[i];
        Point2 p[4];
        for (int c = 0; c < 4; c++) {
            float down = piece->vertices[c].y / graph->height, across = piece->vertices[c].x / graph->width;
            p[c] = Lerp(Lerp(quad[0], quad[2], down), Lerp(quad[1], quad[3], down), across);
        }
        G_D3D_DrawImageQuadPiece(p[0].x, p[0].y, p[1].x, p[1].y, p[2].x, p[2].y, p[3].x, p[3].y, piece);
    }
    return 0;
}

#define GRID_SIDE 8

// Texture coordinates of a grid side, pulled a thousandth of a pixel inward where they meet another piece, so that
// a neighbour's texels do not bleed in.
static void PullInward(float *start, float *end, float positionSpan)
{
    if (positionSpan <= 0.0f) {
        return;
    }
    float pull = 0.001f * (*end - *start) / positionSpan;
    *start += *start > 0.000001f ? pull : 0.0f;
    *end -= *end <= 0.99999f ? pull : 0.0f;
}

// A quad that is not a parallelogram: an 8x8 grid between its left and right edges keeps the picture's
// proportions along both sides instead of folding it along one diagonal.
static int DrawPieceGrid(const Point2 quad[4], const GraphPieceDraw *piece)
{
    float u0 = piece->vertices[0].u, u1 = piece->vertices[1].u;
    float v0 = piece->vertices[0].v, v1 = piece->vertices[2].v;
    PullInward(&u0, &u1, hypotf(quad[1].x - quad[0].x, quad[1].y - quad[0].y));
    PullInward(&v0, &v1, hypotf(quad[2].x - quad[0].x, quad[2].y - quad[0].y));
    TexturedVertex2D grid[GRID_SIDE * GRID_SIDE];
    for (int r = 0; r < GRID_SIDE; r++) {
        float down = (float)r / (GRID_SIDE - 1);
        Point2 left = Lerp(quad[0], quad[2], down), right = Lerp(quad[1], quad[3], down);
        for (int c = 0; c < GRID_SIDE; c++) {
            float across = (float)c / (GRID_SIDE - 1);
            Point2 at = Lerp(left, right, across);
            grid[r * GRID_SIDE + c] = {at.x,
                                       at.y,
                                       g_DrawState.screenZ,
                                       1.0f,
                                       g_DrawState.drawColorWord,
                                       u0 + (u1 - u0) * across,
                                       v0 + (v1 - v0) * down};
        }
    }
    return DrawGridMesh(GRID_SIDE, grid, GRID_SIDE) < 0 ? -1 : 0;
}

static int SameEdge(Point2 a1, Point2 a2, Point2 b1, Point2 b2)
{
    return fabsf((a2.x - a1.x) - (b2.x - b1.x)) <= 1.0f && fabsf((a2.y - a1.y) - (b2.y - b1.y)) <= 1.0f;
}

int G_D3D_DrawImageQuadPiece(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4,
                             const GraphPieceDraw *piece)
{
    if (g_StateCache.device == NULL || IsGraphicsDeviceLost() || piece == NULL) {
        return -1;
    }
    const Point2 quad[4] = {{x1, y1}, {x2, y2}, {x3, y3}, {x4, y4}};
    BindPieceTexture(piece);
    if (!SameEdge(quad[0], quad[1], quad[2], quad[3]) || !SameEdge(quad[0], quad[2], quad[1], quad[3])) {
        return DrawPieceGrid(quad, piece);
    }
    QuadCorner corners[4];
    for (int c = 0; c < 4; c++) {
        const GraphPieceVertex *source = &piece->vertices[c];
        corners[c] = {quad[c].x, quad[c].y, source->u, source->v, source->x, source->y};
    }
    AppendQuad(corners);
    return 0;
}
