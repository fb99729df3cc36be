#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "CV/pyramid_lucas_kanade.h"
#include "bilinear_patch.h"
#include "cvcompat/errstatus.h"
#include "quiet_errors.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// A smooth texture (sines of 30-50 px periods) per channel, evaluated at
// (x - sx, y - sy): the copy's content sits (sx, sy) further on.
cv::Mat Texture(int w, int h, int channels, double sx, double sy) {
  cv::Mat m(h, w, CV_8UC(channels));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < channels; ++c) {
        const double u = x - sx, v = y - sy;
        const double value = 128 + 45 * std::sin(2 * kPi * u / (31 + 4 * c)) + 35 * std::sin(2 * kPi * v / (43 - 3 * c)) +
                             30 * std::sin(2 * kPi * (u + 0.7 * v) / (37 + 2 * c));
        m.ptr<uchar>(y)[x * channels + c] = cv::saturate_cast<uchar>(value);
      }
  return m;
}

std::vector<CvPoint2D32f> InteriorGrid(int w, int h, int margin, int step) {
  std::vector<CvPoint2D32f> pts;
  for (int y = margin; y < h - margin; y += step)
    for (int x = margin; x < w - margin; x += step)
      pts.push_back(cvPoint2D32f(x + 0.25f * (x % 3), y + 0.3f * (y % 2)));
  return pts;
}

struct Outcome {
  double found;   // share of points with status 1
  double median;  // error of the found points, px
};

Outcome Measure(const std::vector<CvPoint2D32f>& pts, const std::vector<CvPoint2D32f>& matched,
                const std::vector<char>& status, double sx, double sy) {
  std::vector<double> errors;
  for (size_t i = 0; i < pts.size(); ++i)
    if (status[i]) errors.push_back(std::hypot(matched[i].x - pts[i].x - sx, matched[i].y - pts[i].y - sy));
  if (errors.empty()) return {0, 1e9};
  std::nth_element(errors.begin(), errors.begin() + errors.size() / 2, errors.end());
  return {static_cast<double>(errors.size()) / pts.size(), errors[errors.size() / 2]};
}

// OpenCV's tracker with our window (3 x 3) and levels, for comparison.
struct Tracked {
  std::vector<CvPoint2D32f> points;
  std::vector<char> status;
};
Tracked OpenCvTrack(const cv::Mat& a, const cv::Mat& b, const std::vector<CvPoint2D32f>& pts) {
  std::vector<cv::Point2f> cvPts, cvNext;
  for (const auto& p : pts) cvPts.emplace_back(p.x, p.y);
  std::vector<uchar> cvStatus;
  std::vector<float> err;
  cv::calcOpticalFlowPyrLK(a, b, cvPts, cvNext, cvStatus, err, cv::Size(3, 3), 3,
                           cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 20, 0.01));
  Tracked out;
  for (size_t i = 0; i < pts.size(); ++i) {
    out.points.push_back(cvPoint2D32f(cvNext[i].x, cvNext[i].y));
    out.status.push_back(static_cast<char>(cvStatus[i]));
  }
  return out;
}

using LucasKanade = Quiet;

TEST_F(LucasKanade, TracksShiftedTexturesAsWellAsOpenCV) {
  const int w = 200, h = 160;
  const double shifts[][2] = {{1.5, -0.75}, {5.3, -2.7}};
  for (const auto& s : shifts) {
    SCOPED_TRACE(testing::Message() << "shift " << s[0] << ", " << s[1]);
    cv::Mat a = Texture(w, h, 1, 0, 0), b = Texture(w, h, 1, s[0], s[1]);
    IplImage ia = cvIplImage(a), ib = cvIplImage(b);
    const auto pts = InteriorGrid(w, h, 16, 7);
    std::vector<CvPoint2D32f> matched(pts.size());
    std::vector<char> status(pts.size(), 7);
    CV::FeatureMatcherPyramidLucasKanade(&ia, &ib, const_cast<CvPoint2D32f*>(pts.data()), matched.data(),
                                         static_cast<int>(pts.size()), status.data());
    const Outcome ours = Measure(pts, matched, status, s[0], s[1]);

    const Tracked theirs = OpenCvTrack(a, b, pts);
    const Outcome reference = Measure(pts, theirs.points, theirs.status, s[0], s[1]);

    EXPECT_GE(ours.found, 0.9);
    EXPECT_LT(ours.median, 0.2);
    EXPECT_LT(ours.median, reference.median + 0.05) << "OpenCV's median " << reference.median;

    // Without a status array the same work is done and kept.
    std::vector<CvPoint2D32f> again(pts.size());
    CV::FeatureMatcherPyramidLucasKanade(&ia, &ib, const_cast<CvPoint2D32f*>(pts.data()), again.data(),
                                         static_cast<int>(pts.size()), nullptr);
    for (size_t i = 0; i < pts.size(); ++i) {
      EXPECT_EQ(again[i].x, matched[i].x);
      EXPECT_EQ(again[i].y, matched[i].y);
    }
  }
}

