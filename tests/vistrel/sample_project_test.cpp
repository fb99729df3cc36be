// The shipped sample project (sample/): it opens as the workbench opens a
// project, holds the synthetic rig's two cameras and their rig calibrated
// close to the truth, names only files that exist, and calibrates again to
// what it stores. The sample is found through the source tree, never the
// working directory.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "MVG/stereo_camera.h"
#include "app_core/object_editor_model.h"
#include "app_core/panel_texts.h"
#include "calibration/calibration_data_store.h"
#include "calibration/mono_calibration_engine.h"
#include "calibration/project_file.h"
#include "project_commands.h"
#include "project_fixture.h"
#include "recording_data_view.h"
#include "synthetic_board/synthetic_board.h"
#include "win/prompts.h"

namespace fs = std::filesystem;

namespace {

::testing::Environment* const g_gdiplus = ::testing::AddGlobalTestEnvironment(new quorl_test::GdiplusEnvironment);

const fs::path kSampleFolder = QUORL_SAMPLE_DIR;
const fs::path kSampleProject = kSampleFolder / "sample_project.txt";
// The seed tools/sample_generator wrote the sample with (its default).
constexpr std::uint64_t kSampleSeed = 2;
constexpr int kViews = 6;

synthetic::Dataset SampleTruth() {
  synthetic::Options options;
  options.views = kViews;
  options.seed = kSampleSeed;
  options.rig = true;
  return synthetic::MakeDataset(options);
}

double AngleDegrees(const cv::Matx33d& A, const cv::Matx33d& B) {
  cv::Vec3d r;
  cv::Rodrigues(cv::Mat(A * B.t()), r);
  return cv::norm(r) * 180.0 / CV_PI;
}

// The sample opened once for every test, as Open does it.
class SampleProject : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    store_ = new CalibrationDataStore;
    view_ = new RecordingDataView(*store_);
    prompts_ = new win::ScriptedPrompts;
    loaded_ = LoadProject(kSampleProject.string(), *store_, *view_, nullptr);
  }
  static void TearDownTestSuite() {
    delete prompts_;
    delete view_;
    delete store_;
  }

  static CalibrationDataStore* store_;
  static RecordingDataView* view_;
  static win::ScriptedPrompts* prompts_;
  static bool loaded_;
};

CalibrationDataStore* SampleProject::store_ = nullptr;
RecordingDataView* SampleProject::view_ = nullptr;
win::ScriptedPrompts* SampleProject::prompts_ = nullptr;
bool SampleProject::loaded_ = false;

TEST_F(SampleProject, OpensAsTwoDetectedCamerasAndTheirRig) {
  ASSERT_TRUE(loaded_) << kSampleProject;
  EXPECT_TRUE(prompts_->boxes.empty()) << prompts_->boxes.front().text;
  EXPECT_EQ(view_->calls, (std::vector<std::string>{"camera", "camera", "rig 0 1", "refresh 1000"}));

  const CalibrationDataStore& store = *store_;
  ASSERT_EQ(store.GetEntryCount(), 3);
  ASSERT_EQ(store.GetMonoCameraCount(), 2);
  ASSERT_EQ(store.GetStereoRigCount(), 1);
  EXPECT_EQ(store.GetEntryKind(2), kStereoRigEntry);
  EXPECT_EQ(store.GetStereoPair(0).cameraA, 0);
  EXPECT_EQ(store.GetStereoPair(0).cameraB, 1);
  for (int entry = 0; entry < 3; ++entry) EXPECT_TRUE(store.IsCalibrated(entry)) << entry;

  // The points are the fixture's noise-free projections, so marking the
  // images by hand can be checked against them.
  const synthetic::Dataset truth = SampleTruth();
  for (int camera = 0; camera < 2; ++camera) {
    SCOPED_TRACE(camera);
    const CalibrationObjectSettings board = store.GetObjectSettings(camera);
    EXPECT_EQ(board.squaresX, 9);
    EXPECT_EQ(board.squaresY, 6);
    EXPECT_EQ(board.squareSizeX, 25.0);
    EXPECT_EQ(board.squareSizeY, 25.0);
    EXPECT_EQ(board.windowX, 5);
    EXPECT_EQ(board.windowY, 5);
    ASSERT_EQ(store.GetImageCount(camera), kViews);
    EXPECT_EQ(store.GetUsableImageCount(camera), kViews);
    for (int image = 0; image < kViews; ++image) {
      EXPECT_EQ(store.GetImage(camera, image)->width, 640);
      EXPECT_EQ(store.GetImage(camera, image)->height, 480);
      const auto& expected = camera == 0 ? truth.views[image].truePointsA : truth.views[image].truePointsB;
      ASSERT_EQ(store.GetImagePointCount(camera, image), 54);
      for (int i = 0; i < 54; ++i) {
        const Point2d p = store.GetImagePoint(camera, image, i);
        EXPECT_NEAR(p.x, expected[i].x, 1e-6) << "image " << image << " point " << i;
        EXPECT_NEAR(p.y, expected[i].y, 1e-6) << "image " << image << " point " << i;
      }
    }
  }
}

