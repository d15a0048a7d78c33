// Device state cache against the recording device: one send per change (two when forced), the pending batch
// drawn before every change, the device values each setter maps to, the no-device results, the sampler and
// texture-transform rules, and the bounds of the shader-constant shadows.
#include <gtest/gtest.h>

#include "recording_device.h"

namespace
{

struct RenderStateSetter {
    const char *name;
    int (*set)(int);
    D3DRENDERSTATETYPE state;
    int argument;
    DWORD deviceValue;
};

int FogColor(int value)
{
    return SetDeviceFogColor(value);
}

const RenderStateSetter s_RenderStateSetters[] = {
    {"z enable", SetDeviceZEnable, D3DRS_ZENABLE, 1, 1},
    {"z write", SetDeviceZWrite, D3DRS_ZWRITEENABLE, 1, 1},
    {"z function", SetDeviceZFunc, D3DRS_ZFUNC, D3DCMP_GREATER, D3DCMP_GREATER},
    {"depth bias", SetDeviceDepthBias, D3DRS_DEPTHBIAS, 0x3F000000, 0x3F000000},
    {"fill mode", SetDeviceFillMode, D3DRS_FILLMODE, D3DFILL_WIREFRAME, D3DFILL_WIREFRAME},
    {"shade mode", SetDeviceShadeMode, D3DRS_SHADEMODE, D3DSHADE_GOURAUD, D3DSHADE_GOURAUD},
    {"cull 1", SetDeviceCullMode, D3DRS_CULLMODE, 1, D3DCULL_CCW},
    {"cull 2", SetDeviceCullMode, D3DRS_CULLMODE, 2, D3DCULL_CW},
    {"lighting", SetDeviceLighting, D3DRS_LIGHTING, 1, 1},
    {"diffuse source", SetDeviceDiffuseMaterialSource, D3DRS_DIFFUSEMATERIALSOURCE, 1, D3DMCS_COLOR1},
    {"specular source", SetDeviceSpecularMaterialSource, D3DRS_SPECULARMATERIALSOURCE, 1, D3DMCS_COLOR2},
    {"specular enable", SetDeviceSpecularEnable, D3DRS_SPECULARENABLE, 1, 1},
    {"fog enable", SetDeviceFogEnable, D3DRS_FOGENABLE, 1, 1},
    {"fog mode", SetDeviceFogMode, D3DRS_FOGVERTEXMODE, D3DFOG_EXP, D3DFOG_EXP},
    {"fog colour", FogColor, D3DRS_FOGCOLOR, (int)0xFF102030, 0xFF102030},
};

void PendTriangle()
{
    ReserveBatchVertices(0, VERTEX_PLAIN, D3DPT_TRIANGLELIST, 3);
    CommitBatchVertices(3);
}

TEST(StateCache, ChangesGoOnceAfterThePendingBatchAndAgainWhenForced)
{
    for (const auto &row : s_RenderStateSetters) {
        RecordingDeviceScope scope;
        PendTriangle();
        EXPECT_EQ(row.set(row.argument), 0) << row.name;
        EXPECT_EQ(row.set(row.argument), 0) << row.name;
        auto sent = scope.device.StateCalls("SetRenderState", row.state);
        ASSERT_EQ(sent.size(), 1u) << row.name;
        EXPECT_EQ(sent[0].args[1], row.deviceValue) << row.name;
        int draw = scope.device.IndexOf("DrawPrimitiveUP");
        ASSERT_GE(draw, 0) << row.name;
        EXPECT_LT(draw, scope.device.IndexOf("SetRenderState")) << row.name << ": the batch is drawn first";
        g_StateCache.force = 1;
        row.set(row.argument);
        EXPECT_EQ(scope.device.StateCalls("SetRenderState", row.state).size(), 2u) << row.name;
    }
    // The setters of other device calls draw the pending batch first as well.
    const struct {
        const char *name;
        void (*change)();
        const char *method;
    } others[] = {
        {"filter", [] { SetDeviceFilterMode(1); }, "SetSamplerState"},
        {"address", [] { SetDeviceTextureAddress(0, D3DTADDRESS_WRAP); }, "SetSamplerState"},
        {"fvf", [] { SetDeviceFVF(D3DFVF_XYZ); }, "SetFVF"},
        {"fog range", [] { SetDeviceFogStartEnd(5.0f, 10.0f); }, "SetRenderState"},
        {"viewport", [] { SetDeviceViewportRect(0, 0, 10, 10); }, "SetViewport"},
        {"tex coords", [] { ResetTexCoordIndexes(); }, "SetTextureStageState"},
    };
    for (const auto &row : others) {
        RecordingDeviceScope scope;
        g_StateCache.samplersInUse = 1;
        PendTriangle();
        row.change();
        ASSERT_GE(scope.device.IndexOf("DrawPrimitiveUP"), 0) << row.name;
        EXPECT_EQ(scope.device.calls.back().method, row.method) << row.name << ": the change follows the draw";
    }
}

TEST(StateCache, RefusedOrWithoutADeviceSettersGiveTheirResultAndChangeNothing)
{
    static D3DVIEWPORT9 viewport = {0, 0, 10, 10, 0.0f, 1.0f};
    static RECT rect = {0, 0, 10, 10};
    static float constants[300][4];
    struct Refusal {
        const char *name;
        int (*call)();
        int expected;
    };
    const std::vector<Refusal> refused = {
        {"sampler 8", [] { return SetDeviceTextureAddress(8, D3DTADDRESS_MIRROR); }, -1},
        {"sampler -2", [] { return SetDeviceTextureAddressW(-2, D3DTADDRESS_MIRROR); }, -1},
        {"filter mode 3", [] { return SetDeviceFilterMode(3); }, -1},
        {"filter mode -1", [] { return SetDeviceFilterMode(-1); }, -1},
        {"vertex 255+2", [] { return SetVertexShaderConstants(255, 2, constants[0]); }, -1},
        {"vertex -1", [] { return SetVertexShaderConstants(-1, 1, constants[0]); }, -1},
        {"vertex count -1", [] { return SetVertexShaderConstants(0, -1, constants[0]); }, -1},
        {"vertex 257+0", [] { return SetVertexShaderConstants(257, 0, constants[0]); }, -1},
        {"vertex huge", [] { return SetVertexShaderConstants(0x7FFFFFFF, 2, constants[0]); }, -1},
        {"pixel 31+2", [] { return SetPixelShaderConstants(31, 2, constants[0]); }, -1},
        {"pixel 32+1", [] { return SetPixelShaderConstants(32, 1, constants[0]); }, -1},
        {"pixel 16+40", [] { return SetPixelShaderConstants(16, 40, constants[0]); }, -1},
    };
    const std::vector<Refusal> withoutDevice = {
        {"filter", [] { return SetDeviceFilterMode(1); }, -1},
        {"anisotropy", [] { return SetDeviceMaxAnisotropy(4); }, -1},
        {"blend", [] { return SetDeviceBlendMode(1, 1, 1); }, -1},
        {"alpha test", [] { return SetDeviceAlphaTest(D3DCMP_LESS, 3); }, -1},
        {"z enable", [] { return SetDeviceZEnable(1); }, -1},
        {"z write", [] { return SetDeviceZWrite(1); }, -1},
        {"z func", [] { return SetDeviceZFunc(D3DCMP_LESS); }, -1},
        {"depth bias", [] { return SetDeviceDepthBias(7); }, -1},
        {"fill", [] { return SetDeviceFillMode(D3DFILL_POINT); }, -1},
        {"shade", [] { return SetDeviceShadeMode(D3DSHADE_GOURAUD); }, -1},
        {"specular", [] { return SetDeviceSpecularEnable(1); }, 0},
        {"fvf", [] { return SetDeviceFVF(D3DFVF_XYZ); }, -1},
        {"view", [] { return SetDeviceViewMatrix(&g_DrawState.world); }, 0},
        {"projection", [] { return SetDeviceProjectionMatrix(&g_DrawState.world); }, 0},
        {"render target", [] { return SetDeviceRenderTarget((IDirect3DSurface9 *)0x1000); }, -1},
        {"texture", [] { return SetDeviceTexture((IDirect3DBaseTexture9 *)0x1000); }, -1},
        {"blend graph", [] { return SetDeviceBlendGraph((IDirect3DBaseTexture9 *)0x1000, 3, 4); }, -1},
        {"lighting", [] { return SetDeviceLighting(1); }, 0},
        {"diffuse source", [] { return SetDeviceDiffuseMaterialSource(1); }, 0},
        {"specular source", [] { return SetDeviceSpecularMaterialSource(1); }, 0},
        {"cull", [] { return SetDeviceCullMode(2); }, 0},
        {"address", [] { return SetDeviceTextureAddress(-1, D3DTADDRESS_WRAP); }, 0},
        {"address v", [] { return SetDeviceTextureAddressV(3, D3DTADDRESS_WRAP); }, 0},
        {"fog enable", [] { return SetDeviceFogEnable(1); }, 0},
        {"fog mode", [] { return SetDeviceFogMode(D3DFOG_EXP); }, 0},
        {"fog colour", [] { return SetDeviceFogColor(5); }, 0},
        {"fog range", [] { return SetDeviceFogStartEnd(1.0f, 2.0f); }, 0},
        {"fog density", [] { return SetDeviceFogDensity(0.5f); }, 0},
        {"viewport", [] { return SetDeviceViewport(&viewport); }, -1},
        {"scissor", [] { return SetDeviceScissorRect(&rect); }, -1},
        {"tex coords", [] { return ResetTexCoordIndexes(); }, 0},
        {"reissue", [] { return ReissueDeviceStates(); }, 0},
        {"flush", [] { return FlushVertexBatch(); }, -1},
        {"defaults", [] { return ApplyDefaultDeviceStates(); }, -1},
        {"blend stages", [] { return ApplyBlendStageStates(0, NULL, 0); }, -1},
        {"texture transform", [] { return SetDeviceTextureTransform(0, 1, &g_DrawState.world); }, -1},
    };
    for (int device = 0; device < 2; device++) {
        for (const Refusal &row : device ? refused : withoutDevice) {
            RecordingDeviceScope scope;
            g_StateCache.device = device ? g_StateCache.device : NULL;
            g_StateCache.shadersAvailable = 1;
            g_StateCache.samplersInUse = 2;
            static DeviceStateCache before;
            before = g_StateCache;
            EXPECT_EQ(row.call(), row.expected) << row.name;
            EXPECT_EQ(memcmp(&before, &g_StateCache, sizeof before), 0) << row.name;
            EXPECT_TRUE(scope.device.calls.empty()) << row.name;
        }
    }
}

TEST(StateCache, SamplerAddressing)
{
    RecordingDeviceScope scope;
    EXPECT_EQ(SetDeviceTextureAddress(-1, D3DTADDRESS_WRAP), 0);
    auto sent = scope.device.Calls("SetSamplerState");
    ASSERT_EQ(sent.size(), 24u);
    for (size_t i = 0; i < sent.size(); i++) {
        EXPECT_EQ(sent[i].args[0], 7 - i / 3) << "samplers are addressed from 7 down";
        EXPECT_EQ(sent[i].args[1], D3DSAMP_ADDRESSU + i % 3);
        EXPECT_EQ(sent[i].args[2], (uintptr_t)D3DTADDRESS_WRAP);
    }
    scope.device.ClearCalls();
    EXPECT_EQ(SetDeviceTextureAddress(-1, D3DTADDRESS_WRAP), 0);
    EXPECT_EQ(SetDeviceTextureAddressU(4, D3DTADDRESS_WRAP), 0);
    EXPECT_TRUE(scope.device.calls.empty()) << "every copy already holds the mode";

    EXPECT_EQ(SetDeviceTextureAddressV(2, D3DTADDRESS_MIRROR), 0);
    sent = scope.device.Calls("SetSamplerState");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].args[0], 2u);
    EXPECT_EQ(sent[0].args[1], (uintptr_t)D3DSAMP_ADDRESSV);
}

