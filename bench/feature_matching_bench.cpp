// MSER and pyramidal Lucas-Kanade against OpenCV on the same data, one
// thread. Each line prints ours / OpenCV (above 1: ours is slower) beside
// the target ratio. Run from a build without sanitizers.
#include <opencv2/core/core_c.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <opencv2/core.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>
#include <random>
#include <vector>

#include "CV/mser.h"
#include "CV/pyramid_lucas_kanade.h"

namespace {

// Median milliseconds per call over enough calls to fill about 0.5 s.
double TimeMs(const std::function<void()>& f) {
  f();
  std::vector<double> samples;
  const auto start = std::chrono::steady_clock::now();
  while (samples.size() < 5 ||
         (samples.size() < 200 && std::chrono::steady_clock::now() - start < std::chrono::milliseconds(500))) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    samples.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
  return samples[samples.size() / 2];
}

void Row(const char* what, double ours, double theirs, double target) {
  const double ratio = ours / theirs;
  std::printf("  %-40s ours %9.3f ms  OpenCV %9.3f ms  ratio %5.2f (target <= %.1f)%s\n", what, ours, theirs, ratio,
              target, ratio <= target ? "" : "  MISSED");
}

// Dark blurred blobs of random size on a bright background, plus noise.
cv::Mat Blobs(int w, int h) {
  std::mt19937 rng(11);
  cv::Mat img(h, w, CV_8UC1, cv::Scalar(190));
  std::uniform_int_distribution<int> ux(0, w - 1), uy(0, h - 1), ur(2, 9), ug(20, 150);
  for (int i = 0; i < 400; ++i) cv::circle(img, cv::Point(ux(rng), uy(rng)), ur(rng), cv::Scalar(ug(rng)), -1);
  cv::GaussianBlur(img, img, cv::Size(0, 0), 1.2);
  cv::Mat noise(h, w, CV_8SC1);
  cv::randn(noise, 0, 2);
  cv::Mat out;
  cv::add(img, noise, out, cv::noArray(), CV_8U);
  return out;
}

void BenchMser() {
  const cv::Mat img = Blobs(640, 480);
  IplImage ipl = cvIplImage(img);
  FeatureDetectionMSER ours;
  const double oursMs = TimeMs([&] { ours.DetectMSER0(&ipl, 0); });
  cv::Ptr<cv::MSER> mser = cv::MSER::create(5, 5, 300);
  std::vector<std::vector<cv::Point>> regions;
  std::vector<cv::Rect> boxes;
  const double theirsMs = TimeMs([&] { mser->detectRegions(img, regions, boxes); });

  std::printf("MSER, 640 x 480 blurred blobs with noise\n");
  Row("DetectMSER0 vs MSER::detectRegions", oursMs, theirsMs, 2.0);
  std::vector<cv::Point2f> centres;
  for (const auto& r : regions) {
    cv::Point2f c(0, 0);
    for (const auto& p : r) c += cv::Point2f(static_cast<float>(p.x), static_cast<float>(p.y));
    centres.push_back(c * (1.0f / static_cast<float>(r.size())));
  }
  int near = 0;
  for (const MserRegion& r : ours.lists[2][0])
    for (const auto& c : centres)
      if (std::hypot(c.x - r.centroidX, c.y - r.centroidY) <= 2.0f) {
        ++near;
        break;
      }
  const size_t outCount = ours.lists[2][0].size();
  std::printf("  regions: ours %zu, OpenCV %zu (both polarities); ours within 2 px of an OpenCV centroid: %.1f%%\n",
              outCount, regions.size(), outCount ? 100.0 * near / outCount : 0.0);
  std::printf("  list 0 after the call: %zu records, %zu bytes\n", ours.lists[0][0].size(),
              ours.lists[0][0].capacity() * sizeof(MserRegion));
}

cv::Mat Smooth(int w, int h, double sx, double sy) {
  cv::Mat m(h, w, CV_8UC1);
  const double pi = 3.14159265358979323846;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double u = x - sx, v = y - sy;
      m.at<uchar>(y, x) = cv::saturate_cast<uchar>(128 + 45 * std::sin(2 * pi * u / 31) + 35 * std::sin(2 * pi * v / 43) +
                                                   30 * std::sin(2 * pi * (u + 0.7 * v) / 37));
    }
  return m;
}

void Errors(const char* who, const std::vector<cv::Point2f>& p, const std::vector<cv::Point2f>& q,
            const std::vector<uchar>& status, double sx, double sy) {
  std::vector<double> e;
  for (size_t i = 0; i < p.size(); ++i)
    if (status[i]) e.push_back(std::hypot(q[i].x - p[i].x - sx, q[i].y - p[i].y - sy));
  std::sort(e.begin(), e.end());
  if (e.empty()) return;
  std::printf("  %-8s found %4zu / %zu  median error %.4f px  90th percentile %.4f px\n", who, e.size(), p.size(),
              e[e.size() / 2], e[e.size() * 9 / 10]);
}

void BenchLucasKanade() {
  const double sx = 5.3, sy = -2.7;
  const cv::Mat a = Smooth(640, 480, 0, 0), b = Smooth(640, 480, sx, sy);
  IplImage ia = cvIplImage(a), ib = cvIplImage(b);
  std::mt19937 rng(2);
  std::uniform_real_distribution<float> ux(20, 620), uy(20, 460);
  std::vector<cv::Point2f> pts(1000);
  for (auto& p : pts) p = cv::Point2f(ux(rng), uy(rng));
  std::vector<CvPoint2D32f> cpts(pts.size()), matched(pts.size());
  for (size_t i = 0; i < pts.size(); ++i) cpts[i] = cvPoint2D32f(pts[i].x, pts[i].y);
  std::vector<char> status(pts.size());
  const double oursMs = TimeMs([&] {
    CV::FeatureMatcherPyramidLucasKanade(&ia, &ib, cpts.data(), matched.data(), static_cast<int>(cpts.size()),
                                         status.data());
  });
  std::vector<cv::Point2f> next;
  std::vector<uchar> cvStatus;
  std::vector<float> err;
  const cv::TermCriteria term(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 20, 0.01);
  const double theirsMs =
      TimeMs([&] { cv::calcOpticalFlowPyrLK(a, b, pts, next, cvStatus, err, cv::Size(3, 3), 3, term); });

  std::printf("Pyramidal Lucas-Kanade, 640 x 480, 1000 points, shift (5.3, -2.7)\n");
  Row("FeatureMatcherPyramidLucasKanade", oursMs, theirsMs, 1.5);
  std::vector<cv::Point2f> ours(pts.size());
  std::vector<uchar> oursStatus(pts.size());
  for (size_t i = 0; i < pts.size(); ++i) {
    ours[i] = cv::Point2f(matched[i].x, matched[i].y);
    oursStatus[i] = static_cast<uchar>(status[i]);
  }
  Errors("ours", pts, ours, oursStatus, sx, sy);
  Errors("OpenCV", pts, next, cvStatus, sx, sy);
}

}  // namespace

int main() {
  cv::setNumThreads(1);
  BenchMser();
  BenchLucasKanade();
  return 0;
}
