// Filter base: IBaseFilter and IAMovieSetup over a derived filter's pins. Owns the filter's state, clock, run start
// time, name and graph (without a reference), drives the connected pins through Stop, Pause and Run, finds pins by
// name, passes events to the graph's sink, and registers the filter with the platform's filter mapper. Called from
// the window thread and the platform's streaming threads; the state changes, clock, pin search and graph joining
// hold the filter lock, which the pins share.
#include "media/media_base.h"

#include <new>

// The Win32 file-not-found error in HRESULT form: a mapper reports it for entries that were never there.
static const HRESULT s_NotRegistered = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

static HRESULT NotRegisteredIsFine(HRESULT result)
{
    return result == s_NotRegistered ? S_OK : result;
}

R_CFilterBase::R_CFilterBase(const char *name, IUnknown *outer, R_CMediaLock *lock, REFCLSID classId)
    : R_CMediaUnknown(name, outer), m_State(State_Stopped), m_Clock(NULL), m_StartTime(0), m_ClassId(classId),
      m_Lock(lock), m_Name(NULL), m_Graph(NULL), m_EventSink(NULL), m_PinVersion(1)
{
}

R_CFilterBase::R_CFilterBase(const char *name, IUnknown *outer, R_CMediaLock *lock, REFCLSID classId, HRESULT *result)
    : R_CFilterBase(name, outer, lock, classId)
{
    (void)result;
}

R_CFilterBase::~R_CFilterBase()
{
    delete[] m_Name;
    if (m_Clock != NULL) {
        m_Clock->Release();
    }
}

HRESULT STDMETHODCALLTYPE R_CFilterBase::InnerQueryInterface(REFIID id, void **out)
{
    if (out != NULL &&
        (IsEqualIID(id, IID_IBaseFilter) || IsEqualIID(id, IID_IMediaFilter) || IsEqualIID(id, IID_IPersist))) {
        return HandOutInterface(BaseFilter(), out);
    }
    if (out != NULL && IsEqualIID(id, IID_IAMovieSetup)) {
        return HandOutInterface(static_cast<IAMovieSetup *>(this), out);
    }
    return R_CMediaUnknown::InnerQueryInterface(id, out);
}

HRESULT R_CFilterBase::QueryStreamTime(REFERENCE_TIME *time)
{
    if (m_Clock == NULL) {
        return VFW_E_NO_CLOCK;
    }
    HRESULT result = m_Clock->GetTime(time);
    if (FAILED(result)) {
        return result;
    }
    *time -= m_StartTime;
    return S_OK;
}

int R_CFilterBase::PinListVersion()
{
    return m_PinVersion;
}

const FilterSetupRecord *R_CFilterBase::DescribeForRegistration()
{
    return NULL;
}

// ---------------------------------------------------------------------------------------------------------------
// State machine. Only connected pins take part; the filter lock is held over every pin call.

static R_CPinBase *ConnectedPinAt(R_CFilterBase *filter, int index)
{
    R_CPinBase *pin = filter->PinAtIndex(index);
    return pin != NULL && pin->IsConnected() ? pin : NULL;
}

HRESULT STDMETHODCALLTYPE R_CFilterBase::Stop()
{
    R_CMediaLockScope scope(m_Lock);
    HRESULT first = S_OK;
    if (m_State != State_Stopped) {
        for (int i = 0; i < CountPins(); i++) {
            R_CPinBase *pin = ConnectedPinAt(this, i);
            HRESULT result = pin != NULL ? pin->Deactivate() : S_OK;
            if (FAILED(result) && SUCCEEDED(first)) {
                first = result;
            }
        }
    }
    m_State = State_Stopped;
    return first;
}

