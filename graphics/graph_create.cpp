// Graph creation: a size and the creation settings turned into a graph's image, either texture pieces cut by the
// device's size rules (each a Direct3D texture, with a system-memory staging twin on a 9Ex device) or one software
// image, and each graph's ready-made quads over the pieces its rectangle touches. A failed set-up never leaves a
// handle or a block behind. Window thread only.
#include "graphics/graphics_internal.h"

#include <string.h>

// Where the set-up cuts a picture: one piece's place and texture size.
struct PiecePlan {
    int x, y, width, height;
};

// The full mip chain of a size: halvings of both sides (each kept at least 1) until both are 1, the first counted.
static int FullMipChain(int width, int height)
{
    int levels = 1;
    while (width > 1 || height > 1) {
        width = width > 1 ? width / 2 : 1;
        height = height > 1 ? height / 2 : 1;
        levels++;
    }
    return levels;
}

static int ChooseMipLevels(int mipLevels, int width, int height)
{
    if (mipLevels != -1) {
        return mipLevels;
    }
    int setting = g_GraphCreateSettings.defaultMipLevels;
    if (setting == -1) {
        return FullMipChain(width, height);
    }
    return setting == 0 ? 1 : setting;
}

static GraphFormatDesc MakeGraphDescriptor(int alpha, int palette8, int kind, int mipLevels)
{
    const GraphCreateSettings &settings = g_GraphCreateSettings;
    GraphFormatDesc desc;
    memset(&desc, 0, sizeof(desc));
    desc.deviceTexture = (uint8_t)IsDeviceMode();
    desc.staging = (uint8_t)settings.staging;
    desc.kind = (uint8_t)kind;
    desc.mipLevels = (uint8_t)mipLevels;
    if (settings.drawable) {
        desc.renderTarget = 1;
        desc.alpha = (uint8_t)settings.drawableAlpha;
        desc.staging = 1;
        desc.mipLevels = 1;
        desc.kind = settings.drawableFloat ? (settings.colorBits == 16 ? 6 : 7) : 0;
        desc.multiSampleType = (uint8_t)settings.drawableMultiSampleType;
        desc.multiSampleQuality = (uint8_t)settings.drawableMultiSampleQuality;
    } else {
        desc.alpha = (uint8_t)alpha;
        desc.oneBitAlpha = (uint8_t)settings.oneBitAlpha;
        desc.blendImage = (uint8_t)settings.blendImage;
    }
    if (desc.deviceTexture) {
        desc.colorBits = (uint8_t)(settings.colorBits != 0 ? settings.colorBits
                                   : desc.alpha == 1       ? 32
                                                           : GetScreenColorBits());
        if (desc.alpha) {
            desc.oneBitAlpha = 0;
        }
        if (desc.blendImage) {
            desc.colorBits = 32, desc.alpha = 1, desc.renderTarget = 0, desc.oneBitAlpha = 0;
        }
        return desc;
    }
    desc.kind = 0;
    desc.colorBits = (uint8_t)(settings.colorBits != 0 ? settings.colorBits : GetScreenColorBits());
    desc.palette8 = (uint8_t)palette8;
    desc.softwareImage = 1;
    desc.staging = 0;
    desc.mipLevels = 0;
    desc.renderTarget = !desc.blendImage;
    desc.oneBitAlpha = 0;
    return desc;
}

// ---------------------------------------------------------------------------------------------------------------
// Pieces.

