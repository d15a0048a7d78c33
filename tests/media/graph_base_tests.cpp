// The media graph library's base classes without a graph: the object root and its aggregatable unknown, the media
// type record's compare and pattern rules against a reference over random records, its task-memory ownership
// (every block counted through the bound entries), the node-cached list against a model list, the filter base's
// graph-facing operations with a recording graph, and over test pins the enumerators, the state machine and the
// pin search.
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
using graph_test::TestPin;

// A media object with one platform interface; its destructor takes and drops a reference on itself.
struct PersistObject : R_CMediaUnknown, IPersist {
    int *deletions;
    PersistObject(IUnknown *outer, int *deletionCount) : R_CMediaUnknown("test", outer), deletions(deletionCount)
    {
    }
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
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *) override
    {
        return E_NOTIMPL;
    }
};

TEST(MediaUnknown, CountsQueriesAndDeletesOnceAlsoWhenAggregated)
{
    for (bool aggregated : {false, true}) {
        SCOPED_TRACE(aggregated ? "aggregated" : "alone");
        RecordingGraph outer; // as a plain counting unknown
        IUnknown *outerUnknown = static_cast<IFilterGraph2 *>(&outer);
        int deletions = 0;
        const LONG objects = MediaObjectCount;
        PersistObject *object = new PersistObject(aggregated ? outerUnknown : NULL, &deletions);
        EXPECT_EQ(MediaObjectCount, objects + 1);
        IUnknown *inner = object->InnerUnknown();
        EXPECT_EQ(inner->AddRef(), 1u);

        // The inner unknown answers for the object itself; the interface's QueryInterface goes to the outer.
        void *face = outerUnknown;
        EXPECT_EQ(inner->QueryInterface(IID_IStream, &face), E_NOINTERFACE);
        EXPECT_EQ(face, nullptr);
        EXPECT_EQ(inner->QueryInterface(IID_IUnknown, NULL), E_POINTER);
        ASSERT_EQ(inner->QueryInterface(IID_IPersist, &face), S_OK);
        IPersist *persist = static_cast<IPersist *>(face);
        EXPECT_EQ(persist, static_cast<IPersist *>(object));
        ASSERT_EQ(persist->QueryInterface(IID_IUnknown, &face), S_OK);
        EXPECT_EQ(face, aggregated ? outerUnknown : inner);
        EXPECT_EQ(outer.queries, aggregated ? 1 : 0);
        static_cast<IUnknown *>(face)->Release();
        EXPECT_EQ(outer.references, 1 + aggregated) << "the interface's reference went to the outer unknown";
        EXPECT_EQ(persist->Release(), 1u);
        EXPECT_EQ(deletions, 0);
        EXPECT_EQ(inner->Release(), 0u);
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
    record.pbFormat = (BYTE *)s_FormatBytes[random() % 2]; // also beside a size of 0, which a copy must not share
    return record;
}

bool ReferenceFormatEqual(const AM_MEDIA_TYPE &a, const AM_MEDIA_TYPE &b)
{
    return a.cbFormat == b.cbFormat && (a.cbFormat == 0 || memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0);
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
        const bool matches =
            (b.majortype == GUID_NULL || b.majortype == a.majortype) &&
            (b.subtype == GUID_NULL || b.subtype == a.subtype) &&
            (b.formattype == GUID_NULL || (b.formattype == a.formattype && ReferenceFormatEqual(a, b)));
        ASSERT_EQ(record.SameMediaType(b), same) << round;
        ASSERT_EQ(record.MatchesPattern(b), matches) << round;
        ASSERT_EQ(record.HasWildcardIds(), a.majortype == GUID_NULL || a.formattype == GUID_NULL) << round;
        ASSERT_TRUE(a.cbFormat != 0 ? record.pbFormat != a.pbFormat : record.pbFormat == NULL) << "the copy is deep";
    }
    EXPECT_EQ(entries.TaskBlocksOut(), 0);
}

