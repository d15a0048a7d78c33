// Transform filter and its two pins: type and allocator negotiation between the pins, one output sample for each
// input sample (filled by the heir), delivery downstream, and the forwarding of end of stream, flushes, segments
// and quality notices; the seeking pass-through on the output pin; the sample copies the heirs share. State
// changes run on the window thread under the filter lock; the streaming thread's samples and end of stream run
// under the streaming lock, which state changes take after the filter lock.
#include "media/media_transform.h"

#include <new>

static const WCHAR s_InputId[] = L"In";
static const WCHAR s_OutputId[] = L"Out";

// ---------------------------------------------------------------------------------------------------------------
// Sample copies.

HRESULT CopySampleBytes(IMediaSample *in, IMediaSample *out)
{
    BYTE *source = NULL;
    BYTE *target = NULL;
    const LONG length = in->GetActualDataLength();
    if (length < 0 || length > out->GetSize()) {
        return VFW_E_BUFFER_OVERFLOW;
    }
    if (FAILED(in->GetPointer(&source)) || FAILED(out->GetPointer(&target))) {
        return E_POINTER;
    }
    CopyMemory(target, source, length);
    return out->SetActualDataLength(length);
}

void CopySampleMediaTimes(IMediaSample *in, IMediaSample *out)
{
    LONGLONG start = 0;
    LONGLONG stop = 0;
    if (in->GetMediaTime(&start, &stop) == S_OK) {
        out->SetMediaTime(&start, &stop);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Filter.

R_CXFormFilter::R_CXFormFilter(const char *name, IUnknown *outer, REFCLSID classId)
    : R_CFilterBase(name, outer, &m_FilterLock, classId), m_EndOfStreamDelivered(FALSE), m_SampleSkipped(FALSE),
      m_QualityChanged(FALSE), m_Input(NULL), m_Output(NULL)
{
}

// The output pin goes first: its seeking pass-through was bound to the input pin.
R_CXFormFilter::~R_CXFormFilter()
{
    delete m_Output;
    delete m_Input;
}

R_CXFormInputPin *R_CXFormFilter::NewInputPin(HRESULT *result)
{
    return new (std::nothrow) R_CXFormInputPin("Transform input pin", this, result, L"XForm In");
}

R_CXFormOutputPin *R_CXFormFilter::NewOutputPin(HRESULT *result)
{
    return new (std::nothrow) R_CXFormOutputPin("Transform output pin", this, result, L"XForm Out");
}

// A pin whose construction reported a failure is not kept.
template <typename Pin> static Pin *KeepMadePin(Pin *pin, HRESULT made)
{
    if (pin != NULL && FAILED(made)) {
        delete pin;
        return NULL;
    }
    return pin;
}

// Makes whichever pin is missing, the input first; without an output pin the input is not kept either, so that
// the filter always has both pins or none made by this call.
R_CPinBase *R_CXFormFilter::PinAtIndex(int index)
{
    R_CMediaLockScope lock(m_Lock);
    if (m_Input == NULL) {
        HRESULT made = S_OK;
        m_Input = KeepMadePin(NewInputPin(&made), made);
    }
    if (m_Input != NULL && m_Output == NULL) {
        HRESULT made = S_OK;
        m_Output = KeepMadePin(NewOutputPin(&made), made);
        if (m_Output == NULL) {
            delete m_Input;
            m_Input = NULL;
        }
    }
    if (index == 0) {
        return m_Input;
    }
    return index == 1 ? m_Output : NULL;
}

HRESULT R_CXFormFilter::FindPin(LPCWSTR id, IPin **out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    *out = NULL;
    int index = -1;
    if (id != NULL && lstrcmpW(id, s_InputId) == 0) {
        index = 0;
    } else if (id != NULL && lstrcmpW(id, s_OutputId) == 0) {
        index = 1;
    } else {
        return VFW_E_NOT_FOUND;
    }
    R_CPinBase *pin = PinAtIndex(index);
    if (pin == NULL) {
        return E_OUTOFMEMORY;
    }
    return HandOutInterface(pin->PinInterface(), (void **)out);
}

bool R_CXFormFilter::BothPinsConnected() const
{
    return m_Input != NULL && m_Input->IsConnected() && m_Output != NULL && m_Output->IsConnected();
}

HRESULT R_CXFormFilter::Stop()
{
    R_CMediaLockScope lock(m_Lock);
    if (m_State == State_Stopped) {
        return S_OK;
    }
    HRESULT result = S_OK;
    if (BothPinsConnected()) {
        // The input first: its decommit releases an upstream thread waiting for a buffer.
        m_Input->Deactivate();
        R_CMediaLockScope streaming(&m_StreamingLock);
        m_Output->Deactivate();
        result = OnStreamingStop();
    }
    if (SUCCEEDED(result)) {
        m_State = State_Stopped;
        m_EndOfStreamDelivered = FALSE;
    }
    return result;
}

HRESULT R_CXFormFilter::Pause()
{
    R_CMediaLockScope lock(m_Lock);
    HRESULT result = S_OK;
    if (m_State != State_Paused) {
        if (m_Input == NULL || !m_Input->IsConnected()) {
            // Nothing will ever arrive: tell downstream at once, once per run.
            if (m_Output != NULL && !m_EndOfStreamDelivered) {
                m_Output->PushEndOfStream();
                m_EndOfStreamDelivered = TRUE;
            }
            m_State = State_Paused;
        } else if (m_Output == NULL || !m_Output->IsConnected()) {
            m_State = State_Paused;
        } else {
            if (m_State == State_Stopped) {
                R_CMediaLockScope streaming(&m_StreamingLock);
                result = OnStreamingStart();
            }
            if (SUCCEEDED(result)) {
                result = R_CFilterBase::Pause();
            }
        }
    }
    m_SampleSkipped = FALSE;
    m_QualityChanged = FALSE;
    return result;
}

HRESULT R_CXFormFilter::AdjustQuality(Quality quality)
{
    return S_FALSE;
}

HRESULT R_CXFormFilter::AdoptPinMediaType(PIN_DIRECTION direction, const AM_MEDIA_TYPE *type)
{
    return S_OK;
}

HRESULT R_CXFormFilter::VerifyPinPeer(PIN_DIRECTION direction, IPin *peer)
{
    return S_OK;
}

HRESULT R_CXFormFilter::ReleasePinConnection(PIN_DIRECTION direction)
{
    return S_OK;
}

HRESULT R_CXFormFilter::FinishPinConnection(PIN_DIRECTION direction, IPin *peer)
{
    return S_OK;
}

HRESULT R_CXFormFilter::OnEndOfStream()
{
    return m_Output != NULL ? m_Output->PushEndOfStream() : S_OK;
}

HRESULT R_CXFormFilter::OnBeginFlush()
{
    return m_Output != NULL ? m_Output->PushBeginFlush() : S_OK;
}

HRESULT R_CXFormFilter::OnEndFlush()
{
    return m_Output != NULL ? m_Output->PushEndFlush() : S_OK;
}

HRESULT R_CXFormFilter::OnNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    return m_Output != NULL ? m_Output->PushNewSegment(start, stop, rate) : S_OK;
}

// In one call through IMediaSample2: the input's flags (the output's own type-changed bit kept), the output's own
// length, the input's times. False when the sample has no IMediaSample2.
static bool SetRecordedProperties(IMediaSample *out, const AM_SAMPLE2_PROPERTIES &recorded)
{
    IMediaSample2 *sample2 = NULL;
    if (FAILED(out->QueryInterface(IID_IMediaSample2, (void **)&sample2))) {
        return false;
    }
    AM_SAMPLE2_PROPERTIES properties = {};
    sample2->GetProperties(FIELD_OFFSET(AM_SAMPLE2_PROPERTIES, tStart), (BYTE *)&properties);
    // The size field says how much of the record counts (the platform's samples do not fill it in).
    properties.cbData = FIELD_OFFSET(AM_SAMPLE2_PROPERTIES, dwStreamId);
    properties.dwTypeSpecificFlags = recorded.dwTypeSpecificFlags;
    properties.dwSampleFlags =
        (properties.dwSampleFlags & AM_SAMPLE_TYPECHANGED) | (recorded.dwSampleFlags & ~AM_SAMPLE_TYPECHANGED);
    properties.tStart = recorded.tStart;
    properties.tStop = recorded.tStop;
    sample2->SetProperties(properties.cbData, (const BYTE *)&properties);
    sample2->Release();
    return true;
}

// An output sample carrying the input's times and flags (as the input pin recorded them for this sample).
HRESULT R_CXFormFilter::PrepareOutputSample(IMediaSample *in, IMediaSample **out)
{
    const AM_SAMPLE2_PROPERTIES &recorded = m_Input->SampleProperties();
    REFERENCE_TIME start = recorded.tStart;
    REFERENCE_TIME stop = recorded.tStop;
    DWORD flags = (recorded.dwSampleFlags & AM_SAMPLE_SPLICEPOINT) ? 0 : AM_GBF_NOTASYNCPOINT;
    if (m_SampleSkipped) {
        flags |= AM_GBF_PREVFRAMESKIPPED;
    }
    *out = NULL;
    HRESULT result = m_Output->ObtainOutputSample(out, (recorded.dwSampleFlags & AM_SAMPLE_TIMEVALID) ? &start : NULL,
                                                  (recorded.dwSampleFlags & AM_SAMPLE_STOPVALID) ? &stop : NULL, flags);
    if (FAILED(result)) {
        return result;
    }
    if (recorded.dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) {
        m_SampleSkipped = FALSE;
    }
    if (SetRecordedProperties(*out, recorded)) {
        return S_OK;
    }
    if (recorded.dwSampleFlags & AM_SAMPLE_TIMEVALID) {
        (*out)->SetTime(&start, (recorded.dwSampleFlags & AM_SAMPLE_STOPVALID) ? &stop : NULL);
    }
    if (recorded.dwSampleFlags & AM_SAMPLE_SPLICEPOINT) {
        (*out)->SetSyncPoint(TRUE);
    }
    if (recorded.dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) {
        (*out)->SetDiscontinuity(TRUE);
    }
    CopySampleMediaTimes(in, *out);
    return S_OK;
}

HRESULT R_CXFormFilter::ReceiveSample(IMediaSample *in)
{
    if (m_Input->SampleProperties().dwStreamId != AM_STREAM_MEDIA) {
        return m_Output->PushSample(in);
    }
    IMediaSample *out = NULL;
    HRESULT result = PrepareOutputSample(in, &out);
    if (FAILED(result)) {
        return result;
    }
    result = TransformSample(in, out);
    if (result == S_OK) {
        result = m_Output->PushSample(out);
        m_SampleSkipped = FALSE;
    } else if (result == S_FALSE) {
        m_SampleSkipped = TRUE;
        if (!m_QualityChanged) {
            PostGraphEvent(EC_QUALITY_CHANGE, 0, 0);
            m_QualityChanged = TRUE;
        }
        result = S_OK;
    }
    out->Release();
    return result;
}

// ---------------------------------------------------------------------------------------------------------------
// Input pin.

R_CXFormInputPin::R_CXFormInputPin(const char *name, R_CXFormFilter *filter, HRESULT *result, const WCHAR *pinName)
    : R_CInputPinBase(name, filter, filter->FilterLock(), result, pinName), m_XFormFilter(filter)
{
}

HRESULT R_CXFormInputPin::AcceptsMediaType(const AM_MEDIA_TYPE *type)
{
    HRESULT result = m_XFormFilter->AcceptsInputType(type);
    if (result != S_OK) {
        return result;
    }
    R_CXFormOutputPin *output = m_XFormFilter->OutputPin();
    if (output != NULL && output->IsConnected()) {
        return m_XFormFilter->AcceptsTypePair(type, &output->ConnectionType());
    }
    return S_OK;
}

HRESULT R_CXFormInputPin::AdoptMediaType(const AM_MEDIA_TYPE *type)
{
    HRESULT result = R_CInputPinBase::AdoptMediaType(type);
    return FAILED(result) ? result : m_XFormFilter->AdoptPinMediaType(PINDIR_INPUT, type);
}

HRESULT R_CXFormInputPin::VerifyPeer(IPin *peer)
{
    HRESULT result = m_XFormFilter->VerifyPinPeer(PINDIR_INPUT, peer);
    return FAILED(result) ? result : R_CInputPinBase::VerifyPeer(peer);
}

HRESULT R_CXFormInputPin::ReleaseConnectionResources()
{
    HRESULT result = m_XFormFilter->ReleasePinConnection(PINDIR_INPUT);
    return FAILED(result) ? result : R_CInputPinBase::ReleaseConnectionResources();
}

HRESULT R_CXFormInputPin::FinishConnection(IPin *peer)
{
    HRESULT result = m_XFormFilter->FinishPinConnection(PINDIR_INPUT, peer);
    return FAILED(result) ? result : R_CInputPinBase::FinishConnection(peer);
}

HRESULT R_CXFormInputPin::ProposeMediaType(int position, AM_MEDIA_TYPE *type)
{
    return E_UNEXPECTED;
}

HRESULT R_CXFormInputPin::CanReceiveNow()
{
    R_CXFormOutputPin *output = m_XFormFilter->OutputPin();
    if (output == NULL || !output->IsConnected()) {
        return VFW_E_NOT_CONNECTED;
    }
    return R_CInputPinBase::CanReceiveNow();
}

HRESULT R_CXFormInputPin::QueryId(LPWSTR *out)
{
    return CopyWideStringToTaskMem(s_InputId, out);
}

HRESULT R_CXFormInputPin::EndOfStream()
{
    R_CMediaLockScope streaming(m_XFormFilter->StreamingLock());
    HRESULT result = CanReceiveNow();
    return result == S_OK ? m_XFormFilter->OnEndOfStream() : result;
}

HRESULT R_CXFormInputPin::BeginFlush()
{
    R_CMediaLockScope lock(m_Lock);
    R_CXFormOutputPin *output = m_XFormFilter->OutputPin();
    if (!IsConnected() || output == NULL || !output->IsConnected()) {
        return VFW_E_NOT_CONNECTED;
    }
    BeginFlushStep();
    return m_XFormFilter->OnBeginFlush();
}

HRESULT R_CXFormInputPin::EndFlush()
{
    R_CMediaLockScope lock(m_Lock);
    R_CXFormOutputPin *output = m_XFormFilter->OutputPin();
    if (!IsConnected() || output == NULL || !output->IsConnected()) {
        return VFW_E_NOT_CONNECTED;
    }
    HRESULT result = m_XFormFilter->OnEndFlush();
    return FAILED(result) ? result : EndFlushStep();
}

HRESULT R_CXFormInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    R_CInputPinBase::NewSegment(start, stop, rate);
    return m_XFormFilter->OnNewSegment(start, stop, rate);
}

