// The mask screen's Direct3D objects: an alpha texture holding the mask (alpha = mask byte), a render-target
// texture that drawing reaches while the mask is in use, and the write-back quad that copies it to the real target
// where the alpha test lets the mask through. Window thread only.
#include "graphics/graphics_internal.h"

struct MaskDeviceObjects {
    IDirect3DTexture9 *image;  // the mask, in the alpha channel
    IDirect3DTexture9 *screen; // what drawing reaches while the mask is in use
    IDirect3DSurface9 *screenSurface;
    int width, height; // of both textures
};

static MaskDeviceObjects s_Objects;

static int PowerOfTwoAtLeast(int value)
{
    int power = 1;
    while (power < value) {
        power <<= 1;
    }
    return power;
}

// The surface the draw target really is: a drawable graph's, else the (sub) back buffer.
static IDirect3DSurface9 *RealDeviceSurface(void)
{
    const GraphRecord *graph = GetDrawableGraph(g_DrawState.drawTarget);
    if (graph != NULL) {
        return GetGraphRenderSurface(graph);
    }
    return GetScreenSurface();
}

// The mask bytes of a rectangle into the image texture's alpha.
static int UploadMaskRect(const RECT *rect, const unsigned char *mask, int pitch)
{
    D3DLOCKED_RECT locked;
    if (FAILED(s_Objects.image->LockRect(0, &locked, rect, 0))) {
        return -1;
    }
    for (int y = rect->top; y < rect->bottom; y++) {
        uint32_t *row = (uint32_t *)((char *)locked.pBits + (y - rect->top) * locked.Pitch);
        for (int x = rect->left; x < rect->right; x++) {
            row[x - rect->left] = mask != NULL ? (uint32_t)mask[y * pitch + x] << 24 : 0;
        }
    }
    s_Objects.image->UnlockRect(0);
    return 0;
}

int CreateMaskDeviceObjects(int screenWidth, int screenHeight)
{
    IDirect3DDevice9 *device = g_D3D.device;
    // The formats device start found: the screen's render-target format, and the 32-bit alpha one the mask is kept in.
    if (g_D3D.screenTargetFormat == D3DFMT_UNKNOWN) {
        FatalErrorExit("マスク描画用カラーバッファで使用できるテクスチャフォーマットがありませんでした");
        return -1;
    }
    if (g_D3D.graphFormats[GRAPH_FORMAT_ALPHA_32] != D3DFMT_A8R8G8B8) {
        FatalErrorExit("マスク描画用アルファチャンネルバッファで使用できるテクスチャフォーマットがありませんでした");
        return -1;
    }
    s_Objects.width = PowerOfTwoAtLeast(screenWidth);
    s_Objects.height = PowerOfTwoAtLeast(screenHeight);
    if (s_Objects.image == NULL) {
        if (FAILED(device->CreateTexture(s_Objects.width, s_Objects.height, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8,
                                         D3DPOOL_DEFAULT, &s_Objects.image, NULL))) {
            FatalErrorExit("マスク用イメージテクスチャの作成に失敗しました");
            return -1;
        }
        RECT screen = {0, 0, screenWidth, screenHeight};
        UploadMaskRect(&screen, NULL, 0);
    }
    if (s_Objects.screen == NULL) {
        if (FAILED(device->CreateTexture(s_Objects.width, s_Objects.height, 1, D3DUSAGE_RENDERTARGET,
                                         g_D3D.screenTargetFormat, D3DPOOL_DEFAULT, &s_Objects.screen, NULL))) {
            FatalErrorExit("マスク用スクリーンテクスチャの作成に失敗しました");
            return -1;
        }
        s_Objects.screen->GetSurfaceLevel(0, &s_Objects.screenSurface);
    }
    return 0;
}

int ReleaseMaskSurfaces(void)
{
    if (s_Objects.screenSurface != NULL) {
        s_Objects.screenSurface->Release();
    }
    if (s_Objects.screen != NULL) {
        s_Objects.screen->Release();
    }
    if (s_Objects.image != NULL) {
        s_Objects.image->Release();
    }
    s_Objects = MaskDeviceObjects();
    return 0;
}

