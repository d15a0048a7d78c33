// Blend tables: the look-ups through which the software renderers mix pixels. The three fixed tables are filled
// once at graphics start-up; the blend-graph ramp is rebuilt whenever the blend graph or its parameters change.
// Written and read on the window thread only.
#include "image/image.h"

BlendTables g_BlendTables;

int InitMemImgTables(void)
{
    for (int p = 0; p < 256; p++) {
        for (int j = 0; j < 511; j++) {
            g_BlendTables.difference[p][j] = p * (j - 255) / 255; // C division truncates toward zero
        }
        g_BlendTables.difference[p][511] = 0;
        for (int c = 0; c < 256; c++) {
            g_BlendTables.product[p][c] = (uint32_t)(p * c / 255);
        }
    }
    for (int a = 0; a < 64; a++) {
        for (int s = 0; s < 64; s++) {
            for (int d = 0; d < 64; d++) {
                g_BlendTables.mix[a][s][d] = (uint8_t)((a * s + (63 - a) * d) / 63);
            }
        }
    }
    return 0;
}

int BuildFadeTable(int border, int range)
{
    // The draw state clamps both to 0..255; clamping again keeps n at least 1 whoever calls.
    border = border < 0 ? 0 : border > 255 ? 255 : border;
    range = range < 0 ? 0 : range > 255 ? 255 : range;
    int n = range + 1;
    int step = 65536 / n;
    int offset = 256 - ((step + 256) * border) / 256;
    for (int k = 0; k < 256; k++) {
        int value = (k * 256) / n + offset;
        g_BlendTables.fadeRamp[k] = (uint8_t)(value < 0 ? 0 : value > 255 ? 255 : value);
    }
    return 0;
}
