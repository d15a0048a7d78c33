// Graph creation: pictures made in code read back from their textures (9Ex staging and managed paths) with the
// edge column and row repeated, pieces under stand-in size rules tiling the graph, keying on A1R5G5B5, compressed
// levels kept block for block, failed creations leaving nothing behind, and the software path's images.
#include <gtest/gtest.h>

#include "graphics/graphics_test_hooks.h"
#include "graphics/log_reading.h"
#include "graphics/screen_readback.h"

#include <algorithm>
#include <functional>
#include <random>
#include <set>
#include <string.h>
#include <vector>

static BaseImage RandomPicture(int width, int height, std::mt19937 &random)
{
    BaseImage image = {};
    NewXRGB8BaseImage(width, height, &image);
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            ((uint32_t *)(image.pixels + (ptrdiff_t)y * image.pitch))[x] = random() & 0xFFFFFF;
        }
    }
    return image;
}

static uint32_t PictureAt(const BaseImage &image, int x, int y)
{
    return ((const uint32_t *)(image.pixels + (ptrdiff_t)y * image.pitch))[x] & 0xFFFFFF;
}

// The texture a test reads: the staging twin when there is one (what the device was given), else the texture.
static IDirect3DTexture9 *ReadableTexture(const TexturePiece &piece)
{
    return piece.staging != NULL ? piece.staging : piece.texture;
}

// Every 32-bit texel of every piece against the rule: inside the used area the picture's pixel, the spare column
// and row beside it the last real one, the rest untouched zero.
static void ExpectPiecesHoldPicture(const SharedGraphImage *image, const BaseImage &picture)
{
    for (int i = 0; i < image->pieceCount; i++) {
        const TexturePiece &piece = image->pieces[i];
        D3DLOCKED_RECT locked;
        ASSERT_EQ(ReadableTexture(piece)->LockRect(0, &locked, NULL, D3DLOCK_READONLY), D3D_OK);
        int wrong = 0;
        for (int ty = 0; ty < piece.textureHeight; ty++) {
            for (int tx = 0; tx < piece.textureWidth; tx++) {
                uint32_t texel = ((uint32_t *)((char *)locked.pBits + ty * locked.Pitch))[tx] & 0xFFFFFF;
                int inside = tx <= piece.usedWidth && ty <= piece.usedHeight;
                int px = piece.x + (tx < piece.usedWidth ? tx : piece.usedWidth - 1);
                int py = piece.y + (ty < piece.usedHeight ? ty : piece.usedHeight - 1);
                wrong += texel != (inside ? PictureAt(picture, px, py) : 0u);
            }
        }
        ReadableTexture(piece)->UnlockRect(0);
        EXPECT_EQ(wrong, 0) << "piece " << i;
    }
}

// The draw records cover every graph pixel exactly once, each from the texel of that picture pixel.
static void ExpectDrawsTileTheGraph(const GraphRecord *record)
{
    std::vector<int> hits((size_t)record->width * record->height);
    for (int i = 0; i < record->pieceDrawCount; i++) {
        const GraphPieceDraw &draw = record->pieceDraws[i];
        EXPECT_EQ(draw.gx + record->x, draw.piece->x + draw.sx);
        EXPECT_EQ(draw.gy + record->y, draw.piece->y + draw.sy);
        EXPECT_FLOAT_EQ(draw.vertices[3].u, (float)(draw.sx + draw.width) / draw.piece->textureWidth);
        EXPECT_FLOAT_EQ(draw.vertices[3].y, (float)(draw.gy + draw.height));
        for (int y = draw.gy; y < draw.gy + draw.height; y++) {
            for (int x = draw.gx; x < draw.gx + draw.width; x++) {
                hits[(size_t)y * record->width + x]++;
            }
        }
    }
    EXPECT_EQ(std::count(hits.begin(), hits.end(), 1), (long)hits.size()) << "no gap and no overlap";
}

struct PieceRule {
    int x, y, width, height;
};

