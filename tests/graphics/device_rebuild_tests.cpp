// The device made again in a 640x480 window: a scene of graphs of every source kind reads back byte-equal after it,
// what the program set survives it, nothing leaks across ten of them, a healthy device is left alone, and a rebuild
// that makes no device goes on drawing on the software screen.
#include "tests/graphics/log_reading.h"
#include "tests/graphics/restore_scene.h"

#include <string.h>

namespace
{

typedef EmptyDumpAtEnd<EngineScreenSuite<32, 1>> DeviceRebuild;

// The settings a rebuild must hand back as they were (all 4-byte members: compared whole).
struct KeptSettings {
    int target;
    RECT area;
    Matrix4 world, view, projection, viewportAdjust;
};

KeptSettings ReadKeptSettings(void)
{
    const DrawState &s = g_DrawState;
    return {GetDrawTarget(), s.drawArea, s.world, s.view, s.projection, s.viewportAdjust};
}

Matrix4 Scaled(float factor)
{
    Matrix4 m;
    MakeIdentityMatrix(&m);
    m.m[0] = m.m[5] = factor;
    m.m[12] = 7.0f;
    return m;
}

// Each source is decoded once: the sheet's bytes twice over (plain and mirrored), the picture, its alpha, the file,
// and the model system's two built-in pictures.
TEST_F(DeviceRebuild, TheSceneReadsBackByteEqualAndEachSourceIsLoadedOnce)
{
    RestoreScene scene;
    ASSERT_EQ(MakeRestoreScene(&scene, "rebuild_scene.png"), 0);
    const std::vector<ScreenPixels> before = ReadRestoreScene(scene);
    const int loads = GetGraphRestoreLoadCount();
    ASSERT_EQ(ReinitGraphicsKeepMode(), 0);
    EXPECT_EQ(GetGraphRestoreLoadCount() - loads, 7);
    const std::vector<ScreenPixels> after = ReadRestoreScene(scene);
    for (int page = 0; page < RESTORE_SCENE_PAGES; page++) {
        EXPECT_EQ(CountDifferences(before[page], after[page], 0), 0) << "page " << page;
    }
    ReleaseRestoreScene(scene);
    remove("rebuild_scene.png");
}

TEST_F(DeviceRebuild, KeepsTargetAreaCameraAndAmbientAndLogsTheRestore)
{
    EngineHandle target = MakeGraph(320, 200, 1);
    ASSERT_NE(target, -1);
    for (int graphTarget = 0; graphTarget < 2; graphTarget++) {
        SCOPED_TRACE(graphTarget);
        ASSERT_EQ(SetDrawTarget(graphTarget ? target : -2), 0);
        SetDrawClipArea(10, 20, 300, 190);
        Matrix4 world = Scaled(2.0f), view = Scaled(0.5f), projection = Scaled(3.0f);
        SetWorldMatrix(&world);
        SetViewMatrix(&view);
        SetProjectionMatrix(&projection);
        SetCameraScreenCenter(100.0f, 50.0f);
        SetAmbientColor(0xFF808040 + graphTarget);
        const KeptSettings before = ReadKeptSettings();
        ASSERT_EQ(ReinitGraphicsKeepMode(), 0);
        EXPECT_EQ(IsDeviceMode(), 1);
        DWORD ambient = 0;
        g_D3D.device->GetRenderState(D3DRS_AMBIENT, &ambient);
        EXPECT_EQ(ambient, 0xFF808040u + graphTarget);
        const KeptSettings after = ReadKeptSettings();
        EXPECT_EQ(memcmp(&before, &after, sizeof before), 0);
    }
    EXPECT_EQ(FirstMissingInOrder(ReadLogText(), {"グラフィックを復帰します", "グラフィックの復帰が完了しました"}), "");
    SetDrawTarget(-2);
    ReleaseGraphHandle(target, 0);
}

// Ten rebuilds with graphs alive: every old device goes with its last release and the tracked blocks stay as many.
TEST_F(DeviceRebuild, TenRebuildsLeakNothingAndReleasingTwiceIsHarmless)
{
    EngineHandle graphs[3] = {MakeGraph(64, 64, 1), MakeGraph(100, 30, 0), MakeGraph(700, 20, 1)};
    ReinitGraphicsKeepMode(); // the first rebuild may make blocks that later ones reuse
    const int blocks = GetAllocationCount();
    for (int i = 0; i < 10; i++) {
        ASSERT_EQ(ReinitGraphicsKeepMode(), 0);
        EXPECT_EQ(GetLastDeviceReferences(), 0u) << "a device object outlived rebuild " << i;
        EXPECT_EQ(GetAllocationCount(), blocks) << "rebuild " << i;
    }
    ReleaseDeviceObjects();
    ReleaseDirect3DSystem();
    ReleaseDirect3DSystem();
    EXPECT_EQ(g_D3D.device, nullptr);
    ASSERT_EQ(ReinitGraphicsKeepMode(), 0);
    EXPECT_EQ(IsDeviceMode(), 1);
    EXPECT_EQ(DrawFilledBox(0, 0, 8, 8, MakeScreenColor(255, 0, 0)), 0);
    EXPECT_EQ(ReadScreen().At(4, 4), 0xFF0000u);
    for (EngineHandle graph : graphs) {
        ReleaseGraphHandle(graph, 0);
    }
}

int s_OwnRestores;
int CountOwnRestore(void)
{
    return ++s_OwnRestores;
}

int CountDefaultRestores(void)
{
    const std::string log = ReadLogText(), line = "グラフィックを復帰します";
    int count = 0;
    for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) {
        count++;
    }
    return count;
}

