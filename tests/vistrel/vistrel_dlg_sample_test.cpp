// The shipped sample project opened through the main dialog, as a user does (Open, then
// sample/sample_project.txt) and compared with the truth it was made from.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "MVG/stereo_camera.h"
#include "main_dialog_support.h"
#include "sample_project/sample_project.h"
#include "source_details_panel.h"
#include "static_data_view.h"
#include "vistrel_dlg.h"
#include "win/dialog.h"
#include "win/prompts.h"
#include "window_test_support.h"

namespace {

namespace fs = std::filesystem;

::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new window_test::GdiplusEnvironment);

fs::path SampleFolder() { return fs::path(QUORL_SOURCE_ROOT) / "sample"; }

using main_dialog_test::RunMain;

void OpenSample(CVistrelDlg& d, win::ScriptedPrompts& prompts) {
  prompts.fileAnswers.push_back({true, {(SampleFolder() / sample_project::kProjectFile).string()}});
  d.SendMessage(WM_COMMAND, MAKEWPARAM(CVistrelDlg::kOpen, BN_CLICKED), 0);
  window_test::Settle();
}

// Angle in degrees between two rotations.
double AngleBetween(const double* R, const cv::Matx33d& truth) {
  const cv::Matx33d A(R[0], R[1], R[2], R[3], R[4], R[5], R[6], R[7], R[8]);
  const cv::Matx33d D = A * truth.t();
  const double c = std::max(-1.0, std::min(1.0, (D(0, 0) + D(1, 1) + D(2, 2) - 1.0) / 2.0));
  return std::acos(c) * 180.0 / CV_PI;
}

void ExpectIntrinsicsNear(const CameraParameters& p, const synthetic::CameraModel& truth, double tolerance,
                          const char* what) {
  EXPECT_NEAR(p.K[0], truth.fx, tolerance) << what;
  EXPECT_NEAR(p.K[4], truth.fy, tolerance) << what;
  EXPECT_NEAR(p.K[2], truth.cx, tolerance) << what;
  EXPECT_NEAR(p.K[5], truth.cy, tolerance) << what;
}

