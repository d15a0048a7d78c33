// Draw-state application: before each device draw the engine's draw settings become device states through the
// state cache. Owns the blend-mode table, the 96 texture-stage records (generated once from the rule that maps
// alpha source, vertex modulation and stage group to stage operations), the custom record the mask code installs,
// the default states pushed after device creation, the render-target switch and the 8x8 white graph. Every device
// change draws the pending batch first. Window thread only.
#include "graphics/graphics_internal.h"

static const unsigned short SKIP = 0xFFFF;

struct Operation {
    unsigned short op, arg1, arg2;
};

// Blend modes 0..15: factors (-1 leaves the device's as they are), stage kind, operation, alpha blending.
struct BlendModeRecord {
    int destBlend, srcBlend, kind, blendOp, blending;
};

static const BlendModeRecord s_BlendModes[16] = {
    {-1, -1, 0, D3DBLENDOP_ADD, 0},
    {D3DBLEND_INVSRCALPHA, D3DBLEND_SRCALPHA, 0, D3DBLENDOP_ADD, 1},
    {D3DBLEND_ONE, D3DBLEND_SRCALPHA, 0, D3DBLENDOP_ADD, 1},
    {D3DBLEND_ZERO, D3DBLEND_INVDESTCOLOR, 0, D3DBLENDOP_ADD, 1},
    {D3DBLEND_SRCCOLOR, D3DBLEND_ZERO, 0, D3DBLENDOP_ADD, 1},
    {D3DBLEND_ONE, D3DBLEND_SRCALPHA, 0, D3DBLENDOP_ADD, 1},
    {-1, -1, 0, D3DBLENDOP_ADD, 0},
    {-1, -1, 0, D3DBLENDOP_ADD, 1},
    {D3DBLEND_ONE, D3DBLEND_ZERO, 0, D3DBLENDOP_ADD, 1},
    {D3DBLEND_ZERO, D3DBLEND_INVDESTCOLOR, 0, D3DBLENDOP_ADD, 1},
    {D3DBLEND_INVSRCALPHA, D3DBLEND_SRCALPHA, 2, D3DBLENDOP_ADD, 1},
    {D3DBLEND_SRCCOLOR, D3DBLEND_ZERO, 1, D3DBLENDOP_ADD, 1},
    {D3DBLEND_INVSRCALPHA, D3DBLEND_SRCALPHA, 3, D3DBLENDOP_ADD, 1},
    {D3DBLEND_ONE, D3DBLEND_SRCALPHA, 3, D3DBLENDOP_ADD, 1},
    {D3DBLEND_ZERO, D3DBLEND_ONE, 0, D3DBLENDOP_ADD, 1},
    {D3DBLEND_ONE, D3DBLEND_SRCALPHA, 0, D3DBLENDOP_REVSUBTRACT, 1},
};

static StageRecord s_StageRecords[STAGE_RECORD_COUNT];
static StageRecord s_UntexturedRecord;
static int s_StageRecordsBuilt;

static CustomStageRecord s_CustomRecord;
static int s_CustomInstalled, s_CustomTexturesOnly;

// ---------------------------------------------------------------------------------------------------------------
// The stage records

static void AddStage(StageRecord *record, int texCoordIndex, Operation color, Operation alpha)
{
    StageEntry entry = {texCoordIndex, 0, alpha.arg1, alpha.arg2, alpha.op, color.arg1, color.arg2, color.op};
    record->entries[record->count++] = entry;
}

// Every record ends with a stage that switches colour and alpha off; it is applied with the record.
static void CloseRecord(StageRecord *record)
{
    record->entries[record->count] = {-1, -1, SKIP, SKIP, D3DTOP_DISABLE, SKIP, SKIP, D3DTOP_DISABLE};
}

static Operation ImageColorTerm(int kind, int modulateColor)
{
    if (kind == 3) {
        return {D3DTOP_MODULATE4X, D3DTA_TEXTURE, D3DTA_DIFFUSE};
    }
    unsigned short texture = kind == 2 ? D3DTA_TEXTURE | D3DTA_COMPLEMENT : D3DTA_TEXTURE;
    return modulateColor ? Operation{D3DTOP_MODULATE, texture, D3DTA_DIFFUSE}
                         : Operation{D3DTOP_SELECTARG1, texture, SKIP};
}

// The image stage; kind 1 blends the result towards white by the current alpha in one more stage.
static void AddImageStage(StageRecord *record, int kind, int modulateColor, int texCoordIndex, Operation alpha)
{
    AddStage(record, texCoordIndex, ImageColorTerm(kind, modulateColor), alpha);
    if (kind == 1) {
        AddStage(record, 1, {D3DTOP_BLENDCURRENTALPHA, D3DTA_CURRENT, D3DTA_TFACTOR},
                 {D3DTOP_SELECTARG1, D3DTA_CURRENT, SKIP});
    }
}

