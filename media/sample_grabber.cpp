// Sample grabber ("SampleGrabber"): an in-place transform that accepts only input of a wanted type and hands each
// sample, its times shifted by the segment start, to a caller's callback; its private control interface; its
// input pin, which can offer upstream an allocator whose single buffer is the caller's memory. The callback runs
// on the upstream streaming thread under the callback lock, which also guards the wanted type and the callback;
// connection calls come from the window thread under the filter lock.
#include "media/media_transform.h"

#include <new>

const IID IID_IGrabberControl = {0x6B652FFF, 0x11FE, 0x4FCE, {0x92, 0xAD, 0x02, 0x66, 0xB5, 0xD7, 0xC7, 0x8F}};
const CLSID CLSID_QvSampleGrabber = {0x2FA4F053, 0x6D60, 0x4CB0, {0x95, 0x03, 0x8E, 0x89, 0x23, 0x4F, 0x3F, 0x73}};

// ---------------------------------------------------------------------------------------------------------------
// Filter and its control interface.

R_CSampleGrabber::R_CSampleGrabber(IUnknown *outer, HRESULT *result, bool modifiesData)
    : R_CInPlaceXFormFilter("SampleGrabber", outer, CLSID_QvSampleGrabber, result, modifiesData), m_Callback(NULL),
      m_CallbackContext(NULL)
{
    if (PinAtIndex(1) == NULL && result != NULL) {
        *result = E_OUTOFMEMORY;
    }
}

R_CSampleGrabber::~R_CSampleGrabber()
{
}

R_CXFormInputPin *R_CSampleGrabber::NewInputPin(HRESULT *result)
{
    return new (std::nothrow) R_CSampleGrabberInputPin(this, result);
}

R_CSampleGrabberInputPin *R_CSampleGrabber::GrabberInputPin() const
{
    return static_cast<R_CSampleGrabberInputPin *>(m_Input);
}

R_CSampleGrabber *CreateSampleGrabber(IUnknown *outer, HRESULT *result)
{
    HRESULT made = S_OK;
    R_CSampleGrabber *grabber = new (std::nothrow) R_CSampleGrabber(outer, &made, false);
    if (grabber == NULL) {
        made = E_OUTOFMEMORY;
    } else if (FAILED(made)) {
        delete grabber;
        grabber = NULL;
    }
    if (result != NULL) {
        *result = made;
    }
    return grabber;
}

HRESULT R_CSampleGrabber::InnerQueryInterface(REFIID id, void **out)
{
    if (out != NULL && id == IID_IGrabberControl) {
        return HandOutInterface(GrabberControl(), out);
    }
    return R_CInPlaceXFormFilter::InnerQueryInterface(id, out);
}

// The ids are compared in order up to the first wildcard of the wanted type.
HRESULT R_CSampleGrabber::AcceptsInputType(const AM_MEDIA_TYPE *type)
{
    static GUID AM_MEDIA_TYPE::*const s_Ids[] = {&AM_MEDIA_TYPE::majortype, &AM_MEDIA_TYPE::subtype,
                                                 &AM_MEDIA_TYPE::formattype};
    if (type == NULL) {
        return E_POINTER;
    }
    R_CMediaLockScope lock(&m_CallbackLock);
    for (GUID AM_MEDIA_TYPE::*id : s_Ids) {
        if (m_WantedType.*id == GUID_NULL) {
            return S_OK;
        }
        if (type->*id != m_WantedType.*id) {
            return VFW_E_INVALID_MEDIA_TYPE;
        }
    }
    return S_OK;
}

GUID R_CSampleGrabber::WantedMajorType()
{
    R_CMediaLockScope lock(&m_CallbackLock);
    return m_WantedType.majortype;
}

// A sample whose times cannot be read reaches the callback with times 0.
HRESULT R_CSampleGrabber::TransformInPlace(IMediaSample *sample)
{
    if (sample == NULL) {
        return E_POINTER;
    }
    R_CMediaLockScope lock(&m_CallbackLock);
    if (m_Callback == NULL) {
        return S_OK;
    }
    R_CSampleGrabberInputPin *input = GrabberInputPin();
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    if (SUCCEEDED(sample->GetTime(&start, &stop))) {
        start += input->SegmentStart();
        stop += input->SegmentStart();
    } else {
        start = stop = 0;
    }
    return m_Callback(sample, &start, &stop, input->TakeTypeChanged(), m_CallbackContext);
}

