// Direct3D device creation: d3d9.dll, the DirectDraw object that serves the vertical-blank waits, the Direct3D
// object (9Ex first, else 9), the device with its first clears, caps and log lines, the Z buffer and the timing of
// the back-buffer read-back; or the decision that the software screen draws. Any failure between the Direct3D
// object and the Z buffer leaves no device behind. Window thread only.
#include "graphics/graphics_test_hooks.h"

#define DIRECT3D_SDK_VERSION 32
#define WINDOWS_VISTA_ID 0x108
#define BACK_BUFFER_LOCK_SIDE 256
#define BACK_BUFFER_LOCK_PASSES 3

Direct3DGlobals g_D3D;

static Direct3DCreate9Function s_Create9Hook;
static Direct3DCreate9ExFunction s_Create9ExHook;
static int s_ForcePlainDirect3D9;

int SetDirect3DCreateHooks(Direct3DCreate9Function create9, Direct3DCreate9ExFunction create9Ex)
{
    s_Create9Hook = create9;
    s_Create9ExHook = create9Ex;
    return 0;
}

int SetForcePlainDirect3D9(int flag)
{
    s_ForcePlainDirect3D9 = flag;
    return 0;
}

// A full screen on Vista or later that shows a 320x240 picture runs a windowed device on a display switched through
// the display settings.
static int UsesWindowedFullScreen(void)
{
    return !IsWindowedMode() && g_SystemInformation.windowsVersionId >= WINDOWS_VISTA_ID &&
           (GetLowResolutionEmulation() || GetLowResScaledFlag());
}

static D3DCOLOR BackgroundColor(void)
{
    int red, green, blue;
    GetBackgroundColor(&red, &green, &blue);
    return D3DCOLOR_XRGB(red, green, blue);
}

template <typename Function> static Function LibraryEntry(const char *name)
{
    return (Function)(void (*)(void))GetProcAddress(g_D3D.d3d9Library, name);
}

// ---------------------------------------------------------------------------------------------------------------
// DirectDraw and Direct3D objects.

int CreateDirectDrawObject(void)
{
    if (g_D3D.directDraw != NULL) {
        g_D3D.directDraw->Release();
        g_D3D.directDraw = NULL;
    }
    AddLog("DirectDraw オブジェクトの取得を行います....  ");
    IDirectDraw7 *directDraw = NULL;
    if (FAILED(CoCreateInstance(CLSID_DirectDraw7, NULL, CLSCTX_ALL, IID_IDirectDraw7, (void **)&directDraw))) {
        AddLog("オブジェクトの取得に失敗しました\n");
        return -1;
    }
    AddLog("成功\n");
    AddLog("引き続き初期化処理... ");
    if (FAILED(directDraw->Initialize(NULL))) {
        AddLog("DirectDrawオブジェクトの初期化に失敗しました\n");
        directDraw->Release();
        return -1;
    }
    AddLog("初期化に成功しました\n");
    // The normal level needs no window, and none is given: DirectDraw only waits for the vertical blank here. Given
    // the main window, it puts a drawing surface of its own pixel format on it, which the device's presents then
    // switch back and forth (under Wine a repaint after every present and most of a frame's time).
    directDraw->SetCooperativeLevel(NULL, DDSCL_NORMAL);
    g_D3D.directDraw = directDraw;
    return 0;
}

static int CreateDirect3D9Ex(void)
{
    Direct3DCreate9ExFunction create = s_Create9ExHook;
    if (create == NULL) {
        create = LibraryEntry<Direct3DCreate9ExFunction>("Direct3DCreate9Ex");
    }
    IDirect3D9Ex *direct3D = NULL;
    if (s_ForcePlainDirect3D9 || create == NULL || FAILED(create(DIRECT3D_SDK_VERSION, &direct3D)) ||
        direct3D == NULL) {
        return -1;
    }
    g_D3D.direct3DEx = direct3D;
    g_D3D.direct3D = direct3D;
    return 0;
}

