// Sound: sound handles, DirectSound buffers, stream sounds and their refill thread, conversion to PCM.
// The public contract of the subsystem: the only header other subsystems include.
#pragma once

#include "core/core.h"
