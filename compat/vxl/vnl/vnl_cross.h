// Cross products of 2- and 3-vectors, fixed and dynamic.
#pragma once

#include <cassert>

#include <vnl/vnl_vector.h>
#include <vnl/vnl_vector_fixed.h>

// The z component of the 3-D cross product of two planar vectors.
template <class T>
T vnl_cross_2d(const vnl_vector_fixed<T, 2>& a, const vnl_vector_fixed<T, 2>& b) {
  return a[0] * b[1] - a[1] * b[0];
}
template <class T>
T vnl_cross_2d(const vnl_vector<T>& a, const vnl_vector<T>& b) {
  assert(a.size() == 2 && b.size() == 2);
  return a[0] * b[1] - a[1] * b[0];
}

template <class T>
vnl_vector<T> vnl_cross_3d(const vnl_vector<T>& a, const vnl_vector<T>& b) {
  assert(a.size() == 3 && b.size() == 3);
  return vnl_vector<T>{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
template <class T>
vnl_vector_fixed<T, 3> vnl_cross_3d(const vnl_vector<T>& a, const vnl_vector_fixed<T, 3>& b) {
  return vnl_cross_3d(vnl_vector_fixed<T, 3>(a), b);
}
template <class T>
vnl_vector_fixed<T, 3> vnl_cross_3d(const vnl_vector_fixed<T, 3>& a, const vnl_vector<T>& b) {
  return vnl_cross_3d(a, vnl_vector_fixed<T, 3>(b));
}
