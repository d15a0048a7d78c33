// Stand-ins for what a movie holds and calls: COM references whose calls, the clock and the sound calls write into
// one shared order log. Test thread only.
#pragma once

#include <string>

#include "media/media_test_hooks.h"

struct FakeReference {
    void **vtable;
    int id;
};

// Installs the seams while it lives. The log holds the calls in order, each followed by a space.
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

extern FakeWorld *g_FakeWorld;
void FakeLog(const char *format, ...);
