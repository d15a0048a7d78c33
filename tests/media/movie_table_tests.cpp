// The movie table on records placed by the test: the close with its ordered releases, the pause and resume state
// machine on both sides, and the stale-handle check; frame timing and update on both sides with the clock and the
// sound position set by the test (the Theora side against a reference written from the rule over chosen and random
// movies, the media-graph side's frame hand-over and end of stream); the Theora decoder's release; the colour
// tables' layout. No window is needed.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

#include "movie_fakes.h"

namespace
{

TEST(CloseMovie, ReleasesInOrderAndLeavesOnlyRefusedHandles)
{
    const int blocks = GetAllocationCount();
    for (int borrowed : {0, 1}) {
        FakeWorld world;
        MovieRecord *record = world.Place(7);
        const EngineHandle handle = record->header.handle;
        for (const char *path : {"movie.ogv", "temporary.bin"}) {
            fclose(fopen(path, "wb"));
        }
        record->theora = 1;
        record->file = FileOpenThunk("movie.ogv", 0, 0, 0);
        record->decoder = NewFakeDecoder(10, 0, 25, 1);
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
            record->decoder = NewFakeDecoder(100, 40, c.rateNumerator, 1);
            record->linkedSound = 77;
            world.soundPosition = 4000;
            world.now = 10000000;
        }
        for (int i = 0; i < 2; i++) {
            EXPECT_EQ(c.keepPlaying < 0 ? PauseAllMovies() : PauseMovie(record->header.handle, c.keepPlaying), 0);
        }
        EXPECT_EQ(ResumeAllMovies(), 0);
        EXPECT_EQ(world.log, c.log);
        EXPECT_EQ(std::make_tuple(record->paused, record->playing, record->playType, record->startTime),
                  std::make_tuple(c.paused, c.playing, c.playType, c.startTime))
            << c.log;
        EXPECT_EQ(record->decoder != NULL ? record->decoder->frameNumber : 40, 40);
        EXPECT_EQ(CloseMovie(record->header.handle), 0);
    }
    EXPECT_EQ(GetAllocationCount(), 0);
}

int s_Callbacks;

void CountCallback(MovieRecord *, unsigned int userValue)
{
    s_Callbacks += userValue;
}

struct TheoraCase {
    int count, current;
    unsigned numerator, denominator;
    int playType, sound, soundMs, paused;
    LONGLONG start, now;
};

// The rule in exact integers: frame = t x numerator / denominator / 1,000,000 truncated, t from the sound's
// milliseconds x 1000 else the clock; past the end it wraps when looping without a sound, else it is the last
// frame. No frame moves while paused, without frames or without a rate. -1 for "ends" on the last frame.
int ReferenceFrame(const TheoraCase &c)
{
    if (c.paused || c.count < 1 || c.numerator == 0 || c.denominator == 0) {
        return c.current;
    }
    const LONGLONG t = c.sound != -1 ? c.soundMs * 1000LL : c.now - c.start;
    LONGLONG frame = t * c.numerator / (c.denominator * 1000000LL);
    if (frame >= c.count) {
        frame = c.playType == 3 && c.sound == -1 ? frame % c.count : c.count - 1;
    }
    return frame == c.current && frame == c.count - 1 && c.playType == 1 && c.sound == -1 ? -1 : (int)frame;
}

// The decoded-picture word is cleared exactly when the frame moves; an end stops and pauses the movie.
void CheckUpdate(const TheoraCase &c, int expected)
{
    FakeWorld world;
    MovieRecord *record = world.Place(1);
    MovieTheoraDecoder *decoder = record->decoder = NewFakeDecoder(c.count, c.current, c.numerator, c.denominator);
    decoder->decodedPicture[0] = 7;
    memset(record->references, 0, sizeof(record->references));
    record->theora = record->playing = record->callbackUserValue = 1;
    record->playType = c.playType;
    record->startTime = c.start;
    record->linkedSound = c.sound;
    record->paused = c.paused;
    record->frameCallback = CountCallback;
    world.now = c.now;
    world.soundPosition = c.soundMs;
    s_Callbacks = 0;
    ASSERT_EQ(UpdateMovie(record->header.handle, 0), 0);
    const int frame = expected < 0 ? c.current : expected;
    EXPECT_EQ(std::make_tuple(decoder->frameNumber, decoder->decodedPicture[0], record->paused, record->playing,
                              s_Callbacks, record->frameReady),
              std::make_tuple(frame, frame == c.current ? 7 : 0, expected < 0 || c.paused, expected >= 0, 1, 1))
        << c.count << " frames on " << c.current << " at " << c.numerator << "/" << c.denominator << " type "
        << c.playType << " sound " << c.soundMs << " clock " << c.now - c.start << " paused " << c.paused;
    EXPECT_EQ(CloseMovie(record->header.handle), 0);
}

