#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "MVG/ip_operations.h"

namespace {

struct ImageDeleter {
  void operator()(IplImage* im) const { cvReleaseImage(&im); }
};
using Image = std::unique_ptr<IplImage, ImageDeleter>;

Image Make(int w, int h, int channels, int fill = 0, int depth = IPL_DEPTH_8U) {
  Image im(cvCreateImage(cvSize(w, h), depth, channels));
  std::memset(im->imageData, fill, static_cast<size_t>(im->imageSize));
  return im;
}

unsigned char* Px(IplImage* im, int x, int y) {
  return reinterpret_cast<unsigned char*>(im->imageData) + y * im->widthStep + x * im->nChannels;
}

void FillRandom(IplImage* im, unsigned seed) {
  std::mt19937 rng(seed);
  for (int i = 0; i < im->imageSize; ++i) im->imageData[i] = static_cast<char>(rng() & 0xFF);
}

std::vector<unsigned char> Bytes(const IplImage* im) {
  return {reinterpret_cast<unsigned char*>(im->imageData),
          reinterpret_cast<unsigned char*>(im->imageData) + im->imageSize};
}

// An image whose rows are exactly width x channels heap bytes: a read past
// the last row or before the first is a heap overflow under ASan.
class ExactImage {
 public:
  ExactImage(int w, int h, int ch) : data_(static_cast<size_t>(w) * h * ch) {
    header_ = cvCreateImageHeader(cvSize(w, h), IPL_DEPTH_8U, ch);
    cvSetData(header_, data_.data(), w * ch);
  }
  ~ExactImage() { cvReleaseImageHeader(&header_); }
  IplImage* get() const { return header_; }

 private:
  std::vector<unsigned char> data_;
  IplImage* header_;
};

// ---------------------------------------------------------------------------
// Separable convolution

// dst(y, x, c) = sum_j sum_i ky[j] kx[i] src(y + j, x + i, c).
std::vector<float> NaiveCorrelation(const std::vector<float>& src, int rows, int width, int ch, const float* kx,
                                    const float* ky) {
  std::vector<float> out(static_cast<size_t>(rows - 2) * (width - 2) * ch);
  for (int y = 0; y + 2 < rows; ++y)
    for (int x = 0; x + 2 < width; ++x)
      for (int c = 0; c < ch; ++c) {
        double s = 0;
        for (int j = 0; j < 3; ++j)
          for (int i = 0; i < 3; ++i) s += double(ky[j]) * kx[i] * src[(static_cast<size_t>(y + j) * width + x + i) * ch + c];
        out[(static_cast<size_t>(y) * (width - 2) + x) * ch + c] = static_cast<float>(s);
      }
  return out;
}

std::vector<float> RandomFloats(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-100.0f, 100.0f);
  std::vector<float> v(n);
  for (float& f : v) f = u(rng);
  return v;
}

TEST(SeparableConvolution, MatchesNaiveCorrelationWithExactBuffers) {
  const float deriv[3] = {-1, 0, 1}, smooth[3] = {1, 2, 1};
  const float* kernels[2][2] = {{deriv, smooth}, {smooth, deriv}};
  for (int ch : {1, 3})
    for (int rows = 3; rows <= 6; ++rows)
      for (int width = 3; width <= 9; ++width)
        for (auto& k : kernels) {
          SCOPED_TRACE(testing::Message() << "rows " << rows << " width " << width << " ch " << ch);
          const size_t n = static_cast<size_t>(rows) * width * ch;
          std::vector<float> src = RandomFloats(n, rows * 100 + width * 10 + ch);
          const std::vector<float> want = NaiveCorrelation(src, rows, width, ch, k[0], k[1]);
          // Heap buffers of exactly the contracted sizes: a write past the
          // valid part is caught by ASan.
          std::vector<float> tmp(n), dst(want.size());
          if (ch == 1) IP::SeparableConvolution3x3_c1(src.data(), dst.data(), tmp.data(), rows, width, k[0], k[1]);
          else IP::SeparableConvolution3x3(src.data(), dst.data(), tmp.data(), rows, width, ch, k[0], k[1]);
          for (size_t i = 0; i < want.size(); ++i) ASSERT_NEAR(dst[i], want[i], 1e-3f) << "at " << i;
          if (ch == 1) {
            std::vector<float> dst3(want.size()), tmp3(n);
            IP::SeparableConvolution3x3(src.data(), dst3.data(), tmp3.data(), rows, width, 1, k[0], k[1]);
            EXPECT_EQ(dst3, dst);
          }
        }
}

