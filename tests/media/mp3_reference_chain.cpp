// The platform's own MP3 decode (file source, sample grabber, null renderer, no clock) and the fixture readers.
// The grabber's callback runs on the graph's streaming thread; the caller's thread waits for completion.
#include "mp3_reference_chain.h"

#include <dshow.h>
#include <qedit.h>

#include <fstream>
#include <iterator>
#include <math.h>
#include <string.h>

extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;

namespace
{

// Appends every sample's bytes; lives on the caller's stack, so its count is not used for its lifetime.
class PcmCatcher : public ISampleGrabberCB
{
  public:
    explicit PcmCatcher(Bytes *pcm) : m_Pcm(pcm)
    {
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void **out) override
    {
        if (id == IID_IUnknown || id == IID_ISampleGrabberCB) {
            *out = this;
            return S_OK;
        }
        *out = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        return 1;
    }
    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample *sample) override
    {
        BYTE *data = NULL;
        sample->GetPointer(&data);
        m_Pcm->insert(m_Pcm->end(), data, data + sample->GetActualDataLength());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE *, LONG) override
    {
        return E_NOTIMPL;
    }

  private:
    Bytes *m_Pcm;
};

IPin *FirstPin(IBaseFilter *filter, PIN_DIRECTION wanted)
{
    IEnumPins *pins = NULL;
    IPin *pin = NULL, *found = NULL;
    if (FAILED(filter->EnumPins(&pins))) {
        return NULL;
    }
    while (found == NULL && pins->Next(1, &pin, NULL) == S_OK) {
        PIN_DIRECTION direction;
        if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted) {
            found = pin;
        } else {
            pin->Release();
        }
    }
    pins->Release();
    return found;
}

// Joins output to input (intelligent connect inserts the parser and decoder).
bool ConnectFilters(IGraphBuilder *graph, IBaseFilter *from, IBaseFilter *to)
{
    IPin *out = FirstPin(from, PINDIR_OUTPUT), *in = FirstPin(to, PINDIR_INPUT);
    bool joined = out != NULL && in != NULL && SUCCEEDED(graph->Connect(out, in));
    if (out != NULL) {
        out->Release();
    }
    if (in != NULL) {
        in->Release();
    }
    return joined;
}

bool RunToCompletion(IGraphBuilder *graph)
{
    IMediaFilter *filter = NULL;
    IMediaControl *control = NULL;
    IMediaEvent *events = NULL;
    long code = 0;
    bool completed = SUCCEEDED(graph->QueryInterface(IID_IMediaFilter, (void **)&filter)) &&
                     SUCCEEDED(graph->QueryInterface(IID_IMediaControl, (void **)&control)) &&
                     SUCCEEDED(graph->QueryInterface(IID_IMediaEvent, (void **)&events)) &&
                     SUCCEEDED(filter->SetSyncSource(NULL)) && SUCCEEDED(control->Run()) &&
                     events->WaitForCompletion(120000, &code) == S_OK && code == EC_COMPLETE;
    if (control != NULL) {
        control->Stop();
        control->Release();
    }
    if (events != NULL) {
        events->Release();
    }
    if (filter != NULL) {
        filter->Release();
    }
    return completed;
}

bool ReadConnectedFormat(ISampleGrabber *grabber, WAVEFORMATEX *format)
{
    AM_MEDIA_TYPE type = {};
    bool ok = SUCCEEDED(grabber->GetConnectedMediaType(&type)) && type.formattype == FORMAT_WaveFormatEx &&
              type.cbFormat >= sizeof(PCMWAVEFORMAT);
    if (ok) {
        memset(format, 0, sizeof(*format));
        memcpy(format, type.pbFormat, sizeof(PCMWAVEFORMAT));
    }
    CoTaskMemFree(type.pbFormat);
    if (type.pUnk != NULL) {
        type.pUnk->Release();
    }
    return ok;
}

} // namespace

