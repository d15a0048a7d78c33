// Restore sources and graphs from image files in memory and in the executable's resources. A restore source says
// where a graph's pixels can be found again after device loss (a full path, a copy of the file bytes or a copy of
// the decoded picture) and is shared by reference count, as by the cells of one sheet; a graph shares only the
// existing source of a live graph. Window thread only.
#include "graphics/graphics_internal.h"

#include <string.h>

// The source of the graph in shareFrom's slot (its check number is not compared), or null: an empty slot or a graph
// without a source offers nothing to share.
static GraphRestoreSource *FindShareableSource(int shareFrom)
{
    if (shareFrom < 0 || (shareFrom & HANDLE_TYPE_BITS) != HANDLE_TYPE_GRAPH) {
        return NULL;
    }
    GraphRecord *record = GetGraphSlotRecord(shareFrom & HANDLE_INDEX_MASK);
    return record != NULL ? record->restoreSource : NULL;
}

// A GDI bitmap described as a picture over its own bits, which it must expose (a DIB section); rows padded to 4.
static int DescribeBitmap(HBITMAP bitmap, const PixelFormat *format, BaseImage *image)
{
    BITMAP info;
    if (format == NULL || GetObjectA(bitmap, sizeof(info), &info) != sizeof(info) || info.bmBits == NULL) {
        return -1;
    }
    memset(image, 0, sizeof(*image));
    image->format = *format;
    image->width = info.bmWidth;
    image->height = info.bmHeight < 0 ? -info.bmHeight : info.bmHeight;
    image->pitch = (info.bmWidth * format->bytesPerPixel + 3) / 4 * 4;
    image->pixels = (unsigned char *)info.bmBits;
    return 0;
}

static GraphRestoreSource *NewRestoreSource(size_t tail, int reverse)
{
    GraphRestoreSource *source = (GraphRestoreSource *)ENGINE_ALLOC_ZEROED(sizeof(GraphRestoreSource) + tail);
    if (source != NULL) {
        source->reverse = (uint32_t)reverse;
        source->referenceCount = 1;
    }
    return source;
}

static GraphRestoreSource *KeepPath(const char *path, int reverse)
{
    size_t room = strlen(path) + MAX_PATH + 2; // the base directory and a separator at most
    GraphRestoreSource *source = NewRestoreSource(room, reverse);
    if (source == NULL || BuildFullPath(path, (char *)(source + 1), room, NULL) != 0) {
        FreeMemory(source);
        AddLog("転送する画像ファイルのファイル名を保存するメモリ領域の確保に失敗しました\n");
        return NULL;
    }
    source->path = (char *)(source + 1);
    return source;
}

static GraphRestoreSource *KeepFileBytes(const void *memory, int size, const void *alphaMemory, int alphaSize,
                                         int reverse)
{
    size_t alphaBytes = alphaMemory != NULL && alphaSize > 0 ? (size_t)alphaSize : 0;
    GraphRestoreSource *source = size < 0 ? NULL : NewRestoreSource((size_t)size + alphaBytes, reverse);
    if (source == NULL) {
        AddLog("転送する画像データを保存するメモリ領域の確保に失敗しました\n");
        return NULL;
    }
    unsigned char *tail = (unsigned char *)(source + 1);
    source->memImage = tail;
    source->memImageSize = (uint32_t)size;
    memcpy(tail, memory, (size_t)size);
    if (alphaBytes > 0) {
        source->alphaMemImage = tail + size;
        source->alphaMemImageSize = (uint32_t)alphaBytes;
        memcpy(tail + size, alphaMemory, alphaBytes);
    }
    return source;
}

static size_t PictureBytes(const BaseImage *image)
{
    return image != NULL ? sizeof(BaseImage) + (size_t)GetBaseImageDataSize(image) : 0;
}

// Copies the picture record and its pixels to `at`; returns the copy and moves `at` past it.
static BaseImage *CopyPicture(const BaseImage *image, unsigned char **at)
{
    BaseImage *copy = (BaseImage *)*at;
    size_t size = (size_t)GetBaseImageDataSize(image);
    *copy = *image;
    copy->pixels = *at + sizeof(BaseImage);
    memcpy(copy->pixels, image->pixels, size);
    *at += sizeof(BaseImage) + size;
    return copy;
}

