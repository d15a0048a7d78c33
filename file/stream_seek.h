// Seek targets of the file subsystem's streams (memory, plain file, archive entry): origin 0 from the start,
// 1 from the current position, 2 from the end, in 64 bits so that no offset wraps. Internal to file/.
#pragma once

#include "file/file.h"

static inline long long GetSeekTarget(int offset, int origin, unsigned int position, unsigned int size)
{
    long long target = offset;
    if (origin == STREAM_ORIGIN_CURRENT) {
        target += position;
    } else if (origin == STREAM_ORIGIN_END) {
        target += size;
    }
    return target;
}