TEST(TheoraFrames, ChosenAndRandomMoviesFollowTheRule)
{
    const TheoraCase chosen[] = {
        {100, 0, 25, 1, 1, -1, 0, 0, 0, 1000000},   {100, 0, 25, 1, 1, -1, 0, 0, 0, 39999},
        {100, 3, 10, 1, 3, -1, 0, 0, 0, 12000000},  // looped once
        {100, 50, 10, 1, 1, 9, 1000, 0, 0, 0},      // a restarted sound: forward through the end
        {100, 99, 10, 1, 1, -1, 0, 0, 0, 50000000}, // ends
        {100, 99, 10, 1, 1, 9, 50000, 0, 0, 0},     // with a linked sound the last frame stays shown
        {100, 99, 10, 1, 3, -1, 0, 0, 0, 9900000},  {100, 5, 25, 1, 1, -1, 0, 1, 0, 1000000},
        {0, 0, 25, 1, 3, -1, 0, 0, 0, 1000000}, // no frames to wrap by
        {100, 5, 25, 0, 1, -1, 0, 0, 0, 1000000},   {100, 5, 0, 1, 1, -1, 0, 0, 0, 1000000},
    };
    for (const TheoraCase &c : chosen) {
        CheckUpdate(c, ReferenceFrame(c));
    }
    std::mt19937 random(18);
    for (int round = 0; round < 2000 && !HasFailure(); round++) {
        TheoraCase c = {1 + (int)(random() % 300), 0,
                        1 + random() % 60,         1u << (random() % 4),
                        random() % 2 ? 3 : 1,      random() % 2 ? 4 : -1,
                        (int)(random() % 400000),  0,
                        random() % 1000000,        0};
        c.current = random() % c.count;
        c.now = c.start + random() % 400000000;
        CheckUpdate(c, ReferenceFrame(c));
    }
    EXPECT_EQ(GetAllocationCount(), 0);
}

TEST(TheoraFrames, SeekMovesForwardOnlyAndWrapsOnce)
{
    const int cases[][3] = {{10, 0, 10}, {10, -1, 10}, {10, 5, 15}, {10, 90, 0}, {99, 100, 99}}; // on, advance, to
    for (const auto &c : cases) {
        MovieTheoraDecoder decoder = {};
        decoder.frameCount = 100;
        decoder.frameNumber = c[0];
        decoder.decodedPicture[0] = decoder.decodedPicture[1] = 7;
        EXPECT_EQ(SeekTheoraFrame(&decoder, c[1]), 0);
        EXPECT_EQ(GetTheoraFrameNumber(&decoder), c[2]) << c[1];
        EXPECT_EQ(decoder.decodedPicture[0] + decoder.decodedPicture[1], c[1] < 1 ? 14 : 0) << c[1];
    }
}

TEST(GraphFrames, HandOverTheReceiverFrameAndLoopOrStopAtTheEnd)
{
    const struct {
        int newFrame, callback, seeking, playType;
        LONGLONG position;
        const char *log;
        int stopped;
    } cases[] = {
        {1, 1, 1, 1, 10, "", 0},  {1, 0, 1, 1, 10, "", 0},
        {0, 1, 1, 1, 10, "", 0},  {0, 1, 1, 3, 100, "seek:0/1,0/0 run ", 0},
        {0, 1, 1, 1, 100, "", 1}, {0, 1, 0, 1, 100, "", 0},
    };
    for (const auto &c : cases) {
        FakeWorld world;
        MovieRecord *record = world.Place(2);
        unsigned char buffer[48];
        MovieFrameReceiver receiver = {c.newFrame, buffer, 4, 3, 16};
        record->playType = c.playType;
        record->references[MOVIE_REF_MEDIA_SEEKING] = c.seeking ? record->references[MOVIE_REF_MEDIA_SEEKING] : NULL;
        record->receiver = &receiver;
        record->playing = record->callbackUserValue = 1;
        record->stopPosition = 100;
        record->frameCallback = c.callback ? CountCallback : NULL;
        world.graphPosition = c.position;
        s_Callbacks = 0;
        EXPECT_EQ(UpdateMovie(record->header.handle, 0), 0);
        const BaseImage &image = record->frameImage;
        const int handed = c.newFrame && c.callback;
        const bool pointsAtBuffer = record->frameImagePointer == &image && image.pixels == buffer;
        EXPECT_EQ(std::make_tuple(world.log, receiver.newFrame, s_Callbacks, pointsAtBuffer && record->pixelsNotOwned,
                                  image.width * 1000 + image.height * 100 + image.pitch + image.format.bitsPerPixel,
                                  record->playing + record->paused * 10),
                  std::make_tuple(std::string(c.log), 0, handed, handed, handed * 4340, c.stopped ? 10 : 1))
            << "row " << &c - cases;
        EXPECT_EQ(CloseMovie(record->header.handle), 0);
    }
    EXPECT_EQ(GetAllocationCount(), 0);
}

