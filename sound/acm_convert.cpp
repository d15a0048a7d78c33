// The Audio Compression Manager kind of the converter: compressed RIFF WAVE (IMA ADPCM, MS ADPCM, anything a codec
// turns into PCM) and MP3, both read whole into memory and converted a step at a time. Stream A delivers what
// plays; stream B decodes ahead from the start towards the seek target so that a jump back there is a swap instead
// of a decode from the start. Every step of either stream takes at least one whole source block, and the output
// buffers are sized for one step. The entries are those start-up bound in g_Sound.acm; a missing one makes both
// openers decline. Used by whichever thread owns the converter.
#include "sound/convert_kinds.h"
#include "sound/sound_internal.h"

#define ACM_STEP_BYTES 2048         // source bytes per step, whole blocks, unless one block is larger
#define SEEK_AHEAD_SLACK 0x2800     // stream B stops this many output bytes short of the target
#define MP3_FORMAT_SIZE_FALLBACK 30 // the MPEG Layer-3 format's own size
#define MP3_FORMAT_SIZE_LIMIT 1024
#define MP3_CODEC_DELAY 700

static int AcmEntriesBound(void)
{
    const AcmEntries *acm = &g_Sound.acm;
    return acm->formatSuggest != NULL && acm->streamOpen != NULL && acm->streamClose != NULL &&
           acm->streamPrepareHeader != NULL && acm->streamConvert != NULL && acm->streamUnprepareHeader != NULL &&
           acm->streamSize != NULL;
}

static unsigned int StepBytes(const SoundConverter *converter)
{
    unsigned int block = converter->acm.sourceFormat->nBlockAlign;
    return block >= ACM_STEP_BYTES ? block : ACM_STEP_BYTES - ACM_STEP_BYTES % block;
}

static int OpenAcmStream(SoundConverter *converter, HACMSTREAM *stream)
{
    *stream = NULL;
    MMRESULT result = g_Sound.acm.streamOpen(stream, NULL, converter->acm.sourceFormat, &converter->format, NULL, 0, 0,
                                             ACM_STREAMOPENF_NONREALTIME);
    if (result != 0) {
        *stream = NULL;
        return -1;
    }
    return 0;
}

static void CloseAcmStream(HACMSTREAM *stream)
{
    if (*stream != NULL) {
        g_Sound.acm.streamClose(*stream, 0);
        *stream = NULL;
    }
}

// One step of a stream: converts up to one step of source bytes at `position` into `output`.
static int ConvertStep(SoundConverter *converter, HACMSTREAM stream, unsigned int position, unsigned char *output,
                       unsigned int outputBytes, unsigned int *used, unsigned int *produced)
{
    unsigned int rest = converter->acm.dataSize - position, step = StepBytes(converter);
    *used = 0;
    *produced = 0;
    ACMSTREAMHEADER header;
    MemFill(&header, 0, sizeof(header));
    header.cbStruct = sizeof(header);
    header.pbSrc = converter->acm.data + position;
    header.cbSrcLength = rest < step ? rest : step;
    header.pbDst = output;
    header.cbDstLength = outputBytes;
    if (stream == NULL || g_Sound.acm.streamPrepareHeader(stream, &header, 0) != 0) {
        return -1;
    }
    MMRESULT result = g_Sound.acm.streamConvert(stream, &header, 0);
    g_Sound.acm.streamUnprepareHeader(stream, &header, 0);
    *used = header.cbSrcLengthUsed < header.cbSrcLength ? header.cbSrcLengthUsed : header.cbSrcLength;
    *produced = header.cbDstLengthUsed < outputBytes ? header.cbDstLengthUsed : outputBytes;
    return result == 0 ? 0 : -1;
}

// Stream B follows the seek target: restarted when the target lies behind it, else stepped towards it.
static void AdvanceSeekAhead(SoundConverter *converter)
{
    unsigned int target = converter->seekTarget > 0 ? (unsigned int)converter->seekTarget : 0;
    if (target < converter->acm.outputB) {
        CloseAcmStream(&converter->acm.streamB);
        OpenAcmStream(converter, &converter->acm.streamB);
        converter->acm.positionB = 0;
        converter->acm.outputB = 0;
    }
    while (converter->acm.outputB + SEEK_AHEAD_SLACK < target && converter->acm.positionB < converter->acm.dataSize) {
        unsigned int room = target - converter->acm.outputB, used, produced;
        if (ConvertStep(converter, converter->acm.streamB, converter->acm.positionB, converter->acm.scratchB,
                        room < converter->outputSize ? room : converter->outputSize, &used, &produced) != 0 ||
            (used == 0 && produced == 0)) {
            break;
        }
        converter->acm.positionB += used;
        converter->acm.outputB += produced;
    }
}

