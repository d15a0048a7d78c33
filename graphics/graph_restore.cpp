// Graph device objects across a device rebuild: every live graph's textures released with the device, and the
// default restore callback that refills each graph from its restore source once they are made again. A sheet's
// cells follow each other in the table and share one source, so the pass keeps the last picture of each source
// kind (file, memory image) and decodes a sheet once for all of its cells. Window thread only.
#include "graphics/graphics_internal.h"

#include <string.h>

static int s_RestoreLoadCount;

int ReleaseDeviceObjects(void)
{
    int usedEnd = GetGraphTableUsedEnd();
    for (int slot = 0; slot < usedEnd; slot++) {
        GraphRecord *graph = GetGraphSlotRecord(slot);
        if (graph != NULL && graph->image != NULL) {
            ReleaseImageTextures(graph->image);
        }
    }
    ReleaseTableDeviceObjects();
    return 0;
}

int GetGraphRestoreLoadCount(void)
{
    return s_RestoreLoadCount;
}

// The picture last loaded for one source kind, with its alpha picture when one came with it, and the source it
// came from (kept as long as a later graph of the same kind may reuse it).
struct CachedPictures {
    const GraphRestoreSource *from; // the previous graph's source of this kind, loaded or not
    int loaded;
    BaseImage image, alphaImage;
    BaseImage *alpha; // &alphaImage when an alpha picture was loaded
};

static void FreeCachedPictures(CachedPictures *cache)
{
    FreeBaseImageData(&cache->image); // both zeroed while nothing is loaded
    FreeBaseImageData(&cache->alphaImage);
    cache->loaded = 0;
    cache->alpha = NULL;
}

static int IsSameFileSource(const GraphRestoreSource *a, const GraphRestoreSource *b)
{
    return a != NULL && strcmp(a->path, b->path) == 0 && a->reverse == b->reverse;
}

static int IsSameMemorySource(const GraphRestoreSource *a, const GraphRestoreSource *b)
{
    return a != NULL && a->memImage == b->memImage && a->alphaMemImage == b->alphaMemImage && a->reverse == b->reverse;
}

// Loads the source's picture into the cache (from its file, with the alpha file beside it, or from its file bytes),
// mirrored when its reverse flag is 1; -1 with nothing cached when it cannot be loaded.
static int LoadSourcePictures(const GraphRestoreSource *source, CachedPictures *cache)
{
    FreeCachedPictures(cache);
    s_RestoreLoadCount++;
    int mirror = source->reverse == 1;
    int result =
        source->path != NULL
            ? LoadImageToBaseImage(source->path, NULL, 0, 0, NULL, 0, 0, &cache->image, &cache->alphaImage, mirror)
            : LoadImageToBaseImage(NULL, source->memImage, (int)source->memImageSize, 1, source->alphaMemImage,
                                   (int)source->alphaMemImageSize, source->alphaMemImage != NULL ? 1 : 2, &cache->image,
                                   &cache->alphaImage, mirror);
    if (result < 0) {
        return -1;
    }
    cache->loaded = 1;
    cache->alpha = result == 0 ? &cache->alphaImage : NULL;
    return 0;
}

// The pictures a graph's source gives, from the cache when the previous graph of that kind had the same source,
// else loaded (a failure logged); -1 when there are none.
static int FindSourcePictures(const GraphRestoreSource *source, CachedPictures *file, CachedPictures *memory,
                              BaseImage **image, BaseImage **alphaImage)
{
    if (source->image != NULL) {
        *image = source->image;
        *alphaImage = source->alphaImage;
        return 0;
    }
    int isFile = source->path != NULL;
    CachedPictures *cache = isFile ? file : memory;
    int same = isFile ? IsSameFileSource(cache->from, source) : IsSameMemorySource(cache->from, source);
    cache->from = source;
    if (!(same && cache->loaded) && LoadSourcePictures(source, cache) != 0) {
        return isFile ? LogFormatLine("ファイル:%s がロードできませんでした", source->path)
                      : AddLog("メモリからの画像データのローができませんでした\n");
    }
    *image = &cache->image;
    *alphaImage = cache->alpha;
    return 0;
}

// The graph's own rectangle of the picture, from its place in the picture it was loaded from.
static void UploadGraphPart(const GraphRecord *graph, BaseImage *image, BaseImage *alphaImage)
{
    RECT source = {graph->sourceX, graph->sourceY, graph->sourceX + graph->width, graph->sourceY + graph->height};
    UploadImageToGraphCore(graph->header.handle, image, alphaImage, &source, 0, 0, GetTransparentColorEnabled(), 0);
}

int RestoreAllGraphs(void)
{
    AddLog("グラフィックを復帰します\n");
    CachedPictures file = {}, memory = {};
    int usedEnd = GetGraphTableUsedEnd();
    for (int slot = 0; slot < usedEnd; slot++) {
        GraphRecord *graph = GetGraphSlotRecord(slot);
        BaseImage *image = NULL, *alphaImage = NULL;
        if (graph != NULL && graph->restoreSource != NULL &&
            FindSourcePictures(graph->restoreSource, &file, &memory, &image, &alphaImage) == 0) {
            UploadGraphPart(graph, image, alphaImage);
        }
    }
    FreeCachedPictures(&file);
    FreeCachedPictures(&memory);
    AddLog("グラフィックの復帰が完了しました\n");
    return 0;
}
