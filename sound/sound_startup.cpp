// Sound start-up and end: DirectSound, its primary format and the refill thread come with the sound work; until
// then sound starts and ends without a device. Window thread only.
#include "sound/sound.h"

int InitSoundSystem(void)
{
    return 0;
}

int TerminateSoundSystem(void)
{
    return 0;
}
