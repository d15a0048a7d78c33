// Fuzz target for one image loader, chosen at build time (FUZZ_LOADER): the input is the whole image file. An
// accepted picture has every byte of its pixel block read (the sanitizer sees a block shorter than the image
// claims), block-compressed ones are decoded too, and every block must be freed again.
#include "image/image.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

static volatile unsigned s_Sink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    int before = GetAllocationCount();
    StreamRef stream;
    if (OpenMemoryStreamRef(data, (unsigned int)size, &stream) != 0) {
        return 0;
    }
    BaseImage image;
    memset(&image, 0, sizeof(image));
    if (FUZZ_LOADER(&stream, &image) == 0) {
        int bytes = GetBaseImageDataSize(&image);
        unsigned sum = 0;
        for (int i = 0; i < bytes; i++) {
            sum += image.pixels[i];
        }
        s_Sink = sum;
        ConvertBaseImageToNormal(&image);
        FreeBaseImageData(&image);
    } else if (image.pixels != NULL) {
        abort(); // a refusing loader leaves no pixels behind
    }
    MemStreamClose(stream.handle);
    if (GetAllocationCount() != before) {
        abort(); // a tracked block leaked
    }
    return 0;
}
