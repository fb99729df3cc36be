#include "d3d/d3dbuilders.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "MVG/camera.h"
#include "MVG/mvg_camera.h"

namespace D3D {
namespace {

// Buffers a caller may hand in again: made only when the pointer is null,
// and refused when smaller than what is about to be written.
HRESULT EnsureVertexBuffer(IDirect3DDevice9* device, IDirect3DVertexBuffer9** buffer, UINT length, DWORD usage,
                           DWORD fvf) {
  if (!buffer) return E_FAIL;
  if (!*buffer) {
    if (!device) return E_FAIL;
    const HRESULT hr = device->CreateVertexBuffer(length, usage, fvf, D3DPOOL_DEFAULT, buffer, nullptr);
    if (FAILED(hr) || !*buffer) return E_FAIL;
  }
  D3DVERTEXBUFFER_DESC desc{};
  if (FAILED((*buffer)->GetDesc(&desc)) || desc.Size < length) return E_FAIL;
  return S_OK;
}

HRESULT EnsureIndexBuffer(IDirect3DDevice9* device, IDirect3DIndexBuffer9** buffer, UINT length) {
  if (!buffer) return E_FAIL;
  if (!*buffer) {
    if (!device) return E_FAIL;
    const HRESULT hr =
        device->CreateIndexBuffer(length, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_DEFAULT, buffer, nullptr);
    if (FAILED(hr) || !*buffer) return E_FAIL;
  }
  D3DINDEXBUFFER_DESC desc{};
  if (FAILED((*buffer)->GetDesc(&desc)) || desc.Size < length) return E_FAIL;
  return S_OK;
}

// Writes `count` records over the start of a buffer (the rest is zeroed up
// to `length` bytes, so refilled buffers hold no stale tail).
template <class Buffer, class T>
HRESULT Write(Buffer* buffer, const T* data, UINT count, UINT length) {
  void* p = nullptr;
  if (FAILED(buffer->Lock(0, length, &p, 0)) || !p) return E_FAIL;
  std::memset(p, 0, length);
  std::memcpy(p, data, sizeof(T) * count);
  buffer->Unlock();
  return S_OK;
}

D3DXVECTOR3 YNegated(double x, double y, double z) {
  return D3DXVECTOR3(static_cast<float>(x), static_cast<float>(-y), static_cast<float>(z));
}

D3DXVECTOR3 Unit(const D3DXVECTOR3& v) {
  D3DXVECTOR3 u;
  D3DXVec3Normalize(&u, &v);
  return u;
}

// Rᵀ·v for a row-major float rotation.
D3DXVECTOR3 RotateBack(const float* R, float x, float y, float z) {
  return D3DXVECTOR3(R[0] * x + R[3] * y + R[6] * z, R[1] * x + R[4] * y + R[7] * z, R[2] * x + R[5] * y + R[8] * z);
}

// The MVG record's centre −Rᵀ·t and the unit viewing ray of a pixel, both in
// the camera model's frame (y not negated).
D3DXVECTOR3 MvgCentre(const MVG::Camera* c) { return -RotateBack(c->R, c->T[0], c->T[1], c->T[2]); }

D3DXVECTOR3 MvgRay(const MVG::Camera* c, float u, float v) {
  const float pixel[2] = {u, v};
  float n[2];
  MVG::NormalizePoint(pixel, n, c);
  const D3DXVECTOR3 onPlane = RotateBack(c->R, n[0] - c->T[0], n[1] - c->T[1], 1 - c->T[2]);
  return Unit(onPlane - MvgCentre(c));
}

D3DXVECTOR3 Flip(const D3DXVECTOR3& v) { return D3DXVECTOR3(v.x, -v.y, v.z); }

constexpr WORD kFrustumLineIndices[8] = {4, 0, 4, 1, 4, 2, 4, 3};

// The three buffers of a frustum from its four corners (scene coordinates)
// and centre.
HRESULT WriteFrustum(IDirect3DDevice9* device, const D3DXVECTOR3* corners, const D3DXVECTOR3& centre,
                     const float* uv, DWORD quadColour, DWORD cornerColour, DWORD centreColour,
                     IDirect3DVertexBuffer9** lines, IDirect3DVertexBuffer9** quad, IDirect3DIndexBuffer9** indices) {
  // The line buffer is read back for bounding boxes: no WRITEONLY.
  if (FAILED(EnsureVertexBuffer(device, quad, 4 * sizeof(TexturedVertex), D3DUSAGE_WRITEONLY, kTexturedFvf)) ||
      FAILED(EnsureVertexBuffer(device, lines, kFrustumLineVertices * sizeof(LineVertex), 0, kLineFvf)) ||
      FAILED(EnsureIndexBuffer(device, indices, kFrustumIndices * sizeof(WORD))))
    return E_FAIL;
  TexturedVertex q[4];
  LineVertex l[kFrustumDrawnVertices];
  for (int k = 0; k < 4; ++k) {
    q[k] = {corners[k].x, corners[k].y, corners[k].z, quadColour, uv ? uv[2 * k] : 0.0f, uv ? uv[2 * k + 1] : 0.0f};
    l[k] = {corners[k].x, corners[k].y, corners[k].z, cornerColour};
  }
  l[4] = {centre.x, centre.y, centre.z, centreColour};
  if (FAILED(Write(*quad, q, 4, sizeof q)) ||
      FAILED(Write(*lines, l, kFrustumDrawnVertices, kFrustumLineVertices * sizeof(LineVertex))) ||
      FAILED(Write(*indices, kFrustumLineIndices, 8, kFrustumIndices * sizeof(WORD))))
    return E_FAIL;
  return S_OK;
}

int BytesPerTexel(D3DFORMAT format) {
  return format == D3DFMT_X8R8G8B8 || format == D3DFMT_A8R8G8B8 ? 4 : 0;
}

// A width x height texture in a 4-byte format, filled row by row through
// fill(row pointer, y). Dynamic where the device allows it; else a
// system-memory texture filled and uploaded into a render target.
template <class Fill>
HRESULT MakeFilledTexture(IDirect3DDevice9* device, D3DFORMAT format, UINT width, UINT height,
                          IDirect3DTexture9** texture, Fill fill) {
  *texture = nullptr;
  if (!device || BytesPerTexel(format) != 4 || width == 0 || height == 0) return E_FAIL;
  IDirect3DTexture9* target = nullptr;
  IDirect3DTexture9* system = nullptr;
  if (FAILED(device->CreateTexture(width, height, 1, D3DUSAGE_DYNAMIC, format, D3DPOOL_DEFAULT, &target, nullptr)) ||
      !target) {
    target = nullptr;
    if (FAILED(device->CreateTexture(width, height, 1, 0, format, D3DPOOL_SYSTEMMEM, &system, nullptr)) || !system) {
      return E_FAIL;
    }
    if (FAILED(device->CreateTexture(width, height, 1, D3DUSAGE_RENDERTARGET, format, D3DPOOL_DEFAULT, &target,
                                     nullptr)) ||
        !target) {
      system->Release();
      return E_FAIL;
    }
  }
  IDirect3DTexture9* written = system ? system : target;
  D3DLOCKED_RECT locked{};
  if (FAILED(written->LockRect(0, &locked, nullptr, D3DLOCK_NO_DIRTY_UPDATE)) || !locked.pBits) {
    if (system) system->Release();
    target->Release();
    return E_FAIL;
  }
  for (UINT y = 0; y < height; ++y) fill(static_cast<unsigned char*>(locked.pBits) + std::size_t(y) * locked.Pitch, y);
  written->UnlockRect(0);
  if (system) {
    system->AddDirtyRect(nullptr);
    target->AddDirtyRect(nullptr);
    const HRESULT hr = device->UpdateTexture(system, target);
    system->Release();
    if (FAILED(hr)) {
      target->Release();
      return E_FAIL;
    }
  }
  *texture = target;
  return S_OK;
}

// The weld, optimise, normals and clone that finish both meshes.
HRESULT FinishMesh(IDirect3DDevice9* device, ID3DXMesh* working, ID3DXMesh** mesh) {
  D3DXWeldVertices(working, D3DXWELDEPSILONS_WELDALL, nullptr, nullptr, nullptr, nullptr, nullptr);
  working->OptimizeInplace(D3DXMESHOPT_COMPACT | D3DXMESHOPT_VERTEXCACHE, nullptr, nullptr, nullptr, nullptr);
  D3DXComputeNormals(working, nullptr);
  ID3DXMesh* clone = nullptr;
  const HRESULT hr = working->CloneMeshFVF(D3DXMESH_SYSTEMMEM, kMeshFvf, device, &clone);
  if (FAILED(hr) || !clone) return E_FAIL;
  *mesh = clone;
  return S_OK;
}

// Locks of the four patch buffers, undone on every way out.
struct PatchLocks {
  MeshVertex* patches = nullptr;
  LineVertex* lines = nullptr;
  WORD* patchIndices = nullptr;
  WORD* lineIndices = nullptr;
  int capacity = 0;
  IDirect3DVertexBuffer9* vb[2]{};
  IDirect3DIndexBuffer9* ib[2]{};
  bool lockedVb[2]{}, lockedIb[2]{};

