// The PCM converter frame: opening a sound file through the kinds in their fixed order, reading and seeking its PCM
// through the output buffer, its size, whole-file conversion, closing; also the PCM in memory that the media graph
// fills (kind 3), the RIFF WAVE image that stream sounds build, and the frames-to-milliseconds rule. A converter is
// touched only by its owner: the loading thread, or the refill thread and the window thread under the sound lock.
#include "sound/convert_kinds.h"
#include "sound/sound_internal.h"
#include "media/media.h"

#define WAVE_IMAGE_HEADER_SIZE 28       // "RIFF", size, "WAVE", "fmt ", format size, "data", data size
#define FIRST_PCM_BLOCK_LIMIT 0x1000000 // a stated size above this is grown into, not trusted up front

int g_SoundConverterMask;

enum ConverterMaskBit {
    MASK_PCM_WAVE = 1,
    MASK_ACM_WAVE = 2,
    MASK_OGG_VORBIS = 4,
    MASK_MP3_ACM = 8,
    MASK_MP3_MEDIA_GRAPH = 16,
};

static int RefillMemoryPcm(SoundConverter *converter)
{
    unsigned int rest = converter->memory.size - converter->memory.position;
    if (converter->memory.position >= converter->memory.size) {
        return -1;
    }
    unsigned int bytes = rest < converter->outputSize ? rest : converter->outputSize;
    MemCopy(converter->output, converter->memory.block + converter->memory.position, bytes);
    converter->memory.position += bytes;
    converter->outputValid = bytes;
    converter->outputTaken = 0;
    return 0;
}

static int RefillByKind(SoundConverter *converter)
{
    switch (converter->kind) {
    case CONVERTER_PCM_WAVE:
        return RefillWavePcm(converter);
    case CONVERTER_ACM:
        return RefillAcm(converter);
    case CONVERTER_OGG_VORBIS:
        return RefillOggVorbis(converter);
    case CONVERTER_PCM_MEMORY:
        return RefillMemoryPcm(converter);
    }
    return -1;
}

static int SeekByKind(SoundConverter *converter, unsigned int byteOffset)
{
    switch (converter->kind) {
    case CONVERTER_PCM_WAVE:
        return SeekWavePcm(converter, byteOffset);
    case CONVERTER_ACM:
        return SeekAcm(converter, byteOffset);
    case CONVERTER_OGG_VORBIS:
        return SeekOggVorbis(converter, byteOffset);
    case CONVERTER_PCM_MEMORY:
        converter->memory.position = byteOffset < converter->memory.size ? byteOffset : converter->memory.size;
        converter->outputValid = 0;
        converter->outputTaken = 0;
        return 0;
    }
    return -1;
}

static void CloseByKind(SoundConverter *converter)
{
    switch (converter->kind) {
    case CONVERTER_ACM:
        CloseAcm(converter);
        break;
    case CONVERTER_OGG_VORBIS:
        CloseOggVorbis(converter);
        break;
    case CONVERTER_PCM_MEMORY:
        FreeMemory(converter->memory.block);
        converter->memory.block = NULL;
        break;
    }
}

// Tries the kinds in their fixed order; the source is rewound after each refusal.
static int OpenByKind(SoundConverter *converter)
{
    typedef int (*Opener)(SoundConverter *);
    static const struct {
        int maskBit;
        Opener open;
    } openers[] = {
        {MASK_PCM_WAVE, OpenWavePcm},
        {MASK_ACM_WAVE, OpenWaveAcm},
        {MASK_OGG_VORBIS, OpenOggVorbisSound},
        {MASK_MP3_ACM, OpenMp3Acm},
    };
    const StreamRef *source = &converter->source;
    for (const auto &opener : openers) {
        if ((g_SoundConverterMask & opener.maskBit) == 0 && opener.open(converter) == 0) {
            return 0;
        }
        source->functions.seek(source->handle, 0, STREAM_ORIGIN_START);
    }
    // The media graph decodes whatever the platform's parsers know (WAVE and Ogg too, damaged ones included), so
    // only data that the frame walk takes for MPEG audio reaches it; MPEG 2.5, which the ACM kind refuses, included.
    Mp3Layout layout;
    if ((g_SoundConverterMask & MASK_MP3_MEDIA_GRAPH) == 0 && WalkMp3Frames(source, &layout, 1) == 0 &&
        ConvertMp3ToPcm(converter) == 0) {
        converter->kind = CONVERTER_PCM_MEMORY;
        return 0;
    }
    return -1;
}