// The grid of the two sides' splits, row by row; on a square-only device every oblong piece keeps its first square
// and appends the others, in order along its longer side. Returns the plan (a tracked block) and its count.
static PiecePlan *PlanGraphPieces(int width, int height, const GraphFormatDesc *desc, int *count)
{
    int keepWhole = desc->renderTarget || desc->blendImage, powerOfTwo = !desc->renderTarget;
    int columns = SplitTextureSizes(width, NULL, keepWhole, powerOfTwo);
    int rows = SplitTextureSizes(height, NULL, keepWhole, powerOfTwo);
    int *sizes = (int *)ENGINE_ALLOC(sizeof(int) * (size_t)(columns + rows));
    if (sizes == NULL) {
        return NULL;
    }
    SplitTextureSizes(width, sizes, keepWhole, powerOfTwo);
    SplitTextureSizes(height, sizes + columns, keepWhole, powerOfTwo);
    int squareOnly = (g_D3D.caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) != 0;
    int64_t planned = 0;
    for (int row = 0; row < rows; row++) {
        for (int column = 0; column < columns; column++) {
            int w = sizes[column], h = sizes[columns + row];
            planned += squareOnly && w != h ? (w > h ? w / h : h / w) : 1;
        }
    }
    PiecePlan *plan = (PiecePlan *)ENGINE_ALLOC(sizeof(PiecePlan) * (size_t)planned);
    if (plan != NULL) {
        int grid = 0, appended = columns * rows;
        for (int row = 0, y = 0; row < rows; y += sizes[columns + row], row++) {
            for (int column = 0, x = 0; column < columns; x += sizes[column], column++) {
                int w = sizes[column], h = sizes[columns + row];
                int side = squareOnly && w != h ? (w < h ? w : h) : 0;
                plan[grid++] = {x, y, side ? side : w, side ? side : h};
                for (int step = 1; side && step < (w > h ? w : h) / side; step++) {
                    plan[appended++] = {w > h ? x + step * side : x, w > h ? y : y + step * side, side, side};
                }
            }
        }
        *count = (int)planned;
    }
    FreeMemory(sizes);
    return plan;
}

