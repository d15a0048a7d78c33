// The media graph library's base classes without a graph: the object root and its aggregatable unknown, the media
// type record's compare and pattern rules against a reference over random records, its task-memory ownership
// (every block counted through the bound entries), and the node-cached list against a model list.
#include <gtest/gtest.h>

#include <list>
#include <random>
#include <string.h>
#include <vector>

#include "media/graph_test_support.h"

namespace
{

using graph_test::PlatformEntries;

// An IUnknown that counts its references and the queries it answers (hands out itself for any id).
struct CountingUnknown : IUnknown {
    LONG references = 1;
    int queries = 0;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **out) override
    {
        queries++;
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
};

// A media object with one platform interface; its destructor takes and drops a reference on itself.
struct PersistObject : R_CMediaUnknown, IPersist {
    int *deletions;
    PersistObject(IUnknown *outer, int *deletionCount) : R_CMediaUnknown("test", outer), deletions(deletionCount) {}
    ~PersistObject() override
    {
        InnerAddRef();
        InnerRelease();
        (*deletions)++;
    }
    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID id, void **out) override
    {
        if (out != NULL && IsEqualIID(id, IID_IPersist)) {
            return HandOutInterface(static_cast<IPersist *>(this), out);
        }
        return R_CMediaUnknown::InnerQueryInterface(id, out);
    }
    MEDIA_FORWARD_UNKNOWN
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *) override { return E_NOTIMPL; }
};

