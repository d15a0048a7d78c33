// Test helpers for the screen's pixels: the whole draw screen read back through LockDrawScreen as 0xRRGGBB words
// (each channel widened to 8 bits), the client area as the display shows it, and a start of the engine in a
// 640x480 window.
#pragma once

#include "graphics/graphics_test_hooks.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <vector>

struct ScreenPixels {
    int width, height;
    std::vector<uint32_t> rgb; // row after row, 0xRRGGBB
    uint32_t At(int x, int y) const
    {
        return rgb[(size_t)y * width + x];
    }
};

// The whole screen (the current draw target), or an empty record when the lock is refused.
ScreenPixels ReadScreen(void);
// A rectangle of a screen or graph (target -1: the draw target) through the lock; empty when it is refused.
ScreenPixels ReadLockedRect(int target, int x1, int y1, int x2, int y2);
// The window's 640x480 client area as the display shows it (a screenshot through the screen's DC).
ScreenPixels CaptureClientFromDisplay(void);
// The client area once it shows `frame` (the display may take a moment to receive a GDI present), or as it
// shows after ten seconds.
ScreenPixels WaitForDisplay(const ScreenPixels &frame, int tolerance);
// Pixels whose channels differ by more than `tolerance`; -1 when the sizes differ or nothing was read.
int CountDifferences(const ScreenPixels &a, const ScreenPixels &b, int tolerance);
// Paints the window once the echo interval of the last present has passed: one present, no paced wait, the wait
// setting kept.
void ExpectPaintPresentsWithoutTheWait(void);
// Starts the engine in a 640x480 window at the given screen depth (on the device or the software screen); 0 on
// success.
int StartEngineWindow(int colorBits, int useDirect3D);
// An empty graph, made as a draw target when `drawable` is 1.
EngineHandle MakeGraph(int width, int height, int drawable);

// A test suite that shares one engine, started before its first test and ended after its last.
template <int ColorBits, int UseDirect3D> class EngineScreenSuite : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(StartEngineWindow(ColorBits, UseDirect3D), 0);
        ASSERT_EQ(IsDeviceMode(), UseDirect3D);
        SetDrawTarget(-2);
    }
    static void TearDownTestSuite()
    {
        EndEngine();
    }
};

typedef std::vector<uint32_t> Pixels; // 0xRRGGBB, row after row

// A suite that also checks, after the engine has ended, that no tracked block was left behind.
template <typename Suite> struct EmptyDumpAtEnd : Suite {
    static void TearDownTestSuite()
    {
        Suite::TearDownTestSuite();
        EXPECT_EQ(GetAllocationCount(), 0) << "the allocation dump is empty";
    }
};
typedef ::testing::Types<EngineScreenSuite<32, 1>, EngineScreenSuite<32, 0>> DeviceAndSoftware;
