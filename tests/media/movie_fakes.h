// Stand-ins for what a movie holds and calls: COM references whose calls, the clock and the sound calls write into
// one shared order log. One vtable serves every fake interface: the slots of Release, UpdateOverlay, Run, Pause,
// GetCurrentPosition and SetPositions do not collide; any other slot aborts. Test thread only.
#pragma once

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "media/media_test_hooks.h"

struct FakeReference {
    void **vtable;
    int id;
};

// Installs the seams while it lives; the overlay's destination surface is only compared, so the world stands for
// it. The log holds the calls in order, each followed by a space.
struct FakeWorld {
    std::string log;
    LONGLONG now = 0, graphPosition = 0;
    int soundPosition = 0;      // milliseconds
    HANDLE watchedEvent = NULL; // "event" goes into the log once it is found closed
    FakeReference references[MOVIE_REFERENCE_COUNT];
    FakeWorld();
    ~FakeWorld();
    MovieRecord *Place(int slot); // a record holding references 1 to 13
};

inline FakeWorld *g_FakeWorld;

inline void FakeLog(const char *format, ...)
{
    char text[200];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    g_FakeWorld->log += std::string(text) + " ";
}

inline MovieTheoraDecoder *NewFakeDecoder(int count, int frame, unsigned numerator, unsigned denominator)
{
    MovieTheoraDecoder *decoder = (MovieTheoraDecoder *)ENGINE_ALLOC_ZEROED(sizeof(MovieTheoraDecoder));
    decoder->frameCount = count;
    decoder->frameNumber = frame;
    decoder->info.fps_numerator = numerator;
    decoder->info.fps_denominator = denominator;
    return decoder;
}

// The vtable slot of a virtual member (the compiler's member pointer holds its byte offset plus one).
template <typename M> int SlotOf(M member)
{
    intptr_t raw[2];
    memcpy(raw, &member, sizeof(raw));
    return (int)((raw[0] - 1) / sizeof(void *));
}

inline ULONG STDMETHODCALLTYPE FakeRelease(FakeReference *self)
{
    DWORD flags;
    if (g_FakeWorld->watchedEvent != NULL && !GetHandleInformation(g_FakeWorld->watchedEvent, &flags)) {
        FakeLog("event");
        g_FakeWorld->watchedEvent = NULL;
    }
    FakeLog("%d", self->id);
    return 0;
}

inline HRESULT STDMETHODCALLTYPE FakeUpdateOverlay(FakeReference *self, RECT *s, void *target, RECT *d, DWORD flags,
                                                   void *effects)
{
    const bool hide = flags == DDOVER_HIDE && s == NULL && d == NULL;
    if (target != (void *)g_FakeWorld || effects != NULL || (!hide && (flags != DDOVER_SHOW || !s || !d))) {
        FakeLog("bad-overlay-call");
    } else if (hide) {
        FakeLog("%d:hide", self->id);
    } else {
        FakeLog("%d:show:%ld,%ld,%ld,%ld>%ld,%ld,%ld,%ld", self->id, s->left, s->top, s->right, s->bottom, d->left,
                d->top, d->right, d->bottom);
    }
    return S_OK;
}

template <const char *Name> HRESULT STDMETHODCALLTYPE LogCall(FakeReference *)
{
    FakeLog(Name);
    return S_OK;
}
inline constexpr char s_Run[] = "run", s_Pause[] = "pause";

inline HRESULT STDMETHODCALLTYPE FakeGetCurrentPosition(FakeReference *, LONGLONG *position)
{
    *position = g_FakeWorld->graphPosition;
    return S_OK;
}

inline HRESULT STDMETHODCALLTYPE FakeSetPositions(FakeReference *, LONGLONG *current, DWORD currentFlags,
                                                  LONGLONG *stop, DWORD stopFlags)
{
    FakeLog("seek:%lld/%lu,%lld/%lu", *current, currentFlags, *stop, stopFlags);
    return S_OK;
}

inline void **FakeVtable(void)
{
    static void *table[64];
    if (table[0] == NULL) {
        for (void *&entry : table) {
            entry = (void *)abort;
        }
        table[SlotOf(&IUnknown::Release)] = (void *)FakeRelease;
        table[SlotOf(&IDirectDrawSurface7::UpdateOverlay)] = (void *)FakeUpdateOverlay;
        table[SlotOf(&IMediaControl::Run)] = (void *)LogCall<s_Run>;
        table[SlotOf(&IMediaControl::Pause)] = (void *)LogCall<s_Pause>;
        table[SlotOf(&IMediaSeeking::GetCurrentPosition)] = (void *)FakeGetCurrentPosition;
        table[SlotOf(&IMediaSeeking::SetPositions)] = (void *)FakeSetPositions;
    }
    return table;
}

inline const MovieServices s_FakeServices = {
    [](int) { return g_FakeWorld->now; },
    [](EngineHandle) { return g_FakeWorld->soundPosition; },
    [](EngineHandle sound) { return FakeLog("stop-sound:%d", sound), 0; },
    [](EngineHandle sound, int type, int top) { return FakeLog("play-sound:%d/%d/%d", sound, type, top), 0; },
    [](EngineHandle sound, int flag) { return FakeLog("delete-sound:%d/%d", sound, flag), 0; },
};

inline FakeWorld::FakeWorld()
{
    for (int i = 0; i < MOVIE_REFERENCE_COUNT; i++) {
        references[i] = {FakeVtable(), i + 1};
    }
    g_FakeWorld = this;
    SetMovieServicesForTest(&s_FakeServices);
    SetMovieOverlayPlatformForTest((IDirectDrawSurface7 *)(void *)this, NULL);
}

inline FakeWorld::~FakeWorld()
{
    SetMovieServicesForTest(NULL);
    SetMovieOverlayPlatformForTest(NULL, NULL);
    g_FakeWorld = NULL;
}

inline MovieRecord *FakeWorld::Place(int slot)
{
    MovieRecord *record = PlaceMovieRecordForTest(slot);
    for (int i = 0; i < MOVIE_REFERENCE_COUNT; i++) {
        record->references[i] = (IUnknown *)(void *)&references[i];
    }
    return record;
}
