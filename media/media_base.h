// Media graph class library, the base: the object root and its live count, the aggregatable unknown, locks and
// events, the media type record and COM task memory, the node-cached list, the pin and media type enumerators, the
// filter base and the pin bases. Internal to media/; the filters (transform family, reader, allocators) build on it.
// Objects are called from the window thread and from the platform's streaming threads; the Parts below say which
// lock each operation takes.
#pragma once

#include "media/media.h"

#include <dshow.h>

// ---------------------------------------------------------------------------------------------------------------
// COM and the clock only through the entries that engine start-up binds (ole32, winmm). A null task allocation is
// reported by its callers as E_OUTOFMEMORY; a missing entry acts as a refusal (E_FAIL, or a null block).

void *MediaTaskMemAlloc(SIZE_T size);
void MediaTaskMemFree(void *block);
HRESULT MediaCoCreateInstance(REFCLSID classId, IUnknown *outer, DWORD context, REFIID interfaceId, void **out);
HRESULT MediaCoInitialize(void);
void MediaCoFreeUnusedLibraries(void);
void MediaCoUninitialize(void);
DWORD MediaTimeGetTime(void);

// ---------------------------------------------------------------------------------------------------------------
// Object root, unknown, locks, events.

extern volatile LONG MediaObjectCount; // live media objects of every class derived from R_CMediaObject

class R_CMediaObject
{
  public:
    explicit R_CMediaObject(const char *name);
    ~R_CMediaObject();
};

// The reference-counted unknown. Its inner unknown is a small face of its own that answers through the object's
// Inner operations (so a derived class's overrides answer), the outer unknown when the object stands alone. Every
// platform interface that a derived class implements forwards its IUnknown operations to the outer unknown
// (MEDIA_FORWARD_UNKNOWN).
class R_CMediaUnknown : public R_CMediaObject
{
  public:
    R_CMediaUnknown(const char *name, IUnknown *outer);
    virtual HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID id, void **out);
    virtual ULONG STDMETHODCALLTYPE InnerAddRef();
    virtual ULONG STDMETHODCALLTYPE InnerRelease();
    virtual ~R_CMediaUnknown();

    IUnknown *InnerUnknown()
    {
        return &m_InnerFace;
    }
    IUnknown *OuterUnknown() const
    {
        return m_Outer;
    }

  private:
    struct InnerFace : public IUnknown {
        explicit InnerFace(R_CMediaUnknown *owner) : m_Owner(owner)
        {
        }
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void **out) override
        {
            return m_Owner->InnerQueryInterface(id, out);
        }
        ULONG STDMETHODCALLTYPE AddRef() override
        {
            return m_Owner->InnerAddRef();
        }
        ULONG STDMETHODCALLTYPE Release() override
        {
            return m_Owner->InnerRelease();
        }
        R_CMediaUnknown *m_Owner;
    };
    InnerFace m_InnerFace;

  protected:
    IUnknown *m_Outer;        // no reference of its own
    volatile LONG m_RefCount; // 0 after construction
};

// Holds another interface in a field that owns one reference: the new one gains its reference before the old one
// loses its own, so replacing an interface by itself is safe. Either may be null.
template <typename Interface> void ReplaceHeldInterface(Interface **field, Interface *value)
{
    if (value != NULL) {
        value->AddRef();
    }
    if (*field != NULL) {
        (*field)->Release();
    }
    *field = value;
}

// Decommits a held allocator and drops it; a refused decommit keeps it and is answered. S_OK without one.
HRESULT DecommitHeldAllocator(IMemAllocator **field);

// Stores the interface through out and adds a reference through the interface itself.
HRESULT HandOutInterface(IUnknown *face, void **out);

#define MEDIA_FORWARD_UNKNOWN                                                                                          \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void **out) override                                           \
    {                                                                                                                  \
        return OuterUnknown()->QueryInterface(id, out);                                                                \
    }                                                                                                                  \
    ULONG STDMETHODCALLTYPE AddRef() override                                                                          \
    {                                                                                                                  \
        return OuterUnknown()->AddRef();                                                                               \
    }                                                                                                                  \
    ULONG STDMETHODCALLTYPE Release() override                                                                         \
    {                                                                                                                  \
        return OuterUnknown()->Release();                                                                              \
    }