TEST(SampleProject, OpensWithTwoCalibratedCamerasAndTheirRig) {
  win::ScriptedPrompts prompts;
  const synthetic::Options truth = sample_project::Options();
  // The two cameras differ by more than the tolerance: a swap would show.
  ASSERT_GT(std::abs(truth.cameraA.cx - truth.cameraB.cx), 1.0);
  RunMain([&](CVistrelDlg& d) {
    OpenSample(d, prompts);
    CStaticDataView& view = d.DataView();
    ASSERT_EQ(view.GetColumnCount(), 3);
    ASSERT_EQ(d.Store().GetMonoCameraCount(), 2);
    ASSERT_EQ(d.Store().GetStereoRigCount(), 1);
    EXPECT_EQ(view.GetPanel(0)->GetTitle(), "Camera 1");
    EXPECT_EQ(view.GetPanel(1)->GetTitle(), "Camera 2");
    EXPECT_EQ(view.GetPanel(2)->GetTitle(), "Stereo Rig - Camera 1 & 2");
    for (int camera = 0; camera < 2; ++camera) {
      EXPECT_TRUE(d.Store().IsCalibrated(camera));
      ASSERT_EQ(d.Store().GetImageCount(camera), sample_project::kViews);
      for (int image = 0; image < sample_project::kViews; ++image) {
        EXPECT_TRUE(d.Store().IsImageDetected(camera, image));
        EXPECT_NE(d.Store().GetThumbnailBitmap(camera, image), nullptr);
      }
      const std::string text = view.GetPanel(camera)->GetInfoText();
      EXPECT_EQ(text.rfind("F: ", 0), 0u) << text;
      EXPECT_NE(text.find("FOV: "), std::string::npos) << text;
      EXPECT_NE(text.find("Size: 640 x 480"), std::string::npos) << text;
    }
    ExpectIntrinsicsNear(d.Store().GetCameraParameters(0), truth.cameraA, 0.5, "camera 1");
    ExpectIntrinsicsNear(d.Store().GetCameraParameters(1), truth.cameraB, 0.5, "camera 2");

    ASSERT_NE(d.Store().GetStereoCamera(0), nullptr);
    CStereoCamera rig = *d.Store().GetStereoCamera(0);
    EXPECT_LT(AngleBetween(rig.GetRelativeRotation(), truth.rigPose.R), 0.05);
    const double* T = rig.GetRelativeTranslation();
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(T[i], truth.rigPose.t[i], 1.0) << "T" << i;
    EXPECT_TRUE(d.Store().IsCalibrated(2));

    // Camera 1 selected: Show 3D view draws its scene.
    const CRect panel = view.GetPanelRect(0);
    const CPoint press(d.DataViewRect().left + panel.CenterPoint().x, d.DataViewRect().top + panel.CenterPoint().y);
    d.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(press.x, press.y));
    d.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(press.x, press.y));
    ASSERT_EQ(view.GetSelectedEntry(), 0);
    view.Show3DView();
    window_test::Settle();
    EXPECT_TRUE(d.Scene3D().IsWindowVisible());
    EXPECT_EQ(d.Scene3D().GetShownKey(), 0);
    CRect rc;
    d.Scene3D().GetView().GetClientRect(&rc);
    std::vector<std::uint32_t> pixels(static_cast<size_t>(rc.Width()) * rc.Height());
    ASSERT_TRUE(win::GetWindowServices()->ReadClient(d.Scene3D().GetView().GetSafeHwnd(), pixels.data(), rc.Width(),
                                                     rc.Height(), rc.Width() * 4));
    size_t drawn = 0;
    for (std::uint32_t p : pixels) drawn += (p & 0xFFFFFF) != 0xFFFFFF;
    EXPECT_GT(drawn, pixels.size() / 100);

    // Calibrating camera 1 again from the loaded points gives the stored values.
    const CameraParameters stored = d.Store().GetCameraParameters(0);
    view.Calibrate();
    const CameraParameters again = d.Store().GetCameraParameters(0);
    for (int i : {0, 2, 4, 5}) EXPECT_NEAR(again.K[i], stored.K[i], 1e-3) << "K" << i;
  });
  // Nothing was missing on the way.
  EXPECT_TRUE(prompts.boxes.empty()) << prompts.boxes.front().text;
}

// Every file the project and its data files name is shipped, and no name
// holds white space.
TEST(SampleProject, EveryNamedFileIsShipped) {
  std::ifstream project(SampleFolder() / sample_project::kProjectFile);
  ASSERT_TRUE(project.good());
  int entries = 0;
  project >> entries;
  ASSERT_EQ(entries, 3);
  std::vector<std::string> named;
  for (int i = 0; i < entries; ++i) {
    std::string dataFile;
    project >> dataFile;
    named.push_back(dataFile);
    if (dataFile[0] == 'C') {
      std::string line;
      std::getline(project, line);  // the rest of the name's line
      std::getline(project, line);  // the camera line
    }
    std::ifstream data(SampleFolder() / dataFile);
    ASSERT_TRUE(data.good()) << dataFile;
    std::string word;
    while (data >> word)
      if (word.find('.') != std::string::npos) named.push_back(word);
  }
  EXPECT_EQ(named.size(), 3u + 2 * (2 + 2 * sample_project::kViews) + 2);
  for (const std::string& name : named) {
    EXPECT_TRUE(fs::is_regular_file(SampleFolder() / name)) << name;
    EXPECT_EQ(name.find_first_of(" \t"), std::string::npos) << name;
  }
  std::uintmax_t bytes = 0;
  for (const auto& e : fs::directory_iterator(SampleFolder())) bytes += fs::file_size(e.path());
  EXPECT_LT(bytes, 1024u * 1024u);
}

}  // namespace
