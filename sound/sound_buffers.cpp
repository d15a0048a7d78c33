// Buffer slots: each is one DirectSound secondary buffer or, with the emulation option, an in-memory stand-in that
// keeps the same state (playing, position, looping, volume, pan, frequency) without making sound. Also the making of
// a sound's slots (CreateSoundBuffers), refusing a format the converter's rule would not hand on. Called on the
// window thread and on the refill thread; callers that touch a sound table hold the sound lock.
#include "sound/sound_internal.h"
#include "sound/convert_kinds.h"

#include <math.h>

#define NORMAL_BUFFER_FLAGS 0x80E2  // static, frequency, pan, volume, global focus
#define FALLBACK_BUFFER_FLAGS 0xC2  // static, pan, volume
#define STREAM_BUFFER_FLAGS 0x180E2 // the normal set plus the precise play cursor
#define EMULATED_FULL_VOLUME 256
#define EMULATED_CREATED_VOLUME 255
#define EMULATED_FULL_PAN 256

static int IsEmulated(void)
{
    return g_Sound.emulateBuffers != 0;
}

// The emulated state of a slot at creation: stopped at frame 0, full volume, centred, the data's own rate.
static void ResetEmulatedState(SoundBufferSlot *slot, unsigned int frames, const WAVEFORMATEX *format)
{
    slot->playing = 0;
    slot->playFrame = 0;
    slot->looping = 0;
    slot->pan = 0;
    slot->volumeFactor = EMULATED_CREATED_VOLUME;
    slot->frequency = -1;
    slot->frames = frames;
    slot->format = *format;
}

static unsigned int EmulatedBytes(const SoundBufferSlot *slot)
{
    return slot->frames * slot->format.nBlockAlign;
}

int CreateBufferSlot(SoundBufferSlot *slot, const DSBUFFERDESC *description)
{
    if (slot->valid) {
        return -1;
    }
    if (!IsEmulated()) {
        IDirectSoundBuffer *buffer = NULL;
        if (g_Sound.directSound == NULL || FAILED(g_Sound.directSound->CreateSoundBuffer(description, &buffer, NULL))) {
            return -1;
        }
        slot->buffer = buffer;
    } else {
        const WAVEFORMATEX *format = description->lpwfxFormat;
        if (format == NULL || format->nBlockAlign == 0) {
            return -1;
        }
        slot->memory = (unsigned char *)ENGINE_ALLOC_ZEROED(description->dwBufferBytes);
        if (slot->memory == NULL) {
            return -1;
        }
        ResetEmulatedState(slot, description->dwBufferBytes / format->nBlockAlign, format);
    }
    slot->valid = 1;
    return 0;
}

int DuplicateBufferSlot(SoundBufferSlot *slot, SoundBufferSlot *source)
{
    if (!source->valid || slot->valid) {
        return -1;
    }
    if (!IsEmulated()) {
        IDirectSoundBuffer *buffer = NULL;
        if (FAILED(g_Sound.directSound->DuplicateSoundBuffer(source->buffer, &buffer))) {
            return -1;
        }
        slot->buffer = buffer;
    } else {
        // A real duplicate shares the source's memory; the emulation gives it its own, left unfilled.
        slot->memory = (unsigned char *)ENGINE_ALLOC_ZEROED(EmulatedBytes(source));
        if (slot->memory == NULL) {
            return -1;
        }
        ResetEmulatedState(slot, source->frames, &source->format);
    }
    slot->valid = 1;
    return 0;
}

int ReleaseBufferSlot(SoundBufferSlot *slot)
{
    if (!slot->valid) {
        return -1;
    }
    if (slot->buffer != NULL) {
        slot->buffer->Release();
    }
    if (slot->memory != NULL) {
        FreeMemory(slot->memory);
    }
    MemFill(slot, 0, sizeof(*slot));
    return 0;
}

int PlayBufferSlot(SoundBufferSlot *slot, int looping)
{
    if (!slot->valid) {
        return -1;
    }
    if (!IsEmulated()) {
        return SUCCEEDED(slot->buffer->Play(0, 0, looping ? DSBPLAY_LOOPING : 0)) ? 0 : -1;
    }
    slot->playing = 1;
    slot->looping = looping ? 1 : 0;
    return 0;
}

