// Lights and the camera setters against the recording device; each test leaves no light and no allocation behind.
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

// The rule, from the default light (made twice, kept once) on: directional, then spot, then point lights, each group
// in slot order, take indices from 0; a light is sent when it is new, its index changed or every light is re-pushed;
// indices past the new highest up to the old highest are switched off; a second draw sends nothing. A new device
// gets nothing until the re-push, then every light again.
TEST(Lights, DeviceIndicesFollowTypeOrderOverRandomTables)
{
    LightTableScope scope;
    std::mt19937 random(1234);
    EXPECT_EQ(CreateDefaultLight() + CreateDefaultLight(), 0);
    const int first = GetDefaultLightHandle();
    std::map<int, int> live = {{first & HANDLE_INDEX_MASK, first}}, types = {{first, D3DLIGHT_DIRECTIONAL}}, indices;
    for (int round = 0; round < 60; round++) {
        for (int i = round == 0 ? 0 : random() % 3; i > 0 && !live.empty(); i--) {
            auto victim = std::next(live.begin(), random() % live.size());
            ASSERT_EQ(DeleteLight(victim->second), 0);
            indices.erase(victim->second), live.erase(victim);
        }
        for (int i = round == 0 ? 0 : random() % 4; i > 0; i--) {
            const int type = 1 + random() % 3, handle = CreateLightOfType(type);
            live[handle & HANDLE_INDEX_MASK] = handle, types[handle] = type;
        }
        indices = round % 8 == 7 && ForceLightRepush() == 0 ? std::map<int, int>() : indices; // all sent again
        scope.device.ClearCalls();
        Draw3D();
        std::vector<std::pair<uintptr_t, int>> expected, sent; // device index, light type
        int next = 0;
        for (int type : {D3DLIGHT_DIRECTIONAL, D3DLIGHT_SPOT, D3DLIGHT_POINT}) {
            for (auto &entry : live) {
                if (types[entry.second] != type) {
                    continue;
                }
                if (!indices.count(entry.second) || indices[entry.second] != next) {
                    expected.push_back({next, type});
                }
                indices[entry.second] = next++;
            }
        }
        for (const DeviceCall &call : scope.device.Calls("SetLight")) {
            sent.push_back({call.args[0], call.DataAs<D3DLIGHT9>().Type});
        }
        EXPECT_EQ(sent, expected) << round;
        for (const DeviceCall &call : scope.device.Calls("LightEnable")) {
            EXPECT_EQ(call.args[1] == FALSE, (int)call.args[0] >= next) << round;
        }
        EXPECT_EQ(g_StateCache.highestEnabledLight, next - 1) << round; // the old indices above were switched off
        if (round == 0) { // the default light alone: index 0, its direction (1, -1, 1) / sqrt 3
            D3DVECTOR d = scope.device.Calls("SetLight")[0].DataAs<D3DLIGHT9>().Direction;
            const float third = 1.0f / sqrtf(3.0f);
            EXPECT_LT(fabsf(d.x - third) + fabsf(d.y + third) + fabsf(d.z - third), 1e-5f);
        }
        scope.device.ClearCalls();
        Draw3D();
        EXPECT_EQ(scope.device.Count("SetLight") + scope.device.Count("LightEnable"), 0u) << round;
    }
    RecordingDeviceScope rebuilt;
    Draw3D();
    EXPECT_EQ(rebuilt.device.Count("SetLight"), 0u); // the table has not changed: only the re-push sends
    ForceLightRepush();
    Draw3D();
    EXPECT_EQ(std::vector<size_t>({rebuilt.device.Count("SetLight"), rebuilt.device.Count("LightEnable")}),
              std::vector<size_t>(2, live.size()));
}

// The ambient colour over random materials, and the lights' ambient products in the four shader lights' registers
// only: the registers where a fifth and later light's would fall keep what was there. Zero directions are refused.
TEST(Lights, AmbientColorAndBoundedColorConstants)
{
    LightTableScope scope;
    EXPECT_EQ(CreateDirectionalLight(0.0f, 0.0f, 0.0f), -1);
    EXPECT_EQ(GetAllocationCount(), scope.blocks);
    const float sentinel[4] = {7.0f, 7.0f, 7.0f, 7.0f};
    for (int i = 0; i < 12; i++) {
        SetVertexShaderConstants(18 + 7 * i, 1, sentinel);
        SetPixelShaderConstants(11 + 3 * i, 1, sentinel); // refused past the last of the 32 registers
        CreateDirectionalLight(1.0f, (float)i, 0.0f);
    }
    Draw3D();
    for (int i = 0; i < 12; i++) {
        const float kept = i < 4 ? 0.0f : 7.0f; // below 4: light ambient x the zero material ambient
        EXPECT_EQ(g_StateCache.vertexConstants[18 + 7 * i][0], kept) << i;
        EXPECT_EQ(11 + 3 * i < 32 ? g_StateCache.pixelConstants[11 + 3 * i][0] : kept, kept) << i;
    }
    std::mt19937 random(99);
    for (int round = 0; round < 50; round++) {
        const unsigned argb = round == 0 ? 0xFF808080u : (unsigned)random();
        D3DMATERIAL9 material = {};
        for (int i = 0; i < 16; i++) {
            (&material.Diffuse.r)[i] = (float)(random() % 1000) / 1000.0f;
        }
        SetMaterialState(&material);
        SetAmbientColor(argb);
        EXPECT_EQ(scope.device.renderStates[D3DRS_AMBIENT], argb);
        for (int c = 0; c < 4; c++) { // r, g, b, a
            const float channel = ((argb >> (c == 3 ? 24 : 16 - 8 * c)) & 0xFF) / 255.0f;
            EXPECT_FLOAT_EQ(g_StateCache.globalAmbient[c], channel);
            EXPECT_FLOAT_EQ(g_StateCache.vertexConstants[1][c],
                            channel * (&material.Ambient.r)[c] + (&material.Emissive.r)[c]);
        }
    }
}

// Each setter stores its values and projects; degenerate values are refused and change nothing.
TEST(CameraSetters, StoreOrRefuse)
{
    LightTableScope scope;
    g_DrawState.drawScreenWidth = 640, g_DrawState.drawScreenHeight = 480, g_DrawState.aspectFactor = 1.0f;
    Matrix4 custom = {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
    EXPECT_EQ(SetCameraNearFar(5, 500) + SetCameraPerspective(0.5f), 0);
    EXPECT_EQ(g_DrawState.projectionKind, 0);
    EXPECT_EQ(SetCameraProjectionMatrix(&custom), 0);
    EXPECT_EQ(SetCameraNearFar(7, 7) + SetCameraPerspective(0) + SetCameraPerspective(3.2f) +
                  SetCameraProjectionMatrix(NULL),
              -4);
    EXPECT_EQ(std::vector<float>({g_DrawState.nearZ, g_DrawState.farZ, g_DrawState.fieldOfView}),
              std::vector<float>({5, 500, 0.5f}));
    EXPECT_EQ(g_DrawState.projectionKind, 2);
    EXPECT_EQ(memcmp(&g_DrawState.storedProjection, &custom, sizeof custom), 0);
}

} // namespace
