// The graph handle table: allocation against a slow model of its rules over random churn and a filled table,
// refusal of every kind of wrong handle, lost flags, release-all before and after graphics start, images and
// restore sources shared by graphs until the last goes, the fatal full table, and the format index over its
// descriptor bytes. Each test ends with as many tracked blocks as it began with.
#include <gtest/gtest.h>

#include "graphics/graphics_test_hooks.h"
#include "graphics/log_reading.h"

#include <random>
#include <set>
#include <vector>

// The table's rules kept the slow way: the used end read off the top of the used set, else the lowest free slot
// found by walking up from 0; the check numbers counted on from the first allocation's (earlier tests moved it).
struct GraphTableModel {
    std::set<int> used;
    int check = -1;
    EngineHandle Alloc(EngineHandle actual)
    {
        int slot = used.empty() ? 0 : *used.rbegin() + 1;
        if (slot == GRAPH_SLOT_COUNT) {
            for (slot = 0; used.count(slot); slot++) {
            }
        }
        check = (check < 0 ? (actual >> 16 & 0x7FF) : check + 1) % 2048;
        used.insert(slot);
        return 0x08000000 | check << 16 | slot;
    }
};

// Random allocations and releases, each handle and the used end checked against the model; every allocation's
// check number is the model's, so the 2049th of a row takes the first's again.
TEST(GraphTable, AllocationFollowsTheSlotUsedEndAndCheckNumberRules)
{
    const int blocks = GetAllocationCount();
    struct Row {
        const char *name;
        int fillFirst, operations, allocPercent;
    } rows[] = {{"churn below the end", 0, 6000, 55}, {"full table", 1, 6000, 50}};
    std::mt19937 random(12);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        GraphTableModel model;
        std::vector<EngineHandle> live;
        for (int i = 0; i < row.operations + (row.fillFirst ? GRAPH_SLOT_COUNT : 0) && !HasFailure(); i++) {
            bool filling = row.fillFirst && i < GRAPH_SLOT_COUNT, full = live.size() == GRAPH_SLOT_COUNT;
            if (filling || live.empty() || (!full && (int)(random() % 100) < row.allocPercent)) {
                live.push_back(AllocGraphHandle());
                EXPECT_EQ(live.back(), model.Alloc(live.back())) << i;
            } else {
                size_t pick = random() % live.size();
                EXPECT_EQ(ReleaseGraphHandle(live[pick], 0), 0);
                model.used.erase(live[pick] & 0xFFFF);
                live[pick] = live.back(), live.pop_back();
            }
            EXPECT_EQ(GetGraphTableUsedEnd(), model.used.empty() ? 0 : *model.used.rbegin() + 1) << i;
        }
        EXPECT_EQ(GetGraphTableCount(), (int)live.size());
        std::shuffle(live.begin(), live.end(), random);
        for (EngineHandle h : live) {
            ASSERT_EQ(ReleaseGraphHandle(h, 0), 0);
        }
        EXPECT_EQ(GetGraphTableUsedEnd(), 0);
    }
    EXPECT_EQ(GetAllocationCount(), blocks);
}

TEST(GraphTable, EveryKindOfWrongHandleIsRefusedAndChangesNothing)
{
    const int blocks = GetAllocationCount();
    EngineHandle live = AllocGraphHandle();
    EngineHandle stale = AllocGraphHandle();
    ReleaseGraphHandle(stale, 0);
    EngineHandle refill = AllocGraphHandle(); // the stale handle's slot again, with the next check number
    ASSERT_EQ(refill & 0xFFFF, stale & 0xFFFF);
    int check = live >> 16 & 0x7FF, slot = live & 0xFFFF, past = (refill & 0xFFFF) + 1;
    // stale; check one up and one down; empty slot; slots past the table; negative; then every other type tag
    std::vector<EngineHandle> wrong = {stale, -1, INT_MIN, (int)(live | 0x80000000u)};
    for (int checkAndSlot : {(check + 1) << 16 | slot, (check + 2047) << 16 | slot, check << 16 | past,
                             check << 16 | GRAPH_SLOT_COUNT, check << 16 | 0xFFFF}) {
        wrong.push_back(MakeEngineHandle(HANDLE_TYPE_GRAPH, checkAndSlot >> 16, checkAndSlot & 0xFFFF));
    }
    for (int tag = 0; tag < 16; tag++) {
        wrong.push_back((live & ~HANDLE_TYPE_BITS) | (tag == 1 ? 0 : tag) << 27); // tag 0 twice
    }
    for (EngineHandle h : wrong) {
        SCOPED_TRACE(testing::Message() << std::hex << h);
        int width = 5, height = 6, flag = 7;
        EXPECT_EQ(ReleaseGraphHandle(h, 0) + QueryGraphSize(h, &width, &height) + SetGraphLostFlagPtr(h, &flag), -3);
        EXPECT_EQ(IsGraphHandle(h) * 1000 + width * 100 + height * 10 + flag, 567);
        EXPECT_EQ(GetGraphTableCount(), 2);
    }
    for (EngineHandle h : {live, refill}) {
        EXPECT_EQ(ReleaseGraphHandle(h, 0), 0);
        EXPECT_EQ(ReleaseGraphHandle(h, 0), -1) << "a second release";
    }
    EXPECT_EQ(GetAllocationCount(), blocks);
}

