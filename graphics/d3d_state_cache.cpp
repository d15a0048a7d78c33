// Direct3D device state cache: every render, sampler and texture-stage state, transform, shader constant,
// viewport and scissor rectangle the engine sends goes through these setters. Each keeps a copy of the value last
// sent and drops a call that would not change it (unless the force flag asks for a full re-send), and draws the
// pending vertex batch before it changes anything, so that batched vertices keep the states they were batched
// under. The blend setters only record their inputs; the draw-state application turns them into device states.
// Without a device nothing is sent and no copy changes. Window thread only.
#include "graphics/graphics_internal.h"

#include <string.h>

DeviceStateCache g_StateCache;

static const float s_EulerNumber = 2.7182817f;
static const int s_FogRegister = 10;
static const int s_ProjectionRegister = 2;
static const int s_ViewRegister = 6;

static int Unchanged(int copy, int value)
{
    return copy == value && !g_StateCache.force;
}

// The common path of a cached render state: compare, draw what is pending, send, keep the copy.
static int SendRenderState(int *copy, int value, D3DRENDERSTATETYPE state, DWORD deviceValue, int noDeviceResult)
{
    if (g_StateCache.device == NULL) {
        return noDeviceResult;
    }
    if (Unchanged(*copy, value)) {
        return 0;
    }
    FlushVertexBatch();
    HRESULT result = g_StateCache.device->SetRenderState(state, deviceValue);
    *copy = value;
    return FAILED(result) ? -1 : 0;
}

