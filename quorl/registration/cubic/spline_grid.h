#pragma once
// What the B-spline deformation models share: control grids per level that
// start as their own identity, parameters in quarter cells (p = value x 4 x
// 2^l, x of point k at p[2k + 1], y at p[2k + 2]), refinement by the model's
// subdivision rule, the displacement penalty and the NCC with its per-point
// gradient sums. The models differ in their basis (so in the points a side,
// where point 0 stands and the refinement rule) and in how they sample.
#include "../common/mir_visibility.h"
#include "ncc_gradient.h"
#include "transformation.h"

#include <cstddef>
#include <vector>

namespace MIR MIR_HIDDEN {
namespace Cubic {

class SplineGrid : public Transformation {
 public:
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
  void SetParams(const double* p) override;
  void GetParams(double* p) override;
  double GetCost() override { return cost; }
  void GetGradient(double* g) override;
  // Both write nothing when the images lack what the model samples.
  void CostAndGradient(const double* p, double* g, double* costOut) override;
  void Cost(const double* p, double* costOut) override;

  void SetControlPoints(const double* xs, const double* ys, int l);
  void GetControlPoints(double* xs, double* ys, int l);
  // Uniform noise of at most a quarter of 1/n on every point of the level.
  void PerturbControlPoints();
  void AddDisplacementPenalty();
  void AddDisplacementPenaltyAndGradient();

  std::vector<std::vector<double>> controlX, controlY, anchorX, anchorY, refineX, refineY;
  std::vector<double> sumDxSource, sumDxReference, sumDx, sumDySource, sumDyReference, sumDy;
  std::vector<double> gradX, gradY;

 protected:
  // One line of count points of a level refined onto the next level's line.
  using RefineLine = void (*)(const double* in, std::ptrdiff_t inStride, double* out, std::ptrdiff_t outStride,
                              int count);
  // Level l has 2^l + extra points a side; point (r, c) stands at
  // ((c - offset) / 2^l, (r - offset) / 2^l) in the identity.
  SplineGrid(int maxLevel, int extra, double offset, RefineLine refine);

  int PointsPerSide(int l) const { return (1 << l) + extra_; }
  // Whether the source and reference carry what the costs read.
  virtual bool HasImageData() const;
  // The cost, and with withGradient gradX and gradY, on the stored images.
  virtual void ComputeOnImages(bool withGradient) = 0;
  // No similarity: cost -99 and a zero gradient.
  void SetNoSimilarity(bool withGradient);
  // cost and, with withGradient, gradX and gradY from the NCC sums and the
  // six per-point sums (0 and zero without variance); S pixels a side.
  void FinishNcc(const NccSums& sums, int S, bool withGradient);
  // FinishNcc, then the penalty (with its gradient when withGradient).
  void FinishCost(const NccSums& sums, int S, bool withGradient);
  // The six per-point sums of the cell's points are gathered into
  // cache[points x a + k] before the cell's pixels and written back after
  // them; point k of the cell stands at index(k) in the level's grid.
  void ClearGradientSums();
  template <class Index>
  void LoadCellSums(double* cache, int points, Index&& index) {
    for (int a = 0; a < 6; ++a)
      for (int k = 0; k < points; ++k) cache[points * a + k] = (*GradientSums()[a])[index(k)];
  }
  template <class Index>
  void StoreCellSums(const double* cache, int points, Index&& index) {
    for (int a = 0; a < 6; ++a)
      for (int k = 0; k < points; ++k) (*GradientSums()[a])[index(k)] = cache[points * a + k];
  }
  // One pixel's share of point k: wx, wy the sample's x and y derivative
  // times the point's weight, I the sample, T the reference pixel.
  static void AddToCellSums(double* cache, int points, int k, double wx, double wy, double I, double T) {
    cache[k] += wx * I;
    cache[points + k] += wx * T;
    cache[2 * points + k] += wx;
    cache[3 * points + k] += wy * I;
    cache[4 * points + k] += wy * T;
    cache[5 * points + k] += wy;
  }

 private:
  struct SumArrays {
    std::vector<double>* a[6];
    std::vector<double>* operator[](int k) const { return a[k]; }
  };
  SumArrays GradientSums() {
    return {{&sumDxSource, &sumDxReference, &sumDx, &sumDySource, &sumDyReference, &sumDy}};
  }

  // The penalty off cost; its derivative off gx, gy when given.
  void SubtractPenalty(double* gx, double* gy);

  int extra_;
  double offset_;
  RefineLine refine_;
};

}  // namespace Cubic
}  // namespace MIR
