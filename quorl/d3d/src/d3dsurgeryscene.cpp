#include "d3d/d3dsurgeryscene.h"

#include <cstdint>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif
#include <cstring>

#include "d3d/d3dbuilders.h"

namespace D3D {

namespace {

// The frame size the patches assumed before any frame arrived.
constexpr UINT kDefaultVideoWidth = 720, kDefaultVideoHeight = 288;
constexpr float kFrustumScale = 7.0f;
constexpr int kPatchHalfSize = 5;  // pixels either side of the image point

// One row of B, G, R pixels into B, G, R, 0 texels, from pixel `from` on.
// Whole words are read where four source bytes lie inside the row; the last
// pixel goes byte by byte, so nothing past the row is read.
void CopyTexelsPlain(const unsigned char* src, unsigned char* dst, UINT from, UINT width) {
  if (from >= width) return;
  for (UINT x = from; x + 1 < width; ++x) {
    std::uint32_t texel;
    std::memcpy(&texel, src + 3 * x, 4);
    texel &= 0x00FFFFFFu;  // little-endian: the fourth byte is the next pixel's blue
    std::memcpy(dst + 4 * x, &texel, 4);
  }
  const UINT x = width - 1;
  dst[4 * x] = src[3 * x];
  dst[4 * x + 1] = src[3 * x + 1];
  dst[4 * x + 2] = src[3 * x + 2];
  dst[4 * x + 3] = 0;
}

#if defined(__x86_64__) || defined(__i386__)
// Four pixels per step with a byte shuffle (SSSE3, chosen at run time). A
// step reads 16 source bytes, so it stops 6 pixels before the row's end.
__attribute__((target("ssse3"))) void CopyTexelsShuffled(const unsigned char* src, unsigned char* dst, UINT width) {
  const __m128i order = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);  // -1: a zero byte
  UINT x = 0;
  for (; x + 6 <= width; x += 4) {
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * x), _mm_shuffle_epi8(pixels, order));
  }
  CopyTexelsPlain(src, dst, x, width);
}
#endif

void CopyRowToTexels(const unsigned char* src, unsigned char* dst, UINT width) {
#if defined(__x86_64__) || defined(__i386__)
  static const bool shuffle = __builtin_cpu_supports("ssse3");
  if (shuffle) {
    CopyTexelsShuffled(src, dst, width);
    return;
  }
#endif
  CopyTexelsPlain(src, dst, 0, width);
}

template <class T>
void SafeRelease(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

}  // namespace

CD3DSurgeryScene::CD3DSurgeryScene() = default;

CD3DSurgeryScene::~CD3DSurgeryScene() {
  CScopedCriticalSection guard(m_Lock);
  for (CD3DCalibCamera* camera : m_Cameras) delete camera;
  m_Cameras.clear();
  SafeRelease(m_pPatchVB);
  SafeRelease(m_pPatchIB);
  SafeRelease(m_pLineVB);
  SafeRelease(m_pLineIB);
  SafeRelease(m_pVideoTexture);
}

HRESULT CD3DSurgeryScene::CreateScene(IDirect3DDevice9* device, D3DFORMAT format, CStereoCamera* rig,
                                      IplImage* video) {
  if (!device || !rig) return E_POINTER;
  CScopedCriticalSection guard(m_Lock);
  if (m_pDevice) return E_FAIL;
  m_pDevice = device;
  m_Format = format;
  // The left half of the frame lies on the left camera, the right half on
  // the right one; corners in the pyramid's order.
  float uv[2][8] = {{0, 0, 0.5f, 0, 0, 1, 0.5f, 1}, {0.5f, 0, 1, 0, 0.5f, 1, 1, 1}};
  for (int side = 0; side < 2; ++side) {
    CCamera camera = rig->GetCamera(side);
    auto* frustum = new CD3DCalibCamera(device, format, &camera, nullptr, kFrustumScale, 0xff000000);
    frustum->SetTextureCoordinates(uv[side]);
    m_Cameras.push_back(frustum);
  }
  m_Box.CreateBoundingBox(device, D3DXVECTOR3(-20, -20, -10), D3DXVECTOR3(20, 20, 60));
  m_Axes.CreateAxes(device, 5, 2, 0xffff0000);
  if (video && SUCCEEDED(D3DXCreateTextureFromImage(device, format, video, &m_pVideoTexture)))
    for (CD3DCalibCamera* camera : m_Cameras) camera->SetTexture(m_pVideoTexture);
  return S_OK;
}

void CD3DSurgeryScene::VideoSize(UINT* width, UINT* height) const {
  *width = kDefaultVideoWidth;
  *height = kDefaultVideoHeight;
  D3DSURFACE_DESC desc{};
  if (m_pVideoTexture && SUCCEEDED(m_pVideoTexture->GetLevelDesc(0, &desc))) {
    *width = desc.Width;
    *height = desc.Height;
  }
}

