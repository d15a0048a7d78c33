// A look inside a plain file's read-ahead cache, for the file subsystem's own tests: which part of the file it
// holds. The cache belongs to the file's access thread, which may be reading ahead while this is read; callers
// read it while the thread is idle and allow for a read-ahead that has just grown it.
#pragma once

#include "file/file.h"

// The file position of the cache's first byte and its valid bytes; -1 for a file without a cache.
int GetFileCacheState(FileHandle handle, unsigned int *position, unsigned int *fill);