static GraphRestoreSource *KeepPictures(const BaseImage *image, const BaseImage *alphaImage, int reverse)
{
    GraphRestoreSource *source = NewRestoreSource(PictureBytes(image) + PictureBytes(alphaImage), reverse);
    if (source == NULL) {
        AddLog("転送する基本イメージを保存するメモリ領域の確保に失敗しました\n");
        return NULL;
    }
    unsigned char *at = (unsigned char *)(source + 1);
    source->image = CopyPicture(image, &at);
    source->alphaImage = alphaImage != NULL ? CopyPicture(alphaImage, &at) : NULL;
    return source;
}

int SetGraphRestoreSource(EngineHandle graph, const char *path, const PixelFormat *bitmapFormat, HBITMAP bitmap,
                          HBITMAP alphaBitmap, const void *memory, int memorySize, const void *alphaMemory,
                          int alphaMemorySize, const BaseImage *image, const BaseImage *alphaImage, int reverse,
                          int shareFrom)
{
    GraphRecord *record = GetGraphRecord(graph);
    if (record == NULL) {
        return -1;
    }
    DropGraphRestoreSource(record);
    BaseImage bitmapImage, alphaBitmapImage;
    if (bitmap != NULL) {
        if (DescribeBitmap(bitmap, bitmapFormat, &bitmapImage) != 0 ||
            (alphaBitmap != NULL && DescribeBitmap(alphaBitmap, bitmapFormat, &alphaBitmapImage) != 0)) {
            return -1;
        }
        image = &bitmapImage;
        alphaImage = alphaBitmap != NULL ? &alphaBitmapImage : NULL;
    }
    if (g_GraphCreateSettings.keepRestoreSourcesOff) {
        return 0;
    }
    // Looked up after the drop: a graph naming itself finds nothing rather than a freed source.
    GraphRestoreSource *shared = FindShareableSource(shareFrom);
    if (shared != NULL || (path == NULL && memory == NULL && image == NULL)) {
        return ShareGraphRestoreSource(record, shared);
    }
    GraphRestoreSource *source = path != NULL ? KeepPath(path, reverse)
                                 : memory != NULL
                                     ? KeepFileBytes(memory, memorySize, alphaMemory, alphaMemorySize, reverse)
                                     : KeepPictures(image, alphaImage, reverse);
    if (source == NULL) {
        return -1;
    }
    record->restoreSource = source;
    return 0;
}

int SetGraphRestorePath(EngineHandle graph, const char *path, int reverse, int shareFrom)
{
    return SetGraphRestoreSource(graph, path, NULL, NULL, NULL, NULL, 0, NULL, 0, NULL, NULL, reverse, shareFrom);
}

// ---------------------------------------------------------------------------------------------------------------
// Graphs from image files in memory.

// A picture decoded from file bytes in memory, with its alpha picture when one was given and loaded, both mirrored
// left-right with `reverse` (a block-compressed picture decoded first).
struct MemPictures {
    BaseImage image, alphaImage;
    BaseImage *alpha; // &alphaImage when it loaded, else null
};

static int LoadMemPictures(const void *memory, int size, const void *alphaMemory, int alphaSize, int reverse,
                           MemPictures *pictures)
{
    memset(pictures, 0, sizeof(*pictures));
    int loaded = LoadImageToBaseImage(NULL, memory, size, 1, alphaMemory, alphaSize, alphaMemory != NULL ? 1 : 2,
                                      &pictures->image, &pictures->alphaImage, reverse == 1);
    pictures->alpha = loaded == 0 ? &pictures->alphaImage : NULL;
    return loaded < 0 ? -1 : 0;
}

static void FreeMemPictures(MemPictures *pictures)
{
    FreeBaseImageData(&pictures->image);
    FreeBaseImageData(&pictures->alphaImage);
}

