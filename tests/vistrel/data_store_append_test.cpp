// Appending a staged store (a loaded project) behind the workbench's entries.
#include <gtest/gtest.h>

#include <opencv2/core/core_c.h>

#include "calibration/calibration_data_store.h"
#include "gdiplus/gdiplus.h"
#include "gdiplus_environment.h"

namespace {

[[maybe_unused]] ::testing::Environment* const kGdiplus = ::testing::AddGlobalTestEnvironment(new quorl_test::GdiplusEnvironment);

IplImage* MakeImage(int width, int height, unsigned char value) {
  IplImage* image = cvCreateImage(cvSize(width, height), IPL_DEPTH_8U, 3);
  cvSet(image, cvScalarAll(value));
  return image;
}

// [camera with one image, camera, rig of the two]: the shape of a small
// workbench and of a small project.
void Fill(CalibrationDataStore& store, int width, unsigned char value, double squareSize) {
  store.AddCamera();
  ASSERT_EQ(store.AddImage(0, MakeImage(width, 4, value)), 1);
  ASSERT_TRUE(store.SetObjectSettings(0, squareSize, squareSize, 9, 7, 5, 5));
  store.AddCamera();
  ASSERT_EQ(store.AddStereoRig(0, 1), 1);
  store.SetCalibrated(0);
}

TEST(DataStoreAppend, StagedEntriesFollowWithRigsOffset) {
  CalibrationDataStore store;
  Fill(store, 6, 10, 25.0);
  CalibrationDataStore staged;
  Fill(staged, 8, 200, 30.0);
  staged.AddCamera();
  ASSERT_EQ(staged.AddStereoRig(3, 1), 1);  // a rig naming entries out of order

  store.AppendFrom(staged);
  EXPECT_EQ(staged.GetEntryCount(), 0);
  EXPECT_EQ(staged.GetMonoCameraCount(), 0);
  EXPECT_EQ(staged.GetStereoRigCount(), 0);

  ASSERT_EQ(store.GetEntryCount(), 8);
  const int kinds[] = {0, 0, 1, 0, 0, 1, 0, 1};
  for (int e = 0; e < 8; ++e) EXPECT_EQ(store.GetEntryKind(e), kinds[e]) << e;
  EXPECT_EQ(store.GetMonoCameraCount(), 5);
  ASSERT_EQ(store.GetStereoRigCount(), 3);
  const int pairs[3][2] = {{0, 1}, {3, 4}, {6, 4}};
  for (int r = 0; r < 3; ++r) {
    EXPECT_EQ(store.GetStereoPair(r).cameraA, pairs[r][0]) << r;
    EXPECT_EQ(store.GetStereoPair(r).cameraB, pairs[r][1]) << r;
  }
  // The existing camera untouched; the staged camera's images and board came along.
  EXPECT_EQ(store.GetImageWidth(0), 6);
  EXPECT_EQ(store.GetObjectSettings(0).squareSizeX, 25.0);
  EXPECT_TRUE(store.IsCalibrated(0));
  ASSERT_EQ(store.GetImageCount(2), 1);
  EXPECT_EQ(store.GetImageWidth(2), 8);
  EXPECT_EQ(static_cast<unsigned char>(store.GetImage(2, 0)->imageData[0]), 200);
  EXPECT_NE(store.GetCameraImageBitmap(2, 0), nullptr);
  EXPECT_EQ(store.GetObjectSettings(2).squareSizeX, 30.0);
  EXPECT_TRUE(store.IsCalibrated(3));
  EXPECT_FALSE(store.IsCalibrated(4));
  EXPECT_EQ(store.GetMonoCameraOrdinal(6), 4);
  EXPECT_NE(store.GetCalibrationEngine(4), nullptr);

  store.AppendFrom(store);  // nothing
  EXPECT_EQ(store.GetEntryCount(), 8);
}

TEST(DataStoreAppend, IntoAnEmptyStoreGivesTheStagedState) {
  CalibrationDataStore store;
  CalibrationDataStore staged;
  Fill(staged, 8, 50, 30.0);
  store.AppendFrom(staged);
  ASSERT_EQ(store.GetEntryCount(), 3);
  EXPECT_EQ(store.GetStereoPair(0).cameraA, 0);
  EXPECT_EQ(store.GetStereoPair(0).cameraB, 1);
  EXPECT_EQ(store.GetImageCount(0), 1);
}

}  // namespace
