// Pin base: IPin and IQualityControl, the connection protocol between an output and an input pin, the negotiation
// of the media type, disconnection, the queries, the segment values and the quality sink. A pin lives inside its
// filter: its references are the filter's and it shares the filter's lock. Connect, ReceiveConnection, Disconnect,
// ConnectionMediaType and SetSink run under that lock (usually on the window thread); the queries and NewSegment
// take none and may come from a streaming thread.
#include "media/media_base.h"

#include <new>

bool IsRefusalCode(HRESULT result)
{
    return result == E_FAIL || result == E_INVALIDARG || result == VFW_E_TYPE_NOT_ACCEPTED;
}

// A refusal of a type by AcceptsMediaType, as the connecting side reports it.
static HRESULT RefusalResult(HRESULT accepted)
{
    return SUCCEEDED(accepted) || accepted == E_FAIL || accepted == E_INVALIDARG ? VFW_E_TYPE_NOT_ACCEPTED : accepted;
}

static WCHAR *CopyPinName(const WCHAR *name)
{
    if (name == NULL) {
        return NULL;
    }
    const size_t length = wcslen(name);
    WCHAR *copy = new (std::nothrow) WCHAR[length + 1];
    if (copy != NULL) {
        memcpy(copy, name, (length + 1) * sizeof(WCHAR));
    }
    return copy;
}

R_CPinBase::R_CPinBase(const char *name, R_CFilterBase *filter, R_CMediaLock *lock, HRESULT *result,
                       const WCHAR *pinName, PIN_DIRECTION direction)
    : R_CMediaUnknown(name, NULL), m_Name(CopyPinName(pinName)), m_Connected(NULL), m_Direction(direction),
      m_Lock(lock), m_RuntimeError(false), m_ReconnectWhenActive(false), m_TryOwnTypesFirst(false), m_Filter(filter),
      m_QualitySink(NULL), m_MediaTypeVersion(1), m_SegmentStart(0), m_SegmentStop(0x7FFFFFFFFFFFFFFFLL),
      m_SegmentRate(1.0)
{
    (void)result;
}

// A connected pin is not released here: the connection holds a reference on this filter, so a pin is only
// destroyed after its connection was broken.
R_CPinBase::~R_CPinBase()
{
    delete[] m_Name;
}

// ---------------------------------------------------------------------------------------------------------------
// Unknown: the interfaces, and the references that belong to the filter.

HRESULT STDMETHODCALLTYPE R_CPinBase::InnerQueryInterface(REFIID id, void **out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    if (IsEqualIID(id, IID_IPin)) {
        return HandOutInterface(static_cast<IPin *>(this), out);
    }
    if (IsEqualIID(id, IID_IQualityControl)) {
        return HandOutInterface(static_cast<IQualityControl *>(this), out);
    }
    return R_CMediaUnknown::InnerQueryInterface(id, out);
}

ULONG STDMETHODCALLTYPE R_CPinBase::InnerAddRef()
{
    return m_Filter->BaseFilter()->AddRef();
}

ULONG STDMETHODCALLTYPE R_CPinBase::InnerRelease()
{
    return m_Filter->BaseFilter()->Release();
}

// ---------------------------------------------------------------------------------------------------------------
// Base behaviour of the virtual steps; the stream pins replace the connection resources.

int R_CPinBase::MediaTypeListVersion()
{
    return m_MediaTypeVersion;
}

HRESULT R_CPinBase::Activate()
{
    return S_OK;
}

HRESULT R_CPinBase::Deactivate()
{
    m_RuntimeError = false;
    return S_OK;
}

HRESULT R_CPinBase::RunAt(REFERENCE_TIME start)
{
    return S_OK;
}

HRESULT R_CPinBase::AdoptMediaType(const AM_MEDIA_TYPE *type)
{
    return m_ConnectionType.AssignMediaType(*type);
}

