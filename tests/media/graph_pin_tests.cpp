// Pins in test filters: the type negotiation (which types, in which order, what result), the connection guards,
// disconnection and the queries; the input pin's receive states, ReceiveMultiple and ReceiveCanBlock; the output
// pin's allocator choice and pushes. Pins log the types they are asked about; task memory and platform objects are
// counted through the bound entries, so a leak or a stray free shows.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "media/graph_test_support.h"
#include "media/media_allocator.h"

namespace
{

// "A1": audio, subtype 1, with a four-byte format block; "A*": audio with no subtype and no format.
void MakeType(const std::string &name, R_CMediaTypeRecord *type)
{
    type->ResetToBlank();
    type->majortype = name[0] == 'A' ? MEDIATYPE_Audio : MEDIATYPE_Video;
    if (name[1] != '*') {
        type->subtype = GUID{(DWORD)(name[1] - '0'), 0x5151, 0x10, {0x80, 0, 0, 0xaa, 0, 0x38, 0x9b, 0x71}};
        type->formattype = FORMAT_WaveFormatEx;
        type->cbFormat = 4;
        type->pbFormat = (BYTE *)MediaTaskMemAlloc(4);
    }
}

std::string TypeName(const AM_MEDIA_TYPE *type)
{
    return std::string(1, type->majortype == MEDIATYPE_Audio ? 'A' : 'V') + std::to_string(type->subtype.Data1);
}

// A pin that logs each type it is asked to accept ("oA1 " for the output pin), proposes the types of a list
// ("A1 V2"), answers from a table keyed by pin and type (S_OK when not listed), and counts its releases.
template <class Base> class ScriptedPin : public Base
{
  public:
    ScriptedPin(R_CFilterBase *filter, const char *tag, std::string *log, std::map<std::string, HRESULT> *answers)
        : Base("pin", filter, filter->FilterLock(), NULL, L"Pin"), tag(tag), log(log), answers(answers)
    {
    }
    HRESULT AcceptsMediaType(const AM_MEDIA_TYPE *type) override
    {
        const std::string name = tag + TypeName(type);
        *log += name + " ";
        return answers->count(name) ? (*answers)[name] : S_OK;
    }
    HRESULT ProposeMediaType(int position, AM_MEDIA_TYPE *type) override
    {
        if (position * 3 >= (int)proposals.size()) {
            return S_FALSE;
        }
        MakeType(proposals.substr(position * 3, 2), static_cast<R_CMediaTypeRecord *>(type));
        return S_OK;
    }
    HRESULT ReleaseConnectionResources() override
    {
        ++releases;
        return Base::ReleaseConnectionResources();
    }
    using Base::m_ReconnectWhenActive;
    using Base::m_TryOwnTypesFirst;
    std::string tag, proposals;
    std::string *log;
    std::map<std::string, HRESULT> *answers;
    int releases = 0;
};

class OutputPin : public ScriptedPin<R_COutputPinBase>
{
  public:
    using ScriptedPin::ScriptedPin;
    // Refuses the allocator it is told to, as an allocator that cannot give the properties would.
    HRESULT SizeBuffers(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request) override
    {
        ALLOCATOR_PROPERTIES wanted = {2, 64, request->cbAlign, 0}, actual;
        return allocator == refused ? E_FAIL : allocator->SetProperties(&wanted, &actual);
    }
    // A success other than S_OK when the table holds "finish".
    HRESULT FinishConnection(IPin *peer) override
    {
        const HRESULT result = R_COutputPinBase::FinishConnection(peer);
        return result == S_OK && answers->count("finish") ? (*answers)["finish"] : result;
    }
    IMemAllocator *refused = NULL;
};

class InputPin : public ScriptedPin<R_CInputPinBase>
{
  public:
    using ScriptedPin::ScriptedPin;
    // A null sample stands for one this pin drops (the base would answer E_POINTER).
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample *sample) override
    {
        return sample != NULL ? R_CInputPinBase::Receive(sample) : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override
    {
        return canBlock != S_OK ? canBlock : R_CInputPinBase::ReceiveCanBlock();
    }
    HRESULT STDMETHODCALLTYPE EndOfStream() override
    {
        *log += "eos ";
        return S_OK;
    }
    HRESULT canBlock = S_OK; // an answer of ReceiveCanBlock in place of the base's
};

// A filter with an input and an output pin that log into one string and answer from one table.
struct Filter : graph_test::TestFilter {
    Filter(std::string *log, std::map<std::string, HRESULT> *answers)
        : input(new InputPin(this, "i", log, answers)), output(new OutputPin(this, "o", log, answers))
    {
        pins = {input, output};
        AddRef();
    }
    InputPin *input;
    OutputPin *output;
};

// Two filters, "up" and "down"; at the end every connection is broken, and the filters, their task memory and
// the platform's allocators must all be gone.
struct PinWorld {
    graph_test::PlatformEntries entries;
    const LONG objects = MediaObjectCount, blocks = entries.TaskBlocksOut();
    std::string log;
    std::map<std::string, HRESULT> answers;
    Filter *up = new Filter(&log, &answers), *down = new Filter(&log, &answers);
    ~PinWorld()
    {
        for (Filter *filter : {up, down}) {
            filter->Stop();
            filter->input->Disconnect();
            filter->output->Disconnect();
        }
        up->Release();
        down->Release();
        EXPECT_EQ(MediaObjectCount, objects);
        EXPECT_EQ(entries.TaskBlocksOut(), blocks);
    }
};

bool Unconnected(R_CPinBase *pin)
{
    IPin *peer = (IPin *)1;
    return pin->ConnectedTo(&peer) == VFW_E_NOT_CONNECTED && peer == NULL && !pin->IsConnected();
}

TEST(PinNegotiation, TriesTheRightTypesInOrderAndLeavesFailuresUnconnected)
{
    const HRESULT OOM = E_OUTOFMEMORY, REFUSED = VFW_E_TYPE_NOT_ACCEPTED, NONE = VFW_E_NO_ACCEPTABLE_TYPES;
    const struct {
        const char *given; // "" for none
        bool ownFirst;
        const char *upTypes, *downTypes;
        std::map<std::string, HRESULT> answers;
        HRESULT result;
        const char *log, *connected;
    } cases[] = {
        {"A1", false, "A2", "A3", {}, S_OK, "oA1 iA1 ", "A1"},
        {"A1", false, "A2", "A3", {{"iA1", S_FALSE}}, REFUSED, "oA1 iA1 ", ""},
        {"A*", false, "V3 A4", "V1 A2", {{"iA2", E_FAIL}}, S_OK, "oA2 iA2 oA4 iA4 ", "A4"},
        {"V*", false, "A2", "A1", {}, NONE, "", ""},
        {"", false, "A2", "A1", {{"iA1", E_FAIL}}, S_OK, "oA1 iA1 oA2 iA2 ", "A2"},
        {"", true, "A2", "A1", {{"iA2", E_FAIL}}, S_OK, "oA2 iA2 oA1 iA1 ", "A1"},
        {"", true, "A2", "A1", {}, S_OK, "oA2 iA2 ", "A2"},
        {"", false, "A2", "A1", {{"oA2", S_FALSE}, {"iA1", E_INVALIDARG}}, NONE, "oA1 iA1 oA2 ", ""},
        {"", false, "", "", {}, NONE, "", ""},
        {"", false, "A3", "A1", {{"iA1", OOM}, {"iA3", REFUSED}}, OOM, "oA1 iA1 oA3 iA3 ", ""},
        {"", false, "A3", "A1", {{"iA1", E_FAIL}, {"iA3", OOM}}, OOM, "oA1 iA1 oA3 iA3 ", ""},
        {"", false, "", "A1", {{"create", S_OK}}, REGDB_E_CLASSNOTREG, "oA1 iA1 ", ""},
        {"", false, "", "A1 A2", {{"finish", S_FALSE}}, S_OK, "oA1 iA1 ", "A1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("given ") + c.given + ", log " + c.log);
        PinWorld world;
        OutputPin &out = *world.up->output;
        InputPin &in = *world.down->input;
        out.proposals = c.upTypes;
        in.proposals = c.downTypes;
        world.answers = c.answers;
        out.m_TryOwnTypesFirst = c.ownFirst;
        if (c.answers.count("create")) { // CoCreateInstance refuses both allocators
            graph_test::BindOle(OLE_CO_CREATE_INSTANCE, graph_test::AsEntry(graph_test::RefusingCoCreateInstance));
        }
        R_CMediaTypeRecord given;
        if (*c.given) {
            MakeType(c.given, &given);
        }
        EXPECT_EQ(out.Connect(in.PinInterface(), *c.given ? &given : NULL), c.result);
        EXPECT_EQ(world.log, c.log);
        if (*c.connected) {
            EXPECT_EQ(TypeName(&out.ConnectionType()) + TypeName(&in.ConnectionType()),
                      std::string(c.connected) + c.connected);
            EXPECT_EQ(out.ConnectedPin(), in.PinInterface());
            EXPECT_EQ(in.ConnectedPin(), out.PinInterface());
            EXPECT_EQ(in.Allocator(), out.Allocator());
        } else {
            EXPECT_TRUE(Unconnected(&out) && Unconnected(&in));
            EXPECT_GT(out.releases, 0);
            EXPECT_EQ(out.Allocator(), nullptr);
            EXPECT_EQ(out.ConnectedInput(), nullptr);
        }
    }
}

TEST(PinConnection, GuardsDirectionStateAndRepeats)
{
    PinWorld world;
    OutputPin &out = *world.up->output;
    InputPin &in = *world.down->input;
    in.proposals = "A1";
    R_CMediaTypeRecord type;
    MakeType("A2", &type);
    world.answers = {{"iA2", S_FALSE}};
    EXPECT_EQ(in.ReceiveConnection(out.PinInterface(), &type), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(out.Connect(world.down->output->PinInterface(), &type), VFW_E_INVALID_DIRECTION);
    EXPECT_EQ(in.ReceiveConnection(world.up->input->PinInterface(), &type), VFW_E_INVALID_DIRECTION);
    EXPECT_TRUE(Unconnected(&out) && Unconnected(&in) && Unconnected(world.down->output));
    EXPECT_GE(in.releases, 2);

    world.up->Pause();
    EXPECT_EQ(out.Connect(in.PinInterface(), NULL), VFW_E_NOT_STOPPED);
    out.m_ReconnectWhenActive = true;
    ASSERT_EQ(out.Connect(in.PinInterface(), NULL), S_OK);
    EXPECT_EQ(out.Connect(in.PinInterface(), NULL), VFW_E_ALREADY_CONNECTED);
    EXPECT_EQ(in.ReceiveConnection(out.PinInterface(), &type), VFW_E_ALREADY_CONNECTED);
    EXPECT_EQ(out.Disconnect(), VFW_E_NOT_STOPPED);
    EXPECT_EQ(out.IsConnected() && in.IsConnected(), true);

    world.up->Stop();
    for (R_CPinBase *pin : {static_cast<R_CPinBase *>(&out), static_cast<R_CPinBase *>(&in)}) {
        EXPECT_EQ(pin->Disconnect(), S_OK);
        EXPECT_EQ(pin->Disconnect(), S_FALSE);
        EXPECT_TRUE(Unconnected(pin));
    }
    EXPECT_EQ(in.Allocator(), nullptr);

    AM_MEDIA_TYPE blank;
    memset(&blank, 0x5A, sizeof(blank));
    EXPECT_EQ(out.ConnectionMediaType(&blank), VFW_E_NOT_CONNECTED);
    const AM_MEDIA_TYPE expected = {GUID_NULL, GUID_NULL, TRUE, FALSE, 1, GUID_NULL, NULL, 0, NULL};
    EXPECT_EQ(memcmp(&blank, &expected, sizeof(blank)), 0);
    for (HRESULT answer : {S_OK, S_FALSE, E_FAIL, E_OUTOFMEMORY}) {
        world.answers["iA2"] = answer;
        EXPECT_EQ(in.QueryAccept(&type), answer == S_OK ? S_OK : S_FALSE);
    }
}

// The library's own sample over a buffer of its own, held on the stack (references are not counted, no pool takes
// it back); unless `second` it hides IMediaSample2, so that the pin must ask one property at a time.
struct Sample : R_CAllocatedSample {
    BYTE buffer[16] = {};
    bool second = false;
    HRESULT made = S_OK;
    Sample() : R_CAllocatedSample("sample", NULL, &made, buffer, sizeof(buffer))
    {
        SetActualDataLength(12);
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void **out) override
    {
        if (!second && id == IID_IMediaSample2) {
            return *out = NULL, E_NOINTERFACE;
        }
        return R_CAllocatedSample::QueryInterface(id, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        return 1;
    }
};

// What the pin keeps of a received sample must be what the sample says of itself (times 0 when it has none); with
// IMediaSample2 the type is the sample's own record, else a copy the pin frees after use.
TEST(InputPinReceive, FollowsTheStreamStates)
{
    const struct {
        bool flushing, running, second, timeValid;
        const char *type; // "" for none; the pins refuse video
        HRESULT result, next;
        const char *log;
    } cases[] = {
        {true, true, false, true, "", S_FALSE, S_FALSE, ""},
        {false, false, false, true, "", VFW_E_WRONG_STATE, VFW_E_WRONG_STATE, ""},
        {false, true, false, true, "", S_OK, S_OK, ""},
        {false, true, false, false, "", S_OK, S_OK, ""},
        {false, true, false, true, "A1", S_OK, S_OK, "iA1 iA1 "},
        {false, true, true, false, "A1", S_OK, S_OK, "iA1 iA1 "},
        {false, true, false, true, "V1", VFW_E_INVALIDMEDIATYPE, VFW_E_RUNTIME_ERROR, "iV1 eos abort "},
        {false, true, true, true, "V1", VFW_E_INVALIDMEDIATYPE, VFW_E_RUNTIME_ERROR, "iV1 eos abort "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("type ") + c.type + (c.second ? " through IMediaSample2" : ""));
        graph_test::RecordingGraph graph;
        PinWorld world;
        InputPin &in = *world.down->input;
        world.down->JoinFilterGraph(&graph, NULL);
        in.proposals = "A1";
        world.answers = {{"iV1", VFW_E_TYPE_NOT_ACCEPTED}};
        ASSERT_EQ(world.up->output->Connect(in.PinInterface(), NULL), S_OK);
        world.log.clear();
        ASSERT_EQ(c.running ? world.down->Run(0) : S_OK, S_OK);
        if (c.flushing) {
            in.BeginFlushStep();
        }
        Sample sample;
        sample.second = c.second;
        REFERENCE_TIME start = 10, stop = 20;
        sample.SetTime(c.timeValid ? &start : NULL, &stop);
        sample.SetSyncPoint(TRUE);
        sample.SetDiscontinuity(TRUE);
        R_CMediaTypeRecord type;
        if (*c.type) {
            MakeType(c.type, &type);
            sample.SetMediaType(&type);
        }
        EXPECT_EQ(in.Receive(&sample), c.result);
        EXPECT_EQ(in.Receive(&sample), c.next);
        for (const auto &event : graph.events) {
            world.log += event.code == EC_ERRORABORT && event.parameter1 == VFW_E_TYPE_NOT_ACCEPTED ? "abort " : "?";
        }
        EXPECT_EQ(world.log, c.log);
        const AM_SAMPLE2_PROPERTIES &got = in.SampleProperties();
        AM_SAMPLE2_PROPERTIES own = {};
        sample.GetProperties(sizeof(own), (BYTE *)&own);
        if (c.result == S_OK) {
            EXPECT_EQ(got.dwSampleFlags, own.dwSampleFlags);
            EXPECT_EQ(got.lActual + got.cbBuffer + (got.pbBuffer == sample.buffer), 12 + 16 + 1);
            EXPECT_EQ(got.tStart * 100 + got.tStop, c.timeValid ? 1020 : 0);
            EXPECT_EQ(got.pMediaType == own.pMediaType, c.second || !*c.type);
        }
        EXPECT_EQ(world.down->Stop(), S_OK);
        world.down->Run(0);
        sample.SetMediaType(NULL);
        EXPECT_EQ(in.Receive(&sample), S_OK) << "a stop ends a refusal and the flush";
    }
}

TEST(InputPinReceive, MultipleAndCanBlock)
{
    Sample sample;
    IMediaSample *samples[] = {&sample, NULL, &sample, &sample, &sample};
    const struct {
        int first, count, processed;
        HRESULT result;
    } batches[] = {{0, 3, 1, S_FALSE}, {2, 3, 3, S_OK}, {0, 0, 0, S_OK}, {0, -1, 0, S_OK}};
    for (const auto &b : batches) {
        PinWorld world;
        world.down->Run(0);
        long processed = -1;
        EXPECT_EQ(world.down->input->ReceiveMultiple(samples + b.first, b.count, &processed), b.result);
        EXPECT_EQ(processed, b.processed);
    }
    for (HRESULT downstream : {S_FALSE, S_OK, E_FAIL}) {
        PinWorld world;
        EXPECT_EQ(world.up->input->ReceiveCanBlock(), S_OK) << "no connected output";
        world.down->input->proposals = "A1";
        ASSERT_EQ(world.up->output->Connect(world.down->input->PinInterface(), NULL), S_OK);
        world.down->input->canBlock = downstream;
        EXPECT_EQ(world.up->input->ReceiveCanBlock(), downstream == S_FALSE ? S_FALSE : S_OK);
    }
}

TEST(OutputPin, ChoosesAnAllocatorAndPushesOnlyWhenConnected)
{
    PinWorld world;
    OutputPin &out = *world.up->output;
    InputPin &in = *world.down->input;
    REFERENCE_TIME start = 0, stop = 0;
    IMediaSample *sample = NULL;
    const std::pair<HRESULT, HRESULT> unconnected[] = {
        {out.Activate(), VFW_E_NO_ALLOCATOR},
        {out.PushEndOfStream(), VFW_E_NOT_CONNECTED},
        {out.PushBeginFlush(), VFW_E_NOT_CONNECTED},
        {out.PushEndFlush(), VFW_E_NOT_CONNECTED},
        {out.PushNewSegment(1, 2, 1.0), VFW_E_NOT_CONNECTED},
        {out.PushSample(NULL), VFW_E_NOT_CONNECTED},
        {out.ObtainOutputSample(&sample, &start, &stop, 0), E_NOINTERFACE},
        {out.EndOfStream(), E_UNEXPECTED}};
    for (const auto &pair : unconnected) {
        EXPECT_EQ(pair.first, pair.second);
    }

    IMemAllocator *own = NULL;
    ASSERT_EQ(in.GetAllocator(&own), S_OK);
    out.refused = own;
    in.proposals = "A1";
    ASSERT_EQ(out.Connect(in.PinInterface(), NULL), S_OK);
    EXPECT_NE(out.Allocator(), own) << "the input's allocator refused the properties";
    EXPECT_EQ(in.Allocator(), out.Allocator());
    EXPECT_FALSE(in.IsReadOnly());
    own->Release();
    ASSERT_EQ(world.up->Pause(), S_OK);
    ASSERT_EQ(out.ObtainOutputSample(&sample, NULL, NULL, 0), S_OK);
    EXPECT_EQ(out.PushNewSegment(50, 60, 1.0), S_OK);
    EXPECT_EQ(in.SegmentStart(), 50);
    sample->Release();
    EXPECT_EQ(world.up->Stop(), S_OK);
}

} // namespace