HRESULT R_CSampleGrabber::SetWantedMediaType(const AM_MEDIA_TYPE *type)
{
    R_CMediaLockScope lock(&m_CallbackLock);
    if (type == NULL) {
        m_WantedType.ClearMediaTypeRecord();
        m_WantedType.ResetToBlank();
        return S_OK;
    }
    return m_WantedType.AssignMediaType(*type);
}

HRESULT R_CSampleGrabber::GetInputMediaType(AM_MEDIA_TYPE *out)
{
    if (m_Input == NULL || !m_Input->IsConnected()) {
        return VFW_E_NOT_CONNECTED;
    }
    return m_Input->ConnectionMediaType(out);
}

HRESULT R_CSampleGrabber::SetSampleCallback(GrabberSampleCallback callback, void *context)
{
    R_CMediaLockScope lock(&m_CallbackLock);
    m_Callback = callback;
    m_CallbackContext = context;
    return S_OK;
}

HRESULT R_CSampleGrabber::SetExternalBuffer(ALLOCATOR_PROPERTIES properties, BYTE *buffer)
{
    if (m_Input == NULL || m_Output == NULL) {
        return E_POINTER;
    }
    if (m_Input->IsConnected() || m_Output->IsConnected()) {
        return E_INVALIDARG;
    }
    return GrabberInputPin()->UseExternalBuffer(properties, buffer);
}

// ---------------------------------------------------------------------------------------------------------------
// Input pin.

R_CSampleGrabberInputPin::R_CSampleGrabberInputPin(R_CSampleGrabber *filter, HRESULT *result)
    : R_CInPlaceXFormInputPin("SampleGrabberInputPin", filter, result, L"Input"), m_PrivateAllocator(NULL),
      m_BufferProperties(), m_ExternalBuffer(NULL), m_TypeChanged(FALSE)
{
}

R_CSampleGrabberInputPin::~R_CSampleGrabberInputPin()
{
    if (m_PrivateAllocator != NULL) {
        m_PrivateAllocator->MemAllocator()->Release();
    }
}

// An allocator whose construction failed is not kept.
HRESULT R_CSampleGrabberInputPin::UseExternalBuffer(const ALLOCATOR_PROPERTIES &properties, BYTE *buffer)
{
    if (properties.cBuffers != 1) {
        return E_INVALIDARG;
    }
    if (buffer == NULL) {
        return E_POINTER;
    }
    m_ExternalBuffer = buffer;
    m_BufferProperties = properties;
    if (m_PrivateAllocator != NULL) {
        m_PrivateAllocator->MemAllocator()->Release();
    }
    HRESULT made = S_OK;
    m_PrivateAllocator = new (std::nothrow) R_CSampleGrabberAllocator(this, &made);
    if (m_PrivateAllocator == NULL) {
        return E_OUTOFMEMORY;
    }
    m_PrivateAllocator->MemAllocator()->AddRef();
    if (FAILED(made)) {
        m_PrivateAllocator->MemAllocator()->Release();
        m_PrivateAllocator = NULL;
    }
    return made;
}

BOOL R_CSampleGrabberInputPin::TakeTypeChanged()
{
    const BOOL changed = m_TypeChanged;
    m_TypeChanged = FALSE;
    return changed;
}

HRESULT R_CSampleGrabberInputPin::AdoptMediaType(const AM_MEDIA_TYPE *type)
{
    m_TypeChanged = TRUE;
    return R_CInPlaceXFormInputPin::AdoptMediaType(type);
}

// One proposal: the wanted major type, nothing else of the wanted type.
HRESULT R_CSampleGrabberInputPin::ProposeMediaType(int position, AM_MEDIA_TYPE *type)
{
    if (type == NULL) {
        return E_POINTER;
    }
    if (position < 0) {
        return E_INVALIDARG;
    }
    if (position > 0) {
        return VFW_S_NO_MORE_ITEMS;
    }
    ClearMediaTypeRecord(type);
    ResetToBlank(type);
    type->majortype = static_cast<R_CSampleGrabber *>(m_InPlaceFilter)->WantedMajorType();
    return S_OK;
}

