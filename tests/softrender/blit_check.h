// Checking harness of the blit tests and the blit fuzz target: builds sources and blend images whose pixels lie in
// blocks of exactly their size (so that the address sanitizer sees a read past them), destinations that are views
// inside a larger block whose margin holds a sentinel, and runs one engine call beside the model. Test threads only.
#pragma once

#include <functional>
#include <random>
#include <string>

#include "blit_reference.h"

// A software image that owns its record and, when the test supplied them, its pixels.
struct TestImage {
    MEMIMG image = {};
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
// Writes the raw value `pixel(x, y)` into every pixel of a view.
void FillView(MEMIMG &image, const std::function<uint32_t(int x, int y)> &pixel);
void MakeBlendImage(TestImage &out, std::mt19937 &rng, int width, int height, int bytesPerPixel = 1);

// A view of random pixels inside a block with a sentinel margin and padded rows; the block's run table starts
// valid, so that a draw which forgets to mark it stale shows.
struct Destination {
    TestImage block;
    MEMIMG view = {};
    ~Destination();
};
void MakeDestination(Destination &out, std::mt19937 &rng, int kind, int width, int height, int alphaFlag = 0,
                     int paletteFlag = 0);

enum BlitKind { BLIT_POINT, BLIT_STRETCHED, BLIT_ROTATED };

struct BlitCall {
    BlitKind kind = BLIT_POINT;
    MEMIMG *source = nullptr;
    MEMIMG *blendImage = nullptr;
    int transparent = 0;
    int x = 0, y = 0;         // position of the point draw, centre of the rotated draw
    RECT rect = {0, 0, 0, 0}; // the stretched draw's rectangle
    float scale = 1.0f, angle = 0.0f;
};
inline BlitCall MakeBlitCall(BlitKind kind, MEMIMG *source, MEMIMG *blendImage, int transparent)
{
    BlitCall call;
    call.kind = kind;
    call.source = source;
    call.blendImage = blendImage;
    call.transparent = transparent;
    return call;
}

// Runs the call under the current draw settings on the engine and on the model. Empty when the engine left the
// model's pixels, nothing outside the view changed, the source and blend image kept their bytes, and a changed
// destination no longer claims a valid run table; else a description of the call and the first difference.
std::string CheckBlit(Destination &destination, const BlitCall &call, bool *changed = nullptr);
std::string DescribeBlit(const Destination &destination, const BlitCall &call);