TEST(StateCache, FilterModesAndAnisotropy)
{
    const struct {
        int mode;
        DWORD mag, min, mip;
    } table[] = {
        {0, D3DTEXF_POINT, D3DTEXF_POINT, D3DTEXF_NONE},
        {1, D3DTEXF_LINEAR, D3DTEXF_LINEAR, D3DTEXF_NONE},
        {2, D3DTEXF_LINEAR, D3DTEXF_ANISOTROPIC, D3DTEXF_LINEAR},
    };
    const D3DSAMPLERSTATETYPE types[3] = {D3DSAMP_MAGFILTER, D3DSAMP_MINFILTER, D3DSAMP_MIPFILTER};
    for (const auto &row : table) {
        RecordingDeviceScope scope;
        g_StateCache.samplersInUse = 2;
        EXPECT_EQ(SetDeviceFilterMode(row.mode), 0) << row.mode;
        const DWORD expected[3] = {row.mag, row.min, row.mip};
        for (int k = 0; k < 24; k++) { // samplers not in use get nothing
            auto &states = scope.device.samplerStates[k / 3];
            const D3DSAMPLERSTATETYPE type = types[k % 3];
            EXPECT_EQ(k < 6 ? states[type] : (DWORD)states.count(type), k < 6 ? expected[k % 3] : 0u)
                << row.mode << " sampler " << k / 3;
        }
    }
    RecordingDeviceScope scope;
    g_StateCache.samplersInUse = 3;
    EXPECT_EQ(SetDeviceMaxAnisotropy(0), 0);
    EXPECT_EQ(scope.device.samplerStates[2][D3DSAMP_MAXANISOTROPY], 1u);
    EXPECT_EQ(scope.device.Count("SetSamplerState"), 3u);
    g_StateCache.force = 1; // a re-made device starts at 1 whatever the copies say
    SetDeviceMaxAnisotropy(1);
    EXPECT_EQ(scope.device.Count("SetSamplerState"), 6u);
}

