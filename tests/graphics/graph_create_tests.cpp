// Graph creation: pictures made in code read back from their textures (9Ex staging and managed paths) with the
// edge column and row repeated, pieces under stand-in size rules tiling the graph, keying on A1R5G5B5, mip levels,
// compressed levels kept block for block, drawable graphs, the edge fix, failed creations leaving nothing behind,
// and the software path's images.
#include <gtest/gtest.h>

#include "graphics/graphics_test_hooks.h"
#include "graphics/log_reading.h"
#include "graphics/screen_readback.h"
#include "softrender/softrender.h"

#include <algorithm>
#include <functional>
#include <numeric>
#include <random>
#include <set>
#include <string.h>
#include <vector>

typedef std::function<uint32_t(int, int)> TexelRule;

static BaseImage RandomPicture(int width, int height, std::mt19937 &random, uint32_t key = 0, int keyShare = 0)
{
    BaseImage image = {};
    NewXRGB8BaseImage(width, height, &image);
    for (int i = 0; i < width * height; i++) {
        ((uint32_t *)image.pixels)[i] = (int)(random() % 100) < keyShare ? key : random() & 0xFFFFFF;
    }
    return image;
}

static uint32_t PictureAt(const BaseImage &image, int x, int y)
{
    return ((const uint32_t *)image.pixels)[y * image.width + x] & 0xFFFFFF;
}

typedef std::function<bool(int, int, uint32_t)> TexelCheck;

// Texels of a level (2 or 4 bytes each) over width x height that fail the check; -1 when the level cannot be read.
// A piece is read from its staging twin when it has one (what the device was given).
static int CountWrongTexels(const TexturePiece &piece, int level, int width, int height, const TexelCheck &check)
{
    IDirect3DTexture9 *texture = piece.staging != NULL ? piece.staging : piece.texture;
    D3DSURFACE_DESC desc;
    D3DLOCKED_RECT locked;
    if (FAILED(texture->GetLevelDesc(level, &desc)) ||
        FAILED(texture->LockRect(level, &locked, NULL, D3DLOCK_READONLY))) {
        return -1;
    }
    int bytes = desc.Format == D3DFMT_A1R5G5B5 ? 2 : 4, wrong = 0;
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            const char *at = (const char *)locked.pBits + y * locked.Pitch + x * bytes;
            wrong += !check(x, y, bytes == 2 ? *(const uint16_t *)at : *(const uint32_t *)at);
        }
    }
    texture->UnlockRect(level);
    return wrong;
}

static int CountWrongTexels(const TexturePiece &piece, int level, int width, int height, uint32_t mask,
                            const TexelRule &rule)
{
    return CountWrongTexels(piece, level, width, height,
                            [&](int x, int y, uint32_t texel) { return (texel & mask) == (rule(x, y) & mask); });
}