  bool Lock(IDirect3DVertexBuffer9* p, IDirect3DVertexBuffer9* l, IDirect3DIndexBuffer9* pi,
            IDirect3DIndexBuffer9* li) {
    if (!p || !l || !pi || !li) return false;
    vb[0] = p, vb[1] = l, ib[0] = pi, ib[1] = li;
    D3DVERTEXBUFFER_DESC pd{}, ld{};
    D3DINDEXBUFFER_DESC pid{}, lid{};
    if (FAILED(p->GetDesc(&pd)) || FAILED(l->GetDesc(&ld)) || FAILED(pi->GetDesc(&pid)) || FAILED(li->GetDesc(&lid)))
      return false;
    capacity = std::min({int(pd.Size / (4 * sizeof(MeshVertex))), int(ld.Size / (2 * sizeof(LineVertex))),
                         int(pid.Size / (6 * sizeof(WORD))), int(lid.Size / (2 * sizeof(WORD))), kMaxPatches});
    void* data[4] = {};
    lockedVb[0] = SUCCEEDED(p->Lock(0, 0, &data[0], 0)) && data[0];
    if (!lockedVb[0]) return false;
    lockedVb[1] = SUCCEEDED(l->Lock(0, 0, &data[1], 0)) && data[1];
    if (!lockedVb[1]) return false;
    lockedIb[0] = SUCCEEDED(pi->Lock(0, 0, &data[2], 0)) && data[2];
    if (!lockedIb[0]) return false;
    lockedIb[1] = SUCCEEDED(li->Lock(0, 0, &data[3], 0)) && data[3];
    if (!lockedIb[1]) return false;
    patches = static_cast<MeshVertex*>(data[0]);
    lines = static_cast<LineVertex*>(data[1]);
    patchIndices = static_cast<WORD*>(data[2]);
    lineIndices = static_cast<WORD*>(data[3]);
    return true;
  }
  ~PatchLocks() {
    for (int i = 0; i < 2; ++i) {
      if (lockedVb[i]) vb[i]->Unlock();
      if (lockedIb[i]) ib[i]->Unlock();
    }
  }