TEST_F(LucasKanade, ColourImagesTrackToo) {
  const int w = 160, h = 128;
  for (int channels : {3, 4}) {
    SCOPED_TRACE(channels);
    cv::Mat a = Texture(w, h, channels, 0, 0), b = Texture(w, h, channels, 5.3, -2.7);
    IplImage ia = cvIplImage(a), ib = cvIplImage(b);
    const auto pts = InteriorGrid(w, h, 16, 9);
    std::vector<CvPoint2D32f> matched(pts.size());
    std::vector<char> status(pts.size());
    CV::FeatureMatcherPyramidLucasKanade(&ia, &ib, const_cast<CvPoint2D32f*>(pts.data()), matched.data(),
                                         static_cast<int>(pts.size()), status.data());
    const Outcome ours = Measure(pts, matched, status, 5.3, -2.7);
    EXPECT_GE(ours.found, 0.9);
    EXPECT_LT(ours.median, 0.2);
  }
}

TEST_F(LucasKanade, IdenticalUniformAndBorderPoints) {
  const int w = 96, h = 80;
  cv::Mat a = Texture(w, h, 1, 0, 0);
  // The right quarter is uniform.
  a.colRange(72, 96).setTo(cv::Scalar(90));
  IplImage ia = cvIplImage(a);
  std::vector<CvPoint2D32f> pts = {cvPoint2D32f(30.5f, 40.25f), cvPoint2D32f(20, 20), cvPoint2D32f(50.75f, 61)};
  std::vector<CvPoint2D32f> matched(pts.size());
  std::vector<char> status(pts.size());
  CV::FeatureMatcherPyramidLucasKanade(&ia, &ia, pts.data(), matched.data(), 3, status.data());
  for (size_t i = 0; i < pts.size(); ++i) {
    EXPECT_EQ(status[i], 1);
    EXPECT_EQ(matched[i].x, pts[i].x);
    EXPECT_EQ(matched[i].y, pts[i].y);
  }

  // A uniform area is lost, where it stands.
  CvPoint2D32f flat = cvPoint2D32f(88.5f, 40);
  CvPoint2D32f flatOut;
  char flatStatus = 9;
  CV::FeatureMatcherPyramidLucasKanade(&ia, &ia, &flat, &flatOut, 1, &flatStatus);
  EXPECT_EQ(flatStatus, 0);
  EXPECT_NEAR(flatOut.x, flat.x, 1.0);
  EXPECT_NEAR(flatOut.y, flat.y, 1.0);

  // A large shift that drives points out of the second image: only defined
  // reads (ASan watches) and finite output. Images with exactly their own
  // bytes, so any overrun is a heap overflow.
  cv::Mat b = Texture(w, h, 1, -30, 25);
  std::vector<uchar> bytesA(a.total()), bytesB(b.total());
  std::copy(a.datastart, a.dataend, bytesA.begin());
  std::copy(b.datastart, b.dataend, bytesB.begin());
  IplImage* ha = cvCreateImageHeader(cvSize(w, h), IPL_DEPTH_8U, 1);
  IplImage* hb = cvCreateImageHeader(cvSize(w, h), IPL_DEPTH_8U, 1);
  cvSetData(ha, bytesA.data(), w);
  cvSetData(hb, bytesB.data(), w);
  std::vector<CvPoint2D32f> edge = {cvPoint2D32f(1, 1),          cvPoint2D32f(w - 2.f, h - 2.f),
                                    cvPoint2D32f(1, h / 2.f),    cvPoint2D32f(w - 1.5f, 3),
                                    cvPoint2D32f(0, 0),          cvPoint2D32f(w - 1.f, h - 1.f),
                                    cvPoint2D32f(5, h - 4.f)};
  std::vector<CvPoint2D32f> out(edge.size());
  std::vector<char> st(edge.size());
  CV::FeatureMatcherPyramidLucasKanade(ha, hb, edge.data(), out.data(), static_cast<int>(edge.size()), st.data());
  for (const auto& p : out) {
    EXPECT_TRUE(std::isfinite(p.x));
    EXPECT_TRUE(std::isfinite(p.y));
  }
  cvReleaseImageHeader(&ha);
  cvReleaseImageHeader(&hb);
}

