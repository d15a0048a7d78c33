// "WAV Dest": a transform that passes wave-format audio bytes unchanged to a downstream stream-writing pin,
// stamping each output sample with its byte position in the file, and writes the RIFF WAVE header through the
// downstream pin's IStream when streaming stops; the library's filter factory table, whose one entry it is.
// Samples arrive on the upstream streaming thread; the header is written on the thread that stops the filter.
#include "media/media_transform.h"

#include <new>

const CLSID CLSID_WavDest = {0x3C78B8E2, 0x6C4D, 0x11D1, {0xAD, 0xE2, 0x00, 0x00, 0xF8, 0x75, 0x4B, 0x99}};

// "RIFF" size "WAVE" "fmt " size, then the format block, then "data" size.
static const DWORD s_HeaderBytesBesideFormat = 28;
// A wave format block is at least the PCM record and at most the extended record with its u16 extra size.
static const ULONG s_SmallestFormat = sizeof(PCMWAVEFORMAT);
static const ULONG s_LargestFormat = sizeof(WAVEFORMATEX) + 0xFFFF;

R_CWavWriterFilter::R_CWavWriterFilter(IUnknown *outer, HRESULT *result)
    : R_CXFormFilter(NULL, outer, CLSID_WavDest), m_DataBytes(0), m_HeaderBytes(0)
{
    if (FAILED(*result)) {
        return;
    }
    if (PinAtIndex(0) == NULL) {
        *result = E_OUTOFMEMORY;
    }
}

R_CXFormInputPin *R_CWavWriterFilter::NewInputPin(HRESULT *result)
{
    return new (std::nothrow) R_CXFormInputPin("WAV Dest input pin", this, result, L"In");
}

R_CXFormOutputPin *R_CWavWriterFilter::NewOutputPin(HRESULT *result)
{
    return new (std::nothrow) R_CWavWriterOutputPin(this, result);
}

// A filter whose pins could not be made is not handed out.
R_CMediaUnknown *CreateWavDestFilter(IUnknown *outer, HRESULT *result)
{
    HRESULT made = S_OK;
    R_CWavWriterFilter *filter = new (std::nothrow) R_CWavWriterFilter(outer, &made);
    if (filter == NULL) {
        return NULL;
    }
    if (FAILED(made)) {
        delete filter;
        filter = NULL;
    }
    if (result != NULL) {
        *result = made;
    }
    return filter;
}

// A format block that the header cannot carry whole (missing, shorter than a PCM record, or longer than an
// extended record can say) is refused with the rest.
HRESULT R_CWavWriterFilter::AcceptsInputType(const AM_MEDIA_TYPE *type)
{
    if (type == NULL) {
        return E_POINTER;
    }
    if (type->formattype != FORMAT_WaveFormatEx || type->pbFormat == NULL || type->cbFormat < s_SmallestFormat ||
        type->cbFormat > s_LargestFormat) {
        return S_FALSE;
    }
    return S_OK;
}

HRESULT R_CWavWriterFilter::AcceptsTypePair(const AM_MEDIA_TYPE *in, const AM_MEDIA_TYPE *out)
{
    HRESULT result = AcceptsInputType(in);
    return FAILED(result) ? result : S_OK;
}

HRESULT R_CWavWriterFilter::ProposeOutputType(int position, AM_MEDIA_TYPE *type)
{
    if (type == NULL) {
        return E_POINTER;
    }
    if (position != 0) {
        return VFW_S_NO_MORE_ITEMS;
    }
    ClearMediaTypeRecord(type);
    ResetToBlank(type);
    type->majortype = MEDIATYPE_Stream;
    type->subtype = MEDIASUBTYPE_WAVE;
    return S_OK;
}

// One output buffer as large as the upstream ones.
HRESULT R_CWavWriterFilter::SizeOutputBuffers(IMemAllocator *allocator, ALLOCATOR_PROPERTIES *request)
{
    if (!m_Input->IsConnected()) {
        return E_UNEXPECTED;
    }
    if (allocator == NULL || request == NULL) {
        return E_POINTER;
    }
    request->cBuffers = 1;
    request->cbAlign = 1;
    IMemAllocator *upstream = NULL;
    HRESULT result = m_Input->MemInputPin()->GetAllocator(&upstream);
    if (FAILED(result)) {
        return result;
    }
    ALLOCATOR_PROPERTIES upstreamProperties = {};
    result = upstream->GetProperties(&upstreamProperties);
    upstream->Release();
    if (FAILED(result)) {
        return result;
    }
    request->cbBuffer = upstreamProperties.cbBuffer;
    ALLOCATOR_PROPERTIES actual = {};
    result = allocator->SetProperties(request, &actual);
    if (FAILED(result)) {
        return result;
    }
    return actual.cBuffers < request->cBuffers || actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
}