class R_CMediaLock
{
  public:
    R_CMediaLock();
    ~R_CMediaLock();
    void Lock();
    void Unlock();
    CRITICAL_SECTION *Section()
    {
        return &m_Section;
    }

  private:
    CRITICAL_SECTION m_Section;
};

class R_CMediaLockScope
{
  public:
    explicit R_CMediaLockScope(R_CMediaLock *lock);
    ~R_CMediaLockScope();

  private:
    R_CMediaLock *m_Lock;
};

class R_CMediaEvent
{
  public:
    explicit R_CMediaEvent(BOOL manualReset);
    ~R_CMediaEvent();
    HANDLE Handle() const
    {
        return m_Handle;
    } // null when creation failed
    void Set();
    void Reset();
    DWORD Wait(DWORD milliseconds); // WaitForSingleObject's answer

  private:
    HANDLE m_Handle;
};

// ---------------------------------------------------------------------------------------------------------------
// Media type record: exactly AM_MEDIA_TYPE, no virtual table; owns its format block (task memory) and its
// reference on the unknown. The task-memory functions hand records and strings across platform interfaces.

class R_CMediaTypeRecord : public AM_MEDIA_TYPE
{
  public:
    R_CMediaTypeRecord();                                     // the blank record
    explicit R_CMediaTypeRecord(const AM_MEDIA_TYPE &source); // deep copy; a failed format copy leaves none
    ~R_CMediaTypeRecord();                                    // ClearMediaTypeRecord
    R_CMediaTypeRecord(const R_CMediaTypeRecord &) = delete;
    R_CMediaTypeRecord &operator=(const R_CMediaTypeRecord &) = delete;

    void ResetToBlank();
    void ClearMediaTypeRecord();
    HRESULT AssignMediaType(const AM_MEDIA_TYPE &source);
    bool SameMediaType(const AM_MEDIA_TYPE &other) const;
    bool HasWildcardIds() const;
    bool MatchesPattern(const AM_MEDIA_TYPE &pattern) const;
    void SetMajorTypeId(const GUID &id)
    {
        majortype = id;
    }
    void SetSubtypeId(const GUID &id)
    {
        subtype = id;
    }
};
static_assert(sizeof(R_CMediaTypeRecord) == sizeof(AM_MEDIA_TYPE), "a record is passed as AM_MEDIA_TYPE");

void ResetToBlank(AM_MEDIA_TYPE *record);
void ClearMediaTypeRecord(AM_MEDIA_TYPE *record);
HRESULT DuplicateMediaTypeRecord(AM_MEDIA_TYPE *target, const AM_MEDIA_TYPE *source);
AM_MEDIA_TYPE *AllocMediaTypeRecord(const AM_MEDIA_TYPE *source);
void FreeMediaTypeRecord(AM_MEDIA_TYPE *record);
HRESULT CopyWideStringToTaskMem(const WCHAR *text, WCHAR **out);

// ---------------------------------------------------------------------------------------------------------------
// Node-cached list of object pointers; positions are node pointers, valid until their node is removed. Does not
// own the objects.

class R_CCachedNodeList
{
  public:
    struct Node {
        Node *previous;
        Node *next;
        void *object;
    };
    typedef Node *Position;

    explicit R_CCachedNodeList(int unusedLimit = 10);
    ~R_CCachedNodeList();
    R_CCachedNodeList(const R_CCachedNodeList &) = delete;
    R_CCachedNodeList &operator=(const R_CCachedNodeList &) = delete;

