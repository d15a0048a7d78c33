// Internal to sound/: the converter's kinds as the converter frame (sound_convert.cpp) drives them, the RIFF walk
// shared by the PCM and ACM WAVE openers, and the MPEG frame walk. Whichever thread owns a converter (the loader on
// the window thread, a stream entry under the sound lock) is the only one that touches it.
#pragma once

#include "sound/sound.h"

// Each opener fills the converter's kind fields, its output format and output buffer size, or fails leaving nothing
// allocated. A refill fills the output buffer once (outputValid > 0, outputTaken 0) and answers 0, or -1 at the end
// of the data. A seek places the kind so that the next byte delivered is the one at an output byte offset (a whole
// frame): the output buffer is emptied, or holds that byte at outputTaken. dataSize carries the PCM size of the Ogg
// kind as well.
int OpenWavePcm(SoundConverter *converter);
int RefillWavePcm(SoundConverter *converter);
int SeekWavePcm(SoundConverter *converter, unsigned int byteOffset);

int OpenOggVorbisSound(SoundConverter *converter);
int RefillOggVorbis(SoundConverter *converter);
int SeekOggVorbis(SoundConverter *converter, unsigned int byteOffset);
int CloseOggVorbis(SoundConverter *converter);

int OpenWaveAcm(SoundConverter *converter);
int OpenMp3Acm(SoundConverter *converter);
int RefillAcm(SoundConverter *converter);
int SeekAcm(SoundConverter *converter, unsigned int byteOffset);
unsigned int GetAcmPcmSize(SoundConverter *converter);
int CloseAcm(SoundConverter *converter);

// ---------------------------------------------------------------------------------------------------------------
// The RIFF WAVE walk: every chunk size checked against the bytes the stream holds.

struct RiffWaveLayout {
    unsigned char *formatChunk; // tracked block of formatSize bytes, owned by the caller once the walk succeeds
    unsigned int formatPosition, formatSize;
    unsigned int dataPosition, dataSize; // dataSize is at most what the stream holds after dataPosition
};

int ReadRiffWaveLayout(const StreamRef *source, RiffWaveLayout *layout);
// The one rule for every output format the converter hands on: 8- or 16-bit PCM, one or two channels, block align
// and bytes per second consistent with them, a rate DirectSound takes (100-200,000 Hz).
int CheckPcmOutputFormat(const WAVEFORMATEX *format);
// The stream's length in bytes (seek to the end and tell), the stream left at 0; -1 when it cannot be told.
int MeasureStream(const StreamRef *source);
// Reads exactly `bytes` at `position`; -1 on a seek failure or a short read.
int ReadStreamAt(const StreamRef *source, unsigned int position, void *buffer, unsigned int bytes);

// ---------------------------------------------------------------------------------------------------------------
// MPEG audio frames.

struct MpegFrameHeader {
    int mpeg1;           // else MPEG-2 (or 2.5)
    int layer;           // 0 Layer I, 1 II, 2 III
    int bitrate;         // kbit/s
    unsigned int rate;   // Hz
    int padding;         // 0 or 1
    int channels;        // 1 or 2
    int samplesPerFrame; // 384, 576 or 1152
    int frameLength;     // bytes
};

// 0 valid, -1 a field that is invalid (or free format), -2 no frame sync.
int ParseMpegFrameHeader(const unsigned char *bytes, MpegFrameHeader *header);

struct Mp3Layout {
    unsigned int firstFrame;   // stream position of the first frame
    unsigned int dataEnd;      // where the audio ends: the stream's end or the start of a trailing "TAG"
    unsigned int totalSamples; // PCM frames that the MPEG frames hold
    MpegFrameHeader first;
};

// withMpeg25 0: MPEG-1 and MPEG-2 frames only (the ACM kind); 1: MPEG 2.5 Layer III frames as well (the media
// graph's gate).
int WalkMp3Frames(const StreamRef *source, Mp3Layout *layout, int withMpeg25);
