// Release of the device path: every device object, the device, the Direct3D and DirectDraw objects and d3d9.dll,
// each pointer set to null so that a second release does nothing; shared by graphics end, device loss and a device
// creation that fails half-way. Window thread only.
#include "graphics/graphics_internal.h"

template <typename Object> static void ReleaseObject(Object **object)
{
    if (*object != NULL) {
        (*object)->Release();
        *object = NULL;
    }
}

// The device's current shaders are set to none first so that nothing keeps a released shader bound.
static void UnbindShaders(void)
{
    if (g_StateCache.device != NULL) {
        g_StateCache.device->SetVertexShader(NULL);
        g_StateCache.device->SetPixelShader(NULL);
    }
    g_StateCache.vertexShader = NULL;
    g_StateCache.pixelShader = NULL;
}

int ReleaseVertexDeclarations(void)
{
    UnbindShaders();
    for (int i = 0; i < VERTEX_DECLARATION_COUNT; i++) {
        ReleaseObject(&g_D3D.declarations[i]);
    }
    return 0;
}

int ReleaseShaders(void)
{
    UnbindShaders();
    ReleaseObject(&g_D3D.standardVertexShader);
    ReleaseObject(&g_D3D.standardPixelShader);
    return 0;
}

// What the device's last release left: anything above 0 is a device object that outlived the device.
static ULONG s_LastDeviceReferences;

ULONG GetLastDeviceReferences(void)
{
    return s_LastDeviceReferences;
}

void ReleaseDevice(const char *logLine)
{
    if (g_D3D.device == NULL) {
        return;
    }
    s_LastDeviceReferences = g_D3D.device->Release();
    g_D3D.device = NULL;
    g_D3D.deviceEx = NULL;
    g_D3D.sceneOpen = 0;
    g_StateCache.device = NULL;
    AddLog(logLine);
}

void ReleaseDeviceChain(const char *deviceLogLine)
{
    ReleaseObject(&g_D3D.zBuffer);
    ReleaseObject(&g_D3D.subBackBuffer);
    ReleaseObject(&g_D3D.backBuffer);
    ReleaseObject(&g_D3D.swapChain);
    ReleaseObject(&g_D3D.brightnessVolume);
    ReleaseDevice(deviceLogLine);
    g_D3D.direct3DEx = NULL; // the same object as direct3D: released once through it
    ReleaseObject(&g_D3D.direct3D);
    g_D3D.deviceMode = 0;
}

int ReleaseDirect3DSystem(void)
{
    ReleaseAllModelDeviceObjects();
    ReleaseVertexDeclarations();
    ReleaseShaders();
    // Only a display switched through the display settings is given back here; an exclusive device restores its own.
    RestoreDesktopDisplayMode();
    ReleaseDeviceChain("Direct3DDevice9 の解放 3\n");
    EnsureDesktopDisplayMode();
    ReleaseObject(&g_D3D.directDraw);
    if (g_D3D.d3d9Library != NULL) {
        FreeLibrary(g_D3D.d3d9Library);
        g_D3D.d3d9Library = NULL;
        AddLog("Direct3D9 DLL の解放 4\n");
    }
    ReleaseDisplayModeList();
    return 0;
}
