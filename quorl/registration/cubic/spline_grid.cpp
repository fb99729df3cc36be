#include "spline_grid.h"

#include "displacement_penalty.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace MIR {
namespace Cubic {

SplineGrid::SplineGrid(int maxLevel_, int extra, double offset, RefineLine refine)
    : Transformation(maxLevel_ < 0 ? 0 : maxLevel_), extra_(extra), offset_(offset), refine_(refine) {
  const int levels = maxLevel + 1;
  for (auto* a : {&controlX, &controlY, &anchorX, &anchorY, &refineX, &refineY}) a->resize(levels);
  for (int l = 0; l < levels; ++l) {
    const int n = PointsPerSide(l);
    controlX[l].resize(static_cast<size_t>(n) * n);
    controlY[l].resize(static_cast<size_t>(n) * n);
    refineX[l].resize(static_cast<size_t>(n) * PointsPerSide(l + 1));
    refineY[l].resize(static_cast<size_t>(n) * PointsPerSide(l + 1));
    // Every level starts as its own identity, so a level selected before it
    // was refined into still maps sensibly.
    for (int r = 0; r < n; ++r)
      for (int c = 0; c < n; ++c) {
        controlX[l][r * n + c] = std::ldexp(c - offset_, -l);
        controlY[l][r * n + c] = std::ldexp(r - offset_, -l);
      }
    anchorX[l] = controlX[l];
    anchorY[l] = controlY[l];
  }
  const size_t finest = static_cast<size_t>(PointsPerSide(maxLevel)) * PointsPerSide(maxLevel);
  for (auto* a : {&sumDxSource, &sumDxReference, &sumDx, &sumDySource, &sumDyReference, &sumDy, &gradX, &gradY})
    a->assign(finest, 0.0);
}

void SplineGrid::IncreaseLevel() {
  if (level < maxLevel) ++level;
}

void SplineGrid::DecreaseLevel() {
  if (level > 0) --level;
}

void SplineGrid::SetLevel(int l) { level = std::clamp(l, 0, maxLevel); }

int SplineGrid::GetNumParams() { return 2 * PointsPerSide(level) * PointsPerSide(level); }

void SplineGrid::RefineGrid() {
  if (level >= maxLevel) return;
  const int L = level, N = PointsPerSide(L), M = PointsPerSide(L + 1);
  // Rows into the scratch grid, then its columns into the next level.
  for (int pass = 0; pass < 2; ++pass) {
    const std::vector<double>& from = pass == 0 ? controlX[L] : controlY[L];
    std::vector<double>& scratch = pass == 0 ? refineX[L] : refineY[L];
    std::vector<double>& to = pass == 0 ? controlX[L + 1] : controlY[L + 1];
    for (int r = 0; r < N; ++r) refine_(&from[r * N], 1, &scratch[r * M], 1, N);
    for (int c = 0; c < M; ++c) refine_(&scratch[c], M, &to[c], M, N);
  }
  level = L + 1;
  anchorX[level] = controlX[level];
  anchorY[level] = controlY[level];
}

void SplineGrid::InitFrom(Transformation* other) {
  if (!other) return;
  // The level-0 nodes are mapped from where the identity puts them, not
  // from where an earlier match left them, so that initialising twice gives
  // the same grid.
  const int n = PointsPerSide(0);
  for (int k = 0; k < n * n; ++k) {
    const double nodeX = k % n - offset_, nodeY = k / n - offset_;
    double x = nodeX, y = nodeY;
    other->TransformPoint(nodeX, nodeY, &x, &y);
    controlX[0][k] = anchorX[0][k] = x;
    controlY[0][k] = anchorY[0][k] = y;
  }
  // A second match starts again from the coarse grid.
  level = 0;
}

void SplineGrid::SetParams(const double* p) {
  const int n = PointsPerSide(level);
  const double unit = 4.0 * (1 << level);
  for (int k = 0; k < n * n; ++k) {
    controlX[level][k] = p[2 * k + 1] / unit;
    controlY[level][k] = p[2 * k + 2] / unit;
  }
}

void SplineGrid::GetParams(double* p) {
  const int n = PointsPerSide(level);
  const double unit = 4.0 * (1 << level);
  for (int k = 0; k < n * n; ++k) {
    p[2 * k + 1] = controlX[level][k] * unit;
    p[2 * k + 2] = controlY[level][k] * unit;
  }
}

void SplineGrid::GetGradient(double* g) {
  const int n = PointsPerSide(level);
  const double unit = 4.0 * (1 << level);
  for (int k = 0; k < n * n; ++k) {
    g[2 * k + 1] = -gradX[k] / unit;
    g[2 * k + 2] = -gradY[k] / unit;
  }
}

bool SplineGrid::HasImageData() const { return source && reference && source->pixels && reference->pixels; }

void SplineGrid::Cost(const double* p, double* costOut) {
  if (!HasImageData()) return;
  SetParams(p);
  ComputeOnImages(false);
  *costOut = GetCost();
}

void SplineGrid::CostAndGradient(const double* p, double* g, double* costOut) {
  if (!HasImageData()) return;
  SetParams(p);
  ComputeOnImages(true);
  GetGradient(g);
  *costOut = GetCost();
}

void SplineGrid::SetControlPoints(const double* xs, const double* ys, int l) {
  if (l < 0 || l > maxLevel) return;
  std::copy(xs, xs + controlX[l].size(), controlX[l].begin());
  std::copy(ys, ys + controlY[l].size(), controlY[l].begin());
}

void SplineGrid::GetControlPoints(double* xs, double* ys, int l) {
  if (l < 0 || l > maxLevel) return;
  std::copy(controlX[l].begin(), controlX[l].end(), xs);
  std::copy(controlY[l].begin(), controlY[l].end(), ys);
}

void SplineGrid::PerturbControlPoints() {
  const int n = PointsPerSide(level);
  // Columns outer, x drawn before y.
  for (int c = 0; c < n; ++c)
    for (int r = 0; r < n; ++r) {
      const double d1 = std::rand(), d2 = std::rand();
      controlX[level][r * n + c] += (0.5 - d1 / (RAND_MAX + 1.0)) * 0.5 / n;
      controlY[level][r * n + c] += (0.5 - d2 / (RAND_MAX + 1.0)) * 0.5 / n;
    }
}

void SplineGrid::SetNoSimilarity(bool withGradient) {
  cost = kNoSimilarity;
  if (withGradient) {
    std::fill(gradX.begin(), gradX.end(), 0.0);
    std::fill(gradY.begin(), gradY.end(), 0.0);
  }
}

void SplineGrid::FinishNcc(const NccSums& sums, int S, bool withGradient) {
  const int n = PointsPerSide(level);
  cost = Cubic::FinishNcc(sums, n * n, sumDxSource.data(), sumDxReference.data(), sumDx.data(), sumDySource.data(),
                          sumDyReference.data(), sumDy.data(), S, withGradient ? gradX.data() : nullptr,
                          gradY.data());
}

void SplineGrid::FinishCost(const NccSums& sums, int S, bool withGradient) {
  FinishNcc(sums, S, withGradient);
  if (withGradient)
    AddDisplacementPenaltyAndGradient();
  else
    AddDisplacementPenalty();
}

void SplineGrid::ClearGradientSums() {
  const int n = PointsPerSide(level);
  for (auto* a : GradientSums().a) std::fill(a->begin(), a->begin() + static_cast<size_t>(n) * n, 0.0);
}

void SplineGrid::AddDisplacementPenalty() { SubtractPenalty(nullptr, nullptr); }

void SplineGrid::AddDisplacementPenaltyAndGradient() { SubtractPenalty(gradX.data(), gradY.data()); }

void SplineGrid::SubtractPenalty(double* gx, double* gy) {
  const int n = PointsPerSide(level);
  cost -= DisplacementPenalty(level, n * n, controlX[level].data(), controlY[level].data(), anchorX[level].data(),
                              anchorY[level].data(), gx, gy);
}

}  // namespace Cubic
}  // namespace MIR
