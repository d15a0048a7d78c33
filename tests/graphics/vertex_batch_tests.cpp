// Vertex batch against the recording device: capacities, the batch rule at the buffer's end, primitive counts, the
// 3D world matrix, the pre-filled buffers, and the grid mesh's strips checked triangle by triangle against the grid
// they must cover.
#include <gtest/gtest.h>

#include "recording_device.h"

#include <algorithm>
#include <array>
#include <random>
#include <set>

namespace
{

void AppendQuad()
{
    ReserveBatchVertices(0, VERTEX_PLAIN, D3DPT_TRIANGLELIST, 6);
    CommitBatchVertices(6);
}

TEST(VertexBatch, Capacities)
{
    const struct {
        int dimension, kind, capacity;
    } table[] = {{1, 0, 4096}, {1, 1, 2730}, {1, 2, 0}, {2, 0, 0}, {0, 3, 0}}; // 2D: with the pre-filled buffers
    for (const auto &row : table) {
        EXPECT_EQ(GetBatchCapacity(row.dimension, row.kind), row.capacity) << row.dimension << " " << row.kind;
    }
    RecordingDeviceScope scope;
    EXPECT_EQ(ReserveBatchVertices(1, 2, D3DPT_TRIANGLELIST, 3), nullptr);
    EXPECT_EQ(ReserveBatchVertices(0, 0, D3DPT_TRIANGLELIST, 3225), nullptr) << "more than ever fits";
}

TEST(VertexBatch, FiveHundredThirtySevenQuadsMakeOneDraw)
{
    RecordingDeviceScope scope;
    for (int i = 0; i < 537; i++) {
        AppendQuad();
    }
    EXPECT_EQ(g_VertexBatch.count, 3222);
    EXPECT_EQ(scope.device.Count("DrawPrimitiveUP"), 0u);
    AppendQuad();
    auto draws = scope.device.Calls("DrawPrimitiveUP");
    ASSERT_EQ(draws.size(), 1u) << "3222 + 6 is not below 3225: the 538th quad draws the batch first";
    EXPECT_EQ(draws[0].args[0], (uintptr_t)D3DPT_TRIANGLELIST);
    EXPECT_EQ(draws[0].args[1], 1074u);
    EXPECT_EQ(draws[0].args[3], sizeof(Vertex2D));
    EXPECT_EQ(g_VertexBatch.count, 6);
    EXPECT_EQ(scope.device.fvf, (DWORD)(D3DFVF_XYZRHW | D3DFVF_DIFFUSE));
}

int ReferencePrimitives(int type, int n)
{
    const int perPrimitive[] = {0, 1, 2, 1, 3, 1, 1}; // vertices each new primitive needs
    const int start[] = {0, 0, 0, 1, 0, 2, 2};        // vertices before the first one closes
    return n <= start[type] ? 0 : (n - start[type]) / perPrimitive[type];
}

TEST(VertexBatch, FlushDrawsWhatThePrimitiveTypeMakes)
{
    for (int type = D3DPT_POINTLIST; type <= D3DPT_TRIANGLEFAN; type++) {
        for (int n = 0; n <= 12; n++) {
            RecordingDeviceScope scope;
            ReserveBatchVertices(0, VERTEX_TEXTURED, type, n);
            CommitBatchVertices(n);
            EXPECT_EQ(FlushVertexBatch(), 0);
            int expected = ReferencePrimitives(type, n);
            auto draws = scope.device.Calls("DrawPrimitiveUP");
            ASSERT_EQ(draws.size(), expected > 0 ? 1u : 0u) << type << " " << n;
            if (expected > 0) {
                EXPECT_EQ(draws[0].args[1], (uintptr_t)expected) << type << " " << n;
                EXPECT_EQ(draws[0].args[3], sizeof(TexturedVertex2D));
            }
            EXPECT_EQ(g_VertexBatch.count, 0);
        }
    }
}

TEST(VertexBatch, ThreeDimensionalFlushRestoresTheWorldMatrix)
{
    RecordingDeviceScope scope;
    for (int i = 0; i < 16; i++) {
        g_DrawState.world.m[i] = (float)(i * 3 + 1);
    }
    Vertex3D *vertices = (Vertex3D *)ReserveBatchVertices(1, VERTEX_PLAIN, D3DPT_TRIANGLELIST, 3);
    ASSERT_NE(vertices, nullptr);
    vertices[1].x = 7.0f;
    CommitBatchVertices(3);
    EXPECT_EQ(FlushVertexBatch(), 0);
    auto &calls = scope.device.calls;
    int draw = scope.device.IndexOf("DrawPrimitiveUP");
    ASSERT_GE(draw, 1);
    EXPECT_EQ(calls[draw].DataAs<Vertex3D>(sizeof(Vertex3D)).x, 7.0f);
    auto world = scope.device.StateCalls("SetTransform", D3DTS_WORLD);
    ASSERT_EQ(world.size(), 2u);
    EXPECT_EQ(world[0].DataAs<D3DMATRIX>()._11, 1.0f);
    EXPECT_EQ(world[0].DataAs<D3DMATRIX>()._12, 0.0f) << "drawn under the identity";
    EXPECT_EQ(memcmp(&scope.device.transforms[D3DTS_WORLD], &g_DrawState.world, sizeof(Matrix4)), 0);
    EXPECT_LT(scope.device.IndexOf("SetTransform"), draw);
    EXPECT_GT(scope.device.IndexOf("SetTransform", draw), draw);
}

TEST(VertexBatch, PrefilledScreenSpaceBuffers)
{
    RecordingDeviceScope scope;
    EXPECT_EQ(PrefillVertexBatchBuffers(), 0);
    const struct {
        int kind, capacity, stride;
    } table[] = {{VERTEX_PLAIN, 3225, 20}, {VERTEX_TEXTURED, 2340, 28}, {VERTEX_BLEND, 1638, 40}};
    for (const auto &row : table) {
        ASSERT_EQ(GetBatchCapacity(0, row.kind), row.capacity) << row.kind;
        const unsigned char *base = (const unsigned char *)ReserveBatchVertices(0, row.kind, D3DPT_POINTLIST, 1);
        for (int i = 0; i < row.capacity; i++) {
            const float *position = (const float *)(base + i * row.stride);
            ASSERT_EQ(position[2], 0.0f) << row.kind << " " << i;
            ASSERT_EQ(position[3], 1.0f) << row.kind << " " << i;
            if (row.kind == VERTEX_BLEND) {
                ASSERT_EQ(((const BlendVertex2D *)base)[i].specular, 0xFFFFFFFFu) << i;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Grid mesh

typedef std::array<int, 3> Triangle;

Triangle Sorted(Triangle triangle)
{
    std::sort(triangle.begin(), triangle.end());
    return triangle;
}

std::multiset<Triangle> ReferenceGrid(int columns, int rows)
{
    std::multiset<Triangle> triangles;
    for (int r = 0; r + 1 < rows; r++) {
        for (int c = 0; c + 1 < columns; c++) {
            int top = r * columns + c, bottom = top + columns;
            triangles.insert(Sorted({bottom, top, bottom + 1}));
            triangles.insert(Sorted({top, bottom + 1, top + 1}));
        }
    }
    return triangles;
}

std::multiset<Triangle> DrawnTriangles(const RecordingDevice &device, int columns, int rows, size_t *longest)
{
    std::multiset<Triangle> triangles;
    *longest = 0;
    for (const DeviceCall &call : device.Calls("DrawIndexedPrimitiveUP")) {
        EXPECT_EQ(call.args[0], (uintptr_t)D3DPT_TRIANGLESTRIP);
        EXPECT_EQ(call.args[2], (uintptr_t)(columns * rows));
        EXPECT_EQ(call.args[5], (uintptr_t)D3DFMT_INDEX16);
        EXPECT_EQ(call.args[7], sizeof(TexturedVertex2D));
        size_t indices = call.args[3] + 2;
        *longest = std::max(*longest, indices);
        for (size_t i = 2; i < indices; i++) { // degenerate triangles join the strips and cover nothing
            Triangle t = Sorted({call.DataAs<unsigned short>(2 * i - 4), call.DataAs<unsigned short>(2 * i - 2),
                                 call.DataAs<unsigned short>(2 * i)});
            if (t[0] != t[1] && t[1] != t[2]) {
                triangles.insert(t);
            }
        }
    }
    return triangles;
}

TEST(GridMesh, StripsCoverTheGridExactly)
{
    std::mt19937 random(20261207);
    static TexturedVertex2D vertices[65536];
    std::vector<std::pair<int, int>> sizes = {{2, 2}, {3, 7}, {499, 2}, {499, 3}, {250, 4}, {10, 300}};
    for (int i = 0; i < 40; i++) {
        int columns = 2 + (int)(random() % 498);
        sizes.push_back({columns, 2 + (int)(random() % std::min(60, 65536 / columns - 1))});
    }
    for (const auto &size : sizes) {
        RecordingDeviceScope scope;
        ASSERT_EQ(DrawGridMesh(size.first, vertices, size.second), 0) << size.first << "x" << size.second;
        size_t longest;
        auto drawn = DrawnTriangles(scope.device, size.first, size.second, &longest);
        EXPECT_TRUE(drawn == ReferenceGrid(size.first, size.second)) << size.first << "x" << size.second;
        EXPECT_LE(longest, 1000u);
        EXPECT_EQ(scope.device.fvf, (DWORD)(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1));
    }
}

TEST(GridMesh, RefusesGridsItCannotIndex)
{
    static TexturedVertex2D vertices[70000];
    const struct {
        int columns, rows, expected;
    } table[] = {
        {1, 5, -1}, {5, 1, -1}, {500, 2, -1}, {1000, 3, -1}, {499, 2, 0}, {256, 256, 0}, {256, 257, -1},
    };
    for (const auto &row : table) {
        RecordingDeviceScope scope;
        EXPECT_EQ(DrawGridMesh(row.columns, vertices, row.rows), row.expected) << row.columns << "x" << row.rows;
        if (row.expected != 0) {
            EXPECT_TRUE(scope.device.calls.empty());
        }
    }
    RecordingDeviceScope scope;
    EXPECT_EQ(DrawGridMesh(3, NULL, 3), -1);
    g_StateCache.device = NULL;
    EXPECT_EQ(DrawGridMesh(3, vertices, 3), 0);
}

} // namespace
