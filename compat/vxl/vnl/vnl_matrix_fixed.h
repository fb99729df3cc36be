// vnl_matrix_fixed<T, R, C>: a row-major numeric matrix whose shape is part of its type, with
// VXL's interface.
#pragma once

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <ostream>
#include <type_traits>

#include <vnl/vnl_matrix.h>
#include <vnl/vnl_vector.h>
#include <vnl/vnl_vector_fixed.h>

template <class T, unsigned int R, unsigned int C>
class vnl_matrix_fixed {
  static_assert(R > 0 && C > 0, "vnl_matrix_fixed needs at least one element");

 public:
  using element_type = T;
  using iterator = T*;
  using const_iterator = const T*;
  using abs_t = typename vnl_vector<T>::abs_t;

  // Zero-filled: VXL leaves the elements undefined, and nothing may rely on that.
  vnl_matrix_fixed() = default;
  explicit vnl_matrix_fixed(const T& v) { fill(v); }
  // Row-major values.
  explicit vnl_matrix_fixed(const T* values) { copy_in(values); }
  vnl_matrix_fixed(const vnl_matrix<T>& m) {
    assert(m.rows() == R && m.cols() == C);
    if (m.rows() == R && m.cols() == C) copy_in(m.data_block());
  }
  vnl_matrix_fixed& operator=(const vnl_matrix<T>& m) { return *this = vnl_matrix_fixed(m); }

  static constexpr size_t rows() { return R; }
  static constexpr size_t cols() { return C; }
  static constexpr size_t columns() { return C; }
  static constexpr size_t size() { return size_t(R) * C; }

  T* operator[](size_t r) { return data_[r]; }
  const T* operator[](size_t r) const { return data_[r]; }
  T& operator()(size_t r, size_t c) { assert(r < R && c < C); return data_[r][c]; }
  const T& operator()(size_t r, size_t c) const { assert(r < R && c < C); return data_[r][c]; }
  T get(size_t r, size_t c) const { return (*this)(r, c); }
  void put(size_t r, size_t c, const T& v) { (*this)(r, c) = v; }

  T* data_block() { return data_[0]; }
  const T* data_block() const { return data_[0]; }
  iterator begin() { return data_block(); }
  iterator end() { return data_block() + size(); }
  const_iterator begin() const { return data_block(); }
  const_iterator end() const { return data_block() + size(); }

  vnl_matrix_fixed& fill(const T& v) { std::fill(begin(), end(), v); return *this; }
  vnl_matrix_fixed& fill_diagonal(const T& v) {
    for (size_t i = 0; i < std::min(R, C); ++i) data_[i][i] = v;
    return *this;
  }
  vnl_matrix_fixed& set_diagonal(const vnl_vector<T>& d) {
    assert(d.size() >= std::min(R, C));
    for (size_t i = 0; i < std::min(R, C); ++i) data_[i][i] = d[i];
    return *this;
  }
  vnl_matrix_fixed& set_identity() { fill(T(0)); return fill_diagonal(T(1)); }
  vnl_matrix_fixed& copy_in(const T* p) { std::copy(p, p + size(), begin()); return *this; }
  vnl_matrix_fixed& set(const T* p) { return copy_in(p); }
  void copy_out(T* p) const { std::copy(begin(), end(), p); }

  vnl_matrix_fixed<T, C, R> transpose() const {
    vnl_matrix_fixed<T, C, R> t;
    for (size_t r = 0; r < R; ++r)
      for (size_t c = 0; c < C; ++c) t(c, r) = data_[r][c];
    return t;
  }
  vnl_matrix_fixed& inplace_transpose() requires(R == C) {
    for (size_t r = 0; r < R; ++r)
      for (size_t c = r + 1; c < C; ++c) std::swap(data_[r][c], data_[c][r]);
    return *this;
  }

