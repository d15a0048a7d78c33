// Fuzz target for the MP3 frame walk, without and with MPEG 2.5: the input is the whole file. A walk that succeeds
// must place its first frame inside the audio region, on a header that parses (an MPEG 2.5 sync at its low rates
// when those count), and the region inside the file; nothing is allocated.
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
    for (int withMpeg25 = 0; withMpeg25 <= 1; withMpeg25++) {
        Mp3Layout layout;
        MpegFrameHeader header;
        if (WalkMp3Frames(&stream, &layout, withMpeg25) == 0 &&
            (layout.dataEnd > size || layout.firstFrame + 4 > layout.dataEnd || layout.first.frameLength <= 0 ||
             layout.totalSamples < (unsigned int)layout.first.samplesPerFrame ||
             (ParseMpegFrameHeader(data + layout.firstFrame, &header) != 0 &&
              !(withMpeg25 && (data[layout.firstFrame + 1] & 0xF8) == 0xE0)))) {
            abort();
        }
    }
    MemStreamClose(stream.handle);
    if (GetAllocationCount() != before) {
        abort();
    }
    return 0;
}
