// vnl_matrix<T>: a dynamically sized row-major numeric matrix with VXL's interface.
#pragma once

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <ostream>
#include <type_traits>
#include <vector>

#include <vnl/vnl_vector.h>

template <class T>
class vnl_matrix {
 public:
  using element_type = T;
  using iterator = T*;
  using const_iterator = const T*;
  using abs_t = typename vnl_vector<T>::abs_t;

  vnl_matrix() = default;
  vnl_matrix(size_t r, size_t c) : rows_(r), cols_(c), data_(r * c, T(0)) {}
  vnl_matrix(size_t r, size_t c, const T& value) : rows_(r), cols_(c), data_(r * c, value) {}
  // Row-major values, as VXL reads them.
  vnl_matrix(const T* values, size_t r, size_t c) : rows_(r), cols_(c), data_(values, values + r * c) {}

  size_t rows() const { return rows_; }
  size_t cols() const { return cols_; }
  size_t columns() const { return cols_; }
  size_t size() const { return data_.size(); }
  bool empty() const { return data_.empty(); }
  // Resizing discards the old contents, as VXL's does.
  bool set_size(size_t r, size_t c) {
    if (r == rows_ && c == cols_) return false;
    rows_ = r;
    cols_ = c;
    data_.assign(r * c, T(0));
    return true;
  }
  void clear() { rows_ = cols_ = 0; data_.clear(); }

  T* operator[](size_t r) { return data_.data() + r * cols_; }
  const T* operator[](size_t r) const { return data_.data() + r * cols_; }
  T& operator()(size_t r, size_t c) { assert(r < rows_ && c < cols_); return data_[r * cols_ + c]; }
  const T& operator()(size_t r, size_t c) const { assert(r < rows_ && c < cols_); return data_[r * cols_ + c]; }
  T get(size_t r, size_t c) const { return (*this)(r, c); }
  void put(size_t r, size_t c, const T& v) { (*this)(r, c) = v; }

  T* data_block() { return data_.data(); }
  const T* data_block() const { return data_.data(); }
  iterator begin() { return data_.data(); }
  iterator end() { return data_.data() + data_.size(); }
  const_iterator begin() const { return data_.data(); }
  const_iterator end() const { return data_.data() + data_.size(); }

  vnl_matrix& fill(const T& v) { std::fill(data_.begin(), data_.end(), v); return *this; }
  vnl_matrix& fill_diagonal(const T& v) {
    for (size_t i = 0; i < std::min(rows_, cols_); ++i) (*this)(i, i) = v;
    return *this;
  }
  vnl_matrix& set_diagonal(const vnl_vector<T>& d) {
    assert(d.size() >= std::min(rows_, cols_));
    for (size_t i = 0; i < std::min(rows_, cols_); ++i) (*this)(i, i) = d[i];
    return *this;
  }
  vnl_matrix& set_identity() { fill(T(0)); return fill_diagonal(T(1)); }
  vnl_matrix& copy_in(const T* p) { std::copy(p, p + size(), data_.begin()); return *this; }
  vnl_matrix& set(const T* p) { return copy_in(p); }
  void copy_out(T* p) const { std::copy(data_.begin(), data_.end(), p); }

  vnl_matrix transpose() const {
    vnl_matrix t(cols_, rows_);
    for (size_t r = 0; r < rows_; ++r)
      for (size_t c = 0; c < cols_; ++c) t(c, r) = (*this)(r, c);
    return t;
  }
  vnl_matrix conjugate_transpose() const { return transpose(); }
  vnl_matrix& inplace_transpose() { *this = transpose(); return *this; }

