#include "trafo_cubic_intensity_cubic.h"

#include "spline_walk.h"
#include "spline_weights.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace MIR {
namespace Cubic {

TrafoCubicIntensityCubic::TrafoCubicIntensityCubic(int maxLevel_) : TrafoCubicSpline(maxLevel_) {}

TrafoCubicIntensityCubic::~TrafoCubicIntensityCubic() { delete[] splineWeights; }

void TrafoCubicIntensityCubic::FillSplineWeights() { FillValueWeights(splineWeights); }

void TrafoCubicIntensityCubic::FillSplineDerivativeWeights() { FillDerivativeWeights(splineWeights); }

bool TrafoCubicIntensityCubic::EnsureWeights() {
  if (splineWeights) return true;
  splineWeights = new (std::nothrow) double[kWeightTableSize];
  if (!splineWeights) return false;
  FillSplineWeights();
  FillSplineDerivativeWeights();
  return true;
}

void TrafoCubicIntensityCubic::PrepareOptimization() { EnsureWeights(); }

void TrafoCubicIntensityCubic::SetImages(Image* source_, Image* reference_) {
  TrafoCubicSpline::SetImages(source_, reference_);
  if (source && !source->splineCoefficients) source->PrepareSplineCoefficients();
}

bool TrafoCubicIntensityCubic::HasImageData() const {
  return source && reference && source->splineCoefficients && reference->pixels;
}

void TrafoCubicIntensityCubic::ComputeOnImages(bool withGradient) {
  if (withGradient)
    ComputeCostAndGradient(source->splineCoefficients, reference->pixels, source->background, source->log2Width);
  else
    ComputeCost(source->splineCoefficients, reference->pixels, source->background, source->log2Width);
}

namespace {

// The weight entry and support corner of a mapped position, or null when
// the 4 x 4 support (rows iy - 1..iy + 2, columns ix - 1..ix + 2) leaves the
// S x S source.
inline const double* Support(const double* table, int S, double px, double py, int* ix, int* iy) {
  if (!(px >= 1.0 && px < S - 2.0 && py >= 1.0 && py < S - 2.0)) return nullptr;
  *ix = static_cast<int>(px);
  *iy = static_cast<int>(py);
  const int qx = static_cast<int>(2048.0 * (px - *ix)) >> 5, qy = static_cast<int>(2048.0 * (py - *iy)) >> 5;
  return table + (kWeightSteps * qy + qx) * kWeightsPerEntry;
}

inline double SampleValue(const double* coef, int S, int ix, int iy, const double* w) {
  double a = 0.0;
  for (int k = 0; k < 4; ++k) {
    const double* c = coef + static_cast<size_t>(iy - 1 + k) * S + (ix - 1);
    a += c[0] * w[4 * k] + c[1] * w[4 * k + 1] + c[2] * w[4 * k + 2] + c[3] * w[4 * k + 3];
  }
  return a;
}

}  // namespace

template <bool Gradient>
void TrafoCubicIntensityCubic::Measure(const double* coef, const unsigned short* ref, int log2Size) {
  if (!Walkable(log2Size) || !EnsureWeights()) return SetNoSimilarity(Gradient);
  const int S = 1 << log2Size;
  if constexpr (Gradient) ClearGradientSums();
  NccSums sums;
  WalkLevel<Gradient>(
      log2Size,
      [&](int x, int y, double px, double py, const double* bu, const double* bv) {
        int ix, iy;
        const double* w = Support(splineWeights, S, px, py, &ix, &iy);
        if (!w) return;
        const double A = SampleValue(coef, S, ix, iy, w), T = ref[static_cast<size_t>(y) * S + x];
        sums.Add(T, A);
        if constexpr (Gradient) {
          // The interpolant's exact derivative: coefficient differences
          // against the derivative weights.
          double dX = 0.0, dY = 0.0;
          for (int k = 0; k < 4; ++k) {
            const double* row = coef + static_cast<size_t>(iy - 1 + k) * S + (ix - 1);
            for (int m = 0; m < 3; ++m) dX += (row[m + 1] - row[m]) * w[16 + 3 * k + m];
          }
          for (int j = 0; j < 4; ++j)
            for (int m = 0; m < 3; ++m) {
              const double* c = coef + static_cast<size_t>(iy - 1 + m) * S + (ix - 1 + j);
              dY += (c[S] - c[0]) * w[28 + 3 * j + m];
            }
          for (int q = 0; q < 4; ++q)
            for (int m = 0; m < 4; ++m) {
              const double b = bu[m] * bv[q];
              AddToCellSums(cellCache, 16, 4 * q + m, dX * b, dY * b, A, T);
            }
        }
      });
  FinishCost(sums, S, Gradient);
}

void TrafoCubicIntensityCubic::ComputeCost(const double* coef, const unsigned short* ref, int, int log2Size) {
  Measure<false>(coef, ref, log2Size);
}

void TrafoCubicIntensityCubic::ComputeCostAndGradient(const double* coef, const unsigned short* ref, int,
                                                      int log2Size) {
  Measure<true>(coef, ref, log2Size);
}

void TrafoCubicIntensityCubic::RenderWarped(const double* coef, unsigned short* out, int, int log2Size) {
  if (!Walkable(log2Size) || !EnsureWeights()) return;
  const int S = 1 << log2Size;
  WalkLevel<false>(
      log2Size,
      [&](int x, int y, double px, double py, const double*, const double*) {
        int ix, iy;
        const double* w = Support(splineWeights, S, px, py, &ix, &iy);
        if (!w) return;
        const double v = std::floor(SampleValue(coef, S, ix, iy, w) + 0.5);
        out[static_cast<size_t>(y) * S + x] = static_cast<unsigned short>(std::clamp(v, 0.0, 65535.0));
      });
}

}  // namespace Cubic
}  // namespace MIR
