// The Ogg Vorbis kind of the converter: vorbisfile reads the converter's source through callbacks of our own (the
// source stays open when vorbisfile lets go of it) and decodes 16-bit little-endian PCM, 4,096 bytes per refill.
// A stream whose stated length is negative or does not fit 32 bits of PCM is refused, and so is a later chained
// section whose channels or rate differ from the first. Used by whichever thread owns the converter.
#include "sound/convert_kinds.h"

#define OGG_OUTPUT_SIZE 4096

static size_t OggReadCallback(void *buffer, size_t size, size_t count, void *source)
{
    const StreamRef *stream = (const StreamRef *)source;
    return stream->functions.read(buffer, size, count, stream->handle);
}

// The stream takes 32-bit offsets: one that does not fit is refused rather than cut to its low bits.
static int OggSeekCallback(void *source, ogg_int64_t offset, int origin)
{
    const StreamRef *stream = (const StreamRef *)source;
    if (offset < -0x7FFFFFFFLL - 1 || offset > 0x7FFFFFFFLL) {
        return -1;
    }
    return stream->functions.seek(stream->handle, (int)offset, origin) == 0 ? 0 : -1;
}

static int ReturnZeroCallback(void *source)
{
    return 0;
}

static long OggTellCallback(void *source)
{
    const StreamRef *stream = (const StreamRef *)source;
    return stream->functions.tell(stream->handle);
}

static int FormatFromVorbisInfo(const vorbis_info *info, unsigned int wordSize, WAVEFORMATEX *format)
{
    MemFill(format, 0, sizeof(*format));
    if (info == NULL || info->channels < 1 || info->channels > 2 || info->rate < 1 || info->rate > 0x7FFFFFFF) {
        return -1;
    }
    format->wFormatTag = WAVE_FORMAT_PCM;
    format->nChannels = (WORD)info->channels;
    format->nSamplesPerSec = (DWORD)info->rate;
    format->wBitsPerSample = (WORD)(wordSize * 8);
    format->nBlockAlign = (WORD)(info->channels * wordSize);
    format->nAvgBytesPerSec = format->nSamplesPerSec * format->nBlockAlign;
    return 0;
}

static int OpenVorbisFile(SoundConverter *converter)
{
    const ov_callbacks callbacks = {OggReadCallback, OggSeekCallback, ReturnZeroCallback, OggTellCallback};
    const StreamRef *source = &converter->source;
    if (source->functions.seek(source->handle, 0, STREAM_ORIGIN_START) != 0 ||
        ov_open_callbacks(&converter->source, &converter->ogg.file, NULL, 0, callbacks) != 0) {
        return -1; // vorbisfile has already cleared its state
    }
    converter->ogg.open = 1;
    return 0;
}

int OpenOggVorbisSound(SoundConverter *converter)
{
    unsigned int wordSize = converter->ogg.wordSize == 1 ? 1 : 2;
    if (OpenVorbisFile(converter) != 0) {
        return -1;
    }
    ogg_int64_t frames = ov_pcm_total(&converter->ogg.file, -1);
    WAVEFORMATEX format;
    if (FormatFromVorbisInfo(ov_info(&converter->ogg.file, -1), wordSize, &format) != 0 || frames <= 0 ||
        (unsigned long long)frames * format.nBlockAlign > 0xFFFFFFFFull) {
        CloseOggVorbis(converter);
        return -1;
    }
    converter->ogg.wordSize = wordSize;
    converter->format = format;
    converter->dataSize = (unsigned int)((unsigned long long)frames * format.nBlockAlign);
    converter->outputSize = OGG_OUTPUT_SIZE;
    converter->kind = CONVERTER_OGG_VORBIS;
    return 0;
}

int RefillOggVorbis(SoundConverter *converter)
{
    int section = 0;
    if (!converter->ogg.open) {
        return -1;
    }
    long got = ov_read(&converter->ogg.file, (char *)converter->output, (int)converter->outputSize, 0,
                       (int)converter->ogg.wordSize, converter->ogg.wordSize != 1, &section);
    const vorbis_info *info = ov_info(&converter->ogg.file, section);
    if (got <= 0 || info == NULL || info->channels != converter->format.nChannels ||
        info->rate != (long)converter->format.nSamplesPerSec) {
        return -1;
    }
    converter->outputValid = (unsigned int)got;
    converter->outputTaken = 0;
    return 0;
}

// Back to the start (the loop restart, the only seek the program's streams make elsewhere than where they stand)
// the file is opened afresh: vorbisfile's own seek lets a damaged file drive libogg into a memmove of negative size
// on the next read. A failed reopen ends the data.
int SeekOggVorbis(SoundConverter *converter, unsigned int byteOffset)
{
    converter->outputValid = 0;
    converter->outputTaken = 0;
    unsigned int frame = byteOffset / converter->format.nBlockAlign;
    if (frame != 0 || !converter->ogg.open) {
        return converter->ogg.open && ov_pcm_seek(&converter->ogg.file, frame) == 0 ? 0 : -1;
    }
    CloseOggVorbis(converter);
    return OpenVorbisFile(converter);
}

int CloseOggVorbis(SoundConverter *converter)
{
    if (converter->ogg.open) {
        ov_clear(&converter->ogg.file);
        converter->ogg.open = 0;
    }
    return 0;
}
