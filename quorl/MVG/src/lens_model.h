#pragma once
// The library's one lens model, in the precision of the caller (double for
// CCamera, float for MVG::Camera). d holds k1, k2, p1, p2, k3.
#include <cstddef>
#include <vector>

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

// Undistortion map of a W x H image (no skew term, as both camera forms
// build it), in the precision of T. x depends on the column only, so there is
// one division per column; the source positions of a row are computed first,
// in a loop free of branches that the compiler vectorises, then turned into
// entries.
template <class T>
void BuildUndistortionMap(T fx, T fy, T u0, T v0, const T* d, int W, int H, int channels, int* map) {
  if (W <= 0 || H <= 0) return;
  std::vector<T> xs(static_cast<size_t>(W)), us(xs.size()), vs(xs.size());
  for (int col = 0; col < W; ++col) xs[col] = (static_cast<T>(col) - u0) / fx;
  for (int row = 0; row < H; ++row) {
    const T y = (static_cast<T>(row) - v0) / fy;
    for (int col = 0; col < W; ++col) {
      T xd, yd;
      Distort(xs[col], y, d, &xd, &yd);
      us[col] = fx * xd + u0;
      vs[col] = fy * yd + v0;
    }
    for (int col = 0; col < W; ++col, map += 5) SetMapEntry(map, us[col], vs[col], W, H, channels);
  }
}

}  // namespace quorl::lens
