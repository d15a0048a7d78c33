// In-place transform filter and its pins: the input pin hands the downstream allocator upstream so that the same
// samples flow through and are worked on where they lie; when the upstream's samples are read-only and the filter
// modifies data, the output pin keeps an allocator of its own and each sample is copied into it first. Allocator
// calls run under the filter lock (window thread, during connection); samples on the upstream streaming thread.
#include "media/media_transform.h"

#include <new>

// ---------------------------------------------------------------------------------------------------------------
// Filter.

static void CopySampleMediaType(IMediaSample *in, IMediaSample *out)
{
    AM_MEDIA_TYPE *type = NULL;
    if (in->GetMediaType(&type) == S_OK) {
        out->SetMediaType(type);
    }
    FreeMediaTypeRecord(type);
}

R_CInPlaceXFormFilter::R_CInPlaceXFormFilter(const char *name, IUnknown *outer, REFCLSID classId, HRESULT *result,
                                             bool modifiesData)
    : R_CXFormFilter(name, outer, classId), m_ModifiesData(modifiesData)
{
}

R_CXFormInputPin *R_CInPlaceXFormFilter::NewInputPin(HRESULT *result)
{
    return new (std::nothrow) R_CInPlaceXFormInputPin("In-place input pin", this, result, L"Input");
}

R_CXFormOutputPin *R_CInPlaceXFormFilter::NewOutputPin(HRESULT *result)
{
    return new (std::nothrow) R_CInPlaceXFormOutputPin("In-place output pin", this, result, L"Output");
}

R_CInPlaceXFormOutputPin *R_CInPlaceXFormFilter::InPlaceOutputPin() const
{
    return static_cast<R_CInPlaceXFormOutputPin *>(m_Output);
}

bool R_CInPlaceXFormFilter::UsesDifferentAllocators() const
{
    return m_Input->Allocator() != m_Output->Allocator();
}

HRESULT R_CInPlaceXFormFilter::TransformSample(IMediaSample *in, IMediaSample *out)
{
    return E_UNEXPECTED;
}

HRESULT R_CInPlaceXFormFilter::AcceptsTypePair(const AM_MEDIA_TYPE *in, const AM_MEDIA_TYPE *out)
{
    return S_OK;
}

HRESULT R_CInPlaceXFormFilter::ProposeOutputType(int position, AM_MEDIA_TYPE *type)
{
    return E_UNEXPECTED;
}

// Sizes the output pin's own allocator like the upstream one, so that every input sample fits an output sample.
HRESULT R_CInPlaceXFormFilter::SizeOutputBuffers(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request)
{
    ALLOCATOR_PROPERTIES wanted = {1, 1, 0, 0};
    if (m_Input->IsConnected()) {
        IMemAllocator *upstream = m_Input->Allocator();
        HRESULT result = upstream != NULL ? upstream->GetProperties(&wanted) : VFW_E_NO_ALLOCATOR;
        if (FAILED(result)) {
            return result;
        }
    }
    request->cBuffers = wanted.cBuffers > 1 ? wanted.cBuffers : 1;
    request->cbBuffer = wanted.cbBuffer > 1 ? wanted.cbBuffer : 1;
    request->cbAlign = wanted.cbAlign;
    ALLOCATOR_PROPERTIES actual = {};
    HRESULT result = allocator->SetProperties(request, &actual);
    if (FAILED(result)) {
        return result;
    }
    if (actual.cBuffers < wanted.cBuffers || actual.cbBuffer < wanted.cbBuffer || actual.cbAlign < wanted.cbAlign) {
        return E_FAIL;
    }
    return S_OK;
}

// Reconnecting the other side makes both pins agree on one type and, through the input pin's GetAllocator, on
// one allocator.
HRESULT R_CInPlaceXFormFilter::FinishPinConnection(PIN_DIRECTION direction, IPin *peer)
{
    if (Graph() == NULL) {
        return VFW_E_NOT_IN_GRAPH;
    }
    if (direction == PINDIR_OUTPUT && m_Input->IsConnected()) {
        return RequestPinReconnect(m_Input->PinInterface(), &m_Output->ConnectionType());
    }
    if (direction == PINDIR_INPUT && m_Output->IsConnected() &&
        !m_Output->ConnectionType().SameMediaType(m_Input->ConnectionType())) {
        return RequestPinReconnect(m_Output->PinInterface(), &m_Input->ConnectionType());
    }
    return S_OK;
}

