// The device drawers against plain vertices. Boxes: 20,000 8x8 boxes a frame through G_D3D_DrawBox (draw settings
// applied, batched, flushed at 537 quads), and the same quads written by hand as XYZRHW|DIFFUSE vertices each frame
// and sent with DrawPrimitiveUP in runs of 537. Sprites: 10,000 32x32 cells of one 640x448 sheet a frame through
// DrawGraphAt, and again through DrawGraphRotated, against the same textured quads (rotated ones computed each frame
// too) sent with DrawPrimitiveUP in runs of 390. Every frame ends with a present. Restore: the default graph
// restore callback refilling one 280-cell sheet and twenty pictures (PNG bytes in memory) after their device
// objects were made again, against their first loads. Stage frame: what a side-view stage draws each frame (630
// 32x32 cells of a 640x288 sheet, 50 cells of a 640x448 sheet, some half blended and one turned, 100 more cells of
// the first sheet, both sheets loaded from PNG bytes as a program does) and a flip, against a bare clear and flip;
// once with the sheets cut by the device's size rules (512 + 128 across), once kept whole in one texture each.
// Starts the engine in a 640x480 window. Single-threaded (the window thread).
#include "bench/bench.h"

#include "graphics/graphics_test_hooks.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#define BOXES_PER_FRAME 20000
#define QUADS_PER_RUN 537
#define FRAMES_PER_ROUND 5
#define ROUNDS 7

static Vertex2D s_Vertices[QUADS_PER_RUN * 6];

static void BoxPlace(int index, int *x, int *y)
{
    *x = (index * 13) % 632;
    *y = (index * 7) % 472;
}

static void DrawBoxFrame(void)
{
    for (int i = 0; i < BOXES_PER_FRAME; i++) {
        int x, y;
        BoxPlace(i, &x, &y);
        G_D3D_DrawBox(x, y, x + 8, y + 8, 0xFF00FF00 | (i & 0xFF));
    }
    FlipScreen();
}

static void PutPlainVertex(Vertex2D *vertex, int x, int y, D3DCOLOR color)
{
    vertex->x = (float)x;
    vertex->y = (float)y;
    vertex->z = 0.0f;
    vertex->rhw = 1.0f;
    vertex->diffuse = color;
}

static void DrawPlainFrame(void)
{
    IDirect3DDevice9 *device = g_D3D.device;
    device->BeginScene();
    device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
    int quads = 0;
    for (int i = 0; i < BOXES_PER_FRAME; i++) {
        int x, y;
        BoxPlace(i, &x, &y);
        D3DCOLOR color = 0xFF00FF00 | (i & 0xFF);
        Vertex2D *vertex = s_Vertices + quads * 6;
        PutPlainVertex(vertex + 0, x, y, color);
        PutPlainVertex(vertex + 1, x + 8, y, color);
        PutPlainVertex(vertex + 2, x, y + 8, color);
        PutPlainVertex(vertex + 3, x + 8, y + 8, color);
        PutPlainVertex(vertex + 4, x, y + 8, color);
        PutPlainVertex(vertex + 5, x + 8, y, color);
        if (++quads == QUADS_PER_RUN || i == BOXES_PER_FRAME - 1) {
            device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, quads * 2, s_Vertices, sizeof(Vertex2D));
            quads = 0;
        }
    }
    device->EndScene();
    g_D3D.swapChain->Present(NULL, NULL, NULL, NULL, 0);
}

// ---------------------------------------------------------------------------------------------------------------
// Sprites

#define SPRITES_PER_FRAME 10000
#define SPRITE_QUADS_PER_RUN 390
#define SHEET_COLUMNS 20
#define SHEET_ROWS 14
#define CELL_SIZE 32

static EngineHandle s_Cells[SHEET_COLUMNS * SHEET_ROWS];
static TexturedVertex2D s_SpriteVertices[SPRITE_QUADS_PER_RUN * 6];

static void SpritePlace(int index, int *x, int *y, double *angle)
{
    *x = (index * 13) % (640 - CELL_SIZE);
    *y = (index * 7) % (480 - CELL_SIZE);
    *angle = (index % 64) * 0.1;
}