TEST(SeparableConvolution, DerivativeKernelIsNextButOneMinusPixel) {
  // A 5 x 5 ramp src = 3 x + 7 y: the x derivative is 6 everywhere, as the
  // vision code expects of (-1, 0, 1) with a (0, 1, 0) cross kernel.
  std::vector<float> src(25);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) src[y * 5 + x] = 3.0f * x + 7.0f * y;
  const float d[3] = {-1, 0, 1}, id[3] = {0, 1, 0};
  std::vector<float> tmp(25), dx(9), dy(9);
  IP::SeparableConvolution3x3(src.data(), dx.data(), tmp.data(), 5, 5, 1, d, id);
  IP::SeparableConvolution3x3(src.data(), dy.data(), tmp.data(), 5, 5, 1, id, d);
  for (int i = 0; i < 9; ++i) {
    EXPECT_FLOAT_EQ(dx[i], 6.0f);
    EXPECT_FLOAT_EQ(dy[i], 14.0f);
  }
}

TEST(SeparableConvolution, AgreesWithOpenCvValidRegion) {
  const float kx[3] = {-1, 0, 1}, ky[3] = {1, 2, 1};
  for (int ch : {1, 3}) {
    const int rows = 17, width = 23;
    std::vector<float> src = RandomFloats(static_cast<size_t>(rows) * width * ch, 7 + ch);
    std::vector<float> tmp(src.size()), dst(static_cast<size_t>(rows - 2) * (width - 2) * ch);
    IP::SeparableConvolution3x3(src.data(), dst.data(), tmp.data(), rows, width, ch, kx, ky);
    cv::Mat in(rows, width, CV_32FC(ch), src.data()), out;
    cv::sepFilter2D(in, out, CV_32F, cv::Mat(1, 3, CV_32F, const_cast<float*>(kx)),
                    cv::Mat(3, 1, CV_32F, const_cast<float*>(ky)), cv::Point(-1, -1), 0, cv::BORDER_REFLECT);
    // Ours at (y, x) is OpenCV's centred result at (y + 1, x + 1).
    for (int y = 0; y < rows - 2; ++y)
      for (int x = 0; x < width - 2; ++x)
        for (int c = 0; c < ch; ++c)
          ASSERT_NEAR(dst[(static_cast<size_t>(y) * (width - 2) + x) * ch + c], out.ptr<float>(y + 1)[(x + 1) * ch + c],
                      1e-3f);
  }
}

TEST(SeparableConvolution, TooSmallWritesNothing) {
  const float k[3] = {1, 1, 1};
  std::vector<float> src(16, 1.0f), tmp(16, -5.0f), dst(16, -5.0f);
  IP::SeparableConvolution3x3(src.data(), dst.data(), tmp.data(), 2, 8, 1, k, k);
  IP::SeparableConvolution3x3_c1(src.data(), dst.data(), tmp.data(), 8, 2, k, k);
  for (float f : dst) EXPECT_EQ(f, -5.0f);
  for (float f : tmp) EXPECT_EQ(f, -5.0f);
}

// ---------------------------------------------------------------------------
// Background subtraction, foreground clean-up, gradient, mirror

