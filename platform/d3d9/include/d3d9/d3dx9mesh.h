#pragma once
// The D3DX objects the scenes use: meshes with 16-bit indices, screen-space
// lines and an atlas font. Each draws through the device like any caller.
#include "d3d9/d3d9.h"
#include "d3d9/d3dx9.h"
#include "win/draw_text_flags.h"

constexpr DWORD D3DXMESH_32BIT = 0x001;
constexpr DWORD D3DXMESH_VB_SYSTEMMEM = 0x010;
constexpr DWORD D3DXMESH_VB_MANAGED = 0x020;
constexpr DWORD D3DXMESH_VB_WRITEONLY = 0x040;
constexpr DWORD D3DXMESH_IB_SYSTEMMEM = 0x100;
constexpr DWORD D3DXMESH_IB_MANAGED = 0x200;
constexpr DWORD D3DXMESH_IB_WRITEONLY = 0x400;
constexpr DWORD D3DXMESH_SYSTEMMEM = 0x110;
constexpr DWORD D3DXMESH_MANAGED = 0x220;
constexpr DWORD D3DXMESH_WRITEONLY = 0x440;

constexpr DWORD D3DXMESHOPT_COMPACT = 0x01000000;
constexpr DWORD D3DXMESHOPT_ATTRSORT = 0x02000000;
constexpr DWORD D3DXMESHOPT_VERTEXCACHE = 0x04000000;

constexpr DWORD D3DXWELDEPSILONS_WELDALL = 0x1;
constexpr DWORD D3DXWELDEPSILONS_WELDPARTIALMATCHES = 0x2;
constexpr DWORD D3DXWELDEPSILONS_DONOTREMOVEVERTICES = 0x4;

struct D3DXWELDEPSILONS {
  float Position;
  float BlendWeights;
  float Normal;
  float PSize;
  float Specular;
  float Diffuse;
  float Texcoord[8];
  float Tangent;
  float Binormal;
  float TessFactor;
};

struct ID3DXBuffer : IUnknown {
  virtual void* GetBufferPointer() = 0;
  virtual DWORD GetBufferSize() = 0;
};

struct ID3DXMesh : IUnknown {
  virtual HRESULT DrawSubset(DWORD attributeId) = 0;
  virtual DWORD GetNumFaces() = 0;
  virtual DWORD GetNumVertices() = 0;
  virtual DWORD GetFVF() = 0;
  virtual DWORD GetNumBytesPerVertex() = 0;
  virtual DWORD GetOptions() = 0;
  virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
  virtual HRESULT GetVertexBuffer(IDirect3DVertexBuffer9** buffer) = 0;
  virtual HRESULT GetIndexBuffer(IDirect3DIndexBuffer9** buffer) = 0;
  virtual HRESULT LockVertexBuffer(DWORD flags, void** data) = 0;
  virtual HRESULT UnlockVertexBuffer() = 0;
  virtual HRESULT LockIndexBuffer(DWORD flags, void** data) = 0;
  virtual HRESULT UnlockIndexBuffer() = 0;
  virtual HRESULT LockAttributeBuffer(DWORD flags, DWORD** data) = 0;
  virtual HRESULT UnlockAttributeBuffer() = 0;
  virtual HRESULT CloneMeshFVF(DWORD options, DWORD fvf, IDirect3DDevice9* device, ID3DXMesh** clone) = 0;
  // Compacting and sorting by attribute only; the adjacency and remap
  // outputs are not produced.
  virtual HRESULT OptimizeInplace(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                                  ID3DXBuffer** vertexRemap) = 0;
};
using ID3DXBaseMesh = ID3DXMesh;
using LPD3DXMESH = ID3DXMesh*;

// 16-bit indices only: D3DXMESH_32BIT or more than 65535 vertices fail.
HRESULT D3DXCreateMeshFVF(DWORD numFaces, DWORD numVertices, DWORD options, DWORD fvf, IDirect3DDevice9* device,
                          ID3DXMesh** mesh);
// D3DXWELDEPSILONS_WELDALL: vertices at the same position become one.
HRESULT D3DXWeldVertices(ID3DXMesh* mesh, DWORD flags, const D3DXWELDEPSILONS* epsilons, const DWORD* adjacencyIn,
                         DWORD* adjacencyOut, DWORD* faceRemap, ID3DXBuffer** vertexRemap);
// Area-weighted face normals summed per vertex; the mesh must have normals.
HRESULT D3DXComputeNormals(ID3DXBaseMesh* mesh, const DWORD* adjacency);

struct ID3DXLine : IUnknown {
  virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
  virtual HRESULT Begin() = 0;
  // Screen-space polyline through the points.
  virtual HRESULT Draw(const D3DXVECTOR2* vertices, DWORD count, D3DCOLOR colour) = 0;
  virtual HRESULT End() = 0;
  virtual HRESULT SetWidth(float width) = 0;
  virtual float GetWidth() = 0;
  virtual HRESULT SetAntialias(BOOL antialias) = 0;
  virtual BOOL GetAntialias() = 0;
  virtual HRESULT OnLostDevice() = 0;
  virtual HRESULT OnResetDevice() = 0;
};
using LPD3DXLINE = ID3DXLine*;
HRESULT D3DXCreateLine(IDirect3DDevice9* device, ID3DXLine** line);

struct ID3DXSprite;

struct ID3DXFont : IUnknown {
  virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
  // The height of the text drawn (or measured with DT_CALCRECT), 0 on failure.
  virtual INT DrawTextA(ID3DXSprite* sprite, const char* text, INT count, RECT* rect, DWORD format,
                        D3DCOLOR colour) = 0;
  virtual HRESULT OnLostDevice() = 0;
  virtual HRESULT OnResetDevice() = 0;
};
using LPD3DXFONT = ID3DXFont*;
// height > 0: cell height, < 0: em height, in pixels.
HRESULT D3DXCreateFontA(IDirect3DDevice9* device, INT height, UINT width, UINT weight, UINT mipLevels, BOOL italic,
                        DWORD charSet, DWORD outputPrecision, DWORD quality, DWORD pitchAndFamily,
                        const char* faceName, ID3DXFont** font);

constexpr IID IID_ID3DXMesh = {0x4020E5C2, 0x1403, 0x4929, {0x88, 0x3F, 0xE2, 0xE8, 0x49, 0xFA, 0xC1, 0x95}};
constexpr IID IID_ID3DXLine = {0xD379BA7F, 0x9042, 0x4AC4, {0x9F, 0x5E, 0x58, 0x19, 0x2A, 0x4C, 0x6B, 0xD8}};
constexpr IID IID_ID3DXFont = {0xD79DBB70, 0x5F21, 0x4D36, {0xBB, 0xC2, 0xFF, 0x52, 0x5C, 0x21, 0x3C, 0xDC}};
constexpr IID IID_ID3DXBuffer = {0x8BA5FB08, 0x5195, 0x40E2, {0xAC, 0x58, 0x0D, 0x98, 0x9C, 0x3A, 0x01, 0x02}};
QUORL_DECLARE_IID(ID3DXMesh, IID_ID3DXMesh)
QUORL_DECLARE_IID(ID3DXLine, IID_ID3DXLine)
QUORL_DECLARE_IID(ID3DXFont, IID_ID3DXFont)
QUORL_DECLARE_IID(ID3DXBuffer, IID_ID3DXBuffer)
