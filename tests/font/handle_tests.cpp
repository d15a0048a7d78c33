// Font handles on the Direct3D device in a 640x480 window: the table's limit, slots and check numbers, the
// creation rules, the texture cache sizes, the default-font switch the game makes, and every handle kept across a
// forced device rebuild. The allocation dump is empty once the engine has ended.
#include "font/font_internal.h"
#include "graphics/log_reading.h"
#include "graphics/screen_readback.h"

#include <string.h>

namespace
{

typedef EmptyDumpAtEnd<EngineScreenSuite<32, 1>> FontHandles;

int SlotOf(EngineHandle font)
{
    return font & HANDLE_INDEX_MASK;
}

EngineHandle MakePlainFont(void)
{
    return CreateFontToHandle(NULL, -1, -1, -1, -1, -1, 0, -1, -1);
}

TEST_F(FontHandles, FortyFitTheFortyFirstIsRefusedAndFreedSlotsAreTakenLowestFirst)
{
    std::vector<EngineHandle> fonts;
    for (EngineHandle font; (font = MakePlainFont()) != -1;) {
        fonts.push_back(font);
    }
    EXPECT_EQ(fonts.size() + 2, (size_t)FONT_HANDLE_LIMIT) << "the default font and the screen log's hold a slot each";
    EXPECT_NE(ReadLogText().find("作成できるフォントハンドル数 40 の限界を超えました"), std::string::npos);
    EXPECT_EQ(CreateFontToHandle(NULL, -1, -1, -1, -1, -1, 0, SlotOf(fonts[3]), -1), -1) << "a taken slot";
    DeleteFontHandle(fonts[20]);
    DeleteFontHandle(fonts[4]);
    EXPECT_EQ(IsLiveFontHandle(fonts[4]), 0);
    EngineHandle first = MakePlainFont(), second = MakePlainFont();
    EXPECT_EQ(SlotOf(first) * 100 + SlotOf(second), SlotOf(fonts[4]) * 100 + SlotOf(fonts[20]));
    fonts[4] = first, fonts[20] = second;
    for (EngineHandle font : fonts) {
        EXPECT_EQ(DeleteFontHandle(font), 0);
    }
}

TEST_F(FontHandles, TheCheckNumberOfThe2049thCreationIsZeroAndAnOlderHandleInItsSlotDies)
{
    TerminateFontSystem();
    InitFontSystem(); // the default font is creation 1, with check number 0
    EngineHandle second = -1, font = -1;
    for (int creation = 2; creation <= HANDLE_CHECK_LIMIT + 1; creation++) {
        DeleteFontHandle(font);
        font = MakePlainFont();
        ASSERT_NE(font, -1);
        second = creation == 2 ? font : second;
    }
    EXPECT_EQ(font & HANDLE_CHECK_MASK, 0);
    EXPECT_EQ(second & HANDLE_CHECK_MASK, 1 << HANDLE_CHECK_SHIFT);
    EXPECT_EQ(SlotOf(font), SlotOf(second));
    EXPECT_EQ(IsLiveFontHandle(second), 0);
    DeleteFontHandle(font);
}

TEST_F(FontHandles, CreationRulesAnEightBitScreenAndAnUnknownFace)
{
    EngineHandle edged = CreateFontToHandle(NULL, 20, -1, 0, -1, 2, 0, -1, -1);
    const FontRecord *record = GetFontRecord(edged);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->typeFlags, FONT_TYPE_EDGE);
    EXPECT_EQ(record->staging.width * (record->edgeGraph >= 0), 2 * record->cacheWidth) << "edges in the right half";
    EXPECT_EQ(record->staging.format.alphaMask, 0x8000u);
    SetScreenModeSettings(8, 0);
    EngineHandle bitmap = CreateFontToHandle(NULL, 20, -1, FONT_TYPE_ANTIALIAS, -1, -1, 0, -1, -1);
    SetScreenModeSettings(32, 0);
    EXPECT_EQ(GetFontRecord(bitmap)->typeFlags, 0);
    EngineHandle unknown = CreateFontToHandle("QvNoSuchFace", 30, 3, FONT_TYPE_ANTIALIAS, -1, -1, 0, -1, -1);
    char face[FONT_FACE_SIZE] = "";
    int size = 0, thickness = 0;
    ASSERT_EQ(QueryFontHandleState(face, &size, &thickness, unknown), 0);
    EXPECT_EQ(face + std::to_string(size * 10 + thickness), "QvNoSuchFace303");
    EXPECT_EQ(GetFontRecord(unknown)->staging.format.alphaMask, 0xF000u) << "A4R4G4B4 for anti-aliased fonts";
    EXPECT_EQ(CreateFontToHandle(NULL, 20000, -1, 1, -1, 8, 0, -1, -1), -1) << "a cache too large to make";
    for (EngineHandle font : {edged, bitmap, unknown}) {
        DeleteFontHandle(font);
    }
}