HRESULT CD3DSurgeryScene::SetVideoTexture(IplImage* frame) {
  if (!frame || !frame->imageData || frame->depth != IPL_DEPTH_8U || frame->nChannels != 3) return E_FAIL;
  CScopedCriticalSection guard(m_Lock);
  if (!m_pDevice) return E_FAIL;
  if (!m_pVideoTexture) {
    // The first frame makes the texture, already filled with it.
    const HRESULT hr = D3DXCreateTextureFromImage(m_pDevice, m_Format, frame, &m_pVideoTexture);
    if (FAILED(hr)) return hr;
  } else {
    UINT width = 0, height = 0;
    VideoSize(&width, &height);
    if (frame->width != static_cast<int>(width) || frame->height != static_cast<int>(height)) return E_FAIL;
    D3DLOCKED_RECT locked{};
    if (FAILED(m_pVideoTexture->LockRect(0, &locked, nullptr, D3DLOCK_NO_DIRTY_UPDATE)) || !locked.pBits)
      return E_FAIL;
    for (UINT y = 0; y < height; ++y)
      CopyRowToTexels(reinterpret_cast<const unsigned char*>(frame->imageData) + std::size_t(y) * frame->widthStep,
                      static_cast<unsigned char*>(locked.pBits) + std::size_t(y) * locked.Pitch, width);
    m_pVideoTexture->UnlockRect(0);
  }
  for (CD3DCalibCamera* camera : m_Cameras) camera->SetTexture(m_pVideoTexture);
  return S_OK;
}

HRESULT CD3DSurgeryScene::InitializePatchBuffers(int capacity) {
  if (m_pPatchVB) return S_OK;
  if (!m_pDevice || capacity <= 0) return E_FAIL;
  const UINT n = static_cast<UINT>(capacity);
  HRESULT hr = m_pDevice->CreateVertexBuffer(n * 4 * sizeof(MeshVertex), D3DUSAGE_WRITEONLY, kMeshFvf,
                                             D3DPOOL_MANAGED, &m_pPatchVB, nullptr);
  if (SUCCEEDED(hr))
    hr = m_pDevice->CreateVertexBuffer(n * 2 * sizeof(LineVertex), D3DUSAGE_WRITEONLY, kLineFvf, D3DPOOL_MANAGED,
                                       &m_pLineVB, nullptr);
  if (SUCCEEDED(hr))
    hr = m_pDevice->CreateIndexBuffer(n * 6 * sizeof(WORD), D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_DEFAULT,
                                      &m_pPatchIB, nullptr);
  if (SUCCEEDED(hr))
    hr = m_pDevice->CreateIndexBuffer(n * 2 * sizeof(WORD), D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_DEFAULT,
                                      &m_pLineIB, nullptr);
  if (FAILED(hr)) {
    // All four or none, so the next call tries again.
    SafeRelease(m_pPatchVB);
    SafeRelease(m_pLineVB);
    SafeRelease(m_pPatchIB);
    SafeRelease(m_pLineIB);
  }
  return hr;
}

HRESULT CD3DSurgeryScene::SetPatches(CvPoint2D32f* imagePoints, CvPoint3D32f* points, char* mask, int count) {
  if (count < 0 || (count > 0 && (!imagePoints || !points))) return E_INVALIDARG;
  CScopedCriticalSection guard(m_Lock);
  if (!m_pDevice) return E_FAIL;
  HRESULT hr = InitializePatchBuffers(m_nPatchCapacity);
  if (FAILED(hr)) {
    m_nPatchCount = 0;
    return hr;
  }
  UINT width = 0, height = 0;
  VideoSize(&width, &height);
  // The builder writes only what the buffers hold and gives that count;
  // a failed lock (negative) leaves no patch to draw.
  const int made = Create3DPatchesForPoints(imagePoints, points, count, mask, m_pPatchVB, m_pLineVB, m_pPatchIB,
                                            m_pLineIB, static_cast<int>(width), static_cast<int>(height),
                                            kPatchHalfSize, kPatchHalfSize);
  m_nPatchCount = made > 0 ? made : 0;
  return made < 0 ? E_FAIL : S_OK;
}

void CD3DSurgeryScene::DrawScene(IDirect3DDevice9* device, CModelViewerCamera* camera) {
  if (!device || !camera) return;
  CScopedCriticalSection guard(m_Lock);
  if (m_Cameras.empty()) return;
  for (CD3DCalibCamera* c : m_Cameras) c->DrawCamera(device);
  device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
  // The stand-in refuses draws of no primitive and from a null stream.
  if (m_nPatchCount > 0 && m_pPatchVB && m_pPatchIB) {
    if (m_pVideoTexture) device->SetTexture(0, m_pVideoTexture);
    device->SetStreamSource(0, m_pPatchVB, 0, sizeof(MeshVertex));
    device->SetFVF(kMeshFvf);
    device->SetIndices(m_pPatchIB);
    const UINT n = static_cast<UINT>(m_nPatchCount);
    device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4 * n, 0, 2 * n);
    device->SetTexture(0, nullptr);
  }
  m_Box.DrawBoundingBox(device, camera);
  m_Axes.DrawAxes(device, camera);
}

void CD3DSurgeryScene::SetFont(CD3DFont* font) {
  CScopedCriticalSection guard(m_Lock);
  m_pFont = font;
}

}  // namespace D3D
