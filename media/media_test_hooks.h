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