TEST(TextureCacheLayout, SidesAndEntriesFollowTheCellSize)
{
    const int cases[][4] = {{60, 512, 512, 64},   {200, 1024, 512, 10}, {256, 1024, 1024, 16},
                            {16, 512, 512, 1024}, {10, 512, 512, 2024}, {1 << 16, 0, 0, 0}};
    for (const auto &c : cases) {
        int width = 0, height = 0, count = 0;
        EXPECT_EQ(ComputeTextureCacheLayout(c[0], &width, &height, &count), c[3] != 0) << c[0];
        EXPECT_EQ(width * 10000000 + height * 10000 + count, c[1] * 10000000 + c[2] * 10000 + c[3]) << c[0];
    }
}

TEST(FontHeight, TheLeadingIsCorrectedOnlyWhenItIsBelowTheHeight)
{
    const int cases[][4] = {{16, 17, 1, 17},  {16, 20, 4, 20},  {16, 17, 0, 16},
                            {16, 17, 17, 16}, {16, 10, 12, 16}, {26, 30, 5, 31}};
    for (const auto &c : cases) { // size, tmHeight, internal leading, height asked for
        TEXTMETRICA metrics = {};
        metrics.tmHeight = c[1], metrics.tmInternalLeading = c[2];
        EXPECT_EQ(CorrectedFontHeight(c[0], &metrics), c[3]) << c[1] << " " << c[2];
    }
}

// The lost flag reads 1, the spacing is back, the caches are empty with live textures; the cache graph's own lost
// flag is the rebuild flag.
TEST_F(FontHandles, ARebuildKeepsEveryHandleWithItsSpacingAndEmptiesTheCaches)
{
    EngineHandle fonts[] = {GetStandardFontHandle(), CreateFontToHandle(NULL, 26, -1, 3, -1, 2, 0, -1, -1),
                            CreateFontToHandle(NULL, 12, -1, 0, -1, -1, 1, -1, -1)};
    SetFontSpacingToHandle(5, fonts[1]);
    int lost = -1;
    ASSERT_EQ(SetFontLostFlagPointer(fonts[2], &lost) * 10 + lost, 0);
    ASSERT_EQ(CacheStringGlyphs(-1, "あいう", fonts[1], NULL, NULL), 0);
    ASSERT_EQ(ReinitGraphicsKeepMode(), 0);
    EXPECT_EQ(lost, 1);
    for (EngineHandle font : fonts) {
        const FontRecord *record = GetFontRecord(font);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->ringPosition + record->entries[0].inUse + record->rebuildTexture, 0);
    }
    FontRecord *record = GetFontRecord(fonts[1]);
    EXPECT_EQ(record->spacing, 5);
    ReleaseGraphHandle(record->cacheGraph, 0);
    EXPECT_EQ(record->rebuildTexture, 1);
    EXPECT_EQ(RebuildGlyphTexture(fonts[1]) * 10 + record->rebuildTexture, 0);
    DeleteFontHandle(fonts[1]);
    DeleteFontHandle(fonts[2]);
}

TEST_F(FontHandles, TheDefaultFontSwitchesAsTheGameDoesAndIsKeptWhenNothingChanged)
{
    const int steps[][3] = {{16, 0, 0}, {26, 1, 1}, {26, 1, 0}, {16, 0, 1}, {16, 0, 0}}; // size, type, changes
    for (const auto &step : steps) {
        EngineHandle before = GetStandardFontHandle();
        SetDefaultFontType(step[1]);
        SetDefaultFontSize(step[0]);
        const FontRecord *record = GetFontRecord(GetStandardFontHandle());
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(GetStandardFontHandle() != before, step[2]) << step[0];
        EXPECT_EQ(record->size * 10 + record->typeFlags, step[0] * 10 + step[1]);
    }
    EngineHandle kept = GetStandardFontHandle();
    SetDefaultFontSizeThickness(NULL, -1, -1);
    char face[8];
    int size = 0, thickness = 0;
    EXPECT_EQ(QueryDefaultFontState(face, sizeof face, &size, &thickness), 0);
    EXPECT_EQ(GetStandardFontHandle() == kept && size == 16 && thickness == 6, true);
}

} // namespace
