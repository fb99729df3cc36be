// Two-view geometry and IP image operations against their nearest OpenCV
// equivalents on the same data, OpenCV on one thread. Each line prints ours /
// OpenCV (above 1: ours is slower) beside the target ratio. Run from a build
// without sanitizers.
#include <opencv2/core/core_c.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "MVG/ip_operations.h"
#include "median_time.h"
#include "MVG/two_view_geometry.h"

namespace {

// Median milliseconds per call over enough calls to fill about 0.3 s.
double TimeMs(const std::function<void()>& f) { return bench::MedianMs(f, 400); }

// Times a batch of `repeat` calls and reports per call.
double PerCallMs(int repeat, const std::function<void()>& f) {
  return TimeMs([&] {
           for (int i = 0; i < repeat; ++i) f();
         }) /
         repeat;
}

void Row(const char* what, double ours, double theirs, double target) {
  const double ratio = ours / theirs;
  std::printf("  %-52s ours %9.4f ms  OpenCV %9.4f ms  ratio %5.2f (target <= %.1f)%s\n", what, ours, theirs, ratio,
              target, ratio <= target ? "" : "  MISSED");
}

using Mat3 = vnl_matrix_fixed<float, 3, 3>;

Mat3 Euler(float a, float b, float c) {
  float r[9];
  RotationMatrixFromEulerXYZ(a, b, c, r);
  return Mat3(r);
}

void BenchTriangulation() {
  const int n = 10000;
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f), depth(2.0f, 10.0f);
  const Mat3 R = Euler(0.02f, -0.1f, 0.03f);
  const float T[3] = {-0.3f, 0.01f, 0.02f};
  const float K[9] = {800, 0, 320, 0, 800, 240, 0, 0, 1};
  const float I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}, zero[3] = {0, 0, 0};
  float P1[12], P2[12];
  MVG::MakePrjMat(K, I, zero, P1);
  MVG::MakePrjMat(K, R.data_block(), T, P2);
  std::vector<float> x1(2 * n), x2(2 * n), X(4 * n);
  for (int i = 0; i < n; ++i) {
    const float z = depth(rng), W[4] = {u(rng) * z, u(rng) * z, z, 1};
    float p[3];
    for (int r = 0; r < 3; ++r) p[r] = P1[4 * r] * W[0] + P1[4 * r + 1] * W[1] + P1[4 * r + 2] * W[2] + P1[4 * r + 3];
    x1[2 * i] = p[0] / p[2];
    x1[2 * i + 1] = p[1] / p[2];
    for (int r = 0; r < 3; ++r) p[r] = P2[4 * r] * W[0] + P2[4 * r + 1] * W[1] + P2[4 * r + 2] * W[2] + P2[4 * r + 3];
    x2[2 * i] = p[0] / p[2];
    x2[2 * i + 1] = p[1] / p[2];
  }
  const double ours = TimeMs([&] {
    for (int i = 0; i < n; ++i) MVG::Triangulate_LstSqr(P1, P2, &x1[2 * i], &x2[2 * i], &X[4 * i]);
  });
  cv::Mat cP1(3, 4, CV_32F, P1), cP2(3, 4, CV_32F, P2), out;
  cv::Mat c1(2, n, CV_32F), c2(2, n, CV_32F);
  for (int i = 0; i < n; ++i) {
    c1.at<float>(0, i) = x1[2 * i];
    c1.at<float>(1, i) = x1[2 * i + 1];
    c2.at<float>(0, i) = x2[2 * i];
    c2.at<float>(1, i) = x2[2 * i + 1];
  }
  const double theirs = TimeMs([&] { cv::triangulatePoints(cP1, cP2, c1, c2, out); });
  Row("Triangulate_LstSqr, 10000 points", ours, theirs, 1.5);
}

// Relative pose of a set of normalised correspondences with outliers.
struct PoseData {
  Mat3 R;
  vnl_float_3 t;
  std::vector<float> x1, x2;
};

PoseData MakePoseData(int n, double outlierShare, unsigned seed) {
  PoseData d{Euler(0.05f, -0.2f, 0.1f), vnl_float_3(-1.0f, 0.1f, 0.2f), {}, {}};
  d.t = d.t / d.t.magnitude();
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f), depth(2.0f, 8.0f);
  std::normal_distribution<float> noise(0.0f, 1e-4f);
  while (static_cast<int>(d.x1.size()) < 2 * n) {
    const float z = depth(rng), X[3] = {u(rng) * z, u(rng) * z, z};
    float Y[3];
    for (int i = 0; i < 3; ++i) Y[i] = d.R(i, 0) * X[0] + d.R(i, 1) * X[1] + d.R(i, 2) * X[2] + d.t[i];
    if (Y[2] < 0.5f) continue;
    d.x1.insert(d.x1.end(), {X[0] / X[2] + noise(rng), X[1] / X[2] + noise(rng)});
    d.x2.insert(d.x2.end(), {Y[0] / Y[2] + noise(rng), Y[1] / Y[2] + noise(rng)});
  }
  for (int i = 0; i < static_cast<int>(n * outlierShare); ++i) {
    d.x2[2 * i] = u(rng);
    d.x2[2 * i + 1] = u(rng);
  }
  return d;
}