int CreateDirect3DObject(void)
{
    if (g_D3D.direct3D != NULL) {
        g_D3D.direct3D->Release();
        g_D3D.direct3D = NULL;
        g_D3D.direct3DEx = NULL;
    }
    AddLog("IDirect3D9Ex オブジェクトを取得します.... ");
    if (CreateDirect3D9Ex() == 0) {
        AddLog("成功\n");
        return 0;
    }
    AddLog("IDirect3D9 オブジェクトを取得します.... ");
    Direct3DCreate9Function create = s_Create9Hook;
    if (create == NULL) {
        create = LibraryEntry<Direct3DCreate9Function>("Direct3DCreate9");
    }
    if (create == NULL) {
        AddLog("Direct3DCreate9 APIのアドレス取得に失敗しました\n");
        return -1;
    }
    g_D3D.direct3D = create(DIRECT3D_SDK_VERSION);
    if (g_D3D.direct3D == NULL) {
        AddLog("IDirect3D9 オブジェクトの取得に失敗しました\n");
        return -1;
    }
    AddLog("成功\n");
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// The device.

static int ColorBitsOfFormat(D3DFORMAT format)
{
    switch (format) {
    case D3DFMT_X8R8G8B8:
        return 32;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
        return 16;
    default:
        return 0;
    }
}

// Window mode takes the desktop's format and depth; a full screen takes the format of its colour bits.
static int FillPresentParameters(D3DPRESENT_PARAMETERS *parameters, D3DDISPLAYMODEEX *mode)
{
    int width, height;
    GetScreenSize(&width, &height);
    MemFill(parameters, 0, sizeof(*parameters));
    parameters->BackBufferWidth = (UINT)width;
    parameters->BackBufferHeight = (UINT)height;
    parameters->BackBufferCount = 1;
    parameters->MultiSampleType = D3DMULTISAMPLE_NONE;
    parameters->SwapEffect = D3DSWAPEFFECT_COPY;
    parameters->hDeviceWindow = GetAppWindowHandle();
    parameters->EnableAutoDepthStencil = FALSE;
    parameters->Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    parameters->PresentationInterval = GetWaitVerticalBlank() ? D3DPRESENT_INTERVAL_ONE : D3DPRESENT_INTERVAL_IMMEDIATE;
    if (IsWindowedMode()) {
        D3DDISPLAYMODE desktop;
        MemFill(&desktop, 0, sizeof(desktop));
        g_D3D.direct3D->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &desktop);
        parameters->Windowed = TRUE;
        parameters->BackBufferFormat = desktop.Format;
        int bits = ColorBitsOfFormat(desktop.Format);
        if (bits != 0) {
            SetScreenModeSettings(bits, GetScreenRefreshRate());
        }
        EnableDesktopComposition(1);
        return 0;
    }
    parameters->BackBufferFormat = ChooseBackBufferFormat(g_D3D.direct3D, GetScreenColorBits());
    if (parameters->BackBufferFormat == D3DFMT_UNKNOWN) {
        return -1;
    }
    if (UsesWindowedFullScreen()) {
        parameters->Windowed = TRUE;
        return 0;
    }
    parameters->Windowed = FALSE;
    RecordDesktopDisplayMode(); // the exclusive device switches the display itself
    parameters->FullScreen_RefreshRateInHz = (UINT)GetScreenRefreshRate();
    MemFill(mode, 0, sizeof(*mode));
    mode->Size = sizeof(*mode);
    mode->Width = (UINT)width;
    mode->Height = (UINT)height;
    mode->RefreshRate = (UINT)GetScreenRefreshRate();
    mode->Format = parameters->BackBufferFormat;
    mode->ScanLineOrdering = D3DSCANLINEORDERING_PROGRESSIVE;
    EnableDesktopComposition(0);
    if (GetBoundEntry(BOUND_DWMAPI, 0) != NULL) {
        AddLog("Desktop Window Manager を無効にしました\n");
    }
    return 0;
}