  vnl_vector<T> get_row(size_t r) const { return vnl_vector<T>((*this)[r], cols_); }
  vnl_vector<T> get_column(size_t c) const {
    vnl_vector<T> v(rows_);
    for (size_t r = 0; r < rows_; ++r) v[r] = (*this)(r, c);
    return v;
  }
  vnl_vector<T> get_diagonal() const {
    vnl_vector<T> v(std::min(rows_, cols_));
    for (size_t i = 0; i < v.size(); ++i) v[i] = (*this)(i, i);
    return v;
  }
  vnl_matrix& set_row(size_t r, const vnl_vector<T>& v) {
    assert(v.size() == cols_);
    std::copy(v.begin(), v.end(), (*this)[r]);
    return *this;
  }
  vnl_matrix& set_row(size_t r, const T* v) { std::copy(v, v + cols_, (*this)[r]); return *this; }
  vnl_matrix& set_column(size_t c, const vnl_vector<T>& v) {
    assert(v.size() == rows_);
    for (size_t r = 0; r < rows_; ++r) (*this)(r, c) = v[r];
    return *this;
  }
  vnl_matrix& set_column(size_t c, const T* v) {
    for (size_t r = 0; r < rows_; ++r) (*this)(r, c) = v[r];
    return *this;
  }
  vnl_matrix extract(size_t r, size_t c, size_t top = 0, size_t left = 0) const {
    assert(top + r <= rows_ && left + c <= cols_);
    vnl_matrix m(r, c);
    for (size_t i = 0; i < r; ++i)
      for (size_t j = 0; j < c; ++j) m(i, j) = (*this)(top + i, left + j);
    return m;
  }
  vnl_matrix& update(const vnl_matrix& m, size_t top = 0, size_t left = 0) {
    assert(top + m.rows() <= rows_ && left + m.cols() <= cols_);
    for (size_t i = 0; i < m.rows(); ++i)
      for (size_t j = 0; j < m.cols(); ++j) (*this)(top + i, left + j) = m(i, j);
    return *this;
  }
  vnl_matrix& scale_row(size_t r, const T& s) { for (size_t c = 0; c < cols_; ++c) (*this)(r, c) *= s; return *this; }
  vnl_matrix& scale_column(size_t c, const T& s) { for (size_t r = 0; r < rows_; ++r) (*this)(r, c) *= s; return *this; }

  vnl_matrix& operator+=(const T& s) { for (T& v : data_) v += s; return *this; }
  vnl_matrix& operator-=(const T& s) { for (T& v : data_) v -= s; return *this; }
  vnl_matrix& operator*=(const T& s) { for (T& v : data_) v *= s; return *this; }
  vnl_matrix& operator/=(const T& s) { for (T& v : data_) v /= s; return *this; }
  vnl_matrix& operator+=(const vnl_matrix& o) {
    assert(o.rows_ == rows_ && o.cols_ == cols_);
    for (size_t i = 0; i < data_.size(); ++i) data_[i] += o.data_[i];
    return *this;
  }
  vnl_matrix& operator-=(const vnl_matrix& o) {
    assert(o.rows_ == rows_ && o.cols_ == cols_);
    for (size_t i = 0; i < data_.size(); ++i) data_[i] -= o.data_[i];
    return *this;
  }
  vnl_matrix& operator*=(const vnl_matrix& o);
  vnl_matrix operator-() const { vnl_matrix r(*this); for (T& v : r.data_) v = -v; return r; }
  const vnl_matrix& operator+() const { return *this; }

  abs_t frobenius_norm() const {
    abs_t s(0);
    for (const T& v : data_) s += abs_t(std::abs(v)) * abs_t(std::abs(v));
    return std::sqrt(s);
  }
  abs_t fro_norm() const { return frobenius_norm(); }
  abs_t absolute_value_max() const { abs_t m(0); for (const T& v : data_) m = std::max(m, abs_t(std::abs(v))); return m; }
  T max_value() const { return *std::max_element(data_.begin(), data_.end()); }
  T min_value() const { return *std::min_element(data_.begin(), data_.end()); }
  bool is_identity() const { return is_identity(0.0); }
  bool is_identity(double tol) const {
    for (size_t r = 0; r < rows_; ++r)
      for (size_t c = 0; c < cols_; ++c)
        if (std::abs((*this)(r, c) - T(r == c ? 1 : 0)) > tol) return false;
    return true;
  }
  bool is_zero() const { for (const T& v : data_) if (v != T(0)) return false; return true; }
  bool is_finite() const { for (const T& v : data_) if (!std::isfinite(v)) return false; return true; }
  bool has_nans() const { for (const T& v : data_) if (std::isnan(v)) return true; return false; }

