// libFuzzer target of the software shapes: the input chooses a destination (16- or 32-bit, now and then palettised,
// alpha-flagged or of another kind), the draw settings and a list of pixels, boxes, lines, circles, flat and textured
// triangles and quads, placed near the view or anywhere; after each draw nothing outside the draw area and the view has
// changed (nothing at all where the call must be refused) and the source and blend image kept their bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include "blit_check.h"

static int Coordinate(FuzzedDataProvider &in, int extent)
{
    int pick = in.ConsumeIntegralInRange<int>(0, 7);
    return pick == 0 ? in.ConsumeIntegral<int>() : in.ConsumeIntegralInRange<int>(pick == 1 ? -9000 : -8, extent + 8);
}

static std::vector<unsigned char> Bytes(const MEMIMG *image)
{
    return image ? std::vector<unsigned char>(image->block->pixels,
                                              image->block->pixels + (size_t)image->block->pitch * image->block->height)
                 : std::vector<unsigned char>();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    [[maybe_unused]] static int tables = InitMemImgTables();
    FuzzedDataProvider in(data, size);
    std::mt19937 rng(in.ConsumeIntegral<uint32_t>());
    // pick: 0 a destination of another kind, 1 a palettised one, 2 an alpha-flagged one, else a plain one.
    int kind = in.ConsumeIntegralInRange<int>(0, 1), pick = in.ConsumeIntegralInRange<int>(0, 15);
    int width = in.ConsumeIntegralInRange<int>(1, 24), height = in.ConsumeIntegralInRange<int>(1, 24);
    int sourceWidth = in.ConsumeIntegralInRange<int>(1, 12), sourceHeight = in.ConsumeIntegralInRange<int>(1, 12);
    int blendBytes = in.ConsumeIntegralInRange<int>(0, 2), extent = std::max(width, height);
    TestImage destination, source, blend;
    MakeDestination(destination, rng, pick == 0 ? 2 + (int)(rng() % 2) : kind, width, height, pick == 2, pick == 1);
    MakeSource(source, rng, in.ConsumeIntegralInRange<int>(0, 8) ? kind : 1 - kind,
               in.ConsumeIntegralInRange<int>(FORM_DIRECT, FORM_ALPHA), sourceWidth, sourceHeight, in.ConsumeBool());
    if (blendBytes) // now and then a row or column short of the source
        MakeBlendImage(blend, rng, std::max(1, sourceWidth + in.ConsumeIntegralInRange<int>(-1, 2)),
                       std::max(1, sourceHeight + in.ConsumeIntegralInRange<int>(-1, 2)), blendBytes);
    int mode = in.ConsumeIntegralInRange<int>(-2, 13), transparent = in.ConsumeIntegralInRange<int>(0, 2);
    RandomSettings(rng, mode, in.ConsumeIntegral<uint8_t>(), in.ConsumeBool(), destination.view);
    RECT &area = g_MemImgDrawSettings.drawArea; // may reach past the view, which clips it
    int x1 = in.ConsumeIntegralInRange<int>(-4, 28), x2 = in.ConsumeIntegralInRange<int>(-4, 28);
    int y1 = in.ConsumeIntegralInRange<int>(-4, 28), y2 = in.ConsumeIntegralInRange<int>(-4, 28);
    area = RECT{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
    MEMIMG *view = &destination.view, *blendImage = blendBytes ? &blend.image : nullptr;
    const std::vector<unsigned char> sourceBefore = Bytes(&source.image), blendBefore = Bytes(blendImage);
    const int bytes = view->block->format->bytesPerPixel, left = std::clamp((int)area.left, 0, width) * bytes;
    const int right = std::clamp((int)area.right, 0, width) * bytes, offset = (int)(view->pixels - view->block->pixels);
    for (int count = 0; count < 16 && in.remaining_bytes() > 0; count++) {
        int shape = in.ConsumeIntegralInRange<int>(0, 6), p[4][2];
        uint32_t color = in.ConsumeIntegral<uint32_t>();
        for (auto &point : p)
            point[0] = Coordinate(in, extent), point[1] = Coordinate(in, extent);
        MemImgTriangleVertex v[3];
        for (int k = 0; k < 3; k++)
            v[k] = {p[k][0], p[k][1], Coordinate(in, sourceWidth), Coordinate(in, sourceHeight)};
        int radius = in.ConsumeIntegralInRange<int>(0, 1000000000) >> (in.ConsumeIntegralInRange<int>(0, 7) ? 24 : 0);
        RECT box = {p[0][0], p[0][1], p[1][0], p[1][1]};
        std::vector<unsigned char> want = Bytes(view);
        const std::function<void()> draws[] = {
            [&] { MemImgDrawPixel(view, p[0][0], p[0][1], color); },
            [&] { MemImgFillBox(view, &box, color); },
            [&] { MemImgDrawLine(view, p[0][0], p[0][1], p[1][0], p[1][1], color); },
            [&] { MemImgDrawCircle(view, p[0][0], p[0][1], radius, color, in.ConsumeBool()); },
            [&] { MemImgDrawTriangle(view, nullptr, v, transparent, blendImage, color); },
            [&] { MemImgDrawTriangle(view, &source.image, v, transparent, blendImage, 0); },
            [&] { MemImgDrawQuadImage(view, &source.image, p, transparent, blendImage); }};
        draws[shape]();
        const std::vector<unsigned char> now = Bytes(view); // `want`: the draw area's bytes in the view may change
        bool refused = pick <= 1 || (unsigned)mode > 11 || (mode >= 5 && mode <= 9) ||
                       (shape >= 5 && source.image.block->kind != view->block->kind);
        for (int y = std::max(0, (int)area.top); !refused && y < std::min(height, (int)area.bottom); y++)
            std::copy_n(&now[offset + y * view->block->pitch + left], right - left,
                        &want[offset + y * view->block->pitch + left]);
        if (now != want || Bytes(&source.image) != sourceBefore || Bytes(blendImage) != blendBefore) {
            fprintf(stderr, "shape %d, mode %d: bytes outside the draw area or of the source changed\n", shape, mode);
            abort();
        }
    }
    return 0;
}