  // Patch k's indices and line indices.
  void WriteIndices(int k) const {
    const WORD b = WORD(4 * k);
    const WORD tri[6] = {b, WORD(b + 1), WORD(b + 2), WORD(b + 2), WORD(b + 1), WORD(b + 3)};
    std::memcpy(patchIndices + 6 * k, tri, sizeof tri);
    lineIndices[2 * k] = WORD(2 * k);
    lineIndices[2 * k + 1] = WORD(2 * k + 1);
  }
};

// The four patch corners go (−hw, −hh), (+hw, −hh), (−hw, +hh), (+hw, +hh).
constexpr int kPatchSigns[4][2] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}};

// Both MakePointPatches overloads: image point i at (u[2i], u[2i + 1]), 3-D
// point i at (X[3i], X[3i + 1], X[3i + 2]).
HRESULT FacingPatches(const float* u, const float* X, MVG::Camera* camera, int count, const char* mask,
                      IDirect3DVertexBuffer9* patches, IDirect3DVertexBuffer9* lines,
                      IDirect3DIndexBuffer9* patchIndices, IDirect3DIndexBuffer9* lineIndices, int* patchCount,
                      int halfWidth, int halfHeight) {
  if (patchCount) *patchCount = 0;
  if (!camera) return E_FAIL;
  PatchLocks locks;
  if (!locks.Lock(patches, lines, patchIndices, lineIndices)) return E_FAIL;
  const D3DXVECTOR3 centre = Flip(MvgCentre(camera));
  const float width = camera->width, height = camera->height;
  int k = 0;
  for (int i = 0; i < count && k < locks.capacity; ++i) {
    if (mask && !mask[i]) continue;
    const D3DXVECTOR3 point(X[3 * i], -X[3 * i + 1], X[3 * i + 2]);
    const D3DXVECTOR3 ray = Flip(MvgRay(camera, u[2 * i], u[2 * i + 1]));
    D3DXPLANE plane;
    D3DXPlaneFromPointNormal(&plane, &point, &ray);
    for (int c = 0; c < 4; ++c) {
      const float px = u[2 * i] + float(kPatchSigns[c][0] * halfWidth);
      const float py = u[2 * i + 1] + float(kPatchSigns[c][1] * halfHeight);
      const D3DXVECTOR3 r = Flip(MvgRay(camera, px, py));
      const D3DXVECTOR3 farPoint = centre + r * 500.0f;
      D3DXVECTOR3 corner = point;
      D3DXPlaneIntersectLine(&corner, &plane, &centre, &farPoint);
      locks.patches[4 * k + c] = {corner.x, corner.y, corner.z, -r.x, -r.y, -r.z, 0x00ffffff,
                                  px / (2 * width), 1 - py / height};
    }
    const D3DXVECTOR3 end = point - ray;
    locks.lines[2 * k] = {point.x, point.y, point.z, 0xff00ffff};
    locks.lines[2 * k + 1] = {end.x, end.y, end.z, 0x00ffffff};
    locks.WriteIndices(k);
    ++k;
  }
  if (patchCount) *patchCount = k;
  return S_OK;
}

}  // namespace

