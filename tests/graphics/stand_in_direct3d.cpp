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

class StandInDirect3D final : public IDirect3D9Ex
{
  public:
    StandInDirect3D(IDirect3D9 *real, IDirect3D9Ex *realEx) : m_Real(real), m_RealEx(realEx) {}

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
    ULONG STDMETHODCALLTYPE AddRef(void) override { return (ULONG)InterlockedIncrement(&m_References); }
    ULONG STDMETHODCALLTYPE Release(void) override
    {
        LONG left = InterlockedDecrement(&m_References);
        if (left == 0) {
            m_Real->Release();
            delete this;
        }
        return (ULONG)left;
    }
    HRESULT STDMETHODCALLTYPE RegisterSoftwareDevice(void *init) override
    {
        return m_Real->RegisterSoftwareDevice(init);
    }
    UINT STDMETHODCALLTYPE GetAdapterCount(void) override { return m_Real->GetAdapterCount(); }
    HRESULT STDMETHODCALLTYPE GetAdapterIdentifier(UINT adapter, DWORD flags, D3DADAPTER_IDENTIFIER9 *id) override
    {
        return m_Real->GetAdapterIdentifier(adapter, flags, id);
    }
    UINT STDMETHODCALLTYPE GetAdapterModeCount(UINT adapter, D3DFORMAT format) override
    {
        for (const auto &entry : s_Settings.modeCounts) {
            if (entry.first == format) {
                return entry.second;
            }
        }
        return m_Real->GetAdapterModeCount(adapter, format);
    }
    HRESULT STDMETHODCALLTYPE EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT index,
                                               D3DDISPLAYMODE *mode) override
    {
        if (index >= GetAdapterModeCount(adapter, format)) {
            return D3DERR_INVALIDCALL;
        }
        return m_Real->EnumAdapterModes(adapter, format, index, mode);
    }
    HRESULT STDMETHODCALLTYPE GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE *mode) override
    {
        return m_Real->GetAdapterDisplayMode(adapter, mode);
    }
    HRESULT STDMETHODCALLTYPE CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT displayFormat,
                                              D3DFORMAT backBufferFormat, BOOL windowed) override
    {
        return m_Real->CheckDeviceType(adapter, type, displayFormat, backBufferFormat, windowed);
    }
    HRESULT STDMETHODCALLTYPE CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                                                D3DRESOURCETYPE resource, D3DFORMAT format) override
    {
        if (Listed(s_Settings.refusedFormats, format)) {
            return D3DERR_NOTAVAILABLE;
        }
        return m_Real->CheckDeviceFormat(adapter, type, adapterFormat, usage, resource, format);
    }
    HRESULT STDMETHODCALLTYPE CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT format,
                                                         BOOL windowed, D3DMULTISAMPLE_TYPE samples,
                                                         DWORD *levels) override
    {
        return m_Real->CheckDeviceMultiSampleType(adapter, type, format, windowed, samples, levels);
    }
    HRESULT STDMETHODCALLTYPE CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                                     D3DFORMAT targetFormat, D3DFORMAT depthFormat) override
    {
        if (Listed(s_Settings.refusedDepthFormats, depthFormat)) {
            return D3DERR_NOTAVAILABLE;
        }
        return m_Real->CheckDepthStencilMatch(adapter, type, adapterFormat, targetFormat, depthFormat);
    }
    HRESULT STDMETHODCALLTYPE CheckDeviceFormatConversion(UINT adapter, D3DDEVTYPE type, D3DFORMAT from,
                                                          D3DFORMAT to) override
    {
        return m_Real->CheckDeviceFormatConversion(adapter, type, from, to);
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
    HMONITOR STDMETHODCALLTYPE GetAdapterMonitor(UINT adapter) override { return m_Real->GetAdapterMonitor(adapter); }
    HRESULT STDMETHODCALLTYPE CreateDevice(UINT adapter, D3DDEVTYPE type, HWND window, DWORD behaviour,
                                           D3DPRESENT_PARAMETERS *parameters, IDirect3DDevice9 **device) override
    {
        if (TakeDeviceFailure(behaviour)) {
            return D3DERR_NOTAVAILABLE;
        }
        return m_Real->CreateDevice(adapter, type, window, behaviour, parameters, device);
    }
    UINT STDMETHODCALLTYPE GetAdapterModeCountEx(UINT adapter, const D3DDISPLAYMODEFILTER *filter) override
    {
        return m_RealEx != NULL ? m_RealEx->GetAdapterModeCountEx(adapter, filter) : 0;
    }
    HRESULT STDMETHODCALLTYPE EnumAdapterModesEx(UINT adapter, const D3DDISPLAYMODEFILTER *filter, UINT index,
                                                 D3DDISPLAYMODEEX *mode) override
    {
        return m_RealEx != NULL ? m_RealEx->EnumAdapterModesEx(adapter, filter, index, mode) : D3DERR_INVALIDCALL;
    }
    HRESULT STDMETHODCALLTYPE GetAdapterDisplayModeEx(UINT adapter, D3DDISPLAYMODEEX *mode,
                                                      D3DDISPLAYROTATION *rotation) override
    {
        return m_RealEx != NULL ? m_RealEx->GetAdapterDisplayModeEx(adapter, mode, rotation) : D3DERR_INVALIDCALL;
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
    HRESULT STDMETHODCALLTYPE GetAdapterLUID(UINT adapter, LUID *luid) override
    {
        return m_RealEx != NULL ? m_RealEx->GetAdapterLUID(adapter, luid) : D3DERR_INVALIDCALL;
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
