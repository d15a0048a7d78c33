// Screen flip and vertical blank: presenting the finished frame into the window's client area (swap chain 0 on
// the device path, GDI from the screen MEMIMG on the software path), the sub back buffer that keeps a full-screen
// picture across swaps, the scene bracket, the front-screen refresh timer and the paced vertical-blank wait.
// Window thread only; the timer procedure runs from that thread's message dispatch.
#include "graphics/graphics_test_hooks.h"

#define PAINT_PRESENT_QUICK_MICROSECONDS 500
#define UNKNOWN_PERIOD_THRESHOLD 4000
#define PERIOD_MARGIN 3000
#define MEASURE_TRIES 60
#define MEASURE_RUN 10

static int s_WaitOff; // 0: wait for the vertical blank
static LONGLONG s_VerticalBlankPeriod = -1;
static LONGLONG s_LastPacedWait;
static RECT s_LastSource; // the screen part of the last whole present; empty until the first
static ScreenFlipRecord s_Record;
static int s_LastPresentMilliCount = -1;

// What one present copies: the screen part and where it lands in the client area.
struct PresentRects {
    int screenWidth, screenHeight;
    int lowResolutionView;
    RECT source, destination;
};

static void NotePresent(void)
{
    s_LastPresentMilliCount = GetNowMilliCount();
    s_Record.presents++;
}

static int RectWidth(const RECT *rect)
{
    return rect->right - rect->left;
}

static int RectHeight(const RECT *rect)
{
    return rect->bottom - rect->top;
}

static int ScaleCoordinate(int value, int numerator, int denominator, int offset)
{
    return (int)((LONGLONG)value * numerator / denominator) + offset;
}

// Maps a client rectangle through `through`: value x size / through's size + through's origin; nothing through an
// empty rectangle.
static RECT MapRect(const RECT *rect, const RECT *through, int width, int height)
{
    RECT mapped = {0, 0, 0, 0};
    if (RectWidth(through) <= 0 || RectHeight(through) <= 0) {
        return mapped;
    }
    mapped.left = ScaleCoordinate(rect->left, width, RectWidth(through), through->left);
    mapped.right = ScaleCoordinate(rect->right, width, RectWidth(through), through->left);
    mapped.top = ScaleCoordinate(rect->top, height, RectHeight(through), through->top);
    mapped.bottom = ScaleCoordinate(rect->bottom, height, RectHeight(through), through->top);
    return mapped;
}

static void ComputePresentRects(PresentRects *rects)
{
    GetScreenSize(&rects->screenWidth, &rects->screenHeight);
    rects->lowResolutionView = (GetLowResolutionEmulation() || GetLowResScaledFlag()) && rects->screenWidth == 640 &&
                               rects->screenHeight == 480;
    SetRect(&rects->source, 0, 0, rects->screenWidth, rects->screenHeight);
    if (rects->lowResolutionView) {
        SetRect(&rects->source, 0, 0, 320, 240);
    }
    if (!IsWindowedMode() || rects->lowResolutionView) {
        SetRect(&rects->destination, 0, 0, rects->screenWidth, rects->screenHeight);
        return;
    }
    double xRate = 1.0, yRate = 1.0;
    GetWindowScaleRates(&xRate, &yRate);
    SetRect(&rects->destination, 0, 0, (int)(rects->screenWidth * xRate), (int)(rects->screenHeight * yRate));
    if (GetToolbarHeight() > 0) {
        RECT client;
        GetClientRect(GetAppWindowHandle(), &client);
        rects->destination.bottom = client.bottom;
        rects->destination.top = client.bottom - rects->screenHeight;
    }
}

