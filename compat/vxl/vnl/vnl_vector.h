// vnl_vector<T>: a dynamically sized numeric vector with VXL's interface.
#pragma once

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <ostream>
#include <type_traits>
#include <vector>

template <class T> class vnl_matrix;

template <class T>
class vnl_vector {
 public:
  using element_type = T;
  using iterator = T*;
  using const_iterator = const T*;
  using abs_t = decltype(std::abs(T()));

  vnl_vector() = default;
  explicit vnl_vector(size_t n) : data_(n, T(0)) {}
  vnl_vector(size_t n, const T& value) : data_(n, value) {}
  vnl_vector(size_t n, size_t count, const T values[]) : data_(n, T(0)) {
    std::copy(values, values + std::min(n, count), data_.begin());
  }
  vnl_vector(const T* values, size_t n) : data_(values, values + n) {}
  vnl_vector(std::initializer_list<T> values) : data_(values) {}

  size_t size() const { return data_.size(); }
  bool empty() const { return data_.empty(); }
  // Resizing discards the old contents, as VXL's does.
  bool set_size(size_t n) {
    if (n == data_.size()) return false;
    data_.assign(n, T(0));
    return true;
  }
  void clear() { data_.clear(); }

  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  T& operator()(size_t i) { assert(i < size()); return data_[i]; }
  const T& operator()(size_t i) const { assert(i < size()); return data_[i]; }
  T get(size_t i) const { assert(i < size()); return data_[i]; }
  void put(size_t i, const T& v) { assert(i < size()); data_[i] = v; }

  T* data_block() { return data_.data(); }
  const T* data_block() const { return data_.data(); }
  iterator begin() { return data_.data(); }
  iterator end() { return data_.data() + data_.size(); }
  const_iterator begin() const { return data_.data(); }
  const_iterator end() const { return data_.data() + data_.size(); }

  vnl_vector& fill(const T& v) { std::fill(data_.begin(), data_.end(), v); return *this; }
  vnl_vector& copy_in(const T* p) { std::copy(p, p + size(), data_.begin()); return *this; }
  vnl_vector& set(const T* p) { return copy_in(p); }
  void copy_out(T* p) const { std::copy(data_.begin(), data_.end(), p); }

  vnl_vector& operator+=(const T& s) { for (T& v : data_) v += s; return *this; }
  vnl_vector& operator-=(const T& s) { for (T& v : data_) v -= s; return *this; }
  vnl_vector& operator*=(const T& s) { for (T& v : data_) v *= s; return *this; }
  vnl_vector& operator/=(const T& s) { for (T& v : data_) v /= s; return *this; }
  vnl_vector& operator+=(const vnl_vector& o) {
    assert(o.size() == size());
    for (size_t i = 0; i < size(); ++i) data_[i] += o.data_[i];
    return *this;
  }
  vnl_vector& operator-=(const vnl_vector& o) {
    assert(o.size() == size());
    for (size_t i = 0; i < size(); ++i) data_[i] -= o.data_[i];
    return *this;
  }
  vnl_vector operator-() const { vnl_vector r(*this); for (T& v : r.data_) v = -v; return r; }
  const vnl_vector& operator+() const { return *this; }

  T squared_magnitude() const { T s(0); for (const T& v : data_) s += v * v; return s; }
  abs_t magnitude() const { return std::sqrt(squared_magnitude()); }
  abs_t two_norm() const { return magnitude(); }
  abs_t one_norm() const { abs_t s(0); for (const T& v : data_) s += std::abs(v); return s; }
  abs_t inf_norm() const { abs_t m(0); for (const T& v : data_) m = std::max(m, abs_t(std::abs(v))); return m; }
  // Root of the mean square, VXL's definition: sqrt(sum v^2 / n).
  abs_t rms() const { return empty() ? abs_t(0) : std::sqrt(squared_magnitude() / abs_t(size())); }
  // Leaves a zero vector unchanged instead of filling it with NaN.
  vnl_vector& normalize() {
    const abs_t m = magnitude();
    if (m != abs_t(0)) *this /= T(m);
    return *this;
  }

