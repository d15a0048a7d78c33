// Soft-image table internals shared with the image tests.
#pragma once

#include "image/image.h"

// Takes over `image` (its pixels move into the table, the caller's record is zeroed) and returns its handle, or -1
// when the table is full or the record cannot be allocated.
EngineHandle AddSoftImage(BaseImage *image);
