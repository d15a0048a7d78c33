// Sound handles: the 32,768-slot table of sound records, loading a sound file image (from memory or from the
// program's resources) into up to ten buffers that play in turn, play with its types and top flag, stop, volume,
// the play-state and length queries and deletion. Stream sounds are forwarded to the stream code. Table changes,
// loads and deletes hold the sound lock (the refill thread walks the same records); play, stop, volume and the
// queries of normal sounds run on the caller's thread without it.
#include "sound/sound_internal.h"

#include <math.h>

#define LONG_SOUND_SECONDS 180 // a longer sound is played as a stream sound
#define FULL_VOLUME_255 255

static SoundRecord *s_Sounds[SOUND_HANDLE_LIMIT];
static int s_SoundCount;
static int s_SoundUsedEnd; // one past the highest live slot
static int s_SoundCheckCounter;

SoundRecord *GetSoundRecord(EngineHandle handle)
{
    if (g_Sound.directSound == NULL) {
        return NULL;
    }
    return (SoundRecord *)ValidateEngineHandle(handle, HANDLE_TYPE_SOUND, (void *const *)s_Sounds, SOUND_HANDLE_LIMIT);
}

static void LockSound(void)
{
    EnterCriticalSection(&g_Sound.lock);
}

static void UnlockSound(void)
{
    LeaveCriticalSection(&g_Sound.lock);
}

// ---------------------------------------------------------------------------------------------------------------
// The table.

// A free slot for a new record and its check number: the one a given handle names, else the next after the used
// end (or the first empty one once the end is reached); -1 when the table is full or the given handle is malformed.
static int TakeSoundSlot(EngineHandle handle, int *checkNumber)
{
    if (handle != -1) {
        int slot = handle & HANDLE_INDEX_MASK;
        if (handle < 0 || (handle & HANDLE_TYPE_BITS) != HANDLE_TYPE_SOUND || slot >= SOUND_HANDLE_LIMIT) {
            return -1;
        }
        if (s_Sounds[slot] == NULL) {
            *checkNumber = (handle & HANDLE_CHECK_MASK) >> HANDLE_CHECK_SHIFT;
            return slot;
        }
    }
    if (s_SoundCount >= SOUND_HANDLE_LIMIT) {
        AddLog("サウンドの数が許容量を越えました\n");
        return -1;
    }
    int slot = s_SoundUsedEnd;
    if (slot >= SOUND_HANDLE_LIMIT) {
        for (slot = 0; s_Sounds[slot] != NULL; slot++) {
        }
    }
    *checkNumber = s_SoundCheckCounter;
    s_SoundCheckCounter = (s_SoundCheckCounter + 1) % HANDLE_CHECK_LIMIT;
    return slot;
}

int AddSoundData(EngineHandle handle)
{
    if (g_Sound.directSound == NULL) {
        return -1;
    }
    LockSound();
    int checkNumber = 0;
    int slot = TakeSoundSlot(handle, &checkNumber);
    SoundRecord *record = slot >= 0 ? (SoundRecord *)ENGINE_ALLOC_ZEROED(sizeof(SoundRecord)) : NULL;
    if (slot >= 0 && record == NULL) {
        AddLog("メモリ領域の確保に失敗しました in AddSoundData\n");
    }
    if (record == NULL) {
        UnlockSound();
        return -1;
    }
    record->checkNumber = checkNumber;
    s_Sounds[slot] = record;
    s_SoundCount++;
    if (slot >= s_SoundUsedEnd) {
        s_SoundUsedEnd = slot + 1;
    }
    UnlockSound();
    return MakeEngineHandle(HANDLE_TYPE_SOUND, checkNumber, slot);
}

