// The transform family in the platform's filter graph, run without a clock: a PCM test source on the library's
// output pin (two formats), the sample grabber, a test in-place filter and a scripted transform, ending in the
// platform's null renderer or a recording test sink; "WAV Dest" writing through the sink's IStream (the files are
// left for wav_dest_check.py). The test binds the platform's COM entries itself; no window.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdio.h>
#include <vector>

#include "media/graph_test_support.h"
#include "media/media_transform.h"

namespace
{

using graph_test::PlatformEntries;
using graph_test::TestFilter;

const REFERENCE_TIME kSegmentStart = 50000000; // 5 s
const REFERENCE_TIME kSampleTime = 100000;     // 10 ms
const LONG kBufferBytes = 4096;
HRESULT s_Made = S_OK;

void MakePcm(R_CMediaTypeRecord *record, WORD channels, DWORD rate, WORD bits)
{
    WAVEFORMATEX wave = {
        WAVE_FORMAT_PCM, channels, rate, rate * channels * bits / 8, (WORD)(channels * bits / 8), bits, 0};
    AM_MEDIA_TYPE type = {MEDIATYPE_Audio, MEDIASUBTYPE_PCM, TRUE, FALSE, wave.nBlockAlign, FORMAT_WaveFormatEx, NULL,
                          sizeof wave,     (BYTE *)&wave};
    record->AssignMediaType(type);
}

// A type with only its ids set (no format block).
AM_MEDIA_TYPE Ids(REFGUID major, REFGUID subtype, REFGUID format = GUID_NULL)
{
    AM_MEDIA_TYPE type = {};
    type.majortype = major;
    type.subtype = subtype;
    type.formattype = format;
    return type;
}

// Offers 16-bit stereo 44.1 kHz, then 8-bit mono 8 kHz; the test pushes the samples from its own thread. With
// `readOnly` it keeps an allocator of its own and tells the input pin its samples are read-only.
class SourcePin : public R_COutputPinBase
{
  public:
    explicit SourcePin(R_CFilterBase *filter)
        : R_COutputPinBase("test source", filter, filter->FilterLock(), &s_Made, L"Out")
    {
        MakePcm(&formats[0], 2, 44100, 16);
        MakePcm(&formats[1], 1, 8000, 8);
    }
    HRESULT AcceptsMediaType(const AM_MEDIA_TYPE *type) override
    {
        return formats[0].SameMediaType(*type) || formats[1].SameMediaType(*type) ? S_OK : S_FALSE;
    }
    HRESULT ProposeMediaType(int position, AM_MEDIA_TYPE *type) override
    {
        if (position < 0 || position > 1) {
            return position < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
        }
        return static_cast<R_CMediaTypeRecord *>(type)->AssignMediaType(formats[position]);
    }
    HRESULT SizeBuffers(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) override
    {
        ALLOCATOR_PROPERTIES wanted = {2, kBufferBytes, 1, 0}, actual;
        return allocator->SetProperties(&wanted, &actual);
    }
    HRESULT ChooseAllocator(IMemInputPin *input, IMemAllocator **out) override
    {
        if (!readOnly) {
            return R_COutputPinBase::ChooseAllocator(input, out);
        }
        ALLOCATOR_PROPERTIES request = {};
        HRESULT result = CreatePlatformAllocator(out);
        result = SUCCEEDED(result) ? SizeBuffers(*out, &request) : result;
        return SUCCEEDED(result) ? input->NotifyAllocator(*out, TRUE) : result;
    }
    // A 5 s segment, `count` samples of `bytes` random bytes (even ones sync points, the first a discontinuity
    // carrying the connection type, stream id `streamId`), then end of stream.
    void Send(int count, LONG bytes, DWORD streamId = 0)
    {
        std::mt19937 random(count * 7919 + bytes);
        PushNewSegment(kSegmentStart, MAXLONGLONG, 1.0);
        for (int i = 0; i < count; i++) {
            IMediaSample *sample = NULL;
            BYTE *data = NULL;
            ASSERT_EQ(ObtainOutputSample(&sample, NULL, NULL, 0), S_OK);
            sample->GetPointer(&data);
            std::generate(data, data + bytes, [&] { return (BYTE)random(); });
            sent.insert(sent.end(), data, data + bytes);
            REFERENCE_TIME start = i * kSampleTime, stop = start + kSampleTime;
            sample->SetTime(&start, &stop);
            sample->SetActualDataLength(bytes);
            sample->SetSyncPoint(i % 2 == 0);
            sample->SetDiscontinuity(i == 0);
            sample->SetMediaType(i == 0 ? (AM_MEDIA_TYPE *)&ConnectionType() : NULL);
            AM_SAMPLE2_PROPERTIES properties = {};
            IMediaSample2 *sample2 = NULL;
            if (streamId != 0 && SUCCEEDED(sample->QueryInterface(IID_IMediaSample2, (void **)&sample2))) {
                sample2->GetProperties(FIELD_OFFSET(AM_SAMPLE2_PROPERTIES, pMediaType), (BYTE *)&properties);
                properties.cbData = FIELD_OFFSET(AM_SAMPLE2_PROPERTIES, pMediaType);
                properties.dwStreamId = streamId;
                sample2->SetProperties(properties.cbData, (BYTE *)&properties);
                sample2->Release();
            }
            buffers.push_back(data);
            results.push_back(PushSample(sample));
            sample->Release();
        }
        PushEndOfStream();
    }

