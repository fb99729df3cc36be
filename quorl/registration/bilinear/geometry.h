#pragma once
// Plane positions and differences of positions of the control grids.
#include "../common/mir_visibility.h"
#include "../common/signed_angle.h"

namespace MIR MIR_HIDDEN {
namespace Bilinear {

template <class Policy>
class BasicVector;

template <class Policy>
class BasicAffPoint {
 public:
  BasicAffPoint() = default;
  BasicAffPoint(double px, double py) : x(px), y(py) {}
  virtual ~BasicAffPoint() = default;
  BasicAffPoint(const BasicAffPoint&) = default;
  BasicAffPoint& operator=(const BasicAffPoint&) = default;

  void Set(double px, double py) { x = px, y = py; }
  void SetCentroid(int n, const BasicAffPoint* points) {
    double sx = 0.0, sy = 0.0;
    for (int i = 0; i < n; ++i) sx += points[i].x, sy += points[i].y;
    x = sx * (1.0 / n);
    y = sy * (1.0 / n);
  }
  void SetMidpoint(const BasicAffPoint& p, const BasicAffPoint& q) { x = (p.x + q.x) * 0.5, y = (p.y + q.y) * 0.5; }
  void SetInterpolated(const BasicAffPoint& p, const BasicAffPoint& q, double t) {
    x = p.x * (1.0 - t) + q.x * t;
    y = p.y * (1.0 - t) + q.y * t;
  }
  BasicAffPoint operator+(const BasicAffPoint& o) const { return {x + o.x, y + o.y}; }
  BasicAffPoint operator-(const BasicAffPoint& o) const { return {x - o.x, y - o.y}; }

  double x = 0.0, y = 0.0;
};

template <class Policy>
class BasicVector {
 public:
  BasicVector() = default;
  BasicVector(double px, double py) : x(px), y(py) {}
  // A difference of two points read as a vector: Vector(p - q).
  BasicVector(const BasicAffPoint<Policy>& p) : x(p.x), y(p.y) {}  // NOLINT: converting on purpose
  virtual ~BasicVector() = default;
  BasicVector(const BasicVector&) = default;
  BasicVector& operator=(const BasicVector&) = default;

  void Set(double px, double py) { x = px, y = py; }
  double Length() const { return Common::PlaneLength(x, y); }
  double Dot(const BasicVector& v) const { return x * v.x + y * v.y; }
  BasicVector operator+(const BasicVector& v) const { return {x + v.x, y + v.y}; }
  BasicVector operator-(const BasicVector& v) const { return {x - v.x, y - v.y}; }
  BasicVector operator*(double s) const { return {x * s, y * s}; }
  // The angle that turns this vector onto v (radians, -pi .. pi).
  double SignedAngle(const BasicVector& v) const { return Common::SignedAngle(x, y, v.x, v.y); }

  double x = 0.0, y = 0.0;
};

}  // namespace Bilinear
}  // namespace MIR
