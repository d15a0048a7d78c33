// The movie table on records placed by the test: the close with its ordered releases, the pause and resume state
// machine on both sides, and the stale-handle check. No window is needed.
#include <gtest/gtest.h>

#include <stdio.h>

#include "movie_fakes.h"

namespace
{

void WriteFile(const char *path)
{
    FILE *file = fopen(path, "wb");
    fputs("movie", file);
    fclose(file);
}

MovieTheoraDecoder *NewDecoder(int count, int frame, unsigned numerator, unsigned denominator)
{
    MovieTheoraDecoder *decoder = (MovieTheoraDecoder *)ENGINE_ALLOC_ZEROED(sizeof(MovieTheoraDecoder));
    decoder->frameCount = count;
    decoder->frameNumber = frame;
    decoder->info.fps_numerator = numerator;
    decoder->info.fps_denominator = denominator;
    return decoder;
}

TEST(CloseMovie, ReleasesInOrderAndLeavesOnlyRefusedHandles)
{
    const int blocks = GetAllocationCount();
    for (int borrowed : {0, 1}) {
        FakeWorld world;
        MovieRecord *record = world.Place(7);
        const EngineHandle handle = record->header.handle;
        WriteFile("movie.ogv");
        WriteFile("temporary.bin");
        record->theora = 1;
        record->file = FileOpenThunk("movie.ogv", 0, 0, 0);
        record->decoder = NewDecoder(10, 0, 25, 1);
        record->linkedSound = 5;
        record->temporaryFile = 1;
        wcscpy(record->temporaryPath, L"temporary.bin");
        record->overlay = 1;
        record->event = world.watchedEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
        unsigned char pixels[12] = {9};
        if (borrowed) {
            record->frameImage.pixels = pixels;
            record->pixelsNotOwned = 1;
        } else {
            ASSERT_EQ(NewXRGB8BaseImage(2, 2, &record->frameImage), 0);
        }
        ASSERT_EQ(CloseMovie(handle), 0);
        EXPECT_EQ(world.log, "delete-sound:5/0 2:hide 3 2 1 4 event 9 8 7 6 13 12 11 10 5 ");
        EXPECT_EQ(GetFileAttributesA("temporary.bin"), INVALID_FILE_ATTRIBUTES);
        EXPECT_TRUE(DeleteFileA("movie.ogv")) << "the movie file is still open";
        EXPECT_EQ(pixels[0], 9);
        EXPECT_EQ(GetAllocationCount(), blocks) << "borrowed " << borrowed;
        // The slot's next record has another check number: the old handle stays refused.
        const EngineHandle next = world.Place(7)->header.handle;
        EXPECT_NE(next, handle);
        EXPECT_EQ(CloseMovie(handle) + PauseMovie(handle, 1) + UpdateMovie(handle, 0), -3);
        EXPECT_EQ(DrawMovieToWindow(0, 0, 1, handle, 1), -1);
        EXPECT_EQ(CloseMovie(next), 0);
    }
    EXPECT_EQ(GetAllocationCount(), blocks);
}

// Two pauses (the second finds the movie paused and calls nothing), then a resume. A Theora movie stands on frame
// 40 at 10 frames per second with its sound at 4 s, so it resumes with its start time 4 s before now.
TEST(PauseAndResume, FollowTheStateMachineOnBothSides)
{
    const struct {
        int theora, control, keepPlaying; // keepPlaying -1: PauseAllMovies
        unsigned rateNumerator;
        const char *log;
        int paused, playing, playType;
        LONGLONG startTime;
    } cases[] = {
        {0, 1, -1, 1, "pause run ", 0, 1, 1, 0},
        {0, 1, 1, 1, "pause run ", 0, 1, 1, 0},
        {0, 1, 0, 1, "pause ", 1, 0, 0, 0},
        {0, 0, -1, 1, "", 0, 1, 0, 0},
        {1, 0, -1, 10, "stop-sound:77 play-sound:77/3/0 ", 0, 1, 3, 6000000},
        {1, 0, 0, 10, "stop-sound:77 ", 1, 0, 3, 0},
        {1, 0, 1, 0, "stop-sound:77 play-sound:77/3/0 ", 0, 1, 3, 10000000}, // a rate of 0: start at now
    };
    for (const auto &c : cases) {
        FakeWorld world;
        MovieRecord *record = world.Place(3);
        record->playing = 1;
        record->theora = c.theora;
        record->references[MOVIE_REF_MEDIA_CONTROL] = c.control ? record->references[MOVIE_REF_MEDIA_CONTROL] : NULL;
        if (c.theora) {
            record->playType = 3;
            record->decoder = NewDecoder(100, 40, c.rateNumerator, 1);
            record->linkedSound = 77;
            world.soundPosition = 4000;
            world.now = 10000000;
        }
        for (int i = 0; i < 2; i++) {
            EXPECT_EQ(c.keepPlaying < 0 ? PauseAllMovies() : PauseMovie(record->header.handle, c.keepPlaying), 0);
        }
        EXPECT_EQ(ResumeAllMovies(), 0);
        SCOPED_TRACE(c.log);
        EXPECT_EQ(world.log, c.log);
        EXPECT_EQ(record->paused, c.paused);
        EXPECT_EQ(record->playing, c.playing);
        EXPECT_EQ(record->playType, c.playType);
        EXPECT_EQ(record->startTime, c.startTime);
        EXPECT_EQ(record->decoder != NULL ? record->decoder->frameNumber : 40, 40);
        EXPECT_EQ(CloseMovie(record->header.handle), 0);
    }
    EXPECT_EQ(GetAllocationCount(), 0);
}

} // namespace