TEST(SubtractBackground, StrictlyAboveThresholdKeepsFramePixel) {
  struct Case {
    unsigned char f[3], b[3];
    float threshold;
    bool kept;
  } cases[] = {
      {{40, 40, 40}, {10, 10, 10}, 30.0f, false},  // mean difference exactly 30
      {{41, 40, 40}, {10, 10, 10}, 30.0f, true},   // 31 / 3 above 30
      {{10, 10, 10}, {40, 40, 40}, 29.9f, true},   // absolute differences
      {{0, 0, 90}, {0, 0, 0}, 30.0f, false},       // one channel carries it: mean 30
      {{0, 0, 0}, {0, 0, 0}, -1.0f, true},          // black kept black
  };
  for (const Case& c : cases) {
    Image f = Make(3, 2, 3), b = Make(3, 2, 3), out = Make(3, 2, 3, 0x77);
    std::memcpy(Px(f.get(), 1, 1), c.f, 3);
    std::memcpy(Px(b.get(), 1, 1), c.b, 3);
    IP::SubtractBackground(f.get(), b.get(), out.get(), c.threshold);
    const unsigned char* o = Px(out.get(), 1, 1);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(o[k], c.kept ? c.f[k] : 0) << "threshold " << c.threshold;
  }
}

TEST(SubtractBackground, StepsEachImageByItsOwnRows) {
  // 5 pixels of 3 channels: cvCreateImage pads rows to 16 bytes; the exact
  // image has 15-byte rows.
  Image f = Make(5, 3, 3), b = Make(5, 3, 3, 0);
  ExactImage exact(5, 3, 3);
  FillRandom(f.get(), 3);
  IP::SubtractBackground(f.get(), b.get(), exact.get(), -1.0f);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(0, std::memcmp(Px(f.get(), x, y), Px(exact.get(), x, y), 3));
}

// A 5 x 5 foreground of 0 / 1 pixels drawn row by row.
Image Foreground(const char* rows[5]) {
  Image im = Make(5, 5, 3, 0);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x)
      if (rows[y][x] == '1') std::memset(Px(im.get(), x, y), 200, 3);
  return im;
}

std::string Picture(IplImage* im) {
  std::string s;
  for (int y = 0; y < im->height; ++y) {
    for (int x = 0; x < im->width; ++x) {
      const unsigned char* p = Px(im, x, y);
      s += p[0] == 0 ? '.' : p[0] == 255 && p[1] == 255 && p[2] == 255 ? 'W' : 'o';
    }
    s += '\n';
  }
  return s;
}

TEST(PostFilterForeground, FillsGapsAndRemovesIsolatedPixelsInPlace) {
  const char* in[5] = {
      "1.1..",  // gap at (1, 0) between two set pixels
      ".....",
      "..1..",  // isolated: both horizontal neighbours clear
      ".....",
      "11.11",  // gap at (2, 4)
  };
  Image im = Foreground(in);
  Image frame = Make(5, 5, 3, 9);
  IP::PostFilterForeground(frame.get(), nullptr, im.get(), 30.0f);
  // Pixels with one set neighbour keep their value; the end columns are
  // never tested horizontally, nor rows 0 and 4 vertically.
  EXPECT_EQ(Picture(im.get()),
            "oWo..\n"
            ".....\n"
            ".....\n"
            ".....\n"
            "ooWWo\n");
  for (int i = 0; i < frame->imageSize; ++i) ASSERT_EQ(frame->imageData[i], 9);
}

TEST(PostFilterForeground, EarlierUpdateChangesLaterTest) {
  // In "1.1.1" the pixel (1) is filled first, so (2) then sees a set left
  // and a clear right neighbour and keeps its value; judged on the input it
  // would have been cleared. The vertical pass then fills the interior rows.
  const char* tall[5] = {"1.1.1", "1.1.1", "1.1.1", "1.1.1", "1.1.1"};
  Image t = Foreground(tall);
  IP::PostFilterForeground(t.get(), nullptr, t.get(), 30.0f);
  EXPECT_EQ(Picture(t.get()), "oWoWo\nWWWWW\nWWWWW\nWWWWW\noWoWo\n");
}

