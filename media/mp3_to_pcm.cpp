// MP3 to PCM through the media graph: the sound converter's last kind. The MP3 bytes are copied out of the
// converter's stream and served by a memory stream through "Mem Reader"; the platform's graph builder inserts its
// MPEG audio parser and decoder, our "SampleGrabber" (PCM only) hands every decoded sample to Mp3SampleCallback,
// and the platform's null renderer ends the chain in place of a sound device. The call runs on the window thread,
// pumping messages while it waits on the graph in 100 ms slices; the callback runs on a streaming thread and is the
// only writer of the converter's PCM fields until the graph has completed.
#include "media/media_async.h"
#include "media/media_test_hooks.h"
#include "media/media_transform.h"
#include "sound/sound.h"

extern "C" const CLSID CLSID_NullRenderer;

#define MP3_WAIT_SLICE_MS 100
#define MP3_IDLE_LIMIT_MS 10000 // neither a sample nor an event for this long: the graph is stuck
#define MP3_RELEASE_SLICE_MS 10
#define MP3_RELEASE_LIMIT_MS 10000 // the platform's threads let go of the graph, and the graph of the reader, within this
#define PCM_FIRST_CAPACITY_FACTOR 10
#define PCM_GROWTH_STEP 0x100000

static const char s_MessageStoppedByQuit[] = "MP3変換の途中でソフトが終了しました\n";
static const char s_MessageRunFailed[] = "MP3変換の途中でエラーが発生しました\n";
static const char s_MessageUnsupportedAudio[] = "サポート外のオーディオフォーマットです。\n";
static const char s_MessageNoAudio[] = "音声が含まれていないか、オーディオフォーマットの取得に失敗しました。\n";

static Mp3ConversionHooks s_Hooks;         // all zero outside tests
static volatile LONG s_PcmAllocationCount; // PCM blocks asked for by the current conversion
static LONG s_ReaderReferencesAtDelete;

// Everything one conversion makes; released in ReleaseMp3Graph.
struct Mp3Graph {
    unsigned char *data;
    unsigned int size;
    R_CMemStream *stream;
    R_CMemReader *reader;
    IBaseFilter *renderer;
    IGraphBuilder *graph;
    R_CSampleGrabber *grabber;
    IMediaFilter *mediaFilter;
    IMediaControl *control;
    IMediaEvent *events;
};

static unsigned char *AllocatePcmBlock(unsigned long long size)
{
    LONG ordinal = InterlockedIncrement(&s_PcmAllocationCount);
    if (size > 0xFFFFFFFFull || ordinal == s_Hooks.failPcmAllocation) {
        return NULL;
    }
    return (unsigned char *)ENGINE_ALLOC((size_t)size);
}

// The whole sound in memory; -1 (silently) for an empty stream, a failed copy or a read that comes back short.
static int CopyStreamBytes(const StreamRef *source, Mp3Graph *made)
{
    source->functions.seek(source->handle, 0, STREAM_ORIGIN_END);
    int size = source->functions.tell(source->handle);
    source->functions.seek(source->handle, 0, STREAM_ORIGIN_START);
    if (size <= 0) {
        return -1;
    }
    made->data = (unsigned char *)ENGINE_ALLOC((size_t)size);
    if (made->data == NULL || source->functions.read(made->data, (size_t)size, 1, source->handle) != 1) {
        return -1;
    }
    made->size = (unsigned int)size;
    return 0;
}

// The first pin of the filter in the direction given, with the reference Next gave; null when there is none.
static IPin *FindFilterPin(IBaseFilter *filter, PIN_DIRECTION direction)
{
    IEnumPins *pins = NULL;
    if (filter->EnumPins(&pins) != S_OK || pins == NULL) {
        return NULL;
    }
    IPin *pin = NULL, *found = NULL;
    while (found == NULL && pins->Next(1, &pin, NULL) == S_OK) {
        PIN_DIRECTION pinDirection;
        if (pin->QueryDirection(&pinDirection) == S_OK && pinDirection == direction) {
            found = pin;
        } else {
            pin->Release();
        }
    }
    pins->Release();
    return found;
}