  vnl_vector_fixed<T, C> get_row(size_t r) const { return vnl_vector_fixed<T, C>(data_[r]); }
  vnl_vector_fixed<T, R> get_column(size_t c) const {
    vnl_vector_fixed<T, R> v;
    for (size_t r = 0; r < R; ++r) v[r] = data_[r][c];
    return v;
  }
  vnl_vector<T> get_diagonal() const {
    vnl_vector<T> v(std::min(R, C));
    for (size_t i = 0; i < v.size(); ++i) v[i] = data_[i][i];
    return v;
  }
  vnl_matrix_fixed& set_row(size_t r, const vnl_vector_fixed<T, C>& v) { std::copy(v.begin(), v.end(), data_[r]); return *this; }
  vnl_matrix_fixed& set_row(size_t r, const T* v) { std::copy(v, v + C, data_[r]); return *this; }
  vnl_matrix_fixed& set_column(size_t c, const vnl_vector_fixed<T, R>& v) {
    for (size_t r = 0; r < R; ++r) data_[r][c] = v[r];
    return *this;
  }
  vnl_matrix_fixed& set_column(size_t c, const T* v) {
    for (size_t r = 0; r < R; ++r) data_[r][c] = v[r];
    return *this;
  }
  vnl_matrix<T> extract(size_t r, size_t c, size_t top = 0, size_t left = 0) const {
    return as_matrix().extract(r, c, top, left);
  }
  vnl_matrix_fixed& update(const vnl_matrix<T>& m, size_t top = 0, size_t left = 0) {
    assert(top + m.rows() <= R && left + m.cols() <= C);
    for (size_t i = 0; i < m.rows(); ++i)
      for (size_t j = 0; j < m.cols(); ++j) data_[top + i][left + j] = m(i, j);
    return *this;
  }
  vnl_matrix_fixed& scale_row(size_t r, const T& s) { for (size_t c = 0; c < C; ++c) data_[r][c] *= s; return *this; }
  vnl_matrix_fixed& scale_column(size_t c, const T& s) { for (size_t r = 0; r < R; ++r) data_[r][c] *= s; return *this; }

  vnl_matrix<T> as_matrix() const { return vnl_matrix<T>(data_block(), R, C); }
  vnl_matrix<T> as_ref() const { return as_matrix(); }
  operator vnl_matrix<T>() const { return as_matrix(); }

  vnl_matrix_fixed& operator+=(const T& s) { for (T& v : *this) v += s; return *this; }
  vnl_matrix_fixed& operator-=(const T& s) { for (T& v : *this) v -= s; return *this; }
  vnl_matrix_fixed& operator*=(const T& s) { for (T& v : *this) v *= s; return *this; }
  vnl_matrix_fixed& operator/=(const T& s) { for (T& v : *this) v /= s; return *this; }
  vnl_matrix_fixed& operator+=(const vnl_matrix_fixed& o) {
    for (size_t i = 0; i < size(); ++i) begin()[i] += o.begin()[i];
    return *this;
  }
  vnl_matrix_fixed& operator-=(const vnl_matrix_fixed& o) {
    for (size_t i = 0; i < size(); ++i) begin()[i] -= o.begin()[i];
    return *this;
  }
  vnl_matrix_fixed& operator*=(const vnl_matrix_fixed<T, C, C>& o) { return *this = *this * o; }
  vnl_matrix_fixed operator-() const { vnl_matrix_fixed r(*this); for (T& v : r) v = -v; return r; }
  const vnl_matrix_fixed& operator+() const { return *this; }

  abs_t frobenius_norm() const {
    abs_t s(0);
    for (const T& v : *this) s += abs_t(std::abs(v)) * abs_t(std::abs(v));
    return std::sqrt(s);
  }
  abs_t fro_norm() const { return frobenius_norm(); }
  abs_t absolute_value_max() const { abs_t m(0); for (const T& v : *this) m = std::max(m, abs_t(std::abs(v))); return m; }
  T max_value() const { return *std::max_element(begin(), end()); }
  T min_value() const { return *std::min_element(begin(), end()); }
  bool is_identity() const { return is_identity(0.0); }
  bool is_identity(double tol) const {
    for (size_t r = 0; r < R; ++r)
      for (size_t c = 0; c < C; ++c)
        if (std::abs(data_[r][c] - T(r == c ? 1 : 0)) > tol) return false;
    return true;
  }
  bool is_zero() const { for (const T& v : *this) if (v != T(0)) return false; return true; }
  bool is_finite() const { for (const T& v : *this) if (!std::isfinite(v)) return false; return true; }
  bool has_nans() const { for (const T& v : *this) if (std::isnan(v)) return true; return false; }

  bool operator==(const vnl_matrix_fixed& o) const { return std::equal(begin(), end(), o.begin()); }
  bool operator!=(const vnl_matrix_fixed& o) const { return !(*this == o); }

 private:
  T data_[R][C] = {};
};

