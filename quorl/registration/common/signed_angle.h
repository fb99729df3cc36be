#pragma once
#include "mir_visibility.h"

namespace MIR MIR_HIDDEN {
namespace Common {

// |(x, y)| evaluated in extended precision.
double PlaneLength(double x, double y);

// The angle in -pi .. pi that turns u onto v, counter-clockwise positive in
// x-right, y-up terms. The cosine is clamped to [-1, 1]: the rounded ratio of
// parallel vectors such as (1, 5) and (2, 10) exceeds 1 and its arc cosine
// would be NaN. A zero vector has no direction and gives 0.
double SignedAngle(double ux, double uy, double vx, double vy);

}  // namespace Common
}  // namespace MIR