// Stream A fills the output buffer with the next step that yields anything (a codec may take input before it
// gives output); the data is used up when a step takes nothing.
static int StepStreamA(SoundConverter *converter)
{
    converter->outputValid = 0;
    converter->outputTaken = 0;
    while (converter->acm.positionA < converter->acm.dataSize) {
        unsigned int used, produced;
        int failed = ConvertStep(converter, converter->acm.streamA, converter->acm.positionA, converter->output,
                                 converter->outputSize, &used, &produced) != 0;
        converter->acm.positionA = failed || used == 0 ? converter->acm.dataSize : converter->acm.positionA + used;
        if (!failed && produced > 0) {
            converter->outputValid = produced;
            return 0;
        }
    }
    return -1;
}

int RefillAcm(SoundConverter *converter)
{
    AdvanceSeekAhead(converter);
    return StepStreamA(converter);
}

// Backwards, A restarts from the data start, or takes B's place when B already stands between the start and the
// target (B then restarts); then A converts forward until the target lies in the output buffer.
int SeekAcm(SoundConverter *converter, unsigned int byteOffset)
{
    unsigned int bufferStart = converter->outputPosition - converter->outputTaken;
    unsigned int produced = bufferStart + converter->outputValid;
    if (byteOffset < bufferStart) {
        if (byteOffset < converter->acm.outputB) {
            CloseAcmStream(&converter->acm.streamA);
            OpenAcmStream(converter, &converter->acm.streamA);
            converter->acm.positionA = 0;
            produced = 0;
        } else {
            HACMSTREAM stream = converter->acm.streamA;
            converter->acm.streamA = converter->acm.streamB;
            converter->acm.streamB = stream;
            converter->acm.positionA = converter->acm.positionB;
            produced = converter->acm.outputB;
            CloseAcmStream(&converter->acm.streamB);
            OpenAcmStream(converter, &converter->acm.streamB);
            converter->acm.positionB = 0;
            converter->acm.outputB = 0;
        }
    }
    while (StepStreamA(converter) == 0) {
        if (byteOffset < produced + converter->outputValid) {
            converter->outputTaken = byteOffset - produced;
            return 0;
        }
        produced += converter->outputValid;
    }
    return -1;
}

unsigned int GetAcmPcmSize(SoundConverter *converter)
{
    if (converter->acm.totalFrames >= 0) {
        return (unsigned int)converter->acm.totalFrames * converter->format.nBlockAlign;
    }
    DWORD bytes = 0;
    if (g_Sound.acm.streamSize(converter->acm.streamA, converter->acm.dataSize, &bytes, ACM_STREAMSIZEF_SOURCE) != 0) {
        return 0;
    }
    return bytes;
}

int CloseAcm(SoundConverter *converter)
{
    CloseAcmStream(&converter->acm.streamA);
    CloseAcmStream(&converter->acm.streamB);
    FreeMemory(converter->acm.sourceFormat);
    FreeMemory(converter->acm.scratchB);
    FreeMemory(converter->acm.data);
    MemFill(&converter->acm, 0, sizeof(converter->acm));
    return 0;
}

// From a source format and its data in memory (both already in converter->acm): the PCM format the codec suggests,
// streams A and B, and output buffers of `numerator / denominator` seconds, or one step's output when that is more.
static int StartAcmStreams(SoundConverter *converter, unsigned int numerator, unsigned int denominator)
{
    MemFill(&converter->format, 0, sizeof(converter->format));
    converter->format.wFormatTag = WAVE_FORMAT_PCM;
    if (g_Sound.acm.formatSuggest(NULL, converter->acm.sourceFormat, &converter->format, sizeof(WAVEFORMATEX),
                                  ACM_FORMATSUGGESTF_WFORMATTAG) != 0 ||
        CheckPcmOutputFormat(&converter->format) != 0 || OpenAcmStream(converter, &converter->acm.streamA) != 0 ||
        OpenAcmStream(converter, &converter->acm.streamB) != 0) {
        return -1;
    }
    DWORD stepOutput = 0;
    if (g_Sound.acm.streamSize(converter->acm.streamA, StepBytes(converter), &stepOutput, ACM_STREAMSIZEF_SOURCE) !=
        0) {
        return -1;
    }
    unsigned long long seconds = (unsigned long long)converter->format.nAvgBytesPerSec * numerator / denominator;
    unsigned long long size = seconds > stepOutput ? seconds : stepOutput;
    size -= size % converter->format.nBlockAlign;
    if (size == 0 || size > 0x7FFFFFFF) {
        return -1;
    }
    converter->outputSize = (unsigned int)size;
    converter->acm.scratchB = (unsigned char *)ENGINE_ALLOC(converter->outputSize);
    if (converter->acm.scratchB == NULL) {
        return -1;
    }
    converter->kind = CONVERTER_ACM;
    return 0;
}

