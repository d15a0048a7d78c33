// The RIFF WAVE walk shared by the PCM and ACM WAVE openers, the PCM output-format rule, and the PCM WAVE kind
// (read straight from the source). The bytes are untrusted: every chunk size is checked in 64 bits against what the
// stream holds, so a size with its top bit set can never turn into a backward seek, and every header read checks its
// byte count. Used by whichever thread owns the converter; no state of its own.
#include "sound/convert_kinds.h"

#define RIFF_HEADER_SIZE 12
#define CHUNK_HEADER_SIZE 8
#define PCM_FORMAT_CHUNK_SIZE 16 // the WAVEFORMAT fields without the extra-size word
#define WAVE_FORMAT_PCM_TAG 1
#define LOWEST_SAMPLE_RATE 100 // DirectSound's own bounds
#define HIGHEST_SAMPLE_RATE 200000

static unsigned int ReadLittle32(const unsigned char *bytes)
{
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | (unsigned int)bytes[3] << 24;
}

static int ChunkIdIs(const unsigned char *header, const char *id)
{
    return header[0] == id[0] && header[1] == id[1] && header[2] == id[2] && header[3] == id[3];
}

int MeasureStream(const StreamRef *source)
{
    if (source->functions.seek(source->handle, 0, STREAM_ORIGIN_END) != 0) {
        return -1;
    }
    int size = source->functions.tell(source->handle);
    if (source->functions.seek(source->handle, 0, STREAM_ORIGIN_START) != 0) {
        return -1;
    }
    return size;
}

int ReadStreamAt(const StreamRef *source, unsigned int position, void *buffer, unsigned int bytes)
{
    if (position > 0x7FFFFFFF || source->functions.seek(source->handle, (int)position, STREAM_ORIGIN_START) != 0) {
        return -1;
    }
    return source->functions.read(buffer, 1, bytes, source->handle) == bytes ? 0 : -1;
}

int CheckPcmOutputFormat(const WAVEFORMATEX *format)
{
    if (format->wFormatTag != WAVE_FORMAT_PCM_TAG || (format->wBitsPerSample != 8 && format->wBitsPerSample != 16) ||
        format->nChannels < 1 || format->nChannels > 2) {
        return -1;
    }
    if (format->nSamplesPerSec < LOWEST_SAMPLE_RATE || format->nSamplesPerSec > HIGHEST_SAMPLE_RATE) {
        return -1;
    }
    unsigned int blockAlign = format->nChannels * format->wBitsPerSample / 8;
    if (format->nBlockAlign != blockAlign || format->nAvgBytesPerSec != format->nSamplesPerSec * blockAlign) {
        return -1;
    }
    return 0;
}

// Walks from one chunk header to the next until `id`; on the way every chunk (and its pad byte) must fit in the
// stream. On success `position` is just past the found chunk's header and `size` is its stated size.
static int FindChunk(const StreamRef *source, unsigned long long streamSize, unsigned long long *position,
                     const char *id, unsigned int *size)
{
    unsigned char header[CHUNK_HEADER_SIZE];
    for (;;) {
        if (*position + CHUNK_HEADER_SIZE > streamSize ||
            ReadStreamAt(source, (unsigned int)*position, header, CHUNK_HEADER_SIZE) != 0) {
            return -1;
        }
        *position += CHUNK_HEADER_SIZE;
        *size = ReadLittle32(header + 4);
        if (ChunkIdIs(header, id)) {
            return 0;
        }
        unsigned long long padded = (unsigned long long)*size + (*size & 1);
        if (padded > streamSize - *position) {
            return -1;
        }
        *position += padded;
    }
}

