// Stream sounds: a one-second buffer used as a ring and refilled a little at a time from up to three entries that
// are converted while they play, with their repeat counts, the stream forms of play, stop and the queries, the
// stream part of a sound's delete, and the refill thread (the pump refills instead on one-processor machines).
// The window thread and the refill thread both come here; every record change holds the sound lock.
#include "sound/sound_internal.h"
#include "sound/sound_test_hooks.h"

#include <string.h>

#define STREAM_ENTRY_LIMIT 3
#define STREAM_LOOP_FOREVER 255
#define STREAM_LEAD_TARGET 192 // in 1/512 s: below 0.375 s of lead a pass writes the shortfall
#define REFILL_INTERVAL_MS 30
#define SILENCE_8_BIT 0x7F

enum BufferTaking { TAKE_IF_FREE = 0, TAKE_OVER = 1 };

static int FailWithLog(const char *text)
{
    AddLog(text);
    AddLog("\n");
    return -1;
}

static int IsSoundStarted(void)
{
    return g_Sound.directSound != NULL;
}

static unsigned int RoundDownToBlocks(unsigned long long bytes, unsigned int blockAlign)
{
    return (unsigned int)(bytes / blockAlign * blockAlign);
}

static unsigned int RoundUpToBlocks(unsigned long long bytes, unsigned int blockAlign)
{
    return (unsigned int)((bytes + blockAlign - 1) / blockAlign * blockAlign);
}

// Distance going forward round the ring from `from` to `to`.
static unsigned int RingDistance(unsigned int from, unsigned int to, unsigned int size)
{
    return (to + size - from) % size;
}

static SoundRecord *GetStreamRecord(EngineHandle handle)
{
    SoundRecord *record = GetSoundRecord(handle);
    return record != NULL && record->kind == SOUND_STREAM && record->entryCount > 0 ? record : NULL;
}

// ---------------------------------------------------------------------------------------------------------------
// The stream buffer: a sound's own slot 0, or that of the stream sound whose buffer it shares. One handle at a time
// uses it; the user is kept in the record that owns the buffer.

static SoundRecord *StreamBufferOwner(SoundRecord *record)
{
    return record->sharedSource == -1 ? record : GetSoundRecord(record->sharedSource);
}

static void StopStreamBuffer(SoundRecord *record, SoundBufferSlot *slot);

// Answers the buffer when this handle may use it (becoming its user when it was free), else null. Only a play
// takes the buffer over from another user, stopping that sound first.
static SoundBufferSlot *TakeStreamBuffer(EngineHandle handle, SoundRecord *record, int taking)
{
    SoundRecord *owner = StreamBufferOwner(record);
    if (owner == NULL || !owner->slots[0].valid) {
        return NULL;
    }
    if (owner->currentUser != -1 && owner->currentUser != handle) {
        if (taking != TAKE_OVER) {
            return NULL;
        }
        SoundRecord *other = GetSoundRecord(owner->currentUser);
        if (other != NULL) {
            StopStreamBuffer(other, &owner->slots[0]);
        }
    }
    owner->currentUser = handle;
    return &owner->slots[0];
}

static int IsBufferPlaying(SoundBufferSlot *slot)
{
    DWORD status = 0;
    return GetBufferSlotStatus(slot, &status) == 0 && (status & DSBSTATUS_PLAYING) != 0;
}

// Adds the play cursor's movement since the last look; once it has passed the point where the data jumped back,
// the played count restarts there.
static void UpdateBytesPlayed(SoundRecord *record, SoundBufferSlot *slot)
{
    DWORD playCursor = 0, writeCursor = 0;
    if (GetBufferSlotPosition(slot, &playCursor, &writeCursor) != 0) {
        return;
    }
    unsigned int size = record->streamBufferSize;
    unsigned int moved = RingDistance(record->lastPlayCursor, playCursor, size);
    if (record->loopPending && moved > 0 && RingDistance(record->lastPlayCursor, record->loopPoint, size) <= moved) {
        record->bytesPlayed = RingDistance(record->loopPoint, playCursor, size) + record->loopStartOffset;
        record->loopPending = 0;
    } else {
        record->bytesPlayed += moved;
    }
    record->lastPlayCursor = playCursor;
}

