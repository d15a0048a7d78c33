// The working set of one draw at a point, shared by its regular loops and by the run-table walk. Internal to
// softrender/; window thread only.
#pragma once

#include "softrender/blit_rules.h"

struct DrawImageContext {
    int w, h;   // clipped size, both above 0
    int sx, sy; // first drawn pixel inside the source
    const uint8_t *srcPixel;
    int srcSkip; // bytes from the end of a drawn row to the next row's start
    uint8_t *dstPixel;
    int dstSkip;
    const uint8_t *blendPixel; // null without a blend image
    int blendSkip;
    uint32_t transparentValue;
    uint32_t transparentWord; // the key repeated over one 32-bit read: four indices or two 16-bit pixels
    const uint8_t *runTable;
    BlitLookups lookups;
};

// Draws the whole source by its run table: skip runs are jumped, other runs drawn without key or alpha-0 tests.
void WalkRunTable(const BlitChoice &choice, const DrawImageContext &c);
