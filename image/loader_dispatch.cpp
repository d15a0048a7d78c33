// Image loader dispatch: the user and built-in loader tables and DecodeImageStream, which hands one stream to each
// loader in turn, always from the stream's first byte, until one accepts it. Also the reading and size-checking
// helpers every loader shares. Runs on whichever thread loads an image; the user table (filled only by tests, through
// the test hooks) is written only while no image is loading.
#include "image/image_test_hooks.h"
#include "image/loader_internal.h"

#include <string.h>

#define USER_IMAGE_LOADER_LIMIT 10

static ImageLoader s_UserImageLoaders[USER_IMAGE_LOADER_LIMIT];
static int s_UserImageLoaderCount;

// Tried in this order: the formats with a sure signature first, the raw and TGA formats (which have none) late.
static const ImageLoader s_BuiltInImageLoaders[] = {
    DecodeBmpImage, DecodeJpegImage, DecodePngImage, DecodeBgraImage, DecodeTgaImage, DecodeDdsImage, NULL,
};

static int TryImageLoader(ImageLoader loader, StreamRef *stream, BaseImage *image)
{
    memset(image, 0, sizeof(*image));
    if (stream->functions.seek(stream->handle, 0, STREAM_ORIGIN_START) != 0) {
        return -1;
    }
    return loader(stream, image);
}

int DecodeImageStream(StreamRef *stream, BaseImage *image)
{
    for (int i = 0; i < s_UserImageLoaderCount; i++) {
        if (TryImageLoader(s_UserImageLoaders[i], stream, image) == 0) {
            return 0;
        }
    }
    for (int i = 0; s_BuiltInImageLoaders[i] != NULL; i++) {
        if (TryImageLoader(s_BuiltInImageLoaders[i], stream, image) == 0) {
            return 0;
        }
    }
    memset(image, 0, sizeof(*image));
    return -1;
}

int AddUserImageLoader(ImageLoader loader)
{
    if (loader == NULL || s_UserImageLoaderCount >= USER_IMAGE_LOADER_LIMIT) {
        return -1;
    }
    s_UserImageLoaders[s_UserImageLoaderCount++] = loader;
    return 0;
}

void ResetUserImageLoaders(void)
{
    memset(s_UserImageLoaders, 0, sizeof(s_UserImageLoaders));
    s_UserImageLoaderCount = 0;
}

int ReadStreamExact(StreamRef *stream, void *buffer, size_t count)
{
    if (count == 0) {
        return 0;
    }
    return stream->functions.read(buffer, 1, count, stream->handle) == count ? 0 : -1;
}

long long GetStreamSize(StreamRef *stream)
{
    int position = stream->functions.tell(stream->handle);
    if (position < 0 || stream->functions.seek(stream->handle, 0, STREAM_ORIGIN_END) != 0) {
        return -1;
    }
    int size = stream->functions.tell(stream->handle);
    if (stream->functions.seek(stream->handle, position, STREAM_ORIGIN_START) != 0 || size < 0) {
        return -1;
    }
    return size;
}

long long GetStreamRemaining(StreamRef *stream)
{
    long long size = GetStreamSize(stream);
    int position = stream->functions.tell(stream->handle);
    if (size < 0 || position < 0 || position > size) {
        return -1;
    }
    return size - position;
}

long long CheckedBlockSize(long long a, long long b, long long c)
{
    if (a <= 0 || b <= 0 || c <= 0) {
        return -1;
    }
    // Each factor is checked before the next multiplication, so no product can leave 64 bits.
    if (a > (long long)IMAGE_BLOCK_LIMIT || b > (long long)IMAGE_BLOCK_LIMIT || c > (long long)IMAGE_BLOCK_LIMIT) {
        return -1;
    }
    long long ab = a * b;
    if (ab > (long long)IMAGE_BLOCK_LIMIT) {
        return -1;
    }
    long long abc = ab * c;
    return abc > (long long)IMAGE_BLOCK_LIMIT ? -1 : abc;
}

void SetLoaderARGB8PixelFormat(PixelFormat *format)
{
    SetRGB24PixelFormat(format);
    format->bitsPerPixel = 32;
    format->bytesPerPixel = 4;
    format->alphaWidth = 8;
    format->alphaShift = 24;
    format->alphaMask = 0xFF000000;
}