HRESULT CameraPyramidDrawing(IDirect3DDevice9* device, CCamera* camera, float* uv, IDirect3DVertexBuffer9** lines,
                             IDirect3DVertexBuffer9** quad, IDirect3DIndexBuffer9** indices, float scale,
                             DWORD colour, D3DXVECTOR3* labelPosition) {
  if (!camera) return E_FAIL;
  const vnl_double_3 c = camera->GetCameraCenter();
  const float w = float(camera->GetWidth()), h = float(camera->GetHeight());
  const float pixels[4][2] = {{0, h}, {w, h}, {0, 0}, {w, 0}};
  D3DXVECTOR3 corners[4];
  for (int k = 0; k < 4; ++k) {
    const vnl_double_3 r = camera->GetRay(pixels[k]);
    corners[k] = YNegated(c[0] + scale * r[0], c[1] + scale * r[1], c[2] + scale * r[2]);
  }
  if (labelPosition) {
    const vnl_double_3 a = camera->GetOpticalAxis();
    const double s = scale / 3.0;
    *labelPosition = YNegated(c[0] - s * a[0], c[1] - s * a[1], c[2] - s * a[2]);
  }
  return WriteFrustum(device, corners, YNegated(c[0], c[1], c[2]), uv, colour, colour, colour, lines, quad, indices);
}

HRESULT CameraPyramidDrawing(IDirect3DDevice9* device, MVG::Camera* camera, float* uv, IDirect3DVertexBuffer9** lines,
                             IDirect3DVertexBuffer9** quad, IDirect3DIndexBuffer9** indices) {
  if (!camera) return E_FAIL;
  const D3DXVECTOR3 c = MvgCentre(camera);
  const float w = float(int(camera->width)), h = float(int(camera->height));
  const float pixels[4][2] = {{0, h}, {w, h}, {0, 0}, {w, 0}};
  D3DXVECTOR3 corners[4];
  for (int k = 0; k < 4; ++k) corners[k] = Flip(c + MvgRay(camera, pixels[k][0], pixels[k][1]) * 5.0f);
  return WriteFrustum(device, corners, Flip(c), uv, 0xffffffff, 0xffffff00, 0xffff00ff, lines, quad, indices);
}

