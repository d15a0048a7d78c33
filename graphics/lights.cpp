// Lights and the material; the lighting work fills them in (no light exists yet). Window thread only.
#include "graphics/graphics_internal.h"

int DeleteAllLights(void)
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

int ForceLightRepush(void)
{
    return 0;
}
