#pragma once
// Free-form deformation by a uniform cubic B-spline over a control grid that
// doubles level by level: level l has n = 2^l + 3 points a side, point (r, c)
// standing at ((c - 1) / 2^l, (r - 1) / 2^l) in the identity, one cell beyond
// the image on every side. Control points hold mapped positions in image
// widths; the optimiser sees them in quarter cells (p = value x 4 x 2^l),
// x of point k at p[2k + 1] and y at p[2k + 2].
#include "../common/mir_visibility.h"
#include "spline_grid.h"
#include "spline_walk.h"

namespace MIR MIR_HIDDEN {
namespace Cubic {

class TrafoCubicSpline : public SplineGrid {
 public:
  explicit TrafoCubicSpline(int maxLevel);

  // Mapped pixel positions of every pixel of a 2^log2Size side, row-major.
  void TransformGrid(double* xs, double* ys, int log2Size) override;
  // One point in image widths through the current level (cell clamped).
  void TransformPoint(double x, double y, double* xOut, double* yOut) override;
  void PrepareOptimization() override {}

  // The source warped onto the reference grid, bilinear, floored;
  // background where the sample's corner is the last row or column or beyond.
  void RenderWarped(const unsigned short* src, unsigned short* dst, int background, int log2Size);
  // NCC of the reference and the bilinear source samples, less the penalty.
  void ComputeCost(const unsigned short* src, const unsigned short* ref, int background, int log2Size);
  void ComputeCostAndGradient(const unsigned short* src, const unsigned short* ref, int background, int log2Size);

  // Points a side at level l.
  static int Side(int l) { return (1 << l) + 3; }

  double cellCache[96] = {};

 protected:
  // True when the current level can be walked on a 2^log2Size side.
  bool Walkable(int log2Size) const { return log2Size >= level && log2Size >= 0 && log2Size <= 30; }
  void ComputeOnImages(bool withGradient) override;
  // The cell's 4 x 4 points into and out of cellCache (16 a + k for sum a
  // of point k = 4q + m, row q and column m of the block).
  void LoadCell(int i, int j);
  void StoreCell(int i, int j);
  // The pixel walk of the current level; with Gradient each cell's sums are
  // gathered into cellCache around its pixels.
  template <bool Gradient, class Pixel>
  void WalkLevel(int log2Size, Pixel&& pixel) {
    WalkCubicSpline(
        controlX[level].data(), controlY[level].data(), level, log2Size,
        [&](int i, int j) {
          if constexpr (Gradient) LoadCell(i, j);
        },
        pixel,
        [&](int i, int j) {
          if constexpr (Gradient) StoreCell(i, j);
        });
  }

 private:
  template <bool Gradient>
  void Measure(const unsigned short* src, const unsigned short* ref, int background, int log2Size);
};

}  // namespace Cubic
}  // namespace MIR
