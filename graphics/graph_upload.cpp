// Graph pixels: pictures uploaded into a graph's texture pieces (keying the transparent colour, repeating the last
// column and row into a texture's spare edge for filtering, block-compressed levels copied as they are) or into
// its software image; the colour fill; the empty graph and the graph made from a base image. Window thread only.
#include "graphics/graphics_internal.h"
#include "softrender/softrender.h"

#include <algorithm>
#include <string.h>

static int IsBlockCompressed(uint32_t code)
{
    return code >= PIXEL_FORMAT_DXT1 && code <= PIXEL_FORMAT_DXT5;
}

// The overlap of two rectangles, empty (all zero) when they do not meet.
static RECT Overlap(const RECT &a, const RECT &b)
{
    RECT r;
    IntersectRect(&r, &a, &b);
    return r;
}

// A decoded copy of a block-compressed picture; a plain picture is used as it is (`plain` then aliases it).
static int BringToPlainPixels(BaseImage *image, BaseImage *plain)
{
    *plain = *image;
    if (!IsBlockCompressed(image->format.formatCode)) {
        return 0;
    }
    int size = GetBaseImageDataSize(image);
    plain->pixels = (unsigned char *)ENGINE_ALLOC(size > 0 ? (size_t)size : 1);
    if (plain->pixels == NULL) {
        return AddLog("標準イメージ用のメモリ確保に失敗しました\n");
    }
    memcpy(plain->pixels, image->pixels, (size_t)size);
    return ConvertBaseImageToNormal(plain);
}

static void DropPlainCopy(const BaseImage *image, BaseImage *plain)
{
    if (plain->pixels != image->pixels) {
        FreeBaseImageData(plain);
    }
}

static PixelBuffer BufferOfImage(const BaseImage *image)
{
    PixelBuffer buffer = {image->pixels, image->pitch, &image->format, image->width, image->height};
    return buffer;
}

// ---------------------------------------------------------------------------------------------------------------
// Device path.

// What one upload writes: the picture (plain), its optional alpha picture, the keying, and the source rectangle
// whose top-left lands on the shared image's (destX, destY).
struct UploadJob {
    SharedGraphImage *image;
    BaseImage *picture;
    const BaseImage *alpha;
    RECT source;
    int destX, destY;
    int keying;
};

// Repeats the last written column into the spare column beside it and the last row into the spare row below.
static void RepeatEdges(unsigned char *pixels, int pitch, int bytes, int width, int height, int growX, int growY)
{
    for (int y = 0; growX && y < height; y++) {
        unsigned char *row = pixels + (ptrdiff_t)y * pitch;
        memcpy(row + (ptrdiff_t)width * bytes, row + (ptrdiff_t)(width - 1) * bytes, (size_t)bytes);
    }
    if (growY) {
        memcpy(pixels + (ptrdiff_t)height * pitch, pixels + (ptrdiff_t)(height - 1) * pitch,
               (size_t)(width + growX) * bytes);
    }
}

// The pixel transfer of the picture's part that lands on `area` (shared-image coordinates) to the buffer's (0, 0),
// keying only where the texture has alpha bits and no alpha picture brings its own.
static void TransferArea(const UploadJob &job, const PixelBuffer *to, const RECT &area)
{
    PixelBuffer from = BufferOfImage(job.picture), alpha = job.alpha ? BufferOfImage(job.alpha) : PixelBuffer();
    RECT source = {job.source.left + area.left - job.destX, job.source.top + area.top - job.destY, 0, 0};
    source.right = source.left + (area.right - area.left), source.bottom = source.top + (area.bottom - area.top);
    PixelKernelOptions options;
    memset(&options, 0, sizeof(options));
    options.transparentToAlpha = job.keying && to->format->alphaWidth > 0 && job.alpha == NULL;
    options.transparentColor = job.image->transparentColor;
    PixelKernel(to, &from, job.alpha ? &alpha : NULL, 0, 0, &source, &options);
}