HRESULT R_CSampleGrabberInputPin::EnumMediaTypes(IEnumMediaTypes **out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    R_CXFormOutputPin *output = m_InPlaceFilter->OutputPin();
    if (output->IsConnected()) {
        return output->ConnectedPin()->EnumMediaTypes(out);
    }
    return R_CPinBase::EnumMediaTypes(out);
}

HRESULT R_CSampleGrabberInputPin::GetAllocator(IMemAllocator **out)
{
    if (m_PrivateAllocator == NULL) {
        return R_CInPlaceXFormInputPin::GetAllocator(out);
    }
    if (out == NULL) {
        return E_POINTER;
    }
    *out = m_PrivateAllocator->MemAllocator();
    (*out)->AddRef();
    return S_OK;
}

// With a private allocator only that one is taken, and never read-only when the filter modifies data.
HRESULT R_CSampleGrabberInputPin::NotifyAllocator(IMemAllocator *allocator, BOOL readOnly)
{
    if (m_PrivateAllocator != NULL) {
        if (allocator != m_PrivateAllocator->MemAllocator()) {
            return E_FAIL;
        }
        if (readOnly && m_InPlaceFilter->ModifiesData()) {
            return E_FAIL;
        }
    }
    return R_CInPlaceXFormInputPin::NotifyAllocator(allocator, readOnly);
}

HRESULT R_CSampleGrabberInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES *out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    if (m_PrivateAllocator == NULL) {
        return R_CInPlaceXFormInputPin::GetAllocatorRequirements(out);
    }
    *out = m_BufferProperties;
    return S_OK;
}

// ---------------------------------------------------------------------------------------------------------------
// Private allocator.

// The base checks first; whatever the answer after them, the agreed (and reported) values are the caller's, so
// that a commit never cuts samples past the caller's buffer.
HRESULT R_CSampleGrabberAllocator::SetProperties(ALLOCATOR_PROPERTIES *request, ALLOCATOR_PROPERTIES *actual)
{
    HRESULT result = R_CVirtualMemAllocator::SetProperties(request, actual);
    if (FAILED(result)) {
        return result;
    }
    const ALLOCATOR_PROPERTIES &own = m_Owner->BufferProperties();
    R_CMediaLockScope lock(&m_Lock);
    m_Count = own.cBuffers;
    m_Size = own.cbBuffer;
    m_Alignment = own.cbAlign;
    m_Prefix = own.cbPrefix;
    *actual = own;
    if (request->cbAlign != own.cbAlign) {
        return VFW_E_BADALIGN;
    }
    if (request->cbPrefix != own.cbPrefix || request->cbBuffer > own.cbBuffer || request->cBuffers > own.cBuffers) {
        return E_FAIL;
    }
    return S_OK;
}

void R_CSampleGrabberAllocator::ReleaseGrabberSamples()
{
    for (R_CAllocatedSample *sample = PopFree(); sample != NULL; sample = PopFree()) {
        delete sample;
    }
    m_Allocated = 0;
}

HRESULT R_CSampleGrabberAllocator::AllocateBuffers()
{
    R_CMediaLockScope lock(&m_Lock);
    HRESULT result = SizesSet();
    if (result != S_OK) {
        return result == S_FALSE ? S_OK : result;
    }
    if (m_Block != NULL) {
        ReleaseGrabberSamples();
    }
    LONG slice = 0;
    result = SliceSize(m_Count, m_Size, m_Alignment, m_Prefix, &slice);
    if (FAILED(result)) {
        return result;
    }
    m_Block = m_Owner->ExternalBuffer();
    if (m_Block == NULL) {
        return E_OUTOFMEMORY;
    }
    BYTE *position = m_Block;
    while (m_Allocated < m_Count) {
        HRESULT unread = S_OK;
        R_CAllocatedSample *sample =
            new (std::nothrow) R_CAllocatedSample(NULL, this, &unread, position + m_Prefix, m_Size);
        if (sample == NULL) {
            return E_OUTOFMEMORY;
        }
        PushFree(sample);
        m_Allocated += 1;
        position += slice;
    }
    m_Changed = FALSE;
    return S_OK;
}
