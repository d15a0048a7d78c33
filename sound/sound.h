// Sound: sound handles, DirectSound buffers, stream sounds and their refill thread, conversion to PCM.
// The public contract of the subsystem: the only header other subsystems include.
#pragma once

#include "core/core.h"

// ---------------------------------------------------------------------------------------------------------------
// Sound start-up and end, and the upkeep the message pump runs.

int InitSoundSystem(void);
int TerminateSoundSystem(void);
int ProcessAllStreamSounds(void);
int RefillAllSoftSoundPlayers(void);
int RefreshMidiPlayState(void);
int PlayMidiByMci(void);
int StopCurrentMusic(void);
