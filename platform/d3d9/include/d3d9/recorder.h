#pragma once
// Back-end choice, fault injection and the call log of the Direct3D stand-in.
// The choice is read by Direct3DCreate9; a device keeps the back end of the
// object that made it.
#include <array>
#include <string>
#include <vector>

#include "d3d9/d3d9.h"

namespace d3d9 {

enum class Backend { OpenGL, Recorder };

void SelectBackend(Backend backend);
Backend SelectedBackend();

// Every counter counts calls from the moment it is set; 0 means never.
struct Faults {
  bool noDirect3D = false;        // Direct3DCreate9 gives null
  bool failCreateDevice = false;  // CreateDevice gives D3DERR_NOTAVAILABLE
  bool noContext = false;         // the GL back end behaves as without EGL
  int failCreateAt = 0;           // the n-th Create* of a resource fails (E_OUTOFMEMORY)
  int failLockAt = 0;             // the n-th Lock/LockRect fails (D3DERR_INVALIDCALL)
  bool refuseDynamic = false;     // DYNAMIC usage in the default pool fails
  UINT maxTextureSize = 4096;     // caps' MaxTextureWidth/Height
};
Faults& GetFaults();
// Back to no faults, the GL back end, an empty log.
void ResetAll();

// A vertex as the draw read it, whatever its format.
struct RecordedVertex {
  float x = 0, y = 0, z = 0, rhw = 1;
  float nx = 0, ny = 0, nz = 0;
  D3DCOLOR diffuse = 0xFFFFFFFF;
  float u = 0, v = 0;
};

struct RecordedState {
  std::array<DWORD, kD3DRenderStateCount> render{};
  std::array<std::array<DWORD, kD3DStageStateCount>, 2> stage{};
  std::array<DWORD, kD3DSamplerStateCount> sampler{};
  IDirect3DBaseTexture9* texture0 = nullptr;  // identity only, no reference
  D3DMATRIX world{}, view{}, projection{};
  D3DVIEWPORT9 viewport{};
  DWORD fvf = 0;
  UINT stride = 0;
};

struct DrawRecord {
  D3DPRIMITIVETYPE primitive = D3DPT_TRIANGLELIST;
  UINT primitiveCount = 0;
  bool indexed = false;
  INT baseVertexIndex = 0;
  UINT minIndex = 0, numVertices = 0, startIndex = 0, startVertex = 0;
  RecordedState state;
  std::vector<RecordedVertex> vertices;  // as read: indexed draws give [min, min + num)
  std::vector<WORD> indices;
};

struct CallLog {
  std::vector<std::string> violations;
  std::vector<DrawRecord> draws;
  int clears = 0;
  int presents = 0;
  // As the last CreateDevice received them, before the size was filled in.
  D3DPRESENT_PARAMETERS lastPresentParameters{};
  D3DDEVTYPE lastDeviceType = D3DDEVTYPE_HAL;
  DWORD lastBehaviourFlags = 0;
};

// A copy of the log, safe while other threads call the device.
CallLog GetLog();
void ClearLog();
// Calls made by the stand-in itself; tests look at GetLog().violations.
void LogViolation(const std::string& what);
void LogCreateDevice(const D3DPRESENT_PARAMETERS& parameters, D3DDEVTYPE type, DWORD behaviourFlags);

// Process-wide numbers of live stand-in objects (all back ends).
int LiveObjectCount();

// The GL back end's EGL platform: "device" (the display's EGL) or
// "surfaceless"; empty before the first GL device or when EGL failed.
std::string EglPlatformInUse();

}  // namespace d3d9
