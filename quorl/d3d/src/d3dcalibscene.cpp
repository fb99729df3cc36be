#include "d3d/d3dcalibscene.h"

#include <opencv2/imgproc/imgproc_c.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

#include "d3d/d3dbuilders.h"

namespace D3D {

const D3DCOLOR LabelColorTable[kLabelColorCount] = {0xff0000ff, 0xff00ff00, 0xffff0000, 0xff00ffff,
                                                    0xffff00ff, 0xffffff00, 0xff00ffff, 0xffffff00};

// Faces: 0 y = min, 1 y = max, 2 x = min, 3 x = max, 4 z = min, 5 z = max.
const int BoxFacesForCorner[8][3] = {{1, 3, 5}, {0, 3, 5}, {0, 2, 5}, {1, 2, 5},
                                     {1, 3, 4}, {0, 3, 4}, {0, 2, 4}, {1, 2, 4}};
const int TickEdgeTable[8][3] = {{3, 3, 3}, {0, 1, 0}, {0, 0, 1}, {3, 0, 2},
                                 {2, 2, 3}, {1, 0, 0}, {1, 1, 1}, {2, 1, 2}};

namespace {

constexpr int kBoxEdges[12][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6},
                                  {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};
// The box edges parallel to x, y and z, as corner pairs.
constexpr int kAxisEdges[3][4][2] = {{{0, 3}, {4, 7}, {5, 6}, {1, 2}},
                                     {{0, 1}, {4, 5}, {7, 6}, {3, 2}},
                                     {{0, 4}, {3, 7}, {2, 6}, {1, 5}}};
// Tick labels move off the box by this sign per axis and edge.
constexpr float kTickSign[3][4] = {{-1, 1, 1, -1}, {-1, -1, 1, 1}, {-1, 1, 1, -1}};

template <class T>
void SafeRelease(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

template <class T>
T* AddRef(T* p) {
  if (p) p->AddRef();
  return p;
}

// Holds a reference to `from`'s object in `to`, releasing what `to` held.
template <class T>
void Share(T*& to, T* from) {
  AddRef(from);
  SafeRelease(to);
  to = from;
}

D3DXVECTOR3 Project(CModelViewerCamera* camera, const D3DXVECTOR3& p) {
  const D3DVIEWPORT9 viewport = camera->GetViewPort();
  D3DXVECTOR3 s;
  D3DXVec3Project(&s, &p, &viewport, camera->GetProjMatrix(), camera->GetViewMatrix(), camera->GetWorldMatrix());
  return s;
}

// The rectangle of a text centred on a screen point, measured first.
RECT CentredRect(ID3DXFont* font, float screenX, float screenY, const char* text) {
  RECT measured{0, 0, 0, 0};
  font->DrawTextA(nullptr, text, -1, &measured, DT_CALCRECT, 0xff000000);
  const int w = measured.right - measured.left, h = measured.bottom - measured.top;
  const int x = int(screenX), y = int(screenY);
  return RECT{x - w / 2, y - h / 2, x + w / 2, y + h / 2};
}

void DrawInRect(ID3DXFont* font, RECT r, const char* text) {
  font->DrawTextA(nullptr, text, -1, &r, DT_CENTER | DT_VCENTER, 0xff000000);
}

// Text centred on a projected point.
void DrawCentred(ID3DXFont* font, const D3DXVECTOR3& screen, const char* text) {
  DrawInRect(font, CentredRect(font, screen.x, screen.y, text), text);
}

bool EqualRects(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// Whether two rectangles keep at least gapX apart side by side or gapY
// apart one above the other.
bool Apart(const RECT& a, const RECT& b, int gapX, int gapY) {
  return a.left >= b.right + gapX || b.left >= a.right + gapX || a.top >= b.bottom + gapY ||
         b.top >= a.bottom + gapY;
}

}  // namespace

bool TickLabelsApart(const RECT& a, const RECT& b) {
  // A label's height between them either way: side by side that is more
  // than two word spaces, one above the other a blank line.
  const int height = std::max(a.bottom - a.top, b.bottom - b.top);
  return Apart(a, b, height, height);
}

RECT PlaceTickLabel(const RECT& centred, int axis, float pushX, float pushY, const std::vector<PlacedTick>& placed) {
  // A label stays where it is unless it comes near a label of another axis
  // or one that moved; where it moves to, it keeps apart from every label,
  // its own axis's too. (Labels of one axis that meet where they stand show
  // an axis seen end-on; moving them all would not help.)
  auto clearAt = [&](const RECT& r, bool moving) {
    for (const PlacedTick& p : placed)
      if ((moving || p.axis != axis || p.moved) && !TickLabelsApart(r, p.rect)) return false;
    return true;
  };
  if (clearAt(centred, false)) return centred;
  float length = std::sqrt(pushX * pushX + pushY * pushY);
  if (length > 1e-6f) pushX /= length, pushY /= length;
  else pushX = 0, pushY = 1;  // pushed straight at the eye: downwards
  const int w = centred.right - centred.left, h = centred.bottom - centred.top;
  const int limit = 3 * std::max(w, h);
  // The push direction first, then turned by 30, 60, ... degrees, each way.
  constexpr float kTurns[] = {0.0f, 30.0f, -30.0f, 60.0f, -60.0f, 90.0f, -90.0f, 120.0f, -120.0f};
  D3DXVECTOR2 directions[std::size(kTurns)];
  for (size_t i = 0; i < std::size(kTurns); ++i) {
    const float t = kTurns[i] * float(D3DX_PI) / 180.0f;
    directions[i] = D3DXVECTOR2(pushX * std::cos(t) - pushY * std::sin(t), pushX * std::sin(t) + pushY * std::cos(t));
  }
  for (int step = 1; step <= limit; ++step)
    for (const D3DXVECTOR2& d : directions) {
      const int ox = int(std::lround(d.x * float(step))), oy = int(std::lround(d.y * float(step)));
      const RECT r{centred.left + ox, centred.top + oy, centred.right + ox, centred.bottom + oy};
      if (clearAt(r, true)) return r;
    }
  return centred;
}

namespace {

// Stage 0's colour operation for one draw, put back afterwards: the parts
// must not leak it into each other's draws.
class StageColourOp {
 public:
  StageColourOp(IDirect3DDevice9* device, DWORD op) : device_(device) {
    if (FAILED(device_->GetTextureStageState(0, D3DTSS_COLOROP, &saved_))) saved_ = D3DTOP_MODULATE;
    device_->SetTextureStageState(0, D3DTSS_COLOROP, op);
  }
  ~StageColourOp() { device_->SetTextureStageState(0, D3DTSS_COLOROP, saved_); }

 private:
  IDirect3DDevice9* device_;
  DWORD saved_ = D3DTOP_MODULATE;
};

// A running min/max over the parts that were built.
struct RunningBox {
  bool any = false;
  D3DXVECTOR3 min, max;
  void Take(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    if (!any) {
      min = a, max = b, any = true;
      return;
    }
    D3DXVec3Minimize(&min, &min, &a);
    D3DXVec3Maximize(&max, &max, &b);
  }
  // Grown by 10% of its extent on each side; the zero box when empty.
  void Grown(D3DXVECTOR3* lo, D3DXVECTOR3* hi) const {
    if (!any) {
      *lo = *hi = D3DXVECTOR3(0, 0, 0);
      return;
    }
    const D3DXVECTOR3 w = (max - min) * 0.1f;
    *lo = min - w;
    *hi = max + w;
  }
};

float LargestHalfExtent(const D3DXVECTOR3& min, const D3DXVECTOR3& max) {
  float r = -1e9f;
  r = std::max(r, (max.x - min.x) * 0.5f);
  r = std::max(r, (max.y - min.y) * 0.5f);
  r = std::max(r, (max.z - min.z) * 0.5f);
  return r;
}

}  // namespace

// ---------------------------------------------------------------- plane

CD3DCalibPlane::CD3DCalibPlane() { std::snprintf(m_szLabel, sizeof m_szLabel, "%s", "0"); }

CD3DCalibPlane::CD3DCalibPlane(IDirect3DDevice9* device, double* R, double* T, int boardW, int boardH, double square,
                               DWORD colour) {
  m_szLabel[0] = '\0';
  CreatePlane(device, R, T, boardW, boardH, square, colour);
}

CD3DCalibPlane::~CD3DCalibPlane() { Release(); }

CD3DCalibPlane::CD3DCalibPlane(const CD3DCalibPlane& other)
    : m_vLabelPosition(other.m_vLabelPosition),
      m_Color(other.m_Color),
      m_pOutlineVB(AddRef(other.m_pOutlineVB)),
      m_pOutlineIB(AddRef(other.m_pOutlineIB)),
      m_pMesh(AddRef(other.m_pMesh)) {
  std::memcpy(m_szLabel, other.m_szLabel, sizeof m_szLabel);
}

CD3DCalibPlane& CD3DCalibPlane::operator=(const CD3DCalibPlane& other) {
  std::memmove(m_szLabel, other.m_szLabel, sizeof m_szLabel);
  m_vLabelPosition = other.m_vLabelPosition;
  m_Color = other.m_Color;
  Share(m_pOutlineVB, other.m_pOutlineVB);
  Share(m_pOutlineIB, other.m_pOutlineIB);
  Share(m_pMesh, other.m_pMesh);
  return *this;
}

void CD3DCalibPlane::Release() {
  SafeRelease(m_pOutlineVB);
  SafeRelease(m_pOutlineIB);
  SafeRelease(m_pMesh);
}

HRESULT CD3DCalibPlane::CreatePlane(IDirect3DDevice9* device, double* R, double* T, int boardW, int boardH,
                                    double square, DWORD colour) {
  Release();
  m_Color = D3DXCOLOR(colour);
  const HRESULT hr = D3DXCreateCalibPlaneMesh(device, R, T, boardW, boardH, square, &m_pMesh, colour,
                                              &m_vLabelPosition, &m_pOutlineVB, &m_pOutlineIB);
  if (FAILED(hr) || !IsComplete()) {
    Release();
    return E_FAIL;
  }
  return S_OK;
}

void CD3DCalibPlane::DrawPlane(IDirect3DDevice9* device, CD3DFont*, D3DXMATRIX*) {
  if (!device || !IsComplete()) return;
  {
    // The board shows its texture as it is, whatever colour the vertices carry.
    StageColourOp op(device, D3DTOP_SELECTARG1);
    m_pMesh->DrawSubset(0);
  }
  device->SetTexture(0, nullptr);
  device->SetStreamSource(0, m_pOutlineVB, 0, sizeof(LineVertex));
  device->SetFVF(kLineFvf);
  device->SetIndices(m_pOutlineIB);
  device->DrawIndexedPrimitive(D3DPT_LINELIST, 0, 0, 4, 0, 4);
}

void CD3DCalibPlane::GetBoundingBox(D3DXVECTOR3* min, D3DXVECTOR3* max) {
  *min = *max = D3DXVECTOR3(0, 0, 0);
  void* p = nullptr;
  if (!m_pMesh || !m_pOutlineVB || FAILED(m_pOutlineVB->Lock(0, 0, &p, D3DLOCK_READONLY)) || !p) return;
  const auto* v = static_cast<const LineVertex*>(p);
  *min = *max = D3DXVECTOR3(v[0].x, v[0].y, v[0].z);
  for (int k = 1; k < 4; ++k) {
    const D3DXVECTOR3 q(v[k].x, v[k].y, v[k].z);
    D3DXVec3Minimize(min, min, &q);
    D3DXVec3Maximize(max, max, &q);
  }
  m_pOutlineVB->Unlock();
}

void CD3DCalibPlane::SetLabel(const char* label) {
  std::snprintf(m_szLabel, sizeof m_szLabel, "%s", label ? label : "");
}

DWORD CD3DCalibPlane::GetLabelColor() const {
  auto byte = [](float c) -> DWORD {
    if (c >= 1.0f) return 255;
    if (c <= 0.0f) return 0;
    return DWORD(std::lround(c * 255.0f));
  };
  return (byte(m_Color.a) << 24) | (byte(m_Color.r) << 16) | (byte(m_Color.g) << 8) | byte(m_Color.b);
}

// ---------------------------------------------------------------- camera

CD3DCalibCamera::CD3DCalibCamera() { m_szLabel[0] = '\0'; }

CD3DCalibCamera::CD3DCalibCamera(IDirect3DDevice9* device, D3DFORMAT format, CCamera* camera, IplImage* image,
                                 float scale, DWORD colour) {
  m_szLabel[0] = '\0';
  CreateCamera(device, camera, scale, colour);
  if (image) CreateTexture(device, format, image, 0.25f);
  m_LabelColor = colour;
}

CD3DCalibCamera::~CD3DCalibCamera() {
  SafeRelease(m_pTexture);
  ReleaseFrustum();
}

CD3DCalibCamera::CD3DCalibCamera(const CD3DCalibCamera& other)
    : m_nTextureWidth(other.m_nTextureWidth),
      m_nTextureHeight(other.m_nTextureHeight),
      m_vLabelPosition(other.m_vLabelPosition),
      m_LabelColor(other.m_LabelColor),
      m_pLinesVB(AddRef(other.m_pLinesVB)),
      m_pQuadVB(AddRef(other.m_pQuadVB)),
      m_pLinesIB(AddRef(other.m_pLinesIB)),
      m_pTexture(AddRef(other.m_pTexture)) {
  std::memcpy(m_szLabel, other.m_szLabel, sizeof m_szLabel);
}

CD3DCalibCamera& CD3DCalibCamera::operator=(const CD3DCalibCamera& other) {
  m_nTextureWidth = other.m_nTextureWidth;
  m_nTextureHeight = other.m_nTextureHeight;
  std::memmove(m_szLabel, other.m_szLabel, sizeof m_szLabel);
  m_vLabelPosition = other.m_vLabelPosition;
  m_LabelColor = other.m_LabelColor;
  Share(m_pLinesVB, other.m_pLinesVB);
  Share(m_pQuadVB, other.m_pQuadVB);
  Share(m_pLinesIB, other.m_pLinesIB);
  Share(m_pTexture, other.m_pTexture);
  return *this;
}

void CD3DCalibCamera::ReleaseFrustum() {
  SafeRelease(m_pLinesIB);
  SafeRelease(m_pLinesVB);
  SafeRelease(m_pQuadVB);
}

HRESULT CD3DCalibCamera::CreateCamera(IDirect3DDevice9* device, CCamera* camera, float scale, DWORD colour) {
  ReleaseFrustum();
  // The corners come as (0, h), (w, h), (0, 0), (w, 0): uv = (x / w, y / h)
  // keeps the image upright and unmirrored.
  float uv[8] = {0, 1, 1, 1, 0, 0, 1, 0};
  D3DXVECTOR3 label;
  const HRESULT hr =
      CameraPyramidDrawing(device, camera, uv, &m_pLinesVB, &m_pQuadVB, &m_pLinesIB, scale, colour, &label);
  if (FAILED(hr) || !IsComplete()) {
    ReleaseFrustum();
    return E_FAIL;
  }
  m_vLabelPosition = label;
  return S_OK;
}

HRESULT CD3DCalibCamera::CreateTexture(IDirect3DDevice9* device, D3DFORMAT format, IplImage* image, float) {
  // cvResize throws on other images: check first.
  if (!image || !image->imageData || image->depth != IPL_DEPTH_8U || image->nChannels != 3 || image->width <= 0 ||
      image->height <= 0)
    return E_FAIL;
  IplImage* small = cvCreateImage(cvSize(128, 128), IPL_DEPTH_8U, 3);
  cvResize(image, small, CV_INTER_LINEAR);
  IDirect3DTexture9* texture = nullptr;
  const HRESULT hr = D3DXCreateTextureFromImage(device, format, small, &texture);
  cvReleaseImage(&small);
  if (FAILED(hr) || !texture) return E_FAIL;
  SafeRelease(m_pTexture);
  m_pTexture = texture;
  m_nTextureWidth = m_nTextureHeight = 128;
  return S_OK;
}

void CD3DCalibCamera::SetTexture(IDirect3DTexture9* texture) {
  if (texture == m_pTexture) return;
  Share(m_pTexture, texture);
}

HRESULT CD3DCalibCamera::SetTextureCoordinates(float* uv) {
  void* p = nullptr;
  if (!uv || !m_pQuadVB || FAILED(m_pQuadVB->Lock(0, 0, &p, 0)) || !p) return E_FAIL;
  auto* v = static_cast<TexturedVertex*>(p);
  for (int k = 0; k < 4; ++k) {
    v[k].u = uv[2 * k];
    v[k].v = uv[2 * k + 1];
  }
  m_pQuadVB->Unlock();
  return S_OK;
}

void CD3DCalibCamera::DrawCamera(IDirect3DDevice9* device) {
  if (!device || !IsComplete()) return;
  {
    StageColourOp op(device, D3DTOP_SELECTARG1);
    if (m_pTexture) device->SetTexture(0, m_pTexture);
    device->SetStreamSource(0, m_pQuadVB, 0, sizeof(TexturedVertex));
    device->SetFVF(kTexturedFvf);
    device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    // The lines carry no texture coordinates: draw them untextured.
    if (m_pTexture) device->SetTexture(0, nullptr);
  }
  device->SetStreamSource(0, m_pLinesVB, 0, sizeof(LineVertex));
  device->SetFVF(kLineFvf);
  device->SetIndices(m_pLinesIB);
  // Only the four centre-to-corner lines and their five vertices are written.
  device->DrawIndexedPrimitive(D3DPT_LINELIST, 0, 0, kFrustumDrawnVertices, 0, kFrustumDrawnLines);
}

void CD3DCalibCamera::GetBoundingBox(D3DXVECTOR3* min, D3DXVECTOR3* max) {
  *min = *max = D3DXVECTOR3(0, 0, 0);
  void* p = nullptr;
  if (!m_pLinesVB || FAILED(m_pLinesVB->Lock(0, 0, &p, D3DLOCK_READONLY)) || !p) return;
  const auto* v = static_cast<const LineVertex*>(p);
  *min = D3DXVECTOR3(1e9f, 1e9f, 1e9f);
  *max = D3DXVECTOR3(-1e9f, -1e9f, -1e9f);
  for (UINT k = 0; k < kFrustumDrawnVertices; ++k) {
    const D3DXVECTOR3 q(v[k].x, v[k].y, v[k].z);
    D3DXVec3Minimize(min, min, &q);
    D3DXVec3Maximize(max, max, &q);
  }
  m_pLinesVB->Unlock();
}

void CD3DCalibCamera::SetLabel(const char* label) {
  std::snprintf(m_szLabel, sizeof m_szLabel, "%s", label ? label : "");
}

void CD3DCalibCamera::SetLabel(int label) { std::snprintf(m_szLabel, sizeof m_szLabel, "%d", label); }

// ---------------------------------------------------------------- box

CD3DCalibSceneBox::CD3DCalibSceneBox() = default;

CD3DCalibSceneBox::CD3DCalibSceneBox(IDirect3DDevice9* device, D3DXVECTOR3 min, D3DXVECTOR3 max) {
  CreateBoundingBox(device, min, max);
}

CD3DCalibSceneBox::~CD3DCalibSceneBox() { Release(); }

void CD3DCalibSceneBox::Release() {
  SafeRelease(m_pBoxVB);
  SafeRelease(m_pBoxIB);
  SafeRelease(m_pGridVB);
  SafeRelease(m_pGridIB);
  SafeRelease(m_pTickFont);
  delete[] m_pTickLabels;
  m_pTickLabels = nullptr;
  m_vCentre = m_vMin = m_vMax = D3DXVECTOR3(0, 0, 0);
  for (auto& c : m_vCorners) c = D3DXVECTOR3(0, 0, 0);
  m_nGridVertices = 0;
  std::fill(std::begin(m_nGridCount), std::end(m_nGridCount), 0);
  std::fill(std::begin(m_nGridStart), std::end(m_nGridStart), 0);
}

HRESULT CD3DCalibSceneBox::CreateBoundingBox(IDirect3DDevice9* device, D3DXVECTOR3 min, D3DXVECTOR3 max) {
  Release();
  m_vMin = min;
  m_vMax = max;
  m_vCentre = (min + max) * 0.5f;
  const D3DXVECTOR3 c[8] = {{min.x, min.y, min.z}, {min.x, max.y, min.z}, {max.x, max.y, min.z},
                            {max.x, min.y, min.z}, {min.x, min.y, max.z}, {min.x, max.y, max.z},
                            {max.x, max.y, max.z}, {max.x, min.y, max.z}};
  std::copy(c, c + 8, m_vCorners);
  if (!device) return E_FAIL;

  HRESULT hr = device->CreateVertexBuffer(8 * sizeof(MeshVertex), 0, kMeshFvf, D3DPOOL_DEFAULT, &m_pBoxVB, nullptr);
  void* p = nullptr;
  if (FAILED(hr) || FAILED(m_pBoxVB->Lock(0, 0, &p, 0)) || !p) return Release(), E_FAIL;
  auto* v = static_cast<MeshVertex*>(p);
  for (int k = 0; k < 8; ++k) v[k] = {c[k].x, c[k].y, c[k].z, 0, 0, 0, 0xff000000, 0, 0};
  m_pBoxVB->Unlock();

  hr = device->CreateIndexBuffer(kBoxIndices * sizeof(WORD), D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_DEFAULT,
                                 &m_pBoxIB, nullptr);
  if (FAILED(hr) || FAILED(m_pBoxIB->Lock(0, 0, &p, 0)) || !p) return Release(), E_FAIL;
  WORD* idx = static_cast<WORD*>(p);
  for (const auto& e : kBoxEdges) *idx++ = WORD(e[0]), *idx++ = WORD(e[1]);
  for (int k = 0; k < 8; ++k)
    for (const auto& e : kBoxEdges)
      if (e[0] != k && e[1] != k) *idx++ = WORD(e[0]), *idx++ = WORD(e[1]);
  m_pBoxIB->Unlock();

  if (FAILED(CreateGrid(device, m_vCorners))) return Release(), E_FAIL;
  D3DXCreateFontA(device, 10, 0, 1, 1, FALSE, 1, 0, 0, 0, "Verdana", &m_pTickFont);
  return S_OK;
}

HRESULT CD3DCalibSceneBox::CreateGrid(IDirect3DDevice9* device, D3DXVECTOR3* corners) {
  m_GridColor = D3DXCOLOR(0.7529412f, 0.7529412f, 0.7529412f, 1.0f);
  const DWORD gridColour = m_GridColor;
  const int cx = m_nTicks[0], cy = m_nTicks[1], cz = m_nTicks[2];
  const int total = 4 * (cx + cy + cz);
  HRESULT hr =
      device->CreateVertexBuffer(UINT(total) * sizeof(LineVertex), 0, kLineFvf, D3DPOOL_DEFAULT, &m_pGridVB, nullptr);
  void* p = nullptr;
  if (FAILED(hr) || FAILED(m_pGridVB->Lock(0, 0, &p, 0)) || !p) return E_FAIL;
  auto* v = static_cast<LineVertex*>(p);
  m_pTickLabels = new TickLabel[std::size_t(total)]();

  float spacing[3];
  int n = 0;
  for (int a = 0; a < 3; ++a) {
    const int c = m_nTicks[a];
    const D3DXVECTOR3 d = corners[kAxisEdges[a][0][1]] - corners[kAxisEdges[a][0][0]];
    spacing[a] = std::fabs((&d.x)[a]) / float(c - 1);
    for (int e = 0; e < 4; ++e)
      for (int j = 0; j < c; ++j, ++n) {
        D3DXVECTOR3 q = corners[kAxisEdges[a][e][0]];
        (&q.x)[a] += float(j) * spacing[a];
        v[n] = {q.x, q.y, q.z, gridColour};
        m_pTickLabels[n].position = q;
        const float value = a == 1 ? -(&q.x)[a] : (&q.x)[a];
        std::snprintf(m_pTickLabels[n].text, sizeof m_pTickLabels[n].text, "%.0f", value);
      }
  }
  m_pGridVB->Unlock();
  m_nGridVertices = total;

  // The six faces' grid lines, then per corner the three faces without it.
  const int X = 0, Y = 4 * cx, Z = Y + 4 * cy;
  std::vector<WORD> faces[6];
  auto add = [&](int face, int count, int a, int b) {
    for (int j = 0; j < count; ++j) faces[face].push_back(WORD(a + j)), faces[face].push_back(WORD(b + j));
  };
  add(0, cx, X, X + cx), add(0, cz, Z, Z + cz);
  add(1, cx, X + 2 * cx, X + 3 * cx), add(1, cz, Z + 2 * cz, Z + 3 * cz);
  add(2, cy, Y, Y + cy), add(2, cz, Z, Z + 3 * cz);
  add(3, cy, Y + 2 * cy, Y + 3 * cy), add(3, cz, Z + cz, Z + 2 * cz);
  add(4, cx, X, X + 3 * cx), add(4, cy, Y, Y + 3 * cy);
  add(5, cx, X + cx, X + 2 * cx), add(5, cy, Y + cy, Y + 2 * cy);
  std::vector<WORD> all;
  for (int k = 0; k < 8; ++k) {
    m_nGridStart[k] = int(all.size());
    for (int f : BoxFacesForCorner[k]) all.insert(all.end(), faces[f].begin(), faces[f].end());
    m_nGridCount[k] = (int(all.size()) - m_nGridStart[k]) / 2;
  }
  hr = device->CreateIndexBuffer(UINT(all.size() * sizeof(WORD)), D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_DEFAULT,
                                 &m_pGridIB, nullptr);
  if (FAILED(hr) || FAILED(m_pGridIB->Lock(0, 0, &p, 0)) || !p) return E_FAIL;
  std::memcpy(p, all.data(), all.size() * sizeof(WORD));
  m_pGridIB->Unlock();

  // Push the tick labels off the box, perpendicular to their axis.
  const float m = std::min({spacing[0], spacing[1], spacing[2]});
  D3DXVECTOR3 dirX, dirYZ;
  const D3DXVECTOR3 d40 = corners[4] - corners[0], d30 = corners[3] - corners[0];
  D3DXVec3Normalize(&dirX, &d40);
  D3DXVec3Normalize(&dirYZ, &d30);
  n = 0;
  for (int a = 0; a < 3; ++a)
    for (int e = 0; e < 4; ++e)
      for (int j = 0; j < m_nTicks[a]; ++j, ++n)
        m_pTickLabels[n].position += (a == 0 ? dirX : dirYZ) * (m * kTickSign[a][e] * 0.3f);
  return S_OK;
}

int CD3DCalibSceneBox::CullPlanes(const D3DXMATRIX* world, const D3DXVECTOR3* eye) const {
  int best = 0;
  float bestDistance = 1e9f;
  for (int k = 0; k < 8; ++k) {
    D3DXVECTOR3 p;
    D3DXVec3TransformCoord(&p, &m_vCorners[k], world);
    const D3DXVECTOR3 d = p - *eye;
    const float distance = D3DXVec3Length(&d);
    if (distance < bestDistance) bestDistance = distance, best = k;
  }
  return best;
}

void CD3DCalibSceneBox::DrawBoundingBox(IDirect3DDevice9* device, CModelViewerCamera* camera) {
  if (!device || !camera || !IsComplete()) return;
  const int k = CullPlanes(camera->GetWorldMatrix(), camera->GetEyePt());
  device->SetTexture(0, nullptr);
  device->SetStreamSource(0, m_pGridVB, 0, sizeof(LineVertex));
  device->SetFVF(kLineFvf);
  device->SetIndices(m_pGridIB);
  device->DrawIndexedPrimitive(D3DPT_LINELIST, 0, 0, UINT(m_nGridVertices), UINT(m_nGridStart[k]),
                               UINT(m_nGridCount[k]));
  device->SetStreamSource(0, m_pBoxVB, 0, sizeof(MeshVertex));
  device->SetFVF(kMeshFvf);
  device->SetIndices(m_pBoxIB);
  device->DrawIndexedPrimitive(D3DPT_LINELIST, 0, 0, 8, UINT(24 + 18 * k), 9);
  if (m_pTickFont && m_pTickLabels) {
    // The end labels of two axes sit off the same corner of the box, a
    // fraction of a grid step apart, and would read as one number. A label
    // that comes too near one of another axis (or one that had to move)
    // takes the nearest place that is clear, looked for first in the
    // direction it was pushed off the box (as seen on the screen), then
    // turned a little further each way; past a few of its own sizes it stays
    // where it was. Labels of one axis seen end-on may meet each other: that
    // is the view, not the layout.
    const D3DXVECTOR3 d40 = m_vCorners[4] - m_vCorners[0], d30 = m_vCorners[3] - m_vCorners[0];
    D3DXVECTOR3 dirX, dirYZ;
    D3DXVec3Normalize(&dirX, &d40);
    D3DXVec3Normalize(&dirYZ, &d30);
    const float reach = std::max(GetBoxRadius(), 1e-3f);
    std::vector<PlacedTick> placed;
    int first = 0;
    for (int a = 0; a < 3; ++a) {
      const int c = m_nTicks[a];
      const int edge = TickEdgeTable[k][a];
      const TickLabel* labels = m_pTickLabels + first + edge * c;
      const D3DXVECTOR3 push = (a == 0 ? dirX : dirYZ) * (kTickSign[a][edge] * reach);
      for (int j = 0; j < c; ++j) {
        const D3DXVECTOR3 at = Project(camera, labels[j].position);
        const D3DXVECTOR3 ahead = Project(camera, labels[j].position + push);
        const RECT centred = CentredRect(m_pTickFont, at.x, at.y, labels[j].text);
        const RECT r = PlaceTickLabel(centred, a, ahead.x - at.x, ahead.y - at.y, placed);
        DrawInRect(m_pTickFont, r, labels[j].text);
        placed.push_back({r, a, !EqualRects(r, centred)});
      }
      first += 4 * c;
    }
  }
  device->SetTexture(0, nullptr);
}

float CD3DCalibSceneBox::GetBoxRadius() const { return LargestHalfExtent(m_vMin, m_vMax); }

void CD3DCalibSceneBox::GetBoundingBox(D3DXVECTOR3* min, D3DXVECTOR3* max) const {
  if (min) *min = m_vMin;
  if (max) *max = m_vMax;
}

// ---------------------------------------------------------------- axes

CD3DCalibWorldAxis::CD3DCalibWorldAxis() {
  const char* names[4] = {"O", "X", "Y", "Z"};
  for (int i = 0; i < 4; ++i) std::snprintf(m_szLabels[i], sizeof m_szLabels[i], "%s", names[i]);
}

CD3DCalibWorldAxis::CD3DCalibWorldAxis(IDirect3DDevice9* device, float length, float width, DWORD colour)
    : CD3DCalibWorldAxis() {
  CreateAxes(device, length, width, colour);
}

CD3DCalibWorldAxis::~CD3DCalibWorldAxis() { Release(); }

CD3DCalibWorldAxis::CD3DCalibWorldAxis(const CD3DCalibWorldAxis& other)
    : m_LineColor(other.m_LineColor), m_pLine(AddRef(other.m_pLine)), m_pFont(AddRef(other.m_pFont)) {
  std::copy(other.m_vLabelPositions, other.m_vLabelPositions + 4, m_vLabelPositions);
  std::memcpy(m_szLabels, other.m_szLabels, sizeof m_szLabels);
  std::copy(&other.m_vSegments[0][0], &other.m_vSegments[0][0] + 6, &m_vSegments[0][0]);
}

CD3DCalibWorldAxis& CD3DCalibWorldAxis::operator=(const CD3DCalibWorldAxis& other) {
  std::copy(other.m_vLabelPositions, other.m_vLabelPositions + 4, m_vLabelPositions);
  std::memmove(m_szLabels, other.m_szLabels, sizeof m_szLabels);
  m_LineColor = other.m_LineColor;
  std::copy(&other.m_vSegments[0][0], &other.m_vSegments[0][0] + 6, &m_vSegments[0][0]);
  Share(m_pLine, other.m_pLine);
  Share(m_pFont, other.m_pFont);
  return *this;
}

void CD3DCalibWorldAxis::Release() {
  SafeRelease(m_pLine);
  SafeRelease(m_pFont);
}

HRESULT CD3DCalibWorldAxis::CreateAxes(IDirect3DDevice9* device, float length, float width, DWORD colour) {
  Release();
  const float L = length;
  const D3DXVECTOR3 o(0, 0, 0);
  m_vSegments[0][0] = o, m_vSegments[0][1] = D3DXVECTOR3(L, 0, 0);
  m_vSegments[1][0] = o, m_vSegments[1][1] = D3DXVECTOR3(0, -L, 0);
  m_vSegments[2][0] = o, m_vSegments[2][1] = D3DXVECTOR3(0, 0, L);
  m_vLabelPositions[0] = D3DXVECTOR3(0, 0, -0.2f * L);
  m_vLabelPositions[1] = D3DXVECTOR3(L, -0.2f * L, 0);
  m_vLabelPositions[2] = D3DXVECTOR3(-0.2f * L, -L, 0);
  m_vLabelPositions[3] = D3DXVECTOR3(0, 0.2f * L, L);
  m_LineColor = D3DXCOLOR(colour);
  if (!device) return E_FAIL;
  if (FAILED(D3DXCreateLine(device, &m_pLine)) || !m_pLine) return Release(), E_FAIL;
  m_pLine->SetAntialias(TRUE);
  m_pLine->SetWidth(width);
  D3DXCreateFontA(device, 14, 0, 1, 1, FALSE, 1, 0, 0, 0, "Verdana", &m_pFont);
  return S_OK;
}

void CD3DCalibWorldAxis::DrawAxes(IDirect3DDevice9* device, CModelViewerCamera* camera) {
  if (!device || !camera || !m_pLine) return;
  const DWORD colour = m_LineColor;
  for (const auto& segment : m_vSegments) {
    const D3DXVECTOR3 a = Project(camera, segment[0]), b = Project(camera, segment[1]);
    const D3DXVECTOR2 points[2] = {{a.x, a.y}, {b.x, b.y}};
    m_pLine->Draw(points, 2, colour);
  }
  if (!m_pFont) return;
  for (int i = 0; i < 4; ++i) DrawCentred(m_pFont, Project(camera, m_vLabelPositions[i]), m_szLabels[i]);
}

// ---------------------------------------------------------------- scene

CD3DCalibScene::CD3DCalibScene() = default;

CD3DCalibScene::~CD3DCalibScene() { Release(); }

void CD3DCalibScene::Release() {
  for (CD3DCalibCamera* c : m_Cameras) delete c;
  m_Cameras.clear();
  for (CD3DCalibPlane* p : m_Planes) delete p;
  m_Planes.clear();
  SafeRelease(m_pGridTexture);
  m_Boxes[0].Release();
  m_Boxes[1].Release();
  m_Axes.Release();
  SafeRelease(m_pSceneFont);
  m_nStereo = 0;
}

namespace {

// One view camera or plane that could not be built: it keeps its place but
// stays out of the boxes.
void ReportFailedPart(const char* what, int index) {
  std::fprintf(stderr, "Calibration 3D scene: %s %d could not be built and is not drawn\n", what, index);
}

CD3DCalibCamera* MakeCamera(IDirect3DDevice9* device, D3DFORMAT format, CCamera& camera, IplImage* image,
                            float scale, DWORD colour, int index, RunningBox* box) {
  auto* c = new CD3DCalibCamera(device, format, &camera, image, scale, colour);
  if (!c->IsComplete()) {
    ReportFailedPart("camera", index);
  } else if (box) {
    D3DXVECTOR3 lo, hi;
    c->GetBoundingBox(&lo, &hi);
    box->Take(lo, hi);
  }
  return c;
}

}  // namespace

void CD3DCalibScene::CreateScene(IDirect3DDevice9* device, D3DFORMAT format, CCamera camera, double* R, double* T,
                                 int n, int boardW, int boardH, double square, std::vector<IplImage*>& images) {
  Release();
  if (n <= 0 || !R || !T) n = 0;
  const float scale = float(square * 3.0);
  RunningBox box;
  m_Cameras.push_back(MakeCamera(device, format, camera, nullptr, scale, 0xff0000ff, 0, &box));
  m_Cameras.back()->SetLabel("");
  for (int i = 0; i < n; ++i) {
    CCamera view(camera);
    view.SetR(R + 9 * i);
    view.SetT(T + 3 * i);
    IplImage* image = std::size_t(i) < images.size() ? images[std::size_t(i)] : nullptr;
    CD3DCalibCamera* c = MakeCamera(device, format, view, image, scale, 0xff0000ff, i + 1, &box);
    c->SetLabel(i + 1);
    c->SetLabelColor(LabelColorTable[0]);
    m_Cameras.push_back(c);
  }
  D3DXVECTOR3 lo, hi;
  box.Grown(&lo, &hi);
  m_Boxes[0].CreateBoundingBox(device, lo, hi);
  Finish(device, format, boardW, boardH, square, R, T, n);
  m_nStereo = 0;
}

void CD3DCalibScene::CreateStereoScene(IDirect3DDevice9* device, D3DFORMAT format, CStereoCamera* rig, double* R,
                                       double* T, int n, int boardW, int boardH, double square,
                                       std::vector<IplImage*>& leftImages, std::vector<IplImage*>& rightImages) {
  Release();
  if (!rig) return;
  if (n <= 0 || !R || !T) n = 0;
  const float scale = float(square * 3.0);
  CCamera sides[2] = {rig->GetCamera(0), rig->GetCamera(1)};
  RunningBox box;
  // The rig's own left camera stays out of box 0, as the scene always drew it.
  m_Cameras.push_back(MakeCamera(device, format, sides[0], nullptr, scale, LabelColorTable[0], 0, nullptr));
  m_Cameras.back()->SetLabel("Left");
  m_Cameras.push_back(MakeCamera(device, format, sides[1], nullptr, scale, LabelColorTable[1], 1, &box));
  m_Cameras.back()->SetLabel("Right");
  const double* Rs = sides[1].GetR();
  const double* Ts = sides[1].GetT();
  for (int i = 0; i < n; ++i) {
    const double* Ri = R + 9 * i;
    const double* Ti = T + 3 * i;
    double Rv[9], Tv[3];
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) Rv[3 * r + c] = Rs[3 * r] * Ri[c] + Rs[3 * r + 1] * Ri[3 + c] + Rs[3 * r + 2] * Ri[6 + c];
      Tv[r] = Rs[3 * r] * Ti[0] + Rs[3 * r + 1] * Ti[1] + Rs[3 * r + 2] * Ti[2] + Ts[r];
    }
    for (int side = 0; side < 2; ++side) {
      CCamera view(sides[side]);
      view.SetR(side == 0 ? Ri : Rv);
      view.SetT(side == 0 ? Ti : Tv);
      std::vector<IplImage*>& images = side == 0 ? leftImages : rightImages;
      IplImage* image = std::size_t(i) < images.size() ? images[std::size_t(i)] : nullptr;
      CD3DCalibCamera* c =
          MakeCamera(device, format, view, image, scale, LabelColorTable[side], 2 + 2 * i + side, &box);
      c->SetLabel(i + 1);
      m_Cameras.push_back(c);
    }
  }
  D3DXVECTOR3 lo, hi;
  box.Grown(&lo, &hi);
  m_Boxes[0].CreateBoundingBox(device, lo, hi);
  Finish(device, format, boardW, boardH, square, R, T, n);
  m_nStereo = 1;
}

void CD3DCalibScene::Finish(IDirect3DDevice9* device, D3DFORMAT format, int boardW, int boardH, double square,
                            double* R, double* T, int n) {
  RunningBox box;
  double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}, zero[3] = {0, 0, 0};
  for (int i = 0; i <= n; ++i) {
    double* Ri = i == 0 ? identity : R + 9 * (i - 1);
    double* Ti = i == 0 ? zero : T + 3 * (i - 1);
    const DWORD colour = LabelColorTable[i == 0 ? 0 : (i - 1) % kLabelColorCount];
    auto* plane = new CD3DCalibPlane(device, Ri, Ti, boardW, boardH, square, colour);
    if (i > 0) {
      char label[16];
      std::snprintf(label, sizeof label, "%d", i);
      plane->SetLabel(label);
    }
    if (!plane->IsComplete()) {
      ReportFailedPart("plane", i);
    } else {
      D3DXVECTOR3 lo, hi;
      plane->GetBoundingBox(&lo, &hi);
      box.Take(lo, hi);
    }
    m_Planes.push_back(plane);
  }
  D3DXVECTOR3 lo, hi;
  box.Grown(&lo, &hi);
  m_Boxes[1].CreateBoundingBox(device, lo, hi);
  if (FAILED(D3DXCreateTextureGridImage(boardW, boardH, 10.0, 10.0, device, format, &m_pGridTexture,
                                        D3DXCOLOR(0, 0, 0, 255), D3DXCOLOR(255, 255, 255, 255))))
    m_pGridTexture = nullptr;
  // Kept for callers that draw with it; the scene's own labels use the label font.
  if (device) D3DXCreateFontA(device, 12, 0, 1, 1, FALSE, 1, 0, 0, 0, "Verdana", &m_pSceneFont);
  D3DXVECTOR3 min0, max0;
  m_Boxes[0].GetBoundingBox(&min0, &max0);
  m_Axes.CreateAxes(device, 0.2f * LargestHalfExtent(min0, max0), 2.0f, 0xffff0000);
}

