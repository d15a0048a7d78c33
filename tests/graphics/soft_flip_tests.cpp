// The screen flip of the 16-bit software screen: the display shows the read-back frame, the GDI call and
// destination follow the scale rate, the paced wait runs only while on, and paints present without it.
#include "tests/graphics/screen_readback.h"

namespace
{

const ScreenFlipRecord *Record(void)
{
    return GetScreenFlipRecord();
}

using SoftFlip = EngineScreenSuite<16, 0>;

// The screen has no software shape drawers yet: bars and a ramp are written straight into its pixels.
TEST_F(SoftFlip, DisplayShowsTheReadBackFrame)
{
    BaseImage view;
    ASSERT_EQ(LockDrawScreen(0, 0, 640, 480, &view, -1, 0), 0);
    ASSERT_EQ(view.format.bytesPerPixel, 2);
    const uint16_t bars[4] = {0xF800, 0x07E0, 0x001F, 0xFFFF};
    for (int y = 0; y < 480; y++) {
        for (int x = 0; x < 640; x++) {
            ((uint16_t *)(view.pixels + y * view.pitch))[x] =
                y < 240 ? bars[x / 160] : (uint16_t)((x / 20) << 11 | (y / 8 % 64) << 5 | (x & 31));
        }
    }
    UnlockDrawScreen();
    ForgetLastPresentedRects();
    RECT paint = {10, 10, 200, 100}; // before the first present: the whole screen
    ASSERT_EQ(PresentScreenToWindow(&paint), 0);
    EXPECT_EQ(Record()->gdiCall, SCREEN_FLIP_GDI_SET_BITS);
    ScreenPixels frame = ReadScreen(), shot = WaitForDisplay(frame, 8);
    EXPECT_EQ(CountDifferences(frame, shot, 8), 0);
    EXPECT_GE(shot.At(80, 100) >> 16, 248u) << "0xF800 shows as red";
}

TEST_F(SoftFlip, GdiCallAndDestinationFollowTheScaleRate)
{
    const struct {
        double rate;
        int call;
        RECT destination;
    } cases[] = {{2.0, SCREEN_FLIP_GDI_STRETCH, {0, 0, 1280, 960}},
                 {1.5, SCREEN_FLIP_GDI_STRETCH, {0, 0, 960, 720}},
                 {1.0, SCREEN_FLIP_GDI_SET_BITS, {0, 0, 640, 480}}};
    for (const auto &c : cases) {
        SetWindowStretchRates(c.rate, c.rate);
        ASSERT_EQ(FlipScreen(), 0);
        EXPECT_EQ(Record()->gdiCall, c.call) << c.rate;
        EXPECT_TRUE(EqualRect(&Record()->gdiDestination, &c.destination)) << c.rate;
    }
}

TEST_F(SoftFlip, WaitsOnlyWhileTheWaitIsOnAndNeverForPaints)
{
    for (int wait : {0, 1, 0}) {
        SetWaitVerticalBlank(wait);
        int waits = Record()->pacedWaits;
        for (int i = 0; i < 5; i++) {
            EXPECT_EQ(FlipScreen(), 0);
        }
        EXPECT_EQ(Record()->pacedWaits - waits, 5 * wait);
    }
    SetWaitVerticalBlank(1);
    ExpectPaintPresentsWithoutTheWait();
}

} // namespace
