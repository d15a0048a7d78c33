// Music and sound effects: one looped music track at a time, loaded from the resources only when the track
// changes, and the eight effects loaded at start-up, each played in the background from its start. Window thread.
#include "game/game_state.h"

#include "sound/sound.h"

#define MUSIC_VOLUME 102

void SwitchMusic(int8_t track)
{
    if (track == g_Game.CurrentTrack || IsBotRehearsing()) {
        return;
    }
    DeleteSoundHandle(g_Handles.MusicHandle, 0);
    int resourceId = (uint16_t)(201 + track);
    g_Handles.MusicHandle = LoadSoundFromResource(MAKEINTRESOURCEA(resourceId), "MUSIC", 1);
    NoteMusicLoaded(resourceId);
    SetSoundVolume255(MUSIC_VOLUME, g_Handles.MusicHandle);
    PlaySoundHandle(g_Handles.MusicHandle, 3, 1);
    g_Game.CurrentTrack = track;
}

void PlayEffect(int index)
{
    if (IsBotRehearsing()) {
        return;
    }
    PlaySoundHandle(g_Handles.SoundEffects[index], 1, 1);
    NoteEffectPlayed(300 + index);
}
