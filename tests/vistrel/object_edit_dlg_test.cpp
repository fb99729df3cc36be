// The object editor's window: its layout, detection through clicks on the
// view and what the view then shows, the commands, the Enter key, the board
// properties, the select cursor and the modeless close.
#include "object_edit_dlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <functional>

#include <opencv2/core/core_c.h>

#include "calibration/calibration_data_store.h"
#include "synthetic_board/synthetic_board.h"
#include "win/app.h"
#include "win/dialog.h"
#include "win/prompts.h"
#include "win/window.h"
#include "window_test_support.h"

namespace {

using window_test::Settle;
using window_test::SkinFolder;
::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new window_test::GdiplusEnvironment);

QWindow* TopWindow(CWnd& w) { return static_cast<QWidget*>(w.GetHostWidget())->windowHandle(); }

IplImage* ToIpl(const cv::Mat& m) {
  IplImage* image = cvCreateImage(cvSize(m.cols, m.rows), IPL_DEPTH_8U, 3);
  cv::Mat dst = cv::cvarrToMat(image);
  m.copyTo(dst);
  return image;
}

IplImage* Uniform(int w, int h, CvScalar bgr) {
  IplImage* image = cvCreateImage(cvSize(w, h), IPL_DEPTH_8U, 3);
  cvSet(image, bgr);
  return image;
}

// A pixel of the view matching pred within a square of half size r.
bool FindNear(CWnd& view, double x, double y, int r, const std::function<bool(int, int, int)>& pred) {
  CClientDC dc(&view);
  for (int dy = -r; dy <= r; ++dy)
    for (int dx = -r; dx <= r; ++dx) {
      const COLORREF c = dc.GetPixel(static_cast<int>(std::lround(x)) + dx, static_cast<int>(std::lround(y)) + dy);
      if (pred(GetRValue(c), GetGValue(c), GetBValue(c))) return true;
    }
  return false;
}
bool Magenta(int r, int g, int b) { return r > 180 && g < 90 && b > 180; }
bool Red(int r, int g, int b) { return r > 180 && g < 70 && b < 70; }
bool Blue(int r, int g, int b) { return r < 70 && g < 70 && b > 180; }

class ObjectEditDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.AddCamera();
    store.SetObjectSettings(0, 25.0, 25.0, 9, 6, 3, 3);
  }
  void TearDown() override {
    if (dlg.m_hWnd) dlg.DestroyWindow();
    Settle();
  }

  void AddBoards(int views) {
    synthetic::Options o;
    o.cameraA = synthetic::CameraA().WithoutDistortion();
    o.views = views;
    o.seed = 21;
    data = synthetic::MakeDataset(o);
    for (const auto& v : data.views) {
      synthetic::RenderOptions r;
      r.color = true;
      store.AddImage(0, ToIpl(synthetic::RenderBoard(o.cameraA, o.board, v.poseA, r)));
    }
  }

  void Open(int camera) {
    dlg.SetAppPath(SkinFolder().c_str());
    dlg.SetDataStore(&store);
    ASSERT_TRUE(dlg.Create(CObjectEditDlg::IDD));
    dlg.OpenForCamera(camera);
    dlg.SetImageIndex(0);
    dlg.ShowWindow(SW_SHOW);
    Settle();
  }

  // The dialog point over an image point.
  CPoint DialogPoint(cv::Point2d p) {
    const auto v = dlg.Model().ImageToView({p.x, p.y});
    return {dlg.ViewRect().left + static_cast<int>(std::lround(v.x)),
            dlg.ViewRect().top + static_cast<int>(std::lround(v.y))};
  }
  void Click(CPoint p, UINT flags = 0) {
    dlg.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON | flags, MAKELPARAM(p.x, p.y));
    dlg.SendMessage(WM_LBUTTONUP, flags, MAKELPARAM(p.x, p.y));
  }
  void Command(int id, int code = BN_CLICKED) { dlg.SendMessage(WM_COMMAND, MAKEWPARAM(id, code), 0); }

  CalibrationDataStore store;
  CObjectEditDlg dlg;
  synthetic::Dataset data;
};

