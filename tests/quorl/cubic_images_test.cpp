// Spline-family images: B-spline prefilter and interpolation, the weight
// table, border background, pyramid, plane types and Bezier subdivision.
#include "cubic/cubic.h"
#include "cubic/spline_weights.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

using namespace MIR::Cubic;

std::vector<unsigned short> Pixels(int side, unsigned short (*f)(int, int)) {
  std::vector<unsigned short> p(static_cast<size_t>(side) * side);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) p[static_cast<size_t>(y) * side + x] = f(x, y);
  return p;
}

TEST(CubicImage, InterpolationReproducesPixelsAndRamps) {
  std::mt19937 rng(5);
  std::vector<unsigned short> random(32 * 32);
  for (auto& v : random) v = static_cast<unsigned short>(rng() % 60000);
  Image image;
  image.Wrap(random.data(), 5);
  // Prepared on first use.
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      ASSERT_NEAR(image.InterpolateSpline(x * 2048, y * 2048), random[y * 32 + x], 1e-6) << x << "," << y;

  // A ramp of 100 a pixel along x: a quantised fraction q / 64 is sampled as
  // q / 63, so the value is off by at most slope / 64.
  auto ramp = Pixels(32, [](int x, int) { return static_cast<unsigned short>(1000 + 100 * x); });
  Image rampImage;
  rampImage.Wrap(ramp.data(), 5);
  // Away from the ends, where the mirrored extension bends the ramp.
  for (int x = 6 * 2048; x < 25 * 2048; x += 333) {
    const double exact = 1000.0 + 100.0 * x / 2048.0;
    EXPECT_NEAR(rampImage.InterpolateSpline(x, 10 * 2048 + 700), exact, 100.0 / 64 + 1e-6) << x;
  }
}

TEST(CubicImage, WeightTableSumsToOneAndDifferentiatesARamp) {
  std::unique_ptr<double[]> table(NewSplineWeightTable());
  ASSERT_TRUE(table);
  for (int e = 0; e < kWeightSteps * kWeightSteps; e += 37) {
    const double* w = table.get() + e * kWeightsPerEntry;
    double value = 0.0, dx = 0.0, dy = 0.0;
    for (int k = 0; k < 16; ++k) value += w[k];
    // Coefficients c(row, col) = 3 col + 7 row: every column difference is 3,
    // every row difference 7.
    for (int k = 0; k < 12; ++k) {
      dx += 3.0 * w[16 + k];
      dy += 7.0 * w[28 + k];
    }
    EXPECT_NEAR(value, 1.0, 1e-12);
    EXPECT_NEAR(dx, 3.0, 1e-12);
    EXPECT_NEAR(dy, 7.0, 1e-12);
  }
  // Fraction 0 and fraction 1 (entry 63).
  const double* first = table.get();
  EXPECT_NEAR(first[4 * 1 + 0], 2.0 / 3.0 / 6.0, 1e-15);
  const double* last = table.get() + 63 * kWeightsPerEntry;  // qy 0, qx 63
  EXPECT_NEAR(last[4 * 1 + 1], 2.0 / 3.0 / 6.0, 1e-15);
  EXPECT_DOUBLE_EQ(last[4 * 1 + 0], 0.0);
}