HRESULT CameraPyramidDrawingAA(IDirect3DDevice9* device, MVG::Camera* camera, float* uv, D3DXVECTOR3* endPoints,
                               IDirect3DVertexBuffer9** lines, IDirect3DVertexBuffer9** quad,
                               IDirect3DIndexBuffer9** indices, DWORD colour) {
  if (!camera) return E_FAIL;
  const D3DXVECTOR3 c = Flip(MvgCentre(camera));
  const D3DXVECTOR3 axis = Flip(MvgRay(camera, camera->K[2], camera->K[5]));
  const D3DXVECTOR3 q = c + axis * 10.0f;
  D3DXPLANE plane;
  D3DXPlaneFromPointNormal(&plane, &q, &axis);
  const float W = camera->width, H = camera->height;
  const float pixels[4][2] = {{0, 0}, {0, H}, {W, H}, {W, 0}};
  D3DXVECTOR3 corners[4];
  for (int k = 0; k < 4; ++k) {
    const D3DXVECTOR3 farPoint = c + Flip(MvgRay(camera, pixels[k][0], pixels[k][1])) * 500.0f;
    corners[k] = q;
    D3DXPlaneIntersectLine(&corners[k], &plane, &c, &farPoint);
  }
  if (FAILED(EnsureVertexBuffer(device, quad, 4 * sizeof(TexturedVertex), D3DUSAGE_WRITEONLY, kTexturedFvf)) ||
      FAILED(EnsureVertexBuffer(device, lines, kFrustumLineVertices * sizeof(LineVertex), 0, kLineFvf)) ||
      FAILED(EnsureIndexBuffer(device, indices, kFrustumIndices * sizeof(WORD))))
    return E_FAIL;
  TexturedVertex qv[4];
  LineVertex lv[6];
  for (int k = 0; k < 4; ++k) {
    qv[k] = {corners[k].x, corners[k].y, corners[k].z, colour, uv ? uv[2 * k] : 0.0f, uv ? uv[2 * k + 1] : 0.0f};
    lv[k] = {corners[k].x, corners[k].y, corners[k].z, colour};
  }
  lv[4] = {c.x, c.y, c.z, 0xffff00ff};
  lv[5] = {q.x, q.y, q.z, 0xffff00ff};
  const WORD idx[18] = {4, 0, 4, 1, 4, 2, 4, 3, 0, 1, 1, 2, 2, 3, 3, 0, 4, 5};
  if (endPoints) {
    for (int k = 0; k < 4; ++k) {
      endPoints[2 * k] = c;
      endPoints[2 * k + 1] = corners[k];
      endPoints[8 + 2 * k] = corners[k];
      endPoints[8 + 2 * k + 1] = corners[(k + 1) % 4];
    }
    endPoints[16] = c;
    endPoints[17] = q;
  }
  if (FAILED(Write(*quad, qv, 4, sizeof qv)) || FAILED(Write(*lines, lv, 6, sizeof lv)) ||
      FAILED(Write(*indices, idx, 18, sizeof idx)))
    return E_FAIL;
  return S_OK;
}

HRESULT D3DXMatrixViewAndPerspective(MVG::Camera* camera, D3DXMATRIXA16* view, D3DXMATRIXA16* projection) {
  if (!camera || !view || !projection) return E_FAIL;
  const float fx = camera->K[0], fy = camera->K[4], cx = camera->K[2], cy = camera->K[5];
  const float W = camera->width, H = camera->height;
  const float n = 0.001f;
  D3DXMatrixPerspectiveOffCenterLH(projection, -n * cx / fx, n * (W - 1 - cx) / fx, -n * (H - 1 - cy) / fy,
                                   n * cy / fy, n, 1000.0f);
  const float* t = camera->T;
  const D3DXVECTOR3 c = MvgCentre(camera);
  const D3DXVECTOR3 at = RotateBack(camera->R, -t[0], -t[1], 1 - t[2]);
  const D3DXVECTOR3 down = RotateBack(camera->R, -t[0], 1 - t[1], -t[2]);
  const D3DXVECTOR3 eye = Flip(c), look = Flip(at), up = Flip(c - down);
  D3DXMatrixLookAtLH(view, &eye, &look, &up);
  return S_OK;
}

