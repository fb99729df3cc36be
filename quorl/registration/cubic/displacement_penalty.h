#pragma once
// The displacement penalty of the spline models: a control point that moved
// more than a quarter cell a = 1 / (4 x 2^level) from its anchor costs
// (d - a)^2 / b with b = a^2 / 4 (a move of half a cell at level 0 costs 4).
#include "../common/mir_visibility.h"

#include <cmath>

namespace MIR MIR_HIDDEN {
namespace Cubic {

// The total over count points; its derivative is subtracted from gx, gy
// when they are given (they hold the derivative of the similarity).
inline double DisplacementPenalty(int level, int count, const double* x, const double* y, const double* ax,
                                  const double* ay, double* gx, double* gy) {
  const double a = 1.0 / (4.0 * (1 << level)), b = a * a / 4.0;
  double total = 0.0;
  for (int k = 0; k < count; ++k) {
    const double dx = x[k] - ax[k], dy = y[k] - ay[k], d = std::sqrt(dx * dx + dy * dy);
    if (!(d > a)) continue;
    total += (d - a) * (d - a) / b;
    if (gx) {
      gx[k] -= 2.0 * (d - a) * dx / (d * b);
      gy[k] -= 2.0 * (d - a) * dy / (d * b);
    }
  }
  return total;
}

}  // namespace Cubic
}  // namespace MIR
