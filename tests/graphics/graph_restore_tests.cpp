// The graph restore pass on the device: every graph's device objects dropped and made again empty, as a device
// rebuild does, then refilled from its restore source; read back against the frames drawn before, with the log and
// the count of pictures loaded. The engine ends with an empty allocation dump.
#include <gtest/gtest.h>

#include "tests/graphics/log_reading.h"
#include "tests/graphics/restore_scene.h"

#include <string.h>

using GraphRestore = EmptyDumpAtEnd<EngineScreenSuite<32, 1>>;

// The graph drawn alone at (0, 0) on a cleared screen, its corner read back.
static ScreenPixels DrawnAlone(EngineHandle graph)
{
    ClearDrawScreen(-2, NULL);
    DrawGraphAt(0, 0, graph, 0);
    FlushVertexBatch();
    return ReadLockedRect(-2, 0, 0, 96, 64);
}

// The scene reads back byte-equal after the restore (and not before it); the sheets, the picture, its alpha
// picture, the file and the two lost sources are each loaded once. A source that no longer loads (its file deleted,
// its kept bytes damaged) logs its line and leaves its graph as zeroed as a new one, as does a graph without a
// source, while the graphs after it come back.
TEST_F(GraphRestore, EveryGraphComesBackFromItsSourceAndEachSourceIsLoadedOnce)
{
    ReleaseAllGraphHandles(0); // the default font's glyph texture too: the count starts from no graph at all
    const int blocks = GetAllocationCount();
    EngineHandle lostFile = MakeFileSourceGraph("restore_lost.png", 0);
    EngineHandle lostBytes = LoadGraphFromResource(MAKEINTRESOURCEA(110), "CG");
    RestoreScene scene;
    ASSERT_EQ(MakeRestoreScene(&scene, "restore_scene.png"), 0);
    BaseImage picture;
    ASSERT_EQ(LoadBaseImageNoAlpha("restore_scene.png", NULL, 0, 0, &picture, 0), 0);
    EngineHandle empty = MakeEmptyGraph(96, 64);
    ASSERT_EQ(UploadImageToGraph(&picture, NULL, 0, 0, empty), 0);
    std::vector<ScreenPixels> before = ReadRestoreScene(scene);
    ScreenPixels emptyBefore = DrawnAlone(empty);
    const int loads = GetGraphRestoreLoadCount();
    char fileLine[MAX_PATH + 64];
    snprintf(fileLine, sizeof fileLine, "ファイル:%s がロードできませんでした",
             GetGraphRecord(lostFile)->restoreSource->path);
    DeleteFileA("restore_lost.png");
    memset(GetGraphRecord(lostBytes)->restoreSource->memImage, 0, 64);

    // The device objects released (a watched texture seen gone) and made again empty; a second pass keeps them.
    IDirect3DTexture9 *const &texture = GetGraphRecord(scene.cells[0])->image->pieces[0].texture;
    ReleaseDeviceObjects();
    EXPECT_EQ(texture, nullptr);
    RecreateDeviceResources();
    IDirect3DTexture9 *made = texture;
    RecreateDeviceResources();
    EXPECT_EQ(texture == made && made != NULL, true);
    std::vector<ScreenPixels> dropped = ReadRestoreScene(scene);
    ASSERT_EQ(RestoreAllGraphs(), 0);
    std::vector<ScreenPixels> after = ReadRestoreScene(scene);
    for (int page = 0; page < RESTORE_SCENE_PAGES; page++) {
        EXPECT_GT(CountDifferences(before[page], dropped[page], 0), 1000) << page;
        EXPECT_EQ(CountDifferences(before[page], after[page], 0), 0) << page;
    }
    EXPECT_EQ(GetGraphRestoreLoadCount() - loads, 7);
    EXPECT_EQ(FirstMissingInOrder(ReadLogText(), {"グラフィックを復帰します", fileLine,
                                                  "メモリからの画像データのローができませんでした",
                                                  "グラフィックの復帰が完了しました"}),
              "");
    EngineHandle fresh = MakeEmptyGraph(96, 64);
    EXPECT_GT(CountDifferences(emptyBefore, DrawnAlone(fresh), 0), 1000);
    for (EngineHandle zeroed : {empty, lostFile, lostBytes}) {
        EXPECT_EQ(CountDifferences(DrawnAlone(zeroed), DrawnAlone(fresh), 0), 0) << zeroed;
    }

    ReleaseAllGraphHandles(0);
    FreeBaseImageData(&picture);
    EXPECT_EQ(GetAllocationCount(), blocks);
}