bool DecodeWithPlatformChain(const std::string &path, DecodedPcm *out)
{
    out->pcm.clear();
    IGraphBuilder *graph = NULL;
    IBaseFilter *source = NULL, *grabberFilter = NULL, *renderer = NULL;
    ISampleGrabber *grabber = NULL;
    PcmCatcher catcher(&out->pcm);
    AM_MEDIA_TYPE wanted = {};
    wanted.majortype = MEDIATYPE_Audio;
    wanted.subtype = MEDIASUBTYPE_PCM;
    std::wstring widePath(path.begin(), path.end());
    WCHAR fullPath[MAX_PATH];
    GetFullPathNameW(widePath.c_str(), MAX_PATH, fullPath, NULL);
    bool ok = SUCCEEDED(CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         (void **)&graph)) &&
              SUCCEEDED(CoCreateInstance(CLSID_SampleGrabber, NULL, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                         (void **)&grabberFilter)) &&
              SUCCEEDED(CoCreateInstance(CLSID_NullRenderer, NULL, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                         (void **)&renderer)) &&
              SUCCEEDED(grabberFilter->QueryInterface(IID_ISampleGrabber, (void **)&grabber)) &&
              SUCCEEDED(grabber->SetMediaType(&wanted)) && SUCCEEDED(grabber->SetCallback(&catcher, 0)) &&
              SUCCEEDED(graph->AddSourceFilter(fullPath, L"Source", &source)) &&
              SUCCEEDED(graph->AddFilter(grabberFilter, L"Grabber")) &&
              SUCCEEDED(graph->AddFilter(renderer, L"Null")) && ConnectFilters(graph, source, grabberFilter) &&
              ConnectFilters(graph, grabberFilter, renderer) && ReadConnectedFormat(grabber, &out->format) &&
              RunToCompletion(graph);
    IUnknown *made[] = {grabber, source, renderer, grabberFilter, graph};
    for (IUnknown *object : made) {
        if (object != NULL) {
            object->Release();
        }
    }
    return ok;
}

const Mp3Tone kMp3Tones[4] = {{"s44_2s", 2, 44100}, {"s44_60s", 2, 44100}, {"m22_2s", 1, 22050}, {"m8_2s", 1, 8000}};

std::string FixturePath(const char *name, const char *suffix)
{
    return std::string("../media_mp3_fixtures/") + name + suffix;
}

Alignment AlignPcm(const Bytes &a, const Bytes &b, int channels, int maxLag)
{
    const short *x = (const short *)a.data(), *y = (const short *)b.data();
    long long frames = (long long)(a.size() < b.size() ? a.size() : b.size()) / 2 / channels;
    long long window = frames - 2LL * maxLag < 8192 ? frames - 2LL * maxLag : 8192;
    Alignment best = {0, -1e9};
    double bestError = 1e300;
    for (int lag = -maxLag; lag <= maxLag && window > 0; lag++) {
        double error = 0;
        for (long long i = maxLag * channels; i < (maxLag + window) * channels; i++) {
            double d = (double)x[i] - y[i + (long long)lag * channels];
            error += d * d;
        }
        if (error < bestError) {
            bestError = error;
            best.lag = lag;
        }
    }
    double signal = 0, difference = 0;
    long long start = best.lag < 0 ? -best.lag : 0, end = frames - (best.lag > 0 ? best.lag : 0);
    for (long long i = start * channels; i < end * channels; i++) {
        double d = (double)x[i] - y[i + (long long)best.lag * channels];
        signal += (double)x[i] * x[i];
        difference += d * d;
    }
    best.decibels = difference == 0 ? 1e9 : 10 * log10(signal / difference);
    return best;
}

Bytes ReadWholeFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool ReadWaveFile(const std::string &path, DecodedPcm *out)
{
    Bytes file = ReadWholeFile(path);
    bool haveFormat = false;
    for (size_t at = 12; at + 8 <= file.size();) {
        uint32_t size;
        memcpy(&size, &file[at + 4], 4);
        size_t body = at + 8, length = size < file.size() - body ? size : file.size() - body;
        if (memcmp(&file[at], "fmt ", 4) == 0 && length >= sizeof(PCMWAVEFORMAT)) {
            memset(&out->format, 0, sizeof(out->format));
            memcpy(&out->format, &file[body], sizeof(PCMWAVEFORMAT));
            haveFormat = true;
        } else if (memcmp(&file[at], "data", 4) == 0) {
            out->pcm.assign(file.begin() + body, file.begin() + body + length);
            return haveFormat;
        }
        at = body + length + (length & 1);
    }
    return false;
}
