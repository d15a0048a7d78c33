// Device loss and re-initialisation: a lost device is never reset. Everything on the device path is released and
// made again, the cached states are pushed into the new device, both screens cleared, and graphs, models and fonts
// refilled through the restore callback. Owns the device-lost flag and the installed graph restore callback.
// Window thread only (the window's activation handling starts it).
#include "graphics/graphics_internal.h"

#include "font/font.h"
#include "input/input.h"

static GraphRestoreCallback s_RestoreCallback;

int InstallGraphRestoreCallback(GraphRestoreCallback callback)
{
    s_RestoreCallback = callback != NULL ? callback : RestoreAllGraphs;
    return 0;
}

int HasGraphRestoreCallback(void)
{
    return s_RestoreCallback != NULL;
}

int RecreateDeviceResources(void)
{
    int usedEnd = GetGraphTableUsedEnd();
    for (int slot = 0; slot < usedEnd; slot++) {
        GraphRecord *graph = GetGraphSlotRecord(slot);
        if (graph != NULL && graph->image != NULL) {
            CreateGraphTextures(graph->image); // pieces that already have their objects keep them
        }
    }
    RecreateTableDeviceObjects();
    return 0;
}

int RunGraphRestore(void)
{
    if (s_RestoreCallback != NULL) {
        s_RestoreCallback();
    } else {
        RestoreAllGraphs();
    }
    RestoreModelTextures();
    RecreateAllFontHandles();
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Loss.

static int s_DeviceLost;
static int s_RebuildsEndInSoftware; // test switch: a rebuild makes no device
static int s_RebuildCount;

int IsGraphicsDeviceLost(void)
{
    return s_DeviceLost;
}

int TestGraphicsDeviceLost(void)
{
    if (g_D3D.device != NULL && FAILED(g_D3D.device->TestCooperativeLevel())) {
        s_DeviceLost = 1;
    }
    return s_DeviceLost;
}

int GetRebuildCount(void)
{
    return s_RebuildCount;
}

int SetRebuildsEndInSoftware(int flag)
{
    s_RebuildsEndInSoftware = flag;
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// State pushed into a new device.

// The global ambient colour as the cache keeps it (four channels of 0..1), as the render state takes it.
static unsigned int CachedAmbientColor(void)
{
    const int shifts[4] = {16, 8, 0, 24}; // red, green, blue, alpha
    unsigned int argb = 0;
    for (int channel = 0; channel < 4; channel++) {
        argb |= (unsigned int)(g_StateCache.globalAmbient[channel] * 255.0f + 0.5f) << shifts[channel];
    }
    return argb;
}

// Each copy goes to the device through its own setter with the force flag up; the batch is drawn between groups.
static void PushRenderStateCopies(void)
{
    DeviceStateCache *cache = &g_StateCache;
    SetAmbientColor(CachedAmbientColor());
    SetDeviceLighting(cache->lighting);
    SetDeviceSpecularEnable(cache->specularEnable);
    SetDeviceFogEnable(cache->fogEnable);
    SetDeviceFogMode(cache->fogMode);
    SetDeviceFogColor(cache->fogColor);
    SetDeviceFogStartEnd(cache->fogStart, cache->fogEnd);
    SetDeviceFogDensity(cache->fogDensity);
    FlushVertexBatch();
}

static void PushSamplerAndStageCopies(void)
{
    DeviceStateCache *cache = &g_StateCache;
    for (int sampler = 0; sampler < 8; sampler++) {
        const SamplerCopy copy = cache->samplers[sampler];
        SetDeviceTextureAddressU(sampler, copy.addressU);
        SetDeviceTextureAddressV(sampler, copy.addressV);
        SetDeviceTextureAddressW(sampler, copy.addressW);
        SetDeviceTextureTransform(sampler, cache->textureTransformEnable[sampler], &cache->textureTransform[sampler]);
    }
    SetDeviceMaxAnisotropy(cache->maxAnisotropy);
    ResetTexCoordIndexes();
    FlushVertexBatch();
}

static void PushTransformCopies(void)
{
    SetDeviceWorldMatrix(&g_DrawState.world);
    SetDeviceViewMatrix(&g_DrawState.view);
    ApplyDeviceProjection();
    FlushVertexBatch();
}

static void PushShaderConstantCopies(void)
{
    if (!g_StateCache.shadersAvailable) {
        return;
    }
    g_StateCache.userConstantSetOnDevice = 0;
    g_StateCache.device->SetVertexShaderConstantF(0, g_StateCache.vertexConstants[0], 256);
    g_StateCache.device->SetPixelShaderConstantF(0, g_StateCache.pixelConstants[0], 32);
}

int PushCachedDeviceState(void)
{
    if (g_StateCache.device == NULL) {
        return 0;
    }
    g_StateCache.force = 1;
    PushRenderStateCopies();
    PushSamplerAndStageCopies();
    PushTransformCopies();
    PushShaderConstantCopies();
    ForceLightRepush();
    SetDeviceFVF(g_StateCache.fvf);
    ReissueDeviceStates(); // viewport, scissor, blending, stages, Z, fill, cull, shade and the material
    g_StateCache.force = 1;
    ApplyDrawStates(NULL, NULL, 0);
    g_StateCache.force = 0;
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Re-initialisation.

// The camera as the program left it: selecting the draw target again puts a fresh camera in place.
struct CameraSnapshot {
    Matrix4 world, view, projection, viewportAdjust, storedProjection;
    int projectionKind;
    float nearZ, farZ, fieldOfView, orthoSize, aspectFactor;
    float cameraCenterX, cameraCenterY, viewportScale;
    Vector3 cameraEye, cameraTarget, cameraUpVector;
};

// The draw state and a snapshot name their camera values alike: one copy serves both directions.
template <typename From, typename To> static void CopyCamera(const From &from, To *to)
{
    to->world = from.world;
    to->view = from.view;
    to->projection = from.projection;
    to->viewportAdjust = from.viewportAdjust;
    to->storedProjection = from.storedProjection;
    to->projectionKind = from.projectionKind;
    to->nearZ = from.nearZ;
    to->farZ = from.farZ;
    to->fieldOfView = from.fieldOfView;
    to->orthoSize = from.orthoSize;
    to->aspectFactor = from.aspectFactor;
    to->cameraCenterX = from.cameraCenterX;
    to->cameraCenterY = from.cameraCenterY;
    to->viewportScale = from.viewportScale;
    to->cameraEye = from.cameraEye;
    to->cameraTarget = from.cameraTarget;
    to->cameraUpVector = from.cameraUpVector;
}

// The values back, and the matrices through their setters so that the device and the combined matrices follow.
static void RestoreCamera(const CameraSnapshot *camera)
{
    CopyCamera(*camera, &g_DrawState);
    SetWorldMatrix(&camera->world);
    SetViewMatrix(&camera->view);
    SetProjectionMatrix(&camera->projection);
    SetViewportMatrix(&camera->viewportAdjust);
}

// A device graph's pixels went with the device, so a graph target gives way to the back screen, whole.
static void ContinueOnSoftwareScreen(const RECT *area)
{
    CreateSoftwareScreens();
    const GraphRecord *graph = GetGraphRecord(g_DrawState.drawTarget);
    if (graph != NULL && graph->image != NULL && graph->image->format.deviceTexture) {
        SelectDrawTarget(SCREEN_BACK);
        return;
    }
    SelectDrawTarget(g_DrawState.drawTarget);
    SetDrawClipArea(area->left, area->top, area->right, area->bottom);
}

static int CreateRebuiltDevice(void)
{
    if (!s_RebuildsEndInSoftware) {
        return CreateGraphicsDevice();
    }
    int useDirect3D = GetUseDirect3D();
    ForceUseDirect3D(0);
    int result = CreateGraphicsDevice();
    ForceUseDirect3D(useDirect3D);
    return result;
}

// Both buffers of the flip chain cleared, so that neither shows what the old device left.
static void ClearBothScreens(void)
{
    for (int i = 0; i < 2; i++) {
        ClearDrawScreen(g_DrawState.drawTarget, NULL);
        PresentScreenToWindow(NULL);
    }
}

int ReinitGraphics(void)
{
    RECT area = g_DrawState.requestedArea;
    s_RebuildCount++;
    if (IsDeviceMode()) {
        ReleaseMaskSurfaces();
        ReleaseDeviceObjects();
    }
    ReleaseDirect3DSystem();
    s_DeviceLost = 0;
    TerminateInput();
    InitializeInput();
    if (CreateRebuiltDevice() != 0 || !IsDeviceMode()) {
        ContinueOnSoftwareScreen(&area);
        return 0;
    }
    RecreateDeviceResources();
    RestoreMaskScreen();
    CameraSnapshot camera;
    CopyCamera(g_DrawState, &camera);
    SelectDrawTarget(g_DrawState.drawTarget);
    PushCachedDeviceState();
    ClearBothScreens();
    RunGraphRestore();
    ReissueDeviceStates();
    RestoreAllModelBuffers();
    ForceLightRepush();
    SetDrawClipArea(area.left, area.top, area.right, area.bottom);
    RestoreCamera(&camera);
    return 0;
}

int ReinitGraphicsKeepMode(void)
{
    // The end sequence pumps messages after the device is gone: nothing is made again then. A restore callback that
    // pumps messages may see another activation: the rebuild under way serves it.
    static int s_Rebuilding;
    if (!IsEngineInitialised() || !IsGraphicsInitialised() || s_Rebuilding) {
        return 0;
    }
    s_Rebuilding = 1;
    ReinitGraphics();
    s_Rebuilding = 0;
    return 0;
}
