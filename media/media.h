// Media: the media-graph class library, its filters, MP3 conversion and the movie-handle table.
// The public contract of the subsystem: the only header other subsystems include.
#pragma once

#include "core/core.h"
