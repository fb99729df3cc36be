// The data view as a window: its toolbar, the back buffer, the panel strip
// under presses, columns after add, insert and remove, refreshed panel texts,
// which camera the image lists and the object editor get when rigs and
// inserted cameras break the entry = camera numbering, and the 3D dialog
// following the entries.
#include "static_data_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QWidget>
#include <QWindow>
#include <QtTest/QTest>
#include <algorithm>
#include <string>
#include <vector>

#include <opencv2/core/core_c.h>

#include "MVG/camera.h"
#include "MVG/stereo_camera.h"
#include "calib_scene_target.h"
#include "calibration/calibration_data_store.h"
#include "calibration/calibration_files.h"
#include "data_view_host/data_view_host.h"
#include "image_list_control.h"
#include "object_edit_dlg.h"
#include "source_details_panel.h"
#include "square90_camera.h"
#include "win/prompts.h"
#include "win/window.h"
#include "window_test_support.h"

namespace {

using window_test::Settle;
using window_test::SkinFolder;
::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new window_test::GdiplusEnvironment);

// What the view asked of the 3D dialog, in order.
class RecordingScenes : public ICalibSceneTarget {
 public:
  void AddScene(int key, CCamera, double*, double*, int, int, int, double, std::vector<IplImage*>&) override {
    calls.push_back("add " + std::to_string(key));
  }
  void AddStereoScene(int key, CStereoCamera, double*, double*, int, int, int, double, std::vector<IplImage*>&,
                      std::vector<IplImage*>&) override {
    calls.push_back("stereo " + std::to_string(key));
  }
  void RemoveScene(int key) override { calls.push_back("remove " + std::to_string(key)); }
  int GetShownKey() const override { return -1; }
  void OnEntryInserted(int entry) override { calls.push_back("inserted " + std::to_string(entry)); }
  void OnEntryRemoved(int entry) override { calls.push_back("removed " + std::to_string(entry)); }
  void ShowResults() override { calls.push_back("show"); }
  std::vector<std::string> calls;
};

IplImage* Uniform(int grey, int size = 64) {
  IplImage* image = cvCreateImage(cvSize(size, size), IPL_DEPTH_8U, 3);
  cvSet(image, cvScalarAll(grey));
  return image;
}

// Panel i when panel `selected` is grown (-1: none).
CRect ExpectedPanel(int i, int selected) {
  int top = 10 + 35 * i + (selected >= 0 && i > selected ? 75 : 0);
  return CRect(10, top, 200, top + 30 + (i == selected ? 75 : 0));
}

constexpr int kViewWidth = 1400, kViewHeight = 600, kViewLeft = 20, kViewTop = 30;

class DataViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(parent.CreateEx(0, "P", "p", WS_POPUP | WS_VISIBLE, CRect(0, 0, kViewWidth + 40, kViewHeight + 60),
                                nullptr, 0));
    parent.view = &view;
  }
  void TearDown() override {
    view.DestroyWindow();
    if (editor.m_hWnd) editor.DestroyWindow();
    parent.DestroyWindow();
    Settle();
  }
  void Make(const std::string& folder = SkinFolder()) {
    view.SetDataStore(&store);
    view.SetSceneTarget(&scenes);
    view.SetObjectEditor(&editor);
    view.SetProgramFolder(folder);
    ASSERT_TRUE(view.Create("Data View", WS_CHILD | WS_VISIBLE,
                            CRect(kViewLeft, kViewTop, kViewLeft + kViewWidth, kViewTop + kViewHeight), &parent, 1050));
    view.Initialize();
  }
  void MakeEditor() {
    editor.SetAppPath(SkinFolder().c_str());
    editor.SetDataStore(&store);
    ASSERT_TRUE(editor.Create(CObjectEditDlg::IDD));
  }
  void Command(UINT id) { view.SendMessage(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
  void Press(int x, int y) { view.OnLButtonDown(MK_LBUTTON, CPoint(x, y)); }
  void DoubleClick(int x, int y) { view.OnLButtonDblClk(MK_LBUTTON, CPoint(x, y)); }
  // A window's place in the view.
  CRect InView(CWnd& w) {
    CRect rc;
    w.GetWindowRect(&rc);
    view.ScreenToClient(&rc);
    return rc;
  }
  std::uint32_t Pixel(int x, int y) const { return view.BackBuffer()[static_cast<size_t>(y) * view.BufferWidth() + x]; }
  std::string Title(int entry) { return view.GetPanel(entry)->GetTitle(); }
  std::string Text(int entry) { return view.GetPanel(entry)->GetInfoText(); }
  QWindow* TopWindow() { return static_cast<QWidget*>(parent.GetHostWidget())->windowHandle(); }

  DataViewHost parent;
  CalibrationDataStore store;
  RecordingScenes scenes;
  CObjectEditDlg editor;
  CStaticDataView view;
};

TEST_F(DataViewTest, ToolbarButtonsTheirImagesAndTooltips) {
  struct Button {
    UINT id;
    const char* tooltip;
    const char* file;
  };
  const Button buttons[] = {
      {1046, "Insert new camera...", "button_data_insert_camera.png"},
      {1075, "Load camera parameters", "button_open_param.png"},
      {1039, "Calibrate", "button_calib.png"},
      {1042, "Calibrate Stereo", "button_calib2.png"},
      {1074, "Show 3D view", "button_show_extrinsics.png"},
  };
  // A program folder of our own whose strips differ in frame width, so each
  // button shows which file it loaded.
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ASSERT_TRUE(QDir(dir.path()).mkdir("Graphics"));
  for (int n = 0; n < 5; ++n) {
    QImage strip(4 * (20 + n), 32, QImage::Format_ARGB32);
    strip.fill(0xFF808080);
    ASSERT_TRUE(strip.save(dir.path() + "/Graphics/" + buttons[n].file));
  }
  Make(dir.path().toStdString() + "/");
  CToolbarX& bar = view.Toolbar();
  ASSERT_TRUE(bar.m_hWnd);
  EXPECT_EQ(bar.GetDlgCtrlID(), 1024);
  CString text;
  bar.GetWindowText(text);
  EXPECT_STREQ(text, "Toolbar Windows");
  ASSERT_EQ(bar.Buttons().size(), 5u);
  win::ManualClock clock;
  for (int n = 0; n < 5; ++n) {
    SCOPED_TRACE(buttons[n].tooltip);
    CHoverButtonEx* b = bar.Buttons()[n];
    EXPECT_EQ(b->GetDlgCtrlID(), static_cast<int>(buttons[n].id));
    EXPECT_EQ(b->GetParent(), &view);
    EXPECT_EQ(b->FrameWidth(), 20 + n);
    // In one row below the panel strip, left of the separator, 32 apart
    // plus 2; a skinned button takes its strip's frame size.
    const CRect rc = InView(*b);
    EXPECT_EQ(rc.Size(), CSize(20 + n, 32));
    EXPECT_EQ(rc.top, kViewHeight - 47);
    EXPECT_EQ(rc.left, 10 + 34 * n);
    EXPECT_LT(rc.right, CStaticDataView::kSeparatorX);

    CRect onParent;
    b->GetWindowRect(&onParent);
    parent.ScreenToClient(&onParent);
    const CPoint c = onParent.CenterPoint();
    QTest::mouseMove(TopWindow(), QPoint(c.x, c.y));
    clock.Advance(1);
    QTest::mouseMove(TopWindow(), QPoint(c.x + 1, c.y));
    clock.Advance(2000);
    ASSERT_NE(b->ToolTip(), nullptr);
    EXPECT_EQ(b->ToolTip()->ShownText(), buttons[n].tooltip);
    QTest::mouseMove(TopWindow(), QPoint(5, 5));
    clock.Advance(1);
  }
  // The shipped strips load from the program folder too.
  CStaticDataView shipped;
  shipped.SetProgramFolder(SkinFolder());
  ASSERT_TRUE(shipped.Create("Data View", WS_CHILD | WS_VISIBLE, CRect(0, 0, 600, 400), &parent, 1051));
  shipped.Initialize();
  for (CHoverButtonEx* b : shipped.Toolbar().Buttons()) EXPECT_GT(b->FrameWidth(), 0);
  shipped.DestroyWindow();
}

TEST_F(DataViewTest, BackBufferBackgroundSeparatorAndSelectionFrame) {
  Make();
  ASSERT_NE(view.BackBuffer(), nullptr);
  ASSERT_EQ(view.BufferWidth(), kViewWidth);
  ASSERT_EQ(view.BufferHeight(), kViewHeight);
  EXPECT_EQ(Pixel(5, 5), CStaticDataView::kBackground);
  EXPECT_EQ(Pixel(600, 300), CStaticDataView::kBackground);
  EXPECT_EQ(Pixel(215, 10), CStaticDataView::kSeparatorColour);
  EXPECT_EQ(Pixel(215, 300), CStaticDataView::kSeparatorColour);
  EXPECT_EQ(Pixel(215, kViewHeight - 11), CStaticDataView::kSeparatorColour);
  EXPECT_EQ(Pixel(215, 5), CStaticDataView::kBackground);
  EXPECT_EQ(Pixel(215, kViewHeight - 5), CStaticDataView::kBackground);
  EXPECT_EQ(Pixel(214, 300), CStaticDataView::kBackground);
  EXPECT_EQ(Pixel(216, 300), CStaticDataView::kBackground);

  for (int i = 0; i < 3; ++i) Command(CStaticDataView::kInsertCamera);
  Press(100, 50);  // panel 1
  ASSERT_EQ(view.GetSelectedEntry(), 1);
  const CRect r = view.GetPanelRect(1);
  ASSERT_EQ(r, ExpectedPanel(1, 1));
  // The frame lies one pixel outside the grown panel, all round.
  const CPoint frame[] = {{r.left - 1, r.top + 50}, {r.right, r.top + 50}, {100, r.top - 1}, {100, r.bottom},
                          {r.left - 1, r.top - 1}, {r.right, r.bottom}};
  for (const CPoint& p : frame) EXPECT_EQ(Pixel(p.x, p.y), CStaticDataView::kSelectionColour) << p.x << "," << p.y;
  const CRect other = view.GetPanelRect(0);
  EXPECT_EQ(Pixel(100, other.top - 1), CStaticDataView::kBackground);
  EXPECT_EQ(Pixel(r.left - 2, r.top + 50), CStaticDataView::kBackground);
  // A press on no panel takes the frame away.
  Press(100, 400);
  EXPECT_EQ(view.GetSelectedEntry(), -1);
  for (const CPoint& p : frame) EXPECT_EQ(Pixel(p.x, p.y), CStaticDataView::kBackground) << p.x << "," << p.y;
}

TEST_F(DataViewTest, PressSequencesGrowAtMostOnePanel) {
  struct Case {
    const char* what;
    std::vector<CPoint> presses;
    int selected;
  };
  // Three panels at 10, 45 and 80 while none is selected.
  const Case cases[] = {
      {"no press", {}, -1},
      {"panel 0", {{100, 20}}, 0},
      {"panel 2", {{100, 90}}, 2},
      // Panel 1 then panel 2 where it now lies (pushed down by 75).
      {"panel 1, then 2", {{100, 50}, {100, 165}}, 2},
      {"panel 1, then 1 again", {{100, 50}, {100, 100}}, 1},
      {"panel 0, then the gap after it", {{100, 20}, {100, 117}}, -1},
      {"panel 2, then below every panel", {{100, 90}, {100, 300}}, -1},
      {"panel 1, then right of the panels", {{100, 50}, {205, 50}}, -1},
      {"left of the panels", {{5, 20}}, -1},
      {"panel 0, then panel 2, then panel 0", {{100, 20}, {100, 165}, {100, 20}}, 0},
  };
  Make();
  for (int i = 0; i < 3; ++i) Command(CStaticDataView::kInsertCamera);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Press(100, 400);
    ASSERT_EQ(view.GetSelectedEntry(), -1);
    for (const CPoint& p : c.presses) Press(p.x, p.y);
    EXPECT_EQ(view.GetSelectedEntry(), c.selected);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(view.GetPanelRect(i), ExpectedPanel(i, c.selected)) << "panel " << i;
      EXPECT_EQ(InView(*view.GetPanel(i)), ExpectedPanel(i, c.selected)) << "panel window " << i;
    }
  }
}

