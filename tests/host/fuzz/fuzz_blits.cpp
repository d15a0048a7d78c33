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

static float Scale(FuzzedDataProvider &in)
{
    const float special[] = {0.0f, NAN, INFINITY, -INFINITY, 1e-30f, 1.0f, -1.0f, 2.0f};
    return in.ConsumeBool() ? special[in.ConsumeIntegralInRange<int>(0, 7)]
                            : in.ConsumeFloatingPointInRange(-64.0f, 64.0f);
}

static void TakeSettings(FuzzedDataProvider &in, std::mt19937 &rng)
{
    MemImgDrawSettings &s = g_MemImgDrawSettings;
    s.blendMode = in.ConsumeIntegralInRange<int>(-2, 13);
    s.blendParameter = in.ConsumeIntegral<uint8_t>();
    s.brightness = in.ConsumeBool() ? 0xFFFFFF : in.ConsumeIntegral<uint32_t>();
    int x1 = in.ConsumeIntegralInRange<int>(-4, 28), x2 = in.ConsumeIntegralInRange<int>(-4, 28);
    int y1 = in.ConsumeIntegralInRange<int>(-4, 28), y2 = in.ConsumeIntegralInRange<int>(-4, 28);
    s.drawArea = RECT{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
    for (uint8_t &weight : g_BlendTables.fadeRamp)
        weight = (uint8_t)rng();
}

static void Check(TestImage &destination, const BlitCall &call)
{
    std::string failure = CheckBlit(destination, call);
    if (!failure.empty()) {
        fprintf(stderr, "%s\n", failure.c_str());
        abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int tables = InitMemImgTables();
    (void)tables;
    FuzzedDataProvider in(data, size);
    std::mt19937 rng(in.ConsumeIntegral<uint32_t>());
    int kind = in.ConsumeIntegralInRange<int>(0, 1), form = in.ConsumeIntegralInRange<int>(FORM_DIRECT, FORM_ALPHA);
    int width = in.ConsumeIntegralInRange<int>(1, 12), height = in.ConsumeIntegralInRange<int>(1, 12);
    TestImage source, blend, destination;
    MakeSource(source, rng, kind, form, width, height, in.ConsumeBool());
    bool withBlend = in.ConsumeBool();
    if (withBlend) {
        MakeBlendImage(blend, rng, std::max(1, width + in.ConsumeIntegralInRange<int>(-1, 2)),
                       std::max(1, height + in.ConsumeIntegralInRange<int>(-1, 2)),
                       in.ConsumeIntegralInRange<int>(1, 2));
    }
    int destinationKind = in.ConsumeIntegralInRange<int>(0, 8) == 0 ? 1 - kind : kind;
    MakeDestination(destination, rng, destinationKind, in.ConsumeIntegralInRange<int>(1, 24),
                    in.ConsumeIntegralInRange<int>(1, 24), in.ConsumeIntegralInRange<int>(0, 8) == 0);
    TakeSettings(in, rng);
    BlitCall call{BLIT_POINT, Coordinate(in), Coordinate(in)};
    call.transparent = in.ConsumeIntegralInRange<int>(0, 2);
    call.source = &source.image;
    call.blendImage = withBlend ? &blend.image : nullptr;
    Check(destination, call);
    call.kind = BLIT_STRETCHED;
    call.rect = RECT{Coordinate(in), Coordinate(in), Coordinate(in), Coordinate(in)};
    Check(destination, call);
    call.kind = BLIT_ROTATED;
    call.x = Coordinate(in);
    call.y = Coordinate(in);
    call.scale = Scale(in);
    call.angle = in.ConsumeIntegralInRange<int>(0, 15) == 0 ? NAN : in.ConsumeFloatingPointInRange(-10.0f, 10.0f);
    Check(destination, call);
    return 0;
}
