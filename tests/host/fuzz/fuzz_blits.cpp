// libFuzzer target of the software blits: the input chooses the images' forms and sizes, the draw settings and the
// geometry of one point, one stretched and one rotated draw on small random images; each draw must leave exactly
// what the slow model leaves, touch nothing outside its view and read nothing outside its images.
#include <fuzzer/FuzzedDataProvider.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include "blit_check.h"

// The turned rotated draw's quad drawer is not part of this target.
void MemImgDrawQuadImage(MEMIMG *, MEMIMG *, const int (*)[2], int, MEMIMG *)
{
}

static int Coordinate(FuzzedDataProvider &in)
{
    return in.ConsumeBool() ? in.ConsumeIntegral<int>() : in.ConsumeIntegralInRange<int>(-40, 40);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int tables = InitMemImgTables();
    (void)tables;
    FuzzedDataProvider in(data, size);
    std::mt19937 rng(in.ConsumeIntegral<uint32_t>());
    int kind = in.ConsumeIntegralInRange<int>(0, 1), width = in.ConsumeIntegralInRange<int>(1, 12);
    int height = in.ConsumeIntegralInRange<int>(1, 12), blendBytes = in.ConsumeIntegralInRange<int>(0, 2);
    TestImage source, blend, destination;
    MakeSource(source, rng, kind, in.ConsumeIntegralInRange<int>(FORM_DIRECT, FORM_ALPHA), width, height,
               in.ConsumeBool());
    if (blendBytes) {
        MakeBlendImage(blend, rng, std::max(1, width + in.ConsumeIntegralInRange<int>(-1, 2)),
                       std::max(1, height + in.ConsumeIntegralInRange<int>(-1, 2)), blendBytes);
    }
    MakeDestination(destination, rng, in.ConsumeIntegralInRange<int>(0, 8) ? kind : 1 - kind,
                    in.ConsumeIntegralInRange<int>(1, 24), in.ConsumeIntegralInRange<int>(1, 24),
                    in.ConsumeIntegralInRange<int>(0, 8) == 0);
    int mode = in.ConsumeIntegralInRange<int>(-2, 13);
    RandomSettings(rng, mode, in.ConsumeIntegral<uint8_t>(), in.ConsumeBool(), destination.view);
    int x1 = in.ConsumeIntegralInRange<int>(-4, 28), x2 = in.ConsumeIntegralInRange<int>(-4, 28);
    int y1 = in.ConsumeIntegralInRange<int>(-4, 28), y2 = in.ConsumeIntegralInRange<int>(-4, 28);
    g_MemImgDrawSettings.drawArea = RECT{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
    const float specialScales[] = {0.0f, NAN, INFINITY, -INFINITY, 1e-30f, 1.0f, -1.0f, 2.0f};
    BlitCall calls[3] = {{BLIT_POINT, Coordinate(in), Coordinate(in)},
                         {BLIT_STRETCHED, 0, 0, {Coordinate(in), Coordinate(in), Coordinate(in), Coordinate(in)}},
                         {BLIT_ROTATED,
                          Coordinate(in),
                          Coordinate(in),
                          {},
                          in.ConsumeBool() ? specialScales[in.ConsumeIntegralInRange<int>(0, 7)]
                                           : in.ConsumeFloatingPointInRange(-64.0f, 64.0f),
                          in.ConsumeIntegralInRange<int>(0, 15) ? in.ConsumeFloatingPointInRange(-10.0f, 10.0f) : NAN}};
    int transparent = in.ConsumeIntegralInRange<int>(0, 2);
    for (BlitCall &call : calls) {
        call.transparent = transparent;
        call.source = &source.image;
        call.blendImage = blendBytes ? &blend.image : nullptr;
        std::string failure = CheckBlit(destination, call);
        if (!failure.empty()) {
            fprintf(stderr, "%s\n", failure.c_str());
            abort();
        }
    }
    return 0;
}