void CD3DCalibScene::DrawLabel(CModelViewerCamera* camera, const D3DXVECTOR3& position, DWORD colour,
                               const char* text) {
  if (!m_pLabelFont) return;
  const D3DXVECTOR3 s = Project(camera, position);
  m_pLabelFont->DrawTextA(s.x, s.y, colour, text, 0);
}

void CD3DCalibScene::DrawWorldCenteredScene(IDirect3DDevice9* device, CModelViewerCamera* camera) {
  if (!device || !camera || m_Planes.empty()) return;
  if (m_pGridTexture) device->SetTexture(0, m_pGridTexture);
  m_Planes[0]->DrawPlane(device, m_pLabelFont, nullptr);
  if (m_pGridTexture) device->SetTexture(0, nullptr);
  for (std::size_t i = m_nStereo ? 2 : 1; i < m_Cameras.size(); ++i) {
    CD3DCalibCamera* c = m_Cameras[i];
    c->DrawCamera(device);
    if (c->IsComplete()) DrawLabel(camera, c->GetLabelPosition(), c->GetLabelColor(), c->GetLabel());
  }
  m_Boxes[0].DrawBoundingBox(device, camera);
  m_Axes.DrawAxes(device, camera);
}

void CD3DCalibScene::DrawCameraCenteredScene(IDirect3DDevice9* device, CModelViewerCamera* camera) {
  if (!device || !camera || m_Cameras.empty()) return;
  const std::size_t rigCameras = std::min<std::size_t>(m_nStereo ? 2 : 1, m_Cameras.size());
  for (std::size_t i = 0; i < rigCameras; ++i) {
    CD3DCalibCamera* c = m_Cameras[i];
    c->DrawCamera(device);
    if (c->IsComplete()) DrawLabel(camera, c->GetLabelPosition(), c->GetLabelColor(), c->GetLabel());
  }
  for (std::size_t i = 1; i < m_Planes.size(); ++i) {
    CD3DCalibPlane* p = m_Planes[i];
    if (m_pGridTexture) device->SetTexture(0, m_pGridTexture);
    p->DrawPlane(device, m_pLabelFont, nullptr);
    if (p->IsComplete()) DrawLabel(camera, *p->GetLabelPosition(), p->GetLabelColor(), p->GetLabel());
  }
  if (m_pGridTexture) device->SetTexture(0, nullptr);
  m_Boxes[1].DrawBoundingBox(device, camera);
  m_Axes.DrawAxes(device, camera);
}

float CD3DCalibScene::GetSceneRadius(int box) const {
  if (box != 0 && box != 1) return 0.0f;
  return m_Boxes[box].GetBoxRadius();
}

D3DXVECTOR3 CD3DCalibScene::GetSceneCentre(int box) const {
  if (box != 0 && box != 1) return D3DXVECTOR3(0, 0, 0);
  return m_Boxes[box].GetBoxCentre();
}

}  // namespace D3D
