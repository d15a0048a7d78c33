// The screen flip of the 16-bit software screen: the GDI call and destination by scale rate, the paced wait on
// and off, paints presenting without it, and a paint rectangle before the first present.
#include <gtest/gtest.h>

#include "core/window_state.h"
#include "tests/graphics/screen_readback.h"

namespace
{

class SoftFlip : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(StartEngineWindow("QvSoftFlip", 16, 0), 0);
        ASSERT_FALSE(IsDeviceMode());
        SetDrawTarget(-2);
    }
    static void TearDownTestSuite()
    {
        EndEngine();
    }
};

TEST_F(SoftFlip, PaintRectangleBeforeTheFirstPresentPresentsTheWholeScreen)
{
    ForgetLastPresentedRects();
    RECT paint = {10, 10, 200, 100};
    EXPECT_EQ(PresentScreenToWindow(&paint), 0);
    EXPECT_EQ(GetScreenFlipRecord()->gdiCall, SCREEN_FLIP_GDI_SET_BITS);
}

TEST_F(SoftFlip, GdiCallAndDestinationFollowTheScaleRate)
{
    struct Case {
        double rate;
        int call;
        RECT destination;
    } cases[] = {
        {1.0, SCREEN_FLIP_GDI_SET_BITS, {0, 0, 640, 480}},
        {2.0, SCREEN_FLIP_GDI_STRETCH, {0, 0, 1280, 960}},
        {1.5, SCREEN_FLIP_GDI_STRETCH, {0, 0, 960, 720}},
        {1.0, SCREEN_FLIP_GDI_SET_BITS, {0, 0, 640, 480}},
    };
    for (const Case &c : cases) {
        SetWindowStretchRates(c.rate, c.rate);
        ASSERT_EQ(FlipScreen(), 0);
        const ScreenFlipRecord *record = GetScreenFlipRecord();
        EXPECT_EQ(record->gdiCall, c.call) << c.rate;
        EXPECT_TRUE(EqualRect(&record->gdiDestination, &c.destination)) << c.rate;
    }
}

TEST_F(SoftFlip, WaitsOnlyWhileTheWaitIsOn)
{
    struct Case {
        int wait, flips, waits;
    } cases[] = {{0, 5, 0}, {1, 5, 5}, {0, 3, 0}};
    for (const Case &c : cases) {
        SetWaitVerticalBlank(c.wait);
        int before = GetScreenFlipRecord()->pacedWaits;
        for (int i = 0; i < c.flips; i++) {
            EXPECT_EQ(FlipScreen(), 0);
        }
        EXPECT_EQ(GetScreenFlipRecord()->pacedWaits - before, c.waits) << "wait " << c.wait;
    }
}

TEST_F(SoftFlip, PaintsPresentWithoutTheWait)
{
    SetWaitVerticalBlank(1);
    int presents = GetScreenFlipRecord()->presents, waits = GetScreenFlipRecord()->pacedWaits;
    Sleep(2 * PARTIAL_PAINT_INTERVAL_MS); // a paint right after a present is its echo
    RedrawWindow(GetAppWindowHandle(), NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_EQ(GetScreenFlipRecord()->presents, presents + 1);
    EXPECT_EQ(GetScreenFlipRecord()->pacedWaits, waits);
    EXPECT_EQ(GetWaitVerticalBlank(), 1);
}

} // namespace
