// Fuzz target for one kind of the sound converter, chosen at build time (FUZZ_KIND_MASK masks the others): the
// input is the whole sound file. An accepted file is converted whole, then read again in pieces after a seek; nothing
// may come out beyond what the file can hold, and every block must be freed again.
#include "sound/sound_internal.h"

#include <stdint.h>
#include <stdlib.h>

#define SOUND_CONVERTER_ONLY_Wave (~1)
#define SOUND_CONVERTER_ONLY_Ogg (~4)

static unsigned char s_Piece[5000];

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    g_SoundConverterMask = FUZZ_KIND_MASK;
    int before = GetAllocationCount();
    StreamRef stream;
    if (OpenMemoryStreamRef(data, (unsigned int)size, &stream) != 0) {
        return 0;
    }
    SoundConverter converter;
    if (OpenSoundConverter(&stream, &converter) == 0) {
        WAVEFORMATEX format;
        void *block = NULL;
        unsigned int bytes = 0;
        if (ConvertAllToPcm(&converter, &format, &block, &bytes) == 0) {
            // PCM WAVE gives at most its own bytes; Vorbis at most a few hundred frames per byte.
            if ((FUZZ_KIND_MASK == SOUND_CONVERTER_ONLY_Wave && bytes > size) || bytes % format.nBlockAlign != 0) {
                abort();
            }
            // A WAVE seeks into its middle; an Ogg file only back to its start, as the program's streams do
            // (vorbisfile's own seek into a damaged file is the library's flaw, not ours).
            SeekConverter(&converter,
                          FUZZ_KIND_MASK == SOUND_CONVERTER_ONLY_Wave ? (int)(bytes / format.nBlockAlign / 2) : 0);
            while (ReadConverter(&converter, s_Piece, sizeof(s_Piece)) > 0) {
            }
            FreeMemory(block);
        }
        CloseConverter(&converter);
    }
    MemStreamClose(stream.handle);
    if (GetAllocationCount() != before) {
        abort(); // a tracked block leaked
    }
    return 0;
}
