#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "CV/match_propagation.h"
#include "cvcompat/errstatus.h"
#include "quiet_errors.h"

namespace {

// An image whose data is exactly widthStep x height heap bytes, so a read
// past the last row or before the first is a heap overflow under ASan.
class ExactImage {
 public:
  ExactImage(int w, int h, int ch, int step = 0) : data_(static_cast<size_t>(step ? step : w * ch) * h) {
    header_ = cvCreateImageHeader(cvSize(w, h), IPL_DEPTH_8U, ch);
    cvSetData(header_, data_.data(), step ? step : w * ch);
  }
  ExactImage(const ExactImage&) = delete;
  ExactImage& operator=(const ExactImage&) = delete;
  ~ExactImage() { cvReleaseImageHeader(&header_); }
  IplImage* get() const { return header_; }
  unsigned char* at(int x, int y) {
    return data_.data() + static_cast<size_t>(y) * header_->widthStep + static_cast<size_t>(x) * header_->nChannels;
  }
  int width() const { return header_->width; }
  int height() const { return header_->height; }

 private:
  std::vector<unsigned char> data_;
  IplImage* header_;
};

constexpr int kW = 64, kH = 48;

// A random texture and the same content moved by (sx, sy) with +-2 noise:
// first-image pixel (x, y) matches second-image pixel (x + sx, y + sy).
// A 12 x 12 uniform patch sits at (30, 16) in the first image (and moved
// in the second). With `blur`, neighbouring offsets correlate too.
struct Pair {
  std::unique_ptr<ExactImage> first, second;
};

Pair MakePair(int sx, int sy, bool blur = false, unsigned seed = 3) {
  std::mt19937 rng(seed);
  cv::Mat base(kH + 16, kW + 16, CV_8UC1);
  cv::randu(base, 0, 256);
  if (blur) cv::GaussianBlur(base, base, cv::Size(0, 0), 1.5), cv::normalize(base, base, 0, 255, cv::NORM_MINMAX);
  base(cv::Rect(30 + 8, 16 + 8, 12, 12)).setTo(cv::Scalar(100));
  std::uniform_int_distribution<int> noise(-2, 2);
  Pair p{std::make_unique<ExactImage>(kW, kH, 1), std::make_unique<ExactImage>(kW, kH, 1)};
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      *p.first->at(x, y) = base.at<uchar>(y + 8, x + 8);
      const int v = base.at<uchar>(y + 8 - sy, x + 8 - sx);
      const bool flat = v == 100 && x - sx >= 30 && x - sx < 42 && y - sy >= 16 && y - sy < 28;
      *p.second->at(x, y) = static_cast<uchar>(flat ? v : std::clamp(v + noise(rng), 0, 255));
    }
  return p;
}

struct Seeds {
  std::vector<CvPoint2D32f> a, b;
  std::vector<char> status;
  void Add(float x1, float y1, float x2, float y2, char s = 1) {
    a.push_back(cvPoint2D32f(x1, y1));
    b.push_back(cvPoint2D32f(x2, y2));
    status.push_back(s);
  }
  void Run(CV::CMatchPropagation& mp, IplImage* first, IplImage* second, bool rectified = false) {
    CvPoint2D32f* pts[2] = {a.data(), b.data()};
    if (rectified)
      mp.PropagateRectifiedMatchesFast(pts, status.data(), static_cast<int>(a.size()), first, second);
    else
      mp.PropagateMatchesFast(pts, status.data(), static_cast<int>(a.size()), first, second);
  }
};

Seeds FiveCorrect(int sx, int sy) {
  Seeds s;
  for (auto [x, y] : {std::pair{10, 10}, {50, 10}, {10, 38}, {50, 38}, {24, 30}}) s.Add(x, y, x + sx, y + sy);
  return s;
}

int Matched(const CV::CMatchPropagation& mp) {
  int n = 0;
  for (const CvPoint& m : mp.map1) n += m.x != -1;
  return n;
}

