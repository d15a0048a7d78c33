// The media graph library's base classes without a graph: the object root and its aggregatable unknown, the media
// type record's compare and pattern rules against a reference over random records, its task-memory ownership
// (every block counted through the bound entries), the node-cached list against a model list, and the filter base's
// graph-facing operations with a recording graph, clock and filter mapper.
#include <gtest/gtest.h>

#include <list>
#include <string>
#include <random>
#include <string.h>
#include <vector>

#include "media/graph_test_support.h"

namespace
{

using graph_test::PlatformEntries;
using graph_test::RecordingGraph;
using graph_test::TestFilter;

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

// ---------------------------------------------------------------------------------------------------------------
// Filter base without pins.

TEST(FilterBase, AnswersForItsInterfacesAndKeepsNameAndGraphWithoutHoldingTheGraph)
{
    PlatformEntries entries;
    TestFilter *filter = new TestFilter();
    IUnknown *inner = filter->InnerUnknown();
    inner->AddRef();
    for (const IID *id : {&IID_IBaseFilter, &IID_IMediaFilter, &IID_IPersist, &IID_IAMovieSetup, &IID_IPin}) {
        void *face = NULL;
        const bool setup = id == &IID_IAMovieSetup, known = id != &IID_IPin;
        EXPECT_EQ(inner->QueryInterface(*id, &face), known ? S_OK : E_NOINTERFACE);
        EXPECT_EQ(face, !known  ? nullptr
                        : setup ? (void *)static_cast<IAMovieSetup *>(filter)
                                : (void *)filter->BaseFilter());
        if (face != NULL) {
            static_cast<IUnknown *>(face)->Release();
        }
    }
    RecordingGraph graph;
    WCHAR name[201];
    for (int i = 0; i < 200; i++) {
        name[i] = L'a' + i % 26;
    }
    name[200] = 0;
    const struct {
        RecordingGraph *graph;
        const WCHAR *name;
        int expectedLength;
    } rows[] = {{&graph, name, 127}, {NULL, NULL, 0}, {&graph, L"Mem Reader", 10}};
    for (const auto &row : rows) {
        ASSERT_EQ(filter->JoinFilterGraph(row.graph, row.name), S_OK);
        FILTER_INFO info;
        ASSERT_EQ(filter->QueryFilterInfo(&info), S_OK);
        EXPECT_EQ(lstrlenW(info.achName), row.expectedLength);
        EXPECT_EQ(wcsncmp(info.achName, row.name != NULL ? row.name : L"", row.expectedLength), 0);
        EXPECT_EQ(info.pGraph, static_cast<IFilterGraph *>(row.graph));
        EXPECT_EQ(graph.references, row.graph != NULL ? 2 : 1) << "one reference, for the caller";
        if (info.pGraph != NULL) {
            info.pGraph->Release();
        }
        EXPECT_EQ(filter->PostGraphEvent(EC_USERABORT, 0, 0), row.graph != NULL ? S_OK : E_NOTIMPL);
    }
    CLSID classId = IID_IPin;
    EXPECT_EQ(filter->GetClassID(&classId), S_OK);
    EXPECT_EQ(classId, CLSID_NULL);
    EXPECT_EQ(filter->QueryVendorInfo(NULL), E_NOTIMPL);
    EXPECT_EQ(filter->FindPin(L"In", NULL), E_POINTER);
    EXPECT_EQ(inner->Release(), 0u);
    EXPECT_EQ(graph.references, 1);
}

TEST(FilterBase, PassesEventsAndReconnectionsToTheGraph)
{
    PlatformEntries entries;
    TestFilter filter;
    filter.InnerUnknown()->AddRef();
    EXPECT_EQ(filter.RequestPinReconnect(NULL, NULL), E_NOINTERFACE);
    const struct {
        LONG code;
        LONG_PTR parameter2, delivered2; // -1: the filter's own IBaseFilter
        bool offersGraph2;
        const char *reconnect;
    } rows[] = {{EC_COMPLETE, 77, -1, true, "ReconnectEx"}, {EC_COMPLETE, 0, -1, false, "Reconnect"},
                {EC_ERRORABORT, 77, 77, false, "Reconnect"}, {EC_USERABORT, 5, 5, true, "ReconnectEx"}};
    for (const auto &row : rows) {
        RecordingGraph graph;
        graph.offersGraph2 = row.offersGraph2;
        filter.JoinFilterGraph(&graph, NULL);
        EXPECT_EQ(filter.PostGraphEvent(row.code, 3, row.parameter2), S_OK);
        ASSERT_EQ(graph.events.size(), 1u);
        EXPECT_EQ(graph.events[0].code, row.code);
        EXPECT_EQ(graph.events[0].parameter1, 3);
        EXPECT_EQ(graph.events[0].parameter2, row.delivered2 == -1 ? (LONG_PTR)filter.BaseFilter() : row.delivered2);
        R_CMediaTypeRecord type;
        EXPECT_EQ(filter.RequestPinReconnect(NULL, &type), S_OK);
        ASSERT_EQ(graph.reconnects.size(), 1u);
        EXPECT_STREQ(graph.reconnects[0], row.reconnect);
        EXPECT_EQ(graph.reconnectType, row.offersGraph2 ? &type : nullptr);
        EXPECT_EQ(graph.references, 1);
        filter.JoinFilterGraph(NULL, NULL);
    }
}

// A clock that answers a fixed time or a failure, its references counted.
struct FixedClock : IReferenceClock {
    LONG references = 1;
    HRESULT answer = S_OK;
    REFERENCE_TIME now = 0;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **out) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME *time) override
    {
        *time = now;
        return answer;
    }
    HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR) override { return E_NOTIMPL; }
};