// Pieces under stand-in caps, on the 9Ex staging path and the managed path (the plain-9 switch).
TEST(GraphCreation, PicturesReadBackFromPiecesCutByTheSizeRules)
{
    struct Row {
        const char *name;
        int powerOfTwoOnly, squareOnly, width, height;
        std::vector<PieceRule> pieces;
    } rows[] = {
        {"100x100 power of two: one 128x128", 1, 0, 100, 100, {{0, 0, 128, 128}}},
        {"640x480 on a 640 screen: 512 + 128 by 512", 1, 0, 640, 480, {{0, 0, 512, 512}, {512, 0, 128, 512}}},
        {"square-only 256x64: four 64x64",
         0,
         1,
         256,
         64,
         {{0, 0, 64, 64}, {64, 0, 64, 64}, {128, 0, 64, 64}, {192, 0, 64, 64}}},
    };
    std::mt19937 random(41);
    for (int plain : {0, 1}) {
        SCOPED_TRACE(plain ? "managed" : "9Ex staging");
        SetForcePlainDirect3D9(plain);
        ASSERT_EQ(StartEngineWindow(32, 1), 0);
        ASSERT_EQ(IsDeviceMode(), 1);
        EXPECT_EQ(g_D3D.deviceEx == NULL, plain == 1);
        const int blocks = GetAllocationCount();
        SetTransparentColorEnabled(0);
        Direct3DGlobals kept = g_D3D;
        for (const Row &row : rows) {
            SCOPED_TRACE(row.name);
            g_D3D.powerOfTwoOnly = row.powerOfTwoOnly, g_D3D.nonPowerOfTwoAllowed = 0;
            g_D3D.maxTextureWidth = g_D3D.maxTextureHeight = 2048;
            g_D3D.caps.TextureCaps = row.squareOnly ? kept.caps.TextureCaps | D3DPTEXTURECAPS_SQUAREONLY : 0;
            BaseImage picture = RandomPicture(row.width, row.height, random);
            EngineHandle graph = CreateGraphFromImage(&picture, NULL);
            ASSERT_NE(graph, -1);
            const GraphRecord *record = GetGraphRecord(graph);
            const SharedGraphImage *image = record->image;
            EXPECT_EQ(image->format.staging, !plain);
            ASSERT_EQ(image->pieceCount, (int)row.pieces.size());
            for (int i = 0; i < image->pieceCount; i++) {
                const TexturePiece &p = image->pieces[i];
                const PieceRule &want = row.pieces[i];
                EXPECT_EQ(std::vector<int>({p.x, p.y, p.textureWidth, p.textureHeight}),
                          std::vector<int>({want.x, want.y, want.width, want.height}))
                    << i;
            }
            ExpectPiecesHoldPicture(image, picture);
            ExpectDrawsTileTheGraph(record);
            if (record->pieceDrawCount == 1) {
                EXPECT_EQ(memcmp(record->pieceDraws[0].aboveDiagonal, "\1\1\1\0", 4), 0) << "only bottom-right below";
            }
            // The device objects made again, as after device loss, take a new picture of the same size.
            BaseImage second = RandomPicture(row.width, row.height, random);
            ReleaseImageTextures(record->image);
            ASSERT_EQ(CreateGraphTextures(record->image), 0);
            ASSERT_EQ(RecreateGraphFromImage(&second, NULL, graph), 0);
            ExpectPiecesHoldPicture(image, second);
            ReleaseGraphHandle(graph, 0);
            FreeBaseImageData(&picture), FreeBaseImageData(&second);
        }
        g_D3D = kept;
        SetTransparentColorEnabled(1);
        EXPECT_EQ(GetAllocationCount(), blocks);
        EndEngine();
    }
    SetForcePlainDirect3D9(0);
}

