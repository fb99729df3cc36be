// The exported registration front (CMIREngine) and the stand-alone
// control-grid pyramid (BiTranPyr).
#include "Registration/bi_tran_pyr.h"
#include "Registration/mir_engine.h"
#include "bilinear/bilinear.h"
#include "registration_texture.h"
#include "warp_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace Quorl::Registration {
// Test-only access to the front's private operations and engines.
class CMIREngineTestAccess {
 public:
  static void WarpBilinear(CMIREngine& e, unsigned char* in, unsigned char* out, int level) {
    e.WarpBilinear(in, out, level);
  }
  static void WarpRectified(CMIREngine& e, unsigned char* in, unsigned char* out, int level) {
    e.WarpRectified(in, out, level);
  }
  static void WarpRgbBilinear(CMIREngine& e, unsigned char* in, unsigned char* out, int level) {
    e.WarpRgbBilinear(in, out, level);
  }
  static void GetBiDisparity(CMIREngine& e, float* map, int level, float* minimum, float* maximum) {
    e.GetBiDisparity(map, level, minimum, maximum);
  }
  static void GetRctDisparity(CMIREngine& e, float* map, int level, float* minimum, float* maximum) {
    e.GetRctDisparity(map, level, minimum, maximum);
  }
  static void GetBiControlPoints(CMIREngine& e, int level, double* points, int* columns, int* rows) {
    e.GetBiControlPoints(level, points, columns, rows);
  }
  // The grid level the bilinear engine's transformation stands at.
  static int BilinearGridLevel(CMIREngine& e) {
    return static_cast<MIR::Bilinear::CRegisterEngine*>(e.bilinearEngine_.get())->GetTransformation().GetLevel();
  }
};
}  // namespace Quorl::Registration

