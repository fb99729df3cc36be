// vnl_diag_matrix<T>: a square diagonal matrix stored as its diagonal.
#pragma once

#include <cassert>
#include <cstddef>

#include <vnl/vnl_matrix.h>
#include <vnl/vnl_vector.h>

template <class T>
class vnl_diag_matrix {
 public:
  vnl_diag_matrix() = default;
  explicit vnl_diag_matrix(size_t n, const T& value = T(0)) : diagonal_(n, value) {}
  explicit vnl_diag_matrix(const vnl_vector<T>& d) : diagonal_(d) {}

  size_t rows() const { return diagonal_.size(); }
  size_t cols() const { return diagonal_.size(); }
  size_t columns() const { return diagonal_.size(); }
  size_t size() const { return diagonal_.size(); }
  void set_size(size_t n) { diagonal_.set_size(n); }

  T& operator[](size_t i) { return diagonal_[i]; }
  const T& operator[](size_t i) const { return diagonal_[i]; }
  T& operator()(size_t i) { return diagonal_(i); }
  const T& operator()(size_t i) const { return diagonal_(i); }
  // Reading off the diagonal gives 0; entries are written through put, [] or (i).
  T operator()(size_t i, size_t j) const { return i == j ? diagonal_(i) : T(0); }
  T get(size_t i, size_t j) const { return (*this)(i, j); }
  // Off-diagonal writes are ignored: the matrix cannot hold them.
  void put(size_t i, size_t j, const T& v) {
    assert(i == j);
    if (i == j) diagonal_(i) = v;
  }

  vnl_vector<T>& diagonal() { return diagonal_; }
  const vnl_vector<T>& diagonal() const { return diagonal_; }
  T* data_block() { return diagonal_.data_block(); }
  const T* data_block() const { return diagonal_.data_block(); }

  vnl_diag_matrix& fill(const T& v) { diagonal_.fill(v); return *this; }
  vnl_diag_matrix& invert_in_place() {
    for (T& v : diagonal_) v = T(1) / v;
    return *this;
  }
  T determinant() const { T d(1); for (const T& v : diagonal_) d *= v; return d; }

  vnl_matrix<T> as_matrix() const {
    vnl_matrix<T> m(size(), size(), T(0));
    m.set_diagonal(diagonal_);
    return m;
  }
  vnl_matrix<T> as_ref() const { return as_matrix(); }
  operator vnl_matrix<T>() const { return as_matrix(); }

 private:
  vnl_vector<T> diagonal_;
};

template <class T>
vnl_matrix<T> operator*(const vnl_matrix<T>& a, const vnl_diag_matrix<T>& d) {
  assert(a.cols() == d.size());
  vnl_matrix<T> r(a);
  for (size_t c = 0; c < d.size(); ++c) r.scale_column(c, d[c]);
  return r;
}
template <class T>
vnl_matrix<T> operator*(const vnl_diag_matrix<T>& d, const vnl_matrix<T>& a) {
  assert(a.rows() == d.size());
  vnl_matrix<T> r(a);
  for (size_t i = 0; i < d.size(); ++i) r.scale_row(i, d[i]);
  return r;
}
template <class T>
vnl_vector<T> operator*(const vnl_diag_matrix<T>& d, const vnl_vector<T>& v) { return element_product(d.diagonal(), v); }