TEST_F(ObjectEditDlgTest, LaysOutItsChildren) {
  store.AddImage(0, Uniform(640, 480, cvScalarAll(90)));
  Open(0);
  CRect client;
  dlg.GetClientRect(&client);
  const CRect& view = dlg.ViewRect();
  EXPECT_EQ(view.TopLeft(), CPoint(59, 40));
  EXPECT_EQ(view.Width(), client.Width() - 69);
  EXPECT_EQ(view.Height(), client.Height() - 99);

  auto rectOf = [&](CWnd* w) {
    CRect rc;
    w->GetWindowRect(&rc);
    dlg.ScreenToClient(&rc);
    return rc;
  };
  const auto& grid = dlg.GridToolbar().Buttons();
  const UINT gridIds[] = {1030, 1011, 1017, 1072, 1067, 1068};
  ASSERT_EQ(grid.size(), 6u);
  for (int n = 0; n < 6; ++n) {
    EXPECT_EQ(rectOf(grid[n]).TopLeft(), CPoint(15, 45 + 38 * n)) << n;
    EXPECT_EQ(grid[n]->GetDlgCtrlID(), static_cast<int>(gridIds[n]));
    EXPECT_EQ(grid[n]->GetParent(), &dlg);
  }
  const auto& images = dlg.ImageToolbar().Buttons();
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[0]->GetDlgCtrlID(), 4);
  EXPECT_EQ(images[1]->GetDlgCtrlID(), 3);
  for (int n = 0; n < 2; ++n) EXPECT_EQ(rectOf(images[n]).TopLeft(), CPoint(view.left + 38 * n, view.bottom + 6));

  ASSERT_NE(dlg.DistortionEdit(), nullptr);
  EXPECT_EQ(rectOf(dlg.DistortionEdit()), CRect(15, 282, 53, 302));
  CString text;
  dlg.DistortionEdit()->GetWindowText(text);
  EXPECT_STREQ(text, "0.0");

  const CRect info = rectOf(dlg.InfoLabel());
  EXPECT_GE(info.left, rectOf(images[1]).right + 5);  // clear of Next
  EXPECT_EQ(info.right, view.right - 5);
  EXPECT_EQ(info.top, view.bottom + 6);
}

TEST_F(ObjectEditDlgTest, FourClicksDetectAndTheViewShowsTheGrid) {
  AddBoards(1);
  Open(0);
  Command(1030);
  ASSERT_TRUE(dlg.Model().SelectMode());
  const auto& c = data.views[0].cornersA;
  const cv::Point2d order[4] = {c[2], c[3], c[1], c[0]};
  for (int i = 0; i < 3; ++i) {
    Click(DialogPoint(order[i]));
    const auto v = dlg.Model().ImageToView({order[i].x, order[i].y});
    EXPECT_TRUE(FindNear(dlg.View(), v.x, v.y, 7, Magenta)) << "mark " << i;
  }
  // The marks of the clicked corners survive a repaint of the view.
  dlg.View().RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  Settle();
  const auto first = dlg.Model().ImageToView({order[0].x, order[0].y});
  EXPECT_TRUE(FindNear(dlg.View(), first.x, first.y, 7, Magenta)) << "mark after repaint";
  Click(DialogPoint(order[3]));
  Settle();
  ASSERT_TRUE(store.IsImageDetected(0, 0));
  ASSERT_EQ(store.GetImagePointCount(0, 0), 54);
  for (int i = 0; i < 54; ++i) {
    EXPECT_NEAR(store.GetImagePoint(0, 0, i).x, data.views[0].truePointsA[i].x, 0.3);
    EXPECT_NEAR(store.GetImagePoint(0, 0, i).y, data.views[0].truePointsA[i].y, 0.3);
  }
  for (int pass = 0; pass < 2; ++pass) {
    for (int i : {0, 13, 40, 53}) {
      const Point2d p = store.GetImagePoint(0, 0, i);
      const auto v = dlg.Model().ImageToView(p);
      EXPECT_TRUE(FindNear(dlg.View(), v.x, v.y, 3, Red)) << "point " << i << " pass " << pass;
    }
    // The outline between points 0 and 8.
    const Point2d a = store.GetImagePoint(0, 0, 0), b = store.GetImagePoint(0, 0, 8);
    const auto m = dlg.Model().ImageToView({(a.x + b.x) / 2, (a.y + b.y) / 2});
    EXPECT_TRUE(FindNear(dlg.View(), m.x, m.y, 3, Blue)) << "outline pass " << pass;
    // A full repaint keeps it all.
    dlg.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Settle();
  }
  EXPECT_NE(dlg.InfoLabel()->GetText().Find("Status: Detected"), -1);
}

