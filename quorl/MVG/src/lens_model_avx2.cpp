// The undistortion map's rows on AVX2 (eight floats or four doubles a step).
// This file alone is compiled with -mavx2 (and without -mfma, so no multiply
// and add is fused: every lane rounds as the scalar code does). It uses none
// of lens_model.h's inline functions, so no AVX2 copy of them can stand in
// for the plain one elsewhere; BuildUndistortionMap calls it only when the
// processor has AVX2.
#include <immintrin.h>

#include <cstddef>

#include "lens_model.h"

namespace {

// Four entries (offset, then the four weights, one vector per field) to
// their five-int places.
inline void Store4(int* e, __m128i e0, __m128i e1, __m128i e2, __m128i e3, __m128i e4) {
  const __m128i t0 = _mm_unpacklo_epi32(e0, e1), t1 = _mm_unpacklo_epi32(e2, e3);
  const __m128i t2 = _mm_unpackhi_epi32(e0, e1), t3 = _mm_unpackhi_epi32(e2, e3);
  const __m128i p0 = _mm_unpacklo_epi64(t0, t1), p1 = _mm_unpackhi_epi64(t0, t1);
  const __m128i p2 = _mm_unpacklo_epi64(t2, t3), p3 = _mm_unpackhi_epi64(t2, t3);
  // Pixel k's five fields start at int 5k: [p0 | e4_0 p1_0..2 | p1_3 e4_1 p2_0..1 | p2_2..3 e4_2 p3_0 | p3_1..3 e4_3].
  const __m128i lane1 = _mm_set_epi32(0, 0, -1, 0), lane2 = _mm_set_epi32(0, -1, 0, 0), lane3 = _mm_set_epi32(-1, 0, 0, 0);
  const __m128i o1 = _mm_blend_epi32(_mm_slli_si128(p1, 4), e4, 0x1);
  const __m128i o2 = _mm_unpacklo_epi64(_mm_or_si128(_mm_srli_si128(p1, 12), _mm_and_si128(e4, lane1)), p2);
  const __m128i o3 = _mm_or_si128(_mm_or_si128(_mm_srli_si128(p2, 8), _mm_and_si128(e4, lane2)), _mm_slli_si128(p3, 12));
  const __m128i o4 = _mm_or_si128(_mm_srli_si128(p3, 4), _mm_and_si128(e4, lane3));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(e), p0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(e + 4), o1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(e + 8), o2);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(e + 12), o3);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(e + 16), o4);
}

}  // namespace

