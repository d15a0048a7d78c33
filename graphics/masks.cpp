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

// Around a draw while the mask is in use; with no mask screen the mask is never in use.
int MaskDrawBegin(const RECT *)
{
    return 0;
}

int MaskDrawEnd(const RECT *)
{
    return 0;
}