static int WritePlainArea(const UploadJob &job, TexturePiece *piece, IDirect3DTexture9 *texture, const RECT &area)
{
    int width = area.right - area.left, height = area.bottom - area.top;
    int growX = area.right - piece->x == piece->usedWidth && piece->textureWidth > piece->usedWidth;
    int growY = area.bottom - piece->y == piece->usedHeight && piece->textureHeight > piece->usedHeight;
    RECT lockRect = {area.left - piece->x, area.top - piece->y, area.right - piece->x + growX,
                     area.bottom - piece->y + growY};
    D3DLOCKED_RECT locked;
    if (FAILED(texture->LockRect(0, &locked, &lockRect, 0))) {
        return AddLog("テクスチャのロックに失敗しました\n");
    }
    const PixelFormat *format = GetGraphFormatPixelFormat(job.image->formatIndex);
    PixelBuffer to = {locked.pBits, locked.Pitch, format, width + growX, height + growY};
    TransferArea(job, &to, area);
    if (format->bytesPerPixel == 2 || format->bytesPerPixel == 4) {
        RepeatEdges((unsigned char *)locked.pBits, locked.Pitch, format->bytesPerPixel, width, height, growX, growY);
    }
    texture->UnlockRect(0);
    return 0;
}

static int CeilPowerOfTwo(int size)
{
    int power = 1;
    while (power < size) {
        power *= 2;
    }
    return power;
}

// Writes one level's work pixels into the texture level at (x, y) >> level, cut to the level's size.
static int WriteMipLevel(IDirect3DTexture9 *texture, const TexturePiece *piece, int level, int x, int y,
                         const unsigned char *pixels, int pitch, int width, int height, int bytes)
{
    int levelWidth = std::max(1, piece->textureWidth >> level),
        levelHeight = std::max(1, piece->textureHeight >> level);
    RECT rect = {x >> level, y >> level, std::min(levelWidth, (x >> level) + width),
                 std::min(levelHeight, (y >> level) + height)};
    D3DLOCKED_RECT locked;
    if (FAILED(texture->LockRect(level, &locked, &rect, 0))) {
        return AddLog("ミップマップテクスチャのロックに失敗しました\n");
    }
    for (int row = 0; row < rect.bottom - rect.top; row++) {
        memcpy((unsigned char *)locked.pBits + (ptrdiff_t)row * locked.Pitch, pixels + (ptrdiff_t)row * pitch,
               (size_t)(rect.right - rect.left) * bytes);
    }
    texture->UnlockRect(level);
    return 0;
}

// Level `level` of a plain picture that brings its own levels (each after the one before, rows unpadded past level
// 0), transferred for the area scaled down to that level.
static void TransferPictureLevel(const UploadJob &job, int level, const PixelBuffer *to, const RECT &area)
{
    BaseImage levelImage = *job.picture;
    for (int before = 0; before < level; before++) {
        levelImage.pixels += GetMipLevelDataSize(&job.picture->format, job.picture->width, job.picture->height,
                                                 job.picture->pitch, before);
    }
    levelImage.width = std::max(1, job.picture->width >> level);
    levelImage.height = std::max(1, job.picture->height >> level);
    levelImage.pitch = levelImage.width * job.picture->format.bytesPerPixel;
    UploadJob scaled = job;
    scaled.picture = &levelImage;
    scaled.source.left >>= level, scaled.source.top >>= level, scaled.destX >>= level, scaled.destY >>= level;
    RECT scaledArea = {area.left >> level, area.top >> level, std::max((area.left >> level) + 1, area.right >> level),
                       std::max((area.top >> level) + 1, area.bottom >> level)};
    TransferArea(scaled, to, scaledArea);
}

// Several levels from a plain picture: the area, rounded up to powers of two, is transferred once and each further
// level is the picture's own level when it brings enough, else the one before halved, the two halves of one work
// block taking turns.
static int WriteMipChain(const UploadJob &job, TexturePiece *piece, IDirect3DTexture9 *texture, const RECT &area)
{
    const PixelFormat *format = GetGraphFormatPixelFormat(job.image->formatIndex);
    int bytes = format->bytesPerPixel;
    int width = CeilPowerOfTwo(area.right - area.left), height = CeilPowerOfTwo(area.bottom - area.top);
    size_t half = (size_t)width * height * bytes;
    unsigned char *work = (unsigned char *)ENGINE_ALLOC_ZEROED(half * 2);
    if (work == NULL) {
        return AddLog("テクスチャへ転送する画像を一時的に格納するメモリ領域の確保に失敗しました\n");
    }
    PixelBuffer to = {work, width * bytes, format, width, height};
    TransferArea(job, &to, area);
    int x = area.left - piece->x, y = area.top - piece->y, result = 0;
    unsigned char *current = work, *next = work + half;
    int ownLevels = job.picture->mipCount >= job.image->mipLevels;
    for (int level = 0; level < job.image->mipLevels && result == 0; level++) {
        result = WriteMipLevel(texture, piece, level, x, y, current, width * bytes, width, height, bytes);
        int halfWidth = std::max(1, width / 2), halfHeight = std::max(1, height / 2);
        if (level + 1 == job.image->mipLevels) {
            break;
        }
        if (ownLevels) {
            PixelBuffer levelBuffer = {next, halfWidth * bytes, format, halfWidth, halfHeight};
            TransferPictureLevel(job, level + 1, &levelBuffer, area);
        } else {
            HalveImageRect(format, next, halfWidth * bytes, current, width * bytes, 0, 0, 0, width, height);
        }
        std::swap(current, next);
        width = halfWidth, height = halfHeight;
    }
    FreeMemory(work);
    return result;
}