  T sum() const { T s(0); for (const T& v : data_) s += v; return s; }
  T mean() const { return empty() ? T(0) : sum() / T(size()); }
  T min_value() const { return *std::min_element(data_.begin(), data_.end()); }
  T max_value() const { return *std::max_element(data_.begin(), data_.end()); }
  size_t arg_min() const { return size_t(std::min_element(data_.begin(), data_.end()) - data_.begin()); }
  size_t arg_max() const { return size_t(std::max_element(data_.begin(), data_.end()) - data_.begin()); }
  bool is_zero() const { for (const T& v : data_) if (v != T(0)) return false; return true; }
  bool is_finite() const { for (const T& v : data_) if (!std::isfinite(v)) return false; return true; }

  vnl_vector extract(size_t len, size_t start = 0) const {
    assert(start + len <= size());
    return vnl_vector(data_.data() + start, len);
  }
  vnl_vector& update(const vnl_vector& v, size_t start = 0) {
    assert(start + v.size() <= size());
    std::copy(v.begin(), v.end(), data_.begin() + std::ptrdiff_t(start));
    return *this;
  }
  vnl_vector& flip() { std::reverse(data_.begin(), data_.end()); return *this; }

  bool operator==(const vnl_vector& o) const { return data_ == o.data_; }
  bool operator!=(const vnl_vector& o) const { return !(*this == o); }

  // Member forms VXL still carries (vector(0), (1), (2), (3)).
  T& x() { return data_[0]; }
  T& y() { return data_[1]; }
  T& z() { return data_[2]; }
  T& t() { return data_[3]; }
  const T& x() const { return data_[0]; }
  const T& y() const { return data_[1]; }
  const T& z() const { return data_[2]; }
  const T& t() const { return data_[3]; }

 private:
  std::vector<T> data_;
};

template <class T> vnl_vector<T> operator+(vnl_vector<T> a, const vnl_vector<T>& b) { return a += b; }
template <class T> vnl_vector<T> operator-(vnl_vector<T> a, const vnl_vector<T>& b) { return a -= b; }
template <class T> vnl_vector<T> operator+(vnl_vector<T> a, const std::type_identity_t<T>& s) { return a += s; }
template <class T> vnl_vector<T> operator-(vnl_vector<T> a, const std::type_identity_t<T>& s) { return a -= s; }
template <class T> vnl_vector<T> operator*(vnl_vector<T> a, const std::type_identity_t<T>& s) { return a *= s; }
template <class T> vnl_vector<T> operator/(vnl_vector<T> a, const std::type_identity_t<T>& s) { return a /= s; }
template <class T> vnl_vector<T> operator+(const std::type_identity_t<T>& s, vnl_vector<T> a) { return a += s; }
template <class T> vnl_vector<T> operator*(const std::type_identity_t<T>& s, vnl_vector<T> a) { return a *= s; }
template <class T> vnl_vector<T> operator-(const std::type_identity_t<T>& s, const vnl_vector<T>& a) { return -a + s; }

template <class T>
T dot_product(const vnl_vector<T>& a, const vnl_vector<T>& b) {
  assert(a.size() == b.size());
  T s(0);
  for (size_t i = 0; i < a.size(); ++i) s += a[i] * b[i];
  return s;
}
template <class T>
T inner_product(const vnl_vector<T>& a, const vnl_vector<T>& b) { return dot_product(a, b); }

template <class T>
vnl_vector<T> element_product(const vnl_vector<T>& a, const vnl_vector<T>& b) {
  assert(a.size() == b.size());
  vnl_vector<T> r(a.size());
  for (size_t i = 0; i < a.size(); ++i) r[i] = a[i] * b[i];
  return r;
}
template <class T>
vnl_vector<T> element_quotient(const vnl_vector<T>& a, const vnl_vector<T>& b) {
  assert(a.size() == b.size());
  vnl_vector<T> r(a.size());
  for (size_t i = 0; i < a.size(); ++i) r[i] = a[i] / b[i];
  return r;
}

template <class T>
typename vnl_vector<T>::abs_t vnl_vector_ssd(const vnl_vector<T>& a, const vnl_vector<T>& b) {
  return (a - b).squared_magnitude();
}

template <class T>
std::ostream& operator<<(std::ostream& os, const vnl_vector<T>& v) {
  for (size_t i = 0; i < v.size(); ++i) os << (i ? " " : "") << v[i];
  return os;
}
