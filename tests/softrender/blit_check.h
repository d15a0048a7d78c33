// Test support of the software blits, shared by the blit tests and the blit fuzz target: a slow model written from
// the pixel rules alone, sharing nothing with the renderer's code (blit_reference.cpp), and a checking harness
// (blit_check.cpp) that builds sources and blend images whose pixels fill blocks of exactly their size (so that the
// address sanitizer sees a read past them) and destinations that are views inside a larger block whose margin holds
// a sentinel, and runs one engine call beside the model. Test threads only.
#pragma once

#include <stdint.h>
#include <string.h>

#include <functional>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "image/image.h"
#include "softrender/softrender.h"

// A copy of one software image view as the blits see it; a null or dead image gives a record with live false.
struct ModelImage {
    bool live = false;
    bool runTableCurrent = false; // the block's run table is valid and the view is its whole block
    int width = 0, height = 0;
    MemImgBlock block = {};       // a copy of the record (kind, flags, key); its pointers are not followed
    std::vector<uint32_t> pixels; // raw values row after row (16-bit with alpha: colour | alpha << 16 | byte 3)
    uint32_t palette[256] = {};

    uint32_t At(int x, int y) const
    {
        return pixels[(size_t)y * width + x];
    }
};
ModelImage CaptureImage(const MEMIMG *image);

// A source pixel's place; x < 0: none.
struct SourcePoint {
    int x, y;
};

enum BlitKind { BLIT_POINT, BLIT_STRETCHED, BLIT_ROTATED, BLIT_TRIANGLE, BLIT_QUAD };

struct BlitCall {
    BlitKind kind;
    int x = 0, y = 0;         // position of the point draw, centre of the rotated draw
    RECT rect = {0, 0, 0, 0}; // the stretched draw's rectangle
    float scale = 1.0f, angle = 0.0f;
    int transparent = 0;
    MEMIMG *source = nullptr, *blendImage = nullptr;
    MemImgTriangleVertex vertices[4] = {}; // the triangle's three, or the quad's four corners (x and y only)
    uint32_t color = 0;                    // the flat triangle's, drawn when the source is null
};

// The corners C0 (top-left), C1 (bottom-left), C2 (bottom-right), C3 (top-right) in 14.18 fixed point.
struct RotatedCorners {
    int64_t x[4], y[4];
};
RotatedCorners ModelRotatedCorners(int width, int height, int centerX, int centerY, float scale, float angle);
// Leaves `destination` as the call must leave it under the current draw settings (untouched when it is refused);
// the images are the copies given, not the call's own.
void ModelBlit(ModelImage &destination, const BlitCall &call, const ModelImage &source, const ModelImage *blendImage);

// The shapes' colour rules on one destination pixel: `color` plotted once onto `d` in the mode (16- or 32-bit),
// brightened by (c x b) >> 8; and the packed add or subtract of two pixels.
uint32_t ModelPixel(bool depth16, int mode, int p, uint32_t bright, uint32_t color, uint32_t d);
uint32_t ModelPacked(bool depth16, bool add, uint32_t d, uint32_t c);

// A software image that owns its record, a view into it when one is made, and the pixels the test supplied.
struct TestImage {
    MEMIMG image = {}, view = {};
    unsigned char *memory = nullptr;

    TestImage() = default;
    TestImage(const TestImage &) = delete;
    TestImage &operator=(const TestImage &) = delete;
    ~TestImage();
};

enum SourceForm { FORM_DIRECT, FORM_PALETTE, FORM_ALPHA };

// Random pixels of the form; about a third of them the key (or alpha 0, or alpha 255); the whole palette random
// while only some entries count as used. `current`: the run table is rebuilt as a whole-image transfer does.
void MakeSource(TestImage &out, std::mt19937 &rng, int kind, int form, int width, int height, bool current);
void MakeBlendImage(TestImage &out, std::mt19937 &rng, int width, int height, int bytesPerPixel = 1);
// `out.view`: random pixels inside a block with a sentinel margin and padded rows; the block's run table starts
// valid, so that a draw which forgets to mark it stale shows.
void MakeDestination(TestImage &out, std::mt19937 &rng, int kind, int width, int height, int alphaFlag = 0,
                     int paletteFlag = 0);
int Between(std::mt19937 &rng, int low, int high); // inclusive
// Draw settings of the mode, parameter and brightness (white or a random colour) with a random draw area, mostly
// inside the view, and random fade weights, a good share of them 0 or 255.
void RandomSettings(std::mt19937 &rng, int mode, int parameter, bool white, const MEMIMG &view);
// Writes the raw value `pixel(x, y)` into every pixel of a view.
void FillView(MEMIMG &image, const std::function<uint32_t(int x, int y)> &pixel);

// Runs the call on the engine and on the model. Empty when the engine left the model's pixels, nothing else in the
// block changed, the source and blend image kept their bytes, and a changed destination no longer claims a valid
// run table; else a description of the call and the first difference.
std::string CheckBlit(TestImage &destination, const BlitCall &call, bool *changed = nullptr);

// The shapes' loops share the blits' table of loop counters, named by kind first ("line 32 m2 x"); each sweep looks
// at the kinds it draws, and the blit sweep at every kind but the shapes'.
inline bool IsLeafOf(const char *name, std::initializer_list<const char *> kinds)
{
    for (const char *kind : kinds)
        if (strncmp(name, kind, strlen(kind)) == 0 && name[strlen(kind)] == ' ')
            return true;
    return false;
}
inline bool IsShapeLeaf(const char *name)
{
    return IsLeafOf(name, {"shape", "line", "circle", "triangle", "flat"});
}
