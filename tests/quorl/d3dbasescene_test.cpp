// Base scene and trackball: the ball mapping, drags, panning and zoom,
// messages, and the device a scene owns.
#include <gtest/gtest.h>

#include <cmath>
#include <type_traits>

#include "d3d/d3darcball.h"
#include "d3d/d3dbasescene.h"
#include "d3d/d3dcamera.h"
#include "d3d/d3dfont.h"
#include "d3d9/recorder.h"
#include "fake_cursor_services.h"
#include "fake_window_services.h"
#include "win/messages.h"

namespace {

using D3D::CD3DArcBall;
using D3D::CD3DBaseScene;

// Objects owning device resources cannot be copied (a copy would free them
// twice); the trackball and the cameras hold no pointers and stay copyable.
static_assert(!std::is_copy_constructible_v<CD3DBaseScene> && !std::is_copy_assignable_v<CD3DBaseScene>);
static_assert(!std::is_copy_constructible_v<D3D::CD3DFont> && !std::is_copy_assignable_v<D3D::CD3DFont>);
static_assert(std::is_copy_constructible_v<CD3DArcBall> && std::is_copy_assignable_v<CD3DArcBall>);
static_assert(std::is_copy_constructible_v<D3D::CModelViewerCamera> && std::is_copy_assignable_v<D3D::CModelViewerCamera>);
static_assert(std::is_copy_constructible_v<D3D::CFirstPersonCamera> && std::is_copy_assignable_v<D3D::CFirstPersonCamera>);

LPARAM Point(int x, int y) { return LPARAM((unsigned(y) & 0xFFFF) << 16 | (unsigned(x) & 0xFFFF)); }

void ExpectNear(const D3DXVECTOR3& a, const D3DXVECTOR3& b, float eps = 1e-5f) {
  EXPECT_NEAR(a.x, b.x, eps);
  EXPECT_NEAR(a.y, b.y, eps);
  EXPECT_NEAR(a.z, b.z, eps);
}

bool IsIdentity(const D3DXQUATERNION& q, float eps = 1e-6f) {
  return std::fabs(q.x) < eps && std::fabs(q.y) < eps && std::fabs(q.z) < eps && std::fabs(q.w - 1) < eps;
}

// A scene that exposes its protected state to the tests.
class Scene : public CD3DBaseScene {
 public:
  using CD3DBaseScene::m_fRadius;
  using CD3DBaseScene::m_pd3dDevice;
  using CD3DBaseScene::m_pD3D;
};

TEST(BaseScene, ScreenToVectorMapsTheBall) {
  const float r = 0.85f;
  const struct {
    const char* name;
    int width, height;
    bool mirrored;
    int x, y;
    D3DXVECTOR3 expected;
  } cases[] = {
      {"centre", 200, 200, false, 100, 100, {0, 0, 1}},
      {"rim", 200, 200, false, 100 - int(std::lround(85)), 100, {1, 0, 0}},
      {"outside", 200, 200, false, 100, 300, {0, 1, 0}},
      {"right gives -x", 200, 200, false, 100 + 40, 100, {-40 / (r * 100), 0, std::sqrt(1 - std::pow(40 / (r * 100), 2.0f))}},
      {"mirrored", 200, 200, true, 100 + 40, 100 + 20, {40 / (r * 100), -20 / (r * 100), std::sqrt(1 - std::pow(40 / (r * 100), 2.0f) - std::pow(20 / (r * 100), 2.0f))}},
      {"narrower than 2 is the centre", 1, 1, false, 50, 70, {0, 0, 1}},
      {"zero size is the centre", 0, 0, false, 5, 5, {0, 0, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scene s;
    s.SetSceneDimensions(c.width, c.height);
    s.SetMirrored(c.mirrored);
    const D3DXVECTOR3 v = s.ScreenToVector(c.x, c.y);
    ExpectNear(v, c.expected, 1e-4f);
    EXPECT_NEAR(D3DXVec3Length(&v), 1.0f, 1e-5f);
  }
}

TEST(BaseScene, DragsRotateAndAccumulate) {
  Scene s;
  s.MouseRotateBegin(100, 100);
  s.MouseRotate(100, 100);
  s.MouseRotateEnd();
  EXPECT_TRUE(IsIdentity(s.GetRotation()));

  s.MouseRotateBegin(100, 100);
  s.MouseRotate(130, 100);
  s.MouseRotateEnd();
  const D3DXQUATERNION first = s.GetRotation();
  EXPECT_FALSE(IsIdentity(first));
  s.MouseRotateBegin(100, 100);
  s.MouseRotate(100, 140);
  s.MouseRotateEnd();
  const D3DXVECTOR3 a = CD3DBaseScene().ScreenToVector(100, 100);
  Scene probe;
  const D3DXQUATERNION second = CD3DBaseScene::QuatFromBallPoints(a, probe.ScreenToVector(100, 140));
  D3DXQUATERNION expected;
  D3DXQuaternionMultiply(&expected, &first, &second);
  const D3DXQUATERNION got = s.GetRotation();
  EXPECT_NEAR(got.x, expected.x, 1e-6f);
  EXPECT_NEAR(got.y, expected.y, 1e-6f);
  EXPECT_NEAR(got.z, expected.z, 1e-6f);
  EXPECT_NEAR(got.w, expected.w, 1e-6f);
  D3DXMATRIX m;
  D3DXMatrixRotationQuaternion(&m, &expected);
  EXPECT_NEAR(s.GetRotationMatrix()._12, m._12, 1e-6f);
}

TEST(BaseScene, TranslateAndZoomStepsAccumulate) {
  Scene s;
  s.MouseTranslateBegin(50, 50);
  s.MouseTranslate(40, 50);  // 10 pixels left
  EXPECT_FLOAT_EQ(s.GetTranslationMatrix()._41, -1.0f);
  s.MouseTranslate(40, 40);  // 10 pixels up
  EXPECT_FLOAT_EQ(s.GetTranslationMatrix()._42, 1.0f);
  s.MouseZoom(40, 30);  // 10 more up
  EXPECT_FLOAT_EQ(s.GetTranslationMatrix()._43, 0.25f);
  s.MouseTranslate(30, 30);
  EXPECT_FLOAT_EQ(s.GetTranslationMatrix()._41, -2.0f);

  Scene empty;
  empty.SetSceneDimensions(0, 0);
  empty.MouseTranslateBegin(0, 0);
  empty.MouseTranslate(10, 10);
  empty.MouseZoom(10, 20);
  for (int i = 0; i < 16; ++i) EXPECT_TRUE(std::isfinite(empty.GetTranslationMatrix().m[i / 4][i % 4]));
  EXPECT_EQ(empty.GetTranslationMatrix()._41, 0.0f);
}

TEST(ArcBall, ScreenToVectorWithOffsetAndEmptyArea) {
  test::FakeCursorServices cursor;  // no foreground window: an empty area
  CD3DArcBall ball;
  EXPECT_EQ(ball.GetWindowWidth(), 0);
  ExpectNear(ball.ScreenToVector(17, 3), D3DXVECTOR3(0, 0, 1));
  ball.SetWindow(200, 100, 1.0f);
  ball.SetOffset(10, 20);
  ExpectNear(ball.ScreenToVector(110, 70), D3DXVECTOR3(0, 0, 1));
  ExpectNear(ball.ScreenToVector(10, 70), D3DXVECTOR3(1, 0, 0));
  ExpectNear(ball.ScreenToVector(110, 170), D3DXVECTOR3(0, 1, 0));
  const D3DXVECTOR3 right = ball.ScreenToVector(160, 70);
  EXPECT_NEAR(right.x, -0.5f, 1e-6f);
}

TEST(ArcBall, TakesTheForegroundWindowsClientSize) {
  test::FakeWindowServices windows;
  test::FakeCursorServices cursor;
  cursor.foreground = windows.Add(300, 150);
  CD3DArcBall ball;
  EXPECT_EQ(ball.GetWindowWidth(), 300);
  EXPECT_EQ(ball.GetWindowHeight(), 150);
}

TEST(ArcBall, DragsOnlyFromInsideTheAreaAndCompose) {
  test::FakeCursorServices cursor;
  CD3DArcBall ball;
  ball.SetWindow(100, 100, 0.9f);
  ball.SetOffset(50, 50);
  ball.OnBegin(150, 60);  // right edge is outside
  EXPECT_FALSE(ball.IsBeingDragged());
  ball.OnMove(120, 70);
  EXPECT_TRUE(IsIdentity(ball.GetQuatNow()));
  ball.OnBegin(60, 150);  // bottom edge is outside
  EXPECT_FALSE(ball.IsBeingDragged());
  ball.OnBegin(149, 149);  // last column and row are inside
  EXPECT_TRUE(ball.IsBeingDragged());
  ball.OnEnd();
  ball.OnBegin(50, 50);  // top-left corner is inside
  EXPECT_TRUE(ball.IsBeingDragged());
  ball.OnEnd();

  ball.OnBegin(100, 100);
  ball.OnMove(100, 100);
  ball.OnEnd();
  EXPECT_TRUE(IsIdentity(ball.GetQuatNow()));

  ball.OnBegin(100, 100);
  ball.OnMove(120, 100);
  ball.OnEnd();
  const D3DXQUATERNION first = ball.GetQuatNow();
  ball.OnBegin(100, 100);
  ball.OnMove(100, 80);
  ball.OnEnd();
  const D3DXQUATERNION arc = CD3DArcBall::QuatFromBallPoints(ball.ScreenToVector(100, 100), ball.ScreenToVector(100, 80));
  D3DXQUATERNION expected;
  D3DXQuaternionMultiply(&expected, &first, &arc);
  EXPECT_NEAR(ball.GetQuatNow().x, expected.x, 1e-6f);
  EXPECT_NEAR(ball.GetQuatNow().y, expected.y, 1e-6f);
  D3DXMATRIX m;
  D3DXMatrixRotationQuaternion(&m, &expected);
  EXPECT_NEAR(ball.GetRotationMatrix()->_13, m._13, 1e-6f);
}

TEST(ArcBall, RotationBetweenOppositeVectorsIsAHalfTurn) {
  const D3DXVECTOR3 cases[] = {{1, 0, 0}, {0, 0, 1}, {0.3f, -0.4f, 2}};
  for (const D3DXVECTOR3& a : cases) {
    const D3DXQUATERNION q = D3D::QuaternionRotationBetween(a, -a);
    EXPECT_NEAR(D3DXQuaternionLength(&q), 1.0f, 1e-5f);
    EXPECT_NEAR(q.w, 0.0f, 1e-6f);
    const D3DXVECTOR3 axis(q.x, q.y, q.z);
    EXPECT_NEAR(D3DXVec3Dot(&axis, &a), 0.0f, 1e-5f);
    D3DXMATRIX m;
    D3DXMatrixRotationQuaternion(&m, &q);
    D3DXVECTOR3 turned;
    D3DXVec3TransformCoord(&turned, &a, &m);
    ExpectNear(turned, -a, 1e-5f);
  }
  // Otherwise the rotation takes a onto b.
  const D3DXVECTOR3 a(1, 0, 0), b(0, 2, 0);
  const D3DXQUATERNION q = D3D::QuaternionRotationBetween(a, b);
  D3DXMATRIX m;
  D3DXMatrixRotationQuaternion(&m, &q);
  D3DXVECTOR3 turned;
  D3DXVec3TransformCoord(&turned, &a, &m);
  ExpectNear(turned, D3DXVECTOR3(0, 1, 0), 1e-5f);
}

TEST(ArcBall, HandleMessages) {
  test::FakeCursorServices cursor;
  HWND window = reinterpret_cast<HWND>(0x42);
  HWND other = reinterpret_cast<HWND>(0x43);
  CD3DArcBall ball;
  ball.SetWindow(200, 200, 1.0f);
  ball.SetTranslationRadius(1.0f);

  const struct {
    const char* name;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result;
    bool dragging;
    HWND capture;
  } steps[] = {
      {"left press starts a drag", WM_LBUTTONDOWN, MK_LBUTTON, Point(100, 100), 1, true, window},
      {"left move rotates", WM_MOUSEMOVE, MK_LBUTTON, Point(130, 100), 1, true, window},
      {"own capture change is ignored", WM_CAPTURECHANGED, 0, LPARAM(window), 1, true, window},
      {"foreign capture change ends it", WM_CAPTURECHANGED, 0, LPARAM(other), 1, false, nullptr},
      {"double click starts again", WM_LBUTTONDBLCLK, MK_LBUTTON, Point(100, 100), 1, true, window},
      {"left release ends", WM_LBUTTONUP, 0, Point(100, 100), 1, false, nullptr},
      {"right press captures", WM_RBUTTONDOWN, MK_RBUTTON, Point(100, 100), 1, false, window},
      {"right move pans", WM_MOUSEMOVE, MK_RBUTTON, Point(90, 100), 1, false, window},
      {"right release", WM_RBUTTONUP, 0, Point(90, 100), 1, false, nullptr},
      {"middle press", WM_MBUTTONDOWN, MK_MBUTTON, Point(90, 100), 1, false, window},
      {"middle move zooms", WM_MOUSEMOVE, MK_MBUTTON, Point(90, 80), 1, false, window},
      {"middle release", WM_MBUTTONUP, 0, Point(90, 80), 1, false, nullptr},
      {"plain move", WM_MOUSEMOVE, 0, Point(10, 10), 1, false, nullptr},
      {"other messages", WM_KEYDOWN, 'W', 0, 0, false, nullptr},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.name);
    EXPECT_EQ(ball.HandleMessages(window, s.message, s.wParam, s.lParam), s.result);
    EXPECT_EQ(ball.IsBeingDragged(), s.dragging);
    EXPECT_EQ(cursor.capture, s.capture);
  }
  EXPECT_FALSE(IsIdentity(ball.GetQuatNow()));
  // 10 pixels left over 200 gives -0.1 along x; 20 up gives +0.5 along z.
  EXPECT_FLOAT_EQ(ball.GetTranslationMatrix()->_41, -0.1f);
  EXPECT_FLOAT_EQ(ball.GetTranslationMatrix()->_43, 0.5f);
}

TEST(ArcBall, PanningAnEmptyAreaTakesNoStep) {
  test::FakeCursorServices cursor;
  CD3DArcBall ball;
  HWND window = reinterpret_cast<HWND>(0x42);
  ball.HandleMessages(window, WM_RBUTTONDOWN, MK_RBUTTON, Point(0, 0));
  ball.HandleMessages(window, WM_MOUSEMOVE, MK_RBUTTON, Point(10, 10));
  for (int i = 0; i < 16; ++i) EXPECT_TRUE(std::isfinite(ball.GetTranslationMatrix()->m[i / 4][i % 4]));
  EXPECT_TRUE(D3DXMatrixIsIdentity(reinterpret_cast<const D3DXMATRIX*>(ball.GetTranslationMatrix())));
}

class SceneInit : public ::testing::Test {
 protected:
  void SetUp() override {
    d3d9::ResetAll();
    d3d9::SelectBackend(d3d9::Backend::Recorder);
    live = d3d9::LiveObjectCount();
    window = windows.Add(400, 300);
  }
  void TearDown() override {
    EXPECT_EQ(d3d9::LiveObjectCount(), live);
    const auto log = d3d9::GetLog();
    EXPECT_TRUE(log.violations.empty()) << (log.violations.empty() ? std::string() : log.violations.front());
    d3d9::ResetAll();
  }
  test::FakeWindowServices windows;
  HWND window = nullptr;
  int live = 0;
};

TEST_F(SceneInit, CreatesTheDeviceWithThePresentParametersAndFont) {
  {
    Scene s;
    ASSERT_EQ(s.Init(window), S_OK);
    ASSERT_NE(s.GetDevice(), nullptr);
    const auto log = d3d9::GetLog();
    const D3DPRESENT_PARAMETERS& pp = log.lastPresentParameters;
    EXPECT_EQ(pp.SwapEffect, D3DSWAPEFFECT_DISCARD);
    EXPECT_EQ(pp.Windowed, TRUE);
    EXPECT_EQ(pp.EnableAutoDepthStencil, TRUE);
    EXPECT_EQ(pp.AutoDepthStencilFormat, D3DFMT_D16);
    EXPECT_EQ(pp.BackBufferFormat, D3DFMT_UNKNOWN);
    EXPECT_EQ(pp.BackBufferWidth, 0u);
    EXPECT_EQ(log.lastDeviceType, D3DDEVTYPE_HAL);
    EXPECT_EQ(log.lastBehaviourFlags, DWORD(D3DCREATE_SOFTWARE_VERTEXPROCESSING));
    D3DDEVICE_CREATION_PARAMETERS cp{};
    s.GetDevice()->GetCreationParameters(&cp);
    EXPECT_EQ(cp.hFocusWindow, window);
    EXPECT_NE(s.GetFont()->GetTexture(), nullptr);
    // A second Init replaces the first device.
    ASSERT_EQ(s.Init(window), S_OK);
    s.GetDevice()->BeginScene();
    EXPECT_EQ(s.GetFont()->DrawTextA(5, 5, 0xFFFFFFFF, "label"), S_OK);
    s.GetDevice()->EndScene();
  }
}

TEST_F(SceneInit, FailuresGiveEFailAndNoDevice) {
  const struct {
    const char* name;
    void (*inject)(d3d9::Faults&);
  } cases[] = {{"no Direct3D", [](d3d9::Faults& f) { f.noDirect3D = true; }},
               {"no device", [](d3d9::Faults& f) { f.failCreateDevice = true; }}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    d3d9::ResetAll();
    d3d9::SelectBackend(d3d9::Backend::Recorder);
    c.inject(d3d9::GetFaults());
    Scene s;
    EXPECT_EQ(s.Init(window), E_FAIL);
    EXPECT_EQ(s.GetDevice(), nullptr);
    EXPECT_EQ(s.m_pD3D, nullptr);
  }
}

TEST_F(SceneInit, AFontThatFailsIsReportedAndTheDeviceKept) {
  d3d9::GetFaults().refuseDynamic = true;  // the font's vertex buffer
  Scene s;
  EXPECT_TRUE(FAILED(s.Init(window)));
  EXPECT_NE(s.GetDevice(), nullptr);
}

}  // namespace

namespace {

TEST(DebugPrint, VectorGoesOutAsThreeFixedPointNumbers) {
  testing::internal::CaptureStderr();
  D3D::PrintVector(D3DXVECTOR3(1.5f, -2, 0.25f));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "1.500000 -2.000000 0.250000 \n ");
}

}  // namespace
