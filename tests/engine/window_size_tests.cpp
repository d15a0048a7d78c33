// Window-size arithmetic: the resize drag that keeps the screen's aspect ratio or the fixed size, and the stretch
// rates as they are stored and reported.
#include <gtest/gtest.h>

#include "core/window_state.h"

namespace
{

const int kFrameWidth = 6, kFrameHeight = 25;

struct SizingCase {
    const char *what;
    int edge;
    int left, top, clientWidth, clientHeight; // the dragged rectangle, as its client size
    int desktopWidth, desktopHeight;
    int fixedSize;
    double rate;
    RECT expected; // window rectangle
    double expectedRate;
};

RECT WindowRect(int left, int top, int clientWidth, int clientHeight)
{
    RECT rect = {left, top, left + clientWidth + kFrameWidth, top + clientHeight + kFrameHeight};
    return rect;
}

} // namespace

TEST(WindowSize, ResizeDragFollowsTheRules)
{
    const SizingCase cases[] = {
        {"right edge to 800 gives 800x600 at 1.25", WMSZ_RIGHT, 100, 50, 800, 480, 1920, 1080, 0, 1.0,
         WindowRect(100, 50, 800, 600), 1.25},
        {"bottom edge leads by height", WMSZ_BOTTOM, 100, 50, 640, 720, 1920, 1080, 0, 1.0,
         WindowRect(100, 50, 960, 720), 1.5},
        {"bottom-left corner keeps top and right",
         WMSZ_BOTTOMLEFT,
         100,
         50,
         700,
         600,
         1920,
         1080,
         0,
         1.0,
         {100 + 700 - 800, 50, 100 + 700 + kFrameWidth, 50 + 600 + kFrameHeight},
         1.25},
        {"top-right corner, equal ratios: height leads, bottom and left stay",
         WMSZ_TOPRIGHT,
         100,
         50,
         800,
         600,
         1920,
         1080,
         0,
         1.0,
         {100, 50, 100 + 800 + kFrameWidth, 50 + 600 + kFrameHeight},
         1.25},
        {"top-left corner, width leads",
         WMSZ_TOPLEFT,
         100,
         50,
         960,
         500,
         1920,
         1080,
         0,
         1.0,
         {100, 50 + 500 - 720, 100 + 960 + kFrameWidth, 50 + 500 + kFrameHeight},
         1.5},
        {"a client wider than the desktop is cut to it first", WMSZ_RIGHT, 0, 0, 1500, 480, 1024, 768, 0, 1.0,
         WindowRect(0, 0, 1018, 1018 * 480 / 640), 1018.0 / 640.0},
        {"fixed size: a wider client is cut back on the dragged right side", WMSZ_RIGHT, 100, 50, 800, 480, 1920, 1080,
         1, 1.0, WindowRect(100, 50, 640, 480), 1.0},
        {"fixed size: top-left cut back on the left and top",
         WMSZ_TOPLEFT,
         100,
         50,
         700,
         500,
         1920,
         1080,
         1,
         1.0,
         {100 + 700 - 640, 50 + 500 - 480, 100 + 700 + kFrameWidth, 50 + 500 + kFrameHeight},
         1.0},
        {"fixed size at rate 2: a smaller client stays as dragged", WMSZ_BOTTOMRIGHT, 10, 10, 1000, 900, 1920, 1080, 1,
         2.0, WindowRect(10, 10, 1000, 900), 2.0},
    };
    for (const SizingCase &c : cases) {
        SizingInput sizing;
        sizing.edge = c.edge;
        sizing.rect = WindowRect(c.left, c.top, c.clientWidth, c.clientHeight);
        sizing.screenWidth = 640;
        sizing.screenHeight = 480;
        sizing.frameWidth = kFrameWidth;
        sizing.frameHeight = kFrameHeight;
        sizing.desktopWidth = c.desktopWidth;
        sizing.desktopHeight = c.desktopHeight;
        sizing.fixedSize = c.fixedSize;
        sizing.stretchRateX = sizing.stretchRateY = c.rate;
        ComputeSizingRect(&sizing);
        EXPECT_EQ(sizing.rect.left, c.expected.left) << c.what;
        EXPECT_EQ(sizing.rect.top, c.expected.top) << c.what;
        EXPECT_EQ(sizing.rect.right, c.expected.right) << c.what;
        EXPECT_EQ(sizing.rect.bottom, c.expected.bottom) << c.what;
        EXPECT_DOUBLE_EQ(sizing.stretchRateX, c.expectedRate) << c.what;
        EXPECT_DOUBLE_EQ(sizing.stretchRateY, c.expectedRate) << c.what;
    }
}

