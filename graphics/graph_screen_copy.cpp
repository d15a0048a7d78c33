// Screen copies: a rectangle of a screen or of a graph copied into a graph. Drawable graphs take it as a device
// surface copy; other graphs through a read lock of the source and an upload. Every rectangle is checked against
// what it is read from and written to before anything moves. Window thread only.
#include "graphics/graphics_internal.h"

// The rectangle within the source's own size, and its copy within the destination at a place not before its start.
static int IsCopyInside(int sourceWidth, int sourceHeight, const RECT *rect, const GraphRecord *destination, int destX,
                        int destY)
{
    int64_t width = (int64_t)rect->right - rect->left, height = (int64_t)rect->bottom - rect->top;
    return rect->left >= 0 && width > 0 && rect->right <= sourceWidth && rect->top >= 0 && height > 0 &&
           rect->bottom <= sourceHeight && destX >= 0 && destY >= 0 && destX + width <= destination->width &&
           destY + height <= destination->height;
}

static int CopySoftwareRect(const GraphRecord *source, const RECT *rect, GraphRecord *destination, int destX, int destY)
{
    const MEMIMG *from = source != NULL ? &source->view : GetSoftwareScreen();
    return MemImgRectOperation(&destination->view, from, rect, destX, destY) == 0 ? 0 : -1;
}

// Device surface copy into a drawable graph's first piece, both rectangles moved to the graphs' places in their
// shared images.
static int StretchRectIntoGraph(const GraphRecord *source, RECT rect, const GraphRecord *destination, int destX,
                                int destY)
{
    IDirect3DSurface9 *from = GetScreenSurface();
    if (source != NULL) {
        from = GetGraphRenderSurface(source);
        OffsetRect(&rect, source->x, source->y);
    }
    const TexturePiece *piece = &destination->image->pieces[0];
    RECT to = {destination->x + destX, destination->y + destY, 0, 0};
    to.right = to.left + rect.right - rect.left;
    to.bottom = to.top + rect.bottom - rect.top;
    if (from == NULL || piece->surface == NULL || to.right > piece->usedWidth || to.bottom > piece->usedHeight) {
        return -1;
    }
    return SUCCEEDED(g_StateCache.device->StretchRect(from, &rect, piece->surface, &to, D3DTEXF_NONE)) ? 0 : -1;
}

// Any other graph: a read view of the source rectangle uploaded without keying.
static int UploadLockedRect(int source, const RECT *rect, EngineHandle graph, int destX, int destY)
{
    BaseImage view;
    if (LockDrawScreen(rect->left, rect->top, rect->right, rect->bottom, &view, source, 1) != 0) {
        return -1;
    }
    int result = UploadImageToGraphCore(graph, &view, NULL, NULL, destX, destY, 0, 0);
    UnlockDrawScreen();
    return result;
}

int CopyScreenRectToGraph(int source, int x1, int y1, int x2, int y2, int destX, int destY, EngineHandle graph,
                          int ignored)
{
    (void)ignored;
    GraphRecord *destination = GetGraphRecord(graph);
    if (destination == NULL || destination->image == NULL) {
        return -1;
    }
    if (IsDeviceMode()) {
        FlushVertexBatch();
        EndSceneIfNeeded();
    }
    const GraphRecord *from = GetGraphRecord(source);
    int width, height;
    QueryGraphSize(from != NULL ? source : -2, &width, &height);
    RECT rect = {x1, y1, x2, y2};
    if (!IsCopyInside(width, height, &rect, destination, destX, destY)) {
        return -1;
    }
    if (!IsDeviceMode()) {
        return CopySoftwareRect(from, &rect, destination, destX, destY);
    }
    if (g_StateCache.device == NULL) {
        return -1;
    }
    if (destination->image->format.renderTarget) {
        return StretchRectIntoGraph(from, rect, destination, destX, destY);
    }
    // The lock reads the screen for any value that is no graph, but takes -1 for the draw target: say the screen.
    return UploadLockedRect(from != NULL ? source : -2, &rect, graph, destX, destY);
}

int CopyDrawScreenToGraph(int x1, int y1, int x2, int y2, EngineHandle graph, int ignored)
{
    const GraphRecord *record = GetGraphRecord(graph);
    if (record == NULL || (int64_t)x2 - x1 != record->width || (int64_t)y2 - y1 != record->height) {
        return -1;
    }
    return CopyScreenRectToGraph(g_DrawState.drawTarget, x1, y1, x2, y2, 0, 0, graph, ignored);
}