MovieTheoraDecoder *s_Closing;
const char *s_Seen;

// libtheora's legacy info clear calls the clear entry at the front of the info's setup block, then frees it: by
// then the stream, decoder state and comment clears have run and the sync clear has not.
void SeeClearsSoFar(void *)
{
    const MovieTheoraDecoder *d = s_Closing;
    const bool before = d->stream.serialno == 0 && d->state.granulepos == 0 && d->comment.vendor == NULL;
    s_Seen = before && d->info.width == 0 && d->sync.fill == 3 ? "in order" : "out of order";
}

TEST(TheoraDecoder, CloseClearsTheLibraryStatesInOrder)
{
    MovieTheoraDecoder *decoder = s_Closing = (MovieTheoraDecoder *)ENGINE_ALLOC_ZEROED(sizeof(MovieTheoraDecoder));
    decoder->stream.serialno = 5;
    decoder->state.granulepos = 6;
    decoder->comment.vendor = (char *)malloc(8);
    decoder->info.width = 16;
    decoder->sync.fill = 3;
    void **setup = (void **)calloc(8, sizeof(void *));
    setup[0] = (void *)SeeClearsSoFar;
    decoder->info.codec_setup = setup;
    EXPECT_EQ(CloseTheoraDecoder(decoder), 0);
    EXPECT_STREQ(s_Seen, "in order");
    EXPECT_EQ(GetAllocationCount(), 0);
}

DWORD WINAPI EndOnRequest(LPVOID parameter)
{
    MovieTheoraDecoder *decoder = (MovieTheoraDecoder *)parameter;
    while (InterlockedCompareExchange(&decoder->stopRequest, 0, 0) == 0) {
        Sleep(1);
    }
    Sleep(50);
    FakeLog("thread-ended");
    InterlockedExchange(&decoder->threadState, MOVIE_THEORA_THREAD_ENDED); // the last touch of the decoder
    return 0;
}

TEST(TheoraDecoder, CloseWaitsForItsThreadThenFreesEverything)
{
    FakeWorld world;
    MovieTheoraDecoder *decoder = (MovieTheoraDecoder *)ENGINE_ALLOC_ZEROED(sizeof(MovieTheoraDecoder));
    decoder->pageCount = 2;
    decoder->pageTable = (MoviePageEntry *)ENGINE_ALLOC_ZEROED(2 * sizeof(MoviePageEntry));
    for (void **block : {&decoder->pageTable[0].blocks[0], &decoder->pageTable[1].blocks[2], &decoder->workBuffers[0],
                         &decoder->workBuffers[1]}) {
        *block = ENGINE_ALLOC(10);
    }
    ASSERT_EQ(NewXRGB8BaseImage(4, 4, &decoder->frame), 0);
    decoder->auxiliary = (IUnknown *)(void *)&world.references[0];
    decoder->thread = CreateThread(NULL, 0, EndOnRequest, decoder, 0, NULL);
    HANDLE thread;
    DuplicateHandle(GetCurrentProcess(), decoder->thread, GetCurrentProcess(), &thread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    const HANDLE original = decoder->thread;
    EXPECT_EQ(CloseTheoraDecoder(decoder), 0);
    EXPECT_EQ(world.log, "thread-ended 1 ") << "the thread ends before the auxiliary reference is released";
    DWORD flags;
    EXPECT_FALSE(GetHandleInformation(original, &flags)) << "the thread handle is still open";
    EXPECT_EQ(GetAllocationCount(), 0);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
}

TEST(YuvTables, LieBackToBackRebuildTheSameAndEverySumFitsTheClamp)
{
    ASSERT_EQ(InitYuvToRgbTables(), 0);
    const YuvToRgbTables *t = GetYuvToRgbTables();
    const int *first = t->crToRed;
    EXPECT_EQ(t->cbToGreen - first + t->crToGreen - first + t->cbToBlue - first + t->luma - first, 256 * 10);
    YuvToRgbTables copy;
    memcpy(&copy, t, sizeof(copy));
    ASSERT_EQ(InitYuvToRgbTables(), 0);
    EXPECT_EQ(memcmp(&copy, t, sizeof(copy)), 0);
    int lowest = 0, highest = 0;
    for (int yuv = 0; yuv < 1 << 24; yuv++) {
        const int y = t->luma[yuv >> 16], u = (yuv >> 8) & 255, v = yuv & 255;
        for (int sum : {y + t->crToRed[v], y + t->cbToGreen[u] + t->crToGreen[v], y + t->cbToBlue[u]}) {
            lowest = std::min(lowest, sum >> 14);
            highest = std::max(highest, sum >> 14);
        }
    }
    EXPECT_GE(lowest, -512);
    EXPECT_LE(highest, 767);
}

} // namespace
