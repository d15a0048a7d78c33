// Sample allocators and the media sample: a pool of samples handed out by GetBuffer and taken back when their last
// reference goes, with the commit/decommit life cycle, and the allocator whose pool is one VirtualAlloc block cut
// into equal aligned slices. Internal to media/. GetBuffer and the samples' releases come from the platform's
// streaming threads and the reader's worker; the allocator's lock guards its fields and the free list.
#pragma once

#include "media/media_base.h"

class R_CAllocatedSample;

class R_CAllocatorBase : public R_CMediaUnknown, public IMemAllocatorCallbackTemp
{
  public:
    // withEvent: GetBuffer may block (a semaphore is made; failure sets E_OUTOFMEMORY in *result).
    // releaseCallback: the allocator answers IMemAllocatorCallbackTemp.
    R_CAllocatorBase(const char *name, IUnknown *outer, HRESULT *result, BOOL withEvent, BOOL releaseCallback);
    ~R_CAllocatorBase() override;

    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID id, void **out) override;
    virtual void FreeBuffers() = 0;        // a pending decommit completed (every sample is home)
    virtual HRESULT AllocateBuffers() = 0; // Commit: make the pool for the agreed properties

    MEDIA_FORWARD_UNKNOWN
    // IMemAllocator
    HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES *request, ALLOCATOR_PROPERTIES *actual) override;
    HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES *out) override;
    HRESULT STDMETHODCALLTYPE Commit() override;
    HRESULT STDMETHODCALLTYPE Decommit() override;
    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample **out, REFERENCE_TIME *start, REFERENCE_TIME *stop,
                                        DWORD flags) override;
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample *sample) override;
    // IMemAllocatorCallbackTemp
    HRESULT STDMETHODCALLTYPE SetNotify(IMemAllocatorNotifyCallbackTemp *notify) override;
    HRESULT STDMETHODCALLTYPE GetFreeCount(LONG *out) override;

    IMemAllocator *MemAllocator()
    {
        return static_cast<IMemAllocator *>(this);
    }

  protected:
    // VFW_E_SIZENOTSET when count, size or alignment is below 1; S_FALSE when nothing changed since the last
    // allocation; else S_OK. Under the lock.
    HRESULT SizesSet() const;
    // The slice of one buffer: size + prefix rounded up to the alignment (when above 1), computed in 64 bits.
    // E_INVALIDARG for a negative value, E_OUTOFMEMORY when count x slice passes 2^31.
    static HRESULT SliceSize(LONG count, LONG size, LONG alignment, LONG prefix, LONG *slice);
    void PushFree(R_CAllocatedSample *sample);
    R_CAllocatedSample *PopFree();
    void ReleaseWaiters();

    R_CMediaLock m_Lock;
    R_CAllocatedSample *m_FreeHead; // linked through each sample's next field
    int m_FreeCount;
    HANDLE m_Semaphore;
    int m_Waiting;
    LONG m_Count;
    LONG m_Allocated;
    LONG m_Size;
    LONG m_Alignment;
    LONG m_Prefix;
    BOOL m_Changed;
    BOOL m_Committed;
    BOOL m_DecommitPending;
    IMemAllocatorNotifyCallbackTemp *m_Notify; // one reference
    BOOL m_ReleaseCallback;
};

// The pool in one VirtualAlloc block; the block stays until a reallocation after changed properties or until
// destruction.
class R_CVirtualMemAllocator : public R_CAllocatorBase
{
  public:
    R_CVirtualMemAllocator(const char *name, IUnknown *outer, HRESULT *result);
    ~R_CVirtualMemAllocator() override;

    void FreeBuffers() override;
    HRESULT AllocateBuffers() override;

  protected:
    // Deletes every free sample, allocated = 0, frees the block when there is one.
    void ReleaseBlock();

    BYTE *m_Block;
};

// One buffer of an allocator's pool. Its last release hands it back to the allocator; it is deleted only by the
// allocator.
class R_CAllocatedSample : public R_CMediaObject, public IMediaSample2
{
  public:
    R_CAllocatedSample(const char *name, R_CAllocatorBase *allocator, HRESULT *result, BYTE *buffer, LONG size);
    virtual ~R_CAllocatedSample();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IMediaSample
    HRESULT STDMETHODCALLTYPE GetPointer(BYTE **out) override;
    LONG STDMETHODCALLTYPE GetSize() override;
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME *start, REFERENCE_TIME *stop) override;
    HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME *start, REFERENCE_TIME *stop) override;
    HRESULT STDMETHODCALLTYPE IsSyncPoint() override;
    HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL value) override;
    HRESULT STDMETHODCALLTYPE IsPreroll() override;
    HRESULT STDMETHODCALLTYPE SetPreroll(BOOL value) override;
    LONG STDMETHODCALLTYPE GetActualDataLength() override;
    HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG length) override;
    HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE **out) override;
    HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE IsDiscontinuity() override;
    HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL value) override;
    HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG *start, LONGLONG *stop) override;
    HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG *start, LONGLONG *stop) override;
    // IMediaSample2
    HRESULT STDMETHODCALLTYPE GetProperties(DWORD size, BYTE *out) override;
    HRESULT STDMETHODCALLTYPE SetProperties(DWORD size, const BYTE *in) override;

  private:
    friend class R_CAllocatorBase;

    HRESULT CheckProperties(DWORD covered, const AM_SAMPLE2_PROPERTIES &record) const;
    void SetFlag(DWORD flag, BOOL value);

    DWORD m_Flags;
    DWORD m_TypeSpecificFlags;
    BYTE *m_Buffer;
    LONG m_ActualLength;
    LONG m_Size;
    R_CAllocatorBase *m_Allocator; // owner, no reference
    R_CAllocatedSample *m_Next;    // free-list link
    REFERENCE_TIME m_Start;
    REFERENCE_TIME m_Stop;
    LONGLONG m_MediaStart;
    LONG m_MediaEnd;            // media end minus media start
    AM_MEDIA_TYPE *m_MediaType; // task memory; only with AM_SAMPLE_TYPECHANGED
    DWORD m_StreamId;
    volatile LONG m_RefCount;
};