// A block-compressed picture the size of the texture, of the texture's own kind, goes in block for block, level by
// level, each level measured on its own block grid.
static int CopyCompressedLevels(const UploadJob &job, TexturePiece *piece, IDirect3DTexture9 *texture)
{
    const BaseImage *picture = job.picture;
    int levels = picture->mipCount > 1 ? picture->mipCount : 1;
    levels = levels < job.image->mipLevels ? levels : job.image->mipLevels;
    const unsigned char *source = picture->pixels;
    for (int level = 0; level < levels; level++) {
        int64_t size = GetMipLevelDataSize(&picture->format, picture->width, picture->height, 0, level);
        int blockRows = ((picture->height >> level) + 3) / 4;
        blockRows = blockRows > 0 ? blockRows : 1;
        D3DLOCKED_RECT locked;
        if (FAILED(texture->LockRect(level, &locked, NULL, 0))) {
            return AddLog("テクスチャのロックに失敗しました\n");
        }
        int rowBytes = (int)(size / blockRows);
        for (int row = 0; row < blockRows; row++) {
            memcpy((unsigned char *)locked.pBits + (ptrdiff_t)row * locked.Pitch, source + (ptrdiff_t)row * rowBytes,
                   (size_t)rowBytes);
        }
        texture->UnlockRect(level);
        source += size;
    }
    return 0;
}

static int UploadToPiece(const UploadJob &job, TexturePiece *piece, const RECT &area, BaseImage *original)
{
    IDirect3DTexture9 *texture = piece->staging != NULL ? piece->staging : piece->texture;
    int result;
    if (IsBlockCompressed(job.image->format.kind)) {
        int whole = area.left == piece->x && area.top == piece->y && area.right - area.left == piece->textureWidth &&
                    area.bottom - area.top == piece->textureHeight && original->width == piece->textureWidth &&
                    original->height == piece->textureHeight && job.source.left == 0 && job.source.top == 0;
        if (!whole || original->format.formatCode != job.image->format.kind) {
            AddLog("DXTフォーマットのテクスチャに標準形式のイメージを転送することはできません\n");
            return 0; // the texture is left as it was
        }
        UploadJob compressed = job;
        compressed.picture = original;
        result = CopyCompressedLevels(compressed, piece, texture);
    } else {
        result = job.image->mipLevels > 1 ? WriteMipChain(job, piece, texture, area)
                                          : WritePlainArea(job, piece, texture, area);
    }
    if (result == 0 && piece->staging != NULL && FAILED(g_D3D.device->UpdateTexture(piece->staging, piece->texture))) {
        return AddLog("テクスチャのロックに失敗しました\n");
    }
    return result;
}

// A drawable image cannot be locked: the area goes through a system-memory surface into each piece it covers (and
// the piece's multisample surface).
static int UploadToRenderTarget(const UploadJob &job, const RECT &destination)
{
    IDirect3DSurface9 *surface = NULL;
    int width = destination.right - destination.left, height = destination.bottom - destination.top;
    D3DLOCKED_RECT locked;
    if (FAILED(g_D3D.device->CreateOffscreenPlainSurface(width, height, g_D3D.graphFormats[job.image->formatIndex],
                                                         D3DPOOL_SYSTEMMEM, &surface, NULL)) ||
        FAILED(surface->LockRect(&locked, NULL, 0))) {
        if (surface != NULL) {
            surface->Release();
        }
        return AddLog("画像転送用のシステムメモリテクスチャの作成に失敗しました\n");
    }
    PixelBuffer to = {locked.pBits, locked.Pitch, GetGraphFormatPixelFormat(job.image->formatIndex), width, height};
    TransferArea(job, &to, destination);
    surface->UnlockRect();
    int result = 0;
    for (int i = 0; i < job.image->pieceCount && result == 0; i++) {
        TexturePiece *piece = &job.image->pieces[i];
        RECT used = {piece->x, piece->y, piece->x + piece->usedWidth, piece->y + piece->usedHeight};
        RECT area = Overlap(destination, used);
        if (IsRectEmpty(&area)) {
            continue;
        }
        RECT from = {area.left - destination.left, area.top - destination.top, area.right - destination.left,
                     area.bottom - destination.top};
        POINT at = {area.left - piece->x, area.top - piece->y};
        IDirect3DSurface9 *targets[] = {piece->surface, piece->multiSampleSurface};
        for (IDirect3DSurface9 *target : targets) {
            if (target != NULL && FAILED(g_D3D.device->UpdateSurface(surface, &from, target, &at))) {
                result = AddLog("描画可能テクスチャへの画像の転送に失敗しました\n");
            }
        }
    }
    surface->Release();
    return result;
}