// Group g: stage kind g / 2, with a blend graph on stage 0 when g is odd (groups 3 and 5 follow the same rule
// though no blend mode selects them).
static void BuildStageRecord(StageRecord *record, int alphaSource, int modulateAlpha, int modulateColor, int group)
{
    static const Operation keepCurrent = {D3DTOP_SELECTARG1, D3DTA_CURRENT, SKIP};
    static const Operation vertexAlpha = {D3DTOP_MODULATE, D3DTA_DIFFUSE, D3DTA_CURRENT};
    static const Operation textureAlpha = {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_CURRENT};
    int kind = group / 2;
    record->count = 0;
    if (group % 2 == 0) {
        Operation alpha = alphaSource == 0 ? Operation{D3DTOP_SELECTARG2, SKIP, D3DTA_DIFFUSE}
                          : modulateAlpha  ? Operation{D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE}
                                           : Operation{D3DTOP_SELECTARG1, D3DTA_TEXTURE, SKIP};
        AddImageStage(record, kind, modulateColor, 0, alpha);
        CloseRecord(record);
        return;
    }
    AddStage(record, 0, {D3DTOP_SELECTARG2, SKIP, D3DTA_DIFFUSE}, {D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_TFACTOR});
    if (alphaSource == 0) {
        AddImageStage(record, kind, modulateColor, 1,
                      modulateAlpha ? vertexAlpha : Operation{D3DTOP_MODULATE, D3DTA_CURRENT, D3DTA_DIFFUSE});
    } else if (alphaSource == 1) {
        AddStage(record, 1, keepCurrent, {D3DTOP_MODULATE, D3DTA_SPECULAR, D3DTA_CURRENT});
        AddImageStage(record, kind, modulateColor, 1, textureAlpha);
        if (modulateAlpha) {
            AddStage(record, 0, keepCurrent, vertexAlpha);
        }
    } else {
        AddImageStage(record, kind, modulateColor, 1, textureAlpha);
        if (modulateAlpha) {
            AddStage(record, 1, keepCurrent, vertexAlpha);
        }
    }
    CloseRecord(record);
}

static int StageRecordIndex(int alphaSource, int modulateAlpha, int modulateColor, int group)
{
    return alphaSource + 3 * (modulateAlpha + 2 * (modulateColor + 2 * group));
}

static void BuildStageRecords(void)
{
    for (int group = 0; group < 8; group++) {
        for (int c = 0; c < 2; c++) {
            for (int a = 0; a < 2; a++) {
                for (int s = 0; s < 3; s++) {
                    BuildStageRecord(&s_StageRecords[StageRecordIndex(s, a, c, group)], s, a, c, group);
                }
            }
        }
    }
    s_UntexturedRecord.count = 0;
    AddStage(&s_UntexturedRecord, 0, {D3DTOP_SELECTARG1, D3DTA_DIFFUSE, SKIP},
             {D3DTOP_SELECTARG2, SKIP, D3DTA_DIFFUSE});
    CloseRecord(&s_UntexturedRecord);
    s_StageRecordsBuilt = 1;
}

const StageRecord *GetStageRecord(int index)
{
    if (!s_StageRecordsBuilt) {
        BuildStageRecords();
    }
    if (index == -1) {
        return &s_UntexturedRecord;
    }
    return index >= 0 && index < STAGE_RECORD_COUNT ? &s_StageRecords[index] : NULL;
}

// ---------------------------------------------------------------------------------------------------------------
// Graph textures this file needs: a named graph's, and the 8x8 white graph that kind-3 stages bind when a draw has
// no texture. The white graph is made on first need and goes with the graphs; a graph handle that died is made again.

// An 8x8 run-length-encoded 32-bit TGA of opaque white: one packet of eight pixels per row, then the TGA 2.0 footer.
#define WHITE_ROW 0x87, 0xFF, 0xFF, 0xFF, 0xFF
// clang-format off
static const unsigned char s_WhiteTga[84] = {
    0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 8, 0, 32, 8,
    WHITE_ROW, WHITE_ROW, WHITE_ROW, WHITE_ROW, WHITE_ROW, WHITE_ROW, WHITE_ROW, WHITE_ROW,
    0, 0, 0, 0, 0, 0, 0, 0, 'T', 'R', 'U', 'E', 'V', 'I', 'S', 'I', 'O', 'N', '-', 'X', 'F', 'I', 'L', 'E', '.', 0};
// clang-format on
#undef WHITE_ROW

static EngineHandle s_WhiteGraph = -1;