TEST(ColorGradient, UniformAndStepEdge) {
  Image uni = Make(6, 5, 3, 80), g = Make(6, 5, 3, 1);
  IP::ColorGradient(uni.get(), g.get());
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x)
      for (int c = 0; c < 3; ++c)
        EXPECT_EQ(Px(g.get(), x, y)[c], (x == 0 || y == 0 || x == 5 || y == 4) ? 80 : 0);

  // Vertical step between columns 2 and 3: 10 on the left, 110 on the right.
  Image step = Make(6, 4, 1, 10);
  for (int y = 0; y < 4; ++y)
    for (int x = 3; x < 6; ++x) *Px(step.get(), x, y) = 110;
  IP::ColorGradient(step.get(), step.get());  // in place
  for (int y = 1; y < 3; ++y) {
    EXPECT_EQ(*Px(step.get(), 1, y), 0);
    EXPECT_EQ(*Px(step.get(), 2, y), 50);  // |10 - 110| / 2
    EXPECT_EQ(*Px(step.get(), 3, y), 50);
    EXPECT_EQ(*Px(step.get(), 4, y), 0);
  }
  EXPECT_EQ(*Px(step.get(), 0, 1), 10);
  EXPECT_EQ(*Px(step.get(), 5, 1), 110);
}

TEST(ReflectImage, TwiceRestoresAndInPlaceMirrors) {
  for (int w : {1, 4, 5, 7})
    for (int ch : {1, 3}) {
      Image src = Make(w, 3, ch), dst = Make(w, 3, ch), back = Make(w, 3, ch);
      FillRandom(src.get(), w * 10 + ch);
      EXPECT_EQ(IP::ReflectImage(src.get(), dst.get(), 0, 0), 0);
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < w; ++x) ASSERT_EQ(0, std::memcmp(Px(dst.get(), w - 1 - x, y), Px(src.get(), x, y), ch));
      EXPECT_EQ(IP::ReflectImage(dst.get(), back.get(), 0, 0), 0);
      for (int y = 0; y < 3; ++y) ASSERT_EQ(0, std::memcmp(Px(back.get(), 0, y), Px(src.get(), 0, y), w * ch));
      // In place gives the same mirror as the two-image call.
      Image same = Make(w, 3, ch);
      std::memcpy(same->imageData, src->imageData, src->imageSize);
      EXPECT_EQ(IP::ReflectImage(same.get(), same.get(), 0, 0), 0);
      for (int y = 0; y < 3; ++y) ASSERT_EQ(0, std::memcmp(Px(same.get(), 0, y), Px(dst.get(), 0, y), w * ch));
    }
}

TEST(IpOperations, MismatchedImagesWriteNothing) {
  struct Shape {
    int w, h, ch, depth;
  } bad[] = {{6, 4, 3, IPL_DEPTH_8U}, {5, 5, 3, IPL_DEPTH_8U}, {5, 4, 1, IPL_DEPTH_8U}, {5, 4, 3, IPL_DEPTH_16U}};
  for (const Shape& s : bad) {
    Image a = Make(5, 4, 3, 100), b = Make(5, 4, 3, 20);
    Image other = Make(s.w, s.h, s.ch, 0x33, s.depth);
    const auto before = Bytes(other.get());
    IP::SubtractBackground(a.get(), b.get(), other.get(), 1.0f);
    IP::ColorGradient(a.get(), other.get());
    EXPECT_EQ(IP::ReflectImage(a.get(), other.get(), 0, 0), -1);
    EXPECT_EQ(Bytes(other.get()), before);
    if (s.ch == 3 && s.depth == IPL_DEPTH_8U) {
      IP::PostFilterForeground(a.get(), nullptr, other.get(), 0.0f);
      EXPECT_EQ(Bytes(other.get()), before);
    }
    EXPECT_TRUE(std::isnan(IP::Patch_SSD(a.get(), other.get())));
    EXPECT_TRUE(std::isnan(IP::Patch_ZNCC(a.get(), other.get())));
  }
  Image a = Make(5, 4, 3, 100);
  const auto before = Bytes(a.get());
  IP::SubtractBackground(a.get(), nullptr, a.get(), 1.0f);
  IP::ColorGradient(nullptr, a.get());
  IP::PostFilterForeground(nullptr, nullptr, a.get(), 0.0f);
  EXPECT_EQ(IP::ReflectImage(nullptr, a.get(), 0, 0), -1);
  EXPECT_EQ(Bytes(a.get()), before);
}