template <class T, unsigned R, unsigned K, unsigned C>
vnl_matrix_fixed<T, R, C> operator*(const vnl_matrix_fixed<T, R, K>& a, const vnl_matrix_fixed<T, K, C>& b) {
  vnl_matrix_fixed<T, R, C> r;
  for (size_t i = 0; i < R; ++i)
    for (size_t j = 0; j < C; ++j) {
      T s(0);
      for (size_t k = 0; k < K; ++k) s += a(i, k) * b(k, j);
      r(i, j) = s;
    }
  return r;
}
template <class T, unsigned R, unsigned C>
vnl_vector_fixed<T, R> operator*(const vnl_matrix_fixed<T, R, C>& m, const vnl_vector_fixed<T, C>& v) {
  vnl_vector_fixed<T, R> r;
  for (size_t i = 0; i < R; ++i) {
    T s(0);
    for (size_t j = 0; j < C; ++j) s += m(i, j) * v[j];
    r[i] = s;
  }
  return r;
}
// A row vector times a matrix.
template <class T, unsigned R, unsigned C>
vnl_vector_fixed<T, C> operator*(const vnl_vector_fixed<T, R>& v, const vnl_matrix_fixed<T, R, C>& m) {
  vnl_vector_fixed<T, C> r;
  for (size_t i = 0; i < R; ++i)
    for (size_t j = 0; j < C; ++j) r[j] += v[i] * m(i, j);
  return r;
}
// Mixed products with the dynamic types give dynamic results.
template <class T, unsigned R, unsigned C>
vnl_matrix<T> operator*(const vnl_matrix_fixed<T, R, C>& a, const vnl_matrix<T>& b) { return a.as_matrix() * b; }
template <class T, unsigned R, unsigned C>
vnl_matrix<T> operator*(const vnl_matrix<T>& a, const vnl_matrix_fixed<T, R, C>& b) { return a * b.as_matrix(); }
template <class T, unsigned R, unsigned C>
vnl_vector<T> operator*(const vnl_matrix_fixed<T, R, C>& m, const vnl_vector<T>& v) { return m.as_matrix() * v; }
template <class T, unsigned N>
vnl_vector<T> operator*(const vnl_matrix<T>& m, const vnl_vector_fixed<T, N>& v) { return m * v.as_vector(); }

template <class T, unsigned R, unsigned C>
vnl_matrix_fixed<T, R, C> operator+(vnl_matrix_fixed<T, R, C> a, const vnl_matrix_fixed<T, R, C>& b) { return a += b; }
template <class T, unsigned R, unsigned C>
vnl_matrix_fixed<T, R, C> operator-(vnl_matrix_fixed<T, R, C> a, const vnl_matrix_fixed<T, R, C>& b) { return a -= b; }
template <class T, unsigned R, unsigned C>
vnl_matrix_fixed<T, R, C> operator+(vnl_matrix_fixed<T, R, C> a, const std::type_identity_t<T>& s) { return a += s; }
template <class T, unsigned R, unsigned C>
vnl_matrix_fixed<T, R, C> operator-(vnl_matrix_fixed<T, R, C> a, const std::type_identity_t<T>& s) { return a -= s; }
template <class T, unsigned R, unsigned C>
vnl_matrix_fixed<T, R, C> operator*(vnl_matrix_fixed<T, R, C> a, const std::type_identity_t<T>& s) { return a *= s; }
template <class T, unsigned R, unsigned C>
vnl_matrix_fixed<T, R, C> operator/(vnl_matrix_fixed<T, R, C> a, const std::type_identity_t<T>& s) { return a /= s; }
template <class T, unsigned R, unsigned C>
vnl_matrix_fixed<T, R, C> operator+(const std::type_identity_t<T>& s, vnl_matrix_fixed<T, R, C> a) { return a += s; }
template <class T, unsigned R, unsigned C>
vnl_matrix_fixed<T, R, C> operator*(const std::type_identity_t<T>& s, vnl_matrix_fixed<T, R, C> a) { return a *= s; }
template <class T, unsigned R, unsigned C>
vnl_matrix_fixed<T, R, C> operator-(const std::type_identity_t<T>& s, const vnl_matrix_fixed<T, R, C>& a) { return -a + s; }

template <class T, unsigned R, unsigned C>
vnl_matrix_fixed<T, R, C> outer_product(const vnl_vector_fixed<T, R>& a, const vnl_vector_fixed<T, C>& b) {
  vnl_matrix_fixed<T, R, C> r;
  for (size_t i = 0; i < R; ++i)
    for (size_t j = 0; j < C; ++j) r(i, j) = a[i] * b[j];
  return r;
}

template <class T, unsigned R, unsigned C>
vnl_matrix_fixed<T, R, C> element_product(const vnl_matrix_fixed<T, R, C>& a, const vnl_matrix_fixed<T, R, C>& b) {
  vnl_matrix_fixed<T, R, C> r(a);
  for (size_t i = 0; i < r.size(); ++i) r.begin()[i] *= b.begin()[i];
  return r;
}

template <class T, unsigned R, unsigned C>
std::ostream& operator<<(std::ostream& os, const vnl_matrix_fixed<T, R, C>& m) {
  for (size_t r = 0; r < R; ++r) {
    for (size_t c = 0; c < C; ++c) os << (c ? " " : "") << m(r, c);
    os << '\n';
  }
  return os;
}