// Points at and next to the border, where the window is clipped to the
// image on every level: identical images give each back where it stands,
// found, and most points a few pixels in from the edges are still followed
// under motion.
TEST_F(LucasKanade, BorderPointsAreStillTracked) {
  const int w = 96, h = 80;
  const cv::Mat a = Texture(w, h, 1, 0, 0);
  IplImage ia = cvIplImage(a);
  // The image with exactly its own bytes, so that any read past it is a
  // heap overflow.
  std::vector<uchar> bytes(a.datastart, a.dataend);
  IplImage* exact = cvCreateImageHeader(cvSize(w, h), IPL_DEPTH_8U, 1);
  cvSetData(exact, bytes.data(), w);
  const std::vector<CvPoint2D32f> edge = {cvPoint2D32f(0, 0),           cvPoint2D32f(1, 1),
                                          cvPoint2D32f(w - 1.f, h - 1.f), cvPoint2D32f(w - 2.f, h - 2.f),
                                          cvPoint2D32f(1, h / 2.f),       cvPoint2D32f(w - 1.5f, 3),
                                          cvPoint2D32f(5, h - 4.f),       cvPoint2D32f(w / 2.f, 0.5f),
                                          cvPoint2D32f(2.25f, 40.75f)};
  const int n = static_cast<int>(edge.size());
  std::vector<CvPoint2D32f> out(edge.size());
  std::vector<char> status(edge.size(), 7);
  CV::FeatureMatcherPyramidLucasKanade(exact, exact, const_cast<CvPoint2D32f*>(edge.data()), out.data(), n,
                                       status.data());
  cvReleaseImageHeader(&exact);
  for (int i = 0; i < n; ++i) {
    SCOPED_TRACE(testing::Message() << "identical images, point " << edge[i].x << ", " << edge[i].y);
    EXPECT_EQ(status[i], 1);
    EXPECT_NEAR(out[i].x, edge[i].x, 1e-3);
    EXPECT_NEAR(out[i].y, edge[i].y, 1e-3);
  }

  // Under motion, the points a few pixels in from each edge: at the coarse
  // levels their windows are clipped much more than at the finest, so
  // some go astray, as with OpenCV's tracker of the same window and
  // levels; most must still be followed.
  const double shifts[][2] = {{1.25, -0.75}, {0.5, 0.25}, {-2, 1.5}};
  for (const auto& s : shifts)
    for (const int d : {3, 5}) {
      SCOPED_TRACE(testing::Message() << "shift " << s[0] << ", " << s[1] << ", " << d << " px from the edges");
      const cv::Mat b = Texture(w, h, 1, s[0], s[1]);
      IplImage ib = cvIplImage(b);
      std::vector<CvPoint2D32f> pts;
      for (int k = 0; k < 12; ++k) {
        const float x = 10 + k * (w - 20) / 11.f, y = 10 + k * (h - 20) / 11.f;
        for (const CvPoint2D32f p : {cvPoint2D32f(x, d), cvPoint2D32f(x, h - 1 - d), cvPoint2D32f(d, y),
                                     cvPoint2D32f(w - 1 - d, y)})
          pts.push_back(p);
      }
      std::vector<CvPoint2D32f> moved(pts.size());
      std::vector<char> found(pts.size(), 7);
      CV::FeatureMatcherPyramidLucasKanade(&ia, &ib, pts.data(), moved.data(), static_cast<int>(pts.size()),
                                           found.data());
      const Tracked their = OpenCvTrack(a, b, pts);
      int ours = 0, theirs = 0;
      for (size_t i = 0; i < pts.size(); ++i) {
        ours += found[i] == 1 && std::hypot(moved[i].x - pts[i].x - s[0], moved[i].y - pts[i].y - s[1]) < 0.3;
        theirs += their.status[i] == 1 &&
                  std::hypot(their.points[i].x - pts[i].x - s[0], their.points[i].y - pts[i].y - s[1]) < 0.3;
        EXPECT_TRUE(found[i] == 0 || found[i] == 1);
      }
      EXPECT_GE(ours, static_cast<int>(0.7 * pts.size()));
      EXPECT_GE(ours, theirs);
    }
}

