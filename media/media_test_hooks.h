// Media: what the test programs reach into besides the public contract (media.h). Programs never include it.
// A placer for movie records (no opener exists), and seams for the clock, the sound calls and the overlay
// platform that the movie side reads. Called on the thread that runs the test.
#pragma once

#include "media/movie_internal.h"

// A zeroed record with the table's next check number in a free slot (its handle in header.handle, no linked
// sound); null when the slot is taken or out of range. CloseMovie frees it.
MovieRecord *PlaceMovieRecordForTest(int slot);

// Replaces the clock and the sound calls the movie side makes; null puts the engine's own back.
void SetMovieServicesForTest(const MovieServices *services);

// The overlay's destination surface and the capability block in place of the graphics core's (which supply none
// and a zeroed block); nulls put the graphics core's back.
void SetMovieOverlayPlatformForTest(IDirectDrawSurface7 *destination, const DDCAPS_DX7 *capabilities);

// Replaces CreateThread for the asynchronous reader's worker (null puts CreateThread back), so that a refused
// thread can be tried.
typedef HANDLE(WINAPI *AsyncWorkerCreator)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                                           LPDWORD);
void SetAsyncWorkerCreatorForTest(AsyncWorkerCreator creator);

// MP3 conversion seams, all zero outside tests. idleLimit: milliseconds with neither a sample nor a graph event
// after which a run is given up (0: the 10 s). onWaitSlice: called on the window thread at each wait slice with the
// running graph (a test posts an abort through it). onSample: called on the streaming thread before each sample is
// stored. failPcmAllocation: the ordinal of the PCM block that fails (1 the first buffer, 2 the first growth...).
// onComplete: called on the window thread once EC_COMPLETE is seen, before the call waits for the stream thread to
// leave the grabber's end of stream.
struct SoundConverter;
class R_CSampleGrabber;
struct Mp3ConversionHooks {
    DWORD idleLimit;
    void (*onWaitSlice)(IGraphBuilder *graph, const SoundConverter *converter);
    void (*onSample)(void);
    LONG failPcmAllocation;
    void (*onComplete)(R_CSampleGrabber *grabber, IGraphBuilder *graph);
};
// Null takes the hooks away.
void SetMp3ConversionHooksForTest(const Mp3ConversionHooks *hooks);
// The references the last conversion's reader still had when it was deleted outright (1: only its own; 0: none made).
LONG GetMp3ReaderReferencesAtDeleteForTest(void);