// Every free drag ends with a 4:3 client area and the sides that were not dragged where they were.
TEST(WindowSize, FreeDragsKeepTheAspectRatioAndTheFixedSides)
{
    const int edges[] = {WMSZ_LEFT,     WMSZ_RIGHT,  WMSZ_TOP,        WMSZ_TOPLEFT,
                         WMSZ_TOPRIGHT, WMSZ_BOTTOM, WMSZ_BOTTOMLEFT, WMSZ_BOTTOMRIGHT};
    for (int edge : edges) {
        for (int width = 100; width <= 1400; width += 97) {
            for (int height = 80; height <= 1000; height += 89) {
                SizingInput s = {};
                s.edge = edge;
                s.rect = WindowRect(200, 100, width, height);
                s.screenWidth = 640;
                s.screenHeight = 480;
                s.frameWidth = kFrameWidth;
                s.frameHeight = kFrameHeight;
                s.desktopWidth = 1280;
                s.desktopHeight = 1024;
                s.stretchRateX = s.stretchRateY = 1.0;
                const RECT before = s.rect;
                ComputeSizingRect(&s);
                int clientWidth = s.rect.right - s.rect.left - kFrameWidth;
                int clientHeight = s.rect.bottom - s.rect.top - kFrameHeight;
                SCOPED_TRACE(testing::Message() << "edge " << edge << " client " << width << "x" << height);
                EXPECT_TRUE(clientHeight == clientWidth * 480 / 640 || clientWidth == clientHeight * 640 / 480);
                EXPECT_DOUBLE_EQ(s.stretchRateX, s.stretchRateY);
                bool left = edge == WMSZ_LEFT || edge == WMSZ_TOPLEFT || edge == WMSZ_BOTTOMLEFT;
                bool top = edge == WMSZ_TOP || edge == WMSZ_TOPLEFT || edge == WMSZ_TOPRIGHT;
                EXPECT_EQ(left ? s.rect.right : s.rect.left, left ? before.right : before.left);
                EXPECT_EQ(top ? s.rect.bottom : s.rect.top, top ? before.bottom : before.top);
            }
        }
    }
}

TEST(WindowSize, StretchRatesAreStoredAsTheRulesSay)
{
    ChangeWindowMode(1); // no window yet: only the flag is stored
    const struct {
        double x, y, expectedX, expectedY;
    } cases[] = {{2.0, 0.0, 2.0, 2.0}, {0.0, 0.0, 1.0, 1.0}, {-1.0, 2.0, 1.0, 2.0}, {1.5, 1.25, 1.5, 1.25}};
    for (const auto &c : cases) {
        SetWindowStretchRates(c.x, c.y);
        double x = 0, y = 0;
        EXPECT_DOUBLE_EQ(GetWindowScaleRates(&x, &y), c.expectedX);
        EXPECT_DOUBLE_EQ(x, c.expectedX) << c.x << "," << c.y;
        EXPECT_DOUBLE_EQ(y, c.expectedY) << c.x << "," << c.y;
    }
    ChangeWindowMode(0);
    double x = 0, y = 0;
    GetWindowScaleRates(&x, &y);
    EXPECT_EQ(x, 1.0) << "full screen reports 1.0 whatever is stored";
    EXPECT_EQ(y, 1.0);
    ChangeWindowMode(1);
    SetWindowStretchRates(1.0, 1.0);
}
