// Determinants: closed forms for 1 x 1 to 4 x 4, elimination for larger dynamic matrices.
#pragma once

#include <cassert>
#include <cmath>
#include <cstddef>
#include <utility>

#include <vnl/vnl_matrix.h>
#include <vnl/vnl_matrix_fixed.h>

template <class T>
T vnl_det(const T* row0, const T* row1) {
  return row0[0] * row1[1] - row0[1] * row1[0];
}

template <class T>
T vnl_det(const T* row0, const T* row1, const T* row2) {
  return row0[0] * (row1[1] * row2[2] - row1[2] * row2[1])
       - row0[1] * (row1[0] * row2[2] - row1[2] * row2[0])
       + row0[2] * (row1[0] * row2[1] - row1[1] * row2[0]);
}

template <class T>
T vnl_det(const T* row0, const T* row1, const T* row2, const T* row3) {
  // Laplace expansion along the first row, with the 2 x 2 minors of the last two rows shared.
  const T m01 = row2[0] * row3[1] - row2[1] * row3[0];
  const T m02 = row2[0] * row3[2] - row2[2] * row3[0];
  const T m03 = row2[0] * row3[3] - row2[3] * row3[0];
  const T m12 = row2[1] * row3[2] - row2[2] * row3[1];
  const T m13 = row2[1] * row3[3] - row2[3] * row3[1];
  const T m23 = row2[2] * row3[3] - row2[3] * row3[2];
  return row0[0] * (row1[1] * m23 - row1[2] * m13 + row1[3] * m12)
       - row0[1] * (row1[0] * m23 - row1[2] * m03 + row1[3] * m02)
       + row0[2] * (row1[0] * m13 - row1[1] * m03 + row1[3] * m01)
       - row0[3] * (row1[0] * m12 - row1[1] * m02 + row1[2] * m01);
}

template <class T> T vnl_det(const vnl_matrix_fixed<T, 1, 1>& m) { return m(0, 0); }
template <class T> T vnl_det(const vnl_matrix_fixed<T, 2, 2>& m) { return vnl_det(m[0], m[1]); }
template <class T> T vnl_det(const vnl_matrix_fixed<T, 3, 3>& m) { return vnl_det(m[0], m[1], m[2]); }
template <class T> T vnl_det(const vnl_matrix_fixed<T, 4, 4>& m) { return vnl_det(m[0], m[1], m[2], m[3]); }

// Square matrices of any size; not square gives 0.
template <class T>
T vnl_det(const vnl_matrix<T>& m) {
  if (m.rows() != m.cols()) return T(0);
  switch (m.rows()) {
    case 0: return T(1);
    case 1: return m(0, 0);
    case 2: return vnl_det(m[0], m[1]);
    case 3: return vnl_det(m[0], m[1], m[2]);
    case 4: return vnl_det(m[0], m[1], m[2], m[3]);
    default: break;
  }
  vnl_matrix<T> a(m);
  const size_t n = a.rows();
  T det(1);
  for (size_t k = 0; k < n; ++k) {
    size_t pivot = k;
    for (size_t r = k + 1; r < n; ++r)
      if (std::abs(a(r, k)) > std::abs(a(pivot, k))) pivot = r;
    if (a(pivot, k) == T(0)) return T(0);
    if (pivot != k) {
      for (size_t c = 0; c < n; ++c) std::swap(a(k, c), a(pivot, c));
      det = -det;
    }
    det *= a(k, k);
    for (size_t r = k + 1; r < n; ++r) {
      const T f = a(r, k) / a(k, k);
      for (size_t c = k; c < n; ++c) a(r, c) -= f * a(k, c);
    }
  }
  return det;
}
