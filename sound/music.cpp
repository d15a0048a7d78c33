// MIDI music: the play-state poll, the MCI notification and stopping the current music. No music is ever loaded
// until the sound work brings the MIDI tables. Window thread only.
#include "sound/sound.h"

int RefreshMidiPlayState(void)
{
    return 0;
}

int PlayMidiByMci(void)
{
    return 0;
}

int StopCurrentMusic(void)
{
    return 0;
}