HRESULT R_CXFormInputPin::Receive(IMediaSample *sample)
{
    R_CMediaLockScope streaming(m_XFormFilter->StreamingLock());
    HRESULT result = R_CInputPinBase::Receive(sample);
    return result == S_OK ? m_XFormFilter->ReceiveSample(sample) : result;
}

// ---------------------------------------------------------------------------------------------------------------
// Output pin.

R_CXFormOutputPin::R_CXFormOutputPin(const char *name, R_CXFormFilter *filter, HRESULT *result, const WCHAR *pinName)
    : R_COutputPinBase(name, filter, filter->FilterLock(), result, pinName), m_XFormFilter(filter),
      m_SeekingPassThrough(NULL)
{
}

R_CXFormOutputPin::~R_CXFormOutputPin()
{
    if (m_SeekingPassThrough != NULL) {
        m_SeekingPassThrough->Release();
    }
}

HRESULT R_CXFormOutputPin::InnerQueryInterface(REFIID id, void **out)
{
    if (out == NULL || (id != IID_IMediaPosition && id != IID_IMediaSeeking)) {
        return R_COutputPinBase::InnerQueryInterface(id, out);
    }
    *out = NULL;
    R_CMediaLockScope lock(m_Lock);
    if (m_SeekingPassThrough == NULL) {
        HRESULT result = CreateSeekingPassThrough(OuterUnknown(), FALSE, m_XFormFilter->InputPin()->PinInterface(),
                                                  &m_SeekingPassThrough);
        if (FAILED(result)) {
            return result;
        }
    }
    return m_SeekingPassThrough->QueryInterface(id, out);
}

