// With no title set, the window class and the window title take the engine's default names.
#include <gtest/gtest.h>

#include "core/core.h"

TEST(DefaultTitle, EmptyTitleGivesTheDefaultClassAndTitle)
{
    ChangeWindowMode(1);
    ASSERT_EQ(InitEngine(), 0);
    HWND window = GetAppWindowHandle();
    EXPECT_EQ(FindWindowA("Q456210V", NULL), window);
    char title[64] = "";
    GetWindowTextA(window, title, sizeof(title));
    EXPECT_STREQ(title, "QvLib");
    char className[64] = "";
    GetClassNameA(window, className, sizeof(className));
    EXPECT_STREQ(className, "Q456210V");
    EXPECT_EQ(EndEngine(), 0);
    EXPECT_EQ(FindWindowA("Q456210V", NULL), (HWND)NULL);
}