    Position ListAppend(void *object);
    bool ListAppendAll(const R_CCachedNodeList &other);
    void *ListRemoveAt(Position position);
    void *ListTakeFirst()
    {
        return ListRemoveAt(m_First);
    }
    void ListClear();
    Position ListFindObject(void *object) const;
    Position ListNextPosition(Position position) const;
    void *ListObjectAt(Position position) const
    {
        return position != NULL ? position->object : NULL;
    }
    void *ListNextObject(Position *position) const;
    int ListCount() const
    {
        return m_Count;
    }
    int CachedNodeCount() const
    {
        return m_CacheCount;
    }

  private:
    Node *m_First;
    Node *m_Last;
    int m_Count;
    int m_CacheLimit;
    int m_CacheCount;
    Node *m_CacheHead;
};

// ---------------------------------------------------------------------------------------------------------------
// Filter base: IBaseFilter (also IMediaFilter and IPersist) and IAMovieSetup, the state machine over its pins,
// the clock, the graph and its event sink. A derived filter supplies its pins.

class R_CPinBase;

struct PinTypeSetupRecord {
    const GUID *majorType;
    const GUID *subtype;
};
struct PinSetupRecord {
    const WCHAR *name;
    BOOL rendered, output, zero, many;
    const CLSID *connectsToFilter;
    const WCHAR *connectsToPin;
    UINT typeCount;
    const PinTypeSetupRecord *types;
};
struct FilterSetupRecord {
    const CLSID *classId;
    const WCHAR *name;
    DWORD merit;
    UINT pinCount;
    const PinSetupRecord *pins;
};
HRESULT RegisterFilterSetup(const FilterSetupRecord *record, IFilterMapper *mapper, BOOL doRegister);

class R_CFilterBase : public R_CMediaUnknown, public IBaseFilter, public IAMovieSetup
{
  public:
    R_CFilterBase(const char *name, IUnknown *outer, R_CMediaLock *lock, REFCLSID classId);
    R_CFilterBase(const char *name, IUnknown *outer, R_CMediaLock *lock, REFCLSID classId, HRESULT *result);
    ~R_CFilterBase() override;

    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID id, void **out) override;
    virtual HRESULT QueryStreamTime(REFERENCE_TIME *time);
    virtual int PinListVersion();
    virtual int CountPins() = 0;
    virtual R_CPinBase *PinAtIndex(int index) = 0;
    virtual const FilterSetupRecord *DescribeForRegistration();

    MEDIA_FORWARD_UNKNOWN
    // IPersist, IMediaFilter, IBaseFilter
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *out) override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD timeout, FILTER_STATE *out) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock *clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock **out) override;
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **out) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin **out) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO *out) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph *graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR *out) override;
    // IAMovieSetup
    HRESULT STDMETHODCALLTYPE Register() override;
    HRESULT STDMETHODCALLTYPE Unregister() override;

    HRESULT PostGraphEvent(LONG code, LONG_PTR parameter1, LONG_PTR parameter2);
    HRESULT RequestPinReconnect(IPin *pin, const AM_MEDIA_TYPE *type);

    FILTER_STATE State() const
    {
        return m_State;
    }
    bool IsStopped() const
    {
        return m_State == State_Stopped;
    }
    IFilterGraph *Graph() const
    {
        return m_Graph;
    }
    R_CMediaLock *FilterLock() const
    {
        return m_Lock;
    }
    IBaseFilter *BaseFilter()
    {
        return static_cast<IBaseFilter *>(this);
    }

  protected:
    FILTER_STATE m_State;
    IReferenceClock *m_Clock; // one reference
    REFERENCE_TIME m_StartTime;
    CLSID m_ClassId;
    R_CMediaLock *m_Lock;
    WCHAR *m_Name;
    IFilterGraph *m_Graph;        // no reference
    IMediaEventSink *m_EventSink; // no reference
    int m_PinVersion;
};

// ---------------------------------------------------------------------------------------------------------------
// Enumerators: plain COM objects with their own count (not media objects); each holds a reference on what it
// walks and detects changes by the walked object's version.