static EngineHandle MakeWhiteGraph(void)
{
    BaseImage image = {};
    StreamRef stream;
    if (OpenMemoryStreamRef(s_WhiteTga, sizeof s_WhiteTga, &stream) != 0) {
        return -1;
    }
    int decoded = DecodeTgaImage(&stream, &image);
    MemStreamClose(stream.handle);
    if (decoded != 0) {
        return -1;
    }
    uint32_t keptColor = g_GraphCreateSettings.transparentColor;
    g_GraphCreateSettings.transparentColor = 0xFF00FF;
    EngineHandle graph = CreateGraphFromImage(&image, NULL);
    g_GraphCreateSettings.transparentColor = keptColor;
    FreeBaseImageData(&image);
    return graph;
}

IDirect3DBaseTexture9 *ResolveGraphTexture(int graph)
{
    const GraphRecord *record = GetGraphRecord(graph);
    if (record == NULL || record->image == NULL || !record->image->format.deviceTexture ||
        record->image->pieceCount < 1) {
        return NULL;
    }
    return record->image->pieces[0].texture;
}

IDirect3DBaseTexture9 *GetWhiteTexture(void)
{
    if (GetGraphRecord(s_WhiteGraph) == NULL) {
        s_WhiteGraph = MakeWhiteGraph();
    }
    return ResolveGraphTexture(s_WhiteGraph);
}

// ---------------------------------------------------------------------------------------------------------------
// Building the blend set-up of the current inputs

static void CopyStageRecord(CustomStageRecord *setup, const StageRecord *record)
{
    setup->count = record->count;
    for (unsigned int i = 0; i <= record->count && i < 8; i++) {
        setup->entries[i].stage = record->entries[i];
    }
}

static void SetBatchSuppress(int suppress)
{
    if (g_VertexBatch.suppress != suppress) {
        FlushVertexBatch();
        g_VertexBatch.suppress = suppress;
    }
}

static void BuildUntexturedSetup(CustomStageRecord *setup, int blendMode, int kind)
{
    static const Operation colors[4] = {
        {D3DTOP_SELECTARG2, SKIP, D3DTA_DIFFUSE},
        {D3DTOP_BLENDDIFFUSEALPHA, D3DTA_DIFFUSE, D3DTA_TFACTOR},
        {D3DTOP_SELECTARG1, D3DTA_DIFFUSE | D3DTA_COMPLEMENT, SKIP},
        {D3DTOP_MODULATE4X, D3DTA_DIFFUSE, D3DTA_TEXTURE},
    };
    if (blendMode == 3) {
        CopyStageRecord(setup, GetStageRecord(-1));
    } else {
        StageRecord record = {0, {}};
        AddStage(&record, 0, colors[kind], {D3DTOP_SELECTARG2, SKIP, D3DTA_DIFFUSE});
        CloseRecord(&record);
        CopyStageRecord(setup, &record);
        setup->entries[0].texture = kind == 3 ? GetWhiteTexture() : NULL;
    }
    setup->textureFactor = kind == 1 ? (int)0xFFFFFFFF : g_StateCache.textureFactor;
}

static int AlphaSource(int zCountsAsTransparency)
{
    if (g_StateCache.alphaChannel) {
        return 1;
    }
    return g_StateCache.transparentColor || (zCountsAsTransparency && g_StateCache.zEnable) ? 2 : 0;
}

static void UseAlphaBlendingForAlphaImage(CustomStageRecord *setup, const BlendModeRecord *mode)
{
    if (!mode->blending) {
        setup->srcBlend = D3DBLEND_SRCALPHA;
        setup->destBlend = D3DBLEND_INVSRCALPHA;
        setup->alphaBlendEnable = 1;
    }
}

static void BuildTexturedSetup(CustomStageRecord *setup, const BlendModeRecord *mode)
{
    int alphaSource = AlphaSource(1);
    int index = StageRecordIndex(alphaSource, g_StateCache.modulateAlpha, g_StateCache.modulateColor, 2 * mode->kind);
    CopyStageRecord(setup, GetStageRecord(index));
    setup->entries[0].texture = g_StateCache.texture;
    if (g_StateCache.transparentColor) {
        setup->alphaTestEnable = 1;
        setup->alphaRef = 16;
        setup->alphaFunc = D3DCMP_GREATER;
    } else if (g_StateCache.zEnable) {
        setup->alphaTestEnable = 1;
        setup->alphaRef = 0;
        setup->alphaFunc = D3DCMP_GREATER;
    }
    if (g_StateCache.alphaChannel == 1) {
        UseAlphaBlendingForAlphaImage(setup, mode);
    }
}

// The blend graph's ramp: the border parameter moves a threshold through the graph's values; the narrower the
// range, the steeper the ramp (a stronger modulation of the image's alpha).
struct RampBand {
    int scale, threshold, addGain;
    unsigned short imageOp;
};

