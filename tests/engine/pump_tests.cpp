// The message pump on a real window: its five-message limit, its results on close and on a quit message, the hold
// while the window is inactive, the activation ring, the desktop changes it answers, and the cursor, mouse and
// clipboard services around the window.
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "core/core_test_hooks.h"
#include "core/window_state.h"
#include "graphics/graphics.h"

namespace
{

const UINT kTestMessage = WM_APP + 7;

class Pump : public testing::Test
{
  protected:
    void SetUp() override
    {
        SetMainWindowTitle("QvEnginePumpTests");
        ChangeWindowMode(1);
        ASSERT_EQ(InitEngine(), 0);
        window = GetAppWindowHandle();
        ASSERT_NE(window, (HWND)NULL);
        // The back screen, as the game selects it after start-up: the front screen's refresh timer would add a
        // message every 32 ms and end the inactive hold after five of them.
        SetDrawTarget(-2);
        // Let the start-up's own messages (paint, cursor, activation) pass first.
        for (int i = 0; i < 20; i++) {
            ASSERT_EQ(ProcessWindowMessages(), 0);
            Sleep(5);
        }
    }

    void TearDown() override
    {
        EndEngine();
        EXPECT_EQ(GetAllocationCount(), 0);
    }

    HWND window = NULL;
};

int CountAndRemove(UINT message)
{
    MSG taken;
    int count = 0;
    while (PeekMessageA(&taken, NULL, message, message, PM_REMOVE)) {
        count++;
    }
    return count;
}

// Posts after a pause; `posted` turns 1 just before, so that a test checks the order of events, not their time.
struct DelayedPost {
    DWORD delay;
    HWND window;
    DWORD threadId;
    UINT message;
    WPARAM wParam;
    volatile LONG posted;
};

DWORD WINAPI PostAfterDelay(LPVOID parameter)
{
    DelayedPost *post = (DelayedPost *)parameter;
    Sleep(post->delay);
    InterlockedExchange(&post->posted, 1);
    if (post->window != NULL) {
        PostMessageA(post->window, post->message, post->wParam, 0);
    } else {
        PostThreadMessageA(post->threadId, post->message, post->wParam, 0);
    }
    return 0;
}

} // namespace

TEST_F(Pump, HandlesAtMostFiveMessagesPerCall)
{
    const struct {
        int posted;
        int leftAfterFirstCall;
    } cases[] = {{7, 2}, {5, 0}, {3, 0}, {12, 7}};
    for (const auto &c : cases) {
        for (int i = 0; i < c.posted; i++) {
            PostMessageA(window, kTestMessage, i, 0);
        }
        EXPECT_EQ(ProcessWindowMessages(), 0);
        int left = CountAndRemove(kTestMessage);
        EXPECT_EQ(left, c.leftAfterFirstCall) << c.posted << " posted";
    }
    for (int i = 0; i < 7; i++) {
        PostMessageA(window, kTestMessage, i, 0);
    }
    EXPECT_EQ(ProcessWindowMessages(), 0);
    EXPECT_EQ(ProcessWindowMessages(), 0);
    EXPECT_EQ(CountAndRemove(kTestMessage), 0) << "seven messages take two calls";
}