static HRESULT CallCreateDevice(DWORD behaviour, D3DPRESENT_PARAMETERS *parameters, D3DDISPLAYMODEEX *mode)
{
    HWND window = GetAppWindowHandle();
    if (g_D3D.direct3DEx == NULL) {
        return g_D3D.direct3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, behaviour, parameters,
                                            &g_D3D.device);
    }
    IDirect3DDevice9Ex *device = NULL;
    HRESULT result = g_D3D.direct3DEx->CreateDeviceEx(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, behaviour, parameters,
                                                      parameters->Windowed ? NULL : mode, &device);
    if (SUCCEEDED(result)) {
        g_D3D.deviceEx = device;
        g_D3D.device = device;
    }
    return result;
}

// The first try takes mixed vertex processing on a shader-capable card; a refusal is tried once more with software
// vertex processing. The log names the processing the device really got.
static int MakeDevice(D3DPRESENT_PARAMETERS *parameters, D3DDISPLAYMODEEX *mode)
{
    int ex = g_D3D.direct3DEx != NULL;
    AddLog(ex ? "IDirect3DDevice9Ex オブジェクトを取得します.... " : "IDirect3DDevice9 オブジェクトを取得します.... ");
    DWORD behaviour = g_D3D.shaderCapable ? D3DCREATE_MIXED_VERTEXPROCESSING : D3DCREATE_SOFTWARE_VERTEXPROCESSING;
    HRESULT result = CallCreateDevice(behaviour, parameters, mode);
    if (FAILED(result)) {
        g_D3D.shaderCapable = 0;
        behaviour = D3DCREATE_SOFTWARE_VERTEXPROCESSING;
        result = CallCreateDevice(behaviour, parameters, mode);
    }
    if (FAILED(result)) {
        AddLog(ex ? "Direct3DDevice9Ex の作成に失敗しました\n" : "Direct3DDevice9 の作成に失敗しました\n");
        return -1;
    }
    AddLog(behaviour == D3DCREATE_MIXED_VERTEXPROCESSING ? "ハードウエア頂点演算を使用します\n"
                                                         : "ソフトウエア頂点演算を使用します\n");
    if (ex) {
        g_D3D.deviceEx->SetMaximumFrameLatency(1);
    }
    g_StateCache.device = g_D3D.device;
    return 0;
}

// Both buffers of the flip chain start in the background colour.
static void ClearNewScreens(void)
{
    D3DCOLOR color = BackgroundColor();
    for (int i = 0; i < 4; i++) {
        g_D3D.device->Clear(0, NULL, D3DCLEAR_TARGET, color, 1.0f, 0);
        if (i < 3) {
            g_D3D.device->Present(NULL, NULL, NULL, NULL);
        }
    }
}

static void ReadDeviceCaps(void)
{
    D3DCAPS9 *caps = &g_D3D.caps;
    g_D3D.device->GetDeviceCaps(caps);
    g_D3D.tempRegisterArgument = (caps->PrimitiveMiscCaps & D3DPMISCCAPS_TSSARGTEMP) != 0;
    g_D3D.blendOperations = (caps->PrimitiveMiscCaps & D3DPMISCCAPS_BLENDOP) != 0;
    g_D3D.nonPowerOfTwoAllowed = (caps->TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL) != 0;
    g_D3D.powerOfTwoOnly = (caps->TextureCaps & D3DPTEXTURECAPS_POW2) != 0;
    g_D3D.maxTextureWidth = caps->MaxTextureWidth != 0 ? (int)caps->MaxTextureWidth : 256;
    g_D3D.maxTextureHeight = caps->MaxTextureHeight != 0 ? (int)caps->MaxTextureHeight : 256;
    g_D3D.maxTextureSquare =
        g_D3D.maxTextureWidth < g_D3D.maxTextureHeight ? g_D3D.maxTextureWidth : g_D3D.maxTextureHeight;
    g_D3D.vertexShaderUsable = g_D3D.shaderCapable && caps->VertexShaderVersion >= D3DVS_VERSION(2, 0);
    g_D3D.pixelShaderUsable = g_D3D.shaderCapable && caps->PixelShaderVersion >= D3DPS_VERSION(2, 0);
}