HRESULT R_CInPlaceXFormFilter::ReceiveSample(IMediaSample *in)
{
    if (in == NULL) {
        return E_POINTER;
    }
    if (m_Input->SampleProperties().dwStreamId != AM_STREAM_MEDIA) {
        return m_Output->IsConnected() ? m_Output->PushSample(in) : S_OK;
    }
    IMediaSample *copy = NULL;
    if (UsesDifferentAllocators()) {
        copy = CopyToOutputSample(in);
        if (copy == NULL) {
            return E_UNEXPECTED;
        }
        in = copy;
    }
    HRESULT result = TransformInPlace(in);
    if (result == S_OK) {
        result = m_Output->PushSample(in);
    }
    if (copy != NULL) {
        copy->Release();
    }
    return result;
}

// An input longer than the output buffer is refused (null) with nothing written: the output pin's allocator was
// sized like the upstream one, but a sample may still claim more than the output buffer holds.
IMediaSample *R_CInPlaceXFormFilter::CopyToOutputSample(IMediaSample *in)
{
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    const bool timed = in->GetTime(&start, &stop) == S_OK;
    IMediaSample *out = NULL;
    HRESULT result = m_Output->ObtainOutputSample(&out, timed ? &start : NULL, timed ? &stop : NULL,
                                                  m_SampleSkipped ? AM_GBF_PREVFRAMESKIPPED : 0);
    if (FAILED(result) || out == NULL) {
        return NULL;
    }
    IMediaSample2 *sample2 = NULL;
    if (SUCCEEDED(out->QueryInterface(IID_IMediaSample2, (void **)&sample2))) {
        // Everything recorded up to the stream id; the size field says so (a recorded record may carry another:
        // the platform's samples do not fill it in). The media type goes by SetMediaType, which copies it: the
        // platform's samples take a type handed in through the properties as their own, and this one is the input
        // sample's, so both would free it.
        AM_SAMPLE2_PROPERTIES properties = m_Input->SampleProperties();
        properties.cbData = FIELD_OFFSET(AM_SAMPLE2_PROPERTIES, pMediaType);
        properties.dwSampleFlags &= ~AM_SAMPLE_TYPECHANGED;
        result = sample2->SetProperties(properties.cbData, (const BYTE *)&properties);
        sample2->Release();
        if (FAILED(result)) {
            out->Release();
            return NULL;
        }
    } else {
        if (timed) {
            out->SetTime(&start, &stop);
        }
        out->SetSyncPoint(in->IsSyncPoint() == S_OK);
        out->SetDiscontinuity(in->IsDiscontinuity() == S_OK || m_SampleSkipped);
        out->SetPreroll(in->IsPreroll() == S_OK);
    }
    CopySampleMediaType(in, out);
    m_SampleSkipped = FALSE;
    CopySampleMediaTimes(in, out);
    if (FAILED(CopySampleBytes(in, out))) {
        out->Release();
        return NULL;
    }
    return out;
}

// ---------------------------------------------------------------------------------------------------------------
// Input pin.

R_CInPlaceXFormInputPin::R_CInPlaceXFormInputPin(const char *name, R_CInPlaceXFormFilter *filter, HRESULT *result,
                                                 const WCHAR *pinName)
    : R_CXFormInputPin(name, filter, result, pinName), m_InPlaceFilter(filter)
{
}

HRESULT R_CInPlaceXFormInputPin::GetAllocator(IMemAllocator **out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    R_CMediaLockScope lock(m_Lock);
    R_CInPlaceXFormOutputPin *output = m_InPlaceFilter->InPlaceOutputPin();
    if (!output->IsConnected()) {
        return R_CXFormInputPin::GetAllocator(out);
    }
    HRESULT result = output->ConnectedInput()->GetAllocator(out);
    if (SUCCEEDED(result)) {
        output->AdoptAllocator(*out);
    }
    return result;
}

HRESULT R_CInPlaceXFormInputPin::NotifyAllocator(IMemAllocator *allocator, BOOL readOnly)
{
    if (allocator == NULL) {
        return E_POINTER;
    }
    R_CMediaLockScope lock(m_Lock);
    R_CInPlaceXFormOutputPin *output = m_InPlaceFilter->InPlaceOutputPin();
    if (output->IsConnected()) {
        HRESULT result;
        if (!readOnly || !m_InPlaceFilter->ModifiesData()) {
            // One allocator for both pins: the samples pass through.
            result = output->ConnectedInput()->NotifyAllocator(allocator, readOnly);
            if (SUCCEEDED(result)) {
                output->AdoptAllocator(allocator);
            }
        } else {
            result = GiveOutputOwnAllocator(allocator);
        }
        if (FAILED(result)) {
            return result;
        }
    }
    return R_CXFormInputPin::NotifyAllocator(allocator, readOnly);
}

