// The checks before Calibrate and Calibrate Stereo: which entries they apply
// to under the one index rule (views hold entries, engines cameras), which
// images take part, and each refusal with its text.
#include <gtest/gtest.h>

#include <opencv2/core/core_c.h>

#include <functional>
#include <string>
#include <vector>

#include "app_core/calibration_checks.h"
#include "calibration/calibration_data_store.h"

namespace {

void AddImages(CalibrationDataStore& store, int camera, int count, int width = 64, int height = 48) {
  for (int i = 0; i < count; ++i) {
    IplImage* image = cvCreateImage(cvSize(width, height), IPL_DEPTH_8U, 3);
    cvZero(image);
    ASSERT_EQ(store.AddImage(camera, image), 1);
    store.SetImageDetected(camera, store.GetImageCount(camera) - 1, true);
  }
}

// Entries [camera 0, camera 1, rig(0, 1), camera 2]; seven images each.
void FrontRigLayout(CalibrationDataStore& store) {
  store.AddCamera();
  store.AddCamera();
  ASSERT_EQ(store.AddStereoRig(0, 1), 1);
  store.AddCamera();
  for (int camera = 0; camera < 3; ++camera) AddImages(store, camera, 7);
}

TEST(CalibrateCheck, ReachesTheSelectedCameraWithItsUsableImages) {
  CalibrationDataStore store;
  FrontRigLayout(store);
  store.DisableImage(2, 1);
  store.SetImageDetected(2, 4, false);
  const CalibrateCheck check = CheckCalibrate(store, 3);
  EXPECT_EQ(check.verdict, CommandVerdict::kRun);
  EXPECT_EQ(check.camera, 2);
  EXPECT_EQ(check.usableImages, std::vector<int>({0, 2, 3, 5, 6}));
  EXPECT_EQ(check.width, 64);
  EXPECT_EQ(check.height, 48);

  // A camera inserted between the rig's cameras: the last entry is camera 3.
  ASSERT_EQ(store.InsertCamera(1), 1);
  AddImages(store, 1, 5);
  EXPECT_EQ(CheckCalibrate(store, 4).camera, 3);
  EXPECT_EQ(CheckCalibrate(store, 1).camera, 1);
}

TEST(CalibrateCheck, DoesNothingOrRefuses) {
  struct Case {
    const char* name;
    int entry;
    std::function<void(CalibrationDataStore&)> change;
    CommandVerdict verdict;
    std::string message;
  };
  const std::string sizes = "The images of Camera 3 do not all have the same size!";
  const Case cases[] = {
      {"no selection", -1, nullptr, CommandVerdict::kNothing, ""},
      {"rig selected", 2, nullptr, CommandVerdict::kNothing, ""},
      {"past the entries", 4, nullptr, CommandVerdict::kNothing, ""},
      {"four usable images", 3,
       [](CalibrationDataStore& s) {
         s.DisableImage(2, 0);
         s.DisableImage(2, 1);
         s.SetImageDetected(2, 2, false);
       },
       CommandVerdict::kRefused, kNotConstrainedMessage},
      {"a usable image of another size", 3, [](CalibrationDataStore& s) { AddImages(s, 2, 1, 80, 48); },
       CommandVerdict::kRefused, sizes},
      {"another size on a disabled image only", 3,
       [](CalibrationDataStore& s) {
         AddImages(s, 2, 1, 80, 48);
         s.DisableImage(2, 7);
       },
       CommandVerdict::kRun, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CalibrationDataStore store;
    FrontRigLayout(store);
    if (c.change) c.change(store);
    const CalibrateCheck check = CheckCalibrate(store, c.entry);
    EXPECT_EQ(check.verdict, c.verdict);
    EXPECT_EQ(check.message, c.message);
  }
}

TEST(CalibrateStereoCheck, PairsTheEntryWithTheNextOne) {
  struct Case {
    const char* name;
    int entry;
    std::function<void(CalibrationDataStore&)> change;
    CommandVerdict verdict;
    std::string message;
  };
  const Case cases[] = {
      {"two cameras", 0, nullptr, CommandVerdict::kRun, ""},
      {"disabled images count", 0, [](CalibrationDataStore& s) { s.DisableImage(1, 3); }, CommandVerdict::kRun, ""},
      {"no selection", -1, nullptr, CommandVerdict::kNothing, ""},
      {"next entry is a rig", 1, nullptr, CommandVerdict::kRefused, kNotConstrainedStereoMessage},
      {"rig selected", 2, nullptr, CommandVerdict::kRefused, kNotConstrainedStereoMessage},
      {"last entry selected", 3, nullptr, CommandVerdict::kRefused, kNotConstrainedStereoMessage},
      {"four images", 0,
       [](CalibrationDataStore& s) {
         s.ClearEntryImages(1);
         AddImages(s, 1, 4);
       },
       CommandVerdict::kRefused, kNotConstrainedStereoMessage},
      {"unequal counts", 0, [](CalibrationDataStore& s) { AddImages(s, 1, 1); }, CommandVerdict::kRefused,
       "Calibrate Stereo needs the same number of images in Camera 1 and Camera 2!"},
      {"one undetected image", 0, [](CalibrationDataStore& s) { s.SetImageDetected(1, 2, false); },
       CommandVerdict::kRefused, "Calibrate Stereo needs every image marked: image 3 of Camera 2 is not!"},
      {"mixed sizes", 0,
       [](CalibrationDataStore& s) {
         AddImages(s, 0, 1, 80, 48);
         AddImages(s, 1, 1);
       },
       CommandVerdict::kRefused, "The images of Camera 1 do not all have the same size!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CalibrationDataStore store;
    FrontRigLayout(store);
    if (c.change) c.change(store);
    const CalibrateStereoCheck check = CheckCalibrateStereo(store, c.entry);
    EXPECT_EQ(check.verdict, c.verdict);
    EXPECT_EQ(check.message, c.message);
    if (c.verdict == CommandVerdict::kRun) {
      EXPECT_EQ(check.cameraA, 0);
      EXPECT_EQ(check.cameraB, 1);
      EXPECT_EQ(check.widthA, 64);
      EXPECT_EQ(check.heightB, 48);
    }
  }
}

TEST(CalibrateStereoCheck, InsertedCameraPairsWithTheNextEntry) {
  CalibrationDataStore store;
  FrontRigLayout(store);  // [c0, c1, rig, c2]
  ASSERT_EQ(store.InsertCamera(3), 1);  // [c0, c1, rig, new c2, old c2 -> c3]
  AddImages(store, 2, 7);
  const CalibrateStereoCheck check = CheckCalibrateStereo(store, 3);
  EXPECT_EQ(check.verdict, CommandVerdict::kRun);
  EXPECT_EQ(check.cameraA, 2);
  EXPECT_EQ(check.cameraB, 3);
}

}  // namespace
