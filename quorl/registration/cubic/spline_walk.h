#pragma once
// The pixel walk of the cubic B-spline models: cells column by column, inside
// a cell pixel rows then pixels, each reference pixel handed over with its
// mapped position (pixels) and the basis values of its offsets in the cell.
// The basis values of the s offsets of a cell are tabulated once per walk and
// the control block is reduced along the rows once per pixel row, so a pixel
// costs eight multiply-adds for its position and no rounding drift builds up
// across a cell.
#include "../common/mir_visibility.h"
#include "spline_weights.h"

#include <cstddef>
#include <vector>

namespace MIR MIR_HIDDEN {
namespace Cubic {

// Pixel(x, y, px, py, bu, bv): bu[m] = B_m(u), bv[q] = B_q(v).
// CellBegin(i, j) and CellEnd(i, j) bracket the pixels of cell column i, row j.
template <class CellBegin, class Pixel, class CellEnd>
void WalkCubicSpline(const double* cx, const double* cy, int level, int log2Size, CellBegin&& cellBegin,
                     Pixel&& pixel, CellEnd&& cellEnd) {
  const int S = 1 << log2Size, cells = 1 << level, s = S / cells, n = cells + 3;
  std::vector<double> basis(4 * static_cast<size_t>(s));
  for (int k = 0; k < s; ++k) CubicBasis(static_cast<double>(k) / s, &basis[4 * k]);
  for (int i = 0; i < cells; ++i)
    for (int j = 0; j < cells; ++j) {
      cellBegin(i, j);
      double bx[4][4], by[4][4];  // [q][m]: row j + q, column i + m
      for (int q = 0; q < 4; ++q)
        for (int m = 0; m < 4; ++m) {
          bx[q][m] = cx[(j + q) * n + (i + m)];
          by[q][m] = cy[(j + q) * n + (i + m)];
        }
      for (int v = 0; v < s; ++v) {
        const double* bv = &basis[4 * v];
        double colX[4], colY[4];
        for (int m = 0; m < 4; ++m) {
          colX[m] = bv[0] * bx[0][m] + bv[1] * bx[1][m] + bv[2] * bx[2][m] + bv[3] * bx[3][m];
          colY[m] = bv[0] * by[0][m] + bv[1] * by[1][m] + bv[2] * by[2][m] + bv[3] * by[3][m];
        }
        const int y = j * s + v;
        for (int u = 0; u < s; ++u) {
          const double* bu = &basis[4 * u];
          const double X = bu[0] * colX[0] + bu[1] * colX[1] + bu[2] * colX[2] + bu[3] * colX[3];
          const double Y = bu[0] * colY[0] + bu[1] * colY[1] + bu[2] * colY[2] + bu[3] * colY[3];
          pixel(i * s + u, y, S * X, S * Y, bu, bv);
        }
      }
      cellEnd(i, j);
    }
}

}  // namespace Cubic
}  // namespace MIR