// Marking as a user does it, all through the mouse: Select grid pressed
// once, then on each image its four outer corners and Next image. The mode
// stays on from image to image and the cursor over the view says so; a
// second press turns it off and the clicks mark nothing.
TEST_F(ObjectEditDlgTest, OnePressMarksImageAfterImageAndASecondPressEndsIt) {
  AddBoards(4);
  Open(0);
  QWindow* window = TopWindow(dlg);
  auto* top = static_cast<QWidget*>(dlg.GetHostWidget());
  auto centreOf = [&](CWnd* w) {
    CRect rc;
    w->GetWindowRect(&rc);
    dlg.ScreenToClient(&rc);
    return QPoint(rc.CenterPoint().x, rc.CenterPoint().y);
  };
  auto clickAt = [&](QPoint p) {
    QTest::mouseMove(window, p);
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, p);
    Settle();
  };
  // The cursor the user sees over the view: the nearest widget under the
  // point, or above it, that has one of its own.
  const QPoint overView(dlg.ViewRect().CenterPoint().x, dlg.ViewRect().CenterPoint().y);
  auto cursorOverView = [&] {
    QTest::mouseMove(window, overView + QPoint(1, 1));
    QTest::mouseMove(window, overView);
    Settle();
    QWidget* w = top->childAt(overView);
    while (w && w != top && !w->testAttribute(Qt::WA_SetCursor)) w = w->parentWidget();
    if (!w) w = top;
    return w->testAttribute(Qt::WA_SetCursor) ? w->cursor().shape() : Qt::ArrowCursor;
  };
  CWnd* selectGrid = dlg.GridToolbar().Buttons()[0];
  CWnd* nextImage = dlg.ImageToolbar().Buttons()[1];
  auto clickCorners = [&](int image) {
    // Bottom-left first, as the guide says, so x runs to the right.
    const auto& c = data.views[static_cast<size_t>(image)].cornersA;
    for (const cv::Point2d& p : {c[2], c[3], c[1], c[0]}) {
      const CPoint q = DialogPoint(p);
      clickAt(QPoint(q.x, q.y));
    }
  };

  EXPECT_EQ(cursorOverView(), Qt::ArrowCursor);
  clickAt(centreOf(selectGrid));
  ASSERT_TRUE(dlg.Model().SelectMode());
  EXPECT_EQ(cursorOverView(), Qt::CrossCursor);
  for (int image = 0; image < 3; ++image) {
    ASSERT_EQ(dlg.Model().Image(), image);
    clickCorners(image);
    EXPECT_TRUE(store.IsImageDetected(0, image)) << image;
    ASSERT_EQ(store.GetImagePointCount(0, image), 54) << image;
    for (int i : {0, 8, 45, 53}) {
      EXPECT_NEAR(store.GetImagePoint(0, image, i).x, data.views[static_cast<size_t>(image)].truePointsA[i].x, 0.3);
      EXPECT_NEAR(store.GetImagePoint(0, image, i).y, data.views[static_cast<size_t>(image)].truePointsA[i].y, 0.3);
    }
    EXPECT_EQ(cursorOverView(), Qt::CrossCursor) << image;
    clickAt(centreOf(nextImage));
  }
  ASSERT_EQ(dlg.Model().Image(), 3);
  clickAt(centreOf(selectGrid));
  EXPECT_FALSE(dlg.Model().SelectMode());
  EXPECT_EQ(cursorOverView(), Qt::ArrowCursor);
  clickCorners(3);
  EXPECT_FALSE(store.IsImageDetected(0, 3));
  EXPECT_TRUE(store.GetCornerPointList(0, 3)->empty());
  EXPECT_EQ(store.GetImagePointCount(0, 3), 0);
}

