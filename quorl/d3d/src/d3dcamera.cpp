#include "d3d/d3dcamera.h"

#include <cfloat>
#include <cmath>

#include "mouse_capture.h"
#include "win/cursor.h"
#include "win/messages.h"

namespace D3D {

namespace {
const D3DXVECTOR3 kUp(0, 1, 0);
const D3DXVECTOR3 kAhead(0, 0, 1);
// pi/2 in single precision.
constexpr float kHalfPi = 1.5707964f;

bool PtInRect(const RECT& r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }
}  // namespace

CBaseCamera::CBaseCamera() {
  D3DXMatrixIdentity(&m_mView);
  D3DXMatrixIdentity(&m_mProj);
  GetCursorPos(&m_ptLastMousePosition);
  D3DXVECTOR3 eye(0, 0, 0), at(0, 0, 1);
  SetViewParams(&eye, &at);
  SetProjParams(D3DX_PI / 4, 1.0f, 1.0f, 1000.0f);
}

bool CBaseCamera::SetView(const D3DXVECTOR3& eye, const D3DXVECTOR3& lookAt, const D3DXVECTOR3& up,
                          D3DXMATRIX* inverse) {
  D3DXMATRIX view, inv;
  D3DXMatrixLookAtLH(&view, &eye, &lookAt, &up);
  if (!D3DXMatrixInverse(&inv, nullptr, &view)) return false;
  m_mView = view;
  if (inverse) *inverse = inv;
  return true;
}

void CBaseCamera::SetViewParams(D3DXVECTOR3* eye, D3DXVECTOR3* lookAt) {
  if (eye && lookAt) ApplyViewParams(*eye, *lookAt);
}

bool CBaseCamera::ApplyViewParams(const D3DXVECTOR3& eye, const D3DXVECTOR3& lookAt) {
  D3DXMATRIX inv;
  // An eye on the look-at point, or a view along up, has no view matrix.
  if (!SetView(eye, lookAt, kUp, &inv)) return false;
  m_vDefaultEye = m_vEye = eye;
  m_vDefaultLookAt = m_vLookAt = lookAt;
  m_fCameraYawAngle = std::atan2(inv._31, inv._33);
  m_fCameraPitchAngle = -std::atan2(inv._32, std::sqrt(inv._31 * inv._31 + inv._33 * inv._33));
  return true;
}

void CBaseCamera::SetProjParams(float fov, float aspect, float nearPlane, float farPlane) {
  m_fFOV = fov;
  m_fAspect = aspect;
  m_fNearPlane = nearPlane;
  m_fFarPlane = farPlane;
  D3DXMatrixPerspectiveFovLH(&m_mProj, fov, aspect, nearPlane, farPlane);
}

void CBaseCamera::Reset() { SetViewParams(&m_vDefaultEye, &m_vDefaultLookAt); }

void CBaseCamera::SetClipToBoundary(bool clip, D3DXVECTOR3* minimum, D3DXVECTOR3* maximum) {
  m_bClipToBoundary = clip;
  if (minimum) m_vMinBoundary = *minimum;
  if (maximum) m_vMaxBoundary = *maximum;
}

D3DUtil_CameraKeys CBaseCamera::MapKey(UINT key) {
  switch (key) {
    case VK_CONTROL: return CAM_CONTROLDOWN;
    case VK_LEFT: case 'A': case VK_NUMPAD0 + 4: return CAM_STRAFE_LEFT;
    case VK_RIGHT: case 'D': case VK_NUMPAD0 + 6: return CAM_STRAFE_RIGHT;
    case VK_UP: case 'W': case VK_NUMPAD0 + 8: return CAM_MOVE_FORWARD;
    case VK_DOWN: case 'S': case VK_NUMPAD0 + 2: return CAM_MOVE_BACKWARD;
    case VK_PRIOR: case 'E': case VK_NUMPAD0 + 9: return CAM_MOVE_UP;
    case VK_NEXT: case 'Q': case VK_NUMPAD0 + 3: return CAM_MOVE_DOWN;
    case VK_HOME: return CAM_RESET;
    default: return CAM_UNKNOWN;
  }
}

LRESULT CBaseCamera::HandleMessages(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_KEYDOWN: {
      const D3DUtil_CameraKeys key = MapKey(UINT(wParam));
      if (key != CAM_UNKNOWN && !IsKeyDown(m_aKeys[key])) {
        m_aKeys[key] = KEY_WAS_DOWN_MASK | KEY_IS_DOWN_MASK;
        ++m_cKeysDown;
      }
      break;
    }
    case WM_KEYUP: {
      const D3DUtil_CameraKeys key = MapKey(UINT(wParam));
      // A release without its press (focus came with the key down) counts nothing.
      if (key != CAM_UNKNOWN && IsKeyDown(m_aKeys[key])) {
        m_aKeys[key] &= BYTE(~KEY_IS_DOWN_MASK);
        --m_cKeysDown;
      }
      break;
    }
    case WM_RBUTTONDOWN: case WM_MBUTTONDOWN: case WM_LBUTTONDOWN:
    case WM_RBUTTONDBLCLK: case WM_MBUTTONDBLCLK: case WM_LBUTTONDBLCLK: {
      const bool inside = PtInRect(m_rcDrag, MessageX(lParam), MessageY(lParam));
      if (inside && (message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK)) {
        m_bMouseLButtonDown = true;
        m_nCurrentButtonMask |= MOUSE_LEFT_BUTTON;
      }
      if (inside && (message == WM_MBUTTONDOWN || message == WM_MBUTTONDBLCLK)) {
        m_bMouseMButtonDown = true;
        m_nCurrentButtonMask |= MOUSE_MIDDLE_BUTTON;
      }
      if (inside && (message == WM_RBUTTONDOWN || message == WM_RBUTTONDBLCLK)) {
        m_bMouseRButtonDown = true;
        m_nCurrentButtonMask |= MOUSE_RIGHT_BUTTON;
      }
      detail::CaptureMouse(window);
      GetCursorPos(&m_ptLastMousePosition);
      return TRUE;
    }
    case WM_RBUTTONUP: case WM_MBUTTONUP: case WM_LBUTTONUP: {
      if (message == WM_LBUTTONUP) {
        m_bMouseLButtonDown = false;
        m_nCurrentButtonMask &= ~MOUSE_LEFT_BUTTON;
      }
      if (message == WM_MBUTTONUP) {
        m_bMouseMButtonDown = false;
        m_nCurrentButtonMask &= ~MOUSE_MIDDLE_BUTTON;
      }
      if (message == WM_RBUTTONUP) {
        m_bMouseRButtonDown = false;
        m_nCurrentButtonMask &= ~MOUSE_RIGHT_BUTTON;
      }
      if (!IsBeingDragged()) detail::ReleaseMouse();
      break;
    }
    case WM_CAPTURECHANGED:
      if (reinterpret_cast<HWND>(lParam) != window) {
        if (m_nCurrentButtonMask & MOUSE_LEFT_BUTTON || m_nCurrentButtonMask & MOUSE_MIDDLE_BUTTON ||
            m_nCurrentButtonMask & MOUSE_RIGHT_BUTTON) {
          m_bMouseLButtonDown = m_bMouseMButtonDown = m_bMouseRButtonDown = false;
          m_nCurrentButtonMask &= ~(MOUSE_LEFT_BUTTON | MOUSE_MIDDLE_BUTTON | MOUSE_RIGHT_BUTTON);
          detail::ReleaseMouse();
        }
      }
      break;
    case WM_MOUSEWHEEL: {
      // Fine-resolution wheels send parts of a notch: they add up to whole ones.
      m_nWheelRemainder += static_cast<short>((wParam >> 16) & 0xFFFF);
      const int notches = m_nWheelRemainder / WHEEL_DELTA;
      m_nWheelRemainder -= notches * WHEEL_DELTA;
      m_nMouseWheelDelta += notches;
      break;
    }
    default:
      break;
  }
  return FALSE;
}