TEST(BilinearPatch, EqualsGetRectSubPixInsideTheImage) {
  std::mt19937 rng(5);
  for (int channels : {1, 3}) {
    SCOPED_TRACE(channels);
    cv::Mat image(37, 41, CV_8UC(channels));
    cv::randu(image, 0, 256);
    std::uniform_real_distribution<float> ux(2.5f, 38.0f), uy(2.5f, 34.0f);
    for (int n : {3, 5}) {
      for (int k = 0; k < 40; ++k) {
        const cv::Point2f c(ux(rng), uy(rng));
        cv::Mat reference;
        cv::getRectSubPix(image, cv::Size(n, n), c, reference, CV_32F);
        std::vector<float> ours(static_cast<size_t>(n) * n * channels);
        CV::detail::SampleBilinearPatch(image.data, static_cast<int>(image.step), image.cols, image.rows, channels,
                                        c.x, c.y, n, ours.data());
        const cv::Mat mine(n, n, CV_32FC(channels), ours.data());
        EXPECT_LE(cv::norm(mine, reference, cv::NORM_INF), 0.01) << c;
      }
    }
  }
}

TEST_F(LucasKanade, RefusalsCopyThePointsAndClearTheStatus) {
  cv::Mat grey = Texture(64, 48, 1, 0, 0), colour = Texture(64, 48, 3, 0, 0);
  cv::Mat deep(48, 64, CV_16UC1, cv::Scalar(1000));
  IplImage ig = cvIplImage(grey), ic = cvIplImage(colour), id = cvIplImage(deep);
  struct Case {
    const char* what;
    IplImage* first;
    IplImage* second;
    int count;
    int status;
  } cases[] = {
      {"channel mismatch", &ig, &ic, 3, CV_StsBadArg},
      {"16-bit image", &id, &id, 3, CV_StsBadArg},
      {"null image", nullptr, &ig, 3, CV_StsBadArg},
      {"count -1", &ig, &ig, -1, CV_StsBadSize},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CvPoint2D32f pts[3] = {cvPoint2D32f(20, 20), cvPoint2D32f(30.5f, 21), cvPoint2D32f(40, 30)};
    CvPoint2D32f matched[3] = {cvPoint2D32f(-7, -7), cvPoint2D32f(-7, -7), cvPoint2D32f(-7, -7)};
    char status[3] = {5, 5, 5};
    cvcompat::ClearErrStatus();
    CV::FeatureMatcherPyramidLucasKanade(c.first, c.second, pts, matched, c.count, status);
    EXPECT_EQ(cvcompat::GetErrStatus(), c.status);
    for (int i = 0; i < 3; ++i) {
      if (c.count < 0) {
        EXPECT_EQ(status[i], 5);  // no count, nothing to write
        continue;
      }
      EXPECT_EQ(status[i], 0);
      EXPECT_EQ(matched[i].x, pts[i].x);
      EXPECT_EQ(matched[i].y, pts[i].y);
    }
  }
  cvcompat::ClearErrStatus();
  CV::FeatureMatcherPyramidLucasKanade(&ig, &ig, nullptr, nullptr, 2, nullptr);
  EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadArg);

  // A NaN point is lost where it stands; its neighbours are still tracked.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  CvPoint2D32f pts[3] = {cvPoint2D32f(20, 20), cvPoint2D32f(nan, 21), cvPoint2D32f(40, 30)};
  CvPoint2D32f matched[3];
  char status[3] = {5, 5, 5};
  cvcompat::ClearErrStatus();
  CV::FeatureMatcherPyramidLucasKanade(&ig, &ig, pts, matched, 3, status);
  EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsOk);
  EXPECT_EQ(status[0], 1);
  EXPECT_EQ(status[1], 0);
  EXPECT_EQ(status[2], 1);
  EXPECT_TRUE(std::isnan(matched[1].x));
  EXPECT_EQ(matched[1].y, 21);
}

}  // namespace
