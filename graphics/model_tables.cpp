// Model, vertex-buffer, index-buffer and shader tables: their start, end and device release; the model work fills
// them in (no table holds anything yet). Window thread only.
#include "graphics/graphics_internal.h"

int InitModelSystem(void)
{
    return 0;
}

int TerminateModelSystem(void)
{
    return 0;
}

int DeleteAllVertexBuffers(void)
{
    return 0;
}

int DeleteAllIndexBuffers(void)
{
    return 0;
}

int DeleteAllShaders(void)
{
    return 0;
}

int ReleaseModelDeviceData(void)
{
    return 0;
}

int ReleaseTableDeviceObjects(void)
{
    return 0;
}

int RecreateTableDeviceObjects(void)
{
    return 0;
}

int RestoreModelTextures(void)
{
    return 0;
}

int RestoreAllModelBuffers(void)
{
    return 0;
}
