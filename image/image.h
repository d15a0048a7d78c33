// Images: pixel formats, base images, the image loaders, software images, blend tables and pixel transfer.
// The public contract of the subsystem: the only header other subsystems include.
#pragma once

#include "core/core.h"

// ---------------------------------------------------------------------------------------------------------------
// Soft-image table.

int DeleteAllSoftImages(void);
