// Device loss and graph restore: the installed graph restore callback and the re-initialisation after a lost
// device or a return to full screen. The rebuild of a lost device comes with the restore work; until then a loss
// is not looked for and re-initialising keeps only the display. Window thread only.
#include "graphics/graphics_internal.h"

#include "font/font.h"

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

int RecreateDeviceResources(void)
{
    int usedEnd = GetGraphTableUsedEnd();
    for (int slot = 0; slot < usedEnd; slot++) {
        GraphRecord *graph = GetGraphSlotRecord(slot);
        if (graph != NULL && graph->image != NULL) {
            CreateGraphTextures(graph->image); // pieces that already have their objects keep them
        }
    }
    RecreateTableDeviceObjects();
    return 0;
}

int RunGraphRestore(void)
{
    if (s_RestoreCallback != NULL) {
        s_RestoreCallback();
    } else {
        RestoreAllGraphs();
    }
    RestoreModelTextures();
    RecreateAllFontHandles();
    return 0;
}

int IsGraphicsDeviceLost(void)
{
    return 0;
}

// Re-initialising keeps only the display: a full screen whose display mode the desktop's took
// back while the window was inactive is switched to the screen size again. Once graphics have ended (the end
// sequence pumps messages after giving the desktop its mode back) an activation must not switch it again.
int ReinitGraphicsKeepMode(void)
{
    if (!IsFullScreen() || !IsEngineInitialised() || !IsGraphicsInitialised()) {
        return 0;
    }
    int width, height;
    GetScreenSize(&width, &height);
    if (GetSystemMetrics(SM_CXSCREEN) != width || GetSystemMetrics(SM_CYSCREEN) != height) {
        ChangeDisplayModeForFullScreen();
    }
    return 0;
}
