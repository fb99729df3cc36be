// Working images, the binomial pyramid and plane geometry of the bilinear
// registration engines.
#include "bilinear/bilinear.h"
#include "common/binomial_reduce.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

namespace {

using MIR::Bilinear::FloorLog2;
using MIR::Bilinear::Image;
using MIR::Bilinear::ImagePyramid;
using MIR::Bilinear::Vector;

// A horizontal ramp input of side D: byte = x * 255 / (D - 1), and a vertical
// term so a blend with the next row shows.
std::vector<unsigned char> Ramp(int D) {
  std::vector<unsigned char> input(static_cast<size_t>(D) * D);
  for (int y = 0; y < D; ++y)
    for (int x = 0; x < D; ++x) input[static_cast<size_t>(y) * D + x] = static_cast<unsigned char>((x * 200) / (D - 1));
  return input;
}

void Make512(Image& image) {
  image.SetSize(512, 512);
  ASSERT_TRUE(image.Allocate());
}

TEST(RegistrationGeometry, SignedAngleCoversQuadrantsParallelAndZeroVectors) {
  struct Case {
    Vector u, v;
    double angle;
  } cases[] = {
      {{1, 0}, {0, 1}, std::numbers::pi / 2},
      {{1, 0}, {0, -1}, -std::numbers::pi / 2},
      {{1, 0}, {-1, 0}, std::numbers::pi},
      {{1, 5}, {2, 10}, 0.0},  // the rounded cosine exceeds 1
      {{0, 0}, {2, 10}, 0.0},
      {{3, 1}, {0, 0}, 0.0},
  };
  for (const Case& c : cases) {
    const double angle = c.u.SignedAngle(c.v);
    EXPECT_FALSE(std::isnan(angle));
    EXPECT_NEAR(angle, c.angle, 1e-12) << c.u.x << "," << c.u.y << " to " << c.v.x << "," << c.v.y;
  }
}

TEST(RegistrationGeometry, PointDifferenceConvertsToVector) {
  MIR::Bilinear::AffPoint p(3, 4), q(1, 1), m, c;
  const Vector d(p - q);
  EXPECT_DOUBLE_EQ(d.Length(), std::sqrt(13.0));
  m.SetMidpoint(p, q);
  EXPECT_DOUBLE_EQ(m.x, 2.0);
  const MIR::Bilinear::AffPoint both[2] = {p, q};
  c.SetCentroid(2, both);
  EXPECT_DOUBLE_EQ(c.y, 2.5);
  c.SetInterpolated(p, q, 0.25);
  EXPECT_DOUBLE_EQ(c.x, 2.5);
}

TEST(RegistrationImage, FloorLog2) {
  const int cases[][2] = {{0, -1}, {1, 0}, {3, 1}, {512, 9}, {513, 9}};
  for (const auto& c : cases) EXPECT_EQ(FloorLog2(c[0]), c[1]) << c[0];
}

TEST(RegistrationImage, FreshImageAndOutsideRead) {
  Image image;
  EXPECT_EQ(image.GetOutsideValue(), 0);
  EXPECT_EQ(image.GetInputWidth(), 200);
  EXPECT_EQ(image.GetInputHeight(), 100);
}

// The outside value is the rounded mean of a border band: 5 pixels wide at
// the left and top and 4 at the right and bottom, for 512 and for 16 pixels.
TEST(RegistrationImage, OutsideValueBand) {
  for (int side : {512, 16}) {
    Image image;
    image.SetSize(side, side);
    ASSERT_TRUE(image.Allocate());
    unsigned char* p = image.GetBuffer();
    for (int y = 0; y < side; ++y)
      for (int x = 0; x < side; ++x) {
        const bool band = x < 5 || x > side - 5 || y < 5 || y > side - 5;
        p[y * side + x] = band ? (x == 0 ? 11 : 10) : 200;
      }
    image.ComputeOutsideValue();
    EXPECT_EQ(image.GetOutsideValue(), 10) << side;
    EXPECT_EQ(image.GetPixel(-1, 0), 10);
    EXPECT_EQ(image.GetPixel(side / 2, side / 2), 200);
    EXPECT_EQ(image.GetPixel(side / 2, side), 10);
  }
}

TEST(RegistrationImage, ResampleFromSameSizeCopiesAndLargerPointSamples) {
  std::vector<unsigned char> input(512 * 512);
  for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<unsigned char>((i * 2654435761u) >> 24);
  Image same;
  Make512(same);
  same.ResampleFrom(9, input.data());
  EXPECT_EQ(0, std::memcmp(same.GetBuffer(), input.data(), input.size()));

  std::vector<unsigned char> big(1024 * 1024);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<unsigned char>((i * 40503u) >> 8);
  Image half;
  Make512(half);
  half.ResampleFrom(10, big.data());
  for (int j = 0; j < 512; j += 37)
    for (int i = 0; i < 512; i += 29) EXPECT_EQ(half.GetPixel(i, j), big[(2 * j) * 1024 + 2 * i]);
  EXPECT_EQ(half.GetInputWidth(), 1024);
}

// From a 256 input the image is interpolated at half steps; the last input
// column blends with itself, never with the next row's first byte, and the
// last input rows are copied rather than blended.
TEST(RegistrationImage, ResampleFromSmallerInputKeepsColumnsInTheirRow) {
  const int D = 256;
  std::vector<unsigned char> input = Ramp(D);
  Image image;
  Make512(image);
  image.ResampleFrom(8, input.data());
  for (int j = 0; j < 500; j += 13) {
    // Columns past the last input column repeat it: no drop to row start.
    EXPECT_EQ(image.GetPixel(511, j), input[(j / 2) * D + 255]) << j;
    EXPECT_EQ(image.GetPixel(510, j), input[(j / 2) * D + 255]) << j;
    // A half step between columns 10 and 11.
    EXPECT_EQ(image.GetPixel(21, j), static_cast<int>(std::floor((input[10] + input[11]) / 2.0))) << j;
  }
  // Rows whose input index passes (254 x 255) - 1 copy the byte at (x0, y0).
  const int j = 510;  // y0 = 255
  EXPECT_EQ(image.GetPixel(21, j), input[255 * D + 10]);
}

TEST(RegistrationImage, ExportInvertedScalesBackToTheInputSize) {
  for (int D : {256, 1024}) {
    std::vector<unsigned char> input(static_cast<size_t>(D) * D);
    for (int y = 0; y < D; ++y)
      for (int x = 0; x < D; ++x) input[static_cast<size_t>(y) * D + x] = static_cast<unsigned char>(40 + (x * 100) / D);
    Image image;
    Make512(image);
    image.ResampleFrom(static_cast<unsigned>(FloorLog2(D)), input.data());
    std::vector<unsigned char> output(static_cast<size_t>(D) * D, 7);
    image.ExportInverted(output.data());
    for (int y = 0; y < D - 4; y += 31)
      for (int x = 0; x < D - 4; x += 17)
        EXPECT_NEAR(output[static_cast<size_t>(y) * D + x], 255 - input[static_cast<size_t>(y) * D + x], 1.0)
            << D << " " << x << "," << y;
  }
}

TEST(RegistrationPyramid, UniformStaysUniformAndRampKeepsItsInterior) {
  Image base;
  Make512(base);
  std::memset(base.GetBuffer(), 90, 512 * 512);
  base.ComputeOutsideValue();
  ImagePyramid pyramid;
  ASSERT_TRUE(pyramid.Build(&base, 5));
  for (int k = 1; k <= 5; ++k) {
    const Image* level = pyramid.GetImage(k);
    ASSERT_EQ(level->GetWidth(), 512 >> k);
    for (int y = 0; y < level->GetHeight(); ++y)
      for (int x = 0; x < level->GetWidth(); ++x) ASSERT_EQ(level->GetPixel(x, y), 90) << k << " " << x << "," << y;
    EXPECT_EQ(level->GetOutsideValue(), 90);
  }
  EXPECT_EQ(pyramid.GetImage(-1), &base);
  EXPECT_EQ(pyramid.GetImage(6), &base);

  // A ramp along x: interior pixels keep the exact integer filter.
  for (int y = 0; y < 512; ++y)
    for (int x = 0; x < 512; ++x) base.GetBuffer()[y * 512 + x] = static_cast<unsigned char>(x / 2);
  ASSERT_TRUE(pyramid.Build(&base, 1));
  const Image* level = pyramid.GetImage(1);
  for (int X = 1; X < 255; ++X) {
    int sum = 0;
    const int taps[6] = {1, 5, 10, 10, 5, 1};
    for (int a = 0; a < 6; ++a) sum += taps[a] * 32 * ((2 * X - 2 + a) / 2);
    EXPECT_EQ(level->GetPixel(X, 100), sum >> 10) << X;
  }
  // The edges repeat the edge pixel: the first column sees columns 0, 0, 0, 1, 2, 3.
  EXPECT_EQ(level->GetPixel(0, 100), (1 * 0 + 5 * 0 + 10 * 0 + 10 * 0 + 5 * 1 + 1 * 1) * 32 >> 10);
  EXPECT_EQ(level->GetPixel(255, 255), (1 * 254 + 5 * 254 + 10 * 255 + 10 * 255 + 5 * 255 + 1 * 255) * 32 >> 10);
}

TEST(RegistrationPyramid, SixteenBitPixelsReduceAlike) {
  std::vector<std::uint16_t> source(8 * 8, 40000), out(16, 0);
  MIR::Common::BinomialReduce(source.data(), 8, 8, 8, out.data(), 4);
  for (std::uint16_t v : out) EXPECT_EQ(v, 40000);
}

}  // namespace