// map2 is map1 read backwards, entry for entry.
void ExpectInverseMaps(const CV::CMatchPropagation& mp) {
  int forward = 0, backward = 0;
  for (int y = 0; y < mp.height; ++y)
    for (int x = 0; x < mp.width; ++x) {
      const CvPoint q = mp.map1[static_cast<size_t>(y) * mp.width + x];
      if (q.x == -1) continue;
      ++forward;
      const CvPoint back = mp.map2[static_cast<size_t>(q.y) * mp.width + q.x];
      EXPECT_EQ(back.x, x);
      EXPECT_EQ(back.y, y);
    }
  for (const CvPoint& m : mp.map2) backward += m.x != -1;
  EXPECT_EQ(forward, backward);
}

using MatchPropagation = Quiet;

TEST_F(MatchPropagation, GrowsTheTrueShiftFromFiveSeedsAndAvoidsUniformAreas) {
  Pair p = MakePair(3, 0);
  CV::CMatchPropagation mp;
  mp.Initialize(p.first->get());
  FiveCorrect(3, 0).Run(mp, p.first->get(), p.second->get());

  int matched = 0, correct = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const CvPoint q = mp.map1[static_cast<size_t>(y) * kW + x];
      if (q.x == -1) continue;
      ++matched;
      correct += q.x == x + 3 && q.y == y;
      // Inside the uniform patch (its edge pixels still have texture).
      EXPECT_FALSE(x > 30 && x < 41 && y > 16 && y < 27) << x << ", " << y;
    }
  EXPECT_GT(matched, (kW - 10) * (kH - 10) / 2);
  EXPECT_GE(correct, 0.95 * matched);
  ExpectInverseMaps(mp);
}

TEST_F(MatchPropagation, SeedsThatDoNotQualifyGiveNoMatches) {
  Pair p = MakePair(3, 0);
  CV::CMatchPropagation mp;
  struct Case {
    const char* what;
    Seeds seeds;
  };
  Seeds unmarked = FiveCorrect(3, 0);
  for (char& s : unmarked.status) s = 0;
  Seeds wrong;  // second pixels of unrelated texture
  for (auto [x, y] : {std::pair{10, 10}, {50, 12}, {12, 38}, {47, 36}})
    wrong.Add(x, y, x + 9, (y + 17) % 40 + 4);
  Seeds outside;  // out of range, non-finite, or windows leaving the image
  const float nan = std::numeric_limits<float>::quiet_NaN();
  outside.Add(nan, 10, 13, 10);
  outside.Add(10, 10, 1e20f, 10);
  outside.Add(-3, 10, 0, 10);
  outside.Add(1, 10, 4, 10);
  outside.Add(62, 20, 63.5f, 20);
  for (size_t i = 0; i < wrong.a.size(); ++i)
    ASSERT_LE(mp.WindowZNCC(p.first->get(), p.second->get(), static_cast<int>(wrong.a[i].x),
                            static_cast<int>(wrong.a[i].y), static_cast<int>(wrong.b[i].x),
                            static_cast<int>(wrong.b[i].y), 2),
              0.5f);
  Case cases[] = {{"status 0", unmarked}, {"no seeds", Seeds{}}, {"scores of 0.5 or less", wrong},
                  {"positions outside", outside}};
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    mp.Initialize(p.first->get());
    c.seeds.Run(mp, p.first->get(), p.second->get());
    EXPECT_EQ(Matched(mp), 0);
    EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsOk);
  }
}

TEST_F(MatchPropagation, SeedsSharingAPixelKeepTheMapsOneToOne) {
  // Blurred texture: a seed one pixel off still scores well above 0.5.
  Pair p = MakePair(3, 0, /*blur=*/true);
  CV::CMatchPropagation mp;
  mp.Initialize(p.first->get());
  Seeds s;
  s.Add(20, 20, 23, 20);
  s.Add(21, 20, 23, 20);  // same second pixel
  s.Add(20, 20, 24, 20);  // same first pixel
  s.Add(20, 20, 23, 20);  // the first seed again
  ASSERT_GT(mp.WindowZNCC(p.first->get(), p.second->get(), 21, 20, 23, 20, 2), 0.5f);
  ASSERT_GT(mp.WindowZNCC(p.first->get(), p.second->get(), 20, 20, 24, 20, 2), 0.5f);
  s.Run(mp, p.first->get(), p.second->get());
  EXPECT_GT(Matched(mp), 100);
  ExpectInverseMaps(mp);

  // A second run continues from the first: nothing is matched twice.
  FiveCorrect(3, 0).Run(mp, p.first->get(), p.second->get());
  ExpectInverseMaps(mp);
}

