// Format choices of device creation: the full-screen back buffer by colour depth, the Z format, the sixteen graph
// format slots with their log lines, the pixel-format records of Direct3D formats and of the graph slots, and the
// multisample check. Window thread only.
#include "graphics/graphics_internal.h"

struct FormatName {
    D3DFORMAT format;
    const char *name;
};

static const FormatName s_FormatNames[] = {
    {D3DFMT_R5G6B5, "D3DFMT_R5G6B5"},
    {D3DFMT_X1R5G5B5, "D3DFMT_X1R5G5B5"},
    {D3DFMT_A1R5G5B5, "D3DFMT_A1R5G5B5"},
    {D3DFMT_A4R4G4B4, "D3DFMT_A4R4G4B4"},
    {D3DFMT_X8R8G8B8, "D3DFMT_X8R8G8B8"},
    {D3DFMT_A8R8G8B8, "D3DFMT_A8R8G8B8"},
    {D3DFMT_DXT1, "D3DFMT_DXT1"},
    {D3DFMT_DXT2, "D3DFMT_DXT2"},
    {D3DFMT_DXT3, "D3DFMT_DXT3"},
    {D3DFMT_DXT4, "D3DFMT_DXT4"},
    {D3DFMT_DXT5, "D3DFMT_DXT5"},
    {D3DFMT_A16B16G16R16F, "D3DFMT_A16B16G16R16F"},
    {D3DFMT_A32B32G32R32F, "D3DFMT_A32B32G32R32F"},
    {D3DFMT_D16, "D3DFMT_D16"},
    {D3DFMT_D24X8, "D3DFMT_D24X8"},
    {D3DFMT_D32, "D3DFMT_D32"},
};

const char *GetD3DFormatName(D3DFORMAT format)
{
    for (const FormatName &entry : s_FormatNames) {
        if (entry.format == format) {
            return entry.name;
        }
    }
    return NULL;
}

D3DFORMAT ChooseBackBufferFormat(IDirect3D9 *direct3D, int colorBits)
{
    if (colorBits == 16) {
        return direct3D->GetAdapterModeCount(D3DADAPTER_DEFAULT, D3DFMT_R5G6B5) > 0 ? D3DFMT_R5G6B5 : D3DFMT_X1R5G5B5;
    }
    if (colorBits == 32) {
        return D3DFMT_X8R8G8B8;
    }
    AddLog("非対応のバックバッファービット深度が指定されました\n");
    return D3DFMT_UNKNOWN;
}

D3DFORMAT ChooseZFormat(IDirect3D9 *direct3D, D3DFORMAT backBufferFormat)
{
    static const D3DFORMAT candidates[] = {D3DFMT_D16, D3DFMT_D24X8, D3DFMT_D32};
    for (D3DFORMAT candidate : candidates) {
        if (SUCCEEDED(direct3D->CheckDepthStencilMatch(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, backBufferFormat,
                                                       backBufferFormat, candidate))) {
            LogFormatLine("Ｚバッファのフォーマットは %s です", GetD3DFormatName(candidate));
            return candidate;
        }
    }
    AddLog("使用できる Zバッファフォーマットが見つかりませんでした\n");
    return D3DFMT_UNKNOWN;
}

// ---------------------------------------------------------------------------------------------------------------
// Graph format slots.

enum SlotMiss {
    MISS_FAILS,      // no candidate: creation fails with the missing text
    MISS_TAKES_SLOT, // no candidate: the fallback slot's format, logged as found
    MISS_UNUSABLE,   // no candidate: the fallback slot's format, logged "使えません"
    MISS_EMPTY,      // no candidate: the slot stays 0 and the missing text is logged
};

struct SlotRule {
    int slot;
    DWORD usage;
    D3DFORMAT candidates[3]; // D3DFMT_UNKNOWN ends the list early
    int miss;                // SlotMiss
    int fallbackSlot;
    const char *foundFormat; // one %s: the format's name
    const char *missingText;
};

#define TARGET D3DUSAGE_RENDERTARGET
#define TARGET_16_OWN D3DFMT_UNKNOWN // stands for the back buffer's own 16-bit kind, then the other one

