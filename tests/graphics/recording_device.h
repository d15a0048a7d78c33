// Recording stand-in for the Direct3D 9 device: every method is implemented, every call is kept in order with its
// arguments (and a copy of the data a pointer argument names), and the device state the calls leave behind can be
// read back. A test chooses the result of any method and the caps the device reports. A stand-in surface of a
// chosen size goes with it. Pure test code: no window, no real device. Used on the thread that runs the test.
#pragma once

#include "graphics/graphics_test_hooks.h"

#include <map>
#include <string.h>
#include <string>
#include <vector>

// One device call. Scalar arguments in order: integers and enums as they are, pointers as addresses, floats as
// their bits. `data` copies what a pointer argument points at: the matrix, viewport, rectangle, material, light,
// shader constants, the vertices of DrawPrimitiveUP and the indices of DrawIndexedPrimitiveUP (its vertices stay
// where the caller keeps them: the argument holds their address).
struct DeviceCall {
    std::string method;
    std::vector<uintptr_t> args;
    std::vector<unsigned char> data;

    template <class T> T DataAs(size_t offset = 0) const
    {
        T value{};
        if (offset + sizeof value <= data.size()) {
            memcpy(&value, data.data() + offset, sizeof value);
        }
        return value;
    }
};

// The test's side of the recording device: the calls, the chosen results and caps, and the state the calls left.
// The device object itself lives with the scope below and hands itself to the device path.
class RecordingDevice
{
  public:
    RecordingDevice();

    std::vector<DeviceCall> calls;
    D3DCAPS9 caps;
    void ClearCalls();
    void SetResult(const char *method, HRESULT result); // every later call of the method returns it
    size_t Count(const char *method) const;
    std::vector<DeviceCall> Calls(const char *method) const;
    // The calls of one state method that set `state` (SetRenderState, SetSamplerState/SetTextureStageState with
    // the stage as well).
    std::vector<DeviceCall> StateCalls(const char *method, DWORD state, int stage = -1) const;
    int IndexOf(const char *method, size_t from = 0) const; // -1 when absent

    // The state the calls left.
    std::map<DWORD, DWORD> renderStates;
    std::map<DWORD, DWORD> samplerStates[16];
    std::map<DWORD, DWORD> stageStates[8];
    IDirect3DBaseTexture9 *textures[16];
    std::map<DWORD, D3DMATRIX> transforms;
    D3DVIEWPORT9 viewport;
    RECT scissor;
    D3DMATERIAL9 material;
    DWORD fvf;
    IDirect3DVertexShader9 *vertexShader;
    IDirect3DPixelShader9 *pixelShader;
    IDirect3DSurface9 *renderTargets[4];
    IDirect3DSurface9 *depthStencil;
    float vertexConstants[256][4];
    float pixelConstants[224][4];

  protected:
    HRESULT Record(const char *method, std::vector<uintptr_t> args, const void *data = NULL, size_t size = 0);

  private:
    std::map<std::string, HRESULT> m_Results;
};

// A surface of a chosen size and format; GetDesc reports them, LockRect hands out memory of its own.
class StandInSurface : public IDirect3DSurface9
{
  public:
    StandInSurface(UINT width, UINT height, D3DFORMAT format = D3DFMT_X8R8G8B8);

    UINT width, height;
    D3DFORMAT format;
    std::vector<unsigned char> pixels;
    ULONG references;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9 **device) override;
    HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID guid, const void *data, DWORD size, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID guid, void *data, DWORD *size) override;
    HRESULT STDMETHODCALLTYPE FreePrivateData(REFGUID guid) override;
    DWORD STDMETHODCALLTYPE SetPriority(DWORD priority) override;
    DWORD STDMETHODCALLTYPE GetPriority() override;
    void STDMETHODCALLTYPE PreLoad() override;
    D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override;
    HRESULT STDMETHODCALLTYPE GetContainer(REFIID riid, void **container) override;
    HRESULT STDMETHODCALLTYPE GetDesc(D3DSURFACE_DESC *description) override;
    HRESULT STDMETHODCALLTYPE LockRect(D3DLOCKED_RECT *locked, const RECT *rect, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE UnlockRect() override;
    HRESULT STDMETHODCALLTYPE GetDC(HDC *dc) override;
    HRESULT STDMETHODCALLTYPE ReleaseDC(HDC dc) override;
};

// Puts a fresh recording device behind the device path for the life of the object: the state cache, the vertex
// batch, the device globals and the draw settings are cleared first (the draw settings to their neutral values:
// white brightness, no alpha-test override, identity world) and the device is taken away at the end.
struct RecordingDeviceScope {
    RecordingDevice &device;
    RecordingDeviceScope();
    ~RecordingDeviceScope();
    RecordingDeviceScope(const RecordingDeviceScope &) = delete;
    RecordingDeviceScope &operator=(const RecordingDeviceScope &) = delete;
};
