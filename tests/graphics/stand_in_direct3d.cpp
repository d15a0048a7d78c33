// The stand-in Direct3D object: a forwarding wrapper whose answers come from the test's settings.
#include "graphics/stand_in_direct3d.h"

#include "graphics/graphics_test_hooks.h"

#include <algorithm>

namespace
{

StandInDirect3DSettings s_Settings;
StandInDirect3DRecord s_Record;

bool Listed(const std::vector<D3DFORMAT> &list, D3DFORMAT format)
{
    return std::find(list.begin(), list.end(), format) != list.end();
}

bool TakeDeviceFailure(DWORD behaviour)
{
    s_Record.deviceBehaviours.push_back(behaviour);
    if (s_Settings.deviceFailures > 0) {
        s_Settings.deviceFailures--;
        return true;
    }
    return false;
}

// Methods the stand-in passes on unchanged: to the object, or to its 9Ex side (refused when it has none).
#define FORWARD(result, name, parameters, arguments)                                                                   \
    result STDMETHODCALLTYPE name parameters override                                                                  \
    {                                                                                                                  \
        return m_Real->name arguments;                                                                                 \
    }
#define FORWARD_EX(result, name, parameters, arguments, refused)                                                       \
    result STDMETHODCALLTYPE name parameters override                                                                  \
    {                                                                                                                  \
        return m_RealEx != NULL ? m_RealEx->name arguments : refused;                                                  \
    }

class StandInDirect3D final : public IDirect3D9Ex
{
  public:
    StandInDirect3D(IDirect3D9 *real, IDirect3D9Ex *realEx) : m_Real(real), m_RealEx(realEx)
    {
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (iid == IID_IUnknown || iid == IID_IDirect3D9 || (m_RealEx != NULL && iid == IID_IDirect3D9Ex)) {
            AddRef();
            *out = this;
            return S_OK;
        }
        *out = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef(void) override
    {
        return (ULONG)InterlockedIncrement(&m_References);
    }
    ULONG STDMETHODCALLTYPE Release(void) override
    {
        LONG left = InterlockedDecrement(&m_References);
        if (left == 0) {
            m_Real->Release();
            delete this;
        }
        return (ULONG)left;
    }
    FORWARD(HRESULT, RegisterSoftwareDevice, (void *init), (init))
    FORWARD(UINT, GetAdapterCount, (void), ())
    FORWARD(HRESULT, GetAdapterIdentifier, (UINT adapter, DWORD flags, D3DADAPTER_IDENTIFIER9 *id),
            (adapter, flags, id))
    FORWARD(HRESULT, EnumAdapterModes, (UINT adapter, D3DFORMAT format, UINT index, D3DDISPLAYMODE *mode),
            (adapter, format, index, mode))
    FORWARD(HRESULT, GetAdapterDisplayMode, (UINT adapter, D3DDISPLAYMODE *mode), (adapter, mode))
    FORWARD(HRESULT, CheckDeviceType, (UINT adapter, D3DDEVTYPE type, D3DFORMAT display, D3DFORMAT back, BOOL windowed),
            (adapter, type, display, back, windowed))
    FORWARD(HRESULT, CheckDeviceMultiSampleType,
            (UINT adapter, D3DDEVTYPE type, D3DFORMAT format, BOOL windowed, D3DMULTISAMPLE_TYPE samples,
             DWORD *levels),
            (adapter, type, format, windowed, samples, levels))
    FORWARD(HRESULT, CheckDeviceFormatConversion, (UINT adapter, D3DDEVTYPE type, D3DFORMAT from, D3DFORMAT to),
            (adapter, type, from, to))
    FORWARD(HMONITOR, GetAdapterMonitor, (UINT adapter), (adapter))
    FORWARD_EX(UINT, GetAdapterModeCountEx, (UINT adapter, const D3DDISPLAYMODEFILTER *filter), (adapter, filter), 0)
    FORWARD_EX(HRESULT, EnumAdapterModesEx,
               (UINT adapter, const D3DDISPLAYMODEFILTER *filter, UINT index, D3DDISPLAYMODEEX *mode),
               (adapter, filter, index, mode), D3DERR_INVALIDCALL)
    FORWARD_EX(HRESULT, GetAdapterDisplayModeEx, (UINT adapter, D3DDISPLAYMODEEX *mode, D3DDISPLAYROTATION *rotation),
               (adapter, mode, rotation), D3DERR_INVALIDCALL)
    FORWARD_EX(HRESULT, GetAdapterLUID, (UINT adapter, LUID *luid), (adapter, luid), D3DERR_INVALIDCALL)

    UINT STDMETHODCALLTYPE GetAdapterModeCount(UINT adapter, D3DFORMAT format) override
    {
        for (const auto &entry : s_Settings.modeCounts) {
            if (entry.first == format) {
                return entry.second;
            }
        }
        return m_Real->GetAdapterModeCount(adapter, format);
    }
    HRESULT STDMETHODCALLTYPE CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                                                D3DRESOURCETYPE resource, D3DFORMAT format) override
    {
        if (Listed(s_Settings.refusedFormats, format)) {
            return D3DERR_NOTAVAILABLE;
        }
        return m_Real->CheckDeviceFormat(adapter, type, adapterFormat, usage, resource, format);
    }
    HRESULT STDMETHODCALLTYPE CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                                     D3DFORMAT targetFormat, D3DFORMAT depthFormat) override
    {
        if (Listed(s_Settings.refusedDepthFormats, depthFormat)) {
            return D3DERR_NOTAVAILABLE;
        }
        return m_Real->CheckDepthStencilMatch(adapter, type, adapterFormat, targetFormat, depthFormat);
    }
    HRESULT STDMETHODCALLTYPE GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9 *caps) override
    {
        HRESULT result = m_Real->GetDeviceCaps(adapter, type, caps);
        if (SUCCEEDED(result) && s_Settings.vertexShaderVersion != 0) {
            caps->VertexShaderVersion = s_Settings.vertexShaderVersion;
        }
        if (SUCCEEDED(result) && s_Settings.pixelShaderVersion != 0) {
            caps->PixelShaderVersion = s_Settings.pixelShaderVersion;
        }
        return result;
    }
    HRESULT STDMETHODCALLTYPE CreateDevice(UINT adapter, D3DDEVTYPE type, HWND window, DWORD behaviour,
                                           D3DPRESENT_PARAMETERS *parameters, IDirect3DDevice9 **device) override
    {
        if (TakeDeviceFailure(behaviour)) {
            return D3DERR_NOTAVAILABLE;
        }
        return m_Real->CreateDevice(adapter, type, window, behaviour, parameters, device);
    }
    HRESULT STDMETHODCALLTYPE CreateDeviceEx(UINT adapter, D3DDEVTYPE type, HWND window, DWORD behaviour,
                                             D3DPRESENT_PARAMETERS *parameters, D3DDISPLAYMODEEX *mode,
                                             IDirect3DDevice9Ex **device) override
    {
        if (TakeDeviceFailure(behaviour) || m_RealEx == NULL) {
            return D3DERR_NOTAVAILABLE;
        }
        return m_RealEx->CreateDeviceEx(adapter, type, window, behaviour, parameters, mode, device);
    }

  private:
    IDirect3D9 *m_Real;
    IDirect3D9Ex *m_RealEx; // the same object as m_Real when made through 9Ex
    LONG m_References = 1;
};