TEST(StateCache, TextureChangesRaiseTheirDirtyFlags)
{
    IDirect3DBaseTexture9 *a = (IDirect3DBaseTexture9 *)0x1000, *b = (IDirect3DBaseTexture9 *)0x2000;
    const struct {
        IDirect3DBaseTexture9 *from, *to;
        int blendDirty, textureDirty;
    } table[] = {
        {a, b, 0, 1}, {NULL, a, 1, 1}, {a, NULL, 1, 1}, {a, a, 0, 0}, {NULL, NULL, 0, 0},
    };
    for (const auto &row : table) {
        RecordingDeviceScope scope;
        g_StateCache.texture = row.from;
        EXPECT_EQ(SetDeviceTexture(row.to), 0);
        EXPECT_EQ(g_StateCache.blendDirty, row.blendDirty) << row.from << " -> " << row.to;
        EXPECT_EQ(g_StateCache.textureDirty, row.textureDirty) << row.from << " -> " << row.to;
        EXPECT_TRUE(scope.device.calls.empty()) << "the texture is bound by the draw-state application";
    }
}

TEST(StateCache, TextureTransformIsSentAgainWhenForced)
{
    RecordingDeviceScope scope;
    Matrix4 matrix;
    MakeIdentityMatrix(&matrix);
    matrix.m[12] = 0.5f;
    auto flags = [&](int stage) {
        return scope.device.StateCalls("SetTextureStageState", D3DTSS_TEXTURETRANSFORMFLAGS, stage);
    };
    EXPECT_EQ(SetDeviceTextureTransform(1, 0, &matrix), 0);
    EXPECT_TRUE(scope.device.calls.empty()) << "disabled stays disabled";
    EXPECT_EQ(SetDeviceTextureTransform(1, 1, &matrix), 0);
    EXPECT_EQ(SetDeviceTextureTransform(1, 1, &matrix), 0);
    ASSERT_EQ(flags(1).size(), 1u);
    EXPECT_EQ(flags(1)[0].args[2], (uintptr_t)D3DTTFF_COUNT3);
    EXPECT_EQ(scope.device.Count("SetTransform"), 2u) << "the matrix goes every time";

    // After the device is made again the copy still says enabled: the forced push must send the flags too.
    scope.device.ClearCalls();
    g_StateCache.force = 1;
    SetDeviceTextureTransform(1, 1, &matrix);
    SetDeviceTextureTransform(2, 0, &matrix);
    ASSERT_EQ(flags(1).size(), 1u);
    EXPECT_EQ(flags(1)[0].args[2], (uintptr_t)D3DTTFF_COUNT3);
    ASSERT_EQ(flags(2).size(), 1u);
    EXPECT_EQ(flags(2)[0].args[2], (uintptr_t)D3DTTFF_DISABLE);
    g_StateCache.force = 0;

    scope.device.ClearCalls();
    EXPECT_EQ(SetDeviceTextureTransform(-1, 1, &matrix), 0);
    EXPECT_EQ(scope.device.Count("SetTransform"), 4u) << "-1 means stages 0 to 3";
    EXPECT_EQ(SetDeviceTextureTransform(8, 1, &matrix), 0);
    EXPECT_EQ(scope.device.Count("SetTransform"), 4u);
}

