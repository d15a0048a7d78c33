// Sound: what the test programs reach into besides the public contract (sound.h). Programs never include it.
// Called on the thread that runs the test, with no refill thread running beside it.
#pragma once

#include "sound/sound.h"

// The in-memory buffer path in place of DirectSound buffers, for buffers made from now on (sound started).
int SetSoundBufferEmulation(int on);

// An emulated stream buffer: moves its play cursor (it never moves by itself), and shows its bytes and size.
int SetStreamPlayCursorForTest(EngineHandle handle, unsigned int bytes);
const unsigned char *GetStreamBufferForTest(EngineHandle handle, unsigned int *size);
