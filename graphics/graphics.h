// Graphics core: the Direct3D 9 device or software screen, graph handles, drawing calls and the screen flip.
// The public contract of the subsystem: the only header other subsystems include.
#pragma once

#include "core/core.h"

// ---------------------------------------------------------------------------------------------------------------
// Screen size.

int GetScreenSize(int *width, int *height); // either pointer may be null; an unset size gives 640 x 480