namespace {

using Quorl::Registration::BiTranPyr;
using Quorl::Registration::CMIREngine;
using Access = Quorl::Registration::CMIREngineTestAccess;
using registration_texture::Render;

constexpr int kSide = 512;
constexpr size_t kPixels = static_cast<size_t>(kSide) * kSide;

struct Scenes {
  std::vector<unsigned char> source = Render(kSide);
  std::vector<unsigned char> shifted = Render(kSide, [](double& x, double&) { x += 8.0; });
};

const Scenes& TheScenes() {
  static const Scenes scenes;
  return scenes;
}

unsigned char* Bytes(const std::vector<unsigned char>& v) {
  return const_cast<unsigned char*>(v.data());
}

// Mean disparity over the interior (32-pixel margin) at grid level 4, and
// the share of pixels within half a pixel of -8.
double InteriorDisparity(CMIREngine& engine, float* within = nullptr) {
  std::vector<float> map(kPixels, 99.0f);
  float minimum = 0, maximum = 0;
  Access::GetBiDisparity(engine, map.data(), 4, &minimum, &maximum);
  double sum = 0.0;
  int count = 0;
  int close = 0;
  for (int y = 32; y < kSide - 32; ++y)
    for (int x = 32; x < kSide - 32; ++x) {
      sum += map[y * kSide + x];
      ++count;
      close += std::fabs(map[y * kSide + x] + 8.0f) <= 0.5f;
    }
  if (within) *within = static_cast<float>(close) / count;
  return sum / count;
}

TEST(RegistrationFront, RegisterYieldsFiveLevelsAndTheShiftAsDisparity) {
  CMIREngine engine;
  EXPECT_FALSE(engine.IsRegisteredBilinear());
  engine.Register(Bytes(TheScenes().shifted), Bytes(TheScenes().source));
  EXPECT_TRUE(engine.IsRegisteredBilinear());
  EXPECT_FALSE(engine.IsRegisteredRectified());
  EXPECT_FALSE(engine.IsRegisteredCubic());

  BiTranPyr pyramid;
  engine.GetTransformation(&pyramid);
  ASSERT_EQ(pyramid.GetNumLevels(), 4);
  for (int level = 0; level <= 4; ++level) {
    const int n = (1 << level) + 1;
    int columns = 0, rows = 0;
    std::vector<double> points(2 * n * n);
    Access::GetBiControlPoints(engine, level, points.data(), &columns, &rows);
    ASSERT_EQ(columns, n);
    ASSERT_EQ(rows, n);
    const double* held = pyramid.GetControlPoints(level);
    ASSERT_NE(held, nullptr);
    for (int k = 0; k < 2 * n * n; ++k) ASSERT_EQ(held[k], points[k]) << level << " " << k;
    // Corner points near the unit square (shifted by 8/512).
    EXPECT_NEAR(held[0], 8.0 / 512, 0.01);
    EXPECT_NEAR(held[2 * (n * n - 1) + 1], 1.0, 0.01);
  }
  // Within half a pixel of -8 nearly everywhere inside; cells at the right
  // edge, whose target maps beyond the source, are less certain.
  float within = 0.0f;
  EXPECT_NEAR(InteriorDisparity(engine, &within), -8.0, 0.1);
  EXPECT_GT(within, 0.95f);
}

TEST(RegistrationFront, WarpLevelsSelectGridsAndColourWarpsEachChannel) {
  CMIREngine engine;
  engine.Register(Bytes(TheScenes().shifted), Bytes(TheScenes().source));
  std::vector<unsigned char> out(kPixels);
  const int levels[][2] = {{-1, 0}, {0, 1}, {3, 4}, {4, 4}};
  for (const auto& l : levels) {
    Access::WarpBilinear(engine, Bytes(TheScenes().source), out.data(), l[0]);
    EXPECT_EQ(Access::BilinearGridLevel(engine), l[1]) << l[0];
  }
  // The warped source matches the target in the interior.
  double error = 0.0;
  for (int y = 32; y < kSide - 32; ++y)
    for (int x = 32; x < kSide - 32; ++x) error += std::abs(out[y * kSide + x] - TheScenes().shifted[y * kSide + x]);
  EXPECT_LT(error / ((kSide - 64) * (kSide - 64)), 2.0);

  // A colour image is three grey warps, channel by channel.
  std::vector<unsigned char> rgb(3 * kPixels), rgbOut(3 * kPixels), planes[3];
  for (int c = 0; c < 3; ++c) {
    planes[c].resize(kPixels);
    for (size_t i = 0; i < kPixels; ++i) planes[c][i] = rgb[3 * i + c] = TheScenes().source[(i * (c + 1)) % kPixels];
  }
  Access::WarpRgbBilinear(engine, rgb.data(), rgbOut.data(), 2);
  for (int c = 0; c < 3; ++c) {
    Access::WarpBilinear(engine, planes[c].data(), out.data(), 2);
    for (size_t i = 0; i < kPixels; ++i) ASSERT_EQ(rgbOut[3 * i + c], out[i]) << c << " " << i;
  }
}

TEST(RegistrationFront, ObjectsKeepTheirOwnResults) {
  std::vector<float> map(kPixels, 123.0f);
  float minimum = 7.0f, maximum = 7.0f;
  std::vector<unsigned char> out(kPixels, 42);
  {
    CMIREngine fresh;
    // Queries before a registration leave everything as it was.
    Access::GetBiDisparity(fresh, map.data(), 4, &minimum, &maximum);
    Access::WarpBilinear(fresh, Bytes(TheScenes().source), out.data(), 2);
    BiTranPyr pyramid;
    fresh.GetTransformation(&pyramid);
    EXPECT_EQ(pyramid.GetNumLevels(), 0);
    EXPECT_EQ(map[1000], 123.0f);
    EXPECT_EQ(minimum, 7.0f);
    EXPECT_EQ(out[1000], 42);
    // Null images and an unknown type register nothing.
    fresh.Register(nullptr, Bytes(TheScenes().source));
    EXPECT_FALSE(fresh.IsRegisteredBilinear());
    CMIREngine other(static_cast<CMIREngine::RegistrationType>(1));
    other.Register(Bytes(TheScenes().source), Bytes(TheScenes().source));
    EXPECT_FALSE(other.IsRegisteredBilinear());
    EXPECT_FALSE(other.IsRegisteredRectified());
  }

  CMIREngine still;
  still.Register(Bytes(TheScenes().source), Bytes(TheScenes().source));
  {
    auto moved = std::make_unique<CMIREngine>();
    moved->Register(Bytes(TheScenes().shifted), Bytes(TheScenes().source));
    EXPECT_NEAR(InteriorDisparity(*moved), -8.0, 0.1);
    EXPECT_NEAR(InteriorDisparity(still), 0.0, 0.05);
    // Copies share the finished engine and answer alike.
    CMIREngine copy(*moved);
    CMIREngine assigned;
    assigned = *moved;
    moved.reset();
    EXPECT_TRUE(copy.IsRegisteredBilinear());
    EXPECT_NEAR(InteriorDisparity(copy), -8.0, 0.1);
    EXPECT_NEAR(InteriorDisparity(assigned), -8.0, 0.1);
  }
  EXPECT_NEAR(InteriorDisparity(still), 0.0, 0.05);
}

TEST(RegistrationFront, RectifiedRegistrationReportsHorizontalDisparity) {
  CMIREngine engine(CMIREngine::Rectified);
  engine.Register(Bytes(TheScenes().shifted), Bytes(TheScenes().source));
  EXPECT_TRUE(engine.IsRegisteredRectified());
  EXPECT_FALSE(engine.IsRegisteredBilinear());
  std::vector<float> map(kPixels);
  float minimum = 0, maximum = 0;
  Access::GetRctDisparity(engine, map.data(), 4, &minimum, &maximum);
  EXPECT_NEAR(map[256 * kSide + 256], -8.0, 1.5);
  EXPECT_LE(minimum, maximum);
  std::vector<unsigned char> out(kPixels);
  Access::WarpRectified(engine, Bytes(TheScenes().source), out.data(), 3);
  BiTranPyr pyramid;
  engine.GetTransformation(&pyramid);
  EXPECT_EQ(pyramid.GetNumLevels(), 4);
  // A bilinear query of a rectified object finds no bilinear engine.
  std::vector<float> untouched(kPixels, 5.0f);
  Access::GetBiDisparity(engine, untouched.data(), 4, &minimum, &maximum);
  EXPECT_EQ(untouched[0], 5.0f);
}

struct HorizontalShiftCase {
  const char* name;
  double shift;    // pixels, to the right
  double rmsBound;  // pixels, inside a 16-pixel margin
};

// Endpoint errors of the level-4 grid against x + shift, through BiTranPyr.
struct ShiftErrors {
  double rms = 0.0, median = 0.0;
  double maxClearOfTheBorder = 0.0;  // x < 448
  double maxVertical = 0.0;          // every pixel of the image
};

ShiftErrors MeasureShift(BiTranPyr& pyramid, double shift) {
  ShiftErrors e;
  std::vector<double> inside;
  double sum = 0.0;
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) {
      double point[2] = {static_cast<double>(x), static_cast<double>(y)}, mapped[2];
      pyramid.TransformPoint(point, mapped, 4);
      const double dx = mapped[0] - (x + shift), dy = mapped[1] - y;
      e.maxVertical = std::max(e.maxVertical, std::fabs(dy));
      if (x < 16 || y < 16 || x >= kSide - 16 || y >= kSide - 16) continue;
      const double d = std::hypot(dx, dy);
      inside.push_back(d);
      sum += d * d;
      if (x < 448) e.maxClearOfTheBorder = std::max(e.maxClearOfTheBorder, d);
    }
  e.rms = std::sqrt(sum / inside.size());
  std::nth_element(inside.begin(), inside.begin() + inside.size() / 2, inside.end());
  e.median = inside[inside.size() / 2];
  return e;
}