// The sheet's picture (random texels) in one texture, cut into its cells; 0 on success.
static int MakeSpriteSheet(void)
{
    BaseImage sheet = {};
    if (NewXRGB8BaseImage(SHEET_COLUMNS * CELL_SIZE, SHEET_ROWS * CELL_SIZE, &sheet) != 0) {
        return -1;
    }
    for (int i = 0; i < sheet.width * sheet.height; i++) {
        ((uint32_t *)sheet.pixels)[i] = (uint32_t)rand() * 0x10001u;
    }
    // One texture: cut at 512, the sheet's right strip would cost a texture change (a flush) every few cells.
    SetTextureNeverSplit(1);
    int result = CreateDivGraphFromGraphImage(&sheet, NULL, SHEET_COLUMNS * SHEET_ROWS, SHEET_COLUMNS, SHEET_ROWS,
                                              CELL_SIZE, CELL_SIZE, s_Cells, 1, 0);
    SetTextureNeverSplit(0);
    FreeBaseImageData(&sheet);
    return result;
}

static void DrawSpriteFrame(int rotated)
{
    for (int i = 0; i < SPRITES_PER_FRAME; i++) {
        int x, y;
        double angle;
        SpritePlace(i, &x, &y, &angle);
        EngineHandle cell = s_Cells[i % (SHEET_COLUMNS * SHEET_ROWS)];
        if (rotated) {
            DrawGraphRotated(x + CELL_SIZE / 2, y + CELL_SIZE / 2, 1.0, angle, cell, 1, 0);
        } else {
            DrawGraphAt(x, y, cell, 1);
        }
    }
    FlipScreen();
}

// One cell's quad as an application would write it: corners top-left, top-right, bottom-left, bottom-right of the
// cell's piece, texel centres on pixel centres, turned about the cell's centre when rotated.
static void PutSpriteQuad(TexturedVertex2D *vertex, const GraphPieceDraw *piece, int x, int y, double angle,
                          int rotated)
{
    static const int order[6] = {0, 1, 2, 3, 2, 1};
    double sine = rotated ? sin(angle) : 0.0, cosine = rotated ? cos(angle) : 1.0, half = CELL_SIZE / 2;
    for (int i = 0; i < 6; i++) {
        const GraphPieceVertex *corner = &piece->vertices[order[i]];
        double ex = corner->x - half, ey = corner->y - half;
        vertex[i] = {(float)(cosine * ex - sine * ey + x + half - 0.5),
                     (float)(sine * ex + cosine * ey + y + half - 0.5),
                     0.0f,
                     1.0f,
                     0xFFFFFFFF,
                     corner->u,
                     corner->v};
    }
}

static void DrawPlainSpriteFrame(int rotated)
{
    IDirect3DDevice9 *device = g_D3D.device;
    device->BeginScene();
    device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    device->SetTexture(0, GetGraphRecord(s_Cells[0])->pieceDraws[0].piece->texture);
    int quads = 0;
    for (int i = 0; i < SPRITES_PER_FRAME; i++) {
        int x, y;
        double angle;
        SpritePlace(i, &x, &y, &angle);
        const GraphRecord *cell = GetGraphRecord(s_Cells[i % (SHEET_COLUMNS * SHEET_ROWS)]);
        PutSpriteQuad(s_SpriteVertices + quads * 6, &cell->pieceDraws[0], x, y, angle, rotated);
        if (++quads == SPRITE_QUADS_PER_RUN || i == SPRITES_PER_FRAME - 1) {
            device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, quads * 2, s_SpriteVertices, sizeof(TexturedVertex2D));
            quads = 0;
        }
    }
    device->EndScene();
    g_D3D.swapChain->Present(NULL, NULL, NULL, NULL, 0);
}

// The sprite frames against their plain twins; each engine frame goes first so that the plain frames draw under
// the states it left.
static void RunSpriteBenchmarks(void)
{
    if (MakeSpriteSheet() != 0) {
        printf("graphics_draw_bench: the sprite sheet could not be made\n");
        return;
    }
    static const char *names[2][2] = {
        {"DrawGraphAt, 10,000 32x32 cells a frame", "DrawPrimitiveUP of the same quads"},
        {"DrawGraphRotated, 10,000 cells a frame", "DrawPrimitiveUP of the turned quads"}};
    for (int rotated = 0; rotated < 2; rotated++) {
        DrawSpriteFrame(rotated);
        DrawPlainSpriteFrame(rotated);
        double plain = BenchBest(ROUNDS, [rotated] {
            for (int frame = 0; frame < FRAMES_PER_ROUND; frame++) {
                DrawPlainSpriteFrame(rotated);
            }
        });
        double sprites = BenchBest(ROUNDS, [rotated] {
            for (int frame = 0; frame < FRAMES_PER_ROUND; frame++) {
                DrawSpriteFrame(rotated);
            }
        });
        BenchReport(names[rotated][0], sprites / FRAMES_PER_ROUND, names[rotated][1], plain / FRAMES_PER_ROUND);
    }
    ReleaseAllGraphHandles(0);
}

