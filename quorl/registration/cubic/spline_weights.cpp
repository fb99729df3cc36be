#include "spline_weights.h"

#include <new>

namespace MIR {
namespace Cubic {

void CubicBasis(double t, double b[4]) {
  const double t2 = t * t, t3 = t2 * t, u = 1.0 - t;
  b[0] = u * u * u / 6.0;
  b[1] = (3.0 * t3 - 6.0 * t2 + 4.0) / 6.0;
  b[2] = (-3.0 * t3 + 3.0 * t2 + 3.0 * t + 1.0) / 6.0;
  b[3] = t3 / 6.0;
}

void QuadraticBasis(double t, double q[3]) {
  const double u = 1.0 - t;
  q[0] = u * u / 2.0;
  q[1] = (-2.0 * t * t + 2.0 * t + 1.0) / 2.0;
  q[2] = t * t / 2.0;
}

// The weights are evaluated directly at q / 63 rather than by forward
// differencing: it is set-up work done once, and exact.
void FillValueWeights(double* table) {
  for (int qy = 0; qy < kWeightSteps; ++qy) {
    double by[4];
    CubicBasis(qy / 63.0, by);
    for (int qx = 0; qx < kWeightSteps; ++qx) {
      double bx[4];
      CubicBasis(qx / 63.0, bx);
      double* e = table + (kWeightSteps * qy + qx) * kWeightsPerEntry;
      for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) e[4 * r + c] = by[r] * bx[c];
    }
  }
}

void FillDerivativeWeights(double* table) {
  for (int q = 0; q < kWeightSteps; ++q) {
    double qq[3];
    QuadraticBasis(q / 63.0, qq);
    for (int i = 0; i < kWeightSteps; ++i) {
      double b[4];
      CubicBasis(i / 63.0, b);
      // Q_k at column fraction q, B_j at row fraction i: the x section of
      // entry (i, q); transposed, the y section of entry (q, i).
      double* ex = table + (kWeightSteps * i + q) * kWeightsPerEntry;
      double* ey = table + (kWeightSteps * q + i) * kWeightsPerEntry;
      for (int j = 0; j < 4; ++j)
        for (int k = 0; k < 3; ++k) {
          const double w = b[j] * qq[k];
          ex[16 + 3 * j + k] = w;
          ey[28 + 3 * j + k] = w;
        }
    }
  }
}

double* NewSplineWeightTable() {
  double* table = new (std::nothrow) double[kWeightTableSize];
  if (!table) return nullptr;
  FillValueWeights(table);
  FillDerivativeWeights(table);
  return table;
}

}  // namespace Cubic
}  // namespace MIR
