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

namespace
{

// The table's rules kept the slow way: the used end read off the top of the used set, the lowest free slot
// found by walking up from slot 0.
struct GraphTableModel {
    std::set<int> used;
    int check = -1; // learnt from the first allocation: earlier tests moved the counter
    int UsedEnd() const
    {
        return used.empty() ? 0 : *used.rbegin() + 1;
    }
    EngineHandle Alloc(EngineHandle actual)
    {
        int slot = UsedEnd();
        if (slot == GRAPH_SLOT_COUNT) {
            slot = 0;
            for (int taken : used) { // ascending
                if (taken != slot) {
                    break;
                }
                slot++;
            }
        }
        check = check < 0 ? (actual >> 16 & 0x7FF) : check;
        EngineHandle handle = 0x08000000 | check << 16 | slot;
        check = (check + 1) % 2048;
        used.insert(slot);
        return handle;
    }
};

void ReleaseAll(std::vector<EngineHandle> &live, std::mt19937 &random)
{
    std::shuffle(live.begin(), live.end(), random);
    for (EngineHandle h : live) {
        ASSERT_EQ(ReleaseGraphHandle(h, 0), 0);
    }
    live.clear();
}

} // namespace

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
        ASSERT_EQ(GetGraphTableCount(), 0);
        GraphTableModel model;
        std::vector<EngineHandle> live;
        auto alloc = [&] {
            EngineHandle h = AllocGraphHandle();
            EXPECT_EQ(h, model.Alloc(h));
            live.push_back(h);
        };
        auto release = [&] {
            size_t pick = random() % live.size();
            EXPECT_EQ(ReleaseGraphHandle(live[pick], 0), 0);
            model.used.erase(live[pick] & 0xFFFF);
            live[pick] = live.back();
            live.pop_back();
        };
        while (row.fillFirst && live.size() < GRAPH_SLOT_COUNT) {
            alloc();
        }
        for (int i = 0; i < row.operations && !HasFailure(); i++) {
            bool full = live.size() == GRAPH_SLOT_COUNT;
            (live.empty() || (!full && (int)(random() % 100) < row.allocPercent)) ? alloc() : release();
            ASSERT_EQ(GetGraphTableCount(), (int)live.size());
            ASSERT_EQ(GetGraphTableUsedEnd(), model.UsedEnd()) << "operation " << i;
        }
        for (EngineHandle h : live) {
            ASSERT_TRUE(IsGraphHandle(h));
        }
        ReleaseAll(live, random);
        EXPECT_EQ(GetGraphTableUsedEnd(), 0);
    }
    // The counter runs 0..2047: the 2049th allocation takes the first's check number again.
    EngineHandle first = AllocGraphHandle();
    ReleaseGraphHandle(first, 0);
    for (int i = 1; i < 2048; i++) {
        ReleaseGraphHandle(AllocGraphHandle(), 0);
    }
    EngineHandle again = AllocGraphHandle();
    EXPECT_EQ(again, first);
    EXPECT_EQ(ReleaseGraphHandle(again, 0), 0);
    EXPECT_EQ(GetAllocationCount(), blocks);
}
