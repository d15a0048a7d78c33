// Device defaults: the states a newly made (or re-made) device starts from, written to the device and seeded into
// the state cache, then every cached state pushed under the force flag and the current draw settings applied.
// Window thread only.
#include "graphics/graphics_internal.h"

// Every sampler gets its address modes (unset ones clamp) and the draw settings' filtering; the force flag is up.
static void SetupSamplers(void)
{
    int inUse = g_StateCache.samplersInUse;
    g_StateCache.samplersInUse = 8;
    for (int s = 0; s < 8; s++) {
        SamplerCopy *copy = &g_StateCache.samplers[s];
        SetDeviceTextureAddressU(s, copy->addressU != 0 ? copy->addressU : D3DTADDRESS_CLAMP);
        SetDeviceTextureAddressV(s, copy->addressV != 0 ? copy->addressV : D3DTADDRESS_CLAMP);
        SetDeviceTextureAddressW(s, copy->addressW != 0 ? copy->addressW : D3DTADDRESS_CLAMP);
    }
    int mode = g_DrawState.filterMode;
    SetDeviceFilterMode(mode >= 0 && mode <= 2 ? mode : 0);
    g_StateCache.samplersInUse = inUse;
}

static void SetupRenderStates(IDirect3DDevice9 *device)
{
    SetDeviceCullMode(0);
    SetDeviceLighting(1);
    SetDeviceShadeMode(D3DSHADE_FLAT);
    device->SetRenderState(D3DRS_DITHERENABLE, FALSE);
    SetDeviceSpecularEnable(1);
    device->SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL);
    device->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
    SetDeviceFogEnable(0);
    SetDeviceFogMode(D3DFOG_NONE);
    SetDeviceFogColor(0);
    SetDeviceFogStartEnd(0.0f, 1.0f);
    device->GetMaterial(&g_StateCache.material);
}

// The first device has never had a viewport or scissor rectangle sent: both start as the whole screen, so that
// the push below does not send an empty one.
static void SeedTarget(int width, int height)
{
    g_StateCache.targetWidth = width;
    g_StateCache.targetHeight = height;
    g_StateCache.renderTarget = g_D3D.backBuffer;
    if (g_StateCache.viewport.Width == 0 || g_StateCache.viewport.Height == 0) {
        g_StateCache.viewport = {0, 0, (DWORD)width, (DWORD)height, 0.0f, 1.0f};
        SetRect(&g_StateCache.scissor, 0, 0, width, height);
    }
}

int SetupDeviceDefaults(void)
{
    IDirect3DDevice9 *device = g_StateCache.device;
    PrefillVertexBatchBuffers();
    if (device == NULL) {
        return 0;
    }
    int wasForced = g_StateCache.force;
    g_StateCache.force = 1;
    SetupSamplers();
    SetupRenderStates(device);
    g_StateCache.force = wasForced;
    int width, height;
    GetScreenSize(&width, &height);
    SeedTarget(width, height);
    g_StateCache.texture = NULL;
    g_StateCache.alphaTestOverrideFunc = -1;
    g_D3D.sceneOpen = 0;
    ReissueDeviceStates();
    BeginSceneIfNeeded();
    ApplyDrawStates(NULL, NULL, 0);
    // The batch starts as plain screen-space points, empty: no stray vertex is drawn into the first frame.
    ReserveBatchVertices(0, VERTEX_PLAIN, D3DPT_POINTLIST, 0);
    return 0;
}
