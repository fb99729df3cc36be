#include "transformation.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <new>

namespace MIR {
namespace Bilinear {

namespace {

// Fixed-point positions stay within 2^18 pixels either side so that corner
// differences and accumulated steps fit in 32 bits; anything further lies
// far outside every image anyway.
constexpr double kFixedLimit = static_cast<double>(1 << 28);

int ToFixed(double coordinate, double pixelsPerUnit) {
  const double v = std::floor(coordinate * pixelsPerUnit * 1024.0 + 0.5);
  assert(std::isfinite(v));
  if (!(v > -kFixedLimit)) return -static_cast<int>(kFixedLimit);  // also NaN: outside
  if (v > kFixedLimit) return static_cast<int>(kFixedLimit);
  return static_cast<int>(v);
}

// The 2 x 2 neighbourhood of a fixed-point sample position: read directly
// when it lies inside, through GetPixel (outside value) at the borders.
struct Neighbourhood {
  int a, b, c, d, fx, fy;
};

template <class Image>
inline Neighbourhood Fetch(const Image* image, const unsigned char* pixels, int stride, int W, int H, int xs, int ys) {
  const int px = xs >> 10, py = ys >> 10;
  Neighbourhood s;
  s.fx = xs & 1023;
  s.fy = ys & 1023;
  if (xs < 0 || px >= W - 1 || ys < 0 || py >= H - 1) {
    s.a = image->GetPixel(px, py);
    s.b = image->GetPixel(px + 1, py);
    s.c = image->GetPixel(px, py + 1);
    s.d = image->GetPixel(px + 1, py + 1);
  } else {
    const unsigned char* p = pixels + static_cast<std::ptrdiff_t>(py) * stride + px;
    s.a = p[0];
    s.b = p[1];
    s.c = p[stride];
    s.d = p[stride + 1];
  }
  return s;
}

// Bilinear value x 2^20, before any offset.
inline int Blend(const Neighbourhood& s) {
  const int T = s.a * 1024 + s.fx * (s.b - s.a);
  const int B = s.c * 1024 + s.fx * (s.d - s.c);
  return T * 1024 + s.fy * (B - T);
}

// Walks the pixels of cells [c0, c1] x [r0, r1] (columns outer, pixel columns
// outer within a cell) advancing the sample position by integer steps in
// 1/1024 pixel. visit(column, row, xs, ys, L, M, U, V, tl) receives the output
// pixel, the sample position, the horizontal weights L (left) and M (right),
// the vertical weights U (top) and V (bottom), and the cell's TL index.
template <class AffPoint, class Visit>
void WalkCells(const AffPoint* grid, int n, int W, int H, int c0, int c1, int r0, int r1, Visit&& visit) {
  const int cw = W / (n - 1), ch = H / (n - 1);
  if (cw < 1 || ch < 1) return;
  const double sx = W / 1024.0, sy = H / 1024.0;
  const double du = 1.0 / cw, dv = 1.0 / ch;
  for (int i = c0; i <= c1; ++i)
    for (int j = r0; j <= r1; ++j) {
      const int tl = j * n + i, tr = tl + 1, bl = tl + n, br = bl + 1;
      const int xTL = ToFixed(grid[tl].x, sx), yTL = ToFixed(grid[tl].y, sy);
      const int xTR = ToFixed(grid[tr].x, sx), yTR = ToFixed(grid[tr].y, sy);
      const int xBL = ToFixed(grid[bl].x, sx), yBL = ToFixed(grid[bl].y, sy);
      const int xBR = ToFixed(grid[br].x, sx), yBR = ToFixed(grid[br].y, sy);
      const int topStepX = (xTR - xTL) / cw, topStepY = (yTR - yTL) / cw;
      const int bottomStepX = (xBR - xBL) / cw, bottomStepY = (yBR - yBL) / cw;
      int topX = xTL, topY = yTL, bottomX = xBL, bottomY = yBL;
      double L = 1.0, M = 0.0;
      for (int m = 0; m < cw; ++m) {
        const int stepX = (bottomX - topX) / ch, stepY = (bottomY - topY) / ch;
        int xs = topX, ys = topY;
        double U = 1.0, V = 0.0;
        const int column = i * cw + m;
        for (int q = 0; q < ch; ++q) {
          visit(column, j * ch + q, xs, ys, L, M, U, V, tl);
          xs += stepX;
          ys += stepY;
          U -= dv;
          V += dv;
        }
        topX += topStepX;
        topY += topStepY;
        bottomX += bottomStepX;
        bottomY += bottomStepY;
        L -= du;
        M += du;
      }
    }
}

struct Correlation {
  double ncc = 0.0;
  double mx = 0.0, my = 0.0, cxx = 0.0, cyy = 0.0, cxy = 0.0, r = 0.0;
  bool defined = false;  // both images have contrast over the samples
};

// sums: N, Sx, Sy, Sxx, Syy, Sxy. Without contrast (or samples) the NCC is
// 0/0: it counts as 0 and contributes no image gradient.
Correlation Correlate(const double* s) {
  Correlation c;
  const double N = s[0];
  if (!(N > 0.0)) return c;
  c.mx = s[1] / N;
  c.my = s[2] / N;
  c.cxy = s[5] - N * c.mx * c.my;
  c.cxx = s[3] - N * c.mx * c.mx;
  c.cyy = s[4] - N * c.my * c.my;
  if (!(c.cxx > 0.0 && c.cyy > 0.0)) return c;
  c.r = std::sqrt(c.cxx * c.cyy);
  c.ncc = c.cxy / c.r;
  c.defined = true;
  return c;
}

}  // namespace

template <class Policy>
BasicTransformation<Policy>::BasicTransformation(int ownsStorage) : ownsStorage_(ownsStorage) {
  if (!ownsStorage_) return;
  bool ok = true;
  for (int k = 0; k <= kMaxLevel; ++k) {
    const int side = (1 << k) + 1;
    grids_[k] = new (std::nothrow) AffPoint[side * side];
    referenceGrids_[k] = new (std::nothrow) AffPoint[side * side];
    ok = ok && grids_[k] && referenceGrids_[k];
  }
  for (double*& a : accumulators_) ok = ok && (a = new (std::nothrow) double[kMaxPoints]());
  ok = ok && (gradX_ = new (std::nothrow) double[kMaxPoints]());
  ok = ok && (gradY_ = new (std::nothrow) double[kMaxPoints]());
  if (!ok) {
    FreeStorage();  // HasStorage() is false from here on
    return;
  }
  ResetGrid();
}

template <class Policy>
BasicTransformation<Policy>::~BasicTransformation() {
  if (ownsStorage_) FreeStorage();
}

template <class Policy>
void BasicTransformation<Policy>::FreeStorage() {
  for (int k = 0; k <= kMaxLevel; ++k) {
    delete[] grids_[k];
    delete[] referenceGrids_[k];
    grids_[k] = referenceGrids_[k] = nullptr;
  }
  for (double*& a : accumulators_) {
    delete[] a;
    a = nullptr;
  }
  delete[] gradX_;
  delete[] gradY_;
  gradX_ = gradY_ = nullptr;
}

template <class Policy>
void BasicTransformation<Policy>::SetLevel(int level) {
  level_ = level;
  columns_ = rows_ = (1 << level) + 1;
  pointCount_ = columns_ * rows_;
}

template <class Policy>
void BasicTransformation<Policy>::ResetGrid() {
  SetLevel(0);
  if (!HasStorage()) return;
  const double corners[4][2] = {{0, 0}, {1024, 0}, {0, 1024}, {1024, 1024}};
  for (int k = 0; k < 4; ++k) {
    grids_[0][k].Set(corners[k][0], corners[k][1]);
    referenceGrids_[0][k] = grids_[0][k];
  }
}

template <class Policy>
void BasicTransformation<Policy>::IncreaseLevel() {
  if (level_ < maxLevel_) SetLevel(level_ + 1);
}

template <class Policy>
void BasicTransformation<Policy>::DecreaseLevel() {
  if (level_ > 0) SetLevel(level_ - 1);
}

template <class Policy>
void BasicTransformation<Policy>::RefineGrid() {
  if (level_ + 1 > maxLevel_ || !HasStorage()) return;
  const AffPoint* old = grids_[level_];
  const int oldN = columns_;
  SetLevel(level_ + 1);
  AffPoint* fine = grids_[level_];
  for (int b = 0; b < rows_; ++b)
    for (int a = 0; a < columns_; ++a) {
      AffPoint around[4];
      int count = 0;
      for (int rb = b / 2; rb <= b / 2 + (b & 1); ++rb)
        for (int ca = a / 2; ca <= a / 2 + (a & 1); ++ca) around[count++] = old[rb * oldN + ca];
      fine[b * columns_ + a].SetCentroid(count, around);
    }
  for (int k = 0; k < pointCount_; ++k) referenceGrids_[level_][k] = fine[k];
}

template <class Policy>
void BasicTransformation<Policy>::CopyGridState(const BasicTransformation& from) {
  maxLevel_ = from.maxLevel_;
  level_ = from.level_;
  columns_ = from.columns_;
  rows_ = from.rows_;
  pointCount_ = from.pointCount_;
  for (int k = 0; k <= kMaxLevel; ++k) {
    grids_[k] = from.grids_[k];
    referenceGrids_[k] = from.referenceGrids_[k];
  }
  for (int i = 0; i < 6; ++i) accumulators_[i] = from.accumulators_[i];
  cost_ = from.cost_;
  gradX_ = from.gradX_;
  gradY_ = from.gradY_;
}

template <class Policy>
template <bool kGradient>
void BasicTransformation<Policy>::Accumulate(const Image* fixed, const Image* moving, CellRange cells,
                                            double sums[6]) {
  const int W = moving->GetWidth(), H = moving->GetHeight();
  const unsigned char* movingPixels = moving->GetBuffer();
  const int movingStride = moving->GetStride();
  const unsigned char* fixedPixels = fixed->GetBuffer();
  const int fixedStride = fixed->GetStride();
  const int n = columns_;
  double N = 0, Sx = 0, Sy = 0, Sxx = 0, Syy = 0, Sxy = 0;
  double* acc[6] = {accumulators_[0], accumulators_[1], accumulators_[2],
                    accumulators_[3], accumulators_[4], accumulators_[5]};
  WalkCells(grids_[level_], n, W, H, cells.c0, cells.c1, cells.r0, cells.r1,
            [&](int column, int row, int xs, int ys, double L, double M, double U, double V, int tl) {
              const Neighbourhood s = Fetch(moving, movingPixels, movingStride, W, H, xs, ys);
              // The sample plus 1: a constant offset leaves the NCC unchanged.
              const double y = (Blend(s) + (1 << 20)) / 1048576.0;
              const double x = fixedPixels[static_cast<std::ptrdiff_t>(row) * fixedStride + column];
              N += 1.0;
              Sx += x;
              Sy += y;
              Sxx += x * x;
              Syy += y * y;
              Sxy += x * y;
              if constexpr (kGradient) {
                const int cross = s.d - s.c - s.b + s.a;
                const double ix = ((s.b - s.a) * 1024 + s.fy * cross) / 1024.0;
                const double iy = ((s.c - s.a) * 1024 + s.fx * cross) / 1024.0;
                const int corner[4] = {tl, tl + 1, tl + n, tl + n + 1};
                const double weight[4] = {L * U, M * U, L * V, M * V};
                for (int k = 0; k < 4; ++k) {
                  const double w = weight[k];
                  const int q = corner[k];
                  acc[0][q] += ix * w * x;
                  acc[1][q] += ix * w * y;
                  acc[2][q] += ix * w;
                  acc[3][q] += iy * w * x;
                  acc[4][q] += iy * w * y;
                  acc[5][q] += iy * w;
                }
              }
            });
  sums[0] = N, sums[1] = Sx, sums[2] = Sy, sums[3] = Sxx, sums[4] = Syy, sums[5] = Sxy;
}

template <class Policy>
void BasicTransformation<Policy>::CostOver(const Image* fixed, const Image* moving, CellRange cells) {
  cost_ = 0.0;
  if (!HasStorage()) return;
  double sums[6];
  Accumulate<false>(fixed, moving, cells, sums);
  cost_ = Correlate(sums).ncc;
  AddDisplacementPenalty();
}

template <class Policy>
void BasicTransformation<Policy>::CostAndGradientOver(const Image* fixed, const Image* moving, CellRange cells) {
  cost_ = 0.0;
  if (!HasStorage()) return;
  for (double* a : accumulators_) std::fill(a, a + pointCount_, 0.0);
  double sums[6];
  Accumulate<true>(fixed, moving, cells, sums);
  const Correlation c = Correlate(sums);
  cost_ = c.ncc;
  // One grid unit moves a sample by W / 1024 pixels: the slopes per pixel
  // scale by that to give d NCC / d grid unit, the unit of the penalty.
  const double unitX = moving->GetWidth() / 1024.0, unitY = moving->GetHeight() / 1024.0;
  for (int q = 0; q < pointCount_; ++q) {
    if (!c.defined) {
      gradX_[q] = gradY_[q] = 0.0;
      continue;
    }
    const double* const* a = accumulators_;
    const double denominator = c.cxx * c.cyy;
    gradX_[q] = ((a[0][q] - c.mx * a[2][q]) * c.r - (a[1][q] - c.my * a[2][q]) * (c.r / c.cyy) * c.cxy) /
                denominator * unitX;
    gradY_[q] = ((a[3][q] - c.mx * a[5][q]) * c.r - (a[4][q] - c.my * a[5][q]) * (c.r / c.cyy) * c.cxy) /
                denominator * unitY;
  }
  AddDisplacementPenaltyAndGradient();
}

template <class Policy>
void BasicTransformation<Policy>::Cost(const Image* fixed, const Image* moving) {
  CostOver(fixed, moving, AllCells());
}

template <class Policy>
void BasicTransformation<Policy>::CostAndGradient(const Image* fixed, const Image* moving) {
  CostAndGradientOver(fixed, moving, AllCells());
}

template <class Policy>
void BasicTransformation<Policy>::AddDisplacementPenalty() {
  const double r0 = (1024 / columns_) * 0.25;
  const AffPoint* grid = grids_[level_];
  const AffPoint* reference = referenceGrids_[level_];
  for (int k = 0; k < pointCount_; ++k) {
    const double ex = grid[k].x - reference[k].x, ey = grid[k].y - reference[k].y;
    const double d = std::sqrt(ex * ex + ey * ey);
    if (d > r0) cost_ -= (d - r0) * (d - r0) / (r0 * r0 * 0.25);
  }
}

template <class Policy>
void BasicTransformation<Policy>::AddDisplacementPenaltyAndGradient() {
  const double r0 = (1024 / columns_) * 0.25;
  const AffPoint* grid = grids_[level_];
  const AffPoint* reference = referenceGrids_[level_];
  for (int k = 0; k < pointCount_; ++k) {
    const double ex = grid[k].x - reference[k].x, ey = grid[k].y - reference[k].y;
    const double d = std::sqrt(ex * ex + ey * ey);
    if (d > r0) {
      cost_ -= (d - r0) * (d - r0) / (r0 * r0 * 0.25);
      const double slope = 2.0 * (d - r0) / (d * r0 * r0 * 0.25);
      gradX_[k] -= slope * ex;
      gradY_[k] -= slope * ey;
    }
  }
}

template <class Policy>
int BasicTransformation<Policy>::GetNumParams() const {
  return 2 * pointCount_;
}

template <class Policy>
void BasicTransformation<Policy>::GetParams(double* p) const {
  const double scale = ParamScale();
  const AffPoint* grid = grids_[level_];
  for (int k = 0; k < pointCount_; ++k) {
    p[2 * k + 1] = grid[k].x * scale;
    p[2 * k + 2] = grid[k].y * scale;
  }
}

template <class Policy>
void BasicTransformation<Policy>::GetGradient(double* g) const {
  const double unit = 1.0 / ParamScale();
  for (int k = 0; k < pointCount_; ++k) {
    g[2 * k + 1] = -unit * gradX_[k];
    g[2 * k + 2] = Policy::kMovesY ? -unit * gradY_[k] : 0.0;
  }
}

template <class Policy>
void BasicTransformation<Policy>::SetParams(const double* p) {
  const double unit = 1.0 / ParamScale();
  AffPoint* grid = grids_[level_];
  for (int k = 0; k < pointCount_; ++k) {
    grid[k].x = p[2 * k + 1] * unit;
    if constexpr (Policy::kMovesY) grid[k].y = p[2 * k + 2] * unit;
  }
}

template <class Policy>
void BasicTransformation<Policy>::RenderWarp(const Image* source, Image* output) const {
  if (!grids_[level_]) return;
  output->SetInputSize(source->GetInputWidth(), source->GetInputHeight());
  const int W = output->GetWidth(), H = output->GetHeight();
  const int SW = source->GetWidth(), SH = source->GetHeight();
  const unsigned char* sourcePixels = source->GetBuffer();
  const int sourceStride = source->GetStride();
  unsigned char* out = output->GetBuffer();
  const int outStride = output->GetStride();
  WalkCells(grids_[level_], columns_, W, H, 0, columns_ - 2, 0, rows_ - 2,
            [&](int column, int row, int xs, int ys, double, double, double, double, int) {
              const Neighbourhood s = Fetch(source, sourcePixels, sourceStride, SW, SH, xs, ys);
              // Rounded to the nearest grey level; 255 at most.
              const int v = (Blend(s) + (1 << 19)) >> 20;
              out[static_cast<std::ptrdiff_t>(row) * outStride + column] = static_cast<unsigned char>(std::min(v, 255));
            });
}

template <class Policy>
void BasicTransformation<Policy>::SetupPointTransform(unsigned level, double side) {
  level = std::min<unsigned>(level, static_cast<unsigned>(maxLevel_));
  ptColumns_ = ptRows_ = (1 << level) + 1;
  ptCellX_ = ptCellY_ = side / (ptColumns_ - 1);
  ptInverseX_ = ptInverseY_ = (ptColumns_ - 1) / side;
  // Weights add up to the cell area; area x 1024 / side turns grid units into
  // pixels of that side (2^19 for level 0 at 512).
  ptNormaliser_ = ptCellX_ * ptCellY_ * 1024.0 / side;
  ptGrid_ = grids_[level];
  ptSide_ = side;
}

namespace {
// The cell of a position, within the grid whatever the position.
int CellIndex(double v, int cells) {
  const double f = std::floor(v);
  if (!(f >= 0.0)) return 0;
  return f >= cells - 1 ? cells - 1 : static_cast<int>(f);
}
}  // namespace

template <class Policy>
void BasicTransformation<Policy>::TransformPoint(double x, double y, double* outX, double* outY) const {
  if (!ptGrid_) return;
  const int col = CellIndex(x * ptInverseX_, ptColumns_ - 1), row = CellIndex(y * ptInverseY_, ptRows_ - 1);
  const double a = x - col * ptCellX_, b = y - row * ptCellY_;
  const double a1 = ptCellX_ - a, b1 = ptCellY_ - b;
  const AffPoint& TL = ptGrid_[row * ptColumns_ + col];
  const AffPoint& TR = ptGrid_[row * ptColumns_ + col + 1];
  const AffPoint& BL = ptGrid_[(row + 1) * ptColumns_ + col];
  const AffPoint& BR = ptGrid_[(row + 1) * ptColumns_ + col + 1];
  *outX = (BR.x * a * b + BL.x * a1 * b + TR.x * a * b1 + TL.x * a1 * b1) / ptNormaliser_;
  *outY = (BR.y * a * b + BL.y * a1 * b + TR.y * a * b1 + TL.y * a1 * b1) / ptNormaliser_;
}

template <class Policy>
void BasicTransformation<Policy>::TransformPoint(float x, float y, float* outX, float* outY) const {
  if (!ptGrid_) return;
  const int col = CellIndex(x * ptInverseX_, ptColumns_ - 1), row = CellIndex(y * ptInverseY_, ptRows_ - 1);
  const double a = x - col * ptCellX_, b = y - row * ptCellY_;
  const double a1 = ptCellX_ - a, b1 = ptCellY_ - b;
  const double ab = a * b;
  const float a1b = static_cast<float>(a1 * b), ab1 = static_cast<float>(a * b1), a1b1 = static_cast<float>(a1 * b1);
  const AffPoint& TL = ptGrid_[row * ptColumns_ + col];
  const AffPoint& TR = ptGrid_[row * ptColumns_ + col + 1];
  const AffPoint& BL = ptGrid_[(row + 1) * ptColumns_ + col];
  const AffPoint& BR = ptGrid_[(row + 1) * ptColumns_ + col + 1];
  *outX = static_cast<float>((BR.x * ab + BL.x * a1b + TR.x * ab1 + TL.x * a1b1) / ptNormaliser_);
  *outY = static_cast<float>((BR.y * ab + BL.y * a1b + TR.y * ab1 + TL.y * a1b1) / ptNormaliser_);
}

template <class Policy>
void BasicTransformation<Policy>::GetControlPoints(double* out, int level, int* columns, int* rows) const {
  if (level < 0 || level > maxLevel_) return;
  const int n = (1 << level) + 1;
  if (columns) *columns = n;
  if (rows) *rows = n;
  if (!out || !grids_[level]) return;
  for (int k = 0; k < n * n; ++k) {
    out[2 * k] = grids_[level][k].x / 1024.0;
    out[2 * k + 1] = grids_[level][k].y / 1024.0;
  }
}

template <class Policy>
void BasicTransformation<Policy>::PerturbGrid() {
  if (!HasStorage()) return;
  // RAND_MAX + 1 spans rand()'s range whatever the C library's RAND_MAX is.
  const double span = RAND_MAX + 1.0;
  AffPoint* grid = grids_[level_];
  for (int k = 0; k < pointCount_; ++k) {
    const int r1 = std::rand();
    const int r2 = std::rand();
    grid[k].x += (0.5 - r2 / span) * (1024.0 / columns_) * 0.1;
    grid[k].y += (0.5 - r1 / span) * (1024.0 / rows_) * 0.1;
  }
}

template <class Policy>
typename BasicTransformation<Policy>::AffPoint* BasicTransformation<Policy>::GetFinestGrid(int* count) const {
  if (count) *count = kMaxPoints;
  return grids_[maxLevel_];
}

template class BasicTransformation<PlainBuild>;
template class BasicTransformation<RectifiedBuild>;

}  // namespace Bilinear
}  // namespace MIR