TEST_F(MatchPropagation, RectifiedMatchesKeepTheSeedRowOffset) {
  Pair p = MakePair(3, 1);
  CV::CMatchPropagation mp;
  mp.Initialize(p.first->get());
  FiveCorrect(3, 1).Run(mp, p.first->get(), p.second->get(), /*rectified=*/true);
  EXPECT_GT(Matched(mp), 200);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const CvPoint q = mp.map1[static_cast<size_t>(y) * kW + x];
      if (q.x != -1) {
        EXPECT_EQ(q.y, y + 1) << x << ", " << y;
      }
    }
  ExpectInverseMaps(mp);
}

TEST_F(MatchPropagation, WindowsNeverLeaveTheImagesAndStridesAreEachImagesOwn) {
  Pair p = MakePair(3, 0);
  CV::CMatchPropagation mp;
  mp.SetCorrWinSize(6, 6);
  mp.Initialize(p.first->get());
  Seeds edge;
  edge.Add(2, 20, 5, 20);
  edge.Add(30, kH - 2, 33, kH - 2);
  edge.Add(kW - 2, 10, kW - 2, 10);
  edge.Add(8, 8, 11, 8);
  edge.Run(mp, p.first->get(), p.second->get(), true);
  edge.Run(mp, p.first->get(), p.second->get(), false);
  ExpectInverseMaps(mp);

  // The same second image with longer rows gives the same matches.
  ExactImage wide(kW, kH, 1, kW + 24);
  for (int y = 0; y < kH; ++y) std::memcpy(wide.at(0, y), p.second->at(0, y), kW);
  Seeds seeds = FiveCorrect(3, 0);
  for (bool rectified : {false, true}) {
    CV::CMatchPropagation a, b;
    a.Initialize(p.first->get());
    b.Initialize(p.first->get());
    seeds.Run(a, p.first->get(), p.second->get(), rectified);
    seeds.Run(b, p.first->get(), wide.get(), rectified);
    EXPECT_GT(Matched(a), 200);
    for (size_t i = 0; i < a.map1.size(); ++i) {
      ASSERT_EQ(a.map1[i].x, b.map1[i].x) << i;
      ASSERT_EQ(a.map1[i].y, b.map1[i].y) << i;
    }
  }
}

TEST_F(MatchPropagation, WindowMeasures) {
  ExactImage a(12, 10, 3), inverted(12, 10, 3), flat(12, 10, 3);
  std::mt19937 rng(1);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 12; ++x)
      for (int c = 0; c < 3; ++c) {
        a.at(x, y)[c] = static_cast<uchar>(rng() % 200 + 20);
        inverted.at(x, y)[c] = static_cast<uchar>(255 - a.at(x, y)[c]);
        flat.at(x, y)[c] = 77;
      }
  CV::CMatchPropagation mp;
  struct Score {
    const char* what;
    IplImage* second;
    int x2, y2;
    float expected;
  } scores[] = {
      {"identical windows", a.get(), 5, 5, 1.0f},
      {"inverted", inverted.get(), 5, 5, -1.0f},
      {"uniform", flat.get(), 5, 5, 0.0f},
      {"crossing the edge", a.get(), 10, 5, 0.0f},
  };
  for (const Score& s : scores) {
    SCOPED_TRACE(s.what);
    EXPECT_NEAR(mp.WindowZNCC(a.get(), s.second, 5, 5, s.x2, s.y2, 2), s.expected, 1e-5);
  }

  // SSD: 3 x 3 windows, 3 channels, every byte 77 against a known sum.
  float expected = 0;
  for (int y = 4; y <= 6; ++y)
    for (int x = 4; x <= 6; ++x)
      for (int c = 0; c < 3; ++c) expected += (a.at(x, y)[c] - 77.0f) * (a.at(x, y)[c] - 77.0f);
  EXPECT_FLOAT_EQ(mp.WindowSSD(a.get(), flat.get(), 5, 5, 5, 5, 1), expected);
  EXPECT_FLOAT_EQ(mp.WindowSSD(a.get(), a.get(), 5, 5, 5, 5, 1), 0.0f);
  EXPECT_EQ(mp.WindowSSD(a.get(), flat.get(), 5, 5, 11, 5, 1), -1.0f);
  EXPECT_EQ(mp.WindowSSD(a.get(), flat.get(), 0, 5, 5, 5, 1), -1.0f);
  EXPECT_EQ(mp.WindowSSD(a.get(), flat.get(), 5, 9, 5, 5, 1), -1.0f);

  // Texture test: a mean channel difference of 1 is not texture, 2 is.
  for (int d : {1, 2}) {
    SCOPED_TRACE(d);
    ExactImage t(8, 8, 3);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x)
        for (int c = 0; c < 3; ++c) t.at(x, y)[c] = 50;
    for (int c = 0; c < 3; ++c) t.at(4, 3)[c] = static_cast<uchar>(50 + d);  // the pixel above (4, 4)
    EXPECT_EQ(mp.IsTexturedPixel(t.get(), 4, 4), d == 2);
    EXPECT_FALSE(mp.IsTexturedPixel(t.get(), 0, 4));
    EXPECT_FALSE(mp.IsTexturedPixel(t.get(), 4, 7));
  }
}