static void ApplyBlendGraphRamp(CustomStageRecord *setup, int imageStage, int range, int border)
{
    static const RampBand bands[3] = {
        {512, 256, 255, D3DTOP_MODULATE},
        {768, 512, 128, D3DTOP_MODULATE2X},
        {1280, 1024, 64, D3DTOP_MODULATE4X},
    };
    const RampBand *band = &bands[range > 128 ? 0 : range > 64 ? 1 : 2];
    int t = band->scale - border * band->scale / 255;
    int alpha;
    if (t < band->threshold) {
        alpha = 255 - t * 255 / band->threshold;
        setup->entries[0].stage.alphaOp = D3DTOP_SUBTRACT;
    } else {
        alpha = (t - band->threshold) * band->addGain / 256;
        setup->entries[0].stage.alphaOp = D3DTOP_ADD;
    }
    setup->entries[imageStage].stage.alphaOp = band->imageOp;
    setup->textureFactor = (int)((unsigned int)alpha << 24 | 0xFFFFFF);
}

static int BuildBlendGraphSetup(CustomStageRecord *setup, const BlendModeRecord *mode, int blendMode)
{
    int alphaSource = AlphaSource(0);
    int group = blendMode == 12 || blendMode == 13 ? 7 : 1;
    int index = StageRecordIndex(alphaSource, g_StateCache.modulateAlpha, g_StateCache.modulateColor, group);
    CopyStageRecord(setup, GetStageRecord(index));
    int imageStage = alphaSource == 1 ? 2 : 1;
    setup->entries[0].texture = g_StateCache.blendGraphTexture;
    setup->entries[imageStage].texture = g_StateCache.texture;
    int border = g_StateCache.blendGraphBorder;
    int range = g_StateCache.blendGraphRange;
    SetBatchSuppress(border == 255);
    if (range > 1) {
        // A blend mode without blending of its own would leave the factors to chance: use plain alpha blending.
        UseAlphaBlendingForAlphaImage(setup, mode);
        setup->alphaBlendEnable = 1;
        ApplyBlendGraphRamp(setup, imageStage, range, border);
    } else {
        setup->alphaTestEnable = 1;
        setup->alphaRef = border == 0 && (g_StateCache.alphaChannel || g_StateCache.transparentColor) ? 1 : border;
        setup->alphaFunc = D3DCMP_GREATEREQUAL;
        setup->alphaBlendEnable = 0;
        setup->textureFactor = 0x00FFFFFF;
    }
    return imageStage;
}

static int IsTextureArgument(unsigned short argument)
{
    return argument != SKIP && (argument & D3DTA_SELECTMASK) == D3DTA_TEXTURE;
}

// The colour-replacement switch: the image's colour comes from the texture factor (plain draws) or from the
// current colour (blend-graph draws) instead of the texture.
static void ReplaceImageColor(StageEntry *stage, int blendGraph)
{
    unsigned short replacement = blendGraph ? D3DTA_CURRENT : D3DTA_TFACTOR;
    unsigned short *arguments[2] = {&stage->colorArg1, &stage->colorArg2};
    for (unsigned short *argument : arguments) {
        if (IsTextureArgument(*argument)) {
            *argument = (unsigned short)((*argument & ~D3DTA_SELECTMASK) | replacement);
        }
    }
    int modulating =
        stage->colorOp == D3DTOP_MODULATE || stage->colorOp == D3DTOP_MODULATE2X || stage->colorOp == D3DTOP_MODULATE4X;
    if (blendGraph && modulating) {
        stage->colorOp = D3DTOP_SELECTARG2;
    }
}

