// Sample allocators and the media sample: the pool with its free list, the semaphore on which GetBuffer blocks and
// the commit/decommit life cycle; the VirtualAlloc pool cut into aligned slices; the sample's IMediaSample2. Called
// from the platform's streaming threads, the reader's worker and the window thread; the allocator's lock guards
// its fields and the free list, GetBuffer waits outside it, and samples' counts change atomically. Every size is
// checked in 64 bits before a block is cut, so no product wraps into a small block shared by many slices.
#include "media/media_allocator.h"

#include <algorithm>
#include <new>

static const LONGLONG MaxPoolBytes = 0x80000000LL;

// ---------------------------------------------------------------------------------------------------------------
// Allocator base.

R_CAllocatorBase::R_CAllocatorBase(const char *name, IUnknown *outer, HRESULT *result, BOOL withEvent,
                                   BOOL releaseCallback)
    : R_CMediaUnknown(name, outer), m_FreeHead(NULL), m_FreeCount(0), m_Semaphore(NULL), m_Waiting(0), m_Count(0),
      m_Allocated(0), m_Size(0), m_Alignment(0), m_Prefix(0), m_Changed(FALSE), m_Committed(FALSE),
      m_DecommitPending(FALSE), m_Notify(NULL), m_ReleaseCallback(releaseCallback)
{
    if (withEvent) {
        m_Semaphore = CreateSemaphoreA(NULL, 0, 0x7FFFFFFF, NULL);
        if (m_Semaphore == NULL && result != NULL) {
            *result = E_OUTOFMEMORY;
        }
    }
}

R_CAllocatorBase::~R_CAllocatorBase()
{
    if (m_Semaphore != NULL) {
        CloseHandle(m_Semaphore);
    }
    if (m_Notify != NULL) {
        m_Notify->Release();
    }
}

HRESULT STDMETHODCALLTYPE R_CAllocatorBase::InnerQueryInterface(REFIID id, void **out)
{
    if (IsEqualIID(id, IID_IMemAllocator) || (m_ReleaseCallback && IsEqualIID(id, IID_IMemAllocatorCallbackTemp))) {
        return HandOutInterface(static_cast<IMemAllocatorCallbackTemp *>(this), out);
    }
    return R_CMediaUnknown::InnerQueryInterface(id, out);
}

void R_CAllocatorBase::PushFree(R_CAllocatedSample *sample)
{
    sample->m_Next = m_FreeHead;
    m_FreeHead = sample;
    m_FreeCount += 1;
}

R_CAllocatedSample *R_CAllocatorBase::PopFree()
{
    R_CAllocatedSample *sample = m_FreeHead;
    if (sample != NULL) {
        m_FreeHead = sample->m_Next;
        m_FreeCount -= 1;
    }
    return sample;
}

void R_CAllocatorBase::ReleaseWaiters()
{
    if (m_Waiting > 0) {
        ReleaseSemaphore(m_Semaphore, m_Waiting, NULL);
        m_Waiting = 0;
    }
}

HRESULT R_CAllocatorBase::SizesSet() const
{
    if (m_Count < 1 || m_Size < 1 || m_Alignment < 1) {
        return VFW_E_SIZENOTSET;
    }
    return m_Changed ? S_OK : S_FALSE;
}

