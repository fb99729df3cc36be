// vgl_homg_point_2d<T>: a point of the projective plane in homogeneous coordinates (x, y, w).
#pragma once

#include <algorithm>
#include <cmath>
#include <ostream>

template <class T>
class vgl_homg_point_2d {
 public:
  vgl_homg_point_2d() = default;
  vgl_homg_point_2d(T x, T y, T w = T(1)) : x_(x), y_(y), w_(w) {}
  explicit vgl_homg_point_2d(const T v[3]) : x_(v[0]), y_(v[1]), w_(v[2]) {}

  T x() const { return x_; }
  T y() const { return y_; }
  T w() const { return w_; }
  void set(T x, T y, T w = T(1)) { x_ = x; y_ = y; w_ = w; }
  void set(const T v[3]) { set(v[0], v[1], v[2]); }

  // A point at infinity: |w| <= tol x max(|x|, |y|).
  bool ideal(T tol = T(0)) const {
    return std::abs(w_) <= tol * std::max(std::abs(x_), std::abs(y_));
  }

  // Equal as projective points: proportional coordinates.
  bool operator==(const vgl_homg_point_2d& o) const {
    return x_ * o.w_ == o.x_ * w_ && y_ * o.w_ == o.y_ * w_ && x_ * o.y_ == o.x_ * y_ &&
           (x_ != T(0) || y_ != T(0) || w_ != T(0)) == (o.x_ != T(0) || o.y_ != T(0) || o.w_ != T(0));
  }
  bool operator!=(const vgl_homg_point_2d& o) const { return !(*this == o); }

 private:
  T x_ = T(0);
  T y_ = T(0);
  T w_ = T(1);
};

template <class T>
std::ostream& operator<<(std::ostream& os, const vgl_homg_point_2d<T>& p) {
  return os << "<vgl_homg_point_2d (" << p.x() << ',' << p.y() << ',' << p.w() << ") >";
}