// Each row copies a record with a format block and an unknown, refusing the task allocation numbered `failAt` (a
// failed copy must own, and so later free, nothing); then the copies and strings are released.
TEST(MediaTypeRecord, CopiesOwnTheirBlockAndReferenceAndFailedCopiesOwnNothing)
{
    PlatformEntries entries;
    const struct {
        const char *operation;
        int failAt; // -1 none
        HRESULT result;
        int blocksHeld, referencesHeld; // while the copy lives
    } rows[] = {{"duplicate", -1, S_OK, 1, 1},     {"duplicate", 0, E_OUTOFMEMORY, 0, 0},
                {"assign", -1, S_OK, 1, 1},        {"assign", 0, E_OUTOFMEMORY, 0, 0},
                {"alloc", -1, S_OK, 2, 1},         {"alloc", 0, E_OUTOFMEMORY, 0, 0},
                {"alloc", 1, E_OUTOFMEMORY, 0, 0}, {"self", -1, S_OK, 1, 1}};
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << row.operation << " fail at " << row.failAt);
        RecordingGraph unknown; // as a plain counting unknown
        IUnknown *counted = static_cast<IFilterGraph2 *>(&unknown);
        BYTE format[5] = {1, 2, 3, 4, 5};
        AM_MEDIA_TYPE source = {MEDIATYPE_Audio,     MEDIASUBTYPE_PCM, TRUE,           FALSE, 4,
                                FORMAT_WaveFormatEx, counted,          sizeof(format), format};
        R_CMediaTypeRecord target;
        AM_MEDIA_TYPE *allocated = NULL;
        const std::string operation = row.operation;
        if (operation == "self") {
            ASSERT_EQ(target.AssignMediaType(source), S_OK);
        }
        const BYTE *held = target.pbFormat;
        graph_test::FailTaskAllocationAfter(row.failAt);
        HRESULT result = operation == "duplicate" ? DuplicateMediaTypeRecord(&target, &source)
                         : operation != "alloc"   ? target.AssignMediaType(operation == "self" ? target : source)
                                                  : S_OK;
        if (operation == "alloc") {
            allocated = AllocMediaTypeRecord(&source);
            result = allocated != NULL ? S_OK : E_OUTOFMEMORY;
        }
        graph_test::FailTaskAllocationAfter(-1);
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(entries.TaskBlocksOut(), row.blocksHeld);
        EXPECT_EQ(unknown.references, 1 + row.referencesHeld);
        const AM_MEDIA_TYPE &copy = allocated != NULL ? *allocated : target;
        EXPECT_EQ(copy.cbFormat, result == S_OK ? sizeof(format) : 0);
        EXPECT_EQ(copy.pUnk, result == S_OK ? counted : nullptr);
        if (result == S_OK) {
            EXPECT_EQ(memcmp(copy.pbFormat, format, sizeof(format)), 0);
            EXPECT_TRUE(operation == "self" ? copy.pbFormat == held : copy.pbFormat != format) << "own block, kept";
        }
        FreeMediaTypeRecord(allocated);
        target.ClearMediaTypeRecord();
        EXPECT_EQ(entries.TaskBlocksOut(), 0);
        EXPECT_EQ(unknown.references, 1);
    }
    FreeMediaTypeRecord(NULL);
    for (const WCHAR *text : {L"", L"Mem Reader"}) {
        WCHAR *copy = NULL;
        ASSERT_EQ(CopyWideStringToTaskMem(text, &copy), S_OK);
        EXPECT_EQ(memcmp(copy, text, (lstrlenW(text) + 1) * sizeof(WCHAR)), 0) << "with its terminator";
        MediaTaskMemFree(copy);
        graph_test::FailTaskAllocationAfter(0);
        EXPECT_EQ(CopyWideStringToTaskMem(text, &copy), E_OUTOFMEMORY);
        EXPECT_EQ(copy, nullptr);
    }
    EXPECT_EQ(CopyWideStringToTaskMem(L"x", NULL), E_POINTER);
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
    EXPECT_EQ(R_CCachedNodeList().ListTakeFirst(), nullptr);
}

// ---------------------------------------------------------------------------------------------------------------
// Filter base: interfaces, name, graph, events, clock and registration.

