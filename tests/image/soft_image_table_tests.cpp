// Soft-image table: handle validation and the delete paths.
#include "image_test_support.h"

#include "image/image_test_hooks.h"

namespace {

using SoftImageTableTest = ImageTest;

EngineHandle AddSmallSoftImage()
{
    BaseImage image;
    memset(&image, 0, sizeof(image));
    NewXRGB8BaseImage(4, 4, &image);
    return AddSoftImage(&image);
}

TEST_F(SoftImageTableTest, EmptyTableRefusesEveryHandle)
{
    const EngineHandle handles[] = {-1, 0, HANDLE_TYPE_SOFT_IMAGE, HANDLE_TYPE_SOFT_IMAGE | 5,
                                    MakeEngineHandle(HANDLE_TYPE_SOFT_IMAGE, 3, 8191), HANDLE_TYPE_GRAPH};
    for (EngineHandle h : handles) EXPECT_EQ(DeleteSoftImage(h), -1) << h;
    EXPECT_EQ(DeleteAllSoftImages(), 0);
    EXPECT_EQ(ResetSoftImages(), 0);
}

TEST_F(SoftImageTableTest, WrongHandlesFreeNothing)
{
    EngineHandle h = AddSmallSoftImage();
    ASSERT_GE(h, 0);
    int live = GetAllocationCount();
    int check = (h & HANDLE_CHECK_MASK) >> HANDLE_CHECK_SHIFT;
    int slot = h & HANDLE_INDEX_MASK;
    const struct {
        const char *why;
        EngineHandle handle;
    } wrong[] = {
        {"check number one up", MakeEngineHandle(HANDLE_TYPE_SOFT_IMAGE, check + 1, slot)},
        {"check number one down", MakeEngineHandle(HANDLE_TYPE_SOFT_IMAGE, (check + 2047) % 2048, slot)},
        {"other type", MakeEngineHandle(HANDLE_TYPE_GRAPH, check, slot)},
        {"empty slot", MakeEngineHandle(HANDLE_TYPE_SOFT_IMAGE, check, slot + 1)},
        {"slot past the table", MakeEngineHandle(HANDLE_TYPE_SOFT_IMAGE, check, SOFT_IMAGE_SLOT_COUNT)},
        {"negative", h | (int)0x80000000},
    };
    for (const auto &w : wrong) {
        EXPECT_EQ(DeleteSoftImage(w.handle), -1) << w.why;
        EXPECT_EQ(GetAllocationCount(), live) << w.why;
    }
    EXPECT_EQ(DeleteSoftImage(h), 0);
    EXPECT_EQ(DeleteSoftImage(h), -1) << "a deleted handle is stale";
}

TEST_F(SoftImageTableTest, DeleteAllFreesEverySlotAndSlotsAreReused)
{
    EngineHandle a = AddSmallSoftImage();
    EngineHandle b = AddSmallSoftImage();
    EngineHandle c = AddSmallSoftImage();
    ASSERT_EQ(b & HANDLE_INDEX_MASK, (a & HANDLE_INDEX_MASK) + 1);
    EXPECT_EQ(DeleteSoftImage(b), 0);
    EngineHandle d = AddSmallSoftImage();
    EXPECT_EQ(d & HANDLE_INDEX_MASK, b & HANDLE_INDEX_MASK) << "the freed slot is taken again";
    EXPECT_NE(d, b) << "with a new check number";
    EXPECT_EQ(DeleteSoftImage(b), -1);
    EXPECT_EQ(DeleteAllSoftImages(), 0);
    for (EngineHandle h : {a, c, d}) EXPECT_EQ(DeleteSoftImage(h), -1);
}

} // namespace