static int PresentOnDevice(const RECT *paint, PresentRects *rects)
{
    FlushVertexBatch();
    EndSceneIfNeeded();
    if (rects->lowResolutionView) {
        SetRect(&rects->destination, 0, 0, 640, 480);
        SetRect(&rects->source, 0, 0, 320, 240);
    }
    if (g_D3D.subBackBuffer != NULL &&
        FAILED(g_D3D.device->StretchRect(g_D3D.subBackBuffer, NULL, g_D3D.backBuffer, NULL, D3DTEXF_NONE))) {
        return -1;
    }
    if (g_D3D.swapChain == NULL) {
        return 0;
    }
    LONGLONG start = GetNowMicroCount(0);
    HWND window = GetAppWindowHandle();
    if (!IsIconic(window)) {
        HRESULT result;
        if (!IsWindowedMode()) {
            const RECT *source = rects->lowResolutionView ? &rects->source : NULL;
            const RECT *destination = rects->lowResolutionView ? &rects->destination : NULL;
            result = g_D3D.swapChain->Present(source, destination, window, NULL, 0);
        } else if (paint != NULL) {
            RECT part = MapRect(paint, &rects->destination, rects->screenWidth, rects->screenHeight);
            result = IsRectEmpty(&part) ? E_FAIL : g_D3D.swapChain->Present(&part, paint, window, NULL, 0);
        } else {
            s_LastSource = rects->source;
            result = g_D3D.swapChain->Present(&rects->source, &rects->destination, window, NULL, 0);
        }
        if (FAILED(result)) {
            return -1;
        }
        NotePresent();
    }
    if (GetPaintRedrawFlag() && !s_WaitOff && GetNowMicroCount(0) - start < PAINT_PRESENT_QUICK_MICROSECONDS) {
        WaitVerticalBlankPaced();
    }
    return 0;
}

// The BITMAPINFO of the screen image: a top-down bit-field DIB with the image format's colour masks.
struct ScreenBitmapInfo {
    BITMAPINFOHEADER header;
    DWORD masks[3];
};

static void FillScreenBitmapInfo(ScreenBitmapInfo *info, const MEMIMG *screen)
{
    const PixelFormat *format = screen->block->format;
    ZeroMemory(info, sizeof(*info));
    info->header.biSize = sizeof(BITMAPINFOHEADER);
    info->header.biWidth = screen->width;
    info->header.biHeight = -screen->height;
    info->header.biPlanes = 1;
    info->header.biBitCount = format->bitsPerPixel;
    info->header.biCompression = BI_BITFIELDS;
    info->masks[0] = format->redMask;
    info->masks[1] = format->greenMask;
    info->masks[2] = format->blueMask;
}

static void NoteGdiCall(int call, const RECT *destination)
{
    s_Record.gdiCall = call;
    s_Record.gdiDestination = *destination;
    NotePresent();
}

static int PresentFromSoftwareScreen(const RECT *paint, const RECT *mapped, const PresentRects *rects)
{
    MEMIMG *screen = GetSoftwareScreen();
    if (screen == NULL || !IsValidMemImg(screen)) {
        return 0;
    }
    if (!s_WaitOff) {
        WaitVerticalBlankPaced();
    }
    ScreenBitmapInfo info;
    FillScreenBitmapInfo(&info, screen);
    const BITMAPINFO *bitmap = (const BITMAPINFO *)&info;
    HWND window = GetAppWindowHandle();
    HDC dc = GetDC(window);
    if (dc == NULL) {
        return 0;
    }
    const void *bits = screen->pixels;
    if (rects->lowResolutionView) {
        SetRect(&s_LastSource, 0, 0, 640, 480);
        // Source y counts from the bottom of the bottom-up view GDI takes of a top-down image.
        StretchDIBits(dc, 0, 0, 640, 480, 0, screen->height - 240, 320, 240, bits, bitmap, DIB_RGB_COLORS, SRCCOPY);
        NoteGdiCall(SCREEN_FLIP_GDI_STRETCH, &s_LastSource);
    } else if (paint != NULL) {
        StretchDIBits(dc, paint->left, paint->top, RectWidth(paint), RectHeight(paint), mapped->left,
                      screen->height - mapped->bottom, RectWidth(mapped), RectHeight(mapped), bits, bitmap,
                      DIB_RGB_COLORS, SRCCOPY);
        NoteGdiCall(SCREEN_FLIP_GDI_STRETCH, paint);
    } else {
        int width = RectWidth(&rects->destination), height = RectHeight(&rects->destination);
        SetRect(&s_LastSource, 0, 0, width, height);
        if (width == screen->width && height == screen->height) {
            SetDIBitsToDevice(dc, rects->destination.left, rects->destination.top, width, height, 0, 0, 0,
                              screen->height, bits, bitmap, DIB_RGB_COLORS);
            NoteGdiCall(SCREEN_FLIP_GDI_SET_BITS, &rects->destination);
        } else {
            StretchDIBits(dc, rects->destination.left, rects->destination.top, width, height, 0, 0, screen->width,
                          screen->height, bits, bitmap, DIB_RGB_COLORS, SRCCOPY);
            NoteGdiCall(SCREEN_FLIP_GDI_STRETCH, &rects->destination);
        }
    }
    ReleaseDC(window, dc);
    return 0;
}