static const SlotRule s_SlotRules[] = {
    {GRAPH_FORMAT_16,
     0,
     {D3DFMT_R5G6B5, D3DFMT_X1R5G5B5},
     MISS_FAILS,
     0,
     "16bit カラーフォーマットは %s です",
     "使用できる 16bit カラーフォーマットが見つかりませんでした\n"},
    {GRAPH_FORMAT_32,
     0,
     {D3DFMT_X8R8G8B8},
     MISS_TAKES_SLOT,
     GRAPH_FORMAT_16,
     "32bit カラーフォーマットは %s です",
     NULL},
    {GRAPH_FORMAT_ALPHA_16,
     0,
     {D3DFMT_A4R4G4B4, D3DFMT_A8R8G8B8},
     MISS_FAILS,
     0,
     "アルファ付き 16bit カラーフォーマットは %s です",
     "使用できるアルファ付き 16bit カラーフォーマットが見つかりませんでした\n"},
    {GRAPH_FORMAT_ALPHA_32,
     0,
     {D3DFMT_A8R8G8B8, D3DFMT_A4R4G4B4},
     MISS_FAILS,
     0,
     "アルファ付き 32bit カラーフォーマットは %s です",
     "使用できるアルファ付き 32bit カラーフォーマットが見つかりませんでした\n"},
    {GRAPH_FORMAT_ALPHA_TEST_16,
     0,
     {D3DFMT_A1R5G5B5, D3DFMT_A8R8G8B8, D3DFMT_A4R4G4B4},
     MISS_FAILS,
     0,
     "アルファテスト用 16bit カラーフォーマットは %s です",
     "使用できるアルファテスト用 16bit カラーフォーマットが見つかりませんでした\n"},
    {GRAPH_FORMAT_ALPHA_TEST_32,
     0,
     {D3DFMT_A8R8G8B8, D3DFMT_A1R5G5B5, D3DFMT_A4R4G4B4},
     MISS_FAILS,
     0,
     "アルファテスト用 32bit カラーフォーマットは %s です",
     "使用できるアルファテスト用 32bit カラーフォーマットが見つかりませんでした\n"},
    {GRAPH_FORMAT_DXT1,
     0,
     {D3DFMT_DXT1},
     MISS_UNUSABLE,
     GRAPH_FORMAT_ALPHA_TEST_16,
     "ＤＸＴ１テクスチャフォーマットは%s",
     NULL},
    {GRAPH_FORMAT_DXT2,
     0,
     {D3DFMT_DXT2},
     MISS_UNUSABLE,
     GRAPH_FORMAT_ALPHA_32,
     "ＤＸＴ２テクスチャフォーマットは%s",
     NULL},
    {GRAPH_FORMAT_DXT3,
     0,
     {D3DFMT_DXT3},
     MISS_UNUSABLE,
     GRAPH_FORMAT_ALPHA_32,
     "ＤＸＴ３テクスチャフォーマットは%s",
     NULL},
    {GRAPH_FORMAT_DXT4,
     0,
     {D3DFMT_DXT4},
     MISS_UNUSABLE,
     GRAPH_FORMAT_ALPHA_32,
     "ＤＸＴ４テクスチャフォーマットは%s",
     NULL},
    {GRAPH_FORMAT_DXT5,
     0,
     {D3DFMT_DXT5},
     MISS_UNUSABLE,
     GRAPH_FORMAT_ALPHA_32,
     "ＤＸＴ５テクスチャフォーマットは%s",
     NULL},
    {GRAPH_FORMAT_TARGET_16,
     TARGET,
     {TARGET_16_OWN, TARGET_16_OWN, D3DFMT_X8R8G8B8},
     MISS_EMPTY,
     0,
     "描画用 16bit カラーフォーマットは %s です",
     "使用できる描画用 16bit カラーフォーマットがありませんでした\n"},
    {GRAPH_FORMAT_TARGET_32,
     TARGET,
     {D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, D3DFMT_X1R5G5B5},
     MISS_EMPTY,
     0,
     "描画用 32bit カラーフォーマットは %s です",
     "使用できる描画用 32bit カラーフォーマットがありませんでした\n"},
    {GRAPH_FORMAT_TARGET_ALPHA_32,
     TARGET,
     {D3DFMT_A8R8G8B8, D3DFMT_A4R4G4B4},
     MISS_EMPTY,
     0,
     "描画用アルファ付き 32bit カラーフォーマットは %s です",
     "使用できる描画用アルファ付き 32bit カラーフォーマットがありませんでした\n"},
    {GRAPH_FORMAT_TARGET_FLOAT_16,
     TARGET,
     {D3DFMT_A16B16G16R16F},
     MISS_EMPTY,
     0,
     "描画用ABGR浮動小数点16ビット型カラーフォーマットは %s です",
     "使用できる描画用ABGR浮動小数点16ビット型カラーフォーマットがありませんでした\n"},
    {GRAPH_FORMAT_TARGET_FLOAT_32,
     TARGET,
     {D3DFMT_A32B32G32R32F, D3DFMT_A16B16G16R16F},
     MISS_EMPTY,
     0,
     "描画用ABGR浮動小数点32ビット型カラーフォーマットは %s です",
     "使用できる描画用ABGR浮動小数点32ビット型カラーフォーマットがありませんでした\n"},
};