// ---------------------------------------------------------------------------
// Patch measures

struct PackedDeleter {
  void operator()(IplImage* im) const {
    delete[] im->imageData;
    cvReleaseImageHeader(&im);
  }
};
using PackedImage = std::unique_ptr<IplImage, PackedDeleter>;

// A copy of the pixels without row padding.
PackedImage Packed(IplImage* im) {
  PackedImage out(cvCreateImageHeader(cvSize(im->width, im->height), IPL_DEPTH_8U, im->nChannels));
  const int row = im->width * im->nChannels;
  char* data = new char[static_cast<size_t>(row) * im->height];
  for (int y = 0; y < im->height; ++y) std::memcpy(data + y * row, im->imageData + y * im->widthStep, row);
  cvSetData(out.get(), data, row);
  return out;
}

TEST(PatchMeasures, PaddedRowsMeasureAsPackedCopies) {
  Image a = Make(5, 4, 3), b = Make(5, 4, 3);
  ASSERT_EQ(a->widthStep, 16);
  FillRandom(a.get(), 1);
  FillRandom(b.get(), 2);
  PackedImage pa = Packed(a.get()), pb = Packed(b.get());
  ASSERT_EQ(pa->widthStep, 15);
  EXPECT_FLOAT_EQ(IP::Patch_SSD(a.get(), b.get()), IP::Patch_SSD(pa.get(), pb.get()));
  EXPECT_FLOAT_EQ(IP::Patch_ZNCC(a.get(), b.get()), IP::Patch_ZNCC(pa.get(), pb.get()));
  // Mixed strides: one padded, one packed.
  EXPECT_FLOAT_EQ(IP::Patch_SSD(a.get(), pb.get()), IP::Patch_SSD(pa.get(), pb.get()));
  EXPECT_FLOAT_EQ(IP::ZNCC(cvPoint(2, 2), cvPoint(2, 1), a.get(), pb.get(), 1),
                  IP::ZNCC(cvPoint(2, 2), cvPoint(2, 1), pa.get(), pb.get(), 1));

  double ssd = 0;
  for (int y = 0; y < 4; ++y)
    for (int i = 0; i < 15; ++i) {
      const double d = double(Px(a.get(), 0, y)[i]) - Px(b.get(), 0, y)[i];
      ssd += d * d;
    }
  EXPECT_FLOAT_EQ(IP::Patch_SSD(a.get(), b.get()), static_cast<float>(ssd));
}

TEST(PatchMeasures, IdenticalGiveOneInvertedMinusOne) {
  for (int ch : {1, 2, 3}) {
    Image a = Make(5, 5, ch), inv = Make(5, 5, ch);
    FillRandom(a.get(), 10 + ch);
    for (int i = 0; i < a->imageSize; ++i) inv->imageData[i] = static_cast<char>(255 - (unsigned char)a->imageData[i]);
    EXPECT_NEAR(IP::Patch_ZNCC(a.get(), a.get()), 1.0f, 1e-5f);
    EXPECT_NEAR(IP::Patch_ZNCC(a.get(), inv.get()), -1.0f, 1e-5f);
    EXPECT_NEAR(IP::ZNCC(cvPoint(2, 2), cvPoint(2, 2), a.get(), inv.get(), 2), -1.0f, 1e-5f);
    EXPECT_EQ(IP::Patch_SSD(a.get(), a.get()), 0.0f);
  }
  Image flat = Make(5, 5, 1, 7);
  EXPECT_FALSE(std::isfinite(IP::Patch_ZNCC(flat.get(), flat.get())));
}

