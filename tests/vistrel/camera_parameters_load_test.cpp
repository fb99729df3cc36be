// Load camera parameters for an entry: a calibrated file reaches exactly the
// entry's camera (record, engine, flag); every failure leaves all three as
// they were and says why.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app_core/camera_parameters_load.h"
#include "calibration/calibration_data_store.h"
#include "calibration/calibration_files.h"
#include "calibration/mono_calibration_engine.h"

namespace {

namespace fs = std::filesystem;

class LoadParametersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("vistrel_load_params_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    // [camera 0, camera 1, rig(0, 1), camera 2]
    store.AddCamera();
    store.AddCamera();
    ASSERT_EQ(store.AddStereoRig(0, 1), 1);
    store.AddCamera();
    before.K[0] = 111;
    before.K[4] = 112;
    for (int camera = 0; camera < 3; ++camera) store.SetCameraParameters(camera, before);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string Write(const char* name, const std::string& text) {
    const std::string path = (dir / name).string();
    std::ofstream(path) << text;
    return path;
  }

  void ExpectUnchanged(int camera) {
    EXPECT_EQ(store.GetCameraParameters(camera).K[0], 111);
    EXPECT_EQ(store.GetCalibrationEngine(camera)->GetCameraParameters().K[0], 0);
    EXPECT_FALSE(store.IsCalibrated(store.GetCameraEntry(camera)));
  }

  fs::path dir;
  CalibrationDataStore store;
  CameraParameters before;
};

TEST_F(LoadParametersTest, CalibratedFileReachesTheEntrysCamera) {
  CameraParameters p;
  const double K[9] = {800.5, 0, 320.25, 0, 790.125, 240.5, 0, 0, 1};
  for (int i = 0; i < 9; ++i) p.K[i] = K[i];
  p.d[0] = -0.25;
  p.d[3] = 0.001;
  p.width = 640;
  p.height = 480;
  const std::string path = (dir / "camera.txt").string();
  ASSERT_TRUE(WriteIntrinsicsFile(path.c_str(), p));

  std::string message;
  ASSERT_EQ(LoadCameraParametersForEntry(store, 3, path.c_str(), message), LoadParametersResult::kLoaded);
  EXPECT_EQ(message, "");
  EXPECT_TRUE(store.IsCalibrated(3));
  EXPECT_EQ(store.GetCameraParameters(2).K[0], 800.5);
  EXPECT_EQ(store.GetCalibrationEngine(2)->GetCameraParameters().K[4], 790.125);
  EXPECT_EQ(LoadedParametersText(store, 2),
            "F: 800.5000 790.1250\nP: 320.2500 240.5000\nD: -0.2500 0.0000 0.0000 0.0010\n");
  ExpectUnchanged(0);
  ExpectUnchanged(1);
}

TEST_F(LoadParametersTest, FailuresChangeNothingAndSayWhy) {
  struct Case {
    const char* name;
    std::string path;
    LoadParametersResult result;
    std::string message;
  };
  const std::string missing = (dir / "missing.txt").string();
  const std::string garbage = Write("garbage.txt", "not a camera\n");
  const std::string zeros = (dir / "zeros.txt").string();
  ASSERT_TRUE(WriteIntrinsicsFile(zeros.c_str(), CameraParameters()));
  const Case cases[] = {
      {"missing file", missing, LoadParametersResult::kFailed, "Cannot open: " + missing + "!"},
      {"garbage file", garbage, LoadParametersResult::kFailed, "No calibrated camera parameters in: " + garbage + "!"},
      {"uncalibrated camera's file", zeros, LoadParametersResult::kFailed,
       "No calibrated camera parameters in: " + zeros + "!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string message;
    EXPECT_EQ(LoadCameraParametersForEntry(store, 3, c.path.c_str(), message), c.result);
    EXPECT_EQ(message, c.message);
    ExpectUnchanged(2);
  }
  // A rig entry or no selection: nothing at all, even with a good file.
  CameraParameters p;
  p.K[0] = p.K[4] = 500;
  const std::string good = (dir / "good.txt").string();
  ASSERT_TRUE(WriteIntrinsicsFile(good.c_str(), p));
  for (int entry : {2, -1, 4}) {
    std::string message;
    EXPECT_EQ(LoadCameraParametersForEntry(store, entry, good.c_str(), message), LoadParametersResult::kNotApplicable);
    EXPECT_EQ(message, "");
    EXPECT_FALSE(store.IsCalibrated(2));
  }
  for (int camera = 0; camera < 3; ++camera) ExpectUnchanged(camera);
}

}  // namespace
