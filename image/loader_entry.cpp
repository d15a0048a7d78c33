// Image loading entries of the graphics core: a picture from a file (through the file-function table) or from a
// memory image, optionally mirrored or handed out as a DIB, and the separate alpha picture that may go with it.
// The stream is closed on every path and nothing decoded outlives a failure. Runs on the loading thread.
#include "image/loader_internal.h"

#include "font/font.h"

#include <string.h>

#define ALPHA_FILE_NAME_LIMIT 1024

static int OpenImageStream(const char *fileName, const void *memory, int memorySize, int memoryFlag, StreamRef *stream)
{
    if (memoryFlag) {
        if (memory == NULL || memorySize < 0) {
            return -1;
        }
        return OpenMemoryStreamRef(memory, (unsigned int)memorySize, stream);
    }
    if (fileName == NULL) {
        return -1;
    }
    stream->functions = *GetFileStreamFunctions();
    stream->handle = FileOpenThunk(fileName, 0, 0, 0);
    return stream->handle == 0 ? -1 : 0;
}

// Hands the decoded picture out as DIB header and pixels: the picture's own block when it can serve as DIB rows,
// else a converted copy, in which case the picture's block is freed.
static int HandOutAsDib(BaseImage *image, DibHeaderBlock **dibHeader, unsigned char **dibPixels)
{
    DibHeaderBlock *header = (DibHeaderBlock *)ENGINE_ALLOC(sizeof(DibHeaderBlock));
    if (header == NULL || ConvertBaseImageToNormal(image) != 0) {
        FreeMemory(header);
        return -1;
    }
    unsigned char *pixels = NULL;
    int copied = BaseImageToDib(image, header, &pixels, 0, 0);
    if (copied < 0) {
        FreeMemory(header);
        return -1;
    }
    if (copied == 1) {
        FreeBaseImageData(image);
    }
    *dibHeader = header;
    *dibPixels = pixels;
    return 0;
}

int LoadBaseImage(const char *fileName, const void *memory, int memorySize, int memoryFlag, int dibFlag, int mirrorFlag,
                  BaseImage *image, DibHeaderBlock **dibHeader, unsigned char **dibPixels)
{
    StreamRef stream;
    BaseImage decoded;
    memset(&decoded, 0, sizeof(decoded));
    if (OpenImageStream(fileName, memory, memorySize, memoryFlag, &stream) != 0) {
        return -1;
    }
    int result = DecodeImageStream(&stream, &decoded);
    stream.functions.close(stream.handle);
    if (result == 0 && mirrorFlag == 1 &&
        (ConvertBaseImageToNormal(&decoded) != 0 || TransformBaseImageInPlace(&decoded) != 0)) {
        result = -1;
    }
    if (result == 0 && !dibFlag) {
        *image = decoded;
        return 0;
    }
    // Handed out as a DIB, the pixels belong to the DIB (or were freed when it made its own copy).
    if (result == 0 && dibHeader != NULL && dibPixels != NULL && HandOutAsDib(&decoded, dibHeader, dibPixels) == 0) {
        return 0;
    }
    FreeBaseImageData(&decoded);
    return -1;
}

int LoadBaseImageNoAlpha(const char *fileName, const void *memory, int memorySize, int memoryFlag, BaseImage *image,
                         int mirrorFlag)
{
    return LoadBaseImage(fileName, memory, memorySize, memoryFlag, 0, mirrorFlag, image, NULL, NULL);
}

int LoadImageToBaseImage(const char *fileName, const void *memory, int memorySize, int memoryFlag,
                         const void *alphaMemory, int alphaMemorySize, int alphaMode, BaseImage *image,
                         BaseImage *alphaImage, int mirrorFlag)
{
    if (LoadBaseImageNoAlpha(fileName, memory, memorySize, memoryFlag, image, mirrorFlag) != 0) {
        return -1;
    }
    if (alphaMode == 0 && fileName != NULL && strlen(fileName) + 3 <= ALPHA_FILE_NAME_LIMIT) {
        char alphaName[ALPHA_FILE_NAME_LIMIT];
        MakeAlphaImageFileName(fileName, alphaName);
        return LoadBaseImageNoAlpha(alphaName, NULL, 0, 0, alphaImage, mirrorFlag) == 0 ? 0 : 1;
    }
    if (alphaMode == 1) {
        return LoadBaseImageNoAlpha(NULL, alphaMemory, alphaMemorySize, 1, alphaImage, mirrorFlag) == 0 ? 0 : 1;
    }
    return 1;
}

int MakeAlphaImageFileName(const char *source, char *destination)
{
    CharSetId charSet = GetEngineCharSet();
    int lastDot = -1;
    int length = 0;
    while (source[length] != '\0') {
        if (IsMultiByteLeadByte(source + length, charSet) && source[length + 1] != '\0') {
            length += 2;
            continue;
        }
        if (source[length] == '.') {
            lastDot = length;
        }
        length++;
    }
    int stem = lastDot < 0 ? length : lastDot;
    memcpy(destination, source, (size_t)stem);
    memcpy(destination + stem, "_a", 2);
    memcpy(destination + stem + 2, source + stem, (size_t)(length - stem) + 1);
    return 0;
}