static int UploadToPieces(const UploadJob &job, const RECT &destination, BaseImage *original)
{
    int result = 0;
    for (int i = 0; i < job.image->pieceCount && result == 0; i++) {
        TexturePiece *piece = &job.image->pieces[i];
        RECT used = {piece->x, piece->y, piece->x + piece->usedWidth, piece->y + piece->usedHeight};
        RECT area = Overlap(destination, used);
        if (!IsRectEmpty(&area)) {
            result = UploadToPiece(job, piece, area, original);
        }
    }
    return result;
}

static int UploadToDevice(const UploadJob &request, const RECT &destination, BaseImage *original)
{
    if (g_D3D.device == NULL) {
        return -1;
    }
    BaseImage plain;
    if (BringToPlainPixels(original, &plain) != 0) {
        return -1;
    }
    UploadJob job = request;
    job.picture = &plain;
    int result = job.image->format.renderTarget ? UploadToRenderTarget(job, destination)
                                                : UploadToPieces(job, destination, original);
    DropPlainCopy(original, &plain);
    return result;
}

// ---------------------------------------------------------------------------------------------------------------
// Software path.

// A palette image keys the first palette entry whose colour is the transparent colour (0 when none is).
static void KeyPaletteEntry(SharedGraphImage *image)
{
    MemImgBlock *block = image->image.block;
    int wide = block->kind == MEMIMG_KIND_RGB32;
    uint32_t color = image->transparentColor;
    uint32_t wanted = ColorToPixelValue(GetMemImgColorFormat(block->kind, 0, 0), color >> 16 & 0xFF, color >> 8 & 0xFF,
                                        color & 0xFF, 0);
    block->transparentValue = 0;
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t entry =
            wide ? ((const uint32_t *)block->palette)[i] & 0xFFFFFF : ((const uint16_t *)block->palette)[i];
        if (entry == (wide ? wanted & 0xFFFFFF : wanted)) {
            block->transparentValue = i;
            return;
        }
    }
}

static int UploadToSoftware(const UploadJob &job, const RECT &destination, BaseImage *original)
{
    BaseImage plain;
    if (BringToPlainPixels(original, &plain) != 0) {
        return -1;
    }
    int width = destination.right - destination.left, height = destination.bottom - destination.top;
    int sourceX = job.source.left + destination.left - job.destX,
        sourceY = job.source.top + destination.top - job.destY;
    int result = TransferMemImg(&plain, (BaseImage *)job.alpha, &job.image->image, sourceX, sourceY, width, height,
                                destination.left, destination.top, job.keying);
    if (result == 0 && job.image->format.palette8) {
        KeyPaletteEntry(job.image);
    }
    DropPlainCopy(original, &plain);
    return result;
}

// ---------------------------------------------------------------------------------------------------------------
// Upload entries.

