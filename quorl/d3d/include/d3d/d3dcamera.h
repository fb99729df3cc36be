#pragma once
// View cameras: keyboard and mouse messages become view and projection
// matrices; the model viewer orbits a model with two trackballs.
#include <climits>

#include "d3d/d3darcball.h"
#include "d3d9/d3dx9.h"
#include "win/types.h"

namespace D3D {

enum D3DUtil_CameraKeys {
  CAM_STRAFE_LEFT = 0,
  CAM_STRAFE_RIGHT,
  CAM_MOVE_FORWARD,
  CAM_MOVE_BACKWARD,
  CAM_MOVE_UP,
  CAM_MOVE_DOWN,
  CAM_RESET,
  CAM_CONTROLDOWN,
  CAM_MAX_KEYS,
  CAM_UNKNOWN = 0xFF
};

constexpr BYTE KEY_IS_DOWN_MASK = 0x01;
constexpr BYTE KEY_WAS_DOWN_MASK = 0x80;
constexpr int MOUSE_LEFT_BUTTON = 0x01;
constexpr int MOUSE_MIDDLE_BUTTON = 0x02;
constexpr int MOUSE_RIGHT_BUTTON = 0x04;
constexpr int MOUSE_WHEEL = 0x08;

class CBaseCamera {
 public:
  CBaseCamera();
  virtual ~CBaseCamera() = default;