HMODULE RealLibrary(void)
{
    static HMODULE library = LoadLibraryA("d3d9.dll");
    return library;
}

IDirect3D9 *WINAPI CreateStandIn9(UINT version)
{
    auto create = (Direct3DCreate9Function)(void (*)(void))GetProcAddress(RealLibrary(), "Direct3DCreate9");
    IDirect3D9 *real = create != NULL ? create(version) : NULL;
    if (real == NULL) {
        return NULL;
    }
    s_Record.plainObjects++;
    return MakeStandInDirect3D(real, NULL);
}

HRESULT WINAPI CreateStandIn9Ex(UINT version, IDirect3D9Ex **out)
{
    auto create = (Direct3DCreate9ExFunction)(void (*)(void))GetProcAddress(RealLibrary(), "Direct3DCreate9Ex");
    IDirect3D9Ex *real = NULL;
    HRESULT result = create != NULL ? create(version, &real) : E_NOTIMPL;
    if (FAILED(result)) {
        return result;
    }
    s_Record.exObjects++;
    *out = MakeStandInDirect3D(real, real);
    return S_OK;
}

} // namespace

IDirect3D9Ex *MakeStandInDirect3D(IDirect3D9 *real, IDirect3D9Ex *realEx)
{
    return new StandInDirect3D(real, realEx);
}

void InstallStandInDirect3D(const StandInDirect3DSettings &settings)
{
    s_Settings = settings;
    s_Record = StandInDirect3DRecord();
    SetDirect3DCreateHooks(CreateStandIn9, CreateStandIn9Ex);
}

void RemoveStandInDirect3D(void)
{
    SetDirect3DCreateHooks(NULL, NULL);
    s_Settings = StandInDirect3DSettings();
}

StandInDirect3DSettings &GetStandInSettings(void)
{
    return s_Settings;
}

const StandInDirect3DRecord &GetStandInRecord(void)
{
    return s_Record;
}