namespace quorl::lens::avx2 {

// Distort, operation for operation, except that the k3 term is left out
// when k3 is 0: adding a zero product leaves every finite radial factor as
// it was, and a position that is not finite gives a zero entry either way.
int UndistortionRow(float fx, float fy, float u0, float v0, const float* d, const float* xs, float y, int W, int H,
                    int channels, int* map) {
  const bool k3 = d[4] != 0.0f;
  const __m256 one = _mm256_set1_ps(1.0f), two = _mm256_set1_ps(2.0f), scale = _mm256_set1_ps(32768.0f);
  const __m256 zero = _mm256_setzero_ps();
  const __m256 vy = _mm256_set1_ps(y), yy = _mm256_mul_ps(vy, vy), tyy = _mm256_mul_ps(_mm256_mul_ps(two, vy), vy);
  const __m256 d0 = _mm256_set1_ps(d[0]), d1 = _mm256_set1_ps(d[1]), d2 = _mm256_set1_ps(d[2]);
  const __m256 d3 = _mm256_set1_ps(d[3]), d4 = _mm256_set1_ps(d[4]);
  const __m256 twoD2 = _mm256_set1_ps(2 * d[2]), twoD3 = _mm256_set1_ps(2 * d[3]);
  const __m256 vfx = _mm256_set1_ps(fx), vfy = _mm256_set1_ps(fy), vu0 = _mm256_set1_ps(u0), vv0 = _mm256_set1_ps(v0);
  const __m256 wm = _mm256_set1_ps(static_cast<float>(W - 1)), hm = _mm256_set1_ps(static_cast<float>(H - 1));
  const __m256i width = _mm256_set1_epi32(W), ch = _mm256_set1_epi32(channels);
  int col = 0;
  for (; col + 8 <= W; col += 8) {
    const __m256 x = _mm256_loadu_ps(xs + col);
    const __m256 s2 = _mm256_add_ps(_mm256_mul_ps(x, x), yy);
    __m256 radial = _mm256_add_ps(_mm256_add_ps(one, _mm256_mul_ps(d0, s2)), _mm256_mul_ps(_mm256_mul_ps(d1, s2), s2));
    if (k3) radial = _mm256_add_ps(radial, _mm256_mul_ps(_mm256_mul_ps(_mm256_mul_ps(d4, s2), s2), s2));
    const __m256 xd =
        _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(radial, x), _mm256_mul_ps(_mm256_mul_ps(twoD2, x), vy)),
                      _mm256_mul_ps(d3, _mm256_add_ps(s2, _mm256_mul_ps(_mm256_mul_ps(two, x), x))));
    const __m256 yd = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(radial, vy), _mm256_mul_ps(d2, _mm256_add_ps(s2, tyy))),
                                    _mm256_mul_ps(_mm256_mul_ps(twoD3, x), vy));
    const __m256 us = _mm256_add_ps(_mm256_mul_ps(vfx, xd), vu0), vs = _mm256_add_ps(_mm256_mul_ps(vfy, yd), vv0);
    // SetMapEntry: ordered compares (false for NaN); positions outside
    // become 0 before any conversion and their fields are cleared after.
    const __m256 insideF = _mm256_and_ps(_mm256_and_ps(_mm256_cmp_ps(us, zero, _CMP_GE_OQ), _mm256_cmp_ps(vs, zero, _CMP_GE_OQ)),
                                         _mm256_and_ps(_mm256_cmp_ps(us, wm, _CMP_LT_OQ), _mm256_cmp_ps(vs, hm, _CMP_LT_OQ)));
    const __m256i inside = _mm256_castps_si256(insideF);
    const __m256 u = _mm256_and_ps(us, insideF), v = _mm256_and_ps(vs, insideF);
    const __m256i xi = _mm256_cvttps_epi32(u), yi = _mm256_cvttps_epi32(v);
    const __m256 a = _mm256_sub_ps(u, _mm256_cvtepi32_ps(xi)), b = _mm256_sub_ps(v, _mm256_cvtepi32_ps(yi));
    const __m256 oneA = _mm256_sub_ps(one, a), oneB = _mm256_sub_ps(one, b);
    const __m256i e0 = _mm256_mullo_epi32(_mm256_add_epi32(xi, _mm256_mullo_epi32(yi, width)), ch);
    const __m256i e1 = _mm256_and_si256(_mm256_cvttps_epi32(_mm256_mul_ps(_mm256_mul_ps(oneB, oneA), scale)), inside);
    const __m256i e2 = _mm256_and_si256(_mm256_cvttps_epi32(_mm256_mul_ps(_mm256_mul_ps(oneA, b), scale)), inside);
    const __m256i e3 = _mm256_and_si256(_mm256_cvttps_epi32(_mm256_mul_ps(_mm256_mul_ps(oneB, a), scale)), inside);
    const __m256i e4 = _mm256_and_si256(_mm256_cvttps_epi32(_mm256_mul_ps(_mm256_mul_ps(b, a), scale)), inside);
    int* e = map + 5 * static_cast<size_t>(col);
    Store4(e, _mm256_castsi256_si128(e0), _mm256_castsi256_si128(e1), _mm256_castsi256_si128(e2),
           _mm256_castsi256_si128(e3), _mm256_castsi256_si128(e4));
    Store4(e + 20, _mm256_extracti128_si256(e0, 1), _mm256_extracti128_si256(e1, 1), _mm256_extracti128_si256(e2, 1),
           _mm256_extracti128_si256(e3, 1), _mm256_extracti128_si256(e4, 1));
  }
  return col;
}