TEST_F(Pump, ReturnsMinusOneOnceTheWindowIsClosed)
{
    PostMessageA(window, WM_CLOSE, 0, 0);
    int result = 0;
    for (int i = 0; i < 5 && result == 0; i++) {
        result = ProcessWindowMessages();
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(IsWindowClosed(), 1);
    EXPECT_EQ(ProcessWindowMessages(), -1) << "stays -1";
}

TEST_F(Pump, HoldsWhileTheWindowIsInactiveUntilItIsActiveAgain)
{
    g_Window.active = 0;
    DelayedPost post = {300, window, 0, WM_ACTIVATEAPP, 1, 0};
    HANDLE thread = CreateThread(NULL, 0, PostAfterDelay, &post, 0, NULL);
    EXPECT_EQ(ProcessWindowMessages(), 0);
    EXPECT_EQ(post.posted, 1) << "returned while the window was inactive";
    EXPECT_EQ(IsWindowActive(), 1);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

// Ends a pump call still running after a generous time by setting the quit flag, read after each pass.
struct Watchdog {
    HANDLE disarm;
    volatile LONG fired;
};

DWORD WINAPI EndHungPump(LPVOID parameter)
{
    Watchdog *watchdog = (Watchdog *)parameter;
    if (WaitForSingleObject(watchdog->disarm, 30000) == WAIT_TIMEOUT) {
        InterlockedExchange(&watchdog->fired, 1);
        g_Window.quit = 1;
    }
    return 0;
}

TEST_F(Pump, FiveMessagesEndTheCallEvenWhileInactive)
{
    const struct {
        int posted, leftAfterCall;
    } cases[] = {{6, 1}, {9, 4}};
    for (const auto &c : cases) {
        g_Window.active = 0;
        for (int i = 0; i < c.posted; i++) {
            PostMessageA(window, kTestMessage, i, 0);
        }
        Watchdog watchdog = {CreateEventA(NULL, TRUE, FALSE, NULL), 0};
        HANDLE thread = CreateThread(NULL, 0, EndHungPump, &watchdog, 0, NULL);
        EXPECT_EQ(ProcessWindowMessages(), 0);
        SetEvent(watchdog.disarm);
        WaitForSingleObject(thread, INFINITE);
        EXPECT_EQ(watchdog.fired, 0) << "the call did not return after its five messages";
        EXPECT_EQ(CountAndRemove(kTestMessage), c.leftAfterCall);
        CloseHandle(thread);
        CloseHandle(watchdog.disarm);
        g_Window.quit = 0;
        g_Window.active = 1;
    }
}

TEST_F(Pump, AQuitMessageEndsTheHoldWithMinusOne)
{
    g_Window.active = 0;
    DelayedPost post = {200, NULL, GetCurrentThreadId(), WM_QUIT, 0, 0};
    HANDLE thread = CreateThread(NULL, 0, PostAfterDelay, &post, 0, NULL);
    EXPECT_EQ(ProcessWindowMessages(), -1);
    EXPECT_EQ(post.posted, 1) << "returned before the quit message came";
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    g_Window.active = 1;
}

TEST_F(Pump, ActivationChangesWaitInTheRingUntilThePassEnds)
{
    g_Window.pumpRunning = 1; // as while a pump call dispatches
    for (int i = 0; i < ACTIVATION_RING_SIZE + 1; i++) {
        SendMessageA(window, WM_ACTIVATE, WA_ACTIVE, 0);
    }
    EXPECT_EQ(g_Window.activationCount, ACTIVATION_RING_SIZE) << "the 513th is handled at once";
    g_Window.pumpRunning = 0;
    EXPECT_EQ(ProcessWindowMessages(), 0);
    EXPECT_EQ(g_Window.activationCount, 0);
    EXPECT_EQ(g_Window.activationRead, g_Window.activationWrite);

    SendMessageA(window, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(g_Window.activationCount, 0) << "outside a pump call a change is handled at once";
}

TEST_F(Pump, CursorDisplayAndMousePressLog)
{
    const struct {
        int wish;
        bool shown;
    } cases[] = {{0, false}, {1, true}, {0, false}, {1, true}};
    for (const auto &c : cases) {
        SetCursorVisible(c.wish);
        int count = ShowCursor(FALSE) + 1; // the display count before this probe
        ShowCursor(TRUE);
        EXPECT_EQ(count >= 0, c.shown) << "wish " << c.wish << ", display count " << count;
    }
    int logged = GetMouseLogCount();
    for (int i = 0; i < 40; i++) {
        SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    }
    EXPECT_EQ(GetMouseLogCount(), 32) << "started at " << logged;
}

TEST(CursorWish, IsKeptThroughStartUp)
{
    for (int wish : {0, 1}) {
        SetCursorVisible(wish);
        SetMainWindowTitle("QvEnginePumpTests");
        ChangeWindowMode(1);
        ASSERT_EQ(InitEngine(), 0);
        ProcessWindowMessages();
        EXPECT_EQ(ShowCursor(TRUE) > 0, wish == 1) << "wish " << wish; // shown: the display count was >= 0
        ShowCursor(FALSE);
        SetCursorVisible(1);
        EXPECT_EQ(EndEngine(), 0);
    }
}

TEST_F(Pump, MousePointIsInScreenPixelsOfTheStretchedClientArea)
{
    const struct {
        double rate;
        int clientX, clientY, expectedX, expectedY;
    } cases[] = {{1.0, 200, 100, 200, 100}, {2.0, 200, 100, 100, 50}, {1.5, 301, 151, 200, 100}};
    for (const auto &c : cases) {
        SetWindowStretchRates(c.rate, 0);
        ProcessWindowMessages();
        RECT client;
        GetWindowClientArea(&client);
        ASSERT_GE(client.left, 0);
        ASSERT_GE(client.top, 0);
        SetCursorPos(client.left + c.clientX, client.top + c.clientY);
        int x = -1, y = -1;
        EXPECT_EQ(GetMousePoint(&x, &y), 0);
        EXPECT_EQ(x, c.expectedX) << "rate " << c.rate;
        EXPECT_EQ(y, c.expectedY) << "rate " << c.rate;
    }
    SetWindowStretchRates(1.0, 1.0);
}

TEST_F(Pump, ClipboardTextRoundTrip)
{
    ASSERT_EQ(WriteClipboardText("abc"), 0);
    EXPECT_GE(ReadClipboardText(NULL), 5) << "the block's size plus one";
    char text[64] = "";
    EXPECT_EQ(ReadClipboardText(text), 0);
    EXPECT_STREQ(text, "abc");
    EXPECT_EQ(EnableDesktopComposition(1), 0) << "the current state: nothing to do";
}

TEST_F(Pump, ADesktopChangeTheScreenCannotFollowClosesTheProgram)
{
    int width, height, bits;
    QueryScreenState(&width, &height, &bits);
    const struct {
        const char *what;
        int bits, width, height;
        bool closes;
    } cases[] = {
        {"the same state", bits, width, height, false},
        {"a larger desktop of the same depth", bits, width + 640, height + 480, false},
        {"a depth of 24 bits", 24, width + 640, height + 480, true},
    };
    for (const auto &c : cases) {
        SendMessageA(window, WM_DISPLAYCHANGE, c.bits, MAKELPARAM(c.width, c.height));
        int result = 0;
        for (int i = 0; i < 5 && result == 0; i++) {
            result = ProcessWindowMessages();
        }
        EXPECT_EQ(result == -1, c.closes) << c.what;
        EXPECT_EQ(GetCloseRequestedFlag() == 1, c.closes) << c.what;
    }
}

namespace
{

std::vector<MSG> s_Seen;
LRESULT RecordMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    MSG seen = {window, message, wParam, lParam, 0, {0, 0}};
    s_Seen.push_back(seen);
    return 0;
}

int CountSeen(UINT message, WPARAM wParam)
{
    int count = 0;
    for (const MSG &seen : s_Seen) {
        count += seen.message == message && LOWORD(seen.wParam) == wParam;
    }
    return count;
}

LRESULT CALLBACK DialogLikeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    RecordMessage(window, message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

void PumpBriefly(void)
{
    for (int i = 0; i < 5; i++) {
        ProcessWindowMessages();
        Sleep(5);
    }
}

// A hidden window of this thread that records what reaches it (a shown one would take the activation and hold the
// pump). Null when it cannot be made.
HWND MakeRecordingWindow(const char *className)
{
    WNDCLASSEXA windowClass;
    memset(&windowClass, 0, sizeof(windowClass));
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = DialogLikeProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = className;
    if (RegisterClassExA(&windowClass) == 0) {
        return NULL;
    }
    HWND window = CreateWindowExA(0, className, className, WS_POPUP, 0, 0, 50, 50, NULL, NULL, GetModuleHandleA(NULL),
                                  NULL);
    PumpBriefly();
    return window;
}

void DestroyRecordingWindow(HWND window, const char *className)
{
    DestroyWindow(window);
    PumpBriefly();
    UnregisterClassA(className, GetModuleHandleA(NULL));
}

} // namespace

TEST_F(Pump, AcceleratorTableTurnsKeysIntoCommands)
{
    ACCEL entry = {FVIRTKEY, 'K', 0x321};
    HACCEL table = CreateAcceleratorTableA(&entry, 1);
    ASSERT_NE(table, (HACCEL)NULL);
    SetWindowMessageHook(RecordMessage);
    const struct {
        HACCEL table;
        int commands;
    } cases[] = {{table, 1}, {NULL, 0}, {table, 1}};
    for (const auto &c : cases) {
        SetPumpAcceleratorTable(c.table);
        s_Seen.clear();
        PostMessageA(window, WM_KEYDOWN, 'K', 0x00250001);
        PumpBriefly();
        EXPECT_EQ(CountSeen(WM_COMMAND, 0x321), c.commands) << (c.table != NULL ? "with" : "without") << " table";
    }
    SetPumpAcceleratorTable(NULL);
    SetWindowMessageHook(NULL);
    DestroyAcceleratorTable(table);
}

TEST_F(Pump, ModelessDialogTakesItsKeys)
{
    HWND dialog = MakeRecordingWindow("QvPumpDialogLike");
    ASSERT_NE(dialog, (HWND)NULL);
    // The dialog's handling turns Escape into a cancel command; plain dispatch hands over the key itself.
    const struct {
        HWND dialog;
        int cancels, keys;
    } cases[] = {{dialog, 1, 0}, {NULL, 0, 1}};
    for (const auto &c : cases) {
        SetPumpDialogWindow(c.dialog);
        s_Seen.clear();
        PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PumpBriefly();
        EXPECT_EQ(CountSeen(WM_COMMAND, IDCANCEL), c.cancels) << (c.dialog != NULL ? "as dialog" : "plain");
        EXPECT_EQ(CountSeen(WM_KEYDOWN, VK_ESCAPE), c.keys) << (c.dialog != NULL ? "as dialog" : "plain");
    }
    SetPumpDialogWindow(NULL);
    DestroyRecordingWindow(dialog, "QvPumpDialogLike");
}

TEST_F(Pump, ExtraWindowsGetOneMessageEachBesideTheFive)
{
    HWND extra = MakeRecordingWindow("QvPumpExtra");
    ASSERT_NE(extra, (HWND)NULL);
    // Ten messages for the extra window: one call takes five through its own count and, when the window is listed,
    // one more for it after each of those.
    const struct {
        int listed;
        int seenAfterOneCall;
    } cases[] = {{1, 10}, {0, 5}};
    for (const auto &c : cases) {
        if (c.listed) {
            ASSERT_EQ(AddPumpExtraWindow(extra), 0);
        }
        s_Seen.clear();
        for (int i = 0; i < 10; i++) {
            PostMessageA(extra, kTestMessage, i, 0);
        }
        EXPECT_EQ(ProcessWindowMessages(), 0);
        EXPECT_EQ((int)s_Seen.size(), c.seenAfterOneCall) << (c.listed ? "listed" : "not listed");
        CountAndRemove(kTestMessage);
        if (c.listed) {
            EXPECT_EQ(RemovePumpExtraWindow(extra), 0);
            EXPECT_EQ(RemovePumpExtraWindow(extra), -1) << "removed once";
        }
    }
    for (int i = 0; i < 64; i++) {
        ASSERT_EQ(AddPumpExtraWindow(extra), 0);
    }
    EXPECT_EQ(AddPumpExtraWindow(extra), -1) << "the list holds 64";
    for (int i = 0; i < 64; i++) {
        RemovePumpExtraWindow(extra);
    }
    DestroyRecordingWindow(extra, "QvPumpExtra");
}

TEST_F(Pump, CursorIsClippedOnceInsideTheClientAreaUntilDeactivation)
{
    SetClipCursorToClient(1);
    RECT client = g_Window.clientRect;
    RECT desktop = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    const struct {
        POINT cursor;
        bool clipped;
    } cases[] = {{{client.left - 5, client.top + 10}, false},
                 {{client.left + 10, client.top - 5}, false},
                 {{(client.left + client.right) / 2, (client.top + client.bottom) / 2}, true},
                 {{client.right, client.bottom}, true}};
    for (const auto &c : cases) {
        SetCursorPos(c.cursor.x, c.cursor.y);
        ProcessWindowMessages();
        RECT clip;
        GetClipCursor(&clip);
        EXPECT_EQ(EqualRect(&clip, &client) != 0, c.clipped) << c.cursor.x << "," << c.cursor.y;
        EXPECT_EQ(EqualRect(&clip, &desktop) != 0, !c.clipped) << c.cursor.x << "," << c.cursor.y;
        SendMessageA(window, WM_ACTIVATE, WA_INACTIVE, 0);
        SendMessageA(window, WM_ACTIVATE, WA_ACTIVE, 0);
        GetClipCursor(&clip);
        EXPECT_TRUE(EqualRect(&clip, &desktop)) << "the deactivation releases the cursor";
    }
    SetClipCursorToClient(0);
}
