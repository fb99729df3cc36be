#pragma once
// The library's one lens model, in the precision of the caller (double for
// CCamera, float for MVG::Camera). d holds k1, k2, p1, p2, k3.
#include <cstddef>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorl::lens {

template <class T>
inline void Distort(T x, T y, const T* d, T* xd, T* yd) {
  const T s2 = x * x + y * y;
  const T radial = 1 + d[0] * s2 + d[1] * s2 * s2 + d[4] * s2 * s2 * s2;
  *xd = radial * x + 2 * d[2] * x * y + d[3] * (s2 + 2 * x * x);
  *yd = radial * y + d[2] * (s2 + 2 * y * y) + 2 * d[3] * x * y;
}

// Inverts Distort by exactly 20 fixed-point rounds, with no convergence test:
// the result must not depend on where a test would have stopped.
template <class T>
inline void Undistort(T xd, T yd, const T* d, T* x, T* y) {
  T px = xd, py = yd;
  for (int round = 0; round < 20; ++round) {
    const T s2 = px * px + py * py;
    const T radial = 1 + d[0] * s2 + d[1] * s2 * s2 + d[4] * s2 * s2 * s2;
    const T nx = (xd - (d[3] * (2 * px * px + s2) + 2 * d[2] * px * py)) / radial;
    const T ny = (yd - (d[2] * (2 * py * py + s2) + 2 * d[3] * px * py)) / radial;
    px = nx;
    py = ny;
  }
  *x = px;
  *y = py;
}

// One warp-map entry for source position (us, vs) in a W x H image: offset of
// the top-left sample in units of `channels` bytes per pixel, then the four
// bilinear weights times 32768, truncated. Five zeros unless all four samples
// lie inside. The test runs on the reals, so a huge or NaN position never
// reaches an int conversion.
template <class T>
inline void SetMapEntry(int* e, T us, T vs, int W, int H, int channels) {
  if (!(us >= 0 && vs >= 0 && us < T(W - 1) && vs < T(H - 1))) {
    e[0] = e[1] = e[2] = e[3] = e[4] = 0;
    return;
  }
  const int xi = static_cast<int>(us);  // us >= 0, so this is the floor
  const int yi = static_cast<int>(vs);
  const T a = us - T(xi);
  const T b = vs - T(yi);
  e[0] = (xi + yi * W) * channels;
  e[1] = static_cast<int>((1 - b) * (1 - a) * 32768);
  e[2] = static_cast<int>((1 - a) * b * 32768);
  e[3] = static_cast<int>((1 - b) * a * 32768);
  e[4] = static_cast<int>(b * a * 32768);
}

// The AVX2 rows (lens_model_avx2.cpp): the vector columns of one row, the
// count done returned. xs: each column's normalised x.
namespace avx2 {
int UndistortionRow(float fx, float fy, float u0, float v0, const float* d, const float* xs, float y, int W, int H,
                    int channels, int* map);
int UndistortionRow(double fx, double fy, double u0, double v0, const double* d, const double* xs, double y, int W,
                    int H, int channels, int* map);
}  // namespace avx2

inline bool HasAvx2() {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
#else
  return false;
#endif
}

// Set by tests to hold the SSE2 road to the reference on an AVX2 machine.
inline bool& Sse2RowsForTesting() {
  static bool only = false;
  return only;
}

inline bool UseAvx2Rows() { return HasAvx2() && !Sse2RowsForTesting(); }

// One row of the undistortion map, entry by entry: the reference the
// vector road below must match bit for bit. ys is the row's normalised y.
template <class T>
inline void UndistortionRowScalar(T fx, T fy, T u0, T v0, const T* d, const T* xs, T y, int first, int W, int H,
                                  int channels, int* map) {
  for (int col = first; col < W; ++col) {
    T xd, yd;
    Distort(xs[col], y, d, &xd, &yd);
    SetMapEntry(map + 5 * static_cast<size_t>(col), fx * xd + u0, fy * yd + v0, W, H, channels);
  }
}

#if defined(__SSE2__)
namespace simd {

// SSE2 has no 32-bit low multiply; the two even/odd 32 x 32 -> 64 products
// give the same low halves.
inline __m128i MulLo(__m128i a, __m128i b) {
  const __m128i even = _mm_mul_epu32(a, b);
  const __m128i odd = _mm_mul_epu32(_mm_srli_si128(a, 4), _mm_srli_si128(b, 4));
  return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                            _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}

// Four entries (offset, then the four weights, one vector per field) to
// their five-int places: each pixel's first four fields in one store, its
// fifth after it.
inline void StoreEntries(int* e, __m128i e0, __m128i e1, __m128i e2, __m128i e3, __m128i e4) {
  const __m128i t0 = _mm_unpacklo_epi32(e0, e1), t1 = _mm_unpacklo_epi32(e2, e3);
  const __m128i t2 = _mm_unpackhi_epi32(e0, e1), t3 = _mm_unpackhi_epi32(e2, e3);
  alignas(16) int last[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(last), e4);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(e), _mm_unpacklo_epi64(t0, t1));
  e[4] = last[0];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(e + 5), _mm_unpackhi_epi64(t0, t1));
  e[9] = last[1];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(e + 10), _mm_unpacklo_epi64(t2, t3));
  e[14] = last[2];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(e + 15), _mm_unpackhi_epi64(t2, t3));
  e[19] = last[3];
}