// The on-screen log over the frame, in the whole screen, unblended and at full brightness; the guard keeps a
// present asked for while it draws from running inside it.
static int s_DrawingScreenLog;

static void DrawScreenLogOverFrame(void)
{
    DrawState *state = &g_DrawState;
    const RECT area = state->drawArea;
    const int mode = state->blendMode, parameter = state->blendParameter;
    const unsigned int brightness = state->brightness;
    int width, height;
    GetScreenSize(&width, &height);
    SetDrawClipArea(0, 0, width, height);
    SetDrawBlend(0, 0);
    SetDrawBrightness(255, 255, 255);
    s_DrawingScreenLog = 1;
    DrawScreenLog();
    s_DrawingScreenLog = 0;
    SetDrawClipArea(area.left, area.top, area.right, area.bottom);
    SetDrawBlend(mode, parameter);
    SetDrawBrightColor(brightness);
}

int PresentScreenToWindow(const RECT *rect)
{
    if (s_DrawingScreenLog) {
        return 0;
    }
    if (!IsEngineInitialised() || IsWindowClosed()) {
        return -1;
    }
    CloseMaskPass();
    if (GetScreenLogDrawFlag()) {
        DrawScreenLogOverFrame();
    }
    PresentRects rects;
    ComputePresentRects(&rects);
    // Before the first whole present there is nothing to map a paint rectangle through: paint everything.
    if (RectWidth(&s_LastSource) <= 0 || RectHeight(&s_LastSource) <= 0) {
        rect = NULL;
    }
    RECT mapped = {0, 0, 0, 0};
    if (rect != NULL) {
        mapped = MapRect(rect, &s_LastSource, rects.screenWidth, rects.screenHeight);
        if (RectWidth(&mapped) == 0 || RectHeight(&mapped) == 0) {
            return -1;
        }
    }
    if (g_D3D.device != NULL) {
        return PresentOnDevice(rect, &rects);
    }
    return PresentFromSoftwareScreen(rect, &mapped, &rects);
}

int FlipScreen(void)
{
    return PresentScreenToWindow(NULL);
}

int CopyScreenAndFlip(void)
{
    if (!IsWindowedMode() && g_D3D.device != NULL) {
        EnsureSubBackBuffer();
    }
    return PresentScreenToWindow(NULL);
}

void CALLBACK FrontScreenTimerProc(HWND, UINT, UINT_PTR, DWORD)
{
    HWND window = GetAppWindowHandle();
    KillTimer(window, FRONT_SCREEN_TIMER_ID);
    if (GetDrawTarget() != -4) {
        return;
    }
    if (IsWindowActive()) {
        if (!IsWindowedMode() && g_D3D.device != NULL) {
            EnsureSubBackBuffer();
        }
        PresentScreenToWindow(NULL);
    }
    SetTimer(window, FRONT_SCREEN_TIMER_ID, FRONT_SCREEN_TIMER_PERIOD, FrontScreenTimerProc);
}

int CreateSubBackBuffer(void)
{
    int width, height;
    GetScreenSize(&width, &height);
    IDirect3DSurface9 *surface = NULL;
    if (FAILED(g_D3D.device->CreateRenderTarget(width, height, g_D3D.backBufferFormat, D3DMULTISAMPLE_NONE, 0, FALSE,
                                                &surface, NULL))) {
        AddLog("サブバックバッファの作成に失敗しました\n");
        return -1;
    }
    g_D3D.subBackBuffer = surface;
    return 0;
}

