#pragma once
// The bilinear source sample of the spline models, in double precision.
#include "../common/mir_visibility.h"

#include <cstddef>

namespace MIR MIR_HIDDEN {
namespace Cubic {

// Bilinear sample of a 2^log2Size square at (px, py) with its per-pixel
// slopes; outside (the corner on the last row or column, beyond, or not a
// number) the background with zero slopes.
struct BilinearSample {
  double value, dx, dy;
};

inline BilinearSample SampleBilinear(const unsigned short* src, int S, double px, double py, int background) {
  if (!(px >= 0.0 && px < S - 1.0 && py >= 0.0 && py < S - 1.0)) return {static_cast<double>(background), 0.0, 0.0};
  const int ix = static_cast<int>(px), iy = static_cast<int>(py);
  const double fx = px - ix, fy = py - iy;
  const unsigned short* p = src + static_cast<size_t>(iy) * S + ix;
  const double s00 = p[0], s10 = p[1], s01 = p[S], s11 = p[S + 1];
  const double top = s00 + (s10 - s00) * fx, bottom = s01 + (s11 - s01) * fx;
  return {top + (bottom - top) * fy, (s10 - s00) * (1.0 - fy) + (s11 - s01) * fy, bottom - top};
}

}  // namespace Cubic
}  // namespace MIR