// A click in select mode on a marked image: nothing while the image holds
// the four corners it was marked with here; on an image whose grid came
// without its corners (as from a project) the clicks are corners again,
// and the fourth replaces the grid. Reset points, then four clicks, re-marks
// either kind.
TEST_F(ObjectEditDlgTest, ClicksOnAMarkedImageAndReMarkingIt) {
  AddBoards(1);
  Open(0);
  const synthetic::View& view = data.views[0];
  const cv::Point2d order[4] = {view.cornersA[2], view.cornersA[3], view.cornersA[1], view.cornersA[0]};
  auto maxMove = [&](const std::vector<Point2d>& from) {
    const std::vector<Point2d>& now = *store.GetImagePointList(0, 0);
    if (now.size() != from.size()) return 1e9;
    double m = 0.0;
    for (size_t i = 0; i < now.size(); ++i) m = std::max(m, std::hypot(now[i].x - from[i].x, now[i].y - from[i].y));
    return m;
  };
  Command(1030);
  for (const cv::Point2d& p : order) Click(DialogPoint(p));
  ASSERT_TRUE(store.IsImageDetected(0, 0));
  const std::vector<Point2d> marked = *store.GetImagePointList(0, 0);

  // Stray clicks on a smaller quadrilateral inside the board (grid points
  // 10, 12, 30 and 28).
  const CPoint stray[4] = {DialogPoint(view.truePointsA[28]), DialogPoint(view.truePointsA[30]),
                           DialogPoint(view.truePointsA[12]), DialogPoint(view.truePointsA[10])};
  // Marked here: the clicks pick nothing.
  for (const CPoint& p : stray) Click(p);
  EXPECT_EQ(store.GetCornerPointList(0, 0)->size(), 4u);
  EXPECT_EQ(maxMove(marked), 0.0);

  // The same grid without its corners, as a project opens it.
  store.GetCornerPointList(0, 0)->clear();
  for (int n = 0; n < 3; ++n) {
    Click(stray[n]);
    EXPECT_EQ(store.GetCornerPointList(0, 0)->size(), static_cast<size_t>(n + 1));
    EXPECT_EQ(maxMove(marked), 0.0) << "fewer than four clicks keep the grid";
  }
  Click(stray[3]);
  EXPECT_TRUE(store.IsImageDetected(0, 0));
  EXPECT_GT(maxMove(marked), 20.0) << "the fourth click predicts a grid from the four";

  // Reset points and four clicks on the board's corners give it back.
  Command(1011);
  EXPECT_FALSE(store.IsImageDetected(0, 0));
  for (const cv::Point2d& p : order) Click(DialogPoint(p));
  ASSERT_TRUE(store.IsImageDetected(0, 0));
  EXPECT_LT(maxMove(marked), 1e-9);
}