// The angle of a^T b from the Frobenius distance (||a - b|| = 2 sqrt(2)
// sin(angle / 2)), which keeps its precision at small angles where the
// trace formula's acos does not.
double RotationErrorDeg(const Mat3& a, const cv::Mat& b) {
  double d2 = 0;
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) d2 += (a(i, k) - b.at<double>(i, k)) * (a(i, k) - b.at<double>(i, k));
  return 2 * std::asin(std::min(1.0, std::sqrt(d2) / (2 * std::sqrt(2.0)))) * 180 / CV_PI;
}

double AngleDeg(const vnl_float_3& a, const double* b) {
  const double nb = std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]);
  const double an = a.magnitude();
  double d2 = 0;
  for (int i = 0; i < 3; ++i) d2 += (a[i] / an - b[i] / nb) * (a[i] / an - b[i] / nb);
  return 2 * std::asin(std::min(1.0, std::sqrt(d2) / 2)) * 180 / CV_PI;
}

void BenchEssential() {
  const int n = 200;
  PoseData d = MakePoseData(n, 0.3, 3);
  const float bound = 4e-7f;
  std::vector<char> status(n);
  float E[9];
  MVG::SetRansacSeedForTesting(17);
  const double ours = TimeMs([&] {
    std::fill(status.begin(), status.end(), 1);
    MVG::EssentialMatrixComputeRANSAC8Point(d.x1.data(), d.x2.data(), n, status.data(), E, bound);
  });
  std::vector<cv::Point2d> p1(n), p2(n);
  for (int i = 0; i < n; ++i) {
    p1[i] = {d.x1[2 * i], d.x1[2 * i + 1]};
    p2[i] = {d.x2[2 * i], d.x2[2 * i + 1]};
  }
  cv::Mat cvE, mask;
  const double threshold = std::sqrt(bound);  // OpenCV's threshold is a distance
  const double theirs =
      TimeMs([&] { cvE = cv::findEssentialMat(p1, p2, cv::Mat::eye(3, 3, CV_64F), cv::RANSAC, 0.99, threshold, mask); });
  Row("EssentialMatrixComputeRANSAC8Point, 200, 30 % outliers", ours, theirs, 1.0);

  // Pose errors of both estimates, each decomposed by its own library, on
  // the first inlier.
  int first = 0;
  while (!status[first]) ++first;
  const Mat3 Em(E);
  Mat3 R;
  vnl_float_3 t;
  MVG::DecomposeEssentialMatrix(Em, R, t, &d.x1[2 * first], &d.x2[2 * first]);
  cv::Mat cR, ct;
  cv::recoverPose(cvE.rowRange(0, 3), p1, p2, cv::Mat::eye(3, 3, CV_64F), cR, ct, mask);
  cv::Mat truthR(3, 3, CV_64F);
  for (int i = 0; i < 9; ++i) truthR.at<double>(i / 3, i % 3) = d.R.data_block()[i];
  const double tOurs[3] = {t[0], t[1], t[2]}, tTheirs[3] = {ct.at<double>(0), ct.at<double>(1), ct.at<double>(2)};
  std::printf("    rotation error: ours %.4f deg, OpenCV %.4f deg; translation error: ours %.4f deg, OpenCV %.4f deg\n",
              RotationErrorDeg(R, truthR), RotationErrorDeg(d.R, cR), AngleDeg(d.t, tOurs), AngleDeg(d.t, tTheirs));

  // Decomposition alone, same E and points for both.
  cv::Mat Ecv(3, 3, CV_64F);
  for (int i = 0; i < 9; ++i) Ecv.at<double>(i / 3, i % 3) = E[i];
  std::vector<cv::Point2d> q1(1, p1[first]), q2(1, p2[first]);
  Mat3 Rd;
  vnl_float_3 td;
  const double oursD = PerCallMs(100, [&] { MVG::DecomposeEssentialMatrix(Em, Rd, td, &d.x1[2 * first], &d.x2[2 * first]); });
  cv::Mat Rc, tc;
  const double theirsD = PerCallMs(100, [&] { cv::recoverPose(Ecv, q1, q2, cv::Mat::eye(3, 3, CV_64F), Rc, tc); });
  Row("DecomposeEssentialMatrix, one point", oursD, theirsD, 1.0);
  std::printf("    same R: %s (%.2e deg apart)\n", RotationErrorDeg(Rd, Rc) < 1e-3 ? "yes" : "NO",
              RotationErrorDeg(Rd, Rc));
}