void CBaseCamera::GetInput(bool keyboard, bool mouse) {
  m_vKeyboardDirection = D3DXVECTOR3(0, 0, 0);
  if (keyboard) {
    if (IsKeyDown(m_aKeys[CAM_MOVE_FORWARD])) m_vKeyboardDirection.z += 1.0f;
    if (IsKeyDown(m_aKeys[CAM_MOVE_BACKWARD])) m_vKeyboardDirection.z -= 1.0f;
    if (m_bEnableYAxisMovement) {
      if (IsKeyDown(m_aKeys[CAM_MOVE_UP])) m_vKeyboardDirection.y += 1.0f;
      if (IsKeyDown(m_aKeys[CAM_MOVE_DOWN])) m_vKeyboardDirection.y -= 1.0f;
    }
    if (IsKeyDown(m_aKeys[CAM_STRAFE_RIGHT])) m_vKeyboardDirection.x += 1.0f;
    if (IsKeyDown(m_aKeys[CAM_STRAFE_LEFT])) m_vKeyboardDirection.x -= 1.0f;
  }
  if (mouse) {
    POINT now{0, 0};
    GetCursorPos(&now);
    const D3DXVECTOR2 delta(float(now.x - m_ptLastMousePosition.x), float(now.y - m_ptLastMousePosition.y));
    m_ptLastMousePosition = now;
    const float share = 1.0f / m_fFramesToSmoothMouseData;
    m_vMouseDelta = delta * share + m_vMouseDelta * (1.0f - share);
  }
}

