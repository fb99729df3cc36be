// Cameras: keys, wheel, view parameters, the model viewer's frame update and
// the first-person pitch limit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "d3d/d3dcamera.h"
#include "fake_cursor_services.h"
#include "win/messages.h"

namespace {

using namespace D3D;

HWND kWindow = reinterpret_cast<HWND>(0x77);

LPARAM Point(int x, int y) { return LPARAM((unsigned(y) & 0xFFFF) << 16 | (unsigned(x) & 0xFFFF)); }
WPARAM Wheel(int delta) { return WPARAM((unsigned(delta) & 0xFFFF) << 16); }

class Viewer : public CModelViewerCamera {
 public:
  using CModelViewerCamera::m_mModelRot;
};

bool SameBits(const D3DXMATRIX& a, const D3DXMATRIX& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(Camera, MapKey) {
  Viewer c;
  const struct {
    UINT key;
    D3DUtil_CameraKeys expected;
  } cases[] = {{VK_LEFT, CAM_STRAFE_LEFT},     {'A', CAM_STRAFE_LEFT},     {VK_NUMPAD0 + 4, CAM_STRAFE_LEFT},
               {VK_RIGHT, CAM_STRAFE_RIGHT},   {'D', CAM_STRAFE_RIGHT},    {VK_NUMPAD0 + 6, CAM_STRAFE_RIGHT},
               {VK_UP, CAM_MOVE_FORWARD},      {'W', CAM_MOVE_FORWARD},    {VK_NUMPAD0 + 8, CAM_MOVE_FORWARD},
               {VK_DOWN, CAM_MOVE_BACKWARD},   {'S', CAM_MOVE_BACKWARD},   {VK_NUMPAD0 + 2, CAM_MOVE_BACKWARD},
               {VK_PRIOR, CAM_MOVE_UP},        {'E', CAM_MOVE_UP},         {VK_NUMPAD0 + 9, CAM_MOVE_UP},
               {VK_NEXT, CAM_MOVE_DOWN},       {'Q', CAM_MOVE_DOWN},       {VK_NUMPAD0 + 3, CAM_MOVE_DOWN},
               {VK_HOME, CAM_RESET},           {VK_CONTROL, CAM_CONTROLDOWN}, {'X', CAM_UNKNOWN},
               {VK_NUMPAD0 + 5, CAM_UNKNOWN},  {VK_SPACE, CAM_UNKNOWN}};
  for (const auto& k : cases) EXPECT_EQ(c.MapKey(k.key), k.expected) << k.key;
  c.HandleMessages(kWindow, WM_KEYDOWN, 'X', 0);
  EXPECT_EQ(c.GetKeysDown(), 0);
}

TEST(Camera, KeyStateCountsEachKeyOnceAndIgnoresStrayReleases) {
  test::FakeCursorServices cursor;
  Viewer c;
  c.HandleMessages(kWindow, WM_KEYDOWN, 'W', 0);
  EXPECT_EQ(c.GetKeyState(CAM_MOVE_FORWARD), 0x81);
  EXPECT_EQ(c.GetKeysDown(), 1);
  c.HandleMessages(kWindow, WM_KEYDOWN, 'W', 0);  // auto-repeat
  EXPECT_EQ(c.GetKeysDown(), 1);
  c.HandleMessages(kWindow, WM_KEYUP, 'W', 0);
  EXPECT_EQ(c.GetKeyState(CAM_MOVE_FORWARD), 0x80);
  EXPECT_TRUE(CBaseCamera::WasKeyDown(c.GetKeyState(CAM_MOVE_FORWARD)));
  EXPECT_FALSE(CBaseCamera::IsKeyDown(c.GetKeyState(CAM_MOVE_FORWARD)));
  EXPECT_EQ(c.GetKeysDown(), 0);
  c.HandleMessages(kWindow, WM_KEYUP, 'S', 0);  // its press went elsewhere
  EXPECT_EQ(c.GetKeysDown(), 0);

  // With the count right, an idle frame is still skipped.
  c.FrameMove(0.1f);
  const D3DXMATRIX view = *c.GetViewMatrix();
  c.FrameMove(0.1f);
  EXPECT_TRUE(SameBits(view, *c.GetViewMatrix()));
}

TEST(Camera, OpposedKeysCancel) {
  test::FakeCursorServices cursor;
  Viewer c;
  D3DXVECTOR3 eye(0, 0, -10), at(0, 0, 0);
  c.SetViewParams(&eye, &at);
  c.HandleMessages(kWindow, WM_KEYDOWN, 'W', 0);
  c.HandleMessages(kWindow, WM_KEYDOWN, 'S', 0);
  c.FrameMove(0.5f);
  EXPECT_NEAR(c.GetLookAtPt()->z, 0.0f, 1e-5f);
  c.HandleMessages(kWindow, WM_KEYUP, 'S', 0);
  c.FrameMove(0.5f);
  EXPECT_NEAR(c.GetLookAtPt()->z, 2.5f, 1e-4f);  // move scaler 5 for half a second
}

TEST(Camera, WheelZoomsByTenthsWithinTheLimits) {
  const struct {
    const char* name;
    float minRadius, maxRadius;
    std::vector<int> deltas;
    float expected;
  } cases[] = {
      {"one notch in", 1, 1000, {120}, 90},
      {"two notches in", 1, 1000, {240}, 80},
      {"out", 1, 1000, {-120}, 110},
      {"minimum", 95, 1000, {240}, 95},
      {"maximum", 1, 120, {-600}, 120},
      {"sub-notch deltas add up", 1, 1000, {40, 40, 40}, 90},
      {"short of a notch", 1, 1000, {40, 40}, 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::FakeCursorServices cursor;
    Viewer v;
    D3DXVECTOR3 eye(0, 0, -100), at(0, 0, 0);
    v.SetViewParams(&eye, &at);
    v.SetRadius(100, c.minRadius, c.maxRadius);
    v.FrameMove(0);
    for (int d : c.deltas) v.HandleMessages(kWindow, WM_MOUSEWHEEL, Wheel(d), 0);
    v.FrameMove(0);
    EXPECT_NEAR(v.GetRadius(), c.expected, 1e-3f);
    EXPECT_NEAR(v.GetEyePt()->z, -c.expected, 1e-3f);
  }
}

TEST(Camera, SetViewParamsGivesRadiusYawAndPitch) {
  test::FakeCursorServices cursor;
  Viewer v;
  D3DXVECTOR3 eye(100, 100, -100), at(0, 0, 30);
  v.SetViewParams(&eye, &at);
  EXPECT_NEAR(v.GetRadius(), 192.09373f, 1e-3f);
  EXPECT_NEAR(v.GetYaw(), std::atan2(-100.0f, 130.0f), 1e-5f);
  EXPECT_NEAR(v.GetPitch(), std::atan2(100.0f, std::sqrt(100.0f * 100 + 130.0f * 130)), 1e-5f);
  // The view survives the next frame's rebuild from the view trackball.
  const D3DXMATRIX view = *v.GetViewMatrix();
  v.FrameMove(0.0f);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(v.GetViewMatrix()->m[i / 4][i % 4], view.m[i / 4][i % 4], 1e-3f) << i;
  EXPECT_NEAR(v.GetEyePt()->x, 100.0f, 1e-3f);
}

TEST(Camera, ViewParamsWithoutAViewAreRefused) {
  test::FakeCursorServices cursor;
  Viewer v;
  D3DXVECTOR3 eye(0, 0, -10), at(0, 0, 0);
  v.SetViewParams(&eye, &at);
  const D3DXMATRIX view = *v.GetViewMatrix();
  D3DXVECTOR3 same(1, 1, 1), up(0, 7, 0), origin(0, 0, 0);
  v.SetViewParams(&same, &same);
  v.SetViewParams(&origin, &up);
  EXPECT_TRUE(SameBits(view, *v.GetViewMatrix()));
  EXPECT_FLOAT_EQ(v.GetRadius(), 10.0f);
  EXPECT_TRUE(std::isfinite(v.GetYaw()));
  v.FrameMove(0);
  for (int i = 0; i < 16; ++i) EXPECT_TRUE(std::isfinite(v.GetViewMatrix()->m[i / 4][i % 4]));
}

TEST(Camera, WorldDragKeepsAnOrthonormalRotationAboutTheModelCentre) {
  test::FakeCursorServices cursor;
  Viewer v;
  D3DXVECTOR3 eye(0, 0, -10), at(0, 0, 0);
  v.SetViewParams(&eye, &at);
  v.SetWindow(200, 200);
  const D3DXVECTOR3 centre(1, 2, 3);
  v.SetModelCenter(centre);
  v.HandleMessages(kWindow, WM_LBUTTONDOWN, MK_LBUTTON, Point(100, 100));
  for (int step = 1; step <= 5; ++step) {
    v.HandleMessages(kWindow, WM_MOUSEMOVE, MK_LBUTTON, Point(100 + 10 * step, 100 + 7 * step));
    v.FrameMove(0.016f);
  }
  v.HandleMessages(kWindow, WM_LBUTTONUP, 0, Point(150, 135));
  const D3DXMATRIX& w = *v.GetWorldMatrix();
  const D3DXVECTOR3 rows[3] = {{w._11, w._12, w._13}, {w._21, w._22, w._23}, {w._31, w._32, w._33}};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(D3DXVec3Dot(&rows[i], &rows[j]), i == j ? 1.0f : 0.0f, 1e-5f);
  EXPECT_GT(std::fabs(w._12) + std::fabs(w._13), 0.05f);  // it did turn
  // Translation(-centre) x rotation: the centre lands on the look-at point.
  D3DXVECTOR3 placed;
  D3DXVec3TransformCoord(&placed, &centre, &w);
  EXPECT_NEAR(placed.x, v.GetLookAtPt()->x, 1e-5f);
  EXPECT_NEAR(placed.y, v.GetLookAtPt()->y, 1e-5f);
  EXPECT_NEAR(placed.z, v.GetLookAtPt()->z, 1e-5f);
  EXPECT_FALSE(v.GetWorldArcBall().IsBeingDragged());
}

TEST(Camera, NoInputChangesNothingBitForBit) {
  test::FakeCursorServices cursor;
  Viewer v;
  D3DXVECTOR3 eye(3, 4, -10), at(0, 1, 0);
  v.SetViewParams(&eye, &at);
  v.FrameMove(0.02f);
  const D3DXMATRIX view = *v.GetViewMatrix(), world = *v.GetWorldMatrix(), proj = *v.GetProjMatrix();
  const D3DXMATRIX modelRot = v.m_mModelRot;
  for (int i = 0; i < 3; ++i) v.FrameMove(0.02f);
  EXPECT_TRUE(SameBits(view, *v.GetViewMatrix()));
  EXPECT_TRUE(SameBits(world, *v.GetWorldMatrix()));
  EXPECT_TRUE(SameBits(proj, *v.GetProjMatrix()));
  EXPECT_TRUE(SameBits(modelRot, v.m_mModelRot));
}

TEST(Camera, ButtonsCaptureAndCountOnlyInsideTheDragRectangle) {
  test::FakeCursorServices cursor;
  Viewer v;
  RECT drag{10, 10, 110, 110};
  v.SetDragRect(drag);
  EXPECT_EQ(v.GetWorldArcBall().GetWindowWidth(), 100);
  v.HandleMessages(kWindow, WM_RBUTTONDOWN, MK_RBUTTON, Point(200, 200));
  EXPECT_FALSE(v.IsMouseRButtonDown());
  EXPECT_EQ(cursor.capture, kWindow);
  v.HandleMessages(kWindow, WM_RBUTTONUP, 0, Point(200, 200));
  EXPECT_EQ(cursor.capture, nullptr);
  v.HandleMessages(kWindow, WM_LBUTTONDOWN, MK_LBUTTON, Point(50, 50));
  EXPECT_TRUE(v.IsMouseLButtonDown());
  EXPECT_TRUE(v.GetWorldArcBall().IsBeingDragged());
  v.HandleMessages(kWindow, WM_CAPTURECHANGED, 0, LPARAM(0x999));
  EXPECT_FALSE(v.IsBeingDragged());
  EXPECT_FALSE(v.GetWorldArcBall().IsBeingDragged());
  const D3DVIEWPORT9 vp = v.GetViewPort();
  EXPECT_EQ(vp.Width, 100u);
  EXPECT_EQ(vp.MaxZ, 1.0f);
}

TEST(FirstPersonCamera, PitchStopsAtAQuarterTurn) {
  test::FakeCursorServices cursor;
  CFirstPersonCamera c;
  c.SetRotateButtons(false, false, false, true);
  for (int frame = 0; frame < 20; ++frame) {
    cursor.cursor.y += 100000;
    c.FrameMove(0.016f);
    EXPECT_LE(c.GetPitch(), 1.5707964f);
  }
  EXPECT_FLOAT_EQ(c.GetPitch(), 1.5707964f);
  for (int frame = 0; frame < 40; ++frame) {
    cursor.cursor.y -= 100000;
    c.FrameMove(0.016f);
    EXPECT_GE(c.GetPitch(), -1.5707964f);
  }
  EXPECT_FLOAT_EQ(c.GetPitch(), -1.5707964f);
  for (int i = 0; i < 16; ++i) EXPECT_TRUE(std::isfinite(c.GetViewMatrix()->m[i / 4][i % 4]));
}

TEST(FirstPersonCamera, WalksAlongItsHeading) {
  test::FakeCursorServices cursor;
  CFirstPersonCamera c;
  c.HandleMessages(kWindow, WM_KEYDOWN, 'W', 0);
  c.FrameMove(1.0f);
  EXPECT_NEAR(c.GetEyePt()->z, 5.0f, 1e-4f);
  EXPECT_NEAR(c.GetWorldAhead()->z, 1.0f, 1e-5f);
}

}  // namespace
