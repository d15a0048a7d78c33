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

// Consecutive graphs that take the same picture into the same image at the same offset form a run whose
// rectangles are gathered (cells of a row into a strip, strips into a block) and uploaded together: the pixels
// written are those of one upload per graph, but a sheet costs one or two texture locks instead of one per cell.
struct UploadRun {
    const GraphRestoreSource *source; // null: no run
    SharedGraphImage *sharedImage;
    EngineHandle graph; // the run's first graph, through which its image is reached
    BaseImage *image, *alphaImage;
    int offsetX, offsetY; // the picture's position minus the image's
    RECT strip, block;    // in the shared image; empty while nothing is gathered
};

static int HasSameOffset(const UploadRun &run, const GraphRecord *graph)
{
    return graph->sourceX - graph->x == run.offsetX && graph->sourceY - graph->y == run.offsetY;
}

// Grows `into` by `part` when their union is a rectangle of both their areas (they meet along a whole side).
static int JoinAdjacent(RECT *into, const RECT &part)
{
    if (IsRectEmpty(&part)) {
        return 1;
    }
    int rows = part.top == into->top && part.bottom == into->bottom;
    int columns = part.left == into->left && part.right == into->right;
    if (IsRectEmpty(into) || (rows && (part.left == into->right || part.right == into->left)) ||
        (columns && (part.top == into->bottom || part.bottom == into->top))) {
        UnionRect(into, into, &part);
        return 1;
    }
    return 0;
}

static void UploadRunRect(const UploadRun &run, const RECT &rect)
{
    if (IsRectEmpty(&rect)) {
        return;
    }
    RECT source = rect;
    OffsetRect(&source, run.offsetX, run.offsetY);
    UploadImageToGraphCore(run.graph, run.image, run.alphaImage, &source, rect.left, rect.top,
                           GetTransparentColorEnabled(), 1);
}

static void PushStrip(UploadRun *run)
{
    if (!JoinAdjacent(&run->block, run->strip)) {
        UploadRunRect(*run, run->block);
        run->block = run->strip;
    }
    SetRectEmpty(&run->strip);
}

static void AddToRun(UploadRun *run, const GraphRecord *graph)
{
    RECT rect = {graph->x, graph->y, graph->x + graph->width, graph->y + graph->height};
    if (!JoinAdjacent(&run->strip, rect)) {
        PushStrip(run);
        run->strip = rect;
    }
}

static void FlushRun(UploadRun *run)
{
    if (run->source != NULL) {
        PushStrip(run);
        UploadRunRect(*run, run->block);
    }
    memset(run, 0, sizeof(*run));
}

static void StartRun(UploadRun *run, const GraphRecord *graph, BaseImage *image, BaseImage *alphaImage)
{
    run->source = graph->restoreSource;
    run->sharedImage = graph->image;
    run->graph = graph->header.handle;
    run->image = image;
    run->alphaImage = alphaImage;
    run->offsetX = graph->sourceX - graph->x;
    run->offsetY = graph->sourceY - graph->y;
}

int RestoreAllGraphs(void)
{
    AddLog("グラフィックを復帰します\n");
    CachedPictures file = {}, memory = {};
    UploadRun run = {};
    int usedEnd = GetGraphTableUsedEnd();
    for (int slot = 0; slot < usedEnd; slot++) {
        GraphRecord *graph = GetGraphSlotRecord(slot);
        if (graph == NULL || graph->restoreSource == NULL) {
            continue;
        }
        // A graph of the run's source reuses its cached picture: it loads nothing.
        if (run.source != graph->restoreSource || run.sharedImage != graph->image || !HasSameOffset(run, graph)) {
            FlushRun(&run); // before a load frees the picture the run uploads from
            BaseImage *image = NULL, *alphaImage = NULL;
            if (FindSourcePictures(graph->restoreSource, &file, &memory, &image, &alphaImage) != 0) {
                continue;
            }
            StartRun(&run, graph, image, alphaImage);
        }
        AddToRun(&run, graph);
    }
    FlushRun(&run);
    FreeCachedPictures(&file);
    FreeCachedPictures(&memory);
    AddLog("グラフィックの復帰が完了しました\n");
    return 0;
}
