// Frame timing and update on both sides, with the clock and the sound position set by the test: the Theora side
// against a reference written from the rule over worked and random movies, the media-graph side's frame
// hand-over and end of stream.
#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "movie_fakes.h"

namespace
{

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

TEST(TheoraFrames, WorkedCasesAndRandomMoviesFollowTheRule)
{
    const struct {
        TheoraCase movie;
        int expected;
    } worked[] = {
        {{100, 0, 25, 1, 1, -1, 0, 0, 0, 1000000}, 25},
        {{100, 0, 25, 1, 1, -1, 0, 0, 0, 39999}, 0},
        {{100, 3, 10, 1, 3, -1, 0, 0, 0, 12000000}, 20}, // looped once
        {{100, 50, 10, 1, 1, 9, 1000, 0, 0, 0}, 10},     // a restarted sound: forward through the end
        {{100, 99, 10, 1, 1, -1, 0, 0, 0, 50000000}, -1},
        {{100, 99, 10, 1, 1, 9, 50000, 0, 0, 0}, 99}, // with a linked sound the last frame stays shown
        {{100, 99, 10, 1, 3, -1, 0, 0, 0, 9900000}, 99},
        {{100, 5, 25, 1, 1, -1, 0, 1, 0, 1000000}, 5},
        {{0, 0, 25, 1, 3, -1, 0, 0, 0, 1000000}, 0}, // no frames to wrap by
        {{100, 5, 25, 0, 1, -1, 0, 0, 0, 1000000}, 5},
        {{100, 5, 0, 1, 1, -1, 0, 0, 0, 1000000}, 5},
    };
    for (const auto &w : worked) {
        ASSERT_EQ(ReferenceFrame(w.movie), w.expected);
        CheckUpdate(w.movie, w.expected);
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

} // namespace
