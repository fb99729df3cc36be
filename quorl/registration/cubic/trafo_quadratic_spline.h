#pragma once
// Free-form deformation by a uniform quadratic B-spline: level l has
// n = 2^l + 2 control points a side, point (r, c) at ((c - 0.5) / 2^l,
// (r - 0.5) / 2^l) in the identity. Values are in image widths, parameters in
// quarter cells (p = value x 4 x 2^l), x of point k at p[2k + 1], y at
// p[2k + 2].
#include "../common/mir_visibility.h"
#include "spline_grid.h"

#include <vector>

namespace MIR MIR_HIDDEN {
namespace Cubic {

// Bezier subdivision of one cubic on 3 x 2^count + 1 values (control values
// at 0, 2^count, 2^(count + 1), 3 x 2^count); v[3k] is then the curve at
// k / 2^count. Returns 3 x 2^count.
int SubdivideCubicProfile(double* values, int count);

class TrafoQuadraticSpline : public SplineGrid {
 public:
  // The second argument is not used.
  TrafoQuadraticSpline(int maxLevel, int);

  // This model maps no grid and no single point: outputs untouched.
  void TransformGrid(double*, double*, int) override {}
  void TransformPoint(double, double, double*, double*) override {}
  // The pixel weights for the current level and the source's side.
  void PrepareOptimization() override;

  void ComputeCost(const unsigned short* src, const unsigned short* ref, int background, int log2Size);
  void ComputeCostAndGradient(const unsigned short* src, const unsigned short* ref, int background, int log2Size);
  // Weights of the 3 x 3 points for every pixel offset of a cell, for cells of
  // 2^(log2Size - level) <= 128 pixels a side.
  void BuildPixelWeights(int log2Size);
  // Floored bilinear samples, background outside; weights from the basis
  // tables, so any cell size up to the full side.
  void RenderWarped(const unsigned short* src, unsigned short* out, int background, int log2Size);
  // Mapped x and y x 1024 (pixels) of every pixel corner, (2^log2Size + 1)^2
  // nodes, row stride 2^log2Size + 1.
  void ComputeFixedPointMap(int* mapX, int* mapY, int log2Size);

  static int Side(int l) { return (1 << l) + 2; }

  double cellCache[72] = {};
  // 1025 x 1025 tables of N0(s) N0(t), N0(s) N1(t), N1(s) N1(t), s = row /
  // 1024, t = column / 1024; built once per process and shared.
  const double* basis00 = nullptr;
  const double* basis01 = nullptr;
  const double* basis11 = nullptr;
  // 129 x 129 records of 9 weights, for (weightsLevel, weightsLog2Size).
  std::vector<double> pixelWeights;
  int weightsLevel = -1;
  int weightsLog2Size = -1;

 protected:
  void ComputeOnImages(bool withGradient) override;

 private:
  // Walks the reference pixels with their mapped positions and weights; false
  // when the level cannot be walked on this side.
  template <class CellBegin, class Pixel, class CellEnd>
  bool Walk(int log2Size, bool fromTables, CellBegin&& begin, Pixel&& pixel, CellEnd&& end);
  template <bool Gradient>
  void Measure(const unsigned short* src, const unsigned short* ref, int background, int log2Size);
};

}  // namespace Cubic
}  // namespace MIR
