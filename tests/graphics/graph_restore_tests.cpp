// The graph restore pass on the device: every graph's device objects dropped and made again empty, as a device
// rebuild does, then refilled from its restore source; read back against the frames drawn before, with the log and
// the count of pictures loaded. The engine ends with an empty allocation dump.
#include <gtest/gtest.h>

#include "tests/graphics/log_reading.h"
#include "tests/graphics/restore_scene.h"

#include <string.h>

class GraphRestore : public EmptyDumpAtEnd<EngineScreenSuite<32, 1>>
{
  protected:
    // The device objects of every graph released (the watched graph's texture seen gone) and made again empty; a
    // second pass keeps what the first made.
    static void DropDeviceObjects(EngineHandle watched)
    {
        IDirect3DTexture9 *const &texture = GetGraphRecord(watched)->image->pieces[0].texture;
        ReleaseDeviceObjects();
        EXPECT_EQ(texture, nullptr);
        RecreateDeviceResources();
        IDirect3DTexture9 *made = texture;
        RecreateDeviceResources();
        EXPECT_EQ(texture == made && made != NULL, true);
    }
};

// The graph drawn alone at (0, 0) on a cleared screen (an invalid handle draws nothing), its corner read back.
static ScreenPixels DrawnAlone(EngineHandle graph)
{
    ClearDrawScreen(-2, NULL);
    DrawGraphAt(0, 0, graph, 0);
    FlushVertexBatch();
    return ReadLockedRect(-2, 0, 0, 96, 64);
}

// The scene reads back byte-equal after the restore (and not before it); the sheets, the picture, its alpha
// picture and the file are each decoded once; a graph without a source comes back as zeroed as a new one.
TEST_F(GraphRestore, EveryGraphComesBackFromItsSourceAndEachSourceIsLoadedOnce)
{
    const int blocks = GetAllocationCount();
    RestoreScene scene;
    ASSERT_EQ(MakeRestoreScene(&scene, "restore_scene.png"), 0);
    BaseImage picture;
    ASSERT_EQ(LoadBaseImageNoAlpha("restore_scene.png", NULL, 0, 0, &picture, 0), 0);
    EngineHandle empty = MakeEmptyGraph(96, 64);
    ASSERT_EQ(UploadImageToGraph(&picture, NULL, 0, 0, empty), 0);
    std::vector<ScreenPixels> before = ReadRestoreScene(scene);
    ScreenPixels emptyBefore = DrawnAlone(empty);
    const int loads = GetGraphRestoreLoadCount();

    DropDeviceObjects(scene.cells[0]);
    std::vector<ScreenPixels> dropped = ReadRestoreScene(scene);
    ASSERT_EQ(RestoreAllGraphs(), 0);
    std::vector<ScreenPixels> after = ReadRestoreScene(scene);
    for (int page = 0; page < RESTORE_SCENE_PAGES; page++) {
        EXPECT_GT(CountDifferences(before[page], dropped[page], 0), 1000) << page;
        EXPECT_EQ(CountDifferences(before[page], after[page], 0), 0) << page;
    }
    EXPECT_EQ(GetGraphRestoreLoadCount() - loads, 5);
    EXPECT_EQ(FirstMissingInOrder(ReadLogText(), {"グラフィックを復帰します", "グラフィックの復帰が完了しました"}), "");
    EngineHandle fresh = MakeEmptyGraph(96, 64);
    EXPECT_GT(CountDifferences(emptyBefore, DrawnAlone(fresh), 0), 1000);
    EXPECT_EQ(CountDifferences(DrawnAlone(empty), DrawnAlone(fresh), 0), 0);

    ReleaseRestoreScene(scene);
    ReleaseGraphHandle(empty, 0), ReleaseGraphHandle(fresh, 0);
    FreeBaseImageData(&picture);
    EXPECT_EQ(GetAllocationCount(), blocks);
}

// A source that no longer loads (its file deleted, its kept bytes damaged) logs its line and leaves its graph
// zeroed, while the graph after it comes back.
TEST_F(GraphRestore, AnUnloadableSourceIsLoggedAndSkipped)
{
    struct Row {
        const char *name;
        int file;
        const char *logFormat; // %s: the path
    } rows[] = {{"file deleted", 1, "ファイル:%s がロードできませんでした"},
                {"bytes damaged", 0, "メモリからの画像データのローができませんでした"}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const int blocks = GetAllocationCount();
        EngineHandle lost =
            row.file ? MakeFileSourceGraph("restore_lost.png", 0) : LoadGraphFromResource(MAKEINTRESOURCEA(110), "CG");
        EngineHandle kept = LoadGraphFromResource(MAKEINTRESOURCEA(110), "CG");
        ScreenPixels picture = DrawnAlone(kept), cleared = DrawnAlone(-1);
        GraphRestoreSource *source = GetGraphRecord(lost)->restoreSource;
        if (row.file) {
            DeleteFileA("restore_lost.png");
        } else {
            memset(source->memImage, 0, 64);
        }
        char line[MAX_PATH + 64];
        snprintf(line, sizeof(line), row.logFormat, source->path);

        DropDeviceObjects(lost);
        RestoreAllGraphs();
        EXPECT_EQ(
            FirstMissingInOrder(ReadLogText(), {"グラフィックを復帰します", line, "グラフィックの復帰が完了しました"}),
            "");
        EXPECT_EQ(CountDifferences(DrawnAlone(kept), picture, 0), 0);
        EXPECT_EQ(CountDifferences(DrawnAlone(lost), cleared, 0), 0);
        ReleaseAllGraphHandles(0);
        EXPECT_EQ(GetAllocationCount(), blocks);
    }
}
