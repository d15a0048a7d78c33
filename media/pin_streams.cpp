// Stream pins: the input pin's IMemInputPin (the allocator it was told of, the read-only and flushing flags, the
// properties of the sample being received, and whether a sample may be received now) and the output pin's side
// (the allocator choice when a connection is finished, commit and decommit with the filter's state, pushing
// samples and stream notices to the connected input). Receive and the pushes run on the upstream streaming thread
// without a lock; the allocator calls and the flush steps take the filter lock on the window thread.
#include "media/media_base.h"

HRESULT CreatePlatformAllocator(IMemAllocator **out)
{
    const HRESULT result = MediaCoCreateInstance(CLSID_MemoryAllocator, NULL, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                                 reinterpret_cast<void **>(out));
    if (FAILED(result)) {
        *out = NULL;
    }
    return result;
}

// ---------------------------------------------------------------------------------------------------------------
// Input pin.

R_CInputPinBase::R_CInputPinBase(const char *name, R_CFilterBase *filter, R_CMediaLock *lock, HRESULT *result,
                                 const WCHAR *pinName)
    : R_CPinBase(name, filter, lock, result, pinName, PINDIR_INPUT), m_Allocator(NULL), m_ReadOnly(false),
      m_Flushing(false), m_SampleProperties(), m_SampleTypeIsCopy(false)
{
}

R_CInputPinBase::~R_CInputPinBase()
{
    FreeSampleTypeCopy();
    if (m_Allocator != NULL) {
        m_Allocator->Release();
    }
}

HRESULT STDMETHODCALLTYPE R_CInputPinBase::InnerQueryInterface(REFIID id, void **out)
{
    if (out != NULL && IsEqualIID(id, IID_IMemInputPin)) {
        return HandOutInterface(static_cast<IMemInputPin *>(this), out);
    }
    return R_CPinBase::InnerQueryInterface(id, out);
}

// The recorded sample type is kept here: the upstream thread may still be inside Receive while the filter stops.
HRESULT R_CInputPinBase::Deactivate()
{
    m_RuntimeError = false;
    if (m_Allocator == NULL) {
        return VFW_E_NO_ALLOCATOR;
    }
    m_Flushing = false;
    return m_Allocator->Decommit();
}

HRESULT R_CInputPinBase::ReleaseConnectionResources()
{
    FreeSampleTypeCopy();
    if (m_Allocator != NULL) {
        const HRESULT result = m_Allocator->Decommit();
        if (FAILED(result)) {
            return result;
        }
        m_Allocator->Release();
        m_Allocator = NULL;
    }
    return S_OK;
}

HRESULT R_CInputPinBase::CanReceiveNow()
{
    if (m_Flushing) {
        return S_FALSE;
    }
    if (m_Filter->IsStopped()) {
        return VFW_E_WRONG_STATE;
    }
    return m_RuntimeError ? VFW_E_RUNTIME_ERROR : S_OK;
}

HRESULT R_CInputPinBase::BeginFlushStep()
{
    R_CMediaLockScope scope(m_Lock);
    m_Flushing = true;
    return S_OK;
}

