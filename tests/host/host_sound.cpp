// Host stand-in for the sound state the converter reads: never started, no ACM entries bound, so the ACM kinds
// decline and the PCM WAVE, Ogg Vorbis and MP3 frame code run alone; the host has no media graph, so its MP3
// conversion declines too. Single-threaded.
#include "sound/sound_internal.h"
#include "media/media.h"

SoundState g_Sound;

int ConvertMp3ToPcm(SoundConverter *converter)
{
    return -1;
}
