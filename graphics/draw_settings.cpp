// Draw settings: the block every later draw obeys (blend mode and parameter, brightness, blend graph, draw area,
// draw target, filtering, fog, Z defaults), its public setters and queries, the screen colour conversions and the
// reset run at graphics start. Each setter stores its value, keeps the software renderer's record in step and, on
// the device, forwards to the state cache. Window thread only.
#include "graphics/graphics_internal.h"
#include "softrender/softrender.h"

#include <string.h>

DrawState g_DrawState;

static int ClampInt(int value, int low, int high)
{
    return value < low ? low : (value > high ? high : value);
}

void SyncSoftwareDrawSettings(void)
{
    const DrawState *state = &g_DrawState;
    MemImgDrawSettings *record = &g_MemImgDrawSettings;
    record->blendMode = state->blendMode;
    record->blendParameter = state->blendParameter;
    record->brightness = state->brightness;
    record->drawArea = state->drawArea;
    record->target = state->softwareTarget;
    record->blendImage = state->blendImage;
    record->blendBorder = state->blendBorder;
    record->blendRange = state->blendRange;
    record->resetting = state->resetting;
}

// ---------------------------------------------------------------------------------------------------------------
// Blend, brightness and the vertex colour word.

unsigned int MakeDrawColorWord(void)
{
    const DrawState *state = &g_DrawState;
    unsigned int alpha =
        (state->blendMode != 0 || state->vertexAlphaInMode0) ? (unsigned int)state->blendParameter : 255u;
    return alpha << 24 | (state->brightness & 0xFFFFFFu);
}

int RefreshDrawColorWord(void)
{
    g_DrawState.drawColorWord = MakeDrawColorWord();
    return 0;
}

int SetDrawBlend(int mode, int parameter)
{
    DrawState *state = &g_DrawState;
    if (state->suspended || (mode == state->blendMode && parameter == state->blendParameter)) {
        return 0;
    }
    WaitWhileInactive();
    state->blendMode = mode;
    state->blendParameter = ClampInt(parameter, 0, 255);
    RefreshDrawColorWord();
    SyncSoftwareDrawSettings();
    return 0;
}

static int StoreBrightness(unsigned int rgb)
{
    g_DrawState.brightness = rgb & 0xFFFFFFu;
    RefreshDrawColorWord();
    SyncSoftwareDrawSettings();
    return 0;
}

int SetDrawBrightness(int red, int green, int blue)
{
    unsigned int stored = g_DrawState.brightness;
    if (red == (int)(stored >> 16 & 0xFF) && green == (int)(stored >> 8 & 0xFF) && blue == (int)(stored & 0xFF)) {
        return 0;
    }
    return StoreBrightness((unsigned int)ClampInt(red, 0, 255) << 16 | (unsigned int)ClampInt(green, 0, 255) << 8 |
                           (unsigned int)ClampInt(blue, 0, 255));
}

int SetDrawBrightColor(unsigned int color)
{
    if ((color & 0xFFFFFFu) == g_DrawState.brightness) {
        return 0;
    }
    return StoreBrightness(color);
}

// ---------------------------------------------------------------------------------------------------------------
// Screen colours.

// The image code's packing with full alpha, less the bits no channel owns: a screen colour carries the alpha mask
// but never the unused bits.
unsigned int MakeColorForFormat(const PixelFormat *format, int red, int green, int blue)
{
    uint32_t value =
        ColorToPixelValue(format, ClampInt(red, 0, 255), ClampInt(green, 0, 255), ClampInt(blue, 0, 255), 255);
    return value & ~format->unusedMask;
}

