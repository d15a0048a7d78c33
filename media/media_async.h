// The asynchronous reader: a random-access byte source, the I/O queue that reads it on the caller's thread or on a
// worker thread of its own, the reader filter whose output pin offers IAsyncReader to a pulling parser, and the
// memory stream with the "Mem Reader" filter over it. Internal to media/. The parser's threads call the reader;
// the queue's worker performs queued reads; the source's lock keeps every read of one source apart.
#pragma once

#include "media/media_allocator.h"

// ---------------------------------------------------------------------------------------------------------------
// Byte source and I/O queue.

class R_CAsyncSourceStream
{
  public:
    virtual ~R_CAsyncSourceStream()
    {
    }
    virtual HRESULT SeekTo(LONGLONG position) = 0; // S_OK when the position was taken
    virtual HRESULT ReadAt(BYTE *buffer, LONG length, BOOL aligned, LONG *bytesRead) = 0;
    virtual LONGLONG TotalSize(LONGLONG *available) = 0; // available may be null
    virtual LONG SourceAlignment() = 0;                  // a power of two; 1 for none
    virtual void LockSource() = 0;
    virtual void UnlockSource() = 0;
};

class R_CAsyncIoQueue;

// One read; queued reads live from Request until WaitForNext hands them back.
struct R_CAsyncIoRequest {
    R_CAsyncIoQueue *queue;
    R_CAsyncSourceStream *source;
    LONGLONG position;
    BOOL aligned;
    LONG length; // bytes asked; replaced by the bytes read
    BYTE *buffer;
    void *context; // for reader requests, the media sample
    DWORD_PTR user;
    HRESULT result; // VFW_E_TIMEOUT until performed

    HRESULT Perform();
};

class R_CAsyncIoQueue
{
  public:
    explicit R_CAsyncIoQueue(R_CAsyncSourceStream *source);
    ~R_CAsyncIoQueue(); // flushes, stops the worker, deletes what is left
    R_CAsyncIoQueue(const R_CAsyncIoQueue &) = delete;
    R_CAsyncIoQueue &operator=(const R_CAsyncIoQueue &) = delete;

    HRESULT Request(LONGLONG position, LONG length, BOOL aligned, BYTE *buffer, void *context, DWORD_PTR user);
    HRESULT WaitForNext(DWORD timeout, void **context, DWORD_PTR *user, LONG *bytes);
    HRESULT SyncReadAligned(LONGLONG position, LONG length, BYTE *buffer, LONG *bytes, void *context);
    HRESULT SyncRead(LONGLONG position, LONG length, BYTE *buffer);
    HRESULT Length(LONGLONG *total, LONGLONG *available);
    HRESULT Alignment(LONG *out);
    HRESULT BeginFlush();
    HRESULT EndFlush();

  private:
    static DWORD WINAPI AsyncIoThreadProc(void *queue);
    bool IsAligned(LONGLONG position, LONG length, const BYTE *buffer);
    HRESULT QueueRequest(R_CAsyncIoRequest *request);
    HRESULT StartWorker();
    void StopWorker();
    void WorkerLoop();
    void ServeWorkList();
    R_CAsyncIoRequest *TakeDone();
    HRESULT PerformNow(LONGLONG position, LONG length, BOOL aligned, BYTE *buffer, void *context, LONG *bytes);

    R_CAsyncSourceStream *m_Source; // not owned
    R_CMediaLock m_ListLock;
    BOOL m_Flushing;
    R_CCachedNodeList m_WorkList;
    R_CCachedNodeList m_DoneList;
    R_CMediaEvent m_WorkEvent;
    R_CMediaEvent m_DoneEvent;
    int m_ItemsOut;
    BOOL m_WaitingForAllDone;
    R_CMediaEvent m_AllDoneEvent;
    R_CMediaEvent m_StopEvent;
    HANDLE m_Worker;
};

// ---------------------------------------------------------------------------------------------------------------
// Reader filter and its output pin. Sample times carry byte positions times 10^7.

class R_CAsyncReaderFilter;