// Read-only samples that the filter would change: the output pin needs writable buffers at least as large.
HRESULT R_CInPlaceXFormInputPin::GiveOutputOwnAllocator(IMemAllocator *upstream)
{
    R_CInPlaceXFormOutputPin *output = m_InPlaceFilter->InPlaceOutputPin();
    IMemInputPin *downstream = output->ConnectedInput();
    if (output->Allocator() == NULL) {
        IMemAllocator *own = NULL;
        HRESULT result = downstream->GetAllocator(&own);
        if (FAILED(result)) {
            result = CreatePlatformAllocator(&own);
        }
        if (FAILED(result)) {
            return result;
        }
        output->AdoptAllocator(own);
        own->Release();
    }
    IMemAllocator *own = output->Allocator();
    if (own == upstream) {
        return E_FAIL;
    }
    ALLOCATOR_PROPERTIES wanted = {};
    ALLOCATOR_PROPERTIES actual = {};
    HRESULT result = upstream->GetProperties(&wanted);
    if (SUCCEEDED(result)) {
        result = own->SetProperties(&wanted, &actual);
    }
    if (FAILED(result)) {
        return result;
    }
    if (actual.cBuffers < wanted.cBuffers || actual.cbBuffer < wanted.cbBuffer || actual.cbAlign < wanted.cbAlign) {
        return E_FAIL;
    }
    return downstream->NotifyAllocator(own, FALSE);
}

HRESULT R_CInPlaceXFormInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES *out)
{
    R_CInPlaceXFormOutputPin *output = m_InPlaceFilter->InPlaceOutputPin();
    return output->IsConnected() ? output->ConnectedInput()->GetAllocatorRequirements(out) : E_NOTIMPL;
}

HRESULT R_CInPlaceXFormInputPin::EnumMediaTypes(IEnumMediaTypes **out)
{
    R_CInPlaceXFormOutputPin *output = m_InPlaceFilter->InPlaceOutputPin();
    return output->IsConnected() ? output->ConnectedPin()->EnumMediaTypes(out) : VFW_E_NOT_CONNECTED;
}

HRESULT R_CInPlaceXFormInputPin::AcceptsMediaType(const AM_MEDIA_TYPE *type)
{
    HRESULT result = m_InPlaceFilter->AcceptsInputType(type);
    if (result != S_OK) {
        return result;
    }
    R_CInPlaceXFormOutputPin *output = m_InPlaceFilter->InPlaceOutputPin();
    return output->IsConnected() ? output->ConnectedPin()->QueryAccept(type) : S_OK;
}

HRESULT R_CInPlaceXFormInputPin::FinishConnection(IPin *peer)
{
    HRESULT result = R_CInputPinBase::FinishConnection(peer);
    return FAILED(result) ? result : m_InPlaceFilter->FinishPinConnection(PINDIR_INPUT, peer);
}

// ---------------------------------------------------------------------------------------------------------------
// Output pin.

R_CInPlaceXFormOutputPin::R_CInPlaceXFormOutputPin(const char *name, R_CInPlaceXFormFilter *filter, HRESULT *result,
                                                   const WCHAR *pinName)
    : R_CXFormOutputPin(name, filter, result, pinName), m_InPlaceFilter(filter)
{
}

void R_CInPlaceXFormOutputPin::AdoptAllocator(IMemAllocator *allocator)
{
    ReplaceHeldInterface(&m_Allocator, allocator);
}

HRESULT R_CInPlaceXFormOutputPin::EnumMediaTypes(IEnumMediaTypes **out)
{
    R_CXFormInputPin *input = m_InPlaceFilter->InputPin();
    return input->IsConnected() ? input->ConnectedPin()->EnumMediaTypes(out) : VFW_E_NOT_CONNECTED;
}

// While running on a copy, the output can only keep the type its own allocator's samples were made for.
HRESULT R_CInPlaceXFormOutputPin::AcceptsMediaType(const AM_MEDIA_TYPE *type)
{
    if (m_InPlaceFilter->UsesDifferentAllocators() && !m_InPlaceFilter->IsStopped()) {
        return ConnectionType().SameMediaType(*type) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT result = m_InPlaceFilter->AcceptsInputType(type);
    if (result != S_OK) {
        return result;
    }
    R_CXFormInputPin *input = m_InPlaceFilter->InputPin();
    return input->IsConnected() ? input->ConnectedPin()->QueryAccept(type) : S_OK;
}

HRESULT R_CInPlaceXFormOutputPin::FinishConnection(IPin *peer)
{
    HRESULT result = R_COutputPinBase::FinishConnection(peer);
    return FAILED(result) ? result : m_InPlaceFilter->FinishPinConnection(PINDIR_OUTPUT, peer);
}