static void FreeSoundSlot(int slot)
{
    FreeMemory(s_Sounds[slot]);
    s_Sounds[slot] = NULL;
    s_SoundCount--;
    while (s_SoundUsedEnd > 0 && s_Sounds[s_SoundUsedEnd - 1] == NULL) {
        s_SoundUsedEnd--;
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Deletion.

static void ReleaseNormalSound(SoundRecord *record)
{
    for (int i = 0; i < record->bufferCount; i++) {
        ReleaseBufferSlot(&record->slots[i]);
    }
    if (record->pcmReferences != NULL && --*record->pcmReferences <= 0) {
        FreeMemory(record->pcm);
        FreeMemory(record->pcmReferences);
    }
}

// A stream sound whose buffer others still share is only flagged; the last sharer's delete removes it, and takes
// a source flagged before it along. Returns 1 when the record is kept.
static int ReleaseStreamSound(EngineHandle handle, SoundRecord *record)
{
    EngineHandle sourceHandle = record->sharedSource;
    SoundRecord *source = sourceHandle != -1 ? GetSoundRecord(sourceHandle) : NULL;
    if (source != NULL) {
        source->sharerCount--;
        record->sharedSource = -1;
        if (source->deletePending && sourceHandle != handle) {
            DeleteSoundHandle(sourceHandle, 0);
        }
    }
    if (record->sharerCount > 0) {
        record->deletePending = 1;
        return 1;
    }
    ReleaseStreamEntries(record);
    ReleaseBufferSlot(&record->slots[0]);
    return 0;
}

int DeleteSoundHandle(EngineHandle handle, int flag)
{
    (void)flag; // passed on by the callers, changes nothing
    if (g_Sound.directSound == NULL) {
        return -1;
    }
    LockSound();
    SoundRecord *record = GetSoundRecord(handle);
    if (record == NULL) {
        UnlockSound();
        return -1;
    }
    if (record->kind == SOUND_STREAM) {
        StopStreamSound(handle);
        if (ReleaseStreamSound(handle, record) != 0) {
            UnlockSound();
            return 0;
        }
    } else {
        if (record->slots[0].valid) {
            StopSoundHandle(handle);
        }
        ReleaseNormalSound(record);
    }
    FreeSoundSlot(handle & HANDLE_INDEX_MASK);
    UnlockSound();
    return 0;
}

int DeleteAllSoundHandles(int flag)
{
    if (g_Sound.directSound == NULL) {
        return -1;
    }
    for (int slot = 0; slot < SOUND_HANDLE_LIMIT; slot++) {
        if (s_Sounds[slot] != NULL) {
            DeleteSoundHandle(MakeEngineHandle(HANDLE_TYPE_SOUND, s_Sounds[slot]->checkNumber, slot), flag);
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Loading.

// Copies the PCM into every buffer that does not share another's memory. -1 when a lock or an unlock fails.
static int FillNormalBuffers(SoundRecord *record)
{
    for (int i = 0; i < record->bufferCount; i++) {
        if (record->duplicated[i]) {
            continue;
        }
        void *region1 = NULL, *region2 = NULL;
        DWORD size1 = 0, size2 = 0;
        if (LockBufferSlot(&record->slots[i], 0, record->pcmSize, &region1, &size1, &region2, &size2) != 0) {
            AddLog("サウンドデータの転送に失敗しました_1\n");
            return -1;
        }
        MemCopy(region1, record->pcm, size1);
        if (region2 != NULL) {
            MemCopy(region2, record->pcm + size1, size2);
        }
        if (UnlockBufferSlot(&record->slots[i], region1, size1, region2, size2) != 0) {
            AddLog("サウンドデータの転送に失敗しました_2\n");
            return -1;
        }
    }
    return 0;
}

// The whole file image decoded to PCM in one tracked block. -1 (logged) when it is no sound the converters take
// (they refuse every format no buffer can be made with).
static int DecodeWholeImage(const void *data, unsigned int size, WAVEFORMATEX *format, void **pcm,
                            unsigned int *pcmSize)
{
    StreamRef source;
    SoundConverter converter;
    MemFill(&converter, 0, sizeof(converter));
    int opened = OpenMemoryStreamRef(data, size, &source) == 0;
    if (!opened || OpenSoundConverter(&source, &converter) != 0) {
        if (opened) {
            MemStreamClose(source.handle);
        }
        AddLog("音声ファイルのＰＣＭへの変換に失敗しました\n");
        return -1;
    }
    int result = 0;
    *pcm = NULL;
    if (ConvertAllToPcm(&converter, format, pcm, pcmSize) != 0) {
        AddLog("音声ファイルを格納するメモリ領域の確保に失敗しました\n");
        result = -1;
    }
    CloseConverter(&converter);
    MemStreamClose(source.handle);
    return result;
}

// Makes the handle a normal sound holding the PCM (the block becomes the record's). 1 when it must be played as a
// stream sound instead (too long, or no buffer could be made), -1 on failure.
static int MakeNormalSound(EngineHandle handle, const WAVEFORMATEX *format, void *pcm, unsigned int pcmSize,
                           int bufferCount)
{
    SoundRecord *record = GetSoundRecord(handle);
    if (pcmSize / format->nAvgBytesPerSec > LONG_SOUND_SECONDS ||
        CreateSoundBuffers(format, pcmSize, SOUND_NORMAL, bufferCount, handle, -1) != 0) {
        FreeMemory(pcm);
        return 1;
    }
    record->frequency = (int)format->nSamplesPerSec;
    record->pcmReferences = (int *)ENGINE_ALLOC(sizeof(int));
    if (record->pcmReferences == NULL) {
        AddLog("サウンドデータの参照数を保存するメモリ領域の確保に失敗しました\n");
        FreeMemory(pcm);
        return -1;
    }
    *record->pcmReferences = 1;
    record->format = *format;
    record->pcmSize = pcmSize;
    record->pcm = (unsigned char *)pcm;
    return FillNormalBuffers(record);
}

// The stream path: the file image becomes the sound's one entry, primed to play from its start.
static int MakeStreamSound(EngineHandle handle, const void *data, unsigned int size, EngineHandle share)
{
    if (SetupStreamFromMemory(data, size, 0, handle, g_Sound.createAsStream, share) != 0) {
        return -1;
    }
    PrimeStreamSound(handle);
    return 0;
}

int LoadSoundFromMemory(const void *data, unsigned int size, int bufferCount, EngineHandle share)
{
    if (g_Sound.directSound == NULL || bufferCount < 0 || bufferCount > SOUND_BUFFER_LIMIT) {
        return -1;
    }
    LockSound();
    int createAsStream = g_Sound.createAsStream;
    EngineHandle handle = AddSoundData(-1);
    int result = handle == -1 ? -1 : 1;
    if (handle != -1 && createAsStream == 0) {
        WAVEFORMATEX format;
        void *pcm = NULL;
        unsigned int pcmSize = 0;
        result = DecodeWholeImage(data, size, &format, &pcm, &pcmSize);
        if (result == 0) {
            result = MakeNormalSound(handle, &format, pcm, pcmSize, bufferCount);
        }
        if (result == 1) {
            g_Sound.createAsStream = 2;
        }
    }
    if (result == 1) {
        result = MakeStreamSound(handle, data, size, share);
    }
    g_Sound.createAsStream = createAsStream;
    if (result != 0 && handle != -1) {
        DeleteSoundHandle(handle, 0);
    }
    UnlockSound();
    return result == 0 ? handle : -1;
}

int LoadSoundFromResource(const char *name, const char *type, int bufferCount)
{
    void *data = NULL;
    int size = 0;
    if (FindResourceData(name, type, &data, &size) != 0) {
        return -1;
    }
    return LoadSoundFromMemory(data, (unsigned int)size, bufferCount, -1);
}

// ---------------------------------------------------------------------------------------------------------------
// Play, stop, volume and the queries.

// The next buffer in turn, placed and set up for a play. 1 when it still plays and the top flag is 0 (nothing
// changes), -1 when there is none.
static int PrepareNextBuffer(SoundRecord *record, int top)
{
    if (record->bufferCount <= 0) {
        return -1;
    }
    DWORD position = 0;
    GetBufferSlotPosition(&record->slots[record->currentBuffer], &position, NULL);
    record->currentBuffer = (record->currentBuffer + 1) % record->bufferCount;
    SoundBufferSlot *slot = &record->slots[record->currentBuffer];
    DWORD status = 0;
    if (GetBufferSlotStatus(slot, &status) != 0) {
        return -1;
    }
    if (status & DSBSTATUS_PLAYING) {
        if (!top) {
            return 1;
        }
        StopBufferSlot(slot);
    }
    SetBufferSlotPosition(slot, top ? 0 : position);
    SetBufferSlotVolume(slot, record->nextVolumeSet ? record->nextVolume : record->volume);
    SetBufferSlotPan(slot, record->nextPanSet ? record->nextPan : record->pan);
    SetBufferSlotFrequency(slot, record->nextFrequencySet ? record->nextFrequency : record->frequency);
    record->nextVolumeSet = record->nextPanSet = record->nextFrequencySet = 0;
    return 0;
}

// Play type 0 holds the caller, pumping messages, until the sound ends or the window closes.
static void WaitWhilePlaying(EngineHandle handle)
{
    while (ProcessWindowMessages() == 0 && CheckSoundPlaying(handle) == 1) {
        Sleep(1);
    }
}

int PlaySoundHandle(EngineHandle handle, int playType, int top)
{
    SoundRecord *record = GetSoundRecord(handle);
    if (record == NULL) {
        return -1;
    }
    if (record->kind == SOUND_STREAM) {
        if (PlayStreamSound(handle, playType, top) != 0) {
            return -1;
        }
    } else {
        int prepared = PrepareNextBuffer(record, top);
        if (prepared != 0) {
            return prepared == 1 ? 0 : -1;
        }
        if (PlayBufferSlot(&record->slots[record->currentBuffer], playType == 3) != 0) {
            return -1;
        }
    }
    if (playType == 0) {
        WaitWhilePlaying(handle);
    }
    return 0;
}

int StopSoundHandle(EngineHandle handle)
{
    SoundRecord *record = GetSoundRecord(handle);
    if (record == NULL) {
        return -1;
    }
    if (record->kind == SOUND_STREAM) {
        return StopStreamSound(handle);
    }
    for (int i = 0; i < record->bufferCount; i++) {
        DWORD status = 0;
        if (GetBufferSlotStatus(&record->slots[i], &status) != 0) {
            return -1;
        }
        if (status & DSBSTATUS_PLAYING) {
            StopBufferSlot(&record->slots[i]);
        }
    }
    return 0;
}

int CheckSoundPlaying(EngineHandle handle)
{
    SoundRecord *record = GetSoundRecord(handle);
    if (record == NULL) {
        return -1;
    }
    if (record->kind == SOUND_STREAM) {
        return CheckStreamPlaying(handle);
    }
    for (int i = 0; i < record->bufferCount; i++) {
        DWORD status = 0;
        if (GetBufferSlotStatus(&record->slots[i], &status) == 0 && (status & DSBSTATUS_PLAYING)) {
            return 1;
        }
    }
    return 0;
}

// 255 is full volume; below it the attenuation follows 1000 x log10(volume / 255) hundredths of a dB.
int SetSoundVolume255(int volume, EngineHandle handle)
{
    SoundRecord *record = GetSoundRecord(handle);
    if (record == NULL) {
        return -1;
    }
    int attenuation = DSBVOLUME_MIN;
    if (volume > 0) {
        volume = volume > FULL_VOLUME_255 ? FULL_VOLUME_255 : volume;
        attenuation = (int)(1000.0 * log10((double)volume / FULL_VOLUME_255));
        attenuation = attenuation < DSBVOLUME_MIN ? DSBVOLUME_MIN : attenuation;
    }
    for (int i = 0; i < record->bufferCount; i++) {
        SetBufferSlotVolume(&record->slots[i], attenuation);
    }
    record->volume = attenuation;
    return 0;
}

int GetSoundTotalSample(EngineHandle handle)
{
    SoundRecord *record = GetSoundRecord(handle);
    if (record == NULL) {
        return -1;
    }
    if (record->kind == SOUND_STREAM) {
        return record->totalFrames;
    }
    // A record not yet loaded has no format: it holds no frames.
    if (record->kind != SOUND_NORMAL || record->format.nBlockAlign == 0) {
        return 0;
    }
    return (int)(record->pcmSize / record->format.nBlockAlign);
}

static int FramesToMilliseconds(const SoundRecord *record, int frames)
{
    int rate = (int)record->format.nSamplesPerSec;
    return rate > 0 ? SamplesToMilliseconds(frames, rate) : 0;
}

int GetSoundTotalTime(EngineHandle handle)
{
    SoundRecord *record = GetSoundRecord(handle);
    if (record == NULL) {
        return -1;
    }
    return FramesToMilliseconds(record, GetSoundTotalSample(handle));
}

int GetSoundPlayPosition(EngineHandle handle)
{
    SoundRecord *record = GetSoundRecord(handle);
    if (record == NULL) {
        return -1;
    }
    if (record->kind == SOUND_STREAM) {
        return GetStreamSoundCurrentTime(handle);
    }
    DWORD position = 0;
    if (record->bufferCount <= 0 || record->format.nBlockAlign == 0 ||
        GetBufferSlotPosition(&record->slots[record->currentBuffer], &position, NULL) != 0) {
        return 0;
    }
    return FramesToMilliseconds(record, (int)(position / record->format.nBlockAlign));
}

// How many sound handles are live, and one past the highest live slot.
int GetSoundHandleCount(int *usedEnd)
{
    if (usedEnd != NULL) {
        *usedEnd = s_SoundUsedEnd;
    }
    return s_SoundCount;
}
