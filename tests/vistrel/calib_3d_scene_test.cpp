// The 3D results dialog: its scene list and keys on the recording device,
// the view camera under window messages, and what the view shows on the GL
// back end.
#include "calib_3d_scene.h"

#include <gtest/gtest.h>

#include <opencv2/core/core_c.h>

#include <QTest>
#include <QWidget>
#include <QWindow>
#include <cmath>
#include <memory>

#include "d3d9/recorder.h"
#include "win/window_services.h"
#include "window_test_support.h"

namespace {

::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new window_test::GdiplusEnvironment);

LPARAM At(int x, int y) { return MAKELPARAM(WORD(x), WORD(y)); }

// A 100 x 80 camera with fx = fy = 100 and n boards in front of it, each
// turned a little and spread along x.
struct Fixture {
  CCamera camera;
  std::vector<double> R, T;
  std::vector<IplImage*> images;
  Fixture(int n, bool withImages) {
    const double K[9] = {100, 0, 50, 0, 100, 40, 0, 0, 1}, d[4] = {}, I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1},
                 t0[3] = {};
    camera = CCamera(K, d, I, t0, 100, 80);
    const unsigned char colours[3][3] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 255}};  // b, g, r
    for (int i = 0; i < n; ++i) {
      const double a = 0.15 * (i - 1);
      const double r[9] = {std::cos(a), 0, std::sin(a), 0, 1, 0, -std::sin(a), 0, std::cos(a)};
      const double t[3] = {-50.0 + 45 * i, -5.0, 120.0};
      R.insert(R.end(), r, r + 9);
      T.insert(T.end(), t, t + 3);
      if (withImages) {
        IplImage* image = cvCreateImage(cvSize(40, 30), IPL_DEPTH_8U, 3);
        cvSet(image, cvScalar(colours[i % 3][0], colours[i % 3][1], colours[i % 3][2]));
        images.push_back(image);
      }
    }
  }
  ~Fixture() {
    for (IplImage*& i : images) cvReleaseImage(&i);
  }
  void AddTo(CCalib3DScene& d, int key) {
    d.AddScene(key, camera, R.data(), T.data(), int(R.size() / 9), 3, 2, 10.0, images);
  }
};

class Calib3DDialog : public ::testing::Test {
 protected:
  void Open(d3d9::Backend backend, bool failDevice = false) {
    d3d9::ResetAll();
    d3d9::SelectBackend(backend);
    d3d9::GetFaults().failCreateDevice = failDevice;
    live = d3d9::LiveObjectCount();
    dialog = std::make_unique<CCalib3DScene>();
    dialog->SetModeless(true);
    ASSERT_TRUE(dialog->Create(CCalib3DScene::IDD));
    dialog->ShowWindow(SW_SHOW);
  }
  void TearDown() override {
    dialog.reset();
    EXPECT_EQ(d3d9::LiveObjectCount(), live);
    const auto log = d3d9::GetLog();
    EXPECT_TRUE(log.violations.empty()) << (log.violations.empty() ? std::string() : log.violations.front());
    d3d9::ResetAll();
  }
  LRESULT Send(UINT message, WPARAM wp, LPARAM lp) { return dialog->SendMessage(message, wp, lp); }
  int Presents() { return d3d9::GetLog().presents; }

  // What the view shows: its surface, read back.
  std::vector<std::uint32_t> ViewPixels(int* width, int* height) {
    CRect rc;
    dialog->GetView().GetClientRect(&rc);
    *width = rc.Width(), *height = rc.Height();
    std::vector<std::uint32_t> pixels(std::size_t(rc.Width()) * rc.Height());
    EXPECT_TRUE(win::GetWindowServices()->ReadClient(dialog->GetView().GetSafeHwnd(), pixels.data(), rc.Width(),
                                                     rc.Height(), rc.Width() * 4));
    return pixels;
  }

  // A scene point to view pixels through the last frame's transform.
  CPoint Project(const D3DXVECTOR3& p) {
    D3DXVECTOR3 ndc;
    D3DXVec3TransformCoord(&ndc, &p, &dialog->GetLastTransform());
    const CRect& v = dialog->GetViewRect();
    return CPoint(int((ndc.x + 1) * 0.5f * v.Width()), int((1 - ndc.y) * 0.5f * v.Height()));
  }

