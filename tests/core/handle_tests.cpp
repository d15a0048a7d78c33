// Engine handle layout and validation.
#include <gtest/gtest.h>

#include "core/core.h"

TEST(EngineHandle, ValidationRefusesEveryKindOfWrongHandle)
{
    HandleRecordHeader record = {5, 0};
    void *slots[4] = {NULL, NULL, &record, NULL};
    record.handle = MakeEngineHandle(HANDLE_TYPE_SOUND, 5, 2);
    EXPECT_EQ(record.handle, 0x10000000 | (5 << 16) | 2);
    EXPECT_EQ(ValidateEngineHandle(record.handle, HANDLE_TYPE_SOUND, slots, 4), &record);

    const struct {
        EngineHandle handle;
        const char *why;
    } wrong[] = {
        {-1, "negative"},
        {MakeEngineHandle(HANDLE_TYPE_GRAPH, 5, 2), "other type"},
        {MakeEngineHandle(HANDLE_TYPE_SOUND, 6, 2), "stale check number"},
        {MakeEngineHandle(HANDLE_TYPE_SOUND, 5, 1), "empty slot"},
        {MakeEngineHandle(HANDLE_TYPE_SOUND, 5, 4), "slot past the table"},
    };
    for (const auto &c : wrong) {
        EXPECT_EQ(ValidateEngineHandle(c.handle, HANDLE_TYPE_SOUND, slots, 4), nullptr) << c.why;
    }
    EXPECT_EQ(MakeEngineHandle(HANDLE_TYPE_FONT, 2048, 0), HANDLE_TYPE_FONT) << "check numbers wrap after 2047";
}
