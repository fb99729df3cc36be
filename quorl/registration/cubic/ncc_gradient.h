#pragma once
// NCC of the spline models from its sums and, per control point, its
// derivative from the six per-point sums (derivative of the sample times its
// basis weight, times the sample, times the reference, alone).
#include "../common/mir_visibility.h"

#include <cmath>

namespace MIR MIR_HIDDEN {
namespace Cubic {

struct NccSums {
  double count = 0, sT = 0, sI = 0, sTT = 0, sII = 0, sTI = 0;
  void Add(double T, double I) {
    count += 1;
    sT += T;
    sI += I;
    sTT += T * T;
    sII += I * I;
    sTI += T * I;
  }
};

// The NCC, or 0 with a zero gradient when either side has no variance (or no
// pixel counted). gradX, gradY get d NCC / d control value in image widths
// (side = pixels per image width) when given.
inline double FinishNcc(const NccSums& s, int points, const double* dxS, const double* dxR, const double* dx,
                        const double* dyS, const double* dyR, const double* dy, double side, double* gradX,
                        double* gradY) {
  const double N = s.count;
  const double mT = N > 0 ? s.sT / N : 0.0, mI = N > 0 ? s.sI / N : 0.0;
  const double cov = s.sTI - N * mT * mI, varT = s.sTT - N * mT * mT, varI = s.sII - N * mI * mI;
  const double D = varT * varI;
  if (!(N > 0 && varT > 0.0 && varI > 0.0 && D > 0.0)) {
    if (gradX)
      for (int k = 0; k < points; ++k) gradX[k] = gradY[k] = 0.0;
    return 0.0;
  }
  const double F = std::sqrt(D);
  if (gradX)
    for (int k = 0; k < points; ++k) {
      gradX[k] = ((dxR[k] - dx[k] * mT) * F - (dxS[k] - dx[k] * mI) * (F / varI) * cov) / D * side;
      gradY[k] = ((dyR[k] - dy[k] * mT) * F - (dyS[k] - dy[k] * mI) * (F / varI) * cov) / D * side;
    }
  return cov / F;
}

}  // namespace Cubic
}  // namespace MIR