class R_CReaderOutputPin : public R_CPinBase, public IAsyncReader
{
  public:
    R_CReaderOutputPin(R_CAsyncReaderFilter *filter, R_CMediaLock *lock, R_CAsyncIoQueue *queue, HRESULT *result);

    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID id, void **out) override;
    HRESULT AcceptsMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT VerifyPeer(IPin *peer) override;
    HRESULT ReleaseConnectionResources() override;
    HRESULT FinishConnection(IPin *peer) override;
    HRESULT ProposeMediaType(int position, AM_MEDIA_TYPE *type) override;

    // IAsyncReader's IUnknown goes to the pin's own unknown too.
    MEDIA_FORWARD_UNKNOWN
    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin *receivePin, const AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    // IAsyncReader
    HRESULT STDMETHODCALLTYPE RequestAllocator(IMemAllocator *preferred, ALLOCATOR_PROPERTIES *props,
                                               IMemAllocator **actual) override;
    HRESULT STDMETHODCALLTYPE Request(IMediaSample *sample, DWORD_PTR user) override;
    HRESULT STDMETHODCALLTYPE WaitForNext(DWORD timeout, IMediaSample **sample, DWORD_PTR *user) override;
    HRESULT STDMETHODCALLTYPE SyncReadAligned(IMediaSample *sample) override;
    HRESULT STDMETHODCALLTYPE SyncRead(LONGLONG position, LONG length, BYTE *buffer) override;
    HRESULT STDMETHODCALLTYPE Length(LONGLONG *total, LONGLONG *available) override;

    R_CPinBase *Pin()
    {
        return this;
    }

  private:
    HRESULT TryAllocator(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *props, IMemAllocator **actual);
    HRESULT EnsureSelfAllocator(IMemAllocator **out);
    HRESULT SampleRange(IMediaSample *sample, LONGLONG *position, LONG *length, BYTE **buffer);

    R_CAsyncReaderFilter *m_Reader;
    R_CAsyncIoQueue *m_Queue;
    BOOL m_Queried; // the connected peer asked for IAsyncReader
};

class R_CAsyncReaderFilter : public R_CFilterBase
{
  public:
    R_CAsyncReaderFilter(const char *name, IUnknown *outer, R_CAsyncSourceStream *source, HRESULT *result);
    ~R_CAsyncReaderFilter() override;

    int CountPins() override;
    R_CPinBase *PinAtIndex(int index) override;
    virtual HRESULT ConnectOutputPin(IPin *peer, const AM_MEDIA_TYPE *type);

    const R_CMediaTypeRecord &OfferedType() const
    {
        return m_MediaType;
    }
    R_CReaderOutputPin *OutputPin()
    {
        return &m_OutputPin;
    }

  protected:
    R_CMediaLock m_FilterLock;
    R_CAsyncIoQueue m_Queue;
    R_CReaderOutputPin m_OutputPin;
    R_CMediaTypeRecord m_MediaType; // empty until the heir sets it
};

// ---------------------------------------------------------------------------------------------------------------
// Memory stream and "Mem Reader".

// A block of the caller's memory as a source that can pretend to be slow: the byte at offset x is delivered no
// earlier than x / rate milliseconds after the stream was made (rate 0xFFFFFFFF never holds a read back).
class R_CMemStream : public R_CAsyncSourceStream
{
  public:
    R_CMemStream(const BYTE *data, LONGLONG length, DWORD rate);
    ~R_CMemStream() override;

    HRESULT SeekTo(LONGLONG position) override;
    HRESULT ReadAt(BYTE *buffer, LONG length, BOOL aligned, LONG *bytesRead) override;
    LONGLONG TotalSize(LONGLONG *available) override;
    LONG SourceAlignment() override;
    void LockSource() override;
    void UnlockSource() override;

  private:
    R_CMediaLock m_Lock;
    const BYTE *m_Data; // not owned
    LONGLONG m_Length;
    LONGLONG m_Position;
    DWORD m_Rate;
    DWORD m_StartTime;
};

class R_CMemReader : public R_CAsyncReaderFilter
{
  public:
    R_CMemReader(R_CMemStream *stream, const AM_MEDIA_TYPE *type, HRESULT *result);

    HRESULT STDMETHODCALLTYPE Register() override;
    HRESULT STDMETHODCALLTYPE Unregister() override;
};

R_CMemStream *CreateMemStream(const void *data, DWORD lengthLow, DWORD lengthHigh, DWORD rate);
void DeleteMemStream(R_CMemStream *stream);
// The filter starts with no reference; the stream is not owned by it. E_OUTOFMEMORY in *result (when given) and
// null when memory fails.
R_CMemReader *CreateMemReader(R_CMemStream *stream, const AM_MEDIA_TYPE *type, HRESULT *result);
// Deletes the reader outright, whatever references are left.
void DeleteMemReader(R_CMemReader *reader);
