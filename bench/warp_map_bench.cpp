// The live-video undistortion road: our warp maps and resamplers against
// OpenCV's initUndistortRectifyMap and bilinear remap on the same camera.
// Prints the time per frame and ours / OpenCV (above 1: ours is slower).
// Run from a build without sanitizers.
#include <opencv2/core/core_c.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "MVG/camera.h"
#include "MVG/mvg_camera.h"
#include "MVG/weights_index_map.h"
#include "undistortion_lens/undistortion_lens.h"

namespace {

// Median milliseconds per call over enough calls to fill about 0.3 s.
double TimeMs(const std::function<void()>& f) {
  f();  // warm caches and lazy initialisation
  std::vector<double> samples;
  const auto start = std::chrono::steady_clock::now();
  while (samples.size() < 7 ||
         (samples.size() < 200 && std::chrono::steady_clock::now() - start < std::chrono::milliseconds(300))) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    samples.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
  return samples[samples.size() / 2];
}

using undistortion_lens::OpenCvMaps;
using undistortion_lens::ToCCamera;

// Largest difference between the position a map entry stands for and
// OpenCV's floating-point map.
double MaxPositionDifference(const std::vector<int>& map, int channels, const cv::Mat& mapx, const cv::Mat& mapy) {
  double worst = 0;
  const int W = mapx.cols;
  for (int y = 0; y < mapx.rows; ++y)
    for (int x = 0; x < W; ++x) {
      const int* e = &map[5 * (static_cast<size_t>(y) * W + x)];
      if (e[1] + e[2] + e[3] + e[4] == 0) continue;
      const int p = e[0] / channels;
      worst = std::max({worst, std::fabs(p % W + (e[3] + e[4]) / 32768.0 - mapx.at<float>(y, x)),
                        std::fabs(p / W + (e[2] + e[4]) / 32768.0 - mapy.at<float>(y, x))});
    }
  return worst;
}

void Row(const char* what, double ours, double theirs) {
  std::printf("  %-44s ours %8.3f ms  OpenCV %8.3f ms  ratio %5.2f\n", what, ours, theirs, ours / theirs);
}

void Measure(int W, int H, int defaultThreads) {
  const MVG::Camera camera = undistortion_lens::Lens(W, H, undistortion_lens::kBarrel);
  const CCamera gray = ToCCamera(camera);
  std::vector<int> colourMap(static_cast<size_t>(W) * H * 5), grayMap(colourMap.size());
  int* maps[1] = {colourMap.data()};

  // Images as cvCreateImage makes them: rows padded to 4 bytes.
  IplImage* src3 = cvCreateImage(cvSize(W, H), IPL_DEPTH_8U, 3);
  IplImage* dst3 = cvCreateImage(cvSize(W, H), IPL_DEPTH_8U, 3);
  IplImage* src1 = cvCreateImage(cvSize(W, H), IPL_DEPTH_8U, 1);
  IplImage* dst1 = cvCreateImage(cvSize(W, H), IPL_DEPTH_8U, 1);
  std::mt19937 rng(5);
  for (IplImage* im : {src3, src1})
    for (int i = 0; i < im->imageSize; ++i) im->imageData[i] = static_cast<char>(rng());
  const cv::Mat s3 = cv::cvarrToMat(src3), s1 = cv::cvarrToMat(src1);
  cv::Mat d3 = cv::cvarrToMat(dst3), d1 = cv::cvarrToMat(dst1);

  std::printf("%d x %d (rows %s: widthStep %d for 3 channels, %d for 1)\n", W, H,
              src3->widthStep == 3 * W ? "packed" : "padded", src3->widthStep, src1->widthStep);

  cv::Mat fx, fy, ix, iy;
  cv::setNumThreads(1);
  const double buildOurs = TimeMs([&] { MVG::ComputeUndistortionMapCoefficients(&camera, 1, maps); });
  const double buildGray = TimeMs([&] { gray.ComputeUndistortionMap(grayMap.data()); });
  const double buildCvF1 = TimeMs([&] { OpenCvMaps(camera, CV_32FC1, &fx, &fy); });
  const double buildCvI1 = TimeMs([&] { OpenCvMaps(camera, CV_16SC2, &ix, &iy); });
  cv::setNumThreads(defaultThreads);
  const double buildCvF = TimeMs([&] { OpenCvMaps(camera, CV_32FC1, &fx, &fy); });
  Row("map build MVG vs initUndistortRectifyMap 32F, 1 thread", buildOurs, buildCvF1);
  Row("map build MVG vs initUndistortRectifyMap 16SC2, 1 thread", buildOurs, buildCvI1);
  Row("map build MVG vs initUndistortRectifyMap 32F, threads", buildOurs, buildCvF);
  Row("map build CCamera vs initUndistortRectifyMap 32F, 1 thread", buildGray, buildCvF1);

  const double warp3 = TimeMs([&] { IP::WarpByWeightsIndex(src3, dst3, colourMap.data()); });
  const double warp1 = TimeMs([&] { IP::WarpByWeightsIndexGray(src1, dst1, grayMap.data()); });
  for (int threads : {1, defaultThreads}) {
    cv::setNumThreads(threads);
    const char* t = threads == 1 ? "1 thread" : "threads";
    char label[96];
    const double r3i = TimeMs([&] { cv::remap(s3, d3, ix, iy, cv::INTER_LINEAR); });
    const double r3f = TimeMs([&] { cv::remap(s3, d3, fx, fy, cv::INTER_LINEAR); });
    const double r1i = TimeMs([&] { cv::remap(s1, d1, ix, iy, cv::INTER_LINEAR); });
    const double r1f = TimeMs([&] { cv::remap(s1, d1, fx, fy, cv::INTER_LINEAR); });
    std::snprintf(label, sizeof label, "warp 3 ch vs remap 16SC2, %s", t);
    Row(label, warp3, r3i);
    std::snprintf(label, sizeof label, "warp 3 ch vs remap 32FC1, %s", t);
    Row(label, warp3, r3f);
    std::snprintf(label, sizeof label, "warp gray vs remap 16SC2, %s", t);
    Row(label, warp1, r1i);
    std::snprintf(label, sizeof label, "warp gray vs remap 32FC1, %s", t);
    Row(label, warp1, r1f);
  }
  std::printf("  largest position difference against initUndistortRectifyMap: MVG %.3g px, CCamera %.3g px\n",
              MaxPositionDifference(colourMap, 3, fx, fy), MaxPositionDifference(grayMap, 1, fx, fy));

  for (IplImage* im : {src3, dst3, src1, dst1}) cvReleaseImage(&im);
}

}  // namespace

int main() {
  const int defaultThreads = cv::getNumThreads();
  std::printf("OpenCV %s, default threads %d; ours runs on one thread\n", CV_VERSION, defaultThreads);
  Measure(640, 480, defaultThreads);
  Measure(1920, 1080, defaultThreads);
  Measure(683, 768, defaultThreads);  // a stereo half of a 1366-pixel frame: padded rows
  return 0;
}
