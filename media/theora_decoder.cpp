// The Theora decoder's small operations: its movie information, its frame number, moving it forward by frames,
// and its release, which stops its thread and clears the libogg and libtheora states. Opening and decoding are
// the opener's. Window thread; the decoder thread (when one runs) ends on the stop request.
#include "media/movie_internal.h"

int GetTheoraMovieInfo(const MovieTheoraDecoder *decoder, MovieInfo *info)
{
    info->frameRate = (double)(uint32_t)decoder->info.fps_numerator / (double)(uint32_t)decoder->info.fps_denominator;
    info->frameCount = (int)decoder->frameCount;
    info->width = (int)decoder->info.width;
    info->height = (int)decoder->info.height;
    return 0;
}

int GetTheoraFrameNumber(const MovieTheoraDecoder *decoder)
{
    return decoder->frameNumber;
}

int SeekTheoraFrame(MovieTheoraDecoder *decoder, int advance)
{
    if (advance < 1) {
        return 0;
    }
    LONGLONG frame = (LONGLONG)decoder->frameNumber + advance;
    if (frame >= decoder->frameCount) {
        frame -= decoder->frameCount;
    }
    decoder->frameNumber = (int)frame;
    decoder->decodedPicture[0] = 0;
    decoder->decodedPicture[1] = 0;
    return 0;
}

static void StopDecoderThread(MovieTheoraDecoder *decoder)
{
    InterlockedExchange(&decoder->stopRequest, 1);
    while (InterlockedCompareExchange(&decoder->threadState, 0, 0) != MOVIE_THEORA_THREAD_ENDED) {
        Sleep(1);
    }
    CloseHandle(decoder->thread);
    decoder->thread = NULL;
}

static void FreePageTable(MovieTheoraDecoder *decoder)
{
    for (int i = 0; i < decoder->pageCount; i++) {
        for (void *block : decoder->pageTable[i].blocks) {
            FreeMemory(block);
        }
    }
    FreeMemory(decoder->pageTable);
    decoder->pageTable = NULL;
    decoder->pageCount = 0;
}

int CloseTheoraDecoder(MovieTheoraDecoder *decoder)
{
    if (decoder->thread != NULL) {
        StopDecoderThread(decoder);
    }
    if (decoder->pageTable != NULL) {
        FreePageTable(decoder);
    }
    if (decoder->auxiliary != NULL) {
        decoder->auxiliary->Release();
        decoder->auxiliary = NULL;
    }
    for (void *&buffer : decoder->workBuffers) {
        FreeMemory(buffer);
        buffer = NULL;
    }
    FreeBaseImageData(&decoder->frame);
    ogg_stream_clear(&decoder->stream);
    theora_clear(&decoder->state);
    theora_comment_clear(&decoder->comment);
    theora_info_clear(&decoder->info);
    ogg_sync_clear(&decoder->sync);
    FreeMemory(decoder);
    return 0;
}
