// Asynchronous I/O queue: reads against one byte source, performed on the caller's thread (synchronous reads) or
// on the queue's worker thread (queued reads, collected with WaitForNext), and the flush that hands queued reads
// back unperformed. The worker starts with the first queued read and ends with the queue. Callers are the
// downstream parser's threads; the list lock guards the lists, the flags and the counters, and every read runs
// under the source's own lock, outside the list lock.
#include "media/media_async.h"
#include "media/media_test_hooks.h"

#include <new>

static AsyncWorkerCreator s_CreateWorker = CreateThread;

void SetAsyncWorkerCreatorForTest(AsyncWorkerCreator creator)
{
    s_CreateWorker = creator != NULL ? creator : CreateThread;
}

// ---------------------------------------------------------------------------------------------------------------
// One read.

HRESULT R_CAsyncIoRequest::Perform()
{
    source->LockSource();
    HRESULT answer = source->SeekTo(position);
    if (answer == S_OK) {
        LONG bytesRead = 0;
        answer = source->ReadAt(buffer, length, aligned, &bytesRead);
        if (answer == OLE_S_FIRST && context != NULL) {
            static_cast<IMediaSample *>(context)->SetDiscontinuity(TRUE);
            answer = S_OK;
        }
        if (SUCCEEDED(answer)) {
            answer = bytesRead == length ? S_OK : S_FALSE;
            length = bytesRead;
        }
    }
    source->UnlockSource();
    result = answer;
    return answer;
}

// ---------------------------------------------------------------------------------------------------------------
// Queue.

R_CAsyncIoQueue::R_CAsyncIoQueue(R_CAsyncSourceStream *source)
    : m_Source(source), m_Flushing(FALSE), m_WorkList(10), m_DoneList(10), m_WorkEvent(TRUE), m_DoneEvent(TRUE),
      m_ItemsOut(0), m_WaitingForAllDone(FALSE), m_AllDoneEvent(FALSE), m_StopEvent(TRUE), m_Worker(NULL)
{
}

R_CAsyncIoQueue::~R_CAsyncIoQueue()
{
    BeginFlush();
    StopWorker();
    while (R_CAsyncIoRequest *request = static_cast<R_CAsyncIoRequest *>(m_DoneList.ListTakeFirst())) {
        delete request;
    }
}

bool R_CAsyncIoQueue::IsAligned(LONGLONG position, LONG length, const BYTE *buffer)
{
    const DWORD alignment = (DWORD)m_Source->SourceAlignment();
    return alignment <= 1 ||
           ((DWORD)position % alignment == 0 && (DWORD)length % alignment == 0 && (DWORD_PTR)buffer % alignment == 0);
}

HRESULT R_CAsyncIoQueue::Request(LONGLONG position, LONG length, BOOL aligned, BYTE *buffer, void *context,
                                 DWORD_PTR user)
{
    if (aligned && !IsAligned(position, length, buffer)) {
        return VFW_E_BADALIGN;
    }
    R_CAsyncIoRequest *request = new (std::nothrow)
        R_CAsyncIoRequest{this, m_Source, position, aligned, length, buffer, context, user, VFW_E_TIMEOUT};
    if (request == NULL) {
        return E_OUTOFMEMORY;
    }
    HRESULT result = QueueRequest(request);
    if (FAILED(result)) {
        delete request;
    }
    return result;
}

// A request that cannot be served is taken off the work list again before its caller deletes it.
HRESULT R_CAsyncIoQueue::QueueRequest(R_CAsyncIoRequest *request)
{
    R_CMediaLockScope scope(&m_ListLock);
    if (m_Flushing) {
        return VFW_E_WRONG_STATE;
    }
    R_CCachedNodeList::Position position = m_WorkList.ListAppend(request);
    if (position == NULL) {
        return E_OUTOFMEMORY;
    }
    m_WorkEvent.Set();
    HRESULT result = StartWorker();
    if (FAILED(result)) {
        m_WorkList.ListRemoveAt(position);
        if (m_WorkList.ListCount() == 0) {
            m_WorkEvent.Reset();
        }
    }
    return result;
}

// Every failure to make the thread is a failure, also one that leaves no error code: a queue without a worker
// would let every WaitForNext time out for ever.
HRESULT R_CAsyncIoQueue::StartWorker()
{
    if (m_Worker != NULL) {
        return S_OK;
    }
    m_StopEvent.Reset();
    DWORD id = 0;
    m_Worker = s_CreateWorker(NULL, 0, AsyncIoThreadProc, this, 0, &id);
    if (m_Worker != NULL) {
        return S_OK;
    }
    const DWORD code = GetLastError();
    return code != 0 ? (HRESULT)(0x80070000 | (code & 0xFFFF)) : E_FAIL;
}

void R_CAsyncIoQueue::StopWorker()
{
    m_StopEvent.Set();
    if (m_Worker != NULL) {
        WaitForSingleObject(m_Worker, INFINITE);
        CloseHandle(m_Worker);
        m_Worker = NULL;
    }
}

DWORD WINAPI R_CAsyncIoQueue::AsyncIoThreadProc(void *queue)
{
    static_cast<R_CAsyncIoQueue *>(queue)->WorkerLoop();
    return 0;
}