// The device's format of the screen depth, or the software screen's; before either exists, the software
// screen's format of the configured depth.
static const PixelFormat *GetScreenPixelFormat(void)
{
    int kind = GetScreenColorBits() == 16 ? MEMIMG_KIND_RGB16 : MEMIMG_KIND_RGB32;
    if (IsDeviceMode()) {
        const PixelFormat *format =
            GetGraphFormatPixelFormat(kind == MEMIMG_KIND_RGB16 ? GRAPH_FORMAT_16 : GRAPH_FORMAT_32);
        if (format != NULL) {
            return format;
        }
    } else {
        MEMIMG *screen = GetSoftwareScreen();
        if (screen != NULL && IsValidMemImg(screen)) {
            return screen->block->format;
        }
    }
    return GetMemImgColorFormat(kind, 0, 0);
}

unsigned int MakeScreenColor(int red, int green, int blue)
{
    return MakeColorForFormat(GetScreenPixelFormat(), red, green, blue);
}

int SplitScreenColor(unsigned int color, int *red, int *green, int *blue)
{
    return SplitPixelComponents(GetScreenPixelFormat(), color, red, green, blue, NULL);
}

float *MakeColorValue(float *out, float a, float b, float c, float d)
{
    out[0] = a;
    out[1] = b;
    out[2] = c;
    out[3] = d;
    return out;
}

// ---------------------------------------------------------------------------------------------------------------
// Graphs and sizes.

int IsGraphHandle(int value)
{
    return GetGraphRecord(value) != NULL;
}

int QueryGraphSize(int graph, int *width, int *height)
{
    if (graph == SCREEN_BACK || graph == SCREEN_FRONT) {
        return GetScreenSize(width, height);
    }
    const GraphRecord *record = GetGraphRecord(graph);
    if (record == NULL) {
        return -1;
    }
    if (width != NULL) {
        *width = record->width;
    }
    if (height != NULL) {
        *height = record->height;
    }
    return 0;
}

