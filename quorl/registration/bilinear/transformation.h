#pragma once
// The control-grid transformation of the bilinear engines: a square grid of
// 2 x 2 up to 17 x 17 points over the image, one bilinear map per cell, scored
// by the normalised cross-correlation of the fixed image with the moving image
// sampled through it, less a penalty on points that move more than a quarter
// cell from where their level began.
//
// Units: a control point holds a position in the moving image in grid units,
// 1/1024 of the image side. Optimiser parameters are quarter cells of the
// current level. Sample positions are fixed point in 1/1024 pixel.
#include "../common/mir_visibility.h"
#include "build_policy.h"
#include "geometry.h"
#include "image.h"

namespace MIR MIR_HIDDEN {
namespace Bilinear {

template <class Policy>
class BasicTransformation {
 public:
  using Image = BasicImage<Policy>;
  using AffPoint = BasicAffPoint<Policy>;
  static constexpr int kMaxLevel = 4;
  static constexpr int kMaxPoints = 289;  // 17 x 17

  // Non-zero: owns grids of every level and the working arrays. Zero: a view
  // that gets an owner's storage through CopyGridState and never frees it.
  explicit BasicTransformation(int ownsStorage);
  virtual ~BasicTransformation();
  BasicTransformation(const BasicTransformation&) = delete;
  BasicTransformation& operator=(const BasicTransformation&) = delete;

  // NCC over every cell of the current level, minus the penalty, into cost.
  virtual void Cost(const Image* fixed, const Image* moving);
  // Cost, and d cost / d point (grid units) of every point of the level.
  virtual void CostAndGradient(const Image* fixed, const Image* moving);
  virtual int GetNumParams() const;
  virtual void GetParams(double* p) const;
  // The gradient of minus the cost with respect to the parameters.
  virtual void GetGradient(double* g) const;
  virtual void SetParams(const double* p);

  // False when an owning transformation could not get its storage.
  bool HasStorage() const { return grids_[0] != nullptr; }
  double GetCost() const { return cost_; }
  int GetLevel() const { return level_; }
  void ResetGrid();
  void IncreaseLevel();
  void DecreaseLevel();
  void RefineGrid();
  void CopyGridState(const BasicTransformation& from);
  void AddDisplacementPenalty();
  void AddDisplacementPenaltyAndGradient();
  // The warped source at the current level into output (rounded bytes).
  void RenderWarp(const Image* source, Image* output) const;
  // Point transform of one level for images of the given side, in pixels of
  // that side.
  void SetupPointTransform(unsigned level, double side);
  void TransformPoint(double x, double y, double* outX, double* outY) const;
  void TransformPoint(float x, float y, float* outX, float* outY) const;
  // Columns and rows of that level, and (when out is not null) every point
  // as (x, y) fractions of the image side.
  void GetControlPoints(double* out, int level, int* columns, int* rows) const;
  void PerturbGrid();
  AffPoint* GetFinestGrid(int* count) const;

  int GetColumns() const { return columns_; }
  int GetRows() const { return rows_; }
  int GetPointCount() const { return pointCount_; }
  AffPoint* GetGrid(int level) const { return grids_[level]; }
  AffPoint* GetReferenceGrid(int level) const { return referenceGrids_[level]; }
  double GetGradientX(int k) const { return gradX_[k]; }
  double GetGradientY(int k) const { return gradY_[k]; }

 protected:
  // Cells [c0, c1] x [r0, r1] of the current level, columns outer.
  struct CellRange {
    int c0, c1, r0, r1;
  };
  void CostOver(const Image* fixed, const Image* moving, CellRange cells);
  void CostAndGradientOver(const Image* fixed, const Image* moving, CellRange cells);
  CellRange AllCells() const { return {0, columns_ - 2, 0, rows_ - 2}; }
  // Quarter cells of the current level per grid unit.
  double ParamScale() const { return 4.0 * (columns_ - 1) / 1024.0; }

  int maxLevel_ = kMaxLevel;
  int level_ = 0;
  int columns_ = 2, rows_ = 2;
  int pointCount_ = 4;
  AffPoint* grids_[kMaxLevel + 1] = {};
  AffPoint* referenceGrids_[kMaxLevel + 1] = {};
  double* accumulators_[6] = {};
  double cost_ = 0.0;
  double* gradX_ = nullptr;
  double* gradY_ = nullptr;

 private:
  void SetLevel(int level);
  void FreeStorage();
  template <bool kGradient>
  void Accumulate(const Image* fixed, const Image* moving, CellRange cells, double sums[6]);

  int ownsStorage_;
  // Point transform state.
  int ptColumns_ = 0, ptRows_ = 0;
  double ptCellX_ = 0.0, ptCellY_ = 0.0;
  double ptInverseX_ = 0.0, ptInverseY_ = 0.0;
  double ptNormaliser_ = 1.0;
  const AffPoint* ptGrid_ = nullptr;
  double ptSide_ = 0.0;
};

extern template class BasicTransformation<PlainBuild>;
extern template class BasicTransformation<RectifiedBuild>;

}  // namespace Bilinear
}  // namespace MIR