int UndistortionRow(double fx, double fy, double u0, double v0, const double* d, const double* xs, double y, int W,
                    int H, int channels, int* map) {
  const bool k3 = d[4] != 0.0;
  const __m256d one = _mm256_set1_pd(1.0), two = _mm256_set1_pd(2.0), scale = _mm256_set1_pd(32768.0);
  const __m256d zero = _mm256_setzero_pd();
  const __m256d vy = _mm256_set1_pd(y), yy = _mm256_mul_pd(vy, vy), tyy = _mm256_mul_pd(_mm256_mul_pd(two, vy), vy);
  const __m256d d0 = _mm256_set1_pd(d[0]), d1 = _mm256_set1_pd(d[1]), d2 = _mm256_set1_pd(d[2]);
  const __m256d d3 = _mm256_set1_pd(d[3]), d4 = _mm256_set1_pd(d[4]);
  const __m256d twoD2 = _mm256_set1_pd(2 * d[2]), twoD3 = _mm256_set1_pd(2 * d[3]);
  const __m256d vfx = _mm256_set1_pd(fx), vfy = _mm256_set1_pd(fy), vu0 = _mm256_set1_pd(u0), vv0 = _mm256_set1_pd(v0);
  const __m256d wm = _mm256_set1_pd(static_cast<double>(W - 1)), hm = _mm256_set1_pd(static_cast<double>(H - 1));
  const __m128i width = _mm_set1_epi32(W), ch = _mm_set1_epi32(channels);
  // The low 32 bits of each 64-bit compare mask, as four int masks.
  const __m256i low = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
  int col = 0;
  for (; col + 4 <= W; col += 4) {
    const __m256d x = _mm256_loadu_pd(xs + col);
    const __m256d s2 = _mm256_add_pd(_mm256_mul_pd(x, x), yy);
    __m256d radial = _mm256_add_pd(_mm256_add_pd(one, _mm256_mul_pd(d0, s2)), _mm256_mul_pd(_mm256_mul_pd(d1, s2), s2));
    if (k3) radial = _mm256_add_pd(radial, _mm256_mul_pd(_mm256_mul_pd(_mm256_mul_pd(d4, s2), s2), s2));
    const __m256d xd =
        _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(radial, x), _mm256_mul_pd(_mm256_mul_pd(twoD2, x), vy)),
                      _mm256_mul_pd(d3, _mm256_add_pd(s2, _mm256_mul_pd(_mm256_mul_pd(two, x), x))));
    const __m256d yd = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(radial, vy), _mm256_mul_pd(d2, _mm256_add_pd(s2, tyy))),
                                     _mm256_mul_pd(_mm256_mul_pd(twoD3, x), vy));
    const __m256d us = _mm256_add_pd(_mm256_mul_pd(vfx, xd), vu0), vs = _mm256_add_pd(_mm256_mul_pd(vfy, yd), vv0);
    const __m256d insideD = _mm256_and_pd(_mm256_and_pd(_mm256_cmp_pd(us, zero, _CMP_GE_OQ), _mm256_cmp_pd(vs, zero, _CMP_GE_OQ)),
                                          _mm256_and_pd(_mm256_cmp_pd(us, wm, _CMP_LT_OQ), _mm256_cmp_pd(vs, hm, _CMP_LT_OQ)));
    const __m128i inside = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(_mm256_castpd_si256(insideD), low));
    const __m256d u = _mm256_and_pd(us, insideD), v = _mm256_and_pd(vs, insideD);
    const __m128i xi = _mm256_cvttpd_epi32(u), yi = _mm256_cvttpd_epi32(v);
    const __m256d a = _mm256_sub_pd(u, _mm256_cvtepi32_pd(xi)), b = _mm256_sub_pd(v, _mm256_cvtepi32_pd(yi));
    const __m256d oneA = _mm256_sub_pd(one, a), oneB = _mm256_sub_pd(one, b);
    const __m128i e0 = _mm_mullo_epi32(_mm_add_epi32(xi, _mm_mullo_epi32(yi, width)), ch);
    const __m128i e1 = _mm_and_si128(_mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_mul_pd(oneB, oneA), scale)), inside);
    const __m128i e2 = _mm_and_si128(_mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_mul_pd(oneA, b), scale)), inside);
    const __m128i e3 = _mm_and_si128(_mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_mul_pd(oneB, a), scale)), inside);
    const __m128i e4 = _mm_and_si128(_mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_mul_pd(b, a), scale)), inside);
    Store4(map + 5 * static_cast<size_t>(col), e0, e1, e2, e3, e4);
  }
  return col;
}

}  // namespace quorl::lens::avx2