HRESULT R_CXFormOutputPin::AcceptsMediaType(const AM_MEDIA_TYPE *type)
{
    R_CXFormInputPin *input = m_XFormFilter->InputPin();
    if (input == NULL || !input->IsConnected()) {
        return E_INVALIDARG;
    }
    return m_XFormFilter->AcceptsTypePair(&input->ConnectionType(), type);
}

HRESULT R_CXFormOutputPin::AdoptMediaType(const AM_MEDIA_TYPE *type)
{
    HRESULT result = R_COutputPinBase::AdoptMediaType(type);
    return FAILED(result) ? result : m_XFormFilter->AdoptPinMediaType(PINDIR_OUTPUT, type);
}

HRESULT R_CXFormOutputPin::VerifyPeer(IPin *peer)
{
    R_CXFormInputPin *input = m_XFormFilter->InputPin();
    if (input == NULL || !input->IsConnected()) {
        return E_UNEXPECTED;
    }
    HRESULT result = m_XFormFilter->VerifyPinPeer(PINDIR_OUTPUT, peer);
    return FAILED(result) ? result : R_COutputPinBase::VerifyPeer(peer);
}

HRESULT R_CXFormOutputPin::ReleaseConnectionResources()
{
    HRESULT result = m_XFormFilter->ReleasePinConnection(PINDIR_OUTPUT);
    return FAILED(result) ? result : R_COutputPinBase::ReleaseConnectionResources();
}

