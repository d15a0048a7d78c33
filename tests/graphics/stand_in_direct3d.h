// A stand-in Direct3D object for device-creation tests: it forwards every call to the real Direct3D 9 (or 9Ex)
// object of d3d9.dll, but answers the format checks, the display-mode counts and the adapter caps as the test
// chooses, refuses a chosen number of device creations, and records the behaviour flags of every creation.
#pragma once

#include <d3d9.h>

#include <utility>
#include <vector>

struct StandInDirect3DSettings {
    std::vector<D3DFORMAT> refusedFormats;              // CheckDeviceFormat refuses these, whatever the usage
    std::vector<D3DFORMAT> refusedDepthFormats;         // CheckDepthStencilMatch refuses these
    std::vector<std::pair<D3DFORMAT, UINT>> modeCounts; // GetAdapterModeCount answers for these formats
    int deviceFailures = 0;                             // CreateDevice / CreateDeviceEx calls refused before forwarding
    DWORD vertexShaderVersion = 0;                      // the adapter caps' versions; 0 keeps the real ones
    DWORD pixelShaderVersion = 0;
};

struct StandInDirect3DRecord {
    int plainObjects = 0, exObjects = 0; // stand-ins made through each entry
    std::vector<DWORD> deviceBehaviours; // behaviour flags of every device creation asked, refused or not
};

// The stand-in wrapped around a real object (takes over its reference); realEx may be null.
IDirect3D9Ex *MakeStandInDirect3D(IDirect3D9 *real, IDirect3D9Ex *realEx);
// Puts the stand-in behind the engine's Direct3D creation (both entries) with these settings, or takes it away.
void InstallStandInDirect3D(const StandInDirect3DSettings &settings);
void RemoveStandInDirect3D(void);
StandInDirect3DSettings &GetStandInSettings(void);
const StandInDirect3DRecord &GetStandInRecord(void);
