// Masked drawing on the 32-bit device and software screen: drawn boxes reach the screen only where the mask buffer
// holds 0, checked against a model over random masks, boxes and draw areas; on the software screen also nested
// brackets, a graph target larger than the screen, the restore after a rebuild, refused calls and mask handles; on
// both, the mask use applied again when the window moves with the front screen as target.
#include "tests/graphics/screen_readback.h"

#include <random>

namespace
{

typedef EmptyDumpAtEnd<EngineScreenSuite<32, 0>> Masks;
template <typename Suite> struct MasksOnBothPaths : EmptyDumpAtEnd<Suite> {
};
TYPED_TEST_SUITE(MasksOnBothPaths, DeviceAndSoftware);

Pixels ReadImage(const MEMIMG *image)
{
    Pixels pixels;
    for (int y = 0; y < image->height; y++) {
        for (int x = 0; x < image->width; x++) {
            pixels.push_back(0xFFFFFF & *(const uint32_t *)(image->pixels + y * image->block->pitch + x * 4));
        }
    }
    return pixels;
}

int DrawBox(const RECT &r, uint32_t rgb)
{
    return DrawFilledBox(r.left, r.top, r.right, r.bottom, MakeScreenColor(rgb >> 16, rgb >> 8 & 0xFF, rgb & 0xFF));
}

RECT RandomRect(std::mt19937 &random, int width, int height)
{
    RECT r = {(LONG)(random() % (width + 40)) - 20, (LONG)(random() % (height + 40)) - 20, 0, 0};
    r.right = r.left + 1 + random() % width, r.bottom = r.top + 1 + random() % height;
    return r;
}

void ClearMask(void)
{
    int pitch = 0;
    unsigned char *mask = GetMaskBuffer(&pitch);
    memset(mask, 0, pitch * 480);
}

TEST_F(Masks, SetInUseWithoutAMaskScreenAndForeignHandlesAreRefused)
{
    SetDrawTarget(-2);
    EXPECT_EQ(SetMaskScreenInUse(1), -1);
    EXPECT_TRUE(GetDrawTarget() == -2 && g_DrawState.softwareTarget == GetSoftwareScreen() && !g_DrawState.maskInUse);
    EXPECT_EQ(CreateMaskScreen(0), 0);
    EXPECT_EQ(SetMaskScreenInUse(1), -1);

    EngineHandle mask = CreateMaskHandle(ENGINE_ALLOC(16));
    ASSERT_NE(mask, -1);
    // handle, result: another tag, a slot past the table, the live one, then the same one stale
    struct Row {
        EngineHandle handle;
        int result;
    } rows[] = {{(mask & ~0x78000000) | 0x08000000, -1}, {mask | 0x200, -1}, {-1, -1}, {mask, 0}, {mask, -1}};
    for (const Row &row : rows) {
        EXPECT_EQ(DeleteMask(row.handle), row.result) << std::hex << row.handle;
    }
    CreateMaskHandle(ENGINE_ALLOC(16)); // left for the graphics end to delete
}

TEST_F(Masks, NestedBracketsWriteBackOnlyAtTheOutermostEndAndRestoreKeepsTheUse)
{
    SetDrawTarget(-2);
    ASSERT_EQ(CreateMaskScreen(1), 0);
    ClearMask();
    DrawBox({0, 0, 640, 480}, 0x102030);
    const Pixels before = ReadImage(GetSoftwareScreen());
    ASSERT_EQ(SetMaskScreenInUse(1), 0);
    RECT outer = {10, 10, 200, 200};
    MaskDrawBegin(&outer);
    DrawBox({20, 20, 100, 100}, 0xFF0000); // brackets itself inside the outer pair
    EXPECT_TRUE(ReadImage(GetSoftwareScreen()) == before) << "the inner end wrote back";
    MaskDrawEnd(&outer);
    EXPECT_EQ(ReadImage(GetSoftwareScreen())[50 * 640 + 50], 0xFF0000u);

    ReleaseMaskScreen(); // as a device rebuild finds it: the use set, the objects gone, drawing on the screen
    EXPECT_EQ(DrawBox({0, 0, 8, 8}, 0x0000FF), 0);
    EXPECT_EQ(ReadImage(GetSoftwareScreen())[0], 0x0000FFu);
    EXPECT_EQ(RestoreMaskScreen(), 0);
    EXPECT_TRUE(IsMaskScreenInUse() && g_DrawState.maskInUse && g_DrawState.softwareTarget != GetSoftwareScreen());
    SetMaskScreenInUse(0);
    EXPECT_EQ(g_DrawState.softwareTarget, GetSoftwareScreen());
}

// A drawable graph larger than the screen as target: the write-back stops at the screen-sized mask.
TEST_F(Masks, AGraphTargetLargerThanTheScreenIsClippedToTheMask)
{
    g_GraphCreateSettings.drawable = 1;
    EngineHandle graph = MakeEmptyGraph(800, 600);
    g_GraphCreateSettings.drawable = 0;
    ASSERT_EQ(SetDrawTarget(graph), 0);
    ASSERT_EQ(CreateMaskScreen(1), 0);
    ClearMask();
    ASSERT_EQ(SetMaskScreenInUse(1), 0);
    EXPECT_EQ(DrawBox({0, 0, 800, 600}, 0x00FF00), 0);
    EXPECT_EQ(SetDrawTarget(-2), 0);
    SetMaskScreenInUse(0);
    Pixels drawn = ReadImage(&GetGraphRecord(graph)->view);
    EXPECT_TRUE(drawn[479 * 800 + 639] == 0x00FF00 && drawn[599 * 800 + 799] == 0);
    ReleaseGraphHandle(graph, 0);
}

// Random screen, mask bytes (about half 0), draw areas and boxes: each masked box changes exactly the pixels
// inside the box and the area whose mask byte is 0; an all-zero mask gives what an unmasked draw gives.
TYPED_TEST(MasksOnBothPaths, MaskedBoxesReachOnlyTheOpenPixels)
{
    std::mt19937 random(13);
    SetDrawTarget(-2);
    ASSERT_EQ(CreateMaskScreen(1), 0);
    int pitch = 0;
    unsigned char *mask = GetMaskBuffer(&pitch);
    ASSERT_TRUE(mask != nullptr && pitch >= 640);
    for (int pass = 0; pass < 6; pass++) {
        const int allOpen = pass == 0;
        if (pass == 3) { // the mask screen comes back with a rebuilt device (or fresh software screens)
            ASSERT_EQ(ReinitGraphicsKeepMode(), 0);
        }
        for (int i = 0; i < pitch * 480; i++) {
            mask[i] = allOpen ? 0 : (random() & 1) * (1 + random() % 255);
        }
        SetDrawClipArea(0, 0, 640, 480);
        DrawBox({0, 0, 640, 480}, random() & 0xFFFFFF);
        RECT area = RandomRect(random, 640, 480);
        SetDrawClipArea(area.left, area.top, area.right, area.bottom);
        RECT clip = g_DrawState.drawArea;
        Pixels model = ReadScreen().rgb, unmasked = model;
        for (int box = 0; box < 4; box++) {
            RECT r = RandomRect(random, 640, 480);
            uint32_t rgb = random() & 0xFFFFFF;
            ASSERT_EQ(SetMaskScreenInUse(1), 0);
            ASSERT_EQ(DrawBox(r, rgb), 0);
            ASSERT_EQ(SetMaskScreenInUse(0), 0);
            for (int y = std::max<int>(r.top, clip.top); y < std::min<int>(r.bottom, clip.bottom); y++) {
                for (int x = std::max<int>(r.left, clip.left); x < std::min<int>(r.right, clip.right); x++) {
                    unmasked[y * 640 + x] = rgb;
                    model[y * 640 + x] = mask[y * pitch + x] == 0 ? rgb : model[y * 640 + x];
                }
            }
        }
        EXPECT_TRUE(ReadScreen().rgb == model) << "pass " << pass;
        EXPECT_TRUE(!allOpen || model == unmasked);
    }
    SetDrawClipArea(0, 0, 640, 480);
}

// A window move with the front screen as target switches the mask use off and back on: a use the draw state had
// lost (the mask screen released and made again) is applied again. Another target is left as it is.
TYPED_TEST(MasksOnBothPaths, AWindowMoveAppliesTheMaskUseAgainOnTheFrontScreen)
{
    POINT origin = {0, 0};
    ClientToScreen(GetAppWindowHandle(), &origin);
    for (int target : {-2, -4}) {
        SetDrawTarget(target);
        ASSERT_TRUE(CreateMaskScreen(1) == 0 && SetMaskScreenInUse(1) == 0 && ReleaseMaskScreen() == 0);
        ASSERT_TRUE(CreateMaskScreen(1) == 0 && IsMaskScreenInUse() && !g_DrawState.maskInUse);
        EXPECT_EQ(OnWindowMoved(MAKELPARAM(origin.x, origin.y)), 0);
        EXPECT_EQ(g_DrawState.maskInUse, target == -4) << "target " << target;
        SetMaskScreenInUse(0);
    }
    SetDrawTarget(-2);
}

} // namespace