HRESULT R_CXFormOutputPin::FinishConnection(IPin *peer)
{
    HRESULT result = m_XFormFilter->FinishPinConnection(PINDIR_OUTPUT, peer);
    return FAILED(result) ? result : R_COutputPinBase::FinishConnection(peer);
}

HRESULT R_CXFormOutputPin::ProposeMediaType(int position, AM_MEDIA_TYPE *type)
{
    R_CXFormInputPin *input = m_XFormFilter->InputPin();
    if (input == NULL || !input->IsConnected()) {
        return VFW_S_NO_MORE_ITEMS;
    }
    return m_XFormFilter->ProposeOutputType(position, type);
}

HRESULT R_CXFormOutputPin::SizeBuffers(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request)
{
    return m_XFormFilter->SizeOutputBuffers(allocator, request);
}

HRESULT R_CXFormOutputPin::QueryId(LPWSTR *out)
{
    return CopyWideStringToTaskMem(s_OutputId, out);
}

HRESULT R_CXFormOutputPin::Notify(IBaseFilter *sender, Quality quality)
{
    HRESULT result = m_XFormFilter->AdjustQuality(quality);
    if (result != S_FALSE) {
        return result;
    }
    return m_XFormFilter->InputPin()->ForwardQualityNotice(quality);
}

HRESULT CreateSeekingPassThrough(IUnknown *outer, BOOL renderer, IPin *pin, IUnknown **out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    *out = NULL;
    IUnknown *inner = NULL;
    HRESULT result =
        MediaCoCreateInstance(CLSID_SeekingPassThru, outer, CLSCTX_INPROC_SERVER, IID_IUnknown, (void **)&inner);
    if (FAILED(result)) {
        return result;
    }
    ISeekingPassThru *passThrough = NULL;
    result = inner->QueryInterface(IID_ISeekingPassThru, (void **)&passThrough);
    if (SUCCEEDED(result)) {
        result = passThrough->Init(renderer, pin);
        passThrough->Release();
    }
    if (FAILED(result)) {
        inner->Release();
        return result;
    }
    *out = inner;
    return S_OK;
}
