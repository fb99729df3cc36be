// The workbench's main road in one run, headless: the application object
// started in-process, two cameras given the sample's board images, the
// boards marked through the object editor's clicks, mono and stereo
// calibration, the 3D view, Save, a restart, Load and the comparison with
// what was saved. Each step checks what the user would see.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QTest>
#include <QWindow>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "MVG/stereo_camera.h"
#include "application_options_dlg.h"
#include "image_list_control.h"
#include "dshow/devices.h"
#include "object_edit_dlg.h"
#include "source_dialogs.h"
#include "video_capture_control.h"
#include "relative_orientation_dlg.h"
#include "sample_project/sample_project.h"
#include "source_details_panel.h"
#include "static_data_view.h"
#include "vistrel_app.h"
#include "vistrel_dlg.h"
#include "win/dialog.h"
#include "win/prompts.h"
#include "win/window.h"

namespace {

namespace fs = std::filesystem;

const synthetic::Options kTruth = sample_project::Options();
const synthetic::Dataset& Truth() {
  static const synthetic::Dataset data = synthetic::MakeDataset(kTruth);
  return data;
}

fs::path SampleFolder() { return fs::path(QUORL_SOURCE_ROOT) / "sample"; }

void Settle() {
  for (int i = 0; i < 5; ++i) {
    QApplication::processEvents();
    win::PumpMessages();
  }
}

void Command(CWnd& w, UINT id) {
  w.SendMessage(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
  Settle();
}

// A click (or double click) as the user makes it: through the top-level
// window's platform window, so that hit testing picks the window under the
// point (QTest's QWidget overloads would skip it). p is in the top-level
// window's client coordinates, which are its platform window's (no frame).
void Press(CWnd& top, CPoint p, UINT message = WM_LBUTTONDOWN) {
  QWindow* window = static_cast<QWidget*>(top.GetHostWidget())->windowHandle();
  ASSERT_NE(window, nullptr);
  if (message == WM_LBUTTONDBLCLK) QTest::mouseDClick(window, Qt::LeftButton, Qt::NoModifier, QPoint(p.x, p.y));
  else QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, QPoint(p.x, p.y));
  Settle();
}

// A key pressed as the user presses it, with the main window focused.
void Key(CVistrelDlg& d, Qt::Key key) {
  QWidget* host = static_cast<QWidget*>(d.GetHostWidget());
  QApplication::setActiveWindow(host);
  host->setFocus();
  QTest::keyClick(host->windowHandle(), key);
  Settle();
}

// The main dialog point over a point of the data view.
CPoint InDataView(CVistrelDlg& d, CPoint p) { return CPoint(d.DataViewRect().left + p.x, d.DataViewRect().top + p.y); }

void SelectEntry(CVistrelDlg& d, int entry) {
  if (d.DataView().GetSelectedEntry() == entry) return;
  Press(d, InDataView(d, d.DataView().GetPanelRect(entry).CenterPoint()));
}

std::string PanelText(CVistrelDlg& d, int entry) { return d.DataView().GetPanel(entry)->GetInfoText(); }

double AngleBetween(const double* R, const cv::Matx33d& truth) {
  const cv::Matx33d A(R[0], R[1], R[2], R[3], R[4], R[5], R[6], R[7], R[8]);
  const cv::Matx33d D = A * truth.t();
  const double c = std::max(-1.0, std::min(1.0, (D(0, 0) + D(1, 1) + D(2, 2) - 1.0) / 2.0));
  return std::acos(c) * 180.0 / CV_PI;
}

std::vector<std::uint32_t> ViewPixels(CCalib3DScene& scene) {
  CRect rc;
  scene.GetView().GetClientRect(&rc);
  std::vector<std::uint32_t> pixels(static_cast<size_t>(rc.Width()) * rc.Height());
  win::GetWindowServices()->ReadClient(scene.GetView().GetSafeHwnd(), pixels.data(), rc.Width(), rc.Height(),
                                       rc.Width() * 4);
  return pixels;
}

size_t DrawnPixels(CCalib3DScene& scene) {
  CRect rc;
  scene.GetView().GetClientRect(&rc);
  std::vector<std::uint32_t> pixels(static_cast<size_t>(rc.Width()) * rc.Height());
  if (!win::GetWindowServices()->ReadClient(scene.GetView().GetSafeHwnd(), pixels.data(), rc.Width(), rc.Height(),
                                            rc.Width() * 4))
    return 0;
  size_t drawn = 0;
  for (std::uint32_t p : pixels) drawn += (p & 0xFFFFFF) != 0xFFFFFF;
  return drawn;
}

// Runs the application object once; body acts inside the main dialog's
// modal loop and ends it as the user does, with the title bar's exit.
int RunWorkbench(const std::function<void(CVistrelDlg&)>& body) {
  CVistrelApp app;
  win::SetNextModalHook([&](CDialog& main) {
    Settle();
    auto& d = static_cast<CVistrelDlg&>(main);
    body(d);
    Settle();
    d.TerminateWindow();
  });
  EXPECT_FALSE(app.InitInstance());
  return app.ExitInstance();
}

class WorkbenchRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("vistrel_road_" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder / "proj");
    setenv("QUORL_DRIVE_C", folder.c_str(), 1);
  }
  void TearDown() override {
    dshow::ClearFakeDevices();
    fs::remove_all(folder);
  }

  // Camera c's six sample images through the image list's Add images.
  void AddImages(CVistrelDlg& d, int camera) {
    std::vector<std::string> files;
    for (int v = 0; v < sample_project::kViews; ++v)
      files.push_back((SampleFolder() / ("Camera_" + std::to_string(camera) + "_Image_" + std::to_string(v) + ".png"))
                          .string());
    prompts.fileAnswers.push_back({true, files});
    Command(*d.DataView().GetImageList(camera), CImageListControl::kAddImagesId);
  }

  // The four outer corners of images from .. to - 1 clicked in the editor
  // (open on that camera at image from), each followed by Next image.
  void MarkBoards(CVistrelDlg& d, int camera, int from, int to) {
    CObjectEditDlg& editor = d.Editor();
    for (int v = from; v < to; ++v) {
      EXPECT_EQ(editor.Model().Image(), v);
      // Select grid toggles the corner picking, which stays on from image
      // to image.
      if (!editor.Model().SelectMode()) Command(editor, ObjectEditorModel::kSelectGrid);
      ASSERT_TRUE(editor.Model().SelectMode());
      const auto& c = camera == 0 ? Truth().views[v].cornersA : Truth().views[v].cornersB;
      const cv::Point2d order[4] = {c[2], c[3], c[1], c[0]};
      for (const cv::Point2d& p : order) {
        const auto view = editor.Model().ImageToView({p.x, p.y});
        Press(editor, CPoint(editor.ViewRect().left + static_cast<int>(std::lround(view.x)),
                             editor.ViewRect().top + static_cast<int>(std::lround(view.y))));
      }
      EXPECT_TRUE(d.Store().IsImageDetected(camera, v)) << "camera " << camera << " image " << v;
      ASSERT_NE(editor.InfoLabel(), nullptr);
      EXPECT_NE(std::string(editor.InfoLabel()->GetText().GetString()).find("Status: Detected"), std::string::npos)
          << editor.InfoLabel()->GetText().GetString();
      Command(editor, ObjectEditorModel::kNextImage);
    }
  }

  fs::path folder;
  win::ScriptedPrompts prompts;
};

