// Link stubs: minimal bodies of calls other work owns, so this branch links on its own. Removed at the merge.
#include "graphics/graphics_internal.h"

Direct3DGlobals g_D3D;
DeviceStateCache g_StateCache;

MEMIMG *GetSoftwareScreen(void)
{
    return NULL;
}
const PixelFormat *GetD3DFormatPixelFormat(D3DFORMAT format)
{
    return NULL;
}
const PixelFormat *GetGraphFormatPixelFormat(int index)
{
    return NULL;
}
int FlushVertexBatch(void)
{
    return 0;
}
int CloseMaskPass(void)
{
    return 0;
}
int ReleaseMaskSurfaces(void)
{
    return 0;
}
int ReleaseDeviceObjects(void)
{
    return 0;
}
int CreateDefaultLight(void)
{
    return 0;
}
void CALLBACK FrontScreenTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time)
{
    KillTimer(window, id); // the timer lapses until the flip work presents the front screen
}
int SetDeviceBlendGraph(IDirect3DBaseTexture9 *texture, int border, int range)
{
    return 0;
}
int SetDeviceFilterMode(int mode)
{
    return 0;
}
int SetDeviceFogColor(int color)
{
    return 0;
}
int SetDeviceFogMode(int mode)
{
    return 0;
}
int SetDeviceFogStartEnd(float start, float end)
{
    return 0;
}
int SetDeviceProjectionMatrix(const Matrix4 *matrix)
{
    return 0;
}
int SetDeviceRenderTarget(IDirect3DSurface9 *surface)
{
    return 0;
}
int SetDeviceScissorRect(const RECT *rect)
{
    return 0;
}
int SetDeviceTexture(IDirect3DBaseTexture9 *texture)
{
    return 0;
}
int SetDeviceTextureTransform(int stage, int enable, const Matrix4 *matrix)
{
    return 0;
}
int SetDeviceViewMatrix(const Matrix4 *matrix)
{
    return 0;
}
int SetDeviceViewportRect(int x1, int y1, int x2, int y2)
{
    return 0;
}
int SetDeviceWorldMatrix(const Matrix4 *matrix)
{
    return 0;
}
