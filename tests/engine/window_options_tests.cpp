// The caller's choices around the main window: start-up options, window-less and user window modes, the
// activation, mode-change and message hooks, the window's menu, and layered windows with their presenter.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "core/window_state.h"
#include "graphics/graphics.h"
#include "graphics/log_reading.h"
#include "image/image.h"
#include "core/core_test_hooks.h"

#include <imm.h>

namespace
{

// Every test starts from the defaults and puts them back, whatever it changed.
class WindowOptions : public testing::Test
{
  protected:
    void SetUp() override
    {
        SetMainWindowTitle("QvEngineWindowOptions");
        ChangeWindowMode(1);
    }

    void TearDown() override
    {
        EndEngine();
        SetEngineStartOptions(0, 0, 0);
        SetWindowlessMode(0);
        SetUserWindow(NULL);
        SetWindowActivationCallback(NULL, NULL);
        SetWindowModeChangeCallback(NULL, NULL);
        SetWindowMessageHook(NULL);
        SetWindowMenu(NULL, NULL, NULL);
        SetWindowLayeredOption(0, 0);
        SetUseDirect3D(1);
        SetSystemKeySuppression(0);
        g_WindowSettings.altEnterAllowed = 0;
        ChangeWindowMode(1);
        EXPECT_EQ(GetAllocationCount(), 0);
    }
};

void PumpFor(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        ProcessWindowMessages();
        Sleep(5);
    }
}

// Messages of a caller's own window go through the caller's own loop.
void DispatchOwnMessages(void)
{
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

const UINT kProbeMessage = WM_APP + 21;

std::vector<UINT> s_HookedMessages;
LRESULT RecordHookedMessage(HWND, UINT message, WPARAM, LPARAM)
{
    s_HookedMessages.push_back(message);
    return 0;
}

WNDCLASSEXA EmptyClassInfo(void)
{
    WNDCLASSEXA info;
    memset(&info, 0, sizeof(info));
    info.cbSize = sizeof(info);
    return info;
}

int CountOf(const std::vector<UINT> &messages, UINT wanted)
{
    int count = 0;
    for (UINT message : messages) {
        count += message == wanted;
    }
    return count;
}

} // namespace

TEST_F(WindowOptions, GraphicsStartOnlyWhenNotDisabled)
{
    // Starting in full screen switches the display to the screen size; with graphics left unstarted it stays. Once
    // graphics have ended, an activation (the end pumps the window's last messages) leaves the desktop's mode alone.
    int desktop = GetSystemMetrics(SM_CXSCREEN);
    if (desktop == 640 || !(HasDisplayMode(640, 480, 16) || HasDisplayMode(640, 480, 32))) {
        GTEST_SKIP() << "a 640x480 full screen would not change this display";
    }
    const struct {
        int disableGraphics;
        int desktopWidth;
    } cases[] = {{0, 640}, {1, desktop}, {0, 640}};
    for (const auto &c : cases) {
        SetEngineStartOptions(1, 1, c.disableGraphics);
        ChangeWindowMode(0);
        ASSERT_EQ(InitEngine(), 0);
        EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), c.desktopWidth) << c.disableGraphics;
        if (&c == &cases[2]) {
            for (int graphicsEnded : {0, 1}) {
                if (graphicsEnded) {
                    TerminateGraphics();
                }
                OnWindowActivation(WA_INACTIVE);
                OnWindowActivation(WA_ACTIVE);
                EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), graphicsEnded ? desktop : 640) << "activated";
            }
        }
        EXPECT_EQ(EndEngine(), 0);
        EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), desktop) << "the desktop is back";
    }
}

TEST_F(WindowOptions, WindowlessModeStartsPumpsAndEndsWithoutAWindow)
{
    SetEngineStartOptions(1, 1, 1);
    SetWindowlessMode(1);
    ASSERT_EQ(InitEngine(), 0);
    EXPECT_EQ(GetAppWindowHandle(), (HWND)NULL);
    EXPECT_EQ(FindWindowA("QvEngineWindowOptions", NULL), (HWND)NULL);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(ProcessWindowMessages(), 0) << "the upkeep runs without a window";
    }
    EXPECT_EQ(EndEngine(), 0);
    EXPECT_EQ(IsWindowClosed(), 1) << "the end sets the quit flag";
    WNDCLASSEXA unused = EmptyClassInfo();
    EXPECT_FALSE(GetClassInfoExA(GetModuleHandleA(NULL), "QvEngineWindowOptions", &unused)) << "no class registered";
}

