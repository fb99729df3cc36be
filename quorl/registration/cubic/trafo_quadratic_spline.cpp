#include "trafo_quadratic_spline.h"

#include "bilinear_sample.h"
#include "displacement_penalty.h"
#include "ncc_gradient.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
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

}  // namespace

TrafoQuadraticSpline::TrafoQuadraticSpline(int maxLevel_, int) : Transformation(maxLevel_ < 0 ? 0 : maxLevel_) {
  const int levels = maxLevel + 1;
  for (auto* a : {&controlX, &controlY, &anchorX, &anchorY, &refineX, &refineY}) a->resize(levels);
  for (int l = 0; l < levels; ++l) {
    const int n = Side(l);
    controlX[l].resize(static_cast<size_t>(n) * n);
    controlY[l].resize(static_cast<size_t>(n) * n);
    refineX[l].resize(static_cast<size_t>(n) * Side(l + 1));
    refineY[l].resize(static_cast<size_t>(n) * Side(l + 1));
    for (int r = 0; r < n; ++r)
      for (int c = 0; c < n; ++c) {
        controlX[l][r * n + c] = std::ldexp(c - 0.5, -l);
        controlY[l][r * n + c] = std::ldexp(r - 0.5, -l);
      }
    anchorX[l] = controlX[l];
    anchorY[l] = controlY[l];
  }
  const size_t finest = static_cast<size_t>(Side(maxLevel)) * Side(maxLevel);
  for (auto* a : {&sumDxSource, &sumDxReference, &sumDx, &sumDySource, &sumDyReference, &sumDy, &gradX, &gradY})
    a->assign(finest, 0.0);
  const BasisTables& tables = SharedBasisTables();
  basis00 = tables.b00.get();
  basis01 = tables.b01.get();
  basis11 = tables.b11.get();
  pixelWeights.assign(129 * 129 * 9, 0.0);
}

void TrafoQuadraticSpline::IncreaseLevel() {
  if (level < maxLevel) ++level;
}

void TrafoQuadraticSpline::DecreaseLevel() {
  if (level > 0) --level;
}

void TrafoQuadraticSpline::SetLevel(int l) { level = std::clamp(l, 0, maxLevel); }

int TrafoQuadraticSpline::GetNumParams() { return 2 * Side(level) * Side(level); }