static void ReleasePin(IPin *pin)
{
    if (pin != NULL) {
        pin->Release();
    }
}

// The pin that feeds the renderer Render chose (a filter with a connected input and no output), disconnected from
// it; null when there is none. The renderer stays in the graph, unconnected.
static IPin *DetachRenderer(IGraphBuilder *graph)
{
    IEnumFilters *filters = NULL;
    IBaseFilter *filter = NULL;
    IPin *upstream = NULL;
    graph->EnumFilters(&filters);
    while (filters != NULL && upstream == NULL && filters->Next(1, &filter, NULL) == S_OK) {
        IPin *in = FindFilterPin(filter, PINDIR_INPUT), *out = FindFilterPin(filter, PINDIR_OUTPUT);
        if (in != NULL && out == NULL && in->ConnectedTo(&upstream) == S_OK && upstream != NULL) {
            graph->Disconnect(upstream);
            graph->Disconnect(in);
        }
        ReleasePin(in);
        ReleasePin(out);
        filter->Release();
    }
    if (filters != NULL) {
        filters->Release();
    }
    return upstream;
}

static const char *SwapRendererForNull(IGraphBuilder *graph, IBaseFilter *nullRenderer)
{
    static const char message[] = "既存レンダラーをNullレンダラーと交換する処理が失敗しました\n";
    IPin *upstream = DetachRenderer(graph);
    IPin *nullInput = FindFilterPin(nullRenderer, PINDIR_INPUT);
    HRESULT joined = upstream != NULL && nullInput != NULL ? graph->Connect(upstream, nullInput) : E_FAIL;
    ReleasePin(upstream);
    ReleasePin(nullInput);
    return joined == S_OK ? NULL : message;
}

// Steps up to the graph's construction: the memory stream and reader, the null renderer, the graph and the grabber,
// joined by Render with the renderer it chose replaced by the null renderer. Null, or the failing step's message.
static const char *BuildMp3Graph(Mp3Graph *made, R_CMediaTypeRecord *sourceType, R_CMediaTypeRecord *wantedType)
{
    made->stream = CreateMemStream(made->data, made->size, 0, 0xFFFFFFFF);
    if (made->stream == NULL) {
        return "MP3変換用 R_CMemStream の作成に失敗しました\n";
    }
    sourceType->SetMajorTypeId(MEDIATYPE_Stream);
    sourceType->SetSubtypeId(MEDIASUBTYPE_MPEG1Audio);
    made->reader = CreateMemReader(made->stream, sourceType, NULL);
    if (made->reader == NULL) {
        return "MP3変換用 R_CMemReader の作成に失敗しました\n";
    }
    made->reader->BaseFilter()->AddRef();
    if (FAILED(MediaCoCreateInstance(CLSID_NullRenderer, NULL, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     (void **)&made->renderer))) {
        return "MP3変換用 NullRender の作成に失敗しました\n";
    }
    if (FAILED(MediaCoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                     IID_IGraphBuilder, (void **)&made->graph))) {
        return "MP3変換用 IGraphBuilder の作成に失敗しました\n";
    }
    made->grabber = CreateSampleGrabber(NULL, NULL);
    if (made->grabber == NULL) {
        return "MP3変換用 R_CSampleGrabber の作成に失敗しました\n";
    }
    made->grabber->BaseFilter()->AddRef();
    wantedType->SetMajorTypeId(MEDIATYPE_Audio);
    wantedType->SetSubtypeId(MEDIASUBTYPE_PCM);
    if (made->grabber->GrabberControl()->SetWantedMediaType(wantedType) != S_OK) {
        return "サンプルグラバフィルタのメディアタイプの設定に失敗しました\n";
    }
    if (made->graph->AddFilter(made->grabber->BaseFilter(), L"SampleGrabber") != S_OK) {
        return "サンプルグラバフィルタのグラフへの追加に失敗しました\n";
    }
    if (made->graph->AddFilter(made->reader->BaseFilter(), L"MemFile") != S_OK) {
        return "メモリファイルフィルタのグラフへの追加に失敗しました\n";
    }
    R_CPinBase *output = made->reader->PinAtIndex(0);
    if (output == NULL || made->graph->Render(output->PinInterface()) != S_OK) {
        return "グラフの構築に失敗しました\n";
    }
    if (made->graph->AddFilter(made->renderer, L"File Renderer") != S_OK) {
        return "ヌルレンダラーフィルタのグラフへの追加に失敗しました\n";
    }
    return SwapRendererForNull(made->graph, made->renderer);
}

