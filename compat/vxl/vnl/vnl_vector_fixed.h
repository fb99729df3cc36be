// vnl_vector_fixed<T, N>: a numeric vector whose size is part of its type, with VXL's interface.
#pragma once

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <ostream>
#include <type_traits>

#include <vnl/vnl_vector.h>

template <class T, unsigned int N>
class vnl_vector_fixed {
  static_assert(N > 0, "vnl_vector_fixed needs at least one element");

 public:
  using element_type = T;
  using iterator = T*;
  using const_iterator = const T*;
  using abs_t = typename vnl_vector<T>::abs_t;

  // Zero-filled: VXL leaves the elements undefined, and nothing may rely on that.
  vnl_vector_fixed() = default;
  explicit vnl_vector_fixed(const T& v) { fill(v); }
  explicit vnl_vector_fixed(const T* values) { copy_in(values); }
  vnl_vector_fixed(const T& x, const T& y) requires(N == 2) : data_{x, y} {}
  vnl_vector_fixed(const T& x, const T& y, const T& z) requires(N == 3) : data_{x, y, z} {}
  vnl_vector_fixed(const T& x, const T& y, const T& z, const T& w) requires(N == 4) : data_{x, y, z, w} {}
  vnl_vector_fixed(const vnl_vector<T>& v) {
    assert(v.size() == N);
    std::copy(v.begin(), v.begin() + std::min<size_t>(N, v.size()), data_);
  }
  vnl_vector_fixed& operator=(const vnl_vector<T>& v) { return *this = vnl_vector_fixed(v); }

  static constexpr size_t size() { return N; }

  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  T& operator()(size_t i) { assert(i < N); return data_[i]; }
  const T& operator()(size_t i) const { assert(i < N); return data_[i]; }
  T get(size_t i) const { assert(i < N); return data_[i]; }
  void put(size_t i, const T& v) { assert(i < N); data_[i] = v; }

  T* data_block() { return data_; }
  const T* data_block() const { return data_; }
  iterator begin() { return data_; }
  iterator end() { return data_ + N; }
  const_iterator begin() const { return data_; }
  const_iterator end() const { return data_ + N; }

  T& x() requires(N >= 1) { return data_[0]; }
  T& y() requires(N >= 2) { return data_[1]; }
  T& z() requires(N >= 3) { return data_[2]; }
  T& t() requires(N >= 4) { return data_[3]; }
  const T& x() const requires(N >= 1) { return data_[0]; }
  const T& y() const requires(N >= 2) { return data_[1]; }
  const T& z() const requires(N >= 3) { return data_[2]; }
  const T& t() const requires(N >= 4) { return data_[3]; }

  vnl_vector_fixed& fill(const T& v) { std::fill(data_, data_ + N, v); return *this; }
  vnl_vector_fixed& copy_in(const T* p) { std::copy(p, p + N, data_); return *this; }
  vnl_vector_fixed& set(const T* p) { return copy_in(p); }
  void copy_out(T* p) const { std::copy(data_, data_ + N, p); }

  vnl_vector<T> as_vector() const { return vnl_vector<T>(data_, N); }
  vnl_vector<T> as_ref() const { return as_vector(); }
  operator vnl_vector<T>() const { return as_vector(); }

  vnl_vector_fixed& operator+=(const T& s) { for (T& v : data_) v += s; return *this; }
  vnl_vector_fixed& operator-=(const T& s) { for (T& v : data_) v -= s; return *this; }
  vnl_vector_fixed& operator*=(const T& s) { for (T& v : data_) v *= s; return *this; }
  vnl_vector_fixed& operator/=(const T& s) { for (T& v : data_) v /= s; return *this; }
  vnl_vector_fixed& operator+=(const vnl_vector_fixed& o) { for (size_t i = 0; i < N; ++i) data_[i] += o.data_[i]; return *this; }
  vnl_vector_fixed& operator-=(const vnl_vector_fixed& o) { for (size_t i = 0; i < N; ++i) data_[i] -= o.data_[i]; return *this; }
  vnl_vector_fixed operator-() const { vnl_vector_fixed r; for (size_t i = 0; i < N; ++i) r.data_[i] = -data_[i]; return r; }
  const vnl_vector_fixed& operator+() const { return *this; }

  T squared_magnitude() const { T s(0); for (const T& v : data_) s += v * v; return s; }
  abs_t magnitude() const { return std::sqrt(squared_magnitude()); }
  abs_t two_norm() const { return magnitude(); }
  abs_t one_norm() const { abs_t s(0); for (const T& v : data_) s += std::abs(v); return s; }
  abs_t inf_norm() const { abs_t m(0); for (const T& v : data_) m = std::max(m, abs_t(std::abs(v))); return m; }
  abs_t rms() const { return std::sqrt(squared_magnitude() / abs_t(N)); }
  // Leaves a zero vector unchanged instead of filling it with NaN.
  vnl_vector_fixed& normalize() {
    const abs_t m = magnitude();
    if (m != abs_t(0)) *this /= T(m);
    return *this;
  }

