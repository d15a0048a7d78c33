// A scene of graphs of every restore-source kind, for the tests that read the screen back before and after the
// device objects are made again: the cells of the resource sheet drawn at points, stretched and rotated, one cell
// rebuilt from a base image, the same sheet loaded mirrored, the "CG" picture (alone and as its own alpha picture)
// and a graph whose source is a file, with a graph derived from it, among shapes in blend modes 0-4. A program
// using it links the sheet resources (graph_sheet_tests.rc: sheet 102 "PNG", picture 110 "CG"). Window thread only.
#pragma once

#include "tests/graphics/screen_readback.h"

#include <algorithm>
#include <stdio.h>
#include <vector>

#define RESTORE_SCENE_CELLS 280
#define RESTORE_SCENE_REVERSED_CELLS 275 // the last row short
#define RESTORE_SCENE_PAGES 3

struct RestoreScene {
    EngineHandle cells[RESTORE_SCENE_CELLS];    // the sheet cut into 20 x 14 cells of 32x32
    EngineHandle reversed[RESTORE_SCENE_CELLS]; // its bytes loaded with reverse 1, 275 cells
    EngineHandle picture, alphaPicture;         // the "CG" picture, and again with itself as alpha picture
    EngineHandle rebuilt;                       // cell 25, rebuilt from a base image
    EngineHandle fromFile, fileCorner;          // the picture mirrored with its file as source, and a part of it
};

// A graph from the picture resource's bytes (mirrored with `reverse`) keeping as its source the file `path`, into
// which the bytes are written; -1 when either fails.
inline EngineHandle MakeFileSourceGraph(const char *path, int reverse)
{
    void *bytes;
    int size;
    FindResourceData(MAKEINTRESOURCEA(110), "CG", &bytes, &size);
    FILE *file = fopen(path, "wb");
    int written = file != NULL && fwrite(bytes, 1, (size_t)size, file) == (size_t)size;
    written = file != NULL && fclose(file) == 0 && written;
    EngineHandle graph = written ? CreateGraphFromMemImage(bytes, size, NULL, 0, 1, reverse) : -1;
    return SetGraphRestorePath(graph, path, reverse, -1) == 0 ? graph : -1;
}

// 0 when every graph was made.
inline int MakeRestoreScene(RestoreScene *scene, const char *filePath)
{
    void *sheet, *picture;
    int sheetSize, pictureSize;
    FindResourceData(MAKEINTRESOURCEA(102), "PNG", &sheet, &sheetSize);
    FindResourceData(MAKEINTRESOURCEA(110), "CG", &picture, &pictureSize);
    std::fill(scene->reversed, scene->reversed + RESTORE_SCENE_CELLS, -1); // the cells past the cut stay no graph
    int result = LoadDivGraphFromResource(MAKEINTRESOURCEA(102), "PNG", 280, 20, 14, 32, 32, scene->cells) |
                 CreateDivGraphFromMemImage(sheet, sheetSize, RESTORE_SCENE_REVERSED_CELLS, 20, 14, 32, 32,
                                            scene->reversed, 1, 1, NULL, 0);
    scene->picture = LoadGraphFromResource(MAKEINTRESOURCEA(110), "CG");
    scene->alphaPicture = CreateGraphFromMemImage(picture, pictureSize, picture, pictureSize, 1, 0);
    BaseImage base = {};
    NewXRGB8BaseImage(32, 32, &base);
    for (int i = 0; i < 32 * 32; i++) {
        ((uint32_t *)base.pixels)[i] = (uint32_t)i * 0x9E3779B9u;
    }
    scene->rebuilt = scene->cells[25];
    result |= RebuildGraphFromBaseImage(&base, scene->rebuilt);
    FreeBaseImageData(&base);
    scene->fromFile = MakeFileSourceGraph(filePath, 1);
    scene->fileCorner = DeriveSubGraph(10, 20, 40, 30, scene->fromFile);
    for (EngineHandle graph : {scene->picture, scene->alphaPicture, scene->fromFile, scene->fileCorner}) {
        result |= graph == -1 ? -1 : 0;
    }
    return result;
}

inline void ReleaseRestoreScene(const RestoreScene &scene)
{
    for (int k = 0; k < RESTORE_SCENE_CELLS; k++) {
        ReleaseGraphHandle(scene.cells[k], 0);
        ReleaseGraphHandle(scene.reversed[k], 0);
    }
    for (EngineHandle graph : {scene.picture, scene.alphaPicture, scene.fromFile, scene.fileCorner}) {
        ReleaseGraphHandle(graph, 0);
    }
}

// Page 0: the cells at points, the pictures and shapes in each blend mode over them. Page 1: the cells stretched to
// 16x16 and turned at half size (filtered), the mirrored cells stretched, the single pictures. Page 2: the mirrored
// cells at points.
inline void DrawRestoreScenePage(const RestoreScene &scene, int page)
{
    SetDrawBlend(0, 0);
    ClearDrawScreen(-2, NULL);
    int filter = GetDrawFilterMode();
    for (int k = 0; k < RESTORE_SCENE_CELLS; k++) {
        int x = k % 20, y = k / 20;
        if (page == 0) {
            DrawGraphAt(x * 32, y * 32, scene.cells[k], 1);
        } else if (page == 1) {
            SetDrawFilterMode(0);
            DrawGraphStretched(x * 16, y * 16, x * 16 + 16, y * 16 + 16, scene.cells[k], 1);
            DrawGraphStretched(x * 16, 240 + y * 16, x * 16 + 16, 256 + y * 16, scene.reversed[k], 1);
            SetDrawFilterMode(1);
            DrawGraphRotated(328 + x * 16, 8 + y * 16, 0.5, k * 0.37, scene.cells[k], 1, k & 1);
        } else {
            DrawGraphAt(x * 32, y * 32, scene.reversed[k], 1);
        }
    }
    SetDrawFilterMode(filter);
    for (int mode = 0; page == 0 && mode < 5; mode++) {
        unsigned int color = MakeScreenColor(250, 90 + 40 * mode, 60 * mode);
        SetDrawBlend(mode, 160);
        DrawGraphAt(mode * 128, 20, scene.picture, 1);
        DrawGraphAt(mode * 128 + 10, 100, scene.alphaPicture, 1);
        DrawFilledBox(mode * 128, 200, mode * 128 + 100, 260, color);
        DrawCircleShape(mode * 128 + 60, 320, 40, color, 1);
        DrawTriangleShape(mode * 128, 470, mode * 128 + 120, 400, mode * 128 + 60, 479, color, 1);
    }
    SetDrawBlend(0, 0);
    EngineHandle singles[] = {scene.picture, scene.alphaPicture, scene.rebuilt, scene.fromFile, scene.fileCorner};
    for (int i = 0; page == 1 && i < 5; i++) {
        DrawGraphAt(340 + i % 3 * 100, 240 + i / 3 * 100, singles[i], 1);
    }
    FlushVertexBatch();
}

inline std::vector<ScreenPixels> ReadRestoreScene(const RestoreScene &scene)
{
    std::vector<ScreenPixels> pages;
    for (int page = 0; page < RESTORE_SCENE_PAGES; page++) {
        DrawRestoreScenePage(scene, page);
        pages.push_back(ReadScreen());
    }
    return pages;
}