static void BuildBlendSetup(CustomStageRecord *setup)
{
    int blendMode = g_StateCache.blendMode & 15;
    const BlendModeRecord *mode = &s_BlendModes[blendMode];
    g_StateCache.blendDirty = 0;
    g_StateCache.textureDirty = 0;
    *setup = CustomStageRecord();
    setup->alphaRef = g_StateCache.alphaRef;
    setup->alphaFunc = g_StateCache.alphaFunc;
    setup->alphaBlendEnable = mode->blending;
    setup->destBlend = mode->destBlend;
    setup->srcBlend = mode->srcBlend;
    setup->blendOp = mode->blendOp;
    setup->textureFactor = (int)0xFFFFFFFF;
    if (blendMode == 3 && g_D3D.blendOperations) {
        setup->destBlend = D3DBLEND_ONE;
        setup->srcBlend = D3DBLEND_SRCALPHA;
        setup->blendOp = D3DBLENDOP_REVSUBTRACT;
    }
    int blendGraph = g_StateCache.texture != NULL && g_StateCache.blendGraphTexture != NULL;
    int imageStage = 0;
    if (g_StateCache.texture == NULL) {
        BuildUntexturedSetup(setup, blendMode, mode->kind);
    } else if (!blendGraph) {
        BuildTexturedSetup(setup, mode);
    } else {
        imageStage = BuildBlendGraphSetup(setup, mode, blendMode);
    }
    if (!blendGraph) {
        SetBatchSuppress(0);
    }
    if (g_StateCache.colorReplacement && g_StateCache.texture != NULL) {
        ReplaceImageColor(&setup->entries[imageStage].stage, blendGraph);
    }
    if ((int)setup->count != g_StateCache.samplersInUse) {
        // Samplers newly in use get the current filtering.
        int wasForced = g_StateCache.force;
        g_StateCache.samplersInUse = setup->count;
        g_StateCache.force = 1;
        SetDeviceFilterMode(g_StateCache.filterMode);
        SetDeviceMaxAnisotropy(g_StateCache.maxAnisotropy);
        g_StateCache.force = wasForced;
    }
    setup->count = setup->count + 1 < 8 ? setup->count + 1 : 8;
}

// ---------------------------------------------------------------------------------------------------------------
// Sending a blend set-up

static void SendBlendRenderState(int *copy, D3DRENDERSTATETYPE state, int value)
{
    if (*copy == value && !g_StateCache.force) {
        return;
    }
    FlushVertexBatch();
    g_StateCache.device->SetRenderState(state, value);
    *copy = value;
}

// A blend factor or operation of -1 leaves the device's as it is; under the force flag its copy is sent again.
static void SendBlendFactor(int *copy, D3DRENDERSTATETYPE state, int value)
{
    if (value != -1) {
        SendBlendRenderState(copy, state, value);
    } else if (g_StateCache.force && *copy > 1) {
        g_StateCache.device->SetRenderState(state, *copy);
    }
}

static void SendTextureFactor(int value)
{
    int previous = g_StateCache.textureFactor;
    SendBlendRenderState(&g_StateCache.textureFactor, D3DRS_TEXTUREFACTOR, value);
    if ((previous == value && !g_StateCache.force) || g_StateCache.userConstantSetOnDevice) {
        return;
    }
    unsigned int factor = (unsigned int)value;
    float *floats = g_StateCache.textureFactorConstant;
    for (int i = 0; i < 4; i++) {
        floats[i] = (float)(factor >> (8 * i) & 0xFF) / 255.0f;
    }
    SetPixelShaderConstants(5, 1, floats);
}

static void SendBlendRenderStates(const CustomStageRecord *setup)
{
    SendBlendRenderState(&g_StateCache.alphaFunc, D3DRS_ALPHAFUNC, setup->alphaFunc);
    SendBlendRenderState(&g_StateCache.alphaRef, D3DRS_ALPHAREF, setup->alphaRef);
    SendBlendRenderState(&g_StateCache.alphaTestEnable, D3DRS_ALPHATESTENABLE, setup->alphaTestEnable);
    SendBlendRenderState(&g_StateCache.alphaBlendEnable, D3DRS_ALPHABLENDENABLE, setup->alphaBlendEnable);
    SendTextureFactor(setup->textureFactor);
    SendBlendFactor(&g_StateCache.srcBlend, D3DRS_SRCBLEND, setup->srcBlend);
    SendBlendFactor(&g_StateCache.destBlend, D3DRS_DESTBLEND, setup->destBlend);
    SendBlendFactor(&g_StateCache.blendOp, D3DRS_BLENDOP, setup->blendOp);
}

static int StageValueChanges(int copy, int value, int skip)
{
    return value != skip && (copy != value || g_StateCache.force);
}

static void SendStageState(int stage, D3DTEXTURESTAGESTATETYPE type, DWORD value)
{
    FlushVertexBatch();
    g_StateCache.device->SetTextureStageState(stage, type, value);
}

static void SendStageTexture(int stage, IDirect3DBaseTexture9 *texture)
{
    TextureStageCopy *copy = &g_StateCache.stages[stage];
    if (copy->texture == texture && !g_StateCache.force) {
        return;
    }
    FlushVertexBatch();
    g_StateCache.device->SetTexture(stage, texture);
    copy->texture = texture;
}

