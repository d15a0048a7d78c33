// Internal to sound/: the process-wide sound state, the sound record with its buffer slots and stream entries, and
// the PCM converter. The window thread and the refill thread share all of it under the sound lock.
#pragma once

#include "sound/sound.h"
#include "file/file.h"

#include <dsound.h>

#define SOUND_HANDLE_LIMIT 32768
#define SOUND_BUFFER_LIMIT 10
#define STREAM_ENTRY_SLOTS 4 // AddSreamSound refuses a fourth entry, so three are used
#define STREAM_NOT_PRIMED (-800)
#define SOFT_SOUND_LIMIT 8192
#define MIDI_HANDLE_LIMIT 256

// ---------------------------------------------------------------------------------------------------------------
// Process-wide state.

// The Audio Compression Manager entries, bound at start-up by name; a missing one makes the ACM kinds decline.
struct AcmEntries {
    HMODULE module;
    MMRESULT(WINAPI *formatSuggest)(HACMDRIVER, LPWAVEFORMATEX, LPWAVEFORMATEX, DWORD, DWORD);
    MMRESULT(WINAPI *streamOpen)(LPHACMSTREAM, HACMDRIVER, LPWAVEFORMATEX, LPWAVEFORMATEX, LPWAVEFILTER, DWORD_PTR,
                                 DWORD_PTR, DWORD);
    MMRESULT(WINAPI *streamClose)(HACMSTREAM, DWORD);
    MMRESULT(WINAPI *metrics)(HACMOBJ, UINT, LPVOID);
    MMRESULT(WINAPI *streamPrepareHeader)(HACMSTREAM, LPACMSTREAMHEADER, DWORD);
    MMRESULT(WINAPI *streamConvert)(HACMSTREAM, LPACMSTREAMHEADER, DWORD);
    MMRESULT(WINAPI *streamUnprepareHeader)(HACMSTREAM, LPACMSTREAMHEADER, DWORD);
    MMRESULT(WINAPI *streamSize)(HACMSTREAM, DWORD, LPDWORD, DWORD);
};

struct SoundState {
    IDirectSound *directSound; // non-null: sound is started
    IDirectSoundBuffer *primaryBuffer;
    IDirectSoundBuffer *silenceBuffer;
    IDirectSoundBuffer *spareBuffer; // the remaining buffer pointer released at end
    CRITICAL_SECTION lock;
    int lockMade;
    AcmEntries acm;
    int musicMode; // 0 DirectSound with MCI, 1 DirectMusic
    IUnknown *musicLoader, *musicPerformance, *directMusic;
    int softwareBuffers; // DSBCAPS_LOCSOFTWARE in place of DSBCAPS_STATIC
    int emulateBuffers;  // the in-memory buffer path
    int createAsStream;
    int oggWordSize;
    ListNode streamHead, streamTail;
    ListNode softPlayerHead, softPlayerTail;
    HANDLE refillThread;
    DWORD refillThreadId;
    volatile LONG refillStop; // 0 run, 1 stop requested, 2 stopped
};

extern SoundState g_Sound;

// ---------------------------------------------------------------------------------------------------------------
// The converter calls (the record is in sound.h, which the media graph fills for MP3).

extern int g_SoundConverterMask; // bit 0 PCM WAVE, 1 ACM WAVE, 2 Ogg Vorbis, 3 MP3 through ACM, 4 media graph

int OpenSoundConverter(const StreamRef *source, SoundConverter *converter);
int ReadConverter(SoundConverter *converter, void *buffer, unsigned int bytes);
int SeekConverter(SoundConverter *converter, int frame);
int GetConverterFormat(const SoundConverter *converter, WAVEFORMATEX *format);
unsigned int GetConverterPcmSize(SoundConverter *converter);
int ConvertAllToPcm(SoundConverter *converter, WAVEFORMATEX *format, void **block, unsigned int *size);
int CloseConverter(SoundConverter *converter);
int BuildWaveImage(void **image, unsigned int *size, const WAVEFORMATEX *format, unsigned int formatSize,
                   const void *data, unsigned int dataSize);

// ---------------------------------------------------------------------------------------------------------------
// Buffer slots: one DirectSound secondary buffer or its in-memory emulation.

struct SoundBufferSlot {
    unsigned int valid;
    IDirectSoundBuffer *buffer;
    unsigned char *memory; // emulated path from here on
    unsigned int playing;
    unsigned int playFrame;
    unsigned int looping;
    int pan;
    int volumeFactor;
    int frequency;
    unsigned int frames;
    WAVEFORMATEX format;
};

int CreateBufferSlot(SoundBufferSlot *slot, const DSBUFFERDESC *description);
int DuplicateBufferSlot(SoundBufferSlot *slot, SoundBufferSlot *source);
int ReleaseBufferSlot(SoundBufferSlot *slot);
int PlayBufferSlot(SoundBufferSlot *slot, int looping);
int StopBufferSlot(SoundBufferSlot *slot);
int GetBufferSlotStatus(SoundBufferSlot *slot, DWORD *status);
int LockBufferSlot(SoundBufferSlot *slot, unsigned int offset, unsigned int bytes, void **region1, DWORD *size1,
                   void **region2, DWORD *size2);