TEST(CubicImage, ShortLinesPrefilterInBounds) {
  // Lines of 1 to 10 pixels reflect their twenty start terms many times over;
  // any index outside the line would trip the address sanitizer. Rows of
  // 1, 2, 4 and 8 pixels by columns of 1 to 10.
  for (int width : {1, 2, 4, 8})
    for (int height = 1; height <= 10; ++height) {
      Image image;
      image.SetSize(width, height);
      ASSERT_TRUE(image.AllocatePixels());
      for (int i = 0; i < width * height; ++i) image.pixels[i] = static_cast<unsigned short>(500 + 37 * i);
      image.PrepareSplineCoefficients();
      ASSERT_TRUE(image.splineCoefficients);
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
          EXPECT_NEAR(image.InterpolateSpline(x * 2048, y * 2048), image.pixels[y * width + x], 1e-6)
              << width << "x" << height << ": " << x << "," << y;
    }
  // Widths that are no power of two are read in bounds too.
  for (int width = 3; width <= 10; ++width) {
    Image image;
    image.SetSize(width, width);
    ASSERT_TRUE(image.AllocatePixels());
    image.Clear();
    image.PrepareSplineCoefficients();
    EXPECT_NEAR(image.InterpolateSpline(2048, 2048), 0.0, 1e-12);
  }
  // A constant line stays constant however it is folded.
  for (int side : {1, 2, 4, 8}) {
    std::vector<unsigned short> flat(side * side, 777);
    Image image;
    image.Wrap(flat.data(), FloorLog2(side));
    image.PrepareSplineCoefficients();
    for (int i = 0; i < side * side; ++i) EXPECT_NEAR(image.splineCoefficients[i], 777.0, 1e-6) << side;  // twenty start terms
  }
}

TEST(CubicImage, BackgroundAveragesTheBorderBand) {
  struct Case {
    int log2, band;
  };
  for (const Case c : {Case{8, 2}, Case{9, 5}, Case{10, 10}}) {
    const int side = 1 << c.log2;
    // 1000 in the band, 0 inside: the band is the near b rows and columns and
    // the far b - 1.
    std::vector<unsigned short> p(static_cast<size_t>(side) * side, 0);
    for (int y = 0; y < side; ++y)
      for (int x = 0; x < side; ++x) {
        const bool band = x < c.band || x > side - c.band || y < c.band || y > side - c.band;
        p[static_cast<size_t>(y) * side + x] = band ? 1000 : 0;
      }
    p[static_cast<size_t>(c.band - 1) * side + side / 2] = 0;  // one band pixel darker
    Image image;
    image.Wrap(p.data(), c.log2);
    const double bandPixels = static_cast<double>(side) * side - std::pow(side - 2 * c.band + 1, 2);
    EXPECT_EQ(image.background, static_cast<int>(std::floor(1000.0 * (bandPixels - 1) / bandPixels + 0.5)))
        << side;
    // Just inside the band on both sides is not counted.
    p.assign(p.size(), 1000);
    p[static_cast<size_t>(c.band) * side + c.band] = 0;
    p[static_cast<size_t>(side - c.band) * side + side - c.band] = 0;
    image.ComputeBackground();
    EXPECT_EQ(image.background, 1000) << side;
  }
}

TEST(CubicImage, WrapKeepsTheCallersStorage) {
  std::vector<unsigned short> p(16 * 16, 9);
  {
    Image image;
    image.Wrap(p.data(), 4);
    EXPECT_EQ(image.GetPixel(3, 3), 9);
    EXPECT_EQ(image.GetPixel(-1, 3), image.background);
    EXPECT_EQ(image.GetPixel(3, 16), image.background);
    image.Release();
    EXPECT_EQ(image.pixels, p.data());
  }
  EXPECT_EQ(p[0], 9);  // still ours, not freed (ASan would object)
  Image own;
  ASSERT_TRUE(own.Allocate(3));
  own.Clear();
  EXPECT_EQ(own.GetPixel(7, 7), 0);
  EXPECT_EQ(own.fullWidth, 8);
  // Preparing twice frees the first coefficients (LeakSanitizer).
  own.PrepareSplineCoefficients();
  own.PrepareSplineCoefficients();
}

