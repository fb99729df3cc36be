#include "d3d/d3darcball.h"

#include <cmath>
#include <cstdio>

#include "mouse_capture.h"
#include "win/window.h"
#include "win/cursor.h"
#include "win/messages.h"
#include "win/window_services.h"

namespace D3D {

D3DXQUATERNION QuaternionFromVectors(const D3DXVECTOR3& from, const D3DXVECTOR3& to) {
  D3DXVECTOR3 axis;
  D3DXVec3Cross(&axis, &from, &to);
  return D3DXQUATERNION(axis.x, axis.y, axis.z, D3DXVec3Dot(&from, &to));
}

D3DXQUATERNION QuaternionRotationBetween(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
  D3DXVECTOR3 na, nb, half;
  D3DXVec3Normalize(&na, &a);
  D3DXVec3Normalize(&nb, &b);
  const D3DXVECTOR3 sum = na + nb;
  D3DXVec3Normalize(&half, &sum);
  if (D3DXVec3LengthSq(&half) == 0.0f && D3DXVec3LengthSq(&na) > 0.0f) {
    // Opposite vectors: any axis perpendicular to a gives the half turn;
    // cross with the coordinate axis least parallel to a.
    const D3DXVECTOR3 pick = std::fabs(na.x) < 0.57f ? D3DXVECTOR3(1, 0, 0)
                             : std::fabs(na.y) < 0.57f ? D3DXVECTOR3(0, 1, 0)
                                                       : D3DXVECTOR3(0, 0, 1);
    D3DXVECTOR3 axis;
    D3DXVec3Cross(&axis, &na, &pick);
    D3DXVec3Normalize(&axis, &axis);
    return D3DXQUATERNION(axis.x, axis.y, axis.z, 0.0f);
  }
  return QuaternionFromVectors(na, half);
}

void PrintVector(const D3DXVECTOR3& v) {
  char text[128];
  std::snprintf(text, sizeof text, "%f %f %f \n ", v.x, v.y, v.z);
  OutputDebugStringA(text);
}

CD3DArcBall::CD3DArcBall() {
  Reset();
  int width = 0, height = 0;
  // Without a foreground window the area is empty until SetWindow.
  win::WindowServices* windows = win::GetWindowServices();
  HWND foreground = GetForegroundWindow();
  if (!windows || !foreground || !windows->GetClientSize(foreground, &width, &height)) width = height = 0;
  SetWindow(width, height, 0.9f);
}

void CD3DArcBall::Reset() {
  D3DXMatrixIdentity(&m_mRotation);
  D3DXMatrixIdentity(&m_mTranslation);
  D3DXMatrixIdentity(&m_mTranslationDelta);
  D3DXQuaternionIdentity(&m_qDown);
  D3DXQuaternionIdentity(&m_qNow);
  m_bDrag = false;
  m_fRadiusTranslation = 1.0f;
  m_fRadius = 1.0f;
}

void CD3DArcBall::SetWindow(int width, int height, float radius) {
  m_nWidth = width;
  m_nHeight = height;
  m_fRadius = radius;
  m_vCenter = D3DXVECTOR2(width * 0.5f, height * 0.5f);
}

const D3DXMATRIX* CD3DArcBall::GetRotationMatrix() {
  D3DXMatrixRotationQuaternion(&m_mRotation, &m_qNow);
  return &m_mRotation;
}

namespace {
// Onto the unit hemisphere inside the circle, onto its rim outside.
D3DXVECTOR3 OntoBall(float vx, float vy) {
  const float mag = vx * vx + vy * vy;
  if (mag > 1.0f) {
    const float scale = 1.0f / std::sqrt(mag);
    return D3DXVECTOR3(vx * scale, vy * scale, 0.0f);
  }
  return D3DXVECTOR3(vx, vy, std::sqrt(1.0f - mag));
}
}  // namespace

D3DXVECTOR3 CD3DArcBall::ScreenToVector(float x, float y) const {
  const float dx = m_nWidth * m_fRadius * 0.5f, dy = m_nHeight * m_fRadius * 0.5f;
  // An empty area has no ball: every point is its centre.
  if (dx == 0.0f || dy == 0.0f) return D3DXVECTOR3(0, 0, 1);
  const float vx = -(x - m_ptOffset.x - m_nWidth / 2) / dx;
  const float vy = (y - m_ptOffset.y - m_nHeight / 2) / dy;
  return OntoBall(vx, vy);
}

D3DXQUATERNION CD3DArcBall::QuatFromBallPoints(const D3DXVECTOR3& from, const D3DXVECTOR3& to) {
  return QuaternionFromVectors(from, to);
}

void CD3DArcBall::OnBegin(int x, int y) {
  if (x < m_ptOffset.x || x >= m_ptOffset.x + m_nWidth || y < m_ptOffset.y || y >= m_ptOffset.y + m_nHeight) return;
  m_qDown = m_qNow;
  m_bDrag = true;
  m_vDownPt = ScreenToVector(float(x), float(y));
}

void CD3DArcBall::OnMove(int x, int y) {
  if (!m_bDrag) return;
  m_vCurrentPt = ScreenToVector(float(x), float(y));
  const D3DXQUATERNION arc = QuatFromBallPoints(m_vDownPt, m_vCurrentPt);
  D3DXQuaternionMultiply(&m_qNow, &m_qDown, &arc);
}

LRESULT CD3DArcBall::HandleMessages(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const int x = MessageX(lParam), y = MessageY(lParam);
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      detail::CaptureMouse(window);
      OnBegin(x, y);
      return 1;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
      detail::CaptureMouse(window);
      m_ptLastMouse = POINT{x, y};
      return 1;
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
      detail::ReleaseMouse();
      return 1;
    case WM_CAPTURECHANGED:
      if (reinterpret_cast<HWND>(lParam) == window) return 1;
      [[fallthrough]];
    case WM_LBUTTONUP:
      detail::ReleaseMouse();
      m_bDrag = false;
      return 1;
    case WM_MOUSEMOVE: {
      if (wParam & MK_LBUTTON) OnMove(x, y);
      const bool right = (wParam & MK_RBUTTON) != 0, middle = (wParam & MK_MBUTTON) != 0;
      if (!right && !middle) return 1;
      // An empty area gives no step (it would divide by zero).
      if (m_nWidth != 0 && m_nHeight != 0) {
        const float dy = (m_ptLastMouse.y - y) * m_fRadiusTranslation / m_nHeight;
        if (right) {
          const float dx = (m_ptLastMouse.x - x) * m_fRadiusTranslation / m_nWidth;
          D3DXMatrixTranslation(&m_mTranslationDelta, dx * -2.0f, dy * 2.0f, 0.0f);
        } else {
          D3DXMatrixTranslation(&m_mTranslationDelta, 0.0f, 0.0f, dy * 5.0f);
        }
        m_mTranslation *= m_mTranslationDelta;
      }
      m_ptLastMouse = POINT{x, y};
      return 1;
    }
    default:
      return 0;
  }
}

}  // namespace D3D