    R_CMediaTypeRecord formats[2];
    bool readOnly = false;
    std::vector<HRESULT> results;
    std::vector<BYTE *> buffers;
    std::vector<BYTE> sent;
};

// Takes the types matching `wanted` (all while blank) and records each sample; with a stream it offers IStream and
// writes each sample's bytes at the offset its start time gives.
class SinkPin : public R_CInputPinBase
{
  public:
    struct Received {
        BYTE *buffer;
        REFERENCE_TIME start, stop;
        DWORD flags;
    };
    explicit SinkPin(R_CFilterBase *filter) : R_CInputPinBase("test sink", filter, filter->FilterLock(), &s_Made, L"In")
    {
    }
    ~SinkPin() override
    {
        if (stream != NULL) {
            stream->Release();
        }
    }
    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID id, void **out) override
    {
        if (stream != NULL && out != NULL && id == IID_IStream) {
            return HandOutInterface(stream, out);
        }
        return R_CInputPinBase::InnerQueryInterface(id, out);
    }
    HRESULT AcceptsMediaType(const AM_MEDIA_TYPE *type) override
    {
        return static_cast<const R_CMediaTypeRecord *>(type)->MatchesPattern(wanted) ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample *sample) override
    {
        HRESULT result = R_CInputPinBase::Receive(sample);
        const AM_SAMPLE2_PROPERTIES &p = SampleProperties();
        if (result == S_OK) {
            received.push_back({p.pbBuffer, p.tStart, p.tStop, p.dwSampleFlags});
            data.insert(data.end(), p.pbBuffer, p.pbBuffer + p.lActual);
        }
        if (result == S_OK && stream != NULL) {
            LARGE_INTEGER at;
            at.QuadPart = p.tStart;
            stream->Seek(at, STREAM_SEEK_SET, NULL);
            stream->Write(p.pbBuffer, p.lActual, NULL);
        }
        return result;
    }
    HRESULT STDMETHODCALLTYPE EndOfStream() override
    {
        return S_OK;
    }

    R_CMediaTypeRecord wanted;
    IStream *stream = NULL;
    std::vector<Received> received;
    std::vector<BYTE> data;
};

// Turns every byte over when it modifies data.
class FlipFilter : public R_CInPlaceXFormFilter
{
  public:
    explicit FlipFilter(bool modifies) : R_CInPlaceXFormFilter("flip", NULL, CLSID_NULL, &s_Made, modifies)
    {
    }
    HRESULT AcceptsInputType(const AM_MEDIA_TYPE *) override
    {
        return S_OK;
    }
    HRESULT TransformInPlace(IMediaSample *sample) override
    {
        BYTE *data = NULL;
        sample->GetPointer(&data);
        for (LONG i = 0; m_ModifiesData && i < sample->GetActualDataLength(); i++) {
            data[i] ^= 0xFF;
        }
        return S_OK;
    }
};