class R_CPinEnumerator : public IEnumPins
{
  public:
    R_CPinEnumerator(R_CFilterBase *filter, const R_CPinEnumerator *source);
    virtual ~R_CPinEnumerator();
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin **pins, ULONG *fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins **out) override;

  private:
    void TakeBackPins(IPin **pins, ULONG count);

    int m_Position;
    int m_PinCount;
    R_CFilterBase *m_Filter;
    int m_Version;
    volatile LONG m_RefCount;
    R_CCachedNodeList m_HandedOut;
};

class R_CMediaTypeEnumerator : public IEnumMediaTypes
{
  public:
    R_CMediaTypeEnumerator(R_CPinBase *pin, const R_CMediaTypeEnumerator *source);
    virtual ~R_CMediaTypeEnumerator();
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE **types, ULONG *fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes **out) override;

  private:
    int m_Position;
    R_CPinBase *m_Pin;
    int m_Version;
    volatile LONG m_RefCount;
};

// ---------------------------------------------------------------------------------------------------------------
// Pin base: IPin and IQualityControl, the connection protocol and type negotiation. A pin shares its filter's lock
// and reference count; the filter deletes its pins.

// Refusal codes: a negotiation goes on past them.
bool IsRefusalCode(HRESULT result);

class R_CPinBase : public R_CMediaUnknown, public IPin, public IQualityControl
{
  public:
    R_CPinBase(const char *name, R_CFilterBase *filter, R_CMediaLock *lock, HRESULT *result, const WCHAR *pinName,
               PIN_DIRECTION direction);
    ~R_CPinBase() override;

    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID id, void **out) override;
    ULONG STDMETHODCALLTYPE InnerAddRef() override;
    ULONG STDMETHODCALLTYPE InnerRelease() override;
    virtual int MediaTypeListVersion();
    virtual HRESULT Activate();
    virtual HRESULT Deactivate();
    virtual HRESULT RunAt(REFERENCE_TIME start);
    virtual HRESULT AcceptsMediaType(const AM_MEDIA_TYPE *type) = 0;
    virtual HRESULT AdoptMediaType(const AM_MEDIA_TYPE *type);
    virtual HRESULT VerifyPeer(IPin *peer);
    virtual HRESULT ReleaseConnectionResources();
    virtual HRESULT FinishConnection(IPin *peer);
    virtual HRESULT ProposeMediaType(int position, AM_MEDIA_TYPE *type);
    virtual HRESULT DropConnection();

    MEDIA_FORWARD_UNKNOWN
    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin *receivePin, const AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin *connector, const AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin **out) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE *out) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO *out) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION *out) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR *out) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes **out) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin **pins, ULONG *count) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    // IQualityControl
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter *sender, Quality quality) override;
    HRESULT STDMETHODCALLTYPE SetSink(IQualityControl *sink) override;

    bool IsConnected() const
    {
        return m_Connected != NULL;
    }
    IPin *ConnectedPin() const
    {
        return m_Connected;
    }
    const R_CMediaTypeRecord &ConnectionType() const
    {
        return m_ConnectionType;
    }
    R_CFilterBase *Filter() const
    {
        return m_Filter;
    }
    const WCHAR *PinName() const
    {
        return m_Name;
    }
    IPin *PinInterface()
    {
        return static_cast<IPin *>(this);
    }
    REFERENCE_TIME SegmentStart() const
    {
        return m_SegmentStart;
    }

  protected:
    HRESULT NegotiateMediaType(IPin *receivePin, const AM_MEDIA_TYPE *type);
    HRESULT TryMediaTypeList(IPin *receivePin, const AM_MEDIA_TYPE *partial, IEnumMediaTypes *types);
    HRESULT TryConnectWithType(IPin *receivePin, const AM_MEDIA_TYPE *type);
    HRESULT CanConnectNow() const;
    void AbandonConnection();

    WCHAR *m_Name;
    IPin *m_Connected; // one reference
    PIN_DIRECTION m_Direction;
    R_CMediaLock *m_Lock;
    bool m_RuntimeError;
    bool m_ReconnectWhenActive;
    bool m_TryOwnTypesFirst;
    R_CFilterBase *m_Filter;        // owner, no reference
    IQualityControl *m_QualitySink; // no reference
    int m_MediaTypeVersion;
    R_CMediaTypeRecord m_ConnectionType;
    REFERENCE_TIME m_SegmentStart;
    REFERENCE_TIME m_SegmentStop;
    double m_SegmentRate;
};

