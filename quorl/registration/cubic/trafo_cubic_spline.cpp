#include "trafo_cubic_spline.h"

#include "bilinear_sample.h"
#include "spline_walk.h"

#include <algorithm>
#include <cmath>

namespace MIR {
namespace Cubic {

namespace {

// (1, 1) / 2 between old nodes, (1, 6, 1) / 8 on them.
void RefineCubicLine(const double* in, std::ptrdiff_t inStride, double* out, std::ptrdiff_t outStride, int count) {
  for (int k = 0; k + 1 < count; ++k) out[2 * k * outStride] = (in[k * inStride] + in[(k + 1) * inStride]) / 2.0;
  for (int k = 0; k + 2 < count; ++k)
    out[(2 * k + 1) * outStride] = (in[k * inStride] + 6.0 * in[(k + 1) * inStride] + in[(k + 2) * inStride]) / 8.0;
}

}  // namespace

TrafoCubicSpline::TrafoCubicSpline(int maxLevel_) : SplineGrid(maxLevel_, 3, 1.0, RefineCubicLine) {}

void TrafoCubicSpline::TransformGrid(double* xs, double* ys, int log2Size) {
  if (!Walkable(log2Size)) return;
  const int S = 1 << log2Size;
  WalkLevel<false>(
      log2Size,
      [&](int x, int y, double px, double py, const double*, const double*) {
        xs[static_cast<size_t>(y) * S + x] = px;
        ys[static_cast<size_t>(y) * S + x] = py;
      });
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

void TrafoCubicSpline::RenderWarped(const unsigned short* src, unsigned short* dst, int background, int log2Size) {
  if (log2Size > 10 || !Walkable(log2Size)) return;
  const int S = 1 << log2Size;
  WalkLevel<false>(
      log2Size,
      [&](int x, int y, double px, double py, const double*, const double*) {
        const double v = SampleBilinear(src, S, px, py, background).value;
        dst[static_cast<size_t>(y) * S + x] = static_cast<unsigned short>(std::clamp(std::floor(v), 0.0, 65535.0));
      });
}

void TrafoCubicSpline::ComputeOnImages(bool withGradient) {
  if (withGradient)
    ComputeCostAndGradient(source->pixels, reference->pixels, source->background, source->log2Width);
  else
    ComputeCost(source->pixels, reference->pixels, source->background, source->log2Width);
}

void TrafoCubicSpline::LoadCell(int i, int j) {
  const int n = Side(level);
  LoadCellSums(cellCache, 16, [&](int k) { return (j + k / 4) * n + (i + k % 4); });
}

void TrafoCubicSpline::StoreCell(int i, int j) {
  const int n = Side(level);
  StoreCellSums(cellCache, 16, [&](int k) { return (j + k / 4) * n + (i + k % 4); });
}

template <bool Gradient>
void TrafoCubicSpline::Measure(const unsigned short* src, const unsigned short* ref, int background, int log2Size) {
  if (log2Size > 10 || !Walkable(log2Size)) return SetNoSimilarity(Gradient);
  const int S = 1 << log2Size;
  if constexpr (Gradient) ClearGradientSums();
  NccSums sums;
  WalkLevel<Gradient>(
      log2Size,
      [&](int x, int y, double px, double py, const double* bu, const double* bv) {
        const BilinearSample b = SampleBilinear(src, S, px, py, background);
        const double T = ref[static_cast<size_t>(y) * S + x];
        sums.Add(T, b.value);
        if constexpr (Gradient) {
          if (b.dx == 0.0 && b.dy == 0.0) return;
          for (int q = 0; q < 4; ++q)
            for (int m = 0; m < 4; ++m)
              AddToCellSums(cellCache, 16, 4 * q + m, b.dx * bu[m] * bv[q], b.dy * bu[m] * bv[q], b.value, T);
        }
      });
  FinishCost(sums, S, Gradient);
}

void TrafoCubicSpline::ComputeCost(const unsigned short* src, const unsigned short* ref, int background,
                                   int log2Size) {
  Measure<false>(src, ref, background, log2Size);
}

void TrafoCubicSpline::ComputeCostAndGradient(const unsigned short* src, const unsigned short* ref, int background,
                                              int log2Size) {
  Measure<true>(src, ref, background, log2Size);
}

}  // namespace Cubic
}  // namespace MIR
