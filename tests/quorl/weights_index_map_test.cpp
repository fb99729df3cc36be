// Undistortion maps against OpenCV's, and the resamplers that apply them.
#include "MVG/weights_index_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <vector>

#include "MVG/camera.h"
#include "MVG/mvg_camera.h"
#include "undistortion_lens/undistortion_lens.h"
#include "warp_image.h"

namespace {

using warp_image::Image;
using undistortion_lens::kBarrel;
using undistortion_lens::kPincushion;
using undistortion_lens::Lens;
using undistortion_lens::ToCCamera;

std::vector<int> MvgMap(const MVG::Camera& c) {
  std::vector<int> map(static_cast<size_t>(c.width) * static_cast<size_t>(c.height) * 5, -7);
  int* maps[1] = {map.data()};
  EXPECT_EQ(MVG::ComputeUndistortionMapCoefficients(&c, 1, maps), 0);
  return map;
}

std::vector<int> GrayMap(const MVG::Camera& c) {
  std::vector<int> map(static_cast<size_t>(c.width) * static_cast<size_t>(c.height) * 5, -7);
  ToCCamera(c).ComputeUndistortionMap(map.data());
  return map;
}

void OpenCvMap(const MVG::Camera& c, cv::Mat* mapx, cv::Mat* mapy) {
  undistortion_lens::OpenCvMaps(c, CV_32FC1, mapx, mapy);
}

struct Comparison {
  double maxPositionError = 0;
  long mismatches = 0;  // inside/outside decisions that differ away from the border
  long borderMismatches = 0;
  long inside = 0;
};

// The position a map entry stands for, rebuilt from its offset and weights.
Comparison Compare(const std::vector<int>& map, int channels, const cv::Mat& mapx, const cv::Mat& mapy) {
  Comparison r;
  const int W = mapx.cols, H = mapx.rows;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const int* e = &map[5 * (static_cast<size_t>(y) * W + x)];
      const double mx = mapx.at<float>(y, x), my = mapy.at<float>(y, x);
      const bool cvInside = mx >= 0 && my >= 0 && mx < W - 1 && my < H - 1;
      const bool ours = e[1] + e[2] + e[3] + e[4] > 0;
      if (cvInside != ours) {
        const double border =
            std::min({std::fabs(mx), std::fabs(my), std::fabs(mx - (W - 1)), std::fabs(my - (H - 1))});
        (border <= 1e-3 ? r.borderMismatches : r.mismatches)++;
        continue;
      }
      if (!ours) {
        EXPECT_TRUE(e[0] == 0 && e[1] == 0 && e[2] == 0 && e[3] == 0 && e[4] == 0);
        continue;
      }
      ++r.inside;
      const int pixel = e[0] / channels;
      const double px = pixel % W + (e[3] + e[4]) / 32768.0, py = pixel / W + (e[2] + e[4]) / 32768.0;
      r.maxPositionError = std::max({r.maxPositionError, std::fabs(px - mx), std::fabs(py - my)});
    }
  return r;
}

class MapsAgainstOpenCv : public ::testing::TestWithParam<cv::Size> {};