  virtual LRESULT HandleMessages(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  virtual void FrameMove(float elapsedTime) = 0;
  virtual void Reset();
  virtual void SetViewParams(D3DXVECTOR3* eye, D3DXVECTOR3* lookAt);
  virtual void SetProjParams(float fov, float aspect, float nearPlane, float farPlane);
  virtual void SetDragRect(RECT& rect) { m_rcDrag = rect; }
  virtual D3DUtil_CameraKeys MapKey(UINT key);

  void SetInvertPitch(bool invert) { m_bInvertPitch = invert; }
  void SetDrag(bool movementDrag, float totalDragTimeToZero = 0.25f) {
    m_bMovementDrag = movementDrag;
    m_fTotalDragTimeToZero = totalDragTimeToZero;
  }
  void SetEnableYAxisMovement(bool enable) { m_bEnableYAxisMovement = enable; }
  void SetEnablePositionMovement(bool enable) { m_bEnablePositionMovement = enable; }
  void SetClipToBoundary(bool clip, D3DXVECTOR3* minimum, D3DXVECTOR3* maximum);
  void SetScalers(float rotation = 0.01f, float move = 5.0f) {
    m_fRotationScaler = rotation;
    m_fMoveScaler = move;
  }
  void SetNumberOfFramesToSmoothMouseData(int frames) {
    if (frames > 0) m_fFramesToSmoothMouseData = float(frames);
  }

  const D3DXMATRIX* GetViewMatrix() const { return &m_mView; }
  const D3DXMATRIX* GetProjMatrix() const { return &m_mProj; }
  const D3DXVECTOR3* GetEyePt() const { return &m_vEye; }
  const D3DXVECTOR3* GetLookAtPt() const { return &m_vLookAt; }
  float GetNearClip() const { return m_fNearPlane; }
  float GetFarClip() const { return m_fFarPlane; }
  float GetYaw() const { return m_fCameraYawAngle; }
  float GetPitch() const { return m_fCameraPitchAngle; }
  int GetKeysDown() const { return m_cKeysDown; }
  BYTE GetKeyState(D3DUtil_CameraKeys key) const { return m_aKeys[key]; }
  bool IsBeingDragged() const { return m_bMouseLButtonDown || m_bMouseMButtonDown || m_bMouseRButtonDown; }
  bool IsMouseLButtonDown() const { return m_bMouseLButtonDown; }
  bool IsMouseMButtonDown() const { return m_bMouseMButtonDown; }
  bool IsMouseRButtonDown() const { return m_bMouseRButtonDown; }
  static bool IsKeyDown(BYTE key) { return (key & KEY_IS_DOWN_MASK) != 0; }
  static bool WasKeyDown(BYTE key) { return (key & KEY_WAS_DOWN_MASK) != 0; }

 protected:
  void GetInput(bool keyboard, bool mouse);
  void UpdateVelocity(float elapsedTime);
  void ConstrainToBoundary(D3DXVECTOR3* v) const;
  // False, with everything kept, when eye and look-at give no view.
  bool ApplyViewParams(const D3DXVECTOR3& eye, const D3DXVECTOR3& lookAt);
  // False, with the view kept, when eye and look-at give no view.
  bool SetView(const D3DXVECTOR3& eye, const D3DXVECTOR3& lookAt, const D3DXVECTOR3& up, D3DXMATRIX* inverse);

  D3DXMATRIX m_mView;
  D3DXMATRIX m_mProj;
  D3DXVECTOR3 m_vGamePadLeftThumb;
  float m_fGamePadRightThumbX = 0, m_fGamePadRightThumbY = 0, m_fGamePadTriggers = 0;
  int m_cKeysDown = 0;
  BYTE m_aKeys[CAM_MAX_KEYS] = {};
  D3DXVECTOR3 m_vKeyboardDirection;
  POINT m_ptLastMousePosition{0, 0};
  bool m_bMouseLButtonDown = false;
  bool m_bMouseMButtonDown = false;
  bool m_bMouseRButtonDown = false;
  int m_nCurrentButtonMask = 0;
  int m_nMouseWheelDelta = 0;
  D3DXVECTOR2 m_vMouseDelta;
  float m_fFramesToSmoothMouseData = 2.0f;
  D3DXVECTOR3 m_vDefaultEye, m_vDefaultLookAt, m_vEye, m_vLookAt;
  float m_fCameraYawAngle = 0, m_fCameraPitchAngle = 0;
  RECT m_rcDrag{INT_MIN, INT_MIN, INT_MAX, INT_MAX};
  D3DXVECTOR3 m_vVelocity;
  bool m_bMovementDrag = false;
  D3DXVECTOR3 m_vVelocityDrag;
  float m_fDragTimer = 0;
  float m_fTotalDragTimeToZero = 0.25f;
  D3DXVECTOR2 m_vRotVelocity;
  float m_fFOV = D3DX_PI / 4, m_fAspect = 1.0f, m_fNearPlane = 1.0f, m_fFarPlane = 1000.0f;
  float m_fRotationScaler = 0.01f;
  float m_fMoveScaler = 5.0f;
  bool m_bInvertPitch = false;
  bool m_bEnablePositionMovement = true;
  bool m_bEnableYAxisMovement = true;
  bool m_bClipToBoundary = false;
  D3DXVECTOR3 m_vMinBoundary{-1, -1, -1};
  D3DXVECTOR3 m_vMaxBoundary{1, 1, 1};
  // Wheel movement short of a whole notch, kept for the next message.
  int m_nWheelRemainder = 0;
};

class CFirstPersonCamera : public CBaseCamera {
 public:
  CFirstPersonCamera();
  void FrameMove(float elapsedTime) override;

  void SetRotateButtons(bool left, bool middle, bool right, bool rotateWithoutButtonDown = false);
  // Kept for callers; the cursor is never moved.
  void SetResetCursorAfterMove(bool reset) { m_bResetCursorAfterMove = reset; }
  const D3DXMATRIX* GetWorldMatrix() const { return &m_mCameraWorld; }
  const D3DXVECTOR3* GetWorldRight() const { return reinterpret_cast<const D3DXVECTOR3*>(&m_mCameraWorld._11); }
  const D3DXVECTOR3* GetWorldUp() const { return reinterpret_cast<const D3DXVECTOR3*>(&m_mCameraWorld._21); }
  const D3DXVECTOR3* GetWorldAhead() const { return reinterpret_cast<const D3DXVECTOR3*>(&m_mCameraWorld._31); }
  const D3DXVECTOR3* GetEyePt() const { return reinterpret_cast<const D3DXVECTOR3*>(&m_mCameraWorld._41); }