TEST_F(MatchPropagation, TextureAndDisparityImages) {
  // A uniform image has no texture range: its texture image is all 0.
  ExactImage flat(16, 12, 1);
  std::memset(flat.at(0, 0), 90, 16 * 12);
  CV::CMatchPropagation mp;
  mp.Initialize(flat.get());
  std::vector<int> texture(16 * 12, 5);
  mp.BuildTextureDescriptor(flat.get(), texture.data());
  EXPECT_EQ(texture[0], -1);
  EXPECT_EQ(texture[5 * 16 + 5], 0);
  std::vector<unsigned char> grey(16 * 12 * 3, 1);
  mp.GetTextureDescriptorImage(texture.data(), grey.data(), 16 * 3);
  EXPECT_EQ(std::count(grey.begin(), grey.end(), 0), static_cast<long>(grey.size()));

  // Disparity of 20: saturates at 255; unmatched pixels 16.
  mp.map1[3 * 16 + 2] = cvPoint(22, 3);
  mp.map1[4 * 16 + 8] = cvPoint(9, 4);
  std::vector<unsigned char> d2(16 * 12 * 3, 1);
  mp.GetDspImage2(d2.data(), 16 * 3, 0, 0);
  EXPECT_EQ(d2[(3 * 16 + 2) * 3], 255);
  EXPECT_EQ(d2[(4 * 16 + 8) * 3 + 2], 16);
  EXPECT_EQ(d2[0], 16);

  // Identical images: every disparity 0, so no range; defined bytes.
  Pair p = MakePair(0, 0);
  CV::CMatchPropagation same;
  same.Initialize(p.first->get());
  Seeds s;
  s.Add(20, 20, 20, 20);
  s.Add(45, 30, 45, 30);
  s.Run(same, p.first->get(), p.first->get());
  ASSERT_GT(Matched(same), 100);
  std::vector<unsigned char> dsp(kW * kH * 3, 1);
  same.GetDspImage(dsp.data(), kW * 3);
  for (int i = 0; i < kW * kH; ++i) {
    const unsigned char* px = &dsp[i * 3];
    if (same.map1[i].x == -1)
      EXPECT_TRUE(px[0] == 0 && px[1] == 0 && px[2] == 200) << i;
    else
      EXPECT_TRUE(px[0] == 0 && px[1] == 0 && px[2] == 0) << i;
  }
}

