// The grey-ramp graph: a 256 x 8 picture whose every row runs from black to white, used as a look-up texture.
// Window thread (graph creation).
#include "graphics/graphics.h"
#include "image/image.h"

#include <string.h>

int RecreateGrayRampGraph(EngineHandle graph)
{
    BaseImage ramp;
    memset(&ramp, 0, sizeof(ramp));
    if (NewXRGB8BaseImage(256, 8, &ramp) != 0) {
        return -1;
    }
    for (int y = 0; y < ramp.height; y++) {
        uint32_t *row = (uint32_t *)(ramp.pixels + (ptrdiff_t)y * ramp.pitch);
        for (uint32_t x = 0; x < 256; x++) {
            row[x] = x << 16 | x << 8 | x;
        }
    }
    int wasEnabled = GetTransparentColorEnabled();
    SetTransparentColorEnabled(0);
    int result = RebuildGraphFromBaseImage(&ramp, graph);
    SetTransparentColorEnabled(wasEnabled);
    FreeBaseImageData(&ramp);
    return result == 0 ? graph : -1;
}
