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
    EXPECT_EQ(std::vector<uintptr_t>({set.args[0], light.Type}), std::vector<uintptr_t>({0, D3DLIGHT_DIRECTIONAL}));
    EXPECT_LT(fabsf(light.Direction.x - third) + fabsf(light.Direction.y + third) + fabsf(light.Direction.z - third),
              1e-5f);
    const std::vector<DeviceCall> enables = scope.device.Calls("LightEnable");
    ASSERT_EQ(enables.size(), 1u);
    EXPECT_EQ(enables[0].args, std::vector<uintptr_t>({0, TRUE}));

    scope.device.ClearCalls();
    Draw3D();
    EXPECT_EQ(scope.device.Count("SetLight"), 0u);
    EXPECT_EQ(scope.device.Count("LightEnable"), 0u);

    CreateLightOfType(D3DLIGHT_POINT);
    CreateLightOfType(D3DLIGHT_SPOT);
    Draw3D();
    RecordingDeviceScope rebuilt; // the device made again: nothing of the old device's state carries over
    Draw3D();
    EXPECT_EQ(rebuilt.device.Count("SetLight"), 0u); // the table has not changed: only the force re-sends
    ForceLightRepush();
    Draw3D();
    std::vector<std::pair<uintptr_t, int>> sent; // device index, light type
    for (const DeviceCall &call : rebuilt.device.Calls("SetLight")) {
        sent.push_back({call.args[0], call.DataAs<D3DLIGHT9>().Type});
    }
    EXPECT_EQ(sent, (std::vector<std::pair<uintptr_t, int>>{
                        {0, D3DLIGHT_DIRECTIONAL}, {1, D3DLIGHT_SPOT}, {2, D3DLIGHT_POINT}}));
    EXPECT_EQ(rebuilt.device.Count("LightEnable"), 3u);
    EXPECT_EQ(g_StateCache.highestEnabledLight, 2);
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
        EXPECT_EQ(scope.device.Count("SetLight"), expectedSends) << round;
        for (auto &entry : live) {
            EXPECT_EQ(g_StateCache.lights[indices[entry.second]].Type, types[entry.second]) << round;
            EXPECT_TRUE(g_StateCache.lightEnabled[indices[entry.second]]) << round;
        }
        for (const DeviceCall &call : scope.device.Calls("LightEnable")) {
            EXPECT_EQ(call.args[1] == FALSE, (int)call.args[0] >= next) << round;
        }
        EXPECT_EQ(g_StateCache.highestEnabledLight, next - 1) << round; // the old indices above were switched off
    }
}

TEST(Lights, AmbientColorChannelsAndConstant)
{
    LightTableScope scope;
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
        const int shifts[4] = {16, 8, 0, 24};
        for (int c = 0; c < 4; c++) {
            const float channel = ((argb >> shifts[c]) & 0xFF) / 255.0f;
            EXPECT_FLOAT_EQ(g_StateCache.globalAmbient[c], channel);
            EXPECT_FLOAT_EQ(g_StateCache.vertexConstants[1][c],
                            channel * (&material.Ambient.r)[c] + (&material.Emissive.r)[c]);
        }
    }
}

// Zero-length directions are refused; ambient products go to the four shader lights' registers only, leaving the
// registers where a fifth and later light's would fall alone however many lights are on.
TEST(Lights, RefusedDirectionAndBoundedColorConstants)
{
    LightTableScope scope;
    EXPECT_EQ(CreateDirectionalLight(0.0f, 0.0f, 0.0f), -1);
    EXPECT_EQ(GetAllocationCount(), scope.blocks);
    const float sentinel[4] = {7.0f, 7.0f, 7.0f, 7.0f};
    const int lights = 12, pixelRegisters = 32;
    for (int i = 0; i < lights; i++) {
        SetVertexShaderConstants(18 + 7 * i, 1, sentinel);
        SetPixelShaderConstants(11 + 3 * i, 1, sentinel); // refused past the last register
        CreateDirectionalLight(1.0f, (float)i, 0.0f);
    }
    Draw3D();
    EXPECT_EQ(g_StateCache.highestEnabledLight, lights - 1);
    for (int i = 0; i < lights; i++) {
        const float kept = i < 4 ? 0.0f : 7.0f; // below 4: light ambient x the zero material ambient
        EXPECT_EQ(g_StateCache.vertexConstants[18 + 7 * i][0], kept) << i;
        if (11 + 3 * i < pixelRegisters) {
            EXPECT_EQ(g_StateCache.pixelConstants[11 + 3 * i][0], kept) << i;
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
    const int refused[] = {SetCameraNearFar(7, 7), SetCameraPerspective(0), SetCameraPerspective(3.2f),
                           SetCameraProjectionMatrix(NULL)};
    EXPECT_EQ(std::vector<int>(refused, refused + 4), std::vector<int>(4, -1));
    EXPECT_EQ(std::vector<float>({g_DrawState.nearZ, g_DrawState.farZ, g_DrawState.fieldOfView}),
              std::vector<float>({5, 500, 0.5f}));
    EXPECT_EQ(g_DrawState.projectionKind, 2);
    EXPECT_EQ(memcmp(&g_DrawState.storedProjection, &custom, sizeof custom), 0);
}

} // namespace
