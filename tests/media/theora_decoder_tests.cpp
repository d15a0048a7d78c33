// The decoder's release: the libogg and libtheora clears from the linked libraries in their order, the decoder
// thread stopped before anything is freed, and every owned block freed.
#include <gtest/gtest.h>

#include <stdlib.h>

#include "movie_fakes.h"

namespace
{

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
    decoder->pageTable[0].blocks[0] = ENGINE_ALLOC(10);
    decoder->pageTable[1].blocks[2] = ENGINE_ALLOC(10);
    decoder->workBuffers[0] = ENGINE_ALLOC(10);
    decoder->workBuffers[1] = ENGINE_ALLOC(10);
    ASSERT_EQ(NewXRGB8BaseImage(4, 4, &decoder->frame), 0);
    decoder->auxiliary = (IUnknown *)(void *)&world.references[0];
    decoder->thread = CreateThread(NULL, 0, EndOnRequest, decoder, 0, NULL);
    HANDLE thread;
    DuplicateHandle(GetCurrentProcess(), decoder->thread, GetCurrentProcess(), &thread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    const HANDLE original = decoder->thread;
    EXPECT_EQ(CloseTheoraDecoder(decoder), 0);
    world.log += "closed";
    EXPECT_EQ(world.log, "thread-ended 1 closed");
    DWORD flags;
    EXPECT_FALSE(GetHandleInformation(original, &flags)) << "the thread handle is still open";
    EXPECT_EQ(GetAllocationCount(), 0);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
}

} // namespace