void R_CAsyncIoQueue::WorkerLoop()
{
    HANDLE events[2] = {m_StopEvent.Handle(), m_WorkEvent.Handle()};
    while (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        ServeWorkList();
    }
}

void R_CAsyncIoQueue::ServeWorkList()
{
    m_ListLock.Lock();
    for (;;) {
        R_CAsyncIoRequest *request = static_cast<R_CAsyncIoRequest *>(m_WorkList.ListTakeFirst());
        if (m_WorkList.ListCount() == 0) {
            m_WorkEvent.Reset();
        }
        if (request == NULL) {
            break;
        }
        m_ItemsOut += 1;
        m_ListLock.Unlock();
        request->Perform();
        m_ListLock.Lock();
        m_DoneList.ListAppend(request);
        m_DoneEvent.Set();
        m_ItemsOut -= 1;
        if (m_ItemsOut == 0 && m_WaitingForAllDone) {
            m_AllDoneEvent.Set();
        }
        // Let a waiting caller in between two reads.
        m_ListLock.Unlock();
        m_ListLock.Lock();
    }
    m_ListLock.Unlock();
}

R_CAsyncIoRequest *R_CAsyncIoQueue::TakeDone()
{
    R_CMediaLockScope scope(&m_ListLock);
    R_CAsyncIoRequest *request = static_cast<R_CAsyncIoRequest *>(m_DoneList.ListTakeFirst());
    // During a flush the event stays set, so that every waiter returns at once.
    if (m_DoneList.ListCount() == 0 && (!m_Flushing || m_WaitingForAllDone)) {
        m_DoneEvent.Reset();
    }
    return request;
}

HRESULT R_CAsyncIoQueue::WaitForNext(DWORD timeout, void **context, DWORD_PTR *user, LONG *bytes)
{
    if (context == NULL || user == NULL || bytes == NULL) {
        return E_POINTER;
    }
    *context = NULL;
    R_CAsyncIoRequest *request = NULL;
    while (request == NULL) {
        if (m_DoneEvent.Wait(timeout) != WAIT_OBJECT_0) {
            return VFW_E_TIMEOUT;
        }
        request = TakeDone();
        if (request == NULL) {
            R_CMediaLockScope scope(&m_ListLock);
            if (m_Flushing && !m_WaitingForAllDone) {
                return VFW_E_WRONG_STATE;
            }
        }
    }
    HRESULT result = request->result;
    if (result == S_FALSE) {
        // A short read is whole when it stopped at the end of the source.
        result = request->position + request->length == m_Source->TotalSize(NULL) ? S_OK : E_FAIL;
    }
    *bytes = request->length;
    *context = request->context;
    *user = request->user;
    delete request;
    return result;
}

HRESULT R_CAsyncIoQueue::PerformNow(LONGLONG position, LONG length, BOOL aligned, BYTE *buffer, void *context,
                                    LONG *bytes)
{
    R_CAsyncIoRequest request{this, m_Source, position, aligned, length, buffer, context, 0, VFW_E_TIMEOUT};
    HRESULT result = request.Perform();
    *bytes = request.length;
    return result;
}

HRESULT R_CAsyncIoQueue::SyncReadAligned(LONGLONG position, LONG length, BYTE *buffer, LONG *bytes, void *context)
{
    if (bytes == NULL) {
        return E_POINTER;
    }
    if (!IsAligned(position, length, buffer)) {
        return VFW_E_BADALIGN;
    }
    return PerformNow(position, length, TRUE, buffer, context, bytes);
}

HRESULT R_CAsyncIoQueue::SyncRead(LONGLONG position, LONG length, BYTE *buffer)
{
    LONG bytes = 0;
    if (IsAligned(position, length, buffer)) {
        return SyncReadAligned(position, length, buffer, &bytes, NULL);
    }
    return PerformNow(position, length, FALSE, buffer, NULL, &bytes);
}

HRESULT R_CAsyncIoQueue::Length(LONGLONG *total, LONGLONG *available)
{
    if (total == NULL) {
        return E_POINTER;
    }
    *total = m_Source->TotalSize(available);
    return S_OK;
}

HRESULT R_CAsyncIoQueue::Alignment(LONG *out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    *out = m_Source->SourceAlignment();
    return S_OK;
}

// Queued reads go to the done list unperformed (still VFW_E_TIMEOUT); a read the worker is performing is waited
// for, so that no buffer is written after the flush.
HRESULT R_CAsyncIoQueue::BeginFlush()
{
    R_CMediaLockScope scope(&m_ListLock);
    m_Flushing = TRUE;
    while (void *request = m_WorkList.ListTakeFirst()) {
        m_DoneList.ListAppend(request);
    }
    m_WorkEvent.Reset();
    if (m_ItemsOut > 0) {
        m_WaitingForAllDone = TRUE;
        while (m_ItemsOut > 0) {
            m_ListLock.Unlock();
            m_AllDoneEvent.Wait(INFINITE);
            m_ListLock.Lock();
        }
        m_WaitingForAllDone = FALSE;
    }
    m_DoneEvent.Set();
    return S_OK;
}

HRESULT R_CAsyncIoQueue::EndFlush()
{
    R_CMediaLockScope scope(&m_ListLock);
    m_Flushing = FALSE;
    if (m_DoneList.ListCount() > 0) {
        m_DoneEvent.Set();
    } else {
        m_DoneEvent.Reset();
    }
    return S_OK;
}
