#include "trafo_quadratic_spline.h"

#include "bilinear_sample.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace MIR {
namespace Cubic {

int SubdivideCubicProfile(double* values, int count) { return SubdivideBezier(values, count); }

namespace {

constexpr int kTableSide = 1025;

void Quadratic(double t, double n[3]) {
  n[0] = (1.0 - t) * (1.0 - t) / 2.0;
  n[1] = (1.0 + 2.0 * t - 2.0 * t * t) / 2.0;
  n[2] = t * t / 2.0;
}

// The three profile products, exact at every entry, built on first use and
// kept for the process (about 25 MB).
struct BasisTables {
  std::unique_ptr<double[]> b00, b01, b11;
  BasisTables()
      : b00(new double[kTableSide * kTableSide]),
        b01(new double[kTableSide * kTableSide]),
        b11(new double[kTableSide * kTableSide]) {
    double n[kTableSide][3];
    for (int i = 0; i < kTableSide; ++i) Quadratic(i / 1024.0, n[i]);
    for (int i = 0; i < kTableSide; ++i)
      for (int j = 0; j < kTableSide; ++j) {
        const size_t k = static_cast<size_t>(i) * kTableSide + j;
        b00[k] = n[i][0] * n[j][0];
        b01[k] = n[i][0] * n[j][1];
        b11[k] = n[i][1] * n[j][1];
      }
  }
};

const BasisTables& SharedBasisTables() {
  static const BasisTables tables;
  return tables;
}

// The 9 weights w[3a + b] = N_b(v / f) N_a(u / f) of offset (u, v) in a cell
// of f = 2^d pixels, read from the tables at step m = 2^(10 - d).
void TableWeights(const double* B00, const double* B01, const double* B11, int u, int v, int d, double* w) {
  const int m = 1 << (10 - d), um = u * m, vm = v * m;
  auto at = [](const double* t, int r, int c) { return t[static_cast<size_t>(r) * kTableSide + c]; };
  w[0] = at(B00, vm, um);
  w[1] = at(B01, um, vm);
  w[2] = at(B00, 1024 - vm, um);
  w[3] = at(B01, vm, um);
  w[4] = at(B11, vm, um);
  w[5] = at(B01, 1024 - vm, um);
  w[6] = at(B00, vm, 1024 - um);
  w[7] = at(B01, 1024 - um, 1024 - vm);
  w[8] = at(B00, 1024 - vm, 1024 - um);
}

// Chaikin's rule: each pair (a, b) gives (3a + b) / 4 and (a + 3b) / 4.
void RefineQuadraticLine(const double* in, std::ptrdiff_t inStride, double* out, std::ptrdiff_t outStride,
                         int count) {
  for (int k = 0; k + 1 < count; ++k) {
    const double a = in[k * inStride], b = in[(k + 1) * inStride];
    out[2 * k * outStride] = (3.0 * a + b) / 4.0;
    out[(2 * k + 1) * outStride] = (a + 3.0 * b) / 4.0;
  }
}

}  // namespace

TrafoQuadraticSpline::TrafoQuadraticSpline(int maxLevel_, int) : SplineGrid(maxLevel_, 2, 0.5, RefineQuadraticLine) {
  const BasisTables& tables = SharedBasisTables();
  basis00 = tables.b00.get();
  basis01 = tables.b01.get();
  basis11 = tables.b11.get();
  pixelWeights.assign(129 * 129 * 9, 0.0);
}

void TrafoQuadraticSpline::PrepareOptimization() {
  if (source) BuildPixelWeights(source->log2Width);
}

void TrafoQuadraticSpline::ComputeOnImages(bool withGradient) {
  if (withGradient)
    ComputeCostAndGradient(source->pixels, reference->pixels, source->background, source->log2Width);
  else
    ComputeCost(source->pixels, reference->pixels, source->background, source->log2Width);
}

void TrafoQuadraticSpline::BuildPixelWeights(int log2Size) {
  const int d = log2Size - level;
  if (d < 0 || d > 7) return;
  const int f = 1 << d;
  for (int v = 0; v <= f; ++v)
    for (int u = 0; u <= f; ++u) TableWeights(basis00, basis01, basis11, u, v, d, &pixelWeights[(v * (f + 1) + u) * 9]);
  weightsLevel = level;
  weightsLog2Size = log2Size;
}

template <class CellBegin, class Pixel, class CellEnd>
bool TrafoQuadraticSpline::Walk(int log2Size, bool fromTables, CellBegin&& begin, Pixel&& pixel, CellEnd&& end) {
  const int d = log2Size - level;
  if (log2Size > 10 || d < 0) return false;
  // Cells wider than 128 pixels read the tables; narrower ones the records,
  // rebuilt whenever they were made for another level or side.
  const bool records = !fromTables && d <= 7;
  if (records && (weightsLevel != level || weightsLog2Size != log2Size)) BuildPixelWeights(log2Size);
  const int f = 1 << d, cells = 1 << level, n = Side(level);
  const double S = std::ldexp(1.0, log2Size);
  const double* cx = controlX[level].data();
  const double* cy = controlY[level].data();
  double w[9];
  for (int i = 0; i < cells; ++i)
    for (int j = 0; j < cells; ++j) {
      begin(i, j);
      double bx[9], by[9];  // [3a + b]: column i + a, row j + b
      for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b) {
          bx[3 * a + b] = cx[(j + b) * n + (i + a)];
          by[3 * a + b] = cy[(j + b) * n + (i + a)];
        }
      for (int v = 0; v < f; ++v)
        for (int u = 0; u < f; ++u) {
          const double* wk = w;
          if (records)
            wk = &pixelWeights[(v * (f + 1) + u) * 9];
          else
            TableWeights(basis00, basis01, basis11, u, v, d, w);
          double X = 0.0, Y = 0.0;
          for (int k = 0; k < 9; ++k) {
            X += wk[k] * bx[k];
            Y += wk[k] * by[k];
          }
          pixel(i * f + u, j * f + v, S * X, S * Y, wk);
        }
      end(i, j);
    }
  return true;
}

