// Overlay movies in the window: each one's DirectDraw overlay surface is shown with its source and destination
// rectangles cut to the visible part of the client area and aligned to the display's overlay capabilities, or
// hidden. The destination surface and the capability block come from the graphics core. Window thread only.
#include "media/movie_internal.h"
#include "media/media_test_hooks.h"
#include "graphics/graphics.h"

static_assert(sizeof(DDCAPS_DX7) == 380, "the graphics core's capability block is a DirectX 7 DDCAPS");

static IDirectDrawSurface7 *s_TestDestination;
static const DDCAPS_DX7 *s_TestCapabilities;

void SetMovieOverlayPlatformForTest(IDirectDrawSurface7 *destination, const DDCAPS_DX7 *capabilities)
{
    s_TestDestination = destination;
    s_TestCapabilities = capabilities;
}

static IDirectDrawSurface7 *OverlayDestination(void)
{
    return s_TestDestination != NULL ? s_TestDestination : (IDirectDrawSurface7 *)(INT_PTR)ReturnZero();
}

static void ReadOverlayCapabilities(DDCAPS_DX7 *capabilities)
{
    ClearParamBlock380(capabilities);
    if (s_TestCapabilities != NULL) {
        *capabilities = *s_TestCapabilities;
    }
}

static IDirectDrawSurface7 *OverlaySurface(MovieRecord *record)
{
    return (IDirectDrawSurface7 *)record->references[MOVIE_REF_OVERLAY_SURFACE];
}

void HideMovieOverlay(MovieRecord *record)
{
    if (OverlaySurface(record) != NULL) {
        OverlaySurface(record)->UpdateOverlay(NULL, OverlayDestination(), NULL, DDOVER_HIDE, NULL);
    }
    SetRectEmpty(&record->placement.source);
    SetRectEmpty(&record->placement.destination);
}

// The window's clip box: an empty or complex region (covered by another window) hides the overlay, a simple one
// limits the visible part.
static int ClipToWindowClipBox(RECT *visible)
{
    HWND window = GetAppWindowHandle();
    HDC dc = GetDC(window);
    RECT box;
    int region = GetClipBox(dc, &box);
    ReleaseDC(window, dc);
    if (region == NULLREGION || region == COMPLEXREGION) {
        return 0;
    }
    if (region == SIMPLEREGION) {
        ClipRect(visible, &box);
    }
    return 1;
}

// Down to a multiple of `boundary`, returning what came off.
static int AlignDown(LONG *value, int boundary)
{
    int remainder = ((*value % boundary) + boundary) % boundary;
    *value -= remainder;
    return remainder;
}

// The far edge of a magnified picture, kept well inside 32 bits so that no magnification wraps it round.
static LONG MagnifiedEnd(int start, int length, int scale)
{
    const LONGLONG end = start + (LONGLONG)length * scale, limit = 0x3FFFFFFF;
    return (LONG)(end > limit ? limit : (end < -limit ? -limit : end));
}

// Source and destination rectangles of a shown overlay, in screen coordinates; 0 when nothing is to be shown.
static int PlaceOverlay(const MovieRecord *record, int x, int y, int scale, RECT *source, RECT *destination)
{
    const int width = record->width, height = record->height;
    SetRect(source, 0, 0, width, height);
    RECT full = {x, y, MagnifiedEnd(x, width, scale), MagnifiedEnd(y, height, scale)}, visible = full, client;
    int shown = !IsWindowedMode() || ClipToWindowClipBox(&visible);
    GetWindowClientArea(&client);
    OffsetRect(&full, client.left, client.top);
    OffsetRect(&visible, client.left, client.top);
    ClipRect(&visible, &client);
    if (visible.right == visible.left || visible.bottom == visible.top) {
        return 0;
    }
    source->left += (visible.left - full.left) / scale;
    source->right -= (full.right - visible.right) / scale;
    source->top += (visible.top - full.top) / scale;
    source->bottom -= (full.bottom - visible.bottom) / scale;
    int sourceWidth = source->right - source->left;
    *destination = visible;

    DDCAPS_DX7 caps;
    ReadOverlayCapabilities(&caps);
    const int boundarySource = (int)caps.dwAlignBoundarySrc, sizeSource = (int)caps.dwAlignSizeSrc;
    const int boundaryDestination = (int)caps.dwAlignBoundaryDest, sizeDestination = (int)caps.dwAlignSizeDest;
    if ((caps.dwCaps & DDCAPS_ALIGNBOUNDARYSRC) && boundarySource > 0) {
        sourceWidth -= AlignDown(&source->left, boundarySource);
    }
    if ((caps.dwCaps & DDCAPS_ALIGNSIZESRC) && sizeSource > 0) {
        source->right -= sourceWidth % sizeSource;
    }
    int destinationWidth = full.right - full.left; // the picture width x scale
    if ((caps.dwCaps & DDCAPS_ALIGNBOUNDARYDEST) && boundaryDestination > 0) {
        destinationWidth -= AlignDown(&destination->left, boundaryDestination);
    }
    if ((caps.dwCaps & DDCAPS_ALIGNSIZEDEST) && sizeDestination > 0) {
        const int cut = destinationWidth % sizeDestination;
        destination->right -= cut;
        destinationWidth -= cut;
    }
    return shown && destinationWidth >= 1;
}

int DrawMovieToWindow(int x, int y, int scale, EngineHandle movie, int show)
{
    MovieRecord *record = FindMovie(movie);
    if (record == NULL) {
        return -1;
    }
    if (record->overlay != 1 || record->frameReady == 0) {
        return 0;
    }
    RECT source, destination;
    // A scale below 1 (also a placement never set) hides the overlay; nothing divides by it.
    if (show && scale >= 1 && PlaceOverlay(record, x, y, scale, &source, &destination)) {
        MoviePlacement &stored = record->placement;
        if (stored.show != show || !EqualRect(&stored.source, &source) ||
            !EqualRect(&stored.destination, &destination)) {
            if (OverlaySurface(record) != NULL) {
                OverlaySurface(record)->UpdateOverlay(&source, OverlayDestination(), &destination, DDOVER_SHOW, NULL);
            }
            stored.source = source;
            stored.destination = destination;
        }
    } else {
        HideMovieOverlay(record);
    }
    record->placement.x = x;
    record->placement.y = y;
    record->placement.scale = scale;
    record->placement.show = show;
    return 0;
}

int DrawAllWindowMovies(void)
{
    for (int slot = 0; slot < MOVIE_SLOT_COUNT; slot++) {
        const MovieRecord *record = GetMovieInSlot(slot);
        if (record != NULL && record->theora == 0 && record->overlay == 1) {
            const MoviePlacement &placement = record->placement;
            DrawMovieToWindow(placement.x, placement.y, placement.scale, GetMovieHandleOfSlot(slot), placement.show);
        }
    }
    return 0;
}