  int live = 0;
  std::unique_ptr<CCalib3DScene> dialog;
};

// ---------------------------------------------------------------- recorder

TEST_F(Calib3DDialog, KeysSelectionAndRemoval) {
  Open(d3d9::Backend::Recorder);
  ASSERT_TRUE(dialog->IsDeviceReady());
  EXPECT_EQ(dialog->GetShownKey(), -1);
  Fixture f(3, false);
  f.AddTo(*dialog, 4);
  f.AddTo(*dialog, 4);
  EXPECT_EQ(dialog->GetSceneCount(), 1);
  EXPECT_EQ(dialog->GetSelectedIndex(), 0);
  EXPECT_EQ(dialog->GetShownKey(), 4);

  dialog->RemoveScene(99);
  EXPECT_EQ(dialog->GetSceneCount(), 1);
  EXPECT_EQ(dialog->GetShownKey(), 4);

  f.AddTo(*dialog, 7);
  f.AddTo(*dialog, 9);
  ASSERT_EQ(dialog->GetShownKey(), 9);
  // Removing an earlier scene moves the selection down with its scene.
  dialog->RemoveScene(4);
  EXPECT_EQ(dialog->GetSelectedIndex(), 1);
  EXPECT_EQ(dialog->GetShownKey(), 9);
  const int before = Presents();
  dialog->Render();
  EXPECT_EQ(Presents(), before + 1);
  // Removing the selected scene clears the selection; frames go on.
  dialog->RemoveScene(9);
  EXPECT_EQ(dialog->GetSelectedIndex(), -1);
  EXPECT_EQ(dialog->GetShownKey(), -1);
  dialog->Render();
  EXPECT_EQ(Presents(), before + 2);
  D3D::CD3DCalibScene stranger;
  EXPECT_EQ(dialog->SelectScene(&stranger), -1);
  EXPECT_EQ(dialog->SelectScene(dialog->GetScene(0)), 0);
  EXPECT_EQ(dialog->GetShownKey(), 7);
}

TEST_F(Calib3DDialog, KeysFollowTheDataViewsEntries) {
  Open(d3d9::Backend::Recorder);
  Fixture f(1, false);
  struct Step {
    const char* name;
    bool insert;
    int entry;
    std::vector<int> keys;
    int shown;
  };
  // Keys 0, 1, 2 with key 1 shown.
  const Step steps[] = {
      {"insert before the shown entry", true, 1, {0, 2, 3}, 2},
      {"insert after every entry", true, 7, {0, 2, 3}, 2},
      {"remove an earlier entry", false, 0, {1, 2}, 1},
      {"remove a later entry", false, 2, {1}, 1},
      {"remove an absent entry", false, 5, {1}, 1},
      {"remove the shown entry", false, 1, {}, -1},
  };
  for (int key : {0, 1, 2}) f.AddTo(*dialog, key);
  dialog->SelectScene(dialog->GetScene(1));
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    if (s.insert) dialog->OnEntryInserted(s.entry);
    else dialog->OnEntryRemoved(s.entry);
    std::vector<int> keys;
    for (int i = 0; i < dialog->GetSceneCount(); ++i) keys.push_back(dialog->GetKey(i));
    EXPECT_EQ(keys, s.keys);
    EXPECT_EQ(dialog->GetShownKey(), s.shown);
  }
}