TEST_F(DataViewTest, ClicksThroughTheParentSelectPanelsAndReachImageLists) {
  Make();
  Command(CStaticDataView::kInsertCamera);
  Command(CStaticDataView::kInsertCamera);
  for (int i = 0; i < 6; ++i) store.AddImage(1, Uniform(40 * i));
  view.GetImageList(1)->RepaintBackBuffer();
  Settle();
  QWindow* window = TopWindow();
  // Panel 1 as the user clicks it: the press passes the panel and the view
  // and comes back through the parent's routing.
  QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, QPoint(kViewLeft + 100, kViewTop + 50));
  Settle();
  EXPECT_EQ(parent.presses, 1);
  EXPECT_EQ(view.GetSelectedEntry(), 1);
  EXPECT_EQ(InView(*view.GetPanel(1)), ExpectedPanel(1, 1));
  // Thumbnail 4 of column 1 (6 to a row, 45 apart from 10): relative to the
  // column, once.
  const CRect column = view.GetColumnRect(1);
  ASSERT_EQ(column, CRect(530, 10, 830, kViewHeight - 10));
  QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier,
                    QPoint(kViewLeft + column.left + 10 + 4 * 45 + 20, kViewTop + column.top + 30));
  Settle();
  EXPECT_EQ(parent.presses, 2);
  EXPECT_EQ(view.GetImageList(1)->GetSelectedIndex(), 4);
  EXPECT_EQ(view.GetImageList(0)->GetSelectedIndex(), -1);
  // The panel selection is the strip's alone.
  EXPECT_EQ(view.GetSelectedEntry(), 1);
  // Between the columns nothing is hit.
  Press(525, 30);
  EXPECT_EQ(view.GetImageList(0)->GetSelectedIndex(), -1);
  EXPECT_EQ(view.GetImageList(1)->GetSelectedIndex(), 4);
}

