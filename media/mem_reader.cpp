// Memory stream and "Mem Reader": a block of the caller's memory as a byte source for the asynchronous reader,
// held back to a set rate counted from its creation, and the reader filter over it with a media type fixed at
// creation. Reads come from the reader's worker thread and the parser's threads and serialise on the stream's
// lock, which a throttled read keeps while it sleeps; seeks and size queries take no lock.
#include "media/media_async.h"

#include <new>

R_CMemStream::R_CMemStream(const BYTE *data, LONGLONG length, DWORD rate)
    : m_Data(data), m_Length(length), m_Position(0), m_Rate(rate), m_StartTime(MediaTimeGetTime())
{
}

R_CMemStream::~R_CMemStream()
{
}

HRESULT R_CMemStream::SeekTo(LONGLONG position)
{
    if (position < 0 || position > m_Length) {
        return S_FALSE;
    }
    m_Position = position;
    return S_OK;
}

// A length of 0 or less reads nothing: it must never reach the end clip as a huge copy.
HRESULT R_CMemStream::ReadAt(BYTE *buffer, LONG length, BOOL aligned, LONG *bytesRead)
{
    R_CMediaLockScope scope(&m_Lock);
    const DWORD now = MediaTimeGetTime();
    LONGLONG bytes = length > 0 ? length : 0;
    if (m_Position + bytes > m_Length) {
        bytes = m_Length - m_Position;
    }
    const DWORD due = (DWORD)(m_Position + bytes) / m_Rate;
    const DWORD elapsed = now - m_StartTime;
    if (elapsed < due) {
        Sleep(due - elapsed);
    }
    CopyMemory(buffer, m_Data + m_Position, (SIZE_T)bytes);
    m_Position += bytes;
    *bytesRead = (LONG)bytes;
    return S_OK;
}

LONGLONG R_CMemStream::TotalSize(LONGLONG *available)
{
    if (available != NULL) {
        // The bytes a read may take now without waiting: those due within the current millisecond, so that a
        // stream that never throttles has all of them from its first millisecond on.
        const ULONGLONG arrived = ((ULONGLONG)(DWORD)(MediaTimeGetTime() - m_StartTime) + 1) * m_Rate - 1;
        *available = arrived < (ULONGLONG)m_Length ? (LONGLONG)arrived : m_Length;
    }
    return m_Length;
}

LONG R_CMemStream::SourceAlignment()
{
    return 1;
}

void R_CMemStream::LockSource()
{
    m_Lock.Lock();
}

void R_CMemStream::UnlockSource()
{
    m_Lock.Unlock();
}

// A rate of 0 would divide by zero in every read: such a stream is refused like a failed allocation.
R_CMemStream *CreateMemStream(const void *data, DWORD lengthLow, DWORD lengthHigh, DWORD rate)
{
    if (rate == 0) {
        return NULL;
    }
    const LONGLONG length = (LONGLONG)(((ULONGLONG)lengthHigh << 32) | lengthLow);
    return new (std::nothrow) R_CMemStream(static_cast<const BYTE *>(data), length, rate);
}

void DeleteMemStream(R_CMemStream *stream)
{
    delete stream;
}

// ---------------------------------------------------------------------------------------------------------------
// "Mem Reader".

R_CMemReader::R_CMemReader(R_CMemStream *stream, const AM_MEDIA_TYPE *type, HRESULT *result)
    : R_CAsyncReaderFilter("Mem Reader", NULL, stream, result)
{
    HRESULT assigned = m_MediaType.AssignMediaType(*type);
    if (FAILED(assigned) && result != NULL) {
        *result = assigned;
    }
}

HRESULT STDMETHODCALLTYPE R_CMemReader::Register()
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CMemReader::Unregister()
{
    return S_OK;
}

// A reader whose media type could not be copied would offer an empty type: it is not handed out.
R_CMemReader *CreateMemReader(R_CMemStream *stream, const AM_MEDIA_TYPE *type, HRESULT *result)
{
    HRESULT made = E_POINTER;
    R_CMemReader *reader = NULL;
    if (stream != NULL && type != NULL) {
        made = S_OK;
        reader = new (std::nothrow) R_CMemReader(stream, type, &made);
        if (reader == NULL) {
            made = E_OUTOFMEMORY;
        } else if (FAILED(made)) {
            delete reader;
            reader = NULL;
        }
    }
    if (FAILED(made) && result != NULL) {
        *result = made;
    }
    return reader;
}

void DeleteMemReader(R_CMemReader *reader)
{
    delete reader;
}
