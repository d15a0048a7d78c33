// Draw-screen lock: a BaseImage view of a rectangle of a screen's or a drawable graph's pixels, for the GDI flip
// and for screen copies into graphs. On the device the surface (the screen's back buffer, or the graph's render
// surface) is locked directly when the back buffer locks fast, else it is copied into a system-memory surface
// first; on the software path the view points into the screen's or the graph's MEMIMG. At most one lock is open at
// a time. Window thread only.
#include "graphics/graphics_test_hooks.h"

#include <string.h>

static int s_LockOpen;
static IDirect3DSurface9 *s_LockedSurface; // locked in place
static IDirect3DSurface9 *s_CopySurface;   // or the system-memory copy that was locked
static int s_ForceCopy;

int SetForceScreenLockCopy(int flag)
{
    s_ForceCopy = flag;
    return 0;
}

// Locks the rectangle through a render target of its size and a system-memory surface filled from it.
static int LockThroughCopy(IDirect3DSurface9 *surface, D3DFORMAT format, const RECT *rect, DWORD flags,
                           D3DLOCKED_RECT *locked)
{
    IDirect3DDevice9 *device = g_StateCache.device;
    UINT width = (UINT)(rect->right - rect->left), height = (UINT)(rect->bottom - rect->top);
    IDirect3DSurface9 *target = NULL, *copy = NULL;
    if (FAILED(device->CreateRenderTarget(width, height, format, D3DMULTISAMPLE_NONE, 0, FALSE, &target, NULL))) {
        return AddLog("バックバッファロック用描画可能サーフェスの作成に失敗しました");
    }
    if (FAILED(device->CreateOffscreenPlainSurface(width, height, format, D3DPOOL_SYSTEMMEM, &copy, NULL))) {
        target->Release();
        return AddLog("バックバッファロック用システムメモリサーフェスの作成に失敗しました");
    }
    // A failed copy is a failed lock: the caller must not read pixels that never arrived.
    int result = -1;
    if (SUCCEEDED(device->StretchRect(surface, rect, target, NULL, D3DTEXF_NONE)) &&
        SUCCEEDED(device->GetRenderTargetData(target, copy)) && SUCCEEDED(copy->LockRect(locked, NULL, flags))) {
        s_CopySurface = copy;
        result = 0;
    } else {
        copy->Release();
    }
    target->Release();
    return result;
}

// What a lock reads: a live graph (target -1 takes the current draw target), else the screen.
struct LockSource {
    const GraphRecord *graph; // null: the screen
    int width, height;
};

static LockSource ResolveLockSource(int target)
{
    LockSource source = {GetGraphRecord(target == -1 ? g_DrawState.drawTarget : target), 0, 0};
    if (source.graph != NULL) {
        source.width = source.graph->width;
        source.height = source.graph->height;
    } else {
        GetScreenSize(&source.width, &source.height);
    }
    return source;
}

// A graph's surface is its first piece's: the rectangle, moved to the graph's place in the image, must lie in it.
static int LockDeviceSurface(const LockSource *source, RECT rect, int readOnly, BaseImage *image)
{
    IDirect3DSurface9 *surface = GetScreenSurface();
    D3DFORMAT format = g_D3D.backBufferFormat;
    if (source->graph != NULL) {
        const SharedGraphImage *shared = source->graph->image;
        OffsetRect(&rect, source->graph->x, source->graph->y);
        if (rect.right > shared->pieces[0].usedWidth || rect.bottom > shared->pieces[0].usedHeight) {
            return -1;
        }
        surface = GetGraphRenderSurface(source->graph);
        format = g_D3D.graphFormats[shared->formatIndex];
    }
    const PixelFormat *pixelFormat = GetD3DFormatPixelFormat(format);
    if (g_StateCache.device == NULL || surface == NULL || pixelFormat == NULL) {
        return -1;
    }
    DWORD flags = readOnly ? D3DLOCK_READONLY : 0;
    D3DLOCKED_RECT locked;
    if (g_D3D.backBufferLockFaster && !s_ForceCopy && SUCCEEDED(surface->LockRect(&locked, &rect, flags))) {
        s_LockedSurface = surface;
    } else if (LockThroughCopy(surface, format, &rect, flags, &locked) != 0) {
        return -1;
    }
    image->format = *pixelFormat;
    image->pitch = locked.Pitch;
    image->pixels = (unsigned char *)locked.pBits;
    return 0;
}

// Target -1 is what the software drawers draw into (a graph target's view among them); else a graph's own view,
// or the software screen.
static int LockSoftwareImage(const LockSource *source, int target, const RECT *rect, BaseImage *image)
{
    const MEMIMG *view = target == -1            ? g_DrawState.softwareTarget
                         : source->graph != NULL ? &source->graph->view
                                                 : GetSoftwareScreen();
    if (view == NULL || !IsValidMemImg(view) || rect->right > view->width || rect->bottom > view->height) {
        return -1;
    }
    const MemImgBlock *block = view->block;
    image->format = *block->format;
    image->pitch = block->pitch;
    image->pixels = view->pixels + rect->top * block->pitch + rect->left * block->format->bytesPerPixel;
    return 0;
}

int LockDrawScreen(int x1, int y1, int x2, int y2, BaseImage *image, int target, int readOnly)
{
    if (IsDeviceMode()) {
        FlushVertexBatch();
        EndSceneIfNeeded();
    }
    // A second lock would lose the first one's surface: one view at a time.
    if (s_LockOpen || image == NULL) {
        return -1;
    }
    // The rectangle must lie in what is locked, which need not be the draw target.
    LockSource source = ResolveLockSource(target);
    if (x1 < 0 || x1 >= x2 || x2 > source.width || y1 < 0 || y1 >= y2 || y2 > source.height) {
        return -1;
    }
    RECT rect = {x1, y1, x2, y2};
    memset(image, 0, sizeof(*image));
    int result = IsDeviceMode() ? LockDeviceSurface(&source, rect, readOnly, image)
                                : LockSoftwareImage(&source, target, &rect, image);
    if (result != 0) {
        return -1;
    }
    image->width = x2 - x1;
    image->height = y2 - y1;
    image->mipCount = 0;
    s_LockOpen = 1;
    return 0;
}

int UnlockDrawScreen(void)
{
    if (!s_LockOpen) {
        return 0;
    }
    if (s_CopySurface != NULL) {
        s_CopySurface->UnlockRect();
        s_CopySurface->Release();
    } else if (s_LockedSurface != NULL) {
        s_LockedSurface->UnlockRect();
    }
    s_CopySurface = NULL;
    s_LockedSurface = NULL;
    s_LockOpen = 0;
    return 0;
}
