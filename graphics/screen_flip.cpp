// Screen flip: presenting the screen into the window. Without a Direct3D device or a software screen there is
// nothing to present yet; the graphics work fills these in. Window thread only.
#include "graphics/graphics.h"

int CopyScreenAndFlip(void)
{
    return 0;
}

void EndSceneIfNeeded(void)
{
}