TEST_F(ObjectEditDlgTest, PaintsTheImageOfTheCameraNotTheEntry) {
  // Entries [cam, cam, rig, cam, cam]: camera 3 is entry 4.
  store.AddCamera();
  store.AddStereoRig(0, 1);
  store.AddCamera();
  store.AddCamera();
  const int colours[4][3] = {{200, 0, 0}, {0, 200, 0}, {0, 0, 200}, {200, 200, 0}};  // B, G, R
  for (int c = 0; c < 4; ++c)
    store.AddImage(c, Uniform(320, 240, cvScalar(colours[c][0], colours[c][1], colours[c][2])));
  Open(3);
  const COLORREF shown = CClientDC(&dlg.View()).GetPixel(50, 50);
  EXPECT_NEAR(GetBValue(shown), 200, 3);
  EXPECT_NEAR(GetGValue(shown), 200, 3);
  EXPECT_NEAR(GetRValue(shown), 0, 3);
}

TEST_F(ObjectEditDlgTest, MagnifyEnterAndPropertiesThroughTheWindow) {
  AddBoards(1);
  Open(0);
  Command(1072);
  EXPECT_FLOAT_EQ(dlg.Model().Zoom(), 2.0f);
  Command(1072, BN_DOUBLECLICKED);
  EXPECT_FLOAT_EQ(dlg.Model().Zoom(), 1.0f);
  EXPECT_FALSE(dlg.Model().Magnified());

  // Enter in the edit box reads the setting; the dialog stays open.
  dlg.DistortionEdit()->SetWindowText("-1.5");
  dlg.DistortionEdit()->SetFocus();
  QTest::keyClick(TopWindow(dlg), Qt::Key_Return);
  Settle();
  EXPECT_DOUBLE_EQ(dlg.Model().DistortionSetting(), -1.5);
  EXPECT_TRUE(dlg.IsWindowVisible());
  dlg.DistortionEdit()->SetWindowText("x");
  dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  CString text;
  dlg.DistortionEdit()->GetWindowText(text);
  EXPECT_STREQ(text, "-1.5");

  // Grid properties: OK with 10 x 8 squares stores 11 x 9 points.
  for (bool ok : {false, true}) {
    win::SetNextModalHook([&](CDialog& d) {
      d.GetDlgItem(1035)->SetWindowText("10");
      d.GetDlgItem(1037)->SetWindowText("8");
      if (ok) QTest::keyClick(static_cast<QWidget*>(d.GetHostWidget())->windowHandle(), Qt::Key_Return);
      else d.SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    Command(1017);
    Settle();
    const CalibrationObjectSettings s = store.GetObjectSettings(0);
    EXPECT_EQ(s.squaresX, ok ? 11 : 9) << ok;
    EXPECT_EQ(s.squaresY, ok ? 9 : 6) << ok;
  }
}

TEST_F(ObjectEditDlgTest, SelectCursorAndModelessClose) {
  AddBoards(2);
  Open(0);
  const LPARAM hit = MAKELPARAM(HTCLIENT, WM_MOUSEMOVE);
  const HCURSOR select = LoadCursorA(AfxGetResourceHandle(), MAKEINTRESOURCE(148));
  ASSERT_NE(select, nullptr);
  EXPECT_NE(select, LoadCursorA(nullptr, IDC_CROSS));
  dlg.SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(dlg.m_hWnd), hit);
  EXPECT_NE(::GetCursor(), select);
  Command(1030);
  EXPECT_TRUE(dlg.SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(dlg.m_hWnd), hit));
  EXPECT_EQ(::GetCursor(), select);

  Command(3);  // Next image
  EXPECT_EQ(dlg.Model().Image(), 1);
  dlg.TerminateWindow();
  Settle();
  EXPECT_FALSE(dlg.IsWindowVisible());
  dlg.ShowWindow(SW_SHOW);
  Settle();
  EXPECT_TRUE(dlg.IsWindowVisible());
  EXPECT_TRUE(dlg.Model().SelectMode());
  EXPECT_EQ(dlg.Model().Image(), 1);
}

}  // namespace
