// The undistortion map's vector road against its entry-by-entry reference:
// every entry must carry the same bits (the resamplers and the stored maps
// depend on each truncated weight).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "lens_model.h"

namespace {

struct LensCase {
  const char* name;
  double fx, fy, u0, v0;
  double d[5];
};

const LensCase kLenses[] = {
    {"barrel", 520.0, 515.0, 318.7, 241.3, {-0.32, 0.12, 0.0011, -0.0007, 0.01}},
    {"pincushion", 410.0, 430.0, 100.2, 77.9, {0.45, 0.3, -0.004, 0.002, 0.2}},
    {"strong_barrel", 150.0, 160.0, 60.5, 40.5, {-0.9, 0.6, 0.01, 0.02, -0.2}},
    {"no_k3", 480.0, 470.0, 33.3, 12.1, {-0.41, 0.2, 0.003, -0.002, 0.0}},
    {"negative_zero_k3", 480.0, 470.0, 33.3, 12.1, {0.3, -0.2, -0.003, 0.002, -0.0}},
    {"no_distortion", 300.0, 300.0, 49.5, 29.5, {0, 0, 0, 0, 0}},
    {"zero_focal", 0.0, 300.0, 10.0, 10.0, {-0.2, 0, 0, 0, 0}},  // infinite and NaN positions
    {"huge_k", 200.0, 200.0, 30.0, 20.0, {1e30, 0, 0, 0, 0}},
};

template <class T>
void ExpectSameMap(const LensCase& lens, int W, int H, int channels) {
  const T d[5] = {T(lens.d[0]), T(lens.d[1]), T(lens.d[2]), T(lens.d[3]), T(lens.d[4])};
  const size_t n = static_cast<size_t>(W) * H * 5;
  std::vector<int> fast(n, -7), reference(n, -9);
  quorl::lens::BuildUndistortionMap<T>(T(lens.fx), T(lens.fy), T(lens.u0), T(lens.v0), d, W, H, channels, fast.data());
  quorl::lens::BuildUndistortionMapScalar<T>(T(lens.fx), T(lens.fy), T(lens.u0), T(lens.v0), d, W, H, channels,
                                             reference.data());
  size_t differing = 0, first = n;
  for (size_t i = 0; i < n; ++i)
    if (fast[i] != reference[i]) {
      ++differing;
      if (first == n) first = i;
    }
  EXPECT_EQ(differing, 0u) << "first at entry " << first / 5 << " field " << first % 5;
}

// Both vector roads: AVX2 where the processor has it, and SSE2.
class UndistortionMapRows : public ::testing::TestWithParam<LensCase> {
protected:
  void TearDown() override { quorl::lens::Sse2RowsForTesting() = false; }
};

TEST_P(UndistortionMapRows, FloatAndDoubleMatchTheReferenceBitForBit) {
  for (bool sse2Only : {false, true}) {
    quorl::lens::Sse2RowsForTesting() = sse2Only;
    // Widths below, at and between the vector widths, so the scalar tail runs.
    for (int W : {1, 3, 4, 5, 7, 8, 9, 15, 17, 61, 100}) {
      SCOPED_TRACE(::testing::Message() << "width " << W << (sse2Only ? ", SSE2" : ", default road"));
      ExpectSameMap<float>(GetParam(), W, 23, 3);
      ExpectSameMap<double>(GetParam(), W, 23, 1);
      ExpectSameMap<float>(GetParam(), W, 5, 1);
      ExpectSameMap<double>(GetParam(), W, 5, 3);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Lenses, UndistortionMapRows, ::testing::ValuesIn(kLenses),
                         [](const ::testing::TestParamInfo<LensCase>& info) { return info.param.name; });

// A full-size frame, where offsets need more than 24 bits of a float.
TEST(UndistortionMapRows, LargeFrameOffsets) {
  const LensCase lens{"wide", 2400.0, 2400.0, 3000.5, 2000.5, {-0.05, 0.01, 0, 0, 0}};
  for (bool sse2Only : {false, true}) {
    quorl::lens::Sse2RowsForTesting() = sse2Only;
    ExpectSameMap<float>(lens, 6000, 8, 3);
    ExpectSameMap<double>(lens, 6000, 8, 3);
  }
  quorl::lens::Sse2RowsForTesting() = false;
}

}  // namespace