TEST_F(DataViewTest, ColumnsAfterAddInsertAndRemove) {
  Make();
  for (int i = 0; i < 3; ++i) Command(CStaticDataView::kInsertCamera);
  ASSERT_EQ(store.GetMonoCameraCount(), 3);
  ASSERT_EQ(view.GetColumnCount(), 3);
  Press(100, 50);  // panel 1 grown: the insert must shrink it back
  ASSERT_EQ(view.GetSelectedEntry(), 1);
  Command(CStaticDataView::kInsertCamera);  // added below the grown panel
  EXPECT_EQ(view.GetPanelRect(3), ExpectedPanel(3, 1));

  auto expectLayout = [&](int count) {
    ASSERT_EQ(view.GetColumnCount(), count);
    EXPECT_EQ(view.GetSelectedEntry(), -1);
    std::vector<int> ids;
    for (int e = 0; e < count; ++e) {
      SCOPED_TRACE("entry " + std::to_string(e));
      EXPECT_EQ(InView(*view.GetPanel(e)), ExpectedPanel(e, -1));
      const CRect column(220 + 310 * e, 10, 520 + 310 * e, kViewHeight - 10);
      EXPECT_EQ(view.GetColumnRect(e), column);
      EXPECT_EQ(InView(*view.GetImageList(e)), column);
      EXPECT_EQ(view.GetImageList(e)->GetCurrentCamera(), e);
      EXPECT_EQ(Title(e), "Camera " + std::to_string(e + 1));
      ids.push_back(view.GetPanel(e)->GetDlgCtrlID());
      ids.push_back(view.GetImageList(e)->GetDlgCtrlID());
    }
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end()) << "ids repeat";
  };

  // A source's new stream: a camera inserted at entry 1.
  ASSERT_EQ(store.InsertCamera(1), 1);
  view.InsertCameraColumn(1);
  expectLayout(5);
  EXPECT_EQ(Text(1), "Image files");
  EXPECT_EQ(Text(2), "Not calibrated.");
  EXPECT_EQ(view.GetPanel(1)->GetDlgCtrlID(), 100190 + 4);
  EXPECT_EQ(view.GetImageList(1)->GetDlgCtrlID(), 100123 + 4);

  // Removing entry 0 moves everything up one place.
  Press(100, 20);
  ASSERT_EQ(store.RemoveEntry(0), 1);
  view.RemoveCameraColumn(0);
  expectLayout(4);
  EXPECT_EQ(Text(0), "Image files");
  // The ids of the column that went are not handed out again.
  Command(CStaticDataView::kInsertCamera);
  expectLayout(5);
  EXPECT_EQ(view.GetImageList(4)->GetDlgCtrlID(), 100123 + 5);

  // Out of range: nothing.
  view.InsertCameraColumn(7);
  view.RemoveCameraColumn(5);
  view.RemoveCameraColumn(-1);
  EXPECT_EQ(view.GetColumnCount(), 5);
  EXPECT_EQ(scenes.calls, (std::vector<std::string>{"inserted 1", "removed 0"}));
}