// A graph and one derived from it share the image, its pixel block and the restore source; whichever goes first,
// they stay for the other until it goes too.
TEST(GraphTable, GraphsSharingAnImageKeepItUntilTheLastGoes)
{
    for (int derivedFirst : {0, 1}) {
        SCOPED_TRACE(derivedFirst);
        const int blocks = GetAllocationCount();
        auto *image = (SharedGraphImage *)ENGINE_ALLOC_ZEROED(sizeof(SharedGraphImage));
        ASSERT_EQ(CreateMemImgDefault(&image->image, 16, 8, MEMIMG_KIND_RGB32), 0);
        auto *source = (GraphRestoreSource *)ENGINE_ALLOC_ZEROED(sizeof(GraphRestoreSource) + 32);
        EngineHandle graphs[2] = {AllocGraphHandle(), AllocGraphHandle()};
        const int rects[2][4] = {{0, 0, 16, 8}, {4, 2, 8, 4}}; // x, y, width, height
        for (int i = 0; i < 2; i++) {
            GraphRecord *record = GetGraphRecord(graphs[i]);
            const int *r = rects[i];
            AttachSharedGraphImage(record, image, r[0], r[1], r[2], r[3]);
            ASSERT_EQ(DeriveMemImg(&record->view, &image->image, r[0], r[1], r[2], r[3]), 0);
            ShareGraphRestoreSource(record, source);
            record->aux[i].data = ENGINE_ALLOC(8);
        }
        AttachSharedGraphImage(GetGraphRecord(graphs[1]), image, 4, 2, 8, 4); // the same image again: no change
        EXPECT_EQ(image->referenceCount * 100 + source->referenceCount * 10 + image->image.block->referenceCount, 223);
        const int shared = GetAllocationCount();
        ASSERT_EQ(ReleaseGraphHandle(graphs[derivedFirst], 0), 0);
        ASSERT_EQ(GetAllocationCount(), shared - 2) << "only the record and its block freed";
        EXPECT_EQ(image->referenceCount * 100 + source->referenceCount * 10 + image->image.block->referenceCount, 112);
        int width = 0, height = 0;
        EXPECT_EQ(QueryGraphSize(graphs[!derivedFirst], &width, &height), 0);
        EXPECT_EQ(width * 100 + height, derivedFirst ? 1608 : 804);
        ASSERT_EQ(ReleaseGraphHandle(graphs[!derivedFirst], 0), 0);
        EXPECT_EQ(GetAllocationCount(), blocks) << "image, pixels, source and records all freed";
    }
}

// Before graphics start release-all leaves every graph (the start releases them); after, it releases them all in
// slot order, every release setting the lost flag registered for it and giving back device textures and surfaces.
TEST(GraphTable, ReleaseAllTakesEveryGraphOnceGraphicsRun)
{
    const int blocks = GetAllocationCount();
    EngineHandle early = AllocGraphHandle();
    EXPECT_EQ(ReleaseAllGraphHandles(0), 0);
    EXPECT_EQ(IsGraphHandle(early), 1);
    SetMainWindowTitle("QvGraphTable");
    ChangeWindowMode(1);
    ASSERT_EQ(InitEngine(), 0);
    EXPECT_EQ(IsGraphHandle(early) * 10 + GetGraphTableCount(), IsDeviceMode() * 6)
        << "graphics start releases what it finds; the only graphs are the default font's glyph texture, the "
           "screen log's edged font's texture with its edge half, and the model system's three textures";
    int flags[4];
    EngineHandle graphs[4];
    for (int i = 0; i < 4; i++) {
        flags[i] = 7;
        graphs[i] = AllocGraphHandle();
        EXPECT_EQ(SetGraphLostFlagPtr(graphs[i], &flags[i]), 0);
    }
    SetGraphLostFlagPtr(graphs[3], NULL);
    flags[3] = 7;
    ReleaseGraphHandle(graphs[1], 0);
    IDirect3DTexture9 *held = NULL;
    if (IsDeviceMode()) {
        auto *image = (SharedGraphImage *)ENGINE_ALLOC_ZEROED(sizeof(SharedGraphImage) + sizeof(TexturePiece));
        image->format.deviceTexture = 1;
        image->pieceCount = 1;
        image->pieces = (TexturePiece *)(image + 1);
        ASSERT_EQ(g_D3D.device->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &held, NULL), D3D_OK);
        held->GetSurfaceLevel(0, &image->pieces[0].surface);
        image->pieces[0].texture = held;
        held->AddRef();
        AttachSharedGraphImage(GetGraphRecord(graphs[2]), image, 0, 0, 8, 8);
    }
    EXPECT_EQ(ReleaseAllGraphHandles(0), 0);
    EXPECT_EQ(GetGraphTableCount() * 10 + GetGraphTableUsedEnd(), 0);
    EXPECT_EQ(flags[0] * 1000 + flags[1] * 100 + flags[2] * 10 + flags[3], 1117);
    if (held != NULL) {
        EXPECT_EQ(held->Release(), 0u) << "the texture and its surface were given back";
    }
    EndEngine();
    EXPECT_EQ(GetAllocationCount(), blocks);
}