// The converter's wave format from the grabber's connection: 16-bit sizes recomputed from the block alignment,
// since the decoder's own average rate and sample size are not trusted.
static const char *ReadPcmFormat(IGrabberControl *control, WAVEFORMATEX *format)
{
    R_CMediaTypeRecord connection;
    ZeroMemory(static_cast<AM_MEDIA_TYPE *>(&connection), sizeof(AM_MEDIA_TYPE));
    if (control->GetInputMediaType(&connection) != S_OK) {
        return s_MessageNoAudio;
    }
    if (connection.formattype != FORMAT_WaveFormatEx || connection.pbFormat == NULL ||
        connection.cbFormat < sizeof(PCMWAVEFORMAT)) {
        return "サポート外のストリームフォーマットです。\n";
    }
    const WAVEFORMATEX *block = (const WAVEFORMATEX *)connection.pbFormat;
    if (block->wFormatTag != WAVE_FORMAT_PCM || block->nChannels == 0) {
        return s_MessageUnsupportedAudio;
    }
    format->wFormatTag = block->wFormatTag;
    format->nChannels = block->nChannels;
    format->nSamplesPerSec = block->nSamplesPerSec;
    format->nBlockAlign = block->nBlockAlign;
    format->nAvgBytesPerSec = block->nBlockAlign * block->nSamplesPerSec;
    format->wBitsPerSample = (WORD)(block->nBlockAlign * 8 / block->nChannels);
    format->cbSize = 0;
    return NULL;
}

// 1 for EC_COMPLETE, -1 for EC_ERRORABORT, 0 when neither was queued; *seen tells whether any event was.
static int DrainGraphEvents(IMediaEvent *events, bool *seen)
{
    long code;
    LONG_PTR parameter1, parameter2;
    int outcome = 0;
    while (outcome == 0 && events->GetEvent(&code, &parameter1, &parameter2, 0) == S_OK) {
        *seen = true;
        outcome = code == EC_COMPLETE ? 1 : (code == EC_ERRORABORT ? -1 : 0);
        events->FreeEventParams(code, parameter1, parameter2);
    }
    return outcome;
}

// Runs the graph to completion. WaitForCompletion reports only EC_COMPLETE, so each slice also drains the queued
// events for an abort; a graph that goes quiet without any event is given up after the idle limit.
static const char *WaitForGraph(Mp3Graph *made, SoundConverter *converter)
{
    DWORD idleLimit = s_Hooks.idleLimit != 0 ? s_Hooks.idleLimit : MP3_IDLE_LIMIT_MS;
    DWORD lastProgress = MediaTimeGetTime();
    unsigned int lastSize = 0;
    for (;;) {
        if (ProcessMessageCore() != 0) {
            return s_MessageStoppedByQuit;
        }
        if (s_Hooks.onWaitSlice != NULL) {
            s_Hooks.onWaitSlice(made->graph, converter);
        }
        long code = 0;
        bool seen = false;
        HRESULT waited = made->events->WaitForCompletion(MP3_WAIT_SLICE_MS, &code);
        int outcome = DrainGraphEvents(made->events, &seen);
        if ((waited == S_OK && code == EC_ERRORABORT) || outcome < 0) {
            return s_MessageRunFailed;
        }
        if ((waited == S_OK && code == EC_COMPLETE) || outcome > 0) {
            return NULL;
        }
        unsigned int size = *(volatile unsigned int *)&converter->memory.size;
        DWORD now = MediaTimeGetTime();
        if (seen || waited == S_OK || size != lastSize) {
            lastProgress = now;
            lastSize = size;
        } else if (now - lastProgress >= idleLimit) {
            return s_MessageRunFailed;
        }
    }
}