static int ReadBackBufferFormat(void)
{
    D3DADAPTER_IDENTIFIER9 identifier;
    MemFill(&identifier, 0, sizeof(identifier));
    g_D3D.direct3D->GetAdapterIdentifier(D3DADAPTER_DEFAULT, 0, &identifier);
    LogFormatLine("Driver:%s  Description:%s", identifier.Driver, identifier.Description);
    D3DSURFACE_DESC description;
    if (FAILED(g_D3D.backBuffer->GetDesc(&description))) {
        return -1;
    }
    g_D3D.backBufferFormat = description.Format;
    if (ColorBitsOfFormat(description.Format) != 0 && description.Format != D3DFMT_A1R5G5B5) {
        LogFormatLine("画面のフォーマットは %s です", GetD3DFormatName(description.Format));
    } else {
        LogFormatLine("バックバッファが対応していないフォーマット %d です", (int)description.Format);
    }
    return 0;
}

static void LogDeviceCaps(void)
{
    LogFormatLine("最大テクスチャサイズ　幅:%d 高さ:%d", g_D3D.maxTextureWidth, g_D3D.maxTextureHeight);
    LogFormatLine("テクスチャステージテンポラリレジスタ：%s", g_D3D.tempRegisterArgument ? "使用可" : "使用不可");
    LogFormatLine("減算合成のハードウェア対応：%s", g_D3D.blendOperations ? "ネイティブ" : "エミュレート");
    LogFormatLine("頂点シェーダーバージョンコード：%x", (unsigned int)g_D3D.caps.VertexShaderVersion);
    LogFormatLine("ピクセルシェーダーバージョンコード：%x", (unsigned int)g_D3D.caps.PixelShaderVersion);
}

// ---------------------------------------------------------------------------------------------------------------
// Back-buffer read-back timing: locking the back buffer against copying it through a render target.

// Copies `rows` rows of `rowBytes` from a read-only lock of the surface; -1 when it cannot be locked.
static int CopySurfaceRows(IDirect3DSurface9 *surface, const RECT *area, const D3DLOCKED_RECT *into, int rowBytes,
                           int rows)
{
    D3DLOCKED_RECT from;
    if (FAILED(surface->LockRect(&from, area, D3DLOCK_READONLY))) {
        return -1;
    }
    for (int y = 0; y < rows; y++) {
        MemCopy((unsigned char *)into->pBits + y * into->Pitch, (const unsigned char *)from.pBits + y * from.Pitch,
                (size_t)rowBytes);
    }
    surface->UnlockRect();
    return 0;
}

struct ReadBackPass {
    int side, rowBytes;
    IDirect3DSurface9 *lockCopy, *target, *targetCopy;
    LONGLONG lockTime, targetTime; // microseconds; -1 when that way failed
};

static void TimeReadBackWays(ReadBackPass *pass, const D3DLOCKED_RECT *into)
{
    RECT area = {0, 0, pass->side, pass->side};
    LONGLONG start = GetNowMicroCount(0);
    if (CopySurfaceRows(g_D3D.backBuffer, &area, into, pass->rowBytes, pass->side) == 0) {
        pass->lockTime = GetNowMicroCount(0) - start;
    }
    if (pass->target == NULL || pass->targetCopy == NULL) {
        return;
    }
    start = GetNowMicroCount(0);
    if (SUCCEEDED(g_D3D.device->StretchRect(g_D3D.backBuffer, &area, pass->target, NULL, D3DTEXF_NONE)) &&
        SUCCEEDED(g_D3D.device->GetRenderTargetData(pass->target, pass->targetCopy)) &&
        CopySurfaceRows(pass->targetCopy, NULL, into, pass->rowBytes, pass->side) == 0) {
        pass->targetTime = GetNowMicroCount(0) - start;
    }
}