static void SendStageOperations(int stage, const StageEntry *entry)
{
    static const struct {
        unsigned short StageEntry::*entry;
        unsigned short TextureStageCopy::*copy;
        D3DTEXTURESTAGESTATETYPE type;
    } operations[6] = {
        {&StageEntry::alphaOp, &TextureStageCopy::alphaOp, D3DTSS_ALPHAOP},
        {&StageEntry::alphaArg1, &TextureStageCopy::alphaArg1, D3DTSS_ALPHAARG1},
        {&StageEntry::alphaArg2, &TextureStageCopy::alphaArg2, D3DTSS_ALPHAARG2},
        {&StageEntry::colorOp, &TextureStageCopy::colorOp, D3DTSS_COLOROP},
        {&StageEntry::colorArg1, &TextureStageCopy::colorArg1, D3DTSS_COLORARG1},
        {&StageEntry::colorArg2, &TextureStageCopy::colorArg2, D3DTSS_COLORARG2},
    };
    TextureStageCopy *copy = &g_StateCache.stages[stage];
    if (g_D3D.tempRegisterArgument && StageValueChanges(copy->resultArgument, entry->resultArgument, -1)) {
        SendStageState(stage, D3DTSS_RESULTARG, entry->resultArgument ? D3DTA_TEMP : D3DTA_CURRENT);
        copy->resultArgument = entry->resultArgument;
    }
    for (const auto &operation : operations) {
        unsigned short value = entry->*operation.entry;
        if (StageValueChanges(copy->*operation.copy, value, SKIP)) {
            SendStageState(stage, operation.type, value);
            copy->*operation.copy = value;
        }
    }
}

static void SendStages(const CustomStageRecord *setup, int texturesOnly)
{
    for (unsigned int i = 0; i < setup->count && i < 8; i++) {
        const StageEntry *entry = &setup->entries[i].stage;
        if (!texturesOnly && i >= 2 && setup->entries[i - 1].stage.alphaOp == D3DTOP_DISABLE) {
            break;
        }
        SendStageTexture(i, setup->entries[i].texture);
        TextureStageCopy *copy = &g_StateCache.stages[i];
        if (StageValueChanges(copy->texCoordIndex, entry->texCoordIndex, -1)) {
            SendStageState(i, D3DTSS_TEXCOORDINDEX, entry->texCoordIndex);
            copy->texCoordIndex = entry->texCoordIndex;
        }
        if (!texturesOnly) {
            SendStageOperations(i, entry);
        }
    }
}

// Only the texture changed since the last full application: bind it to the stage the image uses.
static int BindChangedTexture(void)
{
    int stage = g_StateCache.blendGraphTexture == NULL ? 0 : g_StateCache.alphaChannel != 1 ? 1 : 2;
    SendStageTexture(stage, g_StateCache.texture);
    g_StateCache.textureDirty = 0;
    return 0;
}

static void ResolveCustomRecord(CustomStageRecord *setup, const CustomStageRecord *record, int handles)
{
    *setup = *record;
    if (setup->count > 8) {
        setup->count = 8;
    }
    for (unsigned int i = 0; handles && i < setup->count; i++) {
        setup->entries[i].texture = ResolveGraphTexture(setup->entries[i].graph);
    }
}

int ApplyBlendStageStates(int handles, const void *customRecord, int texturesOnly)
{
    if (g_StateCache.device == NULL) {
        return -1;
    }
    CustomStageRecord setup;
    if (customRecord != NULL || s_CustomInstalled) {
        const CustomStageRecord *record =
            customRecord != NULL ? (const CustomStageRecord *)customRecord : &s_CustomRecord;
        texturesOnly |= customRecord == NULL && s_CustomTexturesOnly;
        ResolveCustomRecord(&setup, record, handles);
        g_StateCache.blendDirty = 0;
        g_StateCache.textureDirty = 0;
    } else if (!g_StateCache.force && !g_StateCache.blendDirty) {
        return g_StateCache.textureDirty ? BindChangedTexture() : -1;
    } else {
        BuildBlendSetup(&setup);
    }
    if (g_StateCache.alphaTestOverrideFunc != -1) {
        setup.alphaTestEnable = 1;
        setup.alphaFunc = g_StateCache.alphaTestOverrideFunc;
        setup.alphaRef = g_StateCache.alphaTestOverrideRef;
    }
    SendBlendRenderStates(&setup);
    SendStages(&setup, texturesOnly);
    return 0;
}

int InstallCustomStageRecord(const CustomStageRecord *record, int texturesOnly)
{
    if (g_StateCache.device == NULL) {
        return -1;
    }
    g_StateCache.blendDirty = 1;
    g_StateCache.textureDirty = 1;
    if (record == NULL) {
        s_CustomInstalled = 0;
        return 0;
    }
    FlushVertexBatch();
    ResolveCustomRecord(&s_CustomRecord, record, 1);
    s_CustomInstalled = 1;
    s_CustomTexturesOnly = texturesOnly;
    return ApplyBlendStageStates(0, NULL, texturesOnly);
}