HRESULT R_CAllocatorBase::SliceSize(LONG count, LONG size, LONG alignment, LONG prefix, LONG *slice)
{
    if (count < 0 || size < 0 || alignment < 0 || prefix < 0) {
        return E_INVALIDARG;
    }
    LONGLONG bytes = (LONGLONG)size + prefix;
    if (alignment > 1) {
        bytes = (bytes + alignment - 1) / alignment * alignment;
    }
    if (bytes > MaxPoolBytes || bytes * count > MaxPoolBytes) {
        return E_OUTOFMEMORY;
    }
    *slice = (LONG)bytes;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CAllocatorBase::SetProperties(ALLOCATOR_PROPERTIES *request, ALLOCATOR_PROPERTIES *actual)
{
    if (actual == NULL || request == NULL) {
        return E_POINTER;
    }
    ZeroMemory(actual, sizeof(*actual));
    R_CMediaLockScope scope(&m_Lock);
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    if (request->cbAlign == 0 || (((DWORD)request->cbAlign - 1) & system.dwAllocationGranularity) != 0) {
        return VFW_E_BADALIGN;
    }
    if (m_Committed) {
        return VFW_E_ALREADY_COMMITTED;
    }
    if (m_FreeCount < m_Allocated) {
        return VFW_E_BUFFERS_OUTSTANDING;
    }
    LONG slice = 0;
    HRESULT result = SliceSize(request->cBuffers, request->cbBuffer, request->cbAlign, request->cbPrefix, &slice);
    if (FAILED(result)) {
        return result;
    }
    // The agreed size fills the slice up to its alignment.
    m_Size = slice - request->cbPrefix;
    m_Count = request->cBuffers;
    m_Alignment = request->cbAlign;
    m_Prefix = request->cbPrefix;
    m_Changed = TRUE;
    actual->cBuffers = m_Count;
    actual->cbBuffer = m_Size;
    actual->cbAlign = m_Alignment;
    actual->cbPrefix = m_Prefix;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CAllocatorBase::GetProperties(ALLOCATOR_PROPERTIES *out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    R_CMediaLockScope scope(&m_Lock);
    out->cBuffers = m_Count;
    out->cbBuffer = m_Size;
    out->cbAlign = m_Alignment;
    out->cbPrefix = m_Prefix;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CAllocatorBase::Commit()
{
    R_CMediaLockScope scope(&m_Lock);
    if (m_Committed) {
        return S_OK;
    }
    m_Committed = TRUE;
    if (m_DecommitPending) {
        // The reference taken at the first commit is still held.
        m_DecommitPending = FALSE;
        return S_OK;
    }
    HRESULT result = AllocateBuffers();
    if (FAILED(result)) {
        m_Committed = FALSE;
        return result;
    }
    MemAllocator()->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CAllocatorBase::Decommit()
{
    BOOL dropReference = FALSE;
    m_Lock.Lock();
    if (m_Committed || m_DecommitPending) {
        m_Committed = FALSE;
        if (m_FreeCount == m_Allocated) {
            FreeBuffers();
            m_DecommitPending = FALSE;
            dropReference = TRUE;
        } else {
            m_DecommitPending = TRUE;
        }
        ReleaseWaiters();
    }
    m_Lock.Unlock();
    if (dropReference) {
        MemAllocator()->Release();
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CAllocatorBase::GetBuffer(IMediaSample **out, REFERENCE_TIME *start, REFERENCE_TIME *stop,
                                                      DWORD flags)
{
    if (out == NULL) {
        return E_POINTER;
    }
    *out = NULL;
    for (;;) {
        m_Lock.Lock();
        if (!m_Committed) {
            m_Lock.Unlock();
            return VFW_E_NOT_COMMITTED;
        }
        R_CAllocatedSample *sample = PopFree();
        if (sample != NULL) {
            sample->m_RefCount = 1;
            m_Lock.Unlock();
            *out = sample;
            return S_OK;
        }
        // An allocator made without its semaphore cannot block.
        if ((flags & AM_GBF_NOWAIT) || m_Semaphore == NULL) {
            m_Lock.Unlock();
            return VFW_E_TIMEOUT;
        }
        m_Waiting += 1;
        m_Lock.Unlock();
        WaitForSingleObject(m_Semaphore, INFINITE);
    }
}

HRESULT STDMETHODCALLTYPE R_CAllocatorBase::ReleaseBuffer(IMediaSample *sample)
{
    if (sample == NULL) {
        return E_POINTER;
    }
    BOOL decommitted = FALSE;
    m_Lock.Lock();
    PushFree(static_cast<R_CAllocatedSample *>(sample));
    ReleaseWaiters();
    if (m_DecommitPending && m_FreeCount == m_Allocated) {
        FreeBuffers();
        m_DecommitPending = FALSE;
        decommitted = TRUE;
    }
    IMemAllocatorNotifyCallbackTemp *notify = m_Notify;
    if (notify != NULL) {
        notify->AddRef();
    }
    m_Lock.Unlock();
    if (notify != NULL) {
        notify->NotifyRelease();
        notify->Release();
    }
    if (decommitted) {
        MemAllocator()->Release();
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CAllocatorBase::SetNotify(IMemAllocatorNotifyCallbackTemp *notify)
{
    R_CMediaLockScope scope(&m_Lock);
    if (notify != NULL) {
        notify->AddRef();
    }
    if (m_Notify != NULL) {
        m_Notify->Release();
    }
    m_Notify = notify;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CAllocatorBase::GetFreeCount(LONG *out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    R_CMediaLockScope scope(&m_Lock);
    *out = m_Count - m_Allocated + m_FreeCount;
    return S_OK;
}

// ---------------------------------------------------------------------------------------------------------------
// VirtualAlloc pool.

R_CVirtualMemAllocator::R_CVirtualMemAllocator(const char *name, IUnknown *outer, HRESULT *result)
    : R_CAllocatorBase(name, outer, result, TRUE, TRUE), m_Block(NULL)
{
}

R_CVirtualMemAllocator::~R_CVirtualMemAllocator()
{
    Decommit();
    ReleaseBlock();
}

void R_CVirtualMemAllocator::FreeBuffers()
{
}

void R_CVirtualMemAllocator::ReleaseBlock()
{
    while (R_CAllocatedSample *sample = PopFree()) {
        delete sample;
    }
    m_Allocated = 0;
    if (m_Block != NULL) {
        VirtualFree(m_Block, 0, MEM_RELEASE);
        m_Block = NULL;
    }
}

HRESULT R_CVirtualMemAllocator::AllocateBuffers()
{
    R_CMediaLockScope scope(&m_Lock);
    HRESULT result = SizesSet();
    if (result != S_OK) {
        return FAILED(result) ? result : S_OK;
    }
    if (m_Block != NULL) {
        ReleaseBlock();
    }
    LONG slice = 0;
    result = SliceSize(m_Count, m_Size, m_Alignment, m_Prefix, &slice);
    if (FAILED(result)) {
        return result;
    }
    m_Block = (BYTE *)VirtualAlloc(NULL, (SIZE_T)m_Count * slice, MEM_COMMIT, PAGE_READWRITE);
    if (m_Block == NULL) {
        return E_OUTOFMEMORY;
    }
    for (BYTE *next = m_Block; m_Allocated < m_Count; next += slice) {
        R_CAllocatedSample *sample =
            new (std::nothrow) R_CAllocatedSample("R_CAllocatedSample", this, &result, next + m_Prefix, m_Size);
        if (sample == NULL) {
            return E_OUTOFMEMORY;
        }
        PushFree(sample);
        m_Allocated += 1;
    }
    m_Changed = FALSE;
    return S_OK;
}

// ---------------------------------------------------------------------------------------------------------------
// Media sample.

static const DWORD MediaTimeValid = 0x20;       // the sample's own flag: never set through properties
static const DWORD SettableSampleFlags = 0x1DF; // every property flag but MediaTimeValid

R_CAllocatedSample::R_CAllocatedSample(const char *name, R_CAllocatorBase *allocator, HRESULT *result, BYTE *buffer,
                                       LONG size)
    : R_CMediaObject(name), m_Flags(0), m_TypeSpecificFlags(0), m_Buffer(buffer), m_ActualLength(size), m_Size(size),
      m_Allocator(allocator), m_Next(NULL), m_Start(0), m_Stop(0), m_MediaStart(0), m_MediaEnd(0), m_MediaType(NULL),
      m_StreamId(0), m_RefCount(0)
{
}

R_CAllocatedSample::~R_CAllocatedSample()
{
    FreeMediaTypeRecord(m_MediaType);
}

HRESULT STDMETHODCALLTYPE R_CAllocatedSample::QueryInterface(REFIID id, void **out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    if (IsEqualIID(id, IID_IMediaSample) || IsEqualIID(id, IID_IMediaSample2) || IsEqualIID(id, IID_IUnknown)) {
        return HandOutInterface(static_cast<IMediaSample2 *>(this), out);
    }
    *out = NULL;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE R_CAllocatedSample::AddRef()
{
    return InterlockedIncrement(&m_RefCount);
}

// The last release hands the sample home clean; the allocator alone deletes samples.
ULONG STDMETHODCALLTYPE R_CAllocatedSample::Release()
{
    LONG count = InterlockedDecrement(&m_RefCount);
    if (count != 0) {
        return count;
    }
    SetMediaType(NULL);
    m_Flags = 0;
    m_TypeSpecificFlags = 0;
    m_StreamId = 0;
    m_Allocator->ReleaseBuffer(this);
    return 0;
}

HRESULT STDMETHODCALLTYPE R_CAllocatedSample::GetPointer(BYTE **out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    *out = m_Buffer;
    return S_OK;
}

LONG STDMETHODCALLTYPE R_CAllocatedSample::GetSize()
{
    return m_Size;
}

HRESULT STDMETHODCALLTYPE R_CAllocatedSample::GetTime(REFERENCE_TIME *start, REFERENCE_TIME *stop)
{
    if (start == NULL || stop == NULL) {
        return E_POINTER;
    }
    if (m_Flags & AM_SAMPLE_STOPVALID) {
        *start = m_Start;
        *stop = m_Stop;
        return S_OK;
    }
    if (m_Flags & AM_SAMPLE_TIMEVALID) {
        *start = m_Start;
        *stop = m_Start + 1;
        return VFW_S_NO_STOP_TIME;
    }
    return VFW_E_SAMPLE_TIME_NOT_SET;
}

HRESULT STDMETHODCALLTYPE R_CAllocatedSample::SetTime(REFERENCE_TIME *start, REFERENCE_TIME *stop)
{
    SetFlag(AM_SAMPLE_TIMEVALID, start != NULL);
    SetFlag(AM_SAMPLE_STOPVALID, start != NULL && stop != NULL);
    if (start != NULL) {
        m_Start = *start;
    }
    if (start != NULL && stop != NULL) {
        m_Stop = *stop;
    }
    return S_OK;
}

void R_CAllocatedSample::SetFlag(DWORD flag, BOOL value)
{
    m_Flags = value ? (m_Flags | flag) : (m_Flags & ~flag);
}

HRESULT STDMETHODCALLTYPE R_CAllocatedSample::IsSyncPoint()
{
    return (m_Flags & AM_SAMPLE_SPLICEPOINT) ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE R_CAllocatedSample::SetSyncPoint(BOOL value)
{
    SetFlag(AM_SAMPLE_SPLICEPOINT, value);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CAllocatedSample::IsPreroll()
{
    return (m_Flags & AM_SAMPLE_PREROLL) ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE R_CAllocatedSample::SetPreroll(BOOL value)
{
    SetFlag(AM_SAMPLE_PREROLL, value);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CAllocatedSample::IsDiscontinuity()
{
    return (m_Flags & AM_SAMPLE_DATADISCONTINUITY) ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE R_CAllocatedSample::SetDiscontinuity(BOOL value)
{
    SetFlag(AM_SAMPLE_DATADISCONTINUITY, value);
    return S_OK;
}

LONG STDMETHODCALLTYPE R_CAllocatedSample::GetActualDataLength()
{
    return m_ActualLength;
}

HRESULT STDMETHODCALLTYPE R_CAllocatedSample::SetActualDataLength(LONG length)
{
    if (length < 0) {
        return E_INVALIDARG;
    }
    if (length > m_Size) {
        return VFW_E_BUFFER_OVERFLOW;
    }
    m_ActualLength = length;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CAllocatedSample::GetMediaType(AM_MEDIA_TYPE **out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    *out = NULL;
    if (!(m_Flags & AM_SAMPLE_TYPECHANGED)) {
        return S_FALSE;
    }
    *out = AllocMediaTypeRecord(m_MediaType);
    return *out != NULL ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE R_CAllocatedSample::SetMediaType(AM_MEDIA_TYPE *type)
{
    FreeMediaTypeRecord(m_MediaType);
    m_MediaType = type != NULL ? AllocMediaTypeRecord(type) : NULL;
    SetFlag(AM_SAMPLE_TYPECHANGED, m_MediaType != NULL);
    return (type != NULL && m_MediaType == NULL) ? E_OUTOFMEMORY : S_OK;
}

HRESULT STDMETHODCALLTYPE R_CAllocatedSample::GetMediaTime(LONGLONG *start, LONGLONG *stop)
{
    if (start == NULL || stop == NULL) {
        return E_POINTER;
    }
    if (!(m_Flags & MediaTimeValid)) {
        return VFW_E_MEDIA_TIME_NOT_SET;
    }
    *start = m_MediaStart;
    *stop = m_MediaStart + m_MediaEnd;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CAllocatedSample::SetMediaTime(LONGLONG *start, LONGLONG *stop)
{
    if (start == NULL) {
        SetFlag(MediaTimeValid, FALSE);
        return S_OK;
    }
    if (stop == NULL) {
        return E_POINTER;
    }
    m_MediaStart = *start;
    m_MediaEnd = (LONG)(*stop - *start);
    SetFlag(MediaTimeValid, TRUE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CAllocatedSample::GetProperties(DWORD size, BYTE *out)
{
    if (size == 0) {
        return S_OK;
    }
    if (out == NULL) {
        return E_POINTER;
    }
    AM_SAMPLE2_PROPERTIES record;
    record.cbData = std::min(size, (DWORD)sizeof(record));
    record.dwTypeSpecificFlags = m_TypeSpecificFlags;
    record.dwSampleFlags = m_Flags & ~MediaTimeValid;
    record.lActual = m_ActualLength;
    record.tStart = m_Start;
    record.tStop = m_Stop;
    record.dwStreamId = m_StreamId;
    record.pMediaType = (m_Flags & AM_SAMPLE_TYPECHANGED) ? m_MediaType : NULL;
    record.pbBuffer = m_Buffer;
    record.cbBuffer = m_Size;
    CopyMemory(out, &record, record.cbData);
    return S_OK;
}

// The checks of SetProperties for the bytes the record covers; nothing is changed.
HRESULT R_CAllocatedSample::CheckProperties(DWORD covered, const AM_SAMPLE2_PROPERTIES &record) const
{
    if (covered > sizeof(record) || record.cbData > sizeof(record)) {
        return E_INVALIDARG;
    }
    if (covered >= 12 &&
        ((record.dwSampleFlags & ~SettableSampleFlags) != 0 ||
         ((record.dwSampleFlags & AM_SAMPLE_TIMEVALID) && !(m_Flags & AM_SAMPLE_TIMEVALID) && covered < 32))) {
        return E_INVALIDARG;
    }
    // An actual length outside the buffer would let a reader run past it, whatever else the record covers.
    if (covered >= 16 && (record.lActual < 0 || record.lActual > m_Size)) {
        return E_INVALIDARG;
    }
    if (covered >= 44 && record.pbBuffer != NULL && record.pbBuffer != m_Buffer) {
        return E_INVALIDARG;
    }
    if (covered >= 48 && ((record.cbBuffer != 0 && record.cbBuffer != m_Size) || record.cbBuffer < record.lActual)) {
        return E_INVALIDARG;
    }
    if (covered >= 40 && (record.dwSampleFlags & AM_SAMPLE_TYPECHANGED) && record.pMediaType == NULL) {
        return E_POINTER;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CAllocatedSample::SetProperties(DWORD size, const BYTE *in)
{
    if (size < 4) {
        return S_OK;
    }
    if (in == NULL) {
        return E_POINTER;
    }
    // Only the covered bytes are read: the caller's record may be shorter than the platform's.
    AM_SAMPLE2_PROPERTIES record;
    ZeroMemory(&record, sizeof(record));
    CopyMemory(&record, in, std::min(size, (DWORD)sizeof(record)));
    const DWORD covered = std::min(size, record.cbData);
    HRESULT result = CheckProperties(covered, record);
    if (FAILED(result)) {
        return result;
    }
    const bool newType = covered >= 40 && (record.dwSampleFlags & AM_SAMPLE_TYPECHANGED);
    AM_MEDIA_TYPE *copy = NULL;
    if (newType && (copy = AllocMediaTypeRecord(record.pMediaType)) == NULL) {
        return E_OUTOFMEMORY;
    }
    if (covered >= 36) {
        m_StreamId = record.dwStreamId;
    }
    if (covered >= 12) {
        m_Flags = record.dwSampleFlags | (m_Flags & MediaTimeValid);
    }
    if (covered >= 8) {
        m_TypeSpecificFlags = record.dwTypeSpecificFlags;
    }
    if (covered >= 16) {
        m_ActualLength = record.lActual;
    }
    if (covered >= 32) {
        m_Stop = record.tStop;
    }
    if (covered >= 24) {
        m_Start = record.tStart;
    }
    if (newType) {
        FreeMediaTypeRecord(m_MediaType);
        m_MediaType = copy;
    }
    SetFlag(AM_SAMPLE_TYPECHANGED, m_MediaType != NULL);
    return S_OK;
}