// Copies each sample, or answers the next scripted result instead.
class ScriptedTransform : public R_CXFormFilter
{
  public:
    ScriptedTransform() : R_CXFormFilter("scripted", NULL, CLSID_NULL)
    {
    }
    HRESULT TransformSample(IMediaSample *in, IMediaSample *out) override
    {
        HRESULT answer = script[calls++ % script.size()];
        return answer == S_OK ? CopySampleBytes(in, out) : answer;
    }
    HRESULT AcceptsInputType(const AM_MEDIA_TYPE *) override
    {
        return S_OK;
    }
    HRESULT AcceptsTypePair(const AM_MEDIA_TYPE *, const AM_MEDIA_TYPE *) override
    {
        return S_OK;
    }
    HRESULT SizeOutputBuffers(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) override
    {
        ALLOCATOR_PROPERTIES wanted = {2, kBufferBytes, 1, 0}, actual;
        return allocator->SetProperties(&wanted, &actual);
    }
    HRESULT ProposeOutputType(int position, AM_MEDIA_TYPE *type) override
    {
        return position == 0 ? static_cast<R_CMediaTypeRecord *>(type)->AssignMediaType(InputPin()->ConnectionType())
                             : VFW_S_NO_MORE_ITEMS;
    }
    std::vector<HRESULT> script = {S_OK};
    int calls = 0;
};

// What the grabber's callback saw; it answers `answer`.
struct Seen {
    HRESULT answer = S_OK;
    std::vector<REFERENCE_TIME> starts, stops;
    std::vector<BOOL> typeChanged;
};

HRESULT RecordSample(IMediaSample *, REFERENCE_TIME *start, REFERENCE_TIME *stop, BOOL typeChanged, void *context)
{
    Seen *seen = (Seen *)context;
    seen->starts.push_back(*start);
    seen->stops.push_back(*stop);
    seen->typeChanged.push_back(typeChanged);
    return seen->answer;
}

// The platform's graph with the filters a test adds (each held by the graph; the test source and sink also by this
// record), run without a clock.
struct Graph {
    IGraphBuilder *builder = NULL;
    TestFilter *source = new TestFilter, *sink = new TestFilter;
    SourcePin *sourcePin = new SourcePin(source);
    SinkPin *sinkPin = new SinkPin(sink);

    Graph()
    {
        CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void **)&builder);
        source->pins.push_back(sourcePin);
        sink->pins.push_back(sinkPin);
        source->BaseFilter()->AddRef();
        sink->BaseFilter()->AddRef();
    }
    ~Graph()
    {
        Query<IMediaControl>(IID_IMediaControl)->Stop();
        builder->Release();
        source->BaseFilter()->Release();
        sink->BaseFilter()->Release();
    }
    IBaseFilter *Add(IBaseFilter *filter)
    {
        EXPECT_EQ(builder->AddFilter(filter, NULL), S_OK);
        return filter;
    }
    static IPin *PinOf(IBaseFilter *filter, PIN_DIRECTION direction)
    {
        IEnumPins *pins = NULL;
        IPin *pin = NULL;
        PIN_DIRECTION found;
        filter->EnumPins(&pins);
        while (pins->Next(1, &pin, NULL) == S_OK && (pin->QueryDirection(&found), pin->Release(), found != direction)) {
        }
        pins->Release();
        return pin; // the graph holds the filter, so the pin stays valid without a reference
    }
    HRESULT Connect(IBaseFilter *from, IBaseFilter *to, const AM_MEDIA_TYPE *type = NULL)
    {
        return builder->ConnectDirect(PinOf(from, PINDIR_OUTPUT), PinOf(to, PINDIR_INPUT), type);
    }
    template <typename Interface> Interface *Query(REFIID id)
    {
        Interface *face = NULL;
        builder->QueryInterface(id, (void **)&face);
        face->Release(); // the builder keeps it alive
        return face;
    }
    void Run()
    {
        Query<IMediaFilter>(IID_IMediaFilter)->SetSyncSource(NULL);
        ASSERT_TRUE(SUCCEEDED(Query<IMediaControl>(IID_IMediaControl)->Run()));
    }
    // The event that ended the run (0 when none came within 10 s).
    LONG WaitForCompletion()
    {
        LONG code = 0;
        return Query<IMediaEvent>(IID_IMediaEvent)->WaitForCompletion(10000, &code) == S_OK ? code : 0;
    }
    // How many events of `wanted` were queued, draining the queue.
    int CountEvents(LONG wanted)
    {
        IMediaEvent *events = Query<IMediaEvent>(IID_IMediaEvent);
        LONG code;
        LONG_PTR parameter1, parameter2;
        int count = 0;
        while (events->GetEvent(&code, &parameter1, &parameter2, 0) == S_OK) {
            events->FreeEventParams(code, parameter1, parameter2);
            count += code == wanted;
        }
        return count;
    }
};

