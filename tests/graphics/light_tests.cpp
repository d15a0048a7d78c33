// Lights against the recording device: the default light's first push and the silence after it, the device index
// order and the switch-off after deletions against a model of the rule over random tables, the push after a
// rebuild, the ambient colour and its constant, and the refused zero direction. Each test leaves no light and no
// allocation behind.
#include <gtest/gtest.h>

#include "recording_device.h"

#include <math.h>
#include <random>

namespace
{

struct LightTableScope : RecordingDeviceScope {
    int blocks = GetAllocationCount();
    ~LightTableScope()
    {
        DeleteAllLights();
        EXPECT_EQ(GetAllocationCount(), blocks);
    }
};

void Draw3D()
{
    ApplyDrawStates(NULL, NULL, APPLY_3D);
}

TEST(Lights, DefaultLightPushedOnceThenAgainAfterRebuild)
{
    LightTableScope scope;
    CreateDefaultLight();
    const int handle = GetDefaultLightHandle();
    CreateDefaultLight(); // a second reset keeps the one default light
    EXPECT_EQ(GetDefaultLightHandle(), handle);
    Draw3D();
    ASSERT_EQ(scope.device.Count("SetLight"), 1u);
    DeviceCall set = scope.device.Calls("SetLight")[0];
    D3DLIGHT9 light = set.DataAs<D3DLIGHT9>();
    const float third = 1.0f / sqrtf(3.0f);
    EXPECT_EQ(set.args[0], 0u);
    EXPECT_EQ(light.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_NEAR(light.Direction.x, third, 1e-6f);
    EXPECT_NEAR(light.Direction.y, -third, 1e-6f);
    EXPECT_NEAR(light.Direction.z, third, 1e-6f);
    ASSERT_EQ(scope.device.Count("LightEnable"), 1u);
    EXPECT_EQ(scope.device.Calls("LightEnable")[0].args, (std::vector<uintptr_t>{0, TRUE}));

    scope.device.ClearCalls();
    Draw3D();
    EXPECT_EQ(scope.device.Count("SetLight"), 0u);
    EXPECT_EQ(scope.device.Count("LightEnable"), 0u);

    CreateLightOfType(D3DLIGHT_POINT);
    CreateLightOfType(D3DLIGHT_SPOT);
    Draw3D();
    scope.device.ClearCalls();
    ForceLightRepush();
    Draw3D();
    EXPECT_EQ(scope.device.Count("SetLight"), 3u);
}

// The rule: directional, then spot, then point lights, each group in slot order, take indices from 0; a light is
// sent when its index changed or it is new; indices past the new highest up to the old highest are switched off.
TEST(Lights, DeviceIndicesFollowTypeOrderOverRandomTables)
{
    LightTableScope scope;
    std::mt19937 random(1234);
    std::map<int, int> live;    // slot -> handle
    std::map<int, int> types;   // handle -> type
    std::map<int, int> indices; // handle -> device index of the last push
    int lastCount = 0;
    for (int round = 0; round < 60; round++) {
        int creates = random() % 4, deletes = live.empty() ? 0 : random() % 3;
        for (int i = 0; i < deletes && !live.empty(); i++) {
            auto victim = std::next(live.begin(), random() % live.size());
            ASSERT_EQ(DeleteLight(victim->second), 0);
            indices.erase(victim->second);
            live.erase(victim);
        }
        for (int i = 0; i < creates; i++) {
            const int type = 1 + random() % 3, handle = CreateLightOfType(type);
            live[handle & HANDLE_INDEX_MASK] = handle;
            types[handle] = type;
        }
        int next = 0;
        size_t expectedSends = 0;
        for (int type : {D3DLIGHT_DIRECTIONAL, D3DLIGHT_SPOT, D3DLIGHT_POINT}) {
            for (auto &entry : live) {
                if (types[entry.second] != type) {
                    continue;
                }
                expectedSends += !indices.count(entry.second) || indices[entry.second] != next;
                indices[entry.second] = next++;
            }
        }
        scope.device.ClearCalls();
        Draw3D();
        SCOPED_TRACE(round);
        EXPECT_EQ(scope.device.Count("SetLight"), expectedSends);
        for (auto &entry : live) {
            EXPECT_EQ(g_StateCache.lights[indices[entry.second]].Type, types[entry.second]);
            EXPECT_TRUE(g_StateCache.lightEnabled[indices[entry.second]]);
        }
        size_t switchedOff = 0;
        for (const DeviceCall &call : scope.device.Calls("LightEnable")) {
            switchedOff += call.args[1] == FALSE;
            EXPECT_EQ(call.args[1] == FALSE, (int)call.args[0] >= next);
        }
        EXPECT_EQ(switchedOff, (size_t)std::max(0, lastCount - next));
        EXPECT_EQ(g_StateCache.highestEnabledLight, next - 1);
        lastCount = next;
    }
}

TEST(Lights, AmbientColorChannelsAndConstant)
{
    LightTableScope scope;
    std::mt19937 random(99);
    for (int round = 0; round < 50; round++) {
        const unsigned argb = round == 0 ? 0xFF808080u : (unsigned)random();
        D3DMATERIAL9 material = {};
        float *values = &material.Diffuse.r;
        for (int i = 0; i < 16; i++) {
            values[i] = (float)(random() % 1000) / 1000.0f;
        }
        SetMaterialState(&material);
        SetAmbientColor(argb);
        EXPECT_EQ(scope.device.renderStates[D3DRS_AMBIENT], argb);
        const int shifts[4] = {16, 8, 0, 24};
        const float ambient[4] = {material.Ambient.r, material.Ambient.g, material.Ambient.b, material.Ambient.a};
        const float emissive[4] = {material.Emissive.r, material.Emissive.g, material.Emissive.b, material.Emissive.a};
        for (int c = 0; c < 4; c++) {
            const float channel = ((argb >> shifts[c]) & 0xFF) / 255.0f;
            EXPECT_FLOAT_EQ(g_StateCache.globalAmbient[c], channel);
            EXPECT_FLOAT_EQ(g_StateCache.vertexConstants[1][c], channel * ambient[c] + emissive[c]);
        }
    }
}

// Zero-length directions are refused; ambient constants stop at the four shader lights, leaving the registers
// after them alone however many lights are on.
TEST(Lights, RefusedDirectionAndBoundedColorConstants)
{
    LightTableScope scope;
    EXPECT_EQ(CreateDirectionalLight(0.0f, 0.0f, 0.0f), -1);
    EXPECT_EQ(GetAllocationCount(), scope.blocks);
    const float sentinel[4] = {7.0f, 7.0f, 7.0f, 7.0f};
    SetVertexShaderConstants(18 + 7 * 4, 1, sentinel);
    for (int i = 0; i < 12; i++) {
        CreateDirectionalLight(1.0f, (float)i, 0.0f);
    }
    Draw3D();
    EXPECT_EQ(g_StateCache.highestEnabledLight, 11);
    EXPECT_FLOAT_EQ(g_StateCache.vertexConstants[18 + 7 * 4][0], 7.0f);
}

// Each setter stores its values and projects; degenerate values are refused and change nothing.
TEST(CameraSetters, StoreOrRefuse)
{
    LightTableScope scope;
    g_DrawState.drawScreenWidth = 640, g_DrawState.drawScreenHeight = 480, g_DrawState.aspectFactor = 1.0f;
    Matrix4 custom;
    for (int i = 0; i < 16; i++) {
        custom.m[i] = (float)i + 0.5f;
    }
    const struct {
        const char *what;
        int (*call)(const Matrix4 *);
        int result;
        float nearZ, farZ, fieldOfView;
        int kind;
    } table[] = {
        {"near and far", [](const Matrix4 *) { return SetCameraNearFar(5.0f, 500.0f); }, 0, 5, 500, 1, 0},
        {"perspective", [](const Matrix4 *) { return SetCameraPerspective(0.5f); }, 0, 5, 500, 0.5f, 0},
        {"matrix", [](const Matrix4 *m) { return SetCameraProjectionMatrix(m); }, 0, 5, 500, 0.5f, 2},
        {"near equals far", [](const Matrix4 *) { return SetCameraNearFar(7.0f, 7.0f); }, -1, 5, 500, 0.5f, 2},
        {"zero field", [](const Matrix4 *) { return SetCameraPerspective(0.0f); }, -1, 5, 500, 0.5f, 2},
        {"straight angle", [](const Matrix4 *) { return SetCameraPerspective(3.2f); }, -1, 5, 500, 0.5f, 2},
        {"no matrix", [](const Matrix4 *) { return SetCameraProjectionMatrix(NULL); }, -1, 5, 500, 0.5f, 2},
    };
    g_DrawState.fieldOfView = 1.0f;
    for (const auto &row : table) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.call(&custom), row.result);
        EXPECT_EQ(g_DrawState.nearZ, row.nearZ);
        EXPECT_EQ(g_DrawState.farZ, row.farZ);
        EXPECT_EQ(g_DrawState.fieldOfView, row.fieldOfView);
        EXPECT_EQ(g_DrawState.projectionKind, row.kind);
    }
    EXPECT_EQ(memcmp(&g_DrawState.storedProjection, &custom, sizeof custom), 0);
}

} // namespace