// An installed callback replaces the default restore; installing none brings the default back.
TEST_F(DeviceRebuild, TheInstalledRestoreCallbackRunsInsteadOfTheDefault)
{
    for (GraphRestoreCallback callback : {CountOwnRestore, (GraphRestoreCallback)NULL}) {
        InstallGraphRestoreCallback(callback);
        const int defaults = CountDefaultRestores(), own = s_OwnRestores;
        ASSERT_EQ(ReinitGraphicsKeepMode(), 0);
        EXPECT_EQ(s_OwnRestores - own, callback != NULL);
        EXPECT_EQ(CountDefaultRestores() - defaults, callback == NULL);
    }
}

TEST_F(DeviceRebuild, AnActivationWithAHealthyDeviceRebuildsNothing)
{
    const int rebuilds = GetRebuildCount();
    IDirect3DDevice9 *device = g_D3D.device;
    SendMessageA(GetAppWindowHandle(), WM_ACTIVATE, WA_ACTIVE, 0);
    ProcessWindowMessages();
    EXPECT_EQ(GetRebuildCount(), rebuilds);
    EXPECT_EQ(g_D3D.device, device);
}

// Run last: the engine stays on the software screen until the suite ends it.
TEST_F(DeviceRebuild, ZZ_ARebuildThatMakesNoDeviceGoesOnOnTheSoftwareScreen)
{
    EngineHandle target = MakeGraph(64, 64, 1);
    SetDrawTarget(target);
    SetRebuildsEndInSoftware(1);
    ASSERT_EQ(ReinitGraphicsKeepMode(), 0);
    SetRebuildsEndInSoftware(0);
    EXPECT_EQ(IsDeviceMode(), 0);
    EXPECT_EQ(GetDrawTarget(), -2) << "the device graph's pixels went with the device";
    EXPECT_EQ(DrawFilledBox(0, 0, 640, 480, MakeScreenColor(0, 0, 255)), 0);
    EXPECT_EQ(ReadScreen().At(320, 240), 0x0000FFu);
    const int presents = GetScreenFlipRecord()->presents;
    EXPECT_EQ(FlipScreen(), 0);
    EXPECT_EQ(GetScreenFlipRecord()->presents, presents + 1);
    EXPECT_EQ(DrawGraphAt(0, 0, target, 0), -1) << "a device graph has nothing to draw from";
    ReleaseGraphHandle(target, 0);
}

} // namespace
