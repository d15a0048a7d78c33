// Media graph library, the transform family: the transform filter with one input and one output pin, the in-place
// transform that works on samples where they lie, the sample grabber built on it (with its private control
// interface and the allocator over a caller's buffer), and the "WAV Dest" writer with the library's filter factory
// table. Internal to media/. State changes come from the window thread under the filter lock; samples, end of
// stream and segments come from the upstream filter's streaming thread under the streaming lock.
#pragma once

#include "media/media_allocator.h"
#include "media/media_base.h"

// ---------------------------------------------------------------------------------------------------------------
// Transform filter: turns each input sample into an output sample that its heir fills (TransformSample).

class R_CXFormInputPin;
class R_CXFormOutputPin;

class R_CXFormFilter : public R_CFilterBase
{
  public:
    R_CXFormFilter(const char *name, IUnknown *outer, REFCLSID classId);
    ~R_CXFormFilter() override;

    int CountPins() override
    {
        return 2;
    }
    R_CPinBase *PinAtIndex(int index) override;

    virtual HRESULT TransformSample(IMediaSample *in, IMediaSample *out) = 0;
    virtual HRESULT AcceptsInputType(const AM_MEDIA_TYPE *type) = 0;
    virtual HRESULT AcceptsTypePair(const AM_MEDIA_TYPE *in, const AM_MEDIA_TYPE *out) = 0;
    virtual HRESULT SizeOutputBuffers(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) = 0;
    virtual HRESULT ProposeOutputType(int position, AM_MEDIA_TYPE *type) = 0;
    virtual HRESULT OnStreamingStart()
    {
        return S_OK;
    }
    virtual HRESULT OnStreamingStop()
    {
        return S_OK;
    }
    virtual HRESULT AdjustQuality(Quality quality);
    virtual HRESULT AdoptPinMediaType(PIN_DIRECTION direction, const AM_MEDIA_TYPE *type);
    virtual HRESULT VerifyPinPeer(PIN_DIRECTION direction, IPin *peer);
    virtual HRESULT ReleasePinConnection(PIN_DIRECTION direction);
    virtual HRESULT FinishPinConnection(PIN_DIRECTION direction, IPin *peer);
    virtual HRESULT ReceiveSample(IMediaSample *in);
    virtual HRESULT OnEndOfStream();
    virtual HRESULT OnBeginFlush();
    virtual HRESULT OnEndFlush();
    virtual HRESULT OnNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin **out) override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;

    R_CXFormInputPin *InputPin() const
    {
        return m_Input;
    }
    R_CXFormOutputPin *OutputPin() const
    {
        return m_Output;
    }
    R_CMediaLock *StreamingLock()
    {
        return &m_StreamingLock;
    }

  protected:
    // The pins PinAtIndex makes on first use; an heir with pins of its own kind replaces them.
    virtual R_CXFormInputPin *NewInputPin(HRESULT *result);
    virtual R_CXFormOutputPin *NewOutputPin(HRESULT *result);
    HRESULT PrepareOutputSample(IMediaSample *in, IMediaSample **out);
    bool BothPinsConnected() const;

    BOOL m_EndOfStreamDelivered; // sent downstream while the input is unconnected
    BOOL m_SampleSkipped;        // the previous input sample was dropped
    BOOL m_QualityChanged;       // the quality-change event was posted in this run
    R_CMediaLock m_FilterLock;
    R_CMediaLock m_StreamingLock; // always taken after the filter lock
    R_CXFormInputPin *m_Input;    // owned
    R_CXFormOutputPin *m_Output;  // owned
};

// Sample copies shared by the heirs. The bytes: VFW_E_BUFFER_OVERFLOW when the input's data does not fit in the
// output's buffer (nothing is written then), else the data and its length. The media times are copied when the
// input has them.
HRESULT CopySampleBytes(IMediaSample *in, IMediaSample *out);
void CopySampleMediaTimes(IMediaSample *in, IMediaSample *out);

class R_CXFormInputPin : public R_CInputPinBase
{
  public:
    R_CXFormInputPin(const char *name, R_CXFormFilter *filter, HRESULT *result, const WCHAR *pinName);

