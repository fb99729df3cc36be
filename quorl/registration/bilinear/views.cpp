#include "views.h"

#include <algorithm>
#include <cmath>

namespace MIR {
namespace Bilinear {

namespace {
constexpr double kCentre = 512.0;   // the image centre in grid units
constexpr double kShiftUnit = 512.0;
constexpr double kAngleUnit = 0.05;
}  // namespace

template <class Policy>
void BasicRigidTransformation<Policy>::GetParams(double* p) const {
  using AffPoint = BasicAffPoint<Policy>;
  using Vector = BasicVector<Policy>;
  const AffPoint* grid = this->grids_[0];
  const AffPoint* reference = this->referenceGrids_[0];
  AffPoint centroid;
  centroid.SetCentroid(4, grid);
  const AffPoint centre(kCentre, kCentre);
  const Vector shift(centroid - centre);
  const Vector u(reference[0] - centre), v(grid[0] - centroid);
  const double theta = u.SignedAngle(v);
  const double s = v.Length() / u.Length();
  p[1] = shift.x / kShiftUnit;
  p[2] = shift.y / kShiftUnit;
  p[3] = Policy::kRigidTurns ? 0.0 : theta * 20.0;
  p[4] = (s - 1.0) * 20.0 + 1.0;
}

template <class Policy>
void BasicRigidTransformation<Policy>::SetParams(const double* p) {
  BasicAffPoint<Policy>* grid = this->grids_[0];
  const BasicAffPoint<Policy>* reference = this->referenceGrids_[0];
  if constexpr (Policy::kRigidTurns) {
    const double tx = p[1] * kShiftUnit, ty = p[2] * kShiftUnit, theta = p[3] * kAngleUnit;
    const double c = std::cos(theta), s = std::sin(theta);
    for (int k = 0; k < 4; ++k) {
      const double ux = reference[k].x - kCentre, uy = reference[k].y - kCentre;
      grid[k].Set(kCentre + c * ux + s * uy + tx, kCentre - s * ux + c * uy + ty);
    }
  } else {
    for (int k = 0; k < 4; ++k) grid[k].Set(reference[k].x + p[1] * kShiftUnit, reference[k].y);
  }
}

template <class Policy>
void BasicRigidTransformation<Policy>::GetGradient(double* g) const {
  const double* dx = this->gradX_;
  const double* dy = this->gradY_;
  double sumX = 0.0, sumY = 0.0;
  for (int k = 0; k < 4; ++k) sumX += dx[k], sumY += dy[k];
  g[1] = -kShiftUnit * sumX;
  g[2] = g[3] = g[4] = 0.0;  // parameters the plain view never applies
  if constexpr (Policy::kRigidTurns) {
    // A turn by d theta moves corner k by (v.y, -v.x) d theta, v taken from
    // the centroid (which the turn leaves in place). The scale is not applied.
    BasicAffPoint<Policy> centroid;
    centroid.SetCentroid(4, this->grids_[0]);
    double turn = 0.0;
    for (int k = 0; k < 4; ++k) {
      const double vx = this->grids_[0][k].x - centroid.x, vy = this->grids_[0][k].y - centroid.y;
      turn += vy * dx[k] - vx * dy[k];
    }
    g[2] = -kShiftUnit * sumY;
    g[3] = -kAngleUnit * turn;
  }
}

template <class Policy>
typename BasicTransformation<Policy>::CellRange BasicLocalizedTransformation<Policy>::Region() const {
  const int last = this->columns_ - 2;
  return {std::max(activeColumn_ - 1, 0), std::min(activeColumn_ + 1, last), std::max(activeRow_ - 1, 0),
          std::min(activeRow_ + 1, this->rows_ - 2)};
}

template <class Policy>
void BasicLocalizedTransformation<Policy>::Corners(int* index) const {
  const int n = this->columns_;
  const int t = activeRow_ * n + activeColumn_;
  index[0] = t, index[1] = t + 1, index[2] = t + n, index[3] = t + n + 1;
}

template <class Policy>
void BasicLocalizedTransformation<Policy>::Cost(const Image* fixed, const Image* moving) {
  this->CostOver(fixed, moving, Region());
}

template <class Policy>
void BasicLocalizedTransformation<Policy>::CostAndGradient(const Image* fixed, const Image* moving) {
  this->CostAndGradientOver(fixed, moving, Region());
}

template <class Policy>
void BasicLocalizedTransformation<Policy>::SetActiveCell(int column, int row) {
  const bool inside = column >= 0 && column <= this->columns_ - 2 && row >= 0 && row <= this->rows_ - 2;
  activeColumn_ = inside ? column : 0;
  activeRow_ = inside ? row : 0;
}

template <class Policy>
void BasicLocalizedTransformation<Policy>::GetParams(double* p) const {
  int index[4];
  Corners(index);
  const double scale = this->ParamScale();
  for (int k = 0; k < 4; ++k) {
    p[2 * k + 1] = this->grids_[this->level_][index[k]].x * scale;
    p[2 * k + 2] = this->grids_[this->level_][index[k]].y * scale;
  }
}

template <class Policy>
void BasicLocalizedTransformation<Policy>::SetParams(const double* p) {
  int index[4];
  Corners(index);
  const double unit = 1.0 / this->ParamScale();
  for (int k = 0; k < 4; ++k) {
    this->grids_[this->level_][index[k]].x = p[2 * k + 1] * unit;
    if constexpr (Policy::kMovesY) this->grids_[this->level_][index[k]].y = p[2 * k + 2] * unit;
  }
}

template <class Policy>
void BasicLocalizedTransformation<Policy>::GetGradient(double* g) const {
  int index[4];
  Corners(index);
  const double unit = 1.0 / this->ParamScale();
  for (int k = 0; k < 4; ++k) {
    g[2 * k + 1] = -unit * this->gradX_[index[k]];
    g[2 * k + 2] = Policy::kMovesY ? -unit * this->gradY_[index[k]] : 0.0;
  }
}

template class BasicRigidTransformation<PlainBuild>;
template class BasicRigidTransformation<RectifiedBuild>;
template class BasicLocalizedTransformation<PlainBuild>;
template class BasicLocalizedTransformation<RectifiedBuild>;

}  // namespace Bilinear
}  // namespace MIR
