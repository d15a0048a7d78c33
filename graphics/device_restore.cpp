// Device loss and graph restore: the installed graph restore callback and the re-initialisation after a lost
// device. Without a Direct3D device nothing is ever lost; the graphics work fills the rebuild in. Window thread.
#include "graphics/graphics.h"

static int RestoreAllGraphs(void)
{
    return 0; // no graph keeps device contents yet
}

static GraphRestoreCallback s_RestoreCallback;

int InstallGraphRestoreCallback(GraphRestoreCallback callback)
{
    s_RestoreCallback = callback != NULL ? callback : RestoreAllGraphs;
    return 0;
}

int HasGraphRestoreCallback(void)
{
    return s_RestoreCallback != NULL;
}

int IsGraphicsDeviceLost(void)
{
    return 0;
}

int ReinitGraphicsKeepMode(void)
{
    return 0;
}
