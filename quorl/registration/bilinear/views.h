#pragma once
// Smaller parameter sets over the same control grid, built as views that
// share an owning transformation's storage (CopyGridState):
// - the rigid view moves the four level-0 corners together;
// - the single-cell view exposes the four corners of one cell and scores the
//   cell with its neighbours.
#include "../common/mir_visibility.h"
#include "transformation.h"

namespace MIR MIR_HIDDEN {
namespace Bilinear {

// Rigid parameters (1-based): p[1], p[2] the shift of the corners' centroid
// from the image centre in 512 grid units (half the side); p[3] an angle in
// 0.05 rad; p[4] a scale term (s - 1) x 20 + 1. The plain build applies p[1]
// only; the rectified build applies p[1], p[2] and p[3] (turning about the
// centre) and reports p[3] as 0.
template <class Policy>
class BasicRigidTransformation : public BasicTransformation<Policy> {
  using Base = BasicTransformation<Policy>;

 public:
  explicit BasicRigidTransformation(int ownsStorage) : Base(ownsStorage), ownsStorage_(ownsStorage) {}
  int GetNumParams() const override { return 4; }
  void GetParams(double* p) const override;
  void GetGradient(double* g) const override;
  void SetParams(const double* p) override;

 private:
  int ownsStorage_;
};

// Single-cell parameters (1-based, eight): x and y of the active cell's TL,
// TR, BL, BR in quarter cells. The rectified build writes the x ones only.
template <class Policy>
class BasicLocalizedTransformation : public BasicTransformation<Policy> {
  using Base = BasicTransformation<Policy>;

 public:
  using Image = typename Base::Image;
  explicit BasicLocalizedTransformation(int ownsStorage) : Base(ownsStorage), ownsStorage_(ownsStorage) {}
  // Over the active cell and its up to eight neighbours; the penalty over all
  // points of the level.
  void Cost(const Image* fixed, const Image* moving) override;
  void CostAndGradient(const Image* fixed, const Image* moving) override;
  int GetNumParams() const override { return 8; }
  void GetParams(double* p) const override;
  void GetGradient(double* g) const override;
  void SetParams(const double* p) override;
  // Cell (column, row) of the current level; any pair outside selects (0, 0).
  virtual void SetActiveCell(int column, int row);
  int GetActiveColumn() const { return activeColumn_; }
  int GetActiveRow() const { return activeRow_; }

 private:
  typename Base::CellRange Region() const;
  void Corners(int* index) const;
  int ownsStorage_;
  int activeColumn_ = 0, activeRow_ = 0;
};

extern template class BasicRigidTransformation<PlainBuild>;
extern template class BasicRigidTransformation<RectifiedBuild>;
extern template class BasicLocalizedTransformation<PlainBuild>;
extern template class BasicLocalizedTransformation<RectifiedBuild>;

}  // namespace Bilinear
}  // namespace MIR
