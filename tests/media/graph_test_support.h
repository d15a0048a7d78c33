// Media graph tests: the platform's ole32 and winmm entries bound for a test without the engine (task memory counted,
// one allocation refusable), a refusing CoCreateInstance, a recording graph, and a test filter and pin whose pins,
// versions, proposals and answers the test sets. The counters are atomic: the platform's streaming threads allocate.
#pragma once

#include <windows.h>

#include <dshow.h>
#include <mmsystem.h>

#include <string>
#include <vector>

#include "core/core_test_hooks.h"
#include "media/media_base.h"

namespace graph_test
{

inline volatile LONG g_TaskBlocksOut = 0;       // task blocks allocated through the bound entry and not yet freed
inline volatile LONG g_TaskFailCountdown = -1;  // allocations still to succeed before one fails; -1 never
inline volatile LONG g_CreateInstanceCalls = 0; // calls to RefusingCoCreateInstance

inline void *WINAPI CountingTaskMemAlloc(SIZE_T size)
{
    if (g_TaskFailCountdown >= 0 && InterlockedDecrement(&g_TaskFailCountdown) == -1) {
        return NULL;
    }
    void *block = CoTaskMemAlloc(size);
    if (block != NULL) {
        InterlockedIncrement(&g_TaskBlocksOut);
    }
    return block;
}

inline void WINAPI CountingTaskMemFree(void *block)
{
    if (block != NULL) {
        InterlockedDecrement(&g_TaskBlocksOut);
    }
    CoTaskMemFree(block);
}

inline HRESULT WINAPI RefusingCoCreateInstance(REFCLSID, IUnknown *, DWORD, REFIID, void **out)
{
    InterlockedIncrement(&g_CreateInstanceCalls);
    *out = NULL;
    return REGDB_E_CLASSNOTREG;
}

// Any function as a bound entry (through the one pointer type that casts from every function without a warning).
template <typename Function> FARPROC AsEntry(Function function)
{
    return (FARPROC)(void (*)(void))function;
}

inline void BindOle(int index, FARPROC entry)
{
    SetBoundEntryForTest(BOUND_OLE32, index, entry);
}

// Lets the next `count` task allocations succeed and refuses the one after (once); -1 turns it off.
inline void FailTaskAllocationAfter(int count)
{
    InterlockedExchange(&g_TaskFailCountdown, count);
}

// The fakes below keep their one-line members on one line.
// clang-format off

// Binds the platform's COM and clock entries for the life of the scope, task memory counted, and starts COM on
// this thread. Tests that start the engine need none of it.
class PlatformEntries {
public:
    PlatformEntries()
    {
        BindOle(OLE_CO_TASK_MEM_ALLOC, AsEntry(CountingTaskMemAlloc));
        BindOle(OLE_CO_TASK_MEM_FREE, AsEntry(CountingTaskMemFree));
        BindOle(OLE_CO_CREATE_INSTANCE, AsEntry(CoCreateInstance));
        BindOle(OLE_CO_INITIALIZE, AsEntry(CoInitialize));
        BindOle(OLE_CO_FREE_UNUSED_LIBRARIES, AsEntry(CoFreeUnusedLibraries));
        BindOle(OLE_CO_UNINITIALIZE, AsEntry(CoUninitialize));
        SetBoundEntryForTest(BOUND_WINMM, WINMM_TIME_GET_TIME, AsEntry(timeGetTime));
        FailTaskAllocationAfter(-1);
        CoInitialize(NULL);
    }
    ~PlatformEntries()
    {
        CoUninitialize();
        for (int index : {OLE_CO_CREATE_INSTANCE, OLE_CO_TASK_MEM_ALLOC, OLE_CO_TASK_MEM_FREE, OLE_CO_INITIALIZE,
                          OLE_CO_FREE_UNUSED_LIBRARIES, OLE_CO_UNINITIALIZE}) {
            BindOle(index, NULL);
        }
        SetBoundEntryForTest(BOUND_WINMM, WINMM_TIME_GET_TIME, NULL);
        FailTaskAllocationAfter(-1);
    }
    LONG TaskBlocksOut() const { return g_TaskBlocksOut; }
};

// A graph that only records the events its sink is told of and the reconnections asked for (through IFilterGraph2
// when `offersGraph2`); also a plain unknown that counts its references (never freed) and the queries it answers.
class RecordingGraph : public IFilterGraph2, public IMediaEventSink {
public:
    struct Event {
        LONG code;
        LONG_PTR parameter1, parameter2;
    };
    LONG references = 1;
    int queries = 0;
    bool offersGraph2 = true;
    std::vector<Event> events;
    std::string reconnects; // "Reconnect " or "ReconnectEx " per call
    const AM_MEDIA_TYPE *reconnectType = NULL;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void **out) override
    {
        queries++;
        if (IsEqualIID(id, IID_IMediaEventSink)) {
            *out = static_cast<IMediaEventSink *>(this);
        } else if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IFilterGraph) ||
                   (offersGraph2 && IsEqualIID(id, IID_IFilterGraph2))) {
            *out = static_cast<IFilterGraph2 *>(this);
        } else {
            *out = NULL;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references); }
    ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&references); }
    HRESULT STDMETHODCALLTYPE Notify(LONG code, LONG_PTR parameter1, LONG_PTR parameter2) override
    {
        events.push_back({code, parameter1, parameter2});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reconnect(IPin *) override { return reconnects += "Reconnect ", S_OK; }
    HRESULT STDMETHODCALLTYPE ReconnectEx(IPin *, const AM_MEDIA_TYPE *type) override
    {
        return reconnects += "ReconnectEx ", reconnectType = type, S_OK;
    }
    // Nothing else is used by the filters under test.
    HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter *, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR, IBaseFilter **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ConnectDirect(IPin *, IPin *, const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Disconnect(IPin *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Connect(IPin *, IPin *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Render(IPin *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RenderFile(LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetLogFile(DWORD_PTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Abort() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ShouldOperationContinue() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddSourceFilterForMoniker(IMoniker *, IBindCtx *, LPCWSTR, IBaseFilter **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RenderEx(IPin *, DWORD, DWORD *) override { return E_NOTIMPL; }
};

// A filter over pins the test gives it (deleted with the filter), with a pin-set version and a registration record
// the test may change.
class TestFilter : public R_CFilterBase {
public:
    explicit TestFilter(IUnknown *outer = NULL) : R_CFilterBase("test filter", outer, &m_OwnLock, CLSID_NULL) {}
    ~TestFilter() override
    {
        for (R_CPinBase *pin : pins) {
            delete pin;
        }
    }
    int CountPins() override { return (int)pins.size(); }
    R_CPinBase *PinAtIndex(int index) override { return index >= 0 && index < CountPins() ? pins[index] : NULL; }
    int PinListVersion() override { return version; }
    const FilterSetupRecord *DescribeForRegistration() override { return setup; }

    std::vector<R_CPinBase *> pins;
    int version = 1;
    const FilterSetupRecord *setup = NULL;
    std::string log; // the pins' state calls, as "I+ O- I>5" (activate, deactivate, run at 5)

private:
    R_CMediaLock m_OwnLock;
};

// A pin of a TestFilter. It proposes the audio types of `formatSizes` (format bytes 0, 1, 2...), each answered
// with `proposalAnswer` after the record was filled; Activate, Deactivate and RunAt log and give the answers set.
class TestPin : public R_CPinBase {
public:
    TestPin(TestFilter *filter, const WCHAR *name)
        : R_CPinBase("test pin", filter, filter->FilterLock(), NULL, name, PINDIR_INPUT), m_Owner(filter)
    {
    }
    HRESULT AcceptsMediaType(const AM_MEDIA_TYPE *) override { return S_OK; }
    int MediaTypeListVersion() override { return typeVersion; }
    HRESULT ProposeMediaType(int position, AM_MEDIA_TYPE *type) override
    {
        if (position < 0 || position >= (int)formatSizes.size()) {
            return VFW_S_NO_MORE_ITEMS;
        }
        type->majortype = MEDIATYPE_Audio;
        type->cbFormat = formatSizes[position];
        type->pbFormat = (BYTE *)MediaTaskMemAlloc(type->cbFormat);
        if (type->pbFormat == NULL) {
            return type->cbFormat = 0, E_OUTOFMEMORY;
        }
        for (ULONG i = 0; i < type->cbFormat; i++) {
            type->pbFormat[i] = (BYTE)i;
        }
        return proposalAnswer;
    }
    HRESULT Activate() override { return Record("+", activateAnswer); }
    HRESULT Deactivate() override { return Record("-", deactivateAnswer); }
    HRESULT RunAt(REFERENCE_TIME start) override { return Record(">" + std::to_string(start), runAnswer); }
    // Counts as connected (to itself, without a reference) or not.
    void SetConnected(bool connected) { m_Connected = connected ? PinInterface() : NULL; }

    std::vector<ULONG> formatSizes;
    HRESULT proposalAnswer = S_OK;
    int typeVersion = 1;
    HRESULT activateAnswer = S_OK, deactivateAnswer = S_OK, runAnswer = S_OK;

private:
    HRESULT Record(const std::string &call, HRESULT answer)
    {
        m_Owner->log += (m_Owner->log.empty() ? "" : " ") + std::string(1, (char)PinName()[0]) + call;
        return answer;
    }
    TestFilter *m_Owner;
};
// clang-format on

} // namespace graph_test