TEST_F(Calib3DDialog, ResetViewFramesTheBoxOfEachMode) {
  Open(d3d9::Backend::Recorder);
  Fixture f(3, false);
  f.AddTo(*dialog, 0);
  D3D::CD3DCalibScene* scene = dialog->GetScene(0);
  const struct {
    int mode;
    int box;
    D3DXVECTOR3 eyeDirection;
  } cases[] = {{0, 1, D3DXVECTOR3(1, 1, -1)}, {1, 0, D3DXVECTOR3(1, -1, 1)}, {0, 1, D3DXVECTOR3(1, 1, -1)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    if (dialog->GetViewMode() != c.mode) Send(WM_COMMAND, CCalib3DScene::kCommandOpen, 0);
    ASSERT_EQ(dialog->GetViewMode(), c.mode);
    D3D::CModelViewerCamera& camera = dialog->GetViewCamera();
    const float r = scene->GetSceneRadius(c.box);
    ASSERT_GT(r, 0.0f);
    EXPECT_FLOAT_EQ(camera.GetNearClip(), r / 10);
    EXPECT_FLOAT_EQ(camera.GetFarClip(), r * 10);
    EXPECT_FLOAT_EQ(camera.GetRadius(), 4 * r);
    EXPECT_EQ(*camera.GetLookAtPt(), D3DXVECTOR3(0, 0, 0));
    D3DXVECTOR3 eye = *camera.GetEyePt(), want = c.eyeDirection;
    EXPECT_NEAR(D3DXVec3Length(&eye), 4 * r, 1e-2f * r);
    D3DXVec3Normalize(&eye, &eye);
    D3DXVec3Normalize(&want, &want);
    EXPECT_NEAR(D3DXVec3Dot(&eye, &want), 1.0f, 1e-4f);
    // The world matrix moves the box's centre to the look-at point.
    D3DXVECTOR3 centre = scene->GetSceneCentre(c.box), moved;
    D3DXVec3TransformCoord(&moved, &centre, camera.GetWorldMatrix());
    EXPECT_NEAR(D3DXVec3Length(&moved), 0.0f, 1e-3f * r);
  }
}

TEST_F(Calib3DDialog, AnEmptyBoxStillGivesAFiniteView) {
  Open(d3d9::Backend::Recorder);
  // Loaded parameters and the initial board: no views, a 0 x 0 board.
  Fixture f(0, false);
  testing::internal::CaptureStderr();
  dialog->AddScene(0, f.camera, nullptr, nullptr, 0, 0, 0, 0.0, f.images);
  testing::internal::GetCapturedStderr();
  for (int mode = 0; mode < 2; ++mode) {
    SCOPED_TRACE(mode);
    const D3DXMATRIX& m = dialog->GetLastTransform();
    for (int i = 0; i < 16; ++i) EXPECT_TRUE(std::isfinite((&m._11)[i])) << i;
    EXPECT_FLOAT_EQ(dialog->GetViewCamera().GetNearClip(), 0.1f);
    EXPECT_FLOAT_EQ(dialog->GetViewCamera().GetFarClip(), 10.0f);
    Send(WM_COMMAND, CCalib3DScene::kCommandOpen, 0);
  }
}

TEST_F(Calib3DDialog, CommandsToggleTheModeAndAFlag) {
  Open(d3d9::Backend::Recorder);
  EXPECT_EQ(dialog->GetViewMode(), 0);
  const int before = Presents();
  Send(WM_COMMAND, CCalib3DScene::kCommandOpen, 0);
  EXPECT_EQ(dialog->GetViewMode(), 1);
  Send(WM_COMMAND, CCalib3DScene::kCommandOpen, 0);
  EXPECT_EQ(dialog->GetViewMode(), 0);
  EXPECT_EQ(Presents(), before + 2);  // each reset view renders
  for (UINT id : {CCalib3DScene::kCommandNew, CCalib3DScene::kCommandUnused8, CCalib3DScene::kCommandUnused9})
    Send(WM_COMMAND, id, 0);
  EXPECT_EQ(dialog->GetViewMode(), 0);
  EXPECT_FALSE(dialog->GetUnreadFlag());
  Send(WM_COMMAND, CCalib3DScene::kCommandFlag, 0);
  EXPECT_TRUE(dialog->GetUnreadFlag());
}

TEST_F(Calib3DDialog, LayoutOfToolbarAndView) {
  Open(d3d9::Backend::Recorder);
  CRect client;
  dialog->GetClientRect(&client);
  const CRect& v = dialog->GetViewRect();
  EXPECT_EQ(v, CRect(60, 40, client.Width() - 10, client.Height() - 10));
  CWnd* toolbar = dialog->GetDlgItem(CCalib3DScene::kToolbarId);
  ASSERT_NE(toolbar, nullptr);
  ASSERT_EQ(dialog->GetToolbar().Buttons().size(), 2u);
  EXPECT_TRUE(dialog->GetToolbar().m_bVertical);
  EXPECT_EQ(dialog->GetToolbar().Buttons()[0]->GetDlgCtrlID(), int(CCalib3DScene::kCommandNew));
  EXPECT_EQ(dialog->GetToolbar().Buttons()[1]->GetDlgCtrlID(), int(CCalib3DScene::kCommandOpen));
  CString caption;
  dialog->GetWindowText(caption);
  EXPECT_STREQ(dialog->GetTitle(), "Extrinsic Calibration Results 3D View");
}

TEST_F(Calib3DDialog, MouseDrivesTheViewCamera) {
  Open(d3d9::Backend::Recorder);
  Fixture f(3, false);
  f.AddTo(*dialog, 0);
  D3D::CModelViewerCamera& camera = dialog->GetViewCamera();
  const CRect& v = dialog->GetViewRect();
  // 5 pixels inside the view's top-left corner.
  Send(WM_LBUTTONDOWN, MK_LBUTTON, At(v.left + 5, v.top + 5));
  EXPECT_TRUE(camera.GetWorldArcBall().IsBeingDragged());
  EXPECT_TRUE(camera.IsMouseLButtonDown());
  // A capture change naming the dialog itself keeps the drag.
  Send(WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(dialog->GetSafeHwnd()));
  EXPECT_TRUE(camera.GetWorldArcBall().IsBeingDragged());
  int before = Presents();
  Send(WM_MOUSEMOVE, MK_LBUTTON, At(v.left + 40, v.top + 30));
  EXPECT_EQ(Presents(), before + 1);
  Send(WM_LBUTTONUP, 0, At(v.left + 40, v.top + 30));
  EXPECT_FALSE(camera.GetWorldArcBall().IsBeingDragged());
  // Outside the view no drag starts.
  Send(WM_LBUTTONDOWN, MK_LBUTTON, At(v.left - 5, v.top + 5));
  EXPECT_FALSE(camera.GetWorldArcBall().IsBeingDragged());
  Send(WM_LBUTTONUP, 0, At(v.left - 5, v.top + 5));

  // A wheel notch zooms by a tenth, wherever the pointer is on the screen.
  const float radius = camera.GetRadius();
  Send(WM_MOUSEWHEEL, MAKEWPARAM(0, 120), At(30000, 30000));
  EXPECT_NEAR(camera.GetRadius(), radius * 0.9f, radius * 1e-4f);

  // A right drag renders on every move and on release.
  before = Presents();
  Send(WM_RBUTTONDOWN, MK_RBUTTON, At(v.left + 50, v.top + 50));
  for (int i = 1; i <= 3; ++i) Send(WM_MOUSEMOVE, MK_RBUTTON, At(v.left + 50 + 10 * i, v.top + 50));
  Send(WM_RBUTTONUP, 0, At(v.left + 80, v.top + 50));
  EXPECT_EQ(Presents(), before + 5);
  // Moves without a button render nothing.
  before = Presents();
  Send(WM_MOUSEMOVE, 0, At(v.left + 10, v.top + 10));
  EXPECT_EQ(Presents(), before);
}

TEST_F(Calib3DDialog, RealPressesOverTheViewReachTheCamera) {
  Open(d3d9::Backend::Recorder);
  Fixture f(1, false);
  f.AddTo(*dialog, 0);
  QWindow* top = static_cast<QWidget*>(dialog->GetHostWidget())->windowHandle();
  ASSERT_NE(top, nullptr);
  const CRect& v = dialog->GetViewRect();
  QTest::mousePress(top, Qt::LeftButton, Qt::NoModifier, QPoint(v.left + 5, v.top + 5));
  EXPECT_TRUE(dialog->GetViewCamera().GetWorldArcBall().IsBeingDragged());
  QTest::mouseRelease(top, Qt::LeftButton, Qt::NoModifier, QPoint(v.left + 5, v.top + 5));
  EXPECT_FALSE(dialog->GetViewCamera().GetWorldArcBall().IsBeingDragged());
}

TEST_F(Calib3DDialog, WithoutADeviceNothingIsBuiltAndNothingBreaks) {
  testing::internal::CaptureStderr();
  Open(d3d9::Backend::Recorder, true);
  EXPECT_FALSE(dialog->IsDeviceReady());
  Fixture f(3, true);
  f.AddTo(*dialog, 0);
  EXPECT_EQ(dialog->GetSceneCount(), 0);
  dialog->Render();
  const CRect& v = dialog->GetViewRect();
  Send(WM_LBUTTONDOWN, MK_LBUTTON, At(v.left + 20, v.top + 20));
  Send(WM_MOUSEMOVE, MK_LBUTTON, At(v.left + 40, v.top + 30));
  Send(WM_LBUTTONUP, 0, At(v.left + 40, v.top + 30));
  Send(WM_MOUSEWHEEL, MAKEWPARAM(0, 120), At(0, 0));
  Send(WM_COMMAND, CCalib3DScene::kCommandOpen, 0);
  const std::string err = testing::internal::GetCapturedStderr();
  // Said once.
  EXPECT_EQ(err.find("no Direct3D device"), err.rfind("no Direct3D device"));
  EXPECT_NE(err.find("no Direct3D device"), std::string::npos);
  dialog->GetView().Invalidate();
  dialog->GetView().UpdateWindow();
  int w = 0, h = 0;
  const auto pixels = ViewPixels(&w, &h);
  int white = 0;
  for (std::uint32_t p : pixels) white += (p & 0xFFFFFF) == 0xFFFFFF;
  EXPECT_EQ(white, w * h);
}

// ---------------------------------------------------------------- pixels

bool Near(std::uint32_t p, std::uint32_t want, int tolerance = 40) {
  for (int shift : {0, 8, 16})
    if (std::abs(int(p >> shift & 0xFF) - int(want >> shift & 0xFF)) > tolerance) return false;
  return true;
}

int CountAround(const std::vector<std::uint32_t>& pixels, int w, int h, CPoint c, std::uint32_t colour, int radius) {
  int n = 0;
  for (int y = c.y - radius; y <= c.y + radius; ++y)
    for (int x = c.x - radius; x <= c.x + radius; ++x)
      if (x >= 0 && y >= 0 && x < w && y < h) n += Near(pixels[std::size_t(y) * w + x], colour);
  return n;
}

class Calib3DDialogPixels : public Calib3DDialog {
 protected:
  // The view camera of view i and its quad's middle, in scene coordinates.
  static D3DXVECTOR3 Centre(const Fixture& f, int i) {
    const double* R = &f.R[9 * i];
    const double* T = &f.T[3 * i];
    D3DXVECTOR3 c;
    for (int j = 0; j < 3; ++j) (&c.x)[j] = float(-(R[j] * T[0] + R[3 + j] * T[1] + R[6 + j] * T[2]));
    c.y = -c.y;
    return c;
  }
  // The tip of view i's ray through pixel (u, v), 30 units out.
  static D3DXVECTOR3 Tip(const Fixture& f, int i, double u, double v) {
    const double* R = &f.R[9 * i];
    const double n[3] = {(u - 50) / 100, (v - 40) / 100, 1};
    D3DXVECTOR3 r;
    for (int j = 0; j < 3; ++j) (&r.x)[j] = float(R[j] * n[0] + R[3 + j] * n[1] + R[6 + j] * n[2]);
    D3DXVec3Normalize(&r, &r);
    r.y = -r.y;
    return Centre(f, i) + r * 30.0f;
  }
  // A point of the quad at image fraction (0.3, 0.6): off its diagonals,
  // where the frustum's lines run.
  static D3DXVECTOR3 OnQuad(const Fixture& f, int i) {
    const D3DXVECTOR3 topLeft = Tip(f, i, 0, 0), topRight = Tip(f, i, 100, 0), bottomLeft = Tip(f, i, 0, 80);
    return topLeft + (topRight - topLeft) * 0.3f + (bottomLeft - topLeft) * 0.6f;
  }

  void WorldCentred() { Send(WM_COMMAND, CCalib3DScene::kCommandOpen, 0); }
};

TEST_F(Calib3DDialogPixels, NoSceneShowsWhite) {
  Open(d3d9::Backend::OpenGL);
  ASSERT_TRUE(dialog->IsDeviceReady()) << "no EGL device for the GL back end";
  dialog->Render();
  int w = 0, h = 0;
  const auto pixels = ViewPixels(&w, &h);
  ASSERT_GT(w * h, 0);
  int white = 0;
  for (std::uint32_t p : pixels) white += (p & 0xFFFFFF) == 0xFFFFFF;
  EXPECT_EQ(white, w * h);
}

TEST_F(Calib3DDialogPixels, WorldCentredFrustaFollowTheViewAndSurviveRepaints) {
  Open(d3d9::Backend::OpenGL);
  ASSERT_TRUE(dialog->IsDeviceReady()) << "no EGL device for the GL back end";
  Fixture f(3, true);
  f.AddTo(*dialog, 0);
  WorldCentred();
  const std::uint32_t colours[3] = {0xFF0000, 0x00FF00, 0xFF00FF};
  auto check = [&](const char* when) {
    SCOPED_TRACE(when);
    int w = 0, h = 0;
    const auto pixels = ViewPixels(&w, &h);
    for (int i = 0; i < 3; ++i) {
      EXPECT_GT(CountAround(pixels, w, h, Project(Centre(f, i)), 0x0000FF, 2), 0) << i;
      EXPECT_GT(CountAround(pixels, w, h, Project(OnQuad(f, i)), colours[i], 1), 0) << i;
    }
  };
  check("after the reset view");
  // A left drag turns the model: the marks move with the projections.
  const CRect& v = dialog->GetViewRect();
  const CPoint before = Project(Centre(f, 0));
  Send(WM_LBUTTONDOWN, MK_LBUTTON, At(v.left + v.Width() / 2, v.top + v.Height() / 2));
  for (int i = 1; i <= 4; ++i) Send(WM_MOUSEMOVE, MK_LBUTTON, At(v.left + v.Width() / 2 + 12 * i, v.top + v.Height() / 2));
  Send(WM_LBUTTONUP, 0, At(v.left + v.Width() / 2 + 48, v.top + v.Height() / 2));
  EXPECT_NE(Project(Centre(f, 0)), before);
  check("after a drag");
  // Repainting the whole dialog keeps the scene on the view.
  dialog->Invalidate();
  dialog->UpdateWindow();
  dialog->GetView().Invalidate();
  dialog->GetView().UpdateWindow();
  check("after a repaint");
}

TEST_F(Calib3DDialogPixels, CameraCentredShowsTheChequeredBoards) {
  Open(d3d9::Backend::OpenGL);
  ASSERT_TRUE(dialog->IsDeviceReady()) << "no EGL device for the GL back end";
  Fixture f(3, false);
  f.AddTo(*dialog, 0);
  ASSERT_EQ(dialog->GetViewMode(), 0);
  int w = 0, h = 0;
  const auto pixels = ViewPixels(&w, &h);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    // The board's middle, where its black and white squares meet.
    const double* R = &f.R[9 * i];
    const double* T = &f.T[3 * i];
    D3DXVECTOR3 middle;
    for (int k = 0; k < 3; ++k) (&middle.x)[k] = float(R[3 * k] * 10 + R[3 * k + 1] * 5 + T[k]);
    middle.y = -middle.y;
    const CPoint p = Project(middle);
    EXPECT_GT(CountAround(pixels, w, h, p, 0x000000, 3), 2);
    EXPECT_GT(CountAround(pixels, w, h, p, 0xFFFFFF, 3), 2);
  }
  // Away from the box the view is white.
  EXPECT_EQ(pixels[std::size_t(2) * w + 2] & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(pixels[std::size_t(h - 3) * w + w - 3] & 0xFFFFFF, 0xFFFFFFu);
}

}  // namespace
