// Test hooks of the image subsystem: calls that only tests make, to fill the tables that nothing in the program
// fills and to empty them again between tests. Programs never include this header; tests include it after
// image/image.h. Same threads as the tables they touch (the window thread).
#pragma once

#include "image/image.h"

// Takes over `image` (its pixels move into the soft-image table, the caller's record is zeroed) and returns its
// handle, or -1 when the table is full or the record cannot be allocated.
EngineHandle AddSoftImage(BaseImage *image);

// Registers a loader that DecodeImageStream tries before the built-in ones (at most 10); -1 when the table is full.
int AddUserImageLoader(ImageLoader loader);
// Empties the user loader table, so that a test's loaders are gone before the next test.
void ResetUserImageLoaders(void);