class GraphXform : public ::testing::Test
{
  protected:
    PlatformEntries entries;
    LONG objects = MediaObjectCount;
    void TearDown() override
    {
        EXPECT_EQ(MediaObjectCount, objects) << "every filter, pin and sample gone";
    }
};

IBaseFilter *NewNullRenderer()
{
    static const CLSID nullRenderer = {0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
    IBaseFilter *renderer = NULL;
    CoCreateInstance(nullRenderer, NULL, CLSCTX_INPROC_SERVER, IID_IBaseFilter, (void **)&renderer);
    return renderer;
}

// Source, [flip], grabber, null renderer: the last link by ConnectDirect with the second format or by Render,
// the upstream links first made with the other format, so that the reconnection inside the last connect shows.
TEST_F(GraphXform, GrabberSeesEverySampleInThePlatformGraph)
{
    const struct {
        bool render, flip;
        HRESULT answer;
    } cases[] = {
        {false, false, S_OK}, {true, false, S_OK}, {false, true, S_OK}, {true, true, S_FALSE}, {false, false, E_FAIL},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "render " << c.render << " flip " << c.flip << " answer " << c.answer);
        Seen seen;
        seen.answer = c.answer;
        {
            Graph graph;
            const int last = c.render ? 0 : 1;
            R_CSampleGrabber *grabber = CreateSampleGrabber(NULL, NULL);
            IBaseFilter *renderer = NewNullRenderer();
            graph.Add(graph.source->BaseFilter());
            IBaseFilter *upstream = graph.source->BaseFilter();
            if (c.flip) {
                upstream = graph.Add((new FlipFilter(false))->BaseFilter());
                ASSERT_EQ(graph.Connect(graph.source->BaseFilter(), upstream, &graph.sourcePin->formats[1 - last]),
                          S_OK);
            }
            graph.Add(grabber->BaseFilter());
            graph.Add(renderer);
            renderer->Release();
            const AM_MEDIA_TYPE pcm = Ids(MEDIATYPE_Audio, MEDIASUBTYPE_PCM);
            ASSERT_EQ(grabber->SetWantedMediaType(&pcm), S_OK);
            grabber->SetSampleCallback(RecordSample, &seen);
            ASSERT_EQ(graph.Connect(upstream, grabber->BaseFilter(), &graph.sourcePin->formats[1 - last]), S_OK);
            ASSERT_EQ(c.render ? graph.builder->Render(Graph::PinOf(grabber->BaseFilter(), PINDIR_OUTPUT))
                               : graph.Connect(grabber->BaseFilter(), renderer, &graph.sourcePin->formats[last]),
                      S_OK);
            R_CMediaTypeRecord connected;
            ASSERT_EQ(grabber->GetInputMediaType(&connected), S_OK);
            EXPECT_TRUE(connected.SameMediaType(graph.sourcePin->formats[last])) << "reconnected within the connect";
            ALLOCATOR_PROPERTIES one = {1, 16, 1, 0};
            BYTE buffer[16];
            EXPECT_EQ(grabber->SetExternalBuffer(one, buffer), E_INVALIDARG) << "refused while connected";
            graph.Run();
            graph.sourcePin->Send(6, 4000);
            EXPECT_EQ(graph.WaitForCompletion(), EC_COMPLETE);
            EXPECT_EQ(graph.sourcePin->results, std::vector<HRESULT>(6, c.answer));
        }
        ASSERT_EQ(seen.starts.size(), 6u);
        for (int i = 0; i < 6; i++) {
            EXPECT_EQ(seen.starts[i], kSegmentStart + i * kSampleTime);
            EXPECT_EQ(seen.stops[i], kSegmentStart + (i + 1) * kSampleTime);
            EXPECT_EQ(seen.typeChanged[i], i == 0);
        }
    }
}

