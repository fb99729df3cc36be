#pragma once
// Free functions that turn cameras, boards, images and tracked points into
// Direct3D buffers, meshes and textures. None keeps state.
//
// Scene coordinates are the camera model's with y negated: a point (x, y, z)
// of CCamera, MVG::Camera or a board is written as (x, -y, z), so image
// "down" is screen "down".
//
// Buffers live in D3DPOOL_DEFAULT with 16-bit indices and are created only
// when the caller's pointer is still null; a second call refills the buffers
// it is given. A builder that fails leaves what it already created with the
// caller, who releases it.
#include <opencv2/core/types_c.h>

#include "d3d9/d3d9.h"
#include "d3d9/d3dx9.h"
#include "d3d9/d3dx9mesh.h"

class CCamera;
namespace MVG {
struct Camera;
}

namespace D3D {

// Lines: position and colour (16 bytes).
struct LineVertex {
  float x, y, z;
  D3DCOLOR colour;
};
constexpr DWORD kLineFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;

// Textured quads: position, colour, u, v (24 bytes).
struct TexturedVertex {
  float x, y, z;
  D3DCOLOR colour;
  float u, v;
};
constexpr DWORD kTexturedFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// Meshes and patches: position, normal, colour, u, v (36 bytes).
struct MeshVertex {
  float x, y, z;
  float nx, ny, nz;
  D3DCOLOR colour;
  float u, v;
};
constexpr DWORD kMeshFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// A frustum's buffers: the line buffer has room for 6 vertices and the index
// buffer for 18 indices, of which the pyramids of CCamera and MVG::Camera
// write 5 vertices and 8 indices (4 lines); the rest is zero.
constexpr UINT kFrustumLineVertices = 6;
constexpr UINT kFrustumIndices = 18;
constexpr UINT kFrustumDrawnVertices = 5;
constexpr UINT kFrustumDrawnLines = 4;

// Patch indices are 16-bit: 4 vertices per patch leave room for this many.
constexpr int kMaxPatches = 16384;

// The frustum of a calibrated camera: quad vertex k and line vertex k are the
// points at `scale` along the rays of the image corners (0, h), (w, h), (0, 0),
// (w, 0); line vertex 4 is the centre; lines join the centre to each corner.
// labelPosition (may be null) receives a point a third of the scale behind
// the centre.
HRESULT CameraPyramidDrawing(IDirect3DDevice9* device, CCamera* camera, float* uv, IDirect3DVertexBuffer9** lines,
                             IDirect3DVertexBuffer9** quad, IDirect3DIndexBuffer9** indices, float scale,
                             DWORD colour, D3DXVECTOR3* labelPosition);
// The same at a fixed depth of 5, in fixed colours.
HRESULT CameraPyramidDrawing(IDirect3DDevice9* device, MVG::Camera* camera, float* uv, IDirect3DVertexBuffer9** lines,
                             IDirect3DVertexBuffer9** quad, IDirect3DIndexBuffer9** indices);
// The image rectangle 10 units along the central ray, perpendicular to it,
// as 9 lines (edges, rim, central ray); endPoints receives their 18 ends.
HRESULT CameraPyramidDrawingAA(IDirect3DDevice9* device, MVG::Camera* camera, float* uv, D3DXVECTOR3* endPoints,
                               IDirect3DVertexBuffer9** lines, IDirect3DVertexBuffer9** quad,
                               IDirect3DIndexBuffer9** indices, DWORD colour);
// The view and off-centre projection that see the scene as the camera saw it.
HRESULT D3DXMatrixViewAndPerspective(MVG::Camera* camera, D3DXMATRIXA16* view, D3DXMATRIXA16* projection);

// One small image patch and one short line per point whose mask is set,
// into buffers the caller made; only the points that fit the buffers (by
// their sizes) and the 16-bit indices are written. Returns the number of
// patches, or E_FAIL when a lock fails (nothing is left locked).
int Create3DPatchesForPoints(CvPoint2D32f* imagePoints, CvPoint3D32f* points, int count, char* mask,
                             IDirect3DVertexBuffer9* patches, IDirect3DVertexBuffer9* lines,
                             IDirect3DIndexBuffer9* patchIndices, IDirect3DIndexBuffer9* lineIndices, int imageWidth,
                             int imageHeight, int halfWidth, int halfHeight);
// As above, each patch turned to face the camera: it lies in the plane
// through its point whose normal is the point's viewing ray.
HRESULT MakePointPatches(CvPoint2D32f* imagePoints, CvPoint3D32f* points, MVG::Camera* camera, int count, char* mask,
                         IDirect3DVertexBuffer9* patches, IDirect3DVertexBuffer9* lines,
                         IDirect3DIndexBuffer9* patchIndices, IDirect3DIndexBuffer9* lineIndices, int* patchCount,
                         int halfWidth, int halfHeight);
HRESULT MakePointPatches(float* imagePoints, float* points, MVG::Camera* camera, int count, char* mask,
                         IDirect3DVertexBuffer9* patches, IDirect3DVertexBuffer9* lines,
                         IDirect3DIndexBuffer9* patchIndices, IDirect3DIndexBuffer9* lineIndices, int& patchCount,
                         int halfWidth, int halfHeight);

// Three coloured axis lines from -10 to 10.
HRESULT D3DCreateAxis(IDirect3DDevice9* device, IDirect3DVertexBuffer9** vertices, IDirect3DIndexBuffer9** indices);

// An 8-bit 3-channel image as a texture of the same size in a 4-byte format
// (bytes b, g, r, 0). Where the device refuses a dynamic texture, a
// system-memory copy is uploaded into a render-target texture. E_FAIL, with
// *texture null and nothing left allocated, for any other image or format
// or when no texture can be made.
HRESULT D3DXCreateTextureFromImage(IDirect3DDevice9* device, D3DFORMAT format, IplImage* image,
                                   IDirect3DTexture9** texture);
// A surface over a one-channel float depth image sampled on a columns x rows
// grid. The three floats are not used.
HRESULT D3DXCreateDepthMapMesh(IDirect3DDevice9* device, IplImage* depth, int columns, int rows, ID3DXMesh** mesh,
                               DWORD colour, float, float, float);
// The chequered board texture: square sizes rounded to whole texels, one
// square between neighbouring board points. E_FAIL when *texture is already
// set (left unchanged), for a board below 2 x 2 points or a square that
// rounds to no texel.
HRESULT D3DXCreateTextureGridImage(int boardW, int boardH, double squareWidth, double squareHeight,
                                   IDirect3DDevice9* device, D3DFORMAT format, IDirect3DTexture9** texture,
                                   D3DXCOLOR first, D3DXCOLOR second);
// One board in the pose R (3 x 3 row-major), T: a mesh into *mesh (which the
// caller has released), and when both outline pointers are given the four
// corners as a line loop. labelPosition (may be null) lies one square beyond
// the corner of the board's origin. E_FAIL for a board below 2 x 2 points.
HRESULT D3DXCreateCalibPlaneMesh(IDirect3DDevice9* device, double* R, double* T, int boardW, int boardH,
                                 double square, ID3DXMesh** mesh, DWORD colour, D3DXVECTOR3* labelPosition,
                                 IDirect3DVertexBuffer9** outline, IDirect3DIndexBuffer9** outlineIndices);

}  // namespace D3D
