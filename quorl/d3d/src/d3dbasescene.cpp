#include "d3d/d3dbasescene.h"

#include <cmath>

namespace D3D {

CD3DBaseScene::CD3DBaseScene() : m_pFont(new CD3DFont("Verdana", 10, D3DFONT_BOLD | D3DFONT_ZENABLE)) {
  D3DXQuaternionIdentity(&m_qDown);
  D3DXQuaternionIdentity(&m_qNow);
  D3DXMatrixIdentity(&m_matRotation);
  D3DXMatrixIdentity(&m_matSecond);
  D3DXMatrixIdentity(&m_matTranslation);
  D3DXMatrixIdentity(&m_matTranslationStep);
}

CD3DBaseScene::~CD3DBaseScene() {
  ReleaseDevice();
  delete m_pFont;
}

// The font's device objects go before the device they were made on.
void CD3DBaseScene::ReleaseDevice() {
  m_pFont->InvalidateDeviceObjects();
  m_pFont->DeleteDeviceObjects();
  if (m_pd3dDevice) m_pd3dDevice->Release();
  m_pd3dDevice = nullptr;
  if (m_pD3D) m_pD3D->Release();
  m_pD3D = nullptr;
}

HRESULT CD3DBaseScene::Init(HWND window) {
  ReleaseDevice();
  m_hWnd = window;
  m_pD3D = Direct3DCreate9(D3D_SDK_VERSION);
  if (!m_pD3D) return E_FAIL;
  D3DPRESENT_PARAMETERS pp{};
  pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
  pp.Windowed = TRUE;
  pp.EnableAutoDepthStencil = TRUE;
  pp.AutoDepthStencilFormat = D3DFMT_D16;
  pp.BackBufferFormat = D3DFMT_UNKNOWN;
  if (FAILED(m_pD3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp,
                                  &m_pd3dDevice))) {
    m_pd3dDevice = nullptr;
    m_pD3D->Release();
    m_pD3D = nullptr;
    return E_FAIL;
  }
  m_pd3dDevice->GetDeviceCaps(&m_d3dCaps);
  m_pd3dDevice->GetDisplayMode(0, &m_d3dDisplayMode);
  // A font that fails leaves a usable device; the caller hears of it.
  HRESULT hr = m_pFont->InitDeviceObjects(m_pd3dDevice);
  if (SUCCEEDED(hr)) hr = m_pFont->RestoreDeviceObjects();
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CD3DBaseScene::SetSceneDimensions(int width, int height) {
  m_nSceneWidth = width;
  m_nSceneHeight = height;
  return 0;
}

D3DXVECTOR3 CD3DBaseScene::ScreenToVector(int x, int y) const {
  const int hw = m_nSceneWidth / 2, hh = m_nSceneHeight / 2;
  const float dx = m_fRadius * hw, dy = m_fRadius * hh;
  // Scenes narrower than 2 pixels have no ball: every point is its centre.
  if (dx == 0.0f || dy == 0.0f) return D3DXVECTOR3(0, 0, 1);
  float vx = -(x - hw) / dx, vy = (y - hh) / dy;
  if (m_bMirrored) {
    vx = -vx;
    vy = -vy;
  }
  const float mag = vx * vx + vy * vy;
  if (mag > 1.0f) {
    const float scale = 1.0f / std::sqrt(mag);
    return D3DXVECTOR3(vx * scale, vy * scale, 0.0f);
  }
  return D3DXVECTOR3(vx, vy, std::sqrt(1.0f - mag));
}

D3DXQUATERNION CD3DBaseScene::QuatFromBallPoints(const D3DXVECTOR3& from, const D3DXVECTOR3& to) {
  return QuaternionFromVectors(from, to);
}

void CD3DBaseScene::MouseRotateBegin(int x, int y) {
  m_bRotating = true;
  m_vDown = ScreenToVector(x, y);
}

void CD3DBaseScene::MouseRotate(int x, int y) {
  m_vCurrent = ScreenToVector(x, y);
  const D3DXQUATERNION arc = QuatFromBallPoints(m_vDown, m_vCurrent);
  D3DXQuaternionMultiply(&m_qNow, &m_qDown, &arc);
  D3DXMatrixRotationQuaternion(&m_matRotation, &m_qNow);
}

void CD3DBaseScene::MouseRotateEnd() {
  m_bRotating = false;
  m_qDown = m_qNow;
}

void CD3DBaseScene::MouseTranslateBegin(int x, int y) {
  m_nLastMouseX = x;
  m_nLastMouseY = y;
}

void CD3DBaseScene::MouseTranslate(int x, int y) {
  if (m_nSceneWidth != 0 && m_nSceneHeight != 0) {
    D3DXMatrixTranslation(&m_matTranslationStep, (m_nLastMouseX - x) * m_fTranslationScale / m_nSceneWidth * -20.0f,
                          (m_nLastMouseY - y) * m_fTranslationScale / m_nSceneHeight * 20.0f, 0.0f);
    m_matTranslation *= m_matTranslationStep;
  }
  m_nLastMouseX = x;
  m_nLastMouseY = y;
}

void CD3DBaseScene::MouseZoom(int x, int y) {
  if (m_nSceneHeight != 0) {
    D3DXMatrixTranslation(&m_matTranslationStep, 0.0f, 0.0f,
                          (m_nLastMouseY - y) * m_fTranslationScale / m_nSceneHeight * 5.0f);
    m_matTranslation *= m_matTranslationStep;
  }
  m_nLastMouseX = x;
  m_nLastMouseY = y;
}

}  // namespace D3D