// Source, flip, sink: a shared allocator passes the source's own buffers through; a read-only source with a
// modifying filter gets copies with the same times, flags, type and (turned-over) data; an output buffer smaller
// than the input's data refuses the sample.
TEST_F(GraphXform, InPlaceFilterSharesOrCopies)
{
    const struct {
        bool readOnly, modifies;
        LONG outputBytes; // 0: as negotiated
        HRESULT result;
    } cases[] = {
        {false, false, 0, S_OK}, {false, true, 0, S_OK},           {true, false, 0, S_OK},
        {true, true, 0, S_OK},   {true, true, 1000, E_UNEXPECTED},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "read-only " << c.readOnly << " modifies " << c.modifies);
        Graph graph;
        FlipFilter *flip = new FlipFilter(c.modifies);
        graph.sourcePin->readOnly = c.readOnly;
        graph.Add(graph.source->BaseFilter());
        graph.Add(flip->BaseFilter());
        graph.Add(graph.sink->BaseFilter());
        ASSERT_EQ(graph.Connect(graph.source->BaseFilter(), flip->BaseFilter()), S_OK);
        ASSERT_EQ(graph.Connect(flip->BaseFilter(), graph.sink->BaseFilter()), S_OK);
        const bool copies = c.readOnly && c.modifies;
        EXPECT_EQ(flip->UsesDifferentAllocators(), copies);
        ALLOCATOR_PROPERTIES smaller = {2, c.outputBytes, 1, 0}, actual;
        if (c.outputBytes != 0) {
            ASSERT_EQ(flip->OutputPin()->Allocator()->SetProperties(&smaller, &actual), S_OK);
        }
        graph.Run();
        graph.sourcePin->Send(4, 2000);
        EXPECT_EQ(graph.sourcePin->results, std::vector<HRESULT>(4, c.result));
        if (c.result != S_OK) {
            EXPECT_TRUE(graph.sinkPin->received.empty());
            continue;
        }
        std::vector<BYTE> expected = graph.sourcePin->sent;
        for (BYTE &byte : expected) {
            byte ^= c.modifies ? 0xFF : 0;
        }
        EXPECT_EQ(graph.sinkPin->data, expected);
        ASSERT_EQ(graph.sinkPin->received.size(), 4u);
        for (int i = 0; i < 4; i++) {
            const SinkPin::Received &got = graph.sinkPin->received[i];
            EXPECT_EQ(got.buffer != graph.sourcePin->buffers[i], copies);
            EXPECT_EQ(got.start, i * kSampleTime);
            EXPECT_EQ(got.stop, (i + 1) * kSampleTime);
            const DWORD flags = AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_DATADISCONTINUITY | AM_SAMPLE_TYPECHANGED;
            EXPECT_EQ(got.flags & flags, i == 0 ? flags : (DWORD)(i % 2 == 0 ? AM_SAMPLE_SPLICEPOINT : 0));
        }
    }
}

// A transform answering S_FALSE posts EC_QUALITY_CHANGE once per run (a pause resets the latch); a sample of
// another stream passes through untransformed, in its own buffer.
TEST_F(GraphXform, TransformQualityLatchAndOtherStreams)
{
    Graph graph;
    ScriptedTransform *transform = new ScriptedTransform;
    transform->script = {S_FALSE, S_FALSE, S_OK};
    graph.Add(graph.source->BaseFilter());
    graph.Add(transform->BaseFilter());
    graph.Add(graph.sink->BaseFilter());
    ASSERT_EQ(graph.Connect(graph.source->BaseFilter(), transform->BaseFilter()), S_OK);
    ASSERT_EQ(graph.Connect(transform->BaseFilter(), graph.sink->BaseFilter()), S_OK);
    graph.Run();
    graph.sourcePin->Send(3, 1000);
    EXPECT_EQ(graph.CountEvents(EC_QUALITY_CHANGE), 1);
    EXPECT_EQ(graph.sinkPin->received.size(), 1u);
    graph.sourcePin->Send(3, 1000);
    EXPECT_EQ(graph.CountEvents(EC_QUALITY_CHANGE), 0);
    ASSERT_EQ(transform->Pause(), S_OK);
    graph.sourcePin->Send(3, 1000);
    EXPECT_EQ(graph.CountEvents(EC_QUALITY_CHANGE), 1);
    graph.sourcePin->Send(2, 1000, 1);
    EXPECT_EQ(transform->calls, 9);
    ASSERT_EQ(graph.sinkPin->received.size(), 5u);
    EXPECT_EQ(graph.sinkPin->received[4].buffer, graph.sourcePin->buffers[10]);
}

void WriteBytes(const char *name, const void *bytes, size_t size)
{
    FILE *out = fopen(name, "wb");
    fwrite(bytes, 1, size, out);
    fclose(out);
}

