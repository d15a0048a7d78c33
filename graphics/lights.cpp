// Lights and the material: the light handle table with its default directional light, the push of changed lights
// to the device before 3D draws (directional, then spot, then point lights take the device indices), the device
// light cache, the material and the global ambient colour with the shader constants the built-in shaders read;
// and the camera's projection setters.
// Window thread only.
#include "graphics/graphics_internal.h"

#include <math.h>
#include <string.h>

#define LIGHT_SLOT_COUNT 4096
#define DEVICE_LIGHT_COUNT 256
#define SHADER_LIGHT_COUNT 4

// Shader constant layout per light below 4: vertex floats 14 + 7 x index hold position and direction (view space),
// diffuse, specular, ambient x material ambient, {range squared, attenuation 0, 1, 2} and {cos theta/2, cos phi/2,
// 1 / their difference, falloff}; pixel floats 9 + 3 x index hold diffuse, specular and the ambient product.
static const int s_PixelLightFirst = 9, s_PixelLightStride = 3;
static const int s_AmbientVector = 4, s_PixelAmbientVector = 2;
static const int s_GlobalAmbientRegister = 1;
static const int s_VertexMaterialFirst = 11, s_PixelMaterialFirst = 2;

struct LightRecord {
    HandleRecordHeader header;
    D3DLIGHT9 light;
    int deviceIndex; // -1: none
    int enabled, changed;
};

static LightRecord *s_Lights[LIGHT_SLOT_COUNT];
static int s_LightCount, s_LightUsedEnd, s_NextCheckNumber;
static int s_LightsChanged, s_ForceRepush, s_LastHighest = -1;
static int s_DefaultLight = -1;
static D3DMATERIAL9 s_Material;
static int s_MaterialChanged;

// ---------------------------------------------------------------------------------------------------------------
// The handle table

static int FindFreeSlot(void)
{
    if (s_LightUsedEnd < LIGHT_SLOT_COUNT) {
        return s_LightUsedEnd;
    }
    for (int slot = 0; slot < LIGHT_SLOT_COUNT; slot++) {
        if (s_Lights[slot] == NULL) {
            return slot;
        }
    }
    return -1;
}

static LightRecord *CreateLight(void)
{
    int slot = FindFreeSlot();
    if (slot < 0) {
        return NULL;
    }
    LightRecord *record = (LightRecord *)ENGINE_ALLOC_ZEROED(sizeof(LightRecord));
    if (record == NULL) {
        FatalErrorExit("ライト用のメモリの確保に失敗しました");
    }
    record->header.checkNumber = s_NextCheckNumber;
    record->header.handle = MakeEngineHandle(HANDLE_TYPE_LIGHT, s_NextCheckNumber, slot);
    s_NextCheckNumber = (s_NextCheckNumber + 1) % HANDLE_CHECK_LIMIT;
    D3DLIGHT9 *light = &record->light;
    light->Diffuse = light->Specular = {1.0f, 1.0f, 1.0f, 1.0f};
    light->Ambient = {0.33f, 0.33f, 0.33f, 0.33f};
    light->Range = 2000.0f;
    light->Falloff = 1.0f;
    light->Attenuation0 = 0.1f;
    light->Theta = light->Phi = 2.0f;
    record->deviceIndex = -1;
    record->enabled = record->changed = 1;
    s_Lights[slot] = record;
    s_LightCount++;
    if (slot == s_LightUsedEnd) {
        s_LightUsedEnd++;
    }
    s_LightsChanged = 1;
    return record;
}

int CreateLightOfType(int type)
{
    LightRecord *record = CreateLight();
    if (record == NULL) {
        return -1;
    }
    record->light.Type = (D3DLIGHTTYPE)type;
    return record->header.handle;
}

int CreateDirectionalLight(float x, float y, float z)
{
    float length = sqrtf(x * x + y * y + z * z);
    if (!(length > 0.0f) || !isfinite(length)) {
        return -1;
    }
    int handle = CreateLightOfType(D3DLIGHT_DIRECTIONAL);
    if (handle != -1) {
        s_Lights[handle & HANDLE_INDEX_MASK]->light.Direction = {x / length, y / length, z / length};
    }
    return handle;
}