// ---------------------------------------------------------------------------------------------------------------
// Input pin (IMemInputPin: the allocator it was told of, read-only and flushing flags, the received sample's
// properties) and output pin (allocator choice, commit, sample pushing).

HRESULT CreatePlatformAllocator(IMemAllocator **out);

class R_CInputPinBase : public R_CPinBase, public IMemInputPin
{
  public:
    R_CInputPinBase(const char *name, R_CFilterBase *filter, R_CMediaLock *lock, HRESULT *result, const WCHAR *pinName);
    ~R_CInputPinBase() override;

    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID id, void **out) override;
    HRESULT Deactivate() override;
    HRESULT ReleaseConnectionResources() override;
    virtual HRESULT CanReceiveNow();

    MEDIA_FORWARD_UNKNOWN
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter *sender, Quality quality) override;
    // IMemInputPin
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator **out) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator *allocator, BOOL readOnly) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES *out) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample *sample) override;
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample **samples, long count, long *processed) override;
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

    HRESULT BeginFlushStep(); // sets flushing under the filter lock
    HRESULT EndFlushStep();   // clears flushing and the runtime error under the filter lock
    HRESULT ForwardQualityNotice(Quality quality);

    const AM_SAMPLE2_PROPERTIES &SampleProperties() const
    {
        return m_SampleProperties;
    }
    IMemAllocator *Allocator() const
    {
        return m_Allocator;
    }
    bool IsFlushing() const
    {
        return m_Flushing;
    }
    bool IsReadOnly() const
    {
        return m_ReadOnly;
    }
    IMemInputPin *MemInputPin()
    {
        return static_cast<IMemInputPin *>(this);
    }

  protected:
    IMemAllocator *m_Allocator; // one reference
    bool m_ReadOnly;
    bool m_Flushing;
    AM_SAMPLE2_PROPERTIES m_SampleProperties;
    bool m_SampleTypeIsCopy; // the recorded media type is a task-memory copy of this pin's, freed after use

  private:
    void RecordSampleProperties(IMediaSample *sample);
    void FreeSampleTypeCopy();
    HRESULT RefuseTypeChange();
};

class R_COutputPinBase : public R_CPinBase
{
  public:
    R_COutputPinBase(const char *name, R_CFilterBase *filter, R_CMediaLock *lock, HRESULT *result,
                     const WCHAR *pinName);

    HRESULT Activate() override;
    HRESULT Deactivate() override;
    HRESULT VerifyPeer(IPin *peer) override;
    HRESULT FinishConnection(IPin *peer) override;
    HRESULT ReleaseConnectionResources() override;
    virtual HRESULT ChooseAllocator(IMemInputPin *input, IMemAllocator **out);
    virtual HRESULT SizeBuffers(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) = 0;
    virtual HRESULT ObtainOutputSample(IMediaSample **out, REFERENCE_TIME *start, REFERENCE_TIME *stop, DWORD flags);
    virtual HRESULT PushSample(IMediaSample *sample);
    virtual HRESULT MakeDefaultAllocator(IMemAllocator **out);
    virtual HRESULT PushEndOfStream();
    virtual HRESULT PushBeginFlush();
    virtual HRESULT PushEndFlush();
    virtual HRESULT PushNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

    IMemAllocator *Allocator() const
    {
        return m_Allocator;
    }
    IMemInputPin *ConnectedInput() const
    {
        return m_ConnectedInput;
    }

  protected:
    IMemAllocator *m_Allocator;     // one reference
    IMemInputPin *m_ConnectedInput; // one reference
};
