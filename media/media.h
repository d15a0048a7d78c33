// Media: the media-graph class library, its filters, MP3 conversion and the movie-handle table.
// The public contract of the subsystem: the only header other subsystems include.
#pragma once

#include "core/core.h"

// ---------------------------------------------------------------------------------------------------------------
// Movie-handle table (100 slots, type tag HANDLE_TYPE_MOVIE). Nothing opens a movie yet, so every call validates
// its handle or walks the empty table.

#define MOVIE_SLOT_COUNT 100

int CloseMovie(EngineHandle movie);
int UpdateMovie(EngineHandle movie, unsigned int unused);
int PauseAllMovies(void);
int ResumeAllMovies(void);
int DrawAllWindowMovies(void);

// Colour-conversion tables for movie frames (the BT.601 factors scaled by 16384).
struct YuvToRgbTables {
    unsigned char clamp[1280]; // index value + 512 for values -512..767: below 0 gives 0, above 255 gives 255
    int crToRed[256];          // 26148 x (i - 128)
    int cbToGreen[256];        // -6406 x (i - 128)
    int crToGreen[256];        // -13320 x (i - 128) + 1024
    int cbToBlue[256];         // 33062 x (i - 128)
    int luma[256];             // 19070 x (i - 16)
};

int InitYuvToRgbTables(void);
const YuvToRgbTables *GetYuvToRgbTables(void);

// ---------------------------------------------------------------------------------------------------------------
// MP3 to PCM through the media graph: the sound converter's last kind. Fills the converter's kind-3 fields, its
// output format and output size; 0, or -1 with nothing left allocated in it.

struct SoundConverter;
int ConvertMp3ToPcm(SoundConverter *converter);