void BenchConvolution() {
  const float kx[3] = {-1, 0, 1}, ky[3] = {1, 2, 1};
  cv::Mat ckx(1, 3, CV_32F, const_cast<float*>(kx)), cky(3, 1, CV_32F, const_cast<float*>(ky));
  struct Size {
    const char* name;
    int rows, width, channels, repeat;
    double target;
  } sizes[] = {{"SeparableConvolution3x3, 640 x 480 x 3", 480, 640, 3, 1, 1.5},
               {"SeparableConvolution3x3_c1, 640 x 480", 480, 640, 1, 1, 1.5},
               {"SeparableConvolution3x3, 5 x 5 x 3 patch", 5, 5, 3, 2000, 0.5}};
  for (const Size& s : sizes) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> u(0.0f, 255.0f);
    const size_t n = static_cast<size_t>(s.rows) * s.width * s.channels;
    std::vector<float> src(n), tmp(n), dst(static_cast<size_t>(s.rows - 2) * (s.width - 2) * s.channels);
    for (float& v : src) v = u(rng);
    const double ours = PerCallMs(s.repeat, [&] {
      if (s.channels == 1)
        IP::SeparableConvolution3x3_c1(src.data(), dst.data(), tmp.data(), s.rows, s.width, kx, ky);
      else
        IP::SeparableConvolution3x3(src.data(), dst.data(), tmp.data(), s.rows, s.width, s.channels, kx, ky);
    });
    cv::Mat in(s.rows, s.width, CV_32FC(s.channels), src.data()), out;
    const double theirs = PerCallMs(s.repeat, [&] { cv::sepFilter2D(in, out, CV_32F, ckx, cky); });
    Row(s.name, ours, theirs, s.target);
  }
}

void BenchPyramid() {
  IplImage* src = cvCreateImage(cvSize(1280, 960), IPL_DEPTH_8U, 3);
  std::mt19937 rng(2);
  for (int i = 0; i < src->imageSize; ++i) src->imageData[i] = static_cast<char>(rng() & 0xFF);
  const double ours = TimeMs([&] { IP::CImagePyramid p(src, 4); });
  cv::Mat m = cv::cvarrToMat(src);
  std::vector<cv::Mat> levels;
  const double theirs = TimeMs([&] { cv::buildPyramid(m, levels, 3); });
  Row("CImagePyramid::Initialize, 1280 x 960 x 3, 4 levels", ours, theirs, 1.2);
  cvReleaseImage(&src);
}

void BenchPatches() {
  for (int ch : {1, 3}) {
    IplImage* a = cvCreateImage(cvSize(11, 11), IPL_DEPTH_8U, ch);
    IplImage* b = cvCreateImage(cvSize(11, 11), IPL_DEPTH_8U, ch);
    IplImage* bigA = cvCreateImage(cvSize(64, 64), IPL_DEPTH_8U, ch);
    IplImage* bigB = cvCreateImage(cvSize(64, 64), IPL_DEPTH_8U, ch);
    std::mt19937 rng(ch);
    for (IplImage* im : {a, b, bigA, bigB})
      for (int i = 0; i < im->imageSize; ++i) im->imageData[i] = static_cast<char>(rng() & 0xFF);
    cv::Mat ma = cv::cvarrToMat(a), mb = cv::cvarrToMat(b), r;
    const int repeat = 2000;
    volatile float sink = 0;
    char name[96];
    std::snprintf(name, sizeof name, "Patch_ZNCC, 11 x 11 x %d", ch);
    double ours = PerCallMs(repeat, [&] { sink = IP::Patch_ZNCC(a, b); });
    double theirs = PerCallMs(repeat, [&] { cv::matchTemplate(ma, mb, r, cv::TM_CCOEFF_NORMED); });
    Row(name, ours, theirs, 1.0);
    std::snprintf(name, sizeof name, "ZNCC at a point, r 5, x %d", ch);
    cv::Mat wa = cv::cvarrToMat(bigA)(cv::Rect(20 - 5, 30 - 5, 11, 11)), wb = cv::cvarrToMat(bigB)(cv::Rect(25 - 5, 28 - 5, 11, 11));
    ours = PerCallMs(repeat, [&] { sink = IP::ZNCC(cvPoint(20, 30), cvPoint(25, 28), bigA, bigB, 5); });
    theirs = PerCallMs(repeat, [&] { cv::matchTemplate(wa, wb, r, cv::TM_CCOEFF_NORMED); });
    Row(name, ours, theirs, 1.0);
    std::snprintf(name, sizeof name, "Patch_SSD, 11 x 11 x %d", ch);
    ours = PerCallMs(repeat, [&] { sink = IP::Patch_SSD(a, b); });
    theirs = PerCallMs(repeat, [&] { cv::matchTemplate(ma, mb, r, cv::TM_SQDIFF); });
    Row(name, ours, theirs, 1.0);
    (void)sink;
    for (IplImage* im : {a, b, bigA, bigB}) cvReleaseImage(&im);
  }
}

}  // namespace

int main() {
  cv::setNumThreads(1);
  std::printf("Two-view geometry\n");
  BenchTriangulation();
  BenchEssential();
  std::printf("IP image operations\n");
  BenchConvolution();
  BenchPyramid();
  BenchPatches();
  return 0;
}