int ApplyStageRecord(const CustomStageRecord *record, int texturesOnly, int handles)
{
    if (g_StateCache.device == NULL || record == NULL) {
        return -1;
    }
    FlushVertexBatch();
    int result = ApplyBlendStageStates(handles, record, texturesOnly);
    g_StateCache.blendDirty = 1;
    g_StateCache.textureDirty = 1;
    return result;
}

// ---------------------------------------------------------------------------------------------------------------
// Applying the draw settings before one draw

static void UnsetShaders(void)
{
    if (g_StateCache.vertexShader != NULL) {
        FlushVertexBatch();
        g_StateCache.device->SetVertexShader(NULL);
        g_StateCache.vertexShader = NULL;
        g_StateCache.fvf = 0;
    }
    if (g_StateCache.pixelShader != NULL) {
        FlushVertexBatch();
        g_StateCache.device->SetPixelShader(NULL);
        g_StateCache.pixelShader = NULL;
    }
}

static void ApplyLighting(int flags)
{
    if (!(flags & APPLY_3D) || g_DrawState.lightingOff) {
        SetDeviceLighting(0);
        return;
    }
    PushChangedLights();
    SetDeviceLighting(1);
    PushMaterial();
    SetDeviceDiffuseMaterialSource(!g_DrawState.materialDiffuse);
    SetDeviceSpecularMaterialSource(!g_DrawState.materialSpecular);
}

static void ApplyZSettings(int flags)
{
    const ZSettings *z = (flags & APPLY_Z_3D) ? &g_DrawState.z3D : &g_DrawState.z2D;
    if (!z->enable) {
        SetDeviceZEnable(0);
        return;
    }
    SetDeviceZEnable(z->enable);
    SetDeviceZWrite(z->write);
    SetDeviceZFunc(z->function);
    SetDeviceDepthBias(z->depthBias);
}

static void ApplyBlendInputs(const DrawImageInfo *image, IDirect3DBaseTexture9 *texture, int flags)
{
    int blendMode = g_DrawState.blendMode;
    int alphaChannel = 0, transparentColor = 0;
    if (image != NULL && texture != NULL && (flags & APPLY_USE_TRANSPARENCY) &&
        (image->alphaChannel || image->transparentColor)) {
        // Under linear filtering a colour key would leave fringes: such an image blends by its alpha instead.
        int keyStaysTest = (flags & APPLY_WHOLE_PIXELS) || g_DrawState.filterMode != 1;
        if ((blendMode == 0 || blendMode == 8) && keyStaysTest) {
            alphaChannel = image->alphaChannel;
            transparentColor = image->transparentColor;
        } else {
            alphaChannel = 1;
        }
    }
    int modulateColor = (flags & APPLY_MODULATE_COLOR) || (g_DrawState.brightness & 0xFFFFFF) != 0xFFFFFF;
    int modulateAlpha = (flags & APPLY_MODULATE_ALPHA) || blendMode != 0 || g_DrawState.vertexAlphaInMode0;
    if (modulateColor != g_StateCache.modulateColor || modulateAlpha != g_StateCache.modulateAlpha) {
        FlushVertexBatch();
        g_StateCache.modulateColor = modulateColor;
        g_StateCache.modulateAlpha = modulateAlpha;
        g_StateCache.blendDirty = 1;
    }
    SetDeviceTexture(texture);
    if (g_DrawState.colorReplacement != g_StateCache.colorReplacement) {
        FlushVertexBatch();
        g_StateCache.colorReplacement = g_DrawState.colorReplacement;
        g_StateCache.blendDirty = 1;
    }
    SetDeviceBlendMode(blendMode, transparentColor, alphaChannel);
    SetDeviceAlphaTest(g_DrawState.alphaTestFunc, g_DrawState.alphaTestRef);
    if (g_StateCache.blendDirty || g_StateCache.textureDirty) {
        ApplyBlendStageStates(0, NULL, 0);
    }
}

static void ApplyAddressModes(int flags)
{
    if (flags & APPLY_ADDRESS_FROM_STATE) {
        for (int s = 0; s < 8; s++) {
            SetDeviceTextureAddressU(s, g_DrawState.addressU[s]);
            SetDeviceTextureAddressV(s, g_DrawState.addressV[s]);
        }
        return;
    }
    for (int s = 0; s < 4; s++) {
        const SamplerCopy *copy = &g_StateCache.samplers[s];
        if (copy->addressU != D3DTADDRESS_CLAMP || copy->addressV != D3DTADDRESS_CLAMP) {
            SetDeviceTextureAddress(s, D3DTADDRESS_CLAMP);
        }
    }
}

