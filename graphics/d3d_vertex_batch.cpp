// Vertex batch: every device drawer writes its vertices straight into one of four static buffers, and the batch
// goes to the device in one DrawPrimitiveUP when the vertex sort changes, the buffer is full or a state changes.
// Also the indexed grid mesh, drawn outside the batch. No allocation. Window thread only.
#include "graphics/graphics_internal.h"

#include <string.h>

VertexBatch g_VertexBatch;

alignas(16) static unsigned char s_PlainBuffer[64500];
alignas(16) static unsigned char s_TexturedBuffer[65536];
alignas(16) static unsigned char s_BlendBuffer[65536];
alignas(16) static unsigned char s_Buffer3D[65536]; // shared by both 3D vertex kinds

struct VertexFormat {
    unsigned char *buffer;
    DWORD fvf;
    int stride;
    int capacity;
};

// Indexed by kind + 3 x dimension; there are no 3D vertices with two coordinate sets.
static const VertexFormat s_Formats[5] = {
    {s_PlainBuffer, D3DFVF_XYZRHW | D3DFVF_DIFFUSE, sizeof(Vertex2D), sizeof s_PlainBuffer / sizeof(Vertex2D)},
    {s_TexturedBuffer, D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1, sizeof(TexturedVertex2D),
     sizeof s_TexturedBuffer / sizeof(TexturedVertex2D)},
    {s_BlendBuffer, D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX2, sizeof(BlendVertex2D),
     sizeof s_BlendBuffer / sizeof(BlendVertex2D)},
    {s_Buffer3D, D3DFVF_XYZ | D3DFVF_DIFFUSE, sizeof(Vertex3D), sizeof s_Buffer3D / sizeof(Vertex3D)},
    {s_Buffer3D, D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1, sizeof(TexturedVertex3D),
     sizeof s_Buffer3D / sizeof(TexturedVertex3D)},
};

static const VertexFormat *FindFormat(int dimension, int kind)
{
    int index = kind + 3 * dimension;
    if (dimension < 0 || dimension > 1 || kind < 0 || kind > 2 || index >= 5) {
        return NULL;
    }
    return &s_Formats[index];
}

static int PrimitiveCount(int primitive, int vertices)
{
    switch (primitive) {
    case D3DPT_POINTLIST:
        return vertices;
    case D3DPT_LINELIST:
        return vertices / 2;
    case D3DPT_LINESTRIP:
        return vertices - 1;
    case D3DPT_TRIANGLELIST:
        return vertices / 3;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN:
        return vertices - 2;
    default:
        return 0;
    }
}

static void SendBatch(const VertexFormat *format)
{
    int primitives = PrimitiveCount(g_VertexBatch.primitive, g_VertexBatch.count);
    if (g_VertexBatch.suppress || primitives <= 0) {
        return;
    }
    IDirect3DDevice9 *device = g_StateCache.device;
    if (g_StateCache.fvf != format->fvf) {
        device->SetFVF(format->fvf);
        g_StateCache.fvf = format->fvf;
    }
    // 3D batch vertices are already in world space; the draw settings' world matrix goes back afterwards.
    if (g_VertexBatch.dimension == 1) {
        Matrix4 identity;
        MakeIdentityMatrix(&identity);
        SetDeviceWorldMatrix(&identity);
    }
    device->DrawPrimitiveUP((D3DPRIMITIVETYPE)g_VertexBatch.primitive, primitives, format->buffer, format->stride);
    if (g_VertexBatch.dimension == 1) {
        SetDeviceWorldMatrix(&g_DrawState.world);
    }
}

int FlushVertexBatch(void)
{
    if (g_StateCache.device == NULL) {
        return -1;
    }
    const VertexFormat *format = FindFormat(g_VertexBatch.dimension, g_VertexBatch.kind);
    if (format == NULL) {
        format = &s_Formats[0];
    }
    if (g_VertexBatch.count > 0 && !IsWindowClosed()) {
        BeginSceneIfNeeded();
        SendBatch(format);
    }
    g_VertexBatch.count = 0;
    g_VertexBatch.write = format->buffer;
    return 0;
}