 protected:
  D3DXMATRIX m_mCameraWorld;
  int m_nActiveButtonMask = MOUSE_LEFT_BUTTON | MOUSE_MIDDLE_BUTTON | MOUSE_RIGHT_BUTTON;
  bool m_bRotateWithoutButtonDown = false;
  bool m_bResetCursorAfterMove = false;
};

class CModelViewerCamera : public CBaseCamera {
 public:
  CModelViewerCamera();

  LRESULT HandleMessages(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
  void FrameMove(float elapsedTime) override;
  void Reset() override;
  void SetViewParams(D3DXVECTOR3* eye, D3DXVECTOR3* lookAt) override;
  void SetDragRect(RECT& rect) override;

  void SetButtonMasks(int rotateModel = MOUSE_LEFT_BUTTON, int zoom = MOUSE_WHEEL,
                      int rotateCamera = MOUSE_RIGHT_BUTTON) {
    m_nRotateModelButtonMask = rotateModel;
    m_nZoomButtonMask = zoom;
    m_nRotateCameraButtonMask = rotateCamera;
  }
  void SetAttachCameraToModel(bool enable) { m_bAttachCameraToModel = enable; }
  void SetWindow(int width, int height, float radius = 0.9f) {
    m_WorldArcBall.SetWindow(width, height, radius);
    m_ViewArcBall.SetWindow(width, height, radius);
  }
  void SetRadius(float defaultRadius = 5.0f, float minRadius = 1.0f, float maxRadius = 3.402823466e+38f) {
    m_fDefaultRadius = m_fRadius = defaultRadius;
    m_fMinRadius = minRadius;
    m_fMaxRadius = maxRadius;
    m_bDragSinceLastUpdate = true;
  }
  void SetModelCenter(const D3DXVECTOR3& centre) { m_vModelCenter = centre; }
  void SetLimitPitch(bool limit) { m_bLimitPitch = limit; }
  void SetViewQuat(const D3DXQUATERNION& q) {
    m_ViewArcBall.SetQuatNow(q);
    m_bDragSinceLastUpdate = true;
  }
  void SetWorldQuat(const D3DXQUATERNION& q) {
    m_WorldArcBall.SetQuatNow(q);
    m_bDragSinceLastUpdate = true;
  }
  const D3DXMATRIX* GetWorldMatrix() const { return &m_mWorld; }
  void SetWorldMatrix(const D3DXMATRIX& world) {
    m_mWorld = world;
    m_bDragSinceLastUpdate = true;
  }
  D3DVIEWPORT9 GetViewPort() const;
  float GetRadius() const { return m_fRadius; }
  CD3DArcBall& GetWorldArcBall() { return m_WorldArcBall; }
  CD3DArcBall& GetViewArcBall() { return m_ViewArcBall; }

 protected:
  CD3DArcBall m_WorldArcBall;
  CD3DArcBall m_ViewArcBall;
  D3DXVECTOR3 m_vModelCenter;
  D3DXMATRIX m_mModelLastRot;
  D3DXMATRIX m_mCameraRotLast;
  D3DXMATRIX m_mModelRot;
  D3DXMATRIX m_mWorld;
  int m_nRotateModelButtonMask = MOUSE_LEFT_BUTTON;
  int m_nZoomButtonMask = MOUSE_WHEEL;
  int m_nRotateCameraButtonMask = MOUSE_RIGHT_BUTTON;
  bool m_bAttachCameraToModel = false;
  bool m_bLimitPitch = false;
  float m_fDefaultRadius = 5.0f;
  float m_fRadius = 5.0f;
  float m_fMinRadius = 1.0f;
  float m_fMaxRadius = 3.402823466e+38f;
  bool m_bDragSinceLastUpdate = true;
};

}  // namespace D3D