TEST_F(SampleProject, CamerasAreCalibratedCloseToTheirTruth) {
  ASSERT_TRUE(loaded_);
  const synthetic::CameraModel truth[2] = {synthetic::CameraA(), synthetic::CameraB()};
  const char* names[4] = {"fx", "fy", "cx", "cy"};
  for (int camera = 0; camera < 2; ++camera) {
    const CameraParameters p = store_->GetCameraParameters(camera);
    const double got[4] = {p.K[0], p.K[4], p.K[2], p.K[5]};
    const synthetic::CameraModel& own = truth[camera];
    const synthetic::CameraModel& other = truth[1 - camera];
    const double want[4] = {own.fx, own.fy, own.cx, own.cy};
    const double wrong[4] = {other.fx, other.fy, other.cx, other.cy};
    for (int k = 0; k < 4; ++k) {
      EXPECT_NEAR(got[k], want[k], 0.5) << "camera " << camera << " " << names[k];
      // The two cameras differ by more than the tolerance: a swapped pair fails.
      EXPECT_GT(std::abs(got[k] - wrong[k]), 1.0) << "camera " << camera << " " << names[k];
    }
    EXPECT_EQ(p.width, 640);
    EXPECT_EQ(p.height, 480);
  }
}

TEST_F(SampleProject, RigIsTheFixturesRig) {
  ASSERT_TRUE(loaded_);
  ASSERT_NE(store_->GetStereoCamera(0), nullptr);
  CStereoCamera rig = *store_->GetStereoCamera(0);
  const synthetic::Pose truth = synthetic::DefaultRigRelativePose();
  EXPECT_LT(AngleDegrees(cv::Matx33d(rig.GetRelativeRotation()), truth.R), 0.05);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(rig.GetRelativeTranslation()[k], truth.t[k], 1.0) << k;
}

TEST_F(SampleProject, PanelTextsShowTheCalibratedCameras) {
  ASSERT_TRUE(loaded_);
  ASSERT_EQ(view_->texts.size(), 3u);
  for (int entry = 0; entry < 2; ++entry) {
    const std::string& text = view_->texts[entry];
    SCOPED_TRACE(text);
    double fx = 0, fy = 0;
    ASSERT_EQ(std::sscanf(text.c_str(), "F: %lf %lf", &fx, &fy), 2);
    const CameraParameters p = store_->GetCameraParameters(entry);
    EXPECT_NEAR(fx, p.K[0], 1e-4);
    EXPECT_NEAR(fy, p.K[4], 1e-4);
    EXPECT_NE(text.find("\nFOV: "), std::string::npos);
    const std::string size = "Size: 640 x 480";
    EXPECT_EQ(text.substr(text.size() - std::min(text.size(), size.size())), size);
  }
  EXPECT_NE(view_->texts[2], "Not calibrated.");
}

TEST_F(SampleProject, CalibratingAgainGivesTheStoredValues) {
  ASSERT_TRUE(loaded_);
  const int camera = 0;
  const CameraParameters stored = store_->GetCameraParameters(camera);
  std::vector<std::vector<Point2d>> points;
  store_->GetCalibrationImagePoints(camera, points);
  CMonoCameraCalibrationEngine engine;
  ASSERT_EQ(engine.RunCalibration(points, store_->GetObjectSettings(camera), 640, 480), 1)
      << CalibrationOutcomeText(engine.LastRun().outcome);
  const CameraParameters again = engine.GetCameraParameters();
  const int k[4] = {0, 4, 2, 5};
  for (int i : k) EXPECT_NEAR(again.K[i], stored.K[i], 1e-3) << "K[" << i << "]";
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(again.d[i], stored.d[i], 1e-5) << "d[" << i << "]";
}

