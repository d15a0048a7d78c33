// The fixture of the blit tests: blend tables filled, draw settings reset to a plain draw, and every test gives
// back all the engine memory it took (the blits allocate nothing).
#pragma once

#include <gtest/gtest.h>

#include "blit_check.h"
#include "softrender/softrender.h"

class BlitTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        InitMemImgTables();
        g_MemImgDrawSettings = MemImgDrawSettings{};
        g_MemImgDrawSettings.brightness = 0xFFFFFF;
        allocationsAtStart = GetAllocationCount();
    }
    void TearDown() override
    {
        EXPECT_EQ(GetAllocationCount(), allocationsAtStart) << "the test left engine blocks behind";
    }
    int allocationsAtStart = 0;
};