// The platform's null renderer holds a reference to the graph across the EC_COMPLETE it sends from the splitter's
// stream thread, inside our grabber's end of stream and so under the grabber's streaming lock. Taking that lock once
// waits for the stream thread to leave: the release of the graph that follows is then the last one, here. Released
// earlier, the renderer's release would be the last, and the graph's destructor would stop the splitter on that
// stream thread, which waits for itself for ever. (Stopping the graph here instead can deadlock: the renderer's end
// of stream asks the grabber's output pin for an interface under the filter lock that the grabber's Stop holds
// while it waits for the streaming lock.)
static void WaitForEndOfStreamToLeave(Mp3Graph *made)
{
    if (s_Hooks.onComplete != NULL) {
        s_Hooks.onComplete(made->grabber, made->graph);
    }
    R_CMediaLockScope streaming(made->grabber->StreamingLock());
}

// Appends one decoded sample to the PCM block, growing it in 1 MiB steps. A failed growth frees the block and
// leaves it null; later samples are then ignored. Always S_OK, so the sample goes on to the null renderer.
static HRESULT Mp3SampleCallback(IMediaSample *sample, REFERENCE_TIME *start, REFERENCE_TIME *stop, BOOL typeChanged,
                                 void *context)
{
    SoundConverter *converter = (SoundConverter *)context;
    if (s_Hooks.onSample != NULL) {
        s_Hooks.onSample();
    }
    BYTE *bytes = NULL;
    sample->GetPointer(&bytes);
    long length = sample->GetActualDataLength();
    if (converter->memory.block == NULL || bytes == NULL || length <= 0) {
        return S_OK;
    }
    unsigned long long needed = (unsigned long long)converter->memory.size + (unsigned long long)length;
    if (needed > converter->memory.capacity) {
        unsigned long long capacity = converter->memory.capacity;
        capacity += (needed - capacity + PCM_GROWTH_STEP - 1) / PCM_GROWTH_STEP * PCM_GROWTH_STEP;
        unsigned char *grown = AllocatePcmBlock(capacity);
        if (grown != NULL) {
            MemCopy(grown, converter->memory.block, converter->memory.size);
        }
        FreeMemory(converter->memory.block);
        converter->memory.block = grown;
        if (grown == NULL) {
            return S_OK; // later samples are ignored; the window thread reports it after completion
        }
        converter->memory.capacity = (unsigned int)capacity;
    }
    MemCopy(converter->memory.block + converter->memory.size, bytes, (size_t)length);
    converter->memory.size += (unsigned int)length;
    return S_OK;
}

static const char *RunMp3Graph(Mp3Graph *made, SoundConverter *converter)
{
    IGrabberControl *control = made->grabber->GrabberControl();
    if (control->SetSampleCallback(Mp3SampleCallback, converter) != S_OK) {
        return "コールバック関数を設定できません\n";
    }
    unsigned long long capacity = (unsigned long long)made->size * PCM_FIRST_CAPACITY_FACTOR;
    converter->memory.block = AllocatePcmBlock(capacity);
    if (converter->memory.block == NULL) {
        return "PCMデータを格納するメモリ領域の確保に失敗しました\n";
    }
    converter->memory.capacity = (unsigned int)capacity;
    converter->memory.size = 0;
    if (made->graph->QueryInterface(IID_IMediaFilter, (void **)&made->mediaFilter) != S_OK) {
        return "IMediaFilter の取得に失敗しました\n";
    }
    made->mediaFilter->SetSyncSource(NULL); // no clock: the filters go as fast as they can
    if (made->graph->QueryInterface(IID_IMediaControl, (void **)&made->control) != S_OK) {
        return "IMediaControl の取得に失敗しました\n";
    }
    if (made->graph->QueryInterface(IID_IMediaEvent, (void **)&made->events) != S_OK) {
        return "IMediaEvent の取得に失敗しました\n";
    }
    made->control->Run();
    const char *failure = WaitForGraph(made, converter);
    if (failure == NULL) {
        WaitForEndOfStreamToLeave(made);
    }
    if (failure == NULL && converter->memory.block == NULL) {
        return "PCMデータを格納するメモリ領域の再確保に失敗しました\n";
    }
    // A decoder that connected but found no frame completes with nothing: that is no sound either.
    return failure == NULL && converter->memory.size == 0 ? s_MessageNoAudio : failure;
}

