// Differential sweep of the software blits: every combination of depth, source form, blend mode, blend image,
// brightness, transparency and parameter, for the point draw (regular loops and run walk), the stretched draw and
// the rotated draw, on small random images and geometry, compared pixel by pixel with the model; at the end every
// row loop of the renderer must have been reached.
#include "blit_test_fixture.h"

#include "softrender/softrender_test_hooks.h"

#include <algorithm>

namespace
{

enum SweepPath { SWEEP_POINT_REGULAR, SWEEP_POINT_RUN, SWEEP_STRETCHED, SWEEP_ROTATED, SWEEP_PATHS };

struct Trial {
    SweepPath path;
    int kind, form, mode, parameter, transparent;
    bool blend, white;
};

int Between(std::mt19937 &rng, int low, int high)
{
    return low + (int)(rng() % (uint32_t)(high - low + 1));
}

// Mostly 1 to 9 pixels (pair and four-pixel tails), now and then long enough for several runs in a row.
int SourceSide(std::mt19937 &rng, int longest)
{
    return rng() % 16 == 0 ? Between(rng, 10, longest) : Between(rng, 1, 9);
}

void RandomSettings(std::mt19937 &rng, const Trial &t, int viewWidth, int viewHeight)
{
    MemImgDrawSettings &s = g_MemImgDrawSettings;
    s.blendMode = t.mode;
    s.blendParameter = t.parameter;
    uint32_t colour = t.white ? 0xFFFFFF : rng() % 0xFFFFFF;
    s.brightness = (rng() % 4 == 0 ? rng() & 0xFF000000 : 0) | colour; // only the low 24 bits count
    if (rng() % 10 == 0) {                                             // an area reaching past the destination
        s.drawArea = RECT{-Between(rng, 0, 3), -Between(rng, 0, 3), viewWidth + Between(rng, 0, 3),
                          viewHeight + Between(rng, 0, 3)};
    } else {
        int left = Between(rng, 0, viewWidth / 3), top = Between(rng, 0, viewHeight / 3);
        s.drawArea = RECT{left, top, Between(rng, left + 1, viewWidth), Between(rng, top + 1, viewHeight)};
    }
    for (uint8_t &weight : g_BlendTables.fadeRamp) {
        uint32_t pick = rng() % 4;
        weight = (uint8_t)(pick == 0 ? 0 : pick == 1 ? 255 : rng());
    }
}

// Holds the images of one trial; the source is a whole image, a cell of a sheet or an image with a stale table.
struct TrialImages {
    TestImage sheet, cell, blend;
    Destination destination;
    MEMIMG *source = nullptr;
};

void MakeTrialSource(TrialImages &images, std::mt19937 &rng, const Trial &t, int width, int height)
{
    bool cell = t.path == SWEEP_POINT_REGULAR && rng() % 3 == 0;
    bool current = t.path != SWEEP_POINT_REGULAR || rng() % 3 != 0;
    int across = cell ? Between(rng, 1, 2) : 0, down = cell ? Between(rng, 0, 1) : 0;
    MakeSource(images.sheet, rng, t.kind, t.form, width + across * 2, height + down, current);
    images.source = &images.sheet.image;
    if (cell) {
        DeriveMemImg(&images.cell.image, &images.sheet.image, across, down, width, height);
        images.source = &images.cell.image;
    }
    if (t.blend)
        MakeBlendImage(images.blend, rng, width + Between(rng, 0, 2), height + Between(rng, 0, 2));
}

BlitCall PointCall(std::mt19937 &rng, const Trial &t, TrialImages &images, int width, int height)
{
    int viewWidth = width + Between(rng, 2, 5), viewHeight = height + Between(rng, 2, 4);
    MakeDestination(images.destination, rng, t.kind, viewWidth, viewHeight);
    RandomSettings(rng, t, viewWidth, viewHeight);
    BlitCall call = MakeBlitCall(BLIT_POINT, images.source, t.blend ? &images.blend.image : nullptr, t.transparent);
    RECT &area = g_MemImgDrawSettings.drawArea;
    if (t.path == SWEEP_POINT_RUN) { // wholly inside the area
        call.x = Between(rng, 0, viewWidth - width);
        call.y = Between(rng, 0, viewHeight - height);
        area = RECT{Between(rng, 0, call.x), Between(rng, 0, call.y), Between(rng, call.x + width, viewWidth),
                    Between(rng, call.y + height, viewHeight)};
    } else {
        call.x = Between(rng, -width, viewWidth);
        call.y = Between(rng, -height, viewHeight);
    }
    return call;
}

BlitCall StretchedCall(std::mt19937 &rng, const Trial &t, TrialImages &images, int width, int height)
{
    MakeDestination(images.destination, rng, t.kind, Between(rng, 12, 24), Between(rng, 10, 18));
    const MEMIMG &view = images.destination.view;
    RandomSettings(rng, t, view.width, view.height);
    BlitCall call = MakeBlitCall(BLIT_STRETCHED, images.source, t.blend ? &images.blend.image : nullptr, t.transparent);
    int across = rng() % 8 == 0 ? width : Between(rng, 1, 3 * width + 2);
    int down = rng() % 8 == 0 ? height : Between(rng, 1, 3 * height + 2);
    int left = Between(rng, -across / 2 - 1, view.width - across / 2), top = Between(rng, -down / 2 - 1, view.height);
    call.rect = RECT{left, top, left + across, top + down};
    if (rng() % 2)
        std::swap(call.rect.left, call.rect.right);
    if (rng() % 2)
        std::swap(call.rect.top, call.rect.bottom);
    return call;
}

BlitCall RotatedCall(std::mt19937 &rng, const Trial &t, TrialImages &images)
{
    MakeDestination(images.destination, rng, t.kind, Between(rng, 12, 24), Between(rng, 10, 18));
    const MEMIMG &view = images.destination.view;
    RandomSettings(rng, t, view.width, view.height);
    BlitCall call = MakeBlitCall(BLIT_ROTATED, images.source, t.blend ? &images.blend.image : nullptr, t.transparent);
    uint32_t where = rng() % 10;
    call.x = where < 7 ? Between(rng, 0, view.width) : where < 9 ? Between(rng, -12, view.width + 12) : -300;
    call.y = where < 7 ? Between(rng, 0, view.height) : where < 9 ? Between(rng, -12, view.height + 12) : 8191;
    call.angle = std::uniform_real_distribution<float>(-7.0f, 7.0f)(rng);
    call.scale = std::uniform_real_distribution<float>(0.25f, 3.0f)(rng) * (rng() % 8 == 0 ? -1.0f : 1.0f);
    if (rng() % 16 == 0)
        call.angle = 1.57079637f * (float)Between(rng, -4, 4); // whole quarter turns
    return call;
}

struct SweepCounts {
    int draws[SWEEP_PATHS] = {}, changed[SWEEP_PATHS] = {}, failures = 0;
};

void RunTrial(std::mt19937 &rng, const Trial &t, SweepCounts &counts)
{
    TrialImages images;
    int width = SourceSide(rng, t.path == SWEEP_POINT_RUN || t.path == SWEEP_POINT_REGULAR ? 70 : 20);
    int height = SourceSide(rng, 12);
    MakeTrialSource(images, rng, t, width, height);
    BlitCall call = t.path == SWEEP_STRETCHED ? StretchedCall(rng, t, images, width, height)
                    : t.path == SWEEP_ROTATED ? RotatedCall(rng, t, images)
                                              : PointCall(rng, t, images, width, height);
    bool changed = false;
    std::string failure = CheckBlit(images.destination, call, &changed);
    counts.draws[t.path]++;
    counts.changed[t.path] += changed;
    if (!failure.empty() && ++counts.failures <= 10)
        ADD_FAILURE() << failure;
}

TEST_F(BlitTest, EveryDrawMatchesTheModelAndReachesEveryLoop)
{
    const int modes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, -1};
    const int parameters[] = {0, 1, 127, 128, 129, 254, 255, -1}; // -1: a random one
    std::mt19937 rng(20261207);
    ResetBlitLeafCounts();
    SweepCounts counts;
    for (int path = 0; path < SWEEP_PATHS; path++) {
        for (int kind = 0; kind < 2; kind++) {
            for (int form = FORM_DIRECT; form <= FORM_ALPHA; form++) {
                for (int mode : modes) {
                    // three draws of each, on other images and geometry
                    for (int combination = 0; combination < 2 * 2 * 3 * 8 * 3; combination++) {
                        int p = parameters[combination % 8];
                        Trial t = {(SweepPath)path,
                                   kind,
                                   form,
                                   mode,
                                   p < 0 ? (int)(rng() % 256) : p,
                                   combination / 8 % 3,
                                   combination / 24 % 2 != 0,
                                   combination / 48 % 2 != 0};
                        RunTrial(rng, t, counts);
                    }
                }
            }
        }
    }
    EXPECT_EQ(counts.failures, 0);
    for (int path = 0; path < SWEEP_PATHS; path++) {
        EXPECT_GT(counts.changed[path], counts.draws[path] / 8) << "path " << path << " drew too little to count";
    }
    const BlitLeafCount *leaves = nullptr;
    int count = GetBlitLeafCounts(&leaves);
    std::string unreached;
    for (int i = 0; i < count; i++) {
        if (leaves[i].calls == 0)
            unreached += std::string(leaves[i].name) + "\n";
    }
    EXPECT_EQ(unreached, "") << "row loops the sweep never reached";
}

} // namespace