int Create3DPatchesForPoints(CvPoint2D32f* imagePoints, CvPoint3D32f* points, int count, char* mask,
                             IDirect3DVertexBuffer9* patches, IDirect3DVertexBuffer9* lines,
                             IDirect3DIndexBuffer9* patchIndices, IDirect3DIndexBuffer9* lineIndices, int imageWidth,
                             int imageHeight, int halfWidth, int halfHeight) {
  PatchLocks locks;
  if (!locks.Lock(patches, lines, patchIndices, lineIndices)) return E_FAIL;
  int k = 0;
  for (int i = 0; i < count && k < locks.capacity; ++i) {
    if (mask && !mask[i]) continue;
    const CvPoint3D32f p = points[i];
    const CvPoint2D32f q = imagePoints[i];
    locks.lines[2 * k] = {p.x, -p.y, p.z, 0xff00ffff};
    locks.lines[2 * k + 1] = {p.x, -p.y, p.z + 1, 0x00ffffff};
    for (int c = 0; c < 4; ++c) {
      const float du = float(kPatchSigns[c][0] * halfWidth), dv = float(kPatchSigns[c][1] * halfHeight);
      locks.patches[4 * k + c] = {p.x + 0.1f * du, -p.y + 0.1f * dv, p.z, 0, 0, -1, 0x00ffffff,
                                  (q.x + du) / float(imageWidth), 1 - (q.y + dv) / float(imageHeight)};
    }
    locks.WriteIndices(k);
    ++k;
  }
  return k;
}

HRESULT MakePointPatches(CvPoint2D32f* imagePoints, CvPoint3D32f* points, MVG::Camera* camera, int count, char* mask,
                         IDirect3DVertexBuffer9* patches, IDirect3DVertexBuffer9* lines,
                         IDirect3DIndexBuffer9* patchIndices, IDirect3DIndexBuffer9* lineIndices, int* patchCount,
                         int halfWidth, int halfHeight) {
  static_assert(sizeof(CvPoint2D32f) == 2 * sizeof(float) && sizeof(CvPoint3D32f) == 3 * sizeof(float));
  std::vector<float> u(std::size_t(std::max(count, 0)) * 2), X(std::size_t(std::max(count, 0)) * 3);
  for (int i = 0; i < count; ++i) {
    u[2 * i] = imagePoints[i].x, u[2 * i + 1] = imagePoints[i].y;
    X[3 * i] = points[i].x, X[3 * i + 1] = points[i].y, X[3 * i + 2] = points[i].z;
  }
  return FacingPatches(u.data(), X.data(), camera, count, mask, patches, lines, patchIndices, lineIndices, patchCount,
                       halfWidth, halfHeight);
}

HRESULT MakePointPatches(float* imagePoints, float* points, MVG::Camera* camera, int count, char* mask,
                         IDirect3DVertexBuffer9* patches, IDirect3DVertexBuffer9* lines,
                         IDirect3DIndexBuffer9* patchIndices, IDirect3DIndexBuffer9* lineIndices, int& patchCount,
                         int halfWidth, int halfHeight) {
  return FacingPatches(imagePoints, points, camera, count, mask, patches, lines, patchIndices, lineIndices,
                       &patchCount, halfWidth, halfHeight);
}

HRESULT D3DCreateAxis(IDirect3DDevice9* device, IDirect3DVertexBuffer9** vertices, IDirect3DIndexBuffer9** indices) {
  const LineVertex v[6] = {{-10, 0, 0, 0xff0000ff}, {10, 0, 0, 0xff0000ff}, {0, -10, 0, 0xff00ff00},
                           {0, 10, 0, 0xff00ff00},  {0, 0, -10, 0xffff0000}, {0, 0, 10, 0xffff0000}};
  const WORD idx[6] = {0, 1, 2, 3, 4, 5};
  if (FAILED(EnsureVertexBuffer(device, vertices, sizeof v, D3DUSAGE_WRITEONLY, kLineFvf)) ||
      FAILED(EnsureIndexBuffer(device, indices, sizeof idx)) || FAILED(Write(*vertices, v, 6, sizeof v)) ||
      FAILED(Write(*indices, idx, 6, sizeof idx)))
    return E_FAIL;
  return S_OK;
}