int QueryScreenState(int *width, int *height, int *colorBits)
{
    int screenWidth, screenHeight;
    GetScreenSize(&screenWidth, &screenHeight);
    if (GetLowResolutionEmulation()) {
        screenWidth = 320;
        screenHeight = 240;
    }
    if (width != NULL) {
        *width = screenWidth;
    }
    if (height != NULL) {
        *height = screenHeight;
    }
    if (colorBits != NULL) {
        *colorBits = GetScreenColorBits();
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Filtering and the blend graph.

int SetDrawFilterMode(int mode)
{
    if (g_DrawState.suspended || mode == g_DrawState.filterMode) {
        return 0;
    }
    if (mode < 0 || mode > 2) {
        return -1;
    }
    g_DrawState.filterMode = mode;
    if (IsDeviceMode()) {
        SetDeviceFilterMode(mode);
    }
    return 0;
}

int GetDrawFilterMode(void)
{
    return g_DrawState.filterMode;
}

static void StoreBlendGraph(DrawState *state, int graph, int border, int range, const TexturePiece *piece)
{
    state->blendGraph = graph;
    state->blendBorder = ClampInt(border, 0, 255);
    state->blendRange = ClampInt(range, 0, 255);
    if (piece != NULL) {
        state->blendGraphWidth = (float)piece->textureWidth;
        state->blendGraphHeight = (float)piece->textureHeight;
        state->blendGraphInverseWidth = 1.0f / state->blendGraphWidth;
        state->blendGraphInverseHeight = 1.0f / state->blendGraphHeight;
    }
}

// Every check comes before anything is stored, so a refused call leaves the setting and the device as they were.
int SelectBlendGraph(int graph, int border, int range)
{
    DrawState *state = &g_DrawState;
    if (state->suspended ||
        (graph == state->blendGraph && border == state->blendBorder && range == state->blendRange)) {
        return 0;
    }
    if (graph != -1 && GetGraphRecord(graph) == NULL) {
        return -1;
    }
    WaitWhileInactive();
    GraphRecord *record = GetGraphRecord(graph); // again: the wait may have let it go
    if (graph != -1 && record == NULL) {
        return -1;
    }
    if (!IsDeviceMode()) {
        StoreBlendGraph(state, graph, border, range, NULL);
        state->blendImage = record != NULL ? &record->view : NULL;
        BuildFadeTable(state->blendBorder, state->blendRange);
        SyncSoftwareDrawSettings();
        return 0;
    }
    IDirect3DBaseTexture9 *texture = ResolveGraphTexture(graph);
    if (g_StateCache.device == NULL || (record != NULL && texture == NULL)) {
        return -1;
    }
    StoreBlendGraph(state, graph, border, range, record != NULL ? &record->image->pieces[0] : NULL);
    SyncSoftwareDrawSettings();
    return SetDeviceBlendGraph(texture, state->blendBorder, state->blendRange);
}

// ---------------------------------------------------------------------------------------------------------------
// Draw area and draw target.

int GetBlendGraphSettings(int *graph, int *border, int *range)
{
    *graph = g_DrawState.blendGraph;
    *border = g_DrawState.blendBorder;
    *range = g_DrawState.blendRange;
    return 0;
}

int SetDrawClipArea(int x1, int y1, int x2, int y2)
{
    DrawState *state = &g_DrawState;
    if (state->suspended) {
        return 0;
    }
    if (state->maskInUse) {
        CloseMaskPass();
    }
    SetRect(&state->requestedArea, x1, y1, x2, y2);
    int width, height;
    if (QueryGraphSize(state->drawTarget, &width, &height) != 0) {
        return -1;
    }
    RECT area;
    area.left = ClampInt(x1 < x2 ? x1 : x2, 0, width);
    area.right = ClampInt(x1 < x2 ? x2 : x1, 0, width);
    area.top = ClampInt(y1 < y2 ? y1 : y2, 0, height);
    area.bottom = ClampInt(y1 < y2 ? y2 : y1, 0, height);
    state->drawArea = area;
    state->drawAreaX1 = (float)area.left;
    state->drawAreaY1 = (float)area.top;
    state->drawAreaX2 = (float)area.right;
    state->drawAreaY2 = (float)area.bottom;
    state->emptyArea = area.right == area.left || area.bottom == area.top;
    SyncSoftwareDrawSettings();
    if (state->emptyArea) {
        return 0;
    }
    SetDrawAreaTransforms(&area);
    if (!IsDeviceMode()) {
        return 0;
    }
    if (g_StateCache.device == NULL) {
        return -1;
    }
    SetDeviceViewportRect(area.left, area.top, area.right, area.bottom);
    SetDeviceScissorRect(&area);
    return ApplyDeviceProjection();
}

static int IsScreenTarget(int target)
{
    return target == SCREEN_BACK || target == SCREEN_FRONT || target == SCREEN_EXTRA_1 || target == SCREEN_EXTRA_2;
}

GraphRecord *GetDrawableGraph(int graph)
{
    GraphRecord *record = GetGraphRecord(graph);
    return record != NULL && record->image != NULL && record->image->format.renderTarget ? record : NULL;
}

IDirect3DSurface9 *GetScreenSurface(void)
{
    return g_D3D.subBackBuffer != NULL ? g_D3D.subBackBuffer : g_D3D.backBuffer;
}

IDirect3DSurface9 *GetGraphRenderSurface(const GraphRecord *graph)
{
    const TexturePiece *piece = &graph->image->pieces[0];
    return piece->multiSampleSurface != NULL ? piece->multiSampleSurface : piece->surface;
}

// What a draw target draws into on the device: a graph's render surface with its own depth surface, else the
// engine's Z buffer when that covers the surface, else none (a smaller depth buffer would make every draw fail);
// a screen's sub back buffer (once the flip made one) or back buffer with the Z buffer.
static void ResolveDeviceTargetSurfaces(const GraphRecord *graph, IDirect3DSurface9 **surface,
                                        IDirect3DSurface9 **depth)
{
    if (graph == NULL) {
        *surface = GetScreenSurface();
        *depth = g_D3D.zBuffer;
        return;
    }
    const TexturePiece *piece = &graph->image->pieces[0];
    *surface = GetGraphRenderSurface(graph);
    int covered = piece->textureWidth <= g_D3D.zBufferWidth && piece->textureHeight <= g_D3D.zBufferHeight;
    *depth = piece->depthSurface != NULL ? piece->depthSurface : covered ? g_D3D.zBuffer : NULL;
}

// A graph drawn through a separate (multisample) surface shows what was drawn only once that surface is copied
// into its texture: done when drawing moves elsewhere.
static void ResolveGraphTargetSurface(int target)
{
    const GraphRecord *graph = GetDrawableGraph(target);
    if (graph == NULL || !graph->image->format.deviceTexture) {
        return;
    }
    const TexturePiece *piece = &graph->image->pieces[0];
    if (piece->multiSampleSurface != NULL && piece->surface != NULL) {
        g_StateCache.device->StretchRect(piece->multiSampleSurface, NULL, piece->surface, NULL, D3DTEXF_NONE);
    }
}

// Device side of selecting a target: the pending batch drawn, the texture unbound (it may be the new target's
// own), the old graph target's drawing resolved into its texture, the new surfaces bound. -1, with nothing
// changed, for a graph whose surfaces went with the device.
static int SelectDeviceTarget(const GraphRecord *graph)
{
    IDirect3DSurface9 *surface, *depth;
    ResolveDeviceTargetSurfaces(graph, &surface, &depth);
    if (graph != NULL && (g_StateCache.device == NULL || surface == NULL)) {
        return -1;
    }
    FlushVertexBatch();
    EndSceneIfNeeded();
    if (g_StateCache.texture != NULL || g_StateCache.force) {
        SetDeviceTexture(NULL);
    }
    if (g_StateCache.device != NULL) {
        ResolveGraphTargetSurface(g_DrawState.drawTarget);
        SetDeviceRenderTarget(surface);
        g_StateCache.device->SetDepthStencilSurface(depth);
    }
    return 0;
}

int SetDrawTarget(int target)
{
    if (!IsGraphicsInitialised()) {
        return -1;
    }
    WaitWhileInactive();
    return SelectDrawTarget(target); // after the wait, which may have let the graph go
}

int SelectDrawTarget(int target)
{
    DrawState *state = &g_DrawState;
    GraphRecord *graph = GetDrawableGraph(target);
    if (!IsScreenTarget(target) && graph == NULL) {
        return -1;
    }
    if (IsDeviceMode()) {
        if (SelectDeviceTarget(graph) != 0) {
            return -1;
        }
    } else {
        state->softwareTarget = graph != NULL ? &graph->view : GetSoftwareScreen();
    }
    state->drawTarget = target;
    if (state->maskInUse) {
        SetMaskScreenInUse(1); // drawing goes on into the mask copy of the new target
    }
    if (target == SCREEN_FRONT && GetAppWindowHandle() != NULL) {
        SetTimer(GetAppWindowHandle(), FRONT_SCREEN_TIMER_ID, FRONT_SCREEN_TIMER_PERIOD, FrontScreenTimerProc);
    }
    // Graphs and the back and front screens have a size the draw area knows; the two further screens keep the old.
    int width, height;
    if (QueryGraphSize(target, &width, &height) == 0) {
        if (width != state->drawScreenWidth || height != state->drawScreenHeight) {
            state->drawScreenWidth = width;
            state->drawScreenHeight = height;
            SetDrawClipArea(0, 0, width, height);
        } else {
            SetDrawClipArea(state->drawArea.left, state->drawArea.top, state->drawArea.right, state->drawArea.bottom);
        }
    }
    ResetTargetTransforms(state->drawScreenWidth, state->drawScreenHeight);
    SyncSoftwareDrawSettings();
    return 0;
}

int GetDrawTarget(void)
{
    return g_DrawState.drawTarget;
}

// ---------------------------------------------------------------------------------------------------------------
// Fog: stored here, sent through the cache on the device (whose copy may differ after a device change).

int SetFogMode(int mode)
{
    if (mode == g_DrawState.fogMode && (!IsDeviceMode() || mode == g_StateCache.fogMode)) {
        return 0;
    }
    g_DrawState.fogMode = mode;
    if (IsDeviceMode()) {
        FlushVertexBatch();
        SetDeviceFogMode(mode);
    }
    return 0;
}

int SetFogColor(int red, int green, int blue)
{
    unsigned int color = 0xFF000000u | (unsigned int)ClampInt(red, 0, 255) << 16 |
                         (unsigned int)ClampInt(green, 0, 255) << 8 | (unsigned int)ClampInt(blue, 0, 255);
    if (color == g_DrawState.fogColor && (!IsDeviceMode() || (int)color == g_StateCache.fogColor)) {
        return 0;
    }
    g_DrawState.fogColor = color;
    if (IsDeviceMode()) {
        FlushVertexBatch();
        SetDeviceFogColor((int)color);
    }
    return 0;
}

int SetFogStartEnd(float start, float end)
{
    const DeviceStateCache *cache = &g_StateCache;
    if (start == g_DrawState.fogStart && end == g_DrawState.fogEnd &&
        (!IsDeviceMode() || (start == cache->fogStart && end == cache->fogEnd))) {
        return 0;
    }
    g_DrawState.fogStart = start;
    g_DrawState.fogEnd = end;
    if (IsDeviceMode()) {
        FlushVertexBatch();
        SetDeviceFogStartEnd(start, end);
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Device release and the reset.

int ReleaseGraphicsDevice(void)
{
    if (!IsDeviceMode()) {
        return 0;
    }
    ReleaseMaskSurfaces();
    ReleaseDeviceObjects();
    if (g_D3D.device != NULL) {
        g_D3D.device->Release(); // the 9Ex interface is the same object
        g_D3D.device = NULL;
        g_D3D.deviceEx = NULL;
        g_StateCache.device = NULL;
    }
    return 0;
}

static void SetCameraDefaults(DrawState *state)
{
    state->nearZ = 10.0f;
    state->farZ = 10000.0f;
    state->projectionKind = 0;
    state->aspectFactor = 1.0f;
    state->fieldOfView = 1.0471976f;
    state->orthoSize = 1.0f;
    MakeIdentityMatrix(&state->storedProjection);
    state->viewportScale = 1.0f;
}

static void SetStateDefaults(DrawState *state)
{
    state->blendGraph = -1;
    for (int sampler = 0; sampler < 8; sampler++) {
        state->addressU[sampler] = D3DTADDRESS_CLAMP;
        state->addressV[sampler] = D3DTADDRESS_CLAMP;
        state->addressW[sampler] = D3DTADDRESS_CLAMP;
    }
    state->screenZ = 0.2f;
    state->z2D.function = D3DCMP_LESSEQUAL;
    state->z3D.function = D3DCMP_LESSEQUAL;
    state->maxAnisotropy = 1;
    state->fillMode = D3DFILL_SOLID;
    state->alphaTestFunc = -1;
    state->brightness = 0xFFFFFF;
    state->fogMode = D3DFOG_LINEAR;
    state->fogColor = 0xFFFFFFFFu;
    state->fogEnd = 1500.0f;
}

// The camera defaults go in before the draw target is selected, because selecting it builds the camera from them
// (its own near, far and field of view then stand, matching the matrices it makes).
int ResetDrawSettings(void)
{
    DrawState *state = &g_DrawState;
    int suspended = state->suspended;
    memset(state, 0, sizeof(*state));
    state->suspended = suspended;
    state->resetting = 1;
    SetStateDefaults(state);
    SetCameraDefaults(state);
    ResetGraphCreateSettings();
    RefreshDrawColorWord();
    state->drawTarget = SCREEN_BACK;
    SetDrawTarget(SCREEN_FRONT);
    SetDrawClipArea(0, 0, state->drawScreenWidth, state->drawScreenHeight);
    CreateDefaultLight(); // the material defaults come with the light table
    state->suspended = 0;
    state->resetting = 0;
    SyncSoftwareDrawSettings();
    return 0;
}