TEST_F(WorkbenchRoad, ImagesMarkedCalibratedSavedAndReloaded) {
  const fs::path project = folder / "proj" / "calib.txt";
  std::vector<std::string> textsBeforeSave;
  CalibrationDataStore* savedStore = nullptr;
  std::vector<CameraParameters> savedParameters;
  std::vector<std::vector<Point2d>> savedPoints;
  CStereoCamera savedRig;

  const int firstExit = RunWorkbench([&](CVistrelDlg& d) {
    // start
    CString text;
    d.GetWindowText(text);
    EXPECT_STREQ(text, "Vistrel Toolkit");
    EXPECT_EQ(d.Toolbar().Buttons().size(), 4u);
    EXPECT_STREQ(d.SourcesTitle().GetText(), "Source View");
    EXPECT_STREQ(d.DataTitle().GetText(), "Calibration Data View");

    // images
    Command(d.DataView(), CStaticDataView::kInsertCamera);
    Command(d.DataView(), CStaticDataView::kInsertCamera);
    ASSERT_EQ(d.DataView().GetColumnCount(), 2);
    EXPECT_EQ(d.DataView().GetPanel(0)->GetTitle(), "Camera 1");
    EXPECT_EQ(d.DataView().GetPanel(1)->GetTitle(), "Camera 2");
    EXPECT_EQ(PanelText(d, 0), "Not calibrated.");
    const int panelHeight = d.DataView().GetPanelRect(0).Height();
    SelectEntry(d, 0);
    EXPECT_EQ(d.DataView().GetPanelRect(0).Height(), panelHeight + 75);
    for (int camera = 0; camera < 2; ++camera) {
      AddImages(d, camera);
      ASSERT_EQ(d.Store().GetImageCount(camera), sample_project::kViews);
      for (int v = 0; v < sample_project::kViews; ++v) EXPECT_NE(d.Store().GetThumbnailBitmap(camera, v), nullptr);
    }
    // Thumbnail 3 of camera 1 selected through the main window, then
    // Disable twice: the tint comes and goes with the flag.
    CImageListControl& list = *d.DataView().GetImageList(0);
    const CPoint thumb = list.ThumbnailRects()[3].CenterPoint();
    const CRect column = d.DataView().GetColumnRect(0);
    Press(d, InDataView(d, CPoint(column.left + thumb.x, 10 + thumb.y)));
    ASSERT_EQ(list.GetSelectedIndex(), 3);
    auto thumbPixels = [&] {
      CRect rc;
      list.GetClientRect(&rc);
      std::vector<std::uint32_t> pixels(static_cast<size_t>(rc.Width()) * rc.Height());
      win::GetWindowServices()->ReadClient(list.GetSafeHwnd(), pixels.data(), rc.Width(), rc.Height(), rc.Width() * 4);
      const CRect& r = list.ThumbnailRects()[3];
      std::vector<std::uint32_t> inside;
      for (int y = r.top + 2; y < r.bottom - 2; ++y)
        for (int x = r.left + 2; x < r.right - 2; ++x) inside.push_back(pixels[static_cast<size_t>(y) * rc.Width() + x]);
      return inside;
    };
    const std::vector<std::uint32_t> plain = thumbPixels();
    Command(list, CImageListControl::kDisableId);
    EXPECT_FALSE(d.Store().IsImageEnabled(0, 3));
    EXPECT_NE(thumbPixels(), plain) << "tinted";
    Command(list, CImageListControl::kDisableId);
    EXPECT_TRUE(d.Store().IsImageEnabled(0, 3));
    EXPECT_EQ(thumbPixels(), plain) << "tint gone";

    // mark camera 1's first four images, then "too few"
    Press(d, InDataView(d, d.DataView().GetColumnRect(0).CenterPoint()), WM_LBUTTONDBLCLK);
    ASSERT_TRUE(d.Editor().IsWindowVisible());
    EXPECT_EQ(d.Editor().Model().Camera(), 0);
    std::string squares;
    win::SetNextModalHook([&](CDialog& properties) {
      CString x, y;
      properties.GetDlgItemText(1035, x);  // squares across and down: one fewer than points
      properties.GetDlgItemText(1037, y);
      squares = std::string(x.GetString()) + " " + y.GetString();
      properties.SendMessage(WM_COMMAND, IDOK, 0);
    });
    Command(d.Editor(), ObjectEditorModel::kGridProperties);
    EXPECT_EQ(squares, "8 5");
    MarkBoards(d, 0, 0, 4);
    SelectEntry(d, 0);
    const size_t boxes = prompts.boxes.size();
    Command(d.DataView(), CStaticDataView::kCalibrate);
    ASSERT_EQ(prompts.boxes.size(), boxes + 1);
    EXPECT_NE(prompts.boxes.back().text.find("not constrained"), std::string::npos);
    EXPECT_FALSE(d.Store().IsCalibrated(0));

    // the rest of camera 1, all of camera 2
    MarkBoards(d, 0, 4, sample_project::kViews);
    Press(d, InDataView(d, d.DataView().GetColumnRect(1).CenterPoint()), WM_LBUTTONDBLCLK);
    EXPECT_EQ(d.Editor().Model().Camera(), 1);
    MarkBoards(d, 1, 0, sample_project::kViews);
    d.Editor().TerminateWindow();
    // Every point within 0.2 px, and on the whole far closer.
    double sum = 0;
    int count = 0;
    for (int camera = 0; camera < 2; ++camera)
      for (int v = 0; v < sample_project::kViews; ++v) {
        const auto& truth = camera == 0 ? Truth().views[v].truePointsA : Truth().views[v].truePointsB;
        ASSERT_EQ(d.Store().GetImagePointCount(camera, v), 54);
        for (int i = 0; i < 54; ++i) {
          const Point2d p = d.Store().GetImagePoint(camera, v, i);
          EXPECT_NEAR(p.x, truth[i].x, 0.2);
          EXPECT_NEAR(p.y, truth[i].y, 0.2);
          sum += std::hypot(p.x - truth[i].x, p.y - truth[i].y);
          ++count;
        }
      }
    std::printf("marked points: mean distance to the truth %.4f px\n", sum / count);
    EXPECT_LT(sum / count, 0.1);

    // calibrate
    SelectEntry(d, 0);
    Command(d.DataView(), CStaticDataView::kCalibrate);
    ASSERT_TRUE(d.Store().IsCalibrated(0));
    const std::string calibrated = PanelText(d, 0);
    EXPECT_EQ(calibrated.rfind("F: ", 0), 0u) << calibrated;
    EXPECT_NE(calibrated.find("E: "), std::string::npos);
    EXPECT_NE(calibrated.find("FOV: "), std::string::npos);
    const CameraParameters mono = d.Store().GetCameraParameters(0);
    EXPECT_NEAR(mono.K[0], kTruth.cameraA.fx, 3.0);
    EXPECT_NEAR(mono.K[4], kTruth.cameraA.fy, 3.0);
    EXPECT_NEAR(mono.K[2], kTruth.cameraA.cx, 3.0);
    EXPECT_NEAR(mono.K[5], kTruth.cameraA.cy, 3.0);
    EXPECT_NEAR(mono.d[0], kTruth.cameraA.k1, 0.02);
    double errorX = 0, errorY = 0, distance = 1e9;
    d.Store().GetCalibrationEngine(0)->ComputeReprojectionError(&errorX, &errorY, &distance);
    EXPECT_LT(distance, 0.2);
    EXPECT_TRUE(d.Scene3D().IsWindowVisible());
    EXPECT_GT(DrawnPixels(d.Scene3D()), 0u);
    // The view follows the mouse, and 7 switches between camera- and
    // world-centred.
    CCalib3DScene& scene = d.Scene3D();
    const std::vector<std::uint32_t> before = ViewPixels(scene);
    const CPoint centre = scene.GetViewRect().CenterPoint();
    scene.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(centre.x, centre.y));
    scene.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(centre.x + 40, centre.y + 25));
    scene.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(centre.x + 40, centre.y + 25));
    Settle();
    const std::vector<std::uint32_t> dragged = ViewPixels(scene);
    EXPECT_NE(dragged, before) << "a left drag turns the view";
    POINT screen = centre;
    scene.ClientToScreen(&screen);
    scene.SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(120)), MAKELPARAM(screen.x, screen.y));
    Settle();
    EXPECT_NE(ViewPixels(scene), dragged) << "a wheel notch zooms";
    const int mode = scene.GetViewMode();
    Command(scene, CCalib3DScene::kCommandOpen);
    EXPECT_NE(scene.GetViewMode(), mode);
    Command(scene, CCalib3DScene::kCommandOpen);
    EXPECT_EQ(scene.GetViewMode(), mode);

    // stereo
    SelectEntry(d, 0);
    Command(d.DataView(), CStaticDataView::kCalibrateStereo);
    ASSERT_EQ(d.DataView().GetColumnCount(), 3);
    EXPECT_EQ(d.DataView().GetPanel(2)->GetTitle(), "Stereo Rig - Camera 1 & 2");
    EXPECT_EQ(PanelText(d, 2).rfind("Intrinsic parameters reoptimized!", 0), 0u);
    ASSERT_NE(d.Store().GetStereoCamera(0), nullptr);
    CStereoCamera rig = *d.Store().GetStereoCamera(0);
    EXPECT_LT(AngleBetween(rig.GetRelativeRotation(), kTruth.rigPose.R), 0.1);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(rig.GetRelativeTranslation()[i], kTruth.rigPose.t[i], 2.0);

    // video: a fake device showing camera A's view 1; one grabbed image
    const IplImage* shown = d.Store().GetImage(0, 1);
    ASSERT_NE(shown, nullptr);
    const int width = shown->width, height = shown->height;
    std::vector<unsigned char> bgr(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
      std::memcpy(&bgr[static_cast<size_t>(y) * width * 3], shown->imageData + static_cast<size_t>(y) * shown->widthStep,
                  static_cast<size_t>(width) * 3);
    dshow::FakeDevice device;
    device.name = "Road camera";
    device.formats = {{MEDIASUBTYPE_RGB24, width, height, 30}};
    device.generator = [bgr, width](long, BYTE* out, int w, int h, int stride) {
      for (int y = 0; y < h; ++y) std::memcpy(out + static_cast<size_t>(y) * stride, &bgr[static_cast<size_t>(y) * width * 3], static_cast<size_t>(w) * 3);
    };
    dshow::ClearFakeDevices();
    dshow::AddFakeDevice(device);
    win::SetNextModalHook([](CDialog& select) {
      static_cast<CComboBox*>(select.GetDlgItem(CSourceSelectDlg::kDeviceList))->SetCurSel(0);
      select.SendMessage(WM_COMMAND, IDOK, 0);
    });
    {
      // The status line follows a 100 ms timer: on the test's clock.
      win::ManualClock clock;
      Command(d, CVistrelDlg::kConnect);
      ASSERT_EQ(d.SourcesView().SourceCount(), 1);
      clock.Advance(100);
      const std::string status = d.SourcesView().VideoPanel(0)->StatusLabel().GetText().GetString();
      EXPECT_NE(status.find("Running"), std::string::npos) << status;
    }
    ASSERT_EQ(d.DataView().GetColumnCount(), 4);
    EXPECT_EQ(d.DataView().GetPanel(3)->GetTitle(), "Camera 3");
    CVideoCaptureControl* panel = d.SourcesView().VideoPanel(0);
    ASSERT_NE(panel, nullptr);
    bool grabbed = false;
    for (int tries = 0; tries < 600 && !grabbed; ++tries) {
      panel->CaptureImage();
      grabbed = d.Store().GetImageCount(2) > 0;
      if (!grabbed) {
        Settle();
        usleep(50 * 1000);
      }
    }
    ASSERT_TRUE(grabbed) << "no frame reached the panel";
    const IplImage* grab = d.Store().GetImage(2, 0);
    ASSERT_EQ(grab->width, width);
    ASSERT_EQ(grab->height, height);
    int worst = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width * 3; ++x)
        worst = std::max(worst, std::abs(static_cast<unsigned char>(grab->imageData[static_cast<size_t>(y) * grab->widthStep + x]) -
                                         static_cast<int>(bgr[static_cast<size_t>(y) * width * 3 + x])));
    std::printf("grabbed image: largest channel difference to the shown view %d\n", worst);
    EXPECT_LE(worst, 8) << "the grabbed image differs from the shown view";
    EXPECT_EQ(d.Store().GetImageCount(0), sample_project::kViews);
    EXPECT_EQ(d.Store().GetImageCount(1), sample_project::kViews);

    // save, images as PNG
    win::SetNextModalHook([](CDialog& options) {
      static_cast<CComboBox*>(options.GetDlgItem(CApplicationOptionsDlg::kFormatList))->SetCurSel(1);
      options.SendMessage(WM_COMMAND, IDOK, 0);
    });
    Command(d, CVistrelDlg::kOptions);
    EXPECT_STREQ(d.Options().GetExtension(), "png");
    d.DataView().RefreshPanels(1000);
    for (int e = 0; e < 4; ++e) textsBeforeSave.push_back(PanelText(d, e));
    prompts.fileAnswers.push_back({true, {project.string()}});
    Command(d, CVistrelDlg::kSave);
    savedStore = &d.Store();
    for (int camera = 0; camera < 2; ++camera) {
      savedParameters.push_back(d.Store().GetCameraParameters(camera));
      for (int v = 0; v < sample_project::kViews; ++v) {
        std::vector<Point2d> points;
        for (int i = 0; i < d.Store().GetImagePointCount(camera, v); ++i)
          points.push_back(d.Store().GetImagePoint(camera, v, i));
        savedPoints.push_back(points);
      }
    }
    savedRig = *d.Store().GetStereoCamera(0);
  });
  EXPECT_EQ(firstExit, 0);
  (void)savedStore;

  // the saved files
  std::ifstream file(project);
  std::string first;
  std::getline(file, first);
  EXPECT_EQ(first, "4");
  EXPECT_TRUE(fs::exists(folder / "proj" / "Camera_3_Image_0.png"));
  for (int camera = 0; camera < 2; ++camera) {
    const std::string c = "Camera_" + std::to_string(camera) + "_";
    for (const std::string& name : {c + "Data.txt", c + "Intrinsic.txt", c + "Extrinsic.txt"})
      EXPECT_TRUE(fs::exists(folder / "proj" / name)) << name;
    for (int v = 0; v < sample_project::kViews; ++v) {
      EXPECT_TRUE(fs::exists(folder / "proj" / (c + "Image_" + std::to_string(v) + ".png"))) << v;
      EXPECT_TRUE(fs::exists(folder / "proj" / (c + "Points_" + std::to_string(v) + ".txt"))) << v;
    }
  }
  for (const char* name : {"StereoCamera_01_Data.txt", "StereoCamera_01_Intrinsic_0.txt", "StereoCamera_01_Intrinsic_1.txt"})
    EXPECT_TRUE(fs::exists(folder / "proj" / name)) << name;

  // restart, load, compare
  const int secondExit = RunWorkbench([&](CVistrelDlg& d) {
    EXPECT_EQ(d.DataView().GetColumnCount(), 0);
    prompts.fileAnswers.push_back({true, {project.string()}});
    Command(d, CVistrelDlg::kOpen);
    ASSERT_EQ(d.DataView().GetColumnCount(), 4);
    ASSERT_EQ(d.Store().GetMonoCameraCount(), 3);
    EXPECT_EQ(d.Store().GetImageCount(2), 1);
    size_t list = 0;
    for (int camera = 0; camera < 2; ++camera) {
      ASSERT_EQ(d.Store().GetImageCount(camera), sample_project::kViews);
      const CameraParameters p = d.Store().GetCameraParameters(camera);
      for (int i = 0; i < 9; ++i) EXPECT_NEAR(p.K[i], savedParameters[camera].K[i], 1e-6) << "K" << i;
      for (int i = 0; i < 4; ++i) EXPECT_NEAR(p.d[i], savedParameters[camera].d[i], 1e-6) << "d" << i;
      for (int v = 0; v < sample_project::kViews; ++v, ++list) {
        EXPECT_TRUE(d.Store().IsImageEnabled(camera, v));
        EXPECT_TRUE(d.Store().IsImageDetected(camera, v));
        ASSERT_EQ(static_cast<size_t>(d.Store().GetImagePointCount(camera, v)), savedPoints[list].size());
        for (size_t i = 0; i < savedPoints[list].size(); ++i) {
          EXPECT_NEAR(d.Store().GetImagePoint(camera, v, static_cast<int>(i)).x, savedPoints[list][i].x, 1e-6);
          EXPECT_NEAR(d.Store().GetImagePoint(camera, v, static_cast<int>(i)).y, savedPoints[list][i].y, 1e-6);
        }
      }
    }
    CStereoCamera rig = *d.Store().GetStereoCamera(0);
    const double* R = rig.GetRelativeRotation();
    const double* Rs = savedRig.GetRelativeRotation();
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(R[i], Rs[i], 1e-5);
    const double* T = rig.GetRelativeTranslation();
    const double* Ts = savedRig.GetRelativeTranslation();
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(T[i], Ts[i], 1e-4);
    for (int e = 0; e < 4; ++e) EXPECT_EQ(PanelText(d, e), textsBeforeSave[e]) << e;

    SelectEntry(d, 0);
    Command(d.DataView(), CStaticDataView::kShow3DView);
    EXPECT_EQ(d.Scene3D().GetShownKey(), 0);
    EXPECT_GT(DrawnPixels(d.Scene3D()), 0u);

    // orientation: camera 0, views 0 and 1
    const fs::path orientation = folder / "orientation.txt";
    prompts.fileAnswers.push_back({true, {orientation.string()}});
    std::string output;
    win::SetNextModalHook([&](CDialog& o) {
      auto choose = [&](UINT id, int index) {
        static_cast<CComboBox*>(o.GetDlgItem(id))->SetCurSel(index);
        o.SendMessage(WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(o.GetDlgItem(id)->m_hWnd));
      };
      choose(CRelativeOrientationDlg::kFirstCamera, 0);
      choose(CRelativeOrientationDlg::kSecondCamera, 0);
      choose(CRelativeOrientationDlg::kFirstView, 0);
      choose(CRelativeOrientationDlg::kSecondView, 1);
      Command(o, CRelativeOrientationDlg::kCalculate);
      output = static_cast<CRelativeOrientationDlg&>(o).Output().GetText().GetString();
      Command(o, CRelativeOrientationDlg::kSave);
      o.PostMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    });
    Key(d, Qt::Key_O);
    double values[15] = {};
    EXPECT_EQ(std::sscanf(output.c_str(), "%lf %lf %lf\n%lf %lf %lf\n%lf %lf %lf\n%lf %lf %lf\n%lf %lf %lf", &values[0],
                          &values[1], &values[2], &values[3], &values[4], &values[5], &values[6], &values[7], &values[8],
                          &values[9], &values[10], &values[11], &values[12], &values[13], &values[14]),
              15)
        << output;
    const synthetic::Pose& p0 = Truth().views[0].poseA;
    const synthetic::Pose& p1 = Truth().views[1].poseA;
    const cv::Matx33d trueR = p1.R * p0.R.t();
    const cv::Vec3d trueT = p1.t - trueR * p0.t;
    EXPECT_LT(AngleBetween(values, trueR), 0.5);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(values[9 + i], trueT[i], 2.0) << "T" << i;
    std::ifstream saved(orientation);
    int lines = 0;
    for (std::string line; std::getline(saved, line);) ++lines;
    EXPECT_EQ(lines, 4);

    // screenshot
    Key(d, Qt::Key_W);
    EXPECT_FALSE(fs::exists(folder / "Obj.png"));
    const QImage mainShot(QString::fromStdString((folder / "Main.png").string()));
    CRect client;
    d.GetClientRect(&client);
    EXPECT_EQ(mainShot.width(), client.Width());
    EXPECT_EQ(mainShot.height(), client.Height());
    const QImage sceneShot(QString::fromStdString((folder / "3D.png").string()));
    d.Scene3D().GetClientRect(&client);
    ASSERT_EQ(sceneShot.width(), client.Width());
    ASSERT_EQ(sceneShot.height(), client.Height());
    const CRect& view = d.Scene3D().GetViewRect();
    int drawn = 0;
    for (int y = view.top; y < view.bottom; ++y)
      for (int x = view.left; x < view.right; ++x) drawn += (sceneShot.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF;
    EXPECT_GT(drawn, 0) << "3D.png shows the scene";
  });
  EXPECT_EQ(secondExit, 0);
}

}  // namespace

// Plain offscreen gives an 800 x 800 work area, which the data view's
// columns (220 + n x 310) leave after two: a 1600 x 1000 screen instead.
int main(int argc, char** argv) {
  const fs::path screen = fs::temp_directory_path() / ("vistrel_road_screen_" + std::to_string(::getpid()) + ".json");
  std::ofstream(screen) << R"({"screens": [{"name": "road", "x": 0, "y": 0, "width": 1600, "height": 1000,)"
                        << R"( "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})";
  const std::string platform = "offscreen:configfile=" + screen.string();
  setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
  QApplication app(argc, argv);
  win::EnsureApplication();
  win::ScriptedPrompts headless;
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  win::RunDeferredDestruction();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  fs::remove(screen);
  return rc;
}