// Drawing goes to the mask screen (no depth surface: it would be smaller than the texture).
int SelectMaskDeviceTarget(void)
{
    FlushVertexBatch();
    SetDeviceRenderTarget(s_Objects.screenSurface);
    g_D3D.device->SetDepthStencilSurface(NULL);
    const RECT *area = &g_DrawState.drawArea;
    return SetDrawClipArea(area->left, area->top, area->right, area->bottom);
}

int CopyTargetToMaskScreen(const RECT *rect)
{
    FlushVertexBatch();
    EndSceneIfNeeded();
    g_D3D.device->StretchRect(RealDeviceSurface(), rect, s_Objects.screenSurface, rect, D3DTEXF_NONE);
    return 0;
}

static void ClearShaders(void)
{
    if (g_StateCache.vertexShader != NULL) {
        g_D3D.device->SetVertexShader(NULL);
        g_StateCache.vertexShader = NULL;
        g_StateCache.fvf = 0;
    }
    if (g_StateCache.pixelShader != NULL) {
        g_D3D.device->SetPixelShader(NULL);
        g_StateCache.pixelShader = NULL;
    }
}

// Stage 0 gives the mask's alpha, stage 1 the mask screen's colour; the alpha test passes where the mask is 0
// (or, reversed, where it is not).
static void ApplyWriteBackStates(int reverse, int bound)
{
    CustomStageRecord record = {};
    record.alphaTestEnable = 1;
    record.alphaRef = 0;
    record.alphaFunc = reverse ? D3DCMP_NOTEQUAL : D3DCMP_EQUAL;
    record.textureFactor = -1, record.srcBlend = -1, record.destBlend = -1, record.blendOp = -1;
    record.entries[0] = {
        bound ? s_Objects.image : NULL,
        -1,
        {0, 0, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1}};
    record.entries[1] = {
        bound ? s_Objects.screen : NULL,
        -1,
        {1, 0, D3DTA_CURRENT, D3DTA_TEXTURE, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1}};
    record.entries[2] = {NULL,
                         -1,
                         {2, 0, D3DTA_CURRENT, D3DTA_CURRENT, D3DTOP_DISABLE, D3DTA_CURRENT, D3DTA_CURRENT,
                          D3DTOP_DISABLE}}; // whatever stage 2 held ends here
    record.count = 3;
    ApplyStageRecord(&record, 0, 0);
}

int WriteBackMaskScreen(const RECT *rect, const unsigned char *mask, int pitch, int reverse)
{
    struct QuadVertex {
        float x, y, z, rhw, u0, v0, u1, v1;
    } quad[4];
    FlushVertexBatch();
    UploadMaskRect(rect, mask, pitch);
    SetDeviceRenderTarget(RealDeviceSurface());
    ClearShaders();
    ApplyWriteBackStates(reverse, 1);
    for (int i = 0; i < 4; i++) {
        const float x = (float)((i & 1) ? rect->right : rect->left), y = (float)((i & 2) ? rect->bottom : rect->top);
        // A quarter texel in: point sampling takes the pixel's own texel whether the rasteriser's pixel centre
        // falls on the texel's edge or on its centre.
        const float u = (x + 0.25f) / s_Objects.width, v = (y + 0.25f) / s_Objects.height;
        quad[i] = {x - 0.5f, y - 0.5f, 0.0f, 1.0f, u, v, u, v};
    }
    const int filterMode = g_StateCache.filterMode;
    SetDeviceFilterMode(0);
    BeginSceneIfNeeded();
    SetDeviceFVF(D3DFVF_XYZRHW | D3DFVF_TEX2);
    g_D3D.device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(QuadVertex));
    SetDeviceFilterMode(filterMode);
    ApplyWriteBackStates(reverse, 0); // the mask screen is drawn into next: not bound as a texture then
    return SelectMaskDeviceTarget();
}