HRESULT STDMETHODCALLTYPE R_CFilterBase::Pause()
{
    R_CMediaLockScope scope(m_Lock);
    if (m_State == State_Stopped) {
        for (int i = 0; i < CountPins(); i++) {
            R_CPinBase *pin = ConnectedPinAt(this, i);
            HRESULT result = pin != NULL ? pin->Activate() : S_OK;
            if (FAILED(result)) {
                return result;
            }
        }
    }
    m_State = State_Paused;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CFilterBase::Run(REFERENCE_TIME start)
{
    R_CMediaLockScope scope(m_Lock);
    m_StartTime = start;
    if (m_State == State_Stopped) {
        HRESULT result = BaseFilter()->Pause(); // a derived filter's own Pause
        if (FAILED(result)) {
            return result;
        }
    }
    if (m_State != State_Running) {
        for (int i = 0; i < CountPins(); i++) {
            R_CPinBase *pin = ConnectedPinAt(this, i);
            HRESULT result = pin != NULL ? pin->RunAt(start) : S_OK;
            if (FAILED(result)) {
                return result;
            }
        }
    }
    m_State = State_Running;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CFilterBase::GetState(DWORD timeout, FILTER_STATE *out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    *out = m_State;
    return S_OK;
}

// ---------------------------------------------------------------------------------------------------------------
// Clock, pins, name and graph.

HRESULT STDMETHODCALLTYPE R_CFilterBase::GetClassID(CLSID *out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    *out = m_ClassId;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CFilterBase::SetSyncSource(IReferenceClock *clock)
{
    R_CMediaLockScope scope(m_Lock);
    if (clock != NULL) {
        clock->AddRef();
    }
    if (m_Clock != NULL) {
        m_Clock->Release();
    }
    m_Clock = clock;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CFilterBase::GetSyncSource(IReferenceClock **out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    R_CMediaLockScope scope(m_Lock);
    if (m_Clock != NULL) {
        m_Clock->AddRef();
    }
    *out = m_Clock;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CFilterBase::EnumPins(IEnumPins **out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    *out = new (std::nothrow) R_CPinEnumerator(this, NULL);
    return *out != NULL ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE R_CFilterBase::FindPin(LPCWSTR id, IPin **out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    R_CMediaLockScope scope(m_Lock);
    for (int i = 0; i < CountPins(); i++) {
        R_CPinBase *pin = PinAtIndex(i);
        if (pin != NULL && id != NULL && lstrcmpW(pin->PinName(), id) == 0) {
            return HandOutInterface(pin->PinInterface(), (void **)out);
        }
    }
    *out = NULL;
    return VFW_E_NOT_FOUND;
}

HRESULT STDMETHODCALLTYPE R_CFilterBase::QueryFilterInfo(FILTER_INFO *out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    lstrcpynW(out->achName, m_Name != NULL ? m_Name : L"", ARRAYSIZE(out->achName));
    out->pGraph = m_Graph;
    if (m_Graph != NULL) {
        m_Graph->AddRef();
    }
    return S_OK;
}

// The sink is kept without a reference: the graph owns this filter, and a reference back would keep both alive.
HRESULT STDMETHODCALLTYPE R_CFilterBase::JoinFilterGraph(IFilterGraph *graph, LPCWSTR name)
{
    R_CMediaLockScope scope(m_Lock);
    m_Graph = graph;
    m_EventSink = NULL;
    IMediaEventSink *sink = NULL;
    if (graph != NULL && SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, (void **)&sink)) && sink != NULL) {
        sink->Release();
        m_EventSink = sink;
    }
    delete[] m_Name;
    m_Name = NULL;
    if (name != NULL) {
        const int length = lstrlenW(name);
        m_Name = new (std::nothrow) WCHAR[length + 1];
        if (m_Name != NULL) {
            lstrcpynW(m_Name, name, length + 1);
        }
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CFilterBase::QueryVendorInfo(LPWSTR *out)
{
    return E_NOTIMPL;
}

HRESULT R_CFilterBase::PostGraphEvent(LONG code, LONG_PTR parameter1, LONG_PTR parameter2)
{
    if (m_EventSink == NULL) {
        return E_NOTIMPL;
    }
    if (code == EC_COMPLETE) {
        parameter2 = (LONG_PTR)BaseFilter();
    }
    return m_EventSink->Notify(code, parameter1, parameter2);
}

HRESULT R_CFilterBase::RequestPinReconnect(IPin *pin, const AM_MEDIA_TYPE *type)
{
    if (m_Graph == NULL) {
        return E_NOINTERFACE;
    }
    IFilterGraph2 *graph2 = NULL;
    if (SUCCEEDED(m_Graph->QueryInterface(IID_IFilterGraph2, (void **)&graph2)) && graph2 != NULL) {
        HRESULT result = graph2->ReconnectEx(pin, type);
        graph2->Release();
        return result;
    }
    return m_Graph->Reconnect(pin);
}

// ---------------------------------------------------------------------------------------------------------------
// Registration with the platform's filter mapper.

// Unregistering first, then (when registering) the filter, each pin and each of its types; the first failure ends
// the walk.
HRESULT RegisterFilterSetup(const FilterSetupRecord *record, IFilterMapper *mapper, BOOL doRegister)
{
    if (record == NULL) {
        return S_FALSE;
    }
    const CLSID &classId = *record->classId;
    HRESULT result = NotRegisteredIsFine(mapper->UnregisterFilter(classId));
    if (!doRegister) {
        return result;
    }
    result = NotRegisteredIsFine(mapper->RegisterFilter(classId, record->name, record->merit));
    for (UINT p = 0; p < record->pinCount && SUCCEEDED(result); p++) {
        const PinSetupRecord &pin = record->pins[p];
        result = NotRegisteredIsFine(
            mapper->RegisterPin(classId, pin.name, pin.rendered, pin.output, pin.zero, pin.many,
                                pin.connectsToFilter != NULL ? *pin.connectsToFilter : CLSID_NULL, pin.connectsToPin));
        for (UINT t = 0; t < pin.typeCount && SUCCEEDED(result); t++) {
            result = NotRegisteredIsFine(
                mapper->RegisterPinType(classId, pin.name, *pin.types[t].majorType, *pin.types[t].subtype));
        }
    }
    return result;
}

// One pass with a mapper made for it; the mapper's or the walk's result. COM is left as it was found: it is ended
// only when this pass's start succeeded.
static HRESULT RunRegistration(const FilterSetupRecord *record, BOOL doRegister)
{
    const HRESULT started = MediaCoInitialize();
    IFilterMapper *mapper = NULL;
    HRESULT result =
        MediaCoCreateInstance(CLSID_FilterMapper, NULL, CLSCTX_INPROC_SERVER, IID_IFilterMapper, (void **)&mapper);
    if (SUCCEEDED(result) && mapper != NULL) {
        result = RegisterFilterSetup(record, mapper, doRegister);
        mapper->Release();
    }
    MediaCoFreeUnusedLibraries();
    if (SUCCEEDED(started)) {
        MediaCoUninitialize();
    }
    return result;
}

// A filter that describes no registration has nothing to do (S_FALSE). A failed registration is reported, not
// passed off as done.
static HRESULT RegisterDescribed(const FilterSetupRecord *record, BOOL doRegister)
{
    return record != NULL ? NotRegisteredIsFine(RunRegistration(record, doRegister)) : S_FALSE;
}

HRESULT STDMETHODCALLTYPE R_CFilterBase::Register()
{
    return RegisterDescribed(DescribeForRegistration(), TRUE);
}

HRESULT STDMETHODCALLTYPE R_CFilterBase::Unregister()
{
    return RegisterDescribed(DescribeForRegistration(), FALSE);
}