// Each row joins a graph (or none) under a name, then posts an event and asks for a reconnection through it.
TEST(FilterBase, KeepsNameAndGraphAndPassesEventsAndReconnectionsOn)
{
    PlatformEntries entries;
    TestFilter *filter = new TestFilter();
    IUnknown *inner = filter->InnerUnknown();
    inner->AddRef();
    for (const IID *id : {&IID_IBaseFilter, &IID_IMediaFilter, &IID_IPersist, &IID_IAMovieSetup, &IID_IPin}) {
        void *face = (void *)1;
        EXPECT_EQ(inner->QueryInterface(*id, &face), id != &IID_IPin ? S_OK : E_NOINTERFACE);
        EXPECT_EQ(face, id == &IID_IPin           ? nullptr
                        : id == &IID_IAMovieSetup ? (void *)static_cast<IAMovieSetup *>(filter)
                                                  : (void *)filter->BaseFilter());
        if (face != NULL) {
            static_cast<IUnknown *>(face)->Release();
        }
    }
    const std::wstring longName(200, L'n');
    const struct {
        bool joined, offersGraph2;
        const WCHAR *name;
        int nameLength;
        LONG code;
        LONG_PTR delivered2; // -1: the filter's own IBaseFilter, whatever was given
        HRESULT eventResult, reconnectResult;
        const char *reconnects;
    } rows[] = {
        {true, true, longName.c_str(), 127, EC_COMPLETE, -1, S_OK, S_OK, "ReconnectEx "},
        {true, false, L"Mem Reader", 10, EC_ERRORABORT, 77, S_OK, S_OK, "Reconnect "},
        {false, false, NULL, 0, EC_COMPLETE, 0, E_NOTIMPL, E_NOINTERFACE, ""},
    };
    for (const auto &row : rows) {
        RecordingGraph graph;
        graph.offersGraph2 = row.offersGraph2;
        ASSERT_EQ(filter->JoinFilterGraph(row.joined ? &graph : NULL, row.name), S_OK);
        FILTER_INFO info;
        ASSERT_EQ(filter->QueryFilterInfo(&info), S_OK);
        EXPECT_EQ(std::wstring(info.achName), std::wstring(row.name != NULL ? row.name : L"", row.nameLength));
        EXPECT_EQ(info.pGraph, row.joined ? static_cast<IFilterGraph *>(&graph) : nullptr);
        EXPECT_EQ(graph.references, row.joined ? 2 : 1) << "one reference, the caller's";
        if (info.pGraph != NULL) {
            info.pGraph->Release();
        }
        EXPECT_EQ(filter->PostGraphEvent(row.code, 3, 77), row.eventResult);
        R_CMediaTypeRecord type;
        EXPECT_EQ(filter->RequestPinReconnect(NULL, &type), row.reconnectResult);
        EXPECT_EQ(graph.events.size(), row.joined ? 1u : 0u);
        if (row.joined) {
            EXPECT_EQ(graph.events[0].parameter2,
                      row.delivered2 == -1 ? (LONG_PTR)filter->BaseFilter() : row.delivered2);
        }
        EXPECT_EQ(graph.reconnects, row.reconnects);
        EXPECT_EQ(graph.reconnectType, row.offersGraph2 ? &type : nullptr);
        EXPECT_EQ(graph.references, 1) << "the filter keeps the graph and its sink without a reference";
    }
    REFERENCE_TIME time = 5;
    EXPECT_EQ(filter->QueryStreamTime(&time), VFW_E_NO_CLOCK);
    EXPECT_EQ(time, 5);
    EXPECT_EQ(inner->Release(), 0u);
}

// COM as a registration pass finds it: already started on this thread, or refused; only a pass that started it
// ends it.
HRESULT s_ComStartAnswer;
int s_ComEnds;
HRESULT WINAPI AnsweringCoInitialize(void *)
{
    return s_ComStartAnswer;
}
void WINAPI CountingCoUninitialize()
{
    s_ComEnds++;
}