// ---------------------------------------------------------------------------------------------------------------
// Restore

#define RESTORE_PICTURES 20
#define RESTORE_PICTURE_SIDE 256

// A noisy picture as PNG bytes: R, G, B from the position with a random grain.
static std::vector<unsigned char> MakePngPicture(int width, int height)
{
    std::vector<unsigned char> rgb((size_t)width * height * 3);
    for (size_t i = 0; i < rgb.size(); i++) {
        rgb[i] = (unsigned char)(i / 3 % width + i / 3 / width * (i % 3) + (rand() & 15));
    }
    return EncodeRgbPng(rgb.data(), width, height);
}

// Loads the sheet and the pictures as a program does, each graph keeping its PNG bytes as its restore source.
static void LoadRestoreGraphs(const std::vector<unsigned char> &sheet,
                              const std::vector<unsigned char> (&pictures)[RESTORE_PICTURES])
{
    CreateDivGraphFromMemImage(sheet.data(), (int)sheet.size(), SHEET_COLUMNS * SHEET_ROWS, SHEET_COLUMNS, SHEET_ROWS,
                               CELL_SIZE, CELL_SIZE, s_Cells, 1, 0, NULL, 0);
    for (const std::vector<unsigned char> &picture : pictures) {
        CreateGraphFromMemImage(picture.data(), (int)picture.size(), NULL, 0, 1, 0);
    }
}

// The fastest of ROUNDS runs of `timed`, each after an untimed `prepare`.
template <typename Prepare, typename Timed> static double BestAfter(Prepare prepare, Timed timed)
{
    double best = 1e30;
    for (int round = 0; round < ROUNDS; round++) {
        prepare();
        double start = BenchSeconds();
        timed();
        double spent = BenchSeconds() - start;
        best = spent < best ? spent : best;
    }
    return best;
}

static void RunRestoreBenchmark(void)
{
    std::vector<unsigned char> sheet = MakePngPicture(SHEET_COLUMNS * CELL_SIZE, SHEET_ROWS * CELL_SIZE);
    std::vector<unsigned char> pictures[RESTORE_PICTURES];
    for (std::vector<unsigned char> &picture : pictures) {
        picture = MakePngPicture(RESTORE_PICTURE_SIDE, RESTORE_PICTURE_SIDE);
    }
    double firstLoads = BestAfter([] { ReleaseAllGraphHandles(0); }, [&] { LoadRestoreGraphs(sheet, pictures); });
    // The restore callback alone, after every graph's device objects were released and made again empty.
    double restore = BestAfter(
        [] {
            ReleaseDeviceObjects();
            RecreateDeviceResources();
        },
        [] { RestoreAllGraphs(); });
    ReleaseAllGraphHandles(0);
    BenchReport("RestoreAllGraphs, 280-cell sheet + 20 pictures", restore, "their first loads", firstLoads);
}

// ---------------------------------------------------------------------------------------------------------------
// Stage frame

#define TILE_ROWS 9
#define STAGE_TILES 630
#define STAGE_SPRITES 50
#define STAGE_PANEL_CELLS 100

static EngineHandle s_TileCells[SHEET_COLUMNS * TILE_ROWS];

