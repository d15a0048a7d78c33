// Draw-state application against the recording device: the generated stage records against a hand-written set,
// the blend-mode table as the device receives it, the known cases of alpha images, colour keys and blend graphs,
// the blend graph's ramp against a reference written from its rule, and the device defaults.
#include <gtest/gtest.h>

#include "recording_device.h"

namespace
{

const unsigned short X = 0xFFFF; // an argument the operation does not read
IDirect3DBaseTexture9 *const s_Image = (IDirect3DBaseTexture9 *)0x1000;
IDirect3DBaseTexture9 *const s_OtherImage = (IDirect3DBaseTexture9 *)0x2000;
IDirect3DBaseTexture9 *const s_BlendGraph = (IDirect3DBaseTexture9 *)0x3000;

StageEntry Stage(int coord, unsigned short colorOp, unsigned short c1, unsigned short c2, unsigned short alphaOp,
                 unsigned short a1, unsigned short a2)
{
    return {coord, 0, a1, a2, alphaOp, c1, c2, colorOp};
}

// Stage entries hold no padding: equal bytes are equal entries.
bool SameEntry(const StageEntry &a, const StageEntry &b)
{
    static_assert(sizeof(StageEntry) == 2 * sizeof(int) + 6 * sizeof(unsigned short), "padding in StageEntry");
    return memcmp(&a, &b, sizeof a) == 0;
}

TEST(StageRecords, GeneratedRecordsMatchHandWrittenOnes)
{
    const unsigned short TEX = D3DTA_TEXTURE, DIF = D3DTA_DIFFUSE, CUR = D3DTA_CURRENT, TF = D3DTA_TFACTOR,
                         SPEC = D3DTA_SPECULAR, NTEX = D3DTA_TEXTURE | D3DTA_COMPLEMENT;
    const unsigned short SEL1 = D3DTOP_SELECTARG1, SEL2 = D3DTOP_SELECTARG2, MOD = D3DTOP_MODULATE,
                         MOD4 = D3DTOP_MODULATE4X;
    const StageEntry blendGraph = Stage(0, SEL2, X, DIF, D3DTOP_ADD, TEX, TF);
    const struct {
        const char *what;
        int index;
        std::vector<StageEntry> stages;
    } table[] = {
        {"plain, no alpha", 0, {Stage(0, SEL1, TEX, X, SEL2, X, DIF)}},
        {"plain, alpha channel, both modulated", 10, {Stage(0, MOD, TEX, DIF, MOD, TEX, DIF)}},
        {"kind 1, colour key, colour modulated",
         32,
         {Stage(0, MOD, TEX, DIF, SEL1, TEX, X), Stage(1, D3DTOP_BLENDCURRENTALPHA, CUR, TF, SEL1, CUR, X)}},
        {"kind 2, no alpha", 51, {Stage(0, SEL1, NTEX, X, SEL2, X, DIF)}},
        {"kind 3, alpha channel", 73, {Stage(0, MOD4, TEX, DIF, SEL1, TEX, X)}},
        {"blend graph, no alpha", 12, {blendGraph, Stage(1, SEL1, TEX, X, MOD, CUR, DIF)}},
        {"blend graph, no alpha, both modulated", 21, {blendGraph, Stage(1, MOD, TEX, DIF, MOD, DIF, CUR)}},
        {"blend graph, alpha channel, alpha modulated",
         16,
         {blendGraph, Stage(1, SEL1, CUR, X, MOD, SPEC, CUR), Stage(1, SEL1, TEX, X, MOD, TEX, CUR),
          Stage(0, SEL1, CUR, X, MOD, DIF, CUR)}},
        {"blend graph, colour key, alpha modulated",
         17,
         {blendGraph, Stage(1, SEL1, TEX, X, MOD, TEX, CUR), Stage(1, SEL1, CUR, X, MOD, DIF, CUR)}},
        {"kind 3 blend graph, colour key, colour modulated", 92, {blendGraph, Stage(1, MOD4, TEX, DIF, MOD, TEX, CUR)}},
        {"kind 3 blend graph, alpha channel",
         85,
         {blendGraph, Stage(1, SEL1, CUR, X, MOD, SPEC, CUR), Stage(1, MOD4, TEX, DIF, MOD, TEX, CUR)}},
        {"untextured", -1, {Stage(0, SEL1, DIF, X, SEL2, X, DIF)}},
    };
    const StageEntry closing = {-1, -1, X, X, D3DTOP_DISABLE, X, X, D3DTOP_DISABLE};
    for (const auto &row : table) {
        const StageRecord *record = GetStageRecord(row.index);
        ASSERT_NE(record, nullptr) << row.what;
        ASSERT_EQ(record->count, row.stages.size()) << row.what;
        for (size_t i = 0; i < row.stages.size(); i++) {
            EXPECT_TRUE(SameEntry(record->entries[i], row.stages[i])) << row.what << " stage " << i;
        }
        EXPECT_TRUE(SameEntry(record->entries[record->count], closing)) << row.what;
    }
    EXPECT_EQ(GetStageRecord(96), nullptr);
    EXPECT_EQ(GetStageRecord(-2), nullptr);
}

struct ExpectedBlend {
    int mode, blendOperations;
    int dest, src, op, blending;
};

TEST(DrawStates, BlendModeTableReachesTheDevice)
{
    const ExpectedBlend table[] = {
        {0, 1, -1, -1, D3DBLENDOP_ADD, 0},
        {1, 1, D3DBLEND_INVSRCALPHA, D3DBLEND_SRCALPHA, D3DBLENDOP_ADD, 1},
        {2, 1, D3DBLEND_ONE, D3DBLEND_SRCALPHA, D3DBLENDOP_ADD, 1},
        {3, 0, D3DBLEND_ZERO, D3DBLEND_INVDESTCOLOR, D3DBLENDOP_ADD, 1},
        {3, 1, D3DBLEND_ONE, D3DBLEND_SRCALPHA, D3DBLENDOP_REVSUBTRACT, 1},
        {4, 1, D3DBLEND_SRCCOLOR, D3DBLEND_ZERO, D3DBLENDOP_ADD, 1},
        {8, 1, D3DBLEND_ONE, D3DBLEND_ZERO, D3DBLENDOP_ADD, 1},
        {9, 0, D3DBLEND_ZERO, D3DBLEND_INVDESTCOLOR, D3DBLENDOP_ADD, 1},
        {11, 1, D3DBLEND_SRCCOLOR, D3DBLEND_ZERO, D3DBLENDOP_ADD, 1},
        {14, 1, D3DBLEND_ZERO, D3DBLEND_ONE, D3DBLENDOP_ADD, 1},
        {15, 1, D3DBLEND_ONE, D3DBLEND_SRCALPHA, D3DBLENDOP_REVSUBTRACT, 1},
    };
    for (const auto &row : table) {
        RecordingDeviceScope scope;
        g_D3D.blendOperations = row.blendOperations;
        g_DrawState.blendMode = row.mode;
        ApplyDrawStates(NULL, NULL, 0);
        auto &states = scope.device.renderStates;
        EXPECT_EQ(states[D3DRS_ALPHABLENDENABLE], (DWORD)row.blending) << row.mode;
        if (row.dest == -1) {
            EXPECT_EQ(states.count(D3DRS_DESTBLEND) + states.count(D3DRS_SRCBLEND), 0u) << row.mode;
            continue;
        }
        EXPECT_EQ(states[D3DRS_DESTBLEND], (DWORD)row.dest) << row.mode;
        EXPECT_EQ(states[D3DRS_SRCBLEND], (DWORD)row.src) << row.mode;
        EXPECT_EQ(states[D3DRS_BLENDOP], (DWORD)row.op) << row.mode;
    }
}

TEST(DrawStates, KnownCases)
{
    const DrawImageInfo alpha = {1, 0}, key = {0, 1}, both = {1, 1};
    const int transparent = APPLY_USE_TRANSPARENCY;
    const struct {
        const char *what;
        int blendMode;
        const DrawImageInfo *image;
        int filterMode, flags;
        int blending, alphaTest, alphaRef;
        DWORD alphaOp;
    } table[] = {
        {"mode 1, untextured box", 1, NULL, 0, 0, 1, 0, 0, D3DTOP_SELECTARG2},
        {"alpha picture", 0, &alpha, 0, transparent, 1, 0, 0, D3DTOP_SELECTARG1},
        {"colour key, point filter", 0, &key, 0, transparent, 0, 1, 16, D3DTOP_SELECTARG1},
        {"colour key, linear filter", 0, &key, 1, transparent, 1, 0, 0, D3DTOP_SELECTARG1},
        {"colour key, linear, whole pixels", 0, &key, 1, transparent | APPLY_WHOLE_PIXELS, 0, 1, 16, D3DTOP_SELECTARG1},
        {"transparency not asked for", 0, &both, 0, 0, 0, 0, 0, D3DTOP_SELECTARG2},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(row.what);
        RecordingDeviceScope scope;
        g_DrawState.blendMode = row.blendMode;
        g_DrawState.filterMode = row.filterMode;
        ApplyDrawStates(row.image, row.image != NULL ? s_Image : NULL, row.flags);
        auto &d = scope.device;
        EXPECT_EQ(d.textures[0], row.image != NULL ? s_Image : NULL);
        EXPECT_EQ(d.renderStates[D3DRS_ALPHABLENDENABLE], (DWORD)row.blending);
        if (row.blending) {
            EXPECT_EQ(d.renderStates[D3DRS_SRCBLEND], (DWORD)D3DBLEND_SRCALPHA);
            EXPECT_EQ(d.renderStates[D3DRS_DESTBLEND], (DWORD)D3DBLEND_INVSRCALPHA);
        }
        EXPECT_EQ(d.renderStates[D3DRS_ALPHATESTENABLE], (DWORD)row.alphaTest);
        if (row.alphaTest) {
            EXPECT_EQ(d.renderStates[D3DRS_ALPHAREF], (DWORD)row.alphaRef);
            EXPECT_EQ(d.renderStates[D3DRS_ALPHAFUNC], (DWORD)D3DCMP_GREATER);
        }
        EXPECT_EQ(d.stageStates[0][D3DTSS_ALPHAOP], row.alphaOp);
        EXPECT_EQ(d.stageStates[1][D3DTSS_COLOROP], (DWORD)D3DTOP_DISABLE);
        EXPECT_EQ(d.stageStates[1][D3DTSS_ALPHAOP], (DWORD)D3DTOP_DISABLE);
        if (row.image == NULL) {
            EXPECT_EQ(d.stageStates[0][D3DTSS_COLOROP], (DWORD)D3DTOP_SELECTARG2);
            EXPECT_EQ(d.stageStates[0][D3DTSS_COLORARG2], (DWORD)D3DTA_DIFFUSE);
            EXPECT_EQ(d.stageStates[0][D3DTSS_ALPHAARG2], (DWORD)D3DTA_DIFFUSE);
        }
    }
}

TEST(DrawStates, ChangingOnlyTheTextureSendsOneSetTexture)
{
    RecordingDeviceScope scope;
    DrawImageInfo image = {1, 0};
    ApplyDrawStates(&image, s_Image, APPLY_USE_TRANSPARENCY);
    scope.device.ClearCalls();
    ApplyDrawStates(&image, s_OtherImage, APPLY_USE_TRANSPARENCY);
    ASSERT_EQ(scope.device.calls.size(), 1u);
    EXPECT_EQ(scope.device.calls[0].method, "SetTexture");
    EXPECT_EQ(scope.device.calls[0].args[1], (uintptr_t)s_OtherImage);
    scope.device.ClearCalls();
    ApplyDrawStates(&image, s_OtherImage, APPLY_USE_TRANSPARENCY);
    EXPECT_TRUE(scope.device.calls.empty()) << "an unchanged draw costs compares only";
}

struct Ramp {
    int factorAlpha, graphOp, imageOp;
};

// Straight from the rule: three bands of range, each with its own scale of the border and its own modulation.
Ramp ReferenceRamp(int range, int border)
{
    if (range <= 1) {
        return {0, D3DTOP_ADD, D3DTOP_MODULATE};
    }
    int scale, threshold, gain, imageOp;
    if (range > 128) {
        scale = 512, threshold = 256, gain = 255, imageOp = D3DTOP_MODULATE;
    } else if (range >= 65) {
        scale = 768, threshold = 512, gain = 128, imageOp = D3DTOP_MODULATE2X;
    } else {
        scale = 1280, threshold = 1024, gain = 64, imageOp = D3DTOP_MODULATE4X;
    }
    int t = scale - border * scale / 255;
    if (t < threshold) {
        return {255 - t * 255 / threshold, D3DTOP_SUBTRACT, imageOp};
    }
    return {(t - threshold) * gain / 256, D3DTOP_ADD, imageOp};
}

TEST(DrawStates, BlendGraphRampMatchesTheRule)
{
    const int ranges[] = {2, 3, 40, 64, 65, 100, 128, 129, 200, 255};
    RecordingDeviceScope scope;
    g_DrawState.blendMode = 1;
    for (int range : ranges) {
        for (int border = 0; border < 255; border++) {
            SetDeviceBlendGraph(s_BlendGraph, border, range);
            ApplyDrawStates(NULL, s_Image, 0);
            Ramp expected = ReferenceRamp(range, border);
            DWORD factor = scope.device.renderStates[D3DRS_TEXTUREFACTOR];
            ASSERT_EQ(factor, (DWORD)expected.factorAlpha << 24 | 0xFFFFFF) << range << " " << border;
            ASSERT_EQ(scope.device.stageStates[0][D3DTSS_ALPHAOP], (DWORD)expected.graphOp) << range << " " << border;
            ASSERT_EQ(scope.device.stageStates[1][D3DTSS_ALPHAOP], (DWORD)expected.imageOp) << range << " " << border;
            ASSERT_EQ(scope.device.renderStates[D3DRS_ALPHABLENDENABLE], 1u);
            ASSERT_EQ(scope.device.renderStates[D3DRS_ALPHATESTENABLE], 0u);
        }
    }
    EXPECT_EQ(scope.device.textures[0], s_BlendGraph);
    EXPECT_EQ(scope.device.textures[1], s_Image);
    // The shaders read the factor as floats blue, green, red, alpha.
    const float *constant = g_StateCache.textureFactorConstant;
    EXPECT_FLOAT_EQ(constant[0], 1.0f);
    EXPECT_FLOAT_EQ(constant[3], (float)(scope.device.renderStates[D3DRS_TEXTUREFACTOR] >> 24) / 255.0f);
}

TEST(DrawStates, BlendGraphCutAndSuppression)
{
    const struct {
        int border, alphaChannel, ref, suppress;
    } table[] = {{0, 0, 0, 0}, {0, 1, 1, 0}, {100, 0, 100, 0}, {255, 0, 255, 1}};
    for (const auto &row : table) {
        RecordingDeviceScope scope;
        DrawImageInfo image = {row.alphaChannel, 0};
        SetDeviceBlendGraph(s_BlendGraph, row.border, 0);
        ApplyDrawStates(&image, s_Image, APPLY_USE_TRANSPARENCY);
        auto &d = scope.device;
        EXPECT_EQ(d.renderStates[D3DRS_ALPHATESTENABLE], 1u) << row.border;
        EXPECT_EQ(d.renderStates[D3DRS_ALPHAFUNC], (DWORD)D3DCMP_GREATEREQUAL) << row.border;
        EXPECT_EQ(d.renderStates[D3DRS_ALPHAREF], (DWORD)row.ref) << row.border;
        EXPECT_EQ(d.renderStates[D3DRS_ALPHABLENDENABLE], 0u) << row.border;
        EXPECT_EQ(d.textures[row.alphaChannel ? 2 : 1], s_Image) << "the image follows the alpha stages";
        EXPECT_EQ(g_VertexBatch.suppress, row.suppress) << row.border;
        ReserveBatchVertices(0, VERTEX_PLAIN, D3DPT_TRIANGLELIST, 3);
        CommitBatchVertices(3);
        EXPECT_EQ(FlushVertexBatch(), 0);
        EXPECT_EQ(d.Count("DrawPrimitiveUP"), row.suppress ? 0u : 1u) << "a suppressed batch is emptied undrawn";
        EXPECT_EQ(g_VertexBatch.count, 0);
    }
}

TEST(DrawStates, RenderTargetSetsTheViewport)
{
    RecordingDeviceScope scope;
    StandInSurface surface(320, 200);
    EXPECT_EQ(SetDeviceRenderTarget(&surface), 0);
    EXPECT_EQ(scope.device.renderTargets[0], &surface);
    EXPECT_EQ(scope.device.viewport.Width, 320u);
    EXPECT_EQ(scope.device.viewport.Height, 200u);
    scope.device.ClearCalls();
    EXPECT_EQ(SetDeviceRenderTarget(&surface), 0);
    EXPECT_TRUE(scope.device.calls.empty());
    EXPECT_EQ(SetDeviceRenderTarget(NULL), -1);
}

TEST(DrawStates, CustomRecordIsUsedUntilRemoved)
{
    RecordingDeviceScope scope;
    CustomStageRecord record = {0, 0, D3DCMP_ALWAYS, 1, (int)0x80FFFFFF, D3DBLEND_ZERO, D3DBLEND_ONE, D3DBLENDOP_ADD,
                                2, {}};
    record.entries[0].graph = 12345; // no graph of that handle: no texture
    record.entries[0].stage = Stage(0, D3DTOP_SELECTARG1, D3DTA_TFACTOR, X, D3DTOP_SELECTARG1, D3DTA_TFACTOR, X);
    record.entries[1].stage = {-1, -1, X, X, D3DTOP_DISABLE, X, X, D3DTOP_DISABLE};
    EXPECT_EQ(InstallCustomStageRecord(&record, 0), 0);
    auto &d = scope.device;
    EXPECT_EQ(d.renderStates[D3DRS_SRCBLEND], (DWORD)D3DBLEND_ZERO);
    EXPECT_EQ(d.renderStates[D3DRS_TEXTUREFACTOR], 0x80FFFFFFu);
    EXPECT_EQ(d.stageStates[0][D3DTSS_COLORARG1], (DWORD)D3DTA_TFACTOR);
    g_DrawState.blendMode = 1;
    ApplyDrawStates(NULL, NULL, 0);
    EXPECT_EQ(d.renderStates[D3DRS_SRCBLEND], (DWORD)D3DBLEND_ZERO) << "the custom record stays in force";
    EXPECT_EQ(InstallCustomStageRecord(NULL, 0), 0);
    ApplyDrawStates(NULL, NULL, 0);
    EXPECT_EQ(d.renderStates[D3DRS_SRCBLEND], (DWORD)D3DBLEND_SRCALPHA);
    EXPECT_EQ(d.stageStates[0][D3DTSS_COLORARG2], (DWORD)D3DTA_DIFFUSE);
}

TEST(DeviceDefaults, SeedTheCacheAndLeaveAnEmptyPointBatch)
{
    RecordingDeviceScope scope;
    g_D3D.tempRegisterArgument = 1;
    g_DrawState.filterMode = 1;
    EXPECT_EQ(SetupDeviceDefaults(), 0);
    auto &d = scope.device;
    for (int s = 0; s < 8; s++) {
        EXPECT_EQ(d.samplerStates[s][D3DSAMP_ADDRESSW], (DWORD)D3DTADDRESS_CLAMP) << s;
        EXPECT_EQ(d.samplerStates[s][D3DSAMP_MINFILTER], (DWORD)D3DTEXF_LINEAR) << s;
    }
    const struct {
        D3DRENDERSTATETYPE state;
        DWORD value;
    } states[] = {{D3DRS_CULLMODE, D3DCULL_NONE}, {D3DRS_SHADEMODE, D3DSHADE_FLAT},   {D3DRS_DITHERENABLE, FALSE},
                  {D3DRS_NORMALIZENORMALS, 1},    {D3DRS_FOGVERTEXMODE, D3DFOG_NONE}, {D3DRS_FOGEND, 0x3F800000}};
    for (const auto &row : states) {
        EXPECT_EQ(d.renderStates[row.state], row.value) << row.state;
    }
    for (int stage = 0; stage < 4; stage++) {
        EXPECT_EQ(d.stageStates[stage][D3DTSS_TEXCOORDINDEX], (DWORD)(stage == 1 || stage == 2)) << stage;
        EXPECT_EQ(d.stageStates[stage][D3DTSS_RESULTARG], (DWORD)D3DTA_CURRENT) << stage;
    }
    EXPECT_EQ(d.viewport.Width, 640u) << "the first viewport is the screen";
    EXPECT_EQ(g_StateCache.vertexConstants[0][1], 1.0f);
    EXPECT_EQ(g_StateCache.pixelConstants[0][3], 2.0f);
    EXPECT_EQ(g_VertexBatch.primitive, D3DPT_POINTLIST);
    EXPECT_EQ(FlushVertexBatch(), 0);
    EXPECT_EQ(d.Count("DrawPrimitiveUP"), 0u) << "no stray vertex reaches the first frame";
}

} // namespace
