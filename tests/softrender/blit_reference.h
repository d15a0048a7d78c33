// Slow model of the software blits, written from the pixel rules alone: for each draw kind it computes, pixel by
// pixel, the destination a draw must leave, from copies of the images and of the draw settings. It shares nothing
// with the renderer's own code. Test threads only.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <vector>

#include "image/image.h"

// A copy of one software image view as the blits see it.
struct ModelImage {
    bool live = false;
    int width = 0, height = 0;
    int kind = 0, paletteFlag = 0, alphaFlag = 0, bytesPerPixel = 0;
    uint32_t transparentValue = 0;
    bool runTableCurrent = false; // the block's run table is valid and the view is its whole block
    std::vector<uint32_t> pixels; // raw values row after row (16-bit with alpha: colour | alpha << 16 | byte 3)
    uint32_t palette[256] = {};

    uint32_t &At(int x, int y)
    {
        return pixels[(size_t)y * width + x];
    }
    uint32_t At(int x, int y) const
    {
        return pixels[(size_t)y * width + x];
    }
};

// The draw settings and the fade ramp that the blits read.
struct ModelSettings {
    int mode = 0, parameter = 0;
    uint32_t brightness = 0xFFFFFF;
    RECT area = {0, 0, 0, 0};
    uint8_t fade[256] = {};
};

ModelImage CaptureImage(const MEMIMG *image); // a null or dead image gives a record with live false
ModelSettings CaptureSettings(void);

// The four corners C0 (top-left), C1 (bottom-left), C2 (bottom-right), C3 (top-right) in 14.18 fixed point.
struct RotatedCorners {
    int64_t x[4], y[4];
};
RotatedCorners ModelRotatedCorners(int width, int height, int centerX, int centerY, float scale, float angle);

// Each leaves `destination` as the matching engine call must leave it (untouched when the call is refused).
void ModelDrawImage(ModelImage &destination, const ModelImage &source, int x, int y, int transparent,
                    const ModelImage *blendImage, const ModelSettings &settings);
void ModelDrawStretchedImage(ModelImage &destination, const ModelImage &source, RECT rect, int transparent,
                             const ModelImage *blendImage, const ModelSettings &settings);
void ModelDrawRotatedImage(ModelImage &destination, const ModelImage &source, int centerX, int centerY, float scale,
                           float angle, int transparent, const ModelImage *blendImage, const ModelSettings &settings);
