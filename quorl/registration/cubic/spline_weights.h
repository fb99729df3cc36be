#pragma once
// The cubic B-spline interpolation weight table shared by the images and the
// cubic-sampling transformation: 64 x 64 entries of 40 doubles, entry
// 64 qy + qx holding the weights for the fractions qy / 63 and qx / 63 (the
// step is 1/63, so entry 63 is exactly the next pixel).
//   [4r + c]       B_r(ty) B_c(tx)  value weights, offsets r - 1, c - 1
//   [16 + 3r + k]  B_r(ty) Q_k(tx)  weights of column differences (d/dx)
//   [28 + 3c + k]  Q_k(ty) B_c(tx)  weights of row differences (d/dy)
#include "../common/mir_visibility.h"

namespace MIR MIR_HIDDEN {
namespace Cubic {

inline constexpr int kWeightSteps = 64;
inline constexpr int kWeightsPerEntry = 40;
inline constexpr int kWeightTableSize = kWeightSteps * kWeightSteps * kWeightsPerEntry;

// Cubic B-spline weights B0..B3 and quadratic Q0..Q2 at t in [0, 1].
void CubicBasis(double t, double b[4]);
void QuadraticBasis(double t, double q[3]);

// Elements 0..15 of every entry.
void FillValueWeights(double* table);
// Elements 16..39 of every entry.
void FillDerivativeWeights(double* table);
// Both; returns a new table or null when storage is short.
double* NewSplineWeightTable();

}  // namespace Cubic
}  // namespace MIR