TEST_F(MatchPropagation, SaveDspWritesTheFlippedDisparityImage) {
  char pattern[] = "/tmp/propdsp_testXXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  const char* old = std::getenv("QUORL_DRIVE_C");
  const std::string saved = old ? old : "";
  setenv("QUORL_DRIVE_C", dir.c_str(), 1);

  Pair p = MakePair(3, 0);
  CV::CMatchPropagation mp;
  mp.Initialize(p.first->get());
  FiveCorrect(3, 0).Run(mp, p.first->get(), p.second->get());
  mp.map1[10 * kW + 20] = cvPoint(28, 14);  // one longer disparity, so the scale has a range
  mp.SaveDsp();
  std::vector<unsigned char> dsp(kW * kH * 3);
  mp.GetDspImage(dsp.data(), kW * 3);
  const cv::Mat expected = cv::Mat(kH, kW, CV_8UC3, dsp.data()).clone();
  cv::Mat flipped;
  cv::flip(expected, flipped, 0);
  const cv::Mat back = cv::imread(dir + "/PropDsp.bmp", cv::IMREAD_UNCHANGED);
  ASSERT_FALSE(back.empty());
  EXPECT_EQ(cv::norm(back, flipped, cv::NORM_INF), 0.0);
  EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsOk);

  // A folder that does not exist: the failed write is recorded.
  setenv("QUORL_DRIVE_C", (dir + "/missing/folder").c_str(), 1);
  mp.SaveDsp();
  EXPECT_LT(cvcompat::GetErrStatus(), 0);

  if (old) setenv("QUORL_DRIVE_C", saved.c_str(), 1);
  else unsetenv("QUORL_DRIVE_C");
  std::filesystem::remove_all(dir);
}

TEST_F(MatchPropagation, CopiesAreIndependentAndRefusalsWriteNothing) {
  Pair p = MakePair(3, 0);
  CV::CMatchPropagation mp;
  mp.Initialize(p.first->get());
  FiveCorrect(3, 0).Run(mp, p.first->get(), p.second->get());
  const int before = Matched(mp);
  {
    CV::CMatchPropagation copy(mp), assigned;
    assigned = mp;
    copy.map1.assign(copy.map1.size(), cvPoint(-1, -1));
    assigned.Initialize(p.first->get());
    EXPECT_EQ(Matched(assigned), 0);
  }
  EXPECT_EQ(Matched(mp), before);

  // Calls before Initialize.
  CV::CMatchPropagation fresh;
  std::vector<unsigned char> buffer(kW * kH * 3, 9);
  std::vector<int> texture(kW * kH, 9);
  Seeds seeds = FiveCorrect(3, 0);
  seeds.Run(fresh, p.first->get(), p.second->get());
  EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadArg);
  fresh.GetDspImage(buffer.data(), kW * 3);
  fresh.GetDspImage2(buffer.data(), kW * 3, 0, 0);
  fresh.BuildTextureDescriptor(p.first->get(), texture.data());
  fresh.GetTextureDescriptorImage(texture.data(), buffer.data(), kW * 3);
  EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 9), static_cast<long>(buffer.size()));
  EXPECT_EQ(std::count(texture.begin(), texture.end(), 9), static_cast<long>(texture.size()));

  // Images that do not go together.
  ExactImage small(kW - 1, kH, 1), colour(kW, kH, 3), four(kW, kH, 4);
  cv::Mat deep(kH, kW, CV_16UC1, cv::Scalar(5));
  IplImage deepHeader = cvIplImage(deep);
  struct Case {
    const char* what;
    IplImage* first;
    IplImage* second;
    int status;
  } cases[] = {
      {"second image of another size", p.first->get(), small.get(), CV_StsBadSize},
      {"unequal channel counts", p.first->get(), colour.get(), CV_StsBadArg},
      {"four channels", four.get(), four.get(), CV_StsBadArg},
      {"16-bit", &deepHeader, &deepHeader, CV_StsBadArg},
      {"null", nullptr, p.second->get(), CV_StsBadArg},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CV::CMatchPropagation m;
    m.Initialize(p.first->get());
    cvcompat::ClearErrStatus();
    seeds.Run(m, c.first, c.second);
    EXPECT_EQ(cvcompat::GetErrStatus(), c.status);
    EXPECT_EQ(Matched(m), 0);
  }

  mp.SetCorrWinSize(7, 5);
  mp.SetCorrWinSize(-1, 3);
  EXPECT_EQ(mp.corrHalfWidth, 7);
  EXPECT_EQ(mp.corrHalfHeight, 5);
  EXPECT_EQ(cvcompat::GetErrStatus(), CV_StsBadArg);
}

}  // namespace