    HRESULT AcceptsMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT AdoptMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT VerifyPeer(IPin *peer) override;
    HRESULT ReleaseConnectionResources() override;
    HRESULT FinishConnection(IPin *peer) override;
    HRESULT ProposeMediaType(int position, AM_MEDIA_TYPE *type) override;
    HRESULT CanReceiveNow() override;

    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR *out) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample *sample) override;

  protected:
    R_CXFormFilter *m_XFormFilter;
};

class R_CXFormOutputPin : public R_COutputPinBase
{
  public:
    R_CXFormOutputPin(const char *name, R_CXFormFilter *filter, HRESULT *result, const WCHAR *pinName);
    ~R_CXFormOutputPin() override;

    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID id, void **out) override;
    HRESULT AcceptsMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT AdoptMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT VerifyPeer(IPin *peer) override;
    HRESULT ReleaseConnectionResources() override;
    HRESULT FinishConnection(IPin *peer) override;
    HRESULT ProposeMediaType(int position, AM_MEDIA_TYPE *type) override;
    HRESULT SizeBuffers(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) override;

    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR *out) override;
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter *sender, Quality quality) override;

  protected:
    R_CXFormFilter *m_XFormFilter;
    IUnknown *m_SeekingPassThrough; // inner unknown of the aggregated platform object, made on first use
};

// Makes the platform's seeking pass-through aggregated by outer and bound to pin; out receives its inner unknown.
HRESULT CreateSeekingPassThrough(IUnknown *outer, BOOL renderer, IPin *pin, IUnknown **out);

// ---------------------------------------------------------------------------------------------------------------
// In-place transform filter: the input pin hands the downstream allocator upstream so that the same samples flow
// through; only when the two pins end up with different allocators is each sample copied first.

class R_CInPlaceXFormOutputPin;

class R_CInPlaceXFormFilter : public R_CXFormFilter
{
  public:
    R_CInPlaceXFormFilter(const char *name, IUnknown *outer, REFCLSID classId, HRESULT *result, bool modifiesData);

    HRESULT TransformSample(IMediaSample *in, IMediaSample *out) override;
    HRESULT AcceptsTypePair(const AM_MEDIA_TYPE *in, const AM_MEDIA_TYPE *out) override;
    HRESULT SizeOutputBuffers(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) override;
    HRESULT ProposeOutputType(int position, AM_MEDIA_TYPE *type) override;
    HRESULT FinishPinConnection(PIN_DIRECTION direction, IPin *peer) override;
    HRESULT ReceiveSample(IMediaSample *in) override;
    // S_OK delivers the sample, S_FALSE drops it, a failure drops it and is returned.
    virtual HRESULT TransformInPlace(IMediaSample *sample) = 0;

    // An output sample holding the input's properties and bytes; null when none can be had or the input does not
    // fit in it.
    IMediaSample *CopyToOutputSample(IMediaSample *in);
    bool UsesDifferentAllocators() const;
    bool ModifiesData() const
    {
        return m_ModifiesData;
    }
    R_CInPlaceXFormOutputPin *InPlaceOutputPin() const;

  protected:
    R_CXFormInputPin *NewInputPin(HRESULT *result) override;
    R_CXFormOutputPin *NewOutputPin(HRESULT *result) override;

    bool m_ModifiesData;
};

class R_CInPlaceXFormInputPin : public R_CXFormInputPin
{
  public:
    R_CInPlaceXFormInputPin(const char *name, R_CInPlaceXFormFilter *filter, HRESULT *result, const WCHAR *pinName);

    HRESULT AcceptsMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT FinishConnection(IPin *peer) override;

    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes **out) override;
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator **out) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator *allocator, BOOL readOnly) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES *out) override;

  protected:
    HRESULT GiveOutputOwnAllocator(IMemAllocator *upstream);

    R_CInPlaceXFormFilter *m_InPlaceFilter;
};

class R_CInPlaceXFormOutputPin : public R_CXFormOutputPin
{
  public:
    R_CInPlaceXFormOutputPin(const char *name, R_CInPlaceXFormFilter *filter, HRESULT *result, const WCHAR *pinName);