// The images belong to their points: the object editor, given four clicks
// at the view pixels nearest the stored outer corners (the first at point
// n - squaresX, as a user marks a board), finds every stored point.
TEST(SampleImages, EditorDetectsTheStoredPointsFromFourClicks) {
  CalibrationDataStore store;
  ProjectReadReport report;
  ASSERT_TRUE(ReadProject(kSampleProject, store, &report)) << report.message;
  ASSERT_TRUE(report.skipped.empty());
  for (int camera = 0; camera < store.GetMonoCameraCount(); ++camera) {
    for (int image = 0; image < store.GetImageCount(camera); ++image) {
      SCOPED_TRACE("camera " + std::to_string(camera) + " image " + std::to_string(image));
      const std::vector<Point2d> stored = *store.GetImagePointList(camera, image);
      ASSERT_EQ(stored.size(), 54u);
      store.ResetImageDetection(camera, image);
      ObjectEditorModel model;
      model.SetDataStore(&store);
      model.SetViewSize(395, 350);
      model.OpenForCamera(camera);
      model.SetImageIndex(image);
      model.ExecuteCommand(ObjectEditorModel::kSelectGrid, 0);
      for (int index : {45, 53, 8, 0}) {
        const ObjectEditorModel::ViewPoint at = model.ImageToView(stored[index]);
        model.LeftButtonDown({std::round(at.x), std::round(at.y)}, true, false);
      }
      ASSERT_TRUE(store.IsImageDetected(camera, image));
      for (int i = 0; i < 54; ++i) {
        const Point2d p = store.GetImagePoint(camera, image, i);
        EXPECT_LT(std::hypot(p.x - stored[i].x, p.y - stored[i].y), 0.2) << "point " << i;
      }
    }
  }
}

// A token of the project's files that names a file: a letter first, then
// letters, digits and underscores, ending in ".txt" or ".png".
bool IsFileName(const std::string& token) {
  const size_t dot = token.rfind('.');
  if (dot == std::string::npos || dot == 0 || !std::isalpha(static_cast<unsigned char>(token[0]))) return false;
  const std::string ext = token.substr(dot);
  if (ext != ".txt" && ext != ".png") return false;
  for (size_t i = 0; i < dot; ++i)
    if (!std::isalnum(static_cast<unsigned char>(token[i])) && token[i] != '_') return false;
  return true;
}

// Every file the project and its data files name lies in the sample
// folder; nothing there has white space in its name, and the whole sample
// stays small enough to ship.
TEST(SampleFiles, EveryNamedFileExistsAndTheFolderStaysSmall) {
  std::set<std::string> named;
  std::vector<std::string> toRead = {"sample_project.txt"};
  std::set<std::string> read;
  while (!toRead.empty()) {
    const std::string file = toRead.back();
    toRead.pop_back();
    if (!read.insert(file).second) continue;
    std::ifstream in(kSampleFolder / file);
    ASSERT_TRUE(in) << file;
    std::string token;
    while (in >> token) {
      if (!IsFileName(token)) continue;
      named.insert(token);
      // The data files name the rest.
      if (token.find("_Data.txt") != std::string::npos) toRead.push_back(token);
    }
  }
  // 3 data files; per camera intrinsics, extrinsics, 6 images, 6 points
  // files; the rig's two camera files.
  EXPECT_EQ(named.size(), 3u + 2u * 14u + 2u);
  for (const std::string& file : named) EXPECT_TRUE(fs::is_regular_file(kSampleFolder / file)) << file;

  std::uintmax_t bytes = 0;
  for (const auto& entry : fs::recursive_directory_iterator(kSampleFolder)) {
    const std::string file = entry.path().filename().string();
    EXPECT_EQ(file.find_first_of(" \t\r\n"), std::string::npos) << file;
    if (entry.is_regular_file()) bytes += entry.file_size();
  }
  EXPECT_LE(bytes, 1024u * 1024u);
}

}  // namespace