TEST_F(DataViewTest, RefreshPanelsWritesEveryPanelFromTheStore) {
  // A camera whose file makes the field of view 90 degrees both ways.
  const CameraParameters p = Square90Camera();
  QTemporaryDir dir;
  const std::string file = dir.filePath("camera.txt").toStdString();
  ASSERT_TRUE(WriteIntrinsicsFile(file.c_str(), p));

  Make();
  for (int i = 0; i < 2; ++i) Command(CStaticDataView::kInsertCamera);
  ASSERT_TRUE(store.LoadCameraParameters(0, file.c_str()));
  store.SetCalibrated(0);
  const double K[9] = {500, 0, 320, 0, 500, 240, 0, 0, 1}, d[5] = {};
  const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}, quarterTurn[9] = {0, -1, 0, 1, 0, 0, 0, 0, 1};
  const double origin[3] = {}, baseline[3] = {-100, 0, 2.5};
  view.BuildStereoRigPanel(0, 1);
  ASSERT_EQ(store.AddStereoRig(0, 1), 1);
  store.SetStereoCamera(0, CStereoCamera(CCamera(K, d, identity, origin, 640, 480),
                                         CCamera(K, d, quarterTurn, baseline, 640, 480)));
  store.SetCalibrated(2);
  EXPECT_EQ(Title(2), "Stereo Rig 3");
  EXPECT_EQ(Text(2), "Not calibrated.");
  EXPECT_TRUE(view.GetImageList(2)->GetCurrentCamera() == 0 && view.GetImageList(2)->GetRightCamera() == 1);

  for (int e = 0; e < 3; ++e) view.SetPanelText(e, "before", "unchanged");
  view.RefreshPanels(999);
  for (int e = 0; e < 3; ++e) EXPECT_TRUE(Title(e) == "before" && Text(e) == "unchanged") << e;

  view.RefreshPanels(1000);
  EXPECT_EQ(Title(0), "Camera 1");
  EXPECT_EQ(Text(0),
            "F: 320.0000 240.0000\nP: 319.5000 239.5000\nD: -0.1250 0.0000 0.0625 0.0000\nFOV: 90.0000 90.0000\n"
            "Size: 640 x 480");
  EXPECT_EQ(Title(1), "Camera 2");
  EXPECT_EQ(Text(1), "Not calibrated.");
  EXPECT_EQ(Title(2), "Stereo Rig - Camera 1 & 2");
  EXPECT_EQ(Text(2), "R: [0.000 -1.000 0.000]\n   [1.000 0.000 0.000]\n   [0.000 0.000 1.000]\nT: [ -100.000 0.000 2.500 ]\n");
  // A null title or text keeps the old one.
  view.SetPanelText(1, nullptr, "new");
  EXPECT_TRUE(Title(1) == "Camera 2" && Text(1) == "new");
}

