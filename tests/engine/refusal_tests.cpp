// A start-up that finds a window of its class already open (another copy of the program) is refused: it returns
// -1, logs the refusal, and undoes everything it started. (The other copy is played here by a window of this
// process; a real second program is checked end to end by check_program_window.py.)
#include <gtest/gtest.h>

#include <string>

#include "core/window_state.h"
#include "core/core_test_hooks.h"

static LRESULT CALLBACK OtherCopyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST(SecondStart, IsRefusedAndLeavesNothingBehind)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = OtherCopyWindowProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "QvEngineRefusal";
    ASSERT_NE(RegisterClassA(&windowClass), 0);
    HWND other = CreateWindowA("QvEngineRefusal", "other copy", WS_POPUP, 0, 0, 10, 10, NULL, NULL,
                               GetModuleHandleA(NULL), NULL);
    ASSERT_NE(other, (HWND)NULL);

    SetMainWindowTitle("QvEngineRefusal");
    ChangeWindowMode(1);
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, TRUE, NULL, 0);
    EXPECT_EQ(InitEngine(), -1);
    BOOL screenSaverActive = FALSE;
    EXPECT_TRUE(SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &screenSaverActive, 0) && screenSaverActive)
        << "the screen saver stayed off";
    EXPECT_EQ(IsEngineInitialised(), 0);
    EXPECT_EQ(GetAppWindowHandle(), (HWND)NULL);
    EXPECT_EQ(IsWindowClosed(), 1);
    EXPECT_EQ(GetTimerPeriodRaiseCount(), 0) << "a refused start-up left the timer period raised";
    EXPECT_EQ(GetBoundEntry(BOUND_OLE32, 0), (FARPROC)NULL) << "a refused start-up left libraries bound";
    EXPECT_EQ(GetAllocationCount(), 0);

    HANDLE log = CreateFileA("Log.txt", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(log, INVALID_HANDLE_VALUE);
    char text[8192] = "";
    DWORD read = 0;
    ReadFile(log, text, sizeof(text) - 1, &read, NULL);
    CloseHandle(log);
    std::string content(text, read);
    EXPECT_NE(content.find("ソフトの二重起動検査... 二重起動されています、ソフトを終了します\r\n"), std::string::npos);
    EXPECT_EQ(content.find("ウインドウクラスを登録します"), std::string::npos);
    // The end sequence ran: COM ended, then the allocation dump closes the log.
    size_t comEnd = content.find("ＣＯＭを終了... 完了\r\n");
    EXPECT_LT(comEnd, content.rfind("Alloc memory dump\r\n"));
    EXPECT_NE(content.find("Alloc num:0\r\n", comEnd), std::string::npos) << content;

    if (IsWindow(other)) {
        DestroyWindow(other);
    }
    UnregisterClassA("QvEngineRefusal", GetModuleHandleA(NULL));
}
