// The graph handle table's start and release; the graph work fills it in (no graph exists yet). Window thread only.
#include "graphics/graphics_internal.h"

int ResetGraphTableCounts(void)
{
    return 0;
}

int ReleaseAllGraphHandles(int flag)
{
    return 0;
}