static void DrawStageFrame(int frame)
{
    int scroll = frame % CELL_SIZE;
    for (int i = 0; i < STAGE_TILES; i++) {
        int x = (i % 21) * CELL_SIZE - scroll, y = (i / 21 % 15) * CELL_SIZE;
        DrawGraphAt(x, y, s_TileCells[(i * 7 + i / 21) % (SHEET_COLUMNS * TILE_ROWS)], 1);
    }
    for (int i = 0; i < STAGE_SPRITES; i++) {
        int x = (i * 53 + frame) % (640 - CELL_SIZE), y = (i * 37) % (480 - CELL_SIZE);
        EngineHandle cell = s_Cells[(i * 11) % (SHEET_COLUMNS * SHEET_ROWS)];
        if (i % 5 == 4) {
            SetDrawBlend(1, 128);
            DrawGraphAt(x, y, cell, 1);
            SetDrawBlend(0, 0);
        } else if (i == 0) {
            DrawGraphRotated(x + CELL_SIZE / 2, y + CELL_SIZE / 2, 1.0, frame * 0.1, cell, 1, 0);
        } else {
            DrawGraphAt(x, y, cell, 1);
        }
    }
    for (int i = 0; i < STAGE_PANEL_CELLS; i++) {
        DrawGraphAt((i % 20) * CELL_SIZE, 400 + (i / 20) * 16, s_TileCells[i % 40], 1);
    }
    FlipScreen();
}

static void ClearAndFlip(void)
{
    ClearDrawScreen(-2, NULL);
    FlipScreen();
}

static void RunStageFrameBenchmark(int keepWhole)
{
    std::vector<unsigned char> tiles = MakePngPicture(SHEET_COLUMNS * CELL_SIZE, TILE_ROWS * CELL_SIZE);
    std::vector<unsigned char> sprites = MakePngPicture(SHEET_COLUMNS * CELL_SIZE, SHEET_ROWS * CELL_SIZE);
    SetTextureNeverSplit(keepWhole);
    int made = CreateDivGraphFromMemImage(tiles.data(), (int)tiles.size(), SHEET_COLUMNS * TILE_ROWS, SHEET_COLUMNS,
                                   TILE_ROWS, CELL_SIZE, CELL_SIZE, s_TileCells, 1, 0, NULL, 0) == 0 &&
               CreateDivGraphFromMemImage(sprites.data(), (int)sprites.size(), SHEET_COLUMNS * SHEET_ROWS,
                                          SHEET_COLUMNS, SHEET_ROWS, CELL_SIZE, CELL_SIZE, s_Cells, 1, 0, NULL, 0) == 0;
    SetTextureNeverSplit(0);
    if (!made) {
        printf("graphics_draw_bench: the stage sheets could not be made\n");
        return;
    }
    static int frame;
    DrawStageFrame(frame++);
    ClearAndFlip();
    double bare = BenchBest(ROUNDS, [] {
        for (int i = 0; i < FRAMES_PER_ROUND; i++) {
            ClearAndFlip();
        }
    });
    double stage = BenchBest(ROUNDS, [] {
        for (int i = 0; i < FRAMES_PER_ROUND; i++) {
            DrawStageFrame(frame++);
        }
    });
    ReleaseAllGraphHandles(0);
    BenchReport(keepWhole ? "Stage frame, sheets kept whole" : "Stage frame: 780 cells of two sheets + flip",
                stage / FRAMES_PER_ROUND, "ClearDrawScreen + flip", bare / FRAMES_PER_ROUND);
}

int main(int argc, char **argv)
{
    SetMainWindowTitle("QvDrawBench");
    ChangeWindowMode(1);
    if (InitEngine() != 0 || !IsDeviceMode()) {
        printf("graphics_draw_bench: no Direct3D device\n");
        EndEngine();
        return 1;
    }
    SetDrawTarget(-2);
    SetWaitVerticalBlank(0);
    // "stage" alone: the stage frames only, for measuring them quickly.
    if (argc > 1 && strcmp(argv[1], "stage") == 0) {
        RunStageFrameBenchmark(0);
        RunStageFrameBenchmark(1);
        EndEngine();
        return 0;
    }
    DrawBoxFrame(); // the untextured states are set once; the plain frames draw under them
    DrawPlainFrame();
    double plain = BenchBest(ROUNDS, [] {
        for (int frame = 0; frame < FRAMES_PER_ROUND; frame++) {
            DrawPlainFrame();
        }
    });
    double boxes = BenchBest(ROUNDS, [] {
        for (int frame = 0; frame < FRAMES_PER_ROUND; frame++) {
            DrawBoxFrame();
        }
    });
    BenchReport("G_D3D_DrawBox, 20,000 8x8 boxes a frame", boxes / FRAMES_PER_ROUND,
                "DrawPrimitiveUP of the same quads", plain / FRAMES_PER_ROUND);
    RunSpriteBenchmarks();
    RunRestoreBenchmark();
    RunStageFrameBenchmark(0);
    RunStageFrameBenchmark(1);
    EndEngine();
    return 0;
}