TEST(PatchMeasures, OneChannelZnccEqualsMatchTemplate) {
  Image a = Make(11, 11, 1), b = Make(11, 11, 1);
  FillRandom(a.get(), 21);
  FillRandom(b.get(), 22);
  for (int i = 0; i < 40; ++i) b->imageData[i] = a->imageData[i];  // some correlation
  cv::Mat ma = cv::cvarrToMat(a.get()), mb = cv::cvarrToMat(b.get()), r;
  cv::matchTemplate(ma, mb, r, cv::TM_CCOEFF_NORMED);
  EXPECT_NEAR(IP::Patch_ZNCC(a.get(), b.get()), r.at<float>(0, 0), 1e-4f);
  cv::matchTemplate(ma, mb, r, cv::TM_SQDIFF);
  EXPECT_NEAR(IP::Patch_SSD(a.get(), b.get()), r.at<float>(0, 0), 1.0f);
}

TEST(PatchMeasures, ZnccWindowMustLieInsideBothImages) {
  // Exact-size images: a window read past an edge is a heap overflow.
  ExactImage a(9, 7, 3), b(9, 7, 3);
  FillRandom(a.get(), 31);
  FillRandom(b.get(), 32);
  struct Case {
    CvPoint p, q;
    int r;
    bool defined;
  } cases[] = {
      {{4, 3}, {4, 3}, 2, true},    // inside
      {{2, 2}, {6, 4}, 2, true},    // touching the top-left and bottom-right edges
      {{0, 0}, {8, 6}, 0, true},    // one-pixel windows at the corners
      {{1, 3}, {4, 3}, 2, false},   // crosses the left edge of a
      {{4, 3}, {7, 3}, 2, false},   // crosses the right edge of b
      {{4, 5}, {4, 3}, 2, false},   // crosses the bottom of a
      {{4, 3}, {4, 1}, 2, false},   // crosses the top of b
      {{4, 3}, {4, 3}, -1, false},  // negative radius
      {{40, 3}, {4, 3}, 1, false},  // far outside
  };
  for (const Case& c : cases) {
    const float v = IP::ZNCC(c.p, c.q, a.get(), b.get(), c.r);
    // A one-pixel window is uniform: 0 / 0.
    if (c.defined && c.r > 0) {
      EXPECT_TRUE(std::isfinite(v)) << c.p.x << "," << c.p.y << " r " << c.r;
    }
    if (!c.defined) {
      EXPECT_TRUE(std::isnan(v)) << c.p.x << "," << c.p.y << " r " << c.r;
    }
  }
  EXPECT_NEAR(IP::ZNCC(cvPoint(6, 4), cvPoint(6, 4), a.get(), a.get(), 2), 1.0f, 1e-5f);
}

TEST(PatchMeasures, FourChannelsGiveNaN) {
  Image a = Make(5, 5, 4), b = Make(5, 5, 4);
  FillRandom(a.get(), 41);
  FillRandom(b.get(), 42);
  EXPECT_TRUE(std::isnan(IP::Patch_ZNCC(a.get(), b.get())));
  EXPECT_TRUE(std::isnan(IP::ZNCC(cvPoint(2, 2), cvPoint(2, 2), a.get(), b.get(), 1)));
  EXPECT_FALSE(std::isnan(IP::Patch_SSD(a.get(), b.get())));
}

// ---------------------------------------------------------------------------
// Pyramid