template <typename Interface> static void ReleaseInterface(Interface **pointer)
{
    if (*pointer != NULL) {
        (*pointer)->Release();
        *pointer = NULL;
    }
}

static LONG CountReferences(IUnknown *object)
{
    object->AddRef();
    return (LONG)object->Release();
}

// Waits in slices until the call's own reference to the object is the only one left; false when others still hold
// it past the limit.
static bool WaitForOnlyReference(IUnknown *object)
{
    for (DWORD waited = 0; CountReferences(object) > 1; waited += MP3_RELEASE_SLICE_MS) {
        if (waited >= MP3_RELEASE_LIMIT_MS) {
            return false;
        }
        Sleep(MP3_RELEASE_SLICE_MS);
    }
    return true;
}

// The platform's threads may hold the graph for a moment across an event they send (any renderer's EC_COMPLETE, an
// abort): the call's release waits for them, so that the graph's destructor runs here and not on a stream thread
// that its stop of the splitter would wait for. The reader, its stream and the data are freed only when the graph
// has let go of the reader: a graph that never does keeps them (a leak, where freeing them would crash its later
// calls). The reader goes before its stream: deleting it flushes its read queue and joins its worker, which may
// still be reading the stream.
static void ReleaseMp3Graph(Mp3Graph *made)
{
    ReleaseInterface(&made->events);
    ReleaseInterface(&made->mediaFilter);
    ReleaseInterface(&made->control);
    if (made->graph != NULL) {
        WaitForOnlyReference(made->graph);
    }
    ReleaseInterface(&made->graph);
    ReleaseInterface(&made->renderer);
    if (made->grabber != NULL) {
        made->grabber->BaseFilter()->Release();
        made->grabber = NULL;
    }
    if (made->reader != NULL && !WaitForOnlyReference(made->reader->BaseFilter())) {
        return;
    }
    s_ReaderReferencesAtDelete = made->reader != NULL ? CountReferences(made->reader->BaseFilter()) : 0;
    DeleteMemReader(made->reader);
    made->reader = NULL;
    DeleteMemStream(made->stream);
    made->stream = NULL;
    FreeMemory(made->data);
    made->data = NULL;
}

int ConvertMp3ToPcm(SoundConverter *converter)
{
    R_CMediaTypeRecord sourceType, wantedType;
    Mp3Graph made = {};
    ZeroMemory(&converter->memory, sizeof(converter->memory));
    s_PcmAllocationCount = 0;
    s_ReaderReferencesAtDelete = 0;
    const char *failure = NULL;
    int result = CopyStreamBytes(&converter->source, &made);
    if (result == 0) {
        failure = BuildMp3Graph(&made, &sourceType, &wantedType);
    }
    if (result == 0 && failure == NULL) {
        failure = ReadPcmFormat(made.grabber->GrabberControl(), &converter->format);
    }
    if (result == 0 && failure == NULL) {
        failure = RunMp3Graph(&made, converter);
    }
    ReleaseMp3Graph(&made);
    if (failure != NULL) {
        AddLog(failure);
        result = -1;
    }
    if (result != 0) {
        FreeMemory(converter->memory.block);
        ZeroMemory(&converter->memory, sizeof(converter->memory));
        return -1;
    }
    converter->outputSize = converter->format.nAvgBytesPerSec;
    converter->kind = CONVERTER_PCM_MEMORY;
    return 0;
}

void SetMp3ConversionHooksForTest(const Mp3ConversionHooks *hooks)
{
    static const Mp3ConversionHooks none = {};
    s_Hooks = hooks != NULL ? *hooks : none;
}

LONG GetMp3ReaderReferencesAtDeleteForTest(void)
{
    return s_ReaderReferencesAtDelete;
}