static void FillTexturePieces(SharedGraphImage *image, const PiecePlan *plan)
{
    for (int i = 0; i < image->pieceCount; i++) {
        TexturePiece *piece = &image->pieces[i];
        piece->x = plan[i].x;
        piece->y = plan[i].y;
        piece->textureWidth = plan[i].width;
        piece->textureHeight = plan[i].height;
        piece->usedWidth = image->width - piece->x < plan[i].width ? image->width - piece->x : plan[i].width;
        piece->usedHeight = image->height - piece->y < plan[i].height ? image->height - piece->y : plan[i].height;
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Device objects.

static int ZeroTextureLevels(IDirect3DTexture9 *texture, int height, int levels)
{
    for (int level = 0; level<levels; level++, height = height> 1 ? height / 2 : 1) {
        D3DLOCKED_RECT locked;
        if (FAILED(texture->LockRect(level, &locked, NULL, 0))) {
            return -1;
        }
        memset(locked.pBits, 0, (size_t)locked.Pitch * height);
        texture->UnlockRect(level);
    }
    return 0;
}

// A drawable piece's companions: a multisample surface to draw into when a sample type is set, and a depth surface
// of the same sampling when the image wants one or samples.
static int CreateTargetSurfaces(SharedGraphImage *image, TexturePiece *piece, D3DFORMAT format)
{
    D3DMULTISAMPLE_TYPE type = (D3DMULTISAMPLE_TYPE)image->format.multiSampleType;
    DWORD quality = image->format.multiSampleQuality;
    if (type != D3DMULTISAMPLE_NONE) {
        AdjustMultiSampleSettings(format, &type, &quality);
        if (FAILED(g_D3D.device->CreateRenderTarget(piece->textureWidth, piece->textureHeight, format, type, quality,
                                                    FALSE, &piece->multiSampleSurface, NULL))) {
            return AddLog("書き込み専用サーフェスの作成に失敗しました\n");
        }
    }
    if (!image->depthBufferWanted && type == D3DMULTISAMPLE_NONE) {
        if (piece->depthSurface != NULL) {
            piece->depthSurface->Release();
            piece->depthSurface = NULL;
        }
        return 0;
    }
    if (FAILED(g_D3D.device->CreateDepthStencilSurface(piece->textureWidth, piece->textureHeight, D3DFMT_D16, type,
                                                       quality, TRUE, &piece->depthSurface, NULL))) {
        return AddLog("書き込み専用マルチサンプル深度サーフェスの作成に失敗しました\n");
    }
    return 0;
}

static int CreatePieceTextures(SharedGraphImage *image, TexturePiece *piece, D3DFORMAT format)
{
    IDirect3DDevice9 *device = g_D3D.device;
    const GraphFormatDesc &desc = image->format;
    int levels = image->mipLevels;
    D3DPOOL pool = desc.renderTarget || desc.staging ? D3DPOOL_DEFAULT : D3DPOOL_MANAGED;
    DWORD usage = desc.renderTarget ? D3DUSAGE_RENDERTARGET : 0;
    if (desc.renderTarget && CreateTargetSurfaces(image, piece, format) != 0) {
        return -1;
    }
    if (FAILED(device->CreateTexture(piece->textureWidth, piece->textureHeight, levels, usage, format, pool,
                                     &piece->texture, NULL))) {
        return AddLog("書き込み専用テクスチャの作成に失敗しました\n");
    }
    if (desc.staging && !desc.renderTarget &&
        FAILED(device->CreateTexture(piece->textureWidth, piece->textureHeight, levels, D3DUSAGE_DYNAMIC, format,
                                     D3DPOOL_SYSTEMMEM, &piece->staging, NULL))) {
        return AddLog("メモリテクスチャの作成に失敗しました\n");
    }
    if (FAILED(piece->texture->GetSurfaceLevel(0, &piece->surface))) {
        return AddLog("テクスチャのサーフェスアドレスの取得に失敗しました\n");
    }
    if (desc.renderTarget) {
        device->ColorFill(piece->surface, NULL, 0);
        return 0;
    }
    if (desc.kind >= PIXEL_FORMAT_DXT1 && desc.kind <= PIXEL_FORMAT_DXT5) {
        return 0;
    }
    IDirect3DTexture9 *written = piece->staging != NULL ? piece->staging : piece->texture;
    if (ZeroTextureLevels(written, piece->textureHeight, levels) != 0) {
        return AddLog("テクスチャのロックに失敗しました\n");
    }
    return piece->staging != NULL ? (SUCCEEDED(device->UpdateTexture(piece->staging, piece->texture)) ? 0 : -1) : 0;
}

int CreateGraphTextures(SharedGraphImage *image)
{
    if (!image->format.deviceTexture) {
        return 0;
    }
    if (g_D3D.device == NULL) {
        return -1;
    }
    D3DFORMAT format = image->formatIndex < GRAPH_FORMAT_COUNT ? g_D3D.graphFormats[image->formatIndex] : (D3DFORMAT)0;
    if (format == 0) {
        return AddLog("指定のフォーマットで作成できるテクスチャフォーマットがありませんでした\n");
    }
    if (g_D3D.deviceEx != NULL) {
        image->format.staging = 1; // a 9Ex device refuses the managed pool
    }
    for (int i = 0; i < image->pieceCount; i++) {
        if (image->pieces[i].texture != NULL) {
            continue; // made already: an image shared by several graphs is visited once for each after a rebuild
        }
        if (CreatePieceTextures(image, &image->pieces[i], format) != 0) {
            ReleaseImageTextures(image);
            return -1;
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Set-up.

// The shared image of a device-path graph: the head with its pieces in the same block.
static SharedGraphImage *MakeDeviceImage(int width, int height, const GraphFormatDesc *desc)
{
    int count = 0;
    PiecePlan *plan = PlanGraphPieces(width, height, desc, &count);
    if (plan == NULL) {
        return NULL;
    }
    SharedGraphImage *image =
        (SharedGraphImage *)ENGINE_ALLOC_ZEROED(sizeof(SharedGraphImage) + sizeof(TexturePiece) * (size_t)count);
    if (image != NULL) {
        image->width = width;
        image->height = height;
        image->pieceCount = count;
        image->pieces = (TexturePiece *)(image + 1);
        FillTexturePieces(image, plan);
    }
    FreeMemory(plan);
    return image;
}

// The software image of a graph (or of a blend graph), cleared to zero as a new texture is.
static int CreateSoftwareImage(SharedGraphImage *image)
{
    const GraphFormatDesc &desc = image->format;
    if (desc.blendImage) {
        if (CreateMemImg(&image->image, image->width, image->height, -1, 0, MEMIMG_KIND_CHANNEL8, 0, 0, 0, NULL) != 0) {
            return AddLog("ブレンド画像用メモリイメージの作成に失敗しました\n");
        }
        return FillMemImgRect(&image->image, NULL, 0);
    }
    int wide = desc.colorBits != 16;
    image->formatIndex = (wide ? GRAPH_SOFT_FORMAT_32 : GRAPH_SOFT_FORMAT_16) + desc.alpha;
    int kind = wide ? MEMIMG_KIND_RGB32 : MEMIMG_KIND_RGB16;
    uint32_t color = image->transparentColor, transparent = 65535;
    if (!desc.palette8) { // pixels are stored without the format's unused bits, and so is the key
        const PixelFormat *format = GetMemImgColorFormat(kind, desc.alpha, 0);
        transparent =
            ColorToPixelValue(format, color >> 16 & 0xFF, color >> 8 & 0xFF, color & 0xFF, 0) & ~format->unusedMask;
    }
    if (CreateMemImg(&image->image, image->width, image->height, -1, transparent, kind, desc.palette8, desc.alpha, 1,
                     NULL) != 0) {
        return AddLog("メモリイメージの作成に失敗しました\n");
    }
    return FillMemImgRect(&image->image, NULL, 0);
}

// A picture whose 32-bit pixels would not fit a 31-bit byte count is refused before anything is cut.
static int IsGraphSizeAccepted(int width, int height)
{
    return width > 0 && height > 0 && (int64_t)width * height * 4 <= 0x7FFFFFFF;
}

static int SetupGraphImage(EngineHandle graph, int width, int height, int mipLevels, int alpha, int palette8, int kind)
{
    GraphRecord *record = GetGraphRecord(graph);
    if (record == NULL) {
        return -1;
    }
    if (!IsGraphSizeAccepted(width, height)) {
        return AddLog("グラフィックのサイズが不正です\n");
    }
    mipLevels = ChooseMipLevels(mipLevels, width, height);
    GraphFormatDesc desc = MakeGraphDescriptor(alpha, palette8, kind, mipLevels);
    SharedGraphImage *image = desc.deviceTexture ? MakeDeviceImage(width, height, &desc)
                                                 : (SharedGraphImage *)ENGINE_ALLOC_ZEROED(sizeof(SharedGraphImage));
    if (image == NULL) {
        return AddLog("グラフィックのオリジナル画像データ保存用メモリの確保に失敗しました\n");
    }
    image->format = desc;
    image->transparentColor = g_GraphCreateSettings.transparentColor;
    image->width = width;
    image->height = height;
    AttachSharedGraphImage(record, image, 0, 0, width, height); // the graph's reference frees it on failure
    if (desc.deviceTexture) {
        image->formatIndex = GraphFormatToIndex(&image->format);
        image->mipLevels = desc.mipLevels;
        if (CreateGraphTextures(image) != 0) {
            return -1;
        }
    } else if (CreateSoftwareImage(image) != 0) {
        return -1;
    }
    return BuildGraphTextureDrawInfo(graph);
}

EngineHandle MakeGraphForSize(int width, int height, int mipLevels, int alpha, int palette8, int kind)
{
    EngineHandle graph = AllocGraphHandle();
    if (SetupGraphImage(graph, width, height, mipLevels, alpha, palette8, kind) != 0) {
        ReleaseGraphHandle(graph, 0);
        return -1;
    }
    return graph;
}

// ---------------------------------------------------------------------------------------------------------------
// Draw information.

static int Overlaps(int start, int length, int otherStart, int otherLength)
{
    return start < otherStart + otherLength && otherStart < start + length;
}

// One side of a piece inside the graph: where it lands, where it starts in the texture and how long it runs.
static void PlacePieceSide(int pieceStart, int pieceLength, int graphStart, int graphLength, int *dest, int *source,
                           int *length)
{
    if (pieceStart > graphStart) {
        *dest = pieceStart - graphStart;
        *source = 0;
        *length = graphLength - *dest < pieceLength ? graphLength - *dest : pieceLength;
    } else {
        *dest = 0;
        *source = graphStart - pieceStart;
        int rest = pieceLength - *source;
        *length = rest < graphLength ? rest : graphLength;
    }
}

static void FillPieceDraw(GraphPieceDraw *draw, TexturePiece *piece, const GraphRecord *record)
{
    PlacePieceSide(piece->x, piece->usedWidth, record->x, record->width, &draw->gx, &draw->sx, &draw->width);
    PlacePieceSide(piece->y, piece->usedHeight, record->y, record->height, &draw->gy, &draw->sy, &draw->height);
    draw->piece = piece;
    for (int corner = 0; corner < 4; corner++) {
        int right = corner & 1, bottom = corner >> 1;
        GraphPieceVertex &vertex = draw->vertices[corner];
        vertex.x = (float)(draw->gx + right * draw->width);
        vertex.y = (float)(draw->gy + bottom * draw->height);
        vertex.u = (float)(draw->sx + right * draw->width) / (float)piece->textureWidth;
        vertex.v = (float)(draw->sy + bottom * draw->height) / (float)piece->textureHeight;
        double limit = record->height - (double)vertex.x * record->height / record->width;
        draw->aboveDiagonal[corner] = (double)vertex.y <= limit;
    }
}

static int TouchesGraph(const TexturePiece *piece, const GraphRecord *record)
{
    return Overlaps(piece->x, piece->usedWidth, record->x, record->width) &&
           Overlaps(piece->y, piece->usedHeight, record->y, record->height);
}

static int BuildSoftwareView(EngineHandle graph)
{
    GraphRecord *record = ResizeGraphRecordDraws(graph, 0);
    if (record == NULL) {
        return AddLog("画像描画情報格納用メモリの確保に失敗しました\n");
    }
    record->pieceDrawCount = 0;
    if (IsValidMemImg(&record->view)) {
        ReleaseMemImg(&record->view);
    }
    return DeriveMemImg(&record->view, &record->image->image, record->x, record->y, record->width, record->height);
}

int BuildGraphTextureDrawInfo(EngineHandle graph)
{
    GraphRecord *record = GetGraphRecord(graph);
    if (record == NULL || record->image == NULL) {
        return -1;
    }
    SharedGraphImage *image = record->image;
    if (!image->format.deviceTexture) {
        return BuildSoftwareView(graph);
    }
    int count = 0;
    for (int i = 0; i < image->pieceCount; i++) {
        count += TouchesGraph(&image->pieces[i], record);
    }
    if (count == 0) {
        return AddLog("テクスチャ描画情報の作成に失敗しました\n");
    }
    record = ResizeGraphRecordDraws(graph, count);
    if (record == NULL) {
        return AddLog("画像描画情報格納用メモリの確保に失敗しました\n");
    }
    record->pieceDrawCount = count;
    GraphPieceDraw *draw = record->pieceDraws;
    for (int i = 0; i < image->pieceCount; i++) {
        if (TouchesGraph(&image->pieces[i], record)) {
            FillPieceDraw(draw++, &image->pieces[i], record);
        }
    }
    return 0;
}
