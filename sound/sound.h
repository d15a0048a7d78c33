// Sound: sound handles, DirectSound buffers, stream sounds and their refill thread, conversion to PCM.
// The public contract of the subsystem: the only header other subsystems include.
#pragma once

#include "core/core.h"
#include "file/file.h"

#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>
#include <vorbis/vorbisfile.h>

// ---------------------------------------------------------------------------------------------------------------
// Sound start-up and end, and the upkeep the message pump runs.

int InitSoundSystem(void);
int TerminateSoundSystem(void);
int ProcessAllStreamSounds(void);
int RefillAllSoftSoundPlayers(void);
int RefreshMidiPlayState(void);
int PlayMidiByMci(void);
int StopCurrentMusic(void);

// ---------------------------------------------------------------------------------------------------------------
// Sound handles.

int LoadSoundFromMemory(const void *data, unsigned int size, int bufferCount, EngineHandle share);
int LoadSoundFromResource(const char *name, const char *type, int bufferCount);
int PlaySoundHandle(EngineHandle handle, int playType, int top); // 0 wait, 1 background, 3 looped
int StopSoundHandle(EngineHandle handle);
int CheckSoundPlaying(EngineHandle handle);
int SetSoundVolume255(int volume, EngineHandle handle);
int GetSoundTotalSample(EngineHandle handle);
int GetSoundTotalTime(EngineHandle handle);
int GetSoundPlayPosition(EngineHandle handle);
int DeleteSoundHandle(EngineHandle handle, int flag);
int DeleteAllSoundHandles(int flag);

// ---------------------------------------------------------------------------------------------------------------
// Soft sounds, MIDI music and the capture file: their tables stay empty in this program.

int DeleteSoftSoundHandle(EngineHandle handle, int kind);
int CheckMusicPlaying(EngineHandle handle);
int StopMusicMem(EngineHandle handle);
int DeleteMusicMem(EngineHandle handle);
int CloseCaptureFile(void);

// ---------------------------------------------------------------------------------------------------------------
// The PCM converter: a sound file read through a stream, turned into PCM on demand and seekable by frame. The
// media graph fills the kind-3 fields (memory) when it decodes MP3.

enum SoundConverterKind {
    CONVERTER_PCM_WAVE = 0,
    CONVERTER_ACM = 1,
    CONVERTER_OGG_VORBIS = 2,
    CONVERTER_PCM_MEMORY = 3, // filled by ConvertMp3ToPcm (media/)
};

struct SoundConverter {
    unsigned int open;
    unsigned int endOfData;
    int kind;
    StreamRef source;
    unsigned int formatPosition, formatSize;
    unsigned int dataPosition, dataSize;
    WAVEFORMATEX format; // the output format
    struct {
        WAVEFORMATEX *sourceFormat;
        HACMSTREAM streamA, streamB;
        unsigned char *data;
        unsigned int dataSize;
        unsigned int positionA;
        int totalFrames; // -1: ask the codec
        unsigned int positionB, outputB;
        unsigned char *scratchB;
    } acm;
    struct {
        unsigned int open;
        OggVorbis_File file;
        unsigned int wordSize;
    } ogg;
    struct {
        unsigned char *block; // tracked, grown by the media graph
        unsigned int capacity;
        unsigned int size;
        unsigned int position;
    } memory;
    unsigned char *output;
    unsigned int outputSize;
    unsigned int outputValid;
    unsigned int outputTaken;
    unsigned int outputPosition;
    int seekTarget;
    int vorbisCopySelector;
};

