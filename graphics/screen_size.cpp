// The screen size the graphics system runs at: read by window creation, the full-screen check and the
// projection matrices; an unset size (0) stands for 640 x 480. Written only by the window thread.
#include "graphics/graphics.h"

#define DEFAULT_SCREEN_WIDTH 640
#define DEFAULT_SCREEN_HEIGHT 480

static int s_ScreenWidth;
static int s_ScreenHeight;

int GetScreenSize(int *width, int *height)
{
    if (width != NULL) {
        *width = s_ScreenWidth != 0 ? s_ScreenWidth : DEFAULT_SCREEN_WIDTH;
    }
    if (height != NULL) {
        *height = s_ScreenHeight != 0 ? s_ScreenHeight : DEFAULT_SCREEN_HEIGHT;
    }
    return 0;
}

int SetScreenSizeSetting(int width, int height)
{
    s_ScreenWidth = width;
    s_ScreenHeight = height;
    return 0;
}
