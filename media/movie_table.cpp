// The movie-handle table: 100 slots of movie records, validated like every engine handle table; closing a movie
// with its releases in their fixed order, pausing one, and pausing and resuming all of them with the window's
// activation. Records are placed by a movie's opener (none exists in this program; tests place their own).
// Window thread only; nothing is locked here.
#include "media/movie_internal.h"
#include "media/media_test_hooks.h"
#include "sound/sound.h"

static MovieRecord *s_Movies[MOVIE_SLOT_COUNT];
static int s_MovieCount;
static int s_CheckCounter;

static const MovieServices s_EngineServices = {GetNowMicroCount, GetSoundPlayPosition, StopSoundHandle, PlaySoundHandle,
                                               DeleteSoundHandle};
static const MovieServices *s_Services = &s_EngineServices;

const MovieServices *GetMovieServices(void)
{
    return s_Services;
}

void SetMovieServicesForTest(const MovieServices *services)
{
    s_Services = services != NULL ? services : &s_EngineServices;
}

MovieRecord *FindMovie(EngineHandle movie)
{
    return (MovieRecord *)ValidateEngineHandle(movie, HANDLE_TYPE_MOVIE, (void *const *)s_Movies, MOVIE_SLOT_COUNT);
}

MovieRecord *GetMovieInSlot(int slot)
{
    return s_Movies[slot];
}

EngineHandle GetMovieHandleOfSlot(int slot)
{
    return MakeEngineHandle(HANDLE_TYPE_MOVIE, s_Movies[slot]->header.checkNumber, slot);
}

MovieRecord *PlaceMovieRecordForTest(int slot)
{
    if (slot < 0 || slot >= MOVIE_SLOT_COUNT || s_Movies[slot] != NULL) {
        return NULL;
    }
    MovieRecord *record = (MovieRecord *)ENGINE_ALLOC_ZEROED(sizeof(MovieRecord));
    if (record == NULL) {
        return NULL;
    }
    record->header.checkNumber = s_CheckCounter;
    record->header.handle = MakeEngineHandle(HANDLE_TYPE_MOVIE, s_CheckCounter, slot);
    s_CheckCounter = (s_CheckCounter + 1) % HANDLE_CHECK_LIMIT;
    record->linkedSound = -1;
    s_Movies[slot] = record;
    s_MovieCount++;
    return record;
}

static void CloseTheoraSide(MovieRecord *record)
{
    if (record->file != 0) {
        FileCloseThunk(record->file);
        record->file = 0;
    }
    if (record->decoder != NULL) {
        CloseTheoraDecoder(record->decoder);
    }
    if (record->linkedSound != -1) {
        s_Services->deleteSound(record->linkedSound, 0);
    }
    record->decoder = NULL;
    record->linkedSound = -1;
    record->theora = 0;
}

// The release order of the references (numbered from 1): these four before the event handle, the rest after it.
static const int s_ReleasedBeforeEvent[] = {3, 2, 1, 4};
static const int s_ReleasedAfterEvent[] = {9, 8, 7, 6, 13, 12, 11, 10, 5};

static void ReleaseReference(MovieRecord *record, int number)
{
    IUnknown *&reference = record->references[number - 1];
    if (reference != NULL) {
        reference->Release();
        reference = NULL;
    }
}

static void ReleaseMovieReferences(MovieRecord *record)
{
    for (int number : s_ReleasedBeforeEvent) {
        ReleaseReference(record, number);
    }
    if (record->event != NULL) {
        CloseHandle(record->event);
        record->event = NULL;
    }
    for (int number : s_ReleasedAfterEvent) {
        ReleaseReference(record, number);
    }
}

int CloseMovie(EngineHandle movie)
{
    MovieRecord *record = FindMovie(movie);
    if (record == NULL) {
        return -1;
    }
    if (record->theora) {
        CloseTheoraSide(record);
    }
    if (record->temporaryFile == 1) {
        DeleteFileW(record->temporaryPath);
        record->temporaryFile = 0;
    }
    if (record->overlay == 1) {
        HideMovieOverlay(record);
    }
    if (record->frameImage.pixels != NULL) {
        if (!record->pixelsNotOwned) {
            FreeBaseImageData(&record->frameImage);
        }
        record->frameImage.pixels = NULL;
    }
    ReleaseMovieReferences(record);
    s_Movies[movie & HANDLE_INDEX_MASK] = NULL;
    FreeMemory(record);
    s_MovieCount--;
    return 0;
}

static int PauseMovieRecord(MovieRecord *record, int keepPlaying)
{
    if (record->paused == 1) {
        return 0;
    }
    if (record->theora) {
        if (record->linkedSound != -1) {
            s_Services->stopSound(record->linkedSound);
        }
        UpdateMovieRecord(record);
    } else {
        IMediaControl *control = (IMediaControl *)record->references[MOVIE_REF_MEDIA_CONTROL];
        if (control == NULL) {
            return 0;
        }
        control->Pause();
    }
    record->paused = 1;
    if (keepPlaying == 0) {
        record->playing = 0;
    }
    return 0;
}

int PauseMovie(EngineHandle movie, int keepPlaying)
{
    MovieRecord *record = FindMovie(movie);
    return record != NULL ? PauseMovieRecord(record, keepPlaying) : -1;
}

int PauseAllMovies(void)
{
    for (MovieRecord *record : s_Movies) {
        if (record != NULL) {
            PauseMovieRecord(record, 1); // playing stays 1, so that the resume knows which were playing
        }
    }
    return 0;
}

static void ResumeMovieRecord(MovieRecord *record)
{
    const int playType = record->playType != 0 ? record->playType : 1;
    if (record->theora) {
        record->startTime = MovieRestartTime(record);
        if (record->linkedSound != -1) {
            s_Services->playSound(record->linkedSound, playType, 0); // on from where it stopped
        }
    } else {
        IMediaControl *control = (IMediaControl *)record->references[MOVIE_REF_MEDIA_CONTROL];
        if (control != NULL) {
            control->Run();
        }
    }
    record->paused = 0;
    record->playType = playType;
    record->playing = 1;
}

int ResumeAllMovies(void)
{
    for (MovieRecord *record : s_Movies) {
        if (record != NULL && record->paused && record->playing) {
            ResumeMovieRecord(record);
        }
    }
    return 0;
}
