#pragma once
// The distorted cameras that the undistortion-map tests and the warp-map
// benchmark share, in both camera forms, and OpenCV's maps of them. Header
// only, so that the benchmarks need no test target.
#include <algorithm>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "MVG/camera.h"
#include "MVG/mvg_camera.h"

namespace undistortion_lens {

// Strong barrel distortion, as wide-angle capture cameras show.
inline constexpr float kBarrel[5] = {-0.42f, 0.19f, 0.0012f, -0.0009f, -0.04f};
inline constexpr float kPincushion[5] = {0.35f, 0.12f, 0, 0, 0};

inline MVG::Camera Lens(int width, int height, const float* d) {
  MVG::Camera c =
      MVG::CameraAtOrigin(0.8f * width, 0.8f * width, 0.5f * width + 1.3f, 0.5f * height - 2.1f, width, height);
  std::copy(d, d + 5, c.d);
  return c;
}

inline CCamera ToCCamera(const MVG::Camera& m) {
  double K[9], d[5], R[9], T[3] = {0, 0, 0};
  for (int i = 0; i < 9; ++i) K[i] = m.K[i], R[i] = m.R[i];
  for (int i = 0; i < 5; ++i) d[i] = m.d[i];
  CCamera c(K, d, R, T, static_cast<int>(m.width), static_cast<int>(m.height));
  c.Setd(d);
  return c;
}

// OpenCV's undistortion maps for the same camera (no R, same K for output).
inline void OpenCvMaps(const MVG::Camera& c, int type, cv::Mat* m1, cv::Mat* m2) {
  cv::Mat K = (cv::Mat_<double>(3, 3) << c.K[0], 0, c.K[2], 0, c.K[4], c.K[5], 0, 0, 1);
  cv::Mat d = (cv::Mat_<double>(1, 5) << c.d[0], c.d[1], c.d[2], c.d[3], c.d[4]);
  cv::initUndistortRectifyMap(K, d, cv::Mat(), K, cv::Size(int(c.width), int(c.height)), type, *m1, *m2);
}

}  // namespace undistortion_lens