// [cam, cam, rig(0, 1), cam] and the same with a camera inserted between the
// rig's cameras: what each column shows and what a double click opens.
TEST_F(DataViewTest, EntriesAndCamerasApartFromRigsAndInsertedCameras) {
  MakeEditor();
  Make();
  Command(CStaticDataView::kInsertCamera);
  Command(CStaticDataView::kInsertCamera);
  view.BuildStereoRigPanel(0, 1);
  ASSERT_EQ(store.AddStereoRig(0, 1), 1);
  Command(CStaticDataView::kInsertCamera);
  for (int i = 0; i < 3; ++i) store.AddImage(2, Uniform(100));
  view.RefreshPanels(1000);

  struct Expected {
    const char* title;
    int camera;       // the image list's (left) camera
    int rightCamera;  // -1: a camera's column
  };
  auto check = [&](const std::vector<Expected>& columns) {
    ASSERT_EQ(view.GetColumnCount(), static_cast<int>(columns.size()));
    for (int e = 0; e < view.GetColumnCount(); ++e) {
      SCOPED_TRACE("entry " + std::to_string(e));
      EXPECT_EQ(Title(e), columns[e].title);
      EXPECT_EQ(view.GetImageList(e)->GetCurrentCamera(), columns[e].camera);
      if (columns[e].rightCamera >= 0) {
        EXPECT_EQ(view.GetImageList(e)->GetRightCamera(), columns[e].rightCamera);
      }
    }
  };
  auto doubleClickOn = [&](int entry) {
    const CRect c = view.GetColumnRect(entry);
    DoubleClick(c.left + 100, c.top + 100);
    Settle();
  };
  check({{"Camera 1", 0, -1}, {"Camera 2", 1, -1}, {"Stereo Rig - Camera 1 & 2", 0, 1}, {"Camera 3", 2, -1}});

  // The last camera is camera 2 at entry 3.
  ASSERT_FALSE(editor.IsWindowVisible());
  doubleClickOn(3);
  EXPECT_EQ(editor.Model().Camera(), 2);
  EXPECT_EQ(editor.Model().Image(), 0);
  EXPECT_TRUE(editor.IsWindowVisible());
  // The rig's column opens nothing; left of the columns nothing either.
  editor.ShowWindow(SW_HIDE);
  doubleClickOn(2);
  DoubleClick(100, 20);
  EXPECT_EQ(editor.Model().Camera(), 2);
  EXPECT_FALSE(editor.IsWindowVisible());
  // The main dialog's routing reaches the same handler as a message does.
  const CRect first = view.GetColumnRect(0);
  view.SendMessage(WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(first.left + 50, first.top + 50));
  EXPECT_EQ(editor.Model().Camera(), 0);
  EXPECT_TRUE(editor.IsWindowVisible());

  // A camera inserted between the rig's cameras separates them.
  ASSERT_EQ(store.InsertCamera(1), 1);
  view.InsertCameraColumn(1);
  check({{"Camera 1", 0, -1},
         {"Camera 2", 1, -1},
         {"Camera 3", 2, -1},
         {"Stereo Rig - Camera 1 & 3", 0, 2},
         {"Camera 4", 3, -1}});
  EXPECT_EQ(scenes.calls, (std::vector<std::string>{"inserted 1"}));
  editor.ShowWindow(SW_HIDE);
  doubleClickOn(4);
  EXPECT_EQ(editor.Model().Camera(), 3);
  EXPECT_EQ(store.GetImageCount(editor.Model().Camera()), 3);
  editor.ShowWindow(SW_HIDE);
  doubleClickOn(3);
  EXPECT_EQ(editor.Model().Camera(), 3);
  EXPECT_FALSE(editor.IsWindowVisible());

  // Removing the inserted camera joins them again; the rig's scene key moves
  // down with its entry (the dialog is told which entry went).
  ASSERT_EQ(store.RemoveEntry(1), 1);
  view.RemoveCameraColumn(1);
  check({{"Camera 1", 0, -1}, {"Camera 2", 1, -1}, {"Stereo Rig - Camera 1 & 2", 0, 1}, {"Camera 3", 2, -1}});
  EXPECT_EQ(scenes.calls, (std::vector<std::string>{"inserted 1", "removed 1"}));
}

TEST_F(DataViewTest, ClearingAnEntrysImagesDropsItsScene) {
  Make();
  // [camera 0, camera 1, rig(0, 1), camera 3, rig(1, 3)]
  Command(CStaticDataView::kInsertCamera);
  Command(CStaticDataView::kInsertCamera);
  view.BuildStereoRigPanel(0, 1);
  ASSERT_EQ(store.AddStereoRig(0, 1), 1);
  Command(CStaticDataView::kInsertCamera);
  view.BuildStereoRigPanel(1, 3);
  ASSERT_EQ(store.AddStereoRig(1, 3), 1);
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 2; ++i) store.AddImage(c, Uniform(50));
  // A camera's: its own scene and those of the rigs built on it, which show
  // its images too.
  view.ClearEntryImages(0);
  EXPECT_EQ(store.GetImageCount(0), 0);
  EXPECT_EQ(store.GetImageCount(1), 2);
  EXPECT_EQ(view.GetImageList(0)->DrawnCount(), 0);
  EXPECT_EQ(scenes.calls, (std::vector<std::string>{"remove 0", "remove 2"}));
  scenes.calls.clear();
  view.ClearEntryImages(3);
  EXPECT_EQ(store.GetImageCount(2), 0);
  EXPECT_EQ(scenes.calls, (std::vector<std::string>{"remove 3", "remove 4"}));
  // A rig's: both cameras' images, and every scene drawn from them.
  scenes.calls.clear();
  view.ClearEntryImages(2);
  EXPECT_EQ(store.GetImageCount(1), 0);
  EXPECT_EQ(scenes.calls, (std::vector<std::string>{"remove 2", "remove 0", "remove 1", "remove 4"}));
  // Out of range: nothing.
  scenes.calls.clear();
  view.ClearEntryImages(5);
  EXPECT_TRUE(scenes.calls.empty());
}