// A1R5G5B5: alpha 0 exactly where the picture shows the transparent colour, each channel's top five bits kept.
TEST(GraphCreation, KeyingOnOneBitAlphaIsExact)
{
    ASSERT_EQ(StartEngineWindow(32, 1), 0);
    SetGraphColorBits(16);
    SetGraphTransparentColor(0x10, 0x80, 0xF8);
    std::mt19937 random(5);
    BaseImage picture = RandomPicture(64, 64, random);
    for (int i = 0; i < 600; i++) {
        ((uint32_t *)picture.pixels)[random() % (64 * 64)] = 0x1080F8;
    }
    EngineHandle graph = CreateGraphFromImage(&picture, NULL);
    ASSERT_NE(graph, -1);
    const TexturePiece &piece = GetGraphRecord(graph)->image->pieces[0];
    ASSERT_EQ(g_D3D.graphFormats[GetGraphRecord(graph)->image->formatIndex], D3DFMT_A1R5G5B5);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(ReadableTexture(piece)->LockRect(0, &locked, NULL, D3DLOCK_READONLY), D3D_OK);
    int wrong = 0;
    for (int y = 0; y < 64; y++) {
        for (int x = 0; x < 64; x++) {
            uint32_t c = PictureAt(picture, x, y);
            uint16_t want =
                (uint16_t)((c != 0x1080F8) << 15 | (c >> 19 & 31) << 10 | (c >> 11 & 31) << 5 | (c >> 3 & 31));
            wrong += ((uint16_t *)((char *)locked.pBits + y * locked.Pitch))[x] != want;
        }
    }
    ReadableTexture(piece)->UnlockRect(0);
    EXPECT_EQ(wrong, 0);
    ReleaseGraphHandle(graph, 0);
    FreeBaseImageData(&picture);
    EndEngine();
}

// A compressed picture with its whole mip chain: every level of the texture holds the picture's blocks of that
// level, also where a level is smaller than one block and the chain is not square.
TEST(GraphCreation, CompressedPicturesKeepTheirBlocksAtEveryLevel)
{
    ASSERT_EQ(StartEngineWindow(32, 1), 0);
    std::mt19937 random(9);
    for (int kind : {PIXEL_FORMAT_DXT1, PIXEL_FORMAT_DXT5}) {
        SCOPED_TRACE(kind);
        BaseImage picture = {};
        picture.format.formatCode = kind;
        picture.format.bitsPerPixel = kind == PIXEL_FORMAT_DXT1 ? 4 : 8;
        picture.format.bytesPerPixel = 4;
        picture.width = 64, picture.height = 32, picture.mipCount = 7;
        int64_t size = GetMipChainDataSize(&picture.format, 64, 32, 0, 7);
        picture.pixels = (unsigned char *)ENGINE_ALLOC((size_t)size);
        for (int64_t i = 0; i < size; i++) {
            picture.pixels[i] = (unsigned char)random();
        }
        EngineHandle graph = CreateGraphFromImage(&picture, NULL);
        ASSERT_NE(graph, -1);
        const TexturePiece &piece = GetGraphRecord(graph)->image->pieces[0];
        const unsigned char *level = picture.pixels;
        for (int l = 0; l < 7; l++) {
            int64_t bytes = GetMipLevelDataSize(&picture.format, 64, 32, 0, l);
            int rows = std::max(1, (32 >> l) / 4);
            D3DLOCKED_RECT locked;
            ASSERT_EQ(ReadableTexture(piece)->LockRect(l, &locked, NULL, D3DLOCK_READONLY), D3D_OK) << l;
            for (int r = 0; r < rows; r++) {
                EXPECT_EQ(memcmp((char *)locked.pBits + r * locked.Pitch, level + r * (bytes / rows), bytes / rows), 0)
                    << "level " << l << " block row " << r;
            }
            ReadableTexture(piece)->UnlockRect(l);
            level += bytes;
        }
        ReleaseGraphHandle(graph, 0);
        FreeBaseImageData(&picture);
    }
    EndEngine();
}

// Failed creations give -1 with their line and leave the graph count and the tracked blocks as they were.
TEST(GraphCreation, AFailedCreationLeavesNothingBehind)
{
    ASSERT_EQ(StartEngineWindow(32, 1), 0);
    struct Row {
        const char *name;
        int width, height, deviceMax, noFormat;
        const char *line;
    } rows[] = {
        {"width 0", 0, 16, 0, 0, "グラフィックのサイズが不正です"},
        {"negative height", 16, -3, 0, 0, "グラフィックのサイズが不正です"},
        {"too large", 40000, 40000, 0, 0, "グラフィックのサイズが不正です"},
        {"texture refused by the device", 40000, 8, 65536, 0, "書き込み専用テクスチャの作成に失敗しました"},
        {"no device format", 64, 64, 0, 1, "指定のフォーマットで作成できるテクスチャフォーマットがありませんでした"},
    };
    Direct3DGlobals kept = g_D3D;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        if (row.deviceMax) {
            g_D3D.maxTextureWidth = g_D3D.maxTextureHeight = row.deviceMax;
        }
        if (row.noFormat) {
            memset(g_D3D.graphFormats, 0, sizeof(g_D3D.graphFormats));
        }
        const int blocks = GetAllocationCount(), graphs = GetGraphTableCount();
        EXPECT_EQ(MakeEmptyGraph(row.width, row.height), -1);
        EXPECT_EQ(GetGraphTableCount(), graphs);
        EXPECT_EQ(GetAllocationCount(), blocks);
        g_D3D = kept;
        EXPECT_EQ(FirstMissingInOrder(ReadLogText(), {row.line}), "");
    }
    EndEngine();
}

