// The shared order log's stand-ins. One vtable serves every fake interface: the slots of Release, UpdateOverlay,
// Run, Pause, GetCurrentPosition and SetPositions do not collide; any other slot aborts.
#include "movie_fakes.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

FakeWorld *g_FakeWorld;

void FakeLog(const char *format, ...)
{
    char text[200];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    g_FakeWorld->log += std::string(text) + " ";
}

// The vtable slot of a virtual member (the compiler's member pointer holds its byte offset plus one).
template <typename M> static int SlotOf(M member)
{
    intptr_t raw[2];
    memcpy(raw, &member, sizeof(raw));
    return (int)((raw[0] - 1) / sizeof(void *));
}

static ULONG STDMETHODCALLTYPE FakeRelease(FakeReference *self)
{
    DWORD flags;
    if (g_FakeWorld->watchedEvent != NULL && !GetHandleInformation(g_FakeWorld->watchedEvent, &flags)) {
        FakeLog("event");
        g_FakeWorld->watchedEvent = NULL;
    }
    FakeLog("%d", self->id);
    return 0;
}

static HRESULT STDMETHODCALLTYPE FakeUpdateOverlay(FakeReference *self, RECT *s, IDirectDrawSurface7 *target, RECT *d,
                                                   DWORD flags, DDOVERLAYFX *effects)
{
    if (flags == DDOVER_HIDE && s == NULL && d == NULL && target == (void *)g_FakeWorld && effects == NULL) {
        FakeLog("%d:hide", self->id);
    } else if (flags == DDOVER_SHOW && s != NULL && d != NULL && target == (void *)g_FakeWorld && effects == NULL) {
        FakeLog("%d:show:%ld,%ld,%ld,%ld>%ld,%ld,%ld,%ld", self->id, s->left, s->top, s->right, s->bottom, d->left,
                d->top, d->right, d->bottom);
    } else {
        FakeLog("bad-overlay-call");
    }
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE FakeRun(FakeReference *)
{
    FakeLog("run");
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE FakePause(FakeReference *)
{
    FakeLog("pause");
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE FakeGetCurrentPosition(FakeReference *, LONGLONG *position)
{
    *position = g_FakeWorld->graphPosition;
    return S_OK;
}

static HRESULT STDMETHODCALLTYPE FakeSetPositions(FakeReference *, LONGLONG *current, DWORD currentFlags,
                                                  LONGLONG *stop, DWORD stopFlags)
{
    FakeLog("seek:%lld/%lu,%lld/%lu", *current, currentFlags, *stop, stopFlags);
    return S_OK;
}

static void **FakeVtable(void)
{
    static void *table[64];
    if (table[0] == NULL) {
        for (void *&entry : table) {
            entry = (void *)abort;
        }
        table[SlotOf(&IUnknown::Release)] = (void *)FakeRelease;
        table[SlotOf(&IDirectDrawSurface7::UpdateOverlay)] = (void *)FakeUpdateOverlay;
        table[SlotOf(&IMediaControl::Run)] = (void *)FakeRun;
        table[SlotOf(&IMediaControl::Pause)] = (void *)FakePause;
        table[SlotOf(&IMediaSeeking::GetCurrentPosition)] = (void *)FakeGetCurrentPosition;
        table[SlotOf(&IMediaSeeking::SetPositions)] = (void *)FakeSetPositions;
    }
    return table;
}

static const MovieServices s_FakeServices = {
    [](int) { return g_FakeWorld->now; },
    [](EngineHandle) { return g_FakeWorld->soundPosition; },
    [](EngineHandle sound) { return FakeLog("stop-sound:%d", sound), 0; },
    [](EngineHandle sound, int type, int top) { return FakeLog("play-sound:%d/%d/%d", sound, type, top), 0; },
    [](EngineHandle sound, int flag) { return FakeLog("delete-sound:%d/%d", sound, flag), 0; },
};

// The overlay's destination surface is only compared, so the world itself stands for it.
FakeWorld::FakeWorld()
{
    for (int i = 0; i < MOVIE_REFERENCE_COUNT; i++) {
        references[i] = {FakeVtable(), i + 1};
    }
    g_FakeWorld = this;
    SetMovieServicesForTest(&s_FakeServices);
    SetMovieOverlayPlatformForTest((IDirectDrawSurface7 *)(void *)this, NULL);
}

FakeWorld::~FakeWorld()
{
    SetMovieServicesForTest(NULL);
    SetMovieOverlayPlatformForTest(NULL, NULL);
    g_FakeWorld = NULL;
}

MovieRecord *FakeWorld::Place(int slot)
{
    MovieRecord *record = PlaceMovieRecordForTest(slot);
    for (int i = 0; i < MOVIE_REFERENCE_COUNT; i++) {
        record->references[i] = (IUnknown *)(void *)&references[i];
    }
    return record;
}