TEST(CubicPyramid, ConstantImageStaysConstantAndLevelsHalve) {
  std::vector<unsigned short> p(256 * 256, 43210);
  Image image;
  image.Wrap(p.data(), 8);
  ImagePyramid pyramid;
  pyramid.Build(&image, 3);
  ASSERT_EQ(pyramid.levelCount, 3);
  for (int l = 1; l <= 3; ++l) {
    Image* level = pyramid.GetLevelImage(l);
    ASSERT_EQ(level->GetWidth(), 256 >> l);
    EXPECT_EQ(level->fullWidth, 256);
    for (int i = 0; i < level->GetWidth() * level->GetHeight(); ++i) ASSERT_EQ(level->pixels[i], 43210) << l;
    EXPECT_EQ(level->background, 43210);
  }
  EXPECT_EQ(pyramid.GetLevelImage(-1), &image);
  EXPECT_EQ(pyramid.GetLevelImage(4), &image);
  pyramid.Build(&image, 2);  // rebuilt without leaking the old levels
  EXPECT_EQ(pyramid.levelCount, 2);
}

TEST(CubicPlane, PointsVectorsAndAngles) {
  AffPoint a(1, 2), b(3, 6), m;
  m.SetMidpoint(a, b);
  EXPECT_DOUBLE_EQ(m.x, 2);
  EXPECT_DOUBLE_EQ(m.y, 4);
  m.SetInterpolated(a, b, 0.25);
  EXPECT_DOUBLE_EQ(m.x, 1.5);
  const AffPoint pts[3] = {{0, 0}, {3, 0}, {0, 3}};
  m.SetCentroid(3, pts);
  EXPECT_DOUBLE_EQ(m.x, 1);
  const Vector v = b - a;
  EXPECT_DOUBLE_EQ(v.Length(), std::sqrt(20.0));
  EXPECT_DOUBLE_EQ((a + v).y, 6);
  EXPECT_DOUBLE_EQ((b - v).x, 1);
  EXPECT_DOUBLE_EQ(v.Dot(Vector(1, 1)), 6);
  EXPECT_DOUBLE_EQ((v * 2.0 + v - v).x, 4);
  EXPECT_NEAR(Vector(1, 0).SignedAngle(Vector(0, 1)), M_PI / 2, 1e-15);
  EXPECT_NEAR(Vector(1, 0).SignedAngle(Vector(0, -1)), -M_PI / 2, 1e-15);
  // Parallel vectors whose rounded cosine exceeds 1, and a zero vector.
  EXPECT_EQ(Vector(1, 5).SignedAngle(Vector(2, 10)), 0.0);
  EXPECT_EQ(Vector(0, 0).SignedAngle(Vector(1, 1)), 0.0);
  EXPECT_EQ(FloorLog2(1), 0);
  EXPECT_EQ(FloorLog2(1023), 9);
  EXPECT_EQ(FloorLog2(0), -1);
}

double Bernstein(const double c[4], double t) {
  const double u = 1 - t;
  return c[0] * u * u * u + 3 * c[1] * u * u * t + 3 * c[2] * u * t * t + c[3] * t * t * t;
}

TEST(CubicBezier, SubdivisionsMatchBernstein) {
  const double c[4] = {2.0, -5.0, 7.5, 1.0};
  for (int L = 0; L <= 5; ++L) {
    const int N = 3 << L;
    std::vector<double> v(N + 1, 0.0), w(N + 1, 0.0), rows((N + 1) * 16, 0.0);
    for (int k = 0; k < 4; ++k) {
      v[k << L] = w[k << L] = c[k];
      for (int col = 0; col < 16; ++col) rows[(k << L) * 16 + col] = c[k] * (col + 1);
    }
    EXPECT_EQ(SubdivideBezier(v.data(), L), N);
    EXPECT_EQ(SubdivideCubicProfile(w.data(), L), N);
    EXPECT_EQ(SubdivideBezierRows(rows.data(), L), N);
    for (int k = 0; k <= (1 << L); ++k) {
      const double expected = Bernstein(c, static_cast<double>(k) / (1 << L));
      EXPECT_NEAR(v[3 * k], expected, 1e-12) << L << " " << k;
      EXPECT_NEAR(w[3 * k], expected, 1e-12);
      for (int col = 0; col < 16; ++col) EXPECT_NEAR(rows[3 * k * 16 + col], expected * (col + 1), 1e-11);
    }
  }
}

}  // namespace
