// The live-video undistortion road: our warp maps and resamplers against
// OpenCV's initUndistortRectifyMap and bilinear remap on the same camera.
// Prints the median time per call of each side, timed in turn, and ours /
// OpenCV (above 1: ours is slower) with the spread of the per-pair ratios.
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

// Ours and OpenCV's timed in turn, call by call, so a slow moment of the
// machine falls on both sides: at least 9 pairs, more while under about
// 0.6 s. The medians of each side and the spread of the per-pair ratios.
struct Timing {
  double ours, theirs;         // median milliseconds per call
  double ratioLow, ratioHigh;  // 10th and 90th percentile of ours / theirs over the pairs
};

double Ms(const std::function<void()>& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

double Median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

Timing Interleaved(const std::function<void()>& ours, const std::function<void()>& theirs) {
  ours();  // warm caches and lazy initialisation
  theirs();
  std::vector<double> a, b, ratios;
  const auto start = std::chrono::steady_clock::now();
  while (a.size() < 9 ||
         (a.size() < 200 && std::chrono::steady_clock::now() - start < std::chrono::milliseconds(600))) {
    // Alternate which side goes first.
    double x, y;
    if (a.size() % 2) {
      x = Ms(ours), y = Ms(theirs);
    } else {
      y = Ms(theirs), x = Ms(ours);
    }
    a.push_back(x), b.push_back(y), ratios.push_back(x / y);
  }
  std::sort(ratios.begin(), ratios.end());
  return {Median(a), Median(b), ratios[ratios.size() / 10], ratios[ratios.size() - 1 - ratios.size() / 10]};
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

void Row(const char* what, const Timing& t) {
  std::printf("  %-60s ours %8.3f ms  OpenCV %8.3f ms  ratio %5.2f (pairs %4.2f-%4.2f)\n", what, t.ours, t.theirs,
              t.ours / t.theirs, t.ratioLow, t.ratioHigh);
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
  auto build = [&] { MVG::ComputeUndistortionMapCoefficients(&camera, 1, maps); };
  auto buildGray = [&] { gray.ComputeUndistortionMap(grayMap.data()); };
  auto cvF = [&] { OpenCvMaps(camera, CV_32FC1, &fx, &fy); };
  auto cvI = [&] { OpenCvMaps(camera, CV_16SC2, &ix, &iy); };
  Row("map build MVG vs initUndistortRectifyMap 32FC1, 1 thread", Interleaved(build, cvF));
  Row("map build MVG vs initUndistortRectifyMap 16SC2, 1 thread", Interleaved(build, cvI));
  Row("map build CCamera vs initUndistortRectifyMap 32FC1, 1 thread", Interleaved(buildGray, cvF));
  cv::setNumThreads(defaultThreads);
  Row("map build MVG vs initUndistortRectifyMap 32FC1, threads", Interleaved(build, cvF));

  auto warp3 = [&] { IP::WarpByWeightsIndex(src3, dst3, colourMap.data()); };
  auto warp1 = [&] { IP::WarpByWeightsIndexGray(src1, dst1, grayMap.data()); };
  for (int threads : {1, defaultThreads}) {
    cv::setNumThreads(threads);
    const char* t = threads == 1 ? "1 thread" : "threads";
    char label[96];
    std::snprintf(label, sizeof label, "warp 3 ch vs remap 16SC2, %s", t);
    Row(label, Interleaved(warp3, [&] { cv::remap(s3, d3, ix, iy, cv::INTER_LINEAR); }));
    std::snprintf(label, sizeof label, "warp 3 ch vs remap 32FC1, %s", t);
    Row(label, Interleaved(warp3, [&] { cv::remap(s3, d3, fx, fy, cv::INTER_LINEAR); }));
    std::snprintf(label, sizeof label, "warp gray vs remap 16SC2, %s", t);
    Row(label, Interleaved(warp1, [&] { cv::remap(s1, d1, ix, iy, cv::INTER_LINEAR); }));
    std::snprintf(label, sizeof label, "warp gray vs remap 32FC1, %s", t);
    Row(label, Interleaved(warp1, [&] { cv::remap(s1, d1, fx, fy, cv::INTER_LINEAR); }));
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