int PrefillVertexBatchBuffers(void)
{
    for (int kind = 0; kind < 3; kind++) {
        const VertexFormat *format = &s_Formats[kind];
        for (int i = 0; i < format->capacity; i++) {
            float *position = (float *)(format->buffer + i * format->stride);
            position[2] = 0.0f; // z
            position[3] = 1.0f; // rhw
        }
    }
    BlendVertex2D *blend = (BlendVertex2D *)s_BlendBuffer;
    for (int i = 0; i < s_Formats[VERTEX_BLEND].capacity; i++) {
        blend[i].specular = 0xFFFFFFFF;
    }
    return 0;
}

int GetBatchCapacity(int dimension, int kind)
{
    const VertexFormat *format = FindFormat(dimension, kind);
    return format != NULL ? format->capacity : 0;
}

void *ReserveBatchVertices(int dimension, int kind, int primitive, int vertices)
{
    const VertexFormat *format = FindFormat(dimension, kind);
    if (format == NULL || vertices < 0 || vertices >= format->capacity) {
        return NULL;
    }
    int sameSort =
        g_VertexBatch.dimension == dimension && g_VertexBatch.kind == kind && g_VertexBatch.primitive == primitive;
    if (!sameSort || g_VertexBatch.count + vertices >= format->capacity || g_VertexBatch.write == NULL) {
        FlushVertexBatch();
        g_VertexBatch.dimension = dimension;
        g_VertexBatch.kind = kind;
        g_VertexBatch.primitive = primitive;
        g_VertexBatch.count = 0;
        g_VertexBatch.write = format->buffer;
    }
    return g_VertexBatch.write;
}

void CommitBatchVertices(int vertices)
{
    const VertexFormat *format = FindFormat(g_VertexBatch.dimension, g_VertexBatch.kind);
    if (format == NULL || vertices <= 0 || g_VertexBatch.count + vertices > format->capacity) {
        return;
    }
    g_VertexBatch.write += vertices * format->stride;
    g_VertexBatch.count += vertices;
}

// ---------------------------------------------------------------------------------------------------------------
// Grid mesh: rows joined into triangle strips by repeated indices, drawn from an index list of at most 1000.

#define GRID_INDEX_LIMIT 1000

static void DrawGridIndices(const unsigned short *indices, int count, int columns, int rows,
                            const TexturedVertex2D *vertices)
{
    if (count < 3) {
        return;
    }
    g_StateCache.device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLESTRIP, 0, columns * rows, count - 2, indices,
                                                D3DFMT_INDEX16, vertices, sizeof(TexturedVertex2D));
}

// A row needs 2 x columns indices plus the repeated one, so more than 499 columns cannot fit the list; a grid
// whose indices would pass 16 bits is refused as well.
int DrawGridMesh(int columns, const TexturedVertex2D *vertices, int rows)
{
    if (g_StateCache.device == NULL) {
        return 0;
    }
    if (columns < 2 || rows < 2 || vertices == NULL || 2 * columns + 1 > GRID_INDEX_LIMIT || rows > 65536 / columns) {
        return -1;
    }
    FlushVertexBatch();
    SetDeviceFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    unsigned short indices[GRID_INDEX_LIMIT];
    int count = 0;
    for (int r = 0; r < rows - 1; r++) {
        if (count > 0 && count + 2 * columns + 2 > GRID_INDEX_LIMIT) {
            DrawGridIndices(indices, count, columns, rows, vertices);
            count = 0;
        } else if (count > 0) {
            indices[count++] = (unsigned short)((r + 1) * columns);
        }
        for (int c = 0; c < columns; c++) {
            indices[count++] = (unsigned short)((r + 1) * columns + c);
            indices[count++] = (unsigned short)(r * columns + c);
        }
        if (r < rows - 2) {
            indices[count] = indices[count - 1];
            count++;
        }
    }
    DrawGridIndices(indices, count, columns, rows, vertices);
    return 0;
}