int DeleteLight(int handle)
{
    LightRecord *record =
        (LightRecord *)ValidateEngineHandle(handle, HANDLE_TYPE_LIGHT, (void *const *)s_Lights, LIGHT_SLOT_COUNT);
    if (record == NULL) {
        return -1;
    }
    s_Lights[handle & HANDLE_INDEX_MASK] = NULL;
    s_LightCount--;
    while (s_LightUsedEnd > 0 && s_Lights[s_LightUsedEnd - 1] == NULL) {
        s_LightUsedEnd--;
    }
    FreeMemory(record);
    if (handle == s_DefaultLight) {
        s_DefaultLight = -1;
    }
    s_LightsChanged = 1;
    return 0;
}

int DeleteAllLightsExceptDefault(void)
{
    for (int slot = 0; slot < s_LightUsedEnd; slot++) {
        if (s_Lights[slot] != NULL && s_Lights[slot]->header.handle != s_DefaultLight) {
            DeleteLight(s_Lights[slot]->header.handle);
        }
    }
    return 0;
}

int DeleteAllLights(void)
{
    DeleteAllLightsExceptDefault();
    DeleteLight(s_DefaultLight);
    s_LastHighest = -1;
    return 0;
}

int GetDefaultLightHandle(void)
{
    return s_DefaultLight;
}