int OpenSoundConverter(const StreamRef *source, SoundConverter *converter)
{
    MemFill(converter, 0, sizeof(*converter));
    converter->source = *source;
    converter->kind = -1;
    converter->ogg.wordSize = (unsigned int)g_Sound.oggWordSize; // 2 once sound has started; only 1 changes it
    source->functions.seek(source->handle, 0, STREAM_ORIGIN_START);
    if (OpenByKind(converter) != 0) {
        return -1;
    }
    // Every kind's format passes the same rule before anything plays it; the buffer holds at least one frame, and
    // the first refill must yield some, so that a file with nothing decodable is refused here.
    if (CheckPcmOutputFormat(&converter->format) == 0 && converter->outputSize >= converter->format.nBlockAlign) {
        converter->output = (unsigned char *)ENGINE_ALLOC(converter->outputSize);
    }
    if (converter->output == NULL || RefillByKind(converter) != 0) {
        FreeMemory(converter->output);
        CloseByKind(converter);
        MemFill(converter, 0, sizeof(*converter));
        return -1;
    }
    converter->open = 1;
    return 0;
}

int ReadConverter(SoundConverter *converter, void *buffer, unsigned int bytes)
{
    if (!converter->open) {
        return -1;
    }
    unsigned int delivered = 0;
    while (!converter->endOfData && delivered < bytes) {
        if (converter->outputTaken == converter->outputValid && RefillByKind(converter) != 0) {
            converter->endOfData = 1;
            break;
        }
        unsigned int available = converter->outputValid - converter->outputTaken;
        unsigned int count = bytes - delivered < available ? bytes - delivered : available;
        MemCopy((unsigned char *)buffer + delivered, converter->output + converter->outputTaken, count);
        converter->outputTaken += count;
        converter->outputPosition += count;
        delivered += count;
    }
    return (int)delivered;
}

// A target inside the data already in the output buffer, or just past it where the kind stands, only moves the taken
// count; anything else goes to the kind.
int SeekConverter(SoundConverter *converter, int frame)
{
    if (!converter->open || frame < 0) {
        return 0;
    }
    unsigned long long target = (unsigned long long)frame * converter->format.nBlockAlign;
    unsigned int bufferStart = converter->outputPosition - converter->outputTaken;
    if (target >= bufferStart && target <= (unsigned long long)bufferStart + converter->outputValid) {
        converter->outputTaken = (unsigned int)(target - bufferStart);
        converter->outputPosition = (unsigned int)target;
    } else {
        unsigned int offset = target > 0xFFFFFFFFu ? 0xFFFFFFFFu : (unsigned int)target;
        offset -= offset % converter->format.nBlockAlign;
        SeekByKind(converter, offset);
        converter->outputPosition = offset;
    }
    converter->endOfData = 0;
    return 0;
}

int GetConverterFormat(const SoundConverter *converter, WAVEFORMATEX *format)
{
    *format = converter->format;
    return 0;
}

unsigned int GetConverterPcmSize(SoundConverter *converter)
{
    switch (converter->kind) {
    case CONVERTER_PCM_WAVE:
    case CONVERTER_OGG_VORBIS:
        return converter->dataSize;
    case CONVERTER_ACM:
        return GetAcmPcmSize(converter);
    case CONVERTER_PCM_MEMORY:
        return converter->memory.size;
    }
    return 0;
}

