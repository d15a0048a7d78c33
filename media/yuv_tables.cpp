// Colour-conversion tables for movie frames: a clamp table and the five BT.601 factor tables, built once at
// engine start-up on the window thread and only read afterwards.
#include "media/media.h"

static YuvToRgbTables s_Tables;

int InitYuvToRgbTables(void)
{
    for (int value = -512; value < 768; value++) {
        s_Tables.clamp[value + 512] = (unsigned char)(value < 0 ? 0 : (value > 255 ? 255 : value));
    }
    for (int i = 0; i < 256; i++) {
        s_Tables.crToRed[i] = 26148 * (i - 128);
        s_Tables.cbToGreen[i] = -6406 * (i - 128);
        s_Tables.crToGreen[i] = -13320 * (i - 128) + 1024;
        s_Tables.cbToBlue[i] = 33062 * (i - 128);
        s_Tables.luma[i] = 19070 * (i - 16);
    }
    return 0;
}

const YuvToRgbTables *GetYuvToRgbTables(void)
{
    return &s_Tables;
}