HRESULT R_CWavWriterFilter::OnStreamingStart()
{
    m_DataBytes = 0;
    m_HeaderBytes = m_Input->ConnectionType().cbFormat + s_HeaderBytesBesideFormat;
    return S_OK;
}

// The bytes, times and media times as they came, then the output stamped with its byte range in the file.
HRESULT R_CWavWriterFilter::TransformSample(IMediaSample *in, IMediaSample *out)
{
    if (in == NULL || out == NULL) {
        return E_POINTER;
    }
    HRESULT result = CopySampleBytes(in, out);
    if (FAILED(result)) {
        return result;
    }
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    if (in->GetTime(&start, &stop) == S_OK) {
        out->SetTime(&start, &stop);
    }
    // The input's type changes are not passed on: the output carries the file's bytes (a stream of type "WAVE"),
    // and the stream writer would take an audio type change for a type it cannot write.
    CopySampleMediaTimes(in, out);
    const DWORD length = (DWORD)out->GetActualDataLength();
    const ULONGLONG position = (ULONGLONG)m_HeaderBytes + m_DataBytes;
    if (position + length > 0xFFFFFFFFull) {
        return E_FAIL;
    }
    start = (REFERENCE_TIME)position;
    stop = (REFERENCE_TIME)(position + length);
    out->SetTime(&start, &stop);
    m_DataBytes += length;
    return S_OK;
}

// A sample that does not reach the writer does not count.
HRESULT R_CWavWriterFilter::ReceiveSample(IMediaSample *in)
{
    const DWORD dataBytes = m_DataBytes;
    HRESULT result = R_CXFormFilter::ReceiveSample(in);
    if (result != S_OK) {
        m_DataBytes = dataBytes;
    }
    return result;
}

static BYTE *PutTag(BYTE *at, const char tag[4])
{
    CopyMemory(at, tag, 4);
    return at + 4;
}

static BYTE *PutU32(BYTE *at, DWORD value)
{
    for (int shift = 0; shift < 32; shift += 8) {
        *at++ = (BYTE)(value >> shift);
    }
    return at;
}

// Writes the header at the start of the downstream stream; the audio bytes already stand behind it.
HRESULT R_CWavWriterFilter::OnStreamingStop()
{
    IPin *peer = m_Output->ConnectedPin();
    if (peer == NULL) {
        return E_FAIL;
    }
    IStream *stream = NULL;
    HRESULT result = peer->QueryInterface(IID_IStream, (void **)&stream);
    if (FAILED(result)) {
        return result;
    }
    const AM_MEDIA_TYPE &format = m_Input->ConnectionType();
    BYTE *header = new (std::nothrow) BYTE[m_HeaderBytes];
    if (header == NULL) {
        stream->Release();
        return E_OUTOFMEMORY;
    }
    BYTE *at = PutU32(PutTag(header, "RIFF"), m_DataBytes + m_HeaderBytes - 8);
    at = PutU32(PutTag(PutTag(at, "WAVE"), "fmt "), format.cbFormat);
    CopyMemory(at, format.pbFormat, format.cbFormat);
    PutU32(PutTag(at + format.cbFormat, "data"), m_DataBytes);
    LARGE_INTEGER origin = {};
    result = stream->Seek(origin, STREAM_SEEK_SET, NULL);
    if (SUCCEEDED(result)) {
        result = stream->Write(header, m_HeaderBytes, NULL);
    }
    delete[] header;
    stream->Release();
    return result;
}

// ---------------------------------------------------------------------------------------------------------------
// Output pin and the factory table.

R_CWavWriterOutputPin::R_CWavWriterOutputPin(R_CWavWriterFilter *filter, HRESULT *result)
    : R_CXFormOutputPin("WAV Dest output pin", filter, result, L"Out")
{
}

HRESULT R_CWavWriterOutputPin::AcceptsMediaType(const AM_MEDIA_TYPE *type)
{
    if (type == NULL) {
        return E_POINTER;
    }
    return type->majortype == MEDIATYPE_Stream && type->subtype == MEDIASUBTYPE_WAVE ? S_OK : S_FALSE;
}

static const FilterSetupRecord s_WavDestSetup = {&CLSID_WavDest, L"WAV Dest", 0x200000, 0, NULL};

const MediaFilterFactoryEntry g_MediaFilterFactories[] = {
    {L"WAV Dest", &CLSID_WavDest, CreateWavDestFilter, NULL, &s_WavDestSetup},
};
const int g_MediaFilterFactoryCount = sizeof(g_MediaFilterFactories) / sizeof(g_MediaFilterFactories[0]);