void CBaseCamera::UpdateVelocity(float elapsedTime) {
  m_vRotVelocity = m_vMouseDelta * m_fRotationScaler +
                   D3DXVECTOR2(m_fGamePadRightThumbX, -m_fGamePadRightThumbY) * 0.02f;
  D3DXVECTOR3 acceleration = m_vKeyboardDirection + m_vGamePadLeftThumb;
  D3DXVec3Normalize(&acceleration, &acceleration);
  acceleration *= m_fMoveScaler;
  if (!m_bMovementDrag) {
    m_vVelocity = acceleration;
    return;
  }
  if (D3DXVec3LengthSq(&acceleration) > 0) {
    m_vVelocity = acceleration;
    m_fDragTimer = m_fTotalDragTimeToZero;
    m_vVelocityDrag = acceleration / m_fTotalDragTimeToZero;
  } else if (m_fDragTimer > 0) {
    m_vVelocity -= m_vVelocityDrag * elapsedTime;
    m_fDragTimer -= elapsedTime;
  } else {
    m_vVelocity = D3DXVECTOR3(0, 0, 0);
  }
}

void CBaseCamera::ConstrainToBoundary(D3DXVECTOR3* v) const {
  v->x = std::fmax(m_vMinBoundary.x, std::fmin(m_vMaxBoundary.x, v->x));
  v->y = std::fmax(m_vMinBoundary.y, std::fmin(m_vMaxBoundary.y, v->y));
  v->z = std::fmax(m_vMinBoundary.z, std::fmin(m_vMaxBoundary.z, v->z));
}

// ------------------------------------------------------------ first person

CFirstPersonCamera::CFirstPersonCamera() { D3DXMatrixInverse(&m_mCameraWorld, nullptr, &m_mView); }

void CFirstPersonCamera::SetRotateButtons(bool left, bool middle, bool right, bool rotateWithoutButtonDown) {
  m_nActiveButtonMask = (left ? MOUSE_LEFT_BUTTON : 0) | (middle ? MOUSE_MIDDLE_BUTTON : 0) |
                        (right ? MOUSE_RIGHT_BUTTON : 0);
  m_bRotateWithoutButtonDown = rotateWithoutButtonDown;
}

void CFirstPersonCamera::FrameMove(float elapsedTime) {
  if (IsKeyDown(m_aKeys[CAM_RESET])) Reset();
  const bool rotating = (m_nActiveButtonMask & m_nCurrentButtonMask) || m_bRotateWithoutButtonDown;
  GetInput(m_bEnablePositionMovement, rotating);
  UpdateVelocity(elapsedTime);
  const D3DXVECTOR3 posDelta = m_vVelocity * elapsedTime;
  if (rotating) {
    m_fCameraYawAngle += m_vRotVelocity.x;
    m_fCameraPitchAngle += m_bInvertPitch ? -m_vRotVelocity.y : m_vRotVelocity.y;
    m_fCameraPitchAngle = std::fmax(-kHalfPi, std::fmin(kHalfPi, m_fCameraPitchAngle));
  }
  D3DXMATRIX rotation;
  D3DXMatrixRotationYawPitchRoll(&rotation, m_fCameraYawAngle, m_fCameraPitchAngle, 0);
  D3DXVECTOR3 worldUp, worldAhead, posDeltaWorld;
  D3DXVec3TransformCoord(&worldUp, &kUp, &rotation);
  D3DXVec3TransformCoord(&worldAhead, &kAhead, &rotation);
  if (!m_bEnableYAxisMovement) {
    D3DXMATRIX yawOnly;
    D3DXMatrixRotationYawPitchRoll(&yawOnly, m_fCameraYawAngle, 0, 0);
    D3DXVec3TransformCoord(&posDeltaWorld, &posDelta, &yawOnly);
  } else {
    D3DXVec3TransformCoord(&posDeltaWorld, &posDelta, &rotation);
  }
  D3DXVECTOR3 eye = m_vEye + posDeltaWorld;
  if (m_bClipToBoundary) ConstrainToBoundary(&eye);
  const D3DXVECTOR3 lookAt = eye + worldAhead;
  D3DXMATRIX inverse;
  if (!SetView(eye, lookAt, worldUp, &inverse)) return;
  m_vEye = eye;
  m_vLookAt = lookAt;
  m_mCameraWorld = inverse;
}

