// Soft sounds: the 8,192-slot table of sample blocks (kind 0) and players (kind 1) that stream queued bytes from a
// ring into a looping buffer, with their deletes and the players' refill. Nothing in the program creates one, so
// the table stays empty; engine start and end and the refill still walk it. Every change and every refill holds
// the sound lock: the window thread (pump path) and the refill thread both refill.
#include "sound/sound_internal.h"

#define SILENCE_BYTE_8_BIT 127

struct SoftSoundRecord {
    unsigned int checkNumber;
    int kind; // 0 sample data, 1 player
    unsigned char *samples;
    unsigned short blockAlign, bitsPerSample;
    int queuedFrames;
    RingBuffer ring;
    ListNode playerNode;
    SoundBufferSlot slot;
    unsigned int bufferSize;
    unsigned int writeCursor;
    int endPoint; // buffer offset where the queued data ran out, -1 none
    unsigned int endPlayCursor;
    unsigned int playedOut;
    unsigned int leadBytes;
    unsigned int active;
};

static SoftSoundRecord *s_SoftSounds[SOFT_SOUND_LIMIT];
static int s_SoftSoundCount;
static int s_SoftSoundUsedEnd;

// ---------------------------------------------------------------------------------------------------------------
// Deletes.

static void ReleaseSoftSound(SoftSoundRecord *record)
{
    if (record->kind == 1) {
        ReleaseRingBuffer(&record->ring);
        ReleaseBufferSlot(&record->slot);
        ListRemove(&record->playerNode);
    } else {
        FreeMemory(record->samples);
    }
    FreeMemory(record);
}

static void FreeSoftSoundSlot(int slot)
{
    ReleaseSoftSound(s_SoftSounds[slot]);
    s_SoftSounds[slot] = NULL;
    s_SoftSoundCount--;
    while (s_SoftSoundUsedEnd > 0 && s_SoftSounds[s_SoftSoundUsedEnd - 1] == NULL) {
        s_SoftSoundUsedEnd--;
    }
}

int DeleteSoftSoundHandle(EngineHandle handle, int kind)
{
    if (g_Sound.directSound == NULL) {
        return -1;
    }
    EnterCriticalSection(&g_Sound.lock);
    SoftSoundRecord *record = (SoftSoundRecord *)ValidateEngineHandle(handle, HANDLE_TYPE_SOFT_SOUND,
                                                                      (void *const *)s_SoftSounds, SOFT_SOUND_LIMIT);
    int result = record != NULL && record->kind == kind ? 0 : -1;
    if (result == 0) {
        FreeSoftSoundSlot(handle & HANDLE_INDEX_MASK);
    }
    LeaveCriticalSection(&g_Sound.lock);
    return result;
}

static int DeleteAllSoftSoundsOfKind(int kind)
{
    if (g_Sound.directSound == NULL) {
        return -1;
    }
    EnterCriticalSection(&g_Sound.lock);
    for (int slot = s_SoftSoundUsedEnd - 1; slot >= 0; slot--) {
        if (s_SoftSounds[slot] != NULL && s_SoftSounds[slot]->kind == kind) {
            FreeSoftSoundSlot(slot);
        }
    }
    LeaveCriticalSection(&g_Sound.lock);
    return 0;
}

int DeleteAllSoftSounds(void)
{
    return DeleteAllSoftSoundsOfKind(0);
}

int DeleteAllSoftSoundPlayers(void)
{
    return DeleteAllSoftSoundsOfKind(1);
}

// ---------------------------------------------------------------------------------------------------------------
// Player refill: keeps the buffer filled twice the lead ahead of the play cursor, queued bytes first, then silence.

static unsigned int ForwardDistance(unsigned int from, unsigned int to, unsigned int size)
{
    return (to + size - from) % size;
}

// Once the queued data ran out, notes when the play cursor passes the point where it ended.
static void TrackEndPoint(SoftSoundRecord *player, unsigned int playCursor)
{
    if (player->endPoint == -1 || player->playedOut) {
        return;
    }
    unsigned int size = player->bufferSize;
    if (ForwardDistance(player->endPlayCursor, playCursor, size) >=
        ForwardDistance(player->endPlayCursor, (unsigned int)player->endPoint, size)) {
        player->playedOut = 1;
    } else {
        player->endPlayCursor = playCursor;
    }
}

static void CopyRegion(SoftSoundRecord *player, unsigned char *region, DWORD size, unsigned int *dataLeft)
{
    unsigned int data = *dataLeft < size ? *dataLeft : size;
    RingBufferRead(&player->ring, region, (int)data, 0);
    MemFill(region + data, player->bitsPerSample == 8 ? SILENCE_BYTE_8_BIT : 0, size - data);
    *dataLeft -= data;
}

static void RefillSoftSoundPlayer(SoftSoundRecord *player)
{
    DWORD playCursor = 0;
    unsigned int size = player->bufferSize;
    if (!player->active || size == 0 || player->blockAlign == 0 ||
        GetBufferSlotPosition(&player->slot, &playCursor, NULL) != 0) {
        return;
    }
    TrackEndPoint(player, playCursor);
    unsigned int lead = ForwardDistance(playCursor, player->writeCursor, size);
    if (lead > player->leadBytes) {
        return;
    }
    int frames = (int)((2 * player->leadBytes - lead) / player->blockAlign);
    unsigned int span = (unsigned int)frames * player->blockAlign;
    int taken = frames < player->queuedFrames ? frames : player->queuedFrames;
    unsigned int dataBytes = (unsigned int)taken * player->blockAlign;
    if (span == 0 || span > size) {
        return;
    }
    void *region1 = NULL, *region2 = NULL;
    DWORD size1 = 0, size2 = 0;
    if (LockBufferSlot(&player->slot, player->writeCursor, span, &region1, &size1, &region2, &size2) != 0) {
        return;
    }
    player->queuedFrames -= taken;
    if (taken > 0 && player->playedOut) {
        player->playedOut = 0;
        player->endPoint = -1;
    }
    if (taken < frames && player->endPoint == -1) {
        player->endPoint = (int)((player->writeCursor + dataBytes) % size);
        player->endPlayCursor = playCursor;
        player->playedOut = 0;
    }
    CopyRegion(player, (unsigned char *)region1, size1, &dataBytes);
    if (region2 != NULL) {
        CopyRegion(player, (unsigned char *)region2, size2, &dataBytes);
    }
    UnlockBufferSlot(&player->slot, region1, size1, region2, size2);
    player->writeCursor = (player->writeCursor + span) % size;
}

int RefillAllSoftSoundPlayers(void)
{
    if (g_Sound.directSound == NULL) {
        return -1;
    }
    EnterCriticalSection(&g_Sound.lock);
    for (ListNode *node = g_Sound.softPlayerHead.next; node != NULL && node != &g_Sound.softPlayerTail;
         node = node->next) {
        RefillSoftSoundPlayer((SoftSoundRecord *)node->data);
    }
    LeaveCriticalSection(&g_Sound.lock);
    return 0;
}