// The float and double lanes behind one interface. Each operation is the
// IEEE operation the scalar code performs, in the scalar code's order, so
// the lanes round exactly as Distort and SetMapEntry do.
struct Float4 {
  using V = __m128;
  static constexpr int kLanes = 4;
  static V Set(float v) { return _mm_set1_ps(v); }
  static V Load(const float* p) { return _mm_loadu_ps(p); }
  static V Add(V a, V b) { return _mm_add_ps(a, b); }
  static V Sub(V a, V b) { return _mm_sub_ps(a, b); }
  static V Mul(V a, V b) { return _mm_mul_ps(a, b); }
  // a >= 0 && b >= 0 && a < wm && b < hm as an all-ones mask; false for NaN.
  static __m128i Inside(V a, V b, V wm, V hm) {
    const V zero = _mm_setzero_ps();
    return _mm_castps_si128(_mm_and_ps(_mm_and_ps(_mm_cmpge_ps(a, zero), _mm_cmpge_ps(b, zero)),
                                       _mm_and_ps(_mm_cmplt_ps(a, wm), _mm_cmplt_ps(b, hm))));
  }
  static V Keep(V a, __m128i mask) { return _mm_and_ps(a, _mm_castsi128_ps(mask)); }
  static __m128i Truncate(V a) { return _mm_cvttps_epi32(a); }
  static V FromInt(__m128i i) { return _mm_cvtepi32_ps(i); }
};

struct Double2x2 {
  // Four doubles as two halves; ints come back as one vector of four.
  struct V {
    __m128d lo, hi;
  };
  static constexpr int kLanes = 4;
  static V Set(double v) { return {_mm_set1_pd(v), _mm_set1_pd(v)}; }
  static V Load(const double* p) { return {_mm_loadu_pd(p), _mm_loadu_pd(p + 2)}; }
  static V Add(V a, V b) { return {_mm_add_pd(a.lo, b.lo), _mm_add_pd(a.hi, b.hi)}; }
  static V Sub(V a, V b) { return {_mm_sub_pd(a.lo, b.lo), _mm_sub_pd(a.hi, b.hi)}; }
  static V Mul(V a, V b) { return {_mm_mul_pd(a.lo, b.lo), _mm_mul_pd(a.hi, b.hi)}; }
  static __m128i Pack(__m128d lo, __m128d hi) {
    // Each compare gives two 64-bit masks; keep one 32-bit half of each.
    return _mm_unpacklo_epi64(_mm_shuffle_epi32(_mm_castpd_si128(lo), _MM_SHUFFLE(3, 3, 2, 0)),
                              _mm_shuffle_epi32(_mm_castpd_si128(hi), _MM_SHUFFLE(3, 3, 2, 0)));
  }
  static __m128d Half(__m128d a, __m128d b, __m128d wm, __m128d hm) {
    const __m128d zero = _mm_setzero_pd();
    return _mm_and_pd(_mm_and_pd(_mm_cmpge_pd(a, zero), _mm_cmpge_pd(b, zero)),
                      _mm_and_pd(_mm_cmplt_pd(a, wm), _mm_cmplt_pd(b, hm)));
  }
  static __m128i Inside(V a, V b, V wm, V hm) {
    return Pack(Half(a.lo, b.lo, wm.lo, hm.lo), Half(a.hi, b.hi, wm.hi, hm.hi));
  }
  static V Keep(V a, __m128i mask) {
    const __m128i lo = _mm_unpacklo_epi32(mask, mask), hi = _mm_unpackhi_epi32(mask, mask);
    return {_mm_and_pd(a.lo, _mm_castsi128_pd(lo)), _mm_and_pd(a.hi, _mm_castsi128_pd(hi))};
  }
  static __m128i Truncate(V a) { return _mm_unpacklo_epi64(_mm_cvttpd_epi32(a.lo), _mm_cvttpd_epi32(a.hi)); }
  static V FromInt(__m128i i) { return {_mm_cvtepi32_pd(i), _mm_cvtepi32_pd(_mm_srli_si128(i, 8))}; }
};