// ------------------------------------------------------------ model viewer

CModelViewerCamera::CModelViewerCamera() {
  D3DXMatrixIdentity(&m_mWorld);
  D3DXMatrixIdentity(&m_mModelRot);
  D3DXMatrixIdentity(&m_mModelLastRot);
  D3DXMatrixIdentity(&m_mCameraRotLast);
}

void CModelViewerCamera::SetViewParams(D3DXVECTOR3* eye, D3DXVECTOR3* lookAt) {
  if (!eye || !lookAt || !ApplyViewParams(*eye, *lookAt)) return;
  D3DXMATRIX rotation;
  D3DXMatrixLookAtLH(&rotation, eye, lookAt, &kUp);
  D3DXQUATERNION q;
  D3DXQuaternionRotationMatrix(&q, &rotation);
  m_ViewArcBall.SetQuatNow(q);
  const D3DXVECTOR3 toEye = *eye - *lookAt;
  SetRadius(D3DXVec3Length(&toEye));
}

void CModelViewerCamera::Reset() {
  SetViewParams(&m_vDefaultEye, &m_vDefaultLookAt);
  D3DXMatrixIdentity(&m_mWorld);
  D3DXMatrixIdentity(&m_mModelRot);
  D3DXMatrixIdentity(&m_mModelLastRot);
  D3DXMatrixIdentity(&m_mCameraRotLast);
  m_fRadius = m_fDefaultRadius;
  m_WorldArcBall.Reset();
  m_ViewArcBall.Reset();
}

void CModelViewerCamera::SetDragRect(RECT& rect) {
  CBaseCamera::SetDragRect(rect);
  for (CD3DArcBall* ball : {&m_WorldArcBall, &m_ViewArcBall}) {
    ball->SetOffset(rect.left, rect.top);
    ball->SetWindow(rect.right - rect.left, rect.bottom - rect.top, 0.9f);
  }
}

D3DVIEWPORT9 CModelViewerCamera::GetViewPort() const {
  return D3DVIEWPORT9{0, 0, DWORD(m_WorldArcBall.GetWindowWidth()), DWORD(m_WorldArcBall.GetWindowHeight()), 0.0f,
                      1.0f};
}

namespace {
int ButtonOf(UINT message) {
  switch (message) {
    case WM_LBUTTONDOWN: case WM_LBUTTONDBLCLK: case WM_LBUTTONUP: return MOUSE_LEFT_BUTTON;
    case WM_MBUTTONDOWN: case WM_MBUTTONDBLCLK: case WM_MBUTTONUP: return MOUSE_MIDDLE_BUTTON;
    case WM_RBUTTONDOWN: case WM_RBUTTONDBLCLK: case WM_RBUTTONUP: return MOUSE_RIGHT_BUTTON;
    default: return 0;
  }
}
bool IsPress(UINT m) {
  return m == WM_LBUTTONDOWN || m == WM_LBUTTONDBLCLK || m == WM_MBUTTONDOWN || m == WM_MBUTTONDBLCLK ||
         m == WM_RBUTTONDOWN || m == WM_RBUTTONDBLCLK;
}
bool IsRelease(UINT m) { return m == WM_LBUTTONUP || m == WM_MBUTTONUP || m == WM_RBUTTONUP; }
}  // namespace

LRESULT CModelViewerCamera::HandleMessages(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CBaseCamera::HandleMessages(window, message, wParam, lParam);
  const int x = MessageX(lParam), y = MessageY(lParam);
  const int button = ButtonOf(message);
  if (IsPress(message)) {
    if (m_nRotateModelButtonMask & button) m_WorldArcBall.OnBegin(x, y);
    if (m_nRotateCameraButtonMask & button) m_ViewArcBall.OnBegin(x, y);
  } else if (message == WM_MOUSEMOVE) {
    m_WorldArcBall.OnMove(x, y);
    m_ViewArcBall.OnMove(x, y);
  } else if (IsRelease(message)) {
    if (m_nRotateModelButtonMask & button) m_WorldArcBall.OnEnd();
    if (m_nRotateCameraButtonMask & button) m_ViewArcBall.OnEnd();
  } else if (message == WM_CAPTURECHANGED && reinterpret_cast<HWND>(lParam) != window) {
    m_WorldArcBall.OnEnd();
    m_ViewArcBall.OnEnd();
  }
  if (message >= WM_LBUTTONDOWN && message <= WM_MOUSEWHEEL) m_bDragSinceLastUpdate = true;
  if (message == WM_MOUSEMOVE) m_bDragSinceLastUpdate = true;
  return FALSE;
}