int StopBufferSlot(SoundBufferSlot *slot)
{
    if (!slot->valid) {
        return -1;
    }
    if (!IsEmulated()) {
        return SUCCEEDED(slot->buffer->Stop()) ? 0 : -1;
    }
    slot->playing = 0;
    return 0;
}

int GetBufferSlotStatus(SoundBufferSlot *slot, DWORD *status)
{
    if (!slot->valid) {
        return -1;
    }
    if (!IsEmulated()) {
        return SUCCEEDED(slot->buffer->GetStatus(status)) ? 0 : -1;
    }
    *status = slot->playing ? DSBSTATUS_PLAYING : 0;
    return 0;
}

int LockBufferSlot(SoundBufferSlot *slot, unsigned int offset, unsigned int bytes, void **region1, DWORD *size1,
                   void **region2, DWORD *size2)
{
    if (!slot->valid) {
        return -1;
    }
    if (!IsEmulated()) {
        return SUCCEEDED(slot->buffer->Lock(offset, bytes, region1, size1, region2, size2, 0)) ? 0 : -1;
    }
    unsigned int total = EmulatedBytes(slot);
    if (offset >= total || bytes > total) {
        return -1;
    }
    unsigned int first = bytes < total - offset ? bytes : total - offset;
    *region1 = slot->memory + offset;
    *size1 = first;
    *region2 = bytes > first ? slot->memory : NULL;
    *size2 = bytes - first;
    return 0;
}

int UnlockBufferSlot(SoundBufferSlot *slot, void *region1, DWORD size1, void *region2, DWORD size2)
{
    if (!slot->valid) {
        return -1;
    }
    if (!IsEmulated()) {
        return SUCCEEDED(slot->buffer->Unlock(region1, size1, region2, size2)) ? 0 : -1;
    }
    return 0;
}

int SetBufferSlotFrequency(SoundBufferSlot *slot, int frequency)
{
    if (!slot->valid) {
        return -1;
    }
    if (!IsEmulated()) {
        return SUCCEEDED(slot->buffer->SetFrequency((DWORD)frequency)) ? 0 : -1;
    }
    slot->frequency = frequency == 0 ? -1 : frequency;
    return 0;
}

// Hundredths of a dB of attenuation as a factor out of 256, the rule the emulated volume and pan share.
static int AttenuationToFactor(int hundredthsOfDb)
{
    if (hundredthsOfDb <= DSBVOLUME_MIN) {
        return 0;
    }
    if (hundredthsOfDb >= 0) {
        return EMULATED_FULL_VOLUME;
    }
    return (int)(pow(10.0, hundredthsOfDb / 1000.0) / 0.9999999999 * EMULATED_FULL_VOLUME);
}

// The emulated pan is how far the far side is turned down: the pan's attenuation of that side, out of 256.
int SetBufferSlotPan(SoundBufferSlot *slot, int pan)
{
    if (!slot->valid) {
        return -1;
    }
    if (!IsEmulated()) {
        return SUCCEEDED(slot->buffer->SetPan(pan)) ? 0 : -1;
    }
    int magnitude = EMULATED_FULL_PAN - AttenuationToFactor(-AbsInt(pan));
    slot->pan = pan < 0 ? -magnitude : magnitude;
    return 0;
}

int SetBufferSlotVolume(SoundBufferSlot *slot, int volume)
{
    if (!slot->valid) {
        return -1;
    }
    if (!IsEmulated()) {
        return SUCCEEDED(slot->buffer->SetVolume(volume)) ? 0 : -1;
    }
    slot->volumeFactor = AttenuationToFactor(volume);
    return 0;
}

int SetBufferSlotPosition(SoundBufferSlot *slot, unsigned int bytes)
{
    if (!slot->valid) {
        return -1;
    }
    if (!IsEmulated()) {
        return SUCCEEDED(slot->buffer->SetCurrentPosition(bytes)) ? 0 : -1;
    }
    slot->playFrame = bytes / slot->format.nBlockAlign;
    return 0;
}