static void ReleaseSurface(IDirect3DSurface9 **surface)
{
    if (*surface != NULL) {
        (*surface)->Release();
        *surface = NULL;
    }
}

static void RunReadBackPass(ReadBackPass *pass)
{
    D3DFORMAT format = g_D3D.backBufferFormat;
    UINT side = (UINT)pass->side;
    pass->lockTime = pass->targetTime = -1;
    IDirect3DDevice9 *device = g_D3D.device;
    if (FAILED(device->CreateOffscreenPlainSurface(side, side, format, D3DPOOL_SYSTEMMEM, &pass->lockCopy, NULL))) {
        pass->lockCopy = NULL;
        return;
    }
    if (FAILED(device->CreateRenderTarget(side, side, format, D3DMULTISAMPLE_NONE, 0, FALSE, &pass->target, NULL))) {
        pass->target = NULL;
    }
    if (FAILED(device->CreateOffscreenPlainSurface(side, side, format, D3DPOOL_SYSTEMMEM, &pass->targetCopy, NULL))) {
        pass->targetCopy = NULL;
    }
    D3DLOCKED_RECT into;
    if (SUCCEEDED(pass->lockCopy->LockRect(&into, NULL, 0))) {
        TimeReadBackWays(pass, &into);
        pass->lockCopy->UnlockRect();
    }
    ReleaseSurface(&pass->targetCopy);
    ReleaseSurface(&pass->target);
    ReleaseSurface(&pass->lockCopy);
}

static void MeasureBackBufferLock(void)
{
    int width, height;
    GetScreenSize(&width, &height);
    const PixelFormat *format = GetD3DFormatPixelFormat(g_D3D.backBufferFormat);
    ReadBackPass pass;
    MemFill(&pass, 0, sizeof(pass));
    pass.side = BACK_BUFFER_LOCK_SIDE;
    while (pass.side > width || pass.side > height) {
        pass.side /= 2;
    }
    pass.rowBytes = pass.side * (format != NULL ? format->bytesPerPixel : 4);
    for (int i = 0; i < BACK_BUFFER_LOCK_PASSES; i++) {
        RunReadBackPass(&pass);
    }
    g_D3D.backBufferLockFaster = 0;
    if (pass.lockTime < 0) {
        AddLog("バックバッファロックはロックできません\n");
        return;
    }
    LogFormatLine("バックバッファロック転送の時間:%dnsec  一時的な描画可能バッファを使用した転送の時間:%dnsec",
                  (int)pass.lockTime, (int)pass.targetTime);
    g_D3D.backBufferLockFaster = pass.targetTime < 0 || pass.lockTime < pass.targetTime;
    AddLog(g_D3D.backBufferLockFaster ? "バックバッファロックを使用します\n" : "バックバッファロックを使用しません\n");
}

// ---------------------------------------------------------------------------------------------------------------

static int ReadDeviceSetup(void)
{
    if (FAILED(g_D3D.device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &g_D3D.backBuffer)) ||
        FAILED(g_D3D.device->GetSwapChain(0, &g_D3D.swapChain))) {
        return -1;
    }
    AddLog("成功\n");
    ReadDeviceCaps();
    if (ReadBackBufferFormat() != 0) {
        return -1;
    }
    g_D3D.zFormat = ChooseZFormat(g_D3D.direct3D, g_D3D.backBufferFormat);
    if (g_D3D.zFormat == D3DFMT_UNKNOWN ||
        ChooseGraphFormats(g_D3D.direct3D, g_D3D.backBufferFormat, GetScreenColorBits()) != 0) {
        return -1;
    }
    LogDeviceCaps();
    MeasureBackBufferLock();
    return 0;
}