// The software path: a graph is a software image holding the picture's pixels; an empty graph takes a fill.
TEST(GraphCreation, SoftwareGraphsAreImagesOfThePicture)
{
    ASSERT_EQ(StartEngineWindow(32, 0), 0);
    const int blocks = GetAllocationCount();
    SetTransparentColorEnabled(0);
    std::mt19937 random(3);
    BaseImage picture = RandomPicture(37, 21, random);
    EngineHandle graph = CreateGraphFromImage(&picture, NULL), empty = MakeEmptyGraph(9, 5);
    ASSERT_NE(graph, -1);
    ASSERT_NE(empty, -1);
    EXPECT_EQ(FillGraphWithColor(empty, 300, 20, -4, 0), 0);
    struct Row {
        EngineHandle graph;
        int width, height;
        std::function<uint32_t(int, int)> expected;
    } rows[] = {{graph, 37, 21, [&](int x, int y) { return PictureAt(picture, x, y); }},
                {empty, 9, 5, [](int, int) { return MakeScreenColor(255, 20, 0) & 0xFFFFFF; }}};
    for (const Row &row : rows) {
        const MEMIMG &view = GetGraphRecord(row.graph)->view;
        ASSERT_TRUE(IsValidMemImg(&view));
        ASSERT_EQ(view.width * 100 + view.height, row.width * 100 + row.height);
        int wrong = 0;
        for (int y = 0; y < row.height; y++) {
            for (int x = 0; x < row.width; x++) {
                uint32_t pixel = ((uint32_t *)(view.pixels + (ptrdiff_t)y * view.block->pitch))[x] & 0xFFFFFF;
                wrong += pixel != row.expected(x, y);
            }
        }
        EXPECT_EQ(wrong, 0);
        ReleaseGraphHandle(row.graph, 0);
    }
    FreeBaseImageData(&picture);
    SetTransparentColorEnabled(1);
    EXPECT_EQ(GetAllocationCount(), blocks);
    EndEngine();
}

// Level 0 is the picture, each further level the one before averaged per channel over 2x2 (pairs once a side is 1).
TEST(GraphCreation, PlainPicturesFillEveryLevelByHalving)
{
    ASSERT_EQ(StartEngineWindow(32, 1), 0);
    SetTransparentColorEnabled(0);
    g_GraphCreateSettings.defaultMipLevels = -1;
    std::mt19937 random(17);
    BaseImage picture = RandomPicture(64, 16, random);
    EngineHandle graph = CreateGraphFromImage(&picture, NULL);
    ASSERT_NE(graph, -1);
    const TexturePiece &piece = GetGraphRecord(graph)->image->pieces[0];
    ASSERT_EQ(GetGraphRecord(graph)->image->mipLevels, 7);
    std::vector<uint32_t> level(64 * 16);
    for (int i = 0; i < 64 * 16; i++) {
        level[i] = PictureAt(picture, i % 64, i / 64);
    }
    for (int l = 0, w = 64, h = 16; l < 7; l++) {
        D3DLOCKED_RECT locked;
        ASSERT_EQ(ReadableTexture(piece)->LockRect(l, &locked, NULL, D3DLOCK_READONLY), D3D_OK);
        int wrong = 0;
        for (int i = 0; i < w * h; i++) {
            wrong += (((uint32_t *)((char *)locked.pBits + i / w * locked.Pitch))[i % w] & 0xFFFFFF) != level[i];
        }
        ReadableTexture(piece)->UnlockRect(l);
        EXPECT_EQ(wrong, 0) << "level " << l;
        int sx = w > 1 ? 2 : 1, sy = h > 1 ? 2 : 1, nw = w / sx, nh = h / sy;
        std::vector<uint32_t> next((size_t)nw * nh);
        for (int i = 0; i < nw * nh; i++) {
            for (int shift = 0; shift < 24; shift += 8) {
                uint32_t sum = 0;
                for (int j = 0; j < sx * sy; j++) {
                    sum += level[(size_t)(i / nw * sy + j / sx) * w + i % nw * sx + j % sx] >> shift & 0xFF;
                }
                next[i] |= sum / (sx * sy) << shift;
            }
        }
        level.swap(next), w = nw, h = nh;
    }
    ReleaseGraphHandle(graph, 0);
    FreeBaseImageData(&picture);
    g_GraphCreateSettings.defaultMipLevels = 0;
    SetTransparentColorEnabled(1);
    EndEngine();
}