class RegistrationFrontShift : public ::testing::TestWithParam<HorizontalShiftCase> {};

// A pure horizontal shift is the rectified build's own case and an easy one
// for the bilinear build. Target pixels within `shift` of the right edge
// map beyond the source and see its outside value; the correlation then
// gains by pulling the right-hand grid points in by a few pixels, so the
// last two cell columns (x >= 448) carry the largest errors and the RMS
// grows with the shift. Elsewhere both builds are well within a pixel, and
// the rectified build moves no point vertically at all.
TEST_P(RegistrationFrontShift, BothBuildsRecoverTheShiftOnTheFinestGrid) {
  const HorizontalShiftCase& c = GetParam();
  const std::vector<unsigned char> target = Render(kSide, [&](double& x, double&) { x += c.shift; });
  for (auto type : {CMIREngine::Bilinear, CMIREngine::Rectified}) {
    SCOPED_TRACE(type == CMIREngine::Bilinear ? "bilinear" : "rectified");
    CMIREngine engine(type);
    engine.Register(Bytes(target), Bytes(TheScenes().source));
    BiTranPyr pyramid;
    engine.GetTransformation(&pyramid);
    ASSERT_EQ(pyramid.GetNumLevels(), 4);
    const ShiftErrors e = MeasureShift(pyramid, c.shift);
    EXPECT_LT(e.rms, c.rmsBound);
    EXPECT_LT(e.median, 0.035);
    EXPECT_LT(e.maxClearOfTheBorder, 1.0);
    if (type == CMIREngine::Rectified) {
      EXPECT_LE(e.maxVertical, 0.25);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(HorizontalShifts, RegistrationFrontShift,
                         ::testing::Values(HorizontalShiftCase{"two", 2.0, 0.15}, HorizontalShiftCase{"six", 6.0, 0.15},
                                           HorizontalShiftCase{"twelve", 12.0, 0.25}),
                         [](const auto& info) { return std::string(info.param.name); });

// An identity level-0 grid for a pyramid of one level.
void Identity(BiTranPyr& pyramid) {
  pyramid.SetNumLevels(0);
  double* p = pyramid.GetControlPoints(0);
  const double corners[8] = {0, 0, 1, 0, 0, 1, 1, 1};
  std::copy(corners, corners + 8, p);
}

TEST(RegistrationTranPyr, IdentityFixesPointsAndCopiesEveryPixel) {
  BiTranPyr pyramid;
  Identity(pyramid);
  const int width = 640, height = 480, channels = 3, stride = 640 * 3 + 8;
  std::vector<unsigned char> source(static_cast<size_t>(stride) * height), output(source.size(), 0);
  for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<unsigned char>((i * 131) >> 3);
  pyramid.WarpSourceImage(source.data(), output.data(), width, height, channels, stride, 0);
  for (int y = 0; y < height; ++y)
    ASSERT_EQ(0, std::memcmp(&source[static_cast<size_t>(y) * stride], &output[static_cast<size_t>(y) * stride],
                             width * channels))
        << y;
  double point[2] = {639.0, 479.0}, mapped[2];
  pyramid.TransformPoint(point, mapped, 0);
  EXPECT_NEAR(mapped[0], 639.0, 1e-9);
  EXPECT_NEAR(mapped[1], 479.0, 1e-9);
  std::vector<float> map(width * height, 9.0f);
  float minimum = 0, maximum = 0;
  pyramid.GetDisparityMap(map.data(), width, height, 0, minimum, maximum);
  EXPECT_NEAR(minimum, 0.0f, 1e-4);
  EXPECT_NEAR(maximum, 0.0f, 1e-4);
}

TEST(RegistrationTranPyr, SubPixelShiftRoundsAndTheLastColumnIsSampled) {
  BiTranPyr pyramid;
  Identity(pyramid);
  const int width = 64, height = 8;
  double* p = pyramid.GetControlPoints(0);
  for (int k = 0; k < 4; ++k) p[2 * k] += 0.5 / width;  // half a pixel to the right
  std::vector<unsigned char> source(width * height), output(width * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) source[y * width + x] = static_cast<unsigned char>(3 * x);
  pyramid.WarpSourceImage(source.data(), output.data(), width, height, 1, width, 0);
  for (int x = 0; x < width - 1; ++x) EXPECT_EQ(output[3 * width + x], 3 * x + 2) << x;  // 3x + 1.5
  EXPECT_EQ(output[3 * width + width - 1], 255);  // half a pixel beyond the last column
  // Half a pixel back: the last column maps onto the last source column.
  for (int k = 0; k < 4; ++k) p[2 * k] -= 0.5 / width;
  pyramid.WarpSourceImage(source.data(), output.data(), width, height, 1, width, 0);
  EXPECT_EQ(output[(height - 1) * width + width - 1], 3 * (width - 1));

}

// A grid point that is not a number: the pixels of its cells are white in a
// warp and 0 in a disparity image; the rest are mapped as usual.
TEST(RegistrationTranPyr, PointsThatCannotBeMappedStayWhite) {
  BiTranPyr pyramid;
  pyramid.SetNumLevels(1);
  double* p = pyramid.GetControlPoints(1);
  for (int row = 0; row < 3; ++row)
    for (int column = 0; column < 3; ++column) {
      p[2 * (row * 3 + column)] = 0.25 * column;  // x' = x / 2: d = x / 2
      p[2 * (row * 3 + column) + 1] = 0.5 * row;
    }
  p[2 * 8] = std::numeric_limits<double>::quiet_NaN();  // bottom-right
  const int width = 64, height = 64;
  std::vector<unsigned char> source(width * height, 100), output(width * height, 0);
  pyramid.WarpSourceImage(source.data(), output.data(), width, height, 1, width, 1);
  EXPECT_EQ(output[10 * width + 10], 100);
  EXPECT_EQ(output[50 * width + 50], 255);
  warp_image::Image image(width, height, 1, width);
  pyramid.GetDisparityImage(&image.header, 1);
  EXPECT_EQ(image.Row(50)[50], 0);
  EXPECT_EQ(image.Row(10)[63], 255);  // the largest mapped disparity
  EXPECT_EQ(image.Row(10)[0], 0);
}

TEST(RegistrationTranPyr, DisparityImageScalesIntoEveryChannelThroughTheStride) {
  // x' = 2 - 3x on a 3-pixel-wide image: d = x - x' = -2, 2, 6.
  BiTranPyr pyramid;
  pyramid.SetNumLevels(0);
  const double w = 3.0;
  double* p = pyramid.GetControlPoints(0);
  const double grid[8] = {2 / w, 0, 2 / w - 3, 0, 2 / w, 1, 2 / w - 3, 1};
  std::copy(grid, grid + 8, p);
  warp_image::Image image(3, 2, 3, warp_image::Image::PaddedStep(3, 3), 77);
  pyramid.GetDisparityImage(&image.header, 0);
  for (int y = 0; y < 2; ++y) {
    const unsigned char expected[3] = {0, 127, 255};
    for (int x = 0; x < 3; ++x)
      for (int c = 0; c < 3; ++c) EXPECT_EQ(image.Row(y)[3 * x + c], expected[x]) << x << "," << y;
    EXPECT_EQ(image.Row(y)[9], 77);  // padding untouched
  }
  // A uniform map (no range) renders as 0.
  Identity(pyramid);
  warp_image::Image flat(4, 4, 1, 4, 50);
  pyramid.GetDisparityImage(&flat.header, 0);
  for (unsigned char b : flat.data) EXPECT_EQ(b, 0);
}

TEST(RegistrationTranPyr, CopiesAreDeepAndBadLevelsChangeNothing) {
  auto original = std::make_unique<BiTranPyr>(100, 50);
  original->SetNumLevels(2);
  original->GetControlPoints(2)[3] = 0.75;
  BiTranPyr copy(*original);
  BiTranPyr assigned;
  assigned = *original;
  assigned = assigned;
  original.reset();
  EXPECT_EQ(copy.GetNumLevels(), 2);
  EXPECT_EQ(copy.GetControlPoints(2)[3], 0.75);
  EXPECT_EQ(assigned.GetControlPoints(2)[3], 0.75);
  EXPECT_NE(copy.GetControlPoints(2), assigned.GetControlPoints(2));

  double point[2] = {1, 1}, mapped[2] = {-3, -3};
  assigned.TransformPoint(point, mapped, 3);
  assigned.TransformPoint(point, mapped, -1);
  EXPECT_EQ(mapped[0], -3);
  EXPECT_EQ(assigned.GetControlPoints(3), nullptr);
  for (int bad : {-1, 15}) {
    assigned.SetNumLevels(bad);
    EXPECT_EQ(assigned.GetNumLevels(), 0);
    EXPECT_EQ(assigned.GetControlPoints(0), nullptr);
    std::vector<float> map(4, 8.0f);
    float minimum = 1, maximum = 1;
    assigned.GetDisparityMap(map.data(), 2, 2, 0, minimum, maximum);
    EXPECT_EQ(map[0], 8.0f);
    EXPECT_EQ(minimum, 1.0f);
  }
}

}  // namespace