int GetBufferSlotPosition(SoundBufferSlot *slot, DWORD *playCursor, DWORD *writeCursor)
{
    if (!slot->valid) {
        return -1;
    }
    if (!IsEmulated()) {
        return SUCCEEDED(slot->buffer->GetCurrentPosition(playCursor, writeCursor)) ? 0 : -1;
    }
    *playCursor = slot->playFrame * slot->format.nBlockAlign;
    if (writeCursor != NULL) {
        *writeCursor = *playCursor;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Making a sound's slots.

// The software-buffer option asks for a buffer in system memory in place of a static one.
static DWORD BufferFlags(DWORD flags)
{
    return g_Sound.softwareBuffers ? (flags & ~(DWORD)DSBCAPS_STATIC) | DSBCAPS_LOCSOFTWARE : flags;
}

static int CreateSlotWithFlags(SoundBufferSlot *slot, const WAVEFORMATEX *format, unsigned int bytes, DWORD flags)
{
    DSBUFFERDESC description;
    MemFill(&description, 0, sizeof(description));
    description.dwSize = sizeof(description);
    description.dwFlags = BufferFlags(flags);
    description.dwBufferBytes = bytes;
    description.lpwfxFormat = (WAVEFORMATEX *)format;
    return CreateBufferSlot(slot, &description);
}

// A normal sound's own first buffer, with every control where the device allows it, else without frequency.
static int CreateFirstSlot(SoundBufferSlot *slot, const WAVEFORMATEX *format, unsigned int bytes)
{
    if (CreateSlotWithFlags(slot, format, bytes, NORMAL_BUFFER_FLAGS) == 0 ||
        CreateSlotWithFlags(slot, format, bytes, FALLBACK_BUFFER_FLAGS) == 0) {
        return 0;
    }
    AddLog("DirectSoundBuffer の作成に失敗しました\n");
    return -1;
}

// Slot 0 is made (or duplicated from the source's slot 0), every further slot duplicates it; a duplicate that fails
// past slot 0 ends the list, so the buffer count is what was made.
static int CreateNormalSlots(SoundRecord *record, const WAVEFORMATEX *format, unsigned int bytes, int count,
                             SoundRecord *source)
{
    SoundBufferSlot *original = source != NULL ? &source->slots[0] : &record->slots[0];
    int made = 0;
    for (int i = 0; i < count; i++) {
        if (i == 0 && source == NULL) {
            if (CreateFirstSlot(&record->slots[0], format, bytes) != 0) {
                return -1;
            }
        } else if (DuplicateBufferSlot(&record->slots[i], original) == 0) {
            record->duplicated[i] = 1;
        } else if (i != 0) {
            break;
        } else if (CreateFirstSlot(&record->slots[0], format, bytes) != 0) {
            return -1;
        }
        made++;
    }
    record->bufferCount = made;
    return 0;
}

static void CreateStreamSlot(SoundRecord *record, const WAVEFORMATEX *format, EngineHandle handle)
{
    unsigned int blockAlign = format->nBlockAlign;
    unsigned int bytes = (format->nAvgBytesPerSec + blockAlign - 1) / blockAlign * blockAlign;
    if (CreateSlotWithFlags(&record->slots[0], format, bytes, STREAM_BUFFER_FLAGS) != 0) {
        FatalErrorExit("ストリーム風サウンドバッファの作成に失敗しました\n");
    }
    record->bufferCount = 1;
    ListAddTail(&g_Sound.streamHead, &record->streamNode, handle, record);
}

int CreateSoundBuffers(const WAVEFORMATEX *format, unsigned int bytes, int kind, int count, EngineHandle handle,
                       EngineHandle source)
{
    SoundRecord *record = GetSoundRecord(handle);
    SoundRecord *sourceRecord = NULL;
    if (record == NULL || count < 0 || count > SOUND_BUFFER_LIMIT) {
        return -1;
    }
    if (source != -1) {
        sourceRecord = GetSoundRecord(source);
        if (sourceRecord == NULL || kind != SOUND_NORMAL || sourceRecord->kind != SOUND_NORMAL) {
            return -1;
        }
        format = &sourceRecord->format;
        bytes = sourceRecord->pcmSize;
    }
    // A format the platform cannot play is refused before any buffer exists: its mixer would divide by it.
    if (CheckPcmOutputFormat(format) != 0) {
        return -1;
    }
    if (kind == SOUND_STREAM) {
        CreateStreamSlot(record, format, handle);
    } else if (CreateNormalSlots(record, format, bytes, count, sourceRecord) != 0) {
        return -1;
    }
    record->kind = kind;
    return 0;
}