// Reads everything through the converter into one tracked block. The stated size is only a first guess (a damaged
// file can claim gigabytes it does not hold), so the block grows as data really arrives.
static int ReadAllThroughConverter(SoundConverter *converter, unsigned char **block, unsigned int *size)
{
    unsigned int stated = GetConverterPcmSize(converter);
    unsigned int capacity =
        stated == 0 ? converter->outputSize : (stated < FIRST_PCM_BLOCK_LIMIT ? stated : FIRST_PCM_BLOCK_LIMIT);
    unsigned char *data = (unsigned char *)ENGINE_ALLOC(capacity);
    unsigned int filled = 0;
    while (data != NULL) {
        filled += (unsigned int)ReadConverter(converter, data + filled, capacity - filled);
        if (filled < capacity || converter->endOfData) {
            break;
        }
        unsigned long long grown = (unsigned long long)capacity * 2;
        unsigned char *larger = grown > 0xFFFFFFFFu ? NULL : (unsigned char *)ENGINE_REALLOC(data, (size_t)grown);
        if (larger == NULL) {
            FreeMemory(data);
        }
        data = larger;
        capacity = (unsigned int)grown;
    }
    *block = data;
    *size = filled;
    return data != NULL && filled > 0 ? 0 : -1;
}

int ConvertAllToPcm(SoundConverter *converter, WAVEFORMATEX *format, void **block, unsigned int *size)
{
    *block = NULL;
    *size = 0;
    if (!converter->open) {
        return -1;
    }
    SeekConverter(converter, 0);
    unsigned char *data = NULL;
    unsigned int filled = 0;
    if (converter->kind == CONVERTER_PCM_WAVE) {
        data = (unsigned char *)ENGINE_ALLOC(converter->dataSize);
        if (data != NULL && ReadStreamAt(&converter->source, converter->dataPosition, data, converter->dataSize) == 0) {
            filled = converter->dataSize;
        }
    } else if (ReadAllThroughConverter(converter, &data, &filled) == 0) {
        filled -= filled % converter->format.nBlockAlign;
    }
    if (filled == 0) {
        FreeMemory(data);
        return -1;
    }
    *format = converter->format;
    *block = data;
    *size = filled;
    return 0;
}

int CloseConverter(SoundConverter *converter)
{
    if (!converter->open) {
        return -1;
    }
    FreeMemory(converter->output);
    converter->output = NULL;
    CloseByKind(converter);
    converter->open = 0;
    return 0;
}

int BuildWaveImage(void **image, unsigned int *size, const WAVEFORMATEX *format, unsigned int formatSize,
                   const void *data, unsigned int dataSize)
{
    unsigned long long total = (unsigned long long)formatSize + dataSize + WAVE_IMAGE_HEADER_SIZE;
    unsigned char *bytes = total > 0xFFFFFFFFu ? NULL : (unsigned char *)ENGINE_ALLOC((size_t)total);
    if (bytes == NULL) {
        return AddLog("仮WAVEファイルイメージ用のメモリ確保に失敗しました");
    }
    unsigned int riffSize = (unsigned int)total - 8;
    MemCopy(bytes, "RIFF", 4);
    MemCopy(bytes + 4, &riffSize, 4);
    MemCopy(bytes + 8, "WAVEfmt ", 8);
    MemCopy(bytes + 16, &formatSize, 4);
    MemCopy(bytes + 20, format, formatSize);
    MemCopy(bytes + 20 + formatSize, "data", 4);
    MemCopy(bytes + 24 + formatSize, &dataSize, 4);
    MemCopy(bytes + 28 + formatSize, data, dataSize);
    *image = bytes;
    *size = (unsigned int)total;
    return 0;
}

int SamplesToMilliseconds(int frames, int rate)
{
    return rate <= 0 ? 0 : (int)((long long)frames * 1000 / rate);
}