  T sum() const { T s(0); for (const T& v : data_) s += v; return s; }
  T mean() const { return sum() / T(N); }
  T min_value() const { return *std::min_element(data_, data_ + N); }
  T max_value() const { return *std::max_element(data_, data_ + N); }
  size_t arg_min() const { return size_t(std::min_element(data_, data_ + N) - data_); }
  size_t arg_max() const { return size_t(std::max_element(data_, data_ + N) - data_); }
  bool is_zero() const { for (const T& v : data_) if (v != T(0)) return false; return true; }
  bool is_finite() const { for (const T& v : data_) if (!std::isfinite(v)) return false; return true; }

  vnl_vector<T> extract(size_t len, size_t start = 0) const {
    assert(start + len <= N);
    return vnl_vector<T>(data_ + start, len);
  }
  vnl_vector_fixed& update(const vnl_vector<T>& v, size_t start = 0) {
    assert(start + v.size() <= N);
    std::copy(v.begin(), v.end(), data_ + start);
    return *this;
  }

  bool operator==(const vnl_vector_fixed& o) const { return std::equal(data_, data_ + N, o.data_); }
  bool operator!=(const vnl_vector_fixed& o) const { return !(*this == o); }

 private:
  T data_[N] = {};
};

template <class T, unsigned N>
vnl_vector_fixed<T, N> operator+(vnl_vector_fixed<T, N> a, const vnl_vector_fixed<T, N>& b) { return a += b; }
template <class T, unsigned N>
vnl_vector_fixed<T, N> operator-(vnl_vector_fixed<T, N> a, const vnl_vector_fixed<T, N>& b) { return a -= b; }
template <class T, unsigned N>
vnl_vector_fixed<T, N> operator+(vnl_vector_fixed<T, N> a, const std::type_identity_t<T>& s) { return a += s; }
template <class T, unsigned N>
vnl_vector_fixed<T, N> operator-(vnl_vector_fixed<T, N> a, const std::type_identity_t<T>& s) { return a -= s; }
template <class T, unsigned N>
vnl_vector_fixed<T, N> operator*(vnl_vector_fixed<T, N> a, const std::type_identity_t<T>& s) { return a *= s; }
template <class T, unsigned N>
vnl_vector_fixed<T, N> operator/(vnl_vector_fixed<T, N> a, const std::type_identity_t<T>& s) { return a /= s; }
template <class T, unsigned N>
vnl_vector_fixed<T, N> operator+(const std::type_identity_t<T>& s, vnl_vector_fixed<T, N> a) { return a += s; }
template <class T, unsigned N>
vnl_vector_fixed<T, N> operator*(const std::type_identity_t<T>& s, vnl_vector_fixed<T, N> a) { return a *= s; }
template <class T, unsigned N>
vnl_vector_fixed<T, N> operator-(const std::type_identity_t<T>& s, const vnl_vector_fixed<T, N>& a) { return -a + s; }

template <class T, unsigned N>
T dot_product(const vnl_vector_fixed<T, N>& a, const vnl_vector_fixed<T, N>& b) {
  T s(0);
  for (size_t i = 0; i < N; ++i) s += a[i] * b[i];
  return s;
}
template <class T, unsigned N>
T inner_product(const vnl_vector_fixed<T, N>& a, const vnl_vector_fixed<T, N>& b) { return dot_product(a, b); }

template <class T, unsigned N>
vnl_vector_fixed<T, N> element_product(const vnl_vector_fixed<T, N>& a, const vnl_vector_fixed<T, N>& b) {
  vnl_vector_fixed<T, N> r;
  for (size_t i = 0; i < N; ++i) r[i] = a[i] * b[i];
  return r;
}
template <class T, unsigned N>
vnl_vector_fixed<T, N> element_quotient(const vnl_vector_fixed<T, N>& a, const vnl_vector_fixed<T, N>& b) {
  vnl_vector_fixed<T, N> r;
  for (size_t i = 0; i < N; ++i) r[i] = a[i] / b[i];
  return r;
}

// Right-handed: e_x cross e_y = e_z.
template <class T>
vnl_vector_fixed<T, 3> vnl_cross_3d(const vnl_vector_fixed<T, 3>& a, const vnl_vector_fixed<T, 3>& b) {
  return vnl_vector_fixed<T, 3>(a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]);
}

template <class T, unsigned N>
std::ostream& operator<<(std::ostream& os, const vnl_vector_fixed<T, N>& v) {
  for (size_t i = 0; i < N; ++i) os << (i ? " " : "") << v[i];
  return os;
}