static void StopStreamBuffer(SoundRecord *record, SoundBufferSlot *slot)
{
    UpdateBytesPlayed(record, slot);
    if (IsBufferPlaying(slot)) {
        StopBufferSlot(slot);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// The refill pass.

// The locked span of the ring (one or two regions) and how much of it is written.
struct RingSpan {
    unsigned char *region[2];
    DWORD size[2];
    unsigned int offset; // ring offset of the span's start
    unsigned int written;
};

static unsigned int SpanTotal(const RingSpan *span)
{
    return span->size[0] + span->size[1];
}

// Reads up to `bytes` from the converter into the span's unwritten part; answers what was delivered.
static unsigned int ReadIntoSpan(SoundConverter *converter, RingSpan *span, unsigned int bytes)
{
    unsigned int delivered = 0;
    while (delivered < bytes) {
        int first = span->written < span->size[0];
        unsigned char *target =
            first ? span->region[0] + span->written : span->region[1] + span->written - span->size[0];
        unsigned int room = first ? span->size[0] - span->written : SpanTotal(span) - span->written;
        unsigned int wanted = bytes - delivered < room ? bytes - delivered : room;
        int got = ReadConverter(converter, target, wanted);
        if (got <= 0) {
            break;
        }
        delivered += (unsigned int)got;
        span->written += (unsigned int)got;
        if ((unsigned int)got < wanted) {
            break;
        }
    }
    return delivered;
}

static void FillSpanWithSilence(const SoundRecord *record, RingSpan *span)
{
    int silence = record->format.wBitsPerSample == 8 ? SILENCE_8_BIT : 0;
    for (unsigned int i = span->written; i < SpanTotal(span); i++) {
        (i < span->size[0] ? span->region[0][i] : span->region[1][i - span->size[0]]) = (unsigned char)silence;
    }
    span->written = SpanTotal(span);
}

enum EntryAdvance { ADVANCE_NONE, ADVANCE_MOVED, ADVANCE_TAIL };

// The current entry has no more data: it repeats, the next entry follows, the list starts over (looped play), or
// the tail of silence begins. A pending loop holds everything until the play cursor has passed its point.
static int AdvanceStreamEntry(SoundRecord *record, SoundBufferSlot *slot, RingSpan *span)
{
    StreamEntry *entry = &record->entries[record->currentEntry];
    unsigned int dataEnd = (span->offset + span->written) % record->streamBufferSize;
    int last = record->currentEntry == record->entryCount - 1;
    record->entryPlayCount++;
    int holding = entry->loopCount == STREAM_LOOP_FOREVER ||
                  (last && record->lastPlayType == 3 && record->entryPlayCount > entry->loopCount);
    if (holding && record->loopPending) {
        record->entryPlayCount--;
        return ADVANCE_NONE;
    }
    if (entry->loopCount == STREAM_LOOP_FOREVER) {
        record->entryPosition = entry->loopStartFrame * record->format.nBlockAlign;
        record->loopStartOffset = (unsigned int)record->entryPosition;
        record->loopPending = 1;
        record->loopPoint = dataEnd;
    } else if (record->entryPlayCount <= entry->loopCount) {
        record->entryPosition = 0;
    } else {
        record->entryPlayCount = 0;
        record->entryPosition = 0;
        if (!last) {
            record->currentEntry++;
        } else {
            record->allEntriesDone = 1;
            if (record->lastPlayType != 3) {
                DWORD playCursor = 0, writeCursor = 0;
                GetBufferSlotPosition(slot, &playCursor, &writeCursor);
                record->tail = 1;
                record->endPosition = dataEnd;
                record->endPlayCursor = playCursor;
                FillSpanWithSilence(record, span);
                return ADVANCE_TAIL;
            }
            record->currentEntry = 0;
            record->loopStartOffset = 0;
            record->loopPending = 1;
            record->loopPoint = dataEnd;
        }
    }
    SeekConverter(&record->entries[record->currentEntry].converter, record->entryPosition / record->format.nBlockAlign);
    return ADVANCE_MOVED;
}

// Fills the span from the entries. A short read ends the pass (the next pass finds the entry's end), as does an
// advance that must wait for a pending loop.
static void FillSpanFromEntries(SoundRecord *record, SoundBufferSlot *slot, RingSpan *span)
{
    while (span->written < SpanTotal(span)) {
        StreamEntry *entry = &record->entries[record->currentEntry];
        unsigned int wanted = SpanTotal(span) - span->written;
        if (entry->endFrame >= 0) {
            long long left = (long long)entry->endFrame * record->format.nBlockAlign - record->entryPosition;
            wanted = left <= 0 ? 0 : (left < wanted ? (unsigned int)left : wanted);
        }
        unsigned int got = wanted > 0 ? ReadIntoSpan(&entry->converter, span, wanted) : 0;
        if (got == 0) {
            int advance = AdvanceStreamEntry(record, slot, span);
            if (advance != ADVANCE_MOVED) {
                return;
            }
            continue;
        }
        record->entryPosition += (int)got;
        if (entry->endFrame < 0 || got < wanted) {
            return;
        }
    }
}

static void SetSafePosition(SoundRecord *record)
{
    unsigned int size = record->streamBufferSize;
    record->writeCursor %= (int)size;
    int safe = record->writeCursor -
               (int)RoundUpToBlocks(record->format.nAvgBytesPerSec * 3ULL / 4, record->format.nBlockAlign);
    record->safePosition = safe < 0 ? safe + (int)size : safe;
}

// How much a pass over a playing buffer writes: nothing while the play cursor is inside the stretch ahead of the
// write cursor (the ring is full), else an eighth of a second, or the shortfall below 0.375 s of lead.
static unsigned int PlayingPassAmount(const SoundRecord *record, unsigned int playCursor)
{
    unsigned int size = record->streamBufferSize, rate = record->format.nAvgBytesPerSec;
    unsigned int blockAlign = record->format.nBlockAlign;
    unsigned int write = (unsigned int)record->writeCursor, safe = (unsigned int)record->safePosition;
    if (playCursor != write && RingDistance(write, playCursor, size) < RingDistance(write, safe, size)) {
        return 0;
    }
    unsigned long long lead = (unsigned long long)RingDistance(playCursor, write, size) * 512 / rate;
    if (lead < STREAM_LEAD_TARGET) {
        return RoundDownToBlocks((STREAM_LEAD_TARGET - lead) * rate / 512, blockAlign);
    }
    return RoundDownToBlocks(rate / 8, blockAlign);
}

static int HasPlayedPastEnd(const SoundRecord *record, unsigned int playCursor)
{
    unsigned int size = record->streamBufferSize;
    return RingDistance(record->endPlayCursor, playCursor, size) >=
           RingDistance(record->endPlayCursor, record->endPosition, size);
}

static void ResetStreamPosition(SoundRecord *record)
{
    record->tail = 0;
    record->entryPosition = 0;
    record->bytesPlayed = 0;
    record->loopPending = 0;
    record->entryPlayCount = 0;
    record->currentEntry = 0;
    record->streamPlaying = 0;
}

static int LockSpan(SoundBufferSlot *slot, unsigned int offset, unsigned int bytes, RingSpan *span)
{
    memset(span, 0, sizeof(*span));
    span->offset = offset;
    void *region1 = NULL, *region2 = NULL;
    if (LockBufferSlot(slot, offset, bytes, &region1, &span->size[0], &region2, &span->size[1]) != 0) {
        return -1;
    }
    span->region[0] = (unsigned char *)region1;
    span->region[1] = (unsigned char *)region2;
    return 0;
}

static void UnlockSpan(SoundBufferSlot *slot, RingSpan *span)
{
    UnlockBufferSlot(slot, span->region[0], span->size[0], span->region[1], span->size[1]);
}

// The tail: silence follows the data, paced like the data so that it never overwrites what is still to be heard,
// until the play cursor has passed the end; then the buffer stops and the stream is back at its start.
static void RefillTail(SoundRecord *record, SoundBufferSlot *slot, unsigned int playCursor)
{
    if (HasPlayedPastEnd(record, playCursor)) {
        StopBufferSlot(slot);
        ResetStreamPosition(record);
        return;
    }
    unsigned int amount = PlayingPassAmount(record, playCursor);
    RingSpan span;
    if (amount == 0 || LockSpan(slot, (unsigned int)record->writeCursor, amount, &span) != 0) {
        return;
    }
    FillSpanWithSilence(record, &span);
    UnlockSpan(slot, &span);
    record->writeCursor += (int)span.written;
    SetSafePosition(record);
}

static void RefillStreamPass(SoundRecord *record, SoundBufferSlot *slot)
{
    UpdateBytesPlayed(record, slot);
    DWORD playCursor = 0, writeCursor = 0;
    if (GetBufferSlotPosition(slot, &playCursor, &writeCursor) != 0) {
        return;
    }
    if (record->tail) {
        RefillTail(record, slot, playCursor);
        return;
    }
    int primed = record->writeCursor != STREAM_NOT_PRIMED;
    unsigned int amount, offset = 0;
    if (!IsBufferPlaying(slot)) {
        if (primed) {
            return;
        }
        amount = RoundDownToBlocks(record->format.nAvgBytesPerSec * 3ULL / 4, record->format.nBlockAlign);
    } else {
        if (!primed) {
            return;
        }
        amount = PlayingPassAmount(record, playCursor);
        offset = (unsigned int)record->writeCursor;
    }
    RingSpan span;
    if (amount == 0 || LockSpan(slot, offset, amount, &span) != 0) {
        return;
    }
    FillSpanFromEntries(record, slot, &span);
    UnlockSpan(slot, &span);
    if (!primed) {
        record->writeCursor = (int)span.written;
        record->safePosition = 0;
        return;
    }
    record->writeCursor += (int)span.written;
    SetSafePosition(record);
}

static int RefillStreamLocked(EngineHandle handle, SoundRecord *record)
{
    if (!record->streamPlaying) {
        return 0;
    }
    SoundBufferSlot *slot = TakeStreamBuffer(handle, record, TAKE_IF_FREE);
    if (slot != NULL) {
        RefillStreamPass(record, slot);
    }
    return 0;
}

int RefillStreamSound(EngineHandle handle)
{
    if (!IsSoundStarted()) {
        return -1;
    }
    EnterCriticalSection(&g_Sound.lock);
    SoundRecord *record = GetStreamRecord(handle);
    int result = record != NULL ? RefillStreamLocked(handle, record) : -1;
    LeaveCriticalSection(&g_Sound.lock);
    return result;
}

static void RefillAllStreamsLocked(void)
{
    for (ListNode *node = g_Sound.streamHead.next; node != &g_Sound.streamTail; node = node->next) {
        SoundRecord *record = (SoundRecord *)node->data;
        if (record->streamPlaying && record->entryCount > 0) {
            RefillStreamLocked(node->id, record);
        }
    }
}

int ProcessAllStreamSounds(void)
{
    if (!IsSoundStarted()) {
        return -1;
    }
    EnterCriticalSection(&g_Sound.lock);
    RefillAllStreamsLocked();
    LeaveCriticalSection(&g_Sound.lock);
    return 0;
}

// Runs at time-critical priority; answers the end's stop request (1) with 2 as its last act.
DWORD WINAPI StreamRefillThread(LPVOID)
{
    while (InterlockedCompareExchange(&g_Sound.refillStop, 0, 0) != 1) {
        EnterCriticalSection(&g_Sound.lock);
        if (IsSoundStarted()) {
            RefillAllStreamsLocked();
            RefillAllSoftSoundPlayers();
        }
        LeaveCriticalSection(&g_Sound.lock);
        Sleep(REFILL_INTERVAL_MS);
    }
    InterlockedExchange(&g_Sound.refillStop, 2);
    ExitThread(0);
}

// ---------------------------------------------------------------------------------------------------------------
// Entries.

static void ReleaseStreamEntry(StreamEntry *entry, int dataOwned)
{
    if (entry->converter.open) {
        CloseConverter(&entry->converter);
        if (entry->mode == STREAM_FROM_CALLER && dataOwned && entry->converter.source.handle != 0) {
            entry->converter.source.functions.close(entry->converter.source.handle);
        }
    }
    if (entry->stream.handle != 0) {
        entry->stream.functions.close(entry->stream.handle);
    }
    if (entry->data != NULL) {
        FreeMemory(entry->data);
    }
    memset(entry, 0, sizeof(*entry));
}

static int OpenEntryStream(StreamEntry *entry, void *data, unsigned int size)
{
    return OpenMemoryStreamRef(data, size, &entry->stream);
}

// Reads the whole source into a tracked block.
static int ReadWholeSource(const StreamRef *source, unsigned char **block, unsigned int *size)
{
    source->functions.seek(source->handle, 0, STREAM_ORIGIN_END);
    int length = source->functions.tell(source->handle);
    source->functions.seek(source->handle, 0, STREAM_ORIGIN_START);
    if (length <= 0) {
        return -1;
    }
    *block = (unsigned char *)ENGINE_ALLOC((size_t)length);
    if (*block == NULL) {
        return FailWithLog("ストリームの読み込みに必要なメモリの確保に失敗しました");
    }
    if (source->functions.read(*block, 1, (size_t)length, source->handle) != (size_t)length) {
        FreeMemory(*block);
        *block = NULL;
        return -1;
    }
    *size = (unsigned int)length;
    return 0;
}

// Mode 0: the source decoded once, kept as a RIFF WAVE image of its PCM.
static int DecodeSourceToImage(const StreamRef *source, StreamEntry *entry)
{
    unsigned char *file = NULL;
    unsigned int fileSize = 0;
    if (ReadWholeSource(source, &file, &fileSize) != 0) {
        return FailWithLog("音声データの読み込みに失敗しました");
    }
    SoundConverter converter;
    memset(&converter, 0, sizeof(converter));
    WAVEFORMATEX format;
    void *pcm = NULL;
    unsigned int pcmSize = 0;
    MemStream *fileStream = MemStreamOpen(file, fileSize);
    StreamRef fileSource = {*GetMemoryStreamFunctions(), (DWORD_PTR)fileStream};
    int converted = fileStream != NULL && OpenSoundConverter(&fileSource, &converter) == 0 &&
                    ConvertAllToPcm(&converter, &format, &pcm, &pcmSize) == 0;
    if (converter.open) {
        CloseConverter(&converter);
    }
    if (fileStream != NULL) {
        MemStreamClose((DWORD_PTR)fileStream);
    }
    FreeMemory(file);
    if (!converted) {
        return FailWithLog("音声データの変換に失敗しました");
    }
    void *image = NULL;
    unsigned int imageSize = 0;
    int built = BuildWaveImage(&image, &imageSize, &format, 16, pcm, pcmSize);
    FreeMemory(pcm);
    if (built != 0) {
        return -1;
    }
    entry->data = (unsigned char *)image;
    entry->dataSize = imageSize;
    if (OpenEntryStream(entry, image, imageSize) != 0 || OpenSoundConverter(&entry->stream, &entry->converter) != 0) {
        return FailWithLog("音声データのオープンに失敗しました");
    }
    return 0;
}

static int OpenEntrySource(const StreamRef *source, StreamEntry *entry)
{
    if (entry->mode == STREAM_DECODE_WHOLE) {
        return DecodeSourceToImage(source, entry);
    }
    if (entry->mode == STREAM_COPY_SOURCE) {
        if (ReadWholeSource(source, &entry->data, &entry->dataSize) != 0) {
            return FailWithLog("音声データの読み込みに失敗しました");
        }
        if (OpenEntryStream(entry, entry->data, entry->dataSize) != 0) {
            return FailWithLog("音声データのオープンに失敗しました");
        }
        source = &entry->stream;
    }
    if (OpenSoundConverter(source, &entry->converter) != 0) {
        return FailWithLog("音声データのオープンに失敗しました");
    }
    return 0;
}

// The first entry gives the sound its format and its buffer: a buffer of its own, or that of a given stream sound
// of the same format that shares nobody's buffer itself.
static int SetUpStreamBuffer(SoundRecord *record, EngineHandle handle, const WAVEFORMATEX *format, EngineHandle share)
{
    SoundRecord *source = share != -1 ? GetSoundRecord(share) : NULL;
    int sharing = source != NULL && source->kind == SOUND_STREAM && source->entryCount > 0 &&
                  source->sharedSource == -1 && !source->deletePending &&
                  memcmp(&source->format, format, sizeof(WAVEFORMATEX)) == 0;
    record->format = *format;
    if (sharing) {
        record->kind = SOUND_STREAM;
        record->bufferCount = 1;
        ListAddTail(g_Sound.streamTail.previous, &record->streamNode, handle, record);
        record->sharedSource = share;
        source->sharerCount++;
    } else {
        if (CreateSoundBuffers(format, 0, SOUND_STREAM, 1, handle, -1) != 0) {
            return -1;
        }
        record->sharedSource = -1;
    }
    record->streamBufferSize = RoundUpToBlocks(format->nAvgBytesPerSec, format->nBlockAlign);
    record->frequency = (int)format->nSamplesPerSec;
    record->sharerCount = 0;
    record->currentUser = -1;
    record->deletePending = 0;
    return 0;
}

static int CheckEntryMayBeAdded(EngineHandle handle, SoundRecord *record)
{
    if (record->kind != SOUND_STREAM && (record->entryCount > 0 || record->bufferCount > 0)) {
        return FailWithLog("ストリーム風サウンドではないサウンドデータが渡されました in AddSreamSound");
    }
    if (record->entryCount == 0) {
        return 0;
    }
    SoundRecord *owner = StreamBufferOwner(record);
    if (owner != NULL && owner->currentUser == handle && IsBufferPlaying(&owner->slots[0])) {
        return FailWithLog("既に再生中のストリームサウンドデータにデータを追加しようとしました");
    }
    if (record->entryCount >= STREAM_ENTRY_LIMIT) {
        return FailWithLog("ストリーム風サウンドの制御データ領域がいっぱいです");
    }
    return 0;
}

static void RecountTotalFrames(SoundRecord *record)
{
    long long frames = 0;
    for (int i = 0; i < record->entryCount; i++) {
        frames += GetConverterPcmSize(&record->entries[i].converter) / record->format.nBlockAlign;
    }
    record->totalFrames = frames > 0x7FFFFFFF ? 0x7FFFFFFF : (int)frames;
}

static int AddStreamEntryLocked(const StreamRef *source, unsigned char loopCount, EngineHandle handle, int mode,
                                int *sourceCopied, EngineHandle share)
{
    SoundRecord *record = GetSoundRecord(handle);
    if (record == NULL || CheckEntryMayBeAdded(handle, record) != 0) {
        return -1;
    }
    StreamEntry *entry = &record->entries[record->entryCount];
    memset(entry, 0, sizeof(*entry));
    entry->mode = (unsigned int)mode;
    entry->endFrame = -1;
    source->functions.seek(source->handle, 0, STREAM_ORIGIN_START);
    if (OpenEntrySource(source, entry) != 0) {
        ReleaseStreamEntry(entry, 0);
        return -1;
    }
    WAVEFORMATEX format;
    memset(&format, 0, sizeof(format));
    GetConverterFormat(&entry->converter, &format);
    if (record->entryCount > 0 && memcmp(&format, &record->format, sizeof(WAVEFORMATEX)) != 0) {
        ReleaseStreamEntry(entry, 0);
        return FailWithLog("フォーマットの違う音声データは同時に使うことは出来ません");
    }
    if (record->entryCount == 0 && SetUpStreamBuffer(record, handle, &format, share) != 0) {
        ReleaseStreamEntry(entry, 0);
        return -1;
    }
    entry->loopCount = loopCount;
    record->entryDataOwned[record->entryCount] = 0;
    record->entryCount++;
    record->bytesPlayed = 0;
    RecountTotalFrames(record);
    if (sourceCopied != NULL) {
        *sourceCopied = mode != STREAM_FROM_CALLER;
    }
    return 0;
}

int AddSreamSound(const StreamRef *source, unsigned char loopCount, EngineHandle handle, int mode, int *sourceCopied,
                  EngineHandle share)
{
    if (!IsSoundStarted() || source == NULL ||
        (mode != STREAM_DECODE_WHOLE && mode != STREAM_COPY_SOURCE && mode != STREAM_FROM_CALLER)) {
        return -1;
    }
    EnterCriticalSection(&g_Sound.lock);
    int result = AddStreamEntryLocked(source, loopCount, handle, mode, sourceCopied, share);
    LeaveCriticalSection(&g_Sound.lock);
    return result;
}

int SetupStreamFromMemory(const void *data, unsigned int size, unsigned char loopCount, EngineHandle handle, int mode,
                          EngineHandle share)
{
    if (!IsSoundStarted()) {
        return -1;
    }
    MemStream *stream = MemStreamOpen(data, size);
    if (stream == NULL) {
        return FailWithLog("ＷＡＶファイルのストリームイメージハンドルの作成に失敗しました ");
    }
    StreamRef source = {*GetMemoryStreamFunctions(), (DWORD_PTR)stream};
    int copied = 0;
    EnterCriticalSection(&g_Sound.lock);
    int result = AddStreamEntryLocked(&source, loopCount, handle,
                                      mode == STREAM_FROM_CALLER ? STREAM_COPY_SOURCE : mode, &copied, share);
    if (result == 0) {
        SoundRecord *record = GetSoundRecord(handle);
        record->entryDataOwned[record->entryCount - 1] = 1;
    }
    LeaveCriticalSection(&g_Sound.lock);
    if (result != 0 || copied) {
        MemStreamClose((DWORD_PTR)stream);
    }
    return result != 0 ? FailWithLog("ＷＡＶファイルのストリームイメージのセットアップに失敗しました ") : 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Play, stop and the queries.

// Fills three quarters of a second from the current position, unless the stream is already primed (a stopped
// stream keeps its ring and resumes it).
static int PrimeStreamLocked(EngineHandle handle, SoundRecord *record)
{
    SoundBufferSlot *slot = TakeStreamBuffer(handle, record, TAKE_IF_FREE);
    if (slot == NULL || IsBufferPlaying(slot) || record->streamPlaying) {
        return 0;
    }
    SetBufferSlotPosition(slot, 0);
    record->writeCursor = STREAM_NOT_PRIMED;
    record->safePosition = -1;
    record->lastPlayCursor = 0;
    record->tail = 0;
    SeekConverter(&record->entries[record->currentEntry].converter, record->entryPosition / record->format.nBlockAlign);
    record->streamPlaying = 1;
    RefillStreamPass(record, slot);
    return 0;
}

int PrimeStreamSound(EngineHandle handle)
{
    if (!IsSoundStarted()) {
        return -1;
    }
    EnterCriticalSection(&g_Sound.lock);
    SoundRecord *record = GetStreamRecord(handle);
    int result = record != NULL ? PrimeStreamLocked(handle, record) : -1;
    LeaveCriticalSection(&g_Sound.lock);
    return result;
}

static void RestartStream(SoundRecord *record)
{
    ResetStreamPosition(record);
    record->allEntriesDone = 0;
}

static void ApplyPlaySettings(SoundRecord *record, SoundBufferSlot *slot)
{
    SetBufferSlotVolume(slot, record->nextVolumeSet ? record->nextVolume : record->volume);
    SetBufferSlotPan(slot, record->nextPanSet ? record->nextPan : record->pan);
    SetBufferSlotFrequency(slot, record->nextFrequencySet ? record->nextFrequency : record->frequency);
    record->nextVolumeSet = record->nextPanSet = record->nextFrequencySet = 0;
}

static int PlayStreamLocked(EngineHandle handle, SoundRecord *record, int playType, int top)
{
    SoundBufferSlot *slot = TakeStreamBuffer(handle, record, TAKE_OVER);
    if (slot == NULL || (top == 0 && IsBufferPlaying(slot))) {
        return -1;
    }
    StopStreamBuffer(record, slot);
    int loopingChanged = ((playType ^ record->lastPlayType) & 2) != 0;
    if ((loopingChanged && record->allEntriesDone) ||
        (top == 1 && (record->bytesPlayed != 0 || record->streamPlaying))) {
        RestartStream(record);
    }
    record->lastPlayType = playType;
    PrimeStreamLocked(handle, record);
    ApplyPlaySettings(record, slot);
    return PlayBufferSlot(slot, 1);
}

int PlayStreamSound(EngineHandle handle, int playType, int top)
{
    if (!IsSoundStarted()) {
        return -1;
    }
    EnterCriticalSection(&g_Sound.lock);
    SoundRecord *record = GetStreamRecord(handle);
    int result = record != NULL ? PlayStreamLocked(handle, record, playType, top) : -1;
    LeaveCriticalSection(&g_Sound.lock);
    return result;
}

int StopStreamSound(EngineHandle handle)
{
    if (!IsSoundStarted()) {
        return -1;
    }
    EnterCriticalSection(&g_Sound.lock);
    SoundRecord *record = GetStreamRecord(handle);
    SoundBufferSlot *slot = record != NULL ? TakeStreamBuffer(handle, record, TAKE_IF_FREE) : NULL;
    if (slot != NULL) {
        StopStreamBuffer(record, slot);
        if (record->sharedSource != -1) {
            StreamBufferOwner(record)->currentUser = -1;
        }
    }
    LeaveCriticalSection(&g_Sound.lock);
    return record != NULL ? 0 : -1;
}

int CheckStreamPlaying(EngineHandle handle)
{
    if (!IsSoundStarted()) {
        return -1;
    }
    EnterCriticalSection(&g_Sound.lock);
    SoundRecord *record = GetStreamRecord(handle);
    SoundBufferSlot *slot = record != NULL ? TakeStreamBuffer(handle, record, TAKE_IF_FREE) : NULL;
    int result = record == NULL ? -1 : (slot != NULL && IsBufferPlaying(slot));
    LeaveCriticalSection(&g_Sound.lock);
    return result;
}

int GetStreamSoundCurrentTime(EngineHandle handle)
{
    if (!IsSoundStarted()) {
        return -1;
    }
    EnterCriticalSection(&g_Sound.lock);
    SoundRecord *record = GetStreamRecord(handle);
    int result = -1;
    if (record != NULL) {
        SoundBufferSlot *slot = TakeStreamBuffer(handle, record, TAKE_IF_FREE);
        if (slot != NULL) {
            UpdateBytesPlayed(record, slot);
        }
        unsigned int frames = record->bytesPlayed / record->format.nBlockAlign;
        if (frames > (unsigned int)record->totalFrames) {
            frames = (unsigned int)record->totalFrames;
        }
        result = SamplesToMilliseconds((int)frames, (int)record->format.nSamplesPerSec);
    }
    LeaveCriticalSection(&g_Sound.lock);
    return result;
}

// ---------------------------------------------------------------------------------------------------------------
// Delete.

// A stream sound's delete once no sharer keeps it (DeleteSoundHandle keeps the sharer counts and releases the
// buffer slot): its entries with their converters and streams, and its place in the stream list.
int ReleaseStreamEntries(SoundRecord *record)
{
    if (record->streamNode.previous != NULL) {
        ListRemove(&record->streamNode);
        record->streamNode.previous = record->streamNode.next = NULL;
    }
    for (int i = 0; i < record->entryCount; i++) {
        ReleaseStreamEntry(&record->entries[i], record->entryDataOwned[i]);
    }
    record->entryCount = 0;
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Test hooks.

int SetSoundBufferEmulation(int on)
{
    g_Sound.emulateBuffers = on;
    return 0;
}

static SoundBufferSlot *EmulatedStreamBuffer(EngineHandle handle, SoundRecord **owner)
{
    SoundRecord *record = GetStreamRecord(handle);
    *owner = record != NULL ? StreamBufferOwner(record) : NULL;
    if (*owner == NULL || !(*owner)->slots[0].valid || (*owner)->slots[0].memory == NULL) {
        return NULL;
    }
    return &(*owner)->slots[0];
}

int SetStreamPlayCursorForTest(EngineHandle handle, unsigned int bytes)
{
    EnterCriticalSection(&g_Sound.lock);
    SoundRecord *owner;
    SoundBufferSlot *slot = EmulatedStreamBuffer(handle, &owner);
    if (slot != NULL) {
        slot->playFrame = bytes % owner->streamBufferSize / owner->format.nBlockAlign;
    }
    LeaveCriticalSection(&g_Sound.lock);
    return slot != NULL ? 0 : -1;
}

const unsigned char *GetStreamBufferForTest(EngineHandle handle, unsigned int *size)
{
    SoundRecord *owner;
    SoundBufferSlot *slot = EmulatedStreamBuffer(handle, &owner);
    *size = slot != NULL ? owner->streamBufferSize : 0;
    return slot != NULL ? slot->memory : NULL;
}
