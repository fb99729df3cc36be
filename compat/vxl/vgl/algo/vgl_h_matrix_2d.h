// vgl_h_matrix_2d<T>: a plane projective transformation (homography) as a 3 x 3 matrix acting on
// homogeneous points by p' = H p.
#pragma once

#include <vgl/vgl_homg_point_2d.h>
#include <vnl/vnl_det.h>
#include <vnl/vnl_matrix_fixed.h>

template <class T>
class vgl_h_matrix_2d {
 public:
  // The identity.
  vgl_h_matrix_2d() { t12_matrix_.set_identity(); }
  vgl_h_matrix_2d(const vnl_matrix_fixed<T, 3, 3>& M) : t12_matrix_(M) {}
  // Nine values, row-major.
  explicit vgl_h_matrix_2d(const T* H) : t12_matrix_(H) {}

  vgl_homg_point_2d<T> operator()(const vgl_homg_point_2d<T>& p) const {
    const vnl_matrix_fixed<T, 3, 3>& m = t12_matrix_;
    return vgl_homg_point_2d<T>(m(0, 0) * p.x() + m(0, 1) * p.y() + m(0, 2) * p.w(),
                                m(1, 0) * p.x() + m(1, 1) * p.y() + m(1, 2) * p.w(),
                                m(2, 0) * p.x() + m(2, 1) * p.y() + m(2, 2) * p.w());
  }
  vgl_homg_point_2d<T> operator*(const vgl_homg_point_2d<T>& p) const { return (*this)(p); }
  // The point that maps onto q.
  vgl_homg_point_2d<T> preimage(const vgl_homg_point_2d<T>& q) const { return get_inverse()(q); }

  // Composition: (A * B)(p) = A(B(p)).
  vgl_h_matrix_2d operator*(const vgl_h_matrix_2d& o) const { return vgl_h_matrix_2d(t12_matrix_ * o.t12_matrix_); }
  bool operator==(const vgl_h_matrix_2d& o) const { return t12_matrix_ == o.t12_matrix_; }

  const vnl_matrix_fixed<T, 3, 3>& get_matrix() const { return t12_matrix_; }
  T get(unsigned int row, unsigned int col) const { return t12_matrix_(row, col); }
  // Nine values, row-major.
  void get(T* H) const { t12_matrix_.copy_out(H); }
  void get(vnl_matrix_fixed<T, 3, 3>* M) const { *M = t12_matrix_; }

  vgl_h_matrix_2d& set(const T* H) { t12_matrix_.copy_in(H); return *this; }
  vgl_h_matrix_2d& set(const vnl_matrix_fixed<T, 3, 3>& M) { t12_matrix_ = M; return *this; }
  vgl_h_matrix_2d& set(unsigned int row, unsigned int col, T value) { t12_matrix_(row, col) = value; return *this; }
  vgl_h_matrix_2d& set_identity() { t12_matrix_.set_identity(); return *this; }

  bool is_identity() const { return t12_matrix_.is_identity(); }

  // The inverse transformation; a singular matrix gives the zero matrix.
  vgl_h_matrix_2d get_inverse() const {
    const vnl_matrix_fixed<T, 3, 3>& m = t12_matrix_;
    const T det = vnl_det(m);
    vnl_matrix_fixed<T, 3, 3> inv;
    if (det == T(0)) return vgl_h_matrix_2d(inv);
    inv(0, 0) = m(1, 1) * m(2, 2) - m(1, 2) * m(2, 1);
    inv(0, 1) = m(0, 2) * m(2, 1) - m(0, 1) * m(2, 2);
    inv(0, 2) = m(0, 1) * m(1, 2) - m(0, 2) * m(1, 1);
    inv(1, 0) = m(1, 2) * m(2, 0) - m(1, 0) * m(2, 2);
    inv(1, 1) = m(0, 0) * m(2, 2) - m(0, 2) * m(2, 0);
    inv(1, 2) = m(0, 2) * m(1, 0) - m(0, 0) * m(1, 2);
    inv(2, 0) = m(1, 0) * m(2, 1) - m(1, 1) * m(2, 0);
    inv(2, 1) = m(0, 1) * m(2, 0) - m(0, 0) * m(2, 1);
    inv(2, 2) = m(0, 0) * m(1, 1) - m(0, 1) * m(1, 0);
    inv /= det;
    return vgl_h_matrix_2d(inv);
  }

 private:
  vnl_matrix_fixed<T, 3, 3> t12_matrix_;
};