// Register and Unregister make a mapper only for a filter that describes itself, and report a refused one.
TEST(FilterBase, RegistersThroughAMapperOnlyWhenDescribed)
{
    PlatformEntries entries;
    graph_test::BindOle(OLE_CO_CREATE_INSTANCE, graph_test::AsEntry(graph_test::RefusingCoCreateInstance));
    graph_test::BindOle(OLE_CO_INITIALIZE, graph_test::AsEntry(AnsweringCoInitialize));
    graph_test::BindOle(OLE_CO_UNINITIALIZE, graph_test::AsEntry(CountingCoUninitialize));
    const FilterSetupRecord setup = {&CLSID_NULL, L"test filter", MERIT_DO_NOT_USE, 0, NULL};
    const struct {
        const FilterSetupRecord *record;
        HRESULT comStart, result;
        int creates, comEnds;
    } rows[] = {{NULL, S_OK, S_FALSE, 0, 0},
                {&setup, S_FALSE, REGDB_E_CLASSNOTREG, 2, 2},
                {&setup, RPC_E_CHANGED_MODE, REGDB_E_CLASSNOTREG, 2, 0}};
    for (const auto &row : rows) {
        graph_test::g_CreateInstanceCalls = 0;
        s_ComStartAnswer = row.comStart;
        s_ComEnds = 0;
        TestFilter filter;
        filter.InnerUnknown()->AddRef();
        filter.setup = row.record;
        EXPECT_EQ(filter.Register(), row.result);
        EXPECT_EQ(filter.Unregister(), row.result);
        EXPECT_EQ(graph_test::g_CreateInstanceCalls, row.creates);
        EXPECT_EQ(s_ComEnds, row.comEnds);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Enumerators and the state machine over test pins.

// One step of an enumerator script: Next (with a fetched count, or "nextnull" without), Skip, Reset, or Clone (the
// clone takes the enumerator's place), or "bump" (the walked set's version changes), "drop" or "add" (the filter's
// last pin is taken away behind the enumerator's back, its version unchanged, and given back). A step may refuse
// the task allocation numbered `failAt` in it, or have the pin's proposals fail after filling their records.
struct EnumeratorStep {
    const char *action;
    ULONG count;
    HRESULT result;
    const char *fetched; // pins: first letters of their names; types: their format sizes as digits
    int failAt = -1;
    HRESULT proposalAnswer = S_OK;
};

template <typename Enumerator, typename Item>
HRESULT RunEnumeratorStep(Enumerator *&enumerator, const EnumeratorStep &step, std::vector<Item> *items)
{
    const std::string action = step.action;
    items->clear();
    if (action == "next" || action == "nextnull") {
        Item got[3] = {};
        ULONG fetched = 99;
        const HRESULT result = enumerator->Next(step.count, got, action == "next" ? &fetched : NULL);
        fetched = FAILED(result) ? 0 : action == "next" ? fetched : (result == S_OK ? 1 : 0);
        EXPECT_TRUE(fetched == 3 || got[fetched] == NULL) << "nothing is left in the array past what was fetched";
        items->assign(got, got + fetched);
        return result;
    }
    if (action == "clone") {
        Enumerator *clone = (Enumerator *)1;
        const HRESULT result = enumerator->Clone(&clone);
        if (clone != NULL) {
            enumerator->Release();
            enumerator = clone;
        }
        return result;
    }
    return action == "skip" ? enumerator->Skip(step.count) : action == "reset" ? enumerator->Reset() : S_OK;
}

// The filter's pins A, B, C, the last dropped and added again behind the enumerator's back; pins are also found by
// their whole name.
TEST(PinEnumerator, FollowsThePinSetAndNeverHandsAPinOutTwice)
{
    PlatformEntries entries;
    TestFilter filter;
    filter.InnerUnknown()->AddRef();
    for (const WCHAR *name : {L"A", L"B", L"C"}) {
        filter.pins.push_back(new TestPin(&filter, name));
    }
    // clang-format off
    const EnumeratorStep steps[] = {
        {"next", 2, S_OK, "AB"}, {"clone", 0, S_OK, ""}, {"next", 2, S_FALSE, "C"}, {"next", 1, S_FALSE, ""},
        {"reset", 0, S_OK, ""}, {"skip", 2, S_OK, ""}, {"skip", 2, S_FALSE, ""}, {"next", 1, S_OK, "C"},
        {"drop", 0, S_OK, ""}, {"reset", 0, S_OK, ""}, {"add", 0, S_OK, ""}, {"next", 1, S_OK, "A"},
        {"bump", 0, S_OK, ""}, {"skip", 1, VFW_E_ENUM_OUT_OF_SYNC, ""}, {"clone", 0, VFW_E_ENUM_OUT_OF_SYNC, ""},
        {"next", 3, S_FALSE, "BC"}, {"nextnull", 2, E_INVALIDARG, ""}, {"nextnull", 1, S_FALSE, ""},
        {"reset", 0, S_OK, ""}, {"nextnull", 1, S_OK, "A"}, {"drop", 0, S_OK, ""},
        {"next", 2, VFW_E_ENUM_OUT_OF_SYNC, ""}, {"add", 0, S_OK, ""}, {"bump", 0, S_OK, ""}, {"next", 3, S_FALSE, "BC"}};
    // clang-format on
    IEnumPins *enumerator = NULL;
    ASSERT_EQ(filter.EnumPins(&enumerator), S_OK);
    R_CPinBase *dropped = NULL;
    for (const auto &step : steps) {
        SCOPED_TRACE(testing::Message() << step.action << " " << step.count);
        std::vector<IPin *> got;
        EXPECT_EQ(RunEnumeratorStep(enumerator, step, &got), step.result);
        std::string names;
        for (IPin *pin : got) {
            names += (char)static_cast<R_CPinBase *>(pin)->PinName()[0];
            pin->Release();
        }
        EXPECT_EQ(names, step.fetched);
        const std::string action = step.action;
        filter.version += action == "bump";
        if (action == "drop") {
            dropped = filter.pins.back();
            filter.pins.pop_back();
        } else if (action == "add") {
            filter.pins.push_back(dropped);
        }
    }
    EXPECT_EQ(enumerator->Release(), 0u);
    const struct {
        const WCHAR *id;
        int index; // -1 not found
    } finds[] = {{L"A", 0}, {L"C", 2}, {L"a", -1}, {L"AB", -1}, {L"", -1}, {NULL, -1}};
    for (const auto &find : finds) {
        IPin *pin = (IPin *)1;
        EXPECT_EQ(filter.FindPin(find.id, &pin), find.index >= 0 ? S_OK : VFW_E_NOT_FOUND);
        EXPECT_EQ(pin, find.index >= 0 ? filter.pins[find.index]->PinInterface() : nullptr);
        if (pin != NULL) {
            pin->Release();
        }
    }
    EXPECT_EQ(filter.FindPin(L"A", NULL), E_POINTER);
    EXPECT_EQ(filter.InnerUnknown()->AddRef(), 2u) << "every pin handed out came back";
}

// Proposals of 3- and 5-byte formats; a record and its format block stay out for each type handed out, no more
// (also when a proposal fails after filling its record, or an allocation of the record or the block fails).
TEST(MediaTypeEnumerator, HandsOutOwnedRecordsAndFollowsThePinsVersion)
{
    PlatformEntries entries;
    TestFilter filter;
    filter.InnerUnknown()->AddRef();
    TestPin *pin = new TestPin(&filter, L"In");
    filter.pins.push_back(pin);
    pin->formatSizes = {3, 5};
    // clang-format off
    const EnumeratorStep steps[] = {
        {"next", 1, S_OK, "3"}, {"next", 2, S_FALSE, "5"}, {"next", 1, S_FALSE, ""}, {"reset", 0, S_OK, ""},
        {"skip", 2, S_OK, ""}, {"skip", 1, S_FALSE, ""}, {"reset", 0, S_OK, ""}, {"next", 2, S_OK, "35"},
        {"bump", 0, S_OK, ""}, {"next", 1, VFW_E_ENUM_OUT_OF_SYNC, ""}, {"skip", 1, VFW_E_ENUM_OUT_OF_SYNC, ""},
        {"skip", 0, S_OK, ""}, {"clone", 0, VFW_E_ENUM_OUT_OF_SYNC, ""}, {"reset", 0, S_OK, ""},
        {"next", 1, S_FALSE, "", -1, E_FAIL}, {"reset", 0, S_OK, ""}, {"next", 2, S_FALSE, "", 1},
        {"reset", 0, S_OK, ""}, {"next", 2, S_FALSE, "3", 3}, {"clone", 0, S_OK, ""},
        {"nextnull", 2, E_INVALIDARG, ""}, {"nextnull", 1, S_FALSE, ""}, {"next", 0, S_OK, ""}};
    // clang-format on
    IEnumMediaTypes *enumerator = NULL;
    ASSERT_EQ(pin->EnumMediaTypes(&enumerator), S_OK);
    std::vector<AM_MEDIA_TYPE *> kept;
    for (const auto &step : steps) {
        SCOPED_TRACE(testing::Message() << step.action << " " << step.count);
        pin->proposalAnswer = step.proposalAnswer;
        pin->typeVersion += std::string(step.action) == "bump";
        graph_test::FailTaskAllocationAfter(step.failAt);
        std::vector<AM_MEDIA_TYPE *> got;
        EXPECT_EQ(RunEnumeratorStep(enumerator, step, &got), step.result);
        graph_test::FailTaskAllocationAfter(-1);
        std::string sizes;
        for (AM_MEDIA_TYPE *type : got) {
            sizes += std::to_string(type->cbFormat);
            EXPECT_EQ(type->pbFormat[type->cbFormat - 1], type->cbFormat - 1);
            kept.push_back(type);
        }
        EXPECT_EQ(sizes, step.fetched);
        EXPECT_EQ(entries.TaskBlocksOut(), (LONG)kept.size() * 2);
    }
    EXPECT_EQ(enumerator->Release(), 0u);
    for (AM_MEDIA_TYPE *type : kept) {
        EXPECT_EQ(type->majortype, MEDIATYPE_Audio) << "the records outlive the enumerator";
        FreeMediaTypeRecord(type);
    }
    EXPECT_EQ(entries.TaskBlocksOut(), 0);
}

// Two connected pins (A, B) and an unconnected one (C) that must never be called. Each row brings the filter into
// its starting state with willing pins, then sets the failures and runs the operation.
TEST(FilterStateMachine, DrivesConnectedPinsAndKeepsTheStateOnFailure)
{
    PlatformEntries entries;
    const HRESULT fail = E_ACCESSDENIED;
    const struct {
        FILTER_STATE from;
        const char *operation;
        HRESULT activateA, activateB, deactivateA, runB;
        HRESULT result;
        FILTER_STATE to;
        const char *log;
    } rows[] = {
        {State_Stopped, "stop", S_OK, S_OK, S_OK, S_OK, S_OK, State_Stopped, ""},
        {State_Running, "stop", S_OK, S_OK, fail, S_OK, fail, State_Stopped, "A- B-"},
        {State_Stopped, "pause", S_OK, S_OK, S_OK, S_OK, S_OK, State_Paused, "A+ B+"},
        {State_Stopped, "pause", fail, S_OK, S_OK, S_OK, fail, State_Stopped, "A+"},
        {State_Stopped, "pause", S_OK, fail, S_OK, S_OK, fail, State_Stopped, "A+ B+"},
        {State_Running, "pause", fail, fail, S_OK, S_OK, S_OK, State_Paused, ""},
        {State_Stopped, "run", S_OK, S_OK, S_OK, S_OK, S_OK, State_Running, "A+ B+ A>5 B>5"},
        {State_Stopped, "run", S_OK, fail, S_OK, S_OK, fail, State_Stopped, "A+ B+"},
        {State_Stopped, "run", S_OK, S_OK, S_OK, fail, fail, State_Paused, "A+ B+ A>5 B>5"},
        {State_Paused, "run", fail, S_OK, S_OK, S_OK, S_OK, State_Running, "A>5 B>5"},
        {State_Running, "run", S_OK, S_OK, S_OK, fail, S_OK, State_Running, ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << row.operation << " from " << row.from << " log " << row.log);
        TestFilter filter;
        filter.InnerUnknown()->AddRef();
        for (const WCHAR *name : {L"A", L"B", L"C"}) {
            TestPin *pin = new TestPin(&filter, name);
            pin->SetConnected(name[0] != L'C');
            pin->activateAnswer = pin->deactivateAnswer = pin->runAnswer = name[0] == L'C' ? E_UNEXPECTED : S_OK;
            filter.pins.push_back(pin);
        }
        IBaseFilter *face = filter.BaseFilter();
        const FILTER_STATE from = row.from;
        ASSERT_EQ(from == State_Running ? face->Run(0) : from == State_Paused ? face->Pause() : face->Stop(), S_OK);
        filter.log.clear();
        TestPin *a = static_cast<TestPin *>(filter.pins[0]), *b = static_cast<TestPin *>(filter.pins[1]);
        a->activateAnswer = row.activateA;
        b->activateAnswer = row.activateB;
        a->deactivateAnswer = row.deactivateA;
        b->runAnswer = row.runB;
        const std::string operation = row.operation;
        const HRESULT result = operation == "stop" ? face->Stop() : operation == "pause" ? face->Pause() : face->Run(5);
        EXPECT_EQ(result, row.result);
        FILTER_STATE state;
        EXPECT_EQ(face->GetState(0, &state), S_OK);
        EXPECT_EQ(state, row.to);
        EXPECT_EQ(filter.log, row.log);
        for (R_CPinBase *pin : filter.pins) {
            static_cast<TestPin *>(pin)->SetConnected(false);
        }
    }
}

} // namespace