    HRESULT AcceptsMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT FinishConnection(IPin *peer) override;

    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes **out) override;

    // Takes allocator as the pin's own (a reference added to it, the old one released).
    void AdoptAllocator(IMemAllocator *allocator);

  protected:
    R_CInPlaceXFormFilter *m_InPlaceFilter;
};

// ---------------------------------------------------------------------------------------------------------------
// Sample grabber: accepts only input of a wanted type and hands every sample, its times shifted by the segment
// start, to a caller's callback. IGrabberControl reuses the platform's sample grabber interface id with other
// methods: never hand this filter to code that expects the platform's grabber (it has its own class id).

// Answer S_OK: deliver the sample; S_FALSE or another positive value: drop it; negative: drop it and fail the
// receive with that value. Runs on the streaming thread under the grabber's callback lock.
typedef HRESULT (*GrabberSampleCallback)(IMediaSample *sample, REFERENCE_TIME *start, REFERENCE_TIME *stop,
                                         BOOL typeChanged, void *context);

extern const IID IID_IGrabberControl;     // {6B652FFF-11FE-4FCE-92AD-0266B5D7C78F}
extern const CLSID CLSID_QvSampleGrabber; // {2FA4F053-6D60-4CB0-9503-8E89234F3F73}

struct IGrabberControl : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetWantedMediaType(const AM_MEDIA_TYPE *type) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInputMediaType(AM_MEDIA_TYPE *out) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSampleCallback(GrabberSampleCallback callback, void *context) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetExternalBuffer(ALLOCATOR_PROPERTIES properties, BYTE *buffer) = 0;
};

class R_CSampleGrabberInputPin;
class R_CSampleGrabberAllocator;

class R_CSampleGrabber : public R_CInPlaceXFormFilter, public IGrabberControl
{
  public:
    R_CSampleGrabber(IUnknown *outer, HRESULT *result, bool modifiesData);
    ~R_CSampleGrabber() override;

    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID id, void **out) override;
    HRESULT AcceptsInputType(const AM_MEDIA_TYPE *type) override;
    HRESULT TransformInPlace(IMediaSample *sample) override;

    MEDIA_FORWARD_UNKNOWN
    HRESULT STDMETHODCALLTYPE SetWantedMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE GetInputMediaType(AM_MEDIA_TYPE *out) override;
    HRESULT STDMETHODCALLTYPE SetSampleCallback(GrabberSampleCallback callback, void *context) override;
    HRESULT STDMETHODCALLTYPE SetExternalBuffer(ALLOCATOR_PROPERTIES properties, BYTE *buffer) override;

    IGrabberControl *GrabberControl()
    {
        return static_cast<IGrabberControl *>(this);
    }
    GUID WantedMajorType();

  protected:
    R_CXFormInputPin *NewInputPin(HRESULT *result) override;

  private:
    R_CSampleGrabberInputPin *GrabberInputPin() const;

    R_CMediaTypeRecord m_WantedType;  // null ids are wildcards
    GrabberSampleCallback m_Callback; // null: samples pass untouched
    void *m_CallbackContext;
    R_CMediaLock m_CallbackLock; // guards the wanted type, the callback and its context
};

// A new grabber that modifies no data, with no reference taken (its user takes the first); null with
// E_OUTOFMEMORY in result (when given) when memory fails.
R_CSampleGrabber *CreateSampleGrabber(IUnknown *outer, HRESULT *result);

class R_CSampleGrabberInputPin : public R_CInPlaceXFormInputPin
{
  public:
    R_CSampleGrabberInputPin(R_CSampleGrabber *filter, HRESULT *result);
    ~R_CSampleGrabberInputPin() override;

