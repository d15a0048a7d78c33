// Asynchronous reader filter and its output pin: a source filter whose one pin offers its byte source to a pulling
// parser through IAsyncReader. Sample times carry byte positions times 10^7; every range is checked against the
// sample's buffer in 64 bits before a read is queued or performed. The IAsyncReader calls come from the parser's
// threads and go straight to the filter's I/O queue; the connection calls hold the filter lock.
#include "media/media_async.h"

#include <algorithm>
#include <new>

static const CLSID ReaderClassId = {0xC553F2C0, 0x1529, 0x11D0, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
static const LONGLONG UnitsPerByte = 10000000;

// ---------------------------------------------------------------------------------------------------------------
// Filter.

R_CAsyncReaderFilter::R_CAsyncReaderFilter(const char *name, IUnknown *outer, R_CAsyncSourceStream *source,
                                           HRESULT *result)
    : R_CFilterBase(name, outer, &m_FilterLock, ReaderClassId, result), m_Queue(source),
      m_OutputPin(this, &m_FilterLock, &m_Queue, result)
{
}

R_CAsyncReaderFilter::~R_CAsyncReaderFilter()
{
}

int R_CAsyncReaderFilter::CountPins()
{
    return 1;
}

R_CPinBase *R_CAsyncReaderFilter::PinAtIndex(int index)
{
    return (index == 0 && CountPins() >= 1) ? m_OutputPin.Pin() : NULL;
}

HRESULT R_CAsyncReaderFilter::ConnectOutputPin(IPin *peer, const AM_MEDIA_TYPE *type)
{
    return m_OutputPin.R_CPinBase::Connect(peer, type);
}

// ---------------------------------------------------------------------------------------------------------------
// Output pin: connection.

R_CReaderOutputPin::R_CReaderOutputPin(R_CAsyncReaderFilter *filter, R_CMediaLock *lock, R_CAsyncIoQueue *queue,
                                       HRESULT *result)
    : R_CPinBase("Async output pin", filter, lock, result, L"Output", PINDIR_OUTPUT), m_Reader(filter), m_Queue(queue),
      m_Queried(FALSE)
{
}

HRESULT STDMETHODCALLTYPE R_CReaderOutputPin::InnerQueryInterface(REFIID id, void **out)
{
    if (IsEqualIID(id, IID_IAsyncReader)) {
        m_Queried = TRUE;
        return HandOutInterface(static_cast<IAsyncReader *>(this), out);
    }
    return R_CPinBase::InnerQueryInterface(id, out);
}

HRESULT R_CReaderOutputPin::AcceptsMediaType(const AM_MEDIA_TYPE *type)
{
    if (type == NULL) {
        return E_POINTER;
    }
    R_CMediaLockScope scope(m_Lock);
    const R_CMediaTypeRecord &offered = m_Reader->OfferedType();
    if (!IsEqualGUID(type->majortype, offered.majortype)) {
        return S_FALSE;
    }
    return (IsEqualGUID(offered.subtype, GUID_NULL) || IsEqualGUID(type->subtype, offered.subtype)) ? S_OK : S_FALSE;
}

HRESULT R_CReaderOutputPin::VerifyPeer(IPin *peer)
{
    m_Queried = FALSE;
    return R_CPinBase::VerifyPeer(peer);
}

HRESULT R_CReaderOutputPin::ReleaseConnectionResources()
{
    m_Queried = FALSE;
    return S_OK;
}

// A peer that never asked for IAsyncReader cannot pull from this pin.
HRESULT R_CReaderOutputPin::FinishConnection(IPin *peer)
{
    return m_Queried ? S_OK : E_FAIL;
}

HRESULT R_CReaderOutputPin::ProposeMediaType(int position, AM_MEDIA_TYPE *type)
{
    if (position < 0) {
        return E_INVALIDARG;
    }
    if (position > 0) {
        return VFW_S_NO_MORE_ITEMS;
    }
    if (type == NULL) {
        return E_POINTER;
    }
    if (m_Reader == NULL) {
        return E_UNEXPECTED;
    }
    return static_cast<R_CMediaTypeRecord *>(type)->AssignMediaType(m_Reader->OfferedType());
}

HRESULT STDMETHODCALLTYPE R_CReaderOutputPin::Connect(IPin *receivePin, const AM_MEDIA_TYPE *type)
{
    return m_Reader->ConnectOutputPin(receivePin, type);
}

HRESULT STDMETHODCALLTYPE R_CReaderOutputPin::EndOfStream()
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CReaderOutputPin::BeginFlush()
{
    return m_Queue->BeginFlush();
}

HRESULT STDMETHODCALLTYPE R_CReaderOutputPin::EndFlush()
{
    return m_Queue->EndFlush();
}

// ---------------------------------------------------------------------------------------------------------------
// IAsyncReader.

// Hands the allocator out when it takes the properties with an alignment the source can use.
HRESULT R_CReaderOutputPin::TryAllocator(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *props, IMemAllocator **actual)
{
    ALLOCATOR_PROPERTIES agreed;
    HRESULT result = allocator->SetProperties(props, &agreed);
    if (FAILED(result)) {
        return result;
    }
    LONG alignment = 1;
    m_Queue->Alignment(&alignment);
    if (agreed.cbAlign % alignment != 0) {
        return VFW_E_BADALIGN;
    }
    *actual = allocator;
    allocator->AddRef();
    return S_OK;
}

HRESULT R_CReaderOutputPin::EnsureSelfAllocator(IMemAllocator **out)
{
    HRESULT result = S_OK;
    R_CVirtualMemAllocator *own = new (std::nothrow) R_CVirtualMemAllocator("Async reader allocator", NULL, &result);
    if (own == NULL) {
        return E_OUTOFMEMORY;
    }
    if (FAILED(result)) {
        delete own;
        return result;
    }
    if (FAILED(own->InnerQueryInterface(IID_IMemAllocator, (void **)out))) {
        delete own;
        return E_NOINTERFACE;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CReaderOutputPin::RequestAllocator(IMemAllocator *preferred, ALLOCATOR_PROPERTIES *props,
                                                               IMemAllocator **actual)
{
    if (preferred == NULL || props == NULL || actual == NULL) {
        return E_POINTER;
    }
    LONG alignment = 1;
    m_Queue->Alignment(&alignment);
    if (props->cbAlign == 0 || props->cbAlign % alignment != 0) {
        props->cbAlign = alignment;
    }
    if (TryAllocator(preferred, props, actual) == S_OK) {
        return S_OK;
    }
    IMemAllocator *own = NULL;
    HRESULT result = EnsureSelfAllocator(&own);
    if (FAILED(result)) {
        return result;
    }
    result = TryAllocator(own, props, actual);
    own->Release();
    return result;
}

// The byte range of a sample, cut at the end of the source (rounded up to the source's alignment). A range that
// runs backwards or does not fit the sample's buffer is refused before anything is queued or written.
HRESULT R_CReaderOutputPin::SampleRange(IMediaSample *sample, LONGLONG *position, LONG *length, BYTE **buffer)
{
    if (sample == NULL) {
        return E_POINTER;
    }
    REFERENCE_TIME start = 0, stop = 0;
    HRESULT result = sample->GetTime(&start, &stop);
    if (FAILED(result)) {
        return result;
    }
    *position = start / UnitsPerByte;
    LONGLONG bytes = (stop - start) / UnitsPerByte;
    if (bytes < 0) {
        return E_INVALIDARG;
    }
    if (bytes > sample->GetSize()) {
        return VFW_E_BUFFER_OVERFLOW;
    }
    LONGLONG total = 0;
    m_Queue->Length(&total, NULL);
    if (*position + bytes > total) {
        LONG alignment = 1;
        m_Queue->Alignment(&alignment);
        const LONGLONG rounded = (total + alignment - 1) / alignment * alignment;
        if (*position + bytes > rounded) {
            bytes = std::max(rounded - *position, 0LL);
            REFERENCE_TIME end = std::max(rounded * UnitsPerByte, start);
            sample->SetTime(&start, &end);
        }
    }
    *length = (LONG)bytes;
    return sample->GetPointer(buffer);
}

HRESULT STDMETHODCALLTYPE R_CReaderOutputPin::Request(IMediaSample *sample, DWORD_PTR user)
{
    LONGLONG position = 0;
    LONG length = 0;
    BYTE *buffer = NULL;
    HRESULT result = SampleRange(sample, &position, &length, &buffer);
    if (FAILED(result)) {
        return result;
    }
    return m_Queue->Request(position, length, TRUE, buffer, sample, user);
}

HRESULT STDMETHODCALLTYPE R_CReaderOutputPin::WaitForNext(DWORD timeout, IMediaSample **sample, DWORD_PTR *user)
{
    if (sample == NULL) {
        return E_POINTER;
    }
    void *context = NULL;
    LONG bytes = 0;
    HRESULT result = m_Queue->WaitForNext(timeout, &context, user, &bytes);
    *sample = static_cast<IMediaSample *>(context);
    if (SUCCEEDED(result) && *sample != NULL) {
        (*sample)->SetActualDataLength(bytes);
    }
    return result;
}

HRESULT STDMETHODCALLTYPE R_CReaderOutputPin::SyncReadAligned(IMediaSample *sample)
{
    LONGLONG position = 0;
    LONG length = 0;
    BYTE *buffer = NULL;
    HRESULT result = SampleRange(sample, &position, &length, &buffer);
    if (FAILED(result)) {
        return result;
    }
    LONG bytes = 0;
    result = m_Queue->SyncReadAligned(position, length, buffer, &bytes, sample);
    if (result != VFW_E_BADALIGN) {
        sample->SetActualDataLength(bytes);
    }
    return result;
}

HRESULT STDMETHODCALLTYPE R_CReaderOutputPin::SyncRead(LONGLONG position, LONG length, BYTE *buffer)
{
    return m_Queue->SyncRead(position, length, buffer);
}

HRESULT STDMETHODCALLTYPE R_CReaderOutputPin::Length(LONGLONG *total, LONGLONG *available)
{
    return m_Queue->Length(total, available);
}