template <bool Gradient>
void TrafoQuadraticSpline::Measure(const unsigned short* src, const unsigned short* ref, int background,
                                   int log2Size) {
  const int S = 1 << std::clamp(log2Size, 0, 30), n = Side(level);
  if constexpr (Gradient) ClearGradientSums();
  // cellCache[9 s + k]: sum s of the cell's point k = 3a + b.
  auto pointIndex = [n](int i, int j, int k) { return (j + k % 3) * n + (i + k / 3); };
  NccSums sums;
  const bool walked = Walk(
      log2Size, false,
      [&](int i, int j) {
        if constexpr (Gradient) LoadCellSums(cellCache, 9, [&](int k) { return pointIndex(i, j, k); });
      },
      [&](int x, int y, double px, double py, const double* w) {
        const BilinearSample b = SampleBilinear(src, S, px, py, background);
        const double T = ref[static_cast<size_t>(y) * S + x];
        sums.Add(T, b.value);
        if constexpr (Gradient) {
          if (b.dx == 0.0 && b.dy == 0.0) return;
          for (int k = 0; k < 9; ++k) AddToCellSums(cellCache, 9, k, b.dx * w[k], b.dy * w[k], b.value, T);
        }
      },
      [&](int i, int j) {
        if constexpr (Gradient) StoreCellSums(cellCache, 9, [&](int k) { return pointIndex(i, j, k); });
      });
  if (!walked) return SetNoSimilarity(Gradient);
  FinishCost(sums, S, Gradient);
}

void TrafoQuadraticSpline::ComputeCost(const unsigned short* src, const unsigned short* ref, int background,
                                       int log2Size) {
  Measure<false>(src, ref, background, log2Size);
}

void TrafoQuadraticSpline::ComputeCostAndGradient(const unsigned short* src, const unsigned short* ref,
                                                  int background, int log2Size) {
  Measure<true>(src, ref, background, log2Size);
}

void TrafoQuadraticSpline::RenderWarped(const unsigned short* src, unsigned short* out, int background,
                                        int log2Size) {
  const int S = 1 << std::clamp(log2Size, 0, 30);
  Walk(
      log2Size, true, [](int, int) {},
      [&](int x, int y, double px, double py, const double*) {
        const double v = SampleBilinear(src, S, px, py, background).value;
        out[static_cast<size_t>(y) * S + x] = static_cast<unsigned short>(std::clamp(std::floor(v), 0.0, 65535.0));
      },
      [](int, int) {});
}

void TrafoQuadraticSpline::ComputeFixedPointMap(int* mapX, int* mapY, int log2Size) {
  const int d = log2Size - level;
  if (log2Size > 10 || d < 0) return;
  const int f = 1 << d, cells = 1 << level, n = Side(level), side = (1 << log2Size) + 1;
  const double scale = std::ldexp(1.0, log2Size + 10);
  const double* cx = controlX[level].data();
  const double* cy = controlY[level].data();
  // Every node takes the curve's own value; the far edge of the last cell
  // (u or v = 1) closes each row and column.
  auto toFixed = [](double v) {
    return static_cast<int>(std::clamp(std::nearbyint(v), -2147483647.0, 2147483647.0));
  };
  for (int Y = 0; Y < side; ++Y) {
    const int j = std::min(Y >> d, cells - 1);
    double nv[3];
    Quadratic(static_cast<double>(Y - j * f) / f, nv);
    for (int X = 0; X < side; ++X) {
      const int i = std::min(X >> d, cells - 1);
      double nu[3];
      Quadratic(static_cast<double>(X - i * f) / f, nu);
      double px = 0.0, py = 0.0;
      for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b) {
          const double w = nu[a] * nv[b];
          px += w * cx[(j + b) * n + (i + a)];
          py += w * cy[(j + b) * n + (i + a)];
        }
      mapX[static_cast<size_t>(Y) * side + X] = toFixed(px * scale);
      mapY[static_cast<size_t>(Y) * side + X] = toFixed(py * scale);
    }
  }
}

}  // namespace Cubic
}  // namespace MIR