void CModelViewerCamera::FrameMove(float elapsedTime) {
  if (IsKeyDown(m_aKeys[CAM_RESET])) Reset();
  if (!m_bDragSinceLastUpdate && m_cKeysDown == 0) return;
  m_bDragSinceLastUpdate = false;

  GetInput(m_bEnablePositionMovement, m_nCurrentButtonMask != 0);
  UpdateVelocity(elapsedTime);
  const D3DXVECTOR3 posDelta = m_vVelocity * elapsedTime;

  if (m_nMouseWheelDelta && m_nZoomButtonMask == MOUSE_WHEEL) m_fRadius -= m_nMouseWheelDelta * m_fRadius * 0.1f;
  m_fRadius = std::fmin(m_fMaxRadius, std::fmax(m_fMinRadius, m_fRadius));
  m_nMouseWheelDelta = 0;

  D3DXMATRIX viewRotation, cameraRot;
  const D3DXQUATERNION viewQuat = m_ViewArcBall.GetQuatNow();
  D3DXMatrixRotationQuaternion(&viewRotation, &viewQuat);
  if (!D3DXMatrixInverse(&cameraRot, nullptr, &viewRotation)) return;
  D3DXVECTOR3 worldUp, worldAhead, posDeltaWorld;
  D3DXVec3TransformCoord(&worldUp, &kUp, &cameraRot);
  D3DXVec3TransformCoord(&worldAhead, &kAhead, &cameraRot);
  D3DXVec3TransformCoord(&posDeltaWorld, &posDelta, &cameraRot);

  D3DXVECTOR3 lookAt = m_vLookAt + posDeltaWorld;
  if (m_bClipToBoundary) ConstrainToBoundary(&lookAt);
  const D3DXVECTOR3 eye = lookAt - worldAhead * m_fRadius;
  D3DXMATRIX invView;
  // A view that cannot be inverted is refused; the last good one stays.
  if (!SetView(eye, lookAt, worldUp, &invView)) return;
  m_vLookAt = lookAt;
  m_vEye = eye;
  invView._41 = invView._42 = invView._43 = 0;

  D3DXMATRIX modelLastRotInv, modelRot;
  if (!D3DXMatrixInverse(&modelLastRotInv, nullptr, &m_mModelLastRot)) return;
  const D3DXQUATERNION worldQuat = m_WorldArcBall.GetQuatNow();
  D3DXMatrixRotationQuaternion(&modelRot, &worldQuat);
  m_mModelRot *= m_mView * modelLastRotInv * modelRot * invView;
  if (m_ViewArcBall.IsBeingDragged() && m_bAttachCameraToModel && !IsKeyDown(m_aKeys[CAM_CONTROLDOWN])) {
    D3DXMATRIX cameraRotLastInv;
    if (D3DXMatrixInverse(&cameraRotLastInv, nullptr, &m_mCameraRotLast)) m_mModelRot *= cameraRotLastInv * cameraRot;
  }
  m_mCameraRotLast = cameraRot;
  m_mModelLastRot = modelRot;

  D3DXVECTOR3* x = reinterpret_cast<D3DXVECTOR3*>(&m_mModelRot._11);
  D3DXVECTOR3* y = reinterpret_cast<D3DXVECTOR3*>(&m_mModelRot._21);
  D3DXVECTOR3* z = reinterpret_cast<D3DXVECTOR3*>(&m_mModelRot._31);
  D3DXVec3Normalize(x, x);
  D3DXVec3Cross(y, z, x);
  D3DXVec3Normalize(y, y);
  D3DXVec3Cross(z, x, y);
  m_mModelRot._41 = m_vLookAt.x;
  m_mModelRot._42 = m_vLookAt.y;
  m_mModelRot._43 = m_vLookAt.z;

  D3DXMATRIX translation;
  D3DXMatrixTranslation(&translation, -m_vModelCenter.x, -m_vModelCenter.y, -m_vModelCenter.z);
  m_mWorld = translation * m_mModelRot;
}

}  // namespace D3D
