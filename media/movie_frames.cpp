// The per-draw frame update of a movie: on the Theora side the clock (or the linked sound's position) says which
// frame should show and the decoder is moved there; on the media-graph side a newly arrived frame is handed on and
// the end of the stream loops or stops the movie. Either way the frame callback gets the current frame. Window
// thread only; the frame receiver's new-frame word is also written by a streaming thread.
#include "media/movie_internal.h"

#include <math.h>

// A rate that is not finite or not above 0 (a zero numerator or denominator) moves no frame.
static int IsUsableFrameRate(double rate)
{
    return isfinite(rate) && rate > 0.0;
}

// The frame showing `micro` microseconds into the movie, truncated, kept within 0..count - 1: past the end it
// wraps when looping, else stays on the last frame.
static int FrameAtTime(LONGLONG micro, double rate, int count, int loop)
{
    double frame = trunc((double)micro * rate / 1000000.0);
    if (frame < 0.0) {
        frame = 0.0;
    }
    if (frame >= count) {
        frame = loop ? fmod(frame, count) : count - 1;
    }
    return DoubleToInt(frame);
}

LONGLONG MovieRestartTime(const MovieRecord *record)
{
    const LONGLONG now = GetMovieServices()->now(0);
    MovieInfo info;
    if (record->decoder == NULL || GetTheoraMovieInfo(record->decoder, &info) != 0 ||
        !IsUsableFrameRate(info.frameRate)) {
        return now;
    }
    // Bounded so that a tiny rate cannot push the conversion out of the 64-bit range.
    double shown = trunc(1000000.0 / info.frameRate * GetTheoraFrameNumber(record->decoder));
    return now - (LONGLONG)fmin(shown, 4.0e18);
}

static void MoveTheoraFrame(MovieRecord *record)
{
    MovieTheoraDecoder *decoder = record->decoder;
    MovieInfo info;
    GetTheoraMovieInfo(decoder, &info);
    if (info.frameCount < 1 || !IsUsableFrameRate(info.frameRate)) {
        return;
    }
    const int loop = (record->playType & MOVIE_PLAY_LOOP_BIT) != 0, sound = record->linkedSound != -1;
    const LONGLONG micro = sound ? (LONGLONG)GetMovieServices()->soundPosition(record->linkedSound) * 1000
                                 : GetMovieServices()->now(0) - record->startTime;
    const int wanted = FrameAtTime(micro, info.frameRate, info.frameCount, loop && !sound);
    const int current = GetTheoraFrameNumber(decoder);
    if (wanted != current) {
        // Behind the current frame (a restarted sound) means forward through the end and on from the start.
        SeekTheoraFrame(decoder, wanted > current ? wanted - current : info.frameCount - current + wanted);
    } else if (wanted == info.frameCount - 1 && !loop && !sound) {
        record->playing = 0;
        record->paused = 1;
    }
}

static void HandOnReceivedFrame(MovieRecord *record)
{
    MovieFrameReceiver *receiver = record->receiver;
    if (receiver == NULL || InterlockedExchange(&receiver->newFrame, 0) == 0 || record->frameCallback == NULL) {
        return;
    }
    record->frameImage.width = receiver->width;
    record->frameImage.height = receiver->height;
    record->frameImage.pitch = receiver->pitch;
    record->frameImage.pixels = receiver->buffer;
    record->pixelsNotOwned = 1;
    SetRGB24PixelFormat(&record->frameImage.format);
    record->frameImagePointer = &record->frameImage;
    record->frameCallback(record, record->callbackUserValue);
}

static void FollowGraphPosition(MovieRecord *record)
{
    IMediaSeeking *seeking = (IMediaSeeking *)record->references[MOVIE_REF_MEDIA_SEEKING];
    IMediaControl *control = (IMediaControl *)record->references[MOVIE_REF_MEDIA_CONTROL];
    LONGLONG position = 0;
    if (seeking == NULL || control == NULL || FAILED(seeking->GetCurrentPosition(&position)) ||
        position < record->stopPosition) {
        return;
    }
    if (record->playType & MOVIE_PLAY_LOOP_BIT) {
        LONGLONG start = 0, stop = 0;
        seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop, AM_SEEKING_NoPositioning);
        control->Run();
    } else {
        record->playing = 0;
        record->paused = 1;
    }
}

int UpdateMovieRecord(MovieRecord *record)
{
    if (!record->theora) {
        HandOnReceivedFrame(record);
        FollowGraphPosition(record);
        return 0;
    }
    if (record->paused == 0 && record->decoder != NULL) {
        MoveTheoraFrame(record);
    }
    if (record->frameCallback != NULL) {
        record->frameCallback(record, record->callbackUserValue);
        record->frameReady = 1;
    }
    return 0;
}

int UpdateMovie(EngineHandle movie, unsigned int unused)
{
    MovieRecord *record = FindMovie(movie);
    return record != NULL ? UpdateMovieRecord(record) : -1;
}