// An upload's rectangle is cut to the picture first: what lies outside it leaves the texels as they were, and a
// compressed picture smaller than its compressed graph is refused with its line instead of read past its end.
TEST(GraphCreation, UploadsAreCutToThePicture)
{
    ASSERT_EQ(StartEngineWindow(32, 1), 0);
    std::mt19937 random(23);
    BaseImage picture = RandomPicture(64, 64, random);
    struct Row {
        int srcX, srcY;
    } rows[] = {{-10, 5}, {30, -7}, {50, 50}, {0, 0}, {200, 0}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.srcX * 1000 + row.srcY);
        EngineHandle graph = MakeEmptyGraph(64, 64);
        ASSERT_EQ(UploadImageToGraph(&picture, NULL, row.srcX, row.srcY, graph), 0);
        const TexturePiece &piece = GetGraphRecord(graph)->image->pieces[0];
        D3DLOCKED_RECT locked;
        ASSERT_EQ(ReadableTexture(piece)->LockRect(0, &locked, NULL, D3DLOCK_READONLY), D3D_OK);
        int wrong = 0;
        for (int y = 0; y < 64; y++) {
            for (int x = 0; x < 64; x++) {
                int px = x + row.srcX, py = y + row.srcY, inside = px >= 0 && px < 64 && py >= 0 && py < 64;
                uint32_t texel = ((uint32_t *)((char *)locked.pBits + y * locked.Pitch))[x] & 0xFFFFFF;
                wrong += texel != (inside ? PictureAt(picture, px, py) : 0u);
            }
        }
        ReadableTexture(piece)->UnlockRect(0);
        EXPECT_EQ(wrong, 0);
        ReleaseGraphHandle(graph, 0);
    }
    BaseImage blocks[2] = {};
    for (int i = 0; i < 2; i++) {
        blocks[i].format.formatCode = PIXEL_FORMAT_DXT1, blocks[i].format.bitsPerPixel = 4;
        blocks[i].width = blocks[i].height = 64 >> i;
        blocks[i].pixels =
            (unsigned char *)ENGINE_ALLOC_ZEROED(GetMipChainDataSize(&blocks[i].format, 64 >> i, 64 >> i, 0, 1));
        memset(blocks[i].pixels, 0x5A + i, (size_t)GetMipChainDataSize(&blocks[i].format, 64 >> i, 64 >> i, 0, 1));
    }
    EngineHandle graph = CreateGraphFromImage(&blocks[0], NULL);
    ASSERT_NE(graph, -1);
    EXPECT_EQ(UploadImageToGraph(&blocks[1], NULL, 0, 0, graph), 0);
    EXPECT_EQ(FirstMissingInOrder(ReadLogText(),
                                  {"DXTフォーマットのテクスチャに標準形式のイメージを転送することはできません"}),
              "");
    const TexturePiece &piece = GetGraphRecord(graph)->image->pieces[0];
    D3DLOCKED_RECT locked;
    ASSERT_EQ(ReadableTexture(piece)->LockRect(0, &locked, NULL, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(memcmp(locked.pBits, blocks[0].pixels, 32 * 8), 0) << "the first block row is the first picture's";
    ReadableTexture(piece)->UnlockRect(0);
    ReleaseGraphHandle(graph, 0);
    FreeBaseImageData(&blocks[0]), FreeBaseImageData(&blocks[1]), FreeBaseImageData(&picture);
    EndEngine();
}

// Drawable graphs are filled and uploaded through the device: each reads back (through a render-target copy) as
// the colour or the picture.
TEST(GraphCreation, DrawableGraphsTakeFillsAndPictures)
{
    ASSERT_EQ(StartEngineWindow(32, 1), 0);
    SetTransparentColorEnabled(0);
    g_GraphCreateSettings.drawable = 1;
    std::mt19937 random(31);
    BaseImage picture = RandomPicture(100, 60, random);
    for (int fill : {0, 1}) {
        EngineHandle graph = CreateGraphFromImage(&picture, NULL);
        ASSERT_NE(graph, -1);
        ASSERT_EQ(fill ? FillGraphWithColor(graph, 10, 200, 300, 255) : 0, 0);
        const TexturePiece &piece = GetGraphRecord(graph)->image->pieces[0];
        D3DSURFACE_DESC desc;
        piece.surface->GetDesc(&desc);
        IDirect3DSurface9 *copy = NULL;
        g_D3D.device->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format, D3DPOOL_SYSTEMMEM, &copy, NULL);
        ASSERT_EQ(g_D3D.device->GetRenderTargetData(piece.surface, copy), D3D_OK);
        D3DLOCKED_RECT locked;
        copy->LockRect(&locked, NULL, D3DLOCK_READONLY);
        int wrong = 0;
        for (int y = 0; y < 60; y++) {
            for (int x = 0; x < 100; x++) {
                uint32_t texel = ((uint32_t *)((char *)locked.pBits + y * locked.Pitch))[x] & 0xFFFFFF;
                wrong += texel != (fill ? 0x0AC8FFu : PictureAt(picture, x, y));
            }
        }
        copy->UnlockRect();
        copy->Release();
        EXPECT_EQ(wrong, 0) << fill;
        ReleaseGraphHandle(graph, 0);
    }
    g_GraphCreateSettings.drawable = 0;
    SetTransparentColorEnabled(1);
    FreeBaseImageData(&picture);
    EndEngine();
}

