// Stream sounds and soft-sound players refilled on the window thread (one-processor machines): no stream exists
// until the sound work brings them. Window thread only.
#include "sound/sound.h"

int ProcessAllStreamSounds(void)
{
    return -1; // sound is not started
}

int RefillAllSoftSoundPlayers(void)
{
    return 0;
}