int EnsureSubBackBuffer(void)
{
    if (g_D3D.subBackBuffer != NULL) {
        return 0;
    }
    if (g_D3D.device == NULL) {
        return -1;
    }
    FlushVertexBatch();
    EndSceneIfNeeded();
    if (CreateSubBackBuffer() != 0) {
        return -1;
    }
    g_D3D.device->StretchRect(g_D3D.backBuffer, NULL, g_D3D.subBackBuffer, NULL, D3DTEXF_NONE);
    int force = g_StateCache.force;
    g_StateCache.force = 1;
    SetDeviceRenderTarget(g_D3D.subBackBuffer);
    g_StateCache.force = force;
    return 0;
}

void BeginSceneIfNeeded(void)
{
    if (g_StateCache.device == NULL || g_D3D.sceneOpen) {
        return;
    }
    g_StateCache.device->BeginScene();
    g_D3D.sceneOpen = 1;
    ZeroMemory(g_D3D.sceneCounters, sizeof(g_D3D.sceneCounters));
}

void EndSceneIfNeeded(void)
{
    if (g_StateCache.device == NULL || !g_D3D.sceneOpen) {
        return;
    }
    g_StateCache.device->EndScene();
    g_D3D.sceneOpen = 0;
}

static void WaitForBlank(void)
{
    if (g_D3D.directDraw != NULL) {
        g_D3D.directDraw->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, NULL);
    }
    s_LastPacedWait = GetNowMicroCount(0);
    s_Record.pacedWaits++;
}

// Sleeps most of the period away before the blocking wait, so a frame does not spin the processor.
void WaitVerticalBlankPaced(void)
{
    LONGLONG threshold = s_VerticalBlankPeriod < 0 ? UNKNOWN_PERIOD_THRESHOLD : s_VerticalBlankPeriod - PERIOD_MARGIN;
    if (GetNowMicroCount(0) - s_LastPacedWait < threshold) {
        Sleep(0);
        while (GetNowMicroCount(0) - s_LastPacedWait < threshold) {
            Sleep(1);
        }
        WaitForBlank();
        return;
    }
    WaitForBlank();
    Sleep(0);
}

void MeasureVerticalBlankPeriod(void)
{
    s_VerticalBlankPeriod = -1;
    if (g_D3D.directDraw != NULL) {
        g_D3D.directDraw->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, NULL);
        LONGLONG previousTime = GetNowMicroCount(0), previousInterval = 0, sum = 0;
        int counted = 0;
        for (int i = 0; i < MEASURE_TRIES && counted < MEASURE_RUN; i++) {
            g_D3D.directDraw->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, NULL);
            LONGLONG now = GetNowMicroCount(0), interval = now - previousTime;
            LONGLONG difference = interval - previousInterval;
            if (difference > -1000 && difference < 1000) {
                counted++;
                sum += interval;
            } else {
                counted = 0;
                sum = 0;
            }
            previousTime = now;
            previousInterval = interval;
            Sleep(5);
        }
        if (counted >= MEASURE_RUN) {
            s_VerticalBlankPeriod = sum / counted;
        }
    }
    WaitVerticalBlankPaced();
}

int SetWaitVerticalBlank(int flag)
{
    s_WaitOff = !flag;
    return 0;
}

int GetWaitVerticalBlank(void)
{
    return !s_WaitOff;
}

int GetLastPresentMilliCount(void)
{
    return s_LastPresentMilliCount;
}

const ScreenFlipRecord *GetScreenFlipRecord(void)
{
    return &s_Record;
}

void ForgetLastPresentedRects(void)
{
    SetRectEmpty(&s_LastSource);
}

// With the front screen as target the mask use goes off and back to what it was, which selects the target's
// surfaces afresh so that the screen follows the window (without a mask screen both calls refuse at once).
int FollowWindowMove(void)
{
    if (!IsGraphicsInitialised()) {
        return 0;
    }
    if (GetDrawTarget() == -4) {
        int use = IsMaskScreenInUse();
        SetMaskScreenInUse(0);
        SetMaskScreenInUse(use);
    }
    const RECT *area = &g_DrawState.drawArea;
    return SetDrawClipArea(area->left, area->top, area->right, area->bottom);
}