TEST(StateCache, ReissueSendsEveryCopyAgain)
{
    RecordingDeviceScope scope;
    SetDeviceZFunc(D3DCMP_GREATER);
    SetDeviceCullMode(2);
    SetDeviceViewportRect(0, 0, 320, 200);
    scope.device.ClearCalls();
    EXPECT_EQ(ReissueDeviceStates(), 0);
    EXPECT_EQ(g_StateCache.force, 0);
    for (const auto &row : s_RenderStateSetters) {
        if (strncmp(row.name, "fog", 3) != 0) { // fog goes with each draw's own settings
            EXPECT_GE(scope.device.StateCalls("SetRenderState", row.state).size(), 1u) << row.name;
        }
    }
    for (D3DRENDERSTATETYPE state : {D3DRS_ALPHABLENDENABLE, D3DRS_ALPHATESTENABLE, D3DRS_TEXTUREFACTOR}) {
        EXPECT_GE(scope.device.StateCalls("SetRenderState", state).size(), 1u) << state;
    }
    EXPECT_EQ(scope.device.renderStates[D3DRS_ZFUNC], (DWORD)D3DCMP_GREATER);
    EXPECT_EQ(scope.device.renderStates[D3DRS_CULLMODE], (DWORD)D3DCULL_CW) << "the copy wins over the default";
    EXPECT_EQ(scope.device.viewport.Width, 320u);
}