namespace
{

std::vector<UINT> s_OwnProcedureMessages;
LRESULT CALLBACK OwnWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    s_OwnProcedureMessages.push_back(message);
    if (message == kProbeMessage) {
        return 77;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

TEST_F(WindowOptions, UserWindowIsSubclassedAndGivenBack)
{
    WNDCLASSEXA windowClass = EmptyClassInfo();
    windowClass.lpfnWndProc = OwnWindowProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "QvCallersOwnWindow";
    ASSERT_NE(RegisterClassExA(&windowClass), 0);
    HWND own = CreateWindowExA(0, "QvCallersOwnWindow", "own", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200, NULL,
                               NULL, GetModuleHandleA(NULL), NULL);
    ASSERT_NE(own, (HWND)NULL);
    LONG ownProcedure = GetWindowLongA(own, GWL_WNDPROC);
    RECT before;
    GetWindowRect(own, &before);

    SetUserWindow(own);
    SetWindowMessageHook(RecordHookedMessage);
    ASSERT_EQ(InitEngine(), 0);
    EXPECT_EQ(GetAppWindowHandle(), own);
    EXPECT_NE(GetWindowLongA(own, GWL_WNDPROC), ownProcedure) << "the engine's procedure is in front";
    RECT after;
    GetWindowRect(own, &after);
    EXPECT_TRUE(EqualRect(&before, &after)) << "the caller's window is neither fitted nor moved";

    s_OwnProcedureMessages.clear();
    s_HookedMessages.clear();
    // Handled by neither: the caller's procedure's result comes back, not the default one.
    EXPECT_EQ(SendMessageA(own, kProbeMessage, 0, 0), 77);
    EXPECT_EQ(CountOf(s_OwnProcedureMessages, kProbeMessage), 1);
    EXPECT_EQ(CountOf(s_HookedMessages, kProbeMessage), 1);
    PostMessageA(own, kProbeMessage, 0, 0);
    EXPECT_EQ(ProcessWindowMessages(), 0);
    EXPECT_EQ(CountOf(s_OwnProcedureMessages, kProbeMessage), 1) << "the engine's pump leaves the caller's queue";
    DispatchOwnMessages();
    EXPECT_EQ(CountOf(s_OwnProcedureMessages, kProbeMessage), 2);

    EXPECT_EQ(EndEngine(), 0);
    EXPECT_TRUE(IsWindow(own)) << "the caller's window stays";
    EXPECT_EQ(GetWindowLongA(own, GWL_WNDPROC), ownProcedure) << "its own procedure is back";
    WNDCLASSEXA info = EmptyClassInfo();
    EXPECT_TRUE(GetClassInfoExA(GetModuleHandleA(NULL), "QvCallersOwnWindow", &info)) << "its class stays";
    DestroyWindow(own);
    DispatchOwnMessages();
    UnregisterClassA("QvCallersOwnWindow", GetModuleHandleA(NULL));
}

namespace
{

std::vector<int> s_Activations;
void RecordActivation(int active, void *data)
{
    s_Activations.push_back(active);
    ++*(int *)data;
}

int s_ModeChanges;
int s_WindowedAtModeChange;
void RecordModeChange(void *data)
{
    s_ModeChanges += *(int *)data;
    s_WindowedAtModeChange = IsWindowedMode();
}

} // namespace

TEST_F(WindowOptions, CallersHooksSeeActivationModeSwitchesAndMessages)
{
    int activationCalls = 0, step = 1;
    SetWindowActivationCallback(RecordActivation, &activationCalls);
    SetWindowModeChangeCallback(RecordModeChange, &step);
    SetWindowMessageHook(RecordHookedMessage);
    g_WindowSettings.altEnterAllowed = 1;
    ASSERT_EQ(InitEngine(), 0);
    HWND window = GetAppWindowHandle();
    PumpFor(200);

    s_Activations.clear();
    activationCalls = 0;
    const WPARAM changes[] = {WA_INACTIVE, WA_ACTIVE, WA_INACTIVE, WA_CLICKACTIVE};
    for (WPARAM change : changes) {
        SendMessageA(window, WM_ACTIVATE, change, 0); // outside a pump call: handled at once
    }
    ASSERT_EQ(s_Activations.size(), 4u);
    EXPECT_EQ(s_Activations, (std::vector<int>{0, 1, 0, 1}));
    EXPECT_EQ(activationCalls, 4) << "the callback gets its data";

    s_HookedMessages.clear();
    PostMessageA(window, kProbeMessage, 0, 0);
    PumpFor(50);
    EXPECT_EQ(CountOf(s_HookedMessages, kProbeMessage), 1);

    s_ModeChanges = 0;
    const int expectWindowed[] = {0, 1};
    for (int windowed : expectWindowed) {
        PostMessageA(window, WM_SYSCHAR, 0x0D, 0); // Alt+Enter
        PumpFor(300);
        EXPECT_EQ(IsWindowedMode(), windowed);
        EXPECT_EQ(s_WindowedAtModeChange, windowed) << "the callback runs after the switch";
    }
    EXPECT_EQ(s_ModeChanges, 2);
}

namespace
{

std::vector<int> s_CommandIds;
std::vector<std::string> s_ItemNames;
void RecordCommand(int id)
{
    s_CommandIds.push_back(id);
}
void RecordItemName(const char *name)
{
    s_ItemNames.push_back(name);
}

} // namespace

// A sub-menu item carries its menu handle as its id: a command with the handle's low bits is found by its name.
TEST_F(WindowOptions, CommandIdsNeverMatchSubMenuItems)
{
    HMENU menu = CreateMenu(), sub = CreatePopupMenu();
    UINT clash = LOWORD((UINT_PTR)sub);
    AppendMenuA(sub, MF_STRING, clash, "Clash");
    AppendMenuA(menu, MF_POPUP, (UINT_PTR)sub, "Popup");
    SetWindowMenu(menu, RecordCommand, RecordItemName);
    ASSERT_EQ(InitEngine(), 0);
    char name[128] = "";
    EXPECT_EQ(FindMenuItemById((int)clash, name), 0);
    EXPECT_STREQ(name, "Clash");
}

TEST_F(WindowOptions, MenuIsAttachedWalkedReportedAndDestroyed)
{
    HMENU menu = CreateMenu();
    HMENU file = CreatePopupMenu();
    AppendMenuA(file, MF_STRING, 101, "Open");
    AppendMenuA(file, MF_SEPARATOR, 0, NULL);
    AppendMenuA(file, MF_STRING, 102, "Save");
    AppendMenuA(menu, MF_POPUP, (UINT_PTR)file, "File");
    AppendMenuA(menu, MF_STRING, 103, "Help");
    for (int id = 200; id < 280; id++) {
        AppendMenuA(menu, MF_STRING, id, "More");
    }
    SetWindowMenu(menu, RecordCommand, RecordItemName);
    ASSERT_EQ(InitEngine(), 0);
    HWND window = GetAppWindowHandle();
    EXPECT_EQ(GetMenu(window), menu) << "attached in window mode";
    EXPECT_EQ(IsMenuShown(), 1);
    EXPECT_EQ(GetMenuItemRecordCount(), 84) << "File, its two items, Help and 80 more; no separator";
    char name[128] = "";
    EXPECT_EQ(FindMenuItemById(102, name), 0);
    EXPECT_STREQ(name, "Save");
    EXPECT_EQ(FindMenuItemById(999, name), -1);

    const struct {
        int id;
        const char *name; // null: no callback for this id
    } commands[] = {{101, "Open"}, {102, "Save"}, {101, "Open"}, {103, "Help"}, {0x500, NULL}};
    s_CommandIds.clear();
    s_ItemNames.clear();
    std::vector<int> expectedIds;
    std::vector<std::string> expectedNames;
    for (const auto &c : commands) {
        SendMessageA(window, WM_COMMAND, (WPARAM)c.id, 0);
        if (c.name != NULL) {
            expectedIds.push_back(c.id);
            expectedNames.push_back(c.name);
        }
    }
    EXPECT_EQ(s_CommandIds, expectedIds);
    EXPECT_EQ(s_ItemNames, expectedNames);
    const int queued[] = {101, 102, 103, -1};
    for (int id : queued) {
        EXPECT_EQ(TakeChosenMenuId(), id) << "each id once, oldest first";
    }
    // The queue holds 64 ids.
    for (int id = 200; id < 280; id++) {
        SendMessageA(window, WM_COMMAND, (WPARAM)id, 0);
    }
    int taken = 0;
    while (TakeChosenMenuId() != -1) {
        taken++;
    }
    EXPECT_EQ(taken, 64);

    EXPECT_EQ(EndEngine(), 0);
    EXPECT_FALSE(IsMenu(menu)) << "the end destroys the menu";
    EXPECT_FALSE(IsMenu(file));
    EXPECT_EQ(GetMenuItemRecordCount(), 0);
}

namespace
{

// The kernel's widening of a channel of w bits by k bits, straight from the rule.
int Widen(int value, int width)
{
    int added = 8 - width;
    return added == 0 ? value : (value << added) + value * ((1 << added) - 1) / ((1 << width) - 1);
}

struct Argb {
    int a, r, g, b;
};

Argb ReferencePixel(const BaseImage &image, int x, int y)
{
    const unsigned char *p = image.pixels + (size_t)y * image.pitch + (size_t)x * image.format.bytesPerPixel;
    switch (image.format.bitsPerPixel) {
    case 32:
        return {image.format.alphaWidth ? p[3] : 255, p[2], p[1], p[0]};
    case 24:
        return {255, p[2], p[1], p[0]};
    default: {
        int v = p[0] | p[1] << 8;
        return {255, Widen(v >> 11, 5), Widen((v >> 5) & 63, 6), Widen(v & 31, 5)};
    }
    }
}

int Premultiply(int channel, int alpha)
{
    return (channel * alpha + 127) / 255;
}

void MakeImage(int bits, int width, int height, unsigned int seed, BaseImage *image)
{
    memset(image, 0, sizeof(*image));
    if (bits == 32) {
        NewARGB8BaseImage(width, height, image);
    } else if (bits == 33) {
        NewXRGB8BaseImage(width, height, image);
    } else if (bits == 24) {
        SetRGB24PixelFormat(&image->format);
    } else {
        CreatePixelFormatFromMasks(&image->format, 16, 0xF800, 0x07E0, 0x001F, 0);
    }
    if (image->pixels == NULL) {
        image->width = width;
        image->height = height;
        image->pitch = (width * image->format.bytesPerPixel + 3) & ~3;
        image->pixels = (unsigned char *)ENGINE_ALLOC((size_t)image->pitch * height);
    }
    for (int i = 0; i < image->pitch * height; i++) {
        seed = seed * 1103515245u + 12345u;
        image->pixels[i] = (unsigned char)(seed >> 16);
    }
}

} // namespace

TEST_F(WindowOptions, LayeredWindowTakesTheScreenSizeAndPresentsImagesWithAlpha)
{
    // The layered presenter is a GDI path: a Direct3D device on a layered window can make Wine re-parent an X
    // window that is already gone, which ends the process.
    SetUseDirect3D(0);
    SetWindowLayeredOption(1, RGB(0, 0, 0));
    ASSERT_EQ(InitEngine(), 0);
    HWND window = GetAppWindowHandle();
    EXPECT_TRUE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_LAYERED);
    RECT frame;
    GetWindowRect(window, &frame);
    EXPECT_EQ(frame.right - frame.left, 640) << "a layered window is the screen size";
    EXPECT_EQ(frame.bottom - frame.top, 480);
    ASSERT_NE(g_Window.updateLayeredWindow, nullptr);

    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    int offsetX = origin.x - frame.left, offsetY = origin.y - frame.top;
    const struct {
        int bits; // 33: X8R8G8B8
        int width, height;
    } cases[] = {{32, 7, 5}, {32, 7, 5}, {33, 3, 9}, {24, 5, 4}, {16, 6, 3}};
    HBITMAP previousSection = NULL;
    for (const auto &c : cases) {
        BaseImage image;
        MakeImage(c.bits, c.width, c.height, (unsigned)(c.bits * 31 + c.width), &image);
        ASSERT_EQ(SetupWindowDibSection(&image, NULL), 0) << c.bits;
        int width = c.width + offsetX, height = c.height + offsetY;
        ASSERT_EQ(g_Window.layeredDibWidth, width);
        ASSERT_EQ(g_Window.layeredDibHeight, height);
        if (c.bits == 32 && previousSection != NULL) {
            EXPECT_EQ(g_Window.layeredDibSection, previousSection) << "the same size keeps its section";
        }
        previousSection = g_Window.layeredDibSection;
        const unsigned char *dib = (const unsigned char *)g_Window.layeredDibPixels;
        int mismatches = 0;
        for (int y = 0; y < height; y++) {
            for (int x = 0; x < width; x++) {
                const unsigned char *p = dib + ((size_t)y * width + x) * 4;
                Argb want = {0, 0, 0, 0};
                if (x >= offsetX && y >= offsetY) {
                    want = ReferencePixel(image, x - offsetX, y - offsetY);
                    want = {want.a, Premultiply(want.r, want.a), Premultiply(want.g, want.a),
                            Premultiply(want.b, want.a)};
                }
                mismatches += p[3] != want.a || p[2] != want.r || p[1] != want.g || p[0] != want.b;
            }
        }
        EXPECT_EQ(mismatches, 0) << c.bits << "-bit image " << c.width << "x" << c.height;
        FreeBaseImageData(&image);
    }
    BaseImage empty;
    memset(&empty, 0, sizeof(empty));
    EXPECT_EQ(SetupWindowDibSection(&empty, NULL), -1) << "an image without pixels is refused";

    HDC screen = GetDC(NULL);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP picture = CreateCompatibleBitmap(screen, 640, 480);
    HGDIOBJ previous = SelectObject(dc, picture);
    EXPECT_EQ(SetupWindowDibSection(NULL, dc), 0) << "a DC is presented with the colour key";
    SelectObject(dc, previous);
    DeleteObject(picture);
    DeleteDC(dc);
    ReleaseDC(NULL, screen);
    EXPECT_EQ(EndEngine(), 0);
    EXPECT_EQ(g_Window.layeredDibSection, (HBITMAP)NULL) << "the end deletes the section";
}

TEST_F(WindowOptions, PresenterDoesNothingWithoutTheLayeredOption)
{
    ASSERT_EQ(InitEngine(), 0);
    BaseImage image;
    MakeImage(32, 4, 4, 1, &image);
    EXPECT_EQ(SetupWindowDibSection(&image, NULL), 0);
    EXPECT_EQ(g_Window.layeredDibSection, (HBITMAP)NULL);
    FreeBaseImageData(&image);
}

namespace
{

std::string TakeTypedBytes(void)
{
    InputCharRing *ring = GetInputCharRing();
    std::string bytes;
    while (ring->readIndex != ring->writeIndex) {
        bytes += (char)ring->bytes[ring->readIndex];
        ring->readIndex = (ring->readIndex + 1) % INPUT_CHAR_RING_SLOTS;
    }
    return bytes;
}

} // namespace

TEST_F(WindowOptions, CompositionPartsAreReadOnlyWhenTheMessageNamesThem)
{
    ASSERT_EQ(InitEngine(), 0);
    HWND window = GetAppWindowHandle();
    HIMC context = ImmGetContext(window);
    ASSERT_NE(context, (HIMC)NULL);
    ImmSetOpenStatus(context, TRUE);
    const char text[] = "\x82\xa0\x82\xa2\x82\xa4"; // three double-byte characters
    // The same three characters as UTF-16 (the ANSI form of this call loses characters under Wine).
    const WCHAR wide[] = {0x3042, 0x3044, 0x3046};
    ASSERT_TRUE(ImmSetCompositionStringW(context, SCS_SETSTR, (void *)wide, sizeof(wide), NULL, 0));
    PumpFor(50);
    TakeTypedBytes();
    ImeState state;
    for (UINT message : {WM_IME_STARTCOMPOSITION, WM_IME_ENDCOMPOSITION}) {
        SendMessageA(window, message, 0, 0);
        GetImeState(&state);
        EXPECT_EQ(state.composing, message == WM_IME_STARTCOMPOSITION);
    }
    EXPECT_STREQ(GetImeCompositionText(), "") << "ending the composition clears it";

    const struct {
        LPARAM changed;
        const char *composition;
    } cases[] = {{GCS_COMPATTR | GCS_CURSORPOS, ""}, {0, ""}, {GCS_COMPSTR, text}};
    for (const auto &c : cases) {
        SendMessageA(window, WM_IME_COMPOSITION, 0, c.changed);
        EXPECT_STREQ(GetImeCompositionText(), c.composition) << std::hex << c.changed;
        GetImeState(&state);
        EXPECT_EQ(state.attributeLength, 6) << std::hex << c.changed;
    }
    EXPECT_EQ(TakeTypedBytes(), "") << "no result string was named";

    // Completing the composition hands it over as the result: its six bytes go to the typed-character ring.
    ImmNotifyIME(context, NI_COMPOSITIONSTR, CPS_COMPLETE, 0);
    PumpFor(50);
    EXPECT_EQ(TakeTypedBytes(), std::string(text));
    ImmReleaseContext(window, context);

    // No candidates are open: the notification logs the size-0 line and keeps no list.
    int blocks = GetAllocationCount();
    SendMessageA(window, WM_IME_NOTIFY, IMN_OPENCANDIDATE, 1);
    EXPECT_EQ(GetAllocationCount(), blocks);
    EXPECT_NE(ReadLogText().find("漢字変換候補のデータサイズが０でした  DefHWND:"), std::string::npos);
}

TEST(SystemKeys, OnlyTheKeysThatLeaveTheProgramAreSwallowed)
{
    const struct {
        DWORD key;
        DWORD flags;
        int controlDown;
        int swallowed;
    } cases[] = {
        {VK_LWIN, 0, 0, 1},
        {VK_RWIN, 0, 0, 1},
        {VK_APPS, 0, 0, 1},
        {VK_TAB, LLKHF_ALTDOWN, 0, 1},
        {VK_TAB, 0, 0, 0},
        {VK_ESCAPE, LLKHF_ALTDOWN, 0, 1},
        {VK_ESCAPE, 0, 1, 1},
        {VK_ESCAPE, 0, 0, 0},
        {VK_RETURN, LLKHF_ALTDOWN, 0, 0},
        {'A', 0, 1, 0},
        {VK_F4, LLKHF_ALTDOWN, 0, 0},
        {VK_SPACE, 0, 0, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(IsSystemKeyStroke(c.key, c.flags, c.controlDown), c.swallowed)
            << "key " << c.key << " flags " << c.flags << " control " << c.controlDown;
    }
}

TEST_F(WindowOptions, SystemKeyHookFollowsTheActivation)
{
    const struct {
        int suppress;
        int installedAtStart;
    } runs[] = {{0, 0}, {1, 1}};
    for (const auto &run : runs) {
        SetSystemKeySuppression(run.suppress);
        ASSERT_EQ(InitEngine(), 0);
        HWND window = GetAppWindowHandle();
        EXPECT_EQ(IsSystemKeyHookInstalled(), run.installedAtStart);
        const struct {
            WPARAM change;
            int installed;
        } changes[] = {{WA_INACTIVE, 0}, {WA_ACTIVE, 1}, {WA_INACTIVE, 0}, {WA_CLICKACTIVE, 1}};
        for (const auto &c : changes) {
            SendMessageA(window, WM_ACTIVATE, c.change, 0);
            EXPECT_EQ(IsSystemKeyHookInstalled(), c.installed && run.suppress) << c.change;
        }
        EXPECT_EQ(EndEngine(), 0);
        EXPECT_EQ(IsSystemKeyHookInstalled(), 0) << "the end removes the hook";
    }
}