void TrafoQuadraticSpline::RefineGrid() {
  if (level >= maxLevel) return;
  const int L = level, N = Side(L), M = Side(L + 1);
  // Chaikin's rule: each pair (a, b) gives (3a + b) / 4 and (a + 3b) / 4.
  auto refine = [](const double* in, std::ptrdiff_t inStride, double* out, std::ptrdiff_t outStride, int count) {
    for (int k = 0; k + 1 < count; ++k) {
      const double a = in[k * inStride], b = in[(k + 1) * inStride];
      out[2 * k * outStride] = (3.0 * a + b) / 4.0;
      out[(2 * k + 1) * outStride] = (a + 3.0 * b) / 4.0;
    }
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

void TrafoQuadraticSpline::InitFrom(Transformation* other) {
  if (!other) return;
  // The level-0 nodes are mapped from where the identity puts them, not
  // from where an earlier match left them, so that initialising twice gives
  // the same grid.
  const int n = Side(0);
  for (int k = 0; k < n * n; ++k) {
    const double nodeX = k % n - 0.5, nodeY = k / n - 0.5;
    double x = nodeX, y = nodeY;
    other->TransformPoint(nodeX, nodeY, &x, &y);
    controlX[0][k] = anchorX[0][k] = x;
    controlY[0][k] = anchorY[0][k] = y;
  }
  // A second match starts again from the coarse grid.
  level = 0;
}

void TrafoQuadraticSpline::PrepareOptimization() {
  if (source) BuildPixelWeights(source->log2Width);
}

void TrafoQuadraticSpline::SetParams(const double* p) {
  const int n = Side(level);
  const double unit = 4.0 * (1 << level);
  for (int k = 0; k < n * n; ++k) {
    controlX[level][k] = p[2 * k + 1] / unit;
    controlY[level][k] = p[2 * k + 2] / unit;
  }
}

void TrafoQuadraticSpline::GetParams(double* p) {
  const int n = Side(level);
  const double unit = 4.0 * (1 << level);
  for (int k = 0; k < n * n; ++k) {
    p[2 * k + 1] = controlX[level][k] * unit;
    p[2 * k + 2] = controlY[level][k] * unit;
  }
}

void TrafoQuadraticSpline::GetGradient(double* g) {
  const int n = Side(level);
  const double unit = 4.0 * (1 << level);
  for (int k = 0; k < n * n; ++k) {
    g[2 * k + 1] = -gradX[k] / unit;
    g[2 * k + 2] = -gradY[k] / unit;
  }
}

void TrafoQuadraticSpline::Cost(const double* p, double* costOut) {
  if (!source || !reference || !source->pixels || !reference->pixels) return;
  SetParams(p);
  ComputeCost(source->pixels, reference->pixels, source->background, source->log2Width);
  *costOut = GetCost();
}

void TrafoQuadraticSpline::CostAndGradient(const double* p, double* g, double* costOut) {
  if (!source || !reference || !source->pixels || !reference->pixels) return;
  SetParams(p);
  ComputeCostAndGradient(source->pixels, reference->pixels, source->background, source->log2Width);
  GetGradient(g);
  *costOut = GetCost();
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

void TrafoQuadraticSpline::SetNoSimilarity(bool withGradient) {
  cost = kNoSimilarity;
  if (withGradient) {
    std::fill(gradX.begin(), gradX.end(), 0.0);
    std::fill(gradY.begin(), gradY.end(), 0.0);
  }
}

void TrafoQuadraticSpline::ComputeCost(const unsigned short* src, const unsigned short* ref, int background,
                                       int log2Size) {
  const int S = 1 << std::clamp(log2Size, 0, 30);
  NccSums sums;
  const bool walked = Walk(
      log2Size, false, [](int, int) {},
      [&](int x, int y, double px, double py, const double*) {
        sums.Add(ref[static_cast<size_t>(y) * S + x], SampleBilinear(src, S, px, py, background).value);
      },
      [](int, int) {});
  if (!walked) return SetNoSimilarity(false);
  cost = FinishNcc(sums, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, S, nullptr, nullptr);
  AddDisplacementPenalty();
}

void TrafoQuadraticSpline::ComputeCostAndGradient(const unsigned short* src, const unsigned short* ref,
                                                  int background, int log2Size) {
  const int S = 1 << std::clamp(log2Size, 0, 30), n = Side(level);
  std::vector<double>* arrays[6] = {&sumDxSource, &sumDxReference, &sumDx, &sumDySource, &sumDyReference, &sumDy};
  for (auto* a : arrays) std::fill(a->begin(), a->begin() + static_cast<size_t>(n) * n, 0.0);
  // cellCache[9 s + k]: sum s of the cell's point k = 3a + b.
  auto pointIndex = [n](int i, int j, int k) { return (j + k % 3) * n + (i + k / 3); };
  NccSums sums;
  const bool walked = Walk(
      log2Size, false,
      [&](int i, int j) {
        for (int s = 0; s < 6; ++s)
          for (int k = 0; k < 9; ++k) cellCache[9 * s + k] = (*arrays[s])[pointIndex(i, j, k)];
      },
      [&](int x, int y, double px, double py, const double* w) {
        const BilinearSample b = SampleBilinear(src, S, px, py, background);
        const double T = ref[static_cast<size_t>(y) * S + x];
        sums.Add(T, b.value);
        if (b.dx == 0.0 && b.dy == 0.0) return;
        for (int k = 0; k < 9; ++k) {
          const double wx = b.dx * w[k], wy = b.dy * w[k];
          cellCache[k] += wx * b.value;
          cellCache[9 + k] += wx * T;
          cellCache[18 + k] += wx;
          cellCache[27 + k] += wy * b.value;
          cellCache[36 + k] += wy * T;
          cellCache[45 + k] += wy;
        }
      },
      [&](int i, int j) {
        for (int s = 0; s < 6; ++s)
          for (int k = 0; k < 9; ++k) (*arrays[s])[pointIndex(i, j, k)] = cellCache[9 * s + k];
      });
  if (!walked) return SetNoSimilarity(true);
  cost = FinishNcc(sums, n * n, sumDxSource.data(), sumDxReference.data(), sumDx.data(), sumDySource.data(),
                   sumDyReference.data(), sumDy.data(), S, gradX.data(), gradY.data());
  AddDisplacementPenaltyAndGradient();
}

void TrafoQuadraticSpline::AddDisplacementPenalty() {
  const int n = Side(level);
  cost -= DisplacementPenalty(level, n * n, controlX[level].data(), controlY[level].data(), anchorX[level].data(),
                              anchorY[level].data(), nullptr, nullptr);
}

void TrafoQuadraticSpline::AddDisplacementPenaltyAndGradient() {
  const int n = Side(level);
  cost -= DisplacementPenalty(level, n * n, controlX[level].data(), controlY[level].data(), anchorX[level].data(),
                              anchorY[level].data(), gradX.data(), gradY.data());
}

void TrafoQuadraticSpline::SetControlPoints(const double* xs, const double* ys, int l) {
  if (l < 0 || l > maxLevel) return;
  std::copy(xs, xs + controlX[l].size(), controlX[l].begin());
  std::copy(ys, ys + controlY[l].size(), controlY[l].begin());
}

void TrafoQuadraticSpline::GetControlPoints(double* xs, double* ys, int l) {
  if (l < 0 || l > maxLevel) return;
  std::copy(controlX[l].begin(), controlX[l].end(), xs);
  std::copy(controlY[l].begin(), controlY[l].end(), ys);
}

void TrafoQuadraticSpline::PerturbControlPoints() {
  const int n = Side(level);
  for (int c = 0; c < n; ++c)
    for (int r = 0; r < n; ++r) {
      const double r1 = std::rand(), r2 = std::rand();
      controlX[level][r * n + c] += (0.5 - r1 / (RAND_MAX + 1.0)) * 0.5 / n;
      controlY[level][r * n + c] += (0.5 - r2 / (RAND_MAX + 1.0)) * 0.5 / n;
    }
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
