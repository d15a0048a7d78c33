// The movie-handle table: 100 slots of movie records, validated like every engine handle table. No movie can be
// opened yet (the decoders come with the media work), so the table stays empty and its walkers find nothing; the
// record keeps only what the walkers read. Window thread only.
#include "media/media.h"

struct MovieRecord {
    HandleRecordHeader header;
    int playing;
    int pausedWhilePlaying;
};

static MovieRecord *s_Movies[MOVIE_SLOT_COUNT];
static int s_MovieCount;

static MovieRecord *FindMovie(EngineHandle movie)
{
    return (MovieRecord *)ValidateEngineHandle(movie, HANDLE_TYPE_MOVIE, (void *const *)s_Movies, MOVIE_SLOT_COUNT);
}

int CloseMovie(EngineHandle movie)
{
    MovieRecord *record = FindMovie(movie);
    if (record == NULL) {
        return -1;
    }
    s_Movies[movie & HANDLE_INDEX_MASK] = NULL;
    FreeMemory(record);
    s_MovieCount--;
    return 0;
}

int UpdateMovie(EngineHandle movie, unsigned int unused)
{
    return FindMovie(movie) != NULL ? 0 : -1;
}

int PauseAllMovies(void)
{
    for (MovieRecord *record : s_Movies) {
        if (record != NULL) {
            record->pausedWhilePlaying = record->playing;
            record->playing = 0;
        }
    }
    return 0;
}

int ResumeAllMovies(void)
{
    for (MovieRecord *record : s_Movies) {
        if (record != NULL && record->pausedWhilePlaying) {
            record->playing = 1;
            record->pausedWhilePlaying = 0;
        }
    }
    return 0;
}

int DrawAllWindowMovies(void)
{
    return 0; // no movie draws straight into the window
}