int UploadImageToGraphCore(EngineHandle graph, BaseImage *image, BaseImage *alphaImage, const RECT *sourceRect,
                           int destX, int destY, int keying, int wholeImage)
{
    GraphRecord *record = GetGraphRecord(graph);
    if (!IsGraphicsInitialised() || record == NULL || image == NULL) {
        return -1;
    }
    FlushVertexBatch();
    // The rectangle is cut to the picture (and its alpha picture) first, so that no copy can read past either.
    RECT picture = {0, 0, image->width, image->height};
    RECT source = sourceRect != NULL ? Overlap(*sourceRect, picture) : picture;
    if (alphaImage != NULL) {
        RECT alpha = {0, 0, alphaImage->width, alphaImage->height};
        source = Overlap(source, alpha);
    }
    if (sourceRect != NULL) {
        destX += source.left - sourceRect->left, destY += source.top - sourceRect->top;
    }
    if (IsRectEmpty(&source)) {
        return 0;
    }
    SharedGraphImage *shared = record->image;
    int offsetX = wholeImage ? 0 : record->x, offsetY = wholeImage ? 0 : record->y;
    RECT allowed = wholeImage ? RECT{0, 0, shared->width, shared->height}
                              : RECT{record->x, record->y, record->x + record->width, record->y + record->height};
    UploadJob job = {shared, image, alphaImage, source, destX + offsetX, destY + offsetY, keying};
    RECT landing = {job.destX, job.destY, job.destX + (source.right - source.left),
                    job.destY + (source.bottom - source.top)};
    RECT destination = Overlap(landing, allowed);
    if (IsRectEmpty(&destination)) {
        return shared->format.deviceTexture ? 0 : -1;
    }
    return shared->format.deviceTexture ? UploadToDevice(job, destination, image)
                                        : UploadToSoftware(job, destination, image);
}

int UploadImageToGraph(BaseImage *image, BaseImage *alphaImage, int srcX, int srcY, EngineHandle graph)
{
    GraphRecord *record = GetGraphRecord(graph);
    if (record == NULL) {
        return -1;
    }
    record->sourceX = srcX;
    record->sourceY = srcY;
    RECT source = {srcX, srcY, srcX + record->width, srcY + record->height};
    return UploadImageToGraphCore(graph, image, alphaImage, &source, 0, 0, GetTransparentColorEnabled(), 0);
}

int UploadImageToGraphAt(BaseImage *image, BaseImage *alphaImage, const RECT *srcRect, int destX, int destY,
                         EngineHandle graph)
{
    GraphRecord *record = GetGraphRecord(graph);
    if (record == NULL) {
        return -1;
    }
    record->sourceX = srcRect != NULL ? srcRect->left - destX : 0;
    record->sourceY = srcRect != NULL ? srcRect->top - destY : 0;
    return UploadImageToGraphCore(graph, image, alphaImage, srcRect, destX, destY, GetTransparentColorEnabled(), 0);
}

// ---------------------------------------------------------------------------------------------------------------
// Graphs made here.

static int IsSameSize(const BaseImage *image, const BaseImage *alphaImage)
{
    return alphaImage == NULL || (alphaImage->width == image->width && alphaImage->height == image->height);
}

EngineHandle MakeGraphForImage(BaseImage *image, BaseImage *alphaImage)
{
    if (!IsGraphicsInitialised() || image == NULL) {
        return -1;
    }
    WaitWhileInactive();
    if (!IsSameSize(image, alphaImage)) {
        return -1;
    }
    int alpha = image->format.alphaWidth > 0 || alphaImage != NULL;
    int palette8 = image->format.bytesPerPixel == 1 && !alpha;
    return MakeGraphForSize(image->width, image->height, image->mipCount == 0 ? -1 : image->mipCount, alpha, palette8,
                            (int)image->format.formatCode);
}

EngineHandle MakeEmptyGraph(int width, int height)
{
    if (!IsGraphicsInitialised()) {
        return -1;
    }
    WaitWhileInactive();
    return MakeGraphForSize(width, height, -1, g_GraphCreateSettings.emptyGraphAlpha, 0, 0);
}

// Pass 2 of the edge fix: each transparent pixel (alpha 0 after pass 1) beside a visible one takes that pixel's
// colour, in raster order, and stays transparent.
static void SpreadEdgeColors(BaseImage *copy)
{
    for (int y = 0; y < copy->height; y++) {
        uint32_t *row = (uint32_t *)(copy->pixels + (ptrdiff_t)y * copy->pitch);
        for (int x = 0; x < copy->width; x++) {
            if ((row[x] & 0xFF000000) == 0) {
                continue;
            }
            uint32_t *neighbours[] = {x > 0 ? &row[x - 1] : NULL,
                                      y > 0 ? (uint32_t *)((char *)&row[x] - copy->pitch) : NULL,
                                      x + 1 < copy->width ? &row[x + 1] : NULL,
                                      y + 1 < copy->height ? (uint32_t *)((char *)&row[x] + copy->pitch) : NULL};
            for (uint32_t *neighbour : neighbours) {
                if (neighbour != NULL && (*neighbour & 0xFF000000) == 0) {
                    *neighbour = row[x] & 0xFFFFFF;
                }
            }
        }
    }
}