TEST(MediaUnknown, CountsQueriesAndDeletesOnceAlsoWhenAggregated)
{
    for (bool aggregated : {false, true}) {
        SCOPED_TRACE(aggregated ? "aggregated" : "alone");
        CountingUnknown outer;
        int deletions = 0;
        const LONG objects = MediaObjectCount;
        PersistObject *object = new PersistObject(aggregated ? &outer : NULL, &deletions);
        EXPECT_EQ(MediaObjectCount, objects + 1);
        IUnknown *inner = object->InnerUnknown();
        EXPECT_EQ(inner->AddRef(), 1u);

        // The inner unknown answers for the object itself, through the object's first virtual slots.
        void *face = NULL;
        ASSERT_EQ(inner->QueryInterface(IID_IPersist, &face), S_OK);
        EXPECT_EQ(face, static_cast<IPersist *>(object));
        IPersist *persist = static_cast<IPersist *>(face);
        EXPECT_EQ(persist->AddRef(), 3u);
        persist->Release();
        face = &outer;
        EXPECT_EQ(inner->QueryInterface(IID_IStream, &face), E_NOINTERFACE);
        EXPECT_EQ(face, nullptr);
        EXPECT_EQ(inner->QueryInterface(IID_IUnknown, NULL), E_POINTER);

        // The interface's own QueryInterface goes to the outer unknown when there is one.
        ASSERT_EQ(persist->QueryInterface(IID_IUnknown, &face), S_OK);
        EXPECT_EQ(face, aggregated ? static_cast<IUnknown *>(&outer) : inner);
        EXPECT_EQ(outer.queries, aggregated ? 1 : 0);
        static_cast<IUnknown *>(face)->Release();
        if (aggregated) {
            EXPECT_EQ(outer.references, 2) << "the interface's reference went to the outer unknown";
            persist->Release();
            EXPECT_EQ(inner->Release(), 0u);
        } else {
            EXPECT_EQ(persist->Release(), 1u);
            EXPECT_EQ(deletions, 0);
            EXPECT_EQ(inner->Release(), 0u);
        }
        EXPECT_EQ(deletions, 1);
        EXPECT_EQ(MediaObjectCount, objects);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Media type record.

const GUID s_Ids[] = {GUID_NULL, MEDIATYPE_Audio, MEDIATYPE_Video};
const BYTE s_FormatBytes[2][3] = {{1, 2, 3}, {1, 2, 4}};

AM_MEDIA_TYPE RandomRecord(std::mt19937 &random)
{
    AM_MEDIA_TYPE record = {};
    record.majortype = s_Ids[random() % 3];
    record.subtype = s_Ids[random() % 3];
    record.formattype = s_Ids[random() % 3];
    record.lSampleSize = random() % 2;
    record.bFixedSizeSamples = random() % 2;
    record.cbFormat = random() % 4;
    record.pbFormat = record.cbFormat != 0 ? (BYTE *)s_FormatBytes[random() % 2] : NULL;
    return record;
}

bool ReferenceFormatEqual(const AM_MEDIA_TYPE &a, const AM_MEDIA_TYPE &b)
{
    if (a.cbFormat != b.cbFormat) {
        return false;
    }
    for (ULONG i = 0; i < a.cbFormat; i++) {
        if (a.pbFormat[i] != b.pbFormat[i]) {
            return false;
        }
    }
    return true;
}

bool IdMatches(const GUID &pattern, const GUID &candidate)
{
    return pattern == GUID_NULL || pattern == candidate;
}

TEST(MediaTypeRecord, CompareAndPatternRulesMatchTheReferenceOverRandomRecords)
{
    PlatformEntries entries;
    std::mt19937 random(17);
    for (int round = 0; round < 3000; round++) {
        const AM_MEDIA_TYPE a = RandomRecord(random), b = RandomRecord(random);
        R_CMediaTypeRecord record(a);
        const bool same = a.majortype == b.majortype && a.subtype == b.subtype && a.formattype == b.formattype &&
                          ReferenceFormatEqual(a, b);
        const bool matches = IdMatches(b.majortype, a.majortype) && IdMatches(b.subtype, a.subtype) &&
                             (b.formattype == GUID_NULL || (b.formattype == a.formattype && ReferenceFormatEqual(a, b)));
        ASSERT_EQ(record.SameMediaType(b), same) << round;
        ASSERT_EQ(record.MatchesPattern(b), matches) << round;
        ASSERT_EQ(record.HasWildcardIds(), a.majortype == GUID_NULL || a.formattype == GUID_NULL) << round;
        ASSERT_TRUE(record.pbFormat == NULL || record.pbFormat != a.pbFormat) << "the copy is deep";
    }
    EXPECT_EQ(entries.TaskBlocksOut(), 0);
    R_CMediaTypeRecord blank;
    EXPECT_EQ(blank.lSampleSize, 1u);
    EXPECT_EQ(blank.bFixedSizeSamples, TRUE);
}

// Each row copies a record with a format block and an unknown, refusing the task allocation numbered `failAt`.
TEST(MediaTypeRecord, CopiesOwnTheirBlockAndReferenceAndFailedCopiesOwnNothing)
{
    PlatformEntries entries;
    const struct {
        const char *operation;
        int failAt; // -1 none
        HRESULT result;
        int blocksHeld, referencesHeld; // while the copy lives
    } rows[] = {
        {"duplicate", -1, S_OK, 1, 1}, {"duplicate", 0, E_OUTOFMEMORY, 0, 0}, {"assign", -1, S_OK, 1, 1},
        {"assign", 0, E_OUTOFMEMORY, 0, 0}, {"alloc", -1, S_OK, 2, 1},        {"alloc", 0, E_OUTOFMEMORY, 0, 0},
        {"alloc", 1, E_OUTOFMEMORY, 0, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << row.operation << " fail at " << row.failAt);
        CountingUnknown unknown;
        BYTE format[5] = {1, 2, 3, 4, 5};
        AM_MEDIA_TYPE source = {MEDIATYPE_Audio, MEDIASUBTYPE_PCM, TRUE, FALSE, 4, FORMAT_WaveFormatEx, &unknown,
                                sizeof(format), format};
        R_CMediaTypeRecord target;
        AM_MEDIA_TYPE *allocated = NULL;
        graph_test::FailTaskAllocationAfter(row.failAt);
        HRESULT result;
        if (strcmp(row.operation, "duplicate") == 0) {
            result = DuplicateMediaTypeRecord(&target, &source);
        } else if (strcmp(row.operation, "assign") == 0) {
            result = target.AssignMediaType(source);
        } else {
            allocated = AllocMediaTypeRecord(&source);
            result = allocated != NULL ? S_OK : E_OUTOFMEMORY;
        }
        graph_test::FailTaskAllocationAfter(-1);
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(entries.TaskBlocksOut(), row.blocksHeld);
        EXPECT_EQ(unknown.references, 1 + row.referencesHeld);
        const AM_MEDIA_TYPE &copy = allocated != NULL ? *allocated : target;
        if (result == S_OK) {
            EXPECT_EQ(memcmp(copy.pbFormat, format, sizeof(format)), 0);
            EXPECT_NE(copy.pbFormat, format);
        } else {
            EXPECT_EQ(copy.cbFormat, 0u);
            EXPECT_EQ(copy.pUnk, nullptr);
        }
        FreeMediaTypeRecord(allocated);
        target.ClearMediaTypeRecord();
        EXPECT_EQ(entries.TaskBlocksOut(), 0);
        EXPECT_EQ(unknown.references, 1);
    }
    FreeMediaTypeRecord(NULL);
}

TEST(MediaTypeRecord, SelfAssignKeepsTheBlockAndStringsCopyWithTheirTerminator)
{
    PlatformEntries entries;
    BYTE format[2] = {7, 8};
    AM_MEDIA_TYPE source = {MEDIATYPE_Audio, GUID_NULL, TRUE, FALSE, 1, FORMAT_None, NULL, 2, format};
    R_CMediaTypeRecord record(source);
    BYTE *block = record.pbFormat;
    EXPECT_EQ(record.AssignMediaType(record), S_OK);
    EXPECT_EQ(record.pbFormat, block);
    EXPECT_EQ(block[1], 8);

    for (const WCHAR *text : {L"", L"Mem Reader"}) {
        WCHAR *copy = NULL;
        ASSERT_EQ(CopyWideStringToTaskMem(text, &copy), S_OK);
        EXPECT_EQ(memcmp(copy, text, (lstrlenW(text) + 1) * sizeof(WCHAR)), 0);
        MediaTaskMemFree(copy);
        graph_test::FailTaskAllocationAfter(0);
        copy = (WCHAR *)1;
        EXPECT_EQ(CopyWideStringToTaskMem(text, &copy), E_OUTOFMEMORY);
        EXPECT_EQ(copy, nullptr);
    }
    EXPECT_EQ(CopyWideStringToTaskMem(L"x", NULL), E_POINTER);
    record.ClearMediaTypeRecord();
    EXPECT_EQ(entries.TaskBlocksOut(), 0);
}

// ---------------------------------------------------------------------------------------------------------------
// Node-cached list against a model: a std::list of the same objects and a stack of the nodes that should be
// cached, so that every append while nodes are cached must reuse the last one freed.

TEST(CachedNodeList, RandomOperationsKeepOrderCountAndCacheLikeTheModel)
{
    std::mt19937 random(11);
    R_CCachedNodeList list;
    std::list<std::pair<void *, R_CCachedNodeList::Position>> model;
    std::vector<R_CCachedNodeList::Position> cache;
    for (int step = 0; step < 20000; step++) {
        const int operation = random() % 10;
        if (operation < 5) {
            void *object = (void *)(uintptr_t)(random() % 8 + 1);
            R_CCachedNodeList::Position position = list.ListAppend(object);
            ASSERT_NE(position, nullptr);
            if (!cache.empty()) {
                ASSERT_EQ(position, cache.back()) << "a cached node is reused, last freed first";
                cache.pop_back();
            }
            model.push_back({object, position});
        } else if (operation < 8 && !model.empty()) {
            auto it = model.begin();
            std::advance(it, operation == 7 ? 0 : random() % model.size());
            ASSERT_EQ(operation == 7 ? list.ListTakeFirst() : list.ListRemoveAt(it->second), it->first);
            if (cache.size() < 10) {
                cache.push_back(it->second);
            }
            model.erase(it);
        } else if (operation == 8) {
            void *object = (void *)(uintptr_t)(random() % 9 + 1);
            auto it = model.begin();
            while (it != model.end() && it->first != object) {
                ++it;
            }
            ASSERT_EQ(list.ListFindObject(object), it != model.end() ? it->second : nullptr);
        } else if (random() % 50 == 0) {
            list.ListClear();
            model.clear();
        }
        ASSERT_EQ(list.ListCount(), (int)model.size());
        ASSERT_EQ(list.CachedNodeCount(), (int)cache.size());
    }
    R_CCachedNodeList copy;
    ASSERT_TRUE(copy.ListAppendAll(R_CCachedNodeList()));
    ASSERT_TRUE(copy.ListAppendAll(list));
    R_CCachedNodeList::Position position = NULL;
    EXPECT_EQ(copy.ListNextObject(&position), nullptr);
    position = copy.ListNextPosition(NULL);
    for (const auto &entry : model) {
        EXPECT_EQ(copy.ListNextObject(&position), entry.first);
    }
    EXPECT_EQ(position, nullptr);
    EXPECT_EQ(copy.ListTakeFirst(), model.empty() ? nullptr : model.front().first);
    EXPECT_EQ(R_CCachedNodeList().ListTakeFirst(), nullptr);
}

} // namespace
