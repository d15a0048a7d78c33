// Media graph class library, the root: the live object count, the aggregatable unknown, the forwarding of every
// platform interface's IUnknown operations, locks, events, and the ole32 and winmm entries bound at start-up,
// through which alone the library reaches COM and the clock. Reference counts change atomically and may come from
// any thread (the window thread and the platform's streaming threads).
#include "media/media_base.h"

volatile LONG MediaObjectCount = 0;

// ---------------------------------------------------------------------------------------------------------------
// Bound entries. A missing entry refuses: no block, E_FAIL.

template <typename Function> static Function BoundOle(int index)
{
    return (Function)(void (*)(void))GetBoundEntry(BOUND_OLE32, index);
}

void *MediaTaskMemAlloc(SIZE_T size)
{
    typedef void *(WINAPI * Alloc)(SIZE_T);
    Alloc alloc = BoundOle<Alloc>(OLE_CO_TASK_MEM_ALLOC);
    return alloc != NULL ? alloc(size) : NULL;
}

void MediaTaskMemFree(void *block)
{
    typedef void(WINAPI * Free)(void *);
    Free release = BoundOle<Free>(OLE_CO_TASK_MEM_FREE);
    if (release != NULL && block != NULL) {
        release(block);
    }
}

HRESULT MediaCoCreateInstance(REFCLSID classId, IUnknown *outer, DWORD context, REFIID interfaceId, void **out)
{
    typedef HRESULT(WINAPI * Create)(REFCLSID, IUnknown *, DWORD, REFIID, void **);
    Create create = BoundOle<Create>(OLE_CO_CREATE_INSTANCE);
    if (create == NULL) {
        *out = NULL;
        return E_FAIL;
    }
    return create(classId, outer, context, interfaceId, out);
}

HRESULT MediaCoInitialize(void)
{
    typedef HRESULT(WINAPI * Initialize)(void *);
    Initialize initialize = BoundOle<Initialize>(OLE_CO_INITIALIZE);
    return initialize != NULL ? initialize(NULL) : E_FAIL;
}

void MediaCoFreeUnusedLibraries(void)
{
    typedef void(WINAPI * FreeUnused)(void);
    FreeUnused freeUnused = BoundOle<FreeUnused>(OLE_CO_FREE_UNUSED_LIBRARIES);
    if (freeUnused != NULL) {
        freeUnused();
    }
}

void MediaCoUninitialize(void)
{
    typedef void(WINAPI * Uninitialize)(void);
    Uninitialize uninitialize = BoundOle<Uninitialize>(OLE_CO_UNINITIALIZE);
    if (uninitialize != NULL) {
        uninitialize();
    }
}

DWORD MediaTimeGetTime(void)
{
    typedef DWORD(WINAPI * TimeGetTime)(void);
    TimeGetTime now = (TimeGetTime)(void (*)(void))GetBoundEntry(BOUND_WINMM, WINMM_TIME_GET_TIME);
    return now != NULL ? now() : 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Object root and unknown.

R_CMediaObject::R_CMediaObject(const char *name)
{
    (void)name;
    InterlockedIncrement(&MediaObjectCount);
}

R_CMediaObject::~R_CMediaObject()
{
    InterlockedDecrement(&MediaObjectCount);
}

R_CMediaUnknown::R_CMediaUnknown(const char *name, IUnknown *outer)
    : R_CMediaObject(name), m_InnerFace(this), m_Outer(outer != NULL ? outer : InnerUnknown()), m_RefCount(0)
{
}

R_CMediaUnknown::~R_CMediaUnknown()
{
}

HRESULT STDMETHODCALLTYPE R_CMediaUnknown::InnerQueryInterface(REFIID id, void **out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    if (IsEqualIID(id, IID_IUnknown)) {
        return HandOutInterface(InnerUnknown(), out);
    }
    *out = NULL;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE R_CMediaUnknown::InnerAddRef()
{
    LONG count = InterlockedIncrement(&m_RefCount);
    return count > 1 ? (ULONG)count : 1;
}

ULONG STDMETHODCALLTYPE R_CMediaUnknown::InnerRelease()
{
    LONG count = InterlockedDecrement(&m_RefCount);
    if (count != 0) {
        return count > 1 ? (ULONG)count : 1;
    }
    // A destructor that takes and drops references to its own object must not reach 0 again.
    m_RefCount = 1;
    delete this;
    return 0;
}

HRESULT HandOutInterface(IUnknown *face, void **out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    *out = face;
    face->AddRef();
    return S_OK;
}

// ---------------------------------------------------------------------------------------------------------------
// Locks and events.

R_CMediaLock::R_CMediaLock()
{
    InitializeCriticalSection(&m_Section);
}

R_CMediaLock::~R_CMediaLock()
{
    DeleteCriticalSection(&m_Section);
}

void R_CMediaLock::Lock()
{
    EnterCriticalSection(&m_Section);
}

void R_CMediaLock::Unlock()
{
    LeaveCriticalSection(&m_Section);
}

R_CMediaLockScope::R_CMediaLockScope(R_CMediaLock *lock) : m_Lock(lock)
{
    m_Lock->Lock();
}

R_CMediaLockScope::~R_CMediaLockScope()
{
    m_Lock->Unlock();
}

R_CMediaEvent::R_CMediaEvent(BOOL manualReset) : m_Handle(CreateEventA(NULL, manualReset, FALSE, NULL))
{
}

R_CMediaEvent::~R_CMediaEvent()
{
    if (m_Handle != NULL) {
        CloseHandle(m_Handle);
    }
}

void R_CMediaEvent::Set()
{
    SetEvent(m_Handle);
}

void R_CMediaEvent::Reset()
{
    ResetEvent(m_Handle);
}

DWORD R_CMediaEvent::Wait(DWORD milliseconds)
{
    return WaitForSingleObject(m_Handle, milliseconds);
}