TEST(FilterBase, StreamTimeIsTheClockLessTheRunStart)
{
    PlatformEntries entries;
    FixedClock clock;
    const struct {
        bool withClock;
        HRESULT clockAnswer;
        REFERENCE_TIME now, start;
        HRESULT result;
        REFERENCE_TIME streamTime;
    } rows[] = {{false, S_OK, 0, 0, VFW_E_NO_CLOCK, -1},
                {true, E_FAIL, 5000, 1000, E_FAIL, 5000},
                {true, S_OK, 5000, 1000, S_OK, 4000},
                {true, S_FALSE, 300, 1000, S_OK, -700}};
    for (const auto &row : rows) {
        TestFilter filter;
        filter.InnerUnknown()->AddRef();
        clock.answer = row.clockAnswer;
        clock.now = row.now;
        filter.SetSyncSource(row.withClock ? &clock : NULL);
        EXPECT_EQ(filter.Run(row.start), S_OK);
        FILTER_STATE state;
        EXPECT_EQ(filter.GetState(0, &state), S_OK);
        EXPECT_EQ(state, State_Running);
        REFERENCE_TIME time = -1;
        EXPECT_EQ(filter.QueryStreamTime(&time), row.result);
        EXPECT_EQ(time, row.streamTime);
        IReferenceClock *got = NULL;
        EXPECT_EQ(filter.GetSyncSource(&got), S_OK);
        EXPECT_EQ(got, row.withClock ? &clock : nullptr);
        EXPECT_EQ(clock.references, row.withClock ? 3 : 1);
        if (got != NULL) {
            got->Release();
        }
    }
    EXPECT_EQ(clock.references, 1) << "the filter's destructor released its clock";
}

// A filter mapper that records its calls ("U", "R", "P:name", "T") and answers `failWith` at call `failAt`.
struct RecordingMapper : IFilterMapper {
    LONG references = 1;
    std::string log;
    int calls = 0, failAt = -1;
    HRESULT failWith = S_OK;

