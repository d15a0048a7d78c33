// Link stand-ins for what the other graphics work defines; removed when that work is merged.
#include "graphics/graphics_internal.h"

Direct3DGlobals g_D3D;
DeviceStateCache g_StateCache;
VertexBatch g_VertexBatch;
DrawState g_DrawState;

static unsigned char s_Buffer[65536];

int FlushVertexBatch(void)
{
    return g_StateCache.device == NULL ? -1 : 0;
}
void *ReserveBatchVertices(int, int, int, int)
{
    return s_Buffer;
}
void CommitBatchVertices(int)
{
}
void ApplyDrawStates(const DrawImageInfo *, IDirect3DBaseTexture9 *, int)
{
}
int SetDeviceFVF(DWORD)
{
    return 0;
}
int SetDeviceRenderTarget(IDirect3DSurface9 *)
{
    return 0;
}
const PixelFormat *GetD3DFormatPixelFormat(D3DFORMAT)
{
    return NULL;
}
MEMIMG *GetSoftwareScreen(void)
{
    return NULL;
}
int CloseMaskPass(void)
{
    return 0;
}
int SetDrawClipArea(int, int, int, int)
{
    return 0;
}
