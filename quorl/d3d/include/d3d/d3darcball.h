#pragma once
// The virtual trackball of one window area: a rotation quaternion driven by
// left drags, and translation matrices driven by right and middle drags.
#include "d3d9/d3dx9.h"
#include "win/types.h"

namespace D3D {

// (from x to, from . to): for unit vectors this turns by twice the arc
// between them, which is the trackball's gain.
D3DXQUATERNION QuaternionFromVectors(const D3DXVECTOR3& from, const D3DXVECTOR3& to);
// The rotation taking a onto b (both normalised first); a half turn about an
// axis perpendicular to a when they are opposite.
D3DXQUATERNION QuaternionRotationBetween(const D3DXVECTOR3& a, const D3DXVECTOR3& b);

class CD3DArcBall {
 public:
  CD3DArcBall();

  void Reset();
  void SetWindow(int width, int height, float radius = 0.9f);
  void SetOffset(int x, int y) { m_ptOffset = POINT{x, y}; }
  void SetTranslationRadius(float radius) { m_fRadiusTranslation = radius; }

  int GetWindowWidth() const { return m_nWidth; }
  int GetWindowHeight() const { return m_nHeight; }
  const D3DXMATRIX* GetRotationMatrix();
  const D3DXMATRIX* GetTranslationMatrix() const { return &m_mTranslation; }
  const D3DXMATRIX* GetTranslationDeltaMatrix() const { return &m_mTranslationDelta; }
  bool IsBeingDragged() const { return m_bDrag; }
  D3DXQUATERNION GetQuatNow() const { return m_qNow; }
  void SetQuatNow(const D3DXQUATERNION& q) { m_qNow = q; }

  D3DXVECTOR3 ScreenToVector(float x, float y) const;
  static D3DXQUATERNION QuatFromBallPoints(const D3DXVECTOR3& from, const D3DXVECTOR3& to);

  void OnBegin(int x, int y);
  void OnMove(int x, int y);
  void OnEnd() { m_bDrag = false; }

  // 1 when the message is one of the trackball's, else 0.
  LRESULT HandleMessages(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 protected:
  D3DXMATRIX m_mRotation;
  D3DXMATRIX m_mTranslation;
  D3DXMATRIX m_mTranslationDelta;
  POINT m_ptOffset{0, 0};
  int m_nWidth = 0;
  int m_nHeight = 0;
  D3DXVECTOR2 m_vCenter;
  float m_fRadius = 1.0f;
  float m_fRadiusTranslation = 1.0f;
  D3DXQUATERNION m_qDown;
  D3DXQUATERNION m_qNow;
  bool m_bDrag = false;
  POINT m_ptLastMouse{0, 0};
  D3DXVECTOR3 m_vDownPt;
  D3DXVECTOR3 m_vCurrentPt;
};

// The signed client coordinates packed into a mouse message's lParam.
inline int MessageX(LPARAM lParam) { return static_cast<short>(lParam & 0xFFFF); }
inline int MessageY(LPARAM lParam) { return static_cast<short>((lParam >> 16) & 0xFFFF); }

// Prints "x y z" to the debugger output.
void PrintVector(const D3DXVECTOR3& v);

}  // namespace D3D