int CreateDefaultLight(void)
{
    if (s_DefaultLight != -1) {
        return 0; // the light and material block stays across a reset
    }
    s_DefaultLight = CreateDirectionalLight(1.0f, -1.0f, 1.0f);
    memset(&s_Material, 0, sizeof s_Material);
    s_Material.Diffuse = {0.8f, 0.8f, 0.8f, 1.0f};
    s_Material.Specular = {0.8f, 0.8f, 0.8f, 0.0f};
    s_Material.Power = 20.0f;
    s_MaterialChanged = 1;
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// The push

int ForceLightRepush(void)
{
    s_ForceRepush = 1;
    s_LightsChanged = 1;
    return 0;
}

static void PushPass(D3DLIGHTTYPE type, int *nextIndex)
{
    int seen = 0;
    for (int slot = 0; slot < LIGHT_SLOT_COUNT && seen < s_LightCount; slot++) {
        LightRecord *record = s_Lights[slot];
        if (record == NULL) {
            continue;
        }
        seen++;
        if (!record->enabled || record->light.Type != type || *nextIndex >= DEVICE_LIGHT_COUNT) {
            continue;
        }
        if (record->deviceIndex != *nextIndex || record->changed || s_ForceRepush) {
            record->deviceIndex = *nextIndex;
            record->changed = 0;
            SetDeviceLight(*nextIndex, 1, &record->light);
        }
        (*nextIndex)++;
    }
}

int PushChangedLights(void)
{
    if (g_StateCache.device == NULL || (!s_LightsChanged && !s_ForceRepush)) {
        return 0;
    }
    int nextIndex = 0;
    PushPass(D3DLIGHT_DIRECTIONAL, &nextIndex);
    PushPass(D3DLIGHT_SPOT, &nextIndex);
    PushPass(D3DLIGHT_POINT, &nextIndex);
    for (int index = nextIndex; index <= s_LastHighest; index++) {
        SetDeviceLight(index, 0, NULL);
    }
    s_LastHighest = nextIndex - 1;
    s_LightsChanged = 0;
    s_ForceRepush = 0;
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// The device light cache, the material and the ambient colour

static void ColorVector(float out[4], const D3DCOLORVALUE *color)
{
    out[0] = color->r, out[1] = color->g, out[2] = color->b, out[3] = color->a;
}

static void RefreshLightColorConstants(void)
{
    const D3DMATERIAL9 *material = &g_StateCache.material;
    const float materialAmbient[4] = {material->Ambient.r, material->Ambient.g, material->Ambient.b,
                                      material->Ambient.a};
    int last = g_StateCache.highestEnabledLight < SHADER_LIGHT_COUNT ? g_StateCache.highestEnabledLight
                                                                     : SHADER_LIGHT_COUNT - 1;
    for (int index = 0; index <= last; index++) {
        if (!g_StateCache.lightEnabled[index]) {
            continue;
        }
        float product[4];
        ColorVector(product, &g_StateCache.lights[index].Ambient);
        for (int channel = 0; channel < 4; channel++) {
            product[channel] *= materialAmbient[channel];
        }
        SetVertexShaderConstants(LIGHT_VERTEX_REGISTER_FIRST + LIGHT_VERTEX_REGISTER_STRIDE * index + s_AmbientVector,
                                 1, product);
        SetPixelShaderConstants(s_PixelLightFirst + s_PixelLightStride * index + s_PixelAmbientVector, 1, product);
    }
    float global[4];
    ColorVector(global, &material->Emissive);
    for (int channel = 0; channel < 4; channel++) {
        global[channel] += g_StateCache.globalAmbient[channel] * materialAmbient[channel];
    }
    SetVertexShaderConstants(s_GlobalAmbientRegister, 1, global);
    SetPixelShaderConstants(s_GlobalAmbientRegister, 1, global);
}

static void SendShaderLight(int index, const D3DLIGHT9 *light)
{
    ShaderLightSlot *slot = &g_StateCache.shaderLights[index];
    slot->type = light->Type;
    memcpy(slot->position, &light->Position, sizeof slot->position);
    memcpy(slot->direction, &light->Direction, sizeof slot->direction);
    SendShaderLightPlacement(index, &g_DrawState.view);
    float cosTheta = cosf(light->Theta * 0.5f), cosPhi = cosf(light->Phi * 0.5f);
    float cone = cosTheta - cosPhi > 1e-6f ? 1.0f / (cosTheta - cosPhi) : 1e6f; // equal angles: a hard edge
    float colors[2][4];
    ColorVector(colors[0], &light->Diffuse);
    ColorVector(colors[1], &light->Specular);
    const float shape[2][4] = {
        {light->Range * light->Range, light->Attenuation0, light->Attenuation1, light->Attenuation2},
        {cosTheta, cosPhi, cone, light->Falloff},
    };
    int vertexFirst = LIGHT_VERTEX_REGISTER_FIRST + LIGHT_VERTEX_REGISTER_STRIDE * index;
    SetVertexShaderConstants(vertexFirst + 2, 2, colors[0]);
    SetVertexShaderConstants(vertexFirst + s_AmbientVector + 1, 2, shape[0]);
    SetPixelShaderConstants(s_PixelLightFirst + s_PixelLightStride * index, 2, colors[0]);
    if (g_StateCache.shadersAvailable) {
        BOOL flags[2] = {light->Type == D3DLIGHT_POINT || light->Type == D3DLIGHT_SPOT, light->Type == D3DLIGHT_SPOT};
        g_StateCache.device->SetVertexShaderConstantB(5 + 3 * index, flags, 2);
    }
    UpdateShaderSelection();
}

static int SetDeviceLightData(int index, const D3DLIGHT9 *light)
{
    if (index < 0 || index >= DEVICE_LIGHT_COUNT) {
        return -1;
    }
    FlushVertexBatch();
    g_StateCache.lights[index] = *light;
    if (index < SHADER_LIGHT_COUNT) {
        SendShaderLight(index, light);
    }
    RefreshLightColorConstants();
    return FAILED(g_StateCache.device->SetLight(index, light)) ? -1 : 0;
}

static void KeepHighestEnabled(int index, int enable)
{
    if (enable && index > g_StateCache.highestEnabledLight) {
        g_StateCache.highestEnabledLight = index;
    }
    int *highest = &g_StateCache.highestEnabledLight;
    while (*highest >= 0 && !g_StateCache.lightEnabled[*highest]) {
        (*highest)--;
    }
}

static int SetDeviceLightEnable(int index, int enable)
{
    if (index < 0 || index >= DEVICE_LIGHT_COUNT) {
        return -1;
    }
    FlushVertexBatch();
    g_StateCache.lightEnabled[index] = enable;
    KeepHighestEnabled(index, enable);
    RefreshLightColorConstants();
    if (index < SHADER_LIGHT_COUNT) {
        g_StateCache.shaderLights[index].enabled = enable;
        if (g_StateCache.shadersAvailable) {
            BOOL flag = enable;
            g_StateCache.device->SetVertexShaderConstantB(4 + 3 * index, &flag, 1);
        }
        UpdateShaderSelection();
    }
    return FAILED(g_StateCache.device->LightEnable(index, enable)) ? -1 : 0;
}

int SetDeviceLight(int index, int enable, const D3DLIGHT9 *light)
{
    if (g_StateCache.device == NULL) {
        return 0;
    }
    int result = 0;
    if (enable && SetDeviceLightData(index, light) != 0) {
        result = -1;
    }
    return SetDeviceLightEnable(index, enable) != 0 ? -1 : result;
}

int SetMaterialState(const D3DMATERIAL9 *material)
{
    if (g_StateCache.device == NULL) {
        return 0;
    }
    if (!g_StateCache.force && memcmp(&g_StateCache.material, material, sizeof *material) == 0) {
        return 0;
    }
    FlushVertexBatch();
    g_StateCache.material = *material;
    float vectors[3][4] = {{0}, {0}, {material->Power, 0.0f, 0.0f, 0.0f}};
    ColorVector(vectors[0], &material->Diffuse);
    ColorVector(vectors[1], &material->Specular);
    SetVertexShaderConstants(s_VertexMaterialFirst, 3, vectors[0]);
    SetPixelShaderConstants(s_PixelMaterialFirst, 3, vectors[0]);
    RefreshLightColorConstants();
    return FAILED(g_StateCache.device->SetMaterial(material)) ? -1 : 0;
}

int PushMaterial(void)
{
    if (g_StateCache.device == NULL || (!s_MaterialChanged && !g_StateCache.force)) {
        return 0;
    }
    s_MaterialChanged = 0;
    return SetMaterialState(&s_Material);
}

int SetAmbientColor(unsigned int argb)
{
    FlushVertexBatch();
    const int shifts[4] = {16, 8, 0, 24}; // red, green, blue, alpha
    for (int channel = 0; channel < 4; channel++) {
        g_StateCache.globalAmbient[channel] = (float)((argb >> shifts[channel]) & 0xFF) / 255.0f;
    }
    RefreshLightColorConstants();
    if (g_StateCache.device == NULL) {
        return 0;
    }
    return FAILED(g_StateCache.device->SetRenderState(D3DRS_AMBIENT, argb)) ? -1 : 0;
}

// ---------------------------------------------------------------------------------------------------------------
// The projection setters: camera values stored in the draw settings, then the projection step. Values that would
// make a degenerate projection (near equal to far, a field of view outside (0, pi)) are refused.

int SetCameraNearFar(float nearZ, float farZ)
{
    if (!isfinite(nearZ) || !isfinite(farZ) || nearZ == farZ) {
        return -1;
    }
    g_DrawState.nearZ = nearZ;
    g_DrawState.farZ = farZ;
    return UpdateProjectionMatrix();
}

int SetCameraPerspective(float fieldOfView)
{
    if (!(fieldOfView > 0.0f && fieldOfView < 3.14159265f)) {
        return -1;
    }
    g_DrawState.fieldOfView = fieldOfView;
    g_DrawState.projectionKind = 0;
    return UpdateProjectionMatrix();
}

int SetCameraProjectionMatrix(const Matrix4 *matrix)
{
    if (matrix == NULL) {
        return -1;
    }
    g_DrawState.storedProjection = *matrix;
    g_DrawState.projectionKind = 2;
    return UpdateProjectionMatrix();
}
