// The default graph restore callback: every graph with a restore source reloaded after the device was made again.
// Window thread only.
#include "graphics/graphics_internal.h"

int RestoreAllGraphs(void)
{
    return 0;
}
