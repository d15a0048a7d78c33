// Test-only hooks of the file subsystem: settings no engine call changes and looks at state that only the
// subsystem's own tests need. Programs include file/file.h alone; only tests/file includes this header.
#pragma once

#include "file/file.h"

// The key string archives opened by path are unscrambled with; null (the default) for the built-in keys.
int SetArchiveKeyString(const char *keyString);

// How many uses an open archive's table entry holds; -1 for an empty slot.
int GetOpenArchiveUseCount(int index);

// Which part of a plain file its read-ahead cache holds: the file position of the first byte and the valid
// bytes; -1 for a file without a cache. The cache belongs to the file's access thread, which may be reading
// ahead while this is read: callers read it while the thread is idle and allow for a read-ahead that has just
// grown it.
int GetFileCacheState(FileHandle handle, unsigned int *position, unsigned int *fill);