    HRESULT Record(const std::string &call)
    {
        log += (log.empty() ? "" : " ") + call;
        return calls++ == failAt ? failWith : S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **out) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE RegisterFilter(CLSID, LPCWSTR, DWORD) override { return Record("R"); }
    HRESULT STDMETHODCALLTYPE RegisterFilterInstance(CLSID, LPCWSTR, CLSID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterPin(CLSID, LPCWSTR name, BOOL, BOOL, BOOL, BOOL, CLSID, LPCWSTR) override
    {
        return Record(std::string("P:") + (char)name[0]);
    }
    HRESULT STDMETHODCALLTYPE RegisterPinType(CLSID, LPCWSTR, CLSID, CLSID) override { return Record("T"); }
    HRESULT STDMETHODCALLTYPE UnregisterFilter(CLSID) override { return Record("U"); }
    HRESULT STDMETHODCALLTYPE UnregisterFilterInstance(CLSID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnregisterPin(CLSID, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumMatchingFilters(IEnumRegFilters **, DWORD, BOOL, CLSID, CLSID, BOOL, BOOL, CLSID,
                                                  CLSID) override
    {
        return E_NOTIMPL;
    }
};

const PinTypeSetupRecord s_PinTypes[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}, {&MEDIATYPE_Audio, &GUID_NULL}};
const PinSetupRecord s_Pins[] = {{L"In", FALSE, FALSE, FALSE, FALSE, NULL, NULL, 2, s_PinTypes},
                                 {L"Out", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, L"In", 0, NULL}};
const FilterSetupRecord s_Setup = {&CLSID_NULL, L"test filter", MERIT_DO_NOT_USE, 2, s_Pins};
const HRESULT s_FileNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

TEST(RegisterFilterSetup, WalksFilterPinsAndTypesAndStopsAtTheFirstFailure)
{
    const struct {
        BOOL doRegister;
        int failAt;
        HRESULT failWith, result;
        const char *log;
    } rows[] = {
        {TRUE, -1, S_OK, S_OK, "U R P:I T T P:O"},   {FALSE, -1, S_OK, S_OK, "U"},
        {FALSE, 0, s_FileNotFound, S_OK, "U"},       {FALSE, 0, E_FAIL, E_FAIL, "U"},
        {TRUE, 0, E_FAIL, S_OK, "U R P:I T T P:O"},  {TRUE, 1, E_FAIL, E_FAIL, "U R"},
        {TRUE, 1, s_FileNotFound, S_OK, "U R P:I T T P:O"}, {TRUE, 2, E_ACCESSDENIED, E_ACCESSDENIED, "U R P:I"},
        {TRUE, 3, E_FAIL, E_FAIL, "U R P:I T"},      {TRUE, 5, s_FileNotFound, S_OK, "U R P:I T T P:O"},
    };
    for (const auto &row : rows) {
        RecordingMapper mapper;
        mapper.failAt = row.failAt;
        mapper.failWith = row.failWith;
        EXPECT_EQ(RegisterFilterSetup(&s_Setup, &mapper, row.doRegister), row.result) << row.log;
        EXPECT_EQ(mapper.log, row.log);
    }
    RecordingMapper mapper;
    EXPECT_EQ(RegisterFilterSetup(NULL, &mapper, TRUE), S_FALSE);
    EXPECT_EQ(mapper.calls, 0);
}

RecordingMapper *s_MapperToHand;
HRESULT s_CreateAnswer;

HRESULT WINAPI CreateRecordingMapper(REFCLSID classId, IUnknown *, DWORD, REFIID id, void **out)
{
    InterlockedIncrement(&graph_test::g_CreateInstanceCalls);
    const bool mapper = IsEqualCLSID(classId, CLSID_FilterMapper) && IsEqualIID(id, IID_IFilterMapper);
    *out = mapper && SUCCEEDED(s_CreateAnswer) ? s_MapperToHand : NULL;
    if (*out != NULL) {
        s_MapperToHand->AddRef();
    }
    return mapper ? s_CreateAnswer : E_NOINTERFACE;
}

// Register and Unregister make a mapper only for a filter that describes itself, and report what went wrong.
TEST(FilterBase, RegistersThroughAMapperOnlyWhenDescribed)
{
    PlatformEntries entries;
    graph_test::BindOle(OLE_CO_CREATE_INSTANCE, graph_test::AsEntry(CreateRecordingMapper));
    const struct {
        const FilterSetupRecord *setup;
        HRESULT createAnswer, registerResult, unregisterResult;
        int creates;
        const char *log;
    } rows[] = {
        {NULL, S_OK, S_FALSE, S_FALSE, 0, ""},
        {&s_Setup, REGDB_E_CLASSNOTREG, REGDB_E_CLASSNOTREG, REGDB_E_CLASSNOTREG, 2, ""},
        {&s_Setup, s_FileNotFound, S_OK, S_OK, 2, ""},
        {&s_Setup, S_OK, S_OK, S_OK, 2, "U R P:I T T P:O U"},
    };
    for (const auto &row : rows) {
        RecordingMapper mapper;
        s_MapperToHand = &mapper;
        s_CreateAnswer = row.createAnswer;
        graph_test::g_CreateInstanceCalls = 0;
        TestFilter filter;
        filter.InnerUnknown()->AddRef();
        filter.setup = row.setup;
        EXPECT_EQ(filter.Register(), row.registerResult);
        EXPECT_EQ(filter.Unregister(), row.unregisterResult);
        EXPECT_EQ(graph_test::g_CreateInstanceCalls, row.creates);
        EXPECT_EQ(mapper.log, row.log);
        EXPECT_EQ(mapper.references, 1);
    }
}

} // namespace