int UnlockBufferSlot(SoundBufferSlot *slot, void *region1, DWORD size1, void *region2, DWORD size2);
int SetBufferSlotFrequency(SoundBufferSlot *slot, int frequency);
int SetBufferSlotPan(SoundBufferSlot *slot, int pan);
int SetBufferSlotVolume(SoundBufferSlot *slot, int volume);
int SetBufferSlotPosition(SoundBufferSlot *slot, unsigned int bytes);
int GetBufferSlotPosition(SoundBufferSlot *slot, DWORD *playCursor, DWORD *writeCursor);

// ---------------------------------------------------------------------------------------------------------------
// Sound records.

enum StreamEntryMode {
    STREAM_DECODE_WHOLE = 0, // decoded once into a RIFF WAVE image
    STREAM_COPY_SOURCE = 2,  // the source copied into memory, converted while playing
    STREAM_FROM_CALLER = 3,  // converted while playing straight from the caller's stream
};

struct StreamEntry {
    unsigned char loopCount; // 255: forever, from the loop start frame
    unsigned int mode;
    unsigned char *data;
    unsigned int dataSize;
    StreamRef stream; // the entry's own memory stream (handle 0: none)
    int loopStartFrame;
    int endFrame; // -1: none
    SoundConverter converter;
};

enum SoundKind { SOUND_NORMAL = 0, SOUND_STREAM = 1 };

struct SoundRecord {
    unsigned int checkNumber;
    SoundBufferSlot slots[SOUND_BUFFER_LIMIT];
    WAVEFORMATEX format;
    int kind;
    int lastPlayType;
    int sharedSource; // the stream sound whose buffer this one uses, -1 none
    int sharerCount;
    int currentUser; // the handle now playing this stream buffer, -1 none
    int deletePending;
    unsigned int streamBufferSize;
    int writeCursor; // STREAM_NOT_PRIMED until the first fill
    int safePosition;
    StreamEntry entries[STREAM_ENTRY_SLOTS];
    unsigned char entryDataOwned[STREAM_ENTRY_SLOTS];
    int entryCount;
    int currentEntry;
    int entryPlayCount;
    int entryPosition;
    int totalFrames;
    unsigned int bytesPlayed;
    unsigned int lastPlayCursor;
    unsigned char streamPlaying, tail, loopPending, allEntriesDone;
    unsigned int loopStartOffset;
    unsigned int endPosition;
    unsigned int endPlayCursor;
    unsigned int loopPoint;
    ListNode streamNode;
    unsigned int pcmSize;
    unsigned char *pcm;
    int *pcmReferences;
    unsigned int duplicated[SOUND_BUFFER_LIMIT];
    int bufferCount;
    int currentBuffer;
    int volume; // hundredths of a dB
    int pan;
    int frequency;
    unsigned char nextVolumeSet, nextPanSet, nextFrequencySet;
    int nextVolume, nextPan, nextFrequency;
};

SoundRecord *GetSoundRecord(EngineHandle handle); // null unless started and live
int AddSoundData(EngineHandle handle);
int GetSoundHandleCount(int *usedEnd); // live handles; one past the highest live slot through the pointer
int CreateSoundBuffers(const WAVEFORMATEX *format, unsigned int bytes, int kind, int count, EngineHandle handle,
                       EngineHandle source);
int SamplesToMilliseconds(int frames, int rate);

// Stream sounds (the stream forms the sound-handle calls forward to for kind 1).
int AddSreamSound(const StreamRef *source, unsigned char loopCount, EngineHandle handle, int mode, int *sourceCopied,
                  EngineHandle share);
int SetupStreamFromMemory(const void *data, unsigned int size, unsigned char loopCount, EngineHandle handle, int mode,
                          EngineHandle share);
int PrimeStreamSound(EngineHandle handle);
int RefillStreamSound(EngineHandle handle);
int PlayStreamSound(EngineHandle handle, int playType, int top);
int StopStreamSound(EngineHandle handle);
int CheckStreamPlaying(EngineHandle handle);
int GetStreamSoundCurrentTime(EngineHandle handle);
// A stream sound's delete once no sharer keeps it: entries, converters, list node (DeleteSoundHandle keeps the
// sharer counts and releases the buffer slot).
int ReleaseStreamEntries(SoundRecord *record);
DWORD WINAPI StreamRefillThread(LPVOID unused);

// Soft sounds, MIDI music and capture.
int DeleteAllSoftSounds(void);
int DeleteAllSoftSoundPlayers(void);
int DeleteAllMusicMem(void);
int DeleteTemporaryMidiFile(void);
// The capture file's opener and feed (nothing in the program captures: tests open one).
int OpenCaptureFile(const char *path);
int AppendCaptureFrames(const void *frames, unsigned int count); // 16-bit stereo frames