// The 32769th graph: the process logs the line, runs the end sequence (every graph released) and exits with -1.
TEST(GraphTableDeathTest, AFullTableEndsTheProcess)
{
    DeleteFileA("Log.txt");
    EXPECT_EXIT(
        {
            SetMainWindowTitle("QvGraphTableFull");
            ChangeWindowMode(1);
            SetUseDirect3D(0);
            for (int i = 0; InitEngine() == 0 && i <= GRAPH_SLOT_COUNT; i++) {
                AllocGraphHandle();
            }
            ExitProcess(1);
        },
        testing::ExitedWithCode(-1), "");
    std::string missing = FirstMissingInOrder(
        ReadLogText(), {"グラフィックの数が許容量を越えました終了します", "Alloc memory dump", "Alloc num:0\r\n"});
    EXPECT_EQ(missing, "");
}

// The Part's table read straight: the kind decides alone, then render target, then alpha and the one-bit flag.
static int ReferenceFormatIndex(int alpha, int target, int kind, int oneBit, int bits)
{
    const int byKind[8] = {-1, 6, 7, 8, 9, 10, 14, 15};
    int wide = bits != 16;
    if (kind != 0) {
        return kind < 8 ? byKind[kind] : 16;
    }
    if (target) {
        return alpha == 1 || oneBit == 1 ? 13 : 11 + wide;
    }
    return alpha ? 2 + wide : (oneBit ? 4 : 0) + wide;
}

TEST(GraphFormat, IndexFollowsTheDescriptorBytesItReads)
{
    const int pixelBits[16] = {16, 32, 16, 32, 16, 32, 4, 8, 8, 8, 8, 16, 32, 32, 64, 128};
    const int flagValues[] = {0, 1, 2, 255};
    std::mt19937 random(5);
    for (int alpha : flagValues)
        for (int target : flagValues)
            for (int oneBit : flagValues)
                for (int kind = 0; kind < 256; kind++)
                    for (int bits = 0; bits < 256; bits++) {
                        GraphFormatDesc desc;
                        for (size_t i = 0; i < sizeof(desc); i++) {
                            ((uint8_t *)&desc)[i] = (uint8_t)random(); // the bytes not read
                        }
                        desc.alpha = alpha, desc.renderTarget = target, desc.oneBitAlpha = oneBit;
                        desc.kind = kind, desc.colorBits = bits;
                        int expected = ReferenceFormatIndex(alpha, target, kind, oneBit, bits);
                        ASSERT_EQ(GraphFormatToIndex(&desc), expected)
                            << alpha << target << oneBit << " " << kind << " " << bits;
                        const PixelFormat *format = GetGraphFormat(&desc);
                        ASSERT_EQ(format == NULL, expected == 16);
                        ASSERT_TRUE(format == NULL || format->bitsPerPixel == pixelBits[expected]);
                    }
    EXPECT_EQ(GetGraphFormatIndex(0, 1, 0, 0)->alphaMask, 0x8000u) << "A1R5G5B5 for keying";
    EXPECT_EQ(GetGraphFormatIndex(1, 0, 1, 0)->alphaMask, 0xFF000000u);
}

TEST(GraphFormat, TransparentColourIsTakenByteWiseAndKeptOnAnEightBitScreen)
{
    SetGraphTransparentColor(0x1AB, 0x45, -1);
    SetScreenModeSettings(8, 0);
    SetGraphTransparentColor(1, 2, 3);
    SetScreenModeSettings(0, 0);
    EXPECT_EQ(g_GraphCreateSettings.transparentColor, 0xAB45FFu);
    SetGraphCreateFlagA(0);
    ResetDrawSettings();
    EXPECT_EQ(GetGraphCreateFlagA() * 10 + (int)g_GraphCreateSettings.transparentColor, 10) << "the reset's defaults";
}
