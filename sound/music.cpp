// MIDI music: the 256-slot table of MIDI handles (played by MCI, or as DirectMusic segments in music mode 1), the
// current-music entry, the per-pass play-state poll, the MCI notification, stop and delete, and the temporary MIDI
// file. Nothing in the program loads music, so the table stays empty and there is no current music; engine end and
// the pump still run these paths. Window thread only.
#include "sound/sound_internal.h"

#include <dmusici.h>

#define MCI_PUMP_PASSES 5

struct MidiRecord {
    unsigned int checkNumber;
    unsigned int playing;
    unsigned int started; // the performance has reported it playing once
    unsigned char *data;
    unsigned int dataSize;
    IDirectMusicSegment8 *segment;
};

struct MusicState {
    MCIDEVICEID mciDevice;
    unsigned int mciRepeat;
    unsigned int mciPlaying;
    unsigned int temporaryFileMade;
    char temporaryPath[MAX_PATH];
    EngineHandle currentMusic; // -1 none
    int currentIsSound;        // 1: a sound handle, 0: a MIDI handle
};

static MidiRecord *s_Midi[MIDI_HANDLE_LIMIT];
static int s_MidiCount;
static int s_MidiUsedEnd;
static MusicState s_Music = {0, 0, 0, 0, "", -1, 0};

typedef MCIERROR(WINAPI *MciSendCommandFunction)(MCIDEVICEID, UINT, DWORD_PTR, DWORD_PTR);

static MCIERROR SendMciCommand(UINT message, DWORD_PTR flags, DWORD_PTR parameters)
{
    MciSendCommandFunction send =
        (MciSendCommandFunction)(void (*)(void))GetBoundEntry(BOUND_WINMM, WINMM_MCI_SEND_COMMAND);
    return send != NULL ? send(s_Music.mciDevice, message, flags, parameters) : MCIERR_UNRECOGNIZED_COMMAND;
}

static MidiRecord *GetMidiRecord(EngineHandle handle)
{
    if (g_Sound.directSound == NULL) {
        return NULL;
    }
    return (MidiRecord *)ValidateEngineHandle(handle, HANDLE_TYPE_MIDI_MUSIC, (void *const *)s_Midi, MIDI_HANDLE_LIMIT);
}

static IDirectMusicPerformance8 *Performance(void)
{
    return (IDirectMusicPerformance8 *)g_Sound.musicPerformance;
}

int CheckMusicPlaying(EngineHandle handle)
{
    MidiRecord *record = GetMidiRecord(handle);
    if (record == NULL) {
        return -1;
    }
    return g_Sound.musicMode == 0 ? (int)s_Music.mciPlaying : (int)record->playing;
}

// Until the performance first reports a segment playing only that is noted; from then on its report is the flag.
int RefreshMidiPlayState(void)
{
    if (g_Sound.directSound == NULL) {
        return -1;
    }
    if (g_Sound.musicMode != 1 || Performance() == NULL) {
        return 0;
    }
    for (int slot = 0; slot < s_MidiUsedEnd; slot++) {
        MidiRecord *record = s_Midi[slot];
        if (record == NULL || !record->playing || record->segment == NULL) {
            continue;
        }
        int playing = Performance()->IsPlaying(record->segment, NULL) == S_OK;
        if (!record->started) {
            record->started = playing;
        } else {
            record->playing = playing;
        }
    }
    return 0;
}

// The MCI notification: a repeating piece starts again from its beginning, any other is closed.
int PlayMidiByMci(void)
{
    if (g_Sound.directSound == NULL) {
        return -1;
    }
    if (s_Music.mciRepeat == 1) {
        MCI_PLAY_PARMS play;
        MemFill(&play, 0, sizeof(play));
        play.dwCallback = (DWORD_PTR)GetAppWindowHandle();
        play.dwFrom = 0;
        SendMciCommand(MCI_PLAY, MCI_NOTIFY | MCI_FROM, (DWORD_PTR)&play);
        s_Music.mciPlaying = 1;
    } else if (s_Music.mciPlaying) {
        SendMciCommand(MCI_CLOSE, 0, 0);
        s_Music.mciPlaying = 0;
    }
    return 0;
}

int DeleteTemporaryMidiFile(void)
{
    if (s_Music.temporaryPath[0] != '\0') {
        DeleteFileA(s_Music.temporaryPath);
        s_Music.temporaryPath[0] = '\0';
    }
    s_Music.temporaryFileMade = 0;
    return 0;
}

int StopMusicMem(EngineHandle handle)
{
    MidiRecord *record = GetMidiRecord(handle);
    if (record == NULL) {
        return -1;
    }
    s_Music.mciRepeat = 0;
    if (g_Sound.musicMode == 0) {
        PlayMidiByMci();
        for (int pass = 0; pass < MCI_PUMP_PASSES; pass++) {
            ProcessMessageCore();
        }
    } else if (Performance() != NULL && record->segment != NULL) {
        Performance()->StopEx(record->segment, 0, 0);
    }
    if (s_Music.temporaryFileMade) {
        DeleteTemporaryMidiFile();
    }
    record->playing = 0;
    record->started = 0;
    return 0;
}

static void ReleaseSegment(MidiRecord *record)
{
    if (record->segment == NULL) {
        return;
    }
    if (Performance() != NULL) {
        record->segment->Unload(Performance());
    }
    if (g_Sound.musicLoader != NULL) {
        ((IDirectMusicLoader8 *)g_Sound.musicLoader)->ReleaseObjectByUnknown(record->segment);
    }
    record->segment->Release();
    record->segment = NULL;
}

int DeleteMusicMem(EngineHandle handle)
{
    MidiRecord *record = GetMidiRecord(handle);
    if (record == NULL) {
        return -1;
    }
    if (record->playing) {
        StopMusicMem(handle);
    }
    ReleaseSegment(record);
    if (record->data != NULL) {
        MemFill(record->data, 0, record->dataSize);
        FreeMemory(record->data);
    }
    int slot = handle & HANDLE_INDEX_MASK;
    FreeMemory(record);
    s_Midi[slot] = NULL;
    s_MidiCount--;
    while (s_MidiUsedEnd > 0 && s_Midi[s_MidiUsedEnd - 1] == NULL) {
        s_MidiUsedEnd--;
    }
    return 0;
}

int DeleteAllMusicMem(void)
{
    if (g_Sound.directSound == NULL) {
        return -1;
    }
    for (int slot = 0; slot < MIDI_HANDLE_LIMIT; slot++) {
        if (s_Midi[slot] != NULL) {
            DeleteMusicMem(MakeEngineHandle(HANDLE_TYPE_MIDI_MUSIC, s_Midi[slot]->checkNumber, slot));
        }
    }
    return 0;
}

// Engine end, first step: whatever plays as the current music is stopped and deleted.
int StopCurrentMusic(void)
{
    if (g_Sound.directSound == NULL) {
        return -1;
    }
    EngineHandle music = s_Music.currentMusic;
    s_Music.currentMusic = -1;
    if (music == -1) {
        return 0;
    }
    if (s_Music.currentIsSound) {
        StopSoundHandle(music);
        DeleteSoundHandle(music, 0);
    } else {
        StopMusicMem(music);
        DeleteMusicMem(music);
    }
    return 0;
}
