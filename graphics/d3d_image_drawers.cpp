// Device image drawers: a graph's ready-made piece quads placed, clipped, stretched, rotated or mapped onto a
// quadrilateral and appended to the textured vertex batch (two coordinate sets while a blend graph is selected).
// Texel centres land on pixel centres; the vertex colour goes into the first vertex of each triangle, which flat
// shading uses for the whole triangle. Window thread only.
#include "graphics/graphics_internal.h"

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
        TexturedVertex2D *vertex =
            (TexturedVertex2D *)ReserveBatchVertices(0, VERTEX_TEXTURED, D3DPT_TRIANGLELIST, 6);
        for (int i = 0; i < 6; i++) {
            PutTexturedVertex(vertex + i, &corners[order[i]], z);
        }
        vertex[0].diffuse = color;
        vertex[3].diffuse = color;
    }
    CommitBatchVertices(6);
}

// The piece's corners scaled by (scaleX, scaleY) and moved to (originX, originY).
static void PlacePiece(QuadCorner corners[4], const GraphPieceDraw *piece, float originX, float originY,
                       float scaleX, float scaleY)
{
    for (int i = 0; i < 4; i++) {
        const GraphPieceVertex *source = &piece->vertices[i];
        corners[i] = {originX + source->x * scaleX, originY + source->y * scaleY, source->u, source->v, source->x,
                      source->y};
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

int G_D3D_DrawImage(int x, int y, float fx, float fy, const GraphRecord *graph, int transparent, int wholePixels)
{
    int flags = (transparent ? APPLY_USE_TRANSPARENCY : 0) | (wholePixels ? APPLY_WHOLE_PIXELS : 0);
    if (BeginImageDraw(graph, flags) != 0) {
        return -1;
    }
    fx -= 0.5f;
    fy -= 0.5f;
    const RECT *area = &g_DrawState.drawArea;
    int inside = x >= area->left && y >= area->top && x + graph->width <= area->right &&
                 y + graph->height <= area->bottom;
    for (int i = 0; i < graph->pieceDrawCount; i++) {
        const GraphPieceDraw *piece = &graph->pieceDraws[i];
        QuadCorner corners[4];
        PlacePiece(corners, piece, fx, fy, 1.0f, 1.0f);
        if (!inside) {
            ClampCorners(corners, piece->piece, g_DrawState.drawAreaX1, g_DrawState.drawAreaY1,
                         g_DrawState.drawAreaX2, g_DrawState.drawAreaY2, 1.0f, 1.0f);
        }
        BindPieceTexture(piece);
        AppendQuad(corners);
    }
    return 0;
}

int G_D3D_DrawImageStretched(int, int, int, int, float, float, float, float, const GraphRecord *, int, int)
{
    return -1;
}

int G_D3D_DrawImageRotated(float, float, double, double, const GraphRecord *, int, int)
{
    return -1;
}

int G_D3D_DrawImageQuad(int, int, int, int, int, int, int, int, const GraphRecord *, int)
{
    return -1;
}

int G_D3D_DrawImageQuadF(float, float, float, float, float, float, float, float, const GraphRecord *, int)
{
    return -1;
}

int G_D3D_DrawImageQuadPiece(float, float, float, float, float, float, float, float, const GraphPieceDraw *)
{
    return -1;
}
