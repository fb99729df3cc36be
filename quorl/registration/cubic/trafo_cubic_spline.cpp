#include "trafo_cubic_spline.h"

#include "bilinear_sample.h"
#include "displacement_penalty.h"
#include "ncc_gradient.h"
#include "spline_walk.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace MIR {
namespace Cubic {

TrafoCubicSpline::TrafoCubicSpline(int maxLevel_) : Transformation(maxLevel_ < 0 ? 0 : maxLevel_) {
  const int levels = maxLevel + 1;
  for (auto* a : {&controlX, &controlY, &anchorX, &anchorY, &refineX, &refineY}) a->resize(levels);
  for (int l = 0; l < levels; ++l) {
    const int n = Side(l);
    controlX[l].resize(static_cast<size_t>(n) * n);
    controlY[l].resize(static_cast<size_t>(n) * n);
    refineX[l].resize(static_cast<size_t>(n) * Side(l + 1));
    refineY[l].resize(static_cast<size_t>(n) * Side(l + 1));
    // Every level starts as its own identity, so a level selected before it
    // was refined into still maps sensibly.
    for (int r = 0; r < n; ++r)
      for (int c = 0; c < n; ++c) {
        controlX[l][r * n + c] = std::ldexp(c - 1.0, -l);
        controlY[l][r * n + c] = std::ldexp(r - 1.0, -l);
      }
    anchorX[l] = controlX[l];
    anchorY[l] = controlY[l];
  }
  const size_t finest = static_cast<size_t>(Side(maxLevel)) * Side(maxLevel);
  for (auto* a : {&sumDxSource, &sumDxReference, &sumDx, &sumDySource, &sumDyReference, &sumDy, &gradX, &gradY})
    a->assign(finest, 0.0);
}

void TrafoCubicSpline::IncreaseLevel() {
  if (level < maxLevel) ++level;
}

void TrafoCubicSpline::DecreaseLevel() {
  if (level > 0) --level;
}

void TrafoCubicSpline::SetLevel(int l) { level = std::clamp(l, 0, maxLevel); }

int TrafoCubicSpline::GetNumParams() { return 2 * Side(level) * Side(level); }

void TrafoCubicSpline::RefineGrid() {
  if (level >= maxLevel) return;
  const int L = level, N = Side(L), M = Side(L + 1);
  // (1, 1) / 2 between old nodes, (1, 6, 1) / 8 on them.
  auto refine = [](const double* in, std::ptrdiff_t inStride, double* out, std::ptrdiff_t outStride, int count) {
    for (int k = 0; k + 1 < count; ++k) out[2 * k * outStride] = (in[k * inStride] + in[(k + 1) * inStride]) / 2.0;
    for (int k = 0; k + 2 < count; ++k)
      out[(2 * k + 1) * outStride] =
          (in[k * inStride] + 6.0 * in[(k + 1) * inStride] + in[(k + 2) * inStride]) / 8.0;
  };
  for (int pass = 0; pass < 2; ++pass) {
    const std::vector<double>& from = pass == 0 ? controlX[L] : controlY[L];
    std::vector<double>& scratch = pass == 0 ? refineX[L] : refineY[L];
    std::vector<double>& to = pass == 0 ? controlX[L + 1] : controlY[L + 1];
    for (int r = 0; r < N; ++r) refine(&from[r * N], 1, &scratch[r * M], 1, N);
    for (int c = 0; c < M; ++c) refine(&scratch[c], M, &to[c], M, N);
  }
  level = L + 1;
  anchorX[level] = controlX[level];
  anchorY[level] = controlY[level];
}

void TrafoCubicSpline::InitFrom(Transformation* other) {
  if (!other) return;
  // The level-0 nodes are mapped from where the identity puts them, not
  // from where an earlier match left them, so that initialising twice gives
  // the same grid.
  const int n = Side(0);
  for (int k = 0; k < n * n; ++k) {
    const double nodeX = k % n - 1.0, nodeY = k / n - 1.0;
    double x = nodeX, y = nodeY;
    other->TransformPoint(nodeX, nodeY, &x, &y);
    controlX[0][k] = anchorX[0][k] = x;
    controlY[0][k] = anchorY[0][k] = y;
  }
  level = 0;
}

void TrafoCubicSpline::TransformGrid(double* xs, double* ys, int log2Size) {
  if (!Walkable(log2Size)) return;
  const int S = 1 << log2Size;
  WalkCubicSpline(
      controlX[level].data(), controlY[level].data(), level, log2Size, [](int, int) {},
      [&](int x, int y, double px, double py, const double*, const double*) {
        xs[static_cast<size_t>(y) * S + x] = px;
        ys[static_cast<size_t>(y) * S + x] = py;
      },
      [](int, int) {});
}

void TrafoCubicSpline::TransformPoint(double x, double y, double* xOut, double* yOut) {
  const int cells = 1 << level, n = Side(level);
  auto cellOf = [cells](double t, double* local) {
    const double scaled = t * cells;
    int i = std::isfinite(scaled) ? static_cast<int>(std::clamp(std::floor(scaled), 0.0, cells - 1.0)) : 0;
    *local = std::isfinite(scaled) ? scaled - i : 0.0;
    return i;
  };
  double u, v;
  const int i = cellOf(x, &u), j = cellOf(y, &v);
  double bu[4], bv[4];
  CubicBasis(u, bu);
  CubicBasis(v, bv);
  double X = 0.0, Y = 0.0;
  for (int q = 0; q < 4; ++q)
    for (int m = 0; m < 4; ++m) {
      const double w = bu[m] * bv[q];
      X += w * controlX[level][(j + q) * n + (i + m)];
      Y += w * controlY[level][(j + q) * n + (i + m)];
    }
  *xOut = X;
  *yOut = Y;
}

void TrafoCubicSpline::SetParams(const double* p) {
  const int n = Side(level);
  const double unit = 4.0 * (1 << level);
  for (int k = 0; k < n * n; ++k) {
    controlX[level][k] = p[2 * k + 1] / unit;
    controlY[level][k] = p[2 * k + 2] / unit;
  }
}

void TrafoCubicSpline::GetParams(double* p) {
  const int n = Side(level);
  const double unit = 4.0 * (1 << level);
  for (int k = 0; k < n * n; ++k) {
    p[2 * k + 1] = controlX[level][k] * unit;
    p[2 * k + 2] = controlY[level][k] * unit;
  }
}

void TrafoCubicSpline::GetGradient(double* g) {
  const int n = Side(level);
  const double unit = 4.0 * (1 << level);
  for (int k = 0; k < n * n; ++k) {
    g[2 * k + 1] = -gradX[k] / unit;
    g[2 * k + 2] = -gradY[k] / unit;
  }
}

void TrafoCubicSpline::Cost(const double* p, double* costOut) {
  if (!source || !reference || !source->pixels || !reference->pixels) return;
  SetParams(p);
  ComputeCost(source->pixels, reference->pixels, source->background, source->log2Width);
  *costOut = GetCost();
}

void TrafoCubicSpline::CostAndGradient(const double* p, double* g, double* costOut) {
  if (!source || !reference || !source->pixels || !reference->pixels) return;
  SetParams(p);
  ComputeCostAndGradient(source->pixels, reference->pixels, source->background, source->log2Width);
  GetGradient(g);
  *costOut = GetCost();
}

void TrafoCubicSpline::SetControlPoints(const double* xs, const double* ys, int l) {
  if (l < 0 || l > maxLevel) return;
  std::copy(xs, xs + controlX[l].size(), controlX[l].begin());
  std::copy(ys, ys + controlY[l].size(), controlY[l].begin());
}

void TrafoCubicSpline::GetControlPoints(double* xs, double* ys, int l) {
  if (l < 0 || l > maxLevel) return;
  std::copy(controlX[l].begin(), controlX[l].end(), xs);
  std::copy(controlY[l].begin(), controlY[l].end(), ys);
}

void TrafoCubicSpline::PerturbControlPoints() {
  const int n = Side(level);
  for (int c = 0; c < n; ++c)
    for (int r = 0; r < n; ++r) {
      const double d1 = std::rand(), d2 = std::rand();
      controlX[level][r * n + c] += (0.5 - d1 / (RAND_MAX + 1.0)) * 0.5 / n;
      controlY[level][r * n + c] += (0.5 - d2 / (RAND_MAX + 1.0)) * 0.5 / n;
    }
}


void TrafoCubicSpline::RenderWarped(const unsigned short* src, unsigned short* dst, int background, int log2Size) {
  if (log2Size > 10 || !Walkable(log2Size)) return;
  const int S = 1 << log2Size;
  WalkCubicSpline(
      controlX[level].data(), controlY[level].data(), level, log2Size, [](int, int) {},
      [&](int x, int y, double px, double py, const double*, const double*) {
        const double v = SampleBilinear(src, S, px, py, background).value;
        dst[static_cast<size_t>(y) * S + x] = static_cast<unsigned short>(std::clamp(std::floor(v), 0.0, 65535.0));
      },
      [](int, int) {});
}

void TrafoCubicSpline::SetNoSimilarity(bool withGradient) {
  cost = kNoSimilarity;
  if (withGradient) {
    std::fill(gradX.begin(), gradX.end(), 0.0);
    std::fill(gradY.begin(), gradY.end(), 0.0);
  }
}

void TrafoCubicSpline::FinishNcc(double N, double sT, double sI, double sTT, double sII, double sTI, int S,
                                 bool withGradient) {
  NccSums sums;
  sums.count = N;
  sums.sT = sT;
  sums.sI = sI;
  sums.sTT = sTT;
  sums.sII = sII;
  sums.sTI = sTI;
  const int n = Side(level);
  cost = Cubic::FinishNcc(sums, n * n, sumDxSource.data(), sumDxReference.data(), sumDx.data(), sumDySource.data(),
                          sumDyReference.data(), sumDy.data(), S, withGradient ? gradX.data() : nullptr,
                          gradY.data());
}

void TrafoCubicSpline::ComputeCost(const unsigned short* src, const unsigned short* ref, int background,
                                   int log2Size) {
  if (log2Size > 10 || !Walkable(log2Size)) return SetNoSimilarity(false);
  const int S = 1 << log2Size;
  double sT = 0, sI = 0, sTT = 0, sII = 0, sTI = 0;
  WalkCubicSpline(
      controlX[level].data(), controlY[level].data(), level, log2Size, [](int, int) {},
      [&](int x, int y, double px, double py, const double*, const double*) {
        const double I = SampleBilinear(src, S, px, py, background).value;
        const double T = ref[static_cast<size_t>(y) * S + x];
        sT += T;
        sI += I;
        sTT += T * T;
        sII += I * I;
        sTI += T * I;
      },
      [](int, int) {});
  FinishNcc(static_cast<double>(S) * S, sT, sI, sTT, sII, sTI, S, false);
  AddDisplacementPenalty();
}

void TrafoCubicSpline::ComputeCostAndGradient(const unsigned short* src, const unsigned short* ref, int background,
                                              int log2Size) {
  if (log2Size > 10 || !Walkable(log2Size)) return SetNoSimilarity(true);
  const int S = 1 << log2Size, n = Side(level);
  std::vector<double>* sums[6] = {&sumDxSource, &sumDxReference, &sumDx, &sumDySource, &sumDyReference, &sumDy};
  for (auto* a : sums) std::fill(a->begin(), a->begin() + static_cast<size_t>(n) * n, 0.0);
  double sT = 0, sI = 0, sTT = 0, sII = 0, sTI = 0;
  // cellCache[16 a + k]: sum a of the cell's control point k (row q, column m
  // of the cell's 4 x 4 block at k = 4q + m).
  auto cellIndex = [n](int i, int j, int k) { return (j + k / 4) * n + (i + k % 4); };
  WalkCubicSpline(
      controlX[level].data(), controlY[level].data(), level, log2Size,
      [&](int i, int j) {
        for (int a = 0; a < 6; ++a)
          for (int k = 0; k < 16; ++k) cellCache[16 * a + k] = (*sums[a])[cellIndex(i, j, k)];
      },
      [&](int x, int y, double px, double py, const double* bu, const double* bv) {
        const BilinearSample b = SampleBilinear(src, S, px, py, background);
        const double I = b.value, T = ref[static_cast<size_t>(y) * S + x];
        sT += T;
        sI += I;
        sTT += T * T;
        sII += I * I;
        sTI += T * I;
        if (b.dx == 0.0 && b.dy == 0.0) return;
        for (int q = 0; q < 4; ++q)
          for (int m = 0; m < 4; ++m) {
            const int k = 4 * q + m;
            const double wx = b.dx * bu[m] * bv[q], wy = b.dy * bu[m] * bv[q];
            cellCache[k] += wx * I;
            cellCache[16 + k] += wx * T;
            cellCache[32 + k] += wx;
            cellCache[48 + k] += wy * I;
            cellCache[64 + k] += wy * T;
            cellCache[80 + k] += wy;
          }
      },
      [&](int i, int j) {
        for (int a = 0; a < 6; ++a)
          for (int k = 0; k < 16; ++k) (*sums[a])[cellIndex(i, j, k)] = cellCache[16 * a + k];
      });
  FinishNcc(static_cast<double>(S) * S, sT, sI, sTT, sII, sTI, S, true);
  AddDisplacementPenaltyAndGradient();
}


void TrafoCubicSpline::AddDisplacementPenalty() {
  const int n = Side(level);
  cost -= DisplacementPenalty(level, n * n, controlX[level].data(), controlY[level].data(), anchorX[level].data(),
                  anchorY[level].data(), nullptr, nullptr);
}

void TrafoCubicSpline::AddDisplacementPenaltyAndGradient() {
  const int n = Side(level);
  cost -= DisplacementPenalty(level, n * n, controlX[level].data(), controlY[level].data(), anchorX[level].data(),
                  anchorY[level].data(), gradX.data(), gradY.data());
}

}  // namespace Cubic
}  // namespace MIR