// Reads `size` bytes at `position` into a new tracked block for the codec.
static int LoadAcmData(SoundConverter *converter, unsigned int position, unsigned int size)
{
    converter->acm.data = size == 0 ? NULL : (unsigned char *)ENGINE_ALLOC(size);
    if (converter->acm.data == NULL || ReadStreamAt(&converter->source, position, converter->acm.data, size) != 0) {
        return -1;
    }
    converter->acm.dataSize = size;
    converter->dataPosition = position;
    converter->dataSize = size;
    return 0;
}

// The source format as the codec needs it: at least the 18 bytes of WAVEFORMATEX, its extra bytes within the chunk.
static WAVEFORMATEX *CopySourceFormat(const unsigned char *chunk, unsigned int chunkSize)
{
    unsigned int size = chunkSize > sizeof(WAVEFORMATEX) ? chunkSize : sizeof(WAVEFORMATEX);
    WAVEFORMATEX *format = (WAVEFORMATEX *)ENGINE_ALLOC_ZEROED(size);
    if (format == NULL) {
        return NULL;
    }
    MemCopy(format, chunk, chunkSize);
    if (chunkSize < sizeof(WAVEFORMATEX)) {
        format->cbSize = 0;
    }
    if (format->wFormatTag == WAVE_FORMAT_PCM || format->nChannels == 0 || format->nBlockAlign == 0 ||
        format->nSamplesPerSec == 0 || format->nAvgBytesPerSec == 0 ||
        (unsigned long long)format->cbSize + sizeof(WAVEFORMATEX) > size) {
        FreeMemory(format);
        return NULL;
    }
    return format;
}

int OpenWaveAcm(SoundConverter *converter)
{
    RiffWaveLayout layout;
    if (!AcmEntriesBound() || ReadRiffWaveLayout(&converter->source, &layout) != 0) {
        return -1;
    }
    converter->acm.sourceFormat = CopySourceFormat(layout.formatChunk, layout.formatSize);
    FreeMemory(layout.formatChunk);
    converter->acm.totalFrames = -1;
    converter->formatPosition = layout.formatPosition;
    converter->formatSize = layout.formatSize;
    if (converter->acm.sourceFormat == NULL || LoadAcmData(converter, layout.dataPosition, layout.dataSize) != 0 ||
        StartAcmStreams(converter, 1, 1) != 0) {
        CloseAcm(converter);
        return -1;
    }
    return 0;
}

static WAVEFORMATEX *MakeMp3Format(const MpegFrameHeader *frame)
{
    DWORD size = 0;
    if (g_Sound.acm.metrics == NULL || g_Sound.acm.metrics(NULL, ACM_METRIC_MAX_SIZE_FORMAT, &size) != 0 ||
        size < sizeof(MPEGLAYER3WAVEFORMAT) || size > MP3_FORMAT_SIZE_LIMIT) {
        size = MP3_FORMAT_SIZE_FALLBACK;
    }
    MPEGLAYER3WAVEFORMAT *format = (MPEGLAYER3WAVEFORMAT *)ENGINE_ALLOC_ZEROED(size);
    if (format == NULL) {
        return NULL;
    }
    format->wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    format->wfx.nChannels = (WORD)frame->channels;
    format->wfx.nSamplesPerSec = frame->rate;
    format->wfx.nAvgBytesPerSec = frame->bitrate * 1000 / 8;
    format->wfx.nBlockAlign = 1;
    format->wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
    format->wID = MPEGLAYER3_ID_MPEG;
    format->fdwFlags = (DWORD)frame->padding;
    format->nBlockSize = (WORD)frame->frameLength;
    format->nFramesPerBlock = 1;
    format->nCodecDelay = MP3_CODEC_DELAY;
    return &format->wfx;
}

int OpenMp3Acm(SoundConverter *converter)
{
    Mp3Layout layout;
    if (!AcmEntriesBound() || WalkMp3Frames(&converter->source, &layout, 0) != 0) {
        return -1;
    }
    converter->acm.sourceFormat = MakeMp3Format(&layout.first);
    converter->acm.totalFrames = (int)layout.totalSamples;
    if (converter->acm.sourceFormat == NULL ||
        LoadAcmData(converter, layout.firstFrame, layout.dataEnd - layout.firstFrame) != 0 ||
        StartAcmStreams(converter, 4, 3) != 0) {
        CloseAcm(converter);
        return -1;
    }
    return 0;
}