// The graph keeps the file bytes (and the alpha file bytes when they gave a picture). A failure leaves it without
// a source and is logged by the keeping.
static void KeepMemorySource(EngineHandle graph, const void *memory, int size, const MemPictures *pictures,
                             const void *alphaMemory, int alphaSize, int reverse)
{
    const void *keptAlpha = pictures->alpha != NULL ? alphaMemory : NULL;
    SetGraphRestoreSource(graph, NULL, NULL, NULL, NULL, memory, size, keptAlpha, keptAlpha ? alphaSize : 0, NULL, NULL,
                          reverse, -1);
}

EngineHandle CreateGraphFromMemImage(const void *memory, int size, const void *alphaMemory, int alphaSize,
                                     int transparent, int reverse)
{
    MemPictures pictures;
    if (LoadMemPictures(memory, size, alphaMemory, alphaSize, reverse, &pictures) != 0) {
        return -1;
    }
    EngineHandle graph = CreateGraphFromImage(&pictures.image, pictures.alpha);
    if (graph != -1) {
        KeepMemorySource(graph, memory, size, &pictures, alphaMemory, alphaSize, reverse);
    }
    FreeMemPictures(&pictures);
    return graph;
}

int RecreateGraphFromMemImage(const void *memory, int size, EngineHandle graph, const void *alphaMemory, int alphaSize,
                              int ignored, int reverse)
{
    MemPictures pictures;
    if (LoadMemPictures(memory, size, alphaMemory, alphaSize, reverse, &pictures) != 0) {
        return -1;
    }
    int result = RecreateGraphFromImage(&pictures.image, pictures.alpha, graph);
    if (result == 0) {
        KeepMemorySource(graph, memory, size, &pictures, alphaMemory, alphaSize, reverse);
    }
    FreeMemPictures(&pictures);
    return result;
}

// The first cell keeps the file bytes; only the other cells made share them, so that an entry the cutting did not
// reach (a live handle of the caller's, perhaps) is left as it was.
int CreateDivGraphFromMemImage(const void *memory, int size, int allNum, int xNum, int yNum, int xSize, int ySize,
                               EngineHandle *handles, int transparent, int reverse, const void *alphaMemory,
                               int alphaSize)
{
    MemPictures pictures;
    if (LoadMemPictures(memory, size, alphaMemory, alphaSize, reverse, &pictures) != 0) {
        return -1;
    }
    int result = CreateDivGraphFromGraphImage(&pictures.image, pictures.alpha, allNum, xNum, yNum, xSize, ySize,
                                              handles, transparent, reverse);
    int cells = result == 0 ? CountDivGraphCells(allNum, xNum, yNum) : 0;
    if (cells > 0) {
        KeepMemorySource(handles[0], memory, size, &pictures, alphaMemory, alphaSize, reverse);
    }
    for (int k = 1; k < cells; k++) {
        SetGraphRestorePath(handles[k], NULL, reverse, handles[0]);
    }
    FreeMemPictures(&pictures);
    return result;
}

int RebuildGraphFromBaseImage(BaseImage *image, EngineHandle graph)
{
    int result = RecreateGraphFromImage(image, NULL, graph);
    if (result == 0) {
        SetGraphRestoreSource(graph, NULL, NULL, NULL, NULL, NULL, 0, NULL, 0, image, NULL, 0, -1);
    }
    return result;
}

// ---------------------------------------------------------------------------------------------------------------
// Graphs from the executable's resources (found by name or numeric id and type name).

EngineHandle LoadGraphFromResource(const char *name, const char *type)
{
    void *address;
    int size;
    if (FindResourceData(name, type, &address, &size) != 0) {
        return -1;
    }
    return CreateGraphFromMemImage(address, size, NULL, 0, 1, 0);
}

int LoadDivGraphFromResource(const char *name, const char *type, int allNum, int xNum, int yNum, int xSize, int ySize,
                             EngineHandle *handles)
{
    void *address;
    int size;
    if (FindResourceData(name, type, &address, &size) != 0) {
        return -1;
    }
    return CreateDivGraphFromMemImage(address, size, allNum, xNum, yNum, xSize, ySize, handles, 1, 0, NULL, 0);
}
