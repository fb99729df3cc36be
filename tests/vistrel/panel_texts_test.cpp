// The data view's panel texts, exact: a refreshed calibrated and
// uncalibrated camera, a calibration result, a rig before and after a
// stereo run. Values are chosen so the field of view is exactly 90 degrees.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "MVG/camera.h"
#include "MVG/stereo_camera.h"
#include "app_core/panel_texts.h"
#include "calibration/calibration_data_store.h"
#include "calibration/calibration_files.h"
#include "calibration/mono_calibration_engine.h"
#include "square90_camera.h"

namespace {

namespace fs = std::filesystem;

TEST(PanelTexts, RefreshedCameraAndCalibrationResult) {
  const fs::path file = fs::temp_directory_path() / ("vistrel_panel_texts_" + std::to_string(::getpid()) + ".txt");
  ASSERT_TRUE(WriteIntrinsicsFile(file.string().c_str(), Square90Camera()));
  CalibrationDataStore store;
  store.AddCamera();
  store.AddCamera();
  // The engine takes the image size from the file: the field of view needs it.
  ASSERT_TRUE(store.LoadCameraParameters(1, file.string().c_str()));
  fs::remove(file);

  EXPECT_EQ(RefreshedCameraText(store, 1), "Not calibrated.");
  store.SetCalibrated(1);
  EXPECT_EQ(RefreshedCameraText(store, 1),
            "F: 320.0000 240.0000\nP: 319.5000 239.5000\nD: -0.1250 0.0000 0.0625 0.0000\nFOV: 90.0000 90.0000\n"
            "Size: 640 x 480");
  EXPECT_EQ(RefreshedCameraText(store, 0), "Not calibrated.");
  EXPECT_EQ(RefreshedCameraText(store, 5), "Not calibrated.");
  // An engine without views has no reprojection error to report.
  EXPECT_EQ(CalibrationResultText(store.GetCameraParameters(1), *store.GetCalibrationEngine(1)),
            "F: 320.0000 240.0000\nP: 319.5000 239.5000\nD: -0.1250 0.0000 0.0625 0.0000\n"
            "E: 0.000000 0.000000 0.000000\nFOV: 90.000000 90.000000");
}

TEST(PanelTexts, RigShowsTheSecondCamerasPoseRelativeToTheFirst) {
  const double K[9] = {500, 0, 320, 0, 500, 240, 0, 0, 1};
  const double d[5] = {0, 0, 0, 0, 0};
  const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const double quarterTurn[9] = {0, -1, 0, 1, 0, 0, 0, 0, 1};
  const double origin[3] = {0, 0, 0};
  const double baseline[3] = {-100, 0, 2.5};
  const CStereoCamera rig(CCamera(K, d, identity, origin, 640, 480), CCamera(K, d, quarterTurn, baseline, 640, 480));
  const std::string pose =
      "R: [0.000 -1.000 0.000]\n   [1.000 0.000 0.000]\n   [0.000 0.000 1.000]\nT: [ -100.000 0.000 2.500 ]\n";
  EXPECT_EQ(StereoRigText(rig, false), pose);
  EXPECT_EQ(StereoRigText(rig, true), "Intrinsic parameters reoptimized!\n" + pose);

  CalibrationDataStore store;
  store.AddCamera();
  store.AddCamera();
  ASSERT_EQ(store.AddStereoRig(0, 1), 1);
  // A rig always holds a stereo camera (K = 0 before any run): the entry's
  // flag decides.
  EXPECT_EQ(RefreshedRigText(store, 0), "Not calibrated.");
  store.SetStereoCamera(0, rig);
  EXPECT_EQ(RefreshedRigText(store, 0), "Not calibrated.");
  store.SetCalibrated(2);
  EXPECT_EQ(RefreshedRigText(store, 0), pose);
  EXPECT_EQ(RefreshedRigText(store, 1), "Not calibrated.");
}

}  // namespace
