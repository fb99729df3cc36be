#pragma once
// Free-form deformation by a uniform cubic B-spline over a control grid that
// doubles level by level: level l has n = 2^l + 3 points a side, point (r, c)
// standing at ((c - 1) / 2^l, (r - 1) / 2^l) in the identity, one cell beyond
// the image on every side. Control points hold mapped positions in image
// widths; the optimiser sees them in quarter cells (p = value x 4 x 2^l),
// x of point k at p[2k + 1] and y at p[2k + 2].
#include "../common/mir_visibility.h"
#include "transformation.h"

#include <vector>

namespace MIR MIR_HIDDEN {
namespace Cubic {

class TrafoCubicSpline : public Transformation {
 public:
  explicit TrafoCubicSpline(int maxLevel);

  void ResetLevel() override { level = 0; }
  void IncreaseLevel() override;
  void DecreaseLevel() override;
  int GetLevel() override { return level; }
  // Clamped to 0..maxLevel.
  void SetLevel(int l) override;
  int GetNumParams() override;
  // Exact subdivision onto the next level, whose anchors become its points.
  void RefineGrid() override;
  void SetNativeParams(const double*) override {}
  // The level-0 points (and anchors) mapped through other; level 0.
  void InitFrom(Transformation* other) override;
  void GetNativeParams(double*) override {}
  // Mapped pixel positions of every pixel of a 2^log2Size side, row-major.
  void TransformGrid(double* xs, double* ys, int log2Size) override;
  // One point in image widths through the current level (cell clamped).
  void TransformPoint(double x, double y, double* xOut, double* yOut) override;
  void PrepareOptimization() override {}
  void SetParams(const double* p) override;
  void GetParams(double* p) override;
  double GetCost() override { return cost; }
  void GetGradient(double* g) override;
  void CostAndGradient(const double* p, double* g, double* costOut) override;
  void Cost(const double* p, double* costOut) override;

  void SetControlPoints(const double* xs, const double* ys, int l);
  void GetControlPoints(double* xs, double* ys, int l);
  // The source warped onto the reference grid, bilinear, floored;
  // background where the sample's corner is the last row or column or beyond.
  void RenderWarped(const unsigned short* src, unsigned short* dst, int background, int log2Size);
  // Uniform noise of at most a quarter of 1/n on every point of the level.
  void PerturbControlPoints();
  // NCC of the reference and the bilinear source samples, less the penalty.
  void ComputeCost(const unsigned short* src, const unsigned short* ref, int background, int log2Size);
  void ComputeCostAndGradient(const unsigned short* src, const unsigned short* ref, int background, int log2Size);
  void AddDisplacementPenalty();
  void AddDisplacementPenaltyAndGradient();

  // Points a side at level l.
  static int Side(int l) { return (1 << l) + 3; }

  std::vector<std::vector<double>> controlX, controlY, anchorX, anchorY, refineX, refineY;
  double cellCache[96] = {};
  std::vector<double> sumDxSource, sumDxReference, sumDx, sumDySource, sumDyReference, sumDy;
  std::vector<double> gradX, gradY;

 protected:
  // True when the current level can be walked on a 2^log2Size side.
  bool Walkable(int log2Size) const { return log2Size >= level && log2Size >= 0 && log2Size <= 30; }
  // No similarity: cost -99 and a zero gradient.
  void SetNoSimilarity(bool withGradient);
  // cost and gradX, gradY from the NCC sums (0 and zero without variance).
  void FinishNcc(double count, double sT, double sI, double sTT, double sII, double sTI, int S, bool withGradient);
};

}  // namespace Cubic
}  // namespace MIR
