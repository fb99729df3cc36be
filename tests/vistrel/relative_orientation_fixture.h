#pragma once
// A store for the relative orientation tests. Entries [camera 0, camera 1,
// rig, camera 2]. Camera 0: two usable images, three engine views (view
// numbers shown). Camera 1: never calibrated. Camera 2: images usable,
// disabled, usable and two views (image numbers shown). View k of a camera
// is turned by 0.1 * (k + 1) about z and moved by k + 1 along x, plus the
// camera index along y.
#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <opencv2/core/core_c.h>

#include <algorithm>

#include "calibration/calibration_data_store.h"

inline void PoseOrientationViews(CalibrationDataStore& store, int camera, int views) {
  CMonoCameraCalibrationEngine* engine = store.GetCalibrationEngine(camera);
  ASSERT_TRUE(engine->AllocateViews(views, store.GetObjectSettings(camera)));
  for (int k = 0; k < views; ++k) {
    const Eigen::Matrix3d R = Eigen::AngleAxisd(0.1 * (k + 1), Eigen::Vector3d::UnitZ()).toRotationMatrix();
    for (int i = 0; i < 9; ++i) engine->RotationMatrices()[9 * k + i] = R(i / 3, i % 3);
    const double T[3] = {k + 1.0, double(camera), 2.0};
    std::copy(T, T + 3, engine->Translations() + 3 * k);
  }
}

inline void BuildOrientationStore(CalibrationDataStore& store) {
  store.AddCamera();
  store.AddCamera();
  ASSERT_EQ(store.AddStereoRig(0, 1), 1);
  store.AddCamera();
  const int images[3] = {2, 1, 3};
  for (int c = 0; c < 3; ++c) {
    ASSERT_TRUE(store.SetObjectSettings(c, 25, 25, 9, 7, 5, 5));
    for (int i = 0; i < images[c]; ++i) {
      IplImage* image = cvCreateImage(cvSize(8, 6), IPL_DEPTH_8U, 3);
      cvSet(image, cvScalarAll(0));
      ASSERT_EQ(store.AddImage(c, image), 1);
      store.SetImageDetected(c, i, true);
    }
  }
  store.DisableImage(2, 1);
  PoseOrientationViews(store, 0, 3);
  PoseOrientationViews(store, 2, 2);
  store.SetCalibrated(0);
  store.SetCalibrated(3);
}