// The candidate list of a rule; the 16-bit target starts with the back buffer's own 16-bit kind.
static int ListCandidates(const SlotRule *rule, D3DFORMAT backBufferFormat, D3DFORMAT out[3])
{
    int count = 0;
    for (int i = 0; i < 3; i++) {
        out[count] = rule->candidates[i];
        if (rule->slot == GRAPH_FORMAT_TARGET_16 && i < 2) {
            int own = (backBufferFormat == D3DFMT_R5G6B5) == (i == 0);
            out[count] = own ? D3DFMT_R5G6B5 : D3DFMT_X1R5G5B5;
        }
        count += out[count] != D3DFMT_UNKNOWN;
    }
    return count;
}

static D3DFORMAT FirstAccepted(IDirect3D9 *direct3D, const SlotRule *rule, D3DFORMAT backBufferFormat)
{
    D3DFORMAT candidates[3];
    int count = ListCandidates(rule, backBufferFormat, candidates);
    for (int i = 0; i < count; i++) {
        if (SUCCEEDED(direct3D->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, backBufferFormat, rule->usage,
                                                  D3DRTYPE_TEXTURE, candidates[i]))) {
            return candidates[i];
        }
    }
    return D3DFMT_UNKNOWN;
}

static void LogFoundFormat(const SlotRule *rule, D3DFORMAT format, int dxtLine)
{
    char name[64];
    SprintfWrap(name, sizeof(name), dxtLine ? " R_%s です" : "R_%s", GetD3DFormatName(format));
    LogFormatLine(rule->foundFormat, name);
}

static int ChooseSlot(IDirect3D9 *direct3D, const SlotRule *rule, D3DFORMAT backBufferFormat)
{
    D3DFORMAT format = FirstAccepted(direct3D, rule, backBufferFormat);
    int dxtLine = rule->miss == MISS_UNUSABLE;
    if (format != D3DFMT_UNKNOWN) {
        g_D3D.graphFormats[rule->slot] = format;
        LogFoundFormat(rule, format, dxtLine);
        return 0;
    }
    switch (rule->miss) {
    case MISS_FAILS:
        AddLog(rule->missingText);
        return -1;
    case MISS_TAKES_SLOT:
        g_D3D.graphFormats[rule->slot] = g_D3D.graphFormats[rule->fallbackSlot];
        LogFoundFormat(rule, g_D3D.graphFormats[rule->slot], 0);
        return 0;
    case MISS_UNUSABLE:
        g_D3D.graphFormats[rule->slot] = g_D3D.graphFormats[rule->fallbackSlot];
        LogFormatLine(rule->foundFormat, "使えません");
        return 0;
    default:
        g_D3D.graphFormats[rule->slot] = (D3DFORMAT)0;
        AddLog(rule->missingText);
        return 0;
    }
}