HRESULT D3DXCreateTextureFromImage(IDirect3DDevice9* device, D3DFORMAT format, IplImage* image,
                                   IDirect3DTexture9** texture) {
  if (!texture) return E_FAIL;
  *texture = nullptr;
  if (!image || !image->imageData || image->depth != IPL_DEPTH_8U || image->nChannels != 3 || image->width <= 0 ||
      image->height <= 0)
    return E_FAIL;
  const int width = image->width;
  return MakeFilledTexture(device, format, UINT(width), UINT(image->height), texture,
                           [&](unsigned char* row, UINT y) {
                             const auto* src = reinterpret_cast<const unsigned char*>(image->imageData) +
                                               std::size_t(y) * image->widthStep;
                             for (int x = 0; x < width; ++x) {
                               row[4 * x] = src[3 * x];
                               row[4 * x + 1] = src[3 * x + 1];
                               row[4 * x + 2] = src[3 * x + 2];
                               row[4 * x + 3] = 0;
                             }
                           });
}

HRESULT D3DXCreateTextureGridImage(int boardW, int boardH, double squareWidth, double squareHeight,
                                   IDirect3DDevice9* device, D3DFORMAT format, IDirect3DTexture9** texture,
                                   D3DXCOLOR first, D3DXCOLOR second) {
  if (!texture || *texture) return E_FAIL;
  if (boardW < 2 || boardH < 2 || !std::isfinite(squareWidth) || !std::isfinite(squareHeight)) return E_FAIL;
  const long sw = std::lround(squareWidth), sh = std::lround(squareHeight);
  if (sw <= 0 || sh <= 0 || sw * (boardW - 1) > 65536 || sh * (boardH - 1) > 65536) return E_FAIL;
  // D3DXCOLOR components here are 0..255: each goes out as one byte.
  auto bytes = [](const D3DXCOLOR& c) {
    return std::array<unsigned char, 4>{static_cast<unsigned char>(int(c.b)), static_cast<unsigned char>(int(c.g)),
                                        static_cast<unsigned char>(int(c.r)), static_cast<unsigned char>(int(c.a))};
  };
  const auto a = bytes(first), b = bytes(second);
  const UINT width = UINT(sw * (boardW - 1));
  return MakeFilledTexture(device, format, width, UINT(sh * (boardH - 1)), texture, [&](unsigned char* row, UINT y) {
    const long squareRow = long(y) / sh;
    for (UINT x = 0; x < width; ++x) {
      const auto& c = (squareRow + long(x) / sw) % 2 == 0 ? a : b;
      std::memcpy(row + 4 * x, c.data(), 4);
    }
  });
}

HRESULT D3DXCreateCalibPlaneMesh(IDirect3DDevice9* device, double* R, double* T, int boardW, int boardH,
                                 double square, ID3DXMesh** mesh, DWORD colour, D3DXVECTOR3* labelPosition,
                                 IDirect3DVertexBuffer9** outline, IDirect3DIndexBuffer9** outlineIndices) {
  if (!R || !T || !mesh || boardW < 2 || boardH < 2) return E_FAIL;
  const long long points = (long long)boardW * boardH;
  if (points > 65535) return E_FAIL;
  std::vector<D3DXVECTOR3> world(static_cast<std::size_t>(points));
  for (int r = 0; r < boardH; ++r)
    for (int j = 0; j < boardW; ++j) {
      const double p[3] = {j * square, (boardH - 1 - r) * square, 0};
      double q[3];
      for (int i = 0; i < 3; ++i) q[i] = R[3 * i] * p[0] + R[3 * i + 1] * p[1] + R[3 * i + 2] * p[2] + T[i];
      world[std::size_t(r) * boardW + j] = YNegated(q[0], q[1], q[2]);
    }
  const DWORD faces = DWORD((2 * boardW - 2) * (boardH - 1));
  ID3DXMesh* working = nullptr;
  if (FAILED(D3DXCreateMeshFVF(faces, DWORD(points), D3DXMESH_SYSTEMMEM, kMeshFvf, device, &working)) || !working)
    return E_FAIL;
  MeshVertex* v = nullptr;
  WORD* idx = nullptr;
  if (FAILED(working->LockVertexBuffer(0, reinterpret_cast<void**>(&v))) || !v) {
    working->Release();
    return E_FAIL;
  }
  for (int r = 0; r < boardH; ++r)
    for (int j = 0; j < boardW; ++j) {
      const D3DXVECTOR3& p = world[std::size_t(r) * boardW + j];
      v[r * boardW + j] = {p.x, p.y, p.z, 0, 0, 0, colour, float(j) / float(boardW - 1), float(r) / float(boardH - 1)};
    }
  working->UnlockVertexBuffer();
  if (FAILED(working->LockIndexBuffer(0, reinterpret_cast<void**>(&idx))) || !idx) {
    working->Release();
    return E_FAIL;
  }
  for (int r = 0; r < boardH - 1; ++r)
    for (int j = 0; j < boardW - 1; ++j) {
      const int w = r * boardW + j;
      const WORD cell[6] = {WORD(w),     WORD(w + boardW), WORD(w + 1),
                            WORD(w + 1), WORD(w + boardW), WORD(w + boardW + 1)};
      std::memcpy(idx + 6 * (r * (boardW - 1) + j), cell, sizeof cell);
    }
  working->UnlockIndexBuffer();
  HRESULT hr = FinishMesh(device, working, mesh);
  if (SUCCEEDED(hr) && outline && outlineIndices) {
    const int corner[4] = {0, boardW - 1, boardW * (boardH - 1), boardW * boardH - 1};
    LineVertex lv[4];
    for (int k = 0; k < 4; ++k) lv[k] = {world[corner[k]].x, world[corner[k]].y, world[corner[k]].z, colour};
    const WORD loop[8] = {0, 1, 1, 3, 3, 2, 2, 0};
    // Read back for the plane's bounding box: no WRITEONLY.
    if (FAILED(EnsureVertexBuffer(device, outline, sizeof lv, 0, kLineFvf)) ||
        FAILED(EnsureIndexBuffer(device, outlineIndices, sizeof loop)) || FAILED(Write(*outline, lv, 4, sizeof lv)) ||
        FAILED(Write(*outlineIndices, loop, 8, sizeof loop)))
      hr = E_FAIL;
  }
  if (SUCCEEDED(hr) && labelPosition) {
    const D3DXVECTOR3 from = world[std::size_t(boardW - 1)], to = world[std::size_t(boardW) * (boardH - 1)];
    *labelPosition = to + Unit(to - from) * float(square);
  }
  working->Release();
  return hr;
}