TEST_P(MapsAgainstOpenCv, BothBuildersMatchInitUndistortRectifyMap) {
  // Barrel keeps every source inside; pincushion pushes the corners out.
  for (const float* lens : {kBarrel, kPincushion}) {
    const MVG::Camera c = Lens(GetParam().width, GetParam().height, lens);
    cv::Mat mapx, mapy;
    OpenCvMap(c, &mapx, &mapy);
    const struct {
      const char* name;
      std::vector<int> map;
      int channels;
    } builders[] = {{"MVG", MvgMap(c), 3}, {"CCamera", GrayMap(c), 1}};
    for (const auto& b : builders) {
      const Comparison r = Compare(b.map, b.channels, mapx, mapy);
      const char* lensName = lens == kBarrel ? "barrel" : "pincushion";
      std::printf("%s %s %dx%d: max position difference %.3g px over %ld inside pixels, %ld border decisions differ\n",
                  b.name, lensName, GetParam().width, GetParam().height, r.maxPositionError, r.inside,
                  r.borderMismatches);
      EXPECT_EQ(r.mismatches, 0) << b.name << " " << lensName;
      EXPECT_LT(r.maxPositionError, 1e-3) << b.name << " " << lensName;
      EXPECT_GT(r.inside, GetParam().area() / 2) << b.name << " " << lensName;
      if (lens == kPincushion) {
        EXPECT_LT(r.inside, GetParam().area()) << b.name;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, MapsAgainstOpenCv, ::testing::Values(cv::Size(640, 480), cv::Size(1920, 1080)),
                         [](const auto& info) {
                           return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
                         });

TEST(MvgUndistortionMap, IdentityLayoutAndHalfPixelWeights) {
  const int W = 64, H = 48;
  MVG::Camera identity = MVG::CameraAtOrigin(64, 64, 32, 24, W, H);
  const std::vector<int> map = MvgMap(identity);
  for (int r = 0; r < H; ++r)
    for (int c = 0; c < W; ++c) {
      const int* e = &map[5 * (r * W + c)];
      const bool edge = r == H - 1 || c == W - 1;
      ASSERT_EQ(e[0], edge ? 0 : 3 * (c + r * W)) << r << "," << c;
      ASSERT_EQ(e[1], edge ? 0 : 32768) << r << "," << c;
      ASSERT_EQ(e[2] | e[3] | e[4], 0) << r << "," << c;
    }
  // k1 = 0.5 at x = y = 0.5 puts the source at (112.5, 112.5) exactly.
  MVG::Camera half = MVG::CameraAtOrigin(100, 100, 50, 50, 128, 128);
  half.d[0] = 0.5f;
  const std::vector<int> h = MvgMap(half);
  const int* e = &h[5 * (100 * 128 + 100)];
  EXPECT_EQ(e[0], 3 * (112 + 112 * 128));
  for (int k = 1; k <= 4; ++k) EXPECT_EQ(e[k], 8192);

  // Unequal fractions tell the row weight from the column weight: at
  // x = 0.5, y = 0.25 the radial factor is 37/32, the source (107.8125,
  // 78.90625), all exact in float.
  const int* u = &h[5 * (75 * 128 + 100)];
  EXPECT_EQ(u[0], 3 * (107 + 78 * 128));
  EXPECT_EQ(u[1], 576);    // (1 - 0.8125) (1 - 0.90625)
  EXPECT_EQ(u[2], 5568);   // (1 - 0.8125) 0.90625: the next row
  EXPECT_EQ(u[3], 2496);   // 0.8125 (1 - 0.90625): the next column
  EXPECT_EQ(u[4], 24128);  // 0.8125 0.90625
}

// ---- resamplers ----

double Bilinear(const Image& src, int channel, double x, double y) {
  const int xi = static_cast<int>(std::floor(x)), yi = static_cast<int>(std::floor(y));
  const double a = x - xi, b = y - yi;
  const int ch = src.header.nChannels;
  auto at = [&](int xx, int yy) { return double(src.Row(yy)[xx * ch + channel]); };
  return (1 - a) * (1 - b) * at(xi, yi) + (1 - a) * b * at(xi, yi + 1) + a * (1 - b) * at(xi + 1, yi) +
         a * b * at(xi + 1, yi + 1);
}

TEST(WarpByWeightsIndex, WithinOneLevelOfAnExactBilinearSampleOnNoise) {
  const int W = 640, H = 480;
  const MVG::Camera c = Lens(W, H, kBarrel);
  cv::Mat mapx, mapy;
  OpenCvMap(c, &mapx, &mapy);
  const std::vector<int> colour = MvgMap(c), gray = GrayMap(c);
  for (int channels : {3, 1}) {
    Image src(W, H, channels, W * channels), dst(W, H, channels, W * channels, 0x55);
    src.Randomise(17 + channels);
    if (channels == 3)
      IP::WarpByWeightsIndex(&src.header, &dst.header, colour.data());
    else
      IP::WarpByWeightsIndexGray(&src.header, &dst.header, gray.data());
    // The shift truncates (up to one level below) and the four truncated
    // weights lose up to 4 x 255 / 32768 more; nothing rounds up.
    double below = 0, above = 0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const double mx = mapx.at<float>(y, x), my = mapy.at<float>(y, x);
        const double border = std::min({mx, my, (W - 1) - mx, (H - 1) - my});
        if (std::fabs(border) <= 1e-3) continue;
        for (int k = 0; k < channels; ++k) {
          const double expected = border > 0 ? Bilinear(src, k, mx, my) : 0;
          const double diff = dst.Row(y)[x * channels + k] - expected;
          below = std::max(below, -diff);
          above = std::max(above, diff);
        }
      }
    EXPECT_LE(below, 1.0 + 4 * 255 / 32768.0) << channels << " channels";
    EXPECT_LE(above, 0.05) << channels << " channels";
  }
}

// The same warp through packed and padded rows; the padding of dst is kept.
void ExpectPaddedMatchesPacked(int W, int H, int channels, const std::vector<int>& map) {
  const int padded = Image::PaddedStep(W, channels);
  ASSERT_NE(padded, W * channels) << "width " << W << " must need padding";
  Image packedSrc(W, H, channels, W * channels), paddedSrc(W, H, channels, padded);
  packedSrc.Randomise(W);
  for (int y = 0; y < H; ++y) std::memcpy(paddedSrc.Row(y), packedSrc.Row(y), W * channels);
  Image packedDst(W, H, channels, W * channels), paddedDst(W, H, channels, padded, 0xA7);
  auto warp = channels == 3 ? IP::WarpByWeightsIndex : IP::WarpByWeightsIndexGray;
  warp(&packedSrc.header, &packedDst.header, map.data());
  warp(&paddedSrc.header, &paddedDst.header, map.data());
  for (int y = 0; y < H; ++y) {
    ASSERT_EQ(std::memcmp(packedDst.Row(y), paddedDst.Row(y), W * channels), 0) << "row " << y;
    for (int k = W * channels; k < padded; ++k) ASSERT_EQ(paddedDst.Row(y)[k], 0xA7) << "row " << y;
  }
  // Padded source into packed output, and packed source into padded output.
  Image mixed(W, H, channels, W * channels);
  warp(&paddedSrc.header, &mixed.header, map.data());
  EXPECT_EQ(mixed.data, packedDst.data);
  Image paddedOut(W, H, channels, padded, 0xA7);
  warp(&packedSrc.header, &paddedOut.header, map.data());
  EXPECT_EQ(paddedOut.data, paddedDst.data);
}

TEST(WarpByWeightsIndex, PaddedRowsMatchAPackedCopyRowByRow) {
  for (int W : {90, 683}) {
    const int H = W == 90 ? 61 : 384;
    const MVG::Camera c = Lens(W, H, kBarrel);
    ExpectPaddedMatchesPacked(W, H, 3, MvgMap(c));
    ExpectPaddedMatchesPacked(W, H, 1, GrayMap(c));
  }
}

TEST(WarpByWeightsIndex, StrongMapsStayInsideExactlySizedImages) {
  // The sanitizer catches any read past the buffers, which end at the last row.
  for (const float* d : {kBarrel, kPincushion}) {
    for (int W : {96, 683}) {
      const int H = 53;
      MVG::Camera c = Lens(W, H, d);
      for (float& k : c.d) k *= 3;  // well beyond any real lens
      const std::vector<int> colour = MvgMap(c), gray = GrayMap(c);
      for (int channels : {3, 1}) {
        for (int step : {W * channels, Image::PaddedStep(W, channels)}) {
          Image src(W, H, channels, step, 200), dst(W, H, channels, step);
          if (channels == 3)
            IP::WarpByWeightsIndex(&src.header, &dst.header, colour.data());
          else
            IP::WarpByWeightsIndexGray(&src.header, &dst.header, gray.data());
          for (int y = 0; y < H; ++y)
            for (int x = 0; x < W * channels; ++x) ASSERT_TRUE(dst.Row(y)[x] == 0 || dst.Row(y)[x] >= 199);
        }
      }
    }
  }
}

TEST(WarpByWeightsIndex, RefusedArgumentsLeaveDstUntouched) {
  const int W = 32, H = 24;
  const std::vector<int> map = MvgMap(Lens(W, H, kBarrel));
  Image src(W, H, 3, W * 3, 9), dst(W, H, 3, W * 3, 0x3C);
  Image gray(W, H, 1, W, 9), small(W - 4, H, 3, (W - 4) * 3, 9);
  Image deep(W, H, 3, W * 3 * 2, 9);
  deep.header.depth = IPL_DEPTH_16U;
  const std::vector<unsigned char> before = dst.data;
  struct Case {
    const char* name;
    IplImage* src;
    IplImage* dst;
    const int* map;
  } cases[] = {
      {"src_is_dst", &dst.header, &dst.header, map.data()},
      {"one_channel_src", &gray.header, &dst.header, map.data()},
      {"unequal_sizes", &small.header, &dst.header, map.data()},
      {"sixteen_bit", &deep.header, &dst.header, map.data()},
      {"null_src", nullptr, &dst.header, map.data()},
      {"null_map", &src.header, &dst.header, nullptr},
  };
  for (const Case& c : cases) {
    IP::WarpByWeightsIndex(c.src, c.dst, c.map);
    EXPECT_EQ(dst.data, before) << c.name;
  }
  Image grayDst(W, H, 1, W, 0x3C);
  const std::vector<unsigned char> grayBefore = grayDst.data;
  IP::WarpByWeightsIndexGray(&src.header, &grayDst.header, map.data());  // three channels
  IP::WarpByWeightsIndexGray(&grayDst.header, &grayDst.header, map.data());
  EXPECT_EQ(grayDst.data, grayBefore);
  IP::WarpByWeightsIndex(nullptr, nullptr, nullptr);
}

TEST(WarpByWeightsIndex, OnePixelWideImagesComeOutBlack) {
  // No entry of such a map can be inside, and a zero entry's samples would
  // lie past the row.
  for (int channels : {3, 1}) {
    Image src(1, 5, channels, channels, 255), dst(1, 5, channels, channels, 0x11);
    const std::vector<int> map(5 * 5, 0);
    if (channels == 3)
      IP::WarpByWeightsIndex(&src.header, &dst.header, map.data());
    else
      IP::WarpByWeightsIndexGray(&src.header, &dst.header, map.data());
    EXPECT_EQ(dst.data, std::vector<unsigned char>(5 * channels, 0));
  }
}

}  // namespace
