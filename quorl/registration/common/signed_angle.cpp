#include "signed_angle.h"

#include <algorithm>
#include <cmath>

namespace MIR {
namespace Common {

double PlaneLength(double x, double y) {
  const long double lx = x, ly = y;
  return static_cast<double>(std::sqrt(lx * lx + ly * ly));
}

double SignedAngle(double ux, double uy, double vx, double vy) {
  const double lengths = PlaneLength(ux, uy) * PlaneLength(vx, vy);
  if (!(lengths > 0.0)) return 0.0;
  const double ratio = std::clamp((ux * vx + uy * vy) / lengths, -1.0, 1.0);
  const double angle = std::acos(ratio);
  return ux * vy - uy * vx < 0.0 ? -angle : angle;
}

}  // namespace Common
}  // namespace MIR