TEST_F(DataViewTest, WithoutStoreOrColumnsNothingBreaks) {
  view.SetProgramFolder(SkinFolder());
  ASSERT_TRUE(view.Create("Data View", WS_CHILD | WS_VISIBLE, CRect(0, 0, 400, 300), &parent, 1050));
  view.Initialize();
  for (UINT id : {1046u, 1075u, 1039u, 1042u, 1074u, 1066u}) Command(id);
  Press(100, 20);
  Press(300, 20);
  DoubleClick(300, 20);
  view.RefreshPanels(1000);
  view.SetPanelText(0, "x", "y");
  view.ClearEntryImages(0);
  EXPECT_EQ(view.GetColumnCount(), 0);
  EXPECT_EQ(view.GetSelectedEntry(), -1);
  EXPECT_EQ(view.GetPanelRect(0), CRect());
  EXPECT_EQ(view.GetPanel(0), nullptr);
}

// The toolbar's calibration buttons reach the commands with the selected
// entry, and the commands reach the view's panels and the 3D dialog.
TEST_F(DataViewTest, CalibrationButtonsRunOnTheSelectedEntry) {
  win::ScriptedPrompts prompts;
  Make();
  Command(CStaticDataView::kInsertCamera);
  Command(CStaticDataView::kInsertCamera);
  // Camera 2: four usable images of five.
  for (int i = 0; i < 5; ++i) {
    store.AddImage(1, Uniform(60));
    store.SetImageDetected(1, i, true);
  }
  store.DisableImage(1, 4);

  // Nothing selected: nothing happens.
  Command(CStaticDataView::kCalibrate);
  EXPECT_TRUE(prompts.boxes.empty());
  Press(100, 50);  // camera 2's panel
  ASSERT_EQ(view.GetSelectedEntry(), 1);
  Command(CStaticDataView::kCalibrate);
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].text.rfind("The calibration problem is not constrained by less than 5 images!", 0), 0u)
      << prompts.boxes[0].text;
  EXPECT_EQ(Text(1), "Not calibrated.");
  EXPECT_FALSE(store.IsCalibrated(1));
  EXPECT_TRUE(scenes.calls.empty());

  // Load camera parameters on camera 1, then Show 3D view builds its scene.
  CameraParameters p = Square90Camera();
  p.d[0] = p.d[2] = 0;  // without distortion
  QTemporaryDir dir;
  const std::string file = dir.filePath("camera.txt").toStdString();
  ASSERT_TRUE(WriteIntrinsicsFile(file.c_str(), p));
  Press(100, 20);
  ASSERT_EQ(view.GetSelectedEntry(), 0);
  prompts.fileAnswers.push_back({true, {file}});
  Command(CStaticDataView::kLoadCameraParameters);
  ASSERT_EQ(prompts.files.size(), 1u);
  EXPECT_TRUE(store.IsCalibrated(0));
  EXPECT_EQ(Text(0).rfind("F: 320.0000 240.0000\nP: 319.5000 239.5000\n", 0), 0u) << Text(0);
  EXPECT_EQ(Text(1), "Not calibrated.");
  Command(CStaticDataView::kShow3DView);
  EXPECT_EQ(scenes.calls, (std::vector<std::string>{"remove 0", "add 0", "show"}));

  // Calibrate Stereo with the last entry selected has no pair: the message,
  // no rig.
  Press(100, 130);  // camera 2, pushed down by camera 1's growth
  ASSERT_EQ(view.GetSelectedEntry(), 1);
  prompts.boxes.clear();
  Command(CStaticDataView::kCalibrateStereo);
  EXPECT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(view.GetColumnCount(), 2);
  EXPECT_EQ(store.GetEntryCount(), 2);
}

}  // namespace