HRESULT D3DXCreateDepthMapMesh(IDirect3DDevice9* device, IplImage* depth, int columns, int rows, ID3DXMesh** mesh,
                               DWORD colour, float, float, float) {
  if (!mesh || !depth || !depth->imageData || depth->depth != IPL_DEPTH_32F || depth->nChannels != 1) return E_FAIL;
  if (columns < 2 || rows < 2 || (long long)columns * rows > 65535) return E_FAIL;
  const int width = depth->width, height = depth->height;
  const int stepX = width / columns, stepY = height / rows;
  ID3DXMesh* working = nullptr;
  const DWORD faces = DWORD((2 * columns - 2) * (rows - 1));
  if (FAILED(D3DXCreateMeshFVF(faces, DWORD(columns * rows), D3DXMESH_SYSTEMMEM, kMeshFvf, device, &working)) ||
      !working)
    return E_FAIL;
  MeshVertex* v = nullptr;
  WORD* idx = nullptr;
  if (FAILED(working->LockVertexBuffer(0, reinterpret_cast<void**>(&v))) || !v) {
    working->Release();
    return E_FAIL;
  }
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < columns; ++j) {
      const int x = j * stepX, y = i * stepY;
      const float z =
          reinterpret_cast<const float*>(depth->imageData + std::size_t(y) * depth->widthStep)[x];
      v[i * columns + j] = {float(x), float(y), z, 0, 0, -1, colour, float(x) / float(width), float(y) / float(height)};
    }
  working->UnlockVertexBuffer();
  if (FAILED(working->LockIndexBuffer(0, reinterpret_cast<void**>(&idx))) || !idx) {
    working->Release();
    return E_FAIL;
  }
  for (int i = 0; i < rows - 1; ++i)
    for (int j = 0; j < columns - 1; ++j) {
      const int m = i * columns + j, o = m + columns;
      const WORD cell[6] = {WORD(m), WORD(m + 1), WORD(o), WORD(m + 1), WORD(o), WORD(o + 1)};
      std::memcpy(idx + 6 * (i * (columns - 1) + j), cell, sizeof cell);
    }
  working->UnlockIndexBuffer();
  const HRESULT hr = FinishMesh(device, working, mesh);
  working->Release();
  return hr;
}

}  // namespace D3D