// Inside the used area the picture's pixel, the spare column and row beside it the last real one, the rest zero.
static void ExpectPiecesHoldPicture(const SharedGraphImage *image, const BaseImage &picture)
{
    for (int i = 0; i < image->pieceCount; i++) {
        const TexturePiece &p = image->pieces[i];
        TexelRule rule = [&](int tx, int ty) {
            int px = p.x + std::min(tx, p.usedWidth - 1), py = p.y + std::min(ty, p.usedHeight - 1);
            return tx <= p.usedWidth && ty <= p.usedHeight ? PictureAt(picture, px, py) : 0u;
        };
        EXPECT_EQ(CountWrongTexels(p, 0, p.textureWidth, p.textureHeight, 0xFFFFFF, rule), 0) << "piece " << i;
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

// Pieces under stand-in caps, on the 9Ex staging path and the managed path (the plain-9 switch); after the device
// objects are made again, as after device loss, the graph takes a new picture of the same size.
TEST(GraphCreation, PicturesReadBackFromPiecesCutByTheSizeRules)
{
    struct Row {
        const char *name;
        int powerOfTwoOnly, squareOnly, width, height;
        std::vector<int> pieces; // x, y, texture width and height of each
    } rows[] = {
        {"100x100 power of two: one 128x128", 1, 0, 100, 100, {0, 0, 128, 128}},
        {"640x480 on a 640 screen: 512 + 128 by 512", 1, 0, 640, 480, {0, 0, 512, 512, 512, 0, 128, 512}},
        {"square-only 256x64", 0, 1, 256, 64, {0, 0, 64, 64, 64, 0, 64, 64, 128, 0, 64, 64, 192, 0, 64, 64}},
    };
    std::mt19937 random(41);
    for (int plain : {0, 1}) {
        SCOPED_TRACE(plain ? "managed" : "9Ex staging");
        SetForcePlainDirect3D9(plain);
        ASSERT_EQ(StartEngineWindow(32, 1), 0);
        EXPECT_EQ(g_D3D.deviceEx == NULL, plain == 1);
        const int blocks = GetAllocationCount();
        SetTransparentColorEnabled(0);
        Direct3DGlobals kept = g_D3D;
        for (const Row &row : rows) {
            SCOPED_TRACE(row.name);
            g_D3D.powerOfTwoOnly = row.powerOfTwoOnly, g_D3D.nonPowerOfTwoAllowed = 0;
            g_D3D.maxTextureWidth = g_D3D.maxTextureHeight = 2048;
            g_D3D.caps.TextureCaps = row.squareOnly ? D3DPTEXTURECAPS_SQUAREONLY : 0;
            BaseImage picture = RandomPicture(row.width, row.height, random);
            BaseImage second = RandomPicture(row.width, row.height, random);
            EngineHandle graph = CreateGraphFromImage(&picture, NULL);
            ASSERT_NE(graph, -1);
            const GraphRecord *record = GetGraphRecord(graph);
            EXPECT_EQ(record->image->format.staging, !plain);
            std::vector<int> pieces;
            for (int i = 0; i < record->image->pieceCount; i++) {
                const TexturePiece &p = record->image->pieces[i];
                pieces.insert(pieces.end(), {p.x, p.y, p.textureWidth, p.textureHeight});
            }
            ASSERT_EQ(pieces, row.pieces);
            ExpectPiecesHoldPicture(record->image, picture);
            ExpectDrawsTileTheGraph(record);
            if (record->pieceDrawCount == 1) {
                EXPECT_EQ(memcmp(record->pieceDraws[0].aboveDiagonal, "\1\1\1\0", 4), 0) << "only bottom-right below";
            }
            ReleaseImageTextures(record->image);
            ASSERT_EQ(CreateGraphTextures(record->image), 0);
            ASSERT_EQ(RecreateGraphFromImage(&second, NULL, graph), 0);
            ExpectPiecesHoldPicture(record->image, second);
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

typedef EngineScreenSuite<32, 1> GraphDevice;

// A1R5G5B5: alpha 0 exactly where the picture shows the transparent colour, each channel's top five bits kept.
TEST_F(GraphDevice, KeyingOnOneBitAlphaIsExact)
{
    SetGraphColorBits(16);
    SetGraphTransparentColor(0x10, 0x80, 0xF8);
    std::mt19937 random(5);
    BaseImage picture = RandomPicture(64, 64, random, 0x1080F8, 15);
    EngineHandle graph = CreateGraphFromImage(&picture, NULL);
    SetGraphColorBits(0);
    ASSERT_NE(graph, -1);
    ASSERT_EQ(g_D3D.graphFormats[GetGraphRecord(graph)->image->formatIndex], D3DFMT_A1R5G5B5);
    TexelRule rule = [&](int x, int y) {
        uint32_t c = PictureAt(picture, x, y);
        return (c != 0x1080F8) << 15 | (c >> 19 & 31) << 10 | (c >> 11 & 31) << 5 | (c >> 3 & 31);
    };
    EXPECT_EQ(CountWrongTexels(GetGraphRecord(graph)->image->pieces[0], 0, 64, 64, 0xFFFF, rule), 0);
    ReleaseGraphHandle(graph, 0);
    FreeBaseImageData(&picture);
}

static BaseImage RandomBlocks(int kind, int width, int height, int levels, std::mt19937 &random)
{
    BaseImage picture = {};
    picture.format.formatCode = kind;
    picture.format.bitsPerPixel = kind == PIXEL_FORMAT_DXT1 ? 4 : 8;
    picture.width = width, picture.height = height, picture.mipCount = levels;
    int64_t size = GetMipChainDataSize(&picture.format, width, height, 0, levels);
    picture.pixels = (unsigned char *)ENGINE_ALLOC((size_t)size);
    std::generate(picture.pixels, picture.pixels + size, [&] { return (unsigned char)random(); });
    return picture;
}

// Every level holds the picture's blocks of that level, also where a level is below one block and the chain is
// not square (a 4-byte word of a block row at a time).
TEST_F(GraphDevice, CompressedPicturesKeepTheirBlocksAtEveryLevel)
{
    std::mt19937 random(9);
    for (int kind : {PIXEL_FORMAT_DXT1, PIXEL_FORMAT_DXT5}) {
        BaseImage picture = RandomBlocks(kind, 64, 32, 7, random);
        EngineHandle graph = CreateGraphFromImage(&picture, NULL);
        ASSERT_NE(graph, -1);
        const unsigned char *level = picture.pixels;
        for (int l = 0; l < 7; l++) {
            int64_t bytes = GetMipLevelDataSize(&picture.format, 64, 32, 0, l);
            int rows = std::max(1, (32 >> l) / 4), words = (int)(bytes / rows / 4);
            TexelRule rule = [&](int x, int y) { return ((const uint32_t *)level)[y * words + x]; };
            EXPECT_EQ(CountWrongTexels(GetGraphRecord(graph)->image->pieces[0], l, words, rows, ~0u, rule), 0)
                << "kind " << kind << " level " << l;
            level += bytes;
        }
        ReleaseGraphHandle(graph, 0);
        FreeBaseImageData(&picture);
    }
}

// The next mip level of a w x h level: each pixel the per-channel average of its 2x2 (pairs once a side is 1).
static std::vector<uint32_t> HalvedLevel(const std::vector<uint32_t> &level, int w, int h)
{
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
    return next;
}

// A 64x16 plain picture fills all 7 levels: a picture without levels by halving level 0 again and again, one that
// brings its own levels (rows unpadded past level 0) with each of them as it is.
TEST_F(GraphDevice, PlainPicturesFillEveryLevel)
{
    SetTransparentColorEnabled(0);
    g_GraphCreateSettings.defaultMipLevels = -1;
    std::mt19937 random(17);
    for (int own : {0, 1}) {
        BaseImage picture = {};
        if (own) {
            SetXRGB8PixelFormat(&picture.format);
            picture.width = 64, picture.height = 16, picture.pitch = 256, picture.mipCount = 7;
            int64_t size = GetMipChainDataSize(&picture.format, 64, 16, 256, 7);
            picture.pixels = (unsigned char *)ENGINE_ALLOC((size_t)size);
            std::generate(picture.pixels, picture.pixels + size, [&] { return (unsigned char)random(); });
        } else {
            picture = RandomPicture(64, 16, random);
        }
        EngineHandle graph = CreateGraphFromImage(&picture, NULL);
        ASSERT_NE(graph, -1);
        ASSERT_EQ(GetGraphRecord(graph)->image->mipLevels, 7);
        const uint32_t *pixels = (const uint32_t *)picture.pixels;
        std::vector<uint32_t> level(pixels, pixels + 64 * 16);
        for (int l = 0, w = 64, h = 16; l < 7; l++) {
            TexelRule rule = [&](int x, int y) { return level[y * w + x]; };
            EXPECT_EQ(CountWrongTexels(GetGraphRecord(graph)->image->pieces[0], l, w, h, 0xFFFFFF, rule), 0)
                << (own ? "own level " : "halved level ") << l;
            pixels += w * h;
            level = own ? std::vector<uint32_t>(pixels, pixels + std::max(1, w / 2) * std::max(1, h / 2))
                        : HalvedLevel(level, w, h);
            w = std::max(1, w / 2), h = std::max(1, h / 2);
        }
        ReleaseGraphHandle(graph, 0);
        FreeBaseImageData(&picture);
    }
    g_GraphCreateSettings.defaultMipLevels = 0;
    SetTransparentColorEnabled(1);
}

// An upload's rectangle is cut to the picture first: texels outside it stay as they were; a compressed picture
// smaller than its compressed graph is refused with its line and changes nothing.
TEST_F(GraphDevice, UploadsAreCutToThePicture)
{
    std::mt19937 random(23);
    BaseImage picture = RandomPicture(64, 64, random);
    for (POINT source : {POINT{-10, 5}, POINT{30, -7}, POINT{50, 50}, POINT{0, 0}, POINT{200, 0}}) {
        EngineHandle graph = MakeEmptyGraph(64, 64);
        ASSERT_EQ(UploadImageToGraph(&picture, NULL, source.x, source.y, graph), 0);
        TexelRule rule = [&](int x, int y) {
            int px = x + source.x, py = y + source.y;
            return px >= 0 && px < 64 && py >= 0 && py < 64 ? PictureAt(picture, px, py) : 0u;
        };
        EXPECT_EQ(CountWrongTexels(GetGraphRecord(graph)->image->pieces[0], 0, 64, 64, 0xFFFFFF, rule), 0)
            << source.x << ", " << source.y;
        ReleaseGraphHandle(graph, 0);
    }
    BaseImage large = RandomBlocks(PIXEL_FORMAT_DXT1, 64, 64, 1, random);
    BaseImage small = RandomBlocks(PIXEL_FORMAT_DXT1, 32, 32, 1, random);
    EngineHandle graph = CreateGraphFromImage(&large, NULL);
    EXPECT_EQ(UploadImageToGraph(&small, NULL, 0, 0, graph), 0);
    EXPECT_EQ(FirstMissingInOrder(ReadLogText(),
                                  {"DXTフォーマットのテクスチャに標準形式のイメージを転送することはできません"}),
              "");
    TexelRule rule = [&](int x, int y) { return ((const uint32_t *)large.pixels)[y * 32 + x]; };
    EXPECT_EQ(CountWrongTexels(GetGraphRecord(graph)->image->pieces[0], 0, 32, 16, ~0u, rule), 0);
    ReleaseGraphHandle(graph, 0);
    FreeBaseImageData(&large), FreeBaseImageData(&small), FreeBaseImageData(&picture);
}

// Drawable graphs are filled and uploaded through the device: each reads back (through a render-target copy) as
// the colour or the picture.
TEST_F(GraphDevice, DrawableGraphsTakeFillsAndPictures)
{
    SetTransparentColorEnabled(0);
    g_GraphCreateSettings.drawable = 1;
    std::mt19937 random(31);
    BaseImage picture = RandomPicture(100, 60, random);
    for (int fill : {0, 1}) {
        EngineHandle graph = CreateGraphFromImage(&picture, NULL);
        ASSERT_NE(graph, -1);
        ASSERT_EQ(fill ? FillGraphWithColor(graph, 10, 200, 300, 255) : 0, 0);
        TexturePiece copy = {};
        D3DSURFACE_DESC desc;
        GetGraphRecord(graph)->image->pieces[0].surface->GetDesc(&desc);
        g_D3D.device->CreateTexture(desc.Width, desc.Height, 1, 0, desc.Format, D3DPOOL_SYSTEMMEM, &copy.texture, NULL);
        copy.texture->GetSurfaceLevel(0, &copy.surface);
        ASSERT_EQ(g_D3D.device->GetRenderTargetData(GetGraphRecord(graph)->image->pieces[0].surface, copy.surface), 0);
        TexelRule rule = [&](int x, int y) { return fill ? 0x0AC8FFu : PictureAt(picture, x, y); };
        EXPECT_EQ(CountWrongTexels(copy, 0, 100, 60, 0xFFFFFF, rule), 0) << fill;
        copy.surface->Release(), copy.texture->Release();
        ReleaseGraphHandle(graph, 0);
    }
    g_GraphCreateSettings.drawable = 0;
    SetTransparentColorEnabled(1);
    FreeBaseImageData(&picture);
}

// The transparent-edge fix over sparse random pictures: visible pixels keep their colour at full alpha; every
// transparent texel is invisible and carries the key colour when nothing visible lies beside it, else the colour
// of a visible 4-neighbour.
TEST_F(GraphDevice, TransparentEdgesTakeTheirNeighboursColour)
{
    g_GraphCreateSettings.transparentEdgeFix = 1;
    SetGraphTransparentColor(0xFF, 0, 0xFF);
    std::mt19937 random(8);
    BaseImage picture = RandomPicture(32, 32, random, 0xFF00FF, 75);
    EngineHandle graph = CreateGraphFromImage(&picture, NULL);
    g_GraphCreateSettings.transparentEdgeFix = 0;
    ASSERT_NE(graph, -1);
    auto visible = [&](int x, int y) {
        return x >= 0 && x < 32 && y >= 0 && y < 32 && PictureAt(picture, x, y) != 0xFF00FF;
    };
    TexelCheck check = [&](int x, int y, uint32_t texel) {
        if (visible(x, y)) {
            return texel == (0xFF000000 | PictureAt(picture, x, y));
        }
        std::set<uint32_t> allowed;
        for (POINT n : {POINT{x - 1, y}, POINT{x + 1, y}, POINT{x, y - 1}, POINT{x, y + 1}}) {
            if (visible(n.x, n.y)) {
                allowed.insert(PictureAt(picture, n.x, n.y));
            }
        }
        return texel >> 24 == 0 && (allowed.empty() ? (texel == 0xFF00FF) : allowed.count(texel) == 1);
    };
    EXPECT_EQ(CountWrongTexels(GetGraphRecord(graph)->image->pieces[0], 0, 32, 32, check), 0);
    ReleaseGraphHandle(graph, 0);
    FreeBaseImageData(&picture);
}

// Failed creations give -1 with their line and leave the graph count and the tracked blocks as they were.
TEST_F(GraphDevice, AFailedCreationLeavesNothingBehind)
{
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
        g_D3D.maxTextureWidth = g_D3D.maxTextureHeight = row.deviceMax ? row.deviceMax : kept.maxTextureWidth;
        if (row.noFormat) {
            memset(g_D3D.graphFormats, 0, sizeof(g_D3D.graphFormats));
        }
        const int blocks = GetAllocationCount(), graphs = GetGraphTableCount();
        EXPECT_EQ(MakeEmptyGraph(row.width, row.height), -1);
        EXPECT_EQ(GetGraphTableCount() * 10000 + GetAllocationCount(), graphs * 10000 + blocks);
        g_D3D = kept;
        EXPECT_EQ(FirstMissingInOrder(ReadLogText(), {row.line}), "");
    }
}

typedef EngineScreenSuite<32, 0> GraphSoftware;

// The software path: a graph is a software image holding the picture's pixels; an empty graph takes a fill.
TEST_F(GraphSoftware, GraphsAreImagesOfThePicture)
{
    const int blocks = GetAllocationCount();
    SetTransparentColorEnabled(0);
    std::mt19937 random(3);
    BaseImage picture = RandomPicture(37, 21, random);
    void *dirt = ENGINE_ALLOC(9 * 5 * 4); // a block the empty graph's pixels may take over: it starts cleared
    memset(dirt, 0xA5, 9 * 5 * 4), FreeMemory(dirt);
    EngineHandle graph = CreateGraphFromImage(&picture, NULL), empty = MakeEmptyGraph(9, 5);
    SetTransparentColorEnabled(1);
    ASSERT_NE(graph, -1);
    ASSERT_NE(empty, -1);
    const MEMIMG &cleared = GetGraphRecord(empty)->view;
    for (int y = 0; y < 5; y++) {
        EXPECT_EQ(memcmp(cleared.pixels + y * cleared.block->pitch, std::vector<uint8_t>(36).data(), 36), 0);
    }
    EXPECT_EQ(FillGraphWithColor(empty, 300, 20, -4, 0), 0);
    struct Row {
        EngineHandle graph;
        int width, height;
        TexelRule expected;
    } rows[] = {{graph, 37, 21, [&](int x, int y) { return PictureAt(picture, x, y); }},
                {empty, 9, 5, [](int, int) { return MakeScreenColor(255, 20, 0); }}};
    for (const Row &row : rows) {
        const MEMIMG &view = GetGraphRecord(row.graph)->view;
        ASSERT_TRUE(IsValidMemImg(&view));
        ASSERT_EQ(view.width * 100 + view.height, row.width * 100 + row.height);
        int wrong = 0;
        for (int y = 0; y < row.height; y++) {
            for (int x = 0; x < row.width; x++) {
                uint32_t pixel = ((uint32_t *)(view.pixels + (ptrdiff_t)y * view.block->pitch))[x];
                wrong += (pixel & 0xFFFFFF) != (row.expected(x, y) & 0xFFFFFF);
            }
        }
        EXPECT_EQ(wrong, 0);
        ReleaseGraphHandle(row.graph, 0);
    }
    FreeBaseImageData(&picture);
    EXPECT_EQ(GetAllocationCount(), blocks);
}

// A palette picture stays a palette image whose transparent value is the first entry of the transparent colour
// (0 when no entry has it).
TEST_F(GraphSoftware, PaletteGraphsKeyTheFirstEntryOfTheTransparentColour)
{
    SetGraphTransparentColor(0x12, 0x34, 0x56);
    for (int keyEntry : {5, -1}) {
        BaseImage picture = {};
        SetPalette8PixelFormat(&picture.format);
        for (int i = 0; i < 256; i++) {
            picture.format.palette[i] = {(uint8_t)i, (uint8_t)(i * 3), 0x99, 0};
        }
        picture.format.palette[2] = {0x56, 0x33, 0x12, 0}; // one step from the colour
        if (keyEntry >= 0) {
            picture.format.palette[keyEntry + 4] = picture.format.palette[keyEntry] = {0x56, 0x34, 0x12, 0};
        }
        picture.width = picture.pitch = 16, picture.height = 4;
        picture.pixels = (unsigned char *)ENGINE_ALLOC(64);
        std::iota(picture.pixels, picture.pixels + 64, 0);
        EngineHandle graph = CreateGraphFromImage(&picture, NULL);
        ASSERT_NE(graph, -1);
        const MemImgBlock *block = GetGraphRecord(graph)->view.block;
        EXPECT_EQ(block->paletteFlag, 1);
        EXPECT_EQ(block->transparentValue, (uint32_t)std::max(keyEntry, 0));
        EXPECT_EQ(memcmp(block->pixels + block->pitch * 3, picture.pixels + 48, 16), 0);
        ReleaseGraphHandle(graph, 0);
        FreeBaseImageData(&picture);
    }
}

// What a refused blend graph must leave untouched: the draw settings and the device state cache, byte for byte.
static std::string BlendSettingsBytes(void)
{
    return std::string((const char *)&g_DrawState, sizeof g_DrawState) +
           std::string((const char *)&g_StateCache, sizeof g_StateCache);
}

// A live graph reaches the device with its texture and size; a dead handle, a graph without a device texture and a
// missing device are refused with nothing stored.
TEST_F(GraphDevice, BlendGraphsAreTakenOrRefusedWhole)
{
    EngineHandle kept = MakeEmptyGraph(40, 20), graph = MakeEmptyGraph(100, 30), dead = MakeEmptyGraph(8, 8);
    ReleaseGraphHandle(dead, 0);
    const TexturePiece *piece = &GetGraphRecord(graph)->image->pieces[0];
    uint8_t *deviceTexture = &GetGraphRecord(graph)->image->format.deviceTexture;
    IDirect3DDevice9 *device = g_StateCache.device;
    struct Row {
        const char *name;
        EngineHandle graph;
        std::function<void(int)> spoil; // 1 before the call, 0 after
        IDirect3DBaseTexture9 *texture; // on the device afterwards; null for a refusal
    } rows[] = {{"live graph", graph, [](int) {}, piece->texture},
                {"none", -1, [](int) {}, NULL},
                {"dead handle", dead, [](int) {}, NULL},
                {"software image", graph, [&](int on) { *deviceTexture = !on; }, NULL},
                {"no device", graph, [&](int on) { g_StateCache.device = on ? NULL : device; }, NULL}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(SelectBlendGraph(kept, 300, 7), 0);
        std::string before = BlendSettingsBytes();
        row.spoil(1);
        int result = SelectBlendGraph(row.graph, 12, -3);
        row.spoil(0);
        bool taken = row.texture != NULL || row.graph == -1;
        EXPECT_EQ(result, taken ? 0 : -1);
        EXPECT_EQ(BlendSettingsBytes() == before, !taken);
        EXPECT_EQ(g_DrawState.blendGraph, taken ? row.graph : kept);
        if (row.texture != NULL) {
            EXPECT_EQ(g_StateCache.blendGraphTexture, row.texture);
            EXPECT_EQ(g_DrawState.blendGraphInverseWidth, 1.0f / piece->textureWidth);
        }
    }
    ReleaseGraphHandle(kept, 0), ReleaseGraphHandle(graph, 0);
}

// Software path: the blend image is the graph's own view, in the renderer's record too.
TEST_F(GraphSoftware, BlendGraphsBecomeTheBlendImage)
{
    EngineHandle graph = MakeEmptyGraph(16, 16);
    ASSERT_EQ(SelectBlendGraph(graph, 0, 0), 0);
    EXPECT_EQ(g_MemImgDrawSettings.blendImage, &GetGraphRecord(graph)->view);
    ASSERT_EQ(SelectBlendGraph(-1, 0, 0), 0);
    ReleaseGraphHandle(graph, 0);
}

// The 8x8 white graph (read on the managed path, where its texture locks): opaque white, made once with the
// transparent colour put back, released with the graphs at graphics end and made again after a new start.
TEST(GraphCreation, TheWhiteGraphIsMadeOnceAndGoesWithGraphicsEnd)
{
    const int blocks = GetAllocationCount();
    SetForcePlainDirect3D9(1);
    for (int start = 0; start < 2; start++) {
        ASSERT_EQ(StartEngineWindow(32, 1), 0);
        const int graphs = GetGraphTableCount();
        const uint32_t transparent = g_GraphCreateSettings.transparentColor;
        TexturePiece piece = {};
        piece.texture = (IDirect3DTexture9 *)GetWhiteTexture();
        ASSERT_NE(piece.texture, nullptr);
        EXPECT_EQ(GetWhiteTexture() == piece.texture && GetGraphTableCount() == graphs + 1, true);
        EXPECT_EQ(g_GraphCreateSettings.transparentColor, transparent);
        EXPECT_EQ(CountWrongTexels(piece, 0, 8, 8, 0xFFFFFFFF, [](int, int) { return 0xFFFFFFFFu; }), 0);
        EndEngine();
        EXPECT_EQ(GetAllocationCount(), blocks);
    }
    SetForcePlainDirect3D9(0);
}
