// Link stand-ins for calls other helpers own, so this branch builds on its own; removed at merge.
#include "graphics/graphics_internal.h"

void BeginSceneIfNeeded(void)
{
}

int PushLights(void)
{
    return 0;
}

int PushMaterial(void)
{
    return 0;
}

int SendTextureTransformIfPending(void)
{
    return 0;
}

DrawState g_DrawState;
Direct3DGlobals g_D3D;
