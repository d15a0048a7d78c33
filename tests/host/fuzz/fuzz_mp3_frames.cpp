// Fuzz target for the MP3 frame walk: the input is the whole file. A walk that succeeds must place its first frame
// inside the audio region, on a header that parses, and the region inside the file; nothing is allocated.
#include "sound/convert_kinds.h"

#include <stdint.h>
#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    int before = GetAllocationCount();
    StreamRef stream;
    if (OpenMemoryStreamRef(data, (unsigned int)size, &stream) != 0) {
        return 0;
    }
    Mp3Layout layout;
    if (WalkMp3Frames(&stream, &layout) == 0) {
        MpegFrameHeader header;
        if (layout.dataEnd > size || layout.firstFrame + 4 > layout.dataEnd ||
            ParseMpegFrameHeader(data + layout.firstFrame, &header) != 0 || header.frameLength <= 0 ||
            layout.totalSamples < (unsigned int)header.samplesPerFrame) {
            abort();
        }
    }
    MemStreamClose(stream.handle);
    if (GetAllocationCount() != before) {
        abort();
    }
    return 0;
}