void ApplyDrawStates(const DrawImageInfo *image, IDirect3DBaseTexture9 *texture, int flags)
{
    if (g_StateCache.device == NULL) {
        return;
    }
    if (!(flags & APPLY_KEEP_SHADERS)) {
        UnsetShaders();
    }
    ApplyLighting(flags);
    SetDeviceSpecularEnable((flags & APPLY_SPECULAR) && g_DrawState.specular);
    ApplyZSettings(flags);
    SetDeviceFillMode(g_DrawState.fillMode);
    SetDeviceFogEnable((flags & APPLY_FOG) ? g_DrawState.fogEnable : 0);
    if (!(flags & APPLY_SKIP_BLEND)) {
        ApplyBlendInputs(image, texture, flags);
    }
    SetDeviceShadeMode((flags & APPLY_GOURAUD) ? D3DSHADE_GOURAUD : D3DSHADE_FLAT);
    SetDeviceFilterMode(g_DrawState.filterMode);
    SetDeviceMaxAnisotropy(g_DrawState.maxAnisotropy);
    SetDeviceCullMode(g_DrawState.cullMode);
    SendTextureTransformIfPending();
    ApplyAddressModes(flags);
}

// ---------------------------------------------------------------------------------------------------------------
// Defaults after device creation, and the render target

// Every stage's operations and arguments as a new device has them, sent and copied: a record that leaves an argument
// as it is must find in the copy what the device really holds (stage 1's alpha argument 2 is CURRENT, not 0).
static void SendDefaultStageOperations(IDirect3DDevice9 *device)
{
    for (int s = 0; s < 8; s++) {
        TextureStageCopy *copy = &g_StateCache.stages[s];
        copy->colorOp = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        copy->alphaOp = s == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        copy->colorArg1 = copy->alphaArg1 = D3DTA_TEXTURE;
        copy->colorArg2 = copy->alphaArg2 = D3DTA_CURRENT;
        device->SetTextureStageState(s, D3DTSS_COLOROP, copy->colorOp);
        device->SetTextureStageState(s, D3DTSS_ALPHAOP, copy->alphaOp);
        device->SetTextureStageState(s, D3DTSS_COLORARG1, copy->colorArg1);
        device->SetTextureStageState(s, D3DTSS_ALPHAARG1, copy->alphaArg1);
        device->SetTextureStageState(s, D3DTSS_COLORARG2, copy->colorArg2);
        device->SetTextureStageState(s, D3DTSS_ALPHAARG2, copy->alphaArg2);
    }
}

int ApplyDefaultDeviceStates(void)
{
    static const int texCoordIndexes[4] = {0, 1, 1, 0};
    static const float vertexRegister0[4] = {0.0f, 1.0f, 0.0f, 0.0f};
    static const float pixelRegister0[4] = {0.0f, 0.5f, 1.0f, 2.0f};
    IDirect3DDevice9 *device = g_StateCache.device;
    if (device == NULL) {
        return -1;
    }
    FlushVertexBatch();
    SendDefaultStageOperations(device);
    for (int s = 0; s < 4; s++) {
        device->SetSamplerState(s, D3DSAMP_ADDRESSU, g_StateCache.samplers[s].addressU);
        device->SetSamplerState(s, D3DSAMP_ADDRESSV, g_StateCache.samplers[s].addressV);
        device->SetTextureStageState(s, D3DTSS_TEXCOORDINDEX, texCoordIndexes[s]);
        g_StateCache.stages[s].texCoordIndex = texCoordIndexes[s];
        if (g_D3D.tempRegisterArgument) {
            device->SetTextureStageState(s, D3DTSS_RESULTARG, D3DTA_CURRENT);
            g_StateCache.stages[s].resultArgument = 0;
        }
    }
    device->SetRenderState(D3DRS_SHADEMODE, g_StateCache.shadeMode);
    device->SetRenderState(D3DRS_LIGHTING, g_StateCache.lighting);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    g_StateCache.cullMode = 0; // the copy follows the device, so a later cull setting is not dropped
    device->SetRenderState(D3DRS_DITHERENABLE, FALSE);
    SetVertexShaderConstants(0, 1, vertexRegister0);
    SetPixelShaderConstants(0, 1, pixelRegister0);
    UnsetShaders();
    g_StateCache.fvf = 0;
    return 0;
}

int SetDeviceRenderTarget(IDirect3DSurface9 *surface)
{
    if (g_StateCache.device == NULL || surface == NULL) {
        return -1;
    }
    if (g_StateCache.renderTarget == surface && !g_StateCache.force) {
        return 0;
    }
    FlushVertexBatch();
    g_StateCache.device->SetRenderTarget(0, surface);
    g_StateCache.renderTarget = surface;
    D3DSURFACE_DESC description;
    if (FAILED(surface->GetDesc(&description))) {
        return -1;
    }
    g_StateCache.targetWidth = description.Width;
    g_StateCache.targetHeight = description.Height;
    return SetDeviceViewportRect(0, 0, description.Width, description.Height);
}