// The transparent-edge fix: an ARGB copy in which the transparent colour has alpha 0 (pass 1) and the transparent
// pixels around visible ones carry their colour, so that filtering at a sprite's edge fades to its own colour
// rather than to the key colour. -1 (nothing kept) when the copy cannot be made.
static int MakeEdgeFixedCopy(BaseImage *image, BaseImage *copy)
{
    memset(copy, 0, sizeof(*copy));
    BaseImage plain;
    if (BringToPlainPixels(image, &plain) != 0) {
        return -1;
    }
    if (NewARGB8BaseImage(image->width, image->height, copy) != 0) {
        DropPlainCopy(image, &plain);
        return -1;
    }
    PixelBuffer to = BufferOfImage(copy), from = BufferOfImage(&plain);
    RECT all = {0, 0, image->width, image->height};
    PixelKernelOptions options;
    memset(&options, 0, sizeof(options));
    PixelKernel(&to, &from, NULL, 0, 0, &all, &options);
    uint32_t key = g_GraphCreateSettings.transparentColor, opaque = plain.format.alphaWidth == 0 ? 0xFF000000 : 0;
    DropPlainCopy(image, &plain);
    for (int y = 0; y < copy->height; y++) {
        uint32_t *row = (uint32_t *)(copy->pixels + (ptrdiff_t)y * copy->pitch);
        for (int x = 0; x < copy->width; x++) {
            row[x] = (row[x] & 0xFFFFFF) == key ? key : row[x] | opaque;
        }
    }
    SpreadEdgeColors(copy);
    return 0;
}

EngineHandle CreateGraphFromImage(BaseImage *image, BaseImage *alphaImage)
{
    if (image == NULL) {
        return -1;
    }
    uint32_t keptColor = g_GraphCreateSettings.transparentColor;
    if (g_GraphCreateSettings.transparentFromTopLeft && image->width > 0 && image->height > 0) {
        int red, green, blue, alpha;
        GetBaseImagePixelComponents(image, 0, 0, &red, &green, &blue, &alpha);
        g_GraphCreateSettings.transparentColor = (uint32_t)red << 16 | (uint32_t)green << 8 | (uint32_t)blue;
    }
    BaseImage fixed;
    BaseImage *picture = image;
    if (g_GraphCreateSettings.transparentEdgeFix && GetTransparentColorEnabled() &&
        MakeEdgeFixedCopy(image, &fixed) == 0) {
        picture = &fixed;
    }
    EngineHandle graph = MakeGraphForImage(picture, alphaImage);
    if (graph != -1 && UploadImageToGraph(picture, alphaImage, 0, 0, graph) != 0) {
        ReleaseGraphHandle(graph, 0);
        graph = -1;
    }
    if (picture != image) {
        FreeBaseImageData(&fixed);
    }
    g_GraphCreateSettings.transparentColor = keptColor;
    return graph;
}

int RecreateGraphFromImage(BaseImage *image, BaseImage *alphaImage, EngineHandle graph)
{
    GraphRecord *record = GetGraphRecord(graph);
    if (record == NULL || image == NULL || image->width != record->width || image->height != record->height ||
        !IsSameSize(image, alphaImage)) {
        return -1;
    }
    return UploadImageToGraph(image, alphaImage, 0, 0, graph);
}

static int Clamp255(int value)
{
    return value < 0 ? 0 : value > 255 ? 255 : value;
}

int FillGraphWithColor(EngineHandle graph, int red, int green, int blue, int alpha)
{
    GraphRecord *record = GetGraphRecord(graph);
    if (record == NULL) {
        return -1;
    }
    red = Clamp255(red), green = Clamp255(green), blue = Clamp255(blue), alpha = Clamp255(alpha);
    if (!record->image->format.deviceTexture) {
        RECT all = {0, 0, record->width, record->height};
        MemImgFillBox(&record->view, &all, MakeScreenColor(red, green, blue));
        return 0;
    }
    if (g_D3D.device == NULL) {
        return -1;
    }
    if (!record->image->format.renderTarget) {
        return 0;
    }
    D3DCOLOR color = D3DCOLOR_ARGB(alpha, red, green, blue);
    for (int i = 0; i < record->pieceDrawCount; i++) {
        const GraphPieceDraw &draw = record->pieceDraws[i];
        RECT area = {draw.sx, draw.sy, draw.sx + draw.width, draw.sy + draw.height};
        g_D3D.device->ColorFill(draw.piece->surface, &area, color);
    }
    return 0;
}
