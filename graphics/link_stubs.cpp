// Link stand-ins for calls whose work is still being merged; removed once it is in.
#include "graphics/graphics_internal.h"

Direct3DGlobals g_D3D;

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
int PushLights(void)
{
    return 0;
}
int PushMaterial(void)
{
    return 0;
}