// Source, "WAV Dest", a sink offering an in-memory IStream: the header (28 bytes plus the 18-byte format) is
// written at the stop, the samples behind it at their stamped offsets. Each file goes to wav_dest_check.py.
TEST_F(GraphXform, WavDestWritesTheFileThroughTheStream)
{
    for (int format : {0, 1}) {
        for (int count : {0, 5}) {
            Graph graph;
            HRESULT made = E_FAIL;
            IBaseFilter *writer = static_cast<R_CWavWriterFilter *>(CreateWavDestFilter(NULL, &made))->BaseFilter();
            ASSERT_EQ(made, S_OK);
            ASSERT_EQ(CreateStreamOnHGlobal(NULL, TRUE, &graph.sinkPin->stream), S_OK);
            graph.sinkPin->wanted.SetMajorTypeId(MEDIATYPE_Stream);
            graph.Add(graph.source->BaseFilter());
            graph.Add(writer);
            graph.Add(graph.sink->BaseFilter());
            ASSERT_EQ(graph.Connect(graph.source->BaseFilter(), writer, &graph.sourcePin->formats[format]), S_OK);
            ASSERT_EQ(graph.Connect(writer, graph.sink->BaseFilter()), S_OK);
            graph.Run();
            graph.sourcePin->Send(count, 1000 + 4 * format);
            ASSERT_EQ(graph.Query<IMediaControl>(IID_IMediaControl)->Stop(), S_OK);
            ASSERT_EQ(graph.sinkPin->received.size(), (size_t)count);
            EXPECT_TRUE(count == 0 || graph.sinkPin->received[0].start == 46);
            HGLOBAL memory = NULL;
            ULARGE_INTEGER end = {};
            GetHGlobalFromStream(graph.sinkPin->stream, &memory);
            graph.sinkPin->stream->Seek({}, STREAM_SEEK_END, &end);
            char name[32];
            snprintf(name, sizeof name, "wav_dest_%d_%d.wav", format, count);
            WriteBytes(name, GlobalLock(memory), (size_t)end.QuadPart);
            GlobalUnlock(memory);
            snprintf(name, sizeof name, "wav_dest_%d_%d.pcm", format, count);
            WriteBytes(name, graph.sourcePin->sent.data(), graph.sourcePin->sent.size());
        }
    }
}

// "WAV Dest" takes only a wave format block that its header can carry whole.
TEST_F(GraphXform, WavDestRefusesFormatsItCannotWrite)
{
    HRESULT made = E_FAIL;
    R_CWavWriterFilter *writer = static_cast<R_CWavWriterFilter *>(CreateWavDestFilter(NULL, &made));
    writer->BaseFilter()->AddRef();
    BYTE format[sizeof(WAVEFORMATEX)] = {};
    const struct {
        GUID formatType;
        ULONG size;
        BYTE *block;
        HRESULT result;
    } rows[] = {
        {FORMAT_WaveFormatEx, 18, format, S_OK},
        {FORMAT_WaveFormatEx, 16, format, S_OK},
        {FORMAT_WaveFormatEx, 14, format, S_FALSE},
        {FORMAT_WaveFormatEx, 18, NULL, S_FALSE},
        {FORMAT_WaveFormatEx, 0xFFFFFFF0, format, S_FALSE},
        {FORMAT_VideoInfo, 18, format, S_FALSE},
    };
    for (const auto &row : rows) {
        AM_MEDIA_TYPE type = Ids(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, row.formatType);
        type.cbFormat = row.size;
        type.pbFormat = row.block;
        EXPECT_EQ(writer->AcceptsInputType(&type), row.result) << row.size;
    }
    writer->BaseFilter()->Release();
}