// A peer that cannot say its direction is refused with its own answer rather than judged by an unset value.
HRESULT R_CPinBase::VerifyPeer(IPin *peer)
{
    PIN_DIRECTION direction = m_Direction;
    const HRESULT result = peer->QueryDirection(&direction);
    if (FAILED(result)) {
        return result;
    }
    return direction == m_Direction ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT R_CPinBase::ReleaseConnectionResources()
{
    return S_OK;
}

HRESULT R_CPinBase::FinishConnection(IPin *peer)
{
    return S_OK;
}

HRESULT R_CPinBase::ProposeMediaType(int position, AM_MEDIA_TYPE *type)
{
    return E_UNEXPECTED;
}

HRESULT R_CPinBase::DropConnection()
{
    if (m_Connected == NULL) {
        return S_FALSE;
    }
    const HRESULT result = ReleaseConnectionResources();
    if (FAILED(result)) {
        return result;
    }
    m_Connected->Release();
    m_Connected = NULL;
    return S_OK;
}

// ---------------------------------------------------------------------------------------------------------------
// Connection protocol. The output side's Connect keeps its filter lock while the input side's ReceiveConnection
// takes the peer filter's lock.

HRESULT R_CPinBase::CanConnectNow() const
{
    if (m_Connected != NULL) {
        return VFW_E_ALREADY_CONNECTED;
    }
    return m_Filter->IsStopped() || m_ReconnectWhenActive ? S_OK : VFW_E_NOT_STOPPED;
}

HRESULT STDMETHODCALLTYPE R_CPinBase::Connect(IPin *receivePin, const AM_MEDIA_TYPE *type)
{
    if (receivePin == NULL) {
        return E_POINTER;
    }
    R_CMediaLockScope scope(m_Lock);
    HRESULT result = CanConnectNow();
    if (result != S_OK) {
        return result;
    }
    result = NegotiateMediaType(receivePin, type);
    if (FAILED(result)) {
        ReleaseConnectionResources();
        return result;
    }
    return S_OK;
}

// The first failure that is not a mere refusal is what the caller sees, whichever pass met it; a pass whose types
// were all refused does not hide it.
HRESULT R_CPinBase::NegotiateMediaType(IPin *receivePin, const AM_MEDIA_TYPE *type)
{
    if (type != NULL && !static_cast<const R_CMediaTypeRecord *>(type)->HasWildcardIds()) {
        return TryConnectWithType(receivePin, type);
    }
    HRESULT result = VFW_E_NO_ACCEPTABLE_TYPES;
    for (int pass = 0; pass < 2; ++pass) {
        IPin *owner = pass == (m_TryOwnTypesFirst ? 1 : 0) ? receivePin : PinInterface();
        IEnumMediaTypes *types = NULL;
        if (FAILED(owner->EnumMediaTypes(&types)) || types == NULL) {
            continue;
        }
        const HRESULT attempt = TryMediaTypeList(receivePin, type, types);
        types->Release();
        if (SUCCEEDED(attempt)) {
            return S_OK;
        }
        if (result == VFW_E_NO_ACCEPTABLE_TYPES && !IsRefusalCode(attempt)) {
            result = attempt;
        }
    }
    return result;
}

// Any success ends the walk: the pin is connected then, and trying a further type would connect it twice.
HRESULT R_CPinBase::TryMediaTypeList(IPin *receivePin, const AM_MEDIA_TYPE *partial, IEnumMediaTypes *types)
{
    HRESULT result = types->Reset();
    if (FAILED(result)) {
        return result;
    }
    HRESULT kept = S_OK;
    AM_MEDIA_TYPE *fetched = NULL;
    ULONG count = 0;
    while (types->Next(1, &fetched, &count) == S_OK && fetched != NULL) {
        const bool wanted = partial == NULL || static_cast<R_CMediaTypeRecord *>(fetched)->MatchesPattern(*partial);
        result = wanted ? TryConnectWithType(receivePin, fetched) : VFW_E_TYPE_NOT_ACCEPTED;
        FreeMediaTypeRecord(fetched);
        fetched = NULL;
        if (SUCCEEDED(result)) {
            return result;
        }
        if (kept == S_OK && !IsRefusalCode(result)) {
            kept = result;
        }
    }
    return kept != S_OK ? kept : VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT R_CPinBase::TryConnectWithType(IPin *receivePin, const AM_MEDIA_TYPE *type)
{
    HRESULT result = VerifyPeer(receivePin);
    if (FAILED(result)) {
        ReleaseConnectionResources();
        return result;
    }
    result = AcceptsMediaType(type);
    if (result != S_OK) {
        result = RefusalResult(result);
    } else {
        m_Connected = receivePin;
        m_Connected->AddRef();
        result = AdoptMediaType(type);
        if (SUCCEEDED(result)) {
            result = receivePin->ReceiveConnection(PinInterface(), type);
        }
        if (SUCCEEDED(result)) {
            result = FinishConnection(receivePin);
            if (SUCCEEDED(result)) {
                return result;
            }
            receivePin->Disconnect();
        }
    }
    AbandonConnection();
    return result;
}

HRESULT STDMETHODCALLTYPE R_CPinBase::ReceiveConnection(IPin *connector, const AM_MEDIA_TYPE *type)
{
    if (connector == NULL || type == NULL) {
        return E_POINTER;
    }
    R_CMediaLockScope scope(m_Lock);
    HRESULT result = CanConnectNow();
    if (result != S_OK) {
        return result;
    }
    result = VerifyPeer(connector);
    if (FAILED(result)) {
        ReleaseConnectionResources();
        return result;
    }
    result = AcceptsMediaType(type);
    if (result != S_OK) {
        ReleaseConnectionResources();
        return RefusalResult(result);
    }
    m_Connected = connector;
    m_Connected->AddRef();
    result = AdoptMediaType(type);
    if (SUCCEEDED(result)) {
        result = FinishConnection(connector);
    }
    if (FAILED(result)) {
        AbandonConnection();
        return result;
    }
    return S_OK;
}

// A failed attempt leaves the pin unconnected with its connection resources released.
void R_CPinBase::AbandonConnection()
{
    ReleaseConnectionResources();
    if (m_Connected != NULL) {
        m_Connected->Release();
        m_Connected = NULL;
    }
}

HRESULT STDMETHODCALLTYPE R_CPinBase::Disconnect()
{
    R_CMediaLockScope scope(m_Lock);
    if (!m_Filter->IsStopped()) {
        return VFW_E_NOT_STOPPED;
    }
    return DropConnection();
}

// ---------------------------------------------------------------------------------------------------------------
// Queries.

HRESULT STDMETHODCALLTYPE R_CPinBase::ConnectedTo(IPin **out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    IPin *connected = m_Connected;
    *out = connected;
    if (connected == NULL) {
        return VFW_E_NOT_CONNECTED;
    }
    connected->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CPinBase::ConnectionMediaType(AM_MEDIA_TYPE *out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    R_CMediaLockScope scope(m_Lock);
    if (m_Connected == NULL) {
        ResetToBlank(out);
        return VFW_E_NOT_CONNECTED;
    }
    DuplicateMediaTypeRecord(out, &m_ConnectionType);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CPinBase::QueryPinInfo(PIN_INFO *out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    out->pFilter = m_Filter->BaseFilter();
    out->pFilter->AddRef();
    lstrcpynW(out->achName, m_Name != NULL ? m_Name : L"", MAX_PIN_NAME);
    out->dir = m_Direction;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CPinBase::QueryDirection(PIN_DIRECTION *out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    *out = m_Direction;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CPinBase::QueryId(LPWSTR *out)
{
    return CopyWideStringToTaskMem(m_Name != NULL ? m_Name : L"", out);
}

HRESULT STDMETHODCALLTYPE R_CPinBase::QueryAccept(const AM_MEDIA_TYPE *type)
{
    if (type == NULL) {
        return E_POINTER;
    }
    const HRESULT result = AcceptsMediaType(type);
    return FAILED(result) ? S_FALSE : result;
}

HRESULT STDMETHODCALLTYPE R_CPinBase::EnumMediaTypes(IEnumMediaTypes **out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    R_CMediaTypeEnumerator *types = new (std::nothrow) R_CMediaTypeEnumerator(this, NULL);
    *out = types;
    return types != NULL ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE R_CPinBase::QueryInternalConnections(IPin **pins, ULONG *count)
{
    return E_NOTIMPL;
}

// Stream notices belong to input pins; on any other pin they are out of place.
HRESULT STDMETHODCALLTYPE R_CPinBase::EndOfStream()
{
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE R_CPinBase::BeginFlush()
{
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE R_CPinBase::EndFlush()
{
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE R_CPinBase::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    m_SegmentStart = start;
    m_SegmentStop = stop;
    m_SegmentRate = rate;
    return S_OK;
}

// ---------------------------------------------------------------------------------------------------------------
// Quality control: the base keeps the sink and drops notices.

HRESULT STDMETHODCALLTYPE R_CPinBase::Notify(IBaseFilter *sender, Quality quality)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE R_CPinBase::SetSink(IQualityControl *sink)
{
    R_CMediaLockScope scope(m_Lock);
    m_QualitySink = sink;
    return S_OK;
}