    HRESULT AdoptMediaType(const AM_MEDIA_TYPE *type) override;
    HRESULT ProposeMediaType(int position, AM_MEDIA_TYPE *type) override;

    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes **out) override;
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator **out) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator *allocator, BOOL readOnly) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES *out) override;

    // Makes the private allocator whose single buffer is the caller's memory.
    HRESULT UseExternalBuffer(const ALLOCATOR_PROPERTIES &properties, BYTE *buffer);
    // The type-changed flag as the callback sees it; cleared after each callback.
    BOOL TakeTypeChanged();
    BOOL TypeChanged() const
    {
        return m_TypeChanged;
    }
    const ALLOCATOR_PROPERTIES &BufferProperties() const
    {
        return m_BufferProperties;
    }
    BYTE *ExternalBuffer() const
    {
        return m_ExternalBuffer;
    }

  private:
    R_CSampleGrabberAllocator *m_PrivateAllocator; // one reference
    ALLOCATOR_PROPERTIES m_BufferProperties;
    BYTE *m_ExternalBuffer; // the caller's, not owned
    BOOL m_TypeChanged;
};

// The allocator over the caller's buffer: it agrees only to the properties the caller gave, and its samples are
// slices of that buffer, which it never frees.
class R_CSampleGrabberAllocator : public R_CVirtualMemAllocator
{
  public:
    R_CSampleGrabberAllocator(R_CSampleGrabberInputPin *owner, HRESULT *result)
        : R_CVirtualMemAllocator("SampleGrabberAllocator", NULL, result), m_Owner(owner)
    {
    }
    ~R_CSampleGrabberAllocator() override
    {
        m_Block = NULL;
    }

    HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES *request, ALLOCATOR_PROPERTIES *actual) override;
    HRESULT AllocateBuffers() override;

  private:
    void ReleaseGrabberSamples();

    R_CSampleGrabberInputPin *m_Owner; // no reference
};

// ---------------------------------------------------------------------------------------------------------------
// "WAV Dest": passes audio bytes unchanged to a stream-writing pin, stamping each output sample with its byte
// position in the file, and writes the RIFF WAVE header through the downstream IStream when streaming stops.

class R_CWavWriterFilter : public R_CXFormFilter
{
  public:
    R_CWavWriterFilter(IUnknown *outer, HRESULT *result);

    HRESULT TransformSample(IMediaSample *in, IMediaSample *out) override;
    HRESULT AcceptsInputType(const AM_MEDIA_TYPE *type) override;
    HRESULT AcceptsTypePair(const AM_MEDIA_TYPE *in, const AM_MEDIA_TYPE *out) override;
    HRESULT SizeOutputBuffers(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) override;
    HRESULT ProposeOutputType(int position, AM_MEDIA_TYPE *type) override;
    HRESULT OnStreamingStart() override;
    HRESULT OnStreamingStop() override;
    HRESULT ReceiveSample(IMediaSample *in) override;

  protected:
    R_CXFormInputPin *NewInputPin(HRESULT *result) override;
    R_CXFormOutputPin *NewOutputPin(HRESULT *result) override;

  private:
    DWORD m_DataBytes;   // bytes passed in this run: the "data" chunk's size
    DWORD m_HeaderBytes; // format block size + 28
};

class R_CWavWriterOutputPin : public R_CXFormOutputPin
{
  public:
    R_CWavWriterOutputPin(R_CWavWriterFilter *filter, HRESULT *result);

    HRESULT AcceptsMediaType(const AM_MEDIA_TYPE *type) override;
};

extern const CLSID CLSID_WavDest; // {3C78B8E2-6C4D-11D1-ADE2-0000F8754B99}

// A new writer with no reference taken; null when memory fails (result then untouched).
R_CMediaUnknown *CreateWavDestFilter(IUnknown *outer, HRESULT *result);

// The library's filter factory table: name, class id, maker, initialisation routine and setup record.
typedef R_CMediaUnknown *(*MediaFilterCreateFunction)(IUnknown *outer, HRESULT *result);
struct MediaFilterFactoryEntry {
    const WCHAR *name;
    const CLSID *classId;
    MediaFilterCreateFunction create;
    void (*initialise)(BOOL loading, const CLSID *classId);
    const FilterSetupRecord *setup;
};
extern const MediaFilterFactoryEntry g_MediaFilterFactories[];
extern const int g_MediaFilterFactoryCount;
