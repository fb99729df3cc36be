#pragma once
// One window's Direct3D device with a label font and a simple trackball
// rotation, translation and zoom.
#include "d3d/d3darcball.h"
#include "d3d/d3dfont.h"
#include "d3d9/d3d9.h"
#include "d3d9/d3dx9.h"

namespace D3D {

class CD3DBaseScene {
 public:
  CD3DBaseScene();
  virtual ~CD3DBaseScene();
  // It owns the device, the Direct3D object and the font.
  CD3DBaseScene(const CD3DBaseScene&) = delete;
  CD3DBaseScene& operator=(const CD3DBaseScene&) = delete;

  virtual HRESULT Init(HWND window);

  HRESULT SetSceneDimensions(int width, int height);
  D3DXVECTOR3 ScreenToVector(int x, int y) const;
  static D3DXQUATERNION QuatFromBallPoints(const D3DXVECTOR3& from, const D3DXVECTOR3& to);
  void MouseRotateBegin(int x, int y);
  void MouseRotate(int x, int y);
  void MouseRotateEnd();
  void MouseTranslateBegin(int x, int y);
  void MouseTranslate(int x, int y);
  void MouseZoom(int x, int y);

  IDirect3DDevice9* GetDevice() const { return m_pd3dDevice; }
  CD3DFont* GetFont() const { return m_pFont; }
  const D3DXMATRIX& GetRotationMatrix() const { return m_matRotation; }
  const D3DXMATRIX& GetTranslationMatrix() const { return m_matTranslation; }
  const D3DXQUATERNION& GetRotation() const { return m_qNow; }
  bool IsRotating() const { return m_bRotating; }
  void SetMirrored(bool mirrored) { m_bMirrored = mirrored; }
  void SetTranslationScale(float scale) { m_fTranslationScale = scale; }

 protected:
  void ReleaseDevice();

  HWND m_hWnd = nullptr;
  IDirect3D9* m_pD3D = nullptr;
  IDirect3DDevice9* m_pd3dDevice = nullptr;
  D3DCAPS9 m_d3dCaps{};
  CD3DFont* m_pFont = nullptr;
  D3DDISPLAYMODE m_d3dDisplayMode{};
  int m_nSceneWidth = 200;
  int m_nSceneHeight = 200;
  float m_fRadius = 0.85f;
  float m_fTranslationScale = 1.0f;
  int m_nLastMouseX = 0;
  int m_nLastMouseY = 0;
  D3DXVECTOR3 m_vDown;
  D3DXVECTOR3 m_vCurrent;
  D3DXQUATERNION m_qDown;
  D3DXQUATERNION m_qNow;
  D3DXMATRIX m_matRotation;
  D3DXMATRIX m_matSecond;
  D3DXMATRIX m_matTranslation;
  D3DXMATRIX m_matTranslationStep;
  bool m_bRotating = false;
  bool m_bMirrored = false;
};

}  // namespace D3D