template <class L, class T>
inline int UndistortionRow(T fx, T fy, T u0, T v0, const T* d, const T* xs, T y, int W, int H, int channels,
                           int* map) {
  using V = typename L::V;
  const V one = L::Set(1), two = L::Set(2), scale = L::Set(32768);
  const V vy = L::Set(y), yy = L::Mul(vy, vy);
  const V d0 = L::Set(d[0]), d1 = L::Set(d[1]), d3 = L::Set(d[3]), d4 = L::Set(d[4]);
  const V twoD2 = L::Set(2 * d[2]), twoD3 = L::Set(2 * d[3]), d2 = L::Set(d[2]);
  const V tyy = L::Mul(L::Mul(two, vy), vy);
  const V vfx = L::Set(fx), vfy = L::Set(fy), vu0 = L::Set(u0), vv0 = L::Set(v0);
  const V wm = L::Set(T(W - 1)), hm = L::Set(T(H - 1));
  const __m128i width = _mm_set1_epi32(W), ch = _mm_set1_epi32(channels);
  int col = 0;
  for (; col + L::kLanes <= W; col += L::kLanes) {
    const V x = L::Load(xs + col);
    // Distort, operation for operation.
    const V s2 = L::Add(L::Mul(x, x), yy);
    const V radial = L::Add(L::Add(L::Add(one, L::Mul(d0, s2)), L::Mul(L::Mul(d1, s2), s2)),
                            L::Mul(L::Mul(L::Mul(d4, s2), s2), s2));
    const V xd = L::Add(L::Add(L::Mul(radial, x), L::Mul(L::Mul(twoD2, x), vy)),
                        L::Mul(d3, L::Add(s2, L::Mul(L::Mul(two, x), x))));
    const V yd = L::Add(L::Add(L::Mul(radial, vy), L::Mul(d2, L::Add(s2, tyy))), L::Mul(L::Mul(twoD3, x), vy));
    const V us = L::Add(L::Mul(vfx, xd), vu0), vs = L::Add(L::Mul(vfy, yd), vv0);
    // SetMapEntry: positions outside become 0 before any conversion, and
    // their fields are cleared after.
    const __m128i inside = L::Inside(us, vs, wm, hm);
    const V u = L::Keep(us, inside), v = L::Keep(vs, inside);
    const __m128i xi = L::Truncate(u), yi = L::Truncate(v);
    const V a = L::Sub(u, L::FromInt(xi)), b = L::Sub(v, L::FromInt(yi));
    const V oneA = L::Sub(one, a), oneB = L::Sub(one, b);
    const __m128i e0 = MulLo(_mm_add_epi32(xi, MulLo(yi, width)), ch);
    const __m128i e1 = _mm_and_si128(L::Truncate(L::Mul(L::Mul(oneB, oneA), scale)), inside);
    const __m128i e2 = _mm_and_si128(L::Truncate(L::Mul(L::Mul(oneA, b), scale)), inside);
    const __m128i e3 = _mm_and_si128(L::Truncate(L::Mul(L::Mul(oneB, a), scale)), inside);
    const __m128i e4 = _mm_and_si128(L::Truncate(L::Mul(L::Mul(b, a), scale)), inside);
    StoreEntries(map + 5 * static_cast<size_t>(col), e0, e1, e2, e3, e4);
  }
  return col;
}

template <class T>
struct Lanes;
template <>
struct Lanes<float> {
  using type = Float4;
};
template <>
struct Lanes<double> {
  using type = Double2x2;
};

}  // namespace simd
#endif

// Undistortion map of a W x H image (no skew term, as both camera forms
// build it), in the precision of T. x depends on the column only, so there is
// one division per column; each row then runs its columns through AVX2 where
// the processor has it, else four at a time through SSE2 (either way the
// scalar code's operations in its order, so the same bits), the last columns
// through the scalar code.
template <class T>
void BuildUndistortionMap(T fx, T fy, T u0, T v0, const T* d, int W, int H, int channels, int* map) {
  if (W <= 0 || H <= 0) return;
  std::vector<T> xs(static_cast<size_t>(W));
  for (int col = 0; col < W; ++col) xs[col] = (static_cast<T>(col) - u0) / fx;
  [[maybe_unused]] const bool avx2Rows = UseAvx2Rows();
  for (int row = 0; row < H; ++row, map += 5 * static_cast<size_t>(W)) {
    const T y = (static_cast<T>(row) - v0) / fy;
    int first = 0;
#if defined(__SSE2__)
    if (avx2Rows)
      first = avx2::UndistortionRow(fx, fy, u0, v0, d, xs.data(), y, W, H, channels, map);
    else
      first = simd::UndistortionRow<typename simd::Lanes<T>::type>(fx, fy, u0, v0, d, xs.data(), y, W, H, channels, map);
#endif
    UndistortionRowScalar(fx, fy, u0, v0, d, xs.data(), y, first, W, H, channels, map);
  }
}

// The same map entry by entry, without the vector road: the reference the
// tests hold the vector road to.
template <class T>
void BuildUndistortionMapScalar(T fx, T fy, T u0, T v0, const T* d, int W, int H, int channels, int* map) {
  if (W <= 0 || H <= 0) return;
  std::vector<T> xs(static_cast<size_t>(W));
  for (int col = 0; col < W; ++col) xs[col] = (static_cast<T>(col) - u0) / fx;
  for (int row = 0; row < H; ++row, map += 5 * static_cast<size_t>(W))
    UndistortionRowScalar(fx, fy, u0, v0, d, xs.data(), (static_cast<T>(row) - v0) / fy, 0, W, H, channels, map);
}

}  // namespace quorl::lens
