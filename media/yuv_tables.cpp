// Colour-conversion tables for movie frames: a clamp table and the five BT.601 factor tables (video-range YUV,
// 14 fractional bits), built from integers only, once at engine start-up on the window thread and only read
// afterwards. Building again gives the same bytes.
#include "media/media.h"

static YuvToRgbTables s_Tables;

int InitYuvToRgbTables(void)
{
    for (int value = -512; value < 768; value++) {
        s_Tables.clamp[value + 512] = (unsigned char)(value < 0 ? 0 : (value > 255 ? 255 : value));
    }
    // Each entry steps from the one before by its factor, from the values at index 0.
    int red = -3346944, blueToGreen = 819968, redToGreen = 1704960, blue = -4231936, luma = -305120;
    for (int i = 0; i < 256; i++) {
        s_Tables.crToRed[i] = red;
        s_Tables.cbToGreen[i] = blueToGreen;
        s_Tables.crToGreen[i] = redToGreen;
        s_Tables.cbToBlue[i] = blue;
        s_Tables.luma[i] = luma;
        red += 26148;
        blueToGreen -= 6406;
        redToGreen -= 13320;
        blue += 33062;
        luma += 19070;
    }
    return 0;
}

const YuvToRgbTables *GetYuvToRgbTables(void)
{
    return &s_Tables;
}
