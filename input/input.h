// Input: keyboard, mouse and joypads, the pad bit set and its key map, typed characters and text entry.
// The public contract of the subsystem: the only header other subsystems include.
#pragma once

#include "core/core.h"
