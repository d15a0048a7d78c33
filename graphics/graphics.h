// Graphics core: the Direct3D 9 device or software screen, graph handles, drawing calls and the screen flip.
// The public contract of the subsystem: the only header other subsystems include.
#pragma once

#include "core/core.h"

// ---------------------------------------------------------------------------------------------------------------
// Screen size.

int GetScreenSize(int *width, int *height); // either pointer may be null; an unset size gives 640 x 480

// ---------------------------------------------------------------------------------------------------------------
// Graph creation settings and graphs rebuilt from base images.

struct BaseImage;

int GetScreenColorBits(void);
int SetTransparentColorEnabled(int enable);
int GetTransparentColorEnabled(void);
int RebuildGraphFromBaseImage(BaseImage *image, EngineHandle graph);
// Re-creates `graph` as a 256 x 8 grey ramp (every row 0x000000, 0x010101, ... 0xFFFFFF) without a transparent
// colour; returns the handle, or -1 when the picture cannot be made.
int RecreateGrayRampGraph(EngineHandle graph);