int ReadRiffWaveLayout(const StreamRef *source, RiffWaveLayout *layout)
{
    MemFill(layout, 0, sizeof(*layout));
    int measured = MeasureStream(source);
    unsigned char header[RIFF_HEADER_SIZE];
    if (measured < RIFF_HEADER_SIZE || ReadStreamAt(source, 0, header, RIFF_HEADER_SIZE) != 0 ||
        !ChunkIdIs(header, "RIFF") || !ChunkIdIs(header + 8, "WAVE")) {
        return -1;
    }
    unsigned long long streamSize = (unsigned int)measured;
    unsigned long long position = RIFF_HEADER_SIZE;
    unsigned int size;
    // Chunks before the format ("bext" and the like) are stepped over.
    if (FindChunk(source, streamSize, &position, "fmt ", &size) != 0 || size < PCM_FORMAT_CHUNK_SIZE ||
        size > streamSize - position) {
        return -1;
    }
    layout->formatPosition = (unsigned int)position;
    layout->formatSize = size;
    position += (unsigned long long)size + (size & 1);
    unsigned int dataSize;
    if (FindChunk(source, streamSize, &position, "data", &dataSize) != 0) {
        return -1;
    }
    layout->dataPosition = (unsigned int)position;
    layout->dataSize = dataSize < streamSize - position ? dataSize : (unsigned int)(streamSize - position);
    layout->formatChunk = (unsigned char *)ENGINE_ALLOC(size);
    if (layout->formatChunk == NULL ||
        ReadStreamAt(source, layout->formatPosition, layout->formatChunk, layout->formatSize) != 0) {
        FreeMemory(layout->formatChunk);
        layout->formatChunk = NULL;
        return -1;
    }
    return 0;
}

int OpenWavePcm(SoundConverter *converter)
{
    RiffWaveLayout layout;
    if (ReadRiffWaveLayout(&converter->source, &layout) != 0) {
        return -1;
    }
    WAVEFORMATEX format;
    MemFill(&format, 0, sizeof(format));
    MemCopy(&format, layout.formatChunk, layout.formatSize < sizeof(format) ? layout.formatSize : sizeof(format));
    FreeMemory(layout.formatChunk);
    format.cbSize = 0;
    if (layout.formatSize == PCM_FORMAT_CHUNK_SIZE && format.nChannels != 0) {
        format.wBitsPerSample = (WORD)(format.nBlockAlign / format.nChannels * 8);
    }
    // A tag other than PCM leaves the file to the ACM opener.
    if (CheckPcmOutputFormat(&format) != 0) {
        return -1;
    }
    unsigned int wholeBlocks = layout.dataSize - layout.dataSize % format.nBlockAlign;
    if (wholeBlocks == 0) {
        return -1;
    }
    converter->format = format;
    converter->formatPosition = layout.formatPosition;
    converter->formatSize = layout.formatSize;
    converter->dataPosition = layout.dataPosition;
    converter->dataSize = wholeBlocks;
    converter->outputSize = format.nAvgBytesPerSec;
    converter->kind = CONVERTER_PCM_WAVE;
    return SeekWavePcm(converter, 0);
}

int RefillWavePcm(SoundConverter *converter)
{
    const StreamRef *source = &converter->source;
    int position = source->functions.tell(source->handle) - (int)converter->dataPosition;
    if (position < 0 || (unsigned int)position >= converter->dataSize) {
        return -1;
    }
    unsigned int rest = converter->dataSize - (unsigned int)position;
    unsigned int wanted = rest < converter->outputSize ? rest : converter->outputSize;
    size_t got = source->functions.read(converter->output, 1, wanted, source->handle);
    converter->outputValid = (unsigned int)got;
    converter->outputTaken = 0;
    return got > 0 ? 0 : -1;
}

int SeekWavePcm(SoundConverter *converter, unsigned int byteOffset)
{
    unsigned int offset = byteOffset < converter->dataSize ? byteOffset : converter->dataSize;
    converter->outputValid = 0;
    converter->outputTaken = 0;
    const StreamRef *source = &converter->source;
    return source->functions.seek(source->handle, (int)(converter->dataPosition + offset), STREAM_ORIGIN_START);
}
