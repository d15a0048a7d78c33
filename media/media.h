// Media: the media-graph class library, its filters, MP3 conversion and the movie-handle table.
// The public contract of the subsystem: the only header other subsystems include.
#pragma once

#include "core/core.h"

// ---------------------------------------------------------------------------------------------------------------
// Movie-handle table (100 slots, type tag HANDLE_TYPE_MOVIE): closing, pausing, the per-draw frame update, pausing
// and resuming with the window's activation, and overlay placement in the window. Nothing in the program opens a
// movie, so in the game every call fails its handle check with -1 or walks the empty table. Invalid handles give
// -1 without a log line. Window thread only.

#define MOVIE_SLOT_COUNT 100

int CloseMovie(EngineHandle movie);
// keepPlaying 0 stops the movie: ResumeAllMovies then leaves it stopped.
int PauseMovie(EngineHandle movie, int keepPlaying);
// The second word is not read.
int UpdateMovie(EngineHandle movie, unsigned int unused);
int PauseAllMovies(void);
int ResumeAllMovies(void);
// Places an overlay movie at x, y (client coordinates) magnified by a whole scale; a scale below 1 hides it.
int DrawMovieToWindow(int x, int y, int scale, EngineHandle movie, int show);
int DrawAllWindowMovies(void);

// Colour-conversion tables for movie frames (the BT.601 factors scaled by 16384). The five factor tables lie back
// to back. A converter shifts the sum of a channel's entries right by 14 and looks it up in the clamp table.
struct YuvToRgbTables {
    unsigned char clamp[1280]; // index value + 512 for values -512..767: below 0 gives 0, above 255 gives 255
    int crToRed[256];          // 26148 x (i - 128)
    int cbToGreen[256];        // -6406 x (i - 128)
    int crToGreen[256];        // -13320 x (i - 128)
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
