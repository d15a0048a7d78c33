// Test helpers for the screen's pixels: the whole draw screen read back through LockDrawScreen as 0xRRGGBB words
// (each channel widened to 8 bits the way the screen format's bits give it), and a start of the engine in a
// 640x480 window for the programs that draw on the real device.
#pragma once

#include "graphics/graphics_test_hooks.h"

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
// Channel value of an n-bit field widened to 8 bits as the screen read-back gives it (value x 255 / (2^n - 1)).
uint32_t WidenChannel(uint32_t value, int bits);
// Starts the engine in a 640x480 window with the given title and screen depth; 0 on success.
int StartEngineWindow(const char *title, int colorBits, int useDirect3D);