// The transparent-edge fix over sparse random pictures: visible pixels keep their colour at full alpha, every
// transparent texel is invisible and carries either the key colour (nothing visible beside it) or the colour of a
// visible 4-neighbour.
TEST(GraphCreation, TransparentEdgesTakeTheirNeighboursColour)
{
    ASSERT_EQ(StartEngineWindow(32, 1), 0);
    g_GraphCreateSettings.transparentEdgeFix = 1;
    SetGraphTransparentColor(0xFF, 0, 0xFF);
    std::mt19937 random(8);
    BaseImage picture = RandomPicture(32, 32, random);
    for (int i = 0; i < 32 * 32; i++) {
        if (random() % 4 != 0) {
            ((uint32_t *)picture.pixels)[i] = 0xFF00FF;
        }
    }
    EngineHandle graph = CreateGraphFromImage(&picture, NULL);
    ASSERT_NE(graph, -1);
    const TexturePiece &piece = GetGraphRecord(graph)->image->pieces[0];
    D3DLOCKED_RECT locked;
    ASSERT_EQ(ReadableTexture(piece)->LockRect(0, &locked, NULL, D3DLOCK_READONLY), D3D_OK);
    int wrong = 0;
    for (int y = 0; y < 32; y++) {
        for (int x = 0; x < 32; x++) {
            uint32_t texel = ((uint32_t *)((char *)locked.pBits + y * locked.Pitch))[x], own = PictureAt(picture, x, y);
            std::set<uint32_t> allowed = {0xFF00FF};
            for (int d = 0; d < 4; d++) {
                int nx = x + (d == 0) - (d == 1), ny = y + (d == 2) - (d == 3);
                if (nx >= 0 && nx < 32 && ny >= 0 && ny < 32 && PictureAt(picture, nx, ny) != 0xFF00FF) {
                    allowed.insert(PictureAt(picture, nx, ny)), allowed.erase(allowed.size() > 1 ? 0xFF00FF : 0);
                }
            }
            wrong += own != 0xFF00FF ? texel != (0xFF000000 | own) : texel >> 24 != 0 || !allowed.count(texel);
        }
    }
    ReadableTexture(piece)->UnlockRect(0);
    EXPECT_EQ(wrong, 0);
    ReleaseGraphHandle(graph, 0);
    FreeBaseImageData(&picture);
    g_GraphCreateSettings.transparentEdgeFix = 0;
    EndEngine();
}