HRESULT R_CInputPinBase::EndFlushStep()
{
    R_CMediaLockScope scope(m_Lock);
    m_Flushing = false;
    m_RuntimeError = false;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CInputPinBase::Notify(IBaseFilter *sender, Quality quality)
{
    return sender != NULL ? S_OK : E_POINTER;
}

HRESULT R_CInputPinBase::ForwardQualityNotice(Quality quality)
{
    if (m_QualitySink != NULL) {
        return m_QualitySink->Notify(m_Filter->BaseFilter(), quality);
    }
    IQualityControl *control = NULL;
    if (m_Connected == NULL ||
        FAILED(m_Connected->QueryInterface(IID_IQualityControl, reinterpret_cast<void **>(&control)))) {
        return VFW_E_NOT_FOUND;
    }
    const HRESULT result = control->Notify(m_Filter->BaseFilter(), quality);
    control->Release();
    return result;
}

HRESULT STDMETHODCALLTYPE R_CInputPinBase::GetAllocator(IMemAllocator **out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    R_CMediaLockScope scope(m_Lock);
    if (m_Allocator == NULL) {
        const HRESULT result = CreatePlatformAllocator(&m_Allocator);
        if (FAILED(result)) {
            *out = NULL;
            return result;
        }
    }
    *out = m_Allocator;
    m_Allocator->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CInputPinBase::NotifyAllocator(IMemAllocator *allocator, BOOL readOnly)
{
    if (allocator == NULL) {
        return E_POINTER;
    }
    R_CMediaLockScope scope(m_Lock);
    allocator->AddRef();
    if (m_Allocator != NULL) {
        m_Allocator->Release();
    }
    m_Allocator = allocator;
    m_ReadOnly = readOnly != FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CInputPinBase::GetAllocatorRequirements(ALLOCATOR_PROPERTIES *out)
{
    return E_NOTIMPL;
}

// The type a sample hands out through GetMediaType is the caller's copy; the type inside IMediaSample2's properties
// is the sample's own. Only the copy is freed: when the next sample is recorded, on disconnection and with the pin.
void R_CInputPinBase::FreeSampleTypeCopy()
{
    if (m_SampleTypeIsCopy) {
        FreeMediaTypeRecord(m_SampleProperties.pMediaType);
        m_SampleTypeIsCopy = false;
    }
    m_SampleProperties.pMediaType = NULL;
}

// A sample without IMediaSample2, asked one property at a time.
void R_CInputPinBase::RecordSampleProperties(IMediaSample *sample)
{
    AM_SAMPLE2_PROPERTIES &properties = m_SampleProperties;
    properties = AM_SAMPLE2_PROPERTIES();
    properties.cbData = sizeof(properties);
    if (sample->IsDiscontinuity() == S_OK) {
        properties.dwSampleFlags |= AM_SAMPLE_DATADISCONTINUITY;
    }
    if (sample->IsPreroll() == S_OK) {
        properties.dwSampleFlags |= AM_SAMPLE_PREROLL;
    }
    if (sample->IsSyncPoint() == S_OK) {
        properties.dwSampleFlags |= AM_SAMPLE_SPLICEPOINT;
    }
    if (SUCCEEDED(sample->GetTime(&properties.tStart, &properties.tStop))) {
        properties.dwSampleFlags |= AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID;
    } else {
        properties.tStart = properties.tStop = 0;
    }
    AM_MEDIA_TYPE *type = NULL;
    if (sample->GetMediaType(&type) == S_OK && type != NULL) {
        properties.dwSampleFlags |= AM_SAMPLE_TYPECHANGED;
        properties.pMediaType = type;
        m_SampleTypeIsCopy = true;
    }
    if (FAILED(sample->GetPointer(&properties.pbBuffer))) {
        properties.pbBuffer = NULL;
    }
    properties.lActual = sample->GetActualDataLength();
    properties.cbBuffer = sample->GetSize();
}

// A refused type change stops the stream: end of stream goes on, the graph hears of the abort, and every later
// sample is refused until the filter stops.
HRESULT R_CInputPinBase::RefuseTypeChange()
{
    m_RuntimeError = true;
    EndOfStream();
    m_Filter->PostGraphEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
    return VFW_E_INVALIDMEDIATYPE;
}

HRESULT STDMETHODCALLTYPE R_CInputPinBase::Receive(IMediaSample *sample)
{
    if (sample == NULL) {
        return E_POINTER;
    }
    HRESULT result = CanReceiveNow();
    if (result != S_OK) {
        return result;
    }
    FreeSampleTypeCopy();
    IMediaSample2 *sample2 = NULL;
    if (SUCCEEDED(sample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void **>(&sample2)))) {
        result = sample2->GetProperties(sizeof(m_SampleProperties), reinterpret_cast<BYTE *>(&m_SampleProperties));
        sample2->Release();
        if (FAILED(result)) {
            m_SampleProperties.pMediaType = NULL;
            return result;
        }
    } else {
        RecordSampleProperties(sample);
    }
    if ((m_SampleProperties.dwSampleFlags & AM_SAMPLE_TYPECHANGED) == 0) {
        return S_OK;
    }
    // A type-change flag without a type is as unusable as a refused type.
    if (m_SampleProperties.pMediaType == NULL || AcceptsMediaType(m_SampleProperties.pMediaType) != S_OK) {
        return RefuseTypeChange();
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CInputPinBase::ReceiveMultiple(IMediaSample **samples, long count, long *processed)
{
    if (samples == NULL || processed == NULL) {
        return E_POINTER;
    }
    *processed = 0;
    for (long index = 0; index < count; ++index) {
        // Through the interface table, so that a derived pin's Receive runs.
        const HRESULT result = MemInputPin()->Receive(samples[index]);
        if (result != S_OK) {
            return result;
        }
        ++*processed;
    }
    return S_OK;
}

// Whether the connected input of an output pin can block; S_OK when it cannot be asked.
static HRESULT PeerReceiveCanBlock(IPin *peer)
{
    IMemInputPin *input = NULL;
    HRESULT result = peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void **>(&input));
    peer->Release();
    if (FAILED(result)) {
        return S_OK;
    }
    result = input->ReceiveCanBlock();
    input->Release();
    return result;
}

// This pin can block when any connected output pin of its filter feeds an input that can block.
HRESULT STDMETHODCALLTYPE R_CInputPinBase::ReceiveCanBlock()
{
    int outputs = 0;
    const int count = m_Filter->CountPins();
    for (int index = 0; index < count; ++index) {
        R_CPinBase *pin = m_Filter->PinAtIndex(index);
        PIN_DIRECTION direction = PINDIR_INPUT;
        if (pin == NULL) {
            continue;
        }
        const HRESULT result = pin->QueryDirection(&direction);
        if (FAILED(result)) {
            return result;
        }
        IPin *peer = NULL;
        if (direction != PINDIR_OUTPUT || FAILED(pin->ConnectedTo(&peer))) {
            continue;
        }
        ++outputs;
        if (PeerReceiveCanBlock(peer) != S_FALSE) {
            return S_OK;
        }
    }
    return outputs > 0 ? S_FALSE : S_OK;
}

// ---------------------------------------------------------------------------------------------------------------
// Output pin.

R_COutputPinBase::R_COutputPinBase(const char *name, R_CFilterBase *filter, R_CMediaLock *lock, HRESULT *result,
                                   const WCHAR *pinName)
    : R_CPinBase(name, filter, lock, result, pinName, PINDIR_OUTPUT), m_Allocator(NULL), m_ConnectedInput(NULL)
{
}

HRESULT R_COutputPinBase::Activate()
{
    return m_Allocator != NULL ? m_Allocator->Commit() : VFW_E_NO_ALLOCATOR;
}

HRESULT R_COutputPinBase::Deactivate()
{
    m_RuntimeError = false;
    return m_Allocator != NULL ? m_Allocator->Decommit() : VFW_E_NO_ALLOCATOR;
}

// An input left from an attempt whose resources could not be released is let go before the next one is held.
HRESULT R_COutputPinBase::VerifyPeer(IPin *peer)
{
    HRESULT result = R_CPinBase::VerifyPeer(peer);
    if (FAILED(result)) {
        return result;
    }
    if (m_ConnectedInput != NULL) {
        m_ConnectedInput->Release();
    }
    result = peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void **>(&m_ConnectedInput));
    if (FAILED(result)) {
        m_ConnectedInput = NULL;
        return result;
    }
    return S_OK;
}

HRESULT R_COutputPinBase::FinishConnection(IPin *peer)
{
    return ChooseAllocator(m_ConnectedInput, &m_Allocator);
}

HRESULT R_COutputPinBase::ReleaseConnectionResources()
{
    if (m_Allocator != NULL) {
        const HRESULT result = m_Allocator->Decommit();
        if (FAILED(result)) {
            return result;
        }
        m_Allocator->Release();
        m_Allocator = NULL;
    }
    if (m_ConnectedInput != NULL) {
        m_ConnectedInput->Release();
        m_ConnectedInput = NULL;
    }
    return S_OK;
}

// Sizes an allocator for the request and tells the input to use it; the allocator is let go on failure.
static HRESULT OfferAllocator(R_COutputPinBase *pin, IMemInputPin *input, ALLOCATOR_PROPERTIES *request,
                              IMemAllocator **allocator)
{
    HRESULT result = pin->SizeBuffers(*allocator, request);
    if (SUCCEEDED(result)) {
        result = input->NotifyAllocator(*allocator, FALSE);
    }
    if (FAILED(result)) {
        (*allocator)->Release();
        *allocator = NULL;
    }
    return result;
}

// The input's own allocator first, then one of the platform's.
HRESULT R_COutputPinBase::ChooseAllocator(IMemInputPin *input, IMemAllocator **out)
{
    *out = NULL;
    ALLOCATOR_PROPERTIES request = {0, 0, 0, 0};
    input->GetAllocatorRequirements(&request);
    if (request.cbAlign == 0) {
        request.cbAlign = 1;
    }
    if (SUCCEEDED(input->GetAllocator(out)) && *out != NULL && SUCCEEDED(OfferAllocator(this, input, &request, out))) {
        return S_OK;
    }
    if (*out != NULL) {
        (*out)->Release();
        *out = NULL;
    }
    HRESULT result = MakeDefaultAllocator(out);
    if (SUCCEEDED(result)) {
        result = OfferAllocator(this, input, &request, out);
    }
    if (FAILED(result)) {
        *out = NULL;
        return result;
    }
    return S_OK;
}

HRESULT R_COutputPinBase::ObtainOutputSample(IMediaSample **out, REFERENCE_TIME *start, REFERENCE_TIME *stop,
                                             DWORD flags)
{
    if (m_Allocator == NULL) {
        return E_NOINTERFACE;
    }
    return m_Allocator->GetBuffer(out, start, stop, flags);
}

HRESULT R_COutputPinBase::PushSample(IMediaSample *sample)
{
    return m_ConnectedInput != NULL ? m_ConnectedInput->Receive(sample) : VFW_E_NOT_CONNECTED;
}

HRESULT R_COutputPinBase::MakeDefaultAllocator(IMemAllocator **out)
{
    return CreatePlatformAllocator(out);
}

HRESULT R_COutputPinBase::PushEndOfStream()
{
    return m_Connected != NULL ? m_Connected->EndOfStream() : VFW_E_NOT_CONNECTED;
}

HRESULT R_COutputPinBase::PushBeginFlush()
{
    return m_Connected != NULL ? m_Connected->BeginFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT R_COutputPinBase::PushEndFlush()
{
    return m_Connected != NULL ? m_Connected->EndFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT R_COutputPinBase::PushNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    return m_Connected != NULL ? m_Connected->NewSegment(start, stop, rate) : VFW_E_NOT_CONNECTED;
}
