// A real device loss: the engine runs a 640x480 full screen, a second copy of this program opens a window that
// takes the activation (the full-screen device is lost) and then hands it back; the activation handler rebuilds the
// device and the restore scene drawn again equals the frames read back before the loss.
#include "tests/graphics/restore_scene.h"

namespace
{

const char *const s_EngineTitle = "QvEngineDeviceLoss";
const char *const s_GiveBackEvent = "QvDeviceLossGiveBack";

// Pumps the engine's messages until `done` holds or thirty seconds pass.
template <typename Condition> bool PumpUntil(Condition done)
{
    for (int i = 0; i < 3000 && !done(); i++) {
        ProcessWindowMessages();
        Sleep(10);
    }
    return done();
}

HANDLE StartActivationThief(void)
{
    char path[MAX_PATH], command[MAX_PATH + 128];
    GetModuleFileNameA(NULL, path, sizeof path);
    wsprintfA(command, "\"%s\" --gtest_also_run_disabled_tests --gtest_filter=ActivationThief.*", path);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(path, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        return NULL;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

} // namespace

// Through a plain Direct3D 9 device, which reports the loss (an extended one never does, and is rebuilt all the same
// at the re-activation of a full screen), and through the extended one.
TEST(DeviceLoss, AFullScreenLosesItsDeviceToAnotherWindowAndComesBackWithTheSameFrame)
{
    if (GetSystemMetrics(SM_CXSCREEN) <= 640 || !(HasDisplayMode(640, 480, 16) || HasDisplayMode(640, 480, 32))) {
        GTEST_SKIP() << "the display cannot switch to a smaller 640x480 full screen";
    }
    for (int plain = 1; plain >= 0; plain--) {
        SCOPED_TRACE(plain ? "Direct3D 9" : "Direct3D 9Ex");
        SetForcePlainDirect3D9(plain);
        SetMainWindowTitle(s_EngineTitle);
        ChangeWindowMode(0);
        ASSERT_EQ(InitEngine(), 0);
        ASSERT_EQ(IsDeviceMode(), 1);
        SetDrawTarget(-2);
        PumpUntil([] { return IsWindowActive() != 0; });
        RestoreScene scene;
        ASSERT_EQ(MakeRestoreScene(&scene, "loss_scene.png"), 0);
        const std::vector<ScreenPixels> before = ReadRestoreScene(scene);
        const int rebuilds = GetRebuildCount();

        HANDLE giveBack = CreateEventA(NULL, TRUE, FALSE, s_GiveBackEvent);
        HANDLE thief = StartActivationThief();
        ASSERT_NE(thief, nullptr);
        EXPECT_TRUE(PumpUntil([] { return IsWindowActive() == 0; })) << "the other window took the activation";
        EXPECT_EQ(IsGraphicsDeviceLost(), plain);
        SetEvent(giveBack);
        EXPECT_TRUE(PumpUntil([&] { return IsWindowActive() != 0 && GetRebuildCount() > rebuilds; }));
        EXPECT_EQ(IsGraphicsDeviceLost(), 0);
        ASSERT_EQ(IsDeviceMode(), 1);

        const std::vector<ScreenPixels> after = ReadRestoreScene(scene);
        for (int page = 0; page < RESTORE_SCENE_PAGES; page++) {
            EXPECT_EQ(CountDifferences(before[page], after[page], 0), 0) << "page " << page;
        }
        ReleaseRestoreScene(scene);
        EXPECT_EQ(WaitForSingleObject(thief, 30000), WAIT_OBJECT_0);
        DWORD thiefResult = 1;
        GetExitCodeProcess(thief, &thiefResult);
        EXPECT_EQ(thiefResult, 0u);
        CloseHandle(thief);
        CloseHandle(giveBack);
        EXPECT_EQ(EndEngine(), 0);
        EXPECT_EQ(GetAllocationCount(), 0);
    }
    SetForcePlainDirect3D9(0);
    ChangeWindowMode(1);
}

// Run by the test above as a second process: a window of its own takes the activation until the engine's test says
// to give it back.
TEST(ActivationThief, DISABLED_TakesTheActivationAndGivesItBack)
{
    HWND engine = FindWindowA(NULL, s_EngineTitle);
    ASSERT_NE(engine, nullptr);
    HANDLE giveBack = OpenEventA(SYNCHRONIZE, FALSE, s_GiveBackEvent);
    ASSERT_NE(giveBack, nullptr);
    HWND own = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "QvActivationThief", WS_POPUP | WS_VISIBLE, 0, 0, 320, 240,
                               NULL, NULL, NULL, NULL);
    ASSERT_NE(own, nullptr);
    SetForegroundWindow(own);
    MSG message;
    while (MsgWaitForMultipleObjects(1, &giveBack, FALSE, 30000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
    }
    ShowWindow(engine, SW_RESTORE);
    SetForegroundWindow(engine);
    DestroyWindow(own);
    CloseHandle(giveBack);
}