int CreateDirect3DDevice(void)
{
    if (g_D3D.direct3D == NULL) {
        return -1;
    }
    if (g_D3D.device != NULL) {
        ReleaseDevice("Direct3DDevice9 の解放 1\n");
    }
    D3DPRESENT_PARAMETERS parameters;
    D3DDISPLAYMODEEX mode;
    if (FillPresentParameters(&parameters, &mode) != 0) {
        return -1;
    }
    D3DCAPS9 adapterCaps;
    MemFill(&adapterCaps, 0, sizeof(adapterCaps));
    g_D3D.direct3D->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &adapterCaps);
    g_D3D.shaderCapable =
        adapterCaps.VertexShaderVersion >= D3DVS_VERSION(2, 0) && adapterCaps.PixelShaderVersion >= D3DPS_VERSION(2, 0);
    if (MakeDevice(&parameters, &mode) != 0) {
        return -1;
    }
    MeasureVerticalBlankPeriod();
    g_StateCache.vertexShader = NULL;
    g_StateCache.pixelShader = NULL;
    g_StateCache.fvf = 0;
    g_D3D.device->SetRenderState(D3DRS_ZENABLE, TRUE);
    ClearNewScreens();
    return ReadDeviceSetup();
}

static int PowerOfTwoAtLeast(int value)
{
    int size = 1;
    while (size < value) {
        size *= 2;
    }
    return size;
}

int CreateZBuffer(void)
{
    if (g_D3D.device == NULL) {
        return -1;
    }
    ReleaseSurface(&g_D3D.zBuffer);
    AddLog("Ｚバッファを作成します.... ");
    int width, height;
    GetScreenSize(&width, &height);
    g_D3D.zBufferWidth = PowerOfTwoAtLeast(width);
    g_D3D.zBufferHeight = PowerOfTwoAtLeast(height);
    if (FAILED(g_D3D.device->CreateDepthStencilSurface((UINT)g_D3D.zBufferWidth, (UINT)g_D3D.zBufferHeight,
                                                       g_D3D.zFormat, D3DMULTISAMPLE_NONE, 0, TRUE, &g_D3D.zBuffer,
                                                       NULL))) {
        g_D3D.zBuffer = NULL;
        AddLog("Ｚバッファの作成に失敗しました\n");
        return -1;
    }
    g_D3D.device->SetDepthStencilSurface(g_D3D.zBuffer);
    g_D3D.device->Clear(0, NULL, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    AddLog("成功\n");
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------

static int TryDeviceMode(void)
{
    if (UsesWindowedFullScreen() && ChangeDisplayModeForFullScreen() != 0) {
        return -1;
    }
    if (CreateDirect3DObject() != 0 || CreateDirect3DDevice() != 0 || CreateZBuffer() != 0) {
        ReleaseDeviceChain("Direct3DDevice9 の解放 2\n");
        return -1;
    }
    g_D3D.deviceMode = 1;
    SetupShaders();
    if (g_StateCache.shadersAvailable) {
        CreateVertexDeclarations();
        CreateBrightnessVolumeTexture();
    }
    return 0;
}

int CreateGraphicsDevice(void)
{
    g_D3D.d3d9Library = LoadLibraryA("d3d9.dll");
    if (g_D3D.d3d9Library == NULL) {
        AddLog("d3d9.dll の読み込みに失敗しました\n");
        return -1;
    }
    if (CreateDirectDrawObject() != 0) {
        AddLog("Direct3D9 DLL の解放 3\n");
        FreeLibrary(g_D3D.d3d9Library);
        g_D3D.d3d9Library = NULL;
        return -1;
    }
    g_D3D.deviceMode = 0;
    if (GetUseDirect3D() && TryDeviceMode() == 0) {
        return 0;
    }
    // The software screen. A display that cannot be switched leaves nothing made behind: start-up fails and does not
    // pass through the release of a running system.
    if (!IsWindowedMode() && ChangeDisplayModeForFullScreen() != 0) {
        ReleaseDirect3DSystem();
        return -1;
    }
    MeasureVerticalBlankPeriod();
    return 0;
}