TEST(ImagePyramid, LevelSizesAndMissingLevels) {
  Image src = Make(7, 5, 3);
  FillRandom(src.get(), 51);
  IP::CImagePyramid p(src.get(), 4);
  const int want[4][2] = {{7, 5}, {3, 2}, {1, 1}, {0, 0}};
  for (int l = 0; l < 4; ++l) {
    EXPECT_EQ(p.Width(l), want[l][0]) << l;
    EXPECT_EQ(p.Height(l), want[l][1]) << l;
  }
  EXPECT_NE(p.Data(0), reinterpret_cast<unsigned char*>(src->imageData));
  EXPECT_EQ(0, std::memcmp(p.Data(0), src->imageData, src->imageSize));
  for (int missing : {-1, 4, 9}) {
    EXPECT_EQ(p.Data(missing), nullptr);
    EXPECT_EQ(p.Width(missing), 0);
    EXPECT_EQ(p.Height(missing), 0);
  }
}

TEST(ImagePyramid, OneLevelHoldsTheCopyAndZeroLevelsIsEmpty) {
  Image src = Make(8, 6, 1);
  FillRandom(src.get(), 61);
  IP::CImagePyramid one(src.get(), 1);
  EXPECT_EQ(one.Levels(), 1);
  EXPECT_EQ(0, std::memcmp(one.Data(0), src->imageData, src->imageSize));
  EXPECT_EQ(one.Data(1), nullptr);
  for (int levels : {0, -3}) {
    IP::CImagePyramid none(src.get(), levels);
    EXPECT_EQ(none.Data(0), nullptr);
    EXPECT_EQ(none.Width(0), 0);
  }
  IP::CImagePyramid def;
  EXPECT_EQ(def.Data(0), nullptr);
}

TEST(ImagePyramid, LevelsMatchOpenCvPyrDown) {
  Image src = Make(40, 30, 3);
  FillRandom(src.get(), 71);
  IP::CImagePyramid p(src.get(), 3);
  cv::Mat level = cv::cvarrToMat(src.get()).clone();
  for (int l = 1; l < 3; ++l) {
    cv::Mat down;
    cv::pyrDown(level, down, cv::Size(level.cols / 2, level.rows / 2));
    ASSERT_EQ(p.Width(l), down.cols);
    ASSERT_EQ(p.Height(l), down.rows);
    // Level data is an IplImage with padded rows.
    const int step = (down.cols * 3 + 3) & ~3;
    for (int y = 0; y < down.rows; ++y) ASSERT_EQ(0, std::memcmp(p.Data(l) + y * step, down.ptr(y), down.cols * 3));
    level = down;
  }
}

TEST(ImagePyramid, CopiesShareLevelsAndOutliveTheOriginal) {
  Image src = Make(16, 12, 3);
  FillRandom(src.get(), 81);
  IP::CImagePyramid copy;
  unsigned char* data = nullptr;
  {
    IP::CImagePyramid original(src.get(), 3);
    copy = original;
    IP::CImagePyramid constructed(original);
    data = original.Data(1);
    EXPECT_EQ(copy.Data(1), data);
    EXPECT_EQ(constructed.Data(1), data);
    // Re-initialising one holder leaves the others' levels alone.
    original.Initialize(src.get(), 1);
    EXPECT_EQ(original.Data(1), nullptr);
  }
  // ASan reports a use after free here if the levels went with the original.
  EXPECT_EQ(copy.Data(1), data);
  EXPECT_EQ(copy.Width(2), 4);
  volatile unsigned char sum = 0;
  for (int i = 0; i < copy.Width(1) * copy.Height(1); ++i) sum = static_cast<unsigned char>(sum + data[i]);
  (void)sum;
  copy.Initialize(src.get(), 2);  // the last holder releases the old set (LeakSanitizer checks)
  EXPECT_EQ(copy.Levels(), 2);
}

}  // namespace
