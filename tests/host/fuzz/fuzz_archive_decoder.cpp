// Fuzz target for the archive decompressor: the input is a packed buffer (its own header first). Whatever it
// claims, the decoder may write only inside the destination it is given.
#include "file/file.h"

#include <stdint.h>
#include <stdlib.h>

#define UNPACKED_LIMIT (1u << 20)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    uint32_t unpacked = DecodeArchiveData(data, (uint32_t)size, NULL, 0);
    if (unpacked == ARCHIVE_DECODE_FAILED || unpacked > UNPACKED_LIMIT) {
        return 0;
    }
    uint8_t *out = (uint8_t *)malloc(unpacked ? unpacked : 1);
    DecodeArchiveData(data, (uint32_t)size, out, unpacked);
    free(out);
    return 0;
}