TEST(StateCache, ShaderConstantsReachTheShadowAndSwitchSetsOnce)
{
    const struct {
        int vertex, first, count;
    } table[] = {{1, 0, 256}, {1, 255, 1}, {1, 256, 0}, {0, 0, 32}, {0, 31, 1}};
    static float data[300][4];
    for (int i = 0; i < 300; i++) {
        data[i][0] = (float)i + 1.0f;
    }
    for (const auto &row : table) {
        RecordingDeviceScope scope;
        g_StateCache.shadersAvailable = 1;
        int result = row.vertex ? SetVertexShaderConstants(row.first, row.count, data[0])
                                : SetPixelShaderConstants(row.first, row.count, data[0]);
        EXPECT_EQ(result, 0) << row.vertex << " " << row.first << " " << row.count;
        if (row.count > 0) {
            float(*shadow)[4] = row.vertex ? g_StateCache.vertexConstants : g_StateCache.pixelConstants;
            EXPECT_EQ(shadow[row.first + row.count - 1][0], (float)row.count);
            EXPECT_EQ(scope.device.Count(row.vertex ? "SetVertexShaderConstantF" : "SetPixelShaderConstantF"), 1u);
        }
    }
    // A switch to the user's set sends it once.
    RecordingDeviceScope scope;
    g_StateCache.shadersAvailable = 1;
    g_StateCache.userConstantRanges[USER_VERTEX_FLOAT] = {4, 2};
    g_StateCache.userConstantRanges[USER_PIXEL_BOOL] = {1, 3};
    g_StateCache.userVertexFloat[5][2] = 9.0f;
    EXPECT_EQ(SwitchShaderConstantSet(1), 0);
    EXPECT_EQ(SwitchShaderConstantSet(1), 0);
    auto &calls = scope.device.calls;
    ASSERT_EQ(calls.size(), 2u) << "only the ranges holding constants, once";
    EXPECT_EQ(calls[0].method, "SetVertexShaderConstantF");
    EXPECT_EQ(calls[0].args[0], 4u);
    EXPECT_EQ(calls[0].DataAs<float>(16 + 8), 9.0f);
    EXPECT_EQ(calls[1].method, "SetPixelShaderConstantB");
    EXPECT_EQ(calls[1].args[2], 3u);
    scope.device.ClearCalls();
    const float value[4] = {1, 2, 3, 4};
    EXPECT_EQ(SetPixelShaderConstants(7, 1, value), 0); // the engine's write brings its own set back first
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].args[2], 256u);
    EXPECT_EQ(calls[1].args[2], 32u);
    EXPECT_EQ(scope.device.pixelConstants[7][3], 4.0f);
    EXPECT_EQ(g_StateCache.userConstantSetOnDevice, 0);
}

} // namespace