int ChooseGraphFormats(IDirect3D9 *direct3D, D3DFORMAT backBufferFormat, int colorBits)
{
    for (const SlotRule &rule : s_SlotRules) {
        if (ChooseSlot(direct3D, &rule, backBufferFormat) != 0) {
            return -1;
        }
    }
    int wide = colorBits == 32;
    g_D3D.screenTargetFormat = g_D3D.graphFormats[wide ? GRAPH_FORMAT_TARGET_32 : GRAPH_FORMAT_TARGET_16];
    g_D3D.screenAlphaTestFormat = g_D3D.graphFormats[wide ? GRAPH_FORMAT_ALPHA_TEST_32 : GRAPH_FORMAT_ALPHA_TEST_16];
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Pixel-format records.

struct FormatMasks {
    D3DFORMAT format;
    int bits;
    uint32_t red, green, blue, alpha;
    uint32_t code; // PixelFormatCode: packed formats take their masks, the others only bits and code
};

static const FormatMasks s_D3DFormatMasks[] = {
    {D3DFMT_R8G8B8, 24, 0xFF0000, 0xFF00, 0xFF, 0, PIXEL_FORMAT_PACKED},
    {D3DFMT_A8R8G8B8, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, PIXEL_FORMAT_PACKED},
    {D3DFMT_X8R8G8B8, 32, 0xFF0000, 0xFF00, 0xFF, 0, PIXEL_FORMAT_PACKED},
    {D3DFMT_R5G6B5, 16, 0xF800, 0x7E0, 0x1F, 0, PIXEL_FORMAT_PACKED},
    {D3DFMT_X1R5G5B5, 16, 0x7C00, 0x3E0, 0x1F, 0, PIXEL_FORMAT_PACKED},
    {D3DFMT_A1R5G5B5, 16, 0x7C00, 0x3E0, 0x1F, 0x8000, PIXEL_FORMAT_PACKED},
    {D3DFMT_A4R4G4B4, 16, 0xF00, 0xF0, 0xF, 0xF000, PIXEL_FORMAT_PACKED},
    {D3DFMT_R3G3B2, 8, 0xE0, 0x1C, 0x3, 0, PIXEL_FORMAT_PACKED},
    {D3DFMT_A8R3G3B2, 16, 0xE0, 0x1C, 0x3, 0xFF00, PIXEL_FORMAT_PACKED},
    {D3DFMT_X4R4G4B4, 16, 0xF00, 0xF0, 0xF, 0, PIXEL_FORMAT_PACKED},
    {D3DFMT_A2B10G10R10, 32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000, PIXEL_FORMAT_PACKED},
    {D3DFMT_A8B8G8R8, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000, PIXEL_FORMAT_PACKED},
    {D3DFMT_X8B8G8R8, 32, 0xFF, 0xFF00, 0xFF0000, 0, PIXEL_FORMAT_PACKED},
    {D3DFMT_A16B16G16R16F, 64, 0, 0, 0, 0, PIXEL_FORMAT_FLOAT16X4},
    {D3DFMT_A32B32G32R32F, 128, 0, 0, 0, 0, PIXEL_FORMAT_FLOAT32X4},
};

// Graph slot i uses the format of entry i.
static const FormatMasks s_GraphSlotMasks[GRAPH_FORMAT_COUNT] = {
    {D3DFMT_R5G6B5, 16, 0xF800, 0x7E0, 0x1F, 0, PIXEL_FORMAT_PACKED},
    {D3DFMT_X8R8G8B8, 32, 0xFF0000, 0xFF00, 0xFF, 0, PIXEL_FORMAT_PACKED},
    {D3DFMT_A4R4G4B4, 16, 0xF00, 0xF0, 0xF, 0xF000, PIXEL_FORMAT_PACKED},
    {D3DFMT_A8R8G8B8, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, PIXEL_FORMAT_PACKED},
    {D3DFMT_A1R5G5B5, 16, 0x7C00, 0x3E0, 0x1F, 0x8000, PIXEL_FORMAT_PACKED},
    {D3DFMT_A8R8G8B8, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, PIXEL_FORMAT_PACKED},
    {D3DFMT_DXT1, 4, 0, 0, 0, 0, PIXEL_FORMAT_DXT1},
    {D3DFMT_DXT2, 8, 0, 0, 0, 0, PIXEL_FORMAT_DXT2},
    {D3DFMT_DXT3, 8, 0, 0, 0, 0, PIXEL_FORMAT_DXT3},
    {D3DFMT_DXT4, 8, 0, 0, 0, 0, PIXEL_FORMAT_DXT4},
    {D3DFMT_DXT5, 8, 0, 0, 0, 0, PIXEL_FORMAT_DXT5},
    {D3DFMT_R5G6B5, 16, 0xF800, 0x7E0, 0x1F, 0, PIXEL_FORMAT_PACKED},
    {D3DFMT_X8R8G8B8, 32, 0xFF0000, 0xFF00, 0xFF, 0, PIXEL_FORMAT_PACKED},
    {D3DFMT_A8R8G8B8, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, PIXEL_FORMAT_PACKED},
    {D3DFMT_A16B16G16R16F, 64, 0, 0, 0, 0, PIXEL_FORMAT_FLOAT16X4},
    {D3DFMT_A32B32G32R32F, 128, 0, 0, 0, 0, PIXEL_FORMAT_FLOAT32X4},
};

#define D3D_FORMAT_RECORD_COUNT (sizeof(s_D3DFormatMasks) / sizeof(s_D3DFormatMasks[0]))

static PixelFormat s_D3DFormats[D3D_FORMAT_RECORD_COUNT];
static PixelFormat s_GraphFormats[GRAPH_FORMAT_COUNT];
static int s_FormatRecordsBuilt;

static void BuildFormatRecord(PixelFormat *format, const FormatMasks *masks)
{
    MemFill(format, 0, sizeof(*format));
    if (masks->code == PIXEL_FORMAT_PACKED) {
        CreatePixelFormatFromMasks(format, masks->bits, masks->red, masks->green, masks->blue, masks->alpha);
        return;
    }
    // Block formats are handled four bytes at a time; float formats by their whole width.
    format->bitsPerPixel = (uint16_t)masks->bits;
    format->bytesPerPixel = (uint16_t)(masks->bits >= 64 ? masks->bits / 8 : 4);
    format->formatCode = masks->code;
}

static void BuildFormatRecords(void)
{
    if (s_FormatRecordsBuilt) {
        return;
    }
    for (size_t i = 0; i < D3D_FORMAT_RECORD_COUNT; i++) {
        BuildFormatRecord(&s_D3DFormats[i], &s_D3DFormatMasks[i]);
    }
    for (int i = 0; i < GRAPH_FORMAT_COUNT; i++) {
        BuildFormatRecord(&s_GraphFormats[i], &s_GraphSlotMasks[i]);
    }
    s_FormatRecordsBuilt = 1;
}

const PixelFormat *GetD3DFormatPixelFormat(D3DFORMAT format)
{
    BuildFormatRecords();
    for (size_t i = 0; i < D3D_FORMAT_RECORD_COUNT; i++) {
        if (s_D3DFormatMasks[i].format == format) {
            return &s_D3DFormats[i];
        }
    }
    return NULL;
}

const PixelFormat *GetGraphFormatPixelFormat(int index)
{
    BuildFormatRecords();
    return index >= 0 && index < GRAPH_FORMAT_COUNT ? &s_GraphFormats[index] : NULL;
}

// ---------------------------------------------------------------------------------------------------------------
// Multisampling.

// Lowers the type until the format accepts it; returns the quality levels reported for the type kept (0 at type 0).
static DWORD SettleMultiSampleType(D3DFORMAT format, BOOL windowed, D3DMULTISAMPLE_TYPE *type)
{
    DWORD levels = 0;
    while (*type > D3DMULTISAMPLE_NONE && FAILED(g_D3D.direct3D->CheckDeviceMultiSampleType(
                                              D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, format, windowed, *type, &levels))) {
        *type = (D3DMULTISAMPLE_TYPE)(*type - 1);
    }
    return *type > D3DMULTISAMPLE_NONE ? levels : 0;
}

int AdjustMultiSampleSettings(D3DFORMAT colorFormat, D3DMULTISAMPLE_TYPE *type, DWORD *quality)
{
    if (g_D3D.direct3D == NULL) {
        *type = D3DMULTISAMPLE_NONE;
        *quality = 0;
        return -1;
    }
    BOOL windowed = IsWindowedMode() ? TRUE : FALSE;
    DWORD colorLevels = SettleMultiSampleType(colorFormat, windowed, type);
    DWORD depthLevels = SettleMultiSampleType(D3DFMT_D16, windowed, type);
    if (*type == D3DMULTISAMPLE_NONE) {
        *quality = 0;
        return 0;
    }
    DWORD levels = colorLevels < depthLevels ? colorLevels : depthLevels;
    if (levels == 0) {
        *quality = 0;
    } else if (*quality > levels - 1) {
        *quality = levels - 1;
    }
    return 0;
}