  bool operator==(const vnl_matrix& o) const { return rows_ == o.rows_ && cols_ == o.cols_ && data_ == o.data_; }
  bool operator!=(const vnl_matrix& o) const { return !(*this == o); }

 private:
  size_t rows_ = 0;
  size_t cols_ = 0;
  std::vector<T> data_;
};

template <class T>
vnl_matrix<T> operator*(const vnl_matrix<T>& a, const vnl_matrix<T>& b) {
  assert(a.cols() == b.rows());
  vnl_matrix<T> r(a.rows(), b.cols());
  for (size_t i = 0; i < a.rows(); ++i)
    for (size_t k = 0; k < a.cols(); ++k) {
      const T aik = a(i, k);
      for (size_t j = 0; j < b.cols(); ++j) r(i, j) += aik * b(k, j);
    }
  return r;
}
template <class T>
vnl_matrix<T>& vnl_matrix<T>::operator*=(const vnl_matrix<T>& o) { *this = *this * o; return *this; }

template <class T>
vnl_vector<T> operator*(const vnl_matrix<T>& m, const vnl_vector<T>& v) {
  assert(m.cols() == v.size());
  vnl_vector<T> r(m.rows());
  for (size_t i = 0; i < m.rows(); ++i) {
    T s(0);
    for (size_t j = 0; j < m.cols(); ++j) s += m(i, j) * v[j];
    r[i] = s;
  }
  return r;
}
// A row vector times a matrix.
template <class T>
vnl_vector<T> operator*(const vnl_vector<T>& v, const vnl_matrix<T>& m) {
  assert(m.rows() == v.size());
  vnl_vector<T> r(m.cols());
  for (size_t i = 0; i < m.rows(); ++i)
    for (size_t j = 0; j < m.cols(); ++j) r[j] += v[i] * m(i, j);
  return r;
}

template <class T> vnl_matrix<T> operator+(vnl_matrix<T> a, const vnl_matrix<T>& b) { return a += b; }
template <class T> vnl_matrix<T> operator-(vnl_matrix<T> a, const vnl_matrix<T>& b) { return a -= b; }
template <class T> vnl_matrix<T> operator+(vnl_matrix<T> a, const std::type_identity_t<T>& s) { return a += s; }
template <class T> vnl_matrix<T> operator-(vnl_matrix<T> a, const std::type_identity_t<T>& s) { return a -= s; }
template <class T> vnl_matrix<T> operator*(vnl_matrix<T> a, const std::type_identity_t<T>& s) { return a *= s; }
template <class T> vnl_matrix<T> operator/(vnl_matrix<T> a, const std::type_identity_t<T>& s) { return a /= s; }
template <class T> vnl_matrix<T> operator+(const std::type_identity_t<T>& s, vnl_matrix<T> a) { return a += s; }
template <class T> vnl_matrix<T> operator*(const std::type_identity_t<T>& s, vnl_matrix<T> a) { return a *= s; }
template <class T> vnl_matrix<T> operator-(const std::type_identity_t<T>& s, const vnl_matrix<T>& a) { return -a + s; }

template <class T>
vnl_matrix<T> outer_product(const vnl_vector<T>& a, const vnl_vector<T>& b) {
  vnl_matrix<T> r(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i)
    for (size_t j = 0; j < b.size(); ++j) r(i, j) = a[i] * b[j];
  return r;
}

template <class T>
vnl_matrix<T> element_product(const vnl_matrix<T>& a, const vnl_matrix<T>& b) {
  assert(a.rows() == b.rows() && a.cols() == b.cols());
  vnl_matrix<T> r(a);
  for (size_t i = 0; i < r.size(); ++i) r.data_block()[i] *= b.data_block()[i];
  return r;
}

template <class T>
std::ostream& operator<<(std::ostream& os, const vnl_matrix<T>& m) {
  for (size_t r = 0; r < m.rows(); ++r) {
    for (size_t c = 0; c < m.cols(); ++c) os << (c ? " " : "") << m(r, c);
    os << '\n';
  }
  return os;
}