// Ids, not names, find the pins; the grabber's proposal and type rule; its private allocator's terms.
TEST_F(GraphXform, PinIdsAndGrabberTerms)
{
    R_CSampleGrabber *grabber = CreateSampleGrabber(NULL, NULL);
    IBaseFilter *filter = grabber->BaseFilter();
    filter->AddRef();
    const WCHAR *ids[] = {L"In", L"Out", L"Input", L"XForm In"}; // the pins' two ids, then a name and a near miss
    for (int i = 0; i < 4; i++) {
        IPin *pin = (IPin *)1;
        LPWSTR read = NULL;
        ASSERT_EQ(filter->FindPin(ids[i], &pin), i < 2 ? S_OK : VFW_E_NOT_FOUND);
        ASSERT_EQ(pin != NULL, i < 2);
        if (i < 2) {
            EXPECT_EQ(pin->QueryId(&read), S_OK);
            EXPECT_EQ(lstrcmpW(read, ids[i]), 0);
            CoTaskMemFree(read);
            pin->Release();
        }
    }
    EXPECT_EQ(filter->FindPin(L"In", NULL), E_POINTER);

    const AM_MEDIA_TYPE wanted = Ids(MEDIATYPE_Audio, MEDIASUBTYPE_PCM);
    const struct {
        GUID major, subtype, format;
        HRESULT withPcm, withAnything;
    } types[] = {
        {MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, S_OK, S_OK},
        {MEDIATYPE_Audio, MEDIASUBTYPE_IEEE_FLOAT, FORMAT_WaveFormatEx, VFW_E_INVALID_MEDIA_TYPE, S_OK},
        {MEDIATYPE_Video, MEDIASUBTYPE_PCM, GUID_NULL, VFW_E_INVALID_MEDIA_TYPE, S_OK},
    };
    for (const auto &row : types) {
        const AM_MEDIA_TYPE offered = Ids(row.major, row.subtype, row.format);
        grabber->SetWantedMediaType(&wanted);
        EXPECT_EQ(grabber->AcceptsInputType(&offered), row.withPcm);
        grabber->SetWantedMediaType(NULL);
        EXPECT_EQ(grabber->AcceptsInputType(&offered), row.withAnything);
    }
    grabber->SetWantedMediaType(&wanted);
    R_CPinBase *input = grabber->PinAtIndex(0);
    R_CMediaTypeRecord proposed;
    EXPECT_EQ(input->ProposeMediaType(-1, &proposed), E_INVALIDARG);
    EXPECT_EQ(input->ProposeMediaType(1, &proposed), VFW_S_NO_MORE_ITEMS);
    ASSERT_EQ(input->ProposeMediaType(0, &proposed), S_OK);
    EXPECT_TRUE(proposed.majortype == MEDIATYPE_Audio && proposed.subtype == GUID_NULL);

    std::vector<BYTE> buffer(4096);
    ALLOCATOR_PROPERTIES own = {1, 4000, 4, 0};
    EXPECT_EQ(grabber->SetExternalBuffer({2, 4000, 4, 0}, buffer.data()), E_INVALIDARG);
    EXPECT_EQ(grabber->SetExternalBuffer(own, NULL), E_POINTER);
    ASSERT_EQ(grabber->SetExternalBuffer(own, buffer.data()), S_OK);
    IMemInputPin *memInput = static_cast<R_CInputPinBase *>(input)->MemInputPin();
    IMemAllocator *allocator = NULL;
    ALLOCATOR_PROPERTIES requirements = {}, actual;
    ASSERT_EQ(memInput->GetAllocator(&allocator), S_OK);
    EXPECT_EQ(memInput->GetAllocatorRequirements(&requirements), S_OK);
    EXPECT_EQ(requirements.cbBuffer, own.cbBuffer);
    const struct {
        ALLOCATOR_PROPERTIES request;
        HRESULT result;
    } requests[] = {
        {{1, 100, 4, 0}, S_OK},    {{1, 100, 8, 0}, VFW_E_BADALIGN}, {{1, 100, 4, 4}, E_FAIL},
        {{1, 4001, 4, 0}, E_FAIL}, {{2, 100, 4, 0}, E_FAIL},
    };
    for (auto row : requests) {
        EXPECT_EQ(allocator->SetProperties(&row.request, &actual), row.result);
        EXPECT_EQ(actual.cbBuffer, own.cbBuffer);
    }
    // Refused requests leave the caller's terms agreed: one sample over the caller's buffer.
    IMediaSample *sample = NULL, *second = NULL;
    BYTE *data = NULL;
    ASSERT_EQ(allocator->Commit(), S_OK);
    ASSERT_EQ(allocator->GetBuffer(&sample, NULL, NULL, 0), S_OK);
    EXPECT_EQ(allocator->GetBuffer(&second, NULL, NULL, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
    sample->GetPointer(&data);
    EXPECT_EQ(data, buffer.data());
    EXPECT_EQ(sample->GetSize(), own.cbBuffer);
    sample->Release();
    allocator->Decommit();
    allocator->Release();
    filter->Release();
}

} // namespace
