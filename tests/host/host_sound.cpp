// Host stand-in for the sound state the converter reads: never started, no ACM entries bound, so the ACM kinds
// decline and the PCM WAVE, Ogg Vorbis and MP3 frame code run alone. Single-threaded.
#include "sound/sound_internal.h"

SoundState g_Sound;
