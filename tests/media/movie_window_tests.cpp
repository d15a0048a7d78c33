// The movie table in the running engine: the game's empty table through activation changes and the inactive pump,
// and overlay placement on the real main window with a stand-in overlay surface and capability block.
#include <gtest/gtest.h>

#include <vector>

#include "movie_fakes.h"

namespace
{

class MovieWindow : public testing::Test
{
  protected:
    // Near the screen's top left the whole client area is on any screen; its left edge on a multiple of 16 makes
    // the destination's boundary alignment a value worked by hand.
    void SetUp() override
    {
        ChangeWindowMode(1);
        ASSERT_EQ(InitEngine(), 0);
        for (int pass = 0; pass < 2; pass++) {
            const int x = pass == 0 ? 0 : (16 - client.left % 16) % 16;
            SetWindowPos(GetAppWindowHandle(), NULL, x, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            for (int i = 0; i < 20; i++) {
                ProcessWindowMessages();
            }
            GetWindowClientArea(&client);
        }
        ASSERT_EQ(client.left % 16, 0);
    }
    void TearDown() override
    {
        EndEngine();
        EXPECT_EQ(GetAllocationCount(), 0);
    }
    RECT client;
};

DWORD WINAPI ActivateLater(LPVOID window)
{
    Sleep(200);
    PostMessageA((HWND)window, WM_ACTIVATEAPP, 1, 0);
    return 0;
}

LONGLONG LogSize(void)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA("Log.txt", GetFileExInfoStandard, &data);
    return data.nFileSizeLow;
}

TEST_F(MovieWindow, TheEmptyTableAnswersActivationAndThePumpWithoutEffect)
{
    FakeWorld world;
    const LONGLONG logged = LogSize();
    SendMessageA(GetAppWindowHandle(), WM_ACTIVATEAPP, 0, 0);
    HANDLE thread = CreateThread(NULL, 0, ActivateLater, GetAppWindowHandle(), 0, NULL);
    EXPECT_EQ(ProcessWindowMessages(), 0); // held inactive until the activation comes back
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(PauseAllMovies() + ResumeAllMovies() + DrawAllWindowMovies(), 0);
    std::vector<EngineHandle> handles = {-1, 0, MakeEngineHandle(HANDLE_TYPE_GRAPH, 0, 0),
                                         MakeEngineHandle(HANDLE_TYPE_SOUND, 0, 0),
                                         MakeEngineHandle(HANDLE_TYPE_MOVIE, 0, 100)};
    for (int slot = 0; slot < MOVIE_SLOT_COUNT; slot++) {
        handles.push_back(MakeEngineHandle(HANDLE_TYPE_MOVIE, slot % HANDLE_CHECK_LIMIT, slot));
    }
    for (EngineHandle h : handles) {
        EXPECT_EQ(CloseMovie(h) + PauseMovie(h, 1) + UpdateMovie(h, 0) + DrawMovieToWindow(0, 0, 1, h, 1), -4) << h;
    }
    EXPECT_EQ(world.log, "");
    EXPECT_EQ(LogSize(), logged);
}

// A 64x48 picture. Rectangles are in client coordinates here; the overlay gets them in screen coordinates. A scale
// below 1 shows nothing.
TEST_F(MovieWindow, OverlayPlacementIsClippedAlignedAndSentOnlyWhenItChanges)
{
    const struct {
        DWORD caps, boundarySource, sizeSource, boundaryDestination, sizeDestination;
        int x, y, scale, show;
        RECT source, destination; // an empty source: hidden
    } cases[] = {
        {0, 0, 0, 0, 0, 10, 20, 2, 1, {0, 0, 64, 48}, {10, 20, 138, 116}},
        {0, 0, 0, 0, 0, 10, 20, 2, 1, {}, {}}, // the same placement again: no call
        {30, 0, 0, 0, 0, -11, 20, 2, 1, {5, 0, 64, 48}, {0, 20, 117, 116}},
        {0, 0, 0, 0, 0, 600, 450, 2, 1, {0, 0, 20, 15}, {600, 450, 640, 480}},
        {8, 4, 0, 0, 0, -11, 20, 2, 1, {4, 0, 64, 48}, {0, 20, 117, 116}},
        {16, 0, 6, 0, 0, -11, 20, 2, 1, {5, 0, 59, 48}, {0, 20, 117, 116}},
        {24, 4, 6, 0, 0, -11, 20, 2, 1, {4, 0, 60, 48}, {0, 20, 117, 116}},
        {4, 0, 0, 0, 10, 10, 20, 1, 1, {0, 0, 64, 48}, {10, 20, 70, 68}},
        {6, 0, 0, 16, 10, 10, 20, 1, 1, {0, 0, 64, 48}, {0, 20, 70, 68}},
        {0, 0, 0, 0, 0, 10, 20, 0, 1, {}, {}},
        {0, 0, 0, 0, 0, 10, 20, -2, 1, {}, {}},
        {0, 0, 0, 0, 0, 10, 20, 1, 0, {}, {}},
        {0, 0, 0, 0, 0, 700, 20, 1, 1, {}, {}},
    };
    FakeWorld world;
    MovieRecord *record = world.Place(4);
    record->overlay = record->frameReady = 1;
    record->width = 64;
    record->height = 48;
    for (const auto &c : cases) {
        DDCAPS_DX7 caps = {};
        caps.dwCaps = c.caps;
        caps.dwAlignBoundarySrc = c.boundarySource;
        caps.dwAlignSizeSrc = c.sizeSource;
        caps.dwAlignBoundaryDest = c.boundaryDestination;
        caps.dwAlignSizeDest = c.sizeDestination;
        SetMovieOverlayPlatformForTest((IDirectDrawSurface7 *)(void *)&world, &caps);
        world.log.clear();
        EXPECT_EQ(DrawMovieToWindow(c.x, c.y, c.scale, record->header.handle, c.show), 0);
        char expected[200] = "2:hide ";
        const RECT &s = c.source, &d = c.destination;
        if (!IsRectEmpty(&s)) {
            snprintf(expected, sizeof(expected), "2:show:%ld,%ld,%ld,%ld>%ld,%ld,%ld,%ld ", s.left, s.top, s.right,
                     s.bottom, d.left + client.left, d.top + client.top, d.right + client.left, d.bottom + client.top);
        }
        EXPECT_EQ(world.log, &c == cases + 1 ? "" : expected) << "row " << &c - cases;
    }
    EXPECT_EQ(CloseMovie(record->header.handle), 0);
}

TEST_F(MovieWindow, ACoveringWindowHidesAndTheWalkReplaysOnlyGraphOverlays)
{
    FakeWorld world;
    MovieRecord *graph = world.Place(0), *unset = world.Place(1), *theora = world.Place(2);
    for (MovieRecord *record : {graph, unset, theora}) {
        record->overlay = record->frameReady = 1;
        record->width = record->height = 32;
    }
    theora->theora = 1;
    unset->references[MOVIE_REF_OVERLAY_SURFACE] = (IUnknown *)&world.references[4]; // placement never set
    EXPECT_EQ(DrawMovieToWindow(10, 10, 1, graph->header.handle, 1), 0);
    EXPECT_EQ(DrawMovieToWindow(10, 10, 1, theora->header.handle, 1), 0);
    world.log.clear();
    DrawAllWindowMovies();
    EXPECT_EQ(world.log, "5:hide ") << "the graph movie's unchanged placement makes no call";
    // A child window laid over the picture: the parent's clip region, without its children, is complex.
    const HWND window = GetAppWindowHandle();
    const LONG style = GetWindowLongA(window, GWL_STYLE);
    SetWindowLongA(window, GWL_STYLE, style | WS_CLIPCHILDREN);
    HWND cover = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 15, 15, 60, 60, window, NULL, NULL, NULL);
    world.log.clear();
    DrawAllWindowMovies();
    EXPECT_EQ(world.log, "2:hide 5:hide ");
    DestroyWindow(cover);
    SetWindowLongA(window, GWL_STYLE, style);
    for (MovieRecord *record : {graph, unset, theora}) {
        CloseMovie(record->header.handle);
    }
}

} // namespace
