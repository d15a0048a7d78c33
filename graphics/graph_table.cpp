// The graph handle table: 32768 slots of GraphRecords, allocation with its check numbers, validation, release
// (with the shared image, the restore source and the lost flag a graph holds) and release-all. Freed slots below
// the used end are taken again only once the table has been filled to its last slot. Window thread only.
#include "graphics/graphics_internal.h"
#include "media/media.h"

static GraphRecord *s_GraphSlots[GRAPH_SLOT_COUNT];
static int s_GraphCount;
static int s_GraphUsedEnd; // one past the highest slot in use
static int s_GraphCheckCounter;

int GetGraphTableUsedEnd(void)
{
    return s_GraphUsedEnd;
}

int GetGraphTableCount(void)
{
    return s_GraphCount;
}

GraphRecord *GetGraphRecord(EngineHandle graph)
{
    return (GraphRecord *)ValidateEngineHandle(graph, HANDLE_TYPE_GRAPH, (void *const *)s_GraphSlots, GRAPH_SLOT_COUNT);
}

GraphRecord *GetGraphSlotRecord(int slot)
{
    return slot >= 0 && slot < GRAPH_SLOT_COUNT ? s_GraphSlots[slot] : NULL;
}

static int TakeFreeGraphSlot(void)
{
    if (s_GraphUsedEnd < GRAPH_SLOT_COUNT) {
        return s_GraphUsedEnd;
    }
    int slot = 0;
    while (s_GraphSlots[slot] != NULL) {
        slot++;
    }
    return slot;
}

EngineHandle AllocGraphHandle(void)
{
    if (s_GraphCount == GRAPH_SLOT_COUNT) {
        FatalErrorExit("グラフィックの数が許容量を越えました終了します");
    }
    int slot = TakeFreeGraphSlot();
    GraphRecord *record = (GraphRecord *)ENGINE_ALLOC_ZEROED(sizeof(GraphRecord) +
                                                             GRAPH_RECORD_FIRST_PIECE_DRAWS * sizeof(GraphPieceDraw));
    if (record == NULL) {
        FatalErrorExit("メモリの確保に失敗しました");
    }
    record->header.checkNumber = s_GraphCheckCounter;
    record->header.handle = MakeEngineHandle(HANDLE_TYPE_GRAPH, s_GraphCheckCounter, slot);
    s_GraphCheckCounter = (s_GraphCheckCounter + 1) % HANDLE_CHECK_LIMIT;
    record->movie = -1;
    s_GraphSlots[slot] = record;
    s_GraphCount++;
    if (slot == s_GraphUsedEnd) {
        s_GraphUsedEnd++;
    }
    return record->header.handle;
}

// The record's length follows its draw information: room for `drawCount` piece draws (0: the software form). The
// slot takes the moved record; on failure the record stays as it was and null is returned.
GraphRecord *ResizeGraphRecordDraws(EngineHandle graph, int drawCount)
{
    GraphRecord *record = GetGraphRecord(graph);
    if (record == NULL) {
        return NULL;
    }
    GraphRecord *moved =
        (GraphRecord *)ENGINE_REALLOC(record, sizeof(GraphRecord) + (size_t)drawCount * sizeof(GraphPieceDraw));
    if (moved != NULL) {
        s_GraphSlots[graph & HANDLE_INDEX_MASK] = moved;
    }
    return moved;
}

// ---------------------------------------------------------------------------------------------------------------
// What a record holds: the shared image and the restore source, each counted by its holders.

int ReleaseImageTextures(SharedGraphImage *image)
{
    if (!image->format.deviceTexture) {
        return 0;
    }
    for (int i = 0; i < image->pieceCount; i++) {
        TexturePiece *piece = &image->pieces[i];
        IUnknown **objects[] = {(IUnknown **)&piece->texture, (IUnknown **)&piece->staging,
                                (IUnknown **)&piece->surface, (IUnknown **)&piece->multiSampleSurface,
                                (IUnknown **)&piece->depthSurface};
        for (IUnknown **object : objects) {
            if (*object != NULL) {
                (*object)->Release();
                *object = NULL;
            }
        }
    }
    return 0;
}