static DWORD FloatBits(float value)
{
    DWORD bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

// ---------------------------------------------------------------------------------------------------------------
// Samplers

static int SendSamplerState(int sampler, int *copy, D3DSAMPLERSTATETYPE state, int value)
{
    if (Unchanged(*copy, value)) {
        return 0;
    }
    FlushVertexBatch();
    HRESULT result = g_StateCache.device->SetSamplerState(sampler, state, value);
    *copy = value;
    return FAILED(result) ? -1 : 0;
}

int SetDeviceFilterMode(int mode)
{
    static const int filters[3][3] = {
        {D3DTEXF_POINT, D3DTEXF_POINT, D3DTEXF_NONE},
        {D3DTEXF_LINEAR, D3DTEXF_LINEAR, D3DTEXF_NONE},
        {D3DTEXF_LINEAR, D3DTEXF_ANISOTROPIC, D3DTEXF_LINEAR},
    };
    if (g_StateCache.device == NULL || mode < 0 || mode > 2) {
        return -1;
    }
    for (int s = 0; s < g_StateCache.samplersInUse; s++) {
        SamplerCopy *copy = &g_StateCache.samplers[s];
        SendSamplerState(s, &copy->magFilter, D3DSAMP_MAGFILTER, filters[mode][0]);
        SendSamplerState(s, &copy->minFilter, D3DSAMP_MINFILTER, filters[mode][1]);
        SendSamplerState(s, &copy->mipFilter, D3DSAMP_MIPFILTER, filters[mode][2]);
    }
    g_StateCache.filterMode = mode;
    return 0;
}

// A re-made device starts at anisotropy 1, so the force flag is honoured here like everywhere else.
int SetDeviceMaxAnisotropy(int level)
{
    if (g_StateCache.device == NULL) {
        return -1;
    }
    if (level < 1) {
        level = 1;
    }
    for (int s = 0; s < g_StateCache.samplersInUse; s++) {
        SendSamplerState(s, &g_StateCache.samplers[s].maxAnisotropy, D3DSAMP_MAXANISOTROPY, level);
    }
    g_StateCache.maxAnisotropy = level;
    return 0;
}

static int *AddressCopy(int sampler, int coordinate)
{
    SamplerCopy *copy = &g_StateCache.samplers[sampler];
    return coordinate == 0 ? &copy->addressU : coordinate == 1 ? &copy->addressV : &copy->addressW;
}

// Sends the address mode for the coordinates in `mask` (1 U, 2 V, 4 W) of one sampler, or of all eight from 7
// down for -1. Nothing is sent when every named copy already holds the mode.
static int SetAddressModes(int sampler, int mode, int mask)
{
    static const D3DSAMPLERSTATETYPE states[3] = {D3DSAMP_ADDRESSU, D3DSAMP_ADDRESSV, D3DSAMP_ADDRESSW};
    if (g_StateCache.device == NULL) {
        return 0;
    }
    if (sampler < -1 || sampler > 7) {
        return -1;
    }
    int first = sampler == -1 ? 7 : sampler;
    int last = sampler == -1 ? 0 : sampler;
    int changed = g_StateCache.force;
    for (int s = first; s >= last; s--) {
        for (int c = 0; c < 3; c++) {
            changed |= (mask >> c & 1) && *AddressCopy(s, c) != mode;
        }
    }
    if (!changed) {
        return 0;
    }
    FlushVertexBatch();
    HRESULT result = D3D_OK;
    for (int s = first; s >= last; s--) {
        for (int c = 0; c < 3; c++) {
            if (mask >> c & 1) {
                result = g_StateCache.device->SetSamplerState(s, states[c], mode);
                *AddressCopy(s, c) = mode;
            }
        }
    }
    return FAILED(result) ? -1 : 0;
}

int SetDeviceTextureAddress(int sampler, int mode)
{
    return SetAddressModes(sampler, mode, 7);
}

int SetDeviceTextureAddressU(int sampler, int mode)
{
    return SetAddressModes(sampler, mode, 1);
}

int SetDeviceTextureAddressV(int sampler, int mode)
{
    return SetAddressModes(sampler, mode, 2);
}

int SetDeviceTextureAddressW(int sampler, int mode)
{
    return SetAddressModes(sampler, mode, 4);
}

// ---------------------------------------------------------------------------------------------------------------
// Deferred blend inputs: recorded here, turned into device states before the next draw.

int SetDeviceBlendMode(int blendMode, int transparentColor, int alphaChannel)
{
    if (g_StateCache.device == NULL) {
        return -1;
    }
    g_StateCache.blendMode = blendMode;
    g_StateCache.transparentColor = transparentColor;
    g_StateCache.alphaChannel = alphaChannel;
    g_StateCache.blendDirty = 1;
    return 0;
}

int SetDeviceAlphaTest(int function, int reference)
{
    if (g_StateCache.device == NULL) {
        return -1;
    }
    g_StateCache.alphaTestOverrideFunc = function;
    g_StateCache.alphaTestOverrideRef = reference;
    g_StateCache.blendDirty = 1;
    return 0;
}

int SetDeviceTexture(IDirect3DBaseTexture9 *texture)
{
    if (g_StateCache.device == NULL) {
        return -1;
    }
    if (g_StateCache.texture == texture && !g_StateCache.force) {
        return 0;
    }
    FlushVertexBatch();
    if ((g_StateCache.texture == NULL) != (texture == NULL)) {
        g_StateCache.blendDirty = 1;
    }
    g_StateCache.texture = texture;
    g_StateCache.textureDirty = 1;
    return 0;
}

int SetDeviceBlendGraph(IDirect3DBaseTexture9 *texture, int border, int range)
{
    if (g_StateCache.device == NULL) {
        return -1;
    }
    int same = texture != NULL ? texture == g_StateCache.blendGraphTexture && border == g_StateCache.blendGraphBorder &&
                                     range == g_StateCache.blendGraphRange
                               : g_StateCache.blendGraphTexture == NULL;
    if (same && !g_StateCache.force) {
        return 0;
    }
    FlushVertexBatch();
    g_StateCache.blendGraphTexture = texture;
    if (border != -1) {
        g_StateCache.blendGraphBorder = border;
    }
    if (range != -1) {
        g_StateCache.blendGraphRange = range;
    }
    g_StateCache.blendDirty = 1;
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Plain render states

int SetDeviceZEnable(int flag)
{
    int value = flag == 1 ? 1 : 0;
    return SendRenderState(&g_StateCache.zEnable, value, D3DRS_ZENABLE, value, -1);
}

int SetDeviceZWrite(int value)
{
    return SendRenderState(&g_StateCache.zWrite, value, D3DRS_ZWRITEENABLE, value, -1);
}

int SetDeviceZFunc(int function)
{
    return SendRenderState(&g_StateCache.zFunc, function, D3DRS_ZFUNC, function, -1);
}

int SetDeviceDepthBias(int floatBits)
{
    return SendRenderState(&g_StateCache.depthBias, floatBits, D3DRS_DEPTHBIAS, floatBits, -1);
}

int SetDeviceFillMode(int mode)
{
    return SendRenderState(&g_StateCache.fillMode, mode, D3DRS_FILLMODE, mode, -1);
}

int SetDeviceShadeMode(int mode)
{
    return SendRenderState(&g_StateCache.shadeMode, mode, D3DRS_SHADEMODE, mode, -1);
}

int SetDeviceDiffuseMaterialSource(int flag)
{
    return SendRenderState(&g_StateCache.diffuseMaterialSource, flag, D3DRS_DIFFUSEMATERIALSOURCE,
                           flag ? D3DMCS_COLOR1 : D3DMCS_MATERIAL, 0);
}

int SetDeviceSpecularMaterialSource(int flag)
{
    return SendRenderState(&g_StateCache.specularMaterialSource, flag, D3DRS_SPECULARMATERIALSOURCE,
                           flag ? D3DMCS_COLOR2 : D3DMCS_MATERIAL, 0);
}

int SetDeviceSpecularEnable(int flag)
{
    return SendRenderState(&g_StateCache.specularEnable, flag, D3DRS_SPECULARENABLE, flag, 0);
}

int SetDeviceCullMode(int mode)
{
    DWORD cull = mode == 0 ? D3DCULL_NONE : mode == 2 ? D3DCULL_CW : D3DCULL_CCW;
    return SendRenderState(&g_StateCache.cullMode, mode, D3DRS_CULLMODE, cull, 0);
}

// Lighting and fog also choose the built-in shaders, so the selection follows the copy before the device call.
static int SetShaderSelectingState(int *copy, D3DRENDERSTATETYPE state, int value)
{
    if (g_StateCache.device == NULL || Unchanged(*copy, value)) {
        return 0;
    }
    FlushVertexBatch();
    *copy = value;
    UpdateShaderSelection();
    return FAILED(g_StateCache.device->SetRenderState(state, value)) ? -1 : 0;
}

int SetDeviceLighting(int flag)
{
    return SetShaderSelectingState(&g_StateCache.lighting, D3DRS_LIGHTING, flag);
}

int SetDeviceFogEnable(int flag)
{
    return SetShaderSelectingState(&g_StateCache.fogEnable, D3DRS_FOGENABLE, flag);
}

int SetDeviceFogMode(int mode)
{
    if (g_StateCache.device == NULL || Unchanged(g_StateCache.fogMode, mode)) {
        return 0;
    }
    FlushVertexBatch();
    HRESULT result = g_StateCache.device->SetRenderState(D3DRS_FOGVERTEXMODE, mode);
    g_StateCache.fogMode = mode;
    if (g_StateCache.shadersAvailable) {
        BOOL modes[4] = {mode == D3DFOG_LINEAR, mode == D3DFOG_EXP, mode == D3DFOG_EXP2, mode != D3DFOG_NONE};
        SwitchShaderConstantSet(0);
        g_StateCache.device->SetVertexShaderConstantB(0, modes, 4);
    }
    UpdateShaderSelection();
    return FAILED(result) ? -1 : 0;
}

int SetDeviceFogColor(int color)
{
    return SendRenderState(&g_StateCache.fogColor, color, D3DRS_FOGCOLOR, color, 0);
}

// Vertex register 10 carries what the built-in shaders need for the three fog formulas.
static void SendFogRegister(void)
{
    float range = g_StateCache.fogEnd - g_StateCache.fogStart;
    float values[4] = {g_StateCache.fogEnd / range, -1.0f / range, g_StateCache.fogDensity, s_EulerNumber};
    SetVertexShaderConstants(s_FogRegister, 1, values);
}

static int SendFogFloat(float *copy, float value, D3DRENDERSTATETYPE state)
{
    if (*copy == value && !g_StateCache.force) {
        return 0;
    }
    HRESULT result = g_StateCache.device->SetRenderState(state, FloatBits(value));
    *copy = value;
    SendFogRegister();
    return FAILED(result) ? -1 : 0;
}

int SetDeviceFogStartEnd(float start, float end)
{
    if (g_StateCache.device == NULL) {
        return 0;
    }
    FlushVertexBatch();
    int startResult = SendFogFloat(&g_StateCache.fogStart, start, D3DRS_FOGSTART);
    int endResult = SendFogFloat(&g_StateCache.fogEnd, end, D3DRS_FOGEND);
    return startResult | endResult;
}

int SetDeviceFogDensity(float density)
{
    if (g_StateCache.device == NULL) {
        return 0;
    }
    FlushVertexBatch();
    return SendFogFloat(&g_StateCache.fogDensity, density, D3DRS_FOGDENSITY);
}

int SetDeviceFVF(DWORD fvf)
{
    if (g_StateCache.device == NULL) {
        return -1;
    }
    if (g_StateCache.fvf == fvf && !g_StateCache.force) {
        return 0;
    }
    FlushVertexBatch();
    g_StateCache.fvf = fvf;
    return FAILED(g_StateCache.device->SetFVF(fvf)) ? -1 : 0;
}

int ResetTexCoordIndexes(void)
{
    if (g_StateCache.device == NULL) {
        return 0;
    }
    for (int stage = 0; stage < 8; stage++) {
        if (Unchanged(g_StateCache.stages[stage].texCoordIndex, stage)) {
            continue;
        }
        FlushVertexBatch();
        g_StateCache.device->SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, stage);
        g_StateCache.stages[stage].texCoordIndex = stage;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Texture-coordinate transforms. A re-made device has every transform disabled, so a forced call re-sends the
// flags of an enabled stage as well as its matrix.

static void SendTextureTransform(int stage, int enable, const Matrix4 *matrix)
{
    int *copy = &g_StateCache.textureTransformEnable[stage];
    if (!enable && !*copy && !g_StateCache.force) {
        return;
    }
    FlushVertexBatch();
    IDirect3DDevice9 *device = g_StateCache.device;
    D3DTEXTURESTAGESTATETYPE flags = D3DTSS_TEXTURETRANSFORMFLAGS;
    if (enable) {
        if (!*copy || g_StateCache.force) {
            device->SetTextureStageState(stage, flags, D3DTTFF_COUNT3);
        }
        device->SetTransform((D3DTRANSFORMSTATETYPE)(D3DTS_TEXTURE0 + stage), (const D3DMATRIX *)matrix);
    } else {
        device->SetTextureStageState(stage, flags, D3DTTFF_DISABLE);
    }
    *copy = enable;
    g_StateCache.textureTransform[stage] = *matrix;
}

int SetDeviceTextureTransform(int stage, int enable, const Matrix4 *matrix)
{
    if (g_StateCache.device == NULL || matrix == NULL || stage < -1) {
        return -1;
    }
    if (stage >= 8) {
        return 0;
    }
    int first = stage == -1 ? 0 : stage;
    int last = stage == -1 ? 3 : stage;
    for (int s = first; s <= last; s++) {
        SendTextureTransform(s, enable, matrix);
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Viewport and scissor: neither may change inside an open scene; the next flush opens it again.

static int SameViewport(const D3DVIEWPORT9 *a, const D3DVIEWPORT9 *b)
{
    return a->X == b->X && a->Y == b->Y && a->Width == b->Width && a->Height == b->Height;
}

int SetDeviceViewport(const D3DVIEWPORT9 *viewport)
{
    if (g_StateCache.device == NULL || viewport == NULL) {
        return -1;
    }
    if (SameViewport(&g_StateCache.viewport, viewport) && !g_StateCache.force) {
        return 0;
    }
    FlushVertexBatch();
    EndSceneIfNeeded();
    HRESULT result = g_StateCache.device->SetViewport(viewport);
    if (FAILED(result)) {
        LogFormatLine("ビューポートのセットに失敗しました ErrorCode %x", (unsigned)result);
        return -1;
    }
    g_StateCache.viewport = *viewport;
    return 0;
}

int SetDeviceViewportRect(int x1, int y1, int x2, int y2)
{
    D3DVIEWPORT9 viewport = {(DWORD)x1, (DWORD)y1, (DWORD)(x2 - x1), (DWORD)(y2 - y1), 0.0f, 1.0f};
    return SetDeviceViewport(&viewport);
}

int SetDeviceScissorRect(const RECT *rect)
{
    if (g_StateCache.device == NULL || rect == NULL) {
        return -1;
    }
    if (EqualRect(&g_StateCache.scissor, rect) && !g_StateCache.force) {
        return 0;
    }
    FlushVertexBatch();
    EndSceneIfNeeded();
    g_StateCache.device->SetScissorRect(rect);
    g_StateCache.scissor = *rect;
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Shader constants. The shadows always follow the engine's writes; the device gets them only when shaders are in
// use, and only after the engine's own set is back on it.

static int SetShaderConstants(float (*shadow)[4], int registers, int first, int count, const float *data, int vertex)
{
    if (data == NULL || first < 0 || count < 0 || count > registers - first) {
        return -1;
    }
    memcpy(shadow[first], data, (size_t)count * sizeof shadow[0]);
    if (g_StateCache.device == NULL || !g_StateCache.shadersAvailable) {
        return 0;
    }
    SwitchShaderConstantSet(0);
    HRESULT result = vertex ? g_StateCache.device->SetVertexShaderConstantF(first, data, count)
                            : g_StateCache.device->SetPixelShaderConstantF(first, data, count);
    return FAILED(result) ? -1 : 0;
}

int SetVertexShaderConstants(int first, int count, const float *data)
{
    return SetShaderConstants(g_StateCache.vertexConstants, 256, first, count, data, 1);
}

int SetPixelShaderConstants(int first, int count, const float *data)
{
    return SetShaderConstants(g_StateCache.pixelConstants, 32, first, count, data, 0);
}

static void SendUserConstantRange(int index)
{
    const UserConstantRange *range = &g_StateCache.userConstantRanges[index];
    if (range->count == 0) {
        return;
    }
    IDirect3DDevice9 *device = g_StateCache.device;
    UINT first = range->first, count = range->count;
    switch (index) {
    case USER_VERTEX_FLOAT:
        device->SetVertexShaderConstantF(first, g_StateCache.userVertexFloat[first], count);
        break;
    case USER_VERTEX_INT:
        device->SetVertexShaderConstantI(first, g_StateCache.userVertexInt[first], count);
        break;
    case USER_VERTEX_BOOL:
        device->SetVertexShaderConstantB(first, &g_StateCache.userVertexBool[first], count);
        break;
    case USER_PIXEL_FLOAT:
        device->SetPixelShaderConstantF(first, g_StateCache.userPixelFloat[first], count);
        break;
    case USER_PIXEL_INT:
        device->SetPixelShaderConstantI(first, g_StateCache.userPixelInt[first], count);
        break;
    default:
        device->SetPixelShaderConstantB(first, &g_StateCache.userPixelBool[first], count);
        break;
    }
}

int SwitchShaderConstantSet(int userSet)
{
    if (g_StateCache.device == NULL || !g_StateCache.shadersAvailable ||
        g_StateCache.userConstantSetOnDevice == userSet) {
        return 0;
    }
    if (userSet) {
        for (int index = 0; index < USER_CONSTANT_RANGE_COUNT; index++) {
            SendUserConstantRange(index);
        }
    } else {
        g_StateCache.device->SetVertexShaderConstantF(0, g_StateCache.vertexConstants[0], 256);
        g_StateCache.device->SetPixelShaderConstantF(0, g_StateCache.pixelConstants[0], 32);
    }
    g_StateCache.userConstantSetOnDevice = userSet;
    return 0;
}

// The built-in shader packs are laid out by lighting, fog and the types of the first three lights.
int UpdateShaderSelection(void)
{
    if (!g_StateCache.shadersAvailable) {
        return 0;
    }
    int lighting = g_StateCache.lighting ? 1 : 0;
    int anyLight = 0, types[3];
    for (int i = 0; i < 3; i++) {
        const ShaderLightSlot *light = &g_StateCache.shaderLights[i];
        types[i] = lighting && light->enabled ? light->type : 0;
        anyLight |= lighting && light->enabled;
    }
    int fog = g_StateCache.fogEnable ? g_StateCache.fogMode : 0;
    int vertexIndex = anyLight + 6 * lighting;
    int pixelIndex = anyLight + 4 * lighting;
    vertexIndex = vertexIndex * 8 + fog;
    for (int i = 0; i < 3; i++) {
        int kind = types[i] == D3DLIGHT_DIRECTIONAL ? 2 : types[i] != 0 ? 1 : 0;
        vertexIndex = vertexIndex * 4 + types[i];
        pixelIndex = pixelIndex * (i == 0 ? 6 : 3) + kind;
    }
    g_StateCache.vertexShaderIndex = vertexIndex * 8;
    g_StateCache.pixelShaderIndex = pixelIndex * 8;
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Transforms: not cached (the callers flush); the built-in shaders read them transposed from vertex registers.

static void SendTransposed(int firstRegister, const Matrix4 *matrix)
{
    Matrix4 transposed;
    TransposeMatrix(&transposed, matrix);
    SetVertexShaderConstants(firstRegister, 4, transposed.m);
}

static void TransformRow(float out[4], const float in[3], float w, const Matrix4 *m)
{
    for (int column = 0; column < 4; column++) {
        out[column] =
            in[0] * m->m[column] + in[1] * m->m[4 + column] + in[2] * m->m[8 + column] + w * m->m[12 + column];
    }
    out[3] = w;
}

int SetDeviceWorldMatrix(const Matrix4 *matrix)
{
    if (g_StateCache.device == NULL || matrix == NULL) {
        return 0;
    }
    g_StateCache.device->SetTransform(D3DTS_WORLD, (const D3DMATRIX *)matrix);
    return 0;
}

int SetDeviceViewMatrix(const Matrix4 *matrix)
{
    if (g_StateCache.device == NULL || matrix == NULL) {
        return 0;
    }
    SwitchShaderConstantSet(0);
    g_StateCache.device->SetTransform(D3DTS_VIEW, (const D3DMATRIX *)matrix);
    SendTransposed(s_ViewRegister, matrix);
    for (int slot = 0; slot < 4; slot++) {
        SendShaderLightPlacement(slot, matrix);
    }
    return 0;
}

int SendShaderLightPlacement(int slot, const Matrix4 *view)
{
    const ShaderLightSlot *light = &g_StateCache.shaderLights[slot];
    float registers[2][4];
    TransformRow(registers[0], light->position, 1.0f, view);
    TransformRow(registers[1], light->direction, 0.0f, view);
    return SetVertexShaderConstants(LIGHT_VERTEX_REGISTER_FIRST + slot * LIGHT_VERTEX_REGISTER_STRIDE, 2, registers[0]);
}

int SetDeviceProjectionMatrix(const Matrix4 *matrix)
{
    if (g_StateCache.device == NULL || matrix == NULL) {
        return 0;
    }
    g_StateCache.device->SetTransform(D3DTS_PROJECTION, (const D3DMATRIX *)matrix);
    SendTransposed(s_ProjectionRegister, matrix);
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Full re-send after the device is made again: every copy goes out under the force flag.

int ReissueDeviceStates(void)
{
    if (g_StateCache.device == NULL) {
        return 0;
    }
    int wasForced = g_StateCache.force;
    g_StateCache.force = 1;
    D3DVIEWPORT9 viewport = g_StateCache.viewport;
    RECT scissor = g_StateCache.scissor;
    int cullMode = g_StateCache.cullMode; // the defaults switch culling off
    SetDeviceViewport(&viewport);
    SetDeviceScissorRect(&scissor);
    ApplyDefaultDeviceStates();
    SetDeviceFilterMode(g_StateCache.filterMode);
    ApplyBlendStageStates(0, NULL, 0);
    SetDeviceZEnable(g_StateCache.zEnable);
    SetDeviceZWrite(g_StateCache.zWrite);
    SetDeviceZFunc(g_StateCache.zFunc);
    SetDeviceDepthBias(g_StateCache.depthBias);
    SetDeviceFillMode(g_StateCache.fillMode);
    SetDeviceCullMode(cullMode);
    SetDeviceShadeMode(g_StateCache.shadeMode);
    PushMaterial();
    SetDeviceSpecularEnable(g_StateCache.specularEnable);
    SetDeviceDiffuseMaterialSource(g_StateCache.diffuseMaterialSource);
    SetDeviceSpecularMaterialSource(g_StateCache.specularMaterialSource);
    g_StateCache.force = wasForced;
    return 0;
}
