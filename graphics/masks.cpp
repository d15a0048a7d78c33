// The mask screen and mask handles; the mask work fills them in (no mask exists yet). Window thread only.
#include "graphics/graphics_internal.h"

int DeleteMaskScreen(void)
{
    return 0;
}

int DeleteAllMasks(void)
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