static void DetachSharedGraphImage(GraphRecord *graph)
{
    SharedGraphImage *image = graph->image;
    if (image == NULL) {
        return;
    }
    graph->image = NULL;
    if (--image->referenceCount > 0) {
        return;
    }
    if (image->format.deviceTexture) {
        ReleaseImageTextures(image);
    } else {
        ReleaseMemImg(&image->image);
    }
    FreeMemory(image);
}

int AttachSharedGraphImage(GraphRecord *graph, SharedGraphImage *image, int x, int y, int width, int height)
{
    image->referenceCount++; // first, so that giving up the same image cannot free it
    DetachSharedGraphImage(graph);
    graph->image = image;
    graph->x = x;
    graph->y = y;
    graph->width = width;
    graph->height = height;
    return 0;
}

int DropGraphRestoreSource(GraphRecord *graph)
{
    GraphRestoreSource *source = graph->restoreSource;
    graph->restoreSource = NULL;
    if (source != NULL && --source->referenceCount <= 0) {
        FreeMemory(source); // its copies live in the same allocation
    }
    return 0;
}

int ShareGraphRestoreSource(GraphRecord *graph, GraphRestoreSource *source)
{
    if (source != NULL) {
        source->referenceCount++;
    }
    DropGraphRestoreSource(graph);
    graph->restoreSource = source;
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Release.

// The used end stays one past the highest slot in use.
static void FreeGraphSlot(int slot)
{
    s_GraphSlots[slot] = NULL;
    s_GraphCount--;
    if (slot != s_GraphUsedEnd - 1) {
        return;
    }
    while (s_GraphUsedEnd > 0 && s_GraphSlots[s_GraphUsedEnd - 1] == NULL) {
        s_GraphUsedEnd--;
    }
}

int ReleaseGraphHandle(EngineHandle graph, int flag)
{
    GraphRecord *record = GetGraphRecord(graph);
    if (record == NULL) {
        return -1;
    }
    if (graph == g_DrawState.drawTarget) {
        SetDrawTarget(-2); // drawing never goes on into a released graph
    }
    CloseMovie(record->movie);
    if (record->image == NULL || !record->image->format.deviceTexture) {
        ReleaseMemImg(&record->view);
    }
    DetachSharedGraphImage(record);
    for (GraphAuxBlock &aux : record->aux) {
        if (aux.data != NULL) {
            FreeMemory(aux.data);
        }
    }
    DropGraphRestoreSource(record);
    FreeGraphSlot(graph & HANDLE_INDEX_MASK);
    if (record->lostFlag != NULL) {
        *record->lostFlag = 1;
    }
    FreeMemory(record);
    return 0;
}

static void ReleaseEveryGraph(int flag)
{
    for (int slot = 0; slot < s_GraphUsedEnd; slot++) {
        if (s_GraphSlots[slot] != NULL) {
            ReleaseGraphHandle(s_GraphSlots[slot]->header.handle, flag);
        }
    }
}

int ReleaseAllGraphHandles(int flag)
{
    if (IsGraphicsInitialised()) {
        ReleaseEveryGraph(flag);
    }
    return 0;
}

// Graphics start begins with an empty table. A graph made before it (possible only without a running screen) is
// released rather than forgotten: setting the counts to 0 over it would lose its record and let the next
// allocation write over its slot.
int ResetGraphTableCounts(void)
{
    ReleaseEveryGraph(0);
    s_GraphCount = 0;
    s_GraphUsedEnd = 0;
    return 0;
}

int SetGraphLostFlagPtr(EngineHandle graph, int *flag)
{
    GraphRecord *record = GetGraphRecord(graph);
    if (record == NULL) {
        return -1;
    }
    record->lostFlag = flag;
    if (flag != NULL) {
        *flag = 0;
    }
    return 0;
}
